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

#include "lut/LutMeaning.h"
#include "lut/LutTable.h"

#include <QtGlobal>

#include <cmath>
#include <variant>

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

    void apply(double rgb[3]) const;
    bool mixesChannels() const { return false; }
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

// A Matrix: three rows of three coefficients and an offset.
struct Matrix
{
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

    void apply(double rgb[3]) const;
    bool mixesChannels() const;
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

enum class LogStyle { Log10, Log2, AntiLog10, AntiLog2, LinToLog, LogToLin, CameraLinToLog, CameraLogToLin };

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

using Operation = std::variant<Lut1D, Lut3D, Range, Matrix, Cdl, Log, Exponent>;

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

} // namespace LutClf
