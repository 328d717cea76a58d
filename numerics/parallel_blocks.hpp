// Deterministic parallel loops over many independent items (cases, response patterns).
//
// The contract: the items 0..count-1 are cut into blocks of a fixed size chosen by the caller
// (never by the number of threads). Each block is computed on its own, its items in increasing
// order, into the partial results of the worker that took it; the partial results are then
// merged into the totals strictly in block order, one block at a time. A block's partial
// results therefore depend only on the block, and the totals receive them in the same order
// whatever the number of threads: every sum, and so every output, is the same bit for bit for
// 1, 2 or 100 threads. (A single block is computed and merged exactly as a plain loop would
// be, so small problems keep the digits of a loop over all items.)
//
// Why std::thread and not OpenMP: an OpenMP reduction combines the threads' partial sums in an
// unspecified order, and an ordered merge of per-block results needs as much code there as
// here; plain threads also keep the sanitizer builds free of an uninstrumented runtime. The
// workers are started for each loop and joined at its end: that costs some tens of
// microseconds, small against one block of work.
//
// Memory: each worker holds one block's partial results at a time; a worker that finishes a
// block before the earlier ones are merged waits for its turn, so no more than one partial
// result per worker exists.
#pragma once

#include <cstddef>
#include <functional>

namespace numerics {

struct Block {
    std::size_t index = 0;          // 0, 1, ... in item order
    std::size_t begin = 0, end = 0; // the items begin..end-1
};

// The number of blocks of blockSize items (the last may be shorter) that cover count items.
std::size_t blockCount(std::size_t count, std::size_t blockSize);

// The threads a request asks for: requested, or one per core for 0 (at least 1).
int threadsFor(int requested);

// The workers a loop over count items in blocks of blockSize uses with the given threads:
// never more than the blocks. Worker numbers passed to compute and merge are 0..workers-1.
int workersFor(std::size_t count, std::size_t blockSize, int threads);

// Calls compute(worker, block) for every block, on up to `threads` threads, and after each
// merge(worker, block) with the same worker, strictly in increasing block order (merges never
// overlap). The worker's state used by compute stays untouched until its merge has run. An
// exception thrown by compute or merge stops the loop and is rethrown here after every
// thread has ended.
void forEachBlock(std::size_t count, std::size_t blockSize, int threads,
                  const std::function<void(int, const Block&)>& compute,
                  const std::function<void(int, const Block&)>& merge);

} // namespace numerics
