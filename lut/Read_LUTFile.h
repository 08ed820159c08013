#pragma once

#include "lut/LutFileOptions.h"
#include "lut/LutMeaning.h"
#include "lut/LutTable.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class LutTextInput;

// The in-memory LUT that every conversion passes through: a reader fills it
// from a file, the resampler may copy its cube into another container, and a
// writer turns it into a file.
//
// After a read, stored values are normalised to fractions of the domain
// width and the domain maxima are back at 1.0 (the csp reader keeps its 3D
// domain). The order flags say how the file being read is laid out; with
// them chosen to match the file, table3D[red][green][blue] holds
// (red, green, blue).
class Read_LUTFile : public QObject
{
    Q_OBJECT

public:
    explicit Read_LUTFile(QObject *parent = nullptr);
    ~Read_LUTFile() override;

    float domainMin3D[3] = {0.0f, 0.0f, 0.0f};
    float domainMax3D[3] = {1.0f, 1.0f, 1.0f};
    LutTable3D table3D;
    int size3D = 0;
    float domainMin1D[3] = {0.0f, 0.0f, 0.0f};
    float domainMax1D[3] = {1.0f, 1.0f, 1.0f};
    LutTable1D table1D;
    int size1D = 0;
    bool dataOrderRGB = true;  // channels on a data line are red, green, blue
    bool tableOrderRGB = true; // the file's blue axis varies fastest
    bool defaultOrder = true;  // the reader replaces both flags with its format's pair
    int meshIntegerScale = 1;  // divisor of integer cube data after a "Mesh" line
    bool meshIntegerMode = false;

    // Why the last read failed, for the command line: "line 12: ...".
    QString errorString;

    // Set for a read whose result will be baked (LutFileOptions::bake): the
    // store operations keep values outside the range instead of clamping
    // them, and readers whose ranges are input spans record them in meaning
    // and keep the values as the file gives them.
    bool bakeRead = false;
    // The ColorCorrection a CDL file's reader takes (LutFileOptions::cccid):
    // an id, or a position from 0; empty for the first.
    QString cccid;
    // What the file means beyond the tables, recorded by every read.
    LutMeaning meaning;
    // What the plain reading of the file left out, for an output of the
    // given dimension (3 or 1), one phrase each ("csp pre-LUT not applied",
    // "12 values outside 0..1 clamped"); empty when the tables written keep
    // the whole transform. With frontKept the output holds what stands in
    // front of its table (the shaper, a 1D table in front of the cube, the
    // input spans), so only clamped values are lost.
    QStringList plainReadingLosses(int outputDimension, bool frontKept = false) const;

    // Builds a zero-filled table of n points per axis (n entries) in table,
    // replacing any table it held. Does nothing when n <= 0. Returns false
    // when n is above the size bound (kMaxCubeSize, kMax1DSize) or memory
    // runs out. Neither sets size3D / size1D.
    bool allocTable3D(LutTable3D &table, int n);
    bool allocTable1D(LutTable1D &table, int n);

    // Sets size3D (size1D) to n and, unless headerOnly, allocates the table
    // at that size. Fails with a message naming the size when n is below 1
    // or above the bound; the table is then released and the size is 0.
    bool setSize3D(int n, bool headerOnly);
    bool setSize1D(int n, bool headerOnly);

    // Clamps x0..x2 to [rangeMin, rangeMax] (counting the values that
    // change in meaning.clampedValues; a bake read does not clamp), divides each by the range width
    // and stores the result at (a, b, c) in the order the flags give:
    // table3D[a][b][c] when tableOrderRGB is set, else table3D[c][b][a];
    // channels as given when dataOrderRGB is set, else reversed.
    // An index outside the allocated table is ignored.
    void storeEntry3D(int a, int b, int c, float x0, float x1, float x2,
                      const float rangeMin[3], const float rangeMax[3])
    {
        storeEntry3D(a, b, c, x0, x1, x2, rangeMin, rangeMax, meaning.clampedValues);
    }
    // The same for table1D[i]; the channels are reversed exactly when the
    // two order flags differ.
    void storeEntry1D(int i, float x0, float x1, float x2,
                      const float rangeMin[3], const float rangeMax[3])
    {
        storeEntry1D(i, x0, x1, x2, rangeMin, rangeMax, meaning.clampedValues);
    }
    // The same, counting the clamped values in clamped: for stores on
    // several threads, each with a count of its own.
    void storeEntry3D(int a, int b, int c, float x0, float x1, float x2,
                      const float rangeMin[3], const float rangeMax[3], long long &clamped);
    void storeEntry1D(int i, float x0, float x1, float x2,
                      const float rangeMin[3], const float rangeMax[3], long long &clamped);

    // Selects and runs the reader of options.format.
    bool readLut(LutFileOptions &options, bool headerOnly);

    // Readers (one per format, each in its file under formats/).
    bool readCube(QString fileName, bool headerOnly);
    bool readLutImageTiled(QString fileName, bool headerOnly);
    bool readLutImageStrip(QString fileName, bool headerOnly);
    bool read3dl(QString fileName, bool headerOnly);
    bool readPandora(QString fileName, bool headerOnly);
    bool readLook(QString fileName, bool headerOnly);
    bool readDiscreet1D(QString fileName, bool headerOnly);
    bool readLut1D(QString fileName, bool headerOnly);
    bool readDavLut(QString fileName, bool headerOnly);
    bool readCsp(QString fileName, bool headerOnly);
    bool readTruelightCube(QString fileName, bool headerOnly);
    bool readItx(QString fileName, bool headerOnly);
    bool readSpi1D(QString fileName, bool headerOnly);
    bool readSpi3D(QString fileName, bool headerOnly);
    bool readCsvLog(QString fileName, bool headerOnly);
    bool readZyt1D(QString fileName, bool headerOnly);
    bool readZyt3D(QString fileName, bool headerOnly);
    bool readClf(QString fileName, bool headerOnly);
    bool readCtf(QString fileName, bool headerOnly);
    bool readHald(QString fileName, bool headerOnly);
    bool readCdlCc(QString fileName, bool headerOnly);
    bool readCdlCcc(QString fileName, bool headerOnly);
    bool readCdlList(QString fileName, bool headerOnly);
    bool readIcc(QString fileName, bool headerOnly);
    bool readHoudini(QString fileName, bool headerOnly);
    bool readVf(QString fileName, bool headerOnly);
    bool readSpimtx(QString fileName, bool headerOnly);
    bool readVlt(QString fileName, bool headerOnly);

    // Recognisers (each in its format's file): whether head, a file's first
    // bytes, is a file of the format (see LutRecogniser).
    static bool recognisesCube(const QByteArray &head);
    static bool recognises3dl(const QByteArray &head);
    static bool recognisesPandora(const QByteArray &head);
    static bool recognisesLook(const QByteArray &head);
    static bool recognisesDiscreet1D(const QByteArray &head);
    static bool recognisesLut1D(const QByteArray &head);
    static bool recognisesDavLut(const QByteArray &head);
    static bool recognisesCsp(const QByteArray &head);
    static bool recognisesTruelight(const QByteArray &head);
    static bool recognisesSpi1D(const QByteArray &head);
    static bool recognisesSpi3D(const QByteArray &head);
    static bool recognisesCsvLog(const QByteArray &head);
    static bool recognisesZyt1D(const QByteArray &head);
    static bool recognisesZyt3D(const QByteArray &head);
    static bool recognisesClf(const QByteArray &head);
    static bool recognisesCtf(const QByteArray &head);
    static bool recognisesHoudini(const QByteArray &head);
    static bool recognisesVf(const QByteArray &head);
    static bool recognisesSpimtx(const QByteArray &head);
    static bool recognisesVlt(const QByteArray &head);

    // Shared by the line-oriented readers whose cube entries follow each
    // other in file order (first index slowest, third fastest).
    // Malformed: a parser refused a line (see EntryValues); errorString names it.
    enum class EntriesRead { Complete, LastMissing, Truncated, Malformed };
    // Reads size3D^3 entries from in: parse gets each trimmed line and the
    // working values (the caller's, which start as it set them) and returns true when the line yields an entry (values
    // a short line does not give keep the previous entry's); other lines are
    // skipped. Each entry is stored with storeEntry3D against the 3D domain.
    // When the file ends with only the very last entry missing (it stays 0)
    // the result is LastMissing; earlier, Truncated, with errorString set.
    EntriesRead readEntries3D(LutTextInput &in, float working[3],
                              const std::function<bool(const QByteArray &, float *)> &parse);
    // The same for the size1D entries of the 1D table, stored with
    // storeEntry1D against the 1D domain, under the format's own order in
    // the channel order of their lines (see LineOrder1D).
    EntriesRead readEntries1D(LutTextInput &in, float working[3],
                              const std::function<bool(const QByteArray &, float *)> &parse);
    // A parser of entry lines that keeps no state of its own: it gets a
    // trimmed line (valid during the call only, and not followed by a NUL)
    // and returns how many of the entry's values the line gives, first
    // first, in values (0: the line is no entry; below 0: the line is a
    // malformed entry, which ends the read). Those replace the working
    // values; the others keep the previous entry's. It may run on several
    // lines at once, on several threads.
    using EntryValues = std::function<int(const QByteArray &line, float values[3])>;
    // readEntries3D and readEntries1D for such a parser. A large file is
    // parsed on several threads; the entries are stored in file order, so
    // the table is the one a single thread reads.
    EntriesRead readEntryValues3D(LutTextInput &in, float working[3], const EntryValues &values);
    EntriesRead readEntryValues1D(LutTextInput &in, float working[3], const EntryValues &values);
    // The usual entry line: not empty, and "%f %f %f" converts at least one value.
    static bool scanEntryLine(const QByteArray &line, float *working);
    // The same as an EntryValues parser: the number of values converted.
    static int scanEntryValues(const QByteArray &line, float values[3]);
    // Finds the first line that starts with keyword and takes the cube size
    // from the number after it (with or without a blank); earlier lines are
    // ignored. Fails with a message naming the line when the number is
    // missing or out of bounds, or when no such line exists.
    bool readSizeLine(LutTextInput &in, const QString &keyword, bool headerOnly);
    // Reads the layout the itx and davLut formats share: free text, a size
    // line beginning with keyword, then N^3 lines of three numbers ("#"
    // lines skipped, only the last entry may be missing).
    bool readSizedCubeText(const QString &fileName, bool headerOnly, LutFormatId formatId, const QString &keyword);

    // A 1D line is red, green, blue whatever the lattice order of the cube
    // its format holds: while a LineOrder1D lives, under the format's own
    // order the table-order flag follows the data-order flag, so that
    // storeEntry1D keeps each line's channel order (a red-fastest table order
    // would otherwise exchange red and blue).
    class LineOrder1D
    {
    public:
        explicit LineOrder1D(Read_LUTFile *lut) : m_lut(lut), m_tableOrderRGB(lut->tableOrderRGB)
        {
            if (lut->defaultOrder)
                lut->tableOrderRGB = lut->dataOrderRGB;
        }
        ~LineOrder1D() { m_lut->tableOrderRGB = m_tableOrderRGB; }
        LineOrder1D(const LineOrder1D &) = delete;
        LineOrder1D &operator=(const LineOrder1D &) = delete;

    private:
        Read_LUTFile *m_lut;
        bool m_tableOrderRGB;
    };

    // The loop behind the entry readers: takes lines from in until total
    // entries have been stored. at(index) gives a store for the entries
    // from that one on, in file order: a callable store(const float
    // *values, long long &clamped) that stores one and moves to the next,
    // counting the values it clamps. A parallel parser runs over blocks of
    // lines on several threads, and a block of whole entries is stored on
    // several threads too (each thread its part, from the entry the part
    // starts with); otherwise each line is parsed in turn, as a copy that
    // ends in a NUL, and parsing stops at the last entry. Entries stored are
    // counted in stored.
    template <typename At>
    EntriesRead readEntryLines(LutTextInput &in, qint64 total, float working[3], const EntryValues &values,
                               bool parallel, At at, qint64 *stored);

    // The csp reader's path for a 3D table whose axes differ in size.
    bool readRectangularCsp(LutTextInput &in, const int sizes[3]);

    // When defaultOrder is set, replaces both order flags with the pair the
    // catalogue gives for the reader of formatId.
    void applyDefaultOrder(LutFormatId formatId);
    // Records why the read failed and returns false.
    bool fail(const QString &reason);
    // After a read for baking: fails unless every input span rises.
    bool checkInputSpans();
    // Sets all three components of both domain maxima back to 1.0.
    void resetDomainMax3D();
    void resetDomainMax1D();
};

// The store operations run once per entry (16.7 million times for a
// 256-point cube), so they are defined here, where every reader's loop can
// inline them.
namespace LutStore {

// Clamps x to [lo, hi] (a NaN passes unchanged) and divides by the width;
// counts the values the clamp changes. A bake read keeps them. The minimum
// is not subtracted: only a range that starts at 0 maps onto 0..1. A width
// of 1, the usual one, divides nothing (x / 1 is x exactly), which spares
// three divisions an entry.
inline float normalise(float x, float lo, float hi, bool keep, long long &clamped)
{
    const float width = hi - lo;
    if (!keep && (x < lo || x > hi)) {
        ++clamped;
        x = x < lo ? lo : hi;
    }
    return width == 1.0f ? x : x / width;
}

} // namespace LutStore

inline void Read_LUTFile::storeEntry3D(int a, int b, int c, float x0, float x1, float x2,
                                       const float rangeMin[3], const float rangeMax[3], long long &clamped)
{
    if (!table3D.contains(a, b, c))
        return;
    const float y0 = LutStore::normalise(x0, rangeMin[0], rangeMax[0], bakeRead, clamped);
    const float y1 = LutStore::normalise(x1, rangeMin[1], rangeMax[1], bakeRead, clamped);
    const float y2 = LutStore::normalise(x2, rangeMin[2], rangeMax[2], bakeRead, clamped);
    float *entry = tableOrderRGB ? table3D[a][b][c] : table3D[c][b][a];
    entry[0] = dataOrderRGB ? y0 : y2;
    entry[1] = y1;
    entry[2] = dataOrderRGB ? y2 : y0;
}

inline void Read_LUTFile::storeEntry1D(int i, float x0, float x1, float x2,
                                       const float rangeMin[3], const float rangeMax[3], long long &clamped)
{
    if (!table1D.contains(i))
        return;
    const float y0 = LutStore::normalise(x0, rangeMin[0], rangeMax[0], bakeRead, clamped);
    const float y1 = LutStore::normalise(x1, rangeMin[1], rangeMax[1], bakeRead, clamped);
    const float y2 = LutStore::normalise(x2, rangeMin[2], rangeMax[2], bakeRead, clamped);
    float *entry = table1D[i];
    const bool inOrder = dataOrderRGB == tableOrderRGB;
    entry[0] = inOrder ? y0 : y2;
    entry[1] = y1;
    entry[2] = inOrder ? y2 : y0;
}
