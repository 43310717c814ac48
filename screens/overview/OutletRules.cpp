#include "OutletRules.h"

#include "KalvoraError.h"
#include "WholeNumber.h"

namespace OutletRules {
namespace {

/// A number from a control, the way a comparison with a number takes it: a value that is no number
/// is a type mismatch.
double number(const QVariant& value, const char* what)
{
    return WholeNumber::number(value, QStringLiteral("Outlet rule: %1").arg(QString::fromLatin1(what)));
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
    return WholeNumber::to<std::int32_t>(value, QStringLiteral("Outlet rule: value"));
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
