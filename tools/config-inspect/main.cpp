// tstat-config: prints a stored configuration record field by field (names,
// units, temperatures in both scales, which identity it carries), a
// serial-number record with its checksum verdict, or the record's field offsets.
#include "config/persist.h"

#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include "host/file_descriptor.h"

namespace {

constexpr int EXIT_USAGE = 2;
// The record was shown but is not valid (unknown identity, checksum mismatch).
constexpr int EXIT_INVALID = 3;

// Reads up to `length` bytes from the start of a file; the count read, or -1.
ssize_t readFile(const char *path, void *dest, size_t length) {
    FileDescriptor fd(open(path, O_RDONLY | O_NOCTTY));
    if (fd.get() < 0) {
        fprintf(stderr, "tstat-config: cannot open %s: %s\n", path, strerror(errno));
        return -1;
    }
    auto *out = static_cast<uint8_t *>(dest);
    size_t done = 0;
    while (done < length) {
        ssize_t n = read(fd.get(), out + done, length - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fprintf(stderr, "tstat-config: cannot read %s: %s\n", path, strerror(errno));
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// ---- Names of the stored enumerations -------------------------------------------

template <size_t N> using Names = std::array<const char *, N>;

constexpr Names<2> c_LockNames = {"Lock", "Unlock"};
constexpr Names<2> c_YesNoNames = {"Yes", "No"};
constexpr Names<7> c_SystemNames = {"One Stg Furnace", "Two Stg Furnace",   "Roof Top Unit",
                                    "Boiler With A/C", "One Stg Heat Pump", "Two Stg Heat Pump",
                                    "Floor Heat"};
constexpr Names<3> c_ExtSensorNames = {"Outdoor", "Indoor", "Off"};
constexpr Names<2> c_OnOffSensorNames = {"On", "Off"};
constexpr Names<3> c_ActiveBrightnessNames = {"Low", "Med", "High"};
constexpr Names<2> c_InactiveBrightnessNames = {"Dim", "Off"};
constexpr Names<2> c_FanStateNames = {"automatic", "on"};
constexpr Names<3> c_FanSpeedNames = {"high", "medium", "low"};
constexpr Names<5> c_HvacStateNames = {"heat", "cool", "automatic", "off", "emergency heat"};
constexpr Names<2> c_FuelNames = {"Electric", "Gas"};
constexpr Names<3> c_DateFormatNames = {"DD/MM/YY", "MM/DD/YY", "YY/MM/DD"};
constexpr Names<2> c_TimeFormatNames = {"12-Hour", "24-Hour"};
constexpr Names<2> c_FeatureNames = {"Enable", "Disable"};
constexpr Names<4> c_ModeNames = {"program", "vacation", "hold until the next period",
                                  "permanent hold"};
constexpr Names<4> c_HumidifyNames = {"humidify (humidifier only)",
                                      "dehumidify (dehumidifier only)", "automatic (both)",
                                      "off (neither)"};
constexpr Names<2> c_OffOnNames = {"Off", "On"};
constexpr Names<7> c_DayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
constexpr Names<4> c_PeriodNames = {"Wake", "Leave", "Return", "Sleep"};

// A stored value with its name; values outside the table are shown as unknown.
template <size_t N> void showEnum(const char *field, uint32_t value, const Names<N> &names) {
    printf("%s: %" PRIu32 " (%s)\n", field, value, value < N ? names[value] : "unknown value");
}

double toDouble(fpr_t value) {
    return static_cast<double>(value) / FPR_ONE;
}

void formatTemp(char *text, size_t size, fpr_t celsius) {
    double c = toDouble(celsius);
    snprintf(text, size, "%.2f °C / %.2f °F", c, c * 9.0 / 5.0 + 32.0);
}

void showTemp(const char *field, fpr_t celsius) {
    char text[64];
    formatTemp(text, sizeof(text), celsius);
    printf("%s: %s\n", field, text);
}

// Differences: the thermostat shows them in Fahrenheit with a factor of 2.
void showDiff(const char *field, fpr_t celsius) {
    printf("%s: %.3f °C (%.3f °F on a Fahrenheit display)\n", field, toDouble(celsius),
           toDouble(celsius) * 2.0);
}

void showPercent(const char *field, fpr_t percent) {
    printf("%s: %.2f %%\n", field, toDouble(percent));
}

void formatTime(char *text, size_t size, int64_t seconds) {
    if (seconds == 0) {
        snprintf(text, size, "0 (none)");
        return;
    }
    time_t t = static_cast<time_t>(seconds);
    struct tm utc {};
    char when[32] = "out of range";
    if (gmtime_r(&t, &utc) != nullptr) {
        strftime(when, sizeof(when), "%Y-%m-%d %H:%M:%S UTC", &utc);
    }
    snprintf(text, size, "%" PRId64 " (%s)", seconds, when);
}

void showTime(const char *field, int64_t seconds) {
    char text[64];
    formatTime(text, sizeof(text), seconds);
    printf("%s: %s\n", field, text);
}

void showSetPoint(const char *name, const TstatSetPoint_t &sp, const char *startLabel) {
    char heat[64];
    char cool[64];
    char end[64];
    formatTemp(heat, sizeof(heat), sp.heatSetPoint);
    formatTemp(cool, sizeof(cool), sp.coolSetPoint);
    formatTime(end, sizeof(end), sp.endTime);
    printf("%s: %s, heat %s, cool %s, humidify %.2f %%, dehumidify %.2f %%, end %s\n", name,
           startLabel, heat, cool, toDouble(sp.humidifySetPoint), toDouble(sp.dehumidifySetPoint),
           end);
}

void showPeriod(int day, int period, const TstatSetPoint_t &sp) {
    char name[64];
    char start[32];
    char heat[64];
    char cool[64];
    snprintf(name, sizeof(name), "prgSetPnt[%d].period[%d] (%s %s)", day, period, c_DayNames[day],
             c_PeriodNames[period]);
    snprintf(start, sizeof(start), "start %02u:%02u", sp.startHour, sp.startMinute);
    formatTemp(heat, sizeof(heat), sp.heatSetPoint);
    formatTemp(cool, sizeof(cool), sp.coolSetPoint);
    printf("%s: %s, heat %s, cool %s, humidify %.2f %%, dehumidify %.2f %%\n", name, start, heat,
           cool, toDouble(sp.humidifySetPoint), toDouble(sp.dehumidifySetPoint));
}

const char *identityName(uint32_t id) {
    switch (id) {
    case TSTAT_SYS_CFG_USER_ID:
        return "user configuration record";
    case TSTAT_SYS_CFG_FACTORY_ID:
        return "factory-default image";
    default:
        return "unknown: not a configuration record";
    }
}

void showLockout(const TstatSysCfgPersistMem_t &r) {
    const TstatLockoutCfg_t &l = r.lockoutCfg;
    showEnum("lockoutCfg.buttonLockout", l.buttonLockout, c_LockNames);
    showEnum("lockoutCfg.modeLock", l.modeLock, c_YesNoNames);
    printf("lockoutCfg.modeLockTime: %u min\n", l.modeLockTime);
    showEnum("lockoutCfg.fanLock", l.fanLock, c_YesNoNames);
    printf("lockoutCfg.fanLockTime: %u min\n", l.fanLockTime);
    showEnum("lockoutCfg.tempLock", l.tempLock, c_YesNoNames);
    printf("lockoutCfg.tempLockTimeLimit: %u min\n", l.tempLockTimeLimit);
    printf("lockoutCfg.tempLockRangeLimit: %u degrees\n", l.tempLockRangeLimit);
    printf("securityCode: %04u\n", r.securityCode);
    printf("korabusAddress: %u\n", r.korabusAddress);
}

// The control's settings, the backlight's and the HVAC settings.
void showEquipment(const TstatSysCfgPersistMem_t &r) {
    const TstatCfg_t &t = r.tstatCfg;
    showEnum("tstatCfg.systemType", t.systemType, c_SystemNames);
    showDiff("tstatCfg.setpointMargin", t.setpointMargin);
    showDiff("tstatCfg.firstStageDiff", t.firstStageDiff);
    showDiff("tstatCfg.secondStageDiff", t.secondStageDiff);
    showDiff("tstatCfg.deadband", t.deadband);
    printf("tstatCfg.tempOffset: %.3f degrees of the display scale (%s)\n", toDouble(t.tempOffset),
           r.tstatFmtSettings.tempScale == TEMP_SCALE_FAHRENHEIT ? "°F" : "°C");
    showEnum("tstatCfg.externalTempSensor", t.externalTempSensor, c_ExtSensorNames);
    showEnum("tstatCfg.internalTempSensor", t.internalTempSensor, c_OnOffSensorNames);
    showEnum("tstatCfg.humiditySensor", t.humiditySensor, c_OnOffSensorNames);
    printf("tstatCfg.cycleRate: %u per hour\n", t.cycleRate);
    printf("tstatCfg.heatPumpSwitchOverTime: %u min\n", t.heatPumpSwitchOverTime);

    printf("bkLightCtl.backlightTimeout: %u s\n", r.bkLightCtl.backlightTimeout);
    showEnum("bkLightCtl.activeBrightness", r.bkLightCtl.activeBrightness, c_ActiveBrightnessNames);
    showEnum("bkLightCtl.inactiveBrightness", r.bkLightCtl.inactiveBrightness,
             c_InactiveBrightnessNames);

    const TstatHvacSettings_t &h = r.hvacSettings;
    showEnum("hvacSettings.fanState", h.fanState, c_FanStateNames);
    showEnum("hvacSettings.fanSpeed", h.fanSpeed, c_FanSpeedNames);
    showEnum("hvacSettings.hvacState", h.hvacState, c_HvacStateNames);
    showTemp("hvacSettings.balancePoint", h.balancePoint);
    showEnum("hvacSettings.fossilFuelType", h.fossilFuelType, c_FuelNames);
    showPercent("hvacSettings.humidityBandOffset", h.humidityBandOffset);
    showPercent("hvacSettings.humidityHysteresis", h.humidityHysteresis);
}

// The formats, the features, the mode with its hold and vacation, the program.
void showFormatsAndProgram(const TstatSysCfgPersistMem_t &r) {
    uint32_t scale = r.tstatFmtSettings.tempScale;
    printf("tstatFmtSettings.tempScale: %" PRIu32 " (%s)\n", scale,
           scale == TEMP_SCALE_FAHRENHEIT ? "Fahrenheit" : "Celsius");
    showEnum("tstatFmtSettings.dateFormat", r.tstatFmtSettings.dateFormat, c_DateFormatNames);
    showEnum("tstatFmtSettings.timeFormat", r.tstatFmtSettings.timeFormat, c_TimeFormatNames);

    const TstatFeatureCtl_t &f = r.featureCtl;
    showEnum("featureCtl.currentForecastState", f.currentForecastState, c_FeatureNames);
    showEnum("featureCtl.fiveDayForecastState", f.fiveDayForecastState, c_FeatureNames);
    showEnum("featureCtl.weatherAlertFeature", f.weatherAlertFeature, c_FeatureNames);
    showEnum("featureCtl.filterChangeState", f.filterChangeState, c_FeatureNames);
    showEnum("featureCtl.scrSaverState", f.scrSaverState, c_FeatureNames);

    showEnum("tstatMode.mode", r.tstatMode.mode, c_ModeNames);
    const TstatSetPoint_t &hold = r.tstatMode.holdSetPoint;
    char label[48];
    snprintf(label, sizeof(label), "next period %02u:%02u", hold.startHour, hold.startMinute);
    showSetPoint("tstatMode.holdSetPoint", hold, label);
    const TstatSetPoint_t &vacation = r.tstatMode.vacationSetPoint;
    snprintf(label, sizeof(label), "%u days %u hours", vacation.startHour, vacation.startMinute);
    showSetPoint("tstatMode.vacationSetPoint", vacation, label);

    for (int day = 0; day < TSTAT_DAYS_PER_WEEK; day++) {
        for (int p = 0; p < TSTAT_PERIODS_PER_DAY; p++) {
            showPeriod(day, p, r.prgSetPnt[day].period[p]);
        }
    }
}

void showRecord(const TstatSysCfgPersistMem_t &r) {
    printf("Identity: 0x%08" PRIX32 " (%s)\n", r.tstatSysCfgId, identityName(r.tstatSysCfgId));
    showLockout(r);
    showEquipment(r);
    showFormatsAndProgram(r);
    showEnum("humidifyState", r.humidifyState, c_HumidifyNames);
    printf("filterChangeMaxHourTime: %u h (%u days)\n", r.filterChangeMaxHourTime,
           r.filterChangeMaxHourTime / 24u);
    showTime("filterChangeEndTime", r.filterChangeEndTime);
    printf("clockYear: %u (%u)\n", r.clockYear, r.clockYear + 1900u);
    showTemp("recoveryTemp[0] (heat)", r.recoveryTemp[0]);
    showTemp("recoveryTemp[1] (cool)", r.recoveryTemp[1]);
    printf("reserved:");
    for (uint8_t byte : r.reserved) {
        printf(" %02X", byte);
    }
    printf("\n");
    printf("humidityOffset: %u\n", r.humidityOffset);
    showEnum("helpModeState", r.helpModeState, c_OffOnNames);
    showEnum("comfortRecoveryModeState", r.comfortRecoveryModeState, c_OffOnNames);
}

int showConfig(const char *path) {
    TstatSysCfgPersistMem_t record;
    ssize_t n = readFile(path, &record, sizeof(record));
    if (n < 0) {
        return EXIT_FAILURE;
    }
    if (static_cast<size_t>(n) < sizeof(record)) {
        fprintf(stderr,
                "tstat-config: %s holds %zd bytes; a configuration record has %zu (blank or "
                "short region)\n",
                path, n, sizeof(record));
        return EXIT_FAILURE;
    }
    printf("File: %s\n", path);
    showRecord(record);
    bool known = record.tstatSysCfgId == TSTAT_SYS_CFG_USER_ID ||
                 record.tstatSysCfgId == TSTAT_SYS_CFG_FACTORY_ID;
    return known ? EXIT_SUCCESS : EXIT_INVALID;
}

int showSerial(const char *path) {
    TstatSerialNumberCfg_t record;
    ssize_t n = readFile(path, &record, sizeof(record));
    if (n < 0) {
        return EXIT_FAILURE;
    }
    printf("File: %s\n", path);
    if (n == 0) {
        printf("Serial number: none (blank region)\n");
        return EXIT_INVALID;
    }
    if (static_cast<size_t>(n) < sizeof(record)) {
        fprintf(stderr, "tstat-config: %s holds %zd bytes; a serial-number record has %zu\n", path,
                n, sizeof(record));
        return EXIT_FAILURE;
    }
    printf("Serial number: ");
    for (uint8_t c : record.serialNumber) {
        if (c >= 0x20 && c < 0x7F) {
            putchar(c);
        } else {
            printf("\\x%02X", c);
        }
    }
    printf("\n");
    uint16_t sum = serialNumberChecksum(record.serialNumber);
    bool valid = serialNumberRecordValid(&record) != 0;
    printf("Checksum: 0x%04X, complement 0x%04X (computed 0x%04X, 0x%04X): %s\n", record.checksum,
           record.checksumComplement, sum, static_cast<uint16_t>(~sum),
           valid ? "valid" : "INVALID");
    return valid ? EXIT_SUCCESS : EXIT_INVALID;
}

void usage(FILE *out, const char *program) {
    fprintf(out,
            "Usage: %s show FILE            show a configuration record\n"
            "       %s show --serial FILE   show a serial-number record\n"
            "       %s offsets              list the record's field offsets\n"
            "\n"
            "Reads a stored thermostat configuration record (974 bytes, for example\n"
            "$TSTAT_ROOT/dev/mtdblock5 or the factory image dev/mtdblock4) and prints it\n"
            "field by field: names, units, temperatures in Celsius and Fahrenheit, and\n"
            "which identity the record carries. With --serial, prints the serial number\n"
            "of an 18-byte serial record (dev/mtdblock8) and whether its checksum holds.\n"
            "\n"
            "Options:\n"
            "  -s, --serial   FILE is a serial-number record\n"
            "  -h, --help     show this help\n"
            "\n"
            "Exit status: 0 shown and valid; 1 the file cannot be read or is too short;\n"
            "2 usage error; 3 shown, but the identity is unknown or the checksum fails.\n",
            program, program, program);
}

} // namespace

int main(int argc, char **argv) {
    static const struct option longOptions[] = {
        {"serial", no_argument, nullptr, 's'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    bool serial = false;
    int opt;
    while ((opt = getopt_long(argc, argv, "sh", longOptions, nullptr)) != -1) {
        switch (opt) {
        case 's':
            serial = true;
            break;
        case 'h':
            usage(stdout, argv[0]);
            return EXIT_SUCCESS;
        default:
            usage(stderr, argv[0]);
            return EXIT_USAGE;
        }
    }
    int count = argc - optind;
    const char *command = count > 0 ? argv[optind] : "";
    if (strcmp(command, "show") == 0 && count == 2) {
        return serial ? showSerial(argv[optind + 1]) : showConfig(argv[optind + 1]);
    }
    if (strcmp(command, "offsets") == 0 && count == 1 && !serial) {
        tscDumpStructOffsets();
        return EXIT_SUCCESS;
    }
    usage(stderr, argv[0]);
    return EXIT_USAGE;
}
