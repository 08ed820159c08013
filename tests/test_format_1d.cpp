// The 1D formats (Discreet, spi1d, indexed lut, csv log, zyt1d): written texts, channel order through
// every conversion, reading rules, bad input, and OpenColorIO as an independent reader.

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

bool writeAs(Read_LUTFile &lut, const QString &path, int format, int scale = 1, bool own = true)
{
    LutFileOptions o{path, format, own, own, true, scale, 0};
    return Write_LUTFile().writeLut(o, &lut);
}

// Three channels that differ everywhere: red rises fastest, blue slowest.
float channel(int i, int n, int c) { return float(i) / float(n - 1) / float(1 << c); }

void fill(Read_LUTFile &lut, int n, const std::function<float(int, int)> &f)
{
    QVERIFY(lut.setSize1D(n, false));
    for (int i = 0; i < n * 3; ++i)
        lut.table1D[i / 3][i % 3] = f(i / 3, i % 3);
}

// channel() at 256 entries in the text of each readable source (the indexed lut reader always takes
// 256, on 0..255); Discreet is channel-major, the others one red-green-blue line per entry.
QByteArray sourceText(int format)
{
    QByteArray text = format == Cube ? "LUT_1D_SIZE 256\n" : format == Discreet ? "# d\nLUT: 3 256\n"
        : format == Lut1D ? "Index\tRed\tGreen\tBlue\n" : format == Spi1D ? "Version 1\nFrom 0.0 1.0\nLength 256\n"
        "Components 3\n{\n" : "From 0.0 1.0\nLength 256\n";
    auto num = [format](int i, int c) { return QByteArray::number(channel(i, 256, c) * (format == Lut1D ? 255.0 : 1.0), 'g', 9); };
    for (int k = 0; k < (format == Discreet ? 768 : 256); ++k)
        text += format == Discreet ? "  " + num(k % 256, k / 256) + '\n'
            : (format == Lut1D ? QByteArray::number(k) + '\t' : " ") + num(k, 0) + '\t' + num(k, 1) + ' ' + num(k, 2) + '\n';
    return format == Spi1D ? text + "}\n" : text;
}

// The table read back holds channel() times scale.
void expectDistinct(const Read_LUTFile &lut, int n, double scale, const QString &what)
{
    QCOMPARE(lut.size1D, n);
    for (int i = 0; i < n * 3; ++i)
        QVERIFY2(std::fabs(lut.table1D[i / 3][i % 3] - channel(i / 3, n, i % 3) * scale) <= 2e-5,
                 qPrintable(QStringLiteral("%1: entry %2 channel %3").arg(what).arg(i / 3).arg(i % 3)));
}

// The diagonal and three axes of a baked cube of size m (red fastest) against f(channel, lattice index).
void compareBakedCube(const QString &path, int m, const std::function<double(int, int)> &f)
{
    const TestSupport::CubeText cube = TestSupport::parseCubeText(path);
    QCOMPARE(cube.values.size(), size_t(m) * m * m * 3);
    auto at = [&](int r, int g, int b, int c) { return cube.values[3 * (r + size_t(m) * (g + size_t(m) * b)) + c]; };
    for (int j = 0; j < m * 3; ++j) {
        const int k = j / 3, c = j % 3;
        QVERIFY2(std::fabs(at(k, k, k, c) - f(c, k)) <= 2e-6 && std::fabs(at(k, 0, 0, c) - f(c, c == 0 ? k : 0)) <= 2e-6
                     && std::fabs(at(0, k, 0, c) - f(c, c == 1 ? k : 0)) <= 2e-6
                     && std::fabs(at(0, 0, k, c) - f(c, c == 2 ? k : 0)) <= 2e-6,
                 qPrintable(QStringLiteral("%1: point %2 channel %3").arg(path).arg(k).arg(c)));
    }
}

} // namespace

class TestFormat1D : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString file(const QString &name, const QByteArray &text) const { return TestSupport::writeFile(path(name), text); }

private slots:
    void writtenTexts();
    void channelsSurviveEveryConversion();
    void readingRules();
    void badInputFailsCleanly();
    void ocioReadsCorpusAndWhatWeWrite();
};

void TestFormat1D::writtenTexts()
{
    Read_LUTFile lut;
    const float v[2][3] = {{0.5f, 0.00001f, 0.0f}, {1.0f, 0.25f, 0.125f}};
    fill(lut, 2, [&v](int i, int c) { return v[i][c]; });
    const QByteArray discreet = "# Discreet LUT file\n#      Channels: 3\n# Input Samples: 2\n#   Ouput Scale: ";
    struct { int format, scale; bool own; const char *path; QByteArray text; } cases[] = {
        {Discreet, 1, true, "t.lut", discreet + "1\n#\n#Exported from ostavel\n#\n\n"
                                     "LUT: 3 2\n     0.5\n     1\n     1e-05\n     0.25\n     0\n     0.125\n"},
        // Own order off and BGR data: channel 2 first; a scale writes integer codes.
        {Discreet, 1023, false, "c.lut", discreet + "1023\n#\n#Exported from ostavel\n#\n\n"
                                         "LUT: 3 2\n     0\n     127\n     0\n     255\n     511\n     1023\n"},
        {Spi1D, 1, true, "t.spi1d",
         "Version 1\nFrom 0.0 1\nLength 2\nComponents 3\n{\n        0.5 1e-05 0 \n        1 0.25 0.125 \n}\n"},
        {Lut1D, 1, true, "t.txt", "Index\tRed\tGreen\tBlue\n0\t0.5\t1e-05\t0\t\n1\t1\t0.25\t0.125\t\n"},
        {CsvLog, 1, true, "t.csv", "0,\t0.5\n1,\t1\n"},
        {Zyt1D, 1023, true, "t.zyt1d", "From 0.0 1.0\nLength 2\n0.5 1e-05 0 \n1 0.25 0.125 \n"},
    };
    for (const auto &c : cases) {
        QVERIFY(writeAs(lut, path(c.path), c.format, c.scale, c.own));
        QCOMPARE(TestSupport::readFile(path(c.path)), c.text);
    }
    Read_LUTFile empty;
    QVERIFY(writeAs(empty, path("e.spi1d"), Spi1D));
    QCOMPARE(TestSupport::readFile(path("e.spi1d")), QByteArray("Version 1\nFrom 0.0 1\nLength 0\nComponents 3\n{\n}\n"));
}

// Every readable source (the cube's 1D table included) into every 1D writer and back, the format's
// own order on both sides: red stays red. csv log keeps one channel, which must be red; the indexed
// lut reader takes the written reals on its 0..255 scale.
void TestFormat1D::channelsSurviveEveryConversion()
{
    for (int from : {Cube, Discreet, Lut1D, Spi1D, Zyt1D}) {
        const QString name = LutFormats::byId(from)->name;
        Read_LUTFile lut;
        QVERIFY2(readAs(lut, file("src." + name, sourceText(from)), from), qPrintable(lut.errorString));
        expectDistinct(lut, 256, 1.0, name);
        for (int to : {Discreet, Lut1D, Spi1D, CsvLog, Zyt1D}) {
            const QString target = path(QStringLiteral("dst.%1.%2").arg(from).arg(to)), what = name + " -> " + target;
            QVERIFY(writeAs(lut, target, to));
            Read_LUTFile back;
            QVERIFY2(readAs(back, target, to), qPrintable(what + ": " + back.errorString));
            if (to != CsvLog) {
                expectDistinct(back, 256, to == Lut1D ? 1.0 / 255.0 : 1.0, what);
                continue;
            }
            // csv log keeps red alone, in all three channels, as the reals it wrote.
            for (int i = 0; i < 256 * 3; ++i)
                QVERIFY2(std::fabs(back.table1D[i / 3][i % 3] - channel(i / 3, 256, 0)) <= 2e-5, qPrintable(what));
        }
    }
    // 10-bit codes come back as code / 1023 through Discreet and csv log.
    Read_LUTFile lut;
    fill(lut, 1024, [](int i, int c) { return channel(i, 1024, c); });
    for (int format : {Discreet, CsvLog}) {
        Read_LUTFile back;
        QVERIFY(writeAs(lut, path("codes"), format, 1023) && readAs(back, path("codes"), format));
        for (int i = 0; i < 1024; ++i)
            QCOMPARE(back.table1D[i][0], float(int(1023.0f * lut.table1D[i][0])) / 1023.0f);
    }
}

// Reading rules: Discreet drops blanks inside a value ("1 2" is 12), scales by the largest value and
// reverses with RGB/BGR flags; spi1d keywords in any order, "From" is the input range, values keep
// their size, two components leave the third 0; the indexed lut takes 256 lines on 0..255 in line
// order, clamped; csv log takes 10 bits from a last code of 1000 and skips out-of-table indices;
// zyt1d ends its header at the first Length and clamps by From; our spi1d text reads as zyt1d.
void TestFormat1D::readingRules()
{
    QByteArray ramp = "# ramp\nIndex\tRed\tGreen\tBlue\n";
    for (int i = 0; i < 256; ++i)
        ramp += QByteArray::number(255 - i) + ' ' + QByteArray::number(i) + " 0 " + (i == 3 ? "300\n" : "1\n");
    const QByteArray discreet = "\n  # D\n\tLUT: 3 2\n0\n# mid\n  1 2\n\n 6\n 3\n  0 \n24\n";
    const QByteArray csv = "2,\t1023\n0, 0\n1,511\n-4,\t99\n9,\t5\n1,\tabc\n3,\t1000\n";
    const QByteArray zyt = "From 0.0 2.0\n\nLength 2\nFrom 0.0 1.0\n0 1 2\n1 3 0.5\n";
    struct { int format; QByteArray text; bool flipped; int size, i, c; float value; } rows[] = {
        {Discreet, discreet, false, 2, 0, 1, 0.25f}, {Discreet, discreet, false, 2, 1, 0, 0.5f},
        {Discreet, discreet, true, 2, 1, 0, 1.0f},
        {Spi1D, "Components 1\nLength 3\nNote\nVersion 1\n{\n0.1\n\n0.4\n}\n0.9\n}\n", false, 3, 2, 0, 0.9f},
        {Spi1D, "Length 1\nComponents 2\n{\n0.6 0.7\n}\n", false, 1, 0, 2, 0.0f},
        {Spi1D, "From -1 3\nLength 5\nComponents 1\n{\n-1\n0\n1\n2\n3\n}\n", false, 5, 3, 1, 0.75f},
        {Spi1D, "From 0 1\nLength 2\nComponents 1\n{\n-0.5\n4.5\n}\n", false, 2, 1, 0, 4.5f},
        {Lut1D, ramp + "0 7 7 7\n", false, 256, 200, 0, 200 / 255.0f}, {Lut1D, ramp, false, 256, 3, 2, 1.0f},
        {CsvLog, csv, false, 6, 3, 2, 1000 / 1023.0f}, {CsvLog, csv, false, 6, 4, 0, 0.0f},
        {Zyt1D, zyt, false, 2, 1, 0, 0.5f}, {Zyt1D, zyt, false, 2, 0, 2, 1.0f},
        {Zyt1D, sourceText(Spi1D), false, 256, 128, 2, channel(128, 256, 2)},
    };
    for (const auto &r : rows) {
        Read_LUTFile lut;
        const QString what = QStringLiteral("%1 [%2][%3]: ").arg(r.format).arg(r.i).arg(r.c) + r.text.left(40);
        QVERIFY2(readAs(lut, file("rule", r.text), r.format, !r.flipped, !r.flipped), qPrintable(what + lut.errorString));
        QVERIFY2(lut.size1D == r.size && std::fabs(lut.table1D[r.i][r.c] - r.value) < 1e-6f, qPrintable(what));
    }
    QCOMPARE(LutFormats::forInput(file("d.lut", discreet))->id, int(Discreet));
    QCOMPARE(LutFormats::forInput(file("i.lut", sourceText(Lut1D)))->id, int(Lut1D));
}

// Truncated, garbage, binary junk, huge, negative and degenerate sizes: a clean false with a reason.
void TestFormat1D::badInputFailsCleanly()
{
    QByteArray junk, lut255 = "Index\n";
    for (int i = 0; i < 5000; ++i)
        junk += char((i * 7919 + 13) % 256);
    for (int i = 0; i < 255; ++i)
        lut255 += "1 1 2 3\n";
    QList<QPair<int, QByteArray>> cases{{Lut1D, lut255}, {CsvLog, "0\n1\n2,\n"},
        {Discreet, "0\n0.5\n1\n"}, {Discreet, "LUT: 3 1\n1\nLUT: 3 1\n1\n1\n"}, {Discreet, "LUT: 3 2\n1\n1\n1\n1\n1\n"},
        {Discreet, "LUT: 1 2\n1\n1\n"}, {Discreet, "LUT: 3 -5\n1\n"}, {Discreet, "LUT: 3 2000000000\n1\n"},
        {Discreet, "LUT: 3 1\n0\n0\n0\n"}, {Spi1D, "From 0 1\nComponents 1\n{\n0\n1\n}\n"},
        {Spi1D, "Length 99999999\nComponents 1\n{\n0\n}\n"}, {Spi1D, "Length -2\nComponents 1\n{\n0\n}\n"},
        {Spi1D, "Length 1\nComponents 4\n{\n0 0 0 0\n}\n"}, {Spi1D, "From 1 1\nLength 2\nComponents 1\n{\n0\n1\n}\n"},
        {Spi1D, "Length 3\nComponents 1\n{\n0\n0.5\n}\n"}, {Zyt1D, "Length 0\n"}, {Zyt1D, "Length 2000000\n0 0 0\n"},
        {Zyt1D, "Length 3\n0 0 0\n1 1 1\n"}, {Zyt1D, "Length 1\n0 0 0\n1 1 1\n"}, {Zyt1D, "From 1 0\nLength 1\n0 0 0\n"}};
    for (int format : {Discreet, Lut1D, Spi1D, CsvLog, Zyt1D})
        cases << qMakePair(format, QByteArray()) << qMakePair(format, junk) << qMakePair(format, QByteArray("hi\n{\n}\n"));
    for (const auto &c : cases) {
        Read_LUTFile lut;
        QVERIFY2(!readAs(lut, file("bad", c.second), c.first), c.second.left(60).constData());
        QVERIFY(!lut.errorString.isEmpty() && lut.size3D == 0);
    }
}

// OpenColorIO as an independent reader: of the corpus spi1d files (it accepts exactly what we
// accept, and agrees at one lattice point per entry) and of the spi1d (64 entries, 22-point lattice
// on every third) and 10-bit Discreet (1024 entries, 34 points on every 31st) files we write.
void TestFormat1D::ocioReadsCorpusAndWhatWeWrite()
{
    QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");
    const QDir dir(TestSupport::corpusDir() + "/colour-science/sony_spi1d");
    int compared = 0;
    for (const QFileInfo &info : dir.entryInfoList({"*.spi1d"}, QDir::Files)) {
        Read_LUTFile lut;
        const bool ours = readAs(lut, info.filePath(), Spi1D);
        const int m = ours ? lut.size1D : 16;
        QString error;
        const bool theirs = TestSupport::ociobake(info.filePath(), "iridas_cube", m, path("c.cube"), &error);
        QVERIFY2(ours == theirs, qPrintable(info.fileName() + ": " + lut.errorString + " / " + error));
        if (theirs && ++compared)
            compareBakedCube(path("c.cube"), m, [&lut](int c, int j) { return double(lut.table1D[j][c]); });
    }
    QVERIFY(TestSupport::corpusDir().isEmpty() || !dir.exists() || compared >= 2);
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
        QVERIFY2(TestSupport::ociobake(path(c.name), "iridas_cube", c.m, path("w.cube"), &error), qPrintable(error));
        const int step = (c.n - 1) / (c.m - 1);
        compareBakedCube(path("w.cube"), c.m, [&](int ch, int j) {
            const float v = lut.table1D[step * j][ch];
            return c.scale > 1 ? double(int(float(c.scale) * v)) / c.scale : double(v);
        });
    }
}

QTEST_GUILESS_MAIN(TestFormat1D)
#include "test_format_1d.moc"
