// Glyph file reader: header validation, the lookup-table chain, glyph
// records and RGB565 rendering. See abf.h for the file layout.
#include "graphics/abf.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Offsets within the 32-byte header.
constexpr size_t HDR_MAGIC = 0;
constexpr size_t HDR_VERSION = 4;
constexpr size_t HDR_COUNT = 6;
constexpr size_t HDR_SIZE = 8;
constexpr size_t HDR_MAX_WIDTH = 12;
constexpr size_t HDR_MAX_HEIGHT = 13;
constexpr size_t HDR_HIGHEST = 14;
constexpr size_t HDR_BYTES = 16;
constexpr size_t HDR_CHECKSUM = 31;

// Offsets within a lookup node head and a glyph entry head.
constexpr size_t NODE_BASE = 2;
constexpr size_t NODE_ENTRY_SIZE = 6;
constexpr size_t NODE_ORDER = 7;
constexpr size_t ENTRY_LENGTH = 2;
constexpr size_t ENTRY_WIDTH = 4;
constexpr size_t ENTRY_HEIGHT = 5;
constexpr size_t ENTRY_EXTRA = 6;

// Bytes one bitmap row takes.
uint32_t rowBytes(uint32_t width) {
    return (width + 7) / 8;
}

void closeAndFree(AbfHandle *handle) {
    close(handle->fd);
    free(handle);
}

} // namespace

uint32_t abfGet32(const uint8_t *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

uint16_t abfGet16(const uint8_t *p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint8_t abfChecksum(const uint8_t *bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; i++) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return sum;
}

AbfHandle *abfOpen(const char *path) {
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        printf("couldn't open abf file %s\n", path);
        return nullptr;
    }
    auto *handle = static_cast<AbfHandle *>(calloc(1, sizeof(AbfHandle)));
    if (handle == nullptr) {
        printf("couldn't alloc abf structure (%s)!\n", strerror(errno));
        close(fd);
        return nullptr;
    }
    handle->fd = fd;
    uint8_t *h = handle->scratch;
    if (abfRead(handle, 0, h, ABF_HEADER_SIZE) != static_cast<int>(ABF_HEADER_SIZE)) {
        puts("couldn't read abf header");
        closeAndFree(handle);
        return nullptr;
    }
    uint32_t magic = abfGet32(h + HDR_MAGIC);
    if (magic != ABF_FILE_MAGIC) {
        printf("invalid magic number (0x%08x)\n", magic);
        closeAndFree(handle);
        return nullptr;
    }
    uint8_t sum = abfChecksum(h, HDR_CHECKSUM);
    if (sum != h[HDR_CHECKSUM]) {
        printf("file header checksum failed (calculated %02x, real %02x)!\n", sum, h[HDR_CHECKSUM]);
        closeAndFree(handle);
        return nullptr;
    }
    uint32_t indicated = abfGet32(h + HDR_SIZE);
    off_t actual = lseek(fd, 0, SEEK_END);
    lseek(fd, 0, SEEK_SET);
    if (actual < 0 || static_cast<uint64_t>(actual) != indicated) {
        printf("file size incorrect (indicated %d, actual %d!)\n", static_cast<int>(indicated),
               static_cast<int>(actual));
        closeAndFree(handle);
        return nullptr;
    }
    handle->fileSize = indicated;
    handle->version = abfGet16(h + HDR_VERSION);
    handle->glyphCount = abfGet16(h + HDR_COUNT);
    handle->maxWidth = h[HDR_MAX_WIDTH];
    handle->maxHeight = h[HDR_MAX_HEIGHT];
    handle->highestGlyph = abfGet16(h + HDR_HIGHEST);
    memcpy(handle->headerBytes, h + HDR_BYTES, sizeof(handle->headerBytes));
    return handle;
}

void abfClose(AbfHandle *handle) {
    if (handle == nullptr) {
        puts("attempted to close NULL ABF handle");
        return;
    }
    closeAndFree(handle);
}

int abfRead(AbfHandle *handle, uint32_t offset, uint8_t *buffer, uint32_t length) {
    if (handle == nullptr || buffer == nullptr) {
        return -1;
    }
    // A failed seek must not turn into a read from wherever the file stands.
    if (lseek(handle->fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(-1)) {
        return -1;
    }
    uint32_t done = 0;
    while (done < length) {
        ssize_t got = read(handle->fd, buffer + done, length - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<uint32_t>(got);
    }
    return static_cast<int>(done);
}

namespace {

// The entry of glyph in the table node at p, whose entries are size (1, 2
// or 4) bytes long; false when it cannot be read or says the glyph has none.
bool tableEntry(AbfHandle *handle, uint32_t p, uint32_t size, uint16_t glyph, uint32_t *entry) {
    uint64_t at = static_cast<uint64_t>(p) + ABF_NODE_HEAD_SIZE + uint64_t{size} * glyph;
    uint8_t raw[4];
    if (at > UINT32_MAX ||
        abfRead(handle, static_cast<uint32_t>(at), raw, size) != static_cast<int>(size)) {
        puts("couldn't read lookup table data");
        return false;
    }
    uint32_t none;
    if (size == 1) {
        *entry = raw[0];
        none = 0xFFu;
    } else if (size == 2) {
        *entry = abfGet16(raw);
        none = 0xFFFFu;
    } else {
        *entry = abfGet32(raw);
        none = 0xFFFFFFFFu;
    }
    return *entry != none;
}

} // namespace

uint32_t abfLookupGlyph(AbfHandle *handle, uint16_t glyph) {
    if (handle == nullptr) {
        return 0;
    }
    uint8_t *head = handle->scratch;
    uint32_t p = static_cast<uint32_t>(ABF_HEADER_SIZE);
    for (int node = 0; node < ABF_MAX_CHAIN_NODES; node++) {
        if (abfRead(handle, p, head, ABF_NODE_HEAD_SIZE) != static_cast<int>(ABF_NODE_HEAD_SIZE)) {
            printf("couldn't read lookup table @ 0x%08x\n", p);
            return 0;
        }
        uint16_t magic = abfGet16(head);
        if (magic == ABF_ENTRY_MAGIC) {
            return p;
        }
        if (magic != ABF_TABLE_MAGIC) {
            printf("unknown magic 0x%04x\n", magic);
            return 0;
        }
        uint32_t base = abfGet32(head + NODE_BASE);
        uint32_t size = head[NODE_ENTRY_SIZE];
        uint32_t order = head[NODE_ORDER];
        if (size == 0) {
            puts("0-length lookup table");
            return 0;
        }
        if (size > 4 || size == 3) {
            printf("unsupported entry size (%d)\n", static_cast<int>(size));
            return ABF_BAD_OFFSET;
        }
        // Counts are 16-bit in a sound file; a larger order cannot exclude any number.
        uint64_t count = order < 32 ? (1ull << order) : (1ull << 32);
        if (glyph >= count) {
            printf("index %d exceeds num table entries (0x%08x, %d)\n", glyph, p,
                   static_cast<int>(count));
            return 0;
        }
        uint32_t entry = 0;
        if (!tableEntry(handle, p, size, glyph, &entry)) {
            return 0;
        }
        p = entry + base;
        if (p == 0xFFFFFFFFu) {
            return 0;
        }
    }
    printf("lookup chain too long @ 0x%08x\n", p);
    return 0;
}

AbfGlyph *abfLoadGlyph(AbfHandle *handle, uint16_t glyph) {
    if (handle == nullptr) {
        puts("invalid parameters");
        return nullptr;
    }
    uint32_t offset = abfLookupGlyph(handle, glyph);
    if (offset == 0) {
        printf("couldn't find glyph %d\n", glyph);
        return nullptr;
    }
    uint8_t *head = handle->scratch;
    if (abfRead(handle, offset, head, ABF_NODE_HEAD_SIZE) != static_cast<int>(ABF_NODE_HEAD_SIZE)) {
        printf("couldn't read entry @ 0x%08x\n", offset);
        return nullptr;
    }
    uint16_t magic = abfGet16(head);
    if (magic != ABF_ENTRY_MAGIC) {
        printf("invalid entry magic @ 0x%08x (0x%04x)\n", offset, magic);
        return nullptr;
    }
    uint16_t length = abfGet16(head + ENTRY_LENGTH);
    uint8_t width = head[ENTRY_WIDTH];
    uint8_t height = head[ENTRY_HEIGHT];
    if (width == 0 || height == 0) {
        printf("invalid glyph size @ 0x%08x (%dx%d)\n", offset, width, height);
        return nullptr;
    }
    // The renderer reads every row in full: a shorter bitmap would be read past its end.
    uint32_t needed = rowBytes(width) * height;
    if (length < needed) {
        printf("glyph data too short @ 0x%08x (%d bytes, %d needed)\n", offset, length,
               static_cast<int>(needed));
        return nullptr;
    }
    auto *record = static_cast<AbfGlyph *>(malloc(sizeof(AbfGlyph) + length));
    if (record == nullptr) {
        printf("failed allocating glyph memory (%d)\n", length);
        return nullptr;
    }
    memset(record, 0, sizeof(AbfGlyph));
    record->length = length;
    record->width = width;
    record->height = height;
    record->extra[0] = head[ENTRY_EXTRA];
    record->extra[1] = head[ENTRY_EXTRA + 1];
    record->bitmap = reinterpret_cast<uint8_t *>(record + 1);
    if (abfRead(handle, offset + static_cast<uint32_t>(ABF_NODE_HEAD_SIZE), record->bitmap,
                length) != length) {
        printf("failed reading glyph data (0x%08x, %d))\n", offset, length);
        free(record);
        return nullptr;
    }
    return record;
}

AbfGlyph *abfLoadAndRenderGlyph565(AbfHandle *handle, uint16_t glyph, AbfFrameAlloc allocator,
                                   AbfFrameRelease releaser, uint16_t colour565) {
    if (handle == nullptr || allocator == nullptr) {
        puts("invalid parameters");
        return nullptr;
    }
    AbfGlyph *record = abfLoadGlyph(handle, glyph);
    if (record == nullptr) {
        printf("failed loading glyph %d\n", glyph);
        return nullptr;
    }
    uint16_t pitch = 0;
    uint16_t background = 0;
    uint16_t *pixels = nullptr;
    void *frame = allocator(record->width, record->height, &pitch, &background, &pixels);
    if (frame == nullptr) {
        puts("error allocating glyph frame");
        abfReleaseGlyph(handle, record);
        return nullptr;
    }
    record->frame = frame;
    record->release = releaser;
    record->background = background;
    record->pitch = pitch;
    record->pixels = pixels;
    if (abfRenderGlyph565(handle, record, colour565) != 0) {
        abfReleaseGlyph(handle, record);
        return nullptr;
    }
    return record;
}

int abfRenderGlyph565(AbfHandle *handle, AbfGlyph *glyph, uint16_t colour565) {
    // A frame narrower than the glyph or without pixels cannot take it.
    if (handle == nullptr || glyph == nullptr || glyph->pixels == nullptr ||
        glyph->pitch < glyph->width) {
        puts("invalid parameters");
        return -1;
    }
    uint32_t stride = rowBytes(glyph->width) * 8;
    for (uint32_t y = 0; y < glyph->height; y++) {
        for (uint32_t x = 0; x < glyph->width; x++) {
            uint32_t k = stride * y + x;
            bool ink = (glyph->bitmap[k / 8] & (0x80u >> (k % 8))) != 0;
            glyph->pixels[glyph->pitch * y + x] = ink ? colour565 : glyph->background;
        }
    }
    return 0;
}

void *abfGetGlyphFrame(AbfHandle *handle, AbfGlyph *glyph) {
    (void)handle;
    if (glyph == nullptr) {
        puts("attempt to get frame info for null glyph!");
        return nullptr;
    }
    return glyph->frame;
}

void abfReleaseGlyph(AbfHandle *handle, AbfGlyph *glyph) {
    (void)handle;
    if (glyph == nullptr) {
        puts("attempt to free null glyph!");
        return;
    }
    if (glyph->release != nullptr && glyph->frame != nullptr) {
        glyph->release(glyph->frame);
    }
    free(glyph);
}
