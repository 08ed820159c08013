#pragma once

#include <QString>
#include <QStringList>

class Read_LUTFile;
class Write_LUTFile;

// The formats of the catalogue by name. The values are the identifiers of
// the command line (--from 3, --formats) and the rows' order in the
// catalogue, which checks them against each other when it is compiled.
enum class LutFormatId : int {
    Cube,
    TiledImage,
    StripImage,
    ThreeDl,
    Pandora,
    Look,
    Discreet1D,
    Lut1D,
    DavLut,
    Csp,
    Truelight,
    Itx,
    Spi1D,
    Spi3D,
    CsvLog,
    Zyt1D,
    Zyt3D,
    Clf,
    Ctf,
    Hald,
    CdlCc,
    CdlCcc,
    CdlList,
    Icc,
    Houdini,
    Vf,
    Spimtx,
    Vlt,
    Flame,
    Count
};

// A format's reader and writer, as operations of the container and of the
// writer object.
using LutReader = bool (Read_LUTFile::*)(QString fileName, bool headerOnly);
using LutWriter = bool (Write_LUTFile::*)(QString fileName, Read_LUTFile *lut);
// Looks into a file to decide between formats that share an extension.
using LutSniffer = bool (*)(const QString &path);
// Tells a file of the format from its first bytes (at most
// LutFormats::kRecogniseBytes of them), for files whose name says nothing.
using LutRecogniser = bool (*)(const QByteArray &head);
// The size a file of the format holds for a table of size n (a 1D table's
// entries, written as integer codes or as reals, or a cube's points per
// axis): n when the format takes that size, otherwise the one it has that a
// conversion resamples to, or 0 when it has none.
using LutEntryCount = int (*)(int n, bool codes);

// An order of channels on a line and of lattice points in a file, as the
// order flags of the container and the writer hold it ("RGB" sets a flag).
struct LutOrder
{
    bool dataRGB;
    bool tableRGB;
};

// The output scale the command line writes by default: reals (1), codes of
// the depth the entry count implies (codeScaleFor), or codes of a given
// scale (2 or more).
constexpr int kScaleReals = 1;
constexpr int kScaleByLength = 0;

// One row of the format catalogue: everything the dispatch, the window and
// the command line know about a format. Rows are built with the named
// setters below, e.g.
//   LutFormat(LutFormatId::Cube, "cube", ".cube", ".cube").reads(&Read_LUTFile::readCube)
// and listed in formats/Catalogue.cpp.
struct LutFormat
{
    LutFormatId id = LutFormatId::Count;
    const char *name = nullptr;       // command-line name
    const char *label = nullptr;      // display label (UTF-8)
    const char *extensions = nullptr; // lower-case, space-separated, with the dot
    int dimension = 3;                // 3 or 1; 0: either, by what the LUT holds
    LutReader reader = nullptr;       // null: this build cannot read the format
    LutWriter writer = nullptr;       // null: no writer
    // The order pair the reader forces under "Default Order".
    LutOrder readOrder = {true, true};
    // Whether the writer forces a pair under "Default Order", and which.
    bool writerForcesOrder = false;
    LutOrder writeOrder = {true, true};
    // The command line's default output scale (kScaleReals, kScaleByLength
    // or a code scale). A format whose default is reals holds reals only: its
    // reader gives integer codes no meaning, so it takes no scale.
    int defaultScale = kScaleReals;
    LutEntryCount entryCount = nullptr; // formats whose files hold set sizes; null: any size
    LutSniffer sniff = nullptr;         // claims a file among formats sharing an extension
    LutRecogniser recognise = nullptr;  // tells its files by their content; null: cannot
    bool holdsShaper = false;           // a file holds a 1D shaper in front of its 3D table
    bool holdsDomain = false;           // a file holds the input span its table covers
    // The writer writes what stands in front of the table it writes (the
    // shaper, a 1D table in front of the cube, the input spans) into the
    // file, so a conversion that hands it the container read keeps them.
    bool writesShaper = false;

private:
    // Defined before the setters that use it: clang (14) cannot evaluate a
    // call of a member template defined further down the class in a
    // constant expression.
    template <typename Change>
    constexpr LutFormat with(Change change) const
    {
        LutFormat copy = *this;
        change(copy);
        return copy;
    }

public:
    constexpr LutFormat() = default;
    constexpr LutFormat(LutFormatId id_, const char *name_, const char *label_, const char *extensions_)
        : id(id_), name(name_), label(label_), extensions(extensions_)
    {
    }
    constexpr LutFormat dimensions(int d) const { return with([&](LutFormat &f) { f.dimension = d; }); }
    constexpr LutFormat reads(LutReader r, LutOrder order) const
    {
        return with([&](LutFormat &f) { f.reader = r, f.readOrder = order; });
    }
    // A writer that writes the order flags it is given, "Default Order" or not.
    constexpr LutFormat writes(LutWriter w) const { return with([&](LutFormat &f) { f.writer = w; }); }
    // A writer that writes its own order under "Default Order".
    constexpr LutFormat writes(LutWriter w, LutOrder order) const
    {
        return with([&](LutFormat &f) { f.writer = w, f.writerForcesOrder = true, f.writeOrder = order; });
    }
    constexpr LutFormat scale(int s) const { return with([&](LutFormat &f) { f.defaultScale = s; }); }
    constexpr LutFormat sizes(LutEntryCount count) const { return with([&](LutFormat &f) { f.entryCount = count; }); }
    constexpr LutFormat sniffer(LutSniffer s) const { return with([&](LutFormat &f) { f.sniff = s; }); }
    constexpr LutFormat recogniser(LutRecogniser r) const { return with([&](LutFormat &f) { f.recognise = r; }); }
    constexpr LutFormat shaper() const { return with([&](LutFormat &f) { f.holdsShaper = true; }); }
    constexpr LutFormat domain() const { return with([&](LutFormat &f) { f.holdsDomain = true; }); }
    constexpr LutFormat shaperWritten() const { return with([&](LutFormat &f) { f.writesShaper = true; }); }

    bool canRead() const { return reader != nullptr; }
    bool canWrite() const { return writer != nullptr; }
    bool takesScale() const { return defaultScale != kScaleReals; }
    // The size a file holds for a table of size n (see LutEntryCount).
    int entriesFor(int n, bool codes) const { return entryCount ? entryCount(n, codes) : n; }
    // The identifier as the command line prints it.
    int number() const { return int(id); }
    bool is(LutFormatId other) const { return id == other; }
    QStringList extensionList() const;

};

namespace LutFormats {

constexpr int kCount = int(LutFormatId::Count);
// How much of a file a LutRecogniser sees.
constexpr int kRecogniseBytes = 1 << 16;

// Every row, in identifier order (kCount of them).
const LutFormat *all();
// The row of a format.
const LutFormat &row(LutFormatId id);
// The row of identifier id, or null for an identifier outside 0..kCount-1.
const LutFormat *byId(int id);
// The row whose command-line name or decimal identifier is text (case-insensitive).
const LutFormat *byName(const QString &text);

// The format for reading path, chosen by its extension and, where several
// formats share it, by a look into the file; an image whose file name
// contains "hald" (in any case) is a Hald CLUT. Files with any other
// extension are taken as cube files (the cube reader accepts headerless
// tables).
const LutFormat *forInput(const QString &path);
// The format for writing path, chosen by its extension (a Hald CLUT for an
// image whose file name contains "hald"); null for an unknown one.
const LutFormat *forOutput(const QString &path);
// The format of the file at path, told from its content alone (for standard
// input, which has no name): the signature lines of each format, the image
// formats by their magic numbers, and the cube format for anything else.
const LutFormat *forContent(const QString &path);

// The code scale that a 1D table of n entries implies: one below the
// smallest power of two at or above n, and at least 255 (8 bits). So 256
// entries give 255, 1024 give 1023, 4096 give 4095.
int codeScaleFor(int entries);

// The filter string of the window's file dialogs.
QString fileDialogFilter();

} // namespace LutFormats

// Helpers of the recognisers: the first bytes of a file as lines.
namespace LutHead {

// The lines of head, trimmed, empty ones left out (the last, perhaps cut
// short, too when head fills kRecogniseBytes).
QList<QByteArray> lines(const QByteArray &head);
// The first of them that is no "#" comment and, for XML, no declaration or
// comment; empty when there is none.
QByteArray firstContentLine(const QByteArray &head);
// Whether line starts with word, followed by a blank or the line's end.
bool startsWithWord(const QByteArray &line, const char *word);

} // namespace LutHead
