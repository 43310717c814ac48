#include "FCentral.h"

#include "OutletRules.h"
#include "QMSBar.h"
#include "QMSFill.h"
#include "QMSSwitch.h"
#include "ScreenHost.h"
#include "TopLevelError.h"

FCentral::FCentral(ScreenHost& host, WindowManager& manager)
    : OperatorScreen(host, manager, QStringLiteral("FCentral"), CommandPlantOverview,
                     {{CommandAlarms, "FAlarms", false},
                      {CommandTrends, "FTrends", false},
                      {CommandFreeTrends, "frmTrendSelection", false}})
{
}

void FCentral::onScreenLoad()
{
    host().setCurrentScreen(*this);
    wireOutletRules();
}

void FCentral::wireOutletRules()
{
    // Every input is read from its control when a rule runs, never kept.
    const auto fill = [this](const char* name) {
        return [this, name] { return QVariant(control<QMSFill>(QString::fromLatin1(name)).FillActive()); };
    };
    const OutletRules::Inputs inputs{
        [this] { return QVariant(control<QMSSwitch>(QStringLiteral("swtWaterValve")).SwitchState()); },
        [this] { return control<QMSBar>(QStringLiteral("barWaterLevel")).BarValue(); },
        fill("fllCondensation11"),
        fill("fllCondensation21"),
        fill("fllCondensation31"),
    };
    const auto rule = [this, inputs](std::int32_t (*apply)(const OutletRules::Inputs&)) {
        return [this, inputs, apply] {
            TopLevelError::guarded([&] {
                const std::int32_t outlet = apply(inputs);
                control<QMSFill>(QStringLiteral("fllWaterOut")).setFillActive(outlet);
            });
        };
    };
    connect(&control<QMSBar>(QStringLiteral("barWaterLevel")), &QMSBar::ValueChanged, this, rule(&OutletRules::levelRule));
    for (const char* segment : {"fllCondensation11", "fllCondensation21", "fllCondensation31"})
        connect(&control<QMSFill>(QString::fromLatin1(segment)), &QMSFill::ValueChanged, this, rule(&OutletRules::condensateRule));
    connect(&control<QMSSwitch>(QStringLiteral("swtWaterValve")), &QMSSwitch::StateChanged, this, rule(&OutletRules::valveRule));
}

void FCentral::onActivate()
{
    host().setCurrentScreen(*this);
    controlWidget(QStringLiteral("swtBoiler1")).setFocus();
}
