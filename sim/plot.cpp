// The picture of a run: three panels sharing a time axis. Top, the room
// temperature over its comfort band (green while occupied, grey otherwise)
// with the heat and cool set points; middle, the outdoor temperature; bottom,
// one bar per relay for the time it was closed, from the relay log.
#include "plot.h"

#include "paint.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace sim {

namespace {

constexpr int WIDTH = 1280;
constexpr int HEIGHT = 820;
constexpr double LEFT = 78;
constexpr double RIGHT = WIDTH - 24;
// Panels: top and bottom edges.
constexpr double ROOM_TOP = 116, ROOM_BOTTOM = 450;
constexpr double OUT_TOP = 484, OUT_BOTTOM = 590;
constexpr double BARS_TOP = 626, BAR_HEIGHT = 16, BAR_GAP = 6;
constexpr double MS_PER_HOUR = 3600000.0;

bool m_FontsLoaded = false;

struct BarSpec {
    const char *label;
    std::vector<int> relays; // closed when any of them is
    uint32_t colour;
};

const std::vector<BarSpec> &bars() {
    static const std::vector<BarSpec> c_Bars = {
        {c_RelayNames[RELAY_W1E], {RELAY_W1E}, palette::HEAT},
        {c_RelayNames[RELAY_W2], {RELAY_W2}, palette::FLAME},
        {c_RelayNames[RELAY_Y1], {RELAY_Y1}, palette::COOL},
        {c_RelayNames[RELAY_Y2], {RELAY_Y2}, palette::ICE},
        {c_RelayNames[RELAY_OB], {RELAY_OB}, palette::MUTED},
        {"fan", {RELAY_G1, RELAY_G2, RELAY_G3}, palette::SLATE_TOP},
        {c_RelayNames[RELAY_HUM], {RELAY_HUM}, palette::WATER},
        {c_RelayNames[RELAY_DEH], {RELAY_DEH}, palette::AMBER},
    };
    return c_Bars;
}

TextStyle style(double size, bool bold, uint32_t colour, Align align = ALIGN_LEFT) {
    TextStyle s;
    s.size = size;
    s.bold = bold;
    s.color = rgb(colour);
    s.align = align;
    s.indent = 0;
    return s;
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
    int step = hours <= 12 ? 1 : hours <= 30 ? 2 : hours <= 72 ? 6 : 12;
    // Whole local hours: the first row's wall clock tells where they fall.
    const TraceRow &first = rows.front();
    int64_t wallAtStart = first.wall - (first.uptimeMs - t.startMs) / 1000;
    int64_t firstHour = (wallAtStart / 3600 + 1) * 3600;
    for (int64_t wall = firstHour; (wall - wallAtStart) * 1000 <= t.endMs - t.startMs;
         wall += 3600) {
        time_t tt = static_cast<time_t>(wall);
        struct tm local {};
        localtime_r(&tt, &local);
        if (local.tm_hour % step != 0 || local.tm_min != 0) {
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
            strftime(text, sizeof(text), local.tm_hour == 0 ? "%a" : "%H:%M", &local);
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

// A set point as a step line, only where it is in force.
void drawSetpoint(cairo_t *cr, const std::vector<TraceRow> &rows, const TimeAxis &t,
                  const ValueAxis &a, bool heat, uint32_t colour) {
    setColor(cr, rgb(colour, 0.9));
    cairo_set_line_width(cr, 1.5);
    double dash[] = {6.0, 4.0};
    cairo_set_dash(cr, dash, 2, 0);
    bool drawing = false;
    double lastY = 0;
    int64_t previousMs = t.startMs;
    for (const TraceRow &r : rows) {
        if (!r.setpoints.valid) {
            drawing = false;
            previousMs = r.uptimeMs;
            continue;
        }
        double y = a.y(heat ? r.setpoints.heat : r.setpoints.cool);
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

void drawBars(cairo_t *cr, const TimeAxis &t, const std::vector<RelayEvent> &log) {
    double y = BARS_TOP;
    for (const BarSpec &bar : bars()) {
        drawText(cr, style(12, true, palette::INK, ALIGN_RIGHT), bar.label, 0, y, LEFT - 8,
                 BAR_HEIGHT);
        setColor(cr, rgb(palette::LIGHT_BOTTOM));
        cairo_rectangle(cr, LEFT, y, RIGHT - LEFT, BAR_HEIGHT);
        cairo_fill(cr);
        std::array<int, RELAY_COUNT> state;
        state.fill(0);
        bool on = false;
        int64_t since = 0;
        setColor(cr, rgb(bar.colour));
        for (const RelayEvent &e : log) {
            if (std::find(bar.relays.begin(), bar.relays.end(), e.relay) == bar.relays.end()) {
                continue;
            }
            state[e.relay] = e.closed;
            bool nowOn = std::any_of(bar.relays.begin(), bar.relays.end(),
                                     [&](int r) { return state[r] == 1; });
            if (nowOn && !on) {
                since = e.ms;
            } else if (!nowOn && on && e.ms > t.startMs) {
                double x0 = t.x(std::max(since, t.startMs));
                // Short runs stay visible as a one-pixel line.
                cairo_rectangle(cr, x0, y, std::max(t.x(e.ms) - x0, 1.0), BAR_HEIGHT);
                cairo_fill(cr);
            }
            on = nowOn;
        }
        if (on) {
            double x0 = t.x(std::max(since, t.startMs));
            cairo_rectangle(cr, x0, y, std::max(t.x(t.endMs) - x0, 1.0), BAR_HEIGHT);
            cairo_fill(cr);
        }
        y += BAR_HEIGHT + BAR_GAP;
    }
}

double indoorOf(const TraceRow &r) {
    return r.indoor;
}
double outdoorOf(const TraceRow &r) {
    return r.outdoor;
}

void drawLegend(cairo_t *cr, double x, double y) {
    struct Item {
        const char *text;
        uint32_t colour;
        bool dashed;
        bool patch;
        double alpha;
    };
    const Item items[] = {{"room", palette::INK, false, false, 1.0},
                          {"heat set point", palette::HEAT, true, false, 1.0},
                          {"cool set point", palette::COOL, true, false, 1.0},
                          {"band, occupied", palette::GREEN_TOP, false, true, 0.28},
                          {"band, unoccupied", palette::MUTED, false, true, 0.16}};
    for (const Item &item : items) {
        setColor(cr, rgb(item.colour, item.alpha));
        if (item.patch) {
            cairo_rectangle(cr, x, y - 6, 22, 12);
            cairo_fill(cr);
        } else {
            double dash[] = {6.0, 4.0};
            cairo_set_dash(cr, dash, item.dashed ? 2 : 0, 0);
            cairo_set_line_width(cr, item.dashed ? 1.5 : 2.2);
            cairo_move_to(cr, x, y);
            cairo_line_to(cr, x + 22, y);
            cairo_stroke(cr);
            cairo_set_dash(cr, nullptr, 0, 0);
        }
        x += 28 + drawTextAt(cr, style(12, false, palette::INK), item.text, x + 28, y + 4) + 18;
    }
}

} // namespace

bool plotRun(const std::string &path, const std::string &fontDir, const std::vector<TraceRow> &rows,
             const std::vector<RelayEvent> &relayLog, const Report &report,
             const std::string &title, const std::string &detail, std::string *error) {
    if (rows.size() < 2) {
        *error = "fewer than two minutes to draw";
        return false;
    }
    // The fonts are loaded once and kept for the life of the process.
    if (!m_FontsLoaded && !fontsLoad(fontDir, error)) {
        return false;
    }
    m_FontsLoaded = true;
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, WIDTH, HEIGHT);
    cairo_t *cr = cairo_create(surface);
    setColor(cr, rgb(palette::CARD));
    cairo_paint(cr);

    TimeAxis t{rows.front().uptimeMs - 60000, rows.back().uptimeMs};
    double lo = rows.front().indoor;
    double hi = lo;
    double outLo = rows.front().outdoor;
    double outHi = outLo;
    for (const TraceRow &r : rows) {
        lo = std::min(lo, r.indoor);
        hi = std::max(hi, r.indoor);
        if (r.controlled) {
            lo = std::min(lo, r.bandLow);
            hi = std::max(hi, std::min(r.bandHigh, r.bandLow + 12.0));
        }
        outLo = std::min(outLo, r.outdoor);
        outHi = std::max(outHi, r.outdoor);
    }
    ValueAxis room = valueAxis(lo - 0.5, hi + 0.5, ROOM_TOP, ROOM_BOTTOM);
    ValueAxis out = valueAxis(outLo - 1.0, outHi + 1.0, OUT_TOP, OUT_BOTTOM);

    drawTextAt(cr, style(20, true, palette::INK), title, LEFT, 30);
    drawTextAt(cr, style(13, false, palette::INK), detail, LEFT, 52);
    char figures[256];
    snprintf(figures, sizeof(figures),
             "occupied: in band %.0f %%, %.2f C h below, %.2f C h above   |   equipment cycles "
             "%u, %.1f per hour   |   relay check: %s",
             100.0 * report.occupied.inBandShare, report.occupied.belowKh, report.occupied.aboveKh,
             report.cycles, report.hours > 0 ? report.cycles / report.hours : 0.0,
             report.violations.empty() ? "clean" : "VIOLATIONS");
    drawTextAt(cr, style(13, false, palette::MUTED), figures, LEFT, 74);
    drawLegend(cr, LEFT, 98);

    cairo_save(cr);
    cairo_rectangle(cr, LEFT, ROOM_TOP, RIGHT - LEFT, ROOM_BOTTOM - ROOM_TOP);
    cairo_clip(cr);
    drawBand(cr, rows, t, room);
    cairo_restore(cr);
    drawValueGrid(cr, room, "C");
    drawTimeGrid(cr, t, rows, ROOM_TOP, ROOM_BOTTOM, false);
    cairo_save(cr);
    cairo_rectangle(cr, LEFT, ROOM_TOP, RIGHT - LEFT, ROOM_BOTTOM - ROOM_TOP);
    cairo_clip(cr);
    drawSetpoint(cr, rows, t, room, true, palette::HEAT);
    drawSetpoint(cr, rows, t, room, false, palette::COOL);
    drawLine(cr, rows, t, room, indoorOf, palette::INK, 2.2);
    cairo_restore(cr);
    drawFrame(cr, ROOM_TOP, ROOM_BOTTOM);

    drawTextAt(cr, style(13, true, palette::INK), "outdoor", LEFT + 6, OUT_TOP - 6);
    drawValueGrid(cr, out, "C");
    drawTimeGrid(cr, t, rows, OUT_TOP, OUT_BOTTOM, false);
    drawLine(cr, rows, t, out, outdoorOf, palette::COOL, 2.0);
    drawFrame(cr, OUT_TOP, OUT_BOTTOM);

    drawTextAt(cr, style(13, true, palette::INK), "relays closed", LEFT + 6, BARS_TOP - 8);
    drawBars(cr, t, relayLog);
    double barsBottom = BARS_TOP + bars().size() * (BAR_HEIGHT + BAR_GAP) - BAR_GAP;
    drawTimeGrid(cr, t, rows, barsBottom, barsBottom + 2, true);

    cairo_destroy(cr);
    cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = "cannot write " + path + ": " + cairo_status_to_string(status);
        return false;
    }
    return true;
}

} // namespace sim
