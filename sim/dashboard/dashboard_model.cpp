// The dashboard's view of the thermostat's setpoints and the house's history.
#include "dashboard/dashboard_model.h"

#include "board/board.h"
#include "config/data_dict.h"
#include "config/display_pages.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "core/util.h"
#include "graphics/screen.h"
#include "house/house.h"
#include "hvac/relay_control.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

// The highest line-voltage reading that counts as an under-voltage.
constexpr uint16_t UNDER_VOLTAGE_READING = 491;

double celsiusOf(fpr_t value) {
    return static_cast<double>(value) / 8192.0;
}

// True when the file starts with a whole record of the user identity.
bool holdsUserRecord(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    uint8_t head[4] = {};
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              st.st_size >= static_cast<off_t>(TSTAT_SYS_CFG_SIZE) &&
              read(fd, head, sizeof(head)) == static_cast<ssize_t>(sizeof(head));
    close(fd);
    uint32_t id = static_cast<uint32_t>(head[0]) | static_cast<uint32_t>(head[1]) << 8 |
                  static_cast<uint32_t>(head[2]) << 16 | static_cast<uint32_t>(head[3]) << 24;
    return ok && id == TSTAT_SYS_CFG_USER_ID;
}

// Loads the record into the configuration store of this process. Without a
// user record the store falls back to the factory record and says so on
// standard output; that line is the application's to say, not the
// simulator's, so it goes to /dev/null here.
bool loadRecord(bool userRecord) {
    if (userRecord) {
        return initThermostatSysCfg() == 0;
    }
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0) {
        dup2(null, STDOUT_FILENO);
    }
    bool loaded = initThermostatSysCfg() == 0;
    fflush(stdout);
    if (saved >= 0 && null >= 0) {
        dup2(saved, STDOUT_FILENO);
    }
    if (null >= 0) {
        close(null);
    }
    if (saved >= 0) {
        close(saved);
    }
    return loaded;
}

// A figure rounded for the page (it draws them, it does not compute with
// them); NaN, a value not known, becomes null.
double rounded(double value, double perUnit = 100.0) {
    return std::isfinite(value) ? std::round(value * perUnit) / perUnit : NAN;
}

} // namespace

void DashboardModel::followConfiguration() {
    std::string user = rootedPath("/dev/mtdblock5");
    std::string stamp = fileStamp(user) + " " + fileStamp(rootedPath("/dev/mtdblock4"));
    // Nothing to read before the board is prepared, nor from anything but
    // regular files (the record's loader would wait on a FIFO for ever).
    std::string error;
    bool readable =
        boardFileUsable(user, &error) && boardFileUsable(rootedPath("/dev/mtdblock4"), &error);
    if (stamp != m_recordStamp && stamp != "- -" && readable) {
        m_recordStamp = stamp;
        if (!m_persistOpen) {
            m_persistOpen = PersistUtil_Init() == 0;
        }
        m_view.known = m_persistOpen && loadRecord(holdsUserRecord(user));
    }
    if (m_view.known) {
        evaluate();
    }
}

// The setpoints in force now, as the application evaluates them, without
// its side effects: an expired hold or vacation counts as the program here,
// and the application itself saves the change.
void DashboardModel::evaluate() {
    TstatSetPoint_t sp{};
    int64_t now = util_time(nullptr);
    ThermostatMode mode = getThermostatMode();
    bool program = true;
    if (mode == TSTAT_MODE_VACATION) {
        getVacationThermostatSettings(&sp);
        program = sp.endTime <= now;
    } else if (mode == TSTAT_MODE_HOLD || mode == TSTAT_MODE_PERMANENT_HOLD) {
        getHoldThermostatSettings(&sp);
        program = mode == TSTAT_MODE_HOLD && sp.endTime != 0 && sp.endTime <= now;
    }
    if (program) {
        time_t t = static_cast<time_t>(now);
        struct tm local {};
        localtime_r(&t, &local);
        if (getProgramThermostatSettingsByTime(&local, &sp) != 0) {
            m_view.known = false;
            return;
        }
    }
    TstatFmtSettings_t fmt{};
    getThermostatFormatSettings(&fmt);
    m_view.heat = celsiusOf(sp.heatSetPoint);
    m_view.cool = celsiusOf(sp.coolSetPoint);
    m_view.mode = static_cast<int>(mode);
    m_view.hvacState = static_cast<int>(getHVACState());
    m_view.celsius = fmt.tempScale != TEMP_SCALE_FAHRENHEIT;
    TstatBkLightCtl_t backlight{};
    getThermostatBacklightSettings(&backlight);
    m_view.backlightTimeout = backlight.backlightTimeout;
    m_view.inactiveOff = backlight.inactiveBrightness == BACKLIGHT_INACTIVE_OFF;
    m_view.screenSaver = getScrSaverState() == FEATURE_ENABLE;
}

bool DashboardModel::sample(int64_t simNowMs, const House &house) {
    for (uint32_t i = 0; i < RELAY_COUNT; i++) {
        if (house.relays()[i] == '1') {
            m_closedSinceSample = static_cast<uint16_t>(m_closedSinceSample | 1u << i);
        }
    }
    // Whether a stage heats or cools is what the house's equipment makes of it.
    constexpr RelayIndex STAGES[] = {RELAY_W1E, RELAY_W2, RELAY_Y1, RELAY_Y2};
    if (std::any_of(std::begin(STAGES), std::end(STAGES),
                    [&house](RelayIndex r) { return house.relays()[r] == '1'; })) {
        RelayOutput out = house.relayOutput(house.outdoor(), house.indoorRh());
        for (RelayIndex r : STAGES) {
            m_heatedSinceSample = m_heatedSinceSample || out[r] > 0.0;
            m_cooledSinceSample = m_cooledSinceSample || out[r] < 0.0;
        }
    }
    if (simNowMs < m_nextSampleMs) {
        return false;
    }
    m_nextSampleMs = simNowMs + SAMPLE_PERIOD_MS;
    DashboardSample s{};
    s.wallSeconds = util_time(nullptr);
    s.indoor = static_cast<float>(house.indoor());
    s.outdoor = static_cast<float>(house.outdoor());
    s.heat = m_view.known ? static_cast<float>(m_view.heat) : NAN;
    s.cool = m_view.known ? static_cast<float>(m_view.cool) : NAN;
    s.relays = m_closedSinceSample;
    s.heating = m_heatedSinceSample;
    s.cooling = m_cooledSinceSample;
    m_closedSinceSample = 0;
    m_heatedSinceSample = false;
    m_cooledSinceSample = false;
    m_history[m_historyNext] = s;
    m_historyNext = (m_historyNext + 1) % HISTORY_SIZE;
    if (m_historyCount < HISTORY_SIZE) {
        m_historyCount++;
    }
    return true;
}

const DashboardSample &DashboardModel::lastSample() const {
    return m_history[(m_historyNext + HISTORY_SIZE - 1) % HISTORY_SIZE];
}

nlohmann::json DashboardModel::sampleValue(const DashboardSample &s) {
    return {{"t", s.wallSeconds},      {"in", rounded(s.indoor)}, {"out", rounded(s.outdoor)},
            {"heat", rounded(s.heat)}, {"cool", rounded(s.cool)}, {"relays", s.relays},
            {"heating", s.heating},    {"cooling", s.cooling}};
}

std::string DashboardModel::sampleJson(const DashboardSample &s) {
    return sampleValue(s).dump();
}

std::string DashboardModel::historyJson() const {
    nlohmann::json history = nlohmann::json::array();
    size_t first = (m_historyNext + HISTORY_SIZE - m_historyCount) % HISTORY_SIZE;
    for (size_t i = 0; i < m_historyCount; i++) {
        history.push_back(sampleValue(m_history[(first + i) % HISTORY_SIZE]));
    }
    return history.dump();
}

std::string DashboardModel::stateJson(const House &house, const BoardView &board, double timeScale,
                                      uint64_t screenVersion, bool keysReady) const {
    HouseSnapshot h = house.snapshot();
    time_t now = static_cast<time_t>(util_time(nullptr));
    struct tm local {};
    localtime_r(&now, &local);
    char clock[32];
    strftime(clock, sizeof(clock), "%a %H:%M:%S", &local);
    const char *pageName = board.page >= 0 && board.page < static_cast<int>(DISPLAY_PAGE_COUNT)
                               ? c_DisplayPageNames[board.page]
                               : nullptr;
    const char *backlightName = backlightLevelName(board.backlight);
    nlohmann::json state = {
        {"clock", clock},
        {"utcOffset", local.tm_gmtoff},
        {"board",
         {{"name", board.name},
          {"page", board.page},
          {"pageName", pageName != nullptr ? pageName : ""},
          {"popUp", board.popUp},
          {"realTime", board.realTime},
          {"restoreScale", board.restoreScale},
          {"backlight", board.backlight},
          {"backlightName", backlightName != nullptr ? backlightName : ""},
          {"voltage", board.voltage},
          {"underVoltage", board.voltage <= UNDER_VOLTAGE_READING},
          {"online", board.online},
          {"levels", board.levels},
          {"address", board.address},
          {"software", board.software},
          {"update", board.update}}},
        {"scale", timeScale},
        {"screen", screenVersion},
        {"keys", keysReady},
        {"relays", std::string(house.relays().begin(), house.relays().end())},
        {"relayNames", c_RelayNames},
        {"house",
         {{"indoor", rounded(h.indoor)},
          {"mass", rounded(h.mass)},
          {"outdoor", rounded(h.outdoor)},
          {"outdoorMean", rounded(house.params().outdoorMean)},
          {"rh", rounded(h.rh, 10.0)},
          {"heatW", rounded(h.hvacHeat, 1.0)},
          {"fan", h.fan},
          {"activity", h.activity}}},
        {"thermostat", nullptr},
    };
    if (m_view.known) {
        state["thermostat"] = {{"heat", rounded(m_view.heat)},
                               {"cool", rounded(m_view.cool)},
                               {"mode", m_view.mode},
                               {"hvac", m_view.hvacState},
                               {"unit", m_view.celsius ? "C" : "F"},
                               {"backlightTimeout", m_view.backlightTimeout},
                               {"inactiveOff", m_view.inactiveOff},
                               {"screenSaver", m_view.screenSaver}};
    }
    return state.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace sim
