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
    const double t = (std::fabs(x) - std::fabs(x0)) / (std::fabs(x1) - std::fabs(x0));
    // Weighted so that an infinite entry gives an infinity, not a NaN.
    return y0 == y1 ? y0 : y0 * (1.0 - t) + y1 * t;
}

void Lut1D::apply(double rgb[3]) const
{
    auto curve = [this](int c, double x) {
        if (halfDomain)
            return lookUpHalfDomain(table, c, x);
        return LutCalc::sample1D(table.data(), table.size(), c, indexMap.evaluate(x));
    };
    if (hueAdjust) {
        applyKeepingHue(rgb, curve);
        return;
    }
    for (int c = 0; c < 3; ++c)
        rgb[c] = curve(c, rgb[c]);
}

void InverseLut1D::apply(double rgb[3]) const
{
    auto curveOf = [this](int c, double y) {
        if (!halfDomain)
            return curve[c].invert(y);
        // The positive halfs take the outputs on the side of the output for
        // zero that the curve rises (or falls) to.
        return curve[c].rising() == (y >= atZero[c]) ? curve[c].invert(y) : negative[c].invert(y);
    };
    if (hueAdjust) {
        applyKeepingHue(rgb, curveOf);
        return;
    }
    for (int c = 0; c < 3; ++c)
        rgb[c] = curveOf(c, rgb[c]);
}

void InverseLut3D::apply(double rgb[3]) const
{
    const double y[3] = {clamp01(rgb[0]), clamp01(rgb[1]), clamp01(rgb[2])};
    cube->invert(y, rgb);
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

// --- GradingRGBCurve ----------------------------------------------------------

namespace {

// The slopes at the control points when the file gives none: at an inner
// point the mean of the two secants' slopes weighted by their lengths
// (a run of secants of one slope counting as one long secant), at the ends
// the slope that makes the end piece's curvature even, never below 0.01.
std::vector<float> estimateSlopes(const std::vector<float> &x, const std::vector<float> &y)
{
    const size_t n = x.size();
    std::vector<float> secant(n - 1), length(n - 1);
    for (size_t i = 0; i + 1 < n; ++i) {
        const float dx = x[i + 1] - x[i], dy = y[i + 1] - y[i];
        secant[i] = dy / dx;
        length[i] = std::sqrt(dx * dx + dy * dy);
    }
    if (n == 2)
        return {secant[0], secant[0]};
    for (size_t i = 0;;) {
        size_t j = i;
        float run = length[i];
        while (j < n - 2 && std::fabs(secant[j + 1] - secant[j]) < 1e-6f)
            run += length[++j];
        for (size_t k = i; k <= j; ++k)
            length[k] = run;
        if (j >= n - 3)
            break;
        i = j + 1;
    }
    std::vector<float> slopes(n, 0.0f);
    for (size_t k = 1; k + 1 < n; ++k)
        slopes[k] = (length[k] * secant[k] + length[k - 1] * secant[k - 1]) / (length[k] + length[k - 1]);
    slopes[n - 1] = std::max(0.01f, 0.5f * (3.0f * secant[n - 2] - slopes[n - 2]));
    slopes[0] = std::max(0.01f, 0.5f * (3.0f * secant[0] - slopes[1]));
    return slopes;
}

// One or two quadratic pieces between each pair of points with the given
// slopes at both ends; two, split at a knot ksi, when one piece cannot
// meet both slopes.
void fitPieces(const std::vector<float> &x, const std::vector<float> &y, const std::vector<float> &slopes,
               GradingSpline &s)
{
    s = GradingSpline();
    s.knots.push_back(x[0]);
    for (size_t i = 0; i + 1 < x.size(); ++i) {
        const float dx = x[i + 1] - x[i], secant = (y[i + 1] - y[i]) / dx;
        const float s0 = slopes[i], s1 = slopes[i + 1];
        if (std::fabs((s0 + s1) - 2.0f * secant) < 1e-6f) {
            s.c.push_back(y[i]);
            s.b.push_back(s0);
            s.a.push_back(0.5f * (s1 - s0) / dx);
        } else {
            const float aa = s0 - secant, bb = s1 - secant;
            float ksi = 0.0f;
            if (aa * bb >= 0.0f)
                ksi = (x[i] + x[i + 1]) * 0.5f;
            else if (std::fabs(aa) > std::fabs(bb))
                ksi = x[i + 1] + aa * dx / (s1 - s0);
            else
                ksi = x[i] + bb * dx / (s1 - s0);
            const float sBar = (2.0f * secant - s1) + (s1 - s0) * (ksi - x[i]) / dx;
            const float eta = (sBar - s0) / (ksi - x[i]);
            s.c.push_back(y[i]);
            s.b.push_back(s0);
            s.a.push_back(0.5f * eta);
            s.c.push_back(y[i] + s0 * (ksi - x[i]) + 0.5f * eta * (ksi - x[i]) * (ksi - x[i]));
            s.b.push_back(sBar);
            s.a.push_back(0.5f * (s1 - sBar) / (x[i + 1] - ksi));
            s.knots.push_back(ksi);
        }
        s.knots.push_back(x[i + 1]);
    }
}

// Where a split piece would fall between its points, scales that pair's
// slopes down towards the secant; true when any was.
bool adjustSlopes(const std::vector<float> &x, const std::vector<float> &y, std::vector<float> &slopes,
                  const std::vector<float> &knots)
{
    bool adjusted = false;
    for (size_t i = 0, j = 0; j < knots.size() && i + 1 < x.size(); ++j) {
        if (x[i] == knots[j])
            continue;
        const float ksi = knots[j], dx = x[i + 1] - x[i];
        const float sBar = (2.0f * (y[i + 1] - y[i]) - (ksi - x[i]) * slopes[i] - (x[i + 1] - ksi) * slopes[i + 1]) / dx;
        if (sBar < 0.0f) {
            adjusted = true;
            const float secant = (y[i + 1] - y[i]) / dx;
            const float blend = ((ksi - x[i]) * slopes[i] + (x[i + 1] - ksi) * slopes[i + 1]) / dx;
            const float aim = std::min(secant, 0.01f * 0.5f * (slopes[i] + slopes[i + 1]));
            const float adjust = (2.0f * secant - aim) / blend;
            slopes[i] *= adjust;
            slopes[i + 1] *= adjust;
        }
        ++i;
    }
    return adjusted;
}

} // namespace

void fitGradingSpline(const std::vector<float> &x, const std::vector<float> &y, const std::vector<float> &given,
                      GradingSpline &spline)
{
    spline = GradingSpline();
    const bool identity = std::equal(x.begin(), x.end(), y.begin())
                          && std::all_of(given.begin(), given.end(), [](float v) { return v == 0.0f; });
    if (x.size() < 2 || identity)
        return;
    std::vector<float> slopes = std::any_of(given.begin(), given.end(), [](float v) { return v != 0.0f; })
                                    ? given
                                    : estimateSlopes(x, y);
    fitPieces(x, y, slopes, spline);
    if (adjustSlopes(x, y, slopes, spline.knots))
        fitPieces(x, y, slopes, spline);
}

double GradingSpline::apply(double x) const
{
    if (a.empty())
        return x;
    const size_t last = a.size() - 1;
    if (x <= knots.front())
        return (x - knots.front()) * b[0] + c[0];
    if (x >= knots.back()) {
        const double t = double(knots.back()) - knots[last];
        const double slope = 2.0 * a[last] * t + b[last];
        return (x - knots.back()) * slope + (a[last] * t + b[last]) * t + c[last];
    }
    size_t i = 0;
    while (i < last && !(x < knots[i + 1]))
        ++i;
    const double t = x - knots[i];
    return (a[i] * t + b[i]) * t + c[i];
}

double GradingSpline::applyReverse(double y) const
{
    if (a.empty())
        return y;
    const size_t last = a.size() - 1;
    const double tEnd = double(knots.back()) - knots[last];
    const double endY = (a[last] * tEnd + b[last]) * tEnd + c[last];
    // Flat ends give their knot.
    if (y <= c[0])
        return std::fabs(b[0]) < 1e-5 ? knots.front() : (y - c[0]) / b[0] + knots.front();
    if (y >= endY) {
        const double slope = 2.0 * a[last] * tEnd + b[last];
        return std::fabs(slope) < 1e-5 ? knots.back() : (y - endY) / slope + knots.back();
    }
    size_t i = 0;
    while (i < last && !(y < c[i + 1]))
        ++i;
    // The root of a t^2 + b t + (c - y) in the piece, in the form that
    // stays exact when a is small.
    const double c0 = c[i] - y;
    return knots[i] + (-2.0 * c0) / (std::sqrt(double(b[i]) * b[i] - 4.0 * a[i] * c0) + b[i]);
}

void GradingRgbCurve::apply(double rgb[3]) const
{
    // The linear style's log encoding: log2 about 0.18 above a small break,
    // a straight line below it that meets it there.
    constexpr double kShift = -0.000157849851665374, kGain = 363.034608563, kOffset = -7.0;
    if (linToLog) {
        for (int i = 0; i < 3; ++i)
            rgb[i] = rgb[i] < 0.0041318374739483946 ? rgb[i] * kGain + kOffset
                                                    : std::log2((rgb[i] + kShift) / (0.18 + kShift));
    }
    for (int i = 0; i < 3; ++i)
        rgb[i] = reverse ? curves[i].applyReverse(curves[3].applyReverse(rgb[i])) : curves[3].apply(curves[i].apply(rgb[i]));
    if (linToLog) {
        for (int i = 0; i < 3; ++i)
            rgb[i] = rgb[i] < -5.5 ? (rgb[i] - kOffset) / kGain : std::exp2(rgb[i]) * (0.18 + kShift) - kShift;
    }
}

void GradingPrimary::apply(double rgb[3]) const
{
    // Saturation about Rec.709 luma (the reverse divides by it, 0 taken as
    // 1, as the peer's).
    auto saturate = [rgb](double s) {
        if (s == 1.0)
            return;
        const double luma = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
        for (int i = 0; i < 3; ++i)
            rgb[i] = luma + s * (rgb[i] - luma);
    };
    // A power of the distance from the black pivot, as a fraction of the
    // distance between the pivots, keeping its sign.
    const double span = pivotWhite - pivotBlack;
    auto gamma = [&](double x, double g) {
        if (g == 1.0)
            return x;
        const double d = x - pivotBlack;
        return std::pow(std::fabs(d) / span, g) * std::copysign(1.0, d) * span + pivotBlack;
    };
    auto linearContrast = [&](double x, double c) {
        return c == 1.0 ? x : std::pow(std::fabs(x / pivot), c) * std::copysign(pivot, x);
    };
    auto clamp = [&] {
        for (int i = 0; i < 3; ++i)
            rgb[i] = std::min(std::max(rgb[i], clampBlack), clampWhite);
    };
    if (!reverse) {
        for (int i = 0; i < 3; ++i) {
            double &x = rgb[i];
            switch (style) {
            case GradingStyle::Log:
                x = gamma((x + add[i] - pivot) * scale[i] + pivot, power[i]);
                break;
            case GradingStyle::Linear:
                x = linearContrast((x + add[i]) * scale[i], power[i]);
                break;
            case GradingStyle::Video:
                x = gamma((x + add[i] - pivotBlack) * scale[i] + pivotBlack, power[i]);
                break;
            }
        }
        saturate(saturation);
        clamp();
        return;
    }
    // The reverse: the terms (already inverted by the parser) in the
    // opposite order.
    clamp();
    saturate(1.0 / (saturation != 0.0 ? saturation : 1.0));
    for (int i = 0; i < 3; ++i) {
        double &x = rgb[i];
        switch (style) {
        case GradingStyle::Log:
            x = (gamma(x, power[i]) - pivot) * scale[i] + pivot + add[i];
            break;
        case GradingStyle::Linear:
            x = linearContrast(x, power[i]) * scale[i] + add[i];
            break;
        case GradingStyle::Video:
            x = (gamma(x, power[i]) - pivotBlack) * scale[i] + pivotBlack + add[i];
            break;
        }
    }
}

void ExposureContrast::apply(double rgb[3]) const
{
    // The smallest pivot and contrast taken, as the peer's.
    constexpr double kMinimum = 0.001;
    const double c = std::max(kMinimum, contrast * gamma);
    const double pivotIn = std::max(kMinimum, pivot);
    if (style == ExposureContrastStyle::Log) {
        // out = (in + exposure - pivot) * contrast + pivot, in log units: an
        // exposure step a stop, the pivot where 0.18 would be.
        const double logPivot = std::max(0.0, std::log2(pivotIn / 0.18) * logExposureStep + logMidGray);
        const double shift = exposure * logExposureStep;
        for (int i = 0; i < 3; ++i) {
            if (!reverse) {
                rgb[i] = rgb[i] * c + (shift - logPivot) * c + logPivot;
            } else {
                const double inverse = std::max(kMinimum, 1.0 / (contrast * gamma));
                rgb[i] = rgb[i] * inverse + logPivot - logPivot * inverse - shift;
            }
        }
        return;
    }
    // Video values are linear ones through a 1/1.83 power.
    constexpr double kVideoPower = 0.54644808743169393;
    const bool video = style == ExposureContrastStyle::Video;
    const double gain = video ? std::pow(std::exp2(exposure), kVideoPower) : std::exp2(exposure);
    const double p = video ? std::pow(pivotIn, kVideoPower) : pivotIn;
    for (int i = 0; i < 3; ++i) {
        double &v = rgb[i];
        if (c == 1.0)
            v = reverse ? v / gain : v * gain;
        else if (!reverse)
            v = std::pow(std::max(0.0, v * gain / p), c) * p;
        else
            v = std::pow(std::max(0.0, v / p), 1.0 / c) * p / gain;
    }
}

namespace {

// How saturated a colour is, safe for dark and negative values: the noise
// limit keeps dark noise from counting as saturated.
double saturationWeight(const double rgb[3], double noiseLimit)
{
    const double lo = std::min({rgb[0], rgb[1], rgb[2]});
    const double hi = std::max({rgb[0], rgb[1], rgb[2]});
    return (std::max(1e-10, hi) - std::max(1e-10, lo)) / std::max(noiseLimit, hi);
}

// The weight of the red modifier's hue window: a quadratic B-spline over the
// hue angle, centred on red, of the width that invWidth (4 / width in
// radians) gives.
double hueWeight(const double rgb[3], double invWidth)
{
    const double a = 2.0 * rgb[0] - (rgb[1] + rgb[2]);
    const double b = std::sqrt(3.0) * (rgb[1] - rgb[2]);
    const double knot = std::atan2(b, a) * invWidth + 2.0;
    const int j = int(knot); // toward zero, as the peer's
    static const double kBasis[4][4] = {
        {0.25, 0.00, 0.00, 0.00}, {-0.75, 0.75, 0.75, 0.25}, {0.75, -1.50, 0.00, 1.00}, {-0.25, 0.75, -0.75, 0.25}};
    if (j < 0 || j >= 4)
        return 0.0;
    const double t = knot - j;
    const double *c = kBasis[j];
    return c[3] + t * (c[2] + t * (c[1] + t * c[0]));
}

// The red modifiers of the ACES 0.3 and 1.0 look transforms: red pulled
// toward the pivot by hue and saturation; the 0.3 one keeps the hue by
// moving the middle channel with it.
void redModifier(double rgb[3], double scale, double invWidth, bool keepHue, bool reverse)
{
    constexpr double pivot = 0.03;
    const double oneMinusScale = 1.0 - scale;
    const double red = rgb[0];
    const double weight = hueWeight(rgb, invWidth);
    if (!(weight > 0.0))
        return;
    double newRed;
    if (!reverse) {
        newRed = red + weight * saturationWeight(rgb, 1e-2) * (pivot - red) * oneMinusScale;
    } else {
        const double minChannel = std::min(rgb[1], rgb[2]);
        const double a = weight * oneMinusScale - 1.0;
        const double b = red - weight * (pivot + minChannel) * oneMinusScale;
        const double c = weight * pivot * minChannel * oneMinusScale;
        newRed = (-b - std::sqrt(b * b - 4.0 * a * c)) / (2.0 * a);
    }
    if (keepHue) {
        if (rgb[1] >= rgb[2])
            rgb[1] = (rgb[1] - rgb[2]) / std::max(1e-10, red - rgb[2]) * (newRed - rgb[2]) + rgb[2];
        else
            rgb[2] = (rgb[2] - rgb[1]) / std::max(1e-10, red - rgb[1]) * (newRed - rgb[1]) + rgb[1];
    }
    rgb[0] = newRed;
}

// The glow of the ACES 0.3 and 1.0 look transforms: dark, saturated colours
// gain up to gain, fading out from two thirds of mid to twice mid in a
// luma-chroma measure.
void glow(double rgb[3], double gain, double mid, bool reverse)
{
    const double chroma = std::sqrt(rgb[2] * (rgb[2] - rgb[1]) + rgb[1] * (rgb[1] - rgb[0]) + rgb[0] * (rgb[0] - rgb[2]));
    const double yc = (rgb[0] + rgb[1] + rgb[2] + 1.75 * chroma) / 3.0;
    const double x = (saturationWeight(rgb, 1e-2) - 0.4) * 5.0;
    const double sign = std::copysign(1.0, x);
    const double t = std::max(0.0, 1.0 - 0.5 * sign * x);
    const double g = gain * (1.0 + sign * (1.0 - t * t)) * 0.5;
    double factor;
    if (yc >= mid * 2.0)
        factor = 0.0;
    else if (!reverse)
        factor = yc <= mid * 2.0 / 3.0 ? g : g * (mid / yc - 0.5);
    else
        factor = yc <= (1.0 + g) * mid * 2.0 / 3.0 ? -g / (1.0 + g) : g * (mid / yc - 0.5) / (g * 0.5 - 1.0);
    for (int c = 0; c < 3; ++c)
        rgb[c] *= 1.0 + factor;
}

// Scales the colour by Y^(gamma - 1), Y its luminance by the weights given
// (at least minimum): the dark-to-dim and surround adjustments.
void surround(double rgb[3], const double weights[3], double minimum, double gamma)
{
    const double y = std::max(minimum, weights[0] * rgb[0] + weights[1] * rgb[1] + weights[2] * rgb[2]);
    const double factor = std::pow(y, gamma - 1.0);
    for (int c = 0; c < 3; ++c)
        rgb[c] *= factor;
}

// The ACES 1.3 gamut compression of one channel: its distance from the
// achromatic (the largest channel) compressed beyond the threshold, so that
// the limit lands on the gamut's boundary.
double gamutCompress(double value, double achromatic, double threshold, double scale, double power, bool reverse)
{
    if (achromatic == 0.0)
        return 0.0;
    const double distance = (achromatic - value) / std::fabs(achromatic);
    if (distance < threshold)
        return value;
    double compressed;
    const double nd = (distance - threshold) / scale;
    const double p = std::pow(nd, power);
    if (!reverse)
        compressed = threshold + scale * nd / std::pow(1.0 + p, 1.0 / power);
    else if (distance >= threshold + scale) // beyond the asymptote
        compressed = distance;
    else
        compressed = threshold + scale * std::pow(-(p / (p - 1.0)), 1.0 / power);
    return achromatic - compressed * std::fabs(achromatic);
}

// The D65 white's u' and v', by which CIE Luv is centred.
constexpr double kWhiteU = 0.19783001, kWhiteV = 0.46831999;

} // namespace

void FixedFunction::apply(double rgb[3]) const
{
    const double r = rgb[0], g = rgb[1], b = rgb[2];
    switch (style) {
    case FixedStyle::RedMod03Fwd:
    case FixedStyle::RedMod03Rev:
        redModifier(rgb, 0.85, 1.9098593171027443, true, style == FixedStyle::RedMod03Rev);
        return;
    case FixedStyle::RedMod10Fwd:
    case FixedStyle::RedMod10Rev:
        redModifier(rgb, 0.82, 1.6976527263135504, false, style == FixedStyle::RedMod10Rev);
        return;
    case FixedStyle::Glow03Fwd:
    case FixedStyle::Glow03Rev:
        glow(rgb, 0.075, 0.1, style == FixedStyle::Glow03Rev);
        return;
    case FixedStyle::Glow10Fwd:
    case FixedStyle::Glow10Rev:
        glow(rgb, 0.05, 0.08, style == FixedStyle::Glow10Rev);
        return;
    case FixedStyle::DarkToDim10:
    case FixedStyle::DimToDark10: {
        // Luminance of AP1 primaries.
        static const double kAp1[3] = {0.27222871678091454, 0.67408176581114831, 0.053689517407937051};
        surround(rgb, kAp1, 1e-10, style == FixedStyle::DarkToDim10 ? 0.9811 : 1.0192640913260627);
        return;
    }
    case FixedStyle::Rec2100SurroundFwd:
    case FixedStyle::Rec2100SurroundRev: {
        static const double kRec2100[3] = {0.2627, 0.6780, 0.0593};
        surround(rgb, kRec2100, 1e-4, style == FixedStyle::Rec2100SurroundFwd ? params[0] : 1.0 / params[0]);
        return;
    }
    case FixedStyle::GamutComp13Fwd:
    case FixedStyle::GamutComp13Rev: {
        const double power = params[6];
        const double achromatic = std::max({r, g, b});
        for (int c = 0; c < 3; ++c) {
            const double limit = params[c], threshold = params[3 + c];
            // The scale that puts the limit on the gamut's boundary (1).
            const double scale =
                (limit - threshold) / std::pow(std::pow((1.0 - threshold) / (limit - threshold), -power) - 1.0, 1.0 / power);
            rgb[c] = gamutCompress(rgb[c], achromatic, threshold, scale, power, style == FixedStyle::GamutComp13Rev);
        }
        return;
    }
    case FixedStyle::RgbToHsv: {
        // Extended to any values: hue 0..1; saturation 0..1 when the
        // channels share a sign, 1..2 when they do not.
        const double lo = std::min({r, g, b}), hi = std::max({r, g, b});
        double value = hi, saturation = 0.0, hue = 0.0;
        if (lo != hi) {
            const double delta = hi - lo;
            if (hi != 0.0)
                saturation = delta / hi;
            hue = r == hi ? (g - b) / delta : g == hi ? 2.0 + (b - r) / delta : 4.0 + (r - g) / delta;
            if (hue < 0.0)
                hue += 6.0;
            hue /= 6.0;
        }
        if (lo < 0.0)
            value += lo;
        if (-lo > hi)
            saturation = (hi - lo) / -lo;
        rgb[0] = hue, rgb[1] = saturation, rgb[2] = value;
        return;
    }
    case FixedStyle::HsvToRgb: {
        constexpr double kMaxSaturation = 1.999;
        const double hue = (r - std::floor(r)) * 6.0;
        const double saturation = std::min(std::max(g, 0.0), kMaxSaturation);
        const double value = b;
        const double red = std::min(std::max(std::fabs(hue - 3.0) - 1.0, 0.0), 1.0);
        const double green = std::min(std::max(2.0 - std::fabs(hue - 2.0), 0.0), 1.0);
        const double blue = std::min(std::max(2.0 - std::fabs(hue - 4.0), 0.0), 1.0);
        double hi = value, lo = value * (1.0 - saturation);
        if (saturation > 1.0) {
            lo = value * (1.0 - saturation) / (2.0 - saturation);
            hi = value - lo;
        }
        if (value < 0.0) {
            lo = value / (2.0 - saturation);
            hi = value - lo;
        }
        const double delta = hi - lo;
        rgb[0] = red * delta + lo, rgb[1] = green * delta + lo, rgb[2] = blue * delta + lo;
        return;
    }
    case FixedStyle::XyzToXyY: {
        const double sum = r + g + b;
        const double d = sum == 0.0 ? 0.0 : 1.0 / sum;
        rgb[0] = r * d, rgb[1] = g * d, rgb[2] = g;
        return;
    }
    case FixedStyle::XyYToXyz: {
        const double d = g == 0.0 ? 0.0 : 1.0 / g;
        rgb[0] = b * r * d, rgb[1] = b, rgb[2] = b * (1.0 - r - g) * d;
        return;
    }
    case FixedStyle::XyzToUvY:
    case FixedStyle::XyzToLuv: {
        const double sum = r + 15.0 * g + 3.0 * b;
        const double d = sum == 0.0 ? 0.0 : 1.0 / sum;
        const double u = 4.0 * r * d, v = 9.0 * g * d;
        if (style == FixedStyle::XyzToUvY) {
            rgb[0] = u, rgb[1] = v, rgb[2] = g;
            return;
        }
        // L* on 0..1 for Y on 0..1.
        const double l = g <= 0.008856451679 ? 9.0329629629629608 * g : 1.16 * std::cbrt(g) - 0.16;
        rgb[0] = l, rgb[1] = 13.0 * l * (u - kWhiteU), rgb[2] = 13.0 * l * (v - kWhiteV);
        return;
    }
    case FixedStyle::UvYToXyz: {
        const double d = g == 0.0 ? 0.0 : 1.0 / g;
        rgb[0] = 9.0 / 4.0 * b * r * d, rgb[1] = b, rgb[2] = 3.0 / 4.0 * b * (4.0 - r - 20.0 / 3.0 * g) * d;
        return;
    }
    case FixedStyle::LuvToXyz: {
        const double d = r == 0.0 ? 0.0 : 1.0 / (13.0 * r);
        const double u = g * d + kWhiteU, v = b * d + kWhiteV;
        const double cube = (r + 0.16) / 1.16;
        const double y = r <= 0.08 ? 0.11070564598794539 * r : cube * cube * cube;
        const double dd = v == 0.0 ? 0.0 : 0.25 / v;
        rgb[0] = 9.0 * y * u * dd, rgb[1] = y, rgb[2] = y * (12.0 - 3.0 * u - 20.0 * v) * dd;
        return;
    }
    }
}

} // namespace LutClf
