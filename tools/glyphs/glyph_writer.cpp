// Glyph file writer: header, root table, group tables, glyph entries.
#include "glyph_writer.h"

#include <algorithm>
#include <set>

namespace {

constexpr uint32_t FILE_MAGIC = 0xAB243D30u;
constexpr uint16_t TABLE_MAGIC = 0xAB25;
constexpr uint16_t ENTRY_MAGIC = 0xAB26;
constexpr uint32_t HEADER_SIZE = 32;
constexpr uint32_t HEAD_SIZE = 8;
constexpr uint16_t FORMAT_VERSION = 1;
// Table orders above 15 would need counts beyond 16 bits.
constexpr uint32_t MAX_ORDER = 15;

void put16(std::vector<uint8_t> &out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v >> 8);
    out[at + 1] = static_cast<uint8_t>(v);
}

void put32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v >> 24);
    out[at + 1] = static_cast<uint8_t>(v >> 16);
    out[at + 2] = static_cast<uint8_t>(v >> 8);
    out[at + 3] = static_cast<uint8_t>(v);
}

void putEntry(std::vector<uint8_t> &out, size_t at, uint8_t size, uint32_t v) {
    if (size == 1) {
        out[at] = static_cast<uint8_t>(v);
    } else if (size == 2) {
        put16(out, at, v);
    } else {
        put32(out, at, v);
    }
}

uint32_t allOnes(uint8_t size) {
    return size == 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1;
}

void writeTableHead(std::vector<uint8_t> &out, size_t at, uint32_t base, uint8_t size,
                    uint32_t order) {
    put16(out, at, TABLE_MAGIC);
    put32(out, at + 2, base);
    out[at + 6] = size;
    out[at + 7] = static_cast<uint8_t>(order);
}

bool validSize(uint8_t size) {
    return size == 1 || size == 2 || size == 4;
}

} // namespace

void GlyphBitmap::resize(uint8_t w, uint8_t h) {
    width = w;
    height = h;
    bits.assign(static_cast<size_t>((w + 7) / 8) * h, 0);
}

void GlyphBitmap::set(int x, int y) {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return;
    }
    bits[static_cast<size_t>(y) * ((width + 7) / 8) + x / 8] |=
        static_cast<uint8_t>(0x80u >> (x % 8));
}

bool GlyphBitmap::get(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return false;
    }
    return (bits[static_cast<size_t>(y) * ((width + 7) / 8) + x / 8] & (0x80u >> (x % 8))) != 0;
}

namespace {

// What the header says of the glyphs.
struct Census {
    uint32_t highest = 0;
    uint32_t count = 0;
    uint8_t maxWidth = 0;
    uint8_t maxHeight = 0;
};

// Checks the glyphs (one number each, a valid bitmap) and counts them.
bool takeCensus(const GlyphFileLayout &layout, Census *census, std::string *error) {
    std::set<uint16_t> ids;
    for (const GlyphGroup &group : layout.groups) {
        if (!validSize(group.entrySize)) {
            *error = "group " + group.name + ": entry size must be 1, 2 or 4";
            return false;
        }
        for (const GlyphBitmap &g : group.glyphs) {
            if (!ids.insert(g.id).second) {
                *error = "glyph " + std::to_string(g.id) + " is defined twice";
                return false;
            }
            if (g.width == 0 || g.height == 0 ||
                g.bits.size() != static_cast<size_t>((g.width + 7) / 8) * g.height) {
                *error = "glyph " + std::to_string(g.id) + " has no valid bitmap";
                return false;
            }
            census->highest = std::max<uint32_t>(census->highest, g.id);
            census->maxWidth = std::max(census->maxWidth, g.width);
            census->maxHeight = std::max(census->maxHeight, g.height);
            census->count++;
        }
    }
    return true;
}

// Where everything goes: the root table, one table per group, then the
// glyph entries group by group.
struct Placement {
    uint32_t order = 0;
    uint32_t entries = 0; // per table
    uint32_t rootAt = HEADER_SIZE;
    std::vector<uint32_t> tableAt;
    std::vector<std::vector<uint32_t>> glyphAt;
    uint32_t total = 0;
};

Placement place(const GlyphFileLayout &layout, uint32_t order) {
    Placement p;
    p.order = order;
    p.entries = 1u << order;
    uint32_t at = p.rootAt + HEAD_SIZE + layout.rootEntrySize * p.entries;
    for (const GlyphGroup &group : layout.groups) {
        p.tableAt.push_back(at);
        at += HEAD_SIZE + group.entrySize * p.entries;
    }
    p.glyphAt.resize(layout.groups.size());
    for (size_t g = 0; g < layout.groups.size(); g++) {
        for (const GlyphBitmap &glyph : layout.groups[g].glyphs) {
            p.glyphAt[g].push_back(at);
            at += HEAD_SIZE + static_cast<uint32_t>(glyph.bits.size());
        }
    }
    p.total = at;
    return p;
}

void writeHeader(std::vector<uint8_t> &file, const Census &census, uint32_t total) {
    put32(file, 0, FILE_MAGIC);
    put16(file, 4, FORMAT_VERSION);
    put16(file, 6, census.count);
    put32(file, 8, total);
    file[12] = census.maxWidth;
    file[13] = census.maxHeight;
    put16(file, 14, census.highest);
    file[16] = 'T';
    file[17] = 'S';
    file[18] = 'G';
    file[19] = 'L';
    uint8_t sum = 0;
    for (uint32_t i = 0; i < HEADER_SIZE - 1; i++) {
        sum = static_cast<uint8_t>(sum + file[i]);
    }
    file[HEADER_SIZE - 1] = sum;
}

// A table's head and its entries, all empty.
void writeEmptyTable(std::vector<uint8_t> &file, uint32_t at, uint32_t base, uint8_t entrySize,
                     const Placement &p) {
    writeTableHead(file, at, base, entrySize, p.order);
    for (uint32_t i = 0; i < p.entries; i++) {
        putEntry(file, at + HEAD_SIZE + entrySize * i, entrySize, allOnes(entrySize));
    }
}

// Group g's table and glyph entries, and its glyphs' root entries.
bool writeGroup(std::vector<uint8_t> &file, const GlyphFileLayout &layout, const Placement &p,
                size_t g, std::string *error) {
    const GlyphGroup &group = layout.groups[g];
    uint32_t rootBase = p.tableAt.front();
    uint32_t rel = p.tableAt[g] - rootBase;
    if (rel >= allOnes(layout.rootEntrySize)) {
        *error = "group " + group.name + " lies beyond the reach of the root table's entries";
        return false;
    }
    uint32_t base = p.glyphAt[g].empty() ? 0 : p.glyphAt[g].front();
    writeEmptyTable(file, p.tableAt[g], base, group.entrySize, p);
    for (size_t k = 0; k < group.glyphs.size(); k++) {
        const GlyphBitmap &glyph = group.glyphs[k];
        uint32_t offset = p.glyphAt[g][k] - base;
        if (offset >= allOnes(group.entrySize)) {
            *error = "group " + group.name + " is too large for " +
                     std::to_string(group.entrySize) + "-byte entries";
            return false;
        }
        if (glyph.bits.size() > 0xFFFF) {
            *error = "glyph " + std::to_string(glyph.id) + " is too large";
            return false;
        }
        putEntry(file, p.rootAt + HEAD_SIZE + layout.rootEntrySize * glyph.id, layout.rootEntrySize,
                 rel);
        putEntry(file, p.tableAt[g] + HEAD_SIZE + group.entrySize * glyph.id, group.entrySize,
                 offset);
        uint32_t e = p.glyphAt[g][k];
        put16(file, e, ENTRY_MAGIC);
        put16(file, e + 2, static_cast<uint32_t>(glyph.bits.size()));
        file[e + 4] = glyph.width;
        file[e + 5] = glyph.height;
        file[e + 6] = glyph.advance;
        file[e + 7] = glyph.baseline;
        std::copy(glyph.bits.begin(), glyph.bits.end(), file.begin() + e + HEAD_SIZE);
    }
    return true;
}

} // namespace

bool glyphBuildFile(const GlyphFileLayout &layout, std::vector<uint8_t> *out, std::string *error) {
    if (!validSize(layout.rootEntrySize)) {
        *error = "root entry size must be 1, 2 or 4";
        return false;
    }
    Census census;
    if (!takeCensus(layout, &census, error)) {
        return false;
    }
    uint32_t order = 0;
    while ((1u << order) <= census.highest) {
        order++;
    }
    if (order > MAX_ORDER) {
        *error = "glyph numbers must stay below 32768";
        return false;
    }
    Placement p = place(layout, order);
    std::vector<uint8_t> &file = *out;
    file.assign(p.total, 0);
    writeHeader(file, census, p.total);
    writeEmptyTable(file, p.rootAt, p.tableAt.empty() ? 0 : p.tableAt.front(), layout.rootEntrySize,
                    p);
    for (size_t g = 0; g < layout.groups.size(); g++) {
        if (!writeGroup(file, layout, p, g, error)) {
            return false;
        }
    }
    return true;
}
