#include "formats/clf/ClfNodes.h"

#include "calc/LutCalc.h"
#include "formats/clf/ClfHalf.h"

#include <algorithm>
#include <cfloat>

namespace LutClf {

namespace {

double clamp01(double v)
{
    return v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v;
}

} // namespace

double lookUpHalfDomain(const LutTable1D &table, int channel, double x)
{
    if (std::isnan(x))
        return x;
    const unsigned b0 = halfBitsTowardZero(x);
    const double y0 = table[int(b0)][channel];
    const double x0 = halfToDouble(b0);
    if (x == x0 || (b0 & 0x7fffu) == 0x7bffu)
        return y0;
    const unsigned b1 = b0 + 1;
    const double x1 = halfToDouble(b1);
    const double y1 = table[int(b1)][channel];
    return y0 + (y1 - y0) * (std::fabs(x) - std::fabs(x0)) / (std::fabs(x1) - std::fabs(x0));
}

void Lut1D::apply(double rgb[3]) const
{
    for (int c = 0; c < 3; ++c) {
        if (halfDomain) {
            rgb[c] = lookUpHalfDomain(table, c, rgb[c]);
        } else {
            const double position = indexMap.evaluate(rgb[c]);
            rgb[c] = LutCalc::sample1D(table.data(), table.size(), c, position);
        }
    }
}

void Lut3D::apply(double rgb[3]) const
{
    const int n = table.size();
    const double position[3] = {rgb[0] * (n - 1), rgb[1] * (n - 1), rgb[2] * (n - 1)};
    if (trilinear) {
        LutCalc::sampleTrilinear(table, position, rgb);
        return;
    }
    const int sizes[3] = {n, n, n};
    float result[3];
    LutCalc::sampleGrid(table.data(), sizes, position, result);
    std::copy(result, result + 3, rgb);
}

void Range::apply(double rgb[3]) const
{
    for (int c = 0; c < 3; ++c) {
        double v = rgb[c];
        if (hasMin && hasMax) {
            v = (v - minIn) * (maxOut - minOut) / (maxIn - minIn) + minOut;
            if (clamp)
                v = std::min(std::max(v, minOut), maxOut);
        } else if (hasMin) {
            v = std::max(v, minOut);
        } else {
            v = std::min(v, maxOut);
        }
        rgb[c] = v;
    }
}

void Matrix::apply(double rgb[3]) const
{
    double out[3];
    for (int r = 0; r < 3; ++r)
        out[r] = m[r][0] * rgb[0] + m[r][1] * rgb[1] + m[r][2] * rgb[2] + m[r][3];
    std::copy(out, out + 3, rgb);
}

bool Matrix::mixesChannels() const
{
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            if (r != c && m[r][c] != 0.0)
                return true;
        }
    }
    return false;
}

void Cdl::apply(double rgb[3]) const
{
    const bool clamp = style == CdlStyle::Fwd || style == CdlStyle::Rev;
    auto luma = [](const double v[3]) { return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2]; };
    // A negative value keeps its sign through the power of the unclamped styles.
    auto raise = [](double v, double p) { return v < 0.0 ? v : std::pow(v, p); };
    if (style == CdlStyle::Fwd || style == CdlStyle::FwdNoClamp) {
        for (int c = 0; c < 3; ++c) {
            double v = rgb[c] * slope[c] + offset[c];
            rgb[c] = raise(clamp ? clamp01(v) : v, power[c]);
        }
        const double y = luma(rgb);
        for (int c = 0; c < 3; ++c) {
            const double v = y + saturation * (rgb[c] - y);
            rgb[c] = clamp ? clamp01(v) : v;
        }
        return;
    }
    if (clamp) {
        for (int c = 0; c < 3; ++c)
            rgb[c] = clamp01(rgb[c]);
    }
    const double y = luma(rgb);
    for (int c = 0; c < 3; ++c) {
        double v = y + (rgb[c] - y) / saturation;
        v = raise(clamp ? clamp01(v) : v, 1.0 / power[c]);
        v = (v - offset[c]) / slope[c];
        rgb[c] = clamp ? clamp01(v) : v;
    }
}

double applyLog(LogStyle style, const LogParams &p, double x)
{
    // Logarithms of values at or below zero take the smallest normal float.
    auto logBase = [](double v, double base) { return std::log(std::max(v, double(FLT_MIN))) / std::log(base); };
    switch (style) {
    case LogStyle::Log10:
        return std::log10(std::max(x, double(FLT_MIN)));
    case LogStyle::Log2:
        return std::log2(std::max(x, double(FLT_MIN)));
    case LogStyle::AntiLog10:
        return std::pow(10.0, x);
    case LogStyle::AntiLog2:
        return std::exp2(x);
    case LogStyle::CameraLinToLog:
        if (x <= p.linSideBreak)
            return p.linearSlope * (x - p.linSideBreak) + p.logSideBreak;
        Q_FALLTHROUGH();
    case LogStyle::LinToLog:
        return p.logSideSlope * logBase(p.linSideSlope * x + p.linSideOffset, p.base) + p.logSideOffset;
    case LogStyle::CameraLogToLin:
        if (x <= p.logSideBreak)
            return (x - p.logSideBreak) / p.linearSlope + p.linSideBreak;
        Q_FALLTHROUGH();
    case LogStyle::LogToLin:
        return (std::pow(p.base, (x - p.logSideOffset) / p.logSideSlope) - p.linSideOffset) / p.linSideSlope;
    }
    return x;
}

void Log::apply(double rgb[3]) const
{
    for (int c = 0; c < 3; ++c)
        rgb[c] = applyLog(style, params[c], rgb[c]);
}

double moncurve(double x, double g, double o, bool reverse)
{
    if (g == 1.0) // the break moves to infinity: a straight line throughout
        return reverse ? x * (1.0 + o) : x / (1.0 + o);
    if (o == 0.0) {
        if (x < 0.0)
            return 0.0;
        return std::pow(x, reverse ? 1.0 / g : g);
    }
    const double breakOut = std::pow(o * g / ((g - 1.0) * (1.0 + o)), g);
    const double slope = breakOut * (g - 1.0) / o;
    if (!reverse)
        return x >= o / (g - 1.0) ? std::pow((x + o) / (1.0 + o), g) : x * slope;
    return x >= breakOut ? (1.0 + o) * std::pow(x, 1.0 / g) - o : x / slope;
}

void Exponent::apply(double rgb[3]) const
{
    for (int c = 0; c < 3; ++c) {
        const double x = rgb[c];
        const double g = exponent[c];
        const double o = offset[c];
        switch (style) {
        case ExponentStyle::Basic:
            rgb[c] = std::pow(std::max(x, 0.0), reverse ? 1.0 / g : g);
            break;
        case ExponentStyle::BasicMirror:
            rgb[c] = std::copysign(std::pow(std::fabs(x), reverse ? 1.0 / g : g), x);
            break;
        case ExponentStyle::BasicPassThru:
            rgb[c] = x < 0.0 ? x : std::pow(x, reverse ? 1.0 / g : g);
            break;
        case ExponentStyle::Moncurve:
            rgb[c] = moncurve(x, g, o, reverse);
            break;
        case ExponentStyle::MoncurveMirror:
            rgb[c] = std::copysign(moncurve(std::fabs(x), g, o, reverse), x);
            break;
        }
    }
}

} // namespace LutClf
