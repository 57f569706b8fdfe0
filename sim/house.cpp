// The simulated house: a two-node thermal model (air and mass) stepped with
// small explicit steps, a moisture balance on the indoor humidity ratio, and
// the equipment that the relay contacts switch on.
#include "house.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sim {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double ATMOSPHERE = 101325.0;
constexpr double AIR_DENSITY = 1.2;
// Furnishings and walls buffer moisture: the indoor humidity moves as if the
// air were this many times heavier.
constexpr double MOISTURE_BUFFER = 3.0;
// Longest explicit step; the model's time constants are hours.
constexpr double MAX_STEP = 5.0;
// A compressor or coil without its blower moves only this share of its heat.
constexpr double NO_FAN_SHARE = 0.25;
// Heat a dehumidifier gives off while running (W).
constexpr double DEHUMIDIFIER_HEAT = 500.0;
// Below this indoor humidity a cooling coil stays dry.
constexpr double DRY_COIL_RH = 35.0;

} // namespace

double saturationPressure(double celsius) {
    return 610.94 * std::exp(17.625 * celsius / (celsius + 243.04));
}

double humidityRatioFromRh(double celsius, double rh) {
    double pv = std::clamp(rh, 0.0, 100.0) / 100.0 * saturationPressure(celsius);
    return 0.622 * pv / (ATMOSPHERE - pv);
}

double rhFromHumidityRatio(double celsius, double ratio) {
    double pv = ratio * ATMOSPHERE / (0.622 + ratio);
    return 100.0 * pv / saturationPressure(celsius);
}

House::House(const HouseParams &params)
    : m_params(params), m_indoor(params.indoorStart), m_mass(params.indoorStart),
      m_outdoor(params.outdoorMean) {
    m_relays.fill('0');
    m_humidityRatio = humidityRatioFromRh(m_indoor, params.indoorRhStart);
}

void House::setRelays(const std::array<char, RELAY_COUNT> &contacts) {
    m_relays = contacts;
}

void House::setIndoor(double celsius) {
    // The relative humidity is kept, so the two can be set independently.
    double rh = indoorRh();
    m_indoor = celsius;
    m_humidityRatio = humidityRatioFromRh(m_indoor, std::min(rh, 100.0));
}

void House::setMass(double celsius) {
    m_mass = celsius;
}

void House::setIndoorRh(double percent) {
    m_humidityRatio = humidityRatioFromRh(m_indoor, percent);
}

double House::indoorRh() const {
    return std::clamp(rhFromHumidityRatio(m_indoor, m_humidityRatio), 0.0, 100.0);
}

double House::outdoorAt(double hourOfDay) const {
    return m_params.outdoorMean +
           m_params.outdoorSwing * std::cos(2.0 * PI * (hourOfDay - 15.0) / 24.0);
}

double House::solarAt(double hourOfDay) const {
    if (hourOfDay <= 6.0 || hourOfDay >= 18.0) {
        return 0.0;
    }
    return m_params.solarPeak * std::sin(PI * (hourOfDay - 6.0) / 12.0);
}

double House::heatPumpHeatingFactor(double outdoor) {
    // Capacity falls by about 2.5 % per degree below the rating point and
    // the compressor locks out in deep cold.
    if (outdoor < -20.0) {
        return 0.0;
    }
    return std::clamp(1.0 + 0.025 * (outdoor - 8.3), 0.15, 1.3);
}

double House::heatPumpCoolingFactor(double outdoor) {
    return std::clamp(1.0 - 0.012 * (outdoor - 35.0), 0.6, 1.2);
}

bool House::fanRunning() const {
    return closed(RELAY_G1) || closed(RELAY_G2) || closed(RELAY_G3);
}

double House::equipmentHeat(double outdoor, std::string *activity) const {
    const HouseParams &p = m_params;
    double heat = 0.0;
    double cool = 0.0;
    double blowerShare = fanRunning() ? 1.0 : NO_FAN_SHARE;
    bool stage1 = closed(RELAY_Y1) || closed(RELAY_Y2);
    if (p.equipment == Equipment::Furnace) {
        // A furnace runs its own blower; the air conditioner needs the fan.
        if (closed(RELAY_W1) || closed(RELAY_W2)) {
            heat += p.furnaceStage1;
        }
        if (closed(RELAY_W2)) {
            heat += p.furnaceStage2;
        }
        if (stage1) {
            cool += p.coolStage1 * blowerShare;
        }
        if (closed(RELAY_Y2)) {
            cool += p.coolStage2 * blowerShare;
        }
    } else {
        double compressor = 0.0;
        if (stage1) {
            compressor += p.heatPumpStage1;
        }
        if (closed(RELAY_Y2)) {
            compressor += p.heatPumpStage2;
        }
        // The reversing valve: O energised means cooling.
        bool cooling = closed(RELAY_OB);
        double aux = 0.0;
        if (closed(RELAY_W1)) {
            aux += p.auxStage;
        }
        if (closed(RELAY_W2)) {
            aux += p.auxStage;
        }
        if (cooling) {
            cool += compressor * heatPumpCoolingFactor(outdoor) * blowerShare;
        } else if (!(p.aux == AuxHeat::Gas && aux > 0.0)) {
            // With gas auxiliary heat the compressor is held off while the
            // burner runs (the coil would see the furnace's heat).
            heat += compressor * heatPumpHeatingFactor(outdoor) * blowerShare;
        }
        heat += aux;
    }
    double fan = fanRunning() ? p.fanHeat : 0.0;
    double dehumidifier = closed(RELAY_DEH) ? DEHUMIDIFIER_HEAT : 0.0;
    if (activity != nullptr) {
        char text[64];
        if (heat > 0.0 && cool > 0.0) {
            snprintf(text, sizeof(text), "heat %.1f kW and cool %.1f kW", heat / 1000.0,
                     cool / 1000.0);
        } else if (heat > 0.0) {
            snprintf(text, sizeof(text), "heat %.1f kW", heat / 1000.0);
        } else if (cool > 0.0) {
            snprintf(text, sizeof(text), "cool %.1f kW", cool / 1000.0);
        } else {
            snprintf(text, sizeof(text), "idle");
        }
        *activity = text;
    }
    return heat - cool + fan + dehumidifier;
}

double House::equipmentMoisture(double rh) const {
    const HouseParams &p = m_params;
    double moisture = 0.0;
    if (closed(RELAY_HUM)) {
        moisture += p.humidifierRate;
    }
    if (closed(RELAY_DEH)) {
        moisture -= p.dehumidifierRate * std::clamp(rh / 50.0, 0.0, 1.0);
    }
    // Cooling condenses moisture on a wet coil.
    std::string ignored;
    double heat = equipmentHeat(m_outdoor, &ignored);
    bool coilCooling = closed(RELAY_Y1) || closed(RELAY_Y2);
    if (p.equipment == Equipment::HeatPump) {
        coilCooling = coilCooling && closed(RELAY_OB);
    }
    if (coilCooling && heat < 0.0) {
        double wetness = std::clamp((rh - DRY_COIL_RH) / 25.0, 0.0, 1.0);
        double latentWatts = p.latentShare * (-heat) * wetness;
        moisture -= latentWatts / 2.45e6 * 3600.0;
    }
    return moisture;
}

void House::step(double seconds, double hourOfDay) {
    const HouseParams &p = m_params;
    m_outdoor = outdoorAt(hourOfDay);
    double solar = solarAt(hourOfDay);
    double coupling = p.airMassCoupling * (fanRunning() ? 1.5 : 1.0);
    double hvac = equipmentHeat(m_outdoor);
    // Half the sun falls on the air (through windows onto furnishings), half
    // on the mass.
    double airFlow = p.uaAir * (m_outdoor - m_indoor) + coupling * (m_mass - m_indoor) + hvac +
                     p.internalGain + 0.5 * solar;
    double massFlow =
        p.uaMass * (m_outdoor - m_mass) + coupling * (m_indoor - m_mass) + 0.5 * solar;
    double rh = indoorRh();
    double moisture = equipmentMoisture(rh) + p.moistureGain; // kg/h
    double airMass = p.volume * AIR_DENSITY;
    double outdoorRatio = humidityRatioFromRh(m_outdoor, p.outdoorRh);
    double exchange = p.airChanges / 3600.0 * airMass; // kg of air per second
    double waterFlow = exchange * (outdoorRatio - m_humidityRatio) + moisture / 3600.0;

    m_indoor += airFlow * seconds / p.airCapacity;
    m_mass += massFlow * seconds / p.massCapacity;
    m_humidityRatio += waterFlow * seconds / (airMass * MOISTURE_BUFFER);
    // Air cannot hold more than saturation: the rest condenses.
    double saturated = humidityRatioFromRh(m_indoor, 100.0);
    m_humidityRatio = std::clamp(m_humidityRatio, 0.0, saturated);
}

void House::advance(double seconds, double hourOfDay) {
    if (seconds <= 0.0) {
        m_outdoor = outdoorAt(hourOfDay);
        return;
    }
    int steps = static_cast<int>(std::ceil(seconds / MAX_STEP));
    double dt = seconds / steps;
    for (int i = 0; i < steps; i++) {
        // The time of day at each sub-step, counted back from the end.
        double hour = hourOfDay - (steps - 1 - i) * dt / 3600.0;
        if (hour < 0.0) {
            hour += 24.0;
        }
        step(dt, hour);
    }
}

HouseSnapshot House::snapshot() const {
    HouseSnapshot s;
    s.indoor = m_indoor;
    s.mass = m_mass;
    s.outdoor = m_outdoor;
    s.rh = indoorRh();
    s.hvacHeat = equipmentHeat(m_outdoor, &s.activity);
    s.latent = equipmentMoisture(s.rh);
    s.fan = fanRunning();
    return s;
}

} // namespace sim
