// The 1D formats: Discreet 1D lut, spi1d, indexed 1D lut, csv log, zyt1d.
// Written texts, reading rules, channel order through conversions, bad
// input, and OpenColorIO as an independent reader and writer.

#include "TestSupport.h"

#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>

namespace {

enum Id { Cube = 0, Discreet = 6, Lut1D = 7, Spi1D = 12, CsvLog = 14, Zyt1D = 15 };

bool readAs(Read_LUTFile &lut, const QString &path, int format, bool defaultOrder = true, bool table = true)
{
    LutFileOptions o{path, format, defaultOrder, true, table, 1, 0};
    return lut.readLut(o, false);
}

bool writeAs(Read_LUTFile &lut, const QString &path, int format, int scale = 1, bool defaultOrder = true,
             bool data = true)
{
    LutFileOptions o{path, format, defaultOrder, data, true, scale, 0};
    Write_LUTFile writer;
    return writer.writeLut(o, &lut);
}

// Three channels that differ everywhere: red rises fastest, blue slowest.
float channel(int i, int n, int c)
{
    return float(i) / float(n - 1) / float(1 << c);
}

void fill(Read_LUTFile &lut, int n, const std::function<float(int, int)> &f = {})
{
    QVERIFY(lut.setSize1D(n, false));
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c)
            lut.table1D[i][c] = f ? f(i, c) : channel(i, n, c);
}

// The table of channel() in the text of each readable 1D source, 256
// entries (the indexed lut reader always takes 256), columns red, green, blue.
QByteArray sourceText(int format)
{
    const QByteArray head[] = {"LUT_1D_SIZE 256\n", "", "", "", "", "", "# d\nLUT: 3 256\n", "Index\tRed\tGreen\tBlue\n",
                               "", "", "", "", "Version 1\nFrom 0.0 1.0\nLength 256\nComponents 3\n{\n", "", "",
                               "From 0.0 1.0\nLength 256\n"};
    QByteArray text = head[format];
    auto num = [format](int i, int c) {
        return QByteArray::number(double(channel(i, 256, c)) * (format == Lut1D ? 255.0 : 1.0), 'g', 9);
    };
    for (int k = 0; k < (format == Discreet ? 768 : 256); ++k) {
        if (format == Discreet)
            text += "  " + num(k % 256, k / 256) + '\n';
        else
            text += (format == Lut1D ? QByteArray::number(k) + '\t' : QByteArray(" ")) + num(k, 0) + '\t'
                + num(k, 1) + ' ' + num(k, 2) + '\n';
    }
    return format == Spi1D ? text + "}\n" : text;
}

// The table read back holds channel() times scale.
void expectDistinct(const Read_LUTFile &lut, int n, double scale, const QString &what)
{
    QCOMPARE(lut.size1D, n);
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c)
            if (std::fabs(lut.table1D[i][c] - channel(i, n, c) * scale) > 2e-5)
                QFAIL(qPrintable(QStringLiteral("%1: entry %2 channel %3 is %4").arg(what).arg(i).arg(c).arg(lut.table1D[i][c])));
}

// Compares the diagonal and the three axes of a baked cube of size m (red
// varying fastest) with f(channel, lattice index).
void compareBakedCube(const QString &path, int m, const std::function<double(int, int)> &f)
{
    const TestSupport::CubeText cube = TestSupport::parseCubeText(path);
    QCOMPARE(cube.size, m);
    QCOMPARE(cube.values.size(), size_t(m) * m * m * 3);
    auto at = [&](int r, int g, int b, int c) { return cube.values[3 * (r + size_t(m) * (g + size_t(m) * b)) + c]; };
    for (int j = 0; j < m; ++j) {
        for (int c = 0; c < 3; ++c) {
            QVERIFY2(std::fabs(at(j, j, j, c) - f(c, j)) <= 2e-6, qPrintable(QStringLiteral("diagonal %1/%2").arg(j).arg(c)));
            QVERIFY(std::fabs(at(j, 0, 0, c) - f(c, c == 0 ? j : 0)) <= 2e-6);
            QVERIFY(std::fabs(at(0, j, 0, c) - f(c, c == 1 ? j : 0)) <= 2e-6);
            QVERIFY(std::fabs(at(0, 0, j, c) - f(c, c == 2 ? j : 0)) <= 2e-6);
        }
    }
}

} // namespace

class TestFormat1D : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString file(const QString &name, const QByteArray &text) const { return TestSupport::writeFile(path(name), text); }

private slots:
    void writtenTexts();
    void channelsSurviveEveryConversion();
    void readingRules();
    void badInputFailsCleanly();
    void commandLine();
    void ocioReadsCorpusLikeUs();
    void ocioReadsWhatWeWrite();
};

void TestFormat1D::writtenTexts()
{
    Read_LUTFile lut;
    const float v[2][3] = {{0.5f, 0.00001f, 0.0f}, {1.0f, 0.25f, 0.125f}};
    fill(lut, 2, [&v](int i, int c) { return v[i][c]; });
    struct { int format, scale; bool defaultOrder; const char *path, *text; } cases[] = {
        {Discreet, 1, true, "t.lut",
         "# Discreet LUT file\n#      Channels: 3\n# Input Samples: 2\n#   Ouput Scale: 1\n#\n#Exported from ostavel\n#\n\n"
         "LUT: 3 2\n     0.5\n     1\n     1e-05\n     0.25\n     0\n     0.125\n"},
        // Own order off and BGR data: channel 2 first; a scale writes integer codes.
        {Discreet, 1023, false, "c.lut",
         "# Discreet LUT file\n#      Channels: 3\n# Input Samples: 2\n#   Ouput Scale: 1023\n#\n#Exported from ostavel\n#\n\n"
         "LUT: 3 2\n     0\n     127\n     0\n     255\n     511\n     1023\n"},
        {Spi1D, 1, true, "t.spi1d",
         "Version 1\nFrom 0.0 1\nLength 2\nComponents 3\n{\n        0.5 1e-05 0 \n        1 0.25 0.125 \n}\n"},
        {Lut1D, 1, true, "t.txt", "Index\tRed\tGreen\tBlue\n0\t0.5\t1e-05\t0\t\n1\t1\t0.25\t0.125\t\n"},
        {CsvLog, 1, true, "t.csv", "0,\t0.5\n1,\t1\n"},
        {Zyt1D, 1023, true, "t.zyt1d", "From 0.0 1.0\nLength 2\n0.5 1e-05 0 \n1 0.25 0.125 \n"},
    };
    for (const auto &c : cases) {
        QVERIFY(writeAs(lut, path(c.path), c.format, c.scale, c.defaultOrder, c.defaultOrder));
        QCOMPARE(QString(TestSupport::readFile(path(c.path))), QString(c.text));
    }
    Read_LUTFile empty;
    QVERIFY(writeAs(empty, path("e.spi1d"), Spi1D));
    QCOMPARE(TestSupport::readFile(path("e.spi1d")), QByteArray("Version 1\nFrom 0.0 1\nLength 0\nComponents 3\n{\n}\n"));
}

void TestFormat1D::channelsSurviveEveryConversion()
{
    // Every readable source (the cube's 1D table included) into every 1D
    // writer and back, the format's own order on both sides: red stays red.
    for (int from : {Cube, Discreet, Lut1D, Spi1D, Zyt1D}) {
        const QString name = LutFormats::byId(from)->name;
        Read_LUTFile lut;
        QVERIFY2(readAs(lut, file("src." + name, sourceText(from)), from), qPrintable(lut.errorString));
        expectDistinct(lut, 256, 1.0, name);
        for (int to : {Discreet, Lut1D, Spi1D, CsvLog, Zyt1D}) {
            const QString target = path(QStringLiteral("dst.%1.%2").arg(from).arg(to));
            QVERIFY(writeAs(lut, target, to));
            if (to == CsvLog) { // one channel only: it must be red
                const QList<QByteArray> lines = TestSupport::readFile(target).split('\n');
                QCOMPARE(lines.size(), 257);
                for (int i = 0; i < 256; ++i)
                    QVERIFY(std::fabs(lines[i].split('\t').value(1).toFloat() - channel(i, 256, 0)) < 2e-5);
                continue;
            }
            Read_LUTFile back;
            QVERIFY(readAs(back, target, to));
            // The indexed lut reader takes the written reals on its 0..255 scale.
            expectDistinct(back, 256, to == Lut1D ? 1.0 / 255.0 : 1.0, name + " -> " + LutFormats::byId(to)->name);
        }
    }
    // 10-bit codes come back as code / 1023 through Discreet and csv log.
    Read_LUTFile lut;
    fill(lut, 1024);
    for (int format : {Discreet, CsvLog}) {
        QVERIFY(writeAs(lut, path("codes"), format, 1023));
        Read_LUTFile back;
        QVERIFY(readAs(back, path("codes"), format));
        for (int i = 0; i < 1024; ++i)
            QCOMPARE(back.table1D[i][0], float(int(1023.0f * lut.table1D[i][0])) / 1023.0f);
    }
}

void TestFormat1D::readingRules()
{
    // Discreet: comments, blanks and indentation anywhere; blanks inside a
    // value line are dropped ("1 2" is 12); the largest value is the scale;
    // with the user's RGB/BGR flags the channels reverse.
    const QString d = file("d.lut", "\n  # D\n\tLUT: 3 2\n0\n# mid\n  1 2\n\n 6\n 3\n  0 \n24\n");
    Read_LUTFile dl, reversed;
    QVERIFY(readAs(dl, d, Discreet));
    const float expected[2][3] = {{0.0f, 0.25f, 0.0f}, {0.5f, 0.125f, 1.0f}};
    for (int i = 0; i < 2; ++i)
        for (int c = 0; c < 3; ++c)
            QCOMPARE(dl.table1D[i][c], expected[i][c]);
    QVERIFY(readAs(reversed, d, Discreet, false, false));
    QCOMPARE(reversed.table1D[1][0], 1.0f);
    QCOMPARE(LutFormats::forInput(d)->id, int(Discreet));
    QCOMPARE(LutFormats::forInput(file("i.lut", sourceText(Lut1D)))->id, int(Lut1D));

    // spi1d: keywords in any order, unknown and blank lines, one component
    // fills all channels, a "}" inside the block does not end it; two
    // components leave the third channel 0.
    Read_LUTFile one, two;
    QVERIFY(readAs(one, file("1.spi1d", "Components 1\n\nLength 3\nNote\nVersion 1\nFrom 0.0 1.0\n{\n0.1\n\n0.4\n}\n0.9\n}\n"), Spi1D));
    QCOMPARE(one.table1D[0][2], 0.1f);
    QCOMPARE(one.table1D[2][0], 0.9f);
    QVERIFY(readAs(two, file("2.spi1d", "Length 1\nComponents 2\n{\n0.6 0.7\n}\n"), Spi1D));
    QCOMPARE(two.table1D[0][0], 0.6f);
    QCOMPARE(two.table1D[0][1], 0.7f);
    QCOMPARE(two.table1D[0][2], 0.0f);
    // "From" is the input range: the identity over -1..3 reads as the
    // identity over 0..1; values are outputs and keep their size.
    Read_LUTFile range, big;
    QVERIFY(readAs(range, file("r.spi1d", "From -1 3\nLength 5\nComponents 1\n{\n-1\n0\n1\n2\n3\n}\n"), Spi1D));
    for (int i = 0; i < 5; ++i)
        QVERIFY(std::fabs(range.table1D[i][1] - i / 4.0f) < 1e-6f);
    QVERIFY(readAs(big, file("b.spi1d", "From 0 1\nLength 2\nComponents 1\n{\n-0.5\n4.5\n}\n"), Spi1D));
    QCOMPARE(big.table1D[1][0], 4.5f);

    // Indexed lut: 256 entries on 0..255 in line order whatever the index
    // column; headers and comments anywhere; clamped; surplus ignored.
    QByteArray text = "# ramp\nIndex\tRed\tGreen\tBlue\n";
    for (int i = 0; i < 256; ++i)
        text += QByteArray::number(255 - i) + ' ' + QByteArray::number(i) + " 0 " + (i == 3 ? "300" : "1") + '\n'
            + (i == 100 ? "\nIndex\n# again\n" : "");
    Read_LUTFile ramp;
    QVERIFY(readAs(ramp, file("ramp.txt", text + "0 7 7 7\n"), Lut1D));
    for (int i = 0; i < 256; ++i)
        QCOMPARE(ramp.table1D[i][0], float(i) / 255.0f);
    QCOMPARE(ramp.table1D[3][2], 1.0f);

    // csv log: last code value 1000 still means 10 bits; entries placed by
    // index; indices outside the table and lines without a code value skipped.
    Read_LUTFile log, unit;
    QVERIFY(readAs(log, file("log.csv", "2,\t1023\n0, 0\n1,511\n-4,\t99\n9,\t5\n1,\tabc\n3,\t1000\n"), CsvLog));
    QCOMPARE(log.size1D, 6);
    QCOMPARE(log.table1D[1][1], 511.0f / 1023.0f);
    QCOMPARE(log.table1D[3][2], 1000.0f / 1023.0f);
    QCOMPARE(log.table1D[4][0], 0.0f);
    QVERIFY(readAs(unit, file("unit.csv", "0,\t0\n1,\t5\n2,\t1\n"), CsvLog)); // scale 1
    QCOMPARE(unit.table1D[1][0], 1.0f);

    // zyt1d: the first "Length" ends the header (a later "From" is skipped);
    // the From range clamps and scales; our spi1d text reads as zyt1d.
    Read_LUTFile z, asZyt;
    QVERIFY(readAs(z, file("r.zyt1d", "From 0.0 2.0\n\nLength 2\nFrom 0.0 1.0\n0 1 2\n1 3 0.5\n"), Zyt1D));
    QCOMPARE(z.table1D[1][0], 0.5f);
    QCOMPARE(z.table1D[1][1], 1.0f);
    QCOMPARE(z.table1D[0][2], 1.0f);
    QVERIFY(readAs(asZyt, file("r.spi1d", sourceText(Spi1D)), Zyt1D));
    expectDistinct(asZyt, 256, 1.0, "spi1d as zyt1d");
}

void TestFormat1D::badInputFailsCleanly()
{
    QByteArray junk, lut255 = "Index\n";
    for (int i = 0; i < 5000; ++i)
        junk += char((i * 7919 + 13) % 256);
    for (int i = 0; i < 255; ++i)
        lut255 += "1 1 2 3\n";
    QList<QPair<int, QByteArray>> cases;
    for (int format : {Discreet, Lut1D, Spi1D, CsvLog, Zyt1D})
        cases << qMakePair(format, QByteArray()) << qMakePair(format, junk) << qMakePair(format, QByteArray("hi\n{\n}\n"));
    const char *const discreet[] = {"0\n0.5\n1\n", "1\nLUT: 3 1\n1\n1\n1\n", "LUT: 3 1\n1\nLUT: 3 1\n1\n1\n",
                                    "LUT: 3 1\n1\n1\n1\n1\n", "LUT: 3 2\n1\n1\n1\n1\n1\n", "LUT: 1 2\n1\n1\n", "LUT: 3\n",
                                    "LUT: 3 -5\n1\n", "LUT: 3 2000000000\n1\n", "LUT: 3 1\n0\n0\n0\n", "LUT: 3 1\n-1\n-2\n-3\n"};
    const char *const spi[] = {"From 0 1\nComponents 1\n{\n0\n1\n}\n", "Length 99999999\nComponents 1\n{\n0\n}\n",
                               "Length -2\nComponents 1\n{\n0\n}\n", "Length 2\n{\n0\n1\n}\n", "Length 1\nComponents 4\n{\n0 0 0 0\n}\n",
                               "From 0.0\nLength 2\nComponents 1\n{\n0\n1\n}\n", "From 1 1\nLength 2\nComponents 1\n{\n0\n1\n}\n",
                               "Length 3\nComponents 1\n{\n0\n0.5\n}\n", "Length 2\nComponents 3\n{\n0 0\n1 1 1\n}\n"};
    const char *const zyt[] = {"From 0.0 1.0\n0 0 0\n", "Length 0\n", "Length 2000000\n0 0 0\n", "Length 3\n0 0 0\n1 1 1\n",
                               "Length 1\n0 0 0\n1 1 1\n", "From 1 0\nLength 1\n0 0 0\n"};
    for (const char *t : discreet)
        cases << qMakePair(int(Discreet), QByteArray(t));
    for (const char *t : spi)
        cases << qMakePair(int(Spi1D), QByteArray(t));
    for (const char *t : zyt)
        cases << qMakePair(int(Zyt1D), QByteArray(t));
    cases << qMakePair(int(Lut1D), lut255) << qMakePair(int(CsvLog), QByteArray("0\n1\n2,\n"));
    for (const auto &c : cases) {
        Read_LUTFile lut;
        QVERIFY2(!readAs(lut, file("bad", c.second), c.first), c.second.left(60).constData());
        QVERIFY(!lut.errorString.isEmpty());
        QCOMPARE(lut.size3D, 0);
    }
}

void TestFormat1D::commandLine()
{
    const TestSupport::ProcessResult bad =
        TestSupport::runConvert({file("bad.spi1d", "Version 1\nLength 5\nComponents 3\n{\n0 0 0\n}\n"), path("o.cube")});
    QVERIFY(bad.exitCode != 0);
    QVERIFY(bad.err.contains("bad.spi1d"));
    // A .lut with a "LUT:" line converts as Discreet; red stays red into spi1d.
    const TestSupport::ProcessResult ok = TestSupport::runConvert({file("cli.lut", sourceText(Discreet)), path("cli.spi1d")});
    QVERIFY2(ok.exitCode == 0, ok.err.constData());
    Read_LUTFile lut;
    QVERIFY(readAs(lut, path("cli.spi1d"), Spi1D));
    expectDistinct(lut, 256, 1.0, "cli");
}

void TestFormat1D::ocioReadsCorpusLikeUs()
{
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");
    const QDir dir(TestSupport::corpusDir() + "/colour-science/sony_spi1d");
    if (TestSupport::corpusDir().isEmpty() || !dir.exists())
        QSKIP("the corpus of spi1d files is not there");
    int compared = 0;
    for (const QFileInfo &info : dir.entryInfoList({"*.spi1d"}, QDir::Files)) {
        // One lattice point per table entry: the inputs our table is taken at.
        Read_LUTFile lut;
        const bool ours = readAs(lut, info.filePath(), Spi1D);
        const int m = ours ? lut.size1D : 16;
        const QString baked = path(info.fileName() + ".cube");
        QString error;
        const bool theirs = TestSupport::ociobake(info.filePath(), "iridas_cube", m, baked, &error);
        QVERIFY2(ours == theirs, qPrintable(info.fileName() + ": " + lut.errorString + " / " + error));
        if (theirs) {
            compareBakedCube(baked, m, [&lut](int c, int j) { return double(lut.table1D[j][c]); });
            ++compared;
        }
    }
    QVERIFY(compared >= 2);
}

void TestFormat1D::ocioReadsWhatWeWrite()
{
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");
    // spi1d of 64 entries, three curves; the 22-point lattice falls on
    // every third entry. Discreet of 1024 10-bit codes; the 34-point
    // lattice falls on every 31st entry.
    struct { int format, n, m, scale; const char *name; } cases[] = {
        {Spi1D, 64, 22, 1, "ours.spi1d"}, {Discreet, 1024, 34, 1023, "ours.lut"}};
    for (const auto &c : cases) {
        Read_LUTFile lut;
        fill(lut, c.n, [&c](int i, int ch) {
            const double t = double(i) / (c.n - 1);
            return float(ch == 0 ? std::pow(t, 2.2) : ch == 1 ? std::sqrt(t) : 1.0 - 0.6 * t);
        });
        QVERIFY(writeAs(lut, path(c.name), c.format, c.scale));
        QString error;
        QVERIFY2(TestSupport::ociobake(path(c.name), "iridas_cube", c.m, path(c.name) + ".cube", &error), qPrintable(error));
        const int step = (c.n - 1) / (c.m - 1);
        compareBakedCube(path(c.name) + ".cube", c.m, [&](int ch, int j) {
            const float v = lut.table1D[step * j][ch];
            return c.scale > 1 ? double(int(float(c.scale) * v)) / c.scale : double(v);
        });
    }
}

QTEST_GUILESS_MAIN(TestFormat1D)
#include "test_format_1d.moc"
