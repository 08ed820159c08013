// The LUT container, the dispatch, the number scanner and the text output
// helpers that every format builds on.

#include "TestSupport.h"

#include "lut/LutFormats.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cmath>

class TestModel : public QObject
{
    Q_OBJECT

private slots:
    void newContainerIsEmpty();
    void storePlacementFollowsOrderFlags();
    void storeNormalisesAndClamps();
    void storeIgnoresIndicesOutsideTheTable();
    void sizeBoundsAreEnforced();
    void dispatchCopiesFlagsAndRefusesUnknownFormats();
    void hexToBytesDecodesPairs();
    void scanBehavesLikeSscanf();
    void scanIgnoresTheProcessLocale();
    void textInputDropsBomAndCarriageReturns();
    void text3DEntryInBothOrders();
    void text1DHelpers();
    void integerFormTruncatesScaledValues();
    void catalogueChoosesFormatsByExtensionAndName();
};

void TestModel::newContainerIsEmpty()
{
    Read_LUTFile lut;
    QCOMPARE(lut.size3D, 0);
    QCOMPARE(lut.size1D, 0);
    QVERIFY(lut.table3D == nullptr);
    QVERIFY(lut.table1D == nullptr);
    QVERIFY(lut.dataOrderRGB && lut.tableOrderRGB);
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(lut.domainMin3D[c], 0.0f);
        QCOMPARE(lut.domainMax3D[c], 1.0f);
        QCOMPARE(lut.domainMin1D[c], 0.0f);
        QCOMPARE(lut.domainMax1D[c], 1.0f);
    }
    // Allocation with a size of 0 or below leaves the table alone.
    QVERIFY(!lut.allocTable3D(lut.table3D, 0));
    QVERIFY(!lut.allocTable3D(lut.table3D, -4));
    QVERIFY(lut.table3D == nullptr);
    QVERIFY(lut.allocTable3D(lut.table3D, 3));
    QCOMPARE(lut.table3D[2][2][2][2], 0.0f);
}

void TestModel::storePlacementFollowsOrderFlags()
{
    const float lo[3] = {0, 0, 0};
    const float hi[3] = {1, 1, 1};
    struct Case {
        bool tableRGB, dataRGB;
        int a, b, c; // where (1, 2, 3) lands
        float x0, x1, x2;
    } cases[] = {
        {true, true, 1, 2, 3, 0.1f, 0.2f, 0.3f},
        {true, false, 1, 2, 3, 0.3f, 0.2f, 0.1f},
        {false, true, 3, 2, 1, 0.1f, 0.2f, 0.3f},
        {false, false, 3, 2, 1, 0.3f, 0.2f, 0.1f},
    };
    for (const Case &k : cases) {
        Read_LUTFile lut;
        QVERIFY(lut.setSize3D(4, false));
        lut.tableOrderRGB = k.tableRGB;
        lut.dataOrderRGB = k.dataRGB;
        lut.storeEntry3D(1, 2, 3, 0.1f, 0.2f, 0.3f, lo, hi);
        const float *e = lut.table3D[k.a][k.b][k.c];
        QCOMPARE(e[0], k.x0);
        QCOMPARE(e[1], k.x1);
        QCOMPARE(e[2], k.x2);
    }

    // 1D entries are reversed exactly when the two flags differ.
    const bool flags[4][2] = {{true, true}, {false, false}, {true, false}, {false, true}};
    for (const auto &f : flags) {
        Read_LUTFile lut;
        QVERIFY(lut.setSize1D(2, false));
        lut.dataOrderRGB = f[0];
        lut.tableOrderRGB = f[1];
        lut.storeEntry1D(1, 0.1f, 0.2f, 0.3f, lo, hi);
        const bool reversed = f[0] != f[1];
        QCOMPARE(lut.table1D[1][0], reversed ? 0.3f : 0.1f);
        QCOMPARE(lut.table1D[1][2], reversed ? 0.1f : 0.3f);
    }
}

void TestModel::storeNormalisesAndClamps()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    const float lo[3] = {0, 0, 0};
    const float hi[3] = {1, 1, 1};
    lut.storeEntry3D(0, 0, 0, 1.7f, -0.2f, 0.5f, lo, hi);
    QCOMPARE(lut.table3D[0][0][0][0], 1.0f);
    QCOMPARE(lut.table3D[0][0][0][1], 0.0f);
    QCOMPARE(lut.table3D[0][0][0][2], 0.5f);

    const float hi10[3] = {1023, 1023, 1023};
    lut.storeEntry3D(1, 1, 1, 1023.0f, 512.0f, 2000.0f, lo, hi10);
    QCOMPARE(lut.table3D[1][1][1][0], 1.0f);
    QCOMPARE(lut.table3D[1][1][1][1], 512.0f / 1023.0f);
    QCOMPARE(lut.table3D[1][1][1][2], 1.0f);

    // The minimum is not subtracted: -0.5..1.5 maps 1.0 to 0.5, -0.5 to -0.25.
    const float wideLo[3] = {-0.5f, -0.5f, -0.5f};
    const float wideHi[3] = {1.5f, 1.5f, 1.5f};
    lut.storeEntry3D(0, 1, 0, 1.0f, -0.5f, -3.0f, wideLo, wideHi);
    QCOMPARE(lut.table3D[0][1][0][0], 0.5f);
    QCOMPARE(lut.table3D[0][1][0][1], -0.25f);
    QCOMPARE(lut.table3D[0][1][0][2], -0.25f);
}

void TestModel::storeIgnoresIndicesOutsideTheTable()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    QVERIFY(lut.setSize1D(2, false));
    const float lo[3] = {0, 0, 0};
    const float hi[3] = {1, 1, 1};
    // Under AddressSanitizer any write outside the blocks would abort here.
    lut.storeEntry3D(2, 0, 0, 1, 1, 1, lo, hi);
    lut.storeEntry3D(0, -1, 0, 1, 1, 1, lo, hi);
    lut.storeEntry3D(0, 0, 1000000, 1, 1, 1, lo, hi);
    lut.storeEntry1D(2, 1, 1, 1, lo, hi);
    lut.storeEntry1D(-1, 1, 1, 1, lo, hi);
    for (int i = 0; i < 2 * 2 * 2 * 3; ++i)
        QCOMPARE(lut.table3D.data()[i], 0.0f);
    for (int i = 0; i < 2 * 3; ++i)
        QCOMPARE(lut.table1D.data()[i], 0.0f);
}

void TestModel::sizeBoundsAreEnforced()
{
    Read_LUTFile lut;
    QVERIFY(!lut.setSize3D(kMaxCubeSize + 1, false));
    QCOMPARE(lut.size3D, 0);
    QVERIFY(lut.table3D == nullptr);
    QVERIFY(lut.errorString.contains(QLatin1String("257")));
    QVERIFY(!lut.setSize1D(kMax1DSize + 1, false));
    QVERIFY(!lut.setSize1D(0, false));
    QVERIFY(!lut.setSize3D(-3, true));

    // A header-only size allocates nothing; a second size replaces the first.
    QVERIFY(lut.setSize3D(17, true));
    QCOMPARE(lut.size3D, 17);
    QVERIFY(lut.table3D == nullptr);
    QVERIFY(lut.setSize3D(5, false));
    QVERIFY(lut.setSize3D(3, false));
    QCOMPARE(lut.table3D.size(), 3);

    // The largest cube is one block of its raw size, zero-filled.
    QVERIFY(lut.setSize3D(kMaxCubeSize, false));
    QCOMPARE(lut.table3D[255][255][255][2], 0.0f);
    lut.table3D[255][255][255][2] = 1.0f;
    QCOMPARE(lut.table3D.data()[std::size_t(256) * 256 * 256 * 3 - 1], 1.0f);
}

void TestModel::dispatchCopiesFlagsAndRefusesUnknownFormats()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.cube"));
    {
        Read_LUTFile lut;
        LutFileOptions options;
        options.path = missing;
        options.defaultOrder = false;
        options.dataOrderRGB = false;
        options.tableOrderRGB = true;
        QVERIFY(!lut.readLut(options, false));
        QVERIFY(!lut.dataOrderRGB);
        QVERIFY(lut.tableOrderRGB);
        QVERIFY(!lut.defaultOrder);
    }
    for (int id : {17, -1, 1000}) {
        Read_LUTFile lut;
        LutFileOptions options;
        options.path = missing;
        options.format = id;
        QVERIFY(!lut.readLut(options, false));
        QVERIFY(lut.defaultOrder);
        QCOMPARE(lut.size3D, 0);
        QVERIFY(!lut.errorString.isEmpty());

        Write_LUTFile writer;
        LutFileOptions out;
        out.path = dir.filePath(QStringLiteral("out.cube"));
        out.format = id;
        QVERIFY(!writer.writeLut(out, &lut));
        QVERIFY(!QFile::exists(out.path));
    }
    // Formats without a writer refuse and create no file.
    for (int id : {1, 2, 3, 5, 9, 10}) {
        Read_LUTFile lut;
        Write_LUTFile writer;
        LutFileOptions out;
        out.path = dir.filePath(QStringLiteral("out%1").arg(id));
        out.format = id;
        out.defaultOrder = false;
        out.dataOrderRGB = false;
        out.outputScale = 4095;
        QVERIFY(!writer.writeLut(out, &lut));
        QVERIFY(!QFile::exists(out.path));
        QVERIFY(!writer.dataOrderRGB);
        QCOMPARE(writer.outputScale, 4095);
    }
}

void TestModel::hexToBytesDecodesPairs()
{
    unsigned char bytes[4] = {9, 9, 9, 9};
    QVERIFY(hexToBytes(bytes, "00ff7FAbcd"));
    QCOMPARE(int(bytes[0]), 0);
    QCOMPARE(int(bytes[1]), 255);
    QCOMPARE(int(bytes[2]), 127);
    QCOMPARE(int(bytes[3]), 171);

    unsigned char untouched[4] = {1, 2, 3, 4};
    QVERIFY(!hexToBytes(untouched, "00ff7FAg"));
    QVERIFY(!hexToBytes(untouched, "00ff"));
    QVERIFY(!hexToBytes(untouched, ""));
    QCOMPARE(int(untouched[0]), 1);
    QCOMPARE(int(untouched[3]), 4);
}

void TestModel::scanBehavesLikeSscanf()
{
    // Every case is checked against the C library's own sscanf (in the "C"
    // locale), so the scanner keeps the semantics the readers rely on.
    const char *texts[] = {
        "0.5 0.25 1",   "  -1.5e-3\t+2E2  3", "1 2",         "abc 1 2",     "1,2,3",
        "inf -INF nan", "infinity 1 2",       "0x1p-2 1 2",  ".5 5. 1",     "1e 2 3",
        "-.e1",         "3 4 5 6",        "1e+ 2",      "1.5E",   "0x 1",   "infin 2", "nanx 1", "0x1p 2",            "",            "   ",         "1.2.3",
        "1e400 1e-400 7", "nan(123) 0 0",     "+-1",         "- 1",         "12345678901234567890 1 1",
    };
    std::setlocale(LC_NUMERIC, "C");
    for (const char *text : texts) {
        float ours[3] = {-7, -7, -7};
        float theirs[3] = {-7, -7, -7};
        const int n = LutScan::scan(QByteArray(text), "%f %f %f", &ours[0], &ours[1], &ours[2]);
        int m = std::sscanf(text, "%f %f %f", &theirs[0], &theirs[1], &theirs[2]);
        if (m < 0)
            m = 0;
        QVERIFY2(n == m, text);
        for (int i = 0; i < 3; ++i) {
            if (std::isnan(theirs[i]))
                QVERIFY2(std::isnan(ours[i]), text);
            else
                QVERIFY2(ours[i] == theirs[i], text);
        }

        int oi[3] = {-7, -7, -7};
        int ti[3] = {-7, -7, -7};
        const int ni = LutScan::scan(QByteArray(text), "%d %d %d", &oi[0], &oi[1], &oi[2]);
        int mi = std::sscanf(text, "%d %d %d", &ti[0], &ti[1], &ti[2]);
        if (mi < 0)
            mi = 0;
        QVERIFY2(ni == mi, text);
        for (int i = 0; i < ni; ++i) {
            if (QByteArray(text).startsWith("1234567890"))
                continue; // overflow is undefined for sscanf; ours saturates
            QVERIFY2(oi[i] == ti[i], text);
        }
    }

    // Literal characters, %lf and %ld, and a QString source.
    int a = 0, b = 0;
    QCOMPARE(LutScan::scan(QByteArray("12,\t34 "), "%d,\t%d ", &a, &b), 2);
    QCOMPARE(a, 12);
    QCOMPARE(b, 34);
    QCOMPARE(LutScan::scan(QByteArray("12;34"), "%d,%d", &a, &b), 1);
    double d = 0;
    long long l = 0;
    QCOMPARE(LutScan::scan(QStringLiteral("  0.1 9000000000"), "%lf %ld", &d, &l), 2);
    QCOMPARE(d, 0.1);
    QCOMPARE(l, 9000000000LL);
    float f = -1;
    QCOMPARE(LutScan::scan(QStringLiteral("\u00e9 1"), "%f", &f), 0);
    QCOMPARE(f, -1.0f);
}

void TestModel::scanIgnoresTheProcessLocale()
{
    // Under a German locale the C library's sscanf takes "0.5" as 0: the
    // scanner must not.
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QSKIP("the de_DE.UTF-8 locale is not generated on this machine");
    float theirs = -1;
    std::sscanf("0.5", "%f", &theirs);
    QCOMPARE(theirs, 0.0f);
    float f = 0;
    QCOMPARE(LutScan::scan(QByteArray("0.5 2,5"), "%f %f", &f, &theirs), 2);
    QCOMPARE(f, 0.5f);
    QCOMPARE(theirs, 2.0f); // a comma ends a number as any other character does
    std::setlocale(LC_ALL, "C");
}

void TestModel::textInputDropsBomAndCarriageReturns()
{
    QTemporaryDir dir;
    const QString path = TestSupport::writeFile(dir.filePath(QStringLiteral("bom.txt")),
                                                "\xEF\xBB\xBFLUT_3D_SIZE 2\r\n\r\n0.5 0.5 0.5\r\nlast");
    LutTextInput in;
    QVERIFY(in.open(path));
    QCOMPARE(in.readLine(), QStringLiteral("LUT_3D_SIZE 2"));
    QCOMPARE(in.readLine(), QString());
    QCOMPARE(in.readLine(), QStringLiteral("0.5 0.5 0.5"));
    QCOMPARE(in.lineNumber(), qint64(3));
    QCOMPARE(in.readLine(), QStringLiteral("last"));
    QVERIFY(in.atEnd());
    QVERIFY(in.rewind());
    QCOMPARE(in.readRawLine(), QByteArray("LUT_3D_SIZE 2"));

    // An over-long line is cut and the next line still comes on its own.
    QByteArray longLine(LutTextInput::kMaxLineLength + 5000, 'x');
    const QString longPath = TestSupport::writeFile(dir.filePath(QStringLiteral("long.txt")),
                                                    longLine + "\nnext\n");
    LutTextInput in2;
    QVERIFY(in2.open(longPath));
    QCOMPARE(in2.readRawLine().size(), LutTextInput::kMaxLineLength + 1);
    QCOMPARE(in2.readRawLine(), QByteArray("next"));
    QVERIFY(!LutTextInput().open(dir.path()));
}

namespace {

QString render(const std::function<void(QTextStream &)> &write)
{
    QString text;
    QTextStream stream(&text);
    write(stream);
    stream.flush();
    return text;
}

} // namespace

void TestModel::text3DEntryInBothOrders()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    // Entry [a][b][c] = (a + 0.5, b + 0.25, c - 0.25) tells the index order apart.
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            for (int c = 0; c < 2; ++c) {
                float *e = lut.table3D[a][b][c];
                e[0] = a * 0.5f;
                e[1] = b * 0.25f;
                e[2] = c - 0.25f;
            }
    Write_LUTFile writer;
    const QString sep = QStringLiteral(" ");
    writer.dataOrderRGB = writer.tableOrderRGB = true;
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut3DEntry(lut.table3D, s, 1, 0, 1, 1, sep); }),
             QStringLiteral("0.500000 0.000000 0.750000"));
    writer.dataOrderRGB = false;
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut3DEntry(lut.table3D, s, 1, 0, 1, 1, sep); }),
             QStringLiteral("0.750000 0.000000 0.500000"));
    writer.tableOrderRGB = false;
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut3DEntry(lut.table3D, s, 1, 1, 0, 1, sep); }),
             QStringLiteral("0.750000 0.250000 0.000000"));
    writer.dataOrderRGB = true;
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut3DEntry(lut.table3D, s, 0, 0, 1, 1, sep); }),
             QStringLiteral("0.500000 0.000000 -0.250000"));
    // The helper leaves the stream in fixed notation for what follows.
    QCOMPARE(render([&](QTextStream &s) {
                 writer.writeLut3DEntry(lut.table3D, s, 0, 0, 0, 1, QStringLiteral(","));
                 s << 0.5;
             }),
             QStringLiteral("0.000000,0.000000,-0.2500000.500000"));
}

void TestModel::text1DHelpers()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize1D(3, false));
    const float values[3][3] = {{0.5f, 0.25f, 1.0f}, {0.00001f, 1234567.0f, -0.125f}, {1.0f / 3, 100, 0}};
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c)
            lut.table1D[i][c] = values[i][c];
    Write_LUTFile writer;
    const QString sep = QStringLiteral(" ");
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut1DEntry(lut.table1D, s, 0, 1, sep); }),
             QStringLiteral("0.5 0.25 1 "));
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut1DEntry(lut.table1D, s, 1, 1, sep); }),
             QStringLiteral("1e-05 1.23457e+06 -0.125 "));
    writer.dataOrderRGB = false;
    writer.tableOrderRGB = false; // no effect on 1D output
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut1DEntry(lut.table1D, s, 0, 1, sep); }),
             QStringLiteral("1 0.25 0.5 "));
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut1DValue(lut.table1D, s, 2, 1, QString()); }),
             QStringLiteral("0.333333"));
}

void TestModel::integerFormTruncatesScaledValues()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(1, false));
    QVERIFY(lut.setSize1D(1, false));
    lut.table3D[0][0][0][0] = lut.table1D[0][0] = 0.5f;
    lut.table3D[0][0][0][1] = lut.table1D[0][1] = 0.25f;
    lut.table3D[0][0][0][2] = lut.table1D[0][2] = 1.0f;
    Write_LUTFile writer;
    const QString sep = QStringLiteral(" ");
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut3DEntry(lut.table3D, s, 0, 0, 0, 4095, sep); }),
             QStringLiteral("2047 1023 4095 "));
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut1DEntry(lut.table1D, s, 0, 1023, sep); }),
             QStringLiteral("511 255 1023 "));
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut1DValue(lut.table1D, s, 0, 1023, QString()); }),
             QStringLiteral("511"));
    // Values that do not fit an integer are pinned, not undefined.
    lut.table3D[0][0][0][0] = std::nanf("");
    lut.table3D[0][0][0][1] = 1e30f;
    lut.table3D[0][0][0][2] = -1e30f;
    QCOMPARE(render([&](QTextStream &s) { writer.writeLut3DEntry(lut.table3D, s, 0, 0, 0, 4095, sep); }),
             QStringLiteral("0 2147483647 -2147483648 "));
}

void TestModel::catalogueChoosesFormatsByExtensionAndName()
{
    QTemporaryDir dir;
    const QString discreet = TestSupport::writeFile(dir.filePath(QStringLiteral("a.LUT")), "# c\nLUT: 3 4\n0\n");
    const QString indexed = TestSupport::writeFile(dir.filePath(QStringLiteral("b.lut")), "0 0 0 0\n");
    QCOMPARE(LutFormats::forInput(discreet)->id, 6);
    QCOMPARE(LutFormats::forInput(indexed)->id, 7);
    QCOMPARE(LutFormats::forInput(dir.filePath(QStringLiteral("x.M3D")))->id, 4);
    QCOMPARE(LutFormats::forInput(dir.filePath(QStringLiteral("x.txt")))->id, 0);
    QCOMPARE(LutFormats::forInput(dir.filePath(QStringLiteral("noext")))->id, 0);
    QCOMPARE(LutFormats::forOutput(dir.filePath(QStringLiteral("x.lut")))->id, 6);
    QCOMPARE(LutFormats::forOutput(dir.filePath(QStringLiteral("x.cub")))->id, 10);
    QVERIFY(LutFormats::forOutput(dir.filePath(QStringLiteral("x.txt"))) == nullptr);
    QCOMPARE(LutFormats::byName(QStringLiteral("SPI3D"))->id, 13);
    QCOMPARE(LutFormats::byName(QStringLiteral("16"))->id, 16);
    QVERIFY(LutFormats::byName(QStringLiteral("17")) == nullptr);
    QVERIFY(LutFormats::byName(QStringLiteral("tiff")) == nullptr);
    for (int id = 0; id < LutFormats::kCount; ++id)
        QCOMPARE(LutFormats::byId(id)->id, id);
}

QTEST_GUILESS_MAIN(TestModel)
#include "test_model.moc"
