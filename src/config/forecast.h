// Forecast and weather store: current conditions and the five-day forecast
// pushed by the building controller over the control bus, held for the pages
// and the outdoor-temperature logic. Volatile: zero after power-up, never
// written to flash. Writers update single fields by read-modify-write and
// mark the values they wrote as received, so that a page can tell a value
// never sent (shown as "--") from a value of zero.
#pragma once

#include "core/fixed_point.h"

#include <cstddef>
#include <cstdint>

constexpr size_t FORECAST_DAYS = 5;
constexpr size_t FORECAST_WIND_DIR_CHARS = 3;

#pragma pack(push, 1)
// Current conditions. Temperatures fixed-point °C.
struct TstatCurrentForecast_t {
    fpr_t outdoorTemp;
    fpr_t highTemp;                                  // today's high
    fpr_t lowTemp;                                   // today's low
    char windDirection[FORECAST_WIND_DIR_CHARS + 1]; // up to 3 characters, zero-filled
    fpr_t windSpeed;                                 // km/h
    fpr_t relativeHumidity;                          // percent
    fpr_t feelsLikeTemp;
    fpr_t dewPoint;
    fpr_t barometricPressure; // centimetres of mercury
};

// Five-day forecast, day 0 = today. Condition codes are the control bus's
// condition keywords as numbers.
struct TstatFiveDayForecast_t {
    fpr_t highTemp[FORECAST_DAYS];
    fpr_t lowTemp[FORECAST_DAYS];
    uint32_t condition[FORECAST_DAYS];
    uint32_t currentCondition;
};
#pragma pack(pop)

static_assert(sizeof(TstatCurrentForecast_t) == 36);
static_assert(offsetof(TstatCurrentForecast_t, windDirection) == 12);
static_assert(offsetof(TstatCurrentForecast_t, windSpeed) == 16);
static_assert(offsetof(TstatCurrentForecast_t, barometricPressure) == 32);
static_assert(sizeof(TstatFiveDayForecast_t) == 64);
static_assert(offsetof(TstatFiveDayForecast_t, lowTemp) == 20);
static_assert(offsetof(TstatFiveDayForecast_t, condition) == 40);
static_assert(offsetof(TstatFiveDayForecast_t, currentCondition) == 60);

// Values of the store, as bits of the received set. Today's high and low of
// the current record are the five-day record's day 0.
enum ForecastValue : uint32_t {
    FORECAST_OUTDOOR = 1u << 0,
    FORECAST_WIND_DIRECTION = 1u << 1,
    FORECAST_WIND_SPEED = 1u << 2,
    FORECAST_HUMIDITY = 1u << 3,
    FORECAST_FEELS_LIKE = 1u << 4,
    FORECAST_DEW_POINT = 1u << 5,
    FORECAST_PRESSURE = 1u << 6,
};
constexpr uint32_t FORECAST_DAY_HIGH_BIT = 8;
constexpr uint32_t FORECAST_DAY_LOW_BIT = FORECAST_DAY_HIGH_BIT + FORECAST_DAYS;
constexpr uint32_t forecastDayHigh(size_t day) {
    return 1u << (FORECAST_DAY_HIGH_BIT + day);
}
constexpr uint32_t forecastDayLow(size_t day) {
    return 1u << (FORECAST_DAY_LOW_BIT + day);
}
constexpr uint32_t FORECAST_ALL_HIGHS = ((1u << FORECAST_DAYS) - 1) << FORECAST_DAY_HIGH_BIT;
constexpr uint32_t FORECAST_ALL_LOWS = ((1u << FORECAST_DAYS) - 1) << FORECAST_DAY_LOW_BIT;
static_assert(FORECAST_DAY_LOW_BIT + FORECAST_DAYS <= 32);

// Adds values (ForecastValue bits, forecastDayHigh/Low) to the received set.
void forecastMarkReceived(uint32_t values);
// True when every one of the values has been received since power-up.
bool forecastReceived(uint32_t values);

// Copy out / in; the wind direction travels as at most 3 characters in a
// zero-filled 4-byte field.
void getCurrentForecast(TstatCurrentForecast_t *out);
void setCurrentForecast(const TstatCurrentForecast_t *in);
fpr_t getBarometricPressure();
// Writes the pressure and marks it received.
void setBarometricPressure(fpr_t centimetres);

void getFiveDayForecast(TstatFiveDayForecast_t *out);
// Copies the record in and raises the five-day change flag.
void setFiveDayForecast(const TstatFiveDayForecast_t *in);
uint8_t getFiveDayFcastChange();
void setFiveDayFcastChange(uint8_t changed);

// Clears the store (as at power-up). For tests.
void forecastReset();
