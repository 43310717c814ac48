#include "SparkplugPayload.h"

const SparkplugMetric* SparkplugPayload::metric(const QString& name) const
{
    for (const SparkplugMetric& candidate : metrics) {
        if (candidate.name == name)
            return &candidate;
    }
    return nullptr;
}

SparkplugDataType sparkplugDataTypeFor(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::Bool: return SparkplugDataType::Boolean;
    case QMetaType::SChar:
    case QMetaType::Char: return SparkplugDataType::Int8;
    case QMetaType::Short: return SparkplugDataType::Int16;
    case QMetaType::Int: return SparkplugDataType::Int32;
    case QMetaType::Long:
    case QMetaType::LongLong: return SparkplugDataType::Int64;
    case QMetaType::UChar: return SparkplugDataType::UInt8;
    case QMetaType::UShort: return SparkplugDataType::UInt16;
    case QMetaType::UInt: return SparkplugDataType::UInt32;
    case QMetaType::ULong:
    case QMetaType::ULongLong: return SparkplugDataType::UInt64;
    case QMetaType::Float: return SparkplugDataType::Float;
    case QMetaType::Double: return SparkplugDataType::Double;
    case QMetaType::QString: return SparkplugDataType::String;
    case QMetaType::QDateTime: return SparkplugDataType::DateTime;
    case QMetaType::QByteArray: return SparkplugDataType::Bytes;
    default: return SparkplugDataType::Unknown;
    }
}

QString sparkplugDataTypeName(SparkplugDataType type)
{
    switch (type) {
    case SparkplugDataType::Int8: return QStringLiteral("Int8");
    case SparkplugDataType::Int16: return QStringLiteral("Int16");
    case SparkplugDataType::Int32: return QStringLiteral("Int32");
    case SparkplugDataType::Int64: return QStringLiteral("Int64");
    case SparkplugDataType::UInt8: return QStringLiteral("UInt8");
    case SparkplugDataType::UInt16: return QStringLiteral("UInt16");
    case SparkplugDataType::UInt32: return QStringLiteral("UInt32");
    case SparkplugDataType::UInt64: return QStringLiteral("UInt64");
    case SparkplugDataType::Float: return QStringLiteral("Float");
    case SparkplugDataType::Double: return QStringLiteral("Double");
    case SparkplugDataType::Boolean: return QStringLiteral("Boolean");
    case SparkplugDataType::String: return QStringLiteral("String");
    case SparkplugDataType::DateTime: return QStringLiteral("DateTime");
    case SparkplugDataType::Text: return QStringLiteral("Text");
    case SparkplugDataType::Bytes: return QStringLiteral("Bytes");
    case SparkplugDataType::Unknown: break;
    }
    return QStringLiteral("data type %1").arg(static_cast<quint32>(type));
}
