#include "PlantSimulator.h"

#include "TagStore.h"

#include <QJsonArray>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

constexpr std::array<PlantVariableSpec, 3> Common{{
    {"WaterPump", true, true},
    {"Storage.WaterTank", false, false, 0.01},
    {"Storage.Valve.Manual", true, true},
}};

// The order here is the order of unitValue() below.
constexpr std::array<PlantVariableSpec, 10> Unit{{
    {"WaterTank", false, false, 0.2},
    {"WaterTank.ValveOn", true, true},
    {"WaterTank.FillOn", true, false},
    {"WaterTank.Temperature", false, false, 0.1},
    {"Boiler.FuelTank", false, false, 0.01},
    {"Boiler.FuelTank.PumpOn", true, true},
    {"Boiler.BurnerOn", true, false},
    {"Boiler.SwitchOn", true, true},
    {"Boiler.Temperature", false, false, 0.1},
    {"Kondensation", false, false, 0.001},
}};

constexpr int CommonCount = static_cast<int>(Common.size());
constexpr int UnitCount = static_cast<int>(Unit.size());

QVariant unitValue(const PlantUnitState& u, int field)
{
    switch (field) {
    case 0: return u.water;
    case 1: return u.valveOn;
    case 2: return u.fillOn;
    case 3: return u.waterTemperature;
    case 4: return u.fuel;
    case 5: return u.fuelPumpOn;
    case 6: return u.burnerOn;
    case 7: return u.switchOn;
    case 8: return u.boilerTemperature;
    case 9: return u.condensate;
    }
    return {};
}

double clamp(double value, double low, double high)
{
    return std::isfinite(value) ? std::clamp(value, low, high) : low;
}

void deriveFlags(PlantState& state, const SimulationParameters& parameters)
{
    const UnitParameters& p = parameters.unit;
    for (size_t i = 0; i < state.units.size(); ++i) {
        PlantUnitState& u = state.units[i];
        const UnitInitialState& unit = parameters.units[static_cast<qsizetype>(i)];
        // The thermostat switches with hysteresis, so the burner runs in spells rather than flickering;
        // it only lets the flame burn, the operator's switch still decides whether it may.
        const double band = unit.switchingDifference / 2.0;
        if (unit.setPoint <= 0.0 || u.waterTemperature <= unit.setPoint - band)
            u.heating = true;
        else if (u.waterTemperature >= unit.setPoint + band)
            u.heating = false;
        if (u.water >= p.waterCapacity)
            u.full = true;
        else if (u.water < p.fullResetLevel)
            u.full = false;
        if (u.boilerTemperature >= p.tripTemperature)
            u.tripped = true;
        else if (u.boilerTemperature < p.resetTemperature)
            u.tripped = false;
        // Water flows only while there is some to pump.
        u.fillOn = u.valveOn && state.waterPumpOn && !u.full && state.storageWater > 0.0;
        u.burnerOn = u.switchOn && u.fuelPumpOn && u.fuel > 0.0 && !u.tripped && u.heating;
    }
}

} // namespace

double PlantState::totalWater() const
{
    double total = storageWater;
    for (const PlantUnitState& u : units)
        total += u.water;
    return total;
}

PlantSimulator::PlantSimulator(SimulationParameters parameters)
    : m_parameters(std::move(parameters))
{
    for (const PlantVariableSpec& v : Common)
        m_names.push_back(m_parameters.prefix + QLatin1String(v.suffix));
    for (const UnitInitialState& unit : std::as_const(m_parameters.units))
        for (const PlantVariableSpec& v : Unit)
            m_names.push_back(m_parameters.prefix + unit.name + QLatin1Char('.') + QLatin1String(v.suffix));
    m_state = initialState();
}

std::span<const PlantVariableSpec> PlantSimulator::commonVariables()
{
    return Common;
}

std::span<const PlantVariableSpec> PlantSimulator::unitVariables()
{
    return Unit;
}

PlantState PlantSimulator::initialState() const
{
    PlantState s;
    s.storageWater = m_parameters.storageWater;
    s.waterPumpOn = m_parameters.waterPumpOn;
    s.outletOpen = m_parameters.outletOpen;
    s.random = m_parameters.seed ? m_parameters.seed : 0x9E3779B97F4A7C15ULL;
    for (const UnitInitialState& init : std::as_const(m_parameters.units)) {
        PlantUnitState u;
        u.water = init.water;
        u.waterTemperature = init.waterTemperature;
        u.fuel = init.fuel;
        u.boilerTemperature = init.boilerTemperature;
        u.valveOn = init.valveOn;
        u.fuelPumpOn = init.fuelPumpOn;
        u.switchOn = init.switchOn;
        u.full = init.water >= m_parameters.unit.waterCapacity;
        s.units.push_back(u);
    }
    deriveFlags(s, m_parameters);
    return s;
}

void PlantSimulator::setState(PlantState state)
{
    m_state = std::move(state);
    updateDerived();
}

double PlantSimulator::noise()
{
    // xorshift64*: tiny, and the same sequence on every platform (std distributions are not).
    quint64 x = m_state.random;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    m_state.random = x;
    const quint64 r = x * 0x2545F4914F6CDD1DULL;
    return static_cast<double>(r >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

void PlantSimulator::updateDerived()
{
    deriveFlags(m_state, m_parameters);
}

void PlantSimulator::setTimeOfDay(double secondsOfDay)
{
    m_dayOffset = secondsOfDay - std::fmod(m_state.seconds, m_parameters.demandPeriodSeconds);
}

double PlantSimulator::heatDemand() const
{
    // Least at the start of a period (midnight once set to the clock), most in its middle.
    const double day = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * (m_state.seconds + m_dayOffset) / m_parameters.demandPeriodSeconds));
    return m_parameters.unit.baseDemand + (1.0 - m_parameters.unit.baseDemand) * day;
}

void PlantSimulator::advance(double seconds)
{
    if (!(seconds > 0.0))
        return;
    const double steps = std::ceil(seconds);
    const double dt = seconds / steps;
    for (double i = 0; i < steps; ++i)
        step(dt);
}

void PlantSimulator::step(double dt)
{
    const UnitParameters& p = m_parameters.unit;
    const StorageParameters& sp = m_parameters.storage;
    const double ambient = m_parameters.ambientTemperature;
    updateDerived();

    // Supply: the pump shares what the storage tank holds among the open valves.
    double asked = 0.0;
    std::vector<double> wanted(m_state.units.size(), 0.0);
    for (size_t i = 0; i < m_state.units.size(); ++i) {
        const PlantUnitState& u = m_state.units[i];
        if (u.fillOn)
            wanted[i] = std::min(p.fillFlow * dt, p.waterCapacity - u.water);
        asked += wanted[i];
    }
    const double share = asked > m_state.storageWater ? m_state.storageWater / asked : 1.0;
    for (size_t i = 0; i < m_state.units.size(); ++i) {
        PlantUnitState& u = m_state.units[i];
        const double in = wanted[i] * share;
        if (in <= 0.0)
            continue;
        m_state.storageWater -= in;
        u.waterTemperature = (u.waterTemperature * u.water + m_parameters.supplyTemperature * in) / (u.water + in);
        u.water += in;
        // The full switch trips here, before evaporation in the same step takes the tank below full.
        if (u.water >= p.waterCapacity)
            u.full = true;
    }
    m_state.storageWater = std::max(0.0, m_state.storageWater);

    const double demand = heatDemand();
    for (size_t i = 0; i < m_state.units.size(); ++i) {
        PlantUnitState& u = m_state.units[i];
        const UnitInitialState& unit = m_parameters.units[static_cast<qsizetype>(i)];
        const double loss = p.waterLoss * unit.lossScale + p.demandLoss * demand * unit.demandScale;
        double flame = 0.0;
        if (u.burnerOn) {
            const double want = p.fuelConsumption * unit.burnerScale * dt * (1.0 + p.noise * noise());
            const double burnt = std::min(u.fuel, want);
            u.fuel -= burnt;
            m_state.fuelBurned += burnt;
            flame = want > 0.0 ? burnt / want : 0.0;
        }
        const double heat = p.burnerHeat * unit.burnerScale * dt * flame * (1.0 + p.noise * noise());
        const double wet = std::min(1.0, u.water / p.wetLevel);
        const double difference = u.boilerTemperature - u.waterTemperature;
        u.boilerTemperature += heat - p.boilerLoss * (u.boilerTemperature - ambient) * dt - p.boilerToWater * wet * difference * dt;

        // A hot boiler raises steam from the tank's water; the consumers condense it and it runs back to
        // the storage tank. It stops soon after the flame goes out, as the boiler cools below steamStart.
        const double steam = std::min(u.water, p.steamPerDegree * std::max(0.0, u.boilerTemperature - p.steamStart) * wet * dt);
        u.water -= steam;
        m_state.storageWater += steam;
        u.condensate = steam / dt;
        if (u.water >= 1.0) {
            const double gained = p.heatTransfer * wet * difference * dt - loss * (u.waterTemperature - ambient) * u.water * dt;
            u.waterTemperature += gained / u.water;
            if (u.waterTemperature > p.boilingPoint) {
                // Heat beyond the boiling point turns water into steam, which returns as condensate.
                const double boiled = std::min(u.water, (u.waterTemperature - p.boilingPoint) * u.water / p.latentHeat);
                u.water -= boiled;
                m_state.storageWater += boiled;
                u.condensate += boiled / dt;
                u.waterTemperature = p.boilingPoint;
            }
        } else {
            // A dry tank's sensor reads the surrounding air.
            u.waterTemperature += (ambient - u.waterTemperature) * std::min(1.0, 0.01 * dt);
        }
        u.waterTemperature = clamp(u.waterTemperature, std::min(ambient, m_parameters.supplyTemperature) - 1.0, p.boilingPoint);
        u.boilerTemperature = clamp(u.boilerTemperature, ambient - 1.0, 5000.0);
        u.water = clamp(u.water, 0.0, p.waterCapacity);

        // Fuel: a delivery is ordered once the tank runs low and arrives after the delay.
        if (u.deliveryDueIn < 0.0 && u.fuel < m_parameters.delivery.orderBelow) {
            u.deliveryDueIn = m_parameters.delivery.delaySeconds;
        } else if (u.deliveryDueIn >= 0.0) {
            u.deliveryDueIn -= dt;
            if (u.deliveryDueIn <= 0.0) {
                const double delivered = std::min(m_parameters.delivery.amount, p.fuelCapacity - u.fuel);
                u.fuel += delivered;
                m_state.fuelDelivered += delivered;
                u.deliveryDueIn = -1.0;
            }
        }
    }

    if (m_state.outletOpen) {
        const double out = std::min(sp.outletFlow * dt, m_state.storageWater);
        m_state.storageWater -= out;
        m_state.outletTotal += out;
    }
    if (m_state.storageWater < sp.refillBelow)
        m_state.refilling = true;
    else if (m_state.storageWater >= sp.refillUpTo)
        m_state.refilling = false;
    if (m_state.refilling) {
        const double in = std::min(sp.refillFlow * dt, std::max(0.0, sp.refillUpTo - m_state.storageWater));
        m_state.storageWater += in;
        m_state.refillTotal += in;
    }
    if (m_state.storageWater > sp.capacity) {
        m_state.overflowTotal += m_state.storageWater - sp.capacity;
        m_state.storageWater = sp.capacity;
    }
    m_state.seconds += dt;
    updateDerived();
}

bool* PlantSimulator::switchAt(int index)
{
    if (index == 0)
        return &m_state.waterPumpOn;
    if (index == 2)
        return &m_state.outletOpen;
    if (index < CommonCount)
        return nullptr;
    PlantUnitState& u = m_state.units[static_cast<size_t>((index - CommonCount) / UnitCount)];
    switch ((index - CommonCount) % UnitCount) {
    case 1: return &u.valveOn;
    case 5: return &u.fuelPumpOn;
    case 7: return &u.switchOn;
    }
    return nullptr;
}

bool PlantSimulator::setSwitch(const QString& name, bool on)
{
    const int index = indexOf(name);
    bool* target = index >= 0 ? switchAt(index) : nullptr;
    if (!target)
        return false;
    *target = on;
    updateDerived();
    return true;
}

int PlantSimulator::indexOf(const QString& name) const
{
    const auto it = std::find(m_names.begin(), m_names.end(), name);
    return it == m_names.end() ? -1 : static_cast<int>(it - m_names.begin());
}

QVariant PlantSimulator::value(int index) const
{
    switch (index) {
    case 0: return m_state.waterPumpOn;
    case 1: return m_state.storageWater;
    case 2: return m_state.outletOpen;
    }
    if (index < CommonCount || index >= variableCount())
        return {};
    return unitValue(m_state.units[static_cast<size_t>((index - CommonCount) / UnitCount)], (index - CommonCount) % UnitCount);
}

QVariant PlantSimulator::deliveredValue(int index) const
{
    const PlantVariableSpec& variable = index < CommonCount ? Common[static_cast<size_t>(index)] : Unit[static_cast<size_t>((index - CommonCount) % UnitCount)];
    const QVariant v = value(index);
    // The plant computes in full precision; what leaves it has a register's resolution.
    if (variable.resolution > 0.0)
        return static_cast<double>(std::llround(v.toDouble() / variable.resolution)) * variable.resolution;
    return v;
}

double PlantSimulator::numericValue(int index) const
{
    const QVariant v = deliveredValue(index);
    return v.typeId() == QMetaType::Bool ? (v.toBool() ? 1.0 : 0.0) : v.toDouble();
}

void PlantSimulator::publish(TagStore& tags, qint64 timestampMs) const
{
    for (int i = 0; i < variableCount(); ++i)
        tags.publish(m_names[static_cast<size_t>(i)], deliveredValue(i), TagQuality::Good, timestampMs);
}

QJsonObject PlantSimulator::saveState() const
{
    QJsonArray units;
    for (const PlantUnitState& u : m_state.units) {
        units.append(QJsonObject{
            {QStringLiteral("water"), u.water},
            {QStringLiteral("waterTemperature"), u.waterTemperature},
            {QStringLiteral("fuel"), u.fuel},
            {QStringLiteral("boilerTemperature"), u.boilerTemperature},
            {QStringLiteral("valveOn"), u.valveOn},
            {QStringLiteral("fuelPumpOn"), u.fuelPumpOn},
            {QStringLiteral("switchOn"), u.switchOn},
            {QStringLiteral("full"), u.full},
            {QStringLiteral("tripped"), u.tripped},
            {QStringLiteral("heating"), u.heating},
            {QStringLiteral("deliveryDueIn"), u.deliveryDueIn},
        });
    }
    return QJsonObject{
        {QStringLiteral("storageWater"), m_state.storageWater},
        {QStringLiteral("waterPumpOn"), m_state.waterPumpOn},
        {QStringLiteral("outletOpen"), m_state.outletOpen},
        {QStringLiteral("refilling"), m_state.refilling},
        // As text: a JSON number cannot carry all 64 bits.
        {QStringLiteral("random"), QString::number(m_state.random)},
        {QStringLiteral("seconds"), m_state.seconds},
        {QStringLiteral("units"), units},
    };
}

bool PlantSimulator::restoreState(const QJsonObject& saved)
{
    const QJsonArray units = saved.value(QStringLiteral("units")).toArray();
    if (units.size() != static_cast<qsizetype>(m_parameters.units.size()) || !saved.value(QStringLiteral("storageWater")).isDouble())
        return false;
    const UnitParameters& p = m_parameters.unit;
    PlantState s = initialState();
    s.storageWater = clamp(saved.value(QStringLiteral("storageWater")).toDouble(), 0.0, m_parameters.storage.capacity);
    s.waterPumpOn = saved.value(QStringLiteral("waterPumpOn")).toBool(s.waterPumpOn);
    s.outletOpen = saved.value(QStringLiteral("outletOpen")).toBool(s.outletOpen);
    s.refilling = saved.value(QStringLiteral("refilling")).toBool(false);
    bool ok = false;
    const quint64 random = saved.value(QStringLiteral("random")).toString().toULongLong(&ok);
    if (ok && random)
        s.random = random;
    s.seconds = std::max(0.0, saved.value(QStringLiteral("seconds")).toDouble(0.0));
    for (qsizetype i = 0; i < units.size(); ++i) {
        const QJsonObject o = units.at(i).toObject();
        PlantUnitState& u = s.units[static_cast<size_t>(i)];
        u.water = clamp(o.value(QStringLiteral("water")).toDouble(u.water), 0.0, p.waterCapacity);
        u.waterTemperature = clamp(o.value(QStringLiteral("waterTemperature")).toDouble(u.waterTemperature), -40.0, p.boilingPoint);
        u.fuel = clamp(o.value(QStringLiteral("fuel")).toDouble(u.fuel), 0.0, p.fuelCapacity);
        u.boilerTemperature = clamp(o.value(QStringLiteral("boilerTemperature")).toDouble(u.boilerTemperature), -40.0, 5000.0);
        u.valveOn = o.value(QStringLiteral("valveOn")).toBool(u.valveOn);
        u.fuelPumpOn = o.value(QStringLiteral("fuelPumpOn")).toBool(u.fuelPumpOn);
        u.switchOn = o.value(QStringLiteral("switchOn")).toBool(u.switchOn);
        u.full = o.value(QStringLiteral("full")).toBool(false);
        u.tripped = o.value(QStringLiteral("tripped")).toBool(false);
        // A snapshot from before the thermostat lets it decide afresh from the water temperature.
        u.heating = o.value(QStringLiteral("heating")).toBool(u.waterTemperature < m_parameters.units[i].setPoint);
        u.deliveryDueIn = std::min(o.value(QStringLiteral("deliveryDueIn")).toDouble(-1.0), m_parameters.delivery.delaySeconds);
    }
    // A restored plant may not hold more water than its storage tank takes.
    const double excess = s.totalWater() - m_parameters.storage.capacity;
    if (excess > 0.0)
        s.storageWater = std::max(0.0, s.storageWater - excess);
    setState(std::move(s));
    return true;
}
