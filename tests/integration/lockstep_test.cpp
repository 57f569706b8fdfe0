// Lock-step time end to end: the same scripted run twice, the second with
// both cores kept busy by another process, gives the same trace, relay log
// and report, with every periodic request; a mode key held 3.0 s of
// simulated time opens the pop-up while one held 2.9 s is a short press; and
// the simulated controller's weather reaches the five-day page. A download
// runs at simulated instants and a second one that is not taken is given up;
// the dashboard costs host time only; runs that cannot be carried out end at
// once with their reason; the help shows every default within its range; a run replaces the last
// run's outputs and screens, says when it writes none and fails when interrupted, saying so in its
// report; the simulator's files are never links followed.
#include "board_root.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Runs tstat-sim in lock-step time on a fresh board root with a script.
struct SimRun {
    TempBoardRoot root;
    ToolResult result;

    SimRun(const std::string &script, const std::string &hours,
           const std::vector<std::string> &more = {}) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("TZ", "UTC0", 1);
        // FW in a script names a firmware file of the root.
        root.write("/fw.bin", std::string(20000, '\x5a'));
        std::string text = script;
        for (size_t at; (at = text.find("FW")) != std::string::npos;) {
            text.replace(at, 2, root.file("/fw.bin"));
        }
        root.write("/script.txt", text);
        // The dashboard only when asked for.
        bool http = std::find(more.begin(), more.end(), "--http") != more.end();
        std::vector<std::string> args = {
            "run", "--root",  root.path(),        "--no-status", "--hours",
            hours, "--start", "2026-01-14 06:00", "--script",    root.file("/script.txt")};
        args.insert(args.end(), more.begin(), more.end());
        if (!http) {
            args.emplace_back("--no-http");
        }
        result = runTool(TSTAT_SIM_BINARY, args);
    }
    std::string file(const std::string &name) const { return root.read("/sim/" + name); }
};

// The application's lines of a run's output, with their time stamps.
std::string applicationLines(const std::string &out) {
    std::istringstream in(out);
    std::string lines;
    for (std::string line; std::getline(in, line);) {
        if (line.size() > 16 && line.compare(8, 8, " tstat: ") == 0) {
            lines += line + "\n";
        }
    }
    return lines;
}

// Keeps every core busy in child processes until it goes out of scope (a
// minute at most, whatever happens to the test).
class CpuHog {
  public:
    CpuHog() {
        for (long i = 0; i < sysconf(_SC_NPROCESSORS_ONLN); i++) {
            pid_t pid = fork();
            if (pid == 0) {
                alarm(60);
                volatile unsigned long n = 0;
                for (;;) {
                    n = n + 1;
                }
            }
            m_children.push_back(pid);
        }
    }
    ~CpuHog() {
        for (pid_t pid : m_children) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

  private:
    std::vector<pid_t> m_children;
};

TEST(Lockstep, TheSameRunGivesTheSameFilesUnderLoad) {
    // Two downloads: the first is taken; the second, which the thermostat
    // does not take after the first, is given up while its requests go on.
    const std::string script = "06:30 key up\n+5 key up\n07:00 voltage 480\n+90 voltage 600\n"
                               "07:30 garbage 40\n07:40 download FW 1\n07:45 download FW 1\n";
    SimRun quiet(script, "2");
    ASSERT_EQ(quiet.result.status, 0) << quiet.result.out << quiet.result.err;
    std::unique_ptr<SimRun> loaded;
    {
        CpuHog hog;
        loaded = std::make_unique<SimRun>(script, "2");
    }
    ASSERT_EQ(loaded->result.status, 0) << loaded->result.out << loaded->result.err;
    for (const char *name : {"trace.csv", "relay-log", "report.txt"}) {
        EXPECT_FALSE(quiet.file(name).empty()) << name;
        EXPECT_TRUE(quiet.file(name) == loaded->file(name)) << name;
    }
    // The application's lines, each at the simulated time it wrote it.
    EXPECT_NE(applicationLines(quiet.result.out), "");
    EXPECT_EQ(applicationLines(quiet.result.out), applicationLines(loaded->result.out));
    for (const SimRun *run : {&quiet, loaded.get()}) {
        EXPECT_NE(run->result.out.find("download complete (157 of 157 blocks"), std::string::npos)
            << run->result.out;
        EXPECT_NE(run->result.out.find("download abandoned"), std::string::npos);
    }
}

// The lines of a run's output that a run in the simulator's process and
// one of the program both print: all but those that name the process, the
// console's port and the host's time.
std::string stampedLines(const std::string &out) {
    std::istringstream in(out);
    std::string lines;
    for (std::string line; std::getline(in, line);) {
        bool own = line.find("(pid ") != std::string::npos ||
                   line.find("into this process") != std::string::npos ||
                   line.find("console on 127.0.0.1") != std::string::npos ||
                   line.find(" host s") != std::string::npos;
        if (!own) {
            lines += line + "\n";
        }
    }
    return lines;
}

// The application in the simulator's process writes what the program
// writes: the reference day, and a heat-pump day with keys held and
// pressed, command strings, a level, a channel, an under-voltage, garbage
// on the line and a download. Only an optimised build has the module.
TEST(Lockstep, InProcessTheApplicationWritesWhatTheProgramWrites) {
    namespace fs = std::filesystem;
    if (!fs::exists(fs::path(TSTAT_SIM_BINARY).parent_path() / "tstat-inprocess.so")) {
        GTEST_SKIP() << "built without the application's module (a sanitizer build)";
    }
    const std::string script = "06:30 key up\n+5 key up\n+30 key mode 3.5\n+10 screen popup\n"
                               "07:00 command MD MPH H68 C76\n+5 command ST\n+5 level 3 190\n"
                               "+5 channel 214 1\n07:30 voltage 480\n+90 voltage 600\n"
                               "08:00 garbage 40\n09:00 download FW 1\n12:00 key down\n";
    const std::vector<std::vector<std::string>> days = {
        {"--start", "2026-01-14 00:00", "--seed", "5"},
        {"--start", "2026-01-14 06:00", "--seed", "7", "--equipment", "heatpump", "--aux",
         "electric", "--factory=--system two-stg-heat-pump", "--script", "SCRIPT"}};
    for (const std::vector<std::string> &day : days) {
        // Both runs on one root (a path that the plot's events name).
        TempBoardRoot root;
        std::string text = script;
        text.replace(text.find("FW"), 2, root.file("/fw.bin"));
        std::string files[2];
        for (int inProcess = 0; inProcess < 2; inProcess++) {
            for (const fs::directory_entry &entry : fs::directory_iterator(root.path())) {
                fs::remove_all(entry.path());
            }
            root.write("/fw.bin", std::string(20000, '\x5a'));
            root.write("/script.txt", text);
            std::vector<std::string> args = {"run",     "--root", root.path(),
                                             "--hours", "24",     "--no-http"};
            for (const std::string &a : day) {
                args.push_back(a == "SCRIPT" ? root.file("/script.txt") : a);
            }
            if (inProcess != 0) {
                args.emplace_back("--in-process");
            }
            setenv("TZ", "UTC0", 1);
            ToolResult result = runTool(TSTAT_SIM_BINARY, args);
            ASSERT_EQ(result.status, 0) << result.out << result.err;
            EXPECT_EQ(result.out.find("into this process") != std::string::npos, inProcess != 0);
            files[inProcess] = stampedLines(result.out);
            for (const char *name :
                 {"trace.csv", "relay-log", "report.txt", "report.json", "day.png", "screen.png"}) {
                files[inProcess] +=
                    name + std::string(":") + root.read(std::string("/sim/") + name);
            }
        }
        EXPECT_TRUE(files[0] == files[1]) << day[1];
    }
}

TEST(Lockstep, TheDashboardCostsTheHostsTimeOnly) {
    // Frames for the page come a few times a host second, not per simulated
    // instant: a run with the page is about as fast as one without.
    auto hostSeconds = [](bool dashboard) {
        auto start = std::chrono::steady_clock::now();
        SimRun run("06:00:01 house\n", "0.5",
                   dashboard ? std::vector<std::string>{"--http", "0"}
                             : std::vector<std::string>{});
        EXPECT_EQ(run.result.status, 0) << run.result.out << run.result.err;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    double without = hostSeconds(false);
    double with = hostSeconds(true);
    EXPECT_LT(with, 2.0 * without + 1.0) << without << " s without the dashboard";
}

TEST(Lockstep, RunsThatCannotBeCarriedOutEndAtOnceWithTheReason) {
    TempBoardRoot root;
    root.write("/sim/unknown.txt", "06:00 key up\n+1 frobnicate\n");
    // Another simulator's lock on the root.
    std::filesystem::create_directories(root.file("/sim"));
    int lock = open(root.file("/sim/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    ASSERT_EQ(write(lock, "4242\n", 5), 5);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *said;
    };
    const std::string other = root.path() + "/other";
    // Board files that are not regular files: a relay log that reaches
    // nowhere, a FIFO for a flash region, and a relay log the application
    // finds made a directory as it starts.
    const std::string linked = root.path() + "/linked", fifo = root.path() + "/fifo";
    std::filesystem::create_directories(linked + "/sim");
    std::filesystem::create_symlink("/dev/null", linked + "/sim/relay-log");
    std::filesystem::create_directories(fifo + "/dev");
    ASSERT_EQ(mkfifo((fifo + "/dev/mtdblock4").c_str(), 0600), 0);
    const std::string factory = root.path() + "/factory", made = root.path() + "/made";
    root.write("/made/dev/mtdblock4", std::string(974, '\0'));
    root.write("/late-tstat", "#!/bin/sh\nmkdir \"$TSTAT_ROOT/sim/relay-log\"\nsleep 1\n");
    chmod(root.file("/late-tstat").c_str(), 0755);
    const Case cases[] = {
        {{"run", "--root", linked, "--hours", "1"}, 2, "relay-log is not a regular file (a link)"},
        {{"run", "--root", fifo, "--hours", "1"}, 2, "mtdblock4 is not a regular file (a FIFO)"},
        // A factory image the tool refuses to make, and factory options for
        // a root that has its image already.
        {{"run", "--root", factory, "--hours", "1", "--factory=--cycle-rate 9"},
         2,
         "failed to write"},
        {{"run", "--root", made, "--hours", "1", "--factory=--mode cool"}, 2, "add --fresh"},
        {{"run", "--root", root.path() + "/late", "--clock", "scaled", "--hours", "744",
          "--no-http", "--tstat", root.file("/late-tstat")},
         1,
         "relay-log is not a regular file (a directory); no relay check: the run fails"},
        // Numbers that are not finite, of any subcommand.
        {{"run", "--root", other, "--indoor", "nan"}, 2, "not a finite number"},
        {{"key", "up", "--hold", "nan"}, 2, "not a finite number"},
        {{"run", "--root", root.path(), "--hours", "1"},
         2,
         "in use by another simulator (pid 4242)"},
        {{"run", "--root", other, "--hours", "1", "--report-dir", root.file("/sim/lock")},
         2,
         "the report cannot be written to"},
        {{"run", "--root", other, "--script", root.file("/sim/unknown.txt")},
         2,
         "script line 2: unknown command \"frobnicate\""},
        {{"run", "--root", other, "--script", "/dev/zero"}, 2, "/dev/zero is not a regular file"},
        {{"run", "--root", other, "--weather", "/dev/zero"}, 2, "/dev/zero is not a regular file"},
        // The last year --start takes, and the first it refuses.
        {{"run", "--root", other, "--start", "2200-12-31 23:59", "--script",
          root.file("/sim/unknown.txt")},
         2,
         "script line 2"},
        {{"run", "--root", other, "--start", "2201-01-01 00:00", "--script",
          root.file("/sim/unknown.txt")},
         2,
         "of the years 1970 to 2200"},
        {{"frobnicate"}, 2, "unknown subcommand \"frobnicate\"; the subcommands are run, coproc"},
    };
    for (const Case &c : cases) {
        ToolResult r = runTool(TSTAT_SIM_BINARY, c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
    }
    // Nothing of the first simulator's was touched; no factory image is
    // left of the tool that failed.
    EXPECT_FALSE(std::filesystem::exists(root.file("/sim/relays")));
    EXPECT_FALSE(std::filesystem::exists(factory + "/dev/mtdblock4"));
    close(lock);
}

TEST(Lockstep, HelpIsTheWholeTextWithEveryDefaultInItsRange) {
    ToolResult all = runTool(TSTAT_SIM_BINARY, {"--help-all"});
    ToolResult help = runTool(TSTAT_SIM_BINARY, {"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, all.out);
    // Numbers shown as "N:in [LO, HI]=DEFAULT".
    const std::regex shown(R"(N:in \[([^,]+), ([^\]]+)\]=(\S+))");
    size_t defaults = 0;
    for (std::sregex_iterator m(all.out.begin(), all.out.end(), shown), end; m != end; ++m) {
        double lo = std::stod((*m)[1]), hi = std::stod((*m)[2]), value = std::stod((*m)[3]);
        EXPECT_TRUE(lo <= value && value <= hi) << m->str();
        defaults++;
    }
    EXPECT_GT(defaults, 20u) << all.out;
}

TEST(Lockstep, ARunReplacesTheLastRunsOutputsAndSaysWhenItWritesNone) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("TZ", "UTC0", 1);
    TempBoardRoot root;
    struct Case {
        const char *script;
        std::vector<std::string> wrap; // a command the run goes through
        int status;
        const char *said;
        bool report;
    };
    // Quit before the first simulated minute, keeping a screen; interrupted
    // after a few minutes, its report.json marked cut short.
    const Case cases[] = {
        {"06:00:10 screen earlier\n06:00:30 quit\n", {}, 0, "no report, trace or plot", false},
        {"06:00:30 house\n",
         {"/usr/bin/timeout", "--preserve-status", "-s", "INT", "4"},
         130,
         "cut short: interrupted",
         true},
    };
    root.write("/sim/mine.png", "a user's picture\n");
    for (const Case &c : cases) {
        for (const char *name : {"/sim/report.txt", "/sim/trace.csv", "/sim/day.png"}) {
            root.write(name, "the last run's\n");
        }
        root.write("/script.txt", c.script);
        std::vector<std::string> args = c.wrap;
        // Through a wrapper, a cross build's simulator needs its emulator named.
        const char *emulator = getenv("TSTAT_EMULATOR");
        if (!c.wrap.empty() && emulator != nullptr && *emulator != '\0') {
            args.push_back(emulator);
        }
        for (const std::string &a :
             {std::string(TSTAT_SIM_BINARY), std::string("run"), std::string("--root"), root.path(),
              std::string("--no-http"), std::string("--no-status"), std::string("--pace"),
              std::string("120"), std::string("--start"), std::string("2026-01-14 06:00"),
              std::string("--script"), root.file("/script.txt")}) {
            args.push_back(a);
        }
        std::string program = args.front();
        args.erase(args.begin());
        ToolResult r = runTool(program, args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out;
        EXPECT_EQ(root.read("/sim/report.txt").find("the last run's"), std::string::npos);
        EXPECT_EQ(std::filesystem::exists(root.file("/sim/day.png")), c.report) << r.out;
        EXPECT_EQ(root.read("/sim/report.json").find("\"cut_short\": true") != std::string::npos,
                  c.report);
        // The screen is the first run's alone; a picture of the user's stays.
        EXPECT_EQ(std::filesystem::exists(root.file("/sim/earlier.png")), &c == cases) << r.out;
        EXPECT_TRUE(std::filesystem::exists(root.file("/sim/mine.png")));
    }
}

TEST(Lockstep, TheSimulatorsOwnFilesAreNeverLinksFollowed) {
    TempBoardRoot outside;
    outside.write("/victim", "untouched\n");
    TempBoardRoot root;
    // A screen at the run's last instant is kept too.
    root.write("/script.txt", "06:00:30 screen kept\n06:03 screen last\n");
    std::filesystem::create_directories(root.file("/sim"));
    for (const char *name :
         {"/sim/relays.tmp", "/sim/rtc.tmp", "/sim/page.tmp", "/sim/screen.png.tmp",
          "/sim/report.txt.tmp", "/sim/day.png", "/sim/kept.png"}) {
        std::filesystem::create_symlink(outside.file("/victim"), root.file(name));
    }
    ToolResult r =
        runTool(TSTAT_SIM_BINARY,
                {"run", "--root", root.path(), "--no-http", "--no-status", "--hours", "0.05",
                 "--start", "2026-01-14 06:00", "--script", root.file("/script.txt")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(outside.read("/victim"), "untouched\n") << r.out << r.err;
    EXPECT_GT(root.read("/sim/day.png").size(), 1000u);
    EXPECT_GT(root.read("/sim/last.png").size(), 1000u) << r.out;
}

} // namespace
