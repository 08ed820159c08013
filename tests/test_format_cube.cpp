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
    void readsKeywordsAndDomains();
    void sizeFromLineCountAndDataBeforeTheSize();
    void oneDimensionalTables();
    void meshIntegerDataAndShortLines();
    void missingEntriesAndHeaderOnly();
    void writerText();
    void badInputFailsCleanly();

private:
    bool read(const QByteArray &text, Read_LUTFile &lut, bool headerOnly = false)
    {
        LutFileOptions options;
        options.path = TestSupport::writeFile(m_dir.filePath(QStringLiteral("in%1.cube").arg(++m_count)), text);
        return lut.readLut(options, headerOnly);
    }
    QTemporaryDir m_dir;
    int m_count = 0;
};

void TestFormatCube::readsKeywordsAndDomains()
{
    Read_LUTFile lut;
    QVERIFY(read("# comment\nTITLE \"grade 1.5\"\nxyz 1 2 3\nDOMAIN_MIN 0.1\nDOMAIN_MAX 2 2 2\nLUT_3D_SIZE 2\n"
                 "0 0 0\n2 0 0\n0 1 0\n2 1 0\n0 0 1\n2 0 1\n0 1 1\n2 2 2\n",
                 lut));
    QCOMPARE(lut.size3D, 2);
    QCOMPARE(lut.domainMin3D[0], 0.1f); // one number sets the first component only
    QCOMPARE(lut.domainMin3D[1], 0.0f);
    QCOMPARE(lut.domainMax3D[2], 1.0f);
    // Default order: lines are red green blue with red fastest; values are
    // clamped to the domain and divided by its width.
    QCOMPARE(lut.table3D[1][0][0][0], 2.0f / 1.9f);
    QCOMPARE(lut.table3D[0][1][0][1], 0.5f);
    QCOMPARE(lut.table3D[0][0][1][2], 0.5f);
    QCOMPARE(lut.table3D[0][0][0][0], 0.1f / 1.9f);
    // A tab after a keyword reads like a blank.
    Read_LUTFile tabbed;
    QVERIFY(read("LUT_3D_SIZE\t2\nDOMAIN_MAX\t2 2 2\n" + QByteArray("1 1 1\n").repeated(8), tabbed));
    QCOMPARE(tabbed.table3D[0][0][0][0], 0.5f);
}

void TestFormatCube::sizeFromLineCountAndDataBeforeTheSize()
{
    QByteArray text;
    for (int i = 0; i < 33 * 33 * 33; ++i)
        text += QByteArray::number(i % 33) + " 0.5 1\n";
    Read_LUTFile headerless;
    QVERIFY(read(text, headerless));
    QCOMPARE(headerless.size3D, 33);
    QCOMPARE(headerless.table3D[32][0][0][0], 1.0f);
    // Data lines before the size line are the first entries.
    Read_LUTFile early;
    QVERIFY(read("0.5 0 0\n0.25 0 0\nLUT_3D_SIZE 2\n" + QByteArray("0 0 0\n").repeated(5) + "0 0 1\n", early));
    QCOMPARE(early.table3D[1][0][0][0], 0.25f);
    QCOMPARE(early.table3D[1][1][1][2], 1.0f);
}

void TestFormatCube::oneDimensionalTables()
{
    // A 1D line keeps red, green, blue in that order under the default order.
    Read_LUTFile lut;
    QVERIFY(read("LUT_1D_SIZE 3\nLUT_1D_INPUT_RANGE 0 2\n0 0 0\n1 0.5 2\n2 2 3\n", lut));
    QVERIFY(lut.size3D == 0 && lut.size1D == 3);
    QCOMPARE(lut.table1D[1][0], 0.5f);
    QCOMPARE(lut.table1D[1][2], 1.0f);
    QCOMPARE(lut.domainMax1D[0], 1.0f);
    // Both tables: the 1D entries (a shaper) come first, the 3D entries after them.
    Read_LUTFile both, shortCube;
    QVERIFY(read("LUT_1D_SIZE 2\nLUT_3D_SIZE 2\n0.1 0.2 0.3\n1 1 1\n" + QByteArray("0.5 0.5 0.5\n").repeated(7) + "0.25 0 0\n", both));
    QCOMPARE(both.table3D[0][0][0][0], 0.5f);
    QCOMPARE(both.table3D[1][1][1][0], 0.25f);
    QCOMPARE(both.table1D[0][0], 0.1f);
    QCOMPARE(both.table1D[0][2], 0.3f);
    QVERIFY(!read("LUT_1D_SIZE 2\nLUT_3D_SIZE 2\n0.1 0.2 0.3\n", shortCube) && !shortCube.errorString.isEmpty());
}

void TestFormatCube::meshIntegerDataAndShortLines()
{
    Read_LUTFile mesh;
    QVERIFY(read("Mesh 4 12\n4095 0 2048\n" + QByteArray("0 0 0\n").repeated(7), mesh));
    QCOMPARE(mesh.table3D[0][0][0][0], 4095.0f / 4096.0f);
    QCOMPARE(mesh.table3D[0][0][0][2], 0.5f);
    // Without two integers after "Mesh" the scale stays 1.
    Read_LUTFile plain;
    QVERIFY(read("Mesh\n1 0 1\n" + QByteArray("0 0 0\n").repeated(7), plain));
    QCOMPARE(plain.table3D[0][0][0][0], 1.0f);
    // An entry is three numbers: a short or long line is refused by number.
    Read_LUTFile shortLine, longLine;
    QVERIFY(!read("LUT_3D_SIZE 2\n0.5 0.5 0.5\n0.1 0.2\n" + QByteArray("0 0 0\n").repeated(6), shortLine));
    QCOMPARE(shortLine.errorString, QStringLiteral("line 3: cube entry 2 is not three numbers"));
    QVERIFY(!read("Mesh 4 12\n" + QByteArray("0 0 0\n").repeated(7) + "1 2 3 4\n", longLine));
    QVERIFY(longLine.errorString.startsWith("line 9: "));
}

void TestFormatCube::missingEntriesAndHeaderOnly()
{
    // Only the last entry missing still reads; more missing fails.
    Read_LUTFile lastMissing, twoMissing, shortOneD, header;
    QVERIFY(read("LUT_3D_SIZE 2\n" + QByteArray("1 1 1\n").repeated(7), lastMissing));
    QCOMPARE(lastMissing.table3D[1][1][1][0], 0.0f);
    QVERIFY(!read("LUT_3D_SIZE 2\n" + QByteArray("1 1 1\n").repeated(6), twoMissing));
    QVERIFY(twoMissing.errorString.contains(QLatin1String("6 of 8")));
    QVERIFY(!read("LUT_1D_SIZE 4\n0 0 0\n1 1 1\n", shortOneD));
    QVERIFY(read("LUT_3D_SIZE 17\n0 0 0\n", header, true));
    QVERIFY(header.size3D == 17 && header.table3D == nullptr);
}

void TestFormatCube::writerText()
{
    Read_LUTFile lut;
    QVERIFY(lut.setSize3D(2, false));
    for (int i = 0; i < 8; ++i) {
        float *e = lut.table3D[i >> 2][(i >> 1) & 1][i & 1];
        e[0] = float(i >> 2), e[1] = float((i >> 1) & 1), e[2] = float(i & 1);
    }
    Write_LUTFile writer;
    LutFileOptions options;
    options.path = m_dir.filePath(QStringLiteral("identity.cube"));
    QVERIFY(writer.writeLut(options, &lut));
    QCOMPARE(TestSupport::readFile(options.path),
             QByteArray("TITLE \nLUT_3D_SIZE 2\n"
                        "0.000000 0.000000 0.000000\n0.000000 0.000000 1.000000\n"
                        "0.000000 1.000000 0.000000\n0.000000 1.000000 1.000000\n"
                        "1.000000 0.000000 0.000000\n1.000000 0.000000 1.000000\n"
                        "1.000000 1.000000 0.000000\n1.000000 1.000000 1.000000\n"));
    // Codes would read back as reals: the format takes no scale, and the file is kept.
    options.outputScale = 1023;
    QVERIFY(!writer.writeLut(options, &lut) && writer.errorString.contains(QLatin1String("reals only")));
    QVERIFY(TestSupport::readFile(options.path).startsWith("TITLE \nLUT_3D_SIZE 2\n0.000000"));
    options.outputScale = 1;
    options.path = m_dir.filePath(QStringLiteral("no/such/dir/x.cube"));
    QVERIFY(!writer.writeLut(options, &lut) && !writer.errorString.isEmpty());
}

void TestFormatCube::badInputFailsCleanly()
{
    const QByteArray cases[] = {
        "LUT_3D_SIZE 300\n", "LUT_3D_SIZE 17 # seventeen\n", "LUT_3D_SIZE -2\n", "LUT_3D_SIZE 99999999999999\n",
        "LUT_1D_SIZE 2000000\n", "LUT_3D_SIZE 2\nDOMAIN_MIN 1 1 1\nDOMAIN_MAX 1 1 1\n" + QByteArray("0 0 0\n").repeated(8),
        "", "# nothing but a comment\n", QByteArray("\x00\x01\x02\xff\xfe\n", 6).repeated(100),
        QByteArray("1\n").repeated(300 * 300 * 300 / 100).repeated(100), // a headerless cube of 300 points
    };
    for (const QByteArray &text : cases) {
        Read_LUTFile lut;
        QVERIFY2(!read(text, lut), text.left(40).constData());
        QVERIFY(!lut.errorString.isEmpty());
    }
    // Random binary junk never crashes or writes outside a table.
    QRandomGenerator random(42);
    for (int round = 0; round < 50; ++round) {
        QByteArray junk(random.bounded(1, 4000), '\0');
        for (char &ch : junk)
            ch = char(random.bounded(256));
        Read_LUTFile lut;
        read((round % 2 ? "LUT_3D_SIZE 3\n" : "") + junk, lut);
    }
    // A second size line replaces the first table.
    Read_LUTFile twice;
    QVERIFY(read("LUT_3D_SIZE 4\nLUT_3D_SIZE 2\n" + QByteArray("1 1 1\n").repeated(8), twice));
    QCOMPARE(twice.table3D.size(), 2);
}

QTEST_GUILESS_MAIN(TestFormatCube)
#include "test_format_cube.moc"
