#include "image/LutExr.h"

#include "lut/LutFileNames.h"
#include "lut/LutImageCodec.h"
#include "lut/LutMemory.h"
#include "lut/LutParallel.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QtEndian>

#include <Iex.h>
#include <Imath/half.h>
#include <ImathBox.h>
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfGenericOutputFile.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfPartType.h>
#include <IlmThreadPool.h>
#include <libdeflate.h>
#include <openexr.h>

#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <stdexcept>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

const char *const kChannelNames[4] = {"R", "G", "B", "A"};
// Rows decoded or encoded at a time: 32, fewer for a row of more than 128K
// pixels, so that a block stays a few tens of MB. Blocks of a chunk or two
// (16 or 32 rows for most compressions) keep the decoding and encoding in
// step with the caller's bands of rows, rather than in bursts of a few
// hundred rows the caller waits for.
int blockRowsFor(int width)
{
    return std::max(1, std::min(32, (1 << 22) / std::max(1, width)));
}

// Tasks of an EXR writer on threads started through LutParallel like every
// other: the library's own (filling and compressing an output file's line
// buffers, several at once when the file is made for more than one thread)
// and the ZIP chunks this file compresses itself. While a writer lives, its
// tasks run on at most its threads at once, each thread taking the next
// task and waiting for more between the writer's calls (rather than a
// thread started for every few chunks) until the writer ends. A task added
// on another thread runs at once, on that thread.
class ExrTasks
{
public:
    explicit ExrTasks(int threads) : m_threads(threads) {}
    ~ExrTasks() { join(); }
    ExrTasks(const ExrTasks &) = delete;
    ExrTasks &operator=(const ExrTasks &) = delete;

    int threads() const { return m_threads; }

    void add(IlmThread::Task *task)
    {
        add([task]() { run(task); });
    }

    // Calls body(worker, index) for index = 0 .. count - 1 on the calling
    // thread (worker 0) and up to threads() - 1 others (workers 1 on), each
    // taking the next index, and returns when all are done. The first
    // exception thrown is rethrown then.
    void forEach(int count, const std::function<void(int worker, int index)> &body)
    {
        struct Shared
        {
            std::atomic<int> next{0};
            std::mutex mutex;
            std::condition_variable done;
            int helping = 0;
            std::exception_ptr first;
        } shared;
        const auto drain = [&shared, &body, count](int worker) {
            try {
                for (int i; (i = shared.next.fetch_add(1)) < count;)
                    body(worker, i);
            } catch (...) {
                shared.next = count;
                const std::lock_guard<std::mutex> lock(shared.mutex);
                if (!shared.first)
                    shared.first = std::current_exception();
            }
        };
        const int helpers = std::max(0, std::min(m_threads, count) - 1);
        shared.helping = helpers;
        int added = 0;
        try {
            for (int h = 1; h <= helpers; ++h, ++added) {
                add([&shared, &drain, h]() {
                    drain(h);
                    const std::lock_guard<std::mutex> lock(shared.mutex);
                    if (--shared.helping == 0)
                        shared.done.notify_all();
                });
            }
        } catch (const std::bad_alloc &) {
            // No memory for another task: the calling thread does the rest,
            // and waits for the helpers already added before the stack goes.
            const std::lock_guard<std::mutex> lock(shared.mutex);
            shared.helping -= helpers - added;
        }
        drain(0);
        std::unique_lock<std::mutex> lock(shared.mutex);
        shared.done.wait(lock, [&shared]() { return shared.helping == 0; });
        if (shared.first)
            std::rethrow_exception(shared.first);
    }

    // Runs the tasks left, then ends the threads.
    void join()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_closing = true;
        }
        m_wake.notify_all();
        for (LutParallel::Background &worker : m_workers)
            worker.wait();
        m_workers.clear();
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = false;
    }
    static void run(IlmThread::Task *task)
    {
        IlmThread::TaskGroup *group = task->group();
        // The library's tasks keep their failures for the file to report.
        try {
            task->execute();
        } catch (...) {
        }
        delete task;
        if (group)
            group->finishOneTask();
    }

    // The tasks added on this thread while one lives go to tasks. The
    // library waits for the tasks of a call before it returns; the threads
    // then wait for the next call's, until join.
    class Scope
    {
    public:
        explicit Scope(ExrTasks *tasks) : m_previous(current) { current = tasks; }
        ~Scope() { current = m_previous; }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        ExrTasks *m_previous;
    };
    static thread_local ExrTasks *current;

private:
    void add(std::function<void()> task)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_tasks.push_back(std::move(task));
            if (m_idle > 0) {
                m_wake.notify_one();
                return;
            }
            if (m_running >= m_threads)
                return;
            ++m_running;
        }
        // A worker whose thread cannot be started (or kept) runs here and
        // now, and returns once the queue is empty instead of waiting for
        // more: a task queued always runs.
        const std::thread::id adding = std::this_thread::get_id();
        try {
            m_workers.emplace_back([this, adding]() {
                work(std::this_thread::get_id() == adding);
                return true;
            });
        } catch (const std::bad_alloc &) {
            work(true);
        }
    }

    void work(bool onCaller)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (!m_tasks.empty()) {
                std::function<void()> task = std::move(m_tasks.front());
                m_tasks.pop_front();
                lock.unlock();
                task();
                lock.lock();
            } else if (m_closing || onCaller) {
                --m_running;
                return;
            } else {
                ++m_idle;
                m_wake.wait(lock);
                --m_idle;
            }
        }
    }

    const int m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    int m_running = 0;
    int m_idle = 0;
    bool m_closing = false;
    std::vector<LutParallel::Background> m_workers;
};
thread_local ExrTasks *ExrTasks::current = nullptr;

class ExrTaskProvider final : public IlmThread::ThreadPoolProvider
{
public:
    int numThreads() const override { return 0; }
    void setNumThreads(int) override {}
    void addTask(IlmThread::Task *task) override
    {
        if (ExrTasks::current)
            ExrTasks::current->add(task);
        else
            ExrTasks::run(task);
    }
    void finish() override {}
};

// Floats to halves as Imath makes them (to nearest, ties to even), eight at
// a time where the processor converts them (F16C): Imath's conversion one
// at a time is an eighth of the time of the thread writing an EXR. A NaN
// goes through Imath, which keeps more of its payload.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx,f16c"))) size_t toHalvesEightAtATime(const float *in, Imath::half *out, size_t count)
{
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 v = _mm256_loadu_ps(in + i);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm256_cvtps_ph(v, _MM_FROUND_TO_NEAREST_INT));
        if (_mm256_movemask_ps(_mm256_cmp_ps(v, v, _CMP_UNORD_Q)) != 0) {
            for (size_t k = i; k < i + 8; ++k)
                out[k] = Imath::half(in[k]);
        }
    }
    return i;
}

// AVX and F16C, and the system saving the 256-bit registers.
bool convertsHalves()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const unsigned xsave = 1u << 27, avx = 1u << 28, f16c = 1u << 29;
    if ((c & (xsave | avx | f16c)) != (xsave | avx | f16c))
        return false;
    unsigned low = 0, high = 0;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 6u) == 6u;
}
#endif

void toHalves(const float *in, Imath::half *out, size_t count)
{
    size_t i = 0;
#if defined(__x86_64__) || defined(__i386__)
    static const bool f16c = convertsHalves();
    if (f16c)
        i = toHalvesEightAtATime(in, out, count);
#endif
    for (; i < count; ++i)
        out[i] = Imath::half(in[i]);
}

// Rows of RGB(A) floats to the planes of half channels, eight pixels at a
// time: the pixels' values transposed to one register per channel and
// converted as toHalvesEightAtATime converts them (NaNs through Imath).
// Returns the pixels done.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx,f16c"))) int toHalfPlanesEightAtATime(const float *values, int width, int channels,
                                                                 uint8_t *const planes[4])
{
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const float *p = values + 4 * size_t(x);
        __m128 a0 = _mm_loadu_ps(p), a1 = _mm_loadu_ps(p + 4), a2 = _mm_loadu_ps(p + 8), a3 = _mm_loadu_ps(p + 12);
        __m128 b0 = _mm_loadu_ps(p + 16), b1 = _mm_loadu_ps(p + 20), b2 = _mm_loadu_ps(p + 24), b3 = _mm_loadu_ps(p + 28);
        _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
        _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
        const __m256 v[4] = {_mm256_set_m128(b0, a0), _mm256_set_m128(b1, a1), _mm256_set_m128(b2, a2),
                             _mm256_set_m128(b3, a3)};
        bool nan = false;
        for (int c = 0; c < channels; ++c)
            nan = nan || _mm256_movemask_ps(_mm256_cmp_ps(v[c], v[c], _CMP_UNORD_Q)) != 0;
        for (int c = 0; c < channels; ++c) {
            uint8_t *out = planes[c] + 2 * size_t(x);
            if (!nan) {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_cvtps_ph(v[c], _MM_FROUND_TO_NEAREST_INT));
            } else {
                for (int k = 0; k < 8; ++k) {
                    const unsigned short bits = Imath::half(p[4 * k + c]).bits();
                    std::memcpy(out + 2 * k, &bits, 2);
                }
            }
        }
    }
    return x;
}
#endif

// The library's header checks bound what a crafted header makes it
// allocate (line offset tables, tile buffers) before a pixel is read.
void limitHeaders()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::Header::setMaxImageSize(LutImageCodec::kMaxPictureWidth, LutImageCodec::kMaxPictureWidth);
        Imf::Header::setMaxTileSize(1 << 14, 1 << 14);
        // The pool takes the provider over.
        IlmThread::ThreadPool::globalThreadPool().setThreadProvider(new ExrTaskProvider);
    });
}

// The bytes a value of a fixed-size attribute type takes; 0 for the types
// whose values say their own size or take the size declared.
int fixedSize(const QByteArray &type)
{
    static const std::pair<const char *, int> sizes[] = {
        {"box2i", 16},   {"box2f", 16},         {"chromaticities", 32}, {"compression", 1}, {"double", 8},
        {"envmap", 1},   {"float", 4},          {"int", 4},             {"keycode", 28},    {"lineOrder", 1},
        {"m33f", 36},    {"m33d", 72},          {"m44f", 64},           {"m44d", 128},      {"rational", 8},
        {"tiledesc", 9}, {"timecode", 8},       {"v2i", 8},             {"v2f", 8},         {"v2d", 16},
        {"v3i", 12},     {"v3f", 12},           {"v3d", 24},            {"deepImageState", 1}};
    for (const auto &[name, bytes] : sizes) {
        if (type == name)
            return bytes;
    }
    return 0;
}

// The bytes a channel list takes: each channel a name, a NUL and 16 bytes,
// then a NUL; -1 when value does not hold a whole list.
qint64 channelListSize(const QByteArray &value)
{
    qint64 at = 0;
    while (at < value.size()) {
        const qint64 end = value.indexOf('\0', int(at));
        if (end < 0)
            return -1;
        if (end == at)
            return at + 1;
        at = end + 1 + 16;
    }
    return -1;
}

// Why the attributes of an EXR's headers cannot be what they say (empty
// when they can): the library allocates the size an attribute declares
// before it reads a byte of it, so a few bytes could ask it for gigabytes.
// Each attribute is a name, a type name and a size the file must hold;
// the headers of a multi-part file follow one another, an empty one
// ending them. The file is read from its start and left there.
QString headerProblem(QFile &file)
{
    const qint64 size = file.size();
    const auto text = [&file](QByteArray *out) {
        char c = 0;
        out->clear();
        while (out->size() <= 255 && file.getChar(&c) && c != '\0')
            out->append(c);
        return c == '\0' && out->size() <= 255;
    };
    if (!file.seek(0))
        return QStringLiteral("cannot read the image header: %1").arg(file.errorString());
    const QByteArray head = file.read(8);
    if (head.size() < 8)
        return QStringLiteral("cannot read the image header: the file ends after %1 bytes").arg(head.size());
    const bool multipart = uchar(head[5]) & 0x10;
    QByteArray name, type;
    for (int part = 0;; ++part) {
        int attributes = 0;
        for (;; ++attributes) {
            if (!text(&name))
                return QStringLiteral("cannot read the image header: an attribute name is cut short or too long");
            if (name.isEmpty())
                break;
            char bytes[4];
            if (!text(&type) || file.read(bytes, 4) != 4)
                return QStringLiteral("cannot read the image header: attribute \"%1\" is cut short").arg(QString::fromLatin1(name));
            const qint32 declared = qint32(quint32(uchar(bytes[0])) | quint32(uchar(bytes[1])) << 8
                                           | quint32(uchar(bytes[2])) << 16 | quint32(uchar(bytes[3])) << 24);
            if (declared < 0 || file.pos() + declared > size)
                return QStringLiteral("cannot read the image header: attribute \"%1\" declares %2 bytes, more than the file holds")
                    .arg(QString::fromLatin1(name))
                    .arg(declared);
            // The library reads a value of a known type by its type, not by
            // the size declared: the two must agree, or what follows would
            // be read from the wrong place.
            const qint64 start = file.pos();
            const QByteArray value = declared <= 1 << 16 ? file.read(declared) : QByteArray();
            const int natural = fixedSize(type);
            qint64 held = natural;
            if (type == "chlist")
                held = channelListSize(value);
            else if (type == "preview" && value.size() >= 8)
                held = 8 + 4 * qint64(qFromLittleEndian<quint32>(value.constData())) * qFromLittleEndian<quint32>(value.constData() + 4);
            else if (type == "preview")
                held = -1;
            if ((natural > 0 || type == "chlist" || type == "preview") && held != declared)
                return QStringLiteral("cannot read the image header: attribute \"%1\" of type %2 declares %3 bytes, its value takes %4")
                    .arg(QString::fromLatin1(name), QString::fromLatin1(type))
                    .arg(declared)
                    .arg(held < 0 ? QStringLiteral("more") : QString::number(held));
            if (!file.seek(start + declared))
                return QStringLiteral("cannot read the image header: %1").arg(file.errorString());
        }
        if (!multipart || attributes == 0)
            break;
    }
    file.seek(0);
    return QString();
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

// ZIP and ZIPS chunks (the compression of most plates and renders) are
// inflated by libdeflate, which takes well under half of zlib's time for the
// same stream, checksum included; the inflation was the largest part of
// reading a picture. The rest is the format's own: each byte was stored as
// its difference from the one before (plus 128), and the even bytes of the
// chunk come first, then the odd ones. Anything but a whole chunk of the
// size the header gives is refused as the core refuses it. Used on one
// thread at a time, as its decode pipeline is.
class ZipInflate
{
public:
    ZipInflate() = default;
    ZipInflate(const ZipInflate &) = delete;
    ZipInflate &operator=(const ZipInflate &) = delete;
    ~ZipInflate()
    {
        if (m_decompressor)
            libdeflate_free_decompressor(m_decompressor);
    }

    // Puts run in place of the decoder's decompression, keeping the core's
    // own for what run does not take.
    void install(exr_decode_pipeline_t &decoder)
    {
        if (!decoder.decompress_fn)
            return;
        m_fallback = decoder.decompress_fn;
        decoder.decompress_fn = run;
        decoder.decoding_user_data = this;
    }

private:
    static exr_result_t run(exr_decode_pipeline_t *decode)
    {
        auto *self = static_cast<ZipInflate *>(decode->decoding_user_data);
        const uint64_t packed = decode->chunk.packed_size;
        const uint64_t unpacked = decode->chunk.unpacked_size;
        if (packed == 0)
            return EXR_ERR_SUCCESS;
        // The pipeline gives a chunk stored as it is (no smaller compressed)
        // the packed buffer as its unpacked one.
        if (!decode->packed_buffer || !decode->unpacked_buffer
            || (packed != unpacked && decode->unpacked_alloc_size < unpacked))
            return self->m_fallback(decode);
        if (packed == unpacked) {
            if (decode->unpacked_buffer != decode->packed_buffer)
                std::memcpy(decode->unpacked_buffer, decode->packed_buffer, size_t(unpacked));
            return EXR_ERR_SUCCESS;
        }
        try {
            if (!self->m_decompressor && !(self->m_decompressor = libdeflate_alloc_decompressor()))
                return EXR_ERR_OUT_OF_MEMORY;
            if (self->m_scratch.size() < unpacked)
                self->m_scratch.resize(size_t(unpacked));
        } catch (const std::bad_alloc &) {
            return EXR_ERR_OUT_OF_MEMORY;
        }
        uint8_t *t = self->m_scratch.data();
        size_t inflated = 0;
        if (libdeflate_zlib_decompress(self->m_decompressor, decode->packed_buffer, size_t(packed), t, size_t(unpacked),
                                       &inflated)
                != LIBDEFLATE_SUCCESS
            || inflated != unpacked)
            return EXR_ERR_CORRUPT_CHUNK;
        const size_t n = size_t(unpacked);
        undoDifferences(t, n);
        interleave(t, n, static_cast<uint8_t *>(decode->unpacked_buffer));
        return EXR_ERR_SUCCESS;
    }

    // t[i] = t[i - 1] + t[i] - 128 from i = 1 on, modulo 256: a running sum
    // of the bytes less 128 (each with its top bit flipped), sixteen at a
    // time, carrying the last sum on.
    static void undoDifferences(uint8_t *t, size_t n)
    {
        if (n == 0)
            return;
        uint8_t sum = t[0];
        size_t i = 1;
#if defined(__SSE2__)
        __m128i carried = _mm_set1_epi8(char(sum));
        const __m128i flip = _mm_set1_epi8(char(0x80));
        for (; i + 16 <= n; i += 16) {
            __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i)), flip);
            x = _mm_add_epi8(x, _mm_slli_si128(x, 1));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 2));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
            x = _mm_add_epi8(x, carried);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(t + i), x);
            const __m128i last = _mm_srli_si128(x, 15);
            carried = _mm_shuffle_epi32(_mm_shufflelo_epi16(_mm_unpacklo_epi8(last, last), 0), 0);
        }
        sum = t[i - 1];
#endif
        for (; i < n; ++i) {
            sum = uint8_t(sum + t[i] - 128);
            t[i] = sum;
        }
    }

    // The first (n + 1) / 2 bytes of t to the even places of out, the rest
    // to the odd ones.
    static void interleave(const uint8_t *t, size_t n, uint8_t *out)
    {
        const uint8_t *even = t;
        const uint8_t *odd = t + (n + 1) / 2;
        size_t i = 0;
#if defined(__SSE2__)
        for (; i + 32 <= n; i += 32, even += 16, odd += 16) {
            const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i *>(even));
            const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i *>(odd));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_unpacklo_epi8(e, o));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 16), _mm_unpackhi_epi8(e, o));
        }
#endif
        for (; i + 1 < n; i += 2) {
            out[i] = *even++;
            out[i + 1] = *odd++;
        }
        if (i < n)
            out[i] = *even;
    }

    libdeflate_decompressor *m_decompressor = nullptr;
    std::vector<uint8_t, LutMemory::Allocator<uint8_t>> m_scratch;
    exr_result_t (*m_fallback)(exr_decode_pipeline_t *) = nullptr;
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
    // The rows decoded, red, green, blue and alpha each a plane of
    // blockRows rows, then a plane the channels not read are decoded into:
    // the core's unpacking of four half channels at once writes through a
    // channel's pointer even when it is null. Every chunk fills its pixels
    // of the planes of its channels; the alpha plane of a picture without
    // alpha stays 1.
    std::vector<float, LutMemory::Allocator<float>> planes;
    int blockRows = 0;        // rows decoded at a time: whole chunks
    int blockStart = 0, blockHeld = 0, row = 0;
    QString error;
    // The pixels are decoded by the library's core, which checks every
    // chunk's size as it decompresses it (the line-buffer reader of
    // OpenEXR 3.1 fills a chunk that inflates short from memory it never
    // wrote).
    exr_context_t core = nullptr;
    exr_decode_pipeline_t decoder = EXR_DECODE_PIPELINE_INITIALIZER;
    bool decoding = false;
    bool libraryDecodes = false; // through exr, not the core
    bool zipped = false;         // ZIP or ZIPS: inflated by zip
    ZipInflate zip;
    bool tiled = false;
    int chunkWidth = 0, chunkRows = 0; // a tile, or a chunk of scan lines (the width by its rows)
    QString coreMessage;

    ~State()
    {
        if (decoding)
            exr_decoding_destroy(core, &decoder);
        if (core)
            exr_finish(&core);
    }

    static int64_t readCore(exr_const_context_t context, void *user, void *buffer, uint64_t size, uint64_t offset,
                            exr_stream_error_func_ptr_t)
    {
        (void)context;
        const int fd = int(static_cast<State *>(user)->file.handle());
        return int64_t(::pread(fd, buffer, size_t(size), off_t(offset)));
    }
    static int64_t sizeCore(exr_const_context_t, void *user) { return int64_t(static_cast<State *>(user)->file.size()); }
    static void keepCoreMessage(exr_const_context_t context, exr_result_t, const char *message)
    {
        void *user = nullptr;
        if (exr_get_user_data(context, &user) == EXR_ERR_SUCCESS && user)
            static_cast<State *>(user)->coreMessage = QString::fromLocal8Bit(message).simplified();
    }

    bool coreFailed(exr_result_t result)
    {
        error = QStringLiteral("cannot decode the EXR image: %1")
                    .arg(coreMessage.isEmpty() ? QString::fromLatin1(exr_get_default_error_message(result)) : coreMessage);
        return false;
    }

    // The header as the core reads it, then let go.
    bool checkHeader(const QByteArray &name)
    {
        exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
        init.user_data = this;
        init.read_fn = readCore;
        init.size_fn = sizeCore;
        init.error_handler_fn = keepCoreMessage;
        exr_context_t header = nullptr;
        const exr_result_t result = exr_start_read(&header, name.constData(), &init);
        if (header)
            exr_finish(&header);
        if (result == EXR_ERR_SUCCESS)
            return true;
        coreFailed(result);
        error.replace(QStringLiteral("cannot decode the EXR image: "), QStringLiteral("cannot read the image header: "));
        return false;
    }

    bool startCore(const QByteArray &name)
    {
        exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
        init.user_data = this;
        init.read_fn = readCore;
        init.size_fn = sizeCore;
        init.error_handler_fn = keepCoreMessage;
        exr_result_t result = exr_start_read(&core, name.constData(), &init);
        if (result != EXR_ERR_SUCCESS)
            return coreFailed(result);
        exr_storage_t storage = EXR_STORAGE_SCANLINE;
        if ((result = exr_get_storage(core, 0, &storage)) != EXR_ERR_SUCCESS)
            return coreFailed(result);
        // OpenEXR 3.1's core cannot decompress DWAA and DWAB (lossy, and
        // common for plates and renders); its reader can.
        exr_compression_t compression = EXR_COMPRESSION_NONE;
        if ((result = exr_get_compression(core, 0, &compression)) != EXR_ERR_SUCCESS)
            return coreFailed(result);
        libraryDecodes = compression == EXR_COMPRESSION_DWAA || compression == EXR_COMPRESSION_DWAB;
        zipped = compression == EXR_COMPRESSION_ZIP || compression == EXR_COMPRESSION_ZIPS;
        tiled = storage == EXR_STORAGE_TILED;
        if (tiled) {
            uint32_t x = 0, y = 0;
            exr_tile_level_mode_t level;
            exr_tile_round_mode_t round;
            if ((result = exr_get_tile_descriptor(core, 0, &x, &y, &level, &round)) != EXR_ERR_SUCCESS)
                return coreFailed(result);
            chunkWidth = int(std::min<uint32_t>(x, uint32_t(width)));
            chunkRows = int(std::min<uint32_t>(y, uint32_t(height)));
        } else if (storage == EXR_STORAGE_SCANLINE) {
            int32_t lines = 0;
            if ((result = exr_get_scanlines_per_chunk(core, 0, &lines)) != EXR_ERR_SUCCESS)
                return coreFailed(result);
            chunkWidth = width;
            chunkRows = std::min(std::max(lines, 1), height);
        } else {
            error = QStringLiteral("cannot read the image header: deep data, not a picture");
            return false;
        }
        if (chunkWidth <= 0 || chunkRows <= 0) {
            error = QStringLiteral("cannot read the image header: tiles of %1 x %2 pixels").arg(chunkWidth).arg(chunkRows);
            return false;
        }
        // Whole chunks at a time, about the rows blockRows(width) gives.
        blockRows = std::max(1, blockRowsFor(width) / chunkRows) * chunkRows;
        if (double(blockRows) * width * 4 * sizeof(float) > double(LutImageCodec::kMaxDecodedBytes)) {
            error = QStringLiteral("cannot read the image header: its chunks of %1 rows of %2 pixels take more than %3 MB "
                                   "decoded")
                        .arg(chunkRows)
                        .arg(width)
                        .arg(LutImageCodec::kMaxDecodedBytes >> 20);
            return false;
        }
        return true;
    }

    // Decodes one chunk into the block, whose first row is blockStart.
    bool decodeChunk(const exr_chunk_info_t &chunk, int x0, int y0)
    {
        exr_result_t result = decoding ? exr_decoding_update(core, 0, &chunk, &decoder)
                                       : exr_decoding_initialize(core, 0, &chunk, &decoder);
        if (result != EXR_ERR_SUCCESS)
            return coreFailed(result);
        decoding = true;
        if (chunk.width != std::min(chunkWidth, width - x0) || chunk.height != std::min(chunkRows, height - y0)) {
            error = QStringLiteral("cannot decode the EXR image: a chunk of %1 x %2 pixels where %3 x %4 belong")
                        .arg(chunk.width)
                        .arg(chunk.height)
                        .arg(std::min(chunkWidth, width - x0))
                        .arg(std::min(chunkRows, height - y0));
            return false;
        }
        for (int16_t i = 0; i < decoder.channel_count; ++i) {
            exr_coding_channel_info_t &channel = decoder.channels[i];
            int c = -1;
            for (int k = 0; k < 4; ++k) {
                if (std::strcmp(channel.channel_name, kChannelNames[k]) == 0)
                    c = k;
            }
            if (c < 0 || (c == 3 && !alpha))
                c = 4;
            // One plane per channel: the core's interleaving fast path of
            // OpenEXR 3.1 puts four half channels in file order (A, B, G, R).
            channel.decode_to_ptr = reinterpret_cast<uint8_t *>(
                planes.data() + (size_t(c) * size_t(blockRows) + size_t(y0 - blockStart)) * size_t(width) + size_t(x0));
            channel.user_pixel_stride = int32_t(sizeof(float));
            channel.user_line_stride = int32_t(size_t(width) * sizeof(float));
            channel.user_data_type = EXR_PIXEL_FLOAT;
            channel.user_bytes_per_element = int16_t(sizeof(float));
        }
        if ((result = exr_decoding_choose_default_routines(core, 0, &decoder)) != EXR_ERR_SUCCESS)
            return coreFailed(result);
        if (zipped)
            zip.install(decoder);
        if ((result = exr_decoding_run(core, 0, &decoder)) != EXR_ERR_SUCCESS)
            return coreFailed(result);
        return true;
    }

    // Decodes the chunks of rows blockStart .. blockStart + blockHeld - 1.
    bool decodeBlock()
    {
        if (planes.empty())
            planes.assign(size_t(width) * size_t(blockRows) * 5, 1.0f);
        return libraryDecodes ? decodeRows() : decodeChunks();
    }

    // The same rows through the library's reader, for the compressions its
    // core does not decode.
    bool decodeRows()
    {
        try {
            const int first = window.min.y + blockStart, last = first + blockHeld - 1;
            const Imath::Box2i rows(Imath::V2i(window.min.x, first), Imath::V2i(window.max.x, last));
            const size_t plane = size_t(width) * size_t(blockRows);
            Imf::FrameBuffer frame;
            for (int c = 0; c < (alpha ? 4 : 3); ++c)
                frame.insert(kChannelNames[c], Imf::Slice::Make(Imf::FLOAT, planes.data() + size_t(c) * plane, rows,
                                                                sizeof(float), sizeof(float) * size_t(width)));
            exr->setFrameBuffer(frame);
            exr->readPixels(first, last);
        } catch (const std::exception &e) {
            error = QStringLiteral("cannot decode the EXR image: %1").arg(oneLine(e.what()));
            return false;
        }
        return true;
    }

    bool decodeChunks()
    {
        exr_chunk_info_t chunk;
        exr_result_t result;
        for (int y = blockStart; y < blockStart + blockHeld; y += chunkRows) {
            if (!tiled) {
                if ((result = exr_read_scanline_chunk_info(core, 0, window.min.y + y, &chunk)) != EXR_ERR_SUCCESS)
                    return coreFailed(result);
                if (!decodeChunk(chunk, 0, y))
                    return false;
                continue;
            }
            for (int x = 0; x < width; x += chunkWidth) {
                if ((result = exr_read_tile_chunk_info(core, 0, x / chunkWidth, y / chunkRows, 0, 0, &chunk))
                    != EXR_ERR_SUCCESS)
                    return coreFailed(result);
                if (!decodeChunk(chunk, x, y))
                    return false;
            }
        }
        return true;
    }
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
    s.error = headerProblem(s.file);
    if (!s.error.isEmpty())
        return false;
    // The core reads the header first: it checks each attribute against the
    // size it declares, where the library's own reader may read a channel
    // list past its size and take what follows for further attributes (of
    // any size it is told).
    if (!s.checkHeader(QFile::encodeName(QFileInfo(path).fileName())))
        return false;
    try {
        s.stream = std::make_unique<FileIn>(s.file, QFile::encodeName(QFileInfo(path).fileName()));
        s.exr = std::make_unique<Imf::InputFile>(*s.stream, 0);
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
    return s.startCore(QFile::encodeName(QFileInfo(path).fileName()));
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
        s.blockHeld = std::min(s.blockRows, s.height - s.row);
        if (!s.decodeBlock())
            return false;
    }
    const size_t plane = size_t(s.width) * size_t(s.blockRows);
    const float *red = s.planes.data() + size_t(s.row - s.blockStart) * size_t(s.width);
    for (size_t x = 0, width = size_t(s.width); x < width; ++x) {
        for (size_t c = 0; c < 4; ++c)
            values[4 * x + c] = red[c * plane + x];
    }
    ++s.row;
    return true;
}

// --- Writing -------------------------------------------------------------------

// The library's own start of a file of scan lines, without a file object:
// magic number, version field (long names flagged when there are any) and
// the header's attributes. The line offset table comes next.
class HeaderStart final : public Imf::GenericOutputFile
{
public:
    void write(Imf::OStream &out, const Imf::Header &header)
    {
        header.sanityCheck();
        writeMagicNumberAndVersionField(out, header);
        header.writeTo(out);
    }
};

// ZIP and ZIPS chunks (the compression of most plates and renders, and of
// every EXR written from another kind of picture) are made here, the bytes
// the library would store but deflated by libdeflate, which took a third of
// zlib's time for a smaller stream; deflating was half of the time of an
// --apply to EXR. A chunk's bytes are its scan lines in turn, each its
// channels in name order, little-endian; they are split into the even
// bytes and then the odd ones, each byte is stored as its difference from
// the one before plus 128, and that is deflated into a zlib stream. A chunk
// that does not shrink is stored as it is. One per thread.
class ZipDeflate
{
public:
    ZipDeflate() = default;
    ZipDeflate(const ZipDeflate &) = delete;
    ZipDeflate &operator=(const ZipDeflate &) = delete;
    ~ZipDeflate()
    {
        if (m_compressor)
            libdeflate_free_compressor(m_compressor);
    }

    // Puts the stored bytes of the chunk raw[0 .. n) in out (n bytes at
    // most), deflated or, when that would be no smaller, as they are, and
    // returns their count. scratch holds n bytes.
    size_t run(const uint8_t *raw, size_t n, uint8_t *scratch, uint8_t *out)
    {
        if (!m_compressor && !(m_compressor = libdeflate_alloc_compressor(kLevel)))
            throw std::bad_alloc();
        split(raw, n, scratch);
        differences(scratch, n);
        // A stream that does not fit in n - 1 bytes is not made (0).
        const size_t packed = n > 1 ? libdeflate_zlib_compress(m_compressor, scratch, n, out, n - 1) : 0;
        if (packed > 0)
            return packed;
        std::copy_n(raw, n, out);
        return n;
    }

private:
    // About zlib's level 4 (the library's default) in size, in a third of
    // its time.
    static constexpr int kLevel = 4;

    // The even bytes of raw to the first (n + 1) / 2 places of out, the odd
    // ones after them.
    static void split(const uint8_t *raw, size_t n, uint8_t *out)
    {
        uint8_t *even = out;
        uint8_t *odd = out + (n + 1) / 2;
        size_t i = 0;
#if defined(__SSE2__)
        const __m128i low = _mm_set1_epi16(0x00ff);
        for (; i + 32 <= n; i += 32, even += 16, odd += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(raw + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(raw + i + 16));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(even),
                             _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(odd), _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
        }
#endif
        for (; i + 1 < n; i += 2) {
            *even++ = raw[i];
            *odd++ = raw[i + 1];
        }
        if (i < n)
            *even = raw[i];
    }

    // t[i] = t[i] - t[i - 1] + 128 from the end down to i = 1, modulo 256.
    static void differences(uint8_t *t, size_t n)
    {
        size_t i = n;
#if defined(__SSE2__)
        const __m128i offset = _mm_set1_epi8(char(0x80));
        for (; i >= 17; i -= 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i - 16));
            const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i - 17));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(t + i - 16), _mm_add_epi8(_mm_sub_epi8(x, before), offset));
        }
#endif
        for (; i > 1; --i)
            t[i - 1] = uint8_t(t[i - 1] - t[i - 2] + 128);
    }

    libdeflate_compressor *m_compressor = nullptr;
};

struct ExrWriter::State
{
    using Bytes = std::vector<uint8_t, LutMemory::Allocator<uint8_t>>;

    QIODevice *device = nullptr;
    std::unique_ptr<DeviceOut> stream;
    // Through the library's file object, for the compressions but ZIP and
    // ZIPS; those chunks are made here.
    std::unique_ptr<Imf::OutputFile> exr;
    Imath::Box2i window;
    int width = 0, height = 0;
    int channels = 3;
    bool half[4] = {false, false, false, false};
    // The rows held for the library, as float values for float channels
    // and as half values for half channels (made as the rows come).
    std::vector<float, LutMemory::Allocator<float>> block;
    std::vector<Imath::half, LutMemory::Allocator<Imath::half>> halves;
    int held = 0, written = 0;
    // Rows handed over at a time. The library compresses a chunk as soon as
    // its rows are in (a chunk of 16 or 32 rows, for most compressions), so
    // that the rows a caller hands over are compressed as they come, not
    // all at once every few hundred rows while the caller waits. For ZIP
    // chunks made here, whole chunks.
    int flushRows = 1;
    // The threads compressing the rows handed over (none with one).
    std::unique_ptr<ExrTasks> tasks;

    // ZIP chunks made here: scan lines per chunk (16, or 1 for ZIPS; 0
    // when the library writes the file), the rows held as the file holds
    // them (each row's channel planes in name order, little-endian), where
    // each channel's plane starts in a row, and per chunk of a flush the
    // bytes stored and their count; each worker's scratch; where the line
    // offset table starts, and the offsets.
    int chunkRows = 0;
    size_t rowBytes = 0;
    size_t planeAt[4] = {};
    Bytes rows, stored, scratch;
    std::vector<size_t> storedSizes;
    std::vector<std::unique_ptr<ZipDeflate>> deflaters;
    uint64_t table = 0;
    std::vector<uint64_t> offsets;
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

    // Hands the rows held to the library, or makes and writes their chunks.
    bool flush()
    {
        if (held == 0)
            return true;
        try {
            if (chunkRows > 0) {
                writeChunks();
            } else {
                const Imath::Box2i rows(Imath::V2i(window.min.x, window.min.y + written),
                                        Imath::V2i(window.max.x, window.min.y + written + held - 1));
                Imf::FrameBuffer frame;
                for (int c = 0; c < channels; ++c) {
                    const size_t size = half[c] ? sizeof(Imath::half) : sizeof(float);
                    const void *first = half[c] ? static_cast<const void *>(halves.data() + c) : block.data() + c;
                    frame.insert(kChannelNames[c], Imf::Slice::Make(half[c] ? Imf::HALF : Imf::FLOAT, first, rows, 4 * size,
                                                                    4 * size * size_t(width)));
                }
                exr->setFrameBuffer(frame);
                const ExrTasks::Scope scope(tasks.get());
                exr->writePixels(held);
            }
        } catch (const std::exception &e) {
            return failed("cannot encode the EXR image", e);
        }
        written += held;
        held = 0;
        return true;
    }

    // Sets up the chunks made here: the layout of a row, and the memory of
    // a flush.
    void startChunks(int lines, int workers)
    {
        chunkRows = lines;
        static const int kOrder[4] = {3, 2, 1, 0};
        for (const int c : kOrder) {
            if (c < channels) {
                planeAt[c] = rowBytes;
                rowBytes += size_t(width) * (half[c] ? 2 : 4);
            }
        }
        flushRows = std::min((flushRows + chunkRows - 1) / chunkRows * chunkRows, height);
        const size_t chunkBytes = rowBytes * size_t(chunkRows);
        rows.resize(rowBytes * size_t(flushRows));
        stored.resize(chunkBytes * size_t((flushRows + chunkRows - 1) / chunkRows));
        storedSizes.resize(size_t((flushRows + chunkRows - 1) / chunkRows));
        scratch.resize(chunkBytes * size_t(workers));
        for (int w = 0; w < workers; ++w)
            deflaters.push_back(std::make_unique<ZipDeflate>());
    }

    // One row as the file holds it.
    void toPlanes(const float *values, uint8_t *row) const
    {
        uint8_t *planes[4] = {row + planeAt[0], row + planeAt[1], row + planeAt[2], row + planeAt[3]};
        int x = 0;
#if defined(__x86_64__) || defined(__i386__)
        static const bool f16c = convertsHalves();
        if (f16c && half[0] && half[1] && half[2] && (channels == 3 || half[3]))
            x = toHalfPlanesEightAtATime(values, width, channels, planes);
#endif
        for (; x < width; ++x) {
            for (int c = 0; c < channels; ++c) {
                if (half[c])
                    qToLittleEndian<quint16>(Imath::half(values[4 * x + c]).bits(), planes[c] + 2 * size_t(x));
                else
                    qToLittleEndian<float>(values[4 * x + c], planes[c] + 4 * size_t(x));
            }
        }
    }

    // The chunks of the rows held, made on the writer's threads and written
    // in turn: each its first scan line's y, its size and its bytes.
    void writeChunks()
    {
        const int count = (held + chunkRows - 1) / chunkRows;
        const size_t chunkBytes = rowBytes * size_t(chunkRows);
        const auto make = [this, chunkBytes](int worker, int k) {
            const int lines = std::min(chunkRows, held - k * chunkRows);
            storedSizes[size_t(k)] = deflaters[size_t(worker)]->run(rows.data() + size_t(k) * chunkBytes,
                                                                   rowBytes * size_t(lines),
                                                                   scratch.data() + size_t(worker) * chunkBytes,
                                                                   stored.data() + size_t(k) * chunkBytes);
        };
        if (tasks)
            tasks->forEach(count, make);
        else
            for (int k = 0; k < count; ++k)
                make(0, k);
        for (int k = 0; k < count; ++k) {
            const int first = written + k * chunkRows;
            offsets[size_t(first / chunkRows)] = stream->tellp();
            uchar start[8];
            qToLittleEndian<qint32>(window.min.y + first, start);
            qToLittleEndian<qint32>(qint32(storedSizes[size_t(k)]), start + 4);
            stream->write(reinterpret_cast<const char *>(start), 8);
            stream->write(reinterpret_cast<const char *>(stored.data() + size_t(k) * chunkBytes), int(storedSizes[size_t(k)]));
        }
    }
};

ExrWriter::ExrWriter() : d(std::make_unique<State>()) {}
ExrWriter::~ExrWriter() = default;

bool ExrWriter::open(QIODevice *device, int width, int height, const int bits[4], bool alpha, const ExrReader *like)
{
    limitHeaders();
    State &s = *d;
    s.device = device;
    s.width = width;
    s.height = height;
    s.channels = alpha ? 4 : 3;
    const int threads = LutParallel::threads();
    try {
        Imf::Header header(width, height);
        if (like) {
            // The input's attributes but those of its layout: written as one
            // part of scan lines, top to bottom. (Copied one by one rather
            // than erased from a copy: OpenEXR 3.1's Header::erase leaks
            // the attribute it takes out.)
            const Imf::Header &source = like->d->exr->header();
            for (auto i = source.begin(); i != source.end(); ++i) {
                const char *name = i.name();
                if (std::strcmp(name, "tiles") != 0 && std::strcmp(name, "type") != 0 && std::strcmp(name, "name") != 0
                    && std::strcmp(name, "chunkCount") != 0 && std::strcmp(name, "version") != 0)
                    header.insert(name, i.attribute());
            }
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
        // With threads, chunks are compressed several at once (the
        // library's file fills and compresses two line buffers per thread);
        // the bytes are the same.
        if (threads > 1)
            s.tasks = std::make_unique<ExrTasks>(threads);
        s.flushRows = std::min(blockRowsFor(width) * std::max(1, threads), height);
        if (header.compression() == Imf::ZIP_COMPRESSION || header.compression() == Imf::ZIPS_COMPRESSION) {
            s.startChunks(header.compression() == Imf::ZIP_COMPRESSION ? 16 : 1, s.tasks ? threads : 1);
            HeaderStart().write(*s.stream, header);
            s.table = s.stream->tellp();
            s.offsets.assign(size_t((height + s.chunkRows - 1) / s.chunkRows), 0);
            const std::vector<char> zeros(s.offsets.size() * 8, 0);
            s.stream->write(zeros.data(), int(zeros.size()));
        } else {
            s.exr = std::make_unique<Imf::OutputFile>(*s.stream, header, threads > 1 ? threads : 0);
        }
    } catch (const std::exception &e) {
        return s.failed("cannot start the EXR image", e);
    }
    if (s.chunkRows > 0)
        return true;
    // The library converts only what it reads: half channels are handed
    // over as half values.
    const size_t values = size_t(width) * size_t(s.flushRows) * 4;
    if (std::find(s.half, s.half + s.channels, true) != s.half + s.channels)
        s.halves.resize(values);
    if (std::find(s.half, s.half + s.channels, false) != s.half + s.channels)
        s.block.resize(values);
    return true;
}

bool ExrWriter::writeRow(const float *values)
{
    State &s = *d;
    const size_t count = size_t(s.width) * 4, at = size_t(s.held) * count;
    if (s.chunkRows > 0)
        s.toPlanes(values, s.rows.data() + size_t(s.held) * s.rowBytes);
    if (!s.block.empty())
        std::copy_n(values, count, s.block.data() + at);
    if (!s.halves.empty()) {
        toHalves(values, s.halves.data() + at, count);
    }
    ++s.held;
    return (s.held < s.flushRows && s.written + s.held < s.height) || s.flush();
}

bool ExrWriter::finish()
{
    State &s = *d;
    if (!s.flush())
        return false;
    if (s.chunkRows > 0) {
        try {
            std::vector<uchar> table(s.offsets.size() * 8);
            for (size_t k = 0; k < s.offsets.size(); ++k)
                qToLittleEndian<quint64>(s.offsets[k], table.data() + 8 * k);
            s.stream->seekp(s.table);
            s.stream->write(reinterpret_cast<const char *>(table.data()), int(table.size()));
        } catch (const std::exception &e) {
            return s.failed("cannot finish the EXR image", e);
        }
        return true;
    }
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
