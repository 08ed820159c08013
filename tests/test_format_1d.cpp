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

// Fills a fresh container with n entries from f(i) -> r, g, b.
void fill(Read_LUTFile &lut, int n, const std::function<void(int, float *)> &f)
{
    QVERIFY(lut.setSize1D(n, false));
    for (int i = 0; i < n; ++i)
        f(i, lut.table1D[i]);
}

bool readAs(Read_LUTFile &lut, const QString &path, int format, bool defaultOrder = true, bool data = true,
            bool table = true)
{
    LutFileOptions options;
    options.path = path;
    options.format = format;
    options.defaultOrder = defaultOrder;
    options.dataOrderRGB = data;
    options.tableOrderRGB = table;
    return lut.readLut(options, false);
}

bool writeAs(Read_LUTFile &lut, const QString &path, int format, int scale = 1, bool defaultOrder = true,
             bool data = true)
{
    LutFileOptions options;
    options.path = path;
    options.format = format;
    options.defaultOrder = defaultOrder;
    options.dataOrderRGB = data;
    options.tableOrderRGB = true;
    options.outputScale = scale;
    Write_LUTFile writer;
    return writer.writeLut(options, &lut);
}

// Three channels that differ everywhere: red rises fastest, blue slowest.
void distinctChannels(int i, int n, float *e)
{
    const float t = float(i) / float(n - 1);
    e[0] = t;
    e[1] = 0.5f * t;
    e[2] = 0.25f * t;
}

// The same table in the text of each readable 1D source, 256 entries
// (the indexed lut reader always takes 256), columns red, green, blue.
QByteArray sourceText(int format)
{
    const int n = 256;
    QByteArray text;
    auto num = [](double v) { return QByteArray::number(v, 'g', 9); };
    float e[3];
    switch (format) {
    case Cube:
        text = "TITLE \"1D\"\nLUT_1D_SIZE 256\n";
        for (int i = 0; i < n; ++i) {
            distinctChannels(i, n, e);
            text += num(e[0]) + ' ' + num(e[1]) + ' ' + num(e[2]) + '\n';
        }
        break;
    case Discreet:
        text = "# header\nLUT: 3 256\n";
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < n; ++i) {
                distinctChannels(i, n, e);
                text += "  " + num(e[c]) + '\n';
            }
        }
        break;
    case Lut1D:
        text = "Index\tRed\tGreen\tBlue\n";
        for (int i = 0; i < n; ++i) {
            distinctChannels(i, n, e);
            text += QByteArray::number(i) + '\t' + num(255.0 * e[0]) + '\t' + num(255.0 * e[1]) + '\t'
                + num(255.0 * e[2]) + '\n';
        }
        break;
    case Spi1D:
    case Zyt1D:
        text = format == Spi1D ? "Version 1\nFrom 0.0 1.0\nLength 256\nComponents 3\n{\n"
                               : "From 0.0 1.0\nLength 256\n";
        for (int i = 0; i < n; ++i) {
            distinctChannels(i, n, e);
            text += ' ' + num(e[0]) + ' ' + num(e[1]) + ' ' + num(e[2]) + '\n';
        }
        if (format == Spi1D)
            text += "}\n";
        break;
    }
    return text;
}

// Entry i of the table read back, as the reader of format scales it.
void expectDistinct(const Read_LUTFile &lut, int n, double scale, const char *what)
{
    QCOMPARE(lut.size1D, n);
    for (int i = 0; i < n; ++i) {
        float e[3];
        distinctChannels(i, n, e);
        for (int c = 0; c < 3; ++c) {
            if (std::fabs(lut.table1D[i][c] - e[c] * scale) > 2e-5)
                QFAIL(qPrintable(QStringLiteral("%1: entry %2 channel %3 is %4, expected %5")
                                     .arg(QLatin1String(what))
                                     .arg(i)
                                     .arg(c)
                                     .arg(double(lut.table1D[i][c]))
                                     .arg(e[c] * scale)));
        }
    }
}

// Values of one cube file line, red varying fastest: entry (r, g, b).
const float *cubeAt(const TestSupport::CubeText &cube, int r, int g, int b)
{
    const int n = cube.size;
    return &cube.values[3 * (size_t(r) + size_t(n) * g + size_t(n) * n * b)];
}

// Compares the diagonal and the three axes of a baked cube of size m with
// what a 1D table f gives at the lattice inputs.
void compareBakedCube(const TestSupport::CubeText &cube, int m,
                      const std::function<double(int channel, int lattice)> &f, double tolerance)
{
    QCOMPARE(cube.size, m);
    QCOMPARE(cube.values.size(), size_t(m) * m * m * 3);
    for (int j = 0; j < m; ++j) {
        const float *diagonal = cubeAt(cube, j, j, j);
        const float *axes[3] = {cubeAt(cube, j, 0, 0), cubeAt(cube, 0, j, 0), cubeAt(cube, 0, 0, j)};
        for (int c = 0; c < 3; ++c) {
            QVERIFY2(std::fabs(diagonal[c] - f(c, j)) <= tolerance,
                     qPrintable(QStringLiteral("diagonal %1 channel %2: %3 vs %4").arg(j).arg(c).arg(diagonal[c]).arg(f(c, j))));
            for (int axis = 0; axis < 3; ++axis) {
                const double expected = f(c, axis == c ? j : 0);
                QVERIFY2(std::fabs(axes[axis][c] - expected) <= tolerance,
                         qPrintable(QStringLiteral("axis %1 point %2 channel %3: %4 vs %5")
                                        .arg(axis).arg(j).arg(c).arg(axes[axis][c]).arg(expected)));
            }
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

private slots:
    void writtenTexts();
    void roundTrips();
    void channelsSurviveEveryConversion();
    void discreetReading();
    void spi1dReading();
    void lut1dReading();
    void csvLogReading();
    void zyt1dReading();
    void badInputFailsCleanly_data();
    void badInputFailsCleanly();
    void commandLineReportsBadInput();
    void ocioReadsCorpusLikeUs();
    void ocioReadsWhatWeWrite();
};

void TestFormat1D::writtenTexts()
{
    Read_LUTFile lut;
    fill(lut, 2, [](int i, float *e) {
        e[0] = i ? 1.0f : 0.5f;
        e[1] = i ? 0.25f : 0.00001f;
        e[2] = i ? 0.125f : 0.0f;
    });

    QVERIFY(writeAs(lut, path("t.lut"), Discreet));
    QCOMPARE(TestSupport::readFile(path("t.lut")),
             QByteArray("# Discreet LUT file\n#      Channels: 3\n# Input Samples: 2\n#   Ouput Scale: 1\n"
                        "#\n#Exported from ostavel\n#\n\nLUT: 3 2\n"
                        "     0.5\n     1\n     1e-05\n     0.25\n     0\n     0.125\n"));
    // Without the format's own order and with BGR data, channel 2 comes first;
    // a scale of 2 or more writes truncated integer codes.
    QVERIFY(writeAs(lut, path("t.lut"), Discreet, 1023, false, false));
    QVERIFY(TestSupport::readFile(path("t.lut"))
                .endsWith("#   Ouput Scale: 1023\n#\n#Exported from ostavel\n#\n\nLUT: 3 2\n"
                          "     0\n     127\n     0\n     255\n     511\n     1023\n"));

    QVERIFY(writeAs(lut, path("t.spi1d"), Spi1D));
    QCOMPARE(TestSupport::readFile(path("t.spi1d")),
             QByteArray("Version 1\nFrom 0.0 1\nLength 2\nComponents 3\n{\n"
                        "        0.5 1e-05 0 \n        1 0.25 0.125 \n}\n"));

    QVERIFY(writeAs(lut, path("t.txt"), Lut1D));
    QCOMPARE(TestSupport::readFile(path("t.txt")),
             QByteArray("Index\tRed\tGreen\tBlue\n0\t0.5\t1e-05\t0\t\n1\t1\t0.25\t0.125\t\n"));

    QVERIFY(writeAs(lut, path("t.csv"), CsvLog));
    QCOMPARE(TestSupport::readFile(path("t.csv")), QByteArray("0,\t0.5\n1,\t1\n"));

    QVERIFY(writeAs(lut, path("t.zyt1d"), Zyt1D, 1023));
    QCOMPARE(TestSupport::readFile(path("t.zyt1d")),
             QByteArray("From 0.0 1.0\nLength 2\n0.5 1e-05 0 \n1 0.25 0.125 \n"));

    // An empty table still gives the headers.
    Read_LUTFile empty;
    QVERIFY(writeAs(empty, path("e.spi1d"), Spi1D));
    QCOMPARE(TestSupport::readFile(path("e.spi1d")),
             QByteArray("Version 1\nFrom 0.0 1\nLength 0\nComponents 3\n{\n}\n"));
    QVERIFY(writeAs(empty, path("e.csv"), CsvLog));
    QCOMPARE(TestSupport::readFile(path("e.csv")), QByteArray());
}

void TestFormat1D::roundTrips()
{
    // 1024 entries with distinct channels, largest value 1.0.
    const int n = 1024;
    Read_LUTFile lut;
    fill(lut, n, [n](int i, float *e) { distinctChannels(i, n, e); });
    for (int format : {int(Discreet), int(Spi1D), int(Zyt1D)}) {
        const QString file = path(QStringLiteral("round.%1").arg(format));
        QVERIFY(writeAs(lut, file, format));
        Read_LUTFile back;
        QVERIFY2(readAs(back, file, format), qPrintable(back.errorString));
        expectDistinct(back, n, 1.0, LutFormats::byId(format)->name);
    }
    // Discreet integer codes: the largest code is the scale.
    QVERIFY(writeAs(lut, path("codes.lut"), Discreet, 1023));
    Read_LUTFile codes;
    QVERIFY(readAs(codes, path("codes.lut"), Discreet));
    for (int i = 0; i < n; ++i)
        QCOMPARE(codes.table1D[i][0], float(int(1023.0f * lut.table1D[i][0])) / 1023.0f);

    // The indexed lut reader takes 256 entries on a 0..255 scale, so what
    // its writer wrote comes back divided by 255.
    Read_LUTFile small;
    fill(small, 256, [](int i, float *e) { distinctChannels(i, 256, e); });
    QVERIFY(writeAs(small, path("round.txt"), Lut1D));
    Read_LUTFile back;
    QVERIFY(readAs(back, path("round.txt"), Lut1D));
    expectDistinct(back, 256, 1.0 / 255.0, "lut1d");

    // csv log: a 10-bit log written with integer codes reads back to the codes / 1023.
    QVERIFY(writeAs(lut, path("round.csv"), CsvLog, 1023));
    Read_LUTFile log;
    QVERIFY(readAs(log, path("round.csv"), CsvLog));
    QCOMPARE(log.size1D, n);
    for (int i = 0; i < n; ++i) {
        const float expected = float(int(1023.0f * lut.table1D[i][0])) / 1023.0f;
        QCOMPARE(log.table1D[i][0], expected);
        QCOMPARE(log.table1D[i][2], expected);
    }
}

void TestFormat1D::channelsSurviveEveryConversion()
{
    // Every readable source (the cube's 1D table included) into every 1D
    // writer and back, the format's own order on both sides: red stays red.
    const int sources[] = {Cube, Discreet, Lut1D, Spi1D, Zyt1D};
    const int targets[] = {Discreet, Lut1D, Spi1D, CsvLog, Zyt1D};
    for (int from : sources) {
        const QString name = LutFormats::byId(from)->name;
        const QString source = TestSupport::writeFile(path("src." + name), sourceText(from));
        Read_LUTFile lut;
        QVERIFY2(readAs(lut, source, from), qPrintable(name + ": " + lut.errorString));
        expectDistinct(lut, 256, 1.0, qPrintable(name));
        for (int to : targets) {
            const QString target = path(QStringLiteral("dst.%1.%2").arg(from).arg(to));
            QVERIFY(writeAs(lut, target, to));
            if (to == CsvLog) {
                // One channel only: it must be red.
                const QList<QByteArray> lines = TestSupport::readFile(target).split('\n');
                QCOMPARE(lines.size(), 257);
                for (int i = 0; i < 256; ++i) {
                    float e[3];
                    distinctChannels(i, 256, e);
                    QVERIFY(std::fabs(lines[i].split('\t').value(1).toFloat() - e[0]) < 2e-5);
                }
                continue;
            }
            Read_LUTFile back;
            QVERIFY(readAs(back, target, to));
            const QString what = name + " -> " + LutFormats::byId(to)->name;
            expectDistinct(back, 256, to == Lut1D ? 1.0 / 255.0 : 1.0, qPrintable(what));
        }
    }
}

void TestFormat1D::discreetReading()
{
    // Comments, blank lines and indentation anywhere; white space inside a
    // value line is dropped ("1 2" is 12); the largest value is the scale.
    const QString file = TestSupport::writeFile(path("d.lut"),
                                                "\n  # Discreet\n\tLUT: 3 2\n0\n# mid\n  1 2\n\n 6\n 3\n  0 \n24\n");
    Read_LUTFile lut;
    QVERIFY(readAs(lut, file, Discreet));
    QCOMPARE(lut.size1D, 2);
    QCOMPARE(lut.table1D[0][0], 0.0f);
    QCOMPARE(lut.table1D[1][0], 0.5f);
    QCOMPARE(lut.table1D[0][1], 0.25f);
    QCOMPARE(lut.table1D[1][1], 0.125f);
    QCOMPARE(lut.table1D[0][2], 0.0f);
    QCOMPARE(lut.table1D[1][2], 1.0f);
    QCOMPARE(lut.domainMax1D[0], 1.0f);

    // With the order flags the user gives (RGB data, BGR table), channels reverse.
    Read_LUTFile reversed;
    QVERIFY(readAs(reversed, file, Discreet, false, true, false));
    QCOMPARE(reversed.table1D[1][0], 1.0f);
    QCOMPARE(reversed.table1D[1][2], 0.5f);

    // The catalogue tells the two .lut formats apart by the header.
    QCOMPARE(LutFormats::forInput(file)->id, int(Discreet));
    QCOMPARE(LutFormats::forInput(TestSupport::writeFile(path("i.lut"), sourceText(Lut1D)))->id, int(Lut1D));
}

void TestFormat1D::spi1dReading()
{
    // Keywords in any order, unknown and blank lines in the header, one component.
    QString file = TestSupport::writeFile(path("one.spi1d"),
                                          "Components 1\n\nLength 3\nComment here\nVersion 1\nFrom 0.0 1.0\n{\n"
                                          "0.1\n\n0.4\n}\n0.9\n}\n");
    Read_LUTFile one;
    QVERIFY2(readAs(one, file, Spi1D), qPrintable(one.errorString));
    QCOMPARE(one.size1D, 3);
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(one.table1D[0][c], 0.1f);
        QCOMPARE(one.table1D[2][c], 0.9f); // a "}" before the last sample does not end the block
    }

    // Two components: the third channel is 0.
    file = TestSupport::writeFile(path("two.spi1d"),
                                  "Version 1\nFrom 0.0 1.0\nLength 2\nComponents 2\n{\n0.2 0.3\n0.6 0.7\n}\n");
    Read_LUTFile two;
    QVERIFY(readAs(two, file, Spi1D));
    QCOMPARE(two.table1D[1][0], 0.6f);
    QCOMPARE(two.table1D[1][1], 0.7f);
    QCOMPARE(two.table1D[1][2], 0.0f);

    // "From" is the input range: a ramp from -1 to 3 over inputs -1..3 is
    // the identity, so over 0..1 it reads as an identity ramp; values are
    // outputs and keep their size.
    file = TestSupport::writeFile(path("range.spi1d"),
                                  "Version 1\nFrom -1 3\nLength 5\nComponents 1\n{\n-1\n0\n1\n2\n3\n}\n");
    Read_LUTFile range;
    QVERIFY(readAs(range, file, Spi1D));
    QCOMPARE(range.size1D, 5);
    for (int i = 0; i < 5; ++i)
        QVERIFY(std::fabs(range.table1D[i][1] - i / 4.0f) < 1e-6f);
    QCOMPARE(range.domainMin1D[0], 0.0f);
    QCOMPARE(range.domainMax1D[0], 1.0f);
    file = TestSupport::writeFile(path("big.spi1d"), "From 0 1\nLength 2\nComponents 1\n{\n-0.5\n4.5\n}\n");
    Read_LUTFile big;
    QVERIFY(readAs(big, file, Spi1D));
    QCOMPARE(big.table1D[0][0], -0.5f);
    QCOMPARE(big.table1D[1][0], 4.5f);

    // Our spi1d text reads as a zyt1d file too.
    Read_LUTFile lut;
    fill(lut, 4, [](int i, float *e) { distinctChannels(i, 4, e); });
    QVERIFY(writeAs(lut, path("w.spi1d"), Spi1D));
    Read_LUTFile asZyt;
    QVERIFY(readAs(asZyt, path("w.spi1d"), Zyt1D));
    expectDistinct(asZyt, 4, 1.0, "spi1d as zyt1d");
}

void TestFormat1D::lut1dReading()
{
    // 256 entries on a 0..255 scale in line order (the index column is not
    // used); comments, repeated headers and blank lines anywhere; values are
    // clamped; lines after the 256th are ignored.
    QByteArray text = "# a ramp\nIndex\tRed\tGreen\tBlue\n";
    for (int i = 0; i < 256; ++i) {
        text += QByteArray::number(255 - i) + '\t' + QByteArray::number(i) + '\t' + QByteArray::number(i) + '\t'
            + QByteArray::number(i == 3 ? 300 : i) + '\n';
        if (i == 100)
            text += "\nIndex Red Green Blue\n# again\n";
    }
    text += "0 7 7 7\n";
    Read_LUTFile lut;
    QVERIFY(readAs(lut, TestSupport::writeFile(path("ramp.txt"), text), Lut1D));
    QCOMPARE(lut.size1D, 256);
    for (int i = 0; i < 256; ++i)
        QCOMPARE(lut.table1D[i][0], float(i) / 255.0f);
    QCOMPARE(lut.table1D[3][2], 1.0f);
    QCOMPARE(lut.table1D[255][1], 1.0f);
    QCOMPARE(lut.domainMax1D[0], 1.0f);
}

void TestFormat1D::csvLogReading()
{
    // The scale comes from the last code value: 1000 still means 10 bits.
    // Entries are placed by index; indices outside the table and lines
    // without a code value are skipped; code values above scale clamp.
    const QByteArray text = "2,\t1023\n0, 0\n1,511\n-4,\t99\n9,\t5\n1,\tabc\n3,\t1000\n";
    Read_LUTFile lut;
    QVERIFY(readAs(lut, TestSupport::writeFile(path("log.csv"), text), CsvLog));
    QCOMPARE(lut.size1D, 6); // six lines with two integers
    QCOMPARE(lut.table1D[0][0], 0.0f);
    QCOMPARE(lut.table1D[1][1], 511.0f / 1023.0f);
    QCOMPARE(lut.table1D[2][2], 1.0f);
    QCOMPARE(lut.table1D[3][0], 1000.0f / 1023.0f);
    QCOMPARE(lut.table1D[4][0], 0.0f);
    QCOMPARE(lut.table1D[5][0], 0.0f);

    // A last code value of 2 or less means a scale of 1; 4095 means 12 bits.
    Read_LUTFile unit;
    QVERIFY(readAs(unit, TestSupport::writeFile(path("unit.csv"), "0,\t0\n1,\t5\n2,\t1\n"), CsvLog));
    QCOMPARE(unit.table1D[2][0], 1.0f);
    QCOMPARE(unit.table1D[1][0], 1.0f);
    Read_LUTFile twelve;
    QVERIFY(readAs(twelve, TestSupport::writeFile(path("12.csv"), "0,\t2048\n1,\t4095\n"), CsvLog));
    QCOMPARE(twelve.table1D[0][0], 2048.0f / 4095.0f);
}

void TestFormat1D::zyt1dReading()
{
    // Only the first "Length" ends the header; a "From" after it is a
    // skipped line; the From range clamps and scales.
    const QString file = TestSupport::writeFile(
        path("r.zyt1d"), "# zyt\nFrom 0.0 2.0\n\nLength 3\nFrom 0.0 1.0\n0 1 2\n1 3 0.5\n2 2 2\n");
    Read_LUTFile lut;
    QVERIFY2(readAs(lut, file, Zyt1D), qPrintable(lut.errorString));
    QCOMPARE(lut.table1D[1][0], 0.5f);
    QCOMPARE(lut.table1D[1][1], 1.0f);
    QCOMPARE(lut.table1D[1][2], 0.25f);
    QCOMPARE(lut.domainMax1D[0], 1.0f);
}

void TestFormat1D::badInputFailsCleanly_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("text");

    QByteArray junk;
    for (int i = 0; i < 5000; ++i)
        junk += char((i * 7919 + 13) % 256);
    QByteArray lut255 = "Index\tRed\tGreen\tBlue\n";
    for (int i = 0; i < 255; ++i)
        lut255 += QByteArray::number(i) + " 1 2 3\n";

    for (int format : {int(Discreet), int(Lut1D), int(Spi1D), int(CsvLog), int(Zyt1D)}) {
        const char *name = LutFormats::byId(format)->name;
        QTest::addRow("%s empty", name) << format << QByteArray();
        QTest::addRow("%s binary", name) << format << junk;
        QTest::addRow("%s garbage", name) << format << QByteArray("hello\nworld {\n}\n");
    }
    QTest::newRow("discreet no header") << int(Discreet) << QByteArray("0\n0.5\n1\n");
    QTest::newRow("discreet value before header") << int(Discreet) << QByteArray("1\nLUT: 3 1\n1\n1\n1\n");
    QTest::newRow("discreet second header") << int(Discreet) << QByteArray("LUT: 3 1\n1\nLUT: 3 1\n1\n1\n");
    QTest::newRow("discreet too many values") << int(Discreet) << QByteArray("LUT: 3 1\n1\n1\n1\n1\n");
    QTest::newRow("discreet too few values") << int(Discreet) << QByteArray("LUT: 3 2\n1\n1\n1\n1\n1\n");
    QTest::newRow("discreet one channel") << int(Discreet) << QByteArray("LUT: 1 2\n1\n1\n");
    QTest::newRow("discreet no size") << int(Discreet) << QByteArray("LUT: 3\n");
    QTest::newRow("discreet negative size") << int(Discreet) << QByteArray("LUT: 3 -5\n1\n");
    QTest::newRow("discreet huge size") << int(Discreet) << QByteArray("LUT: 3 2000000000\n1\n");
    QTest::newRow("discreet all zero") << int(Discreet) << QByteArray("LUT: 3 1\n0\n0\n0\n");
    QTest::newRow("discreet all negative") << int(Discreet) << QByteArray("LUT: 3 1\n-1\n-2\n-3\n");
    QTest::newRow("lut1d 255 entries") << int(Lut1D) << lut255;
    QTest::newRow("spi1d no length")
        << int(Spi1D) << QByteArray("Version 1\nFrom 0 1\nComponents 1\n{\n0\n1\n}\n");
    QTest::newRow("spi1d huge length")
        << int(Spi1D) << QByteArray("From 0 1\nLength 99999999\nComponents 1\n{\n0\n1\n}\n");
    QTest::newRow("spi1d negative length") << int(Spi1D) << QByteArray("Length -2\nComponents 1\n{\n0\n}\n");
    QTest::newRow("spi1d no components") << int(Spi1D) << QByteArray("From 0 1\nLength 2\n{\n0\n1\n}\n");
    QTest::newRow("spi1d four components")
        << int(Spi1D) << QByteArray("Length 1\nComponents 4\n{\n0 0 0 0\n}\n");
    QTest::newRow("spi1d one From number")
        << int(Spi1D) << QByteArray("From 0.0\nLength 2\nComponents 1\n{\n0\n1\n}\n");
    QTest::newRow("spi1d empty range")
        << int(Spi1D) << QByteArray("From 1 1\nLength 2\nComponents 1\n{\n0\n1\n}\n");
    QTest::newRow("spi1d last sample missing")
        << int(Spi1D) << QByteArray("Length 3\nComponents 1\n{\n0\n0.5\n}\n");
    QTest::newRow("spi1d short line")
        << int(Spi1D) << QByteArray("Length 2\nComponents 3\n{\n0 0\n1 1 1\n}\n");
    QTest::newRow("csv no code values") << int(CsvLog) << QByteArray("0\n1\n2,\n");
    QTest::newRow("zyt1d no length") << int(Zyt1D) << QByteArray("From 0.0 1.0\n0 0 0\n");
    QTest::newRow("zyt1d zero length") << int(Zyt1D) << QByteArray("Length 0\n");
    QTest::newRow("zyt1d huge length") << int(Zyt1D) << QByteArray("Length 2000000\n0 0 0\n");
    QTest::newRow("zyt1d one short") << int(Zyt1D) << QByteArray("Length 3\n0 0 0\n1 1 1\n");
    QTest::newRow("zyt1d one over") << int(Zyt1D) << QByteArray("Length 1\n0 0 0\n1 1 1\n");
    QTest::newRow("zyt1d empty range") << int(Zyt1D) << QByteArray("From 1 0\nLength 1\n0 0 0\n");
}

void TestFormat1D::badInputFailsCleanly()
{
    QFETCH(int, format);
    QFETCH(QByteArray, text);
    Read_LUTFile lut;
    QVERIFY(!readAs(lut, TestSupport::writeFile(path("bad"), text), format));
    QVERIFY(!lut.errorString.isEmpty());
    QVERIFY(lut.size1D <= kMax1DSize);
    QCOMPARE(lut.size3D, 0);
}

void TestFormat1D::commandLineReportsBadInput()
{
    const QString bad = TestSupport::writeFile(path("bad.spi1d"), "Version 1\nLength 5\nComponents 3\n{\n0 0 0\n}\n");
    const TestSupport::ProcessResult r = TestSupport::runConvert({bad, path("out.cube")});
    QVERIFY(r.exitCode != 0);
    QVERIFY(r.err.contains("bad.spi1d"));

    // A .lut with a "LUT:" line converts as Discreet; red stays red into spi1d.
    const QString discreet = TestSupport::writeFile(path("cli.lut"), sourceText(Discreet));
    const TestSupport::ProcessResult ok = TestSupport::runConvert({discreet, path("cli.spi1d")});
    QVERIFY2(ok.exitCode == 0, ok.err.constData());
    Read_LUTFile lut;
    QVERIFY(readAs(lut, path("cli.spi1d"), Spi1D));
    expectDistinct(lut, 256, 1.0, "cli");
}

void TestFormat1D::ocioReadsCorpusLikeUs()
{
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");
    const QString dir = TestSupport::corpusDir();
    if (dir.isEmpty() || !QDir(dir + "/colour-science/sony_spi1d").exists())
        QSKIP("the corpus of spi1d files is not there");
    const QFileInfoList files =
        QDir(dir + "/colour-science/sony_spi1d").entryInfoList({"*.spi1d"}, QDir::Files, QDir::Name);
    int compared = 0;
    for (const QFileInfo &info : files) {
        Read_LUTFile lut;
        const bool ours = readAs(lut, info.filePath(), Spi1D);
        // Bake with one lattice point per table entry: the lattice inputs are
        // the inputs our resampled table is taken at.
        const int m = ours ? lut.size1D : 16;
        const QString baked = path(info.completeBaseName() + ".cube");
        QString error;
        const bool theirs = TestSupport::ociobake(info.filePath(), "iridas_cube", m, baked, &error);
        QVERIFY2(ours == theirs, qPrintable(info.fileName() + ": we " + (ours ? "read" : "refuse") + " it, OCIO "
                                             + (theirs ? "reads" : "refuses") + " it: " + lut.errorString + error));
        if (!theirs)
            continue;
        compareBakedCube(TestSupport::parseCubeText(baked), m,
                         [&lut](int c, int j) { return double(lut.table1D[j][c]); }, 2e-6);
        ++compared;
    }
    QVERIFY(compared >= 2);
}

void TestFormat1D::ocioReadsWhatWeWrite()
{
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");

    // spi1d, 64 entries with three different curves; lattice of 22 points
    // falls on every third entry.
    {
        const int n = 64, m = 22;
        Read_LUTFile lut;
        fill(lut, n, [n](int i, float *e) {
            const double t = double(i) / (n - 1);
            e[0] = float(std::pow(t, 2.2));
            e[1] = float(std::sqrt(t));
            e[2] = float(0.2 + 0.6 * t);
        });
        QVERIFY(writeAs(lut, path("ours.spi1d"), Spi1D));
        QString error;
        QVERIFY2(TestSupport::ociobake(path("ours.spi1d"), "iridas_cube", m, path("ours.spi1d.cube"), &error),
                 qPrintable(error));
        compareBakedCube(TestSupport::parseCubeText(path("ours.spi1d.cube")), m,
                         [&lut](int c, int j) { return double(lut.table1D[3 * j][c]); }, 2e-6);
    }

    // Discreet, 1024 entries as 10-bit integer codes; lattice of 34 points
    // falls on every 31st entry.
    {
        const int n = 1024, m = 34;
        Read_LUTFile lut;
        fill(lut, n, [n](int i, float *e) {
            const double t = double(i) / (n - 1);
            e[0] = float(t);
            e[1] = float(t * t);
            e[2] = float(1.0 - t);
        });
        QVERIFY(writeAs(lut, path("ours.lut"), Discreet, 1023));
        QString error;
        QVERIFY2(TestSupport::ociobake(path("ours.lut"), "iridas_cube", m, path("ours.lut.cube"), &error),
                 qPrintable(error));
        compareBakedCube(TestSupport::parseCubeText(path("ours.lut.cube")), m,
                         [&lut](int c, int j) { return double(int(1023.0f * lut.table1D[31 * j][c])) / 1023.0; },
                         2e-6);
    }
}

QTEST_GUILESS_MAIN(TestFormat1D)
#include "test_format_1d.moc"
