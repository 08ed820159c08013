// --bake: converting what a LUT file means. Every corpus file OpenColorIO reads bakes to the peer's
// reading; small files whose bake is worked out by hand (a squaring shaper, an input range of
// -0.5..1.5, a value of 1.6, a Truelight input LUT); the plain reading's notes; bad shapers.

#include "TestSupport.h"
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <functional>

namespace {

using TestSupport::runConvert;

// The largest difference between two tables of value triples, relative for values above 1 (the
// six-significant-digit outputs of large values).
double largestDifference(const std::vector<float> &a, const std::vector<float> &b)
{
    if (a.size() != b.size() || a.empty())
        return INFINITY;
    double largest = 0;
    for (size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, std::fabs(double(a[i]) - b[i]) / std::max(1.0, std::fabs(double(b[i]))));
    return largest;
}

// The eight corners of a 2-point cube, red fastest, each channel lo or hi.
QByteArray corners(const char *lo, const char *hi)
{
    QByteArray text;
    for (int i = 0; i < 8; ++i)
        text += QByteArray(i & 1 ? hi : lo) + ' ' + (i & 2 ? hi : lo) + ' ' + (i & 4 ? hi : lo) + '\n';
    return text;
}

QByteArray ramp(int n, const std::function<double(double)> &f)
{
    QByteArray text;
    for (int i = 0; i < n; ++i)
        text += QByteArray(3, ' ').replace(' ', QByteArray::number(f(double(i) / (n - 1)), 'g', 9) + ' ') + '\n';
    return text;
}

const char kCspHead[] = "CSPLUTV100\n3D\n\nBEGIN METADATA\nEND METADATA\n\n";

} // namespace

class TestBake : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed"); }

    // Every corpus file the peer reads, at its own size and at 33: our --bake and ociobakelut's cube
    // bake agree within 5e-6. 1D inputs are also baked to a 1D table and compared with the peer's
    // cube along each channel's axis. Left out: Explicit_Domain.csp (the peer reads no non-cubic
    // table; its identity is checked in handComputed) and Exception_Raising.spi1d (neither reads it).
    // The peer's Resolve reader takes no TITLE line, so it is given the file without its comments.
    void corpusAgreesWithPeer()
    {
        const QString corpus = TestSupport::corpusDir();
        if (corpus.isEmpty())
            QSKIP("the shared corpus is not there");
        int compared = 0;
        QDirIterator it(corpus, {"*.cube", "*.csp", "*.spi1d", "*.spi3d"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next(), name = QFileInfo(file).fileName();
            if (name == "Explicit_Domain.csp" || name == "Exception_Raising.spi1d")
                continue;
            QString peerInput = file;
            if (file.contains("resolve_cube")) {
                QByteArray text;
                for (const QByteArray &line : TestSupport::readFile(file).split('\n'))
                    if (!line.startsWith("TITLE") && !line.startsWith('#'))
                        text += line + '\n';
                peerInput = TestSupport::writeFile(path("peer.cube"), text);
            }
            const TestSupport::ProcessResult info = runConvert({"--info", file});
            const int sizeAt = info.out.indexOf("size3D: ");
            const int own = info.out.mid(sizeAt + 8, info.out.indexOf('\n', sizeAt) - sizeAt - 8).toInt();
            for (int n : {own, 33}) {
                if (n < 2)
                    continue;
                const QString what = QStringLiteral("%1 at %2: ").arg(file).arg(n), ours = path("ours.cube"), peer = path("peer-out.cube");
                QString error;
                QVERIFY2(TestSupport::ociobake(peerInput, "iridas_cube", n, peer, &error), qPrintable(what + error));
                const TestSupport::ProcessResult r = runConvert({"--3d", "-s", QString::number(n), file, ours});
                QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), qPrintable(what + r.err));
                const std::vector<float> want = TestSupport::parseCubeText(peer).values;
                const double d = largestDifference(TestSupport::parseCubeText(ours).values, want);
                QVERIFY2(d <= 5e-6, qPrintable(what + QString::number(d)));
                ++compared;
                if (!file.endsWith(".spi1d"))
                    continue;
                // The 1D bake is the peer's cube along each channel's own axis.
                QVERIFY(runConvert({"--bake", "-s", QString::number(n), file, path("ours.spi1d")}).exitCode == 0);
                std::vector<float> axes;
                for (int i = 0; i < n; ++i)
                    for (int c = 0; c < 3; ++c)
                        axes.push_back(want[3 * size_t(c == 0 ? i : c == 1 ? i * n : i * n * n) + c]);
                QVERIFY2(largestDifference(TestSupport::parseCubeText(path("ours.spi1d")).values, axes) <= 5e-6, qPrintable(what));
            }
        }
        QVERIFY2(compared >= 40, qPrintable(QString::number(compared)));
    }

    // Files whose bake is known by hand, each at lattice size n: the value of channel c at the
    // lattice point (r, g, b); and what the plain conversion says it leaves out.
    void handComputed()
    {
        struct Case {
            const char *name;
            QByteArray text;
            int n;
            std::function<double(const double *p, int c)> want;
            const char *plainNote; // null: the plain reading drops nothing
        };
        const auto square = [](const double *p, int c) { return p[c] * p[c]; };
        const auto identity = [](const double *p, int c) { return p[c]; };
        const Case cases[] = {
            {"squaring-shaper.cube", "LUT_1D_SIZE 11\nLUT_3D_SIZE 2\n" + ramp(11, [](double t) { return t * t; }) + corners("0", "1"),
             11, square, "1D shaper in front of the 3D table not applied"},
            {"input-range.cube", "LUT_3D_SIZE 2\nLUT_3D_INPUT_RANGE -0.5 1.5\n" + corners("-0.5", "1.5"), 5, identity,
             "3D input range -0.5..1.5 not applied, 24 values outside 0..1 clamped"},
            {"domain.cube", "DOMAIN_MIN -0.5 -0.5 -0.5\nDOMAIN_MAX 1.5 1.5 1.5\nLUT_3D_SIZE 2\n" + corners("-0.5", "1.5"), 5,
             identity, "3D input range -0.5..1.5 not applied"},
            {"bright.cube", "LUT_3D_SIZE 2\n" + corners("0", "1.6"), 2, [](const double *p, int c) { return 1.6 * p[c]; },
             "12 values outside 0..1 clamped"},
            {"plain.cube", "LUT_3D_SIZE 2\n" + corners("0", "1"), 3, identity, nullptr},
            {"squaring-prelut.csp", kCspHead + QByteArray("3\n0 0.5 1\n0 0.25 1\n").repeated(3) + "\n2 2 2\n" + corners("0", "1"), 5,
             square, "csp pre-LUT not applied"},
            {"rectangular.csp", kCspHead + QByteArray("2\n0 1\n0 1\n").repeated(3) + "\n2 3 2\n"
                 "0 0 0\n1 0 0\n0 0.5 0\n1 0.5 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 0.5 1\n1 0.5 1\n0 1 1\n1 1 1\n", 4, identity, nullptr},
            {"input-lut.cub", "# Truelight Cube v2.0\n# lutLength 3\n# iDims 3\n# oDims 3\n# width 2 2 2\n\n# InputLUT\n"
                 + ramp(3, [](double t) { return t * t; }).replace("0.25", "0.3") + "\n# Cube\n" + corners("0", "1") + "# end\n", 3,
             [](const double *p, int c) { return p[c] == 0.5 ? 0.3 : p[c]; }, "Truelight input LUT not applied"},
        };
        for (const Case &k : cases) {
            const QString in = TestSupport::writeFile(path(k.name), k.text), out = path("baked.cube");
            const TestSupport::ProcessResult baked = runConvert({"--bake", "-s", QString::number(k.n), in, out});
            QVERIFY2(baked.exitCode == 0 && baked.err.isEmpty(), qPrintable(in + baked.err));
            const std::vector<float> got = TestSupport::parseCubeText(out).values;
            QCOMPARE(got.size(), size_t(3 * k.n * k.n * k.n));
            for (size_t i = 0; i < got.size(); ++i) {
                const int e = int(i / 3), n = k.n;
                const double p[3] = {double(e % n) / (n - 1), double(e / n % n) / (n - 1), double(e / (n * n)) / (n - 1)};
                QVERIFY2(std::fabs(got[i] - k.want(p, int(i % 3))) <= 1e-6, qPrintable(QStringLiteral("%1: entry %2").arg(k.name).arg(i)));
            }
            // The rectangular table is refused by the plain reading.
            const TestSupport::ProcessResult plain = runConvert({"--plain", in, out});
            if (QByteArray(k.name).endsWith("rectangular.csp")) {
                QVERIFY(plain.exitCode == 1);
                continue;
            }
            QVERIFY2(plain.exitCode == 0, plain.err.constData());
            if (!k.plainNote)
                QVERIFY2(plain.err.isEmpty(), plain.err.constData());
            else
                QVERIFY2(plain.err == "chromaduct-convert: " + in.toUtf8() + ": note: " + k.plainNote
                             + "; --bake applies what the file means\n", plain.err.constData());
        }
    }

    // Shapers and ranges that cannot be evaluated fail the bake with the file and a reason.
    void badShapers()
    {
        const QByteArray cube = "\n2 2 2\n" + corners("0", "1");
        const struct { const char *name; QByteArray text; const char *reason; } cases[] = {
            {"falling.csp", kCspHead + QByteArray("3\n0 0.6 0.5\n0 0.5 1\n").repeated(3) + cube, "line 9: pre-LUT of channel 0: the inputs do not rise at point 3"},
            {"nan.csp", kCspHead + QByteArray("3\n0 nan 1\n0 0.5 1\n").repeated(3) + cube, "line 9: pre-LUT of channel 0: point 2 is not a finite number"},
            {"single.csp", kCspHead + QByteArray("1\n0.5\n0.5\n").repeated(3) + cube, "line 9: pre-LUT of channel 0: a curve needs at least two points, not 1"},
            {"flat.cube", "LUT_3D_SIZE 2\nLUT_3D_INPUT_RANGE 1 1\n" + corners("0", "1"), "an input range does not rise"},
            {"flat-1d.cube", "LUT_1D_SIZE 2\nDOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 0 1\n0 0 0\n1 1 1\n", "an input range does not rise"},
        };
        for (const auto &k : cases) {
            const QString in = TestSupport::writeFile(path(k.name), k.text);
            const TestSupport::ProcessResult r = runConvert({"--bake", in, path("out.cube")});
            QVERIFY2(r.exitCode == 1 && r.err.startsWith("chromaduct-convert: " + in.toUtf8() + ": " + k.reason)
                         && r.err.count('\n') == 1, qPrintable(in + r.err));
        }
    }
};

QTEST_GUILESS_MAIN(TestBake)
#include "test_bake.moc"
