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
#include <cfloat>
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

// A smooth cube whose gamut lies inside 0..1 and whose map is invertible, in the list's order.
QByteArray invertibleCubeArray(int n)
{
    const QByteArray size = QByteArray::number(n);
    QByteArray text = "<Array dim=\"" + size + ' ' + size + ' ' + size + " 3\">\n";
    for (int i = 0; i < n * n * n; ++i) {
        const double r = i / (n * n) / (n - 1.0), g = i / n % n / (n - 1.0), b = i % n / (n - 1.0);
        for (double v : {0.05 + 0.9 * (0.8 * std::pow(r, 1.2) + 0.2 * g), 0.02 + 0.95 * (0.7 * g + 0.2 * r + 0.1 * b * b),
                         0.1 + 0.85 * (0.9 * std::pow(b, 0.8) + 0.1 * r)})
            text += QByteArray::number(v, 'g', 9) + ' ';
        text += '\n';
    }
    return text + "</Array>\n";
}

// The 65536 entries of a half-domain table of the signed square root (times 0.8), infinite beyond 30000 and at the
// infinities, NaN at the NaNs.
QByteArray halfDomainArray()
{
    QByteArray text = "<Array dim=\"65536 1\">\n";
    for (unsigned h = 0; h < 65536; ++h) {
        const double x = LutClf::halfToDouble(h);
        if (std::isnan(x))
            text += "nan\n";
        else if (std::fabs(x) > 30000)
            text += x > 0 ? "inf\n" : "-inf\n";
        else
            text += QByteArray::number(std::copysign(std::sqrt(std::fabs(x)) * 0.8, x), 'g', 9) + '\n';
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
        // The peer writes an infinity as the largest float.
        const double theirs = std::fabs(peer.values[k]) >= FLT_MAX ? std::copysign(INFINITY, peer.values[k]) : peer.values[k];
        if (mine != theirs && !(std::fabs(mine - theirs) <= tolerance * std::max(1.0, std::fabs(mine))))
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
        // Alpha starts at 0 in the peer's bakes and the alpha rows keep it there, so the alpha columns do not show.
        QTest::newRow("Matrix 4x4 and 4x5: alpha left out") << processList(
            "<Matrix inBitDepth=\"10i\" outBitDepth=\"32f\"><Array dim=\"4 4\">0.0009 0.0001 0 0.3  0.00005 0.0008 0.0001 0.2  "
            "0 0.0002 0.0007 0.1  0 0 0 0.5</Array></Matrix>\n<Matrix inBitDepth=\"32f\" outBitDepth=\"12i\"><Array "
            "dim=\"4 5 4\">3000 500 0 100 40  0 3500 200 100 -20  100 0 3900 100 60  0 0 0 4095 0</Array></Matrix>\n")
            << false << 17;
        // The transform format's own nodes (its lists only: a CLF list refuses them).
        const QByteArray ctf2 = "version=\"2\"";
        QTest::newRow("InverseLUT1D: flat parts, a reversal, falling, 10i") << processList(
            "<InverseLUT1D inBitDepth=\"10i\" outBitDepth=\"32f\"><Array dim=\"7 3\">0 0 1023  80 50 900  300 50 800  300 400 500  "
            "700 400 200  900 800 100  1000 1023 100</Array></InverseLUT1D>\n", ctf2) << false << 17;
        QTest::newRow("InverseLUT1D over the half floats") << processList(
            "<Matrix " + f32 + "><Array dim=\"3 4\">2 0 0 -0.5 0 1.5 0 -0.2 0 0 1 0</Array></Matrix>\n"
            "<InverseLUT1D " + f32 + " halfDomain=\"true\">" + halfDomainArray() + "</InverseLUT1D>\n", ctf2) << false << 23;
        QTest::newRow("LUT1D over the half floats, infinities") << processList(
            "<Matrix " + f32 + "><Array dim=\"3 4\">40000 0 0 -0.5 0 1 0 -0.2 0 0 1 0</Array></Matrix>\n"
            "<LUT1D " + f32 + " halfDomain=\"true\">" + halfDomainArray() + "</LUT1D>\n", ctf2) << false << 23;
        QTest::newRow("InverseLUT3D, points outside the gamut") << processList(
            "<InverseLUT3D " + f32 + ">" + invertibleCubeArray(9) + "</InverseLUT3D>\n", ctf2) << false << 17;
        const QByteArray filmLog =
            "<Log inBitDepth=\"32f\" outBitDepth=\"10i\" style=\"linToLog\"><LogParams gamma=\"0.6\" refWhite=\"685\" "
            "refBlack=\"95\" highlight=\"1\" shadow=\"0\"/></Log>\n<Log inBitDepth=\"10i\" outBitDepth=\"32f\" "
            "style=\"logToLin\"><LogParams channel=\"R\" gamma=\"0.55\" refWhite=\"695\" refBlack=\"90\" highlight=\"0.9\" "
            "shadow=\"0.01\"/><LogParams channel=\"G\" gamma=\"0.6\" refWhite=\"685\" refBlack=\"95\" highlight=\"1\" "
            "shadow=\"0\"/><LogParams channel=\"B\" gamma=\"0.65\" refWhite=\"680\" refBlack=\"100\" highlight=\"1.1\" "
            "shadow=\"-0.01\"/></Log>\n";
        QTest::newRow("film-style Log, 1.3") << processList(filmLog, "version=\"1.3\"") << false << 17;
        QTest::newRow("film-style Log, 2") << processList(filmLog, ctf2) << false << 17;
        auto ec = [](const char *style, const char *params) {
            return "<ExposureContrast " + f32 + " style=\"" + style + "\"><ECParams " + params + "/>"
                   "<DynamicParameter param=\"EXPOSURE\"/></ExposureContrast>\n";
        };
        // logRev with its own logExposureStep is left out: the peer takes the default step for its exposure.
        QTest::newRow("ExposureContrast styles") << processList(
            ec("linear", "exposure=\"0.5\" contrast=\"1.2\" gamma=\"0.9\" pivot=\"0.18\"")
            + ec("videoRev", "exposure=\"-0.3\" contrast=\"0.8\" pivot=\"0.4\"")
            + ec("video", "exposure=\"0.2\" contrast=\"1\" pivot=\"0.3\"")
            + ec("linearRev", "exposure=\"0.4\" contrast=\"1.3\" gamma=\"1.1\" pivot=\"0.25\"")
            + ec("log", "exposure=\"0.3\" contrast=\"1.1\" pivot=\"0.2\" logExposureStep=\"0.1\" logMidGray=\"0.42\"")
            + ec("log", "exposure=\"0.5\" contrast=\"1.2\" pivot=\"0.18\"")
            + ec("logRev", "exposure=\"0.1\" contrast=\"0.7\" gamma=\"1.2\" pivot=\"0.3\" logMidGray=\"0.4\""), ctf2)
            << false << 17;
        QTest::newRow("Gamma with alpha parameters") << processList(
            "<Gamma " + f32 + " style=\"basicFwd\"><GammaParams gamma=\"2.2\"/><GammaParams channel=\"A\" gamma=\"1.5\"/>"
            "</Gamma>\n<Gamma " + f32 + " style=\"moncurveRev\"><GammaParams channel=\"R\" gamma=\"2.4\" offset=\"0.055\"/>"
            "<GammaParams channel=\"G\" gamma=\"2.2\" offset=\"0.099\"/><GammaParams channel=\"B\" gamma=\"2.0\" "
            "offset=\"0.1\"/><GammaParams channel=\"A\" gamma=\"1.8\" offset=\"0.05\"/></Gamma>\n", "version=\"1.5\"")
            << false << 17;
        // Every FixedFunction style, behind Matrix nodes that make negative values for the ACES look styles and keep the
        // colour-space conversions away from their poles (where float roundings of the peer would decide).
        auto fixed = [](const QByteArray &styles, const char *matrix) {
            QByteArray text;
            for (const QByteArray &style : styles.split(' '))
                text += "<Matrix " + f32 + "><Array dim=\"3 4\">" + matrix + "</Array></Matrix>\n<FixedFunction " + f32
                        + " style=\"" + QByteArray(style).replace('|', ' ').replace('\'', '"') + "\"/>\n";
            return text;
        };
        const char *spread = "1.3 -0.2 0.1 -0.1 0.1 1.2 -0.2 0 -0.1 0.2 1.4 -0.15";
        const char *positive = "0.9 0.1 0.05 0.02 0.1 0.8 0.1 0.03 0.05 0.1 0.9 0.04";
        for (const char *styles : {"RedMod03Fwd RedMod03Rev RedMod10Fwd RedMod10Rev", "Glow03Fwd Glow03Rev Glow10Fwd Glow10Rev",
                                   "DarkToDim10 DimToDark10"})
            QTest::newRow(styles) << processList(fixed(styles, spread), ctf2) << false << 17;
        for (const char *styles : {"Surround'|params='0.78 Rec2100SurroundFwd'|params='0.9 Rec2100SurroundRev'|params='1.3",
                                   "GamutComp13Fwd'|params='1.147|1.264|1.312|0.815|0.803|0.88|1.2 "
                                   "GamutComp13Rev'|params='1.2|1.1|1.3|0.8|0.85|0.9|1.5",
                                   "RGB_TO_HSV HSV_TO_RGB XYZ_TO_xyY xyY_TO_XYZ", "XYZ_TO_uvY uvY_TO_XYZ XYZ_TO_LUV LUV_TO_XYZ"})
            QTest::newRow(styles) << processList(fixed(styles, positive), ctf2) << false << 17;
        QTest::newRow("ACES node") << processList(
            "<ACES " + f32 + " style=\"RedMod03Fwd\"/>\n<ACES " + f32 + " style=\"Surround\"><ACESParams gamma=\"0.9\"/></ACES>\n"
            "<ACES " + f32 + " style=\"Glow10Rev\"/>\n", "version=\"1.5\"") << false << 17;
        // Every control in every style (each style reads the ones it uses), then with pivots and a clamp; a Matrix
        // in front takes the inputs beyond 0..1.
        const QByteArray controls = "<Brightness rgb=\"0.1 -2 3\" master=\"5\"/><Contrast rgb=\"1.1 0.9 1.2\" master=\"1.05\"/>"
            "<Gamma rgb=\"1.1 0.9 1.3\" master=\"0.95\"/><Offset rgb=\"0.01 -0.02 0.03\" master=\"0.02\"/><Exposure "
            "rgb=\"0.2 -0.3 0.1\" master=\"0.5\"/><Lift rgb=\"0.01 0.02 -0.03\" master=\"0.01\"/><Gain rgb=\"1.1 0.9 1.2\" "
            "master=\"1.05\"/><Saturation master=\"1.2\"/>";
        for (const char *style : {"log", "logRev", "linear", "linearRev", "video", "videoRev"}) {
            const QByteArray primary = "<GradingPrimary " + f32 + " style=\"" + style + "\">";
            QTest::newRow(qPrintable(QString("GradingPrimary %1").arg(style))) << processList(
                "<Matrix " + f32 + "><Array dim=\"3 4\">1.2 0 0 -0.1 0 1.1 0 -0.05 0 0 1.3 -0.15</Array></Matrix>\n"
                + primary + controls + "</GradingPrimary>\n" + primary + "<Description>d</Description>" + controls
                + "<Pivot contrast=\"0.3\" black=\"0.05\" white=\"0.9\"/><Clamp black=\"-0.05\" white=\"1.1\"/>"
                "</GradingPrimary>\n", ctf2) << false << 17;
        }
        // Curves per channel and the master in every style; slopes given, slopes that the fit must scale down (a
        // falling middle), flat ends (the reverse gives their knot), and the linear style without its log encoding.
        const QByteArray curves = "<Red><ControlPoints>0 0 0.3 0.4 0.7 0.6 1 1</ControlPoints><Slopes>1 0.5 0.5 1</Slopes>"
            "</Red><Green><ControlPoints>0 0.1 0.2 0.15 0.5 0.6 0.8 0.7 1 0.95</ControlPoints></Green><Blue><ControlPoints>"
            "-0.1 0 0.5 0.45 1.1 1.2</ControlPoints></Blue><Master><ControlPoints>0 0 0.4 0.5 1 1</ControlPoints></Master>";
        const QByteArray linearCurves = "<Red><ControlPoints>-7 -7 -3 -2 0 0.5 3 2.5 7 7</ControlPoints></Red><Master>"
            "<ControlPoints>-6 -6.5 0 0 6 6.2</ControlPoints></Master>";
        for (const char *style : {"log", "logRev", "linear", "linearRev", "video", "videoRev"}) {
            const bool linear = QByteArray(style).startsWith("linear");
            QTest::newRow(qPrintable(QString("GradingRGBCurve %1").arg(style))) << processList(
                "<GradingRGBCurve " + f32 + " style=\"" + style + "\">" + (linear ? linearCurves : curves)
                + "</GradingRGBCurve>\n", ctf2) << false << 17;
        }
        const QByteArray odd = "<Red><ControlPoints>0 0 0.3 0.9 0.7 0.1 1 1</ControlPoints></Red><Green><ControlPoints>0 0 "
            "0.5 0.5 1 0.5</ControlPoints></Green>";
        QTest::newRow("GradingRGBCurve: falling, flat, no log encoding") << processList(
            "<GradingRGBCurve " + f32 + " style=\"log\">" + odd + "</GradingRGBCurve>\n<GradingRGBCurve " + f32
            + " style=\"logRev\">" + odd + "</GradingRGBCurve>\n<GradingRGBCurve " + f32 + " style=\"linear\" "
            "bypassLinToLog=\"true\">" + linearCurves + "</GradingRGBCurve>\n", ctf2) << false << 17;
        // Every zone of GradingTone, moved up in one list and down in the other, in every style; a Matrix in front
        // spreads the inputs beyond the zones (far beyond in the linear styles, to the whites' quadratic).
        const QByteArray zonesUp = "<Blacks rgb=\"1.1 0.9 1.2\" master=\"1.05\" start=\"0.4\" width=\"0.4\"/><Shadows "
            "rgb=\"0.8 1.3 1.1\" master=\"0.9\" start=\"0.5\" pivot=\"0.05\"/><Midtones rgb=\"1.2 0.85 1.1\" master=\"1.1\" "
            "center=\"0.4\" width=\"0.6\"/><Highlights rgb=\"1.3 0.8 1.1\" master=\"0.9\" start=\"0.3\" pivot=\"1\"/><Whites "
            "rgb=\"0.9 1.2 1.05\" master=\"1.1\" start=\"0.4\" width=\"0.5\"/><SContrast master=\"1.3\"/>";
        const QByteArray zonesDown = "<Blacks rgb=\"0.8 1.3 0.95\" master=\"0.9\" start=\"0.3\" width=\"0.2\"/><Shadows "
            "rgb=\"1.2 0.7 1\" master=\"1.15\" start=\"0.45\" pivot=\"0.1\"/><Midtones rgb=\"0.85 1.2 0.9\" master=\"0.8\" "
            "center=\"0.7\" width=\"0.3\"/><Highlights rgb=\"0.7 1.25 1\" master=\"1.2\" start=\"0.5\" pivot=\"0.9\"/><Whites "
            "rgb=\"1.3 0.8 1.1\" master=\"0.85\" start=\"0.6\" width=\"0.3\"/><SContrast master=\"0.6\"/>";
        for (const char *style : {"log", "logRev", "linear", "linearRev", "video", "videoRev"}) {
            const bool linear = QByteArray(style).startsWith("linear");
            for (const QByteArray &zones : {zonesUp, zonesDown})
                QTest::newRow(qPrintable(QString("GradingTone %1 %2").arg(style, &zones == &zonesUp ? "up" : "down")))
                    << processList("<Matrix " + f32 + "><Array dim=\"3 4\">" + QByteArray(linear ? "12 0 0 -6 0 14 0 -7.5 0 0 13 "
                       "-6.5" : "1.6 0 0 -0.3 0 1.5 0 -0.25 0 0 1.7 -0.35") + "</Array></Matrix>\n<GradingTone " + f32 + " style=\""
                       + style + "\">" + zones + "</GradingTone>\n", ctf2) << false << 17;
        }
        QTest::newRow("hueAdjust dw3, LUT1D and InverseLUT1D") << processList(
            "<LUT1D " + f32 + " hueAdjust=\"dw3\"><Array dim=\"5 3\">0 0.013 0.11 0.31 0.23 0.19 0.53 0.61 0.43 0.83 0.71 0.73 "
            "1 0.97 0.91</Array></LUT1D>\n"
            // Channels that the LUT1D made equal would be ordered by roundings: the Matrix parts them.
            "<Matrix " + f32 + "><Array dim=\"3 4\">0.97 0.01 0 0.011 0 0.93 0.02 0.023 0.01 0 0.95 0.031</Array></Matrix>\n"
            "<InverseLUT1D " + f32 + " hueAdjust=\"dw3\"><Array dim=\"4 3\">0.01 0.05 0 0.21 0.33 0.41 0.67 0.59 0.53 1 0.93 "
            "0.97</Array></InverseLUT1D>\n", ctf2) << false << 17;
    }
    void listsEvaluateAsPeer()
    {
        if (!m_peer)
            QSKIP("ociobakelut (opencolorio-tools) is not installed");
        QFETCH(QByteArray, text);
        QFETCH(bool, tables);
        QFETCH(int, size);
        for (const char *extension : {".clf", ".ctf"}) {
            if (extension[1] == 'c' && extension[2] == 'l' && !text.contains("compCLFversion"))
                continue; // a list of the transform format
            const QString list = file(QString("list") + extension, text);
            Read_LUTFile lut;
            QVERIFY2(readList(lut, list), qPrintable(lut.errorString));
            QCOMPARE(lut.size3D > 0 || lut.size1D > 0, tables);
            QCOMPARE(bool(lut.meaning.evaluate), !tables);
            const QString f = compareWithPeer(lut, list, size, path("list.cube"), 1e-5);
            QVERIFY2(f.isEmpty(), qPrintable(f));
        }
    }

    // References: the named list's nodes in the Reference's place, files named from the referencing one's folder
    // (and basePath); the peer resolves them from its working folder, so it is run from the lists' own.
    void referencesRead()
    {
        const QByteArray ctf2 = "version=\"2\"", ref = "<Reference " + f32 + " path=\"";
        QDir(m_dir.path()).mkpath("sub");
        file("sub/inner.ctf", processList("<Matrix " + f32 + "><Array dim=\"3 4\">0.5 0.1 0 0.02 0 0.9 0.1 0 0.2 0 0.7 0.05"
                                          "</Array></Matrix>\n", ctf2));
        file("mid.ctf", processList(ref + "sub/inner.ctf\"/>\n<Log " + f32 + " style=\"antiLog2\"/>\n", ctf2));
        const QString outer = file("outer.ctf", processList("<Exponent " + f32 + " style=\"basicMirrorFwd\"><ExponentParams "
                                   "exponent=\"1.8\"/></Exponent>\n" + ref + "mid.ctf\"/>\n" + ref + "sub/inner.ctf\"/>\n", ctf2));
        Read_LUTFile lut;
        QVERIFY2(readList(lut, outer), qPrintable(lut.errorString));
        if (m_peer) {
            const QString here = QDir::currentPath();
            QDir::setCurrent(m_dir.path());
            const QString f = compareWithPeer(lut, outer, 17, path("ref.cube"), 1e-5);
            QDir::setCurrent(here);
            QVERIFY2(f.isEmpty(), qPrintable(f));
        }
        // The same files named through basePath, and from a list in another folder, evaluate alike.
        Read_LUTFile cube, based, nested;
        QVERIFY(cube.setSize3D(9, false) && based.setSize3D(9, false) && nested.setSize3D(9, false));
        const QString viaBase = file("based.ctf", processList("<Reference " + f32 + " basePath=\"sub\" path=\"inner.ctf\"/>\n", ctf2));
        const QString fromSub = file("sub/up.ctf", processList(ref + "inner.ctf\"/>\n", ctf2));
        const QString direct = file("direct.ctf", processList(ref + "sub/inner.ctf\"/>\n", ctf2));
        Read_LUTFile a, b, c;
        QVERIFY(readList(a, direct) && readList(b, viaBase) && readList(c, fromSub));
        QVERIFY(LutCalc::bakeCube(&a, &cube) && LutCalc::bakeCube(&b, &based) && LutCalc::bakeCube(&c, &nested));
        QVERIFY(std::equal(cube.table3D.data(), cube.table3D.data() + 729 * 3, based.table3D.data()));
        QVERIFY(std::equal(cube.table3D.data(), cube.table3D.data() + 729 * 3, nested.table3D.data()));
        QVERIFY(cube.table3D[8][0][0][0] != 1.0f);

        // Refused with the chain of files that leads to the fault.
        file("loop-a.ctf", processList(ref + "loop-b.ctf\"/>\n", ctf2));
        file("loop-b.ctf", processList(ref + "loop-a.ctf\"/>\n", ctf2));
        file("bad-inner.ctf", processList("<Warp " + f32 + "/>\n", ctf2));
        const struct { const char *name; QByteArray text; const char *reason; } cases[] = {
            {"cycle", processList(ref + "loop-a.ctf\"/>\n", ctf2),
             "line 3: in loop-a.ctf, line 3: in loop-b.ctf, line 3: the Reference path=\"loop-a.ctf\" refers back to a list "
             "that refers to it (refs.ctf -> loop-a.ctf -> loop-b.ctf -> loop-a.ctf)"},
            {"itself", processList(ref + "refs.ctf\"/>\n", ctf2), "refers back to a list that refers to it (refs.ctf -> refs.ctf)"},
            {"missing", processList(ref + "sub/none.ctf\"/>\n", ctf2), "line 3: the Reference path=\"sub/none.ctf\" names no file"},
            {"a folder", processList(ref + "sub\"/>\n", ctf2), "names no file"},
            {"alias", processList("<Reference " + f32 + " alias=\"look\"/>\n", ctf2),
             "line 3: a Reference by alias=\"look\" needs a configuration (refs.ctf -> alias look)"},
            {"no path", processList("<Reference " + f32 + "/>\n", ctf2), "line 3: a Reference needs a path"},
            {"inverted, not a flag", processList("<Reference " + f32 + " path=\"mid.ctf\" inverted=\"yes\"/>\n", ctf2),
             "line 3: a Reference inverted=\"yes\" is not \"true\" or \"false\""},
            {"bad node inside", processList("<Log " + f32 + " style=\"log2\"/>\n" + ref + "bad-inner.ctf\"/>\n", ctf2),
             "line 4: in bad-inner.ctf, line 3: cannot evaluate a <Warp> node"},
            {"in CLF", processList(ref + "mid.ctf\"/>\n"), "line 3: a <Reference> node belongs to the transform format"},
        };
        for (const auto &c : cases) {
            Read_LUTFile bad;
            QVERIFY2(!readList(bad, file("refs.ctf", c.text)) && bad.errorString.contains(c.reason),
                     qPrintable(QString(c.name) + ": " + bad.errorString));
        }
        // Through an inverted Reference, the nodes without an inverse are refused by name.
        const struct { QByteArray node; const char *reason; } noInverse[] = {
            {"<LUT1D " + f32 + "><IndexMap dim=\"2\">0@0 1@2</IndexMap><Array dim=\"3 1\">0 0.5 1</Array></LUT1D>",
             "a LUT1D with an <IndexMap> cannot be inverted"},
            {"<Matrix " + f32 + "><Array dim=\"3 3\">1 2 0 2 4 0 0 0 1</Array></Matrix>", "a singular Matrix cannot be inverted"},
            {"<Matrix " + f32 + "><Array dim=\"4 4\">1 0 0 0.5 0 1 0 0 0 0 1 0 0 0 0 1</Array></Matrix>",
             "a Matrix whose colour rows take alpha cannot be inverted"},
            {"<Range " + f32 + "><minInValue>0</minInValue><maxInValue>1</maxInValue><minOutValue>0.5</minOutValue>"
             "<maxOutValue>0.5</maxOutValue></Range>", "a Range onto a single value cannot be inverted"},
            {"<ASC_CDL " + f32 + "><SOPNode><Slope>0 1 1</Slope><Offset>0 0 0</Offset><Power>1 1 1</Power></SOPNode></ASC_CDL>",
             "an ASC_CDL needs powers above 0 (and slopes other than 0 to reverse)"},
        };
        for (const auto &n : noInverse) {
            file("sub/no-inverse.ctf", processList(n.node + "\n", "version=\"1.7\""));
            Read_LUTFile bad;
            QVERIFY2(!readList(bad, file("refs.ctf", processList(ref + "sub/no-inverse.ctf\" inverted=\"true\"/>\n", ctf2)))
                         && bad.errorString.contains(QString("line 3: in no-inverse.ctf, line 3: ") + n.reason),
                     qPrintable(bad.errorString));
        }
    }

    // A Reference inverted="true": the named list's nodes each inverted, in the opposite order, against the peer's
    // bake (which inverts the tables exactly), and the nodes without an inverse refused naming them.
    void invertedReferencesEvaluateAsPeer_data()
    {
        QTest::addColumn<QByteArray>("inner");     // the list referred to
        QTest::addColumn<QByteArray>("reference"); // around the Reference in the outer list
        QTest::addColumn<double>("tolerance");
        const QByteArray ctf2 = "version=\"2\"";
        const QByteArray matrix = "<Matrix " + f32 + "><Array dim=\"3 4\">0.8 0.1 0.05 0.02 0.05 0.9 0.02 -0.01 0.1 0 0.7 "
                                  "0.05</Array></Matrix>\n";
        QTest::newRow("Matrix, Log, Exponent, Ranges, LUT1D in 10i, CDL") << processList(
            matrix + "<Log " + f32 + " style=\"cameraLinToLog\"><LogParams base=\"2\" logSideSlope=\"0.2\" logSideOffset=\"0.6\" "
            "linSideSlope=\"1.1\" linSideOffset=\"0.01\" linSideBreak=\"0.05\"/></Log>\n<Exponent " + f32 + " style=\"moncurveFwd\">"
            "<ExponentParams exponent=\"2.4\" offset=\"0.055\"/></Exponent>\n<Range " + f32 + "><minInValue>0.05</minInValue>"
            "<maxInValue>0.9</maxInValue><minOutValue>0.1</minOutValue><maxOutValue>0.95</maxOutValue></Range>\n<Log " + f32
            + " style=\"antiLog2\"/>\n<Log " + f32 + " style=\"log10\"/>\n<Range inBitDepth=\"32f\" outBitDepth=\"10i\"><minInValue>"
            "0.1</minInValue><minOutValue>102.3</minOutValue></Range>\n<LUT1D inBitDepth=\"10i\" outBitDepth=\"32f\"><Array "
            "dim=\"5 3\">0 0.02 0.01 0.3 0.25 0.2 0.55 0.5 0.6 0.8 0.7 0.8 0.95 1 0.9</Array></LUT1D>\n<ASC_CDL " + f32
            + " style=\"FwdNoClamp\"><SOPNode><Slope>1.2 0.9 1.1</Slope><Offset>-0.05 0.02 0.1</Offset><Power>1.3 0.8 1.0"
            "</Power></SOPNode><SatNode><Saturation>1.2</Saturation></SatNode></ASC_CDL>\n", ctf2) << QByteArray() << 1e-5;
        QTest::newRow("LUT3D, behind a forward Matrix") << processList(
            "<LUT3D " + f32 + ">" + invertibleCubeArray(9) + "</LUT3D>\n", ctf2) << matrix << 1e-4;
        QTest::newRow("LUT1D over the half floats, behind a forward Matrix") << processList(
            "<LUT1D " + f32 + " halfDomain=\"true\">" + halfDomainArray() + "</LUT1D>\n", ctf2) << matrix << 1e-5;
        QTest::newRow("InverseLUT3D and InverseLUT1D back to tables") << processList(
            "<InverseLUT1D " + f32 + "><Array dim=\"4 3\">0.01 0.05 0 0.21 0.33 0.41 0.67 0.59 0.53 1 0.93 0.97</Array>"
            "</InverseLUT1D>\n<InverseLUT3D " + f32 + ">" + invertibleCubeArray(5) + "</InverseLUT3D>\n", ctf2) << QByteArray() << 1e-5;
        QTest::newRow("CDL, ExposureContrast, FixedFunction, grading nodes, a nested inverted Reference") << processList(
            "<ASC_CDL " + f32 + " style=\"Fwd\"><SOPNode><Slope>1.1 0.9 1</Slope><Offset>0.01 0 -0.02</Offset><Power>1.1 1 0.9"
            "</Power></SOPNode></ASC_CDL>\n<ExposureContrast " + f32 + " style=\"video\"><ECParams exposure=\"0.2\" contrast=\"1.1\" pivot=\"0.3\"/>"
            "</ExposureContrast>\n<FixedFunction " + f32 + " style=\"Rec2100SurroundFwd\" params=\"0.9\"/>\n<GradingPrimary " + f32 + " style=\"video\">"
            "<Lift rgb=\"0.01 0.02 -0.01\" master=\"0\"/><Gain rgb=\"1.1 0.9 1\" master=\"1\"/><Saturation master=\"1.1\"/>"
            "</GradingPrimary>\n<GradingRGBCurve " + f32 + " style=\"log\"><Red><ControlPoints>0 0 0.3 0.4 0.7 0.6 1 1"
            "</ControlPoints></Red></GradingRGBCurve>\n<GradingTone " + f32 + " style=\"logRev\"><Midtones rgb=\"1.1 0.9 1\" "
            "master=\"1\" center=\"0.4\" width=\"0.6\"/></GradingTone>\n<Reference " + f32 + " path=\"nested.ctf\" "
            "inverted=\"true\"/>\n", ctf2) << QByteArray() << 1e-5;
    }
    void invertedReferencesEvaluateAsPeer()
    {
        if (!m_peer)
            QSKIP("ociobakelut (opencolorio-tools) is not installed");
        QFETCH(QByteArray, inner);
        QFETCH(QByteArray, reference);
        QFETCH(double, tolerance);
        const QByteArray ctf2 = "version=\"2\"";
        // The nested list: a Matrix then a Log, which its inverted Reference makes the Log's inverse first.
        file("nested.ctf", processList("<Matrix " + f32 + "><Array dim=\"3 4\">1.5 0 0 0.1 0 1.2 0.1 0.05 0 0 1.4 0.2</Array>"
                                       "</Matrix>\n<Log " + f32 + " style=\"log2\"/>\n", ctf2));
        file("inner.ctf", inner);
        const QString outer = file("inverted.ctf", processList(reference + "<Reference " + f32 + " path=\"inner.ctf\" "
                                                               "inverted=\"true\"/>\n" + reference, ctf2));
        Read_LUTFile lut;
        QVERIFY2(readList(lut, outer), qPrintable(lut.errorString));
        const QString here = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        const QString f = compareWithPeer(lut, outer, 17, path("inverted.cube"), tolerance);
        QDir::setCurrent(here);
        QVERIFY2(f.isEmpty(), qPrintable(f));
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
            {"unknown node", processList("<Warp " + f32 + " style=\"RGB_TO_HSV\"/>"), "line 3: cannot evaluate a <Warp> node"},
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
            {"matrix dim", processList("<Matrix " + f32 + "><Array dim=\"4 4 3\">1</Array></Matrix>"),
             "\"4 4\" or \"4 5\", not \"4 4 3\""},
            {"channel", processList("<Exponent " + f32 + " style=\"basicFwd\"><ExponentParams "
                                    "channel=\"A\" exponent=\"2\"/></Exponent>"), "channel is not R, G or B"},
            {"hue", processList(QByteArray(lut3D).replace("LUT3D", "LUT1D").replace("2 2 2 3", "8 3").replace("<LUT1D ",
                                "<LUT1D hueAdjust=\"dw4\" "), "version=\"2\""), "hueAdjust=\"dw4\" is not evaluated", "bad.ctf"},
            {"hue in CLF", processList(QByteArray(lut3D).replace("LUT3D", "LUT1D").replace("2 2 2 3", "8 3").replace("<LUT1D ",
                                "<LUT1D hueAdjust=\"dw3\" ")), "hueAdjust= belongs to the transform format"},
            {"film Log mixed", processList("<Log " + f32 + " style=\"linToLog\"><LogParams gamma=\"0.6\" refWhite=\"685\" "
                                           "refBlack=\"95\" highlight=\"1\" shadow=\"0\" base=\"10\"/></Log>", "version=\"2\""),
             "mix film-style parameters", "bad.ctf"},
            {"film Log values", processList("<Log " + f32 + " style=\"logToLin\"><LogParams gamma=\"0.6\" refWhite=\"85\" "
                                            "refBlack=\"95\" highlight=\"1\" shadow=\"0\"/></Log>", "version=\"1.3\""),
             "refWhite above refBlack", "bad.ctf"},
            {"alpha before 1.5", processList("<Gamma " + f32 + " style=\"basicFwd\"><GammaParams gamma=\"2\"/><GammaParams "
                                             "channel=\"A\" gamma=\"2\"/></Gamma>", "version=\"1.3\""),
             "channel is not R, G or B", "bad.ctf"},
            {"EC params", processList("<ExposureContrast " + f32 + " style=\"video\"><ECParams exposure=\"1\" "
                                      "contrast=\"1\"/></ExposureContrast>", "version=\"2\""),
             "line 3: ECParams need exposure, contrast and pivot", "bad.ctf"},
            {"EC style", processList("<ExposureContrast " + f32 + " style=\"lin\"><ECParams exposure=\"1\" contrast=\"1\" "
                                     "pivot=\"1\"/></ExposureContrast>", "version=\"2\""),
             "ExposureContrast style=\"lin\" is not evaluated", "bad.ctf"},
            {"FixedFunction params", processList("<FixedFunction " + f32 + " style=\"RGB_TO_HSV\" params=\"1\"/>", "version=\"2\""),
             "line 3: <FixedFunction> style=\"RGB_TO_HSV\" takes 0 parameters, not 1", "bad.ctf"},
            {"ACES params", processList("<ACES " + f32 + " style=\"Surround\"/>", "version=\"1.7\""),
             "<ACES> style=\"Surround\" takes 1 parameters, not 0", "bad.ctf"},
            {"surround gamma", processList("<FixedFunction " + f32 + " style=\"Rec2100SurroundFwd\" params=\"200\"/>",
                                           "version=\"2\""), "outside 0.01..100", "bad.ctf"},
            {"FixedFunction before 2", processList("<FixedFunction " + f32 + " style=\"RGB_TO_HSV\"/>", "version=\"1.7\""),
             "a <FixedFunction> node needs version 2.0 or later", "bad.ctf"},
            {"gamut compression", processList("<FixedFunction " + f32 + " style=\"GamutComp13Fwd\" params=\"1 1.2 1.3 0.8 "
                                              "0.8 0.8 1.2\"/>", "version=\"2\""), "limits in 1.001..65504", "bad.ctf"},
            {"inverse in CLF", processList(QByteArray(lut3D).replace("LUT3D", "InverseLUT3D")),
             "line 3: a <InverseLUT3D> node belongs to the transform format, not to CLF"},
            {"inverse cube size", processList(QByteArray(lut3D).replace("LUT3D", "InverseLUT3D").replace("2 2 2 3", "130 130 130 3"),
                                              "version=\"2\""), "line 3: an InverseLUT3D of 130 points per axis is above the 129",
             "bad.ctf"},
            {"interpolation", processList(QByteArray(lut3D).replace("<LUT3D ", "<LUT3D interpolation=\"cubic\" ")),
             "interpolation=\"cubic\" is not evaluated"},
            {"moncurve", processList("<Exponent " + f32 + " style=\"moncurveFwd\"><ExponentParams exponent=\"2.2\"/></Exponent>"),
             "needs exponent and offset"},
            {"GradingPrimary gamma", processList("<GradingPrimary " + f32 + " style=\"video\"><Gamma rgb=\"1 1 1\" "
                                                 "master=\"0.001\"/></GradingPrimary>", "version=\"2\""),
             "line 3: a GradingPrimary gamma below 0.01", "bad.ctf"},
            {"GradingPrimary rgb", processList("<GradingPrimary " + f32 + " style=\"log\">\n<Lift rgb=\"1 1\" master=\"0\"/>"
                                               "</GradingPrimary>", "version=\"2\""),
             "line 4: <Lift> rgb=\"1 1\" is not 3 finite numbers", "bad.ctf"},
            {"GradingPrimary attribute", processList("<GradingPrimary " + f32 + " style=\"log\"><Clamp black=\"0\" "
                                                     "grey=\"1\"/></GradingPrimary>", "version=\"2\""),
             "<Clamp> has no attribute grey=", "bad.ctf"},
            {"GradingPrimary pivots", processList("<GradingPrimary " + f32 + " style=\"logRev\"><Pivot black=\"0.5\"/>"
                                                  "<Pivot white=\"0.5\"/></GradingPrimary>", "version=\"2\""),
             "black pivot 0.01 or more below its white pivot", "bad.ctf"},
            {"GradingPrimary before 2", processList("<GradingPrimary " + f32 + " style=\"log\"/>", "version=\"1.7\""),
             "line 3: a <GradingPrimary> node needs version 2.0 or later", "bad.ctf"},
            {"curve pairs", processList("<GradingRGBCurve " + f32 + " style=\"log\"><Red>\n<ControlPoints>0 0 1</ControlPoints></Red></GradingRGBCurve>",
                                        "version=\"2\""), "line 4: Red ControlPoints hold 3 numbers, not pairs", "bad.ctf"},
            {"curve x", processList("<GradingRGBCurve " + f32 + " style=\"log\"><Blue><ControlPoints>0 0 0.5 0.2 0.5 0.4 1 1</ControlPoints></Blue>"
                                    "</GradingRGBCurve>", "version=\"2\""), "Blue ControlPoints: x 0.5 does not rise from 0.5",
             "bad.ctf"},
            {"curve slopes", processList("<GradingRGBCurve " + f32 + " style=\"log\"><Red><ControlPoints>0 0 1 1</ControlPoints><Slopes>1 1 1</Slopes>"
                                         "</Red></GradingRGBCurve>", "version=\"2\""), "Red Slopes hold 3 numbers, one a "
             "control point (2)", "bad.ctf"},
            {"curve knots", processList("<GradingRGBCurve " + f32 + " style=\"log\"><Master><ControlPoints>" + [] {
                QByteArray points;
                for (int i = 0; i <= 30; ++i)
                    points += QByteArray::number(i / 30.0) + ' ' + QByteArray::number(std::pow(i / 30.0, 1.5)) + ' ';
                return points;
            }() + "</ControlPoints></Master></GradingRGBCurve>", "version=\"2\""), "curves need 61 knots, more than 60", "bad.ctf"},
            {"curve bypass", processList("<GradingRGBCurve " + f32 + " style=\"linear\" bypassLinToLog=\"yes\"/>", "version=\"2\""),
             "bypassLinToLog=\"yes\" is not \"true\"", "bad.ctf"},
            {"tone zone", processList("<GradingTone " + f32 + " style=\"log\"><Shadows rgb=\"1 1 1\" master=\"1.85\" "
                                      "start=\"0.5\" pivot=\"0\"/></GradingTone>", "version=\"2\""),
             "line 3: GradingTone shadows outside 0.2..1.8", "bad.ctf"},
            {"tone pivot", processList("<GradingTone " + f32 + " style=\"video\"><Highlights rgb=\"1 1 1\" master=\"1\" "
                                       "start=\"0.995\" pivot=\"1\"/></GradingTone>", "version=\"2\""),
             "highlights start less than 0.01 below their pivot", "bad.ctf"},
            {"tone attribute", processList("<GradingTone " + f32 + " style=\"log\">\n<Midtones rgb=\"1 1 1\" master=\"1\" "
                                           "start=\"0.4\" width=\"0.6\"/></GradingTone>", "version=\"2\""),
             "line 4: <Midtones> has no attribute start=", "bad.ctf"},
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
             "line 3: film-style LogParams needed for every channel"},
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
