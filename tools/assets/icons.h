// Symbol icons of the product (activity, alert, status and small inline
// icons), each drawn centred in a box on a 24 x 24 design grid.
#pragma once

#include <cairo.h>

#include <string>

// Draws the named icon centred in the box. Returns false for an unknown name.
bool drawIcon(cairo_t *cr, const std::string &name, double x, double y, double w, double h);
