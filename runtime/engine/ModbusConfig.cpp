#include "ModbusConfig.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

namespace {

constexpr int LastAddress = 65535;

struct ConfigFault {
    QString message;
};

/// Field access on modbus.json; every fault names the file and the field, e.g. map[3].address.
class Reader {
public:
    explicit Reader(QString path)
        : m_path(std::move(path))
    {
    }

    [[noreturn]] void fail(const QString& field, const QString& reason) const
    {
        throw ConfigFault{QStringLiteral("%1, field %2: %3").arg(m_path, field, reason)};
    }

    QJsonValue field(const QJsonObject& object, const QString& place, const char* key, bool required) const
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() && required)
            fail(place + QLatin1String(key), QStringLiteral("missing"));
        return value;
    }

    QString text(const QJsonObject& object, const QString& place, const char* key, const QString& fallback = {}, bool required = true) const
    {
        const QJsonValue value = field(object, place, key, required);
        if (value.isUndefined())
            return fallback;
        if (!value.isString() || value.toString().trimmed().isEmpty())
            fail(place + QLatin1String(key), QStringLiteral("expected a text in quotes"));
        return value.toString();
    }

    double number(const QJsonObject& object, const QString& place, const char* key, double low, double high, std::optional<double> fallback = {}) const
    {
        const QJsonValue value = field(object, place, key, !fallback);
        if (value.isUndefined())
            return *fallback;
        if (!value.isDouble())
            fail(place + QLatin1String(key), QStringLiteral("expected a number"));
        const double n = value.toDouble();
        if (!std::isfinite(n) || n < low || n > high)
            fail(place + QLatin1String(key), QStringLiteral("%1 is outside %2 to %3").arg(n).arg(low).arg(high));
        return n;
    }

    int whole(const QJsonObject& object, const QString& place, const char* key, int low, int high, std::optional<int> fallback = {}) const
    {
        const double n = number(object, place, key, low, high, fallback);
        if (n != std::trunc(n))
            fail(place + QLatin1String(key), QStringLiteral("expected a whole number, found %1").arg(n));
        return static_cast<int>(n);
    }

    template <class E>
    E choice(const QJsonObject& object, const QString& place, const char* key, const QList<std::pair<QString, E>>& names, std::optional<E> fallback = {}) const
    {
        const QJsonValue value = field(object, place, key, !fallback);
        if (value.isUndefined())
            return *fallback;
        QStringList known;
        for (const auto& [name, e] : names) {
            if (value.toString() == name)
                return e;
            known.append(name);
        }
        fail(place + QLatin1String(key), QStringLiteral("expected one of %1").arg(known.join(QStringLiteral(", "))));
    }

private:
    QString m_path;
};

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
    const Reader r(path);
    QFile file(path);
    if (!file.exists())
        throw ConfigFault{QStringLiteral("%1: the file is missing; a project with \"source\": \"modbus\" needs it").arg(path)};
    if (!file.open(QIODevice::ReadOnly))
        throw ConfigFault{QStringLiteral("%1: cannot read the file: %2").arg(path, file.errorString())};
    const QByteArray data = file.readAll();
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &parse);
    if (parse.error != QJsonParseError::NoError) {
        const int line = static_cast<int>(data.left(parse.offset).count('\n')) + 1;
        throw ConfigFault{QStringLiteral("%1, line %2: %3").arg(path).arg(line).arg(parse.errorString())};
    }
    if (!doc.isObject())
        throw ConfigFault{QStringLiteral("%1, line 1: the file must hold one JSON object { ... }").arg(path)};
    const QJsonObject root = doc.object();

    ModbusConfig config;
    const QJsonValue connection = r.field(root, {}, "connection", true);
    if (!connection.isObject())
        r.fail(QStringLiteral("connection"), QStringLiteral("expected an object { ... }"));
    const QJsonObject c = connection.toObject();
    const QString cp = QStringLiteral("connection.");
    ModbusConnection& link = config.connection;
    link.host = r.text(c, cp, "host");
    link.port = r.whole(c, cp, "port", 1, 65535);
    link.unitId = r.whole(c, cp, "unitId", 0, 255);
    link.pollIntervalMs = r.whole(c, cp, "pollIntervalMilliseconds", 10, 60000);
    link.responseTimeoutMs = r.whole(c, cp, "responseTimeoutMilliseconds", 10, 60000);
    link.retries = r.whole(c, cp, "retries", 0, 10);

    QHash<QString, const TagDefinition*> byName;
    for (const TagDefinition& def : variables)
        byName.insert(def.name, &def);

    const QJsonValue list = r.field(root, {}, "map", true);
    if (!list.isArray())
        r.fail(QStringLiteral("map"), QStringLiteral("expected a list [ ... ]"));
    const QJsonArray entries = list.toArray();
    QHash<QString, QString> placeOf;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString at = QStringLiteral("map[%1]").arg(i);
        if (!entries.at(i).isObject())
            r.fail(at, QStringLiteral("expected an object { ... }"));
        const QJsonObject e = entries.at(i).toObject();
        ModbusMapping m;
        m.variable = r.text(e, at + QLatin1Char('.'), "variable");
        const QString place = QStringLiteral("%1 \"%2\".").arg(at, m.variable);
        const TagDefinition* def = byName.value(m.variable);
        if (!def)
            r.fail(place + QStringLiteral("variable"), QStringLiteral("no process variable \"%1\" in variables.json").arg(m.variable));
        if (m.variable.startsWith(statusPrefix))
            r.fail(place + QStringLiteral("variable"), QStringLiteral("a status variable of the runtime itself; no PLC delivers it"));
        if (placeOf.contains(m.variable))
            r.fail(place + QStringLiteral("variable"), QStringLiteral("mapped twice (first at %1)").arg(placeOf.value(m.variable)));
        placeOf.insert(m.variable, at);
        m.variableType = def->type;
        m.writable = def->writable;
        m.table = r.choice(e, place, "table", Tables);
        const bool bits = isBitTable(m.table);
        m.type = r.choice(e, place, "type", Types, bits ? std::optional(ModbusValueType::Bool) : std::nullopt);
        if (bits != (m.type == ModbusValueType::Bool))
            r.fail(place + QStringLiteral("type"), bits ? QStringLiteral("coils and discrete inputs hold bool only")
                                                       : QStringLiteral("registers hold int16, uint16, int32, uint32 or float32"));
        if ((def->type == TagType::Bool) != bits || def->type == TagType::String)
            r.fail(place + QStringLiteral("table"), def->type == TagType::Bool ? QStringLiteral("an on/off variable needs a coil or discrete input")
                                                                                : QStringLiteral("a numeric variable needs a holding or input register"));
        if (m.writable && (m.table == ModbusTable::DiscreteInput || m.table == ModbusTable::InputRegister))
            r.fail(place + QStringLiteral("table"), QStringLiteral("\"%1\" is writable, but a %2 cannot be written").arg(m.variable, ModbusConfig::tableName(m.table)));
        m.address = r.whole(e, place, "address", 0, LastAddress);
        if (m.address + m.width() - 1 > LastAddress)
            r.fail(place + QStringLiteral("address"), QStringLiteral("a %1-register value at %2 runs past the last address %3").arg(m.width()).arg(m.address).arg(LastAddress));
        m.wordOrder = r.choice(e, place, "wordOrder", WordOrders, std::optional(ModbusWordOrder::HighFirst));
        m.scale = r.number(e, place, "scale", -1e12, 1e12, 1.0);
        if (m.scale == 0.0)
            r.fail(place + QStringLiteral("scale"), QStringLiteral("must not be 0"));
        m.offset = r.number(e, place, "offset", -1e12, 1e12, 0.0);
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
    } catch (const ConfigFault& fault) {
        result.error = fault.message;
    }
    return result;
}
