// The Truelight cube reader: "#" keyword lines, the input LUT scaled by the
// cube size, the cube section and "End"; and OpenColorIO's Truelight files.

#include "TestSupport.h"

#include "lut/Read_LUTFile.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

// A literal with embedded NULs, without its terminating one.
template <int N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

constexpr int kTruelight = 10;

bool readCub(Read_LUTFile &lut, const QString &path)
{
    LutFileOptions options;
    options.path = path;
    options.format = kTruelight;
    options.defaultOrder = true;
    return lut.readLut(options, false);
}

// A file of cube width n and input LUT length l; cube entry (r, g, b), red
// fastest, is (r, g, b) / (n - 1) plus the offset; input LUT entry i runs
// from 0 to n.
QByteArray truelightText(int n, int l, float offset = 0.0f, const QByteArray &extraHeader = QByteArray())
{
    QByteArray text = "# Truelight Cube v2.0\n# iDims 3\n# oDims 3\n# width " + QByteArray::number(n) + ' '
        + QByteArray::number(n) + ' ' + QByteArray::number(n) + "\n# lutLength " + QByteArray::number(l) + '\n'
        + extraHeader + "\n# InputLUT\n";
    for (int i = 0; i < l; ++i) {
        const QByteArray v = QByteArray::number(double(i) * n / (l - 1));
        text += v + ' ' + v + ' ' + v + '\n';
    }
    text += "\n# Cube\n";
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r)
                text += QByteArray::number(double(r) / (n - 1) + offset) + ' ' + QByteArray::number(double(g) / (n - 1))
                    + ' ' + QByteArray::number(double(b) / (n - 1)) + '\n';
    return text + "# End\n";
}

} // namespace

class TestFormatTruelight : public QObject
{
    Q_OBJECT

private slots:
    void readsInputLutAndCube();
    void keywordsNeedWhiteSpaceAfterHash();
    void stopsOnWrongDimensionsAndEnd();
    void secondWidthReplacesTable();
    void refusesBadFiles_data();
    void refusesBadFiles();
    void readsOcioBakedTruelight_data();
    void readsOcioBakedTruelight();

private:
    QTemporaryDir m_dir;
};

// The input LUT runs 0..N and is stored divided by N (not N - 1); cube
// values are clamped to 0..1; red varies fastest in the file.
void TestFormatTruelight::readsInputLutAndCube()
{
    const QString path = TestSupport::writeFile(m_dir.filePath(QStringLiteral("a.cub")), truelightText(17, 1024, 0.05f));
    Read_LUTFile lut;
    QVERIFY2(readCub(lut, path), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, 17);
    QCOMPARE(lut.size1D, 1024);
    QCOMPARE(lut.table1D[1023][0], 1.0f);
    QVERIFY(std::fabs(lut.table1D[1023 - 63][1] - float(960.0 / 1023)) < 1e-5f);
    for (int r = 0; r < 17; ++r) {
        for (int g = 0; g < 17; ++g) {
            for (int b = 0; b < 17; ++b) {
                const float *e = lut.table3D[r][g][b];
                QVERIFY(std::fabs(e[0] - std::min(1.0f, r / 16.0f + 0.05f)) < 1e-5f);
                QVERIFY(std::fabs(e[1] - g / 16.0f) < 1e-5f);
                QVERIFY(std::fabs(e[2] - b / 16.0f) < 1e-5f);
            }
        }
    }
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(lut.domainMax3D[c], 1.0f);
        QCOMPARE(lut.domainMax1D[c], 1.0f);
    }
}

// "#width 2 2 2" (no blank after "#") is not a keyword line: no cube size.
void TestFormatTruelight::keywordsNeedWhiteSpaceAfterHash()
{
    QByteArray text = truelightText(2, 2);
    text.replace("# width", "#width");
    Read_LUTFile lut;
    QVERIFY(readCub(lut, TestSupport::writeFile(m_dir.filePath(QStringLiteral("b.cub")), text)));
    QCOMPARE(lut.size3D, 0); // the lutLength still gives a 1D table
    QCOMPARE(lut.size1D, 2);

    text.replace("# lutLength", "#lutLength");
    Read_LUTFile none;
    QVERIFY(!readCub(none, TestSupport::writeFile(m_dir.filePath(QStringLiteral("c.cub")), text)));
}

void TestFormatTruelight::stopsOnWrongDimensionsAndEnd()
{
    // "iDims 2" at the top stops before any size: nothing to read.
    QByteArray text = truelightText(2, 2);
    text.replace("# iDims 3", "# iDims 2");
    Read_LUTFile dims;
    QVERIFY(!readCub(dims, TestSupport::writeFile(m_dir.filePath(QStringLiteral("d.cub")), text)));

    // "End" before the cube section: the cube stays zero, the read succeeds.
    text = truelightText(2, 2, 0.5f);
    text.replace("\n# Cube\n", "\n# End\n# Cube\n");
    Read_LUTFile ended;
    QVERIFY(readCub(ended, TestSupport::writeFile(m_dir.filePath(QStringLiteral("e.cub")), text)));
    QCOMPARE(ended.table3D[1][1][1][0], 0.0f);

    // A lower-case "end" is just another keyword.
    text = truelightText(2, 2, 0.5f);
    text.replace("\n# Cube\n", "\n# end\nstray text\n# Cube\n");
    Read_LUTFile lower;
    QVERIFY(readCub(lower, TestSupport::writeFile(m_dir.filePath(QStringLiteral("f.cub")), text)));
    QCOMPARE(lower.table3D[1][0][0][0], 1.0f);
}

// A second width line replaces the first table (the old one is freed).
void TestFormatTruelight::secondWidthReplacesTable()
{
    Read_LUTFile lut;
    const QString path = TestSupport::writeFile(m_dir.filePath(QStringLiteral("g.cub")),
                                                truelightText(3, 4, 0.0f, "# width 64 64 64\n# width 3 3 3\n"));
    QVERIFY2(readCub(lut, path), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, 3);
    QCOMPARE(lut.table3D.size(), 3);
    QCOMPARE(lut.table3D[2][1][0][1], 0.5f);
}

void TestFormatTruelight::refusesBadFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QByteArray unequal = truelightText(2, 2);
    unequal.replace("# width 2 2 2", "# width 33 33 17");
    QTest::newRow("unequal width") << unequal;
    QByteArray huge = truelightText(2, 2);
    huge.replace("# width 2 2 2", "# width 5000 5000 5000");
    QTest::newRow("width above bound") << huge;
    QByteArray longLut = truelightText(2, 2);
    longLut.replace("# lutLength 2", "# lutLength 2000000000");
    QTest::newRow("lutLength above bound") << longLut;
    const QByteArray full = truelightText(3, 8);
    QTest::newRow("truncated cube") << full.left(full.indexOf("# Cube") + 40);
    QTest::newRow("truncated input LUT") << full.left(full.indexOf("# InputLUT") + 20);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("binary junk") << bytes("# width \xff\x00\x01 3 3\n\x80\x81\x00#\n");
}

void TestFormatTruelight::refusesBadFiles()
{
    QFETCH(QByteArray, text);
    Read_LUTFile lut;
    QVERIFY(!readCub(lut, TestSupport::writeFile(m_dir.filePath(QStringLiteral("bad.cub")), text)));
    QVERIFY(!lut.errorString.isEmpty());
}

void TestFormatTruelight::readsOcioBakedTruelight_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("cubeSize");
    const QString dir = TestSupport::corpusDir() + QStringLiteral("/colour-science/iridas_cube/");
    for (const char *name : {"Colour_Correct", "RGB_1_0.5_0.25", "Three_Dimensional_Table", "Unit"})
        QTest::newRow(name) << dir + QLatin1String(name) + QStringLiteral(".cube") << 17;
    QTest::newRow("Colour_Correct at 5") << dir + QStringLiteral("Colour_Correct.cube") << 5;
}

// OCIO's Truelight file of a corpus cube reads to OCIO's own cube bake of
// the same source (values clamped to 0..1, as the reader clamps them).
void TestFormatTruelight::readsOcioBakedTruelight()
{
    QFETCH(QString, source);
    QFETCH(int, cubeSize);
    if (TestSupport::corpusDir().isEmpty())
        QSKIP("the corpus is not there");
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut is missing");
    const QString cub = m_dir.filePath(QStringLiteral("baked.cub"));
    const QString cube = m_dir.filePath(QStringLiteral("baked.cube"));
    QString error;
    QVERIFY2(TestSupport::ociobake(source, QStringLiteral("truelight"), cubeSize, cub, &error), qPrintable(error));
    QVERIFY2(TestSupport::ociobake(source, QStringLiteral("iridas_cube"), cubeSize, cube, &error), qPrintable(error));
    const TestSupport::CubeText ocio = TestSupport::parseCubeText(cube);
    QCOMPARE(ocio.size, cubeSize);

    Read_LUTFile lut;
    QVERIFY2(readCub(lut, cub), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, cubeSize);
    QVERIFY(lut.size1D > 1);
    const int n = cubeSize;
    int bad = 0;
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const size_t line = size_t((b * n + g) * n + r);
                for (int k = 0; k < 3; ++k) {
                    const float want = std::min(1.0f, std::max(0.0f, ocio.values[3 * line + k]));
                    bad += std::fabs(lut.table3D[r][g][b][k] - want) > 2e-5f;
                }
            }
        }
    }
    QCOMPARE(bad, 0);
    // OCIO's input LUT is the identity on 0..N-1: its last entry is N-1 of N.
    QVERIFY(std::fabs(lut.table1D[lut.size1D - 1][0] - float(n - 1) / n) < 1e-5f);
}

QTEST_GUILESS_MAIN(TestFormatTruelight)
#include "test_format_truelight.moc"
