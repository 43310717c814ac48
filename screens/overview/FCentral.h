#pragma once

#include "OperatorScreen.h"

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
};
