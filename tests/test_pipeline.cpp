// The command line's pipeline: --quiet, the ASC CDL grade options, --then, --then-inverse,
// --inverse, the legal ranges and the input span with its shaper, against OpenColorIO's ociobakelut and
// ociochecklut where they do the same, and the inverse of a table composed with the table itself; --compare of two
// files.

#include "TestSupport.h"
#include "calc/LutCalc.h"
#include "lut/LutFileOptions.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

// A non-separable grade within 0.05..0.9 on a 33-point cube (red fastest), and three curves of a
// 256-entry spi1d within 0.01..0.96, all rising.
QByteArray cubeText()
{
    QByteArray text = "LUT_3D_SIZE 33\n";
    for (int i = 0; i < 33 * 33 * 33; ++i) {
        const double r = i % 33 / 32.0, g = i / 33 % 33 / 32.0, b = i / 1089 / 32.0;
        const double v[3] = {0.7 * r + 0.2 * g + 0.1 * b * b, 0.9 * std::pow(g, 1.2) + 0.1 * r, 0.8 * std::pow(b, 0.8) + 0.2 * g};
        for (int c = 0; c < 3; ++c)
            text += QByteArray::number(0.05 + 0.85 * v[c], 'g', 9) + (c < 2 ? " " : "\n");
    }
    return text;
}

QByteArray curveText()
{
    QByteArray text = "Version 1\nFrom 0.0 1.0\nLength 256\nComponents 3\n{\n";
    for (int i = 0; i < 256; ++i) {
        const double t = i / 255.0;
        text += QByteArray::number(0.02 + 0.9 * std::pow(t, 0.6), 'g', 9) + " " + QByteArray::number(0.03 + 0.9 * std::pow(t, 1.3), 'g', 9)
            + " " + QByteArray::number(0.01 + 0.95 * t, 'g', 9) + "\n";
    }
    return text + "}\n";
}

// The largest difference between two tables of the same length, or infinity when they differ in length.
double largestDifference(const std::vector<float> &a, const std::vector<float> &b)
{
    if (a.size() != b.size() || a.empty())
        return INFINITY;
    double worst = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::fabs(double(a[i]) - double(b[i])));
    return worst;
}

// Per channel: the largest, mean and 99th-percentile (nearest rank) |a - b|, and the r g b of the first largest, over
// the points of a 33-point cube (red fastest) that a lattice of 32 / step + 1 points per axis holds.
using Stats = std::array<double, 6>;
std::vector<Stats> expectedStats(const std::vector<float> &a, const std::vector<float> &b, int step)
{
    std::vector<Stats> stats(3, Stats{-1.0});
    for (size_t c = 0; c < 3; ++c) {
        std::vector<double> d;
        double sum = 0.0;
        for (int bi = 0; bi < 33; bi += step)
            for (int gi = 0; gi < 33; gi += step)
                for (int ri = 0; ri < 33; ri += step) {
                    const size_t i = size_t((bi * 33 + gi) * 33 + ri);
                    d.push_back(std::fabs(double(a[3 * i + c]) - double(b[3 * i + c])));
                    sum += d.back();
                    if (d.back() > stats[c][0])
                        stats[c] = {d.back(), 0.0, 0.0, ri / 32.0, gi / 32.0, bi / 32.0};
                }
        stats[c][1] = sum / double(d.size());
        std::sort(d.begin(), d.end());
        stats[c][2] = d[size_t(std::ceil(0.99 * double(d.size()))) - 1];
    }
    return stats;
}

// The R, G and B lines of --compare's report.
std::vector<Stats> reportedStats(const QByteArray &out)
{
    std::vector<Stats> stats;
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() == 7 && words[0].size() == 1 && QByteArray("RGB").contains(words[0])) {
            stats.emplace_back();
            for (size_t k = 0; k < 6; ++k)
                stats.back()[k] = words[int(k) + 1].toDouble();
        }
    }
    return stats;
}

// Scene-linear to a display-like code: a channel-mixing Matrix (left out for a 1D transform),
// log2 and a Range that maps 0.001..16 (-9.97..4 stops) onto 0..1.
QByteArray hdrList(bool mixes)
{
    const QByteArray node = "    <%1 inBitDepth=\"32f\" outBitDepth=\"32f\"%2</%1>\n";
    const QByteArray matrix = "><Array dim=\"3 3\">0.9 0.08 0.02  0.05 0.9 0.05  0.01 0.09 0.9</Array>";
    const QByteArray range = "><minInValue>-9.965784</minInValue><maxInValue>4</maxInValue><minOutValue>0</minOutValue>"
                             "<maxOutValue>1</maxOutValue>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ProcessList id=\"hdr\" compCLFversion=\"3\">\n"
        + (mixes ? QString(node).arg("Matrix", matrix).toUtf8() : QByteArray()) + QString(node).arg("Log", " style=\"log2\">").toUtf8()
        + QString(node).arg("Range", range).toUtf8() + "</ProcessList>\n";
}

using Rgb = std::array<double, 3>;

// Colours from 0.02 to 15, spread logarithmically: ten greys and six with the channels apart.
std::vector<Rgb> hdrPoints()
{
    std::vector<Rgb> points;
    const auto v = [](int i) { return 0.02 * std::pow(15.0 / 0.02, i % 10 / 9.0); };
    for (int i = 0; i < 16; ++i)
        points.push_back(i < 10 ? Rgb{v(i), v(i), v(i)} : Rgb{v(i), v(i + 4), v(i + 7)});
    return points;
}

// What ociochecklut makes of one colour through file (NaN when it says nothing).
Rgb peerAt(const QString &file, const Rgb &rgb)
{
    QStringList arguments{file};
    for (double c : rgb)
        arguments << QString::number(c, 'g', 9);
    const QList<QByteArray> words = TestSupport::runProcess("ociochecklut", arguments).out.simplified().split(' ');
    const int n = words.size();
    return n < 3 ? Rgb{NAN, NAN, NAN} : Rgb{words[n - 3].toDouble(), words[n - 2].toDouble(), words[n - 1].toDouble()};
}

// The largest difference at the points between file, as ociochecklut or (ours) this program
// reads it, and the reference colours.
double largestError(const QString &file, const std::vector<Rgb> &reference, bool ours)
{
    Read_LUTFile lut;
    LutFileOptions options{file, LutFormats::forInput(file)->id};
    options.bake = true;
    if (ours && !lut.readLut(options, false))
        return INFINITY;
    const std::vector<Rgb> points = hdrPoints();
    double worst = 0.0;
    for (size_t p = 0; p < points.size(); ++p) {
        Rgb got = ours ? points[p] : peerAt(file, points[p]);
        if (ours)
            LutCalc::evaluate(&lut, got.data());
        for (size_t c = 0; c < 3; ++c)
            worst = std::isnan(got[c]) ? INFINITY : std::max(worst, std::fabs(got[c] - reference[p][c]));
    }
    return worst;
}

} // namespace

class TestPipeline : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_cube, m_curve;
    QHash<QString, QString> m_files; // further names files() replaces
    QString path(const QString &name) const { return m_dir.filePath(name); }
    // A and B in a list of arguments stand for the cube and the curve.
    QStringList files(QStringList arguments) const
    {
        for (QString &a : arguments)
            a = a == "A" ? m_cube : a == "B" ? m_curve : m_files.value(a, a);
        return arguments;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");
        m_cube = TestSupport::writeFile(path("a.cube"), cubeText());
        m_curve = TestSupport::writeFile(path("b.spi1d"), curveText());
    }

    // Each pipeline baked on a 33-point cube, by this program and by ociobakelut. The grades keep
    // every value within 0..1, where ASC CDL v1.2's clamps and the peer's unclamped grade agree.
    void againstPeer_data()
    {
        QTest::addColumn<QStringList>("ours");
        QTest::addColumn<QStringList>("peer");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("chain") << QStringList{"A", "--then", "B"} << QStringList{"--lut", "A", "--lut", "B"} << 1e-5;
        QTest::newRow("grade") << QStringList{"A", "--slope", "0.9,0.95,1", "--offset", "0.02,0.01,0", "--power", "1.1,1,0.9", "--sat", "0.8"}
                               << QStringList{"--lut", "A", "--slope", "0.9", "0.95", "1", "--offset", "0.02", "0.01", "0",
                                              "--power", "1.1", "1", "0.9", "--sat", "0.8"} << 1e-5;
        // Different options in command-line order: a power before the curve, an offset after it.
        QTest::newRow("order") << QStringList{"A", "--power=1.3", "--then", "B", "--offset", "0.03,0,-0.01", "--sat", "0.9"}
                               << QStringList{"--lut", "A", "--power", "1.3", "1.3", "1.3", "--lut", "B", "--offset", "0.03", "0", "-0.01", "--sat", "0.9"} << 1e-5;
        // Legal range on either side: the peer's slope and offset that scale it.
        QTest::newRow("out legal") << QStringList{"B", "--out-range", "legal", "--3d", "--size", "33"}
                                   << QStringList{"--lut", "B", "--slope", "0.856304985", "0.856304985", "0.856304985",
                                                  "--offset", "0.0625610948", "0.0625610948", "0.0625610948"} << 1e-5;
        QTest::newRow("in legal") << QStringList{"B", "--in-range", "legal", "--3d", "--size", "33"}
                                  << QStringList{"--slope", "1.16780822", "1.16780822", "1.16780822",
                                                 "--offset", "-0.0730593607", "-0.0730593607", "-0.0730593607", "--lut", "B"} << 1e-5;
        QTest::newRow("1D inverse") << QStringList{"B", "--inverse", "--3d", "--size", "33"} << QStringList{"--invlut", "B"} << 1e-4;
        QTest::newRow("then inverse") << QStringList{"A", "--then-inverse", "B"} << QStringList{"--lut", "A", "--invlut", "B"} << 1e-4;
    }
    void againstPeer()
    {
        QFETCH(QStringList, ours);
        QFETCH(QStringList, peer);
        QFETCH(double, tolerance);
        const QString mine = path(QString(QTest::currentDataTag()) + ".cube"), theirs = path(QString(QTest::currentDataTag()) + "-peer.cube");
        const TestSupport::ProcessResult r = TestSupport::runConvert(files(ours) << mine);
        QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
        const TestSupport::ProcessResult p = TestSupport::runProcess("ociobakelut", files(peer) << "--format" << "iridas_cube" << "--cubesize" << "33" << theirs);
        QVERIFY2(p.exitCode == 0, p.err.constData());
        const TestSupport::CubeText a = TestSupport::parseCubeText(mine), b = TestSupport::parseCubeText(theirs);
        QCOMPARE(a.size, 33);
        const double worst = largestDifference(a.values, b.values);
        QVERIFY2(worst <= tolerance, qPrintable(QStringLiteral("largest difference %1").arg(worst)));
    }

    // Legal range in files of codes: 64..940 of 1023, and 16..235 of 255 where the file holds 8-bit codes.
    void legalRangeInCodes()
    {
        const QString identity = TestSupport::writeFile(path("identity.spi1d"), "Version 1\nFrom 0.0 1.0\nLength 2\nComponents 1\n{\n0\n1\n}\n");
        const struct { QStringList arguments; int at[2]; int codes[2]; } cases[] = {
            {{"--out-range", "legal", "--to", "lut1d"}, {0, 255}, {16, 235}},
            {{"--out-range", "legal", "--to", "discreet1d", "--size", "1024"}, {0, 1023}, {64, 940}},
            {{"--in-range", "legal", "--to", "lut1d"}, {16, 235}, {0, 255}},
        };
        for (const auto &c : cases) {
            const QString out = path("legal.lut");
            const TestSupport::ProcessResult r = TestSupport::runConvert(QStringList{identity} << c.arguments << out);
            QVERIFY2(r.exitCode == 0, r.err.constData());
            // The codes of the red channel: an indexed line's second number, a Discreet line's only one.
            std::vector<int> codes;
            for (const QByteArray &line : TestSupport::readFile(out).split('\n')) {
                const QList<QByteArray> words = line.simplified().split(' ');
                bool number = false;
                const int first = words.value(0).toInt(&number);
                if (number && (words.size() == 1 || words.size() == 4))
                    codes.push_back(words.size() == 1 ? first : words[1].toInt());
            }
            for (int k = 0; k < 2; ++k)
                QVERIFY2(size_t(c.at[k]) < codes.size() && codes[size_t(c.at[k])] == c.codes[k],
                         qPrintable(c.arguments.join(' ') + QString(": %1").arg(codes.size())));
        }
    }

    // A table then its own inverse, and a curve's inverse then the curve, are the identity at
    // the lattice points (1D output for the curves, 3D for the table).
    void inverseOfItself_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("3D then inverse") << QStringList{"A", "--then-inverse", "A"};
        QTest::newRow("3D inverse") << QStringList{"A", "--then", "A", "--then-inverse", "A", "--then-inverse", "A"};
        QTest::newRow("1D inverse then curve") << QStringList{"B", "--inverse", "--then", "B", "--size", "33", "--3d"};
    }
    void inverseOfItself()
    {
        QFETCH(QStringList, arguments);
        const QString out = path("identity.cube");
        const TestSupport::ProcessResult r = TestSupport::runConvert(files(arguments) << out);
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const TestSupport::CubeText cube = TestSupport::parseCubeText(out);
        std::vector<float> identity;
        for (int i = 0; i < 33 * 33 * 33; ++i)
            identity.insert(identity.end(), {float(i % 33 / 32.0), float(i / 33 % 33 / 32.0), float(i / 1089 / 32.0)});
        // The curve's inverse then the curve holds only the curve's range 0.01..0.96 of each channel.
        const float lo[3] = {0.02f, 0.03f, 0.01f}, hi[3] = {0.92f, 0.93f, 0.96f};
        for (size_t k = 0; arguments.first() == "B" && k < identity.size(); ++k)
            identity[k] = std::min(std::max(identity[k], lo[k % 3]), hi[k % 3]);
        const double worst = largestDifference(cube.values, identity);
        QVERIFY2(worst <= 1e-4, qPrintable(QStringLiteral("largest difference %1").arg(worst)));
    }

    // An HDR transform baked for inputs 0.001..16 behind a log2 shaper in every format that holds
    // one, read back by the peer and here; a cube without the shaper (the span as its domain)
    // for the gain. Formats that hold neither the span nor the shaper are refused.
    void inputRangeAndShaper_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<double>("tolerance"); // 0: refused
        QTest::addColumn<bool>("mixes");       // the list with its Matrix, else a 1D transform
        const QStringList log2{"--input-range", "0.001,16", "--shaper", "log2"}, span{"--input-range", "0.001,16"};
        QTest::newRow("cube") << "cube" << "hdr.cube" << log2 << 3e-3 << true;
        QTest::newRow("csp") << "csp" << "hdr.csp" << log2 << 3e-3 << true;
        QTest::newRow("clf") << "clf" << "hdr.clf" << log2 << 3e-3 << true;
        QTest::newRow("houdini") << "houdini" << "hdr.lut" << log2 << 3e-3 << true;
        QTest::newRow("cube without shaper") << "cube" << "span.cube" << span << 1.0 << true;
        // A 1D table of 4096 entries spans the range as its domain.
        QTest::newRow("spi1d span") << "spi1d" << "span.spi1d" << span << 3e-3 << false;
        QTest::newRow("clf 1D span") << "clf" << "span1d.clf" << span << 3e-3 << false;
        QTest::newRow("spi3d refused") << "spi3d" << "hdr.spi3d" << span << 0.0 << true;
        QTest::newRow("3dl refused") << "3dl" << "hdr.3dl" << log2 << 0.0 << true;
        QTest::newRow("spi1d shaper refused") << "spi1d" << "hdr.spi1d" << log2 << 0.0 << false;
    }
    void inputRangeAndShaper()
    {
        QFETCH(QString, format);
        QFETCH(QString, name);
        QFETCH(QStringList, options);
        QFETCH(double, tolerance);
        QFETCH(bool, mixes);
        const QString list = TestSupport::writeFile(path(mixes ? "hdr-list.clf" : "hdr-list-1d.clf"), hdrList(mixes));
        static std::vector<Rgb> references[2];
        std::vector<Rgb> &reference = references[mixes];
        for (const Rgb &point : reference.empty() ? hdrPoints() : std::vector<Rgb>())
            reference.push_back(peerAt(list, point));
        // This program reads the list itself as the peer does.
        QVERIFY(largestError(list, reference, true) <= 1e-5);
        const QString out = path(name);
        const TestSupport::ProcessResult r = TestSupport::runConvert(QStringList{list, out, "--to", format} + options);
        if (tolerance == 0.0) {
            QVERIFY2(r.exitCode == 2 && r.err.count('\n') == 1 && r.err.contains(name.toUtf8() + ": the " + format.toUtf8() + " format holds no"),
                     r.err.constData());
            QVERIFY(!QFile::exists(out));
            return;
        }
        QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
        const double peer = largestError(out, reference, false), ours = largestError(out, reference, true);
        qInfo("%s: largest error at 0.02..15 %.3g read by the peer, %.3g read here", qPrintable(name), peer, ours);
        QVERIFY2(peer <= tolerance && ours <= tolerance, qPrintable(QStringLiteral("%1, %2").arg(peer).arg(ours)));
        // The shaper's gain: without it a 33-point cube spreads its lattice evenly over 0.001..16
        // and misses the dark half by a hundred times more.
        if (name == "span.cube")
            QVERIFY2(peer > 100 * 3e-3, qPrintable(QStringLiteral("%1").arg(peer)));
    }

    // --quiet drops the notes (here: a cube resampled to the 64 points a tiled image holds), not
    // the errors; a bad pipeline is a usage error or names the file it could not read.
    void quietAndRefusals()
    {
        const QString image = path("tiled.png");
        const TestSupport::ProcessResult noted = TestSupport::runConvert({m_cube, image});
        QVERIFY2(noted.exitCode == 0 && noted.err.contains("note: resampled"), noted.err.constData());
        const QByteArray written = TestSupport::readFile(image);
        const TestSupport::ProcessResult quiet = TestSupport::runConvert({"--quiet", m_cube, image});
        QVERIFY2(quiet.exitCode == 0 && quiet.err.isEmpty(), quiet.err.constData());
        QCOMPARE(TestSupport::readFile(image), written);
        const struct { QStringList arguments; int exitCode; const char *says; } refusals[] = {
            {{"-q", "missing.cube", "x.cube"}, 1, "missing.cube: "},
            {{"-q", "A", "--then", "missing.spi1d", "x.cube"}, 1, "missing.spi1d: "},
            {{"A", "--slope", "1,2", "x.cube"}, 64, "--slope takes three numbers"},
            {{"A", "--sat", "-1", "x.cube"}, 64, "saturation"},
            {{"A", "--power", "0,1,1", "x.cube"}, 64, "power"},
            {{"A", "--inverse", "--plain", "x.cube"}, 64, "--plain cannot be used"},
            {{"A", "--in-range", "video", "x.cube"}, 64, "--in-range must be"},
            {{"A", "--input-range", "0,16", "--shaper", "log2", "x.cube"}, 64, "--shaper log2 needs an --input-range MIN above 0"},
            {{"A", "--shaper", "linear", "x.cube"}, 64, "--shaper needs --input-range"},
        };
        for (const auto &refusal : refusals) {
            const TestSupport::ProcessResult r = TestSupport::runConvert(files(refusal.arguments));
            QVERIFY2(r.exitCode == refusal.exitCode && r.err.count('\n') == 1 && r.err.contains(refusal.says), r.err.constData());
        }
    }

    // --compare: the cube against itself in another format, against a grade of itself (with and without that grade
    // applied to A, on the default and a coarser lattice), against ociobakelut's bake of the cube then the curve and of
    // the curve alone; the tolerance either side of the largest difference; files it cannot read; usage errors.
    void compare_data()
    {
        const QString graded = path("graded.cube"), spi3d = path("a.spi3d"), chain = path("chain-peer.cube"),
                      curve = path("curve-peer.cube"), garbage = TestSupport::writeFile(path("garbage.cube"), "hello\n");
        const QStringList grade{"--slope", "1.1,1,0.9", "--power", "1,1.3,1"};
        if (m_files.isEmpty()) {
            QCOMPARE(TestSupport::runConvert(QStringList{m_cube} << grade << graded).exitCode, 0);
            QCOMPARE(TestSupport::runConvert({m_cube, spi3d}).exitCode, 0);
            QCOMPARE(TestSupport::runProcess("ociobakelut", {"--lut", m_cube, "--lut", m_curve, "--format", "iridas_cube",
                                                             "--cubesize", "33", chain}).exitCode, 0);
            QVERIFY(TestSupport::ociobake(m_curve, "iridas_cube", 33, curve));
            m_files = {{"G", graded}, {"S", spi3d}, {"P", chain}, {"P1", curve}, {"X", garbage}};
            double largest = 0.0;
            for (const Stats &channel : expectedStats(TestSupport::parseCubeText(m_cube).values, TestSupport::parseCubeText(graded).values, 1))
                largest = std::max(largest, channel[0]);
            m_files.insert("T+", QString::number(largest * (1 + 1e-6), 'g', 17));
            m_files.insert("T-", QString::number(largest * (1 - 1e-6), 'g', 17));
        }
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("step"); // check the statistics against the grade's on every step-th point; 0: not
        QTest::addColumn<QString>("says"); // the start of the last line on stdout, or what stderr's one line holds
        QTest::newRow("other format") << QStringList{"--compare", "A", "S"} << 0 << 0 << "agree";
        QTest::newRow("graded") << QStringList{"--compare", "A", "G"} << 1 << 1 << "differ";
        QTest::newRow("graded, 17 points") << QStringList{"--compare", "A", "G", "--size", "17"} << 1 << 2 << "differ";
        QTest::newRow("grade on A") << (QStringList{"--compare", "A", "G"} << grade) << 0 << 0 << "agree";
        QTest::newRow("peer chain") << QStringList{"--compare", "A", "P", "--then", "B"} << 0 << 0 << "agree";
        QTest::newRow("peer 1D") << QStringList{"--compare", "P1", "B"} << 0 << 0 << "agree";
        QTest::newRow("tolerance above") << QStringList{"--compare", "A", "G", "--tolerance", "T+"} << 0 << 0 << "agree";
        QTest::newRow("tolerance below") << QStringList{"--compare", "A", "G", "--tolerance", "T-"} << 1 << 0 << "differ";
        QTest::newRow("missing") << QStringList{"--compare", "A", "missing.cube"} << 2 << 0 << "missing.cube: ";
        QTest::newRow("not a LUT") << QStringList{"--compare", "X", "A"} << 2 << 0 << "garbage.cube: ";
        QTest::newRow("an output") << QStringList{"--compare", "A", "G", "out.cube"} << 64 << 0 << "two files";
        QTest::newRow("--out-dir") << QStringList{"--compare", "A", "G", "--out-dir", "out"} << 64 << 0 << "--out-dir cannot";
        QTest::newRow("bad tolerance") << QStringList{"--compare", "A", "G", "--tolerance", "-1"} << 64 << 0 << "--tolerance must";
    }
    void compare()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(int, step);
        QFETCH(QString, says);
        const TestSupport::ProcessResult r = TestSupport::runConvert(files(arguments));
        QVERIFY2(r.exitCode == exitCode, (r.out + r.err).constData());
        if (exitCode >= 2) {
            QVERIFY2(r.out.isEmpty() && r.err.count('\n') == 1 && r.err.contains(says.toUtf8()), r.err.constData());
            return;
        }
        QVERIFY2(r.err.isEmpty() && r.out.trimmed().split('\n').last().startsWith(says.toUtf8()), r.out.constData());
        const std::vector<Stats> reported = reportedStats(r.out);
        QCOMPARE(reported.size(), size_t(3));
        const int t = arguments.indexOf("--tolerance");
        const double tolerance = t < 0 ? 1e-5 : files(arguments).value(t + 1).toDouble();
        QVERIFY2((std::max({reported[0][0], reported[1][0], reported[2][0]}) <= tolerance) == (exitCode == 0), r.out.constData());
        const std::vector<Stats> expected = step == 0 ? reported
            : expectedStats(TestSupport::parseCubeText(m_cube).values, TestSupport::parseCubeText(m_files["G"]).values, step);
        for (size_t c = 0; c < 3; ++c)
            for (size_t k = 0; k < 6; ++k)
                QVERIFY2(std::fabs(reported[c][k] - expected[c][k]) <= 1e-6,
                         qPrintable(QStringLiteral("channel %1, column %2: not %3\n%4").arg(c).arg(k).arg(expected[c][k]).arg(QString(r.out))));
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "test_pipeline.moc"
