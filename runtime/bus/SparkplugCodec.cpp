#include "SparkplugCodec.h"

#include "BusLog.h"
#include "sparkplug_b.pb.h"

#include <QDateTime>

#include <cmath>
#include <limits>
#include <variant>

namespace pb = org::eclipse::tahu::protobuf;

namespace {

// The metric property that carries quality, and its type: Int32 in the standard's numbering.
const std::string qualityKey = "Quality";
constexpr quint32 qualityPropertyType = static_cast<quint32>(SparkplugDataType::Int32);

bool isBirth(SparkplugMessageType type)
{
    return type == SparkplugMessageType::NBIRTH || type == SparkplugMessageType::DBIRTH;
}

// Every message an edge node sends counts in its sequence except NDEATH, which the broker sends for it.
bool needsSeq(SparkplugMessageType type)
{
    return isBirth(type) || type == SparkplugMessageType::NDATA || type == SparkplugMessageType::DDATA
        || type == SparkplugMessageType::DDEATH;
}

bool needsTimestamp(SparkplugMessageType type)
{
    return isBirth(type) || type == SparkplugMessageType::NDATA || type == SparkplugMessageType::DDATA;
}

enum class Field { None, Int, Long, Float, Double, Boolean, String, Bytes };

Field fieldOf(SparkplugDataType type)
{
    switch (type) {
    case SparkplugDataType::Int8:
    case SparkplugDataType::Int16:
    case SparkplugDataType::Int32:
    case SparkplugDataType::UInt8:
    case SparkplugDataType::UInt16:
    case SparkplugDataType::UInt32: return Field::Int;
    case SparkplugDataType::Int64:
    case SparkplugDataType::UInt64:
    case SparkplugDataType::DateTime: return Field::Long;
    case SparkplugDataType::Float: return Field::Float;
    case SparkplugDataType::Double: return Field::Double;
    case SparkplugDataType::Boolean: return Field::Boolean;
    case SparkplugDataType::String:
    case SparkplugDataType::Text: return Field::String;
    case SparkplugDataType::Bytes: return Field::Bytes;
    case SparkplugDataType::Unknown: break;
    }
    return Field::None;
}

Field fieldOf(pb::Payload_Metric::ValueCase valueCase)
{
    switch (valueCase) {
    case pb::Payload_Metric::kIntValue: return Field::Int;
    case pb::Payload_Metric::kLongValue: return Field::Long;
    case pb::Payload_Metric::kFloatValue: return Field::Float;
    case pb::Payload_Metric::kDoubleValue: return Field::Double;
    case pb::Payload_Metric::kBooleanValue: return Field::Boolean;
    case pb::Payload_Metric::kStringValue: return Field::String;
    case pb::Payload_Metric::kBytesValue: return Field::Bytes;
    case pb::Payload_Metric::VALUE_NOT_SET: break;
    }
    return Field::None;
}

QString fieldName(Field field)
{
    static const char* const names[] = {"no", "int", "long", "float", "double", "boolean", "string", "bytes"};
    return QString::fromLatin1(names[static_cast<int>(field)]);
}

std::pair<qint64, qint64> signedRange(SparkplugDataType type)
{
    switch (type) {
    case SparkplugDataType::Int8: return {std::numeric_limits<qint8>::min(), std::numeric_limits<qint8>::max()};
    case SparkplugDataType::Int16: return {std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()};
    case SparkplugDataType::Int32: return {std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()};
    default: return {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    }
}

quint64 unsignedMaximum(SparkplugDataType type)
{
    switch (type) {
    case SparkplugDataType::UInt8: return std::numeric_limits<quint8>::max();
    case SparkplugDataType::UInt16: return std::numeric_limits<quint16>::max();
    case SparkplugDataType::UInt32: return std::numeric_limits<quint32>::max();
    default: return std::numeric_limits<quint64>::max();
    }
}

bool isSignedInteger(int id)
{
    return id == QMetaType::Int || id == QMetaType::LongLong || id == QMetaType::Long || id == QMetaType::Short
        || id == QMetaType::SChar || id == QMetaType::Char;
}

bool isUnsignedInteger(int id)
{
    return id == QMetaType::UInt || id == QMetaType::ULongLong || id == QMetaType::ULong || id == QMetaType::UShort
        || id == QMetaType::UChar;
}

bool isFloating(int id)
{
    return id == QMetaType::Double || id == QMetaType::Float;
}

// A whole number held by a numeric QVariant, as sign and magnitude so that neither end of 64 bits is lost.
std::optional<std::pair<bool, quint64>> wholeNumber(const QVariant& value)
{
    const int id = value.typeId();
    if (isSignedInteger(id)) {
        const qint64 v = value.toLongLong();
        return std::pair{v < 0, v < 0 ? 0 - static_cast<quint64>(v) : static_cast<quint64>(v)};
    }
    if (isUnsignedInteger(id))
        return std::pair{false, value.toULongLong()};
    if (isFloating(id)) {
        const double d = value.toDouble();
        if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) >= 18446744073709551616.0)
            return std::nullopt;
        return std::pair{d < 0, static_cast<quint64>(std::fabs(d))};
    }
    return std::nullopt;
}

std::optional<qint64> signedIn(const QVariant& value, SparkplugDataType type)
{
    const auto whole = wholeNumber(value);
    if (!whole)
        return std::nullopt;
    const auto [low, high] = signedRange(type);
    const auto [negative, magnitude] = *whole;
    if (negative ? magnitude > 0 - static_cast<quint64>(low) : magnitude > static_cast<quint64>(high))
        return std::nullopt;
    return negative ? static_cast<qint64>(0 - magnitude) : static_cast<qint64>(magnitude);
}

std::optional<quint64> unsignedIn(const QVariant& value, SparkplugDataType type)
{
    const auto whole = wholeNumber(value);
    if (!whole || (whole->first && whole->second != 0) || whole->second > unsignedMaximum(type))
        return std::nullopt;
    return whole->second;
}

void writeValue(pb::Payload_Metric& metric, SparkplugDataType type, const QVariant& value)
{
    switch (type) {
    case SparkplugDataType::Int8:
    case SparkplugDataType::Int16:
    case SparkplugDataType::Int32: metric.set_int_value(static_cast<quint32>(value.toInt())); break;
    case SparkplugDataType::UInt8:
    case SparkplugDataType::UInt16:
    case SparkplugDataType::UInt32: metric.set_int_value(value.toUInt()); break;
    case SparkplugDataType::Int64: metric.set_long_value(static_cast<quint64>(value.toLongLong())); break;
    case SparkplugDataType::UInt64: metric.set_long_value(value.toULongLong()); break;
    case SparkplugDataType::DateTime: metric.set_long_value(static_cast<quint64>(value.toDateTime().toMSecsSinceEpoch())); break;
    case SparkplugDataType::Float: metric.set_float_value(value.toFloat()); break;
    case SparkplugDataType::Double: metric.set_double_value(value.toDouble()); break;
    case SparkplugDataType::Boolean: metric.set_boolean_value(value.toBool()); break;
    case SparkplugDataType::String:
    case SparkplugDataType::Text: metric.set_string_value(value.toString().toStdString()); break;
    case SparkplugDataType::Bytes: {
        const QByteArray bytes = value.toByteArray();
        metric.set_bytes_value(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        break;
    }
    case SparkplugDataType::Unknown: break;
    }
}

// The wire value in the type's canonical Qt type, or the reason it is not one.
std::variant<QVariant, QString> readValue(const pb::Payload_Metric& metric, SparkplugDataType type)
{
    switch (type) {
    case SparkplugDataType::Int8:
    case SparkplugDataType::Int16:
    case SparkplugDataType::Int32: {
        const auto value = static_cast<qint32>(metric.int_value());
        const auto [low, high] = signedRange(type);
        if (value < low || value > high)
            return QStringLiteral("the value %1 is out of the range of %2").arg(value).arg(sparkplugDataTypeName(type));
        return QVariant(static_cast<int>(value));
    }
    case SparkplugDataType::UInt8:
    case SparkplugDataType::UInt16:
    case SparkplugDataType::UInt32:
        if (metric.int_value() > unsignedMaximum(type))
            return QStringLiteral("the value %1 is out of the range of %2").arg(metric.int_value()).arg(sparkplugDataTypeName(type));
        return QVariant(static_cast<uint>(metric.int_value()));
    case SparkplugDataType::Int64: return QVariant(static_cast<qlonglong>(metric.long_value()));
    case SparkplugDataType::UInt64: return QVariant(static_cast<qulonglong>(metric.long_value()));
    case SparkplugDataType::DateTime: {
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(metric.long_value()), Qt::UTC);
        if (!time.isValid())
            return QStringLiteral("the time stamp %1 is not a date").arg(metric.long_value());
        return QVariant(time);
    }
    case SparkplugDataType::Float: return QVariant(metric.float_value());
    case SparkplugDataType::Double: return QVariant(metric.double_value());
    case SparkplugDataType::Boolean: return QVariant(metric.boolean_value());
    case SparkplugDataType::String:
    case SparkplugDataType::Text: return QVariant(QString::fromStdString(metric.string_value()));
    case SparkplugDataType::Bytes: return QVariant(QByteArray::fromStdString(metric.bytes_value()));
    case SparkplugDataType::Unknown: break;
    }
    return QStringLiteral("the data type is not carried");
}

std::optional<SparkplugQuality> qualityOf(qint32 code)
{
    switch (code) {
    case static_cast<qint32>(SparkplugQuality::Bad): return SparkplugQuality::Bad;
    case static_cast<qint32>(SparkplugQuality::Good): return SparkplugQuality::Good;
    case static_cast<qint32>(SparkplugQuality::Stale): return SparkplugQuality::Stale;
    default: return std::nullopt;
    }
}

// The "Quality" property of a metric, good when absent; other properties are read past.
std::variant<SparkplugQuality, QString> readQuality(const pb::Payload_Metric& metric)
{
    if (!metric.has_properties())
        return SparkplugQuality::Good;
    const pb::Payload_PropertySet& properties = metric.properties();
    if (properties.keys_size() != properties.values_size())
        return QStringLiteral("its property set has %1 keys but %2 values").arg(properties.keys_size()).arg(properties.values_size());
    for (int i = 0; i < properties.keys_size(); ++i) {
        if (properties.keys(i) != qualityKey)
            continue;
        const pb::Payload_PropertyValue& value = properties.values(i);
        if (value.type() != qualityPropertyType || value.value_case() != pb::Payload_PropertyValue::kIntValue)
            return QStringLiteral("its Quality property is not an Int32");
        const auto quality = qualityOf(static_cast<qint32>(value.int_value()));
        if (!quality)
            return QStringLiteral("its Quality %1 is not 0, 192 or 500").arg(static_cast<qint32>(value.int_value()));
        return *quality;
    }
    return SparkplugQuality::Good;
}

QString labelOf(const pb::Payload_Metric& metric, int index)
{
    if (metric.has_name())
        return QStringLiteral("metric \"%1\"").arg(QString::fromStdString(metric.name()));
    if (metric.has_alias())
        return QStringLiteral("metric with alias %1").arg(metric.alias());
    return QStringLiteral("metric %1").arg(index + 1);
}

// Name and data type of one metric: from the metric itself in a birth, else from the metric or the
// birth's alias table (which must agree).
std::variant<SparkplugAliasTable::Entry, QString> identify(const pb::Payload_Metric& metric, bool birth,
    const SparkplugAliasTable* aliases)
{
    SparkplugAliasTable::Entry entry{QString::fromStdString(metric.name()), static_cast<SparkplugDataType>(metric.datatype())};
    if (birth) {
        if (entry.name.isEmpty())
            return QStringLiteral("has no name");
        if (!metric.has_datatype())
            return QStringLiteral("has no data type");
        return entry;
    }
    const SparkplugAliasTable::Entry* known = nullptr;
    if (metric.has_alias()) {
        if (!aliases || !(known = aliases->byAlias(metric.alias())))
            return QStringLiteral("has an alias no birth declared");
        // Name and alias must agree, or the value would land on a different variable depending on
        // which of the two a reader goes by.
        if (metric.has_name() && known->name != entry.name)
            return QStringLiteral("has the alias of \"%1\"").arg(known->name);
    } else if (metric.has_name()) {
        known = aliases ? aliases->byName(entry.name) : nullptr;
    } else {
        return QStringLiteral("has neither name nor alias");
    }
    if (known && metric.has_datatype() && known->type != entry.type)
        return QStringLiteral("is declared %1 but the birth said %2").arg(sparkplugDataTypeName(entry.type), sparkplugDataTypeName(known->type));
    if (known)
        return *known;
    if (!metric.has_datatype())
        return QStringLiteral("has no data type and no birth declared it");
    return entry;
}

std::variant<SparkplugMetric, QString> readMetric(const pb::Payload_Metric& metric, bool birth, const SparkplugAliasTable* aliases)
{
    const auto identity = identify(metric, birth, aliases);
    if (const QString* error = std::get_if<QString>(&identity))
        return *error;
    SparkplugMetric out;
    out.name = std::get<SparkplugAliasTable::Entry>(identity).name;
    out.type = std::get<SparkplugAliasTable::Entry>(identity).type;
    if (metric.has_alias())
        out.alias = metric.alias();
    if (metric.has_timestamp())
        out.timestampMs = metric.timestamp();
    const Field expected = fieldOf(out.type);
    if (expected == Field::None)
        return QStringLiteral("has the data type %1, which is not carried").arg(sparkplugDataTypeName(out.type));
    if (!metric.is_null()) {
        const Field carried = fieldOf(metric.value_case());
        if (carried == Field::None)
            return QStringLiteral("has no value and is not null");
        if (carried != expected)
            return QStringLiteral("is declared %1 but carries a %2 value").arg(sparkplugDataTypeName(out.type), fieldName(carried));
        auto value = readValue(metric, out.type);
        if (const QString* error = std::get_if<QString>(&value))
            return *error;
        out.value = std::get<QVariant>(value);
    }
    const auto quality = readQuality(metric);
    if (const QString* error = std::get_if<QString>(&quality))
        return *error;
    out.quality = std::get<SparkplugQuality>(quality);
    return out;
}

// Births and deaths tie together through bdSeq: an Int64 from 0 to 255.
QString checkBdSeq(const SparkplugPayload& payload)
{
    const SparkplugMetric* bdSeq = payload.metric(SparkplugCodec::bdSeqMetric);
    if (!bdSeq)
        return QStringLiteral("has no bdSeq metric");
    if ((bdSeq->type != SparkplugDataType::Int64 && bdSeq->type != SparkplugDataType::UInt64) || bdSeq->value.isNull()
        || bdSeq->value.toULongLong() > 255)
        return QStringLiteral("has a bdSeq that is not an Int64 from 0 to 255");
    return {};
}

} // namespace

std::optional<QVariant> SparkplugCodec::canonicalValue(SparkplugDataType type, const QVariant& value)
{
    const int id = value.typeId();
    switch (type) {
    case SparkplugDataType::Int8:
    case SparkplugDataType::Int16:
    case SparkplugDataType::Int32:
        if (const auto v = signedIn(value, type))
            return QVariant(static_cast<int>(*v));
        return std::nullopt;
    case SparkplugDataType::Int64:
        if (const auto v = signedIn(value, type))
            return QVariant(static_cast<qlonglong>(*v));
        return std::nullopt;
    case SparkplugDataType::UInt8:
    case SparkplugDataType::UInt16:
    case SparkplugDataType::UInt32:
        if (const auto v = unsignedIn(value, type))
            return QVariant(static_cast<uint>(*v));
        return std::nullopt;
    case SparkplugDataType::UInt64:
        if (const auto v = unsignedIn(value, type))
            return QVariant(static_cast<qulonglong>(*v));
        return std::nullopt;
    case SparkplugDataType::Float:
    case SparkplugDataType::Double: {
        if (!isSignedInteger(id) && !isUnsignedInteger(id) && !isFloating(id))
            return std::nullopt;
        const double d = value.toDouble();
        if (type == SparkplugDataType::Double)
            return QVariant(d);
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
            return std::nullopt;
        return QVariant(static_cast<float>(d));
    }
    case SparkplugDataType::Boolean:
        if (id == QMetaType::Bool)
            return QVariant(value.toBool());
        if (const auto v = unsignedIn(value, SparkplugDataType::UInt8); v && *v <= 1)
            return QVariant(*v == 1);
        return std::nullopt;
    case SparkplugDataType::String:
    case SparkplugDataType::Text:
        if (id == QMetaType::QString)
            return value;
        return std::nullopt;
    case SparkplugDataType::DateTime:
        if (id == QMetaType::QDateTime && value.toDateTime().isValid())
            return QVariant(value.toDateTime().toUTC());
        if (const auto v = signedIn(value, SparkplugDataType::Int64))
            return QVariant(QDateTime::fromMSecsSinceEpoch(*v, Qt::UTC));
        return std::nullopt;
    case SparkplugDataType::Bytes:
        if (id == QMetaType::QByteArray)
            return value;
        return std::nullopt;
    case SparkplugDataType::Unknown: break;
    }
    return std::nullopt;
}

QByteArray SparkplugCodec::encode(const SparkplugPayload& payload, SparkplugMessageType type)
{
    pb::Payload message;
    if (payload.timestampMs)
        message.set_timestamp(*payload.timestampMs);
    if (payload.seq)
        message.set_seq(*payload.seq);
    for (const SparkplugMetric& metric : payload.metrics) {
        pb::Payload_Metric& out = *message.add_metrics();
        if (isBirth(type) || !metric.alias) {
            out.set_name(metric.name.toStdString());
            out.set_datatype(static_cast<quint32>(metric.type));
        }
        if (metric.alias)
            out.set_alias(*metric.alias);
        if (metric.timestampMs)
            out.set_timestamp(*metric.timestampMs);
        SparkplugQuality quality = metric.quality;
        const std::optional<QVariant> value = metric.value.isNull() ? std::nullopt : canonicalValue(metric.type, metric.value);
        if (value) {
            writeValue(out, metric.type, *value);
        } else {
            if (!metric.value.isNull()) {
                qCWarning(busLog) << "metric" << metric.name << "of type" << sparkplugDataTypeName(metric.type)
                                  << "cannot carry" << metric.value << "- sent as bad and without value";
                quality = SparkplugQuality::Bad;
            }
            out.set_is_null(true);
        }
        if (quality != SparkplugQuality::Good) {
            pb::Payload_PropertySet& properties = *out.mutable_properties();
            properties.add_keys(qualityKey);
            pb::Payload_PropertyValue& code = *properties.add_values();
            code.set_type(qualityPropertyType);
            code.set_int_value(static_cast<quint32>(static_cast<qint32>(quality)));
        }
    }
    QByteArray bytes(static_cast<qsizetype>(message.ByteSizeLong()), Qt::Uninitialized);
    message.SerializeToArray(bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

BusResult<SparkplugPayload> SparkplugCodec::decode(const QByteArray& bytes, SparkplugMessageType type,
    const SparkplugAliasTable* aliases, qsizetype maxBytes)
{
    using Result = BusResult<SparkplugPayload>;
    const QString what = SparkplugTopic::typeName(type);
    if (bytes.size() > maxBytes)
        return Result::failure(QStringLiteral("%1 of %2 bytes is above the limit of %3 bytes").arg(what).arg(bytes.size()).arg(maxBytes));
    pb::Payload message;
    if (!message.ParseFromArray(bytes.constData(), static_cast<int>(bytes.size())))
        return Result::failure(QStringLiteral("%1 is not a Sparkplug B payload (truncated or broken protobuf)").arg(what));

    SparkplugPayload payload;
    if (message.has_timestamp())
        payload.timestampMs = message.timestamp();
    if (message.has_seq())
        payload.seq = message.seq();
    if (needsSeq(type) && !payload.seq)
        return Result::failure(QStringLiteral("%1 has no sequence number").arg(what));
    if (payload.seq && *payload.seq > 255)
        return Result::failure(QStringLiteral("%1 has the sequence number %2, above 255").arg(what).arg(*payload.seq));
    if (needsTimestamp(type) && !payload.timestampMs)
        return Result::failure(QStringLiteral("%1 has no time stamp").arg(what));

    const bool birth = isBirth(type);
    SparkplugAliasTable declared;
    payload.metrics.reserve(message.metrics_size());
    for (int i = 0; i < message.metrics_size(); ++i) {
        const pb::Payload_Metric& metric = message.metrics(i);
        auto read = readMetric(metric, birth, aliases);
        if (const QString* error = std::get_if<QString>(&read))
            return Result::failure(QStringLiteral("%1: %2 %3").arg(what, labelOf(metric, i), *error));
        SparkplugMetric& out = payload.metrics.emplace_back(std::move(std::get<SparkplugMetric>(read)));
        if (birth && out.alias && !declared.add(*out.alias, out.name, out.type))
            return Result::failure(QStringLiteral("%1: %2 repeats an alias or a name").arg(what, labelOf(metric, i)));
    }
    if (type == SparkplugMessageType::NBIRTH || type == SparkplugMessageType::NDEATH) {
        if (const QString error = checkBdSeq(payload); !error.isEmpty())
            return Result::failure(QStringLiteral("%1 %2").arg(what, error));
    }
    return Result::success(std::move(payload));
}
