#pragma once

#include "TagStore.h"

#include <QList>
#include <QModbusDataUnit>
#include <QString>
#include <QVariant>

#include <optional>
#include <span>

enum class ModbusTable { Coil, DiscreteInput, HoldingRegister, InputRegister };
enum class ModbusValueType { Bool, Int16, UInt16, Int32, UInt32, Float32 };
/// Which 16-bit register of a 32-bit value comes first.
enum class ModbusWordOrder { HighFirst, LowFirst };

/// \brief Where one process variable lives in the PLC and how its raw value becomes the variable's:
/// value = raw × scale + offset.
struct ModbusMapping {
    QString variable;
    TagType variableType = TagType::Double;
    bool writable = false;
    ModbusTable table = ModbusTable::HoldingRegister;
    int address = 0;
    ModbusValueType type = ModbusValueType::UInt16;
    ModbusWordOrder wordOrder = ModbusWordOrder::HighFirst;
    double scale = 1.0;
    double offset = 0.0;

    /// Coils or registers the value takes.
    int width() const;
    /// The variable's value from its raw words (a coil is one word 0 or 1); nothing for a value that is
    /// not a finite number.
    std::optional<QVariant> decode(std::span<const quint16> words) const;
    /// The raw words for a variable's value; nothing when it does not fit the raw type.
    std::optional<QList<quint16>> encode(const QVariant& value) const;
};

struct ModbusConnection {
    QString host;
    int port = 502;
    int unitId = 1;
    int pollIntervalMs = 1000;
    int responseTimeoutMs = 1000;
    int retries = 0;
};

/// One read request: a contiguous run of one table and the mappings it serves.
struct ModbusBlock {
    ModbusTable table = ModbusTable::HoldingRegister;
    int start = 0;
    int count = 0;
    QList<int> mappings; ///< indexes into ModbusConfig::map
};

/// \brief The project's modbus.json: the connection to the PLC and one mapping per variable.
struct ModbusConfig {
    /// The most a single read asks for, as the protocol allows.
    static constexpr int MaxRegistersPerRead = 125;
    static constexpr int MaxCoilsPerRead = 2000;

    ModbusConnection connection;
    QList<ModbusMapping> map;

    /// The reads that cover the map: contiguous runs of one table, as few as the protocol's limits allow.
    QList<ModbusBlock> blocks() const;
    /// -1 for a variable without mapping.
    int indexOf(const QString& variable) const;

    static QString tableName(ModbusTable table);
    /// The table as Qt's Modbus classes name it.
    static QModbusDataUnit::RegisterType registerType(ModbusTable table);
};

struct ModbusConfigResult {
    ModbusConfig config;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

/// \brief Reads and checks modbus.json against the project's variables, through the project files'
/// JsonFile: unknown fields and a field given twice are refused. Every variable needs exactly one
/// mapping, except the runtime's own status variables (named below `statusPrefix`), which no PLC
/// delivers. Never throws; an error names the file, the field, its line and the reason.
class ModbusConfigLoader final {
public:
    static ModbusConfigResult load(const QString& folder, const QList<TagDefinition>& variables, const QString& statusPrefix);
    /// The same for a map file of any name (the fake PLC reads the station's file).
    static ModbusConfigResult loadFile(const QString& path, const QList<TagDefinition>& variables, const QString& statusPrefix);
};
