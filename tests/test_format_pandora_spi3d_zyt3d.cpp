// The Pandora (.mga/.m3d), spi3d and zyt3d formats: round trips through
// their own writers, the exact text written, each reader's header and data
// rules, bad input, and OpenColorIO as an independent reader.

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

// Channels that differ from each other and from the identity, so that a
// swapped axis or channel shows.
void fillCube(Read_LUTFile &lut, int n)
{
    QVERIFY(lut.setSize3D(n, false));
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            for (int c = 0; c < n; ++c) {
                const float x = float(a) / (n - 1), y = float(b) / (n - 1), z = float(c) / (n - 1);
                float *e = lut.table3D[a][b][c];
                e[0] = 0.05f + 0.9f * x * x;
                e[1] = 0.5f * y + 0.3f * z * x;
                e[2] = std::sqrt(z) * 0.8f + 0.1f * y;
            }
}

LutFileOptions options(const QString &path, int format, bool defaultOrder = true, bool dataRGB = true,
                       bool tableRGB = true, int scale = 1)
{
    LutFileOptions o;
    o.path = path;
    o.format = format;
    o.defaultOrder = defaultOrder;
    o.dataOrderRGB = dataRGB;
    o.tableOrderRGB = tableRGB;
    o.outputScale = scale;
    return o;
}

bool readAs(Read_LUTFile &lut, const QString &path, int format)
{
    LutFileOptions o = options(path, format);
    return lut.readLut(o, false);
}

bool writeAs(Read_LUTFile &lut, const QString &path, int format, int scale = 1)
{
    LutFileOptions o = options(path, format, true, true, true, scale);
    return Write_LUTFile().writeLut(o, &lut);
}

// Largest difference between a cube and reference values; ref(a, b, c, k)
// gives the value expected at table3D[a][b][c][k].
template <typename Ref>
float maxDifference(const Read_LUTFile &lut, int n, Ref ref)
{
    if (lut.size3D != n || lut.table3D.size() != n)
        return INFINITY;
    float worst = 0.0f;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            for (int c = 0; c < n; ++c)
                for (int k = 0; k < 3; ++k)
                    worst = std::max(worst, std::fabs(lut.table3D[a][b][c][k] - ref(a, b, c, k)));
    return worst;
}

// The same against an OpenColorIO bake to iridas_cube, where red varies
// fastest: line r + g*N + b*N*N holds table3D[r][g][b]. Values are clamped
// to 0..1 first when clamp is set.
float maxDifferenceFromBake(const Read_LUTFile &lut, const QString &bakedCube, bool clamp)
{
    const TestSupport::CubeText baked = TestSupport::parseCubeText(bakedCube);
    const int n = lut.size3D;
    if (baked.size != n || baked.values.size() != size_t(3) * n * n * n)
        return INFINITY;
    return maxDifference(lut, n, [&](int r, int g, int b, int k) {
        const float v = baked.values[3 * (size_t(r) + size_t(g) * n + size_t(b) * n * n) + k];
        return clamp ? std::min(1.0f, std::max(0.0f, v)) : v;
    });
}

QByteArray pandoraFile(const QByteArray &in, const QByteArray &out, int lines = 8)
{
    QByteArray text = "#HEADER\n#END\n\nchannel 3d\n" + in + "\n" + out + "\n\nformat lut\n\nvalues\tred\tgreen\tblue\n";
    for (int e = 0; e < lines; ++e) // entry e holds (e, 2e, 3e) / 100
        text += QByteArray::number(e) + "\t" + QByteArray::number(e / 100.0) + "\t"
            + QByteArray::number(2 * e / 100.0) + "\t" + QByteArray::number(3 * e / 100.0) + "\n";
    return text;
}

QByteArray spi3dLine(int i, int j, int k, double r, double g, double b)
{
    return QByteArray::number(i) + " " + QByteArray::number(j) + " " + QByteArray::number(k) + " "
        + QByteArray::number(r) + " " + QByteArray::number(g) + " " + QByteArray::number(b) + "\n";
}

// The eight points of a 2-point cube; point (i, j, k) holds (i, j, k) / 4 + 0.1.
QByteArray spi3dPoints(int count = 8)
{
    QByteArray text;
    for (int e = 0; e < count; ++e)
        text += spi3dLine(e >> 2, (e >> 1) & 1, e & 1, (e >> 2) / 4.0 + 0.1, ((e >> 1) & 1) / 4.0 + 0.1,
                          (e & 1) / 4.0 + 0.1);
    return text;
}

const QByteArray kZytPoints = QByteArray("0.5 0.5 0.5\n").repeated(8);

} // namespace

class TestFormatPandoraSpi3DZyt3D : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void roundTripsThroughOwnWriter_data();
    void roundTripsThroughOwnWriter();
    void writtenText();
    void headersAndBadInput_data();
    void headersAndBadInput();
    void pandoraData();
    void spi3dData();
    void zyt3dData();
    void ocioReadsWhatWeWrite_data();
    void ocioReadsWhatWeWrite();
    void spi3dCorpusMatchesOcio();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestFormatPandoraSpi3DZyt3D::roundTripsThroughOwnWriter_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("defaultOrder");
    QTest::addColumn<bool>("dataRGB");
    QTest::addColumn<bool>("tableRGB");
    QTest::newRow("mga 33") << kPandora << 33 << true << false << false;
    QTest::newRow("mga BGR/BGR") << kPandora << 5 << false << false << false;
    QTest::newRow("spi3d 33") << kSpi3D << 33 << true << true << false;
    QTest::newRow("spi3d RGB/BGR") << kSpi3D << 5 << false << true << false;
    QTest::newRow("zyt3d 33") << kZyt3D << 33 << true << false << true;
    QTest::newRow("zyt3d BGR/RGB") << kZyt3D << 5 << false << false << true;
}

// Written and read with the same orders (the format's own under "Default
// Order", whatever the two flags say), a cube comes back as it was.
void TestFormatPandoraSpi3DZyt3D::roundTripsThroughOwnWriter()
{
    QFETCH(int, format);
    QFETCH(int, size);
    QFETCH(bool, defaultOrder);
    QFETCH(bool, dataRGB);
    QFETCH(bool, tableRGB);
    const QString file = path(QStringLiteral("rt.") + LutFormats::byId(format)->name);
    Read_LUTFile source;
    fillCube(source, size);
    LutFileOptions out = options(file, format, defaultOrder, dataRGB, tableRGB);
    QVERIFY(Write_LUTFile().writeLut(out, &source));

    Read_LUTFile back;
    LutFileOptions in = options(file, format, defaultOrder, dataRGB, tableRGB);
    QVERIFY2(back.readLut(in, false), qPrintable(back.errorString));
    QVERIFY(maxDifference(back, size, [&](int a, int b, int c, int k) { return source.table3D[a][b][c][k]; })
            <= 5.1e-7f);
    QCOMPARE(back.domainMax3D[2], 1.0f);
}

void TestFormatPandoraSpi3DZyt3D::writtenText()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    lut.table3D[0][0][1][2] = 0.25f;
    lut.table3D[1][0][0][0] = 0.5f;
    lut.table3D[1][1][1][0] = 1.0f;
    lut.table3D[1][1][1][1] = 0.75f;
    const QByteArray body = "0.000000{0.000000{0.000000\n0.000000{0.000000{0.250000\n"
                            "0.000000{0.000000{0.000000\n0.000000{0.000000{0.000000\n"
                            "0.500000{0.000000{0.000000\n0.000000{0.000000{0.000000\n"
                            "0.000000{0.000000{0.000000\n1.000000{0.750000{0.000000\n";
    auto numbered = [&](const char *separator, bool indices) {
        QByteArray text;
        const QList<QByteArray> lines = QByteArray(body).replace("{", separator).split('\n');
        for (int e = 0; e < 8; ++e)
            text += (indices ? QByteArray::number(e >> 2) + " " + QByteArray::number((e >> 1) & 1) + " "
                                   + QByteArray::number(e & 1) + " "
                             : QByteArray::number(e) + "\t")
                + lines[e] + "\n";
        return text;
    };
    const QByteArray pandoraHeader = "#HEADER\n#type: 3D cube file\n#format: 1.00\n#created:\n#owner: ostavel\n"
                                     "#END\n\nchannel\t3d\nin 8\n";
    const QByteArray pandoraValues = "\n\nformat lut\n\nvalues\tred\tgreen\tblue\n";

    QVERIFY(writeAs(lut, path("text.mga"), kPandora));
    QCOMPARE(TestSupport::readFile(path("text.mga")), pandoraHeader + "out\t1" + pandoraValues + numbered("\t", false));
    QVERIFY(writeAs(lut, path("text.spi3d"), kSpi3D));
    QCOMPARE(TestSupport::readFile(path("text.spi3d")), "SPILUT 1.0\n3 3\n2 2 2\n" + numbered(" ", true));
    // zyt3d ignores the scale: its values are always normalised reals.
    QVERIFY(writeAs(lut, path("text.zyt3d"), kZyt3D, 4095));
    QCOMPARE(TestSupport::readFile(path("text.zyt3d")), "From 0.0 1.0\nLength 2\n" + QByteArray(body).replace("{", " "));

    // Pandora integer codes: the range is the scale plus one, and every
    // code is followed by the separator. They read back to the codes / 4095.
    QVERIFY(writeAs(lut, path("text12.mga"), kPandora, 4095));
    const QByteArray codes = TestSupport::readFile(path("text12.mga"));
    QVERIFY(codes.startsWith(pandoraHeader + "out 4096" + pandoraValues + "0\t0\t0\t0\t\n1\t0\t0\t1023\t\n"));
    QVERIFY(codes.endsWith("\n4\t2047\t0\t0\t\n5\t0\t0\t0\t\n6\t0\t0\t0\t\n7\t4095\t3071\t0\t\n"));
    Read_LUTFile back;
    QVERIFY(readAs(back, path("text12.mga"), kPandora));
    QCOMPARE(back.table3D[1][1][1][1], 3071.0f / 4095.0f);

    // An empty container gives the header alone.
    Read_LUTFile empty;
    QVERIFY(writeAs(empty, path("empty.spi3d"), kSpi3D) && writeAs(empty, path("empty.zyt3d"), kZyt3D));
    QCOMPARE(TestSupport::readFile(path("empty.spi3d")), QByteArray("SPILUT 1.0\n3 3\n0 0 0\n"));
    QCOMPARE(TestSupport::readFile(path("empty.zyt3d")), QByteArray("From 0.0 1.0\nLength 0\n"));
}

void TestFormatPandoraSpi3DZyt3D::headersAndBadInput_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("size"); // 0: the read must fail

    auto pandoraChannel = [](const char *channel) {
        return pandoraFile("in 8", "out 1").replace("channel 3d", channel);
    };
    QTest::newRow("pandora in 9: nearest cube root") << kPandora << pandoraFile("in 9", "out 1") << 2;
    QTest::newRow("pandora later in replaces") << kPandora << pandoraFile("in 27\nin 8", "out 1") << 2;
    QTest::newRow("pandora channel with tabs") << kPandora << pandoraChannel("channel\t 3d") << 2;
    QTest::newRow("pandora one point, no values") << kPandora << QByteArray("in 1\n0 0.5 0.5 0.5\n") << 1;
    QTest::newRow("pandora input: prefix match") << kPandora << pandoraFile("input 8", "out 1") << 0;
    QTest::newRow("pandora channel 1d") << kPandora << pandoraChannel("channel 1d") << 0;
    QTest::newRow("pandora in no count") << kPandora << pandoraFile("in", "out 1") << 0;
    QTest::newRow("pandora in 0") << kPandora << pandoraFile("in 0", "out 1") << 0;
    QTest::newRow("pandora in -8") << kPandora << pandoraFile("in -8", "out 1") << 0;
    QTest::newRow("pandora in too big") << kPandora << pandoraFile("in 99999999999999", "out 1") << 0;
    QTest::newRow("pandora in 2^63") << kPandora << pandoraFile("in 9223372036854775807", "out 1") << 0;
    QTest::newRow("pandora no in") << kPandora << pandoraFile("", "out 1") << 0;
    QTest::newRow("pandora out no range") << kPandora << pandoraFile("in 8", "out") << 0;
    QTest::newRow("pandora out 0") << kPandora << pandoraFile("in 8", "out 0") << 0;
    QTest::newRow("pandora out -4096") << kPandora << pandoraFile("in 8", "out -4096") << 0;
    QTest::newRow("pandora no values line") << kPandora << pandoraFile("in 8", "out 1").replace("values", "") << 0;
    QTest::newRow("pandora cut in header") << kPandora << pandoraFile("in 8", "out 1").left(40) << 0;
    QTest::newRow("pandora two entries missing") << kPandora << pandoraFile("in 8", "out 1", 6) << 0;

    const QByteArray points = spi3dPoints();
    QTest::newRow("spi3d text before SPILUT") << kSpi3D << "# by hand\nnot 1 2 3\n\nSPILUT 1.0\n3 3\n2 2 2\n" + points << 2;
    QTest::newRow("spi3d wordy header lines") << kSpi3D << "SPILUT 1.0\n\nchannels\n3 3\nsize\n2 2 2\n" + points << 2;
    QTest::newRow("spi3d channels 3 1") << kSpi3D << "SPILUT 1.0\n3 1\n2 2 2\n" + points << 0;
    QTest::newRow("spi3d one channel count") << kSpi3D << "SPILUT 1.0\n3\n2 2 2\n" + points << 0;
    QTest::newRow("spi3d two sizes") << kSpi3D << "SPILUT 1.0\n3 3\n2 2\n" + points << 0;
    QTest::newRow("spi3d unequal sizes") << kSpi3D << "SPILUT 1.0\n3 3\n2 2 3\n" + points << 0;
    QTest::newRow("spi3d size 0") << kSpi3D << QByteArray("SPILUT 1.0\n3 3\n0 0 0\n") << 0;
    QTest::newRow("spi3d size -2") << kSpi3D << "SPILUT 1.0\n3 3\n-2 -2 -2\n" + points << 0;
    QTest::newRow("spi3d size too big") << kSpi3D << "SPILUT 1.0\n3 3\n2147483647 2147483647 2147483647\n" + points << 0;
    QTest::newRow("spi3d lowercase spilut") << kSpi3D << "spilut 1.0\n3 3\n2 2 2\n" + points << 0;
    QTest::newRow("spi3d cut after channels") << kSpi3D << QByteArray("SPILUT 1.0\n3 3\n") << 0;
    // Lines may come in any order, so only a point never given shows a cut.
    QTest::newRow("spi3d two points missing") << kSpi3D << "SPILUT 1.0\n3 3\n2 2 2\n" + spi3dPoints(6) << 0;

    QTest::newRow("zyt3d no From") << kZyt3D << "junk\n\nLength 2\n" + kZytPoints << 2;
    QTest::newRow("zyt3d From one number") << kZyt3D << "From 4\nLength 2\n" + kZytPoints << 2;
    QTest::newRow("zyt3d no Length") << kZyt3D << "From 0.0 1.0\n" + kZytPoints << 0;
    QTest::newRow("zyt3d Length no number") << kZyt3D << "From 0.0 1.0\nLength\n" + kZytPoints << 0;
    QTest::newRow("zyt3d Length 0") << kZyt3D << QByteArray("From 0.0 1.0\nLength 0\n") << 0;
    QTest::newRow("zyt3d Length -2") << kZyt3D << "From 0.0 1.0\nLength -2\n" + kZytPoints << 0;
    QTest::newRow("zyt3d Length too big") << kZyt3D << "From 0.0 1.0\nLength 2147483647\n" + kZytPoints << 0;
    QTest::newRow("zyt3d empty From range") << kZyt3D << "From 1.0 1.0\nLength 2\n" + kZytPoints << 0;
    QTest::newRow("zyt3d reversed From range") << kZyt3D << "From 1.0 0.0\nLength 2\n" + kZytPoints << 0;
    // A file cut before its last point fails rather than passing zeros off as data.
    QTest::newRow("zyt3d one point missing") << kZyt3D << "Length 2\n" + kZytPoints.left(kZytPoints.size() - 12) << 0;
    QTest::newRow("zyt3d last line without line end") << kZyt3D << "Length 2\n" + kZytPoints.chopped(1) << 2;

    const QByteArray junk = QByteArray::fromHex("00ff13e7c0de7f454c4602010100") + QByteArray(3000, '\xfe')
        + QByteArray("\0in 8\0\n\x01", 8);
    for (int format : {kPandora, kSpi3D, kZyt3D}) {
        const QByteArray name = LutFormats::byId(format)->name;
        QTest::newRow(name + " empty") << format << QByteArray() << 0;
        QTest::newRow(name + " binary junk") << format << junk << 0;
        QTest::newRow(name + " one 3 MB line") << format << QByteArray(3 << 20, '7') << 0;
        QTest::newRow(name + " garbage") << format << QByteArray("lorem ipsum\n\x01\x02\n%d %f\n").repeated(50) << 0;
    }
}

// Header rules and bad input: a failure is a clean false with a one-line
// reason and no table.
void TestFormatPandoraSpi3DZyt3D::headersAndBadInput()
{
    QFETCH(int, format);
    QFETCH(QByteArray, text);
    QFETCH(int, size);
    TestSupport::writeFile(path("header.lut"), text);
    Read_LUTFile lut;
    const bool ok = readAs(lut, path("header.lut"), format);
    QCOMPARE(ok, size > 0);
    if (ok) {
        QCOMPARE(lut.size3D, size);
        QCOMPARE(lut.table3D.size(), size);
    } else {
        QVERIFY(!lut.errorString.isEmpty() && !lut.errorString.contains(QLatin1Char('\n')));
    }
}

void TestFormatPandoraSpi3DZyt3D::pandoraData()
{
    // Lines of three or five fields, comments and blank lines are not
    // entries; the entry number is not checked; a line whose channels do not
    // scan keeps the previous line's values for them.
    TestSupport::writeFile(path("data.mga"), pandoraFile("in 8", "out 1", 0)
                               + "0 0.1 0.2 0.3\n\n# comment\n1 0.9 0.9\n1 0.9 0.9 0.9 0.9\n77 0.4 0.5 0.6\n"
                                 "2 x 0.7 0.8\n3 0.11 0.12 0.13\n4 0 0 0\n5 0 0 0\n6 0 0 0\n7 0.2 0.3 0.4\n");
    Read_LUTFile lut;
    QVERIFY2(readAs(lut, path("data.mga"), kPandora), qPrintable(lut.errorString));
    QCOMPARE(lut.table3D[0][0][1][0], 0.4f);
    QCOMPARE(lut.table3D[0][1][0][2], 0.6f);
    QCOMPARE(lut.table3D[0][1][1][1], 0.12f);
    QCOMPARE(lut.table3D[1][1][1][2], 0.4f);

    // 12-bit codes against "out 4096" (divided by 4095, clamped at the top),
    // in a 17-point cube; the domain is normalised afterwards.
    QByteArray codes = pandoraFile("in 4913", "out 4096", 0);
    for (int e = 0; e < 4913; ++e)
        codes += QByteArray::number(e) + " " + QByteArray::number(e % 4096) + " 4095 " + (e == 5 ? "5000\n" : "0\n");
    TestSupport::writeFile(path("codes.m3d"), codes);
    Read_LUTFile coded;
    QVERIFY2(readAs(coded, path("codes.m3d"), kPandora), qPrintable(coded.errorString));
    QCOMPARE(coded.table3D[0][0][3][0], 3.0f / 4095.0f);
    QCOMPARE(coded.table3D[0][0][5][2], 1.0f);
    QCOMPARE(coded.table3D[16][16][16][0], float(4912 % 4096) / 4095.0f);
    QCOMPARE(coded.domainMax3D[0], 1.0f);

    // The data of a two-"in" file lands in the later cube; only the very
    // last entry missing still reads, that entry staying 0.
    TestSupport::writeFile(path("short.mga"), pandoraFile("in 27\nin 8", "", 7));
    Read_LUTFile shortFile;
    QVERIFY(readAs(shortFile, path("short.mga"), kPandora));
    QCOMPARE(shortFile.table3D[1][1][0][2], 0.18f);
    QCOMPARE(shortFile.table3D[1][1][1][2], 0.0f);
}

void TestFormatPandoraSpi3DZyt3D::spi3dData()
{
    // Backwards, a point given twice (the later line wins), values outside
    // 0..1 (clamped), and lines that touch nothing: indices outside 0..N-1,
    // fewer than six numbers, no number at all.
    QByteArray text = "SPILUT 1.0\n3 3\n2 2 2\n";
    for (int e = 7; e >= 0; --e)
        text += spi3dPoints(e + 1).mid(spi3dPoints(e).size());
    text += spi3dLine(1, 0, 1, 0.9, 1.5, -0.5) + spi3dLine(2, 0, 0, 0.9, 0.9, 0.9) + spi3dLine(0, -1, 0, 0.9, 0.9, 0.9)
        + spi3dLine(0, 0, 2, 0.9, 0.9, 0.9) + "1 1 4000000000 0.9 0.9 0.9\n" + spi3dLine(-2147483647, 0, 0, 1, 1, 1)
        + "1 1 1 0.9\n0 0 0\ngarbage\n";
    TestSupport::writeFile(path("data.spi3d"), text);
    Read_LUTFile lut;
    QVERIFY2(readAs(lut, path("data.spi3d"), kSpi3D), qPrintable(lut.errorString));
    QVERIFY(maxDifference(lut, 2, [](int i, int j, int k, int ch) {
                if (i == 1 && j == 0 && k == 1)
                    return ch == 0 ? 0.9f : ch == 1 ? 1.0f : 0.0f;
                return float((ch == 0 ? i : ch == 1 ? j : k) / 4.0 + 0.1);
            }) == 0.0f);

    // A point given only by an out-of-range line is still missing.
    TestSupport::writeFile(path("missing.spi3d"),
                           "SPILUT 1.0\n3 3\n2 2 2\n" + spi3dPoints(7) + spi3dLine(1, 1, 2, 0, 0, 0));
    Read_LUTFile missing;
    QVERIFY(!readAs(missing, path("missing.spi3d"), kSpi3D));
    QVERIFY(missing.errorString.contains(QLatin1String("1 of the 8")));
}

void TestFormatPandoraSpi3DZyt3D::zyt3dData()
{
    // Lines are points by position: the blank line is point 2 and stays 0,
    // "x" does not scan and leaves point 4 at 0, a short line keeps the
    // previous values for its missing channels, and lines after the last
    // point are not read. The From range normalises and clamps.
    TestSupport::writeFile(path("data.zyt3d"), "From 0 1023\nLength 2\n102.3 204.6 306.9\n2000 -5 1023\n\n"
                                               "511.5 0 0\nx\n10 20\n1 1 1\n1023 512 0\n9 9 9\n");
    Read_LUTFile lut;
    QVERIFY2(readAs(lut, path("data.zyt3d"), kZyt3D), qPrintable(lut.errorString));
    const float expected[8][3] = {{0.1f, 0.2f, 0.3f}, {1, 0, 1}, {0, 0, 0}, {0.5f, 0, 0},
                                  {0, 0, 0}, {10 / 1023.f, 20 / 1023.f, 0}, {1 / 1023.f, 1 / 1023.f, 1 / 1023.f},
                                  {1, 512 / 1023.f, 0}};
    QVERIFY(maxDifference(lut, 2, [&](int a, int b, int c, int k) { return expected[4 * a + 2 * b + c][k]; })
            <= 1e-7f);
    QCOMPARE(lut.domainMax3D[0], 1.0f);
}

void TestFormatPandoraSpi3DZyt3D::ocioReadsWhatWeWrite_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("scale");
    QTest::addColumn<float>("tolerance");
    // OpenColorIO reads Pandora data only as integer codes and refuses the
    // normalised form ("out 1" with reals), so the Pandora files are written
    // with the 12-bit scale: one code value of tolerance.
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
    QVERIFY(writeAs(source, path(name), format, scale));
    QString error;
    const QString baked = path(name + QStringLiteral(".cube"));
    QVERIFY2(TestSupport::ociobake(path(name), QStringLiteral("iridas_cube"), 9, baked, &error), qPrintable(error));
    const float difference = maxDifferenceFromBake(source, baked, false);
    QVERIFY2(difference <= tolerance, qPrintable(QString::number(double(difference))));
}

// The corpus spi3d files, one in lattice order and one shuffled, read to
// the table OpenColorIO gives for them, except that this reader clamps
// every value to the 0..1 domain (a spi3d file gives no range of its own)
// where OpenColorIO keeps values outside it: the baked values are clamped
// for the comparison.
void TestFormatPandoraSpi3DZyt3D::spi3dCorpusMatchesOcio()
{
    const QString dir = TestSupport::corpusDir() + QStringLiteral("/colour-science/sony_spi3d");
    if (TestSupport::corpusDir().isEmpty() || !QDir(dir).exists())
        QSKIP("the LUT corpus is not available");
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is needed for this test");
    const QStringList files = QDir(dir).entryList({QStringLiteral("*.spi3d")}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString &name : files) {
        Read_LUTFile lut;
        QVERIFY2(readAs(lut, dir + QLatin1Char('/') + name, kSpi3D), qPrintable(name + ": " + lut.errorString));
        QString error;
        const QString baked = path(name + QStringLiteral(".cube"));
        QVERIFY2(TestSupport::ociobake(dir + QLatin1Char('/') + name, QStringLiteral("iridas_cube"), lut.size3D, baked,
                                       &error),
                 qPrintable(error));
        const float difference = maxDifferenceFromBake(lut, baked, true);
        QVERIFY2(difference <= 1.0e-6f, qPrintable(name + ": " + QString::number(double(difference))));
    }
}

QTEST_GUILESS_MAIN(TestFormatPandoraSpi3DZyt3D)
#include "test_format_pandora_spi3d_zyt3d.moc"
