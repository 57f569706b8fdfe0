// Menu pages whose bodies come with the menu modules; each module removes its
// functions from this file as it lands.
#include "menus/menu_pages.h"

void initialiseHoldModeMenu() {}
void getHoldModeSPFromDataDict() {}
void initialiseProgramMenu() {}
void getCurrDayProgModeSPFromDataDict(uint8_t) {}
uint8_t getProgramMenuDay() {
    return 0;
}
void initialiseVacationModeMenu() {}
void getVacModeSPFromDataDict() {}
void getUserPrefFromDataDict() {}
void getButtonLockoutFromDataDict() {}
