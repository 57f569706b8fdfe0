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
    enum { OPT_TIME = 1000 };
    static const struct option longOptions[] = {
        {"output", required_argument, nullptr, 'o'},
        {"system", required_argument, nullptr, 's'},
        {"scale", required_argument, nullptr, 't'},
        {"security-code", required_argument, nullptr, 'c'},
        {"time", required_argument, nullptr, OPT_TIME},
        {"mode", required_argument, nullptr, 'm'},
        {"humidity", required_argument, nullptr, 'u'},
        {"external-sensor", required_argument, nullptr, 'e'},
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
        case 'h':
            usage(stdout, argv[0]);
            return EXIT_SUCCESS;
        default:
            usage(stderr, argv[0]);
            return EXIT_USAGE;
        }
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
