// tstat-sim fixture against the application: a good unit passes the nine
// steps end to end and keeps the serial number it was given; a unit whose
// coprocessor does not answer the link test fails at the first step.
#include "board_root.h"
#include "sim_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

// Simulated time runs 20 times faster: a full sequence is about 75 s of it.
constexpr double TIME_SCALE = 20.0;
constexpr auto FIXTURE_LIMIT = std::chrono::seconds(180);

size_t count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        n++;
    }
    return n;
}

TEST(Fixture, GoodUnitPassesEveryStep) {
    TempBoardRoot root;
    const std::string serial = "TS240101000042";
    SimProcess fixture(root.path(), "fixture", {"--serial", serial}, TIME_SCALE);
    int status = fixture.wait(FIXTURE_LIMIT);
    std::string out = fixture.output();
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("UNIT PASSED"), std::string::npos) << out;
    EXPECT_EQ(count(out, " PASS "), 9u) << out;
    EXPECT_EQ(count(out, "closed alone"), 10u) << out;
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
    SimProcess fixture(root.path(), "fixture", {"--no-link-answer"}, TIME_SCALE);
    int status = fixture.wait(FIXTURE_LIMIT);
    std::string out = fixture.output();
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("FAIL     AT_LM_INT_TEST_FAIL"), std::string::npos) << out;
    EXPECT_EQ(count(out, "NOT RUN"), 8u) << out;
    EXPECT_NE(out.find("UNIT FAILED"), std::string::npos) << out;
}

} // namespace
