// Faults around a conversion: a full disk under every writer, output pipes
// that close, a batch whose outputs would land on its inputs, pictures cut
// short, headers that claim more than a run may take, standard input that
// never ends, long process lists and file names that are not UTF-8. Each is
// one line naming the file and the reason, its exit status, and no file lost
// or left half written.

#include "TestSupport.h"
#include "calc/LutCalc.h"
#include "image/ImageApply.h"
#include "image/LutPreview.h"
#include "lut/LutFileNames.h"
#include "lut/LutFormats.h"
#include "lut/LutImageCodec.h"
#include "lut/Read_LUTFile.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <unistd.h>
#include <vector>

using TestSupport::ProcessResult;
using TestSupport::readFile;
using TestSupport::runConvert;
using TestSupport::writeFile;

namespace {

QByteArray cubeText(int n)
{
    QByteArray text = "LUT_3D_SIZE " + QByteArray::number(n) + "\n";
    for (int i = 0; i < n * n * n; ++i)
        text += QByteArray::number(i % n / (n - 1.0)) + ' ' + QByteArray::number(i / n % n / (n - 1.0)) + ' '
            + QByteArray::number(i / (n * n) / (n - 1.0)) + '\n';
    return text;
}

// A grey curve, so every 1D writer (csv log included) can hold it.
QByteArray curveText(int n)
{
    QByteArray text = "Version 1\nFrom 0.0 1.0\nLength " + QByteArray::number(n) + "\nComponents 1\n{\n";
    for (int i = 0; i < n; ++i)
        text += QByteArray::number(std::sqrt(i / (n - 1.0))) + '\n';
    return text + "}\n";
}

// --- Crafted headers ---------------------------------------------------------

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= uchar(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

template <typename T>
QByteArray bigEndian(T v)
{
    QByteArray bytes(int(sizeof v), '\0');
    qToBigEndian(v, bytes.data());
    return bytes;
}

template <typename T>
QByteArray littleEndian(T v)
{
    QByteArray bytes(int(sizeof v), '\0');
    qToLittleEndian(v, bytes.data());
    return bytes;
}

// An 8-bit RGB PNG that declares width x height and holds an empty image stream.
QByteArray pngHeader(quint32 width, quint32 height)
{
    const auto chunk = [](const QByteArray &type, const QByteArray &data) {
        return bigEndian(quint32(data.size())) + type + data + bigEndian(crc32(type + data));
    };
    const QByteArray ihdr = bigEndian(width) + bigEndian(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr)
        + chunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) + chunk("IEND", QByteArray());
}

// A BMP of width x height with the given bits, compression and pixel data.
QByteArray bmp(qint32 width, qint32 height, quint16 bits, quint32 compression, const QByteArray &palette,
               const QByteArray &pixels)
{
    const quint32 offset = 54 + quint32(palette.size());
    return "BM" + littleEndian(quint32(offset + pixels.size())) + littleEndian(quint32(0)) + littleEndian(offset)
        + littleEndian(quint32(40)) + littleEndian(width) + littleEndian(height) + littleEndian(quint16(1))
        + littleEndian(bits) + littleEndian(compression) + littleEndian(quint32(pixels.size()))
        + littleEndian(quint32(2835)) + littleEndian(quint32(2835)) + littleEndian(quint32(palette.size() / 4))
        + littleEndian(quint32(0)) + palette + pixels;
}

// An 8x4 RLE8 BMP, each row one run; cut after `rows` rows and without the
// end-of-bitmap code when rows < 4.
QByteArray rle8(int rows)
{
    QByteArray palette;
    for (int i = 0; i < 256; ++i)
        palette += littleEndian(quint32(i * 0x010101));
    QByteArray data;
    for (int y = 0; y < rows; ++y)
        data += QByteArray("\x08", 1) + char(40 * y + 20) + QByteArray("\x00\x00", 2);
    if (rows == 4)
        data += QByteArray("\x00\x01", 2);
    return bmp(8, 4, 8, 1, palette, data);
}

// An uncompressed RGB TIFF whose directory comes first and whose one strip
// of width x height pixels holds `kept` bytes.
QByteArray tiff(quint32 width, quint32 height, int kept, bool bottomUp = false)
{
    const quint32 stripBytes = width * height * 3;
    struct Entry { quint16 tag, type; quint32 value; };
    std::vector<Entry> entries = {
        {256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 1}, {262, 3, 2},
        {273, 4, 0}, {277, 3, 3}, {278, 4, height}, {279, 4, stripBytes}};
    if (bottomUp) // rows bottom-up: a layout the toolkit decodes whole
        entries.insert(entries.begin() + 6, Entry{274, 3, 4});
    const quint32 dataOffset = quint32(8 + 2 + 12 * entries.size() + 4);
    QByteArray out = QByteArray("II*\0", 4) + littleEndian(quint32(8)) + littleEndian(quint16(entries.size()));
    for (const auto &e : entries) {
        out += littleEndian(e.tag) + littleEndian(e.type) + littleEndian(quint32(1));
        const quint32 value = e.tag == 273 ? dataOffset : e.value;
        out += e.type == 3 ? littleEndian(quint16(value)) + littleEndian(quint16(0)) : littleEndian(value);
    }
    return out + littleEndian(quint32(0)) + QByteArray(qMin<qint64>(kept, stripBytes), char(100));
}

// The markers a JPEG reader needs to know a picture's size: a frame of
// width x height and the start of its scan.
QByteArray jpegHeader(quint16 width, quint16 height)
{
    return QByteArray("\xff\xd8\xff\xc0\x00\x11\x08", 7) + bigEndian(height) + bigEndian(width)
        + QByteArray("\x03\x01\x11\x00\x02\x11\x00\x03\x11\x00\xff\xda\x00\x0c\x03\x01\x00\x02\x11\x03\x11\x00\x3f\x00",
                     24)
        + QByteArray("\xff\xd9", 2);
}

// A ProcessList of `nodes` Matrix nodes, as a long generated list looks.
QByteArray matrixList(int nodes)
{
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ProcessList id=\"x\" compCLFversion=\"3\">\n";
    for (int i = 0; i < nodes; ++i)
        text += "<Matrix inBitDepth=\"32f\" outBitDepth=\"32f\"><Array dim=\"3 3\">0.9 0.05 0.05 0.05 0.9 0.05 0.05 "
                "0.05 0.9</Array></Matrix>\n";
    return text + "</ProcessList>\n";
}

// Runs a shell script with C set to chromaduct-convert, in dir.
ProcessResult shell(const QString &dir, const QByteArray &script)
{
    return TestSupport::runProcess(QStringLiteral("bash"),
                                   {QStringLiteral("-c"), QStringLiteral("cd \"$1\" && C=\"$2\" && ") + QString::fromUtf8(script),
                                    QStringLiteral("faults"), dir, TestSupport::convertPath()});
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_full; // a 64 KiB tmpfs, when the suite runs as root
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString file(const QString &name, const QByteArray &text) const { return writeFile(path(name), text); }

    // One failure: the status, one line on stderr naming the file and the reason.
    static void checkFailure(const ProcessResult &r, int status, const QString &named, const QByteArray &reason,
                             const QByteArray &what)
    {
        const QByteArray context = what + " -> " + r.err;
        QVERIFY2(r.exitCode == status && r.err.count('\n') == 1, context.constData());
        QVERIFY2(r.err.startsWith("chromaduct-convert: " + named.toUtf8() + ": "), context.constData());
        QVERIFY2(r.err.contains(reason), context.constData());
    }

private slots:
    void initTestCase() { QVERIFY2(m_dir.isValid() && QFile::exists(TestSupport::convertPath()), "no executable"); }

    void cleanupTestCase()
    {
        if (!m_full.isEmpty())
            TestSupport::runProcess(QStringLiteral("umount"), {m_full});
        // QDir decodes names by the locale and cannot remove the ones that
        // are not UTF-8; rm takes them as bytes.
        TestSupport::runProcess(QStringLiteral("rm"), {QStringLiteral("-rf"), QStringLiteral("--"), m_dir.path()});
    }

    // Every writer on a full disk: status 2, "No space left on device" in one
    // line, the old file as it was and nothing else left behind.
    void fullDisk()
    {
        if (::geteuid() != 0)
            QSKIP("a full disk is a small tmpfs, which only root can mount");
        const QString full = path("full");
        QVERIFY(QDir().mkpath(full));
        if (TestSupport::runProcess(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=64k", "tmpfs", full}).exitCode != 0)
            QSKIP("cannot mount a tmpfs here");
        m_full = full;
        const QString cube = file("in.cube", cubeText(3)), curve = file("in.spi1d", curveText(1024));
        const QString picture = path("picture.png");
        QVERIFY(LutPreview::testPicture(40, 30).save(picture));
        // The cc writer holds a grade alone.
        const QString grade = file("in.cc", "<ColorCorrection id=\"g\"><SOPNode><Slope>1.1 1 0.9</Slope>"
                                            "<Offset>0 0 0</Offset><Power>1 1 1</Power></SOPNode></ColorCorrection>\n");
        // The spimtx writer holds a matrix alone.
        const QString matrix = file("in.spimtx", "0.9 0.05 0.05 0\n0.05 0.9 0.05 0\n0.05 0.05 0.9 0\n");
        auto input = [&](int id, const LutFormat *format) {
            if (id == int(LutFormatId::CdlCc))
                return grade;
            if (id == int(LutFormatId::Spimtx))
                return matrix;
            return format->dimension == 1 ? curve : cube;
        };

        struct Case { QStringList arguments; QString output; };
        QVector<Case> cases;
        for (int id = 0; id < LutFormats::kCount; ++id) {
            const LutFormat *format = LutFormats::byId(id);
            if (format->canWrite())
                cases.push_back({{input(id, format), "--to", format->name},
                                 "out." + QString(format->name)});
        }
        cases.push_back({{cube, "--to", "tiled-image", "--scale", "255"}, "out.bmp"});
        cases.push_back({{cube, "--to", "strip-image"}, "out.tif"});
        for (const char *type : {"png", "tif", "jpg", "bmp"})
            cases.push_back({{"--apply", cube, picture}, QStringLiteral("picture.") + type});
        cases.push_back({{"--preview", cube}, "preview.png"});

        for (const Case &c : cases) {
            const QString output = full + '/' + c.output;
            QVERIFY(writeFile(output, "old\n") == output);
            // Everything the file system has left goes to a filler file.
            QFile filler(full + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            filler.close();
            const ProcessResult r = runConvert(c.arguments + QStringList{output});
            checkFailure(r, 2, output, "write failed: No space left on device", c.arguments.join(' ').toUtf8());
            QCOMPARE(readFile(output), QByteArray("old\n"));
            QCOMPARE(QDir(full).entryList(QDir::Files), QStringList({"filler", c.output}));
            QVERIFY(QFile::remove(output) && QFile::remove(full + "/filler"));
        }
    }

    // Standard output that fails: a pipe whose reader has gone, a full
    // device, a closed stream.
    void closedOutputs()
    {
        file("in.cube", cubeText(3));
        const struct { const char *script; const char *reason; } cases[] = {
            {"\"$C\" --size 65 in.cube - | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}", "write failed: Broken pipe"},
            {"\"$C\" in.cube - >/dev/full", "write failed: No space left on device"},
            {"\"$C\" in.cube - >&-", "cannot open for writing: it is closed or open only for reading"},
            {"\"$C\" --info in.cube >&-", "write failed: Bad file descriptor"},
        };
        for (const auto &c : cases)
            checkFailure(shell(m_dir.path(), c.script), 2, "standard output", c.reason, c.script);
    }

    // A batch never writes over one of its inputs, by its own name or a
    // link, whatever order it takes them in; the other inputs convert.
    void batchKeepsInputs()
    {
        QVERIFY(QDir().mkpath(path("d")) && QDir().mkpath(path("links")));
        const QByteArray cube = cubeText(2), threeDl = "0 1023\n0 0 0\n4095 0 0\n0 4095 0\n4095 4095 0\n0 0 4095\n"
                                                        "4095 0 4095\n0 4095 4095\n4095 4095 4095\n";
        const QString grade = file("d/grade.cube", cube), grade3dl = file("d/grade.3dl", threeDl);
        const QString other3dl = file("d/other.3dl", threeDl);
        // links/other.cube, where other.3dl's output goes, is the file d/grade.cube.
        QVERIFY(QFile::link(grade, path("links/other.cube")));
        const struct { QStringList arguments; QStringList refused; QString written; } cases[] = {
            {{"--out-dir", path("d"), grade3dl, grade}, {grade, grade}, QString()},
            {{"--out-dir", path("d"), grade, grade3dl}, {grade, grade}, QString()},
            {{"--out-dir", path("links"), other3dl, grade}, {path("links/other.cube")}, path("links/grade.cube")},
        };
        for (const auto &c : cases) {
            QByteArray messages;
            for (const char *jobs : {"1", "4"}) {
                const ProcessResult r = runConvert(c.arguments + QStringList{"-j", jobs});
                const QByteArray what = c.arguments.join(' ').toUtf8() + " -> " + r.err;
                QVERIFY2(r.exitCode == 2 && r.err.count('\n') == c.refused.size(), what.constData());
                for (const QString &refused : c.refused)
                    QVERIFY2(r.err.contains(refused.toUtf8() + ": is an input of this run"), what.constData());
                QVERIFY2(messages.isEmpty() || r.err == messages, what.constData());
                messages = r.err;
                QCOMPARE(readFile(grade), cube);
                QCOMPARE(readFile(grade3dl), threeDl);
                QVERIFY(c.written.isEmpty() || QFile::remove(c.written));
            }
        }
    }

    // Pictures and LUT images cut short fail with a reason, in one line,
    // libtiff and libjpeg saying nothing of their own; the whole files read.
    void picturesCutShort()
    {
        const QString lut = file("grey.cube", cubeText(2));
        QImage image = LutPreview::testPicture(64, 48).convertToFormat(QImage::Format_RGB32);
        QVERIFY(image.save(path("whole.bmp")) && image.save(path("whole.jpg")));
        const QByteArray wholeBmp = readFile(path("whole.bmp")), wholeJpeg = readFile(path("whole.jpg"));
        const int scan = wholeJpeg.indexOf("\xff\xda");
        const QString regressions = CHROMADUCT_SOURCE_DIR "/tests/fuzz/regressions/";
        const struct { QStringList arguments; int named; QByteArray reason; } cases[] = {
            {{"--apply", lut, file("cut.bmp", wholeBmp.left(wholeBmp.size() / 2))}, 2,
             "the file ends before the image does: it holds 23 of its 48 rows"},
            {{"--apply", lut, file("rle-cut.bmp", rle8(2))}, 2, "the file ends before the image does"},
            {{"--apply", lut, file("cut.jpg", wholeJpeg.left(wholeJpeg.size() / 2))}, 2,
             "cannot decode the JPEG image: the file ends before the image does"},
            {{"--apply", lut, file("short-scan.jpg", wholeJpeg.left(scan + 20) + "\xff\xd9")}, 2,
             "cannot decode the JPEG image: the compressed data ends before the image data does"},
            {{"--apply", lut, file("cut.tif", tiff(40, 30, 1000))}, 2, "Read error on strip 0; got 1000 bytes, expected 3600"},
            {{regressions + "strip-image-bmp-rows-cut-short.bmp", path("o.cube")}, 0, "it holds 1 of its 4 rows"},
            {{regressions + "hald-bmp-rle-cut-short.bmp", path("o.cube")}, 0, "the file ends before the image does"},
            {{regressions + "tiled-image-tiff-strip-cut-short.tif", path("o.cube")}, 0, "Read error on strip"},
            // 65535 rows declared, one 21-row strip there: libtiff makes up the other 3120 (at offset 0).
            {{"--apply", lut, regressions + "picture-tiff-strip-offsets-missing.tif"}, 2,
             "cannot read the image header: strip 2 of 3121 lies outside the file (0 bytes at 0 of 6330)"},
        };
        for (const auto &c : cases) {
            QStringList arguments = c.arguments;
            if (arguments.first() == "--apply")
                arguments << path("o.png");
            checkFailure(runConvert(arguments), 1, arguments[c.named], c.reason, arguments.join(' ').toUtf8());
            QVERIFY(!QFile::exists(path("o.png")) && !QFile::exists(path("o.cube")));
        }
        for (const QByteArray &whole : {rle8(4), tiff(40, 30, 3600)}) {
            const ProcessResult r = runConvert({"--apply", lut, file("whole", whole), path("o.png")});
            QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
            QVERIFY(QFile::remove(path("o.png")));
        }
    }

    // Headers that claim more than --apply takes are refused before a pixel
    // is decoded or the output opened.
    void oversizedPictures()
    {
        const QString lut = file("grey.cube", cubeText(2));
        const struct { const char *name; QByteArray bytes; const char *reason; } cases[] = {
            {"square.png", pngHeader(100000, 100000), "100000 x 100000 pixels: more than 1073741824 pixels"},
            {"long.png", pngHeader(1000000, 3000), "1000000 x 3000 pixels: more than 1073741824 pixels"},
            {"huge.jpg", jpegHeader(65000, 65000), "65000 x 65000 pixels: more than 1073741824 pixels"},
            {"wide.tif", tiff(2000000, 1, 0), "2000000 x 1 pixels: wider than 1048576 pixels"},
            {"wide.bmp", bmp(20000, 20000, 24, 0, QByteArray(), QByteArray(1000, '\0')),
             "20000 x 20000 pixels: more than the 268435456 pixels (16384 x 16384) a BMP may have"},
            {"whole.tif", tiff(20000, 20000, 1000, true),
             "20000 x 20000 pixels take 1525 MB decoded whole, above the limit of 1024 MB"},
        };
        for (const auto &c : cases) {
            for (const char *out : {"o.png", "o.tif"}) {
                const QString in = file(c.name, c.bytes);
                checkFailure(runConvert({"--apply", lut, in, path(out)}), 1, in, c.reason, c.name);
                QVERIFY(!QFile::exists(path(out)));
            }
        }
    }

    // Standard input that never ends stops at the bound, with a reason.
    void endlessStandardInput()
    {
        const ProcessResult r = shell(m_dir.path(), "yes '0 0 0' | \"$C\" --from cube - endless.cube");
        checkFailure(r, 1, "standard input", "cannot be read: it holds more than 1024 MiB", "yes");
        QVERIFY(!QFile::exists(path("endless.cube")));
    }

    // The bound on evaluation: cost x colours up to kMaxEvaluationSteps
    // bakes and applies, one step more is refused naming the limit, and so
    // is a list longer than kMaxProcessNodes.
    void evaluationBound()
    {
        Read_LUTFile source;
        source.meaning.evaluate = [](double rgb[3]) { rgb[0] = 1.0 - rgb[0]; };
        // 64^3 lattice points, 2^18 entries and 512 x 512 pixels: 2^18 colours each.
        const QString picture = path("square.png");
        QVERIFY(LutPreview::testPicture(512, 512).save(picture));
        const qint64 atLimit = LutCalc::kMaxEvaluationSteps >> 18;
        const struct { qint64 cost; const char *reason; } cases[] = {
            {atLimit, nullptr},
            {atLimit + 1, "262144 colours through 8193 steps each"},
            {kMaxProcessNodes + 1, "its process list has 10001 nodes, more than the 10000"},
        };
        for (const auto &c : cases) {
            source.meaning.evaluateCost = c.cost;
            Read_LUTFile cube, curve;
            QVERIFY(cube.setSize3D(64, false) && curve.setSize1D(1 << 18, false));
            QCOMPARE(LutCalc::bakeCube(&source, &cube), !c.reason);
            QCOMPARE(LutCalc::bake1D(&source, &curve), !c.reason);
            const ImageApply::Result applied = ImageApply::apply(source, picture, path("square-out.png"), ImageApply::Options());
            QCOMPARE(applied.status, c.reason ? ImageApply::Status::InputFailed : ImageApply::Status::Done);
            if (c.reason) {
                for (const QString &why : {cube.errorString, curve.errorString, applied.reason})
                    QVERIFY2(why.contains(c.reason), qPrintable(why));
            }
        }
    }

    // A process list longer than the bound, and one whose bake on a large
    // lattice would take more steps than allowed, are refused by name.
    void longProcessLists()
    {
        const QString tooLong = file("long.clf", matrixList(kMaxProcessNodes + 1));
        checkFailure(runConvert({tooLong, path("long.cube")}), 1, tooLong,
                     "line 10003: the process list has more than 10000 nodes", "long");
        const QString thousand = file("thousand.clf", matrixList(1000));
        checkFailure(runConvert({thousand, path("long.cube"), "--size", "256"}), 2, thousand,
                     "16777216 colours through 1000 steps each", "thousand");
        QVERIFY(!QFile::exists(path("long.cube")));
        const ProcessResult baked = runConvert({thousand, path("long.cube"), "--bake"});
        QVERIFY2(baked.exitCode == 0 && TestSupport::parseCubeText(path("long.cube")).size == 33, baked.err.constData());
    }

    // Names are bytes: any byte string survives decoding and encoding, and
    // names that are not UTF-8 are read, written and printed as given.
    void namesAreBytes()
    {
        for (const QByteArray &name : {QByteArray("plain.cube"), QByteArray("x\xff.cube"), QByteArray("\xc3\xa9t\xc3\xa9"),
                                       QByteArray("\xed\xa0\x80 surrogate"), QByteArray("\xc0\xaf overlong"),
                                       QByteArray("\xe2\x82 cut"), QByteArray("\xf0\x9f\x8e\xa8 four")}) {
            QCOMPARE(LutFileNames::toBytes(LutFileNames::fromBytes(name)), name);
            if (QString::fromUtf8(name).toUtf8() == name)
                QCOMPARE(LutFileNames::fromBytes(name), QString::fromUtf8(name));
        }
        file("in.cube", cubeText(3));
        const struct { QByteArray script; int status; QByteArray out, err; } cases[] = {
            {"cp in.cube $'x\\xff.cube' && \"$C\" $'x\\xff.cube' $'o\\xff.spi3d' && test -s $'o\\xff.spi3d'", 0, "", ""},
            {"\"$C\" --out-dir $'d\\xfe' $'x\\xff.cube' && test -s $'d\\xfe/x\\xff.cube'", 0, "", ""},
            {"\"$C\" --info $'x\\xff.cube' | head -1", 0, "file: x\xff.cube\n", ""},
            {"\"$C\" $'m\\xff.cube' o.cube", 1, "",
             "chromaduct-convert: m\xff.cube: cannot open: No such file or directory\n"},
            {"\"$C\" --size 16 --scale 255 --to tiled-image in.cube $'t\\xff.bmp' && \"$C\" $'t\\xff.bmp' $'t\\xff.cube'"
             " && \"$C\" --size 4 --to hald in.cube $'h\\xff-hald.png' && \"$C\" $'h\\xff-hald.png' h.cube", 0, "", ""},
            {"\"$C\" --preview in.cube $'p\\xff.png' && \"$C\" --apply in.cube $'p\\xff.png' $'q\\xff.jpg'"
             " && \"$C\" --apply in.cube $'q\\xff.jpg' $'r\\xff.tif' && \"$C\" --apply in.cube $'r\\xff.tif' s.bmp", 0, "", ""},
        };
        for (const auto &c : cases) {
            const ProcessResult r = shell(m_dir.path(), c.script);
            QVERIFY2(r.exitCode == c.status && r.out == c.out && r.err == c.err, (c.script + " -> " + r.err).constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "test_faults.moc"
