// Control-bus command strings: every command family with its replies and
// stored results, reports, malformed and over-long commands (the tokeniser and
// its numbers through them, and under the sanitizers in fuzz_korabus_command),
// and the allocation-free command and dump paths.
#include "bus_fixture.h"

#include "alloc_counter.h"
#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/schedule.h"
#include "coproc/download.h"
#include "coproc_frame.h"
#include "dispman/display_manager.h"
#include "graphics/screen.h"
#include "graphics/screen_test.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "korabus/korabus_command.h"
#include "korabus/korabus_data.h"
#include "pages/button_lockout_menu.h"
#include "pages/info_pages.h"
#include "pages/page_table.h"
#include "platform/platform.h"
#include "platform/platform_test.h"

#include <cmath>
#include <cstring>
#include <unistd.h>

namespace {

using Texts = std::vector<std::string>;

double fahrenheit(fpr_t celsius) {
    return dbl(celsius) * 9 / 5 + 32;
}

// A command packet (0x0B) as it comes over the link, SLIP-framed.
std::vector<uint8_t> commandPacket(const std::string &text, int declaredLength = -1) {
    std::vector<uint8_t> payload = {
        static_cast<uint8_t>(declaredLength >= 0 ? declaredLength : text.size())};
    payload.insert(payload.end(), text.begin(), text.end());
    return coprocEncoded(COPROC_PKT_COMMAND, payload);
}

TEST_F(BusTest, QueriesAndReportsAnswer) {
    struct Case {
        const char *command;
        Texts replies;
    };
    setKorabusVersion("2.10");
    const Case cases[] = {
        {"HVER", {"3.04"}},
        {"VER", {"[0x18] 2.10/3.04"}},
        // No installer has left anything on this board.
        {"?UPDATE", {"UPDATE S- NONE -"}},
        {"?FILTER", {"FILTER 90"}},
        {"?PG D1 SP1", {"PG D1 SP1 HT70 C78 HM35 DM55 T0600"}},
        {"?PG SP4 D0", {"PG D0 SP4 HT62 C82 HM35 DM55 T2300"}},
        {"?EXTERNAL_TEMP", {"EXTERNAL_TEMP-OFF"}},
        {"?SERIAL", {"SERIAL "}},
        {"ST", {"SP H35 D55", "MD MP H70 C78 ", "FM SF"}},
        // All 14 characters the record holds.
        {"SERIAL SN202600000001", {}},
        {"?SERIAL", {"SERIAL SN202600000001"}},
        // Write-once: a second serial number is not stored.
        {"SERIAL SN2026000002", {}},
        {"?SERIAL", {"SERIAL SN202600000001"}},
        {"MD MPH H68 C76", {"MD MPH H68 C76 "}},
        {"MD MPH H66 C77", {}},
        {"MD MH H66 C80", {"MD MH H66 C80 "}},
        {"MD MV H60 C85 U30 D60 Y3 R0", {"MD MV H60 C85 U30 D60 Y3 R0 "}},
        {"MD MP H1 Q", {"MD MP H70 C78 "}},
        {"MD H60 C90", {}},
        {"FM SC T2", {}},
        {"ST", {"SP H35 D55", "MD MP H21 C26 ", "FM SC"}},
    };
    for (const Case &c : cases) {
        busCommand(c.command);
        EXPECT_EQ(replies(), c.replies) << c.command;
    }
    // The three reports of ST go out a send pause apart.
    int64_t before = platformUptimeMs();
    busCommand("ST");
    EXPECT_EQ(platformUptimeMs() - before, 2 * KORABUS_SEND_PAUSE_MS);
    replies();
    korabusReportFormatCommand();
    korabusMessageScreenClearCommand();
    EXPECT_EQ(replies(), (Texts{"FM SC", "MESSAGE CLEAR"}));

    // The bundle the installer runs and its last verdict; a version of the
    // longest kind is cut at the reply's 64 characters.
    const std::string version(64, 'v');
    m_root.write("/opt/tstat/MANIFEST",
                 "# tstat board image\n# version: " + version + "\n# security: 12\n");
    m_root.write("/slots/last-update", "ROLLED-BACK\n");
    busCommand("?UPDATE");
    EXPECT_EQ(replies(), (Texts{("UPDATE S12 ROLLED-BACK " + version).substr(0, 64)}));

    // An outdoor sensor is read out.
    edit(getTstatConfiguration, setTstatConfiguration,
         [](auto &cfg) { cfg.externalTempSensor = EXT_TEMP_SENSOR_OUTDOOR; });
    busCommand("?EXTERNAL_TEMP");
    EXPECT_NE(replies(), (Texts{"EXTERNAL_TEMP-OFF"}));
    // A mode outside the four known ones (no record loads with one) reports "MO ".
    setThermostatMode(static_cast<ThermostatMode>(7));
    korabusReportModeCommand();
    EXPECT_EQ(replies(), (Texts{"MO "}));
    // Set points without a mode leave such a mode alone, unsaved.
    busCommand("MD H60 C90");
    EXPECT_EQ(+saved().tstatMode.mode, TSTAT_MODE_PROGRAM);
}

// Whether every program period holds those humidity set points.
bool everyPeriodHolds(const TstatSysCfgPersistMem_t &r, double hum, double dehum) {
    for (const auto &day : r.prgSetPnt) {
        for (const auto &p : day.period) {
            if (p.humidifySetPoint != fx(hum) || p.dehumidifySetPoint != fx(dehum)) {
                return false;
            }
        }
    }
    return true;
}

// Whole degrees Fahrenheit of a stored set point.
bool isF(fpr_t celsius, double f) {
    return std::abs(fahrenheit(celsius) - f) < 0.01;
}

TEST_F(BusTest, SettingCommandsStoreAndSave) {
    // Each command answers at most one reply and saves the record, which then
    // holds what the command set.
    using R = TstatSysCfgPersistMem_t;
    struct Case {
        const char *command;
        bool (*holds)(const R &r);
    };
    const Case cases[] = {
        {"SP D60 H30", [](const R &r) { return everyPeriodHolds(r, 30, 60); }},
        {"PG D2 SP1 HT70 C78 HM35 DM55 T2400",
         [](const R &r) {
             const TstatSetPoint_t &p = r.prgSetPnt[2].period[0];
             return p.startHour == 23 && p.startMinute == 59 && everyPeriodHolds(r, 35, 55);
         }},
        {"PG T0930 DM50 HM40 C80 HT65 SP2 D3",
         [](const R &r) {
             const TstatSetPoint_t &p = r.prgSetPnt[3].period[1];
             return isF(p.heatSetPoint, 65) && isF(p.coolSetPoint, 80) && p.startHour == 9 &&
                    p.startMinute == 30 && everyPeriodHolds(r, 40, 50);
         }},
        {"PG D1 SP1 HT70 C78 HM40 DM50 T0000",
         [](const R &r) {
             return r.prgSetPnt[1].period[0].startHour == 0 &&
                    r.prgSetPnt[1].period[0].startMinute == 0;
         }},
        {"PG D0 SP4 HT64 C81 HM40 DM50",
         [](const R &r) {
             const TstatSetPoint_t &p = r.prgSetPnt[0].period[3];
             return p.startHour == 23 && isF(p.heatSetPoint, 64);
         }},
        {"MD MPH H68 C76",
         [](const R &r) {
             const TstatSetPoint_t &h = r.tstatMode.holdSetPoint;
             return r.tstatMode.mode == TSTAT_MODE_PERMANENT_HOLD && isF(h.heatSetPoint, 68) &&
                    isF(h.coolSetPoint, 76);
         }},
        // Days and hours of the vacation in the start fields.
        {"MD MV H60 C85 U30 D60 Y3 R4",
         [](const R &r) {
             const TstatSetPoint_t &v = r.tstatMode.vacationSetPoint;
             return r.tstatMode.mode == TSTAT_MODE_VACATION && v.startHour == 3 &&
                    v.startMinute == 4 && v.endTime == c_BusTestNow + 3 * 86400 + 4 * 3600 &&
                    v.humidifySetPoint == fx(30);
         }},
        {"MD MP", [](const R &r) { return r.tstatMode.mode == TSTAT_MODE_PROGRAM; }},
        {"FM DD SC T2 XX S",
         [](const R &r) {
             return bytesOf(r.tstatFmtSettings) ==
                    bytesOf(TstatFmtSettings_t{TEMP_SCALE_CELSIUS, DATE_FORMAT_DD_MM_YY,
                                               TIME_FORMAT_24_HOUR});
         }},
        {"FM SF T1 DM",
         [](const R &r) {
             return bytesOf(r.tstatFmtSettings) ==
                    bytesOf(TstatFmtSettings_t{TEMP_SCALE_FAHRENHEIT, DATE_FORMAT_MM_DD_YY,
                                               TIME_FORMAT_12_HOUR});
         }},
        {"LK MR1 FR0 TR7 MT10 FT60 TT0 RR10",
         [](const R &r) {
             return bytesOf(r.lockoutCfg) ==
                        bytesOf(TstatLockoutCfg_t{LOCK_UNLOCKED, LOCK_LOCKED, 10, LOCK_UNLOCKED, 60,
                                                  LOCK_LOCKED, 0, 10}) &&
                    g_ButtonLockoutMenu[LOCKOUT_FAN_TIME].value == 60; // as the page shows it
         }},
        {"BK T60 AL IO",
         [](const R &r) {
             return bytesOf(r.bkLightCtl) ==
                    bytesOf(TstatBkLightCtl_t{60, BACKLIGHT_ACTIVE_LOW, BACKLIGHT_INACTIVE_OFF});
         }},
        {"BK AX IZ T65535", [](const R &r) { return r.bkLightCtl.backlightTimeout == 65535; }},
        {"BK T0", [](const R &r) { return r.bkLightCtl.backlightTimeout == 0; }},
        {"CD 0042", [](const R &r) { return r.securityCode == 42; }},
        {"CD 9999", [](const R &r) { return r.securityCode == 9999; }},
        {"FILTER 250", [](const R &r) { return r.filterChangeMaxHourTime == 180 * 24; }},
        {"FILTER 30", [](const R &r) { return r.filterChangeMaxHourTime == 30 * 24; }},
    };
    for (const Case &c : cases) {
        busCommand(c.command);
        EXPECT_LE(replies().size(), 1u) << c.command;
        EXPECT_TRUE(c.holds(saved())) << c.command;
    }
    EXPECT_EQ(refreshRequests(), (std::vector<int>{4, 5, 6, 7, 11, 14}));
}

TEST_F(BusTest, SetPointsFromTheBusFollowTheWriteRule) {
    // Heat and cool setpoints are never refused: the store holds each within
    // the limits (45-90 F, 7-32 C; cool up to the deadband above in
    // automatic) and pushes the other to keep the deadband. What the
    // controller reads back: the mode report for a hold, ?PG for a period.
    struct Case {
        TempScale scale;
        HvacState state;
        double deadband; // °C
        const char *command;
        const char *answer;
    };
    constexpr TempScale F = TEMP_SCALE_FAHRENHEIT;
    constexpr TempScale C = TEMP_SCALE_CELSIUS;
    const Case cases[] = {
        {F, HVAC_STATE_HEAT, 1.5, "MD MPH H1000 C-1000", "MD MPH H90 C90 "},
        {F, HVAC_STATE_HEAT, 1.5, "MD MPH H45 C48", "MD MPH H45 C48 "},
        // Heat below the limit is raised when read, and cool with it.
        {F, HVAC_STATE_HEAT, 1.5, "MD MPH H44 C50", "MD MPH H45 C48 "},
        {F, HVAC_STATE_HEAT, 1.5, "MD MPH H87 C91", "MD MPH H87 C90 "},
        // The deadband of 1.5 C is 3 F: a pair 3 F apart stays, 2 F apart pushes cool.
        {F, HVAC_STATE_HEAT, 1.5, "MD MPH H70 C73", "MD MPH H70 C73 "},
        {F, HVAC_STATE_HEAT, 1.5, "MD MPH H71 C73", "MD MPH H71 C74 "},
        {C, HVAC_STATE_AUTO, 2.0, "MD MPH H23 C24", "MD MPH H23 C25 "},
        {C, HVAC_STATE_AUTO, 2.0, "MD MPH H34 C36", "MD MPH H32 C34 "},
        {C, HVAC_STATE_EMERGENCY_HEAT, 1.5, "MD MPH H40 C45", "MD MPH H32 C32 "},
        // Unraised in emergency heat, heat still stays where a record may hold it.
        {F, HVAC_STATE_EMERGENCY_HEAT, 1.5, "MD MPH H-40 C70", "MD MPH H40 C70 "},
        {F, HVAC_STATE_HEAT, 1.5, "MD MV H100 C20 U30 D60 Y1 R1", "MD MV H90 C90 U30 D60 Y1 R1 "},
        {F, HVAC_STATE_HEAT, 1.5, "PG D1 SP1 HT100 C78 HM35 DM55",
         "PG D1 SP1 HT90 C90 HM35 DM55 T0600"},
        // Humidify above 95 % and dehumidify below 5 % are ignored; within
        // them the two keep 5 % apart.
        {F, HVAC_STATE_HEAT, 1.5, "PG D1 SP1 HT70 C78 HM96 DM4",
         "PG D1 SP1 HT70 C78 HM35 DM55 T0600"},
        {F, HVAC_STATE_HEAT, 1.5, "PG D1 SP1 HT70 C78 HM95 DM100",
         "PG D1 SP1 HT70 C78 HM95 DM100 T0600"},
        {F, HVAC_STATE_HEAT, 1.5, "PG D1 SP1 HT70 C78 HM0 DM5", "PG D1 SP1 HT70 C78 HM0 DM5 T0600"},
        // Written to the period, then again to every period: the second
        // write's dehumidify pushes humidify, which is then no change.
        {F, HVAC_STATE_HEAT, 1.5, "PG D1 SP1 HT70 C78 HM50 DM52",
         "PG D1 SP1 HT70 C78 HM47 DM52 T0600"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        FactoryOptions options;
        options.tempScale = c.scale;
        options.hvacState = c.state;
        boot(options);
        edit(getTstatSetupDifferential, setTstatSetupDifferential,
             [&](auto &diff) { diff.deadband = fx(c.deadband); });
        busCommand(c.command);
        replies();
        if (c.command[0] == 'P') {
            busCommand("?PG D1 SP1");
        } else {
            korabusReportModeCommand();
        }
        EXPECT_EQ(replies(), (Texts{c.answer}));
    }
}

TEST_F(BusTest, ForecastCommandsFillTheWeatherStore) {
    busCommand("FH 70 71 72 73 74 75");
    busCommand("FL -120 51 52 53 +54");
    busCommand("FK SUN RAIN FOG XYZ CLDY");
    TstatFiveDayForecast_t five = valueOf(getFiveDayForecast);
    EXPECT_NEAR(fahrenheit(five.highTemp[4]), 74, 0.01);
    EXPECT_NEAR(fahrenheit(five.lowTemp[0]), -120, 0.01);
    EXPECT_NEAR(fahrenheit(five.lowTemp[4]), 54, 0.01);
    uint32_t conditions[FORECAST_DAYS];
    memcpy(conditions, five.condition, sizeof(conditions));
    EXPECT_EQ(std::vector<uint32_t>(conditions, conditions + FORECAST_DAYS),
              (std::vector<uint32_t>{24, 16, 7, 26, 4}));
    EXPECT_EQ(+five.currentCondition, 26u);
    busCommand("FK SUN SUN SUN SUN SUN TSTORM");
    getFiveDayForecast(&five);
    EXPECT_EQ(+five.currentCondition, 25u);

    EXPECT_TRUE(forecastReceived(FORECAST_ALL_HIGHS | FORECAST_ALL_LOWS));
    EXPECT_FALSE(forecastReceived(FORECAST_DEW_POINT));
    busCommand("CF S10 D50");
    EXPECT_TRUE(forecastReceived(FORECAST_WIND_SPEED | FORECAST_DEW_POINT));
    EXPECT_FALSE(forecastReceived(FORECAST_HUMIDITY));
    busCommand("CF F135 WNNW S255 H100 D-120");
    busCommand("PRESSURE 255.99");
    TstatCurrentForecast_t current = valueOf(getCurrentForecast);
    EXPECT_NEAR(fahrenheit(current.feelsLikeTemp), 135, 0.01);
    EXPECT_STREQ(current.windDirection, "NNW");
    EXPECT_NEAR(dbl(current.windSpeed), 410.39, 0.01);
    EXPECT_EQ(+current.relativeHumidity, fx(100));
    EXPECT_NEAR(fahrenheit(current.dewPoint), -120, 0.01);
    EXPECT_NEAR(dbl(current.barometricPressure), 650.22, 0.01);
    busCommand("CF WSOUTHWEST");
    getCurrentForecast(&current);
    EXPECT_STREQ(current.windDirection, "SOU");
}

TEST_F(BusTest, ClockCommandSetsTheSystemAndHardwareClocks) {
    busCommand("CLOCK 07-04-09 13:05:00");
    EXPECT_EQ(m_root.read("/sim/shell.log"), "date 070413052009.00\n/sbin/hwclock --systohc\n");
    EXPECT_EQ(+image().clockYear, 109);
    // The last second of the range is taken.
    m_root.write("/sim/shell.log", "");
    busCommand("CLOCK 12-31-99 23:59:59");
    EXPECT_EQ(m_root.read("/sim/shell.log"), "date 123123592099.59\n/sbin/hwclock --systohc\n");
    EXPECT_EQ(refreshRequests(), (std::vector<int>{12}));
    m_root.write("/sim/shell.log", "");
    busCommand("CLOCK 02-29-24 10:00:00"); // a leap day
    EXPECT_EQ(m_root.read("/sim/shell.log"), "date 022910002024.00\n/sbin/hwclock --systohc\n");
    // Past the end of a 32-bit time_t (2038-01-19 03:14:07 UTC) in every
    // time zone, and the clock reads it back.
    m_root.write("/sim/shell.log", "");
    busCommand("CLOCK 01-20-38 03:14:08");
    EXPECT_EQ(m_root.read("/sim/shell.log"), "date 012003142038.08\n/sbin/hwclock --systohc\n");
    TstatClockCfg_t clock{};
    ASSERT_EQ(getClockConfiguration(&clock), 0);
    EXPECT_EQ(+clock.year, 138);
    EXPECT_EQ(+clock.day, 20);
    EXPECT_EQ(+clock.hour, 3);
    EXPECT_EQ(+clock.minute, 14);
}

TEST_F(BusTest, MessagesStayUntilClearedOrWokenAndADownloadStarts) {
    // A message stays until it is cleared or the display is woken.
    const std::pair<const char *, uint8_t> pages[] = {
        {"MESSAGE DISP \"Filter change due\" ignored", PAGE_MESSAGE},
        {"MESSAGE CLEAR", PAGE_MAIN},
        {"MESSAGE DISP Hello", PAGE_MESSAGE},
        {"SLEEP", PAGE_MESSAGE},
        {"WAKE", PAGE_MAIN},
    };
    for (const auto &[command, page] : pages) {
        busCommand(command);
        EXPECT_EQ(dispManGetCurrentPage(), page) << command;
    }
    busCommand("SFLASH2\r");
    EXPECT_EQ(downloadGetState(), DOWNLOAD_STARTED);
    downloadReset();
}

TEST_F(BusTest, FactoryResetBringsTheFactoryConfigurationBack) {
    // The factory configuration comes back, the system switched off from
    // the bus heating again.
    busCommand("CD 4321");
    busCommand("MD MPH H68 C76");
    korabusDataUpdateChannelFromKorabus(222, 1);
    replies();
    TstatSetPoint_t inForce = setPointsInForce();
    hvacAlgorithmCntl(fx(15), fx(40), fx(0), &inForce);
    EXPECT_EQ(RlyCntl_GetW1E(), 0u);
    busCommand("ZAP!");
    EXPECT_EQ(+saved().securityCode, 1234);
    EXPECT_EQ(+saved().tstatMode.mode, TSTAT_MODE_PROGRAM);
    EXPECT_EQ(g_IsZapCommand, 1);
    hvacAlgorithmCntl(fx(15), fx(40), fx(0), &inForce);
    EXPECT_EQ(RlyCntl_GetW1E(), 1u);
    std::vector<std::vector<uint8_t>> frames = m_link->frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][0], COPROC_PKT_VERSION_KNOWN);
}

TEST_F(BusTest, SleepWakeAndBacklightCommandsSetTheBrightness) {
    // The display started as at start-up, lit (SDL's dummy driver).
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    m_root.write("/sys/class/backlight/backlight/brightness", "");
    m_root.write("/sys/class/backlight/backlight/bl_power", "");
    char cwd[PATH_MAX] = {};
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    ASSERT_EQ(chdir(TSTAT_BUILD_DIR "/data"), 0);
    displayManagerInit(pageTable());
    ASSERT_NE(g_displayHdl, nullptr);
    // Awake, a write of the active brightness shows at once; asleep, the
    // inactive one does.
    const std::pair<const char *, const char *> steps[] = {
        {"WAKE", "255\n"}, {"BK AL", "15\n"}, {"BK AM", "45\n"},
        {"SLEEP", "12\n"}, {"BK IO", "0\n"},  {"BK ID", "12\n"},
        {"BK IO", "0\n"},  {"SLEEP", "0\n"},  {"WAKE", "45\n"},
    };
    for (const auto &[command, level] : steps) {
        busCommand(command);
        EXPECT_EQ(m_root.read("/sys/class/backlight/backlight/brightness"), level) << command;
    }
    // Asleep and dimmed, the screen saver comes; a panel switched off from
    // the bus loses its text.
    setScrSaverState(FEATURE_ENABLE);
    busCommand("BK ID");
    busCommand("SLEEP");
    for (int i = 0; i < 1000 && displayManagerScreenSaverShown() == 0; i++) {
        platformFakeClockAdvanceMs(100);
        displayManagerPoll();
    }
    ASSERT_EQ(displayManagerScreenSaverShown(), 1);
    ASSERT_NE(screenSaverText()->font, nullptr);
    busCommand("BK IO");
    EXPECT_EQ(screenSaverText()->font, nullptr);
    displayManagerReset();
    pagesReset();
    screenReset();
    ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(BusTest, MalformedCommandsChangeNothingAndAnswerNothing) {
    // Each family of commands: incomplete, unknown and out-of-range forms.
    const std::vector<std::vector<const char *>> bad = {
        {"", "   ", "hver", "HVER\t", "MDMPH H68 C76", "PRESSURE", "SFLASH0\r", "SFLASH1",
         "SFLASH1\r\r", "ZAP", "?serial", "VER\r", "\x01\x02\xff", "FM", "MESSAGE", "MESSAGE DISP",
         "MESSAGE HELLO there"},
        {"FH 1 2 3", "FL", "FK SUN RAIN", "CF X5", "CF F70 Q"},
        {"SP H30", "SP D60", "SP H30 D60 Q1", "SP H101 D60", "SP H30 D-1"},
        {"MD MX", "MD MPX H68 C76", "MD MH H68", "MD MV H60 C85 U30 D60 Y3",
         "MD MV H60 C85 U30 D60 Y256 R1", "MD MV H60 C85 U30 D60 Y1 R-1",
         "MD MV H60 C85 U101 D60 Y1 R1", "MD Q5"},
        {"LK MT61", "LK FT-1", "LK RR11", "LK ZZ1", "LK MR1 ZZ", "LK MT"},
        {"BK X1", "BK T-1", "BK T65536", "BK T"},
        {"?PG D7 SP1", "?PG D-1 SP1", "?PG D1 SP0", "?PG D1 SP5", "?PG D1", "?PG SP1",
         "?PG D1 SP1 X"},
        {"PG D1 SP1 HT70 C78 HM35", "PG D7 SP1 HT70 C78 HM35 DM55", "PG D1 SP0 HT70 C78 HM35 DM55",
         "PG D1 SP1 HT70 C78 HM35 DM55 T1275", "PG D1 SP1 HT70 C78 HM35 DM55 T2360",
         "PG D1 SP1 HT70 C78 HM-1 DM55", "PG D1 SP1 HT70 C78 HM35 DM55 X"},
        {"CD", "CD 10000", "CD -1", "CD 4294967338", "SERIAL", "SERIAL SN2026000000001", "FILTER",
         "FILTER -5"},
        // Values that are not numbers.
        {"FILTER abc", "FILTER 5x", "FL a b c d e", "FH 1 2 3 4 5x", "CD 12a", "CD +", "CF F7x",
         "BK T3s", "LK MR1x", "SP H3x D60", "PRESSURE abc", "PRESSURE 30.1.2", "PRESSURE -",
         "CLOCK 07-04-09 13:05:0x", "CLOCK 07--09 13:05:00"},
        {"CLOCK", "CLOCK 07-04-09", "CLOCK 07-04 13:05:00", "CLOCK 13-04-09 13:05:00",
         "CLOCK 00-04-09 13:05:00", "CLOCK 07-32-09 13:05:00", "CLOCK 07-04-100 13:05:00",
         "CLOCK 07-04-09 24:00:00", "CLOCK 07-04-09 13:60:00", "CLOCK 07-04-09 13:05:60",
         "CLOCK 07-04-09 13", "CLOCK a-b-c d:e", "CLOCK 02-31-26 10:00:00",
         "CLOCK 04-31-26 10:00:00", "CLOCK 02-29-25 10:00:00"},
        // Weather beyond what a level carries, which the pages cannot show.
        {"FH 136 0 0 0 0", "FL 0 0 0 0 -121", "CF F136", "CF D-121", "CF S256", "CF S-1", "CF H101",
         "PRESSURE 256", "PRESSURE -256.5"},
    };
    busCommand("FM SF DM T1"); // what an empty FM would save anyway
    replies();
    // The stored record (a save of the same record seals it anew).
    auto stored = [&] { return m_root.read("/dev/mtdblock5").substr(0, TSTAT_SYS_CFG_SIZE); };
    std::string before = stored();
    std::string log = m_root.read("/sim/shell.log");
    TstatSysCfgPersistMem_t image0 = image();
    // The forecast store too: the weather commands write there.
    auto weather = [] {
        return bytesOf(valueOf(getCurrentForecast)) + bytesOf(valueOf(getFiveDayForecast));
    };
    const std::string weather0 = weather();
    uint8_t page = dispManGetCurrentPage();
    for (const auto &family : bad) {
        for (const char *text : family) {
            busCommand(text);
            EXPECT_TRUE(replies().empty()) << text;
            TstatSysCfgPersistMem_t now = image();
            EXPECT_EQ(memcmp(&now, &image0, sizeof(now)), 0) << text;
            EXPECT_EQ(weather(), weather0) << text;
            EXPECT_EQ(stored(), before) << text;
            EXPECT_EQ(m_root.read("/sim/shell.log"), log) << text;
            EXPECT_EQ(dispManGetCurrentPage(), page) << text;
        }
    }

    // Over the link: texts longer than the link carries (63 characters after
    // the length byte) or than the packet, are dropped; the longest command
    // and texts of nothing but digits or descriptors parse without harm; the
    // link answers the next command.
    std::string longest = "?PG D1 SP1" + std::string(53, ' ');
    std::string noise(63, '9');
    for (auto packet :
         {commandPacket(std::string(65, 'A')), commandPacket("HVER", 40), commandPacket(noise),
          commandPacket("MD " + std::string(60, 'H')), commandPacket(std::string(64, 'B'))}) {
        m_link->receive(packet);
        EXPECT_TRUE(replies().empty());
    }
    m_link->receive(commandPacket(longest));
    EXPECT_EQ(replies(), (Texts{"PG D1 SP1 HT70 C78 HM35 DM55 T0600"}));
    m_link->receive(commandPacket("HVER"));
    EXPECT_EQ(replies(), (Texts{"3.04"}));
    TstatSysCfgPersistMem_t now = image();
    EXPECT_EQ(memcmp(&now, &image0, sizeof(now)), 0);
}

TEST_F(BusTest, CommandAndDumpPathsDoNotAllocate) {
    setMovAvgIndTemp(fx(21));
    setMovAvgHum(fx(40));
    std::vector<uint8_t> online = coprocFrameOf(COPROC_PKT_BUS_STATUS, {1, 0, 1});
    std::vector<uint8_t> offline = coprocFrameOf(COPROC_PKT_BUS_STATUS, {0, 0, 0});
    auto run = [&] {
        busCommand("?PG D3 SP2");
        busCommand("MD MPH H68 C76");
        busCommand("ST");
        coprocMsgProcess(offline.data(), static_cast<uint16_t>(offline.size()));
        coprocMsgProcess(online.data(), static_cast<uint16_t>(online.size()));
        korabusDataPoll();
    };
    run();
    m_link->raw();
    allocCounterStart();
    run();
    EXPECT_EQ(allocCounterStop(), 0u);
    EXPECT_GE(sent().channelCount.size(), 33u);
}

} // namespace
