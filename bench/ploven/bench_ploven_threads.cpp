// Timing and peak memory of a large latent class fit on 1 and 2 threads: 1,000,000 cases by 30
// binary items drawn from a model of 5 classes, fitted with the default starts (band start and
// 20 random starts, accelerated EM as CSV runs have it), then the standard errors and the
// modal classes. Each fit runs in a child process of its own, so that its peak resident memory
// is its own; 1 and 2 threads run back to back, twice, as other work on the machine makes single
// timings noisy. `bench_ploven_threads CASES [ROUNDS [THREADS]]` runs a smaller problem, more
// rounds, or one thread count.
#include "bench_model.hpp"
#include "ploven/classify.hpp"
#include "ploven/multistart.hpp"
#include "ploven/patterns.hpp"
#include "ploven/simulate.hpp"
#include "ploven/standard_errors.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

using ploven::bench::makeModel;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One fit on the given threads; prints its phases and its peak resident memory.
void fitOnce(int ncase, int threads) {
    const int nitem = 30, nclass = 5;
    const Clock::time_point begin = Clock::now();
    ploven::PatternTable patterns;
    {
        ploven::UniformSource uniform;
        std::vector<int> patternOfCase;
        const ploven::PatternTable cases =
            ploven::simulateResponses(ncase, makeModel(nitem, nclass, 17), uniform);
        patterns = ploven::foldPatterns(cases, &patternOfCase);
    }
    const double made = secondsSince(begin);
    ploven::MultiStartOptions options;
    options.method.accelerate = true;
    options.method.loops.threads = threads;
    Clock::time_point t = Clock::now();
    ploven::MultiStartFit fit =
        ploven::fitFromManyStarts(patterns, nclass, ncase, 1e-8, 3000, options);
    const double fitted = secondsSince(t);
    t = Clock::now();
    ploven::Console quiet{nullptr, stdout};
    const ploven::StandardErrors se = ploven::standardErrors(patterns, fit.est, fit.post, quiet);
    fit.post.iclass = ploven::modalClasses(fit.post, patterns.size());
    const double errors = secondsSince(t);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    std::printf(
        "ploven  %d cases x %d items (%d patterns), %d classes, %d thread%s: fit %.1f s, "
        "S.E.s and classes %.1f s (data %.1f s, processor time %.1f s); L = %.6f, S.E.s %s; "
        "peak %.0f MB\n",
        ncase, nitem, patterns.size(), nclass, threads, threads == 1 ? "" : "s", fitted, errors,
        made, cpu, fit.fit.loglik, se.ok ? "given" : "refused",
        static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::fflush(stdout);
}

void inChild(int ncase, int threads) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        fitOnce(ncase, threads);
        std::_Exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

} // namespace

int main(int argc, char** argv) {
    const int ncase = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
    const int only = argc > 3 ? std::atoi(argv[3]) : 0;
    for (int r = 0; r < rounds; ++r)
        for (int threads : {1, 2})
            if (only == 0 || threads == only) inChild(ncase, threads);
    return 0;
}
