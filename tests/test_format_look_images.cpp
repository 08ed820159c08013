// The look reader (XML of little-endian hex floats) and the tiled and strip LUT image readers.

#include "TestSupport.h"
#include "lut/Read_LUTFile.h"
#include <QImage>
#include <QtEndian>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>

namespace {

template <int N> QByteArray bytes(const char (&text)[N]) { return QByteArray(text, N - 1); } // keeps embedded NULs

constexpr int kTiled = 1, kStrip = 2, kLook = 5;
using Rgb = std::array<float, 3>;
using PixelFn = std::function<void(int a, int b, int c, uchar *rgb)>;
Rgb at(const float *e) { return {{e[0], e[1], e[2]}}; }

bool readAs(Read_LUTFile &lut, const QString &path, int format, bool defaultOrder = true)
{ LutFileOptions options{path, format, defaultOrder}; return lut.readLut(options, false); }

// Each float as eight hex digits, least significant byte first, with assorted white space.
QByteArray lookData(int count, const std::function<Rgb(int)> &entry, bool upper = false)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k) {
            quint32 bits;
            std::memcpy(&bits, &entry(i)[k], 4);
            bits = qToLittleEndian(bits);
            const QByteArray hex = QByteArray(reinterpret_cast<const char *>(&bits), 4).toHex();
            text += (upper ? hex.toUpper() : hex) + (k == 1 ? "\n\t" : " ");
        }
    return text;
}

QByteArray lookDoc(const QByteArray &body) { return "<?xml version=\"1.0\"?>\n<look>\n" + body + "\n</look>\n"; }
QByteArray lutElement(const QByteArray &name, const QByteArray &size, const QByteArray &data)
{ return "<" + name + "><size>" + size + "</size><data>" + data + "</data></" + name + ">"; }

// A tiled (T x T tiles of n x n) or strip (n * n by n) image; pixel draws lattice point (a, b, c).
QImage lutImage(int format, int n, const PixelFn &pixel)
{
    const int tiles = format == kStrip ? 1 : n == 16 ? 4 : n == 64 ? 8 : 16;
    QImage image = format == kStrip ? QImage(n * n, n, QImage::Format_RGB888) : QImage(n * tiles, n * tiles, QImage::Format_RGB888);
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            for (int c = 0; c < n; ++c) {
                const int x = format == kStrip ? a * n + c : (a % tiles) * n + c, y = format == kStrip ? b : (a / tiles) * n + b;
                pixel(a, b, c, image.scanLine(y) + 3 * x);
            }
    return image;
}

// The identity: point (a, b, c) holds (c, b, a), read as table3D[r][g][b] = (r, g, b); n = 1 is white.
PixelFn identity(int n)
{
    return [n](int a, int b, int c, uchar *rgb) {
        for (int k = 0; k < 3; ++k)
            rgb[k] = n == 1 ? 255 : uchar(std::lround((k == 0 ? c : k == 1 ? b : a) * 255.0 / (n - 1)));
    };
}

} // namespace

class TestFormatLookImages : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString saveImage(const QImage &image, const QString &name) { return image.save(m_dir.filePath(name)) ? m_dir.filePath(name) : QString(); }
    bool readLook(Read_LUTFile &lut, const QByteArray &text, bool defaultOrder = true)
    {
        return readAs(lut, TestSupport::writeFile(m_dir.filePath("t.look"), text), kLook, defaultOrder);
    }

private slots:
    // "0000803f" is 1.0, "3f800000" a denormal; either case; "shaders"/"ASC" skipped; quoted size.
    void lookDecodesHexAndSkipsElements()
    {
        const QByteArray data = "0000803f 0000003F 3f800000\n" + lookData(7, [](int i) { return Rgb{{i / 8.0f, 0.25f, 1 - i / 8.0f}}; }, true);
        const QByteArray shaders = "<shaders>" + lutElement("LUT", "4", lookData(64, [](int) { return Rgb{{0.25f, 0.25f, 0.25f}}; }))
            + "</shaders><ASC><LUT1D><size>3</size></LUT1D></ASC>\n";
        Read_LUTFile lut, lut1D;
        QVERIFY2(readLook(lut, lookDoc(shaders + lutElement("LUT", "2", data)), false), qPrintable(lut.errorString));
        QCOMPARE(lut.size3D, 2);
        QCOMPARE(lut.size1D, 0);
        QCOMPARE(lut.table3D[0][0][0][1], 0.5f);
        QVERIFY(lut.table3D[0][0][0][2] > 0.0f && lut.table3D[0][0][0][2] < 1e-30f);
        QCOMPARE(at(lut.table3D[1][0][1]), Rgb({0.5f, 0.25f, 0.5f})); // entry 5: (a, b, c) = (1, 0, 1), unreversed
        const auto ramp = [](int i) { return Rgb{{i * 2.0f, i / 20.0f, 0.1f}}; };
        QVERIFY2(readLook(lut1D, lookDoc(lutElement("LUT1D", "\"17\"", "\"" + lookData(17, ramp) + "\"")), false),
                 qPrintable(lut1D.errorString));
        QCOMPARE(lut1D.size1D, 17);
        QCOMPARE(at(lut1D.table1D[16]), Rgb({1.0f, 0.8f, 0.1f}));
        QCOMPARE(lut1D.table1D[8][0], 0.5f);
    }

    // Red reaching 4.0 is divided by 4, channels below 1.0 stay; default order: fastest index first.
    void lookNormalisesChannelsAboveOne()
    {
        const auto f = [](int i) { return Rgb{{i * 4.0f / 26, 0.9f * (i % 3) / 2, 0.3f}}; };
        Read_LUTFile lut;
        QVERIFY2(readLook(lut, lookDoc(lutElement("LUT", "3", lookData(27, f)))), qPrintable(lut.errorString));
        for (int i = 0; i < 27; ++i)
            QCOMPARE(at(lut.table3D[i % 3][i / 3 % 3][i / 9]), Rgb({f(i)[0] / 4, f(i)[1], 0.3f}));
        QCOMPARE(Rgb({lut.domainMax3D[0], lut.domainMax3D[1], lut.domainMax3D[2]}), Rgb({1, 1, 1}));
    }

    void lookBadDataFailsCleanly_data()
    {
        QTest::addColumn<QByteArray>("text");
        const QByteArray hex = lookData(8, [](int) { return Rgb{{1, 1, 1}}; }).replace(" ", "").replace("\n\t", "");
        const QList<QPair<const char *, QByteArray>> rows = {
            {"one digit short", lookDoc(lutElement("LUT", "2", hex.left(hex.size() - 1)))},
            {"odd length", lookDoc(lutElement("LUT", "2", hex.left(hex.size() - 13)))},
            {"non-hex digit", lookDoc(lutElement("LUT", "2", QByteArray(hex).replace(100, 1, "g")))},
            {"non-ASCII character", lookDoc(lutElement("LUT", "2", QByteArray(hex).replace(30, 1, "\xc3\xa9")))},
            {"size above bound", lookDoc(lutElement("LUT", "100000", hex))},
            {"size zero", lookDoc(lutElement("LUT", "0", hex))},
            {"data before size", lookDoc("<LUT><data>" + hex + "</data></LUT>")},
            {"no table", lookDoc("<other>text</other>")},
            {"malformed XML", "<look><LUT><size>2</size><data>00</da"},
            {"binary junk", bytes("\x00\xff<\x01\x80>&#0;\xfe")},
            {"empty", QByteArray()}};
        for (const auto &row : rows)
            QTest::newRow(row.first) << row.second;
    }
    void lookBadDataFailsCleanly()
    {
        QFETCH(QByteArray, text);
        Read_LUTFile lut;
        QVERIFY(!readLook(lut, text));
        QVERIFY(!lut.errorString.isEmpty());
        QCOMPARE(Rgb({lut.domainMax3D[0], lut.domainMax3D[1], lut.domainMax3D[2]}), Rgb({1, 1, 1}));
    }

    // Identity images read to identity cubes; 289x17 rows are padded; the 25x5 strip's alpha is dropped.
    void identityImagesReadToIdentityCubes_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("n");
        QTest::newRow("tiled 64x64 bmp") << kTiled << 16;
        QTest::newRow("tiled 512x512") << kTiled << 64;
        QTest::newRow("tiled 4096x4096") << kTiled << 256;
        QTest::newRow("strip 289x17") << kStrip << 17;
        QTest::newRow("strip 25x5") << kStrip << 5;
        QTest::newRow("strip 1x1") << kStrip << 1;
    }
    void identityImagesReadToIdentityCubes()
    {
        QFETCH(int, format);
        QFETCH(int, n);
        QImage image = lutImage(format, n, identity(n)).convertToFormat(n == 5 ? QImage::Format_ARGB32 : QImage::Format_RGB888);
        for (int y = 0; y < image.height() && n == 5; ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, (image.pixel(x, y) & 0xffffff) | uint((x * 37 + y * 11) % 256) << 24);
        const QString path = saveImage(image, QStringLiteral("id%1.%2").arg(n).arg(n == 16 ? "bmp" : "png"));
        Read_LUTFile lut;
        QVERIFY2(readAs(lut, path, format), qPrintable(lut.errorString));
        QCOMPARE(lut.size3D, n);
        qint64 bad = 0;
        for (int r = 0; r < n; ++r)
            for (int g = 0; g < n; ++g)
                for (int b = 0; b < n; ++b) {
                    const Rgb want = n == 1 ? Rgb{{1, 1, 1}} : Rgb{{float(r) / (n - 1), float(g) / (n - 1), float(b) / (n - 1)}};
                    for (int k = 0; k < 3; ++k)
                        bad += std::fabs(lut.table3D[r][g][b][k] - want[k]) > 0.5f / 255 + 1e-6f;
                }
        QCOMPARE(bad, qint64(0));
        QCOMPARE(Rgb({lut.domainMax3D[0], lut.domainMax3D[1], lut.domainMax3D[2]}), Rgb({1, 1, 1}));
    }

    // Wrong sizes (66049x257 is above the bound) and unloadable files fail, leaving no table.
    void imagesRefuseWrongSizesAndUnloadableFiles()
    {
        const QList<QPair<int, QSize>> sizes = {
            {kTiled, {128, 128}}, {kTiled, {64, 65}}, {kTiled, {65, 64}}, {kTiled, {512, 64}}, {kTiled, {63, 63}},
            {kTiled, {1, 1}}, {kTiled, {4096, 512}}, {kStrip, {1024, 16}}, {kStrip, {17, 289}}, {kStrip, {290, 17}},
            {kStrip, {16, 16}}, {kStrip, {66049, 257}}};
        QList<QPair<int, QString>> files;
        for (const auto &s : sizes) {
            QImage image(s.second, QImage::Format_RGB888);
            image.fill(Qt::gray);
            files.append({s.first, saveImage(image, QStringLiteral("wrong%1x%2.png").arg(s.second.width()).arg(s.second.height()))});
        }
        const QString junkPng = TestSupport::writeFile(m_dir.filePath("junk.png"), bytes("\x89PNG\r\n\x1a\n garbage \xff\x00\x13"));
        const QString junkBmp = TestSupport::writeFile(m_dir.filePath("junk.bmp"), bytes("BM\x10\x00\x00\x00 not a bitmap"));
        const QString empty = TestSupport::writeFile(m_dir.filePath("empty.png"), QByteArray());
        for (const int format : {kTiled, kStrip})
            for (const QString &path : {junkPng, junkBmp, empty, m_dir.filePath("missing.png")})
                files.append({format, path});
        for (const auto &file : files) {
            Read_LUTFile lut;
            QVERIFY2(!file.second.isEmpty() && !readAs(lut, file.second, file.first), qPrintable(file.second));
            QVERIFY(!lut.errorString.isEmpty());
            QCOMPARE(lut.size3D, 0);
            QVERIFY(lut.table3D == nullptr);
            QCOMPARE(lut.domainMax3D[0], 1.0f);
        }
    }
};

QTEST_GUILESS_MAIN(TestFormatLookImages)
#include "test_format_look_images.moc"
