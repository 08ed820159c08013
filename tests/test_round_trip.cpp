// Conversions that keep their meaning. Every writable format, written by chromaduct-convert with its
// default settings from three sources that reach neither end of the range, reads back as the table it
// came from, in this program and, where it reads the format, in OpenColorIO's ociobakelut; a table a
// format cannot hold is refused. Also: OpenColorIO's reading of Discreet files of codes, a cube file
// with a shaper before its cube, standard input and output, and csv logs that once hung the reader.

#include "TestSupport.h"
#include "calc/LutCalc.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include <QFloat16>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <functional>

namespace {

struct Source
{
    const char *name;
    int dimension, n; // a cube of n points per axis, or n entries
    bool grey;        // the three channels are equal
    std::function<double(double t, int c)> curve; // 1D: channel c at input t
};

// A non-separable grade within 0.02..0.93, at lattice point i of a 17-point cube (red fastest).
double grade(int i, int c)
{
    const double r = i % 17 / 16.0, g = i / 17 % 17 / 16.0, b = i / 289 / 16.0;
    const double f = c == 0 ? 0.7 * r + 0.2 * g + 0.1 * b * b : c == 1 ? 0.9 * std::pow(g, 1.2) + 0.1 * r : 0.8 * std::pow(b, 0.8) + 0.2 * g;
    return 0.02 + 0.91 * f;
}

const Source kSources[] = {
    {"grade", 3, 17, false, nullptr},
    {"legal", 1, 1024, true, [](double t, int) { return (64 + 876 * std::pow(t, 0.6)) / 1023; }}, // codes 64..940 of 1023
    {"inverted", 1, 256, false, [](double t, int c) { return 0.93 - 0.91 * std::pow(t, c == 0 ? 1.0 : c == 1 ? 1.5 : 0.7); }},
};

double sourceValue(const Source &s, int i, int c) { return s.dimension == 3 ? grade(i, c) : s.curve(double(i) / (s.n - 1), c); }

QByteArray sourceText(const Source &s)
{
    QByteArray text = s.dimension == 3 ? "LUT_3D_SIZE 17\n" : "Version 1\nFrom 0.0 1.0\nLength " + QByteArray::number(s.n) + "\nComponents 3\n{\n";
    for (int i = 0; i < (s.dimension == 3 ? s.n * s.n * s.n : s.n); ++i)
        for (int c = 0; c < 3; ++c)
            text += QByteArray::number(sourceValue(s, i, c), 'g', 9) + (c < 2 ? " " : "\n");
    return s.dimension == 3 ? text : text + "}\n";
}

// The extension ociobakelut reads a format by, by identifier; null where it does not read it.
const char *const kPeerExtensions[LutFormats::kCount] = {"cube", nullptr, nullptr, "3dl", "mga", "look", "lut", nullptr,
                                                         nullptr, "csp", "cub", "itx", "spi1d", "spi3d", nullptr,
                                                         nullptr, nullptr, "clf", "ctf", nullptr, nullptr, nullptr,
                                                         nullptr, nullptr, "lut", "vf", nullptr, nullptr, "3dl"};

// "" when got(i, c) is want(i, c) within tolerance for every entry and channel, else the first difference.
QString difference(const std::function<double(int, int)> &got, int entries, const std::function<double(int, int)> &want, double tolerance)
{
    for (int k = 0; k < 3 * entries; ++k)
        if (!(std::fabs(got(k / 3, k % 3) - want(k / 3, k % 3)) <= tolerance))
            return QStringLiteral("entry %1 channel %2: %3, expected %4 (within %5)")
                .arg(k / 3).arg(k % 3).arg(got(k / 3, k % 3), 0, 'g', 9).arg(want(k / 3, k % 3), 0, 'g', 9).arg(tolerance);
    return QString();
}
#define COMPARE_TABLES(what, ...) do { const QString d = difference(__VA_ARGS__); QVERIFY2(d.isEmpty(), qPrintable(what + d)); } while (0)

// A table, entry i red fastest for a cube; or values read from text, three per entry.
std::function<double(int, int)> tableOf(const LutTable3D &t)
{
    const int n = t.size();
    return [&t, n](int i, int c) { return double(t[i % n][i / n % n][i / (n * n)][c]); };
}
std::function<double(int, int)> tableOf(const LutTable1D &t) { return [&t](int i, int c) { return double(t[i][c]); }; }
std::function<double(int, int)> tableOf(const std::vector<float> &v) { return [&v](int i, int c) { return double(v[3 * size_t(i) + c]); }; }

// ociobakelut's reading of a LUT file: a cube of n points for a 3D table, n entries for a 1D one (empty when it fails).
std::vector<float> peerBake(const QString &lutFile, int dimension, int n, const QString &out, QString *error)
{
    if (!TestSupport::ociobake(lutFile, dimension == 3 ? "iridas_cube" : "resolve_cube", n, out, error))
        return {};
    const std::vector<float> values = TestSupport::parseCubeText(out).values;
    return values.size() == size_t(dimension == 3 ? n * n * n : n) * 3 ? values : std::vector<float>();
}

} // namespace

class TestRoundTrip : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed"); }

    // Every writable format x default settings x the three sources; the written file also tells its format by its content.
    void everyFormatReadsBack()
    {
        int compared = 0, peerCompared = 0;
        for (const Source &s : kSources) {
            const QString source = TestSupport::writeFile(path(QString(s.name) + (s.dimension == 3 ? ".cube" : ".spi1d")), sourceText(s));
            for (int id = 0; id < LutFormats::kCount; ++id) {
                const LutFormat *format = LutFormats::byId(id);
                if (!format->canWrite())
                    continue;
                const QString ext = kPeerExtensions[id] ? kPeerExtensions[id] : format->name;
                const QString out = path(QStringLiteral("%1-%2.%3").arg(s.name, format->name, ext)), what = out + ": ";
                const TestSupport::ProcessResult r = TestSupport::runConvert({source, out, "--to", format->name});
                // Refused with one line, no file: a cube for a 1D format, or one channel for three that
                // differ. A curve for a 3D format is baked on a 33-point lattice, each axis through its curve.
                const int dimension = format->dimension ? format->dimension : s.dimension; // 0: either
                const bool curveOnCube = dimension == 3 && s.dimension == 1;
                // A .cc file holds an ASC CDL grade and spimtx a matrix, never a table.
                if (dimension < s.dimension || (id == 14 && !s.grey) || format->is(LutFormatId::CdlCc) || format->is(LutFormatId::Spimtx)) {
                    QVERIFY2(r.exitCode == 2 && r.err.count('\n') == 1 && !QFile::exists(out), qPrintable(what + r.err));
                    continue;
                }
                const int length = format->entriesFor(curveOnCube ? 33 : s.n, dimension == 3 || format->takesScale());
                const int scale = format->defaultScale == 0 ? LutFormats::codeScaleFor(length) : format->defaultScale;
                QVERIFY2(r.exitCode == 0 && r.out.isEmpty(), qPrintable(what + r.err));
                QVERIFY2(r.err.isEmpty() == (length == (curveOnCube ? 33 : s.n)), qPrintable(what + r.err)); // a note when resampled
                const int entries = dimension == 3 ? length * length * length : length;
                // Resampled, a cube is the source's, sampled at the new lattice; a curve the source's line
                // between its two nearest entries.
                Read_LUTFile grade, resampled;
                LutFileOptions sourceOptions{source, LutFormatId::Cube};
                QVERIFY(dimension != 3 || curveOnCube || length == s.n
                        || (grade.readLut(sourceOptions, false) && resampled.setSize3D(length, false)
                            && LutCalc::resampleCube(&grade, &resampled)));
                // A curve between its two nearest entries, at input t.
                const auto curveAt = [&](double t, int c) {
                    const double x = t * (s.n - 1);
                    const int k = std::min(int(x), s.n - 2);
                    return sourceValue(s, k, c) + (sourceValue(s, k + 1, c) - sourceValue(s, k, c)) * (x - k);
                };
                const auto want = [&](int i, int c) {
                    if (curveOnCube)
                        return curveAt(double(c == 0 ? i % length : c == 1 ? i / length % length : i / length / length) / (length - 1), c);
                    if (length == s.n)
                        return sourceValue(s, i, c);
                    if (dimension == 3)
                        return tableOf(resampled.table3D)(i, c);
                    return curveAt(double(i) / (length - 1), c);
                };
                const double tolerance = (scale > 1 ? 0.5 / scale : 5e-7) + 3e-7;
                Read_LUTFile back, profile;
                LutFileOptions options{out, LutFormatId(id)};
                // An ICC profile reads as its transform, the CLUT in 16 bits (1/32768 a step), baked here at its nodes.
                const bool icc = format->is(LutFormatId::Icc);
                options.bake = icc;
                QVERIFY2(back.readLut(options, false) && (icc || (dimension == 3 ? back.size3D : back.size1D) == length),
                         qPrintable(what + back.errorString));
                QVERIFY(!icc || (profile.setSize3D(length, false) && LutCalc::bakeCube(&back, &profile)));
                COMPARE_TABLES(what, dimension == 3 ? tableOf(icc ? profile.table3D : back.table3D) : tableOf(back.table1D), entries,
                               want, icc ? 0.5 / 32768 + 1e-6 : tolerance);
                // itx reads as the cube it is; a Hald CLUT is told by its name, by content a tiled image when
                // its size is one (16, 64, 256 points), else a strip; an ICC profile by its signature; Flame's
                // layout of a 3dl file is a 3dl file
                const int tiledOrStrip = length == 16 || length == 64 || length == 256 ? 1 : 2;
                QCOMPARE(LutFormats::forContent(out)->number(), id == 11 ? 0 : id == 19 ? tiledOrStrip : format->is(LutFormatId::Flame) ? 3 : id);
                ++compared;
                // The peer reads a Houdini 1D table of one curve for all channels only.
                if (!kPeerExtensions[id] || (id == int(LutFormatId::Houdini) && dimension == 1 && !s.grey))
                    continue;
                QString error;
                const std::vector<float> baked = peerBake(out, dimension, length, path("peer.cube"), &error);
                QVERIFY2(!baked.empty(), qPrintable(what + error));
                COMPARE_TABLES(what + "ociobakelut: ", tableOf(baked), entries, want, tolerance + 1e-6);
                ++peerCompared;
            }
        }
        // The grade: the 12 3D-only formats (three of them LUT images, two layouts of 3dl), cube, clf, ctf, csp
        // and icc; each curve: the same, and the 1D formats (5 for the grey curve, 4 without csv log for the
        // other). Then houdini (either dimension), vf and vlt (3D). The peer reads cube, both 3dl layouts, mga,
        // look, cub, itx, spi3d, clf, ctf, csp and vf, houdini but for a curve of three channels, and for curves
        // also the Discreet lut and spi1d.
        QCOMPARE(compared, (17 + 3) + (17 + 3 + 5) + (17 + 3 + 4));
        QCOMPARE(peerCompared, 13 + 15 + 14);
    }

    // Discreet files of codes not made by us, legal range, read as OpenColorIO reads them: by the output depth the
    // header gives, else the one the entry count implies; 65536 entries indexed by half-float codes; half-float values.
    void discreetCodesAsThePeerReadsThem()
    {
        const auto half = [](float v) { const qfloat16 h(v); quint16 bits; std::memcpy(&bits, &h, 2); return double(bits); };
        const auto input = [](int i) { quint16 bits = quint16(i); qfloat16 h; std::memcpy(static_cast<void *>(&h), &bits, 2); return double(h); };
        const auto legal = [](double t, int c) { return 0.0625 + (0.855 - 0.05 * c) * std::pow(t > 0 ? std::min(t, 1.0) : 0.0, 0.7); };
        // Without a depth in the header, a name NAME_<in>to<out> gives it (16fp: half floats); the header's wins.
        const struct { const char *header; int n; std::function<double(int, int)> value; const char *name = "legal-range"; } files[] = {
            {"LUT: 3 1024", 1024, [&](int i, int c) { return std::round(65535 * legal(i / 1023.0, c)); }, "grade_10to16"},
            {"LUT: 3 4096", 4096, [&](int i, int c) { return std::round(1023 * legal(i / 4095.0, c)); }, "grade_12to10"},
            {"LUT: 3 1024", 1024, [&](int i, int c) { return half(float(legal(i / 1023.0, c))); }, "grade_10to16fp"},
            {"LUT: 3 65536", 65536, [&](int i, int c) { return std::round(4095 * legal(input(i), c)); }, "grade_16fpto12"},
            {"LUT: 3 1024 4096", 1024, [&](int i, int c) { return std::round(4095 * legal(i / 1023.0, c)); }, "grade_10to16"},
            {"LUT: 3 1024", 1024, [&](int i, int c) { return std::round(1023 * legal(i / 1023.0, c)); }},
            {"LUT: 3 256", 256, [&](int i, int c) { return std::round(255 * legal(i / 255.0, c)); }},
            {"LUT: 3 4096", 4096, [&](int i, int c) { return std::round(4095 * legal(i / 4095.0, c)); }},
            {"LUT: 3 1024 4096", 1024, [&](int i, int c) { return std::round(4095 * legal(i / 1023.0, c)); }},
            {"LUT: 3 65536", 65536, [&](int i, int c) { return std::round(65535 * legal(input(i), c)); }},
            {"LUT: 3 256 65536f", 256, [&](int i, int c) { return half(float(legal(i / 255.0, c))); }},
        };
        for (const auto &f : files) {
            QByteArray text = "#\n" + QByteArray(f.header) + "\n";
            for (int k = 0; k < 3 * f.n; ++k)
                text += QByteArray::number(f.value(k % f.n, k / f.n)) + '\n';
            Read_LUTFile lut;
            LutFileOptions options{TestSupport::writeFile(path(QString(f.name) + ".lut"), text), LutFormatId::Discreet1D};
            QString error;
            const std::vector<float> baked = peerBake(options.path, 1, f.n, path("peer.cube"), &error);
            const QString what = QString(f.name) + " " + f.header + ": ";
            QVERIFY2(lut.readLut(options, false) && lut.size1D == f.n && !baked.empty(), qPrintable(what + lut.errorString + error));
            COMPARE_TABLES(what, tableOf(lut.table1D), f.n, tableOf(baked), 2e-6);
            QVERIFY(lut.table1D[f.n - 1][0] < 0.93f); // not stretched to 1.0
        }
    }

    // A cube file with a 1D shaper before its cube, as ociobakelut writes one: the first lines are the
    // shaper, and a bake applies it as the peer does.
    void shaperBeforeCube()
    {
        const QString config = TestSupport::writeFile(path("config.ocio"),
            "ocio_profile_version: 1\nroles:\n  default: lin\n  reference: lin\ncolorspaces:\n  - !<ColorSpace>\n    name: lin\n"
            "  - !<ColorSpace>\n    name: shaper\n    from_reference: !<ExponentTransform> {value: [0.5, 0.5, 0.5, 1]}\n"
            "  - !<ColorSpace>\n    name: graded\n    from_reference: !<CDLTransform> {slope: [0.9, 1.0, 0.8], "
            "offset: [0.05, 0.02, 0.1], power: [1.1, 1.0, 0.9], sat: 0.7}\n");
        const QString shaped = path("shaped.cube");
        const TestSupport::ProcessResult r = TestSupport::runProcess("ociobakelut", {"--iconfig", config, "--inputspace", "lin",
            "--outputspace", "graded", "--shaperspace", "shaper", "--format", "resolve_cube", "--cubesize", "5", "--shapersize", "9", shaped});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const TestSupport::CubeText text = TestSupport::parseCubeText(shaped);
        QVERIFY(text.size == 5 && text.values.size() == (9 + 125) * 3);
        Read_LUTFile lut;
        LutFileOptions options{shaped, LutFormatId::Cube};
        QVERIFY2(lut.readLut(options, false) && lut.size1D == 9 && lut.size3D == 5, qPrintable(lut.errorString));
        COMPARE_TABLES(QString(), tableOf(lut.table3D), 125, [&text](int i, int c) { return std::min(1.0, double(text.values[3 * (9 + i) + c])); }, 0);
        COMPARE_TABLES(QString("shaper "), tableOf(lut.table1D), 9, tableOf(text.values), 0);
        // --bake applies the shaper: the file then means what the peer reads in it.
        for (int n : {5, 17}) {
            QString error;
            const std::vector<float> peer = peerBake(shaped, 3, n, path("peer.cube"), &error);
            QVERIFY2(!peer.empty() && TestSupport::runConvert({"--bake", "-s", QString::number(n), shaped, path("baked.cube")}).exitCode == 0,
                     qPrintable(error));
            COMPARE_TABLES(QString("baked "), tableOf(TestSupport::parseCubeText(path("baked.cube")).values), n * n * n, tableOf(peer), 2e-6);
        }
    }

    // The csp and Truelight writers put what stands in front of a cube into their files: a cube file's 1D table, a csp
    // pre-LUT, a Truelight input LUT (each made by ociobakelut, within 0..1 so that nothing is clamped) reach the file
    // written, which then means what the source means, to the peer and to --bake here; no note says anything was left out.
    void shapersWritten()
    {
        const QString config = TestSupport::writeFile(path("mild.ocio"),
            "ocio_profile_version: 1\nroles:\n  default: lin\n  reference: lin\ncolorspaces:\n  - !<ColorSpace>\n    name: lin\n"
            "  - !<ColorSpace>\n    name: shaper\n    from_reference: !<ExponentTransform> {value: [0.5, 0.5, 0.5, 1]}\n"
            "  - !<ColorSpace>\n    name: graded\n    from_reference: !<CDLTransform> {slope: [0.9, 0.95, 0.8], "
            "offset: [0.05, 0.02, 0.1], power: [1.1, 1.0, 0.9], sat: 0.85}\n");
        QStringList sources;
        for (const char *format : {"resolve_cube", "cinespace"}) {
            sources << path(QStringLiteral("mild.%1").arg(format[0] == 'r' ? "cube" : "csp"));
            const TestSupport::ProcessResult r = TestSupport::runProcess("ociobakelut", {"--iconfig", config, "--inputspace", "lin",
                "--outputspace", "graded", "--shaperspace", "shaper", "--format", format, "--cubesize", "9", "--shapersize", "9", sources.last()});
            QVERIFY2(r.exitCode == 0, r.err.constData());
        }
        sources << path("mild-cube.cub"); // the Truelight file written from the first, its input LUT then written into a csp
        const struct { int source; const char *to; } conversions[] = {{0, "csp"}, {0, "cub"}, {1, "csp"}, {1, "cub"}, {2, "csp"}};
        for (const auto &c : conversions) {
            const QString out = c.source == 0 && c.to[1] == 'u' ? sources[2] : path(QStringLiteral("mild-%1.%2").arg(c.source).arg(c.to));
            const QString what = sources[c.source] + " -> " + out + ": ";
            const TestSupport::ProcessResult r = TestSupport::runConvert({sources[c.source], out});
            QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), qPrintable(what + r.err));
            QString error;
            const std::vector<float> want = peerBake(sources[c.source], 3, 17, path("want.cube"), &error),
                                     peer = peerBake(out, 3, 17, path("peer.cube"), &error);
            QVERIFY2(!want.empty() && !peer.empty() && TestSupport::runConvert({"--bake", "-s", "17", out, path("ours.cube")}).exitCode == 0,
                     qPrintable(what + error));
            COMPARE_TABLES(what + "ociobakelut: ", tableOf(peer), 17 * 17 * 17, tableOf(want), 5e-6);
            COMPARE_TABLES(what + "--bake: ", tableOf(TestSupport::parseCubeText(path("ours.cube")).values), 17 * 17 * 17, tableOf(want), 5e-6);
        }
    }

    // "-" reads standard input, its format told by its content, and writes standard output, which holds the LUT alone;
    // a named pipe reads as the file it carries, its format told by its name; a device that cannot be read twice fails
    // in one line; csv log values with no power of two above them, which once hung the reader, fail in time.
    void standardStreamsAndHugeCodes()
    {
        for (const Source &s : kSources) {
            const QString to = s.dimension == 3 ? "spi3d" : "discreet1d", file = path(s.dimension == 3 ? "in.cube" : "in.spi1d");
            QVERIFY(TestSupport::runConvert({TestSupport::writeFile(file, sourceText(s)), path("direct"), "--to", to}).exitCode == 0);
            const TestSupport::ProcessResult piped = TestSupport::runConvert({"-", "-", "--to", to}, sourceText(s));
            QVERIFY2(piped.exitCode == 0 && piped.out == TestSupport::readFile(path("direct")), piped.err.constData());
            const QString pipe = path("pipe." + QFileInfo(file).suffix());
            QFile::remove(pipe);
            QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
            QProcess writer;
            writer.start("sh", {"-c", "cat \"$0\" > \"$1\"", file, pipe});
            const TestSupport::ProcessResult named = TestSupport::runConvert({pipe, "-", "--to", to}, {}, 20000);
            if (!writer.waitForFinished(5000))
                writer.kill();
            QVERIFY2(named.exitCode == 0 && named.out == TestSupport::readFile(path("direct")), named.err.constData());
        }
        const TestSupport::ProcessResult junk = TestSupport::runConvert({"-", "-"}, "LUT_3D_SIZE 2\n0 0 0\n");
        QVERIFY(junk.exitCode == 1 && junk.out.isEmpty() && junk.err.startsWith("chromaduct-convert: standard input: "));
        const TestSupport::ProcessResult device = TestSupport::runConvert({"--from", "cube", "/dev/null", path("null.cube")});
        QVERIFY2(device.exitCode == 1 && device.err.count('\n') == 1 && device.err.startsWith("chromaduct-convert: /dev/null: "),
                 device.err.constData());
        for (const char *last : {"1e30", "inf", "5000000000000000000", "-inf", "nan"}) {
            const TestSupport::ProcessResult r = TestSupport::runConvert(
                {TestSupport::writeFile(path("huge.csv"), "0,\t0\n1,\t" + QByteArray(last) + "\n"), path("huge.spi1d")}, {}, 10000);
            QVERIFY2(r.exitCode == 1 && r.err.contains(": line 2: "), QByteArray(last) + r.err);
        }
    }
};

QTEST_GUILESS_MAIN(TestRoundTrip)
#include "test_round_trip.moc"
