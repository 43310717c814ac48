#include "AlarmEngine.h"
#include "QMSAlarmLine.h"
#include "QMSBar.h"
#include "QMSFill.h"
#include "QMSIndex.h"
#include "QMSSwitch.h"
#include "Runtime.h"
#include "StationFixture.h"
#include "TagStore.h"
#include "TextDatabase.h"
#include "Window.h"

#include <QDateTime>
#include <QTest>

namespace {
const QString prefix = QStringLiteral("Ch1.Kalvora.");
QString tag(const char* path)
{
    return prefix + QString::fromLatin1(path);
}
} // namespace

class TestOverview final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StationFixture> m_station;
    Window* m_overview = nullptr;

    TagStore& tags() { return m_station->runtime().tags(); }
    int outlet() { return m_overview->control<QMSFill>(QStringLiteral("fllWaterOut")).FillActive(); }

private Q_SLOTS:
    void init()
    {
        m_station = std::make_unique<StationFixture>();
        QVERIFY(m_station->startUp());
        m_overview = &m_station->window(QStringLiteral("FCentral"));
    }

    void cleanup()
    {
        QVERIFY2(m_station->reportedErrors().isEmpty(), qPrintable(m_station->reportedErrors().join(QLatin1Char('\n'))));
        m_station.reset();
    }

    void focusReturnsToTheBurnerSwitch()
    {
        QWidget& burner = m_overview->controlWidget(QStringLiteral("swtBoiler1"));
        m_overview->controlWidget(QStringLiteral("swtWaterPump")).setFocus();
        m_station->pressAndWait(QStringLiteral("FCentral"), 7);
        m_station->pressAndWait(QStringLiteral("FTrends"), 5);
        QVERIFY(m_overview->isVisible());
        QCOMPARE(m_overview->widget().focusWidget(), &burner);
        QCOMPARE(m_station->shell().CurrentScreen(), m_overview);
    }

    void theLastEventDecides()
    {
        // Valve closed, unit 2's condensate flowing, tank not empty.
        tags().publish(tag("Storage.Valve.Manual"), false);
        tags().publish(tag("Unit1.Kondensation"), 0.0);
        tags().publish(tag("Unit3.Kondensation"), 0.0);
        tags().publish(tag("Unit2.Kondensation"), 0.0);
        tags().publish(tag("Unit2.Kondensation"), 1.5);
        QCOMPARE(outlet(), 1);                           // condensate rule: unit 2 counts whatever the valve
        tags().publish(tag("Storage.WaterTank"), 20001.0);
        QCOMPARE(outlet(), 0);                           // level rule: valve closed
        tags().publish(tag("Unit3.Kondensation"), 0.5);
        QCOMPARE(outlet(), 1);                           // condensate rule again
        tags().publish(tag("Storage.Valve.Manual"), true);
        QCOMPARE(outlet(), 1);                           // valve rule: level term holds
        tags().publish(tag("Storage.WaterTank"), 0.0);
        QCOMPARE(outlet(), 0);                           // level rule: tank empty, condensate ignored
    }

    void eachEventRunsItsOwnRule_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("valveOpen");
        QTest::addColumn<int>("expected");
        // Tank not empty throughout. Valve open, no condensate: level 1, condensate 0, valve 1.
        // Valve closed, unit 2's condensate flowing: level 0, condensate 1, valve 1.
        const auto rows = [](const char* source, int whenOpen, int whenClosed) {
            QTest::addRow("%s, valve open", source) << QString::fromLatin1(source) << true << whenOpen;
            QTest::addRow("%s, valve closed", source) << QString::fromLatin1(source) << false << whenClosed;
        };
        rows("barWaterLevel", 1, 0);
        rows("fllCondensation11", 0, 1);
        rows("fllCondensation21", 0, 1);
        rows("fllCondensation31", 0, 1);
        rows("swtWaterValve", 1, 1);
    }

    void eachEventRunsItsOwnRule()
    {
        QFETCH(QString, source);
        QFETCH(bool, valveOpen);
        QFETCH(int, expected);
        tags().publish(tag("Storage.WaterTank"), 20000.0);
        tags().publish(tag("Storage.Valve.Manual"), valveOpen);
        tags().publish(tag("Unit1.Kondensation"), 0.0);
        tags().publish(tag("Unit3.Kondensation"), 0.0);
        tags().publish(tag("Unit2.Kondensation"), valveOpen ? 0.0 : 1.5);
        m_overview->control<QMSFill>(QStringLiteral("fllWaterOut")).setFillActive(1 - expected);
        QWidget& control = m_overview->controlWidget(source);
        if (auto* bar = qobject_cast<QMSBar*>(&control))
            Q_EMIT bar->ValueChanged();
        else if (auto* fill = qobject_cast<QMSFill*>(&control))
            Q_EMIT fill->ValueChanged();
        else
            Q_EMIT qobject_cast<QMSSwitch*>(&control)->StateChanged();
        QCOMPARE(outlet(), expected);
    }

    void nothingDrivesTheOutletUntilAnEventArrives()
    {
        StationFixture fresh;
        fresh.window(QStringLiteral("FCentral")).widget();
        QCOMPARE(fresh.window(QStringLiteral("FCentral")).control<QMSFill>(QStringLiteral("fllWaterOut")).FillActive(), 0);
    }

    void switchesWriteTheirVariablesAndLabelsFollow()
    {
        auto& burnerSwitch = m_overview->control<QMSSwitch>(QStringLiteral("swtBoiler1"));
        auto& burnerLabel = m_overview->control<QMSIndex>(QStringLiteral("idxBurner1"));
        const bool wasOn = tags().value(tag("Unit1.Boiler.SwitchOn")).value.toBool();
        QTest::keyClick(&burnerSwitch, Qt::Key_Space);
        QCOMPARE(tags().value(tag("Unit1.Boiler.SwitchOn")).value.toBool(), !wasOn);
        QCOMPARE(burnerSwitch.SwitchState(), wasOn ? 0 : 1);

        tags().publish(tag("Unit1.Boiler.BurnerOn"), true);
        const QString on = burnerLabel.text();
        tags().publish(tag("Unit1.Boiler.BurnerOn"), false);
        QVERIFY(burnerLabel.text() != on);
        QCOMPARE(burnerLabel.text(), m_station->runtime().texts().text(QStringLiteral("Indextexte"), QStringLiteral("Kessel Aus")));
    }

    void alarmLinesShowTheNewestAlarmOfTheirGroup()
    {
        Runtime& runtime = m_station->runtime();
        auto& warnings = m_overview->control<QMSAlarmLine>(QStringLiteral("alnPriority2"));
        auto& faults = m_overview->control<QMSAlarmLine>(QStringLiteral("alnPriority1"));
        QCOMPARE(warnings.shownAlarm().id, QString());
        QCOMPARE(warnings.text(), QStringLiteral("Alarm")); // the caption while the group is quiet

        tags().write(tag("WaterPump"), false); // a warning after its on-delay
        runtime.advance(40);
        const AlarmInfo alarm = warnings.shownAlarm();
        QCOMPARE(alarm.id, QStringLiteral("WaterPump.Off"));
        QCOMPARE(alarm.state, AlarmState::ActiveUnacknowledged);
        // Column code "TX": the time it came, "%02T:%02I:%02S", then its text.
        const QString came = QDateTime::fromMSecsSinceEpoch(alarm.cameMs).toString(QStringLiteral("HH:mm:ss"));
        QCOMPARE(warnings.text(), came + QStringLiteral("   ") + alarm.text);
        QVERIFY(!alarm.text.isEmpty());
        QCOMPARE(faults.shownAlarm().id == QStringLiteral("WaterPump.Off"), false); // the other group's line

        runtime.alarms().acknowledge(QStringLiteral("FCentralAlarms2"));
        QCOMPARE(warnings.shownAlarm().state, AlarmState::ActiveAcknowledged);

        m_station->pressAndWait(QStringLiteral("FCentral"), 2); // the text follows the language
        QCOMPARE(warnings.text(), came + QStringLiteral("   ") + runtime.alarms().alarm(QStringLiteral("WaterPump.Off")).text);
        QVERIFY(warnings.text() != came + QStringLiteral("   ") + alarm.text);
    }

    void switchingActsOnThePlant()
    {
        Runtime& runtime = m_station->runtime();
        runtime.advance(5);
        // Burner 1 off: its condensate stops and its boiler cools.
        tags().write(tag("Unit1.Boiler.SwitchOn"), true);
        runtime.advance(20);
        const double hot = tags().value(tag("Unit1.Boiler.Temperature")).value.toDouble();
        QTest::keyClick(&m_overview->control<QMSSwitch>(QStringLiteral("swtBoiler1")), Qt::Key_Space);
        QCOMPARE(tags().value(tag("Unit1.Boiler.SwitchOn")).value.toBool(), false);
        runtime.advance(120);
        QCOMPARE(tags().value(tag("Unit1.Boiler.BurnerOn")).value.toBool(), false);
        QVERIFY(tags().value(tag("Unit1.Boiler.Temperature")).value.toDouble() < hot);
        QCOMPARE(m_overview->control<QMSFill>(QStringLiteral("fllCondensation11")).FillActive(), 0);

        // Outlet valve closed with no condensate flowing: the outlet stops.
        for (const char* unit : {"Unit2.Boiler.SwitchOn", "Unit3.Boiler.SwitchOn"})
            tags().write(tag(unit), false);
        runtime.advance(120);
        auto& valve = m_overview->control<QMSSwitch>(QStringLiteral("swtWaterValve"));
        if (valve.SwitchState() == 1)
            QTest::keyClick(&valve, Qt::Key_Space);
        runtime.advance(2);
        QCOMPARE(outlet(), 0);
    }
};

QTEST_MAIN(TestOverview)
#include "tst_Overview.moc"
