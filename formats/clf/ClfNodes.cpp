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

// --- GradingTone ---------------------------------------------------------------

namespace {

using Curve3 = GradingTone::Curve3;
using EndCurve = GradingTone::EndCurve;

// The linear styles' log encoding of GradingRGBCurve and GradingTone.
constexpr double kLogShift = -0.000157849851665374, kLogGain = 363.034608563, kLogOffset = -7.0;
double linToLog(double x)
{
    return x < 0.0041318374739483946 ? x * kLogGain + kLogOffset : std::log2((x + kLogShift) / (0.18 + kLogShift));
}
double logToLin(double y)
{
    return y < -5.5 ? (y - kLogOffset) / kLogGain : std::exp2(y) * (0.18 + kLogShift) - kLogShift;
}

// A zone's curve between x0 and x2 with slopes m0 and m2 at its ends: two
// quadratic pieces meeting at x1, straight lines beyond; and its inverse.
double curve3Forward(double t, const Curve3 &p)
{
    const double tL = (t - p.x0) / (p.x1 - p.x0), tR = (t - p.x1) / (p.x2 - p.x1);
    const double fL = p.y0 * (1.0 - tL * tL) + p.y1 * tL * tL + p.m0 * (1.0 - tL) * tL * (p.x1 - p.x0);
    const double fR = p.y1 * (1.0 - tR) * (1.0 - tR) + p.y2 * (2.0 - tR) * tR + p.m2 * (tR - 1.0) * tR * (p.x2 - p.x1);
    if (t < p.x0)
        return (t - p.x0) * p.m0 + p.y0;
    if (!(t < p.x2))
        return (t - p.x2) * p.m2 + p.y2;
    return t < p.x1 ? fL : fR;
}
double curve3Reverse(double t, const Curve3 &p)
{
    if (t < p.y0)
        return (t - p.y0) / p.m0 + p.x0;
    if (!(t < p.y2))
        return (t - p.y2) / p.m2 + p.x2;
    if (t < p.y1) {
        const double b = p.m0 * (p.x1 - p.x0), a = p.y1 - p.y0 - p.m0 * (p.x1 - p.x0), c = p.y0 - t;
        return (-2.0 * c) / (std::sqrt(b * b - 4.0 * a * c) + b) * (p.x1 - p.x0) + p.x0;
    }
    const double b = 2.0 * p.y2 - 2.0 * p.y1 - p.m2 * (p.x2 - p.x1), a = p.y1 - p.y2 + p.m2 * (p.x2 - p.x1), c = p.y1 - t;
    return (-2.0 * c) / (std::sqrt(b * b - 4.0 * a * c) + b) * (p.x2 - p.x1) + p.x1;
}
// The middle point of a zone curve whose pieces meet at the middle of x0..x2.
template <typename T>
T curve3Middle(T x0, T x1, T x2, T y0, T y2, T m0, T m2)
{
    return (T(0.5) / ((x2 - x1) + (x1 - x0))) * ((T(2) * y0 + m0 * (x1 - x0)) * (x2 - x1) + (T(2) * y2 - m2 * (x2 - x1)) * (x1 - x0));
}
// The highlights' (or shadows') curve of master value val between start and
// pivot, which moves the whites (blacks) zone; in double precision, as the
// peer computes it.
double zoneCurve(double t, double x0, double x2, double val, bool shadow)
{
    double m0 = 1.0, m2 = 1.0;
    if (!shadow)
        val = 2.0 - val;
    const double m = val <= 1.0 ? std::max(0.01, val) : std::max(0.01, 2.0 - val);
    (shadow ? m0 : m2) = m;
    const double x1 = x0 + (x2 - x0) * 0.5, y1 = curve3Middle(x0, x1, x2, x0, x2, m0, m2);
    const double tL = (t - x0) / (x1 - x0), tR = (t - x1) / (x2 - x1);
    if (val <= 1.0) {
        if (t < x0)
            return x0 + (t - x0) * m0;
        if (t > x2)
            return x2 + (t - x2) * m2;
        return t < x1 ? x0 * (1.0 - tL * tL) + y1 * tL * tL + m0 * (1.0 - tL) * tL * (x1 - x0)
                      : y1 * (1.0 - tR) * (1.0 - tR) + x2 * (2.0 - tR) * tR + m2 * (tR - 1.0) * tR * (x2 - x1);
    }
    if (t < x0)
        return x0 + (t - x0) / m0;
    if (t > x2)
        return x2 + (t - x2) / m2;
    if (t < y1) {
        const double c = x0 - t, b = m0 * (x1 - x0), a = y1 - x0 - m0 * (x1 - x0);
        return (2.0 * c) / (-std::sqrt(b * b - 4.0 * a * c) - b) * (x1 - x0) + x0;
    }
    const double c = y1 - t, b = 2.0 * x2 - 2.0 * y1 - m2 * (x2 - x1), a = y1 - x2 + m2 * (x2 - x1);
    return (2.0 * c) / (-std::sqrt(b * b - 4.0 * a * c) - b) * (x2 - x1) + x1;
}

// Root of a t^2 + b t + c in the form that stays exact for small a.
double quadraticRoot(double a, double b, double c)
{
    return (-2.0 * c) / (std::sqrt(b * b - 4.0 * a * c) + b);
}

} // namespace

void GradingTone::prepare()
{
    identity = sContrast == 1.0;
    for (const auto &zone : zones)
        identity = identity && zone[0] == 1.0 && zone[1] == 1.0 && zone[2] == 1.0 && zone[3] == 1.0;
    if (identity)
        return;
    // The style's span of values and the s-contrast's pivot.
    const float top = style == GradingStyle::Linear ? 7.5f : 1.0f;
    const float topSC = style == GradingStyle::Linear ? 6.5f : 1.0f;
    const float bottom = style == GradingStyle::Linear ? -5.5f : 0.0f;
    scPivot = style == GradingStyle::Linear ? 0.0f : 0.4f;

    // Where the whites and blacks zones lie once highlights and shadows
    // have moved them.
    const double *hl = zones[Highlights], *sh = zones[Shadows], *wh = zones[Whites], *bl = zones[Blacks];
    const double highlightsStart = std::min(hl[4], hl[5] - 0.01), highlightsPivot = hl[5];
    const double whitesStart = zoneCurve(wh[4], highlightsStart, highlightsPivot, hl[3], false);
    const double whitesWidth = zoneCurve(wh[4] + wh[5], highlightsStart, highlightsPivot, hl[3], false) - whitesStart;
    const double shadowsStart = std::max(sh[4], sh[5] + 0.01), shadowsPivot = sh[5];
    const double blacksStart = zoneCurve(bl[4], shadowsPivot, shadowsStart, sh[3], true);
    const double blacksWidth = blacksStart - zoneCurve(bl[4] - bl[5], shadowsPivot, shadowsStart, sh[3], true);

    for (int ch = 0; ch < 4; ++ch) {
        // Midtones: five pieces from bottom to top, steeper (or flatter) in
        // the middle, with a halo either side that keeps the ends in place.
        float adjust = std::min(std::max(float(zones[Midtones][ch]), 0.01f), 1.99f);
        if (adjust != 1.0f) {
            float *x = midX[ch], *y = midY[ch], *m = midM[ch];
            constexpr float kHalo = 0.4f, kMinSlope = 0.1f;
            x[0] = bottom;
            x[5] = top;
            const float width = std::min(std::max(float(zones[Midtones][5]), 0.01f), (x[5] - x[0]) * 0.95f);
            const float center = std::min(std::max(float(zones[Midtones][4]), x[0] + width * 0.51f), x[5] - width * 0.51f);
            x[1] = center - width * 0.5f;
            x[4] = x[1] + width;
            x[2] = x[1] + (x[4] - x[1]) * 0.25f;
            x[3] = x[1] + (x[4] - x[1]) * 0.75f;
            y[0] = x[0];
            m[0] = m[5] = 1.0f;
            adjust = (adjust - 1.0f) * (1.0f - kMinSlope);
            m[2] = 1.0f + adjust;
            m[3] = 1.0f - adjust;
            m[1] = 1.0f + adjust * kHalo;
            m[4] = 1.0f - adjust * kHalo;
            if (center <= (x[5] + x[0]) * 0.5f) {
                const float area = (x[1] - x[0]) * (m[1] - m[0]) * 0.5f + (x[2] - x[1]) * ((m[1] - m[0]) + (m[2] - m[1]) * 0.5f)
                                   + (center - x[2]) * (m[2] - m[0]) * 0.5f;
                m[4] = (-0.5f * (x[5] - x[4]) * m[5] + (x[4] - x[3]) * (0.5f * m[3] - m[5])
                        + (x[3] - center) * (m[3] - m[5]) * 0.5f + area)
                       / (-0.5f * (x[5] - x[3]));
            } else {
                const float area = (x[5] - x[4]) * (m[4] - m[5]) * 0.5f + (x[4] - x[3]) * ((m[4] - m[5]) + (m[3] - m[4]) * 0.5f)
                                   + (x[3] - center) * (m[3] - m[5]) * 0.5f;
                m[1] = (-0.5f * (x[1] - x[0]) * m[0] + (x[2] - x[1]) * (0.5f * m[2] - m[0])
                        + (center - x[2]) * (m[2] - m[0]) * 0.5f + area)
                       / (-0.5f * (x[2] - x[0]));
            }
            for (int k = 1; k < 6; ++k)
                y[k] = y[k - 1] + (m[k - 1] + m[k]) * (x[k] - x[k - 1]) * 0.5f;
        }
        // Highlights and shadows: a curve between start and pivot.
        for (int shadow = 0; shadow < 2; ++shadow) {
            float val = float(zones[shadow ? Shadows : Highlights][ch]);
            if (!shadow)
                val = 2.0f - val;
            if (val == 1.0f)
                continue;
            Curve3 &p = highlightShadow[shadow][ch];
            const float start = float(shadow ? shadowsStart : highlightsStart);
            const float pivot = float(shadow ? shadowsPivot : highlightsPivot);
            p.x0 = shadow ? pivot : start;
            p.x2 = shadow ? start : pivot;
            p.y0 = p.x0;
            p.y2 = p.x2;
            p.x1 = p.x0 + (p.x2 - p.x0) * 0.5f;
            const float slope = std::max(0.01f, val < 1.0f ? val : 2.0f - val);
            p.m0 = shadow ? slope : 1.0f;
            p.m2 = shadow ? 1.0f : slope;
            p.y1 = curve3Middle(p.x0, p.x1, p.x2, p.y0, p.y2, p.m0, p.m2);
        }
        // Whites and blacks: one piece over the zone, then a line (or for
        // rising whites a quadratic).
        for (int black = 0; black < 2; ++black) {
            EndCurve &e = whiteBlack[black][ch];
            const float start = float(black ? blacksStart : whitesStart), width = float(black ? blacksWidth : whitesWidth);
            const float val = float(zones[black ? Blacks : Whites][ch]);
            e.x0 = black ? start - width : start;
            e.x1 = black ? start : e.x0 + width;
            const float test = black ? 2.0f - val : val;
            if (test < 1.0f) {
                if (!black) {
                    e.m0 = 1.0f;
                    e.m1 = std::max(0.01f, val);
                    e.y0 = e.x0;
                    e.y1 = e.y0 + (e.m0 + e.m1) * (e.x1 - e.x0) * 0.5f;
                } else {
                    e.m0 = std::max(0.01f, 2.0f - val);
                    e.m1 = 1.0f;
                    e.y1 = e.x1;
                    e.y0 = e.y1 - (e.m0 + e.m1) * (e.x1 - e.x0) * 0.5f;
                }
            } else if (test > 1.0f) {
                if (!black) {
                    e.m0 = 1.0f;
                    e.m1 = std::max(0.01f, 2.0f - val);
                    e.y0 = e.x0;
                } else {
                    e.m0 = std::max(0.01f, val);
                    e.m1 = 1.0f;
                    e.y1 = e.x1;
                    e.y0 = e.y1 - (e.m0 + e.m1) * (e.x1 - e.x0) * 0.5f;
                }
                e.gain = (e.m0 + e.m1) * 0.5f;
            }
        }
    }
    // The s-contrast: a slope about the pivot, bent back to 1 towards the
    // top and the bottom; limited so that it never reverses.
    float contrast = float(sContrast);
    if (contrast != 1.0f) {
        contrast = contrast > 1.0f ? 1.0f / (1.8125f - 0.8125f * std::min(contrast, 1.99f))
                                   : 0.28125f + 0.71875f * std::max(contrast, 0.01f);
        {
            float *x = scX[0], *y = scY[0];
            float &m0 = scM[0][0], &m3 = scM[0][1];
            x[3] = y[3] = topSC;
            y[0] = scPivot + (y[3] - scPivot) * 0.25f;
            m0 = contrast;
            x[0] = scPivot + (y[0] - scPivot) / m0;
            const float minWidth = (x[3] - x[0]) * 0.3f;
            m3 = 1.0f / m0;
            const float center = (y[3] - y[0] - m3 * x[3] + m0 * x[0]) / (m0 - m3);
            x[1] = x[0];
            x[2] = 2.0f * center - x[1];
            if (x[2] > x[3]) {
                x[2] = x[3];
                x[1] = 2.0f * center - x[2];
            } else if ((x[2] - x[1]) < minWidth) {
                x[2] = x[1] + minWidth;
                const float newCenter = (x[2] + x[1]) * 0.5f;
                m3 = (y[3] - y[0] + m0 * x[0] - newCenter * m0) / (x[3] - newCenter);
            }
            y[1] = y[0];
            y[2] = y[1] + (m0 + m3) * (x[2] - x[1]) * 0.5f;
        }
        {
            float *x = scX[1], *y = scY[1];
            float &m0 = scM[1][0], &m3 = scM[1][1];
            x[0] = y[0] = bottom;
            y[3] = scPivot - (scPivot - y[0]) * 0.25f;
            m3 = contrast;
            x[3] = scPivot - (scPivot - y[3]) / m3;
            const float minWidth = (x[3] - x[0]) * 0.3f;
            m0 = 1.0f / m3;
            const float center = (y[3] - y[0] - m3 * x[3] + m0 * x[0]) / (m0 - m3);
            x[2] = x[3];
            x[1] = 2.0f * center - x[2];
            if (x[1] < x[0]) {
                x[1] = x[0];
                x[2] = 2.0f * center - x[1];
            } else if ((x[2] - x[1]) < minWidth) {
                x[1] = x[2] - minWidth;
                const float newCenter = (x[2] + x[1]) * 0.5f;
                m0 = (y[3] - y[0] - m3 * x[3] + newCenter * m3) / (newCenter - x[0]);
            }
            y[2] = y[3];
            y[1] = y[2] - (m0 + m3) * (x[2] - x[1]) * 0.5f;
        }
    }
    scContrast = contrast;
}

void GradingTone::apply(double rgb[3]) const
{
    if (identity)
        return;
    // Each zone's step on one channel (ch 0..2) or on all three with the
    // master's curve (ch 3).
    auto each = [rgb](int ch, auto &&f) {
        if (ch < 3)
            rgb[ch] = f(rgb[ch]);
        else
            for (int i = 0; i < 3; ++i)
                rgb[i] = f(rgb[i]);
    };
    auto mids = [&](int ch, bool rev) {
        const float adjust = std::min(std::max(float(zones[Midtones][ch]), 0.01f), 1.99f);
        if (adjust == 1.0f)
            return;
        const float *x = midX[ch], *y = midY[ch], *m = midM[ch];
        each(ch, [&](double t) {
            if (!rev) {
                if (t < x[0])
                    return y[0] + (t - x[0]) * m[0];
                if (t > x[5])
                    return y[5] + (t - x[5]) * m[5];
                int k = t < x[1] ? 0 : t > x[4] ? 4 : t > x[3] ? 3 : t > x[2] ? 2 : 1;
                const double u = (t - x[k]) / (x[k + 1] - x[k]);
                return u * (x[k + 1] - x[k]) * (u * 0.5 * (m[k + 1] - m[k]) + m[k]) + y[k];
            }
            if (t < y[0])
                return x[0] + (t - y[0]) / m[0];
            if (!(t < y[5]))
                return x[5] + (t - y[5]) / m[5];
            int k = 0;
            while (k < 4 && !(t < y[k + 1]))
                ++k;
            const double a = 0.5 * (m[k + 1] - m[k]) * (x[k + 1] - x[k]), b = m[k] * (x[k + 1] - x[k]);
            return quadraticRoot(a, b, y[k] - t) * (x[k + 1] - x[k]) + x[k];
        });
    };
    auto highlightsShadows = [&](int ch, bool shadow, bool rev) {
        float val = float(zones[shadow ? Shadows : Highlights][ch]);
        if (!shadow)
            val = 2.0f - val;
        if (val == 1.0f)
            return;
        const Curve3 &p = highlightShadow[shadow][ch];
        // Values below 1 bend one way, above 1 the other (the inverse curve).
        const bool forward = (val < 1.0f) != rev;
        each(ch, [&](double t) { return forward ? curve3Forward(t, p) : curve3Reverse(t, p); });
    };
    auto whitesBlacks = [&](int ch, bool black, bool rev) {
        const float val = float(zones[black ? Blacks : Whites][ch]);
        const float test = black ? 2.0f - val : val;
        if (test == 1.0f)
            return;
        const EndCurve &e = whiteBlack[black][ch];
        const double x0 = e.x0, x1 = e.x1, y0 = e.y0, y1 = e.y1, m0 = e.m0, m1 = e.m1, gain = e.gain;
        // One piece from x0 to x1 with slopes m0 and m1, and its inverse.
        auto piece = [&](double t) {
            if (t < x0)
                return y0 + (t - x0) * m0;
            const double u = (t - x0) / (x1 - x0);
            return u * (x1 - x0) * (u * 0.5 * (m1 - m0) + m0) + y0;
        };
        auto pieceReverse = [&](double t) {
            if (t < y0)
                return x0 + (t - y0) / m0;
            return quadraticRoot(0.5 * (m1 - m0) * (x1 - x0), m0 * (x1 - x0), y0 - t) * (x1 - x0) + x0;
        };
        // Rising whites go on as a quadratic beyond the zone, whose
        // coefficients are taken in single precision as the peer's: the
        // cancellation in them shows far above the zone.
        const float newY1 = (e.x1 - e.x0) / e.gain + e.x0, xd = e.x0 + (e.x1 - e.x0) * 0.99f;
        const float md = 1.0f / (e.m0 + (xd - e.x0) * (e.m1 - e.m0) / (e.x1 - e.x0));
        const float aa = 0.5f * (1.0f / e.m1 - md) / (e.x1 - xd), bb = 1.0f / e.m1 - 2.0f * aa * e.x1;
        const float cc = newY1 - bb * e.x1 - aa * e.x1 * e.x1;
        each(ch, [&](double t) {
            if (test < 1.0f) {
                if (!rev)
                    return t < x1 ? piece(t) : y1 + (t - x1) * m1;
                return t < y1 ? pieceReverse(t) : x1 + (t - y1) / m1;
            }
            t = black ? (t - x1) * gain + x1 : (t - x0) * gain + x0;
            double res = rev ? piece(t) : pieceReverse(t);
            if (!black) {
                res = (res - x0) / gain + x0;
                t = (t - x0) / gain + x0;
                if (!rev)
                    return t < x1 ? res : (aa * t + bb) * t + cc;
                return t < (aa * x1 + bb) * x1 + cc ? res : quadraticRoot(aa, bb, cc - t);
            }
            if (!rev)
                res = t < y1 ? res : x1 + (t - y1) / m1;
            else
                res = t < x1 ? res : y1 + (t - x1) * m1;
            return (res - x1) / gain + x1;
        });
    };
    auto sContrastStep = [&](bool rev) {
        if (float(sContrast) == 1.0f)
            return;
        each(3, [&](double t) {
            const float *xt = scX[0], *yt = scY[0], *xb = scX[1], *yb = scY[1];
            const double mt0 = scM[0][0], mt3 = scM[0][1], mb0 = scM[1][0], mb3 = scM[1][1];
            if (!rev) {
                double out = (t - scPivot) * scContrast + scPivot;
                const double ut = (t - xt[1]) / (xt[2] - xt[1]), ub = (t - xb[1]) / (xb[2] - xb[1]);
                if (!(t < xt[1]))
                    out = ut * (xt[2] - xt[1]) * (ut * 0.5 * (mt3 - mt0) + mt0) + yt[1];
                if (!(t < xt[2]))
                    out = yt[2] + (t - xt[2]) * mt3;
                if (t < xb[2])
                    out = ub * (xb[2] - xb[1]) * (ub * 0.5 * (mb3 - mb0) + mb0) + yb[1];
                if (t < xb[1])
                    out = yb[1] + (t - xb[1]) * mb0;
                return out;
            }
            double out = (t - scPivot) / scContrast + scPivot;
            if (!(t < yt[1]))
                out = (xt[2] - xt[1]) * quadraticRoot((mt3 - mt0) * 0.5 * (xt[2] - xt[1]), mt0 * (xt[2] - xt[1]), yt[1] - t)
                      + xt[1];
            if (!(t < yt[2]))
                out = xt[2] + (t - yt[2]) / mt3;
            if (t < yb[2])
                out = (xb[2] - xb[1]) * quadraticRoot((mb3 - mb0) * 0.5 * (xb[2] - xb[1]), mb0 * (xb[2] - xb[1]), yb[1] - t)
                      + xb[1];
            if (t < yb[1])
                out = xb[1] + (t - yb[1]) / mb0;
            return out;
        });
    };
    if (style == GradingStyle::Linear)
        for (int i = 0; i < 3; ++i)
            rgb[i] = linToLog(rgb[i]);
    if (!reverse) {
        for (int ch = 0; ch < 4; ++ch)
            mids(ch, false);
        for (int ch = 0; ch < 4; ++ch)
            highlightsShadows(ch, false, false);
        for (int ch = 0; ch < 4; ++ch)
            whitesBlacks(ch, false, false);
        for (int ch = 0; ch < 4; ++ch)
            highlightsShadows(ch, true, false);
        for (int ch = 0; ch < 4; ++ch)
            whitesBlacks(ch, true, false);
        sContrastStep(false);
    } else {
        // The steps undone in the opposite order, the master first.
        static const int kOrder[] = {3, 0, 1, 2};
        sContrastStep(true);
        for (int ch : kOrder)
            whitesBlacks(ch, true, true);
        for (int ch : kOrder)
            highlightsShadows(ch, true, true);
        for (int ch : kOrder)
            whitesBlacks(ch, false, true);
        for (int ch : kOrder)
            highlightsShadows(ch, false, true);
        for (int ch : kOrder)
            mids(ch, true);
    }
    if (style == GradingStyle::Linear)
        for (int i = 0; i < 3; ++i)
            rgb[i] = logToLin(rgb[i]);
    // The peer keeps values below the largest half float.
    for (int i = 0; i < 3; ++i)
        rgb[i] = std::min(rgb[i], 65504.0);
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
