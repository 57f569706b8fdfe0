// The simulated house: one thermal zone (the room as the thermostat senses
// it, and the building's mass) with an outdoor climate that follows a sine
// day or a weather day file, solar and internal gains, a humidity balance,
// and the HVAC equipment driven by the relay contacts and sized to the
// house's design loads.
#pragma once

#include "hvac/relay_control.h"

#include "house/climate.h"

#include <array>
#include <cstdint>
#include <string>

namespace sim {

enum class Equipment { Furnace, HeatPump };
enum class AuxHeat { Electric, Gas };

// The three calibrated houses (see housePreset in house.cpp for the figures
// they are calibrated against).
enum class HousePreset { Leaky, Typical, Tight };
// "leaky", "typical", "tight"; false for anything else.
bool parseHousePreset(const std::string &name, HousePreset *preset);
const char *housePresetName(HousePreset preset);

struct HouseParams {
    HousePreset preset = HousePreset::Typical;
    Equipment equipment = Equipment::Furnace;
    AuxHeat aux = AuxHeat::Electric;
    // Stages of the heating and cooling equipment (1 or 2); 0 while unknown,
    // which counts as 1.
    int stages = 0;
    // Envelope: conductance of the room air to outdoors (windows and air
    // leakage) and of the mass to outdoors (walls, roof, floor), the coupling
    // between the two (W/K), and heat capacities (J/K). The typical house.
    double uaAir = 100.0;
    double uaMass = 110.0;
    double airMassCoupling = 10000.0;
    double airCapacity = 4.0e6;
    double massCapacity = 14.0e6;
    // Design conditions (C) and sizing rules (capacity over design load).
    double designIndoorHeat = 21.0;
    double designOutdoorHeat = -15.0;
    double designIndoorCool = 24.0;
    double designOutdoorCool = 33.0;
    double designIrradiance = 700.0; // W/m2 on the solar aperture at the cooling design
    double furnaceSizing = 1.6;
    double coolSizing = 1.1;
    double auxSizing = 1.1;
    // Equipment capacities (W, all stages together); 0 means sized from the
    // design loads by the rules above. The heat pump's at its rating point
    // (8.3 C heating, 35 C cooling).
    double furnaceW = 0.0;
    double coolW = 0.0;
    double heatPumpW = 0.0;
    double auxW = 0.0;
    double fanHeat = 250.0;
    // Gains: constant internal gain (W), the sine day's solar gain at noon
    // (W), and the effective window area that turns a weather file's
    // irradiance (W/m2) into a gain (m2).
    double internalGain = 500.0;
    double solarPeak = 1600.0;
    double solarAperture = 4.0;
    // Sine-day climate, used without a weather file.
    double outdoorMean = 5.0;  // daily mean (C)
    double outdoorSwing = 5.0; // peak above the mean at 15:00, low at 03:00 (C)
    double outdoorRh = 70.0;   // relative humidity outdoors (%)
    // Weather noise: a smooth random offset of the outdoor temperature
    // (either climate) of about this standard deviation (C), drawn from
    // noiseSeed; 0 for none.
    double weatherNoise = 0.0;
    uint32_t noiseSeed = 0;
    // Moisture: air volume (m3), infiltration (air changes per hour),
    // occupants' moisture, humidifier and dehumidifier (kg/h), and the share
    // of a cooling coil's capacity that goes to moisture when it is wet.
    double volume = 375.0;
    double airChanges = 0.4;
    double moistureGain = 0.2;
    double humidifierRate = 0.5;
    double dehumidifierRate = 1.0;
    double latentShare = 0.25;
    // Initial state.
    double indoorStart = 20.0;
    double indoorRhStart = 40.0;
};

// The envelope, gains, moisture and sizing rules of a preset; capacities are
// left to be sized from the design loads.
HouseParams housePreset(HousePreset preset);

// The floor area of the preset houses (m2).
constexpr double HOUSE_FLOOR_AREA = 150.0;
// A house of another floor area (m2) like p: its envelope, heat capacities,
// air volume, windows and gains in proportion (the equipment is sized from
// its loads later); and with solarShare of its sun (its windows facing one
// way rather than every way).
void scaleHouse(HouseParams *p, double area, double solarShare);

// Conductance from the room to outdoors in steady state (W/K).
double steadyConductance(const HouseParams &p);
// Heat loss at the heating design conditions, without gains (W).
double designHeatLoad(const HouseParams &p);
// Total (sensible and latent) cooling load at the cooling design conditions (W).
double designCoolLoad(const HouseParams &p);
// Fills every capacity left at 0 from the design loads and the sizing rules.
void sizeEquipment(HouseParams *p);
// The house, its equipment and its climate in one line, its temperatures in
// degrees C or F.
std::string houseSummary(const HouseParams &p, const WeatherDay &weather, bool celsius = true);

struct HouseSnapshot {
    double indoor;   // air temperature (C)
    double mass;     // building mass temperature (C)
    double outdoor;  // outdoor temperature (C)
    double rh;       // indoor relative humidity (%)
    double hvacHeat; // heat delivered by the equipment now (W, negative = cooling)
    double latent;   // moisture removed or added by the equipment (kg/h, negative = removed)
    bool fan;
    std::string activity; // "idle", "heat 12.0 kW", "cool ..."
};

// Sensible heat each relay's equipment delivers (W, negative for cooling):
// W1/W2 the furnace stages or the auxiliary heat, Y1/Y2 the compressor
// stages, the fan relays their blower's heat, DEH the dehumidifier's heat.
using RelayOutput = std::array<double, RELAY_COUNT>;

class House {
  public:
    // Sizes the equipment left at 0 (sizeEquipment).
    explicit House(const HouseParams &params);

    // Contacts in relay order, '1' closed; anything else counts as open.
    void setRelays(const std::array<char, RELAY_COUNT> &contacts);
    const std::array<char, RELAY_COUNT> &relays() const { return m_relays; }

    // The outdoor climate from a day file instead of the sine day.
    void setWeather(const WeatherDay &weather) { m_weather = weather; }
    const WeatherDay &weather() const { return m_weather; }

    // Moves the house forward by seconds of simulated time. hour is the local
    // time at the end of the step in hours since midnight of the day the run
    // began (the sine day repeats every 24 hours, a day file with its own period).
    void advance(double seconds, double hour);

    // Sets the state directly (console and tests).
    void setIndoor(double celsius);
    void setMass(double celsius);
    void setIndoorRh(double percent);
    // Changes the stage count after the equipment was sized.
    void setStages(int stages) { m_params.stages = stages; }
    HouseParams &params() { return m_params; }
    const HouseParams &params() const { return m_params; }

    double indoor() const { return m_indoor; }
    double mass() const { return m_mass; }
    double outdoor() const { return m_outdoor; }
    double indoorRh() const;
    HouseSnapshot snapshot() const;

    // The outdoor temperature, humidity and solar gain (W) at an hour of the run.
    double outdoorAt(double hour) const;
    double outdoorRhAt(double hour) const;
    double solarAt(double hour) const;
    // The wind speed of the weather file (m/s); negative without one.
    double windAt(double hour) const { return m_weather.empty() ? -1.0 : m_weather.at(hour).wind; }
    // What the equipment delivers with the current contacts at an outdoor
    // temperature and indoor humidity: sensible heat per relay (W) and the
    // moisture it adds or removes (kg/h).
    RelayOutput relayOutput(double outdoor, double rh) const;
    double equipmentHeat(double outdoor, std::string *activity = nullptr) const;
    double equipmentMoisture(double rh) const;
    // Heat delivered by each relay's equipment since construction (J).
    const RelayOutput &deliveredEnergy() const { return m_energy; }
    // Heat pump capacity factor at an outdoor temperature; the cooling
    // factor also derates an air conditioner.
    static double heatPumpHeatingFactor(double outdoor);
    static double heatPumpCoolingFactor(double outdoor);

  private:
    bool closed(RelayIndex r) const { return m_relays[r] == '1'; }
    bool fanRunning() const;
    bool twoStage() const { return m_params.stages == 2; }
    // How wet a cooling coil runs at an indoor humidity (0 dry to 1 wet).
    double coilWetness(double rh) const;
    void step(double seconds, double hour);

    HouseParams m_params;
    WeatherDay m_weather;
    std::array<char, RELAY_COUNT> m_relays;
    double m_indoor;
    double m_mass;
    double m_outdoor;
    double m_outdoorRh;
    double m_humidityRatio; // kg of water per kg of dry air
    RelayOutput m_energy{};
};

// Saturation vapour pressure over water (Pa) and the conversions between
// relative humidity and humidity ratio at sea-level pressure.
double saturationPressure(double celsius);
double humidityRatioFromRh(double celsius, double rh);
double rhFromHumidityRatio(double celsius, double ratio);

} // namespace sim
