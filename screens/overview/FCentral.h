#pragma once

#include "OperatorScreen.h"

#include <QPointer>

class QLabel;
class QTimer;

/// \brief The plant overview, the home screen: loaded at start-up and never unloaded while the
/// program runs; the other screens come and go in front of it.
class FCentral final : public OperatorScreen {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FCentral)

public:
    FCentral(ScreenHost& host, WindowManager& manager);

protected:
    void onScreenLoad() override;
    void onActivate() override;

private:
    void wireOutletRules();
    /// Tells the operator, without stopping anything, that a switch command did not reach the plant.
    void showWriteFailure(const QString& variable, const QString& reason);

    QPointer<QLabel> m_note;
    QTimer* m_noteTimer = nullptr;
};
