#pragma once

#include "OperatorScreen.h"

/// \brief The trend screen: four fixed trend charts, live or positioned at an entered time.
class FTrends final : public OperatorScreen {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FTrends)

public:
    FTrends(ScreenHost& host, WindowManager& manager);

protected:
    void onActivate() override;
};
