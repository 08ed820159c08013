#include "calc/LutCalc.h"

#include "lut/LutParallel.h"
#include "lut/Read_LUTFile.h"

#include "lut/LutTable.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace {

// Where a position in grid units falls on one axis of size points: the
// lattice planes below and above it and the fraction between them.
// Positions beyond the last plane take it; positions below the first, or
// not a number, take the first.
struct AxisPosition
{
    int lower;
    int upper;
    double f;
};

inline AxisPosition axisPosition(double x, int size)
{
    if (x > double(size - 1))
        x = double(size - 1);
    // A NaN has no plane.
    if (!(x >= 0.0))
        return {0, 0, 0.0};
    // x is not negative here, so truncation is its floor; the plane above is
    // the next one unless x lies on a plane (its ceiling). No libm calls.
    const int lower = int(std::floor(x));
    return {lower, int(std::ceil(x)), x - double(lower)};
}

using AxisCell = LutCalc::AxisCell;

inline AxisCell axisCell(const AxisPosition &p, int stride)
{
    return {p.lower * stride, p.upper * stride, p.f};
}

// Tetrahedral interpolation of a grid in the cell the three axes give.
inline void interpolate(const float *grid, const AxisCell &a, const AxisCell &b, const AxisCell &c, float result[3])
{
    const float *p000 = grid + (a.lower + b.lower + c.lower);
    const float *p111 = grid + (a.upper + b.upper + c.upper);
    const double f0 = a.f, f1 = b.f, f2 = c.f;

    // Pick the tetrahedron, its two middle corners and the four weights.
    const float *pA;
    const float *pB;
    double w0, wA, wB, w1;
    if (f0 > f1) {
        if (f1 > f2) { // f0 > f1 > f2
            pA = grid + (a.upper + b.lower + c.lower);
            pB = grid + (a.upper + b.upper + c.lower);
            w0 = 1 - f0; wA = f0 - f1; wB = f1 - f2; w1 = f2;
        } else if (f0 > f2) { // f0 > f2 >= f1
            pA = grid + (a.upper + b.lower + c.lower);
            pB = grid + (a.upper + b.lower + c.upper);
            w0 = 1 - f0; wA = f0 - f2; wB = f2 - f1; w1 = f1;
        } else { // f2 >= f0 > f1
            pA = grid + (a.lower + b.lower + c.upper);
            pB = grid + (a.upper + b.lower + c.upper);
            w0 = 1 - f2; wA = f2 - f0; wB = f0 - f1; w1 = f1;
        }
    } else {
        if (f2 > f1) { // f2 > f1 >= f0
            pA = grid + (a.lower + b.lower + c.upper);
            pB = grid + (a.lower + b.upper + c.upper);
            w0 = 1 - f2; wA = f2 - f1; wB = f1 - f0; w1 = f0;
        } else if (f2 > f0) { // f1 >= f2 > f0
            pA = grid + (a.lower + b.upper + c.lower);
            pB = grid + (a.lower + b.upper + c.upper);
            w0 = 1 - f1; wA = f1 - f2; wB = f2 - f0; w1 = f0;
        } else { // f1 >= f0 >= f2
            pA = grid + (a.lower + b.upper + c.lower);
            pB = grid + (a.upper + b.upper + c.lower);
            w0 = 1 - f1; wA = f1 - f0; wB = f0 - f2; w1 = f2;
        }
    }
    for (int ch = 0; ch < 3; ++ch)
        result[ch] = float(w0 * p000[ch] + wA * pA[ch] + wB * pB[ch] + w1 * p111[ch]);
}

// interpolate, never inlined: inlined where the result is read back as
// doubles, GCC 12's vectoriser drops the rounding of the first two channels
// to float, and the result would differ from sampleGrid's.
[[gnu::noinline]] void interpolateInto(const float *grid, const AxisCell &a, const AxisCell &b, const AxisCell &c,
                                       float result[3])
{
    interpolate(grid, a, b, c, result);
}

// The strides of a grid of sizes[0] x sizes[1] x sizes[2] entries of three
// floats, third index fastest, per axis.
inline void gridStrides(const int sizes[3], int strides[3])
{
    strides[2] = 3;
    strides[1] = 3 * sizes[2];
    strides[0] = 3 * sizes[2] * sizes[1];
}

// The grid position of a point component on axis c of source's cube, in
// single precision, as the plain conversion has always computed it.
inline double gridPosition(const Read_LUTFile *source, int n, int c, float point)
{
    const float scale = (1.0f / (source->domainMax3D[c] - source->domainMin3D[c])) * float(n - 1);
    return double((point - source->domainMin3D[c]) * scale);
}

} // namespace

void LutCalc::sampleGrid(const float *grid, const int sizes[3], const double position[3], float result[3])
{
    int strides[3];
    gridStrides(sizes, strides);
    interpolate(grid, axisCell(axisPosition(position[0], sizes[0]), strides[0]),
                axisCell(axisPosition(position[1], sizes[1]), strides[1]),
                axisCell(axisPosition(position[2], sizes[2]), strides[2]), result);
}

namespace {

void sampleAtPosition(const LutTable3D &table, int n, const double position[3], float result[3])
{
    const int sizes[3] = {n, n, n};
    LutCalc::sampleGrid(table.data(), sizes, position, result);
}

// Linear interpolation of channel c of a 1D table spread over [lo, hi];
// inputs beyond the span take the end values.
double sampleSpan1D(const LutTable1D &table, int n, int c, double x, double lo, double hi)
{
    return LutCalc::sample1D(table.data(), n, c, (x - lo) / (hi - lo));
}

bool hasTable3D(const Read_LUTFile *lut)
{
    return lut->size3D >= 1 && lut->table3D.size() == lut->size3D;
}

bool hasTable1D(const Read_LUTFile *lut)
{
    return lut->size1D >= 1 && lut->table1D.size() == lut->size1D;
}

} // namespace

void LutCalc::sampleCube(const float point[3], float result[3], const Read_LUTFile *source)
{
    const LutTable3D &table = source->table3D;
    // Never index beyond the table actually allocated.
    const int n = source->size3D < table.size() ? source->size3D : table.size();
    if (n <= 0) {
        result[0] = result[1] = result[2] = 0.0f;
        return;
    }
    double position[3];
    for (int c = 0; c < 3; ++c)
        position[c] = gridPosition(source, n, c, point[c]);
    sampleAtPosition(table, n, position, result);
}

bool LutCalc::hasTransform3D(const Read_LUTFile *source)
{
    const LutMeaning &meaning = source->meaning;
    return hasTable3D(source) || (meaning.evaluate && meaning.evaluateSize3D > 0);
}

namespace {

// What evaluate does to channel c of a colour on its own, in front of the
// 3D table: its shaper curve, then its 1D table where that stands in front
// of the 3D table or alone.
inline double channelSteps(const Read_LUTFile *source, bool has3D, int c, double x)
{
    const LutMeaning &meaning = source->meaning;
    x = meaning.shaper[c].evaluate(x);
    if (hasTable1D(source) && (!has3D || meaning.table1DFeeds3D))
        x = sampleSpan1D(source->table1D, source->size1D, c, x, meaning.inputMin1D[c], meaning.inputMax1D[c]);
    return x;
}

// Where channel c's value x falls on its axis of source's 3D table (n
// points a side, first index red).
inline AxisCell cubeAxis(const Read_LUTFile *source, int n, int c, double x)
{
    const LutMeaning &meaning = source->meaning;
    const double position = (x - meaning.inputMin3D[c]) / (meaning.inputMax3D[c] - meaning.inputMin3D[c]) * (n - 1);
    return axisCell(axisPosition(position, n), c == 0 ? 3 * n * n : c == 1 ? 3 * n : 3);
}

} // namespace

void LutCalc::evaluate(const Read_LUTFile *source, double rgb[3])
{
    const LutMeaning &meaning = source->meaning;
    if (meaning.evaluate) {
        meaning.evaluate(rgb);
        return;
    }
    const bool has3D = hasTable3D(source);
    for (int c = 0; c < 3; ++c)
        rgb[c] = channelSteps(source, has3D, c, rgb[c]);
    if (has3D) {
        const int n = source->size3D;
        double position[3];
        for (int c = 0; c < 3; ++c)
            position[c] = (rgb[c] - meaning.inputMin3D[c]) / (meaning.inputMax3D[c] - meaning.inputMin3D[c]) * (n - 1);
        float result[3];
        sampleAtPosition(source->table3D, n, position, result);
        for (int c = 0; c < 3; ++c)
            rgb[c] = result[c];
    }
}

bool LutCalc::ChannelTables::prepare(const Read_LUTFile *source, int count, const std::function<double(int)> &value)
{
    m_count = 0;
    m_grid = nullptr;
    if (source->meaning.evaluate || count <= 0)
        return false;
    const bool has3D = hasTable3D(source);
    const int n = source->size3D;
    for (auto &entries : m_entries)
        entries.assign(size_t(count), AxisCell{0, 0, 0.0});
    LutParallel::forRanges(count, 1 << 12, [&](qint64 first, qint64 end) {
        for (int i = int(first); i < int(end); ++i) {
            const double x = value(i);
            for (int c = 0; c < 3; ++c) {
                const double y = channelSteps(source, has3D, c, x);
                m_entries[c][size_t(i)] = has3D ? cubeAxis(source, n, c, y) : AxisCell{0, 0, y};
            }
        }
    });
    m_grid = has3D ? source->table3D.data() : nullptr;
    m_count = count;
    return true;
}

void LutCalc::ChannelTables::evaluate(const quint16 index[3], double rgb[3]) const
{
    const AxisCell &r = m_entries[0][index[0]];
    const AxisCell &g = m_entries[1][index[1]];
    const AxisCell &b = m_entries[2][index[2]];
    if (!m_grid) {
        rgb[0] = r.f;
        rgb[1] = g.f;
        rgb[2] = b.f;
        return;
    }
    float result[3];
    interpolateInto(m_grid, r, g, b, result);
    for (int c = 0; c < 3; ++c)
        rgb[c] = result[c];
}

QString LutCalc::evaluationLimit(const Read_LUTFile *source, qint64 colours)
{
    const qint64 cost = source->meaning.evaluate ? source->meaning.evaluateCost : 0;
    if (cost <= 0)
        return QString();
    if (cost > kMaxProcessNodes)
        return QStringLiteral("its process list has %1 nodes, more than the %2 a list may have")
            .arg(cost)
            .arg(kMaxProcessNodes);
    // Both factors are below 2^31 here, so the product cannot overflow.
    if (colours <= kMaxEvaluationSteps / cost)
        return QString();
    return QStringLiteral("%1 colours through %2 steps each is %3 evaluation steps, more than the %4 one run may take")
        .arg(colours)
        .arg(cost)
        .arg(double(colours) * double(cost), 0, 'g', 3)
        .arg(kMaxEvaluationSteps);
}

bool LutCalc::bakeCube(const Read_LUTFile *source, Read_LUTFile *destination)
{
    const int m = destination->size3D;
    if (m < 2 || destination->table3D.size() != m)
        return false;
    if (!hasTable3D(source) && !hasTable1D(source) && !source->meaning.evaluate)
        return false;
    const QString limit = evaluationLimit(source, qint64(m) * m * m);
    if (!limit.isEmpty())
        return destination->fail(limit);
    // Planes of the first index side by side: every entry depends on its
    // own lattice point only, so the result does not depend on the threads.
    LutParallel::forRanges(m, 1, [&](qint64 first, qint64 end) {
        for (int i = int(first); i < int(end); ++i) {
            for (int j = 0; j < m; ++j) {
                for (int k = 0; k < m; ++k) {
                    double rgb[3] = {double(i) / (m - 1), double(j) / (m - 1), double(k) / (m - 1)};
                    evaluate(source, rgb);
                    float *entry = destination->table3D[i][j][k];
                    for (int c = 0; c < 3; ++c)
                        entry[c] = float(rgb[c]);
                }
            }
        }
    });
    return true;
}

bool LutCalc::bake1D(const Read_LUTFile *source, Read_LUTFile *destination)
{
    const int m = destination->size1D;
    if (m < 2 || destination->table1D.size() != m || hasTransform3D(source)
        || !(hasTable1D(source) || source->meaning.evaluate))
        return false;
    const QString limit = evaluationLimit(source, m);
    if (!limit.isEmpty())
        return destination->fail(limit);
    LutParallel::forRanges(m, 1 << 12, [&](qint64 first, qint64 end) {
        for (int i = int(first); i < int(end); ++i) {
            const double t = double(i) / (m - 1);
            double rgb[3] = {t, t, t};
            evaluate(source, rgb);
            for (int c = 0; c < 3; ++c)
                destination->table1D[i][c] = float(rgb[c]);
        }
    });
    return true;
}

bool LutCalc::compare(const Read_LUTFile *a, const Read_LUTFile *b, int size, Difference *difference,
                      QString *reason, int *side)
{
    *side = -1;
    if (size < 2 || size > kMaxCubeSize) {
        *reason = QStringLiteral("the lattice takes 2 to %1 points per axis, not %2").arg(kMaxCubeSize).arg(size);
        return false;
    }
    const qint64 m = size;
    const qint64 points = m * m * m;
    const Read_LUTFile *sources[2] = {a, b};
    for (int s = 0; s < 2; ++s) {
        const Read_LUTFile *source = sources[s];
        *side = s;
        if (!hasTable3D(source) && !hasTable1D(source) && !source->meaning.evaluate
            && !source->meaning.hasShaper()) {
            *reason = QStringLiteral("holds no table to compare");
            return false;
        }
        *reason = evaluationLimit(source, points);
        if (!reason->isEmpty())
            return false;
    }
    *side = -1;

    // Every difference, channel by channel, for the percentile; the largest
    // and the sum per plane of the first index, so that the reduction below
    // goes in lattice order whatever the threads.
    std::vector<float> channels[3];
    for (std::vector<float> &channel : channels)
        channel.resize(size_t(points));
    struct Plane
    {
        double largest[3] = {-1.0, -1.0, -1.0};
        qint64 where[3] = {0, 0, 0};
        double sum[3] = {0.0, 0.0, 0.0};
    };
    std::vector<Plane> planes(static_cast<size_t>(m));
    const auto absolute = [](double x, double y) {
        if (std::isnan(x) && std::isnan(y))
            return 0.0;
        if (x == y)
            return 0.0; // the same infinity too
        const double d = std::fabs(x - y);
        return std::isnan(d) ? std::numeric_limits<double>::infinity() : d;
    };
    LutParallel::forRanges(m, 1, [&](qint64 first, qint64 end) {
        for (qint64 i = first; i < end; ++i) {
            Plane &plane = planes[size_t(i)];
            for (qint64 j = 0; j < m; ++j) {
                for (qint64 k = 0; k < m; ++k) {
                    const double point[3] = {double(i) / double(m - 1), double(j) / double(m - 1),
                                             double(k) / double(m - 1)};
                    double x[3] = {point[0], point[1], point[2]};
                    double y[3] = {point[0], point[1], point[2]};
                    evaluate(a, x);
                    evaluate(b, y);
                    // Lattice order: r (the first index) fastest.
                    const qint64 index = (k * m + j) * m + i;
                    for (int c = 0; c < 3; ++c) {
                        const double d = absolute(x[c], y[c]);
                        channels[c][size_t(index)] = float(d);
                        plane.sum[c] += d;
                        if (d > plane.largest[c] || (d == plane.largest[c] && index < plane.where[c])) {
                            plane.largest[c] = d;
                            plane.where[c] = index;
                        }
                    }
                }
            }
        }
    });

    Difference result;
    result.size = size;
    for (int c = 0; c < 3; ++c) {
        double largest = -1.0, sum = 0.0;
        qint64 where = 0;
        for (const Plane &plane : planes) {
            sum += plane.sum[c];
            if (plane.largest[c] > largest || (plane.largest[c] == largest && plane.where[c] < where)) {
                largest = plane.largest[c];
                where = plane.where[c];
            }
        }
        result.largest[c] = largest;
        result.mean[c] = sum / double(points);
        result.at[c][0] = double(where % m) / double(m - 1);
        result.at[c][1] = double(where / m % m) / double(m - 1);
        result.at[c][2] = double(where / (m * m)) / double(m - 1);
        // Nearest rank: the ceil(0.99 n)-th smallest.
        std::vector<float> &values = channels[c];
        const qint64 rank = (points * 99 + 99) / 100 - 1;
        std::nth_element(values.begin(), values.begin() + rank, values.end());
        result.percentile99[c] = values[size_t(rank)];
        std::vector<float>().swap(values);
    }
    *difference = result;
    return true;
}

void LutCalc::sampleTrilinear(const LutTable3D &table, const double position[3], double result[3])
{
    const int n = table.size();
    int lower[3];
    int upper[3];
    double f[3];
    for (int c = 0; c < 3; ++c) {
        const double x = position[c] > double(n - 1) ? double(n - 1) : position[c];
        lower[c] = x >= 0.0 ? int(x) : 0; // a NaN takes the first plane; truncation is the floor here
        upper[c] = lower[c] + 1 < n ? lower[c] + 1 : lower[c];
        f[c] = x >= 0.0 ? x - lower[c] : 0.0;
    }
    for (int ch = 0; ch < 3; ++ch) {
        // Along the third axis, then the second, then the first.
        double plane[2][2];
        for (int a = 0; a < 2; ++a) {
            for (int b = 0; b < 2; ++b) {
                const int i = a ? upper[0] : lower[0];
                const int j = b ? upper[1] : lower[1];
                const double v0 = table[i][j][lower[2]][ch];
                const double v1 = table[i][j][upper[2]][ch];
                plane[a][b] = v0 + (v1 - v0) * f[2];
            }
        }
        const double line0 = plane[0][0] + (plane[0][1] - plane[0][0]) * f[1];
        const double line1 = plane[1][0] + (plane[1][1] - plane[1][0]) * f[1];
        result[ch] = line0 + (line1 - line0) * f[0];
    }
}

bool LutCalc::resampleCube(const Read_LUTFile *source, Read_LUTFile *destination)
{
    const int m = destination->size3D;
    if (source->size3D <= 0 || source->table3D.isNull() || m < 2 || destination->table3D.size() != m)
        return false;
    const LutTable3D &table = source->table3D;
    const int n = source->size3D < table.size() ? source->size3D : table.size();
    // The lattice points are (i, j, k) / (m - 1): each axis takes the same m
    // positions, worked out once here as sampleCube works them out.
    const int sizes[3] = {n, n, n};
    int strides[3];
    gridStrides(sizes, strides);
    std::vector<AxisCell> axes(3 * size_t(m));
    for (int c = 0; c < 3; ++c) {
        for (int t = 0; t < m; ++t)
            axes[size_t(c) * m + t] = axisCell(axisPosition(gridPosition(source, n, c, float(t) / float(m - 1)), n), strides[c]);
    }
    // Planes of the first index on as many threads as there are cores; every
    // entry depends only on its own lattice point.
    LutParallel::forRanges(m, 8, [&](qint64 first, qint64 end) {
        for (int i = int(first); i < int(end); ++i) {
            for (int j = 0; j < m; ++j) {
                float *row = destination->table3D[i][j][0];
                for (int k = 0; k < m; ++k)
                    interpolate(table.data(), axes[size_t(i)], axes[size_t(m) + j], axes[2 * size_t(m) + k],
                                row + 3 * k);
            }
        }
    });
    return true;
}

double LutCalc::sample1D(const float *entries, int n, int channel, double t)
{
    if (n < 2)
        return n == 1 ? entries[channel] : 0.0;
    double position = t * double(n - 1);
    if (!(position > 0.0))
        position = 0.0;
    if (position > double(n - 1))
        position = double(n - 1);
    int i = int(position); // not negative: truncation is the floor
    if (i > n - 2)
        i = n - 2;
    const double f = position - double(i);
    const double a = entries[3 * std::ptrdiff_t(i) + channel];
    const double b = entries[3 * std::ptrdiff_t(i + 1) + channel];
    return a + (b - a) * f;
}

bool LutCalc::resample1D(const Read_LUTFile *source, Read_LUTFile *destination)
{
    const int n = source->size1D;
    const int m = destination->size1D;
    if (n <= 0 || source->table1D.size() != n || m < 2 || destination->table1D.size() != m)
        return false;
    // Every entry depends on its own index only: long tables in parts on
    // several threads.
    LutParallel::forRanges(m, 1 << 14, [&](qint64 first, qint64 end) {
        for (int i = int(first); i < int(end); ++i) {
            for (int c = 0; c < 3; ++c)
                destination->table1D[i][c] = float(sample1D(source->table1D.data(), n, c, double(i) / double(m - 1)));
        }
    });
    return true;
}
