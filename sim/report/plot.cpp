// The picture of a run: four panels sharing a time axis, temperatures in the
// thermostat's unit. Top, the room temperature over its comfort band (green
// while occupied, grey otherwise) with the program's set points, the set
// points the thermostat ran to (comfort recovery included) and the program
// periods by name; then the room's humidity with the humidifier's and
// dehumidifier's set points; the outdoor temperature; and one bar per relay
// for the time it was closed, from the relay log.
#include "report/plot.h"

#include "board/board.h"
#include "host/paint.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace sim {

namespace {

constexpr int WIDTH = 1280;
constexpr int HEIGHT = 990;
constexpr double LEFT = 78;
constexpr double RIGHT = WIDTH - 24;
// Panels: top and bottom edges; the room panel's top strip names the periods.
constexpr double ROOM_TOP = 138, ROOM_BOTTOM = 460, PERIOD_STRIP = 20;
constexpr double RH_TOP = 494, RH_BOTTOM = 604;
constexpr double OUT_TOP = 638, OUT_BOTTOM = 744;
constexpr double BARS_TOP = 780, BAR_HEIGHT = 16, BAR_GAP = 6;
constexpr double MS_PER_HOUR = 3600000.0;
// The run's events: their marks' colour, and the list of them under the
// picture, in columns of EVENT_ROWS lines.
constexpr uint32_t EVENT_COLOUR = 0x9C36B5;
constexpr size_t EVENT_ROWS = 8;
constexpr size_t MAX_EVENTS_LISTED = 3 * EVENT_ROWS;
constexpr double EVENT_COLUMN = 400, EVENT_LINE = 16;

bool m_FontsLoaded = false;

struct BarSpec {
    const char *label;
    std::vector<int> relays; // closed when any of them is
    uint32_t colour;
    // A heat pump's compressor stage heats unless its reversing valve (O/B)
    // is closed: its colour while it heats (0: the bar is no such stage).
    uint32_t heatingColour = 0;
};

const std::vector<BarSpec> &bars() {
    static const std::vector<BarSpec> c_Bars = {
        {c_RelayNames[RELAY_W1E], {RELAY_W1E}, palette::HEAT},
        {c_RelayNames[RELAY_W2], {RELAY_W2}, palette::FLAME},
        {c_RelayNames[RELAY_Y1], {RELAY_Y1}, palette::COOL, palette::HEAT},
        {c_RelayNames[RELAY_Y2], {RELAY_Y2}, palette::ICE, palette::FLAME},
        {c_RelayNames[RELAY_OB], {RELAY_OB}, palette::MUTED},
        {"fan", {RELAY_G1, RELAY_G2, RELAY_G3}, palette::SLATE_TOP},
        {c_RelayNames[RELAY_HUM], {RELAY_HUM}, palette::WATER},
        {c_RelayNames[RELAY_DEH], {RELAY_DEH}, palette::AMBER},
    };
    return c_Bars;
}

// Maps the run's uptime clock to x.
struct TimeAxis {
    int64_t startMs;
    int64_t endMs;
    double x(int64_t ms) const {
        double f = static_cast<double>(ms - startMs) / static_cast<double>(endMs - startMs);
        return LEFT + std::clamp(f, 0.0, 1.0) * (RIGHT - LEFT);
    }
};

struct ValueAxis {
    double lo, hi, top, bottom;
    double y(double v) const { return bottom - (v - lo) / (hi - lo) * (bottom - top); }
};

ValueAxis valueAxis(double lo, double hi, double top, double bottom) {
    lo = std::floor(lo);
    hi = std::ceil(hi);
    if (hi - lo < 4.0) {
        double mid = (hi + lo) / 2.0;
        lo = std::floor(mid - 2.0);
        hi = lo + 4.0;
    }
    return ValueAxis{lo, hi, top, bottom};
}

double tickStep(double span) {
    for (double step : {0.5, 1.0, 2.0, 5.0, 10.0, 20.0}) {
        if (span / step <= 8.0) {
            return step;
        }
    }
    return 50.0;
}

void drawValueGrid(cairo_t *cr, const ValueAxis &a, const char *unit) {
    double step = tickStep(a.hi - a.lo);
    cairo_set_line_width(cr, 1.0);
    for (double v = std::ceil(a.lo / step) * step; v <= a.hi + 1e-9; v += step) {
        double y = std::round(a.y(v)) + 0.5;
        setColor(cr, rgb(palette::CARD_EDGE));
        cairo_move_to(cr, LEFT, y);
        cairo_line_to(cr, RIGHT, y);
        cairo_stroke(cr);
        char label[32];
        snprintf(label, sizeof(label), step < 1.0 ? "%.1f %s" : "%.0f %s", v, unit);
        TextStyle s = style(12, false, palette::MUTED, ALIGN_RIGHT);
        drawText(cr, s, label, 0, y - 8, LEFT - 8, 16);
    }
}

void drawFrame(cairo_t *cr, double top, double bottom) {
    setColor(cr, rgb(palette::MUTED));
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, LEFT + 0.5, top + 0.5, RIGHT - LEFT - 1, bottom - top - 1);
    cairo_stroke(cr);
}

void drawTimeGrid(cairo_t *cr, const TimeAxis &t, const std::vector<TraceRow> &rows, double top,
                  double bottom, bool labels) {
    double hours = (t.endMs - t.startMs) / MS_PER_HOUR;
    int step = hours <= 12 ? 1 : hours <= 30 ? 2 : hours <= 72 ? 6 : hours <= 96 ? 12 : 24;
    // Past four days only midnights: each one, each Monday past three weeks,
    // each first of a month past three months.
    int days = hours <= 21 * 24 ? 1 : hours <= 93 * 24 ? 7 : 0;
    // Whole local hours: the first row's wall clock tells where they fall.
    const TraceRow &first = rows.front();
    int64_t wallAtStart = first.wall - (first.uptimeMs - t.startMs) / 1000;
    int64_t firstHour = (wallAtStart / 3600 + 1) * 3600;
    for (int64_t wall = firstHour; (wall - wallAtStart) * 1000 <= t.endMs - t.startMs;
         wall += 3600) {
        time_t tt = static_cast<time_t>(wall);
        struct tm local {};
        localtime_r(&tt, &local);
        if (local.tm_hour % step != 0 || local.tm_min != 0 ||
            (step == 24 && days == 7 && local.tm_wday != 1) ||
            (step == 24 && days == 0 && local.tm_mday != 1)) {
            continue;
        }
        double x = std::round(t.x(t.startMs + (wall - wallAtStart) * 1000)) + 0.5;
        setColor(cr, rgb(local.tm_hour == 0 ? palette::MUTED : palette::CARD_EDGE));
        cairo_set_line_width(cr, 1.0);
        cairo_move_to(cr, x, top);
        cairo_line_to(cr, x, bottom);
        cairo_stroke(cr);
        if (labels) {
            char text[32];
            strftime(text, sizeof(text),
                     local.tm_hour != 0 ? "%H:%M"
                     : days == 1        ? "%a"
                                        : "%d %b",
                     &local);
            drawText(cr, style(12, local.tm_hour == 0, palette::INK, ALIGN_CENTER), text, x - 40,
                     bottom + 4, 80, 16);
        }
    }
}

void drawLine(cairo_t *cr, const std::vector<TraceRow> &rows, const TimeAxis &t, const ValueAxis &a,
              double (*value)(const TraceRow &), uint32_t colour, double width) {
    setColor(cr, rgb(colour));
    cairo_set_line_width(cr, width);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    bool started = false;
    for (const TraceRow &r : rows) {
        double x = t.x(r.uptimeMs);
        double y = a.y(value(r));
        if (started) {
            cairo_line_to(cr, x, y);
        } else {
            cairo_move_to(cr, x, y);
            started = true;
        }
    }
    cairo_stroke(cr);
}

// A set point as a step line, only where it is known: the program's (dashed)
// or the one the thermostat ran to (solid).
struct SetpointLine {
    bool (*known)(const TraceRow &);
    double (*value)(const TraceRow &);
    bool dashed;
};

bool programKnown(const TraceRow &r) {
    return r.setpoints.valid;
}
bool inForceKnown(const TraceRow &r) {
    return r.inForceKnown;
}
double programHeat(const TraceRow &r) {
    return r.setpoints.heat;
}
double programCool(const TraceRow &r) {
    return r.setpoints.cool;
}
double heatInForce(const TraceRow &r) {
    return r.heatInForce;
}
double coolInForce(const TraceRow &r) {
    return r.coolInForce;
}
double indoorOf(const TraceRow &r) {
    return r.indoor;
}
double humidifyOf(const TraceRow &r) {
    return r.setpoints.humidify;
}
double dehumidifyOf(const TraceRow &r) {
    return r.setpoints.dehumidify;
}

const double c_Dash[] = {6.0, 4.0};

void drawSetpoint(cairo_t *cr, const std::vector<TraceRow> &rows, const TimeAxis &t,
                  const ValueAxis &a, const SetpointLine &line, uint32_t colour) {
    setColor(cr, rgb(colour, line.dashed ? 0.9 : 0.75));
    cairo_set_line_width(cr, line.dashed ? 1.5 : 2.0);
    cairo_set_dash(cr, c_Dash, line.dashed ? 2 : 0, 0);
    bool drawing = false;
    double lastY = 0;
    int64_t previousMs = t.startMs;
    for (const TraceRow &r : rows) {
        if (!line.known(r)) {
            if (drawing) {
                cairo_stroke(cr);
            }
            drawing = false;
            previousMs = r.uptimeMs;
            continue;
        }
        double y = a.y(line.value(r));
        if (!drawing) {
            cairo_move_to(cr, t.x(previousMs), y);
            drawing = true;
        } else if (y != lastY) {
            cairo_line_to(cr, t.x(previousMs), lastY);
            cairo_line_to(cr, t.x(previousMs), y);
        }
        cairo_line_to(cr, t.x(r.uptimeMs), y);
        lastY = y;
        previousMs = r.uptimeMs;
    }
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
}

// The top of a period name's strip between xa and xb: the highest place in
// the room panel where it covers none of the room's and set points' lines,
// the panel's top when there is none.
double nameTop(const std::vector<TraceRow> &rows, const TimeAxis &t, const ValueAxis &a, double xa,
               double xb) {
    struct Line {
        bool (*known)(const TraceRow &);
        double (*value)(const TraceRow &);
    };
    const Line lines[] = {{programKnown, programHeat},
                          {programKnown, programCool},
                          {inForceKnown, heatInForce},
                          {inForceKnown, coolInForce},
                          {[](const TraceRow &) { return true; }, indoorOf}};
    // The heights the lines take within [xa, xb], their steps included.
    std::vector<std::pair<double, double>> taken;
    for (size_t i = 0; i < rows.size(); i++) {
        double x0 = t.x(i == 0 ? t.startMs : rows[i - 1].uptimeMs);
        if (t.x(rows[i].uptimeMs) < xa || x0 > xb) {
            continue;
        }
        for (const Line &line : lines) {
            if (!line.known(rows[i])) {
                continue;
            }
            double y = a.y(line.value(rows[i]));
            double before = i > 0 && line.known(rows[i - 1]) ? a.y(line.value(rows[i - 1])) : y;
            taken.emplace_back(std::min(y, before) - 2.0, std::max(y, before) + 2.0);
        }
    }
    for (double top = ROOM_TOP + 2; top + PERIOD_STRIP <= ROOM_BOTTOM; top += 2.0) {
        bool free = std::none_of(taken.begin(), taken.end(), [top](const auto &span) {
            return span.first < top + PERIOD_STRIP - 2 && span.second > top;
        });
        if (free) {
            return top;
        }
    }
    return ROOM_TOP + 2;
}

// The program periods (and holds, vacations): a faint line where one ends
// (names false), or their names where they cover no line (names true).
void drawPeriods(cairo_t *cr, const std::vector<TraceRow> &rows, const TimeAxis &t,
                 const ValueAxis &a, bool names) {
    size_t i = 0;
    int64_t previousMs = t.startMs;
    while (i < rows.size()) {
        const SetpointsInForce &first = rows[i].setpoints;
        size_t j = i + 1;
        while (j < rows.size() && rows[j].setpoints.valid == first.valid &&
               rows[j].setpoints.period == first.period) {
            j++;
        }
        int64_t endMs = rows[j - 1].uptimeMs;
        double x0 = t.x(previousMs);
        double x1 = t.x(endMs);
        if (names && first.valid) {
            // On a light patch, over the band but no line.
            std::string name = periodName(first.period);
            double w = 8.0 * static_cast<double>(name.size()) + 8.0;
            if (x1 - x0 >= w) {
                double mid = (x0 + x1) / 2.0;
                double top = nameTop(rows, t, a, mid - w / 2.0, mid + w / 2.0);
                setColor(cr, rgb(palette::CARD, 0.85));
                cairo_rectangle(cr, mid - w / 2.0, top, w, PERIOD_STRIP - 2);
                cairo_fill(cr);
                drawText(cr, style(12, true, palette::MUTED, ALIGN_CENTER), name, x0, top + 1,
                         x1 - x0, PERIOD_STRIP - 4);
            }
        }
        if (!names && j < rows.size()) {
            setColor(cr, rgb(palette::MUTED, 0.5));
            cairo_set_line_width(cr, 1.0);
            cairo_set_dash(cr, c_Dash, 2, 0);
            cairo_move_to(cr, std::round(x1) + 0.5, ROOM_TOP);
            cairo_line_to(cr, std::round(x1) + 0.5, ROOM_BOTTOM);
            cairo_stroke(cr);
            cairo_set_dash(cr, nullptr, 0, 0);
        }
        previousMs = endMs;
        i = j;
    }
}

// The band in one rectangle per stretch of equal edges, so that the minutes
// join without seams.
void drawBand(cairo_t *cr, const std::vector<TraceRow> &rows, const TimeAxis &t,
              const ValueAxis &a) {
    size_t i = 0;
    int64_t previousMs = t.startMs;
    while (i < rows.size()) {
        const TraceRow &first = rows[i];
        size_t j = i + 1;
        while (j < rows.size() && rows[j].controlled == first.controlled &&
               rows[j].bandLow == first.bandLow && rows[j].bandHigh == first.bandHigh &&
               rows[j].setpoints.occupied == first.setpoints.occupied) {
            j++;
        }
        int64_t endMs = rows[j - 1].uptimeMs;
        if (first.controlled) {
            double x0 = t.x(previousMs);
            double y0 = a.y(first.bandHigh);
            setColor(cr, first.setpoints.occupied ? rgb(palette::GREEN_TOP, 0.28)
                                                  : rgb(palette::MUTED, 0.16));
            cairo_rectangle(cr, x0, y0, t.x(endMs) - x0, a.y(first.bandLow) - y0);
            cairo_fill(cr);
        }
        previousMs = endMs;
        i = j;
    }
}

// The run's events: a line through every panel at each, numbered below the
// time axis, and the list of them under the picture.
void drawEvents(cairo_t *cr, const TimeAxis &t, const std::vector<RunEvent> &events,
                int64_t wallAtStart, double bottom) {
    constexpr double DASH[] = {3.0, 3.0};
    // Numbers of events close together step aside rather than overlap.
    double lastLabel = -1e9;
    for (size_t i = 0; i < events.size() && i < MAX_EVENTS_LISTED; i++) {
        const RunEvent &e = events[i];
        if (e.uptimeMs < t.startMs || e.uptimeMs > t.endMs) {
            continue;
        }
        double x = std::round(t.x(e.uptimeMs)) + 0.5;
        setColor(cr, rgb(EVENT_COLOUR));
        cairo_set_line_width(cr, 1.0);
        cairo_set_dash(cr, DASH, 2, 0.0);
        cairo_move_to(cr, x, ROOM_TOP);
        cairo_line_to(cr, x, bottom);
        cairo_stroke(cr);
        cairo_set_dash(cr, nullptr, 0, 0.0);
        double label = std::max(x, lastLabel + 16);
        lastLabel = label;
        drawText(cr, style(11, true, EVENT_COLOUR, ALIGN_CENTER), std::to_string(i + 1), label - 12,
                 bottom + 22, 24, 14);
    }
    double y = bottom + 44;
    for (size_t i = 0; i < events.size() && i < MAX_EVENTS_LISTED; i++) {
        const RunEvent &e = events[i];
        time_t wall = static_cast<time_t>(wallAtStart + (e.uptimeMs - t.startMs) / 1000);
        struct tm local {};
        localtime_r(&wall, &local);
        char when[16];
        strftime(when, sizeof(when), "%H:%M:%S", &local);
        double x = LEFT + (i / EVENT_ROWS) * EVENT_COLUMN;
        drawTextAt(cr, style(12, false, palette::INK),
                   std::to_string(i + 1) + "  " + when + "  " + e.text, x,
                   y + (i % EVENT_ROWS) * EVENT_LINE);
    }
    if (events.size() > MAX_EVENTS_LISTED) {
        drawTextAt(cr, style(12, false, palette::MUTED),
                   "and " + std::to_string(events.size() - MAX_EVENTS_LISTED) + " more", LEFT,
                   y + EVENT_ROWS * EVENT_LINE);
    }
}

// One bar's spans: from each closing to the opening after it, and on a heat
// pump's compressor stage from each move of the reversing valve, in the
// colour of what the stage did.
void drawBarSpans(cairo_t *cr, const TimeAxis &t, const std::vector<RelayEvent> &log,
                  const BarSpec &bar, bool heatPump, double y) {
    const bool reversible = heatPump && bar.heatingColour != 0;
    std::array<int, RELAY_COUNT> state;
    state.fill(0);
    bool on = false;
    int64_t since = 0;
    auto fill = [&](int64_t to) {
        bool heating = reversible && state[RELAY_OB] != 1;
        setColor(cr, rgb(heating ? bar.heatingColour : bar.colour));
        double x0 = t.x(std::max(since, t.startMs));
        // Short runs stay visible as a one-pixel line.
        cairo_rectangle(cr, x0, y, std::max(t.x(to) - x0, 1.0), BAR_HEIGHT);
        cairo_fill(cr);
    };
    for (const RelayEvent &e : log) {
        bool mine = std::find(bar.relays.begin(), bar.relays.end(), e.relay) != bar.relays.end();
        bool valve = reversible && e.relay == RELAY_OB && state[RELAY_OB] != e.closed;
        if (!mine && !valve) {
            continue;
        }
        std::array<int, RELAY_COUNT> next = state;
        next[e.relay] = e.closed;
        bool nowOn =
            std::any_of(bar.relays.begin(), bar.relays.end(), [&](int r) { return next[r] == 1; });
        if (on && (!nowOn || valve) && e.ms > t.startMs) {
            fill(e.ms);
        }
        if (nowOn && (!on || valve)) {
            since = e.ms;
        }
        state = next;
        on = nowOn;
    }
    if (on) {
        fill(t.endMs);
    }
}

void drawBars(cairo_t *cr, const TimeAxis &t, const std::vector<RelayEvent> &log, bool heatPump) {
    double y = BARS_TOP;
    for (const BarSpec &bar : bars()) {
        drawText(cr, style(12, true, palette::INK, ALIGN_RIGHT), bar.label, 0, y, LEFT - 8,
                 BAR_HEIGHT);
        setColor(cr, rgb(palette::LIGHT_BOTTOM));
        cairo_rectangle(cr, LEFT, y, RIGHT - LEFT, BAR_HEIGHT);
        cairo_fill(cr);
        drawBarSpans(cr, t, log, bar, heatPump, y);
        y += BAR_HEIGHT + BAR_GAP;
    }
}

double rhOf(const TraceRow &r) {
    return r.rh;
}
double outdoorOf(const TraceRow &r) {
    return r.outdoor;
}

struct LegendItem {
    const char *text;
    uint32_t colour;
    enum Kind { LINE, DASHED, SETPOINT, PATCH } kind;
    double alpha;
};

void drawLegend(cairo_t *cr, double x, double y, const LegendItem *items, size_t count) {
    for (size_t i = 0; i < count; i++) {
        const LegendItem &item = items[i];
        setColor(cr, rgb(item.colour, item.alpha));
        if (item.kind == LegendItem::PATCH) {
            cairo_rectangle(cr, x, y - 6, 22, 12);
            cairo_fill(cr);
        } else {
            cairo_set_dash(cr, c_Dash, item.kind == LegendItem::DASHED ? 2 : 0, 0);
            cairo_set_line_width(cr, item.kind == LegendItem::LINE     ? 2.2
                                     : item.kind == LegendItem::DASHED ? 1.5
                                                                       : 2.0);
            cairo_move_to(cr, x, y);
            cairo_line_to(cr, x + 22, y);
            cairo_stroke(cr);
            cairo_set_dash(cr, nullptr, 0, 0);
        }
        x += 28 + drawTextAt(cr, style(12, false, palette::INK), item.text, x + 28, y + 4) + 18;
    }
}

// Every temperature of the rows in the thermostat's unit (degrees F or C).
std::vector<TraceRow> inUnit(const std::vector<TraceRow> &rows, bool celsius) {
    std::vector<TraceRow> shown = rows;
    if (celsius) {
        return shown;
    }
    auto f = [](double &c) { c = c * 9.0 / 5.0 + 32.0; };
    for (TraceRow &r : shown) {
        for (double *v : {&r.indoor, &r.mass, &r.outdoor, &r.setpoints.heat, &r.setpoints.cool,
                          &r.bandLow, &r.bandHigh, &r.heatInForce, &r.coolInForce}) {
            f(*v);
        }
    }
    return shown;
}

// The ranges of the three value axes over the rows, in the plot's unit.
struct PlotAxes {
    ValueAxis room;
    ValueAxis out;
    ValueAxis humidity;
};

PlotAxes plotAxes(const std::vector<TraceRow> &rows, const Report &report, double perKelvin) {
    double lo = rows.front().indoor;
    double hi = lo;
    double outLo = rows.front().outdoor;
    double outHi = outLo;
    double rhLo = rows.front().rh;
    double rhHi = rhLo;
    for (const TraceRow &r : rows) {
        lo = std::min(lo, r.indoor);
        hi = std::max(hi, r.indoor);
        if (r.controlled) {
            lo = std::min(lo, r.bandLow);
            hi = std::max(hi, std::min(r.bandHigh, r.bandLow + 12.0 * perKelvin));
        }
        if (r.inForceKnown) {
            lo = std::min(lo, r.heatInForce);
        }
        outLo = std::min(outLo, r.outdoor);
        outHi = std::max(outHi, r.outdoor);
        rhLo = std::min(rhLo, r.rh);
        rhHi = std::max(rhHi, r.rh);
        if (r.setpoints.valid && report.setup.humidifier) {
            rhLo = std::min(rhLo, r.setpoints.humidify);
        }
        if (r.setpoints.valid && report.setup.dehumidifier) {
            rhHi = std::max(rhHi, r.setpoints.dehumidify);
        }
    }
    // Room for the period names above the highest value.
    double roomSpan = std::max(hi - lo + 1.0 * perKelvin, 4.0);
    double headroom = roomSpan * PERIOD_STRIP / (ROOM_BOTTOM - ROOM_TOP - PERIOD_STRIP);
    return PlotAxes{
        valueAxis(lo - 0.5 * perKelvin, hi + 0.5 * perKelvin + headroom, ROOM_TOP, ROOM_BOTTOM),
        valueAxis(outLo - perKelvin, outHi + perKelvin, OUT_TOP, OUT_BOTTOM),
        ValueAxis{std::floor((rhLo - 2.0) / 5.0) * 5.0, std::ceil((rhHi + 2.0) / 5.0) * 5.0, RH_TOP,
                  RH_BOTTOM}};
}

// The title, the run's figures and the room panel's legend.
void drawHeading(cairo_t *cr, const Report &report, const std::string &title,
                 const std::string &detail, const char *unit, double perKelvin) {
    drawTextAt(cr, style(20, true, palette::INK), title, LEFT, 30);
    drawTextAt(cr, style(13, false, palette::INK), detail, LEFT, 52);
    char figures[256];
    snprintf(figures, sizeof(figures),
             "occupied: in band %.0f %%, %.2f %s h below, %.2f %s h above   |   equipment "
             "cycles %u, %.1f per hour   |   relay check: %s",
             100.0 * report.occupied.inBandShare, report.occupied.belowKh * perKelvin, unit,
             report.occupied.aboveKh * perKelvin, unit, report.cycles,
             report.hours > 0 ? report.cycles / report.hours : 0.0,
             report.violations.empty() ? "clean" : "VIOLATIONS");
    drawTextAt(cr, style(13, false, palette::MUTED), figures, LEFT, 74);
    const LegendItem roomItems[] = {
        {"room", palette::INK, LegendItem::LINE, 1.0},
        {"heat set point in force", palette::HEAT, LegendItem::SETPOINT, 0.75},
        {"cool set point in force", palette::COOL, LegendItem::SETPOINT, 0.75},
        {"program's heat set point", palette::HEAT, LegendItem::DASHED, 1.0},
        {"program's cool set point", palette::COOL, LegendItem::DASHED, 1.0}};
    const LegendItem bandItems[] = {{"band, occupied", palette::GREEN_TOP, LegendItem::PATCH, 0.28},
                                    {"band, unoccupied", palette::MUTED, LegendItem::PATCH, 0.16}};
    drawLegend(cr, LEFT, 98, roomItems, std::size(roomItems));
    drawLegend(cr, LEFT, 120, bandItems, std::size(bandItems));
    drawTextAt(cr, style(12, false, palette::MUTED),
               "in force: the last level either side sent on the bus, comfort recovery included",
               LEFT + 330, 124);
}

// The room over its band, the set points and the program's periods.
void drawRoomPanel(cairo_t *cr, const std::vector<TraceRow> &rows, const TimeAxis &t,
                   const ValueAxis &room, const char *unit) {
    cairo_save(cr);
    cairo_rectangle(cr, LEFT, ROOM_TOP, RIGHT - LEFT, ROOM_BOTTOM - ROOM_TOP);
    cairo_clip(cr);
    drawBand(cr, rows, t, room);
    cairo_restore(cr);
    drawValueGrid(cr, room, unit);
    drawTimeGrid(cr, t, rows, ROOM_TOP, ROOM_BOTTOM, false);
    cairo_save(cr);
    cairo_rectangle(cr, LEFT, ROOM_TOP, RIGHT - LEFT, ROOM_BOTTOM - ROOM_TOP);
    cairo_clip(cr);
    drawPeriods(cr, rows, t, room, false);
    drawSetpoint(cr, rows, t, room, {programKnown, programHeat, true}, palette::HEAT);
    drawSetpoint(cr, rows, t, room, {programKnown, programCool, true}, palette::COOL);
    drawSetpoint(cr, rows, t, room, {inForceKnown, heatInForce, false}, palette::HEAT);
    drawSetpoint(cr, rows, t, room, {inForceKnown, coolInForce, false}, palette::COOL);
    drawLine(cr, rows, t, room, indoorOf, palette::INK, 2.2);
    drawPeriods(cr, rows, t, room, true);
    cairo_restore(cr);
    drawFrame(cr, ROOM_TOP, ROOM_BOTTOM);
}

// The room's humidity with the set points of the equipment in use.
void drawHumidityPanel(cairo_t *cr, const std::vector<TraceRow> &rows, const TimeAxis &t,
                       const ValueAxis &humidity, bool humidify, bool dehumidify) {
    std::string rhTitle = "room humidity";
    if (humidify || dehumidify) {
        rhTitle += std::string(" with the ") + (humidify ? "humidify" : "") +
                   (humidify && dehumidify ? " and " : "") + (dehumidify ? "dehumidify" : "") +
                   " set point" + (humidify && dehumidify ? "s" : "");
    }
    drawTextAt(cr, style(13, true, palette::INK), rhTitle, LEFT + 6, RH_TOP - 6);
    drawValueGrid(cr, humidity, "%");
    drawTimeGrid(cr, t, rows, RH_TOP, RH_BOTTOM, false);
    cairo_save(cr);
    cairo_rectangle(cr, LEFT, RH_TOP, RIGHT - LEFT, RH_BOTTOM - RH_TOP);
    cairo_clip(cr);
    if (humidify) {
        drawSetpoint(cr, rows, t, humidity, {programKnown, humidifyOf, true}, palette::WATER);
    }
    if (dehumidify) {
        drawSetpoint(cr, rows, t, humidity, {programKnown, dehumidifyOf, true}, palette::AMBER);
    }
    drawLine(cr, rows, t, humidity, rhOf, palette::WATER, 2.0);
    cairo_restore(cr);
    drawFrame(cr, RH_TOP, RH_BOTTOM);
}

} // namespace

TextStyle style(double size, bool bold, uint32_t colour, Align align) {
    TextStyle s;
    s.size = size;
    s.bold = bold;
    s.color = rgb(colour);
    s.align = align;
    s.indent = 0;
    return s;
}

// Encodes the surface as PNG in memory and puts it in place as the
// simulator's own file.
bool writePng(cairo_surface_t *surface, const std::string &path, std::string *error) {
    std::string png;
    cairo_status_t status = cairo_surface_write_to_png_stream(
        surface,
        [](void *closure, const unsigned char *data, unsigned int length) {
            static_cast<std::string *>(closure)->append(reinterpret_cast<const char *>(data),
                                                        length);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = "cannot draw " + path + ": " + cairo_status_to_string(status);
        return false;
    }
    if (!writeFileAtomic(path, png)) {
        *error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool plotRun(const std::string &path, const std::string &fontDir,
             const std::vector<TraceRow> &trace, const std::vector<RelayEvent> &relayLog,
             const Report &report, const std::string &title, const std::string &detail,
             std::string *error) {
    if (trace.size() < 2) {
        *error = "fewer than two minutes to draw";
        return false;
    }
    // The fonts are loaded once and kept for the life of the process.
    if (!m_FontsLoaded && !fontsLoad(fontDir, error)) {
        return false;
    }
    m_FontsLoaded = true;
    const bool celsius = report.setup.celsius;
    const char *unit = celsius ? "\u00b0C" : "\u00b0F";
    const double perKelvin = celsius ? 1.0 : 9.0 / 5.0;
    std::vector<TraceRow> rows = inUnit(trace, celsius);
    const std::vector<RunEvent> &events = report.run.events;
    // Room below for the list of the run's events.
    size_t listed = std::min(events.size(), MAX_EVENTS_LISTED);
    int height =
        HEIGHT +
        (listed == 0 ? 0 : static_cast<int>(std::min(listed, EVENT_ROWS + 1) * EVENT_LINE + 40));
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, WIDTH, height);
    cairo_t *cr = cairo_create(surface);
    setColor(cr, rgb(palette::CARD));
    cairo_paint(cr);

    TimeAxis t{rows.front().uptimeMs - 60000, rows.back().uptimeMs};
    PlotAxes axes = plotAxes(rows, report, perKelvin);
    drawHeading(cr, report, title, detail, unit, perKelvin);
    drawRoomPanel(cr, rows, t, axes.room, unit);
    drawHumidityPanel(cr, rows, t, axes.humidity, report.setup.humidifier,
                      report.setup.dehumidifier);

    drawTextAt(cr, style(13, true, palette::INK), "outdoor", LEFT + 6, OUT_TOP - 6);
    drawValueGrid(cr, axes.out, unit);
    drawTimeGrid(cr, t, rows, OUT_TOP, OUT_BOTTOM, false);
    drawLine(cr, rows, t, axes.out, outdoorOf, palette::COOL, 2.0);
    drawFrame(cr, OUT_TOP, OUT_BOTTOM);

    drawTextAt(cr, style(13, true, palette::INK), "relays closed", LEFT + 6, BARS_TOP - 8);
    drawBars(cr, t, relayLog, report.setup.heatPump);
    double barsBottom = BARS_TOP + bars().size() * (BAR_HEIGHT + BAR_GAP) - BAR_GAP;
    drawTimeGrid(cr, t, rows, barsBottom, barsBottom + 2, true);
    const TraceRow &first = rows.front();
    drawEvents(cr, t, events, first.wall - (first.uptimeMs - t.startMs) / 1000, barsBottom);

    cairo_destroy(cr);
    bool written = writePng(surface, path, error);
    cairo_surface_destroy(surface);
    return written;
}

} // namespace sim
