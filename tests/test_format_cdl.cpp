// The ASC CDL files (.cc, .ccc, .cdl): grades read and baked against OpenColorIO (its reading of the file
// where no clamp acts, and its v1.2 ASC_CDL arithmetic with the clamps), --cccid picking and refusing, the
// lattices a grade is baked on, the .cc writer's round trip and refusal, and bad input.

#include "TestSupport.h"
#include "calc/LutCalc.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"
#include <QTemporaryDir>
#include <QtTest>
#include <charconv>
#include <cmath>

namespace {

struct Grade
{
    double slope[3], offset[3], power[3], sat;
};

// The largest difference between our bake of lut at 17 points and a peer's cube of 17 points (red fastest);
// -1 when the peer's cube is not there.
double peerDifference(const Read_LUTFile &lut, const QString &peerCube)
{
    const TestSupport::CubeText peer = TestSupport::parseCubeText(peerCube);
    Read_LUTFile ours;
    const int n = 17;
    if (peer.size != n || peer.values.size() != size_t(3 * n * n * n) || !ours.setSize3D(n, false)
        || !LutCalc::bakeCube(&lut, &ours))
        return -1;
    double worst = 0;
    for (size_t k = 0; k < peer.values.size(); ++k) {
        const size_t line = k / 3;
        worst = std::max(worst, std::fabs(ours.table3D[int(line % n)][int(line / n % n)][int(line / n / n)][k % 3]
                                          - double(peer.values[k])));
    }
    return worst;
}

bool peerBake(const QStringList &lutArguments, const QString &out, QString *error)
{
    QFile::remove(out);
    const TestSupport::ProcessResult r = TestSupport::runProcess(
        "ociobakelut", lutArguments + QStringList{"--format", "iridas_cube", "--cubesize", "17", out});
    *error = QString::fromLocal8Bit(r.err);
    return r.exitCode == 0;
}

// The fewest digits that read back as v.
QByteArray number(double v)
{
    char buffer[32];
    return QByteArray(buffer, int(std::to_chars(buffer, buffer + sizeof buffer, v).ptr - buffer));
}

QByteArray triple(const double v[3])
{
    return number(v[0]) + ' ' + number(v[1]) + ' ' + number(v[2]);
}

// A ColorCorrection element of a grade; sat < 0 leaves out the SatNode, oldSat names it SATNode.
QByteArray correction(const char *id, const Grade &g, bool oldSat = false)
{
    const QByteArray attribute = id ? " id=\"" + QString::fromUtf8(id).toHtmlEscaped().toUtf8() + "\"" : QByteArray();
    QByteArray text = "<ColorCorrection" + attribute + ">\n"
        + "  <SOPNode>\n    <Description>a grade</Description>\n    <Slope>" + triple(g.slope) + "</Slope>\n    <Offset>"
        + triple(g.offset) + "</Offset>\n    <Power>" + triple(g.power) + "</Power>\n  </SOPNode>\n";
    if (g.sat >= 0) {
        const QByteArray node = oldSat ? "SATNode" : "SatNode";
        text += "  <" + node + "><Saturation>" + number(g.sat) + "</Saturation></" + node + ">\n";
    }
    return text + "</ColorCorrection>\n";
}

// The same grade as a process list's ASC_CDL node of the clamping style, as the peer evaluates ASC CDL v1.2.
QByteArray clampingList(const Grade &g)
{
    return "<?xml version=\"1.0\"?>\n<ProcessList id=\"g\" compCLFversion=\"3\">\n<ASC_CDL inBitDepth=\"32f\" "
           "outBitDepth=\"32f\" style=\"Fwd\"><SOPNode><Slope>" + triple(g.slope) + "</Slope><Offset>" + triple(g.offset)
        + "</Offset><Power>" + triple(g.power) + "</Power></SOPNode><SatNode><Saturation>"
        + number(g.sat < 0 ? 1.0 : g.sat) + "</Saturation></SatNode></ASC_CDL>\n</ProcessList>\n";
}

const QByteArray kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// The ASC's example grade, which clamps; grades that keep 0..1 within 0..1 (offset >= 0, slope + offset <= 1,
// saturation <= 1), where no clamp acts.
const Grade kAsc = {{1.2, 1.3, 1.4}, {0.3, 0.0, 0.0}, {1.0, 1.0, 1.0}, 1.2};
const Grade kSoft = {{0.9, 0.8, 0.85}, {0.02, 0.05, 0.0}, {1.1, 0.9, 1.2}, 0.9};
const Grade kCool = {{0.8, 0.9, 0.7}, {0.1, 0.05, 0.2}, {0.9, 1.3, 1.1}, 0.6};
const Grade kNoSat = {{0.95, 0.85, 0.75}, {0.0, 0.1, 0.2}, {1.4, 0.7, 1.0}, -1};
const Grade kContrast = {{1.6, 1.4, 1.5}, {-0.2, -0.15, -0.1}, {0.8, 1.2, 2.0}, 0.0};

QByteArray collection(const QByteArray &body)
{
    return kDeclaration + "<ColorCorrectionCollection xmlns=\"urn:ASC:CDL:v1.2\">\n<Description>shots</Description>\n"
        + body + "</ColorCorrectionCollection>\n";
}

QByteArray decisionList(const QByteArray &body)
{
    return kDeclaration + "<ColorDecisionList xmlns=\"urn:ASC:CDL:v1.2\">\n" + body + "</ColorDecisionList>\n";
}

const QByteArray kTwoShots = collection(correction("cc03340", kAsc) + correction("second", kCool, true));

} // namespace

class TestFormatCdl : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString file(const QString &name, const QByteArray &text) const { return TestSupport::writeFile(path(name), text); }

    static bool read(Read_LUTFile &lut, const QString &file, const QString &cccid = QString())
    {
        LutFileOptions options{file, LutFormats::forInput(file)->id};
        options.bake = true;
        options.cccid = cccid;
        return lut.readLut(options, false);
    }

private slots:
    // Each file kind and way of picking a grade, against the peer's reading of the same numbers with the clamps
    // and, where no clamp acts, its reading of the file itself.
    void gradesAsThePeer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("cccid");     // ours; empty: the first
        QTest::addColumn<QString>("peerCccid"); // the same correction for the peer, which has no default
        QTest::addColumn<int>("which");         // the grade picked: 0 asc, 1 soft, 2 cool, 3 no sat, 4 contrast
        QTest::addColumn<QString>("id");
        QTest::newRow("the ASC's example, .cc") << "asc.cc" << kDeclaration + correction("cc03340", kAsc) << "" << "" << 0
                                                << "cc03340";
        QTest::newRow(".cc without SatNode or id") << "nosat.cc" << correction(nullptr, kNoSat) << "" << "" << 3 << "";
        QTest::newRow(".cc, no clamp acts") << "soft.cc" << correction("soft", kSoft) << "" << "" << 1 << "soft";
        QTest::newRow(".cc, contrast to no saturation") << "contrast.cc" << correction("c", kContrast) << "" << "" << 4
                                                        << "c";
        QTest::newRow(".ccc, the first by default") << "shots.ccc" << kTwoShots << "" << "0" << 0 << "cc03340";
        QTest::newRow(".ccc by id, SATNode") << "shots.ccc" << kTwoShots << "second" << "second" << 2 << "second";
        QTest::newRow(".ccc by position") << "shots.ccc" << kTwoShots << "1" << "1" << 2 << "second";
        const QByteArray list = decisionList("<ColorDecision><MediaRef ref=\"a.dpx\"/>\n" + correction("d1", kSoft)
                                             + "</ColorDecision>\n<ColorDecision>" + correction("d2", kNoSat)
                                             + "</ColorDecision>\n");
        QTest::newRow(".cdl, the first") << "list.cdl" << list << "" << "0" << 1 << "d1";
        QTest::newRow(".cdl by id") << "list.cdl" << list << "d2" << "d2" << 3 << "d2";
    }
    void gradesAsThePeer()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(QString, cccid);
        QFETCH(QString, peerCccid);
        QFETCH(int, which);
        QFETCH(QString, id);
        const Grade &grade = *std::vector<const Grade *>{&kAsc, &kSoft, &kCool, &kNoSat, &kContrast}[size_t(which)];
        const QString input = file(name, text);
        Read_LUTFile lut;
        QVERIFY2(read(lut, input, cccid), qPrintable(lut.errorString));
        QVERIFY(lut.meaning.evaluate && lut.meaning.cdl && lut.size3D == 0 && lut.size1D == 0);
        const LutCdl &cdl = *lut.meaning.cdl;
        QCOMPARE(cdl.id, id);
        for (int c = 0; c < 3; ++c)
            QVERIFY(cdl.slope[c] == grade.slope[c] && cdl.offset[c] == grade.offset[c] && cdl.power[c] == grade.power[c]);
        QCOMPARE(cdl.saturation, grade.sat < 0 ? 1.0 : grade.sat);
        if (!TestSupport::haveOcio())
            QSKIP("ociobakelut (opencolorio-tools) is not installed");
        QString error;
        QVERIFY2(peerBake({"--lut", file("clamping.clf", clampingList(grade))}, path("clamping.cube"), &error),
                 qPrintable(error));
        const double clamping = peerDifference(lut, path("clamping.cube"));
        QVERIFY2(clamping >= 0 && clamping <= 1e-5, qPrintable(QStringLiteral("v1.2 with clamps: %1").arg(clamping)));
        // The peer reads CDL files without the clamps, so it is compared where none acts.
        const bool clampFree = which == 1 || which == 2 || which == 3;
        qInfo("%s: %.2g from the peer's v1.2 arithmetic", qPrintable(name), clamping);
        if (!clampFree)
            return;
        const QStringList picked = peerCccid.isEmpty() ? QStringList() : QStringList{"--cccid", peerCccid};
        QVERIFY2(peerBake(picked + QStringList{"--lut", input}, path("file.cube"), &error), qPrintable(error));
        const double fileRead = peerDifference(lut, path("file.cube"));
        QVERIFY2(fileRead >= 0 && fileRead <= 1e-5, qPrintable(QStringLiteral("the file: %1").arg(fileRead)));
        qInfo("%s: %.2g from the peer's reading of the file", qPrintable(name), fileRead);
    }

    // --cccid names a correction by id or position; anything else is refused with the ids there are.
    void cccidRefused()
    {
        const QString shots = file("shots.ccc", kTwoShots);
        for (const QString &cccid : {QStringLiteral("nope"), QStringLiteral("2"), QStringLiteral("-1")}) {
            Read_LUTFile lut;
            QVERIFY(!read(lut, shots, cccid));
            QVERIFY2(lut.errorString.contains("--cccid \"" + cccid + "\" names no ColorCorrection")
                         && lut.errorString.contains("its ids are \"cc03340\", \"second\" (or give a position, 0 to 1)"),
                     qPrintable(lut.errorString));
            QVERIFY(!lut.meaning.evaluate);
        }
        const TestSupport::ProcessResult r = TestSupport::runConvert({"--cccid", "nope", shots, path("x.cube")});
        QVERIFY2(r.exitCode == 1 && r.err.count('\n') == 1
                     && r.err.startsWith("chromaduct-convert: " + shots.toUtf8() + ": --cccid \"nope\""),
                 r.err.constData());
        QVERIFY(!QFile::exists(path("x.cube")));
        // A single correction answers to its own id only; a long collection lists its first twelve ids.
        Read_LUTFile one;
        QVERIFY(!read(one, file("one.cc", correction("only", kSoft)), "other") && one.errorString.contains("\"only\""));
        QByteArray many;
        for (int i = 0; i < 20; ++i)
            many += correction(QByteArray::number(i * 10).prepend("shot").constData(), kSoft);
        Read_LUTFile lut;
        QVERIFY(!read(lut, file("many.ccc", collection(many)), "x"));
        QVERIFY2(lut.errorString.contains("\"shot110\" and 8 more (or give a position, 0 to 19)"),
                 qPrintable(lut.errorString));
    }

    // Without --size a grade with saturation bakes on 33 points per axis; one without keeps its channels apart,
    // so a format of either dimension holds it as a 1D table of 4096 entries.
    void bakeLattices()
    {
        const QString saturated = file("sat.cc", correction("s", kSoft)), plain = file("plain.cc", correction("p", kNoSat));
        struct { QString input, output; int size3D, size1D; } cases[] = {
            {saturated, path("sat.cube"), 33, 0}, {plain, path("plain.cube"), 0, 4096},
            {saturated, path("sat.clf"), 33, 0},  {plain, path("plain.clf"), 0, 4096},
        };
        for (const auto &c : cases) {
            const TestSupport::ProcessResult r = TestSupport::runConvert({c.input, c.output});
            QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
            Read_LUTFile back;
            LutFileOptions options{c.output, LutFormats::forInput(c.output)->id};
            QVERIFY(back.readLut(options, false));
            QCOMPARE(back.size3D, c.size3D);
            QCOMPARE(back.size1D, c.size1D);
        }
    }

    // A grade goes to a .cc file whole: the same doubles, id and description; a table is refused.
    void ccWriter()
    {
        const Grade odd = {{1.0 / 3.0, 0.1, 2.5e-7}, {-0.1, 1e-12, 0.3}, {1.7, 0.25, 3.0}, 0.123456789012345};
        const struct { QString input; QString cccid; const Grade *grade; const char *id; } cases[] = {
            {file("odd.cc", correction("odd & <1>", odd)), QString(), &odd, "odd & <1>"},
            {file("shots.ccc", kTwoShots), "second", &kCool, "second"},
            {file("noid.cdl", decisionList("<ColorDecision>" + correction(nullptr, kNoSat) + "</ColorDecision>")), QString(),
             &kNoSat, "noid"},
        };
        for (const auto &c : cases) {
            QStringList arguments{c.input, path("out.cc")};
            if (!c.cccid.isEmpty())
                arguments << "--cccid" << c.cccid;
            const TestSupport::ProcessResult r = TestSupport::runConvert(arguments);
            QVERIFY2(r.exitCode == 0, r.err.constData());
            Read_LUTFile back;
            QVERIFY2(read(back, path("out.cc")), qPrintable(back.errorString));
            const LutCdl &cdl = *back.meaning.cdl;
            QCOMPARE(cdl.id, QString::fromUtf8(c.id)); // a grade without an id takes its file's name
            for (int k = 0; k < 3; ++k)
                QVERIFY(cdl.slope[k] == c.grade->slope[k] && cdl.offset[k] == c.grade->offset[k]
                        && cdl.power[k] == c.grade->power[k]);
            QCOMPARE(cdl.saturation, c.grade->sat < 0 ? 1.0 : c.grade->sat);
            QCOMPARE(cdl.description, QStringLiteral("a grade"));
        }
        // The peer reads the file written as it reads the one it came from.
        if (TestSupport::haveOcio()) {
            QString error;
            QVERIFY2(TestSupport::runConvert({path("shots.ccc"), path("cool.cc"), "--cccid", "second"}).exitCode == 0
                         && peerBake({"--lut", path("cool.cc")}, path("cool.cube"), &error)
                         && peerBake({"--cccid", "second", "--lut", path("shots.ccc")}, path("shots.cube"), &error),
                     qPrintable(error));
            QCOMPARE(TestSupport::parseCubeText(path("cool.cube")).values, TestSupport::parseCubeText(path("shots.cube")).values);
        }
        // A table is no grade; --to cc writes a .cc file.
        const QString cube = file("t.cube", "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n");
        const TestSupport::ProcessResult refused = TestSupport::runConvert({cube, path("t.cc")});
        QVERIFY2(refused.exitCode == 2 && refused.err.count('\n') == 1
                     && refused.err.contains("holds a table, not a pure ASC CDL"), refused.err.constData());
        QVERIFY(!QFile::exists(path("t.cc")));
        QCOMPARE(TestSupport::runConvert({path("odd.cc"), path("odd.grade"), "--to", "cc"}).exitCode, 0);
        QVERIFY(TestSupport::readFile(path("odd.grade")).contains("<ColorCorrection id=\"odd &amp; &lt;1&gt;\">"));
    }

    // Each kind of file is told by its root element, after a declaration and comments.
    void recognisedByContent()
    {
        const QByteArray heads[] = {kDeclaration + "<!-- a -->\n" + correction("a", kSoft), kTwoShots,
                                    decisionList("<ColorDecision/>"), "<ProcessList>", "<ColorCorrectionX/>"};
        const LutFormatId kinds[] = {LutFormatId::CdlCc, LutFormatId::CdlCcc, LutFormatId::CdlList};
        for (int h = 0; h < 5; ++h)
            for (int k = 0; k < 3; ++k)
                QVERIFY2(LutFormats::row(kinds[k]).recognise(heads[h]) == (h == k), qPrintable(QString("%1 %2").arg(h).arg(k)));
    }

    // Bad files fail with a reason (the line where there is one) and leave no transform.
    void badInputFails()
    {
        const QByteArray asc = correction("a", kAsc);
        QByteArray bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE ColorCorrection [\n<!ENTITY a \"aaaaaaaa\">\n]>\n";
        bomb += "<ColorCorrection id=\"&a;\"/>\n";
        const struct { const char *name; QByteArray text; const char *reason; } cases[] = {
            {"empty", "", "Premature end of document"},
            {"not XML", "LUT_3D_SIZE 2\n", "line 1: Start tag expected"},
            {"truncated", asc.left(asc.size() / 2), "Premature end of document"},
            {"wrong root", "<ProcessList/>", "the root element is <ProcessList>, not <ColorCorrection>"},
            {"no correction", collection("<Description>none</Description>"), "line 2: the file holds no ColorCorrection"},
            {"a reference only", decisionList("<ColorDecision><ColorCorrectionRef ref=\"a\"/></ColorDecision>"),
             "a ColorCorrectionRef is not followed"},
            {"no power", QByteArray(asc).replace(QByteArray("<Power>1 1 1</Power>"), ""), "line 2: a <SOPNode> needs <Slope>, <Offset> and <Power>"},
            {"two numbers", QByteArray(asc).replace("<Slope>1.2 1.3 1.4", "<Slope>1.2 1.3"), "line 4: <Slope> holds 2 numbers, not 3"},
            {"four numbers", QByteArray(asc).replace("<Slope>1.2 ", "<Slope>1.2 1 "), "<Slope> holds 4 numbers, not 3"},
            {"not a number", QByteArray(asc).replace("<Slope>1.2 ", "<Slope>1.2x "), "<Slope>: \"1.2x\" is not a number"},
            {"comma", QByteArray(asc).replace("<Slope>1.2 ", "<Slope>1,2 "), "<Slope>: \"1,2\" is not a number"},
            {"negative slope", QByteArray(asc).replace("<Slope>1.2 ", "<Slope>-1.2 "), "the red slope -1.2 is below 0"},
            {"power 0", QByteArray(asc).replace("<Power>1 1 ", "<Power>1 0 "), "line 1: ColorCorrection \"a\": the green power 0"},
            {"not finite", QByteArray(asc).replace("<Offset>0.3 ", "<Offset>nan "), "must be finite numbers"},
            {"saturation", QByteArray(asc).replace("<Saturation>1.2", "<Saturation>-0.5"), "the saturation -0.5 is not"},
            {"no saturation", QByteArray(asc).replace("<Saturation>1.2</Saturation>", ""), "a <SatNode> needs <Saturation>"},
            {"two SOPNodes", QByteArray(asc).replace("</SOPNode>", "</SOPNode><SOPNode/>"), "a second <SOPNode>"},
            {"element in a number", QByteArray(asc).replace("<Slope>1.2", "<Slope><b/>1.2"), "<b> inside <Slope>"},
            {"entities", bomb, "a document type declaration is not accepted"},
            {"text after the root", asc + "<ColorCorrection/>", "Extra content at end of document"},
        };
        for (const auto &c : cases) {
            Read_LUTFile lut;
            QVERIFY2(!read(lut, file("bad.cc", c.text)), c.name);
            QVERIFY2(lut.errorString.contains(c.reason), qPrintable(QString(c.name) + ": " + lut.errorString));
            QVERIFY2(!lut.meaning.evaluate && !lut.meaning.cdl, c.name);
        }
        // Nesting as deep as the file likes around the corrections, without recursion; a file past 16 MiB is refused.
        const QByteArray deep = QByteArray("<x>").repeated(100000) + QByteArray("</x>").repeated(100000);
        Read_LUTFile lut;
        QVERIFY2(read(lut, file("deep.ccc", collection(deep + correction("a", kSoft)))), qPrintable(lut.errorString));
        QVERIFY(!read(lut, file("big.ccc", collection(QByteArray(17 << 20, ' ') + asc)))
                && lut.errorString.contains("more than the 16 MiB a CDL file is read up to"));
    }
};

QTEST_GUILESS_MAIN(TestFormatCdl)
#include "test_format_cdl.moc"
