// The fast paths against the general ones they stand for: the scanner's
// word-at-a-time decimals and field lists against the general conversion,
// the text buffer against the toolkit's stream and printf, and threaded
// reading, resampling and writing against one thread.

#include "TestSupport.h"

#include "calc/LutCalc.h"
#include "lut/LutParallel.h"
#include "lut/LutScan.h"
#include "lut/LutTextInput.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QTextStream>

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>

namespace {

// Runs job with the given number of threads for every piece of work.
template <typename Job>
auto withThreads(int count, Job job)
{
    LutParallel::setThreads(count);
    auto result = job();
    LutParallel::setThreads(0);
    return result;
}

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A random token for a data line: mostly plain decimals of every length
// around the fast paths' limits, some of everything else a scanner meets.
QByteArray randomToken(QRandomGenerator &random)
{
    static const char *const others[] = {"nan", "-inf", "0x1p-3", "1e-3", "2.5E+2", "1e", "+.5", "-", ".", "x",
                                         "16777216", "16777217", "16777216.5", "0.99999994", "123456789012345678901",
                                         "3.4028236e38", "1e-46", "00000000000000000000001.5", "1.", "-0", "1,5"};
    if (random.bounded(6) == 0)
        return others[random.bounded(int(sizeof others / sizeof *others))];
    QByteArray token;
    if (random.bounded(4) == 0)
        token += '-';
    if (random.bounded(4) == 0) {
        // The six-decimal shape most data lines have, or one character off it.
        token += QByteArray::number(random.bounded(10)) + '.';
        for (int i = 0; i < 6; ++i)
            token += char('0' + random.bounded(10));
        if (random.bounded(4) == 0)
            token[random.bounded(token.size())] = "0.9e,-+x"[random.bounded(8)];
        return token;
    }
    for (int i = random.bounded(9); i > 0; --i)
        token += char('0' + random.bounded(10));
    if (random.bounded(5) != 0) {
        token += '.';
        for (int i = random.bounded(13); i > 0; --i)
            token += char('0' + random.bounded(10));
    }
    return token;
}

// The text a cube writer gives a table, through writeLut with the format's
// own default order and the scale given.
QByteArray written(Read_LUTFile *lut, int format, int scale, const QString &path)
{
    LutFileOptions options;
    options.path = path;
    options.format = LutFormatId(format);
    options.outputScale = scale;
    options.dataOrderRGB = true;
    options.tableOrderRGB = false;
    Write_LUTFile writer;
    return writer.writeLut(options, lut) ? TestSupport::readFile(path) : QByteArray("write failed");
}

// A random float of every kind a table can hold: ordinary values, exact
// halves of the sixth decimal, huge and tiny ones, NaN and infinities.
float randomValue(QRandomGenerator &random)
{
    switch (random.bounded(8)) {
    case 0: {
        const quint32 bits = random.generate();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    case 1:
        return float(random.bounded(2000001) - 1000000) / 128.0f; // ties at the sixth decimal
    case 2:
        return float(random.bounded(8193)) / 8192.0f;
    default:
        return float(random.generateDouble() * 1.2 - 0.1);
    }
}

} // namespace

class TestFastPaths : public QObject
{
    Q_OBJECT

private slots:
    void workerFailuresReachTheCaller();
    void conversionOutOfMemoryIsAMessage();
    void scannerMatchesTheGeneralConversion();
    void fieldsCountedAsOneByOne();
    void textBufferWritesWhatTheToolkitStreamWrites();
    void tableBodiesMatchPrintfOnEveryThreadCount();
    void blocksOfLinesAreTheLinesOneByOne();
    void threadedReadsMatchOneThread();
    void threadedResampleMatchesTheSampler();
};

void TestFastPaths::scannerMatchesTheGeneralConversion()
{
    QRandomGenerator random(13);
    for (int i = 0; i < 100000; ++i) {
        // One token against std::from_chars, the exact conversion.
        const QByteArray token = randomToken(random);
        const bool plain = !token.isEmpty() && token.count('.') <= 1 && !token.contains(',')
            && std::all_of(token.begin() + (token[0] == '-'), token.end(), [](char c) { return c == '.' || std::isdigit(uchar(c)); })
            && token != "-" && token != "." && token != "-.";
        if (plain) {
            float f = -7, expectedF = -7;
            double d = -7, expectedD = -7;
            std::from_chars(token.constData(), token.constData() + token.size(), expectedF);
            std::from_chars(token.constData(), token.constData() + token.size(), expectedD);
            QCOMPARE(LutScan::scan(token, "%f", &f), 1);
            QCOMPARE(LutScan::scan(token, "%lf", &d), 1);
            QVERIFY2(sameBits(f, expectedF) && d == expectedD, token.constData());
        }
        // A line of six against the general loop, which a leading blank in
        // the pattern selects without changing the meaning.
        QByteArray line;
        for (int t = random.bounded(8); t > 0; --t)
            line += randomToken(random) + QByteArray(random.bounded(3) + 1, random.bounded(4) ? ' ' : '\t');
        int fi[3] = {1, 2, 3}, gi[3] = {1, 2, 3};
        float ff[3] = {4, 5, 6}, gf[3] = {4, 5, 6};
        const int fast = LutScan::scan(line, "%d %d %d %f %f %f", &fi[0], &fi[1], &fi[2], &ff[0], &ff[1], &ff[2]);
        const int general = LutScan::scan(line, " %d %d %d %f %f %f", &gi[0], &gi[1], &gi[2], &gf[0], &gf[1], &gf[2]);
        QVERIFY2(fast == general && std::equal(fi, fi + 3, gi), line.constData());
        for (int c = 0; c < 3; ++c)
            QVERIFY2(sameBits(ff[c], gf[c]), line.constData());
        double fd[3] = {7, 8, 9}, gd[3] = {7, 8, 9};
        QCOMPARE(LutScan::scan(line, "%lf %lf %lf", &fd[0], &fd[1], &fd[2]),
                 LutScan::scan(line, " %lf %lf %lf", &gd[0], &gd[1], &gd[2]));
        QVERIFY2(std::memcmp(fd, gd, sizeof fd) == 0, line.constData());
        // A data line in one pass: what the pattern and the field count say,
        // also where tokens touch ("1-2") or blanks end the line.
        QByteArray touching = line;
        if (random.bounded(2))
            touching = randomToken(random) + randomToken(random) + ' ' + line;
        for (const QByteArray &text : {line, touching, line.trimmed()}) {
            float sf[3] = {4, 5, 6}, pf[3] = {4, 5, 6};
            int fields = -1;
            QCOMPARE(LutScan::floatFields(text.constData(), text.size(), sf, 3, &fields),
                     LutScan::scan(text, "%f %f %f", &pf[0], &pf[1], &pf[2]));
            QVERIFY2(fields == LutScan::fieldCount(text), text.constData());
            for (int c = 0; c < 3; ++c)
                QVERIFY2(sameBits(sf[c], pf[c]), text.constData());
        }
    }
}

void TestFastPaths::fieldsCountedAsOneByOne()
{
    QRandomGenerator random(7);
    const char alphabet[] = " \t\n\v\f\r0.5x\x80\xff";
    for (int i = 0; i < 20000; ++i) {
        QByteArray line;
        for (int n = random.bounded(40); n > 0; --n)
            line += alphabet[random.bounded(int(sizeof alphabet) - 1)];
        int expected = 0;
        bool inField = false;
        for (const char c : line) {
            const bool blank = std::strchr(" \t\n\v\f\r", c) != nullptr && c != '\0';
            expected += !blank && !inField;
            inField = !blank;
        }
        QCOMPARE(LutScan::fieldCount(line), expected);
    }
}

void TestFastPaths::textBufferWritesWhatTheToolkitStreamWrites()
{
    QByteArray expected;
    QTextStream reference(&expected);
    reference.setCodec("UTF-8");
    LutTextStream ours;
    const auto both = [&](auto value) {
        reference << value;
        ours << value;
    };
    both('a');
    both(char(0xE9)); // Latin-1, two bytes of UTF-8
    both("Mesh \xB5");
    both(QLatin1String("\t\xE9 "));
    both(QStringLiteral("语言 ✓ \U0001F600 "));
    both(QByteArray("bytes \xE2\x9C\x93 \xFF bad "));
    both(-2147483647 - 1);
    both(qint64(-9000000000LL));
    both(quint64(18446744073709551615ULL));
    both(4095u);
    // Reals in the precisions writers use (printf's forms, which the
    // toolkit's stream gives too but for a negative zero and precision 0).
    const double reals[] = {0.0, 0.1, 1e-5, 123456789.0, -0.25, 1e300, 5e-324, 65504.0, 1.0 / 3.0, -2.5e-7,
                            std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL};
    for (const auto notation : {QTextStream::SmartNotation, QTextStream::FixedNotation, QTextStream::ScientificNotation}) {
        for (const int precision : {6, 9, 17}) {
            reference.setRealNumberNotation(notation);
            reference.setRealNumberPrecision(precision);
            ours.setRealNumberNotation(notation);
            ours.setRealNumberPrecision(precision);
            for (const double v : reals) {
                both(v);
                both(float(v));
                both(' ');
            }
        }
    }
    reference.flush();
    QCOMPARE(ours.text(), expected);
}

void TestFastPaths::tableBodiesMatchPrintfOnEveryThreadCount()
{
    // 40 points: blocks of several planes, more blocks than threads.
    QTemporaryDir dir;
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(40, false));
    QRandomGenerator random(40);
    for (int i = 0; i < 40 * 40 * 40 * 3; ++i)
        lut.table3D.data()[i] = randomValue(random);
    const auto code = [](float v, int scale) {
        const double product = double(scale) * double(v);
        return product >= scale ? scale : product > 0 ? int(std::floor(product + 0.5)) : 0;
    };
    // cube: reals; Pandora: codes after the entry number; spi3d: the lattice
    // indices first. Each line against snprintf of the entry it stands for.
    const struct { int format, scale; const char *first; } forms[] = {{0, 1, "LUT_3D_SIZE 40"}, {4, 4095, "values\tred\tgreen\tblue"},
                                                                     {13, 1, "40 40 40"}};
    for (const auto &form : forms) {
        const QByteArray one = withThreads(1, [&] { return written(&lut, form.format, form.scale, dir.filePath("one")); });
        for (const int threads : {2, 5})
            QCOMPARE(withThreads(threads, [&] { return written(&lut, form.format, form.scale, dir.filePath("many")); }), one);
        const QList<QByteArray> lines = one.split('\n');
        const int body = lines.indexOf(QByteArray(form.first)) + 1;
        QVERIFY(body > 0 && lines.size() == body + 64000 + 1);
        for (int e = 0; e < 64000; ++e) {
            // cube and spi3d run blue fastest in this order, Pandora by its own order (red slowest).
            const int a = e / 1600, b = e / 40 % 40, c = e % 40;
            char text[512];
            if (form.format == 0) {
                const float *v = lut.table3D[c][b][a];
                std::snprintf(text, sizeof text, "%8.6f %8.6f %8.6f", double(v[0]), double(v[1]), double(v[2]));
            } else if (form.format == 4) {
                const float *v = lut.table3D[a][b][c];
                std::snprintf(text, sizeof text, "%d\t%d\t%d\t%d\t", e, code(v[0], 4095), code(v[1], 4095), code(v[2], 4095));
            } else {
                const float *v = lut.table3D[a][b][c];
                std::snprintf(text, sizeof text, "%d %d %d %8.6f %8.6f %8.6f", a, b, c, double(v[0]), double(v[1]),
                              double(v[2]));
            }
            QCOMPARE(lines[body + e], QByteArray(text));
        }
    }
    // 1D values in the stream's smart notation are printf's "%g".
    QVERIFY(lut.setSize1D(4096, false));
    for (int i = 0; i < 4096 * 3; ++i)
        lut.table1D.data()[i] = randomValue(random);
    Write_LUTFile writer;
    for (int n = 0; n < 4096; ++n) {
        LutTextStream stream;
        writer.writeLut1DEntry(lut.table1D, stream, n, 1, QStringLiteral(" "));
        char text[256];
        const float *v = lut.table1D[n];
        std::snprintf(text, sizeof text, "%g %g %g ", double(v[0]), double(v[1]), double(v[2]));
        QCOMPARE(stream.text(), QByteArray(text));
    }
}

void TestFastPaths::blocksOfLinesAreTheLinesOneByOne()
{
    // Random text with every kind of line end, blanks at both ends, empty
    // lines, a byte-order mark, an over-long line and no end on the last
    // line: the lines of blocks (of any size, on one thread or several) are
    // those readTrimmedLine gives, with the same line numbers, and reading
    // line by line goes on where a block reader stopped.
    QTemporaryDir dir;
    QRandomGenerator random(11);
    for (int file = 0; file < 6; ++file) {
        QByteArray text = file % 2 ? "\xEF\xBB\xBF" : "";
        for (int line = random.bounded(20000); line > 0; --line) {
            text += QByteArray(random.bounded(3), random.bounded(2) ? ' ' : '\t') + randomToken(random) + ' '
                + randomToken(random) + QByteArray(random.bounded(2), ' ');
            text += random.bounded(10) ? "\n" : random.bounded(2) ? "\r\n" : "\n\n";
        }
        if (file == 2)
            text += QByteArray(LutTextInput::kMaxLineLength + 100, '7') + "\n1 2 3\n";
        text += "last 1";
        const QString path = TestSupport::writeFile(dir.filePath(QStringLiteral("lines%1.txt").arg(file)), text);
        LutTextInput one(path);
        QList<QPair<qint64, QByteArray>> expected;
        for (QByteArray line; one.readTrimmedLine(line);)
            expected << qMakePair(one.lineNumber(), line);
        for (const bool parallel : {false, true}) {
            const int blockBytes = 1 << random.bounded(8, 20);
            const int stopAt = random.bounded(expected.size());
            LutTextInput blocks(path);
            QList<QPair<qint64, QByteArray>> got;
            qint64 number = 0;
            const bool stopped = withThreads(3, [&] {
                return blocks.readLines<QByteArray>(
                    parallel, [&] { return blockBytes; },
                    [](const QByteArray &line, QByteArray &copy) { copy = QByteArray(line.constData(), line.size()); },
                    [&](const QByteArray &line) {
                        got << qMakePair(++number, line);
                        return got.size() <= stopAt;
                    });
            });
            QVERIFY(stopped);
            QCOMPARE(blocks.lineNumber(), number);
            for (QByteArray line; blocks.readTrimmedLine(line);)
                got << qMakePair(blocks.lineNumber(), line);
            QCOMPARE(got, expected);
        }
    }
}

void TestFastPaths::threadedReadsMatchOneThread()
{
    // Files of more than one block, with what the readers skip or carry
    // over: comments, blank lines, line ends of both kinds, short lines
    // (their missing values keep the line before's), and an early end.
    QTemporaryDir dir;
    QRandomGenerator random(3);
    QByteArray cube = "# a comment\r\nLUT_3D_SIZE 40\n";
    QByteArray threeDl = "3DMESH\nMesh 5 12\n" + QByteArray("0 32 64 96 128 160 192 224 256 288 320 352 384 416 448 480 "
                                                           "512 544 576 608 640 672 704 736 768 800 832 864 896 928 960 "
                                                           "992 1023\n");
    QByteArray spi3d = "SPILUT 1.0\n3 3\n32 32 32\n";
    for (int e = 0; e < 64000; ++e) {
        const int kind = random.bounded(50);
        if (kind == 0)
            cube += "\n# between\n";
        cube += QByteArray::number(random.generateDouble(), 'f', 6);
        if (kind != 1)
            cube += ' ' + QByteArray::number(random.generateDouble(), 'g', 9) + ' ' + randomToken(random);
        cube += kind == 2 ? "\r\n" : "\n";
        if (e < 33 * 33 * 33)
            threeDl += QByteArray::number(random.bounded(4096)) + (kind == 3 ? "\n" : " 17 4095\n");
        if (e < 40000) // some lattice points twice, some lines bad
            spi3d += QByteArray::number(random.bounded(33)) + ' ' + QByteArray::number(random.bounded(32)) + ' '
                + QByteArray::number(random.bounded(32)) + ' ' + randomToken(random) + " 0.5 0.25\n";
    }
    // Tables of whole entries, which are stored part by part on several
    // threads: comments and blank lines between entries, values the domain
    // clamps, lines after the table, a table that ends short (by its last
    // entry alone, and by more), a malformed line deep in the file, a 1D table.
    QByteArray clean = "LUT_3D_SIZE 40\n";
    QByteArray clean1D = "LUT_1D_SIZE 65536\n";
    for (int e = 0; e < 65536; ++e) {
        QByteArray line;
        for (int c = 0; c < 3; ++c)
            line += QByteArray::number(random.generateDouble() * 1.01, 'f', 6) + (c < 2 ? " " : "\n");
        if (random.bounded(500) == 0)
            line += random.bounded(2) ? "# between\n" : "\n";
        clean1D += line;
        if (e < 64000)
            clean += line;
    }
    const int lastEntry = clean.lastIndexOf('\n', clean.size() - 2) + 1;
    QByteArray badLine = clean;
    badLine.insert(clean.indexOf('\n', clean.size() * 3 / 4) + 1, "0.5 0.5\n");
    const struct { const char *name; int format; QByteArray text; const char *start; } files[] = {
        {"whole.cube", 0, cube, ""}, {"short.cube", 0, cube.left(cube.size() * 2 / 3), ""}, {"file.3dl", 3, threeDl, ""},
        {"file.spi3d", 13, spi3d, ""}, {"clean.cube", 0, clean + clean.mid(20, 60000), "1"},
        {"last-missing.cube", 0, clean.left(lastEntry), "1"},
        {"cut.cube", 0, clean.left(clean.indexOf('\n', clean.size() / 2) + 1), "0the file ends after"},
        {"bad-line.cube", 0, badLine, "0line "}, {"clean-1d.cube", 0, clean1D, "1"}};
    for (const auto &file : files) {
        const QString path = TestSupport::writeFile(dir.filePath(QLatin1String(file.name)), file.text);
        const auto read = [&] {
            Read_LUTFile lut;
            LutFileOptions options;
            options.path = path;
            options.format = LutFormatId(file.format);
            const bool ok = lut.readLut(options, false);
            QByteArray table(reinterpret_cast<const char *>(lut.table3D.data()),
                             lut.table3D.isNull() ? 0 : int(sizeof(float)) * 3 * lut.size3D * lut.size3D * lut.size3D);
            table.append(reinterpret_cast<const char *>(lut.table1D.data()),
                         lut.table1D.isNull() ? 0 : int(sizeof(float)) * 3 * lut.size1D);
            return QByteArray::number(ok) + lut.errorString.toUtf8() + QByteArray::number(lut.meaning.clampedValues)
                + table;
        };
        const QByteArray one = withThreads(1, read);
        QVERIFY2(one.size() > 1000 || one.contains("ends after"), file.name);
        QVERIFY2(one.startsWith(file.start), file.name);
        for (const int threads : {2, 5})
            QVERIFY2(withThreads(threads, read) == one, file.name);
    }
}

void TestFastPaths::threadedResampleMatchesTheSampler()
{
    Read_LUTFile source;
    QVERIFY(source.setSize3D(17, false));
    QRandomGenerator random(17);
    for (int i = 0; i < 17 * 17 * 17 * 3; ++i)
        source.table3D.data()[i] = float(random.generateDouble());
    // A domain other than 0..1: some lattice points fall outside it.
    const float lo[3] = {0.0f, -0.25f, 0.1f}, hi[3] = {1.0f, 1.5f, 0.9f};
    std::copy(lo, lo + 3, source.domainMin3D);
    std::copy(hi, hi + 3, source.domainMax3D);
    const auto resample = [&] {
        Read_LUTFile destination;
        destination.setSize3D(45, false);
        LutCalc::resampleCube(&source, &destination);
        return QByteArray(reinterpret_cast<const char *>(destination.table3D.data()), 45 * 45 * 45 * 3 * int(sizeof(float)));
    };
    const QByteArray one = withThreads(1, resample);
    QCOMPARE(withThreads(3, resample), one);
    const float *values = reinterpret_cast<const float *>(one.constData());
    for (int i = 0; i < 45; ++i)
        for (int j = 0; j < 45; ++j)
            for (int k = 0; k < 45; ++k) {
                const float point[3] = {float(i) / 44.0f, float(j) / 44.0f, float(k) / 44.0f};
                float expected[3];
                LutCalc::sampleCube(point, expected, &source);
                QVERIFY(std::memcmp(expected, values + 3 * ((i * 45 + j) * 45 + k), sizeof expected) == 0);
            }
    // A long 1D table as well, against the 1D sampler.
    QVERIFY(source.setSize1D(4101, false));
    for (int i = 0; i < 4101 * 3; ++i)
        source.table1D.data()[i] = float(random.generateDouble());
    const auto resample1D = [&] {
        Read_LUTFile destination;
        destination.setSize1D(65536, false);
        LutCalc::resample1D(&source, &destination);
        return QByteArray(reinterpret_cast<const char *>(destination.table1D.data()), 65536 * 3 * int(sizeof(float)));
    };
    const QByteArray line = withThreads(1, resample1D);
    QCOMPARE(withThreads(3, resample1D), line);
    for (int i = 0; i < 65536; i += 7)
        for (int c = 0; c < 3; ++c)
            QCOMPARE(reinterpret_cast<const float *>(line.constData())[3 * i + c],
                     float(LutCalc::sample1D(source.table1D.data(), 4101, c, i / 65535.0)));
}

// A worker that throws ends the work, on the caller, after every thread
// has ended: no std::terminate, no hang, whoever throws.
void TestFastPaths::workerFailuresReachTheCaller()
{
    LutParallel::setThreads(4);
    const auto thrown = [](const std::function<void()> &work) {
        try {
            work();
        } catch (const std::bad_alloc &) {
            return QStringLiteral("bad_alloc");
        } catch (const std::exception &e) {
            return QString::fromLatin1(e.what());
        }
        return QString();
    };
    std::atomic<int> ran{0};
    QCOMPARE(thrown([&] {
                 LutParallel::run(4, [&](int w) {
                     ++ran;
                     if (w == 2)
                         throw std::bad_alloc();
                 });
             }),
             QStringLiteral("bad_alloc"));
    QCOMPARE(ran.load(), 4);
    QCOMPARE(thrown([] {
                 LutParallel::forRanges(1000, 1, [](qint64 begin, qint64) {
                     if (begin > 0)
                         throw std::runtime_error("worker");
                 });
             }),
             QStringLiteral("worker"));
    // A producer failing while the consumer waits for its block, and the
    // consumer failing while producers wait for room.
    for (const int failing : {0, 7, 39}) {
        int consumed = 0;
        QCOMPARE(thrown([&] {
                     LutParallel::orderedBlocks(
                         40,
                         [&](int k, LutTextStream &block) {
                             if (k == failing)
                                 throw std::bad_alloc();
                             block << k;
                         },
                         [&](const LutTextStream &) { ++consumed; });
                 }),
                 QStringLiteral("bad_alloc"));
        QVERIFY(consumed <= failing);
        QCOMPARE(thrown([&] {
                     LutParallel::orderedBlocks(
                         40, [](int k, LutTextStream &block) { block << k; },
                         [&](const LutTextStream &) {
                             if (consumed++ == failing)
                                 throw std::runtime_error("consumer");
                         });
                 }),
                 QStringLiteral("consumer"));
    }
    LutParallel::Background background([]() -> bool { throw std::runtime_error("background"); });
    QCOMPARE(thrown([&] { background.wait(); }), QStringLiteral("background"));
    LutParallel::setThreads(0);
}

// Under a cap on the process's memory, a conversion fails with one line
// naming the file, or succeeds (threads that cannot start leave their share
// to the calling thread): it never ends in an abort. The cap is swept across
// the range where each allocation of a 9 -> 128 conversion gives out (below
// it the dynamic loader cannot map the libraries).
void TestFastPaths::conversionOutOfMemoryIsAMessage()
{
#ifdef CHROMADUCT_SANITIZED
    QSKIP("the sanitizers reserve far more address space than the caps allow");
#endif
    const QString prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
    if (prlimit.isEmpty())
        QSKIP("prlimit (util-linux) is not installed");
    QTemporaryDir dir;
    QByteArray text = "LUT_3D_SIZE 9\n";
    for (int i = 0; i < 729; ++i)
        text += QByteArray::number((i % 9) / 8.0) + ' ' + QByteArray::number((i / 9 % 9) / 8.0) + ' '
            + QByteArray::number((i / 81) / 8.0) + '\n';
    const QString input = TestSupport::writeFile(dir.filePath("in.cube"), text);
    int failed = 0;
    for (int megabytes = 40; megabytes <= 180; megabytes += 4) {
        const TestSupport::ProcessResult run = TestSupport::runProcess(
            prlimit, {QStringLiteral("--as=%1").arg(qint64(megabytes) << 20), TestSupport::convertPath(), "-j", "2",
                      "--size", "128", input, dir.filePath("out.cube")});
        const QString what = QStringLiteral("%1 MB: exit %2, %3").arg(megabytes).arg(run.exitCode).arg(QString(run.err));
        if (run.exitCode == 127 && run.err.contains("error while loading shared libraries"))
            continue;
        QVERIFY2(run.exitCode >= 0 && run.exitCode <= 2, qPrintable(what));
        if (run.exitCode != 0) {
            ++failed;
            QVERIFY2(run.err.startsWith("chromaduct-convert: ") && run.err.count('\n') == 1, qPrintable(what));
        }
    }
    QVERIFY(failed > 0);
}

QTEST_GUILESS_MAIN(TestFastPaths)
#include "test_fast_paths.moc"
