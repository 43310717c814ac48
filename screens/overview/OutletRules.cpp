#include "OutletRules.h"

#include "KalvoraError.h"

#include <cmath>
#include <limits>

namespace OutletRules {
namespace {

bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

/// A number from a control, the way a comparison with a number takes it: a value that is no number
/// is a type mismatch.
double number(const QVariant& value, const char* what)
{
    bool ok = isNumber(value);
    double result = 0.0;
    if (ok)
        result = value.toDouble(&ok);
    if (!ok || std::isnan(result))
        throw KalvoraError(QStringLiteral("Outlet rule: %1 \"%2\" is not a number").arg(QString::fromLatin1(what), value.toString()));
    return result;
}

/// L > 0, with an empty or null level counting as not above 0.
bool levelAboveZero(const QVariant& level)
{
    if (!level.isValid() || level.isNull())
        return false;
    return number(level, "level") > 0.0;
}

bool levelTerm(const Inputs& in)
{
    const std::int32_t v = toInt32(in.valve());
    const bool l = levelAboveZero(in.level());
    return v == 1 && l;
}

bool condensateTerm(const Inputs& in)
{
    const std::int32_t v = toInt32(in.valve());
    const std::int32_t c1 = toInt32(in.condensate1());
    const std::int32_t c2 = toInt32(in.condensate2());
    const std::int32_t c3 = toInt32(in.condensate3());
    // The valve gates only unit 1's condensate.
    return (v == 1 && c1 > 0) || c2 > 0 || c3 > 0;
}

} // namespace

std::int32_t toInt32(const QVariant& value)
{
    if (!value.isValid())
        return 0; // an empty value converts to 0
    const double rounded = std::nearbyint(number(value, "value")); // the default rounding: halves to even
    if (rounded < std::numeric_limits<std::int32_t>::min() || rounded > std::numeric_limits<std::int32_t>::max())
        throw KalvoraError(QStringLiteral("Outlet rule: %1 is out of range").arg(value.toString()));
    return static_cast<std::int32_t>(rounded);
}

std::int32_t levelRule(const Inputs& in)
{
    return levelTerm(in) ? 1 : 0;
}

std::int32_t condensateRule(const Inputs& in)
{
    return condensateTerm(in) ? 1 : 0;
}

std::int32_t valveRule(const Inputs& in)
{
    if (levelTerm(in))
        return 1;
    return condensateTerm(in) ? 1 : 0;
}

} // namespace OutletRules
