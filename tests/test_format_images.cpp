// The LUT image readers: tiled squares (64, 512, 4096 pixels) and unwrapped
// strips (N high, N * N wide). Every image is drawn here with QImage.

#include "TestSupport.h"

#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>

namespace {

// A literal with embedded NULs, without its terminating one.
template <int N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

constexpr int kTiled = 1;
constexpr int kStrip = 2;

// The 8-bit code of step i of a ramp of n steps from 0 to 255.
int ramp(int i, int n)
{
    return int(std::lround(i * 255.0 / (n - 1)));
}

using PixelFn = std::function<void(int a, int b, int c, uchar *rgb)>;

// The identity: lattice point (a, b, c) holds the colour (c, b, a), so that
// with the readers' default order table3D[r][g][b] holds (r, g, b).
void identityPixel(int n, int a, int b, int c, uchar *rgb)
{
    rgb[0] = uchar(ramp(c, n));
    rgb[1] = uchar(ramp(b, n));
    rgb[2] = uchar(ramp(a, n));
}

QImage tiledImage(int side, const PixelFn &pixel)
{
    const int tiles = side == 64 ? 4 : side == 512 ? 8 : 16;
    const int n = side / tiles;
    QImage image(side, side, QImage::Format_RGB888);
    for (int a = 0; a < n; ++a) {
        for (int b = 0; b < n; ++b) {
            uchar *row = image.scanLine((a / tiles) * n + b);
            for (int c = 0; c < n; ++c)
                pixel(a, b, c, row + 3 * ((a % tiles) * n + c));
        }
    }
    return image;
}

QImage stripImage(int n, const PixelFn &pixel, QImage::Format format = QImage::Format_RGB888)
{
    QImage image(n * n, n, QImage::Format_RGB888);
    for (int a = 0; a < n; ++a) {
        for (int b = 0; b < n; ++b) {
            uchar *row = image.scanLine(b);
            for (int c = 0; c < n; ++c)
                pixel(a, b, c, row + 3 * (a * n + c));
        }
    }
    return format == QImage::Format_RGB888 ? image : image.convertToFormat(format);
}

bool readImage(Read_LUTFile &lut, const QString &path, int format, bool defaultOrder = true)
{
    LutFileOptions options;
    options.path = path;
    options.format = format;
    options.defaultOrder = defaultOrder;
    return lut.readLut(options, false);
}

// Counts the entries of an n-point cube that are not the identity within
// half an 8-bit step.
qint64 identityMismatches(const Read_LUTFile &lut, int n)
{
    qint64 bad = 0;
    const float tolerance = 0.5f / 255.0f + 1e-6f;
    for (int r = 0; r < n; ++r) {
        for (int g = 0; g < n; ++g) {
            for (int b = 0; b < n; ++b) {
                const float *e = lut.table3D[r][g][b];
                const float want[3] = {float(r) / (n - 1), float(g) / (n - 1), float(b) / (n - 1)};
                for (int k = 0; k < 3; ++k)
                    bad += std::fabs(e[k] - want[k]) > tolerance;
            }
        }
    }
    return bad;
}

} // namespace

class TestFormatImages : public QObject
{
    Q_OBJECT

private slots:
    void tiledIdentityReadsToIdentityCube_data();
    void tiledIdentityReadsToIdentityCube();
    void tiledReadsBmpAndPlacesLatticePoints();
    void tiledRefusesWrongSizesAndLeavesContainerAlone();
    void stripReadsPaddedRows_data();
    void stripReadsPaddedRows();
    void stripDropsAlpha();
    void stripRefusesWrongSizesAndUnreadableFiles();

private:
    QTemporaryDir m_dir;
};

void TestFormatImages::tiledIdentityReadsToIdentityCube_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("cubeSize");
    QTest::newRow("64") << 64 << 16;
    QTest::newRow("512") << 512 << 64;
    QTest::newRow("4096") << 4096 << 256;
}

void TestFormatImages::tiledIdentityReadsToIdentityCube()
{
    QFETCH(int, side);
    QFETCH(int, cubeSize);
    const QString path = m_dir.filePath(QStringLiteral("tiled%1.png").arg(side));
    {
        const QImage image = tiledImage(side, [&](int a, int b, int c, uchar *rgb) {
            identityPixel(cubeSize, a, b, c, rgb);
        });
        QVERIFY(image.save(path));
    }
    Read_LUTFile lut;
    QVERIFY2(readImage(lut, path, kTiled), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, cubeSize);
    QCOMPARE(identityMismatches(lut, cubeSize), qint64(0));
    for (int k = 0; k < 3; ++k)
        QCOMPARE(lut.domainMax3D[k], 1.0f);
}

// Every lattice point gets its own colour; with both order flags set and no
// default order the entry for (a, b, c) must land at [a][b][c] unreversed.
void TestFormatImages::tiledReadsBmpAndPlacesLatticePoints()
{
    const auto code = [](int a, int b, int c, uchar *rgb) {
        rgb[0] = uchar(a * 16 + b);
        rgb[1] = uchar(c * 16 + a);
        rgb[2] = uchar(b * 16 + c);
    };
    const QString path = m_dir.filePath(QStringLiteral("tiled.bmp"));
    QVERIFY(tiledImage(64, code).save(path, "BMP"));

    Read_LUTFile lut;
    QVERIFY2(readImage(lut, path, kTiled, false), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, 16);
    int bad = 0;
    for (int a = 0; a < 16; ++a) {
        for (int b = 0; b < 16; ++b) {
            for (int c = 0; c < 16; ++c) {
                uchar want[3];
                code(a, b, c, want);
                for (int k = 0; k < 3; ++k)
                    bad += lut.table3D[a][b][c][k] != float(want[k]) / 255.0f;
            }
        }
    }
    QCOMPARE(bad, 0);
}

void TestFormatImages::tiledRefusesWrongSizesAndLeavesContainerAlone()
{
    const QList<QSize> sizes = {QSize(128, 128), QSize(64, 65), QSize(65, 64), QSize(512, 64),
                                QSize(63, 63),   QSize(1, 1),   QSize(4096, 512)};
    for (const QSize &size : sizes) {
        QImage image(size, QImage::Format_RGB888);
        image.fill(Qt::gray);
        const QString path = m_dir.filePath(QStringLiteral("wrong%1x%2.png").arg(size.width()).arg(size.height()));
        QVERIFY(image.save(path));
        Read_LUTFile lut;
        QVERIFY2(!readImage(lut, path, kTiled, false), qPrintable(path));
        QVERIFY(!lut.errorString.isEmpty());
        QCOMPARE(lut.size3D, 0);
        QVERIFY(lut.table3D == nullptr);
        QCOMPARE(lut.domainMax3D[0], 1.0f);
    }
    const QString junk = TestSupport::writeFile(m_dir.filePath(QStringLiteral("junk.png")),
                                                bytes("\x89PNG\r\n\x1a\n garbage \xff\x00\x13"));
    for (const QString &path : {junk, m_dir.filePath(QStringLiteral("missing.png"))}) {
        Read_LUTFile lut;
        QVERIFY(!readImage(lut, path, kTiled));
        QCOMPARE(lut.size3D, 0);
    }
}

void TestFormatImages::stripReadsPaddedRows_data()
{
    QTest::addColumn<int>("cubeSize");
    // 289 * 3 bytes is not a multiple of four: rows carry padding.
    QTest::newRow("289x17") << 17;
    QTest::newRow("256x16") << 16;
    QTest::newRow("1024x32") << 32;
    QTest::newRow("25x5") << 5;
    QTest::newRow("1x1") << 1;
}

void TestFormatImages::stripReadsPaddedRows()
{
    QFETCH(int, cubeSize);
    const QString path = m_dir.filePath(QStringLiteral("strip%1.png").arg(cubeSize));
    QVERIFY(stripImage(cubeSize, [&](int a, int b, int c, uchar *rgb) {
                if (cubeSize == 1)
                    rgb[0] = rgb[1] = rgb[2] = 255;
                else
                    identityPixel(cubeSize, a, b, c, rgb);
            }).save(path));
    Read_LUTFile lut;
    QVERIFY2(readImage(lut, path, kStrip), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, cubeSize);
    if (cubeSize == 1) {
        QCOMPARE(lut.table3D[0][0][0][0], 1.0f);
        QCOMPARE(lut.table3D[0][0][0][2], 1.0f);
    } else {
        QCOMPARE(identityMismatches(lut, cubeSize), qint64(0));
    }
    QCOMPARE(lut.domainMax3D[2], 1.0f);
}

void TestFormatImages::stripDropsAlpha()
{
    const auto code = [](int a, int b, int c, uchar *rgb) {
        rgb[0] = uchar(40 * a + c);
        rgb[1] = uchar(200 - 30 * b);
        rgb[2] = uchar(17 * c);
    };
    QImage image = stripImage(5, code, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = qRgba(qRed(row[x]), qGreen(row[x]), qBlue(row[x]), (x * 37 + y * 11) % 256);
    }
    const QString path = m_dir.filePath(QStringLiteral("alpha.png"));
    QVERIFY(image.save(path));

    Read_LUTFile lut;
    QVERIFY2(readImage(lut, path, kStrip, false), qPrintable(lut.errorString));
    int bad = 0;
    for (int a = 0; a < 5; ++a) {
        for (int b = 0; b < 5; ++b) {
            for (int c = 0; c < 5; ++c) {
                uchar want[3];
                code(a, b, c, want);
                for (int k = 0; k < 3; ++k)
                    bad += lut.table3D[a][b][c][k] != float(want[k]) / 255.0f;
            }
        }
    }
    QCOMPARE(bad, 0);
}

void TestFormatImages::stripRefusesWrongSizesAndUnreadableFiles()
{
    // 257 slices of 257 pixels would be a cube above the size bound: the
    // image is refused from its header, before a pixel is decoded.
    const QList<QSize> sizes = {QSize(1024, 16), QSize(17, 289), QSize(290, 17), QSize(16, 16),
                                QSize(66049, 257)};
    for (const QSize &size : sizes) {
        QImage image(size, QImage::Format_RGB888);
        image.fill(Qt::darkCyan);
        const QString path = m_dir.filePath(QStringLiteral("strip%1x%2.png").arg(size.width()).arg(size.height()));
        QVERIFY(image.save(path));
        Read_LUTFile lut;
        QVERIFY2(!readImage(lut, path, kStrip), qPrintable(path));
        QVERIFY(!lut.errorString.isEmpty());
        QCOMPARE(lut.size3D, 0);
        QVERIFY(lut.table3D == nullptr);
    }
    // An image that cannot be loaded is a failure, not an empty success.
    const QString junk = TestSupport::writeFile(m_dir.filePath(QStringLiteral("junk.bmp")),
                                                bytes("BM\x10\x00\x00\x00 not a bitmap"));
    const QString empty = TestSupport::writeFile(m_dir.filePath(QStringLiteral("empty.png")), QByteArray());
    for (const QString &path : {junk, empty, m_dir.filePath(QStringLiteral("missing.png"))}) {
        Read_LUTFile lut;
        QVERIFY2(!readImage(lut, path, kStrip), qPrintable(path));
        QVERIFY(!lut.errorString.isEmpty());
        QCOMPARE(lut.size3D, 0);
    }
}

QTEST_GUILESS_MAIN(TestFormatImages)
#include "test_format_images.moc"
