// chromaduct-convert end to end through the built executable: conversions and
// their options, every failure kind with its status and one-line message,
// --info, --formats, batch conversion, locale and BOM/CRLF independence.

#include "TestSupport.h"
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <array>
#include <cmath>

using TestSupport::ProcessResult;
using TestSupport::readFile;
using TestSupport::runConvert;

namespace {

using Rgb = std::array<double, 3>;

// Affine, so tetrahedral resampling reproduces it exactly at every point.
Rgb affine(double r, double g, double b)
{
    return {0.1 + 0.6 * r + 0.2 * b, 0.05 + 0.7 * g + 0.1 * r, 0.2 + 0.5 * b + 0.15 * g};
}

// Cube lines of affine at size n, red fastest, in the writer's "%.6f".
QByteArray cubeBody(int n)
{
    QByteArray text;
    for (int i = 0; i < n * n * n; ++i) {
        const Rgb v = affine(i % n / double(n - 1), i / n % n / double(n - 1), i / (n * n) / double(n - 1));
        text += QByteArray::number(v[0], 'f', 6) + ' ' + QByteArray::number(v[1], 'f', 6) + ' '
            + QByteArray::number(v[2], 'f', 6) + '\n';
    }
    return text;
}

QByteArray cubeFile(int n) { return "# made by the test\nLUT_3D_SIZE " + QByteArray::number(n) + "\n" + cubeBody(n); }

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString file(const QString &name, const QByteArray &text) const { return TestSupport::writeFile(path(name), text); }

private slots:
    void initTestCase() { QVERIFY2(m_dir.isValid() && QFile::exists(TestSupport::convertPath()), "no executable"); }

    // Default orders keep the lines; --size resamples; --out-order lays the table out (which index
    // varies fastest on a line, whether a line is reversed).
    void conversions()
    {
        const QString in = file("in.cube", cubeFile(3)), out = path("out.cube");
        struct { QStringList arguments; int n; bool blueFastest, reversed; } layouts[] = {
            {{}, 3, false, false}, {{"-s", "3"}, 3, false, false}, {{"-s", "17"}, 17, false, false},
            {{"--in-order", "BGR/BGR", "--out-order", "bgr/bgr"}, 3, false, false},
            {{"--out-order", "RGB/RGB"}, 3, true, false}, {{"--out-order", "BGR/BGR"}, 3, false, true},
            {{"--out-order", "rgb/bgr"}, 3, false, false}, {{"--out-order", "BGR/RGB"}, 3, true, true}};
        for (const auto &l : layouts) {
            const ProcessResult r = runConvert(QStringList{in, out} + l.arguments);
            QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
            const int n = l.n;
            if (n == 3 && !l.blueFastest && !l.reversed) // the standard layout keeps the lines
                QCOMPARE(readFile(out), "TITLE \nLUT_3D_SIZE 3\n" + cubeBody(3));
            const TestSupport::CubeText cube = TestSupport::parseCubeText(out);
            QCOMPARE(cube.size, n);
            for (int i = 0; i < n * n * n; ++i) {
                const double fast = i % n / (n - 1.0), middle = i / n % n / (n - 1.0), slow = i / (n * n) / (n - 1.0);
                const Rgb want = l.blueFastest ? affine(slow, middle, fast) : affine(fast, middle, slow);
                for (int c = 0; c < 3; ++c)
                    QVERIFY2(std::fabs(cube.values[3 * i + c] - want[l.reversed ? 2 - c : c]) < 2e-6,
                             qPrintable(l.arguments.join(' ')));
            }
        }
    }

    // --in-order X reads back what --out-order X wrote, 1D tables as cubes: through a format whose
    // default order is another pair and back, a file comes out as a direct conversion writes it.
    void ordersReadBack()
    {
        QByteArray curve = "Version 1\nFrom 0.0 1\nLength 4\nComponents 3\n{\n";
        for (int i = 0; i < 4; ++i)
            curve += QByteArray::number(i * 0.25) + ' ' + QByteArray::number(i * 0.125) + ' ' + QByteArray::number(0.9 - i * 0.2) + '\n';
        const QString cube = file("o.cube", cubeFile(3)), spi1d = file("o.spi1d", curve + "}\n");
        for (const QString &source : {cube, spi1d})
            QVERIFY(runConvert({source, path("direct." + source.section('.', -1))}).exitCode == 0);
        for (const char *order : {"RGB/RGB", "RGB/BGR", "BGR/RGB", "BGR/BGR"})
            for (const char *through : {"pandora", "spi3d", "zyt3d", "davlut", "zyt1d", "discreet1d", "look", "truelight", "csp", "csp1d"}) {
                const QString source = QByteArray(through).contains("1d") ? spi1d : cube, ext = source.section('.', -1);
                through = QByteArray(through) == "csp1d" ? "csp" : through; // a csp file of either dimension
                QVERIFY(runConvert({source, path("mid"), "--to", through, "--out-order", order, "--scale", "1"}).exitCode == 0
                        && runConvert({path("mid"), path("back." + ext), "--from", through, "--in-order", order}).exitCode == 0);
                QVERIFY2(readFile(path("back." + ext)) == readFile(path("direct." + ext)), qPrintable(QString(order) + " " + through));
            }
    }

    // Status 1: an input cannot be read; 2: the output cannot be written or lacks its table; 64: usage.
    // One stderr line naming the file (argument `named`) and the reason, nothing on stdout, no output left.
    void failures()
    {
        const QString good = file("good.cube", cubeFile(2)), out = path("failed.cube"), dir = m_dir.path();
        struct Case { QStringList arguments; int status, named; QString reason, output; };
        QVector<Case> cases = {
            {{path("missing.cube"), out}, 1, 0, "cannot open: No such file or directory", out},
            {{file("huge.cube", "TITLE \"x\"\nLUT_3D_SIZE 300\n0 0 0\n"), out}, 1, 0,
             "line 2: LUT_3D_SIZE: cube size 300 is above the limit of 256", out},
            {{CHROMADUCT_SOURCE_DIR "/tests/fuzz/regressions/cube-size-beyond-int.cube", out}, 1, 0,
             "line 2: LUT_3D_SIZE: cube size 4294967298 is above the limit of 256", out},
            {{file("comment.cube", "LUT_3D_SIZE 2 # two\n0 0 0\n"), out}, 1, 0, "line 1: LUT_3D_SIZE \"2 # two\" is not a whole number", out},
            {{file("short.cube", "LUT_3D_SIZE 3\n0 0 0\n1 1 1\n"), out}, 1, 0,
             "the file ends after 2 of 27 cube entries", out},
            {{file("empty.cube", ""), out}, 1, 0, "", out},
            {{dir, out}, 1, 0, "cannot open: Is a directory", out},
            {{good, path("no/such/dir/out.cube")}, 2, 1, "cannot open", path("no/such/dir/out.cube")},
            {{good, dir, "--to", "cube"}, 2, 1, "cannot open for writing: Is a directory", QString()},
            {{good, "/dev/full", "--to", "cube"}, 2, 1, "write failed: No space left on device", QString()},
            {{file("csv.cube", "LUT_1D_SIZE 2\n0.1 0.1 0.1\n0.4 0.4 0.4\n"), path("dark.csv")}, 2, 1, "codes of scale 255 whose largest is 102 would read back on the scale 127", path("dark.csv")},
            {{file("d.spi1d", "Length 2\nComponents 1\n{\n0\n1\n}\n"), path("x.lut"), "--to", "lut1d", "--size", "300"}, 2, 1,
             "the lut1d format has no place for a table of 300 entries (it holds 256)", path("x.lut")},
            {{file("only1d.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n"), path("only1d.spi3d"), "--plain"}, 2, 0,
             "holds no 3D table, which the spi3d output needs", path("only1d.spi3d")},
            {{good, path("x.3dl"), "--scale", "1000"}, 2, 1, "a 3dl file holds integer codes of 10, 12 or 16 bits (scale 1023, 4095 or 65535), not codes of scale 1000", path("x.3dl")},
            {{file("dark.cube", "LUT_3D_SIZE 4\n" + QByteArray("0.1 0.2 0.45\n").repeated(64)), path("dark.3dl"), "--to", "flame"}, 2, 1,
             "its largest code, 1843, is below half of 4095: a flame file gives no output depth", path("dark.3dl")},
            {{good, path("1d.out"), "--to", "spi1d"}, 2, 0,
             "its transform mixes the channels (a 3D table), which the spi1d output cannot hold", path("1d.out")},
            {{good, path("1d.out"), "--to", "spi1d", "--plain"}, 2, 0, "holds no 1D table, which the spi1d output needs",
             path("1d.out")},
        };
        const QStringList usage[] = {{}, {good}, {good, out, "third"}, {"--info"}, {"--out-dir", dir},
            {good, out, "--size", "1"}, {good, out, "--size", "257"}, {good, out, "--size", "big"},
            {good, out, "--scale", "0"}, {good, out, "--to", "nosuch"}, {good, out, "--from", "99"},
            {good, out, "--in-order", "RGB"}, {good, out, "--out-order", "RGB/GBR"}, {good, out, "--bogus"},
            {good, out, "--size"}, {"--info", "--formats"}, {good, out, "--scale", "4095"}, {good, path("x.spi1d"), "--scale", "2"},
            {good, out, "--size", "300"}, {"--out-dir", dir, "-"}, {"--out-dir", dir, good, "--scale", "1023"},
            {good, out, "-j", "0"}, {good, out, "--jobs", "two"}, {good, path("out.xyz")}, {good, path("out")},
            {good, out, "--bake", "--plain"}};
        for (const QStringList &arguments : usage)
            cases.push_back({arguments, 64, -1, QString(), out});
        for (const Case &c : cases) {
            const ProcessResult r = runConvert(c.arguments);
            const QByteArray what = c.arguments.join(' ').toUtf8() + " -> " + r.err;
            const QString message = c.named < 0 ? QString() : c.arguments[c.named] + ": " + c.reason;
            QVERIFY2(r.exitCode == c.status && r.out.isEmpty() && r.err.count('\n') == 1, what.constData());
            QVERIFY2(r.err.startsWith("chromaduct-convert: " + message.toUtf8()), what.constData());
            QVERIFY2(c.output.isEmpty() || !QFile::exists(c.output), what.constData());
        }
    }

    // Text that is no LUT is refused with the reason, under .cube and under an unknown extension alike (no
    // output left); what a format's content says decides for an unknown extension; keywords stand at a line's start.
    void noLutIsRefusedAndContentDecides()
    {
        QByteArray binary(600, '\0');
        for (int i = 0; i < binary.size(); ++i)
            binary[i] = char(i * 37 % 256);
        // The reason under an unknown extension where its content names another reader.
        const struct { const char *name; QByteArray text; const char *reason, *otherReason; } refused[] = {
            {"garbage", "garbage\n", "no LUT data found: not a cube file", nullptr},
            {"three-lines", "0.1 0.2 0.3\n0.4 0.5 0.6\n0.7 0.8 0.9\n", "3 data lines without a size line", nullptr},
            {"one-point", "LUT_3D_SIZE 1\n0 0 0\n", "line 1: LUT_3D_SIZE 1: a table has at least 2 points per axis", nullptr},
            {"matrix", "1 0 0 0\n0 1 0 0\n0 0 1 0\n", "line 1: a data line of a cube file is three numbers",
             "the file ends after 0 of 64 cube entries"}, // a 3dl shaper line, by its content
            {"binary", binary, "line 1: binary data, not cube text", nullptr},
            {"short-entry", "LUT_3D_SIZE 2\n0 0 0\n1 0\n", "line 3: cube entry 2 is not three numbers", nullptr},
        };
        for (const auto &r : refused) {
            for (const char *extension : {".cube", ".txt"}) {
                const QString in = file(QString(r.name) + extension, r.text), out = path("refused.cube");
                const ProcessResult result = runConvert({in, out});
                QVERIFY2(result.exitCode == 1 && result.err.count('\n') == 1 && !QFile::exists(out)
                             && result.err.startsWith("chromaduct-convert: " + in.toUtf8() + ": ")
                             && result.err.contains(QString(extension) == ".txt" && r.otherReason ? r.otherReason : r.reason),
                         qPrintable(in + ": " + result.err));
            }
        }
        // A 3dl and a spi1d under names that say nothing are read as what they are.
        QByteArray threeDl = "0 256 512 768 1023\n";
        for (int i = 0; i < 125; ++i)
            threeDl += QByteArray::number(i / 25 * 1023) + ' ' + QByteArray::number(i / 5 % 5 * 1023) + ' '
                + QByteArray::number(i % 5 * 1023) + '\n';
        const QString spi1d = file("curve.dat", "Version 1\nFrom 0 1\nLength 2\nComponents 1\n{\n0\n0.5\n}\n");
        QVERIFY(runConvert({"--info", file("grade.lutfile", threeDl)}).out.contains("format: 3dl (3)\nsize3D: 5\n"));
        QVERIFY(runConvert({"--info", spi1d}).out.contains("format: spi1d (12)\nsize3D: 0\nsize1D: 2\n"));
        // A TITLE that holds a keyword is a title.
        const QString titled = file("titled.cube", "TITLE \"made for LUT_3D_SIZE 33 monitors\"\nLUT_3D_SIZE 2\n" + cubeBody(2));
        QVERIFY(runConvert({"--info", titled}).out.contains("size3D: 2\n"));
    }

    // By default a conversion keeps what the file means: values above 1 survive in reals, a 1D input stays 1D
    // (as a 1D cube), a format of codes clamps with one note; --plain clamps on reading and says what it left out.
    void defaultReadingKeepsTheMeaning()
    {
        const QString bright = file("bright.cube", "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1.25 1 1\n");
        QVERIFY(runConvert({bright, path("bright-out.cube")}).exitCode == 0);
        QVERIFY(readFile(path("bright-out.cube")).contains("1.250000"));
        const ProcessResult codes = runConvert({bright, path("bright.mga")});
        QCOMPARE(codes.err, "chromaduct-convert: " + bright.toUtf8()
                     + ": note: 1 value outside 0..1 clamped to the pandora format's codes 0..4095\n");
        const ProcessResult plain = runConvert({"--plain", bright, path("plain.cube")});
        QVERIFY2(plain.err.contains("note: 1 value outside 0..1 clamped; --bake applies what the file means"), plain.err.constData());
        QVERIFY(!readFile(path("plain.cube")).contains("1.250000"));
        const QString spi1d = file("range.spi1d", "Version 1\nFrom -0.125 1.125\nLength 2\nComponents 1\n{\n0\n1\n}\n");
        QCOMPARE(runConvert({spi1d, path("range.cube")}).exitCode, 0);
        QVERIFY(readFile(path("range.cube")).startsWith("TITLE \nLUT_1D_SIZE 2\n"));
        QVERIFY(runConvert({"--3d", "--size", "5", spi1d, path("range3d.cube")}).out.isEmpty());
        QVERIFY(readFile(path("range3d.cube")).contains("LUT_3D_SIZE 5\n"));
    }

    void helpVersionInfoFormats()
    {
        QCOMPARE(runConvert({"-V"}).out, QByteArray("chromaduct-convert 1.3.30\n"));
        QCOMPARE(runConvert({"--version"}).out, runConvert({"-V"}).out);
        const ProcessResult help = runConvert({"--help"});
        QCOMPARE(help.exitCode, 0);
        for (const char *option :
             {"--from", "--to", "--out-dir", "--size", "--in-order", "--out-order", "--scale", "--jobs", "--info", "--formats",
              "--compare", "--tolerance", "--input-range", "--shaper", "--shaper-size", "--quality", "--preview-input"})
            QVERIFY2(help.out.contains(option), option);
        for (const QByteArray &line : help.out.split('\n'))
            QVERIFY2(line.size() <= 80, line.constData());
        QVERIFY(help.out.simplified().contains(
            "take --scale, and what they write without it: tiled-image (65535), strip-image (65535), "
            "3dl (4095), pandora (4095), discreet1d (by length), lut1d (255), csvlog (by length), hald (65535), vlt (4095), flame (4095)."));

        // The domain lines: 3D minimum kept, maxima reset to 1 (deliberately, as the reader does);
        // then what the plain reading leaves out: the shaper, the input ranges, clamped values.
        const QString both = file("both.cube", "TITLE \"both\"\nLUT_1D_SIZE 2\nLUT_1D_INPUT_RANGE -0.5 2\n"
                                               "DOMAIN_MIN 0.1 0.2 0.3\nDOMAIN_MAX 1 2 4\nLUT_3D_SIZE 2\n0 0 0\n1 1 1\n"
                                               + cubeBody(2));
        const QString missing = path("gone.cube"), plain = file("plain.txt", cubeBody(3)); // headerless
        const ProcessResult info = runConvert({"--info", both, missing, plain});
        QCOMPARE(info.exitCode, 1);
        QVERIFY(info.err.count('\n') == 1 && info.err.startsWith("chromaduct-convert: " + missing.toUtf8() + ": "));
        QCOMPARE(QString::fromUtf8(info.out),
                 QStringLiteral("file: %1\nformat: cube (0)\nsize3D: 2\nsize1D: 2\ndomainMin3D: 0 0 0\n"
                                "domainMax3D: 1 1 1\ndomainMin1D: 0 0 0\ndomainMax1D: 1 1 1\n"
                                "shaper1D: 2\ninputRange3D: 0.1 0.2 0.3 / 1 2 4\ninputRange1D: -0.5 -0.5 -0.5 / 2 2 2\n"
                                "file: %2\nformat: cube (0)\nsize3D: 3\nsize1D: 0\ndomainMin3D: 0 0 0\n"
                                "domainMax3D: 1 1 1\ndomainMin1D: 0 0 0\ndomainMax1D: 1 1 1\n")
                     .arg(both, plain));
        // The plain reading divides the values by the domains and clamps what falls outside.
        QVERIFY(runConvert({"--info", "--plain", both}).out.contains("domainMin3D: 0.1 0.2 0.3\n"));
        QVERIFY(runConvert({"--info", "--plain", both}).out.contains("outOfRange: 6\n"));

        QCOMPARE(runConvert({"--formats"}).out,
                 QByteArray("0\tcube\t.cube\t3D/1D\tyes\tyes\treals\n1\ttiled-image\ttexture-base 64X64 512X512...\t3D\tyes\tyes\t65535\n"
                            "2\tstrip-image\tidentity Unwrapped Cube 1024X16\t3D\tyes\tyes\t65535\n3\t3dl\t.3dl\t3D\tyes\tyes\t4095\n"
                            "4\tpandora\t.mga .m3d pandora\t3D\tyes\tyes\t4095\n5\tlook\t.look\t3D\tyes\tyes\treals\n"
                            "6\tdiscreet1d\t.lut 1D Discreet\t1D\tyes\tyes\tby length\n7\tlut1d\t.lut 1D\t1D\tyes\tyes\t255\n"
                            "8\tdavlut\t.davLut 3DLut\t3D\tyes\tyes\treals\n9\tcsp\t.csp\t3D/1D\tyes\tyes\treals\n"
                            "10\ttruelight\t.cub Truelight Cube\t3D\tyes\tyes\treals\n11\titx\t.itx\t3D\tyes\tyes\treals\n"
                            "12\tspi1d\t.spi1d\t1D\tyes\tyes\treals\n13\tspi3d\t.spi3d\t3D\tyes\tyes\treals\n"
                            "14\tcsvlog\t.csv log\t1D\tyes\tyes\tby length\n15\tzyt1d\t.zyt1d Ostavel专用格式1D\t1D\tyes\tyes\treals\n"
                            "16\tzyt3d\t.zyt3d Ostavel专用格式3D\t3D\tyes\tyes\treals\n"
                            "17\tclf\t.clf Common LUT Format\t3D/1D\tyes\tyes\treals\n"
                            "18\tctf\t.ctf Color Transform Format\t3D/1D\tyes\tyes\treals\n"
                            "19\thald\tHald CLUT\t3D\tyes\tyes\t65535\n"
                            "20\tcc\t.cc ASC CDL ColorCorrection\t3D/1D\tyes\tyes\treals\n"
                            "21\tccc\t.ccc ASC CDL ColorCorrectionCollection\t3D/1D\tyes\tno\t-\n"
                            "22\tcdl\t.cdl ASC CDL ColorDecisionList\t3D/1D\tyes\tno\t-\n"
                            "23\ticc\tICC profile\t3D\tyes\tyes\treals\n"
                            "24\thoudini\t.lut Houdini\t3D/1D\tyes\tyes\treals\n25\tvf\t.vf Nuke\t3D\tyes\tyes\treals\n"
                            "26\tspimtx\t.spimtx matrix\t3D\tyes\tyes\treals\n27\tvlt\t.vlt Varicam\t3D\tyes\tyes\t4095\n"
                            "28\tflame\t.3dl Flame\t3D\tyes\tyes\t4095\n"));
    }

    // Each input on its own: a failure is reported, the others are written,
    // and the status is that of the first failure.
    void batch()
    {
        const QString a = file("batch-a.cube", cubeFile(2)), c = file("batch.c.txt", cubeFile(3));
        const QString missing = path("batch-b.cube"), outDir = path("batch-out/sub");
        ProcessResult r = runConvert({"--out-dir", outDir, a, missing, c, "--size", "4"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.count('\n') == 1 && r.err.startsWith("chromaduct-convert: " + missing.toUtf8() + ": "));
        QCOMPARE(QDir(outDir).entryList(QDir::Files), QStringList({"batch-a.cube", "batch.c.cube"}));
        for (const QString &input : {a, c}) {
            QCOMPARE(runConvert({input, path("single.cube"), "--size", "4"}).exitCode, 0);
            QCOMPARE(readFile(QDir(outDir).filePath(QFileInfo(input).completeBaseName() + ".cube")),
                     readFile(path("single.cube")));
        }
        // A 1D-only input goes to spi1d; a second input of the same name fails and the first output stays.
        QDir().mkpath(path("again"));
        const QString again = TestSupport::writeFile(path("again/batch-a.cube"), cubeFile(3));
        r = runConvert({"--out-dir", outDir, file("batch-1d.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n"), a, again});
        QVERIFY2(r.exitCode == 2 && r.err == "chromaduct-convert: " + QDir(outDir).filePath("batch-a.cube").toUtf8()
                     + ": already written from another input of this run; " + again.toUtf8() + " is not written over it\n", r.err);
        QVERIFY(TestSupport::parseCubeText(QDir(outDir).filePath("batch-a.cube")).size == 2);
        QVERIFY(readFile(QDir(outDir).filePath("batch-1d.spi1d")).startsWith("Version 1\nFrom 0.0 1\nLength 2\n"));
        // Later inputs that fail, in the reading (a table cut short) and in
        // the writing (the output's name is a folder), after inputs written:
        // the folder holds the complete outputs and nothing else, no
        // temporary file either.
        const QString lateDir = path("batch-late");
        QDir().mkpath(QDir(lateDir).filePath("batch-folder.cube"));
        QByteArray cut = cubeFile(9);
        cut.chop(cut.size() / 2);
        r = runConvert({"--out-dir", lateDir, a, c, file("batch-cut.cube", cut), file("batch-folder.cube", cubeFile(2))});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err.count('\n'), 2);
        QCOMPARE(QDir(lateDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList({"batch-a.cube", "batch-folder.cube", "batch.c.cube"}));
        QVERIFY(QFileInfo(QDir(lateDir).filePath("batch-folder.cube")).isDir());
        for (const QString &input : {a, c}) {
            QCOMPARE(runConvert({input, path("single.cube")}).exitCode, 0);
            QCOMPARE(readFile(QDir(lateDir).filePath(QFileInfo(input).completeBaseName() + ".cube")),
                     readFile(path("single.cube")));
        }
    }

    // The image code (and with it Qt Gui) is loaded for images only: not to start, nor for text files.
    void imageCodeLoadedForImagesOnly()
    {
        const auto loads = [](const QStringList &arguments) {
            const ProcessResult r = TestSupport::runProcess("env", QStringList{"LD_DEBUG=libs", TestSupport::convertPath()} + arguments);
            return std::make_pair(r.exitCode, r.err.contains("libQt5Gui.so") && r.err.contains("libchromaduct_images.so"));
        };
        QCOMPARE(loads({"--formats"}), std::make_pair(0, false));
        QCOMPARE(loads({file("text.cube", cubeFile(3)), path("text.spi3d")}), std::make_pair(0, false));
        QCOMPARE(loads({file("image.cube", cubeFile(16)), path("image.png"), "--to", "tiled-image"}), std::make_pair(0, true));
        QCOMPARE(loads({path("image.png"), path("from-image.cube")}), std::make_pair(0, true));
        QCOMPARE(TestSupport::parseCubeText(path("from-image.cube")).size, 16);
    }

    // -j: inputs side by side give the outputs, the messages (in input
    // order) and the status of a run of one after the other.
    void batchOnSeveralThreads()
    {
        QDir().mkpath(path("jobs/other"));
        QStringList inputs;
        for (int i = 0; i < 12; ++i)
            inputs << file(QStringLiteral("jobs/in%1.cube").arg(i), cubeFile(2 + i % 5));
        inputs.insert(3, path("jobs/missing.cube"));
        inputs.insert(5, file("jobs/bad.cube", "LUT_3D_SIZE 3\n0 0 0\n"));
        inputs.insert(7, file("jobs/line.cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n"));
        inputs << file("jobs/other/in4.cube", cubeFile(3)) << file("jobs/other/in4.3dl", "3DMESH\nMesh 1 12\n0 512 1023\n"
                                                                                      + cubeBody(3).replace("0.", ""));
        const QString corpus = TestSupport::corpusDir();
        if (!corpus.isEmpty())
            inputs << QDir(corpus).filePath("colour-science/iridas_cube/Demo.cube")
                   << QDir(corpus).filePath("colour-science/cinespace/Demo.csp");
        const auto run = [&](const QString &jobs) {
            const QString outDir = path("jobs-out-" + jobs);
            ProcessResult r = runConvert(QStringList{"--out-dir", outDir, "--size", "5", "-j", jobs} + inputs);
            r.err.replace(outDir.toUtf8(), "OUT");
            for (const QString &name : QDir(outDir).entryList(QDir::Files))
                r.out += name.toUtf8() + '\n' + readFile(QDir(outDir).filePath(name));
            return r;
        };
        const ProcessResult serial = run("1");
        QCOMPARE(serial.exitCode, 1);
        QVERIFY(serial.err.contains("jobs/missing.cube: cannot open") && serial.err.contains("OUT/in4.cube: already written"));
        for (const char *jobs : {"2", "5"}) {
            const ProcessResult parallel = run(jobs);
            QCOMPARE(parallel.exitCode, serial.exitCode);
            QCOMPARE(parallel.err, serial.err);
            QCOMPARE(parallel.out, serial.out);
        }
    }

    // Names relative to the working folder: two inputs whose outputs are one
    // file under different spellings are caught. The readers' diagnostics
    // stay off unless the environment's logging rules turn them on.
    void relativeNamesAndDiagnostics()
    {
        QDir().mkpath(path("rel/sub"));
        file("rel/a.cube", cubeFile(2));
        file("rel/sub/a.cube", cubeFile(3));
        const auto run = [this](const QStringList &env, const QStringList &arguments) {
            return TestSupport::runProcess("env", QStringList{"-C", path("rel")} + env
                                                      + QStringList{TestSupport::convertPath()} + arguments);
        };
        ProcessResult r = run({}, {"--out-dir", "out", "a.cube", "sub/a.cube"});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err, QByteArray("chromaduct-convert: out/a.cube: already written from another input of this run; "
                                   "sub/a.cube is not written over it\n"));
        r = run({}, {"a.cube", "./sub/../b.cube", "-s", "3"});
        QVERIFY(r.exitCode == 0 && r.err.isEmpty() && QFileInfo::exists(path("rel/b.cube")));
        r = run({"QT_LOGGING_RULES=chromaduct.read=true"}, {"a.cube", "c.cube"});
        QVERIFY2(r.exitCode == 0 && r.err.contains("file:----- \"a.cube\""), r.err);
    }

    // Numbers are read and written with a point under any locale; a BOM and
    // CRLF line ends change nothing.
    void localeBomAndCrLf()
    {
        const QString in = file("locale.cube", "LUT_3D_SIZE 2\n0 0 0\n0.5 0 0\n0 0.25 0\n0.5 0.25 0\n"
                                               "0 0 1e-1\n1 0 0.1\n0 1 0.1\n0.75 0.5 0.125\n");
        auto run = [](const QString &l, const QStringList &arguments) {
            const QStringList env{"-u", "LANGUAGE", "LC_ALL=" + l, "LANG=" + l, "LC_NUMERIC=" + l};
            return TestSupport::runProcess("env", env + QStringList{TestSupport::convertPath()} + arguments);
        };
        for (const QStringList &extra : {QStringList{"-s", "5"}, {}}) {
            QCOMPARE(run("C", QStringList{in, path("c.cube")} + extra).exitCode, 0);
            QCOMPARE(run("de_DE.UTF-8", QStringList{in, path("de.cube")} + extra).exitCode, 0);
            QCOMPARE(readFile(path("de.cube")), readFile(path("c.cube")));
        }
        QVERIFY(readFile(path("c.cube")).contains("\n0.750000 0.500000 0.125000\n"));
        QVERIFY(run("de_DE.UTF-8", {"--info", in}).out.contains("domainMin3D: 0 0 0\ndomainMax3D: 1 1 1\n"));

        const QString marked = file("dos.cube", "\xEF\xBB\xBF" + cubeFile(3).replace("\n", "\r\n"));
        QCOMPARE(runConvert({file("unix.cube", cubeFile(3)), path("unix-out.cube"), "-s", "4"}).exitCode, 0);
        QCOMPARE(runConvert({marked, path("dos-out.cube"), "-s", "4"}).exitCode, 0);
        QCOMPARE(readFile(path("dos-out.cube")), readFile(path("unix-out.cube")));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
