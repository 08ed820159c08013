#include "lut/LutParallel.h"

#include "lut/LutTextOutput.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace LutParallel {

namespace {

std::atomic<int> threadCount{0};
thread_local bool serialThread = false;

// Runs body(worker) inside a SerialScope, keeping the first exception thrown.
void runCaught(const std::function<void(int)> &body, int worker, std::mutex &mutex, std::exception_ptr &first)
{
    try {
        const SerialScope serial;
        body(worker);
    } catch (...) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!first)
            first = std::current_exception();
    }
}

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

void run(int workers, const std::function<void(int worker)> &body)
{
    if (workers <= 1) {
        if (workers == 1) {
            const SerialScope serial;
            body(0);
        }
        return;
    }
    std::mutex mutex;
    std::exception_ptr first;
    // Room for every thread first: only starting one can fail below.
    std::vector<std::thread> pool;
    std::vector<int> unstarted;
    pool.reserve(size_t(workers - 1));
    unstarted.reserve(size_t(workers - 1));
    for (int w = 1; w < workers; ++w) {
        try {
            pool.emplace_back([&body, &mutex, &first, w] { runCaught(body, w, mutex, first); });
        } catch (const std::system_error &) {
            unstarted.push_back(w);
        }
    }
    runCaught(body, 0, mutex, first);
    for (const int w : unstarted)
        runCaught(body, w, mutex, first);
    for (std::thread &thread : pool)
        thread.join();
    if (first)
        std::rethrow_exception(first);
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
    run(parts, [&](int p) { body(count * p / parts, count * (p + 1) / parts); });
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
    int next = 0;         // the first block nobody has taken
    int consumed = 0;     // blocks consumed so far
    bool stopped = false; // a producer or the consumer failed: everyone stops
    const auto stop = [&] {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopped = true;
        }
        ready.notify_all();
        room.notify_all();
    };
    const auto producer = [&] {
        for (;;) {
            int k;
            {
                std::unique_lock<std::mutex> lock(mutex);
                room.wait(lock, [&] { return stopped || next >= count || next < consumed + window; });
                if (stopped || next >= count)
                    return;
                k = next++;
            }
            auto block = std::make_unique<LutTextStream>();
            produce(k, *block);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                done[size_t(k)] = std::move(block);
            }
            ready.notify_all();
        }
    };
    const auto consumer = [&] {
        for (int k = 0; k < count; ++k) {
            std::unique_ptr<LutTextStream> block;
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (next <= k) {
                    // Nobody has taken this block (its workers may not have
                    // started): make it here.
                    next = k + 1;
                    lock.unlock();
                    block = std::make_unique<LutTextStream>();
                    produce(k, *block);
                    lock.lock();
                } else {
                    ready.wait(lock, [&] { return stopped || done[size_t(k)] != nullptr; });
                    if (!done[size_t(k)])
                        return;
                    block = std::move(done[size_t(k)]);
                }
                consumed = k + 1;
            }
            room.notify_all();
            consume(*block);
        }
    };
    run(workers + 1, [&](int w) {
        try {
            w == 0 ? consumer() : producer();
        } catch (...) {
            stop();
            throw;
        }
    });
}

struct Background::State
{
    std::thread thread;
    std::function<bool()> work;
    bool result = true;
    std::exception_ptr error;

    void perform()
    {
        try {
            result = work();
        } catch (...) {
            error = std::current_exception();
        }
    }
};

Background::Background(std::function<bool()> work)
    : m_state(std::make_unique<State>())
{
    m_state->work = std::move(work);
    try {
        State *state = m_state.get();
        m_state->thread = std::thread([state] { state->perform(); });
    } catch (...) {
        m_state->perform();
    }
}

Background::Background() = default;

Background::~Background()
{
    if (m_state && m_state->thread.joinable())
        m_state->thread.join();
}

Background::Background(Background &&other) noexcept = default;

Background &Background::operator=(Background &&other) noexcept
{
    if (this != &other) {
        if (m_state && m_state->thread.joinable())
            m_state->thread.join();
        m_state = std::move(other.m_state);
    }
    return *this;
}

bool Background::wait()
{
    if (!m_state)
        return true;
    const std::unique_ptr<State> state = std::move(m_state);
    if (state->thread.joinable())
        state->thread.join();
    if (state->error)
        std::rethrow_exception(state->error);
    return state->result;
}

} // namespace LutParallel
