// Control-bus commands of the weekly program: one period read ("?PG") and
// written ("PG").
#include "config/schedule.h"
#include "korabus/korabus_command_support.h"
#include "korabus/korabus_data.h"
#include "korabus/korabus_internal.h"

namespace {

// A program start hhmm below 0 or above 2399 starts the period at 23:59.
constexpr int32_t c_LastStartCode = 2399;
constexpr int32_t c_LastStartTime = 2359;

// Day 0-6 and period 1-4 of the program commands; -1 when out of range.
bool programPeriod(int32_t day, int32_t period, uint32_t *dayOut, uint32_t *periodOut) {
    if (!korabusInRange(day, 0, TSTAT_DAYS_PER_WEEK - 1) ||
        !korabusInRange(period, 1, TSTAT_PERIODS_PER_DAY)) {
        return false;
    }
    *dayOut = static_cast<uint32_t>(day);
    *periodOut = static_cast<uint32_t>(period - 1);
    return true;
}

} // namespace

void korabusCommandGetProgramConfiguration(char *args) {
    static constexpr std::array<const char *, 2> c_Descriptors = {"SP", "D"};
    enum { PERIOD, DAY, FIELDS };
    int32_t values[FIELDS] = {0, 0};
    bool given[FIELDS] = {false, false};
    if (!korabusReadNumberFields(args, c_Descriptors, values, given)) {
        return;
    }
    uint32_t day = 0;
    uint32_t period = 0;
    if (!given[PERIOD] || !given[DAY] ||
        !programPeriod(values[DAY], values[PERIOD], &day, &period)) {
        return;
    }
    TstatSetPoint_t setPoint;
    if (getProgramThermostatSettings(period, day, &setPoint) != 0) {
        return;
    }
    korabusReply("PG D%d SP%d HT%d C%d HM%d DM%d T%02u%02u", static_cast<int>(day),
                 static_cast<int>(period + 1), fprCelsiusToZephKorabusTemp(setPoint.heatSetPoint),
                 fprCelsiusToZephKorabusTemp(setPoint.coolSetPoint),
                 korabusIntegerPart(setPoint.humidifySetPoint),
                 korabusIntegerPart(setPoint.dehumidifySetPoint), setPoint.startHour,
                 setPoint.startMinute);
}

void korabusCommandSetProgramConfiguration(char *args) {
    static constexpr std::array<const char *, 7> c_Descriptors = {"SP", "HT", "HM", "DM",
                                                                  "D",  "C",  "T"};
    enum { PERIOD, HEAT, HUMIDIFY, DEHUMIDIFY, DAY, COOL, TIME, FIELDS };
    int32_t values[FIELDS] = {};
    bool given[FIELDS] = {};
    if (!korabusReadNumberFields(args, c_Descriptors, values, given)) {
        return;
    }
    for (int field = PERIOD; field < TIME; field++) {
        if (!given[field]) {
            return;
        }
    }
    uint32_t day = 0;
    uint32_t period = 0;
    fpr_t heat = 0;
    fpr_t cool = 0;
    if (!programPeriod(values[DAY], values[PERIOD], &day, &period) ||
        !korabusIsPercent(values[HUMIDIFY]) || !korabusIsPercent(values[DEHUMIDIFY])) {
        return;
    }
    korabusReadSetPoints(values[HEAT], values[COOL], &heat, &cool);
    int32_t start = values[TIME];
    if (given[TIME]) {
        if (start < 0 || start > c_LastStartCode) {
            start = c_LastStartTime;
        } else if (start % 100 > 59) {
            // Not a time of day.
            return;
        }
    }
    TstatSetPoint_t setPoint;
    if (getProgramThermostatSettings(period, day, &setPoint) != 0) {
        return;
    }
    fpr_t humidify = korabusFprFromWhole(values[HUMIDIFY]);
    fpr_t dehumidify = korabusFprFromWhole(values[DEHUMIDIFY]);
    setPoint.heatSetPoint = heat;
    setPoint.coolSetPoint = cool;
    setPoint.humidifySetPoint = humidify;
    setPoint.dehumidifySetPoint = dehumidify;
    if (given[TIME]) {
        setPoint.startHour = static_cast<uint8_t>(start / 100);
        setPoint.startMinute = static_cast<uint8_t>(start % 100);
    }
    setProgramThermostatSettings(period, day, &setPoint);
    // The humidity setpoints are the same in every period.
    korabusIncDecHumiditySetpoint(humidify, dehumidify);
}
