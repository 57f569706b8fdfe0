// The display manager's functions as the menus reach them: the registered
// table, or one whose functions do nothing before the display manager starts.

#include "menus/page_control.h"

namespace {

void noPage() {}

const PageControl c_NoPageControl = {
    .openPage = [](DisplayPage, const PageOpening &) {},
    .currentPage = []() -> uint8_t { return PAGE_MAIN; },
    .setCurrentPage = [](uint8_t) {},
    .setKeySlots = [](DispManFn, DispManFn, DispManFn) {},
    .setTimeout = [](uint32_t, DispManFn) {},
    .cancelTimeout = noPage,
    .cancelMainPageTimeout = noPage,
    .startCommitTimer = noPage,
    .commitTimerRanOut = []() -> uint8_t { return 0; },
    .resetLockoutFlags = noPage,
    .setTstatPageSelected = [](uint8_t) {},
    .setFiveDayFcastSelected = [](uint8_t) {},
    .setLeaveSPChange = [](uint8_t) {},
    .setSleepSPChange = [](uint8_t) {},
    .initialiseMainPage = noPage,
    .mainPage = noPage,
    .secCodeInpPage = noPage,
};

const PageControl *m_PageControl = &c_NoPageControl;

} // namespace

void pageControlRegister(const PageControl *control) {
    m_PageControl = control != nullptr ? control : &c_NoPageControl;
}

const PageControl &pageControl() {
    return *m_PageControl;
}
