#include "FTrends.h"

#include "ScreenHost.h"

FTrends::FTrends(ScreenHost& host, WindowManager& manager)
    : OperatorScreen(host, manager, QStringLiteral("FTrends"), CommandTrends,
                     {{CommandPlantOverview, "FCentral", true},
                      {CommandAlarms, "FAlarms", true},
                      {CommandFreeTrends, "frmTrendSelection", true}})
{
}

void FTrends::onActivate()
{
    host().setCurrentScreen(*this);
}
