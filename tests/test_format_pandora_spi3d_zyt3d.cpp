// The Pandora (.mga/.m3d), spi3d and zyt3d formats: round trips through
// their own writers, the exact text written, the header and data rules of
// each reader, bad input, and OpenColorIO as an independent reader.

#include "TestSupport.h"

#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

constexpr int kPandora = 4;
constexpr int kSpi3D = 13;
constexpr int kZyt3D = 16;

// A cube whose three channels differ from each other and from the identity,
// so that a swapped axis or channel shows.
void fillCube(Read_LUTFile &lut, int n)
{
    QVERIFY(lut.setSize3D(n, false));
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            for (int c = 0; c < n; ++c) {
                const float x = float(a) / float(n - 1), y = float(b) / float(n - 1), z = float(c) / float(n - 1);
                lut.table3D[a][b][c][0] = 0.05f + 0.9f * x * x;
                lut.table3D[a][b][c][1] = 0.5f * y + 0.3f * z * x;
                lut.table3D[a][b][c][2] = std::sqrt(z) * 0.8f + 0.1f * y;
            }
}

bool readFile(Read_LUTFile &lut, const QString &path, int format, bool defaultOrder = true,
              bool dataRGB = true, bool tableRGB = true)
{
    LutFileOptions options;
    options.path = path;
    options.format = format;
    options.defaultOrder = defaultOrder;
    options.dataOrderRGB = dataRGB;
    options.tableOrderRGB = tableRGB;
    return lut.readLut(options, false);
}

bool writeFile(Read_LUTFile &lut, const QString &path, int format, int scale = 1, bool defaultOrder = true,
               bool dataRGB = true, bool tableRGB = true)
{
    LutFileOptions options;
    options.path = path;
    options.format = format;
    options.defaultOrder = defaultOrder;
    options.dataOrderRGB = dataRGB;
    options.tableOrderRGB = tableRGB;
    options.outputScale = scale;
    options.size3D = lut.size3D;
    Write_LUTFile writer;
    return writer.writeLut(options, &lut);
}

// Largest difference between two cubes of the same size (infinity when the
// sizes differ).
float maxDifference(const Read_LUTFile &x, const Read_LUTFile &y)
{
    if (x.size3D != y.size3D || x.table3D.size() != x.size3D || y.table3D.size() != y.size3D)
        return INFINITY;
    float worst = 0.0f;
    const int n = x.size3D;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            for (int c = 0; c < n; ++c)
                for (int k = 0; k < 3; ++k)
                    worst = std::max(worst, std::fabs(x.table3D[a][b][c][k] - y.table3D[a][b][c][k]));
    return worst;
}

// Compares a cube with an OpenColorIO bake of a file to iridas_cube (red
// varies fastest there, so line r + g*N + b*N*N holds table3D[r][g][b]);
// transform turns the baked value into the one this reader should hold.
template <typename Transform>
float maxDifferenceFromBake(const Read_LUTFile &lut, const TestSupport::CubeText &baked, Transform transform)
{
    const int n = lut.size3D;
    if (baked.size != n || baked.values.size() != size_t(3) * n * n * n)
        return INFINITY;
    float worst = 0.0f;
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                const size_t line = size_t(r) + size_t(g) * n + size_t(b) * n * n;
                for (int k = 0; k < 3; ++k)
                    worst = std::max(worst, std::fabs(lut.table3D[r][g][b][k] - transform(baked.values[3 * line + k])));
            }
    return worst;
}

QByteArray pandoraHeader(const QByteArray &in, const QByteArray &out)
{
    return "#HEADER\n#END\n\nchannel 3d\n" + in + "\n" + out + "\n\nformat lut\n\nvalues\tred\tgreen\tblue\n";
}

// Eight Pandora data lines for a 2-point cube: entry e has (e, 2e, 3e) / 100.
QByteArray pandoraData(int count = 8)
{
    QByteArray text;
    for (int e = 0; e < count; ++e)
        text += QByteArray::number(e) + "\t" + QByteArray::number(e / 100.0) + "\t"
            + QByteArray::number(2 * e / 100.0) + "\t" + QByteArray::number(3 * e / 100.0) + "\n";
    return text;
}

QByteArray spi3dLine(int i, int j, int k, double r, double g, double b)
{
    return QByteArray::number(i) + " " + QByteArray::number(j) + " " + QByteArray::number(k) + " "
        + QByteArray::number(r) + " " + QByteArray::number(g) + " " + QByteArray::number(b) + "\n";
}

// All eight points of a 2-point spi3d cube, point (i, j, k) holding
// (i, j, k) / 4 + 0.1 on its channels.
QByteArray spi3dData()
{
    QByteArray text;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            for (int k = 0; k < 2; ++k)
                text += spi3dLine(i, j, k, i / 4.0 + 0.1, j / 4.0 + 0.1, k / 4.0 + 0.1);
    return text;
}

const QByteArray kBinaryJunk = QByteArray::fromHex("00ff13e7c0de7f454c46020101000000") + QByteArray(3000, '\xfe')
    + QByteArray("\0in 8\0\n\x01", 8);

} // namespace

class TestFormatPandoraSpi3DZyt3D : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void roundTripsThroughOwnWriter_data();
    void roundTripsThroughOwnWriter();
    void roundTripsWithChosenOrders_data();
    void roundTripsWithChosenOrders();

    void pandoraWrittenText();
    void pandoraReadsIntegerCodesAgainstOutRange();
    void pandoraHeaderRules();
    void pandoraDataLines();

    void spi3dWrittenText();
    void spi3dHeaderRules();
    void spi3dDataLinesInAnyOrder();
    void spi3dSkipsIndicesOutsideTheCube();
    void spi3dFailsWhenLatticePointsAreMissing();

    void zyt3dWrittenText();
    void zyt3dLinesTakeLatticePointsByPosition();
    void zyt3dFromRangeNormalises();
    void zyt3dHeaderRules();
    void zyt3dShortFileFails();

    void badInputFailsCleanly_data();
    void badInputFailsCleanly();

    void convertsByExtension();

    void ocioReadsWhatWeWrite_data();
    void ocioReadsWhatWeWrite();
    void spi3dCorpusMatchesOcio();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestFormatPandoraSpi3DZyt3D::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestFormatPandoraSpi3DZyt3D::roundTripsThroughOwnWriter_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size");
    QTest::newRow("mga 33") << kPandora << "rt.mga" << 33;
    QTest::newRow("m3d 17") << kPandora << "rt.m3d" << 17;
    QTest::newRow("spi3d 33") << kSpi3D << "rt.spi3d" << 33;
    QTest::newRow("zyt3d 33") << kZyt3D << "rt.zyt3d" << 33;
    QTest::newRow("zyt3d 2") << kZyt3D << "rt2.zyt3d" << 2;
}

void TestFormatPandoraSpi3DZyt3D::roundTripsThroughOwnWriter()
{
    QFETCH(int, format);
    QFETCH(QString, name);
    QFETCH(int, size);
    Read_LUTFile source;
    fillCube(source, size);
    QVERIFY(writeFile(source, path(name), format));

    Read_LUTFile back;
    QVERIFY2(readFile(back, path(name), format), qPrintable(back.errorString));
    QCOMPARE(back.size3D, size);
    // Six decimals in the file.
    QVERIFY(maxDifference(source, back) <= 5.1e-7f);
    for (int k = 0; k < 3; ++k)
        QCOMPARE(back.domainMax3D[k], 1.0f);
}

void TestFormatPandoraSpi3DZyt3D::roundTripsWithChosenOrders_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("dataRGB");
    QTest::addColumn<bool>("tableRGB");
    for (int format : {kPandora, kSpi3D, kZyt3D}) {
        const QByteArray name = LutFormats::byId(format)->name;
        QTest::newRow(name + " BGR/BGR") << format << false << false;
        QTest::newRow(name + " RGB/BGR") << format << true << false;
        QTest::newRow(name + " BGR/RGB") << format << false << true;
    }
}

// Written and read with the same explicit orders, a cube comes back as it
// was; read with the format's default order instead, it comes back
// rearranged exactly as the orders say.
void TestFormatPandoraSpi3DZyt3D::roundTripsWithChosenOrders()
{
    QFETCH(int, format);
    QFETCH(bool, dataRGB);
    QFETCH(bool, tableRGB);
    const QString file = path(QStringLiteral("orders.") + LutFormats::byId(format)->name);
    Read_LUTFile source;
    fillCube(source, 5);
    QVERIFY(writeFile(source, file, format, 1, false, dataRGB, tableRGB));

    Read_LUTFile same;
    QVERIFY(readFile(same, file, format, false, dataRGB, tableRGB));
    QVERIFY(maxDifference(source, same) <= 5.1e-7f);

    Read_LUTFile plain;
    QVERIFY(readFile(plain, file, format));
    for (int a = 0; a < 5; ++a)
        for (int b = 0; b < 5; ++b)
            for (int c = 0; c < 5; ++c) {
                const float *want = tableRGB ? source.table3D[a][b][c] : source.table3D[c][b][a];
                for (int k = 0; k < 3; ++k)
                    QVERIFY(std::fabs(plain.table3D[a][b][c][k] - want[dataRGB ? k : 2 - k]) <= 5.1e-7f);
            }
}

void TestFormatPandoraSpi3DZyt3D::pandoraWrittenText()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    lut.table3D[0][0][1][2] = 0.25f;
    lut.table3D[1][0][0][0] = 0.5f;
    lut.table3D[1][1][1][0] = 1.0f;
    lut.table3D[1][1][1][1] = 0.75f;
    lut.table3D[1][1][1][2] = 0.125f;
    const QByteArray header = "#HEADER\n#type: 3D cube file\n#format: 1.00\n#created:\n#owner: ostavel\n#END\n\n"
                              "channel\t3d\nin 8\n";
    QVERIFY(writeFile(lut, path("text.mga"), kPandora));
    QCOMPARE(TestSupport::readFile(path("text.mga")),
             header + "out\t1\n\nformat lut\n\nvalues\tred\tgreen\tblue\n"
                      "0\t0.000000\t0.000000\t0.000000\n"
                      "1\t0.000000\t0.000000\t0.250000\n"
                      "2\t0.000000\t0.000000\t0.000000\n"
                      "3\t0.000000\t0.000000\t0.000000\n"
                      "4\t0.500000\t0.000000\t0.000000\n"
                      "5\t0.000000\t0.000000\t0.000000\n"
                      "6\t0.000000\t0.000000\t0.000000\n"
                      "7\t1.000000\t0.750000\t0.125000\n");

    // Integer codes: the range is the scale plus one, and each code is
    // followed by the separator.
    QVERIFY(writeFile(lut, path("text12.mga"), kPandora, 4095));
    const QByteArray text = TestSupport::readFile(path("text12.mga"));
    QVERIFY(text.startsWith(header + "out 4096\n\nformat lut\n\nvalues\tred\tgreen\tblue\n0\t0\t0\t0\t\n"
                                     "1\t0\t0\t1023\t\n"));
    QVERIFY(text.endsWith("\n4\t2047\t0\t0\t\n5\t0\t0\t0\t\n6\t0\t0\t0\t\n7\t4095\t3071\t511\t\n"));

    Read_LUTFile back;
    QVERIFY(readFile(back, path("text12.mga"), kPandora));
    QCOMPARE(back.table3D[1][1][1][1], 3071.0f / 4095.0f);
    QCOMPARE(back.table3D[0][0][1][2], 1023.0f / 4095.0f);
}

void TestFormatPandoraSpi3DZyt3D::pandoraReadsIntegerCodesAgainstOutRange()
{
    // "in 4913" is a 17-point cube, "out 4096" 12-bit codes divided by 4095.
    QByteArray text = pandoraHeader("in 4913", "out 4096");
    for (int e = 0; e < 4913; ++e)
        text += QByteArray::number(e) + " " + QByteArray::number(e % 4096) + " 4095 " + (e == 5 ? "5000" : "0") + "\n";
    TestSupport::writeFile(path("codes.m3d"), text);
    Read_LUTFile lut;
    QVERIFY2(readFile(lut, path("codes.m3d"), kPandora), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, 17);
    QCOMPARE(lut.table3D[0][0][3][0], 3.0f / 4095.0f);
    QCOMPARE(lut.table3D[0][0][3][1], 1.0f);
    QCOMPARE(lut.table3D[0][0][5][2], 1.0f); // 5000 clamps to the top of the range
    QCOMPARE(lut.table3D[16][16][16][0], float(4912 % 4096) / 4095.0f);
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(lut.domainMin3D[k], 0.0f);
        QCOMPARE(lut.domainMax3D[k], 1.0f);
    }

    // Without an "out" line the values are taken as normalised.
    TestSupport::writeFile(path("noout.mga"), pandoraHeader("in 8", "") + pandoraData());
    Read_LUTFile plain;
    QVERIFY(readFile(plain, path("noout.mga"), kPandora));
    QCOMPARE(plain.table3D[1][1][1][2], 0.21f);
}

void TestFormatPandoraSpi3DZyt3D::pandoraHeaderRules()
{
    struct Case {
        const char *name;
        QByteArray text;
        bool ok;
        int size;
    };
    const QByteArray data = pandoraData();
    const Case cases[] = {
        // A count that is not a cube takes the nearest cube root.
        {"in 9", pandoraHeader("in 9", "out 1") + data, true, 2},
        // A later "in" line replaces the cube the first one asked for.
        {"two in lines", pandoraHeader("in 27\nin 8", "out 1") + data, true, 2},
        // Keywords are prefixes: "input" is an "in" line whose rest does not scan.
        {"input", pandoraHeader("input 8", "out 1") + data, false, 0},
        {"in without count", pandoraHeader("in", "out 1") + data, false, 0},
        {"in 0", pandoraHeader("in 0", "out 1") + data, false, 0},
        {"negative in", pandoraHeader("in -8", "out 1") + data, false, 0},
        {"in beyond the size bound", pandoraHeader("in 99999999999999", "out 1") + data, false, 0},
        {"in 2^63", pandoraHeader("in 9223372036854775807", "out 1") + data, false, 0},
        {"no in line", pandoraHeader("", "out 1") + data, false, 0},
        {"out without range", pandoraHeader("in 8", "out") + data, false, 0},
        {"out 0", pandoraHeader("in 8", "out 0") + data, false, 0},
        {"negative out", pandoraHeader("in 8", "out -4096") + data, false, 0},
        {"channel 1d", QByteArray(pandoraHeader("in 8", "out 1")).replace("channel 3d", "channel 1d") + data, false, 0},
        {"channel with tabs", QByteArray(pandoraHeader("in 8", "out 1")).replace("channel 3d", "channel\t 3d") + data,
         true, 2},
        {"no values line, one point", "in 1\n0 0.5 0.5 0.5\n", true, 1},
        {"no values line", "in 8\nout 1\n" + data, false, 0},
    };
    for (const Case &c : cases) {
        const QString file = path(QStringLiteral("header.mga"));
        TestSupport::writeFile(file, c.text);
        Read_LUTFile lut;
        const bool ok = readFile(lut, file, kPandora);
        QVERIFY2(ok == c.ok, c.name);
        QVERIFY2(ok || !lut.errorString.isEmpty(), c.name);
        if (ok) {
            QVERIFY2(lut.size3D == c.size, c.name);
            QVERIFY2(lut.table3D.size() == c.size, c.name);
        }
    }

    // The data of a two-line-"in" file lands in the cube of the later line.
    TestSupport::writeFile(path("twoin.mga"), pandoraHeader("in 27\nin 8", "out 1") + data);
    Read_LUTFile lut;
    QVERIFY(readFile(lut, path("twoin.mga"), kPandora));
    QCOMPARE(lut.table3D[1][1][1][1], 0.14f);
}

void TestFormatPandoraSpi3DZyt3D::pandoraDataLines()
{
    // Lines of three or five fields, comments and blank lines are not
    // entries; the entry number is not checked; a line whose channels do not
    // scan keeps the previous line's values for them.
    const QByteArray text = pandoraHeader("in 8", "out 1")
        + "0 0.1 0.2 0.3\n"
          "\n# comment\n"
          "1 0.9 0.9\n"
          "1 0.9 0.9 0.9 0.9\n"
          "77 0.4 0.5 0.6\n"
          "2 x 0.7 0.8\n"
          "3 0.11 0.12 0.13\n4 0.1 0.1 0.1\n5 0.1 0.1 0.1\n6 0.1 0.1 0.1\n7 0.2 0.3 0.4\n";
    TestSupport::writeFile(path("data.mga"), text);
    Read_LUTFile lut;
    QVERIFY2(readFile(lut, path("data.mga"), kPandora), qPrintable(lut.errorString));
    QCOMPARE(lut.table3D[0][0][0][2], 0.3f);
    QCOMPARE(lut.table3D[0][0][1][0], 0.4f);
    QCOMPARE(lut.table3D[0][1][0][0], 0.4f); // "x" stopped the scan: all channels kept
    QCOMPARE(lut.table3D[0][1][0][2], 0.6f);
    QCOMPARE(lut.table3D[0][1][1][1], 0.12f);
    QCOMPARE(lut.table3D[1][1][1][2], 0.4f);

    // Only the very last entry missing still reads; it stays 0.
    TestSupport::writeFile(path("short1.mga"), pandoraHeader("in 8", "out 1") + pandoraData(7));
    Read_LUTFile lastMissing;
    QVERIFY(readFile(lastMissing, path("short1.mga"), kPandora));
    QCOMPARE(lastMissing.table3D[1][1][0][0], 0.06f);
    QCOMPARE(lastMissing.table3D[1][1][1][0], 0.0f);
    QCOMPARE(lastMissing.domainMax3D[0], 1.0f);

    TestSupport::writeFile(path("short2.mga"), pandoraHeader("in 8", "out 1") + pandoraData(6));
    Read_LUTFile twoMissing;
    QVERIFY(!readFile(twoMissing, path("short2.mga"), kPandora));
    QVERIFY(twoMissing.errorString.contains(QLatin1String("6 of 8")));
}

void TestFormatPandoraSpi3DZyt3D::spi3dWrittenText()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    lut.table3D[0][0][1][2] = 0.25f;
    lut.table3D[1][0][0][0] = 0.5f;
    lut.table3D[1][1][1][0] = 1.0f;
    lut.table3D[1][1][1][1] = 0.75f;
    QVERIFY(writeFile(lut, path("text.spi3d"), kSpi3D));
    QCOMPARE(TestSupport::readFile(path("text.spi3d")),
             QByteArray("SPILUT 1.0\n3 3\n2 2 2\n"
                        "0 0 0 0.000000 0.000000 0.000000\n"
                        "0 0 1 0.000000 0.000000 0.250000\n"
                        "0 1 0 0.000000 0.000000 0.000000\n"
                        "0 1 1 0.000000 0.000000 0.000000\n"
                        "1 0 0 0.500000 0.000000 0.000000\n"
                        "1 0 1 0.000000 0.000000 0.000000\n"
                        "1 1 0 0.000000 0.000000 0.000000\n"
                        "1 1 1 1.000000 0.750000 0.000000\n"));

    // An empty container gives the header alone.
    Read_LUTFile empty;
    QVERIFY(writeFile(empty, path("empty.spi3d"), kSpi3D));
    QCOMPARE(TestSupport::readFile(path("empty.spi3d")), QByteArray("SPILUT 1.0\n3 3\n0 0 0\n"));
}

void TestFormatPandoraSpi3DZyt3D::spi3dHeaderRules()
{
    struct Case {
        const char *name;
        QByteArray text;
        bool ok;
    };
    const QByteArray data = spi3dData();
    const Case cases[] = {
        {"text before SPILUT", "# made by hand\nnot a header 1 2 3\n\nSPILUT 1.0\n3 3\n2 2 2\n" + data, true},
        {"blank and wordy lines in the header", "SPILUT 1.0\n\nchannels\n3 3\n\nsize\n2 2 2\n" + data, true},
        {"unequal channel counts", "SPILUT 1.0\n3 1\n2 2 2\n" + data, false},
        {"one channel count", "SPILUT 1.0\n3\n2 2 2\n" + data, false},
        {"two sizes", "SPILUT 1.0\n3 3\n2 2\n" + data, false},
        {"unequal sizes", "SPILUT 1.0\n3 3\n2 2 3\n" + data, false},
        {"size 0", "SPILUT 1.0\n3 3\n0 0 0\n", false},
        {"negative size", "SPILUT 1.0\n3 3\n-2 -2 -2\n" + data, false},
        {"size beyond the bound", "SPILUT 1.0\n3 3\n100000 100000 100000\n" + data, false},
        {"no SPILUT line", "3 3\n2 2 2\n" + data, false},
        {"lowercase spilut", "spilut 1.0\n3 3\n2 2 2\n" + data, false},
        {"ends after SPILUT", "SPILUT 1.0\n", false},
        {"ends after channel counts", "SPILUT 1.0\n3 3\n", false},
    };
    for (const Case &c : cases) {
        TestSupport::writeFile(path("header.spi3d"), c.text);
        Read_LUTFile lut;
        const bool ok = readFile(lut, path("header.spi3d"), kSpi3D);
        QVERIFY2(ok == c.ok, c.name);
        QVERIFY2(ok || !lut.errorString.isEmpty(), c.name);
        if (ok)
            QVERIFY2(lut.size3D == 2 && std::fabs(lut.table3D[1][0][1][2] - 0.35f) < 1e-6f, c.name);
        else
            QVERIFY2(lut.table3D == nullptr, c.name);
    }
}

void TestFormatPandoraSpi3DZyt3D::spi3dDataLinesInAnyOrder()
{
    // Backwards, with a point given twice (the later line wins) and values
    // outside 0..1, which are clamped.
    QByteArray text = "SPILUT 1.0\n3 3\n2 2 2\n";
    for (int e = 7; e >= 0; --e)
        text += spi3dLine(e >> 2, (e >> 1) & 1, e & 1, e / 10.0, 0.5, 0.25);
    text += spi3dLine(1, 0, 1, 0.9, 0.8, 0.7);
    text += spi3dLine(0, 1, 1, -0.5, 1.5, 0.5);
    TestSupport::writeFile(path("order.spi3d"), text);
    Read_LUTFile lut;
    QVERIFY2(readFile(lut, path("order.spi3d"), kSpi3D), qPrintable(lut.errorString));
    QCOMPARE(lut.table3D[1][1][0][0], 0.6f);
    QCOMPARE(lut.table3D[0][0][1][2], 0.25f);
    QCOMPARE(lut.table3D[1][0][1][0], 0.9f);
    QCOMPARE(lut.table3D[0][1][1][0], 0.0f);
    QCOMPARE(lut.table3D[0][1][1][1], 1.0f);
    QCOMPARE(lut.table3D[0][1][1][2], 0.5f);
}

void TestFormatPandoraSpi3DZyt3D::spi3dSkipsIndicesOutsideTheCube()
{
    // Lines that name points outside 0..N-1 touch nothing; neither do lines
    // with fewer than six numbers.
    const QByteArray text = "SPILUT 1.0\n3 3\n2 2 2\n" + spi3dData() + spi3dLine(2, 0, 0, 0.9, 0.9, 0.9)
        + spi3dLine(0, -1, 0, 0.9, 0.9, 0.9) + spi3dLine(0, 0, 2, 0.9, 0.9, 0.9)
        + "1 1 4000000000 0.9 0.9 0.9\n" + spi3dLine(-2147483647, 0, 0, 0.9, 0.9, 0.9) + "1 1 1 0.9\n"
        + "0 0 0\n" + "garbage line\n";
    TestSupport::writeFile(path("outside.spi3d"), text);
    Read_LUTFile lut;
    QVERIFY2(readFile(lut, path("outside.spi3d"), kSpi3D), qPrintable(lut.errorString));
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            for (int k = 0; k < 2; ++k) {
                QCOMPARE(lut.table3D[i][j][k][0], float(i / 4.0 + 0.1));
                QCOMPARE(lut.table3D[i][j][k][1], float(j / 4.0 + 0.1));
                QCOMPARE(lut.table3D[i][j][k][2], float(k / 4.0 + 0.1));
            }
}

void TestFormatPandoraSpi3DZyt3D::spi3dFailsWhenLatticePointsAreMissing()
{
    // A file cut short (or with a point never given) is incomplete, even
    // though its lines may come in any order.
    QByteArray data = spi3dData();
    data.truncate(data.indexOf("\n1 1 0 ") + 1);
    TestSupport::writeFile(path("missing.spi3d"), "SPILUT 1.0\n3 3\n2 2 2\n" + data);
    Read_LUTFile lut;
    QVERIFY(!readFile(lut, path("missing.spi3d"), kSpi3D));
    QVERIFY(lut.errorString.contains(QLatin1String("2 of the 8")));

    // A point given only by an out-of-range line is still missing.
    TestSupport::writeFile(path("missing2.spi3d"),
                           "SPILUT 1.0\n3 3\n2 2 2\n" + data + spi3dLine(1, 1, 1, 0, 0, 0) + spi3dLine(1, 1, 2, 0, 0, 0));
    Read_LUTFile lut2;
    QVERIFY(!readFile(lut2, path("missing2.spi3d"), kSpi3D));
    QVERIFY(lut2.errorString.contains(QLatin1String("1 of the 8")));
}

void TestFormatPandoraSpi3DZyt3D::zyt3dWrittenText()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    lut.table3D[0][0][1][2] = 0.25f;
    lut.table3D[1][0][0][0] = 0.5f;
    lut.table3D[1][1][1][1] = 0.75f;
    // The scale is ignored: the values stay normalised reals.
    QVERIFY(writeFile(lut, path("text.zyt3d"), kZyt3D, 4095));
    QCOMPARE(TestSupport::readFile(path("text.zyt3d")),
             QByteArray("From 0.0 1.0\nLength 2\n"
                        "0.000000 0.000000 0.000000\n"
                        "0.000000 0.000000 0.250000\n"
                        "0.000000 0.000000 0.000000\n"
                        "0.000000 0.000000 0.000000\n"
                        "0.500000 0.000000 0.000000\n"
                        "0.000000 0.000000 0.000000\n"
                        "0.000000 0.000000 0.000000\n"
                        "0.000000 0.750000 0.000000\n"));
    Read_LUTFile empty;
    QVERIFY(writeFile(empty, path("empty.zyt3d"), kZyt3D));
    QCOMPARE(TestSupport::readFile(path("empty.zyt3d")), QByteArray("From 0.0 1.0\nLength 0\n"));
}

void TestFormatPandoraSpi3DZyt3D::zyt3dLinesTakeLatticePointsByPosition()
{
    // The blank line is point 2 and stays 0; every later line moves on one
    // point; "x" does not scan and leaves its point at 0 too; a short line
    // keeps the previous values for its missing channels; lines after the
    // last point are not read.
    TestSupport::writeFile(path("blank.zyt3d"), "junk\n\nFrom 0.0 1.0\nLength 2\n"
                                                "0.1 0.1 0.1\n0.2 0.2 0.2\n\n0.3 0.3 0.3\n"
                                                "x\n0.5 0.6\n0.7 0.7 0.7\n0.8 0.8 0.8\n0.9 0.9 0.9\n");
    Read_LUTFile lut;
    QVERIFY2(readFile(lut, path("blank.zyt3d"), kZyt3D), qPrintable(lut.errorString));
    QCOMPARE(lut.table3D[0][0][1][0], 0.2f);
    QCOMPARE(lut.table3D[0][1][0][0], 0.0f);
    QCOMPARE(lut.table3D[0][1][1][0], 0.3f);
    QCOMPARE(lut.table3D[1][0][0][0], 0.0f);
    QCOMPARE(lut.table3D[1][0][1][1], 0.6f);
    QCOMPARE(lut.table3D[1][0][1][2], 0.3f);
    QCOMPARE(lut.table3D[1][1][1][0], 0.8f);
}

void TestFormatPandoraSpi3DZyt3D::zyt3dFromRangeNormalises()
{
    TestSupport::writeFile(path("range.zyt3d"), "From 0 1023\nLength 2\n0 0 0\n1023 512 2000\n-5 0 0\n"
                                                "1 2 3\n4 5 6\n7 8 9\n10 11 12\n13 14 15\n");
    Read_LUTFile lut;
    QVERIFY(readFile(lut, path("range.zyt3d"), kZyt3D));
    QCOMPARE(lut.table3D[0][0][1][0], 1.0f);
    QCOMPARE(lut.table3D[0][0][1][1], 512.0f / 1023.0f);
    QCOMPARE(lut.table3D[0][0][1][2], 1.0f);
    QCOMPARE(lut.table3D[0][1][0][0], 0.0f);
    QCOMPARE(lut.table3D[1][1][1][2], 15.0f / 1023.0f);
    QCOMPARE(lut.domainMax3D[0], 1.0f);
}

void TestFormatPandoraSpi3DZyt3D::zyt3dHeaderRules()
{
    const QByteArray points = QByteArray("0.5 0.5 0.5\n").repeated(8);
    struct Case {
        const char *name;
        QByteArray text;
        bool ok;
    };
    const Case cases[] = {
        {"no From line", "Length 2\n" + points, true},
        {"From with one number is ignored", "From 4\nLength 2\n" + points, true},
        {"no Length line", "From 0.0 1.0\n" + points, false},
        {"Length without a number", "From 0.0 1.0\nLength\n" + points, false},
        {"Length 0", "From 0.0 1.0\nLength 0\n", false},
        {"negative Length", "From 0.0 1.0\nLength -2\n" + points, false},
        {"Length beyond the bound", "From 0.0 1.0\nLength 70000\n" + points, false},
        {"empty From range", "From 1.0 1.0\nLength 2\n" + points, false},
        {"reversed From range", "From 1.0 0.0\nLength 2\n" + points, false},
    };
    for (const Case &c : cases) {
        TestSupport::writeFile(path("header.zyt3d"), c.text);
        Read_LUTFile lut;
        const bool ok = readFile(lut, path("header.zyt3d"), kZyt3D);
        QVERIFY2(ok == c.ok, c.name);
        QVERIFY2(ok || !lut.errorString.isEmpty(), c.name);
        if (ok)
            QVERIFY2(lut.size3D == 2 && lut.table3D[1][1][1][0] == 0.5f, c.name);
    }
}

// A file that ends before its last lattice point is incomplete: the read
// fails rather than reporting zeros as data.
void TestFormatPandoraSpi3DZyt3D::zyt3dShortFileFails()
{
    TestSupport::writeFile(path("short.zyt3d"),
                           "From 0.0 1.0\nLength 2\n" + QByteArray("0.5 0.5 0.5\n").repeated(7));
    Read_LUTFile lut;
    QVERIFY(!readFile(lut, path("short.zyt3d"), kZyt3D));
    QVERIFY(lut.errorString.contains(QLatin1String("7 of 8")));

    // The same points with a final line that has no line end are complete.
    TestSupport::writeFile(path("noeol.zyt3d"),
                           "From 0.0 1.0\nLength 2\n" + QByteArray("0.5 0.5 0.5\n").repeated(7) + "0.5 0.5 0.5");
    Read_LUTFile complete;
    QVERIFY(readFile(complete, path("noeol.zyt3d"), kZyt3D));
}

void TestFormatPandoraSpi3DZyt3D::badInputFailsCleanly_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("text");
    for (int format : {kPandora, kSpi3D, kZyt3D}) {
        const QByteArray name = LutFormats::byId(format)->name;
        QTest::newRow(name + " empty") << format << QByteArray();
        QTest::newRow(name + " binary junk") << format << kBinaryJunk;
        QTest::newRow(name + " one long line") << format << QByteArray(3 << 20, '7');
        QTest::newRow(name + " garbage lines") << format << QByteArray("lorem ipsum\n\x01\x02\x03\n%d %f\n").repeated(50);
    }
    // Truncated in the header and in the data.
    const QByteArray pandora = pandoraHeader("in 8", "out 1") + pandoraData();
    QTest::newRow("pandora cut in header") << kPandora << pandora.left(40);
    QTest::newRow("pandora cut in data") << kPandora << pandora.left(pandora.size() - 60);
    QTest::newRow("pandora huge cube") << kPandora << pandoraHeader("in 2000000000", "out 1");
    QTest::newRow("spi3d cut in header") << kSpi3D << QByteArray("SPILUT 1.0\n3");
    QTest::newRow("spi3d cut in data") << kSpi3D << QByteArray("SPILUT 1.0\n3 3\n2 2 2\n" + spi3dData().left(50));
    QTest::newRow("spi3d huge cube") << kSpi3D << QByteArray("SPILUT 1.0\n3 3\n2147483647 2147483647 2147483647\n");
    QTest::newRow("zyt3d cut in header") << kZyt3D << QByteArray("From 0.0 1.0\nLeng");
    QTest::newRow("zyt3d cut in data") << kZyt3D << QByteArray("From 0.0 1.0\nLength 17\n0.1 0.1 0.1\n");
    QTest::newRow("zyt3d huge cube") << kZyt3D << QByteArray("From 0.0 1.0\nLength 2147483647\n");
}

void TestFormatPandoraSpi3DZyt3D::badInputFailsCleanly()
{
    QFETCH(int, format);
    QFETCH(QByteArray, text);
    TestSupport::writeFile(path("bad.lut"), text);
    Read_LUTFile lut;
    QVERIFY(!readFile(lut, path("bad.lut"), format));
    QVERIFY(!lut.errorString.isEmpty());
    QVERIFY(!lut.errorString.contains(QLatin1Char('\n')));

    Read_LUTFile missing;
    QVERIFY(!readFile(missing, path("does-not-exist"), format));
}

// The command line finds each format by its extension, both ways.
void TestFormatPandoraSpi3DZyt3D::convertsByExtension()
{
    Read_LUTFile source;
    fillCube(source, 9);
    QVERIFY(writeFile(source, path("cli.cube"), 0, 1, false, true, false));
    QString previous = path("cli.cube");
    for (const char *extension : {"mga", "m3d", "spi3d", "zyt3d"}) {
        const QString next = path(QStringLiteral("cli-out.") + QLatin1String(extension));
        const TestSupport::ProcessResult r = TestSupport::runConvert({previous, next});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        previous = next;
    }
    Read_LUTFile back;
    QVERIFY(readFile(back, previous, kZyt3D));
    QVERIFY(maxDifference(source, back) <= 1.1e-6f);

    const QString bad = path("cli-bad.spi3d");
    TestSupport::writeFile(bad, "SPILUT 1.0\n3 3\n4 4 5\n");
    const TestSupport::ProcessResult r = TestSupport::runConvert({bad, path("cli-bad.cube")});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err.count('\n'), 1);
}

void TestFormatPandoraSpi3DZyt3D::ocioReadsWhatWeWrite_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("scale");
    QTest::addColumn<float>("tolerance");
    // OpenColorIO reads Pandora data only as integer codes, so the Pandora
    // files are written with the 12-bit scale (one code value of tolerance);
    // the normalised form ("out 1" with reals) is refused by it.
    QTest::newRow("mga") << "ocio.mga" << kPandora << 4095 << 1.0f / 4095.0f + 1e-6f;
    QTest::newRow("m3d") << "ocio.m3d" << kPandora << 4095 << 1.0f / 4095.0f + 1e-6f;
    QTest::newRow("spi3d") << "ocio.spi3d" << kSpi3D << 1 << 1.5e-6f;
}

void TestFormatPandoraSpi3DZyt3D::ocioReadsWhatWeWrite()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(int, scale);
    QFETCH(float, tolerance);
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is needed for this test");

    Read_LUTFile source;
    fillCube(source, 9);
    QVERIFY(writeFile(source, path(name), format, scale));
    QString error;
    const QString baked = path(name + QStringLiteral(".cube"));
    QVERIFY2(TestSupport::ociobake(path(name), QStringLiteral("iridas_cube"), 9, baked, &error), qPrintable(error));
    const float difference =
        maxDifferenceFromBake(source, TestSupport::parseCubeText(baked), [](float v) { return v; });
    QVERIFY2(difference <= tolerance, qPrintable(QString::number(double(difference))));
}

// The corpus spi3d files, one in lattice order and one shuffled, read to
// the table OpenColorIO gives for them. This reader clamps every value to
// the 0..1 domain of the format (a spi3d file has no range of its own),
// while OpenColorIO keeps values outside it, so the comparison clamps the
// baked values.
void TestFormatPandoraSpi3DZyt3D::spi3dCorpusMatchesOcio()
{
    const QString dir = TestSupport::corpusDir() + QStringLiteral("/colour-science/sony_spi3d");
    if (TestSupport::corpusDir().isEmpty() || !QDir(dir).exists())
        QSKIP("the LUT corpus is not available");
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is needed for this test");

    const QStringList files = QDir(dir).entryList({QStringLiteral("*.spi3d")}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString &name : files) {
        const QString file = dir + QLatin1Char('/') + name;
        Read_LUTFile lut;
        QVERIFY2(readFile(lut, file, kSpi3D), qPrintable(name + QStringLiteral(": ") + lut.errorString));
        QString error;
        const QString baked = path(name + QStringLiteral(".cube"));
        QVERIFY2(TestSupport::ociobake(file, QStringLiteral("iridas_cube"), lut.size3D, baked, &error),
                 qPrintable(error));
        const float difference = maxDifferenceFromBake(lut, TestSupport::parseCubeText(baked),
                                                       [](float v) { return std::min(1.0f, std::max(0.0f, v)); });
        QVERIFY2(difference <= 1.0e-6f, qPrintable(name + QStringLiteral(": ") + QString::number(double(difference))));
    }
}

QTEST_GUILESS_MAIN(TestFormatPandoraSpi3DZyt3D)
#include "test_format_pandora_spi3d_zyt3d.moc"
