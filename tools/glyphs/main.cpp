// tstat-glyphs: builds the thermostat's glyph file from a glyph source, and
// shows what a glyph file holds.
//
//   tstat-glyphs build SOURCE OUT [--fonts DIR]
//   tstat-glyphs dump FILE [ID...]
#include "glyph_source.h"
#include "glyph_writer.h"

#include "host/file_descriptor.h"

#include "graphics/abf.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int usage() {
    fprintf(stderr, "usage: tstat-glyphs build SOURCE OUT [--fonts DIR]\n"
                    "       tstat-glyphs dump FILE [ID...]\n");
    return 2;
}

// Writes the file through a temporary name and a rename.
bool writeAtomic(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::string tmp = path + ".tmp";
    {
        FileDescriptor fd(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        if (fd.get() < 0) {
            fprintf(stderr, "tstat-glyphs: cannot create %s: %s\n", tmp.c_str(), strerror(errno));
            return false;
        }
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t put = write(fd.get(), bytes.data() + done, bytes.size() - done);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                fprintf(stderr, "tstat-glyphs: cannot write %s: %s\n", tmp.c_str(),
                        strerror(errno));
                unlink(tmp.c_str());
                return false;
            }
            done += static_cast<size_t>(put);
        }
        if (!fd.closeNow()) {
            unlink(tmp.c_str());
            return false;
        }
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        fprintf(stderr, "tstat-glyphs: cannot rename to %s: %s\n", path.c_str(), strerror(errno));
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

int build(int argc, char **argv) {
    if (argc != 4 && argc != 6) {
        return usage();
    }
    std::string fonts;
    if (argc == 6) {
        if (strcmp(argv[4], "--fonts") != 0) {
            return usage();
        }
        fonts = argv[5];
    }
    GlyphFileLayout layout;
    std::string error;
    if (!glyphLoadSource(argv[2], fonts, &layout, &error)) {
        fprintf(stderr, "tstat-glyphs: %s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes;
    if (!glyphBuildFile(layout, &bytes, &error)) {
        fprintf(stderr, "tstat-glyphs: %s\n", error.c_str());
        return 1;
    }
    return writeAtomic(argv[3], bytes) ? 0 : 1;
}

void *dumpAlloc(uint32_t width, uint32_t height, uint16_t *pitch, uint16_t *background,
                uint16_t **pixels) {
    auto *frame = static_cast<uint16_t *>(calloc(static_cast<size_t>(width) * height, 2));
    *pitch = static_cast<uint16_t>(width);
    *background = 0;
    *pixels = frame;
    return frame;
}

void dumpFree(void *frame) {
    free(frame);
}

void dumpGlyph(AbfHandle *handle, uint16_t id) {
    AbfGlyph *glyph = abfLoadAndRenderGlyph565(handle, id, dumpAlloc, dumpFree, 0xFFFF);
    if (glyph == nullptr) {
        return;
    }
    printf("glyph %u: %u x %u, advance %u, baseline %u\n", id, glyph->width, glyph->height,
           glyph->extra[0], glyph->extra[1]);
    for (uint32_t y = 0; y < glyph->height; y++) {
        putchar(' ');
        for (uint32_t x = 0; x < glyph->width; x++) {
            putchar(glyph->pixels[y * glyph->pitch + x] != 0 ? '#' : '.');
        }
        putchar('\n');
    }
    abfReleaseGlyph(handle, glyph);
}

int dump(int argc, char **argv) {
    if (argc < 3) {
        return usage();
    }
    AbfHandle *handle = abfOpen(argv[2]);
    if (handle == nullptr) {
        return 1;
    }
    printf("%s: %u bytes, version %u, %u glyphs, largest %u x %u, highest number %u\n", argv[2],
           handle->fileSize, handle->version, handle->glyphCount, handle->maxWidth,
           handle->maxHeight, handle->highestGlyph);
    if (argc == 3) {
        // Without numbers: every glyph the file holds.
        for (uint32_t id = 0; id <= handle->highestGlyph; id++) {
            uint32_t at = abfLookupGlyph(handle, static_cast<uint16_t>(id));
            if (at != 0 && at != ABF_BAD_OFFSET) {
                dumpGlyph(handle, static_cast<uint16_t>(id));
            }
        }
    }
    for (int i = 3; i < argc; i++) {
        dumpGlyph(handle, static_cast<uint16_t>(strtoul(argv[i], nullptr, 0)));
    }
    abfClose(handle);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && strcmp(argv[1], "build") == 0) {
        return build(argc, argv);
    }
    if (argc >= 2 && strcmp(argv[1], "dump") == 0) {
        return dump(argc, argv);
    }
    return usage();
}
