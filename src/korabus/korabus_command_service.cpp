// Control-bus commands of service: the factory reset ("ZAP!"), the button
// lockout and its code ("LK", "CD"), the serial number ("?SERIAL",
// "SERIAL"), the application's version ("HVER"), the installed bundle and
// the last field update ("?UPDATE"), the filter reminder ("?FILTER",
// "FILTER") and the firmware downloads ("SFLASH0-2").
#include "config/data_dict.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "coproc/coproc_msg.h"
#include "coproc/download.h"
#include "dispman/display_manager.h"
#include "hvac/hvac_control.h"
#include "korabus/korabus_command_support.h"
#include "korabus/korabus_data.h"
#include "korabus/korabus_internal.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"
#include "platform/platform.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int32_t c_MaxSecurityCode = 9999;
constexpr int32_t c_MaxLockTime = 60;
constexpr int32_t c_MaxLockRange = 10;
constexpr int32_t c_MaxFilterDays = 180;

// What the installer of update bundles leaves on the board: the running
// bundle's MANIFEST (its "# version:" and "# security:" lines come first)
// and the last update's verdict, one word.
constexpr const char *c_RunningManifest = "/opt/tstat/MANIFEST";
constexpr const char *c_LastUpdate = "/slots/last-update";

// The first len - 1 bytes of a file, ended with a NUL; false when it cannot
// be read.
bool readHead(const char *designPath, char *buf, size_t len) {
    int fd = platformOpenDevice(designPath, O_RDONLY | O_CLOEXEC);
    ssize_t got = fd >= 0 ? read(fd, buf, len - 1) : -1;
    if (fd >= 0) {
        close(fd);
    }
    buf[got > 0 ? got : 0] = '\0';
    return got > 0;
}

// The word that text holds from at (after key, when key is given): its
// characters up to the first one that is not graphic ASCII, into out. out
// keeps its text when there is none.
void wordAt(const char *text, const char *key, char *out, size_t len) {
    const char *at = text;
    if (key != nullptr) {
        at = strstr(text, key);
        if (at == nullptr || (at != text && at[-1] != '\n')) {
            return;
        }
        at += strlen(key);
    }
    size_t n = 0;
    while (n + 1 < len && isgraph(static_cast<unsigned char>(at[n])) != 0) {
        n++;
    }
    if (n > 0) {
        memcpy(out, at, n);
        out[n] = '\0';
    }
}

} // namespace

void korabusCommandZap(char *) {
    if (restoreTstatSysCfgFactoryDefault() == -1) {
        return;
    }
    initialiseTStatFormat();
    // The control frame works on copies of the settings: give it the
    // factory ones, or it would go on controlling with the old equipment.
    initialiseHvacAlgorithms();
    initialiseHoldModeMenu();
    initialiseProgramMenu();
    initialiseVacationModeMenu();
    switch (dispManGetCurrentPage()) {
    case PAGE_HOLD:
        getHoldModeSPFromDataDict();
        break;
    case PAGE_PROGRAM:
        getCurrDayProgModeSPFromDataDict(getProgramMenuDay());
        break;
    case PAGE_VACATION:
        getVacModeSPFromDataDict();
        break;
    case PAGE_MAIN:
        if (displayManagerScreenSaverShown() == 0) {
            displayMainPage();
        }
        break;
    default:
        break;
    }
    coprocMsgSendVersionKnown();
    g_IsZapCommand = 1;
    korabusSave();
}

void korabusCommandLockout(char *args) {
    static constexpr std::array<const char *, 7> c_Descriptors = {"MR", "FR", "TR", "MT",
                                                                  "FT", "TT", "RR"};
    enum { MODE, FAN, TEMP, MODE_TIME, FAN_TIME, TEMP_TIME, RANGE, FIELDS };
    char *tokens[FIELDS];
    size_t n = korabusSplitTokens(args, tokens, FIELDS);
    TstatLockoutCfg_t lockout;
    getLockoutConfiguration(&lockout);
    for (size_t i = 0; i < n; i++) {
        char *text = nullptr;
        int which = korabusMatchDescriptor(tokens[i], c_Descriptors, &text);
        int32_t value = 0;
        if (which >= 0 && !korabusNumber(text, &value)) {
            return;
        }
        LockState lock = value != 0 ? LOCK_LOCKED : LOCK_UNLOCKED;
        // Lock times are minutes 0-60 and the range limit degrees 0-10, as the
        // lockout page steps them.
        switch (which) {
        case MODE:
            lockout.modeLock = lock;
            break;
        case FAN:
            lockout.fanLock = lock;
            break;
        case TEMP:
            lockout.tempLock = lock;
            break;
        case MODE_TIME:
        case FAN_TIME:
        case TEMP_TIME:
            if (!korabusInRange(value, 0, c_MaxLockTime)) {
                return;
            }
            if (which == MODE_TIME) {
                lockout.modeLockTime = static_cast<uint16_t>(value);
            } else if (which == FAN_TIME) {
                lockout.fanLockTime = static_cast<uint16_t>(value);
            } else {
                lockout.tempLockTimeLimit = static_cast<uint16_t>(value);
            }
            break;
        case RANGE:
            if (!korabusInRange(value, 0, c_MaxLockRange)) {
                return;
            }
            lockout.tempLockRangeLimit = static_cast<uint8_t>(value);
            break;
        default:
            return;
        }
    }
    setLockoutConfiguration(&lockout);
    korabusSave();
    korabusRequestPageRefresh(PAGE_BUTTON_LOCKOUT);
    getButtonLockoutFromDataDict();
    resetLockoutFlags();
}

void korabusCommandSecurityCode(char *args) {
    char *token = korabusDataTokenizeCommand(args, nullptr);
    if (token == nullptr) {
        return;
    }
    // The code is entered as four digits; a larger one could never be entered.
    int32_t code = 0;
    if (!korabusNumber(token, &code) || !korabusInRange(code, 0, c_MaxSecurityCode)) {
        return;
    }
    setSecurityCode(static_cast<uint16_t>(code));
    korabusSave();
}

void korabusCommandSerial(char *) {
    uint8_t serial[TSTAT_SERIAL_NUMBER_LEN] = {};
    // Blank flash or a damaged record has no serial number to tell.
    if (getSerialNumber(serial) != 0) {
        memset(serial, 0, sizeof(serial));
    }
    size_t n = snprintf(g_commandBuf, sizeof(g_commandBuf), "SERIAL ");
    for (size_t i = 0; i < TSTAT_SERIAL_NUMBER_LEN && serial[i] != '\0'; i++) {
        g_commandBuf[n++] = static_cast<char>(serial[i]);
    }
    g_commandBuf[n] = '\0';
    korabusSendReply();
}

void korabusCommandWriteSerial(char *args) {
    char *token = korabusDataTokenizeCommand(args, nullptr);
    if (token == nullptr) {
        return;
    }
    // The record holds 14 characters; a shorter number is padded with NULs,
    // a longer one cannot be stored.
    size_t length = strlen(token);
    if (length > TSTAT_SERIAL_NUMBER_LEN) {
        return;
    }
    uint8_t serial[TSTAT_SERIAL_NUMBER_LEN] = {};
    memcpy(serial, token, length);
    setSerialNumber(serial);
}

void korabusCommandHostVer(char *) {
    korabusReply("%s", COPROC_APP_VERSION);
}

// "UPDATE S<security version> <verdict> <version>": the bundle that runs
// and the last update's verdict (NONE before any), "-" for what is not
// known. The version comes last, so that only it is cut when long.
void korabusCommandUpdateStatus(char *) {
    char head[1024];
    char version[KORABUS_REPLY_SIZE] = "-";
    char security[12] = "-";
    char verdict[16] = "NONE";
    if (readHead(c_RunningManifest, head, sizeof(head))) {
        wordAt(head, "# version: ", version, sizeof(version));
        wordAt(head, "# security: ", security, sizeof(security));
    }
    char last[sizeof(verdict)];
    if (readHead(c_LastUpdate, last, sizeof(last))) {
        wordAt(last, nullptr, verdict, sizeof(verdict));
    }
    korabusReply("UPDATE S%s %s %s", security, verdict, version);
}

void korabusCommandGetFilterChangeDays(char *) {
    korabusReply("FILTER %u", getTstatFilterChangeDays());
}

void korabusCommandSetFilterChangeDays(char *args) {
    char *token = korabusDataTokenizeCommand(args, nullptr);
    if (token == nullptr) {
        return;
    }
    int32_t days = 0;
    if (!korabusNumber(token, &days) || days < 0) {
        return;
    }
    setTstatFilterChangeDays(static_cast<uint8_t>(days > c_MaxFilterDays ? c_MaxFilterDays : days));
    korabusRequestPageRefresh(PAGE_SETTINGS);
    korabusSave();
}

void korabusCommandSflash0(char *) {}

void korabusCommandSflash1(char *) {
    downloadStart(DOWNLOAD_APP_ARCHIVE);
}

void korabusCommandSflash2(char *) {
    downloadStart(DOWNLOAD_GFX_ARCHIVE);
}
