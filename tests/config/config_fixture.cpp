// Shared set-up of the configuration store tests.
#include "config_fixture.h"

#include "platform/platform_test.h"

#include "modules.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

TstatSetPoint_t setPoint(double heat, double cool, int hour, int minute, double humidify,
                         double dehumidify) {
    return {
        fx(heat),     fx(cool),      static_cast<uint8_t>(hour), static_cast<uint8_t>(minute), 0,
        fx(humidify), fx(dehumidify)};
}

TstatSysCfgPersistMem_t testRecord(uint32_t identity) {
    TstatSysCfgPersistMem_t r;
    memset(&r, 0, sizeof(r));
    r.tstatSysCfgId = identity;
    r.lockoutCfg.buttonLockout = LOCK_UNLOCKED;
    r.securityCode = 1234;
    r.tstatCfg.systemType = SYSTEM_TYPE_ONE_STG_FURNACE;
    r.tstatCfg.setpointMargin = fx(0.25);
    r.tstatCfg.firstStageDiff = fx(0.5);
    r.tstatCfg.secondStageDiff = fx(0.5);
    r.tstatCfg.deadband = fx(1.5);
    r.tstatCfg.cycleRate = 4;
    r.bkLightCtl.backlightTimeout = 30;
    r.hvacSettings.hvacState = HVAC_STATE_HEAT;
    r.hvacSettings.humidityHysteresis = fx(5);
    r.tstatFmtSettings.tempScale = TEMP_SCALE_CELSIUS;
    r.tstatMode.mode = TSTAT_MODE_PROGRAM;
    r.tstatMode.holdSetPoint = setPoint(20, 26, 0, 0);
    r.tstatMode.vacationSetPoint = setPoint(15, 30, 0, 0);
    for (auto &day : r.prgSetPnt) {
        day.period[0] = setPoint(21, 25, 6, 30);
        day.period[1] = setPoint(17, 29, 8, 0);
        day.period[2] = setPoint(21, 25, 18, 0);
        day.period[3] = setPoint(17, 28, 22, 0);
    }
    r.humidifyState = HUMIDIFY_STATE_OFF;
    r.filterChangeMaxHourTime = 2160;
    r.clockYear = 124;
    memset(r.reserved, 0xA5, sizeof(r.reserved));
    r.helpModeState = OFFON_OFF;
    r.comfortRecoveryModeState = OFFON_ON;
    return r;
}

void ConfigTest::SetUp() {
    resetModules<Layer::Config>();
    setWallClock(localEpoch(2024, 6, 10, 12, 0));
}

void ConfigTest::TearDown() {
    resetModules<Layer::Config>();
}

int ConfigTest::boot(const std::optional<std::string> &factory,
                     const std::optional<std::string> &user,
                     const std::optional<std::string> &serial) {
    m_root.write("/dev/.keep", "");
    if (factory) {
        m_root.write("/dev/mtdblock4", *factory);
    }
    if (user) {
        m_root.write("/dev/mtdblock5", *user);
    }
    if (serial) {
        m_root.write("/dev/mtdblock8", *serial);
    }
    if (PersistUtil_Init() != 0) {
        return -2;
    }
    return initThermostatSysCfg();
}

void ConfigTest::bootTestRecord() {
    ASSERT_EQ(boot(bytesOf(testRecord(TSTAT_SYS_CFG_FACTORY_ID)), bytesOf(testRecord())), 0);
}

void ConfigTest::setWallClock(int64_t seconds) {
    platformFakeClockSet(1000, 0, seconds);
}

void ConfigTest::setLocalTime(int year, int month, int day, int hour, int minute, int second) {
    setWallClock(localEpoch(year, month, day, hour, minute, second));
}

void ZonedConfigTest::SetUp() {
    m_zone.emplace(GetParam());
    ConfigTest::SetUp();
}

void ZonedConfigTest::TearDown() {
    ConfigTest::TearDown();
    m_zone.reset();
}

bool ZonedConfigTest::zoneHasDaylightSaving() const {
    return strchr(GetParam(), ',') != nullptr;
}
