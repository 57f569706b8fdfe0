// Fuzz target for the command-string path: arbitrary command texts, as the
// coprocessor hands them over (at most 64 characters, cut at a NUL), run
// against a loaded configuration. Afterwards the record must still hold
// values the thermostat can use: a known mode, a four-digit security code,
// lock times and range within what the lockout page steps, program start
// times of the day, and humidity setpoints of 0-100 %.
#include "bus_board.h"
#include "fuzz_support.h"

#include "config/persist.h"
#include "coproc/coproc_msg.h"
#include "coproc/download.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

std::unique_ptr<TempBoardRoot> m_Root;
unsigned m_Runs;

bool percent(fpr_t value) {
    return value >= 0 && value <= 100 * FPR_ONE;
}

void checkRecord() {
    TstatSysCfgPersistMem_t r;
    copyThermostatSysCfg(&r);
    fuzzCheck(r.tstatMode.mode <= TSTAT_MODE_PERMANENT_HOLD);
    fuzzCheck(r.securityCode <= 9999);
    fuzzCheck(r.lockoutCfg.modeLockTime <= 60 && r.lockoutCfg.fanLockTime <= 60 &&
              r.lockoutCfg.tempLockTimeLimit <= 60 && r.lockoutCfg.tempLockRangeLimit <= 10);
    fuzzCheck(r.tstatFmtSettings.tempScale <= TEMP_SCALE_CELSIUS &&
              r.tstatFmtSettings.dateFormat <= DATE_FORMAT_YY_MM_DD &&
              r.tstatFmtSettings.timeFormat <= TIME_FORMAT_24_HOUR);
    fuzzCheck(r.bkLightCtl.activeBrightness <= BACKLIGHT_ACTIVE_HIGH &&
              r.bkLightCtl.inactiveBrightness <= BACKLIGHT_INACTIVE_OFF);
    for (const auto &day : r.prgSetPnt) {
        for (const auto &p : day.period) {
            fuzzCheck(p.startHour <= 23 && p.startMinute <= 59);
            fuzzCheck(percent(p.humidifySetPoint) && percent(p.dehumidifySetPoint));
        }
    }
    fuzzCheck(percent(r.tstatMode.vacationSetPoint.humidifySetPoint) &&
              percent(r.tstatMode.vacationSetPoint.dehumidifySetPoint));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (m_Root == nullptr) {
        m_Root = std::make_unique<TempBoardRoot>();
    }
    // A fresh thermostat now and then, so that write-once and one-time
    // states (serial number, download) are met again.
    if (m_Runs++ % 256 == 0) {
        busBoot(*m_Root, FactoryOptions{});
    }
    size_t n = size < COPROC_TEXT_MAX ? size : COPROC_TEXT_MAX;
    char text[COPROC_TEXT_MAX + 1] = {};
    if (n > 0) {
        memcpy(text, data, n);
    }
    busCommand(text);
    // A download the command may have started is abandoned again.
    downloadReset();
    checkRecord();
    return 0;
}
