// Forecast and weather store: the current conditions and the five-day
// forecast pushed over the control bus, with the five-day change flag.
#include "config/forecast.h"

#include <cstring>

namespace {

TstatCurrentForecast_t m_CurrentFcast;
TstatFiveDayForecast_t m_FiveDayFcast;
uint8_t m_FiveDayFcastChange;
uint32_t m_Received; // ForecastValue bits of the values written since power-up

// Copies at most three characters of a wind direction into a zero-filled field.
void copyWindDirection(char (&dest)[FORECAST_WIND_DIR_CHARS + 1],
                       const char (&src)[FORECAST_WIND_DIR_CHARS + 1]) {
    char direction[FORECAST_WIND_DIR_CHARS + 1] = {};
    memcpy(direction, src, strnlen(src, FORECAST_WIND_DIR_CHARS));
    memcpy(dest, direction, sizeof(direction));
}

} // namespace

void getCurrentForecast(TstatCurrentForecast_t *out) {
    *out = m_CurrentFcast;
    copyWindDirection(out->windDirection, m_CurrentFcast.windDirection);
}

void setCurrentForecast(const TstatCurrentForecast_t *in) {
    m_CurrentFcast = *in;
    copyWindDirection(m_CurrentFcast.windDirection, in->windDirection);
}

fpr_t getBarometricPressure() {
    return m_CurrentFcast.barometricPressure;
}
void setBarometricPressure(fpr_t centimetres) {
    m_CurrentFcast.barometricPressure = centimetres;
    m_Received |= FORECAST_PRESSURE;
}

void forecastMarkReceived(uint32_t values) {
    m_Received |= values;
}

bool forecastReceived(uint32_t values) {
    return (m_Received & values) == values;
}

void getFiveDayForecast(TstatFiveDayForecast_t *out) {
    *out = m_FiveDayFcast;
}

void setFiveDayForecast(const TstatFiveDayForecast_t *in) {
    m_FiveDayFcast = *in;
    m_FiveDayFcastChange = 1;
}

uint8_t getFiveDayFcastChange() {
    return m_FiveDayFcastChange;
}
void setFiveDayFcastChange(uint8_t changed) {
    m_FiveDayFcastChange = changed;
}

void forecastReset() {
    m_CurrentFcast = TstatCurrentForecast_t{};
    m_FiveDayFcast = TstatFiveDayForecast_t{};
    m_FiveDayFcastChange = 0;
    m_Received = 0;
}
