#pragma once

#include "OperatorScreen.h"

/// \brief The free-trend screen: one chart whose curves the operator chooses, and its legend. A request
/// from the chart opens the trend chooser modally.
class frmTrendSelection final : public OperatorScreen {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmTrendSelection)

public:
    frmTrendSelection(ScreenHost& host, WindowManager& manager);

protected:
    void onScreenLoad() override;

private:
    void trdDummy_TrendSelectRequest();
};
