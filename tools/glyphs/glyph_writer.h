// Writer of glyph ("abf") files: lays out the header, a root lookup table,
// one lookup table per glyph group and the glyph entries, so that every
// glyph is reached through a chain of two tables. Used by tstat-glyphs and by
// the tests that need valid or deliberately broken files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GlyphBitmap {
    uint16_t id = 0;
    uint8_t width = 0;
    uint8_t height = 0;
    uint8_t advance = 0;  // kept in the entry's first further byte
    uint8_t baseline = 0; // kept in the entry's second further byte
    // One bit per pixel, rows of (width + 7) / 8 bytes, most significant bit leftmost.
    std::vector<uint8_t> bits;

    void resize(uint8_t w, uint8_t h);
    void set(int x, int y);
    bool get(int x, int y) const;
};

struct GlyphGroup {
    std::string name;
    uint8_t entrySize = 2; // 1, 2 or 4 bytes per lookup entry
    std::vector<GlyphBitmap> glyphs;
};

struct GlyphFileLayout {
    uint8_t rootEntrySize = 2;
    std::vector<GlyphGroup> groups;
};

// Builds the file. On failure returns false with a reason in *error (a
// group whose glyphs do not fit its entry size, a glyph number used twice,
// an empty bitmap, more than 65535 bytes of bitmap in one glyph).
bool glyphBuildFile(const GlyphFileLayout &layout, std::vector<uint8_t> *out, std::string *error);
