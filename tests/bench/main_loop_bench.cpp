// Costs of the main loop: one pass with nothing to do (the HVAC period not yet
// due, no key, no packet), and one full control run (schedule, stage, humidity
// and fan decisions) on the factory configuration of a two-stage heat pump.
#include "bus_board.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "core/tstat_main.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "platform/platform_test.h"

#include <benchmark/benchmark.h>

namespace {

// A board root holding a factory image of the given system type, loaded.
class LoadedConfiguration {
  public:
    explicit LoadedConfiguration(SystemType type) {
        FactoryOptions options{.systemType = type};
        busBoot(m_root, options);
        tstatMainReset();
        RlyCntl_Init();
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
