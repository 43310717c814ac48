#pragma once

#include "Project.h"

#include <QJsonObject>
#include <QString>
#include <QVariant>

#include <span>
#include <vector>

class TagStore;

/// One variable the simulation reads or writes, named below the prefix (and the unit for unit variables).
struct PlantVariableSpec {
    const char* suffix;
    bool isBool;
    bool operatorSwitch;
    /// A number is published as a whole multiple of this, as a PLC delivers it from a scaled
    /// register (the Modbus demo's scale where it has one); 0 for switches.
    double resolution = 0.0;
};

struct PlantUnitState {
    double water = 0.0;              ///< l in the unit's water tank
    double waterTemperature = 20.0;  ///< °C
    double fuel = 0.0;               ///< l in the fuel tank
    double boilerTemperature = 20.0; ///< °C
    double condensate = 0.0;         ///< l/s returning to the storage tank during the last step
    bool valveOn = false;
    bool fuelPumpOn = false;
    bool switchOn = false;
    bool full = false;               ///< the tank's full switch, released below the reset level
    bool tripped = false;            ///< the overheat guard has put the flame out
    bool heating = true;             ///< the thermostat calls for heat
    bool fillOn = false;
    bool burnerOn = false;
    double deliveryDueIn = -1.0;     ///< s until the ordered fuel arrives; negative: none ordered
};

/// \brief Everything that changes while the plant runs; with the parameters it fixes the future.
struct PlantState {
    double storageWater = 0.0;
    bool waterPumpOn = false;
    bool outletOpen = false;
    bool refilling = false;
    std::vector<PlantUnitState> units;
    quint64 random = 1;
    double seconds = 0.0; ///< simulated time since the state was made

    // Totals since the state was made, so the water and fuel balance can be checked.
    double outletTotal = 0.0;
    double refillTotal = 0.0;
    double overflowTotal = 0.0;
    double fuelDelivered = 0.0;
    double fuelBurned = 0.0;

    double totalWater() const;
};

/// \brief The plant model: storage tank, water pump and supply pipe, and per unit a fill valve, water
/// tank, fuel tank and pump, burner with its thermostat, boiler and condensate line. Deterministic:
/// the same state and the same steps give the same result on every machine.
class PlantSimulator final {
public:
    explicit PlantSimulator(SimulationParameters parameters);

    static std::span<const PlantVariableSpec> commonVariables();
    static std::span<const PlantVariableSpec> unitVariables();

    const SimulationParameters& parameters() const { return m_parameters; }
    const PlantState& state() const { return m_state; }
    void setState(PlantState state);
    /// The state the project starts from.
    PlantState initialState() const;

    /// Runs the plant for `seconds` of plant time, in steps of at most one second.
    void advance(double seconds);

    /// Lines the demand's period up with the clock: `secondsOfDay` (local time since midnight) is now,
    /// so the consumers draw least at midnight and most at noon. Not part of the saved state: the
    /// runtime sets it from its clock at every start.
    void setTimeOfDay(double secondsOfDay);
    /// The consumers' heat demand now, as a share of its peak (the base demand at night, 1 at noon).
    double heatDemand() const;

    /// Applies an operator switch by variable name. False for a name that is no switch of the plant.
    bool setSwitch(const QString& name, bool on);

    int variableCount() const { return static_cast<int>(m_names.size()); }
    const QString& variableName(int index) const { return m_names[static_cast<size_t>(index)]; }
    /// -1 for a name the plant does not drive.
    int indexOf(const QString& name) const;
    QVariant value(int index) const;
    /// The value as the plant delivers it: numbers at their register's resolution.
    QVariant deliveredValue(int index) const;
    /// The delivered value as a number for the archive; on/off gives 1/0.
    double numericValue(int index) const;

    /// Publishes every variable of the plant with the given time stamp.
    void publish(TagStore& tags, qint64 timestampMs) const;

    QJsonObject saveState() const;
    /// Restores a saved state; values out of range are clamped. False when the snapshot does not fit
    /// this plant (other unit count or not a snapshot at all).
    bool restoreState(const QJsonObject& saved);

private:
    void step(double dt);
    void updateDerived();
    double noise();
    bool* switchAt(int index);

    SimulationParameters m_parameters;
    PlantState m_state;
    std::vector<QString> m_names;
    double m_dayOffset = 0.0; ///< plant seconds from the period's start to the state's seconds 0
};
