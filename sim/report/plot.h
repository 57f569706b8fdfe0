// A PNG picture of a run, drawn with the asset tools' cairo painting
// helpers: the room temperature in its comfort band with the set points,
// the outdoor temperature, and when each relay was closed.
#pragma once

#include "report/report.h"

#include "host/paint.h"

#include <cairo.h>
#include <string>
#include <vector>

namespace sim {

// Writes the picture to path, headed by a title and a line of detail.
// fontDir holds arial.ttf and arialbd.ttf (the application's data
// directory's fonts/). false, with a message, when the fonts or the file
// cannot be used or there is nothing to draw.
// A text style of the plots' in a colour of their palette.
TextStyle style(double size, bool bold, uint32_t colour, Align align = ALIGN_LEFT);
// Encodes the surface as PNG in memory and puts it in place as the
// simulator's own file. False with the reason.
bool writePng(cairo_surface_t *surface, const std::string &path, std::string *error);

bool plotRun(const std::string &path, const std::string &fontDir, const std::vector<TraceRow> &rows,
             const std::vector<RelayEvent> &relayLog, const Report &report,
             const std::string &title, const std::string &detail, std::string *error);

} // namespace sim
