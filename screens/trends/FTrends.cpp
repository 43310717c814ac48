#include "FTrends.h"

#include "DateBuild.h"
#include "KalvoraError.h"
#include "QMSKey.h"
#include "QMSVarIn.h"
#include "QMTrend.h"
#include "ScreenHost.h"
#include "WholeNumber.h"

#include <cstdint>

FTrends::FTrends(ScreenHost& host, WindowManager& manager)
    : OperatorScreen(host, manager, QStringLiteral("FTrends"), CommandTrends,
                     {{CommandPlantOverview, "FCentral", true},
                      {CommandAlarms, "FAlarms", true},
                      {CommandFreeTrends, "frmTrendSelection", true}})
{
}

void FTrends::onScreenLoad()
{
    control<QMSVarIn>(QStringLiteral("QMVarIn1")).setValue(QVariant::fromValue<qint16>(1));
    control<QMSVarIn>(QStringLiteral("QMVarIn2")).setValue(QVariant::fromValue<qint16>(6));
    control<QMSVarIn>(QStringLiteral("QMVarIn3")).setValue(QVariant::fromValue<qint16>(9));
    control<QMSVarIn>(QStringLiteral("QMVarIn4")).setValue(QVariant::fromValue<qint16>(0));
    control<QMSVarIn>(QStringLiteral("QMVarIn5")).setValue(QVariant::fromValue<qint16>(2002));
    connect(&control<QMSKey>(QStringLiteral("QMKey1")), &QMSKey::Click, this, &FTrends::QMKey1_Click);
    connect(&control<QMSKey>(QStringLiteral("QMKey2")), &QMSKey::Click, this, &FTrends::QMKey2_Click);
}

void FTrends::onActivate()
{
    host().setCurrentScreen(*this);
    controlWidget(QStringLiteral("QMKey1")).setFocus();
}

void FTrends::QMKey1_Click()
{
    const auto value = [this](const char* name) { return control<QMSVarIn>(QString::fromLatin1(name)).Value(); };
    const auto day = WholeNumber::to<std::uint8_t>(value("QMVarIn1"), QStringLiteral("FTrends: QMVarIn1.Value"));
    const auto month = WholeNumber::to<std::uint8_t>(value("QMVarIn2"), QStringLiteral("FTrends: QMVarIn2.Value"));
    const auto hour = WholeNumber::to<std::uint8_t>(value("QMVarIn3"), QStringLiteral("FTrends: QMVarIn3.Value"));
    const auto minute = WholeNumber::to<std::uint8_t>(value("QMVarIn4"), QStringLiteral("FTrends: QMVarIn4.Value"));
    const auto year = WholeNumber::to<std::int16_t>(value("QMVarIn5"), QStringLiteral("FTrends: QMVarIn5.Value"));
    const QDateTime t = DateBuild::dateTime(DateBuild::date(year, month, day), DateBuild::timeOfDaySeconds(hour, minute, 0));
    if (!t.isValid())
        throw KalvoraError(QStringLiteral("FTrends: %1-%2-%3 %4:%5 is no date and time").arg(year).arg(month).arg(day).arg(hour).arg(minute));
    // All four leave the present before any of them moves.
    for (const char* name : {"trdFuel", "trdWasser", "QMTrend3", "trdWaterTemp"})
        control<QMTrend>(QString::fromLatin1(name)).setOnline(false);
    // Again and again the entered time: a press with the same entry still undoes the operator's zoom and drag.
    for (const char* name : {"trdFuel", "QMTrend3", "trdWaterTemp", "trdWasser"})
        control<QMTrend>(QString::fromLatin1(name)).showTimePosition(t);
}

void FTrends::QMKey2_Click()
{
    for (const char* name : {"trdFuel", "trdWasser", "QMTrend3", "trdWaterTemp"})
        control<QMTrend>(QString::fromLatin1(name)).setOnline(true);
}
