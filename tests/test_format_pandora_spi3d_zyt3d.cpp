// The Pandora (.mga/.m3d), spi3d and zyt3d formats: exact text, reader rules, bad input, OpenColorIO.

#include "TestSupport.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"
#include <QtTest>
#include <cmath>
#include <vector>

namespace {
constexpr int kPandora = 4, kSpi3D = 13, kZyt3D = 16;
struct Probe { int point, ch; float v; }; // point = (a * n + b) * n + c of table3D[a][b][c]: all three list blue fastest
struct Case { int format; QByteArray text; int size; std::vector<Probe> probes; const char *error = ""; };

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
    LutFileOptions o{path, LutFormatId(format), defaultOrder, dataRGB, tableRGB, scale, 0};
    return write ? Write_LUTFile().writeLut(o, &lut) : lut.readLut(o, false);
}
// A Pandora file with the given in/out lines whose entry e holds (e, 2e, 3e) / 100.
QByteArray pandoraFile(const QByteArray &inOut, int lines = 8)
{
    QByteArray text = "#HEADER\n#END\n\nchannel 3d\n" + inOut + "\n\nformat lut\n\nvalues\tred\tgreen\tblue\n";
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
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void writtenText()
    {
        Read_LUTFile lut, empty; // empty gives the header alone
        QVERIFY(lut.setSize3D(2, false));
        lut.table3D[0][0][1][2] = 0.25f, lut.table3D[1][0][0][0] = 0.5f, lut.table3D[1][1][1][0] = 1.0f, lut.table3D[1][1][1][1] = 0.75f;
        const QByteArray zyt3d = "0.000000 0.000000 0.000000\n0.000000 0.000000 0.250000\n0.000000 0.000000 0.000000\n0.000000 0.000000 0.000000\n"
                                 "0.500000 0.000000 0.000000\n0.000000 0.000000 0.000000\n0.000000 0.000000 0.000000\n1.000000 0.750000 0.000000\n";
        QByteArray pandora, spi3d; // Pandora numbers its entries, spi3d gives the indices
        for (int e = 0; e < 8; ++e)
            pandora += QByteArray::number(e) + "\t" + QByteArray(zyt3d.split('\n')[e]).replace(' ', '\t') + "\n",
            spi3d += QString::asprintf("%d %d %d ", e >> 2, e >> 1 & 1, e & 1).toLatin1() + zyt3d.split('\n')[e] + "\n";
        auto pandoraHead = [](const char *out) { return QByteArray("#HEADER\n#type: 3D cube file\n#format: 1.00\n#created:\n"
                                    "#owner: ostavel\n#END\n\nchannel\t3d\nin 8\n") + out + "\n\nformat lut\n\nvalues\tred\tgreen\tblue\n"; };
        struct { Read_LUTFile *lut; int format, scale; QByteArray text; } cases[] = {
            {&lut, kPandora, 1, pandoraHead("out\t1") + pandora}, {&lut, kSpi3D, 1, "SPILUT 1.0\n3 3\n2 2 2\n" + spi3d},
            {&lut, kZyt3D, 4095, "unwritten"}, {&lut, kSpi3D, 4095, "unwritten"}, // reals only: codes would read back as reals
            // Pandora integer codes: the range is the scale plus one, every code (rounded) is followed by the separator.
            {&lut, kPandora, 4095, pandoraHead("out 4096") + "0\t0\t0\t0\t\n1\t0\t0\t1024\t\n2\t0\t0\t0\t\n3\t0\t0\t0\t\n4\t2048\t0\t0\t\n"
                                                             "5\t0\t0\t0\t\n6\t0\t0\t0\t\n7\t4095\t3071\t0\t\n"},
            {&empty, kSpi3D, 1, "SPILUT 1.0\n3 3\n0 0 0\n"}, {&empty, kZyt3D, 1, "From 0.0 1.0\nLength 0\n"}};
        for (const auto &c : cases)
            QCOMPARE(io(*c.lut, path("text"), c.format, true, c.scale) ? TestSupport::readFile(path("text")) : "unwritten", c.text);
    }

    void readCases()
    {
        std::vector<Case> cases{
            // Pandora: "in" is the point count (nearest cube root, a later line wins); "channel" must say 3d; only the last entry may be missing.
            {kPandora, pandoraFile("in 27\nin 9\nout 1", 7).replace("channel 3d", "channel\t 3d"), 2, {{1, 0, 0.01f}, {6, 2, 0.18f}, {7, 2, 0}}},
            {kPandora, "in 1\n0 0.5 0.5 0.5\n", 1, {}}, // no "values" line: all header, and the one point may be missing
            // Only four-field lines are entries, the entry number is not checked, a channel that doesn't scan keeps the last value.
            {kPandora, pandoraFile("in 8\nout 1", 0) + "0 0.1 0.2 0.3\n\n# comment\n1 0.9 0.9\n1 0.9 0.9 0.9 0.9\n"
                           "77 0.4 0.5 0.6\n2 x 0.7 0.8\n3 0.11 0.12 0.13\n4 0 0 0\n5 0 0 0\n6 0 0 0\n7 0.2 0.3 0.4\n",
             2, {{1, 0, 0.4f}, {2, 2, 0.6f}, {3, 1, 0.12f}, {7, 2, 0.4f}}},
            {kPandora, pandoraFile("in 8\nout 4096", 0) + "0 3 4095 5000\n" + QByteArray("1 0 0 0\n").repeated(6) + "7 4095 2 0\n", // codes / 4095
             2, {{0, 0, 3 / 4095.f}, {0, 1, 1}, {0, 2, 1}, {7, 0, 1}, {7, 1, 2 / 4095.f}}},
            {kPandora, pandoraFile("in 8\nout 1").replace("channel 3d", "channel 1d"), 0, {}}, {kPandora, pandoraFile("in 8\nout 1").replace("values", ""), 0, {}},
            {kPandora, pandoraFile("in 8\nout 1").left(40), 0, {}}, {kPandora, pandoraFile("in 8\nout 1", 6), 0, {}, "6 of 8"},
            // spi3d: header lines may be anywhere after comments and labels; a lower-case keyword or a short file fails.
            {kSpi3D, "# by hand\nnot 1 2 3\n\nSPILUT 1.0\n\nchannels\n3 3\nsize\n2 2 2\n" + spi3dPoints(0, 7), 2, {{7, 1, 0.35f}}},
            {kSpi3D, "spilut 1.0\n3 3\n2 2 2\n" + spi3dPoints(0, 7), 0, {}}, {kSpi3D, "SPILUT 1.0\n3 3\n", 0, {}},
            {kSpi3D, "SPILUT 1.0\n3 3\n2 2 2\n" + spi3dPoints(0, 5), 0, {}, "2 of the 8"},
            {kSpi3D, "SPILUT 1.0\n3 3\n2 2 2\n" + spi3dPoints(0, 6) + "1 1 2 0 0 0\n", 0, {}, "1 of the 8"}, // out of range: not a point
            // zyt3d: lines are points by position (blank or unscanned: 0; short: keeps the last values); From normalises and clamps.
            {kZyt3D, "From 0 1023\nLength 2\n102.3 204.6 306.9\n2000 -5 1023\n\n511.5 0 0\nx\n10 20\n1 1 1\n1023 512 0\n9 9 9\n", 2,
             {{0, 0, 0.1f}, {0, 2, 0.3f}, {1, 0, 1}, {1, 1, 0}, {1, 2, 1}, {2, 0, 0}, {3, 0, 0.5f}, {4, 2, 0},
              {5, 0, 10 / 1023.f}, {5, 1, 20 / 1023.f}, {5, 2, 0}, {6, 1, 1 / 1023.f}, {7, 1, 512 / 1023.f}}}};
        for (const char *bad : {"input 8\nout 1", "in\nout 1", "in 0\nout 1", "in -8\nout 1", "in 99999999999999\nout 1",
                                "in 9223372036854775807\nout 1", "\nout 1", "in 8\nout", "in 8\nout 0", "in 8\nout -4096"}) // out <= 0 fails
            cases.push_back({kPandora, pandoraFile(bad), 0, {}});
        // spi3d: lines in any order, a later line wins, values clamped; out-of-range indices and short lines touch nothing.
        std::vector<Probe> spiProbes;
        for (int t = 0; t < 24; ++t)
            spiProbes.push_back({t / 3, t % 3, t / 3 == 5 ? (t % 3 == 0 ? 0.9f : t % 3 == 1 ? 1.0f : 0.0f) : ((t / 3 >> (2 - t % 3)) & 1) / 4.0f + 0.1f});
        cases.push_back({kSpi3D, "SPILUT 1.0\n3 3\n2 2 2\n" + spi3dPoints(7, 0, -1) + "1 0 1 0.9 1.5 -0.5\n2 0 0 0.9 0.9 0.9\n"
                                     "0 -1 0 0.9 0.9 0.9\n0 0 2 0.9 0.9 0.9\n1 1 4000000000 0.9 0.9 0.9\n-2147483647 0 0 1 1 1\n"
                                     "1 1 1 0.9\n0 0 0\ngarbage\n", 2, spiProbes});
        for (const char *bad : {"3 1\n2 2 2\n", "3\n2 2 2\n", "3 3\n2 2\n", "3 3\n2 2 3\n", "3 3\n0 0 0\n", "3 3\n-2 -2 -2\n", "3 3\n2147483647 2147483647 2147483647\n"})
            cases.push_back({kSpi3D, "SPILUT 1.0\n" + QByteArray(bad) + spi3dPoints(0, 7), 0, {}});
        const QByteArray zytPoints = QByteArray("0.5 0.5 0.5\n").repeated(8);
        cases.push_back({kZyt3D, "junk\n\nFrom 4\nLength 2\n" + zytPoints.chopped(1), 2, {{7, 2, 0.5f}}}); // a one-number From is ignored
        cases.push_back({kZyt3D, "Length 2\n" + zytPoints.left(zytPoints.size() - 12), 0, {}, "7 of 8"}); // a cut file fails
        for (const char *bad : {"From 0.0 1.0\n", "From 0.0 1.0\nLength\n", "From 0.0 1.0\nLength 0\n", "From 0.0 1.0\nLength -2\n",
                                "From 0.0 1.0\nLength 2147483647\n", "From 1.0 1.0\nLength 2\n", "From 1.0 0.0\nLength 2\n"})
            cases.push_back({kZyt3D, bad + zytPoints, 0, {}});
        const QByteArray junk = QByteArray::fromHex("00ff13e7c0de7f454c4602010100") + QByteArray(3000, '\xfe') + QByteArray("\0in 8\0\n\x01", 8);
        for (const int format : {kPandora, kSpi3D, kZyt3D})
            for (const QByteArray &bad : {QByteArray(), junk, QByteArray(3 << 20, '7'), QByteArray("lorem ipsum\n\x01\x02\n%d %f\n").repeated(50)})
                cases.push_back({format, bad, 0, {}});
        for (const Case &c : cases) {
            Read_LUTFile lut;
            const bool ok = io(lut, TestSupport::writeFile(path("case"), c.text), c.format);
            const QString name = QStringLiteral("case %1 (format %2): %3 ").arg(&c - cases.data()).arg(c.format).arg(lut.errorString);
            QVERIFY2(ok == (c.size > 0) && (ok ? lut.size3D == c.size && lut.table3D.size() == c.size && lut.domainMax3D[1] == 1.0f
                                               : !lut.errorString.isEmpty() && !lut.errorString.contains('\n') && lut.errorString.contains(c.error)),
                     qPrintable(name));
            for (const Probe &p : c.probes)
                QVERIFY2(std::fabs(lut.table3D.data()[p.point * 3 + p.ch] - p.v) <= 1e-6f, qPrintable(name + QStringLiteral("point %1[%2]").arg(p.point).arg(p.ch)));
        }
    }

    // OpenColorIO reads our Pandora (as codes) and spi3d files and the corpus spi3d files as we do, but clamped to 0..1.
    void ocioAgrees()
    {
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is needed for this test");
        QStringList files;
        Read_LUTFile source;
        fillCube(source, 9);
        for (const char *name : {"ocio.mga", "ocio.m3d", "ocio.spi3d"})
            QVERIFY(io(source, (files << path(name)).last(), name[5] == 's' ? kSpi3D : kPandora, true, name[5] == 's' ? 1 : 4095));
        const QDir dir(TestSupport::corpusDir() + "/colour-science/sony_spi3d");
        for (const QString &name : dir.entryList({"*.spi3d"}, QDir::Files, QDir::Name))
            files << dir.filePath(name);
        QVERIFY(files.size() > 4 || TestSupport::corpusDir().isEmpty());
        for (const QString &file : files) {
            Read_LUTFile lut;
            QString error;
            QVERIFY2(io(lut, file, file.endsWith("spi3d") ? kSpi3D : kPandora)
                         && TestSupport::ociobake(file, "iridas_cube", lut.size3D, path("baked.cube"), &error), qPrintable(file + lut.errorString + error));
            const TestSupport::CubeText baked = TestSupport::parseCubeText(path("baked.cube"));
            const int n = lut.size3D;
            QCOMPARE(baked.values.size(), size_t(3) * n * n * n); // iridas_cube lists red fastest; OpenColorIO clamps to 0..1
            for (size_t i = 0, t = 0; i < baked.values.size(); t = ++i / 3)
                QVERIFY2(std::fabs(lut.table3D[t % n][t / n % n][t / n / n][i % 3] - std::min(1.0f, std::max(0.0f, baked.values[i]))) <= 1e-6f,
                         qPrintable(file + QStringLiteral(": line %1").arg(t)));
        }
    }
};

QTEST_GUILESS_MAIN(TestFormatPandoraSpi3DZyt3D)
#include "test_format_pandora_spi3d_zyt3d.moc"
