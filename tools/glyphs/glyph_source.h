// Reader of glyph source files, the committed text from which tstat-glyphs
// builds a glyph file. One statement per line, '#' starts a comment:
//
//   root SIZE                      entry size of the root table (1, 2, 4)
//   font NAME FILE                 a TrueType font, FILE relative to --fonts
//   group NAME SIZE                starts a group with SIZE-byte entries
//   chars FIRST-LAST FONT PIXELS   glyphs FIRST..LAST, each the character of
//                                  that code, rendered monochrome at PIXELS
//   char ID FONT PIXELS CODE       glyph ID is the character CODE (a number,
//                                  U+XXXX, or a quoted character 'x')
//   bitmap ID                      a hand-drawn glyph: the following lines
//   ..##..                         are its rows ('#' or 'X' ink, anything
//   end                            else background), up to "end"
//
// Font glyphs sit in a cell of the font's line height, so glyphs of one font
// and size share their baseline; the advance and the baseline row are kept in
// the entry's two further bytes.
#pragma once

#include "glyph_writer.h"

#include <string>

// Parses the source and renders its glyphs; fonts are looked up in fontDir.
// On failure returns false with "line N: reason" in *error.
bool glyphLoadSource(const std::string &sourcePath, const std::string &fontDir,
                     GlyphFileLayout *layout, std::string *error);
