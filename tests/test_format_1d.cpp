// The 1D formats (Discreet, spi1d, indexed lut, csv log, zyt1d): written texts, conversions, reading rules, bad input, OpenColorIO.

#include "TestSupport.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"
#include <QtTest>
#include <cmath>
#include <functional>

namespace {
constexpr int Cube = 0, Discreet = 6, Lut1D = 7, Spi1D = 12, CsvLog = 14, Zyt1D = 15;

// own = false: data order BGR against an RGB table, so the channels are reversed on both sides.
bool io(Read_LUTFile &lut, const QString &path, int format, bool write = false, int scale = 1, bool own = true)
{
    LutFileOptions o{path, format, own, own, true, scale, 0};
    return write ? Write_LUTFile().writeLut(o, &lut) : lut.readLut(o, false);
}
// Three channels that differ everywhere: red rises fastest, blue slowest.
float channel(int i, int n, int c) { return float(i) / float(n - 1) / float(1 << c); }
void fill(Read_LUTFile &lut, int n, const std::function<float(int, int)> &f)
{
    QVERIFY(lut.setSize1D(n, false));
    for (int i = 0; i < n * 3; ++i)
        lut.table1D[i / 3][i % 3] = f(i / 3, i % 3);
}

// channel() at 256 entries in the text of each readable source (the indexed lut on 0..255);
// Discreet is channel-major, the others one red-green-blue line per entry.
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

// The diagonal and three axes of a baked cube of size m (red fastest) against f(channel, lattice index).
void compareBakedCube(const QString &path, int m, const std::function<double(int, int)> &f)
{
    const TestSupport::CubeText cube = TestSupport::parseCubeText(path);
    QCOMPARE(cube.values.size(), size_t(m) * m * m * 3);
    auto off = [&](int r, int g, int b, int c) { return std::fabs(cube.values[3 * (r + size_t(m) * (g + size_t(m) * b)) + c]
                                                                  - f(c, c == 0 ? r : c == 1 ? g : b)) <= 2e-6; };
    for (int k = 0; k < m; ++k)
        for (int c = 0; c < 3; ++c)
            QVERIFY2(off(k, k, k, c) && off(k, 0, 0, c) && off(0, k, 0, c) && off(0, 0, k, c),
                     qPrintable(QStringLiteral("%1: point %2 channel %3").arg(path).arg(k).arg(c)));
}
} // namespace

class TestFormat1D : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString file(const QString &name, const QByteArray &text) const { return TestSupport::writeFile(path(name), text); }

private slots:
    void writtenTexts()
    {
        Read_LUTFile lut, empty;
        const float v[2][3] = {{0.5f, 0.00001f, 0.0f}, {1.0f, 0.25f, 0.125f}};
        fill(lut, 2, [&v](int i, int c) { return v[i][c]; });
        auto discreet = [](const char *scale, const char *a, const char *b, const char *c) {
            return QByteArray("# Discreet LUT file\n#      Channels: 3\n# Input Samples: 2\n#   Ouput Scale: ") + scale
                + "\n#\n#Exported from ostavel\n#\n\nLUT: 3 2\n     " + a + "\n     " + b + "\n     " + c + '\n';
        };
        struct { Read_LUTFile *lut; int format, scale; bool own; QByteArray text; } cases[] = {
            {&lut, Discreet, 1, true, discreet("1", "0.5\n     1", "1e-05\n     0.25", "0\n     0.125")},
            {&lut, Discreet, 1023, false, discreet("1023", "0\n     127", "0\n     255", "511\n     1023")}, // BGR; codes
            {&lut, Spi1D, 1, true, "Version 1\nFrom 0.0 1\nLength 2\nComponents 3\n{\n        0.5 1e-05 0 \n        1 0.25 0.125 \n}\n"},
            {&empty, Spi1D, 1, true, "Version 1\nFrom 0.0 1\nLength 0\nComponents 3\n{\n}\n"},
            {&lut, Lut1D, 1, true, "Index\tRed\tGreen\tBlue\n0\t0.5\t1e-05\t0\t\n1\t1\t0.25\t0.125\t\n"},
            {&lut, CsvLog, 1, true, "0,\t0.5\n1,\t1\n"}, {&lut, CsvLog, 1023, true, "0,\t511\n1,\t1023\n"},
            {&lut, Zyt1D, 1023, true, "From 0.0 1.0\nLength 2\n0.5 1e-05 0 \n1 0.25 0.125 \n"},
        };
        for (const auto &c : cases)
            QCOMPARE(io(*c.lut, path("text"), c.format, true, c.scale, c.own) ? TestSupport::readFile(path("text")) : "unwritten", c.text);
    }

    // Every readable source (the cube's 1D table too) into every 1D writer and back, own orders: red stays red. csv log keeps
    // red alone, in all three channels, as the reals it wrote; the indexed lut reader takes the reals on its 0..255 scale.
    void channelsSurviveEveryConversion()
    {
        for (int from : {Cube, Discreet, Lut1D, Spi1D, Zyt1D}) {
            Read_LUTFile lut;
            QVERIFY2(io(lut, file("src", sourceText(from)), from), qPrintable(lut.errorString));
            for (int to : {Discreet, Lut1D, Spi1D, CsvLog, Zyt1D}) {
                const QString what = QStringLiteral("%1 -> %2").arg(from).arg(to);
                Read_LUTFile back;
                QVERIFY2(io(lut, path("d"), to, true) && io(back, path("d"), to) && back.size1D == 256, qPrintable(what + back.errorString));
                for (int i = 0; i < 256 * 3; ++i)
                    QVERIFY2(std::fabs(back.table1D[i / 3][i % 3] - channel(i / 3, 256, to == CsvLog ? 0 : i % 3)
                                       * (to == Lut1D ? 1.0 / 255.0 : 1.0)) <= 2e-5,
                             qPrintable(QStringLiteral("%1: entry %2 channel %3").arg(what).arg(i / 3).arg(i % 3)));
            }
        }
    }

    // Reading rules, then bad input (size 0: a clean false with a reason). Discreet drops blanks in a value, scales by
    // the largest; spi1d "From" is the input range, values unclamped; the indexed lut takes 256 lines in line order,
    // clamped; csv log takes 10 bits from a last code of 1000, skips out-of-table indices; zyt1d clamps by From.
    void readCases()
    {
        QByteArray ramp = "# ramp\nIndex\tRed\tGreen\tBlue\n", junk = QByteArray::fromHex("00ff13e7c0de7f454c46020101").repeated(400);
        for (int i = 0; i < 256; ++i)
            ramp += QByteArray::number(255 - i) + ' ' + QByteArray::number(i) + " 0 " + (i == 3 ? "300\n" : "1\n");
        const QByteArray discreet = "\n  # D\n\tLUT: 3 2\n0\n# mid\n  1 2\n\n 6\n 3\n  0 \n24\n";
        const QByteArray csv = "2,\t1023\n0, 0\n1,511\n-4,\t99\n9,\t5\n1,\tabc\n3,\t1000\n";
        const QByteArray zyt = "From 0.0 2.0\n\nLength 2\nFrom 0.0 1.0\n0 1 2\n1 3 0.5\n";
        struct Row { int format; QByteArray text; int size = 0, i = 0, c = 0; float value = 0; bool own = true; };
        std::vector<Row> rows{
            {Discreet, discreet, 2, 0, 1, 0.25f}, {Discreet, discreet, 2, 1, 0, 0.5f}, {Discreet, discreet, 2, 1, 0, 1.0f, false},
            {Spi1D, "Components 1\nLength 3\nNote\nVersion 1\n{\n0.1\n\n0.4\n}\n0.9\n}\n", 3, 2, 0, 0.9f},
            {Spi1D, "Length 1\nComponents 2\n{\n0.6 0.7\n}\n", 1, 0, 2, 0.0f},
            {Spi1D, "From -1 3\nLength 5\nComponents 1\n{\n-1\n0\n1\n2\n3\n}\n", 5, 3, 1, 0.75f},
            {Spi1D, "From 0 1\nLength 2\nComponents 1\n{\n-0.5\n4.5\n}\n", 2, 1, 0, 4.5f},
            {Lut1D, ramp + "0 7 7 7\n", 256, 200, 0, 200 / 255.0f}, {Lut1D, ramp, 256, 3, 2, 1.0f},
            {CsvLog, csv, 6, 3, 2, 1000 / 1023.0f}, {CsvLog, csv, 6, 4, 0, 0.0f},
            {Zyt1D, zyt, 2, 1, 0, 0.5f}, {Zyt1D, zyt, 2, 1, 1, 1.0f}, {Zyt1D, sourceText(Spi1D), 256, 128, 2, channel(128, 256, 2)},
            {Lut1D, "Index\n" + QByteArray("1 1 2 3\n").repeated(255)}, {CsvLog, "0\n1\n2,\n"}, {Discreet, "0\n0.5\n1\n"},
            {Discreet, "LUT: 3 1\n1\nLUT: 3 1\n1\n1\n"}, {Discreet, "LUT: 3 2\n1\n1\n1\n1\n1\n"}, {Discreet, "LUT: 1 2\n1\n1\n"},
            {Discreet, "LUT: 3 -5\n1\n"}, {Discreet, "LUT: 3 2000000000\n1\n"}, {Discreet, "LUT: 3 1\n0\n0\n0\n"}, {Zyt1D, "Length 0\n"},
            {Spi1D, "From 0 1\nComponents 1\n{\n0\n1\n}\n"}, {Spi1D, "Length 99999999\nComponents 1\n{\n0\n}\n"},
            {Spi1D, "Length -2\nComponents 1\n{\n0\n}\n"}, {Spi1D, "Length 1\nComponents 4\n{\n0 0 0 0\n}\n"}, {Zyt1D, "Length 3\n0 0 0\n"},
            {Spi1D, "From 1 1\nLength 2\nComponents 1\n{\n0\n1\n}\n"}, {Spi1D, "Length 3\nComponents 1\n{\n0\n0.5\n}\n"},
            {Zyt1D, "Length 2000000\n0 0 0\n"}, {Zyt1D, "Length 1\n0 0 0\n1 1 1\n"}, {Zyt1D, "From 1 0\nLength 1\n0 0 0\n"},
            // csv log code values that no power of two reaches: a reason, no endless scale search.
            {CsvLog, "0,\t1e30\n"}, {CsvLog, "0,\t5\n1,\tinf\n"}, {CsvLog, "0,\tnan\n"}, {CsvLog, "0,\t4.7e18\n"},
            {CsvLog, "0,\t4611686018427387904\n", 1, 0, 0, 1.0f}};
        for (int format : {Discreet, Lut1D, Spi1D, CsvLog, Zyt1D})
            for (const QByteArray &bad : {QByteArray(), junk, QByteArray("hi\n{\n}\n")})
                rows.push_back({format, bad});
        for (const Row &r : rows) {
            Read_LUTFile lut;
            const bool ok = io(lut, file("rule", r.text), r.format, false, 1, r.own);
            const QString what = QStringLiteral("%1 [%2][%3] %4: ").arg(r.format).arg(r.i).arg(r.c).arg(lut.errorString) + r.text.left(40);
            QVERIFY2(ok == (r.size > 0) && (ok || !lut.errorString.isEmpty()) && lut.size3D == 0, qPrintable(what));
            QVERIFY2(!ok || (lut.size1D == r.size && std::fabs(lut.table1D[r.i][r.c] - r.value) < 1e-6f), qPrintable(what));
        }
        QCOMPARE(LutFormats::forInput(file("d.lut", discreet))->id, Discreet);
        QCOMPARE(LutFormats::forInput(file("i.lut", sourceText(Lut1D)))->id, Lut1D);
    }

    // OpenColorIO as an independent reader: of the corpus spi1d files (it accepts exactly what we accept, and agrees at
    // one lattice point per entry) and of the spi1d and 10-bit Discreet files we write (a lattice point every few entries).
    void ocioReadsCorpusAndWhatWeWrite()
    {
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");
        const QDir dir(TestSupport::corpusDir() + "/colour-science/sony_spi1d");
        int compared = 0;
        QString error;
        for (const QFileInfo &info : dir.entryInfoList({"*.spi1d"}, QDir::Files)) {
            Read_LUTFile lut;
            const bool ours = io(lut, info.filePath(), Spi1D);
            const int m = ours ? lut.size1D : 16;
            const bool theirs = TestSupport::ociobake(info.filePath(), "iridas_cube", m, path("c.cube"), &error);
            QVERIFY2(ours == theirs, qPrintable(info.fileName() + ": " + lut.errorString + " / " + error));
            if (theirs && ++compared)
                compareBakedCube(path("c.cube"), m, [&lut](int c, int j) { return double(lut.table1D[j][c]); });
        }
        QVERIFY(TestSupport::corpusDir().isEmpty() || !dir.exists() || compared >= 2);
        struct { int format, n, m, scale; const char *name; } cases[] = {{Spi1D, 64, 22, 1, "o.spi1d"}, {Discreet, 1024, 34, 1023, "o.lut"}};
        for (const auto &c : cases) {
            Read_LUTFile lut;
            fill(lut, c.n, [&c](int i, int ch) { const double t = double(i) / (c.n - 1);
                return float(ch == 0 ? std::pow(t, 2.2) : ch == 1 ? std::sqrt(t) : 1.0 - 0.6 * t); });
            QVERIFY2(io(lut, path(c.name), c.format, true, c.scale)
                         && TestSupport::ociobake(path(c.name), "iridas_cube", c.m, path("w.cube"), &error), qPrintable(error));
            compareBakedCube(path("w.cube"), c.m, [&](int ch, int j) { const float v = lut.table1D[(c.n - 1) / (c.m - 1) * j][ch];
                return c.scale > 1 ? double(int(float(c.scale) * v)) / c.scale : double(v); });
        }
    }
};

QTEST_GUILESS_MAIN(TestFormat1D)
#include "test_format_1d.moc"
