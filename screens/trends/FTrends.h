#pragma once

#include "OperatorScreen.h"

/// \brief The trend screen: four fixed trend charts, live or positioned at an entered time.
///
/// The screen keeps nothing of its own: the entered time lives in the five inputs, the charts' modes
/// in the charts. The charts' curve sets are fixed by the layout; their TrendSelectRequest goes unheard.
class FTrends final : public OperatorScreen {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FTrends)

public:
    FTrends(ScreenHost& host, WindowManager& manager);

protected:
    void onScreenLoad() override;
    void onActivate() override;

private:
    void QMKey1_Click();
    void QMKey2_Click();
};
