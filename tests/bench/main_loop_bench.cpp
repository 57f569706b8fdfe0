// Costs of the main loop: one pass with nothing to do (the HVAC period not yet
// due, no key, no packet), and one full control run (schedule, stage, humidity
// and fan decisions) on the factory configuration of a two-stage heat pump.
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/temp_scale.h"
#include "core/tstat_main.h"
#include "factory_image.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "platform/platform.h"
#include "platform/platform_test.h"

#include "board_root.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <fstream>

namespace {

// A board root holding a factory image of the given system type, loaded.
class LoadedConfiguration {
  public:
    explicit LoadedConfiguration(SystemType type) {
        FactoryOptions options;
        options.systemType = type;
        options.madeAt = 1796601600;
        TstatSysCfgPersistMem_t record;
        buildFactoryImage(options, &record);
        m_root.write("/dev/mtdblock4",
                     std::string(reinterpret_cast<const char *>(&record), sizeof(record)));
        m_root.write("/dev/mtdblock5", "");
        m_root.write("/dev/mtdblock8", "");
        PersistUtil_Reset();
        dataDictReset();
        RlyCntl_Reset();
        hvacControlReset();
        tstatMainReset();
        platformFakeClockSet(1000, 0, 1796601600 + 7 * 3600); // a Monday, 07:00 UTC
        PersistUtil_Init();
        initThermostatSysCfg();
        initialiseTStatFormat();
        RlyCntl_Init();
        initialiseHvacAlgorithms();
        // Comfort recovery prints a line each time it recomputes its setpoint.
        setComfortRecoveryModeState(OFFON_OFF);
        setMovAvgIndTemp(19 * 8192);
        setMovAvgHum(40 * 8192);
    }
    ~LoadedConfiguration() { PersistUtil_Reset(); }

  private:
    TempBoardRoot m_root;
};

void BM_IdleMainLoopPass(benchmark::State &state) {
    LoadedConfiguration config(SYSTEM_TYPE_ONE_STG_FURNACE);
    // Let the start-up pulse sequences end, so the relay driver is idle too.
    for (int i = 0; i < 40; i++) {
        platformFakeClockAdvanceMs(500);
        RlyCntl_RefreshRelays();
    }
    initialiseHvacAlgorithms();
    for (auto _ : state) {
        tstatMainLoopPass();
    }
}
BENCHMARK(BM_IdleMainLoopPass);

void BM_FullControlRun(benchmark::State &state) {
    LoadedConfiguration config(SYSTEM_TYPE_TWO_STG_HEAT_PUMP);
    for (auto _ : state) {
        platformFakeClockAdvanceMs(15000);
        benchmark::DoNotOptimize(hvacExecuteAlgorithm(15));
    }
}
BENCHMARK(BM_FullControlRun);

} // namespace
