// Tetrahedral sampling and resampling of a container's cube, and the exact inverses of 1D and 3D tables.

#include "calc/LutCalc.h"
#include "calc/LutInverse.h"
#include "lut/Read_LUTFile.h"

#include <QTest>

#include <cmath>
#include <functional>
#include <vector>

namespace {

// A 2-point cube whose corners hold distinct, non-linear values, so a result
// shows which corners took part and with which weights.
void fillCorners(Read_LUTFile &lut)
{
    QVERIFY(lut.setSize3D(2, false));
    for (int i = 0; i < 8; ++i) {
        float *e = lut.table3D[i >> 2][(i >> 1) & 1][i & 1];
        e[0] = float(i), e[1] = float(i * i), e[2] = std::sin(float(i));
    }
}

// The six tetrahedra written out with their corners and weights.
double reference(const Read_LUTFile &lut, double f0, double f1, double f2, int ch)
{
    auto P = [&](int a, int b, int c) { return double(lut.table3D[a][b][c][ch]); };
    if (f0 > f1 && f1 > f2)
        return (1 - f0) * P(0, 0, 0) + (f0 - f1) * P(1, 0, 0) + (f1 - f2) * P(1, 1, 0) + f2 * P(1, 1, 1);
    if (f0 > f1 && f0 > f2)
        return (1 - f0) * P(0, 0, 0) + (f0 - f2) * P(1, 0, 0) + (f2 - f1) * P(1, 0, 1) + f1 * P(1, 1, 1);
    if (f0 > f1)
        return (1 - f2) * P(0, 0, 0) + (f2 - f0) * P(0, 0, 1) + (f0 - f1) * P(1, 0, 1) + f1 * P(1, 1, 1);
    if (f2 > f1)
        return (1 - f2) * P(0, 0, 0) + (f2 - f1) * P(0, 0, 1) + (f1 - f0) * P(0, 1, 1) + f0 * P(1, 1, 1);
    if (f2 > f0)
        return (1 - f1) * P(0, 0, 0) + (f1 - f2) * P(0, 1, 0) + (f2 - f0) * P(0, 1, 1) + f0 * P(1, 1, 1);
    return (1 - f1) * P(0, 0, 0) + (f1 - f0) * P(0, 1, 0) + (f0 - f2) * P(1, 1, 0) + f2 * P(1, 1, 1);
}

} // namespace

class TestCalc : public QObject
{
    Q_OBJECT

private slots:
    void sampleUsesTheRightTetrahedron();
    void sampleClampsOutsideTheDomain();
    void gridPointsAndResampling();
    void resampleRefusesMissingTablesAndTinySizes();
    void curveInverses();
    void cubeRoundTrips();
};

void TestCalc::sampleUsesTheRightTetrahedron()
{
    Read_LUTFile lut;
    fillCorners(lut);
    // One point inside each tetrahedron, ties (f0 == f1 and friends) and the diagonal.
    const float points[][3] = {{0.7f, 0.4f, 0.1f}, {0.7f, 0.1f, 0.4f}, {0.4f, 0.1f, 0.7f}, {0.1f, 0.4f, 0.7f},
                               {0.1f, 0.7f, 0.4f}, {0.4f, 0.7f, 0.1f}, {0.5f, 0.5f, 0.2f}, {0.2f, 0.5f, 0.5f},
                               {0.5f, 0.2f, 0.5f}, {0.3f, 0.3f, 0.3f}};
    for (const auto &p : points) {
        float result[3];
        LutCalc::sampleCube(p, result, &lut);
        for (int ch = 0; ch < 3; ++ch)
            QVERIFY(std::fabs(result[ch] - reference(lut, p[0], p[1], p[2], ch)) < 1e-5);
    }
    // Tetrahedral, not trilinear: at (0.7, 0.4, 0.1) corner [0][1][1] takes no part.
    float result[3];
    LutCalc::sampleCube(points[0], result, &lut);
    QVERIFY(std::fabs(result[1] - (0.3 * 0 + 0.3 * 16 + 0.3 * 36 + 0.1 * 49)) < 1e-5);
}

void TestCalc::sampleClampsOutsideTheDomain()
{
    Read_LUTFile lut;
    fillCorners(lut);
    const struct { float p[3]; int corner; } cases[] = {
        {{-0.5f, -3.0f, 0.0f}, 0}, {{1.5f, 1.0f, 7.0f}, 7}, {{std::nanf(""), 0.0f, 1.0f}, 1}};
    for (const auto &k : cases) {
        float result[3];
        LutCalc::sampleCube(k.p, result, &lut);
        QCOMPARE(result[0], float(k.corner));
    }
    // Another domain maps points through it: 0 is the middle of -1..1.
    lut.domainMin3D[0] = lut.domainMin3D[1] = lut.domainMin3D[2] = -1.0f;
    const float middle[3] = {0, 0, 0};
    float result[3];
    LutCalc::sampleCube(middle, result, &lut);
    QVERIFY(std::fabs(result[1] - reference(lut, 0.5, 0.5, 0.5, 1)) < 1e-5);
}

void TestCalc::gridPointsAndResampling()
{
    // Same size: every grid point comes back exactly.
    Read_LUTFile source;
    QVERIFY(source.setSize3D(9, false));
    for (int i = 0; i < 9 * 9 * 9 * 3; ++i)
        source.table3D.data()[i] = std::fmod(i * 0.618034f, 1.0f);
    Read_LUTFile same;
    QVERIFY(same.setSize3D(9, false) && LutCalc::resampleCube(&source, &same));
    for (int i = 0; i < 9 * 9 * 9 * 3; ++i)
        QCOMPARE(same.table3D.data()[i], source.table3D.data()[i]);

    // A 2-point identity resampled to 17 is the 17-point identity.
    Read_LUTFile identity;
    QVERIFY(identity.setSize3D(2, false));
    for (int i = 0; i < 8; ++i) {
        float *e = identity.table3D[i >> 2][(i >> 1) & 1][i & 1];
        e[0] = float(i >> 2), e[1] = float((i >> 1) & 1), e[2] = float(i & 1);
    }
    Read_LUTFile big;
    QVERIFY(big.setSize3D(17, false) && LutCalc::resampleCube(&identity, &big));
    for (int i = 0; i < 17; ++i)
        for (int j = 0; j < 17; ++j)
            for (int k = 0; k < 17; ++k) {
                const float *e = big.table3D[i][j][k];
                QVERIFY(std::fabs(e[0] - i / 16.0f) < 1e-6f && std::fabs(e[1] - j / 16.0f) < 1e-6f
                        && std::fabs(e[2] - k / 16.0f) < 1e-6f);
            }
}

void TestCalc::resampleRefusesMissingTablesAndTinySizes()
{
    Read_LUTFile empty, source, single, headerOnly, destination;
    QVERIFY(source.setSize3D(2, false) && single.setSize3D(1, false) && destination.setSize3D(3, false));
    QVERIFY(headerOnly.setSize3D(4, true)); // a size without a table
    destination.table3D[1][1][1][1] = 0.25f;
    QVERIFY(!LutCalc::resampleCube(&empty, &destination));
    QVERIFY(!LutCalc::resampleCube(&headerOnly, &destination));
    QVERIFY(!LutCalc::resampleCube(&source, &single)); // a 1-point lattice has no step
    QVERIFY(!LutCalc::resampleCube(&source, &headerOnly));
    QCOMPARE(destination.table3D[1][1][1][1], 0.25f);
}

// A curve's inverse: rising, falling, flat parts inside and at the ends, a reversal, and knots off the lattice.
void TestCalc::curveInverses()
{
    const struct {
        const char *name;
        std::vector<float> y;
        std::vector<std::pair<double, double>> outputToInput;
    } cases[] = {
        {"rising", {0.0f, 0.1f, 0.4f, 1.0f}, {{0.25, 1.5 / 3}, {0.1, 1.0 / 3}, {0.7, 2.5 / 3}, {-1.0, 0.0}, {2.0, 1.0}}},
        {"falling", {1.0f, 0.5f, 0.0f}, {{0.75, 0.25}, {0.25, 0.75}, {1.5, 0.0}}},
        // A flat part inside takes its first knot; flat ends take the knot nearest the middle.
        {"flat parts", {0.2f, 0.2f, 0.5f, 0.5f, 0.5f, 0.8f, 0.8f}, {{0.5, 2.0 / 6}, {0.2, 1.0 / 6}, {0.0, 1.0 / 6},
                                                                  {0.8, 5.0 / 6}, {0.65, 4.5 / 6}}},
        // A reversal is flattened to the knot before it.
        {"reversal", {0.0f, 0.6f, 0.4f, 1.0f}, {{0.5, 5.0 / 18}, {0.6, 1.0 / 3}, {0.8, 2.5 / 3}}},
        {"constant", {0.3f, 0.3f}, {{0.3, 0.0}, {0.9, 0.0}}},
    };
    for (const auto &c : cases) {
        const LutInverse::Curve curve = LutInverse::Curve::uniform(c.y.data(), int(c.y.size()));
        for (const auto &[y, x] : c.outputToInput)
            QVERIFY2(std::fabs(curve.invert(y) - x) < 1e-6,
                     qPrintable(QStringLiteral("%1: %2 -> %3, not %4").arg(c.name).arg(y).arg(curve.invert(y)).arg(x)));
    }
    // Knots at their own inputs (falling ones, as the negative half floats run).
    const LutInverse::Curve knots({0.0, -1.0, -4.0}, {0.0, -2.0, -3.0}, -1);
    QCOMPARE(knots.invert(-1.0), -0.5);
    QCOMPARE(knots.invert(-2.5), -2.5);
    QCOMPARE(knots.invert(-9.0), -4.0);
    // A rising table followed by its inverse is the identity at every entry and between them.
    std::vector<float> rgb(33 * 3);
    for (int i = 0; i < 33 * 3; ++i)
        rgb[size_t(i)] = float(std::pow(i / 3 / 32.0, 1.0 + i % 3 * 0.6));
    for (int ch = 0; ch < 3; ++ch) {
        const LutInverse::Curve channel = LutInverse::Curve::uniform(rgb.data() + ch, 33, 3);
        for (int i = 0; i <= 320; ++i) {
            const double x = i / 320.0;
            QVERIFY(std::fabs(channel.invert(LutCalc::sample1D(rgb.data(), 33, ch, x)) - x) < 1e-5);
        }
    }
}

// A cube followed by its inverse is the identity at every lattice point (and between them) for smooth, invertible
// tables of several sizes; points outside the gamut take the nearest point of it; tables that cannot be inverted
// everywhere still give inputs in 0..1.
void TestCalc::cubeRoundTrips()
{
    using Map = std::function<void(double, double, double, double *)>;
    const struct {
        const char *name;
        int n;
        Map f;
    } cases[] = {
        {"cross-talk", 17, [](double r, double g, double b, double *o) {
             o[0] = 0.05 + 0.9 * (0.8 * std::pow(r, 1.2) + 0.2 * g);
             o[1] = 0.02 + 0.95 * (0.7 * g + 0.2 * r + 0.1 * b * b);
             o[2] = 0.1 + 0.85 * (0.9 * std::pow(b, 0.8) + 0.1 * r);
         }},
        {"gamma per channel", 33, [](double r, double g, double b, double *o) {
             o[0] = std::pow(r, 2.2), o[1] = std::pow(g, 0.6), o[2] = b;
         }},
        {"rotation beyond 0..1", 5, [](double r, double g, double b, double *o) {
             o[0] = 1.2 * r - 0.1 * g, o[1] = 0.1 * r + 1.1 * g - 0.1 * b, o[2] = -0.2 + 1.3 * b + 0.05 * r;
         }},
    };
    for (const auto &c : cases) {
        const int n = c.n;
        std::vector<float> grid(size_t(n) * n * n * 3);
        for (int i = 0; i < n * n * n; ++i) {
            double out[3];
            c.f(i / (n * n) / (n - 1.0), i / n % n / (n - 1.0), i % n / (n - 1.0), out);
            for (int ch = 0; ch < 3; ++ch)
                grid[size_t(i) * 3 + ch] = float(out[ch]);
        }
        LutInverse::Cube cube;
        QVERIFY(cube.build(grid.data(), n));
        const int sizes[3] = {n, n, n};
        const int m = 2 * n - 1; // the lattice points and the middles of the cells
        double worst = 0.0;
        for (int i = 0; i < m * m * m; ++i) {
            const double x[3] = {i / (m * m) / (m - 1.0), i / m % m / (m - 1.0), i % m / (m - 1.0)};
            const double position[3] = {x[0] * (n - 1), x[1] * (n - 1), x[2] * (n - 1)};
            float y[3];
            LutCalc::sampleGrid(grid.data(), sizes, position, y);
            const double target[3] = {y[0], y[1], y[2]};
            double back[3];
            cube.invert(target, back);
            for (int ch = 0; ch < 3; ++ch)
                worst = std::max(worst, std::fabs(back[ch] - x[ch]));
        }
        QVERIFY2(worst < 1e-4, qPrintable(QStringLiteral("%1: %2 off").arg(c.name).arg(worst)));
    }
    // Outside the gamut of a table that squeezes 0..1 into 0.1..0.9: the nearest point of the gamut's inverse.
    std::vector<float> squeeze(3 * 27);
    for (int i = 0; i < 27 * 3; ++i)
        squeeze[size_t(i)] = float(0.1 + 0.4 * (i / 3 / (i % 3 == 0 ? 9 : i % 3 == 1 ? 3 : 1) % 3));
    LutInverse::Cube cube;
    QVERIFY(cube.build(squeeze.data(), 3));
    const double points[][6] = {{0.0, 0.5, 0.5, 0.0, 0.5, 0.5}, {1.0, 1.0, 0.3, 1.0, 1.0, 0.25}, {-5.0, 0.7, 9.0, 0.0, 0.75, 1.0}};
    for (const auto &p : points) {
        double x[3];
        cube.invert(p, x);
        for (int ch = 0; ch < 3; ++ch)
            QVERIFY2(std::fabs(x[ch] - p[3 + ch]) < 1e-6, qPrintable(QStringLiteral("%1 %2 %3: %4 %5 %6").arg(p[0]).arg(p[1])
                                                                        .arg(p[2]).arg(x[0]).arg(x[1]).arg(x[2])));
    }
    // A table that folds over itself, and a constant one: inputs in 0..1, found in bounded time.
    std::vector<float> fold(3 * 64), constant(3 * 64, 0.5f);
    for (int i = 0; i < 64 * 3; ++i)
        fold[size_t(i)] = float(std::sin(i * 1.7) * 2.0);
    for (const std::vector<float> *table : {&fold, &constant}) {
        QVERIFY(cube.build(table->data(), 4));
        for (int i = 0; i < 125; ++i) {
            const double y[3] = {i / 25 / 4.0, i / 5 % 5 / 4.0, i % 5 / 4.0};
            double x[3];
            cube.invert(y, x);
            for (double v : x)
                QVERIFY(v >= 0.0 && v <= 1.0);
        }
    }
    QVERIFY(!cube.build(squeeze.data(), 1));
    QVERIFY(cube.isEmpty());
}

QTEST_GUILESS_MAIN(TestCalc)
#include "test_calc.moc"
