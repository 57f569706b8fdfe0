// One picture per figure of a study: a bar for each run, drawn with the
// host library's cairo painting helpers in the style of a run's day.png.
#include "study/study.h"

#include "board/board.h"
#include "host/paint.h"
#include "report/plot.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr double WIDTH = 1280;
constexpr double LEFT = 420; // the runs' names go left of it
constexpr double RIGHT = WIDTH - 110;
constexpr double TOP = 96;
constexpr double ROW = 24, BAR = 16;

bool m_FontsLoaded = false;

std::string withUnit(const std::string &title, const std::string &unit) {
    std::string out = title;
    size_t at = out.find("{u}");
    if (at != std::string::npos) {
        out.replace(at, 3, "\u00b0" + unit);
    }
    return out;
}

// The value axis: from the least (or 0) to the most, with a grid line at
// each round step.
void drawGrid(cairo_t *cr, double lo, double hi, double bottom) {
    double span = hi - lo;
    double step = std::pow(10.0, std::floor(std::log10(span)));
    step *= span / step > 5 ? 2.0 : span / step < 2 ? 0.5 : 1.0;
    cairo_set_line_width(cr, 1.0);
    for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-6; v += step) {
        double x = std::round(LEFT + (v - lo) / span * (RIGHT - LEFT)) + 0.5;
        setColor(cr, rgb(v == 0.0 ? palette::MUTED : palette::CARD_EDGE));
        cairo_move_to(cr, x, TOP - 6);
        cairo_line_to(cr, x, bottom);
        cairo_stroke(cr);
        drawText(cr, style(12, false, palette::MUTED, ALIGN_CENTER),
                 formatNumber(step < 1.0 ? "%.1f" : "%.0f", v), x - 40, bottom + 4, 80, 16);
    }
}

} // namespace

bool plotStudyFigure(const std::string &path, const std::string &fontDir, const FigureDef &figure,
                     const std::vector<std::string> &names, const std::vector<double> &values,
                     const std::string &unit, std::string *error) {
    if (!m_FontsLoaded && !fontsLoad(fontDir, error)) {
        return false;
    }
    m_FontsLoaded = true;
    double lo = 0.0, hi = 0.0;
    for (double v : values) {
        if (!std::isnan(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    hi = hi - lo < 1e-9 ? lo + 1.0 : hi;
    double bottom = TOP + ROW * static_cast<double>(names.size());
    int height = static_cast<int>(bottom) + 40;
    cairo_surface_t *surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(WIDTH), height);
    cairo_t *cr = cairo_create(surface);
    setColor(cr, rgb(palette::CARD));
    cairo_paint(cr);
    drawTextAt(cr, style(20, true, palette::INK, ALIGN_LEFT), withUnit(figure.title, unit), 24, 34);
    drawTextAt(cr, style(13, false, palette::MUTED, ALIGN_LEFT),
               "tstat-sim study: " + std::string(figure.key) + ", one bar a run", 24, 58);
    drawGrid(cr, lo, hi, bottom);
    auto x = [&](double v) { return LEFT + (v - lo) / (hi - lo) * (RIGHT - LEFT); };
    for (size_t i = 0; i < names.size(); i++) {
        double y = TOP + ROW * static_cast<double>(i);
        drawText(cr, style(12, false, palette::INK, ALIGN_RIGHT), names[i], 0, y, LEFT - 10, BAR);
        double v = values[i];
        std::string label = std::isnan(v) ? "-" : formatNumber("%.2f", v);
        if (!std::isnan(v)) {
            double x0 = x(0.0), x1 = x(v);
            setColor(cr, rgb(v < 0.0 ? palette::COOL : palette::HEAT, 0.85));
            cairo_rectangle(cr, std::min(x0, x1), y, std::max(std::fabs(x1 - x0), 1.0), BAR);
            cairo_fill(cr);
        }
        drawTextAt(cr, style(12, true, palette::INK, ALIGN_LEFT), label,
                   std::max(x(std::isnan(v) ? 0.0 : v), x(0.0)) + 6, y + 12);
    }
    cairo_destroy(cr);
    bool written = writePng(surface, path, error);
    cairo_surface_destroy(surface);
    return written;
}

} // namespace sim
