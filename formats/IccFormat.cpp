// ICC profiles (identifier 23, ".icc", ".icm"), through Little CMS.
//
// Reading: an RGB profile (display, input, colour space or output class),
// matrix/TRC or LUT-based, means the transform from device RGB to the
// profile connection space. Every profile reads as PCS XYZ, D50, the white of
// the medium at Y = 1, whatever its PCS: Little CMS takes a Lab PCS to XYZ by
// the exact formulas, so that one file's values mean the same as another's.
// The transform is the colorimetric one (relative colorimetric: A2B1, or
// A2B0 where the profile has no A2B1; matrix/TRC profiles have one transform
// for every intent). The transform is evaluated in double precision, with no
// precalculated table, as meaning.evaluate: a conversion bakes it on the
// output's lattice, by default the profile's own CLUT size (33 points per
// axis for a matrix/TRC profile).
//
// Writing: an ICC version 4.3 RGB display profile with PCS XYZ whose A2B0
// holds the 3D table as its CLUT (identity curves around it), of the table's
// size (--size; a CLUT has at most 255 points per axis), with a description,
// a copyright and the D50 white point. The table's values are the PCS values,
// so a profile read here and written again keeps its transform; they are
// held as ICC XYZ numbers in 16 bits (steps of 1/32768, 0 to 1.99997, values
// outside clamped).

#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QtEndian>

#include <lcms2.h>
#include <lcms2_plugin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// Little CMS is loaded when a profile is first read or written, not with
// the program: linked in, the library costs every run of the command line
// 0.35-0.55 ms of its start-up (measured against the same program without
// it), and most runs never touch a profile.
#define CHROMADUCT_LCMS_FUNCTIONS(X) \
    X(cmsCloseProfile) \
    X(cmsCreateContext) \
    X(cmsCreateProfilePlaceholder) \
    X(cmsCreateTransformTHR) \
    X(cmsCreateXYZProfileTHR) \
    X(cmsD50_XYZ) \
    X(cmsDeleteContext) \
    X(cmsDeleteTransform) \
    X(cmsDoTransform) \
    X(cmsGetContextUserData) \
    X(cmsIsMatrixShaper) \
    X(cmsIsTag) \
    X(cmsMLUalloc) \
    X(cmsMLUfree) \
    X(cmsMLUsetWide) \
    X(cmsOpenProfileFromMemTHR) \
    X(cmsPipelineAlloc) \
    X(cmsPipelineFree) \
    X(cmsPipelineGetPtrToFirstStage) \
    X(cmsPipelineInsertStage) \
    X(cmsReadTag) \
    X(cmsSaveProfileToMem) \
    X(cmsSetColorSpace) \
    X(cmsSetDeviceClass) \
    X(cmsSetHeaderRenderingIntent) \
    X(cmsSetLogErrorHandlerTHR) \
    X(cmsSetPCS) \
    X(cmsSetProfileVersion) \
    X(cmsStageAllocCLut16bit) \
    X(cmsStageAllocToneCurves) \
    X(cmsStageData) \
    X(cmsStageNext) \
    X(cmsStageType) \
    X(cmsWriteTag)

struct Lcms
{
#define CHROMADUCT_LCMS_POINTER(name) decltype(&::name) name = nullptr;
    CHROMADUCT_LCMS_FUNCTIONS(CHROMADUCT_LCMS_POINTER)
#undef CHROMADUCT_LCMS_POINTER
    QString error; // why the library could not be loaded; empty when it was
};

// The library's functions, loaded on the first call (on any thread).
const Lcms &lcms()
{
    static const Lcms loaded = [] {
        Lcms functions;
        QLibrary library(QStringLiteral("lcms2"), 2);
        library.setLoadHints(QLibrary::PreventUnloadHint);
        if (!library.load()) {
            functions.error = library.errorString();
            return functions;
        }
#define CHROMADUCT_LCMS_RESOLVE(name)                                                        \
    functions.name = reinterpret_cast<decltype(functions.name)>(library.resolve(#name));    \
    if (!functions.name) {                                                                   \
        functions.error = QStringLiteral("%1 lacks %2").arg(library.fileName(), QLatin1String(#name)); \
        return functions;                                                                    \
    }
        CHROMADUCT_LCMS_FUNCTIONS(CHROMADUCT_LCMS_RESOLVE)
#undef CHROMADUCT_LCMS_RESOLVE
        return functions;
    }();
    return loaded;
}

// The reason to give when the library cannot be had; empty when it can.
QString lcmsMissing()
{
    const QString &error = lcms().error;
    return error.isEmpty() ? QString() : QStringLiteral("cannot load Little CMS: %1").arg(error);
}

// Profiles are rarely above a few MB; one holding a 255-point CLUT in 16
// bits takes 100 MB.
constexpr qint64 kMaxProfileBytes = qint64(128) << 20;
constexpr int kMaxClutPoints = 255;
// The lattice of a matrix/TRC profile without --size: the cube size
// colourists exchange.
constexpr int kBakeSize3D = 33;

// A Little CMS context of its own for each profile, whose error messages
// are kept for the reason of a failure (the default is to drop them), and
// whose memory has a budget: the library allocates the tables a tag
// declares before it reads them, so a few bytes declaring a CLUT of eleven
// inputs would take it hundreds of MB (and seconds of zeroing). A file's
// tables take no more than a few times its size.
class IccContext
{
public:
    explicit IccContext(size_t budget = SIZE_MAX) : m_budget(budget), m_context(lcms().cmsCreateContext(&kMemory, this))
    {
        if (m_context)
            lcms().cmsSetLogErrorHandlerTHR(m_context, &IccContext::log);
    }
    ~IccContext()
    {
        if (m_context)
            lcms().cmsDeleteContext(m_context);
    }
    IccContext(const IccContext &) = delete;
    IccContext &operator=(const IccContext &) = delete;

    cmsContext get() const { return m_context; }
    // The library's last message, as a clause to append (": ...").
    QString message() const { return m_message.isEmpty() ? QString() : QStringLiteral(": ") + m_message; }

private:
    // Every block carries its size and the context that counted it (none
    // for the context's own first block, made before it has its data).
    struct alignas(16) Block
    {
        IccContext *owner;
        size_t size;
    };

    static IccContext *ownerOf(cmsContext context) { return static_cast<IccContext *>(lcms().cmsGetContextUserData(context)); }
    bool take(size_t size)
    {
        size_t used = m_used.load();
        do {
            if (size > m_budget - used)
                return false;
        } while (!m_used.compare_exchange_weak(used, used + size));
        return true;
    }
    void give(size_t size) { m_used -= size; }

    static void *allocate(cmsContext context, cmsUInt32Number size)
    {
        IccContext *owner = ownerOf(context);
        if (owner && !owner->take(size)) {
            owner->m_message = QStringLiteral("the profile's tables would take more than %1 MiB").arg(owner->m_budget >> 20);
            return nullptr;
        }
        auto *block = static_cast<Block *>(std::malloc(sizeof(Block) + size));
        if (!block) {
            if (owner)
                owner->give(size);
            return nullptr;
        }
        *block = {owner, size};
        return block + 1;
    }
    static void release(cmsContext, void *data)
    {
        if (!data)
            return;
        Block *block = static_cast<Block *>(data) - 1;
        if (block->owner)
            block->owner->give(block->size);
        std::free(block);
    }
    static void *reallocate(cmsContext context, void *data, cmsUInt32Number size)
    {
        if (!data)
            return allocate(context, size);
        Block *block = static_cast<Block *>(data) - 1;
        IccContext *owner = block->owner;
        const size_t old = block->size;
        if (owner && !owner->take(size))
            return nullptr;
        auto *moved = static_cast<Block *>(std::realloc(block, sizeof(Block) + size));
        if (!moved) {
            if (owner)
                owner->give(size);
            return nullptr;
        }
        if (owner)
            owner->give(old);
        moved->size = size;
        return moved + 1;
    }
    static void log(cmsContext context, cmsUInt32Number, const char *text)
    {
        IccContext *self = ownerOf(context);
        if (self && text && self->m_message.isEmpty())
            self->m_message = QString::fromLocal8Bit(text);
    }

    static cmsPluginMemHandler kMemory;
    const size_t m_budget;
    std::atomic<size_t> m_used{0};
    QString m_message;
    cmsContext m_context;
};

cmsPluginMemHandler IccContext::kMemory = {{cmsPluginMagicNumber, 2000, cmsPluginMemHandlerSig, nullptr},
                                           &IccContext::allocate,
                                           &IccContext::release,
                                           &IccContext::reallocate,
                                           nullptr,
                                           nullptr,
                                           nullptr};

// A transform with the context it was made in, released together.
struct IccTransform
{
    explicit IccTransform(size_t budget) : context(budget) {}
    IccContext context;
    cmsHTRANSFORM transform = nullptr;
    ~IccTransform()
    {
        if (transform)
            lcms().cmsDeleteTransform(transform);
    }
};

struct ProfileCloser
{
    void operator()(void *profile) const { lcms().cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

QString signatureText(quint32 signature)
{
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((signature >> shift) & 0xff);
        if (c < 0x20 || c >= 0x7f)
            return QStringLiteral("0x%1").arg(signature, 8, 16, QLatin1Char('0'));
        text += QChar::fromLatin1(c);
    }
    return text.trimmed();
}

// The points per axis of the CLUT the profile's A2B tag for intent holds
// (the largest axis), or 0 when it has none.
int clutPoints(cmsHPROFILE profile, cmsUInt32Number intent)
{
    static const cmsTagSignature kTags[] = {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag};
    cmsTagSignature tag = intent < 3 ? kTags[intent] : cmsSigAToB0Tag;
    if (!lcms().cmsIsTag(profile, tag))
        tag = cmsSigAToB0Tag;
    if (!lcms().cmsIsTag(profile, tag))
        return 0;
    const auto *pipeline = static_cast<const cmsPipeline *>(lcms().cmsReadTag(profile, tag));
    if (!pipeline)
        return 0;
    for (const cmsStage *stage = lcms().cmsPipelineGetPtrToFirstStage(pipeline); stage; stage = lcms().cmsStageNext(stage)) {
        if (lcms().cmsStageType(stage) != cmsSigCLutElemType)
            continue;
        const auto *data = static_cast<const _cmsStageCLutData *>(lcms().cmsStageData(stage));
        if (!data || !data->Params)
            return 0;
        cmsUInt32Number points = 0;
        for (cmsUInt32Number axis = 0; axis < data->Params->nInputs && axis < 3; ++axis)
            points = std::max(points, data->Params->nSamples[axis]);
        return int(std::min<cmsUInt32Number>(points, kMaxCubeSize));
    }
    return 0;
}

bool readProfile(Read_LUTFile *lut, const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return lut->fail(QStringLiteral("cannot open: %1").arg(file.errorString()));
    lut->applyDefaultOrder(LutFormatId::Icc);
    // Inputs are files (standard input is copied to one), whose size is known.
    if (file.size() > kMaxProfileBytes)
        return lut->fail(QStringLiteral("%1 bytes: more than the %2 MiB an ICC profile is read up to")
                             .arg(file.size())
                             .arg(kMaxProfileBytes >> 20));
    const QByteArray bytes = file.readAll();

    // The header alone takes 128 bytes, then the count of tags.
    if (bytes.size() < 132)
        return lut->fail(QStringLiteral("%1 bytes: too short for an ICC profile, whose header takes 128").arg(bytes.size()));
    const QString missing = lcmsMissing();
    if (!missing.isEmpty())
        return lut->fail(missing);
    auto held = std::make_shared<IccTransform>(size_t(8) * size_t(bytes.size()) + (size_t(32) << 20));
    const cmsContext context = held->context.get();
    if (!context)
        return lut->fail(QStringLiteral("out of memory for the colour management library"));
    const Profile profile(lcms().cmsOpenProfileFromMemTHR(context, bytes.constData(), cmsUInt32Number(bytes.size())));
    if (!profile)
        return lut->fail(QStringLiteral("not an ICC profile Little CMS can open%1").arg(held->context.message()));
    // The header's signatures as numbers, from the bytes (the library hands
    // them over as enumerations, which hold only the values they name).
    const auto signature = [&bytes](int at) { return qFromBigEndian<quint32>(bytes.constData() + at); };
    const quint32 kind = signature(12), space = signature(16), pcs = signature(20);
    if (space != cmsSigRgbData)
        return lut->fail(QStringLiteral("a profile of %1 data: only RGB profiles are read").arg(signatureText(space)));
    if (kind != cmsSigDisplayClass && kind != cmsSigInputClass && kind != cmsSigColorSpaceClass
        && kind != cmsSigOutputClass)
        return lut->fail(QStringLiteral("a profile of class %1 (a device link, abstract or named colour profile): it "
                                        "holds no transform from device RGB to the connection space")
                             .arg(signatureText(kind)));
    if (pcs != cmsSigXYZData && pcs != cmsSigLabData)
        return lut->fail(QStringLiteral("a connection space of %1, neither XYZ nor Lab").arg(signatureText(pcs)));

    // Colorimetric: A2B1, or A2B0 where there is none. (A version 4
    // perceptual transform would also move the black to the perceptual
    // reference medium's.)
    const cmsUInt32Number intent = INTENT_RELATIVE_COLORIMETRIC;
    bool hasTransform = lcms().cmsIsMatrixShaper(profile.get());
    for (const cmsTagSignature tag : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigDToB0Tag, cmsSigDToB1Tag})
        hasTransform = hasTransform || lcms().cmsIsTag(profile.get(), tag);
    if (!hasTransform)
        return lut->fail(QStringLiteral("the profile holds no transform from device RGB to the connection space "
                                        "(no A2B tag, no colorants with curves)"));
    const Profile xyz(lcms().cmsCreateXYZProfileTHR(context));
    if (!xyz)
        return lut->fail(QStringLiteral("out of memory for the colour management library"));
    held->transform = lcms().cmsCreateTransformTHR(context, profile.get(), TYPE_RGB_DBL, xyz.get(), TYPE_XYZ_DBL, intent,
                                            cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE);
    if (!held->transform)
        return lut->fail(QStringLiteral("Little CMS makes no transform of the profile%1").arg(held->context.message()));

    const int points = clutPoints(profile.get(), intent);
    lut->meaning.evaluateSize3D = points >= 2 ? points : kBakeSize3D;
    // No cache: the transform may run on several threads at once.
    lut->meaning.evaluate = [held](double rgb[3]) {
        if (std::isnan(rgb[0]) || std::isnan(rgb[1]) || std::isnan(rgb[2])) {
            rgb[0] = rgb[1] = rgb[2] = double(NAN);
            return;
        }
        double out[3];
        lcms().cmsDoTransform(held->transform, rgb, out, 1);
        std::copy(out, out + 3, rgb);
    };
    return true;
}

// Builds the multi-localised text of a tag; false when memory runs out.
bool writeText(cmsContext context, cmsHPROFILE profile, cmsTagSignature tag, const QString &text)
{
    cmsMLU *mlu = lcms().cmsMLUalloc(context, 1);
    if (!mlu)
        return false;
    const std::wstring wide = text.toStdWString();
    const bool ok = lcms().cmsMLUsetWide(mlu, "en", "US", wide.c_str()) && lcms().cmsWriteTag(profile, tag, mlu);
    lcms().cmsMLUfree(mlu);
    return ok;
}

// The ICC 16-bit XYZ number of v: 1/32768 a step, 0 to 65535.
cmsUInt16Number xyzNumber(float v)
{
    const double scaled = double(v) * 32768.0;
    if (!(scaled > 0.0)) // also a NaN
        return 0;
    return scaled >= 65535.0 ? 65535 : cmsUInt16Number(std::lround(scaled));
}

struct PipelineFreer
{
    void operator()(cmsPipeline *pipeline) const { lcms().cmsPipelineFree(pipeline); }
};

} // namespace

bool Read_LUTFile::readIcc(QString fileName, bool)
{
    return readProfile(this, fileName);
}

bool Write_LUTFile::writeIcc(QString fileName, Read_LUTFile *lut)
{
    const int n = lut->size3D;
    if (n < 2 || lut->table3D.size() != n)
        return fail(QStringLiteral("the LUT holds no 3D table of 2 points per axis or more, which an ICC profile's "
                                   "CLUT needs"));
    if (n > kMaxClutPoints)
        return fail(QStringLiteral("a CLUT holds at most %1 points per axis, not %2").arg(kMaxClutPoints).arg(n));
    applyDefaultOrder(LutFormatId::Icc);

    // The CLUT in the profile's order: red slowest, blue fastest.
    std::vector<cmsUInt16Number> clut(size_t(n) * n * n * 3);
    size_t at = 0;
    for (int r = 0; r < n; ++r) {
        for (int g = 0; g < n; ++g) {
            for (int b = 0; b < n; ++b) {
                const float *entry = entry3D(lut->table3D, r, g, b);
                for (int c = 0; c < 3; ++c)
                    clut[at++] = xyzNumber(entry[dataOrderRGB ? c : 2 - c]);
            }
        }
    }

    const QString missing = lcmsMissing();
    if (!missing.isEmpty())
        return fail(missing);
    IccContext context;
    if (!context.get())
        return fail(QStringLiteral("out of memory for the colour management library"));
    const Profile profile(lcms().cmsCreateProfilePlaceholder(context.get()));
    const std::unique_ptr<cmsPipeline, PipelineFreer> pipeline(lcms().cmsPipelineAlloc(context.get(), 3, 3));
    if (!profile || !pipeline)
        return fail(QStringLiteral("out of memory for the colour management library"));
    lcms().cmsSetProfileVersion(profile.get(), 4.3);
    lcms().cmsSetDeviceClass(profile.get(), cmsSigDisplayClass);
    lcms().cmsSetColorSpace(profile.get(), cmsSigRgbData);
    lcms().cmsSetPCS(profile.get(), cmsSigXYZData);
    lcms().cmsSetHeaderRenderingIntent(profile.get(), INTENT_RELATIVE_COLORIMETRIC);

    const QString source = QFileInfo(sourcePath).fileName();
    const QString description = source.isEmpty() ? QStringLiteral("Written by chromaduct")
                                                 : QStringLiteral("Converted from %1").arg(source);
    // The identity curves around the CLUT make the A2B0 tag the A-CLUT-B
    // form an ICC version 4 lutAtoBType holds.
    const bool built = writeText(context.get(), profile.get(), cmsSigProfileDescriptionTag, description)
        && writeText(context.get(), profile.get(), cmsSigCopyrightTag, QStringLiteral("No copyright stated"))
        && lcms().cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, lcms().cmsD50_XYZ())
        && lcms().cmsPipelineInsertStage(pipeline.get(), cmsAT_END, lcms().cmsStageAllocToneCurves(context.get(), 3, nullptr))
        && lcms().cmsPipelineInsertStage(pipeline.get(), cmsAT_END,
                                  lcms().cmsStageAllocCLut16bit(context.get(), cmsUInt32Number(n), 3, 3, clut.data()))
        && lcms().cmsPipelineInsertStage(pipeline.get(), cmsAT_END, lcms().cmsStageAllocToneCurves(context.get(), 3, nullptr))
        && lcms().cmsWriteTag(profile.get(), cmsSigAToB0Tag, pipeline.get());
    cmsUInt32Number size = 0;
    if (!built || !lcms().cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0)
        return fail(QStringLiteral("Little CMS cannot build the profile%1").arg(context.message()));
    std::vector<char> bytes(size);
    if (!lcms().cmsSaveProfileToMem(profile.get(), bytes.data(), &size))
        return fail(QStringLiteral("Little CMS cannot build the profile%1").arg(context.message()));

    LutTextOutput out(fileName);
    if (!out.open())
        return fail(QStringLiteral("cannot open for writing: %1").arg(out.errorString()));
    out.stream().write(bytes.data(), qint64(size));
    if (!out.commit())
        return fail(QStringLiteral("write failed: %1").arg(out.errorString()));
    return true;
}
