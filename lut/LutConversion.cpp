#include "lut/LutConversion.h"

#include "calc/LutCalc.h"
#include "calc/LutInverse.h"
#include "lut/LutFileNames.h"
#include "lut/LutFileOptions.h"
#include "lut/LutTable.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>

namespace LutConversion {

namespace {

const char kStandardStream[] = "-";

// The lattice a 1D-only input is baked on for a 3D output without a size.
constexpr int kDefaultBakeSize = 33;

QString formatNameAndId(const LutFormat *format)
{
    return QStringLiteral("%1 (%2)").arg(QLatin1String(format->name)).arg(format->number());
}

Result failure(Status status, const QString &file, const QString &reason)
{
    Result result;
    result.status = status;
    result.file = file;
    result.reason = reason;
    return result;
}

bool holds3D(const Read_LUTFile &lut)
{
    return lut.size3D >= 1 && lut.table3D.size() == lut.size3D;
}

bool holds1D(const Read_LUTFile &lut)
{
    return lut.size1D >= 1 && lut.table1D.size() == lut.size1D;
}

// What the output side writes: the output's name and format, the table to
// write (the input's own, or a resampled or baked copy) and its scale.
struct Prepared
{
    QString output;
    const LutFormat *format = nullptr;
    const Read_LUTFile *table = nullptr;
    Read_LUTFile resampled;
    int size3D = 0;
    int scale = 0;
};

// An input span's curve onto the lattice's 0..1 (linear, or log2 for a
// log2 shaper) and its inverse. Inputs below the span take 0, above it 1.
double spanPosition(Request::Shaper shaper, double lo, double hi, double x)
{
    double t = shaper == Request::Shaper::Log2 ? std::log2(x / lo) / std::log2(hi / lo) : (x - lo) / (hi - lo);
    if (!(t > 0.0)) // below the span, or NaN (log2 of an input at or below 0)
        t = 0.0;
    return std::min(t, 1.0);
}

double spanInput(Request::Shaper shaper, double lo, double hi, double t)
{
    return shaper == Request::Shaper::Log2 ? lo * std::pow(hi / lo, t) : lo + (hi - lo) * t;
}

// Why format cannot take the input span (and shaper) of request on a table
// of the given dimension; empty when it can.
QString spanProblem(const Request &request, const LutFormat &format, int dimension)
{
    const QString name = QLatin1String(format.name);
    if (request.shaper != Request::Shaper::None && dimension != 3)
        return QStringLiteral("the %1 format holds no 3D table for a shaper to stand in front of").arg(name);
    if (!format.holdsDomain)
        return QStringLiteral("the %1 format holds no input range, which --input-range needs").arg(name);
    if (request.shaper == Request::Shaper::Log2 && !format.holdsShaper)
        return QStringLiteral("the %1 format holds no shaper in front of its table, which --shaper log2 needs").arg(name);
    return QString();
}

// Bakes lut over the input span of request into out (its table allocated at
// the output's size): the lattice point t stands for the input that the
// span's curve maps onto t. With shaperTable, out gains that curve as a 1D
// table of request.shaperSize entries over the span in front of its 3D
// table; otherwise the span becomes the table's own.
bool bakeOverSpan(const Request &request, const Read_LUTFile &lut, bool for3D, bool shaperTable, Read_LUTFile *out)
{
    const double lo = request.inputMin, hi = request.inputMax;
    // Without a 1D table in front, the table spans the inputs linearly.
    const Request::Shaper shaper = shaperTable ? request.shaper : Request::Shaper::Linear;
    Read_LUTFile spanned;
    spanned.meaning.evaluate = [&lut, shaper, lo, hi](double rgb[3]) {
        for (int c = 0; c < 3; ++c)
            rgb[c] = spanInput(shaper, lo, hi, rgb[c]);
        LutCalc::evaluate(&lut, rgb);
    };
    spanned.meaning.evaluateSize3D = LutCalc::hasTransform3D(&lut) ? 1 : 0;
    spanned.meaning.evaluateCost = lut.meaning.evaluate ? lut.meaning.evaluateCost : 0;
    spanned.bakeRead = true;
    if (for3D ? !LutCalc::bakeCube(&spanned, out) : !LutCalc::bake1D(&spanned, out))
        return false;
    // The tables hold what the file means: writers write the span with them.
    out->bakeRead = true;
    LutMeaning &meaning = out->meaning;
    if (shaperTable) {
        const int n = request.shaperSize;
        if (!out->setSize1D(n, false))
            return false;
        for (int i = 0; i < n; ++i) {
            const float t = float(spanPosition(shaper, lo, hi, lo + (hi - lo) * i / (n - 1)));
            std::fill(out->table1D[i], out->table1D[i] + 3, t);
        }
        meaning.table1DFeeds3D = true;
    }
    double *min = for3D && !shaperTable ? meaning.inputMin3D : meaning.inputMin1D;
    double *max = for3D && !shaperTable ? meaning.inputMax3D : meaning.inputMax1D;
    std::fill(min, min + 3, lo);
    std::fill(max, max + 3, hi);
    return true;
}

// Chooses the output and brings lut to the output's lattice. A failure is
// about the input (it lacks what the output needs, or cannot be brought to
// its lattice) or the output (its format cannot hold the table, or another
// input of the run wrote it).
Result prepare(const Request &request, const Read_LUTFile &lut, const QSet<QString> *written, Prepared *out)
{
    Result result;
    const QString inName = request.inputName.isEmpty() ? request.input : request.inputName;
    const bool has3D = holds3D(lut);
    const bool has1D = holds1D(lut);

    const LutFormat *outFormat = request.to;
    if (!outFormat)
        outFormat = &LutFormats::row(request.output.isEmpty() && !has3D && has1D ? LutFormatId::Spi1D : LutFormatId::Cube);
    QString output = request.output;
    if (output.isEmpty()) {
        const QStringList extensions = outFormat->extensionList();
        output = QDir(request.outputDir)
                     .filePath(QFileInfo(request.input).completeBaseName()
                               + (extensions.isEmpty() ? QString() : extensions.first()));
    }
    out->output = output;
    out->format = outFormat;
    const QString outName = outputName(output);
    if (!outFormat->canWrite())
        return failure(Status::WriteFailed, outName,
                       QStringLiteral("the %1 format has no writer").arg(QLatin1String(outFormat->name)));
    // Two inputs of one run that map to one name: the first one's file stays.
    if (written && output != QLatin1String(kStandardStream) && written->contains(LutFileNames::absolutePath(output)))
        return failure(Status::WriteFailed, outName,
                       QStringLiteral("already written from another input of this run; %1 is not written over it")
                           .arg(inName));

    // An input of the run is never written over, not even by its own output.
    if (request.runInputs && output != QLatin1String(kStandardStream)) {
        const QByteArray target = LutFileNames::identity(output);
        if (!target.isEmpty() && request.runInputs->contains(target))
            return failure(Status::WriteFailed, outName,
                           QStringLiteral("is an input of this run; %1 is not written over it").arg(inName));
    }

    Read_LUTFile &resampled = out->resampled;
    const Read_LUTFile *source = &lut;
    int outSize = 0;
    int scale = request.scale;
    // A format of either dimension writes a cube for a transform that mixes
    // the channels, else the 1D table.
    // A shaper stands in front of a 3D table.
    const bool shaped = request.inputRange && request.shaper != Request::Shaper::None;
    const int dimension = outFormat->dimension                       ? outFormat->dimension
        : request.force3D || shaped || LutCalc::hasTransform3D(&lut) ? 3
                                                                      : 1;
    if (request.inputRange) {
        const QString problem = spanProblem(request, *outFormat, dimension);
        if (!problem.isEmpty())
            return failure(Status::WriteFailed, outName, problem);
    }
    // The shaper a format holds is written as a 1D table in front of its
    // 3D table; a linear shaper in a format without one is its domain.
    const bool shaperTable = shaped && outFormat->holdsShaper;
    // A writer handed the container read writes its shaper and spans (the
    // csp and Truelight writers) where its tables are the file's and keep
    // their size: the file written then means what the input means, unbaked.
    const int ownSize = dimension == 3 ? (has3D ? lut.size3D : 0) : (has1D ? lut.size1D : 0);
    const bool frontKeepable = !request.inputRange && outFormat->writesShaper && ownSize > 0 && (request.size <= 0 || request.size == ownSize)
        && outFormat->entriesFor(ownSize, dimension == 3) == ownSize && Write_LUTFile::frontWritable(lut, dimension == 3);
    // A file whose steps no table holds is always baked. A file whose tables
    // are its whole transform is resampled (or written as it is): the very
    // values its evaluation would give, at a fraction of the cost.
    const bool needsEvaluation = bool(lut.meaning.evaluate) || (dimension == 3 && !has3D)
        || (dimension == 1 && LutCalc::hasTransform3D(&lut)) || !lut.plainReadingLosses(dimension, frontKeepable).isEmpty();
    const bool bake = lut.meaning.evaluate || (request.bake && (needsEvaluation || request.inputRange));
    if (request.require3DTable && !has3D)
        return failure(Status::WriteFailed, inName,
                       QStringLiteral("holds no 3D table, which the %1 output needs").arg(QLatin1String(outFormat->name)));
    if (dimension == 3 && request.size > kMaxCubeSize)
        return failure(Status::Usage, QString(),
                       QStringLiteral("--size must be a whole number from 2 to %1 for a 3D output, not %2")
                           .arg(kMaxCubeSize)
                           .arg(request.size));
    if (dimension == 3) {
        if (!has3D && !(bake && (has1D || lut.meaning.evaluate)))
            return failure(Status::WriteFailed, inName,
                           QStringLiteral("holds no 3D table, which the %1 output needs")
                               .arg(QLatin1String(outFormat->name)));
        outSize = request.size > 0                     ? request.size
            : has3D                                    ? lut.size3D
            : lut.meaning.evaluateSize3D > 0           ? std::min(lut.meaning.evaluateSize3D, kMaxCubeSize)
                                                       : kDefaultBakeSize;
        // LUT images hold set sizes: the cube goes to the one the format
        // has for it.
        const int wanted = outSize;
        outSize = outFormat->entriesFor(wanted, true);
        if (outSize != wanted)
            result.notes << QStringLiteral("note: resampled from %1 to %2 points per axis, a size the %3 format holds")
                                .arg(wanted)
                                .arg(outSize)
                                .arg(QLatin1String(outFormat->name));
        if (bake) {
            if (!resampled.setSize3D(outSize, false)
                || !(request.inputRange ? bakeOverSpan(request, lut, true, shaperTable, &resampled)
                                        : LutCalc::bakeCube(&lut, &resampled)))
                return failure(Status::WriteFailed, inName,
                               QStringLiteral("cannot bake on a lattice of size %1: %2").arg(outSize).arg(resampled.errorString));
            source = &resampled;
            // A matrix stays one, for the writers of matrix formats.
            resampled.meaning.hasMatrix = lut.meaning.hasMatrix && !request.inputRange;
            resampled.meaning.matrix = lut.meaning.matrix;
        } else if (outSize != lut.size3D) {
            if (!resampled.setSize3D(outSize, false) || !LutCalc::resampleCube(&lut, &resampled))
                return failure(Status::WriteFailed, inName,
                               QStringLiteral("cannot resample to size %1: %2").arg(outSize).arg(resampled.errorString));
            source = &resampled;
        }
        if (scale == 0)
            scale = outFormat->defaultScale > 0 ? outFormat->defaultScale : kScaleReals;
    } else {
        if (bake && LutCalc::hasTransform3D(&lut))
            return failure(Status::WriteFailed, inName,
                           QStringLiteral("its transform mixes the channels (a 3D table), which the %1 output cannot hold")
                               .arg(QLatin1String(outFormat->name)));
        if (!has1D && !(bake && lut.meaning.evaluate))
            return failure(Status::WriteFailed, inName,
                           QStringLiteral("holds no 1D table, which the %1 output needs")
                               .arg(QLatin1String(outFormat->name)));
        // The length the file holds: the one asked for, or the table's own,
        // brought to the next length the format has.
        const bool codes = scale > 0 ? scale >= 2 : outFormat->defaultScale != kScaleReals;
        const int ownLength = has1D ? lut.size1D : std::max(2, lut.meaning.evaluateSize1D);
        const int wanted = request.size > 0 ? request.size : ownLength;
        const int length = outFormat->entriesFor(wanted, codes);
        if (length == 0 || (request.size > 0 && length != request.size))
            return failure(Status::WriteFailed, outName,
                           QStringLiteral("the %1 format has no place for a table of %2 entries%3")
                               .arg(QLatin1String(outFormat->name))
                               .arg(wanted)
                               .arg(length > 0 ? QStringLiteral(" (it holds %1)").arg(length) : QString()));
        if (bake) {
            if (!resampled.setSize1D(length, false)
                || !(request.inputRange ? bakeOverSpan(request, lut, false, false, &resampled)
                                        : LutCalc::bake1D(&lut, &resampled)))
                return failure(Status::WriteFailed, inName,
                               QStringLiteral("cannot bake %1 entries: %2").arg(length).arg(resampled.errorString));
            source = &resampled;
            resampled.meaning.hasMatrix = lut.meaning.hasMatrix && !request.inputRange;
            resampled.meaning.matrix = lut.meaning.matrix;
        } else if (length != lut.size1D) {
            if (!resampled.setSize1D(length, false) || !LutCalc::resample1D(&lut, &resampled))
                return failure(Status::WriteFailed, inName,
                               QStringLiteral("cannot resample to %1 entries: %2").arg(length).arg(resampled.errorString));
            source = &resampled;
        }
        if (length != wanted)
            result.notes << QStringLiteral("note: resampled from %1 to %2 entries, a length the %3 format holds")
                                .arg(wanted)
                                .arg(length)
                                .arg(QLatin1String(outFormat->name));
        if (scale == 0)
            scale = outFormat->defaultScale == kScaleByLength ? LutFormats::codeScaleFor(length) : outFormat->defaultScale;
    }
    if (!request.bake) {
        if (lut.meaning.evaluate) {
            result.notes << QStringLiteral("note: baked on the output's lattice: its transform has steps that no table holds");
        } else {
            const QStringList losses = lut.plainReadingLosses(dimension, frontKeepable && source == &lut);
            if (!losses.isEmpty())
                result.notes << QStringLiteral("note: %1; --bake applies what the file means")
                                    .arg(losses.join(QStringLiteral(", ")));
        }
    }
    // Codes hold 0..1 only: what falls outside is clamped as it is written.
    if (scale >= 2) {
        long long outside = 0;
        const auto count = [&outside](const float *values, qint64 n) {
            for (qint64 i = 0; i < n; ++i)
                outside += !(values[i] >= 0.0f && values[i] <= 1.0f);
        };
        if (dimension == 3)
            count(source->table3D.data(), qint64(outSize) * outSize * outSize * 3);
        else
            count(source->table1D.data(), qint64(source->size1D) * 3);
        if (outside > 0)
            result.notes << QStringLiteral("note: %1 %2 outside 0..1 clamped to the %3 format's codes 0..%4")
                                .arg(QLocale(QLocale::English).toString(outside),
                                     outside == 1 ? QStringLiteral("value") : QStringLiteral("values"),
                                     QLatin1String(outFormat->name))
                                .arg(scale);
    }
    // A baked table stands for the same transform: a grade the file is
    // stays known to the writers (the .cc writer writes it).
    if (bake && source == &resampled && !request.inputRange)
        resampled.meaning.cdl = lut.meaning.cdl;
    out->table = source;
    out->size3D = outSize;
    out->scale = scale;
    return result;
}

// --- Pipelines ----------------------------------------------------------------

// One part of a pipeline: its transform of a colour (the shared pointers it
// holds keep what it reads alive), whether it mixes the channels and the
// evaluation steps it takes a colour.
struct Part
{
    std::function<void(double rgb[3])> apply;
    bool mixes = false;
    qint64 cost = 1;
};

// The lattice the inverse of a transform without plain tables is built on.
constexpr int kInverseLength1D = 4096;
constexpr int kInverseSize3D = 65;

bool isPlain(const Read_LUTFile &lut)
{
    return !lut.meaning.evaluate && !lut.meaning.hasShaper();
}

Part forwardPart(const std::shared_ptr<Read_LUTFile> &lut)
{
    Part part;
    part.apply = [lut](double rgb[3]) { LutCalc::evaluate(lut.get(), rgb); };
    part.mixes = LutCalc::hasTransform3D(lut.get());
    part.cost = std::max<qint64>(1, lut->meaning.evaluate ? lut->meaning.evaluateCost : 1);
    return part;
}

// The exact inverse of the linear interpolation of each channel: of the 1D
// table itself over its input span when the file is that table alone, else
// of the transform sampled at kInverseLength1D points over 0..1.
Part inverse1D(const std::shared_ptr<Read_LUTFile> &lut)
{
    auto curves = std::make_shared<std::vector<LutInverse::Curve>>();
    const bool direct = isPlain(*lut) && holds1D(*lut) && lut->size1D >= 2;
    const int n = direct ? lut->size1D : std::max({kInverseLength1D, lut->size1D, lut->meaning.evaluateSize1D});
    std::vector<double> samples(3 * size_t(n));
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / (n - 1);
        double rgb[3] = {t, t, t};
        if (direct) {
            for (int c = 0; c < 3; ++c)
                rgb[c] = lut->table1D[i][c];
        } else {
            LutCalc::evaluate(lut.get(), rgb);
        }
        for (int c = 0; c < 3; ++c)
            samples[3 * size_t(i) + c] = rgb[c];
    }
    for (int c = 0; c < 3; ++c) {
        std::vector<double> x(static_cast<size_t>(n)), y(static_cast<size_t>(n));
        const double lo = direct ? lut->meaning.inputMin1D[c] : 0.0;
        const double hi = direct ? lut->meaning.inputMax1D[c] : 1.0;
        for (int i = 0; i < n; ++i) {
            x[size_t(i)] = lo + (hi - lo) * i / (n - 1);
            y[size_t(i)] = samples[3 * size_t(i) + c];
        }
        curves->emplace_back(std::move(x), std::move(y));
    }
    Part part;
    part.apply = [curves](double rgb[3]) {
        for (int c = 0; c < 3; ++c)
            rgb[c] = (*curves)[size_t(c)].invert(rgb[c]);
    };
    return part;
}

// The inverse of the tetrahedral interpolation: of the 3D table itself over
// its input span when the file is that table alone, else of the transform
// baked on a lattice of its own size (kInverseSize3D at least). Colours
// outside the table's gamut take (nearly) the nearest point of it.
bool inverse3D(const std::shared_ptr<Read_LUTFile> &lut, Part *part, QString *reason)
{
    const bool direct = isPlain(*lut) && holds3D(*lut) && !(holds1D(*lut) && lut->meaning.table1DFeeds3D)
        && lut->size3D >= 2;
    auto cube = std::make_shared<LutInverse::Cube>();
    double lo[3] = {0.0, 0.0, 0.0}, hi[3] = {1.0, 1.0, 1.0};
    if (direct) {
        for (int c = 0; c < 3; ++c) {
            lo[c] = lut->meaning.inputMin3D[c];
            hi[c] = lut->meaning.inputMax3D[c];
        }
        if (!cube->build(lut->table3D.data(), lut->size3D)) {
            *reason = QStringLiteral("out of memory for the inverse of its table");
            return false;
        }
    } else {
        const int n = std::min(kMaxCubeSize, std::max({kInverseSize3D, lut->size3D, lut->meaning.evaluateSize3D}));
        Read_LUTFile baked;
        if (!baked.setSize3D(n, false) || !LutCalc::bakeCube(lut.get(), &baked)) {
            *reason = QStringLiteral("cannot bake its transform to invert it: %1").arg(baked.errorString);
            return false;
        }
        if (!cube->build(baked.table3D.data(), n)) {
            *reason = QStringLiteral("out of memory for the inverse of its table");
            return false;
        }
    }
    part->apply = [cube, lo0 = lo[0], lo1 = lo[1], lo2 = lo[2], hi0 = hi[0], hi1 = hi[1], hi2 = hi[2]](double rgb[3]) {
        const double y[3] = {rgb[0], rgb[1], rgb[2]};
        double x[3];
        cube->invert(y, x);
        rgb[0] = lo0 + (hi0 - lo0) * x[0];
        rgb[1] = lo1 + (hi1 - lo1) * x[1];
        rgb[2] = lo2 + (hi2 - lo2) * x[2];
    };
    part->mixes = true;
    part->cost = 8;
    return true;
}

bool holdsTransform(const Read_LUTFile &lut)
{
    return holds3D(lut) || holds1D(lut) || lut.meaning.evaluate || lut.meaning.hasShaper();
}

// The part a file stands for in a pipeline, forward or inverted.
bool partOf(const std::shared_ptr<Read_LUTFile> &lut, bool inverse, Part *part, QString *reason)
{
    if (!holdsTransform(*lut)) {
        *reason = QStringLiteral("holds no table to apply");
        return false;
    }
    if (!inverse) {
        *part = forwardPart(lut);
        return true;
    }
    if (!LutCalc::hasTransform3D(lut.get())) {
        *part = inverse1D(lut);
        return true;
    }
    return inverse3D(lut, part, reason);
}

// Whether the output of request holds 8-bit codes: --scale 255, or a
// format whose codes are 8-bit by default (or by a length of 256).
bool writesEightBitCodes(const Request &request)
{
    if (request.scale != 0)
        return request.scale == 255;
    const LutFormat *to = request.to ? request.to : request.output.isEmpty() ? nullptr : LutFormats::forOutput(request.output);
    if (!to)
        return false;
    return to->defaultScale == 255 || (to->defaultScale == kScaleByLength && request.size == 256);
}

// Makes composed the whole pipeline of request: the input (lut, or its
// inverse), then every step in order, as one evaluate on the lattice sizes
// the input suggests. A failure names the file it is about.
Result compose(const Request &request, const std::shared_ptr<Read_LUTFile> &lut, Read_LUTFile *composed)
{
    const QString inName = request.inputName.isEmpty() ? request.input : request.inputName;
    std::vector<Part> parts;
    QString reason;
    Part part;
    // Legal range: codes 64..940 of 1023 stand for 0..1, or 16..235 of 255
    // in a file of 8-bit codes.
    const bool eightBit = writesEightBitCodes(request);
    const double legalLow = eightBit ? 16.0 / 255.0 : 64.0 / 1023.0;
    const double legalSpan = eightBit ? 219.0 / 255.0 : 876.0 / 1023.0;
    if (request.inputLegal) {
        part.apply = [legalLow, legalSpan](double rgb[3]) {
            for (int c = 0; c < 3; ++c)
                rgb[c] = (rgb[c] - legalLow) / legalSpan;
        };
        parts.push_back(part);
    }
    if (!partOf(lut, request.inverse, &part, &reason))
        return failure(Status::ReadFailed, inName, reason);
    parts.push_back(part);
    for (const Step &step : request.steps) {
        if (step.kind == Step::Kind::Grade) {
            const LutCdl grade = step.grade;
            part.apply = [grade](double rgb[3]) { grade.apply(rgb); };
            part.mixes = grade.mixesChannels();
            part.cost = 1;
            parts.push_back(part);
            continue;
        }
        Request stepRequest;
        stepRequest.input = step.file;
        stepRequest.cccid = request.cccid;
        auto stepLut = std::make_shared<Read_LUTFile>();
        const Result read = LutConversion::read(stepRequest, stepLut.get());
        if (read.status != Status::Done)
            return read;
        if (!partOf(stepLut, step.kind == Step::Kind::ApplyInverse, &part, &reason))
            return failure(Status::ReadFailed, step.file, reason);
        parts.push_back(part);
    }
    if (request.outputLegal) {
        part.apply = [legalLow, legalSpan](double rgb[3]) {
            for (int c = 0; c < 3; ++c)
                rgb[c] = legalLow + legalSpan * rgb[c];
        };
        part.mixes = false;
        part.cost = 1;
        parts.push_back(part);
    }
    bool mixes = false;
    qint64 cost = 0;
    for (const Part &p : parts) {
        mixes = mixes || p.mixes;
        cost += p.cost;
    }
    LutMeaning &meaning = composed->meaning;
    meaning.evaluate = [parts](double rgb[3]) {
        for (const Part &p : parts)
            p.apply(rgb);
    };
    meaning.evaluateCost = cost;
    if (mixes) {
        meaning.evaluateSize3D = holds3D(*lut) ? lut->size3D
            : lut->meaning.evaluateSize3D > 0  ? lut->meaning.evaluateSize3D
                                               : kDefaultBakeSize;
    } else {
        meaning.evaluateSize1D = holds1D(*lut) ? lut->size1D : std::max(2, lut->meaning.evaluateSize1D);
    }
    composed->bakeRead = true;
    return Result();
}

// Where a conversion stands, for a failure that is thrown rather than
// returned (memory, threads): which file it is about and what failed.
struct Stage
{
    Status status = Status::ReadFailed;
    QString file;
};

bool isPipeline(const Request &request)
{
    return request.inverse || !request.steps.empty() || request.inputLegal || request.outputLegal;
}

// readTransform without its guard: what throws reaches the caller.
Result readTransformUnguarded(const Request &request, Read_LUTFile *transform)
{
    if (!isPipeline(request))
        return read(request, transform);
    // A pipeline composes what each file means.
    Request readRequest = request;
    readRequest.bake = true;
    auto input = std::make_shared<Read_LUTFile>();
    Result result = read(readRequest, input.get());
    if (result.status != Status::Done)
        return result;
    const LutFormat *readAs = result.readAs;
    result = compose(readRequest, input, transform);
    result.readAs = readAs;
    return result;
}

Result convertUnguarded(const Request &request, QSet<QString> *written, Stage *stage)
{
    Request readRequest = request;
    // A pipeline composes what each file means, and an input span bakes it.
    readRequest.bake = readRequest.bake || isPipeline(request) || request.inputRange;
    Read_LUTFile lut;
    Result result = readTransformUnguarded(readRequest, &lut);
    if (result.status != Status::Done)
        return result;

    stage->status = Status::WriteFailed;
    Prepared prepared;
    const LutFormat *readAs = result.readAs;
    result = prepare(readRequest, lut, written, &prepared);
    result.readAs = readAs;
    result.output = prepared.output;
    if (result.status != Status::Done)
        return result;

    const QString &output = prepared.output;
    stage->file = outputName(output);

    // "Default Order" without flags of its own: the writer's own order where
    // it has one (defaultOrder lets it force it); otherwise the order the
    // format's reader assumes, so that the file reads back as it came in
    // (for cube: data RGB, table BGR).
    const Order &order = request.outOrder;
    LutFileOptions options;
    options.path = output;
    options.format = prepared.format->id;
    options.defaultOrder = order.defaultOrder;
    options.dataOrderRGB = order.formatFlags ? prepared.format->readOrder.dataRGB : order.dataRGB;
    options.tableOrderRGB = order.formatFlags ? prepared.format->readOrder.tableRGB : order.tableRGB;
    options.outputScale = prepared.scale;
    options.size3D = prepared.size3D;
    options.sourcePath = request.sourcePath;
    Write_LUTFile writer;
    if (!writer.writeLut(options, const_cast<Read_LUTFile *>(prepared.table))) {
        Result failed = failure(Status::WriteFailed, outputName(output),
                                writer.errorString.isEmpty() ? QStringLiteral("cannot be written") : writer.errorString);
        failed.readAs = readAs;
        failed.output = output;
        return failed;
    }
    if (written)
        written->insert(LutFileNames::absolutePath(output));
    return result;
}

} // namespace

QString inputName(const QString &path)
{
    return path == QLatin1String(kStandardStream) ? QStringLiteral("standard input") : path;
}

QString outputName(const QString &path)
{
    return path == QLatin1String(kStandardStream) ? QStringLiteral("standard output") : path;
}

const LutFormat *inputFormat(const Request &request)
{
    if (request.from)
        return request.from;
    return request.fromContent ? LutFormats::forContent(request.input) : LutFormats::forInput(request.input);
}

Result read(const Request &request, Read_LUTFile *lut)
{
    const LutFormat *format = inputFormat(request);
    LutFileOptions options;
    options.path = request.input;
    options.format = format->id;
    options.defaultOrder = request.inOrder.defaultOrder;
    options.dataOrderRGB = request.inOrder.dataRGB;
    options.tableOrderRGB = request.inOrder.tableRGB;
    options.bake = request.bake;
    options.cccid = request.cccid;
    Result result;
    result.readAs = format;
    if (lut->readLut(options, false))
        return result;
    result.status = Status::ReadFailed;
    result.file = request.inputName.isEmpty() ? request.input : request.inputName;
    result.reason = lut->errorString.isEmpty() ? QStringLiteral("cannot be read as %1").arg(formatNameAndId(format))
                                               : lut->errorString;
    return result;
}

bool readHeader(const Request &request, Read_LUTFile *lut)
{
    LutFileOptions options;
    options.path = request.input;
    options.format = inputFormat(request)->id;
    options.defaultOrder = request.inOrder.defaultOrder;
    options.dataOrderRGB = request.inOrder.dataRGB;
    options.tableOrderRGB = request.inOrder.tableRGB;
    options.bake = request.bake;
    return lut->readLut(options, true);
}

Result readTransform(const Request &request, Read_LUTFile *transform)
{
    const QString file = request.inputName.isEmpty() ? request.input : request.inputName;
    try {
        return readTransformUnguarded(request, transform);
    } catch (const std::bad_alloc &) {
        return failure(Status::ReadFailed, file, QStringLiteral("out of memory"));
    } catch (const std::exception &e) {
        return failure(Status::ReadFailed, file, QString::fromLocal8Bit(e.what()));
    }
}

Result convert(const Request &request, QSet<QString> *written)
{
    Stage stage;
    stage.file = request.inputName.isEmpty() ? request.input : request.inputName;
    try {
        return convertUnguarded(request, written, &stage);
    } catch (const std::bad_alloc &) {
        return failure(stage.status, stage.file, QStringLiteral("out of memory"));
    } catch (const std::exception &e) {
        return failure(stage.status, stage.file, QString::fromLocal8Bit(e.what()));
    }
}

} // namespace LutConversion
