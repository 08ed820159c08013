#include "lut/LutMeaning.h"

#include <algorithm>
#include <cmath>

double LutCurve::evaluate(double input) const
{
    const size_t n = x.size();
    if (n == 0)
        return input;
    if (!(input > x.front())) // below the first knot, or NaN
        return y.front();
    if (input >= x.back())
        return y.back();
    // The segment [x[i-1], x[i]] holding the input.
    const size_t i = size_t(std::upper_bound(x.begin(), x.end(), input) - x.begin());
    const double x0 = x[i - 1], x1 = x[i];
    const double h = x1 - x0;
    const double t = (input - x0) / h;
    if (!smooth || n < 3)
        return y[i - 1] + (y[i] - y[i - 1]) * t;
    const double m0 = slopeAt(i - 1);
    const double m1 = slopeAt(i);
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * y[i - 1] + (t3 - 2 * t2 + t) * h * m0 + (3 * t2 - 2 * t3) * y[i]
        + (t3 - t2) * h * m1;
}

double LutCurve::slopeAt(size_t k) const
{
    const size_t n = x.size();
    const auto chord = [this](size_t a, size_t b) { return (y[b] - y[a]) / (x[b] - x[a]); };
    if (k == 0)
        return 2 * chord(0, 1) - chord(0, 2);
    if (k == n - 1)
        return 2 * chord(n - 2, n - 1) - chord(n - 3, n - 1);
    return chord(k - 1, k + 1);
}

bool LutCurve::isIdentity() const
{
    for (size_t i = 0; i < x.size(); ++i) {
        if (!(std::fabs(x[i] - y[i]) <= 1e-6))
            return false;
    }
    return true;
}

QString LutCurve::problem() const
{
    if (x.size() != y.size())
        return QStringLiteral("%1 inputs for %2 outputs").arg(x.size()).arg(y.size());
    if (x.size() < 2)
        return QStringLiteral("a curve needs at least two points, not %1").arg(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i]))
            return QStringLiteral("point %1 is not a finite number").arg(i + 1);
        if (i > 0 && !(x[i] > x[i - 1]))
            return QStringLiteral("the inputs do not rise at point %1").arg(i + 1);
    }
    return QString();
}

namespace {

bool isUnitSpan(const double lo[3], const double hi[3])
{
    for (int c = 0; c < 3; ++c) {
        if (lo[c] != 0.0 || hi[c] != 1.0)
            return false;
    }
    return true;
}

} // namespace

bool LutMeaning::inputSpan3DIsUnit() const
{
    return isUnitSpan(inputMin3D, inputMax3D);
}

bool LutMeaning::inputSpan1DIsUnit() const
{
    return isUnitSpan(inputMin1D, inputMax1D);
}

void LutMatrix::apply(double rgb[3]) const
{
    double out[3];
    for (int r = 0; r < 3; ++r)
        out[r] = m[r][0] * rgb[0] + m[r][1] * rgb[1] + m[r][2] * rgb[2] + offset[r];
    std::copy(out, out + 3, rgb);
}

bool LutMatrix::mixesChannels() const
{
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            if (r != c && m[r][c] != 0.0)
                return true;
        }
    }
    return false;
}

bool LutMatrix::invert(LutMatrix *inverse) const
{
    // The adjugate over the determinant, then the offset taken back through
    // it: in = m^-1 x (out - offset).
    LutMatrix result;
    double (&a)[3][3] = result.m;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            a[r][c] = m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1];
        }
    }
    const double det = m[0][0] * a[0][0] + m[0][1] * a[1][0] + m[0][2] * a[2][0];
    if (!(det != 0.0) || !std::isfinite(det))
        return false;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            a[r][c] /= det;
        result.offset[r] = -(a[r][0] * offset[0] + a[r][1] * offset[1] + a[r][2] * offset[2]);
    }
    for (int r = 0; r < 3; ++r) {
        if (!std::isfinite(a[r][0] + a[r][1] + a[r][2] + result.offset[r]))
            return false;
    }
    *inverse = result;
    return true;
}

void LutMeaning::setMatrix(const LutMatrix &m)
{
    hasMatrix = true;
    matrix = m;
    // A matrix is exact on any lattice: the sizes are those a bake of a
    // table-less transform uses.
    evaluateSize3D = m.mixesChannels() ? 33 : 0;
    evaluateSize1D = m.mixesChannels() ? 0 : 4096;
    evaluate = [m](double rgb[3]) { m.apply(rgb); };
}
