// The csp and Truelight readers: synthetic files, bad input, OpenColorIO bakes and the corpus.

#include "TestSupport.h"
#include "lut/Read_LUTFile.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>

namespace {

template <int N> QByteArray bytes(const char (&text)[N]) { return QByteArray(text, N - 1); } // keeps embedded NULs

constexpr int kCsp = 9, kTruelight = 10;
using Rgb = std::array<float, 3>;
Rgb at(const float *e) { return {{e[0], e[1], e[2]}}; }
float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }
QByteArray num(double v) { return QByteArray::number(v); }
bool readAs(Read_LUTFile &lut, const QString &path, int format, bool defaultOrder = true)
{ LutFileOptions options{path, format, defaultOrder}; return lut.readLut(options, false); }

// Data of an n-point cube, red fastest: entry (r, g, b) is f(r, g, b).
template <typename F>
QByteArray cubeData(int n, F f)
{
    QByteArray text;
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                const Rgb v = f(r, g, b);
                text += num(v[0]) + ' ' + num(v[1]) + ' ' + num(v[2]) + '\n';
            }
    return text;
}

const QByteArray kHead3D = "CSPLUTV100\n3D\n\nBEGIN METADATA\nsome text\nEND METADATA\n\n";

// A csp pre-LUT whose output values run from 0 to the given maxima.
QByteArray preLut(float maxR = 1, float maxG = 1, float maxB = 1)
{
    QByteArray text;
    for (float top : {maxR, maxG, maxB})
        text += "3\n0.0 0.5 1.0\n0.0 " + num(top / 2) + ' ' + num(top) + "\n";
    return text + '\n';
}

// Truelight: width n, input LUT of l entries over 0..n, cube (r, g, b) / (n - 1) + offset on red.
QByteArray truelightText(int n, int l, float offset = 0, const QByteArray &extraHeader = QByteArray())
{
    QByteArray text = "# Truelight Cube v2.0\n# iDims 3\n# oDims 3\n# width " + num(n) + ' ' + num(n) + ' ' + num(n)
        + "\n# lutLength " + num(l) + '\n' + extraHeader + "\n# InputLUT\n";
    for (int i = 0; i < l; ++i)
        text += QByteArray(3, ' ').replace(" ", num(double(i) * n / (l - 1)) + ' ') + '\n';
    const float s = 1.0f / (n - 1);
    return text + "\n# Cube\n" + cubeData(n, [&](int r, int g, int b) { return Rgb{{r * s + offset, g * s, b * s}}; })
        + "# End\n";
}

// The first entry differing from OCIO's cube (red fastest, clamped as the readers clamp), or "".
QString cubeMismatch(const Read_LUTFile &lut, const TestSupport::CubeText &ocio, int n)
{
    if (ocio.values.size() != size_t(3 * n * n * n))
        return QStringLiteral(": no OCIO cube");
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r)
                for (int k = 0; k < 3; ++k) {
                    const float want = clamp01(ocio.values[3 * size_t((b * n + g) * n + r) + k]), got = lut.table3D[r][g][b][k];
                    if (std::fabs(got - want) > 2e-5f)
                        return QStringLiteral(" [%1][%2][%3][%4]: %5, OCIO %6").arg(r).arg(g).arg(b).arg(k).arg(got).arg(want);
                }
    return QString();
}

// A csp file's type, size line, and which channels have an identity pre-LUT on 0..1.
struct CspLayout { bool is3D = false, sizesEqual = true, identityShaper[3] = {false, false, false}; int size = 0; };
CspLayout layoutOf(const QString &path)
{
    CspLayout layout;
    const QList<QByteArray> lines = TestSupport::readFile(path).split('\n');
    layout.is3D = lines.value(1).trimmed() == "3D";
    QList<QList<QByteArray>> pre; // the six pre-LUT value lines
    for (int i = lines.indexOf("END METADATA") + 1; i > 0 && i < lines.size(); ++i) {
        const QList<QByteArray> f = lines[i].simplified().split(' ');
        if (pre.size() < 6 && f.size() >= 2)
            pre.append(f);
        else if (pre.size() == 6 && !f[0].isEmpty() && f.size() == (layout.is3D ? 3 : 1)) {
            layout.size = f[0].toInt();
            layout.sizesEqual = f.size() == 1 || (f[0] == f[1] && f[1] == f[2]);
            break;
        }
    }
    for (int c = 0; c < 3 && pre.size() == 6; ++c) {
        const QList<QByteArray> &in = pre[2 * c], &out = pre[2 * c + 1];
        bool same = in.size() == out.size() && out.first().toFloat() == 0.0f && out.last().toFloat() == 1.0f;
        for (int k = 0; same && k < in.size(); ++k)
            same = in[k].toFloat() == out[k].toFloat();
        layout.identityShaper[c] = same;
    }
    return layout;
}

} // namespace

class TestFormatCspTruelight : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    bool read(Read_LUTFile &lut, int format, const QByteArray &text, bool defaultOrder = true)
    {
        return readAs(lut, TestSupport::writeFile(m_dir.filePath(format == kCsp ? "t.csp" : "t.cub"), text), format, defaultOrder);
    }
    // OCIO's bake of source as an n-point cube.
    TestSupport::CubeText ocioCube(const QString &source, int n)
    {
        QFile::remove(m_dir.filePath("ocio.cube"));
        TestSupport::ociobake(source, QStringLiteral("iridas_cube"), n, m_dir.filePath("ocio.cube"));
        return TestSupport::parseCubeText(m_dir.filePath("ocio.cube"));
    }

private slots:
    // The pre-LUT output range is the domain: green is clamped to 0..0.5 and divided by 0.5.
    void cspCubeAgainstPreLutDomain()
    {
        const auto f = [](int r, int g, int b) { return Rgb{{r * 0.6f - 0.1f, g * 0.3f, b * 0.25f}}; };
        Read_LUTFile lut;
        QVERIFY2(read(lut, kCsp, kHead3D + preLut(1, 0.5f, 1) + "3 3 3\n" + cubeData(3, f)), qPrintable(lut.errorString));
        QCOMPARE(lut.size3D, 3);
        QCOMPARE(Rgb({lut.domainMax3D[0], lut.domainMin3D[1], lut.domainMax3D[1]}), Rgb({1.0f, 0.0f, 0.5f}));
        for (int r = 0; r < 3; ++r)
            for (int g = 0; g < 3; ++g)
                for (int b = 0; b < 3; ++b) {
                    const Rgb v = f(r, g, b);
                    QCOMPARE(at(lut.table3D[r][g][b]), Rgb({clamp01(v[0]), std::min(v[1], 0.5f) / 0.5f, v[2]}));
                }
    }

    // Entry lines scan like scanf (short lines keep channels); only the last entry may be missing.
    void cspDataLinesAndMissingEntries()
    {
        const QByteArray head = kHead3D + preLut() + "2 2 2\n", seven = QByteArray("0.5 0.5 0.5\n").repeated(7);
        Read_LUTFile lut, one, two;
        QVERIFY2(read(lut, kCsp, head + "0.1 0.2 0.3 0.9\na comment 0.5 0.5 0.5\n\n0.4 x 0.6\n0.7 0.8 0.9 text\n"
                                        "0.15 0.25\n0 0 0\n0 0 0\n0 0 0\n1 1 1\n"),
                 qPrintable(lut.errorString));
        QCOMPARE(at(lut.table3D[1][0][0]), Rgb({0.4f, 0.2f, 0.3f}));
        QCOMPARE(at(lut.table3D[1][1][0]), Rgb({0.15f, 0.25f, 0.9f}));
        QCOMPARE(at(lut.table3D[1][1][1]), Rgb({1, 1, 1}));
        QVERIFY(read(one, kCsp, head + seven));
        QCOMPARE(one.table3D[1][1][1][0], 0.0f);
        QCOMPARE(one.table3D[0][1][1][0], 0.5f);
        QVERIFY(!read(two, kCsp, head + seven.left(seven.size() - 12)));
        QVERIFY(two.errorString.contains(QLatin1String("ends")));
    }

    // 1D values are divided by the pre-LUT width, minimum not subtracted; default order reverses.
    void csp1DTableAndOrder()
    {
        QByteArray text = "CSPLUTV100\n1D\nBEGIN METADATA\nEND METADATA\n2\n0 1\n0 2\n2\n0 1\n0 1\n2\n0 1\n-1 1\n\n5\n";
        for (int i = 0; i < 5; ++i)
            text += num(i / 2.0) + ' ' + num(i * 1.5 / 4) + ' ' + num(i / 4.0) + '\n';
        Read_LUTFile lut, reversed;
        QVERIFY2(read(lut, kCsp, text, false), qPrintable(lut.errorString));
        QVERIFY(lut.size3D == 0 && lut.size1D == 5);
        QCOMPARE(at(lut.table1D[4]), Rgb({1.0f, 1.0f, 0.5f}));
        QCOMPARE(at(lut.table1D[1]), Rgb({0.25f, 0.375f, 0.125f}));
        QCOMPARE(Rgb({lut.domainMin1D[2], lut.domainMax1D[0], lut.domainMax1D[2]}), Rgb({-1.0f, 1.0f, 1.0f}));
        QVERIFY(read(reversed, kCsp, text, true));
        QCOMPARE(at(reversed.table1D[4]), Rgb({0.5f, 1.0f, 1.0f}));
    }

    // Input LUT divided by N; cube clamped; "#width" is no keyword; "End" stops, "end" does not.
    void truelightSectionsAndKeywords()
    {
        Read_LUTFile lut, lut1D, none, dims, ended, lower, twice;
        QVERIFY2(read(lut, kTruelight, truelightText(5, 64, 0.3f)), qPrintable(lut.errorString));
        QCOMPARE(lut.size3D * 100 + lut.size1D, 564);
        QCOMPARE(lut.table1D[63][0], 1.0f);
        QVERIFY(std::fabs(lut.table1D[32][1] - float(32.0 / 63)) < 1e-5f);
        QCOMPARE(at(lut.table3D[3][1][2]), Rgb({1.0f, 0.25f, 0.5f}));
        QCOMPARE(at(lut.table3D[1][4][0]), Rgb({0.55f, 1.0f, 0.0f}));
        QCOMPARE(Rgb({lut.domainMax3D[2], lut.domainMax1D[0], lut.domainMax1D[2]}), Rgb({1, 1, 1}));

        const QByteArray base = truelightText(2, 2, 0.5f), noWidth = QByteArray(base).replace("# width", "#width");
        QVERIFY(read(lut1D, kTruelight, noWidth) && lut1D.size3D == 0 && lut1D.size1D == 2);
        QVERIFY(!read(none, kTruelight, QByteArray(noWidth).replace("# lutLength", "#lutLength")));
        QVERIFY(!read(dims, kTruelight, QByteArray(base).replace("# iDims 3", "# iDims 2")));
        QVERIFY(read(ended, kTruelight, QByteArray(base).replace("\n# Cube\n", "\n# End\n# Cube\n")));
        QCOMPARE(ended.table3D[1][1][1][0], 0.0f);
        QVERIFY(read(lower, kTruelight, QByteArray(base).replace("\n# Cube\n", "\n# end\nstray text\n# Cube\n")));
        QCOMPARE(lower.table3D[1][0][0][0], 1.0f);
        QVERIFY(read(twice, kTruelight, truelightText(3, 4, 0, "# width 64 64 64\n# width 3 3 3\n")));
        QVERIFY(twice.size3D == 3 && twice.table3D.size() == 3);
        QCOMPARE(twice.table3D[2][1][0][1], 0.5f);
    }

    void refusesBadFiles_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QByteArray>("text");
        const QByteArray meta = "BEGIN METADATA\nEND METADATA\n", pre = preLut(), data = QByteArray("0.5 0 1\n").repeated(8);
        const QByteArray d3 = "CSPLUTV100\n3D\n" + meta, d1 = "CSPLUTV100\n1D\n" + meta;
        const QByteArray tl = truelightText(2, 2), full = truelightText(3, 8);
        const QList<std::tuple<const char *, int, QByteArray>> rows = {
            {"csp blank before tag", kCsp, "\n" + d3 + pre + "2 2 2\n" + data},
            {"csp blank before type", kCsp, "CSPLUTV100\n\n3D\n" + meta + pre + "2 2 2\n" + data},
            {"csp no metadata", kCsp, "CSPLUTV100\n3D\n" + pre + "2 2 2\n" + data},
            {"csp metadata never ends", kCsp, "CSPLUTV100\n3D\nBEGIN METADATA\n" + pre + "2 2 2\n" + data},
            {"csp unequal sizes", kCsp, d3 + pre + "33 33 17\n" + data},
            {"csp size not a number", kCsp, d3 + pre + "a b c\n" + data},
            {"csp cube size above bound", kCsp, d3 + pre + "2000 2000 2000\n" + data},
            {"csp 1D size negative", kCsp, d1 + pre + "-4\n" + data},
            {"csp truncated pre-LUT", kCsp, d3 + "2\n0 1\n0 1\n2\n0 1\n"},
            {"csp no data", kCsp, d3 + pre + "2 2 2\n"},
            {"csp flat pre-LUT output", kCsp, d3 + preLut(1, 0, 1) + "2 2 2\n" + data},
            {"csp empty", kCsp, QByteArray()},
            {"csp binary junk", kCsp, bytes("CSPLUTV100\n3D\n\x00\xff\xfe\x01\x02\x80\n\x00\x00")},
            {"cub unequal width", kTruelight, QByteArray(tl).replace("# width 2 2 2", "# width 33 33 17")},
            {"cub width above bound", kTruelight, QByteArray(tl).replace("# width 2 2 2", "# width 5000 5000 5000")},
            {"cub lutLength above bound", kTruelight, QByteArray(tl).replace("# lutLength 2", "# lutLength 2000000000")},
            {"cub truncated cube", kTruelight, full.left(full.indexOf("# Cube") + 40)},
            {"cub truncated input LUT", kTruelight, full.left(full.indexOf("# InputLUT") + 20)},
            {"cub binary junk", kTruelight, bytes("# width \xff\x00\x01 3 3\n\x80\x81\x00#\n")}};
        for (const auto &row : rows)
            QTest::newRow(std::get<0>(row)) << std::get<1>(row) << std::get<2>(row);
    }
    void refusesBadFiles()
    {
        QFETCH(int, format);
        QFETCH(QByteArray, text);
        Read_LUTFile lut;
        QVERIFY(!read(lut, format, text));
        QVERIFY(!lut.errorString.isEmpty());
    }

    // OCIO's csp (9 points) and Truelight (17) bakes of corpus cubes read as OCIO's cube bake.
    void readsOcioBakes()
    {
        if (TestSupport::corpusDir().isEmpty())
            QSKIP("the corpus is not there");
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut is missing");
        const QDir dir(TestSupport::corpusDir() + QStringLiteral("/colour-science/iridas_cube"));
        for (const QString &name : dir.entryList({QStringLiteral("*.cube")}, QDir::Files, QDir::Name))
            for (const int n : {9, 17}) {
                const bool csp = n == 9;
                const QString baked = m_dir.filePath(csp ? "b.csp" : "b.cub");
                Read_LUTFile lut;
                QVERIFY2(TestSupport::ociobake(dir.filePath(name), csp ? "cinespace" : "truelight", n, baked), qPrintable(name));
                QVERIFY2(readAs(lut, baked, csp ? kCsp : kTruelight) && lut.size3D == n, qPrintable(name + lut.errorString));
                const QString bad = cubeMismatch(lut, ocioCube(dir.filePath(name), n), n);
                QVERIFY2(bad.isEmpty(), qPrintable(name + bad));
                // OCIO's Truelight input LUT is the identity on 0..N-1: its last entry is N-1 of N.
                QVERIFY(csp || (lut.size1D > 1 && std::fabs(lut.table1D[lut.size1D - 1][0] - float(n - 1) / n) < 1e-5f));
            }
    }

    // Corpus csp files against OCIO: the pre-LUT curve is not applied, so only identity ones compare.
    void readsCorpusCspLikeOcio()
    {
        if (TestSupport::corpusDir().isEmpty())
            QSKIP("the corpus is not there");
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut is missing");
        const QDir dir(TestSupport::corpusDir() + QStringLiteral("/colour-science/cinespace"));
        int compared = 0;
        for (const QString &name : dir.entryList({QStringLiteral("*.csp")}, QDir::Files, QDir::Name)) {
            const CspLayout layout = layoutOf(dir.filePath(name));
            const bool *id = layout.identityShaper;
            Read_LUTFile lut;
            const bool ok = readAs(lut, dir.filePath(name), kCsp, layout.is3D);
            QVERIFY2(ok == layout.sizesEqual, qPrintable(name + QStringLiteral(": ") + lut.errorString));
            if (!ok)
                continue;
            QCOMPARE(layout.is3D ? lut.size3D : lut.size1D, layout.size);
            const int n = std::max(layout.size, 2);
            const TestSupport::CubeText ocio = ocioCube(dir.filePath(name), n);
            QCOMPARE(int(ocio.values.size()), 3 * n * n * n);
            if (layout.is3D && id[0] && id[1] && id[2]) {
                const QString bad = cubeMismatch(lut, ocio, n);
                QVERIFY2(bad.isEmpty(), qPrintable(name + bad));
                ++compared;
            }
            // A 1D table: OCIO's cube holds entry i of each channel at lattice point (i, i, i).
            for (int c = 0; c < 3 && !layout.is3D; compared += id[c], ++c)
                for (int i = 0; i < layout.size && id[c]; ++i) {
                    const float want = clamp01(ocio.values[3 * size_t(i) * (1 + n + n * n) + c]);
                    QVERIFY2(std::fabs(lut.table1D[i][c] - want) < 2e-5f, qPrintable(name + QStringLiteral(" [%1][%2]").arg(i).arg(c)));
                }
        }
        QVERIFY(compared >= 4);
    }
};

QTEST_GUILESS_MAIN(TestFormatCspTruelight)
#include "test_format_csp_truelight.moc"
