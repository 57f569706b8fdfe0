// Firmware download: application and graphics archives received block by
// block through the coprocessor.
#pragma once

// One pass of the download state machine; called on every main-loop pass.
void downloadPoll();
