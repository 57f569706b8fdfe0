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

bool glyphBuildFile(const GlyphFileLayout &layout, std::vector<uint8_t> *out, std::string *error) {
    if (!validSize(layout.rootEntrySize)) {
        *error = "root entry size must be 1, 2 or 4";
        return false;
    }
    std::set<uint16_t> ids;
    uint32_t highest = 0;
    uint32_t count = 0;
    uint8_t maxWidth = 0;
    uint8_t maxHeight = 0;
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
            highest = std::max<uint32_t>(highest, g.id);
            maxWidth = std::max(maxWidth, g.width);
            maxHeight = std::max(maxHeight, g.height);
            count++;
        }
    }
    uint32_t order = 0;
    while ((1u << order) <= highest) {
        order++;
    }
    if (order > MAX_ORDER) {
        *error = "glyph numbers must stay below 32768";
        return false;
    }
    uint32_t entries = 1u << order;

    // Offsets: root table, one table per group, then the glyph entries group by group.
    uint32_t rootAt = HEADER_SIZE;
    uint32_t at = rootAt + HEAD_SIZE + layout.rootEntrySize * entries;
    std::vector<uint32_t> tableAt;
    for (const GlyphGroup &group : layout.groups) {
        tableAt.push_back(at);
        at += HEAD_SIZE + group.entrySize * entries;
    }
    std::vector<std::vector<uint32_t>> glyphAt(layout.groups.size());
    for (size_t g = 0; g < layout.groups.size(); g++) {
        for (const GlyphBitmap &glyph : layout.groups[g].glyphs) {
            glyphAt[g].push_back(at);
            at += HEAD_SIZE + static_cast<uint32_t>(glyph.bits.size());
        }
    }
    uint32_t total = at;

    std::vector<uint8_t> &file = *out;
    file.assign(total, 0);
    put32(file, 0, FILE_MAGIC);
    put16(file, 4, FORMAT_VERSION);
    put16(file, 6, count);
    put32(file, 8, total);
    file[12] = maxWidth;
    file[13] = maxHeight;
    put16(file, 14, highest);
    file[16] = 'T';
    file[17] = 'S';
    file[18] = 'G';
    file[19] = 'L';
    uint8_t sum = 0;
    for (uint32_t i = 0; i < HEADER_SIZE - 1; i++) {
        sum = static_cast<uint8_t>(sum + file[i]);
    }
    file[HEADER_SIZE - 1] = sum;

    uint32_t rootBase = tableAt.empty() ? 0 : tableAt.front();
    writeTableHead(file, rootAt, rootBase, layout.rootEntrySize, order);
    for (uint32_t i = 0; i < entries; i++) {
        putEntry(file, rootAt + HEAD_SIZE + layout.rootEntrySize * i, layout.rootEntrySize,
                 allOnes(layout.rootEntrySize));
    }
    for (size_t g = 0; g < layout.groups.size(); g++) {
        const GlyphGroup &group = layout.groups[g];
        uint32_t rel = tableAt[g] - rootBase;
        if (rel >= allOnes(layout.rootEntrySize)) {
            *error = "group " + group.name + " lies beyond the reach of the root table's entries";
            return false;
        }
        uint32_t base = glyphAt[g].empty() ? 0 : glyphAt[g].front();
        writeTableHead(file, tableAt[g], base, group.entrySize, order);
        for (uint32_t i = 0; i < entries; i++) {
            putEntry(file, tableAt[g] + HEAD_SIZE + group.entrySize * i, group.entrySize,
                     allOnes(group.entrySize));
        }
        for (size_t k = 0; k < group.glyphs.size(); k++) {
            const GlyphBitmap &glyph = group.glyphs[k];
            uint32_t offset = glyphAt[g][k] - base;
            if (offset >= allOnes(group.entrySize)) {
                *error = "group " + group.name + " is too large for " +
                         std::to_string(group.entrySize) + "-byte entries";
                return false;
            }
            if (glyph.bits.size() > 0xFFFF) {
                *error = "glyph " + std::to_string(glyph.id) + " is too large";
                return false;
            }
            putEntry(file, rootAt + HEAD_SIZE + layout.rootEntrySize * glyph.id,
                     layout.rootEntrySize, rel);
            putEntry(file, tableAt[g] + HEAD_SIZE + group.entrySize * glyph.id, group.entrySize,
                     offset);
            uint32_t e = glyphAt[g][k];
            put16(file, e, ENTRY_MAGIC);
            put16(file, e + 2, static_cast<uint32_t>(glyph.bits.size()));
            file[e + 4] = glyph.width;
            file[e + 5] = glyph.height;
            file[e + 6] = glyph.advance;
            file[e + 7] = glyph.baseline;
            std::copy(glyph.bits.begin(), glyph.bits.end(), file.begin() + e + HEAD_SIZE);
        }
    }
    return true;
}
