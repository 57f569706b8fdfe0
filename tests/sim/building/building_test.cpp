// The building's parts at their edges: the building file (refused lines
// named), the bus's frame times, a demand-response event unit by unit, the
// figures (15-minute peak, each unit's electricity, the fixed comfort
// range) and the link's records.
#include "building/building_figures.h"
#include "building/building_spec.h"
#include "building/control_bus.h"
#include "building/demand_response.h"
#include "unit_link.h"

#include "board_root.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

TEST(BuildingFile, RefusesABadLineNamingIt) {
    sim::HostLimits host;
    host.availableMb = 100000;
    sim::HostLimits small;
    small.availableMb = 600;
    struct Case {
        const char *text;
        const sim::HostLimits *limits;
        const char *message;
    } cases[] = {
        {"zone a address=1\nzone b address=1\n", &host,
         "b.txt:2: zone b has address 1, which zone a (line 1) has"},
        {"zone a address=256\n", &host, "b.txt:1: bad value in \"address=256\""},
        {"zones a 2 address=255\n", &host, "b.txt:1: the addresses run past 255"},
        {"zone a address=1\nfloors 3\n", &host, "b.txt:2: unknown key \"floors\""},
        {"zone a address=1 colour=red\n", &host, "b.txt:1: unknown zone option \"colour=red\""},
        {"zone a address=1 factory=\"--hold\n", &host, "b.txt:1: a quote is not closed"},
        {"zone a\n", &host, "b.txt:1: zone a has no address"},
        {"zone a address=1\nevent 15:00 cool 2F for 3h group b\n", &host,
         "b.txt:2: no group \"b\""},
        {"zone a address=1\nevent 15:00 cool 19F for 3h\n", &host,
         "b.txt:2: the amount is degrees F"},
        {"zone a address=1\nhours 0\n", &host, "b.txt:2: expected hours N"},
        // Two units and the host's reserve fit in 600 MB, three do not.
        {"zones a 3 address=1\n", &small, "b.txt:1: 3 units: the host has 600 MB"},
    };
    for (const Case &c : cases) {
        sim::BuildingSpec plan;
        std::string error;
        EXPECT_FALSE(sim::parseBuilding(c.text, "b.txt", &plan, &error, c.limits)) << c.text;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << c.text << "\n  gave: " << error;
    }
    sim::BuildingSpec plan;
    std::string error;
    EXPECT_TRUE(sim::parseBuilding("zones a 2 address=1\n", "b.txt", &plan, &error, &small))
        << error;
}

TEST(BuildingFile, ReadsZonesGroupsEventsAndTheUnitsOptions) {
    const char *text = "start 2026-07-15 13:00\n"
                       "hours 4\n"
                       "weather " TSTAT_SOURCE_DIR "/sim/weather/summer-heat.csv\n"
                       "defaults area=80 factory=\"--mode cool\" # offices\n"
                       "zones south 2 address=254 facing=south internal=900\n"
                       "zone lab address=0 facing=north equipment=heatpump-gas\n"
                       "group sunny south02 lab\n"
                       "event 14:30 heat 2C for 1h30m group sunny stagger 45s\n";
    sim::BuildingSpec plan;
    std::string error;
    sim::HostLimits none;
    ASSERT_TRUE(sim::parseBuilding(text, "b.txt", &plan, &error, &none)) << error;
    ASSERT_EQ(plan.zones.size(), 3u);
    EXPECT_EQ(plan.zones[1].name, "south02");
    EXPECT_EQ(plan.zones[1].address, 255);
    EXPECT_EQ(plan.zones[2].solarShare, 0.3);
    EXPECT_EQ(plan.groups["sunny"], (std::vector<size_t>{1, 2}));
    ASSERT_EQ(plan.events.size(), 1u);
    const sim::DemandEvent &e = plan.events[0];
    EXPECT_EQ(e.atMs, 90 * 60000);
    EXPECT_FALSE(e.cool);
    EXPECT_EQ(e.amountC, 2.0);
    EXPECT_EQ(e.durationMs, 90 * 60000);
    EXPECT_EQ(e.staggerMs, 45000);
    std::vector<std::string> args = sim::unitArguments(plan, 2);
    std::string joined;
    for (const std::string &a : args) {
        joined += a + " ";
    }
    for (const char *want :
         {"--seed 7 ", "--address 0 ", "--area 80 ", "--solar-share 0.3 ", "--aux gas ",
          "--weather-from 13 ", "--factory=--system one-stg-heat-pump --mode cool --time "}) {
        EXPECT_NE(joined.find(want), std::string::npos) << want << " in " << joined;
    }
}

TEST(BuildingFile, ReadsDurations) {
    struct Case {
        const char *text;
        int64_t ms; // -1: refused
    } cases[] = {{"3h", 3 * 3600000},
                 {"90m", 90 * 60000},
                 {"1h30m", 90 * 60000},
                 {"45s", 45000},
                 {"1.5h", 90 * 60000},
                 {"", -1},
                 {"3", -1},
                 {"h", -1},
                 {"-1h", -1},
                 {"3x", -1},
                 {"745h", -1}};
    for (const Case &c : cases) {
        int64_t ms = -1;
        bool ok = sim::parseDuration(c.text, &ms);
        EXPECT_EQ(ok, c.ms >= 0) << c.text;
        EXPECT_EQ(ok ? ms : -1, c.ms) << c.text;
    }
}

TEST(ControlBus, CarriesOneFrameAtATimeAtItsBitRate) {
    sim::ControlBus bus(38400);
    // Type, length, 2 payload bytes and 8 of framing, 10 bits each: 120 bits.
    EXPECT_EQ(bus.frameMicros(2), 3125);
    sim::BusFrame level{-1, 7, false, 0x02, {3, 190}};
    bus.send(level, 0);
    // The second waits for the first and the 2 quiet byte times after it.
    bus.send(level, 0);
    EXPECT_EQ(bus.nextArrivalMs(), 4);
    EXPECT_TRUE(bus.arrived(3).empty());
    EXPECT_EQ(bus.arrived(4).size(), 1u);
    EXPECT_EQ(bus.nextArrivalMs(), 7);
    EXPECT_EQ(bus.arrived(7).size(), 1u);
    EXPECT_EQ(bus.counts().frames, 2u);
    EXPECT_EQ(bus.counts().longestWaitMicros, 3125 + 521);
}

TEST(DemandResponse, HoldsEachUnitAndGivesBackWhatItHad) {
    sim::DemandEvent event;
    event.atMs = 0;
    event.amountC = 2.0 / 1.8;
    event.durationMs = 3600000;
    event.staggerMs = 600000;
    sim::DemandResponse dr(event, {0, 1, 2}, {"a", "b", "c"});
    std::vector<std::pair<size_t, std::string>> sent;
    auto send = [&sent](size_t unit, const std::string &text) { sent.emplace_back(unit, text); };
    dr.start(0, send);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].second, "ST");
    sent.clear();
    // a in Fahrenheit on its program, b in Celsius on a hold; c never answers.
    for (const char *reply : {"SP H35 D55", "MD MP H70 C78 ", "FM SF"}) {
        dr.onReply(0, reply, 10, send);
    }
    for (const char *reply : {"MD MH H21 C25 ", "FM SC"}) {
        dr.onReply(1, reply, 10, send);
    }
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], std::make_pair(size_t{0}, std::string("MD MPH H70 C80")));
    EXPECT_EQ(sent[2], std::make_pair(size_t{1}, std::string("MD MPH H21 C26")));
    sent.clear();
    dr.onReply(0, "MD MPH H70 C80 ", 20, send);
    // c has the limit from the start, b from its hold.
    const int64_t limit = sim::DemandResponse::TAKE_LIMIT_MS;
    dr.poll(limit - 1, send);
    EXPECT_EQ(dr.notTaken(), (std::vector<std::string>{"b: not yet", "c: not yet"}));
    dr.poll(limit, send);
    EXPECT_EQ(dr.notTaken()[1], "c: no state in answer to ST");
    dr.poll(10 + limit - 1, send);
    EXPECT_EQ(dr.notTaken()[0], "b: not yet");
    dr.poll(10 + limit, send);
    EXPECT_EQ(dr.notTaken()[0], "b: no mode report with the event's set points");
    EXPECT_TRUE(sent.empty());
    dr.poll(3600000, send);
    dr.poll(3600000 + 300000, send);
    // c was never held: nothing is given back to it.
    EXPECT_EQ(sent,
              (std::vector<std::pair<size_t, std::string>>{{0, "MD MP"}, {1, "MD MH H21 C25"}}));
    EXPECT_EQ(dr.nextMs(), INT64_MAX);
}

TEST(DemandResponse, ReadsModeReports) {
    struct Case {
        const char *text;
        bool valid;
        int heat, cool;
    } cases[] = {{"MD MH H70 C78 ", true, 70, 78}, {"MD MV H60 C85 U30 D60 Y3 R4 ", true, 60, 85},
                 {"MD MPH H-5 C30", true, -5, 30}, {"MO ", false, 0, 0},
                 {"MD MX H1 C2", false, 0, 0},     {"MD MP H70", false, 0, 0},
                 {"MD MP H7x C80", false, 0, 0}};
    for (const Case &c : cases) {
        sim::ModeReport r = sim::parseModeReport(c.text);
        EXPECT_EQ(r.valid, c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(r.heat, c.heat) << c.text;
            EXPECT_EQ(r.cool, c.cool) << c.text;
        }
    }
}

TEST(BuildingFigures, PeakIsTheHighestFifteenMinuteMeanInItsWindow) {
    std::vector<double> kw(60, 1.0);
    for (size_t i = 20; i < 35; i++) {
        kw[i] = 4.0;
    }
    kw[40] = 100.0;
    size_t at = 0;
    EXPECT_DOUBLE_EQ(sim::peakMeanKw(kw, 0, 40, &at), 4.0);
    EXPECT_EQ(at, 35u);
    // One minute short of the block: a window of 14 of its minutes and one other.
    EXPECT_DOUBLE_EQ(sim::peakMeanKw(kw, 0, 34, &at), (14 * 4.0 + 1.0) / 15.0);
    // Fewer than 15 minutes: their mean.
    EXPECT_DOUBLE_EQ(sim::peakMeanKw(kw, 38, 42, &at), (3 * 1.0 + 100.0) / 4.0);
    EXPECT_TRUE(std::isnan(sim::peakMeanKw(kw, 60, 60, &at)));
}

TEST(BuildingFigures, ElectricityOfAMinuteByEquipment) {
    sim::TraceRow cooling;
    cooling.outdoor = 35.0;
    cooling.energyKj[RELAY_Y1] = -3600.0 * 3.6; // 3.6 kWh of cooling at a COP of 3.6
    cooling.onSeconds[RELAY_G1] = 60.0;
    sim::TraceRow aux;
    aux.energyKj[RELAY_W1E] = 3600.0;
    struct Case {
        const sim::TraceRow *row;
        const char *equipment;
        double kwh;
    } cases[] = {
        {&cooling, "furnace", 1.0 + 250.0 / 60.0 / 1000.0},
        {&aux, "heatpump", 1.0},
        {&aux, "heatpump-gas", 0.0},
        // A furnace's burner runs its blower.
        {&aux, "furnace", 0.0},
    };
    for (const Case &c : cases) {
        EXPECT_NEAR(sim::minuteElectricKwh(*c.row, c.equipment), c.kwh, 1e-9) << c.equipment;
    }
}

TEST(BuildingFigures, FixedComfortRangeFollowsTheScheduleOfTheDay) {
    ScopedTimeZone utc("UTC");
    const int64_t wednesday = 1784073600; // 2026-07-15 00:00 UTC
    const int64_t saturday = wednesday + 3 * 86400;
    struct Case {
        int64_t wall;
        bool cooling, occupied;
        double lowF, highF;
    } cases[] = {
        {wednesday + 6 * 3600 - 60, false, false, 60, 80},
        {wednesday + 6 * 3600, false, true, 68, 76},
        {wednesday + 8 * 3600, true, false, 60, 85},
        {wednesday + 18 * 3600, true, true, 73, 79},
        {saturday + 9 * 3600, true, true, 73, 79},
        {saturday + 22 * 3600 + 59 * 60, false, true, 68, 76},
    };
    for (const Case &c : cases) {
        sim::ComfortBounds b = sim::fixedComfortRange(c.wall, c.cooling);
        EXPECT_EQ(b.occupied, c.occupied) << c.wall;
        EXPECT_NEAR(b.low * 1.8 + 32.0, c.lowF, 1e-9) << c.wall;
        EXPECT_NEAR(b.high * 1.8 + 32.0, c.highF, 1e-9) << c.wall;
    }
}

TEST(UnitLink, RecordsGoWholeOrNotAtAll) {
    auto ring = std::make_unique<LockstepRing>();
    ring->head = 0;
    ring->tail = 0;
    // An empty record first: it has no buffer on either side.
    ASSERT_TRUE(sim::putLinkRecord(ring.get(), sim::LINK_DASHBOARD, nullptr, 0));
    ASSERT_TRUE(sim::putLinkRecord(ring.get(), sim::LINK_LINE, "key up", 6));
    std::vector<std::string> got;
    EXPECT_TRUE(sim::takeLinkRecords(ring.get(), [&got](uint8_t kind, const uint8_t *d, size_t n) {
        got.push_back(std::to_string(kind) + ":" + std::string(d, d + n));
    }));
    EXPECT_EQ(got, (std::vector<std::string>{"3:", "2:key up"}));
    std::vector<uint8_t> big(sim::LINK_RECORD_MAX + 1);
    EXPECT_FALSE(sim::putLinkRecord(ring.get(), sim::LINK_LINE, big.data(), big.size()));
    // A full ring takes no part of a record.
    big.resize(sim::LINK_RECORD_MAX);
    size_t put = 0;
    while (sim::putLinkRecord(ring.get(), sim::LINK_LINE, big.data(), big.size())) {
        put++;
    }
    EXPECT_EQ(put, LOCKSTEP_RING_BYTES / (big.size() + 3));
    EXPECT_EQ(lockstepRingUsed(ring.get()), put * (big.size() + 3));
    // Bytes that are not records are dropped, and said to be.
    lockstepRingDrop(ring.get());
    const uint8_t junk[] = {1, 0xFF, 0xFF, 7};
    lockstepRingPut(ring.get(), junk, sizeof(junk));
    EXPECT_FALSE(sim::takeLinkRecords(ring.get(), [](uint8_t, const uint8_t *, size_t) {}));
    EXPECT_EQ(lockstepRingUsed(ring.get()), 0u);
}

} // namespace
