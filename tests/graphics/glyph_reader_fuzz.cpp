// Fuzz target of the glyph file reader: the input is a glyph file. It is
// read as it is, and once more with its size field and header checksum
// repaired, so that mutations reach the lookup chain and the glyph entries.
#include "fuzz_support.h"
#include "graphics/abf.h"

#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// Frames as a caller short of room makes them: none above 4096 pixels, and
// for glyphs of odd height a pitch one pixel narrower than the glyph, which
// rendering must refuse.
void *allocFrame(uint32_t width, uint32_t height, uint16_t *pitch, uint16_t *background,
                 uint16_t **pixels) {
    if (static_cast<size_t>(width) * height > 4096) {
        return nullptr;
    }
    auto *frame = static_cast<uint16_t *>(calloc(static_cast<size_t>(width) * height, 2));
    *pitch = static_cast<uint16_t>(height % 2 != 0 && width > 0 ? width - 1 : width);
    *background = 0;
    *pixels = frame;
    return frame;
}

void freeFrame(void *frame) {
    free(frame);
}

void readFile(const uint8_t *data, size_t size) {
    int fd = memfd_create("glyphs", 0);
    if (fd < 0) {
        return;
    }
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return;
    }
    char path[64];
    snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    AbfHandle *h = abfOpen(path);
    if (h != nullptr) {
        std::vector<uint16_t> ids = {0, 1, 2, 6, 48, 57, 128, 131, 176, 255, 0x7FFF, 0xFFFF};
        // A few numbers from the input's tail.
        for (size_t i = 0; i + 1 < size && i < 8; i += 2) {
            ids.push_back(static_cast<uint16_t>(data[size - 1 - i] | (data[size - 2 - i] << 8)));
        }
        for (uint16_t id : ids) {
            AbfGlyph *g = abfLoadAndRenderGlyph565(h, id, allocFrame, freeFrame, 0xFFE0);
            if (g != nullptr) {
                abfRenderGlyph565(h, g, 0x001F);
                abfReleaseGlyph(h, g);
            }
        }
        abfClose(h);
    }
    close(fd);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzQuietStart();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    readFile(data, size);
    if (size >= ABF_HEADER_SIZE) {
        std::vector<uint8_t> fixed(data, data + size);
        fixed[8] = static_cast<uint8_t>(size >> 24);
        fixed[9] = static_cast<uint8_t>(size >> 16);
        fixed[10] = static_cast<uint8_t>(size >> 8);
        fixed[11] = static_cast<uint8_t>(size);
        fixed[31] = abfChecksum(fixed.data(), 31);
        readFile(fixed.data(), fixed.size());
    }
    return 0;
}
