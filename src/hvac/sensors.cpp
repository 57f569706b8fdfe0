// Sensors: thermistor and humidity conversions, the room and outdoor sensor
// choice, and the block-of-30 smoothing of indoor temperature and humidity.
#include "hvac/sensors.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "coproc/coproc_msg.h"

namespace {

struct ThermistorPoint {
    fpr_t degrees;
    fpr_t kiloOhms;
};

// Thermistor resistance in units of 0.0001 kilo-ohm, one value per degree
// from -50 to 110.
constexpr uint32_t c_ThermistorResistance[SENSORS_THERMISTOR_POINTS] = {
    3295000, 3109000, 2935000, 2772000, 2620000, 2477000, 2343000, 2217000, 2099000, 1989000,
    1885000, 1785000, 1690000, 1602000, 1519000, 1441000, 1367000, 1298000, 1233000, 1171000,
    1113000, 1057000, 1005000, 955200,  908400,  864300,  822600,  783300,  746100,  711000,
    677700,  645700,  615400,  586800,  559700,  534100,  509800,  486800,  465000,  444300,
    424700,  405700,  387700,  370600,  354400,  339000,  324400,  310500,  297300,  284800,
    272800,  261300,  250300,  239900,  230000,  220500,  211500,  203000,  194800,  187000,
    179600,  172400,  165600,  159000,  152800,  146900,  141200,  135800,  130600,  125600,
    120900,  116300,  112000,  107800,  103800,  100000,  96320,   92810,   89440,   86220,
    83130,   80140,   77280,   74540,   71920,   69400,   66990,   64670,   62450,   60320,
    58270,   56290,   54380,   52550,   50800,   49110,   47490,   45930,   44430,   42990,
    41600,   40260,   38960,   37710,   36510,   35360,   34250,   33180,   32150,   31160,
    30200,   29270,   28380,   27510,   26680,   25880,   25110,   24360,   23640,   22950,
    22280,   21630,   21000,   20390,   19800,   19240,   18690,   18160,   17650,   17160,
    16680,   16220,   15770,   15330,   14920,   14510,   14120,   13730,   13360,   13010,
    12660,   12320,   12000,   11680,   11370,   11080,   10790,   10510,   10240,   9984,
    9731,    9484,    9246,    9014,    8789,    8572,    8360,    8155,    7956,    7763,
    7576,
};

// The resistance falls strictly as the temperature rises: the reading's
// segment is found by bisection.
constexpr bool strictlyFalling() {
    for (size_t i = 1; i < SENSORS_THERMISTOR_POINTS; i++) {
        if (c_ThermistorResistance[i] >= c_ThermistorResistance[i - 1]) {
            return false;
        }
    }
    return true;
}
static_assert(strictlyFalling(), "the thermistor table falls strictly");
constexpr int16_t LOWEST_DEGREES = -50;

ThermistorPoint m_ThermistorDb[SENSORS_THERMISTOR_POINTS];

constexpr fpr_t m_YOffset = SENSORS_HUMIDITY_Y_OFFSET;
constexpr fpr_t m_LinearEqSlope = SENSORS_HUMIDITY_LINE_SLOPE;
constexpr fpr_t TEN = 10 * FPR_ONE;
constexpr fpr_t TWO = 2 * FPR_ONE;
// 4.02, the divider of the external sensor's reference word.
constexpr fpr_t EXTERNAL_DIVIDER = fprConst(4, 2000000);

// Averaging state of one smoothed quantity.
struct Averager {
    bool firstTime;
    uint8_t count;
    fpr_t sum;
};
Averager m_TempAverager = {true, 0, 0};
Averager m_HumAverager = {true, 0, 0};
uint32_t m_HumidityReports;

// A raw word as the signed 16-bit whole number it stands for.
fpr_t wordToFpr(uint16_t word) {
    fpr_t value = 0;
    fprGen(static_cast<int16_t>(word), 0, &value);
    return value;
}

void averageStep(Averager *avg, fpr_t sample, void (*store)(fpr_t)) {
    if (avg->firstTime) {
        avg->count = 0;
        store(sample);
        avg->firstTime = false;
    } else if (avg->count < SENSORS_AVERAGE_BLOCK) {
        fpr_t part = 0;
        fprMul(sample, FPR_ONE_THIRTIETH, &part);
        fprAdd(avg->sum, part, &avg->sum);
        avg->count++;
    } else {
        store(avg->sum);
        avg->count = 0;
        avg->sum = 0;
    }
}

} // namespace

const uint32_t hum_table[SENSORS_HUMIDITY_POINTS] = {
    7085, 7015, 6945, 6880, 6820, 6765, 6705, 6655, 6600, 6550, 6505,
    6455, 6410, 6360, 6315, 6270, 6225, 6180, 6135, 6085, 6035,
};

int Sensors_Initialize() {
    static const CoprocSensorHooks c_Reported{Sensors_TemperatureReported,
                                              Sensors_HumidityReported};
    coprocMsgSetSensorHooks(&c_Reported);
    for (size_t i = 0; i < SENSORS_THERMISTOR_POINTS; i++) {
        uint32_t r = c_ThermistorResistance[i];
        fprGen(static_cast<int16_t>(LOWEST_DEGREES + static_cast<int>(i)), 0,
               &m_ThermistorDb[i].degrees);
        fprGen(static_cast<int16_t>(r / 10000), static_cast<int32_t>(r % 10000) * 10000,
               &m_ThermistorDb[i].kiloOhms);
    }
    return 0;
}

int getDegreesCelsius(fpr_t kiloOhms, fpr_t *degrees) {
    constexpr size_t last = SENSORS_THERMISTOR_POINTS - 1;
    if (kiloOhms > m_ThermistorDb[0].kiloOhms) {
        *degrees = m_ThermistorDb[0].degrees;
        return -1;
    }
    if (kiloOhms < m_ThermistorDb[last].kiloOhms) {
        *degrees = m_ThermistorDb[last].degrees;
        return -1;
    }
    if (kiloOhms == m_ThermistorDb[last].kiloOhms) {
        *degrees = m_ThermistorDb[last].degrees;
        return 0;
    }
    // The first point below the reading (the last at the most).
    size_t i = 1;
    size_t end = last;
    while (i < end) {
        size_t mid = i + (end - i) / 2;
        if (m_ThermistorDb[mid].kiloOhms >= kiloOhms) {
            i = mid + 1;
        } else {
            end = mid;
        }
    }
    // The table steps by one degree, so the fraction of the segment is the
    // fraction of a degree.
    fpr_t above = 0;
    fpr_t span = 0;
    fpr_t fraction = 0;
    fpr_t result = m_ThermistorDb[i - 1].degrees;
    int status = fprSub(m_ThermistorDb[i - 1].kiloOhms, kiloOhms, &above);
    status |= fprSub(m_ThermistorDb[i - 1].kiloOhms, m_ThermistorDb[i].kiloOhms, &span);
    status |= fprDiv(above, span, &fraction);
    status |= fprAdd(result, fraction, &result);
    *degrees = result;
    return status != 0 ? -1 : 0;
}

uint32_t interpolate_humidity(uint32_t raw) {
    constexpr size_t last = SENSORS_HUMIDITY_POINTS - 1;
    if (raw >= hum_table[0]) {
        return 0;
    }
    if (raw <= hum_table[last]) {
        return 100;
    }
    size_t i = 1;
    while (i < last && hum_table[i] > raw) {
        i++;
    }
    uint32_t upper = hum_table[i - 1];
    uint32_t step = (upper - hum_table[i]) / 5;
    uint32_t percent = static_cast<uint32_t>(5 * i - 5);
    for (uint32_t k = 1; k <= 4 && upper - k * step > raw; k++) {
        percent++;
    }
    return percent;
}

int Sensors_OnboardTempFromRaw(uint16_t firstWord, uint16_t secondWord, fpr_t *degrees) {
    // R = 10 x w2 / (2 x w1 - w2); a failed step leaves its result at 0.
    fpr_t w1 = wordToFpr(firstWord);
    fpr_t w2 = wordToFpr(secondWord);
    fpr_t doubled = 0;
    fpr_t divisor = 0;
    fpr_t ratio = 0;
    fpr_t kiloOhms = 0;
    int status = fprMul(TWO, w1, &doubled);
    status |= fprSub(doubled, w2, &divisor);
    status |= fprDiv(w2, divisor, &ratio);
    status |= fprMul(ratio, TEN, &kiloOhms);
    status |= getDegreesCelsius(kiloOhms, degrees);
    return status != 0 ? -1 : 0;
}

int Sensors_ExternalTempFromRaw(uint16_t firstWord, uint16_t secondWord, fpr_t *degrees) {
    // The measured resistance M = (w3 - w4) / (w4 / 4.02) is the thermistor
    // in parallel with 10 kilo-ohms: R = 10 x M / (10 - M).
    fpr_t w3 = wordToFpr(firstWord);
    fpr_t w4 = wordToFpr(secondWord);
    fpr_t difference = 0;
    fpr_t reference = 0;
    fpr_t measured = 0;
    fpr_t product = 0;
    fpr_t remainder = 0;
    fpr_t kiloOhms = 0;
    int status = fprSub(w3, w4, &difference);
    status |= fprDiv(w4, EXTERNAL_DIVIDER, &reference);
    status |= fprDiv(difference, reference, &measured);
    status |= fprMul(TEN, measured, &product);
    status |= fprSub(TEN, measured, &remainder);
    status |= fprDiv(product, remainder, &kiloOhms);
    status |= getDegreesCelsius(kiloOhms, degrees);
    return status != 0 ? -1 : 0;
}

fpr_t Sensors_RelHumidityFromRaw(uint32_t raw, uint8_t offset) {
    fpr_t percent = 0;
    fprGen(static_cast<int16_t>(interpolate_humidity(raw)), 0, &percent);
    fpr_t shifted = 0;
    fpr_t corrected = 0;
    fprAdd(percent, m_YOffset, &shifted);
    fprDiv(shifted, m_LinearEqSlope, &corrected);
    int16_t whole = 0;
    int32_t fraction = 0;
    fprDecodeRes(corrected, &whole, &fraction, 0);
    int value = whole - offset;
    if (value > 100) {
        value = 100;
    } else if (value < 0) {
        value = 0;
    }
    return static_cast<fpr_t>(value) * FPR_ONE;
}

fpr_t Sensors_GetOnboardTemp() {
    CoprocTempReading reading = {};
    coprocMsgGetInternalTemp(&reading);
    fpr_t degrees = 0;
    Sensors_OnboardTempFromRaw(reading.firstWord, reading.secondWord, &degrees);
    return degrees;
}

fpr_t Sensors_GetExternalTemp(uint8_t sensorIndex) {
    CoprocTempReading reading = {};
    reading.sensorIndex = sensorIndex;
    coprocMsgGetExternalTemp(&reading);
    fpr_t degrees = 0;
    Sensors_ExternalTempFromRaw(reading.firstWord, reading.secondWord, &degrees);
    return degrees;
}

fpr_t Sensors_GetRoomTemperature() {
    TstatCfg_t cfg;
    getTstatConfiguration(&cfg);
    bool internalOn = cfg.internalTempSensor == SENSOR_ON;
    bool externalIndoor = cfg.externalTempSensor == EXT_TEMP_SENSOR_INDOOR;
    if (internalOn && externalIndoor) {
        fpr_t average = 0;
        fprAvg(Sensors_GetOnboardTemp(), Sensors_GetExternalTemp(0), &average);
        return average;
    }
    if (internalOn) {
        return Sensors_GetOnboardTemp();
    }
    if (externalIndoor) {
        return Sensors_GetExternalTemp(0);
    }
    return 0;
}

fpr_t Sensors_GetOutdoorTemperature() {
    TstatCfg_t cfg;
    getTstatConfiguration(&cfg);
    if (cfg.externalTempSensor == EXT_TEMP_SENSOR_OUTDOOR) {
        return Sensors_GetExternalTemp(0);
    }
    TstatCurrentForecast_t forecast;
    getCurrentForecast(&forecast);
    return forecast.outdoorTemp;
}

bool Sensors_IsOutdoorTemperatureKnown() {
    TstatCfg_t cfg;
    getTstatConfiguration(&cfg);
    return cfg.externalTempSensor == EXT_TEMP_SENSOR_OUTDOOR || forecastReceived(FORECAST_OUTDOOR);
}

fpr_t Sensors_GetOnboardRelHumidity() {
    TstatCfg_t cfg;
    getTstatConfiguration(&cfg);
    if (cfg.humiditySensor == SENSOR_OFF) {
        return 0;
    }
    return Sensors_RelHumidityFromRaw(coprocMsgGetRelHumidity(), getHumidityOffset());
}

void Sensors_TemperatureReported() {
    averageStep(&m_TempAverager, Sensors_GetRoomTemperature(), setMovAvgIndTemp);
}

void Sensors_HumidityReported() {
    // The very first humidity report only counts as seen.
    if (m_HumidityReports < 2) {
        m_HumidityReports++;
    }
    if (m_HumidityReports < 2) {
        return;
    }
    averageStep(&m_HumAverager, Sensors_GetOnboardRelHumidity(), setMovAvgHum);
}

void Sensors_Reset() {
    m_TempAverager = {true, 0, 0};
    m_HumAverager = {true, 0, 0};
    m_HumidityReports = 0;
}
