#include "FuzzTarget.h"

#include "calc/LutCalc.h"
#include "image/LutDpx.h"
#include "image/LutExr.h"
#include "image/LutTiff.h"
#include "lut/LutFileOptions.h"
#include "lut/LutFormats.h"
#include "lut/LutImageCodec.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {


const LutFormat *g_format = nullptr;
bool g_picture = false; // every input a picture for --apply
bool g_fuzzing = false; // in the libFuzzer target, not the replay
FuzzTarget::Outcome g_outcome;
std::unique_ptr<QTemporaryDir> g_scratch;

// The readers log every file they open; at thousands of runs a second that
// is all noise. A fatal message still ends the run so the fuzzer sees it.
void dropMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
        std::abort();
    }
}

// A broken promise of the readers or writers: end the run as a crash, so
// the fuzzer keeps the input.
[[noreturn]] void broken(const LutFormat *format, const char *what)
{
    std::fprintf(stderr, "chromaduct-fuzz: %s reader: %s\n", format->name, what);
    std::abort();
}

// FNV-1a of the input: picks the order choices, whether to read for
// baking, the output format, size and scale, so that the same input always
// takes the same road.
quint32 hashOf(const uint8_t *data, size_t size)
{
    quint32 h = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 16777619u;
    return h;
}

QString scratchFile(const char *stem, const LutFormat *format)
{
    return g_scratch->filePath(QLatin1String(stem) + format->extensionList().value(0));
}

bool writeInput(const QString &path, const uint8_t *data, size_t size)
{
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

// What every read promises: a failure carries a reason; a success leaves
// sizes within the bounds with tables of those sizes and the domain
// maxima back at 1.0 (the csp reader keeps its 3D domain).
void checkRead(const LutFormat *format, const Read_LUTFile &lut, bool ok, bool headerOnly)
{
    if (!ok) {
        if (lut.errorString.isEmpty())
            broken(format, "failed without a reason");
        return;
    }
    if (lut.size3D < 0 || lut.size3D > kMaxCubeSize || lut.size1D < 0 || lut.size1D > kMax1DSize)
        broken(format, "table size out of bounds");
    if (headerOnly)
        return;
    if ((lut.size3D > 0 && lut.table3D.size() != lut.size3D) || (lut.size1D > 0 && lut.table1D.size() != lut.size1D))
        broken(format, "a size without its table");
    for (int c = 0; c < 3; ++c) {
        if (lut.domainMax1D[c] != 1.0f || (!format->is(LutFormatId::Csp) && lut.domainMax3D[c] != 1.0f))
            broken(format, "domain maximum not reset to 1.0");
    }
}

// The rest of a conversion, as the command line makes it: a format of
// either dimension writes a cube for a transform that mixes the channels,
// else a 1D table; a read made for baking, or a file whose steps no table
// holds, is baked on the output's lattice; otherwise a cube is resampled
// when the hash asks for another size (2 to 9; always when it is above 17:
// writing a large cube would only slow the fuzzer down). Then one of the
// writers, picked by the hash, writes it.
void convert(const LutFormat *inFormat, Read_LUTFile &lut, quint32 h)
{
    std::vector<const LutFormat *> writers;
    for (int id = 0; id < LutFormats::kCount; ++id) {
        if (LutFormats::byId(id)->canWrite())
            writers.push_back(LutFormats::byId(id));
    }
    const LutFormat *outFormat = writers[(h >> 4) % writers.size()];
    const int dimension = outFormat->dimension ? outFormat->dimension : LutCalc::hasTransform3D(&lut) ? 3 : 1;
    const bool bake = lut.bakeRead || bool(lut.meaning.evaluate);
    Read_LUTFile *source = &lut;
    Read_LUTFile converted;
    // LUT images hold set cube sizes, 8-bit or 16-bit codes.
    const bool image = outFormat->defaultScale == 65535;
    const int size = dimension == 3 ? outFormat->entriesFor(int(2 + (h >> 9) % 8), true) : int(2 + (h >> 9) % 8);
    if (bake) {
        // A transform that a table of this kind cannot hold is refused.
        const bool baked = dimension == 3 ? converted.setSize3D(size, false) && LutCalc::bakeCube(&lut, &converted)
                                          : converted.setSize1D(size, false) && LutCalc::bake1D(&lut, &converted);
        if (!baked)
            return;
        source = &converted;
    } else if (dimension == 3 ? lut.size3D < 1 : lut.size1D < 1) {
        return; // no table of the kind the output holds
    } else if (dimension == 3 && !(lut.size3D <= 17 && (h >> 8) % 2) && size != lut.size3D) {
        if (!converted.setSize3D(size, false) || !LutCalc::resampleCube(&lut, &converted))
            broken(inFormat, "a read cube cannot be resampled");
        source = &converted;
    } else if (dimension == 1 && lut.size1D > 1024 && (h >> 29) % 8 != 0) {
        // Long curves (up to 65,536 entries) are written whole one run in
        // eight; formatting them every run would be most of the fuzzer's time.
        if (!converted.setSize1D(size, false) || !LutCalc::resample1D(&lut, &converted))
            broken(inFormat, "a read curve cannot be resampled");
        source = &converted;
    }
    LutFileOptions options;
    // Most runs write to /dev/null, in place, which spares the fuzzer a file
    // made and removed per run; one in eight goes through a real file.
    options.path = (h >> 26) % 8 == 0 ? scratchFile("output", outFormat) : QStringLiteral("/dev/null");
    options.format = outFormat->id;
    options.defaultOrder = (h >> 13) % 2;
    options.dataOrderRGB = (h >> 14) % 2;
    options.tableOrderRGB = (h >> 15) % 2;
    options.outputScale = (h >> 16) % 4 == 0 ? (image ? 255 : 4095) : image ? 65535 : 1;
    options.size3D = source->size3D;
    Write_LUTFile writer;
    if (!writer.writeLut(options, source) && writer.errorString.isEmpty())
        broken(inFormat, "a writer failed without a reason");
    if (options.path != QLatin1String("/dev/null"))
        QFile::remove(options.path);
}

bool isImage(const LutFormat *format)
{
    // The LUT image readers decode the whole image whatever they are asked.
    return format->is(LutFormatId::TiledImage) || format->is(LutFormatId::StripImage) || format->is(LutFormatId::Hald);
}

// The pixel count a PNG, BMP or TIFF header declares (as a double: two
// 32-bit sizes overflow a 64-bit product's sign), or 0 when the input is
// none of them or its header says nothing readable. Only the header is read,
// by the decoder its first bytes name.
double declaredPixels(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QByteArray type = LutImageCodec::rasterFormatOf(bytes.left(8));
    if (type != "png" && type != "bmp" && type != "tiff")
        return 0;
    QBuffer buffer(&bytes);
    const QSize declared = QImageReader(&buffer, type).size();
    return declared.isValid() ? double(declared.width()) * double(declared.height()) : 0;
}

// The pixels a picture declares, from its header as the reader that takes
// it reads it (Qt's decoders know no float TIFF, EXR or DPX), or 0.
double declaredPicturePixels(const QString &path, const uint8_t *data, size_t size)
{
    const QByteArray head = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(std::min<size_t>(size, 8)));
    if (LutImageCodec::rasterFormatOf(head) == "tiff") {
        TiffReader tiff;
        const TiffReader::Opened opened = tiff.open(path);
        if (opened == TiffReader::Float || opened == TiffReader::Integer)
            return double(tiff.width()) * double(tiff.height());
    } else if (ExrReader::isExr(head)) {
        ExrReader exr;
        return exr.open(path) ? double(exr.width()) * double(exr.height()) : 0;
    } else if (head.startsWith("SDPX") || head.startsWith("XPDS")) {
        DpxReader dpx;
        return dpx.open(path) ? double(dpx.width()) * double(dpx.height()) : 0;
    }
    return declaredPixels(data, size);
}

// A picture through --apply: a LUT with a shaper and a cube that mixes the
// channels, into a picture of the type the hash picks; a success leaves a
// picture, a failure gives its reason.
void runPicture(const uint8_t *data, size_t size)
{
    g_outcome = FuzzTarget::Outcome();
    g_outcome.reader = FuzzTarget::kPictureReader;
    static const std::unique_ptr<Read_LUTFile> lut = [] {
        auto read = std::make_unique<Read_LUTFile>();
        const QString path = g_scratch->filePath(QStringLiteral("picture-lut.cube"));
        QFile file(path);
        const QByteArray text = "LUT_1D_SIZE 3\nLUT_3D_SIZE 2\n0 0 0\n0.7 0.7 0.7\n1 1 1\n"
                                "0.1 0 0\n0.9 0.1 0\n0 0.8 0.1\n0.7 0.8 0\n0 0.1 0.9\n1 0 0.7\n0.1 1 1\n0.9 0.9 0.8\n";
        LutFileOptions options{path, LutFormatId::Cube};
        options.bake = true;
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || (file.close(), !read->readLut(options, false))) {
            std::fprintf(stderr, "chromaduct-fuzz: cannot make the picture LUT\n");
            std::abort();
        }
        return read;
    }();
    const QString input = g_scratch->filePath(QStringLiteral("picture-input"));
    if (!writeInput(input, data, size)) {
        std::fprintf(stderr, "chromaduct-fuzz: cannot write %s\n", qPrintable(input));
        std::abort();
    }
    const quint32 h = hashOf(data, size);
    if (g_fuzzing && declaredPicturePixels(input, data, size) > 128 * 128 && h % 64 != 0) {
        QFile::remove(input);
        return;
    }
    static const char *const types[] = {"png", "tif", "jpg", "bmp", "dpx", "exr"};
    const QString output = g_scratch->filePath(QStringLiteral("picture-output.") + QLatin1String(types[h % 6]));
    LutImageCodec::PictureOutput picture;
    picture.bits = (h >> 4) % 4 == 0 && h % 6 != 5 ? 8 : 0; // an EXR takes no depth
    QString reason;
    QStringList notes;
    const int status = LutImageCodec::applyToPicture(*lut, input, output, picture, &reason, &notes);
    g_outcome.read = status == 0;
    g_outcome.reason = reason;
    if (status != 0 && reason.isEmpty()) {
        std::fprintf(stderr, "chromaduct-fuzz: picture reader: failed without a reason\n");
        std::abort();
    }
    if (status == 0 && QFileInfo(output).size() == 0) {
        std::fprintf(stderr, "chromaduct-fuzz: picture reader: succeeded without a picture\n");
        std::abort();
    }
    QFile::remove(input);
    QFile::remove(output);
}

void runOne(const LutFormat *format, const uint8_t *data, size_t size)
{
    const bool image = isImage(format);
    g_outcome = FuzzTarget::Outcome();
    g_outcome.format = format;
    g_outcome.reader = format->name;
    const QString input = scratchFile("input", format);
    if (!writeInput(input, data, size)) {
        std::fprintf(stderr, "chromaduct-fuzz: cannot write %s\n", qPrintable(input));
        std::abort();
    }
    const quint32 h = hashOf(data, size);
    LutFileOptions options;
    options.path = input;
    options.format = format->id;
    options.defaultOrder = h % 4 != 0;
    options.dataOrderRGB = (h >> 2) % 2;
    options.tableOrderRGB = (h >> 3) % 2;
    options.bake = (h >> 20) % 4 == 0;

    // The window first reads the header alone, then the whole file; one run
    // in four does so too. (A header read of a LUT image would only decode
    // it twice.)
    if ((h >> 24) % 4 == 0 && !image) {
        Read_LUTFile header;
        checkRead(format, header, header.readLut(options, true), true);
    }
    Read_LUTFile lut;
    g_outcome.read = lut.readLut(options, false);
    checkRead(format, lut, g_outcome.read, false);
    g_outcome.reason = lut.errorString;
    if (g_outcome.read)
        convert(format, lut, h);
    QFile::remove(input);
}

} // namespace

namespace FuzzTarget {

void initialise(int *argc, char ***argv)
{
    static int appArgc = 1;
    static char *appArgv[] = {(*argc > 0 && *argv) ? (*argv)[0] : const_cast<char *>("chromaduct-fuzz"), nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(appArgc, appArgv); // reachable until exit through instance()
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    qInstallMessageHandler(dropMessages);

    const QString shm = QStringLiteral("/dev/shm");
    const QString base = QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
    g_scratch = std::make_unique<QTemporaryDir>(base + QStringLiteral("/chromaduct-fuzz-XXXXXX"));
    if (!g_scratch->isValid()) {
        std::fprintf(stderr, "chromaduct-fuzz: cannot make a scratch folder in %s\n", qPrintable(base));
        std::exit(2);
    }

    if (const char *name = std::getenv("CHROMADUCT_FUZZ_FORMAT"); name && std::strcmp(name, kPictureReader) == 0) {
        g_picture = true;
    } else if (name) {
        const LutFormat *format = LutFormats::byName(QString::fromLocal8Bit(name));
        if (!format || !format->canRead()) {
            std::fprintf(stderr, "chromaduct-fuzz: CHROMADUCT_FUZZ_FORMAT=%s names no readable format\n", name);
            std::exit(2);
        }
        g_format = format;
    }
}

void setFormat(const LutFormat *format)
{
    g_format = format;
    g_picture = false;
}

void setPicture()
{
    g_format = nullptr;
    g_picture = true;
}

const Outcome &lastOutcome()
{
    return g_outcome;
}

QString scratchFolder()
{
    return g_scratch ? g_scratch->path() : QString();
}

} // namespace FuzzTarget

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzTarget::initialise(argc, argv);
    g_fuzzing = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A picture as the readers' bounds take it: a 64 KiB picture may declare
    // millions of pixels, each a LUT evaluation (a float picture's through
    // the shaper and the cube, some 100 us a pixel under the sanitizers);
    // runPicture takes pictures of up to 128 x 128 pixels (four EXR blocks
    // of rows, a TIFF's strips and tiles) and larger ones one run in 64.
    if (g_picture) {
        runPicture(data, size);
        return 0;
    }
    const LutFormat *format = g_format;
    if (!format) {
        if (size == 0)
            return 0;
        format = LutFormats::byId(data[0] % LutFormats::kCount);
        ++data;
        --size;
    }
    // A LUT image within the readers' bounds is decoded in full, and a
    // 64 KiB PNG may declare a 4,096 x 4,096 image: more than a second under
    // the sanitizers, where the fuzzer would do a few runs a second. The
    // fuzzer decodes images of up to 256 x 256 pixels (a 16-point tiled
    // image, a 1024 x 16 strip, a Hald of level 6), whose pixels go through
    // the same code as larger ones, and sends larger headers to the reader
    // one run in 64 (those past the bounds fail there before anything is
    // decoded); the replay runs every input, the large seeds among them.
    if (g_fuzzing && isImage(format) && declaredPixels(data, size) > 256 * 256 && hashOf(data, size) % 64 != 0) {
        g_outcome = FuzzTarget::Outcome();
        g_outcome.format = format;
        return 0;
    }
    runOne(format, data, size);
    return 0;
}
