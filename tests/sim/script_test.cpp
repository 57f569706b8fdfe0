// Scripts of timed console lines: times of day from the start and across
// midnight, times after the line before, fractions, and malformed lines;
// the files a run reads whole.
#include "board_root.h"
#include "house/climate.h"
#include "script.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

namespace {

TEST(Script, TimesOfDayAndDelaysBecomeRunMilliseconds) {
    setenv("TZ", "UTC0", 1);
    tzset();
    // The run starts on 2026-01-14 at 06:00:00 UTC.
    constexpr int64_t START = 1768370400;
    struct Case {
        const char *text;
        std::vector<int64_t> atMs;
    };
    const Case cases[] = {
        {"06:00 voltage 480", {0}},
        {"06:59:30 key mode 3.5\n+10 screen popup", {3570000, 3580000}},
        {"# comment\n\n+1.25 key up\n+0:01:30 key down\n+1:00:00.5 house", {1250, 91250, 3691750}},
        // A time of day earlier than the line before is the next day's.
        {"23:59:59 key up\n00:00:01 key down", {64799000, 64801000}},
        {"05:59 key up", {86340000}},
        // The latest moment a line may name: the longest run's end.
        {"+744:00:00 quit", {2678400000}},
    };
    for (const Case &c : cases) {
        std::vector<sim::ScriptLine> lines;
        std::string error;
        ASSERT_TRUE(sim::parseScript(c.text, START, &lines, &error)) << c.text << ": " << error;
        std::vector<int64_t> at;
        for (const sim::ScriptLine &l : lines) {
            at.push_back(l.atMs);
        }
        EXPECT_EQ(at, c.atMs) << c.text;
    }
    std::vector<sim::ScriptLine> lines;
    std::string error;
    ASSERT_TRUE(sim::parseScript("06:59:30   key mode 3.5  ", START, &lines, &error));
    EXPECT_EQ(lines[0].line, "key mode 3.5");
    // Bad lines, the second line of each text: malformed, past the longest
    // run (31 days, 744:00:00) or too large to count, unknown commands,
    // arguments the command refuses (an explanation left on the line, a
    // value past its range, a file that is not there).
    for (const char *bad :
         {"key up", "06:00", "24:00 key up", "06:60 key up", "+ key up", "+-5 key up", "6 key up",
          "+1:60 key up", "+x key up", "+99999999999999999999 quit", "+744:00:01 quit",
          "+1 frobnicate", "+1 key mode 3.5 at 06:59:30: the mode key held", "+1 level 3 256",
          "+1 key up 3600.1", "+1 set rh 100.5", "+1 download /nonexistent 1"}) {
        lines.clear();
        EXPECT_FALSE(sim::parseScript(std::string("+0 quit\n") + bad, START, &lines, &error))
            << bad;
        EXPECT_NE(error.find("script line 2"), std::string::npos) << error;
    }
    // A refused argument names the command's range; the edges pass.
    EXPECT_NE(error.find("/nonexistent is not a regular file"), std::string::npos) << error;
    ASSERT_FALSE(sim::parseScript("+0 level 3 256", START, &lines, &error));
    EXPECT_NE(error.find("each 0-255"), std::string::npos) << error;
    EXPECT_TRUE(sim::parseScript("+0 level 255 0\n+1 key up 3600\n+1 set rh 100", START, &lines,
                                 &error))
        << error;
}

TEST(Script, OnlyRegularFilesOfBoundedSizeAreRead) {
    // The script and the weather file are read whole: a device, a FIFO (which
    // would block) and an endless file are refused with the reason.
    TempBoardRoot dir;
    std::string fifo = dir.file("/fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    dir.write("/large", std::string(4 * 1024 * 1024 + 1, '#'));
    for (const std::string &path : {std::string("/dev/zero"), fifo, dir.file("/large")}) {
        std::vector<sim::ScriptLine> lines;
        std::string error;
        EXPECT_FALSE(sim::loadScript(path, 0, &lines, &error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        sim::WeatherDay weather;
        EXPECT_FALSE(weather.load(path, &error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
}

} // namespace
