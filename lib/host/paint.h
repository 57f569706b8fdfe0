// Painting helpers of the asset generator and the simulator's plot: the
// product's palette, shapes, gradients and text in the product's fonts
// (Liberation Sans through cairo and FreeType).
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>

struct Rgba {
    double r, g, b, a;
};

constexpr Rgba rgb(uint32_t hex, double alpha = 1.0) {
    return Rgba{((hex >> 16) & 0xFF) / 255.0, ((hex >> 8) & 0xFF) / 255.0, (hex & 0xFF) / 255.0,
                alpha};
}

// The palette: one visual language for every page.
namespace palette {
constexpr uint32_t INK = 0x3D3D3D;   // clock and date texts
constexpr uint32_t MUTED = 0x787878; // hold status text
constexpr uint32_t LIGHT_TOP = 0xF6F8FA;
constexpr uint32_t LIGHT_BOTTOM = 0xE1E7EE;
constexpr uint32_t CARD = 0xFFFFFF;
constexpr uint32_t CARD_EDGE = 0xD3DBE4;
constexpr uint32_t SLATE_TOP = 0x3D536F;
constexpr uint32_t SLATE_BOTTOM = 0x23344A;
constexpr uint32_t SLATE_EDGE = 0x152131;
constexpr uint32_t BAR_TOP = 0x34475F;
constexpr uint32_t BAR_BOTTOM = 0x1F2D3F;
constexpr uint32_t GREEN_TOP = 0x52C466;
constexpr uint32_t GREEN_BOTTOM = 0x2A9140;
constexpr uint32_t GREEN_EDGE = 0x1B6A2B;
constexpr uint32_t NAVY_TOP = 0x1F416A;
constexpr uint32_t NAVY_BOTTOM = 0x0C1D33;
constexpr uint32_t PANEL = 0x1A2738;
constexpr uint32_t PANEL_EDGE = 0x4A6284;
constexpr uint32_t LABEL = 0xB9C7D8; // small labels on dark panels
constexpr uint32_t OFF_TEXT = 0xC9D3DE;
constexpr uint32_t HEAT = 0xE0392B;
constexpr uint32_t FLAME = 0xFF9A2E;
constexpr uint32_t COOL = 0x1F7AE0;
constexpr uint32_t ICE = 0x8FD0FF;
constexpr uint32_t WATER = 0x2B8FD6;
constexpr uint32_t AMBER = 0xF2A900;
constexpr uint32_t ONLINE = 0x7CF08A;
constexpr uint32_t SUN = 0xFFC83A;
constexpr uint32_t SUN_CORE = 0xFFB000;
constexpr uint32_t MOON = 0xF3E6A8;
constexpr uint32_t RAIN = 0x5BB2FF;
constexpr uint32_t BOLT = 0xFFD43B;
} // namespace palette

void setColor(cairo_t *cr, const Rgba &c);

// Corners of a rounded rectangle.
enum Corners : unsigned {
    CORNER_NONE = 0,
    CORNER_TL = 1,
    CORNER_TR = 2,
    CORNER_BR = 4,
    CORNER_BL = 8,
    CORNER_TOP = CORNER_TL | CORNER_TR,
    CORNER_BOTTOM = CORNER_BL | CORNER_BR,
    CORNER_ALL = CORNER_TOP | CORNER_BOTTOM,
};

void roundedRect(cairo_t *cr, double x, double y, double w, double h, double r,
                 unsigned corners = CORNER_ALL);
// Fills the current path with a vertical gradient from y0 to y1.
void fillVertical(cairo_t *cr, double y0, double y1, const Rgba &top, const Rgba &bottom,
                  bool preserve = false);
// A soft drop shadow under a rounded rectangle.
void softShadow(cairo_t *cr, double x, double y, double w, double h, double r, double spread,
                double alpha);

// A raised button face: slate when off, green when on.
void buttonFace(cairo_t *cr, double x, double y, double w, double h, double r, bool on,
                unsigned corners = CORNER_ALL);

// ---- Text ---------------------------------------------------------------------------------------

// Loads Liberation Sans Regular and Bold (arial.ttf, arialbd.ttf) from a directory.
bool fontsLoad(const std::string &fontDir, std::string *error);
void fontsRelease();

enum Align { ALIGN_LEFT, ALIGN_CENTER, ALIGN_RIGHT };

struct TextStyle {
    double size = 13; // pixels
    bool bold = true;
    Rgba color = rgb(0xFFFFFF);
    Align align = ALIGN_CENTER;
    double indent = 2;   // distance from the aligned edge
    bool shadow = false; // a dark 1-pixel shadow under light text
};

void setFont(cairo_t *cr, bool bold, double size);
double textWidth(cairo_t *cr, const std::string &text);
// Height of a capital letter at the current font.
double capHeight(cairo_t *cr);
// Draws text in a box; '|' separates lines. The lines are centred vertically
// on their capital letters, so text looks centred in buttons and rows.
void drawText(cairo_t *cr, const TextStyle &style, const std::string &text, double x, double y,
              double w, double h);
// Draws one line with its baseline at y, starting at x. Returns the advance.
double drawTextAt(cairo_t *cr, const TextStyle &style, const std::string &text, double x, double y);
