// LUT images written and read back (8 and 16 bits, PNG, TIFF and BMP), the Hald CLUT against ImageMagick, and
// chromaduct-convert --apply and --preview: against OpenColorIO's ocioconvert and ImageMagick's -hald-clut, alpha,
// depths, picture types, thread counts and bad pictures.

#include "TestSupport.h"
#include "image/ImageApply.h"
#include "image/LutDpx.h"
#include "image/LutExr.h"
#include "image/LutTiff.h"
#include "image/LutPreview.h"
#include "lut/LutFormats.h"
#include "lut/LutImageCodec.h"
#include "lut/LutParallel.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"
#include <QImage>
#include <QRgba64>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <Imath/half.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfRgbaFile.h>
#include <ImfStringAttribute.h>
#include <ImfOutputFile.h>
#include <ImfTileDescription.h>
#include <ImfTiledOutputFile.h>
#include <tiffio.h>
#include <sys/resource.h>
#include <cmath>
#include <cstring>
#include <limits>
#include <functional>
#include <tuple>

extern "C" const LutImageCodec::ModuleApi *chromaduct_image_module();

namespace {

using TestSupport::runConvert;
constexpr int kTiled = 1, kStrip = 2, kHald = 19;

// A non-separable grade within 0..1 at lattice point (r, g, b) of an n-point cube.
double grade(int r, int g, int b, int n, int c)
{
    const double x = r / double(n - 1), y = g / double(n - 1), z = b / double(n - 1);
    return c == 0 ? 0.8 * x + 0.2 * y * z : c == 1 ? std::pow(y, 1.3) * 0.9 + 0.1 * x : 0.7 * std::sqrt(z) + 0.3 * x * y;
}

// The largest difference of any colour channel between two images of one size, in codes of 65535 (-1: sizes differ).
int largestDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return -1;
    const QImage x = a.convertToFormat(QImage::Format_RGBA64), y = b.convertToFormat(QImage::Format_RGBA64);
    int largest = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgba64 p = reinterpret_cast<const QRgba64 *>(x.constScanLine(row))[col];
            const QRgba64 q = reinterpret_cast<const QRgba64 *>(y.constScanLine(row))[col];
            largest = std::max({largest, std::abs(p.red() - q.red()), std::abs(p.green() - q.green()), std::abs(p.blue() - q.blue())});
        }
    return largest;
}

// A float picture: width * height pixels of red, green, blue, alpha values.
struct Values
{
    int width = 0, height = 0, bits = 0;
    bool alpha = false;
    std::vector<float> rgba;
};

// A gradient reaching from -0.7 to 2.8 in red and beyond 0..1 in green and blue; alpha from 0 to 1.
Values gradient(int width, int height)
{
    Values v{width, height, 32, true, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            v.rgba.insert(v.rgba.end(), {float(-0.7 + 3.5 * x / (width - 1)), float(1.8 * y / (height - 1) - 0.2),
                                         float(2.2 * ((x + y) % 17) / 16 - 0.1), float((x * y) % 10 / 9.0)});
    return v;
}

// Writes v through libtiff as 16- or 32-bit floating-point samples, deflated, RGB or RGBA (premultiplied), in strips of 5 rows
// or tiles of 16 x 16, contiguous or in planes.
bool writeFloatTiff(const QString &path, const Values &v, int bits, bool alpha, bool tiled, bool planar)
{
    TIFF *t = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!t)
        return false;
    const int samples = alpha ? 4 : 3;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(v.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(v.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(bits));
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, uint16_t(SAMPLEFORMAT_IEEEFP));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samples));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ADOBE_DEFLATE));
    if (alpha) {
        // Associated, as in an EXR: OpenImageIO would premultiply unassociated colours on reading.
        const uint16_t extra = EXTRASAMPLE_ASSOCALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), &extra);
    }
    const int blockW = tiled ? 16 : v.width, blockH = tiled ? 16 : 5;
    if (tiled) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, uint32_t(blockW));
        TIFFSetField(t, TIFFTAG_TILELENGTH, uint32_t(blockH));
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(blockH));
    }
    const int planes = planar ? samples : 1, perPixel = planar ? 1 : samples;
    std::vector<uchar> block(size_t(blockW) * blockH * perPixel * 4);
    bool ok = true;
    for (int p = 0; p < planes; ++p)
        for (int y0 = 0; y0 < v.height; y0 += blockH)
            for (int x0 = 0; x0 < v.width; x0 += blockW) {
                std::fill(block.begin(), block.end(), 0);
                for (int r = 0; r < blockH && y0 + r < v.height; ++r)
                    for (int x = 0; x < blockW && x0 + x < v.width; ++x)
                        for (int k = 0; k < perPixel; ++k) {
                            const float f = v.rgba[(size_t(y0 + r) * v.width + x0 + x) * 4 + (planar ? p : k)];
                            const size_t at = (size_t(r) * blockW + x) * perPixel + k;
                            if (bits == 32)
                                std::memcpy(block.data() + 4 * at, &f, 4);
                            else
                                reinterpret_cast<quint16 *>(block.data())[at] = Imath::half(f).bits();
                        }
                const tmsize_t size = tmsize_t(blockW) * std::min(blockH, tiled ? blockH : v.height - y0) * perPixel * bits / 8;
                ok = ok && (tiled ? TIFFWriteTile(t, block.data(), x0, y0, 0, uint16_t(p)) >= 0
                                  : TIFFWriteEncodedStrip(t, TIFFComputeStrip(t, y0, uint16_t(p)), block.data(), size) >= 0);
            }
    TIFFClose(t);
    return ok;
}

// Writes an 8-bit picture as YCbCr in JPEG, 2 x 2 subsampled (libtiff converts the RGB rows).
bool writeYCbCrTiff(const QString &path, const QImage &picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    TIFF *t = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!t)
        return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(rgb.width()));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(rgb.height()));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_JPEG));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_YCBCR));
    TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(2), uint16_t(2));
    TIFFSetField(t, TIFFTAG_JPEGQUALITY, 95);
    TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(16));
    bool ok = true;
    for (int y = 0; y < rgb.height() && ok; ++y)
        ok = TIFFWriteScanline(t, const_cast<uchar *>(rgb.constScanLine(y)), uint32_t(y), 0) >= 0;
    TIFFClose(t);
    return ok;
}

// Writes v as an OpenEXR file of half or float channels, scan lines (PIZ unless told) or 16 x 16 tiles (ZIP
// unless told).
bool writeExr(const QString &path, const Values &v, bool half, bool alpha, bool tiled,
              Imf::Compression compression = Imf::NUM_COMPRESSION_METHODS)
{
    try {
        Imf::Header header(v.width, v.height);
        header.compression() = compression != Imf::NUM_COMPRESSION_METHODS ? compression
                               : tiled                                     ? Imf::ZIP_COMPRESSION
                                                                           : Imf::PIZ_COMPRESSION;
        const char *names[] = {"R", "G", "B", "A"};
        const std::vector<Imath::half> halves(v.rgba.begin(), v.rgba.end());
        Imf::FrameBuffer frame;
        for (int c = 0; c < (alpha ? 4 : 3); ++c) {
            header.channels().insert(names[c], Imf::Channel(half ? Imf::HALF : Imf::FLOAT));
            const size_t size = half ? 2 : 4;
            frame.insert(names[c], Imf::Slice(half ? Imf::HALF : Imf::FLOAT, half ? (char *)(halves.data() + c) : (char *)(v.rgba.data() + c),
                                              4 * size, 4 * size * size_t(v.width)));
        }
        if (tiled) {
            header.setTileDescription(Imf::TileDescription(16, 16));
            Imf::TiledOutputFile file(QFile::encodeName(path).constData(), header);
            file.setFrameBuffer(frame);
            file.writeTiles(0, file.numXTiles() - 1, 0, file.numYTiles() - 1);
        } else {
            Imf::OutputFile file(QFile::encodeName(path).constData(), header);
            file.setFrameBuffer(frame);
            file.writePixels(v.height);
        }
    } catch (const std::exception &e) {
        qWarning("%s", e.what());
        return false;
    }
    return true;
}

// A float TIFF or an EXR read back through the program's readers (bits of red; width 0 when unreadable).
Values readValues(const QString &path)
{
    Values v;
    std::function<bool(float *)> row;
    ExrReader exr;
    TiffReader tiff;
    if (path.endsWith(".exr") && exr.open(path)) {
        v = Values{exr.width(), exr.height(), exr.bits(0), exr.hasAlpha(), {}};
        row = [&exr](float *r) { return exr.readRow(r); };
    } else if (!path.endsWith(".exr") && tiff.open(path) == TiffReader::Float) {
        v = Values{tiff.width(), tiff.height(), tiff.bits(), tiff.hasAlpha(), {}};
        row = [&tiff](float *r) { return tiff.readRow(r); };
    } else {
        return Values();
    }
    v.rgba.resize(size_t(v.width) * v.height * 4);
    for (int y = 0; y < v.height; ++y)
        if (!row(v.rgba.data() + size_t(y) * v.width * 4))
            return Values();
    return v;
}

bool haveMagick() { return TestSupport::runProcess("convert", {"-version"}).out.contains("ImageMagick"); }

} // namespace

class TestImages : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString corpus(const char *name) const { return TestSupport::corpusDir() + "/colour-science/iridas_cube/" + name; }
    bool haveCorpus() const { return !TestSupport::corpusDir().isEmpty(); }
    // A two-point cube that inverts every channel.
    QString invertCube() { return TestSupport::writeFile(path("invert.cube"), "LUT_3D_SIZE 2\n1 1 1\n0 1 1\n1 0 1\n0 0 1\n1 1 0\n0 1 0\n1 0 0\n0 0 0\n"); }
    // The test picture of the preview, as a 16-bit PNG.
    QString picture(const QString &name, int width = 300, int height = 200)
    {
        const QString file = path(name);
        return LutPreview::testPicture(width, height).save(file) ? file : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(TestSupport::haveOcio() && haveMagick(), "ocioconvert (opencolorio-tools) or ImageMagick is missing");
    }

    // Each writer's image reads back as the table within one code of its depth, in its own order or another
    // (read with that order too); the container follows the name. Sizes the layout has not, and depths it
    // cannot hold, are refused with a reason and no file.
    void writersReadBackWithinOneCode_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("scale");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("defaultOrder");
        QTest::newRow("tiled 16 bmp 8-bit") << kTiled << 16 << 255 << "t.bmp" << true;
        QTest::newRow("tiled 64 tif 16-bit") << kTiled << 64 << 65535 << "t.tif" << true;
        QTest::newRow("strip 5 png 8-bit other order") << kStrip << 5 << 255 << "s.png" << false;
        QTest::newRow("strip 17 tiff 16-bit") << kStrip << 17 << 65535 << "s.tiff" << true;
        QTest::newRow("hald 9 png 8-bit") << kHald << 9 << 255 << "h.png" << true;
        QTest::newRow("hald 36 png 16-bit other order") << kHald << 36 << 65535 << "h.png" << false;
        QTest::newRow("hald 4 tif 16-bit") << kHald << 4 << 65535 << "h.tif" << true;
        QTest::newRow("refused: hald 17") << kHald << 17 << 65535 << "x.png" << true;
        QTest::newRow("refused: tiled 17") << kTiled << 17 << 65535 << "x.png" << true;
        QTest::newRow("refused: scale 4095") << kStrip << 5 << 4095 << "x.png" << true;
        QTest::newRow("refused: 16-bit bmp") << kHald << 4 << 65535 << "x.bmp" << true;
    }
    void writersReadBackWithinOneCode()
    {
        QFETCH(int, format);
        QFETCH(int, n);
        QFETCH(int, scale);
        QFETCH(QString, name);
        QFETCH(bool, defaultOrder);
        Read_LUTFile lut, back;
        QVERIFY(lut.setSize3D(n, false));
        for (int i = 0; i < n * n * n; ++i)
            for (int c = 0; c < 3; ++c)
                lut.table3D[i / n / n][i / n % n][i % n][c] = float(grade(i / n / n, i / n % n, i % n, n, c));
        QFile::remove(path(name));
        // Other order: channels reversed, first index fastest.
        LutFileOptions out{path(name), LutFormatId(format), defaultOrder, defaultOrder, defaultOrder, scale, n};
        Write_LUTFile writer;
        const bool written = writer.writeLut(out, &lut);
        if (QString(QTest::currentDataTag()).startsWith("refused")) {
            QVERIFY(!written && !writer.errorString.isEmpty() && !QFile::exists(path(name)));
            return;
        }
        QVERIFY2(written, qPrintable(writer.errorString));
        LutFileOptions in{path(name), LutFormatId(format), defaultOrder, defaultOrder, defaultOrder};
        QVERIFY2(back.readLut(in, false) && back.size3D == n, qPrintable(back.errorString));
        for (int i = 0; i < n * n * n; ++i)
            for (int c = 0; c < 3; ++c)
                QVERIFY(std::fabs(back.table3D[i / n / n][i / n % n][i % n][c] - grade(i / n / n, i / n % n, i % n, n, c)) <= 0.5 / scale + 1e-6);
    }

    // A 512 x 512 image is a Hald CLUT by name (in any case) or --from, else a tiled image; other sizes are strips;
    // TIFF and BMP as PNG. On standard input, with no name, the content alone decides.
    void imagesAreToldByNameAndSize()
    {
        const auto image = [this](const QString &name, int w, int h) {
            QImage picture(w, h, QImage::Format_RGB888);
            picture.fill(Qt::darkCyan);
            return picture.save(path(name)) ? path(name) : QString();
        };
        const struct { QString file; int input; int output; } cases[] = {
            {image("grade.png", 512, 512), kTiled, kTiled}, {image("Film-HALD.png", 512, 512), kHald, kHald},
            {image("grade.tif", 64, 64), kTiled, kTiled},    {image("x_hald.tiff", 64, 64), kHald, kHald},
            {image("strip.bmp", 289, 17), kStrip, kTiled},   {image("grade.hald.png", 27, 27), kHald, kHald}};
        for (const auto &c : cases) {
            QVERIFY(!c.file.isEmpty());
            QCOMPARE(LutFormats::forInput(c.file)->number(), c.input);
            QCOMPARE(LutFormats::forOutput(c.file)->number(), c.output);
        }
        QCOMPARE(LutFormats::forContent(path("Film-HALD.png"))->number(), kTiled);
        const QByteArray hald = TestSupport::readFile(path("Film-HALD.png"));
        QVERIFY(runConvert({"--info", "-"}, hald).out.contains("format: tiled-image (1)\nsize3D: 64\n"));
        QVERIFY(runConvert({"--info", "--from", "hald", "-"}, hald).out.contains("format: hald (19)\nsize3D: 64\n"));
    }

    // The image code of this build is accepted; a module of another build
    // (another build id, or shared types of other sizes) is refused with why.
    void moduleOfAnotherBuildIsRefused()
    {
        const LutImageCodec::ModuleApi *ours = chromaduct_image_module();
        QString why;
        QVERIFY(LutImageCodec::acceptsModule(*ours, &why));
        LutImageCodec::ModuleApi other = *ours;
        other.buildId = "0123456789abcdef";
        QVERIFY(!LutImageCodec::acceptsModule(other, &why) && why.contains("0123456789abcdef"));
        other = *ours;
        other.typeSizes[0] += 8;
        QVERIFY(!LutImageCodec::acceptsModule(other, &why) && why.contains("differ in size"));
    }

    // Into a folder, a Hald CLUT is named so that it reads back as one.
    void batchNamesHaldCluts()
    {
        if (!haveCorpus())
            QSKIP("the LUT corpus is not available");
        const TestSupport::ProcessResult r = runConvert({"--to", "hald", "--size", "5", "--out-dir", path("batch"), corpus("Unit.cube")});
        QVERIFY2(r.exitCode == 0 && r.err.contains("resampled from 5 to 4 points per axis"), r.err.constData());
        QVERIFY(runConvert({"--info", path("batch/Unit.hald.png")}).out.contains("format: hald (19)\nsize3D: 4\n"));
    }

    // An identity Hald CLUT written at level 8 is ImageMagick's hald:8 pixel for pixel (within one 16-bit code);
    // one written from a corpus cube, applied by ImageMagick, is our --apply of the cube within 1%; our --apply of
    // a corpus cube to a 16-bit picture is ocioconvert's within 2 codes of 65535, a cube with an input domain and a
    // 1D table included.
    void peersAgree()
    {
        if (!haveCorpus())
            QSKIP("the LUT corpus is not available");
        const QString in = picture("in16.png");
        QVERIFY(TestSupport::runProcess("convert", {"hald:8", "-depth", "16", path("im-hald8.png")}).exitCode == 0);
        const TestSupport::ProcessResult id = runConvert({"--size", "64", corpus("Unit.cube"), path("identity-hald.png")});
        QVERIFY2(id.exitCode == 0 && id.err.isEmpty(), id.err.constData());
        QCOMPARE(largestDifference(QImage(path("identity-hald.png")), QImage(path("im-hald8.png"))), 0);

        QVERIFY(runConvert({"--bake", "--size", "64", corpus("Colour_Correct.cube"), path("cc-hald.png")}).exitCode == 0);
        QVERIFY(TestSupport::runProcess("convert", {in, path("cc-hald.png"), "-hald-clut", path("im-applied.png")}).exitCode == 0);
        QVERIFY(runConvert({"--apply", corpus("Colour_Correct.cube"), in, path("ours.png")}).exitCode == 0);
        const int byMagick = largestDifference(QImage(path("ours.png")), QImage(path("im-applied.png")));
        QVERIFY2(byMagick >= 0 && byMagick <= 655, qPrintable(QString::number(byMagick)));

        for (const char *lut : {"Colour_Correct.cube", "eotf_sRGB_3D.cube", "ACES_Proxy_10_to_ACES.cube"}) {
            const TestSupport::ProcessResult ours = runConvert({"--apply", corpus(lut), in, path("ours.png")});
            QVERIFY2(ours.exitCode == 0 && ours.err.isEmpty(), ours.err.constData());
            QVERIFY(TestSupport::runProcess("ocioconvert", {"--lut", corpus(lut), in, path("ocio.png")}).exitCode == 0);
            const int byOcio = largestDifference(QImage(path("ours.png")), QImage(path("ocio.png")));
            QVERIFY2(byOcio >= 0 && byOcio <= 2, qPrintable(QString("%1: %2").arg(lut).arg(byOcio)));
        }
    }

    // 8-bit RGBA in, 8-bit RGBA out with alpha untouched; grey, palette and interlaced PNGs and TIFF are read;
    // --scale picks the depth; a JPEG holds 8 bits (a note when the input had 16); the thread count changes nothing.
    void applyKeepsAlphaDepthAndTypes()
    {
        // A 2-point cube that inverts: out = 255 - in exactly; a 1D table that scales red, green by 1/2, 1/4.
        const QString invert = TestSupport::writeFile(path("invert.cube"), "LUT_3D_SIZE 2\n1 1 1\n0 1 1\n1 0 1\n0 0 1\n1 1 0\n0 1 0\n1 0 0\n0 0 0\n");
        const QString dim = TestSupport::writeFile(path("dim.cube"), "LUT_1D_SIZE 2\n0 0 0\n0.5 0.25 1\n");
        QImage rgba(40, 30, QImage::Format_ARGB32);
        for (int i = 0; i < 1200; ++i)
            rgba.setPixel(i % 40, i / 40, qRgba(i * 7 % 256, i * 13 % 256, i % 256, i * 3 % 256));
        QVERIFY(rgba.save(path("rgba.png")));
        QVERIFY(runConvert({"--apply", invert, path("rgba.png"), path("inverted.png")}).exitCode == 0);
        QImage out(path("inverted.png"));
        QVERIFY(out.depth() == 32 && out.hasAlphaChannel());
        out = out.convertToFormat(QImage::Format_ARGB32);
        for (int i = 0; i < 1200; ++i) {
            const QRgb p = rgba.pixel(i % 40, i / 40), q = out.pixel(i % 40, i / 40);
            QVERIFY(qAlpha(q) == qAlpha(p) && qRed(q) == 255 - qRed(p) && qGreen(q) == 255 - qGreen(p) && qBlue(q) == 255 - qBlue(p));
        }

        // A 16-bit RGBA TIFF of 1600 x 1000 (its rows copied as they are both ways; its 12.8 MB written out while
        // still being written): every code inverted exactly, alpha kept.
        QImage big16(1600, 1000, QImage::Format_RGBA64);
        for (int y = 0; y < big16.height(); ++y) {
            auto *line = reinterpret_cast<QRgba64 *>(big16.scanLine(y));
            for (int x = 0; x < big16.width(); ++x)
                line[x] = QRgba64::fromRgba64(quint16(x * 41 + y), quint16(y * 65), quint16((x ^ y) * 7), quint16(x * y));
        }
        QVERIFY(big16.save(path("wide16.tif")));
        QVERIFY(runConvert({"--apply", invert, path("wide16.tif"), path("wide-out.tif")}).exitCode == 0);
        const QImage big16Out = QImage(path("wide-out.tif")).convertToFormat(QImage::Format_RGBA64);
        QVERIFY(big16Out.size() == big16.size());
        for (int y = 0; y < big16.height(); ++y) {
            const auto *a = reinterpret_cast<const QRgba64 *>(big16.constScanLine(y));
            const auto *b = reinterpret_cast<const QRgba64 *>(big16Out.constScanLine(y));
            for (int x = 0; x < big16.width(); ++x)
                QVERIFY2(b[x].red() == 65535 - a[x].red() && b[x].green() == 65535 - a[x].green()
                             && b[x].blue() == 65535 - a[x].blue() && b[x].alpha() == a[x].alpha(),
                         qPrintable(QString("%1,%2").arg(x).arg(y)));
        }

        // The steps after the LUT apply too: a cube that does nothing, then the inverting one, is the inverting
        // one; a grade after it is the grade.
        const QString nothing = TestSupport::writeFile(path("nothing.cube"), "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n");
        QVERIFY(runConvert({"--apply", nothing, "--then", invert, path("rgba.png"), path("chained.png")}).exitCode == 0);
        QCOMPARE(TestSupport::readFile(path("chained.png")), TestSupport::readFile(path("inverted.png")));
        QVERIFY(runConvert({"--apply", nothing, "--slope", "0.5,0.25,1", path("rgba.png"), path("graded.png")}).exitCode == 0);
        QVERIFY(runConvert({"--apply", dim, path("rgba.png"), path("dimmed.png")}).exitCode == 0);
        const int graded = largestDifference(QImage(path("graded.png")), QImage(path("dimmed.png")));
        QVERIFY2(graded >= 0 && graded <= 257, qPrintable(QString::number(graded))); // a code of 255: the table rounds

        // A palette with a transparent entry: colours expanded, alpha from the palette.
        QVERIFY(TestSupport::runProcess("convert", {path("rgba.png"), "-colors", "32", "PNG8:" + path("palette.png")}).exitCode == 0);
        QVERIFY(runConvert({"--apply", invert, path("palette.png"), path("inverted.png")}).exitCode == 0);
        const QImage palette = QImage(path("palette.png")).convertToFormat(QImage::Format_ARGB32);
        const QImage unpaletted = QImage(path("inverted.png")).convertToFormat(QImage::Format_ARGB32);
        QVERIFY(palette.hasAlphaChannel() && unpaletted.hasAlphaChannel());
        for (int i = 0; i < 1200; ++i) {
            const QRgb p = palette.pixel(i % 40, i / 40), q = unpaletted.pixel(i % 40, i / 40);
            QVERIFY(qAlpha(q) == qAlpha(p) && (qAlpha(p) == 0 || (qRed(q) == 255 - qRed(p) && qBlue(q) == 255 - qBlue(p))));
        }

        // An 8-bit TIFF with unassociated alpha: the colours as stored, not rounded through premultiplication.
        QVERIFY(TestSupport::runProcess("convert", {path("rgba.png"), "-define", "tiff:alpha=unassociated", path("rgba.tif")}).exitCode == 0);
        QVERIFY(runConvert({"--apply", invert, path("rgba.tif"), path("inverted-tif.png")}).exitCode == 0);
        out = QImage(path("inverted-tif.png")).convertToFormat(QImage::Format_ARGB32);
        for (int i = 0; i < 1200; ++i) {
            const QRgb p = rgba.pixel(i % 40, i / 40), q = out.pixel(i % 40, i / 40);
            QVERIFY(qAlpha(q) == qAlpha(p) && qRed(q) == 255 - qRed(p) && qGreen(q) == 255 - qGreen(p) && qBlue(q) == 255 - qBlue(p));
        }

        // The same pixels through libpng's whole-picture path (interlaced), a grey PNG and TIFF: Qt's file, 16-bit
        // planes, LZW strips of 7 rows, ZIP tiles, and rows marked bottom-up (which the toolkit decodes: the
        // picture they mean is the other way up).
        const QString in16 = picture("p16.png", 64, 48);
        QVERIFY(TestSupport::runProcess("convert", {in16, "-interlace", "PNG", path("interlaced.png")}).exitCode == 0);
        QVERIFY(QImage(in16).save(path("p16.tif")));
        const std::vector<std::pair<const char *, QStringList>> layouts = {
            {"planes.tif", {"-interlace", "plane"}},
            {"strips.tif", {"-compress", "lzw", "-define", "tiff:rows-per-strip=7"}},
            {"tiles.tif", {"-compress", "zip", "-define", "tiff:tile-geometry=16x16"}},
            {"bottom-up.tif", {"-orient", "bottomleft"}}};
        QStringList others{path("interlaced.png"), path("p16.tif")};
        for (const auto &[name, arguments] : layouts) {
            QVERIFY(TestSupport::runProcess("convert", QStringList{in16, "-depth", "16"} + arguments + QStringList{path(name)}).exitCode == 0);
            others << path(name);
        }
        QVERIFY(runConvert({"--apply", dim, in16, path("dim.png")}).exitCode == 0);
        for (const QString &other : others) {
            QVERIFY(runConvert({"--apply", dim, other, path("dim-other.png")}).exitCode == 0);
            const QImage expected = QImage(path("dim.png")).mirrored(false, other.endsWith("bottom-up.tif"));
            QVERIFY2(largestDifference(expected, QImage(path("dim-other.png"))) == 0, qPrintable(other));
        }
        // The TIFF layouts left to the toolkit (a palette, CMYK, YCbCr in JPEG, associated alpha at 8 and 16 bits)
        // and JPEG-compressed RGB read as ImageMagick reads them into sRGB, within 1%.
        QVERIFY(writeYCbCrTiff(path("ycbcr.tif"), QImage(in16)));
        const std::vector<std::pair<const char *, QStringList>> toolkit = {
            {"palette.tif", {"-depth", "8", "-type", "palette"}},
            {"cmyk.tif", {"-depth", "8", "-colorspace", "CMYK"}},
            {"ycbcr.tif", {}},
            {"jpeg-rgb.tif", {"-depth", "8", "-compress", "jpeg", "-quality", "95"}},
            {"associated8.tif", {"-depth", "8", "-alpha", "set", "-channel", "A", "-evaluate", "set", "60%", "+channel",
                                 "-define", "tiff:alpha=associated"}},
            {"associated16.tif", {"-depth", "16", "-alpha", "set", "-channel", "A", "-evaluate", "set", "40%", "+channel",
                                  "-define", "tiff:alpha=associated"}}};
        for (const auto &[name, arguments] : toolkit) {
            QVERIFY(arguments.isEmpty()
                    || TestSupport::runProcess("convert", QStringList{in16} + arguments + QStringList{path(name)}).exitCode == 0);
            QVERIFY(TestSupport::runProcess("convert", {path(name), "-colorspace", "sRGB", "-depth", "16", "PNG64:" + path("magick.png")}).exitCode == 0);
            QVERIFY2(runConvert({"--apply", nothing, path(name), path("toolkit.png")}).exitCode == 0, name);
            const int difference = largestDifference(QImage(path("toolkit.png")), QImage(path("magick.png")));
            qInfo("%s: largest difference from ImageMagick %d of 65535", name, difference);
            QVERIFY2(difference >= 0 && difference <= 655, qPrintable(QString("%1: %2").arg(name).arg(difference)));
        }
        // 16-bit grey with alpha: depth and alpha kept, the grey as without alpha.
        QVERIFY(TestSupport::runProcess("convert", {in16, "-colorspace", "gray", "-depth", "16", path("grey16.tif")}).exitCode == 0);
        QVERIFY(TestSupport::runProcess("convert", {path("grey16.tif"), "-alpha", "set", "-channel", "A", "-evaluate", "set",
                                                    "60%", "+channel", path("grey-alpha.tif")}).exitCode == 0);
        QVERIFY(runConvert({"--apply", dim, path("grey16.tif"), path("grey16-out.png")}).exitCode == 0);
        QVERIFY(runConvert({"--apply", dim, path("grey-alpha.tif"), path("grey-alpha-out.png")}).exitCode == 0);
        const QImage greyAlpha(path("grey-alpha-out.png"));
        QCOMPARE(greyAlpha.format(), QImage::Format_RGBA64);
        QCOMPARE(largestDifference(greyAlpha, QImage(path("grey16-out.png"))), 0);
        QVERIFY(std::abs(greyAlpha.pixelColor(3, 3).rgba64().alpha() - 0.6 * 65535) <= 1); // 60%, as ImageMagick rounds it
        const QImage source(in16), dimmed(path("dim.png"));
        QCOMPARE(dimmed.format(), QImage::Format_RGBX64); // 16 bits in, 16 out, no alpha added
        const QRgba64 s = source.pixelColor(5, 40).rgba64(), d = dimmed.pixelColor(5, 40).rgba64();
        QVERIFY(std::abs(d.red() - s.red() / 2.0) <= 0.5 && std::abs(d.green() - s.green() / 4.0) <= 0.5 && d.blue() == s.blue());
        QImage grey(8, 2, QImage::Format_Grayscale8);
        for (int x = 0; x < 16; ++x)
            grey.scanLine(x / 8)[x % 8] = uchar(17 * x);
        QVERIFY(grey.save(path("grey.png")));
        QVERIFY(runConvert({"--apply", dim, path("grey.png"), path("grey-out.png")}).exitCode == 0);
        QCOMPARE(QImage(path("grey-out.png")).pixel(7, 1), qRgb(128, 64, 255)); // 255 x (1/2, 1/4, 1)

        const TestSupport::ProcessResult eight = runConvert({"--apply", dim, in16, path("dim8.png"), "--scale", "255"});
        QVERIFY(eight.exitCode == 0 && QImage(path("dim8.png")).depth() == 32);
        const TestSupport::ProcessResult jpeg = runConvert({"--apply", dim, in16, path("dim.jpg")});
        QVERIFY2(jpeg.exitCode == 0 && jpeg.err.contains("note: written with 8 bits") && !QImage(path("dim.jpg")).isNull(), jpeg.err.constData());
        // JPEG: full-resolution chroma, within 2% of the exact 8-bit result on a smooth picture at the default
        // quality; --quality is what libjpeg is given (a lower one, a smaller file further off).
        QImage smooth(256, 128, QImage::Format_RGB32);
        for (int i = 0; i < 256 * 128; ++i)
            smooth.setPixel(i % 256, i / 256, qRgb(i % 256, i / 256 * 2, (i % 256 + i / 128) / 3));
        QVERIFY(smooth.save(path("smooth.png")));
        QVERIFY(runConvert({"--apply", dim, path("smooth.png"), path("exact.png")}).exitCode == 0);
        qint64 sizes[2];
        int errors[2];
        for (const int q : {0, 1}) {
            QStringList arguments{"--apply", dim, path("smooth.png"), path("smooth.jpg")};
            if (q)
                arguments << "--quality" << "40";
            QVERIFY(runConvert(arguments).exitCode == 0);
            sizes[q] = QFileInfo(path("smooth.jpg")).size();
            errors[q] = largestDifference(QImage(path("smooth.jpg")), QImage(path("exact.png")));
            const TestSupport::ProcessResult sampling =
                TestSupport::runProcess("identify", {"-format", "%[jpeg:sampling-factor]", path("smooth.jpg")});
            QCOMPARE(sampling.out.trimmed(), QByteArray("1x1,1x1,1x1"));
        }
        QVERIFY2(errors[0] >= 0 && errors[0] <= 0.02 * 65535, qPrintable(QString::number(errors[0] / 65535.0)));
        QVERIFY(sizes[1] < sizes[0] && errors[1] > errors[0]);

        // Threads: one, three and every core give the same bytes, on a picture of several bands.
        Read_LUTFile lut;
        LutFileOptions options{haveCorpus() ? corpus("Colour_Correct.cube") : invertCube(), LutFormatId::Cube};
        options.bake = true;
        QVERIFY(lut.readLut(options, false));
        const QString wide = picture("wide.png", 900, 700);
        QByteArray first;
        for (const int threads : {1, 3, 0}) {
            ImageApply::Options o;
            o.threads = threads;
            QVERIFY(ImageApply::apply(lut, wide, path("threads.png"), o).status == ImageApply::Status::Done);
            const QByteArray bytes = TestSupport::readFile(path("threads.png"));
            QVERIFY(!bytes.isEmpty() && (first.isEmpty() || bytes == first));
            first = bytes;
        }
    }

    // 10-bit DPX (ImageMagick's, big-endian, method A) through a LUT into DPX: within a code of 1023 of
    // ocioconvert's (a little-endian file), as read here, and as ImageMagick reads ours; the header's time code and
    // frame rate kept; the same pixels from a little-endian method B file, RGBA with its alpha, 16 bits; damaged
    // headers refused in one line.
    void applyDpx()
    {
        const QString lut = TestSupport::writeFile(path("grade.cube"), "LUT_3D_SIZE 2\n0.1 0 0\n0.9 0.1 0\n0 0.8 0.1\n0.7 0.8 0\n"
                                                                   "0 0.1 0.9\n1 0 0.7\n0.1 1 1\n0.9 0.9 0.8\n");
        const QString identity = TestSupport::writeFile(path("identity.cube"), "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n0 0 1\n1 0 1\n0 1 1\n1 1 1\n");
        // A DPX as read here, in a 16-bit PNG.
        const auto read = [&](const QString &file) {
            return runConvert({"--apply", identity, file, path("read.png"), "--scale", "65535"}).exitCode == 0 ? QImage(path("read.png"))
                                                                                                               : QImage();
        };
        QVERIFY(TestSupport::runProcess("convert", {"-size", "96x64", "gradient:#103060-#f0c080", "-depth", "10", "-define",
                                                    "dpx:television.time.code=01:02:03:04", "-define", "dpx:film.frame_rate=24",
                                                    path("in.dpx")}).exitCode == 0);
        const TestSupport::ProcessResult ours = runConvert({"--apply", lut, path("in.dpx"), path("ours.dpx")});
        QVERIFY2(ours.exitCode == 0 && ours.err.isEmpty(), ours.err.constData());
        QVERIFY(TestSupport::runProcess("ocioconvert", {"--lut", lut, path("in.dpx"), path("peer.dpx")}).exitCode == 0);
        const QImage mine = read(path("ours.dpx"));
        const int byPeer = largestDifference(mine, read(path("peer.dpx")));
        QVERIFY2(byPeer >= 0 && byPeer <= 65, qPrintable(QString("%1 of 65535 from ocioconvert").arg(byPeer)));
        // ImageMagick takes DPX codes for linear light: read as they are.
        QVERIFY(TestSupport::runProcess("convert", {path("ours.dpx"), "-set", "colorspace", "sRGB", "-depth", "16", "PNG48:" + path("magick.png")}).exitCode == 0);
        QCOMPARE(largestDifference(mine, QImage(path("magick.png"))), 0);
        QCOMPARE(QFileInfo(path("ours.dpx")).size(), qint64(2048 + 96 * 64 * 4));
        const QByteArray kept = TestSupport::runProcess("identify", {"-format", "%[dpx:television.time.code] %[dpx:film.frame_rate]",
                                                                    path("ours.dpx")}).out;
        QCOMPARE(kept, QByteArray("01:02:03:04 24"));

        // The same pixels little-endian with method B (the padding bits on top), written here from ours.dpx.
        QByteArray big = TestSupport::readFile(path("ours.dpx")), little(big.size(), '\0');
        const auto word = [](const QByteArray &b, int at, int n) {
            quint32 v = 0;
            for (int i = 0; i < n; ++i)
                v = v << 8 | uchar(b[at + i]);
            return v;
        };
        const auto putLittle = [&](int at, int n, quint32 v) {
            for (int i = 0; i < n; ++i, v >>= 8)
                little[at + i] = char(v & 0xff);
        };
        little.replace(0, 2048, big.left(2048));
        putLittle(0, 4, 0x53445058);
        for (const int at : {4, 772, 776, 780 + 28})
            putLittle(at, 4, word(big, at, 4));
        putLittle(770, 2, 1);
        putLittle(780 + 24, 2, 2);
        putLittle(780 + 26, 2, 0);
        putLittle(780 + 32, 4, 0);
        for (int at = 2048; at < big.size(); at += 4)
            putLittle(at, 4, word(big, at, 4) >> 2);
        TestSupport::writeFile(path("little.dpx"), little);
        QVERIFY(runConvert({"--apply", identity, path("little.dpx"), path("again.dpx")}).exitCode == 0);
        QCOMPARE(TestSupport::readFile(path("again.dpx")).mid(2048), big.mid(2048));

        // Line padding is passed over: the rows of ours.dpx 8 bytes apart read as they were, and a row followed by
        // almost 4 GB of padding (one row, so no more file is needed) reads without that much memory.
        const auto putBig = [](QByteArray &b, int at, int n, quint32 v) {
            for (int i = n - 1; i >= 0; --i, v >>= 8)
                b[at + i] = char(v & 0xff);
        };
        QByteArray padded = big.left(2048);
        putBig(padded, 780 + 32, 4, 8);
        for (int at = 2048; at < big.size(); at += 96 * 4)
            padded += big.mid(at, 96 * 4) + QByteArray(8, '\xab');
        TestSupport::writeFile(path("padded.dpx"), padded);
        QVERIFY(runConvert({"--apply", identity, path("padded.dpx"), path("unpadded.dpx")}).exitCode == 0);
        QCOMPARE(TestSupport::readFile(path("unpadded.dpx")).mid(2048), big.mid(2048));
        QByteArray oneRow = big.left(2048 + 96 * 4);
        putBig(oneRow, 776, 4, 1);
        putBig(oneRow, 780 + 32, 4, 0xfffffff0u);
        TestSupport::writeFile(path("one-row.dpx"), oneRow);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        DpxReader reader;
        std::vector<quint16> codes(96 * 4);
        QVERIFY2(reader.open(path("one-row.dpx")) && reader.readRow(codes.data()), qPrintable(reader.errorString()));
        getrusage(RUSAGE_SELF, &after);
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 256 * 1024, qPrintable(QString::number(after.ru_maxrss - before.ru_maxrss)));

        // RGBA keeps its alpha; 16 bits stay 16 bits, within a code of ocioconvert.
        QVERIFY(TestSupport::runProcess("convert", {"-size", "32x16", "gradient:#103060-#f0c080", "-alpha", "set", "-channel", "A",
                                                    "-evaluate", "set", "50%", "+channel", "-depth", "10", path("alpha.dpx")}).exitCode == 0);
        QVERIFY(runConvert({"--apply", lut, path("alpha.dpx"), path("alpha-out.dpx")}).exitCode == 0);
        const QImage alpha = read(path("alpha-out.dpx"));
        QVERIFY(alpha.hasAlphaChannel() && std::abs(alpha.pixelColor(3, 3).rgba64().alpha() - 32768) <= 64);
        QVERIFY(TestSupport::runProcess("convert", {"-size", "96x64", "gradient:#103060-#f0c080", "-depth", "16", path("in16.dpx")}).exitCode == 0);
        QVERIFY(runConvert({"--apply", lut, path("in16.dpx"), path("ours16.dpx")}).exitCode == 0);
        QVERIFY(TestSupport::runProcess("ocioconvert", {"--lut", lut, path("in16.dpx"), path("peer16.dpx")}).exitCode == 0);
        const int sixteen = largestDifference(read(path("ours16.dpx")), read(path("peer16.dpx")));
        QVERIFY2(sixteen >= 0 && sixteen <= 1, qPrintable(QString::number(sixteen)));

        QByteArray lumaOnly = big;
        lumaOnly[780 + 20] = char(6);
        const struct { QByteArray bytes; const char *reason; } bad[] = {
            {big.left(1000), "cannot read the DPX header: the file ends after 1000 bytes"},
            {big.left(big.size() - 4), "the file ends before the image does"},
            {lumaOnly, "a DPX image element of descriptor 6 is not read"},
        };
        for (const auto &b : bad) {
            const QString file = TestSupport::writeFile(path("bad.dpx"), b.bytes);
            const TestSupport::ProcessResult r = runConvert({"--apply", lut, file, path("o.dpx")});
            QVERIFY2(r.exitCode == 1 && r.err.startsWith("chromaduct-convert: " + file.toUtf8() + ": " + b.reason)
                         && r.err.count('\n') == 1 && !QFile::exists(path("o.dpx")),
                     r.err.constData());
        }
    }

    // Bad pictures and outputs: one line naming the file, its status, no output left behind.
    void applyFailsCleanly()
    {
        const QString lut = invertCube(), in = picture("good.png", 20, 10);
        const QByteArray png = TestSupport::readFile(in);
        // A BMP header of a size the toolkit does not know, which it reads as the old 12-byte header (of 100 x 100
        // pixels here), and no pixels: 26 bytes.
        const QByteArray oldHeader = QByteArray("BM") + QByteArray(8, '\0') + QByteArray("\x1a\0\0\0\x14\0\0\0\x64\0\x64\0\x01\0\x18\0", 16);
        // A header that claims 100,000 x 100,000 pixels, with the data of four rows.
        const QString huge = CHROMADUCT_SOURCE_DIR "/tests/fuzz/regressions/hald-header-100000x100000.png";
        const struct { QStringList arguments; int status; int named; const char *reason; } cases[] = {
            {{"--apply", lut, TestSupport::writeFile(path("cut.png"), png.left(png.size() / 2)), path("o.png")}, 1, 2, "cannot decode the PNG image"},
            {{"--apply", lut, huge, path("o.png")}, 1, 2, "100000 x 100000 pixels: more than 1073741824 pixels, the most --apply takes"},
            {{"--apply", lut, TestSupport::writeFile(path("old-header.bmp"), oldHeader), path("o.png")}, 1, 2,
             "cannot load the image: the file ends before the image does: it holds 0 of its 100 rows"},
            {{"--apply", lut, TestSupport::writeFile(path("text.png"), "LUT_3D_SIZE 2\n"), path("o.png")}, 1, 2, "not a PNG, TIFF, OpenEXR, JPEG or BMP image"},
            {{"--apply", path("missing.cube"), in, path("o.png")}, 1, 1, "cannot open"},
            {{"--apply", lut, in, path("o.webp")}, 2, 3, "the picture's type comes from its extension"},
            {{"--apply", lut, in, path("no/dir/o.png")}, 2, 3, "cannot open for writing"},
            {{"--apply", lut, in, path("o.bmp"), "--scale", "65535"}, 2, 3, "a BMP file holds 8 bits per channel"},
            {{"--preview", lut, path("o.jpg")}, 2, 2, "the preview is a PNG image"},
            {{"--preview", lut, "/dev/full"}, 2, 2, "the preview is a PNG image"},
            {{lut, "/dev/full", "--to", "hald"}, 2, 1, "write failed: No space left on device"},
            {{CHROMADUCT_SOURCE_DIR "/tests/fuzz/regressions/hald-level-4-16bit-truncated.png", path("o.png"), "--to", "cube"}, 1, 0,
             "cannot decode the PNG image: the file ends before the image does"},
            {{"--apply", lut, in, path("o.png"), "--scale", "4095"}, 64, -1, ""},
            {{"--apply", lut, in}, 64, -1, ""},
            {{"--preview", lut, path("o.png"), "--size", "17"}, 64, -1, ""},
            {{"--apply", lut, in, path("o.png"), "--quality", "90"}, 64, -1, ""},
            {{"--apply", lut, in, path("o.jpg"), "--quality", "101"}, 64, -1, ""},
            {{lut, path("o.cube"), "--quality", "90"}, 64, -1, ""},
        };
        for (const auto &c : cases) {
            const TestSupport::ProcessResult r = runConvert(c.arguments);
            const QByteArray what = c.arguments.join(' ').toUtf8() + " -> " + r.err;
            QVERIFY2(r.exitCode == c.status && r.err.count('\n') == 1, what.constData());
            QVERIFY2(c.named < 0 || r.err.startsWith("chromaduct-convert: " + c.arguments[c.named].toUtf8() + ": " + c.reason), what.constData());
            QVERIFY2(!QFile::exists(path("o.png")) && !QFile::exists(path("o.bmp")), what.constData());
        }
    }

    // ZIP and ZIPS chunks, deflated here rather than by the library, read back through the library as the values
    // handed over: half, float and mixed channels, with and without alpha, NaN and infinities, a last chunk of a
    // few rows, a chunk of noise that does not deflate (stored as it is). The header of the EXR written like comes
    // along: data and display windows, an attribute of its own, the compression. One thread or three, the same bytes.
    void zipChunksReadBackExactly()
    {
        const char *names[4] = {"R", "G", "B", "A"};
        const auto library = [&names](const QString &file, Imf::Header &header) {
            Imf::InputFile in(QFile::encodeName(file).constData());
            header = in.header();
            const Imath::Box2i w = header.dataWindow();
            const size_t width = size_t(w.max.x - w.min.x + 1), height = size_t(w.max.y - w.min.y + 1);
            std::vector<float> v(width * height * 4, -7.0f);
            Imf::FrameBuffer frame;
            for (int c = 0; c < 4; ++c)
                if (header.channels().findChannel(names[c]))
                    frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(v.data() + c) - (w.min.y * width + w.min.x) * 16,
                                                      16, 16 * width));
            in.setFrameBuffer(frame);
            in.readPixels(w.min.y, w.max.y);
            return v;
        };
        Values source = gradient(67, 41);
        quint32 seed = 1;
        for (size_t i = 67 * 16 * 4; i < 67 * 32 * 4; ++i) {
            seed = seed * 1664525u + 1013904223u;
            source.rgba[i] = float(seed >> 8) / float(1 << 24);
        }
        source.rgba[0] = std::numeric_limits<float>::quiet_NaN();
        source.rgba[5] = std::numeric_limits<float>::infinity();
        source.rgba[10] = -std::numeric_limits<float>::infinity();
        source.rgba[15] = 1e6f; // beyond half's range: an infinity in a half channel
        const struct { Imf::Compression compression; int bits[4]; bool alpha; } cases[] = {
            {Imf::ZIP_COMPRESSION, {16, 16, 16, 16}, true}, {Imf::ZIPS_COMPRESSION, {16, 16, 16, 16}, true},
            {Imf::ZIP_COMPRESSION, {32, 32, 32, 32}, false}, {Imf::ZIPS_COMPRESSION, {16, 32, 16, 32}, true},
            {Imf::ZIP_COMPRESSION, {16, 16, 16, 16}, false},
        };
        for (const auto &c : cases) {
            const QByteArray what = QByteArray::number(int(c.compression)) + " " + QByteArray::number(c.bits[1]) + (c.alpha ? " RGBA" : " RGB");
            const QString in = path("zip-like.exr");
            Imf::Header header(Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(99, 59)), Imath::Box2i(Imath::V2i(10, 5), Imath::V2i(76, 45)));
            header.compression() = c.compression;
            header.insert("owner", Imf::StringAttribute("plate 12"));
            std::vector<Imath::half> halves(source.rgba.begin(), source.rgba.end());
            Imf::FrameBuffer frame;
            for (int ch = 0; ch < (c.alpha ? 4 : 3); ++ch) {
                const bool half = c.bits[ch] == 16;
                header.channels().insert(names[ch], Imf::Channel(half ? Imf::HALF : Imf::FLOAT));
                char *base = half ? reinterpret_cast<char *>(halves.data() + ch) : reinterpret_cast<char *>(source.rgba.data() + ch);
                const size_t size = half ? 2 : 4;
                frame.insert(names[ch], Imf::Slice(half ? Imf::HALF : Imf::FLOAT, base - (5 * 67 + 10) * 4 * size, 4 * size, 4 * size * 67));
            }
            {
                Imf::OutputFile file(QFile::encodeName(in).constData(), header);
                file.setFrameBuffer(frame);
                file.writePixels(41);
            }
            Imf::Header expectedHeader;
            const std::vector<float> expected = library(in, expectedHeader);
            QByteArray bytes[2];
            for (const int threads : {1, 3}) {
                LutParallel::setThreads(threads);
                ExrReader reader;
                QVERIFY2(reader.open(in), what);
                ExrWriter writer;
                QFile out(path("zip-out.exr"));
                QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
                QVERIFY2(writer.open(&out, 67, 41, c.bits, c.alpha, &reader), qPrintable(writer.errorString()));
                std::vector<float> row(67 * 4);
                for (int y = 0; y < 41; ++y)
                    QVERIFY(reader.readRow(row.data()) && writer.writeRow(row.data()));
                QVERIFY2(writer.finish(), qPrintable(writer.errorString()));
                out.close();
                LutParallel::setThreads(0);
                bytes[threads == 1 ? 0 : 1] = TestSupport::readFile(out.fileName());
                Imf::Header written;
                const std::vector<float> values = library(out.fileName(), written);
                QVERIFY2(std::memcmp(values.data(), expected.data(), expected.size() * sizeof(float)) == 0, what);
                QVERIFY2(written.compression() == c.compression && written.dataWindow() == expectedHeader.dataWindow()
                             && written.displayWindow() == expectedHeader.displayWindow(),
                         what);
                const auto *owner = written.findTypedAttribute<Imf::StringAttribute>("owner");
                QVERIFY2(owner && owner->value() == "plate 12", what);
            }
            QVERIFY2(bytes[0] == bytes[1], what);
        }
    }

    // Float TIFF (16 and 32 bits, strips and tiles, contiguous and planar) and EXR (half and float, scan lines and
    // tiles) through a cube with an input range and a CLF matrix: ocioconvert --lut's values within 1e-5 relative
    // (one half step for half output), values beyond 0..1 kept, the input's sample type and alpha kept. Cut and
    // damaged files are refused with one line.
    void floatPicturesMatchOcio()
    {
        // ZIP and ZIPS (inflated by libdeflate, not the core) and DWAA and DWAB (lossy; OpenEXR 3.1's core cannot
        // decompress them) read as the library's own reader reads them, in scan lines and in tiles, and --apply keeps
        // the compression.
        const QString identity = TestSupport::writeFile(path("identity.cube"), "LUT_3D_SIZE 2\n0 0 0\n1 0 0\n0 1 0\n1 1 0\n"
                                                                               "0 0 1\n1 0 1\n0 1 1\n1 1 1\n");
        for (const auto &[name, compression, tiled] : {std::tuple{"zip.exr", Imf::ZIP_COMPRESSION, false},
                                                       std::tuple{"zips.exr", Imf::ZIPS_COMPRESSION, false},
                                                       std::tuple{"zip-tiled.exr", Imf::ZIP_COMPRESSION, true},
                                                       std::tuple{"dwaa.exr", Imf::DWAA_COMPRESSION, false},
                                                       std::tuple{"dwab-tiled.exr", Imf::DWAB_COMPRESSION, true}}) {
            const Values source = gradient(67, 41);
            const QString in = path(name), out = path(QStringLiteral("applied-") + name);
            QVERIFY(writeExr(in, source, true, true, tiled, compression));
            const Values read = readValues(in);
            QVERIFY2(read.width == 67 && read.height == 41 && read.bits == 16 && read.alpha, name);
            Imf::RgbaInputFile library(QFile::encodeName(in).constData());
            std::vector<Imf::Rgba> pixels(size_t(67) * 41);
            library.setFrameBuffer(pixels.data(), 1, 67);
            library.readPixels(0, 40);
            for (size_t i = 0; i < pixels.size(); ++i) {
                const float expected[4] = {pixels[i].r, pixels[i].g, pixels[i].b, pixels[i].a};
                for (size_t c = 0; c < 4; ++c)
                    QVERIFY2(read.rgba[4 * i + c] == expected[c], qPrintable(QString("%1 %2").arg(name).arg(4 * i + c)));
            }
            const TestSupport::ProcessResult r = runConvert({"--apply", identity, in, out});
            QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
            QCOMPARE(Imf::InputFile(QFile::encodeName(out).constData()).header().compression(), compression);
        }

        // An affine, non-separable map on a 5-point cube over -0.5..2.5 (tetrahedral and trilinear agree on it).
        const double m[3][4] = {{0.9, 0.2, -0.1, 0.02}, {0.05, 1.1, -0.15, -0.03}, {-0.2, 0.1, 1.3, 0.05}};
        QByteArray cube = "LUT_3D_SIZE 5\nLUT_3D_INPUT_RANGE -0.5 2.5\n", matrix;
        for (int i = 0; i < 125; ++i) {
            const double rgb[3] = {-0.5 + 0.75 * (i % 5), -0.5 + 0.75 * (i / 5 % 5), -0.5 + 0.75 * (i / 25)};
            for (int c = 0; c < 3; ++c)
                cube += QByteArray::number(m[c][0] * rgb[0] + m[c][1] * rgb[1] + m[c][2] * rgb[2] + m[c][3], 'g', 9) + (c < 2 ? " " : "\n");
        }
        for (const auto &row : m)
            matrix += QByteArray::number(row[0]) + " " + QByteArray::number(row[1]) + " " + QByteArray::number(row[2]) + " " + QByteArray::number(row[3]) + "\n";
        const QStringList luts{TestSupport::writeFile(path("affine.cube"), cube),
                               TestSupport::writeFile(path("matrix.clf"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ProcessList id=\"m\" compCLFversion=\"3\">\n"
                                                      "<Matrix inBitDepth=\"32f\" outBitDepth=\"32f\"><Array dim=\"3 4\">\n" + matrix + "</Array></Matrix>\n</ProcessList>\n")};
        const Values source = gradient(67, 41);
        const struct { const char *name; int bits; bool alpha, tiled, planar; } inputs[] = {
            {"f32-strips.tif", 32, true, false, false}, {"f16-tiles-planar.tif", 16, true, true, true},
            {"f32-rgb-planar.tif", 32, false, false, true}, {"half.exr", 16, true, false, false},
            {"float-tiled.exr", 32, false, true, false},
        };
        for (const auto &input : inputs) {
            const QString in = path(input.name), ext = QFileInfo(in).suffix();
            QVERIFY(ext == "exr" ? writeExr(in, source, input.bits == 16, input.alpha, input.tiled)
                                 : writeFloatTiff(in, source, input.bits, input.alpha, input.tiled, input.planar));
            const Values read = readValues(in);
            QVERIFY2(read.width == 67 && read.height == 41 && read.bits == input.bits && read.alpha == input.alpha, input.name);
            for (size_t i = 0; i < read.rgba.size(); ++i) {
                const float expected = i % 4 == 3 && !input.alpha ? 1.0f : input.bits == 16 ? float(Imath::half(source.rgba[i])) : source.rgba[i];
                QVERIFY2(read.rgba[i] == expected, qPrintable(QString("%1 %2: %3 %4").arg(input.name).arg(i).arg(read.rgba[i]).arg(expected)));
            }
            for (const QString &lut : luts) {
                const QString ours = path("ours." + ext), ocio = path("ocio." + ext);
                const QByteArray what = QByteArray(input.name) + " " + lut.toUtf8();
                const TestSupport::ProcessResult r = runConvert({"--apply", lut, in, ours});
                QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), what + r.err);
                QVERIFY2(TestSupport::runProcess("ocioconvert", {"--lut", lut, in, ocio}).exitCode == 0, what);
                const Values a = readValues(ours), b = readValues(ocio);
                QVERIFY2(a.width == 67 && a.height == 41 && a.bits == input.bits && a.alpha == input.alpha, what);
                QVERIFY2(b.width == 67 && b.height == 41, what);
                const double tolerance = input.bits == 16 ? 1.0 / 1024 : 1e-5;
                double worst = 0;
                int beyond = 0;
                for (size_t i = 0; i < a.rgba.size(); ++i) {
                    if (i % 4 == 3) {
                        QVERIFY2(a.rgba[i] == read.rgba[i], what);
                        continue;
                    }
                    worst = std::max(worst, std::abs(a.rgba[i] - b.rgba[i]) / std::max(1.0, std::abs(double(b.rgba[i]))));
                    beyond += a.rgba[i] < 0 || a.rgba[i] > 1;
                }
                QVERIFY2(worst <= tolerance && beyond > 100, what + " worst " + QByteArray::number(worst) + " beyond " + QByteArray::number(beyond));
                qInfo("%s: largest relative difference from ocioconvert %.3g, %d values beyond 0..1", what.constData(), worst, beyond);
            }
        }
        // Values into codes: a float EXR into a PNG is the float output's nearest 16-bit codes, with a note; codes
        // into an EXR are half values.
        const TestSupport::ProcessResult png = runConvert({"--apply", luts[1], path("float-tiled.exr"), path("codes.png")});
        QVERIFY2(png.exitCode == 0 && png.err.contains("note: written with 16-bit codes"), png.err.constData());
        QVERIFY(runConvert({"--apply", luts[1], path("float-tiled.exr"), path("values.exr")}).exitCode == 0);
        const Values values = readValues(path("values.exr"));
        const QImage codes = QImage(path("codes.png")).convertToFormat(QImage::Format_RGBA64);
        QVERIFY(codes.size() == QSize(values.width, values.height));
        for (int i = 0; i < values.width * values.height; ++i) {
            const QRgba64 p = reinterpret_cast<const QRgba64 *>(codes.constScanLine(i / values.width))[i % values.width];
            const float *v = values.rgba.data() + 4 * i;
            QVERIFY(p.red() == lutCode(v[0], 65535) && p.green() == lutCode(v[1], 65535) && p.blue() == lutCode(v[2], 65535));
        }
        QVERIFY(runConvert({"--apply", luts[1], path("codes.png"), path("from-codes.exr")}).exitCode == 0);
        QCOMPARE(readValues(path("from-codes.exr")).bits, 16);

        // ImageMagick reads our float TIFF at its size and depth, and its values within 0..1 within a 16-bit code
        // (it clamps the rest).
        QVERIFY(runConvert({"--apply", luts[0], path("f32-rgb-planar.tif"), path("ours.tif")}).exitCode == 0);
        QCOMPARE(TestSupport::runProcess("identify", {"-format", "%w %h %z", path("ours.tif")}).out, QByteArray("67 41 32"));
        const Values ours = readValues(path("ours.tif"));
        const QList<QByteArray> lines = TestSupport::runProcess("convert", {path("ours.tif"), "-depth", "16", "txt:-"}).out.split('\n');
        int compared = 0;
        for (const QByteArray &line : lines) {
            int x, y, r, g, b;
            if (std::sscanf(line.constData(), "%d,%d: (%d,%d,%d", &x, &y, &r, &g, &b) != 5)
                continue;
            const int magick[3] = {r, g, b};
            for (int c = 0; c < 3; ++c) {
                const float v = ours.rgba[(size_t(y) * ours.width + x) * 4 + c];
                QVERIFY2(std::abs(magick[c] - int(lutCode(v, 65535))) <= 1, line.constData());
                compared += v > 0 && v < 1;
            }
        }
        QVERIFY(compared > 1000);

        const QByteArray exr = TestSupport::readFile(path("half.exr")), tiff = TestSupport::readFile(path("f32-strips.tif"));
        // The last chunks' deflate streams overwritten.
        QByteArray zip = TestSupport::readFile(path("zips.exr"));
        zip.replace(zip.size() - 48, 40, QByteArray(40, '\x55'));
        // The data window widened from 67 to 200 columns: every chunk inflates short.
        QByteArray widened = exr;
        const int window = widened.indexOf(QByteArray("dataWindow\0box2i\0", 17)) + 17 + 4;
        widened[window + 8] = char(199);
        const struct { QString file; const char *reason; } bad[] = {
            {TestSupport::writeFile(path("cut.exr"), exr.left(exr.size() * 2 / 3)), "cannot decode the EXR image"},
            {TestSupport::writeFile(path("damaged.exr"), exr.left(8) + QByteArray(300, '\x7f')), "cannot read the image header"},
            {TestSupport::writeFile(path("widened.exr"), widened), "cannot decode the EXR image"},
            {TestSupport::writeFile(path("damaged-zip.exr"), zip), "cannot decode the EXR image"},
            {TestSupport::writeFile(path("cut.tif"), tiff.left(tiff.size() / 2)), "cannot read the image header"},
            {TestSupport::writeFile(path("damaged.tif"), tiff.left(200) + QByteArray(tiff.size() / 2, '\xff') + tiff.mid(200 + tiff.size() / 2)),
             "cannot decode the TIFF image: "},
        };
        for (const auto &c : bad) {
            const TestSupport::ProcessResult r = runConvert({"--apply", luts[0], c.file, path("o.exr")});
            const QByteArray what = c.file.toUtf8() + " -> " + r.err;
            QVERIFY2(r.exitCode == 1 && r.err.count('\n') == 1 && r.err.startsWith("chromaduct-convert: " + c.file.toUtf8() + ": " + c.reason), what);
            QVERIFY(!QFile::exists(path("o.exr")));
        }
    }

    // The sheet: captions over the test picture on the left ("before", in the encoding asked for), through the
    // LUT in the middle ("after") and the grey axis on the right (the LUT's name).
    void previewShowsBeforeAndAfter()
    {
        const QString invert = invertCube();
        if (haveCorpus()) {
            const TestSupport::ProcessResult r = runConvert({"--preview", corpus("ACES_Proxy_10_to_ACES.cube"), path("sheet.png")});
            QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
        }
        const struct { const char *name; LutImageCodec::PreviewInput input; } encodings[] = {
            {"display", LutImageCodec::PreviewInput::Display}, {"log", LutImageCodec::PreviewInput::Log},
            {"linear", LutImageCodec::PreviewInput::Linear}};
        QImage first;
        for (const auto &e : encodings) {
            const TestSupport::ProcessResult r = runConvert({"--preview", invert, "--preview-input", e.name, path("sheet.png")});
            QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
            const QImage sheet(path("sheet.png")), test = LutPreview::testPicture(640, 360, e.input);
            const int top = 16 + 30;
            QCOMPARE(sheet.size(), QSize(16 * 4 + 640 * 2 + 360, top + 360 + 16));
            int off = 0;
            for (int y = 0; y < 360; y += 7)
                for (int x = 0; x < 640; x += 5) {
                    const QRgb before = sheet.pixel(16 + x, top + y), after = sheet.pixel(672 + x, top + y);
                    const QRgba64 t = test.pixelColor(x, y).rgba64();
                    off += std::abs(qRed(before) - t.red() / 257) > 1 || std::abs(qRed(after) - (255 - qRed(before))) > 1
                        || std::abs(qBlue(after) - (255 - qBlue(before))) > 1;
                }
            QCOMPARE(off, 0);
            // Text in each caption cell, and the "before" caption says the encoding (display says none).
            const auto inked = [&](int left, int width) {
                int n = 0;
                for (int y = 16; y < top; ++y)
                    for (int x = left; x < left + width; ++x)
                        n += qRed(sheet.pixel(x, y)) > 120;
                return n;
            };
            QVERIFY(inked(16, 640) > 50 && inked(672, 640) > 50 && inked(1328, 360) > 50);
            if (first.isNull())
                first = sheet.copy(16, 16, 640, 30);
            else
                QVERIFY(sheet.copy(16, 16, 640, 30) != first);
        }
        QCOMPARE(runConvert({"--preview-input", "log", invert, path("o.cube")}).exitCode, 64);
        QCOMPARE(runConvert({"--preview", invert, "--preview-input", "rec709", path("sheet.png")}).exitCode, 64);
    }
};

QTEST_GUILESS_MAIN(TestImages)
#include "test_images.moc"
