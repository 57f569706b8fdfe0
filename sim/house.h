// The simulated house: one thermal zone (indoor air and the building's mass)
// with an outdoor climate that swings over the day, solar and internal gains,
// a humidity balance, and the HVAC equipment driven by the relay contacts.
#pragma once

#include <array>
#include <string>

namespace sim {

// Relay order of sim/relays.
enum Relay : int {
    RELAY_OB = 0,
    RELAY_Y1 = 1,
    RELAY_Y2 = 2,
    RELAY_W1 = 3,
    RELAY_W2 = 4,
    RELAY_DEH = 5,
    RELAY_HUM = 6,
    RELAY_G1 = 7,
    RELAY_G2 = 8,
    RELAY_G3 = 9,
    RELAY_COUNT = 10,
};

enum class Equipment { Furnace, HeatPump };
enum class AuxHeat { Electric, Gas };

struct HouseParams {
    Equipment equipment = Equipment::Furnace;
    AuxHeat aux = AuxHeat::Electric;
    // Envelope: conductance of the air and of the mass to outdoors, and
    // between air and mass (W/K); heat capacities (J/K).
    double uaAir = 120.0;
    double uaMass = 80.0;
    double airMassCoupling = 900.0;
    double airCapacity = 2.0e6;
    double massCapacity = 2.0e7;
    // Equipment (W). Furnace stages, air-conditioner stages, heat pump at
    // its rated outdoor temperature (8.3 C heating, 35 C cooling), and the
    // heat pump's auxiliary heat (per stage).
    double furnaceStage1 = 12000.0;
    double furnaceStage2 = 6000.0;
    double coolStage1 = 5000.0;
    double coolStage2 = 2500.0;
    double heatPumpStage1 = 6000.0;
    double heatPumpStage2 = 3000.0;
    double auxStage = 7000.0;
    double fanHeat = 250.0;
    // Gains (W).
    double internalGain = 400.0;
    double solarPeak = 1200.0;
    // Climate.
    double outdoorMean = 5.0;  // daily mean (C)
    double outdoorSwing = 5.0; // peak above the mean at 15:00, low at 03:00 (C)
    double outdoorRh = 70.0;   // relative humidity outdoors (%)
    // Moisture: air volume (m3), infiltration (air changes per hour),
    // occupants' moisture, humidifier and dehumidifier (kg/h), and the share
    // of cooling capacity that removes moisture.
    double volume = 400.0;
    double airChanges = 0.35;
    double moistureGain = 0.12;
    double humidifierRate = 0.5;
    double dehumidifierRate = 1.0;
    double latentShare = 0.25;
    // Initial state.
    double indoorStart = 20.0;
    double indoorRhStart = 40.0;
};

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

class House {
  public:
    explicit House(const HouseParams &params);

    // Contacts in relay order, '1' closed; anything else counts as open.
    void setRelays(const std::array<char, RELAY_COUNT> &contacts);
    const std::array<char, RELAY_COUNT> &relays() const { return m_relays; }

    // Moves the house forward by seconds of simulated time; hourOfDay is the
    // local time of day at the end of the step (0 to 24).
    void advance(double seconds, double hourOfDay);

    // Sets the state directly (console and tests).
    void setIndoor(double celsius);
    void setMass(double celsius);
    void setIndoorRh(double percent);
    HouseParams &params() { return m_params; }
    const HouseParams &params() const { return m_params; }

    double indoor() const { return m_indoor; }
    double mass() const { return m_mass; }
    double outdoor() const { return m_outdoor; }
    double indoorRh() const;
    HouseSnapshot snapshot() const;

    // The outdoor temperature and the solar gain at a local time of day.
    double outdoorAt(double hourOfDay) const;
    double solarAt(double hourOfDay) const;
    // What the equipment delivers with the current contacts at an outdoor
    // temperature: heat (W, negative for cooling) and moisture (kg/h).
    double equipmentHeat(double outdoor, std::string *activity = nullptr) const;
    double equipmentMoisture(double rh) const;
    // Heat pump capacity factor at an outdoor temperature.
    static double heatPumpHeatingFactor(double outdoor);
    static double heatPumpCoolingFactor(double outdoor);

  private:
    bool closed(Relay r) const { return m_relays[r] == '1'; }
    bool fanRunning() const;
    void step(double seconds, double hourOfDay);

    HouseParams m_params;
    std::array<char, RELAY_COUNT> m_relays;
    double m_indoor;
    double m_mass;
    double m_outdoor;
    double m_humidityRatio; // kg of water per kg of dry air
};

// Saturation vapour pressure over water (Pa) and the conversions between
// relative humidity and humidity ratio at sea-level pressure.
double saturationPressure(double celsius);
double humidityRatioFromRh(double celsius, double rh);
double rhFromHumidityRatio(double celsius, double ratio);

} // namespace sim
