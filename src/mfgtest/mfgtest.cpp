// Manufacturing test mode: the nine-step factory sequence driven by a test
// fixture on the console port, with its command receiver, the tests, their
// timers and the verdict lines.
#include "mfgtest/mfgtest.h"

#include "config/persist.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "graphics/buttons.h"
#include "graphics/screen.h"
#include "hvac/relay_control.h"
#include "hvac/sensors.h"
#include "platform/platform.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

static_assert(MFG_SERIAL_NUMBER_LEN == TSTAT_SERIAL_NUMBER_LEN);

namespace {

constexpr const char *COMMAND_PORT = "/dev/ttyS0";
constexpr char COMMAND_PREFIX = '*';

constexpr const char *c_StartMfgTestStr = "APP_READY\n";

// The coprocessor's link test: a bare frame without type, length or CRC.
constexpr std::array<uint8_t, 19> c_AtmelLmIntStr = {
    0xC0, 'K', 'z', '8', 'm', 'W', 'q', '3', 'V', 'b', 'N', '5', 't', 'R', '7', 'p', 'L', 'd', 0xC0,
};
constexpr const char *c_LinkTestAnswer = "ABCDE";
constexpr const char *c_KorabusTest = "FM SF DD T1";
constexpr const char *c_KorabusTestPass = "KorabusTestPass";
constexpr const char *c_KorabusTestFail = "KorabusTestFail";
constexpr const char *c_RespPlaceholder = "abcdefg\n";
constexpr const char *c_RespAtStart = "fdfddsd";

constexpr const char *c_SerialReadBackStr = "Serial Number read from Flash is : \n";

// The relay walk: relay number 10 + i switches c_RelayWalk[i].
using RelaySetter = void (*)(uint32_t);
constexpr std::array<RelaySetter, MFG_RELAY_END - MFG_FIRST_RELAY> c_RelayWalk = {
    RlyCntl_SetG1, RlyCntl_SetG2, RlyCntl_SetG3,    RlyCntl_SetW1E, RlyCntl_SetW2,
    RlyCntl_SetY1, RlyCntl_SetY2, RlyCntl_SetOBnot, RlyCntl_SetDeh, RlyCntl_SetHum,
};

int m_SerialPortFD = -1;
UtilTimer m_TestTimeoutTimer;
UtilTimer m_LCDTestTimeoutTimer;
int16_t m_IntTemp;
int16_t m_ExtTemp;
int16_t m_HumValue;
uint8_t m_SerialNumber[MFG_SERIAL_NUMBER_LEN + 1];

// The command receiver: the line collected so far.
char m_RxBuffer[MFG_RX_BUFFER_LEN];
size_t m_RxCount;
bool m_RxOverflow;

// What this mode brought up itself (the display manager may have done it).
bool m_StartedDisplay;
bool m_StartedKeys;

ScreenItem *m_ColorBarImage;

} // namespace

ScreenItem testScreenColorBarPattern[MFG_COLOR_BAR_ITEMS + 1] = {
    screenBitmap(0, 0, &m_ColorBarImage, "images/color_bar_pattern.png"),
    screenEnd(),
};

namespace {

// One step of the sequence. A step with a value prints it before its
// verdict ("%d %s"); a step without verdicts prints its own output.
struct MfgStep {
    uint32_t timerSeconds; // 0: no step timer
    int (*run)();          // 0 pass, -1 fail
    const char *pass;
    const char *fail;
    const int16_t *value; // the reading printed before the verdict, or null
    bool endsOnFailure;
    void (*after)(); // runs once the verdict is out, or null
};

int runSerialNumberEntry();
int runSerialNumberReadBack();

const MfgStep c_MfgSteps[MFG_TEST_LAST_STEP] = {
    {MFG_STEP_TIMEOUT_S, run_atmel_lm_interface_test, "AT_LM_INT_TEST_PASS\n",
     "AT_LM_INT_TEST_FAIL\n", nullptr, true, nullptr},
    {MFG_IO_TEST_TIMEOUT_S, run_io_test, "IO_TEST_PASS\n", "IO_TEST_FAIL\n", nullptr, true,
     nullptr},
    {MFG_STEP_TIMEOUT_S, run_korabus_test, "KORABUS_TEST_PASS\n", "KORABUS_TEST_FAIL\n", nullptr,
     false, nullptr},
    {MFG_STEP_TIMEOUT_S, run_lcd_test, "LCD_TEST_DONE\n", "LCD_TEST_DONE\n", nullptr, false,
     coprocessorPoll},
    {MFG_STEP_TIMEOUT_S, run_int_temp_sensor_test, "INT_TEMP_TEST_PASS\n", "INT_TEMP_TEST_FAIL\n",
     &m_IntTemp, false, nullptr},
    {MFG_STEP_TIMEOUT_S, run_ext_temp_sensor_test, "EXT_TEMP_TEST_PASS\n", "EXT_TEMP_TEST_FAIL\n",
     &m_ExtTemp, false, nullptr},
    {MFG_STEP_TIMEOUT_S, run_hum_sensor_test, "HUM_TEST_PASS\n", "HUM_TEST_FAIL\n", &m_HumValue,
     false, nullptr},
    {0, runSerialNumberEntry, "SERIAL_NUMBER_RX_PASS\n", "SERIAL_NUMBER_RX_FAIL\n", nullptr, false,
     nullptr},
    {0, runSerialNumberReadBack, nullptr, nullptr, nullptr, false, nullptr},
};

void say(const char *text) {
    fputs(text, stdout);
    fflush(stdout);
}

int openCommandPort() {
    if (m_SerialPortFD >= 0) {
        return 0;
    }
    char path[PATH_MAX];
    if (platformPath(COMMAND_PORT, path, sizeof(path)) == nullptr) {
        return -1;
    }
    m_SerialPortFD = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_SerialPortFD < 0) {
        printf("failed opening %s (%s)\n", COMMAND_PORT, strerror(errno));
        fflush(stdout);
        return -1;
    }
    // On the board the command port is the console, a terminal whose line
    // discipline would hold back a serial number that ends without a line
    // end and echo every command back to the fixture: its input is taken as
    // it comes. Output keeps its processing, as the application's own output
    // goes there too.
    struct termios tio;
    if (isatty(m_SerialPortFD) && tcgetattr(m_SerialPortFD, &tio) == 0) {
        tio.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN);
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        tcsetattr(m_SerialPortFD, TCSANOW, &tio);
    }
    return 0;
}

void closeCommandPort() {
    if (m_SerialPortFD >= 0) {
        close(m_SerialPortFD);
    }
    m_SerialPortFD = -1;
}

// One byte from the command port: 1 read, 0 nothing waiting, -1 the port
// failed or hung up (the fixture is gone; waiting on would be forever).
int readPortByte(uint8_t *byte) {
    for (;;) {
        ssize_t got = read(m_SerialPortFD, byte, 1);
        if (got == 1) {
            return 1;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return 0;
        }
        return -1;
    }
}

void resetReceiver() {
    m_RxCount = 0;
    m_RxOverflow = false;
    m_RxBuffer[0] = '\0';
}

// Drives the pulse sequence until every relay carries its desired state.
void applyRelays() {
    while (RlyCntl_RefreshRelays() < RELAY_COUNT) {
        platformLoopYield();
    }
}

// Polls the coprocessor until the response is one of the two texts or the
// step timer expires: 0 the first, -1 the second or the time-out.
int waitForResponse(const char *passText, const char *failText) {
    int result = -1;
    while (check_mfg_test_timer() == 0) {
        coprocessorPoll();
        if (strcmp(get_mfg_test_resp(), passText) == 0) {
            result = 0;
            break;
        }
        if (failText != nullptr && strcmp(get_mfg_test_resp(), failText) == 0) {
            break;
        }
        platformLoopYield();
    }
    set_mfg_test_resp(c_RespPlaceholder);
    return result;
}

// A sensor reading with its conversion status: a thermistor whose
// resistance lies outside its table (open, shorted, or never reported)
// reads as the table's end value and fails, whatever that value is.
int sensorTest(fpr_t reading, bool valid, int16_t low, int16_t high, int16_t *store) {
    if (check_mfg_test_timer() != 0) {
        *store = 0;
        return -1;
    }
    int result = mfgReadingInRange(reading, low, high, store);
    return valid ? result : -1;
}

// Serial characters: printable ASCII; control bytes (NUL, CR, LF among
// them) and bytes of 127 and above are skipped.
bool serialCharAccepted(uint8_t byte) {
    return byte > 0x1F && byte < 0x7F;
}

int runSerialNumberEntry() {
    if (enter_serial_number() != static_cast<int>(MFG_SERIAL_NUMBER_LEN)) {
        return -1;
    }
    // Write-once: a unit that already holds a valid serial keeps it (0).
    int stored = setSerialNumber(m_SerialNumber);
    saveThermostatSysCfg();
    return stored == 0 ? 0 : -1;
}

int runSerialNumberReadBack() {
    uint8_t serial[MFG_SERIAL_NUMBER_LEN];
    int status = getSerialNumber(serial);
    say(c_SerialReadBackStr);
    // Without a valid record there is no serial to show (blank flash reads
    // as erased bytes).
    if (status == 0) {
        fwrite(serial, 1, sizeof(serial), stdout);
        fflush(stdout);
    }
    return status == 0 ? 0 : -1;
}

void printVerdict(const MfgStep &step, int result) {
    const char *verdict = result == 0 ? step.pass : step.fail;
    if (verdict == nullptr) {
        return;
    }
    if (step.value != nullptr) {
        printf("%d %s", *step.value, verdict);
    } else {
        printf("%s", verdict);
    }
    fflush(stdout);
}

void stopWhatWasStarted() {
    if (m_StartedDisplay) {
        screenStop(&g_display);
        m_StartedDisplay = false;
    }
    if (m_StartedKeys) {
        buttonStop();
        m_StartedKeys = false;
    }
}

} // namespace

int start_manufacturing_tests(int mode) {
    if (mode < 0 || mode > static_cast<int>(MFG_TEST_LAST_STEP)) {
        return -1;
    }
    if (openCommandPort() != 0) {
        return -1;
    }
    resetReceiver();
    g_MfgTestMode = 1;
    set_mfg_test_resp(c_RespAtStart);
    if (mode == 0) {
        say(c_StartMfgTestStr);
        g_MfgTestState = 1;
    } else {
        g_MfgTestState = static_cast<uint32_t>(mode);
    }
    int result = 0;
    while (g_MfgTestState <= MFG_TEST_LAST_STEP) {
        const MfgStep &step = c_MfgSteps[g_MfgTestState - 1];
        if (uart_rx_poll(c_MfgTestRxStrings[g_MfgTestState - 1]) != 0) {
            result = -1;
            break;
        }
        if (step.timerSeconds != 0) {
            start_mfg_test_timer(step.timerSeconds);
        }
        int passed = step.run();
        cancel_mfg_test_timer();
        printVerdict(step, passed);
        if (step.after != nullptr) {
            step.after();
        }
        if (passed != 0 && step.endsOnFailure) {
            result = -1;
            break;
        }
        g_MfgTestState++;
    }
    g_MfgTestMode = 0;
    g_MfgTestState = 0;
    stopWhatWasStarted();
    closeCommandPort();
    return result;
}

int mfgCommandFeed(uint8_t byte, const char *expected) {
    if (byte == static_cast<uint8_t>(COMMAND_PREFIX)) {
        return 0;
    }
    if (m_RxCount < MFG_RX_BUFFER_LEN - 1) {
        m_RxBuffer[m_RxCount++] = static_cast<char>(byte);
        m_RxBuffer[m_RxCount] = '\0';
    } else {
        // Longer than any command: the line is dropped when it ends.
        m_RxOverflow = true;
    }
    if (byte != '\n') {
        return 0;
    }
    bool match = !m_RxOverflow && expected != nullptr && strcmp(m_RxBuffer, expected) == 0;
    resetReceiver();
    return match ? 1 : 0;
}

int uart_rx_poll(const char *expected) {
    if (openCommandPort() != 0) {
        return -1;
    }
    for (;;) {
        uint8_t byte = 0;
        int got = readPortByte(&byte);
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            platformLoopYield();
        } else if (mfgCommandFeed(byte, expected) != 0) {
            return 0;
        }
    }
}

int run_atmel_lm_interface_test() {
    coprocCommSendRaw(g_coprocHdl, static_cast<uint8_t>(c_AtmelLmIntStr.size()),
                      c_AtmelLmIntStr.data());
    return waitForResponse(c_LinkTestAnswer, nullptr);
}

void reset_all_relays() {
    for (RelaySetter set : c_RelayWalk) {
        set(0);
    }
}

void turn_relay_on(uint32_t relay) {
    reset_all_relays();
    if (relay >= MFG_FIRST_RELAY && relay < MFG_RELAY_END) {
        c_RelayWalk[relay - MFG_FIRST_RELAY](1);
    }
    applyRelays();
}

int run_io_test() {
    if (g_keyFd < 0) {
        m_StartedKeys = buttonInit() == 0;
    }
    // Every key first reports a release, its start-up state. A press read
    // before that release was reported would cancel it and be lost, so the
    // start-up edges are taken now, before the relays are reset; a press
    // met on the way is kept for the walk.
    uint32_t button = BUTTON_END;
    bool pressed = false;
    for (int key = 0; key < BUTTON_DESCRIPTOR_COUNT - 1 && !pressed; key++) {
        int edge = buttonCheck(&button);
        if (edge == BUTTON_NO_EDGE) {
            break;
        }
        pressed = edge == BUTTON_PRESS && button <= BUTTON_DOWN;
    }
    reset_all_relays();
    applyRelays();
    uint32_t relay = MFG_FIRST_RELAY;
    while (relay < MFG_RELAY_END && check_mfg_test_timer() == 0) {
        if (pressed || (buttonCheck(&button) == BUTTON_PRESS && button <= BUTTON_DOWN)) {
            pressed = false;
            turn_relay_on(relay);
            relay++;
        } else {
            platformLoopYield();
        }
    }
    // Latching relays keep their contacts after the process ends: every
    // output is opened again, also after an incomplete walk.
    reset_all_relays();
    applyRelays();
    return relay == MFG_RELAY_END ? 0 : -1;
}

int run_korabus_test() {
    coprocMsgSendBusTest(c_KorabusTest);
    return waitForResponse(c_KorabusTestPass, c_KorabusTestFail);
}

int run_lcd_test() {
    DisplayContext *display = &g_display;
    if (display->screen == nullptr) {
        display = screenInit();
        m_StartedDisplay = display != nullptr;
    }
    screenSetCurrentScreen(display, testScreenColorBarPattern);
    screenRender(display);
    start_lcd_mfg_test_timer(MFG_LCD_TEST_S);
    while (check_lcd_mfg_test_timer() == 0) {
        screenRender(display);
        platformLoopYield();
    }
    cancel_lcd_mfg_test_timer();
    screenRemoveBitmap(display, m_ColorBarImage);
    screenRender(display);
    return 0;
}

int run_int_temp_sensor_test() {
    CoprocTempReading raw = {};
    coprocMsgGetInternalTemp(&raw);
    fpr_t degrees = 0;
    bool valid = Sensors_OnboardTempFromRaw(raw.firstWord, raw.secondWord, &degrees) == 0;
    return sensorTest(degrees, valid, MFG_TEMP_LOW, MFG_TEMP_HIGH, &m_IntTemp);
}

int run_ext_temp_sensor_test() {
    CoprocTempReading raw = {};
    raw.sensorIndex = 0;
    coprocMsgGetExternalTemp(&raw);
    fpr_t degrees = 0;
    bool valid = Sensors_ExternalTempFromRaw(raw.firstWord, raw.secondWord, &degrees) == 0;
    return sensorTest(degrees, valid, MFG_TEMP_LOW, MFG_TEMP_HIGH, &m_ExtTemp);
}

int run_hum_sensor_test() {
    // A raw count of 0 means no humidity reading ever arrived.
    bool valid = coprocMsgGetRelHumidity() != 0;
    return sensorTest(Sensors_GetOnboardRelHumidity(), valid, MFG_HUM_LOW, MFG_HUM_HIGH,
                      &m_HumValue);
}

int enter_serial_number() {
    size_t count = 0;
    while (count < MFG_SERIAL_NUMBER_LEN && openCommandPort() == 0) {
        uint8_t byte = 0;
        int got = readPortByte(&byte);
        if (got < 0) {
            break;
        }
        if (got == 0) {
            platformLoopYield();
        } else if (serialCharAccepted(byte)) {
            m_SerialNumber[count++] = byte;
        }
    }
    m_SerialNumber[count] = '\0';
    return static_cast<int>(count);
}

int mfgReadingInRange(fpr_t reading, int16_t low, int16_t high, int16_t *whole) {
    int16_t rounded = 0;
    int32_t fraction = 0;
    fprDecodeRes(reading, &rounded, &fraction, 0);
    *whole = rounded;
    return rounded >= low && rounded <= high ? 0 : -1;
}

void start_mfg_test_timer(uint32_t seconds) {
    util_set_expiration(&m_TestTimeoutTimer, seconds * 1000);
}

int check_mfg_test_timer() {
    return util_check_expiration(&m_TestTimeoutTimer);
}

void cancel_mfg_test_timer() {
    m_TestTimeoutTimer = UtilTimer{};
}

void start_lcd_mfg_test_timer(uint32_t seconds) {
    util_set_expiration(&m_LCDTestTimeoutTimer, seconds * 1000);
}

int check_lcd_mfg_test_timer() {
    return util_check_expiration(&m_LCDTestTimeoutTimer);
}

void cancel_lcd_mfg_test_timer() {
    m_LCDTestTimeoutTimer = UtilTimer{};
}

void mfgTestReset() {
    stopWhatWasStarted();
    closeCommandPort();
    g_MfgTestState = 0;
    g_MfgTestMode = 0;
    set_mfg_test_resp("");
    m_TestTimeoutTimer = UtilTimer{};
    m_LCDTestTimeoutTimer = UtilTimer{};
    m_IntTemp = 0;
    m_ExtTemp = 0;
    m_HumValue = 0;
    memset(m_SerialNumber, 0, sizeof(m_SerialNumber));
    resetReceiver();
    m_ColorBarImage = nullptr;
}
