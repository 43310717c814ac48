#pragma once

#include "TagStore.h"

#include <optional>

/// How the runtime's two-state and analogue controls read a delivered value, so that a switch, its
/// picture, its pipe and its bar never disagree about what "on" or "a number" means.
namespace TagReading {

/// The value as a finite number, or nothing for bad quality, no delivery, or a value that is no number.
/// On/off variables read as 1 and 0.
std::optional<double> number(const TagValue& value);

/// On means a good value that is a non-zero number: true, 1 and -1 are on.
inline bool isOn(const TagValue& value)
{
    const std::optional<double> n = number(value);
    return n && *n != 0.0;
}

} // namespace TagReading
