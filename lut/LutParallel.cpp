#include "lut/LutParallel.h"

#include "lut/LutTextOutput.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
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

// The work of one run() call: how many of its workers have not ended.
class Latch
{
public:
    explicit Latch(int count) : m_remaining(count) {}

    void arrive()
    {
        // Notified under the lock: the waiter cannot return, and end the
        // latch, before this call is done with it.
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (--m_remaining == 0)
            m_ended.notify_all();
    }

    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ended.wait(lock, [this] { return m_remaining == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ended;
    int m_remaining;
};

// The threads run() hands its workers to, kept from one call to the next:
// starting a thread costs tens of microseconds here, and a conversion
// splits its work a dozen times. A call takes threads that are idle and
// starts new ones when there are too few, so no worker ever waits for
// another call's work to end. Threads stay until the process ends.
class Crew
{
public:
    // Runs work on a kept thread, then calls latch->arrive(); false (work
    // not run) when no thread can be had.
    bool start(std::function<void()> work, Latch *latch)
    {
        Member *member = nullptr;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_idle.empty()) {
                member = m_idle.back();
                m_idle.pop_back();
            }
        }
        if (!member) {
            try {
                auto fresh = std::make_unique<Member>();
                {
                    // Room for every member to be idle at once: going back
                    // to idle never allocates.
                    const std::lock_guard<std::mutex> lock(m_mutex);
                    m_idle.reserve(size_t(m_members) + 1);
                    ++m_members;
                }
                try {
                    std::thread(&Crew::serve, this, fresh.get()).detach();
                } catch (...) {
                    const std::lock_guard<std::mutex> lock(m_mutex);
                    --m_members;
                    throw;
                }
                member = fresh.release();
            } catch (const std::system_error &) {
                return false;
            } catch (const std::bad_alloc &) {
                return false;
            }
        }
        {
            const std::lock_guard<std::mutex> lock(member->mutex);
            member->work = std::move(work);
            member->latch = latch;
        }
        member->given.notify_one();
        return true;
    }

private:
    struct Member
    {
        std::mutex mutex;
        std::condition_variable given;
        std::function<void()> work;
        Latch *latch = nullptr;
    };

    void serve(Member *self)
    {
        for (;;) {
            std::function<void()> work;
            Latch *latch;
            {
                std::unique_lock<std::mutex> lock(self->mutex);
                self->given.wait(lock, [self] { return bool(self->work); });
                work = std::move(self->work);
                self->work = nullptr;
                latch = self->latch;
            }
            work(); // runCaught: never throws
            work = nullptr;
            // Idle again before the caller learns the work is done, so that
            // its next call finds this thread.
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_idle.push_back(self);
            }
            latch->arrive();
        }
    }

    std::mutex m_mutex;
    std::vector<Member *> m_idle;
    int m_members = 0;
};

// Never destroyed: its threads wait on it until the process ends.
Crew &crew()
{
    static Crew *const kept = new Crew;
    return *kept;
}

} // namespace

int threads()
{
    if (serialThread)
        return 1;
    const int count = threadCount.load();
    if (count > 0)
        return count;
    // The processors, asked once: the system reads them from a file.
    static const int processors = std::max(1, QThread::idealThreadCount());
    return processors;
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
    Latch latch(workers - 1);
    // Room first: only handing a worker to a thread can fail below.
    std::vector<int> unstarted;
    unstarted.reserve(size_t(workers - 1));
    for (int w = 1; w < workers; ++w) {
        bool started = false;
        try {
            started = crew().start([&body, &mutex, &first, w] { runCaught(body, w, mutex, first); }, &latch);
        } catch (const std::bad_alloc &) {
        }
        if (!started)
            unstarted.push_back(w);
    }
    runCaught(body, 0, mutex, first);
    for (const int w : unstarted) {
        runCaught(body, w, mutex, first);
        latch.arrive();
    }
    latch.wait();
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
