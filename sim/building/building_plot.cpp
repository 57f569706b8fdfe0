// The building's demand over its run, with and without its events, each
// event shaded from its start to its end and its return marked, in the
// style of a run's day.png.
#include "building/building_figures.h"

#include "host/paint.h"
#include "report/plot.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace sim {

namespace {

constexpr double WIDTH = 1280, HEIGHT = 560;
constexpr double LEFT = 80, RIGHT = WIDTH - 40, TOP = 100, BOTTOM = HEIGHT - 70;

bool m_FontsLoaded = false;

struct Axes {
    size_t minutes;
    double top; // kW at the top
    double x(double minute) const { return LEFT + minute / minutes * (RIGHT - LEFT); }
    double y(double kw) const { return BOTTOM - kw / top * (BOTTOM - TOP); }
};

void drawAxes(cairo_t *cr, const Axes &a, int64_t startWall) {
    double step = std::pow(10.0, std::floor(std::log10(a.top)));
    step *= a.top / step > 5 ? 1.0 : 0.5;
    cairo_set_line_width(cr, 1.0);
    for (double v = 0; v <= a.top + 1e-9; v += step) {
        double y = std::round(a.y(v)) + 0.5;
        setColor(cr, rgb(v == 0.0 ? palette::MUTED : palette::CARD_EDGE));
        cairo_move_to(cr, LEFT, y);
        cairo_line_to(cr, RIGHT, y);
        cairo_stroke(cr);
        drawText(cr, style(12, false, palette::MUTED, ALIGN_RIGHT),
                 formatNumber(step < 1.0 ? "%.1f" : "%.0f", v), 0, y - 8, LEFT - 8, 16);
    }
    size_t hourStep = a.minutes > 48 * 60 ? 360 : a.minutes > 12 * 60 ? 120 : 60;
    for (size_t m = 0; m <= a.minutes; m += hourStep) {
        time_t t = static_cast<time_t>(startWall + static_cast<int64_t>(m) * 60);
        struct tm local {};
        localtime_r(&t, &local);
        char label[16];
        strftime(label, sizeof(label), "%H:%M", &local);
        drawText(cr, style(12, false, palette::MUTED, ALIGN_CENTER), label, a.x(m) - 30, BOTTOM + 6,
                 60, 16);
    }
}

void drawLine(cairo_t *cr, const Axes &a, const std::vector<double> &kw, uint32_t colour,
              bool dashed) {
    if (kw.empty()) {
        return;
    }
    setColor(cr, rgb(colour));
    cairo_set_line_width(cr, 2.0);
    const double dash[] = {6.0, 4.0};
    cairo_set_dash(cr, dash, dashed ? 2 : 0, 0);
    for (size_t i = 0; i < kw.size(); i++) {
        double x = a.x(static_cast<double>(i) + 0.5);
        i == 0 ? cairo_move_to(cr, x, a.y(kw[i])) : cairo_line_to(cr, x, a.y(kw[i]));
    }
    cairo_stroke(cr);
    cairo_set_dash(cr, dash, 0, 0);
}

void drawEvents(cairo_t *cr, const Axes &a, const BuildingResult &with) {
    int n = 0;
    for (const EventOutcome &o : with.events) {
        const DemandEvent &e = o.event;
        double x0 = a.x(static_cast<double>(e.atMs) / 60000.0);
        double x1 = a.x(static_cast<double>(e.atMs + e.durationMs) / 60000.0);
        double x2 = a.x(static_cast<double>(e.atMs + e.durationMs + e.staggerMs) / 60000.0);
        setColor(cr, rgb(palette::AMBER, 0.18));
        cairo_rectangle(cr, x0, TOP, std::max(1.0, x1 - x0), BOTTOM - TOP);
        cairo_fill(cr);
        setColor(cr, rgb(palette::AMBER, 0.08));
        cairo_rectangle(cr, x1, TOP, std::max(1.0, x2 - x1), BOTTOM - TOP);
        cairo_fill(cr);
        drawTextAt(cr, style(12, true, palette::INK, ALIGN_LEFT),
                   "event " + std::to_string(++n) + (e.cool ? ": cool up" : ": heat down"), x0 + 4,
                   TOP + 14);
    }
}

} // namespace

bool plotBuildingDemand(const std::string &path, const std::string &fontDir,
                        const BuildingSpec &plan, const BuildingResult &with,
                        const BuildingResult *without, std::string *error) {
    if (!m_FontsLoaded && !fontsLoad(fontDir, error)) {
        return false;
    }
    m_FontsLoaded = true;
    std::vector<double> a = aggregateDemandKw(with, with.minutes);
    std::vector<double> b =
        without != nullptr ? aggregateDemandKw(*without, with.minutes) : std::vector<double>();
    double most = 1.0;
    for (double v : a) {
        most = std::max(most, v);
    }
    for (double v : b) {
        most = std::max(most, v);
    }
    Axes axes{std::max<size_t>(1, with.minutes), most * 1.1};
    cairo_surface_t *surface = cairo_image_surface_create(
        CAIRO_FORMAT_RGB24, static_cast<int>(WIDTH), static_cast<int>(HEIGHT));
    cairo_t *cr = cairo_create(surface);
    setColor(cr, rgb(palette::CARD));
    cairo_paint(cr);
    drawTextAt(cr, style(20, true, palette::INK, ALIGN_LEFT),
               "The building's electric demand, kW (minute by minute)", 24, 34);
    drawTextAt(cr, style(13, false, palette::MUTED, ALIGN_LEFT),
               "tstat-sim building: " + plan.path + ", " + std::to_string(with.units.size()) +
                   " units; solid: with the events, dashed: without; shaded: the events and "
                   "their staggered return",
               24, 58);
    drawEvents(cr, axes, with);
    drawAxes(cr, axes, plan.startWall);
    drawLine(cr, axes, b, palette::MUTED, true);
    drawLine(cr, axes, a, palette::COOL, false);
    cairo_destroy(cr);
    bool written = writePng(surface, path, error);
    cairo_surface_destroy(surface);
    return written;
}

} // namespace sim
