#pragma once

#include <QWidget>

class Runtime;

/// \brief A screen's language control. Its language is the runtime's: setting `LanguageId` switches
/// the runtime and with it every text control; a new one reads the runtime's current language.
class QMLanguage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMLanguage)

public:
    QMLanguage(Runtime& runtime, QWidget* parent);

    int LanguageId() const;
    void setLanguageId(qint16 languageId);

private:
    Runtime& m_runtime;
};
