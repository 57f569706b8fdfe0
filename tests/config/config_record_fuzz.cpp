// Fuzz target: an arbitrary stored record (the first 974 bytes of the input,
// stamped with the user identity) is loaded and run through the schedule, the
// setpoint rules, the clock and the filter reminder at a clock taken from the
// rest of the input. Whatever a record holds, nothing may index outside it.
#include "board_root.h"
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "platform/platform_test.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Wall clocks between 1970 and 2100: the thermostat's clock never leaves them.
constexpr uint64_t c_ClockRange = 4102444800ull;

TempBoardRoot &boardRoot() {
    static TempBoardRoot root;
    return root;
}

} // namespace

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
    root.write("/dev/mtdblock5",
               std::string(reinterpret_cast<const char *>(&record), sizeof(record)));

    uint64_t clock = 1718000000;
    if (size >= sizeof(record) + sizeof(clock)) {
        memcpy(&clock, data + sizeof(record), sizeof(clock));
        clock %= c_ClockRange;
    }
    platformFakeClockSet(1000, 0, static_cast<int64_t>(clock));
    dataDictReset();
    scheduleReset();
    if (initThermostatSysCfg() != 0) {
        return 0;
    }
    setMovAvgIndTemp(record.recoveryTemp[0]);

    TstatSetPoint_t out;
    getCurrentThermostatSettings(&out);
    for (int hour = 0; hour < 24; hour += 5) {
        struct tm when {};
        when.tm_wday = hour % 7;
        when.tm_hour = hour;
        when.tm_min = record.prgSetPnt[0].period[0].startMinute % 60;
        getProgramThermostatSettingsByTime(&when, &out);
    }
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

    TstatClockCfg_t clockCfg;
    getClockConfiguration(&clockCfg);
    getTstatFilterChangeDays();
    char text[8];
    initialiseTStatFormat();
    g_PrintTempInCurrentFormat(text, sizeof(text), static_cast<int16_t>(record.securityCode));
    tempCelToFahConversion(record.hvacSettings.balancePoint);
    tempFahToCelConversion(record.tstatCfg.tempOffset);
    return 0;
}
