// A small building run whole (tests/sim/building/small.txt): three units on
// one bus through an afternoon with a demand-response event, run again
// without it; the bus's reports of an address no unit holds and of one two
// units hold; the event's figures; a unit whose application ends, named,
// the building going on; a byte-identical rerun; and a building file
// refused before any unit starts.
#include "board_root.h"
#include "run_tool.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

namespace {

// small.txt with its weather file found from anywhere.
std::string buildingFile(const TempBoardRoot &dir) {
    std::string text = readFile(TSTAT_SOURCE_DIR "/tests/sim/building/small.txt");
    std::string weather = "sim/weather/";
    text.replace(text.find(weather), weather.size(), TSTAT_SOURCE_DIR "/sim/weather/");
    dir.write("/small.txt", text);
    return dir.file("/small.txt");
}

ToolResult runBuilding(const TempBoardRoot &dir, const std::string &out) {
    return runTool(TSTAT_SIM_BINARY,
                   {"building", buildingFile(dir), "--out", dir.file(out), "--script",
                    TSTAT_SOURCE_DIR "/tests/sim/building/small-script.txt"});
}

TEST(BuildingRun, CarriesAnEventOverTheBusAndGivesTheBuildingsFigures) {
    TempBoardRoot dir;
    ToolResult r = runBuilding(dir, "/a");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    for (const char *line :
         {"13:10:00 bus: no unit holds address 40: the frame went unanswered",
          "13:10:01 bus: address 1 is held by north and east",
          "bus: address 1 is held by north and east: each of them took",
          "13:10:03 bus: unit east now answers to address 2 (it had 1)", "  took it: 3 of 3\n"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
    nlohmann::json j = nlohmann::json::parse(readFile(dir.file("/a/building.json")));
    const nlohmann::json &e = j["events"][0];
    EXPECT_EQ(e["units"], 3);
    EXPECT_TRUE(e["not_taken"].empty());
    // Cooling held off during the event and caught up after it.
    EXPECT_LT(e["peak_during_kw"][0].get<double>(), e["peak_during_kw"][1].get<double>());
    EXPECT_GT(e["shifted_kwh"].get<double>(), 0.5);
    EXPECT_GT(e["energy_rebound_kwh"][0].get<double>(), e["energy_rebound_kwh"][1].get<double>());
    EXPECT_EQ(j["zones"][0]["failure"], "");
    EXPECT_EQ(j["zones"][2]["failure"].get<std::string>().rfind("the application ended", 0), 0u)
        << j["zones"][2];
    EXPECT_NE(r.out.find("building: unit south (address 3) the application ended with status"),
              std::string::npos);
    ToolResult again = runBuilding(dir, "/b");
    ASSERT_EQ(again.status, 0) << again.out;
    for (const char *file : {"/building.txt", "/building.json", "/demand.csv",
                             "/units/east/sim/trace.csv", "/without/units/south/sim/relay-log"}) {
        EXPECT_EQ(readFile(dir.file(std::string("/a") + file)),
                  readFile(dir.file(std::string("/b") + file)))
            << file;
    }
}

TEST(BuildingRun, AStudyRunsABuildingWithItsOwnEvent) {
    TempBoardRoot dir;
    dir.write("/study.json", R"({"buildings": [{"name": "short-event", "file": ")" +
                                 buildingFile(dir) +
                                 R"(", "hours": 2, "events": ["14:00 cool 3F for 30m"]}]})");
    ToolResult r =
        runTool(TSTAT_SIM_BINARY, {"study", dir.file("/study.json"), "--out", dir.file("/study")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("| short-event | 3 | 3 | "), std::string::npos) << r.out;
    std::string report = readFile(dir.file("/study/buildings/short-event/building.txt"));
    EXPECT_NE(report.find("cool set points up 3.0 F (1.7 C) from 14:00 for 0 h 30 min"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("2.0 hours"), std::string::npos) << report;
}

TEST(BuildingRun, RefusesABadBuildingBeforeAnyUnitStarts) {
    TempBoardRoot dir;
    dir.write("/bad.txt", "zone a address=3\nzone b address=3\n");
    ToolResult r =
        runTool(TSTAT_SIM_BINARY, {"building", dir.file("/bad.txt"), "--out", dir.file("/out")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("bad.txt:2: zone b has address 3, which zone a (line 1) has"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("/out/units")));
}

} // namespace
