#pragma once

#include <array>

class ControlGeometry;

/// \brief The layout pass of the navigation bar: twelve equally wide buttons in one row, each a label
/// strip above its key.
///
/// Every step reads back what the inner control took, so the container's rounding carries into the
/// later steps. Arithmetic is single precision; a result that is not finite stops the pass with a
/// KalvoraError, leaving the buttons laid out so far in their new place.
namespace BarLayout {

inline constexpr int buttonCount = 12;
inline constexpr float maximumLabelHeight = 315.0F;

void run(const ControlGeometry& bar, const std::array<ControlGeometry*, buttonCount>& labels,
         const std::array<ControlGeometry*, buttonCount>& keys);

} // namespace BarLayout
