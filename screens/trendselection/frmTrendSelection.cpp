#include "frmTrendSelection.h"

#include "QMTrend.h"
#include "QMTrendLegend.h"
#include "ScreenHost.h"
#include "TopLevelError.h"

frmTrendSelection::frmTrendSelection(ScreenHost& host, WindowManager& manager)
    : OperatorScreen(host, manager, QStringLiteral("frmTrendSelection"), CommandFreeTrends,
                     {{CommandPlantOverview, "FCentral", true},
                      {CommandAlarms, "FAlarms", true},
                      {CommandTrends, "FTrends", true}})
{
}

void frmTrendSelection::onScreenLoad()
{
    connect(&control<QMTrend>(QStringLiteral("trdDummy")), &QMTrend::TrendSelectRequest, this,
            [this] { TopLevelError::guarded([this] { trdDummy_TrendSelectRequest(); }); });
    host().setCurrentScreen(*this);
    control<QMTrendLegend>(QStringLiteral("legTrends")).UpdateLegend();
}

void frmTrendSelection::trdDummy_TrendSelectRequest()
{
    // On OK the chooser has already brought chart and legend up to date.
    host().window(QStringLiteral("frmSelection")).showModal();
}
