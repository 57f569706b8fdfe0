// Weather condition pictures.
#include "weather.h"

#include "host/paint.h"

#include <cmath>
#include <functional>
#include <map>

namespace {

using namespace palette;

enum CloudTone { CLOUD_LIGHT, CLOUD_GREY, CLOUD_DARK };

void sun(cairo_t *cr, double cx, double cy, double r, double alpha = 1.0) {
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, std::fmax(1.8, r * 0.2));
    setColor(cr, rgb(SUN, alpha));
    for (int i = 0; i < 8; i++) {
        double a = i * M_PI / 4;
        cairo_move_to(cr, cx + (r + 3.5) * std::cos(a), cy + (r + 3.5) * std::sin(a));
        cairo_line_to(cr, cx + (r + 3.5 + r * 0.5) * std::cos(a),
                      cy + (r + 3.5 + r * 0.5) * std::sin(a));
    }
    cairo_stroke(cr);
    cairo_pattern_t *g =
        cairo_pattern_create_radial(cx - r * 0.3, cy - r * 0.3, r * 0.1, cx, cy, r);
    cairo_pattern_add_color_stop_rgba(g, 0, 1.0, 0.93, 0.55, alpha);
    cairo_pattern_add_color_stop_rgba(g, 1, 1.0, 0.69, 0.0, alpha);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    cairo_set_source(cr, g);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
}

void moon(cairo_t *cr, double cx, double cy, double r) {
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    cairo_new_sub_path(cr);
    cairo_arc_negative(cr, cx + r * 0.55, cy - r * 0.35, r * 0.85, 2 * M_PI, 0);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_clip(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    fillVertical(cr, cy - r, cy + r, rgb(0xFFF6CF), rgb(MOON));
    cairo_restore(cr);
}

void star(cairo_t *cr, double cx, double cy, double r) {
    setColor(cr, rgb(0xFFF6CF));
    cairo_move_to(cr, cx, cy - r);
    cairo_curve_to(cr, cx, cy, cx, cy, cx + r, cy);
    cairo_curve_to(cr, cx, cy, cx, cy, cx, cy + r);
    cairo_curve_to(cr, cx, cy, cx, cy, cx - r, cy);
    cairo_curve_to(cr, cx, cy, cx, cy, cx, cy - r);
    cairo_fill(cr);
}

// A cloud of width about 2.9 * r with its flat base at y = by.
void cloud(cairo_t *cr, double cx, double by, double r, CloudTone tone) {
    auto shape = [&]() {
        cairo_new_path(cr);
        cairo_arc(cr, cx - r * 0.85, by - r * 0.55, r * 0.55, M_PI / 2, 3 * M_PI / 2);
        cairo_arc(cr, cx - r * 0.2, by - r * 0.95, r * 0.72, M_PI * 1.05, M_PI * 1.9);
        cairo_arc(cr, cx + r * 0.72, by - r * 0.62, r * 0.62, M_PI * 1.4, M_PI * 2.5);
        cairo_close_path(cr);
    };
    Rgba top = rgb(0xFFFFFF);
    Rgba bottom = rgb(0xD6DEE8);
    if (tone == CLOUD_GREY) {
        top = rgb(0xDCE3EC);
        bottom = rgb(0xA9B5C4);
    } else if (tone == CLOUD_DARK) {
        top = rgb(0x9AA7B8);
        bottom = rgb(0x66748A);
    }
    shape();
    fillVertical(cr, by - r * 1.7, by, top, bottom, true);
    setColor(cr, rgb(0x0B1A2C, 0.35));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void drops(cairo_t *cr, double x0, double y0, int count, double spacing, double len, double width,
           uint32_t color = RAIN) {
    setColor(cr, rgb(color));
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 0; i < count; i++) {
        double x = x0 + i * spacing;
        double y = y0 + (i % 2) * len * 0.45;
        cairo_move_to(cr, x, y);
        cairo_line_to(cr, x - len * 0.35, y + len);
    }
    cairo_stroke(cr);
}

void flake(cairo_t *cr, double cx, double cy, double r) {
    setColor(cr, rgb(0xFFFFFF));
    cairo_set_line_width(cr, std::fmax(1.3, r * 0.32));
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 0; i < 3; i++) {
        double a = i * M_PI / 3 + M_PI / 2;
        cairo_move_to(cr, cx - r * std::cos(a), cy - r * std::sin(a));
        cairo_line_to(cr, cx + r * std::cos(a), cy + r * std::sin(a));
    }
    cairo_stroke(cr);
}

void pellets(cairo_t *cr, double x0, double y0, int count, double spacing) {
    setColor(cr, rgb(0xE8F4FF));
    for (int i = 0; i < count; i++) {
        cairo_arc(cr, x0 + i * spacing, y0 + (i % 2) * 5, 2.1, 0, 2 * M_PI);
        cairo_fill(cr);
    }
}

void bolt(cairo_t *cr, double x, double y, double s) {
    cairo_move_to(cr, x + 6 * s, y);
    cairo_line_to(cr, x, y + 11 * s);
    cairo_line_to(cr, x + 5 * s, y + 11 * s);
    cairo_line_to(cr, x + 2 * s, y + 20 * s);
    cairo_line_to(cr, x + 11 * s, y + 7.5 * s);
    cairo_line_to(cr, x + 6 * s, y + 7.5 * s);
    cairo_line_to(cr, x + 9 * s, y);
    cairo_close_path(cr);
    setColor(cr, rgb(BOLT));
    cairo_fill_preserve(cr);
    setColor(cr, rgb(0xE08A00));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void lines(cairo_t *cr, double x0, double y0, int count, double gap, double len, uint32_t color,
           double alpha) {
    setColor(cr, rgb(color, alpha));
    cairo_set_line_width(cr, 2.6);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 0; i < count; i++) {
        double indent = (i % 2) * 6;
        cairo_move_to(cr, x0 + indent, y0 + i * gap);
        cairo_line_to(cr, x0 + indent + len - (i % 2) * 8, y0 + i * gap);
    }
    cairo_stroke(cr);
}

void windLines(cairo_t *cr, double x0, double y0, double len, uint32_t color) {
    setColor(cr, rgb(color));
    cairo_set_line_width(cr, 2.6);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    double ys[3] = {y0, y0 + 9, y0 + 18};
    double ls[3] = {len, len * 0.8, len * 0.6};
    for (int i = 0; i < 3; i++) {
        double y = ys[i];
        double l = ls[i];
        cairo_move_to(cr, x0, y);
        cairo_line_to(cr, x0 + l, y);
        cairo_arc_negative(cr, x0 + l, y - 4, 4, M_PI / 2, -M_PI * 0.8);
        cairo_stroke(cr);
    }
}

void thermometer(cairo_t *cr, double x, double y) {
    roundedRect(cr, x, y, 9, 30, 4.5);
    setColor(cr, rgb(0xFFFFFF));
    cairo_fill(cr);
    cairo_arc(cr, x + 4.5, y + 33, 7, 0, 2 * M_PI);
    cairo_fill(cr);
    setColor(cr, rgb(COOL));
    cairo_arc(cr, x + 4.5, y + 33, 5, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_rectangle(cr, x + 2.7, y + 18, 3.6, 14);
    cairo_fill(cr);
}

// A chimney with a plume of smoke drifting up and away.
void smoke(cairo_t *cr) {
    double pts[6][3] = {{24, 34, 5}, {29, 26, 6.5}, {36, 19, 7.5},
                        {45, 14, 8}, {54, 12, 7},   {61, 13, 5}};
    for (int i = 5; i >= 0; i--) {
        cairo_arc(cr, pts[i][0], pts[i][1], pts[i][2], 0, 2 * M_PI);
        setColor(cr, rgb(i < 2 ? 0x8E99A8 : 0xB3BDCA, 0.95 - i * 0.08));
        cairo_fill(cr);
    }
    roundedRect(cr, 17, 38, 12, 16, 1.5);
    fillVertical(cr, 38, 54, rgb(0x8C5A46), rgb(0x6A4233));
    setColor(cr, rgb(0x5A372A));
    cairo_rectangle(cr, 15.5, 37, 15, 3);
    cairo_fill(cr);
}

using Scene = std::function<void(cairo_t *)>;

void iceScene(cairo_t *cr) {
    roundedRect(cr, 12, 14, 46, 6, 3);
    setColor(cr, rgb(0xE8F6FF));
    cairo_fill(cr);
    double tips[6][2] = {{16, 40}, {23, 33}, {30, 46}, {38, 36}, {45, 43}, {52, 31}};
    for (auto &t : tips) {
        cairo_move_to(cr, t[0] - 3.2, 19);
        cairo_line_to(cr, t[0] + 3.2, 19);
        cairo_line_to(cr, t[0], t[1]);
        cairo_close_path(cr);
    }
    fillVertical(cr, 19, 46, rgb(0xE8F6FF), rgb(ICE));
}

void humidScene(cairo_t *cr) {
    sun(cr, 46, 18, 8, 0.9);
    cairo_move_to(cr, 26, 10);
    cairo_curve_to(cr, 29, 18, 38, 26, 38, 36);
    cairo_arc(cr, 26, 36, 12, 0, M_PI);
    cairo_curve_to(cr, 14, 26, 23, 18, 26, 10);
    cairo_close_path(cr);
    fillVertical(cr, 10, 48, rgb(0x7CC4F5), rgb(WATER));
    TextStyle t;
    t.size = 13;
    drawText(cr, t, "%", 14, 28, 24, 16);
}

void unknownScene(cairo_t *cr) {
    cairo_new_path(cr);
    cairo_arc(cr, 35 - 16 * 0.85, 46 - 16 * 0.55, 16 * 0.55, M_PI / 2, 3 * M_PI / 2);
    cairo_arc(cr, 35 - 16 * 0.2, 46 - 16 * 0.95, 16 * 0.72, M_PI * 1.05, M_PI * 1.9);
    cairo_arc(cr, 35 + 16 * 0.72, 46 - 16 * 0.62, 16 * 0.62, M_PI * 1.4, M_PI * 2.5);
    cairo_close_path(cr);
    double dash[] = {3, 3};
    cairo_set_dash(cr, dash, 2, 0);
    setColor(cr, rgb(0x8FA2BA));
    cairo_set_line_width(cr, 1.8);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
    TextStyle t;
    t.size = 18;
    t.color = rgb(0xB9C7D8);
    drawText(cr, t, "?", 20, 20, 30, 24);
}

using Scenes = std::map<std::string, Scene>;

// The sky: sun, moon and clouds.
void addSkies(Scenes &table) {
    table.insert({
        {"sunny", [](cairo_t *cr) { sun(cr, 35, 28, 13); }},
        {"clear-day", [](cairo_t *cr) { sun(cr, 35, 28, 12); }},
        {"clear-night",
         [](cairo_t *cr) {
             moon(cr, 33, 28, 15);
             star(cr, 53, 14, 3.5);
             star(cr, 56, 34, 2.5);
             star(cr, 16, 12, 2.5);
         }},
        {"fair-day",
         [](cairo_t *cr) {
             sun(cr, 32, 24, 12);
             lines(cr, 26, 46, 1, 0, 28, 0xFFFFFF, 0.85);
         }},
        {"mostly-sunny",
         [](cairo_t *cr) {
             sun(cr, 29, 24, 12);
             cloud(cr, 47, 50, 10, CLOUD_LIGHT);
         }},
        {"partly-cloudy",
         [](cairo_t *cr) {
             sun(cr, 26, 20, 11);
             cloud(cr, 40, 50, 15, CLOUD_LIGHT);
         }},
        {"mostly-cloudy",
         [](cairo_t *cr) {
             sun(cr, 22, 17, 9);
             cloud(cr, 38, 50, 18, CLOUD_LIGHT);
         }},
        {"mostly-clear-night",
         [](cairo_t *cr) {
             moon(cr, 28, 24, 13);
             star(cr, 52, 12, 3);
             cloud(cr, 48, 50, 9, CLOUD_GREY);
         }},
        {"partly-cloudy-night",
         [](cairo_t *cr) {
             moon(cr, 26, 21, 12);
             star(cr, 52, 10, 3);
             cloud(cr, 40, 50, 15, CLOUD_GREY);
         }},
        {"mostly-cloudy-night",
         [](cairo_t *cr) {
             moon(cr, 22, 18, 10);
             cloud(cr, 38, 50, 18, CLOUD_GREY);
         }},
        {"cloudy",
         [](cairo_t *cr) {
             cloud(cr, 44, 38, 12, CLOUD_GREY);
             cloud(cr, 31, 50, 16, CLOUD_LIGHT);
         }},
    });
}

// Rain, sleet and freezing rain.
void addRain(Scenes &table) {
    table.insert({
        {"rain",
         [](cairo_t *cr) {
             cloud(cr, 35, 34, 16, CLOUD_GREY);
             drops(cr, 25, 39, 5, 6, 9, 2.4);
         }},
        {"drizzle",
         [](cairo_t *cr) {
             cloud(cr, 35, 34, 16, CLOUD_LIGHT);
             drops(cr, 25, 40, 5, 6, 4, 2.2);
         }},
        {"rain-showers",
         [](cairo_t *cr) {
             sun(cr, 24, 17, 9);
             cloud(cr, 38, 36, 15, CLOUD_GREY);
             drops(cr, 30, 41, 4, 6, 8, 2.4);
         }},
        {"thunderstorm",
         [](cairo_t *cr) {
             cloud(cr, 35, 33, 17, CLOUD_DARK);
             drops(cr, 22, 39, 2, 6, 8, 2.2);
             drops(cr, 47, 39, 2, 6, 8, 2.2);
             bolt(cr, 31, 30, 1.15);
         }},
        {"rain-snow",
         [](cairo_t *cr) {
             cloud(cr, 35, 33, 16, CLOUD_GREY);
             drops(cr, 25, 39, 2, 20, 8, 2.4);
             flake(cr, 35, 45, 3.4);
             flake(cr, 55, 45, 3.4);
         }},
        {"sleet",
         [](cairo_t *cr) {
             cloud(cr, 35, 33, 16, CLOUD_GREY);
             drops(cr, 24, 39, 3, 12, 7, 2.2);
             pellets(cr, 30, 43, 3, 12);
         }},
        {"freezing-drizzle",
         [](cairo_t *cr) {
             cloud(cr, 35, 33, 16, CLOUD_LIGHT);
             drops(cr, 23, 40, 3, 7, 4, 2.2, ICE);
             flake(cr, 48, 45, 3.4);
         }},
        {"freezing-rain",
         [](cairo_t *cr) {
             cloud(cr, 35, 33, 16, CLOUD_GREY);
             drops(cr, 22, 39, 3, 7, 9, 2.4, ICE);
             flake(cr, 49, 45, 3.6);
         }},
    });
}

// Snow.
void addSnow(Scenes &table) {
    table.insert({
        {"snow",
         [](cairo_t *cr) {
             cloud(cr, 35, 33, 16, CLOUD_GREY);
             flake(cr, 24, 42, 3.6);
             flake(cr, 35, 48, 3.6);
             flake(cr, 46, 42, 3.6);
         }},
        {"flurries",
         [](cairo_t *cr) {
             cloud(cr, 35, 33, 15, CLOUD_LIGHT);
             flake(cr, 29, 44, 3.2);
             flake(cr, 42, 47, 3.2);
         }},
        {"snow-showers",
         [](cairo_t *cr) {
             sun(cr, 24, 17, 9);
             cloud(cr, 38, 36, 15, CLOUD_GREY);
             flake(cr, 30, 46, 3.2);
             flake(cr, 42, 49, 3.2);
         }},
        {"blizzard",
         [](cairo_t *cr) {
             cloud(cr, 35, 30, 16, CLOUD_DARK);
             flake(cr, 20, 38, 3.2);
             flake(cr, 31, 44, 3.2);
             flake(cr, 43, 38, 3.2);
             flake(cr, 53, 45, 3.2);
             windLines(cr, 12, 50, 30, 0xDCE6F2);
         }},
        {"blowing-snow",
         [](cairo_t *cr) {
             windLines(cr, 8, 16, 40, 0xDCE6F2);
             flake(cr, 52, 38, 3.6);
             flake(cr, 40, 47, 3.2);
             flake(cr, 58, 50, 2.8);
         }},
    });
}

// Ice, cold, the air and the unknown.
void addOthers(Scenes &table) {
    table.insert({
        {"ice", iceScene},
        {"very-cold",
         [](cairo_t *cr) {
             thermometer(cr, 20, 8);
             cairo_save(cr);
             cairo_translate(cr, 34, 14);
             cairo_scale(cr, 1.05, 1.05);
             flake(cr, 12, 12, 9);
             cairo_restore(cr);
         }},
        {"fog",
         [](cairo_t *cr) {
             cloud(cr, 35, 30, 14, CLOUD_GREY);
             lines(cr, 13, 37, 3, 6.5, 44, 0xC9D3DE, 1.0);
         }},
        {"haze",
         [](cairo_t *cr) {
             sun(cr, 35, 22, 11, 0.8);
             lines(cr, 13, 38, 3, 6.5, 44, 0xD9C9A6, 0.9);
         }},
        {"smoke", smoke},
        {"dust",
         [](cairo_t *cr) {
             windLines(cr, 10, 16, 40, 0xD8B48A);
             setColor(cr, rgb(0xD8B48A));
             double pts[6][2] = {{46, 42}, {52, 47}, {38, 48}, {57, 38}, {30, 44}, {44, 52}};
             for (auto &p : pts) {
                 cairo_arc(cr, p[0], p[1], 1.8, 0, 2 * M_PI);
                 cairo_fill(cr);
             }
         }},
        {"windy", [](cairo_t *cr) { windLines(cr, 10, 18, 46, 0xDCE6F2); }},
        {"humid", humidScene},
        {"unknown", unknownScene},
    });
}

const Scenes &scenes() {
    static const Scenes table = [] {
        Scenes all;
        addSkies(all);
        addRain(all);
        addSnow(all);
        addOthers(all);
        return all;
    }();
    return table;
}

} // namespace

bool drawWeather(cairo_t *cr, const std::string &scene, double x, double y, double w, double h) {
    auto it = scenes().find(scene);
    if (it == scenes().end()) {
        return false;
    }
    double s = std::fmin(w / 70.0, h / 56.0);
    cairo_save(cr);
    cairo_translate(cr, x + (w - 70 * s) / 2, y + (h - 56 * s) / 2);
    cairo_scale(cr, s, s);
    it->second(cr);
    cairo_restore(cr);
    return true;
}
