// Drawing recipes of the image list.
//
// Every page shares one structure: a slate bar for the day bar at the top
// (0-22), a light band for the clock and date texts (dark grey, at y = 30),
// and below it either a light card (main page) or a dark panel (menus,
// weather, messages; white and green texts). Buttons are slate when off and
// green when on, matching the green highlight of the menu texts.
#include "recipes.h"

#include "host/paint.h"
#include "icons.h"
#include "weather.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

using namespace palette;

constexpr int W = 240;
constexpr int H = 320;
constexpr double BAR_H = 22;
// Column edges of the day bar: the x positions of the seven day images.
constexpr double c_DayEdges[8] = {0, 34, 69, 103, 138, 173, 207, 240};
constexpr const char *c_DayNames[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};

typedef bool (*Recipe)(cairo_t *cr, const AssetSpec &asset, std::string *error);

bool parseColor(const std::string &text, Rgba *out) {
    char *end = nullptr;
    unsigned long v = strtoul(text.c_str(), &end, 16);
    if (text.size() != 6 || *end != '\0') {
        return false;
    }
    *out = rgb(static_cast<uint32_t>(v));
    return true;
}

double luminance(const Rgba &c) {
    return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
}

std::vector<std::string> wrap(cairo_t *cr, const std::string &text, double width) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string word;
    std::string line;
    while (in >> word) {
        std::string candidate = line.empty() ? word : line + " " + word;
        if (!line.empty() && textWidth(cr, candidate) > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = candidate;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

// ---- Shared chrome ----------------------------------------------------------------------------

void barStrip(cairo_t *cr, double y, double h) {
    cairo_rectangle(cr, 0, y, W, h);
    fillVertical(cr, y, y + h, rgb(BAR_TOP), rgb(BAR_BOTTOM));
    cairo_rectangle(cr, 0, y + h - 1, W, 1);
    setColor(cr, rgb(SLATE_EDGE));
    cairo_fill(cr);
}

void dayBar(cairo_t *cr) {
    barStrip(cr, 0, BAR_H);
    for (int i = 0; i < 7; i++) {
        double x0 = c_DayEdges[i];
        double x1 = c_DayEdges[i + 1];
        if (i > 0) {
            cairo_rectangle(cr, x0 - 1, 3, 1, BAR_H - 6);
            setColor(cr, rgb(0x172334));
            cairo_fill(cr);
            cairo_rectangle(cr, x0, 3, 1, BAR_H - 6);
            setColor(cr, rgb(0xFFFFFF, 0.08));
            cairo_fill(cr);
        }
        TextStyle t;
        t.size = 10;
        t.color = rgb(0x9FADBF);
        drawText(cr, t, c_DayNames[i], x0, 0, x1 - x0, BAR_H);
    }
}

// The light band under the bar that carries the clock and the date.
void clockBand(cairo_t *cr, double bottom) {
    cairo_rectangle(cr, 0, BAR_H, W, bottom - BAR_H);
    fillVertical(cr, BAR_H, bottom, rgb(LIGHT_TOP), rgb(0xE9EEF3));
    cairo_rectangle(cr, 0, bottom - 1, W, 1);
    setColor(cr, rgb(0xC9D2DC));
    cairo_fill(cr);
}

void darkArea(cairo_t *cr, double top, uint32_t from, uint32_t to) {
    cairo_rectangle(cr, 0, top, W, H - top);
    fillVertical(cr, top, H, rgb(from), rgb(to));
    // A faint light fall-off from the top edge.
    cairo_pattern_t *g = cairo_pattern_create_radial(W / 2.0, top - 40, 10, W / 2.0, top - 40, 260);
    cairo_pattern_add_color_stop_rgba(g, 0, 1, 1, 1, 0.07);
    cairo_pattern_add_color_stop_rgba(g, 1, 1, 1, 1, 0);
    cairo_rectangle(cr, 0, top, W, H - top);
    cairo_set_source(cr, g);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
}

void card(cairo_t *cr, double x, double y, double w, double h) {
    softShadow(cr, x, y, w, h, 9, 4, 0.18);
    roundedRect(cr, x, y, w, h, 9);
    fillVertical(cr, y, y + h, rgb(CARD), rgb(0xF7F9FB), true);
    setColor(cr, rgb(CARD_EDGE));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void hairline(cairo_t *cr, double x0, double x1, double y, const Rgba &c) {
    cairo_rectangle(cr, x0, y, x1 - x0, 1);
    setColor(cr, c);
    cairo_fill(cr);
}

void subtleBox(cairo_t *cr, double x, double y, double w, double h) {
    roundedRect(cr, x + 0.5, y + 0.5, w - 1, h - 1, 7);
    setColor(cr, rgb(0xFFFFFF, 0.06));
    cairo_fill_preserve(cr);
    setColor(cr, rgb(0xFFFFFF, 0.11));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

// ---- Backgrounds --------------------------------------------------------------------------------

void mainBackground(cairo_t *cr, double cardTop, double divider, double cardBottom, double stripTop,
                    bool weather) {
    cairo_rectangle(cr, 0, 0, W, H);
    fillVertical(cr, 0, H, rgb(LIGHT_TOP), rgb(LIGHT_BOTTOM));
    barStrip(cr, 0, BAR_H);
    card(cr, 3, cardTop, W - 6, cardBottom - cardTop);
    hairline(cr, 14, W - 14, divider, rgb(0xE3E8EE));
    double stripBottom = weather ? 227 : H;
    cairo_rectangle(cr, 0, stripTop, W, stripBottom - stripTop);
    setColor(cr, rgb(PANEL));
    cairo_fill(cr);
    if (weather) {
        darkArea(cr, 227, NAVY_TOP, NAVY_BOTTOM);
        hairline(cr, 0, W, 227, rgb(0xFFFFFF, 0.14));
        hairline(cr, 84, W - 6, 280, rgb(0xFFFFFF, 0.10));
    }
}

void pinstripes(cairo_t *cr) {
    cairo_rectangle(cr, 0, 0, W, H);
    fillVertical(cr, 0, H, rgb(0xF2F5F8), rgb(0xE2E8EE));
    for (int x = 1; x < W; x += 4) {
        cairo_rectangle(cr, x, BAR_H, 1, H - BAR_H);
        setColor(cr, rgb(0x8094AC, 0.07));
        cairo_fill(cr);
        cairo_rectangle(cr, x + 1, BAR_H, 1, H - BAR_H);
        setColor(cr, rgb(0xFFFFFF, 0.45));
        cairo_fill(cr);
    }
    barStrip(cr, 0, BAR_H);
}

void darkPage(cairo_t *cr) {
    barStrip(cr, 0, BAR_H);
    clockBand(cr, 50);
    darkArea(cr, 50, 0x223650, 0x0F1B2B);
}

void messageBackground(cairo_t *cr) {
    dayBar(cr);
    clockBand(cr, 52);
    darkArea(cr, 52, 0x223650, 0x0F1B2B);
    softShadow(cr, 10, 58, 220, 254, 10, 3, 0.35);
    roundedRect(cr, 10, 58, 220, 254, 10);
    fillVertical(cr, 58, 312, rgb(0x24384F), rgb(0x1A2A3D), true);
    setColor(cr, rgb(PANEL_EDGE));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    drawIcon(cr, "envelope", 22, 62, 18, 18);
    TextStyle t;
    t.size = 12;
    t.color = rgb(LABEL);
    t.align = ALIGN_LEFT;
    drawText(cr, t, "MESSAGE", 44, 62, 150, 18);
    hairline(cr, 22, 218, 82, rgb(0xFFFFFF, 0.12));
}

void weatherDetail(cairo_t *cr) {
    darkArea(cr, 0, NAVY_TOP, NAVY_BOTTOM);
    barStrip(cr, 0, BAR_H);
    hairline(cr, 10, W - 10, 126, rgb(0xFFFFFF, 0.12));
    subtleBox(cr, 8, 156, 224, 62);
    subtleBox(cr, 8, 220, 224, 30);
    subtleBox(cr, 4, 268, 76, 48);
    subtleBox(cr, 82, 268, 74, 48);
    subtleBox(cr, 158, 268, 78, 48);
    TextStyle t;
    t.size = 10;
    t.color = rgb(LABEL, 0.8);
    t.align = ALIGN_LEFT;
    drawText(cr, t, "DETAILS", 10, 253, 80, 14);
}

void weatherFiveDay(cairo_t *cr) {
    darkArea(cr, 0, NAVY_TOP, NAVY_BOTTOM);
    cairo_rectangle(cr, 0, 0, W, 27);
    fillVertical(cr, 0, 27, rgb(0x2A4E7C), rgb(0x1B375C));
    hairline(cr, 0, W, 26, rgb(0x0A1626));
    TextStyle t;
    t.size = 14;
    t.shadow = true;
    drawText(cr, t, "5-Day Forecast", 0, 0, W, 27);
    double seps[4] = {87, 146, 205, 264};
    for (int i = 0; i < 4; i++) {
        hairline(cr, 6, W - 6, seps[i], rgb(0xFFFFFF, 0.11));
    }
    // Every other day a little lighter.
    cairo_rectangle(cr, 0, 88, W, 58);
    cairo_rectangle(cr, 0, 206, W, 58);
    setColor(cr, rgb(0xFFFFFF, 0.03));
    cairo_fill(cr);
}

void screensaver(cairo_t *cr) {
    cairo_pattern_t *g = cairo_pattern_create_radial(W / 2.0, H * 0.42, 10, W / 2.0, H * 0.42, 260);
    cairo_pattern_add_color_stop_rgb(g, 0, 0.09, 0.16, 0.26);
    cairo_pattern_add_color_stop_rgb(g, 1, 0.01, 0.03, 0.06);
    cairo_rectangle(cr, 0, 0, W, H);
    cairo_set_source(cr, g);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
}

void colorBars(cairo_t *cr) {
    static const uint32_t bars[7] = {0xC0C0C0, 0xC0C000, 0x00C0C0, 0x00C000,
                                     0xC000C0, 0xC00000, 0x0000C0};
    static const uint32_t reverse[7] = {0x0000C0, 0x131313, 0xC000C0, 0x131313,
                                        0x00C0C0, 0x131313, 0xC0C0C0};
    double bw = W / 7.0;
    for (int i = 0; i < 7; i++) {
        cairo_rectangle(cr, std::round(i * bw), 0, std::round((i + 1) * bw) - std::round(i * bw),
                        200);
        setColor(cr, rgb(bars[i]));
        cairo_fill(cr);
        cairo_rectangle(cr, std::round(i * bw), 200, std::round((i + 1) * bw) - std::round(i * bw),
                        24);
        setColor(cr, rgb(reverse[i]));
        cairo_fill(cr);
    }
    // A grey ramp in 16 steps, then full white, black and the primaries.
    for (int i = 0; i < 16; i++) {
        double v = i / 15.0;
        cairo_rectangle(cr, i * 15, 224, 15, 48);
        cairo_set_source_rgb(cr, v, v, v);
        cairo_fill(cr);
    }
    static const uint32_t last[6] = {0xFFFFFF, 0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0x000000};
    for (int i = 0; i < 6; i++) {
        cairo_rectangle(cr, i * 40, 272, 40, 48);
        setColor(cr, rgb(last[i]));
        cairo_fill(cr);
    }
}

void diagnosticOverlay(cairo_t *cr) {
    // An amber frame round the screen, and a tag between the clock and the date.
    setColor(cr, rgb(AMBER));
    cairo_set_line_width(cr, 3);
    cairo_rectangle(cr, 1.5, 1.5, W - 3, H - 3);
    cairo_stroke(cr);
    roundedRect(cr, 100, 27, 66, 17, 8.5);
    setColor(cr, rgb(AMBER));
    cairo_fill(cr);
    TextStyle t;
    t.size = 9;
    t.color = rgb(0x2A1E00);
    drawText(cr, t, "DIAGNOSTIC", 100, 27, 66, 17);
}

void helpCard(cairo_t *cr) {
    softShadow(cr, 8, 50, 224, 262, 10, 4, 0.22);
    roundedRect(cr, 8, 50, 224, 262, 10);
    setColor(cr, rgb(CARD));
    cairo_fill_preserve(cr);
    setColor(cr, rgb(CARD_EDGE));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    roundedRect(cr, 8.5, 50.5, 223, 32, 10, CORNER_TOP);
    fillVertical(cr, 50, 82, rgb(0xEAF4EC), rgb(0xDDEFE1));
    hairline(cr, 9, 231, 82, rgb(GREEN_BOTTOM, 0.8));
}

bool background(cairo_t *cr, const AssetSpec &asset, std::string *error) {
    std::string style = asset.param("style");
    if (style == "main-weather") {
        mainBackground(cr, 48, 167, 199, 199, true);
    } else if (style == "main-noweather") {
        mainBackground(cr, 70, 262, 293, 293, false);
    } else if (style == "pinstripes") {
        pinstripes(cr);
    } else if (style == "setup" || style == "program") {
        darkPage(cr);
    } else if (style == "message") {
        messageBackground(cr);
    } else if (style == "weather-detail") {
        weatherDetail(cr);
    } else if (style == "weather-fiveday") {
        weatherFiveDay(cr);
    } else if (style == "screensaver") {
        screensaver(cr);
    } else if (style == "colorbars") {
        colorBars(cr);
    } else if (style == "diagnostic") {
        diagnosticOverlay(cr);
    } else if (style == "help-card") {
        helpCard(cr);
    } else {
        *error = "unknown background style \"" + style + "\"";
        return false;
    }
    return true;
}

// ---- Day bar ------------------------------------------------------------------------------------

bool daybar(cairo_t *cr, const AssetSpec &, std::string *) {
    dayBar(cr);
    return true;
}

bool dayTile(cairo_t *cr, const AssetSpec &asset, std::string *) {
    double w = asset.width;
    cairo_rectangle(cr, 0, 0, w, BAR_H);
    fillVertical(cr, 0, BAR_H, rgb(GREEN_TOP), rgb(GREEN_BOTTOM));
    hairline(cr, 0, w, 0, rgb(0xFFFFFF, 0.35));
    hairline(cr, 0, w, BAR_H - 1, rgb(GREEN_EDGE));
    TextStyle t;
    t.size = 10.5;
    t.shadow = true;
    drawText(cr, t, asset.param("text"), 0, 0, w, BAR_H);
    return true;
}

// ---- Buttons, rows and panels -------------------------------------------------------------------

// The part of an image that its face or text takes: pad_left and pad_right
// keep an image that lies at a screen edge clear of it.
struct Span {
    double x;
    double w;
};

Span spanOf(const AssetSpec &asset) {
    double left = asset.number("pad_left", 0);
    double right = asset.number("pad_right", 0);
    return Span{left, asset.width - left - right};
}

// state=on (the highlight) or off.
bool button(cairo_t *cr, const AssetSpec &asset, std::string *) {
    bool on = asset.param("state") == "on";
    Span span = spanOf(asset);
    double h = asset.height;
    double r = std::fmin(7, h / 4);
    buttonFace(cr, span.x + 1.5, 1.5, span.w - 3, h - 3, r, on);
    std::string text = asset.param("text");
    if (!text.empty()) {
        TextStyle t;
        t.size = h >= 36 ? 16 : 14;
        t.color = rgb(on ? 0xFFFFFF : OFF_TEXT);
        t.shadow = true;
        drawText(cr, t, text, span.x, 0, span.w, h);
    }
    return true;
}

// The foot of a main-page pop-up, on the button it opened from: a rule
// under the choices, and the panel showing through round the title that
// lies on it, so that the title never reads as one more choice.
bool caption(cairo_t *cr, const AssetSpec &asset, std::string *) {
    Span span = spanOf(asset);
    hairline(cr, span.x + 4, span.x + span.w - 4, 1, rgb(0xFFFFFF, 0.16));
    return true;
}

bool row(cairo_t *cr, const AssetSpec &asset, std::string *) {
    bool on = asset.param("state") == "on";
    std::string corners = asset.param("corners", "all");
    unsigned mask = corners == "top"      ? static_cast<unsigned>(CORNER_TOP)
                    : corners == "bottom" ? static_cast<unsigned>(CORNER_BOTTOM)
                    : corners == "none"   ? static_cast<unsigned>(CORNER_NONE)
                                          : static_cast<unsigned>(CORNER_ALL);
    double w = asset.width;
    double h = asset.height;
    // Rows of a group touch each other: only the group's outer edges are inset.
    double top = (mask & CORNER_TOP) ? 1.5 : 0.5;
    double bottom = (mask & CORNER_BOTTOM) ? 1.5 : 0.5;
    buttonFace(cr, 1.5, top, w - 3, h - top - bottom, 8, on, mask);
    std::string check = asset.param("check", "none");
    if (check != "none") {
        double size = h * 0.6;
        double bx = asset.param("checkside", "right") == "left" ? 12 : w - size - 12;
        double by = (h - size) / 2;
        roundedRect(cr, bx, by, size, size, 3);
        setColor(cr, rgb(0xFFFFFF, on ? 1.0 : 0.92));
        cairo_fill_preserve(cr);
        setColor(cr, rgb(on ? GREEN_EDGE : SLATE_EDGE));
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        if (check == "yes") {
            setColor(cr, rgb(GREEN_BOTTOM));
            cairo_set_line_width(cr, 2.6);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
            cairo_move_to(cr, bx + size * 0.22, by + size * 0.52);
            cairo_line_to(cr, bx + size * 0.43, by + size * 0.74);
            cairo_line_to(cr, bx + size * 0.80, by + size * 0.28);
            cairo_stroke(cr);
        }
    }
    return true;
}

// A pop-up's panel with its title on top.
bool panel(cairo_t *cr, const AssetSpec &asset, std::string *) {
    double w = asset.width;
    double h = asset.height;
    roundedRect(cr, 1, 1, w - 2, h - 2, 9);
    fillVertical(cr, 1, h - 1, rgb(0x24384F), rgb(PANEL), true);
    setColor(cr, rgb(PANEL_EDGE));
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    TextStyle t;
    t.size = 13;
    t.shadow = true;
    drawText(cr, t, asset.param("title"), 0, 2, w, 26);
    hairline(cr, 8, w - 8, 28, rgb(0xFFFFFF, 0.16));
    return true;
}

// Full-screen pop-up background: the page dims, a panel frames the pop-up.
bool popup(cairo_t *cr, const AssetSpec &asset, std::string *error) {
    double x0, y0, x1, y1;
    if (sscanf(asset.param("panel").c_str(), "%lf,%lf,%lf,%lf", &x0, &y0, &x1, &y1) != 4) {
        *error = "popup needs panel=X0,Y0,X1,Y1";
        return false;
    }
    cairo_rectangle(cr, 0, 0, W, H);
    setColor(cr, rgb(0x060C14, 0.55));
    cairo_fill(cr);
    softShadow(cr, x0, y0, x1 - x0, y1 - y0, 8, 5, 0.5);
    roundedRect(cr, x0, y0, x1 - x0, y1 - y0, 8);
    fillVertical(cr, y0, y1, rgb(0x2A3F59), rgb(PANEL), true);
    setColor(cr, rgb(PANEL_EDGE));
    cairo_set_line_width(cr, 1.5);
    cairo_stroke(cr);
    return true;
}

// A veil over a whole page, under a pop-up that is not full-screen.
bool shade(cairo_t *cr, const AssetSpec &asset, std::string *) {
    cairo_rectangle(cr, 0, 0, asset.width, asset.height);
    setColor(cr, rgb(0x060C14, 0.45));
    cairo_fill(cr);
    return true;
}

bool pill(cairo_t *cr, const AssetSpec &asset, std::string *) {
    double w = asset.width;
    double h = asset.height;
    roundedRect(cr, 0.5, 1.5, w - 1, h - 3, h / 2);
    setColor(cr, rgb(0x101A28, 0.78));
    cairo_fill_preserve(cr);
    setColor(cr, rgb(0xFFFFFF, 0.18));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    return true;
}

// The outline of a group of values, or of one value, on a dark page, in the
// three looks of every page: state=off, faint; state=current (the item the
// keys act on), a filled green bar like a lit button; state=edit (a value
// the keys are changing), a green edge round a faint green tint, so that the
// value's green text inside stays readable. heat_x and cool_x put a small
// flame and snowflake before the set-point columns.
bool frame(cairo_t *cr, const AssetSpec &asset, std::string *) {
    std::string state = asset.param("state", "off");
    double w = asset.width;
    double h = asset.height;
    if (state == "edit") {
        roundedRect(cr, 1, 1, w - 2, h - 2, 7);
        setColor(cr, rgb(GREEN_TOP, 0.12));
        cairo_fill_preserve(cr);
        setColor(cr, rgb(GREEN_TOP));
        cairo_set_line_width(cr, 1.6);
        cairo_stroke(cr);
        return true;
    }
    if (state == "current") {
        buttonFace(cr, 0.5, 0.5, w - 1, h - 1, 7, true);
    } else {
        roundedRect(cr, 0.5, 0.5, w - 1, h - 1, 7);
        setColor(cr, rgb(0xFFFFFF, 0.05));
        cairo_fill_preserve(cr);
        setColor(cr, rgb(0xFFFFFF, 0.12));
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    double size = 12;
    double heatX = asset.number("heat_x", -1);
    double coolX = asset.number("cool_x", -1);
    if (heatX >= 0) {
        drawIcon(cr, "heat", heatX, (h - size) / 2, size, size);
    }
    if (coolX >= 0) {
        drawIcon(cr, "cool", coolX, (h - size) / 2, size, size);
    }
    return true;
}

bool header(cairo_t *cr, const AssetSpec &asset, std::string *) {
    double w = asset.width;
    double h = asset.height;
    cairo_rectangle(cr, 0, 0, w, h);
    fillVertical(cr, 0, h, rgb(SLATE_TOP), rgb(SLATE_BOTTOM));
    hairline(cr, 0, w, 0, rgb(0xFFFFFF, 0.18));
    cairo_rectangle(cr, 0, h - 2, w, 2);
    setColor(cr, rgb(GREEN_TOP));
    cairo_fill(cr);
    return true;
}

// ---- Texts --------------------------------------------------------------------------------------

// One line of text with an icon before it or a note after it (either may be
// empty), aligned as a whole in the box from x of width w and height h.
void drawDecoratedLine(cairo_t *cr, const TextStyle &t, const std::string &text,
                       const std::string &icon, const std::string &note, double x, double w,
                       double h) {
    setFont(cr, t.bold, t.size);
    double cap = capHeight(cr);
    double tw = textWidth(cr, text);
    double iconSize = std::round(t.size * 0.95);
    double gap = 3;
    double lead = icon.empty() ? 0 : iconSize + gap;
    TextStyle n = t;
    n.size = std::round(t.size * 0.72);
    n.bold = false;
    n.color.a = 0.85;
    setFont(cr, n.bold, n.size);
    double nw = note.empty() ? 0 : gap + 2 + textWidth(cr, note);
    double total = lead + tw + nw;
    double left = x + t.indent;
    if (t.align == ALIGN_CENTER) {
        left = x + (w - total) / 2;
    } else if (t.align == ALIGN_RIGHT) {
        left = x + w - t.indent - total;
    }
    left = std::round(left);
    double baseline = std::round((h + cap) / 2);
    if (!icon.empty()) {
        drawIcon(cr, icon, left, baseline - cap / 2 - iconSize / 2, iconSize, iconSize);
    }
    drawTextAt(cr, t, text, left + lead, baseline);
    if (!note.empty()) {
        drawTextAt(cr, n, note, left + lead + tw + gap + 2, baseline);
    }
}

bool label(cairo_t *cr, const AssetSpec &asset, std::string *error) {
    TextStyle t;
    t.size = asset.number("size", 13);
    t.bold = asset.param("weight", "bold") != "regular";
    t.indent = asset.number("indent", 2);
    std::string align = asset.param("align", "center");
    t.align = align == "left" ? ALIGN_LEFT : align == "right" ? ALIGN_RIGHT : ALIGN_CENTER;
    std::string status = asset.param("status", "offline");
    std::string color = asset.param("color", status == "locked" ? "AEB8C4" : "FFFFFF");
    if (!parseColor(color, &t.color)) {
        *error = "bad colour \"" + color + "\"";
        return false;
    }
    t.shadow = luminance(t.color) > 0.7;
    // A button's status text keeps clear of the corner where its online light sits.
    constexpr double STATUS_LIGHT_ROOM = 12;
    Span span = spanOf(asset);
    double w = !asset.param("status").empty() && t.align == ALIGN_CENTER
                   ? span.w - STATUS_LIGHT_ROOM
                   : span.w;
    double h = asset.height;
    std::string text = asset.param("text");
    std::string icon = status == "locked" ? std::string("lock") : asset.param("icon");
    std::string note = asset.param("note");
    if (icon.empty() && note.empty()) {
        drawText(cr, t, text, span.x, 0, w, h);
    } else {
        drawDecoratedLine(cr, t, text, icon, note, span.x, w, h);
    }
    if (status == "online") {
        // The building controller is connected: a small green light.
        cairo_new_path(cr);
        cairo_arc(cr, asset.width - 7, 7, 2.6, 0, 2 * M_PI);
        setColor(cr, rgb(ONLINE));
        cairo_fill_preserve(cr);
        setColor(cr, rgb(0x1B6A2B, 0.9));
        cairo_set_line_width(cr, 0.8);
        cairo_stroke(cr);
    }
    return true;
}

void keyChip(cairo_t *cr, double x, double y, double w, double h, const std::string &text,
             bool arrows) {
    buttonFace(cr, x, y, w, h, 4, false);
    TextStyle t;
    t.size = 10;
    t.shadow = true;
    if (!arrows) {
        drawText(cr, t, text, x, y, w, h);
        return;
    }
    setColor(cr, rgb(0xFFFFFF));
    double cy = y + h / 2;
    double cx1 = x + w * 0.3;
    double cx2 = x + w * 0.7;
    cairo_move_to(cr, cx1, cy - 4);
    cairo_line_to(cr, cx1 + 5, cy + 3);
    cairo_line_to(cr, cx1 - 5, cy + 3);
    cairo_close_path(cr);
    cairo_move_to(cr, cx2, cy + 4);
    cairo_line_to(cr, cx2 + 5, cy - 3);
    cairo_line_to(cr, cx2 - 5, cy - 3);
    cairo_close_path(cr);
    cairo_fill(cr);
}

struct HelpEntry {
    const char *chip;
    bool arrows;
    const char *text;
};

// What each key does, per help page (page=main, program or away).
using HelpEntries = std::array<HelpEntry, 3>;
const HelpEntries c_MainHelp = {{
    {"", true, "Change the temperature until the next program period."},
    {"MODE", false, "Next page: the weather, then the thermostat menu."},
    {"MODE", false, "Held for 3 seconds: the hold, system and fan mode menus."},
}};
const HelpEntries c_ProgramHelp = {{
    {"", true, "Choose a period, or change the value being edited."},
    {"MODE", false, "Edit the period: heat, cool, then the time it starts."},
    {"MODE", false,
     "On Copy, Next Day or Done: copy this day to others, edit the next day, or save."},
}};
const HelpEntries c_AwayHelp = {{
    {"", true, "Choose a setting, or change the value being edited."},
    {"MODE", false, "Turn the vacation on or off, or edit the chosen setting."},
    {"MODE", false, "On Done: save. The program resumes when the vacation ends."},
}};

// The help page's text: what each key does.
bool helptext(cairo_t *cr, const AssetSpec &asset, std::string *error) {
    std::string page = asset.param("page", "main");
    const HelpEntries *entries = &c_MainHelp;
    if (page == "program") {
        entries = &c_ProgramHelp;
    } else if (page == "away") {
        entries = &c_AwayHelp;
    } else if (page != "main") {
        *error = "unknown help page \"" + page + "\"";
        return false;
    }
    double w = asset.width;
    double y = 4;
    TextStyle body;
    body.size = 12;
    body.bold = false;
    body.color = rgb(INK);
    body.align = ALIGN_LEFT;
    for (const HelpEntry &e : *entries) {
        keyChip(cr, 0, y, 48, 20, e.chip, e.arrows);
        setFont(cr, false, body.size);
        std::vector<std::string> lines = wrap(cr, e.text, w - 56);
        double baseline = y + 14;
        for (const std::string &line : lines) {
            drawTextAt(cr, body, line, 56, baseline);
            baseline += 15;
        }
        y = std::fmax(y + 26, baseline - 15 + 14);
    }
    hairline(cr, 0, w, y + 2, rgb(0xDCE3EA));
    TextStyle small = body;
    small.size = 10.5;
    small.color = rgb(MUTED);
    setFont(cr, false, small.size);
    double baseline = y + 18;
    const char *footer = page == "main" ? "Help Mode in Advanced Setup turns these hints off."
                                        : "MODE opens the page. Help Mode in Advanced Setup "
                                          "turns these hints off.";
    for (const std::string &line : wrap(cr, footer, w)) {
        drawTextAt(cr, small, line, 0, baseline);
        baseline += 13;
    }
    return true;
}

// ---- Icons and small composites -----------------------------------------------------------------

bool icon(cairo_t *cr, const AssetSpec &asset, std::string *error) {
    if (!drawIcon(cr, asset.param("name"), 0, 0, asset.width, asset.height)) {
        *error = "unknown icon \"" + asset.param("name") + "\"";
        return false;
    }
    return true;
}

bool badge(cairo_t *cr, const AssetSpec &asset, std::string *error) {
    double w = asset.width;
    double h = asset.height;
    std::string iconName = asset.param("icon");
    bool pill = asset.param("frame") == "pill";
    if (pill) {
        roundedRect(cr, 0.5, 0.5, w - 1, h - 1, h / 2);
        setColor(cr, rgb(0xE7F5EA));
        cairo_fill_preserve(cr);
        setColor(cr, rgb(0xA9D8B4));
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
    TextStyle t;
    t.size = pill ? 11 : 11.5;
    t.color = rgb(pill ? 0x2E8B3E : MUTED);
    setFont(cr, true, t.size);
    double cap = capHeight(cr);
    // The text's baseline: given, so that it lines up with a text item beside
    // the badge, or centred.
    double baseline = std::round(asset.number("baseline", (h + cap) / 2));
    double size = pill ? h - 4 : std::fmin(h, 14);
    double ix = pill ? 3 : 0;
    double iy = std::round(baseline - cap / 2 - size / 2);
    if (!drawIcon(cr, iconName, ix, iy, size, size)) {
        *error = "unknown icon \"" + iconName + "\"";
        return false;
    }
    drawTextAt(cr, t, asset.param("text"), ix + size + 4, baseline);
    return true;
}

// The tiles behind the set-point texts: cool on top, heat below.
bool setpoint(cairo_t *cr, const AssetSpec &asset, std::string *) {
    std::string mode = asset.param("mode");
    auto tile = [&](double y, uint32_t tint, uint32_t edge) {
        roundedRect(cr, 0.5, y + 0.5, 38, 30, 5, CORNER_TR | CORNER_BR);
        setColor(cr, rgb(tint));
        cairo_fill_preserve(cr);
        setColor(cr, rgb(edge, 0.55));
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        cairo_rectangle(cr, 0, y, 3, 31);
        setColor(cr, rgb(edge));
        cairo_fill(cr);
    };
    if (mode == "cool" || mode == "auto") {
        tile(1, 0xE6F1FF, COOL);
    }
    if (mode == "heat" || mode == "auto") {
        tile(33, 0xFFEAE7, HEAT);
    }
    return true;
}

bool weather(cairo_t *cr, const AssetSpec &asset, std::string *error) {
    if (!drawWeather(cr, asset.param("scene"), 0, 0, asset.width, asset.height)) {
        *error = "unknown weather scene \"" + asset.param("scene") + "\"";
        return false;
    }
    return true;
}

struct RecipeEntry {
    const char *name;
    Recipe draw;
};

const RecipeEntry c_Recipes[] = {
    {"background", background},
    {"daybar", daybar},
    {"day-tile", dayTile},
    {"button", button},
    {"caption", caption},
    {"row", row},
    {"panel", panel},
    {"popup", popup},
    {"pill", pill},
    {"header", header},
    {"label", label},
    {"helptext", helptext},
    {"icon", icon},
    {"badge", badge},
    {"setpoint", setpoint},
    {"weather", weather},
    {"shade", shade},
    {"frame", frame},
};

} // namespace

bool drawAsset(cairo_t *cr, const AssetSpec &asset, std::string *error) {
    for (const RecipeEntry &r : c_Recipes) {
        if (asset.recipe == r.name) {
            cairo_save(cr);
            bool ok = r.draw(cr, asset, error);
            cairo_restore(cr);
            return ok;
        }
    }
    *error = "unknown recipe \"" + asset.recipe + "\"";
    return false;
}
