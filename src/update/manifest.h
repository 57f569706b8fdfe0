// The MANIFEST of a version: `sha256sum -c` lines for every file (relative
// to the board's root) and comment lines that `sha256sum -c` passes over:
//   # version: v1.2-3-gabcdef   what the version is called
//   # security: 4                its security version, ordered: a board
//                                refuses a bundle lower than it has run
//   # target: arm-linux-gnueabi, ...  the machine it is built for (up to
//                                the first comma), then its toolchain
//   # directory: opt/tstat/images   each directory below opt/tstat
//   # mode: 0755 opt/tstat/tstat    a file installed executable (every
//                                other file is installed 0644)
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>

using Sha256 = std::array<uint8_t, 32>;

constexpr const char *UPDATE_PREFIX = "opt/tstat/";
constexpr const char *UPDATE_MANIFEST = "opt/tstat/MANIFEST";
constexpr const char *UPDATE_SIGNATURE = "opt/tstat/MANIFEST.sig";

struct Manifest {
    std::map<std::string, Sha256> files; // opt/tstat/<file>
    std::set<std::string> executables;   // files installed 0755
    std::set<std::string> directories;   // opt/tstat/<directory>
    std::string version;
    std::string target;
    uint32_t security = 0;
    bool hasSecurity = false;

    uint32_t modeOf(const std::string &file) const {
        return executables.count(file) != 0 ? 0755 : 0644;
    }
};

// False, with the reason, for a line that is none of the above.
bool parseManifest(const std::string &text, Manifest *m, std::string *why);

// The value of a "# key: value" line, "" when there is none.
std::string manifestField(const std::string &text, const std::string &key);
inline std::string manifestVersion(const std::string &text) {
    return manifestField(text, "version");
}
// The text with its "# key: " line set to value, added after the version
// line when it has none.
std::string withField(const std::string &text, const std::string &key, const std::string &value);
// The machine a target line names: the text before its first comma.
std::string machineOf(const std::string &target);

// Why a name in a bundle may not be installed, "" when it may.
std::string nameRule(const std::string &name, bool directory);

// The text with every control character and every byte past ASCII as \xNN:
// what a bundle names can never start a line of its own on a console.
std::string printable(const std::string &text);
