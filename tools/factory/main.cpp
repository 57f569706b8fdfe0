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

// What the command line asks for.
struct Command {
    FactoryOptions options;
    bool timeGiven = false;
    const char *output = nullptr;
};

// Returned by takeOption when the command line goes on.
constexpr int GO_ON = -1;

// Says that a value is refused, the value between before and after; returns
// the exit status of a usage error.
int refuse(const char *before, const char *value, const char *after = "'") {
    fprintf(stderr, "tstat-factory: %s%s%s\n", before, value, after);
    return EXIT_USAGE;
}

// Takes one option of getopt_long; returns GO_ON, or the exit status when
// the option ends the program (help, a value it cannot take).
int takeOption(int opt, const char *program, Command *c) {
    FactoryOptions &o = c->options;
    switch (opt) {
    case 'o':
        c->output = optarg;
        return GO_ON;
    case 's':
        return parseSystem(optarg, &o.systemType) ? GO_ON : refuse("unknown system type '", optarg);
    case 't':
        return parseScale(optarg, &o.tempScale) ? GO_ON
                                                : refuse("unknown scale '", optarg, "' (F or C)");
    case 'c':
        return parseCode(optarg, &o.securityCode)
                   ? GO_ON
                   : refuse("the security code is four digits, not '", optarg);
    case OPT_TIME:
        c->timeGiven = true;
        return parseTime(optarg, &o.madeAt)
                   ? GO_ON
                   : refuse("--time takes seconds since 1970, not '", optarg);
    case 'm':
        return parseNamed(optarg, c_ModeNames, &o.hvacState)
                   ? GO_ON
                   : refuse("unknown system mode '", optarg);
    case 'u':
        return parseNamed(optarg, c_HumidityNames, &o.humidifyState)
                   ? GO_ON
                   : refuse("unknown humidity equipment '", optarg);
    case 'e':
        return parseNamed(optarg, c_SensorNames, &o.externalTempSensor)
                   ? GO_ON
                   : refuse("unknown external sensor use '", optarg);
    case OPT_CYCLE_RATE:
    case OPT_BALANCE_POINT:
    case OPT_DIFFERENTIAL:
    case OPT_SECOND_DIFFERENTIAL:
    case OPT_RECOVERY:
        return parseControl(opt, optarg, &o) ? GO_ON : EXIT_USAGE;
    case OPT_HOLD:
        o.hold = true;
        return GO_ON;
    case 'h':
        usage(stdout, program);
        return EXIT_SUCCESS;
    default:
        usage(stderr, program);
        return EXIT_USAGE;
    }
}

// Checks what the options say together and takes the output file from them
// or from the one positional argument; returns GO_ON or the exit status.
int finishCommand(int argc, char **argv, Command *c) {
    const FactoryOptions &o = c->options;
    // The record keeps the balance point within -10 to 10 C.
    double balanceC =
        o.tempScale == TEMP_SCALE_FAHRENHEIT ? (o.balancePoint - 32) * 5.0 / 9.0 : o.balancePoint;
    if (o.balancePointGiven && (balanceC < -10.0 || balanceC > 10.0)) {
        fprintf(stderr, "tstat-factory: the balance point is -10 to 10 C (14 to 50 F)\n");
        return EXIT_USAGE;
    }
    int positional = argc - optind;
    if (positional > 1 || (positional == 1 && c->output != nullptr)) {
        fprintf(stderr, "tstat-factory: give the output file once\n");
        return EXIT_USAGE;
    }
    if (positional == 1) {
        c->output = argv[optind];
    }
    if (c->output == nullptr || strcmp(c->output, "-") == 0) {
        fprintf(stderr, "tstat-factory: name the file to write (-o FILE or FILE); the image is "
                        "binary and is not written to standard output\n");
        usage(stderr, argv[0]);
        return EXIT_USAGE;
    }
    return GO_ON;
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
    Command command;
    int opt;
    while ((opt = getopt_long(argc, argv, "o:s:t:c:m:u:e:h", longOptions, nullptr)) != -1) {
        int status = takeOption(opt, argv[0], &command);
        if (status != GO_ON) {
            return status;
        }
    }
    int status = finishCommand(argc, argv, &command);
    if (status != GO_ON) {
        return status;
    }
    FactoryOptions &options = command.options;
    if (!command.timeGiven) {
        options.madeAt = util_time(nullptr);
        if (options.madeAt < 0) {
            options.madeAt = 0;
        }
    }
    TstatSysCfgPersistMem_t record;
    buildFactoryImage(options, &record);
    return writeImage(command.output, record);
}
