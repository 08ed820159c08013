// The cube reader, writer and resampler against an independent peer:
// OpenColorIO's ociobakelut, run on the real cube files of the shared corpus.
//
// ociobakelut --format iridas_cube writes a cube file with red varying
// fastest, each line red green blue, at the cube size asked for, evaluating
// a 3D LUT file by tetrahedral interpolation. Read with the cube reader's
// default order, our container holds table3D[r][g][b] = (r, g, b) in the same
// terms, so line n of a baked file of size N is table3D[n % N][n / N % N][n / N^2].

#include "TestSupport.h"

#include "calc/LutCalc.h"
#include "lut/Read_LUTFile.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kTolerance = 1e-5;

struct CorpusCube
{
    QString path;
    int size = 0;
};

// Why a corpus cube file is left out of the comparison, or "" to use it.
// Only files holding a 3D table alone, with the default 0..1 domain, are
// compared: a 1D shaper table is applied by the peer before the cube, and a
// domain other than 0..1 is read differently on purpose (our reader keeps
// the domain minimum and divides by the width, without subtracting it, and
// then resets the maxima to 1), so neither compares entry for entry.
QString exclusionReason(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be opened");
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('#'))
            continue;
        if (line.contains("LUT_1D_SIZE"))
            return QStringLiteral("holds a 1D table");
        const QList<QByteArray> fields = line.simplified().split(' ');
        auto allEqual = [&fields](double value) {
            for (int i = 1; i < fields.size(); ++i) {
                if (fields[i].toDouble() != value)
                    return false;
            }
            return true;
        };
        if ((line.startsWith("DOMAIN_MIN") && !allEqual(0.0)) || (line.startsWith("DOMAIN_MAX") && !allEqual(1.0)))
            return QStringLiteral("has a 3D domain other than 0..1");
        if (line.contains("INPUT_RANGE")
            && !(fields.size() == 3 && fields[1].toDouble() == 0.0 && fields[2].toDouble() == 1.0))
            return QStringLiteral("declares an input range other than 0..1");
    }
    return QString();
}

// Every corpus cube file that is compared, with its size from our header read.
QVector<CorpusCube> comparableCorpusCubes()
{
    QVector<CorpusCube> cubes;
    const QString corpus = TestSupport::corpusDir();
    QDirIterator it(corpus + QStringLiteral("/colour-science"), {QStringLiteral("*.cube")}, QDir::Files,
                    QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    for (const QString &path : paths) {
        const QString reason = exclusionReason(path);
        if (!reason.isEmpty()) {
            qInfo().noquote() << "skipped:" << path << reason;
            continue;
        }
        Read_LUTFile header;
        LutFileOptions options;
        options.path = path;
        if (!header.readLut(options, true) || header.size3D < 1) {
            qInfo().noquote() << "skipped:" << path << "holds no 3D table";
            continue;
        }
        cubes.push_back({path, header.size3D});
    }
    return cubes;
}

bool readCube(const QString &path, Read_LUTFile *lut)
{
    LutFileOptions options;
    options.path = path;
    options.format = 0;
    options.defaultOrder = true;
    return lut->readLut(options, false) && lut->size3D >= 1;
}

// Compares a baked file of size n with table (red-fastest lines), each peer
// value clamped to 0..1 first when clamp is set.
bool matchesBake(const TestSupport::CubeText &baked, const LutTable3D &table, int n, bool clamp, QString *failure)
{
    if (baked.size != n || int(baked.values.size()) != 3 * n * n * n) {
        *failure = QStringLiteral("baked size %1 with %2 values, expected size %3")
                       .arg(baked.size)
                       .arg(baked.values.size())
                       .arg(n);
        return false;
    }
    for (int line = 0; line < n * n * n; ++line) {
        const float *entry = table[line % n][line / n % n][line / (n * n)];
        for (int c = 0; c < 3; ++c) {
            double peer = baked.values[3 * line + c];
            if (clamp)
                peer = std::min(1.0, std::max(0.0, peer));
            if (!(std::fabs(peer - entry[c]) <= kTolerance)) {
                *failure = QStringLiteral("line %1 channel %2: peer %3, ours %4")
                               .arg(line)
                               .arg(c)
                               .arg(peer, 0, 'g', 9)
                               .arg(double(entry[c]), 0, 'g', 9);
                return false;
            }
        }
    }
    return true;
}

TestSupport::CubeText bake(const QString &lutFile, int size, const QString &outFile)
{
    QString error;
    if (!TestSupport::ociobake(lutFile, QStringLiteral("iridas_cube"), size, outFile, &error)) {
        qWarning().noquote() << "ociobakelut failed on" << lutFile << error;
        return TestSupport::CubeText();
    }
    return TestSupport::parseCubeText(outFile);
}

} // namespace

class TestCubePeer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QVector<CorpusCube> m_cubes;

private slots:
    void initTestCase()
    {
        if (TestSupport::corpusDir().isEmpty())
            QSKIP("the corpus of real LUT files is not there");
        // The peer is part of the set-up: its absence is a failure.
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");
        QVERIFY(m_dir.isValid());
        m_cubes = comparableCorpusCubes();
        QVERIFY2(!m_cubes.isEmpty(), "no comparable cube file in the corpus");
    }

    // Our read of each file against the peer's bake at the file's own size.
    // The container clamps stored values to the domain (0..1 here) while the
    // peer keeps values outside it, so the peer's are clamped before the
    // comparison (Colour_Correct.cube has some below 0 and above 1).
    void readMatchesPeer()
    {
        for (const CorpusCube &cube : qAsConst(m_cubes)) {
            Read_LUTFile lut;
            QVERIFY2(readCube(cube.path, &lut), qPrintable(cube.path + ": " + lut.errorString));
            const TestSupport::CubeText baked = bake(cube.path, cube.size, m_dir.filePath("read.cube"));
            QString failure;
            QVERIFY2(matchesBake(baked, lut.table3D, cube.size, true, &failure),
                     qPrintable(cube.path + ": " + failure));
        }
    }

    // Files our command line writes (standard layout) are read by the peer
    // back to the table they were written from.
    void writtenFilesReadBackByPeer()
    {
        for (const CorpusCube &cube : qAsConst(m_cubes)) {
            Read_LUTFile source;
            QVERIFY(readCube(cube.path, &source));
            const QString written = m_dir.filePath("written.cube");
            const TestSupport::ProcessResult r = TestSupport::runConvert({cube.path, written});
            QVERIFY2(r.exitCode == 0, r.err.constData());
            const TestSupport::CubeText baked = bake(written, cube.size, m_dir.filePath("rebaked.cube"));
            QString failure;
            QVERIFY2(matchesBake(baked, source.table3D, cube.size, false, &failure),
                     qPrintable(cube.path + ": " + failure));
        }
    }

    // Resampling to 33 and 65 points agrees with the peer's tetrahedral
    // evaluation, for every corpus cube whose values all lie within 0..1
    // (outside that range our stored table is clamped and the peer's is not,
    // so the interpolated values would differ by design).
    void resamplingMatchesPeer()
    {
        int compared = 0;
        for (const CorpusCube &cube : qAsConst(m_cubes)) {
            const TestSupport::CubeText own = bake(cube.path, cube.size, m_dir.filePath("own.cube"));
            QVERIFY(!own.values.empty());
            if (std::any_of(own.values.begin(), own.values.end(), [](float v) { return v < 0.0f || v > 1.0f; })) {
                qInfo().noquote() << "not resampled:" << cube.path << "has values outside 0..1";
                continue;
            }
            compareResampling(cube.path, {33, 65});
            if (QTest::currentTestFailed())
                return;
            ++compared;
        }
        QVERIFY(compared > 0);
    }

    // The corpus cubes are affine maps, on which every interpolation scheme
    // agrees; this smooth non-linear cube tells tetrahedral interpolation
    // from trilinear.
    void resamplingNonLinearCubeMatchesPeer()
    {
        const int n = 7;
        QByteArray text = "LUT_3D_SIZE 7\n";
        for (int b = 0; b < n; ++b) {
            for (int g = 0; g < n; ++g) {
                for (int r = 0; r < n; ++r) {
                    const double x = r / 6.0, y = g / 6.0, z = b / 6.0;
                    char line[80];
                    std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", 0.9 * x * x + 0.05 * y,
                                  0.8 * std::sqrt(y) + 0.1 * x * z, 0.5 * z + 0.4 * x * y);
                    text += line;
                }
            }
        }
        compareResampling(TestSupport::writeFile(m_dir.filePath("smooth.cube"), text), {33, 65});
    }

private:
    void compareResampling(const QString &path, std::initializer_list<int> sizes)
    {
        Read_LUTFile source;
        QVERIFY2(readCube(path, &source), qPrintable(path));
        for (int m : sizes) {
            Read_LUTFile resampled;
            QVERIFY(resampled.setSize3D(m, false));
            QVERIFY(LutCalc::resampleCube(&source, &resampled));
            const TestSupport::CubeText baked = bake(path, m, m_dir.filePath("resampled.cube"));
            QString failure;
            QVERIFY2(matchesBake(baked, resampled.table3D, m, false, &failure),
                     qPrintable(QStringLiteral("%1 at %2: %3").arg(path).arg(m).arg(failure)));
        }
    }
};

QTEST_GUILESS_MAIN(TestCubePeer)
#include "test_cube_peer.moc"
