// The cross build's tests run on the board's own core, an ARM926EJ-S
// (ARMv5TE): an instruction of a newer core is refused, in a test and in
// every program that a test starts.
#include "run_tool.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <csignal>

namespace {
sigjmp_buf m_Refused;

void onIllegalInstruction(int) {
    siglongjmp(m_Refused, 1);
}

// Runs movw (ARMv6T2 and later) here and tells whether the core refused it.
bool newerInstructionRefused() {
    struct sigaction handler = {};
    struct sigaction previous = {};
    handler.sa_handler = onIllegalInstruction;
    sigaction(SIGILL, &handler, &previous);
    bool refused = true;
    if (sigsetjmp(m_Refused, 1) == 0) {
        unsigned value = 0;
        __asm__ volatile(".arch armv7-a\n\tmovw %0, #0x1234\n\t.arch armv5te" : "=r"(value));
        refused = false;
    }
    sigaction(SIGILL, &previous, nullptr);
    return refused;
}
} // namespace

TEST(BoardCore, RefusesInstructionsOfNewerCoresHereAndInStartedPrograms) {
    EXPECT_TRUE(newerInstructionRefused());
    ToolResult probe = runTool(TSTAT_ARMV7_PROBE, {});
    EXPECT_EQ(probe.status, -1) << "exit status " << probe.status;
    EXPECT_NE(probe.err.find("Illegal instruction"), std::string::npos) << probe.err;
}
