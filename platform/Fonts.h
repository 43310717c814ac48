#pragma once

/// Makes the faces the layouts name ("Tahoma", "MS Sans Serif") available. Where the system lacks them,
/// the metric-compatible files of Debian's fonts-wine package are registered with the application, so
/// texts keep the widths the screens were laid out for.
namespace Fonts {
/// Returns the number of faces that are still missing afterwards (0 when every face is there).
int registerLayoutFaces();
} // namespace Fonts
