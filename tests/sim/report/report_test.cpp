// The report of a run: the set points in force from the thermostat's record,
// comfort, equipment figures at their edges, the trace file and the picture.
#include "report/plot.h"
#include "report/report.h"

#include "board_root.h"
#include "config/factory_image.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "fixed.h"
#include "house/house.h"

#include "printed.h"
#include <SDL.h>
#include <SDL_image.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using sim::PeriodKind;
using sim::Report;
using sim::TraceRow;

constexpr int64_t START_MS = 1000000;
constexpr int64_t MINUTE_MS = 60000;

// A row at minute m of a run that began at START_MS.
TraceRow row(int minute, PeriodKind period, double heat, double cool, double indoor) {
    TraceRow r;
    r.minute = minute;
    r.uptimeMs = START_MS + minute * MINUTE_MS;
    r.wall = 1796601600 + minute * 60; // 2026-12-07 00:00 UTC, a Monday
    r.indoor = indoor;
    r.outdoor = 5.0;
    r.rh = 40.0;
    r.setpoints.valid = true;
    r.setpoints.period = period;
    r.setpoints.occupied = period == PeriodKind::Wake || period == PeriodKind::Return;
    r.setpoints.heat = heat;
    r.setpoints.cool = cool;
    r.setpoints.humidify = 35.0;
    r.setpoints.dehumidify = 55.0;
    r.controlled = sim::comfortBand(r.setpoints, HVAC_STATE_HEAT, &r.bandLow, &r.bandHigh);
    r.relays.fill('0');
    return r;
}

sim::ThermostatSetup setup() {
    sim::ThermostatSetup s;
    s.valid = true;
    s.cycleRate = 4;
    s.heatPump = true;
    s.balancePoint = -1.0;
    s.humidityHysteresis = 5.0;
    return s;
}

// Closings and openings of one relay at the given milliseconds after START_MS.
std::vector<RelayEvent> cycles(int relay, const std::vector<std::pair<int64_t, int64_t>> &onOff) {
    std::vector<RelayEvent> log;
    for (auto [on, off] : onOff) {
        log.push_back({START_MS + on, relay, 1});
        if (off >= 0) {
            log.push_back({START_MS + off, relay, 0});
        }
    }
    return log;
}

TEST(Report, ComfortOccupiedAndComfortStarts) {
    // Sleep for an hour in band, Wake (21/25.5) half an hour 1.5 C below its
    // band and then in it, Leave (17/29) an hour 0.5 C above its band.
    std::vector<TraceRow> rows;
    for (int m = 1; m <= 180; m++) {
        if (m <= 60) {
            rows.push_back(row(m, PeriodKind::Sleep, 17.0, 28.0, 17.0));
        } else if (m <= 120) {
            rows.push_back(row(m, PeriodKind::Wake, 21.0, 25.5, m <= 90 ? 19.0 : 21.0));
        } else {
            rows.push_back(row(m, PeriodKind::Leave, 17.0, 29.0, 30.0));
        }
    }
    Report r = sim::computeReport(rows, {}, setup(), {});
    EXPECT_DOUBLE_EQ(r.hours, 3.0);
    EXPECT_NEAR(r.occupied.hours, 1.0, 1e-9);
    EXPECT_NEAR(r.occupied.inBandShare, 0.5, 1e-9);
    EXPECT_NEAR(r.occupied.belowKh, 0.75, 1e-9);
    EXPECT_NEAR(r.occupied.worstBelow, 1.5, 1e-9);
    EXPECT_NEAR(r.occupied.aboveKh, 0.0, 1e-9);
    EXPECT_NEAR(r.all.hours, 3.0, 1e-9);
    EXPECT_NEAR(r.all.inBandShare, 0.5, 1e-9);
    EXPECT_NEAR(r.all.aboveKh, 0.5, 1e-9);
    ASSERT_EQ(r.comfortStarts.size(), 1u);
    EXPECT_EQ(r.comfortStarts[0].period, PeriodKind::Wake);
    EXPECT_DOUBLE_EQ(r.comfortStarts[0].startIndoor, 17.0);
    EXPECT_DOUBLE_EQ(r.comfortStarts[0].minutesToBand, 31.0);

    // Exactly on the band's edge is in it; a Return never reached; the
    // system off (no band) counts for nothing; a row after minutes a loaded
    // host stepped over stands for all of them.
    rows.clear();
    rows.push_back(row(1, PeriodKind::Leave, 17.0, 29.0, 16.5));
    rows.push_back(row(2, PeriodKind::Return, 21.0, 25.5, 20.4));
    rows.push_back(row(3, PeriodKind::Sleep, 17.0, 28.0, 29.0));
    rows.push_back(row(4, PeriodKind::Sleep, 17.0, 28.0, 10.0));
    rows.back().controlled = false;
    rows.push_back(row(6, PeriodKind::Sleep, 17.0, 28.0, 29.0));
    r = sim::computeReport(rows, {}, setup(), {});
    EXPECT_NEAR(r.all.hours, 5.0 / 60.0, 1e-9);
    EXPECT_NEAR(r.all.inBandShare, 1.0 / 5.0, 1e-9);
    EXPECT_NEAR(r.all.aboveKh, 0.5 * 3.0 / 60.0, 1e-9);
    ASSERT_EQ(r.comfortStarts.size(), 1u);
    EXPECT_EQ(r.comfortStarts[0].minutesToBand, -1.0);
    double low, high;
    EXPECT_FALSE(sim::comfortBand(rows[0].setpoints, HVAC_STATE_OFF, &low, &high));

    // The report speaks the thermostat's unit: degrees, differences and the
    // house's line in F on a Fahrenheit thermostat.
    r = sim::computeReport(rows, {}, setup(), {});
    sim::HouseParams house;
    house.outdoorMean = -10.0;
    std::string text = sim::formatReport(r, sim::houseSummary(house, {}, false));
    for (const char *part : {"heat set point - 0.9 F to cool set point + 0.9 F",
                             "heat 69.8 F cool 77.9 F, room 61.7 F", "above 0.04 F h (worst 0.9 F)",
                             "design heat load 7.5 kW at 5 F", "sine day 14.0 F +/- 9.0 F"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    }
    EXPECT_EQ(text.find(" C"), std::string::npos) << text;
}

TEST(Report, EquipmentStartsRuntimeAndOffTimes) {
    std::vector<TraceRow> rows;
    for (int m = 1; m <= 180; m++) {
        rows.push_back(row(m, PeriodKind::Wake, 21.0, 25.5, 21.0));
    }
    struct Case {
        std::vector<std::pair<int64_t, int64_t>> y1; // on, off (ms after start)
        unsigned mostInAnHour;
        double shortestOffS;
        bool violation;
    };
    const Case cases[] = {
        // Starts an hour apart fall in different hours; 300 s off is allowed.
        {{{0, 60000}, {360000, 900000}, {3600000, 3700000}}, 2, 300.0, false},
        {{{0, 60000}, {359999, 900000}, {3599999, 3700000}}, 3, 299.999, true},
    };
    for (const Case &c : cases) {
        std::vector<RelayEvent> log = cycles(1, c.y1);
        Report r = sim::computeReport(rows, log, setup(), {});
        const sim::StageFigures &y1 = r.stages[2];
        ASSERT_EQ(y1.relay, RELAY_Y1);
        EXPECT_EQ(y1.starts, 3u);
        EXPECT_EQ(y1.mostInAnHour, c.mostInAnHour);
        EXPECT_NEAR(y1.startsPerHour, 1.0, 1e-9);
        EXPECT_NEAR(r.shortestCompressorOffS, c.shortestOffS, 1e-9);
        EXPECT_EQ(!r.violations.empty(), c.violation);
    }
    // Every sequence pulses every relay; repeated open pulses and the reset
    // at start-up do not shorten an off time. Pulses are dated at the start
    // of their sequence (the O/B pulse), whatever held up the rest.
    std::vector<RelayEvent> pulses = {
        {START_MS, RELAY_Y1, 0},          {START_MS + 60000, RELAY_OB, 0},
        {START_MS + 73000, RELAY_Y1, 1},  {START_MS + 600000, RELAY_OB, 0},
        {START_MS + 600500, RELAY_Y1, 0}, {START_MS + 700000, RELAY_OB, 0},
        {START_MS + 700500, RELAY_Y1, 0}, {START_MS + 960000, RELAY_OB, 0},
        {START_MS + 972000, RELAY_Y1, 1},
    };
    Report p = sim::computeReport(rows, pulses, setup(), {});
    EXPECT_NEAR(p.shortestCompressorOffS, 360.0, 1e-9);
    EXPECT_NEAR(p.shortestCycleStartGapS, 900.0, 1e-9);

    // Equipment cycles join the stages; a stage still closed at the end runs
    // to the end of the run.
    std::vector<RelayEvent> log = cycles(RELAY_W1E, {{0, 600000}, {1200000, -1}});
    std::vector<RelayEvent> w2 = cycles(RELAY_W2, {{300000, 900000}});
    log.insert(log.end(), w2.begin(), w2.end());
    std::sort(log.begin(), log.end(),
              [](const RelayEvent &a, const RelayEvent &b) { return a.ms < b.ms; });
    Report r = sim::computeReport(rows, log, setup(), {});
    EXPECT_EQ(r.cycles, 2u);
    EXPECT_NEAR(r.shortestCycleStartGapS, 1200.0, 1e-9);
    EXPECT_NEAR(r.stages[0].runtimeHours, (600000 + 180 * MINUTE_MS - 1200000) / 3600000.0, 1e-9);
    EXPECT_EQ(r.shortestCompressorOffS, -1.0);

    // Without the relay log the report gives no figure from it and no verdict.
    sim::RunFigures unlogged;
    unlogged.relayLogError = "no relay log";
    std::string text = sim::formatReport(sim::computeReport(rows, {}, setup(), unlogged), "house");
    EXPECT_NE(text.find("  W1/E        ?         ?                ?          ?"), std::string::npos)
        << text;
    EXPECT_NE(text.find("relay check: not made: no relay log\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("violations"), std::string::npos) << text;
}

TEST(Report, AuxiliaryHeatAndHumidityAtTheirEdges) {
    std::vector<TraceRow> rows;
    const double outdoor[] = {-1.0, -0.99, 0.0};
    const double rh[] = {28.0, 27.9, 62.0, 62.1};
    for (int m = 1; m <= 4; m++) {
        rows.push_back(row(m, PeriodKind::Wake, 21.0, 25.5, 21.0));
        rows.back().outdoor = outdoor[std::min(m - 1, 2)];
        rows.back().rh = rh[m - 1];
        rows.back().onSeconds[RELAY_W1E] = 60.0;
        rows.back().energyKj[RELAY_W1E] = 360.0;
    }
    sim::ThermostatSetup both = setup();
    both.humidifier = both.dehumidifier = true;
    both.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
    Report r = sim::computeReport(rows, {}, both, {});
    // Above the balance point (-1.0 C) only: three of the four minutes.
    EXPECT_NEAR(r.auxAboveBalanceMinutes, 3.0, 1e-9);
    EXPECT_NEAR(r.auxAboveBalanceKwh, 0.3, 1e-9);
    // Humidify 35 % less the 5 % hysteresis and 2 % tolerance; dehumidify 55 % plus them.
    EXPECT_DOUBLE_EQ(r.humidityLow, 28.0);
    EXPECT_DOUBLE_EQ(r.humidityHigh, 62.0);
    EXPECT_NEAR(r.humidityBelowHours, 1.0 / 60.0, 1e-9);
    EXPECT_NEAR(r.humidityAboveHours, 1.0 / 60.0, 1e-9);
    std::string text = sim::formatReport(r, "test house");
    for (const char *part : {"auxiliary heat above the balance point (30.2 F): 3 min",
                             "thermostat: Two Stg Heat Pump (system type 5",
                             "below 28 % for 0.0 h, above 62 % for 0.0 h of 0.1 h"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    }
    // Only the equipment installed keeps its side of the band; without any
    // there is none.
    sim::ThermostatSetup humidifierOnly = both;
    humidifierOnly.dehumidifier = false;
    r = sim::computeReport(rows, {}, humidifierOnly, {});
    EXPECT_NEAR(r.humidityBelowHours, 1.0 / 60.0, 1e-9);
    EXPECT_EQ(r.humidityAboveHours, 0.0);
    r = sim::computeReport(rows, {}, setup(), {});
    EXPECT_EQ(r.humidityHours, 0.0);
    EXPECT_NE(sim::formatReport(r, "test house").find("humidity: not used"), std::string::npos);
    // No occupied minute: no figures for them.
    std::vector<TraceRow> asleep = {row(1, PeriodKind::Sleep, 17.0, 28.0, 18.0)};
    EXPECT_NE(sim::formatReport(sim::computeReport(asleep, {}, setup(), {}), "h")
                  .find("  occupied  none\n"),
              std::string::npos);
    // Starts per hour only over an hour at least: 59 minutes give counts alone.
    for (int minutes : {59, 60}) {
        std::vector<TraceRow> span;
        for (int m = 1; m <= minutes; m++) {
            span.push_back(row(m, PeriodKind::Wake, 21.0, 25.5, 21.0));
        }
        std::string figures =
            sim::formatReport(sim::computeReport(span, {}, setup(), {}), "test house");
        EXPECT_NE(
            figures.find(minutes < 60 ? "  W1/E        0         -" : "  W1/E        0      0.00"),
            std::string::npos)
            << figures;
    }
}

TEST(Report, TraceFileRoundTrip) {
    std::vector<TraceRow> rows = {row(1, PeriodKind::Sleep, 16.67, 28.5, 17.25),
                                  row(2, PeriodKind::Wake, 21.11, 25.56, 18.5)};
    rows[1].relays = {'0', '0', '0', '1', '0', '0', '0', '1', '0', '0'};
    rows[1].energyKj[RELAY_W1E] = 510.0;
    rows[1].inForceKnown = true;
    rows[1].heatInForce = 21.67;
    rows[0].controlled = false;
    rows[0].setpoints.valid = false;
    std::ostringstream out;
    sim::writeTrace(out, rows);
    EXPECT_NE(out.str().find(",Wake,1,"), std::string::npos) << out.str();
    std::istringstream in(out.str());
    std::vector<TraceRow> back;
    std::string error;
    ASSERT_TRUE(sim::readTrace(in, &back, &error)) << error;
    ASSERT_EQ(back.size(), 2u);
    EXPECT_FALSE(back[0].controlled);
    EXPECT_FALSE(back[0].setpoints.valid);
    EXPECT_EQ(back[1].wall, rows[1].wall);
    EXPECT_EQ(back[1].setpoints.period, PeriodKind::Wake);
    EXPECT_NEAR(back[1].bandLow, 20.61, 1e-9);
    EXPECT_EQ(back[1].relays, rows[1].relays);
    EXPECT_DOUBLE_EQ(back[1].energyKj[RELAY_W1E], 510.0);
    EXPECT_FALSE(back[0].inForceKnown);
    EXPECT_DOUBLE_EQ(back[1].heatInForce, 21.67);
    // A cut line, a bad time or an unknown period is refused with its number.
    const std::string text = out.str();
    const size_t third = text.find('\n', text.find('\n') + 1) + 1;
    std::string damaged[] = {text.substr(0, text.size() - 10), text, text};
    damaged[1][third] = 'x';
    damaged[2].replace(damaged[2].find(",Wake,"), 6, ",Wak,");
    for (const std::string &d : damaged) {
        std::istringstream bad(d);
        EXPECT_FALSE(sim::readTrace(bad, &back, &error));
        EXPECT_EQ(error.rfind("trace line 3:", 0), 0u) << error;
    }
}

TEST(Report, SetpointsInForceFromTheThermostatsRecord) {
    ScopedTimeZone utc("UTC0");
    TempBoardRoot root;
    // A two-stage heat pump in Celsius: on weekdays Wake 06:00 21/26, Leave
    // 08:00, Return 18:00 21/26, on Sunday Sleep from 23:00 17/28.
    FactoryOptions options{.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP,
                           .tempScale = TEMP_SCALE_CELSIUS};
    TstatSysCfgPersistMem_t record;
    buildFactoryImage(options, &record);
    root.write("/dev/mtdblock4", bytesOf(record));
    root.write("/dev/mtdblock5", "");
    root.write("/dev/mtdblock8", "");
    sim::SetpointSource source;
    // Loaded quietly, and again when the factory record alone changes.
    FactoryOptions one = options;
    one.systemType = SYSTEM_TYPE_ONE_STG_HEAT_PUMP;
    TstatSysCfgPersistMem_t other;
    buildFactoryImage(one, &other);
    root.write("/dev/mtdblock4", bytesOf(other));
    std::string printed;
    ASSERT_TRUE(printedBy([&] { return source.refresh(); }, &printed));
    EXPECT_EQ(printed, "");
    EXPECT_EQ(source.setup().stages, 1);
    root.write("/dev/mtdblock4", bytesOf(record));
    ASSERT_TRUE(source.refresh());
    EXPECT_TRUE(source.setup().heatPump);
    EXPECT_EQ(source.setup().stages, 2);
    const int64_t monday = 1796601600; // 2026-12-07 00:00 UTC
    const struct {
        int64_t at;
        PeriodKind period;
        double heat, cool;
        bool occupied;
    } cases[] = {
        {monday + 5 * 3600, PeriodKind::Sleep, 17.0, 28.0, false},
        {monday + 6 * 3600 - 1, PeriodKind::Sleep, 17.0, 28.0, false},
        {monday + 6 * 3600, PeriodKind::Wake, 21.0, 26.0, true},
        {monday + 18 * 3600, PeriodKind::Return, 21.0, 26.0, true},
    };
    for (const auto &c : cases) {
        sim::SetpointsInForce sp = source.at(c.at);
        ASSERT_TRUE(sp.valid);
        EXPECT_EQ(sp.period, c.period) << c.at;
        EXPECT_DOUBLE_EQ(sp.heat, c.heat) << c.at;
        EXPECT_DOUBLE_EQ(sp.cool, c.cool) << c.at;
        EXPECT_EQ(sp.occupied, c.occupied) << c.at;
    }
    // The thermostat saves a hold until 08:00: the user record wins, and
    // once the hold has ended the program is back.
    record.tstatSysCfgId = TSTAT_SYS_CFG_USER_ID;
    record.tstatMode.mode = TSTAT_MODE_HOLD;
    record.tstatMode.holdSetPoint.heatSetPoint = fx(19.5);
    record.tstatMode.holdSetPoint.endTime = monday + 8 * 3600;
    root.write("/dev/mtdblock5", bytesOf(record));
    ASSERT_TRUE(source.refresh());
    sim::SetpointsInForce hold = source.at(monday + 8 * 3600 - 1);
    EXPECT_EQ(hold.period, PeriodKind::Hold);
    EXPECT_DOUBLE_EQ(hold.heat, 19.5);
    EXPECT_EQ(source.at(monday + 8 * 3600).period, PeriodKind::Leave);
    PersistUtil_Reset();
    scheduleReset();
}

TEST(Report, PlotOfARun) {
    TempBoardRoot root;
    std::vector<TraceRow> rows;
    for (int m = 1; m <= 120; m++) {
        rows.push_back(row(m, m < 60 ? PeriodKind::Sleep : PeriodKind::Wake, m < 60 ? 17.0 : 21.0,
                           25.5, 18.0 + m / 40.0));
    }
    std::vector<RelayEvent> log = cycles(RELAY_W1E, {{0, 600000}, {1800000, -1}});
    Report report = sim::computeReport(rows, log, setup(), {});
    std::string path = root.file("/day.png");
    std::string error;
    const std::string fonts = TSTAT_BUILD_DIR "/data/fonts";
    ASSERT_TRUE(sim::plotRun(path, fonts, rows, log, report, "title", "detail", &error)) << error;
    std::string png = root.read("/day.png");
    EXPECT_EQ(png.substr(1, 3), "PNG");

    // A period's name covers no line: Leave's cool set point (85.1 F), at
    // the top of the room's panel, runs unbroken but for its dashes.
    for (int m = 121; m <= 300; m++) {
        rows.push_back(row(m, PeriodKind::Leave, 17.0, 29.5, 20.0));
    }
    // The heat pump's Y1 from the start to minute 120, O/B closed from minute 60.
    for (const RelayEvent &e : cycles(RELAY_Y1, {{0, 120 * MINUTE_MS}})) {
        log.push_back(e);
    }
    log.push_back({START_MS + 60 * MINUTE_MS, RELAY_OB, 1});
    std::stable_sort(log.begin(), log.end(),
                     [](const RelayEvent &a, const RelayEvent &b) { return a.ms < b.ms; });
    report = sim::computeReport(rows, log, setup(), {});
    ASSERT_TRUE(sim::plotRun(path, fonts, rows, log, report, "title", "detail", &error)) << error;
    SDL_Surface *image = IMG_Load(path.c_str());
    ASSERT_NE(image, nullptr);
    SDL_Surface *pixels =
        SDL_CreateRGBSurface(SDL_SWSURFACE, image->w, image->h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    SDL_BlitSurface(image, nullptr, pixels, nullptr);
    auto pixel = [&](int x, int y) {
        return static_cast<uint32_t *>(pixels->pixels)[y * pixels->pitch / 4 + x] & 0xFFFFFF;
    };
    auto cool = [&](int x, int y) {
        uint32_t p = pixel(x, y);
        int r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, b = p & 0xFF;
        return b > 180 && r < 120 && g < 170;
    };
    // Y1's bar (the third, its middle 832 pixels down) heats at minute 30
    // and cools at minute 90 of the 300 from x 78 to 1256.
    EXPECT_EQ(pixel(78 + 1178 * 30 / 300, 832), palette::HEAT);
    EXPECT_EQ(pixel(78 + 1178 * 90 / 300, 832), palette::COOL);
    // The row with the most of it in the right half of the room's panel
    // (the top 460 pixels; the humidity's line below is blue as well).
    int lineY = 0, most = 0;
    for (int y = 0; y < 460; y++) {
        int n = 0;
        for (int x = pixels->w / 2; x < pixels->w; x++) {
            n += cool(x, y) ? 1 : 0;
        }
        if (n > most) {
            most = n;
            lineY = y;
        }
    }
    int first = -1, last = -1, longestGap = 0;
    for (int x = pixels->w / 2; x < pixels->w; x++) {
        if (cool(x, lineY) || cool(x, lineY - 1) || cool(x, lineY + 1)) {
            longestGap = first < 0 ? 0 : std::max(longestGap, x - last - 1);
            first = first < 0 ? x : first;
            last = x;
        }
    }
    EXPECT_GT(last - first, 300);
    EXPECT_LT(longestGap, 8) << "at y " << lineY;
    SDL_FreeSurface(pixels);
    SDL_FreeSurface(image);
    rows.resize(1);
    EXPECT_FALSE(sim::plotRun(path, fonts, rows, log, report, "title", "detail", &error));
}

} // namespace
