// Costs of the user interface on the main page, headless: one idle main-loop
// pass (nothing changed: the poll's timers and key checks, the render pass's
// update functions and string compares, no drawing) and one full redraw of
// the main page (clear, 76 items, flip). The frame publisher of the simulated
// board is detached so that the PNG encoder is not measured.
#include "alloc_counter.h"
#include "bus_board.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "core/tstat_main.h"
#include "display/display_manager.h"
#include "graphics/screen.h"
#include "graphics/screen_test.h"
#include "hvac/relay_control.h"
#include "platform/platform.h"
#include "platform/platform_display.h"
#include "platform/platform_test.h"

#include <benchmark/benchmark.h>

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

class MainPageShown {
  public:
    MainPageShown() {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        m_root.write("/sys/class/backlight/backlight/brightness", "");
        m_root.write("/sys/class/backlight/backlight/bl_power", "");
        busBoot(m_root, FactoryOptions{}); // Monday 07:00, the program's Wake period
        displayManagerReset();
        tstatMainReset();
        if (getcwd(m_oldCwd, sizeof(m_oldCwd)) == nullptr || chdir(TSTAT_BUILD_DIR "/data") != 0) {
            return;
        }
        RlyCntl_Init();
        setComfortRecoveryModeState(OFFON_OFF);
        setMovAvgIndTemp(20 * FPR_ONE);
        setMovAvgHum(40 * FPR_ONE);
        TstatFiveDayForecast_t fiveDay{};
        for (size_t d = 0; d < FORECAST_DAYS; d++) {
            fiveDay.condition[d] = 21;
            fiveDay.highTemp[d] = -2 * FPR_ONE;
            fiveDay.lowTemp[d] = -9 * FPR_ONE;
        }
        fiveDay.currentCondition = 22;
        setFiveDayForecast(&fiveDay);
        displayManagerInit();
        platformDisplayStop();
        // Let the start-up settle: key edges, relay pulses, icon timers.
        for (int i = 0; i < 40; i++) {
            tstatMainLoopPass();
            platformFakeClockAdvanceMs(500);
        }
        tstatMainLoopPass();
    }
    ~MainPageShown() {
        displayManagerReset();
        PersistUtil_Reset();
        if (m_oldCwd[0] != '\0' && chdir(m_oldCwd) != 0) {
            return;
        }
    }
    bool ready() const { return g_displayHdl != nullptr && g_displayHdl->currentScreen != nullptr; }

  private:
    TempBoardRoot m_root;
    char m_oldCwd[PATH_MAX] = {};
};

// The measured pass, by itself, so that callgrind can count its instructions
// (valgrind --tool=callgrind --toggle-collect='*idleMainLoopPass*').
__attribute__((noinline)) void idleMainLoopPass() {
    tstatMainLoopPass();
}

// One full redraw, likewise (--toggle-collect='*fullRedraw*').
__attribute__((noinline)) void fullRedraw() {
    g_displayHdl->dirty = 1;
    screenRender(g_displayHdl);
}

void BM_IdleMainLoopPassOnTheMainPage(benchmark::State &state) {
    MainPageShown ui;
    if (!ui.ready()) {
        state.SkipWithError("the display did not start");
        return;
    }
    uint32_t flipsBefore = screenRenderCounters().flips;
    allocCounterStart();
    for (auto _ : state) {
        idleMainLoopPass();
    }
    uint64_t allocations = allocCounterStop();
    state.counters["allocations"] = static_cast<double>(allocations);
    state.counters["flips"] = screenRenderCounters().flips - flipsBefore;
    if (allocations != 0 || screenRenderCounters().flips != flipsBefore) {
        state.SkipWithError("an idle pass drew or allocated");
    }
}
BENCHMARK(BM_IdleMainLoopPassOnTheMainPage);

void BM_FullMainPageRedraw(benchmark::State &state) {
    MainPageShown ui;
    if (!ui.ready()) {
        state.SkipWithError("the display did not start");
        return;
    }
    uint32_t blitsBefore = screenRenderCounters().blits;
    allocCounterStart();
    for (auto _ : state) {
        fullRedraw();
    }
    double frames = static_cast<double>(state.iterations());
    state.counters["allocations/frame"] = static_cast<double>(allocCounterStop()) / frames;
    state.counters["blits/frame"] =
        static_cast<double>(screenRenderCounters().blits - blitsBefore) / frames;
}
BENCHMARK(BM_FullMainPageRedraw)->Unit(benchmark::kMicrosecond);

} // namespace
