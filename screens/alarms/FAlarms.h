#pragma once

#include "OperatorScreen.h"

/// \brief The alarm screen: the two alarm lists with their acknowledge keys and the help pane.
class FAlarms final : public OperatorScreen {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FAlarms)

public:
    FAlarms(ScreenHost& host, WindowManager& manager);

protected:
    void onScreenLoad() override;
};
