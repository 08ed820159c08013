#include "Seeds.h"

#include "FuzzTarget.h"
#include "image/ImageRows.h"
#include "image/LutDpx.h"

#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QtEndian>

#include <Imath/half.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfStdIO.h>
#include <ImfTileDescription.h>
#include <ImfTiledOutputFile.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace {

constexpr LutFormatId kTiledImage = LutFormatId::TiledImage, kStripImage = LutFormatId::StripImage,
                      kHald = LutFormatId::Hald, kThreeDl = LutFormatId::ThreeDl, kLook = LutFormatId::Look,
                      kLut1D = LutFormatId::Lut1D, kCsp = LutFormatId::Csp, kTruelight = LutFormatId::Truelight;

// The data model every seed is made from: a gently curved cube (channel k
// of lattice point (r, g, b) on n points) and a 1D curve.
float cubeValue(int r, int g, int b, int n, int k)
{
    const float x = n > 1 ? float(k == 0 ? r : k == 1 ? g : b) / float(n - 1) : 1.0f;
    return k == 0 ? std::pow(x, 1.1f) : k == 1 ? 0.5f * x * (1.0f + x) : x;
}

float curveValue(int i, int n, int k)
{
    const float x = n > 1 ? float(i) / float(n - 1) : 1.0f;
    return std::pow(x, 1.0f / (2.2f + 0.1f * float(k)));
}

// The three kinds of model table: a cube, a curve per channel, and one
// curve for all three (single-channel formats refuse the others).
enum class Model { Cube, Curves, Grey };

// Fills lut with the model table of n points.
void fillModel(Read_LUTFile &lut, Model model, int n)
{
    if (model == Model::Cube) {
        lut.setSize3D(n, false);
        for (int r = 0; r < n; ++r)
            for (int g = 0; g < n; ++g)
                for (int b = 0; b < n; ++b)
                    for (int k = 0; k < 3; ++k)
                        lut.table3D[r][g][b][k] = cubeValue(r, g, b, n, k);
    } else {
        lut.setSize1D(n, false);
        for (int i = 0; i < n; ++i)
            for (int k = 0; k < 3; ++k)
                lut.table1D[i][k] = curveValue(i, n, model == Model::Grey ? 0 : k);
    }
}

QByteArray number(double v)
{
    return QByteArray::number(v, 'g', 7);
}

class SeedWriter
{
public:
    explicit SeedWriter(const QString &dir) : m_dir(dir) {}

    // Writes text as dir/<format>/<name>; counts it.
    void add(LutFormatId formatId, const QString &name, const QByteArray &text)
    {
        const QString folder = folderOf(formatId);
        QFile file(folder + QLatin1Char('/') + name);
        if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            m_failed = true;
        ++m_count;
    }

    // Writes lut with the format's own writer into dir/<format>/<name>,
    // unless the writer refuses that table or scale; says whether it wrote.
    bool addWritten(LutFormatId formatId, const QString &name, Read_LUTFile *lut, bool defaultOrder, int scale)
    {
        const QString folder = folderOf(formatId);
        LutFileOptions options;
        options.path = folder + QLatin1Char('/') + name;
        options.format = formatId;
        options.defaultOrder = defaultOrder;
        options.dataOrderRGB = options.tableOrderRGB = defaultOrder;
        options.outputScale = scale;
        options.size3D = lut->size3D;
        Write_LUTFile writer;
        if (!QDir().mkpath(folder)) {
            m_failed = true;
            return false;
        }
        if (!writer.writeLut(options, lut))
            return false;
        ++m_count;
        return true;
    }

    // Writes bytes as dir/picture/<name>, a seed of the picture reader.
    void addPicture(const QString &name, const QByteArray &bytes)
    {
        const QString folder = m_dir + QLatin1Char('/') + QLatin1String(FuzzTarget::kPictureReader);
        QFile file(folder + QLatin1Char('/') + name);
        if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            m_failed = true;
        ++m_count;
    }

    int result() const { return m_failed ? -1 : m_count; }

private:
    QString folderOf(LutFormatId formatId) const
    {
        return m_dir + QLatin1Char('/') + QLatin1String(LutFormats::row(formatId).name);
    }

    QString m_dir;
    int m_count = 0;
    bool m_failed = false;
};

// Every writable format writes the model at a few sizes, in its own order
// and in the opposite one, as reals and as 12-bit codes (LUT images: 16-bit
// and 8-bit codes). The sizes keep each file within the fuzzer's 64 KiB
// inputs.
void addWrittenSeeds(SeedWriter &seeds)
{
    static const int cubeSizes[] = {2, 3, 5, 9}, curveSizes[] = {2, 16, 256, 1024};
    for (int id = 0; id < LutFormats::kCount; ++id) {
        const LutFormat *format = LutFormats::byId(id);
        // A format of either dimension (0) gets both kinds of table.
        for (const Model model : {Model::Cube, Model::Curves, Model::Grey}) {
            const bool is3D = model == Model::Cube;
            if (!format->canWrite() || format->dimension == (is3D ? 1 : 3))
                continue;
            for (const int n : is3D ? cubeSizes : curveSizes) {
                Read_LUTFile lut;
                fillModel(lut, model, n);
                // The indexed 1D lut reader always takes 256 entries.
                const bool readable = !format->is(kLut1D) || n == 256;
                const char *kind = is3D ? "cube" : model == Model::Grey ? "grey" : "curves";
                const QString stem = QStringLiteral("%1-%2%3-").arg(readable ? "valid" : "short", kind).arg(n);
                const QString extension = format->extensionList().value(0);
                const bool image = format->defaultScale == 65535;
                // Formats of codes only (3dl) write their own scale where reals are refused.
                const int own = image ? 65535 : 1, codes = format->defaultScale >= 2 ? format->defaultScale : 4095;
                if (!seeds.addWritten(format->id, stem + QStringLiteral("own") + extension, &lut, true, own) && format->takesScale())
                    seeds.addWritten(format->id, stem + QStringLiteral("own") + extension, &lut, true, codes);
                if (n == 5 || n == 16 || (image && n == 9)) {
                    if (!seeds.addWritten(format->id, stem + QStringLiteral("bgr") + extension, &lut, false, own) && format->takesScale())
                        seeds.addWritten(format->id, stem + QStringLiteral("bgr") + extension, &lut, false, codes);
                    seeds.addWritten(format->id, stem + QStringLiteral("codes") + extension, &lut, true, image ? 255 : 4095);
                }
            }
        }
    }
}

// Entry lines of the model cube: red, green, blue per line, with the given
// loop order (blue fastest, or red fastest) and scale.
QByteArray cubeLines(int n, bool blueFastest, double scale, bool integers)
{
    QByteArray text;
    for (int i = 0; i < n * n * n; ++i) {
        const int slow = i / (n * n), mid = i / n % n, fast = i % n;
        const int r = blueFastest ? slow : fast, b = blueFastest ? fast : slow;
        for (int k = 0; k < 3; ++k) {
            const double v = cubeValue(r, mid, b, n, k) * scale;
            text += (integers ? QByteArray::number(qRound(v)) : number(v)) + (k < 2 ? " " : "\n");
        }
    }
    return text;
}

// The read-only text formats, built from the model as their files lay it out.
void addTextSeeds(SeedWriter &seeds)
{
    // 3dl: a Mesh line (input bits give 2^i + 1 points) or a shaper line
    // alone, then integer codes with blue fastest.
    for (const int bits : {1, 2, 3}) {
        const int n = (1 << bits) + 1;
        QByteArray shaper;
        for (int i = 0; i < n; ++i)
            shaper += QByteArray::number(i * 1023 / (n - 1)) + (i + 1 < n ? " " : "\n");
        seeds.add(kThreeDl, QStringLiteral("valid-mesh-%1.3dl").arg(n),
                  "Mesh " + QByteArray::number(bits) + " 10\n" + shaper + cubeLines(n, true, 1023, true));
        // A shaper line of three fields would read as an entry.
        if (n > 3)
            seeds.add(kThreeDl, QStringLiteral("valid-shaper-%1.3dl").arg(n),
                      "# 12-bit\n" + shaper + cubeLines(n, true, 4095, true));
    }

    // look: an XML document whose LUT and LUT1D hold little-endian float
    // bytes as hexadecimal text, the first table index slowest.
    for (const int n : {2, 5, 9}) {
        QByteArray cube, curve;
        for (int i = 0; i < n * n * n; ++i)
            for (int k = 0; k < 3; ++k) {
                char bytes[4];
                qToLittleEndian(cubeValue(i / (n * n), i / n % n, i % n, n, k), bytes);
                cube += QByteArray(bytes, 4).toHex() + (i % 4 == 3 && k == 2 ? "\n" : "");
            }
        for (int i = 0; i < 4 * n; ++i)
            for (int k = 0; k < 3; ++k) {
                char bytes[4];
                qToLittleEndian(curveValue(i, 4 * n, k), bytes);
                curve += QByteArray(bytes, 4).toHex();
            }
        seeds.add(kLook, QStringLiteral("valid-%1.look").arg(n),
                  "<?xml version=\"1.0\"?>\n<look>\n<shaders><ASC><slope>1 1 1</slope></ASC></shaders>\n<LUT><size>\""
                      + QByteArray::number(n) + "\"</size><data>\"" + cube + "\"</data></LUT>\n<LUT1D><size>"
                      + QByteArray::number(4 * n) + "</size><data>" + curve + "</data></LUT1D>\n</look>\n");
    }

    // csp: tag and type lines, metadata, a three-point pre-LUT per channel,
    // the size line and entries with red fastest.
    for (const int n : {2, 5, 9}) {
        const QByteArray pre = "3\n0.0 0.5 1.0\n0.0 0.5 1.0\n";
        const QByteArray size = QByteArray::number(n);
        seeds.add(kCsp, QStringLiteral("valid-%1.csp").arg(n),
                  "CSPLUTV100\n3D\n\nBEGIN METADATA\nmodel cube\nEND METADATA\n\n" + pre + pre + pre + "\n" + size + " "
                      + size + " " + size + "\n" + cubeLines(n, false, 1, false));
    }
    seeds.add(kCsp, QStringLiteral("crafted-1d.csp"),
              "CSPLUTV100\n1D\n\n2\n0 1\n0 1\n2\n0 1\n0 1\n2\n0 1\n0 1\n\n2\n0 0 0\n1 1 1\n");

    // Truelight: "#" keyword lines, an input LUT on a 0..width scale and the
    // cube with red fastest.
    for (const int n : {2, 5, 9}) {
        const QByteArray w = QByteArray::number(n);
        QByteArray input;
        for (int i = 0; i < 16; ++i)
            input += number(i * double(n - 1) / 15) + ' ' + number(i * double(n - 1) / 15) + ' '
                + number(i * double(n - 1) / 15) + '\n';
        seeds.add(kTruelight, QStringLiteral("valid-%1.cub").arg(n),
                  "# Truelight Cube v2.0\n# iDims 3\n# oDims 3\n# width " + w + ' ' + w + ' ' + w
                      + "\n# lutLength 16\n\n# InputLUT\n" + input + "\n# Cube\n" + cubeLines(n, false, 1, false)
                      + "# End\n");
    }
}

// Matrix files (no table for the writers to write them from), and Houdini
// files of the layouts the writer does not write (3D+1D, one curve per block).
void addTransformSeeds(SeedWriter &seeds)
{
    seeds.add(LutFormatId::Spimtx, QStringLiteral("valid-mix.spimtx"), "1.1 -0.1 0 655.35\n0.05 0.9 0.05 0\n0 0.2 0.8 -1000\n");
    seeds.add(LutFormatId::Spimtx, QStringLiteral("valid-one-line.spimtx"), "1 0 0 0 0 1 0 0 0 0 1 0\n");
    QByteArray pre = "Version\t\t3\nFormat\t\tany\nType\t\t3D+1D\nFrom\t\t0.0 2.0\nTo\t\t0 1\nBlack\t\t0\nWhite\t\t1\n"
                     "Length\t\t3 4\nLUT:\nPre {\n\t0\n\t0.5\n\t0.75\n\t1\n}\n3D {\n" + cubeLines(3, false, 1, false) + "}\n";
    seeds.add(LutFormatId::Houdini, QStringLiteral("valid-pre.lut"), pre);
    // A vlt holds 17 points a side: with 12-bit codes it is past 64 KiB, so
    // the valid seed takes codes up to 99 and the cut one 12-bit codes.
    const QByteArray vltHead = "# panasonic vlt file version 1.0\n# source vlt file \"seed\"\nLUT_3D_SIZE 17\n\n";
    seeds.add(LutFormatId::Vlt, QStringLiteral("valid-small-codes.vlt"), vltHead + cubeLines(17, false, 99, true));
    seeds.add(LutFormatId::Vlt, QStringLiteral("short-codes.vlt"), (vltHead + cubeLines(17, false, 4095, true)).left(60000));
}

// Process lists whose nodes no table holds (they are evaluated node by
// node), for the readers of both list formats.
void addProcessListSeeds(SeedWriter &seeds)
{
    const QByteArray f32 = "inBitDepth=\"32f\" outBitDepth=\"32f\"";
    const QByteArray sop = "<SOPNode><Slope>1.2 0.9 1.1</Slope><Offset>-0.05 0.02 0.1</Offset>"
                           "<Power>1.3 0.8 1.0</Power></SOPNode><SatNode><Saturation>1.4</Saturation></SatNode>";
    // Every node kind of a CLF 3 list, with metadata, changing bit depths
    // and a raw-half table.
    const QByteArray nodes =
        "<Id>urn:uuid:0d5e4c9a-3b1f-4a2e-9c7d-6f8e2a1b3c4d</Id><Description>seed</Description>"
        "<InputDescriptor>in</InputDescriptor><Info><Any a=\"1\"/></Info>\n"
        "<Range inBitDepth=\"10i\" outBitDepth=\"32f\"><minInValue>64</minInValue><maxInValue>940</maxInValue>"
        "<minOutValue>0</minOutValue><maxOutValue>1</maxOutValue></Range>\n"
        "<Matrix " + f32 + "><Description>m</Description><Array dim=\"3 4\">1.1 0.1 0 -0.05 0 1 0 0 0.1 0 0.9 0.02"
        "</Array></Matrix>\n<ASC_CDL inBitDepth=\"32f\" outBitDepth=\"10i\" style=\"Fwd\">" + sop + "</ASC_CDL>\n"
        "<Log inBitDepth=\"10i\" outBitDepth=\"32f\" style=\"cameraLinToLog\"><LogParams base=\"2\" logSideSlope=\"0.2\" "
        "logSideOffset=\"0.6\" linSideSlope=\"1.1\" linSideOffset=\"0.01\" linSideBreak=\"0.05\"/></Log>\n"
        "<Exponent " + f32 + " style=\"monCurveRev\"><ExponentParams exponent=\"2.2\" offset=\"0.099\"/></Exponent>\n"
        "<Exponent " + f32 + " style=\"basicPassThruFwd\"><ExponentParams exponent=\"1.2\"/></Exponent>\n"
        "<LUT1D inBitDepth=\"32f\" outBitDepth=\"12i\" rawHalfs=\"true\"><Array dim=\"3 1\">0 26624 27647</Array></LUT1D>\n"
        "<LUT3D inBitDepth=\"12i\" outBitDepth=\"32f\" interpolation=\"trilinear\"><Array dim=\"2 2 2 3\">0 0 0 0 0 1 "
        "0 1 0 0 1 1 1 0 0 1 0 1 1 1 0 0.9 0.9 0.9</Array></LUT3D>\n";
    // A CLF 2 list: its IndexMap.
    const QByteArray indexed =
        "<LUT1D " + f32 + "><IndexMap dim=\"2\">-0.25@0 1.25@2</IndexMap><Array dim=\"3 3\">0 0.1 0 0.6 0.5 0.4 1 0.9 1"
        "</Array></LUT1D>\n<Range " + f32 + " style=\"noClamp\"><minInValue>0</minInValue><maxInValue>1</maxInValue>"
        "<minOutValue>-0.1</minOutValue><maxOutValue>1.1</maxOutValue></Range>\n";
    // The transform format before 2.0: Gamma, the plain Log styles.
    const QByteArray older =
        "<Gamma " + f32 + " style=\"moncurveFwd\"><GammaParams gamma=\"2.4\" offset=\"0.055\"/></Gamma>\n"
        "<Log " + f32 + " style=\"antiLog10\"/>\n<ASC_CDL " + f32 + " style=\"v1.2_Rev\">" + sop + "</ASC_CDL>\n";
    // The transform format's 2.0 nodes: inverse tables, ExposureContrast,
    // FixedFunction, GradingPrimary (every control), GradingRGBCurve,
    // GradingTone and a Reference that names a list beside the input (there
    // is none); a Reference to the fuzzer's input itself is the loop.
    const QByteArray ctf2 =
        "<InverseLUT1D " + f32 + " hueAdjust=\"dw3\"><Array dim=\"4 3\">0 0.05 0 0.2 0.3 0.4 0.6 0.6 0.5 1 0.9 1</Array>"
        "</InverseLUT1D>\n<InverseLUT3D " + f32 + "><Array dim=\"2 2 2 3\">0.05 0 0 0 0 1 0 1 0 0 1 1 1 0 0 1 0 1 1 1 0 "
        "0.9 0.9 0.9</Array></InverseLUT3D>\n<ExposureContrast " + f32 + " style=\"log\"><ECParams exposure=\"0.5\" "
        "contrast=\"1.2\" pivot=\"0.18\" logExposureStep=\"0.09\" logMidGray=\"0.4\"/><DynamicParameter "
        "param=\"EXPOSURE\"/></ExposureContrast>\n<FixedFunction " + f32 + " style=\"GamutComp13Fwd\" params=\"1.15 1.2 "
        "1.4 0.8 0.85 0.9 1.2\"/>\n<ACES " + f32 + " style=\"Surround\"><ACESParams gamma=\"0.9\"/></ACES>\n"
        "<GradingPrimary " + f32 + " style=\"videoRev\"><Brightness rgb=\"0.1 -2 3\" master=\"5\"/><Contrast rgb=\"1.1 "
        "0.9 1.2\" master=\"1.05\"/><Gamma rgb=\"1.1 0.9 1.3\" master=\"0.95\"/><Offset rgb=\"0.01 -0.02 0.03\" "
        "master=\"0.02\"/><Exposure rgb=\"0.2 -0.3 0.1\" master=\"0.5\"/><Lift rgb=\"0.01 0.02 -0.03\" master=\"0.01\"/>"
        "<Gain rgb=\"1.1 0.9 1.2\" master=\"1.05\"/><Saturation master=\"1.2\"/><Pivot contrast=\"0.3\" black=\"0.05\" "
        "white=\"0.9\"/><Clamp black=\"-0.05\" white=\"1.1\"/></GradingPrimary>\n"
        "<GradingRGBCurve " + f32 + " style=\"linearRev\"><Red><ControlPoints>-7 -7 -3 -2 0 0.5 3 2.5 7 7</ControlPoints>"
        "<Slopes>1 0.5 0.5 0.5 1</Slopes></Red><Master><ControlPoints>0 0 0.3 0.9 0.7 0.1 1 1</ControlPoints></Master>"
        "</GradingRGBCurve>\n<GradingTone " + f32 + " style=\"linear\"><Blacks rgb=\"1.1 0.9 1.2\" master=\"1.05\" "
        "start=\"0\" width=\"4\"/><Shadows rgb=\"0.8 1.3 1.1\" master=\"0.9\" start=\"2\" pivot=\"-7\"/><Midtones "
        "rgb=\"1.2 0.85 1.1\" master=\"1.1\" center=\"0\" width=\"8\"/><Highlights rgb=\"1.3 0.8 1.1\" master=\"0.9\" "
        "start=\"-2\" pivot=\"9\"/><Whites rgb=\"0.9 1.2 1.05\" master=\"1.1\" start=\"0\" width=\"8\"/><SContrast "
        "master=\"0.7\"/></GradingTone>\n<Reference " + f32 + " basePath=\"sub\" path=\"graded.ctf\"/>\n";
    auto list = [](const char *version, const QByteArray &body) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ProcessList id=\"seed\" " + QByteArray(version) + ">\n" + body
               + "</ProcessList>\n";
    };
    // Shapes the reader refuses, each for the rule it breaks, so that the
    // fuzzer starts next to them.
    const struct
    {
        const char *name;
        const char *version;
        QByteArray body;
    } refused[] = {
        {"offset-of-basic", "compCLFversion=\"3\"",
         "<Exponent " + f32 + " style=\"basicFwd\"><ExponentParams exponent=\"2\" offset=\"0.1\"/></Exponent>\n"},
        {"break-of-lintolog", "compCLFversion=\"3\"",
         "<Log " + f32 + " style=\"linToLog\"><LogParams base=\"10\" linSideBreak=\"0.1\"/></Log>\n"},
        {"log-in-clf2", "compCLFversion=\"2.0\"", "<Log " + f32 + " style=\"log10\"/>\n"},
        {"indexmap-in-clf3", "compCLFversion=\"3\"", indexed},
        {"halfdomain-false", "compCLFversion=\"3\"",
         "<LUT1D " + f32 + " halfDomain=\"false\"><Array dim=\"2 1\">0 1</Array></LUT1D>\n"},
        {"two-versions", "compCLFversion=\"3\" version=\"1.7\"", "<Log " + f32 + " style=\"log2\"/>\n"},
    };
    for (const char *name : {"clf", "ctf"}) {
        const LutFormat *format = LutFormats::byName(QLatin1String(name));
        if (!format || !format->canRead())
            continue;
        const QString extension = format->extensionList().value(0);
        seeds.add(format->id, QStringLiteral("valid-nodes") + extension, list("compCLFversion=\"3\"", nodes));
        seeds.add(format->id, QStringLiteral("valid-indexmap") + extension, list("compCLFversion=\"2.0\"", indexed));
        seeds.add(format->id, QStringLiteral("valid-older") + extension, list("version=\"1.7\"", older));
        seeds.add(format->id, QStringLiteral("nodes-of-2.0") + extension, list("version=\"2\"", ctf2));
        seeds.add(format->id, QStringLiteral("refused-reference-loop") + extension,
                  list("version=\"2\"", "<Reference " + f32 + " path=\"input" + extension.toUtf8() + "\"/>\n"));
        for (const auto &r : refused)
            seeds.add(format->id, QStringLiteral("refused-%1%2").arg(QLatin1String(r.name), extension), list(r.version, r.body));
    }
}

// ASC CDL grades: the ASC's own example, one per file kind, a collection
// and a decision list with several corrections and the older SATNode name.
void addCdlSeeds(SeedWriter &seeds)
{
    const QByteArray asc = "<ColorCorrection id=\"cc03340\">\n<SOPNode>\n<Description>change +1 red, contrast boost"
                           "</Description>\n<Slope>1.2 1.3 1.4</Slope>\n<Offset>0.3 0.0 0.0</Offset>\n<Power>1.0 1.0 1.0"
                           "</Power>\n</SOPNode>\n<SatNode>\n<Saturation>1.2</Saturation>\n</SatNode>\n</ColorCorrection>\n";
    const QByteArray second = "<ColorCorrection id=\"b\"><SOPNode><Slope>0.9 1 1.1</Slope><Offset>-0.05 0 0.05</Offset>"
                              "<Power>1.2 1 0.8</Power></SOPNode><SATNode><Saturation>0.5</Saturation></SATNode>"
                              "</ColorCorrection>\n";
    const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    seeds.add(LutFormatId::CdlCc, QStringLiteral("valid-asc.cc"), declaration + asc);
    seeds.add(LutFormatId::CdlCc, QStringLiteral("valid-sat-only.cc"),
              "<ColorCorrection><SatNode><Saturation>0.8</Saturation></SatNode></ColorCorrection>");
    seeds.add(LutFormatId::CdlCcc, QStringLiteral("valid-two.ccc"),
              declaration + "<ColorCorrectionCollection xmlns=\"urn:ASC:CDL:v1.2\">\n<Description>seed</Description>\n"
                  + asc + second + "</ColorCorrectionCollection>\n");
    seeds.add(LutFormatId::CdlList, QStringLiteral("valid-two.cdl"),
              declaration + "<ColorDecisionList xmlns=\"urn:ASC:CDL:v1.2\">\n<ColorDecision><MediaRef ref=\"a.dpx\"/>"
                  + asc + "</ColorDecision>\n<ColorDecision>" + second + "</ColorDecision>\n"
                  + "<ColorDecision><ColorCorrectionRef ref=\"b\"/></ColorDecision>\n</ColorDecisionList>\n");
}

QByteArray savedProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    QByteArray bytes;
    if (profile && cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(int(size));
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size))
            bytes.clear();
    }
    if (profile)
        cmsCloseProfile(profile);
    return bytes;
}

// ICC profiles made by Little CMS (the writer adds CLUT profiles of the model
// cube): matrix/TRC with a gamma and with the sRGB curve, a version 2
// LUT-based one with a Lab connection space, each also cut short.
void addIccSeeds(SeedWriter &seeds)
{
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    const double srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve *parametric = cmsBuildParametricToneCurve(nullptr, 4, srgb);
    cmsToneCurve *gammas[3] = {gamma, gamma, gamma};
    cmsToneCurve *parametrics[3] = {parametric, parametric, parametric};
    const std::pair<QString, QByteArray> profiles[] = {
        {QStringLiteral("gamma22"), savedProfile(cmsCreateRGBProfile(&d65, &primaries, gammas))},
        {QStringLiteral("srgb-curve"), savedProfile(cmsCreateRGBProfile(&d65, &primaries, parametrics))},
        {QStringLiteral("lab-clut"), [&] {
             // The gamma profile's transform into Lab, sampled on a 5-point CLUT.
             cmsHPROFILE source = cmsCreateRGBProfile(&d65, &primaries, gammas);
             cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
             cmsHTRANSFORM toLab = cmsCreateTransform(source, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
             cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
             cmsSetProfileVersion(profile, 2.4);
             cmsSetDeviceClass(profile, cmsSigDisplayClass);
             cmsSetColorSpace(profile, cmsSigRgbData);
             cmsSetPCS(profile, cmsSigLabData);
             cmsPipeline *pipeline = cmsPipelineAlloc(nullptr, 3, 3);
             cmsStage *clut = cmsStageAllocCLut16bit(nullptr, 5, 3, 3, nullptr);
             cmsStageSampleCLut16bit(clut, [](const cmsUInt16Number in[], cmsUInt16Number out[], void *cargo) {
                 cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), in, out, 1);
                 return 1;
             }, toLab, 0);
             cmsPipelineInsertStage(pipeline, cmsAT_END, clut);
             cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
             cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
             cmsPipelineFree(pipeline);
             cmsDeleteTransform(toLab);
             cmsCloseProfile(lab);
             cmsCloseProfile(source);
             return savedProfile(profile);
         }()},
    };
    cmsFreeToneCurve(gamma);
    cmsFreeToneCurve(parametric);
    for (const auto &profile : profiles) {
        seeds.add(LutFormatId::Icc, QStringLiteral("valid-%1.icc").arg(profile.first), profile.second);
        seeds.add(LutFormatId::Icc, QStringLiteral("cut-%1.icc").arg(profile.first), profile.second.left(profile.second.size() / 2));
    }
}

// The model cube as a LUT image: tiled (square tiles, one per slowest
// index, read left to right and top to bottom) or a strip of slices.
QImage modelImage(LutFormatId format, int n)
{
    const int tiles = format == kStripImage ? n : n == 16 ? 4 : n == 64 ? 8 : 16;
    QImage image(n * tiles, format == kStripImage ? n : n * tiles, QImage::Format_RGB888);
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            for (int c = 0; c < n; ++c)
                for (int k = 0; k < 3; ++k)
                    image.scanLine((a / tiles) * n + b)[3 * ((a % tiles) * n + c) + k] =
                        uchar(qRound(255 * cubeValue(c, b, a, n, k)));
    return image;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 0);
    return bytes;
}

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char ch : bytes) {
        crc ^= uchar(ch);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian32(quint32 v)
{
    char bytes[4];
    qToBigEndian(v, bytes);
    return QByteArray(bytes, 4);
}

QByteArray littleEndian(quint32 v, int width)
{
    char bytes[4];
    qToLittleEndian(v, bytes);
    return QByteArray(bytes, width);
}

QByteArray pngChunk(const char *type, const QByteArray &data)
{
    const QByteArray body = QByteArray(type) + data;
    return bigEndian32(quint32(data.size())) + body + bigEndian32(crc32(body));
}

// A PNG of 8-bit RGB whose header states width x height. Its pixel data is
// all black when the whole image fits in a few MB (deflate packs it into
// the 64 KiB the fuzzer works with), else only its first rows: the
// decoder then meets the end of the data early.
QByteArray craftedPng(quint32 width, quint32 height)
{
    const QByteArray header = bigEndian32(width) + bigEndian32(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    const quint64 rowBytes = 1 + 3ull * width;
    const quint64 rows = qMin<quint64>(height, (64ull << 20) / qMax<quint64>(rowBytes, 1));
    QByteArray data;
    if (rowBytes * rows > 0 && rowBytes <= (64ull << 20)) {
        const QByteArray compressed = qCompress(QByteArray(int(rowBytes * rows), '\0'), 9);
        data = pngChunk("IDAT", compressed.mid(4)); // qCompress puts the length before the zlib stream
    }
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + data + pngChunk("IEND", QByteArray());
}

// The signature and the header chunk come first (33 bytes); the cut keeps
// them and half of the pixel data.
QByteArray cutPng(const QByteArray &png)
{
    return png.left(33 + (png.size() - 45) / 2);
}

// A BMP with a 40-byte info header stating width x height (a height
// above 2^31 is negative: rows top down) at bits per pixel (8 with a grey
// palette), followed by at most 16 KiB of pixel data.
QByteArray craftedBmp(quint32 width, quint32 height, int bits, quint32 compression)
{
    const int paletteBytes = bits == 8 ? 256 * 4 : 0;
    const quint32 offset = 14 + 40 + paletteBytes;
    QByteArray bmp = "BM" + littleEndian(offset + 16384, 4) + littleEndian(0, 4) + littleEndian(offset, 4);
    bmp += littleEndian(40, 4) + littleEndian(width, 4) + littleEndian(height, 4) + littleEndian(1, 2)
        + littleEndian(quint32(bits), 2) + littleEndian(compression, 4) + littleEndian(16384, 4)
        + littleEndian(2835, 4) + littleEndian(2835, 4) + littleEndian(0, 4) + littleEndian(0, 4);
    for (int i = 0; i < paletteBytes / 4; ++i)
        bmp += QByteArray(3, char(i)) + '\0';
    return bmp + QByteArray(16384, '\x40');
}

void addImageSeeds(SeedWriter &seeds)
{
    for (const int n : {16, 64}) {
        const QImage image = modelImage(kTiledImage, n);
        seeds.add(kTiledImage, QStringLiteral("valid-%1.png").arg(n), encoded(image, "PNG"));
        seeds.add(kTiledImage, QStringLiteral("valid-%1.bmp").arg(n), encoded(image, "BMP"));
    }
    for (const int n : {2, 5, 17}) {
        const QImage image = modelImage(kStripImage, n);
        seeds.add(kStripImage, QStringLiteral("valid-%1.png").arg(n), encoded(image, "PNG"));
        seeds.add(kStripImage, QStringLiteral("valid-%1.bmp").arg(n), encoded(image, "BMP"));
    }

    // Header sizes at and past the bounds of the readers (tiled: 64, 512
    // and 4096 square; strip: N^2 x N up to 65536 x 256; Hald: L^3 square
    // for L from 2 to 16), empty and absurd ones, each whole and cut short.
    struct Size { quint32 width, height; };
    const Size sizes[] = {{64, 64},     {512, 512},   {4096, 4096}, {4097, 4097}, {8192, 8192},   {64, 65},
                          {65536, 256}, {66049, 257}, {1, 1},       {0, 0},       {0x7fffffff, 1}, {0x80000000u, 0x80000000u},
                          {8, 8},       {27, 27},     {9, 9},       {4913, 4913}, {100000, 100000}};
    for (const Size &s : sizes) {
        const QString stem = QStringLiteral("crafted-%1x%2").arg(s.width).arg(s.height);
        const QByteArray png = craftedPng(s.width, s.height);
        const std::pair<QString, QByteArray> files[] = {
            {stem + QStringLiteral(".png"), png},
            {stem + QStringLiteral("-cut.png"), cutPng(png)},
            {stem + QStringLiteral("-24.bmp"), craftedBmp(s.width, s.height, 24, 0)},
            {stem + QStringLiteral("-topdown.bmp"), craftedBmp(s.width, 0u - s.height, 32, 0)},
            {stem + QStringLiteral("-rle8.bmp"), craftedBmp(s.width, s.height, 8, 1)}};
        for (const LutFormatId format : {kTiledImage, kStripImage, kHald})
            for (const auto &file : files)
                seeds.add(format, file.first, file.second);
    }

    // A Hald CLUT of level 2 in grey, which holds no colour.
    QImage grey(8, 8, QImage::Format_Grayscale8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            grey.scanLine(y)[x] = uchar(4 * (8 * y + x));
    seeds.add(kHald, QStringLiteral("crafted-grey-8x8.png"), encoded(grey, "PNG"));
}

// Pictures for --apply: a gradient with a half-transparent corner in each
// type the readers take (8 and 16 bits; DPX of 10 bits both ways, RGBA and
// 16 bits), and DPX headers that lie about the size or the layout.
void addPictureSeeds(SeedWriter &seeds)
{
    QImage image(24, 16, QImage::Format_RGBA64);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x)
            image.setPixelColor(x, y, QColor::fromRgba64(quint16(x * 2800), quint16(y * 4300), quint16((x + y) * 1600),
                                                         x < 4 && y < 4 ? 32768 : 65535));
    seeds.addPicture(QStringLiteral("valid-gradient-16.png"), encoded(image, "PNG"));
    seeds.addPicture(QStringLiteral("valid-gradient-8.png"), encoded(image.convertToFormat(QImage::Format_RGBA8888), "PNG"));
    seeds.addPicture(QStringLiteral("valid-gradient-16.tif"), encoded(image, "TIFF"));
    seeds.addPicture(QStringLiteral("valid-gradient-8.tif"), encoded(image.convertToFormat(QImage::Format_RGBA8888), "TIFF"));
    seeds.addPicture(QStringLiteral("valid-grey-8.tif"), encoded(image.convertToFormat(QImage::Format_Grayscale8), "TIFF"));
    seeds.addPicture(QStringLiteral("valid-gradient.jpg"), encoded(image.convertToFormat(QImage::Format_RGB32), "JPEG"));
    seeds.addPicture(QStringLiteral("valid-gradient.bmp"), encoded(image.convertToFormat(QImage::Format_RGB32), "BMP"));
    const auto dpx = [&](int bits, bool alpha) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        DpxWriter writer;
        std::vector<quint16> row(24 * 4);
        const int top = (1 << bits) - 1;
        bool ok = writer.open(&buffer, 24, 16, bits, alpha, QByteArray(), QStringLiteral("seed.dpx"));
        for (int y = 0; y < 16 && ok; ++y) {
            for (int x = 0; x < 24; ++x) {
                const QRgba64 c = image.pixelColor(x, y).rgba64();
                const quint16 v[4] = {c.red(), c.green(), c.blue(), c.alpha()};
                for (int k = 0; k < 4; ++k)
                    row[size_t(4 * x + k)] = quint16((qint64(v[k]) * top + 32767) / 65535);
            }
            ok = writer.writeRow(row.data());
        }
        return ok ? bytes : QByteArray();
    };
    const QByteArray dpx10 = dpx(10, false);
    seeds.addPicture(QStringLiteral("valid-gradient-10.dpx"), dpx10);
    seeds.addPicture(QStringLiteral("valid-gradient-10-rgba.dpx"), dpx(10, true));
    seeds.addPicture(QStringLiteral("valid-gradient-16.dpx"), dpx(16, false));
    const auto patched = [&](int offset, int bytes, quint32 value) {
        QByteArray b = dpx10;
        for (int i = bytes - 1; i >= 0; --i, value >>= 8)
            b[offset + i] = char(value & 0xff);
        return b;
    };
    seeds.addPicture(QStringLiteral("crafted-huge.dpx"), patched(772, 4, 0x7fffffff));
    seeds.addPicture(QStringLiteral("crafted-zero.dpx"), patched(776, 4, 0));
    seeds.addPicture(QStringLiteral("crafted-padding.dpx"), patched(780 + 32, 4, 0x40000000));
    seeds.addPicture(QStringLiteral("crafted-method-b.dpx"), patched(780 + 24, 2, 2));
    seeds.addPicture(QStringLiteral("crafted-12-bit.dpx"), patched(780 + 23, 1, 12));
    seeds.addPicture(QStringLiteral("crafted-offset.dpx"), patched(780 + 28, 4, 0xfffffff0));
    seeds.addPicture(QStringLiteral("crafted-cut.dpx"), dpx10.left(dpx10.size() / 2));

    // Values beyond 0..1: a half and a float EXR, half and float TIFFs.
    const auto floating = [&](const QByteArray &type, int bits, bool alpha) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadWrite);
        QString error;
        const int sizes[4] = {bits, bits, bits, bits};
        const std::unique_ptr<FloatRowWriter> writer =
            ImageRows::openFloat(type, &buffer, 24, 16, sizes, alpha, alpha, nullptr, &error);
        bool ok = writer != nullptr;
        std::vector<float> row(24 * 4);
        for (int y = 0; y < 16 && ok; ++y) {
            for (int x = 0; x < 24; ++x) {
                const float v[4] = {-0.5f + x * 0.15f, y * 0.3f, (x - y) * 0.1f, x < 4 ? 0.5f : 1.0f};
                std::copy(v, v + 4, row.begin() + 4 * x);
            }
            ok = writer->writeRow(row.data());
        }
        return ok && writer->finish() ? bytes : QByteArray();
    };
    const QByteArray exr = floating("exr", 16, true);
    seeds.addPicture(QStringLiteral("valid-values-half.exr"), exr);
    seeds.addPicture(QStringLiteral("valid-values-float.exr"), floating("exr", 32, false));
    seeds.addPicture(QStringLiteral("valid-values-half.tif"), floating("tiff", 16, false));
    seeds.addPicture(QStringLiteral("valid-values-float.tif"), floating("tiff", 32, true));
    seeds.addPicture(QStringLiteral("crafted-cut.exr"), exr.left(exr.size() * 2 / 3));

    // DWAA in scan lines and DWAB in 8 x 8 tiles, the compressions read
    // through the library's reader rather than its core; ZIPS in scan lines
    // and ZIP in tiles, inflated by libdeflate.
    const auto library = [](Imf::Compression compression, bool tiled) {
        try {
            Imf::Header header(24, 16);
            header.compression() = compression;
            std::vector<Imath::half> pixels(24 * 16 * 4);
            for (size_t i = 0; i < pixels.size(); ++i)
                pixels[i] = Imath::half(float(i % 97) * 0.03f - 0.4f);
            Imf::FrameBuffer frame;
            const char *const names[] = {"R", "G", "B", "A"};
            for (int c = 0; c < 4; ++c) {
                header.channels().insert(names[c], Imf::Channel(Imf::HALF));
                frame.insert(names[c], Imf::Slice(Imf::HALF, reinterpret_cast<char *>(pixels.data() + c), 8, 8 * 24));
            }
            Imf::StdOSStream out;
            if (tiled) {
                header.setTileDescription(Imf::TileDescription(8, 8));
                Imf::TiledOutputFile file(out, header);
                file.setFrameBuffer(frame);
                file.writeTiles(0, file.numXTiles() - 1, 0, file.numYTiles() - 1);
            } else {
                Imf::OutputFile file(out, header);
                file.setFrameBuffer(frame);
                file.writePixels(16);
            }
            const std::string bytes = out.str();
            return QByteArray(bytes.data(), int(bytes.size()));
        } catch (const std::exception &) {
            return QByteArray();
        }
    };
    seeds.addPicture(QStringLiteral("valid-dwaa.exr"), library(Imf::DWAA_COMPRESSION, false));
    seeds.addPicture(QStringLiteral("valid-dwab-tiled.exr"), library(Imf::DWAB_COMPRESSION, true));
    seeds.addPicture(QStringLiteral("valid-zips.exr"), library(Imf::ZIPS_COMPRESSION, false));
    seeds.addPicture(QStringLiteral("valid-zip-tiled.exr"), library(Imf::ZIP_COMPRESSION, true));
}

} // namespace

namespace FuzzSeeds {

int write(const QString &dir)
{
    SeedWriter seeds(dir);
    addWrittenSeeds(seeds);
    addTextSeeds(seeds);
    addProcessListSeeds(seeds);
    addCdlSeeds(seeds);
    addIccSeeds(seeds);
    addTransformSeeds(seeds);
    addImageSeeds(seeds);
    addPictureSeeds(seeds);
    return seeds.result();
}

int copyCorpus(const QString &dir, const QString &corpus)
{
    int count = 0;
    QDirIterator it(corpus, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString extension = QLatin1Char('.') + QFileInfo(path).suffix().toLower();
        const LutFormat *format = LutFormats::forInput(path);
        if (!format->extensionList().contains(extension))
            continue;
        const QString folder = dir + QLatin1Char('/') + QLatin1String(format->name);
        const QString target = folder + QStringLiteral("/shared-") + QFileInfo(path).fileName();
        QFile::remove(target);
        if (QDir().mkpath(folder) && QFile::copy(path, target))
            ++count;
    }
    return count;
}

} // namespace FuzzSeeds
