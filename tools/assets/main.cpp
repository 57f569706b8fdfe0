// tstat-assets: draws every image of the thermostat from the image list, and
// makes a contact sheet of them for review.
//
//   tstat-assets generate --list LIST --fonts FONTDIR --out DATADIR
//   tstat-assets sheet OUT.png [--list LIST] [--data DATADIR]
//
// The sheet's defaults are this build's image list and data directory.
#include "asset_list.h"
#include "host/paint.h"
#include "recipes.h"

#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Options {
    std::string list = TSTAT_ASSET_LIST;
    std::string data = TSTAT_ASSET_DATA_DIR;
    std::string fonts;
    std::string out;
};

int usage() {
    fprintf(stderr, "usage: tstat-assets generate --list LIST --fonts FONTDIR --out DATADIR\n"
                    "       tstat-assets sheet OUT.png [--list LIST] [--data DATADIR]\n");
    return 2;
}

bool parseOptions(int argc, char **argv, int first, Options *o) {
    for (int i = first; i < argc; i++) {
        std::string key = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        std::string value = argv[++i];
        if (key == "--list") {
            o->list = value;
        } else if (key == "--data") {
            o->data = value;
        } else if (key == "--fonts") {
            o->fonts = value;
        } else if (key == "--out") {
            o->out = value;
        } else {
            return false;
        }
    }
    return true;
}

// The panel shows 16-bit colour (5, 6 and 5 bits), and the screen engine's
// conversion simply drops the low bits, so wide gradients would show bands.
// Backgrounds are therefore dithered to RGB565 here (4 x 4 ordered dither),
// on their opaque pixels (all but the display test's colour bars).
void ditherTo565(cairo_surface_t *surface) {
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    cairo_surface_flush(surface);
    unsigned char *data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    int w = cairo_image_surface_get_width(surface);
    int h = cairo_image_surface_get_height(surface);
    auto level = [](uint32_t v, int bits, double t) {
        int top = (1 << bits) - 1;
        int l = static_cast<int>(v / 255.0 * top + t);
        l = std::min(std::max(l, 0), top);
        // The 8-bit value whose high bits are that level.
        return bits == 5 ? static_cast<uint32_t>((l << 3) | (l >> 2))
                         : static_cast<uint32_t>((l << 2) | (l >> 4));
    };
    for (int y = 0; y < h; y++) {
        unsigned char *row = data + y * stride;
        for (int x = 0; x < w; x++) {
            uint32_t p;
            memcpy(&p, row + x * sizeof(p), sizeof(p));
            if ((p >> 24) != 0xFF) {
                continue;
            }
            double t = (bayer[y % 4][x % 4] + 0.5) / 16.0;
            uint32_t r = level((p >> 16) & 0xFF, 5, t);
            uint32_t g = level((p >> 8) & 0xFF, 6, t);
            uint32_t b = level(p & 0xFF, 5, t);
            p = 0xFF000000u | (r << 16) | (g << 8) | b;
            memcpy(row + x * sizeof(p), &p, sizeof(p));
        }
    }
    cairo_surface_mark_dirty(surface);
}

// Writes a surface as PNG through a temporary file and a rename.
bool writePng(cairo_surface_t *surface, const fs::path &path) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    fs::path tmp = path;
    tmp += ".tmp";
    if (cairo_surface_write_to_png(surface, tmp.c_str()) != CAIRO_STATUS_SUCCESS) {
        fprintf(stderr, "tstat-assets: cannot write %s\n", tmp.c_str());
        return false;
    }
    fs::rename(tmp, path, ec);
    if (ec) {
        fprintf(stderr, "tstat-assets: cannot rename to %s\n", path.c_str());
        return false;
    }
    return true;
}

int generate(const Options &o) {
    if (o.fonts.empty() || o.out.empty()) {
        return usage();
    }
    std::string error;
    std::vector<AssetSpec> specs;
    if (!assetListLoad(o.list, &specs, &error) || !fontsLoad(o.fonts, &error)) {
        fprintf(stderr, "tstat-assets: %s\n", error.c_str());
        return 1;
    }
    int failures = 0;
    for (const AssetSpec &asset : specs) {
        cairo_surface_t *surface =
            cairo_image_surface_create(CAIRO_FORMAT_ARGB32, asset.width, asset.height);
        cairo_t *cr = cairo_create(surface);
        bool ok = drawAsset(cr, asset, &error);
        cairo_destroy(cr);
        // The colour bars of the display test keep their exact colours.
        if (ok && asset.recipe == "background" && asset.param("style") != "colorbars") {
            ditherTo565(surface);
        }
        if (!ok) {
            fprintf(stderr, "tstat-assets: %s:%d: %s: %s\n", o.list.c_str(), asset.line,
                    asset.path.c_str(), error.c_str());
            failures++;
        } else if (!writePng(surface, fs::path(o.out) / asset.path)) {
            failures++;
        }
        cairo_surface_destroy(surface);
    }
    fontsRelease();
    if (failures != 0) {
        return 1;
    }
    printf("tstat-assets: %zu images in %s\n", specs.size(), o.out.c_str());
    return 0;
}

// ---- Contact sheet ------------------------------------------------------------------------------

constexpr int SHEET_WIDTH = 1280;
constexpr int MARGIN = 16;
constexpr int GAP = 14;
constexpr int CAPTION_LINE = 11;
constexpr int CAPTION_LINES = 3;
constexpr int HEADING = 30;

struct Placed {
    const AssetSpec *asset;
    int x, y, cellWidth;
};

std::vector<std::string> captionLines(cairo_t *cr, const std::string &name, double width) {
    // Break file names after '-', ' ' or '_' to fit the cell.
    std::vector<std::string> lines;
    std::string line;
    std::string token;
    auto flush = [&](const std::string &piece) {
        if (!line.empty() && textWidth(cr, line + piece) > width) {
            lines.push_back(line);
            line.clear();
        }
        line += piece;
    };
    for (char c : name) {
        token += c;
        if (c == '-' || c == ' ' || c == '_') {
            flush(token);
            token.clear();
        }
    }
    flush(token);
    if (!line.empty()) {
        lines.push_back(line);
    }
    if (lines.size() > CAPTION_LINES) {
        lines.resize(CAPTION_LINES);
    }
    return lines;
}

void checker(cairo_t *cr, double x, double y, double w, double h) {
    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_clip(cr);
    for (int j = 0; j * 8 < h; j++) {
        for (int i = 0; i * 8 < w; i++) {
            cairo_rectangle(cr, x + i * 8, y + j * 8, 8, 8);
            cairo_set_source_rgb(cr, ((i + j) % 2) ? 0.52 : 0.47, ((i + j) % 2) ? 0.56 : 0.51,
                                 ((i + j) % 2) ? 0.61 : 0.56);
            cairo_fill(cr);
        }
    }
    cairo_restore(cr);
}

// The sheet's layout: shelves of cells under a heading per folder, the
// folders in list order.
struct SheetLayout {
    std::vector<Placed> placed;
    std::vector<std::pair<std::string, int>> headings;
    int height = 0;
};

SheetLayout layoutSheet(const std::vector<AssetSpec> &specs) {
    std::vector<std::string> folders;
    std::map<std::string, std::vector<const AssetSpec *>> byFolder;
    for (const AssetSpec &s : specs) {
        std::string folder = fs::path(s.path).parent_path().string();
        if (byFolder.find(folder) == byFolder.end()) {
            folders.push_back(folder);
        }
        byFolder[folder].push_back(&s);
    }
    SheetLayout layout;
    int y = MARGIN;
    for (const std::string &folder : folders) {
        layout.headings.emplace_back(folder, y);
        y += HEADING;
        int x = MARGIN;
        int shelf = 0;
        for (const AssetSpec *s : byFolder[folder]) {
            int cell = std::max(s->width, 110);
            int cellHeight = s->height + 4 + CAPTION_LINE * CAPTION_LINES;
            if (x + cell > SHEET_WIDTH - MARGIN && x > MARGIN) {
                x = MARGIN;
                y += shelf + GAP;
                shelf = 0;
            }
            layout.placed.push_back(Placed{s, x, y, cell});
            x += cell + GAP;
            shelf = std::max(shelf, cellHeight);
        }
        y += shelf + GAP * 2;
    }
    layout.height = y + MARGIN;
    return layout;
}

void drawHeadings(cairo_t *cr, const SheetLayout &layout) {
    TextStyle head;
    head.size = 15;
    head.color = rgb(0x23344A);
    head.align = ALIGN_LEFT;
    for (const auto &h : layout.headings) {
        drawTextAt(cr, head, h.first + "/", MARGIN, h.second + 18);
        cairo_rectangle(cr, MARGIN, h.second + 23, SHEET_WIDTH - 2 * MARGIN, 1);
        cairo_set_source_rgb(cr, 0.7, 0.74, 0.79);
        cairo_fill(cr);
    }
}

// One image on its checkerboard (red when missing) with its name and size
// under it. Returns false when the image is missing.
bool drawCell(cairo_t *cr, const Placed &p, const std::string &data) {
    TextStyle caption;
    caption.size = 9.5;
    caption.bold = false;
    caption.color = rgb(0x2B2B2B);
    caption.align = ALIGN_LEFT;
    const AssetSpec &s = *p.asset;
    checker(cr, p.x, p.y, s.width, s.height);
    fs::path file = fs::path(data) / s.path;
    cairo_surface_t *image = cairo_image_surface_create_from_png(file.c_str());
    bool found = cairo_surface_status(image) == CAIRO_STATUS_SUCCESS;
    if (found) {
        cairo_set_source_surface(cr, image, p.x, p.y);
        cairo_paint(cr);
    } else {
        cairo_set_source_rgb(cr, 0.8, 0.1, 0.1);
        cairo_rectangle(cr, p.x, p.y, s.width, s.height);
        cairo_fill(cr);
    }
    cairo_surface_destroy(image);
    setFont(cr, false, caption.size);
    std::string name = fs::path(s.path).filename().string() + " " + std::to_string(s.width) + "x" +
                       std::to_string(s.height);
    int line = 0;
    for (const std::string &text : captionLines(cr, name, p.cellWidth)) {
        drawTextAt(cr, caption, text, p.x, p.y + s.height + 12 + line * CAPTION_LINE);
        line++;
    }
    return found;
}

int sheet(const std::string &outPath, const Options &o) {
    std::string error;
    std::vector<AssetSpec> specs;
    if (!assetListLoad(o.list, &specs, &error)) {
        fprintf(stderr, "tstat-assets: %s\n", error.c_str());
        return 1;
    }
    fs::path fontDir = fs::path(o.data) / "fonts";
    if (!fontsLoad(fontDir.string(), &error)) {
        fprintf(stderr, "tstat-assets: %s\n", error.c_str());
        return 1;
    }
    SheetLayout layout = layoutSheet(specs);
    cairo_surface_t *surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, SHEET_WIDTH, layout.height);
    cairo_t *cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0.93, 0.94, 0.95);
    cairo_paint(cr);
    drawHeadings(cr, layout);
    int missing = 0;
    for (const Placed &p : layout.placed) {
        missing += drawCell(cr, p, o.data) ? 0 : 1;
    }
    cairo_destroy(cr);
    bool ok = writePng(surface, outPath);
    cairo_surface_destroy(surface);
    fontsRelease();
    if (!ok) {
        return 1;
    }
    printf("tstat-assets: contact sheet of %zu images in %s", layout.placed.size(),
           outPath.c_str());
    if (missing != 0) {
        printf(" (%d missing, shown red)", missing);
    }
    printf("\n");
    return missing == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (argc >= 2 && strcmp(argv[1], "generate") == 0) {
        if (!parseOptions(argc, argv, 2, &o)) {
            return usage();
        }
        return generate(o);
    }
    if (argc >= 3 && strcmp(argv[1], "sheet") == 0) {
        if (!parseOptions(argc, argv, 3, &o)) {
            return usage();
        }
        return sheet(argv[2], o);
    }
    return usage();
}
