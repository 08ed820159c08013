// The csp reader: its strict first lines, the metadata block, the pre-LUT
// whose output values become the domain, the size line and the table; and
// what it reads from real files compared with OpenColorIO.

#include "TestSupport.h"

#include "lut/Read_LUTFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// A literal with embedded NULs, without its terminating one.
template <int N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

constexpr int kCsp = 9;

// With the default order (data RGB, table BGR) red varies fastest in the
// cube, and a 1D entry is stored with its channels reversed; both flags set
// keeps a 1D entry in file order.
bool readCspFile(Read_LUTFile &lut, const QString &path, bool defaultOrder = true)
{
    LutFileOptions options;
    options.path = path;
    options.format = kCsp;
    options.defaultOrder = defaultOrder;
    return lut.readLut(options, false);
}

const char kHeader3D[] = "CSPLUTV100\n3D\n\nBEGIN METADATA\nsome text\nEND METADATA\n\n";

// A pre-LUT whose output values run from 0 to the given maxima.
QByteArray preLut(float maxR, float maxG, float maxB)
{
    QByteArray text;
    for (float top : {maxR, maxG, maxB})
        text += "3\n0.0 0.5 1.0\n0.0 " + QByteArray::number(top / 2) + ' ' + QByteArray::number(top) + "\n";
    return text + '\n';
}

// Data of an n-point cube, red fastest: entry (r, g, b) is f(r, g, b).
template <typename F>
QByteArray cubeData(int n, F f)
{
    QByteArray text;
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const auto v = f(r, g, b);
                text += QByteArray::number(v[0]) + ' ' + QByteArray::number(v[1]) + ' ' + QByteArray::number(v[2])
                    + '\n';
            }
        }
    }
    return text;
}

struct CspLayout {
    bool is3D = false;
    bool sizesEqual = true;
    int size = 0;
    bool identityShaper[3] = {false, false, false}; // input values equal output values, running 0..1
    float domainMin[3] = {0, 0, 0};
    float domainMax[3] = {0, 0, 0};
};

// Reads what a comparison needs from a csp file laid out the usual way.
CspLayout layoutOf(const QString &path)
{
    CspLayout layout;
    const QList<QByteArray> lines = TestSupport::readFile(path).split('\n');
    layout.is3D = lines.value(1).trimmed() == "3D";
    int i = 0;
    while (i < lines.size() && lines[i].trimmed() != "END METADATA")
        ++i;
    QList<QList<QByteArray>> valueLines;
    for (++i; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        if (lines[i].trimmed().isEmpty())
            continue;
        if (valueLines.size() == 6) {
            if (fields.size() == (layout.is3D ? 3 : 1)) {
                layout.size = fields[0].toInt();
                layout.sizesEqual = fields.size() == 1 || (fields[0] == fields[1] && fields[1] == fields[2]);
                break;
            }
            continue;
        }
        if (fields.size() >= 2)
            valueLines.append(fields);
    }
    for (int c = 0; c < 3 && valueLines.size() == 6; ++c) {
        const QList<QByteArray> &in = valueLines[2 * c];
        const QList<QByteArray> &out = valueLines[2 * c + 1];
        layout.domainMin[c] = out.first().toFloat();
        layout.domainMax[c] = out.last().toFloat();
        bool same = in.size() == out.size();
        for (int k = 0; same && k < in.size(); ++k)
            same = in[k].toFloat() == out[k].toFloat();
        layout.identityShaper[c] = same && layout.domainMin[c] == 0.0f && layout.domainMax[c] == 1.0f;
    }
    return layout;
}

float clamp01(float v)
{
    return std::min(1.0f, std::max(0.0f, v));
}

// Compares an n-point cube read by this project with OCIO's cube file
// (red fastest), OCIO's values clamped as the reader clamps them.
int cubeMismatches(const Read_LUTFile &lut, const TestSupport::CubeText &ocio, int n, QString *first)
{
    int bad = 0;
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const size_t line = size_t((b * n + g) * n + r);
                for (int k = 0; k < 3; ++k) {
                    const float want = clamp01(ocio.values[3 * line + k]);
                    const float got = lut.table3D[r][g][b][k];
                    if (std::fabs(got - want) > 2e-5f) {
                        if (bad++ == 0)
                            *first = QStringLiteral("[%1][%2][%3][%4]: %5, OCIO %6")
                                         .arg(r).arg(g).arg(b).arg(k).arg(got).arg(want);
                    }
                }
            }
        }
    }
    return bad;
}

} // namespace

class TestFormatCsp : public QObject
{
    Q_OBJECT

private slots:
    void readsCubeAgainstPreLutDomain();
    void dataLinesAreTakenLikeScanf();
    void reads1DTable();
    void onlyTheLastEntryMayBeMissing();
    void refusesMalformedFiles_data();
    void refusesMalformedFiles();
    void readsOcioBakedCsp_data();
    void readsOcioBakedCsp();
    void readsCorpusLikeOcio();

private:
    QTemporaryDir m_dir;
};

// Green's pre-LUT output runs to 0.5: its values are clamped to 0..0.5 and
// divided by 0.5, and the 3D domain keeps 0..0.5 on that axis.
void TestFormatCsp::readsCubeAgainstPreLutDomain()
{
    const int n = 3;
    const auto f = [](int r, int g, int b) {
        return std::array<float, 3>{{r * 0.6f - 0.1f, g * 0.3f, b * 0.25f}};
    };
    const QString path = TestSupport::writeFile(m_dir.filePath(QStringLiteral("a.csp")),
                                                kHeader3D + preLut(1.0f, 0.5f, 1.0f) + "3 3 3\n" + cubeData(n, f));
    Read_LUTFile lut;
    QVERIFY2(readCspFile(lut, path), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, n);
    QCOMPARE(lut.domainMax3D[0], 1.0f);
    QCOMPARE(lut.domainMax3D[1], 0.5f);
    QCOMPARE(lut.domainMin3D[1], 0.0f);
    for (int r = 0; r < n; ++r) {
        for (int g = 0; g < n; ++g) {
            for (int b = 0; b < n; ++b) {
                const auto v = f(r, g, b);
                const float *e = lut.table3D[r][g][b];
                QCOMPARE(e[0], clamp01(v[0]));
                QCOMPARE(e[1], std::min(v[1], 0.5f) / 0.5f);
                QCOMPARE(e[2], v[2]);
            }
        }
    }
}

// Text after the numbers is ignored, a line beginning with text is
// skipped, and channels a line does not give keep the previous values.
void TestFormatCsp::dataLinesAreTakenLikeScanf()
{
    const QByteArray data = "0.1 0.2 0.3 0.9\n"
                            "a comment line 0.5 0.5 0.5\n"
                            "\n"
                            "0.4 x 0.6\n"
                            "0.7 0.8 0.9 trailing text\n"
                            "0.15 0.25\n"
                            "0 0 0\n0 0 0\n0 0 0\n"
                            "1 1 1\n";
    const QString path = TestSupport::writeFile(m_dir.filePath(QStringLiteral("b.csp")),
                                                kHeader3D + preLut(1, 1, 1) + "\n2 2 2\n" + data);
    Read_LUTFile lut;
    QVERIFY2(readCspFile(lut, path), qPrintable(lut.errorString));
    QCOMPARE(lut.table3D[0][0][0][2], 0.3f);
    QCOMPARE(lut.table3D[1][0][0][0], 0.4f);
    QCOMPARE(lut.table3D[1][0][0][1], 0.2f); // kept from the line before
    QCOMPARE(lut.table3D[1][0][0][2], 0.3f);
    QCOMPARE(lut.table3D[0][1][0][2], 0.9f);
    QCOMPARE(lut.table3D[1][1][0][2], 0.9f);
    QCOMPARE(lut.table3D[1][1][0][0], 0.15f);
    QCOMPARE(lut.table3D[1][1][1][1], 1.0f);
}

void TestFormatCsp::reads1DTable()
{
    QByteArray text = "CSPLUTV100\n1D\nBEGIN METADATA\nEND METADATA\n"
                      "2\n0 1\n0 2\n2\n0 1\n0 1\n2\n0 1\n-1 1\n\n1024\n";
    for (int i = 0; i < 1024; ++i) {
        const float x = float(i) / 1023;
        text += QByteArray::number(2 * x) + ' ' + QByteArray::number(1.5 * x) + ' ' + QByteArray::number(x) + '\n';
    }
    const QString path = TestSupport::writeFile(m_dir.filePath(QStringLiteral("c.csp")), text);
    Read_LUTFile lut;
    QVERIFY2(readCspFile(lut, path, false), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, 0);
    QCOMPARE(lut.size1D, 1024);
    QCOMPARE(lut.table1D[1023][0], 1.0f); // 2 of 0..2
    QCOMPARE(lut.table1D[1023][1], 1.0f); // 1.5 clamped to 0..1
    QCOMPARE(lut.table1D[1023][2], 0.5f); // 1 of -1..1: the width is 2
    QVERIFY(std::fabs(lut.table1D[512][0] - 512.0f / 1023) < 1e-5f);
    for (int c = 0; c < 3; ++c)
        QCOMPARE(lut.domainMax1D[c], 1.0f);
    QCOMPARE(lut.domainMin1D[2], -1.0f);

    Read_LUTFile reversed;
    QVERIFY(readCspFile(reversed, path, true));
    QCOMPARE(reversed.table1D[1023][0], 0.5f);
    QCOMPARE(reversed.table1D[1023][2], 1.0f);
}

void TestFormatCsp::onlyTheLastEntryMayBeMissing()
{
    const QByteArray head = kHeader3D + preLut(1, 1, 1) + "2 2 2\n";
    const QByteArray seven = "0.5 0.5 0.5\n0.5 0.5 0.5\n0.5 0.5 0.5\n0.5 0.5 0.5\n0.5 0.5 0.5\n0.5 0.5 0.5\n0.5 0.5 0.5\n";
    Read_LUTFile one;
    QVERIFY(readCspFile(one, TestSupport::writeFile(m_dir.filePath(QStringLiteral("d.csp")), head + seven)));
    QCOMPARE(one.table3D[1][1][1][0], 0.0f);
    QCOMPARE(one.table3D[0][1][1][0], 0.5f);

    Read_LUTFile two;
    QVERIFY(!readCspFile(two, TestSupport::writeFile(m_dir.filePath(QStringLiteral("e.csp")),
                                                     head + seven.left(seven.size() - 12))));
    QVERIFY(two.errorString.contains(QLatin1String("ends")));
}

void TestFormatCsp::refusesMalformedFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    const QByteArray meta = "BEGIN METADATA\nEND METADATA\n";
    const QByteArray pre = preLut(1, 1, 1);
    const QByteArray entries = cubeData(2, [](int, int, int) { return std::array<float, 3>{{0.5f, 0.5f, 0.5f}}; });
    QTest::newRow("blank before tag") << "\nCSPLUTV100\n3D\n" + meta + pre + "2 2 2\n" + entries;
    QTest::newRow("blank before type") << "CSPLUTV100\n\n3D\n" + meta + pre + "2 2 2\n" + entries;
    QTest::newRow("type 2D") << "CSPLUTV100\n2D\n" + meta + pre + "2 2 2\n" + entries;
    QTest::newRow("no metadata") << "CSPLUTV100\n3D\n" + pre + "2 2 2\n" + entries;
    QTest::newRow("metadata never ends") << "CSPLUTV100\n3D\nBEGIN METADATA\n" + pre + "2 2 2\n" + entries;
    QTest::newRow("unequal sizes") << "CSPLUTV100\n3D\n" + meta + pre + "33 33 17\n" + entries;
    QTest::newRow("size not a number") << "CSPLUTV100\n3D\n" + meta + pre + "a b c\n" + entries;
    QTest::newRow("cube size zero") << "CSPLUTV100\n3D\n" + meta + pre + "0 0 0\n" + entries;
    QTest::newRow("cube size above bound") << "CSPLUTV100\n3D\n" + meta + pre + "2000 2000 2000\n" + entries;
    QTest::newRow("1D size zero") << "CSPLUTV100\n1D\n" + meta + pre + "0\n" + entries;
    QTest::newRow("1D size negative") << "CSPLUTV100\n1D\n" + meta + pre + "-4\n" + entries;
    QTest::newRow("1D size above bound") << "CSPLUTV100\n1D\n" + meta + pre + "2000000000\n" + entries;
    QTest::newRow("truncated pre-LUT") << "CSPLUTV100\n3D\n" + meta + "2\n0 1\n0 1\n2\n0 1\n";
    QTest::newRow("no data") << "CSPLUTV100\n3D\n" + meta + pre + "2 2 2\n";
    QTest::newRow("flat pre-LUT output") << "CSPLUTV100\n3D\n" + meta + preLut(1, 0, 1) + "2 2 2\n" + entries;
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("binary junk") << bytes("CSPLUTV100\n3D\n\x00\xff\xfe\x01\x02\x80\n\x00\x00");
}

void TestFormatCsp::refusesMalformedFiles()
{
    QFETCH(QByteArray, text);
    const QString path = TestSupport::writeFile(m_dir.filePath(QStringLiteral("bad.csp")), text);
    Read_LUTFile lut;
    QVERIFY(!readCspFile(lut, path));
    QVERIFY(!lut.errorString.isEmpty());
}

// Csp files written by OCIO from the corpus cubes read to the same table as
// OCIO's own cube bake of the same source.
void TestFormatCsp::readsOcioBakedCsp_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("cubeSize");
    const QString dir = TestSupport::corpusDir() + QStringLiteral("/colour-science/iridas_cube/");
    for (const char *name : {"Colour_Correct", "RGB_1_0.5_0.25", "Three_Dimensional_Table", "Unit"}) {
        QTest::newRow(name) << dir + QLatin1String(name) + QStringLiteral(".cube") << 9;
    }
    QTest::newRow("Colour_Correct at 2") << dir + QStringLiteral("Colour_Correct.cube") << 2;
}

void TestFormatCsp::readsOcioBakedCsp()
{
    QFETCH(QString, source);
    QFETCH(int, cubeSize);
    if (TestSupport::corpusDir().isEmpty())
        QSKIP("the corpus is not there");
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut is missing");
    const QString csp = m_dir.filePath(QStringLiteral("baked.csp"));
    const QString cube = m_dir.filePath(QStringLiteral("baked.cube"));
    QString error;
    QVERIFY2(TestSupport::ociobake(source, QStringLiteral("cinespace"), cubeSize, csp, &error), qPrintable(error));
    QVERIFY2(TestSupport::ociobake(source, QStringLiteral("iridas_cube"), cubeSize, cube, &error), qPrintable(error));
    const TestSupport::CubeText ocio = TestSupport::parseCubeText(cube);
    QCOMPARE(ocio.size, cubeSize);

    Read_LUTFile lut;
    QVERIFY2(readCspFile(lut, csp), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, cubeSize);
    QString first;
    QCOMPARE(cubeMismatches(lut, ocio, cubeSize, &first), 0);
}

// Every csp of the corpus, checked against what OCIO reads from it. This
// reader does not apply the pre-LUT (it keeps the output range as the
// domain) and clamps values to that range, so OCIO's values are comparable
// only on channels whose pre-LUT is the identity on 0..1; it also refuses a
// cube whose three sizes differ, which OCIO reads.
void TestFormatCsp::readsCorpusLikeOcio()
{
    if (TestSupport::corpusDir().isEmpty())
        QSKIP("the corpus is not there");
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut is missing");
    const QDir dir(TestSupport::corpusDir() + QStringLiteral("/colour-science/cinespace"));
    const QStringList files = dir.entryList({QStringLiteral("*.csp")}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    int compared = 0;
    for (const QString &name : files) {
        const QString path = dir.filePath(name);
        const CspLayout layout = layoutOf(path);
        Read_LUTFile lut;
        const bool ok = readCspFile(lut, path, layout.is3D);
        if (!layout.sizesEqual) {
            QVERIFY2(!ok, qPrintable(name + QStringLiteral(": a cube of unequal sizes must be refused")));
            continue;
        }
        QVERIFY2(ok, qPrintable(name + QStringLiteral(": ") + lut.errorString));
        QCOMPARE(layout.is3D ? lut.size3D : lut.size1D, layout.size);
        if (layout.is3D) {
            for (int c = 0; c < 3; ++c) {
                QCOMPARE(lut.domainMin3D[c], layout.domainMin[c]);
                QCOMPARE(lut.domainMax3D[c], layout.domainMax[c]);
            }
        }

        const int bakeSize = std::max(layout.size, 2);
        const QString cube = m_dir.filePath(name + QStringLiteral(".cube"));
        QString error;
        QVERIFY2(TestSupport::ociobake(path, QStringLiteral("iridas_cube"), bakeSize, cube, &error),
                 qPrintable(name + QStringLiteral(": ") + error));
        const TestSupport::CubeText ocio = TestSupport::parseCubeText(cube);
        QCOMPARE(int(ocio.values.size()), 3 * bakeSize * bakeSize * bakeSize);

        if (layout.is3D) {
            if (!(layout.identityShaper[0] && layout.identityShaper[1] && layout.identityShaper[2])) {
                qInfo("%s: the pre-LUT is not the identity; OCIO applies it, this reader does not",
                      qPrintable(name));
                continue;
            }
            QString first;
            QVERIFY2(cubeMismatches(lut, ocio, layout.size, &first) == 0, qPrintable(name + QStringLiteral(" ") + first));
            ++compared;
        } else {
            // A 1D table: OCIO's cube holds entry i of each channel on its
            // diagonal, at lattice point (i, i, i).
            for (int c = 0; c < 3; ++c) {
                if (!layout.identityShaper[c]) {
                    qInfo("%s: channel %d has a pre-LUT that is not the identity; not comparable",
                          qPrintable(name), c);
                    continue;
                }
                for (int i = 0; i < layout.size; ++i) {
                    const size_t line = size_t(i) * (1 + bakeSize + bakeSize * bakeSize);
                    const float want = clamp01(ocio.values[3 * line + c]);
                    QVERIFY2(std::fabs(lut.table1D[i][c] - want) < 2e-5f,
                             qPrintable(QStringLiteral("%1 [%2][%3]: %4, OCIO %5")
                                            .arg(name).arg(i).arg(c).arg(lut.table1D[i][c]).arg(want)));
                }
                ++compared;
            }
        }
    }
    QVERIFY(compared >= 4);
}

QTEST_GUILESS_MAIN(TestFormatCsp)
#include "test_format_csp.moc"
