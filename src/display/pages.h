// Entry functions of the display pages that other subsystems open.
#pragma once

// Shows the main page.
void displayMainPage();
// Shows a text from the building controller on the message page, wrapped
// into ten lines; it stays until a key is pressed.
void displayMessageScreenPage(const char *text);
