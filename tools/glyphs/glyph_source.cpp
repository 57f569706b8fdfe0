// Glyph source parser and monochrome font rendering with FreeType.
#include "glyph_source.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

namespace {

struct FreeTypeLibrary {
    FT_Library lib = nullptr;
    FreeTypeLibrary() { FT_Init_FreeType(&lib); }
    ~FreeTypeLibrary() {
        if (lib != nullptr) {
            FT_Done_FreeType(lib);
        }
    }
    FreeTypeLibrary(const FreeTypeLibrary &) = delete;
    FreeTypeLibrary &operator=(const FreeTypeLibrary &) = delete;
};

struct Face {
    FT_Face face = nullptr;
    ~Face() {
        if (face != nullptr) {
            FT_Done_Face(face);
        }
    }
};

bool parseNumber(const std::string &text, long *value) {
    if (text.size() >= 3 && text.front() == '\'' && text.back() == '\'') {
        // A quoted character: its Latin-1 or ASCII code.
        std::string inner = text.substr(1, text.size() - 2);
        if (inner.size() == 1) {
            *value = static_cast<unsigned char>(inner[0]);
            return true;
        }
        return false;
    }
    std::string digits = text;
    int base = 10;
    if (digits.rfind("U+", 0) == 0 || digits.rfind("u+", 0) == 0) {
        digits = digits.substr(2);
        base = 16;
    } else if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
        digits = digits.substr(2);
        base = 16;
    }
    if (digits.empty()) {
        return false;
    }
    char *end = nullptr;
    *value = strtol(digits.c_str(), &end, base);
    return *end == '\0';
}

// Renders one character monochrome into a cell of the face's line height.
bool renderChar(FT_Face face, int pixels, long code, uint16_t id, GlyphBitmap *out,
                std::string *error) {
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(pixels)) != 0) {
        *error = "cannot set the font size";
        return false;
    }
    FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(code));
    if (index == 0) {
        *error = "the font has no character " + std::to_string(code);
        return false;
    }
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) {
        *error = "cannot render character " + std::to_string(code);
        return false;
    }
    FT_GlyphSlot slot = face->glyph;
    int ascender = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
    int descender = static_cast<int>(face->size->metrics.descender >> 6); // negative
    int cellHeight = ascender - descender;
    int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    const FT_Bitmap &bm = slot->bitmap;
    int left = std::max(0, slot->bitmap_left);
    int width = std::max(advance, left + static_cast<int>(bm.width));
    width = std::max(width, 1);
    if (width > 255 || cellHeight > 255 || cellHeight < 1) {
        *error = "character " + std::to_string(code) + " does not fit 255 x 255 pixels";
        return false;
    }
    out->id = id;
    out->resize(static_cast<uint8_t>(width), static_cast<uint8_t>(cellHeight));
    out->advance = static_cast<uint8_t>(std::min(advance, 255));
    out->baseline = static_cast<uint8_t>(ascender);
    int top = ascender - slot->bitmap_top;
    for (unsigned row = 0; row < bm.rows; row++) {
        const unsigned char *src = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
        for (unsigned col = 0; col < bm.width; col++) {
            if (src[col / 8] & (0x80u >> (col % 8))) {
                out->set(left + static_cast<int>(col), top + static_cast<int>(row));
            }
        }
    }
    return true;
}

std::vector<std::string> words(const std::string &line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string w;
    while (in >> w) {
        out.push_back(w);
    }
    return out;
}

// Reads a glyph source statement by statement into a layout.
class SourceReader {
  public:
    SourceReader(std::istream &in, const std::string &path, const std::string &fontDir,
                 FT_Library ft, GlyphFileLayout *layout, std::string *error)
        : m_in(in), m_path(path), m_fontDir(fontDir), m_ft(ft), m_layout(layout), m_error(error) {}

    // The words of the next line with any, comments left out; false at the end.
    bool next(std::vector<std::string> *w) {
        std::string line;
        while (std::getline(m_in, line)) {
            m_lineNo++;
            std::string::size_type hash = line.find('#');
            *w = words(hash == std::string::npos ? line : line.substr(0, hash));
            if (!w->empty()) {
                return true;
            }
        }
        return false;
    }

    bool statement(const std::vector<std::string> &w) {
        const std::string &cmd = w[0];
        if (cmd == "root") {
            return root(w);
        }
        if (cmd == "font") {
            return font(w);
        }
        if (cmd == "group") {
            return group(w);
        }
        if (cmd == "chars" || cmd == "char") {
            return chars(w);
        }
        if (cmd == "bitmap") {
            return bitmap(w);
        }
        return fail("unknown statement " + cmd);
    }

  private:
    bool fail(const std::string &why) {
        *m_error = m_path + ":" + std::to_string(m_lineNo) + ": " + why;
        return false;
    }

    bool root(const std::vector<std::string> &w) {
        long n = 0;
        if (w.size() != 2 || !parseNumber(w[1], &n)) {
            return fail("usage: root SIZE");
        }
        m_layout->rootEntrySize = static_cast<uint8_t>(n);
        return true;
    }

    bool font(const std::vector<std::string> &w) {
        if (w.size() != 3) {
            return fail("usage: font NAME FILE");
        }
        auto face = std::make_unique<Face>();
        std::string path = m_fontDir.empty() ? w[2] : m_fontDir + "/" + w[2];
        if (FT_New_Face(m_ft, path.c_str(), 0, &face->face) != 0) {
            return fail("cannot open font " + path);
        }
        m_fonts[w[1]] = std::move(face);
        return true;
    }

    bool group(const std::vector<std::string> &w) {
        long n = 0;
        if (w.size() != 3 || !parseNumber(w[2], &n)) {
            return fail("usage: group NAME SIZE");
        }
        GlyphGroup group;
        group.name = w[1];
        group.entrySize = static_cast<uint8_t>(n);
        m_layout->groups.push_back(group);
        return true;
    }

    // "chars FIRST-LAST FONT PIXELS" or "char ID FONT PIXELS CODE".
    bool chars(const std::vector<std::string> &w) {
        if (m_layout->groups.empty()) {
            return fail("glyphs must follow a group");
        }
        bool range = w[0] == "chars";
        long first = 0;
        long last = 0;
        long pixels = 0;
        long code = 0;
        if (range) {
            std::string::size_type dash = w.size() == 4 ? w[1].find('-') : std::string::npos;
            if (dash == std::string::npos || !parseNumber(w[1].substr(0, dash), &first) ||
                !parseNumber(w[1].substr(dash + 1), &last) || !parseNumber(w[3], &pixels)) {
                return fail("usage: chars FIRST-LAST FONT PIXELS");
            }
        } else if (w.size() != 5 || !parseNumber(w[1], &first) || !parseNumber(w[3], &pixels) ||
                   !parseNumber(w[4], &code)) {
            return fail("usage: char ID FONT PIXELS CODE");
        } else {
            last = first;
        }
        auto font = m_fonts.find(w[2]);
        if (font == m_fonts.end()) {
            return fail("unknown font " + w[2]);
        }
        if (first < 0 || last > 0xFFFF || first > last || pixels < 1 || pixels > 200) {
            return fail("glyph number or size out of range");
        }
        for (long id = first; id <= last; id++) {
            GlyphBitmap glyph;
            std::string why;
            if (!renderChar(font->second->face, static_cast<int>(pixels), range ? id : code,
                            static_cast<uint16_t>(id), &glyph, &why)) {
                return fail(why);
            }
            m_layout->groups.back().glyphs.push_back(glyph);
        }
        return true;
    }

    // A bitmap's rows up to its "end" line.
    bool bitmapRows(std::vector<std::string> *rows) {
        int startLine = m_lineNo;
        std::string line;
        while (std::getline(m_in, line)) {
            m_lineNo++;
            std::vector<std::string> rw = words(line);
            if (rw.size() == 1 && rw[0] == "end") {
                return true;
            }
            if (!rw.empty()) {
                rows->push_back(rw[0]);
            }
        }
        m_lineNo = startLine;
        return fail("bitmap without end");
    }

    // "bitmap ID", then rows of pixels ('#' or 'X' set) and "end".
    bool bitmap(const std::vector<std::string> &w) {
        if (m_layout->groups.empty()) {
            return fail("glyphs must follow a group");
        }
        long n = 0;
        if (w.size() != 2 || !parseNumber(w[1], &n) || n < 0 || n > 0xFFFF) {
            return fail("usage: bitmap ID");
        }
        std::vector<std::string> rows;
        if (!bitmapRows(&rows)) {
            return false;
        }
        size_t width = 0;
        for (const std::string &r : rows) {
            width = std::max(width, r.size());
        }
        if (rows.empty() || width == 0 || width > 255 || rows.size() > 255) {
            return fail("a bitmap needs 1 to 255 rows of 1 to 255 pixels");
        }
        GlyphBitmap glyph;
        glyph.id = static_cast<uint16_t>(n);
        glyph.resize(static_cast<uint8_t>(width), static_cast<uint8_t>(rows.size()));
        glyph.advance = static_cast<uint8_t>(std::min<size_t>(width + 1, 255));
        glyph.baseline = static_cast<uint8_t>(rows.size());
        for (size_t y = 0; y < rows.size(); y++) {
            for (size_t x = 0; x < rows[y].size(); x++) {
                if (rows[y][x] == '#' || rows[y][x] == 'X') {
                    glyph.set(static_cast<int>(x), static_cast<int>(y));
                }
            }
        }
        m_layout->groups.back().glyphs.push_back(glyph);
        return true;
    }

    std::istream &m_in;
    const std::string &m_path;
    const std::string &m_fontDir;
    FT_Library m_ft;
    GlyphFileLayout *m_layout;
    std::string *m_error;
    int m_lineNo = 0;
    std::map<std::string, std::unique_ptr<Face>> m_fonts;
};

} // namespace

bool glyphLoadSource(const std::string &sourcePath, const std::string &fontDir,
                     GlyphFileLayout *layout, std::string *error) {
    std::ifstream in(sourcePath);
    if (!in) {
        *error = "cannot open " + sourcePath;
        return false;
    }
    FreeTypeLibrary ft;
    if (ft.lib == nullptr) {
        *error = "cannot start FreeType";
        return false;
    }
    *layout = GlyphFileLayout{};
    SourceReader reader(in, sourcePath, fontDir, ft.lib, layout, error);
    for (std::vector<std::string> w; reader.next(&w);) {
        if (!reader.statement(w)) {
            return false;
        }
    }
    return true;
}
