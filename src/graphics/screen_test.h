// Test hooks of the screen engine.
#pragma once

#include <cstdint>

// What the render passes did since the last screenReset.
struct ScreenRenderCounters {
    uint32_t passes; // screenRender calls that reached a current screen
    uint32_t fills;  // whole-screen clears
    uint32_t blits;  // surfaces blitted (bitmaps, texts, glyphs, cursor)
    uint32_t flips;  // SDL_Flip calls
};

const ScreenRenderCounters &screenRenderCounters();

// Stops the display if it runs and returns the engine to its start-up state.
void screenReset();
