// The Houdini lut, vf, spimtx and vlt formats: files OpenColorIO writes or reads
// mean to us what they mean to it, a .lut file is told by its header, matrices
// stay matrices from a spimtx or a one-Matrix process list, and malformed files
// are refused by their line.

#include "TestSupport.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

namespace {

// The largest difference between the values of two cube files (infinity when their counts differ).
double cubeDifference(const QString &a, const QString &b)
{
    const std::vector<float> x = TestSupport::parseCubeText(a).values, y = TestSupport::parseCubeText(b).values;
    if (x.size() != y.size() || x.empty())
        return INFINITY;
    double most = 0;
    for (size_t i = 0; i < x.size(); ++i)
        most = std::max(most, double(std::fabs(x[i] - y[i])));
    return most;
}

const char *const kConfig =
    "ocio_profile_version: 1\nroles:\n  default: lin\n  reference: lin\ncolorspaces:\n  - !<ColorSpace>\n    name: lin\n"
    "  - !<ColorSpace>\n    name: shaper\n    from_reference: !<ExponentTransform> {value: [0.5, 0.5, 0.5, 1]}\n"
    "  - !<ColorSpace>\n    name: graded\n    from_reference: !<CDLTransform> {slope: [0.9, 1.0, 0.8], "
    "offset: [0.05, 0.02, 0.1], power: [1.1, 1.0, 0.9], sat: 0.7}\n";

} // namespace

class TestHoudiniVfSpimtxVlt : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed"); }

    // Houdini files as ociobakelut writes them (3D, and 3D+1D with a shaper), and vf and spimtx files by
    // hand, converted here and baked by the peer to the same cube.
    void filesMeanWhatThePeerReads()
    {
        const QString config = TestSupport::writeFile(path("config.ocio"), kConfig);
        const struct { const char *name; QStringList bake; } houdini[] = {
            {"h3d.lut", {"--cubesize", "9"}},
            {"h31.lut", {"--shaperspace", "shaper", "--cubesize", "9", "--shapersize", "33"}},
        };
        QStringList files;
        for (const auto &h : houdini) {
            const TestSupport::ProcessResult r = TestSupport::runProcess("ociobakelut", QStringList{"--iconfig", config,
                "--inputspace", "lin", "--outputspace", "graded", "--format", "houdini"} + h.bake + QStringList{path(h.name)});
            QVERIFY2(r.exitCode == 0, r.err.constData());
            files << path(h.name);
        }
        // A vf whose global transform is no plain scale: a matrix before the grid, which is blue fastest.
        QByteArray vf = "#Inventor V2.1 ascii\ngrid_size 3 3 3\nglobal_transform 0.3 0.02 0 0 0 0.33 0 0 0.01 0 0.3 0 0 0 0 1\ndata\n";
        for (int i = 0; i < 27; ++i)
            vf += QByteArray::number(0.1 + 0.4 * (i / 9) / 2.0 + 0.1 * (i % 3)) + ' ' + QByteArray::number(0.2 + 0.3 * (i / 3 % 3) / 2)
                + ' ' + QByteArray::number(0.05 + 0.8 * (i % 3) / 2.0) + '\n';
        files << TestSupport::writeFile(path("m.vf"), vf)
              << TestSupport::writeFile(path("m.spimtx"), "0.9 0.1 0 3276.75\n0.05 0.9 0.05 0\n0 0.2 0.8 -655.35\n");
        for (const QString &file : files) {
            for (int n : {9, 17}) {
                const TestSupport::ProcessResult r = TestSupport::runConvert({file, path("ours.cube"), "-s", QString::number(n)});
                QVERIFY2(r.exitCode == 0, r.err.constData());
                QString error;
                QVERIFY2(TestSupport::ociobake(file, "iridas_cube", n, path("peer.cube"), &error), qPrintable(error));
                const double d = cubeDifference(path("ours.cube"), path("peer.cube"));
                QVERIFY2(d <= 5e-6, qPrintable(QStringLiteral("%1 at %2: %3").arg(file).arg(n).arg(d)));
            }
        }
    }

    // A .lut file is a Houdini or a Discreet lut by its header, whatever its name; a vlt is no cube file.
    void contentTellsTheFormat()
    {
        const QString houdini = TestSupport::writeFile(path("grade.lut"),
            "Version\t\t1\nFormat\t\tany\nType\t\tC\nFrom\t\t0 1\nLength\t\t2\nLUT:\nRGB {\n\t0\n\t1\n}\n");
        const QString discreet = TestSupport::writeFile(path("d.lut"), "LUT: 3 256\n" + QByteArray("0\n").repeated(768));
        QByteArray vlt = "# panasonic vlt file version 1.0\n# source vlt file \"\"\nLUT_3D_SIZE 17\n\n";
        for (int i = 0; i < 17 * 17 * 17; ++i)
            vlt += QByteArray::number(i % 17 * 256) + ' ' + QByteArray::number(i / 17 % 17 * 256) + ' ' + QByteArray::number(i / 289 * 255) + '\n';
        const QString vltFile = TestSupport::writeFile(path("v.vlt"), vlt);
        QCOMPARE(LutFormats::forInput(houdini)->id, LutFormatId::Houdini);
        QCOMPARE(LutFormats::forInput(discreet)->id, LutFormatId::Discreet1D);
        QCOMPARE(LutFormats::forContent(houdini)->id, LutFormatId::Houdini);
        QCOMPARE(LutFormats::forContent(vltFile)->id, LutFormatId::Vlt);
        // The vlt's lattice is red fastest, its codes 12-bit.
        Read_LUTFile lut;
        LutFileOptions options{vltFile, LutFormatId::Vlt};
        QVERIFY2(lut.readLut(options, false) && lut.size3D == 17, qPrintable(lut.errorString));
        QCOMPARE(lut.table3D[3][5][16][0], 768.0f / 4095);
        QCOMPARE(lut.table3D[3][5][16][1], 1280.0f / 4095);
        QCOMPARE(lut.table3D[3][5][16][2], 4080.0f / 4095);
    }

    // A spimtx or a process list of one Matrix writes a spimtx that means the same; a table does not.
    void matricesStayMatrices()
    {
        const QString clf = TestSupport::writeFile(path("m.clf"),
            "<?xml version=\"1.0\"?>\n<ProcessList id=\"m\" compCLFversion=\"3\">\n<Matrix inBitDepth=\"32f\" outBitDepth=\"32f\">"
            "<Array dim=\"3 4\">1.1 -0.1 0 0.05 0 1 0 0 0.1 0 0.9 -0.02</Array></Matrix>\n</ProcessList>\n");
        for (const QString &source : {clf, TestSupport::writeFile(path("in.spimtx"), "1.1 -0.1 0 3276.75\n0 1 0 0\n0.1 0 0.9 -1310.7\n")}) {
            const TestSupport::ProcessResult r = TestSupport::runConvert({source, path("out.spimtx")});
            QVERIFY2(r.exitCode == 0, r.err.constData());
            QString error;
            QVERIFY(TestSupport::ociobake(path("out.spimtx"), "iridas_cube", 5, path("peer.cube"), &error));
            QVERIFY(TestSupport::runConvert({path("out.spimtx"), path("ours.cube"), "-s", "5"}).exitCode == 0);
            QVERIFY(cubeDifference(path("ours.cube"), path("peer.cube")) <= 5e-6);
            QVERIFY(TestSupport::runConvert({source, path("direct.cube"), "-s", "5"}).exitCode == 0);
            QVERIFY(cubeDifference(path("ours.cube"), path("direct.cube")) <= 1e-6);
        }
        const QString cube = TestSupport::writeFile(path("t.cube"), "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n");
        const TestSupport::ProcessResult r = TestSupport::runConvert({cube, path("t.spimtx")});
        QVERIFY(r.exitCode == 2 && r.err.contains("holds a matrix") && !QFile::exists(path("t.spimtx")));
    }

    // Malformed files fail with the line that breaks them.
    void refusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("reason");
        const QByteArray h = "Version\t\t2\nFormat\t\tany\nType\t\t3D\nFrom\t\t0 1\nLength\t\t2\nLUT:\n";
        QTest::newRow("houdini type") << "a.lut" << QByteArray("Version 1\nType 2D\nLength 2\nLUT:\n") << "line 2: Type";
        QTest::newRow("houdini short cube") << "b.lut" << h + "3D {\n0 0 0\n}\n" << "line 7: the cube holds 3 values";
        QTest::newRow("houdini word") << "c.lut" << h + "3D {\n0 0 x\n}\n" << "line 8: a value line holds numbers only";
        QTest::newRow("houdini open block") << "d.lut" << h + "3D {\n0 0 0\n" << "the block of line 7 has no closing";
        QTest::newRow("vf grid") << "a.vf" << QByteArray("#Inventor V2.1 ascii\ngrid_size 2 3 2\n") << "line 2: grid_size";
        QTest::newRow("vf data") << "b.vf" << QByteArray("#Inventor V2.1 ascii\ngrid_size 2 2 2\ndata\n0 0\n") << "line 4: a data line";
        QTest::newRow("spimtx count") << "a.spimtx" << QByteArray("1 0 0 0\n0 1 0 0\n") << "8 numbers";
        QTest::newRow("spimtx word") << "b.spimtx" << QByteArray("1 0 0 0\n0 1 x 0\n") << "line 2: \"x\"";
        QTest::newRow("vlt size") << "a.vlt" << QByteArray("# panasonic vlt file version 1.0\n# source vlt file \"\"\nLUT_3D_SIZE 33\n") << "line 3: a vlt cube has 17";
        QTest::newRow("vlt real") << "b.vlt" << QByteArray("# panasonic vlt file version 1.0\nLUT_3D_SIZE 17\n\n0 0 0.5\n") << "line 4: a data line holds three integer";
        QTest::newRow("vlt junk") << "c.vlt" << QByteArray("# panasonic vlt file version 1.0\nLUT_3D_SIZE 17\n\n0 0 0\n0 1-2 3\n") << "line 5: a data line holds three integer";
        QTest::newRow("vlt tail") << "d.vlt" << QByteArray("# panasonic vlt file version 1.0\nLUT_3D_SIZE 17\n\n0 0 5x\n") << "line 4: a data line holds three integer";
    }
    void refusals()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(QString, reason);
        const TestSupport::ProcessResult r = TestSupport::runConvert({TestSupport::writeFile(path(name), text), path("x.cube")});
        QVERIFY2(r.exitCode == 1 && r.err.count('\n') == 1 && r.err.contains(reason.toUtf8()), r.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestHoudiniVfSpimtxVlt)
#include "test_format_houdini_vf_spimtx_vlt.moc"
