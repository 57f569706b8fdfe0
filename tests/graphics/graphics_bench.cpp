// Render-pass benchmarks on the main page's 76-item screen, headless: a clean
// pass (nothing changed: update functions and string compares only) and a
// full redraw (clear, 76 items, flip). The frame publisher of the simulated
// board is detached so that only the engine is measured.
#include "alloc_counter.h"
#include "demo_screens.h"

#include "graphics/screen.h"
#include "graphics/screen_test.h"
#include "platform/platform.h"
#include "platform/platform_display.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

class MainScreen {
  public:
    MainScreen() {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        m_root = std::filesystem::temp_directory_path() / "tstat-bench-root";
        std::filesystem::create_directories(m_root / "sys/class/backlight/backlight");
        for (const char *file : {"brightness", "bl_power"}) {
            FILE *f = fopen((m_root / "sys/class/backlight/backlight" / file).c_str(), "w");
            if (f != nullptr) {
                fclose(f);
            }
        }
        setenv("TSTAT_ROOT", m_root.c_str(), 1);
        platformReset();
        if (chdir(TSTAT_BUILD_DIR "/data") != 0) {
            return;
        }
        m_display = screenInit();
        if (m_display == nullptr) {
            return;
        }
        platformDisplayStop();
        screenSetCurrentScreen(m_display, demoMainWithWeather);
        size_t count = 0;
        demoScreens(&count)[0].prepare(m_display);
        screenRender(m_display);
    }
    ~MainScreen() {
        screenReset();
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    DisplayHandle display() const { return m_display; }

  private:
    std::filesystem::path m_root;
    DisplayHandle m_display = nullptr;
};

void BM_CleanRenderPass76(benchmark::State &state) {
    MainScreen main;
    if (main.display() == nullptr) {
        state.SkipWithError("the display did not start");
        return;
    }
    uint32_t flipsBefore = screenRenderCounters().flips;
    allocCounterStart();
    for (auto _ : state) {
        screenRender(main.display());
    }
    uint64_t allocations = allocCounterStop();
    state.counters["flips"] = screenRenderCounters().flips - flipsBefore;
    state.counters["allocations"] = static_cast<double>(allocations);
    if (allocations != 0 || screenRenderCounters().flips != flipsBefore) {
        state.SkipWithError("a clean pass drew or allocated");
    }
}
BENCHMARK(BM_CleanRenderPass76);

void BM_FullRedraw76(benchmark::State &state) {
    MainScreen main;
    if (main.display() == nullptr) {
        state.SkipWithError("the display did not start");
        return;
    }
    uint32_t blitsBefore = screenRenderCounters().blits;
    allocCounterStart();
    for (auto _ : state) {
        main.display()->dirty = 1;
        screenRender(main.display());
    }
    double frames = static_cast<double>(state.iterations());
    state.counters["allocations/frame"] = static_cast<double>(allocCounterStop()) / frames;
    state.counters["blits/frame"] =
        static_cast<double>(screenRenderCounters().blits - blitsBefore) / frames;
}
BENCHMARK(BM_FullRedraw76)->Unit(benchmark::kMicrosecond);

} // namespace
