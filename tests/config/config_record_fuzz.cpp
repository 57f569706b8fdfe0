// Fuzz target: an arbitrary stored record (the first 974 bytes of the input,
// stamped with the user identity) is loaded, saved back, and run through the
// schedule, the setpoint rules, the clock and the filter reminder at a clock
// taken from the next 8 bytes; the 18 bytes after them, when there, are the
// serial-number region. Whatever a record holds, nothing may index outside it,
// a record that loads (every field in range) must be saved back exactly as
// loaded, and a serial number is written only where none was valid and then
// reads back valid.
#include "board_root.h"
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "fuzz_support.h"
#include "platform/platform_test.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Wall clocks between 1970 and 2100: the thermostat's clock never leaves them.
constexpr uint64_t c_ClockRange = 4102444800ull;
constexpr size_t c_ClockAt = TSTAT_SYS_CFG_SIZE;
constexpr size_t c_SerialAt = c_ClockAt + sizeof(uint64_t);

TempBoardRoot &boardRoot() {
    static TempBoardRoot root;
    return root;
}

void runSerialNumber(const uint8_t *stored) {
    const std::string before(reinterpret_cast<const char *>(stored), TSTAT_SERIAL_RECORD_SIZE);
    boardRoot().write("/dev/mtdblock8", before);
    uint8_t serial[TSTAT_SERIAL_NUMBER_LEN];
    int status = getSerialNumber(serial);
    if (status == -1 || setSerialNumber(serial) != 0) {
        abort();
    }
    uint8_t after[TSTAT_SERIAL_NUMBER_LEN];
    if (getSerialNumber(after) != 0 || memcmp(after, serial, sizeof(after)) != 0 ||
        (status == 0 && boardRoot().read("/dev/mtdblock8") != before)) {
        abort();
    }
}

void runSchedule(const TstatSysCfgPersistMem_t &record) {
    setMovAvgIndTemp(record.recoveryTemp[0]);
    TstatSetPoint_t out;
    getCurrentThermostatSettings(&out);
    for (uint32_t day = 0; day < TSTAT_DAYS_PER_WEEK; day++) {
        for (uint32_t period = 0; period < TSTAT_PERIODS_PER_DAY; period++) {
            getProgramThermostatSettings(period, day, &out);
        }
    }
    for (int hour = 0; hour < 24; hour += 5) {
        struct tm when {};
        when.tm_wday = hour % 7;
        when.tm_hour = hour;
        when.tm_min = record.prgSetPnt[0].period[0].startMinute % 60;
        getProgramThermostatSettingsByTime(&when, &out);
        SetHoldModeSetpoint(&when);
    }
    uint8_t period = 0;
    uint8_t day = 0;
    getCurrentProgramModeSettings(&period, &day);
    setThermostatMode(TSTAT_MODE_HOLD);
    getCurrentThermostatSettings(&out);
    setThermostatMode(TSTAT_MODE_VACATION);
    getCurrentThermostatSettings(&out);

    fpr_t heat = record.tstatMode.holdSetPoint.heatSetPoint;
    fpr_t cool = record.tstatMode.holdSetPoint.coolSetPoint;
    fpr_t humidify = record.tstatMode.holdSetPoint.humidifySetPoint;
    fpr_t dehumidify = record.tstatMode.holdSetPoint.dehumidifySetPoint;
    getThermostatTemps(&heat, &cool);
    setThermostatTemps(&record.prgSetPnt[3].period[2], &heat, &cool, &humidify, &dehumidify);
    setProgramThermostatSettings(record.securityCode % 5, record.korabusAddress % 8,
                                 &record.prgSetPnt[1].period[1]);
    setHoldThermostatSettings(&record.prgSetPnt[5].period[3]);
}

void runFormats(const TstatSysCfgPersistMem_t &record) {
    TstatClockCfg_t clockCfg;
    getClockConfiguration(&clockCfg);
    getTstatFilterChangeDays();
    char text[8];
    initialiseTStatFormat();
    getMinIndoorTemp();
    getMaxIndoorTemp();
    g_PrintTempInCurrentFormat(text, sizeof(text), static_cast<int16_t>(record.securityCode));
    printSystemOffTemp(text, sizeof(text));
    tempCelToFahConversion(record.hvacSettings.balancePoint);
    tempFahToCelConversion(record.tstatCfg.tempOffset);
    convertDiffCelToFah(record.tstatCfg.deadband);
    convertDiffFahToCel(record.tstatCfg.firstStageDiff);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzQuietStart();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool opened = false;
    TempBoardRoot &root = boardRoot();
    if (!opened) {
        root.write("/dev/mtdblock4", "");
        root.write("/dev/mtdblock5", "");
        root.write("/dev/mtdblock8", "");
        PersistUtil_Init();
        opened = true;
    }
    TstatSysCfgPersistMem_t record;
    memset(&record, 0, sizeof(record));
    if (data != nullptr) {
        memcpy(&record, data, std::min(size, sizeof(record)));
    }
    record.tstatSysCfgId = TSTAT_SYS_CFG_USER_ID;
    const std::string stored(reinterpret_cast<const char *>(&record), sizeof(record));
    root.write("/dev/mtdblock5", stored);

    uint64_t clock = 1718000000;
    if (size >= c_ClockAt + sizeof(clock)) {
        memcpy(&clock, data + c_ClockAt, sizeof(clock));
        clock %= c_ClockRange;
    }
    if (size >= c_SerialAt + TSTAT_SERIAL_RECORD_SIZE) {
        runSerialNumber(data + c_SerialAt);
    }
    platformFakeClockSet(1000, 0, static_cast<int64_t>(clock));
    dataDictReset();
    scheduleReset();
    tempScaleReset();
    if (initThermostatSysCfg() != 0) {
        return 0;
    }
    if (saveThermostatSysCfg() != 0 ||
        root.read("/dev/mtdblock5").substr(0, TSTAT_SYS_CFG_SIZE) != stored) {
        abort();
    }
    runSchedule(record);
    runFormats(record);
    return 0;
}
