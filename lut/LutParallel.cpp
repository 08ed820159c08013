#include "lut/LutParallel.h"

#include "lut/LutTextOutput.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace LutParallel {

namespace {

std::atomic<int> threadCount{0};
thread_local bool serialThread = false;

} // namespace

int threads()
{
    if (serialThread)
        return 1;
    const int count = threadCount.load();
    return count > 0 ? count : std::max(1, QThread::idealThreadCount());
}

void setThreads(int count)
{
    threadCount.store(std::max(0, count));
}

SerialScope::SerialScope()
    : m_previous(serialThread)
{
    serialThread = true;
}

SerialScope::~SerialScope()
{
    serialThread = m_previous;
}

void forRanges(qint64 count, qint64 minPerThread, const std::function<void(qint64 begin, qint64 end)> &body)
{
    if (count <= 0)
        return;
    const qint64 byWork = count / std::max<qint64>(1, minPerThread);
    const int parts = int(std::max<qint64>(1, std::min<qint64>(threads(), byWork)));
    if (parts == 1) {
        body(0, count);
        return;
    }
    std::vector<std::thread> pool;
    pool.reserve(size_t(parts - 1));
    for (int p = 1; p < parts; ++p) {
        pool.emplace_back([&body, count, parts, p] {
            const SerialScope serial;
            body(count * p / parts, count * (p + 1) / parts);
        });
    }
    {
        const SerialScope serial;
        body(0, count / parts);
    }
    for (std::thread &thread : pool)
        thread.join();
}

void orderedBlocks(int count, const std::function<void(int index, LutTextStream &block)> &produce,
                   const std::function<void(const LutTextStream &block)> &consume)
{
    const int workers = std::min(threads(), count);
    if (workers <= 1) {
        for (int k = 0; k < count; ++k) {
            LutTextStream block;
            produce(k, block);
            consume(block);
        }
        return;
    }
    // Workers run at most this many blocks ahead of the one consumed.
    const int window = 2 * workers + 2;
    std::vector<std::unique_ptr<LutTextStream>> done(static_cast<size_t>(count));
    std::mutex mutex;
    std::condition_variable ready;
    std::condition_variable room;
    int next = 0;
    int consumed = 0;
    const auto work = [&] {
        const SerialScope serial;
        for (;;) {
            int k;
            {
                std::unique_lock<std::mutex> lock(mutex);
                room.wait(lock, [&] { return next >= count || next < consumed + window; });
                if (next >= count)
                    return;
                k = next++;
            }
            auto block = std::make_unique<LutTextStream>();
            produce(k, *block);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                done[size_t(k)] = std::move(block);
            }
            ready.notify_one();
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(size_t(workers));
    for (int w = 0; w < workers; ++w)
        pool.emplace_back(work);
    for (int k = 0; k < count; ++k) {
        std::unique_ptr<LutTextStream> block;
        {
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [&] { return done[size_t(k)] != nullptr; });
            block = std::move(done[size_t(k)]);
            consumed = k + 1;
        }
        room.notify_all();
        consume(*block);
    }
    for (std::thread &thread : pool)
        thread.join();
}

} // namespace LutParallel
