// Manufacturing test mode: the fixture-driven factory test sequence that
// replaces the normal life of the process when the test pin is set.
//
// The unit announces itself with "APP_READY" on standard output, then runs
// nine steps in a fixed order. Before each step it waits for the fixture's
// command on the console port "/dev/ttyS0" (the command text prefixed with
// three asterisks), runs the test and prints the verdict on standard output:
//
//   1 coprocessor link   "***SerialLinkTest"   AT_LM_INT_TEST_PASS / _FAIL (ends the run)
//   2 relays and keys    "***IOTest"           IO_TEST_PASS / _FAIL (ends the run)
//   3 control bus        "***KorabusTest"      KORABUS_TEST_PASS / _FAIL
//   4 display            "***LCDTest"          LCD_TEST_DONE
//   5 on-board sensor    "***IntTempSsorTest"  "<value> INT_TEMP_TEST_PASS" / _FAIL
//   6 external sensor    "***ExtTempSsorTest"  "<value> EXT_TEMP_TEST_PASS" / _FAIL
//   7 humidity sensor    "***HumSsorTest"      "<value> HUM_TEST_PASS" / _FAIL
//   8 serial number in   "***EnterSerialNumber", then 14 characters: SERIAL_NUMBER_RX_PASS / _FAIL
//   9 serial number out  "***ReadSerialNumber" "Serial Number read from Flash is : " and the
//                                              14 stored characters without a newline
//
// Every wait is a polling loop that yields once per pass; the main loop never
// runs in this mode, so the coprocessor is serviced only by the polls of the
// link, bus and display steps.
#pragma once

#include "core/fixed_point.h"
#include "graphics/screen.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Step of the sequence, 0-9. The control bus hands strings from the
// coprocessor to the test only while it is 1 (link test) or 3 (bus test).
extern uint32_t g_MfgTestState;
// 1 from the announcement until the sequence ends.
extern uint8_t g_MfgTestMode;

// The LCD test's screen: the colour-bar pattern alone.
constexpr size_t MFG_COLOR_BAR_ITEMS = 1;
extern ScreenItem testScreenColorBarPattern[MFG_COLOR_BAR_ITEMS + 1];

constexpr uint32_t MFG_TEST_LAST_STEP = 9;
// Characters of a serial number.
constexpr size_t MFG_SERIAL_NUMBER_LEN = 14;
// The command receiver's buffer, terminator included.
constexpr size_t MFG_RX_BUFFER_LEN = 25;

// The commands of steps 1-9 as the receiver collects them.
constexpr std::array<const char *, MFG_TEST_LAST_STEP> c_MfgTestRxStrings = {
    "SerialLinkTest\n",   "IOTest\n",          "KorabusTest\n", "LCDTest\n",
    "IntTempSsorTest\n",  "ExtTempSsorTest\n", "HumSsorTest\n", "EnterSerialNumber\n",
    "ReadSerialNumber\n",
};
// The receiver's buffer holds the longest command with its terminator.
static_assert(sizeof("EnterSerialNumber\n") <= MFG_RX_BUFFER_LEN);
// Step timers, seconds.
constexpr uint32_t MFG_STEP_TIMEOUT_S = 10;
constexpr uint32_t MFG_IO_TEST_TIMEOUT_S = 120;
constexpr uint32_t MFG_LCD_TEST_S = 5;
// Pass ranges of the sensor tests, whole units, both ends included.
constexpr int16_t MFG_TEMP_LOW = -50;
constexpr int16_t MFG_TEMP_HIGH = 150;
constexpr int16_t MFG_HUM_LOW = 0;
constexpr int16_t MFG_HUM_HIGH = 100;
// The relay walk's numbers: 10 (G1) up to 19 (HUM).
constexpr uint32_t MFG_FIRST_RELAY = 10;
constexpr uint32_t MFG_RELAY_END = 20;

// Runs the sequence from the given step (0 from start-up: the announcement
// first; 1-9 waits for that step's command at once). Returns 0 when the
// sequence completes, -1 when it stops at a failed link or relay test, when
// the command port cannot be opened or hangs up, or for a step out of range.
int start_manufacturing_tests(int mode);

// A string the coprocessor sent while a test waits for its answer (copied).
void set_mfg_test_resp(const char *text);
const char *get_mfg_test_resp();

// Waits until the fixture's command for the current step has arrived:
// `expected` is the command as c_MfgTestRxStrings holds it ("IOTest\n").
// Bytes after the command stay in the port. Returns 0 then, or -1 when the
// port cannot be opened or hangs up.
int uart_rx_poll(const char *expected);

// The tests: 0 pass, -1 fail (the display test always 0).
int run_atmel_lm_interface_test();
int run_io_test();
int run_korabus_test();
int run_lcd_test();
int run_int_temp_sensor_test();
int run_ext_temp_sensor_test();
int run_hum_sensor_test();
// Collects the serial number's characters from the command port, skipping
// control bytes and bytes of 127 and above; returns how many were collected
// (14, fewer only when the port cannot be read).
int enter_serial_number();

// Switches every output off, then only the one named (10-19), and applies it.
void turn_relay_on(uint32_t relay);
// Switches all ten outputs off (applied by the caller).
void reset_all_relays();

// The step timer and the display timer.
void start_mfg_test_timer(uint32_t seconds);
int check_mfg_test_timer();
void cancel_mfg_test_timer();
void start_lcd_mfg_test_timer(uint32_t seconds);
int check_lcd_mfg_test_timer();
void cancel_lcd_mfg_test_timer();

// One byte from the command port into the receiver: asterisks are skipped,
// other bytes collected up to and including a newline, at most
// MFG_RX_BUFFER_LEN - 1 of them (a longer line is discarded whole). Returns 1
// when the byte completed a line equal to `expected`, else 0.
int mfgCommandFeed(uint8_t byte, const char *expected);

// A reading rounded to whole units (into *whole) and checked against an
// inclusive range: 0 inside, -1 outside.
int mfgReadingInRange(fpr_t reading, int16_t low, int16_t high, int16_t *whole);

// Back to the state at process start; closes the command port. For tests.
void mfgTestReset();
