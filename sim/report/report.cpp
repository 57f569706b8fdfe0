// The set points in force, the trace of a run and its report.
#include "report/report.h"

#include "board/board.h"
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "platform/platform.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr double MS_PER_MINUTE = 60000.0;
// The thermostat asks for each periodic report once a second.
constexpr double REQUESTS_PER_MINUTE = 60.0;
constexpr int64_t MS_PER_HOUR = 3600000;
constexpr int STAGE_RELAYS[] = {RELAY_W1E, RELAY_W2, RELAY_Y1, RELAY_Y2};
const char *const c_PeriodNames[] = {"Wake", "Leave", "Return", "Sleep", "hold", "vacation"};
const char *const c_HvacStateNames[] = {"heat", "cool", "auto", "off", "emergency heat"};

double degrees(fpr_t value) {
    return static_cast<double>(value) / FPR_ONE;
}

// The system types as the installer's setup page names them.
const char *const c_SystemTypeNames[SYSTEM_TYPE_COUNT] = {
    "One Stg Furnace",   "Two Stg Furnace",   "Roof Top Unit", "Boiler With A/C",
    "One Stg Heat Pump", "Two Stg Heat Pump", "Floor Heat"};

const char *systemTypeName(uint32_t type) {
    return type < SYSTEM_TYPE_COUNT ? c_SystemTypeNames[type] : "unknown system";
}

const char *hvacStateName(uint32_t state) {
    return state < std::size(c_HvacStateNames) ? c_HvacStateNames[state] : "unknown";
}

bool isOccupied(PeriodKind kind) {
    return kind == PeriodKind::Wake || kind == PeriodKind::Return || kind == PeriodKind::Hold;
}

} // namespace

// ---- Configuration and set points ----------------------------------------------------

int stagesOfSystem(uint32_t systemType) {
    switch (systemType) {
    case SYSTEM_TYPE_TWO_STG_FURNACE:
    case SYSTEM_TYPE_ROOF_TOP_UNIT:
    case SYSTEM_TYPE_TWO_STG_HEAT_PUMP:
    case SYSTEM_TYPE_FLOOR_HEAT:
        return 2;
    default:
        return 1;
    }
}

ThermostatSetup setupFromRecord(const TstatSysCfgPersistMem_t &record) {
    ThermostatSetup s;
    s.valid = true;
    s.systemType = record.tstatCfg.systemType;
    s.hvacState = record.hvacSettings.hvacState;
    s.heatPump = s.systemType == SYSTEM_TYPE_ONE_STG_HEAT_PUMP ||
                 s.systemType == SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
    s.stages = stagesOfSystem(s.systemType);
    s.cycleRate = record.tstatCfg.cycleRate;
    s.balancePoint = degrees(record.hvacSettings.balancePoint);
    s.margin = degrees(record.tstatCfg.setpointMargin);
    s.firstStageDiff = degrees(record.tstatCfg.firstStageDiff);
    s.humidityOffset = degrees(record.hvacSettings.humidityBandOffset);
    s.humidityHysteresis = degrees(record.hvacSettings.humidityHysteresis);
    bool sensor = record.tstatCfg.humiditySensor != SENSOR_OFF;
    HumidifyState h = record.humidifyState;
    s.humidifier = sensor && (h == HUMIDIFY_STATE_HUMIDIFY || h == HUMIDIFY_STATE_AUTO);
    s.dehumidifier = sensor && (h == HUMIDIFY_STATE_DEHUMIDIFY || h == HUMIDIFY_STATE_AUTO);
    s.celsius = record.tstatFmtSettings.tempScale == TEMP_SCALE_CELSIUS;
    s.recovery = record.comfortRecoveryModeState == OFFON_ON;
    return s;
}

const char *periodName(PeriodKind kind) {
    int i = static_cast<int>(kind);
    return i >= 0 && i < static_cast<int>(std::size(c_PeriodNames)) ? c_PeriodNames[i] : "?";
}

SetpointSource::Stamp SetpointSource::stampOf(const char *designPath) {
    Stamp s;
    char path[PATH_MAX];
    struct stat st {};
    if (platformPath(designPath, path, sizeof(path)) != nullptr && stat(path, &st) == 0) {
        s.ino = st.st_ino;
        s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
        s.size = static_cast<int64_t>(st.st_size);
    }
    return s;
}

bool SetpointSource::refresh() {
    Stamp user = stampOf("/dev/mtdblock5");
    Stamp factory = stampOf("/dev/mtdblock4");
    if (m_loaded && user == m_user && factory == m_factory) {
        return true;
    }
    m_user = user;
    m_factory = factory;
    // The record's loader would wait on a FIFO for ever: regular files only.
    std::string error;
    if (!boardFileUsable(rootedPath("/dev/mtdblock5"), &error) ||
        !boardFileUsable(rootedPath("/dev/mtdblock4"), &error)) {
        m_loaded = false;
        m_setup = ThermostatSetup{};
        return false;
    }
    // The store loads the record exactly as the thermostat does at start-up.
    // It is only ever read here: nothing in this process saves it. What the
    // store says while loading is the thermostat's to say, not this copy's.
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && quiet >= 0) {
        dup2(quiet, STDOUT_FILENO);
    }
    m_loaded = PersistUtil_Init() == 0 && initThermostatSysCfg() == 0;
    fflush(stdout);
    if (saved >= 0 && quiet >= 0) {
        dup2(saved, STDOUT_FILENO);
    }
    for (int fd : {saved, quiet}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (!m_loaded) {
        m_setup = ThermostatSetup{};
        return false;
    }
    TstatSysCfgPersistMem_t record;
    copyThermostatSysCfg(&record);
    m_setup = setupFromRecord(record);
    // Comfort recovery is left out of the set points in force (see report.h).
    setComfortRecoveryModeState(OFFON_OFF);
    return true;
}

SetpointsInForce SetpointSource::at(int64_t wallSeconds) {
    SetpointsInForce sp;
    if (!m_loaded) {
        return sp;
    }
    time_t t = static_cast<time_t>(wallSeconds);
    struct tm local {};
    if (localtime_r(&t, &local) == nullptr) {
        return sp;
    }
    TstatSetPoint_t record{};
    ThermostatMode mode = getThermostatMode();
    bool program = mode == TSTAT_MODE_PROGRAM;
    // Hold and vacation end by themselves; the thermostat then saves the
    // program mode, which this source sees at its next refresh.
    if (mode == TSTAT_MODE_PERMANENT_HOLD || mode == TSTAT_MODE_HOLD) {
        getHoldThermostatSettings(&record);
        program = mode == TSTAT_MODE_HOLD && record.endTime <= wallSeconds;
        sp.period = PeriodKind::Hold;
    } else if (mode == TSTAT_MODE_VACATION) {
        getVacationThermostatSettings(&record);
        program = record.endTime <= wallSeconds;
        sp.period = PeriodKind::Vacation;
    } else if (mode != TSTAT_MODE_PROGRAM) {
        return sp;
    }
    if (program) {
        if (getProgramThermostatSettingsByTime(&local, &record) != 0) {
            return sp;
        }
        uint8_t period = 0;
        uint8_t day = 0;
        getCurrentProgramModeSettings(&period, &day);
        sp.period = static_cast<PeriodKind>(std::min<uint8_t>(period, 3));
    }
    sp.valid = true;
    sp.heat = degrees(record.heatSetPoint);
    sp.cool = degrees(record.coolSetPoint);
    sp.humidify = degrees(record.humidifySetPoint);
    sp.dehumidify = degrees(record.dehumidifySetPoint);
    sp.occupied = isOccupied(sp.period);
    return sp;
}

bool comfortBand(const SetpointsInForce &sp, uint32_t hvacState, double *low, double *high) {
    if (!sp.valid || hvacState == HVAC_STATE_OFF || hvacState > HVAC_STATE_EMERGENCY_HEAT) {
        return false;
    }
    *low = sp.heat - COMFORT_TOLERANCE;
    *high = std::max(sp.cool, sp.heat) + COMFORT_TOLERANCE;
    return true;
}

// ---- Recording ------------------------------------------------------------------------

void Recorder::reportedInForce(double heat, double cool) {
    m_inForceKnown = true;
    m_heatInForce = heat;
    m_coolInForce = cool;
}

void Recorder::begin(int64_t uptimeMs, const House &house) {
    m_startMs = uptimeMs;
    m_lastMs = uptimeMs;
    m_longestPassMs = 0;
    m_nextRowMs = uptimeMs + static_cast<int64_t>(MS_PER_MINUTE);
    m_current = TraceRow{};
    m_energyAtRow = house.deliveredEnergy();
    // Gone with the process, whatever happens to it.
    m_spill.reset(tmpfile());
    m_rowCount = 0;
    m_spillFailed = m_spill == nullptr;
}

void Recorder::pass(int64_t uptimeMs, int64_t wallSeconds, const House &house,
                    SetpointSource &setpoints) {
    if (uptimeMs <= m_lastMs) {
        return;
    }
    double seconds = (uptimeMs - m_lastMs) / 1000.0;
    m_longestPassMs = std::max(m_longestPassMs, uptimeMs - m_lastMs);
    m_lastMs = uptimeMs;
    for (uint32_t r = 0; r < RELAY_COUNT; r++) {
        if (house.relays()[r] == '1') {
            m_current.onSeconds[r] += seconds;
        }
    }
    if (uptimeMs < m_nextRowMs) {
        return;
    }
    TraceRow &row = m_current;
    int64_t minutes = (uptimeMs - m_startMs) / static_cast<int64_t>(MS_PER_MINUTE);
    row.wall = wallSeconds;
    row.uptimeMs = uptimeMs;
    row.minute = static_cast<double>(minutes);
    row.indoor = house.indoor();
    row.mass = house.mass();
    row.outdoor = house.outdoor();
    row.rh = house.indoorRh();
    setpoints.refresh();
    row.setpoints = setpoints.at(wallSeconds);
    row.controlled =
        comfortBand(row.setpoints, setpoints.setup().hvacState, &row.bandLow, &row.bandHigh);
    row.relays = house.relays();
    row.inForceKnown = m_inForceKnown;
    row.heatInForce = m_heatInForce;
    row.coolInForce = m_coolInForce;
    const RelayOutput &energy = house.deliveredEnergy();
    for (uint32_t r = 0; r < RELAY_COUNT; r++) {
        row.energyKj[r] = (energy[r] - m_energyAtRow[r]) / 1000.0;
    }
    m_energyAtRow = energy;
    if (m_spill && fwrite(&row, sizeof(row), 1, m_spill.get()) != 1) {
        m_spillFailed = true;
    }
    m_rowCount++;
    m_lastRow = row;
    m_current = TraceRow{};
    m_nextRowMs = m_startMs + (minutes + 1) * static_cast<int64_t>(MS_PER_MINUTE);
}

bool Recorder::forEachRow(const std::function<void(const TraceRow &)> &each) const {
    if (m_spillFailed || !m_spill || fflush(m_spill.get()) != 0 ||
        fseek(m_spill.get(), 0, SEEK_SET) != 0) {
        return false;
    }
    TraceRow row;
    size_t read = 0;
    while (read < m_rowCount && fread(&row, sizeof(row), 1, m_spill.get()) == 1) {
        each(row);
        read++;
    }
    // Rows recorded later go after these.
    fseek(m_spill.get(), 0, SEEK_END);
    return read == m_rowCount;
}

// ---- The trace as CSV --------------------------------------------------------------------

namespace {

constexpr const char *c_TraceHeader =
    "time,minute,uptime_ms,indoor_c,mass_c,outdoor_c,rh_pct,period,occupied,heat_sp_c,"
    "cool_sp_c,humidify_sp_pct,dehumidify_sp_pct,band_low_c,band_high_c,relays";
constexpr size_t TRACE_FIXED_FIELDS = 16;

} // namespace

void writeTraceHeader(std::ostream &out) {
    out << c_TraceHeader;
    for (const char *name : c_RelayNames) {
        out << "," << name << "_on_s";
    }
    for (int r : STAGE_RELAYS) {
        out << "," << c_RelayNames[r] << "_kj";
    }
    out << ",heat_in_force_c,cool_in_force_c\n";
}

void writeTraceRow(std::ostream &out, const TraceRow &row) {
    char line[512];
    const SetpointsInForce &sp = row.setpoints;
    std::string band = row.controlled ? formatNumber("%.2f", row.bandLow) + "," +
                                            formatNumber("%.2f", row.bandHigh)
                                      : ",";
    std::string setpoints =
        sp.valid ? formatNumber("%.2f", sp.heat) + "," + formatNumber("%.2f", sp.cool) + "," +
                       formatNumber("%.1f", sp.humidify) + "," + formatNumber("%.1f", sp.dehumidify)
                 : ",,,";
    snprintf(line, sizeof(line), "%s,%.0f,%lld,%.3f,%.3f,%.2f,%.1f,%s,%d,%s,%s,%.*s",
             localStamp(row.wall, "%Y-%m-%d %H:%M:%S").c_str(), row.minute,
             static_cast<long long>(row.uptimeMs), row.indoor, row.mass, row.outdoor, row.rh,
             sp.valid ? periodName(sp.period) : "", sp.occupied ? 1 : 0, setpoints.c_str(),
             band.c_str(), RELAY_COUNT, row.relays.data());
    out << line;
    for (double s : row.onSeconds) {
        out << formatNumber(",%.1f", s);
    }
    for (int r : STAGE_RELAYS) {
        out << formatNumber(",%.1f", row.energyKj[r]);
    }
    if (row.inForceKnown) {
        out << formatNumber(",%.2f", row.heatInForce) << formatNumber(",%.2f", row.coolInForce);
    } else {
        out << ",,";
    }
    out << "\n";
}

void writeTrace(std::ostream &out, const std::vector<TraceRow> &rows) {
    writeTraceHeader(out);
    for (const TraceRow &row : rows) {
        writeTraceRow(out, row);
    }
}

namespace {

bool field(const std::vector<std::string> &f, size_t i, double *out) {
    if (i >= f.size() || f[i].empty()) {
        return false;
    }
    char *end = nullptr;
    *out = strtod(f[i].c_str(), &end);
    return *end == '\0' && std::isfinite(*out);
}

// The comma-separated fields of a line, with the empty one after a comma
// that ends it.
std::vector<std::string> splitFields(const std::string &line) {
    std::vector<std::string> f;
    std::istringstream row(line);
    for (std::string item; std::getline(row, item, ',');) {
        f.push_back(item);
    }
    if (!line.empty() && line.back() == ',') {
        f.emplace_back();
    }
    return f;
}

// A row's set points in force (fields 7 to 12), when it has them. False when
// a field is not what it should be.
bool readSetpoints(const std::vector<std::string> &f, SetpointsInForce *sp) {
    sp->valid = !f[7].empty();
    if (!sp->valid) {
        return true;
    }
    auto name = std::find(std::begin(c_PeriodNames), std::end(c_PeriodNames), f[7]);
    sp->period = static_cast<PeriodKind>(name - std::begin(c_PeriodNames));
    sp->occupied = f[8] == "1";
    return name != std::end(c_PeriodNames) && field(f, 9, &sp->heat) && field(f, 10, &sp->cool) &&
           field(f, 11, &sp->humidify) && field(f, 12, &sp->dehumidify);
}

// One row from its fields (as many as a row has). False with the reason.
bool readTraceRow(const std::vector<std::string> &f, TraceRow *r, std::string *why) {
    struct tm local {};
    if (strptime(f[0].c_str(), "%Y-%m-%d %H:%M:%S", &local) == nullptr) {
        *why = "bad time";
        return false;
    }
    local.tm_isdst = -1;
    r->wall = static_cast<int64_t>(mktime(&local));
    double uptime = 0;
    bool ok = field(f, 1, &r->minute) && field(f, 2, &uptime) && field(f, 3, &r->indoor) &&
              field(f, 4, &r->mass) && field(f, 5, &r->outdoor) && field(f, 6, &r->rh) &&
              readSetpoints(f, &r->setpoints);
    r->uptimeMs = static_cast<int64_t>(uptime);
    r->controlled = !f[13].empty();
    if (r->controlled) {
        ok = ok && field(f, 13, &r->bandLow) && field(f, 14, &r->bandHigh);
    }
    std::copy(f[15].begin(), f[15].end(), r->relays.begin());
    for (uint32_t i = 0; i < RELAY_COUNT; i++) {
        ok = ok && field(f, TRACE_FIXED_FIELDS + i, &r->onSeconds[i]);
    }
    for (size_t i = 0; i < std::size(STAGE_RELAYS); i++) {
        ok = ok && field(f, TRACE_FIXED_FIELDS + RELAY_COUNT + i, &r->energyKj[STAGE_RELAYS[i]]);
    }
    const size_t inForceAt = TRACE_FIXED_FIELDS + RELAY_COUNT + std::size(STAGE_RELAYS);
    r->inForceKnown = !f[inForceAt].empty();
    if (r->inForceKnown) {
        ok = ok && field(f, inForceAt, &r->heatInForce) && field(f, inForceAt + 1, &r->coolInForce);
    }
    if (!ok) {
        *why = "a field is not a number";
    }
    return ok;
}

} // namespace

bool readTrace(std::istream &in, std::vector<TraceRow> *rows, std::string *error) {
    rows->clear();
    std::string line;
    if (!std::getline(in, line) || line.rfind(c_TraceHeader, 0) != 0) {
        *error = "not a trace: the header line is missing";
        return false;
    }
    const size_t wanted = TRACE_FIXED_FIELDS + RELAY_COUNT + std::size(STAGE_RELAYS) + 2;
    int lineNumber = 1;
    while (std::getline(in, line)) {
        lineNumber++;
        std::vector<std::string> f = splitFields(line);
        std::string why;
        TraceRow r;
        if (f.size() != wanted || f[15].size() != RELAY_COUNT) {
            why = "expected " + std::to_string(wanted) + " fields";
        } else {
            readTraceRow(f, &r, &why);
        }
        if (!why.empty()) {
            *error = "trace line " + std::to_string(lineNumber) + ": " + why;
            return false;
        }
        rows->push_back(r);
    }
    return true;
}

// ---- The report ----------------------------------------------------------------------------

namespace {

// One trace row that stands for the given hours (a minute, or more where a
// loaded host stepped over minutes).
void addComfort(ComfortFigures &c, double hours, double below, double above) {
    c.hours += hours;
    c.inBandShare += (below == 0.0 && above == 0.0) ? hours : 0.0;
    c.belowKh += below * hours;
    c.aboveKh += above * hours;
    c.worstBelow = std::max(c.worstBelow, below);
    c.worstAbove = std::max(c.worstAbove, above);
}

void finishComfort(ComfortFigures &c) {
    if (c.hours > 0.0) {
        c.inBandShare /= c.hours;
    }
}

// Starts, runtime and most starts in any hour of one relay (or, with several,
// of any of them closed), from the relay log; end is the run's last moment.
struct Switching {
    std::vector<int64_t> starts;
    int64_t closedMs = 0;
};

Switching switching(const std::vector<RelayEvent> &log, const std::vector<int> &relays,
                    int64_t end) {
    Switching s;
    std::array<int, RELAY_COUNT> state;
    state.fill(0);
    bool on = false;
    int64_t since = 0;
    for (const RelayEvent &e : log) {
        if (e.relay < 0 || e.relay >= static_cast<int>(RELAY_COUNT) ||
            std::find(relays.begin(), relays.end(), e.relay) == relays.end()) {
            continue;
        }
        state[e.relay] = e.closed;
        bool nowOn =
            std::any_of(relays.begin(), relays.end(), [&](int r) { return state[r] == 1; });
        if (nowOn && !on) {
            s.starts.push_back(e.ms);
            since = e.ms;
        } else if (!nowOn && on) {
            s.closedMs += e.ms - since;
        }
        on = nowOn;
    }
    if (on && end > since) {
        s.closedMs += end - since;
    }
    return s;
}

// The log with each pulse dated at the start of its pulse sequence. Every
// change of the thermostat's decisions re-drives all ten relays in order,
// O/B first, 500 ms each; a host that stalls the application in the middle
// of a sequence would otherwise make a decision look seconds later than it
// was. A log without O/B pulses keeps its times.
std::vector<RelayEvent> atSequenceStarts(const std::vector<RelayEvent> &log) {
    std::vector<RelayEvent> out = log;
    int64_t sequenceStart = -1;
    for (RelayEvent &e : out) {
        if (e.relay == RELAY_OB) {
            sequenceStart = e.ms;
        } else if (sequenceStart >= 0) {
            e.ms = sequenceStart;
        }
    }
    return out;
}

unsigned mostInAnHour(const std::vector<int64_t> &starts) {
    unsigned most = 0;
    size_t first = 0;
    for (size_t i = 0; i < starts.size(); i++) {
        while (starts[i] - starts[first] >= MS_PER_HOUR) {
            first++;
        }
        most = std::max(most, static_cast<unsigned>(i - first + 1));
    }
    return most;
}

} // namespace

namespace {

// Starts, runtime and energy of each stage, and the equipment's cycles;
// end is the run's last moment.
void addStageFigures(Report &report, const std::array<double, RELAY_COUNT> &deliveredKwh,
                     const std::vector<RelayEvent> &sequenced, int64_t end) {
    for (int relay : STAGE_RELAYS) {
        Switching s = switching(sequenced, {relay}, end);
        StageFigures f;
        f.relay = relay;
        f.starts = static_cast<unsigned>(s.starts.size());
        f.startsPerHour = report.hours > 0.0 ? f.starts / report.hours : 0.0;
        f.mostInAnHour = mostInAnHour(s.starts);
        f.runtimeHours = s.closedMs / static_cast<double>(MS_PER_HOUR);
        f.deliveredKwh = deliveredKwh[relay];
        report.stages.push_back(f);
    }
    Switching cycles = switching(sequenced, {RELAY_W1E, RELAY_W2, RELAY_Y1, RELAY_Y2}, end);
    report.cycles = static_cast<unsigned>(cycles.starts.size());
    for (size_t i = 1; i < cycles.starts.size(); i++) {
        double gap = (cycles.starts[i] - cycles.starts[i - 1]) / 1000.0;
        if (report.shortestCycleStartGapS < 0.0 || gap < report.shortestCycleStartGapS) {
            report.shortestCycleStartGapS = gap;
        }
    }
}

// The shortest time a compressor stage stayed open before closing again.
// Every sequence pulses every relay: only a change of state counts, and the
// first start after the reset at start-up has no off time.
void addCompressorOffTime(Report &report, const std::vector<RelayEvent> &sequenced) {
    for (int relay : {RELAY_Y1, RELAY_Y2}) {
        int64_t openedAt = -1;
        int state = -1;
        for (const RelayEvent &e : sequenced) {
            if (e.relay != relay || e.closed == state) {
                continue;
            }
            bool opened = e.closed == 0 && state == 1;
            state = e.closed;
            if (opened) {
                openedAt = e.ms;
            } else if (e.closed == 1 && openedAt >= 0) {
                double off = (e.ms - openedAt) / 1000.0;
                if (report.shortestCompressorOffS < 0.0 || off < report.shortestCompressorOffS) {
                    report.shortestCompressorOffS = off;
                }
                openedAt = -1;
            }
        }
    }
}

} // namespace

ReportBuilder::ReportBuilder(const ThermostatSetup &setup) {
    m_report.setup = setup;
}

// Comfort, humidity and the heat pump's auxiliary heat, row by row of the
// trace, and the energy each stage delivered.
void ReportBuilder::add(const TraceRow &row) {
    const ThermostatSetup &setup = m_report.setup;
    Report &report = m_report;
    if (m_rows++ == 0) {
        m_first = row;
    }
    double hours = std::max(row.minute - m_previousMinute, 0.0) / 60.0;
    m_previousMinute = row.minute;
    if (row.controlled) {
        double below = std::max(0.0, row.bandLow - row.indoor);
        double above = std::max(0.0, row.indoor - row.bandHigh);
        addComfort(report.all, hours, below, above);
        if (row.setpoints.occupied) {
            addComfort(report.occupied, hours, below, above);
        }
    }
    // Only the equipment installed keeps its side of the band.
    if (row.setpoints.valid && (setup.humidifier || setup.dehumidifier)) {
        double low = row.setpoints.humidify + setup.humidityOffset - setup.humidityHysteresis -
                     HUMIDITY_TOLERANCE;
        double high = row.setpoints.dehumidify - setup.humidityOffset + setup.humidityHysteresis +
                      HUMIDITY_TOLERANCE;
        report.humidityLow = low;
        report.humidityHigh = high;
        report.humidityHours += hours;
        report.humidityBelowHours += setup.humidifier && row.rh < low ? hours : 0.0;
        report.humidityAboveHours += setup.dehumidifier && row.rh > high ? hours : 0.0;
    }
    if (setup.heatPump && setup.hvacState != HVAC_STATE_EMERGENCY_HEAT &&
        row.outdoor > setup.balancePoint) {
        double aux = std::max(row.onSeconds[RELAY_W1E], row.onSeconds[RELAY_W2]);
        report.auxAboveBalanceMinutes += aux / 60.0;
        report.auxAboveBalanceKwh += (row.energyKj[RELAY_W1E] + row.energyKj[RELAY_W2]) / 3600.0;
    }
    for (int relay : STAGE_RELAYS) {
        m_deliveredKwh[relay] += row.energyKj[relay] / 3600.0;
    }
    addComfortStart(row);
    m_last = row;
}

// A comfort period (Wake, Return) that begins, and the minutes until the
// room is in its band: -1 when the period ends first, -2 when the run does.
void ReportBuilder::addComfortStart(const TraceRow &row) {
    const SetpointsInForce &now = row.setpoints;
    resolveComfortStart(row);
    if (m_rows < 2) {
        return;
    }
    const SetpointsInForce &before = m_last.setpoints;
    bool begins = now.valid && before.valid && now.period != before.period &&
                  (now.period == PeriodKind::Wake || now.period == PeriodKind::Return);
    if (begins && row.controlled) {
        m_start = ComfortStart{row.wall, now.period, now.heat, now.cool, m_last.indoor, -2.0};
        m_startMinute = m_last.minute;
        m_pending = true;
        resolveComfortStart(row);
    }
}

// The comfort period begun last, at one more row: kept once it is decided.
void ReportBuilder::resolveComfortStart(const TraceRow &row) {
    if (!m_pending) {
        return;
    }
    if (!row.setpoints.valid || row.setpoints.period != m_start.period) {
        m_start.minutesToBand = -1.0;
    } else if (row.controlled && row.indoor >= row.bandLow && row.indoor <= row.bandHigh) {
        m_start.minutesToBand = row.minute - m_startMinute;
    } else {
        return;
    }
    m_report.comfortStarts.push_back(m_start);
    m_pending = false;
}

Report ReportBuilder::finish(const std::vector<RelayEvent> &relayLog, const RunFigures &run) {
    Report report = m_report;
    report.run = run;
    if (m_rows == 0) {
        return report;
    }
    if (m_pending) {
        report.comfortStarts.push_back(m_start);
    }
    report.hours = m_last.minute / 60.0;
    report.startWall = m_first.wall - static_cast<int64_t>(60.0 * m_first.minute);
    finishComfort(report.all);
    finishComfort(report.occupied);
    const std::vector<RelayEvent> sequenced = atSequenceStarts(relayLog);
    addStageFigures(report, m_deliveredKwh, sequenced, m_last.uptimeMs);
    addCompressorOffTime(report, sequenced);
    RelayCheckOptions options;
    options.heatPump = report.setup.heatPump;
    options.samplingMs = run.relaySamplingMs;
    for (const RelayViolation &v : checkRelayLog(relayLog, options)) {
        report.violations.push_back(std::to_string(v.ms) + " ms: " + v.what);
    }
    return report;
}

Report computeReport(const std::vector<TraceRow> &rows, const std::vector<RelayEvent> &relayLog,
                     const ThermostatSetup &setup, const RunFigures &run) {
    ReportBuilder builder(setup);
    for (const TraceRow &row : rows) {
        builder.add(row);
    }
    return builder.finish(relayLog, run);
}

namespace {

// Temperatures and their differences in the thermostat's display unit.
struct Unit {
    bool celsius;
    const char *name() const { return celsius ? "C" : "F"; }
    double of(double c) const { return celsius ? c : c * 9.0 / 5.0 + 32.0; }
    double ofDifference(double k) const { return celsius ? k : k * 9.0 / 5.0; }
};

std::string comfortLine(const char *name, const ComfortFigures &c, Unit u) {
    char text[256];
    if (c.hours <= 0.0) {
        snprintf(text, sizeof(text), "  %-9s none\n", name);
        return text;
    }
    const char *n = u.name();
    snprintf(text, sizeof(text),
             "  %-9s %5.1f h, in band %5.1f %%, below %.2f %s h (worst %.1f %s), above %.2f %s h "
             "(worst %.1f %s); %.3f %s h per hour\n",
             name, c.hours, 100.0 * c.inBandShare, u.ofDifference(c.belowKh), n,
             u.ofDifference(c.worstBelow), n, u.ofDifference(c.aboveKh), n,
             u.ofDifference(c.worstAbove), n, u.ofDifference(c.belowKh + c.aboveKh) / c.hours, n);
    return text;
}

void formatHeader(std::ostream &out, const Report &r, const std::string &houseLine) {
    const ThermostatSetup &s = r.setup;
    // A line of its own even after output that ended without one.
    out << "\ntstat-sim report: " << formatNumber("%.1f", r.hours) << " simulated hours from "
        << localStamp(r.startWall, "%a %Y-%m-%d %H:%M") << "\n";
    out << "  house: " << houseLine << "\n";
    if (!r.run.interrupted.empty()) {
        out << "  cut short: " << r.run.interrupted << "; the figures cover the run until then\n";
    }
    if (!s.valid) {
        out << "  no thermostat record under the board root: no set points, no band\n";
    } else {
        out << "  thermostat: " << systemTypeName(s.systemType) << " (system type " << s.systemType
            << ", " << s.stages << (s.stages == 1 ? " stage" : " stages")
            << (s.heatPump ? ", heat pump" : "") << "), system mode " << hvacStateName(s.hvacState)
            << "\n";
    }
}

void formatComfort(std::ostream &out, const Report &r) {
    char text[512];
    const Unit u{r.setup.celsius};
    std::string tolerance = formatNumber("%.1f ", u.ofDifference(COMFORT_TOLERANCE)) + u.name();
    out << "comfort (band: heat set point - " << tolerance << " to cool set point + " << tolerance
        << "; occupied: Wake, Return and holds)\n";
    out << comfortLine("occupied", r.occupied, u);
    out << comfortLine("all", r.all, u);
    for (const ComfortStart &c : r.comfortStarts) {
        std::string reached =
            c.minutesToBand >= 0.0    ? formatNumber("in band after %.0f min", c.minutesToBand)
            : c.minutesToBand == -1.0 ? std::string("never in band during the period")
                                      : std::string("not in band when the run ended");
        snprintf(text, sizeof(text), "  %s %-6s heat %.1f %s cool %.1f %s, room %.1f %s: %s\n",
                 localStamp(c.wall, "%a %H:%M").c_str(), periodName(c.period), u.of(c.heat),
                 u.name(), u.of(c.cool), u.name(), u.of(c.startIndoor), u.name(), reached.c_str());
        out << text;
    }
}

// The equipment's cycles and the compressor's off time, from the relay log.
void formatCycles(std::ostream &out, const Report &r) {
    std::string gap = r.shortestCycleStartGapS >= 0.0
                          ? formatNumber("%.1f min", r.shortestCycleStartGapS / 60.0)
                          : std::string("none");
    out << "  equipment cycles " << r.cycles << ", shortest from start to start " << gap << "\n";
    out << "  shortest compressor off time: "
        << (r.shortestCompressorOffS >= 0.0 ? formatNumber("%.0f s", r.shortestCompressorOffS)
                                            : std::string("none"))
        << " (at least 300 s)\n";
}

void formatEquipment(std::ostream &out, const Report &r) {
    char text[512];
    const ThermostatSetup &s = r.setup;
    if (s.cycleRate > 0) {
        out << "equipment (cycle rate " << s.cycleRate << " per hour: equipment starts at least "
            << formatNumber("%.0f", (60 / s.cycleRate) * 60 / 60.0) << " min apart)\n";
    } else {
        out << "equipment (cycle rate not set)\n";
    }
    out << "  stage  starts  per hour  most in an hour  runtime h  delivered kWh\n";
    bool logged = r.run.relayLogError.empty();
    for (const StageFigures &f : r.stages) {
        // A rate only over an hour or more: a few starts in minutes are no rate.
        std::string rate = r.hours >= 1.0 ? formatNumber("%.2f", f.startsPerHour) : "-";
        if (logged) {
            snprintf(text, sizeof(text), "  %-5s %7u %9s %16u %10.2f %14.2f\n",
                     c_RelayNames[f.relay], f.starts, rate.c_str(), f.mostInAnHour, f.runtimeHours,
                     f.deliveredKwh);
        } else {
            snprintf(text, sizeof(text), "  %-5s %7s %9s %16s %10s %14.2f\n", c_RelayNames[f.relay],
                     "?", "?", "?", "?", f.deliveredKwh);
        }
        out << text;
    }
    if (logged) {
        formatCycles(out, r);
    } else {
        out << "  equipment cycles and compressor off times unknown: no relay log\n";
    }
    if (s.heatPump) {
        const Unit u{s.celsius};
        snprintf(text, sizeof(text),
                 "  auxiliary heat above the balance point (%.1f %s): %.0f min, %.2f kWh\n",
                 u.of(s.balancePoint), u.name(), r.auxAboveBalanceMinutes, r.auxAboveBalanceKwh);
        out << text;
    }
}

void formatHumidity(std::ostream &out, const Report &r) {
    char text[512];
    const ThermostatSetup &s = r.setup;
    if (!s.humidifier && !s.dehumidifier) {
        out << "humidity: not used (no humidifier or dehumidifier installed)\n";
        return;
    }
    std::string below = formatNumber("below %.0f %% for ", r.humidityLow) +
                        formatNumber("%.1f h", r.humidityBelowHours);
    std::string above = formatNumber("above %.0f %% for ", r.humidityHigh) +
                        formatNumber("%.1f h", r.humidityAboveHours);
    snprintf(text, sizeof(text),
             "humidity (%s; the band is the switching points with %.0f %% to spare): %s of "
             "%.1f h\n",
             s.humidifier && s.dehumidifier ? "humidifier and dehumidifier"
             : s.humidifier                 ? "humidifier only"
                                            : "dehumidifier only",
             HUMIDITY_TOLERANCE,
             s.humidifier && s.dehumidifier ? (below + ", " + above).c_str()
             : s.humidifier                 ? below.c_str()
                                            : above.c_str(),
             r.humidityHours);
    out << text;
}

void formatRelayCheck(std::ostream &out, const Report &r) {
    if (!r.run.relayLogError.empty()) {
        out << "relay check: not made: " << r.run.relayLogError << "\n";
        return;
    }
    if (r.violations.empty()) {
        out << "relay check: no violations\n";
        return;
    }
    out << "relay check: " << r.violations.size() << " violations\n";
    for (const std::string &v : r.violations) {
        out << "  " << v << "\n";
    }
}

void formatRun(std::ostream &out, const Report &r) {
    char text[512];
    if (r.run.lockstep) {
        snprintf(text, sizeof(text),
                 "run: %.0f simulated s in lock-step time, seed %u, longest step %.1f simulated s",
                 r.run.simulatedSeconds, r.run.seed, r.run.longestPassSeconds);
    } else if (r.run.hostSeconds > 0.0) {
        snprintf(text, sizeof(text),
                 "run: %.0f simulated s in %.1f host s, %.0f simulated s per host s, seed %u, "
                 "longest step %.1f simulated s",
                 r.run.simulatedSeconds, r.run.hostSeconds,
                 r.run.simulatedSeconds / r.run.hostSeconds, r.run.seed, r.run.longestPassSeconds);
    } else {
        return;
    }
    out << text;
    if (r.run.requestMinutes > 0.0) {
        snprintf(text, sizeof(text),
                 "; the thermostat's periodic requests at %.0f %% of their rate at normal speed",
                 100.0 * r.run.requests / (r.run.requestMinutes * REQUESTS_PER_MINUTE));
        out << text;
    }
    out << "\n";
}

} // namespace

std::string formatReport(const Report &r, const std::string &houseLine) {
    std::ostringstream out;
    formatHeader(out, r, houseLine);
    formatComfort(out, r);
    formatEquipment(out, r);
    formatHumidity(out, r);
    formatRelayCheck(out, r);
    formatRun(out, r);
    return out.str();
}

std::string localStamp(int64_t wall, const char *format) {
    time_t t = static_cast<time_t>(wall);
    struct tm local {};
    localtime_r(&t, &local);
    char text[48];
    strftime(text, sizeof(text), format, &local);
    return text;
}

std::string formatNumber(const char *format, double value) {
    char text[64];
    snprintf(text, sizeof(text), format, value);
    return text;
}

} // namespace sim
