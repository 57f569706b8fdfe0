// The user interface test fixture.
#include "ui_fixture.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "menus/menu_engine.h"
#include "pages/adv_setup_menu.h"
#include "pages/button_lockout_menu.h"
#include "pages/config_sec_code_menu.h"
#include "pages/hold_menu.h"
#include "pages/korabus_comm_menu.h"
#include "pages/page_table.h"
#include "pages/pages.h"
#include "pages/program_menu.h"
#include "pages/security_code_menu.h"
#include "pages/settings_menu.h"
#include "pages/tstat_menu.h"
#include "pages/tstat_setup_menu.h"
#include "pages/user_pref_menu.h"
#include "pages/vacation_menu.h"
#include "platform/platform.h"
#include "platform/platform_display.h"
#include "platform/platform_test.h"

#include "modules.h"
#include "printed.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t PASS_MS = 100;

std::vector<std::string> m_busReports;
const BusReportHooks c_RecordedBusReports{
    [] { m_busReports.push_back("mode"); },
    [] { m_busReports.push_back("formats"); },
    [] { m_busReports.push_back("message cleared"); },
};

} // namespace

std::vector<std::string> UiTest::busReports() {
    std::vector<std::string> reports;
    reports.swap(m_busReports);
    return reports;
}

void UiTest::SetUp() {
    HeadlessDisplay::SetUp();
    setenv("TZ", "UTC0", 1);
    tzset();
    m_root.write("/dev/mtdblock5", "");
    m_root.write("/dev/mtdblock8", "");
    std::string fifo = m_root.file("/dev/input/event0");
    m_root.write("/dev/input/.keep", "");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << strerror(errno);
    m_keyFifo = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(m_keyFifo, 0);
    resetModules<Layer::Ui>();
    m_busReports.clear();
    setBusReportHooks(&c_RecordedBusReports);
    platformFakeClockSet(1000, 0, UI_TEST_WALL_TIME);
}

void UiTest::TearDown() {
    resetModules<Layer::Ui>();
    if (m_keyFifo >= 0) {
        close(m_keyFifo);
    }
    HeadlessDisplay::TearDown();
}

void UiTest::boot(const FactoryOptions &options) {
    FactoryOptions made = options;
    made.madeAt = UI_TEST_WALL_TIME;
    TstatSysCfgPersistMem_t record{};
    buildFactoryImage(made, &record);
    m_root.write("/dev/mtdblock4", bytesOf(record));
    printedBy([] {
        ASSERT_EQ(PersistUtil_Init(), 0);
        ASSERT_EQ(initThermostatSysCfg(), 0);
    });
    // Readings as the sensors would give them: 68 F indoors, 40 %.
    setMovAvgIndTemp(fx(20));
    setMovAvgHum(fx(40));
}

void UiTest::start() {
    std::string printed = printedBy([] { displayManagerInit(pageTable()); });
    ASSERT_NE(g_displayHdl, nullptr) << printed;
    pass(2);
}

void UiTest::pass(int count) {
    for (int i = 0; i < count; i++) {
        // What a test changes directly stands for the packets and control
        // runs that change it in the running thermostat.
        utilNoteChange();
        displayManagerPoll();
        platformFakeClockAdvanceMs(PASS_MS);
    }
}

void UiTest::keyEvent(uint16_t code, int32_t value) {
    uint8_t record[PLATFORM_KEY_EVENT_SIZE];
    platformEncodeKeyEvent(PlatformKeyEvent{BUTTON_EVENT_KEY, code, value}, record);
    ASSERT_EQ(write(m_keyFifo, record, sizeof(record)), static_cast<ssize_t>(sizeof(record)));
}

void UiTest::tap(uint16_t code) {
    press(code);
    pass();
    release(code);
    pass();
}

void UiTest::taps(uint16_t code, int count) {
    for (int i = 0; i < count; i++) {
        tap(code);
    }
}

void UiTest::keys(const std::string &script) {
    std::istringstream in(script);
    for (std::string step; in >> step;) {
        const uint16_t codes[] = {BUTTON_CODE_UP, BUTTON_CODE_DOWN, BUTTON_CODE_MODE};
        size_t key = std::string("UDM").find(step.back());
        ASSERT_NE(key, std::string::npos) << step;
        taps(codes[key], step.size() > 1 ? std::stoi(step.substr(0, step.size() - 1)) : 1);
    }
}

std::vector<uint8_t> UiTest::walk(uint16_t key, int count) {
    std::vector<uint8_t> indexes;
    for (int i = 0; i < count; i++) {
        tap(key);
        indexes.push_back(getCurrentMenuIndex());
    }
    return indexes;
}

std::vector<uint8_t> UiTest::walk(const std::string &script) {
    std::vector<uint8_t> indexes;
    std::istringstream in(script);
    for (std::string step; in >> step;) {
        keys(step);
        indexes.push_back(getCurrentMenuIndex());
    }
    return indexes;
}

void UiTest::tapUntil(uint16_t key, uint8_t index) {
    for (int i = 0; i < 20 && getCurrentMenuIndex() != index; i++) {
        tap(key);
    }
    ASSERT_EQ(getCurrentMenuIndex(), index);
}

void UiTest::enterCode(unsigned code) {
    displaySecCodeInpPage();
    pass();
    for (unsigned divisor = 1000; divisor > 0; divisor /= 10) {
        taps(BUTTON_CODE_UP, static_cast<int>(code / divisor % 10));
        tap(BUTTON_CODE_MODE);
    }
    tap(BUTTON_CODE_MODE);
}

void UiTest::holdKey(uint16_t code, uint32_t ms) {
    press(code);
    pass();
    wait(ms);
    release(code);
    pass();
}

void UiTest::wait(uint32_t ms) {
    pass(static_cast<int>((ms + PASS_MS - 1) / PASS_MS));
}

std::string UiTest::brightness() const {
    return m_root.read("/sys/class/backlight/backlight/brightness");
}

ScreenItem *UiTest::screen() const {
    return g_displayHdl != nullptr ? g_displayHdl->currentScreen : nullptr;
}

std::string UiTest::textOf(const ScreenItem *item) const {
    return item != nullptr ? std::string(item->text) : std::string("<none>");
}

bool UiTest::visible(const ScreenItem *item) const {
    if (item == nullptr) {
        return false;
    }
    if (item->kind == SCREEN_ITEM_TEXT) {
        return static_cast<uint8_t>(item->textVisible) != 0 && item->font != nullptr;
    }
    return static_cast<uint8_t>(item->bitmapVisible) != 0 && item->bitmapSurface != nullptr;
}

std::string UiTest::imageOf(const ScreenItem *item) {
    return item != nullptr && item->imageFile != nullptr ? item->imageFile : "";
}

std::string UiTest::imageName(const ScreenItem *item) {
    std::string path = imageOf(item);
    path = path.substr(path.rfind('/') + 1);
    return path.substr(0, path.rfind(".png"));
}

void UiTest::editLockout(const std::function<void(TstatLockoutCfg_t &)> &change) {
    edit(getLockoutConfiguration, setLockoutConfiguration, change);
}
