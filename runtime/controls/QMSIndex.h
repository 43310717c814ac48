#pragma once

#include "RuntimeControl.h"
#include "SingleLineText.h"
#include "TagBinding.h"

#include <QString>

/// \brief Language text label: a fixed text (text group and key), or a state text that shows the "on"
/// key while its process variable is on and the "off" key while it is off, always in the runtime's
/// current language.
///
/// A state text whose variable delivers no good value shows a dash in italics, greyed and flagged,
/// rather than claiming a state the plant may not be in.
class QMSIndex final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSIndex)
    Q_PROPERTY(QString textGroup READ TextGroup WRITE setTextGroup)
    Q_PROPERTY(QString textKey READ TextKey WRITE setTextKey)
    Q_PROPERTY(QString processVariable READ processVariable WRITE setProcessVariable)
    Q_PROPERTY(QString onKey READ onKey WRITE setOnKey)
    Q_PROPERTY(QString offKey READ offKey WRITE setOffKey)
    Q_PROPERTY(Qt::Alignment alignment READ alignment WRITE setAlignment)

public:
    QMSIndex(Runtime& runtime, QWidget* parent);

    QString TextGroup() const { return m_textGroup; }
    void setTextGroup(const QString& group);
    QString TextKey() const { return m_textKey; }
    void setTextKey(const QString& key);
    QString processVariable() const { return m_binding.name(); }
    void setProcessVariable(const QString& name);
    QString onKey() const { return m_onKey; }
    void setOnKey(const QString& key);
    QString offKey() const { return m_offKey; }
    void setOffKey(const QString& key);
    Qt::Alignment alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);

    /// What the label shows now.
    QString text() const { return m_shown; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    QString m_textGroup;
    QString m_textKey;
    QString m_onKey;
    QString m_offKey;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    QString m_shown;
    SingleLineText m_line;
    bool m_noValue = false;
    TagBinding m_binding;
};
