#include "frmTrendSelection.h"

#include "ScreenHost.h"

frmTrendSelection::frmTrendSelection(ScreenHost& host, WindowManager& manager)
    : OperatorScreen(host, manager, QStringLiteral("frmTrendSelection"), CommandFreeTrends,
                     {{CommandPlantOverview, "FCentral", true},
                      {CommandAlarms, "FAlarms", true},
                      {CommandTrends, "FTrends", true}})
{
}

void frmTrendSelection::onScreenLoad()
{
    host().setCurrentScreen(*this);
}
