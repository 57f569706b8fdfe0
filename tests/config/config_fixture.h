// Shared set-up of the configuration store tests: a throw-away board root
// with factory, user and serial regions, a known test record, the fake clock
// and time zones.
#pragma once

#include "board_root.h"
#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "fixed.h"
#include "modules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

// A setpoint record.
TstatSetPoint_t setPoint(double heat, double cool, int hour, int minute, double humidify = 35,
                         double dehumidify = 55);

// A complete record in Celsius: every day Wake 06:30 21/25, Leave 08:00 17/29,
// Return 18:00 21/25, Sleep 22:00 17/28; heat mode, program mode, deadband
// 1.5, margin 0.25, comfort recovery on, reserved bytes 0xA5.
TstatSysCfgPersistMem_t testRecord(uint32_t identity = TSTAT_SYS_CFG_USER_ID);

// The time zones every date-dependent test runs in.
inline const char *const c_TestZones[] = {"UTC0", "EST5EDT,M3.2.0,M11.1.0"};

class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the three regions (nullopt leaves a region's file missing), opens
    // them and loads the record as start-up does; returns initThermostatSysCfg's result.
    int boot(const std::optional<std::string> &factory, const std::optional<std::string> &user,
             const std::optional<std::string> &serial = std::string());
    // Boots with testRecord() in the user region and its factory twin.
    void bootTestRecord();
    // Sets the fake wall clock (and a monotonic clock) to the given seconds.
    void setWallClock(int64_t seconds);
    // Sets the fake wall clock to a local time.
    void setLocalTime(int year, int month, int day, int hour, int minute, int second = 0);
    // The record as the store holds it.
    static TstatSysCfgPersistMem_t image() { return memoryRecord(); }
    // The record stored in the user region.
    TstatSysCfgPersistMem_t userRegion() const { return recordIn(m_root.read("/dev/mtdblock5")); }

    TempBoardRoot m_root;
};

// ConfigTest run once per test time zone.
class ZonedConfigTest : public ConfigTest, public ::testing::WithParamInterface<const char *> {
  protected:
    void SetUp() override;
    void TearDown() override;
    bool zoneHasDaylightSaving() const;

  private:
    std::optional<ScopedTimeZone> m_zone;
};
