// travik at scale: the speed-up of an EM cycle on two threads against one (200,000 cases of 20
// binary items, their identical rows grouped, two factors on the full 31-point rule), then whole
// runs of the travik program on generated CSV files of 20 binary items, 10^4 and 10^5 cases (10^6
// as well with TRAVIK_BENCH_MILLION=1), one and two factors, one and two threads: wall time and
// the peak resident memory of the run (the child's ru_maxrss from wait4).
// TRAVIK_BENCH_CYCLES_ONLY=1 stops after the cycle times.
#include "travik/em.hpp"
#include "travik/mstep.hpp"
#include "travik/patterns.hpp"
#include "travik/quadrature.hpp"
#include "travik/simulated_data.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU seconds of this process so far, every thread counted.
double cpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct CycleTime {
    double wall = 0, cpu = 0; // median seconds per cycle, and median CPU seconds
};

// The median time of an EM cycle (E-step with the loglikelihood, then the M-step), and the CPU
// time per cycle: on a machine whose cores are busy with other work the wall time cannot show
// the speed-up, but the CPU time shows what the threads spend beyond one thread's work.
CycleTime cycleSeconds(travik::ModelState m, int threads, int cycles) {
    const travik::Grid grid = travik::gridFor(m.deck);
    travik::ItemTables tables;
    travik::CaseWeights weights;
    travik::EStepTables e;
    std::vector<double> wall, cpu;
    for (int c = 0; c < cycles; ++c) {
        const Clock::time_point start = Clock::now();
        const double cpuStart = cpuSeconds();
        travik::EStep collector(m.deck, m.x, grid.size, e);
        travik::evaluateLikelihood(m.deck, m.params, m.x, grid, tables, weights, false, &collector,
                                   threads);
        collector.finish();
        travik::mstep(travik::MStepInput{m.deck, grid, tables, e, [](std::string_view) {}},
                      m.params);
        wall.push_back(seconds(Clock::now() - start));
        cpu.push_back(cpuSeconds() - cpuStart);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

void speedUp() {
    travik::ModelState m = travik::simulated::simulate(travik::simulated::truthFor(20, 0, 0, 0, 2),
                                                       2, 48, 200000, 0.0, 2026);
    m.deck.fullRule = 31;
    travik::groupIdenticalRows(m.x); // as a run of the program has them
    std::printf("travik: EM cycle, 200000 cases (%zu distinct rows), 20 binary items, two factors, "
                "31 x 31 points\n",
                m.x.groups.firstCase.size());
    // Back to back, repeated: other work on the machine makes single figures noisy.
    std::vector<double> one, two;
    for (int r = 0; r < 3; ++r) {
        const CycleTime a = cycleSeconds(m, 1, 4), b = cycleSeconds(m, 2, 4);
        one.push_back(a.wall);
        two.push_back(b.wall);
        std::printf("  round %d: 1 thread %.3f s (CPU %.3f s), 2 threads %.3f s (CPU %.3f s), "
                    "speed-up %.2f\n",
                    r + 1, a.wall, a.cpu, b.wall, b.cpu, a.wall / b.wall);
    }
    std::sort(one.begin(), one.end());
    std::sort(two.begin(), two.end());
    std::printf("  best: 1 thread %.3f s, 2 threads %.3f s, speed-up %.2f\n", one.front(),
                two.front(), one.front() / two.front());
}

// A CSV file of n cases of 20 binary items drawn from the nf-factor test model.
fs::path csvFile(const fs::path& dir, int n, int nf) {
    const travik::ModelState m = travik::simulated::simulate(
        travik::simulated::truthFor(20, 0, 0, 0, nf), nf, 8, n, 0.0, 17);
    const fs::path file = dir / ("binary-" + std::to_string(n) + "-" + std::to_string(nf) + ".csv");
    std::ofstream out(file);
    for (int i = 1; i <= 20; ++i) out << 'b' << i << (i < 20 ? ',' : '\n');
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < 20; ++i) out << (m.x(k, i) == 1.0 ? '1' : '0') << (i < 19 ? ',' : '\n');
    return file;
}

struct Child {
    int status = -1;
    double seconds = 0, peakMb = 0;
};

// Runs the travik program beside this one and measures it.
Child runTravik(const fs::path& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    std::vector<std::string> all{program.string()};
    all.insert(all.end(), args.begin(), args.end());
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    Child c;
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::freopen("/dev/null", "w", stderr) == nullptr) ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return c;
    c.seconds = seconds(Clock::now() - start);
    c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    c.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KB on Linux
    return c;
}

void scaleTable(const fs::path& program) {
    const char* million = std::getenv("TRAVIK_BENCH_MILLION");
    std::vector<int> sizes{10000, 100000};
    if (million && std::string(million) == "1") sizes.push_back(1000000);
    const fs::path dir = fs::temp_directory_path() / ("bench-scale-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string binary;
    for (int i = 1; i <= 20; ++i) binary += "b" + std::to_string(i) + (i < 20 ? "," : "");
    std::printf("travik: whole CSV runs (S.E.s, scores, fit statistics), 20 binary items; two "
                "factors on 31 x 31 points%s\n",
                sizes.size() == 2 ? " (TRAVIK_BENCH_MILLION=1 adds 10^6 cases)" : "");
    std::printf("  %9s %7s %7s %10s %10s %6s\n", "cases", "factors", "threads", "seconds",
                "peak MB", "status");
    for (int n : sizes)
        for (int nf : {1, 2}) {
            const fs::path csv = csvFile(dir, n, nf);
            for (int threads : {1, 2}) {
                const fs::path out = dir / "out";
                fs::remove_all(out);
                const Child c = runTravik(program, {"--csv", csv.string(), "--binary", binary,
                                                    "--factors", std::to_string(nf), "--threads",
                                                    std::to_string(threads), "-o", out.string()});
                std::printf("  %9d %7d %7d %10.1f %10.1f %6d\n", n, nf, threads, c.seconds,
                            c.peakMb, c.status);
                std::fflush(stdout);
            }
            fs::remove(csv);
        }
    fs::remove_all(dir);
}

} // namespace

int main(int, char** argv) {
    speedUp();
    if (const char* only = std::getenv("TRAVIK_BENCH_CYCLES_ONLY");
        only && std::string(only) == "1")
        return 0;
    const fs::path self = fs::canonical("/proc/self/exe");
    const fs::path program = self.parent_path() / "travik";
    if (!fs::exists(program)) {
        std::printf("travik: no travik program beside %s; no whole runs\n", argv[0]);
        return 0;
    }
    scaleTable(program);
    return 0;
}
