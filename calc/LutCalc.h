#pragma once

#include "lut/LutMemory.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

class LutTable3D;
class Read_LUTFile;

// Tetrahedral interpolation of a container's 3D table. Stateless: both
// operations are class-level.
class LutCalc
{
public:
    // Evaluates source's cube at point (one component per table axis, in the
    // source's 3D domain) into result. Points outside the domain take the
    // values on its boundary. The source must hold a 3D table.
    static void sampleCube(const float point[3], float result[3], const Read_LUTFile *source);

    // Tetrahedral interpolation of a grid of sizes[0] x sizes[1] x sizes[2]
    // entries of three floats (third index fastest) at a position in grid
    // units per axis. Positions beyond the last lattice plane take it;
    // positions below the first, or not a number, take the first.
    static void sampleGrid(const float *grid, const int sizes[3], const double position[3], float result[3]);

    // Fills every entry of destination's cube (already allocated at its size
    // M) by sampling source at (i, j, k) / (M - 1) over 0..1 on each axis,
    // in the same axis order. Returns false, writing nothing, when either
    // container has no cube or M is below 2 (a 1-point lattice has no step).
    static bool resampleCube(const Read_LUTFile *source, Read_LUTFile *destination);

    // The value of one channel of a 1D table of n entries of three floats,
    // evenly spaced over the input 0..1, at input t: linear interpolation
    // between the two nearest entries. Inputs beyond 0..1 (and a NaN) take
    // the value at the nearer end.
    static double sample1D(const float *entries, int n, int channel, double t);

    // Fills every entry of destination's 1D table (already allocated at its
    // size m) by sampling source's at i / (m - 1). Returns false, writing
    // nothing, when either container has no 1D table or m is below 2.
    static bool resample1D(const Read_LUTFile *source, Read_LUTFile *destination);

    // The whole transform that source's file means (its LutMeaning: shapers,
    // input spans, the 1D table in front of the 3D one, or the file's own
    // evaluation), applied to rgb in place in double precision. Nothing is
    // clamped but inputs beyond a curve's or table's span, which take its
    // end values. Expects a container read for baking.
    static void evaluate(const Read_LUTFile *source, double rgb[3]);

    // One axis of a cell of a grid of three floats an entry: the offsets (in
    // floats) of the lattice planes below and above a position, and the
    // fraction between them. A grid holds at most kMaxCubeSize^3 entries, so
    // the offsets fit.
    struct AxisCell
    {
        qint32 lower;
        qint32 upper;
        double f;
    };

    // A transform prepared for colours whose channels each take one of a
    // fixed set of values (a picture's codes, the 65536 halves). Before its
    // 3D table, evaluate works on each channel on its own (shaper, 1D table,
    // the position on the table's axis): that is worked out once per value
    // here, so that a colour then takes the tetrahedral step alone. The
    // results are evaluate's, bit for bit. Refers to the source's table,
    // which must outlive it.
    class ChannelTables
    {
    public:
        // Prepares source's transform for the values value(0) .. value(count
        // - 1) of every channel, on the threads of LutParallel. False,
        // leaving nothing prepared, for a transform that supplies its own
        // evaluation (it may mix the channels at any step).
        bool prepare(const Read_LUTFile *source, int count, const std::function<double(int)> &value);
        bool isPrepared() const { return m_count > 0; }
        // evaluate(source, rgb) of the colour whose red, green and blue are
        // value(index[0]), value(index[1]), value(index[2]).
        void evaluate(const quint16 index[3], double rgb[3]) const;

    private:
        // Per channel and value; without a 3D table, f is the result. In
        // huge pages: 3 MB for the halves, otherwise some 800 page faults.
        std::vector<AxisCell, LutMemory::Allocator<AxisCell>> m_entries[3];
        const float *m_grid = nullptr;      // the 3D table, null without one
        int m_count = 0;
    };
    // True when source's transform mixes channels (a 3D table or an
    // evaluation of its own), so a 1D table cannot hold it.
    static bool hasTransform3D(const Read_LUTFile *source);
    // The most evaluation steps (LutMeaning::evaluateCost per colour, times
    // the colours) a bake or --apply takes on: at about 25 ns a step (a
    // Matrix node) that is under a minute on one processor. A bake of a
    // 40-node list on a 256-point lattice is 671 million steps, a list of
    // kMaxProcessNodes on the 33-point lattice 359 million.
    static constexpr qint64 kMaxEvaluationSteps = qint64(1) << 31;
    // Why evaluating source's transform at `colours` colours is refused (a
    // list longer than kMaxProcessNodes, or more than kMaxEvaluationSteps
    // steps), "" when it is not. A transform without evaluateCost passes.
    static QString evaluationLimit(const Read_LUTFile *source, qint64 colours);

    // Fills destination's cube (allocated at its size M >= 2) with source's
    // transform at (i, j, k) / (M - 1), on the threads of LutParallel.
    // False, writing nothing, when source holds no transform, or with
    // destination's errorString set when evaluationLimit refuses it.
    static bool bakeCube(const Read_LUTFile *source, Read_LUTFile *destination);
    // Fills destination's 1D table (allocated, at least 2 entries) with
    // source's transform at i / (M - 1) on every channel. False when the
    // transform mixes channels or source has no 1D table, or as bakeCube.
    static bool bake1D(const Read_LUTFile *source, Read_LUTFile *destination);

    // How two transforms differ on a lattice, per channel (R, G, B): the
    // largest, the mean and the 99th percentile (nearest rank: the smallest
    // difference that at least 99% of the points do not exceed) of the
    // absolute difference, and the lattice point (input r, g, b) of the
    // first largest in lattice order (r fastest). Where both give NaN they
    // agree; where one does, or they differ by infinity, the difference is
    // infinite.
    struct Difference
    {
        int size = 0; // points per axis
        double largest[3] = {0.0, 0.0, 0.0};
        double mean[3] = {0.0, 0.0, 0.0};
        double percentile99[3] = {0.0, 0.0, 0.0};
        double at[3][3] = {}; // at[channel]: r, g, b of its largest
    };
    // Evaluates a's and b's transforms (as evaluate does) at (i, j, k) /
    // (size - 1) over 0..1 on each axis, on the threads of LutParallel, and
    // fills difference. False with reason when either holds no transform or
    // evaluationLimit refuses one (side then 0 for a, 1 for b), or size is
    // below 2 or above kMaxCubeSize (side -1). Holds a float a channel and
    // lattice point while it works: 200 MB at 256 points per axis.
    static bool compare(const Read_LUTFile *a, const Read_LUTFile *b, int size, Difference *difference,
                        QString *reason, int *side);

    // Trilinear interpolation of table (n points per axis, n >= 1) at a
    // position in grid units per axis, for files that ask for it instead of
    // the tetrahedral interpolation used everywhere else. Positions beyond
    // the lattice take its boundary, as in sampleCube.
    static void sampleTrilinear(const LutTable3D &table, const double position[3], double result[3]);
};
