// The clf and ctf process lists: our files read back exactly and by OpenColorIO, the peer's CLF bakes
// of the corpus cubes, hand-written lists evaluated against the peer's bake, and bad input.

#include "TestSupport.h"
#include "calc/LutCalc.h"
#include "formats/clf/ClfHalf.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

namespace {
constexpr LutFormatId Clf = LutFormatId::Clf, Ctf = LutFormatId::Ctf;
const QByteArray f32 = "inBitDepth=\"32f\" outBitDepth=\"32f\"";

bool readList(Read_LUTFile &lut, const QString &path, bool bake = true)
{
    LutFileOptions o{path, LutFormats::forInput(path)->id};
    o.bake = bake;
    return lut.readLut(o, false);
}

QByteArray processList(const QByteArray &body, const QByteArray &version = "compCLFversion=\"3\"")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ProcessList id=\"t\" " + version + ">\n" + body + "</ProcessList>\n";
}

// A smooth cube that is not affine, in the list's order (blue fastest), as the text of an Array.
QByteArray cubeArray(int n, double scale = 1.0)
{
    const QByteArray size = QByteArray::number(n);
    QByteArray text = "<Array dim=\"" + size + ' ' + size + ' ' + size + " 3\">\n";
    for (int i = 0; i < n * n * n; ++i) {
        const double r = i / (n * n) / (n - 1.0), g = i / n % n / (n - 1.0), b = i % n / (n - 1.0);
        for (double v : {0.9 * r * r + 0.1 * g, 0.7 * std::sqrt(g) + 0.2 * r * b, 0.6 * b + 0.3 * r * g - 0.05})
            text += QByteArray::number(v * scale, 'g', 9) + ' ';
        text += '\n';
    }
    return text + "</Array>\n";
}

// "" when our bake of lut at size n matches the peer's bake of path within tolerance (relative above 1).
QString compareWithPeer(const Read_LUTFile &lut, const QString &path, int n, const QString &out, double tolerance)
{
    QString error;
    if (!TestSupport::ociobake(path, "iridas_cube", n, out, &error))
        return path + ": ociobakelut failed: " + error;
    const TestSupport::CubeText peer = TestSupport::parseCubeText(out);
    Read_LUTFile ours;
    if (peer.size != n || peer.values.size() != size_t(3) * n * n * n || !ours.setSize3D(n, false) || !LutCalc::bakeCube(&lut, &ours))
        return path + ": no bake to compare";
    for (size_t k = 0; k < peer.values.size(); ++k) {
        const size_t line = k / 3; // red fastest
        const double mine = ours.table3D[int(line % n)][int(line / n % n)][int(line / n / n)][k % 3];
        if (!(std::fabs(mine - peer.values[k]) <= tolerance * std::max(1.0, std::fabs(mine))))
            return QStringLiteral("%1: line %2 channel %3: peer %4, ours %5").arg(path).arg(line).arg(k % 3)
                .arg(peer.values[k], 0, 'g', 9).arg(mine, 0, 'g', 9);
    }
    return QString();
}
} // namespace

class TestFormatClf : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString file(const QString &name, const QByteArray &text) const { return TestSupport::writeFile(path(name), text); }

    bool m_peer = false; // ociobakelut is installed

private slots:
    void initTestCase()
    {
        m_peer = TestSupport::haveOcio();
        // The peer's optimiser merges neighbouring nodes before it bakes, and in 2.1 it composes two
        // Exponent nodes into the wrong power: its bakes are compared unoptimised, node by node.
        qputenv("OCIO_OPTIMIZATION_FLAGS", "0");
    }

    // The written text, the exact read-back, and the peer reading our clf and ctf files as the table.
    void writtenFilesReadBack()
    {
        Read_LUTFile cube, curve;
        QVERIFY(cube.setSize3D(5, false) && curve.setSize1D(17, false));
        for (int i = 0; i < 125 * 3; ++i) // values beyond 0..1 and with every digit significant
            cube.table3D.data()[i] = float(std::sin(i * 0.37) * 1.3 + (i % 7 == 0 ? 1e-7 : 0.0));
        for (int i = 0; i < 17 * 3; ++i)
            curve.table1D.data()[i] = float(std::pow(i / 3 / 16.0, 1.0 + i % 3) * 1.1 - 0.05);
        for (Read_LUTFile *lut : {&cube, &curve}) {
            for (const QString &name : {QStringLiteral("w.clf"), QStringLiteral("w.ctf")}) {
                LutFileOptions o{path(name), LutFormats::forOutput(name)->id};
                o.sourcePath = "/somewhere/A&B <grade>.cube";
                Write_LUTFile writer;
                QVERIFY2(writer.writeLut(o, lut), qPrintable(writer.errorString));
                const QByteArray text = TestSupport::readFile(o.path);
                QVERIFY(text.contains(name.endsWith("clf") ? "compCLFversion=\"3\">" : "version=\"1.3\">"));
                QVERIFY(text.contains("<Description>Converted from A&amp;B &lt;grade&gt;.cube</Description>"));
                Read_LUTFile back;
                QVERIFY2(readList(back, o.path), qPrintable(back.errorString));
                const bool is3D = lut == &cube;
                QCOMPARE(back.size3D, lut->size3D);
                QCOMPARE(back.size1D, lut->size1D);
                QVERIFY(std::equal(lut->table3D.data(), lut->table3D.data() + (is3D ? 375 : 0), back.table3D.data()));
                QVERIFY(std::equal(lut->table1D.data(), lut->table1D.data() + (is3D ? 0 : 51), back.table1D.data()));
                const QString f = m_peer ? compareWithPeer(*lut, o.path, is3D ? 5 : 17, path("peer.cube"), 1e-6) : QString();
                QVERIFY2(f.isEmpty(), qPrintable(f));
            }
        }
        const QByteArray small = TestSupport::readFile(path("w.ctf"));
        QVERIFY(small.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ProcessList id=\""));
        QVERIFY(small.contains("    <LUT1D " + f32 + ">\n        <Array dim=\"17 3\">\n-0.0500000007 -0.0500000007 -0.0500000007 \n"));
        // A plain read clamps into 0..1 and counts it; a header read allocates nothing.
        Read_LUTFile plain, header;
        LutFileOptions o{path("w.clf"), Clf};
        QVERIFY(plain.readLut(o, false) && plain.meaning.clampedValues > 0 && plain.table1D[0][0] == 0.0f);
        QVERIFY(header.readLut(o, true) && header.size1D == 17 && header.table1D.isNull());
        // Reals only: an integer scale is refused and writes nothing.
        LutFileOptions scaled{path("scaled.clf"), Clf};
        scaled.outputScale = 4095;
        Write_LUTFile writer;
        QVERIFY(!writer.writeLut(scaled, &cube) && writer.errorString.contains("4095") && !QFile::exists(scaled.path));
    }

    // The peer's CLF bake of each corpus cube reads as the peer's own cube bake of it.
    void peerBakesOfCorpus()
    {
        if (!m_peer)
            QSKIP("ociobakelut (opencolorio-tools) is not installed");
        if (TestSupport::corpusDir().isEmpty())
            QSKIP("the corpus of real LUT files is not there");
        int compared = 0;
        for (QDirIterator it(TestSupport::corpusDir(), {"*.cube"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString cube = it.next();
            Read_LUTFile source;
            LutFileOptions o{cube, LutFormatId::Cube};
            const int n = source.readLut(o, false) && source.size3D >= 2 ? source.size3D : 17;
            const QString clf = path("corpus.clf");
            QFile::remove(clf);
            if (!TestSupport::ociobake(cube, "Academy/ASC Common LUT Format", n, clf))
                continue; // a file the peer does not read
            Read_LUTFile lut;
            QVERIFY2(readList(lut, clf), qPrintable(cube + ": " + lut.errorString));
            const QString f = compareWithPeer(lut, cube, n, path("corpus.cube"), 5e-6);
            QVERIFY2(f.isEmpty(), qPrintable(f));
            ++compared;
        }
        QVERIFY(compared >= 10);
    }

    // Hand-written lists, through the container and LutCalc::bakeCube, against the peer's bake at 17.
    void listsEvaluateAsPeer_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("tables"); // read straight into the container's tables
        QTest::addColumn<int>("size");    // of the bakes: 17, or a size whose points fall between halfs
        QByteArray shaper = "<Array dim=\"9 1\">";
        for (int i = 0; i < 9; ++i)
            shaper += QByteArray::number(std::pow(i / 8.0, 0.6) * 4095.0, 'f', 3) + ' ';
        shaper += "</Array>";
        const QByteArray lut3D = "<LUT3D " + f32 + ">" + cubeArray(5) + "</LUT3D>\n";
        QTest::newRow("Range, LUT1D shaper, LUT3D") << processList(
            "<Range inBitDepth=\"10i\" outBitDepth=\"32f\"><minInValue>-102.3</minInValue><maxInValue>1125.3</maxInValue>"
            "<minOutValue>0</minOutValue><maxOutValue>1</maxOutValue></Range>\n"
            "<LUT1D inBitDepth=\"32f\" outBitDepth=\"12i\">" + shaper + "</LUT1D>\n"
            + QByteArray(lut3D).replace("inBitDepth=\"32f\"", "inBitDepth=\"12i\"")) << true << 17;
        QTest::newRow("IndexMap LUT1D, trilinear LUT3D") << processList(
            "<LUT1D " + f32 + "><IndexMap dim=\"2\">-0.25@0 1.25@2</IndexMap>"
            "<Array dim=\"3 3\">0 0.1 0 0.6 0.5 0.4 1 0.9 1</Array></LUT1D>\n"
            "<LUT3D " + f32 + " interpolation=\"trilinear\">" + cubeArray(4) + "</LUT3D>\n",
            "compCLFversion=\"2.0\"") << false << 17;
        QTest::newRow("Matrix 3x4 10i to 12i, 3x3, LUT3D") << processList(
            "<Matrix inBitDepth=\"10i\" outBitDepth=\"12i\"><Array dim=\"3 4\">3.6 0.8 0 160 0.4 3.2 0.2 0 0 1.2 2.8 -80"
            "</Array></Matrix>\n<Matrix inBitDepth=\"12i\" outBitDepth=\"32f\"><Array dim=\"3 3 3\">"
            "0.000244140625 0 0 0.00002 0.000244140625 0 0 0 0.000244140625</Array></Matrix>\n" + lut3D) << false << 17;
        for (const char *style : {"Fwd", "Rev", "FwdNoClamp", "RevNoClamp"})
            QTest::newRow(style) << processList(
                "<ASC_CDL " + f32 + " style=\"" + QByteArray(style) + "\"><SOPNode>"
                "<Slope>1.2 0.9 1.1</Slope><Offset>-0.05 0.02 0.1</Offset><Power>1.3 0.8 1.0</Power></SOPNode>"
                "<SatNode><Saturation>1.4</Saturation></SatNode></ASC_CDL>\n") << false << 17;
        QTest::newRow("Log, Exponent, Range noClamp") << processList(
            "<Log " + f32 + " style=\"cameraLinToLog\"><LogParams base=\"2\" logSideSlope=\"0.2\" "
            "logSideOffset=\"0.6\" linSideSlope=\"1.1\" linSideOffset=\"0.01\" linSideBreak=\"0.05\"/></Log>\n"
            "<Log " + f32 + " style=\"logToLin\"><LogParams channel=\"R\" base=\"10\" "
            "logSideSlope=\"0.5\"/><LogParams channel=\"G\" base=\"10\"/><LogParams channel=\"B\" base=\"10\" "
            "linSideOffset=\"0.1\"/></Log>\n"
            "<Exponent " + f32 + " style=\"moncurveMirrorRev\"><ExponentParams exponent=\"2.4\" "
            "offset=\"0.055\"/></Exponent>\n<Range " + f32 + " style=\"noClamp\"><minInValue>0.1"
            "</minInValue><maxInValue>0.9</maxInValue><minOutValue>-0.1</minOutValue><maxOutValue>1.2</maxOutValue></Range>\n"
            "<Log " + f32 + " style=\"log2\"/><Exponent " + f32 + " "
            "style=\"basicPassThruFwd\"><ExponentParams exponent=\"1.8\"/></Exponent>\n") << false << 17;
        QByteArray halfs = "<LUT1D inBitDepth=\"16f\" outBitDepth=\"16f\" halfDomain=\"true\" rawHalfs=\"true\">"
                           "<Array dim=\"65536 1\">\n";
        for (int h = 0; h < 65536; ++h) // output: the input halved (a one-step shift of the exponent)
            halfs += QByteArray::number((h & 0x7c00) > 0x0400 && (h & 0x7c00) != 0x7c00 ? h - 0x0400 : h) + '\n';
        QTest::newRow("half domain, raw halfs") << processList(halfs + "</Array></LUT1D>\n") << false << 23;
        QByteArray decimal = "<LUT1D inBitDepth=\"16f\" outBitDepth=\"32f\" halfDomain=\"true\"><Array dim=\"65536 1\">\n";
        for (int h = 0; h < 65536; ++h)
            decimal += QByteArray::number(h / 65535.0, 'g', 9) + '\n';
        QTest::newRow("half domain, decimals") << processList(decimal + "</Array></LUT1D>\n") << false << 23;
        QTest::newRow("Log styles") << processList(
            "<Log " + f32 + " style=\"log10\"/><Log " + f32 + " style=\"antiLog2\"/>\n<Log " + f32 + " style=\"linToLog\">"
            "<LogParams base=\"10\" logSideSlope=\"0.5\" linSideOffset=\"0.1\"/></Log><Log " + f32 + " style=\"antiLog10\"/>\n"
            "<Matrix " + f32 + "><Array dim=\"3 4\">1 0.1 0 -1.4 0 1 0 -1.4 0.1 0 1 -1.4</Array></Matrix>\n<Log " + f32
            + " style=\"cameraLogToLin\"><LogParams base=\"2\" logSideSlope=\"0.25\" logSideOffset=\"0.6\" linSideSlope=\"1\" "
            "linSideOffset=\"0.005\" linSideBreak=\"0.01\" linearSlope=\"3\"/></Log>\n") << false << 17;
        auto exponent = [](const char *style, const char *params) {
            return "<Exponent " + f32 + " style=\"" + style + "\">" + params + "</Exponent>\n";
        };
        QTest::newRow("Exponent styles") << processList(
            "<Matrix " + f32 + "><Array dim=\"3 4\">1.2 0 0 -0.3 0 1.2 0 -0.3 0 0 1.2 -0.3</Array></Matrix>\n"
            + exponent("basicMirrorFwd", "<ExponentParams exponent=\"2.2\"/>")
            + exponent("basicPassThruRev", "<ExponentParams exponent=\"1.8\"/>")
            + exponent("moncurveMirrorFwd", "<ExponentParams exponent=\"2.4\" offset=\"0.055\"/>")
            + exponent("moncurveRev", "<ExponentParams exponent=\"2.2\" offset=\"0.099\"/>")
            + exponent("basicFwd", "<ExponentParams exponent=\"1.5\"/>")
            + exponent("basicRev", "<ExponentParams channel=\"R\" exponent=\"1.2\"/><ExponentParams channel=\"G\" "
                                   "exponent=\"2\"/><ExponentParams channel=\"B\" exponent=\"0.8\"/>")
            + exponent("basicMirrorRev", "<ExponentParams exponent=\"2\"/>")) << false << 17;
        QTest::newRow("Gamma node") << processList(
            "<Gamma " + f32 + " style=\"moncurveFwd\"><GammaParams channel=\"R\" gamma=\"2.4\" offset=\"0.055\"/>"
            "<GammaParams channel=\"G\" gamma=\"1.5\" offset=\"0.1\"/><GammaParams channel=\"B\" gamma=\"2\" offset=\"0.099\"/>"
            "</Gamma>\n", "version=\"1.7\"") << false << 17;
        QTest::newRow("integer depths, one-sided Ranges") << processList(
            "<Range inBitDepth=\"32f\" outBitDepth=\"16i\"><minInValue>0.2</minInValue><minOutValue>13107</minOutValue></Range>\n"
            "<LUT1D inBitDepth=\"16i\" outBitDepth=\"10i\"><Array dim=\"3 3\">0 40 100 700 500 600 1023 980 900</Array></LUT1D>\n"
            "<Range inBitDepth=\"10i\" outBitDepth=\"10i\"><maxInValue>900</maxInValue><maxOutValue>900</maxOutValue></Range>\n"
            "<LUT3D inBitDepth=\"10i\" outBitDepth=\"8i\">" + cubeArray(3, 255.0) + "</LUT3D>\n") << false << 17;
        // Bit depths changing from node to node: each node states its values in the units of its own depths.
        auto lut1D = [](const char *in, const char *out, double scale, int n, double gamma) {
            QByteArray t = "<LUT1D inBitDepth=\"" + QByteArray(in) + "\" outBitDepth=\"" + out + "\"><Array dim=\""
                           + QByteArray::number(n) + " 1\">";
            for (int i = 0; i < n; ++i)
                t += QByteArray::number(std::pow(i / (n - 1.0), gamma) * scale, 'g', 9) + ' ';
            return t + "</Array></LUT1D>\n";
        };
        QTest::newRow("depths: LUT1D chain, raw halfs") << processList(
            lut1D("16f", "8i", 255, 6, 0.7) + lut1D("8i", "10i", 1023, 9, 1.6) + lut1D("10i", "12i", 4095, 4, 0.5)
            + lut1D("12i", "16i", 65535, 17, 1.3)
            + "<LUT1D inBitDepth=\"16i\" outBitDepth=\"10i\" rawHalfs=\"true\"><Array dim=\"3 3\">0 0 0 "
              "24574 24576 24528 25598 25596 25584</Array></LUT1D>\n" // 0; 511.5, 512, 500; 1023, 1022, 1016
            + lut1D("10i", "32f", 1, 5, 1.1)) << false << 17;
        const QByteArray sop = "<SOPNode><Slope>1.3 0.9 1.1</Slope><Offset>-0.05 0.02 0.1</Offset><Power>1.2 0.8 1.0</Power>"
                               "</SOPNode><SatNode><Saturation>1.2</Saturation></SatNode>";
        QTest::newRow("depths: ASC_CDL chain") << processList(
            "<ASC_CDL inBitDepth=\"16f\" outBitDepth=\"10i\" style=\"Fwd\">" + sop + "</ASC_CDL>\n"
            "<ASC_CDL inBitDepth=\"10i\" outBitDepth=\"12i\" style=\"RevNoClamp\">" + sop + "</ASC_CDL>\n"
            "<ASC_CDL inBitDepth=\"12i\" outBitDepth=\"8i\" style=\"FwdNoClamp\">" + sop + "</ASC_CDL>\n") << false << 17;
        QTest::newRow("depths: Range, Log, Exponent, Matrix, LUT3D") << processList(
            "<Range inBitDepth=\"8i\" outBitDepth=\"16f\"><minInValue>10</minInValue><maxInValue>240</maxInValue>"
            "<minOutValue>0.02</minOutValue><maxOutValue>0.98</maxOutValue></Range>\n"
            "<Log inBitDepth=\"16f\" outBitDepth=\"10i\" style=\"cameraLinToLog\"><LogParams base=\"2\" logSideSlope=\"0.2\" "
            "logSideOffset=\"0.6\" linSideSlope=\"1.1\" linSideOffset=\"0.01\" linSideBreak=\"0.05\"/></Log>\n"
            "<Exponent inBitDepth=\"10i\" outBitDepth=\"10i\" style=\"monCurveFwd\"><ExponentParams exponent=\"2.4\" "
            "offset=\"0.055\"/></Exponent>\n"
            // One pair of limits given in two depths: 0.1 of the range either way, as near as decimals go.
            "<Range inBitDepth=\"10i\" outBitDepth=\"8i\"><minInValue>102.3</minInValue><minOutValue>25.5</minOutValue></Range>\n"
            "<LUT3D inBitDepth=\"8i\" outBitDepth=\"16i\">" + cubeArray(4, 65535.0) + "</LUT3D>\n"
            "<Matrix inBitDepth=\"16i\" outBitDepth=\"12i\"><Array dim=\"3 4\">0.06 0.002 0 40 0 0.0625 0 0 0.001 0 0.06 -20"
            "</Array></Matrix>\n<Exponent inBitDepth=\"12i\" outBitDepth=\"32f\" style=\"basicRev\"><ExponentParams "
            "exponent=\"1.2\"/></Exponent>\n") << false << 17;
        // Styles and bit depths in any case: the CLF spellings of the monitor-curve styles ("monCurve"), others
        // in capitals; negative inputs through every mirror and pass-through style.
        QTest::newRow("style spellings") << processList(
            "<Matrix inBitDepth=\"32F\" outBitDepth=\"32f\"><Array dim=\"3 4\">1.4 0 0 -0.2 0 1.4 0 -0.2 0 0 1.4 -0.2</Array></Matrix>\n"
            + exponent("monCurveMirrorFwd", "<ExponentParams exponent=\"2.4\" offset=\"0.055\"/>")
            + exponent("monCurveMirrorRev", "<ExponentParams exponent=\"2.2\" offset=\"0.099\"/>")
            + exponent("BASICPASSTHRUREV", "<ExponentParams exponent=\"1.6\"/>")
            + exponent("monCurveRev", "<ExponentParams exponent=\"1.8\" offset=\"0.1\"/>")
            + "<Range " + f32 + " style=\"NOCLAMP\"><minInValue>0</minInValue><maxInValue>1</maxInValue><minOutValue>-0.1"
            "</minOutValue><maxOutValue>1.1</maxOutValue></Range>\n"
            + exponent("monCurveFwd", "<ExponentParams exponent=\"2.6\" offset=\"0.02\"/>")
            + "<ASC_CDL " + f32 + " style=\"fwdNoClamp\"><SOPNode><Slope>1.2 1 0.8</Slope><Offset>-0.1 0 0.1</Offset>"
            "<Power>1.2 1 0.9</Power></SOPNode></ASC_CDL>\n<Log " + f32 + " style=\"ANTILOG2\"/>\n") << false << 17;
        // Metadata at the top (the SMPTE Id among it) and in every node is read past.
        const QByteArray about = "<Description>about</Description>";
        QTest::newRow("metadata everywhere") << processList(
            "<Id>urn:uuid:2f2b5a2e-8f33-4d0f-9a4c-0c4c6a8a1f00</Id>" + about + "<InputDescriptor>ACEScct</InputDescriptor>"
            "<OutputDescriptor>Rec.709</OutputDescriptor><Info><AppRelease>1</AppRelease><Copyright>x</Copyright>"
            "<Unknown a=\"1\"><Deeper/></Unknown></Info>\n"
            "<Matrix " + f32 + ">" + about + "<Array dim=\"3 3\">0.9 0.1 0 0 1 0 0.05 0 0.95</Array></Matrix>\n"
            "<Range " + f32 + ">" + about + "<minInValue>0</minInValue><maxInValue>1</maxInValue><minOutValue>0.05</minOutValue>"
            "<maxOutValue>0.95</maxOutValue></Range>\n<ASC_CDL " + f32 + ">" + about + "<SOPNode>" + about
            + "<Slope>1.1 1 0.9</Slope><Offset>0 0.01 0</Offset><Power>1 1.2 1</Power></SOPNode><SatNode>" + about
            + "<Saturation>0.9</Saturation></SatNode></ASC_CDL>\n<Log " + f32 + " style=\"linToLog\">" + about
            + "<LogParams base=\"10\" linSideOffset=\"0.1\"/></Log>\n<Exponent " + f32 + " style=\"basicMirrorFwd\">" + about
            + "<ExponentParams exponent=\"1.5\"/></Exponent>\n<LUT1D " + f32 + ">" + about + "<Array dim=\"3 1\">0 0.6 1</Array>"
            "</LUT1D>\n" + QByteArray(lut3D).replace("<Array", about + "<Array")) << false << 17;
    }
    void listsEvaluateAsPeer()
    {
        if (!m_peer)
            QSKIP("ociobakelut (opencolorio-tools) is not installed");
        QFETCH(QByteArray, text);
        QFETCH(bool, tables);
        QFETCH(int, size);
        for (const char *extension : {".clf", ".ctf"}) {
            const QString list = file(QString("list") + extension, text);
            Read_LUTFile lut;
            QVERIFY2(readList(lut, list), qPrintable(lut.errorString));
            QCOMPARE(lut.size3D > 0 || lut.size1D > 0, tables);
            QCOMPARE(bool(lut.meaning.evaluate), !tables);
            const QString f = compareWithPeer(lut, list, size, path("list.cube"), 1e-5);
            QVERIFY2(f.isEmpty(), qPrintable(f));
        }
    }

    // Bad input: a clean failure that names the line, never a crash or an allocation the file does not hold.
    void badInputFails()
    {
        const QByteArray lut3D = "<LUT3D " + f32 + "><Array dim=\"2 2 2 3\">\n0 0 0\n0 0 1\n"
                                 "0 1 0\n0 1 1\n1 0 0\n1 0 1\n1 1 0\n0.5 0.5 0.5\n</Array></LUT3D>\n";
        QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE ProcessList [\n<!ENTITY a \"aaaaaaaaaaaaaaaa\">\n";
        for (char e = 'b'; e <= 'k'; ++e)
            bomb += QByteArray("<!ENTITY ") + e + " \"" + QByteArray("&").append(char(e - 1)).append(';').repeated(16) + "\">\n";
        bomb += "]>\n<ProcessList id=\"b\" compCLFversion=\"3\"><Description>&k;</Description></ProcessList>\n";
        const QByteArray clf2 = "compCLFversion=\"2.0\"", matrix = "<Matrix " + f32 + "><Array dim=\"3 3\">1 0 0 0 1 0 0 0 1</Array></Matrix>";
        const QByteArray sop = "<SOPNode><Slope>1 1 1</Slope><Offset>0 0 0</Offset><Power>1 1 1</Power></SOPNode>";
        const QByteArray lut1D = "<LUT1D " + f32 + "><Array dim=\"2 1\">0 1</Array></LUT1D>";
        const struct { const char *name; QByteArray text; const char *reason; const char *file = "bad.clf"; } cases[] = {
            {"truncated", processList(lut3D).chopped(40), "Premature end of document"},
            {"wrong nesting", processList("<Range " + f32 + "><minInValue>0</maxInValue></Range>"), "line 3: "},
            {"fewer values", processList(QByteArray(lut3D).replace("0.5 0.5 0.5", "0.5 0.5")),
             "holds 23 values, dim=\"2 2 2 3\" asks for 24"},
            {"more values", processList(QByteArray(lut3D).replace("</Array>", "0.5</Array>")), "more than the 24 values"},
            {"billion points", processList("<LUT1D " + f32 + "><Array dim=\"1000000000 1\">0 1</Array></LUT1D>"),
             "line 3: Array size 1e+09 is outside 2..1048576"},
            {"cube above bound", processList(QByteArray(lut3D).replace("2 2 2 3", "257 257 257 3")), "outside 2..256"},
            {"dim beyond the file", processList(QByteArray(lut3D).replace("2 2 2 3", "256 256 256 3")), "more than the file holds"},
            {"unequal axes", processList(QByteArray(lut3D).replace("2 2 2 3", "2 3 2 3")), "is not \"N N N 3\""},
            {"entity bomb", bomb, "a document type declaration is not accepted"},
            {"not a list", "<?xml version=\"1.0\"?><LUT3D/>", "not <ProcessList>"},
            {"empty", "", "Premature end of document"},
            {"no nodes", processList("<Description>x</Description>"), "holds no process node"},
            {"unknown node", processList("<FixedFunction " + f32 + " style=\"RGB_TO_HSV\"/>"),
             "line 3: cannot evaluate a <FixedFunction> node"},
            {"bit depth", processList(QByteArray(lut3D).replace("inBitDepth=\"32f\"", "inBitDepth=\"9i\"")),
             "inBitDepth=\"9i\" is not a bit depth"},
            {"not a number", processList(QByteArray(lut3D).replace("0.5 0.5 0.5", "0.5 0.5x 0.5")),
             "line 11: Array value \"0.5x\" is not a finite number"},
            {"infinite", processList(QByteArray(lut3D).replace("0 1 1", "0 inf 1")), "line 7: Array value \"inf\""},
            {"depth chain", processList(lut3D + QByteArray(lut3D).replace("inBitDepth=\"32f\"", "inBitDepth=\"16f\"")),
             "line 13: inBitDepth=\"16f\" differs from the outBitDepth=\"32f\" before it"},
            {"half domain size", processList("<LUT1D inBitDepth=\"16f\" outBitDepth=\"32f\" halfDomain=\"true\">"
                                             "<Array dim=\"2 1\">0 1</Array></LUT1D>"),
             "needs 65536 entries"},
            {"matrix values", processList("<Matrix " + f32 + "><Array dim=\"3 3\">1 0 0 0 1 0 0 0</Array></Matrix>"),
             "holds 8 numbers, not 9"},
            {"cdl parts", processList("<ASC_CDL " + f32 + "><SOPNode><Slope>1 1 1</Slope></SOPNode></ASC_CDL>"),
             "needs Slope, Offset and Power"},
            {"range pairs", processList("<Range " + f32 + "><minInValue>0.1</minInValue><minOutValue>0.2</minOutValue></Range>"),
             "same value in and out"},
            {"film log", processList("<Log " + f32 + " style=\"linToLog\"><LogParams gamma=\"0.6\" refWhite=\"685\"/></Log>"),
             "film-style parameters"},
            {"index map", processList("<LUT1D " + f32 + "><IndexMap dim=\"2\">0@0 0.5</IndexMap>"
                                      "<Array dim=\"2 1\">0 1</Array></LUT1D>", clf2), "IndexMap entry \"0.5\""},
            {"camera log", processList("<Log " + f32 + " style=\"cameraLinToLog\"><LogParams/></Log>"),
             "need a linSideBreak"},
            {"cdl reverse", processList("<ASC_CDL " + f32 + " style=\"Rev\"><SatNode><Saturation>0"
                                        "</Saturation></SatNode></ASC_CDL>"), "saturation 0 cannot be reversed"},
            {"noClamp pair", processList("<Range " + f32 + " style=\"noClamp\"><maxInValue>1"
                                         "</maxInValue><maxOutValue>1</maxOutValue></Range>"), "noClamp Range needs all four"},
            {"matrix dim", processList("<Matrix " + f32 + "><Array dim=\"4 4\">1</Array></Matrix>"),
             "dim=\"3 3\" or \"3 4\", not \"4 4\""},
            {"channel", processList("<Exponent " + f32 + " style=\"basicFwd\"><ExponentParams "
                                    "channel=\"A\" exponent=\"2\"/></Exponent>"), "channel is not R, G or B"},
            {"hue", processList(QByteArray(lut3D).replace("LUT3D", "LUT1D").replace("2 2 2 3", "8 3").replace("<LUT1D ",
                                "<LUT1D hueAdjust=\"dw3\" ")), "hueAdjust=\"dw3\" is not evaluated"},
            {"interpolation", processList(QByteArray(lut3D).replace("<LUT3D ", "<LUT3D interpolation=\"cubic\" ")),
             "interpolation=\"cubic\" is not evaluated"},
            {"moncurve", processList("<Exponent " + f32 + " style=\"moncurveFwd\"><ExponentParams exponent=\"2.2\"/></Exponent>"),
             "needs exponent and offset"},
            // The rules of the lists' versions and of each node's parameters.
            {"no id", QByteArray(processList(matrix)).replace(" id=\"t\"", ""), "line 2: the ProcessList needs an id attribute"},
            {"two versions", processList(matrix, "compCLFversion=\"3\" version=\"1.7\""), "compCLFversion or version, not both"},
            {"no CLF version", processList(matrix, ""), "line 2: a CLF ProcessList needs its compCLFversion"},
            {"not a version", processList(matrix, "compCLFversion=\"3.x\""), "compCLFversion=\"3.x\" is not a version number"},
            {"newer version", processList(matrix, "compCLFversion=\"4\""), "newer than the versions read (up to 3)"},
            {"Log in CLF 2", processList("<Log " + f32 + " style=\"log10\"/>", clf2),
             "line 3: a Log node needs compCLFversion 3 or later; this list has compCLFversion=\"2.0\""},
            {"Exponent in CLF 2", processList("<Exponent " + f32 + " style=\"basicFwd\"><ExponentParams exponent=\"2\"/>"
                                              "</Exponent>", clf2), "line 3: a <Exponent> node needs compCLFversion 3"},
            {"IndexMap in CLF 3", processList("<LUT1D " + f32 + "><IndexMap dim=\"2\">0@0 1@1</IndexMap><Array dim=\"2 1\">0 1"
                                              "</Array></LUT1D>"), "line 3: <IndexMap> is read in CLF 2 lists"},
            {"IndexMap count", processList("<LUT1D " + f32 + "><IndexMap dim=\"3\">0@0 1@1</IndexMap><Array dim=\"2 1\">0 1"
                                           "</Array></LUT1D>", clf2), "the IndexMap holds 2 entries, dim=\"3\" gives 3"},
            {"IndexMap of a LUT3D", processList(QByteArray(lut3D).replace("<Array", "<IndexMap dim=\"2\">0@0 1@1</IndexMap><Array"),
                                                clf2), "an <IndexMap> of a LUT3D is not evaluated"},
            {"ASC_CDL in CTF 1.2", processList("<ASC_CDL " + f32 + ">" + sop + "</ASC_CDL>", ""),
             "line 3: an ASC_CDL node needs version 1.3 or later; this list has version 1.2 (none given)", "bad.ctf"},
            {"noClamp in CTF 1.3", processList("<Range " + f32 + " style=\"noClamp\"><minInValue>0</minInValue><maxInValue>1"
                                               "</maxInValue><minOutValue>0</minOutValue><maxOutValue>2</maxOutValue></Range>",
                                               "version=\"1.3\""), "style=\"noClamp\" needs version 1.7 or later"},
            {"mirror Gamma in CTF 1.7", processList("<Gamma " + f32 + " style=\"basicMirrorFwd\"><GammaParams gamma=\"2\"/></Gamma>",
                                                    "version=\"1.7\""), "style=\"basicMirrorFwd\" needs version 2.0 or later"},
            {"film-style Log", processList("<Log " + f32 + " style=\"linToLog\"/>", "version=\"1.3\""),
             "before version 2.0 a Log of style=\"linToLog\" takes film-style parameters"},
            {"offset of a basic style", processList("<Exponent " + f32 + " style=\"basicFwd\"><ExponentParams exponent=\"2\" "
                                                    "offset=\"0.1\"/></Exponent>"),
             "line 3: offset= is a parameter of the moncurve styles only, not of style=\"basicFwd\""},
            {"break of linToLog", processList("<Log " + f32 + " style=\"linToLog\"><LogParams base=\"10\" linSideBreak=\"0.1\"/>"
                                              "</Log>"), "linSideBreak= is a parameter of the camera styles only"},
            {"halfDomain false", processList(QByteArray(lut1D).replace("<LUT1D ", "<LUT1D halfDomain=\"false\" ")),
             "halfDomain=\"false\" is not \"true\""},
            {"rawHalfs yes", processList(QByteArray(lut1D).replace("<LUT1D ", "<LUT1D rawHalfs=\"yes\" ")),
             "rawHalfs=\"yes\" is not \"true\""},
            {"rawHalfs of a LUT3D", processList(QByteArray(lut3D).replace("<LUT3D ", "<LUT3D rawHalfs=\"true\" ")),
             "rawHalfs= is an attribute of LUT1D, not of LUT3D"},
            {"negative slope", processList("<ASC_CDL " + f32 + ">" + QByteArray(sop).replace("<Slope>1 ", "<Slope>-1 ") + "</ASC_CDL>"),
             "needs slopes and saturation of 0 or more"},
            {"falling Range", processList("<Range " + f32 + "><minInValue>0</minInValue><maxInValue>1</maxInValue><minOutValue>1"
                                          "</minOutValue><maxOutValue>0</maxOutValue></Range>"), "maxOutValue at or above minOutValue"},
        };
        for (const auto &c : cases) {
            Read_LUTFile lut;
            const QString bad = file(c.file, c.text);
            QVERIFY2(!readList(lut, bad), c.name);
            QVERIFY2(lut.errorString.startsWith("line ") && lut.errorString.contains(c.reason),
                     qPrintable(QString(c.name) + ": " + lut.errorString));
            QVERIFY2(lut.table3D.isNull() && lut.table1D.isNull() && !lut.meaning.evaluate, c.name);
            // The command line: exit 1 and that reason as its one line.
            const TestSupport::ProcessResult r = TestSupport::runConvert({bad, path("bad.cube")});
            QVERIFY2(r.exitCode == 1 && r.err == "chromaduct-convert: " + bad.toUtf8() + ": " + lut.errorString.toUtf8() + '\n',
                     qPrintable(QString(c.name) + ": " + r.err));
        }
    }

    // The half-float helpers behind rawHalfs and half-domain tables: every finite pattern reads back as itself,
    // a value between two halfs takes the one towards zero, and the ends and specials are where IEEE puts them.
    void halfFloats()
    {
        for (unsigned bits = 0; bits < 0x10000u; ++bits) {
            const double x = LutClf::halfToDouble(bits);
            if ((bits & 0x7c00u) == 0x7c00u) {
                QCOMPARE(std::isnan(x), (bits & 0x3ffu) != 0);
                continue;
            }
            QCOMPARE(LutClf::halfBitsTowardZero(x), bits);
            if ((bits & 0x7fffu) < 0x7bffu) {
                const double between = (x + LutClf::halfToDouble(bits + 1)) / 2;
                QCOMPARE(LutClf::halfBitsTowardZero(between), bits);
            }
        }
        QCOMPARE(LutClf::halfToDouble(0x3c00), 1.0);
        QCOMPARE(LutClf::halfToDouble(0xc000), -2.0);
        QCOMPARE(LutClf::halfToDouble(0x0001), std::ldexp(1.0, -24));
        QCOMPARE(LutClf::halfToDouble(0x7bff), 65504.0);
        QVERIFY(std::isinf(LutClf::halfToDouble(0xfc00)) && LutClf::halfToDouble(0xfc00) < 0);
        QCOMPARE(LutClf::halfBitsTowardZero(1e9), 0x7bffu);
        QCOMPARE(LutClf::halfBitsTowardZero(-INFINITY), 0xfbffu);
    }

    // Nesting as deep as the file likes inside skipped metadata is read without recursion.
    void deepMetadata()
    {
        const QByteArray deep = QByteArray("<a>").repeated(200000) + QByteArray("</a>").repeated(200000);
        Read_LUTFile lut;
        QVERIFY2(readList(lut, file("deep.clf", processList("<Info>" + deep + "</Info><Matrix inBitDepth=\"32f\" "
                                                            "outBitDepth=\"32f\"><Array dim=\"3 3\">1 0 0 0 1 0 0 0 1"
                                                            "</Array></Matrix>"))), qPrintable(lut.errorString));
        QVERIFY(lut.meaning.evaluate);
    }

    // The command line: a 1D table to clf, --scale refused, a list baked.
    void commandLine()
    {
        const QString spi1d = file("c.spi1d", "Version 1\nFrom 0.0 1.0\nLength 2\nComponents 1\n{\n0.25\n0.75\n}\n");
        QCOMPARE(TestSupport::runConvert({spi1d, path("c.clf")}).exitCode, 0);
        Read_LUTFile lut;
        QVERIFY(readList(lut, path("c.clf"), false) && lut.size1D == 2 && lut.size3D == 0);
        QCOMPARE(lut.table1D[1][2], 0.75f);
        const TestSupport::ProcessResult scaled = TestSupport::runConvert({spi1d, path("s.ctf"), "--scale", "1023"});
        QCOMPARE(scaled.exitCode, 64);
        QVERIFY(scaled.err.contains("the ctf format holds reals only") && !QFile::exists(path("s.ctf")));
        // A list no table holds is baked, by default on a 33-point lattice for a transform that mixes channels.
        const QString matrix = file("m.clf", processList("<Matrix " + f32 + "><Array dim=\"3 3\">0.8 0.2 0 0 1 0 0 0.1 0.9"
                                                         "</Array></Matrix>"));
        const TestSupport::ProcessResult baked = TestSupport::runConvert({matrix, path("m.cube")});
        QVERIFY2(baked.exitCode == 0 && baked.err.isEmpty(), baked.err.constData());
        QVERIFY(TestSupport::runConvert({"--plain", matrix, path("m.cube")}).err.contains("note: baked on the output's lattice"));
        const TestSupport::CubeText cube = TestSupport::parseCubeText(path("m.cube"));
        QVERIFY(cube.size == 33 && std::fabs(cube.values[3 * 32] - 0.8f) < 1e-6f && cube.values[3 * 32 + 1] == 0.0f);
    }
};

QTEST_GUILESS_MAIN(TestFormatClf)
#include "test_format_clf.moc"
