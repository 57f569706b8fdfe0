// tstat-sim fixture against the application, in lock-step time: a good unit
// passes the nine steps end to end and keeps the serial number it was given;
// a unit whose coprocessor does not answer the link test fails at the first
// step.
#include "board_root.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

ToolResult runFixture(const TempBoardRoot &root, std::vector<std::string> args) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    args.insert(args.begin(), {"fixture", "--root", root.path(), "--start", "2026-01-14 06:00"});
    return runTool(TSTAT_SIM_BINARY, args);
}

TEST(Fixture, GoodUnitPassesEveryStep) {
    TempBoardRoot root;
    const std::string serial = "TS240101000042";
    ToolResult fixture = runFixture(root, {"--serial", serial});
    const std::string &out = fixture.out;
    EXPECT_EQ(fixture.status, 0) << out << fixture.err;
    EXPECT_NE(out.find("UNIT PASSED"), std::string::npos) << out;
    EXPECT_EQ(countOf(out, " PASS "), 9u) << out;
    EXPECT_EQ(countOf(out, "closed alone"), 10u) << out;
    EXPECT_NE(out.find(serial + " (as sent)"), std::string::npos) << out;
    // The serial region holds the number after its two checksum words, and
    // the test pin is as the fixture found it (not set).
    std::string region = root.read("/dev/mtdblock8");
    ASSERT_EQ(region.size(), 18u);
    EXPECT_EQ(region.substr(4), serial);
    EXPECT_EQ(root.read("/sim/test-pin"), "");
    EXPECT_EQ(root.read("/sim/relays"), "0000000000\n");
}

TEST(Fixture, UnitWhoseCoprocessorDoesNotAnswerFails) {
    TempBoardRoot root;
    ToolResult fixture = runFixture(root, {"--no-link-answer"});
    const std::string &out = fixture.out;
    EXPECT_EQ(fixture.status, 1) << out << fixture.err;
    EXPECT_NE(out.find("FAIL     AT_LM_INT_TEST_FAIL"), std::string::npos) << out;
    EXPECT_EQ(countOf(out, "NOT RUN"), 8u) << out;
    EXPECT_NE(out.find("UNIT FAILED"), std::string::npos) << out;
}

} // namespace
