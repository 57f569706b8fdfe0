// Control-bus channels and levels: dumps and change detection, the mutually
// exclusive groups, emergency heat on equipment without it, setpoint and
// humidity steps, level writes and the value encodings.
#include "bus_fixture.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "coproc_frame.h"
#include "korabus/korabus_data.h"
#include "korabus/korabus_internal.h"
#include "pages/button_lockout_menu.h"
#include "platform/platform.h"

#include <cstring>
#include <functional>
#include <set>
#include <tuple>

namespace {

void busStatus(uint8_t online, uint8_t levels) {
    std::vector<uint8_t> frame = coprocFrameOf(COPROC_PKT_BUS_STATUS, {online, 0, levels});
    coprocMsgProcess(frame.data(), static_cast<uint16_t>(frame.size()));
}

const std::set<int> c_OutgoingChannels = {209, 210, 211, 212, 214, 215, 216, 219, 220, 221, 222,
                                          223, 224, 225, 227, 228, 229, 230, 231, 232, 233, 160,
                                          240, 241, 242, 243, 244, 245, 246, 247, 248, 249, 250};

using ChannelMap = std::map<int, int>;

TEST_F(BusTest, PollSendsChangesAndTheEdgesDumpEverything) {
    // The first poll sends what is not 0, and the relay channels once
    // whatever their state; no indoor levels before the first readings.
    korabusDataPoll();
    Sent first = sent();
    for (int relay = 240; relay <= 250; relay++) {
        EXPECT_EQ(first.channelCount[relay], 1) << relay;
    }
    EXPECT_EQ(first.channels[241], 1); // B: the reversing valve is not energised
    EXPECT_EQ(first.channels[211], 1);
    EXPECT_EQ(first.channels.count(212), 0u);
    EXPECT_EQ(first.levels, (ChannelMap{{3, 190}, {4, 198}}));
    // Nor in the dump when the bus turns its levels on before them.
    busStatus(1, 1);
    korabusDataPoll();
    EXPECT_EQ(sent().levels, (ChannelMap{{3, 190}, {4, 198}}));
    busStatus(0, 0);
    setMovAvgIndTemp(fx(21));
    setMovAvgHum(fx(40));
    korabusDataPoll();
    EXPECT_EQ(sent().levels, (ChannelMap{{1, 190}, {2, 40}}));
    // Nothing changed: nothing is sent.
    korabusDataPoll();
    Sent quiet = sent();
    EXPECT_TRUE(quiet.channels.empty());
    EXPECT_TRUE(quiet.levels.empty());

    // The bus comes online: every outgoing channel once, each followed by the
    // 60 ms pause on the (fake) platform clock.
    busStatus(1, 0);
    int64_t before = platformUptimeMs();
    korabusDataPoll();
    EXPECT_EQ(platformUptimeMs() - before, 33 * 60);
    Sent dump = sent();
    std::set<int> dumped;
    for (const auto &[channel, count] : dump.channelCount) {
        dumped.insert(channel);
        EXPECT_EQ(count, 1) << channel;
    }
    EXPECT_EQ(dumped, c_OutgoingChannels);
    EXPECT_TRUE(dump.levels.empty());
    EXPECT_EQ(dump.channels[221], 1);
    EXPECT_EQ(dump.channels[220], 0);
    EXPECT_EQ(dump.channels[231], 1);
    // Still online: no second dump. Levels enabled: every level once.
    busStatus(1, 0);
    korabusDataPoll();
    EXPECT_TRUE(sent().channels.empty());
    busStatus(1, 1);
    korabusDataPoll();
    Sent levels = sent();
    EXPECT_EQ(levels.levels, (ChannelMap{{1, 190}, {2, 40}, {3, 190}, {4, 198}}));
    EXPECT_TRUE(levels.channels.empty());
    // A change is sent on the next poll.
    setMovAvgIndTemp(fx(22));
    korabusDataPoll();
    EXPECT_EQ(sent().levels, (ChannelMap{{1, 192}}));
}

TEST_F(BusTest, GroupWritesKeepOneMemberOn) {
    struct Case {
        int channel;
        std::function<uint32_t(const TstatSysCfgPersistMem_t &)> field;
        uint32_t want;
        int previouslyOn;
    };
    const Case cases[] = {
        {209, [](auto &r) { return +r.hvacSettings.fanSpeed; }, FAN_SPEED_LOW, 211},
        {210, [](auto &r) { return +r.hvacSettings.fanSpeed; }, FAN_SPEED_MEDIUM, 209},
        {214, [](auto &r) { return +r.hvacSettings.fanState; }, FAN_STATE_ON, 215},
        {220, [](auto &r) { return +r.hvacSettings.hvacState; }, HVAC_STATE_COOL, 221},
        {219, [](auto &r) { return +r.hvacSettings.hvacState; }, HVAC_STATE_AUTO, 220},
        {222, [](auto &r) { return +r.hvacSettings.hvacState; }, HVAC_STATE_OFF, 219},
        {229, [](auto &r) { return +r.humidifyState; }, HUMIDIFY_STATE_DEHUMIDIFY, 231},
        {228, [](auto &r) { return +r.humidifyState; }, HUMIDIFY_STATE_AUTO, 229},
    };
    korabusDataPoll();
    sent();
    for (const Case &c : cases) {
        korabusDataUpdateChannelFromKorabus(static_cast<uint8_t>(c.channel), 1);
        EXPECT_EQ(c.field(image()), c.want) << c.channel;
        EXPECT_EQ(c.field(saved()), c.want) << c.channel;
        korabusDataPoll();
        // The member written is ON already (it came from the bus); the one
        // that was ON goes OFF.
        EXPECT_EQ(sent().channels, (ChannelMap{{c.previouslyOn, 0}})) << c.channel;
    }
    EXPECT_EQ(refreshRequests(), (std::vector<int>{7}));

    // Released from the bus: nothing changes and the member is sent ON again.
    korabusDataUpdateChannelFromKorabus(210, 0);
    EXPECT_EQ(+image().hvacSettings.fanSpeed, FAN_SPEED_MEDIUM);
    korabusDataPoll();
    EXPECT_EQ(sent().channels, (ChannelMap{{210, 1}}));

    // Unknown and outgoing-only channels change nothing.
    const std::string before = bytesOf(image());
    for (uint8_t channel : {0, 99, 142, 160, 216, 224, 240, 255}) {
        korabusDataUpdateChannelFromKorabus(channel, 1);
    }
    EXPECT_EQ(bytesOf(image()), before);
    korabusDataPoll();
    EXPECT_TRUE(sent().channels.empty());
}

TEST_F(BusTest, EmergencyHeatIsRefusedWithTheRealStatesOnAFurnace) {
    korabusDataPoll();
    sent();
    korabusDataUpdateChannelFromKorabus(223, 1);
    EXPECT_EQ(+image().hvacSettings.hvacState, HVAC_STATE_HEAT);
    korabusDataPoll();
    EXPECT_EQ(sent().channels, (ChannelMap{{221, 1}, {223, 0}}));
    korabusDataPoll();
    EXPECT_TRUE(sent().channels.empty());
    // Asked for right after another mode, before a poll: that mode is sent ON again.
    korabusDataUpdateChannelFromKorabus(220, 1);
    korabusDataUpdateChannelFromKorabus(223, 1);
    korabusDataPoll();
    EXPECT_EQ(sent().channels, (ChannelMap{{220, 1}, {221, 0}, {223, 0}}));

    // A heat pump has emergency heat.
    FactoryOptions heatPump{.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP};
    boot(heatPump);
    korabusDataPoll();
    sent();
    korabusDataUpdateChannelFromKorabus(223, 1);
    EXPECT_EQ(+image().hvacSettings.hvacState, HVAC_STATE_EMERGENCY_HEAT);
    EXPECT_EQ(+saved().hvacSettings.hvacState, HVAC_STATE_EMERGENCY_HEAT);
    korabusDataPoll();
    EXPECT_EQ(sent().channels, (ChannelMap{{221, 0}}));
}

TEST_F(BusTest, LevelWritesLandInCelsiusAndAreSaved) {
    korabusDataPoll();
    sent();
    // 190 = 70 °F: the hold heat setpoint in °C, the thermostat on hold, saved.
    korabusDataUpdateLevelFromKorabus(3, 190);
    EXPECT_NEAR(dbl(image().tstatMode.holdSetPoint.heatSetPoint), 21.111, 0.001);
    EXPECT_NEAR(dbl(saved().tstatMode.holdSetPoint.heatSetPoint), 21.111, 0.001);
    EXPECT_EQ(+saved().tstatMode.mode, TSTAT_MODE_HOLD);
    EXPECT_EQ(replies(), (std::vector<std::string>{"MD MH H70 C78 "}));
    EXPECT_EQ(refreshRequests(), (std::vector<int>{4}));
    // A cool setpoint too close to the heat setpoint pushes it down by the
    // deadband, and the next poll tells the bus.
    korabusDataUpdateLevelFromKorabus(4, 120 + 60);
    korabusDataPoll();
    EXPECT_EQ(sent().levels, (ChannelMap{{3, 120 + 57}}));
    // The store holds a setpoint within the limits (45 to 90 F) and pushes
    // the other; a heat setpoint below them is raised when read.
    for (auto [level, value, heat, cool] : {std::tuple{3, 120 + 91, 90.0, 90.0},
                                            {3, 120 + 90, 90.0, 93.0},
                                            {4, 120 + 44, 45.0, 45.0},
                                            {4, 120 + 45, 45.0, 48.0},
                                            {3, 255, 90.0, 90.0},
                                            {4, 0, 45.0, 45.0}}) {
        busCommand("MD MH H70 C78");
        korabusDataUpdateLevelFromKorabus(static_cast<uint8_t>(level),
                                          static_cast<uint32_t>(value));
        TstatSetPoint_t hold = valueOf(getHoldThermostatSettings);
        EXPECT_NEAR(dbl(hold.heatSetPoint) * 9 / 5 + 32, heat, 0.01) << level << " " << value;
        EXPECT_NEAR(dbl(hold.coolSetPoint) * 9 / 5 + 32, cool, 0.01) << level << " " << value;
    }

    // Outdoor, pressure and today's forecast go to the forecast store, which
    // keeps the rest.
    edit(getCurrentForecast, setCurrentForecast, [](auto &f) { f.relativeHumidity = fx(45); });
    korabusDataUpdateLevelFromKorabus(5, 100);
    korabusDataUpdateLevelFromKorabus(6, 30);
    korabusDataUpdateLevelFromKorabus(7, 155);
    korabusDataUpdateLevelFromKorabus(8, 120);
    EXPECT_TRUE(forecastReceived(FORECAST_OUTDOOR | FORECAST_PRESSURE | forecastDayHigh(0) |
                                 forecastDayLow(0)));
    EXPECT_FALSE(forecastReceived(forecastDayHigh(1)));
    TstatCurrentForecast_t current = valueOf(getCurrentForecast);
    EXPECT_NEAR(dbl(current.outdoorTemp), -28.889, 0.001);
    EXPECT_NEAR(dbl(current.barometricPressure), 76.2, 0.002);
    EXPECT_EQ(+current.relativeHumidity, fx(45));
    TstatFiveDayForecast_t five = valueOf(getFiveDayForecast);
    EXPECT_NEAR(dbl(five.highTemp[0]), 1.667, 0.001);
    EXPECT_NEAR(dbl(five.lowTemp[0]), -17.778, 0.001);
    // Outgoing-only and unknown levels change nothing.
    const std::string before = bytesOf(image());
    for (uint8_t level : {0, 1, 2, 9, 255}) {
        korabusDataUpdateLevelFromKorabus(level, 200);
    }
    EXPECT_EQ(bytesOf(image()), before);
}

TEST_F(BusTest, ValueEncodings) {
    struct Case {
        TempScale scale;
        double celsius;
        int byte;
    };
    const Case temps[] = {
        {TEMP_SCALE_CELSIUS, 25.0, 145},   {TEMP_SCALE_FAHRENHEIT, 25.0, 197},
        {TEMP_SCALE_CELSIUS, 20.6, 141},   {TEMP_SCALE_CELSIUS, -0.6, 119},
        {TEMP_SCALE_CELSIUS, 20.4, 140},   {TEMP_SCALE_CELSIUS, 135.0, 255},
        {TEMP_SCALE_CELSIUS, 135.6, 255},  {TEMP_SCALE_FAHRENHEIT, 60.0, 255},
        {TEMP_SCALE_FAHRENHEIT, -90.0, 0}, {TEMP_SCALE_CELSIUS, -120.0, 0},
    };
    for (const Case &c : temps) {
        setScale(c.scale);
        EXPECT_EQ(korabusTempFromDegreesCelsius(fx(c.celsius)), c.byte) << c.celsius;
    }
    // In Celsius (the last case's scale) the bus's values are taken as they
    // are; the Fahrenheit conversions are the level writes' and the forecast
    // commands'.
    EXPECT_NEAR(dbl(korabusTempToDegreesCelsius(190)), 70.0, 0.0001);
    EXPECT_NEAR(dbl(korabusPressureToCentimeters(30)), 30.0, 0.0001);
    EXPECT_NEAR(dbl(stringPressureToFprCentimeters("30.12")), 30.12, 0.0002);
    EXPECT_NEAR(dbl(stringPressureToFprCentimeters("29.123456789")), 29.12345678, 0.0002);
    EXPECT_NEAR(dbl(stringPressureToFprCentimeters("-0.5")), -0.5, 0.0002);
    EXPECT_NEAR(dbl(stringPressureToFprCentimeters(" +1.5")), 1.5, 0.0002);
    EXPECT_EQ(stringPressureToFprCentimeters("x"), 0);
    EXPECT_EQ(stringPressureToFprCentimeters(nullptr), 0);
    EXPECT_EQ(korabusHumidityFromRelativeHumidity(fx(45.6)), 46);
    EXPECT_EQ(korabusHumidityFromRelativeHumidity(fx(45.4)), 45);
    EXPECT_EQ(korabusHumidityFromRelativeHumidity(fx(101)), 100);
    EXPECT_EQ(korabusHumidityFromRelativeHumidity(fx(-1)), 0);

    // The indoor level subtracts the offset unless that leaves the shown range
    // of the scale in use (the scale just switched, as a store load leaves it).
    const struct {
        TempScale scale;
        double offset, indoor;
        int level;
    } indoor[] = {
        {TEMP_SCALE_FAHRENHEIT, 2, 21, 120 + 68},     // 69.8 °F
        {TEMP_SCALE_FAHRENHEIT, -1, 37.6, 120 + 100}, // 99.7 °F; corrected 100.7 is off the page
        {TEMP_SCALE_CELSIUS, 2, 21, 120 + 19},
    };
    for (const auto &c : indoor) {
        setScale(c.scale);
        TstatCfg_t cfg = valueOf(getTstatConfiguration);
        cfg.tempOffset = fx(c.offset);
        setTstatConfiguration(&cfg);
        setMovAvgIndTemp(fx(c.indoor));
        const int64_t before = platformUptimeMs();
        korabusDataPollLevels();
        const Sent out = sent();
        // Each level sent is followed by the bus's pause.
        EXPECT_EQ(platformUptimeMs() - before,
                  static_cast<int64_t>(KORABUS_SEND_PAUSE_MS * out.levels.size()));
        EXPECT_EQ(out.levels.at(1), c.level) << c.indoor;
    }
}

TEST_F(BusTest, SetpointAndHumiditySteps) {
    struct Case {
        ThermostatMode mode;
        double holdHeatF;
        int channel;
        double wantHeatF;
        double wantCoolF;
        ThermostatMode wantMode;
        TempScale scale = TEMP_SCALE_FAHRENHEIT;
    };
    // The program has 70/78 °F in force on Monday at 07:00.
    const Case cases[] = {
        {TSTAT_MODE_PROGRAM, 0, 143, 71, 78, TSTAT_MODE_HOLD},
        {TSTAT_MODE_PROGRAM, 0, 144, 69, 78, TSTAT_MODE_HOLD},
        {TSTAT_MODE_PROGRAM, 0, 140, 70, 79, TSTAT_MODE_HOLD},
        {TSTAT_MODE_PROGRAM, 0, 141, 70, 77, TSTAT_MODE_HOLD},
        {TSTAT_MODE_PERMANENT_HOLD, 90, 143, 90, 93, TSTAT_MODE_PERMANENT_HOLD},
        // At 32 °C, the top of the Celsius limits (the scale just switched).
        {TSTAT_MODE_PERMANENT_HOLD, 89.6, 143, 89.6, 92.3, TSTAT_MODE_PERMANENT_HOLD,
         TEMP_SCALE_CELSIUS},
    };
    auto f = [](fpr_t c) { return dbl(c) * 9 / 5 + 32; };
    for (const Case &c : cases) {
        boot(FactoryOptions{});
        setScale(c.scale);
        if (c.mode != TSTAT_MODE_PROGRAM) {
            edit(getHoldThermostatSettings, setHoldThermostatSettings,
                 [&](auto &hold) { hold.heatSetPoint = fx((c.holdHeatF - 32) * 5 / 9); });
            setThermostatMode(c.mode);
        }
        korabusDataUpdateChannelFromKorabus(static_cast<uint8_t>(c.channel), 1);
        TstatSysCfgPersistMem_t r = saved();
        EXPECT_NEAR(f(r.tstatMode.holdSetPoint.heatSetPoint), c.wantHeatF, 0.01) << c.channel;
        EXPECT_NEAR(f(r.tstatMode.holdSetPoint.coolSetPoint), c.wantCoolF, 0.01) << c.channel;
        EXPECT_EQ(+r.tstatMode.mode, c.wantMode) << c.channel;
    }

    // Humidity steps reach all 28 periods and are saved; a released channel does nothing.
    boot(FactoryOptions{});
    korabusDataUpdateChannelFromKorabus(148, 0);
    korabusDataUpdateChannelFromKorabus(148, 1);
    korabusDataUpdateChannelFromKorabus(151, 1);
    TstatSysCfgPersistMem_t r = saved();
    for (const auto &day : r.prgSetPnt) {
        for (const auto &period : day.period) {
            EXPECT_EQ(+period.humidifySetPoint, fx(36));
            EXPECT_EQ(+period.dehumidifySetPoint, fx(54));
        }
    }
    EXPECT_EQ(+r.tstatMode.mode, TSTAT_MODE_PROGRAM);
    EXPECT_EQ(refreshRequests(), (std::vector<int>{5}));

    // Past 100 % a step wraps round to 0 and below 0 % to 100 %, values the
    // store refuses (humidify at most 95 %, dehumidify at least 5 %): a step
    // at either end leaves the set point there.
    korabusIncDecHumiditySetpoint(fx(1), fx(99));
    const struct {
        int channel;
        double humidify, dehumidify;
    } ends[] = {{150, 1, 100}, {150, 1, 100}, {149, 0, 100}, {149, 0, 100}};
    for (const auto &e : ends) {
        korabusDataUpdateChannelFromKorabus(static_cast<uint8_t>(e.channel), 1);
        TstatSetPoint_t period = saved().prgSetPnt[1].period[0];
        EXPECT_EQ(+period.humidifySetPoint, fx(e.humidify)) << e.channel;
        EXPECT_EQ(+period.dehumidifySetPoint, fx(e.dehumidify)) << e.channel;
    }
}

TEST_F(BusTest, LockoutAlertAndFilterChannelsAndPendingRefreshes) {
    korabusDataPoll();
    sent();
    // The lockout switch keeps the other lockout settings, and the lockout
    // page shows it.
    edit(getLockoutConfiguration, setLockoutConfiguration, [](auto &l) {
        l.tempLockTimeLimit = 25;
        l.tempLockRangeLimit = 3;
    });
    TstatLockoutCfg_t want = image().lockoutCfg;
    want.buttonLockout = LOCK_LOCKED;
    korabusDataUpdateChannelFromKorabus(212, 1);
    EXPECT_EQ(bytesOf(saved().lockoutCfg), bytesOf(want));
    EXPECT_EQ(refreshRequests(), (std::vector<int>{14}));
    // A later write for another page keeps the lockout page's request.
    korabusDataUpdateLevelFromKorabus(3, 188);
    EXPECT_EQ(refreshRequests(), (std::vector<int>{4, 14}));
    korabusDataUpdateChannelFromKorabus(212, 0);
    EXPECT_EQ(+saved().lockoutCfg.buttonLockout, LOCK_UNLOCKED);
    EXPECT_EQ(g_ButtonLockoutMenu[LOCKOUT_BUTTON_LOCKOUT].value, 1);

    // Weather alert ON is an active alert (state 0).
    korabusDataUpdateChannelFromKorabus(139, 1);
    EXPECT_EQ(getWeatherAlertState(), 0u);
    korabusDataUpdateChannelFromKorabus(139, 0);
    EXPECT_EQ(getWeatherAlertState(), 1u);

    // The filter channel goes ON when the reminder falls due.
    korabusDataPoll();
    sent();
    setTstatFilterChangeDays(0);
    korabusDataPoll();
    EXPECT_EQ(sent().channels, (ChannelMap{{160, 1}}));
}

} // namespace
