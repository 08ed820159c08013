// Tetrahedral sampling and resampling of a container's cube.

#include "calc/LutCalc.h"
#include "lut/Read_LUTFile.h"

#include <QTest>

#include <cmath>

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

QTEST_GUILESS_MAIN(TestCalc)
#include "test_calc.moc"
