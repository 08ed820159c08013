#pragma once

#include <QString>
#include <QStringList>

class Read_LUTFile;
class Write_LUTFile;

// A format's reader and writer, as operations of the container and of the
// writer object.
using LutReader = bool (Read_LUTFile::*)(QString fileName, bool headerOnly);
using LutWriter = bool (Write_LUTFile::*)(QString fileName, Read_LUTFile *lut);
// Looks into a file to decide between formats that share an extension.
using LutSniffer = bool (*)(const QString &path);
// The size a file of the format holds for a table of size n (a 1D table's
// entries, written as integer codes or as reals, or a cube's points per
// axis): n when the format takes that size, otherwise the one it has that a
// conversion resamples to, or 0 when it has none.
using LutEntryCount = int (*)(int n, bool codes);

// One row of the format catalogue: everything the dispatch, the window and
// the command line know about a format. Adding a format means adding its
// source file under formats/ and filling in its row here.
struct LutFormat
{
    int id;
    const char *name;        // command-line name
    const char *label;       // display label (UTF-8)
    int dimension;           // 3 or 1; 0: either, by what the LUT holds
    bool readDataRGB;        // order pair the reader forces under "Default Order"
    bool readTableRGB;
    bool writerForcesOrder;  // whether the writer forces a pair under "Default Order"
    bool writeDataRGB;
    bool writeTableRGB;
    const char *extensions;  // lower-case, space-separated, with the dot
    LutSniffer sniff;        // claims a file among formats sharing an extension
    LutReader reader;        // null: this build cannot read the format
    LutWriter writer;        // null: no writer
    // The output scale the command line writes by default: 1 for reals, 0
    // for codes of the depth the entry count implies (codeScaleFor), 2 or
    // more for codes of that scale. A format whose default is 1 holds reals
    // only: its reader gives integer codes no meaning, so it takes no scale.
    int defaultScale;
    LutEntryCount entryCount; // formats whose files hold set sizes; null: any size

    bool canRead() const { return reader != nullptr; }
    bool canWrite() const { return writer != nullptr; }
    bool takesScale() const { return defaultScale != 1; }
    // The size a file holds for a table of size n (see LutEntryCount).
    int entriesFor(int n, bool codes) const { return entryCount ? entryCount(n, codes) : n; }
    QStringList extensionList() const;
};

namespace LutFormats {

constexpr int kCount = 20;

// The row of identifier id, or null for an identifier outside 0..kCount-1.
const LutFormat *byId(int id);
// The row whose command-line name or decimal identifier is text (case-insensitive).
const LutFormat *byName(const QString &text);
const LutFormat *all();

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
