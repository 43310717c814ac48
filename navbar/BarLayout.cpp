#include "BarLayout.h"

#include "ControlGeometry.h"
#include "KalvoraError.h"

#include <cmath>

namespace BarLayout {
namespace {

float checked(float value)
{
    if (!std::isfinite(value))
        throw KalvoraError(QStringLiteral("Navigation bar layout: arithmetic overflow or invalid result"));
    return value;
}

} // namespace

void run(const ControlGeometry& bar, const std::array<ControlGeometry*, buttonCount>& labels,
         const std::array<ControlGeometry*, buttonCount>& keys)
{
    for (int i = 0; i < buttonCount; ++i) {
        ControlGeometry& label = *labels[static_cast<std::size_t>(i)];
        ControlGeometry& key = *keys[static_cast<std::size_t>(i)];
        const float index = static_cast<float>(i);

        label.setHeight(checked(checked(bar.height() * 180.0F) / 660.0F));
        if (label.height() > maximumLabelHeight)
            label.setHeight(maximumLabelHeight);
        label.setWidth(checked(bar.width() / 12.0F));
        label.setLeft(checked(label.width() * index));
        key.setTop(label.height());
        key.setHeight(checked(bar.height() - label.height()));
        key.setWidth(checked(bar.width() / 12.0F));
        key.setLeft(checked(key.width() * index));
    }
}

} // namespace BarLayout
