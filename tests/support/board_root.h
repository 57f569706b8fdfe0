// A throw-away simulated-board root for one test: a fresh directory named by
// TSTAT_ROOT, removed again when the test ends; and a time zone for a scope.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class TempBoardRoot {
  public:
    TempBoardRoot();
    ~TempBoardRoot();
    TempBoardRoot(const TempBoardRoot &) = delete;
    TempBoardRoot &operator=(const TempBoardRoot &) = delete;

    const std::string &path() const { return m_path; }
    // The host path of a design path or of a file under the root ("/sim/rtc").
    std::string file(const std::string &rooted) const { return m_path + rooted; }
    // Whole content of a file under the root ("" when missing).
    std::string read(const std::string &rooted) const;
    void write(const std::string &rooted, const std::string &content) const;

  private:
    std::string m_path;
};

// Whole content of a host file ("" when missing).
std::string readFile(const std::string &path);

// How often part stands in text, overlaps counted.
inline size_t countOf(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        n++;
    }
    return n;
}

// Sets TZ for its lifetime.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char *zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

  private:
    std::optional<std::string> m_previous;
};

// Seconds since 1970 of a local time in the current zone (daylight saving as the zone has it).
int64_t localEpoch(int year, int month, int day, int hour, int minute, int second = 0);

// The bytes of a packed record, as a flash region holds them.
template <typename Record> std::string bytesOf(const Record &record) {
    return std::string(reinterpret_cast<const char *>(&record), sizeof(record));
}
