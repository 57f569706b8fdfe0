// Control-bus channels and levels: the entry points through which the
// coprocessor messages hand the bus controller's traffic over, the poll that
// sends every change of the thermostat's own state, and the conversions
// between bus values and the configuration's fixed-point units.
//
// A controller sees the thermostat as numbered on/off channels and numbered
// 8-bit levels. Temperatures travel as whole degrees of the display scale
// plus 120 (one byte for -120 to +135), humidities as whole percent, the
// barometric pressure as whole inches (Fahrenheit) or centimetres (Celsius).
#pragma once

#include "core/fixed_point.h"

#include <cstdint>

// Connects the bus to the layers below it: the coprocessor link hands the
// controller's channels, levels, strings and commands to the functions
// below, and the store's and pages' reports (a saved mode change, new display
// formats, a cleared message) go out as the bus's report strings. Start-up
// calls it once, before the first packet can arrive.
void korabusInit();

// A channel change from the bus controller (coprocessor packet 0x01).
void korabusDataUpdateChannelFromKorabus(uint8_t channel, uint8_t state);
// A level change from the bus controller (coprocessor packet 0x02).
void korabusDataUpdateLevelFromKorabus(uint8_t level, uint32_t value);
// A string from the coprocessor (packet 0x09), NUL-terminated.
void korabusDataProcessString(char *text);
// A command string from the bus controller (packet 0x0B), NUL-terminated; it
// is cut into tokens in place.
void korabusDataProcessCommand(char *command);

// One pass over the channels and levels: sends those that changed, or all of
// them after the bus came online (channels) or levels were enabled (levels).
// Every packet sent is followed by a 60 ms pause.
void korabusDataPoll();
void korabusDataPollLevels();
void korabusDataPollChannels();

// Pause after each channel or level packet sent, and between the reports of
// the settings command.
constexpr uint32_t KORABUS_SEND_PAUSE_MS = 60;
// Display degrees a temperature byte carries: byte - 120.
constexpr int KORABUS_TEMP_OFFSET = 120;
constexpr int KORABUS_TEMP_MIN = -120;
constexpr int KORABUS_TEMP_MAX = 135;

// ---- Conversions --------------------------------------------------------------------

// Fixed-point °C to a temperature byte: converted to the display scale,
// rounded to whole degrees (halves away from zero), clamped to -120..135,
// plus 120.
uint8_t korabusTempFromDegreesCelsius(fpr_t celsius);
// A display-scale temperature (fixed point) to a temperature byte, rounded and clamped.
uint8_t korabusTempFromDisplayDegrees(fpr_t display);
// A temperature byte to fixed-point °C.
fpr_t korabusTempToDegreesCelsius(uint8_t value);
// Whole degrees of the display scale to fixed-point °C.
fpr_t integerTempToFprCelsius(int16_t degrees);
// Fixed-point °C to whole display degrees, rounded.
int16_t fprCelsiusToZephKorabusTemp(fpr_t celsius);
// Fixed-point percent to whole percent, rounded and clamped to 0..100.
int16_t korabusHumidityFromRelativeHumidity(fpr_t humidity);
// A pressure byte (inches in Fahrenheit, centimetres in Celsius) to fixed-point cm.
fpr_t korabusPressureToCentimeters(uint8_t value);
fpr_t integerPressureToFprCentimeters(int32_t value);
// A decimal pressure text ("30.12", at most eight fraction digits count) to fixed-point cm.
fpr_t stringPressureToFprCentimeters(const char *text);
// Whole mph (Fahrenheit) or km/h (Celsius) to fixed-point km/h.
fpr_t integerWindSpeedToFprKph(int32_t speed);
// A whole number as a fixed-point value, clamped to what the format holds.
fpr_t korabusFprFromWhole(int32_t value);
// A fixed-point value rounded to whole units (halves away from zero).
int16_t korabusRoundFpr(fpr_t value);

// The next blank-delimited token of text (blanks are spaces only), with its
// ending blank overwritten by a terminator; *rest (when given) is set to the
// text after it. nullptr when only blanks remain.
char *korabusDataTokenizeCommand(char *text, char **rest);
// The text after descriptor when token begins with it, else nullptr.
char *korabusDataTokenDescValue(char *token, const char *descriptor);

// A decimal number of a command: an optional sign and digits, nothing else,
// within the 32-bit range. False, with *value untouched, for anything else
// (no digits, other characters, too large), which the command refuses.
bool korabusNumber(const char *text, int32_t *value);

// Forgets what was last exchanged on every channel and level (as at
// power-up). For tests.
void korabusDataReset();
