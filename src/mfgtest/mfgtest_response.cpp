// The manufacturing test's step number and the coprocessor's last answer to
// a test. The control bus reaches the test only through these, so they stand
// apart from the sequence and what it drives.
#include "coproc/coproc_msg.h"
#include "mfgtest/mfgtest.h"

#include <cstdio>

namespace {

char m_KorabusResp[COPROC_TEXT_MAX + 1];

} // namespace

uint32_t g_MfgTestState = 0;
uint8_t g_MfgTestMode = 0;

void set_mfg_test_resp(const char *text) {
    snprintf(m_KorabusResp, sizeof(m_KorabusResp), "%s", text != nullptr ? text : "");
}

const char *get_mfg_test_resp() {
    return m_KorabusResp;
}
