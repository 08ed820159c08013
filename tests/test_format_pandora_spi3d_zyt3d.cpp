// The Pandora (.mga/.m3d), spi3d and zyt3d formats: exact text, round trips, reader rules, bad input, OpenColorIO.

#include "TestSupport.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <vector>

namespace {

constexpr int kPandora = 4, kSpi3D = 13, kZyt3D = 16;

// Value ch of table3D[a][b][c], point = (a * n + b) * n + c: all three formats list blue fastest.
struct Probe { int point, ch; float v; };
struct Case { int format; QByteArray text; int size; std::vector<Probe> probes; const char *error = ""; };

QByteArray rep(const char *line, int n) { return QByteArray(line).repeated(n); }

// Channels that differ from each other and from the identity, so a swapped axis or channel shows.
void fillCube(Read_LUTFile &lut, int n)
{
    QVERIFY(lut.setSize3D(n, false));
    for (int t = 0; t < n * n * n; ++t) {
        const float x = float(t / n / n) / (n - 1), y = float(t / n % n) / (n - 1), z = float(t % n) / (n - 1);
        const float v[3] = {0.05f + 0.9f * x * x, 0.5f * y + 0.3f * z * x, std::sqrt(z) * 0.8f + 0.1f * y};
        std::copy(v, v + 3, lut.table3D[t / n / n][t / n % n][t % n]);
    }
}

bool io(Read_LUTFile &lut, const QString &path, int format, bool write = false, int scale = 1, bool defaultOrder = true,
        bool dataRGB = true, bool tableRGB = true)
{
    LutFileOptions o;
    o.path = path, o.format = format, o.defaultOrder = defaultOrder, o.outputScale = scale;
    o.dataOrderRGB = dataRGB, o.tableOrderRGB = tableRGB;
    return write ? Write_LUTFile().writeLut(o, &lut) : lut.readLut(o, false);
}

// Largest difference from an OpenColorIO bake to iridas_cube (red fastest), clamped to 0..1 first when asked.
float differenceFromBake(const Read_LUTFile &lut, const QString &bakedCube, bool clamp)
{
    const TestSupport::CubeText baked = TestSupport::parseCubeText(bakedCube);
    const int n = lut.size3D;
    if (baked.size != n || baked.values.size() != size_t(3) * n * n * n)
        return INFINITY;
    float worst = 0.0f;
    for (size_t i = 0, t = 0; i < baked.values.size(); t = ++i / 3)
        worst = std::max(worst, std::fabs(lut.table3D[t % n][t / n % n][t / n / n][i % 3]
                                          - (clamp ? std::min(1.0f, std::max(0.0f, baked.values[i])) : baked.values[i])));
    return worst;
}

// A Pandora file whose entry e holds (e, 2e, 3e) / 100.
QByteArray pandoraFile(const QByteArray &in, const QByteArray &out, int lines = 8)
{
    QByteArray text = "#HEADER\n#END\n\nchannel 3d\n" + in + "\n" + out + "\n\nformat lut\n\nvalues\tred\tgreen\tblue\n";
    for (int e = 0; e < lines; ++e)
        text += QString::asprintf("%d\t%g\t%g\t%g\n", e, e / 100.0, 2 * e / 100.0, 3 * e / 100.0).toLatin1();
    return text;
}

// spi3d lines for points first..last of a 2-point cube; point (i, j, k) holds (i, j, k) / 4 + 0.1.
QByteArray spi3dPoints(int first, int last, int step = 1)
{
    QByteArray text;
    for (int e = first; e != last + step; e += step)
        text += QString::asprintf("%d %d %d %g %g %g\n", e >> 2, e >> 1 & 1, e & 1, (e >> 2) / 4.0 + 0.1, (e >> 1 & 1) / 4.0 + 0.1,
                                  (e & 1) / 4.0 + 0.1).toLatin1();
    return text;
}

} // namespace

class TestFormatPandoraSpi3DZyt3D : public QObject
{
    Q_OBJECT

private slots:
    void writtenTextAndRoundTrips();
    void readCases();
    void ocioAgrees();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestFormatPandoraSpi3DZyt3D::writtenTextAndRoundTrips()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    lut.table3D[0][0][1][2] = 0.25f, lut.table3D[1][0][0][0] = 0.5f, lut.table3D[1][1][1][0] = 1.0f, lut.table3D[1][1][1][1] = 0.75f;
    const QByteArray zyt3d = "0.000000 0.000000 0.000000\n0.000000 0.000000 0.250000\n0.000000 0.000000 0.000000\n0.000000 0.000000 0.000000\n"
                             "0.500000 0.000000 0.000000\n0.000000 0.000000 0.000000\n0.000000 0.000000 0.000000\n1.000000 0.750000 0.000000\n";
    QByteArray pandora, spi3d; // Pandora numbers its entries, spi3d gives the indices
    for (int e = 0; e < 8; ++e) {
        pandora += QByteArray::number(e) + "\t" + QByteArray(zyt3d.split('\n')[e]).replace(' ', '\t') + "\n";
        spi3d += QString::asprintf("%d %d %d ", e >> 2, e >> 1 & 1, e & 1).toLatin1() + zyt3d.split('\n')[e] + "\n";
    }
    const QByteArray pandoraHeader = "#HEADER\n#type: 3D cube file\n#format: 1.00\n#created:\n#owner: ostavel\n#END\n\nchannel\t3d\nin 8\n";
    const QByteArray pandoraValues = "\n\nformat lut\n\nvalues\tred\tgreen\tblue\n";
    QVERIFY(io(lut, path("text.mga"), kPandora, true) && io(lut, path("text.spi3d"), kSpi3D, true));
    QVERIFY(io(lut, path("text.zyt3d"), kZyt3D, true, 4095)); // zyt3d ignores the scale: always normalised
    QCOMPARE(TestSupport::readFile(path("text.mga")), pandoraHeader + "out\t1" + pandoraValues + pandora);
    QCOMPARE(TestSupport::readFile(path("text.spi3d")), "SPILUT 1.0\n3 3\n2 2 2\n" + spi3d);
    QCOMPARE(TestSupport::readFile(path("text.zyt3d")), "From 0.0 1.0\nLength 2\n" + zyt3d);
    // Pandora integer codes: the range is the scale plus one, and every code is followed by the separator.
    QVERIFY(io(lut, path("text12.mga"), kPandora, true, 4095));
    const QByteArray codes = TestSupport::readFile(path("text12.mga"));
    QVERIFY(codes.startsWith(pandoraHeader + "out 4096" + pandoraValues + "0\t0\t0\t0\t\n1\t0\t0\t1023\t\n"));
    QVERIFY(codes.endsWith("\n4\t2047\t0\t0\t\n5\t0\t0\t0\t\n6\t0\t0\t0\t\n7\t4095\t3071\t0\t\n"));
    Read_LUTFile empty; // gives the header alone
    QVERIFY(io(empty, path("e.spi3d"), kSpi3D, true) && TestSupport::readFile(path("e.spi3d")) == "SPILUT 1.0\n3 3\n0 0 0\n");
    QVERIFY(io(empty, path("e.zyt3d"), kZyt3D, true) && TestSupport::readFile(path("e.zyt3d")) == "From 0.0 1.0\nLength 0\n");

    // Written and read with the same orders (the format's own under the default order), a cube comes back.
    const struct { int format, size; bool defaultOrder, dataRGB, tableRGB; } trips[] = {
        {kPandora, 33, true, false, false}, {kPandora, 5, false, false, false}, {kSpi3D, 33, true, true, false},
        {kSpi3D, 5, false, true, false}, {kZyt3D, 33, true, false, true}, {kZyt3D, 5, false, false, true}};
    for (const auto &t : trips) {
        const QString file = path(QStringLiteral("rt%1.").arg(t.size) + LutFormats::byId(t.format)->name);
        Read_LUTFile source, back;
        fillCube(source, t.size);
        QVERIFY(io(source, file, t.format, true, 1, t.defaultOrder, t.dataRGB, t.tableRGB));
        QVERIFY2(io(back, file, t.format, false, 1, t.defaultOrder, t.dataRGB, t.tableRGB), qPrintable(back.errorString));
        QVERIFY(back.size3D == t.size && back.table3D.size() == t.size);
        for (int i = 0; i < t.size * t.size * t.size * 3; ++i)
            QVERIFY(std::fabs(back.table3D.data()[i] - source.table3D.data()[i]) <= 5.1e-7f);
    }
}

void TestFormatPandoraSpi3DZyt3D::readCases()
{
    std::vector<Case> cases;
    // Pandora: "in" is the point count (nearest cube root, a later line wins); "channel" must say 3d.
    cases.push_back({kPandora, pandoraFile("in 27\nin 9", "out 1", 7).replace("channel 3d", "channel\t 3d"), 2,
                     {{1, 0, 0.01f}, {6, 2, 0.18f}, {7, 2, 0}}}); // only the last entry may be missing
    cases.push_back({kPandora, "in 1\n0 0.5 0.5 0.5\n", 1, {}}); // no "values" line: all header, and the one point may be missing
    // Only four-field lines are entries, the entry number is not checked, a channel that doesn't scan keeps the last value.
    cases.push_back({kPandora, pandoraFile("in 8", "out 1", 0) + "0 0.1 0.2 0.3\n\n# comment\n1 0.9 0.9\n1 0.9 0.9 0.9 0.9\n"
                                   "77 0.4 0.5 0.6\n2 x 0.7 0.8\n3 0.11 0.12 0.13\n4 0 0 0\n5 0 0 0\n6 0 0 0\n7 0.2 0.3 0.4\n",
                     2, {{1, 0, 0.4f}, {2, 2, 0.6f}, {3, 1, 0.12f}, {7, 2, 0.4f}}});
    // 12-bit codes against "out 4096": divided by 4095, clamped at the top.
    cases.push_back({kPandora, pandoraFile("in 8", "out 4096", 0) + "0 3 4095 5000\n" + rep("1 0 0 0\n", 6) + "7 4095 2 0\n",
                     2, {{0, 0, 3 / 4095.f}, {0, 1, 1}, {0, 2, 1}, {7, 0, 1}, {7, 1, 2 / 4095.f}}});
    for (const char *bad : {"input 8", "in", "in 0", "in -8", "in 99999999999999", "in 9223372036854775807", ""})
        cases.push_back({kPandora, pandoraFile(bad, "out 1"), 0, {}});
    for (const char *bad : {"out", "out 0", "out -4096"})
        cases.push_back({kPandora, pandoraFile("in 8", bad), 0, {}});
    cases.push_back({kPandora, pandoraFile("in 8", "out 1").replace("channel 3d", "channel 1d"), 0, {}});
    cases.push_back({kPandora, pandoraFile("in 8", "out 1").replace("values", ""), 0, {}});
    cases.push_back({kPandora, pandoraFile("in 8", "out 1").left(40), 0, {}});
    cases.push_back({kPandora, pandoraFile("in 8", "out 1", 6), 0, {}, "6 of 8"});

    // spi3d: lines in any order, a later line wins, values clamped; out-of-range indices and short lines touch nothing.
    std::vector<Probe> spiProbes;
    for (int t = 0; t < 24; ++t)
        spiProbes.push_back({t / 3, t % 3, t / 3 == 5 ? (t % 3 == 0 ? 0.9f : t % 3 == 1 ? 1.0f : 0.0f) : ((t / 3 >> (2 - t % 3)) & 1) / 4.0f + 0.1f});
    cases.push_back({kSpi3D, "SPILUT 1.0\n3 3\n2 2 2\n" + spi3dPoints(7, 0, -1) + "1 0 1 0.9 1.5 -0.5\n2 0 0 0.9 0.9 0.9\n"
                                 "0 -1 0 0.9 0.9 0.9\n0 0 2 0.9 0.9 0.9\n1 1 4000000000 0.9 0.9 0.9\n-2147483647 0 0 1 1 1\n"
                                 "1 1 1 0.9\n0 0 0\ngarbage\n", 2, spiProbes});
    cases.push_back({kSpi3D, "# by hand\nnot 1 2 3\n\nSPILUT 1.0\n\nchannels\n3 3\nsize\n2 2 2\n" + spi3dPoints(0, 7), 2, {{7, 1, 0.35f}}});
    for (const char *bad : {"3 1\n2 2 2\n", "3\n2 2 2\n", "3 3\n2 2\n", "3 3\n2 2 3\n", "3 3\n0 0 0\n", "3 3\n-2 -2 -2\n",
                            "3 3\n2147483647 2147483647 2147483647\n"})
        cases.push_back({kSpi3D, "SPILUT 1.0\n" + QByteArray(bad) + spi3dPoints(0, 7), 0, {}});
    cases.push_back({kSpi3D, "spilut 1.0\n3 3\n2 2 2\n" + spi3dPoints(0, 7), 0, {}});
    cases.push_back({kSpi3D, "SPILUT 1.0\n3 3\n", 0, {}});
    cases.push_back({kSpi3D, "SPILUT 1.0\n3 3\n2 2 2\n" + spi3dPoints(0, 5), 0, {}, "2 of the 8"});
    cases.push_back({kSpi3D, "SPILUT 1.0\n3 3\n2 2 2\n" + spi3dPoints(0, 6) + "1 1 2 0 0 0\n", 0, {}, "1 of the 8"});

    // zyt3d: lines are points by position (blank or unscanned: 0; short: keeps the last values); From normalises and clamps.
    cases.push_back({kZyt3D, "From 0 1023\nLength 2\n102.3 204.6 306.9\n2000 -5 1023\n\n511.5 0 0\nx\n10 20\n1 1 1\n1023 512 0\n9 9 9\n", 2,
                     {{0, 0, 0.1f}, {0, 2, 0.3f}, {1, 0, 1}, {1, 1, 0}, {1, 2, 1}, {2, 0, 0}, {3, 0, 0.5f}, {4, 2, 0},
                      {5, 0, 10 / 1023.f}, {5, 1, 20 / 1023.f}, {5, 2, 0}, {6, 1, 1 / 1023.f}, {7, 1, 512 / 1023.f}}});
    const QByteArray zytPoints = rep("0.5 0.5 0.5\n", 8);
    cases.push_back({kZyt3D, "junk\n\nFrom 4\nLength 2\n" + zytPoints, 2, {{7, 0, 0.5f}}}); // a one-number From is ignored
    cases.push_back({kZyt3D, "Length 2\n" + zytPoints.chopped(1), 2, {{7, 2, 0.5f}}});
    for (const char *bad : {"From 0.0 1.0\n", "From 0.0 1.0\nLength\n", "From 0.0 1.0\nLength 0\n", "From 0.0 1.0\nLength -2\n",
                            "From 0.0 1.0\nLength 2147483647\n", "From 1.0 1.0\nLength 2\n", "From 1.0 0.0\nLength 2\n"})
        cases.push_back({kZyt3D, bad + zytPoints, 0, {}});
    cases.push_back({kZyt3D, "Length 2\n" + zytPoints.left(zytPoints.size() - 12), 0, {}, "7 of 8"}); // a cut file fails

    const QByteArray junk = QByteArray::fromHex("00ff13e7c0de7f454c4602010100") + QByteArray(3000, '\xfe') + QByteArray("\0in 8\0\n\x01", 8);
    for (const int format : {kPandora, kSpi3D, kZyt3D})
        for (const QByteArray &bad : {QByteArray(), junk, QByteArray(3 << 20, '7'), QByteArray("lorem ipsum\n\x01\x02\n%d %f\n").repeated(50)})
            cases.push_back({format, bad, 0, {}});

    for (size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        Read_LUTFile lut;
        const bool ok = io(lut, TestSupport::writeFile(path(QStringLiteral("case%1").arg(i)), c.text), c.format);
        const QString name = QStringLiteral("case %1 (format %2): %3").arg(i).arg(c.format).arg(lut.errorString);
        QVERIFY2(ok == (c.size > 0), qPrintable(name));
        QVERIFY2(ok || (!lut.errorString.isEmpty() && !lut.errorString.contains('\n') && lut.errorString.contains(c.error)), qPrintable(name));
        QVERIFY2(!ok || (lut.size3D == c.size && lut.table3D.size() == c.size && lut.domainMax3D[1] == 1.0f), qPrintable(name));
        for (const Probe &p : c.probes) {
            const float got = lut.table3D[p.point / c.size / c.size][p.point / c.size % c.size][p.point % c.size][p.ch];
            QVERIFY2(std::fabs(got - p.v) <= 1e-6f, qPrintable(name + QStringLiteral("point %1[%2]: %3 vs %4").arg(p.point).arg(p.ch).arg(got).arg(p.v)));
        }
    }
}

// OpenColorIO reads our Pandora (as codes) and spi3d files and the corpus spi3d files as we do, but clamped to 0..1.
void TestFormatPandoraSpi3DZyt3D::ocioAgrees()
{
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is needed for this test");
    QStringList files;
    for (const char *name : {"ocio.mga", "ocio.m3d", "ocio.spi3d"}) {
        Read_LUTFile source;
        fillCube(source, 9);
        QVERIFY(io(source, path(name), name[5] == 's' ? kSpi3D : kPandora, true, name[5] == 's' ? 1 : 4095));
        files << path(name);
    }
    const QDir dir(TestSupport::corpusDir() + QStringLiteral("/colour-science/sony_spi3d"));
    for (const QString &name : dir.entryList({QStringLiteral("*.spi3d")}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    QVERIFY(files.size() > 4 || TestSupport::corpusDir().isEmpty());
    for (int i = 0; i < files.size(); ++i) {
        Read_LUTFile lut;
        QString error, baked = path(QStringLiteral("baked%1.cube").arg(i));
        QVERIFY2(io(lut, files[i], files[i].endsWith(QLatin1String("spi3d")) ? kSpi3D : kPandora), qPrintable(files[i] + lut.errorString));
        QVERIFY2(TestSupport::ociobake(files[i], QStringLiteral("iridas_cube"), lut.size3D, baked, &error), qPrintable(error));
        const float difference = differenceFromBake(lut, baked, true);
        QVERIFY2(difference <= 1.0e-6f, qPrintable(files[i] + ": " + QString::number(double(difference))));
    }
}

QTEST_GUILESS_MAIN(TestFormatPandoraSpi3DZyt3D)
#include "test_format_pandora_spi3d_zyt3d.moc"
