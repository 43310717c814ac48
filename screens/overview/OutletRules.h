#pragma once

#include <QVariant>

#include <cstdint>
#include <functional>

/// The rules that drive the storage tank's outlet segment, the one pipe on the overview without a
/// variable of its own. Each rule reads its inputs from the controls at the moment it runs, in a fixed
/// order, and gives 1 (animate) or 0 (still); whichever rule ran last decides.
namespace OutletRules {

/// Readers of the five inputs, each returning the control's value as the control delivers it.
struct Inputs {
    std::function<QVariant()> valve;        ///< V: outlet valve switch state, 1 = open
    std::function<QVariant()> level;        ///< L: storage tank level; empty counts as not above 0
    std::function<QVariant()> condensate1;  ///< C1..C3: first condensate segments, > 0 = flowing
    std::function<QVariant()> condensate2;
    std::function<QVariant()> condensate3;
};

/// A value as a 32-bit integer, rounded to the nearest, halves to even; an empty value is 0. Throws
/// KalvoraError for a value that is no number or out of range.
std::int32_t toInt32(const QVariant& value);

/// Level changed: (V = 1) and (L > 0).
std::int32_t levelRule(const Inputs& in);
/// A condensate line changed: ((V = 1) and (C1 > 0)) or (C2 > 0) or (C3 > 0); all four read every time.
std::int32_t condensateRule(const Inputs& in);
/// Valve switched: the level term, or else (reading V again) the condensate term.
std::int32_t valveRule(const Inputs& in);

} // namespace OutletRules
