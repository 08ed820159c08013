#include "cli/ConvertCommand.h"

#include "ChromaductBuild.h"
#include "calc/LutCalc.h"
#include "lut/LutConversion.h"
#include "lut/LutFileNames.h"
#include "lut/LutFormats.h"
#include "lut/LutImageCodec.h"
#include "lut/LutParallel.h"
#include "lut/LutTable.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/stat.h>

namespace ConvertCommand {

namespace {

const char kProgram[] = "chromaduct-convert";
const char kVersion[] = CHROMADUCT_VERSION;

const char kHelp[] =
    "Usage:\n"
    "  chromaduct-convert [options] INPUT OUTPUT\n"
    "  chromaduct-convert [options] --out-dir DIR INPUT...\n"
    "  chromaduct-convert --info INPUT...\n"
    "  chromaduct-convert --formats\n"
    "  chromaduct-convert [options] --apply LUT IN OUT\n"
    "  chromaduct-convert [options] --preview LUT OUT.png\n"
    "  chromaduct-convert [options] --compare A B\n"
    "\n"
    "Converts colour look-up table files between the formats of the catalogue.\n"
    "INPUT \"-\" reads standard input (its format from --from or its content),\n"
    "OUTPUT \"-\" writes standard output. An image whose file name contains\n"
    "\"hald\" (in any case) is a Hald CLUT; other PNG, BMP and TIFF images are\n"
    "tiled LUT images when square with 64, 512 or 4096 pixels a side, else strips.\n"
    "\n"
    "Options:\n"
    "  -f, --from FORMAT      input format: identifier 0-%8 or name; default: chosen\n"
    "                         from INPUT's extension (and contents where formats\n"
    "                         share one); for any other extension, from its contents\n"
    "                         (the first format that recognises them, else cube)\n"
    "  -t, --to FORMAT        output format; default: chosen from OUTPUT's extension\n"
    "                         (an unknown one is a usage error; cube for standard\n"
    "                         output; with --out-dir: cube, or spi1d for an input\n"
    "                         that holds a 1D table only)\n"
    "      --out-dir DIR      convert each INPUT on its own into DIR (made if\n"
    "                         missing), named after the input with the output\n"
    "                         format's first extension\n"
    "  -s, --size N           output size: for a cube the points per axis, 2 to 256;\n"
    "                         for a 1D table the entries, resampled linearly;\n"
    "                         default: the input's own size. LUT images hold set\n"
    "                         sizes: a Hald CLUT the nearest level's (4, 9, 16, ...,\n"
    "                         256), a tiled image 16, 64 or 256 (the next one up)\n"
    "      --in-order ORDER   \"default\" (the format's own order) or DATA/TABLE, each\n"
    "                         RGB or BGR, e.g. RGB/BGR; a 1D line is reversed when\n"
    "                         DATA and TABLE differ\n"
    "      --out-order ORDER  the same for writing; \"default\" writes the format's own\n"
    "                         order; for cube it means data RGB, table BGR: the\n"
    "                         standard layout, each line red green blue with red\n"
    "                         varying fastest\n"
    "      --plain            convert the tables alone, as the container stores them:\n"
    "                         values clamped to 0..1, shapers and input ranges not\n"
    "                         applied (a note says what that left out). By default\n"
    "                         a conversion converts what the input means: its shaper\n"
    "                         (csp pre-LUT, a cube's 1D table in front of its 3D\n"
    "                         table, Truelight input LUT) and input ranges (cube\n"
    "                         DOMAIN_MIN/MAX, LUT_3D/1D_INPUT_RANGE, spi1d From),\n"
    "                         then its table, on the output's lattice (--size;\n"
    "                         default: the input's size, 33 for a 3D output of a\n"
    "                         1D input), keeping values outside 0..1 (a format of\n"
    "                         codes clamps them, with a note of how many)\n"
    "      --bake             the default reading, what the input means\n"
    "      --3d               a format of either dimension (cube, clf, ctf) holds the\n"
    "                         transform as a 3D table even when it is 1D (by default\n"
    "                         a 1D transform stays a 1D table)\n"
    "      --cccid ID         the ColorCorrection of a .ccc, .cdl or .cc input to\n"
    "                         take: its id, else its position from 0; default: the\n"
    "                         first.\n"
    "                         An ASC CDL grade is baked on the output's lattice\n"
    "                         (default 33 points per axis; 4096 entries for a 1D\n"
    "                         output of a grade without saturation)\n"
    "      --then FILE        then apply FILE (what it means, read as INPUT is read);\n"
    "                         repeatable\n"
    "      --then-inverse FILE  then apply the inverse of FILE; repeatable\n"
    "      --inverse          take the inverse of INPUT instead of INPUT. An inverse\n"
    "                         is exact for a 1D transform; for a 3D one it inverts\n"
    "                         the tetrahedral interpolation, colours outside the\n"
    "                         table's gamut taking the nearest point of it\n"
    "      --slope R,G,B      then an ASC CDL slope (one number: all three channels)\n"
    "      --offset R,G,B     then an ASC CDL offset\n"
    "      --power R,G,B      then an ASC CDL power\n"
    "      --sat S            then an ASC CDL saturation (Rec. 709 luma). Each grade\n"
    "                         option is one ASC CDL v1.2 grade (clamped to 0..1).\n"
    "                         The steps (--then, --then-inverse, grade options)\n"
    "                         apply after INPUT in command-line order; the chain\n"
    "                         is baked on the output's lattice (--size; default:\n"
    "                         INPUT's size), 3D when any step mixes the channels\n"
    "      --in-range RANGE   \"legal\": the output takes legal-range input (codes 64\n"
    "                         to 940 of 1023; 16 to 235 of 255 in a file of 8-bit\n"
    "                         codes), scaled to 0..1 before INPUT;\n"
    "                         \"full\" (the default): 0..1 as it is\n"
    "      --out-range RANGE  \"legal\": the output gives legal-range values, 0..1\n"
    "                         scaled to 64..940 of 1023 after the last step\n"
    "      --input-range MIN,MAX  the output takes inputs MIN..MAX instead of 0..1\n"
    "                         (scene-linear or log data): a format with a domain\n"
    "                         takes the range as its own (cube, csp, clf, ctf,\n"
    "                         houdini, spi1d); others are refused\n"
    "      --shaper CURVE     \"linear\" or \"log2\": a 1D shaper in front of the 3D\n"
    "                         table maps MIN..MAX onto its 0..1, log2 evenly in\n"
    "                         stops (MIN must be above 0); written by cube\n"
    "                         (LUT_1D_SIZE with LUT_1D_INPUT_RANGE), csp (pre-LUT),\n"
    "                         clf and ctf (Range, LUT1D, LUT3D) and houdini (3D+1D)\n"
    "      --shaper-size N    the shaper's entries, 2 to 65536; default: 4096. E.g.:\n"
    "                         chromaduct-convert --input-range 0.001,16\n"
    "                           --shaper log2 scene.clf hdr.cube\n"
    "      --compare          compare the files A and B: evaluate what each means on\n"
    "                         a lattice of --size points per axis (default 33, a\n"
    "                         1D pair too) and print per channel the largest, mean\n"
    "                         and 99th-percentile absolute difference and the\n"
    "                         point (input r g b) of the largest. A is read as\n"
    "                         INPUT is, with the steps and ranges above; B as a\n"
    "                         --then FILE. Exit status 0 when they agree within\n"
    "                         the tolerance, 1 when not, 2 when a file cannot be\n"
    "                         read or compared. Nothing is written: an output,\n"
    "                         --out-dir, --apply, --preview, --info, --to, --scale,\n"
    "                         --out-order, --3d and --plain are usage errors\n"
    "      --tolerance T      the largest difference --compare accepts (default\n"
    "                         1e-5)\n"
    "  -j, --jobs N           use at most N threads (default: one per processor);\n"
    "                         with --out-dir, N inputs are converted at a time, with\n"
    "                         the outputs, messages (in input order) and exit status\n"
    "                         of converting them one after the other\n"
    "      --scale N          output scale: 1 writes normalised reals, 2 or more\n"
    "                         integer codes (255, 1023, 4095, ...); only formats\n"
    "                         whose files hold codes take a scale above 1 (see\n"
    "                         below)\n"
    "      --apply LUT        apply what LUT means (read as a conversion reads it: 3D\n"
    "                         tables tetrahedral, 1D linear, in floating point) to\n"
    "                         the picture IN (PNG, TIFF, JPEG or BMP of 8 or 16 bits\n"
    "                         per channel, TIFF of 16- or 32-bit float samples,\n"
    "                         OpenEXR of half or float channels, DPX of RGB(A) 8,\n"
    "                         10, 12 or 16 bits; alpha kept) and write OUT, its type\n"
    "                         from its extension (.png, .tif, .tiff, .exr, .jpg,\n"
    "                         .jpeg, .bmp, .dpx), in IN's depth or --scale 255 (8\n"
    "                         bits), 1023 (10, a DPX) or 65535 (16); float values\n"
    "                         stay unclamped and in IN's sample type in a TIFF or\n"
    "                         EXR OUT, --scale turns them into codes (not for .exr).\n"
    "                         A DPX is written with 10-bit codes filled by method A\n"
    "                         (16 for a deeper picture), keeping a DPX input's\n"
    "                         header fields. --inverse, the steps and the legal\n"
    "                         ranges apply as in a conversion, evaluated at each\n"
    "                         pixel (and so for --preview)\n"
    "      --quality Q        the quality of a JPEG OUT of --apply, 1 to 100;\n"
    "                         default 95 (chroma always at full resolution, 4:4:4)\n"
    "      --preview LUT      write OUT.png: a test picture before and after LUT,\n"
    "                         beside the output along the grey axis (for a 1D table\n"
    "                         its three curves), captioned \"before\", \"after\" and\n"
    "                         with LUT's file name\n"
    "      --preview-input ENCODING  the test picture as \"display\" code values\n"
    "                         (the default), \"log\" or \"linear\": for a LUT made\n"
    "                         for log or scene-linear footage. Each display value d\n"
    "                         is decoded to linear light d^2.4 (mid grey 0.18), for\n"
    "                         log then encoded as (log2(x) + 9.72) / 17.52\n"
    "  -q, --quiet            print no notes on stderr (errors are still printed)\n"
    "  -i, --info             print what each INPUT holds, then exit\n"
    "      --formats          print the catalogue, one format per line, tab-separated\n"
    "                         fields: identifier, name, label, dimension (3D, 1D, or\n"
    "                         3D/1D: either, by what the LUT holds), can read\n"
    "                         (yes/no), can write (yes/no), default scale (\"reals\":\n"
    "                         takes no --scale; a number or \"by length\": codes)\n"
    "  -h, --help             print this help\n"
    "  -V, --version          print the version\n"
    "\n"
    "%9\n"
    "\n"
    "A .3dl file is written in Lustre's layout (3dl: a mesh line with the input and\n"
    "output depths, which Flame reads too); --to flame writes Flame's layout (no\n"
    "mesh line: readers take the output depth from the largest code, so a table\n"
    "whose largest code is below half the scale is refused). Both hold 10-, 12- or\n"
    "16-bit codes (--scale 1023, 4095 or 65535) and 4 points per axis or more.\n"
    "csp and Truelight files keep the input's shaper (csp pre-LUT, Truelight input\n"
    "LUT, a cube's 1D table in front of its cube) and csp its input ranges.\n"
    "\n"
    "%1\n"
    "\n"
    "Limits: --apply takes pictures of up to %2 pixels (32768 x 32768),\n"
    "rows of up to %3 pixels. It reads and writes a row at a time, but decodes a\n"
    "BMP, integer TIFF or interlaced PNG picture whole, in at most %4 MB (a float\n"
    "TIFF a strip or a row of tiles, an EXR 256 rows at a time). A transform\n"
    "evaluated as a whole (a clf or ctf process list) has at most %5 nodes and\n"
    "takes at most %6 evaluation steps: its nodes times the colours of the\n"
    "lattice or the pixels of the picture. Standard input is read up to %7 MiB.\n"
    "\n"
    "A pipeline: a camera LUT, a grade in its log space and a display LUT,\n"
    "delivered as one 33-point Lustre 3dl of 12-bit codes, and its preview:\n"
    "  chromaduct-convert camera.cube --slope 0.98,1,0.96 --offset 0.01,0,0.02 \\\n"
    "      --sat 0.9 --then display.cube delivery.3dl\n"
    "  chromaduct-convert --preview delivery.3dl --preview-input log delivery.png\n"
    "\n"
    "An example of --compare, a cube against its grade (--slope 1.1,1,0.9\n"
    "--power 1,1.3,1):\n"
    "  $ chromaduct-convert --compare look.cube look-graded.cube\n"
    "  compared on 33x33x33 points\n"
    "  channel  largest        mean           99%            at r g b\n"
    "  R        0.09000003     0.0461276      0.08170784     1 1 1\n"
    "  G        0.09624282     0.07638097     0.09623769     0.40625 0.5 0\n"
    "  B        0.08999997     0.05115189     0.08670068     0 1 1\n"
    "  differ: largest 0.09624282 > tolerance 1e-05\n"
    "\n"
    "Exit status: 0 success; 1 an input could not be read; 2 an output could not\n"
    "be written, the format has no writer or cannot hold the table, or the input\n"
    "lacks the table the output needs; 64 a usage error. With --out-dir every input\n"
    "is tried and the status is that of the first failure. With --compare: 0 the\n"
    "files agree, 1 they differ, 2 a file could not be read or compared, 64 a\n"
    "usage error.\n";

const char kStandardStream[] = "-";

// --compare's lattice (points per axis) and tolerance unless told.
constexpr int kCompareSize = 33;
constexpr double kCompareTolerance = 1e-5;

// The reason the first write to standard output failed (errno), 0 while none has.
int outputErrno = 0;

// Text goes out with file names in their own bytes (LutFileNames).
void printOut(const QString &text)
{
    if (std::fputs(LutFileNames::toBytes(text).constData(), stdout) < 0 && outputErrno == 0)
        outputErrno = errno ? errno : EIO;
}

// Where this thread's messages go instead of stderr: a batch converts
// inputs side by side and says what each input has to say in input order.
thread_local QByteArray *messageSink = nullptr;

// One line on stderr: "chromaduct-convert: FILE: REASON" (no file for usage errors).
void printError(const QString &file, const QString &reason)
{
    QString line = QLatin1String(kProgram) + QLatin1String(": ");
    if (!file.isEmpty())
        line += file + QLatin1String(": ");
    line += reason + QLatin1Char('\n');
    if (messageSink)
        *messageSink += LutFileNames::toBytes(line);
    else
        std::fputs(LutFileNames::toBytes(line).constData(), stderr);
}

// --quiet: notes are left out; errors are always printed.
bool quietNotes = false;

void printNote(const QString &file, const QString &note)
{
    if (!quietNotes)
        printError(file, note);
}

int usageError(const QString &reason)
{
    printError(QString(), reason + QLatin1String(" (see --help)"));
    return kExitUsage;
}

bool parseOrder(const QString &text, LutConversion::Order *order)
{
    const QString value = text.trimmed().toUpper();
    if (value == QLatin1String("DEFAULT")) {
        *order = LutConversion::Order();
        return true;
    }
    const QStringList parts = value.split(QLatin1Char('/'));
    if (parts.size() != 2)
        return false;
    auto channel = [](const QString &part, bool *rgb) {
        if (part == QLatin1String("RGB"))
            *rgb = true;
        else if (part == QLatin1String("BGR"))
            *rgb = false;
        else
            return false;
        return true;
    };
    order->defaultOrder = false;
    order->formatFlags = false;
    return channel(parts[0], &order->dataRGB) && channel(parts[1], &order->tableRGB);
}

bool parseInteger(const QString &text, int *value)
{
    bool ok = false;
    *value = text.trimmed().toInt(&ok);
    return ok;
}

// Three numbers "R,G,B" (one number stands for all three).
bool parseTriple(const QString &text, double v[3])
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 1 && parts.size() != 3)
        return false;
    for (int c = 0; c < 3; ++c) {
        bool ok = false;
        v[c] = parts[parts.size() == 3 ? c : 0].trimmed().toDouble(&ok);
        if (!ok)
            return false;
    }
    return true;
}

// The pipeline's steps in command-line order. The parser keeps each
// option's values in order but not the order between options, so the
// arguments are walked for the options' names (skipping the values of the
// options that take one), and each name takes its option's next value.
// Returns "" or why the steps cannot be had.
QString pipelineSteps(const QStringList &arguments, const QCommandLineParser &parser,
                      const QList<const QCommandLineOption *> &stepOptions,
                      const QList<const QCommandLineOption *> &valueOptions, std::vector<LutConversion::Step> *steps)
{
    const auto find = [](const QList<const QCommandLineOption *> &options, const QString &name) -> const QCommandLineOption * {
        for (const QCommandLineOption *option : options) {
            if (option->names().contains(name))
                return option;
        }
        return nullptr;
    };
    QHash<const QCommandLineOption *, int> used;
    for (int a = 1; a < arguments.size(); ++a) {
        const QString &argument = arguments[a];
        if (argument == QLatin1String("--"))
            break;
        if (argument.startsWith(QLatin1String("--"))) {
            const int equals = argument.indexOf(QLatin1Char('='));
            const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
            const QCommandLineOption *step = find(stepOptions, name);
            if (!step) {
                if (equals < 0 && find(valueOptions, name))
                    ++a;
                continue;
            }
            const bool takesValue = !step->valueName().isEmpty();
            if (takesValue && equals < 0)
                ++a;
            const QString value = takesValue ? parser.values(*step).value(used[step]++) : QString();
            LutConversion::Step out;
            if (name == QLatin1String("then") || name == QLatin1String("then-inverse")) {
                out.kind = name == QLatin1String("then") ? LutConversion::Step::Kind::Apply
                                                         : LutConversion::Step::Kind::ApplyInverse;
                out.file = value;
            } else if (name == QLatin1String("sat")) {
                out.kind = LutConversion::Step::Kind::Grade;
                bool ok = false;
                out.grade.saturation = value.trimmed().toDouble(&ok);
                if (!ok)
                    return QStringLiteral("--sat takes a number, not \"%1\"").arg(value);
            } else {
                out.kind = LutConversion::Step::Kind::Grade;
                double *target = name == QLatin1String("slope")    ? out.grade.slope
                               : name == QLatin1String("offset") ? out.grade.offset
                                                                 : out.grade.power;
                if (!parseTriple(value, target))
                    return QStringLiteral("--%1 takes three numbers R,G,B, not \"%2\"").arg(name, value);
            }
            if (out.kind == LutConversion::Step::Kind::Grade && !out.grade.problem().isEmpty())
                return QStringLiteral("--%1 %2: %3").arg(name, value, out.grade.problem());
            steps->push_back(out);
        } else if (argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
            // Compacted short options: a value-taking one last takes the next argument.
            const QCommandLineOption *last = find(valueOptions, argument.right(1));
            bool inlineValue = false;
            for (int k = 1; k + 1 < argument.size(); ++k)
                inlineValue = inlineValue || find(valueOptions, argument.mid(k, 1));
            if (last && !inlineValue)
                ++a;
        }
    }
    for (const QCommandLineOption *option : stepOptions) {
        const int expected = option->valueName().isEmpty() ? (parser.isSet(*option) ? 1 : 0) : parser.values(*option).size();
        if (!option->valueName().isEmpty() && used.value(option) != expected)
            return QStringLiteral("cannot tell the order of the --%1 options").arg(option->names().last());
    }
    return QString();
}

// --input-range, --shaper and --shaper-size into settings; "" or why not.
QString inputSpan(const QCommandLineParser &parser, const QCommandLineOption &rangeOption,
                  const QCommandLineOption &shaperOption, const QCommandLineOption &sizeOption,
                  LutConversion::Request *settings)
{
    using Shaper = LutConversion::Request::Shaper;
    if (parser.isSet(rangeOption)) {
        const QString text = parser.value(rangeOption);
        const QStringList parts = text.split(QLatin1Char(','));
        bool ok[2] = {false, false};
        const double lo = parts.size() == 2 ? parts[0].trimmed().toDouble(&ok[0]) : 0.0;
        const double hi = parts.size() == 2 ? parts[1].trimmed().toDouble(&ok[1]) : 0.0;
        if (!ok[0] || !ok[1] || !std::isfinite(lo) || !std::isfinite(hi) || !std::isfinite(hi - lo))
            return QStringLiteral("--input-range takes two numbers MIN,MAX, not \"%1\"").arg(text);
        if (!(hi > lo))
            return QStringLiteral("--input-range %1: MAX must be above MIN").arg(text);
        settings->inputRange = true;
        settings->inputMin = lo;
        settings->inputMax = hi;
    }
    if (parser.isSet(shaperOption)) {
        const QString curve = parser.value(shaperOption).trimmed().toLower();
        if (curve != QLatin1String("linear") && curve != QLatin1String("log2"))
            return QStringLiteral("--shaper must be \"linear\" or \"log2\", not \"%1\"").arg(parser.value(shaperOption));
        if (!settings->inputRange)
            return QStringLiteral("--shaper needs --input-range MIN,MAX: the span it maps onto the table");
        settings->shaper = curve == QLatin1String("log2") ? Shaper::Log2 : Shaper::Linear;
        // log2 of 0 or less has no value: such a span needs an offset the
        // user chooses, so it is refused rather than guessed.
        if (settings->shaper == Shaper::Log2 && !(settings->inputMin > 0.0))
            return QStringLiteral("--shaper log2 needs an --input-range MIN above 0, not %1 (log2 has no value at 0 "
                                  "or below; use --shaper linear, or a MIN such as 0.001)")
                .arg(settings->inputMin);
    }
    if (parser.isSet(sizeOption)) {
        if (settings->shaper == Shaper::None)
            return QStringLiteral("--shaper-size needs --shaper");
        if (!parseInteger(parser.value(sizeOption), &settings->shaperSize) || settings->shaperSize < 2
            || settings->shaperSize > LutConversion::kMaxShaperSize)
            return QStringLiteral("--shaper-size must be a whole number from 2 to %1, not \"%2\"")
                .arg(LutConversion::kMaxShaperSize)
                .arg(parser.value(sizeOption));
    }
    return QString();
}

QString formatTriple(const float v[3])
{
    return QString::number(double(v[0])) + QLatin1Char(' ') + QString::number(double(v[1])) + QLatin1Char(' ')
        + QString::number(double(v[2]));
}

QString formatNameAndId(const LutFormat *format)
{
    return QStringLiteral("%1 (%2)").arg(QLatin1String(format->name)).arg(format->number());
}

// What a format writes without --scale, as --formats and --help show it.
QString scaleText(const LutFormat *format)
{
    if (!format->canWrite())
        return QStringLiteral("-");
    if (!format->takesScale())
        return QStringLiteral("reals");
    return format->defaultScale == kScaleByLength ? QStringLiteral("by length") : QString::number(format->defaultScale);
}

// The most of standard input that is copied: above the largest file a
// reader takes in any format (a 256-point cube written with nine digits a
// value is about 600 MB), so a stream that never ends stops here.
constexpr qint64 kMaxStandardInput = qint64(1) << 30;

// Standard input, or a named pipe (a process substitution, "<(...)", is
// one), copied to a temporary file so that every reader can read it (and
// read it again) like any other file: detecting the format reads its head,
// which a pipe gives only once. False with a reason when it cannot be read
// or holds more than kMaxStandardInput bytes.
bool spoolStream(const QString &input, QTemporaryFile *spool, QString *reason)
{
    QFile in;
    if (input == QLatin1String(kStandardStream)) {
        if (!in.open(0, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
            *reason = in.errorString();
            return false;
        }
    } else if (!LutFileNames::openForReading(in, input, reason)) {
        return false;
    }
    if (!spool->open()) {
        *reason = spool->errorString();
        return false;
    }
    qint64 total = 0;
    for (;;) {
        const QByteArray block = in.read(1 << 16);
        if (block.isEmpty())
            break;
        total += block.size();
        if (total > kMaxStandardInput) {
            *reason = QStringLiteral("it holds more than %1 MiB, more than a LUT file of any format takes")
                          .arg(kMaxStandardInput >> 20);
            return false;
        }
        if (spool->write(block) != block.size()) {
            *reason = spool->errorString();
            return false;
        }
    }
    if (in.error() != QFileDevice::NoError || !spool->flush()) {
        *reason = in.error() != QFileDevice::NoError ? in.errorString() : spool->errorString();
        return false;
    }
    return true;
}

// Whether path names a pipe or a socket, which can be read only once.
bool isPipe(const QString &path)
{
    struct stat info;
    return ::stat(LutFileNames::toBytes(path).constData(), &info) == 0
           && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

// The request of one input: the run's settings with the input's file;
// standard input ("-") and a named pipe are copied to a spool file first
// (made only then: making one looks up the temporary folder). Standard
// input's format is told by its content; a pipe's spool ends in the pipe's
// own name, so that its extension tells as a file's would. Prints the
// failure and returns false when the input cannot be read.
bool requestFor(const QString &input, const LutConversion::Request &settings,
                std::unique_ptr<QTemporaryFile> *spoolFile, LutConversion::Request *request)
{
    *request = settings;
    request->input = input;
    request->inputName = LutConversion::inputName(input);
    const bool standardInput = input == QLatin1String(kStandardStream);
    if (!standardInput)
        request->sourcePath = input;
    if (!standardInput && !isPipe(input))
        return true;
    QString reason;
    spoolFile->reset(standardInput ? new QTemporaryFile
                                   : new QTemporaryFile(QDir::temp().filePath(
                                         QStringLiteral("chromaduct-XXXXXX-") + QFileInfo(input).fileName())));
    QTemporaryFile *spool = spoolFile->get();
    if (!spoolStream(input, spool, &reason)) {
        printError(request->inputName, QStringLiteral("cannot be read: %1").arg(reason));
        return false;
    }
    request->input = spool->fileName();
    request->fromContent = standardInput;
    return true;
}

// A full read of input into lut as a conversion reads it; prints the
// failure and returns false. The format read is left in *used.
bool readInput(const QString &input, const LutConversion::Request &settings, Read_LUTFile *lut,
               const LutFormat **used = nullptr)
{
    std::unique_ptr<QTemporaryFile> spool;
    LutConversion::Request request;
    if (!requestFor(input, settings, &spool, &request))
        return false;
    const LutConversion::Result result = LutConversion::read(request, lut);
    if (used)
        *used = result.readAs;
    if (result.status == LutConversion::Status::Done)
        return true;
    printError(result.file, result.reason);
    return false;
}

// Converts one input as settings and the output (or, with an empty one,
// settings.outputDir) say, prints what there is to say and returns the
// exit status.
int convertOne(const QString &input, const QString &output, const LutConversion::Request &settings,
               QSet<QString> *written)
{
    std::unique_ptr<QTemporaryFile> spool;
    LutConversion::Request request;
    if (!requestFor(input, settings, &spool, &request))
        return kExitReadFailed;
    request.output = output;
    const LutConversion::Result result = LutConversion::convert(request, written);
    if (result.status == LutConversion::Status::Usage)
        return usageError(result.reason);
    if (result.status != LutConversion::Status::Done) {
        printError(result.file, result.reason);
        return result.status == LutConversion::Status::ReadFailed ? kExitReadFailed : kExitWriteFailed;
    }
    for (const QString &note : result.notes)
        printNote(request.inputName, note);
    return kExitSuccess;
}

// Converts every input into settings.outputDir with up to jobs inputs at a
// time and returns the status of the first failure (in input order). Inputs
// whose outputs could take one name (they share a base name) form a chain
// that one worker converts in input order, so "already written" falls to
// the same input as in a run of one input after the other; the chains run
// side by side. Messages are held per input and printed in input order, as
// soon as every input before has printed its own.
int convertBatch(const QStringList &inputs, LutConversion::Request settings, int jobs)
{
    // The files of the run, known before anything is written: no output is
    // written over any of them (by any name: links count), so every input
    // stays as it was, whatever the order of the conversions.
    QSet<QByteArray> inputFiles;
    for (const QString &input : inputs) {
        const QByteArray identity = LutFileNames::identity(input);
        if (!identity.isEmpty())
            inputFiles.insert(identity);
    }
    settings.runInputs = &inputFiles;
    QHash<QString, int> chainOf;
    std::vector<std::vector<int>> chains;
    for (int i = 0; i < inputs.size(); ++i) {
        const QString key = QFileInfo(inputs[i]).completeBaseName().toLower();
        auto found = chainOf.constFind(key);
        if (found == chainOf.constEnd()) {
            found = chainOf.insert(key, int(chains.size()));
            chains.emplace_back();
        }
        chains[size_t(found.value())].push_back(i);
    }
    const int workers = int(std::min<size_t>(size_t(std::max(1, jobs)), chains.size()));
    int status = kExitSuccess;
    if (workers <= 1) {
        QSet<QString> written;
        for (const QString &input : inputs) {
            const int result = convertOne(input, QString(), settings, &written);
            if (status == kExitSuccess)
                status = result;
        }
        return status;
    }

    struct Outcome
    {
        bool done = false;
        int status = kExitSuccess;
        QByteArray messages;
    };
    std::vector<Outcome> outcomes(size_t(inputs.size()));
    std::mutex mutex;
    size_t printed = 0; // outcomes printed so far, in input order
    std::atomic<size_t> nextChain{0};
    LutParallel::run(workers, [&](int) {
        for (size_t c = nextChain++; c < chains.size(); c = nextChain++) {
            QSet<QString> written;
            for (const int i : chains[c]) {
                QByteArray messages;
                messageSink = &messages;
                const int result = convertOne(inputs[i], QString(), settings, &written);
                messageSink = nullptr;
                const std::lock_guard<std::mutex> lock(mutex);
                Outcome &outcome = outcomes[size_t(i)];
                outcome.status = result;
                outcome.messages = std::move(messages);
                outcome.done = true;
                for (; printed < outcomes.size() && outcomes[printed].done; ++printed) {
                    std::fputs(outcomes[printed].messages.constData(), stderr);
                    if (status == kExitSuccess)
                        status = outcomes[printed].status;
                }
            }
        }
    });
    return status;
}

// What --info says of a file beyond its tables and domains: the shaper's
// points, input spans other than 0..1, values the plain reading clamped and
// whether the file is evaluated as a whole. Nothing for a plain table.
QString meaningText(const Read_LUTFile &lut)
{
    const LutMeaning &meaning = lut.meaning;
    QString text;
    const auto triple = [](const double v[3]) {
        return QStringLiteral("%1 %2 %3").arg(v[0]).arg(v[1]).arg(v[2]);
    };
    size_t shaperPoints = 0;
    for (const LutCurve &curve : meaning.shaper)
        shaperPoints = std::max(shaperPoints, curve.x.size());
    if (shaperPoints > 0)
        text += QStringLiteral("shaper1D: %1\n").arg(shaperPoints);
    else if (meaning.table1DFeeds3D)
        text += QStringLiteral("shaper1D: %1\n").arg(lut.size1D);
    if (lut.size3D >= 1 && !meaning.inputSpan3DIsUnit())
        text += QStringLiteral("inputRange3D: %1 / %2\n").arg(triple(meaning.inputMin3D), triple(meaning.inputMax3D));
    if (lut.size1D >= 1 && !meaning.inputSpan1DIsUnit())
        text += QStringLiteral("inputRange1D: %1 / %2\n").arg(triple(meaning.inputMin1D), triple(meaning.inputMax1D));
    if (meaning.clampedValues > 0)
        text += QStringLiteral("outOfRange: %1\n").arg(meaning.clampedValues);
    if (meaning.evaluate)
        text += QStringLiteral("transform: evaluated as a whole\n");
    return text;
}

int printInfo(const QStringList &inputs, const LutConversion::Request &settings)
{
    int status = kExitSuccess;
    for (const QString &input : inputs) {
        Read_LUTFile lut;
        const LutFormat *format = nullptr;
        if (!readInput(input, settings, &lut, &format)) {
            if (status == kExitSuccess)
                status = kExitReadFailed;
            continue;
        }
        printOut(QStringLiteral("file: %1\nformat: %2\nsize3D: %3\nsize1D: %4\n"
                                "domainMin3D: %5\ndomainMax3D: %6\ndomainMin1D: %7\ndomainMax1D: %8\n")
                     .arg(input, formatNameAndId(format))
                     .arg(lut.size3D)
                     .arg(lut.size1D)
                     .arg(formatTriple(lut.domainMin3D), formatTriple(lut.domainMax3D),
                          formatTriple(lut.domainMin1D), formatTriple(lut.domainMax1D)));
        printOut(meaningText(lut));
    }
    return status;
}

// Reads the LUT of --apply and --preview for what it means (even with --plain
// does); prints the failure and returns false.
bool readLutToApply(const QString &lutPath, LutConversion::Request settings, Read_LUTFile *lut)
{
    settings.bake = true;
    // The LUT and the steps after it (--then, the grades, the ranges), as one
    // transform evaluated at every pixel.
    std::unique_ptr<QTemporaryFile> spool;
    LutConversion::Request request;
    if (!requestFor(lutPath, settings, &spool, &request))
        return false;
    const LutConversion::Result result = LutConversion::readTransform(request, lut);
    if (result.status != LutConversion::Status::Done) {
        printError(result.file, result.reason);
        return false;
    }
    const bool has3D = lut->size3D >= 1 && lut->table3D.size() == lut->size3D;
    const bool has1D = lut->size1D >= 1 && lut->table1D.size() == lut->size1D;
    if (has3D || has1D || lut->meaning.evaluate)
        return true;
    printError(LutConversion::inputName(lutPath), QStringLiteral("holds no table to apply"));
    return false;
}

// --apply LUT IN OUT.
// quality: --quality, 0 when not given.
int applyToPicture(const QString &lutPath, const QStringList &files, const LutConversion::Request &settings, int quality)
{
    if (files.size() != 2)
        return usageError(QStringLiteral("--apply needs a picture IN and an OUT to write, got %1 file arguments")
                              .arg(files.size()));
    LutImageCodec::PictureOutput output;
    if (settings.scale == 255 || settings.scale == 1023 || settings.scale == 65535)
        output.bits = settings.scale == 255 ? 8 : settings.scale == 1023 ? 10 : 16;
    else if (settings.scale != 0)
        return usageError(QStringLiteral("--scale with --apply is 255 (8 bits), 1023 (10, a DPX) or 65535 (16 bits), not %1")
                              .arg(settings.scale));
    if (quality != 0) {
        const QString suffix = QFileInfo(files[1]).suffix().toLower();
        if (suffix != QLatin1String("jpg") && suffix != QLatin1String("jpeg"))
            return usageError(QStringLiteral("--quality is the quality of a JPEG picture (.jpg, .jpeg) written by --apply"));
        output.jpegQuality = quality;
    }
    Read_LUTFile lut;
    if (!readLutToApply(lutPath, settings, &lut))
        return kExitReadFailed;
    QString reason;
    QStringList notes;
    const int status = LutImageCodec::applyToPicture(lut, files[0], files[1], output, &reason, &notes);
    if (status == 1) {
        printError(files[0], reason);
        return kExitReadFailed;
    }
    if (status == 2) {
        printError(files[1], reason);
        return kExitWriteFailed;
    }
    for (const QString &note : qAsConst(notes))
        printNote(files[1], note);
    return kExitSuccess;
}

// --preview LUT OUT.png.
int writePreview(const QString &lutPath, const QStringList &files, const LutConversion::Request &settings,
                 LutImageCodec::PreviewInput input)
{
    if (files.size() != 1)
        return usageError(QStringLiteral("--preview needs one OUT.png to write, got %1 file arguments").arg(files.size()));
    if (settings.scale != 0)
        return usageError(QStringLiteral("--preview writes an 8-bit PNG and takes no --scale"));
    const QString &output = files[0];
    if (output != QLatin1String(kStandardStream) && QFileInfo(output).suffix().toLower() != QLatin1String("png")) {
        printError(output, QStringLiteral("the preview is a PNG image: name it .png"));
        return kExitWriteFailed;
    }
    Read_LUTFile lut;
    if (!readLutToApply(lutPath, settings, &lut))
        return kExitReadFailed;
    QString reason;
    LutImageCodec::PreviewSettings preview;
    preview.input = input;
    preview.title = lutPath == QLatin1String(kStandardStream) ? QStringLiteral("standard input")
                                                              : QFileInfo(lutPath).fileName();
    if (!LutImageCodec::writePreview(lut, output, preview, &reason)) {
        printError(output == QLatin1String(kStandardStream) ? QStringLiteral("standard output") : output, reason);
        return kExitWriteFailed;
    }
    return kExitSuccess;
}

// The statistics' numbers, seven significant digits; a column of width.
QString number(double value, int width = 0)
{
    return QStringLiteral("%1").arg(QString::number(value, 'g', 7), -width);
}

// --compare A B: A read as INPUT is (its format, order, pipeline), B as a
// --then FILE is, both for what they mean; evaluated on size points per axis.
int compareFiles(const QStringList &files, const LutConversion::Request &settings, int size, double tolerance)
{
    if (files.size() != 2)
        return usageError(QStringLiteral("--compare needs two files A and B, got %1 file arguments").arg(files.size()));
    if (files[0] == QLatin1String(kStandardStream) && files[1] == QLatin1String(kStandardStream))
        return usageError(QStringLiteral("--compare can read standard input for one file only"));
    LutConversion::Request first = settings;
    first.bake = true;
    LutConversion::Request second;
    second.cccid = settings.cccid;
    const LutConversion::Request *requests[2] = {&first, &second};
    Read_LUTFile luts[2];
    QString names[2];
    for (int f = 0; f < 2; ++f) {
        std::unique_ptr<QTemporaryFile> spool;
        LutConversion::Request request;
        if (!requestFor(files[f], *requests[f], &spool, &request))
            return kExitNotCompared;
        names[f] = request.inputName;
        const LutConversion::Result result = LutConversion::readTransform(request, &luts[f]);
        if (result.status != LutConversion::Status::Done) {
            printError(result.file, result.reason);
            return kExitNotCompared;
        }
    }
    LutCalc::Difference difference;
    QString reason;
    int side = -1;
    try {
        if (!LutCalc::compare(&luts[0], &luts[1], size, &difference, &reason, &side)) {
            printError(side < 0 ? QString() : names[side], reason);
            return kExitNotCompared;
        }
    } catch (const std::bad_alloc &) {
        printError(names[0], QStringLiteral("out of memory to compare with %1 on %2 points per axis").arg(names[1]).arg(size));
        return kExitNotCompared;
    } catch (const std::exception &e) {
        printError(names[0], QString::fromLocal8Bit(e.what()));
        return kExitNotCompared;
    }

    QString text = QStringLiteral("compared on %1x%1x%1 points\n").arg(size);
    text += QStringLiteral("channel  largest        mean           99%            at r g b\n");
    double largest = 0.0;
    for (int c = 0; c < 3; ++c) {
        text += QStringLiteral("%1        %2 %3 %4 %5 %6 %7\n")
                    .arg(QLatin1Char("RGB"[c]))
                    .arg(number(difference.largest[c], 14), number(difference.mean[c], 14),
                         number(difference.percentile99[c], 14), number(difference.at[c][0]),
                         number(difference.at[c][1]), number(difference.at[c][2]));
        largest = std::max(largest, difference.largest[c]);
    }
    const bool agree = largest <= tolerance;
    text += QStringLiteral("%1: largest %2 %3 tolerance %4\n")
                .arg(agree ? QStringLiteral("agree") : QStringLiteral("differ"), number(largest),
                     agree ? QStringLiteral("<=") : QStringLiteral(">"), number(tolerance));
    printOut(text);
    // A report that did not reach standard output is no answer (run() says why).
    if (std::fflush(stdout) != 0 && outputErrno == 0)
        outputErrno = errno ? errno : EIO;
    if (outputErrno != 0)
        return kExitNotCompared;
    return agree ? kExitSuccess : kExitDiffer;
}

void printFormats()
{
    QString text;
    for (int id = 0; id < LutFormats::kCount; ++id) {
        const LutFormat *format = LutFormats::byId(id);
        text += QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\n")
                    .arg(format->number())
                    .arg(QLatin1String(format->name), QString::fromUtf8(format->label),
                         format->dimension == 3   ? QStringLiteral("3D")
                         : format->dimension == 1 ? QStringLiteral("1D")
                                                  : QStringLiteral("3D/1D"),
                         format->canRead() ? QStringLiteral("yes") : QStringLiteral("no"),
                         format->canWrite() ? QStringLiteral("yes") : QStringLiteral("no"), scaleText(format));
    }
    printOut(text);
}

// text's words wrapped at 80 columns.
QString wrapped(const QString &text)
{
    QString out, line;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > 80) {
            out += line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return out + line;
}

// "Formats: cube, ... (identifiers 0 to N in that order).", wrapped.
QString formatNames()
{
    QStringList names;
    for (int id = 0; id < LutFormats::kCount; ++id)
        names << QLatin1String(LutFormats::byId(id)->name);
    return wrapped(QStringLiteral("Formats: %1 (identifiers 0 to %2 in that order).")
                       .arg(names.join(QStringLiteral(", ")))
                       .arg(LutFormats::kCount - 1));
}

QString helpText()
{
    QStringList scaled;
    for (int id = 0; id < LutFormats::kCount; ++id) {
        const LutFormat *format = LutFormats::byId(id);
        if (format->canWrite() && format->takesScale())
            scaled << QStringLiteral("%1 (%2)").arg(QLatin1String(format->name), scaleText(format));
    }
    const QString scales = wrapped(
        QStringLiteral("Formats that take --scale, and what they write without it: %1. \"By length\" is the depth "
                       "the entry count implies: 255 for 256 entries, 1023 for 1024, 4095 for 4096. A Discreet 1D "
                       "lut of codes holds 256, 1024, 4096 or 65536 entries and an indexed 1D lut 256: other tables "
                       "are resampled to the next such length, with a note on stderr. LUT images hold 8-bit "
                       "(--scale 255) or 16-bit codes (PNG or TIFF; a BMP holds 8 bits). Every other format holds "
                       "reals.")
            .arg(scaled.join(QStringLiteral(", "))));
    return QString::fromLatin1(kHelp)
        .arg(scales)
        .arg(LutImageCodec::kMaxPicturePixels)
        .arg(LutImageCodec::kMaxPictureWidth)
        .arg(LutImageCodec::kMaxDecodedBytes >> 20)
        .arg(kMaxProcessNodes)
        .arg(LutCalc::kMaxEvaluationSteps)
        .arg(kMaxStandardInput >> 20)
        .arg(LutFormats::kCount - 1)
        .arg(formatNames());
}

} // namespace

namespace {

int runCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption fromOption({QStringLiteral("f"), QStringLiteral("from")}, QString(),
                                        QStringLiteral("FORMAT"));
    const QCommandLineOption toOption({QStringLiteral("t"), QStringLiteral("to")}, QString(), QStringLiteral("FORMAT"));
    const QCommandLineOption outDirOption(QStringLiteral("out-dir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption sizeOption({QStringLiteral("s"), QStringLiteral("size")}, QString(), QStringLiteral("N"));
    const QCommandLineOption inOrderOption(QStringLiteral("in-order"), QString(), QStringLiteral("ORDER"));
    const QCommandLineOption outOrderOption(QStringLiteral("out-order"), QString(), QStringLiteral("ORDER"));
    const QCommandLineOption scaleOption(QStringLiteral("scale"), QString(), QStringLiteral("N"));
    const QCommandLineOption jobsOption({QStringLiteral("j"), QStringLiteral("jobs")}, QString(), QStringLiteral("N"));
    const QCommandLineOption bakeOption(QStringLiteral("bake"));
    const QCommandLineOption plainOption(QStringLiteral("plain"));
    const QCommandLineOption force3DOption(QStringLiteral("3d"));
    const QCommandLineOption cccidOption(QStringLiteral("cccid"), QString(), QStringLiteral("ID"));
    const QCommandLineOption applyOption(QStringLiteral("apply"), QString(), QStringLiteral("LUT"));
    const QCommandLineOption previewOption(QStringLiteral("preview"), QString(), QStringLiteral("LUT"));
    const QCommandLineOption qualityOption(QStringLiteral("quality"), QString(), QStringLiteral("Q"));
    const QCommandLineOption previewInputOption(QStringLiteral("preview-input"), QString(), QStringLiteral("ENCODING"));
    const QCommandLineOption thenOption(QStringLiteral("then"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption thenInverseOption(QStringLiteral("then-inverse"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption inverseOption(QStringLiteral("inverse"));
    const QCommandLineOption slopeOption(QStringLiteral("slope"), QString(), QStringLiteral("R,G,B"));
    const QCommandLineOption offsetOption(QStringLiteral("offset"), QString(), QStringLiteral("R,G,B"));
    const QCommandLineOption powerOption(QStringLiteral("power"), QString(), QStringLiteral("R,G,B"));
    const QCommandLineOption satOption(QStringLiteral("sat"), QString(), QStringLiteral("S"));
    const QCommandLineOption inRangeOption(QStringLiteral("in-range"), QString(), QStringLiteral("RANGE"));
    const QCommandLineOption outRangeOption(QStringLiteral("out-range"), QString(), QStringLiteral("RANGE"));
    const QCommandLineOption compareOption(QStringLiteral("compare"));
    const QCommandLineOption toleranceOption(QStringLiteral("tolerance"), QString(), QStringLiteral("T"));
    const QCommandLineOption inputRangeOption(QStringLiteral("input-range"), QString(), QStringLiteral("MIN,MAX"));
    const QCommandLineOption shaperOption(QStringLiteral("shaper"), QString(), QStringLiteral("CURVE"));
    const QCommandLineOption shaperSizeOption(QStringLiteral("shaper-size"), QString(), QStringLiteral("N"));
    const QCommandLineOption quietOption(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption infoOption(QStringList{QStringLiteral("i"), QStringLiteral("info")});
    const QCommandLineOption formatsOption(QStringLiteral("formats"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringList{QStringLiteral("V"), QStringLiteral("version")});
    parser.addOptions({fromOption, toOption, outDirOption, sizeOption, inOrderOption, outOrderOption, scaleOption,
                       jobsOption, bakeOption, plainOption, force3DOption, cccidOption, applyOption, previewOption, qualityOption, previewInputOption, thenOption, thenInverseOption, inverseOption, slopeOption, offsetOption, powerOption, satOption, inRangeOption, outRangeOption, inputRangeOption, shaperOption, shaperSizeOption, compareOption, toleranceOption, quietOption, infoOption, formatsOption, helpOption,
                       versionOption});

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        printOut(helpText());
        return kExitSuccess;
    }
    if (parser.isSet(versionOption)) {
        printOut(QStringLiteral("%1 %2\n").arg(QLatin1String(kProgram), QLatin1String(kVersion)));
        return kExitSuccess;
    }
    if (parser.isSet(formatsOption) && parser.isSet(infoOption))
        return usageError(QStringLiteral("--info and --formats cannot be used together"));
    if (parser.isSet(formatsOption)) {
        printFormats();
        return kExitSuccess;
    }

    quietNotes = parser.isSet(quietOption);
    LutConversion::Request settings;
    if (parser.isSet(bakeOption) && parser.isSet(plainOption))
        return usageError(QStringLiteral("--bake and --plain cannot be used together"));
    settings.bake = !parser.isSet(plainOption);
    settings.force3D = parser.isSet(force3DOption);
    settings.cccid = parser.value(cccidOption);
    if (parser.isSet(fromOption)) {
        settings.from = LutFormats::byName(parser.value(fromOption));
        if (!settings.from)
            return usageError(QStringLiteral("unknown input format \"%1\"").arg(parser.value(fromOption)));
    }
    if (parser.isSet(toOption)) {
        settings.to = LutFormats::byName(parser.value(toOption));
        if (!settings.to)
            return usageError(QStringLiteral("unknown output format \"%1\"").arg(parser.value(toOption)));
    }
    if (parser.isSet(scaleOption)) {
        if (!parseInteger(parser.value(scaleOption), &settings.scale) || settings.scale < 1)
            return usageError(
                QStringLiteral("--scale must be a whole number of 1 or more, not \"%1\"").arg(parser.value(scaleOption)));
    }
    int quality = 0;
    if (parser.isSet(qualityOption)) {
        if (!parseInteger(parser.value(qualityOption), &quality) || quality < 1 || quality > 100)
            return usageError(
                QStringLiteral("--quality must be a whole number from 1 to 100, not \"%1\"").arg(parser.value(qualityOption)));
        if (!parser.isSet(applyOption))
            return usageError(QStringLiteral("--quality is the quality of a JPEG picture written by --apply"));
    }
    LutImageCodec::PreviewInput previewInput = LutImageCodec::PreviewInput::Display;
    if (parser.isSet(previewInputOption)) {
        const QString encoding = parser.value(previewInputOption).trimmed().toLower();
        if (encoding == QLatin1String("log"))
            previewInput = LutImageCodec::PreviewInput::Log;
        else if (encoding == QLatin1String("linear"))
            previewInput = LutImageCodec::PreviewInput::Linear;
        else if (encoding != QLatin1String("display"))
            return usageError(QStringLiteral("--preview-input must be \"display\", \"log\" or \"linear\", not \"%1\"")
                                  .arg(parser.value(previewInputOption)));
        if (!parser.isSet(previewOption))
            return usageError(QStringLiteral("--preview-input is the encoding of --preview's test picture"));
    }
    int jobs = LutParallel::threads();
    if (parser.isSet(jobsOption)) {
        if (!parseInteger(parser.value(jobsOption), &jobs) || jobs < 1)
            return usageError(
                QStringLiteral("-j must be a whole number of 1 or more, not \"%1\"").arg(parser.value(jobsOption)));
        // One thread per processor at most within a conversion.
        LutParallel::setThreads(std::min(jobs, LutParallel::threads()));
    }
    if (parser.isSet(inOrderOption) && !parseOrder(parser.value(inOrderOption), &settings.inOrder))
        return usageError(QStringLiteral("--in-order must be \"default\" or DATA/TABLE with RGB or BGR each, not \"%1\"")
                              .arg(parser.value(inOrderOption)));
    if (parser.isSet(outOrderOption) && !parseOrder(parser.value(outOrderOption), &settings.outOrder))
        return usageError(QStringLiteral("--out-order must be \"default\" or DATA/TABLE with RGB or BGR each, not \"%1\"")
                              .arg(parser.value(outOrderOption)));

    settings.inverse = parser.isSet(inverseOption);
    for (const QCommandLineOption *option : {&inRangeOption, &outRangeOption}) {
        if (!parser.isSet(*option))
            continue;
        const QString range = parser.value(*option).trimmed().toLower();
        if (range != QLatin1String("legal") && range != QLatin1String("full"))
            return usageError(QStringLiteral("--%1 must be \"legal\" or \"full\", not \"%2\"")
                                  .arg(option->names().last(), parser.value(*option)));
        (option == &inRangeOption ? settings.inputLegal : settings.outputLegal) = range == QLatin1String("legal");
    }
    const QString spanProblem = inputSpan(parser, inputRangeOption, shaperOption, shaperSizeOption, &settings);
    if (!spanProblem.isEmpty())
        return usageError(spanProblem);
    if (settings.inputRange) {
        // The span shapes a LUT file written from what the input means.
        for (const QCommandLineOption *option : {&plainOption, &applyOption, &previewOption, &infoOption}) {
            if (parser.isSet(*option))
                return usageError(QStringLiteral("--%1 cannot be used with --input-range").arg(option->names().last()));
        }
    }
    const QString stepsProblem = pipelineSteps(
        arguments, parser, {&thenOption, &thenInverseOption, &slopeOption, &offsetOption, &powerOption, &satOption},
        {&fromOption, &toOption, &outDirOption, &sizeOption, &inOrderOption, &outOrderOption, &scaleOption, &jobsOption,
         &cccidOption, &applyOption, &previewOption, &qualityOption, &previewInputOption, &inRangeOption, &outRangeOption,
         &inputRangeOption, &shaperOption, &shaperSizeOption, &toleranceOption},
        &settings.steps);
    if (!stepsProblem.isEmpty())
        return usageError(stepsProblem);
    if (settings.inverse || !settings.steps.empty() || settings.inputLegal || settings.outputLegal) {
        // The steps compose what the files mean, into a LUT file written.
        for (const QCommandLineOption *option : {&plainOption, &infoOption}) {
            if (parser.isSet(*option))
                return usageError(QStringLiteral("--%1 cannot be used with --inverse, --then, --then-inverse, the grade options or a legal range")
                                      .arg(option->names().last()));
        }
    }

    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(toleranceOption) && !parser.isSet(compareOption))
        return usageError(QStringLiteral("--tolerance is for --compare"));
    if (parser.isSet(compareOption)) {
        // Two files read and evaluated, nothing written: what shapes or
        // names an output has no place here.
        for (const QCommandLineOption *option : {&outDirOption, &applyOption, &previewOption, &infoOption, &toOption,
                                                 &scaleOption, &outOrderOption, &force3DOption, &plainOption}) {
            if (parser.isSet(*option))
                return usageError(QStringLiteral("--%1 cannot be used with --compare").arg(option->names().last()));
        }
        int size = kCompareSize;
        if (parser.isSet(sizeOption) && (!parseInteger(parser.value(sizeOption), &size) || size < 2 || size > kMaxCubeSize))
            return usageError(QStringLiteral("--size must be a whole number from 2 to %1, not \"%2\"")
                                  .arg(kMaxCubeSize)
                                  .arg(parser.value(sizeOption)));
        double tolerance = kCompareTolerance;
        if (parser.isSet(toleranceOption)) {
            bool ok = false;
            tolerance = parser.value(toleranceOption).trimmed().toDouble(&ok);
            if (!ok || !(tolerance >= 0.0) || std::isinf(tolerance))
                return usageError(QStringLiteral("--tolerance must be a number of 0 or more, not \"%1\"")
                                      .arg(parser.value(toleranceOption)));
        }
        return compareFiles(positional, settings, size, tolerance);
    }
    if (parser.isSet(applyOption) || parser.isSet(previewOption)) {
        // A picture's road: the options that shape a LUT file do not apply.
        const bool applying = parser.isSet(applyOption);
        if (applying && parser.isSet(previewOption))
            return usageError(QStringLiteral("--apply and --preview cannot be used together"));
        for (const QCommandLineOption *option : {&infoOption, &toOption, &outDirOption, &sizeOption, &outOrderOption}) {
            if (parser.isSet(*option))
                return usageError(QStringLiteral("--%1 cannot be used with --%2")
                                      .arg(option->names().last(),
                                           applying ? QStringLiteral("apply") : QStringLiteral("preview")));
        }
        return applying ? applyToPicture(parser.value(applyOption), positional, settings, quality)
                        : writePreview(parser.value(previewOption), positional, settings, previewInput);
    }
    if (parser.isSet(infoOption)) {
        if (positional.isEmpty())
            return usageError(QStringLiteral("--info needs at least one INPUT"));
        return printInfo(positional, settings);
    }

    // The output formats this run may write: the one asked for, the one the
    // output's extension names, or (into a directory) cube and spi1d.
    const bool intoDirectory = parser.isSet(outDirOption);
    QList<const LutFormat *> outFormats;
    if (settings.to) {
        outFormats << settings.to;
    } else if (intoDirectory) {
        outFormats << &LutFormats::row(LutFormatId::Cube) << &LutFormats::row(LutFormatId::Spi1D);
    } else if (positional.size() == 2) {
        // Standard output has no name and takes cube; a file's name must name
        // its format, or --to must.
        const QString &output = positional[1];
        const LutFormat *byExtension = LutFormats::forOutput(output);
        if (!byExtension && output != QLatin1String(kStandardStream)) {
            const QString suffix = QFileInfo(output).suffix();
            return usageError(suffix.isEmpty()
                                  ? QStringLiteral("the output %1 has no extension to tell its format: give --to FORMAT")
                                        .arg(output)
                                  : QStringLiteral("the output %1 has the unknown extension \".%2\": give --to FORMAT")
                                        .arg(output, suffix));
        }
        outFormats << (byExtension ? byExtension : &LutFormats::row(LutFormatId::Cube));
    }
    if (parser.isSet(sizeOption)) {
        // A 1-point lattice has no step to resample with; beyond the bounds
        // the table would not fit the container.
        bool any1D = false;
        for (const LutFormat *format : qAsConst(outFormats))
            any1D = any1D || format->dimension != 3;
        const int bound = any1D ? kMax1DSize : kMaxCubeSize;
        if (!parseInteger(parser.value(sizeOption), &settings.size) || settings.size < 2 || settings.size > bound)
            return usageError(QStringLiteral("--size must be a whole number from 2 to %1, not \"%2\"")
                                  .arg(bound)
                                  .arg(parser.value(sizeOption)));
    }
    // Codes in a format whose reader takes them as reals would mean another table.
    for (const LutFormat *format : qAsConst(outFormats)) {
        if (settings.scale >= 2 && !format->takesScale())
            return usageError(QStringLiteral("--scale %1: the %2 format holds reals only and takes no scale above 1")
                                  .arg(settings.scale)
                                  .arg(QLatin1String(format->name)));
    }

    if (intoDirectory) {
        if (positional.isEmpty())
            return usageError(QStringLiteral("--out-dir needs at least one INPUT"));
        if (positional.contains(QLatin1String(kStandardStream)))
            return usageError(QStringLiteral("--out-dir names its files after the inputs: it cannot read standard input"));
        settings.outputDir = parser.value(outDirOption);
        // A missing directory is made; if that fails, every write reports it.
        QString ignored;
        LutFileNames::makePath(settings.outputDir, &ignored);
        return convertBatch(positional, settings, jobs);
    }

    if (positional.size() != 2)
        return usageError(positional.isEmpty() ? QStringLiteral("no INPUT and OUTPUT given")
                                               : QStringLiteral("expected INPUT and OUTPUT, got %1 file arguments")
                                                     .arg(positional.size()));
    settings.to = outFormats.first();
    QSet<QString> written;
    return convertOne(positional[0], positional[1], settings, &written);
}

} // namespace

int run(const QStringList &arguments)
{
    outputErrno = 0;
    // Every output of the run goes to disk in one round at the end, before
    // the status is known: a run that ends with 0 has all of them on disk.
    LutSyncRound syncRound;
    int status = runCommand(arguments);
    QString unsynced, syncReason;
    if (!syncRound.finish(&unsynced, &syncReason)) {
        printError(unsynced, QStringLiteral("write failed: %1").arg(syncReason));
        if (status == kExitSuccess)
            status = kExitWriteFailed;
    }
    // What went to standard output through stdio (--info, --formats,
    // --help) is checked like any other output.
    if (std::fflush(stdout) != 0 && outputErrno == 0)
        outputErrno = errno ? errno : EIO;
    if (outputErrno == 0)
        return status;
    printError(QStringLiteral("standard output"), QStringLiteral("write failed: %1").arg(qt_error_string(outputErrno)));
    return status == kExitSuccess ? kExitWriteFailed : status;
}

} // namespace ConvertCommand
