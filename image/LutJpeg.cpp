#include "image/LutJpeg.h"

#include "lut/LutFileNames.h"

#include <QIODevice>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// libjpeg reports an error by calling error_exit, which jumps back to the
// setjmp of the call that failed (the functions that call libjpeg create no
// objects with destructors between the two). Messages are kept, never
// printed; the warnings that mean the data ran out are remembered.
struct JpegErrors
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char text[JMSG_LENGTH_MAX] = {};
    bool endedEarly = false; // the file ended before the image did
    bool dataCutShort = false; // a data segment ended before its image data did

    void attach(jpeg_common_struct *info)
    {
        info->err = jpeg_std_error(&manager);
        manager.error_exit = onError;
        manager.emit_message = onMessage;
        manager.output_message = [](j_common_ptr) {};
    }

    static JpegErrors *of(j_common_ptr info) { return reinterpret_cast<JpegErrors *>(info->err); }
    static void onError(j_common_ptr info)
    {
        JpegErrors *self = of(info);
        (*info->err->format_message)(info, self->text);
        std::longjmp(self->jump, 1);
    }
    static void onMessage(j_common_ptr info, int level)
    {
        if (level != -1)
            return; // trace messages
        JpegErrors *self = of(info);
        if (info->err->msg_code == JWRN_JPEG_EOF)
            self->endedEarly = true;
        else if (info->err->msg_code == JWRN_HIT_MARKER)
            self->dataCutShort = true;
    }
};

} // namespace

// --- Reading -----------------------------------------------------------------

struct JpegReader::State
{
    std::FILE *file = nullptr;
    jpeg_decompress_struct info;
    JpegErrors errors;
    bool created = false;
    bool started = false;
    bool cmyk = false;
    qint64 maxMemory = 0;
    QString error;
    std::vector<JSAMPLE> row;

    ~State()
    {
        if (created)
            jpeg_destroy_decompress(&info);
        if (file)
            std::fclose(file);
    }

    bool failed(const char *what)
    {
        QString detail = QString::fromLocal8Bit(errors.text);
        if (errors.endedEarly)
            detail = QStringLiteral("the file ends before the image does");
        else if (errors.manager.msg_code == JERR_NO_BACKING_STORE || errors.manager.msg_code == JERR_OUT_OF_MEMORY)
            detail = QStringLiteral("it needs more than %1 MB of memory (a progressive JPEG is decoded whole)")
                         .arg(maxMemory >> 20);
        error = QStringLiteral("%1: %2").arg(QLatin1String(what), detail);
        return false;
    }
    // Whether a warning said the data ran out (the reason is set then): the
    // decoder would make up the rest of the picture.
    bool cutShort(const char *what)
    {
        if (errors.endedEarly) {
            failed(what);
            return true;
        }
        if (errors.dataCutShort) {
            error = QStringLiteral("%1: the compressed data ends before the image data does").arg(QLatin1String(what));
            return true;
        }
        return false;
    }
};

JpegReader::JpegReader() : d(std::make_unique<State>()) {}
JpegReader::~JpegReader() = default;

bool JpegReader::open(const QString &path, qint64 maxMemory)
{
    State &s = *d;
    s.maxMemory = maxMemory;
    QString reason;
    s.file = LutFileNames::openStream(path, &reason);
    if (!s.file) {
        s.error = QStringLiteral("cannot open: %1").arg(reason);
        return false;
    }
    s.errors.attach(reinterpret_cast<jpeg_common_struct *>(&s.info));
    if (setjmp(s.errors.jump))
        return s.failed("cannot read the JPEG header");
    jpeg_create_decompress(&s.info);
    s.created = true;
    s.info.mem->max_memory_to_use = long(maxMemory);
    jpeg_stdio_src(&s.info, s.file);
    jpeg_read_header(&s.info, TRUE);
    s.cmyk = s.info.jpeg_color_space == JCS_CMYK || s.info.jpeg_color_space == JCS_YCCK;
    s.info.out_color_space = s.cmyk ? JCS_CMYK : JCS_RGB;
    return true;
}

int JpegReader::width() const { return int(d->info.image_width); }
int JpegReader::height() const { return int(d->info.image_height); }
QString JpegReader::errorString() const { return d->error; }

bool JpegReader::readRow(quint16 *codes)
{
    State &s = *d;
    if (setjmp(s.errors.jump))
        return s.failed("cannot decode the JPEG image");
    if (!s.started) {
        jpeg_start_decompress(&s.info);
        s.started = true;
        s.row.resize(size_t(s.info.output_width) * size_t(s.info.output_components));
    }
    if (s.cutShort("cannot decode the JPEG image"))
        return false;
    JSAMPROW rows[1] = {s.row.data()};
    if (jpeg_read_scanlines(&s.info, rows, 1) != 1 || s.cutShort("cannot decode the JPEG image")) {
        if (s.error.isEmpty())
            s.error = QStringLiteral("cannot decode the JPEG image: the file ends before the image does");
        return false;
    }
    const size_t components = s.cmyk ? 4 : 3;
    for (size_t x = 0; x < size_t(s.info.output_width); ++x) {
        const JSAMPLE *in = s.row.data() + components * x;
        quint16 *out = codes + 4 * x;
        // CMYK is inverted, as Adobe's software writes it.
        const int k = s.cmyk ? in[3] : 255;
        for (int c = 0; c < 3; ++c)
            out[c] = quint16(k * in[c] / 255);
        out[3] = 255;
    }
    return true;
}

// --- Writing -----------------------------------------------------------------

struct JpegWriter::State
{
    static constexpr size_t kBufferSize = 1 << 16;

    QIODevice *device = nullptr;
    jpeg_compress_struct info;
    jpeg_destination_mgr destination;
    JpegErrors errors;
    bool created = false;
    bool deviceFailed = false;
    QString error;
    std::vector<JOCTET> buffer;
    std::vector<JSAMPLE> row;

    ~State()
    {
        if (created)
            jpeg_destroy_compress(&info);
    }

    static State *of(j_compress_ptr info) { return static_cast<State *>(info->client_data); }
    static void initDestination(j_compress_ptr info)
    {
        State *s = of(info);
        info->dest->next_output_byte = s->buffer.data();
        info->dest->free_in_buffer = s->buffer.size();
    }
    bool put(size_t size)
    {
        if (size > 0 && device->write(reinterpret_cast<const char *>(buffer.data()), qint64(size)) != qint64(size))
            deviceFailed = true;
        return !deviceFailed;
    }
    static boolean emptyBuffer(j_compress_ptr info)
    {
        State *s = of(info);
        if (!s->put(s->buffer.size()))
            ERREXIT(info, JERR_FILE_WRITE);
        initDestination(info);
        return TRUE;
    }
    static void termDestination(j_compress_ptr info)
    {
        State *s = of(info);
        if (!s->put(s->buffer.size() - info->dest->free_in_buffer))
            ERREXIT(info, JERR_FILE_WRITE);
    }

    bool failed()
    {
        error = deviceFailed ? QStringLiteral("write failed: %1").arg(device->errorString())
                             : QStringLiteral("cannot encode the JPEG image: %1").arg(QString::fromLocal8Bit(errors.text));
        return false;
    }
};

JpegWriter::JpegWriter() : d(std::make_unique<State>()) {}
JpegWriter::~JpegWriter() = default;

bool JpegWriter::open(QIODevice *device, int width, int height, int quality)
{
    State &s = *d;
    s.device = device;
    s.buffer.resize(State::kBufferSize);
    s.row.resize(size_t(width) * 3);
    s.errors.attach(reinterpret_cast<jpeg_common_struct *>(&s.info));
    if (setjmp(s.errors.jump))
        return s.failed();
    jpeg_create_compress(&s.info);
    s.created = true;
    s.info.client_data = &s;
    s.destination.init_destination = State::initDestination;
    s.destination.empty_output_buffer = State::emptyBuffer;
    s.destination.term_destination = State::termDestination;
    s.info.dest = &s.destination;
    s.info.image_width = JDIMENSION(width);
    s.info.image_height = JDIMENSION(height);
    s.info.input_components = 3;
    s.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s.info);
    jpeg_set_quality(&s.info, quality, TRUE);
    // Full-resolution chroma (4:4:4): the library's default halves it both
    // ways, which smears every colour edge a LUT makes by a pixel.
    for (int c = 0; c < s.info.num_components; ++c) {
        s.info.comp_info[c].h_samp_factor = 1;
        s.info.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&s.info, TRUE);
    return true;
}

bool JpegWriter::writeRow(const quint16 *codes)
{
    State &s = *d;
    const size_t width = s.row.size() / 3;
    for (size_t x = 0; x < width; ++x)
        for (size_t c = 0; c < 3; ++c)
            s.row[3 * x + c] = JSAMPLE(codes[4 * x + c]);
    if (setjmp(s.errors.jump))
        return s.failed();
    JSAMPROW rows[1] = {s.row.data()};
    jpeg_write_scanlines(&s.info, rows, 1);
    return true;
}

bool JpegWriter::finish()
{
    State &s = *d;
    if (setjmp(s.errors.jump))
        return s.failed();
    jpeg_finish_compress(&s.info);
    return true;
}

QString JpegWriter::errorString() const
{
    return d->error;
}
