// A demonstration screen of the graphics engine with one item of each kind,
// built like the product's screen tables from the product's images and
// fonts, with fixed texts. (The product's pages are rendered by
// `tstat-sim gallery`.)
#pragma once

#include "graphics/screen.h"

#include <cstddef>

struct DemoScreen {
    const char *name; // file name stem of its render
    ScreenItem *items;
    // Puts the screen into a typical state once it is loaded (visibility,
    // images); may be null.
    void (*prepare)(DisplayContext *display);
};

extern ScreenItem demoKinds[];

// Every demo screen, for the demo renders.
const DemoScreen *demoScreens(size_t *count);

// Counts the update calls of the clock text, so a test can change it.
extern char g_demoClock[16];
