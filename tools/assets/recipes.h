// Drawing recipes: each draws one kind of image (background, button, label,
// icon, weather picture...) from the parameters of its line in the image list.
#pragma once

#include "asset_list.h"

#include <cairo.h>

#include <string>

// Draws the asset into a transparent surface of its size. Returns false with
// a reason for an unknown recipe or parameter.
bool drawAsset(cairo_t *cr, const AssetSpec &asset, std::string *error);
