#pragma once

#include "PropertyBag.h"

#include <QSize>
#include <QString>

#include <array>

/// The navigation bar's stored configuration, which every screen's bar loads: what goes into
/// layouts/QMButton.bag and in which order.
namespace BarBag {

struct ButtonImage {
    int button;
    const char* file;
    QSize size;
};

/// The buttons that have pictures, in button order, with their files in layouts/buttons.
inline constexpr std::array<ButtonImage, 7> images = {{
    {1, "german.gif", {75, 55}},
    {2, "english.gif", {75, 55}},
    {5, "overview.gif", {75, 60}},
    {6, "alarms.gif", {75, 60}},
    {7, "trends.gif", {75, 60}},
    {8, "freetrends.gif", {75, 60}},
    {12, "exit.gif", {75, 60}},
}};

inline constexpr int buttonCount = 12;
inline constexpr std::int32_t extentX = 26961;
inline constexpr std::int32_t extentY = 2302;
inline constexpr std::int16_t borderStyle = 1;
StdFont labelFont();
QString textGroup();

/// Builds the bag from the images in `buttonsDir`, written as the bar writes it, behind the container's
/// extents. Throws KalvoraError for a missing image, one that does not decode or one of the wrong size.
PropertyBag build(const QString& buttonsDir);

} // namespace BarBag
