// What the dashboard shows besides the screen: the setpoints the thermostat
// has in force (read from its configuration record, as the application
// would evaluate them), and a sampled history of the house for the plot.
// Everything leaves as small JSON texts for the page.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>

#include <string>

namespace sim {

class House;

struct ThermostatView {
    bool known = false; // a configuration record was read
    double heat = 0.0;  // setpoints in force (C)
    double cool = 0.0;
    int mode = 0;      // thermostat mode: program, vacation, hold, permanent hold
    int hvacState = 0; // system mode: heat, cool, auto, off, emergency heat
    bool celsius = false;
    // Backlight settings: time-out (simulated seconds), what it does after
    // it (dim or off), and whether the screen saver may show while dim.
    unsigned backlightTimeout = 0;
    bool inactiveOff = false;
    bool screenSaver = false;
};

// The board as the application and the simulated coprocessor leave it.
struct BoardView {
    std::string name;   // which board: "the simulated board", "the emulated board"
    int page = -1;      // the page the application shows (-1: not known yet)
    bool popUp = false; // a pop-up is open over it
    // Why a scaled run follows real time now ("": it does not), and the
    // scale it goes back to.
    std::string realTime;
    double restoreScale = 0.0;
    int backlight = -1;   // brightness written to the backlight (-1: none yet)
    uint16_t voltage = 0; // the line-voltage reading reported
    bool online = false;  // the bus status reported
    bool levels = false;
    int address = 0;
    // A board that runs the board flavour: the version it runs and the last
    // update's verdict, as its installer said them ("": not said).
    std::string software;
    std::string update;
};

struct DashboardSample {
    int64_t wallSeconds; // simulated wall clock
    float indoor;
    float outdoor;
    float heat; // setpoints in force, NaN when unknown
    float cool;
    uint16_t relays; // bit i set: relay i was closed at some time since the sample before
    // The equipment heated or cooled at some time since the sample before
    // (a heat pump's compressor does either, as its reversing valve says).
    bool heating;
    bool cooling;
};

class DashboardModel {
  public:
    // Simulated time between samples, and how many are kept (six hours).
    static constexpr int64_t SAMPLE_PERIOD_MS = 30000;
    static constexpr size_t HISTORY_SIZE = 720;

    // Rereads the configuration record when its file changed. Cheap when it
    // did not; call it now and then.
    void followConfiguration();
    const ThermostatView &thermostat() const { return m_view; }

    // Notes which relays are closed now and takes a sample when one is due;
    // true when it did (see lastSample()). Call it once per pass, so that
    // the samples show equipment that ran for less than a sample period.
    bool sample(int64_t simNowMs, const House &house);
    const DashboardSample &lastSample() const;

    std::string stateJson(const House &house, const BoardView &board, double timeScale,
                          uint64_t screenVersion, bool keysReady) const;
    static std::string sampleJson(const DashboardSample &sample);
    // Every sample kept, oldest first, as a JSON array.
    std::string historyJson() const;

  private:
    void evaluate();
    static nlohmann::json sampleValue(const DashboardSample &sample);

    ThermostatView m_view;
    bool m_persistOpen = false;
    std::string m_recordStamp;
    std::array<DashboardSample, HISTORY_SIZE> m_history{};
    size_t m_historyCount = 0;
    size_t m_historyNext = 0;
    int64_t m_nextSampleMs = INT64_MIN;
    uint16_t m_closedSinceSample = 0;
    bool m_heatedSinceSample = false;
    bool m_cooledSinceSample = false;
};

} // namespace sim
