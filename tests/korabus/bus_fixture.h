// Shared set-up of the control-bus tests: the thermostat of bus_board.h with
// its coprocessor link captured.
#pragma once

#include "board_root.h"
#include "bus_board.h"
#include "config/persist.h"
#include "coproc_capture.h"
#include "fixed.h"
#include "modules.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

class BusTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts afresh from a factory image made with these options.
    void boot(const FactoryOptions &options);
    // Texts of the replies (0x0C) sent since the last call; other frames are dropped.
    std::vector<std::string> replies();
    // Channels (0x13) and levels (0x04) sent since the last call, number -> value,
    // with how often each number was sent.
    struct Sent {
        std::map<int, int> channels;
        std::map<int, int> levels;
        std::map<int, int> channelCount;
        std::vector<std::string> replies;
    };
    Sent sent();
    // The record as the store holds it, and as saved in the user region.
    static TstatSysCfgPersistMem_t image() { return memoryRecord(); }
    TstatSysCfgPersistMem_t saved() const { return recordIn(m_root.read("/dev/mtdblock5")); }
    // The pages whose refresh is requested.
    std::vector<int> refreshRequests();

    TempBoardRoot m_root;
    std::unique_ptr<CoprocCapture> m_link;
};
