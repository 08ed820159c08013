#include "image/LutPreview.h"

#include "calc/LutCalc.h"
#include "image/ImageRows.h"
#include "lut/LutTextOutput.h"
#include "lut/Read_LUTFile.h"
#include "lut/Write_LUTFile.h"

#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRgba64>

#include <algorithm>
#include <cmath>

namespace LutPreview {

namespace {

// The sheet: pictures of kPictureWidth x kPictureHeight and a square curve
// panel as high as they are, kMargin apart and from the edges.
constexpr int kPictureWidth = 640;
constexpr int kPictureHeight = 360;
constexpr int kMargin = 16;
constexpr int kCaptionHeight = 30;
constexpr int kCaptionPixels = 18;
constexpr int kCurveSamples = 512;

struct Rgb
{
    double r, g, b;
};

// Skin tones from pale to deep, then sky blues from haze to deep, as
// display code values.
const Rgb kPatches[] = {
    {0.94, 0.78, 0.67}, {0.87, 0.67, 0.55}, {0.78, 0.57, 0.44}, {0.65, 0.45, 0.33}, {0.49, 0.33, 0.24},
    {0.34, 0.23, 0.17}, {0.75, 0.84, 0.93}, {0.53, 0.72, 0.92}, {0.36, 0.56, 0.83}, {0.22, 0.40, 0.70},
};
constexpr int kPatchCount = int(sizeof kPatches / sizeof kPatches[0]);
constexpr double kPatchGround = 0.46;

// Hue h (0..1 around the circle) at saturation s and value v.
Rgb fromHsv(double h, double s, double v)
{
    const double sector = (h - std::floor(h)) * 6.0;
    const auto channel = [&](double offset) {
        const double k = std::fmod(offset + sector, 6.0);
        return v - v * s * std::clamp(std::min(k, 4.0 - k), 0.0, 1.0);
    };
    return {channel(5.0), channel(3.0), channel(1.0)};
}

// The colour of the test picture at (x, y) of a width x height picture.
// Bands from the top: hue sweep (five twelfths of the height), grey ramp,
// grey steps, patches, banding gradient.
Rgb testColour(int x, int y, int width, int height)
{
    const double u = (x + 0.5) / width;
    const double v = (y + 0.5) / height;
    if (v < 5.0 / 12) {
        // Pale at the top, full colour in the middle, darker below.
        const double t = v / (5.0 / 12);
        const double saturation = t < 0.5 ? 0.2 + 1.6 * t : 1.0;
        const double value = t < 0.5 ? 1.0 : 1.0 - 1.3 * (t - 0.5);
        return fromHsv(u, saturation, value);
    }
    if (v < 6.5 / 12) {
        const double grey = double(x) / (width - 1);
        return {grey, grey, grey};
    }
    if (v < 7.0 / 12) {
        const double step = std::min(10.0, std::floor(u * 11)) / 10;
        return {step, step, step};
    }
    if (v < 9.75 / 12) {
        // Patches with a ground of mid grey around each.
        const double top = 7.0 / 12, bottom = 9.75 / 12;
        const double column = u * kPatchCount;
        const int index = std::min(kPatchCount - 1, int(column));
        const double inX = column - index;
        const double inY = (v - top) / (bottom - top);
        if (inX < 0.1 || inX > 0.9 || inY < 0.12 || inY > 0.88)
            return {kPatchGround, kPatchGround, kPatchGround};
        return kPatches[index];
    }
    // A slow gradient through dark blues, where a LUT that bands shows steps.
    return {0.02 + 0.28 * u, 0.04 + 0.41 * u, 0.08 + 0.57 * u};
}

QRgb toRgb8(const double rgb[3])
{
    return qRgb(int(lutCode(rgb[0], 255)), int(lutCode(rgb[1], 255)), int(lutCode(rgb[2], 255)));
}

// The grey axis through the LUT: the output at (t, t, t) for t over 0..1.
void greyAxis(const Read_LUTFile &lut, std::vector<double> *curves)
{
    curves->resize(3 * size_t(kCurveSamples));
    for (int i = 0; i < kCurveSamples; ++i) {
        const double t = double(i) / (kCurveSamples - 1);
        double rgb[3] = {t, t, t};
        LutCalc::evaluate(&lut, rgb);
        for (int c = 0; c < 3; ++c)
            (*curves)[3 * size_t(i) + size_t(c)] = rgb[c];
    }
}

// The curve panel in rect: the frame of 0..1 on both axes with a grid of
// quarters and the identity diagonal, widened to take outputs beyond 0..1,
// and the three channels' curves.
void drawCurves(QPainter &painter, const QRectF &rect, const std::vector<double> &curves)
{
    double low = 0.0, high = 1.0;
    for (const double value : curves) {
        if (std::isfinite(value)) {
            low = std::min(low, value);
            high = std::max(high, value);
        }
    }
    // Far outliers would flatten everything else.
    low = std::max(low, -1.0);
    high = std::min(high, 2.0);
    const auto at = [&](double t, double value) {
        const double clamped = std::clamp(std::isfinite(value) ? value : 0.0, low, high);
        return QPointF(rect.left() + t * rect.width(), rect.bottom() - (clamped - low) / (high - low) * rect.height());
    };

    // Outputs beyond 0..1 lie on a lighter ground.
    painter.fillRect(rect, QColor(44, 44, 44));
    painter.fillRect(QRectF(at(0, 1), at(1, 0)), QColor(26, 26, 26));
    painter.setPen(QPen(QColor(70, 70, 70), 1));
    for (int i = 0; i <= 4; ++i) {
        const double q = i / 4.0;
        painter.drawLine(at(q, low), at(q, high));
        painter.drawLine(at(0, q), at(1, q));
    }
    painter.setPen(QPen(QColor(130, 130, 130), 1, Qt::DashLine));
    painter.drawLine(at(0, 0), at(1, 1));

    // Added to what lies below, so where the three curves coincide they
    // are white.
    const QColor colours[3] = {QColor(230, 40, 40), QColor(40, 210, 40), QColor(60, 90, 255)};
    painter.setCompositionMode(QPainter::CompositionMode_Plus);
    for (int c = 0; c < 3; ++c) {
        QPainterPath path;
        for (int i = 0; i < kCurveSamples; ++i) {
            const QPointF point = at(double(i) / (kCurveSamples - 1), curves[3 * size_t(i) + size_t(c)]);
            if (i == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        painter.setPen(QPen(colours[c], 2));
        painter.drawPath(path);
    }
}

} // namespace

QImage testPicture(int width, int height, LutImageCodec::PreviewInput input)
{
    const auto encode = [input](double d) {
        if (input == LutImageCodec::PreviewInput::Display)
            return d;
        const double linear = std::pow(std::max(d, 0.0), 2.4);
        if (input == LutImageCodec::PreviewInput::Linear)
            return linear;
        return linear > 0 ? std::clamp((std::log2(linear) + 9.72) / 17.52, 0.0, 1.0) : 0.0;
    };
    QImage image(width, height, QImage::Format_RGBX64);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgba64 *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            Rgb c = testColour(x, y, width, height);
            c = {encode(c.r), encode(c.g), encode(c.b)};
            line[x] = QRgba64::fromRgba64(quint16(lutCode(c.r, 65535)), quint16(lutCode(c.g, 65535)),
                                          quint16(lutCode(c.b, 65535)), 65535);
        }
    }
    return image;
}

bool write(const Read_LUTFile &lut, const QString &outPath, const LutImageCodec::PreviewSettings &settings, QString *reason)
{
    const int curveSide = kPictureHeight;
    // Text needs fonts, which a program has when it is a QGuiApplication.
    const bool captions = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
    const int top = kMargin + (captions ? kCaptionHeight : 0);
    QImage sheet(4 * kMargin + 2 * kPictureWidth + curveSide, top + kMargin + kPictureHeight, QImage::Format_RGB32);
    sheet.fill(QColor(40, 40, 40));

    const QImage picture = testPicture(kPictureWidth, kPictureHeight, settings.input);
    const int afterLeft = 2 * kMargin + kPictureWidth;
    for (int y = 0; y < kPictureHeight; ++y) {
        const auto *in = reinterpret_cast<const QRgba64 *>(picture.constScanLine(y));
        auto *line = reinterpret_cast<QRgb *>(sheet.scanLine(top + y));
        for (int x = 0; x < kPictureWidth; ++x) {
            double rgb[3] = {in[x].red() / 65535.0, in[x].green() / 65535.0, in[x].blue() / 65535.0};
            line[kMargin + x] = toRgb8(rgb);
            LutCalc::evaluate(&lut, rgb);
            line[afterLeft + x] = toRgb8(rgb);
        }
    }

    std::vector<double> curves;
    greyAxis(lut, &curves);
    {
        QPainter painter(&sheet);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF curveRect(afterLeft + kPictureWidth + kMargin, top, curveSide, curveSide);
        drawCurves(painter, curveRect, curves);
        if (captions) {
            QFont font = painter.font();
            font.setPixelSize(kCaptionPixels);
            painter.setFont(font);
            painter.setPen(QColor(210, 210, 210));
            const auto caption = [&](int left, int width, const QString &text) {
                const QRectF box(left, kMargin, width, kCaptionHeight - 6);
                painter.drawText(box, Qt::AlignLeft | Qt::AlignBottom,
                                 painter.fontMetrics().elidedText(text, Qt::ElideMiddle, width));
            };
            const char *const encodings[] = {"", " (log)", " (linear)"};
            caption(kMargin, kPictureWidth, QStringLiteral("before") + QLatin1String(encodings[int(settings.input)]));
            caption(afterLeft, kPictureWidth, QStringLiteral("after"));
            caption(int(curveRect.left()), curveSide, settings.title);
        }
    }

    LutTextOutput out(outPath);
    if (!out.open()) {
        *reason = QStringLiteral("cannot open for writing: %1").arg(out.errorString());
        return false;
    }
    if (!ImageRows::writeImage(out.device(), "png", sheet, 6, reason))
        return false;
    if (!out.commit()) {
        *reason = QStringLiteral("write failed: %1").arg(out.errorString());
        return false;
    }
    return true;
}

} // namespace LutPreview
