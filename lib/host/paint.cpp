// Painting helpers: shapes, gradients, shadows and text.
#include "host/paint.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <sstream>
#include <vector>

namespace {

FT_Library m_FreeType = nullptr;
FT_Face m_RegularFace = nullptr;
FT_Face m_BoldFace = nullptr;
cairo_font_face_t *m_Regular = nullptr;
cairo_font_face_t *m_Bold = nullptr;

cairo_font_face_t *faceFor(FT_Library lib, const std::string &path, FT_Face *ft) {
    if (FT_New_Face(lib, path.c_str(), 0, ft) != 0) {
        return nullptr;
    }
    return cairo_ft_font_face_create_for_ft_face(*ft, 0);
}

std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line, '|')) {
        lines.push_back(line);
    }
    if (lines.empty()) {
        lines.emplace_back();
    }
    return lines;
}

} // namespace

void setColor(cairo_t *cr, const Rgba &c) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

void roundedRect(cairo_t *cr, double x, double y, double w, double h, double r, unsigned corners) {
    r = std::fmin(r, std::fmin(w, h) / 2);
    double tl = (corners & CORNER_TL) ? r : 0;
    double tr = (corners & CORNER_TR) ? r : 0;
    double br = (corners & CORNER_BR) ? r : 0;
    double bl = (corners & CORNER_BL) ? r : 0;
    cairo_new_sub_path(cr);
    cairo_move_to(cr, x + tl, y);
    cairo_line_to(cr, x + w - tr, y);
    if (tr > 0) {
        cairo_arc(cr, x + w - tr, y + tr, tr, -M_PI / 2, 0);
    }
    cairo_line_to(cr, x + w, y + h - br);
    if (br > 0) {
        cairo_arc(cr, x + w - br, y + h - br, br, 0, M_PI / 2);
    }
    cairo_line_to(cr, x + bl, y + h);
    if (bl > 0) {
        cairo_arc(cr, x + bl, y + h - bl, bl, M_PI / 2, M_PI);
    }
    cairo_line_to(cr, x, y + tl);
    if (tl > 0) {
        cairo_arc(cr, x + tl, y + tl, tl, M_PI, 3 * M_PI / 2);
    }
    cairo_close_path(cr);
}

void fillVertical(cairo_t *cr, double y0, double y1, const Rgba &top, const Rgba &bottom,
                  bool preserve) {
    cairo_pattern_t *g = cairo_pattern_create_linear(0, y0, 0, y1);
    cairo_pattern_add_color_stop_rgba(g, 0, top.r, top.g, top.b, top.a);
    cairo_pattern_add_color_stop_rgba(g, 1, bottom.r, bottom.g, bottom.b, bottom.a);
    cairo_set_source(cr, g);
    if (preserve) {
        cairo_fill_preserve(cr);
    } else {
        cairo_fill(cr);
    }
    cairo_pattern_destroy(g);
}

void softShadow(cairo_t *cr, double x, double y, double w, double h, double r, double spread,
                double alpha) {
    // Concentric outlines of falling alpha approximate a blur.
    int steps = static_cast<int>(std::ceil(spread));
    for (int i = steps; i >= 1; i--) {
        double a = alpha * (1.0 - static_cast<double>(i) / (steps + 1)) / steps * 2.2;
        roundedRect(cr, x - i, y - i + 1.5, w + 2 * i, h + 2 * i, r + i);
        setColor(cr, Rgba{0.04, 0.07, 0.11, a});
        cairo_fill(cr);
    }
}

void buttonFace(cairo_t *cr, double x, double y, double w, double h, double r, bool on,
                unsigned corners) {
    using namespace palette;
    roundedRect(cr, x, y, w, h, r, corners);
    fillVertical(cr, y, y + h, rgb(on ? GREEN_TOP : SLATE_TOP),
                 rgb(on ? GREEN_BOTTOM : SLATE_BOTTOM), true);
    setColor(cr, rgb(on ? GREEN_EDGE : SLATE_EDGE));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    // A light line along the top edge gives the face its lift.
    cairo_save(cr);
    roundedRect(cr, x + 1, y + 1, w - 2, h - 2, std::fmax(r - 1, 0), corners);
    cairo_clip(cr);
    cairo_move_to(cr, x + 1, y + 1.5);
    cairo_line_to(cr, x + w - 1, y + 1.5);
    setColor(cr, rgb(0xFFFFFF, on ? 0.35 : 0.22));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    cairo_restore(cr);
}

bool fontsLoad(const std::string &fontDir, std::string *error) {
    if (FT_Init_FreeType(&m_FreeType) != 0) {
        *error = "cannot start FreeType";
        return false;
    }
    m_Regular = faceFor(m_FreeType, fontDir + "/arial.ttf", &m_RegularFace);
    m_Bold = faceFor(m_FreeType, fontDir + "/arialbd.ttf", &m_BoldFace);
    if (m_Regular == nullptr || m_Bold == nullptr) {
        *error = "cannot open the fonts arial.ttf and arialbd.ttf in " + fontDir;
        return false;
    }
    return true;
}

void fontsRelease() {
    if (m_Regular != nullptr) {
        cairo_font_face_destroy(m_Regular);
    }
    if (m_Bold != nullptr) {
        cairo_font_face_destroy(m_Bold);
    }
    m_Regular = m_Bold = nullptr;
    // cairo may still cache the faces; FreeType is released with the process.
}

void setFont(cairo_t *cr, bool bold, double size) {
    cairo_set_font_face(cr, bold ? m_Bold : m_Regular);
    cairo_set_font_size(cr, size);
    cairo_font_options_t *options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

double textWidth(cairo_t *cr, const std::string &text) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    return e.x_advance;
}

double capHeight(cairo_t *cr) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, "H", &e);
    return -e.y_bearing;
}

double drawTextAt(cairo_t *cr, const TextStyle &style, const std::string &text, double x,
                  double y) {
    setFont(cr, style.bold, style.size);
    if (style.shadow) {
        cairo_move_to(cr, x, y + 1);
        setColor(cr, Rgba{0, 0, 0, 0.35 * style.color.a});
        cairo_show_text(cr, text.c_str());
    }
    cairo_move_to(cr, x, y);
    setColor(cr, style.color);
    cairo_show_text(cr, text.c_str());
    return textWidth(cr, text);
}

void drawText(cairo_t *cr, const TextStyle &style, const std::string &text, double x, double y,
              double w, double h) {
    setFont(cr, style.bold, style.size);
    std::vector<std::string> lines = splitLines(text);
    double cap = capHeight(cr);
    double lineGap = std::round(style.size * 1.2);
    double block = cap + lineGap * static_cast<double>(lines.size() - 1);
    double baseline = std::round(y + (h - block) / 2 + cap);
    for (const std::string &line : lines) {
        double tw = textWidth(cr, line);
        double tx = x + style.indent;
        if (style.align == ALIGN_CENTER) {
            tx = x + (w - tw) / 2;
        } else if (style.align == ALIGN_RIGHT) {
            tx = x + w - style.indent - tw;
        }
        drawTextAt(cr, style, line, std::round(tx), baseline);
        baseline += lineGap;
    }
}
