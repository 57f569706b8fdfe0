// Every module of the application back to its state at process start, for
// the tests: one reset per module with state.
#pragma once

#include "app/tstat_main.h"
#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "coproc/coproc_msg.h"
#include "coproc/download.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "hvac/sensors.h"
#include "korabus/korabus_command.h"
#include "korabus/korabus_data.h"
#include "menus/menu_engine.h"
#include "mfgtest/mfgtest.h"
#include "pages/page_table.h"
#include "platform/platform_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

// The layers of the application, bottom up: a test resets the modules of
// its own subsystem's layer and of every layer below it, and links no more.
enum class Layer { Config, Coproc, Hvac, Graphics, Ui, MfgTest, Bus, All };

template <Layer top = Layer::All> void resetModules() {
    if constexpr (top >= Layer::Ui) {
        menuEngineReset();
        displayManagerReset();
        // Every page of the page table.
        pagesReset();
    }
    PersistUtil_Reset();
    dataDictReset();
    forecastReset();
    scheduleReset();
    tempScaleReset();
    if constexpr (top >= Layer::Hvac) {
        hvacControlReset();
        RlyCntl_Reset();
        Sensors_Reset();
    }
    if constexpr (top >= Layer::Coproc) {
        downloadReset();
        coprocMsgReset();
    }
    if constexpr (top >= Layer::Bus) {
        korabusDataReset();
        korabusCommandReset();
    }
    if constexpr (top >= Layer::All) {
        tstatMainReset();
    }
    if constexpr (top >= Layer::MfgTest) {
        mfgTestReset();
    }
    if constexpr (top >= Layer::Graphics) {
        buttonReset();
        platformDisplayReset();
    }
}

// Reads a setting through its getter, changes it and writes it back:
// edit(getTstatConfiguration, setTstatConfiguration, [](auto &c) { ... }).
template <typename T, typename Change>
void edit(void (*get)(T *), void (*set)(const T *), Change change) {
    T value{};
    get(&value);
    change(value);
    set(&value);
}

// The value a getter gives: valueOf(getHoldThermostatSettings).
template <typename T> T valueOf(void (*get)(T *)) {
    T value{};
    get(&value);
    return value;
}

// The configuration record as the store holds it, and as a region's bytes hold it.
inline TstatSysCfgPersistMem_t memoryRecord() {
    return valueOf(copyThermostatSysCfg);
}
inline TstatSysCfgPersistMem_t recordIn(const std::string &bytes) {
    TstatSysCfgPersistMem_t record{};
    memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof(record)));
    return record;
}

// Changes the display's temperature scale in memory.
inline void setScale(TempScale scale) {
    edit(getThermostatFormatSettings, setThermostatFormatSettings,
         [&](auto &fmt) { fmt.tempScale = scale; });
}

// The set points in force now.
inline TstatSetPoint_t setPointsInForce() {
    TstatSetPoint_t inForce{};
    EXPECT_EQ(getCurrentThermostatSettings(&inForce), 0);
    return inForce;
}
