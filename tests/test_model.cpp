// The LUT container, the dispatch, the catalogue, the number scanner and the
// text helpers that every format builds on.

#include "TestSupport.h"

#include "lut/LutFormats.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cmath>
#include <cstring>
#include <functional>

namespace {

const float kLo[3] = {0, 0, 0};
const float kHi[3] = {1, 1, 1};

QString render(const std::function<void(LutTextStream &)> &write)
{
    LutTextStream stream;
    write(stream);
    return QString::fromUtf8(stream.text());
}

} // namespace

class TestModel : public QObject
{
    Q_OBJECT

private slots:
    void storePlacementAndNormalisation();
    void tablesStayInBounds();
    void dispatchCopiesFlagsAndRefuses();
    void hexToBytesDecodesPairs();
    void scanMatchesSscanf();
    void scanIgnoresTheProcessLocale();
    void textInputDropsBomAndCarriageReturns();
    void textHelpersInBothOrdersAndForms();
};

void TestModel::storePlacementAndNormalisation()
{
    // (table-order, data-order) -> where (0.1, 0.2, 0.3) stored at (1, 2, 3) lands.
    const struct { bool table, data; int a, c; bool reversed; } cases[] = {
        {true, true, 1, 3, false}, {true, false, 1, 3, true}, {false, true, 3, 1, false}, {false, false, 3, 1, true}};
    for (const auto &k : cases) {
        Read_LUTFile lut;
        QVERIFY(lut.setSize3D(4, false) && lut.setSize1D(2, false));
        lut.tableOrderRGB = k.table;
        lut.dataOrderRGB = k.data;
        lut.storeEntry3D(1, 2, 3, 0.1f, 0.2f, 0.3f, kLo, kHi);
        QCOMPARE(lut.table3D[k.a][2][k.c][0], k.reversed ? 0.3f : 0.1f);
        QCOMPARE(lut.table3D[k.a][2][k.c][2], k.reversed ? 0.1f : 0.3f);
        // A 1D entry is reversed exactly when the two flags differ.
        lut.storeEntry1D(1, 0.1f, 0.2f, 0.3f, kLo, kHi);
        QCOMPARE(lut.table1D[1][0], k.table != k.data ? 0.3f : 0.1f);
    }

    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    lut.storeEntry3D(0, 0, 0, 1.7f, -0.2f, 0.5f, kLo, kHi);
    QCOMPARE(lut.table3D[0][0][0][0], 1.0f);
    QCOMPARE(lut.table3D[0][0][0][1], 0.0f);
    const float hi10[3] = {1023, 1023, 1023};
    lut.storeEntry3D(1, 1, 1, 1023.0f, 512.0f, 2000.0f, kLo, hi10);
    QCOMPARE(lut.table3D[1][1][1][1], 512.0f / 1023.0f);
    QCOMPARE(lut.table3D[1][1][1][2], 1.0f);
    // The minimum is not subtracted: -0.5..1.5 maps 1.0 to 0.5 and -0.5 to -0.25.
    const float wideLo[3] = {-0.5f, -0.5f, -0.5f};
    const float wideHi[3] = {1.5f, 1.5f, 1.5f};
    lut.storeEntry3D(0, 1, 0, 1.0f, -0.5f, -3.0f, wideLo, wideHi);
    QCOMPARE(lut.table3D[0][1][0][0], 0.5f);
    QCOMPARE(lut.table3D[0][1][0][2], -0.25f);
}

void TestModel::tablesStayInBounds()
{
    Read_LUTFile lut;
    QVERIFY(lut.table3D == nullptr && lut.size3D == 0);
    QVERIFY(!lut.allocTable3D(lut.table3D, 0));
    QVERIFY(lut.table3D == nullptr);
    QVERIFY(lut.setSize3D(2, false) && lut.setSize1D(2, false));
    // Indices outside the table are ignored (the sanitizer build would abort
    // on a stray write).
    for (int bad : {-1, 2, 1000000}) {
        lut.storeEntry3D(bad, 0, 0, 1, 1, 1, kLo, kHi);
        lut.storeEntry3D(0, 0, bad, 1, 1, 1, kLo, kHi);
        lut.storeEntry1D(bad, 1, 1, 1, kLo, kHi);
    }
    for (int i = 0; i < 2 * 2 * 2 * 3; ++i)
        QCOMPARE(lut.table3D.data()[i], 0.0f);

    // Sizes beyond the bounds fail with a reason and leave no table.
    QVERIFY(!lut.setSize3D(kMaxCubeSize + 1, false));
    QVERIFY(lut.table3D == nullptr && lut.size3D == 0);
    QVERIFY(lut.errorString.contains(QLatin1String("257")));
    QVERIFY(!lut.setSize1D(kMax1DSize + 1, false));
    QVERIFY(!lut.setSize3D(-3, true));
    // Header-only sizes allocate nothing; the largest cube is one zeroed block.
    QVERIFY(lut.setSize3D(17, true) && lut.table3D == nullptr);
    QVERIFY(lut.setSize3D(kMaxCubeSize, false));
    QCOMPARE(lut.table3D[255][255][255][2], 0.0f);
    lut.table3D[255][255][255][2] = 1.0f;
    QCOMPARE(lut.table3D.data()[std::size_t(256) * 256 * 256 * 3 - 1], 1.0f);
}

void TestModel::dispatchCopiesFlagsAndRefuses()
{
    QTemporaryDir dir;
    LutFileOptions options;
    options.path = dir.filePath(QStringLiteral("missing.cube"));
    options.defaultOrder = false;
    options.dataOrderRGB = false;
    Read_LUTFile flags;
    QVERIFY(!flags.readLut(options, false));
    QVERIFY(!flags.dataOrderRGB && flags.tableOrderRGB && !flags.defaultOrder);

    // Unknown identifiers, and writers given a LUT without a table or a scale their format does not take, create no file.
    for (int id : {LutFormats::kCount, -1, 1, 2, 3, 5, 9, 10}) {
        Read_LUTFile lut;
        options.format = LutFormatId(id);
        if (id < 0 || id >= LutFormats::kCount)
            QVERIFY(!lut.readLut(options, false) && !lut.errorString.isEmpty());
        Write_LUTFile writer;
        options.path = dir.filePath(QStringLiteral("out%1").arg(id));
        options.outputScale = 4095;
        QVERIFY(!writer.writeLut(options, &lut));
        QVERIFY(!QFile::exists(options.path));
        QVERIFY(!writer.errorString.isEmpty());
        QCOMPARE(writer.outputScale, 4095);
    }
}

void TestModel::hexToBytesDecodesPairs()
{
    unsigned char bytes[4] = {9, 9, 9, 9};
    QVERIFY(hexToBytes(bytes, "00ff7FAbcd"));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(bytes), 4), QByteArray("\x00\xff\x7f\xab", 4));
    for (const char *bad : {"00ff7FAg", "00ff", ""}) {
        unsigned char untouched[4] = {1, 2, 3, 4};
        QVERIFY(!hexToBytes(untouched, bad));
        QCOMPARE(int(untouched[0]), 1);
    }
}

void TestModel::scanMatchesSscanf()
{
    // Each text is checked against the C library's own sscanf in the "C" locale.
    const char *texts[] = {
        "0.5 0.25 1", "  -1.5e-3\t+2E2  3", "1 2", "abc 1 2", "1,2,3", "inf -INF nan", "infinity 1 2",
        "0x1p-2 1 2", ".5 5. 1", "1e 2 3", "1e+ 2", "1.5E", "0x 1", "infin 2", "nanx 1", "0x1p 2", "-.e1",
        "3 4 5 6", "", "   ", "1.2.3", "1e400 1e-400 7", "nan(123) 0 0", "+-1", "- 1", "0.850000 0.000001 123456789",
    };
    std::setlocale(LC_NUMERIC, "C");
    for (const char *text : texts) {
        float ours[3] = {-7, -7, -7}, theirs[3] = {-7, -7, -7};
        const int n = LutScan::scan(QByteArray(text), "%f %f %f", &ours[0], &ours[1], &ours[2]);
        QVERIFY2(n == std::max(0, std::sscanf(text, "%f %f %f", &theirs[0], &theirs[1], &theirs[2])), text);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(std::isnan(theirs[i]) ? std::isnan(ours[i]) : ours[i] == theirs[i], text);
        int oi[3] = {-7, -7, -7}, ti[3] = {-7, -7, -7};
        const int ni = LutScan::scan(QByteArray(text), "%d %d %d", &oi[0], &oi[1], &oi[2]);
        QVERIFY2(ni == std::max(0, std::sscanf(text, "%d %d %d", &ti[0], &ti[1], &ti[2])), text);
        QVERIFY2(std::equal(oi, oi + 3, ti), text);
    }
    // Exponents of any length, and significant digits far from the point:
    // infinity, zero or the nearest value, as sscanf gives, for float and double.
    const QByteArray zeros(400, '0');
    const QByteArray extremes[] = {"1e9223372036854775807", "-1e9223372036854775807", "1e-9223372036854775808",
        "1e99999999999999999999999", "-1e-99999999999999999999", "0e99999999999999999999", "0." + zeros + "1e350",
        "1" + zeros + "e-700", "1" + zeros + "e-420", "0x1e5p2000", "0x0." + zeros + "1p1100", "0x1" + zeros + "p-1000",
        "0x1p-9223372036854775808", "2e-324", "1e-310", "1e-46", "1.7976931348623159e308", "3.40282357e38"};
    for (const QByteArray &text : extremes) {
        float f = -7, tf = -7;
        double d = -7, td = -7;
        QCOMPARE(LutScan::scan(text, "%f", &f), std::sscanf(text.constData(), "%f", &tf));
        QCOMPARE(LutScan::scan(text, "%lf", &d), std::sscanf(text.constData(), "%lf", &td));
        QVERIFY2(f == tf && std::signbit(f) == std::signbit(tf) && d == td, text.left(40).constData());
    }
    // Literal characters, %lf, %ld, and a QString source.
    int a = 0, b = 0;
    QCOMPARE(LutScan::scan(QByteArray("12,\t34 "), "%d,\t%d ", &a, &b), 2);
    QCOMPARE(b, 34);
    QCOMPARE(LutScan::scan(QByteArray("12;34"), "%d,%d", &a, &b), 1);
    double d = 0;
    long long l = 0;
    QCOMPARE(LutScan::scan(QStringLiteral("  0.1 9000000000"), "%lf %ld", &d, &l), 2);
    QVERIFY(d == 0.1 && l == 9000000000LL);
}

void TestModel::scanIgnoresTheProcessLocale()
{
    // Under a German locale the C library's sscanf reads "0.5" as 0.
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        QSKIP("the de_DE.UTF-8 locale is not generated on this machine");
    float theirs = -1, f = 0;
    std::sscanf("0.5", "%f", &theirs);
    QCOMPARE(theirs, 0.0f);
    QCOMPARE(LutScan::scan(QByteArray("0.5 2,5"), "%f %f", &f, &theirs), 2);
    QVERIFY(f == 0.5f && theirs == 2.0f);
    std::setlocale(LC_ALL, "C");
}

void TestModel::textInputDropsBomAndCarriageReturns()
{
    QTemporaryDir dir;
    LutTextInput in;
    QVERIFY(in.open(TestSupport::writeFile(dir.filePath(QStringLiteral("bom.txt")),
                                           "\xEF\xBB\xBFLUT_3D_SIZE 2\r\n" + QByteArray(LutTextInput::kMaxLineLength + 9, 'x')
                                               + "\nlast")));
    QCOMPARE(in.readLine(), QStringLiteral("LUT_3D_SIZE 2"));
    // An over-long line is cut; the next line still comes on its own.
    QCOMPARE(in.readRawLine().size(), LutTextInput::kMaxLineLength + 1);
    QCOMPARE(in.readLine(), QStringLiteral("last"));
    QCOMPARE(in.lineNumber(), qint64(3));
    QVERIFY(in.atEnd() && in.rewind());
    QCOMPARE(in.readRawLine(), QByteArray("LUT_3D_SIZE 2"));
    QVERIFY(!in.open(dir.path()));
}

void TestModel::textHelpersInBothOrdersAndForms()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false) && lut.setSize1D(2, false));
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            for (int c = 0; c < 2; ++c) {
                float *e = lut.table3D[a][b][c];
                e[0] = a * 0.5f, e[1] = b * 0.25f, e[2] = c - 0.25f;
            }
    const float entries[2][3] = {{0.5f, 0.25f, 1.0f}, {0.00001f, 1234567.0f, -0.125f}};
    std::copy(&entries[0][0], &entries[0][0] + 6, lut.table1D.data());
    Write_LUTFile w;
    const QString sep = QStringLiteral(" ");
    // (table-order, data-order, loop indices) -> the 3D line.
    const struct { bool table, data; int p, q, r; const char *text; } lines[] = {
        {true, true, 1, 0, 1, "0.500000 0.000000 0.750000"},
        {true, false, 1, 0, 1, "0.750000 0.000000 0.500000"},
        {false, false, 1, 1, 0, "0.750000 0.250000 0.000000"},
        {false, true, 0, 0, 1, "0.500000 0.000000 -0.250000"},
    };
    for (const auto &k : lines) {
        w.tableOrderRGB = k.table;
        w.dataOrderRGB = k.data;
        QCOMPARE(render([&](LutTextStream &s) { w.writeLut3DEntry(lut.table3D, s, k.p, k.q, k.r, 1, sep); }),
                 QString::fromLatin1(k.text));
    }
    // Fixed notation is printf's "%.6f" for any float, halfway cases included.
    QRandomGenerator random(3);
    for (int i = 0; i < 200000; ++i) {
        const quint32 bits = random.generate();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        if (i % 2)
            v = float(random.bounded(20000001) - 10000000) / 1024.0f; // many exact halves
        lut.table3D[1][1][1][0] = v;
        char expected[512];
        std::snprintf(expected, sizeof expected, "%8.6f", double(v));
        w.tableOrderRGB = w.dataOrderRGB = true;
        QCOMPARE(render([&](LutTextStream &s) { w.writeLut3DEntry(lut.table3D, s, 1, 1, 1, 1, sep); }).section(' ', 0, 0, QString::SectionSkipEmpty),
                 QString::fromLatin1(expected).trimmed());
    }
    // The 3D helper leaves the stream in fixed notation for what follows.
    QCOMPARE(render([&](LutTextStream &s) { w.writeLut3DEntry(lut.table3D, s, 0, 0, 0, 1, QStringLiteral(",")); s << 0.5; }),
             QStringLiteral("0.000000,0.000000,-0.2500000.500000"));
    // 1D output: smart notation as "%g", each value followed by the separator.
    w.dataOrderRGB = true;
    QCOMPARE(render([&](LutTextStream &s) { w.writeLut1DEntry(lut.table1D, s, 1, 1, sep); }),
             QStringLiteral("1e-05 1.23457e+06 -0.125 "));
    w.dataOrderRGB = false;
    QCOMPARE(render([&](LutTextStream &s) { w.writeLut1DEntry(lut.table1D, s, 0, 1, sep); }), QStringLiteral("1 0.25 0.5 "));
    QCOMPARE(render([&](LutTextStream &s) { w.writeLut1DValue(lut.table1D, s, 0, 1, QString()); }), QStringLiteral("0.5"));
    // Integer form: the nearest code to scale x value, within 0..scale (NaN as 0).
    QCOMPARE(render([&](LutTextStream &s) { w.writeLut1DEntry(lut.table1D, s, 0, 4095, sep); }),
             QStringLiteral("4095 1024 2048 "));
    lut.table1D[1][0] = 3.0f / 255.0f - 1e-8f, lut.table1D[1][1] = 0.0627451f, lut.table1D[1][2] = 0.7f / 255.0f;
    QCOMPARE(render([&](LutTextStream &s) { w.writeLut1DEntry(lut.table1D, s, 1, 255, sep); }), QStringLiteral("1 16 3 "));
    float *e = lut.table3D[0][0][0];
    e[0] = std::nanf(""), e[1] = 1e30f, e[2] = -1e30f;
    w.dataOrderRGB = w.tableOrderRGB = true;
    QCOMPARE(render([&](LutTextStream &s) { w.writeLut3DEntry(lut.table3D, s, 0, 0, 0, 1023, sep); }),
             QStringLiteral("0 1023 0 "));
}

QTEST_GUILESS_MAIN(TestModel)
#include "test_model.moc"
