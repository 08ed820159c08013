// The csp and Truelight readers: synthetic files, bad input, OpenColorIO bakes and the corpus; their writers' shapers,
// input spans and metadata.

#include "TestSupport.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

namespace {

constexpr int kCsp = 9, kTruelight = 10;
using Rgb = std::array<float, 3>; Rgb at(const float *e) { return {{e[0], e[1], e[2]}}; }
float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }
QByteArray num(double v) { return QByteArray::number(v); }
bool readAs(Read_LUTFile &lut, const QString &path, int format, bool defaultOrder = true)
{ LutFileOptions options{path, LutFormatId(format), defaultOrder}; return lut.readLut(options, false); }

// Lines of count entries: entry i (red fastest in a cube) is f(i).
template <typename F> QByteArray entries(int count, F f)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += num(f(i)[0]) + ' ' + num(f(i)[1]) + ' ' + num(f(i)[2]) + '\n';
    return text;
}
const QByteArray kHead3D = "CSPLUTV100\n3D\n\nBEGIN METADATA\nsome text\nEND METADATA\n\n";

// A csp pre-LUT whose output values run from 0 to 1, for green to maxG.
QByteArray preLut(float maxG = 1)
{ return "3\n0.0 0.5 1.0\n0.0 0.5 1\n3\n0.0 0.5 1.0\n0.0 " + num(maxG / 2) + ' ' + num(maxG) + "\n3\n0.0 0.5 1.0\n0.0 0.5 1\n\n"; }

// Truelight: width n, input LUT of l entries over 0..n, cube (r, g, b) / (n - 1) + offset on red.
QByteArray truelightText(int n, int l, float offset = 0)
{
    const float s = 1.0f / (n - 1);
    return "# Truelight Cube v2.0\n# iDims 3\n# oDims 3\n# width " + num(n) + ' ' + num(n) + ' ' + num(n) + "\n# lutLength " + num(l)
        + "\n\n# InputLUT\n" + entries(l, [&](int i) { const float x = i * float(n) / (l - 1); return Rgb{{x, x, x}}; })
        + "\n# Cube\n" + entries(n * n * n, [&](int i) { return Rgb{{i % n * s + offset, i / n % n * s, i / n / n * s}}; }) + "# End\n";
}

// Checks the cube against OCIO's (red fastest, clamped as the readers clamp).
void compareCube(const QString &name, const Read_LUTFile &lut, const TestSupport::CubeText &ocio, int n)
{
    QVERIFY2(ocio.values.size() == size_t(3 * n * n * n), qPrintable(name + ": no OCIO cube"));
    for (size_t i = 0; i < ocio.values.size(); ++i) {
        const int r = i / 3 % n, g = i / 3 / n % n, b = i / 3 / n / n, k = i % 3;
        const float want = clamp01(ocio.values[i]), got = lut.table3D[r][g][b][k];
        if (std::fabs(got - want) > 2e-5f)
            QFAIL(qPrintable(name + QStringLiteral(" [%1][%2][%3][%4]: %5, OCIO %6").arg(r).arg(g).arg(b).arg(k).arg(got).arg(want)));
    }
}

// A csp file's type, size line, and which channels have an identity pre-LUT on 0..1.
struct CspLayout { bool is3D, sizesEqual, id[3]; int size; };
CspLayout layoutOf(const QString &path)
{
    const QList<QByteArray> lines = TestSupport::readFile(path).split('\n');
    QList<QByteArray> f; // the non-blank lines after the metadata: count, in, out (three times), size
    for (int i = lines.indexOf("END METADATA") + 1; i > 0 && i < lines.size(); ++i)
        if (!lines[i].trimmed().isEmpty())
            f.append(lines[i].simplified());
    const QList<QByteArray> size = f.value(9).split(' ');
    CspLayout layout{lines.value(1).trimmed() == "3D", size.count(size[0]) == size.size(), {}, size[0].toInt()};
    const auto floats = [&](int i) { QVector<float> v; for (const QByteArray &x : f.value(i).split(' ')) v.append(x.toFloat()); return v; };
    for (int c = 0; c < 3; ++c)
        layout.id[c] = floats(3 * c + 1) == floats(3 * c + 2) && floats(3 * c + 2).first() == 0 && floats(3 * c + 2).last() == 1;
    return layout;
}

} // namespace

class TestFormatCspTruelight : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    bool read(Read_LUTFile &lut, int format, const QByteArray &text, bool defaultOrder = true)
    { return readAs(lut, TestSupport::writeFile(m_dir.filePath(format == kCsp ? "t.csp" : "t.cub"), text), format, defaultOrder); }
    TestSupport::CubeText ocioCube(const QString &source, int n) // OCIO's bake of source as an n-point cube
    {
        const QString out = m_dir.filePath(QFileInfo(source).fileName() + QString::number(n) + ".cube"); // fresh: no stale bake
        return TestSupport::ociobake(source, "iridas_cube", n, out) ? TestSupport::parseCubeText(out) : TestSupport::CubeText();
    }

private slots:
    // The pre-LUT output range is the domain: a cube's green is clamped to 0..0.5 and divided by 0.5; 1D values
    // are divided by the width, the minimum not subtracted; under the default order a 1D line keeps its channel order.
    void readsSyntheticFiles()
    {
        const auto f = [](int i) { return Rgb{{i % 3 * 0.6f - 0.1f, i / 3 % 3 * 0.3f, i / 9 * 0.25f}}; };
        Read_LUTFile lut, lut1D, lineOrder;
        QVERIFY2(read(lut, kCsp, kHead3D + preLut(0.5f) + "3 3 3\n" + entries(27, f)) && lut.size3D == 3, qPrintable(lut.errorString));
        QCOMPARE(Rgb({lut.domainMax3D[0], lut.domainMin3D[1], lut.domainMax3D[1]}), Rgb({1.0f, 0.0f, 0.5f}));
        for (int i = 0; i < 27; ++i)
            QCOMPARE(at(lut.table3D[i % 3][i / 3 % 3][i / 9]), Rgb({clamp01(f(i)[0]), std::min(f(i)[1], 0.5f) / 0.5f, f(i)[2]}));
        const QByteArray text = "CSPLUTV100\n1D\nBEGIN METADATA\nEND METADATA\n2\n0 1\n0 2\n2\n0 1\n0 1\n2\n0 1\n-1 1\n\n5\n"
                                "0 0 0\n0.5 0.375 0.25\n1 0.75 0.5\n1.5 1.125 0.75\n2 1.5 1\n";
        QVERIFY2(read(lut1D, kCsp, text, false) && lut1D.size3D == 0 && lut1D.size1D == 5, qPrintable(lut1D.errorString));
        QCOMPARE(at(lut1D.table1D[4]), Rgb({1.0f, 1.0f, 0.5f}));
        QCOMPARE(at(lut1D.table1D[1]), Rgb({0.25f, 0.375f, 0.125f}));
        QCOMPARE(Rgb({lut1D.domainMin1D[2], lut1D.domainMax1D[0], lut1D.domainMax1D[2]}), Rgb({-1.0f, 1.0f, 1.0f}));
        QVERIFY(read(lineOrder, kCsp, text, true));
        QCOMPARE(at(lineOrder.table1D[4]), Rgb({1.0f, 1.0f, 0.5f}));

        // Entry lines scan like scanf (short lines keep channels); only the last entry may be missing.
        const QByteArray head = kHead3D + preLut() + "2 2 2\n", seven = QByteArray("0.5 0.5 0.5\n").repeated(7);
        Read_LUTFile lines, one, two;
        QVERIFY(read(lines, kCsp, head + "0.1 0.2 0.3 0.9\na comment 0.5 0.5 0.5\n\n0.4 x 0.6\n0.7 0.8 0.9 text\n"
                                          "0.15 0.25\n0 0 0\n0 0 0\n0 0 0\n1 1 1\n"));
        QCOMPARE(at(lines.table3D[1][0][0]), Rgb({0.4f, 0.2f, 0.3f}));
        QCOMPARE(at(lines.table3D[1][1][0]), Rgb({0.15f, 0.25f, 0.9f}));
        QCOMPARE(at(lines.table3D[1][1][1]), Rgb({1, 1, 1}));
        QVERIFY(read(one, kCsp, head + seven) && one.table3D[1][1][1][0] == 0.0f && one.table3D[0][1][1][0] == 0.5f);
        QVERIFY(!read(two, kCsp, head + seven.left(seven.size() - 12)) && two.errorString.contains(QLatin1String("ends")));

        // Truelight: input LUT divided by N; cube clamped; a second width line wins.
        Read_LUTFile tl, twice;
        QVERIFY2(read(tl, kTruelight, truelightText(5, 64, 0.3f)), qPrintable(tl.errorString));
        QVERIFY(tl.size3D == 5 && tl.size1D == 64 && tl.table1D[63][0] == 1.0f && std::fabs(tl.table1D[32][1] - float(32.0 / 63)) < 1e-5f);
        QCOMPARE(at(tl.table3D[3][1][2]), Rgb({1.0f, 0.25f, 0.5f}));
        QCOMPARE(at(tl.table3D[1][4][0]), Rgb({0.55f, 1.0f, 0.0f}));
        QCOMPARE(Rgb({tl.domainMax3D[2], tl.domainMax1D[0], tl.domainMax1D[2]}), Rgb({1, 1, 1}));
        QVERIFY(read(twice, kTruelight, truelightText(3, 4).replace("# lutLength", "# width 64 64 64\n# width 3 3 3\n# lutLength"))
                && twice.size3D == 3 && twice.table3D.size() == 3 && twice.table3D[2][1][0][1] == 0.5f);
    }

    void refusesBadFiles_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("text");
        const QByteArray meta = "BEGIN METADATA\nEND METADATA\n", body = preLut() + "2 2 2\n" + QByteArray("0.5 0 1\n").repeated(8);
        const QByteArray d3 = "CSPLUTV100\n3D\n" + meta, tl = truelightText(2, 2), full = truelightText(3, 8);
        const auto size = [&](const char *line) { return d3 + QByteArray(body).replace("2 2 2", line); };
        const auto cub = [&](const char *from, const char *to) { return QByteArray(tl).replace(from, to); };
        const QList<std::tuple<const char *, int, QByteArray>> rows = {
            {"csp blank before tag", kCsp, "\n" + d3 + body}, {"csp blank before type", kCsp, "CSPLUTV100\n\n3D\n" + meta + body},
            {"csp metadata never ends", kCsp, "CSPLUTV100\n3D\nBEGIN METADATA\n" + body},
            {"csp truncated pre-LUT", kCsp, d3 + "2\n0 1\n0 1\n2\n0 1\n"}, {"csp flat pre-LUT output", kCsp, d3 + preLut(0) + body.mid(preLut().size())},
            {"csp unequal sizes", kCsp, size("33 33 17")}, {"csp cube size above bound", kCsp, size("2000 2000 2000")},
            {"csp 1D size negative", kCsp, size("-4").replace("3D", "1D")}, {"csp no data", kCsp, d3 + preLut() + "2 2 2\n"},
            {"csp binary junk", kCsp, QByteArray("CSPLUTV100\n3D\n\x00\xff\xfe\x01\x02\x80\n\x00\x00", 23)},
            {"cub unequal width", kTruelight, cub("# width 2 2 2", "# width 33 33 17")}, {"cub iDims 2", kTruelight, cub("# iDims 3", "# iDims 2")},
            {"cub width above bound", kTruelight, cub("# width 2 2 2", "# width 5000 5000 5000")},
            {"cub lutLength above bound", kTruelight, cub("# lutLength 2", "# lutLength 2000000000")},
            {"cub no width or lutLength", kTruelight, cub("# width", "#width").replace("# lutLength", "#lutLength")},
            // A table whose section never comes would be all zero.
            {"cub no width: input LUT unread", kTruelight, cub("# width", "#width")},
            {"cub End before Cube", kTruelight, cub("\n# Cube\n", "\n# End\n# Cube\n")}, {"cub no Cube", kTruelight, cub("# Cube", "# Cub")},
            {"cub truncated cube", kTruelight, full.left(full.indexOf("# Cube") + 40)},
            {"cub truncated input LUT", kTruelight, full.left(full.indexOf("# InputLUT") + 20)},
            {"cub binary junk", kTruelight, QByteArray("# width \xff\x00\x01 3 3\n\x80\x81\x00#\n", 21)}};
        for (const auto &row : rows)
            QTest::newRow(std::get<0>(row)) << std::get<1>(row) << std::get<2>(row);
    }
    void refusesBadFiles()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, text);
        Read_LUTFile lut;
        QVERIFY(!read(lut, format, text) && !lut.errorString.isEmpty());
    }

    // A read for baking keeps the file's values and its input spans: written from it, a csp pre-LUT holds the spans (and
    // a 1D table in front of the cube), a Truelight input LUT the spans over 0..1, so OpenColorIO reads the file written
    // as it reads the source. The metadata names the source on one line.
    void writersKeepSpans()
    {
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut is missing");
        const auto grade = [](int i, int n) { const float s = 1.0f / (n - 1); return Rgb{{1.3f * (i % n) * s - 0.1f, i / n % n * s * (0.5f + 0.2f * (i % n) * s), i / n / n * s}}; };
        const QByteArray domain = "DOMAIN_MIN -0.5 0 0\nDOMAIN_MAX 1.5 2 1\nLUT_3D_SIZE 3\n" + entries(27, [&](int i) { return grade(i, 3); });
        const QByteArray shaped = "LUT_1D_SIZE 5\nLUT_1D_INPUT_RANGE -0.1 1.4\nLUT_3D_SIZE 3\nLUT_3D_INPUT_RANGE -0.2 1.2\n"
            + entries(5, [](int i) { return Rgb{{0.3f * i - 0.2f, 0.1f + 0.25f * i * i / 4, 0.3f * i}}; }) + entries(27, [&](int i) { return grade(i, 3); });
        const struct { const char *name; QByteArray text; const char *to; } files[] = {
            {"domain\x01 one.cube", domain, "csp"}, {"domain.cube", domain, "cub"}, {"shaped.cube", shaped, "csp"}};
        for (const auto &f : files) {
            const QString source = TestSupport::writeFile(m_dir.filePath(f.name), f.text), out = m_dir.filePath(QStringLiteral("spans-%1.%2").arg(QFileInfo(source).completeBaseName().size()).arg(f.to));
            Read_LUTFile lut;
            LutFileOptions options{source, LutFormatId::Cube};
            options.bake = true;
            QVERIFY2(lut.readLut(options, false), qPrintable(lut.errorString));
            LutFileOptions o{out, LutFormatId(f.to[1] == 's' ? kCsp : kTruelight)};
            o.sourcePath = source;
            Write_LUTFile writer;
            QVERIFY2(writer.writeLut(o, &lut), qPrintable(writer.errorString));
            const QByteArray text = TestSupport::readFile(out);
            QVERIFY(o.format != LutFormatId::Csp || text.contains("BEGIN METADATA\nConverted from " + QByteArray(f.name).replace('\x01', ' ') + "\nEND"));
            const TestSupport::CubeText want = ocioCube(source, 17), got = ocioCube(out, 17);
            QVERIFY2(want.values.size() == 3 * 17 * 17 * 17 && got.values.size() == want.values.size(), f.name);
            for (size_t i = 0; i < want.values.size(); ++i)
                QVERIFY2(std::fabs(got.values[i] - want.values[i]) <= 5e-6f,
                         qPrintable(QStringLiteral("%1 -> %2 [%3]: %4, OCIO %5").arg(f.name, f.to).arg(i).arg(got.values[i]).arg(want.values[i])));
        }
    }

    // A plain reading divides a csp table by its pre-LUT's outputs: where they do not span 0..1 the pre-LUT cannot
    // stand in front of the tables read, and a --plain conversion writes the identity and says what it left out;
    // the default reading keeps the pre-LUT and the file means what its source means to OpenColorIO.
    void frontOfPlainReadings()
    {
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut is missing");
        const QByteArray half = "2\n0 1\n0 0.5\n";
        const QByteArray files[] = {"CSPLUTV100\n1D\n" + half + half + half + "3\n0 0 0\n0.2 0.3 0.4\n0.5 0.6 0.7\n",
                                    "CSPLUTV100\n3D\n" + half + half + half + "2 2 2\n" + entries(8, [](int i) { return Rgb{{float(i % 2), float(i / 2 % 2), float(i / 4)}}; })};
        for (const QByteArray &text : files) {
            const QString source = TestSupport::writeFile(m_dir.filePath("half.csp"), text), out = m_dir.filePath("half-out.csp");
            for (bool bake : {false, true}) {
                Read_LUTFile lut;
                LutFileOptions options{source, LutFormatId::Csp};
                options.bake = bake;
                QVERIFY2(lut.readLut(options, false), qPrintable(lut.errorString));
                QCOMPARE(Write_LUTFile::frontWritable(lut, lut.size3D > 0), bake);
                const TestSupport::ProcessResult r = TestSupport::runConvert({bake ? "--bake" : "--plain", source, out});
                QVERIFY2(r.exitCode == 0 && r.err.contains("csp pre-LUT not applied") != bake, r.err.constData());
                QCOMPARE(TestSupport::readFile(out).contains("0.000000 0.500000\n"), bake);
                if (bake) {
                    const TestSupport::CubeText want = ocioCube(source, 5), got = ocioCube(out, 5);
                    QVERIFY(want.values.size() == 3 * 125 && got.values.size() == want.values.size());
                    for (size_t i = 0; i < want.values.size(); ++i)
                        QVERIFY2(std::fabs(got.values[i] - want.values[i]) <= 5e-6f, qPrintable(QString::number(i)));
                }
            }
        }
    }

    // OCIO's csp (9 points) and Truelight (17) bakes of corpus cubes read as OCIO's cube bake; corpus csp
    // files read as OCIO reads them where the pre-LUT is the identity (its curve is not applied).
    void matchesOpenColorIO()
    {
        if (TestSupport::corpusDir().isEmpty())
            QSKIP("the corpus is not there");
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut is missing");
        const QDir cubes(TestSupport::corpusDir() + "/colour-science/iridas_cube"), csps(TestSupport::corpusDir() + "/colour-science/cinespace");
        for (const QString &name : cubes.entryList({QStringLiteral("*.cube")}, QDir::Files, QDir::Name))
            for (const int n : {9, 17}) {
                const QString baked = m_dir.filePath(n == 9 ? "b.csp" : "b.cub");
                Read_LUTFile lut;
                QVERIFY2(TestSupport::ociobake(cubes.filePath(name), n == 9 ? "cinespace" : "truelight", n, baked)
                             && readAs(lut, baked, n == 9 ? kCsp : kTruelight) && lut.size3D == n, qPrintable(name + lut.errorString));
                compareCube(name, lut, ocioCube(cubes.filePath(name), n), n);
                // OCIO's Truelight input LUT is the identity on 0..N-1: its last entry is N-1 of N.
                QVERIFY(n == 9 || (lut.size1D > 1 && std::fabs(lut.table1D[lut.size1D - 1][0] - float(n - 1) / n) < 1e-5f));
            }
        int compared = 0;
        for (const QString &name : csps.entryList({QStringLiteral("*.csp")}, QDir::Files, QDir::Name)) {
            const CspLayout l = layoutOf(csps.filePath(name));
            Read_LUTFile lut;
            const bool ok = readAs(lut, csps.filePath(name), kCsp, l.is3D);
            QVERIFY2(ok == l.sizesEqual, qPrintable(name + ": " + lut.errorString));
            if (!ok)
                continue;
            QCOMPARE(l.is3D ? lut.size3D : lut.size1D, l.size);
            const int n = std::max(l.size, 2);
            const TestSupport::CubeText ocio = ocioCube(csps.filePath(name), n);
            QCOMPARE(int(ocio.values.size()), 3 * n * n * n);
            if (l.is3D && l.id[0] && l.id[1] && l.id[2] && ++compared)
                compareCube(name, lut, ocio, n);
            // A 1D table: OCIO's cube holds entry i of each channel at lattice point (i, i, i).
            for (int c = 0; c < 3 && !l.is3D; compared += l.id[c], ++c)
                for (int i = 0; i < l.size && l.id[c]; ++i)
                    QVERIFY2(std::fabs(lut.table1D[i][c] - clamp01(ocio.values[3 * size_t(i) * (1 + n + n * n) + c])) < 2e-5f,
                             qPrintable(name + QStringLiteral(" [%1][%2]").arg(i).arg(c)));
        }
        QVERIFY(compared >= 4);
        // The metadata block is optional: a file without one is the file with an empty one, here and in the peer.
        const QByteArray body = preLut() + "2 2 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 0.9 0.8\n";
        const QString bare = TestSupport::writeFile(m_dir.filePath("bare.csp"), "CSPLUTV100\n3D\n\n" + body);
        Read_LUTFile withBlock, without;
        QVERIFY(read(withBlock, kCsp, kHead3D + body) && readAs(without, bare, kCsp));
        for (int i = 0; i < 8; ++i)
            QCOMPARE(without.table3D[i >> 2][i >> 1 & 1][i & 1][0], withBlock.table3D[i >> 2][i >> 1 & 1][i & 1][0]);
        const TestSupport::ProcessResult ours = TestSupport::runConvert({"--size", "5", bare, m_dir.filePath("bare.cube")});
        QVERIFY2(ours.exitCode == 0, ours.err.constData());
        const TestSupport::CubeText peer = ocioCube(bare, 5), mine = TestSupport::parseCubeText(m_dir.filePath("bare.cube"));
        QCOMPARE(mine.values.size(), peer.values.size());
        for (size_t i = 0; i < peer.values.size(); ++i)
            QVERIFY2(std::fabs(mine.values[i] - peer.values[i]) < 1e-5f, qPrintable(QString::number(i)));
    }
};

QTEST_GUILESS_MAIN(TestFormatCspTruelight)
#include "test_format_csp_truelight.moc"
