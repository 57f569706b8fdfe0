// Display manager. Until the pages exist, start-up only prepares the
// temperature format that the setpoint rules of the schedule depend on; the
// page dispatcher comes with the display manager module, which fills in the
// bodies below.
#include "display/display_manager.h"
#include "display/pages.h"

#include "config/temp_scale.h"

namespace {
uint8_t m_CurrentPage = PAGE_MAIN;
}

void displayManagerInit() {
    initialiseTStatFormat();
}

void displayManagerPoll() {}
void displayManagerStop() {}
void dispManSetUnderVoltageWarning(uint8_t) {}

void dispManSetCurrentPage(uint8_t page) {
    m_CurrentPage = page;
}

uint8_t dispManGetCurrentPage() {
    return m_CurrentPage;
}

void displayManagerEnableBacklight() {}
uint32_t getBacklightTimerFlag() {
    return 1;
}
void clearBacklightTimerFlag() {}
uint8_t dispManIsScreenSaverShown() {
    return 0;
}
void dispManRemoveScreenSaverText() {}
void resetLockoutFlags() {}

void displayMainPage() {
    m_CurrentPage = PAGE_MAIN;
}

void displayMessageScreenPage(const char *) {
    m_CurrentPage = PAGE_MESSAGE;
}
