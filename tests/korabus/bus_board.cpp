// A thermostat as the control bus meets it.
#include "bus_board.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "coproc/coproc_msg.h"
#include "coproc/download.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "korabus/korabus_command.h"
#include "korabus/korabus_data.h"
#include "platform/platform_test.h"

#include "modules.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

void busBoot(const TempBoardRoot &root, const FactoryOptions &options) {
    setenv("TZ", "UTC0", 1);
    tzset();
    resetModules<Layer::Bus>();
    FactoryOptions made = options;
    made.madeAt = c_BusTestNow;
    TstatSysCfgPersistMem_t record;
    buildFactoryImage(made, &record);
    root.write("/dev/mtdblock4", bytesOf(record));
    root.write("/dev/mtdblock5", "");
    root.write("/dev/mtdblock8", "");
    root.write("/sim/shell.log", "");
    root.write("/tmp/.keep", "");
    platformFakeClockSet(1000, 0, c_BusTestNow);
    PersistUtil_Init();
    initThermostatSysCfg();
    initialiseTStatFormat();
    initialiseHvacAlgorithms();
    korabusInit();
}

void busCommand(const std::string &text) {
    char buffer[COPROC_TEXT_MAX + 1] = {};
    snprintf(buffer, sizeof(buffer), "%s", text.c_str());
    korabusDataProcessCommand(buffer);
}
