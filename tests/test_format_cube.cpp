// The cube reader and writer.

#include "TestSupport.h"

#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

class TestFormatCube : public QObject
{
    Q_OBJECT

private slots:
    void readsKeywordsCommentsAndDomains();
    void headerlessFileTakesItsSizeFromTheLineCount();
    void dataBeforeTheSizeLine();
    void oneDimensionalOnly();
    void meshIntegerData();
    void shortLinesKeepPreviousChannels();
    void missingEntries();
    void headerOnlyAllocatesNothing();
    void writerExactText();
    void defaultOrderRoundTripKeepsTheLines();
    void badInputFailsCleanly();

private:
    bool read(const QByteArray &text, Read_LUTFile &lut, bool headerOnly = false, bool defaultOrder = true);
    QTemporaryDir m_dir;
    int m_count = 0;
};

bool TestFormatCube::read(const QByteArray &text, Read_LUTFile &lut, bool headerOnly, bool defaultOrder)
{
    LutFileOptions options;
    options.path = TestSupport::writeFile(m_dir.filePath(QStringLiteral("in%1.cube").arg(++m_count)), text);
    options.format = 0;
    options.defaultOrder = defaultOrder;
    return lut.readLut(options, headerOnly);
}

void TestFormatCube::readsKeywordsCommentsAndDomains()
{
    Read_LUTFile lut;
    QVERIFY(read("# comment\nTITLE \"grade 1.5\"\nxyz 1 2 3\nDOMAIN_MIN 0.1\nDOMAIN_MAX 2 2 2\n"
                 "LUT_3D_SIZE 2\n"
                 "0 0 0\n2 0 0\n0 1 0\n2 1 0\n0 0 1\n2 0 1\n0 1 1\n2 2 2\n",
                 lut));
    QCOMPARE(lut.size3D, 2);
    QCOMPARE(lut.domainMin3D[0], 0.1f);
    QCOMPARE(lut.domainMin3D[1], 0.0f);
    for (int c = 0; c < 3; ++c)
        QCOMPARE(lut.domainMax3D[c], 1.0f);
    // Default order: each line is red green blue with red fastest, so the
    // second line (2, 0, 0) is table3D[1][0][0], normalised by the width 1.9.
    QCOMPARE(lut.table3D[1][0][0][0], 2.0f / 1.9f);
    QCOMPARE(lut.table3D[0][1][0][1], 1.0f / 2.0f);
    QCOMPARE(lut.table3D[0][0][1][2], 1.0f / 2.0f);
    QCOMPARE(lut.table3D[1][1][1][2], 2.0f / 2.0f);
    // The first line is clamped to the domain minimum 0.1 on red.
    QCOMPARE(lut.table3D[0][0][0][0], 0.1f / 1.9f);

    // A tab after a keyword reads like a blank.
    Read_LUTFile tabbed;
    QVERIFY(read("LUT_3D_SIZE\t2\nDOMAIN_MAX\t2 2 2\n" + QByteArray("1 1 1\n").repeated(8), tabbed));
    QCOMPARE(tabbed.table3D[0][0][0][0], 0.5f);
}

void TestFormatCube::headerlessFileTakesItsSizeFromTheLineCount()
{
    QByteArray text;
    for (int i = 0; i < 33 * 33 * 33; ++i)
        text += QByteArray::number(i % 33) + " 0.5 1\n";
    Read_LUTFile lut;
    QVERIFY(read(text, lut));
    QCOMPARE(lut.size3D, 33);
    QCOMPARE(lut.table3D[32][0][0][0], 1.0f); // clamped to 1
    QCOMPARE(lut.table3D[0][0][0][1], 0.5f);
}

void TestFormatCube::dataBeforeTheSizeLine()
{
    // The data lines before the size line are counted; the data pass reads
    // from the start of the file, so they are the first entries.
    Read_LUTFile lut;
    QVERIFY(read("0.5 0 0\n0.25 0 0\nLUT_3D_SIZE 2\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 1\n", lut));
    QCOMPARE(lut.size3D, 2);
    QCOMPARE(lut.table3D[0][0][0][0], 0.5f);
    QCOMPARE(lut.table3D[1][0][0][0], 0.25f);
    QCOMPARE(lut.table3D[1][1][1][2], 1.0f);
}

void TestFormatCube::oneDimensionalOnly()
{
    Read_LUTFile lut;
    QVERIFY(read("LUT_1D_SIZE 3\nLUT_1D_INPUT_RANGE 0 2\n0 0 0\n1 0.5 2\n2 2 3\n", lut));
    QCOMPARE(lut.size3D, 0);
    QCOMPARE(lut.size1D, 3);
    QCOMPARE(lut.table1D[1][0], 0.5f);
    QCOMPARE(lut.table1D[1][1], 0.25f);
    QCOMPARE(lut.table1D[2][2], 1.0f);
    QCOMPARE(lut.domainMax1D[0], 1.0f);

    // Both tables: the 1D entries follow the 3D entries.
    Read_LUTFile both;
    QVERIFY(read("LUT_1D_SIZE 2\nLUT_3D_SIZE 2\n" + QByteArray("0.5 0.5 0.5\n").repeated(8) + "0.1 0.2 0.3\n1 1 1\n",
                 both));
    QCOMPARE(both.table3D[1][1][1][0], 0.5f);
    QCOMPARE(both.table1D[0][0], 0.1f);
    QCOMPARE(both.table1D[0][2], 0.3f);
}

void TestFormatCube::meshIntegerData()
{
    Read_LUTFile lut;
    QVERIFY(read("Mesh 4 12\n4095 0 2048\n" + QByteArray("0 0 0\n").repeated(7), lut));
    QCOMPARE(lut.size3D, 2);
    QCOMPARE(lut.table3D[0][0][0][0], 4095.0f / 4096.0f);
    QCOMPARE(lut.table3D[0][0][0][2], 0.5f);

    // Without two integers after "Mesh" the scale stays 1.
    Read_LUTFile plain;
    QVERIFY(read("Mesh\n1 0 1\n" + QByteArray("0 0 0\n").repeated(7), plain));
    QCOMPARE(plain.meshIntegerScale, 1);
    QCOMPARE(plain.table3D[0][0][0][0], 1.0f);
}

void TestFormatCube::shortLinesKeepPreviousChannels()
{
    Read_LUTFile lut;
    QVERIFY(read("LUT_3D_SIZE 2\n0.5 0.5 0.5\n0.1 0.2\n0.3\n" + QByteArray("0 0 0\n").repeated(5), lut));
    const float *second = lut.table3D[1][0][0];
    QCOMPARE(second[0], 0.1f);
    QCOMPARE(second[1], 0.2f);
    QCOMPARE(second[2], 0.5f);
    const float *third = lut.table3D[0][1][0];
    QCOMPARE(third[0], 0.3f);
    QCOMPARE(third[1], 0.2f);
}

void TestFormatCube::missingEntries()
{
    // Only the last entry missing still reads; more missing fails.
    Read_LUTFile lastMissing;
    QVERIFY(read("LUT_3D_SIZE 2\n" + QByteArray("1 1 1\n").repeated(7), lastMissing));
    QCOMPARE(lastMissing.table3D[1][1][1][0], 0.0f);
    QCOMPARE(lastMissing.table3D[0][1][1][0], 1.0f);
    Read_LUTFile twoMissing;
    QVERIFY(!read("LUT_3D_SIZE 2\n" + QByteArray("1 1 1\n").repeated(6), twoMissing));
    QVERIFY(twoMissing.errorString.contains(QLatin1String("6 of 8")));
    Read_LUTFile oneDShort;
    QVERIFY(!read("LUT_1D_SIZE 4\n0 0 0\n1 1 1\n", oneDShort));
}

void TestFormatCube::headerOnlyAllocatesNothing()
{
    Read_LUTFile lut;
    QVERIFY(read("LUT_3D_SIZE 17\n0 0 0\n", lut, true));
    QCOMPARE(lut.size3D, 17);
    QVERIFY(lut.table3D == nullptr);
}

void TestFormatCube::writerExactText()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            for (int c = 0; c < 2; ++c) {
                lut.table3D[a][b][c][0] = float(a);
                lut.table3D[a][b][c][1] = float(b);
                lut.table3D[a][b][c][2] = float(c);
            }
    Write_LUTFile writer;
    LutFileOptions options;
    options.path = m_dir.filePath(QStringLiteral("identity.cube"));
    options.dataOrderRGB = options.tableOrderRGB = true;
    QVERIFY(writer.writeLut(options, &lut));
    QCOMPARE(TestSupport::readFile(options.path),
             QByteArray("TITLE \nLUT_3D_SIZE 2\n"
                        "0.000000 0.000000 0.000000\n0.000000 0.000000 1.000000\n"
                        "0.000000 1.000000 0.000000\n0.000000 1.000000 1.000000\n"
                        "1.000000 0.000000 0.000000\n1.000000 0.000000 1.000000\n"
                        "1.000000 1.000000 0.000000\n1.000000 1.000000 1.000000\n"));

    options.outputScale = 1023;
    options.tableOrderRGB = false;
    QVERIFY(writer.writeLut(options, &lut));
    QVERIFY(TestSupport::readFile(options.path).startsWith("TITLE \nLUT_3D_SIZE 2\n0 0 0 \n1023 0 0 \n0 1023 0 \n"));

    // An unwritable place fails and names the reason.
    options.path = m_dir.filePath(QStringLiteral("no/such/dir/x.cube"));
    QVERIFY(!writer.writeLut(options, &lut));
    QVERIFY(!writer.errorString.isEmpty());
}

void TestFormatCube::defaultOrderRoundTripKeepsTheLines()
{
    // A red-fastest file read with the default order and written with data
    // RGB / table BGR comes out line for line as it went in.
    QByteArray text = "TITLE \nLUT_3D_SIZE 3\n";
    QRandomGenerator random(7);
    for (int i = 0; i < 27; ++i) {
        for (int c = 0; c < 3; ++c)
            text += QByteArray::number(random.bounded(1000000) / 1000000.0, 'f', 6) + (c < 2 ? " " : "\n");
    }
    Read_LUTFile lut;
    QVERIFY(read(text, lut));
    Write_LUTFile writer;
    LutFileOptions options;
    options.path = m_dir.filePath(QStringLiteral("back.cube"));
    options.defaultOrder = false;
    options.dataOrderRGB = true;
    options.tableOrderRGB = false;
    QVERIFY(writer.writeLut(options, &lut));
    QCOMPARE(TestSupport::readFile(options.path), text);
}

void TestFormatCube::badInputFailsCleanly()
{
    const QByteArray cases[] = {
        "LUT_3D_SIZE 300\n",                 // above the bound
        "LUT_3D_SIZE 17 # seventeen\n",      // text after the number
        "LUT_3D_SIZE -2\n",
        "LUT_3D_SIZE 99999999999999\n",
        "LUT_1D_SIZE 2000000\n",
        "LUT_3D_SIZE 2\nDOMAIN_MIN 1 1 1\nDOMAIN_MAX 1 1 1\n" + QByteArray("0 0 0\n").repeated(8),
        "",
        "# nothing but a comment\n",
        QByteArray("\x00\x01\x02\xff\xfe\n", 6).repeated(100),
        QByteArray(70 * 70 * 70, '\n').replace('\n', "x\n").replace("x", "1"), // 343000 lines: cube root 70
    };
    int index = 0;
    for (const QByteArray &text : cases) {
        Read_LUTFile lut;
        const bool ok = read(text, lut);
        // The last case is a valid headerless cube of size 70.
        if (++index == int(sizeof cases / sizeof cases[0])) {
            QVERIFY(ok);
            QCOMPARE(lut.size3D, 70);
            continue;
        }
        QVERIFY2(!ok, qPrintable(QStringLiteral("case %1").arg(index)));
        QVERIFY2(!lut.errorString.isEmpty(), qPrintable(QStringLiteral("case %1").arg(index)));
    }

    // Random binary junk never crashes; whatever it reads stays in bounds.
    QRandomGenerator random(42);
    for (int round = 0; round < 50; ++round) {
        QByteArray junk(random.bounded(1, 4000), '\0');
        for (char &ch : junk)
            ch = char(random.bounded(256));
        if (round % 2)
            junk.prepend("LUT_3D_SIZE 3\n");
        Read_LUTFile lut;
        read(junk, lut);
    }

    // A second size line replaces the first table (no leak under the sanitizer).
    Read_LUTFile twice;
    QVERIFY(read("LUT_3D_SIZE 4\nLUT_3D_SIZE 2\n" + QByteArray("1 1 1\n").repeated(8), twice));
    QCOMPARE(twice.size3D, 2);
    QCOMPARE(twice.table3D.size(), 2);
}

QTEST_GUILESS_MAIN(TestFormatCube)
#include "test_format_cube.moc"
