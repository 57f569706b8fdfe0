// Costs of the main loop on the factory configuration, headless and on the
// fake clock (Monday 07:00, the program's Wake period): one idle pass with
// the main page shown (nothing changed: the poll's timers and key checks, the
// render pass's update functions and string compares, no drawing), one full
// redraw of the main page (clear, 76 items, flip), one control run of a
// two-stage heat pump (schedule, stage, humidity and fan decisions), and the
// control bus's work: a command string through parse, handler and reply (a
// program query, and a mode change that saves the record) and a full channel
// dump after the bus came online, the pass in a new clock second that
// redraws the time, and a key press on the main page up to the flipped frame
// of the hold page. The frame publisher of the simulated board is detached so
// that the PNG encoder is not measured; for the bus the link writes to
// /dev/null and the fake clock makes the 60 ms pauses free.
#include "alloc_counter.h"
#include "bus_board.h"

#include "app/tstat_main.h"
#include "config/data_dict.h"
#include "config/display_pages.h"
#include "config/forecast.h"
#include "config/persist.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "dispman/display_manager.h"
#include "graphics/screen.h"
#include "graphics/screen_test.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "korabus/korabus_data.h"
#include "pages/page_table.h"
#include "platform/platform_display.h"
#include "platform/platform_test.h"

#include "coproc_frame.h"

#include <benchmark/benchmark.h>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Board {
  public:
    explicit Board(SystemType type = SYSTEM_TYPE_ONE_STG_FURNACE) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        m_root.write("/sys/class/backlight/backlight/brightness", "");
        m_root.write("/sys/class/backlight/backlight/bl_power", "");
        m_root.write("/dev/input/.keep", "");
        const std::string keys = m_root.file("/dev/input/event0");
        if (mkfifo(keys.c_str(), 0600) == 0) {
            m_keys = open(keys.c_str(), O_RDWR | O_NONBLOCK);
        }
        busBoot(m_root, FactoryOptions{.systemType = type});
        displayManagerReset();
        pagesReset();
        tstatMainReset();
        if (getcwd(m_oldCwd, sizeof(m_oldCwd)) == nullptr || chdir(TSTAT_BUILD_DIR "/data") != 0) {
            return;
        }
        RlyCntl_Init();
        // Comfort recovery prints a line each time it recomputes its setpoint.
        setComfortRecoveryModeState(OFFON_OFF);
        setMovAvgIndTemp(20 * FPR_ONE);
        setMovAvgHum(40 * FPR_ONE);
        TstatFiveDayForecast_t fiveDay{};
        for (size_t d = 0; d < FORECAST_DAYS; d++) {
            fiveDay.condition[d] = 21;
            fiveDay.highTemp[d] = -2 * FPR_ONE;
        }
        setFiveDayForecast(&fiveDay);
        displayManagerInit(pageTable());
        platformDisplayStop();
        // Let the start-up settle: key edges, relay pulses, icon timers.
        for (int i = 0; i < 40; i++) {
            tstatMainLoopPass();
            platformFakeClockAdvanceMs(500);
        }
        tstatMainLoopPass();
    }
    ~Board() {
        if (m_keys >= 0) {
            close(m_keys);
        }
        displayManagerReset();
        pagesReset();
        coprocMsgReset();
        PersistUtil_Reset();
        if (m_oldCwd[0] != '\0' && chdir(m_oldCwd) != 0) {
            return;
        }
    }
    bool ready() const { return g_displayHdl != nullptr && g_displayHdl->currentScreen != nullptr; }
    // The control bus's link, writing to /dev/null.
    static void attachLink() {
        g_coprocHdl = coprocCommAttach(open("/dev/null", O_WRONLY), coprocMsgProcess);
    }

    // Puts a key event (1 pressed, 0 released) on the key device.
    void key(uint16_t code, int32_t value) const {
        uint8_t record[PLATFORM_KEY_EVENT_SIZE];
        platformEncodeKeyEvent(PlatformKeyEvent{1, code, value}, record);
        if (write(m_keys, record, sizeof(record)) != static_cast<ssize_t>(sizeof(record))) {
            return;
        }
    }

  private:
    TempBoardRoot m_root;
    int m_keys = -1;
    char m_oldCwd[PATH_MAX] = {};
};

} // namespace

// Brackets each measured body, so that an instruction trace of the emulated
// board's core counts what runs between two calls (scripts/arm926-cost.sh
// finds it by this name).
extern "C" __attribute__((noinline)) void tstat_cost_mark() {
    __asm__ volatile("");
}

namespace {

// The measured pass, by itself, so that callgrind can count its instructions
// (valgrind --tool=callgrind --toggle-collect='*idleMainLoopPass*').
__attribute__((noinline)) void idleMainLoopPass() {
    tstat_cost_mark();
    tstatMainLoopPass();
    tstat_cost_mark();
}

// One full redraw, likewise (--toggle-collect='*fullRedraw*').
__attribute__((noinline)) void fullRedraw() {
    tstat_cost_mark();
    g_displayHdl->dirty = 1;
    screenRender(g_displayHdl);
    tstat_cost_mark();
}

void BM_IdleMainLoopPassOnTheMainPage(benchmark::State &state) {
    Board board;
    if (!board.ready()) {
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
    Board board;
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

// The pass in a new wall-clock second on the main page (the screen saver
// kept off): its texts are refreshed, and drawn again where they changed.
// The argument is the step of the clock in seconds: 60 shows a new minute.
void BM_MainLoopPassInANewSecond(benchmark::State &state) {
    Board board;
    setScrSaverState(FEATURE_DISABLE);
    uint32_t flipsBefore = screenRenderCounters().flips;
    for (auto _ : state) {
        state.PauseTiming();
        platformFakeClockAdvanceMs(static_cast<uint64_t>(state.range(0)) * 1000);
        state.ResumeTiming();
        idleMainLoopPass();
    }
    state.counters["flips/pass"] =
        static_cast<double>(screenRenderCounters().flips - flipsBefore) / state.iterations();
    if (dispManGetCurrentPage() != PAGE_MAIN) {
        state.SkipWithError("the main page was left");
    }
}
BENCHMARK(BM_MainLoopPassInANewSecond)->Arg(1)->Arg(60)->Unit(benchmark::kMicrosecond);

// The up key on the main page: the passes from the press to the flipped
// frame of the hold page (its pictures loaded, the page drawn whole).
__attribute__((noinline)) bool keyToFrame() {
    uint32_t flipsBefore = screenRenderCounters().flips;
    tstat_cost_mark();
    for (int pass = 0; pass < 10 && screenRenderCounters().flips == flipsBefore; pass++) {
        tstatMainLoopPass();
    }
    tstat_cost_mark();
    return screenRenderCounters().flips != flipsBefore;
}

void BM_KeyPressToHoldPageFrame(benchmark::State &state) {
    Board board;
    constexpr uint16_t up = 0x102;
    for (auto _ : state) {
        board.key(up, 1);
        if (!keyToFrame() || dispManGetCurrentPage() != PAGE_HOLD) {
            state.SkipWithError("the key did not open the hold page");
            return;
        }
        // Released, and back on the main page after the hold page's time-out.
        state.PauseTiming();
        board.key(up, 0);
        for (int i = 0; i < 12 && dispManGetCurrentPage() != PAGE_MAIN; i++) {
            platformFakeClockAdvanceMs(1000);
            tstatMainLoopPass();
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_KeyPressToHoldPageFrame)->Unit(benchmark::kMicrosecond);

void BM_BusCommand(benchmark::State &state, const char *command) {
    Board board;
    Board::attachLink();
    for (auto _ : state) {
        busCommand(command);
    }
}
BENCHMARK_CAPTURE(BM_BusCommand, Query, "?PG D3 SP2");
BENCHMARK_CAPTURE(BM_BusCommand, ModeChangeAndSave, "MD MPH H68 C76");

void BM_FullChannelDump(benchmark::State &state) {
    Board board;
    Board::attachLink();
    const std::vector<uint8_t> offline = coprocFrameOf(COPROC_PKT_BUS_STATUS, {0, 0, 0});
    const std::vector<uint8_t> online = coprocFrameOf(COPROC_PKT_BUS_STATUS, {1, 0, 0});
    korabusDataPollChannels();
    for (auto _ : state) {
        coprocMsgProcess(offline.data(), static_cast<uint16_t>(offline.size()));
        coprocMsgProcess(online.data(), static_cast<uint16_t>(online.size()));
        korabusDataPollChannels();
    }
}
BENCHMARK(BM_FullChannelDump);

} // namespace
