// Fuzz target for channel and level writes: the input is a sequence of
// three-byte writes (kind, number, value); an even kind is a channel write,
// an odd kind a level write, and a kind above 0xF0 runs a poll. Afterwards
// every setting the groups write must hold a value of its enumeration.
#include "bus_board.h"
#include "fuzz_support.h"

#include "config/persist.h"
#include "korabus/korabus_data.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

std::unique_ptr<TempBoardRoot> m_Root;
unsigned m_Runs;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (m_Root == nullptr) {
        m_Root = std::make_unique<TempBoardRoot>();
    }
    if (m_Runs++ % 256 == 0) {
        FactoryOptions options;
        options.systemType =
            (m_Runs / 256) % 2 == 0 ? SYSTEM_TYPE_ONE_STG_FURNACE : SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
        busBoot(*m_Root, options);
    }
    for (size_t i = 0; i + 3 <= size; i += 3) {
        uint8_t kind = data[i];
        if (kind > 0xF0) {
            korabusDataPoll();
        } else if (kind % 2 == 0) {
            korabusDataUpdateChannelFromKorabus(data[i + 1], data[i + 2]);
        } else {
            korabusDataUpdateLevelFromKorabus(data[i + 1], data[i + 2]);
        }
    }
    TstatSysCfgPersistMem_t r;
    copyThermostatSysCfg(&r);
    fuzzCheck(r.hvacSettings.fanSpeed <= FAN_SPEED_LOW);
    fuzzCheck(r.hvacSettings.fanState <= FAN_STATE_ON);
    fuzzCheck(r.hvacSettings.hvacState <= HVAC_STATE_EMERGENCY_HEAT);
    fuzzCheck(r.humidifyState <= HUMIDIFY_STATE_OFF);
    fuzzCheck(r.tstatMode.mode <= TSTAT_MODE_PERMANENT_HOLD);
    fuzzCheck(r.lockoutCfg.buttonLockout <= LOCK_UNLOCKED);
    // Emergency heat only on a heat pump.
    fuzzCheck(r.hvacSettings.hvacState != HVAC_STATE_EMERGENCY_HEAT ||
              r.tstatCfg.systemType == SYSTEM_TYPE_ONE_STG_HEAT_PUMP ||
              r.tstatCfg.systemType == SYSTEM_TYPE_TWO_STG_HEAT_PUMP);
    return 0;
}
