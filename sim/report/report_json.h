// A run's report as JSON (report.json beside report.txt): every figure of
// the text, in the thermostat's unit as the text gives it, and the house and
// the thermostat's configuration in SI units so that a study can read a
// run's setup back.
#pragma once

#include "house/house.h"
#include "report/report.h"

#include <nlohmann/json.hpp>
#include <string>

namespace sim {

using Json = nlohmann::ordered_json;

Json reportToJson(const Report &report, const HouseParams &house, const std::string &houseLine);
// The configuration and the house's equipment of a report.json; false when
// they are missing.
bool setupFromJson(const Json &report, ThermostatSetup *setup, HouseParams *house);

} // namespace sim
