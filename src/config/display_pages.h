// The display page numbers: the display manager's page identifiers, which
// also index the page refresh-request set of the data dictionary.
#pragma once

#include <array>
#include <cstdint>

enum DisplayPage : uint8_t {
    PAGE_MAIN = 0,
    PAGE_DETAIL_FORECAST = 1,
    PAGE_FIVE_DAY_FORECAST = 2,
    PAGE_TSTAT_MODE = 3,
    PAGE_HOLD = 4,
    PAGE_PROGRAM = 5,
    PAGE_VACATION = 6,
    PAGE_SETTINGS = 7,
    PAGE_UNUSED_8 = 8,
    PAGE_SEC_CODE_INPUT = 9,
    PAGE_SEC_CODE_CONFIG = 10,
    PAGE_USER_PREF = 11,
    PAGE_ADV_SETUP = 12,
    PAGE_BUS_ADDRESS = 13,
    PAGE_BUTTON_LOCKOUT = 14,
    PAGE_TSTAT_SETUP = 15,
    PAGE_MESSAGE = 16,
    PAGE_HELP = 17,
    PAGE_VACATION_HELP = 18,
    PAGE_PROGRAM_HELP = 19,
};
constexpr unsigned DISPLAY_PAGE_COUNT = 20;

// The pages' names, in page number order, for tools and the simulator.
constexpr std::array<const char *, DISPLAY_PAGE_COUNT> c_DisplayPageNames = {
    "main",
    "current conditions",
    "five-day forecast",
    "thermostat mode",
    "hold",
    "program schedule",
    "vacation",
    "settings",
    "page 8",
    "security code",
    "configure security code",
    "user preferences",
    "advanced setup",
    "bus address setup",
    "button lockout",
    "thermostat setup",
    "message",
    "help",
    "vacation help",
    "program help"};
