// The look reader: XML with hexadecimal little-endian floats, per-channel
// normalisation of values above 1.0, skipped "shaders" and "ASC" elements.

#include "TestSupport.h"

#include "lut/Read_LUTFile.h"

#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>

namespace {

// A literal with embedded NULs, without its terminating one.
template <int N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

constexpr int kLook = 5;

bool readLookFile(Read_LUTFile &lut, const QString &path, bool defaultOrder = true)
{
    LutFileOptions options;
    options.path = path;
    options.format = kLook;
    options.defaultOrder = defaultOrder;
    return lut.readLut(options, false);
}

// The eight hex digits of a float: its bytes, least significant first.
QByteArray hexOf(float value, bool upper = false)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    QByteArray hex;
    for (int k = 0; k < 4; ++k)
        hex += QByteArray::number(((bits >> (8 * k)) & 0xff) | 0x100, 16).mid(1);
    return upper ? hex.toUpper() : hex;
}

using EntryFn = std::function<std::array<float, 3>(int index)>;

// Data text of count entries, with white space between groups.
QByteArray dataOf(int count, const EntryFn &entry, bool upper = false)
{
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        const auto v = entry(i);
        text += hexOf(v[0], upper) + ' ' + hexOf(v[1], upper) + "\n\t" + hexOf(v[2], upper) + "  ";
    }
    return text;
}

QByteArray lutElement(const QByteArray &name, const QByteArray &size, const QByteArray &data)
{
    return "<" + name + "><size>" + size + "</size><data>" + data + "</data></" + name + ">";
}

QByteArray document(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<look>\n" + body + "\n</look>\n";
}

} // namespace

class TestFormatLook : public QObject
{
    Q_OBJECT

private slots:
    void decodesLittleEndianHex();
    void normalisesChannelsAboveOne();
    void readsQuotedSizeAnd1DTable();
    void skipsShadersAndAsc();
    void badDataFailsCleanly_data();
    void badDataFailsCleanly();

private:
    QTemporaryDir m_dir;
};

// "0000803f" is 1.0 and "0000003f" 0.5; "3f800000" is a tiny denormal.
// Upper- and lower-case digits decode alike; white space is ignored.
void TestFormatLook::decodesLittleEndianHex()
{
    const QByteArray data = "0000803f 0000003F 3f800000\n"
        + dataOf(7, [](int i) { return std::array<float, 3>{{i / 8.0f, 0.25f, 1.0f - i / 8.0f}}; }, true);
    const QString path = TestSupport::writeFile(m_dir.filePath(QStringLiteral("a.look")),
                                                document(lutElement("LUT", "2", data)));
    Read_LUTFile lut;
    QVERIFY2(readLookFile(lut, path, false), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, 2);
    QCOMPARE(lut.table3D[0][0][0][0], 1.0f);
    QCOMPARE(lut.table3D[0][0][0][1], 0.5f);
    QVERIFY(lut.table3D[0][0][0][2] > 0.0f && lut.table3D[0][0][0][2] < 1e-30f);
    // Entry 5 is (a, b, c) = (1, 0, 1); with both flags set it stays there.
    QCOMPARE(lut.table3D[1][0][1][0], 4 / 8.0f);
    QCOMPARE(lut.table3D[1][0][1][2], 1.0f - 4 / 8.0f);
    QCOMPARE(lut.domainMax3D[0], 1.0f);
}

// Red reaching 4.0 is divided by 4 throughout; green and blue, below 1.0,
// are stored as they are. The default order puts the data's fastest index
// first in the table.
void TestFormatLook::normalisesChannelsAboveOne()
{
    const int n = 3;
    const EntryFn f = [](int i) {
        return std::array<float, 3>{{i * 4.0f / 26, 0.9f * (i % 3) / 2, 0.3f}};
    };
    const QString path = TestSupport::writeFile(m_dir.filePath(QStringLiteral("b.look")),
                                                document(lutElement("LUT", "3", dataOf(n * n * n, f))));
    Read_LUTFile lut;
    QVERIFY2(readLookFile(lut, path), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, n);
    for (int a = 0; a < n; ++a) {
        for (int b = 0; b < n; ++b) {
            for (int c = 0; c < n; ++c) {
                const int i = (a * n + b) * n + c;
                const float *e = lut.table3D[c][b][a];
                QVERIFY(std::fabs(e[0] - f(i)[0] / 4.0f) < 1e-6f);
                QCOMPARE(e[1], f(i)[1]);
                QCOMPARE(e[2], 0.3f);
            }
        }
    }
    for (int k = 0; k < 3; ++k)
        QCOMPARE(lut.domainMax3D[k], 1.0f);
}

void TestFormatLook::readsQuotedSizeAnd1DTable()
{
    const EntryFn ramp = [](int i) { return std::array<float, 3>{{i * 2.0f, i / 20.0f, 0.1f}}; };
    const QString path = TestSupport::writeFile(
        m_dir.filePath(QStringLiteral("c.look")),
        document(lutElement("LUT1D", "\"17\"", "\"" + dataOf(17, ramp) + "\"")));
    Read_LUTFile lut;
    QVERIFY2(readLookFile(lut, path, false), qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, 0);
    QCOMPARE(lut.size1D, 17);
    QCOMPARE(lut.table1D[16][0], 1.0f);
    QCOMPARE(lut.table1D[8][0], 0.5f);
    QCOMPARE(lut.table1D[16][1], 0.8f);
    QCOMPARE(lut.domainMax1D[0], 1.0f);
}

void TestFormatLook::skipsShadersAndAsc()
{
    const EntryFn half = [](int) { return std::array<float, 3>{{0.5f, 0.5f, 0.5f}}; };
    const EntryFn quarter = [](int) { return std::array<float, 3>{{0.25f, 0.25f, 0.25f}}; };
    const QByteArray body = "<shaders><LUT><size>4</size><data>" + dataOf(64, quarter)
        + "</data></LUT></shaders>\n<ASC><LUT1D><size>3</size></LUT1D></ASC>\n"
        + lutElement("LUT", "2", dataOf(8, half));
    Read_LUTFile lut;
    QVERIFY2(readLookFile(lut, TestSupport::writeFile(m_dir.filePath(QStringLiteral("d.look")), document(body))),
             qPrintable(lut.errorString));
    QCOMPARE(lut.size3D, 2);
    QCOMPARE(lut.size1D, 0);
    QCOMPARE(lut.table3D[1][1][1][1], 0.5f);
}

void TestFormatLook::badDataFailsCleanly_data()
{
    QTest::addColumn<QByteArray>("text");
    const EntryFn one = [](int) { return std::array<float, 3>{{1.0f, 1.0f, 1.0f}}; };
    const QByteArray good = dataOf(8, one);
    const QByteArray compact = QByteArray(good).replace(" ", "").replace("\n", "").replace("\t", "");
    QTest::newRow("one digit short") << document(lutElement("LUT", "2", compact.left(compact.size() - 1)));
    QTest::newRow("odd length") << document(lutElement("LUT", "2", compact.left(compact.size() - 13)));
    QTest::newRow("non-hex digit") << document(lutElement("LUT", "2", QByteArray(compact).replace(100, 1, "g")));
    QTest::newRow("non-ASCII character")
        << document(lutElement("LUT", "2", QByteArray(compact).replace(30, 1, "\xc3\xa9")));
    QTest::newRow("size above bound") << document(lutElement("LUT", "100000", compact));
    QTest::newRow("1D size above bound") << document(lutElement("LUT1D", "2000000000", compact));
    QTest::newRow("no table") << document("<other>text</other>");
    QTest::newRow("size zero") << document(lutElement("LUT", "0", compact));
    QTest::newRow("data before size") << document("<LUT><data>" + compact + "</data></LUT>");
    QTest::newRow("malformed XML") << QByteArray("<look><LUT><size>2</size><data>00</da");
    QTest::newRow("mismatched tags") << QByteArray("<look><LUT></look><size>2</size></LUT>");
    QTest::newRow("binary junk") << bytes("\x00\xff<\x01\x80>&#0;\xfe");
    QTest::newRow("empty") << QByteArray();
}

void TestFormatLook::badDataFailsCleanly()
{
    QFETCH(QByteArray, text);
    Read_LUTFile lut;
    QVERIFY(!readLookFile(lut, TestSupport::writeFile(m_dir.filePath(QStringLiteral("bad.look")), text)));
    QVERIFY(!lut.errorString.isEmpty());
    for (int k = 0; k < 3; ++k)
        QCOMPARE(lut.domainMax3D[k], 1.0f);
}

QTEST_GUILESS_MAIN(TestFormatLook)
#include "test_format_look.moc"
