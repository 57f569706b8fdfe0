// Symbol icons on a 24 x 24 design grid.
#include "icons.h"

#include "host/paint.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using namespace palette;

void drop(cairo_t *cr, double cx, double top, double r) {
    // A water drop: a point at the top and a round belly of radius r.
    double by = top + r * 1.7;
    cairo_move_to(cr, cx, top);
    cairo_curve_to(cr, cx + r * 0.35, top + r * 0.55, cx + r, by - r * 0.55, cx + r, by);
    cairo_arc(cr, cx, by, r, 0, M_PI);
    cairo_curve_to(cr, cx - r, by - r * 0.55, cx - r * 0.35, top + r * 0.55, cx, top);
    cairo_close_path(cr);
}

void hold(cairo_t *cr) {
    cairo_arc(cr, 12, 12, 10.5, 0, 2 * M_PI);
    fillVertical(cr, 1, 23, rgb(GREEN_TOP), rgb(GREEN_BOTTOM));
    setColor(cr, rgb(0xFFFFFF));
    roundedRect(cr, 8, 7, 3, 10, 1);
    roundedRect(cr, 13, 7, 3, 10, 1);
    cairo_fill(cr);
}

void away(cairo_t *cr) {
    cairo_arc(cr, 12, 12, 10.5, 0, 2 * M_PI);
    fillVertical(cr, 1, 23, rgb(0x4C8FE0), rgb(0x2462B0));
    // A small suitcase.
    setColor(cr, rgb(0xFFFFFF));
    roundedRect(cr, 6.5, 9, 11, 8, 1.5);
    cairo_fill(cr);
    cairo_set_line_width(cr, 1.6);
    roundedRect(cr, 9.5, 6.2, 5, 3.5, 1);
    cairo_stroke(cr);
    setColor(cr, rgb(0x2462B0));
    cairo_rectangle(cr, 6.5, 12.3, 11, 1.2);
    cairo_fill(cr);
}

void adjust(cairo_t *cr) {
    // Two arrows chasing each other round a circle.
    setColor(cr, rgb(0x2E8B3E));
    cairo_set_line_width(cr, 2.4);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 0; i < 2; i++) {
        double a0 = i * M_PI + 0.35;
        double a1 = a0 + M_PI - 0.8;
        cairo_new_path(cr);
        cairo_arc(cr, 12, 12, 8, a0, a1);
        cairo_stroke(cr);
        double ex = 12 + 8 * std::cos(a1);
        double ey = 12 + 8 * std::sin(a1);
        double tx = -std::sin(a1);
        double ty = std::cos(a1);
        double nx = std::cos(a1);
        double ny = std::sin(a1);
        cairo_move_to(cr, ex + tx * 4, ey + ty * 4);
        cairo_line_to(cr, ex + nx * 3.2 - tx * 0.5, ey + ny * 3.2 - ty * 0.5);
        cairo_line_to(cr, ex - nx * 3.2 - tx * 0.5, ey - ny * 3.2 - ty * 0.5);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
}

void snowflake(cairo_t *cr, const Rgba &color, double width) {
    setColor(cr, color);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 0; i < 6; i++) {
        double a = i * M_PI / 3 - M_PI / 2;
        double c = std::cos(a);
        double s = std::sin(a);
        cairo_move_to(cr, 12, 12);
        cairo_line_to(cr, 12 + 10 * c, 12 + 10 * s);
        // Two small branches on each arm.
        double bx = 12 + 6 * c;
        double by = 12 + 6 * s;
        for (int side = -1; side <= 1; side += 2) {
            double b = a + side * 0.75;
            cairo_move_to(cr, bx, by);
            cairo_line_to(cr, bx + 3.4 * std::cos(b), by + 3.4 * std::sin(b));
        }
    }
    cairo_stroke(cr);
}

void flamePath(cairo_t *cr) {
    cairo_move_to(cr, 12, 1.5);
    cairo_curve_to(cr, 14, 6, 20, 8.5, 20, 15);
    cairo_curve_to(cr, 20, 19.8, 16.5, 22.8, 12, 22.8);
    cairo_curve_to(cr, 7.5, 22.8, 4, 19.8, 4, 15.5);
    cairo_curve_to(cr, 4, 11.5, 6.5, 9.5, 8, 7);
    cairo_curve_to(cr, 8.5, 9.5, 9.2, 10.5, 10.2, 11);
    cairo_curve_to(cr, 10, 7, 11, 4, 12, 1.5);
    cairo_close_path(cr);
}

void flame(cairo_t *cr) {
    flamePath(cr);
    fillVertical(cr, 2, 23, rgb(FLAME), rgb(HEAT));
    // The bright inner tongue.
    cairo_move_to(cr, 12, 11);
    cairo_curve_to(cr, 13.2, 14, 16, 15.5, 16, 18.2);
    cairo_curve_to(cr, 16, 20.6, 14.2, 22, 12, 22);
    cairo_curve_to(cr, 9.8, 22, 8, 20.6, 8, 18.4);
    cairo_curve_to(cr, 8, 16, 10.8, 14.5, 12, 11);
    cairo_close_path(cr);
    setColor(cr, rgb(0xFFD56B));
    cairo_fill(cr);
}

void fan(cairo_t *cr) {
    setColor(cr, rgb(0x4A5F7A));
    for (int i = 0; i < 3; i++) {
        cairo_save(cr);
        cairo_translate(cr, 12, 12);
        cairo_rotate(cr, i * 2 * M_PI / 3);
        cairo_move_to(cr, 0, -1.5);
        cairo_curve_to(cr, 2.5, -5, 1.5, -10.5, -2.5, -10.5);
        cairo_curve_to(cr, -5.5, -10.5, -5, -6, -1.6, -1.2);
        cairo_close_path(cr);
        cairo_fill(cr);
        cairo_restore(cr);
    }
    cairo_arc(cr, 12, 12, 2.6, 0, 2 * M_PI);
    cairo_fill(cr);
    setColor(cr, rgb(0xFFFFFF));
    cairo_arc(cr, 12, 12, 1.1, 0, 2 * M_PI);
    cairo_fill(cr);
}

void humidify(cairo_t *cr) {
    drop(cr, 12, 1.5, 8.2);
    fillVertical(cr, 1.5, 23, rgb(0x58B2F0), rgb(WATER));
    setColor(cr, rgb(0xFFFFFF));
    cairo_rectangle(cr, 11, 11, 2, 8);
    cairo_rectangle(cr, 8, 14, 8, 2);
    cairo_fill(cr);
}

void dehumidify(cairo_t *cr) {
    drop(cr, 12, 1.5, 8.2);
    setColor(cr, rgb(0xD7ECFB));
    cairo_fill_preserve(cr);
    setColor(cr, rgb(WATER));
    cairo_set_line_width(cr, 1.8);
    cairo_stroke(cr);
    cairo_rectangle(cr, 8, 14, 8, 2.2);
    cairo_fill(cr);
}

void lock(cairo_t *cr, const Rgba &color) {
    setColor(cr, color);
    cairo_set_line_width(cr, 2.6);
    cairo_new_path(cr);
    cairo_arc(cr, 12, 9.5, 5, M_PI, 2 * M_PI);
    cairo_line_to(cr, 17, 12);
    cairo_move_to(cr, 7, 9.5);
    cairo_line_to(cr, 7, 12);
    cairo_stroke(cr);
    roundedRect(cr, 4.5, 11, 15, 11.5, 2);
    cairo_fill(cr);
}

void alertWeather(cairo_t *cr) {
    // A storm cloud with rain, and the amber reminder badge of the alerts.
    cairo_new_path(cr);
    cairo_arc(cr, 7, 11, 4.2, M_PI * 0.5, M_PI * 1.5);
    cairo_arc(cr, 11.5, 7.5, 5.2, M_PI * 1.05, M_PI * 1.9);
    cairo_arc(cr, 17, 10.5, 4, M_PI * 1.3, M_PI * 0.5);
    cairo_close_path(cr);
    fillVertical(cr, 2, 15, rgb(0x8C9BB0), rgb(0x4A5F7A), true);
    setColor(cr, rgb(0x3A4A60));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    setColor(cr, rgb(0x2F7BD8));
    cairo_set_line_width(cr, 1.6);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 0; i < 3; i++) {
        double x = 5.5 + i * 3.6;
        cairo_move_to(cr, x, 17);
        cairo_line_to(cr, x - 1.2, 21);
    }
    cairo_stroke(cr);
    cairo_arc(cr, 18, 17.5, 5.5, 0, 2 * M_PI);
    fillVertical(cr, 12, 23, rgb(0xFFC93A), rgb(AMBER), true);
    setColor(cr, rgb(0xC98A00));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    setColor(cr, rgb(0x3A2A00));
    roundedRect(cr, 17.1, 13.8, 1.8, 4.6, 0.8);
    cairo_fill(cr);
    cairo_arc(cr, 18, 20.3, 1, 0, 2 * M_PI);
    cairo_fill(cr);
}

void power(cairo_t *cr) {
    // The power symbol: an open ring and a bar, in the muted grey of the labels.
    setColor(cr, rgb(MUTED));
    cairo_set_line_width(cr, 2.6);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_new_path(cr);
    cairo_arc(cr, 12, 13, 8, -M_PI * 0.5 + 0.75, M_PI * 1.5 - 0.75);
    cairo_stroke(cr);
    cairo_move_to(cr, 12, 2.5);
    cairo_line_to(cr, 12, 11.5);
    cairo_stroke(cr);
}

void alertFilter(cairo_t *cr) {
    // A filter frame with its pleats, and an amber reminder badge.
    roundedRect(cr, 1.5, 3.5, 17, 17, 2.5);
    setColor(cr, rgb(0xFFFFFF));
    cairo_fill_preserve(cr);
    setColor(cr, rgb(0x4A5F7A));
    cairo_set_line_width(cr, 1.8);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 1.2);
    for (int i = 0; i < 4; i++) {
        double x = 4.5 + i * 3.6;
        cairo_move_to(cr, x, 6);
        cairo_line_to(cr, x + 1.8, 18);
    }
    cairo_stroke(cr);
    cairo_arc(cr, 17.5, 17.5, 6, 0, 2 * M_PI);
    fillVertical(cr, 11.5, 23.5, rgb(0xFFC93A), rgb(AMBER), true);
    setColor(cr, rgb(0xC98A00));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    setColor(cr, rgb(0x3A2A00));
    roundedRect(cr, 16.6, 13.6, 1.8, 4.8, 0.8);
    cairo_fill(cr);
    cairo_arc(cr, 17.5, 20.3, 1, 0, 2 * M_PI);
    cairo_fill(cr);
}

void aux(cairo_t *cr) {
    // Drawn on the 24 x 24 grid but meant for a wider box: see drawIcon.
    roundedRect(cr, 0.5, 4, 23, 16, 4);
    fillVertical(cr, 4, 20, rgb(0xFFA53A), rgb(0xE0701A), true);
    setColor(cr, rgb(0xB4560F));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void envelope(cairo_t *cr) {
    roundedRect(cr, 2, 5, 20, 14, 2);
    setColor(cr, rgb(LABEL));
    cairo_set_line_width(cr, 1.8);
    cairo_stroke(cr);
    cairo_move_to(cr, 3, 6.5);
    cairo_line_to(cr, 12, 13);
    cairo_line_to(cr, 21, 6.5);
    cairo_stroke(cr);
}

// The auxiliary-heat badge: a small flame and "AUX" on an orange plate.
void drawAux(cairo_t *cr, double x, double y, double w, double h) {
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, w / 24.0, h / 24.0);
    aux(cr);
    cairo_restore(cr);
    cairo_save(cr);
    cairo_translate(cr, x + 3, y + h * 0.25);
    cairo_scale(cr, h * 0.5 / 24.0, h * 0.5 / 24.0);
    setColor(cr, rgb(0xFFFFFF));
    flamePath(cr);
    cairo_fill(cr);
    cairo_restore(cr);
    TextStyle t;
    t.size = 10;
    t.align = ALIGN_RIGHT;
    t.indent = 3.5;
    drawText(cr, t, "AUX", x, y, w, h);
}

// The icons drawn in a 24 x 24 box, by name.
struct Icon {
    const char *name;
    void (*draw)(cairo_t *cr);
};

constexpr Icon c_Icons[] = {
    {"hold", hold},
    {"away", away},
    {"adjust", adjust},
    {"cool", [](cairo_t *cr) { snowflake(cr, rgb(COOL), 2.2); }},
    {"snow-white", [](cairo_t *cr) { snowflake(cr, rgb(0xFFFFFF), 2.2); }},
    {"heat", flame},
    {"fan", fan},
    {"humidify", humidify},
    {"dehumidify", dehumidify},
    {"drop",
     [](cairo_t *cr) {
         drop(cr, 12, 2, 7.5);
         fillVertical(cr, 2, 22, rgb(0x9C7BD0), rgb(0x6B4C9A));
     }},
    {"lock", [](cairo_t *cr) { lock(cr, rgb(0xAEB8C4)); }},
    {"lock-dark", [](cairo_t *cr) { lock(cr, rgb(0x8A97A8)); }},
    {"alert-weather", alertWeather},
    {"power", power},
    {"alert-filter", alertFilter},
    {"envelope", envelope},
};

} // namespace

bool drawIcon(cairo_t *cr, const std::string &name, double x, double y, double w, double h) {
    if (name == "aux") {
        drawAux(cr, x, y, w, h);
        return true;
    }
    const Icon *icon = std::find_if(std::begin(c_Icons), std::end(c_Icons),
                                    [&](const Icon &i) { return name == i.name; });
    if (icon == std::end(c_Icons)) {
        return false;
    }
    cairo_save(cr);
    double s = std::fmin(w, h) / 24.0;
    cairo_translate(cr, x + (w - 24 * s) / 2, y + (h - 24 * s) / 2);
    cairo_scale(cr, s, s);
    icon->draw(cr);
    cairo_restore(cr);
    return true;
}
