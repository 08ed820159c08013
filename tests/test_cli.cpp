// chromaduct-convert end to end, through the built executable: conversions,
// order and scale options, resampling, every failure kind with its exit
// status and message, --info, --formats, batch conversion and locale
// independence.

#include "TestSupport.h"

#include "lut/LutFormats.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>

using TestSupport::ProcessResult;
using TestSupport::readFile;
using TestSupport::runConvert;
using TestSupport::writeFile;

namespace {

using Rgb = std::array<double, 3>;
using LutFunction = std::function<Rgb(double, double, double)>;

// An affine map of 0..1 into 0..1: tetrahedral resampling reproduces it
// exactly at every point, so a resampled cube can be checked against it.
Rgb affine(double r, double g, double b)
{
    return {0.1 + 0.6 * r + 0.2 * b, 0.05 + 0.7 * g + 0.1 * r, 0.2 + 0.5 * b + 0.15 * g};
}

// Cube text for f at size n in the standard layout: red varies fastest and
// each line is red, green, blue; values in "%.6f" as the writer prints them.
QByteArray cubeBody(int n, const LutFunction &f)
{
    QByteArray text;
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const Rgb v = f(r / double(n - 1), g / double(n - 1), b / double(n - 1));
                char line[64];
                std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", v[0], v[1], v[2]);
                text += line;
            }
        }
    }
    return text;
}

QByteArray cubeFile(int n, const LutFunction &f)
{
    return "# made by the test\nLUT_3D_SIZE " + QByteArray::number(n) + "\n" + cubeBody(n, f);
}

QByteArray writtenCube(int n, const QByteArray &body)
{
    return "TITLE \nLUT_3D_SIZE " + QByteArray::number(n) + "\n" + body;
}

ProcessResult runConvertWithEnvironment(const QStringList &arguments, const QProcessEnvironment &environment)
{
    ProcessResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(TestSupport::convertPath(), arguments);
    if (!process.waitForStarted(30000) || !process.waitForFinished(120000))
        return result;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

// The first catalogue row that satisfies pred, or null.
const LutFormat *findFormat(const std::function<bool(const LutFormat &)> &pred)
{
    for (int id = 0; id < LutFormats::kCount; ++id) {
        if (pred(*LutFormats::byId(id)))
            return LutFormats::byId(id);
    }
    return nullptr;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QFile::exists(TestSupport::convertPath()), qPrintable(TestSupport::convertPath()));
    }

    // Read and written with the default orders, a cube keeps its lines:
    // the output is the header the writer gives plus the same data lines.
    void cubeToCubeKeepsTheTable()
    {
        const QString in = writeFile(path("keep.cube"), cubeFile(3, affine));
        const QString out = path("keep-out.cube");
        const ProcessResult r = runConvert({in, out});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.isEmpty());
        QCOMPARE(readFile(out), writtenCube(3, cubeBody(3, affine)));

        // An explicit size equal to the input's changes nothing.
        const QString same = path("keep-same.cube");
        QCOMPARE(runConvert({in, same, "--size", "3"}).exitCode, 0);
        QCOMPARE(readFile(same), readFile(out));
    }

    void resamplesToTheRequestedSize()
    {
        const QString in = writeFile(path("small.cube"), cubeFile(3, affine));
        for (int m : {2, 5, 17}) {
            const QString out = path(QStringLiteral("resampled-%1.cube").arg(m));
            const ProcessResult r = runConvert({in, out, "-s", QString::number(m)});
            QCOMPARE(r.exitCode, 0);
            const TestSupport::CubeText cube = TestSupport::parseCubeText(out);
            QCOMPARE(cube.size, m);
            QCOMPARE(int(cube.values.size()), 3 * m * m * m);
            // Standard layout: red fastest.
            for (int n = 0; n < m * m * m; ++n) {
                const Rgb want = affine((n % m) / double(m - 1), (n / m % m) / double(m - 1),
                                        (n / (m * m)) / double(m - 1));
                for (int c = 0; c < 3; ++c)
                    QVERIFY2(std::fabs(cube.values[3 * n + c] - want[c]) < 2e-6,
                             qPrintable(QStringLiteral("size %1 line %2 channel %3").arg(m).arg(n).arg(c)));
            }
        }
    }

    // The same order on both sides reproduces the file whatever it is; the
    // output order alone decides the layout of what is written.
    void orderOptions()
    {
        const int n = 3;
        const QString in = writeFile(path("order.cube"), cubeFile(n, affine));
        const QByteArray original = readFile(in);
        for (const char *order : {"RGB/RGB", "RGB/BGR", "BGR/RGB", "BGR/BGR", "default"}) {
            const QString out = path(QStringLiteral("order-%1.cube").arg(QString(order).remove('/')));
            QCOMPARE(runConvert({"--in-order", order, "--out-order", order, in, out}).exitCode, 0);
            QCOMPARE(readFile(out), writtenCube(n, cubeBody(n, affine)));
        }
        QVERIFY(original == readFile(in));

        struct Layout {
            const char *order;
            bool blueFastest;
            bool reversed;
        };
        for (const Layout &layout : {Layout{"RGB/RGB", true, false}, Layout{"BGR/BGR", false, true},
                                     Layout{"rgb/bgr", false, false}, Layout{"BGR/RGB", true, true}}) {
            const QString out = path("layout.cube");
            QCOMPARE(runConvert({"--out-order", layout.order, in, out}).exitCode, 0);
            const TestSupport::CubeText cube = TestSupport::parseCubeText(out);
            QCOMPARE(int(cube.values.size()), 3 * n * n * n);
            for (int line = 0; line < n * n * n; ++line) {
                const int fast = line % n, middle = line / n % n, slow = line / (n * n);
                const Rgb want = layout.blueFastest ? affine(slow / 2.0, middle / 2.0, fast / 2.0)
                                                    : affine(fast / 2.0, middle / 2.0, slow / 2.0);
                for (int c = 0; c < 3; ++c)
                    QVERIFY2(std::fabs(cube.values[3 * line + c] - want[layout.reversed ? 2 - c : c]) < 1e-6,
                             layout.order);
            }
        }

        // Reading a red-fastest file as blue-fastest transposes the cube.
        const QString out = path("transposed.cube");
        QCOMPARE(runConvert({"--in-order", "RGB/RGB", in, out}).exitCode, 0);
        const TestSupport::CubeText cube = TestSupport::parseCubeText(out);
        // File line 1 lands at table[0][0][1]; the standard layout writes
        // that entry on line 9 (third index 1 varies slowest).
        const Rgb want = affine(0.5, 0.0, 0.0);
        for (int c = 0; c < 3; ++c)
            QVERIFY(std::fabs(cube.values[3 * 9 + c] - want[c]) < 1e-6);
        QVERIFY(std::fabs(cube.values[3 * 1 + 0] - affine(0.0, 0.0, 0.5)[0]) < 1e-6);
    }

    void integerScale()
    {
        const QString in = writeFile(path("scale.cube"), cubeFile(2, affine));
        const QString out = path("scale-out.cube");
        QCOMPARE(runConvert({in, out, "--scale", "4095"}).exitCode, 0);
        const QList<QByteArray> lines = readFile(out).split('\n');
        QCOMPARE(lines.value(1), QByteArray("LUT_3D_SIZE 2"));
        const TestSupport::CubeText source = TestSupport::parseCubeText(in);
        for (int n = 0; n < 8; ++n) {
            QByteArray want;
            for (int c = 0; c < 3; ++c)
                want += QByteArray::number(int(4095.0f * source.values[3 * n + c])) + ' ';
            QCOMPARE(lines.value(2 + n), want);
        }
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("output"); // must not exist afterwards

        const QString good = writeFile(path("good.cube"), cubeFile(2, affine));
        const QString huge = writeFile(path("huge.cube"), "TITLE \"x\"\nLUT_3D_SIZE 300\n0 0 0\n");
        const QString comment = writeFile(path("comment.cube"), "LUT_3D_SIZE 2 # two\n0 0 0\n");
        const QString shortCube = writeFile(path("short.cube"), "LUT_3D_SIZE 3\n0 0 0\n1 1 1\n");
        const QString empty = writeFile(path("empty.cube"), "");
        const QString only1D = writeFile(path("only1d.cube"), "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
        const QString out = path("failed-out.cube");

        QTest::newRow("missing input") << QStringList{path("missing.cube"), out} << 1
                                       << path("missing.cube") + ": cannot open: No such file or directory" << out;
        QTest::newRow("size above bound")
            << QStringList{huge, out} << 1 << huge + ": line 2: LUT_3D_SIZE: cube size 300 is above the limit of 256"
            << out;
        QTest::newRow("text after size") << QStringList{comment, out} << 1 << comment + ": line 1: LUT_3D_SIZE:"
                                         << out;
        QTest::newRow("too few lines") << QStringList{shortCube, out} << 1
                                       << shortCube + ": the file ends after 2 of 27 cube entries" << out;
        QTest::newRow("empty input") << QStringList{empty, out} << 1 << empty + ": " << out;
        QTest::newRow("input is a directory") << QStringList{m_dir.path(), out} << 1 << m_dir.path() + ": " << out;
        QTest::newRow("output in missing dir")
            << QStringList{good, path("no/such/dir/out.cube")} << 2 << path("no/such/dir/out.cube") + ": cannot open"
            << path("no/such/dir/out.cube");
        QTest::newRow("output is a directory") << QStringList{good, m_dir.path()} << 2 << m_dir.path() + ": "
                                               << QString();
        QTest::newRow("3D output from 1D table")
            << QStringList{only1D, out} << 2 << only1D + ": holds no 3D table, which the cube output needs" << out;

        if (const LutFormat *noWriter = findFormat([](const LutFormat &f) { return !f.canWrite(); })) {
            const QString target = path("nowriter.out");
            QTest::newRow("format without writer")
                << QStringList{good, target, "--to", noWriter->name} << 2
                << QStringLiteral("%1: the %2 format has no writer").arg(target, noWriter->name) << target;
        }
        if (const LutFormat *unreadable = findFormat([](const LutFormat &f) { return !f.canRead(); })) {
            QTest::newRow("format without reader")
                << QStringList{good, out, "--from", QString::number(unreadable->id)} << 1
                << QStringLiteral("%1: this build cannot read the %2 format").arg(good, unreadable->name) << out;
        }
        if (const LutFormat *writer1D =
                findFormat([](const LutFormat &f) { return f.dimension == 1 && f.canWrite(); })) {
            const QString target = path("one-d.out");
            QTest::newRow("1D output from 3D table")
                << QStringList{good, target, "--to", writer1D->name} << 2
                << QStringLiteral("%1: holds no 1D table, which the %2 output needs").arg(good, writer1D->name)
                << target;
        }

        const QStringList usage[] = {
            {},
            {good},
            {good, out, path("third.cube")},
            {good, out, "--size", "1"},
            {good, out, "--size", "257"},
            {good, out, "--size", "big"},
            {good, out, "--scale", "0"},
            {good, out, "--scale", "-3"},
            {good, out, "--to", "nosuch"},
            {good, out, "--from", "17"},
            {good, out, "--in-order", "RGB"},
            {good, out, "--out-order", "RGB/GBR"},
            {good, out, "--bogus"},
            {good, out, "--size"},
            {"--info"},
            {"--out-dir", m_dir.path()},
        };
        for (const QStringList &arguments : usage)
            QTest::newRow(qPrintable("usage: " + arguments.join(' ').remove(m_dir.path())))
                << arguments << 64 << QString() << out;
    }

    void failures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(QString, output);
        const ProcessResult r = runConvert(arguments);
        QCOMPARE(r.exitCode, status);
        QVERIFY(r.out.isEmpty());
        // One line, naming the program, the file and the reason.
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY2(r.err.startsWith("chromaduct-convert: " + message.toUtf8()), r.err.constData());
        if (!output.isEmpty())
            QVERIFY2(!QFile::exists(output), qPrintable(output));
    }

    void helpAndVersion()
    {
        const ProcessResult version = runConvert({"-V"});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QByteArray("chromaduct-convert 1.3.30\n"));
        QCOMPARE(runConvert({"--version"}).out, version.out);
        const ProcessResult help = runConvert({"--help"});
        QCOMPARE(help.exitCode, 0);
        for (const char *option : {"--from", "--to", "--out-dir", "--size", "--in-order", "--out-order", "--scale",
                                   "--info", "--formats", "--version"})
            QVERIFY2(help.out.contains(option), option);
    }

    void info()
    {
        const QString both = writeFile(path("both.cube"), "TITLE \"both\"\n"
                                                          "LUT_1D_SIZE 2\n"
                                                          "LUT_1D_INPUT_RANGE -0.5 2\n"
                                                          "DOMAIN_MIN 0.1 0.2 0.3\n"
                                                          "DOMAIN_MAX 1 2 4\n"
                                                          "LUT_3D_SIZE 2\n"
                                                          + cubeBody(2, affine) + "0 0 0\n1 1 1\n");
        const QString missing = path("gone.cube");
        const QString plain = writeFile(path("plain.txt"), cubeBody(3, affine)); // headerless, any extension
        const ProcessResult r = runConvert({"--info", both, missing, plain});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY(r.err.startsWith("chromaduct-convert: " + missing.toUtf8() + ": "));
        const QString expected = QStringLiteral("file: %1\n"
                                                "format: cube (0)\n"
                                                "size3D: 2\n"
                                                "size1D: 2\n"
                                                "domainMin3D: 0.1 0.2 0.3\n"
                                                "domainMax3D: 1 1 1\n"
                                                "domainMin1D: -0.5 -0.5 -0.5\n"
                                                "domainMax1D: 1 1 1\n"
                                                "file: %2\n"
                                                "format: cube (0)\n"
                                                "size3D: 3\n"
                                                "size1D: 0\n"
                                                "domainMin3D: 0 0 0\n"
                                                "domainMax3D: 1 1 1\n"
                                                "domainMin1D: 0 0 0\n"
                                                "domainMax1D: 1 1 1\n")
                                     .arg(both, plain);
        QCOMPARE(QString::fromUtf8(r.out), expected);
    }

    void formats()
    {
        const ProcessResult r = runConvert({"--formats"});
        QCOMPARE(r.exitCode, 0);
        const QStringList lines = QString::fromUtf8(r.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 17);
        const QStringList names = QStringLiteral("cube tiled-image strip-image 3dl pandora look discreet1d lut1d davlut "
                                                 "csp truelight itx spi1d spi3d csvlog zyt1d zyt3d")
                                      .split(' ');
        const QList<int> oneD = {6, 7, 12, 14, 15};
        for (int id = 0; id < 17; ++id) {
            const QStringList fields = lines[id].split('\t');
            QCOMPARE(fields.size(), 6);
            QCOMPARE(fields[0], QString::number(id));
            QCOMPARE(fields[1], names[id]);
            QCOMPARE(fields[2], QString::fromUtf8(LutFormats::byId(id)->label));
            QCOMPARE(fields[3], QString(oneD.contains(id) ? "1D" : "3D"));
            QCOMPARE(fields[4], QString(LutFormats::byId(id)->canRead() ? "yes" : "no"));
            QCOMPARE(fields[5], QString(LutFormats::byId(id)->canWrite() ? "yes" : "no"));
        }
        QCOMPARE(lines[0], QStringLiteral("0\tcube\t.cube\t3D\tyes\tyes"));
        QVERIFY(lines[15].contains(QStringLiteral("Ostavel专用格式1D")));
    }

    // Each input is converted on its own: a failure is reported and the
    // others are still written; the status is that of the first failure.
    void batch()
    {
        const QString a = writeFile(path("batch-a.cube"), cubeFile(2, affine));
        const QString c = writeFile(path("batch.c.txt"), cubeFile(3, affine));
        const QString missing = path("batch-b.cube");
        const QString only1D = writeFile(path("batch-1d.cube"), "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n");
        const QString outDir = path("batch-out/sub");

        ProcessResult r = runConvert({"--out-dir", outDir, a, missing, c, "--size", "4"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY(r.err.startsWith("chromaduct-convert: " + missing.toUtf8() + ": "));
        QCOMPARE(QDir(outDir).entryList(QDir::Files), QStringList({"batch-a.cube", "batch.c.cube"}));
        for (const QString &input : {a, c}) {
            const QString single = path("single.cube");
            QCOMPARE(runConvert({input, single, "--size", "4"}).exitCode, 0);
            QCOMPARE(readFile(QDir(outDir).filePath(QFileInfo(input).completeBaseName() + ".cube")),
                     readFile(single));
        }

        r = runConvert({"--out-dir", outDir, only1D, missing, a});
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err.count('\n'), 2);
    }

    // Numbers are read and written with a point under any locale.
    void localeIndependent()
    {
        const QString in = writeFile(path("locale.cube"), "LUT_3D_SIZE 2\n0 0 0\n0.5 0 0\n0 0.25 0\n0.5 0.25 0\n"
                                                          "0 0 1e-1\n1 0 0.1\n0 1 0.1\n0.75 0.5 0.125\n");
        QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
        base.remove("LANGUAGE");
        QProcessEnvironment c = base;
        c.insert("LC_ALL", "C");
        c.insert("LANG", "C");
        QProcessEnvironment german = base;
        german.insert("LC_ALL", "de_DE.UTF-8");
        german.insert("LANG", "de_DE.UTF-8");
        german.insert("LC_NUMERIC", "de_DE.UTF-8");

        const QString outC = path("locale-c.cube");
        const QString outDe = path("locale-de.cube");
        QCOMPARE(runConvertWithEnvironment({in, outC}, c).exitCode, 0);
        QCOMPARE(runConvertWithEnvironment({in, outDe, "--size", "2"}, german).exitCode, 0);
        QCOMPARE(readFile(outDe), readFile(outC));
        QVERIFY(readFile(outC).contains("\n0.750000 0.500000 0.125000\n"));

        // Resampling under the German locale agrees as well.
        QCOMPARE(runConvertWithEnvironment({in, outC, "-s", "5"}, c).exitCode, 0);
        QCOMPARE(runConvertWithEnvironment({in, outDe, "-s", "5"}, german).exitCode, 0);
        QCOMPARE(readFile(outDe), readFile(outC));
        const ProcessResult info = runConvertWithEnvironment({"--info", in}, german);
        QVERIFY(info.out.contains("domainMax3D: 1 1 1\n"));
    }

    void byteOrderMarkAndCrLf()
    {
        const QByteArray text = cubeFile(3, affine);
        const QString plain = writeFile(path("plain.cube"), text);
        QByteArray dos = text;
        dos.replace("\n", "\r\n");
        const QString marked = writeFile(path("dos.cube"), "\xEF\xBB\xBF" + dos);
        QCOMPARE(runConvert({plain, path("plain-out.cube"), "-s", "4"}).exitCode, 0);
        QCOMPARE(runConvert({marked, path("dos-out.cube"), "-s", "4"}).exitCode, 0);
        QCOMPARE(readFile(path("dos-out.cube")), readFile(path("plain-out.cube")));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
