#include "WholeNumber.h"

namespace WholeNumber {
namespace {

bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::UChar:
    case QMetaType::SChar:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

} // namespace

double number(const QVariant& value, const QString& what)
{
    bool ok = isNumber(value);
    double result = 0.0;
    if (ok)
        result = value.toDouble(&ok);
    if (!ok || std::isnan(result))
        throw KalvoraError(QStringLiteral("%1 \"%2\" is not a number").arg(what, value.toString()));
    return result;
}

double rounded(const QVariant& value, const QString& what)
{
    if (!value.isValid())
        return 0.0; // an empty value converts to 0
    return std::nearbyint(number(value, what)); // the default rounding mode: halves to even
}

} // namespace WholeNumber
