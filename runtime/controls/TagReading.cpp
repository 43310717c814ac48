#include "TagReading.h"

#include <cmath>

namespace TagReading {

std::optional<double> number(const TagValue& value)
{
    if (!value.isGood() || !value.value.isValid())
        return std::nullopt;
    if (value.value.typeId() == QMetaType::Bool)
        return value.value.toBool() ? 1.0 : 0.0;
    bool ok = false;
    const double n = value.value.toDouble(&ok);
    if (!ok || !std::isfinite(n))
        return std::nullopt;
    return n;
}

} // namespace TagReading
