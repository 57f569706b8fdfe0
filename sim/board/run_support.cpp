// Time and place helpers shared by tstat-sim's run and fixture modes.
#include "board/run_support.h"

#include "core/util.h"
#include "platform/platform.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sim {

int64_t simNowMs() {
    struct timespec ts;
    platformMonotonic(&ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t hostMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {
struct tm localNow() {
    time_t now = static_cast<time_t>(util_time(nullptr));
    struct tm local {};
    localtime_r(&now, &local);
    return local;
}
} // namespace

double hourOfDay() {
    struct tm local = localNow();
    return local.tm_hour + local.tm_min / 60.0 + local.tm_sec / 3600.0;
}

int64_t localDay() {
    struct tm local = localNow();
    struct tm date {};
    date.tm_year = local.tm_year;
    date.tm_mon = local.tm_mon;
    date.tm_mday = local.tm_mday;
    return static_cast<int64_t>(timegm(&date)) / 86400;
}

std::string clockStamp(bool withDate) {
    struct tm local = localNow();
    char text[32];
    if (strftime(text, sizeof(text), withDate ? "%Y-%m-%d %H:%M:%S" : "%H:%M:%S", &local) == 0) {
        return "??:??:??";
    }
    return text;
}

void shareTimeAnchor() {
    const char *anchor = getenv("TSTAT_TIME_ANCHOR");
    if (anchor != nullptr && *anchor != '\0') {
        return;
    }
    platformReset();
    // Right after a reset the simulated monotonic clock starts at the host's
    // monotonic time, which is what the anchor is.
    struct timespec ts;
    platformMonotonic(&ts);
    char text[32];
    snprintf(text, sizeof(text), "%lld",
             static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec);
    setenv("TSTAT_TIME_ANCHOR", text, 1);
    platformReset();
}

std::string ownDirectory() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        return ".";
    }
    buf[n] = '\0';
    return std::filesystem::path(buf).parent_path().string();
}

void stopChild(pid_t *child, int graceMs) {
    if (*child < 0) {
        return;
    }
    kill(*child, SIGTERM);
    // A stopped application takes its SIGTERM only once it runs again.
    kill(*child, SIGCONT);
    for (int waited = 0; waited < graceMs; waited += 20) {
        if (waitpid(*child, nullptr, WNOHANG) == *child) {
            *child = -1;
            return;
        }
        usleep(20000);
    }
    kill(*child, SIGKILL);
    waitpid(*child, nullptr, 0);
    *child = -1;
}

void waitForChild(pid_t *child, int graceMs, int *status) {
    if (*child < 0) {
        return;
    }
    int st = 0;
    for (int waited = 0; waited < graceMs; waited += 5) {
        if (waitpid(*child, &st, WNOHANG) == *child) {
            *child = -1;
            *status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
            return;
        }
        usleep(5000);
    }
    stopChild(child, graceMs);
    *status = 128 + SIGKILL;
}

volatile sig_atomic_t g_EndSignal = 0;

namespace {
void onEndSignal(int signal) {
    g_EndSignal = signal;
}
} // namespace

void catchEndSignals() {
    struct sigaction sa {};
    sa.sa_handler = onEndSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool childPinAndRedirect(int cpu, const std::string &log) {
    if (cpu >= 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        sched_setaffinity(0, sizeof(one), &one);
    }
    int in = open("/dev/null", O_RDONLY);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return in >= 0 && out >= 0 && dup2(in, STDIN_FILENO) >= 0 && dup2(out, STDOUT_FILENO) >= 0 &&
           dup2(out, STDERR_FILENO) >= 0;
}

} // namespace sim
