#pragma once

#include "TagStore.h"

#include <QList>
#include <QString>

/// The physics of one heating unit; all units share them.
struct UnitParameters {
    double waterCapacity = 10000.0;   ///< l
    double fillFlow = 8.0;            ///< l/s through an open fill valve while the water pump runs
    double fullResetLevel = 9500.0;   ///< l: the full switch releases below this level again
    double fuelCapacity = 500.0;      ///< l
    double fuelConsumption = 0.04;    ///< l/s while the burner burns
    double burnerHeat = 12.0;         ///< °C/s the flame adds to the boiler
    double boilerLoss = 0.004;        ///< 1/s, boiler heat lost to the surroundings
    double boilerToWater = 0.01;      ///< 1/s, boiler heat handed to the water
    double heatTransfer = 1.3;        ///< l/s: water heating, in °C·l per s and °C of difference
    double waterLoss = 0.0002;        ///< 1/s, water heat lost to the surroundings
    double boilingPoint = 100.0;      ///< °C
    double latentHeat = 539.0;        ///< °C·l needed to evaporate one litre at the boiling point
    double wetLevel = 500.0;          ///< l below which the heating surface starts to run dry
    double tripTemperature = 1200.0;  ///< °C: the overheat guard puts the flame out
    double resetTemperature = 950.0;  ///< °C: ... and lets it burn again below this
    double noise = 0.03;              ///< relative variation of fuel flow and flame
    double demandLoss = 0.0013;       ///< 1/s, heat the consumers draw from the water at the daily peak
    double baseDemand = 0.0;          ///< share of the peak demand that the consumers draw all night too
    double steamStart = 0.0;          ///< °C of the boiler above which it raises steam from the tank's water
    double steamPerDegree = 0.0;      ///< l/s of steam per °C the boiler stands above steamStart
};

struct FuelDelivery {
    double orderBelow = 80.0;   ///< l: a delivery is ordered when a tank falls below this
    double delaySeconds = 1200; ///< s from order to arrival
    double amount = 400.0;      ///< l delivered (the tank takes what fits)
};

struct StorageParameters {
    double capacity = 50000.0;  ///< l
    double outletFlow = 40.0;   ///< l/s through the open manual outlet valve
    double refillBelow = 10000; ///< l: fresh-water make-up opens below this level
    double refillUpTo = 20000;  ///< l: ... and closes at this one
    double refillFlow = 25.0;   ///< l/s
};

/// The state of one unit that the operator and the simulation start from.
struct UnitInitialState {
    QString name;               ///< path element below the prefix, e.g. "Unit1"
    double water = 0.0;
    double waterTemperature = 20.0;
    double fuel = 0.0;
    double boilerTemperature = 20.0;
    bool valveOn = false;
    bool fuelPumpOn = false;
    bool switchOn = false;
    double demandScale = 1.0;   ///< this unit's share of the daily heat demand
    double lossScale = 1.0;     ///< this unit's heat loss against the common waterLoss (its insulation)
    double burnerScale = 1.0;   ///< this unit's burner against the common burnerHeat and fuelConsumption
    /// °C of water this unit's thermostat holds; 0: no thermostat, the burner burns while switched on.
    double setPoint = 0.0;
    double switchingDifference = 0.0; ///< °C between the thermostat's on and off points around setPoint
};

struct SimulationParameters {
    QString prefix = QStringLiteral("Ch1.Kalvora.");
    int tickMilliseconds = 1000;
    double speed = 1.0;
    quint64 seed = 1;
    double ambientTemperature = 20.0;
    double supplyTemperature = 40.0;
    double demandPeriodSeconds = 86400.0; ///< the heat demand rises and falls once per period
    UnitParameters unit;
    FuelDelivery delivery;
    StorageParameters storage;
    bool waterPumpOn = true;
    bool outletOpen = false;
    double storageWater = 0.0;
    QList<UnitInitialState> units;
};

enum class AlarmCondition { Above, Below, On, Off };

struct AlarmGroupDefinition {
    QString name;
    int priority = 1;
};

struct AlarmDefinition {
    QString id;
    QString group;
    QString variable;
    AlarmCondition condition = AlarmCondition::Above;
    double limit = 0.0;
    double deadband = 0.0;
    qint64 delayMs = 0;
    QString textKey;       ///< in the text group below
    QString textGroup = QStringLiteral("Indextexte");
    QString helpTopic;
};

struct TrendDefinition {
    QString name;
    QString variable;
    double rangeMin = 0.0;
    double rangeMax = 100.0;
    QString unit;
};

struct ArchiveDefinition {
    QString name;
    QList<TrendDefinition> trends;
};

struct ArchiveSettings {
    int retentionDays = 30;
    int deleteBatch = 1000;
    int recordIntervalMs = 1000;
    QList<ArchiveDefinition> archives;
};

struct TextEntry {
    int languageId = 0;
    QString group;
    QString key;
    QString text;
};

/// Where the runtime takes its process values from.
enum class PlantSourceKind { Simulation, Modbus };

enum class HistoryStoreKind { Embedded, PostgreSql };

/// Where the archive and the alarm journal are kept: files beside the runtime, or a database server.
struct HistorySettings {
    HistoryStoreKind store = HistoryStoreKind::Embedded;
    QString connection; ///< the server's connection string, for PostgreSql
};

/// \brief Everything a runtime project folder holds, validated.
struct Project {
    QString name;
    QString folder;
    PlantSourceKind source = PlantSourceKind::Simulation;
    QList<TagDefinition> variables;
    SimulationParameters simulation;
    QList<AlarmGroupDefinition> alarmGroups;
    QList<AlarmDefinition> alarms;
    ArchiveSettings archive;
    HistorySettings history;
    QList<int> languages;
    QList<TextEntry> texts;
};
