// Board flavour of the display part of the platform layer: the screen engine
// draws into the frame buffer itself, so there is no frame to publish and no
// window to serve. The page shown is said on the console when it changes
// ("page shown: PAGE POPUP"), for whoever follows the board from outside.
#include "platform/platform_display.h"

#include <cstdio>

namespace {

int m_NotedPage = -1;
bool m_NotedPopUp = false;
int m_SaidPage = -1;

} // namespace

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
    m_NotedPage = page;
}

// The display manager notes the pop-up after the page, once a pass.
void platformDisplayNotePopUp(bool open) {
    m_NotedPopUp = open;
    int noted = m_NotedPage < 0 ? -1 : m_NotedPage | (m_NotedPopUp ? 0x100 : 0);
    if (noted == m_SaidPage || m_NotedPage < 0) {
        return;
    }
    m_SaidPage = noted;
    printf("page shown: %d %d\n", m_NotedPage, m_NotedPopUp ? 1 : 0);
    fflush(stdout);
}

uint32_t platformDisplayPublishedFrames() {
    return 0;
}

void platformDisplayReset() {}
