// Board flavour of the display part of the platform layer: the screen engine
// draws into the frame buffer itself, so there is nothing to publish and no
// window to serve.
#include "platform/platform_display.h"

void platformDisplayPrepare() {}

void platformDisplayStart(SDL_Surface *screen) {
    (void)screen;
}

bool platformDisplayMayDraw() {
    return true;
}

void platformDisplayFlipped() {}

void platformDisplayPoll() {}

void platformDisplayStop() {}

int platformDisplaySnapshot(const char *path) {
    (void)path;
    return -1;
}

int platformSurfaceSnapshot(SDL_Surface *surface, const char *path) {
    (void)surface;
    (void)path;
    return -1;
}

void platformDisplayNotePage(uint8_t page) {
    (void)page;
}

void platformDisplayNotePopUp(bool open) {
    (void)open;
}

uint32_t platformDisplayPublishedFrames() {
    return 0;
}

void platformDisplayReset() {}
