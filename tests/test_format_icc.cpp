// ICC profiles, made here with Little CMS: matrix/TRC profiles read against OpenColorIO's reading, LUT-based
// ones (PCS XYZ and Lab) against its reading of the matrix/TRC profile they were sampled from, the profile the
// writer makes validated by Little CMS and read back within its CLUT's 16 bits, and bad profiles refused.
//
// The peer reads a display profile as the transform from PCS XYZ to device values and adapts its D50 to D65;
// its inverse (--invlut) with that adaptation taken away is device RGB to PCS XYZ, what a profile reads as here.

#include "TestSupport.h"
#include "calc/LutCalc.h"
#include "lut/LutFormats.h"
#include "lut/Read_LUTFile.h"
#include <QTemporaryDir>
#include <QtTest>
#include <lcms2.h>
#include <cmath>
#include <functional>

namespace {

constexpr int kN = 17;

bool save(cmsHPROFILE profile, const QString &path)
{
    const bool ok = profile && cmsSaveProfileToFile(profile, QFile::encodeName(path).constData());
    if (profile)
        cmsCloseProfile(profile);
    return ok;
}

// A matrix/TRC display profile of the primaries and white (a colour temperature) with one curve for all channels.
cmsHPROFILE matrixTrc(const cmsCIExyYTRIPLE &primaries, double whiteTemperature, cmsToneCurve *curve)
{
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, whiteTemperature);
    cmsToneCurve *curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return profile;
}

const cmsCIExyYTRIPLE kRec709 = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
const cmsCIExyYTRIPLE kP3 = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
const cmsCIExyYTRIPLE kRec2020 = {{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}};

cmsToneCurve *gammaCurve(double g) { return cmsBuildGamma(nullptr, g); }
cmsToneCurve *srgbCurve()
{
    const double p[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, p);
}
double srgbValue(double x)
{
    return x < 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
}
// A curve as a table of entries 16-bit values.
cmsToneCurve *tabulated(int entries, const std::function<double(double)> &curve)
{
    std::vector<cmsUInt16Number> table(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i)
        table[size_t(i)] = cmsUInt16Number(std::lround(65535 * curve(i / (entries - 1.0))));
    return cmsBuildTabulatedToneCurve16(nullptr, cmsUInt32Number(entries), table.data());
}
cmsToneCurve *tabulated(int entries, double g)
{
    return tabulated(entries, [g](double x) { return std::pow(x, g); });
}

// A version 4 display profile whose A2B0 holds the transform of source (device RGB to the pcs, XYZ or Lab)
// sampled on a CLUT of n points, between identity curves.
cmsHPROFILE clutProfile(cmsHPROFILE source, cmsColorSpaceSignature pcs, int n)
{
    const bool lab = pcs == cmsSigLabData;
    cmsHPROFILE target = lab ? cmsCreateLab4Profile(nullptr) : cmsCreateXYZProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(source, TYPE_RGB_DBL, target, lab ? TYPE_Lab_DBL : TYPE_XYZ_DBL,
                                                 INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE);
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, cmsSigDisplayClass);
    cmsSetColorSpace(profile, cmsSigRgbData);
    cmsSetPCS(profile, pcs);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsStage *clut = cmsStageAllocCLut16bit(nullptr, cmsUInt32Number(n), 3, 3, nullptr);
    struct Cargo { cmsHTRANSFORM transform; bool lab; } cargo{transform, lab};
    cmsStageSampleCLut16bit(clut, [](const cmsUInt16Number in[], cmsUInt16Number out[], void *data) {
        const Cargo &c = *static_cast<Cargo *>(data);
        const double rgb[3] = {in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0};
        double v[3];
        cmsDoTransform(c.transform, rgb, v, 1);
        if (c.lab) {
            const cmsCIELab value = {v[0], v[1], v[2]};
            cmsFloat2LabEncoded(out, &value);
        } else {
            const cmsCIEXYZ value = {v[0], v[1], v[2]};
            cmsFloat2XYZEncoded(out, &value);
        }
        return 1;
    }, &cargo, 0);
    cmsPipeline *pipeline = cmsPipelineAlloc(nullptr, 3, 3);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, clut);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsPipelineFree(pipeline);
    cmsDeleteTransform(transform);
    cmsCloseProfile(target);
    return profile;
}

// Our bake of a read at n points per axis, entry i red fastest, as a function.
using Values = std::function<double(int i, int c)>;
bool bake(const Read_LUTFile &lut, int n, Read_LUTFile *out)
{
    return out->setSize3D(n, false) && LutCalc::bakeCube(&lut, out);
}
Values valuesOf(const Read_LUTFile &cube)
{
    const int n = cube.size3D;
    return [&cube, n](int i, int c) { return double(cube.table3D[i % n][i / n % n][i / (n * n)][c]); };
}

double largestDifference(const Values &a, const Values &b, int entries)
{
    double worst = 0;
    for (int k = 0; k < 3 * entries; ++k)
        worst = std::max(worst, std::fabs(a(k / 3, k % 3) - b(k / 3, k % 3)));
    return worst;
}

// The peer's device-to-XYZ reading of a profile on 17 points (its D65 adaptation removed through adaptation, the
// peer's matrix); empty when it does not read the profile.
std::vector<float> peerInverse(const QString &profile, const QString &out)
{
    QFile::remove(out);
    const TestSupport::ProcessResult r = TestSupport::runProcess(
        "ociobakelut", {"--invlut", profile, "--format", "iridas_cube", "--cubesize", QString::number(kN), out});
    const std::vector<float> values = TestSupport::parseCubeText(out).values;
    return r.exitCode == 0 && values.size() == size_t(3 * kN * kN * kN) ? values : std::vector<float>();
}

bool isRead(Read_LUTFile &lut, const QString &path)
{
    LutFileOptions options{path, LutFormatId::Icc};
    options.bake = true;
    return lut.readLut(options, false);
}

} // namespace

class TestFormatIcc : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    double m_adaptation[3][3] = {}; // the peer's D50-to-D65 matrix, measured in initTestCase

    // The peer's reading with its adaptation inverted: PCS XYZ per entry.
    Values peerPcs(const std::vector<float> &peer) const
    {
        double inverse[3][3];
        const double(&m)[3][3] = m_adaptation;
        const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
            + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
                inverse[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
            }
        return [&peer, inverse](int i, int c) {
            return inverse[c][0] * peer[3 * size_t(i)] + inverse[c][1] * peer[3 * size_t(i) + 1]
                + inverse[c][2] * peer[3 * size_t(i) + 2];
        };
    }

private slots:
    // The peer's adaptation, from a profile whose colorants are the PCS axes and whose curves are straight: its
    // reading of pure red, green and blue is the matrix's columns.
    void initTestCase()
    {
        if (!TestSupport::haveOcio())
            return;
        cmsHPROFILE axes = cmsCreateProfilePlaceholder(nullptr);
        cmsSetProfileVersion(axes, 4.3);
        cmsSetDeviceClass(axes, cmsSigDisplayClass);
        cmsSetColorSpace(axes, cmsSigRgbData);
        cmsSetPCS(axes, cmsSigXYZData);
        const cmsCIEXYZ columns[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        cmsToneCurve *linear = cmsBuildGamma(nullptr, 1.0);
        const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
        const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
        for (int c = 0; c < 3; ++c)
            QVERIFY(cmsWriteTag(axes, colorants[c], &columns[c]) && cmsWriteTag(axes, curves[c], linear));
        cmsFreeToneCurve(linear);
        QVERIFY(cmsWriteTag(axes, cmsSigMediaWhitePointTag, cmsD50_XYZ()) && save(axes, path("axes.icc")));
        const std::vector<float> peer = peerInverse(path("axes.icc"), path("axes.cube"));
        QVERIFY(!peer.empty());
        const int corner[3] = {kN - 1, (kN - 1) * kN, (kN - 1) * kN * kN}; // red, green, blue at 1 (red fastest)
        for (int c = 0; c < 3; ++c)
            for (int r = 0; r < 3; ++r)
                m_adaptation[r][c] = peer[3 * size_t(corner[c]) + size_t(r)];
    }

    // The peer reads tabulated and one-gamma curves only: a parametric curve is compared with its reading of the
    // curve as a table of 4096 entries.
    void matrixTrcAsThePeer_data()
    {
        QTest::addColumn<int>("which");
        QTest::newRow("Rec. 709, D65, gamma 2.2") << 0;
        QTest::newRow("Rec. 709, D65, parametric sRGB curve") << 1;
        QTest::newRow("P3, D65, 1024-entry table of gamma 2.6") << 2;
        QTest::newRow("Rec. 2020, D65, 4096-entry table of gamma 2.4") << 3;
        QTest::newRow("Rec. 709, D50, gamma 1.8") << 4;
    }
    void matrixTrcAsThePeer()
    {
        QFETCH(int, which);
        const std::function<cmsHPROFILE()> makers[] = {
            [] { return matrixTrc(kRec709, 6504, gammaCurve(2.2)); },
            [] { return matrixTrc(kRec709, 6504, srgbCurve()); },
            [] { return matrixTrc(kP3, 6504, tabulated(1024, 2.6)); },
            [] { return matrixTrc(kRec2020, 6504, tabulated(4096, 2.4)); },
            [] { return matrixTrc(kRec709, 5003, gammaCurve(1.8)); },
        };
        const QString profile = path("matrix.icc"), peerProfile = which == 1 ? path("table.icc") : profile;
        QVERIFY(save(makers[which](), profile));
        QVERIFY(which != 1 || save(matrixTrc(kRec709, 6504, tabulated(4096, srgbValue)), peerProfile));
        Read_LUTFile lut, ours;
        QVERIFY2(isRead(lut, profile) && bake(lut, kN, &ours), qPrintable(lut.errorString));
        QCOMPARE(lut.meaning.evaluateSize3D, 33); // no CLUT of its own
        if (!TestSupport::haveOcio())
            QSKIP("ociobakelut (opencolorio-tools) is not installed");
        const std::vector<float> peer = peerInverse(peerProfile, path("matrix.cube"));
        QVERIFY(!peer.empty());
        const double difference = largestDifference(valuesOf(ours), peerPcs(peer), kN * kN * kN);
        qInfo("largest difference from the peer: %.2g", difference);
        QVERIFY2(difference <= 1e-4, qPrintable(QString::number(difference)));
    }

    // A CLUT on the bake's lattice holds the matrix/TRC transform at its nodes, to 16 bits of its PCS encoding.
    // (PCS XYZ numbers hold no negative value, as P3's red has in Z at D50: its Lab profile holds it.)
    void clutProfilesAsThePeer_data()
    {
        QTest::addColumn<bool>("lab");
        QTest::newRow("Rec. 709, PCS XYZ") << false;
        QTest::newRow("P3, PCS Lab") << true;
    }
    void clutProfilesAsThePeer()
    {
        QFETCH(bool, lab);
        cmsHPROFILE source = matrixTrc(lab ? kP3 : kRec709, 6504, tabulated(1024, srgbValue));
        QVERIFY(save(clutProfile(source, lab ? cmsSigLabData : cmsSigXYZData, kN), path("clut.icc")));
        QVERIFY(save(source, path("source.icc")));
        Read_LUTFile lut, ours;
        QVERIFY2(isRead(lut, path("clut.icc")) && bake(lut, kN, &ours), qPrintable(lut.errorString));
        QCOMPARE(lut.meaning.evaluateSize3D, kN); // the CLUT's own size
        if (!TestSupport::haveOcio())
            QSKIP("ociobakelut (opencolorio-tools) is not installed");
        const std::vector<float> peer = peerInverse(path("source.icc"), path("source.cube"));
        QVERIFY(!peer.empty());
        const double difference = largestDifference(valuesOf(ours), peerPcs(peer), kN * kN * kN);
        qInfo("largest difference from the peer's reading of the matrix/TRC profile: %.2g", difference);
        QVERIFY2(difference <= 1e-4, qPrintable(QString::number(difference)));
    }

    // The writer's profile: Little CMS opens it and makes a transform of it; a display profile of RGB to PCS XYZ
    // with a description and the D50 white; its CLUT of --size points reads back within 16 bits. A profile read
    // and written again keeps its transform.
    void writtenProfile()
    {
        QByteArray cube = "LUT_3D_SIZE 5\n";
        for (int i = 0; i < 125; ++i) {
            const double r = i % 5 / 4.0, g = i / 5 % 5 / 4.0, b = i / 25 / 4.0;
            cube += QByteArray::number(0.1 + 0.8 * r * r, 'g', 9) + ' ' + QByteArray::number(0.05 + 0.9 * std::sqrt(g) * (0.8 + 0.2 * b), 'g', 9)
                + ' ' + QByteArray::number(0.7 * b + 0.2 * r * g, 'g', 9) + '\n';
        }
        const QString source = TestSupport::writeFile(path("grade.cube"), cube), written = path("grade.icc");
        const TestSupport::ProcessResult r = TestSupport::runConvert({"--size", "9", source, written});
        QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());

        cmsHPROFILE profile = cmsOpenProfileFromFile(QFile::encodeName(written).constData(), "r");
        QVERIFY(profile);
        QCOMPARE(cmsGetDeviceClass(profile), cmsSigDisplayClass);
        QCOMPARE(cmsGetColorSpace(profile), cmsSigRgbData);
        QCOMPARE(cmsGetPCS(profile), cmsSigXYZData);
        char description[256] = {};
        cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", description, sizeof description);
        QCOMPARE(QString(description), QStringLiteral("Converted from grade.cube"));
        const auto *white = static_cast<const cmsCIEXYZ *>(cmsReadTag(profile, cmsSigMediaWhitePointTag));
        QVERIFY(white && std::fabs(white->X - cmsD50_XYZ()->X) < 1e-4 && std::fabs(white->Z - cmsD50_XYZ()->Z) < 1e-4);
        cmsHPROFILE xyz = cmsCreateXYZProfile();
        cmsHTRANSFORM transform = cmsCreateTransform(profile, TYPE_RGB_DBL, xyz, TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
        QVERIFY(transform);
        cmsDeleteTransform(transform);
        cmsCloseProfile(xyz);
        cmsCloseProfile(profile);

        Read_LUTFile grade, resampled, lut, back;
        LutFileOptions options{source, LutFormatId::Cube};
        QVERIFY(grade.readLut(options, false) && resampled.setSize3D(9, false) && LutCalc::resampleCube(&grade, &resampled));
        QVERIFY2(isRead(lut, written) && bake(lut, 9, &back), qPrintable(lut.errorString));
        QCOMPARE(lut.meaning.evaluateSize3D, 9);
        const double difference = largestDifference(valuesOf(back), valuesOf(resampled), 9 * 9 * 9);
        QVERIFY2(difference <= 0.5 / 32768 + 1e-7, qPrintable(QString::number(difference)));

        // Profile to profile, through the 17-point CLUT of the first's transform.
        QVERIFY(save(matrixTrc(kRec709, 6504, gammaCurve(2.2)), path("display.icc")));
        const TestSupport::ProcessResult again = TestSupport::runConvert({"--size", "17", path("display.icc"), path("again.icm")});
        QVERIFY2(again.exitCode == 0, again.err.constData());
        Read_LUTFile first, second, firstBake, secondBake;
        QVERIFY(isRead(first, path("display.icc")) && isRead(second, path("again.icm")));
        QVERIFY(bake(first, kN, &firstBake) && bake(second, kN, &secondBake));
        QVERIFY(largestDifference(valuesOf(firstBake), valuesOf(secondBake), kN * kN * kN) <= 0.5 / 32768 + 1e-7);
        // A 1D table alone is baked on a CLUT; the plain reading has none to write.
        const QString spi1d = TestSupport::writeFile(path("c.spi1d"), "Version 1\nFrom 0 1\nLength 2\nComponents 1\n{\n0\n1\n}\n");
        const TestSupport::ProcessResult curve = TestSupport::runConvert({spi1d, path("c.icc")});
        QVERIFY2(curve.exitCode == 0 && QFile::exists(path("c.icc")), curve.err.constData());
        const TestSupport::ProcessResult plain = TestSupport::runConvert({"--plain", spi1d, path("p.icc")});
        QVERIFY2(plain.exitCode == 2 && plain.err.contains("holds no 3D table, which the icc output needs"), plain.err.constData());
    }

    // Profiles that are not RGB to a connection space, or not profiles, fail with a reason and no transform.
    void badProfiles()
    {
        QVERIFY(save(matrixTrc(kRec709, 6504, gammaCurve(2.2)), path("good.icc")));
        const QByteArray good = TestSupport::readFile(path("good.icc"));
        QByteArray signature(132, '\0');
        signature.replace(36, 4, "acsp");
        cmsHPROFILE noTransform = cmsCreateProfilePlaceholder(nullptr);
        cmsSetDeviceClass(noTransform, cmsSigDisplayClass);
        cmsSetColorSpace(noTransform, cmsSigRgbData);
        cmsSetPCS(noTransform, cmsSigXYZData);
        cmsToneCurve *linear = cmsBuildGamma(nullptr, 1.0);
        cmsToneCurve *curves[3] = {linear, linear, linear};
        const struct { const char *name; std::function<bool(const QString &)> make; const char *reason; } cases[] = {
            {"empty", [](const QString &p) { return !TestSupport::writeFile(p, "").isEmpty(); }, "0 bytes: too short for an ICC profile"},
            {"a header of zeros", [&](const QString &p) { return !TestSupport::writeFile(p, signature).isEmpty(); },
             "a profile of 0x00000000 data: only RGB profiles are read"},
            {"cut short", [&](const QString &p) { return !TestSupport::writeFile(p, good.left(good.size() / 2)).isEmpty(); },
             "not an ICC profile|holds no transform"},
            {"grey", [&](const QString &p) { return save(cmsCreateGrayProfile(cmsD50_xyY(), linear), p); },
             "a profile of GRAY data: only RGB profiles are read"},
            {"Lab", [](const QString &p) { return save(cmsCreateLab4Profile(nullptr), p); }, "a profile of Lab data"},
            {"device link", [&](const QString &p) { return save(cmsCreateLinearizationDeviceLink(cmsSigRgbData, curves), p); },
             "a profile of class link"},
            {"no transform", [&](const QString &p) { return save(noTransform, p); }, "holds no transform from device RGB"},
        };
        for (const auto &c : cases) {
            const QString file = path("bad.icc");
            QFile::remove(file);
            QVERIFY2(c.make(file), c.name);
            Read_LUTFile lut;
            QVERIFY2(!isRead(lut, file), c.name);
            bool named = false; // one of the reasons, "|" between them
            for (const QString &reason : QString(c.reason).split('|'))
                named = named || lut.errorString.contains(reason);
            QVERIFY2(named, qPrintable(QString(c.name) + ": " + lut.errorString));
            QVERIFY2(!lut.meaning.evaluate, c.name);
        }
        cmsFreeToneCurve(linear);
        const TestSupport::ProcessResult r = TestSupport::runConvert({path("bad.icc"), path("bad.cube")});
        QVERIFY2(r.exitCode == 1 && r.err.count('\n') == 1, r.err.constData());
    }

    // The signature at byte 36 tells a profile by its content.
    void recognisedByContent()
    {
        const LutFormat &icc = LutFormats::row(LutFormatId::Icc);
        QVERIFY(save(matrixTrc(kRec709, 6504, gammaCurve(2.2)), path("r.icc")));
        QVERIFY(icc.recognise(TestSupport::readFile(path("r.icc"))));
        QVERIFY(!icc.recognise("LUT_3D_SIZE 2\n") && !icc.recognise(QByteArray(36, ' ') + "acs"));
    }
};

QTEST_GUILESS_MAIN(TestFormatIcc)
#include "test_format_icc.moc"
