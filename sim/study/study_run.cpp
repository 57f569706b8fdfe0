// A study's runs, in parallel: each a `tstat-sim run` child of its own on a
// processor of its own (the child keeps its application on the same one),
// at most one run per processor.
#include "study/study.h"

#include "board/board.h"
#include "board/run_support.h"

#include "host/program_command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace sim {

namespace {

// The processors this process may run on, in order.
std::vector<int> allowedProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> cpus;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        for (int c = 0; c < CPU_SETSIZE; c++) {
            if (CPU_ISSET(c, &set)) {
                cpus.push_back(c);
            }
        }
    }
    return cpus;
}

// A fresh directory for the run with its script; false when it cannot be made.
bool prepareRunDirectory(const StudyRun &run) {
    std::error_code ec;
    fs::remove_all(run.dir, ec);
    fs::create_directories(run.dir, ec);
    if (ec) {
        return false;
    }
    std::string script;
    for (const std::string &line : run.script) {
        script += line + "\n";
    }
    return run.script.empty() || writeFileAtomic(run.dir + "/script.txt", script);
}

// Starts the run's child on the processor cpu (-1: anywhere), its output
// into the run's console.log.
pid_t startRun(const StudyRun &run, const std::string &simBinary, int cpu) {
    std::vector<std::string> args{"run"};
    args.insert(args.end(), run.args.begin(), run.args.end());
    // Under an emulator when the build is for another processor.
    ProgramCommand command(simBinary, args);
    std::string log = run.dir + "/console.log";
    pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    if (cpu >= 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        sched_setaffinity(0, sizeof(one), &one);
    }
    int in = open("/dev/null", O_RDONLY);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
        dup2(out, STDERR_FILENO) < 0) {
        _exit(127);
    }
    execv(command.file(), command.argv());
    _exit(127);
}

double seconds(const struct timeval &tv) {
    return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6;
}

struct Slot {
    pid_t pid = -1;
    size_t run = 0;
    std::chrono::steady_clock::time_point started;
};

} // namespace

std::vector<RunCost> runStudy(const std::vector<StudyRun> &runs, const std::string &simBinary,
                              int jobs) {
    std::vector<int> cpus = allowedProcessors();
    if (jobs <= 0) {
        jobs = std::max<int>(1, static_cast<int>(cpus.size()));
    }
    std::vector<Slot> slots(static_cast<size_t>(jobs));
    std::vector<RunCost> costs(runs.size());
    size_t next = 0;
    size_t running = 0;
    while ((next < runs.size() || running > 0) && g_EndSignal == 0) {
        for (size_t s = 0; s < slots.size() && next < runs.size(); s++) {
            if (slots[s].pid > 0) {
                continue;
            }
            int cpu = cpus.empty() ? -1 : cpus[s % cpus.size()];
            const StudyRun &run = runs[next];
            slots[s].pid = prepareRunDirectory(run) ? startRun(run, simBinary, cpu) : -1;
            slots[s].run = next++;
            slots[s].started = std::chrono::steady_clock::now();
            running += slots[s].pid > 0 ? 1 : 0;
            printf("study: %zu/%zu %s\n", next, runs.size(), run.name.c_str());
            fflush(stdout);
        }
        if (running == 0) {
            continue;
        }
        int status = 0;
        struct rusage usage {};
        pid_t pid = wait4(-1, &status, 0, &usage);
        if (pid < 0) {
            if (errno != EINTR) {
                break;
            }
            continue;
        }
        for (Slot &slot : slots) {
            if (slot.pid != pid) {
                continue;
            }
            RunCost &cost = costs[slot.run];
            cost.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
            cost.wallSeconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - slot.started)
                    .count();
            cost.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            slot.pid = -1;
            running--;
        }
    }
    for (Slot &slot : slots) {
        if (slot.pid > 0) {
            stopChild(&slot.pid, 2000);
        }
    }
    return costs;
}

} // namespace sim
