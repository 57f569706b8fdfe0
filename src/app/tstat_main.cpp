// Start-up and the main loop of the thermostat.
#include "app/tstat_main.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "coproc/coproc_msg.h"
#include "coproc/download.h"
#include "dispman/display_manager.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "hvac/sensors.h"
#include "korabus/korabus_command.h"
#include "korabus/korabus_data.h"
#include "mfgtest/mfgtest.h"
#include "pages/page_table.h"
#include "platform/platform.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

UtilTimer m_TempRTCTimer;
uint8_t m_bIsRTCTimerOn = 0;
uint8_t m_VersionSent = 0;
volatile std::sig_atomic_t m_StopSignal = 0;

uint32_t m_BusPolledChanges = 0;
int64_t m_BusPolledSecond = 0;
bool m_BusPolled = false;

// The control bus compares every channel and level with what it sent last.
// What they read changes only with a noted change (a packet, a key, a
// control run) or with the wall-clock time, so the comparison is skipped
// while neither moved since the last one.
void pollBusChanges() {
    uint32_t changes = utilChangeCount();
    int64_t second = util_time(nullptr);
    if (m_BusPolled && changes == m_BusPolledChanges && second == m_BusPolledSecond) {
        return;
    }
    m_BusPolled = true;
    m_BusPolledChanges = changes;
    m_BusPolledSecond = second;
    korabusDataPoll();
}

void onStopSignal(int signal) {
    m_StopSignal = signal;
}

// A stop request ends the process through exit(), so that the exit handler
// leaves the screen and the keys in order.
void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// The clock fix-up: writing the clock back carries the year saved in the
// configuration into a clock that has lost it, and sets the hardware clock.
void fixUpClock() {
    TstatClockCfg_t clock{};
    if (getClockConfiguration(&clock) != 0) {
        return;
    }
    clock.month = static_cast<uint8_t>(clock.month + 1);
    clock.year = static_cast<uint16_t>(clock.year + 1900);
    setClockConfiguration(&clock);
}

// The emergency stop: engaged, and held engaged until the timer runs out.
uint32_t g_EStopActive = 0;
UtilTimer g_EStopTimer;

} // namespace

int tstatStartUp(int argc, char **argv) {
    if (argc != 2) {
        printf("use is %s <coproc_dev>\n", argc > 0 ? argv[0] : "tstat");
        return -1;
    }
    if (PersistUtil_Init() == -1) {
        puts("ERROR: PersistUtil_Init failed");
    } else if (initThermostatSysCfg() == -1) {
        puts("ERROR: initThermostatSysCfg failed");
    } else if (repairThermostatSysCfg() == -1) {
        puts("ERROR: repairThermostatSysCfg failed");
    }
    atexit(cleanup);
    displayManagerInit(pageTable());
    coprocessorInit(argv[1]);
    korabusInit();
    if (RlyCntl_Init() == -1) {
        puts("ERROR: RlyCntl_Init failed");
    }
    if (Sensors_Initialize() == -1) {
        puts("ERROR: Sensors_Initialize failed");
    }
    if (RlyCntl_GetMfgTestMode() != 0) {
        return start_manufacturing_tests(0) == -1 ? -1 : 0;
    }
    TstatHvacSettings_t hvacSettings;
    TstatCfg_t tstatCfg;
    getHvacSettings(&hvacSettings);
    getTstatConfiguration(&tstatCfg);
    hvacAlgorithmInit(&hvacSettings, &tstatCfg, getHumidifyState());
    coprocMsgSendStartup();
    fixUpClock();
    installStopHandlers();
    return TSTAT_RUN_MAIN_LOOP;
}

void tstatMainLoopPass() {
    displayManagerPoll();
    coprocessorPoll();
    pollBusChanges();
    downloadPoll();
    if (checkEStop() == 0) {
        hvacExecuteAlgorithm(HVAC_ALGORITHM_PERIOD_S);
    }
    RlyCntl_RefreshRelays();
    dispManRTCSetTimeout();
    dispManCheckRTCSetTimeout();
    if (isKorabusVersionSet() != 0 && m_VersionSent == 0) {
        korabusCommandGetVersion();
        coprocMsgSendVersionKnown();
        m_VersionSent = 1;
        utilNoteChange();
    }
    if (m_StopSignal != 0) {
        exit(0);
    }
}

int tstatMain(int argc, char **argv) {
    int result = tstatStartUp(argc, argv);
    if (result != TSTAT_RUN_MAIN_LOOP) {
        return result;
    }
    for (;;) {
        tstatMainLoopPass();
        platformLoopYield();
    }
}

uint32_t checkEStop() {
    if (g_EStopActive != 0) {
        if (util_check_expiration(&g_EStopTimer) == 0) {
            return g_EStopActive;
        }
        g_EStopActive = 0;
        dispManSetUnderVoltageWarning(0);
        // The latest reading is looked at again at once: a voltage that is
        // still low starts the next hold before any control decision.
    }
    uint16_t voltage = 0;
    if (coprocMsgGetLineVoltage(&voltage) != 0 && voltage <= ESTOP_LINE_VOLTAGE_LIMIT) {
        g_EStopActive = 1;
        util_set_expiration(&g_EStopTimer, ESTOP_HOLD_MS);
        dispManSetUnderVoltageWarning(1);
    }
    return g_EStopActive;
}

void enableEStop() {
    RlyCntl_SetOBnot(0);
    RlyCntl_SetY1(0);
    RlyCntl_SetY2(0);
    RlyCntl_SetW1E(0);
    RlyCntl_SetW2(0);
    RlyCntl_SetG1(0);
    RlyCntl_SetG2(0);
    RlyCntl_SetG3(0);
    RlyCntl_SetDeh(0);
    RlyCntl_SetHum(0);
    RlyCntl_SetFanSpeed(FAN_SPEED_OFF);
}

int trim_sysclock() {
    platformSystem("/sbin/hwclock --hctosys");
    return 0;
}

void dispManRTCSetTimeout() {
    if (m_bIsRTCTimerOn == 0) {
        util_set_expiration(&m_TempRTCTimer, RTC_RELOAD_MS);
        m_bIsRTCTimerOn = 1;
    }
}

void dispManCheckRTCSetTimeout() {
    if (util_check_expiration(&m_TempRTCTimer) != 0 && m_bIsRTCTimerOn == 1) {
        m_bIsRTCTimerOn = 0;
        trim_sysclock();
        utilNoteChange();
    }
}

void cleanup() {
    displayManagerStop();
}

void tstatMainReset() {
    g_EStopActive = 0;
    g_EStopTimer = UtilTimer{};
    m_TempRTCTimer = UtilTimer{};
    m_bIsRTCTimerOn = 0;
    m_VersionSent = 0;
    m_StopSignal = 0;
    m_BusPolled = false;
}
