// The itx and davLut readers and writers and the 3dl reader and writers (Lustre's and Flame's layouts), on their own
// and against OpenColorIO.

#include "TestSupport.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"
#include <QTest>
#include <QtCore>
#include <algorithm>
#include <cmath>
namespace {
using namespace TestSupport;
constexpr int kThreeDl = 3, kDavLut = 8, kItx = 11, kFlame = int(LutFormatId::Flame);
enum Mode { Normal, HeaderOnly, ReversedOrder };
QByteArray rep(const char *line, int n) { return QByteArray(line).repeated(n); }
// Entry [a][b][c] = (a + 2b + 4c, 1 + a + b + c, 3a + c) / 64 (mod 1): channels differ, exact at six decimals.
void fillPattern(Read_LUTFile &lut, int n)
{
    QVERIFY(lut.setSize3D(n, false));
    for (int t = 0; t < n * n * n; ++t) {
        const int a = t / n / n, b = t / n % n, c = t % n, v[3] = {a + 2 * b + 4 * c, 1 + a + b + c, 3 * a + c};
        for (int ch = 0; ch < 3; ++ch) lut.table3D[a][b][c][ch] = float(v[ch] % 64) / 64.0f;
    }
}
struct Probe { int line, ch; float v; }; // value ch of a data line; itx lists the first table index fastest, davLut/3dl the last
struct Case { int format; QByteArray text; int size; std::vector<Probe> probes; const char *error = ""; Mode mode = Normal; };
// An OCIO cube bake lists red fastest; its values are clamped to the 0..1 we keep; tolerance in units of 1/scale.
QString compareWithBake(const Read_LUTFile &lut, const QString &cubeFile, float scale, float tolerance)
{
    const CubeText bake = parseCubeText(cubeFile); const int n = bake.size;
    if (lut.size3D != n || bake.values.size() != size_t(3) * n * n * n)
        return QStringLiteral("size %1 vs %2").arg(lut.size3D).arg(n);
    for (size_t i = 0, t = 0; i < bake.values.size(); t = ++i / 3)
        if (std::fabs(lut.table3D[t % n][t / n % n][t / n / n][i % 3] - std::min(1.0f, std::max(0.0f, bake.values[i]))) * scale > tolerance)
            return QStringLiteral("line %1 differs").arg(t);
    return QString();
}
} // namespace

class TestFormatsItxDavLut3dl : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir; int m_count = 0;
    QString path(int f) { return m_dir.filePath(QStringLiteral("f%1.").arg(++m_count) + (f == kThreeDl || f == kFlame ? "3dl" : f == kDavLut ? "davlut" : "itx")); }
    // Reads file into lut, or writes lut to it; the order flags (BGR, BGR) count only in ReversedOrder.
    bool io(int format, const QString &file, Read_LUTFile &lut, Mode mode = Normal, int scale = 0)
    {
        LutFileOptions o;
        o.path = file, o.format = LutFormatId(format), o.defaultOrder = mode != ReversedOrder, o.outputScale = scale, o.dataOrderRGB = o.tableOrderRGB = false;
        return scale ? Write_LUTFile().writeLut(o, &lut) : lut.readLut(o, mode == HeaderOnly);
    }
    QString write(int format, Read_LUTFile &lut, int scale = 1, Mode mode = Normal)
    { const QString file = path(format); return io(format, file, lut, mode, scale) ? file : QString(); }
private slots:
    void writersExactText()
    {
        Read_LUTFile lut; // entry [a][b][c] = (a/2, b/4, c/8): each channel tells its index
        QVERIFY(lut.setSize3D(2, false));
        for (int i = 0; i < 24; ++i) // entry t = 4a + 2b + c, channel ch: bit 2 - ch of t over 2, 4, 8
            lut.table3D[i / 12][i / 6 % 2][i / 3 % 2][i % 3] = float((i / 3 >> (2 - i % 3)) & 1) / float(2 << i % 3);
        const QByteArray itx = "LUT_3D_SIZE 2\n0.000000 0.000000 0.000000\n0.500000 0.000000 0.000000\n"
                               "0.000000 0.250000 0.000000\n0.500000 0.250000 0.000000\n0.000000 0.000000 0.125000\n"
                               "0.500000 0.000000 0.125000\n0.000000 0.250000 0.125000\n0.500000 0.250000 0.125000\n";
        const QByteArray dav = "# Authors: ostavel\n\n3DLUTSIZE 2\n0.000000 0.000000 0.000000\n0.000000 0.000000 0.125000\n"
                               "0.000000 0.250000 0.000000\n0.000000 0.250000 0.125000\n0.500000 0.000000 0.000000\n"
                               "0.500000 0.000000 0.125000\n0.500000 0.250000 0.000000\n0.500000 0.250000 0.125000\n";
        QCOMPARE(readFile(write(kItx, lut)), itx);
        QCOMPARE(readFile(write(kDavLut, lut)), dav);
        // The order flags when the default order is off (BGR data, BGR table: red still fastest); no integer codes.
        QCOMPARE(readFile(write(kItx, lut, 1, ReversedOrder)), QByteArray("LUT_3D_SIZE 2\n0.000000 0.000000 0.000000\n0.000000 0.000000 0.500000\n"
                                                                          "0.000000 0.250000 0.000000\n0.000000 0.250000 0.500000\n0.125000 0.000000 0.000000\n"
                                                                          "0.125000 0.000000 0.500000\n0.125000 0.250000 0.000000\n0.125000 0.250000 0.500000\n"));
        QVERIFY(write(kItx, lut, 1024).isEmpty() && write(kDavLut, lut, 4095).isEmpty());
    }
    // Both layouts at 10, 12 and 16 bits and sizes of 2^k + 1 and between, read back here and by OpenColorIO within half a
    // code, in their own order and in the one the flags give; what they cannot hold is refused with no file.
    void threeDlWriters()
    {
        QVERIFY2(haveOcio(), "ociobakelut is not installed");
        QString error, mismatch;
        for (const int format : {kThreeDl, kFlame})
            for (const int size : {4, 10, 17})
                for (const int scale : {1023, 4095, 65535}) {
                    Read_LUTFile source, back, reversed;
                    fillPattern(source, size);
                    // White at the end: OpenColorIO takes the depth from the largest code, even after a mesh line.
                    std::fill_n(source.table3D[size - 1][size - 1][size - 1], 3, 1.0f);
                    // Half a code, and the six decimals of the cube files compared with.
                    const float tolerance = 0.5f + 1e-6f * scale + 1e-3f;
                    const QString file = write(format, source, scale), name = QStringLiteral("%1 %2 %3: ").arg(format).arg(size).arg(scale);
                    const QByteArray text = readFile(file), shaper = size == 4 ? "0 341 682 1023\n" : size == 17 ? "0 64 128 " : "0 114 227 ";
                    const QByteArray mesh = "3DMESH\nMesh " + QByteArray::number(size == 4 ? 1 : size == 10 ? 3 : 4) + ' '
                        + QByteArray::number(scale == 1023 ? 10 : scale == 4095 ? 12 : 16) + '\n';
                    QVERIFY2(format == kFlame ? text.startsWith(shaper) : text.startsWith(mesh + shaper) && text.endsWith("\nLUT8\ngamma 1.0\n"),
                             qPrintable(name + text.left(80)));
                    QVERIFY2(io(format, file, back) && back.size3D == size, qPrintable(name + back.errorString));
                    QVERIFY2((mismatch = compareWithBake(back, write(kItx, source), scale, tolerance)).isEmpty(), qPrintable(name + mismatch));
                    const QString cube = file + QStringLiteral(".cube");
                    QVERIFY2(ociobake(file, QStringLiteral("iridas_cube"), size, cube, &error), qPrintable(name + error));
                    QVERIFY2((mismatch = compareWithBake(source, cube, scale, tolerance)).isEmpty(), qPrintable(name + mismatch));
                    // BGR data, BGR table: red fastest on each line, red last.
                    QVERIFY(io(format, write(format, source, scale, ReversedOrder), reversed, ReversedOrder) && reversed.size3D == size);
                    QVERIFY2((mismatch = compareWithBake(reversed, write(kItx, source), scale, tolerance)).isEmpty(), qPrintable(name + mismatch));
                }
        Read_LUTFile small, dark;
        fillPattern(small, 3);
        fillPattern(dark, 4);
        for (int i = 0; i < 3 * 64; ++i)
            dark.table3D.data()[i] *= 0.4f;
        const struct { int format; Read_LUTFile *lut; int scale; const char *reason; } refused[] = {
            {kThreeDl, &small, 4095, "4 points per axis or more, not 3"}, {kFlame, &small, 4095, "not 3"},
            {kThreeDl, &dark, 1, "not reals"}, {kFlame, &dark, 255, "not codes of scale 255"}, {kThreeDl, &dark, 2000, "scale 2000"},
            {kFlame, &dark, 4095, "largest code, 537, is below half of 4095"}}; // 0.4 x 21/64 x 4095
        for (const auto &r : refused) {
            LutFileOptions o;
            o.path = path(r.format), o.format = LutFormatId(r.format), o.outputScale = r.scale;
            Write_LUTFile writer;
            QVERIFY2(!writer.writeLut(o, r.lut) && writer.errorString.contains(QLatin1String(r.reason)) && !QFile::exists(o.path),
                     qPrintable(writer.errorString));
        }
        // Lustre's layout states the depth: a dark table reads back.
        Read_LUTFile back;
        QVERIFY(io(kThreeDl, write(kThreeDl, dark, 4095), back) && (mismatch = compareWithBake(back, write(kItx, dark), 4095, 0.501f)).isEmpty());
    }
    void readCases()
    {
        std::vector<Case> cases;
        // Text before the size line, comments and blanks are no data; short lines keep channels; clamped; last entry may be missing.
        const QByteArray body = "0.1 0.2 0.3\n# note\n\n0.4 0.5 0.6\n" + rep("1 1 1\n", 6);
        const std::vector<Probe> bodyProbes = {{0, 0, 0.1f}, {0, 2, 0.3f}, {1, 0, 0.4f}, {1, 1, 0.5f}, {1, 2, 0.6f}, {7, 1, 1}};
        for (const int f : {kItx, kDavLut}) {
            const QByteArray key = f == kItx ? "LUT_3D_SIZE" : "3DLUTSIZE", other = f == kItx ? "3DLUTSIZE" : "LUT_3D_SIZE";
            cases.push_back({f, "TITLE x\n# c\n\n9 9 9\n" + key + " 2\n" + body, 2, bodyProbes});
            cases.push_back({f, "  " + key + "2  \n" + body, 2, bodyProbes});
            cases.push_back({f, key + " 2\n0.5 0.5 0.5\nnothing here\n0.1 0.2\n1.5 -2 0.25\n" + rep("0 0 0\n", 5), 2,
                             {{1, 0, 0.1f}, {1, 1, 0.2f}, {1, 2, 0.5f}, {2, 0, 1}, {2, 1, 0}, {2, 2, 0.25f}}});
            cases.push_back({f, key + " 2\n" + rep("0.5 0.5 0.5\n", 7), 2, {{6, 0, 0.5f}, {7, 0, 0}}});
            cases.push_back({f, key + " 2\n" + rep("0.5 0.5 0.5\n", 6), 0, {}, "6 of 8"});
            cases.push_back({f, key + " 17\n", 17, {}, "", HeaderOnly});
            for (const QByteArray &head : {key, key + " 0", key + " -3", key + " 257", key + " 2147483647", key + " 99999999999",
                                           key + " abc", key + "\t", QByteArray(), key.toLower() + " 2", other + " 2"})
                cases.push_back({f, head + "\n" + rep("0 0 0\n", 8), 0, {}}); // no size, bad or huge sizes
        }
        cases.push_back({kThreeDl, "Mesh 4 12\n0 1 2\n", 17, {}, "", HeaderOnly});
        // Without a mesh line the range is the smallest 2^k - 1 that holds the largest value.
        const std::pair<const char *, float> depths[] = {{"1000", 1023}, {"1023", 1023}, {"2048", 4095}, {"40000", 65535},
                                                         {"70000", 65535}, {"1.0", 3}, {"4.5", 7}, {"0.1", 1}};
        for (const auto &d : depths)
            cases.push_back({kThreeDl, "0 1023\n0.05 0 0\n" + rep("0 0 0\n", 6) + "0 0 " + d.first + "\n", 2,
                             {{0, 0, 0.05f / d.second}, {7, 2, std::min(QByteArray(d.first).toFloat(), d.second) / d.second}}});
        // Comments, 3DMESH, LUT8, gamma: no entries; a bad first field skips the line (no range from 9000), a later one keeps the value.
        cases.push_back({kThreeDl, "# c\n3DMESH\n0 1023\n\n100 200 300\nx 9000 9000\n# c\n400 y 600\nLUT8\n" + rep("0 0 0\n", 5)
                             + "1000 1000 1000\ngamma 1.0\n", 2,
                         {{0, 2, 300 / 1023.f}, {1, 0, 400 / 1023.f}, {1, 1, 200 / 1023.f}, {1, 2, 300 / 1023.f}, {7, 1, 1000 / 1023.f}}});
        cases.push_back({kThreeDl, "0 7\n1 2 3\n" + rep("0 0 0\n", 6) + "7 7 7\n", 2, {{0, 0, 3 / 7.f}, {0, 2, 1 / 7.f}}, "", ReversedOrder});
        // A three-field shaper line is data, so a 3-point cube needs a mesh line.
        cases.push_back({kThreeDl, "0 512 1023\n" + rep("1 1 1\n", 27), 0, {}});
        cases.push_back({kThreeDl, "Mesh 1 10\n0 512 1023\n" + rep("1023 0 0\n", 27), 3, {{0, 0, 0}, {1, 0, 1}}});
        // Mesh depth wins over the data's; with one number the data's; with no range at all, values as read (no NaN).
        cases.push_back({kThreeDl, "Mesh 1 12\n" + rep("1000 0 0\n", 27), 3, {{14, 0, 1000 / 4095.f}}});
        cases.push_back({kThreeDl, "Mesh 1\n" + rep("500 0 0\n", 27), 3, {{13, 0, 500 / 511.f}}});
        cases.push_back({kThreeDl, "Mesh 1\n" + rep("0.05 0 0.1\n", 27), 3, {{19, 0, 0.05f}, {19, 2, 0.1f}, {0, 1, 0}}});
        // A later mesh line wins over a shaper line and replaces an earlier mesh's table; a mesh before the shaper wins too.
        cases.push_back({kThreeDl, "0 10 20 30 40\nMesh 3 10\nMesh 1 10\n" + rep("1023 1023 1023\n", 27), 3, {{26, 0, 1}}});
        cases.push_back({kThreeDl, "Mesh 1 12\n0 10 20 30 40\n" + rep("4095 0 0\n", 27), 3, {{1, 0, 1}}});
        cases.push_back({kThreeDl, "Mesh 1 10\n" + rep("1023 1023 1023\n", 26), 3, {{25, 0, 1}, {26, 0, 0}}});
        // Right after a mesh line, a shaper line of more codes than the mesh's points, up to the next depth's, gives the
        // size: writers round the depth down (10 points are "Mesh 3", and so are 16).
        cases.push_back({kThreeDl, "3DMESH\nMesh 3 12\n" + rep("0 ", 10) + "\n" + rep("4095 0 0\n", 1000) + "LUT8\n", 10, {{999, 0, 1}}});
        cases.push_back({kThreeDl, "Mesh 3 12\n" + rep("0 ", 16) + "\n" + rep("4095 0 0\n", 4096), 16, {{4095, 0, 1}}});
        cases.push_back({kThreeDl, "Mesh 1 10\n" + rep("1023 1023 1023\n", 25), 0, {}, "25 of 27"});
        // Lines past the last entry are not stored, but their 5 selects the range 7.
        cases.push_back({kThreeDl, "0 1\n" + rep("1 1 1\n", 8) + "bogus bogus bogus\n5 5 5\n", 2, {{7, 0, 1 / 7.f}}});
        for (const QByteArray &head : std::initializer_list<QByteArray>{"Mesh\n0 1\n", "Mesh4 12\n0 1\n", "0 1\ngamma\n", "0 1\ngamma x\n", "",
                 "Mesh 9 12\n", "Mesh 1000 12\n", "Mesh 2147483647 12\n", "Mesh 1 -4\n", "Mesh 1 4000\n", rep("1 ", 300) + "\n"})
            cases.push_back({kThreeDl, head + rep("0 0 0\n", 27), 0, {}}); // no size, bad mesh or gamma lines, bounds
        cases.push_back({kThreeDl, QByteArray(), 0, {}});
        for (size_t i = 0; i < cases.size(); ++i) {
            const Case &c = cases[i];
            const QString name = QStringLiteral("case %1 (format %2)").arg(i).arg(c.format);
            Read_LUTFile lut;
            const bool ok = io(c.format, writeFile(path(c.format), c.text), lut, c.mode);
            QVERIFY2(ok == (c.size > 0), qPrintable(name + ": " + lut.errorString));
            QVERIFY2(ok || (!lut.errorString.isEmpty() && lut.errorString.contains(QLatin1String(c.error))), qPrintable(name));
            if (!ok) continue;
            QVERIFY2(lut.size3D == c.size && (c.mode == HeaderOnly ? lut.table3D.isNull() : lut.table3D.size() == c.size), qPrintable(name));
            QVERIFY2(lut.domainMax3D[0] == 1.0f && lut.domainMax3D[2] == 1.0f && lut.domainMin3D[1] == 0.0f, qPrintable(name));
            for (const Probe &p : c.probes) {
                const int n = c.size, a = p.line / n / n, b = p.line / n % n, cc = p.line % n;
                const float got = c.format == kItx ? lut.table3D[cc][b][a][p.ch] : lut.table3D[a][b][cc][p.ch];
                QVERIFY2(std::fabs(got - p.v) <= 1e-6f, qPrintable(name + QStringLiteral(" line %1[%2]: %3 vs %4").arg(p.line).arg(p.ch).arg(got).arg(p.v)));
            }
        }
        // Binary junk after any header: whatever is taken from it, the table matches its size, or a reason is given.
        QRandomGenerator random(7);
        const char *prefixes[] = {"", "LUT_3D_SIZE 3\n", "3DLUTSIZE 3\n", "Mesh 1 10\n", "0 1\n"};
        for (int round = 0; round < 120; ++round) {
            QByteArray junk = prefixes[round % 5];
            for (int i = random.bounded(1, 5000); i > 0; --i) junk += char(random.bounded(256));
            Read_LUTFile lut;
            const int format = round % 3 == 0 ? kItx : round % 3 == 1 ? kDavLut : kThreeDl;
            QVERIFY(io(format, writeFile(path(format), junk), lut) ? lut.table3D.size() == lut.size3D : !lut.errorString.isEmpty());
            QVERIFY(!io(format, m_dir.filePath(QStringLiteral("missing")), lut) && !lut.errorString.isEmpty());
        }
    }
    // OpenColorIO reads our itx to our values; its itx, flame and lustre bakes of corpus cubes read to its cube bake's (3dl: one 12-bit code).
    // (Our 3dl and flame files against it: threeDlWriters.)
    void ocioAgrees()
    {
        QVERIFY2(haveOcio(), "ociobakelut is not installed");
        QString error, mismatch;
        for (const int size : {2, 5, 17}) {
            Read_LUTFile source;
            fillPattern(source, size);
            const QString itx = write(kItx, source), cube = itx + QStringLiteral(".cube");
            QVERIFY2(ociobake(itx, QStringLiteral("iridas_cube"), size, cube, &error), qPrintable(error));
            QVERIFY2((mismatch = compareWithBake(source, cube, 1.0f, 2e-6f)).isEmpty(), qPrintable(mismatch));
        }
        if (corpusDir().isEmpty()) QSKIP("the LUT corpus is not available");
        const QDir dir(corpusDir() + QStringLiteral("/colour-science/iridas_cube"));
        const struct { const char *name; int id; float scale, tolerance; } formats[] = {
            {"iridas_itx", kItx, 1.0f, 1e-6f}, {"flame", kThreeDl, 4095.0f, 1.0f}, {"lustre", kThreeDl, 4095.0f, 1.0f}};
        int compared = 0;
        for (const QString &name : dir.entryList({QStringLiteral("*.cube")}, QDir::Files, QDir::Name)) {
            const QString file = dir.filePath(name);
            if (!readFile(file).contains("LUT_3D_SIZE") || readFile(file).contains("LUT_1D_SIZE")) continue;
            for (const int size : {2, 5, 10, 17}) { // 10: "Mesh 3", rounded down
                const QString cube = path(kItx) + QStringLiteral(".cube");
                QVERIFY2(ociobake(file, QStringLiteral("iridas_cube"), size, cube, &error), qPrintable(error));
                const std::vector<float> ref = parseCubeText(cube).values;
                for (const auto &format : formats) {
                    if (format.name[0] == 'f' && *std::max_element(ref.begin(), ref.end()) < 0.5f)
                        continue; // flame gives no depth: below half scale the reader takes a smaller range
                    const QString out = path(format.id);
                    Read_LUTFile lut;
                    QVERIFY2(ociobake(file, QLatin1String(format.name), size, out, &error), qPrintable(error));
                    QVERIFY2(io(format.id, out, lut), qPrintable(lut.errorString));
                    QVERIFY2((mismatch = compareWithBake(lut, cube, format.scale, format.tolerance)).isEmpty(),
                             qPrintable(name + ' ' + format.name + ' ' + mismatch));
                    compared += format.id == kThreeDl;
                }
            }
        }
        QVERIFY(compared >= 4);
    }
};

QTEST_GUILESS_MAIN(TestFormatsItxDavLut3dl)
#include "test_formats_itx_davlut_3dl.moc"
