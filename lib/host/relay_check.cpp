// Safety checker of the simulated board's relay log.
#include "host/relay_check.h"

#include "hvac/relay_control.h"

#include <array>
#include <sstream>

namespace {

constexpr int OB = RELAY_OB, Y1 = RELAY_Y1, Y2 = RELAY_Y2, W1E = RELAY_W1E, W2 = RELAY_W2,
              DEH = RELAY_DEH, HUM = RELAY_HUM, G1 = RELAY_G1, G2 = RELAY_G2, G3 = RELAY_G3;
constexpr int64_t COMPRESSOR_MIN_OFF_MS = 300000;
constexpr int64_t PULSE_MS = 500;

// Outputs the control never closes together.
struct ApartPair {
    int a;
    int b;
    const char *what;
};
constexpr ApartPair c_ApartPairs[] = {
    {HUM, DEH, "humidifier and dehumidifier"},
    {G1, G2, "fan speeds G1 and G2"},
    {G1, G3, "fan speeds G1 and G3"},
    {G2, G3, "fan speeds G2 and G3"},
};

struct Contacts {
    std::array<int, RELAY_COUNT> closed{}; // -1 never pulsed
    Contacts() { closed.fill(-1); }
    bool on(int relay) const { return closed[relay] == 1; }
};

bool heating(const Contacts &c, bool heatPump) {
    if (c.on(W1E) || c.on(W2)) {
        return true;
    }
    return heatPump && !c.on(OB) && (c.on(Y1) || c.on(Y2));
}

bool cooling(const Contacts &c, bool heatPump) {
    if (!(c.on(Y1) || c.on(Y2))) {
        return false;
    }
    return !heatPump || c.on(OB);
}

// A pulse completed less than a pulse after the one before, and a pulse
// sequence that began while the emergency stop held.
void checkPulseTiming(const RelayEvent &e, const RelayEvent *previous,
                      const RelayCheckOptions &options, std::vector<RelayViolation> &found) {
    if (previous != nullptr && e.ms - previous->ms < PULSE_MS - options.samplingMs) {
        std::ostringstream what;
        what << "coil pulses overlap: " << c_RelayNames[e.relay] << " completed "
             << e.ms - previous->ms << " ms after " << c_RelayNames[previous->relay];
        found.push_back({e.ms, what.str()});
    }
    // A sequence opens relays in index order, then closes relays in index
    // order: an opening after a closing, or at a lower index than the pulse
    // before, is the first pulse of the next sequence.
    bool sequenceStart = previous == nullptr ||
                         (e.closed == 0 && (previous->closed == 1 || e.relay <= previous->relay));
    if (!sequenceStart) {
        return;
    }
    int64_t start = e.ms - PULSE_MS;
    for (const auto &window : options.estopWindows) {
        if (start > window.first && start <= window.second) {
            std::ostringstream what;
            what << "a pulse sequence began at " << start << " ms while the emergency stop held";
            found.push_back({e.ms, what.str()});
        }
    }
}

// A compressor stage (Y1, Y2) closing less than the minimum off time after
// it opened; `before` is its contact before this pulse.
void checkCompressorOffTime(const RelayEvent &e, int before, const RelayCheckOptions &options,
                            std::array<int64_t, RELAY_COUNT> &openedAt,
                            std::vector<RelayViolation> &found) {
    if (before == 1 && e.closed == 0) {
        openedAt[e.relay] = e.ms;
    } else if (before != 1 && e.closed == 1 && openedAt[e.relay] >= 0 &&
               e.ms - openedAt[e.relay] < COMPRESSOR_MIN_OFF_MS - options.samplingMs) {
        std::ostringstream what;
        what << c_RelayNames[e.relay] << " closed " << e.ms - openedAt[e.relay]
             << " ms after it opened";
        found.push_back({e.ms, what.str()});
    }
}

// Two outputs kept apart, closed together by the relay that just closed.
void checkApartPairs(const RelayEvent &e, const Contacts &contacts,
                     std::vector<RelayViolation> &found) {
    for (const ApartPair &pair : c_ApartPairs) {
        if ((e.relay == pair.a || e.relay == pair.b) && contacts.on(pair.a) &&
            contacts.on(pair.b)) {
            found.push_back({e.ms, std::string(pair.what) + " closed together"});
        }
    }
}

} // namespace

bool parseRelayLog(std::istream &in, std::vector<RelayEvent> &events, std::string &error) {
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        number++;
        if (line.empty()) {
            continue;
        }
        std::istringstream fields(line);
        RelayEvent e{};
        std::string rest;
        if (!(fields >> e.ms >> e.relay >> e.closed) || (fields >> rest) || e.relay < 0 ||
            e.relay >= static_cast<int>(RELAY_COUNT) || (e.closed != 0 && e.closed != 1) ||
            e.ms < 0) {
            error = "line " + std::to_string(number) + " is not \"<ms> <relay> <0|1>\": " + line;
            return false;
        }
        events.push_back(e);
    }
    return true;
}

std::vector<RelayViolation> checkRelayLog(const std::vector<RelayEvent> &events,
                                          const RelayCheckOptions &options) {
    std::vector<RelayViolation> found;
    Contacts contacts;
    std::array<int64_t, RELAY_COUNT> openedAt{};
    openedAt.fill(-1);
    const RelayEvent *previous = nullptr;

    for (const RelayEvent &e : events) {
        checkPulseTiming(e, previous, options, found);
        bool bothBefore =
            heating(contacts, options.heatPump) && cooling(contacts, options.heatPump);
        int before = contacts.closed[e.relay];
        contacts.closed[e.relay] = e.closed;
        if ((e.relay == Y1 || e.relay == Y2) && !options.diagnostic) {
            checkCompressorOffTime(e, before, options, openedAt, found);
        }
        if (e.closed == 1 && before != 1) {
            checkApartPairs(e, contacts, found);
        }
        if (!bothBefore && heating(contacts, options.heatPump) &&
            cooling(contacts, options.heatPump)) {
            found.push_back({e.ms, "heating and cooling closed together"});
        }
        previous = &e;
    }
    return found;
}
