// For tests only: the main page's items, which the page keeps to itself, as
// the screen shown binds them (null while neither main screen is loaded).
#pragma once

#include "graphics/screen.h"

struct MainPageItems {
    ScreenItem *const &indoorTemp;
    ScreenItem *const &permanentHold;
    ScreenItem *const &holdStatusBitmap;
    ScreenItem *const &holdStatusText;
    ScreenItem *const &setPointBitmap;
    ScreenItem *const &relHumidity;
    ScreenItem *const &relHumidityText;
    ScreenItem *const &filterChangeIcon;
    ScreenItem *const &weatherAlertIcon;
    ScreenItem *const &coolingIcon;
    ScreenItem *const &heatingIcon;
    ScreenItem *const &auxIcon;
    ScreenItem *const &comfortMode1;
    ScreenItem *const &comfortMode2;
    ScreenItem *const &fanState;
    ScreenItem *const &hvacState;
    ScreenItem *const &mode;
};

const MainPageItems &mainPageItems();
