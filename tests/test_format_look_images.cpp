// The look reader (XML of little-endian hex floats) and the tiled and strip LUT image readers.

#include "TestSupport.h"
#include "lut/Read_LUTFile.h"
#include <QImage>
#include <QRgba64>
#include <QtEndian>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int kTiled = 1, kStrip = 2, kLook = 5, kHald = 19;
using Rgb = std::array<float, 3>; Rgb at(const float *e) { return {{e[0], e[1], e[2]}}; }
bool readAs(Read_LUTFile &lut, const QString &path, int format, bool defaultOrder = true)
{ LutFileOptions options{path, LutFormatId(format), defaultOrder}; return lut.readLut(options, false); }

// Each float as eight hex digits, least significant byte first, with assorted white space.
template <typename F> QByteArray lookData(int count, F entry)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k) {
            char bytes[4];
            qToLittleEndian(entry(i)[k], bytes);
            text += QByteArray(bytes, 4).toHex() + (k == 1 ? "\n\t" : " ");
        }
    return text;
}
QByteArray table(const QByteArray &size, const QByteArray &data, const QByteArray &name = "LUT")
{ return "<" + name + "><size>" + size + "</size><data>" + data + "</data></" + name + ">"; }
QByteArray look(const QByteArray &body) { return "<?xml version=\"1.0\"?>\n<look>\n" + body + "\n</look>\n"; }

// The identity as a tiled image (T x T tiles of n x n), a strip (n tiles in a row) or a Hald CLUT (level L = sqrt(n):
// the points in reading order on rows of L^3 pixels): point (a, b, c) holds (c, b, a); n = 1 is white. 16-bit with a
// depth of 65535.
QImage identityImage(int format, int n, int depth = 255)
{
    const int tiles = format == kStrip ? n : n == 16 ? 4 : n == 64 ? 8 : 16, level = int(std::lround(std::sqrt(n)));
    const QSize size = format == kHald ? QSize(level * n, level * n) : QSize(n * tiles, format == kStrip ? n : n * tiles);
    QImage image(size, depth == 255 ? QImage::Format_RGB888 : QImage::Format_RGBX64);
    for (int i = 0; i < n * n * n; ++i) {
        const int a = i / n / n, b = i / n % n, c = i % n;
        const QPoint at = format == kHald ? QPoint(i % size.width(), i / size.width()) : QPoint((a % tiles) * n + c, (a / tiles) * n + b);
        int v[3];
        for (int k = 0; k < 3; ++k)
            v[k] = n == 1 ? depth : int(std::lround((k == 0 ? c : k == 1 ? b : a) * double(depth) / (n - 1)));
        if (depth == 255)
            std::copy(v, v + 3, image.scanLine(at.y()) + 3 * at.x());
        else
            reinterpret_cast<QRgba64 *>(image.scanLine(at.y()))[at.x()] = QRgba64::fromRgba64(quint16(v[0]), quint16(v[1]), quint16(v[2]), 65535);
    }
    return image;
}

} // namespace

class TestFormatLookImages : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    bool readLook(Read_LUTFile &lut, const QByteArray &text, bool defaultOrder = true)
    { return readAs(lut, TestSupport::writeFile(m_dir.filePath("t.look"), text), kLook, defaultOrder); }

private slots:
    // "0000803f" is 1.0, "3f800000" a denormal; "shaders"/"ASC" skipped; channels above 1.0 divided by their maximum.
    void lookDecodesHexSkipsElementsAndNormalises()
    {
        const QByteArray data = "0000803f 0000003F 3f800000\n" + lookData(7, [](int i) { return Rgb{{i / 8.0f, 0.25f, 1 - i / 8.0f}}; }).toUpper();
        const QByteArray skipped = "<shaders>" + table("4", lookData(64, [](int) { return Rgb{{0.25f, 0.25f, 0.25f}}; }))
            + "</shaders><ASC><LUT1D><size>3</size></LUT1D></ASC>\n";
        Read_LUTFile lut, lut1D, ordered;
        QVERIFY2(readLook(lut, look(skipped + table("2", data)), false), qPrintable(lut.errorString));
        QVERIFY(lut.size3D == 2 && lut.size1D == 0 && lut.table3D[0][0][0][1] == 0.5f);
        QVERIFY(lut.table3D[0][0][0][2] > 0.0f && lut.table3D[0][0][0][2] < 1e-30f);
        QCOMPARE(at(lut.table3D[1][0][1]), Rgb({0.5f, 0.25f, 0.5f})); // entry 5: (a, b, c) = (1, 0, 1), unreversed
        const QByteArray ramp = lookData(17, [](int i) { return Rgb{{i * 2.0f, i / 20.0f, 0.1f}}; });
        QVERIFY2(readLook(lut1D, look(table("\"17\"", "\"" + ramp + "\"", "LUT1D")), false), qPrintable(lut1D.errorString));
        QVERIFY(lut1D.size1D == 17 && lut1D.table1D[8][0] == 0.5f);
        QCOMPARE(at(lut1D.table1D[16]), Rgb({1.0f, 0.8f, 0.1f}));
        const auto f = [](int i) { return Rgb{{i * 4.0f / 26, 0.9f * (i % 3) / 2, 0.3f}}; };
        QVERIFY2(readLook(ordered, look(table("3", lookData(27, f)))), qPrintable(ordered.errorString));
        for (int i = 0; i < 27; ++i)
            QCOMPARE(at(ordered.table3D[i % 3][i / 3 % 3][i / 9]), Rgb({f(i)[0] / 4, f(i)[1], 0.3f}));
        QCOMPARE(at(ordered.domainMax3D), Rgb({1, 1, 1}));
    }

    void lookBadDataFailsCleanly_data()
    {
        QTest::addColumn<QByteArray>("text");
        const QByteArray hex = lookData(8, [](int) { return Rgb{{1, 1, 1}}; }).replace(" ", "").replace("\n\t", "");
        const QList<QPair<const char *, QByteArray>> rows = {
            {"one digit short", look(table("2", hex.left(hex.size() - 1)))}, {"size zero", look(table("0", hex))},
            {"non-hex digit", look(table("2", QByteArray(hex).replace(100, 1, "g")))}, {"size above bound", look(table("100000", hex))},
            {"non-ASCII character", look(table("2", QByteArray(hex).replace(30, 1, "\xc3\xa9")))},
            {"no size", look("<LUT><data>" + hex + "</data></LUT>")}, {"malformed XML", "<look><LUT><size>2</size><data>00</da"},
            {"data before size (all zero)", look("<LUT><data>" + hex + "</data><size>2</size></LUT>")},
            {"1D size without data", look(table("2", hex) + "<LUT1D><size>2</size></LUT1D>")},
            {"binary junk", QByteArray("\x00\xff<\x01\x80>&#0;\xfe", 11)}};
        for (const auto &row : rows)
            QTest::newRow(row.first) << row.second;
    }
    void lookBadDataFailsCleanly()
    {
        QFETCH(QByteArray, text);
        Read_LUTFile lut;
        QVERIFY(!readLook(lut, text) && !lut.errorString.isEmpty() && at(lut.domainMax3D) == Rgb({1, 1, 1}));
    }

    // Identity images (tiled 64 (bmp), 512, 4096 a side; strips 289x17 with padded rows, 25x5 with alpha dropped, 1x1
    // (a bmp named .png: the content decides)).
    void identityImagesReadToIdentityCubes_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("depth");
        for (const int n : {16, 64, 256}) QTest::addRow("tiled n=%d", n) << kTiled << n << 255;
        for (const int n : {17, 5, 1}) QTest::addRow("strip n=%d", n) << kStrip << n << 255;
        QTest::addRow("tiled n=64 16-bit") << kTiled << 64 << 65535;
        QTest::addRow("strip n=6 16-bit") << kStrip << 6 << 65535;
        for (const int n : {4, 9, 25, 64}) QTest::addRow("hald n=%d", n) << kHald << n << 255;
        QTest::addRow("hald n=49 16-bit") << kHald << 49 << 65535;
    }
    void identityImagesReadToIdentityCubes()
    {
        QFETCH(int, format);
        QFETCH(int, n);
        QFETCH(int, depth);
        QImage image = identityImage(format, n, depth);
        if (n == 5)
            image = image.convertToFormat(QImage::Format_ARGB32);
        for (int i = 0; n == 5 && i < 125; ++i)
            image.setPixel(i % 25, i / 25, (image.pixel(i % 25, i / 25) & 0xffffff) | uint(i * 37 % 256) << 24);
        const QString path = m_dir.filePath(QStringLiteral("id%1.%2").arg(n).arg(n == 16 ? "bmp" : "png"));
        Read_LUTFile lut;
        QVERIFY2(image.save(path, n == 1 ? "BMP" : nullptr) && readAs(lut, path, format) && lut.size3D == n, qPrintable(lut.errorString));
        qint64 bad = 0;
        for (qint64 i = 0; i < 3LL * n * n * n; ++i) {
            const int r = i / 3 % n, g = i / 3 / n % n, b = i / 3 / n / n, k = i % 3;
            bad += std::fabs(lut.table3D[r][g][b][k] - (n == 1 ? 1.0f : float(k == 0 ? r : k == 1 ? g : b) / (n - 1))) > 0.5f / depth + 1e-6f;
        }
        QCOMPARE(bad, qint64(0));
        QCOMPARE(at(lut.domainMax3D), Rgb({1, 1, 1}));
    }

    // Wrong sizes (66049x257 is above the bound; a Hald CLUT is L^3 square for L from 2 to 16), unloadable files, other
    // image formats (a 64x64 SVG or JPEG named .png: a LUT image is a PNG, BMP or TIFF raster), and Hald CLUTs that are
    // grey, cut short or claim 100,000 x 100,000 pixels fail, leaving no table.
    void imagesRefuseWrongSizesAndUnloadableFiles()
    {
        const auto refuses = [](int format, const QString &path) {
            Read_LUTFile lut;
            return !readAs(lut, path, format) && !lut.errorString.isEmpty() && lut.size3D == 0 && !lut.table3D && lut.domainMax3D[0] == 1.0f;
        };
        const QString junk = TestSupport::writeFile(m_dir.filePath("junk.png"), QByteArray("\x89PNG\r\n\x1a\n garbage \xff\x00\x13", 20));
        const QString svg = TestSupport::writeFile(m_dir.filePath("svg.png"), "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\"/>");
        QImage(64, 64, QImage::Format_RGB888).save(m_dir.filePath("jpeg.png"), "JPEG");
        for (const int format : {kTiled, kStrip, kHald})
            for (const QString &path : {junk, TestSupport::writeFile(m_dir.filePath("empty.bmp"), ""), m_dir.filePath("missing.png"), svg,
                                        m_dir.filePath("jpeg.png")})
                QVERIFY2(refuses(format, path), qPrintable(path));
        for (const char *name : {"grey-8x8-no-colour", "level-4-16bit-truncated", "header-100000x100000"})
            QVERIFY2(refuses(kHald, QStringLiteral(CHROMADUCT_SOURCE_DIR "/tests/fuzz/regressions/hald-%1.png").arg(name)), name);
        for (const auto &s : QList<QPair<int, QSize>>{{kTiled, {128, 128}}, {kTiled, {512, 64}}, {kTiled, {64, 65}},
                                                      {kStrip, {17, 289}}, {kStrip, {290, 17}}, {kStrip, {66049, 257}},
                                                      {kHald, {9, 9}}, {kHald, {27, 28}}, {kHald, {1, 1}}, {kHald, {124, 124}}}) {
            QImage image(s.second, QImage::Format_RGB888);
            image.fill(Qt::gray);
            const QString path = m_dir.filePath(QStringLiteral("wrong%1x%2.png").arg(s.second.width()).arg(s.second.height()));
            QVERIFY2(image.save(path) && refuses(s.first, path), qPrintable(path));
        }
    }
};

QTEST_GUILESS_MAIN(TestFormatLookImages)
#include "test_format_look_images.moc"
