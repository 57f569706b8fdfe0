// Control-bus commands of the set points and modes: the humidity set points
// ("SP"), the thermostat mode with its hold or vacation ("MD"), the display
// formats ("FM"), and the mode and format reports sent when they change.
#include "config/data_dict.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "core/util.h"
#include "korabus/korabus_command_support.h"
#include "korabus/korabus_data.h"
#include "korabus/korabus_internal.h"
#include "pages/menu_pages.h"

namespace {

constexpr int64_t c_SecondsPerDay = 86400;
constexpr int64_t c_SecondsPerHour = 3600;

// The fields of the mode command: "M" the mode, then the set points, the
// vacation's humidities and its length in days and hours.
constexpr std::array<const char *, 7> c_ModeDescriptors = {"M", "H", "C", "U", "D", "Y", "R"};
enum ModeField {
    FIELD_MODE,
    FIELD_HEAT,
    FIELD_COOL,
    FIELD_HUMIDIFY,
    FIELD_DEHUMIDIFY,
    FIELD_DAYS,
    FIELD_HOURS,
    MODE_FIELDS
};
struct ModeFields {
    int32_t values[MODE_FIELDS] = {};
    bool given[MODE_FIELDS] = {};
};

enum class ModeRead { Refused, ProgramNow, Read };

// The mode named by the "M" field; false for another text.
bool modeNamed(const char *value, ThermostatMode *mode) {
    if (value[0] == 'H' && value[1] == '\0') {
        *mode = TSTAT_MODE_HOLD;
    } else if (value[0] == 'P' && value[1] == 'H' && value[2] == '\0') {
        *mode = TSTAT_MODE_PERMANENT_HOLD;
    } else if (value[0] == 'V' && value[1] == '\0') {
        *mode = TSTAT_MODE_VACATION;
    } else {
        return false;
    }
    return true;
}

// Reads the fields in order into *fields and the mode into *mode. "M:P"
// goes back to the program at once: whatever follows is not looked at.
ModeRead readModeFields(char *args, ModeFields *fields, ThermostatMode *mode) {
    char *tokens[MODE_FIELDS];
    size_t n = korabusSplitTokens(args, tokens, MODE_FIELDS);
    for (size_t i = 0; i < n; i++) {
        char *value = nullptr;
        int which = korabusMatchDescriptor(tokens[i], c_ModeDescriptors, &value);
        if (which < 0) {
            return ModeRead::Refused;
        }
        fields->given[which] = true;
        if (which != FIELD_MODE) {
            if (!korabusNumber(value, &fields->values[which])) {
                return ModeRead::Refused;
            }
        } else if (value[0] == 'P' && value[1] == '\0') {
            return ModeRead::ProgramNow;
        } else if (!modeNamed(value, mode)) {
            return ModeRead::Refused;
        }
    }
    return ModeRead::Read;
}

// The hold set points of the command; false when one is missing.
bool storeHoldSetPoints(const ModeFields &fields) {
    if (!fields.given[FIELD_HEAT] || !fields.given[FIELD_COOL]) {
        return false;
    }
    fpr_t heat = 0;
    fpr_t cool = 0;
    korabusReadSetPoints(fields.values[FIELD_HEAT], fields.values[FIELD_COOL], &heat, &cool);
    TstatSetPoint_t hold;
    getHoldThermostatSettings(&hold);
    hold.heatSetPoint = heat;
    hold.coolSetPoint = cool;
    setHoldThermostatSettings(&hold);
    korabusRequestPageRefresh(PAGE_HOLD);
    return true;
}

// The vacation of the command; false when a field is missing or out of range.
bool storeVacation(const ModeFields &fields) {
    for (int field = FIELD_HEAT; field < MODE_FIELDS; field++) {
        if (!fields.given[field]) {
            return false;
        }
    }
    const int32_t *values = fields.values;
    // Days and hours are kept as bytes, so a larger count would leave a
    // vacation page that disagrees with its end; humidities are percent.
    if (!korabusIsPercent(values[FIELD_HUMIDIFY]) || !korabusIsPercent(values[FIELD_DEHUMIDIFY]) ||
        !korabusInRange(values[FIELD_DAYS], 0, UINT8_MAX) ||
        !korabusInRange(values[FIELD_HOURS], 0, UINT8_MAX)) {
        return false;
    }
    fpr_t heat = 0;
    fpr_t cool = 0;
    korabusReadSetPoints(values[FIELD_HEAT], values[FIELD_COOL], &heat, &cool);
    TstatSetPoint_t vacation;
    getVacationThermostatSettings(&vacation);
    vacation.heatSetPoint = heat;
    vacation.coolSetPoint = cool;
    vacation.humidifySetPoint = korabusFprFromWhole(values[FIELD_HUMIDIFY]);
    vacation.dehumidifySetPoint = korabusFprFromWhole(values[FIELD_DEHUMIDIFY]);
    vacation.startHour = static_cast<uint8_t>(values[FIELD_DAYS]);
    vacation.startMinute = static_cast<uint8_t>(values[FIELD_HOURS]);
    vacation.endTime = util_time(nullptr) + values[FIELD_DAYS] * c_SecondsPerDay +
                       values[FIELD_HOURS] * c_SecondsPerHour;
    setVacationThermostatSettings(&vacation);
    korabusRequestPageRefresh(PAGE_VACATION);
    return true;
}

} // namespace

void korabusCommandSetPoints(char *args) {
    static constexpr std::array<const char *, 2> c_Descriptors = {"H", "D"};
    enum { HUMIDIFY, DEHUMIDIFY, FIELDS };
    int32_t values[FIELDS] = {0, 0};
    bool given[FIELDS] = {false, false};
    if (!korabusReadNumberFields(args, c_Descriptors, values, given)) {
        return;
    }
    if (!given[HUMIDIFY] || !given[DEHUMIDIFY] || !korabusIsPercent(values[HUMIDIFY]) ||
        !korabusIsPercent(values[DEHUMIDIFY])) {
        return;
    }
    korabusIncDecHumiditySetpoint(korabusFprFromWhole(values[HUMIDIFY]),
                                  korabusFprFromWhole(values[DEHUMIDIFY]));
}

void korabusCommandMode(char *args) {
    ModeFields fields;
    ThermostatMode mode = getThermostatMode();
    ModeRead read = readModeFields(args, &fields, &mode);
    if (read == ModeRead::Refused) {
        return;
    }
    if (read == ModeRead::ProgramNow) {
        mode = TSTAT_MODE_PROGRAM;
    } else if (mode == TSTAT_MODE_HOLD || mode == TSTAT_MODE_PERMANENT_HOLD) {
        if (!storeHoldSetPoints(fields)) {
            return;
        }
    } else if (mode == TSTAT_MODE_VACATION) {
        if (!storeVacation(fields)) {
            return;
        }
    } else if (mode != TSTAT_MODE_PROGRAM) {
        // A stored mode outside the four known ones is left alone.
        return;
    }
    setThermostatMode(mode);
    korabusSave();
}

void korabusCommandFormat(char *args) {
    char *tokens[c_MaxTokens];
    size_t n = korabusSplitTokens(args, tokens, c_MaxTokens);
    TstatFmtSettings_t fmt;
    getThermostatFormatSettings(&fmt);
    for (size_t i = 0; i < n; i++) {
        const char *t = tokens[i];
        if (t[0] == 'S' && t[1] == 'F') {
            fmt.tempScale = TEMP_SCALE_FAHRENHEIT;
        } else if (t[0] == 'S' && t[1] == 'C') {
            fmt.tempScale = TEMP_SCALE_CELSIUS;
        } else if (t[0] == 'D' && t[1] == 'D') {
            fmt.dateFormat = DATE_FORMAT_DD_MM_YY;
        } else if (t[0] == 'D' && t[1] == 'M') {
            fmt.dateFormat = DATE_FORMAT_MM_DD_YY;
        } else if (t[0] == 'D' && t[1] == 'Y') {
            fmt.dateFormat = DATE_FORMAT_YY_MM_DD;
        } else if (t[0] == 'T' && t[1] == '1') {
            fmt.timeFormat = TIME_FORMAT_12_HOUR;
        } else if (t[0] == 'T' && t[1] == '2') {
            fmt.timeFormat = TIME_FORMAT_24_HOUR;
        }
    }
    setThermostatFormatSettings(&fmt);
    initialiseTStatFormat();
    korabusSave();
    getUserPrefFromDataDict();
}

void korabusReportModeCommand() {
    initialiseTStatFormat();
    TstatSetPoint_t inForce;
    // Reading the setpoints in force may end an expired hold or vacation, so
    // the mode is read after it.
    int status = getCurrentThermostatSettings(&inForce);
    ThermostatMode mode = getThermostatMode();
    if (status != 0 || mode > TSTAT_MODE_PERMANENT_HOLD) {
        korabusReply("MO ");
        return;
    }
    static constexpr std::array<const char *, 4> c_ModeNames = {"MP", "MV", "MH", "MPH"};
    int heat = fprCelsiusToZephKorabusTemp(inForce.heatSetPoint);
    int cool = fprCelsiusToZephKorabusTemp(inForce.coolSetPoint);
    if (mode != TSTAT_MODE_VACATION) {
        korabusReply("MD %s H%d C%d ", c_ModeNames[mode], heat, cool);
        return;
    }
    TstatSetPoint_t vacation;
    getVacationThermostatSettings(&vacation);
    korabusReply("MD %s H%d C%d U%d D%d Y%d R%d ", c_ModeNames[mode], heat, cool,
                 korabusRoundFpr(inForce.humidifySetPoint),
                 korabusRoundFpr(inForce.dehumidifySetPoint), vacation.startHour,
                 vacation.startMinute);
}

void korabusReportFormatCommand() {
    korabusReply("FM %s", displayTempScale() == TEMP_SCALE_FAHRENHEIT ? "SF" : "SC");
}
