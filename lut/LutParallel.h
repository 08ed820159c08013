#pragma once

#include <QtGlobal>

#include <exception>
#include <functional>
#include <memory>

class LutTextStream;

// Every thread the program starts: splitting large pieces of work (parsing,
// resampling, formatting a table, transforming a picture), converting the
// inputs of a batch side by side, and work that overlaps the next step.
// Every split is by index ranges whose results do not depend on how the
// work is divided, so a run on many threads gives the very bytes a run on
// one thread gives.
//
// Failures come back to the caller: an exception thrown on a worker
// (std::bad_alloc from a buffer, say) is rethrown on the calling thread
// once every worker has ended, so the caller can report it instead of the
// process ending in std::terminate. A thread that cannot be started does
// not fail the work: its share runs on the calling thread. Every worker
// has ended before these functions return, on every path; the threads of
// run() are kept for the next call, the others joined.
namespace LutParallel {

// The threads one piece of work uses: one per processor unless set with
// setThreads, and 1 on a thread inside a SerialScope.
int threads();
// Sets the threads of every piece of work from now on (0: one per processor).
void setThreads(int count);

// While one lives, work started on its thread runs on that thread alone:
// for workers that already run side by side, one input each.
class SerialScope
{
public:
    SerialScope();
    ~SerialScope();
    SerialScope(const SerialScope &) = delete;
    SerialScope &operator=(const SerialScope &) = delete;

private:
    bool m_previous;
};

// Calls body(w) for w = 0 .. workers - 1, each on a thread of its own
// (body(0) on the calling thread), inside a SerialScope, and returns when
// all have ended. The first exception thrown by any of them is rethrown
// then. A worker whose thread cannot be started runs on the calling thread
// after body(0); so that this cannot wait forever, no body may wait for
// another to start.
void run(int workers, const std::function<void(int worker)> &body);

// Calls body(begin, end) on contiguous ranges that together cover
// [0, count), each on its own thread, and returns when all are done. Work
// below minPerThread items per thread is not split.
void forRanges(qint64 count, qint64 minPerThread, const std::function<void(qint64 begin, qint64 end)> &body);

// Produces count blocks of text and consumes them in order: produce(k,
// block) fills an empty in-memory stream for block k, on worker threads,
// several blocks at once; consume(block) runs on the calling thread for
// block 0, 1, 2, ... in turn. Only a few blocks are held at a time. The
// calling thread produces a block itself when no worker has taken it yet.
void orderedBlocks(int count, const std::function<void(int index, LutTextStream &block)> &produce,
                   const std::function<void(const LutTextStream &block)> &consume);

// Work that runs on a thread of its own while the caller goes on: wait()
// returns its result, or rethrows what it threw. When no thread can be
// started the work runs at once, on the caller's thread. The destructor
// waits for work still running (and drops what it threw).
class Background
{
public:
    Background();
    explicit Background(std::function<bool()> work);
    ~Background();
    Background(Background &&other) noexcept;
    Background &operator=(Background &&other) noexcept;
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;

    bool isRunning() const { return m_state != nullptr; }
    // The work's result (true when there was none); rethrows its exception.
    bool wait();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace LutParallel
