// Raw sensor words by search over the thermostat's own conversions: each
// conversion is monotonic in the word searched, so a bisection finds the
// word whose reading lies closest to the wanted value.
#include "encoder.h"

#include "hvac/sensors.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>

namespace sim {

namespace {

// The on-board divider's largest reference word; w2 runs from 0 to 2 x w1,
// which must stay within the fixed-point range (8191).
constexpr uint16_t ONBOARD_REFERENCE = 4095;
// The external sensor's reference word: with the 10 kilo-ohm parallel
// resistor M stays below 10, so w3 stays below w4 x 3.49 and within the
// fixed-point range of the conversion (8191).
constexpr uint16_t EXTERNAL_REFERENCE = 2345;
// How many reference words below the largest are tried.
constexpr int REFERENCE_CHOICES = 16;
constexpr double LOWEST = -50.0;
constexpr double HIGHEST = 110.0;
// Temperatures are encoded in steps far finer than a word of the sensors
// resolves, so that the search runs again only when the temperature has
// moved by a step (a house changes by about that much in a few seconds).
constexpr double ENCODING_STEP = 0.005;

// The words of the last step encoded by one sensor's encoder.
struct LastEncoding {
    long long step = LLONG_MIN;
    ThermistorWords words{};
};

// The temperature a step stands for, and whether it is the one encoded last.
double quantised(double celsius, LastEncoding *last, bool *same) {
    long long step = std::llround(std::clamp(celsius, LOWEST, HIGHEST) / ENCODING_STEP);
    *same = step == last->step;
    last->step = step;
    return static_cast<double>(step) * ENCODING_STEP;
}

LastEncoding m_LastOnboard;
LastEncoding m_LastExternal;

// The words of every step already searched, per sensor: a house passes the
// same temperatures again and again (a day, a cycle of its equipment), and
// a search tries a few hundred words. 0: not searched yet (no search gives
// a first word of 0).
constexpr long long FIRST_STEP = -10000; // LOWEST / ENCODING_STEP
constexpr size_t STEPS = 32001;          // (HIGHEST - LOWEST) / ENCODING_STEP + 1
std::array<uint32_t, STEPS> m_OnboardWords;
std::array<uint32_t, STEPS> m_ExternalWords;

uint32_t &searched(std::array<uint32_t, STEPS> &words, const LastEncoding &last) {
    return words[static_cast<size_t>(last.step - FIRST_STEP)];
}

uint32_t packed(ThermistorWords words) {
    return static_cast<uint32_t>(words.first) << 16 | words.second;
}

ThermistorWords unpacked(uint32_t words) {
    return {static_cast<uint16_t>(words >> 16), static_cast<uint16_t>(words & 0xFFFF)};
}

double toDouble(fpr_t value) {
    return static_cast<double>(value) / FPR_ONE;
}

// Finds, between lo and hi, the word whose reading is closest to target,
// for a reading that falls as the word rises.
template <typename Reading>
uint16_t searchFalling(uint16_t lo, uint16_t hi, double target, Reading reading) {
    uint16_t a = lo;
    uint16_t b = hi;
    while (b - a > 1) {
        uint16_t mid = static_cast<uint16_t>(a + (b - a) / 2);
        if (reading(mid) > target) {
            a = mid;
        } else {
            b = mid;
        }
    }
    uint16_t best = a;
    for (int w = std::max<int>(lo, a - 2); w <= std::min<int>(hi, b + 2); w++) {
        if (std::fabs(reading(static_cast<uint16_t>(w)) - target) <
            std::fabs(reading(best) - target)) {
            best = static_cast<uint16_t>(w);
        }
    }
    return best;
}

} // namespace

double decodeOnboard(ThermistorWords words) {
    fpr_t degrees = 0;
    Sensors_OnboardTempFromRaw(words.first, words.second, &degrees);
    return toDouble(degrees);
}

double decodeExternal(ThermistorWords words) {
    fpr_t degrees = 0;
    Sensors_ExternalTempFromRaw(words.first, words.second, &degrees);
    return toDouble(degrees);
}

double decodeHumidity(uint16_t raw) {
    return toDouble(Sensors_RelHumidityFromRaw(raw, 0));
}

ThermistorWords encodeOnboard(double celsius) {
    bool same = false;
    double target = quantised(celsius, &m_LastOnboard, &same);
    uint32_t &known = searched(m_OnboardWords, m_LastOnboard);
    if (same || known != 0) {
        m_LastOnboard.words = same ? m_LastOnboard.words : unpacked(known);
        return m_LastOnboard.words;
    }
    // A larger w2 means a larger resistance: colder. Several reference words
    // give differently rounded steps; the closest reading wins.
    ThermistorWords best = {ONBOARD_REFERENCE, ONBOARD_REFERENCE};
    double bestError = 1e9;
    for (int k = 0; k < REFERENCE_CHOICES; k++) {
        auto w1 = static_cast<uint16_t>(ONBOARD_REFERENCE - k);
        uint16_t w2 = searchFalling(1, static_cast<uint16_t>(2 * w1 - 1), target, [w1](uint16_t w) {
            return decodeOnboard({w1, w});
        });
        double error = std::fabs(decodeOnboard({w1, w2}) - target);
        if (error < bestError) {
            bestError = error;
            best = {w1, w2};
        }
    }
    m_LastOnboard.words = best;
    known = packed(best);
    return best;
}

ThermistorWords encodeExternal(double celsius) {
    bool same = false;
    double target = quantised(celsius, &m_LastExternal, &same);
    uint32_t &known = searched(m_ExternalWords, m_LastExternal);
    if (same || known != 0) {
        m_LastExternal.words = same ? m_LastExternal.words : unpacked(known);
        return m_LastExternal.words;
    }
    ThermistorWords best = {EXTERNAL_REFERENCE, EXTERNAL_REFERENCE};
    double bestError = 1e9;
    for (int k = 0; k < REFERENCE_CHOICES; k++) {
        auto w4 = static_cast<uint16_t>(EXTERNAL_REFERENCE - k);
        // M < 10 keeps the parallel resistor's formula defined: w3 < w4 x (1 + 10 / 4.02).
        auto top = static_cast<uint16_t>(w4 * (1.0 + 10.0 / 4.02) - 2);
        uint16_t w3 = searchFalling(w4, top, target, [w4](uint16_t w) {
            return decodeExternal({w, w4});
        });
        double error = std::fabs(decodeExternal({w3, w4}) - target);
        if (error < bestError) {
            bestError = error;
            best = {w3, w4};
        }
    }
    m_LastExternal.words = best;
    known = packed(best);
    return best;
}

uint16_t encodeHumidity(double percent) {
    // Readings fall as humidity rises; each whole percent of the table owns
    // a run of readings. Take the middle of the run whose corrected reading
    // lies closest.
    static std::array<uint16_t, 101> s_Middle = [] {
        std::array<uint32_t, 101> lo;
        std::array<uint32_t, 101> hi;
        lo.fill(UINT32_MAX);
        hi.fill(0);
        for (uint32_t raw = hum_table[SENSORS_HUMIDITY_POINTS - 1] - 1; raw <= hum_table[0] + 1;
             raw++) {
            uint32_t p = interpolate_humidity(raw);
            lo[p] = std::min(lo[p], raw);
            hi[p] = std::max(hi[p], raw);
        }
        std::array<uint16_t, 101> middle{};
        for (size_t p = 0; p < middle.size(); p++) {
            middle[p] = static_cast<uint16_t>(hi[p] >= lo[p] ? (lo[p] + hi[p]) / 2 : 0);
        }
        return middle;
    }();
    // What the thermostat reads from each of them, worked out once.
    static std::array<double, 101> s_Read = [] {
        std::array<double, 101> read{};
        for (size_t p = 0; p < read.size(); p++) {
            read[p] = decodeHumidity(s_Middle[p]);
        }
        return read;
    }();
    uint16_t best = s_Middle[0];
    double bestError = 1e9;
    for (size_t p = 0; p < s_Middle.size(); p++) {
        double error = std::fabs(s_Read[p] - percent);
        if (s_Middle[p] != 0 && error < bestError) {
            bestError = error;
            best = s_Middle[p];
        }
    }
    return best;
}

} // namespace sim
