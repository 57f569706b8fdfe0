// The page table, at the top of the user interface: one constant row per
// display page (the row type is the display manager's, dispman/page_entry.h),
// handed to the display manager once at start-up as the one table it
// dispatches through.
#pragma once

#include "dispman/page_entry.h"

// The rows, in the order displayManagerInit runs their initialisers, and the
// page functions the display manager calls on its own.
const PageTable &pageTable();

// Every page's state back to process start, and its screen tables as
// written. For tests.
void pagesReset();
