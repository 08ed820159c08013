#pragma once

// Exact inversion of the two interpolations the tables use: linear
// interpolation of a per-channel curve and tetrahedral interpolation of a
// cube. Both work on plain tables (no container, no file), are built once
// and are then read-only, so one inverse may be evaluated from many threads.
//
// The process lists' InverseLUT1D and InverseLUT3D nodes use them, and so
// does the pipeline's --inverse / --then-inverse:
//
//     // 1D: one inverse per channel of a table of n entries of three floats.
//     LutInverse::Curve red = LutInverse::Curve::uniform(table.data(), n, 3);
//     const double x = red.invert(y);            // x in 0..1
//
//     // 3D: one inverse of the whole cube.
//     LutInverse::Cube cube;
//     if (!cube.build(table.data(), n)) ...      // out of memory
//     double x[3];
//     cube.invert(y, x);                         // x in 0..1 on every axis
//
// How the edge cases go, as OpenColorIO's exact inversion does:
//   - a curve is taken as rising when its first entry is below its last,
//     else as falling (a flat curve falls); entries that go the other way
//     are flattened to the entry before them, so the curve is monotonic;
//   - values beyond the curve's range take the end of the range;
//   - a flat part inverts to its end nearest the start (its first entry
//     in the curve's direction), except flat parts at either end of the
//     curve, which invert to their end nearest the middle;
//   - a point of the cube's gamut inverts to the point of the cell whose
//     tetrahedron holds it (the first one found when the table folds over
//     itself); a point outside the gamut is inverted through a shell one
//     lattice step wide around the table, whose entries are the boundary's
//     pushed out from the middle of the output cube (0.5) fourfold, and the
//     result is clamped into the table's domain: it takes (nearly) the
//     nearest point of the gamut. Points beyond even the shell take the
//     nearest point of the gamut.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace LutInverse {

// The inverse of a curve through knots (x[i], y[i]), linear between them.
class Curve
{
public:
    Curve() = default;

    // n entries (n >= 2) stride floats apart, evenly spaced over the input
    // 0..1: one channel of a 1D table.
    static Curve uniform(const float *values, int n, int stride = 1);

    // Knots in index order: y the outputs, x their inputs (monotonic either
    // way). direction +1 or -1 takes the curve as rising or falling with the
    // index whatever its ends say; 0 decides from the ends. flattenFrom,
    // when not a NaN, is the output before the first knot that the
    // flattening of reversals starts from (the two halves of a half-float
    // table meet at zero).
    Curve(std::vector<double> x, std::vector<double> y, int direction = 0, double flattenFrom = std::numeric_limits<double>::quiet_NaN());

    // The input whose output is y (y beyond the range takes its end). A NaN
    // gives the input of the range's start.
    double invert(double y) const;

    bool isEmpty() const { return m_y.empty(); }
    bool rising() const { return m_rising; }

private:
    // Outputs, negated for a falling curve so that they rise.
    std::vector<double> m_y;
    std::vector<double> m_x; // empty: i / (n - 1)
    bool m_rising = true;
    // The effective domain: the knots between the flat ends.
    int m_start = 0;
    int m_end = 0;

    double inputAt(int index, double fraction) const;
};

// The inverse of the tetrahedral interpolation of a cube of n x n x n
// entries of three floats (first index slowest, the third fastest), spread
// over the input cube 0..1.
class Cube
{
public:
    // Builds the inverse and its search structure. False when the memory
    // cannot be had or n is below 2.
    bool build(const float *grid, int n);
    bool isEmpty() const { return m_n == 0; }
    int size() const { return m_n; }

    // The input x (each in 0..1) that the table takes to y.
    void invert(const double y[3], double x[3]) const;

private:
    // The table with its shell: m_m = n + 2 points per axis, three floats
    // each.
    std::vector<float> m_grid;
    int m_n = 0;
    int m_m = 0;
    // Uniform bins over the bounding box of the outputs, each listing the
    // cells whose outputs' bounding box meets it (compressed rows: the cells
    // of bin b are m_cells[m_binStart[b] .. m_binStart[b + 1]]).
    int m_bins = 1;
    double m_lo[3] = {0, 0, 0};
    double m_binSize[3] = {1, 1, 1};
    std::vector<std::uint32_t> m_binStart;
    std::vector<std::uint32_t> m_cells;
    // Bounding box of each cell's outputs, six floats.
    std::vector<float> m_cellBox;

    const float *entry(int i, int j, int k) const { return &m_grid[3 * ((std::size_t(i) * m_m + j) * m_m + k)]; }
    // Finds a tetrahedron of cell that holds y; true with the position in
    // shell-grid units.
    bool solveInCell(std::uint32_t cell, const double y[3], double position[3]) const;
    // The position in cell whose output is nearest y (over its six
    // tetrahedra), and the squared distance.
    double nearestInCell(std::uint32_t cell, const double y[3], double position[3]) const;
    // True for a cell of the table itself, not of its shell.
    bool isCore(std::size_t cell) const;
    template <typename T>
    void binOf(const T y[3], int bin[3]) const;
};

} // namespace LutInverse
