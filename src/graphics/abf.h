// Glyph file ("abf") reader: opens and validates "images/zeph.glyph", finds a
// glyph by its 16-bit number through the file's chain of lookup tables, loads
// its one-bit bitmap and renders it in one colour into a caller's 16-bit
// RGB565 frame.
//
// File layout (every number big-endian):
//   header (32 bytes at offset 0): magic 0xAB243D30; two 16-bit fields; the
//     total file size (u32); two 8-bit fields; a 16-bit field; four bytes;
//     eleven bytes covered only by the checksum; the checksum (sum of bytes
//     0-30 modulo 256) in byte 31.
//   lookup table node: magic 0xAB25, base offset (u32), entry size (1, 2 or
//     4), n (the table holds 2^n entries), then the entries. Entry i belongs
//     to glyph number i; the all-ones value means "no such glyph", any other
//     value v leads to the node at file offset v + base. The first node is at
//     offset 32 and every node is indexed with the same full glyph number.
//   glyph entry: magic 0xAB26, bitmap length L (u16), width and height
//     (1-255 each), two further bytes, then L bytes of bitmap: rows from the
//     top, each starting on a byte boundary, most significant bit leftmost,
//     1 = ink.
//
// The header fields and the two further entry bytes are kept but not
// interpreted by the reader. The files written by tstat-glyphs use them as:
// field 1 format version, field 2 number of glyphs, field 3 and field 4 the
// largest width and height, field 5 the highest glyph number, the four bytes
// "TSGL"; entry bytes: the glyph's horizontal advance and baseline row.
//
// Every failure prints one line on standard output and yields null (or "not
// found"); nothing is ever read outside the file or outside the buffers.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t ABF_FILE_MAGIC = 0xAB243D30u;
constexpr uint16_t ABF_TABLE_MAGIC = 0xAB25;
constexpr uint16_t ABF_ENTRY_MAGIC = 0xAB26;
constexpr size_t ABF_HEADER_SIZE = 32;
constexpr size_t ABF_NODE_HEAD_SIZE = 8;
// A lookup that passes this many table nodes is treated as a broken chain
// (a table pointing back at itself or round in a circle).
constexpr int ABF_MAX_CHAIN_NODES = 16;
// abfLookupGlyph's result for an unusable entry size: an offset no read can use.
constexpr uint32_t ABF_BAD_OFFSET = 0xFFFFFFFFu;

// Allocates a frame of width x height 16-bit pixels for a glyph; reports the
// frame's pitch in pixels, its background pixel value and its pixel memory.
// Returns the frame handle, or null.
typedef void *(*AbfFrameAlloc)(uint32_t width, uint32_t height, uint16_t *pitch,
                               uint16_t *background, uint16_t **pixels);
// Releases a frame made by the allocator.
typedef void (*AbfFrameRelease)(void *frame);

struct AbfHandle {
    int fd;
    uint8_t scratch[ABF_HEADER_SIZE]; // heads are read into it
    uint32_t fileSize;
    uint16_t version;       // header field at offset 4
    uint16_t glyphCount;    // header field at offset 6
    uint8_t maxWidth;       // header field at offset 12
    uint8_t maxHeight;      // header field at offset 13
    uint16_t highestGlyph;  // header field at offset 14
    uint8_t headerBytes[4]; // offset 16
};

// One allocation: the record, then right behind it the L bitmap bytes.
struct AbfGlyph {
    uint16_t length; // L, bitmap bytes
    uint8_t width;
    uint8_t height;
    uint8_t extra[2]; // the two further entry bytes
    uint8_t *bitmap;  // points just past the record
    void *frame;      // the caller's frame, or null
    uint16_t background;
    uint16_t pitch;   // frame pitch in pixels
    uint16_t *pixels; // the frame's pixels
    AbfFrameRelease release;
};

// Decoders of big-endian numbers in a byte buffer.
uint32_t abfGet32(const uint8_t *p);
uint16_t abfGet16(const uint8_t *p);
// 8-bit sum of count bytes.
uint8_t abfChecksum(const uint8_t *bytes, size_t count);

// Opens and validates a glyph file; null when it cannot be used.
AbfHandle *abfOpen(const char *path);
// Closes the file and frees the handle.
void abfClose(AbfHandle *handle);
// Reads length bytes at an absolute offset: the number of bytes read, or -1.
int abfRead(AbfHandle *handle, uint32_t offset, uint8_t *buffer, uint32_t length);
// File offset of the glyph's entry, 0 when there is none, or ABF_BAD_OFFSET
// when a table has an unusable entry size.
uint32_t abfLookupGlyph(AbfHandle *handle, uint16_t glyph);
// Loads a glyph's record and bitmap; null on failure. Free with abfReleaseGlyph.
AbfGlyph *abfLoadGlyph(AbfHandle *handle, uint16_t glyph);
// Loads a glyph, gets a frame for it from the allocator and renders it in colour565.
AbfGlyph *abfLoadAndRenderGlyph565(AbfHandle *handle, uint16_t glyph, AbfFrameAlloc allocator,
                                   AbfFrameRelease releaser, uint16_t colour565);
// Renders a loaded glyph into its frame: ink in colour565, the rest background. 0 or -1.
int abfRenderGlyph565(AbfHandle *handle, AbfGlyph *glyph, uint16_t colour565);
// The glyph's frame, or null.
void *abfGetGlyphFrame(AbfHandle *handle, AbfGlyph *glyph);
// Releases the glyph's frame through its callback, then the record.
void abfReleaseGlyph(AbfHandle *handle, AbfGlyph *glyph);
