#pragma once

#include <QtGlobal>

#include <functional>

class LutTextStream;

// Splitting large pieces of work (parsing, resampling, formatting a table)
// over the processor's cores. Every split is by index ranges whose results
// do not depend on how the work is divided, so a run on many threads gives
// the very bytes a run on one thread gives.
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

// Calls body(begin, end) on contiguous ranges that together cover
// [0, count), each on its own thread, and returns when all are done. Work
// below minPerThread items per thread is not split.
void forRanges(qint64 count, qint64 minPerThread, const std::function<void(qint64 begin, qint64 end)> &body);

// Produces count blocks of text and consumes them in order: produce(k,
// block) fills an empty in-memory stream for block k, on worker threads,
// several blocks at once; consume(block) runs on the calling thread for
// block 0, 1, 2, ... in turn. Only a few blocks are held at a time.
void orderedBlocks(int count, const std::function<void(int index, LutTextStream &block)> &produce,
                   const std::function<void(const LutTextStream &block)> &consume);

} // namespace LutParallel
