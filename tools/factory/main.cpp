// tstat-factory: writes a factory-default configuration image (974 bytes,
// factory identity) to a file, e.g. the simulated board's factory region.
#include "config/factory_image.h"

#include "core/util.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <strings.h>
#include <unistd.h>

#include "host/file_descriptor.h"

namespace {

constexpr int EXIT_USAGE = 2;
enum {
    OPT_TIME = 1000,
    OPT_CYCLE_RATE,
    OPT_BALANCE_POINT,
    OPT_DIFFERENTIAL,
    OPT_SECOND_DIFFERENTIAL,
    OPT_RECOVERY,
    OPT_HOLD
};

struct SystemName {
    const char *name;
    SystemType type;
};

constexpr std::array<SystemName, SYSTEM_TYPE_COUNT> c_SystemNames = {{
    {"one-stg-furnace", SYSTEM_TYPE_ONE_STG_FURNACE},
    {"two-stg-furnace", SYSTEM_TYPE_TWO_STG_FURNACE},
    {"roof-top-unit", SYSTEM_TYPE_ROOF_TOP_UNIT},
    {"boiler-with-ac", SYSTEM_TYPE_BOILER_WITH_AC},
    {"one-stg-heat-pump", SYSTEM_TYPE_ONE_STG_HEAT_PUMP},
    {"two-stg-heat-pump", SYSTEM_TYPE_TWO_STG_HEAT_PUMP},
    {"floor-heat", SYSTEM_TYPE_FLOOR_HEAT},
}};

// Names of the other settings a factory image can be made with.
template <typename T> struct NamedValue {
    const char *name;
    T value;
};

constexpr NamedValue<HvacState> c_ModeNames[] = {
    {"heat", HVAC_STATE_HEAT},
    {"cool", HVAC_STATE_COOL},
    {"auto", HVAC_STATE_AUTO},
    {"off", HVAC_STATE_OFF},
    {"emergency-heat", HVAC_STATE_EMERGENCY_HEAT},
};

constexpr NamedValue<HumidifyState> c_HumidityNames[] = {
    {"none", HUMIDIFY_STATE_OFF},
    {"humidifier", HUMIDIFY_STATE_HUMIDIFY},
    {"dehumidifier", HUMIDIFY_STATE_DEHUMIDIFY},
    {"both", HUMIDIFY_STATE_AUTO},
};

constexpr NamedValue<ExternalTempSensor> c_SensorNames[] = {
    {"off", EXT_TEMP_SENSOR_OFF},
    {"outdoor", EXT_TEMP_SENSOR_OUTDOOR},
    {"indoor", EXT_TEMP_SENSOR_INDOOR},
};

template <typename T, size_t N>
bool parseNamed(const char *text, const NamedValue<T> (&names)[N], T *value) {
    for (const NamedValue<T> &entry : names) {
        if (strcasecmp(text, entry.name) == 0) {
            *value = entry.value;
            return true;
        }
    }
    return false;
}

void usage(FILE *out, const char *program) {
    fprintf(out,
            "Usage: %s [OPTIONS] FILE\n"
            "       %s [OPTIONS] -o FILE\n"
            "Writes a factory-default thermostat configuration image (974 bytes, factory\n"
            "identity 0xFACDEF1D) to FILE, for example $TSTAT_ROOT/dev/mtdblock4.\n"
            "\n"
            "Options:\n"
            "  -o, --output FILE         the file to write (or give FILE as the argument)\n"
            "  -s, --system TYPE         HVAC system: one-stg-furnace (default),\n"
            "                            two-stg-furnace, roof-top-unit, boiler-with-ac,\n"
            "                            one-stg-heat-pump, two-stg-heat-pump, floor-heat,\n"
            "                            or its number 0-6\n"
            "  -t, --scale SCALE         F or fahrenheit (default), C or celsius\n"
            "  -c, --security-code CODE  four-digit button-lockout code (default 1234)\n"
            "      --time SECONDS        when the image is made, in seconds since 1970\n"
            "                            (default now): the filter reminder runs from it\n"
            "  -m, --mode MODE           system mode: heat (default), cool, auto, off,\n"
            "                            emergency-heat\n"
            "  -u, --humidity EQUIPMENT  installed humidity equipment: none (default),\n"
            "                            humidifier, dehumidifier, both\n"
            "  -e, --external-sensor USE the second thermistor: off (default), outdoor,\n"
            "                            indoor\n"
            "      --cycle-rate N        equipment cycles per hour, 3 to 6 (default 4)\n"
            "      --balance-point DEG   whole degrees of the scale, -10 to 10 C (default\n"
            "                            30 F or -1 C)\n"
            "      --differential C      first-stage differential, 0.25 to 1 C (default 0.5)\n"
            "      --second-differential C  second-stage differential, 0.5 to 3 C (0.5)\n"
            "      --recovery on|off     comfort recovery (default on)\n"
            "      --hold                start in a permanent hold at the comfort set\n"
            "                            points instead of the program\n"
            "  -h, --help                show this help\n"
            "\n"
            "Defaults written:\n"
            "  display: Fahrenheit, 12-hour clock, MM/DD/YY; system mode heat, fan auto\n"
            "    (high speed); program mode; help mode on; comfort recovery on\n"
            "  equipment: one-stage gas furnace with air-conditioner (heat pumps and floor\n"
            "    heat: electric back-up); humidity equipment none (humidify state off),\n"
            "    humidity sensor on, internal sensor on, external sensor off\n"
            "  control: margin 0.25 C, stage differentials 0.5 C, deadband 1.5 C, cycle\n"
            "    rate 4 per hour, balance point 30 F (-1 C), heat-pump switch-over 60 min,\n"
            "    humidity band offset 0 %%, hysteresis 5 %%\n"
            "  program, Monday to Friday: Wake 6:00 70/78 F, Leave 8:00 62/85 F,\n"
            "    Return 18:00 70/78 F, Sleep 22:00 62/82 F; Saturday and Sunday: Wake\n"
            "    8:00, Leave 10:00, Return 16:00, Sleep 23:00 at the same setpoints\n"
            "    (Celsius: 21/26, 17/29, 21/26, 17/28); humidify 35 %%, dehumidify 55 %%\n"
            "  hold 70/78 F, vacation 62/85 F; backlight 30 s, active high, inactive dim;\n"
            "  button lockout off (all unlocked, range limit 2); forecast pages, weather\n"
            "    alert, filter reminder (every 90 days) and screen saver enabled\n"
            "\n"
            "Exit status: 0 written, 1 the file could not be written, 2 usage error.\n",
            program, program);
}

bool parseSystem(const char *text, SystemType *type) {
    for (const SystemName &entry : c_SystemNames) {
        if (strcasecmp(text, entry.name) == 0) {
            *type = entry.type;
            return true;
        }
    }
    char *end = nullptr;
    long number = strtol(text, &end, 10);
    if (*text != '\0' && *end == '\0' && number >= 0 &&
        number < static_cast<long>(SYSTEM_TYPE_COUNT)) {
        *type = static_cast<SystemType>(number);
        return true;
    }
    return false;
}

bool parseScale(const char *text, TempScale *scale) {
    if (strcasecmp(text, "f") == 0 || strcasecmp(text, "fahrenheit") == 0) {
        *scale = TEMP_SCALE_FAHRENHEIT;
        return true;
    }
    if (strcasecmp(text, "c") == 0 || strcasecmp(text, "celsius") == 0) {
        *scale = TEMP_SCALE_CELSIUS;
        return true;
    }
    return false;
}

bool parseCode(const char *text, uint16_t *code) {
    char *end = nullptr;
    long number = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || number < 0 || number > 9999) {
        return false;
    }
    *code = static_cast<uint16_t>(number);
    return true;
}

// A number within [lo, hi] in thousandths ("0.75" is 750).
bool parseMilli(const char *text, double lo, double hi, int32_t *milli) {
    char *end = nullptr;
    double value = strtod(text, &end);
    if (*text == '\0' || *end != '\0' || !(value >= lo && value <= hi)) {
        return false;
    }
    *milli = static_cast<int32_t>(value * 1000.0 + (value < 0 ? -0.5 : 0.5));
    return true;
}

// The control settings' options; false (with a message) for a bad value.
bool parseControl(int opt, const char *text, FactoryOptions *o) {
    int32_t milli = 0;
    bool ok = true;
    switch (opt) {
    case OPT_CYCLE_RATE:
        ok = parseMilli(text, 3, 6, &milli) && milli % 1000 == 0;
        o->cycleRate = static_cast<uint32_t>(milli / 1000);
        break;
    case OPT_BALANCE_POINT:
        ok = parseMilli(text, -10, 50, &milli) && milli % 1000 == 0;
        o->balancePointGiven = true;
        o->balancePoint = static_cast<int16_t>(milli / 1000);
        break;
    case OPT_DIFFERENTIAL:
        ok = parseMilli(text, 0.25, 1, &o->firstStageDiffMilli);
        break;
    case OPT_SECOND_DIFFERENTIAL:
        ok = parseMilli(text, 0.5, 3, &o->secondStageDiffMilli);
        break;
    case OPT_RECOVERY:
        ok = strcasecmp(text, "on") == 0 || strcasecmp(text, "off") == 0;
        o->comfortRecovery = strcasecmp(text, "on") == 0;
        break;
    default:
        break;
    }
    if (!ok) {
        fprintf(stderr, "tstat-factory: '%s' is out of range (tstat-factory --help)\n", text);
    }
    return ok;
}

bool parseTime(const char *text, int64_t *seconds) {
    char *end = nullptr;
    errno = 0;
    long long number = strtoll(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || number < 0) {
        return false;
    }
    *seconds = number;
    return true;
}

int writeImage(const char *path, const TstatSysCfgPersistMem_t &record) {
    FileDescriptor fd(open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
    if (fd.get() < 0) {
        fprintf(stderr, "tstat-factory: cannot open %s: %s\n", path, strerror(errno));
        return EXIT_FAILURE;
    }
    const auto *bytes = reinterpret_cast<const uint8_t *>(&record);
    size_t done = 0;
    while (done < sizeof(record)) {
        ssize_t n = write(fd.get(), bytes + done, sizeof(record) - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fprintf(stderr, "tstat-factory: cannot write %s: %s\n", path, strerror(errno));
            return EXIT_FAILURE;
        }
        done += static_cast<size_t>(n);
    }
    if (!fd.closeNow()) {
        fprintf(stderr, "tstat-factory: cannot write %s: %s\n", path, strerror(errno));
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char **argv) {
    static const struct option longOptions[] = {
        {"output", required_argument, nullptr, 'o'},
        {"system", required_argument, nullptr, 's'},
        {"scale", required_argument, nullptr, 't'},
        {"security-code", required_argument, nullptr, 'c'},
        {"time", required_argument, nullptr, OPT_TIME},
        {"mode", required_argument, nullptr, 'm'},
        {"humidity", required_argument, nullptr, 'u'},
        {"external-sensor", required_argument, nullptr, 'e'},
        {"cycle-rate", required_argument, nullptr, OPT_CYCLE_RATE},
        {"balance-point", required_argument, nullptr, OPT_BALANCE_POINT},
        {"differential", required_argument, nullptr, OPT_DIFFERENTIAL},
        {"second-differential", required_argument, nullptr, OPT_SECOND_DIFFERENTIAL},
        {"recovery", required_argument, nullptr, OPT_RECOVERY},
        {"hold", no_argument, nullptr, OPT_HOLD},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    FactoryOptions options;
    bool timeGiven = false;
    const char *output = nullptr;
    int opt;
    while ((opt = getopt_long(argc, argv, "o:s:t:c:m:u:e:h", longOptions, nullptr)) != -1) {
        switch (opt) {
        case 'o':
            output = optarg;
            break;
        case 's':
            if (!parseSystem(optarg, &options.systemType)) {
                fprintf(stderr, "tstat-factory: unknown system type '%s'\n", optarg);
                return EXIT_USAGE;
            }
            break;
        case 't':
            if (!parseScale(optarg, &options.tempScale)) {
                fprintf(stderr, "tstat-factory: unknown scale '%s' (F or C)\n", optarg);
                return EXIT_USAGE;
            }
            break;
        case 'c':
            if (!parseCode(optarg, &options.securityCode)) {
                fprintf(stderr, "tstat-factory: the security code is four digits, not '%s'\n",
                        optarg);
                return EXIT_USAGE;
            }
            break;
        case OPT_TIME:
            if (!parseTime(optarg, &options.madeAt)) {
                fprintf(stderr, "tstat-factory: --time takes seconds since 1970, not '%s'\n",
                        optarg);
                return EXIT_USAGE;
            }
            timeGiven = true;
            break;
        case 'm':
            if (!parseNamed(optarg, c_ModeNames, &options.hvacState)) {
                fprintf(stderr, "tstat-factory: unknown system mode '%s'\n", optarg);
                return EXIT_USAGE;
            }
            break;
        case 'u':
            if (!parseNamed(optarg, c_HumidityNames, &options.humidifyState)) {
                fprintf(stderr, "tstat-factory: unknown humidity equipment '%s'\n", optarg);
                return EXIT_USAGE;
            }
            break;
        case 'e':
            if (!parseNamed(optarg, c_SensorNames, &options.externalTempSensor)) {
                fprintf(stderr, "tstat-factory: unknown external sensor use '%s'\n", optarg);
                return EXIT_USAGE;
            }
            break;
        case OPT_CYCLE_RATE:
        case OPT_BALANCE_POINT:
        case OPT_DIFFERENTIAL:
        case OPT_SECOND_DIFFERENTIAL:
        case OPT_RECOVERY:
            if (!parseControl(opt, optarg, &options)) {
                return EXIT_USAGE;
            }
            break;
        case OPT_HOLD:
            options.hold = true;
            break;
        case 'h':
            usage(stdout, argv[0]);
            return EXIT_SUCCESS;
        default:
            usage(stderr, argv[0]);
            return EXIT_USAGE;
        }
    }
    // The record keeps the balance point within -10 to 10 C.
    double balanceC = options.tempScale == TEMP_SCALE_FAHRENHEIT
                          ? (options.balancePoint - 32) * 5.0 / 9.0
                          : options.balancePoint;
    if (options.balancePointGiven && (balanceC < -10.0 || balanceC > 10.0)) {
        fprintf(stderr, "tstat-factory: the balance point is -10 to 10 C (14 to 50 F)\n");
        return EXIT_USAGE;
    }
    int positional = argc - optind;
    if (positional > 1 || (positional == 1 && output != nullptr)) {
        fprintf(stderr, "tstat-factory: give the output file once\n");
        return EXIT_USAGE;
    }
    if (positional == 1) {
        output = argv[optind];
    }
    if (output == nullptr || strcmp(output, "-") == 0) {
        fprintf(stderr, "tstat-factory: name the file to write (-o FILE or FILE); the image is "
                        "binary and is not written to standard output\n");
        usage(stderr, argv[0]);
        return EXIT_USAGE;
    }
    if (!timeGiven) {
        options.madeAt = util_time(nullptr);
        if (options.madeAt < 0) {
            options.madeAt = 0;
        }
    }
    TstatSysCfgPersistMem_t record;
    buildFactoryImage(options, &record);
    return writeImage(output, record);
}
