// Scripts of timed console lines.
#include "script.h"

#include "board/board.h"
#include "console.h"

#include <cmath>
#include <ctime>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

constexpr int64_t MS_PER_SECOND = 1000;
constexpr int64_t SECONDS_PER_DAY = 86400;
// The longest script read, and the latest moment a line may name: the
// longest run (a month).
constexpr size_t MAX_SCRIPT_BYTES = 1024 * 1024;
constexpr double MAX_SCRIPT_SECONDS = 31.0 * SECONDS_PER_DAY;

// "H:M:S", "M:S" or "S" with an optional fraction on the seconds (a time of
// day: "H:M:S" or "H:M"), as milliseconds; false when malformed.
bool parseClock(const std::string &text, bool timeOfDay, int64_t *ms) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ':')) {
        parts.push_back(part);
    }
    if (timeOfDay && parts.size() == 2) {
        parts.push_back("0");
    }
    if (timeOfDay && parts.size() != 3) {
        return false;
    }
    if (parts.empty() || parts.size() > 3) {
        return false;
    }
    double total = 0.0;
    for (size_t i = 0; i < parts.size(); i++) {
        const std::string &p = parts[i];
        bool last = i + 1 == parts.size();
        char *end = nullptr;
        double value = strtod(p.c_str(), &end);
        bool digitsOnly =
            p.find_first_not_of(last ? "0123456789." : "0123456789") == std::string::npos;
        if (p.empty() || !digitsOnly || *end != '\0' || !std::isfinite(value) ||
            (i > 0 && value >= 60.0)) {
            return false;
        }
        total = total * 60.0 + value;
    }
    if (total > MAX_SCRIPT_SECONDS) {
        return false;
    }
    *ms = std::llround(total * MS_PER_SECOND);
    return true;
}

// Milliseconds from the start of the run to the first moment at or after
// `afterMs` at which the local clock shows the time of day `dayMs`.
int64_t nextTimeOfDay(int64_t startWallSeconds, int64_t afterMs, int64_t dayMs) {
    time_t at = static_cast<time_t>(startWallSeconds + afterMs / MS_PER_SECOND);
    struct tm local {};
    localtime_r(&at, &local);
    int64_t sinceMidnightMs =
        (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * MS_PER_SECOND +
        afterMs % MS_PER_SECOND;
    int64_t wait = dayMs - sinceMidnightMs;
    if (wait < 0) {
        wait += SECONDS_PER_DAY * MS_PER_SECOND;
    }
    return afterMs + wait;
}

// Whether a line's command is one of the console's, with its arguments
// as the command checks them.
bool consoleLineChecks(const std::string &line, std::string *why) {
    std::string word;
    std::string rest;
    splitCommand(line, &word, &rest);
    if (!isConsoleCommand(word)) {
        *why = "unknown command \"" + word + "\" (tstat-sim's console help lists them)";
        return false;
    }
    return checkConsoleLine(line, why);
}

} // namespace

bool parseScriptTime(const std::string &when, int64_t startWallSeconds, int64_t previousMs,
                     int64_t *atMs) {
    int64_t ms = 0;
    bool relative = !when.empty() && when[0] == '+';
    if (when.empty() || !parseClock(relative ? when.substr(1) : when, !relative, &ms) ||
        (!relative && ms >= SECONDS_PER_DAY * MS_PER_SECOND)) {
        return false;
    }
    *atMs = relative ? previousMs + ms : nextTimeOfDay(startWallSeconds, previousMs, ms);
    return *atMs <= static_cast<int64_t>(MAX_SCRIPT_SECONDS) * MS_PER_SECOND;
}

bool parseScript(const std::string &text, int64_t startWallSeconds, std::vector<ScriptLine> *out,
                 std::string *error, const ScriptLineCheck &checkLine) {
    std::stringstream in(text);
    std::string raw;
    int number = 0;
    int64_t previousMs = 0;
    while (std::getline(in, raw)) {
        number++;
        size_t first = raw.find_first_not_of(" \t\r");
        if (first == std::string::npos || raw[first] == '#') {
            continue;
        }
        size_t space = raw.find_first_of(" \t", first);
        std::string when = raw.substr(first, space == std::string::npos ? space : space - first);
        size_t lineAt = space == std::string::npos ? space : raw.find_first_not_of(" \t", space);
        std::string line = lineAt == std::string::npos ? "" : raw.substr(lineAt);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        int64_t ms = 0;
        bool relative = when[0] == '+';
        if (!parseClock(relative ? when.substr(1) : when, !relative, &ms) || line.empty() ||
            (!relative && ms >= SECONDS_PER_DAY * MS_PER_SECOND)) {
            *error = "script line " + std::to_string(number) +
                     ": expected a time (HH:MM[:SS] or +SECONDS) and a console line: " + raw;
            return false;
        }
        if (!parseScriptTime(when, startWallSeconds, previousMs, &previousMs)) {
            *error = "script line " + std::to_string(number) +
                     ": later than a month after the start: " + raw;
            return false;
        }
        std::string why;
        if (!(checkLine ? checkLine(line, &why) : consoleLineChecks(line, &why))) {
            *error = "script line " + std::to_string(number) + ": " + why + ": " + raw;
            return false;
        }
        out->push_back({previousMs, line, number});
    }
    return true;
}

bool loadScript(const std::string &path, int64_t startWallSeconds, std::vector<ScriptLine> *out,
                std::string *error, const ScriptLineCheck &checkLine) {
    std::string text;
    std::string why;
    if (!readSmallFile(path, MAX_SCRIPT_BYTES, &text, &why)) {
        *error = "cannot read the script: " + why;
        return false;
    }
    return parseScript(text, startWallSeconds, out, error, checkLine);
}

} // namespace sim
