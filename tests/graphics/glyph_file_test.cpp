// The glyph file reader against valid, broken and hostile files, and the
// writer and source reader of tstat-glyphs.
#include "graphics/abf.h"

#include "board_root.h"
#include "printed.h"

#include "glyph_source.h"
#include "glyph_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

int openFdCount() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (readdir(d) != nullptr) {
        n++;
    }
    closedir(d);
    return n;
}

GlyphBitmap bitmap(uint16_t id, const std::vector<std::string> &rows) {
    GlyphBitmap g;
    g.id = id;
    g.resize(static_cast<uint8_t>(rows[0].size()), static_cast<uint8_t>(rows.size()));
    for (size_t y = 0; y < rows.size(); y++) {
        for (size_t x = 0; x < rows[y].size(); x++) {
            if (rows[y][x] == '#') {
                g.set(static_cast<int>(x), static_cast<int>(y));
            }
        }
    }
    return g;
}

// Two groups: glyphs 1 and 2 behind a 2-byte table, glyph 9 behind a 4-byte one.
GlyphFileLayout sampleLayout() {
    GlyphFileLayout layout;
    GlyphGroup a{"a", 2, {}};
    a.glyphs.push_back(bitmap(1, {"#.#", ".#.", "#.#"}));
    a.glyphs.push_back(bitmap(2, {"#########", "#.......#", "#########"}));
    GlyphGroup b{"b", 4, {}};
    b.glyphs.push_back(bitmap(9, {"##", "##"}));
    layout.groups = {a, b};
    return layout;
}

Bytes build(const GlyphFileLayout &layout) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(glyphBuildFile(layout, &out, &error)) << error;
    return out;
}

void fixChecksum(Bytes &b) {
    uint8_t sum = 0;
    for (int i = 0; i < 31; i++) {
        sum = static_cast<uint8_t>(sum + b[i]);
    }
    b[31] = sum;
}

void put16(Bytes &b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

// Frames of plain memory for the renderer.
std::vector<uint16_t *> g_frames;

void *allocFrame(uint32_t width, uint32_t height, uint16_t *pitch, uint16_t *background,
                 uint16_t **pixels) {
    // A pitch wider than the glyph: the renderer must not touch the extra columns.
    uint16_t p = static_cast<uint16_t>(width + 3);
    auto *frame = static_cast<uint16_t *>(malloc(sizeof(uint16_t) * p * height));
    for (uint32_t i = 0; i < p * height; i++) {
        frame[i] = 0xDEAD;
    }
    *pitch = p;
    *background = 0x0000;
    *pixels = frame;
    g_frames.push_back(frame);
    return frame;
}

int g_released = 0;
void releaseFrame(void *frame) {
    g_released++;
    free(frame);
}

class GlyphFile : public ::testing::Test {
  protected:
    TempBoardRoot dir;
    void SetUp() override { g_released = 0; }
    // Writes the bytes to a file and opens it, keeping what the reader prints.
    AbfHandle *open(const Bytes &bytes, std::string *printed) {
        dir.write("/g.glyph", std::string(bytes.begin(), bytes.end()));
        return printedBy([&] { return abfOpen(dir.file("/g.glyph").c_str()); }, printed);
    }
    AbfGlyph *load(AbfHandle *h, uint16_t id, std::string *printed) {
        return printedBy([&] { return abfLoadGlyph(h, id); }, printed);
    }
};

TEST_F(GlyphFile, HeaderChecksRejectBrokenFilesAndCloseThem) {
    Bytes good = build(sampleLayout());
    std::string out;
    int fds = openFdCount();

    char badSum[96];
    snprintf(badSum, sizeof(badSum), "file header checksum failed (calculated %02x, real %02x)!\n",
             good[31], static_cast<uint8_t>(good[31] + 1));
    const struct {
        std::function<void(Bytes &)> damage;
        std::string printed;
    } cases[] = {
        {[](Bytes &b) { b[31] = static_cast<uint8_t>(b[31] + 1); }, badSum},
        {[](Bytes &b) { b.push_back(0); }, "file size incorrect (indicated " +
                                               std::to_string(good.size()) + ", actual " +
                                               std::to_string(good.size() + 1) + "!)\n"},
        {[](Bytes &b) { b[3] = 0x31, fixChecksum(b); }, "invalid magic number (0xab243d31)\n"},
        {[](Bytes &b) { b.resize(20); }, "couldn't read abf header\n"},
    };
    for (const auto &c : cases) {
        Bytes bad = good;
        c.damage(bad);
        EXPECT_EQ(open(bad, &out), nullptr) << c.printed;
        EXPECT_EQ(out, c.printed);
        EXPECT_EQ(openFdCount(), fds) << c.printed;
    }

    EXPECT_EQ(printedBy([&] { return abfOpen(dir.file("/missing").c_str()); }, &out), nullptr);
    EXPECT_EQ(out, "couldn't open abf file " + dir.file("/missing") + "\n");

    AbfHandle *h = open(good, &out);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(out, "");
    EXPECT_EQ(h->glyphCount, 3);
    abfClose(h);
    EXPECT_EQ(openFdCount(), fds);
    EXPECT_EQ(printedBy([] { abfClose(nullptr); }), "attempted to close NULL ABF handle\n");
}

TEST_F(GlyphFile, LookupFollowsTheChainAndStopsAtMissingEntries) {
    Bytes file = build(sampleLayout());
    std::string out;
    AbfHandle *h = open(file, &out);
    ASSERT_NE(h, nullptr);
    // The first node is the root table; its entry leads to a second table.
    EXPECT_EQ(abfGet16(&file[32]), ABF_TABLE_MAGIC);
    for (uint16_t id : {1, 2, 9}) {
        uint32_t at = abfLookupGlyph(h, id);
        ASSERT_NE(at, 0u) << id;
        EXPECT_EQ(abfGet16(&file[at]), ABF_ENTRY_MAGIC);
    }
    // Glyph 3 has the all-ones entry 0xFFFF in the 2-byte root table: not
    // found, silently; glyph 16 is beyond the table's 16 entries.
    EXPECT_EQ(printedBy([&] { return abfLookupGlyph(h, 3); }, &out), 0u);
    EXPECT_EQ(out, "");
    EXPECT_EQ(printedBy([&] { return abfLookupGlyph(h, 16); }, &out), 0u);
    EXPECT_EQ(out, "index 16 exceeds num table entries (0x00000020, 16)\n");
    AbfGlyph *g = load(h, 3, &out);
    EXPECT_EQ(g, nullptr);
    EXPECT_EQ(out, "couldn't find glyph 3\n");
    abfClose(h);
    // Read as 1-byte entries, glyph 3's 0xFFFF holds 0xFF for glyph 6: missing too.
    Bytes narrow = file;
    narrow[38] = 1;
    h = open(narrow, &out);
    EXPECT_EQ(printedBy([&] { return abfLookupGlyph(h, 6); }, &out), 0u);
    EXPECT_EQ(out, "");
    abfClose(h);
}

// Each damage to a good file, the glyph then loaded, and what the reader says.
TEST_F(GlyphFile, HostileTablesAndEntriesAreRefusedWithoutReadingOutside) {
    const Bytes file = build(sampleLayout());
    std::string out;
    AbfHandle *h = open(file, &out);
    const uint32_t at = abfLookupGlyph(h, 2); // glyph 2's entry
    abfClose(h);
    const uint32_t root1 = 32 + 8 + 2 * 1; // the root table's entry of glyph 1
    char tooShort[96];
    snprintf(tooShort, sizeof(tooShort), "glyph data too short @ 0x%08x (5 bytes, 6 needed)", at);
    char pastEnd[96];
    snprintf(pastEnd, sizeof(pastEnd), "failed reading glyph data (0x%08x, %d))", at, 0x4000);
    const struct {
        std::function<void(Bytes &)> damage;
        uint16_t id;
        std::string printed;
    } cases[] = {
        // The root points back at itself (base 0): the walk gives up.
        {[&](Bytes &b) { std::fill_n(&b[34], 4, 0), put16(b, root1, 32); }, 1,
         "lookup chain too long @ 0x00000020\ncouldn't find glyph 1"},
        {[&](Bytes &b) { put16(b, root1, 0xFFF0); }, 1, "couldn't read lookup table @"},
        {[](Bytes &b) { b[38] = 3; }, 1, "unsupported entry size (3)"},
        {[](Bytes &b) { b[38] = 7; }, 1, "unsupported entry size (7)"},
        {[](Bytes &b) { b[38] = 0; }, 1, "0-length lookup table"},
        {[&](Bytes &b) { put16(b, at + 2, 5); }, 2, tooShort},
        {[&](Bytes &b) { b[at + 4] = 0; }, 2, "invalid glyph size"},
        {[&](Bytes &b) { put16(b, at + 2, 0x4000); }, 2, pastEnd},
        {[&](Bytes &b) { put16(b, at, 0xAB27); }, 2, "unknown magic 0xab27\ncouldn't find glyph 2"},
    };
    for (const auto &c : cases) {
        Bytes damaged = file;
        c.damage(damaged);
        h = open(damaged, &out);
        ASSERT_NE(h, nullptr) << c.printed;
        EXPECT_EQ(load(h, c.id, &out), nullptr) << c.printed;
        EXPECT_NE(out.find(c.printed), std::string::npos) << out;
        abfClose(h);
    }
    // A table order far beyond 16 bits does not shift out of range.
    Bytes order = file;
    order[32 + 7] = 200;
    h = open(order, &out);
    EXPECT_NE(abfLookupGlyph(h, 1), 0u);
    abfClose(h);
}

TEST_F(GlyphFile, RenderingIgnoresPaddingAndRecolouringReplacesEveryPixel) {
    Bytes file = build(sampleLayout());
    std::string out;
    AbfHandle *h = open(file, &out);
    uint32_t at = abfLookupGlyph(h, 2);
    abfClose(h);
    // Set every padding bit of the 9-pixel rows: they must not show.
    for (int row = 0; row < 3; row++) {
        file[at + 8 + row * 2 + 1] |= 0x7F;
    }
    h = open(file, &out);
    ASSERT_NE(h, nullptr);
    g_frames.clear();
    AbfGlyph *g = abfLoadAndRenderGlyph565(h, 2, allocFrame, releaseFrame, 0xF800);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->width, 9);
    EXPECT_EQ(g->height, 3);
    EXPECT_EQ(g->length, 6);
    const char *rows[3] = {"#########", "#.......#", "#########"};
    auto check = [&](uint16_t ink) {
        for (int y = 0; y < 3; y++) {
            for (int x = 0; x < 9; x++) {
                EXPECT_EQ(g->pixels[y * g->pitch + x], rows[y][x] == '#' ? ink : 0)
                    << x << "," << y;
            }
            // The frame's columns beyond the glyph stay untouched.
            EXPECT_EQ(g->pixels[y * g->pitch + 9], 0xDEAD);
        }
    };
    check(0xF800);
    EXPECT_EQ(abfRenderGlyph565(h, g, 0x07E0), 0);
    check(0x07E0);
    EXPECT_EQ(abfGetGlyphFrame(h, g), g_frames.back());
    // A frame narrower than the glyph cannot take it.
    uint16_t pitch = g->pitch;
    g->pitch = 8;
    EXPECT_EQ(printedBy([&] { return abfRenderGlyph565(h, g, 1); }, &out), -1);
    g->pitch = pitch;
    abfReleaseGlyph(h, g);
    EXPECT_EQ(g_released, 1);

    EXPECT_EQ(printedBy([&] {
                  EXPECT_EQ(abfRenderGlyph565(h, nullptr, 1), -1);
                  EXPECT_EQ(abfGetGlyphFrame(h, nullptr), nullptr);
                  abfReleaseGlyph(h, nullptr);
                  EXPECT_EQ(abfLoadAndRenderGlyph565(h, 2, nullptr, nullptr, 1), nullptr);
              }),
              "invalid parameters\nattempt to get frame info for null glyph!\n"
              "attempt to free null glyph!\ninvalid parameters\n");
    abfClose(h);
}

TEST_F(GlyphFile, SourcesBuildTheCommittedFuzzSeedAndBadOnesAreRefused) {
    GlyphFileLayout twice = sampleLayout();
    twice.groups[1].glyphs.push_back(bitmap(1, {"#"}));
    Bytes out;
    std::string error;
    EXPECT_FALSE(glyphBuildFile(twice, &out, &error));
    EXPECT_EQ(error, "glyph 1 is defined twice");

    GlyphFileLayout layout;
    ASSERT_TRUE(glyphLoadSource(TSTAT_SOURCE_DIR "/tests/graphics/data/fuzz_seed.glyphs", "",
                                &layout, &error))
        << error;
    Bytes built = build(layout);
    std::ifstream in(TSTAT_SOURCE_DIR "/tests/fuzz/corpus/fuzz_glyph_reader/seed.glyph",
                     std::ios::binary);
    Bytes committed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(built, committed);

    // Source errors name the line.
    dir.write("/bad.glyphs", "group g 2\nbitmap 1\n#\n");
    EXPECT_FALSE(glyphLoadSource(dir.file("/bad.glyphs"), "", &layout, &error));
    EXPECT_EQ(error, dir.file("/bad.glyphs") + ":2: bitmap without end");
}

} // namespace
