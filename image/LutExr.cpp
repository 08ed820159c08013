#include "image/LutExr.h"

#include "lut/LutFileNames.h"
#include "lut/LutImageCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <Iex.h>
#include <Imath/half.h>
#include <ImathBox.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfPartType.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <mutex>
#include <vector>

namespace {

const char *const kChannelNames[4] = {"R", "G", "B", "A"};
// Rows decoded or encoded at a time: 256, a multiple of every compression's
// block of scan lines (1, 16, 32 or 256), so no block is decoded twice;
// fewer for a row of more than 16384 pixels, so that a block stays 64 MB.
int blockRows(int width)
{
    return std::max(1, std::min(256, (1 << 22) / std::max(1, width)));
}

// The library's header checks bound what a crafted header makes it
// allocate (line offset tables, tile buffers) before a pixel is read.
void limitHeaders()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::Header::setMaxImageSize(LutImageCodec::kMaxPictureWidth, LutImageCodec::kMaxPictureWidth);
        Imf::Header::setMaxTileSize(1 << 14, 1 << 14);
    });
}

// The library's message as one line.
QString oneLine(const char *what)
{
    QString text = QString::fromLocal8Bit(what).simplified();
    return text.isEmpty() ? QStringLiteral("the OpenEXR library failed") : text;
}

class FileIn final : public Imf::IStream
{
public:
    FileIn(QFile &file, const QByteArray &name) : Imf::IStream(name.constData()), m_file(file) {}
    bool read(char c[], int n) override
    {
        if (m_file.read(c, n) != n)
            throw Iex::InputExc("the file ends before the image does");
        return !m_file.atEnd();
    }
    uint64_t tellg() override { return uint64_t(m_file.pos()); }
    void seekg(uint64_t pos) override
    {
        // A position from a damaged offset table can be anything.
        if (pos > uint64_t(m_file.size()) || !m_file.seek(qint64(pos)))
            throw Iex::InputExc("cannot seek in the file");
    }

private:
    QFile &m_file;
};

class DeviceOut final : public Imf::OStream
{
public:
    DeviceOut(QIODevice *device) : Imf::OStream("output"), m_device(device) {}
    void write(const char c[], int n) override
    {
        if (failed || m_device->write(c, n) != n) {
            failed = true;
            throw Iex::IoExc("write failed");
        }
    }
    uint64_t tellp() override { return uint64_t(m_device->pos()); }
    void seekp(uint64_t pos) override
    {
        if (failed || !m_device->seek(qint64(pos))) {
            failed = true;
            throw Iex::IoExc("write failed");
        }
    }
    bool failed = false;

private:
    QIODevice *m_device;
};

} // namespace

// --- Reading -------------------------------------------------------------------

struct ExrReader::State
{
    QFile file;
    std::unique_ptr<FileIn> stream;
    std::unique_ptr<Imf::InputFile> exr;
    Imath::Box2i window;
    int width = 0, height = 0;
    bool alpha = false;
    int bits[4] = {32, 32, 32, 32};
    std::vector<float> block; // blockRows(width) rows of width * 4 values
    int blockStart = 0, blockHeld = 0, row = 0;
    QString error;
};

ExrReader::ExrReader() : d(std::make_unique<State>()) {}
ExrReader::~ExrReader() = default;

bool ExrReader::isExr(const QByteArray &head)
{
    return head.startsWith(QByteArray("\x76\x2f\x31\x01", 4));
}

bool ExrReader::open(const QString &path)
{
    limitHeaders();
    State &s = *d;
    QString reason;
    if (!LutFileNames::openForReading(s.file, path, &reason)) {
        s.error = QStringLiteral("cannot open: %1").arg(reason);
        return false;
    }
    try {
        s.stream = std::make_unique<FileIn>(s.file, QFile::encodeName(QFileInfo(path).fileName()));
        s.exr = std::make_unique<Imf::InputFile>(*s.stream);
        const Imf::Header &header = s.exr->header();
        s.window = header.dataWindow();
        const qint64 width = qint64(s.window.max.x) - s.window.min.x + 1;
        const qint64 height = qint64(s.window.max.y) - s.window.min.y + 1;
        if (width <= 0 || height <= 0 || width > LutImageCodec::kMaxPictureWidth || height > LutImageCodec::kMaxPictureWidth) {
            s.error = QStringLiteral("cannot read the image header: a data window of %1 x %2 pixels").arg(width).arg(height);
            return false;
        }
        s.width = int(width);
        s.height = int(height);
        const Imf::ChannelList &channels = header.channels();
        for (int c = 0; c < 4; ++c) {
            const Imf::Channel *channel = channels.findChannel(kChannelNames[c]);
            if (!channel) {
                if (c == 3)
                    break;
                QStringList names;
                for (auto i = channels.begin(); i != channels.end(); ++i)
                    names << QString::fromUtf8(i.name());
                s.error = QStringLiteral("cannot read the image header: no R, G and B channels (it has %1)")
                              .arg(names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", ")));
                return false;
            }
            if (channel->xSampling != 1 || channel->ySampling != 1) {
                s.error = QStringLiteral("cannot read the image header: channel %1 is subsampled").arg(kChannelNames[c]);
                return false;
            }
            s.bits[c] = channel->type == Imf::HALF ? 16 : 32;
            s.alpha = c == 3;
        }
        if (!s.alpha)
            s.bits[3] = s.bits[0];
    } catch (const std::exception &e) {
        s.error = QStringLiteral("cannot read the image header: %1").arg(oneLine(e.what()));
        return false;
    }
    return true;
}

int ExrReader::width() const { return d->width; }
int ExrReader::height() const { return d->height; }
bool ExrReader::hasAlpha() const { return d->alpha; }
int ExrReader::bits(int channel) const { return d->bits[channel]; }
QString ExrReader::errorString() const { return d->error; }

bool ExrReader::readRow(float *values)
{
    State &s = *d;
    if (s.row >= s.blockStart + s.blockHeld) {
        s.blockStart = s.row;
        s.blockHeld = std::min(blockRows(s.width), s.height - s.row);
        s.block.resize(size_t(s.width) * size_t(s.blockHeld) * 4);
        try {
            // The block's first pixel is the data window's column min.x on row min.y + blockStart.
            const Imath::Box2i rows(Imath::V2i(s.window.min.x, s.window.min.y + s.blockStart),
                                    Imath::V2i(s.window.max.x, s.window.min.y + s.blockStart + s.blockHeld - 1));
            const size_t xStride = 4 * sizeof(float), yStride = xStride * size_t(s.width);
            Imf::FrameBuffer frame;
            for (int c = 0; c < 4; ++c) {
                frame.insert(kChannelNames[c], Imf::Slice::Make(Imf::FLOAT, s.block.data() + c, rows, xStride, yStride,
                                                                1, 1, c == 3 ? 1.0 : 0.0));
            }
            s.exr->setFrameBuffer(frame);
            s.exr->readPixels(rows.min.y, rows.max.y);
        } catch (const std::exception &e) {
            s.error = QStringLiteral("cannot decode the EXR image: %1").arg(oneLine(e.what()));
            return false;
        }
    }
    std::copy_n(s.block.data() + size_t(s.row - s.blockStart) * size_t(s.width) * 4, size_t(s.width) * 4, values);
    ++s.row;
    return true;
}

// --- Writing -------------------------------------------------------------------

struct ExrWriter::State
{
    QIODevice *device = nullptr;
    std::unique_ptr<DeviceOut> stream;
    std::unique_ptr<Imf::OutputFile> exr;
    Imath::Box2i window;
    int width = 0, height = 0;
    int channels = 3;
    bool half[4] = {false, false, false, false};
    std::vector<float> block;
    std::vector<Imath::half> halves; // the block as half values, for half channels
    int held = 0, written = 0;
    QString error;

    bool failed(const char *what, const std::exception &e)
    {
        if (stream && stream->failed)
            error = QStringLiteral("write failed: %1")
                        .arg(device->isSequential() ? QStringLiteral("an EXR file is written to a file that can seek, not a stream")
                                                    : device->errorString());
        else
            error = QStringLiteral("%1: %2").arg(QLatin1String(what), oneLine(e.what()));
        return false;
    }

    // Hands the rows held to the library.
    bool flush()
    {
        if (held == 0)
            return true;
        try {
            const Imath::Box2i rows(Imath::V2i(window.min.x, window.min.y + written),
                                    Imath::V2i(window.max.x, window.min.y + written + held - 1));
            // The library converts only what it reads: half channels are
            // handed over as half values.
            const size_t values = size_t(held) * size_t(width) * 4;
            if (!halves.empty()) {
                for (size_t i = 0; i < values; ++i)
                    halves[i] = Imath::half(block[i]);
            }
            Imf::FrameBuffer frame;
            for (int c = 0; c < channels; ++c) {
                const size_t size = half[c] ? sizeof(Imath::half) : sizeof(float);
                const void *first = half[c] ? static_cast<const void *>(halves.data() + c) : block.data() + c;
                frame.insert(kChannelNames[c], Imf::Slice::Make(half[c] ? Imf::HALF : Imf::FLOAT, first, rows, 4 * size,
                                                                4 * size * size_t(width)));
            }
            exr->setFrameBuffer(frame);
            exr->writePixels(held);
        } catch (const std::exception &e) {
            return failed("cannot encode the EXR image", e);
        }
        written += held;
        held = 0;
        return true;
    }
};

ExrWriter::ExrWriter() : d(std::make_unique<State>()) {}
ExrWriter::~ExrWriter() = default;

bool ExrWriter::open(QIODevice *device, int width, int height, const int bits[4], bool alpha, const ExrReader *like)
{
    State &s = *d;
    s.device = device;
    s.width = width;
    s.height = height;
    s.channels = alpha ? 4 : 3;
    try {
        Imf::Header header(width, height);
        if (like) {
            header = like->d->exr->header();
            // Written as one part of scan lines, top to bottom.
            for (const char *name : {"tiles", "type", "name", "chunkCount", "version"})
                header.erase(name);
            if (header.lineOrder() != Imf::INCREASING_Y)
                header.lineOrder() = Imf::INCREASING_Y;
        }
        header.channels() = Imf::ChannelList();
        for (int c = 0; c < s.channels; ++c) {
            s.half[c] = bits[c] == 16;
            header.channels().insert(kChannelNames[c], Imf::Channel(s.half[c] ? Imf::HALF : Imf::FLOAT));
        }
        s.window = header.dataWindow();
        s.stream = std::make_unique<DeviceOut>(device);
        s.exr = std::make_unique<Imf::OutputFile>(*s.stream, header);
    } catch (const std::exception &e) {
        return s.failed("cannot start the EXR image", e);
    }
    s.block.resize(size_t(width) * size_t(std::min(blockRows(width), height)) * 4);
    if (std::find(s.half, s.half + s.channels, true) != s.half + s.channels)
        s.halves.resize(s.block.size());
    return true;
}

bool ExrWriter::writeRow(const float *values)
{
    State &s = *d;
    std::copy_n(values, size_t(s.width) * 4, s.block.data() + size_t(s.held) * size_t(s.width) * 4);
    ++s.held;
    return (s.held < blockRows(s.width) && s.written + s.held < s.height) || s.flush();
}

bool ExrWriter::finish()
{
    State &s = *d;
    if (!s.flush())
        return false;
    // The line offsets are written when the file object is destroyed; the
    // library keeps quiet about a failure there, the stream does not.
    s.exr.reset();
    if (s.stream->failed)
        return s.failed("", std::runtime_error(""));
    return true;
}

QString ExrWriter::errorString() const
{
    return d->error;
}
