// The small pages around the main page: help, screen saver, message, hold
// and security code input, with their screen tables.
#pragma once

#include "graphics/screen.h"
#include "menus/menu_engine.h"

#include <cstddef>

constexpr size_t HELP_SCREEN_ITEMS = 14;
constexpr size_t SCREEN_SAVER_ITEMS = 3;
constexpr size_t MESSAGE_SCREEN_ITEMS = 21;
constexpr size_t SECURITY_CODE_INPUT_ITEMS = 19;
extern ScreenItem testScreenHelp[HELP_SCREEN_ITEMS + 1];
extern ScreenItem testScreenScrSvr[SCREEN_SAVER_ITEMS + 1];
extern ScreenItem testScreenMessage[MESSAGE_SCREEN_ITEMS + 1];
extern ScreenItem testScreenSecurityCodeInput[SECURITY_CODE_INPUT_ITEMS + 1];

// The screen saver's moving temperature text.
ScreenItem *screenSaverText();

// The message as received and as wrapped into the page's ten lines.
constexpr size_t MESSAGE_TEXT_SIZE = 400;
constexpr size_t MESSAGE_LINES = 10;
constexpr size_t MESSAGE_LINE_SIZE = 40;
// Text update function of message line `line` (0-9).
void drawMessageScreen(char *buffer, uint32_t line);

// Forgets the pages' state and restores their tables. For tests.
void infoPagesReset();
