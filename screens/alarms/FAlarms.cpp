#include "FAlarms.h"

#include "ScreenHost.h"

FAlarms::FAlarms(ScreenHost& host, WindowManager& manager)
    : OperatorScreen(host, manager, QStringLiteral("FAlarms"), CommandAlarms,
                     {{CommandPlantOverview, "FCentral", true},
                      {CommandTrends, "FTrends", true},
                      // The alarm screen stays loaded under the free trends, so a return finds it as it was.
                      {CommandFreeTrends, "frmTrendSelection", false}})
{
}

void FAlarms::onScreenLoad()
{
    host().setCurrentScreen(*this);
}
