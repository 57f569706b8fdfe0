// A study's runs, in parallel: each a `tstat-sim run` child of its own on a
// processor of its own (the child keeps its application on the same one),
// at most one run per processor; each run's record of how it ended; the
// build's fingerprint; and the other programs a study starts (the factory
// tool, sbatch), their output captured.
#include "study/study.h"

#include "board/board.h"
#include "board/run_support.h"

#include "host/program_command.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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

double seconds(const struct timeval &tv) {
    return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6;
}

struct Slot {
    pid_t pid = -1;
    size_t run = 0;
    std::chrono::steady_clock::time_point started;
};

// FNV-1a over a file's bytes, into h; false when it cannot be read.
bool fingerprintFile(const std::string &path, uint64_t *h) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    unsigned char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof(buffer))) > 0;) {
        for (ssize_t i = 0; i < n; i++) {
            *h = (*h ^ buffer[i]) * 1099511628211ULL;
        }
    }
    close(fd);
    return true;
}

} // namespace

int runProgram(const std::string &program, const std::vector<std::string> &args,
               std::string *output) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return 127;
    }
    ProgramCommand command(program, args);
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(pipeFds[1], STDOUT_FILENO) < 0 ||
            dup2(pipeFds[1], STDERR_FILENO) < 0) {
            _exit(127);
        }
        command.exec();
        _exit(127);
    }
    close(pipeFds[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof(buffer))) != 0;) {
        if (n > 0) {
            output->append(buffer, static_cast<size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    close(pipeFds[0]);
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid < 0) {
        return 127;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string programVersion(const std::string &simBinary) {
    uint64_t h = 1469598103934665603ULL;
    std::string dir = fs::path(simBinary).parent_path().string();
    for (const char *name : {"tstat-sim", "tstat", "tstat-factory"}) {
        std::string path = dir.empty() ? name : dir + "/" + name;
        if (!fingerprintFile(path, &h)) {
            h = (h ^ 0xFF) * 1099511628211ULL;
        }
    }
    char text[17];
    snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(h));
    return text;
}

bool writeRunRecord(const StudyRun &run, const RunRecord &r) {
    Json j{{"run", run.name},
           {"study", r.study},
           {"version", r.version},
           {"exit_status", r.cost.exitStatus},
           {"wall_s", std::round(r.cost.wallSeconds * 100.0) / 100.0}};
    if (r.cost.cpuSeconds >= 0.0) {
        j["cpu_s"] = std::round(r.cost.cpuSeconds * 100.0) / 100.0;
    }
    return writeFileAtomic(run.dir + "/run.json", j.dump() + "\n");
}

bool readRunRecord(const StudyRun &run, RunRecord *r) {
    std::ifstream in(run.dir + "/run.json");
    Json j = Json::parse(in, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("exit_status") ||
        !j.at("exit_status").is_number_integer()) {
        return false;
    }
    r->study = j.value("study", "");
    r->version = j.value("version", "");
    r->cost.exitStatus = j.at("exit_status").get<int>();
    r->cost.wallSeconds = j.value("wall_s", 0.0);
    r->cost.cpuSeconds = j.value("cpu_s", -1.0);
    return true;
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

namespace {

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
    if (!childPinAndRedirect(cpu, log)) {
        _exit(127);
    }
    execv(command.file(), command.argv());
    _exit(127);
}

} // namespace

std::vector<RunCost> runStudy(const std::vector<StudyRun> &runs, const std::string &simBinary,
                              int jobs, const RunRecord &stamp) {
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
            RunRecord record = stamp;
            record.cost = cost;
            writeRunRecord(runs[slot.run], record);
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

bool runFailed(const StudyFigures &figures, const RunCost &cost) {
    return !figures.ok || cost.exitStatus != 0;
}

} // namespace sim
