#pragma once

#include "lut/LutFileOptions.h"
#include "lut/LutMeaning.h"
#include "lut/LutTable.h"
#include "lut/LutTextOutput.h"

#include <QObject>
#include <QString>

#include <cmath>
#include <functional>

class Read_LUTFile;

// Writes one container to one file: writeLut copies the caller's order
// choices into the flags below and runs the writer of the chosen format.
// Every text writer writes its table body through writeLut3DEntry,
// writeLut1DEntry or writeLut1DValue, so all formats share one number format
// and one meaning of the order flags.
class Write_LUTFile : public QObject
{
    Q_OBJECT

public:
    explicit Write_LUTFile(QObject *parent = nullptr);
    ~Write_LUTFile() override;

    bool dataOrderRGB = true;  // write channels as stored (0, 1, 2); else reversed
    bool tableOrderRGB = true; // loop indices (p, q, r) address [p][q][r]; else [r][q][p]
    bool defaultOrder = true;  // writers that have a format order force it
    int outputScale = 1;       // 1 or less: normalised reals; 2 or more: integer codes
    QString sourcePath;        // the file the table came from, for formats that name it

    // Why the last write failed, for the command line.
    QString errorString;

    bool writeLut(LutFileOptions &options, Read_LUTFile *lut);

    // Writers (one per format, each in its file under formats/).
    bool writeCube(QString fileName, Read_LUTFile *lut);
    bool writePandora(QString fileName, Read_LUTFile *lut);
    bool writeDiscreet1D(QString fileName, Read_LUTFile *lut);
    bool writeLut1D(QString fileName, Read_LUTFile *lut);
    bool writeDavLut(QString fileName, Read_LUTFile *lut);
    bool writeItx(QString fileName, Read_LUTFile *lut);
    bool writeSpi1D(QString fileName, Read_LUTFile *lut);
    bool writeSpi3D(QString fileName, Read_LUTFile *lut);
    bool writeCsvLog(QString fileName, Read_LUTFile *lut);
    bool writeZyt1D(QString fileName, Read_LUTFile *lut);
    bool writeZyt3D(QString fileName, Read_LUTFile *lut);
    bool writeClf(QString fileName, Read_LUTFile *lut);
    bool writeCtf(QString fileName, Read_LUTFile *lut);
    bool writeLutImageTiled(QString fileName, Read_LUTFile *lut);
    bool writeLutImageStrip(QString fileName, Read_LUTFile *lut);
    bool writeHald(QString fileName, Read_LUTFile *lut);
    bool writeCdlCc(QString fileName, Read_LUTFile *lut);
    bool writeIcc(QString fileName, Read_LUTFile *lut);
    bool writeHoudini(QString fileName, Read_LUTFile *lut);
    bool writeVf(QString fileName, Read_LUTFile *lut);
    bool writeSpimtx(QString fileName, Read_LUTFile *lut);
    bool writeVlt(QString fileName, Read_LUTFile *lut);
    bool write3dl(QString fileName, Read_LUTFile *lut);
    bool writeFlame(QString fileName, Read_LUTFile *lut);
    bool writeLook(QString fileName, Read_LUTFile *lut);
    bool writeCsp(QString fileName, Read_LUTFile *lut);
    bool writeTruelightCube(QString fileName, Read_LUTFile *lut);

    // The 3D entry that loop indices (p, q, r) stand for: table[p][q][r]
    // when tableOrderRGB is set, table[r][q][p] when clear. Its channels go
    // out as 0, 1, 2 when dataOrderRGB is set, else 2, 1, 0.
    const float *entry3D(const LutTable3D &table, int p, int q, int r) const
    {
        return tableOrderRGB ? table[p][q][r] : table[r][q][p];
    }

    // Writes the three channels of one 3D entry: table[p][q][r] when
    // tableOrderRGB is set, table[r][q][p] when clear; channels 0, 1, 2 when
    // dataOrderRGB is set, else 2, 1, 0. With a scale of 1 or less each
    // value is "%.6f" padded to eight characters and the separator stands
    // between the values; with a scale of 2 or more each is the nearest
    // code to scale x value (within 0..scale) followed by the separator.
    // Switches the stream to fixed notation.
    void writeLut3DEntry(const LutTable3D &table, LutTextStream &stream, int p, int q, int r,
                         int scale, const QString &separator);
    // Writes the three channels of the 3D entry that writeLut3DEntry picks, in
    // the same channel order, but in the stream's current notation and
    // precision (as writeLut1DEntry writes) and with the separator between
    // the values only. Smart notation with precision 9 writes every float so
    // that it reads back as the very same float.
    void writeLut3DEntryPrecise(const LutTable3D &table, LutTextStream &stream, int p, int q, int r,
                                const QString &separator);
    // Writes the 3D entry that writeLut3DEntry picks, in the same channel
    // order, as 24 hexadecimal digits: each float's four bytes, least
    // significant first, as look files hold them (exact for every float).
    void writeLut3DEntryHex(const LutTable3D &table, LutTextStream &stream, int p, int q, int r);
    // Writes the three channels of table[n], each followed by the separator,
    // in the stream's current notation (smart notation prints as "%g"), or as
    // integers for a scale of 2 or more. The channels are reversed exactly
    // when the two order flags differ (reversed1D), as the container stores a
    // 1D line, so a file written with a pair of flags reads back with it.
    void writeLut1DEntry(const LutTable1D &table, LutTextStream &stream, int n, int scale,
                         const QString &separator);
    // Writes one channel of table[n] (channel 0 unless told otherwise) and
    // the separator.
    void writeLut1DValue(const LutTable1D &table, LutTextStream &stream, int n, int scale,
                         const QString &separator, int channel = 0);
    // Whether a 1D entry is written in the channel order 2, 1, 0: exactly
    // when the two order flags differ, the rule the container reads by.
    bool reversed1D() const { return dataOrderRGB != tableOrderRGB; }

    // The writing side of Read_LUTFile::LineOrder1D: while one lives, under
    // "Default Order" the table-order flag follows the data-order flag, so
    // that the 1D lines of a format whose cube runs red fastest go out in
    // the data order, as its reader reads them.
    class LineOrder1D
    {
    public:
        explicit LineOrder1D(Write_LUTFile *writer) : m_writer(writer), m_tableOrderRGB(writer->tableOrderRGB)
        {
            if (writer->defaultOrder)
                writer->tableOrderRGB = writer->dataOrderRGB;
        }
        ~LineOrder1D() { m_writer->tableOrderRGB = m_tableOrderRGB; }
        LineOrder1D(const LineOrder1D &) = delete;
        LineOrder1D &operator=(const LineOrder1D &) = delete;

    private:
        Write_LUTFile *m_writer;
        bool m_tableOrderRGB;
    };

    // What stands in front of the table a writer writes (the 3D table when
    // for3D, else the 1D table), per channel, as one curve from the input
    // to the table's input on 0..1 (a lattice position, or a position along
    // the 1D table): the container's shaper, then its 1D table when that
    // feeds the cube, then the table's input span. Without any of them the
    // curve is the identity on two knots, 0 and 1, and so it is when
    // frontWritable is false. A shaper followed by a 1D table is composed at
    // the shaper's knots. Returns an empty string, or why the container's
    // shaper is no curve (the plain reading of a csp file does not check
    // its knots).
    static QString frontCurves(const Read_LUTFile &lut, bool for3D, LutCurve curves[3]);
    // Whether the tables lut holds are the file's own, so that what stands
    // in front of them can be written with them: a read for baking, or a
    // plain reading whose domains and input spans (of the table written and
    // of a 1D table in front of the cube) are 0..1 and whose shaper maps
    // onto 0..1. A plain reading divides the values by any other domain (a
    // csp file's by its pre-LUT's outputs), which the front would misplace.
    static bool frontWritable(const Read_LUTFile &lut, bool for3D);

    // Writes a whole 3D text file, the one path of every cube-shaped writer:
    // checks that lut holds the table its size claims, opens the output,
    // runs header, applies the default order of formatId, then writes one
    // line per entry (first loop index slowest, third fastest): linePrefix
    // (when given) with the indices and the running entry number, the entry
    // through writeLut3DEntry with the separator and scale, and a line end;
    // then footer, when given.
    using LinePrefix = std::function<void(LutTextStream &, int i, int j, int k, qint64 entry)>;
    bool writeCubeFile(const QString &fileName, const Read_LUTFile *lut, LutFormatId formatId,
                       const std::function<void(LutTextStream &)> &header, const QString &separator, int scale,
                       const LinePrefix &linePrefix = LinePrefix(),
                       const std::function<void(LutTextStream &)> &footer = std::function<void(LutTextStream &)>());

    // Writes a whole 3D text file whose writer lays out the body itself:
    // checks that lut holds the table its size claims, opens the output,
    // applies the default order of formatId and lets write produce the text.
    bool writeTable3DFile(const QString &fileName, const Read_LUTFile *lut, LutFormatId formatId,
                          const std::function<void(LutTextStream &)> &write);

    // Writes a whole 1D text file: checks that lut holds the table its size
    // claims, opens the output, applies the default order of formatId and
    // lets write produce the text (header, body through the 1D helpers).
    bool writeTable1DFile(const QString &fileName, const Read_LUTFile *lut, LutFormatId formatId,
                          const std::function<void(LutTextStream &)> &write);

    // When defaultOrder is set and the format has an order of its own,
    // replaces both order flags with it.
    void applyDefaultOrder(LutFormatId formatId);
    // Records why the write failed and returns false.
    bool fail(const QString &reason);
};

// The integer code of value at a depth of scale (255, 1023, 65535, ...): the
// nearest code to scale x value, within 0..scale. Codes outside the depth
// have no meaning (every reader clamps them and peers refuse a sign), and a
// NaN gives 0. Rounding (rather than truncating) keeps an exact code exact
// after a six-decimal hop: 3/255 read back from a text file is a hair below
// 3/255 and must still give 3.
inline long long lutCode(double value, int scale)
{
    const double product = double(scale) * value;
    if (product >= double(scale))
        return scale;
    // Truncation is the floor here (product + 0.5 is positive), without a
    // call into the maths library for every sample of a picture.
    if (product > 0.0)
        return (long long)(product + 0.5);
    return 0;
}
