// The building file: its lines, each key's reading through a table, the
// checks of the whole building, and the options of each zone's unit.
#include "building/building_spec.h"

#include "board/board.h"
#include "house/climate.h"
#include "house/house.h"
#include "script.h"
#include "study/study.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/resource.h>

namespace sim {

namespace {

constexpr size_t MAX_BUILDING_BYTES = 1024 * 1024;
constexpr int MAX_ZONES_LINE = 1000;
// What a unit takes of the host, both its processes (measured: see
// docs/simulator.md), with room to spare, and what the host keeps for
// itself.
constexpr double UNIT_MEMORY_MB = 40.0;
constexpr double HOST_RESERVE_MB = 512.0;
constexpr size_t PROCESSES_PER_UNIT = 2;
constexpr size_t DESCRIPTORS_PER_UNIT = 3;
constexpr size_t DESCRIPTORS_KEPT = 64;

// A line's words: blanks separate them, double quotes keep blanks within
// one (and go), '#' outside quotes begins a comment. False when a quote is
// not closed.
bool lineWords(const std::string &line, std::vector<std::string> *out) {
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && c == '#') {
            break;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
            if (inWord) {
                out->push_back(word);
            }
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        out->push_back(word);
    }
    return !quoted;
}

bool number(const std::string &text, double lo, double hi, double *out) {
    char *end = nullptr;
    double v = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

bool integer(const std::string &text, long lo, long hi, long *out) {
    double v = 0;
    if (!number(text, static_cast<double>(lo), static_cast<double>(hi), &v) || v != std::floor(v)) {
        return false;
    }
    *out = static_cast<long>(v);
    return true;
}

std::vector<std::string> splitWords(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

// ---- Zone options --------------------------------------------------------------------------

using ZoneSetter = bool (*)(const std::string &value, ZoneSpec *zone, std::string *why);

struct ZoneKey {
    const char *name;
    const char *usage;
    ZoneSetter set;
};

bool setAddress(const std::string &v, ZoneSpec *z, std::string *) {
    long a = 0;
    bool ok = integer(v, 0, 255, &a);
    z->address = static_cast<int>(a);
    return ok;
}

bool setHouse(const std::string &v, ZoneSpec *z, std::string *) {
    HousePreset preset;
    z->house = v;
    return parseHousePreset(v, &preset);
}

bool setArea(const std::string &v, ZoneSpec *z, std::string *) {
    return number(v, 10, 10000, &z->area);
}

bool setFacing(const std::string &v, ZoneSpec *z, std::string *) {
    // The share of a house's sun that windows facing one way get over a
    // day: the house's own windows face every way.
    static const std::map<std::string, double> c_Facing = {
        {"south", 1.0}, {"east", 0.7}, {"west", 0.7}, {"north", 0.3}};
    auto it = c_Facing.find(v);
    if (it == c_Facing.end()) {
        return false;
    }
    z->solarShare = it->second;
    return true;
}

bool setSolar(const std::string &v, ZoneSpec *z, std::string *) {
    return number(v, 0, 3, &z->solarShare);
}

bool setInternal(const std::string &v, ZoneSpec *z, std::string *) {
    return number(v, 0, 20000, &z->internal);
}

bool setIndoor(const std::string &v, ZoneSpec *z, std::string *) {
    return number(v, -40, 60, &z->indoor);
}

bool setEquipment(const std::string &v, ZoneSpec *z, std::string *why) {
    StudyVariant variant;
    z->equipment = v;
    return namedVariant(AXIS_EQUIPMENT, v, NamingContext{}, &variant, why);
}

bool setFactory(const std::string &v, ZoneSpec *z, std::string *) {
    z->factory = splitWords(v);
    return true;
}

const ZoneKey c_ZoneKeys[] = {
    {"address", "address=N (0 to 255)", setAddress},
    {"house", "house=leaky|typical|tight", setHouse},
    {"area", "area=M2 (10 to 10000)", setArea},
    {"facing", "facing=south|east|west|north", setFacing},
    {"solar", "solar=SHARE of a house's sun (0 to 3)", setSolar},
    {"internal", "internal=W (0 to 20000)", setInternal},
    {"indoor", "indoor=C at the start (-40 to 60)", setIndoor},
    {"equipment", "equipment=furnace|furnace2|heatpump|heatpump2|heatpump-gas", setEquipment},
    {"factory", "factory=\"OPTIONS\" of tstat-factory", setFactory},
};

bool applyZoneOptions(const std::vector<std::string> &options, ZoneSpec *zone, std::string *why) {
    for (const std::string &option : options) {
        size_t eq = option.find('=');
        std::string key = option.substr(0, eq);
        const ZoneKey *found = nullptr;
        for (const ZoneKey &k : c_ZoneKeys) {
            found = key == k.name ? &k : found;
        }
        if (found == nullptr || eq == std::string::npos) {
            *why = "unknown zone option \"" + option +
                   "\" (address, house, area, facing, "
                   "solar, internal, indoor, equipment, factory, each KEY=VALUE)";
            return false;
        }
        std::string detail;
        if (!found->set(option.substr(eq + 1), zone, &detail)) {
            *why = "bad value in \"" + option + "\": " + found->usage;
            return false;
        }
    }
    return true;
}

// ---- Keys of the file ----------------------------------------------------------------------

struct Reader {
    explicit Reader(BuildingSpec *s) : plan(s) {}
    BuildingSpec *plan;
    ZoneSpec defaults;
    int line = 0;
    std::vector<std::pair<int, std::vector<std::string>>> groupLines, eventLines;
};

using KeyHandler = bool (*)(const std::vector<std::string> &args, Reader &r, std::string *why);

struct BuildingKey {
    const char *name;
    const char *usage;
    KeyHandler handle;
};

bool keyStart(const std::vector<std::string> &a, Reader &r, std::string *) {
    if (a.size() != 2) {
        return false;
    }
    struct tm local {};
    std::string text = a[0] + " " + a[1];
    const char *end = strptime(text.c_str(), "%Y-%m-%d %H:%M", &local);
    if (end == nullptr || *end != '\0' || local.tm_year + 1900 < 1970 ||
        local.tm_year + 1900 > 2200) {
        return false;
    }
    local.tm_isdst = -1;
    r.plan->start = text;
    r.plan->startWall = static_cast<int64_t>(mktime(&local));
    return true;
}

bool keyHours(const std::vector<std::string> &a, Reader &r, std::string *) {
    return a.size() == 1 && number(a[0], 1.0 / 60.0, 24.0 * 31.0, &r.plan->hours);
}

bool keyWeather(const std::vector<std::string> &a, Reader &r, std::string *why) {
    WeatherDay day;
    if (a.size() != 1 || !day.load(a[0], why)) {
        return false;
    }
    r.plan->weather = a[0];
    return true;
}

bool keyOutdoor(const std::vector<std::string> &a, Reader &r, std::string *) {
    return a.size() == 1 && number(a[0], -50, 50, &r.plan->outdoor);
}

bool keySwing(const std::vector<std::string> &a, Reader &r, std::string *) {
    return a.size() == 1 && number(a[0], 0, 30, &r.plan->swing);
}

bool keySeed(const std::vector<std::string> &a, Reader &r, std::string *) {
    long seed = 0;
    bool ok = a.size() == 1 && integer(a[0], 1, 4000000000L, &seed);
    r.plan->seed = static_cast<uint32_t>(seed);
    return ok;
}

bool keyBusRate(const std::vector<std::string> &a, Reader &r, std::string *) {
    long rate = 0;
    bool ok = a.size() == 1 && integer(a[0], 1200, 1000000, &rate);
    r.plan->busRate = static_cast<int>(rate);
    return ok;
}

bool keyOnFailure(const std::vector<std::string> &a, Reader &r, std::string *) {
    if (a.size() != 1 || (a[0] != "continue" && a[0] != "end")) {
        return false;
    }
    r.plan->endOnFailure = a[0] == "end";
    return true;
}

bool keyDefaults(const std::vector<std::string> &a, Reader &r, std::string *why) {
    return applyZoneOptions(a, &r.defaults, why);
}

bool validName(const std::string &name) {
    return !name.empty() && name.size() <= 32 &&
           name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_"
                                  ".") == std::string::npos &&
           name[0] != '.' && name != "all";
}

bool keyZone(const std::vector<std::string> &a, Reader &r, std::string *why) {
    if (a.empty() || !validName(a[0])) {
        return false;
    }
    ZoneSpec zone = r.defaults;
    zone.name = a[0];
    zone.line = r.line;
    if (!applyZoneOptions(std::vector<std::string>(a.begin() + 1, a.end()), &zone, why)) {
        return false;
    }
    r.plan->zones.push_back(zone);
    return true;
}

bool keyZones(const std::vector<std::string> &a, Reader &r, std::string *why) {
    long count = 0;
    if (a.size() < 2 || !validName(a[0]) || !integer(a[1], 1, MAX_ZONES_LINE, &count)) {
        return false;
    }
    ZoneSpec zone = r.defaults;
    zone.line = r.line;
    if (!applyZoneOptions(std::vector<std::string>(a.begin() + 2, a.end()), &zone, why)) {
        return false;
    }
    int width = count >= 100 ? 3 : 2;
    for (long i = 0; i < count; i++) {
        ZoneSpec z = zone;
        char suffix[24];
        snprintf(suffix, sizeof(suffix), "%0*d", width, static_cast<int>(i + 1));
        z.name = a[0] + suffix;
        z.address = zone.address < 0 ? -1 : zone.address + static_cast<int>(i);
        if (z.address > 255) {
            *why = "the addresses run past 255";
            return false;
        }
        r.plan->zones.push_back(z);
    }
    return true;
}

bool keyGroup(const std::vector<std::string> &a, Reader &r, std::string *) {
    if (a.size() < 2 || !validName(a[0])) {
        return false;
    }
    r.groupLines.emplace_back(r.line, a);
    return true;
}

bool keyEvent(const std::vector<std::string> &a, Reader &r, std::string *) {
    if (a.size() < 2) {
        return false;
    }
    r.eventLines.emplace_back(r.line, a);
    return true;
}

const BuildingKey c_Keys[] = {
    {"start", "start YYYY-MM-DD HH:MM", keyStart},
    {"hours", "hours N (1/60 to 744)", keyHours},
    {"weather", "weather FILE (a weather day file)", keyWeather},
    {"outdoor", "outdoor C (the sine day's mean, -50 to 50)", keyOutdoor},
    {"swing", "swing C (the sine day's swing, 0 to 30)", keySwing},
    {"seed", "seed N", keySeed},
    {"bus-rate", "bus-rate BITS a second (1200 to 1000000)", keyBusRate},
    {"on-failure", "on-failure continue|end", keyOnFailure},
    {"defaults", "defaults KEY=VALUE... (zone options for the zones after it)", keyDefaults},
    {"zone", "zone NAME KEY=VALUE... (letters, digits, - _ . in its name)", keyZone},
    {"zones", "zones PREFIX COUNT KEY=VALUE... (PREFIX01 on, addresses from address=)", keyZones},
    {"group", "group NAME ZONE...", keyGroup},
    {"event", "event TIME cool|heat AMOUNT for DURATION [group NAME] [stagger DURATION]", keyEvent},
};

bool readLine(const std::string &raw, Reader &r, std::string *error) {
    std::vector<std::string> w;
    if (!lineWords(raw, &w)) {
        *error = "a quote is not closed";
        return false;
    }
    if (w.empty()) {
        return true;
    }
    for (const BuildingKey &k : c_Keys) {
        if (w[0] == k.name) {
            std::string why;
            if (!k.handle(std::vector<std::string>(w.begin() + 1, w.end()), r, &why)) {
                *error = why.empty() ? std::string("expected ") + k.usage : why;
                return false;
            }
            return true;
        }
    }
    std::string keys;
    for (const BuildingKey &k : c_Keys) {
        keys += (keys.empty() ? "" : ", ") + std::string(k.name);
    }
    *error = "unknown key \"" + w[0] + "\" (the keys are " + keys + ")";
    return false;
}

// ---- The whole building --------------------------------------------------------------------

bool finishGroups(Reader &r, std::string *error) {
    std::map<std::string, size_t> index;
    for (size_t i = 0; i < r.plan->zones.size(); i++) {
        index[r.plan->zones[i].name] = i;
    }
    for (const auto &[line, words] : r.groupLines) {
        r.line = line;
        std::vector<size_t> &group = r.plan->groups[words[0]];
        for (size_t i = 1; i < words.size(); i++) {
            auto it = index.find(words[i]);
            if (it == index.end()) {
                *error = "no zone \"" + words[i] + "\" in the building";
                return false;
            }
            group.push_back(it->second);
        }
    }
    return true;
}

bool finishEvents(Reader &r, std::string *error) {
    for (const auto &[line, words] : r.eventLines) {
        r.line = line;
        DemandEvent event;
        if (!parseBuildingEvent(words, *r.plan, &event, error)) {
            return false;
        }
        event.line = line;
        r.plan->events.push_back(event);
    }
    return true;
}

bool finishZones(Reader &r, const HostLimits &limits, std::string *error) {
    const std::vector<ZoneSpec> &zones = r.plan->zones;
    if (zones.empty()) {
        r.line = 0;
        *error = "no zone: a building has at least one (zone NAME address=N)";
        return false;
    }
    std::map<int, const ZoneSpec *> byAddress;
    std::set<std::string> names;
    for (const ZoneSpec &z : zones) {
        r.line = z.line;
        if (z.address < 0) {
            *error = "zone " + z.name + " has no address (address=N, 0 to 255)";
            return false;
        }
        if (!names.insert(z.name).second) {
            *error = "a second zone named " + z.name;
            return false;
        }
        auto [at, fresh] = byAddress.emplace(z.address, &z);
        if (!fresh) {
            *error = "zone " + z.name + " has address " + std::to_string(z.address) +
                     ", which zone " + at->second->name + " (line " +
                     std::to_string(at->second->line) + ") has";
            return false;
        }
    }
    std::string why;
    if (!hostHoldsUnits(zones.size(), limits, &why)) {
        r.line = zones.back().line;
        *error = std::to_string(zones.size()) + " units: " + why;
        return false;
    }
    return true;
}

} // namespace

bool parseDuration(const std::string &text, int64_t *ms) {
    double total = 0.0;
    size_t at = 0;
    while (at < text.size()) {
        char *end = nullptr;
        double v = strtod(text.c_str() + at, &end);
        size_t used = static_cast<size_t>(end - (text.c_str() + at));
        if (used == 0 || !std::isfinite(v) || v < 0 || *end == '\0' || text[at] == '+' ||
            text[at] == '-') {
            return false;
        }
        char unit = *end;
        double scale = unit == 'h' ? 3600.0 : unit == 'm' ? 60.0 : unit == 's' ? 1.0 : 0.0;
        if (scale == 0.0) {
            return false;
        }
        total += v * scale;
        at += used + 1;
    }
    if (text.empty() || total > 31.0 * 86400.0) {
        return false;
    }
    *ms = std::llround(total * 1000.0);
    return true;
}

bool parseDemandEvent(const std::vector<std::string> &w, DemandEvent *event, std::string *why) {
    const char *usage = "expected cool|heat AMOUNT (2F, 1C) for DURATION (3h, 90m) [group NAME] "
                        "[stagger DURATION]";
    if (w.size() < 4 || (w[0] != "cool" && w[0] != "heat") || w[2] != "for") {
        *why = usage;
        return false;
    }
    event->cool = w[0] == "cool";
    std::string amount = w[1][0] == '+' ? w[1].substr(1) : w[1];
    char unit = amount.empty() ? '\0' : amount.back();
    double value = 0;
    if ((unit != 'F' && unit != 'C') ||
        !number(amount.substr(0, amount.size() - 1), 0.1, unit == 'F' ? 18 : 10, &value)) {
        *why = "the amount is degrees F (0.1F to 18F) or C (0.1C to 10C): " + w[1];
        return false;
    }
    event->amountC = unit == 'F' ? value / 1.8 : value;
    if (!parseDuration(w[3], &event->durationMs) || event->durationMs <= 0) {
        *why = "the duration is hours, minutes or seconds (3h, 90m, 1h30m): " + w[3];
        return false;
    }
    for (size_t i = 4; i < w.size(); i += 2) {
        if (i + 1 >= w.size() || (w[i] != "group" && w[i] != "stagger")) {
            *why = usage;
            return false;
        }
        if (w[i] == "group") {
            event->group = w[i + 1];
        } else if (!parseDuration(w[i + 1], &event->staggerMs)) {
            *why = "the stagger is a duration (30m): " + w[i + 1];
            return false;
        }
    }
    return true;
}

bool parseBuildingEvent(const std::vector<std::string> &words, const BuildingSpec &plan,
                        DemandEvent *event, std::string *why) {
    if (words.empty() || !parseScriptTime(words[0], plan.startWall, 0, &event->atMs)) {
        *why = "expected a time (HH:MM[:SS], or +H:M:S from the start): " +
               (words.empty() ? std::string() : words[0]);
        return false;
    }
    if (!parseDemandEvent(std::vector<std::string>(words.begin() + 1, words.end()), event, why)) {
        return false;
    }
    if (!event->group.empty() && plan.groups.count(event->group) == 0) {
        *why = "no group \"" + event->group + "\" in the building";
        return false;
    }
    return true;
}

bool parseBuilding(const std::string &text, const std::string &path, BuildingSpec *plan,
                   std::string *error, const HostLimits *limits) {
    *plan = BuildingSpec{};
    plan->path = path;
    Reader r(plan);
    std::string why;
    keyStart({"2026-07-15", "00:00"}, r, &why);
    std::istringstream in(text);
    std::string raw;
    bool ok = true;
    while (ok && std::getline(in, raw)) {
        r.line++;
        ok = readLine(raw, r, &why);
    }
    HostLimits host = limits != nullptr ? *limits : currentHostLimits();
    ok = ok && finishGroups(r, &why) && finishEvents(r, &why) && finishZones(r, host, &why);
    if (!ok) {
        *error = path + (r.line > 0 ? ":" + std::to_string(r.line) : std::string()) + ": " + why;
    }
    return ok;
}

bool loadBuilding(const std::string &path, BuildingSpec *plan, std::string *error) {
    std::string text;
    std::string why;
    if (!readSmallFile(path, MAX_BUILDING_BYTES, &text, &why)) {
        *error = "cannot read the building file: " + why;
        return false;
    }
    return parseBuilding(text, path, plan, error);
}

BuildingSpec generatedBuilding(int units) {
    BuildingSpec plan;
    std::string error;
    std::string text = "zones unit " + std::to_string(units) + " address=1\n";
    // The caller holds them to the host.
    HostLimits none;
    parseBuilding(text, "--units", &plan, &error, &none);
    for (ZoneSpec &z : plan.zones) {
        z.line = 0;
    }
    return plan;
}

HostLimits currentHostLimits() {
    HostLimits limits;
    std::ifstream meminfo("/proc/meminfo");
    for (std::string key; meminfo >> key;) {
        double kb = 0;
        meminfo >> kb;
        if (key == "MemAvailable:") {
            limits.availableMb = kb / 1024.0;
        }
        meminfo.ignore(64, '\n');
    }
    struct rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        limits.descriptors = static_cast<long>(files.rlim_cur);
    }
    struct rlimit processes {};
    if (getrlimit(RLIMIT_NPROC, &processes) == 0 && processes.rlim_cur != RLIM_INFINITY) {
        limits.processes = static_cast<long>(processes.rlim_cur);
    }
    return limits;
}

bool hostHoldsUnits(size_t n, const HostLimits &limits, std::string *why) {
    double needMb = static_cast<double>(n) * UNIT_MEMORY_MB + HOST_RESERVE_MB;
    if (limits.availableMb >= 0.0 && needMb > limits.availableMb) {
        char text[200];
        snprintf(text, sizeof(text),
                 "the host has %.0f MB of memory available, and %zu units need %.0f MB (%.0f MB "
                 "a unit, %.0f MB kept for the host)",
                 limits.availableMb, n, needMb, UNIT_MEMORY_MB, HOST_RESERVE_MB);
        *why = text;
        return false;
    }
    if (limits.descriptors >= 0 &&
        n * DESCRIPTORS_PER_UNIT + DESCRIPTORS_KEPT > static_cast<size_t>(limits.descriptors)) {
        *why = "the building would hold more descriptors than its limit of " +
               std::to_string(limits.descriptors) + " (ulimit -n)";
        return false;
    }
    if (limits.processes >= 0 && n * PROCESSES_PER_UNIT > static_cast<size_t>(limits.processes)) {
        *why = "the units' processes would pass the limit of " + std::to_string(limits.processes) +
               " (ulimit -u)";
        return false;
    }
    return true;
}

std::vector<std::string> factoryArguments(const BuildingSpec &plan, size_t zone) {
    const ZoneSpec &z = plan.zones[zone];
    StudyVariant equipment;
    std::string why;
    namedVariant(AXIS_EQUIPMENT, z.equipment, NamingContext{}, &equipment, &why);
    std::vector<std::string> args = equipment.factoryArgs;
    args.insert(args.end(), z.factory.begin(), z.factory.end());
    args.insert(args.end(), {"--time", std::to_string(plan.startWall)});
    return args;
}

std::vector<std::string> unitArguments(const BuildingSpec &plan, size_t zone) {
    const ZoneSpec &z = plan.zones[zone];
    auto text = [](double v) {
        char b[32];
        snprintf(b, sizeof(b), "%g", v);
        return std::string(b);
    };
    std::vector<std::string> args = {"--clock",       "lockstep",
                                     "--start",       plan.start,
                                     "--seed",        std::to_string(plan.seed + zone),
                                     "--address",     std::to_string(z.address),
                                     "--house",       z.house,
                                     "--area",        text(z.area),
                                     "--solar-share", text(z.solarShare)};
    StudyVariant equipment;
    std::string why;
    namedVariant(AXIS_EQUIPMENT, z.equipment, NamingContext{}, &equipment, &why);
    args.insert(args.end(), equipment.simArgs.begin(), equipment.simArgs.end());
    if (z.internal >= 0.0) {
        args.insert(args.end(), {"--internal", text(z.internal)});
    }
    if (z.indoor > -100.0) {
        args.insert(args.end(), {"--indoor", text(z.indoor)});
    }
    if (!plan.weather.empty()) {
        // The file's day lines up with the clock's.
        time_t start = static_cast<time_t>(plan.startWall);
        struct tm local {};
        localtime_r(&start, &local);
        double hour = local.tm_hour + local.tm_min / 60.0;
        args.insert(args.end(), {"--weather", plan.weather, "--weather-from", text(hour)});
    }
    if (plan.outdoor > -100.0) {
        args.insert(args.end(), {"--outdoor", text(plan.outdoor)});
    }
    if (plan.swing >= 0.0) {
        args.insert(args.end(), {"--swing", text(plan.swing)});
    }
    std::string factory;
    for (const std::string &a : factoryArguments(plan, zone)) {
        factory += (factory.empty() ? "" : " ") + a;
    }
    args.push_back("--factory=" + factory);
    return args;
}

} // namespace sim
