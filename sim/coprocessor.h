// The simulated coprocessor: the thermostat's peer on the serial link. It
// reports the house's temperatures and humidity as raw sensor words, the line
// voltage and the bus status, address and firmware version; carries channel,
// level, string and command traffic between the thermostat and the console
// (the building controller); answers the manufacturing tests; sends
// firmware downloads; and injects faults on demand.
#pragma once

#include "download_sender.h"
#include "house/house.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CoprocComm;

namespace sim {

// What the coprocessor's second thermistor measures.
enum class ExternalSensor { Outdoor, Indoor };

struct CoprocessorOptions {
    uint16_t lineVoltage = 600;
    uint8_t address = 1;
    std::string busVersion = "2.10";
    bool online = true;
    bool levelsEnabled = true;
    ExternalSensor external = ExternalSensor::Outdoor;
    bool showRequests = false;
    bool busTestPasses = true;
    // Whether the manufacturing link-test frame gets its "ABCDE".
    bool answersLinkTest = true;
    // What the on-board sensor reads above the room's air (C): a sensor's
    // error within its tolerance.
    double sensorOffset = 0.0;
    // Seed of the random bytes of the garbage command.
    uint32_t seed = 0x2545F491u;
    // Download time-outs on the simulated clock (lock-step time) instead of
    // the host's (a fast scaled clock would give the thermostat no time).
    bool simulatedTimeouts = false;
};

class Coprocessor {
  public:
    // Receives every line the coprocessor has to say.
    using Printer = std::function<void(const std::string &)>;

    // Takes over masterFd (the pseudo-terminal's master side, non-blocking).
    Coprocessor(int masterFd, House &house, const CoprocessorOptions &options, Printer print);
    ~Coprocessor();
    Coprocessor(const Coprocessor &) = delete;
    Coprocessor &operator=(const Coprocessor &) = delete;

    // One pass at simulated monotonic time nowMs: reads what the thermostat
    // sent (unless readLink says nothing can have come), and sends the
    // reports that are due.
    void poll(int64_t nowMs, bool readLink = true);

    // The building controller's traffic towards the thermostat.
    void sendChannel(uint8_t channel, uint8_t state);
    void sendLevel(uint8_t level, uint8_t value);
    void sendCommand(const std::string &text);
    void sendString(const std::string &text);
    void sendPacket(uint8_t type, const std::vector<uint8_t> &payload);
    void sendRaw(const std::vector<uint8_t> &bytes);
    // One full set of reports and the bus identity at the next poll.
    void reportNow();
    // A command string was sent: when nothing comes back from the
    // thermostat within ANSWER_MS of simulated time, the coprocessor says so.
    void awaitAnswer(const std::string &text);
    // The thermostat handles a command in the main-loop pass that reads it;
    // its longest answer (ST) is three packets 60 ms apart. One poll period
    // covers both.
    static constexpr int64_t ANSWER_MS = 1000;

    // Settings and faults.
    void setLineVoltage(uint16_t reading);
    void setOnline(bool online);
    void setLevelsEnabled(bool enabled);
    void setAddress(uint8_t address);
    void setBusVersion(const std::string &version);
    void setBusTestPasses(bool passes) { m_options.busTestPasses = passes; }
    void setAnswersLinkTest(bool answers) { m_options.answersLinkTest = answers; }
    void setShowRequests(bool show) { m_options.showRequests = show; }
    void setExternal(ExternalSensor external) { m_options.external = external; }
    // Says nothing for the given simulated seconds (0 ends a silence).
    void silence(double seconds);
    bool silent() const;
    void garbage(size_t count);
    // A temperature report whose CRC is wrong.
    void badCrc();
    // A frame whose unescaped body is `bodyLength` bytes long (over 68 is
    // more than the thermostat accepts).
    void overlong(size_t bodyLength);

    // Firmware download of a regular file, read as it is sent; destination 1
    // (application) or 2 (graphics) chooses the bus command. False (said on
    // the console) when a download is running or the file is not one the
    // thermostat can take.
    bool startDownload(const std::string &path, int destination);
    void cancelDownload();
    const DownloadSender &download() const { return m_download; }

    const CoprocessorOptions &options() const { return m_options; }
    // Requests received since the last call, per type 0x05, 0x07, 0x0D, 0x15.
    std::string takeRequestCounts();
    // Frames received from the thermostat that failed their CRC.
    unsigned badFrames() const { return m_badFrames; }
    // The last value a level carried either way: the thermostat's report
    // (packet type 0x04) or the controller's write, which the thermostat
    // takes as known and reports again only once its own value differs
    // (it may hold a set point written to its limits); -1 before either.
    int exchangedLevel(uint8_t level) const { return m_exchangedLevels[level]; }
    // Bytes sent to the thermostat so far (wrapping).
    uint32_t bytesSent() const;

    // The bus behind the coprocessor, in a building of several thermostats:
    // every packet the thermostat sends onto the bus (channels, levels,
    // replies, its version), and the address the coprocessor answers to
    // (as packet 0x11, at the start and whenever the thermostat sets a new
    // one), go to it too.
    using BusSink = std::function<void(uint8_t type, const uint8_t *payload, size_t length)>;
    void setBusSink(BusSink sink);

    // The frame handler of the link (one coprocessor per process).
    static int onFrame(const uint8_t *frame, uint16_t length);
    static void onPassthroughByte(uint8_t byte);

  private:
    bool handleLinkTest(const uint8_t *frame, uint16_t length);
    void handleFrame(const uint8_t *frame, uint16_t length);
    void handleAddressByte(uint8_t byte);
    void sendReports();
    // The clock of the download sender's time-outs (see CoprocessorOptions).
    int64_t downloadClockMs() const;
    void sendIdentity();
    void finishDownload(const char *how);
    // Prints the download's progress and verdict when they change.
    void downloadProgress();
    void checkAnswer();
    void say(const std::string &line) const;
    bool quiet() const;

    // Hands a packet for the bus to the sink, when there is one.
    void toBus(uint8_t type, const uint8_t *payload, size_t length) const;

    CoprocComm *m_link;
    BusSink m_busSink;
    House &m_house;
    CoprocessorOptions m_options;
    Printer m_print;
    int64_t m_nowMs = 0;
    int64_t m_nextReportMs = 0;
    int64_t m_nextIdentityMs = 0;
    int64_t m_silentUntilMs = -1;
    int64_t m_downloadActivityMs = 0;
    // The command string waiting for an answer, and when it is due.
    static constexpr int64_t NO_ANSWER_AWAITED = -1;
    static constexpr int64_t ANSWER_FROM_NEXT_POLL = -2;
    std::string m_awaitedCommand;
    int64_t m_answerDueMs = NO_ANSWER_AWAITED;
    unsigned m_requests[4] = {0, 0, 0, 0};
    unsigned m_badFrames = 0;
    std::array<int, 256> m_exchangedLevels;
    // The three-packet address sequence: address, complement, address.
    std::vector<uint8_t> m_addressBytes;
    DownloadSender m_download;
    uint32_t m_garbageSeed;
};

} // namespace sim
