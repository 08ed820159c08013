// The cube reader, writer and resampler against OpenColorIO's ociobakelut. Baked line n
// (red fastest) of size N is our table3D[n % N][n / N % N][n / N^2] after a default-order read.

#include "TestSupport.h"
#include "calc/LutCalc.h"
#include "lut/Read_LUTFile.h"
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cmath>

namespace {

// Only a 3D table alone on the default 0..1 domain compares entry for entry: the peer applies a 1D
// shaper first, and our reader deliberately keeps the domain minimum (divides by the width only).
bool comparable(const QString &path)
{
    for (const QByteArray &line : TestSupport::readFile(path).split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        const QByteArray want = f[0] == "DOMAIN_MIN" ? "0 0 0" : f[0] == "DOMAIN_MAX" ? "1 1 1" : "0 1";
        QByteArray got;
        for (int i = 1; i < f.size(); ++i)
            got += QByteArray::number(f[i].toDouble()) + (i + 1 < f.size() ? " " : "");
        if (f[0] == "LUT_1D_SIZE" || ((f[0].startsWith("DOMAIN_M") || f[0].endsWith("INPUT_RANGE")) && got != want))
            return false;
    }
    return true;
}

bool readCube(const QString &path, Read_LUTFile *lut) { LutFileOptions o{path, LutFormatId::Cube}; return lut->readLut(o, false) && lut->size3D; }

// "" when the peer's bake of lutFile at size n (into out) equals table, else what went wrong; peer
// values are clamped to 0..1 first when clamp is set (our container clamps, the peer does not).
QString compareBake(const QString &lutFile, int n, const LutTable3D &table, bool clamp, const QString &out)
{
    QString error;
    if (!TestSupport::ociobake(lutFile, "iridas_cube", n, out, &error))
        return lutFile + ": ociobakelut failed: " + error;
    const TestSupport::CubeText baked = TestSupport::parseCubeText(out);
    if (baked.size != n || int(baked.values.size()) != 3 * n * n * n)
        return QStringLiteral("%1: baked size %2, expected %3").arg(lutFile).arg(baked.size).arg(n);
    for (int k = 0, line = 0; k < 3 * n * n * n; line = ++k / 3) {
        const double ours = table[line % n][line / n % n][line / (n * n)][k % 3];
        const double peer = clamp ? std::clamp(double(baked.values[k]), 0.0, 1.0) : baked.values[k];
        if (!(std::fabs(peer - ours) <= 1e-5))
            return QStringLiteral("%1 at size %2, line %3 channel %4: peer %5, ours %6")
                .arg(lutFile).arg(n).arg(line).arg(k % 3).arg(peer, 0, 'g', 9).arg(ours, 0, 'g', 9);
    }
    return QString();
}

#define COMPARE_BAKE(...) do { const QString f = compareBake(__VA_ARGS__); QVERIFY2(f.isEmpty(), qPrintable(f)); } while (0)

} // namespace

class TestCubePeer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_cubes, m_inRange; // comparable corpus cubes; those with all values within 0..1
    QString tmp(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        if (TestSupport::corpusDir().isEmpty())
            QSKIP("the corpus of real LUT files is not there");
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");
        for (QDirIterator it(TestSupport::corpusDir() + "/colour-science", {"*.cube"}, QDir::Files,
                             QDirIterator::Subdirectories); it.hasNext();)
            if (comparable(it.next()))
                m_cubes << it.filePath();
        QVERIFY2(!m_cubes.isEmpty(), "no comparable cube file in the corpus");
    }

    // Our read of each corpus cube, and the file the command line writes from it read back by the peer.
    void corpusReadAndWrittenMatchPeer()
    {
        for (const QString &path : qAsConst(m_cubes)) {
            Read_LUTFile lut;
            QVERIFY2(readCube(path, &lut), qPrintable(path + ": " + lut.errorString));
            COMPARE_BAKE(path, lut.size3D, lut.table3D, true, tmp("bake.cube"));
            const std::vector<float> own = TestSupport::parseCubeText(tmp("bake.cube")).values;
            if (std::none_of(own.begin(), own.end(), [](float v) { return v < 0.0f || v > 1.0f; }))
                m_inRange << path;
            const QString written = tmp(QFileInfo(path).dir().dirName() + "-" + QFileInfo(path).fileName());
            QCOMPARE(TestSupport::runConvert({path, written}).exitCode, 0);
            // Written as the file means it, values outside 0..1 kept: the peer's read of it, clamped, is our plain read.
            COMPARE_BAKE(written, lut.size3D, lut.table3D, true, tmp("rebake.cube"));
        }
    }

    // Resampling to 33 and 65 against the peer's tetrahedral bake, for the in-range corpus cubes
    // (outside 0..1 ours are clamped, the peer's not) and a smooth non-linear cube that tells
    // tetrahedral from trilinear interpolation (the corpus cubes are affine).
    void resamplingMatchesPeer()
    {
        QVERIFY(!m_inRange.isEmpty());
        QByteArray text = "LUT_3D_SIZE 7\n";
        for (int i = 0; i < 343; ++i) {
            const double x = i % 7 / 6.0, y = i / 7 % 7 / 6.0, z = i / 49 / 6.0;
            for (double v : {0.9 * x * x + 0.05 * y, 0.8 * std::sqrt(y) + 0.1 * x * z, 0.5 * z + 0.4 * x * y})
                text += QByteArray::number(v, 'f', 6) + ' ';
            text += '\n';
        }
        for (const QString &path : m_inRange + QStringList{TestSupport::writeFile(tmp("smooth.cube"), text)}) {
            Read_LUTFile source;
            QVERIFY2(readCube(path, &source), qPrintable(path));
            for (int m : {33, 65}) {
                Read_LUTFile resampled;
                QVERIFY(resampled.setSize3D(m, false) && LutCalc::resampleCube(&source, &resampled));
                COMPARE_BAKE(path, m, resampled.table3D, false, tmp("bake.cube"));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCubePeer)
#include "test_cube_peer.moc"
