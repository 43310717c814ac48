#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>

#include <optional>

/// The standard's numbering of Metric.datatype, for the types this codec carries.
enum class SparkplugDataType : quint32 {
    Unknown = 0,
    Int8 = 1,
    Int16 = 2,
    Int32 = 3,
    Int64 = 4,
    UInt8 = 5,
    UInt16 = 6,
    UInt32 = 7,
    UInt64 = 8,
    Float = 9,
    Double = 10,
    Boolean = 11,
    String = 12,
    DateTime = 13,
    Text = 14,
    Bytes = 17,
};

/// Codes of the metric property "Quality" as the standard numbers them. A metric without the property
/// is good, so good values travel without it.
enum class SparkplugQuality : qint32 { Bad = 0, Good = 192, Stale = 500 };

/// \brief One metric of a payload. `value` holds the type's canonical Qt type (int for Int8..Int32,
/// uint for UInt8..UInt32, qlonglong, qulonglong, float, double, bool, QString for String and Text,
/// QDateTime in UTC for DateTime, QByteArray for Bytes); a null QVariant is a metric without a reading
/// (is_null).
struct SparkplugMetric {
    QString name;                       // empty on data and commands that carry only the alias
    std::optional<quint64> alias;
    std::optional<quint64> timestampMs;
    SparkplugDataType type = SparkplugDataType::Unknown;
    QVariant value;
    SparkplugQuality quality = SparkplugQuality::Good;

    bool operator==(const SparkplugMetric&) const = default;
};

/// \brief One Sparkplug B payload: when it was sent, its sequence number and its metrics.
struct SparkplugPayload {
    std::optional<quint64> timestampMs;
    std::optional<quint64> seq;
    QList<SparkplugMetric> metrics;

    /// The first metric of that name, or null.
    const SparkplugMetric* metric(const QString& name) const;
    bool operator==(const SparkplugPayload&) const = default;
};

/// The data type a variable's QVariant type travels as (bool -> Boolean, int -> Int32, double ->
/// Double, QString -> String, ...); Unknown for a type the codec does not carry.
SparkplugDataType sparkplugDataTypeFor(QMetaType type);
QString sparkplugDataTypeName(SparkplugDataType type);
