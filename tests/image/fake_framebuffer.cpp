// The board's frame buffer for the board build of tstat on a development
// host, preloaded into it under qemu-user with SDL's dummy video driver: the
// frame buffer's own mode (asked for as 0 x 0 x 0) is the board's 240 x 320
// panel at 16 bits, and every flipped frame is written as a BMP file to
// $TSTAT_FAKE_FB_BMP, through a temporary file and a rename.
#include <SDL/SDL.h>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>

namespace {

constexpr int PANEL_WIDTH = 240;
constexpr int PANEL_HEIGHT = 320;
constexpr int PANEL_BPP = 16;

template <typename Fn> Fn next(const char *name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// The application's shell commands run on the host, whose loader cannot
// preload this library: they do not inherit it.
__attribute__((constructor)) void forgetPreload() {
    unsetenv("LD_PRELOAD");
}

} // namespace

extern "C" SDL_Surface *SDL_SetVideoMode(int width, int height, int bpp, Uint32 flags) {
    static auto real = next<SDL_Surface *(*)(int, int, int, Uint32)>("SDL_SetVideoMode");
    if (width == 0 && height == 0 && bpp == 0) {
        width = PANEL_WIDTH;
        height = PANEL_HEIGHT;
        bpp = PANEL_BPP;
    }
    return real(width, height, bpp, flags);
}

extern "C" int SDL_Flip(SDL_Surface *screen) {
    static auto real = next<int (*)(SDL_Surface *)>("SDL_Flip");
    const char *path = getenv("TSTAT_FAKE_FB_BMP");
    if (path != nullptr && *path != '\0') {
        std::string temporary = std::string(path) + ".tmp";
        if (SDL_SaveBMP(screen, temporary.c_str()) == 0) {
            rename(temporary.c_str(), path);
        }
    }
    return real(screen);
}
