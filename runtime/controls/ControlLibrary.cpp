#include "ControlLibrary.h"

#include "LayoutLoader.h"
#include "PictureBox.h"
#include "QMSAlarmLine.h"
#include "QMSAlarmList.h"
#include "QMLanguage.h"
#include "QMSBar.h"
#include "QMSFill.h"
#include "QMSIndex.h"
#include "QMSKey.h"
#include "QMSPicBox.h"
#include "QMSShape.h"
#include "QMSSwitch.h"
#include "QMSVarIn.h"
#include "QMSVarOut.h"
#include "QMTrend.h"
#include "QMTrendLegend.h"
#include "QMStart.h"
#include "TimerControl.h"

void registerRuntimeControls(LayoutLoader& loader, Runtime& runtime)
{
    // Standard controls of the windowing layer.
    loader.registerControl(QStringLiteral("Timer"), TimerControl::staticMetaObject,
                           [](QWidget* parent) { return new TimerControl(parent); });
    loader.registerControl(QStringLiteral("PictureBox"), PictureBox::staticMetaObject,
                           [](QWidget* parent) { return new PictureBox(parent); });

    loader.registerControl<QMStart>(QStringLiteral("QM4StartLib.QMStart"), runtime);
    loader.registerControl<QMLanguage>(QStringLiteral("QM4LanguageLib.QMLanguage"), runtime);
    loader.registerControl<QMSIndex>(QStringLiteral("QMSLanguageLib.QMSIndex"), runtime);
    loader.registerControl<QMSKey>(QStringLiteral("QuelmirStudioLib.QMSKey"), runtime);
    loader.registerControl<QMSAlarmLine>(QStringLiteral("QMSAlarmLib.QMSAlarmLine"), runtime);
    loader.registerControl<QMSAlarmList>(QStringLiteral("QMSAlarmLib.QMSAlarmList"), runtime);
    loader.registerControl<QMSShape>(QStringLiteral("QuelmirStudioLib.QMSShape"), runtime);
    loader.registerControl<QMSVarOut>(QStringLiteral("QuelmirStudioLib.QMSVarOut"), runtime);
    loader.registerControl<QMSVarIn>(QStringLiteral("QuelmirStudioLib.QMSVarIn"), runtime);
    loader.registerControl<QMSBar>(QStringLiteral("QuelmirStudioLib.QMSBar"), runtime);
    loader.registerControl<QMSFill>(QStringLiteral("QuelmirStudioLib.QMSFill"), runtime);
    loader.registerControl<QMSPicBox>(QStringLiteral("QuelmirStudioLib.QMSPicBox"), runtime);
    loader.registerControl<QMSSwitch>(QStringLiteral("QuelmirStudio2Lib.QMSSwitch"), runtime);
    loader.registerControl<QMTrend>(QStringLiteral("QM4TrendLib.QMTrend"), runtime);
    loader.registerControl<QMTrendLegend>(QStringLiteral("QM4TrendHelper.QMTrendLegend"), runtime);
}
