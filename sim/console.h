// The building-controller console: lines typed on standard input or sent to
// the loopback socket, each one command such as "channel 214 1",
// "level 3 190", "command MD MPH H68 C76", "voltage 480" or "silence 30".
// Everything the simulator has to say goes to standard output and to every
// connected socket client.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

class BoardConsole;
class Coprocessor;
class House;
class KeyPad;

struct ConsoleContext {
    Coprocessor *coproc;
    House *house;
    bool *paused;
    bool *quit;
    std::function<void(const std::string &)> say;
    // Prints the house's state now.
    std::function<void()> showHouse;
    // The board's keys (none where they cannot be pressed).
    KeyPad *keys;
    // Keeps the screen of this moment as NAME.png beside the report.
    std::function<void(const std::string &name)> keepScreen;
    // The board's console, when a board that runs the board flavour is
    // attached with it.
    const BoardConsole *boardConsole = nullptr;
    // Only the arguments are checked, as the command would (a script before
    // its run): nothing is sent or changed, and a bad one says its usage.
    bool checkOnly = false;
    // A command string waits for the thermostat's answer, and the console
    // says when none came (not for the controller's own weather).
    bool awaitAnswers = true;
};

// Runs one console line. Blank lines and lines starting with '#' do nothing;
// a line with a NUL byte is refused.
// Returns false when the line was not understood (the reason has been said).
bool runConsoleLine(const std::string &line, ConsoleContext &ctx);

// Whether name may name a screen kept (letters, digits, - and _).
bool isScreenName(const std::string &name);
// Whether word names a console command.
bool isConsoleCommand(const std::string &word);

// Checks a console line's arguments as the command would, without running
// it; false with the reason (its usage) in *why.
bool checkConsoleLine(const std::string &line, std::string *why);

// The packet a bus command line stands for ("channel 214 1", "level 3 190",
// "command MD MH H70 C76", "string TEXT"): its type and payload, as the
// console sends it to the thermostat. False with the reason (its usage),
// also for a line that is none of those.
bool busPacketOfLine(const std::string &line, uint8_t *type, std::vector<uint8_t> *payload,
                     std::string *why);

// The help text, one line per command.
std::vector<std::string> consoleHelp();

// Splits a line into the command word and the rest (leading blanks removed).
void splitCommand(const std::string &line, std::string *word, std::string *rest);

// True for the request line of an HTTP request ("POST / HTTP/1.1"), which a
// web page sends when it posts to the console's port: a connection that
// opens with one is not a console client.
bool isHttpRequestLine(const std::string &line);

// Collects a socket's or a pipe's bytes into lines (CR LF or LF ended).
class LineBuffer {
  public:
    // Adds bytes; complete lines are appended to out.
    void add(const char *bytes, size_t count, std::vector<std::string> *out);
    // A line longer than this is cut.
    static constexpr size_t MAX_LINE = 4096;

  private:
    std::string m_pending;
    bool m_overflow = false;
};

} // namespace sim
