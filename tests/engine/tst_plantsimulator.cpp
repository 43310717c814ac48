#include "PlantLiveliness.h"
#include "PlantSimulator.h"
#include "ProjectLoader.h"
#include "TagStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <functional>

namespace {

Project sourceProject()
{
    const ProjectLoadResult loaded = ProjectLoader::load(QStringLiteral(KALVORA_SOURCE_PROJECT));
    if (!loaded.ok())
        qFatal("%s", qPrintable(loaded.error));
    return loaded.project;
}

SimulationParameters projectParameters()
{
    return sourceProject().simulation;
}

using Setup = std::function<void(PlantState&)>;

} // namespace

Q_DECLARE_METATYPE(Setup)

class tst_PlantSimulator : public QObject {
    Q_OBJECT

private slots:
    void waterIsConservedAndLevelsStayInBounds_data();
    void waterIsConservedAndLevelsStayInBounds();
    void fillRule_data();
    void fillRule();
    void burnerNeedsSwitchPumpAndFuel_data();
    void burnerNeedsSwitchPumpAndFuel();
    void sameStartSameTicksSamePlant();
    void speedSplitsIntoSecondSteps();
    void fuelDeliveryArrivesAfterDelay();
    void dryBoilerTripsBeforeRunningAway();
    void projectStartShowsMotion();
    void savedStateResumesIdentically();
    void switchesByName();
    void thermostatOnlyActsWhileSwitchedOn();
    void plantLivesOnTheCharts_data();
    void plantLivesOnTheCharts();
    void demandFollowsTheClock_data();
    void demandFollowsTheClock();
};

void tst_PlantSimulator::waterIsConservedAndLevelsStayInBounds_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<int>("seconds");
    QTest::newRow("project start, 6 h") << Setup([](PlantState&) {}) << 6 * 3600;
    QTest::newRow("outlet open drains to empty") << Setup([](PlantState& s) { s.outletOpen = true; }) << 4 * 3600;
    QTest::newRow("pump off, units evaporate into storage") << Setup([](PlantState& s) { s.waterPumpOn = false; }) << 8 * 3600;
    QTest::newRow("storage nearly full, pump off") << Setup([](PlantState& s) {
        s.waterPumpOn = false;
        s.storageWater = 50000 - 18000;
    }) << 8 * 3600;
    QTest::newRow("all dry, burners on") << Setup([](PlantState& s) {
        s.storageWater = 0;
        for (auto& u : s.units)
            u.water = 0;
    }) << 3600;
    QTest::newRow("storage empty, valves open") << Setup([](PlantState& s) {
        s.storageWater = 0;
        s.outletOpen = true;
    }) << 3600;
}

void tst_PlantSimulator::waterIsConservedAndLevelsStayInBounds()
{
    QFETCH(Setup, setup);
    QFETCH(int, seconds);
    PlantSimulator sim(projectParameters());
    PlantState start = sim.state();
    setup(start);
    sim.setState(start);
    const double before = sim.state().totalWater();
    const SimulationParameters& p = sim.parameters();
    for (int i = 0; i < seconds; ++i) {
        sim.advance(1.0);
        const PlantState& s = sim.state();
        QVERIFY2(s.storageWater >= 0 && s.storageWater <= p.storage.capacity, qPrintable(QString::number(s.storageWater)));
        for (const PlantUnitState& u : s.units) {
            QVERIFY(u.water >= 0 && u.water <= p.unit.waterCapacity);
            QVERIFY(u.fuel >= 0 && u.fuel <= p.unit.fuelCapacity);
            QVERIFY(u.waterTemperature <= p.unit.boilingPoint);
            QVERIFY(u.condensate >= 0);
            QVERIFY2(u.boilerTemperature < p.unit.tripTemperature + 50, qPrintable(QString::number(u.boilerTemperature)));
        }
    }
    const PlantState& s = sim.state();
    const double expected = before + s.refillTotal - s.outletTotal - s.overflowTotal;
    QVERIFY2(std::abs(s.totalWater() - expected) < 1e-6 * std::max(1.0, before),
        qPrintable(QStringLiteral("water %1, expected %2").arg(s.totalWater(), 0, 'f', 6).arg(expected, 0, 'f', 6)));
    QCOMPARE(s.overflowTotal, 0.0);
}

void tst_PlantSimulator::fillRule_data()
{
    QTest::addColumn<bool>("valve");
    QTest::addColumn<bool>("pump");
    QTest::addColumn<double>("water");
    QTest::addColumn<double>("storage");
    QTest::addColumn<bool>("fillOn");
    QTest::newRow("valve open, pump on, room") << true << true << 5000.0 << 20000.0 << true;
    QTest::newRow("valve closed") << false << true << 5000.0 << 20000.0 << false;
    QTest::newRow("pump off") << true << false << 5000.0 << 20000.0 << false;
    QTest::newRow("tank full") << true << true << 10000.0 << 20000.0 << false;
    QTest::newRow("storage empty: nothing to pump") << true << true << 5000.0 << 0.0 << false;
}

void tst_PlantSimulator::fillRule()
{
    QFETCH(bool, valve);
    QFETCH(bool, pump);
    QFETCH(double, water);
    QFETCH(double, storage);
    QFETCH(bool, fillOn);
    PlantSimulator sim(projectParameters());
    PlantState s = sim.state();
    s.waterPumpOn = pump;
    s.storageWater = storage;
    s.units[0].valveOn = valve;
    s.units[0].water = water;
    s.units[0].full = false;
    sim.setState(s);
    QCOMPARE(sim.state().units[0].fillOn, fillOn);
    const double levelBefore = sim.state().units[0].water;
    s = sim.state();
    s.units[0].switchOn = false; // no evaporation, so the level shows the fill alone
    sim.setState(s);
    sim.advance(1.0);
    QCOMPARE(sim.state().units[0].water > levelBefore, fillOn);
}

void tst_PlantSimulator::burnerNeedsSwitchPumpAndFuel_data()
{
    QTest::addColumn<bool>("switchOn");
    QTest::addColumn<bool>("fuelPump");
    QTest::addColumn<double>("fuel");
    QTest::addColumn<bool>("burning");
    QTest::newRow("all there") << true << true << 200.0 << true;
    QTest::newRow("switched off") << false << true << 200.0 << false;
    QTest::newRow("fuel pump off") << true << false << 200.0 << false;
    QTest::newRow("no fuel") << true << true << 0.0 << false;
}

void tst_PlantSimulator::burnerNeedsSwitchPumpAndFuel()
{
    QFETCH(bool, switchOn);
    QFETCH(bool, fuelPump);
    QFETCH(double, fuel);
    QFETCH(bool, burning);
    SimulationParameters params = projectParameters();
    params.delivery.delaySeconds = 100000; // no delivery during the test
    PlantSimulator sim(params);
    PlantState s = sim.state();
    PlantUnitState& u = s.units[1];
    u.switchOn = switchOn;
    u.fuelPumpOn = fuelPump;
    u.fuel = fuel;
    u.boilerTemperature = 500;
    u.deliveryDueIn = 50000;
    sim.setState(s);
    QCOMPARE(sim.state().units[1].burnerOn, burning);
    sim.advance(60);
    const PlantUnitState& after = sim.state().units[1];
    QCOMPARE(after.fuel < fuel, burning);
    QCOMPARE(after.boilerTemperature > 500, burning);
    QVERIFY(after.fuel >= 0);
}

void tst_PlantSimulator::sameStartSameTicksSamePlant()
{
    PlantSimulator a(projectParameters());
    PlantSimulator b(projectParameters());
    for (int i = 0; i < 5000; ++i) {
        a.advance(1.0);
        b.advance(1.0);
    }
    QCOMPARE(QJsonDocument(a.saveState()).toJson(), QJsonDocument(b.saveState()).toJson());
    QCOMPARE(a.state().units[2].fuel, b.state().units[2].fuel);

    SimulationParameters other = projectParameters();
    other.seed += 1;
    PlantSimulator c(other);
    c.advance(5000);
    QVERIFY(c.state().units[2].fuel != a.state().units[2].fuel);
}

void tst_PlantSimulator::speedSplitsIntoSecondSteps()
{
    PlantSimulator fast(projectParameters());
    PlantSimulator slow(projectParameters());
    fast.advance(60.0);
    for (int i = 0; i < 60; ++i)
        slow.advance(1.0);
    QCOMPARE(QJsonDocument(fast.saveState()).toJson(), QJsonDocument(slow.saveState()).toJson());
    QCOMPARE(fast.state().seconds, 60.0);
}

void tst_PlantSimulator::fuelDeliveryArrivesAfterDelay()
{
    PlantSimulator sim(projectParameters());
    const FuelDelivery& d = sim.parameters().delivery;
    PlantState s = sim.state();
    s.units[0].fuel = d.orderBelow - 1;
    s.units[0].switchOn = false; // keeps the level steady
    sim.setState(s);
    sim.advance(1.0);
    QVERIFY(sim.state().units[0].deliveryDueIn > 0);
    sim.advance(d.delaySeconds - 5);
    QCOMPARE(sim.state().units[0].fuel, d.orderBelow - 1);
    sim.advance(10);
    QCOMPARE(sim.state().units[0].fuel, std::min(d.orderBelow - 1 + d.amount, sim.parameters().unit.fuelCapacity));
    QVERIFY(sim.state().units[0].deliveryDueIn < 0);
}

void tst_PlantSimulator::dryBoilerTripsBeforeRunningAway()
{
    PlantSimulator sim(projectParameters());
    PlantState s = sim.state();
    s.units[0].water = 0;
    s.units[0].valveOn = false;
    s.units[0].fuel = 500;
    sim.setState(s);
    bool sawTrip = false;
    double peak = 0;
    for (int i = 0; i < 1800; ++i) {
        sim.advance(1.0);
        sawTrip = sawTrip || sim.state().units[0].tripped;
        peak = std::max(peak, sim.state().units[0].boilerTemperature);
        if (sim.state().units[0].tripped)
            QVERIFY(!sim.state().units[0].burnerOn);
    }
    QVERIFY(sawTrip);
    QVERIFY2(peak < sim.parameters().unit.tripTemperature + 20, qPrintable(QString::number(peak)));
}

void tst_PlantSimulator::projectStartShowsMotion()
{
    PlantSimulator sim(projectParameters());
    int filling = 0;
    int condensing = 0;
    int burning = 0;
    sim.advance(120);
    for (const PlantUnitState& u : sim.state().units) {
        filling += u.fillOn;
        condensing += u.condensate > 0;
        burning += u.burnerOn;
    }
    QVERIFY(filling >= 2);
    QVERIFY(condensing >= 1);
    QCOMPARE(burning, 3);
    QVERIFY(sim.state().waterPumpOn);
}

void tst_PlantSimulator::savedStateResumesIdentically()
{
    PlantSimulator original(projectParameters());
    original.advance(3000);
    PlantSimulator resumed(projectParameters());
    QVERIFY(resumed.restoreState(original.saveState()));
    original.advance(3000);
    resumed.advance(3000);
    QCOMPARE(QJsonDocument(resumed.saveState()).toJson(), QJsonDocument(original.saveState()).toJson());

    QJsonObject wrongPlant = original.saveState();
    wrongPlant.insert(QStringLiteral("units"), QJsonArray());
    QVERIFY(!resumed.restoreState(wrongPlant));
    QVERIFY(!resumed.restoreState(QJsonObject()));
}

void tst_PlantSimulator::switchesByName()
{
    PlantSimulator sim(projectParameters());
    QVERIFY(sim.setSwitch(QStringLiteral("Ch1.Kalvora.Unit2.Boiler.SwitchOn"), false));
    QVERIFY(!sim.state().units[1].burnerOn);
    QVERIFY(sim.setSwitch(QStringLiteral("Ch1.Kalvora.WaterPump"), false));
    QVERIFY(!sim.state().units[0].fillOn);
    // Computed values and unknown names are no switches.
    QVERIFY(!sim.setSwitch(QStringLiteral("Ch1.Kalvora.Unit2.Boiler.BurnerOn"), true));
    QVERIFY(!sim.setSwitch(QStringLiteral("Ch1.Kalvora.unit2.Boiler.SwitchOn"), true));

    TagStore tags(nullptr);
    sim.publish(tags, 1000);
    QCOMPARE(tags.value(QStringLiteral("Ch1.Kalvora.Unit2.Boiler.BurnerOn")).value, QVariant(false));
    QCOMPARE(tags.value(QStringLiteral("Ch1.Kalvora.Storage.WaterTank")).value.toDouble(), sim.state().storageWater);
    QCOMPARE(sim.variableCount(), 3 + 3 * 10);
    // Numbers leave the plant at a register's resolution, bit for bit as a scaled register gives them.
    sim.advance(137.0);
    sim.publish(tags, 2000);
    for (const auto& [name, step] : {std::pair{"Unit1.WaterTank", 0.2}, {"Unit2.WaterTank.Temperature", 0.1}, {"Unit3.Boiler.FuelTank", 0.01}}) {
        const double v = tags.value(QStringLiteral("Ch1.Kalvora.") + QLatin1String(name)).value.toDouble();
        QVERIFY2(static_cast<double>(std::llround(v / step)) * step == v, name);
    }
}

void tst_PlantSimulator::thermostatOnlyActsWhileSwitchedOn()
{
    PlantSimulator sim(projectParameters());
    const QString unit1 = QStringLiteral("Ch1.Kalvora.Unit1.Boiler.");
    int spells = 0;
    bool wasOn = sim.state().units[0].burnerOn;
    for (int i = 0; i < 4 * 3600; ++i) {
        sim.advance(1.0);
        spells += sim.state().units[0].burnerOn && !wasOn;
        wasOn = sim.state().units[0].burnerOn;
    }
    QVERIFY2(spells >= 4, qPrintable(QString::number(spells)));

    // Switched off by the operator, the burner stays off however cold the water gets.
    QVERIFY(sim.setSwitch(unit1 + QStringLiteral("SwitchOn"), false));
    for (int i = 0; i < 3600; ++i) {
        sim.advance(1.0);
        QVERIFY(!sim.state().units[0].burnerOn);
    }
    QVERIFY(sim.state().units[0].heating);
    QVERIFY(sim.setSwitch(unit1 + QStringLiteral("SwitchOn"), true));
    QVERIFY(sim.state().units[0].burnerOn);
}

void tst_PlantSimulator::plantLivesOnTheCharts_data()
{
    // The day a first start writes into the archive, without its start-up hour: every curve moves
    // across a good part of its chart, and no two units' curves of one kind hide each other.
    // The day follows the clock, so the history may begin at any hour: at midnight and at noon here.
    const Project project = sourceProject();
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("atLeast");
    QTest::addColumn<double>("atMost");
    for (const int startHour : {0, 12}) {
        const PlantLiveliness figures = measureLiveliness(project, simulateArchivedTrends(project, 86400, startHour * 3600.0));
        QTest::addRow("from %02d:00: pairs of unit curves", startHour) << double(figures.overlaps.size()) << 12.0 << 12.0;
        for (const auto& s : figures.spreads)
            QTest::addRow("from %02d:00: spread of %s, %% of range", startHour, qPrintable(s.trend)) << s.percent << 5.0 << 100.0;
        for (const auto& o : figures.overlaps)
            QTest::addRow("from %02d:00: %s on %s, %% of minutes", startHour, qPrintable(o.first), qPrintable(o.second)) << o.percent << 0.0 << 20.0;
    }
}

void tst_PlantSimulator::demandFollowsTheClock_data()
{
    QTest::addColumn<double>("secondsOfDay");
    QTest::addColumn<double>("demand"); // share of the peak
    const double base = projectParameters().unit.baseDemand;
    QTest::newRow("midnight") << 0.0 << base;
    QTest::newRow("06:00") << 6 * 3600.0 << (base + 1.0) / 2;
    QTest::newRow("noon") << 12 * 3600.0 << 1.0;
    QTest::newRow("18:00") << 18 * 3600.0 << (base + 1.0) / 2;
}

void tst_PlantSimulator::demandFollowsTheClock()
{
    QFETCH(double, secondsOfDay);
    QFETCH(double, demand);
    // Set after the plant has run a while: the clock, not the plant's own age, decides.
    PlantSimulator sim(projectParameters());
    sim.advance(5000.0);
    sim.setTimeOfDay(secondsOfDay);
    QVERIFY2(std::abs(sim.heatDemand() - demand) < 1e-9, qPrintable(QString::number(sim.heatDemand())));
    sim.advance(3600.0);
    sim.setTimeOfDay(secondsOfDay);
    QVERIFY(std::abs(sim.heatDemand() - demand) < 1e-9);
}

void tst_PlantSimulator::plantLivesOnTheCharts()
{
    QFETCH(double, value);
    QFETCH(double, atLeast);
    QFETCH(double, atMost);
    QVERIFY2(value >= atLeast && value <= atMost, qPrintable(QString::number(value)));
}

QTEST_GUILESS_MAIN(tst_PlantSimulator)
#include "tst_plantsimulator.moc"
