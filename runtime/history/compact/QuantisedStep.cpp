#include "QuantisedStep.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>

namespace {

// Beyond 2^53 a multiple is no longer an exact double, so the product would not be reproducible.
constexpr double MaxMultiple = 9007199254740992.0;

bool fits(std::span<const double> values, double step, std::vector<std::int64_t>& multiples)
{
    multiples.clear();
    for (const double v : values) {
        const double q = std::nearbyint(v / step);
        if (!(std::fabs(q) <= MaxMultiple))
            return false;
        const auto k = static_cast<std::int64_t>(q);
        if (std::bit_cast<std::uint64_t>(QuantisedStep::value(k, step)) != std::bit_cast<std::uint64_t>(v))
            return false;
        multiples.push_back(k);
    }
    return true;
}

} // namespace

std::optional<QuantisedStep::Found> QuantisedStep::find(std::span<const double> values)
{
    if (values.empty())
        return std::nullopt;
    // Decimal steps (a PLC's scaled integers shown with fixed decimals) and binary ones (raw counts of
    // a converter), plus the smallest change seen, which catches odd scalings such as 0.25 or 5.
    std::vector<double> candidates;
    for (int e = 3; e >= -6; --e)
        candidates.push_back(std::pow(10.0, e));
    for (int e = 0; e <= 16; ++e)
        candidates.push_back(std::ldexp(1.0, -e));
    double smallest = 0.0;
    for (std::size_t i = 1; i < values.size(); ++i) {
        const double d = std::fabs(values[i] - values[i - 1]);
        if (d > 0.0 && std::isfinite(d) && (smallest == 0.0 || d < smallest))
            smallest = d;
    }
    if (smallest > 0.0)
        candidates.push_back(smallest);
    std::sort(candidates.begin(), candidates.end(), std::greater<>());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    Found found;
    for (const double step : candidates)
        if (fits(values, step, found.multiples)) {
            found.step = step;
            return found;
        }
    return std::nullopt;
}
