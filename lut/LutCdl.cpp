#include "lut/LutCdl.h"

#include <cmath>

namespace {

double clamp01(double v)
{
    // A NaN stays a NaN: it says the input was none.
    return v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v;
}

} // namespace

void LutCdl::apply(double rgb[3]) const
{
    for (int c = 0; c < 3; ++c)
        rgb[c] = std::pow(clamp01(rgb[c] * slope[c] + offset[c]), power[c]);
    if (saturation == 1.0)
        return;
    const double luma = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
    for (int c = 0; c < 3; ++c)
        rgb[c] = clamp01(luma + saturation * (rgb[c] - luma));
}

QString LutCdl::problem() const
{
    static const char *const kChannels[] = {"red", "green", "blue"};
    for (int c = 0; c < 3; ++c) {
        if (!std::isfinite(slope[c]) || !std::isfinite(offset[c]) || !std::isfinite(power[c]))
            return QStringLiteral("the %1 slope, offset and power must be finite numbers")
                .arg(QLatin1String(kChannels[c]));
        if (slope[c] < 0.0)
            return QStringLiteral("the %1 slope %2 is below 0").arg(QLatin1String(kChannels[c])).arg(slope[c]);
        if (!(power[c] > 0.0))
            return QStringLiteral("the %1 power %2 is not above 0").arg(QLatin1String(kChannels[c])).arg(power[c]);
    }
    if (!std::isfinite(saturation) || saturation < 0.0)
        return QStringLiteral("the saturation %1 is not a finite number of 0 or more").arg(saturation);
    return QString();
}
