// The 1D formats (Discreet, spi1d, indexed lut, csv log, zyt1d): written texts, conversions, reading rules, bad input, OpenColorIO.

#include "TestSupport.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"
#include <QtEndian>
#include <QtTest>
#include <cmath>
#include <functional>

namespace {
constexpr int Cube = 0, Look = 5, Discreet = 6, Lut1D = 7, Csp = 9, Truelight = 10, Spi1D = 12, CsvLog = 14, Zyt1D = 15;

// own = false: data order BGR against an RGB table, so the channels are reversed on both sides.
bool io(Read_LUTFile &lut, const QString &path, int format, bool write = false, int scale = 1, bool own = true)
{
    LutFileOptions o{path, LutFormatId(format), own, own, true, scale, 0};
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

// channel() at 256 entries in the text of each readable 1D source (the indexed lut as 0..255 codes, Truelight's input
// LUT on 0..2 beside a 2-point cube); Discreet is channel-major, look hex floats, the others one line per entry.
QByteArray sourceText(int format)
{
    const double unit = format == Lut1D ? 255.0 : format == Truelight ? 2.0 : 1.0;
    auto num = [unit](int i, int c) { return QByteArray::number(channel(i, 256, c) * unit, 'g', 9); };
    auto hex = [](int i, int c) { char bytes[4]; qToLittleEndian(channel(i, 256, c), bytes); return QByteArray(bytes, 4).toHex(); };
    QByteArray body;
    for (int k = 0; k < (format == Discreet ? 768 : 256); ++k)
        body += format == Look ? hex(k, 0) + hex(k, 1) + hex(k, 2) : format == Discreet ? "  " + num(k % 256, k / 256) + '\n'
            : (format == Lut1D ? QByteArray::number(k) + '\t' : " ") + num(k, 0) + '\t' + num(k, 1) + ' ' + num(k, 2) + '\n';
    switch (format) {
    case Cube: return "LUT_1D_SIZE 256\n" + body;
    case Discreet: return "# d\nLUT: 3 256\n" + body;
    case Lut1D: return "Index\tRed\tGreen\tBlue\n" + body;
    case Spi1D: return "Version 1\nFrom 0.0 1.0\nLength 256\nComponents 3\n{\n" + body + "}\n";
    case Csp: return "CSPLUTV100\n1D\nBEGIN METADATA\nEND METADATA\n" + QByteArray("2\n0 1\n0 1\n").repeated(3) + "256\n" + body;
    case Truelight: return "# iDims 3\n# oDims 3\n# width 2 2 2\n# lutLength 256\n# InputLUT\n" + body + "# Cube\n" + QByteArray("0 0 0\n").repeated(8);
    case Look: return "<look><LUT1D><size>256</size><data>" + body + "</data></LUT1D></look>";
    default: return "From 0.0 1.0\nLength 256\n" + body;
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
    // Written texts; a table a format cannot hold is refused: 1D lut codes other than 0..255 or a length other than 256,
    // Discreet codes of odd lengths or depths, csv log channels that differ or codes whose top reads back on another scale.
    void writtenTexts()
    {
        Read_LUTFile lut, grey, dark, empty;
        const float v[2][3] = {{0.5f, 0.00001f, 0.0f}, {1.0f, 0.25f, 0.125f}};
        fill(lut, 2, [&v](int i, int c) { return v[i][c]; });
        fill(grey, 2, [](int i, int) { return i ? 0.75f : 0.5f; });
        fill(dark, 2, [](int i, int) { return i ? 0.4f : 0.1f; }); // its top code would read back on a smaller scale
        auto discreet = [](const char *scale, const char *a, const char *b, const char *c) {
            return QByteArray("# Discreet LUT file\n#      Channels: 3\n# Input Samples: 2\n#   Ouput Scale: ") + scale
                + "\n#\n#Exported from ostavel\n#\n\nLUT: 3 2\n     " + a + "\n     " + b + "\n     " + c + '\n';
        };
        struct { Read_LUTFile *lut; int format, scale; bool own; QByteArray text; } cases[] = {
            {&lut, Discreet, 1, true, discreet("1", "0.5\n     1", "1e-05\n     0.25", "0\n     0.125")},
            {&lut, Discreet, 1, false, discreet("1", "0\n     0.125", "1e-05\n     0.25", "0.5\n     1")}, // BGR
            {&lut, Discreet, 1023, true, "unwritten"},
            {&lut, Spi1D, 1, true, "Version 1\nFrom 0.0 1\nLength 2\nComponents 3\n{\n        0.5 1e-05 0 \n        1 0.25 0.125 \n}\n"},
            {&lut, Spi1D, 1, false, "Version 1\nFrom 0.0 1\nLength 2\nComponents 3\n{\n        0 1e-05 0.5 \n        0.125 0.25 1 \n}\n"},
            {&empty, Spi1D, 1, true, "Version 1\nFrom 0.0 1\nLength 0\nComponents 3\n{\n}\n"}, {&lut, Spi1D, 1023, true, "unwritten"},
            {&lut, Lut1D, 1, true, "unwritten"}, {&lut, CsvLog, 1, true, "unwritten"}, {&grey, CsvLog, 1, true, "0,\t0.5\n1,\t0.75\n"},
            {&grey, CsvLog, 1023, true, "0,\t512\n1,\t767\n"}, {&grey, CsvLog, 4095, true, "0,\t2048\n1,\t3071\n"},
            {&grey, CsvLog, 1000, true, "unwritten"}, {&dark, CsvLog, 1023, true, "unwritten"}, {&dark, CsvLog, 1, true, "0,\t0.1\n1,\t0.4\n"},
            {&lut, Zyt1D, 1, true, "From 0.0 1.0\nLength 2\n0.5 1e-05 0 \n1 0.25 0.125 \n"}, {&lut, Zyt1D, 1023, true, "unwritten"},
        };
        for (const auto &c : cases)
            QCOMPARE(io(*c.lut, path("text"), c.format, true, c.scale, c.own) ? TestSupport::readFile(path("text")) : "unwritten", c.text);
        Read_LUTFile ramp;
        fill(ramp, 256, [](int i, int) { return i / 255.0f; });
        QVERIFY(!io(ramp, path("t.lut"), Lut1D, true, 1023) && !io(ramp, path("t.lut"), Discreet, true, 1000));
    }

    // Every readable 1D source (a cube's, a csp's, Truelight's input LUT, a look's too) into every 1D writer and back, own
    // orders: red stays red. csv log refuses the table, whose channels differ.
    void channelsSurviveEveryConversion()
    {
        for (int from : {Cube, Look, Discreet, Lut1D, Csp, Truelight, Spi1D, Zyt1D}) {
            Read_LUTFile lut;
            QVERIFY2(io(lut, file("src", sourceText(from)), from) && lut.size1D == 256, qPrintable(lut.errorString));
            for (int to : {Discreet, Lut1D, Spi1D, CsvLog, Zyt1D}) {
                const QString what = QStringLiteral("%1 -> %2").arg(from).arg(to);
                Read_LUTFile back;
                const bool written = io(lut, path("d"), to, true, to == Lut1D ? 255 : to == Discreet ? 4095 : 1);
                QVERIFY2(written == (to != CsvLog), qPrintable(what));
                QVERIFY2(!written || (io(back, path("d"), to) && back.size1D == 256), qPrintable(what + back.errorString));
                for (int i = 0; written && i < 256 * 3; ++i)
                    QVERIFY2(std::fabs(back.table1D[i / 3][i % 3] - channel(i / 3, 256, i % 3)) <= (to == Lut1D ? 0.5 / 255 : to == Discreet ? 0.5 / 4095 : 0) + 2e-5,
                             qPrintable(QStringLiteral("%1: entry %2 channel %3").arg(what).arg(i / 3).arg(i % 3)));
            }
        }
    }

    // Reading rules, then bad input (size 0: a clean false with a reason). Discreet drops blanks in a value, takes codes
    // on the depth the header names (here 8 bits) and keeps reals; spi1d "From" is the input range, values unclamped; the
    // indexed lut takes 256 lines in line order, codes /255 clamped or reals; csv log takes 10 bits from its largest
    // code, sizes the table by the highest index, skips negative ones; zyt1d clamps by From.
    void readCases()
    {
        QByteArray ramp = "# ramp\nIndex\tRed\tGreen\tBlue\n", junk = QByteArray::fromHex("00ff13e7c0de7f454c46020101").repeated(400);
        for (int i = 0; i < 256; ++i)
            ramp += QByteArray::number(255 - i) + ' ' + QByteArray::number(i) + " 0 " + (i == 3 ? "300\n" : "1\n");
        const QByteArray discreet = "\n  # D\n\tLUT: 3 2 256\n0\n# mid\n  1 2\n\n 6\n 3\n  0 \n24\n";
        const QByteArray csv = "2,\t1023\n0, 0\n1,511\n-4,\t99\n9,\t5\n1,\tabc\n3,\t1000\n";
        const QByteArray zyt = "From 0.0 2.0\n\nLength 2\nFrom 0.0 1.0\n0 1 2\n1 3 0.5\n";
        struct Row { int format; QByteArray text; int size = 0, i = 0, c = 0; float value = 0; bool own = true; };
        std::vector<Row> rows{
            {Discreet, discreet, 2, 0, 1, 6 / 255.0f}, {Discreet, discreet, 2, 1, 0, 12 / 255.0f}, {Discreet, discreet, 2, 1, 0, 24 / 255.0f, false},
            {Discreet, "LUT: 3 2\n0.5\n0.8\n0.1\n0.2\n0\n1\n", 2, 1, 0, 0.8f}, {Discreet, "LUT: 3 1\n0\n0\n1\n", 1, 0, 2, 1.0f},
            {Discreet, "LUT: 3 1\n0\n0\n0\n", 1, 0, 0, 0.0f}, {Discreet, "LUT: 3 2\n0\n12\n6\n3\n0\n24\n"},
            {Discreet, "LUT: 3 2 12\n0\n12\n6\n3\n0\n24\n"}, {Discreet, "LUT: 3 1\n0.5\ninf\n0\n"},
            {Discreet, "LUT: 1 2\n0.25\n0.75\n", 2, 1, 2, 0.75f}, {Discreet, "LUT: 4 2\n0\n.1\n.2\n.3\n.4\n.5\n.9\n.9\n", 2, 1, 2, 0.5f},
            {Discreet, "LUT: 4 2\n0\n.1\n.2\n.3\n.4\n.5\n.9\n"},
            {Spi1D, "Components 1\nLength 3\nNote\nVersion 1\n{\n0.1\n\n0.4\n0.9\n}\n", 3, 2, 0, 0.9f},
            {Spi1D, "Length 1\nComponents 2\n{\n0.6 0.7\n}\n", 1, 0, 2, 0.0f},
            {Spi1D, "From -1 3\nLength 5\nComponents 1\n{\n-1\n0\n1\n2\n3\n}\n", 5, 3, 1, 0.75f},
            {Spi1D, "From 0 1\nLength 2\nComponents 1\n{\n-0.5\n4.5\n}\n", 2, 1, 0, 4.5f},
            {Lut1D, ramp + "0 7 7 7\n"}, {Lut1D, ramp, 256, 3, 2, 1.0f},
            {CsvLog, csv, 10, 3, 2, 1000 / 1023.0f}, {CsvLog, csv, 10, 4, 0, 0.0f}, {CsvLog, csv, 10, 9, 1, 5 / 1023.0f},
            {CsvLog, "1,\t940\n2,\t64\n3,\t500\n", 4, 1, 0, 940 / 1023.0f}, {CsvLog, "1,\t940\n2,\t64\n3,\t500\n", 4, 0, 0, 0.0f},
            {Lut1D, "Index\n" + QByteArray("1 0.5 0.25 0\n").repeated(256), 256, 9, 0, 0.5f}, {Lut1D, QByteArray(ramp).replace(" 300\n", " inf\n")},
            {Zyt1D, zyt, 2, 1, 0, 0.5f}, {Zyt1D, zyt, 2, 1, 1, 1.0f}, {Zyt1D, sourceText(Spi1D), 256, 128, 2, channel(128, 256, 2)},
            {Lut1D, "Index\n" + QByteArray("1 1 2 3\n").repeated(255)}, {Lut1D, "Index\n" + QByteArray("1 1 2 3\n").repeated(1024)},
            {Lut1D, "Index\n" + QByteArray("1 1 2 3\n").repeated(256) + "end\n", 256, 255, 2, 3 / 255.0f}, {CsvLog, "0\n1\n2,\n"}, {Discreet, "0\n0.5\n1\n"},
            {Discreet, "LUT: 3 1\n1\nLUT: 3 1\n1\n1\n"}, {Discreet, "LUT: 3 2\n1\n1\n1\n1\n1\n"}, {Discreet, "LUT: 2 2\n1\n1\n1\n1\n"},
            {Discreet, "LUT: 3 -5\n1\n"}, {Discreet, "LUT: 3 2000000000\n1\n"}, {Zyt1D, "Length 0\n"},
            {Spi1D, "From 0 1\nComponents 1\n{\n0\n1\n}\n"}, {Spi1D, "Length 99999999\nComponents 1\n{\n0\n}\n"},
            {Spi1D, "Length -2\nComponents 1\n{\n0\n}\n"}, {Spi1D, "Length 1\nComponents 4\n{\n0 0 0 0\n}\n"}, {Zyt1D, "Length 3\n0 0 0\n"},
            {Spi1D, "From 1 1\nLength 2\nComponents 1\n{\n0\n1\n}\n"}, {Spi1D, "Length 3\nComponents 1\n{\n0\n0.5\n}\n"},
            // The block ends at "}"; a sample past the Length or a line that is no numbers is refused.
            {Spi1D, "Length 3\nComponents 1\n{\n0.1\n0.4\n}\n0.9\n}\n"}, {Spi1D, "Length 2\nComponents 1\n{\n0\n1\n2\n}\n"},
            {Spi1D, "Length 2\nComponents 1\n{\n0\nx\n1\n}\n"},
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
        QCOMPARE(LutFormats::forInput(file("d.lut", discreet))->number(), int(Discreet));
        QCOMPARE(LutFormats::forInput(file("i.lut", sourceText(Lut1D)))->number(), int(Lut1D));
    }

    // OpenColorIO as an independent reader of the corpus spi1d files: it accepts exactly what we accept, and its 1D bake
    // at our length agrees entry for entry.
    void ocioReadsCorpus()
    {
        QVERIFY2(TestSupport::haveOcio(), "ociobakelut (opencolorio-tools) is not installed");
        const QDir dir(TestSupport::corpusDir() + "/colour-science/sony_spi1d");
        int compared = 0;
        QString error;
        for (const QFileInfo &info : dir.entryInfoList({"*.spi1d"}, QDir::Files)) {
            Read_LUTFile lut;
            const bool ours = io(lut, info.filePath(), Spi1D);
            const bool theirs = TestSupport::ociobake(info.filePath(), "resolve_cube", ours ? lut.size1D : 16, path("c.cube"), &error);
            QVERIFY2(ours == theirs, qPrintable(info.fileName() + ": " + lut.errorString + " / " + error));
            const std::vector<float> baked = TestSupport::parseCubeText(path("c.cube")).values;
            QVERIFY(!theirs || baked.size() == size_t(lut.size1D) * 3);
            for (size_t k = 0; theirs && k < baked.size(); ++k)
                QVERIFY2(std::fabs(baked[k] - lut.table1D[k / 3][k % 3]) <= 1e-6f, qPrintable(info.fileName()));
            compared += theirs;
        }
        QVERIFY(TestSupport::corpusDir().isEmpty() || !dir.exists() || compared >= 2);
    }
};

QTEST_GUILESS_MAIN(TestFormat1D)
#include "test_format_1d.moc"
