// Tetrahedral sampling and resampling of a container's cube.

#include "calc/LutCalc.h"
#include "lut/Read_LUTFile.h"

#include <QTest>

#include <cmath>

class TestCalc : public QObject
{
    Q_OBJECT

private slots:
    void gridPointsAreExact();
    void eachTetrahedronUsesItsFourCorners();
    void tiesAndTheDiagonal();
    void pointsOutsideTheDomainClamp();
    void identityResamplesTo17();
    void sameSizeReproducesTheSource();
    void refusesEmptyAndDegenerateSizes();
};

namespace {

// A 2-point cube whose eight corners hold distinct values, so the result
// shows which corners took part and with which weights.
void fillCorners(Read_LUTFile &lut)
{
    QVERIFY(lut.setSize3D(2, false));
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            for (int c = 0; c < 2; ++c) {
                float *e = lut.table3D[a][b][c];
                e[0] = float(a * 4 + b * 2 + c);               // corner index
                e[1] = float((a * 4 + b * 2 + c) * (a * 4 + b * 2 + c)); // non-linear in it
                e[2] = float(a) - float(b) * 0.5f + float(c) * 0.25f;
            }
}

// Reference: the tetrahedral weights written out per corner.
void reference(const Read_LUTFile &lut, double f0, double f1, double f2, double out[3])
{
    auto P = [&](int a, int b, int c, int ch) { return double(lut.table3D[a][b][c][ch]); };
    for (int ch = 0; ch < 3; ++ch) {
        double r;
        if (f0 > f1 && f1 > f2)
            r = (1 - f0) * P(0, 0, 0, ch) + (f0 - f1) * P(1, 0, 0, ch) + (f1 - f2) * P(1, 1, 0, ch) + f2 * P(1, 1, 1, ch);
        else if (f0 > f1 && f0 > f2)
            r = (1 - f0) * P(0, 0, 0, ch) + (f0 - f2) * P(1, 0, 0, ch) + (f2 - f1) * P(1, 0, 1, ch) + f1 * P(1, 1, 1, ch);
        else if (f0 > f1)
            r = (1 - f2) * P(0, 0, 0, ch) + (f2 - f0) * P(0, 0, 1, ch) + (f0 - f1) * P(1, 0, 1, ch) + f1 * P(1, 1, 1, ch);
        else if (f2 > f1)
            r = (1 - f2) * P(0, 0, 0, ch) + (f2 - f1) * P(0, 0, 1, ch) + (f1 - f0) * P(0, 1, 1, ch) + f0 * P(1, 1, 1, ch);
        else if (f2 > f0)
            r = (1 - f1) * P(0, 0, 0, ch) + (f1 - f2) * P(0, 1, 0, ch) + (f2 - f0) * P(0, 1, 1, ch) + f0 * P(1, 1, 1, ch);
        else
            r = (1 - f1) * P(0, 0, 0, ch) + (f1 - f0) * P(0, 1, 0, ch) + (f0 - f2) * P(1, 1, 0, ch) + f2 * P(1, 1, 1, ch);
        out[ch] = r;
    }
}

} // namespace

void TestCalc::gridPointsAreExact()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(5, false));
    for (int a = 0; a < 5; ++a)
        for (int b = 0; b < 5; ++b)
            for (int c = 0; c < 5; ++c) {
                float *e = lut.table3D[a][b][c];
                e[0] = std::sin(float(a + 2 * b + 3 * c));
                e[1] = float(a * b * c) / 7.0f;
                e[2] = 0.1f * float(c);
            }
    for (int a = 0; a < 5; ++a)
        for (int b = 0; b < 5; ++b)
            for (int c = 0; c < 5; ++c) {
                const float point[3] = {a / 4.0f, b / 4.0f, c / 4.0f};
                float result[3];
                LutCalc::sampleCube(point, result, &lut);
                for (int ch = 0; ch < 3; ++ch)
                    QCOMPARE(result[ch], lut.table3D[a][b][c][ch]);
            }
}

void TestCalc::eachTetrahedronUsesItsFourCorners()
{
    Read_LUTFile lut;
    fillCorners(lut);
    // One point inside each of the six tetrahedra.
    const float points[6][3] = {
        {0.7f, 0.4f, 0.1f}, {0.7f, 0.1f, 0.4f}, {0.4f, 0.1f, 0.7f},
        {0.1f, 0.4f, 0.7f}, {0.1f, 0.7f, 0.4f}, {0.4f, 0.7f, 0.1f},
    };
    for (const auto &p : points) {
        float result[3];
        LutCalc::sampleCube(p, result, &lut);
        double expected[3];
        reference(lut, p[0], p[1], p[2], expected);
        for (int ch = 0; ch < 3; ++ch)
            QVERIFY2(std::fabs(result[ch] - expected[ch]) < 1e-6, qPrintable(QString::number(ch)));
    }
    // Tetrahedral, not trilinear: at (0.7, 0.4, 0.1) corner 0b011 (index 3)
    // does not contribute, so channel 0 differs from the trilinear 4*0.7+2*0.4+0.1.
    const float p[3] = {0.7f, 0.4f, 0.1f};
    float result[3];
    LutCalc::sampleCube(p, result, &lut);
    QVERIFY(std::fabs(result[1] - (0.3 * 0 + 0.3 * 16 + 0.3 * 36 + 0.1 * 49)) < 1e-5);
}

void TestCalc::tiesAndTheDiagonal()
{
    Read_LUTFile lut;
    fillCorners(lut);
    // Equal fractions: (1 - t) * P000 + t * P111.
    const float t = 0.3f;
    const float diagonal[3] = {t, t, t};
    float result[3];
    LutCalc::sampleCube(diagonal, result, &lut);
    for (int ch = 0; ch < 3; ++ch)
        QVERIFY(std::fabs(result[ch] - ((1 - t) * lut.table3D[0][0][0][ch] + t * lut.table3D[1][1][1][ch])) < 1e-6);
    // f0 == f1 takes the lower rows of the selection; on the shared face
    // both neighbouring tetrahedra agree, so compare with the reference.
    const float ties[3][3] = {{0.5f, 0.5f, 0.2f}, {0.2f, 0.5f, 0.5f}, {0.5f, 0.2f, 0.5f}};
    for (const auto &p : ties) {
        LutCalc::sampleCube(p, result, &lut);
        double expected[3];
        reference(lut, p[0], p[1], p[2], expected);
        for (int ch = 0; ch < 3; ++ch)
            QVERIFY(std::fabs(result[ch] - expected[ch]) < 1e-6);
    }
}

void TestCalc::pointsOutsideTheDomainClamp()
{
    Read_LUTFile lut;
    fillCorners(lut);
    const float below[3] = {-0.5f, -3.0f, 0.0f};
    const float above[3] = {1.5f, 1.0f, 7.0f};
    const float nan[3] = {std::nanf(""), 0.0f, 1.0f};
    float result[3];
    LutCalc::sampleCube(below, result, &lut);
    QCOMPARE(result[0], lut.table3D[0][0][0][0]);
    LutCalc::sampleCube(above, result, &lut);
    QCOMPARE(result[0], lut.table3D[1][1][1][0]);
    LutCalc::sampleCube(nan, result, &lut);
    QCOMPARE(result[0], lut.table3D[0][0][1][0]);

    // A source domain other than 0..1 maps points through it.
    lut.domainMin3D[0] = lut.domainMin3D[1] = lut.domainMin3D[2] = -1.0f;
    const float middle[3] = {0.0f, 0.0f, 0.0f};
    LutCalc::sampleCube(middle, result, &lut);
    double expected[3];
    reference(lut, 0.5f, 0.5f, 0.5f, expected);
    QVERIFY(std::fabs(result[1] - expected[1]) < 1e-6);
}

void TestCalc::identityResamplesTo17()
{
    Read_LUTFile source;
    QVERIFY(source.setSize3D(2, false));
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            for (int c = 0; c < 2; ++c) {
                source.table3D[a][b][c][0] = float(a);
                source.table3D[a][b][c][1] = float(b);
                source.table3D[a][b][c][2] = float(c);
            }
    Read_LUTFile destination;
    QVERIFY(destination.setSize3D(17, false));
    QVERIFY(LutCalc::resampleCube(&source, &destination));
    for (int i = 0; i < 17; ++i)
        for (int j = 0; j < 17; ++j)
            for (int k = 0; k < 17; ++k) {
                const float *e = destination.table3D[i][j][k];
                QVERIFY(std::fabs(e[0] - i / 16.0f) < 1e-6f);
                QVERIFY(std::fabs(e[1] - j / 16.0f) < 1e-6f);
                QVERIFY(std::fabs(e[2] - k / 16.0f) < 1e-6f);
            }
}

void TestCalc::sameSizeReproducesTheSource()
{
    Read_LUTFile source;
    QVERIFY(source.setSize3D(9, false));
    for (int i = 0; i < 9 * 9 * 9 * 3; ++i)
        source.table3D.data()[i] = std::fmod(i * 0.618034f, 1.0f);
    Read_LUTFile destination;
    QVERIFY(destination.setSize3D(9, false));
    QVERIFY(LutCalc::resampleCube(&source, &destination));
    for (int i = 0; i < 9 * 9 * 9 * 3; ++i)
        QVERIFY(std::fabs(destination.table3D.data()[i] - source.table3D.data()[i]) < 1e-6f);
}

void TestCalc::refusesEmptyAndDegenerateSizes()
{
    Read_LUTFile empty;
    Read_LUTFile destination;
    QVERIFY(destination.setSize3D(3, false));
    destination.table3D[1][1][1][1] = 0.25f;
    QVERIFY(!LutCalc::resampleCube(&empty, &destination));
    QCOMPARE(destination.table3D[1][1][1][1], 0.25f);

    Read_LUTFile source;
    QVERIFY(source.setSize3D(2, false));
    Read_LUTFile single;
    QVERIFY(single.setSize3D(1, false));
    QVERIFY(!LutCalc::resampleCube(&source, &single)); // a 1-point lattice has no step
    Read_LUTFile unallocated;
    unallocated.size3D = 4; // size without a table, as after a header-only read
    QVERIFY(!LutCalc::resampleCube(&source, &unallocated));
    QVERIFY(!LutCalc::resampleCube(&unallocated, &destination));
}

QTEST_GUILESS_MAIN(TestCalc)
#include "test_calc.moc"
