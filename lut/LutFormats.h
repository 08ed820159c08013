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

// One row of the format catalogue: everything the dispatch, the window and
// the command line know about a format. Adding a format means adding its
// source file under formats/ and filling in its row here.
struct LutFormat
{
    int id;
    const char *name;        // command-line name
    const char *label;       // display label (UTF-8)
    int dimension;           // 3 or 1
    bool readDataRGB;        // order pair the reader forces under "Default Order"
    bool readTableRGB;
    bool writerForcesOrder;  // whether the writer forces a pair under "Default Order"
    bool writeDataRGB;
    bool writeTableRGB;
    const char *extensions;  // lower-case, space-separated, with the dot
    LutSniffer sniff;        // claims a file among formats sharing an extension
    LutReader reader;        // null: this build cannot read the format
    LutWriter writer;        // null: no writer

    bool canRead() const { return reader != nullptr; }
    bool canWrite() const { return writer != nullptr; }
    QStringList extensionList() const;
};

namespace LutFormats {

constexpr int kCount = 17;

// The row of identifier id, or null for an identifier outside 0..16.
const LutFormat *byId(int id);
// The row whose command-line name or decimal identifier is text (case-insensitive).
const LutFormat *byName(const QString &text);
const LutFormat *all();

// The format for reading path, chosen by its extension and, where several
// formats share it, by a look into the file. Files with any other extension
// are taken as cube files (the cube reader accepts headerless tables).
const LutFormat *forInput(const QString &path);
// The format for writing path, chosen by its extension; null for an unknown one.
const LutFormat *forOutput(const QString &path);

// The filter string of the window's file dialogs.
QString fileDialogFilter();

} // namespace LutFormats
