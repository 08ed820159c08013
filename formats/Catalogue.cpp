// The rows of the format catalogue: what each format is called, which files
// it claims, what its reader and writer are and what they can do. Adding a
// format means adding its file in this folder and its row here (and its
// name to LutFormatId).

#include "lut/LutFormats.h"

#include "lut/LutImageCodec.h"
#include "lut/LutTextInput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

namespace {

using Id = LutFormatId;
using R = Read_LUTFile;
using W = Write_LUTFile;

constexpr LutOrder kRgbRgb = {true, true};
constexpr LutOrder kRgbBgr = {true, false};

// A .lut file is a Discreet 1D LUT when one of its lines begins with "LUT:";
// the indexed 1D lut format has no such line. Only the start of the file is
// looked at, which is where the header stands.
bool sniffDiscreet1D(const QString &path)
{
    LutTextInput input;
    if (!input.open(path))
        return false;
    for (int i = 0; i < 4096 && !input.atEnd(); ++i) {
        if (input.readLine().trimmed().startsWith(QLatin1String("LUT:")))
            return true;
    }
    return false;
}

// A tiled LUT image is square with 64, 512 or 4096 pixels a side; other
// LUT images are unwrapped strips.
bool sniffTiledImage(const QString &path)
{
    return LutImageCodec::cubeSizeOf(path, LutFormatId::TiledImage) != 0;
}

// The LUT image sizes a conversion resamples a cube to.
int tiledImageSize(int n, bool)
{
    return LutImageCodec::heldSize(LutFormatId::TiledImage, n);
}

int haldSize(int n, bool)
{
    return LutImageCodec::heldSize(LutFormatId::Hald, n);
}

// A Discreet 1D lut of codes has 256, 1024 or 4096 evenly spaced entries (8,
// 10 or 12 bits in), or 65536 entries indexed by half-float codes; a file of
// reals may have any length.
int discreet1DEntries(int n, bool codes)
{
    if (!codes)
        return n;
    for (int length : {256, 1024, 4096, 65536}) {
        if (n <= length)
            return length;
    }
    return 0;
}

// A 3dl file holds 4 points per axis or more: the line of input codes in
// front of the entries has as many codes as the cube has points, and with
// three codes it reads as an entry (with two, other readers refuse it).
int threeDlSize(int n, bool)
{
    return n < 4 ? 4 : n;
}

// The indexed 1D lut has one line per 8-bit input level.
int lut1DEntries(int, bool)
{
    return 256;
}

// An ICC profile has its signature "acsp" at byte 36.
bool recogniseIcc(const QByteArray &head)
{
    return head.size() >= 40 && head.mid(36, 4) == "acsp";
}

// The name of the first element of an XML text (after a declaration,
// comments and processing instructions), or nothing.
QByteArray firstElement(const QByteArray &head)
{
    int at = 0;
    for (;;) {
        while (at < head.size() && (head[at] == ' ' || head[at] == '\t' || head[at] == '\r' || head[at] == '\n'))
            ++at;
        if (head.mid(at, 3) == "\xef\xbb\xbf") { // a byte order mark
            at += 3;
            continue;
        }
        if (head.mid(at, 4) == "<!--" || head.mid(at, 2) == "<?") {
            const bool comment = head[at + 1] == '!';
            const int end = head.indexOf(comment ? "-->" : "?>", at);
            if (end < 0)
                return QByteArray();
            at = end + (comment ? 3 : 2);
            continue;
        }
        if (at >= head.size() || head[at] != '<')
            return QByteArray();
        int end = ++at;
        while (end < head.size() && head[end] != ' ' && head[end] != '>' && head[end] != '/' && head[end] != '\t'
               && head[end] != '\r' && head[end] != '\n')
            ++end;
        return head.mid(at, end - at);
    }
}

// The three ASC CDL files by their root element.
bool recogniseCdlCc(const QByteArray &head)
{
    return firstElement(head) == "ColorCorrection";
}

bool recogniseCdlCcc(const QByteArray &head)
{
    return firstElement(head) == "ColorCorrectionCollection";
}

bool recogniseCdlList(const QByteArray &head)
{
    return firstElement(head) == "ColorDecisionList";
}

// A CLUT has at most 255 points per axis.
int iccClutPoints(int n, bool)
{
    return n > 255 ? 255 : n;
}

// A vlt file holds a 17-point cube.
int vltSize(int, bool)
{
    return 17;
}

constexpr LutFormat kRows[] = {
    // A cube file holds a 3D table (with a 1D shaper in front of it) or a
    // 1D table alone.
    LutFormat(Id::Cube, "cube", ".cube", ".cube")
        .dimensions(0)
        .reads(&R::readCube, kRgbBgr)
        .recogniser(&R::recognisesCube)
        .writes(&W::writeCube)
        .shaper()
        .domain(),
    // LUT images hold 8- or 16-bit codes; they are written with 16 unless
    // told otherwise.
    LutFormat(Id::TiledImage, "tiled-image", "texture-base 64X64 512X512...", ".png .bmp .tif .tiff")
        .reads(&R::readLutImageTiled, kRgbBgr)
        .writes(&W::writeLutImageTiled, kRgbBgr)
        .scale(65535)
        .sizes(tiledImageSize)
        .sniffer(sniffTiledImage),
    LutFormat(Id::StripImage, "strip-image", "identity Unwrapped Cube 1024X16", ".png .bmp .tif .tiff")
        .reads(&R::readLutImageStrip, kRgbBgr)
        .writes(&W::writeLutImageStrip, kRgbBgr)
        .scale(65535),
    // The two layouts of .3dl files, Lustre's (this row, the one a .3dl name
    // chooses: its mesh line states the output depth) and Flame's (the last
    // row), both read by one reader; 12-bit codes unless told otherwise.
    LutFormat(Id::ThreeDl, "3dl", ".3dl", ".3dl")
        .reads(&R::read3dl, kRgbRgb)
        .recogniser(&R::recognises3dl)
        .writes(&W::write3dl, kRgbRgb)
        .scale(4095)
        .sizes(threeDlSize),
    LutFormat(Id::Pandora, "pandora", ".mga .m3d pandora", ".mga .m3d")
        .reads(&R::readPandora, kRgbRgb)
        .recogniser(&R::recognisesPandora)
        .writes(&W::writePandora, kRgbRgb)
        .scale(4095),
    LutFormat(Id::Look, "look", ".look", ".look")
        .reads(&R::readLook, kRgbBgr)
        .recogniser(&R::recognisesLook)
        .writes(&W::writeLook, kRgbBgr),
    LutFormat(Id::Discreet1D, "discreet1d", ".lut 1D Discreet", ".lut")
        .dimensions(1)
        .reads(&R::readDiscreet1D, kRgbRgb)
        .recogniser(&R::recognisesDiscreet1D)
        .writes(&W::writeDiscreet1D, kRgbRgb)
        .scale(kScaleByLength)
        .sizes(discreet1DEntries)
        .sniffer(sniffDiscreet1D),
    LutFormat(Id::Lut1D, "lut1d", ".lut 1D", ".lut")
        .dimensions(1)
        .reads(&R::readLut1D, kRgbRgb)
        .recogniser(&R::recognisesLut1D)
        .writes(&W::writeLut1D, kRgbRgb)
        .scale(255)
        .sizes(lut1DEntries),
    LutFormat(Id::DavLut, "davlut", ".davLut 3DLut", ".davlut")
        .reads(&R::readDavLut, kRgbRgb)
        .recogniser(&R::recognisesDavLut)
        .writes(&W::writeDavLut, kRgbRgb),
    // A csp file holds a 3D or a 1D table, behind its pre-LUT.
    LutFormat(Id::Csp, "csp", ".csp", ".csp")
        .dimensions(0)
        .reads(&R::readCsp, kRgbBgr)
        .recogniser(&R::recognisesCsp)
        .writes(&W::writeCsp, kRgbBgr)
        .shaper()
        .domain()
        .shaperWritten(),
    LutFormat(Id::Truelight, "truelight", ".cub Truelight Cube", ".cub")
        .reads(&R::readTruelightCube, kRgbBgr)
        .recogniser(&R::recognisesTruelight)
        .writes(&W::writeTruelightCube, kRgbBgr)
        .shaper()
        .shaperWritten(),
    LutFormat(Id::Itx, "itx", ".itx", ".itx").reads(&R::readItx, kRgbBgr).writes(&W::writeItx, kRgbBgr),
    // spi1d columns are red, green, blue, as its writer puts them: the reader
    // keeps them in file order.
    LutFormat(Id::Spi1D, "spi1d", ".spi1d", ".spi1d")
        .dimensions(1)
        .reads(&R::readSpi1D, kRgbRgb)
        .recogniser(&R::recognisesSpi1D)
        .writes(&W::writeSpi1D, kRgbRgb)
        .domain(),
    LutFormat(Id::Spi3D, "spi3d", ".spi3d", ".spi3d").reads(&R::readSpi3D, kRgbRgb).recogniser(&R::recognisesSpi3D).writes(&W::writeSpi3D, kRgbRgb),
    LutFormat(Id::CsvLog, "csvlog", ".csv log", ".csv")
        .dimensions(1)
        .reads(&R::readCsvLog, kRgbRgb)
        .recogniser(&R::recognisesCsvLog)
        .writes(&W::writeCsvLog, kRgbRgb)
        .scale(kScaleByLength),
    LutFormat(Id::Zyt1D, "zyt1d", ".zyt1d Ostavel专用格式1D", ".zyt1d")
        .dimensions(1)
        .reads(&R::readZyt1D, kRgbRgb)
        .recogniser(&R::recognisesZyt1D)
        .writes(&W::writeZyt1D, kRgbRgb),
    LutFormat(Id::Zyt3D, "zyt3d", ".zyt3d Ostavel专用格式3D", ".zyt3d")
        .reads(&R::readZyt3D, kRgbRgb)
        .recogniser(&R::recognisesZyt3D)
        .writes(&W::writeZyt3D, kRgbRgb),
    // The XML process lists hold a 3D or a 1D table, or a transform of their
    // own; the window's dialogs do not offer them.
    LutFormat(Id::Clf, "clf", ".clf Common LUT Format", ".clf")
        .dimensions(0)
        .reads(&R::readClf, kRgbRgb)
        .recogniser(&R::recognisesClf)
        .writes(&W::writeClf, kRgbRgb)
        .shaper()
        .domain(),
    LutFormat(Id::Ctf, "ctf", ".ctf Color Transform Format", ".ctf")
        .dimensions(0)
        .reads(&R::readCtf, kRgbRgb)
        .recogniser(&R::recognisesCtf)
        .writes(&W::writeCtf, kRgbRgb)
        .shaper()
        .domain(),
    // Chosen by name among the LUT images (see LutFormats::forInput). The
    // first extension names what --out-dir writes, so that it reads back as
    // a Hald CLUT.
    LutFormat(Id::Hald, "hald", "Hald CLUT", ".hald.png .png .tif .tiff .bmp")
        .reads(&R::readHald, kRgbBgr)
        .writes(&W::writeHald, kRgbBgr)
        .scale(65535)
        .sizes(haldSize),
    // ASC CDL grades (formats/CdlFormat.cpp): a transform of their own that
    // a conversion bakes; only a grade writes a .cc file.
    LutFormat(Id::CdlCc, "cc", ".cc ASC CDL ColorCorrection", ".cc")
        .dimensions(0)
        .reads(&R::readCdlCc, kRgbRgb)
        .writes(&W::writeCdlCc, kRgbRgb)
        .recogniser(recogniseCdlCc),
    LutFormat(Id::CdlCcc, "ccc", ".ccc ASC CDL ColorCorrectionCollection", ".ccc")
        .dimensions(0)
        .reads(&R::readCdlCcc, kRgbRgb)
        .recogniser(recogniseCdlCcc),
    LutFormat(Id::CdlList, "cdl", ".cdl ASC CDL ColorDecisionList", ".cdl")
        .dimensions(0)
        .reads(&R::readCdlList, kRgbRgb)
        .recogniser(recogniseCdlList),
    // RGB profiles through Little CMS (formats/IccFormat.cpp): device RGB to
    // PCS XYZ, written as a display profile's CLUT.
    LutFormat(Id::Icc, "icc", "ICC profile", ".icc .icm")
        .reads(&R::readIcc, kRgbRgb)
        .writes(&W::writeIcc, kRgbRgb)
        .sizes(iccClutPoints)
        .recogniser(recogniseIcc),
    // A .lut file of a 1D, 3D or 3D+1D table under a keyword header; told
    // from a Discreet lut by its content (LutFormats::forInput).
    LutFormat(Id::Houdini, "houdini", ".lut Houdini", ".lut")
        .dimensions(0)
        .reads(&R::readHoudini, kRgbBgr)
        .recogniser(&R::recognisesHoudini)
        .writes(&W::writeHoudini, kRgbBgr)
        .shaper()
        .domain(),
    LutFormat(Id::Vf, "vf", ".vf Nuke", ".vf")
        .reads(&R::readVf, kRgbRgb)
        .recogniser(&R::recognisesVf)
        .writes(&W::writeVf, kRgbRgb),
    // A matrix, not a table: read as a transform, written only for one.
    LutFormat(Id::Spimtx, "spimtx", ".spimtx matrix", ".spimtx")
        .reads(&R::readSpimtx, kRgbRgb)
        .recogniser(&R::recognisesSpimtx)
        .writes(&W::writeSpimtx),
    // 17-point cubes of 12-bit codes.
    LutFormat(Id::Vlt, "vlt", ".vlt Varicam", ".vlt")
        .reads(&R::readVlt, kRgbBgr)
        .recogniser(&R::recognisesVlt)
        .writes(&W::writeVlt, kRgbBgr)
        .scale(4095)
        .sizes(vltSize),
    // Flame's layout of a .3dl file: no mesh line, so readers take the
    // output depth from the largest code. Chosen by name (--to flame); a
    // .3dl name is the 3dl row's.
    LutFormat(Id::Flame, "flame", ".3dl Flame", ".3dl")
        .reads(&R::read3dl, kRgbRgb)
        .writes(&W::writeFlame, kRgbRgb)
        .scale(4095)
        .sizes(threeDlSize),
};

constexpr bool rowsInIdentifierOrder()
{
    int i = 0;
    for (const LutFormat &format : kRows) {
        if (int(format.id) != i++ || !format.name || !format.label || !format.extensions)
            return false;
    }
    return i == LutFormats::kCount;
}
static_assert(rowsInIdentifierOrder(), "one catalogue row per LutFormatId, in its order");

} // namespace

const LutFormat *LutFormats::all()
{
    return kRows;
}
