// The itx and davLut readers and writers and the 3dl reader, on their own,
// against files baked by OpenColorIO, and once through chromaduct-convert.

#include "TestSupport.h"

#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kThreeDl = 3;
constexpr int kDavLut = 8;
constexpr int kItx = 11;

QString extensionFor(int format)
{
    return format == kThreeDl ? QStringLiteral("3dl") : format == kDavLut ? QStringLiteral("davlut")
                                                                           : QStringLiteral("itx");
}

// A table whose every channel of every entry differs, so a swapped index or
// channel shows: entry [a][b][c] = (a + 2b + 4c, 1 + a + b + c, 3a + c) / 64,
// all exact at six decimals.
void fillPattern(Read_LUTFile &lut, int n)
{
    QVERIFY(lut.setSize3D(n, false));
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            for (int c = 0; c < n; ++c) {
                float *e = lut.table3D[a][b][c];
                e[0] = float(a + 2 * b + 4 * c) / 64.0f;
                e[1] = float(1 + a + b + c) / 64.0f;
                e[2] = float(3 * a + c) / 64.0f;
            }
}

float clamp01(float v)
{
    return std::min(1.0f, std::max(0.0f, v));
}

} // namespace

class TestFormatsItxDavLut3dl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void writersExactText();
    void roundTripWithDefaultOrder();
    void sizeLinesAndSkippedText();
    void shortAndMissingEntries();
    void headerOnlyAllocatesNothing();
    void sizeLineFailures();

    void threeDlMeshGivesSizeAndDepth();
    void threeDlDepthFromLargestValue_data();
    void threeDlDepthFromLargestValue();
    void threeDlLineKinds();
    void threeDlMeshLines();
    void threeDlMissingEntries();
    void threeDlFailures();

    void binaryJunkAndTruncationFailCleanly();

    void peerItxReadsToOcioValues();
    void peer3dlReadsToOcioValues();
    void peerReadsOurItx();
    void commandLineByNameAndExtension();

private:
    QString path(int format);
    bool read(int format, const QByteArray &text, Read_LUTFile &lut, bool headerOnly = false);
    QTemporaryDir m_dir;
    int m_count = 0;
};

void TestFormatsItxDavLut3dl::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestFormatsItxDavLut3dl::path(int format)
{
    return m_dir.filePath(QStringLiteral("f%1.%2").arg(++m_count).arg(extensionFor(format)));
}

bool TestFormatsItxDavLut3dl::read(int format, const QByteArray &text, Read_LUTFile &lut, bool headerOnly)
{
    LutFileOptions options;
    options.path = TestSupport::writeFile(path(format), text);
    options.format = format;
    options.defaultOrder = true;
    return lut.readLut(options, headerOnly);
}

void TestFormatsItxDavLut3dl::writersExactText()
{
    // Entry [a][b][c] = (a/2, b/4, c/8): each channel tells its index.
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            for (int c = 0; c < 2; ++c) {
                lut.table3D[a][b][c][0] = a / 2.0f;
                lut.table3D[a][b][c][1] = b / 4.0f;
                lut.table3D[a][b][c][2] = c / 8.0f;
            }

    LutFileOptions options;
    options.defaultOrder = true;
    options.dataOrderRGB = false; // overridden by each format's own order
    options.tableOrderRGB = false;
    options.outputScale = 1;

    // itx: red (the first table index) varies fastest.
    options.format = kItx;
    options.path = path(kItx);
    Write_LUTFile itx;
    QVERIFY(itx.writeLut(options, &lut));
    QCOMPARE(TestSupport::readFile(options.path),
             QByteArray("LUT_3D_SIZE 2\n"
                        "0.000000 0.000000 0.000000\n"
                        "0.500000 0.000000 0.000000\n"
                        "0.000000 0.250000 0.000000\n"
                        "0.500000 0.250000 0.000000\n"
                        "0.000000 0.000000 0.125000\n"
                        "0.500000 0.000000 0.125000\n"
                        "0.000000 0.250000 0.125000\n"
                        "0.500000 0.250000 0.125000\n"));

    // davLut: an author line, an empty line, then blue varies fastest.
    options.format = kDavLut;
    options.path = path(kDavLut);
    Write_LUTFile dav;
    QVERIFY(dav.writeLut(options, &lut));
    QCOMPARE(TestSupport::readFile(options.path),
             QByteArray("# Authors: ostavel\n"
                        "\n"
                        "3DLUTSIZE 2\n"
                        "0.000000 0.000000 0.000000\n"
                        "0.000000 0.000000 0.125000\n"
                        "0.000000 0.250000 0.000000\n"
                        "0.000000 0.250000 0.125000\n"
                        "0.500000 0.000000 0.000000\n"
                        "0.500000 0.000000 0.125000\n"
                        "0.500000 0.250000 0.000000\n"
                        "0.500000 0.250000 0.125000\n"));

    // Integer form with an output scale, and the order flags when the
    // default order is off (blue-green-red channels, blue fastest).
    options.defaultOrder = false;
    options.outputScale = 1024;
    options.format = kItx;
    options.path = path(kItx);
    Write_LUTFile scaled;
    QVERIFY(scaled.writeLut(options, &lut));
    const QList<QByteArray> lines = TestSupport::readFile(options.path).split('\n');
    QCOMPARE(lines.value(0), QByteArray("LUT_3D_SIZE 2"));
    QCOMPARE(lines.value(2), QByteArray("0 0 512 "));   // table[1][0][0] reversed
    QCOMPARE(lines.value(8), QByteArray("128 256 512 ")); // table[1][1][1]
}

void TestFormatsItxDavLut3dl::roundTripWithDefaultOrder()
{
    for (const int format : {kItx, kDavLut}) {
        Read_LUTFile source;
        fillPattern(source, 5);
        LutFileOptions out;
        out.path = path(format);
        out.format = format;
        out.defaultOrder = true;
        out.outputScale = 1;
        Write_LUTFile writer;
        QVERIFY(writer.writeLut(out, &source));

        LutFileOptions in;
        in.path = out.path;
        in.format = format;
        in.defaultOrder = true;
        Read_LUTFile back;
        QVERIFY2(back.readLut(in, false), qPrintable(back.errorString));
        QCOMPARE(back.size3D, 5);
        QCOMPARE(std::memcmp(back.table3D.data(), source.table3D.data(), sizeof(float) * 3 * 125), 0);
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(back.domainMax3D[c], 1.0f);
            QCOMPARE(back.domainMin3D[c], 0.0f);
        }

        // Reading and writing back with the default order keeps the lines.
        LutFileOptions again = out;
        again.path = path(format);
        Write_LUTFile rewriter;
        QVERIFY(rewriter.writeLut(again, &back));
        QCOMPARE(TestSupport::readFile(again.path), TestSupport::readFile(out.path));
    }
}

void TestFormatsItxDavLut3dl::sizeLinesAndSkippedText()
{
    // Data-like lines before the size line are not data; comments and
    // blank lines between entries do not count; with and without a blank
    // after the keyword. The second data line shows the format's order.
    const QByteArray body = "0.1 0.2 0.3\n# note\n\n0.4 0.5 0.6\n" + QByteArray("1 1 1\n").repeated(6);
    struct Case {
        int format;
        QByteArray header;
    } cases[] = {
        {kItx, "TITLE x\n9 9 9\nLUT_3D_SIZE 2\n"},
        {kItx, "  LUT_3D_SIZE2  \n"},
        {kDavLut, "# Authors: someone\n\n7 7 7\n3DLUTSIZE 2\n"},
        {kDavLut, "3DLUTSIZE2\n"},
    };
    for (const Case &test : cases) {
        Read_LUTFile lut;
        QVERIFY2(read(test.format, test.header + body, lut), qPrintable(lut.errorString));
        QCOMPARE(lut.size3D, 2);
        QCOMPARE(lut.table3D[0][0][0][0], 0.1f);
        QCOMPARE(lut.table3D[0][0][0][2], 0.3f);
        // itx: red fastest, so line two is [1][0][0]; davLut: blue fastest, [0][0][1].
        const float *second = test.format == kItx ? lut.table3D[1][0][0] : lut.table3D[0][0][1];
        QCOMPARE(second[0], 0.4f);
        QCOMPARE(second[1], 0.5f);
        QCOMPARE(second[2], 0.6f);
        QCOMPARE(lut.table3D[1][1][1][1], 1.0f);
    }
}

void TestFormatsItxDavLut3dl::shortAndMissingEntries()
{
    for (const int format : {kItx, kDavLut}) {
        const QByteArray size = format == kItx ? "LUT_3D_SIZE 2\n" : "3DLUTSIZE 2\n";
        // A line with fewer numbers keeps the previous entry's other channels;
        // values beyond the domain are clamped; a line of words is skipped.
        Read_LUTFile shortLines;
        QVERIFY(read(format, size + "0.5 0.5 0.5\nnothing here\n0.1 0.2\n1.5 -2 0.25\n"
                                   + QByteArray("0 0 0\n").repeated(5),
                     shortLines));
        const float *second = format == kItx ? shortLines.table3D[1][0][0] : shortLines.table3D[0][0][1];
        QCOMPARE(second[0], 0.1f);
        QCOMPARE(second[1], 0.2f);
        QCOMPARE(second[2], 0.5f);
        const float *third = shortLines.table3D[0][1][0];
        QCOMPARE(third[0], 1.0f);
        QCOMPARE(third[1], 0.0f);
        QCOMPARE(third[2], 0.25f);

        // Only the last entry missing still succeeds; it stays 0.
        Read_LUTFile lastMissing;
        QVERIFY(read(format, size + QByteArray("0.5 0.5 0.5\n").repeated(7), lastMissing));
        QCOMPARE(lastMissing.table3D[1][1][1][0], 0.0f);
        QCOMPARE(lastMissing.table3D[1][1][0][0], 0.5f);
        for (int c = 0; c < 3; ++c)
            QCOMPARE(lastMissing.domainMax3D[c], 1.0f);

        Read_LUTFile twoMissing;
        QVERIFY(!read(format, size + QByteArray("0.5 0.5 0.5\n").repeated(6), twoMissing));
        QVERIFY(twoMissing.errorString.contains(QLatin1String("6 of 8")));
    }
}

void TestFormatsItxDavLut3dl::headerOnlyAllocatesNothing()
{
    Read_LUTFile itx;
    QVERIFY(read(kItx, "LUT_3D_SIZE 17\n", itx, true));
    QCOMPARE(itx.size3D, 17);
    QVERIFY(itx.table3D.isNull());

    Read_LUTFile dav;
    QVERIFY(read(kDavLut, "# Authors: ostavel\n\n3DLUTSIZE 33\n", dav, true));
    QCOMPARE(dav.size3D, 33);
    QVERIFY(dav.table3D.isNull());

    Read_LUTFile threeDl;
    QVERIFY(read(kThreeDl, "Mesh 4 12\n0 1 2\n", threeDl, true));
    QCOMPARE(threeDl.size3D, 17);
    QVERIFY(threeDl.table3D.isNull());
    QCOMPARE(threeDl.domainMax3D[0], 1.0f);
}

void TestFormatsItxDavLut3dl::sizeLineFailures()
{
    const QByteArray sizes[] = {"", " 0", " -3", " 257", " 2147483647", " 99999999999", " abc", "\t"};
    for (const int format : {kItx, kDavLut}) {
        const QByteArray keyword = format == kItx ? "LUT_3D_SIZE" : "3DLUTSIZE";
        for (const QByteArray &size : sizes) {
            Read_LUTFile lut;
            QVERIFY2(!read(format, keyword + size + "\n" + QByteArray("0 0 0\n").repeated(8), lut),
                     size.constData());
            QVERIFY(!lut.errorString.isEmpty());
            QVERIFY(lut.table3D.isNull());
        }
        // No size line at all, or the keyword in lower case.
        Read_LUTFile none;
        QVERIFY(!read(format, QByteArray("0 0 0\n").repeated(8), none));
        Read_LUTFile lower;
        QVERIFY(!read(format, keyword.toLower() + " 2\n" + QByteArray("0 0 0\n").repeated(8), lower));
        // A missing file.
        LutFileOptions options;
        options.path = m_dir.filePath(QStringLiteral("does-not-exist"));
        options.format = format;
        options.defaultOrder = true;
        Read_LUTFile missing;
        QVERIFY(!missing.readLut(options, false));
    }
    // Each size keyword belongs to its own format.
    Read_LUTFile crossed;
    QVERIFY(!read(kItx, "3DLUTSIZE 2\n" + QByteArray("0 0 0\n").repeated(8), crossed));
}

namespace {

// A 3dl body of n^3 lines of 12-bit codes: line k is the entry
// (k / n^2, k / n % n, k % n) and holds codes that tell the indices apart.
QByteArray twelveBitBody(int n, int *largest)
{
    QByteArray text;
    *largest = 0;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            for (int c = 0; c < n; ++c) {
                const int r = a * 4095 / (n - 1), g = b * 2000 / (n - 1), bl = (c * 37) % 4096;
                *largest = std::max({*largest, r, g, bl});
                text += QByteArray::number(r) + ' ' + QByteArray::number(g) + ' ' + QByteArray::number(bl) + '\n';
            }
    return text;
}

} // namespace

void TestFormatsItxDavLut3dl::threeDlMeshGivesSizeAndDepth()
{
    QByteArray shaper;
    for (int i = 0; i < 17; ++i)
        shaper += QByteArray::number(i * 64) + ' ';
    int largest = 0;
    const QByteArray body = twelveBitBody(17, &largest);

    for (const bool withMesh : {true, false}) {
        Read_LUTFile lut;
        const QByteArray text = (withMesh ? "3DMESH\nMesh 4 12\n" : "") + shaper.trimmed() + "\n" + body;
        QVERIFY2(read(kThreeDl, text, lut), qPrintable(lut.errorString));
        QCOMPARE(lut.size3D, 17);
        // With the mesh line the depth is 12 bits; without it the largest
        // value (4095) selects the same range.
        QCOMPARE(lut.table3D[16][0][0][0], 1.0f);
        QCOMPARE(lut.table3D[0][16][0][1], 2000.0f / 4095.0f);
        QCOMPARE(lut.table3D[0][0][5][2], 185.0f / 4095.0f);
        QCOMPARE(lut.table3D[8][3][1][0], float(8 * 4095 / 16) / 4095.0f);
        QCOMPARE(lut.table3D[8][3][1][1], float(3 * 2000 / 16) / 4095.0f);
        for (int c = 0; c < 3; ++c)
            QCOMPARE(lut.domainMax3D[c], 1.0f);
    }

    // The mesh line's depth wins over what the data would suggest.
    Read_LUTFile meshDepth;
    QVERIFY(read(kThreeDl, "Mesh 1 12\n" + QByteArray("1000 0 0\n").repeated(27), meshDepth));
    QCOMPARE(meshDepth.table3D[1][2][0][0], 1000.0f / 4095.0f);

    // A data line of three times 4095 becomes white.
    Read_LUTFile white;
    QVERIFY(read(kThreeDl, "Mesh 1 12\n" + QByteArray("4095 4095 4095\n").repeated(27), white));
    QCOMPARE(white.size3D, 3);
    QCOMPARE(white.table3D[2][2][2][1], 1.0f);
}

void TestFormatsItxDavLut3dl::threeDlDepthFromLargestValue_data()
{
    QTest::addColumn<QByteArray>("largest");
    QTest::addColumn<float>("range");
    QTest::newRow("1000 of 10 bits") << QByteArray("1000") << 1023.0f;
    QTest::newRow("1023 of 10 bits") << QByteArray("1023") << 1023.0f;
    QTest::newRow("2048 of 12 bits") << QByteArray("2048") << 4095.0f;
    QTest::newRow("40000 of 16 bits") << QByteArray("40000") << 65535.0f;
    QTest::newRow("beyond 16 bits") << QByteArray("70000") << 65535.0f;
    QTest::newRow("normalised, largest 1.0") << QByteArray("1.0") << 3.0f;
    QTest::newRow("4.5") << QByteArray("4.5") << 7.0f;
    QTest::newRow("all at most 0.1") << QByteArray("0.1") << 1.0f;
}

void TestFormatsItxDavLut3dl::threeDlDepthFromLargestValue()
{
    QFETCH(QByteArray, largest);
    QFETCH(float, range);
    // A two-field shaper line makes a 2-point cube; no mesh line.
    Read_LUTFile lut;
    QVERIFY(read(kThreeDl, "0 1023\n0.05 0 0\n" + QByteArray("0 0 0\n").repeated(6) + "0 0 " + largest + "\n",
                 lut));
    QCOMPARE(lut.size3D, 2);
    QCOMPARE(lut.table3D[0][0][0][0], 0.05f / range);
    QCOMPARE(lut.table3D[1][1][1][2], std::min(largest.toFloat(), range) / range);
    QCOMPARE(lut.domainMax3D[0], 1.0f);
}

void TestFormatsItxDavLut3dl::threeDlLineKinds()
{
    // Comments, blank lines, a one-field line, a gamma line and the lustre
    // trailer are no entries; a three-field line whose first field is not a
    // number is skipped in both passes (so its 9000 raises no range); one
    // whose later field does not scan keeps the previous line's value there.
    Read_LUTFile lut;
    QVERIFY2(read(kThreeDl,
                  "# made by hand\n3DMESH\n0 1023\n\n100 200 300\nx 9000 9000\n# between\n"
                  "400 y 600\nLUT8\n"
                  + QByteArray("0 0 0\n").repeated(5) + "1000 1000 1000\ngamma 1.0\n",
                  lut),
             qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, 2);
    QCOMPARE(lut.table3D[0][0][0][2], 300.0f / 1023.0f);
    // Default order: blue fastest, so the second entry is [0][0][1].
    QCOMPARE(lut.table3D[0][0][1][0], 400.0f / 1023.0f);
    QCOMPARE(lut.table3D[0][0][1][1], 200.0f / 1023.0f);
    QCOMPARE(lut.table3D[0][0][1][2], 300.0f / 1023.0f); // the scan stops at "y"
    QCOMPARE(lut.table3D[1][1][1][1], 1000.0f / 1023.0f);

    // A shaper line of three fields is taken for data: a 3-point cube needs
    // a mesh line.
    Read_LUTFile noMesh;
    QVERIFY(!read(kThreeDl, "0 512 1023\n" + QByteArray("1 1 1\n").repeated(27), noMesh));
    Read_LUTFile withMesh;
    QVERIFY(read(kThreeDl, "Mesh 1 10\n0 512 1023\n" + QByteArray("1023 0 0\n").repeated(27), withMesh));
    QCOMPARE(withMesh.size3D, 3);
    QCOMPARE(withMesh.table3D[0][0][0][0], 0.0f); // the shaper line is the first entry
    QCOMPARE(withMesh.table3D[0][0][1][0], 1.0f);

    // With the default order off, the flags place the entries.
    LutFileOptions options;
    options.path = TestSupport::writeFile(path(kThreeDl), "0 7\n1 2 3\n" + QByteArray("0 0 0\n").repeated(6) + "7 7 7\n");
    options.format = kThreeDl;
    options.defaultOrder = false;
    options.dataOrderRGB = false;
    options.tableOrderRGB = true;
    Read_LUTFile reversed;
    QVERIFY(reversed.readLut(options, false));
    QCOMPARE(reversed.table3D[0][0][0][0], 3.0f / 7.0f);
    QCOMPARE(reversed.table3D[0][0][0][2], 1.0f / 7.0f);
}

void TestFormatsItxDavLut3dl::threeDlMeshLines()
{
    // A mesh line with one number sets the size; the depth then comes from
    // the data as if there were no mesh line.
    Read_LUTFile oneNumber;
    QVERIFY(read(kThreeDl, "Mesh 1\n" + QByteArray("500 0 0\n").repeated(27), oneNumber));
    QCOMPARE(oneNumber.size3D, 3);
    QCOMPARE(oneNumber.table3D[1][1][1][0], 500.0f / 511.0f);

    // ... and when the data show no range either, the values are kept as
    // read instead of being divided by an empty range.
    Read_LUTFile empty;
    QVERIFY(read(kThreeDl, "Mesh 1\n" + QByteArray("0.05 0 0.1\n").repeated(27), empty));
    QCOMPARE(empty.table3D[2][0][1][0], 0.05f);
    QCOMPARE(empty.table3D[2][0][1][2], 0.1f);
    QVERIFY(!std::isnan(empty.table3D[0][0][0][1]));

    // A mesh line after the shaper line wins, and a second mesh line
    // replaces the table of the first.
    Read_LUTFile later;
    QVERIFY(read(kThreeDl, "0 10 20 30 40\nMesh 3 10\nMesh 1 10\n" + QByteArray("1023 1023 1023\n").repeated(27),
                 later));
    QCOMPARE(later.size3D, 3);
    QCOMPARE(later.table3D.size(), 3);
    QCOMPARE(later.table3D[2][2][2][0], 1.0f);

    // A mesh line before the shaper line: the shaper's count is ignored.
    Read_LUTFile first;
    QVERIFY(read(kThreeDl, "Mesh 1 12\n0 10 20 30 40\n" + QByteArray("4095 0 0\n").repeated(27), first));
    QCOMPARE(first.size3D, 3);
    QCOMPARE(first.table3D[0][0][1][0], 1.0f);
}

void TestFormatsItxDavLut3dl::threeDlMissingEntries()
{
    Read_LUTFile lastMissing;
    QVERIFY(read(kThreeDl, "Mesh 1 10\n" + QByteArray("1023 1023 1023\n").repeated(26), lastMissing));
    QCOMPARE(lastMissing.table3D[2][2][2][0], 0.0f);
    QCOMPARE(lastMissing.table3D[2][2][1][0], 1.0f);
    QCOMPARE(lastMissing.domainMax3D[0], 1.0f);

    Read_LUTFile twoMissing;
    QVERIFY(!read(kThreeDl, "Mesh 1 10\n" + QByteArray("1023 1023 1023\n").repeated(25), twoMissing));
    QVERIFY(twoMissing.errorString.contains(QLatin1String("25 of 27")));
    QCOMPARE(twoMissing.domainMax3D[0], 1.0f);

    // Data lines beyond the last entry are not stored, though the search
    // for the largest value sees them (5 selects the range 7).
    Read_LUTFile extra;
    QVERIFY(read(kThreeDl, "0 1\n" + QByteArray("1 1 1\n").repeated(8) + "bogus bogus bogus\n5 5 5\n", extra));
    QCOMPARE(extra.table3D[1][1][1][0], 1.0f / 7.0f);
}

void TestFormatsItxDavLut3dl::threeDlFailures()
{
    const QByteArray cases[] = {
        "Mesh\n0 1\n" + QByteArray("0 0 0\n").repeated(8),      // no numbers
        "Mesh4 12\n0 1\n" + QByteArray("0 0 0\n").repeated(8),  // no blank after Mesh
        "0 1\ngamma\n" + QByteArray("0 0 0\n").repeated(8),     // gamma without a number
        "0 1\ngamma x\n" + QByteArray("0 0 0\n").repeated(8),
        QByteArray("0 0 0\n").repeated(8),                      // neither mesh nor shaper
        "Mesh 9 12\n",                                          // 513 points: above the bound
        "Mesh 1000 12\n",
        "Mesh 2147483647 12\n",
        "Mesh 1 -4\n" + QByteArray("0 0 0\n").repeated(27),     // negative output depth
        "Mesh 1 4000\n" + QByteArray("0 0 0\n").repeated(27),
        QByteArray("1 ").repeated(300) + "\n",                  // a 300-field shaper line
        "",
    };
    int index = 0;
    for (const QByteArray &text : cases) {
        ++index;
        Read_LUTFile lut;
        QVERIFY2(!read(kThreeDl, text, lut), qPrintable(QStringLiteral("case %1").arg(index)));
        QVERIFY2(!lut.errorString.isEmpty(), qPrintable(QStringLiteral("case %1").arg(index)));
    }
}

void TestFormatsItxDavLut3dl::binaryJunkAndTruncationFailCleanly()
{
    QRandomGenerator random(7);
    const QByteArray prefixes[] = {"", "LUT_3D_SIZE 3\n", "3DLUTSIZE 3\n", "Mesh 1 10\n", "0 1\n"};
    for (const int format : {kItx, kDavLut, kThreeDl}) {
        for (int round = 0; round < 40; ++round) {
            QByteArray junk(random.bounded(1, 5000), '\0');
            for (char &ch : junk)
                ch = char(random.bounded(256));
            Read_LUTFile lut;
            const bool ok = read(format, prefixes[round % 5] + junk, lut);
            // Whatever it takes from junk, the table matches its size.
            if (ok)
                QCOMPARE(lut.table3D.size(), lut.size3D);
        }
    }

    // A file written by us and cut after any line reads only when at most
    // the last entry is gone; cut anywhere before the last two lines, never.
    for (const int format : {kItx, kDavLut}) {
        Read_LUTFile source;
        fillPattern(source, 3);
        LutFileOptions options;
        options.path = path(format);
        options.format = format;
        options.defaultOrder = true;
        options.outputScale = 1;
        Write_LUTFile writer;
        QVERIFY(writer.writeLut(options, &source));
        const QByteArray whole = TestSupport::readFile(options.path);
        const int lastLine = whole.lastIndexOf('\n', whole.size() - 2) + 1;
        const int lineBeforeLast = whole.lastIndexOf('\n', lastLine - 2) + 1;
        for (int cut = 0; cut <= whole.size(); ++cut) {
            const bool atLineEnd = cut > 0 && whole[cut - 1] == '\n';
            if (!atLineEnd && cut >= lineBeforeLast)
                continue; // a cut inside the next-to-last line may still leave a number
            Read_LUTFile lut;
            const bool ok = read(format, whole.left(cut), lut);
            QCOMPARE(ok, cut >= lastLine);
        }
    }
}

namespace {

// Bakes a corpus cube file with ociobakelut to the given format and to a
// reference cube file of the same size.
bool bake(const QString &source, const QString &format, int size, const QString &out, const QString &reference)
{
    QString error;
    if (!TestSupport::ociobake(source, format, size, out, &error)) {
        qWarning() << "ociobakelut" << format << "failed:" << error;
        return false;
    }
    if (!TestSupport::ociobake(source, QStringLiteral("iridas_cube"), size, reference, &error)) {
        qWarning() << "ociobakelut iridas_cube failed:" << error;
        return false;
    }
    return true;
}

QStringList corpusCubes()
{
    QStringList files;
    const QDir dir(TestSupport::corpusDir() + QStringLiteral("/colour-science/iridas_cube"));
    for (const QString &name : dir.entryList({QStringLiteral("*.cube")}, QDir::Files, QDir::Name)) {
        const QByteArray text = TestSupport::readFile(dir.filePath(name));
        if (text.contains("LUT_3D_SIZE") && !text.contains("LUT_1D_SIZE"))
            files << dir.filePath(name);
    }
    return files;
}

// Compares a container read with the default order (table3D[red][green][blue])
// against an OCIO cube bake (red fastest), both clamped to the 0..1 domain
// the container keeps, in units of 1/scale, within tolerance units.
QString compareWithBake(const Read_LUTFile &lut, const TestSupport::CubeText &bake, float scale, float tolerance)
{
    const int n = bake.size;
    if (lut.size3D != n || bake.values.size() != size_t(3) * n * n * n)
        return QStringLiteral("size %1 vs %2").arg(lut.size3D).arg(n);
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r)
                for (int c = 0; c < 3; ++c) {
                    const float expected = clamp01(bake.values[3 * size_t((b * n + g) * n + r) + size_t(c)]);
                    const float got = lut.table3D[r][g][b][c];
                    if (std::fabs(got - expected) * scale > tolerance)
                        return QStringLiteral("(%1,%2,%3)[%4]: %5 vs %6").arg(r).arg(g).arg(b).arg(c).arg(got).arg(expected);
                }
    return QString();
}

} // namespace

void TestFormatsItxDavLut3dl::peerItxReadsToOcioValues()
{
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut is not installed");
    if (TestSupport::corpusDir().isEmpty())
        QSKIP("the LUT corpus is not available");
    const QStringList files = corpusCubes();
    QVERIFY(!files.isEmpty());
    for (const QString &file : files) {
        for (const int size : {2, 9, 17}) {
            const QString itx = m_dir.filePath(QStringLiteral("peer%1.itx").arg(++m_count));
            const QString cube = m_dir.filePath(QStringLiteral("peer%1.cube").arg(m_count));
            QVERIFY(bake(file, QStringLiteral("iridas_itx"), size, itx, cube));
            const TestSupport::CubeText reference = TestSupport::parseCubeText(cube);
            QCOMPARE(reference.size, size);

            LutFileOptions options;
            options.path = itx;
            options.format = kItx;
            options.defaultOrder = true;
            Read_LUTFile lut;
            QVERIFY2(lut.readLut(options, false), qPrintable(lut.errorString));
            QCOMPARE(lut.size3D, size);
            // Six decimals in both files; OCIO's values outside 0..1 are
            // compared clamped, as the container keeps the format's domain.
            const QString mismatch = compareWithBake(lut, reference, 1.0f, 1e-6f);
            QVERIFY2(mismatch.isEmpty(), qPrintable(file + QLatin1Char(' ') + mismatch));
        }
    }
}

void TestFormatsItxDavLut3dl::peer3dlReadsToOcioValues()
{
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut is not installed");
    if (TestSupport::corpusDir().isEmpty())
        QSKIP("the LUT corpus is not available");
    const QStringList files = corpusCubes();
    QVERIFY(!files.isEmpty());
    int compared = 0;
    for (const QString &file : files) {
        for (const QString &format : {QStringLiteral("flame"), QStringLiteral("lustre")}) {
            for (const int size : {5, 17}) {
                const QString threeDl = m_dir.filePath(QStringLiteral("peer%1.3dl").arg(++m_count));
                const QString cube = m_dir.filePath(QStringLiteral("peer%1.cube").arg(m_count));
                QVERIFY(bake(file, format, size, threeDl, cube));
                const TestSupport::CubeText reference = TestSupport::parseCubeText(cube);
                QCOMPARE(reference.size, size);
                const QByteArray text = TestSupport::readFile(threeDl);
                // lustre carries its depth on a mesh line; flame does not,
                // and then the depth follows from the largest code in the
                // file: 12 bits whenever a value reaches half scale.
                const bool hasMesh = text.contains("\nMesh ") || text.startsWith("Mesh ");
                QCOMPARE(hasMesh, format == QStringLiteral("lustre"));
                float top = 0.0f;
                for (const float v : reference.values)
                    top = std::max(top, clamp01(v) * 4095.0f);
                if (!hasMesh && top < 2047.5f)
                    continue; // covered by peerFlameLowRange below

                LutFileOptions options;
                options.path = threeDl;
                options.format = kThreeDl;
                options.defaultOrder = true;
                Read_LUTFile lut;
                QVERIFY2(lut.readLut(options, false), qPrintable(lut.errorString));
                QCOMPARE(lut.size3D, size);
                // The 3dl lists blue fastest, the cube red fastest; both land
                // in table3D[red][green][blue]. One 12-bit code of tolerance.
                const QString mismatch = compareWithBake(lut, reference, 4095.0f, 1.0f);
                QVERIFY2(mismatch.isEmpty(), qPrintable(file + QLatin1Char(' ') + format + QLatin1Char(' ') + mismatch));
                ++compared;
            }
        }
    }
    QVERIFY(compared >= 4);

    // A flame file whose codes stay below half scale: the file says nothing
    // of its depth, so the reader takes the smallest 2^k - 1 above the
    // largest code (here 2047) and the values come out larger than OCIO's
    // by 4095/2047. This is how the format is read, not a fault.
    const QString unit = TestSupport::corpusDir() + QStringLiteral("/colour-science/iridas_cube/Unit.cube");
    const QString dim = m_dir.filePath(QStringLiteral("dim.3dl"));
    const QString dimCube = m_dir.filePath(QStringLiteral("dim.cube"));
    const auto run = [&](const QString &format, const QString &out) {
        return TestSupport::runProcess(QStringLiteral("ociobakelut"),
                                       {QStringLiteral("--lut"), unit, QStringLiteral("--slope"), QStringLiteral("0.4"),
                                        QStringLiteral("0.4"), QStringLiteral("0.4"), QStringLiteral("--format"),
                                        format, QStringLiteral("--cubesize"), QStringLiteral("5"), out})
                   .exitCode
            == 0;
    };
    QVERIFY(run(QStringLiteral("flame"), dim));
    QVERIFY(run(QStringLiteral("iridas_cube"), dimCube));
    const TestSupport::CubeText reference = TestSupport::parseCubeText(dimCube);
    QCOMPARE(reference.size, 5);
    LutFileOptions options;
    options.path = dim;
    options.format = kThreeDl;
    options.defaultOrder = true;
    Read_LUTFile lut;
    QVERIFY(lut.readLut(options, false));
    for (int r = 0; r < 5; ++r) {
        const float expected = clamp01(reference.values[3 * size_t(r)]) * 4095.0f / 2047.0f;
        QVERIFY(std::fabs(lut.table3D[r][0][0][0] - expected) <= 1.0f / 2047.0f);
    }
    QVERIFY(lut.table3D[4][4][4][0] > 0.79f); // 0.4 of full scale read as 0.8
}

void TestFormatsItxDavLut3dl::peerReadsOurItx()
{
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut is not installed");
    for (const int size : {2, 5, 17}) {
        Read_LUTFile source;
        fillPattern(source, size);
        // Keep the pattern inside 0..1 for larger cubes.
        for (int a = 0; a < size; ++a)
            for (int b = 0; b < size; ++b)
                for (int c = 0; c < size; ++c)
                    for (int ch = 0; ch < 3; ++ch)
                        source.table3D[a][b][c][ch] = std::fmod(source.table3D[a][b][c][ch], 1.0f);
        LutFileOptions options;
        options.path = m_dir.filePath(QStringLiteral("ours%1.itx").arg(size));
        options.format = kItx;
        options.defaultOrder = true;
        options.outputScale = 1;
        Write_LUTFile writer;
        QVERIFY(writer.writeLut(options, &source));

        const QString cube = m_dir.filePath(QStringLiteral("ours%1.cube").arg(size));
        QString error;
        QVERIFY2(TestSupport::ociobake(options.path, QStringLiteral("iridas_cube"), size, cube, &error),
                 qPrintable(error));
        const QString mismatch = compareWithBake(source, TestSupport::parseCubeText(cube), 1.0f, 2e-6f);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }
}

void TestFormatsItxDavLut3dl::commandLineByNameAndExtension()
{
    if (!QFile::exists(TestSupport::convertPath()))
        QSKIP("chromaduct-convert is not built");
    // 3dl in by extension, itx out by extension.
    const QString in = TestSupport::writeFile(m_dir.filePath(QStringLiteral("cli.3dl")),
                                              "Mesh 1 10\n" + QByteArray("1023 512 0\n").repeated(27));
    const QString itx = m_dir.filePath(QStringLiteral("cli.itx"));
    TestSupport::ProcessResult result = TestSupport::runConvert({in, itx});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QVERIFY(TestSupport::readFile(itx).startsWith("LUT_3D_SIZE 3\n1.000000 0.500489 0.000000\n"));

    // itx to davLut by name, with no extension to go by.
    const QString dav = m_dir.filePath(QStringLiteral("cli-out"));
    result = TestSupport::runConvert({QStringLiteral("--to"), QStringLiteral("davlut"), itx, dav});
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QVERIFY(TestSupport::readFile(dav).startsWith("# Authors: ostavel\n\n3DLUTSIZE 3\n"));

    // A bad file: exit status 1 and one line of error.
    const QString bad = TestSupport::writeFile(m_dir.filePath(QStringLiteral("bad.3dl")), "Mesh 12 12\n");
    result = TestSupport::runConvert({bad, m_dir.filePath(QStringLiteral("bad.itx"))});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.err.trimmed().count('\n'), 0);
    QVERIFY(!result.err.trimmed().isEmpty());
}

QTEST_GUILESS_MAIN(TestFormatsItxDavLut3dl)
#include "test_formats_itx_davlut_3dl.moc"
