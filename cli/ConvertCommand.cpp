#include "cli/ConvertCommand.h"

#include "calc/LutCalc.h"
#include "lut/LutFormats.h"
#include "lut/LutTable.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace ConvertCommand {

namespace {

const char kProgram[] = "chromaduct-convert";
const char kVersion[] = "1.3.30";

const char kHelp[] =
    "Usage:\n"
    "  chromaduct-convert [options] INPUT OUTPUT\n"
    "  chromaduct-convert [options] --out-dir DIR INPUT...\n"
    "  chromaduct-convert --info INPUT...\n"
    "  chromaduct-convert --formats\n"
    "\n"
    "Converts colour look-up table files between the formats of the catalogue.\n"
    "\n"
    "Options:\n"
    "  -f, --from FORMAT      input format: identifier 0-16 or name; default: chosen\n"
    "                         from INPUT's extension (and contents where formats share\n"
    "                         one); cube for any other extension\n"
    "  -t, --to FORMAT        output format; default: chosen from OUTPUT's extension\n"
    "                         (cube for an unknown one; with --out-dir: cube)\n"
    "      --out-dir DIR      convert each INPUT on its own into DIR (made if missing),\n"
    "                         named after the input with the output format's\n"
    "                         first extension\n"
    "  -s, --size N           output cube size, 2 to 256; default: the input's own\n"
    "                         size (no resampling)\n"
    "      --in-order ORDER   \"default\" (the format's own order) or DATA/TABLE, each\n"
    "                         RGB or BGR, e.g. RGB/BGR\n"
    "      --out-order ORDER  the same for writing; \"default\" writes the format's own\n"
    "                         order; for cube it means data RGB, table BGR: the\n"
    "                         standard layout, each line red green blue with red\n"
    "                         varying fastest\n"
    "      --scale N          output scale: 1 (default) writes normalised reals, 2 or\n"
    "                         more integers (1023, 4095, ...)\n"
    "  -i, --info             print what each INPUT holds, then exit\n"
    "      --formats          print the catalogue, one format per line, tab-separated:\n"
    "                         identifier, name, label, dimension (3D/1D), can read\n"
    "                         (yes/no), can write (yes/no)\n"
    "  -h, --help             print this help\n"
    "  -V, --version          print the version\n"
    "\n"
    "Formats: cube, tiled-image, strip-image, 3dl, pandora, look, discreet1d,\n"
    "lut1d, davlut, csp, truelight, itx, spi1d, spi3d, csvlog, zyt1d, zyt3d\n"
    "(identifiers 0 to 16 in that order).\n"
    "\n"
    "Exit status: 0 success; 1 an input could not be read; 2 an output could not\n"
    "be written, the format has no writer, or the input lacks the table the output\n"
    "needs; 64 a usage error. With --out-dir every input is tried and the status is\n"
    "that of the first failure.\n";

void printOut(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

// One line on stderr: "chromaduct-convert: FILE: REASON" (no file for usage errors).
void printError(const QString &file, const QString &reason)
{
    QString line = QLatin1String(kProgram) + QLatin1String(": ");
    if (!file.isEmpty())
        line += file + QLatin1String(": ");
    line += reason + QLatin1Char('\n');
    std::fputs(line.toUtf8().constData(), stderr);
}

int usageError(const QString &reason)
{
    printError(QString(), reason + QLatin1String(" (see --help)"));
    return kExitUsage;
}

// An order choice of one side: the format's own, or explicit flags.
struct OrderChoice
{
    bool isDefault = true;
    bool dataRGB = true;
    bool tableRGB = true;
};

bool parseOrder(const QString &text, OrderChoice *order)
{
    const QString value = text.trimmed().toUpper();
    if (value == QLatin1String("DEFAULT")) {
        *order = OrderChoice();
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
    order->isDefault = false;
    return channel(parts[0], &order->dataRGB) && channel(parts[1], &order->tableRGB);
}

bool parseInteger(const QString &text, int *value)
{
    bool ok = false;
    *value = text.trimmed().toInt(&ok);
    return ok;
}

QString formatTriple(const float v[3])
{
    return QString::number(double(v[0])) + QLatin1Char(' ') + QString::number(double(v[1])) + QLatin1Char(' ')
        + QString::number(double(v[2]));
}

QString formatNameAndId(const LutFormat *format)
{
    return QStringLiteral("%1 (%2)").arg(QLatin1String(format->name)).arg(format->id);
}

// What the command line asks of every conversion.
struct Settings
{
    const LutFormat *from = nullptr; // null: chosen per input
    const LutFormat *to = nullptr;   // null: chosen from the output's extension
    int size = 0;                    // 0: the input's own size
    int scale = 1;
    OrderChoice inOrder;
    OrderChoice outOrder;
};

// A full read of path into lut; prints the failure and returns false.
bool readInput(const QString &path, const LutFormat *format, const OrderChoice &order, Read_LUTFile *lut)
{
    LutFileOptions options;
    options.path = path;
    options.format = format->id;
    options.defaultOrder = order.isDefault;
    options.dataOrderRGB = order.dataRGB;
    options.tableOrderRGB = order.tableRGB;
    if (lut->readLut(options, false))
        return true;
    printError(path, lut->errorString.isEmpty() ? QStringLiteral("cannot be read as %1").arg(formatNameAndId(format))
                                                : lut->errorString);
    return false;
}

int convertOne(const QString &input, const QString &output, const LutFormat *outFormat, const Settings &settings)
{
    if (!outFormat->canWrite()) {
        printError(output, QStringLiteral("the %1 format has no writer").arg(QLatin1String(outFormat->name)));
        return kExitWriteFailed;
    }
    const LutFormat *inFormat = settings.from ? settings.from : LutFormats::forInput(input);
    Read_LUTFile lut;
    if (!readInput(input, inFormat, settings.inOrder, &lut))
        return kExitReadFailed;

    Read_LUTFile *source = &lut;
    Read_LUTFile resampled;
    int outSize = 0;
    if (outFormat->dimension == 3) {
        if (lut.size3D < 1 || lut.table3D.size() != lut.size3D) {
            printError(input, QStringLiteral("holds no 3D table, which the %1 output needs")
                                  .arg(QLatin1String(outFormat->name)));
            return kExitWriteFailed;
        }
        outSize = settings.size > 0 ? settings.size : lut.size3D;
        if (outSize != lut.size3D) {
            if (!resampled.setSize3D(outSize, false) || !LutCalc::resampleCube(&lut, &resampled)) {
                printError(input, QStringLiteral("cannot resample to size %1: %2").arg(outSize).arg(resampled.errorString));
                return kExitWriteFailed;
            }
            source = &resampled;
        }
    } else if (lut.size1D < 1 || lut.table1D.size() != lut.size1D) {
        printError(input, QStringLiteral("holds no 1D table, which the %1 output needs")
                              .arg(QLatin1String(outFormat->name)));
        return kExitWriteFailed;
    }

    // "default": the writer's own order where it has one (defaultOrder lets
    // it force it); otherwise the order the format's reader assumes, so that
    // the file reads back as it came in (for cube: data RGB, table BGR).
    LutFileOptions options;
    options.path = output;
    options.format = outFormat->id;
    options.defaultOrder = settings.outOrder.isDefault;
    options.dataOrderRGB = settings.outOrder.isDefault ? outFormat->readDataRGB : settings.outOrder.dataRGB;
    options.tableOrderRGB = settings.outOrder.isDefault ? outFormat->readTableRGB : settings.outOrder.tableRGB;
    options.outputScale = settings.scale;
    options.size3D = outSize;
    Write_LUTFile writer;
    if (!writer.writeLut(options, source)) {
        printError(output, writer.errorString.isEmpty() ? QStringLiteral("cannot be written") : writer.errorString);
        return kExitWriteFailed;
    }
    return kExitSuccess;
}

int printInfo(const QStringList &inputs, const Settings &settings)
{
    int status = kExitSuccess;
    for (const QString &input : inputs) {
        const LutFormat *format = settings.from ? settings.from : LutFormats::forInput(input);
        Read_LUTFile lut;
        if (!readInput(input, format, settings.inOrder, &lut)) {
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
    }
    return status;
}

void printFormats()
{
    QString text;
    for (int id = 0; id < LutFormats::kCount; ++id) {
        const LutFormat *format = LutFormats::byId(id);
        text += QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\n")
                    .arg(format->id)
                    .arg(QLatin1String(format->name), QString::fromUtf8(format->label),
                         format->dimension == 3 ? QStringLiteral("3D") : QStringLiteral("1D"),
                         format->canRead() ? QStringLiteral("yes") : QStringLiteral("no"),
                         format->canWrite() ? QStringLiteral("yes") : QStringLiteral("no"));
    }
    printOut(text);
}

} // namespace

int run(const QStringList &arguments)
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
    const QCommandLineOption infoOption(QStringList{QStringLiteral("i"), QStringLiteral("info")});
    const QCommandLineOption formatsOption(QStringLiteral("formats"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringList{QStringLiteral("V"), QStringLiteral("version")});
    parser.addOptions({fromOption, toOption, outDirOption, sizeOption, inOrderOption, outOrderOption, scaleOption,
                       infoOption, formatsOption, helpOption, versionOption});

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption)) {
        printOut(QString::fromLatin1(kHelp));
        return kExitSuccess;
    }
    if (parser.isSet(versionOption)) {
        printOut(QStringLiteral("%1 %2\n").arg(QLatin1String(kProgram), QLatin1String(kVersion)));
        return kExitSuccess;
    }
    if (parser.isSet(formatsOption)) {
        printFormats();
        return kExitSuccess;
    }

    Settings settings;
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
    if (parser.isSet(sizeOption)) {
        // A 1-point lattice has no step to resample with; above 256 the
        // table would not fit the container's bound.
        if (!parseInteger(parser.value(sizeOption), &settings.size) || settings.size < 2
            || settings.size > kMaxCubeSize)
            return usageError(QStringLiteral("--size must be a whole number from 2 to %1, not \"%2\"")
                                  .arg(kMaxCubeSize)
                                  .arg(parser.value(sizeOption)));
    }
    if (parser.isSet(scaleOption)) {
        if (!parseInteger(parser.value(scaleOption), &settings.scale) || settings.scale < 1)
            return usageError(
                QStringLiteral("--scale must be a whole number of 1 or more, not \"%1\"").arg(parser.value(scaleOption)));
    }
    if (parser.isSet(inOrderOption) && !parseOrder(parser.value(inOrderOption), &settings.inOrder))
        return usageError(QStringLiteral("--in-order must be \"default\" or DATA/TABLE with RGB or BGR each, not \"%1\"")
                              .arg(parser.value(inOrderOption)));
    if (parser.isSet(outOrderOption) && !parseOrder(parser.value(outOrderOption), &settings.outOrder))
        return usageError(QStringLiteral("--out-order must be \"default\" or DATA/TABLE with RGB or BGR each, not \"%1\"")
                              .arg(parser.value(outOrderOption)));

    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(infoOption)) {
        if (positional.isEmpty())
            return usageError(QStringLiteral("--info needs at least one INPUT"));
        return printInfo(positional, settings);
    }

    if (parser.isSet(outDirOption)) {
        if (positional.isEmpty())
            return usageError(QStringLiteral("--out-dir needs at least one INPUT"));
        const LutFormat *outFormat = settings.to ? settings.to : LutFormats::byId(0);
        const QStringList extensions = outFormat->extensionList();
        const QString extension = extensions.isEmpty() ? QString() : extensions.first();
        const QDir dir(parser.value(outDirOption));
        // A missing directory is made; if that fails, every write reports it.
        QDir().mkpath(dir.path());
        int status = kExitSuccess;
        for (const QString &input : positional) {
            const QString output = dir.filePath(QFileInfo(input).completeBaseName() + extension);
            const int result = convertOne(input, output, outFormat, settings);
            if (status == kExitSuccess)
                status = result;
        }
        return status;
    }

    if (positional.size() != 2)
        return usageError(positional.isEmpty() ? QStringLiteral("no INPUT and OUTPUT given")
                                               : QStringLiteral("expected INPUT and OUTPUT, got %1 file arguments")
                                                     .arg(positional.size()));
    const QString &output = positional[1];
    const LutFormat *outFormat = settings.to ? settings.to : LutFormats::forOutput(output);
    if (!outFormat)
        outFormat = LutFormats::byId(0);
    return convertOne(positional[0], output, outFormat, settings);
}

} // namespace ConvertCommand
