#include "ModbusConfig.h"

#include "JsonFile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

namespace {

constexpr int LastAddress = 65535;

/// The fields of modbus.json by kind of object; anything else is refused, so a misspelt "scale" or
/// "timeout" never starts the station with the default in its place.
const QHash<QString, QStringList>& knownFields()
{
    static const QHash<QString, QStringList> fields{
        {QStringLiteral("modbus"), {QStringLiteral("connection"), QStringLiteral("map")}},
        {QStringLiteral("connection"), {QStringLiteral("host"), QStringLiteral("port"), QStringLiteral("unitId"), QStringLiteral("pollIntervalMilliseconds"), QStringLiteral("responseTimeoutMilliseconds"), QStringLiteral("retries")}},
        {QStringLiteral("mapping"), {QStringLiteral("variable"), QStringLiteral("table"), QStringLiteral("address"), QStringLiteral("type"), QStringLiteral("wordOrder"), QStringLiteral("scale"), QStringLiteral("offset")}},
    };
    return fields;
}

const QList<std::pair<QString, ModbusTable>> Tables{
    {QStringLiteral("coil"), ModbusTable::Coil},
    {QStringLiteral("discreteInput"), ModbusTable::DiscreteInput},
    {QStringLiteral("holding"), ModbusTable::HoldingRegister},
    {QStringLiteral("input"), ModbusTable::InputRegister},
};

const QList<std::pair<QString, ModbusValueType>> Types{
    {QStringLiteral("bool"), ModbusValueType::Bool},
    {QStringLiteral("int16"), ModbusValueType::Int16},
    {QStringLiteral("uint16"), ModbusValueType::UInt16},
    {QStringLiteral("int32"), ModbusValueType::Int32},
    {QStringLiteral("uint32"), ModbusValueType::UInt32},
    {QStringLiteral("float32"), ModbusValueType::Float32},
};

const QList<std::pair<QString, ModbusWordOrder>> WordOrders{
    {QStringLiteral("highFirst"), ModbusWordOrder::HighFirst},
    {QStringLiteral("lowFirst"), ModbusWordOrder::LowFirst},
};

bool isBitTable(ModbusTable table)
{
    return table == ModbusTable::Coil || table == ModbusTable::DiscreteInput;
}

ModbusConfig read(const QString& path, const QList<TagDefinition>& variables, const QString& statusPrefix)
{
    if (!QFileInfo::exists(path))
        throw FileFault{QStringLiteral("%1: the file is missing; a project with \"source\": \"modbus\" needs it").arg(path)};
    const JsonFile r(path, knownFields());
    const QJsonObject& root = r.root();
    r.known(root, {}, QStringLiteral("modbus"));

    ModbusConfig config;
    const QString cp = QStringLiteral("connection");
    const QJsonObject c = r.object(root, {}, "connection");
    r.known(c, cp, cp);
    ModbusConnection& link = config.connection;
    link.host = r.name(c, cp, "host");
    link.port = static_cast<int>(r.whole(c, cp, "port", std::nullopt, 1, 65535));
    link.unitId = static_cast<int>(r.whole(c, cp, "unitId", std::nullopt, 0, 255));
    link.pollIntervalMs = static_cast<int>(r.whole(c, cp, "pollIntervalMilliseconds", std::nullopt, 10, 60000));
    link.responseTimeoutMs = static_cast<int>(r.whole(c, cp, "responseTimeoutMilliseconds", std::nullopt, 10, 60000));
    link.retries = static_cast<int>(r.whole(c, cp, "retries", std::nullopt, 0, 10));

    QHash<QString, const TagDefinition*> byName;
    for (const TagDefinition& def : variables)
        byName.insert(def.name, &def);

    const QJsonArray entries = r.array(root, {}, "map");
    QHash<QString, QString> placeOf;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString at = JsonFile::at(QStringLiteral("map"), i);
        const QJsonObject e = r.element(entries, i, QStringLiteral("map"));
        ModbusMapping m;
        m.variable = r.name(e, at, "variable");
        const QString place = JsonFile::at(QStringLiteral("map"), i, m.variable);
        r.known(e, place, QStringLiteral("mapping"));
        const TagDefinition* def = byName.value(m.variable);
        if (!def)
            r.fail(place + QStringLiteral(".variable"), QStringLiteral("no process variable \"%1\" in variables.json").arg(m.variable));
        if (m.variable.startsWith(statusPrefix))
            r.fail(place + QStringLiteral(".variable"), QStringLiteral("a status variable of the runtime itself; no PLC delivers it"));
        if (placeOf.contains(m.variable))
            r.fail(place + QStringLiteral(".variable"), QStringLiteral("mapped twice (first at %1)").arg(placeOf.value(m.variable)));
        placeOf.insert(m.variable, at);
        m.variableType = def->type;
        m.writable = def->writable;
        m.table = r.choice(e, place, "table", Tables);
        const bool bits = isBitTable(m.table);
        m.type = r.choice(e, place, "type", Types, bits ? std::optional(ModbusValueType::Bool) : std::nullopt);
        if (bits != (m.type == ModbusValueType::Bool))
            r.fail(place + QStringLiteral(".type"), bits ? QStringLiteral("coils and discrete inputs hold bool only")
                                                       : QStringLiteral("registers hold int16, uint16, int32, uint32 or float32"));
        if ((def->type == TagType::Bool) != bits || def->type == TagType::String)
            r.fail(place + QStringLiteral(".table"), def->type == TagType::Bool ? QStringLiteral("an on/off variable needs a coil or discrete input")
                                                                                : QStringLiteral("a numeric variable needs a holding or input register"));
        if (m.writable && (m.table == ModbusTable::DiscreteInput || m.table == ModbusTable::InputRegister))
            r.fail(place + QStringLiteral(".table"), QStringLiteral("\"%1\" is writable, but a %2 cannot be written").arg(m.variable, ModbusConfig::tableName(m.table)));
        m.address = static_cast<int>(r.whole(e, place, "address", std::nullopt, 0, LastAddress));
        if (m.address + m.width() - 1 > LastAddress)
            r.fail(place + QStringLiteral(".address"), QStringLiteral("a %1-register value at %2 runs past the last address %3").arg(m.width()).arg(m.address).arg(LastAddress));
        m.wordOrder = r.choice(e, place, "wordOrder", WordOrders, std::optional(ModbusWordOrder::HighFirst));
        m.scale = r.number(e, place, "scale", 1.0, -1e12, 1e12);
        if (m.scale == 0.0)
            r.fail(place + QStringLiteral(".scale"), QStringLiteral("must not be 0"));
        m.offset = r.number(e, place, "offset", 0.0, -1e12, 1e12);
        config.map.append(m);
    }

    // Two variables on one register would each read the other's writes.
    QList<int> order(config.map.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const ModbusMapping& x = config.map.at(a);
        const ModbusMapping& y = config.map.at(b);
        return std::pair(int(x.table), x.address) < std::pair(int(y.table), y.address);
    });
    for (qsizetype k = 1; k < order.size(); ++k) {
        const ModbusMapping& before = config.map.at(order.at(k - 1));
        const ModbusMapping& m = config.map.at(order.at(k));
        if (m.table == before.table && m.address < before.address + before.width())
            r.fail(QStringLiteral("map[%1] \"%2\".address").arg(order.at(k)).arg(m.variable),
                   QStringLiteral("%1 %2 overlaps \"%3\" at %4").arg(ModbusConfig::tableName(m.table)).arg(m.address).arg(before.variable).arg(before.address));
    }

    for (const TagDefinition& def : variables)
        if (!def.name.startsWith(statusPrefix) && !placeOf.contains(def.name))
            r.fail(QStringLiteral("map"), QStringLiteral("the process variable \"%1\" has no mapping").arg(def.name));
    return config;
}

} // namespace

int ModbusMapping::width() const
{
    switch (type) {
    case ModbusValueType::Int32:
    case ModbusValueType::UInt32:
    case ModbusValueType::Float32:
        return 2;
    default:
        return 1;
    }
}

std::optional<QVariant> ModbusMapping::decode(std::span<const quint16> words) const
{
    if (words.size() < static_cast<size_t>(width()))
        return std::nullopt;
    if (type == ModbusValueType::Bool)
        return QVariant(words[0] != 0);
    double raw = 0.0;
    const quint32 pair = wordOrder == ModbusWordOrder::HighFirst ? (quint32(words[0]) << 16) | words[words.size() > 1 ? 1 : 0]
                                                                 : (quint32(words[words.size() > 1 ? 1 : 0]) << 16) | words[0];
    switch (type) {
    case ModbusValueType::Int16: raw = static_cast<qint16>(words[0]); break;
    case ModbusValueType::UInt16: raw = words[0]; break;
    case ModbusValueType::Int32: raw = static_cast<qint32>(pair); break;
    case ModbusValueType::UInt32: raw = pair; break;
    case ModbusValueType::Float32: raw = std::bit_cast<float>(pair); break;
    case ModbusValueType::Bool: break;
    }
    const double value = raw * scale + offset;
    if (!std::isfinite(value))
        return std::nullopt;
    if (variableType == TagType::Int)
        return QVariant(static_cast<qlonglong>(std::llround(value)));
    return QVariant(value);
}

std::optional<QList<quint16>> ModbusMapping::encode(const QVariant& value) const
{
    if (type == ModbusValueType::Bool)
        return QList<quint16>{quint16(value.toBool() ? 1 : 0)};
    bool ok = false;
    const double raw = (value.toDouble(&ok) - offset) / scale;
    if (!ok || !std::isfinite(raw))
        return std::nullopt;
    const double whole = std::round(raw);
    quint32 bits = 0;
    switch (type) {
    case ModbusValueType::Int16:
        if (whole < -32768 || whole > 32767)
            return std::nullopt;
        return QList<quint16>{static_cast<quint16>(static_cast<qint16>(whole))};
    case ModbusValueType::UInt16:
        if (whole < 0 || whole > 65535)
            return std::nullopt;
        return QList<quint16>{static_cast<quint16>(whole)};
    case ModbusValueType::Int32:
        if (whole < std::numeric_limits<qint32>::min() || whole > std::numeric_limits<qint32>::max())
            return std::nullopt;
        bits = static_cast<quint32>(static_cast<qint32>(whole));
        break;
    case ModbusValueType::UInt32:
        if (whole < 0 || whole > std::numeric_limits<quint32>::max())
            return std::nullopt;
        bits = static_cast<quint32>(whole);
        break;
    case ModbusValueType::Float32:
        if (std::abs(raw) > std::numeric_limits<float>::max())
            return std::nullopt;
        bits = std::bit_cast<quint32>(static_cast<float>(raw));
        break;
    case ModbusValueType::Bool: break;
    }
    const quint16 high = static_cast<quint16>(bits >> 16);
    const quint16 low = static_cast<quint16>(bits & 0xFFFF);
    return wordOrder == ModbusWordOrder::HighFirst ? QList<quint16>{high, low} : QList<quint16>{low, high};
}

QList<ModbusBlock> ModbusConfig::blocks() const
{
    QList<int> order(map.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [this](int a, int b) {
        return std::pair(int(map.at(a).table), map.at(a).address) < std::pair(int(map.at(b).table), map.at(b).address);
    });
    QList<ModbusBlock> result;
    for (const int i : std::as_const(order)) {
        const ModbusMapping& m = map.at(i);
        const int limit = isBitTable(m.table) ? MaxCoilsPerRead : MaxRegistersPerRead;
        if (!result.isEmpty()) {
            ModbusBlock& last = result.last();
            if (last.table == m.table && last.start + last.count == m.address && last.count + m.width() <= limit) {
                last.count += m.width();
                last.mappings.append(i);
                continue;
            }
        }
        result.append({m.table, m.address, m.width(), {i}});
    }
    return result;
}

int ModbusConfig::indexOf(const QString& variable) const
{
    for (qsizetype i = 0; i < map.size(); ++i)
        if (map.at(i).variable == variable)
            return static_cast<int>(i);
    return -1;
}

QString ModbusConfig::tableName(ModbusTable table)
{
    for (const auto& [name, t] : Tables)
        if (t == table)
            return name;
    return {};
}

QModbusDataUnit::RegisterType ModbusConfig::registerType(ModbusTable table)
{
    switch (table) {
    case ModbusTable::Coil: return QModbusDataUnit::Coils;
    case ModbusTable::DiscreteInput: return QModbusDataUnit::DiscreteInputs;
    case ModbusTable::HoldingRegister: return QModbusDataUnit::HoldingRegisters;
    case ModbusTable::InputRegister: return QModbusDataUnit::InputRegisters;
    }
    return QModbusDataUnit::Invalid;
}

ModbusConfigResult ModbusConfigLoader::load(const QString& folder, const QList<TagDefinition>& variables, const QString& statusPrefix)
{
    return loadFile(QDir(folder).filePath(QStringLiteral("modbus.json")), variables, statusPrefix);
}

ModbusConfigResult ModbusConfigLoader::loadFile(const QString& path, const QList<TagDefinition>& variables, const QString& statusPrefix)
{
    ModbusConfigResult result;
    try {
        result.config = read(QDir::toNativeSeparators(path), variables, statusPrefix);
    } catch (const FileFault& fault) {
        result.error = fault.message;
    }
    return result;
}
