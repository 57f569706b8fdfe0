// What a lock-step simulated day costs the host: `tstat-sim run` of the
// typical house (the 2026-01-14 day of the README's figures) as a child for
// one and for 25 simulated hours, the processor time of both processes
// (the simulator and the application it starts) from wait4. The difference
// is a day of simulated time without the start and the report. Argument 0:
// the application as a program (the reference); 1: in the simulator's
// process (--in-process). Counters: user, system and total CPU seconds per simulated day,
// the start and end of a run, and the peak resident memory of the larger of
// the two processes in the long run (MB).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double SHORT_HOURS = 1.0, LONG_HOURS = 25.0;

double seconds(const struct timeval &tv) {
    return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6;
}

// One run; false when it failed. Adds its user and system seconds, and
// keeps the peak resident memory of the larger process (MB) in *peakMb.
bool runOnce(const std::string &root, double hours, bool inProcess, double *user, double *system,
             double *peakMb) {
    std::string bin = std::string(TSTAT_BUILD_DIR) + "/bin/tstat-sim";
    std::vector<std::string> words = {
        bin, "run",    "--hours", std::to_string(hours), "--start",    "2026-01-14 00:00", "--seed",
        "5", "--root", root,      "--no-http",           "--no-status"};
    if (inProcess) {
        words.emplace_back("--in-process");
    }
    std::vector<char *> argv;
    for (std::string &w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
        return false;
    }
    *user += seconds(usage.ru_utime);
    *system += seconds(usage.ru_stime);
    *peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_LockstepDay(benchmark::State &state) {
    char dir[] = "/tmp/tstat-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    // User and system seconds of the short and the long run, summed.
    double cost[2][2] = {{0, 0}, {0, 0}};
    int runs = 0;
    double peakMb = 0.0;
    for (auto _ : state) {
        std::string root = std::string(dir) + "/" + std::to_string(runs++);
        bool inProcess = state.range(0) != 0;
        if (!runOnce(root + "s", SHORT_HOURS, inProcess, &cost[0][0], &cost[0][1], &peakMb) ||
            !runOnce(root + "l", LONG_HOURS, inProcess, &cost[1][0], &cost[1][1], &peakMb)) {
            state.SkipWithError("tstat-sim run failed");
            break;
        }
    }
    double perDay = 24.0 / (LONG_HOURS - SHORT_HOURS) / (runs > 0 ? runs : 1);
    double user = (cost[1][0] - cost[0][0]) * perDay;
    double system = (cost[1][1] - cost[0][1]) * perDay;
    state.counters["user_s_per_day"] = user;
    state.counters["sys_s_per_day"] = system;
    state.counters["cpu_s_per_day"] = user + system;
    state.counters["peak_rss_mb"] = peakMb;
    state.counters["start_and_end_s"] =
        (cost[0][0] + cost[0][1]) / (runs > 0 ? runs : 1) - (user + system) * SHORT_HOURS / 24.0;
    std::string rm = std::string("rm -rf ") + dir;
    if (std::system(rm.c_str()) != 0) {
        state.SkipWithError("cannot remove the runs");
    }
}
BENCHMARK(BM_LockstepDay)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace
