#pragma once

// The process nodes of a CLF or CTF ProcessList and their evaluation: plain
// parameters and tables in normalised units (0..1 for the full code range of
// an integer bit depth), applied to a colour in double precision. Nothing
// here knows XML or the LUT container; the parser (ClfParser) fills the
// nodes, the format (ClfFormat.cpp) maps them onto the container or hands
// the list to the bake path.
//
// A node kind is a struct with apply(rgb) and mixesChannels(), and an
// alternative of Operation.

#include "calc/LutInverse.h"
#include "lut/LutMeaning.h"
#include "lut/LutTable.h"

#include <QtGlobal>

#include <cmath>
#include <memory>
#include <variant>
#include <vector>

namespace LutClf {

// A LUT1D: entries of three channels (a one-channel Array is copied to all
// three), evenly spaced over the input 0..1, or over the half floats.
struct Lut1D
{
    LutTable1D table;
    // Entry i holds the output for the half float whose bit pattern is i.
    bool halfDomain = false;
    // An IndexMap: input values to table positions 0..1 (empty for none).
    LutCurve indexMap;
    // hueAdjust="dw3": the middle channel is put back where it stood
    // between the smallest and the largest, which keeps the hue.
    bool hueAdjust = false;

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return hueAdjust; }
};

// An InverseLUT1D: the exact inverse of the LUT1D its Array gives, channel
// by channel (calc/LutInverse). Over the half floats, each channel has a
// curve for the positive and one for the negative halfs, divided at the
// output for zero.
struct InverseLut1D
{
    LutInverse::Curve curve[3];
    bool halfDomain = false;
    LutInverse::Curve negative[3];
    double atZero[3] = {0.0, 0.0, 0.0};
    bool hueAdjust = false;

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return hueAdjust; }
};

// An InverseLUT3D: the exact inverse of the tetrahedral interpolation of the
// LUT3D its Array gives; inputs are clamped to 0..1 first.
struct InverseLut3D
{
    std::shared_ptr<const LutInverse::Cube> cube;

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return true; }
};

// A LUT3D: N x N x N entries, red slowest, over the input cube 0..1.
struct Lut3D
{
    LutTable3D table;
    bool trilinear = false; // else tetrahedral

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return true; }
};

// A Range: with both pairs of limits a linear map of minIn..maxIn onto
// minOut..maxOut (clamped to the output limits unless noClamp); with one
// pair only, a clamp at that limit.
struct Range
{
    double minIn = 0.0, maxIn = 0.0, minOut = 0.0, maxOut = 0.0;
    bool hasMin = false, hasMax = false;
    bool clamp = true;

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return false; }
};

enum class CdlStyle { Fwd, Rev, FwdNoClamp, RevNoClamp };

// An ASC_CDL: slope, offset and power per channel, then saturation (the
// reverse styles undo them in the opposite order).
struct Cdl
{
    CdlStyle style = CdlStyle::Fwd;
    double slope[3] = {1.0, 1.0, 1.0};
    double offset[3] = {0.0, 0.0, 0.0};
    double power[3] = {1.0, 1.0, 1.0};
    double saturation = 1.0;

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return saturation != 1.0; }
};

// Each style is followed by its inverse (the parser inverts a style by
// flipping the lowest bit).
enum class LogStyle { Log10, AntiLog10, Log2, AntiLog2, LinToLog, LogToLin, CameraLinToLog, CameraLogToLin };

// The parameters of one channel of a Log node, with the derived values of
// the camera styles' linear segment.
struct LogParams
{
    double base = 2.0;
    double logSideSlope = 1.0;
    double logSideOffset = 0.0;
    double linSideSlope = 1.0;
    double linSideOffset = 0.0;
    double linSideBreak = NAN; // camera styles only
    double linearSlope = NAN;  // camera styles: derived when the file gives none
    double logSideBreak = 0.0; // derived
};

struct Log
{
    LogStyle style = LogStyle::Log10;
    LogParams params[3];

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return false; }
};

enum class ExponentStyle { Basic, BasicMirror, BasicPassThru, Moncurve, MoncurveMirror };

// An Exponent (or the older Gamma): a power per channel, with an offset in
// the monitor-curve styles.
struct Exponent
{
    ExponentStyle style = ExponentStyle::Basic;
    bool reverse = false;
    double exponent[3] = {1.0, 1.0, 1.0};
    double offset[3] = {0.0, 0.0, 0.0};

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return false; }
};

enum class ExposureContrastStyle { Linear, Video, Log };

// An ExposureContrast: an exposure in stops and a contrast (times gamma)
// about a pivot, for linear, video or logarithmic encodings, or the
// reverse. Dynamic parameters take the values the file states.
struct ExposureContrast
{
    ExposureContrastStyle style = ExposureContrastStyle::Linear;
    bool reverse = false;
    double exposure = 0.0;
    double contrast = 1.0;
    double gamma = 1.0;
    double pivot = 0.18;
    double logExposureStep = 0.088;
    double logMidGray = 0.435;

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return false; }
};

// Each style is followed by its inverse, as in LogStyle.
enum class FixedStyle {
    RedMod03Fwd, RedMod03Rev, RedMod10Fwd, RedMod10Rev, Glow03Fwd, Glow03Rev, Glow10Fwd, Glow10Rev,
    DarkToDim10, DimToDark10, GamutComp13Fwd, GamutComp13Rev, Rec2100SurroundFwd, Rec2100SurroundRev,
    RgbToHsv, HsvToRgb, XyzToXyY, XyYToXyz, XyzToUvY, UvYToXyz, XyzToLuv, LuvToXyz
};

// A FixedFunction (or the older ACES node): one of the named functions of
// the ACES look and output transforms and of colour-space conversions, with
// its parameters (the surround's gamma; the gamut compression's limits,
// thresholds and power).
struct FixedFunction
{
    FixedStyle style = FixedStyle::RgbToHsv;
    double params[7] = {0, 0, 0, 0, 0, 0, 0};

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return true; }
};

enum class GradingStyle { Log, Linear, Video };

// A GradingPrimary: the primary corrections of a grading panel for log,
// linear or video encodings, or their reverse. The parser combines each
// control's channel and master values into the per-channel terms applied:
//   log:    x + brightness, contrast about pivot, gamma between the black
//           and white pivots;
//   linear: (x + offset) * 2^exposure, a contrast power about pivot;
//   video:  x + offset + lift, a slope about the black pivot (from lift
//           and gain), gamma between the pivots;
// then saturation about Rec.709 luma and the clamp.
struct GradingPrimary
{
    GradingStyle style = GradingStyle::Log;
    bool reverse = false;
    double add[3] = {0.0, 0.0, 0.0};
    double scale[3] = {1.0, 1.0, 1.0};
    double power[3] = {1.0, 1.0, 1.0};
    double pivot = 0.5;
    double pivotBlack = 0.0, pivotWhite = 1.0;
    double saturation = 1.0;
    double clampBlack = -INFINITY, clampWhite = INFINITY;

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return saturation != 1.0; }
};

// One curve of a GradingRGBCurve: a quadratic spline through the control
// points, continued by straight lines beyond the first and last knots;
// empty for an identity curve. knots has one entry more than a, b and c,
// the coefficients of each piece: (a t + b) t + c, t from the piece's knot.
struct GradingSpline
{
    std::vector<float> knots, a, b, c;

    double apply(double x) const;
    double applyReverse(double y) const;
};

// Fits spline to the control points (x rising, at least two) and slopes
// (all 0: estimated from the points), as the peer fits them, in single
// precision, whose branches on near-equal slopes decide the knots.
void fitGradingSpline(const std::vector<float> &x, const std::vector<float> &y, const std::vector<float> &slopes,
                      GradingSpline &spline);

// A GradingRGBCurve: a curve per channel, then the master curve on all
// three (the reverse undoes them in the opposite order). In the linear
// style the curves work on a logarithmic encoding of the values.
struct GradingRgbCurve
{
    GradingSpline curves[4]; // red, green, blue, master
    bool reverse = false;
    bool linToLog = false;

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return false; }
};

// A GradingTone: tonal zones moved per channel and for all three (master):
// midtones about a centre, highlights and shadows about their pivots,
// whites and blacks beyond them, and an s-shaped contrast about the
// style's pivot, as the peer's grading tone; values, starts and widths as
// the file gives them.
struct GradingTone
{
    enum Zone { Blacks, Shadows, Midtones, Highlights, Whites, Zones };
    // Per zone: red, green, blue, master, start (or centre), width (or pivot).
    double zones[Zones][6] = {};
    double sContrast = 1.0;
    GradingStyle style = GradingStyle::Log;
    bool reverse = false;

    // Derives the curves' points and slopes from the values above, in
    // single precision as the peer does.
    void prepare();
    void apply(double rgb[3]) const;
    bool mixesChannels() const { return false; }

    // Derived by prepare(); for each of red, green, blue and master.
    struct Curve3
    {
        float x0 = 0, x1 = 0, x2 = 0, y0 = 0, y1 = 0, y2 = 0, m0 = 1, m2 = 1;
    };
    struct EndCurve
    {
        float x0 = 0, x1 = 0, y0 = 0, y1 = 0, m0 = 1, m1 = 1, gain = 1;
    };
    bool identity = true;
    float midX[4][6] = {}, midY[4][6] = {}, midM[4][6] = {};
    Curve3 highlightShadow[2][4];
    EndCurve whiteBlack[2][4];
    float scX[2][4] = {}, scY[2][4] = {}, scM[2][2] = {};
    float scPivot = 0.4f, scContrast = 1.0f;
};

// A Matrix node is the container's affine transform, LutMatrix.
using Operation = std::variant<Lut1D, Lut3D, Range, LutMatrix, Cdl, Log, Exponent, InverseLut1D, InverseLut3D,
                               ExposureContrast, FixedFunction, GradingPrimary, GradingRgbCurve, GradingTone>;

// One node of the list: its operation, where the file gives it, and the
// scales of its bit depths (the largest code of an integer depth, 1 for a
// real one), in which the file states its values.
struct Node
{
    Operation op;
    qint64 line = 0;
    double inScale = 1.0;
    double outScale = 1.0;

    void apply(double rgb[3]) const
    {
        std::visit([rgb](const auto &operation) { operation.apply(rgb); }, op);
    }
    // True when the node makes one channel depend on another.
    bool mixesChannels() const
    {
        return std::visit([](const auto &operation) { return operation.mixesChannels(); }, op);
    }
};

// Helpers of the node kinds, exposed for their tests.

// A LUT1D over the half-float domain: entry i holds the output for the half
// whose bit pattern is i; between two halfs the output is interpolated
// linearly, and beyond the largest half it is that half's output.
double lookUpHalfDomain(const LutTable1D &table, int channel, double x);
// The monitor curve: a power with an offset, continued by a straight line
// through zero below the point where the two meet with the same slope.
double moncurve(double x, double g, double o, bool reverse);
double applyLog(LogStyle style, const LogParams &p, double x);
// Applies curve(channel, value) to each channel of rgb, then puts the middle
// channel back at the fraction of the way from the smallest to the largest
// where it stood before (the hue adjustment "dw3").
template <typename Curve>
void applyKeepingHue(double rgb[3], Curve &&curve)
{
    // The order of the channels, ties broken as the peer breaks them.
    const int ab = rgb[0] > rgb[1], bc = rgb[1] > rgb[2], ac = rgb[0] > rgb[2];
    static const int kOrder[] = {2, 1, 0, 2, 1, 0, 2, 1, 2, 0, 1, 2};
    int k = ab * 5 + bc * 4 - ac * 3 + 3;
    const int max = kOrder[k], mid = kOrder[k + 1], min = kOrder[k + 2];
    const double chroma = rgb[max] - rgb[min];
    const double fraction = chroma == 0.0 ? 0.0 : (rgb[mid] - rgb[min]) / chroma;
    for (int c = 0; c < 3; ++c)
        rgb[c] = curve(c, rgb[c]);
    rgb[mid] = fraction * (rgb[max] - rgb[min]) + rgb[min];
}

} // namespace LutClf
