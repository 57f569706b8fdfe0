// Weather condition pictures, composed from sun, moon, clouds and
// precipitation on a 70 x 56 design grid and drawn centred in a box, for the
// dark weather panels.
#pragma once

#include <cairo.h>

#include <string>

// Draws the named scene ("sunny", "rain-snow", "partly-cloudy-night"...).
// Returns false for an unknown scene.
bool drawWeather(cairo_t *cr, const std::string &scene, double x, double y, double w, double h);
