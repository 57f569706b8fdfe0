// The simulated house: a two-node thermal model (the room and the building's
// mass) stepped with small explicit steps, a moisture balance on the indoor
// humidity ratio, and the equipment that the relay contacts switch on.
//
// Calibration. The presets are one 150 m2 (1600 sq ft) two-storey house of
// 375 m3 in a cold climate (heating design -15 C outdoors, 21 C indoors;
// cooling design 33 C outdoors, 24 C indoors), built three ways. They are
// chosen against these published figures:
//  - Building time constants (heat capacity over conductance): free-floating
//    houses measured by more than 10,000 connected thermostats in Canada and
//    the United States have winter time constants "from 15 to 55 hours" for
//    the majority; a lightweight timber passive house is "around 90 hours",
//    a masonry one "closer to 200 hours".
//  - Heat capacity: ISO 13790 classes the internal heat capacity of
//    buildings per m2 of floor as light 110, medium 165, heavy 260
//    kJ/(m2 K): 16 to 39 MJ/K for this floor area.
//  - Furnace-off drift: an indoor-outdoor difference of 36 K over those time
//    constants is 0.65 to 2.4 C per hour; real homes at design conditions
//    drift 0.5 to 2 C per hour.
//  - Equipment sizing: ACCA Manual S selects a furnace of 100 to 140 % of the
//    design heat load and cooling equipment of 95 to 115 % of the design
//    total cooling load; installed furnaces are commonly 1.4 to 2 times the
//    load, and the smallest furnaces sold are two to three times the load of
//    a tight house. Heat pumps are sized on the cooling load, their electric
//    back-up on the heat load.
//  - Recovery: a thermostat manual's worked example recovers from 62 F to
//    68 F between 5:00 and 6:30 (2.2 C per hour).
// The room node is the air with the furnishings and interior surfaces that
// follow it within minutes, as a wall thermostat senses it; the mass node is
// the structure. Each preset is meant to drift 0.5 to 2.4 C per hour over
// the first hour with the heat off at the heating design conditions, to warm
// 1 to 4 C per hour with the furnace on at 0 C outdoors and to cool 0.2 to
// 3 C per hour at the cooling design conditions.
#include "house/house.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double ATMOSPHERE = 101325.0;
constexpr double AIR_DENSITY = 1.2;
constexpr double HOURS_PER_DAY = 24.0;
// Furnishings and walls buffer moisture: the indoor humidity moves as if the
// air were this many times heavier.
constexpr double MOISTURE_BUFFER = 3.0;
// Longest explicit step; the room's own time constant is several minutes.
constexpr double MAX_STEP = 5.0;
// A compressor or coil without its blower moves only this share of its heat.
constexpr double NO_FAN_SHARE = 0.25;
// Heat a dehumidifier gives off while running (W).
constexpr double DEHUMIDIFIER_HEAT = 500.0;
// Below this indoor humidity a cooling coil stays dry; at this much above
// it the coil is fully wet.
constexpr double DRY_COIL_RH = 35.0;
constexpr double WET_COIL_SPAN = 25.0;
constexpr double LATENT_HEAT = 2.45e6; // J/kg
// Sensible share of the design cooling load (a sensible heat ratio of 0.75).
constexpr double DESIGN_SENSIBLE_SHARE = 0.75;
// The first stage of two-stage equipment: a furnace's low fire and a
// compressor's low speed, as shares of the full capacity.
constexpr double FURNACE_LOW_FIRE = 0.65;
constexpr double COMPRESSOR_LOW = 0.7;
// A heat pump's rating points (C).
constexpr double HEAT_PUMP_HEAT_RATING = 8.3;
constexpr double COOL_RATING = 35.0;

struct PresetSpec {
    HousePreset preset;
    const char *name;
    double uaAir, uaMass, coupling, airCapacity, massCapacity;
    double furnaceSizing, airChanges, solarAperture;
};

// leaky: an older plaster-and-lath house (200 kJ/(m2 K)) with single
// glazing, little insulation, 0.9 air changes an hour and a furnace twice its
// load; time constant 23 h, design heat load 13.3 kW. typical: a wood-frame
// house (120 kJ/(m2 K)) with double glazing, insulated walls and roof, 0.4
// air changes and a furnace of 1.6 times its load; 24 h, 7.5 kW. tight:
// wood frame on a slab (133 kJ/(m2 K)), triple glazing, thick insulation,
// 0.2 air changes, and the smallest furnace sold, 2.5 times its load; 56 h,
// 3.6 kW.
constexpr PresetSpec c_Presets[] = {
    {HousePreset::Leaky, "leaky", 200.0, 170.0, 15000.0, 5.5e6, 24.5e6, 2.0, 0.9, 4.0},
    {HousePreset::Typical, "typical", 100.0, 110.0, 10000.0, 4.0e6, 14.0e6, 1.6, 0.4, 4.0},
    {HousePreset::Tight, "tight", 40.0, 60.0, 10000.0, 3.5e6, 16.5e6, 2.5, 0.2, 3.5},
};

// Irradiance on the solar aperture at noon on a clear winter day (W/m2),
// for the sine day's solar gain.
constexpr double WINTER_NOON_IRRADIANCE = 400.0;

const PresetSpec &specOf(HousePreset preset) {
    for (const PresetSpec &s : c_Presets) {
        if (s.preset == preset) {
            return s;
        }
    }
    return c_Presets[1];
}

} // namespace

bool parseHousePreset(const std::string &name, HousePreset *preset) {
    for (const PresetSpec &s : c_Presets) {
        if (name == s.name) {
            *preset = s.preset;
            return true;
        }
    }
    return false;
}

const char *housePresetName(HousePreset preset) {
    return specOf(preset).name;
}

HouseParams housePreset(HousePreset preset) {
    const PresetSpec &s = specOf(preset);
    HouseParams p;
    p.preset = preset;
    p.uaAir = s.uaAir;
    p.uaMass = s.uaMass;
    p.airMassCoupling = s.coupling;
    p.airCapacity = s.airCapacity;
    p.massCapacity = s.massCapacity;
    p.furnaceSizing = s.furnaceSizing;
    p.airChanges = s.airChanges;
    p.solarAperture = s.solarAperture;
    p.solarPeak = s.solarAperture * WINTER_NOON_IRRADIANCE;
    return p;
}

void scaleHouse(HouseParams *p, double area, double solarShare) {
    double k = area / HOUSE_FLOOR_AREA;
    for (double *v : {&p->uaAir, &p->uaMass, &p->airMassCoupling, &p->airCapacity, &p->massCapacity,
                      &p->volume, &p->internalGain, &p->moistureGain}) {
        *v *= k;
    }
    p->solarAperture *= k * solarShare;
    p->solarPeak *= k * solarShare;
}

double steadyConductance(const HouseParams &p) {
    return p.uaAir + p.uaMass * p.airMassCoupling / (p.uaMass + p.airMassCoupling);
}

double designHeatLoad(const HouseParams &p) {
    return steadyConductance(p) * (p.designIndoorHeat - p.designOutdoorHeat);
}

double designCoolLoad(const HouseParams &p) {
    double sensible = steadyConductance(p) * (p.designOutdoorCool - p.designIndoorCool) +
                      p.solarAperture * p.designIrradiance + p.internalGain;
    return sensible / DESIGN_SENSIBLE_SHARE;
}

void sizeEquipment(HouseParams *p) {
    double heatLoad = designHeatLoad(*p);
    if (p->furnaceW <= 0.0) {
        p->furnaceW = p->furnaceSizing * heatLoad;
    }
    if (p->coolW <= 0.0) {
        p->coolW = p->coolSizing * designCoolLoad(*p);
    }
    if (p->heatPumpW <= 0.0) {
        p->heatPumpW = p->coolSizing * designCoolLoad(*p);
    }
    if (p->auxW <= 0.0) {
        p->auxW = p->auxSizing * heatLoad;
    }
}

std::string houseSummary(const HouseParams &p, const WeatherDay &weather, bool celsius) {
    auto degrees = [celsius](double c) { return celsius ? c : c * 9.0 / 5.0 + 32.0; };
    const char *unit = celsius ? "C" : "F";
    double g = steadyConductance(p);
    double tau = (p.airCapacity + p.massCapacity) / g / 3600.0;
    char equipment[160];
    if (p.equipment == Equipment::Furnace) {
        snprintf(equipment, sizeof(equipment), "furnace %.1f kW, air conditioner %.1f kW",
                 p.furnaceW / 1000.0, p.coolW / 1000.0);
    } else {
        snprintf(equipment, sizeof(equipment), "heat pump %.1f kW, %s auxiliary heat %.1f kW",
                 p.heatPumpW / 1000.0, p.aux == AuxHeat::Gas ? "gas" : "electric", p.auxW / 1000.0);
    }
    char climate[160];
    if (weather.empty()) {
        snprintf(climate, sizeof(climate), "sine day %.1f %s +/- %.1f %s", degrees(p.outdoorMean),
                 unit, celsius ? p.outdoorSwing : p.outdoorSwing * 9.0 / 5.0, unit);
    } else {
        std::string name = weather.name().substr(weather.name().find_last_of('/') + 1);
        snprintf(climate, sizeof(climate), "weather %s", name.c_str());
    }
    if (p.weatherNoise > 0.0) {
        size_t used = strlen(climate);
        snprintf(climate + used, sizeof(climate) - used, ", noise %.1f %s",
                 celsius ? p.weatherNoise : p.weatherNoise * 9.0 / 5.0, unit);
    }
    char text[512];
    snprintf(text, sizeof(text),
             "%s (%.0f W/K, time constant %.0f h, design heat load %.1f kW at %.0f %s), %s, %d %s; "
             "%s",
             housePresetName(p.preset), g, tau, designHeatLoad(p) / 1000.0,
             degrees(p.designOutdoorHeat), unit, equipment, std::max(p.stages, 1),
             p.stages == 2 ? "stages" : "stage", climate);
    return text;
}

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
      m_outdoor(params.outdoorMean), m_outdoorRh(params.outdoorRh) {
    sizeEquipment(&m_params);
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

namespace {

// Weather noise: a slow part (fronts, a draw every two days) and a fast one
// (a draw every six hours), each interpolated smoothly between its draws,
// uniform draws scaled to a standard deviation of one.
constexpr double NOISE_BLOCKS_H[] = {48.0, 6.0};
constexpr double NOISE_WEIGHTS[] = {0.8, 0.6};
constexpr double UNIFORM_TO_UNIT = 3.4641016151377544; // sqrt(12)

double smoothNoise(uint32_t seed, uint32_t stream, double hour, double block) {
    double b = std::floor(hour / block);
    double f = hour / block - b;
    double s = 0.5 - 0.5 * std::cos(PI * f);
    auto at = static_cast<int64_t>(b);
    double a = seededDraw(seed, stream, at) - 0.5;
    double c = seededDraw(seed, stream, at + 1) - 0.5;
    return UNIFORM_TO_UNIT * (a + (c - a) * s);
}

} // namespace

double House::outdoorAt(double hour) const {
    double noise = 0.0;
    for (size_t i = 0; m_params.weatherNoise > 0.0 && i < std::size(NOISE_BLOCKS_H); i++) {
        noise += m_params.weatherNoise * NOISE_WEIGHTS[i] *
                 smoothNoise(m_params.noiseSeed, static_cast<uint32_t>(100 + i), hour,
                             NOISE_BLOCKS_H[i]);
    }
    if (!m_weather.empty()) {
        return m_weather.at(hour).temperature + noise;
    }
    return m_params.outdoorMean +
           m_params.outdoorSwing * std::cos(2.0 * PI * (hour - 15.0) / HOURS_PER_DAY) + noise;
}

double House::outdoorRhAt(double hour) const {
    return m_weather.empty() ? m_params.outdoorRh : m_weather.at(hour).rh;
}

double House::solarAt(double hour) const {
    if (!m_weather.empty()) {
        return m_params.solarAperture * m_weather.at(hour).solar;
    }
    double h = std::fmod(hour, HOURS_PER_DAY);
    if (h < 0.0) {
        h += HOURS_PER_DAY;
    }
    if (h <= 6.0 || h >= 18.0) {
        return 0.0;
    }
    return m_params.solarPeak * std::sin(PI * (h - 6.0) / 12.0);
}

double House::heatPumpHeatingFactor(double outdoor) {
    // Capacity falls by about 2.5 % per degree below the rating point and
    // the compressor locks out in deep cold.
    if (outdoor < -20.0) {
        return 0.0;
    }
    return std::clamp(1.0 + 0.025 * (outdoor - HEAT_PUMP_HEAT_RATING), 0.15, 1.3);
}

double House::heatPumpCoolingFactor(double outdoor) {
    return std::clamp(1.0 - 0.012 * (outdoor - COOL_RATING), 0.6, 1.2);
}

bool House::fanRunning() const {
    return closed(RELAY_G1) || closed(RELAY_G2) || closed(RELAY_G3);
}

double House::coilWetness(double rh) const {
    return std::clamp((rh - DRY_COIL_RH) / WET_COIL_SPAN, 0.0, 1.0);
}

RelayOutput House::relayOutput(double outdoor, double rh) const {
    const HouseParams &p = m_params;
    RelayOutput out{};
    double blowerShare = fanRunning() ? 1.0 : NO_FAN_SHARE;
    // Two-stage equipment splits its capacity between the stages; one-stage
    // equipment has no second stage terminal and gives its all on the first.
    double low = twoStage() ? COMPRESSOR_LOW : 1.0;
    double lowFire = twoStage() ? FURNACE_LOW_FIRE : 1.0;
    bool y1 = closed(RELAY_Y1) || closed(RELAY_Y2);
    bool y2 = twoStage() && closed(RELAY_Y2);
    // A wet coil spends part of its capacity on moisture.
    double sensibleShare = 1.0 - p.latentShare * coilWetness(rh);
    if (p.equipment == Equipment::Furnace) {
        // A furnace runs its own blower; the air conditioner needs the fan.
        if (closed(RELAY_W1E) || closed(RELAY_W2)) {
            out[RELAY_W1E] = p.furnaceW * lowFire;
        }
        if (twoStage() && closed(RELAY_W2)) {
            out[RELAY_W2] = p.furnaceW * (1.0 - lowFire);
        }
        double cool = p.coolW * heatPumpCoolingFactor(outdoor) * blowerShare * sensibleShare;
        out[RELAY_Y1] = y1 ? -cool * low : 0.0;
        out[RELAY_Y2] = y2 ? -cool * (1.0 - low) : 0.0;
    } else {
        // The auxiliary heat: all on W1/E for one stage, half on each for two.
        double auxShare = twoStage() ? 0.5 : 1.0;
        double aux1 = closed(RELAY_W1E) ? p.auxW * auxShare : 0.0;
        double aux2 = twoStage() && closed(RELAY_W2) ? p.auxW * auxShare : 0.0;
        out[RELAY_W1E] = aux1;
        out[RELAY_W2] = aux2;
        // The reversing valve: O energised means cooling. With gas auxiliary
        // heat the compressor is held off while the burner runs (the coil
        // would see the furnace's heat).
        double compressor = 0.0;
        if (closed(RELAY_OB)) {
            compressor =
                -p.heatPumpW * heatPumpCoolingFactor(outdoor) * blowerShare * sensibleShare;
        } else if (!(p.aux == AuxHeat::Gas && aux1 + aux2 > 0.0)) {
            compressor = p.heatPumpW * heatPumpHeatingFactor(outdoor) * blowerShare;
        }
        out[RELAY_Y1] = y1 ? compressor * low : 0.0;
        out[RELAY_Y2] = y2 ? compressor * (1.0 - low) : 0.0;
    }
    // The blower's heat goes with the lowest fan relay that is closed.
    for (RelayIndex g : {RELAY_G1, RELAY_G2, RELAY_G3}) {
        if (closed(g)) {
            out[g] = p.fanHeat;
            break;
        }
    }
    out[RELAY_DEH] = closed(RELAY_DEH) ? DEHUMIDIFIER_HEAT : 0.0;
    return out;
}

double House::equipmentHeat(double outdoor, std::string *activity) const {
    RelayOutput out = relayOutput(outdoor, indoorRh());
    double heat = 0.0;
    double cool = 0.0;
    for (RelayIndex r : {RELAY_Y1, RELAY_Y2, RELAY_W1E, RELAY_W2}) {
        heat += std::max(out[r], 0.0);
        cool += std::max(-out[r], 0.0);
    }
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
    double total = 0.0;
    for (double w : out) {
        total += w;
    }
    return total;
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
    // A cooling coil condenses the share of its capacity that is not sensible.
    RelayOutput out = relayOutput(m_outdoor, rh);
    double sensibleCooling = std::max(-(out[RELAY_Y1] + out[RELAY_Y2]), 0.0);
    double sensibleShare = 1.0 - p.latentShare * coilWetness(rh);
    if (sensibleCooling > 0.0) {
        double latentWatts = sensibleCooling / sensibleShare * (1.0 - sensibleShare);
        moisture -= latentWatts / LATENT_HEAT * 3600.0;
    }
    return moisture;
}

void House::step(double seconds, double hour) {
    const HouseParams &p = m_params;
    m_outdoor = outdoorAt(hour);
    m_outdoorRh = outdoorRhAt(hour);
    double solar = solarAt(hour);
    double coupling = p.airMassCoupling * (fanRunning() ? 1.5 : 1.0);
    double rh = indoorRh();
    RelayOutput out = relayOutput(m_outdoor, rh);
    double hvac = 0.0;
    for (uint32_t r = 0; r < RELAY_COUNT; r++) {
        hvac += out[r];
        m_energy[r] += out[r] * seconds;
    }
    // Half the sun falls on the room (through windows onto furnishings), half
    // on the mass.
    double airFlow = p.uaAir * (m_outdoor - m_indoor) + coupling * (m_mass - m_indoor) + hvac +
                     p.internalGain + 0.5 * solar;
    double massFlow =
        p.uaMass * (m_outdoor - m_mass) + coupling * (m_indoor - m_mass) + 0.5 * solar;
    double moisture = equipmentMoisture(rh) + p.moistureGain; // kg/h
    double airMass = p.volume * AIR_DENSITY;
    double outdoorRatio = humidityRatioFromRh(m_outdoor, m_outdoorRh);
    double exchange = p.airChanges / 3600.0 * airMass; // kg of air per second
    double waterFlow = exchange * (outdoorRatio - m_humidityRatio) + moisture / 3600.0;

    m_indoor += airFlow * seconds / p.airCapacity;
    m_mass += massFlow * seconds / p.massCapacity;
    m_humidityRatio += waterFlow * seconds / (airMass * MOISTURE_BUFFER);
    // Air cannot hold more than saturation: the rest condenses.
    double saturated = humidityRatioFromRh(m_indoor, 100.0);
    m_humidityRatio = std::clamp(m_humidityRatio, 0.0, saturated);
}

void House::advance(double seconds, double hour) {
    if (seconds <= 0.0) {
        m_outdoor = outdoorAt(hour);
        m_outdoorRh = outdoorRhAt(hour);
        return;
    }
    int steps = static_cast<int>(std::ceil(seconds / MAX_STEP));
    double dt = seconds / steps;
    for (int i = 0; i < steps; i++) {
        // The time at each sub-step, counted back from the end.
        step(dt, hour - (steps - 1 - i) * dt / 3600.0);
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
