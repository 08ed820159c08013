// LUT images (identifiers 1 and 2): a 3D LUT as an image of RGB pixels, one
// pixel per lattice point, 8 or 16 bits per channel; and the reading and
// writing every kind of LUT image shares (the Hald CLUT's layout is in
// HaldFormat.cpp).
//
// Tiled (1): a square image of 64, 512 or 4096 pixels a side, cut into
// T x T square tiles of N x N pixels, one tile per slowest-index slice.
// Lattice point (a, b, c) is at column (a mod T) * N + c, row (a div T) * N + b.
//
// Strip (2): N slices of N x N pixels side by side, W = N * N wide and N
// high. Lattice point (a, b, c) is at column a * N + c, row b.

#include "image/LutImageFormat.h"

#include "lut/LutImageCodec.h"
#include "image/ImageRows.h"
#include "image/LutImageInput.h"
#include "image/LutPng.h"
#include "lut/LutTable.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFileInfo>
#include <QImage>
#include <QRgba64>

#include <cstring>
#include <utility>
#include <vector>

namespace {

// The widest strip: kMaxCubeSize slices of kMaxCubeSize pixels.
constexpr int kMaxStripWidth = kMaxCubeSize * kMaxCubeSize;

// Tiles per side of a tiled image for a cube of n points (the tile edge),
// 0 for a cube it cannot hold.
int tilesFor(int n)
{
    switch (n) {
    case 16:
        return 4;
    case 64:
        return 8;
    case 256:
        return 16;
    default:
        return 0;
    }
}

int tiledCubeSize(const QSize &image)
{
    for (const int n : {16, 64, 256}) {
        if (image.width() == n * tilesFor(n) && image.height() == image.width())
            return n;
    }
    return 0;
}

QSize tiledImageSize(int n)
{
    const int side = n * tilesFor(n);
    return side > 0 ? QSize(side, side) : QSize();
}

QPoint tiledRunStart(int n, int a, int b)
{
    const int tiles = tilesFor(n);
    return QPoint((a % tiles) * n, (a / tiles) * n + b);
}

// The smallest tiled size that keeps every lattice point of n (the sizes
// lie far apart), 256 above that.
int tiledHeldSize(int n)
{
    return n <= 16 ? 16 : n <= 64 ? 64 : 256;
}

int stripCubeSize(const QSize &image)
{
    const qint64 h = image.height();
    return h >= 1 && image.width() <= kMaxStripWidth && qint64(image.width()) == h * h ? int(h) : 0;
}

QSize stripImageSize(int n)
{
    return n >= 1 && n <= kMaxCubeSize ? QSize(n * n, n) : QSize();
}

QPoint stripRunStart(int n, int a, int b)
{
    return QPoint(a * n, b);
}

int stripHeldSize(int n)
{
    return n;
}

// The byte offset of each run of lattice points (a, b, 0..n-1), a slowest,
// in an image with the given row length and pixel size.
std::vector<std::ptrdiff_t> runOffsets(const LutImageLayout &layout, int n, std::ptrdiff_t bytesPerLine,
                                       int pixelBytes)
{
    std::vector<std::ptrdiff_t> offsets(size_t(n) * size_t(n));
    for (int a = 0; a < n; ++a) {
        for (int b = 0; b < n; ++b) {
            const QPoint start = layout.runStart(n, a, b);
            offsets[size_t(a) * size_t(n) + size_t(b)] = start.y() * bytesPerLine + std::ptrdiff_t(start.x()) * pixelBytes;
        }
    }
    return offsets;
}

// Visits every lattice point (a, b, c) below n. storeEntry3D puts a point at
// [a][b][c] when the table order is set and at [c][b][a] when it is clear,
// and the writers read it from there; the loops follow that, so the table
// (200 MB for 256 points) is gone through in runs rather than one scattered
// entry at a time, while the pixels stay within a few rows.
template <typename Visit>
void forEachPoint(int n, bool tableOrderRGB, Visit visit)
{
    if (tableOrderRGB) {
        for (int a = 0; a < n; ++a)
            for (int b = 0; b < n; ++b)
                for (int c = 0; c < n; ++c)
                    visit(a, b, c);
    } else {
        for (int b = 0; b < n; ++b)
            for (int c = 0; c < n; ++c)
                for (int a = 0; a < n; ++a)
                    visit(a, b, c);
    }
}

// The red, green and blue codes of one pixel of an 8-bit image of four bytes
// a pixel in red, green, blue order (RGBX8888, RGBA8888) or a 16-bit one
// (RGBX64, RGBA64); alpha is not looked at.
inline void pixelCodes(const uchar *pixel, bool sixteen, float codes[3])
{
    if (sixteen) {
        quint64 raw;
        std::memcpy(&raw, pixel, sizeof raw);
        const QRgba64 p = QRgba64::fromRgba64(raw);
        codes[0] = p.red();
        codes[1] = p.green();
        codes[2] = p.blue();
    } else {
        codes[0] = pixel[0];
        codes[1] = pixel[1];
        codes[2] = pixel[2];
    }
}

// Pixel formats that hold no colour.
bool holdsNoColour(QImage::Format format)
{
    return format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16
        || format == QImage::Format_Mono || format == QImage::Format_MonoLSB || format == QImage::Format_Alpha8;
}

bool holdsNoColour(const QImage &image)
{
    if (holdsNoColour(image.format()))
        return true;
    return image.format() == QImage::Format_Indexed8 && image.allGray();
}

// Loads the image, the size its header states checked with the layout
// before any pixel is decoded, so a huge image of the wrong size costs
// nothing. 16-bit images come as RGBX64 or RGBA64, others as RGBX8888 or
// RGBA8888; alpha is never looked at. A PNG is decoded by libpng, others by
// the toolkit.
QImage loadImage(const QString &fileName, const LutImageLayout &layout, QString *error)
{
    const auto wrongSize = [&](const QSize &size) {
        *error = QStringLiteral("%1 x %2 is not a size %3 can have (it holds cubes of %4 points per axis)")
                     .arg(size.width())
                     .arg(size.height())
                     .arg(QLatin1String(layout.description), QLatin1String(layout.sizes));
        return QImage();
    };
    const auto noColour = [&]() {
        *error = QStringLiteral("a grey image holds no colour: %1 has red, green and blue pixels")
                     .arg(QLatin1String(layout.description));
        return QImage();
    };
    QImage image;
    if (LutImageCodec::rasterFormat(fileName) == "png") {
        PngReader png;
        if (!png.open(fileName)) {
            *error = png.errorString();
            return QImage();
        }
        if (layout.cubeSize(QSize(png.width(), png.height())) == 0)
            return wrongSize(QSize(png.width(), png.height()));
        if (layout.colourOnly && !png.hasColour())
            return noColour();
        if (png.readImage(&image))
            return image;
        *error = png.errorString();
        return QImage();
    }

    LutImageInput::Raster raster;
    if (!raster.open(fileName, LutImageInput::LutImages, error))
        return QImage();
    const QSize announced = raster.size(error);
    if (!announced.isValid())
        return QImage();
    if (layout.cubeSize(announced) == 0)
        return wrongSize(announced);
    if (layout.colourOnly && holdsNoColour(raster.imageFormat()))
        return noColour();
    image = raster.read(error);
    if (image.isNull())
        return QImage();
    if (image.size() != announced)
        return wrongSize(image.size());
    if (layout.colourOnly && holdsNoColour(image))
        return noColour();
    const bool sixteen = LutImageInput::isSixteenBit(image.format());
    image = std::move(image).convertToFormat(sixteen ? QImage::Format_RGBX64 : QImage::Format_RGBX8888);
    if (image.isNull())
        *error = QStringLiteral("out of memory converting the image");
    return image;
}

// Whether a loaded image holds 16-bit pixels.
bool isSixteenBitImage(const QImage &image)
{
    return image.format() == QImage::Format_RGBX64 || image.format() == QImage::Format_RGBA64;
}

// The toolkit's name of the image type a file name asks for.
QByteArray imageTypeFor(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        return QByteArrayLiteral("tiff");
    if (suffix == QLatin1String("bmp"))
        return QByteArrayLiteral("bmp");
    return QByteArrayLiteral("png");
}

} // namespace

namespace LutImageFormat {

const LutImageLayout kTiled = {LutFormatId::TiledImage, "a tiled LUT image", "16, 64 or 256", tiledCubeSize, tiledImageSize,
                               tiledRunStart, tiledHeldSize,     false};
const LutImageLayout kStrip = {LutFormatId::StripImage, "a strip LUT image", "1 to 256", stripCubeSize, stripImageSize,
                               stripRunStart, stripHeldSize,     false};

bool read(Read_LUTFile &lut, const QString &fileName, const LutImageLayout &layout)
{
    QString error;
    const QImage image = loadImage(fileName, layout, &error);
    if (image.isNull())
        return lut.fail(error);
    lut.applyDefaultOrder(layout.formatId);

    const int n = layout.cubeSize(image.size());
    if (!lut.setSize3D(n, false))
        return false;
    const bool sixteen = isSixteenBitImage(image);
    const int pixelBytes = sixteen ? 8 : 4;
    const std::vector<std::ptrdiff_t> offsets = runOffsets(layout, n, image.bytesPerLine(), pixelBytes);
    const uchar *bits = image.constBits();
    // The codes are stored against a domain of 0..255 or 0..65535.
    const float domainMax = sixteen ? 65535.0f : 255.0f;
    lut.domainMax3D[0] = lut.domainMax3D[1] = lut.domainMax3D[2] = domainMax;
    forEachPoint(n, lut.tableOrderRGB, [&](int a, int b, int c) {
        float codes[3];
        pixelCodes(bits + offsets[size_t(a) * size_t(n) + size_t(b)] + std::ptrdiff_t(c) * pixelBytes, sixteen, codes);
        lut.storeEntry3D(a, b, c, codes[0], codes[1], codes[2], lut.domainMin3D, lut.domainMax3D);
    });
    lut.resetDomainMax3D();
    return true;
}

bool write(Write_LUTFile &writer, const QString &fileName, const Read_LUTFile &lut, const LutImageLayout &layout)
{
    const int n = lut.size3D;
    if (n <= 0 || lut.table3D.size() != n)
        return writer.fail(QStringLiteral("the LUT holds no 3D table to write"));
    const QSize size = layout.imageSize(n);
    if (!size.isValid())
        return writer.fail(QStringLiteral("%1 holds cubes of %2 points per axis, not %3")
                               .arg(QLatin1String(layout.description), QLatin1String(layout.sizes))
                               .arg(n));
    const int scale = writer.outputScale;
    if (scale != 255 && scale != 65535)
        return writer.fail(QStringLiteral("%1 holds 8-bit or 16-bit codes: a scale of 255 or 65535, not %2")
                               .arg(QLatin1String(layout.description))
                               .arg(scale));
    const QByteArray type = imageTypeFor(fileName);
    const bool sixteen = scale == 65535;
    if (sixteen && type == "bmp")
        return writer.fail(QStringLiteral("a BMP image holds 8 bits per channel: write it with a scale of 255"));

    QImage image(size, sixteen ? QImage::Format_RGBX64 : QImage::Format_RGBX8888);
    if (image.isNull())
        return writer.fail(QStringLiteral("out of memory for a %1 x %2 image").arg(size.width()).arg(size.height()));
    writer.applyDefaultOrder(layout.formatId);
    const int pixelBytes = sixteen ? 8 : 4;
    const std::vector<std::ptrdiff_t> offsets = runOffsets(layout, n, image.bytesPerLine(), pixelBytes);
    uchar *bits = image.bits();
    const bool reversed = !writer.dataOrderRGB;
    forEachPoint(n, writer.tableOrderRGB, [&](int a, int b, int c) {
        const float *entry = writer.entry3D(lut.table3D, a, b, c);
        uchar *pixel = bits + offsets[size_t(a) * size_t(n) + size_t(b)] + std::ptrdiff_t(c) * pixelBytes;
        const auto code = [&](int channel) { return lutCode(entry[reversed ? 2 - channel : channel], scale); };
        if (sixteen) {
            const QRgba64 rgb = QRgba64::fromRgba64(quint16(code(0)), quint16(code(1)), quint16(code(2)), 65535);
            std::memcpy(pixel, &rgb, sizeof rgb);
        } else {
            for (int channel = 0; channel < 3; ++channel)
                pixel[channel] = uchar(code(channel));
            pixel[3] = 255;
        }
    });

    LutTextOutput out(fileName);
    if (!out.open())
        return writer.fail(QStringLiteral("cannot open for writing: %1").arg(out.errorString()));
    // zlib's usual level for a PNG: a LUT image is small and kept.
    QString error;
    if (!ImageRows::writeImage(out.device(), type, image, 6, &error))
        return writer.fail(error);
    if (!out.commit())
        return writer.fail(QStringLiteral("write failed: %1").arg(out.errorString()));
    return true;
}

} // namespace LutImageFormat
