// Display part of the platform layer.
//
// Board flavour: the screen engine draws straight into the frame buffer;
// these functions do nothing.
//
// Host flavour (the simulated board):
//  - after each flip the frame is published as $TSTAT_ROOT/sim/screen.png,
//    written through a temporary file and a rename, at most ten times per
//    second of host time (twice while simulated time runs faster); a frame flipped too soon after
//    the last one is published by a later platformDisplayPoll (or by platformDisplayStop), so the
//    last frame shown is never lost;
//  - platformDisplayPoll pumps SDL's events so that a window stays
//    responsive, and turns window keys into the same 16-byte key records the
//    key device delivers, written to the key FIFO $TSTAT_ROOT/dev/input/event0:
//    arrow up and down, Return or space for the mode key, Escape for the
//    fourth key; closing the window presses the fourth key.
#pragma once

#include <cstddef>
#include <cstdint>

struct SDL_Surface;

// ---- Key event records -------------------------------------------------------

// The key device of the four touch keys.
constexpr const char *PLATFORM_KEY_DEVICE = "/dev/input/event0";

// A key event as the key device delivers it on the 32-bit board: 8 bytes of
// time (ignored), u16 type, u16 code, s32 value, little-endian.
constexpr size_t PLATFORM_KEY_EVENT_SIZE = 16;

// The event type of a key (EV_KEY), and the codes of the four touch keys.
constexpr uint16_t BUTTON_EVENT_KEY = 1;
constexpr uint16_t BUTTON_CODE_DOWN = 0x100; // BTN_0
constexpr uint16_t BUTTON_CODE_MODE = 0x101; // BTN_1
constexpr uint16_t BUTTON_CODE_UP = 0x102;   // BTN_2
constexpr uint16_t BUTTON_CODE_EXIT = 0x103; // BTN_3: ends the program

// A key event's value.
constexpr int32_t BUTTON_VALUE_RELEASED = 0;
constexpr int32_t BUTTON_VALUE_PRESSED = 1;
constexpr int32_t BUTTON_VALUE_REPEATED = 2;

struct PlatformKeyEvent {
    uint16_t type;
    uint16_t code;
    int32_t value;
};

// Encodes an event into a 16-byte record, with the board's 32-bit time stamp
// (seconds and microseconds; the application ignores it).
inline void platformEncodeKeyEvent(const PlatformKeyEvent &event,
                                   uint8_t record[PLATFORM_KEY_EVENT_SIZE], int64_t seconds = 0,
                                   int32_t microseconds = 0) {
    uint32_t time[2] = {static_cast<uint32_t>(seconds), static_cast<uint32_t>(microseconds)};
    for (size_t i = 0; i < 8; i++) {
        record[i] = static_cast<uint8_t>(time[i / 4] >> (8 * (i % 4)));
    }
    uint32_t value = static_cast<uint32_t>(event.value);
    record[8] = static_cast<uint8_t>(event.type);
    record[9] = static_cast<uint8_t>(event.type >> 8);
    record[10] = static_cast<uint8_t>(event.code);
    record[11] = static_cast<uint8_t>(event.code >> 8);
    record[12] = static_cast<uint8_t>(value);
    record[13] = static_cast<uint8_t>(value >> 8);
    record[14] = static_cast<uint8_t>(value >> 16);
    record[15] = static_cast<uint8_t>(value >> 24);
}

// Decodes a 16-byte record.
inline PlatformKeyEvent platformDecodeKeyEvent(const uint8_t record[PLATFORM_KEY_EVENT_SIZE]) {
    PlatformKeyEvent event;
    event.type = static_cast<uint16_t>(record[8] | (record[9] << 8));
    event.code = static_cast<uint16_t>(record[10] | (record[11] << 8));
    event.value = static_cast<int32_t>(
        static_cast<uint32_t>(record[12]) | (static_cast<uint32_t>(record[13]) << 8) |
        (static_cast<uint32_t>(record[14]) << 16) | (static_cast<uint32_t>(record[15]) << 24));
    return event;
}

// ---- Frames and events -------------------------------------------------------

// Called before the video system starts. On the host it chooses SDL's dummy
// driver when no driver is named and there is no X display, so that a
// headless run still draws (into sim/screen.png); a window otherwise.
void platformDisplayPrepare();
// The video surface now in use (after SDL_SetVideoMode).
void platformDisplayStart(SDL_Surface *screen);
// Asked before a frame is drawn. On the host, while simulated time runs
// faster than the host's, frames are drawn at most 20 times per second of
// host time (a later pass draws the change) and published at most twice:
// sped-up blinking and screen-saver moves would otherwise take the processor
// from the control. In lock-step time only when the simulator asks for a
// frame (a later pass that does draws the change). Always true on the board
// and at normal speed.
bool platformDisplayMayDraw();
// Called after each SDL_Flip of that surface.
void platformDisplayFlipped();
// Called on every render pass, drawn or not: events, keys, a pending frame.
void platformDisplayPoll();
// Publishes a pending frame and forgets the surface; called before SDL_Quit.
void platformDisplayStop();

// Writes the current frame of the surface to a PNG file (through a temporary
// file and a rename). 0, or -1 (always -1 on the board).
int platformDisplaySnapshot(const char *path);
// Writes any surface's pixels to a PNG file the same way. 0, or -1.
int platformSurfaceSnapshot(SDL_Surface *surface, const char *path);

// Notes the number of the page the user interface shows, and whether a
// pop-up that times out is open over it. On the host they are published
// as sim/page, one line with the number and 1 or 0 for the pop-up, as soon
// as either changes once the display is up (rewritten through a rename);
// nothing on the board. The display manager notes the pop-up after the
// page, once a pass.
void platformDisplayNotePage(uint8_t page);
void platformDisplayNotePopUp(bool open);

// For tests: how many frames were published, and forgetting all state.
uint32_t platformDisplayPublishedFrames();
void platformDisplayReset();
