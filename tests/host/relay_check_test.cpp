// The relay-log safety checker catches every kind of violation and passes a
// clean log.
#include "host/relay_check.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

std::vector<RelayViolation> check(const std::string &log, RelayCheckOptions options = {}) {
    std::istringstream in(log);
    std::vector<RelayEvent> events;
    std::string error;
    EXPECT_TRUE(parseRelayLog(in, events, error)) << error;
    return checkRelayLog(events, options);
}

// A full sequence of ten pulses from `start` with the given contacts
// ("0001000000" = W1/E closed), 500 ms each, the openings first as the
// driver pulses them, or all in index order.
std::string sequence(int64_t start, const std::string &contacts, bool indexOrder = false) {
    std::ostringstream out;
    int step = 0;
    for (char pass : indexOrder ? std::string("*") : std::string("01")) {
        for (int i = 0; i < 10; i++) {
            if (pass == '*' || contacts[i] == pass) {
                out << start + 500 * ++step << " " << i << " " << contacts[i] << "\n";
            }
        }
    }
    return out.str();
}

TEST(RelayCheck, CleanHeatingAndCoolingDayPasses) {
    std::string log = sequence(0, "0000000000") + sequence(60000, "0001000100") +
                      sequence(900000, "0000000000") + sequence(1800000, "0110000100") +
                      sequence(2400000, "0000000000") + sequence(2700000, "0100000100");
    EXPECT_TRUE(check(log).empty());
}

TEST(RelayCheck, CatchesOutputsKeptApartClosedTogetherForOnePulse) {
    // A change from one to the other inside one sequence: pulsed in index
    // order the closing comes first; openings first, never.
    const std::pair<const char *, const char *> c_Changes[] = {
        {"0001000100", "0100000100"}, // heating to cooling: W1/E to Y1
        {"0000001000", "0000010000"}, // humidifying to dehumidifying
        {"0000000001", "0000000100"}, // high fan speed to low
    };
    for (const auto &[from, to] : c_Changes) {
        SCOPED_TRACE(to);
        EXPECT_TRUE(check(sequence(0, from) + sequence(10000, to)).empty());
        auto found = check(sequence(0, from) + sequence(10000, to, true));
        ASSERT_EQ(found.size(), 1u);
        EXPECT_NE(found[0].what.find("closed together"), std::string::npos);
    }
    EXPECT_NE(check(sequence(0, "0000011000"))[0].what.find("humidifier and dehumidifier"),
              std::string::npos);
}

TEST(RelayCheck, CatchesACompressorClosingTooSoon) {
    // Once: the next sequence pulses the closed Y1 again.
    std::string log = sequence(0, "0100000000") + sequence(10000, "0000000000") +
                      sequence(300000, "0100000000") + sequence(305000, "0100000000");
    auto found = check(log);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].what.find("Y1 closed 294000 ms"), std::string::npos);
    // 300 s after the opening is allowed, and the heat relay has no minimum
    // off time; diagnostic mode allows anything.
    for (auto [contacts, closing] : {std::pair{"0010000000", 310000}, {"0001000000", 20000}}) {
        EXPECT_TRUE(check(sequence(0, contacts) + sequence(10000, "0000000000") +
                          sequence(closing, contacts))
                        .empty())
            << contacts;
    }
    RelayCheckOptions diagnostic;
    diagnostic.diagnostic = true;
    EXPECT_TRUE(check(log, diagnostic).empty());
}

TEST(RelayCheck, CatchesHeatingAndCoolingTogether) {
    // Conventional: W1/E and Y1 closed together for 20 s.
    std::string log =
        sequence(0, "0001000000") + sequence(10000, "0101000000") + sequence(30000, "0000000000");
    auto found = check(log);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].what.find("heating and cooling"), std::string::npos);
    // Heat pump: the compressor with O/B closed is cooling, and W1/E heating.
    RelayCheckOptions heatPump;
    heatPump.heatPump = true;
    EXPECT_EQ(check(sequence(0, "1101000000") + sequence(20000, "0000000000"), heatPump).size(),
              1u);
    // Heat pump heating with auxiliary heat is no conflict.
    EXPECT_TRUE(check(sequence(0, "0101000000") + sequence(20000, "0000000000"), heatPump).empty());
    // Still closed together when the log ends.
    EXPECT_EQ(check(sequence(0, "0101000000") + sequence(20000, "0101000100")).size(), 1u);
}

TEST(RelayCheck, CatchesOverlappingPulses) {
    auto found = check("500 0 0\n1000 1 0\n1200 2 0\n");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].what.find("overlap"), std::string::npos);
    // A log sampled from outside the board every 20 ms: completions 480 ms
    // apart may be back-to-back pulses, 479 ms apart are not.
    RelayCheckOptions sampled;
    sampled.samplingMs = 20;
    EXPECT_TRUE(check("500 0 0\n980 1 0\n", sampled).empty());
    EXPECT_EQ(check("500 0 0\n979 1 0\n", sampled).size(), 1u);
}

TEST(RelayCheck, CatchesASequenceBeginningDuringTheEmergencyStop) {
    RelayCheckOptions options;
    options.estopWindows = {{7000, 20000}};
    // A sequence under way when the stop began may finish.
    EXPECT_TRUE(check(sequence(5000, "0001000000"), options).empty());
    auto found = check(sequence(5000, "0001000000") + sequence(15000, "0000000000"), options);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].what.find("emergency stop"), std::string::npos);
    EXPECT_TRUE(check(sequence(20500, "0000000000"), options).empty());
}

TEST(RelayCheck, RejectsMalformedLogs) {
    for (const char *bad : {"500 0\n", "500 10 1\n", "500 1 2\n", "x 1 1\n", "500 1 1 extra\n"}) {
        std::istringstream in(bad);
        std::vector<RelayEvent> events;
        std::string error;
        EXPECT_FALSE(parseRelayLog(in, events, error)) << bad;
        EXPECT_NE(error.find("line 1"), std::string::npos);
    }
}

} // namespace
