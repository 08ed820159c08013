#include "calc/LutInverse.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace LutInverse {

// --- Curves -----------------------------------------------------------------

Curve Curve::uniform(const float *values, int n, int stride)
{
    std::vector<double> y(size_t(std::max(n, 0)));
    for (int i = 0; i < n; ++i)
        y[size_t(i)] = values[size_t(i) * size_t(stride)];
    return Curve({}, std::move(y));
}

Curve::Curve(std::vector<double> x, std::vector<double> y, int direction, double flattenFrom)
    : m_y(std::move(y)), m_x(std::move(x))
{
    const int n = int(m_y.size());
    if (n == 0)
        return;
    if (!m_x.empty() && m_x.size() != m_y.size()) {
        m_y.clear();
        m_x.clear();
        return;
    }
    m_rising = direction > 0 || (direction == 0 && m_y.front() < m_y.back());
    // Reversals are flattened: an entry that goes against the curve's
    // direction takes the value before it, so the outputs are sorted and
    // every output has one inverse. (A NaN entry takes the value before it.)
    const bool fromOutside = !std::isnan(flattenFrom);
    double previous = fromOutside ? flattenFrom : m_y.front();
    if (std::isnan(previous))
        previous = 0.0;
    for (int i = fromOutside ? 0 : 1; i < n; ++i) {
        double &v = m_y[size_t(i)];
        if (std::isnan(v) || m_rising != (v > previous))
            v = previous;
        else
            previous = v;
    }
    // Flat parts at the ends invert to their end nearest the middle.
    m_end = n - 1;
    while (m_end > 0 && m_y[size_t(m_end - 1)] == m_y[size_t(m_end)])
        --m_end;
    m_start = 0;
    while (m_start < m_end && m_y[size_t(m_start + 1)] == m_y[size_t(m_start)])
        ++m_start;
    if (!m_rising) {
        for (double &v : m_y)
            v = -v;
    }
}

double Curve::inputAt(int index, double fraction) const
{
    const int n = int(m_y.size());
    if (m_x.empty())
        return (index + fraction) / double(n - 1);
    const double x0 = m_x[size_t(index)];
    if (fraction == 0.0 || index + 1 >= n)
        return x0;
    return x0 + fraction * (m_x[size_t(index) + 1] - x0);
}

double Curve::invert(double y) const
{
    if (m_y.empty())
        return 0.0;
    if (m_y.size() == 1)
        return m_x.empty() ? 0.0 : m_x.front();
    const double *first = m_y.data() + m_start;
    const double *last = m_y.data() + m_end;
    double v = m_rising ? y : -y;
    if (std::isnan(v))
        v = *first;
    v = std::min(std::max(v, *first), *last);
    // The first entry at or above v, then the one before it: between the
    // two lies v (a flat part takes its first entry).
    const double *low = std::lower_bound(first, last, v);
    if (low > first)
        --low;
    const double *high = low < last ? low + 1 : low;
    double fraction = 0.0;
    if (*high > *low) {
        fraction = (v - *low) / (*high - *low);
        if (!(fraction >= 0.0)) // infinite entries
            fraction = 0.0;
        fraction = std::min(fraction, 1.0);
    }
    return inputAt(int(low - m_y.data()), fraction);
}

// --- Cubes ------------------------------------------------------------------

namespace {

// The six tetrahedra of a cell, as the tetrahedral interpolation splits it:
// the axes in the order of falling fractions. The tetrahedron's corners are
// the cell's lowest corner, one step along the first axis, one more along
// the second, and the cell's highest corner.
constexpr int kOrders[6][3] = {{0, 1, 2}, {0, 2, 1}, {2, 0, 1}, {2, 1, 0}, {1, 2, 0}, {1, 0, 2}};

// The most bin entries the search structure may hold; a table whose cells
// would need more gets fewer, larger bins.
constexpr size_t kMaxBinEntries = size_t(16) << 20;

inline void cross(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

inline double dot(const double a[3], const double b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The weights in a tetrahedron, f[0] >= f[1] >= f[2] along its three axes,
// of the point whose output is y: output = p0 + f0 a + f1 b + f2 c. False
// when the tetrahedron is flat.
bool solveTetrahedron(const float *p0, const float *pA, const float *pB, const float *p1, const double y[3],
                      double f[3])
{
    double a[3], b[3], c[3], d[3];
    for (int i = 0; i < 3; ++i) {
        a[i] = pA[i] - p0[i];
        b[i] = pB[i] - pA[i];
        c[i] = p1[i] - pB[i];
        d[i] = y[i] - p0[i];
    }
    double bc[3], dc[3], bd[3];
    cross(b, c, bc);
    const double det = dot(a, bc);
    const double scale = std::sqrt(dot(a, a) * dot(b, b) * dot(c, c));
    if (!(std::fabs(det) > 1e-12 * scale) || !std::isfinite(det))
        return false;
    cross(d, c, dc);
    cross(b, d, bd);
    f[0] = dot(d, bc) / det;
    f[1] = dot(a, dc) / det;
    f[2] = dot(a, bd) / det;
    return true;
}

// The point of triangle abc nearest p, as weights of a, b and c (the
// method of Ericson's Real-Time Collision Detection, 5.1.5).
void nearestOnTriangle(const double p[3], const double a[3], const double b[3], const double c[3], double w[3])
{
    double ab[3], ac[3], ap[3], bp[3], cp[3];
    for (int i = 0; i < 3; ++i) {
        ab[i] = b[i] - a[i];
        ac[i] = c[i] - a[i];
        ap[i] = p[i] - a[i];
        bp[i] = p[i] - b[i];
        cp[i] = p[i] - c[i];
    }
    auto set = [w](double wa, double wb, double wc) { w[0] = wa, w[1] = wb, w[2] = wc; };
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0.0 && d2 <= 0.0)
        return set(1, 0, 0);
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0.0 && d4 <= d3)
        return set(0, 1, 0);
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) {
        const double v = d1 / (d1 - d3);
        return set(1 - v, v, 0);
    }
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0.0 && d5 <= d6)
        return set(0, 0, 1);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) {
        const double v = d2 / (d2 - d6);
        return set(1 - v, 0, v);
    }
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0.0 && (d4 - d3) >= 0.0 && (d5 - d6) >= 0.0) {
        const double v = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return set(0, 1 - v, v);
    }
    const double sum = va + vb + vc;
    if (!(std::fabs(sum) > 0.0)) // a flat triangle: its first corner
        return set(1, 0, 0);
    set(va / sum, vb / sum, vc / sum);
}

} // namespace

template <typename T>
void Cube::binOf(const T y[3], int bin[3]) const
{
    for (int c = 0; c < 3; ++c) {
        const double position = (y[c] - m_lo[c]) / m_binSize[c];
        bin[c] = position >= double(m_bins - 1) ? m_bins - 1 : position > 0.0 ? int(position) : 0;
    }
}

bool Cube::isCore(size_t cell) const
{
    const size_t cellsPerAxis = size_t(m_m - 1);
    const size_t i = cell / (cellsPerAxis * cellsPerAxis), j = cell / cellsPerAxis % cellsPerAxis, k = cell % cellsPerAxis;
    return i >= 1 && j >= 1 && k >= 1 && i + 2 < cellsPerAxis + 1 && j + 2 < cellsPerAxis + 1 && k + 2 < cellsPerAxis + 1;
}

bool Cube::build(const float *grid, int n)
{
    m_n = 0;
    if (n < 2)
        return false;
    try {
        const int m = n + 2;
        m_m = m;
        m_grid.assign(size_t(m) * m * m * 3, 0.0f);
        // The table in the middle, and the shell around it: each shell entry
        // is the nearest boundary entry pushed away from 0.5 fourfold, so
        // that points a little outside the gamut still find a cell.
        for (int i = 0; i < m; ++i) {
            for (int j = 0; j < m; ++j) {
                for (int k = 0; k < m; ++k) {
                    const int si = std::min(std::max(i - 1, 0), n - 1);
                    const int sj = std::min(std::max(j - 1, 0), n - 1);
                    const int sk = std::min(std::max(k - 1, 0), n - 1);
                    const float *source = grid + 3 * ((size_t(si) * n + sj) * n + sk);
                    const bool shell = i == 0 || j == 0 || k == 0 || i == m - 1 || j == m - 1 || k == m - 1;
                    float *target = &m_grid[3 * ((size_t(i) * m + j) * m + k)];
                    for (int c = 0; c < 3; ++c)
                        target[c] = shell ? (source[c] - 0.5f) * 4.0f + 0.5f : source[c];
                }
            }
        }
        // The bounding box of each cell's outputs, and of all the outputs
        // and the unit cube.
        const int cellsPerAxis = m - 1;
        const size_t cells = size_t(cellsPerAxis) * cellsPerAxis * cellsPerAxis;
        m_cellBox.assign(cells * 6, 0.0f);
        double lo[3] = {0.0, 0.0, 0.0}, hi[3] = {1.0, 1.0, 1.0};
        for (size_t cell = 0; cell < cells; ++cell) {
            const int i = int(cell / (size_t(cellsPerAxis) * cellsPerAxis));
            const int j = int(cell / cellsPerAxis % cellsPerAxis);
            const int k = int(cell % cellsPerAxis);
            float *box = &m_cellBox[cell * 6];
            for (int c = 0; c < 3; ++c) {
                box[c] = INFINITY;
                box[3 + c] = -INFINITY;
            }
            bool finite = true;
            for (int corner = 0; corner < 8; ++corner) {
                const float *v = entry(i + (corner >> 2), j + ((corner >> 1) & 1), k + (corner & 1));
                for (int c = 0; c < 3; ++c) {
                    finite = finite && std::isfinite(v[c]);
                    box[c] = std::min(box[c], v[c]);
                    box[3 + c] = std::max(box[3 + c], v[c]);
                }
            }
            if (!finite) { // a cell no point can be found in
                for (int c = 0; c < 3; ++c) {
                    box[c] = INFINITY;
                    box[3 + c] = -INFINITY;
                }
                continue;
            }
            // Only the core's outputs widen the bins' box: the shell's reach
            // far out, where few points are looked for.
            for (int c = 0; isCore(cell) && c < 3; ++c) {
                lo[c] = std::min(lo[c], double(box[c]));
                hi[c] = std::max(hi[c], double(box[3 + c]));
            }
        }
        std::copy(lo, lo + 3, m_lo);
        // As many bins per axis as cells, up to 64; fewer when the cells
        // would take too many entries.
        for (m_bins = std::min(cellsPerAxis, 64);; m_bins = std::max(1, m_bins / 2)) {
            for (int c = 0; c < 3; ++c)
                m_binSize[c] = hi[c] > lo[c] ? (hi[c] - lo[c]) / m_bins : 1.0;
            const size_t binCount = size_t(m_bins) * m_bins * m_bins;
            m_binStart.assign(binCount + 1, 0);
            size_t total = 0;
            for (size_t cell = 0; cell < cells; ++cell) {
                const float *box = &m_cellBox[cell * 6];
                if (!(box[0] <= box[3]))
                    continue;
                int b0[3], b1[3];
                binOf(box, b0);
                binOf(box + 3, b1);
                for (int a = b0[0]; a <= b1[0]; ++a)
                    for (int b = b0[1]; b <= b1[1]; ++b)
                        for (int c = b0[2]; c <= b1[2]; ++c)
                            ++m_binStart[(size_t(a) * m_bins + b) * m_bins + c + 1];
                total += size_t(b1[0] - b0[0] + 1) * size_t(b1[1] - b0[1] + 1) * size_t(b1[2] - b0[2] + 1);
            }
            if (total <= kMaxBinEntries || m_bins == 1) {
                for (size_t b = 0; b < binCount; ++b)
                    m_binStart[b + 1] += m_binStart[b];
                m_cells.assign(total, 0);
                std::vector<std::uint32_t> fill(m_binStart.begin(), m_binStart.end() - 1);
                // The core's cells come first in each bin: the shell's are
                // large and hold only points outside the gamut.
                for (size_t pass = 0, cell = 0; pass < 2; ++pass, cell = 0)
                for (; cell < cells; ++cell) {
                    const float *box = &m_cellBox[cell * 6];
                    if (!(box[0] <= box[3]) || isCore(cell) != (pass == 0))
                        continue;
                    int b0[3], b1[3];
                    binOf(box, b0);
                    binOf(box + 3, b1);
                    for (int a = b0[0]; a <= b1[0]; ++a)
                        for (int b = b0[1]; b <= b1[1]; ++b)
                            for (int c = b0[2]; c <= b1[2]; ++c)
                                m_cells[fill[(size_t(a) * m_bins + b) * m_bins + c]++] = std::uint32_t(cell);
                }
                break;
            }
        }
    } catch (const std::bad_alloc &) {
        m_grid.clear();
        m_cellBox.clear();
        m_binStart.clear();
        m_cells.clear();
        return false;
    }
    m_n = n;
    return true;
}

bool Cube::solveInCell(std::uint32_t cell, const double y[3], double position[3]) const
{
    const int cellsPerAxis = m_m - 1;
    const int base[3] = {int(cell / (std::uint32_t(cellsPerAxis) * cellsPerAxis)), int(cell / cellsPerAxis % cellsPerAxis),
                         int(cell % cellsPerAxis)};
    const float *p0 = entry(base[0], base[1], base[2]);
    const float *p1 = entry(base[0] + 1, base[1] + 1, base[2] + 1);
    constexpr double eps = 1e-9;
    for (const auto &order : kOrders) {
        int corner[3] = {base[0], base[1], base[2]};
        ++corner[order[0]];
        const float *pA = entry(corner[0], corner[1], corner[2]);
        ++corner[order[1]];
        const float *pB = entry(corner[0], corner[1], corner[2]);
        double f[3];
        if (!solveTetrahedron(p0, pA, pB, p1, y, f))
            continue;
        if (f[0] <= 1.0 + eps && f[0] >= f[1] - eps && f[1] >= f[2] - eps && f[2] >= -eps) {
            for (int i = 0; i < 3; ++i)
                position[order[i]] = base[order[i]] + std::min(std::max(f[i], 0.0), 1.0);
            return true;
        }
    }
    return false;
}

double Cube::nearestInCell(std::uint32_t cell, const double y[3], double position[3]) const
{
    const int cellsPerAxis = m_m - 1;
    const int base[3] = {int(cell / (std::uint32_t(cellsPerAxis) * cellsPerAxis)), int(cell / cellsPerAxis % cellsPerAxis),
                         int(cell % cellsPerAxis)};
    // The tetrahedron's corners in its own weights f: 000, 100, 110, 111.
    static const double kCorners[4][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}};
    static const int kFaces[4][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
    double best = INFINITY;
    for (const auto &order : kOrders) {
        int corner[3] = {base[0], base[1], base[2]};
        const float *p[4];
        p[0] = entry(corner[0], corner[1], corner[2]);
        ++corner[order[0]];
        p[1] = entry(corner[0], corner[1], corner[2]);
        ++corner[order[1]];
        p[2] = entry(corner[0], corner[1], corner[2]);
        p[3] = entry(base[0] + 1, base[1] + 1, base[2] + 1);
        double f[3];
        double distance = INFINITY;
        constexpr double eps = 1e-9;
        if (solveTetrahedron(p[0], p[1], p[2], p[3], y, f) && f[0] <= 1.0 + eps && f[0] >= f[1] - eps
            && f[1] >= f[2] - eps && f[2] >= -eps) {
            distance = 0.0;
        } else {
            // Outside: the nearest point of its four faces.
            for (const auto &face : kFaces) {
                double v[3][3];
                for (int k = 0; k < 3; ++k)
                    for (int c = 0; c < 3; ++c)
                        v[k][c] = p[face[k]][c];
                double w[3];
                nearestOnTriangle(y, v[0], v[1], v[2], w);
                double d = 0.0;
                for (int c = 0; c < 3; ++c) {
                    const double out = w[0] * v[0][c] + w[1] * v[1][c] + w[2] * v[2][c];
                    d += (out - y[c]) * (out - y[c]);
                }
                if (d < distance) {
                    distance = d;
                    for (int c = 0; c < 3; ++c)
                        f[c] = w[0] * kCorners[face[0]][c] + w[1] * kCorners[face[1]][c] + w[2] * kCorners[face[2]][c];
                }
            }
        }
        if (distance < best) {
            best = distance;
            for (int i = 0; i < 3; ++i)
                position[order[i]] = base[order[i]] + std::min(std::max(f[i], 0.0), 1.0);
        }
    }
    return best;
}

void Cube::invert(const double y[3], double x[3]) const
{
    x[0] = x[1] = x[2] = 0.0;
    if (m_n == 0)
        return;
    double position[3] = {1.0, 1.0, 1.0};
    auto finish = [&] {
        for (int c = 0; c < 3; ++c)
            x[c] = std::min(std::max(position[c] - 1.0, 0.0), double(m_n - 1)) / double(m_n - 1);
    };
    if (!(std::isfinite(y[0]) && std::isfinite(y[1]) && std::isfinite(y[2]))) {
        finish();
        return;
    }
    int bin[3];
    binOf(y, bin);
    const size_t b = (size_t(bin[0]) * m_bins + bin[1]) * m_bins + bin[2];
    auto boxDistance = [&](std::uint32_t cell) {
        const float *box = &m_cellBox[size_t(cell) * 6];
        double d = 0.0;
        for (int c = 0; c < 3; ++c) {
            const double out = y[c] < box[c] ? box[c] - y[c] : y[c] > box[3 + c] ? y[c] - box[3 + c] : 0.0;
            d += out * out;
        }
        return d;
    };
    // Points on a cell's faces may fall outside its box by a rounding.
    const double slack = 1e-18 * (1.0 + dot(y, y));
    for (size_t e = m_binStart[b]; e < m_binStart[b + 1]; ++e) {
        const std::uint32_t cell = m_cells[e];
        if (boxDistance(cell) <= slack && solveInCell(cell, y, position)) {
            finish();
            return;
        }
    }
    // Not even the shell holds y: the nearest point of the gamut, looked for
    // in the table's cells in the bins around it, ring by ring, until no nearer cell can be in the next ring
    // (or enough cells have been looked at).
    double best = INFINITY;
    const double step = std::min({m_binSize[0], m_binSize[1], m_binSize[2]});
    size_t looked = 0;
    constexpr size_t kMaxLooked = 200000;
    for (int r = 0; r < m_bins && looked < kMaxLooked; ++r) {
        if (std::isfinite(best) && (r - 1) * step > std::sqrt(best))
            break;
        for (int a = std::max(bin[0] - r, 0); a <= std::min(bin[0] + r, m_bins - 1); ++a) {
            for (int bb = std::max(bin[1] - r, 0); bb <= std::min(bin[1] + r, m_bins - 1); ++bb) {
                for (int c = std::max(bin[2] - r, 0); c <= std::min(bin[2] + r, m_bins - 1); ++c) {
                    if (std::max({std::abs(a - bin[0]), std::abs(bb - bin[1]), std::abs(c - bin[2])}) != r)
                        continue;
                    const size_t ring = (size_t(a) * m_bins + bb) * m_bins + c;
                    for (size_t e = m_binStart[ring]; e < m_binStart[ring + 1]; ++e) {
                        const std::uint32_t cell = m_cells[e];
                        if (!isCore(cell) || boxDistance(cell) >= best)
                            continue;
                        ++looked;
                        double candidate[3];
                        const double d = nearestInCell(cell, y, candidate);
                        if (d < best) {
                            best = d;
                            std::copy(candidate, candidate + 3, position);
                        }
                    }
                }
            }
        }
    }
    finish();
}

} // namespace LutInverse
