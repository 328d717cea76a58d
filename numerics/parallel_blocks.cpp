#include "numerics/parallel_blocks.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace numerics {

std::size_t blockCount(std::size_t count, std::size_t blockSize) {
    return blockSize == 0 ? 0 : (count + blockSize - 1) / blockSize;
}

int threadsFor(int requested) {
    if (requested > 0) return requested;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(cores) : 1;
}

int workersFor(std::size_t count, std::size_t blockSize, int threads) {
    const std::size_t blocks = blockCount(count, blockSize);
    const std::size_t wanted = static_cast<std::size_t>(std::max(threads, 1));
    return static_cast<int>(std::max<std::size_t>(1, std::min(blocks, wanted)));
}

namespace {

Block blockAt(std::size_t index, std::size_t count, std::size_t blockSize) {
    Block b;
    b.index = index;
    b.begin = index * blockSize;
    b.end = std::min(count, b.begin + blockSize);
    return b;
}

// The shared schedule: blocks are handed out in increasing order, and merged in that order.
class Schedule {
  public:
    explicit Schedule(std::size_t blocks) : blocks_(blocks) {}

    // The next block to compute, or false when none is left (or the loop failed).
    bool take(std::size_t& index) {
        if (failed_.load()) return false;
        index = next_.fetch_add(1);
        return index < blocks_;
    }

    // Waits until every earlier block is merged; false when the loop failed meanwhile.
    bool awaitTurn(std::size_t index) {
        std::unique_lock<std::mutex> lock(mutex_);
        turn_.wait(lock, [&] { return merged_ == index || failed_.load(); });
        return !failed_.load();
    }

    void merged() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++merged_;
        }
        turn_.notify_all();
    }

    void fail(std::exception_ptr e) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!error_) error_ = e;
            failed_.store(true);
        }
        turn_.notify_all();
    }

    void rethrow() const {
        if (error_) std::rethrow_exception(error_);
    }

  private:
    std::size_t blocks_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> failed_{false};
    std::mutex mutex_;
    std::condition_variable turn_;
    std::size_t merged_ = 0;
    std::exception_ptr error_;
};

} // namespace

void forEachBlock(std::size_t count, std::size_t blockSize, int threads,
                  const std::function<void(int, const Block&)>& compute,
                  const std::function<void(int, const Block&)>& merge) {
    const std::size_t blocks = blockCount(count, blockSize);
    if (blocks == 0) return;
    const int workers = workersFor(count, blockSize, threads);
    if (workers == 1) {
        for (std::size_t b = 0; b < blocks; ++b) {
            const Block block = blockAt(b, count, blockSize);
            compute(0, block);
            merge(0, block);
        }
        return;
    }
    Schedule schedule(blocks);
    auto work = [&](int worker) {
        try {
            std::size_t index = 0;
            while (schedule.take(index)) {
                const Block block = blockAt(index, count, blockSize);
                compute(worker, block);
                if (!schedule.awaitTurn(index)) return;
                merge(worker, block);
                schedule.merged();
            }
        } catch (...) {
            schedule.fail(std::current_exception());
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(workers) - 1);
    for (int w = 1; w < workers; ++w) {
        // A thread the system cannot start leaves its share to the others.
        try {
            pool.emplace_back(work, w);
        } catch (const std::system_error&) {
            break;
        }
    }
    work(0);
    for (std::thread& t : pool) t.join();
    schedule.rethrow();
}

} // namespace numerics
