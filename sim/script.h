// A script of timed console lines for a run of the simulator:
//
//   # the morning: the display woken, then a hold; a brown-out
//   06:59:28   key mode
//   +2         key mode 3.5
//   +10        screen mode-popup
//   07:30      voltage 480
//   +0:05:00   voltage 600
//
// Each line is a time and a console line (any console command), whose
// arguments are checked before the run as the command checks them. A time
// of day is the first moment at or after the line before (or the start) at
// which the local clock shows it, so a script may run over midnight; +S,
// +M:S or +H:M:S is that long after the line before. Seconds may have a
// fraction (milliseconds count). Blank lines and # comments are skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

struct ScriptLine {
    int64_t atMs; // simulated milliseconds from the start of the run
    std::string line;
    int number; // line number in the file, for messages
};

// Reads a script whose run starts at the given wall-clock second (local
// time as TZ says). False with a message naming the line on an error.
// checkLine checks one line's command and arguments (false with the reason);
// by default as the console's commands check theirs.
using ScriptLineCheck = std::function<bool(const std::string &line, std::string *why)>;
bool parseScript(const std::string &text, int64_t startWallSeconds, std::vector<ScriptLine> *out,
                 std::string *error, const ScriptLineCheck &checkLine = nullptr);
bool loadScript(const std::string &path, int64_t startWallSeconds, std::vector<ScriptLine> *out,
                std::string *error, const ScriptLineCheck &checkLine = nullptr);

// One script time: "HH:MM[:SS]" is the first moment at or after previousMs
// (simulated milliseconds from the start) at which the local clock shows
// it, "+S", "+M:S" or "+H:M:S" that long after previousMs. False when it is
// malformed or later than a month after the start.
bool parseScriptTime(const std::string &when, int64_t startWallSeconds, int64_t previousMs,
                     int64_t *atMs);

} // namespace sim
