#pragma once

#include "lut/LutCdl.h"

#include <QString>
#include <QtGlobal>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// A per-channel curve given by its knots: x rising strictly, y the value at
// each. Between knots it is linear, or with smooth set a cubic through the
// knots (Hermite segments whose slope at a knot is that of the chord between
// its neighbours; at the ends the slope that makes the end segment a
// parabola), as csp pre-LUTs are interpolated. Inputs beyond the first or
// last knot take the end values.
struct LutCurve
{
    std::vector<double> x;
    std::vector<double> y;
    bool smooth = false;

    bool isEmpty() const { return x.empty(); }
    double evaluate(double input) const;
    // True when every knot maps onto itself (within 1e-6).
    bool isIdentity() const;
    // Checks the knots: at least two, all finite, x rising strictly. Returns
    // an empty string when they are usable, else why not.
    QString problem() const;

private:
    // The slope of the smooth curve at knot k (at least three knots).
    double slopeAt(size_t k) const;
};

// The most process nodes a file's transform may have: far more than any
// list a program writes (a few dozen), few enough that parsing stays
// quick and a bake of a short list on any lattice stays within
// LutCalc::kMaxEvaluationSteps. A reader refuses a list that is longer.
constexpr int kMaxProcessNodes = 10000;

// What a file means beyond the tables that the plain reading keeps. Every
// read records it; the bake path (LutCalc::bake) evaluates it, and the
// command line's notes say what the plain reading left out.
//
// The transform of a colour, channel by channel until the 3D table:
//   1. the shaper curve of each channel (csp pre-LUT, Truelight input LUT),
//   2. the container's 1D table over its input span, when the 1D table
//      stands in front of the 3D table (cube files with both) or when there
//      is no 3D table,
//   3. the container's 3D table over its input span, by tetrahedral
//      interpolation.
// A file whose transform has other steps (process lists) supplies the whole
// transform as evaluate instead.
// An affine transform of a colour: out = m x in + offset, rows red, green,
// blue.
struct LutMatrix
{
    double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double offset[3] = {0.0, 0.0, 0.0};

    void apply(double rgb[3]) const;
    // True when a channel's output depends on another channel's input.
    bool mixesChannels() const;
    // Sets inverse to the transform that undoes this one; false when the
    // matrix is singular (or so near it that the inverse is not finite).
    bool invert(LutMatrix *inverse) const;
};

struct LutMeaning
{
    LutCurve shaper[3];
    bool table1DFeeds3D = false;

    // The input values the first and last lattice points stand for, per
    // channel (cube DOMAIN_MIN/MAX and input ranges, spi1d From).
    double inputMin3D[3] = {0.0, 0.0, 0.0};
    double inputMax3D[3] = {1.0, 1.0, 1.0};
    double inputMin1D[3] = {0.0, 0.0, 0.0};
    double inputMax1D[3] = {1.0, 1.0, 1.0};

    // Table values the reading had to clamp into the table's range (only a
    // plain read clamps; a read for baking keeps them).
    long long clampedValues = 0;

    // The whole transform, for files whose steps the tables cannot hold;
    // null for every other file. Takes and gives red, green, blue.
    std::function<void(double rgb[3])> evaluate;
    // The lattice size (3D) or length (1D) the file's own tables suggest for
    // a file that supplies evaluate; 0 otherwise. An evaluation that keeps
    // the channels apart (a 1D transform) has evaluateSize3D 0.
    int evaluateSize3D = 0;
    int evaluateSize1D = 0;
    // The steps evaluate takes for one colour (for a process list, its
    // nodes), for a file that supplies evaluate; 0 otherwise. The bake and
    // --apply refuse a transform whose steps over all the colours they
    // evaluate would pass LutCalc::kMaxEvaluationSteps.
    qint64 evaluateCost = 0;

    // The ASC CDL grade that the whole transform is, when it is one (a .cc,
    // .ccc or .cdl file): what the .cc writer writes. Kept by a bake of the
    // transform, whose table stands for the same grade.
    std::optional<LutCdl> cdl;

    // Set when the whole transform is one matrix (a spimtx file, a process
    // list of one Matrix); evaluate then applies it. Writers of matrix
    // formats write it; the tables a conversion bakes from it keep it.
    bool hasMatrix = false;
    LutMatrix matrix;
    // Makes the transform the matrix: sets it, evaluate and the lattice
    // sizes a bake uses (a 3D lattice when it mixes the channels).
    void setMatrix(const LutMatrix &m);

    // What the file calls its shaper, for notes ("csp pre-LUT").
    QString shaperName;

    bool hasShaper() const { return !shaper[0].isEmpty() || !shaper[1].isEmpty() || !shaper[2].isEmpty(); }
    bool inputSpan3DIsUnit() const;
    bool inputSpan1DIsUnit() const;
};
