// The plant overview's runtime controls against a real runtime whose variables the tests set directly.

#include "AlarmTimeFormat.h"
#include "QMSBar.h"
#include "QMSFill.h"
#include "QMSPicBox.h"
#include "QMSSwitch.h"
#include "QMSVarOut.h"
#include "Runtime.h"
#include "TagStore.h"
#include "TextDatabase.h"
#include "TopLevelError.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <limits>
#include <memory>

namespace {

const QString level = QStringLiteral("Ch1.Kalvora.Unit1.WaterTank");
const QString onOff = QStringLiteral("Ch1.Kalvora.Unit1.Boiler.SwitchOn");

/// Counts the paint events a widget receives.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget& widget)
        : QObject(&widget)
    {
        widget.installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

/// Puts a control on screen and waits until its first paint is through, so later counts start at 0.
PaintCounter& showAndSettle(QWidget& widget, const QSize& size = QSize(90, 22))
{
    widget.resize(size);
    auto* counter = new PaintCounter(widget);
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget))
        qFatal("control was not exposed");
    for (int i = 0; i < 100 && counter->count == 0; ++i)
        QTest::qWait(10);
    QTest::qWait(30);
    counter->count = 0;
    return *counter;
}

} // namespace

class tst_OverviewControls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void varOutFormat_data();
    void varOutFormat();
    void varOutShowsNoValue_data();
    void varOutShowsNoValue();
    void varOutFollowsLanguage();
    void varOutRepaintsOnlyWhenTextChanges();

    void barValueNullUntilDelivered();
    void barValueChangedAfterReadable();
    void barColumn_data();
    void barColumn();
    void barRepaintsOnlyWhenColumnMoves();

    void fillActiveFromVariable_data();
    void fillActiveFromVariable();
    void fillWrittenByCode();
    void fillBoundWriteHoldsUntilNextChange();
    void fillAnimationSharesOneTimer();
    void fillFlowPathFallsBack();

    void switchClickAndSpaceToggle();
    void switchFollowsOtherWriters();
    void switchWritesStoredOnValue();
    void switchWriteFailureReachesTopLevel();
    void switchWithoutStateDoesNotWrite();
    void switchRepaintsOnlyOnChange();

    void picBoxShowsPictureByVariable();
    void picBoxMissingPictureAndChildren();

    void alarmTimeFormat_data();
    void alarmTimeFormat();

private:
    void define(const QString& name, TagType type, bool writable = true);
    /// A burner switch on screen, bound to an on/off variable that reports off; null if it never showed.
    std::unique_ptr<QMSSwitch> shownSwitch(bool writable);

    std::unique_ptr<Runtime> m_runtime;
    TopLevelError::Reporter m_previousReporter;
    QStringList m_reported;
};

void tst_OverviewControls::init()
{
    RuntimeOptions options;
    options.realTime = false;
    m_runtime = std::make_unique<Runtime>(options);
    m_reported.clear();
    m_previousReporter = TopLevelError::setReporter([this](const QString& message) { m_reported.append(message); });
}

void tst_OverviewControls::cleanup()
{
    TopLevelError::setReporter(m_previousReporter);
    m_runtime.reset();
}

void tst_OverviewControls::define(const QString& name, TagType type, bool writable)
{
    TagDefinition definition;
    definition.name = name;
    definition.type = type;
    definition.writable = writable;
    m_runtime->tags().define(definition);
}

std::unique_ptr<QMSSwitch> tst_OverviewControls::shownSwitch(bool writable)
{
    define(onOff, TagType::Bool, writable);
    m_runtime->tags().publish(onOff, false);
    auto swt = std::make_unique<QMSSwitch>(*m_runtime, nullptr);
    swt->setProcessVariable(onOff);
    swt->resize(42, 55);
    swt->show();
    if (!QTest::qWaitForWindowExposed(swt.get()))
        return nullptr;
    return swt;
}

// --- value display ---------------------------------------------------------------------------------

void tst_OverviewControls::varOutFormat_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");

    const int de = TextDatabase::German;
    const int en = TextDatabase::English;
    const QString nbsp(QChar(0x00A0));
    QTest::newRow("litres grouped, de") << de << 0 << QStringLiteral("l") << QVariant(48250.4) << QStringLiteral("48.250") + nbsp + QStringLiteral("l");
    QTest::newRow("litres grouped, en") << en << 0 << QStringLiteral("l") << QVariant(48250.4) << QStringLiteral("48,250") + nbsp + QStringLiteral("l");
    QTest::newRow("litres round half up") << de << 0 << QStringLiteral("l") << QVariant(9999.5) << QStringLiteral("10.000") + nbsp + QStringLiteral("l");
    QTest::newRow("temperature, de") << de << 1 << QStringLiteral("°C") << QVariant(71.44) << QStringLiteral("71,4") + nbsp + QStringLiteral("°C");
    QTest::newRow("temperature, en") << en << 1 << QStringLiteral("°C") << QVariant(71.46) << QStringLiteral("71.5") + nbsp + QStringLiteral("°C");
    QTest::newRow("no unit") << de << 1 << QString() << QVariant(2.63) << QStringLiteral("2,6");
    QTest::newRow("no minus zero") << de << 1 << QString() << QVariant(-0.04) << QStringLiteral("0,0");
    QTest::newRow("negative") << en << 1 << QStringLiteral("°C") << QVariant(-12.25) << QStringLiteral("-12.3") + nbsp + QStringLiteral("°C");
    QTest::newRow("integer variable") << de << 0 << QStringLiteral("l") << QVariant(qlonglong(1234567)) << QStringLiteral("1.234.567") + nbsp + QStringLiteral("l");
    QTest::newRow("decimals clamped") << en << 99 << QString() << QVariant(1.0) << QStringLiteral("1.000000");
}

void tst_OverviewControls::varOutFormat()
{
    QFETCH(int, language);
    QFETCH(int, decimals);
    QFETCH(QString, unit);
    QFETCH(QVariant, value);
    QFETCH(QString, expected);

    m_runtime->texts().setLanguageId(language);
    m_runtime->tags().publish(level, value);
    QMSVarOut out(*m_runtime, nullptr);
    out.setDecimals(decimals);
    out.setUnitText(unit);
    out.setProcessVariable(level);
    QCOMPARE(out.text(), expected);
    QVERIFY(!out.showsNoValue());
    QCOMPARE(out.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
}

void tst_OverviewControls::varOutShowsNoValue_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("quality");

    QTest::newRow("bad quality") << QVariant(55.0) << int(TagQuality::Bad);
    QTest::newRow("not delivered") << QVariant() << int(TagQuality::NotDelivered);
    QTest::newRow("not a number") << QVariant(std::numeric_limits<double>::quiet_NaN()) << int(TagQuality::Good);
    QTest::newRow("infinite") << QVariant(std::numeric_limits<double>::infinity()) << int(TagQuality::Good);
    QTest::newRow("text") << QVariant(QStringLiteral("abc")) << int(TagQuality::Good);
}

void tst_OverviewControls::varOutShowsNoValue()
{
    QFETCH(QVariant, value);
    QFETCH(int, quality);

    QMSVarOut out(*m_runtime, nullptr);
    out.setUnitText(QStringLiteral("°C"));
    out.setProcessVariable(level);
    m_runtime->tags().publish(level, 20.0);
    QVERIFY(!out.showsNoValue());

    m_runtime->tags().publish(level, value, static_cast<TagQuality>(quality));
    QCOMPARE(out.text(), QStringLiteral("---"));
    QVERIFY(out.showsNoValue());
    QVERIFY(!out.toolTip().isEmpty());
}

void tst_OverviewControls::varOutFollowsLanguage()
{
    m_runtime->tags().publish(level, 1500.0);
    QMSVarOut out(*m_runtime, nullptr);
    out.setUnitText(QStringLiteral("l"));
    out.setProcessVariable(level);
    QVERIFY(out.text().startsWith(QLatin1String("1.500")));
    m_runtime->texts().setLanguageId(TextDatabase::English);
    QVERIFY(out.text().startsWith(QLatin1String("1,500")));
}

void tst_OverviewControls::varOutRepaintsOnlyWhenTextChanges()
{
    m_runtime->tags().publish(level, 8250.0);
    QMSVarOut out(*m_runtime, nullptr);
    out.setUnitText(QStringLiteral("l"));
    out.setProcessVariable(level);
    PaintCounter& paints = showAndSettle(out);

    m_runtime->tags().publish(level, 8250.3); // shows "8.250 l" as before
    m_runtime->tags().publish(level, 8249.6);
    QTest::qWait(50);
    QCOMPARE(paints.count, 0);

    m_runtime->tags().publish(level, 8251.0);
    QTRY_COMPARE(paints.count, 1);
    m_runtime->tags().publish(level, 8251.0, TagQuality::Bad);
    QTRY_COMPARE(paints.count, 2);
}

// --- level bar -------------------------------------------------------------------------------------

void tst_OverviewControls::barValueNullUntilDelivered()
{
    define(level, TagType::Double, false);
    QMSBar bar(*m_runtime, nullptr);
    QVERIFY(bar.BarValue().isNull());
    bar.setProcessVariable(level);
    QVERIFY(bar.BarValue().isNull());

    QMSBar misspelt(*m_runtime, nullptr);
    misspelt.setProcessVariable(QStringLiteral("Ch1.Kalvora.NoSuchTank"));
    QVERIFY(misspelt.BarValue().isNull());

    m_runtime->tags().publish(level, 0.0);
    QVERIFY(bar.BarValue().isValid());
    QCOMPARE(bar.BarValue().toDouble(), 0.0);
}

void tst_OverviewControls::barValueChangedAfterReadable()
{
    QMSBar bar(*m_runtime, nullptr);
    bar.setProcessVariable(level);
    QList<QVariant> seen;
    connect(&bar, &QMSBar::ValueChanged, this, [&] { seen.append(bar.BarValue()); });

    m_runtime->tags().publish(level, 120.0);
    m_runtime->tags().publish(level, 120.0); // not a change
    m_runtime->tags().publish(level, 0.0);
    m_runtime->tags().publish(level, 0.0, TagQuality::Bad);
    QCOMPARE(seen.size(), 3);
    QCOMPARE(seen[0].toDouble(), 120.0);
    QCOMPARE(seen[1].toDouble(), 0.0);
    QVERIFY(seen[2].isNull()); // a broken reading is no level
}

void tst_OverviewControls::barColumn_data()
{
    QTest::addColumn<double>("scaleMax");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("column");

    QTest::newRow("half") << 10000.0 << QVariant(5000.0) << 25;
    QTest::newRow("empty") << 10000.0 << QVariant(0.0) << 0;
    QTest::newRow("full") << 500.0 << QVariant(500.0) << 50;
    QTest::newRow("above scale clamps") << 500.0 << QVariant(900.0) << 50;
    QTest::newRow("below zero clamps") << 500.0 << QVariant(-20.0) << 0;
    QTest::newRow("zero scale draws nothing") << 0.0 << QVariant(10.0) << -1;
    QTest::newRow("no value draws nothing") << 500.0 << QVariant() << -1;
}

void tst_OverviewControls::barColumn()
{
    QFETCH(double, scaleMax);
    QFETCH(QVariant, value);
    QFETCH(int, column);

    QMSBar bar(*m_runtime, nullptr);
    bar.resize(66, 50);
    bar.setScaleMax(scaleMax);
    bar.setProcessVariable(level);
    m_runtime->tags().publish(level, value, value.isValid() ? TagQuality::Good : TagQuality::NotDelivered);
    QCOMPARE(bar.columnHeight(), column);
}

void tst_OverviewControls::barRepaintsOnlyWhenColumnMoves()
{
    QMSBar bar(*m_runtime, nullptr);
    bar.setScaleMax(10000.0);
    bar.setProcessVariable(level);
    m_runtime->tags().publish(level, 5000.0);
    PaintCounter& paints = showAndSettle(bar, QSize(66, 50));
    QSignalSpy changed(&bar, &QMSBar::ValueChanged);

    m_runtime->tags().publish(level, 5040.0); // 200 l per pixel: the column stays
    QTest::qWait(50);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(paints.count, 0);

    m_runtime->tags().publish(level, 6000.0);
    QTRY_COMPARE(paints.count, 1);
}

// --- pipe segment ----------------------------------------------------------------------------------

void tst_OverviewControls::fillActiveFromVariable_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("active");

    QTest::newRow("on") << QVariant(true) << int(TagQuality::Good) << 1;
    QTest::newRow("off") << QVariant(false) << int(TagQuality::Good) << 0;
    QTest::newRow("flow") << QVariant(2.6) << int(TagQuality::Good) << 1;
    QTest::newRow("no flow") << QVariant(0.0) << int(TagQuality::Good) << 0;
    QTest::newRow("stored true") << QVariant(qlonglong(-1)) << int(TagQuality::Good) << 1;
    QTest::newRow("bad quality") << QVariant(true) << int(TagQuality::Bad) << 0;
}

void tst_OverviewControls::fillActiveFromVariable()
{
    QFETCH(QVariant, value);
    QFETCH(int, quality);
    QFETCH(int, active);

    QMSFill fill(*m_runtime, nullptr);
    fill.setProcessVariable(onOff);
    QCOMPARE(fill.FillActive(), 0);
    m_runtime->tags().publish(onOff, value, static_cast<TagQuality>(quality));
    QCOMPARE(fill.FillActive(), active);
}

void tst_OverviewControls::fillWrittenByCode()
{
    QMSFill outlet(*m_runtime, nullptr);
    QList<int> seen;
    connect(&outlet, &QMSFill::ValueChanged, this, [&] { seen.append(outlet.FillActive()); });

    outlet.setFillActive(1);
    outlet.setFillActive(1);
    outlet.setFillActive(0);
    outlet.setFillActive(0);
    outlet.setFillActive(7);
    outlet.setFillActive(-1);
    QCOMPARE(seen, (QList<int>{1, 0, 1, 0}));

    // Through the property system, as the screen's rules reach it.
    QVERIFY(outlet.setProperty("FillActive", 1));
    QCOMPARE(outlet.property("FillActive").toInt(), 1);
}

void tst_OverviewControls::fillBoundWriteHoldsUntilNextChange()
{
    m_runtime->tags().publish(onOff, false);
    QMSFill fill(*m_runtime, nullptr);
    fill.setProcessVariable(onOff);
    fill.setFillActive(1);
    QCOMPARE(fill.FillActive(), 1);
    m_runtime->tags().publish(onOff, true);
    QCOMPARE(fill.FillActive(), 1);
    m_runtime->tags().publish(onOff, false); // the variable has the last word again
    QCOMPARE(fill.FillActive(), 0);
}

void tst_OverviewControls::fillAnimationSharesOneTimer()
{
    const auto runningTimers = [this] {
        int running = 0;
        for (const QTimer* timer : m_runtime->findChildren<QTimer*>())
            running += timer->isActive() ? 1 : 0;
        return running;
    };

    QWidget screen;
    screen.resize(300, 100);
    QList<QMSFill*> fills;
    for (int i = 0; i < 3; ++i) {
        auto* fill = new QMSFill(*m_runtime, &screen);
        fill->setGeometry(10, 10 + 20 * i, 200, 11);
        fills.append(fill);
    }
    auto* idle = new QMSFill(*m_runtime, &screen);
    idle->setGeometry(10, 80, 200, 11);
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    QCOMPARE(runningTimers(), 0); // nothing flows, nothing ticks

    for (QMSFill* fill : fills)
        fill->setFillActive(1);
    QCOMPARE(runningTimers(), 1);

    auto* activePaints = new PaintCounter(*fills[0]);
    auto* idlePaints = new PaintCounter(*idle);
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY(activePaints->count >= 3);
    QVERIFY2(activePaints->count <= clock.elapsed() / QMSFill::frameMs + 1, "more frames than the clock gives");
    QCOMPARE(idlePaints->count, 0);

    screen.hide(); // a screen behind another one costs nothing
    QCOMPARE(runningTimers(), 0);
    screen.show();
    QCOMPARE(runningTimers(), 1);
    for (QMSFill* fill : fills)
        fill->setFillActive(0);
    QCOMPARE(runningTimers(), 0);

    fills[1]->setFillActive(1);
    delete fills[1]; // an active segment that goes away leaves the clock
    QCOMPARE(runningTimers(), 0);
}

void tst_OverviewControls::fillFlowPathFallsBack()
{
    QMSFill fill(*m_runtime, nullptr);
    fill.resize(61, 115);
    fill.setPipeWidth(7);
    fill.setFlowPath(QStringLiteral("33,107 33,34 4,34"));
    QCOMPARE(fill.centreLine().elementCount(), 3);
    QCOMPARE(fill.bandWidth(), 7);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not a list of at least two points")));
    fill.setFlowPath(QStringLiteral("33,107 x,1"));
    const QPainterPath straight = fill.centreLine();
    QCOMPARE(straight.elementCount(), 2);
    QCOMPARE(straight.boundingRect(), QRectF(30.5, 0, 0, 115)); // down the middle of the long side

    fill.setPipeWidth(-5);
    QCOMPARE(fill.bandWidth(), 61);
}

// --- switch ----------------------------------------------------------------------------------------

void tst_OverviewControls::switchClickAndSpaceToggle()
{
    const std::unique_ptr<QMSSwitch> shown = shownSwitch(/*writable=*/true);
    QVERIFY(shown);
    QMSSwitch& swt = *shown;
    QList<int> seen;
    connect(&swt, &QMSSwitch::StateChanged, this, [&] { seen.append(swt.SwitchState()); });

    QTest::mouseClick(&swt, Qt::LeftButton);
    QCOMPARE(m_runtime->tags().value(onOff).value, QVariant(true));
    QCOMPARE(swt.SwitchState(), 1);

    swt.setFocus();
    QVERIFY(swt.hasFocus());
    QTest::keyClick(&swt, Qt::Key_Space);
    QCOMPARE(m_runtime->tags().value(onOff).value, QVariant(false));

    // Pressing and sliding off before letting go does nothing, as with any button.
    QTest::mousePress(&swt, Qt::LeftButton);
    QTest::mouseRelease(&swt, Qt::LeftButton, {}, QPoint(200, 200));
    QCOMPARE(m_runtime->tags().value(onOff).value, QVariant(false));

    QCOMPARE(seen, (QList<int>{1, 0}));
    QVERIFY(m_reported.isEmpty());
}

void tst_OverviewControls::switchFollowsOtherWriters()
{
    QMSSwitch swt(*m_runtime, nullptr);
    swt.setProcessVariable(onOff);
    QSignalSpy changed(&swt, &QMSSwitch::StateChanged);
    QVERIFY(!swt.hasState());

    m_runtime->tags().publish(onOff, false); // known now, still off: no state change
    QCOMPARE(changed.count(), 0);
    QVERIFY(swt.hasState());
    m_runtime->tags().publish(onOff, true);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(swt.SwitchState(), 1);
    m_runtime->tags().publish(onOff, true, TagQuality::Bad); // unknown reads as off
    QCOMPARE(changed.count(), 2);
    QCOMPARE(swt.SwitchState(), 0);
}

void tst_OverviewControls::switchWritesStoredOnValue()
{
    const QString valve = QStringLiteral("Ch1.Kalvora.Storage.Valve.Manual");
    define(valve, TagType::Int);
    m_runtime->tags().publish(valve, qlonglong(0));
    QMSSwitch swt(*m_runtime, nullptr);
    swt.setProcessVariable(valve);
    QCOMPARE(swt.valueText(), QStringLiteral("-1"));

    swt.toggle();
    QCOMPARE(m_runtime->tags().value(valve).value, QVariant(qlonglong(-1)));
    QCOMPARE(swt.SwitchState(), 1); // any non-zero value is on, and reads as exactly 1
    swt.toggle();
    QCOMPARE(m_runtime->tags().value(valve).value, QVariant(qlonglong(0)));

    swt.setValueText(QStringLiteral("1"));
    swt.toggle();
    QCOMPARE(m_runtime->tags().value(valve).value, QVariant(qlonglong(1)));
}

void tst_OverviewControls::switchWriteFailureReachesTopLevel()
{
    const std::unique_ptr<QMSSwitch> shown = shownSwitch(/*writable=*/false);
    QVERIFY(shown);
    QMSSwitch& swt = *shown;
    QSignalSpy changed(&swt, &QMSSwitch::StateChanged);

    QTest::mouseClick(&swt, Qt::LeftButton);
    QCOMPARE(m_reported.size(), 1);
    QVERIFY2(m_reported[0].contains(onOff), qPrintable(m_reported[0]));
    QCOMPARE(swt.SwitchState(), 0);
    QCOMPARE(changed.count(), 0);
}

void tst_OverviewControls::switchWithoutStateDoesNotWrite()
{
    define(onOff, TagType::Bool);
    QMSSwitch swt(*m_runtime, nullptr);
    swt.setProcessVariable(onOff);
    QSignalSpy written(&m_runtime->tags(), &TagStore::written);
    swt.toggle();
    m_runtime->tags().publish(onOff, true, TagQuality::Bad);
    swt.toggle();
    QCOMPARE(written.count(), 0);
}

void tst_OverviewControls::switchRepaintsOnlyOnChange()
{
    m_runtime->tags().publish(onOff, false);
    QMSSwitch swt(*m_runtime, nullptr);
    swt.setProcessVariable(onOff);
    PaintCounter& paints = showAndSettle(swt, QSize(27, 33));

    m_runtime->tags().publish(onOff, 0.0); // another value, the same state
    QTest::qWait(50);
    QCOMPARE(paints.count, 0);
    m_runtime->tags().publish(onOff, true);
    QTRY_COMPARE(paints.count, 1);
}

// --- picture ---------------------------------------------------------------------------------------

void tst_OverviewControls::picBoxShowsPictureByVariable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QImage on(20, 10, QImage::Format_RGB32);
    on.fill(Qt::red);
    QVERIFY(on.save(dir.filePath(QStringLiteral("on.png"))));
    QImage off(20, 10, QImage::Format_RGB32);
    off.fill(Qt::blue);
    QVERIFY(off.save(dir.filePath(QStringLiteral("off.png"))));
    QDir::setSearchPaths(QStringLiteral("layouts"), {dir.path()});

    QMSPicBox box(*m_runtime, nullptr);
    box.resize(20, 10);
    box.setPictureOn(QStringLiteral("layouts:on.png"));
    box.setPictureOff(QStringLiteral("layouts:off.png"));
    QVERIFY(!box.showsNoValue()); // a plain picture without a variable
    QCOMPARE(box.grab().toImage().pixelColor(5, 5), QColor(Qt::blue));

    box.setProcessVariable(onOff);
    QVERIFY(box.showsNoValue());
    m_runtime->tags().publish(onOff, true);
    QVERIFY(box.showsOn());
    QCOMPARE(box.grab().toImage().pixelColor(5, 5), QColor(Qt::red));
    m_runtime->tags().publish(onOff, false);
    QVERIFY(!box.showsOn());
    QVERIFY(!box.showsNoValue());
    QCOMPARE(box.grab().toImage().pixelColor(5, 5), QColor(Qt::blue));
}

void tst_OverviewControls::picBoxMissingPictureAndChildren()
{
    QMSPicBox box(*m_runtime, nullptr);
    box.resize(153, 164);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot read picture")));
    box.setPictureOff(QStringLiteral("layouts:pictures/does_not_exist.png"));
    auto* swt = new QMSSwitch(*m_runtime, &box);
    swt->setGeometry(56, 1, 42, 55);
    QCOMPARE(swt->parentWidget(), &box);
    const QImage picture = box.grab().toImage(); // draws a placeholder, never crashes
    QCOMPARE(picture.size(), QSize(153, 164));
}

// --- alarm date and time format --------------------------------------------------------------------

void tst_OverviewControls::alarmTimeFormat_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("expected");

    const QDateTime t(QDate(2026, 3, 7), QTime(9, 5, 2));
    QTest::newRow("alarm line date") << QStringLiteral("%02D.%02O.%02Y") << t << QStringLiteral("07.03.26");
    QTest::newRow("alarm list date") << QStringLiteral("%02D.%02O.%04C") << t << QStringLiteral("07.03.2026");
    QTest::newRow("time") << QStringLiteral("%02T:%02I:%02S") << t << QStringLiteral("09:05:02");
    QTest::newRow("no width") << QStringLiteral("%D/%O %T") << t << QStringLiteral("7/3 9");
    QTest::newRow("space padding") << QStringLiteral("[%3D]") << t << QStringLiteral("[  7]");
    QTest::newRow("wider than width") << QStringLiteral("%02C") << t << QStringLiteral("2026");
    QTest::newRow("two-digit year of 2000") << QStringLiteral("%02Y") << QDateTime(QDate(2000, 1, 1), QTime(0, 0)) << QStringLiteral("00");
    QTest::newRow("midnight and end of day") << QStringLiteral("%02T:%02I:%02S %02T") << QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59))
                                             << QStringLiteral("23:59:59 23");
    QTest::newRow("percent") << QStringLiteral("100%% %02D") << t << QStringLiteral("100% 07");
    QTest::newRow("unknown letter") << QStringLiteral("%02Q-%02D") << t << QStringLiteral("%02Q-07");
    QTest::newRow("lower case is not a letter") << QStringLiteral("%02d") << t << QStringLiteral("%02d");
    QTest::newRow("trailing percent") << QStringLiteral("%02D%") << t << QStringLiteral("07%");
    QTest::newRow("trailing width") << QStringLiteral("%02D %02") << t << QStringLiteral("07 %02");
    QTest::newRow("three-digit width") << QStringLiteral("%0123D") << t << QStringLiteral("%0123D");
    QTest::newRow("huge width") << QStringLiteral("%099999999999D") << t << QStringLiteral("%099999999999D");
    QTest::newRow("plain text") << QStringLiteral("Datum") << t << QStringLiteral("Datum");
    QTest::newRow("empty") << QString() << t << QString();
    QTest::newRow("invalid time") << QStringLiteral("%02D.%02O.%04C %T") << QDateTime() << QStringLiteral("--.--.---- -");
}

void tst_OverviewControls::alarmTimeFormat()
{
    QFETCH(QString, pattern);
    QFETCH(QDateTime, time);
    QFETCH(QString, expected);
    QCOMPARE(AlarmTimeFormat::format(pattern, time), expected);
}

QTEST_MAIN(tst_OverviewControls)
#include "tst_OverviewControls.moc"
