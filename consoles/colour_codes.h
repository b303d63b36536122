#pragma once
// Quake colour codes in console text: "^0".."^7" pick one of eight colours for the rest of the line.
// The log keeps the codes; views, captions and tree nodes hide them when colours are on.
// "^^" is a caret pair shown as it is, and "^" before anything but 0-7 (the other digits included, which
// some engines wrap around to the eight colours) is plain text, so no text is ever lost to a code.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ov {

constexpr int kNoColour = -1;  // the view's own text colour: before the first code of a line

// Whether a code starts at line[at]: a caret followed by a digit 0-7.
inline bool IsColourCode(std::string_view line, size_t at) {
  return at + 1 < line.size() && line[at] == '^' && line[at + 1] >= '0' && line[at + 1] <= '7';
}

// The text without its codes: for captions and tree nodes.
std::string StripColourCodes(std::string_view text);

// The colours as the engines define them, 0xRRGGBB: black, red, green, yellow, blue, cyan, magenta, white.
uint32_t QuakeColour(int index);

// The colour drawn for an index on a background: the engines' colours drawn on a light background lose
// white and yellow, and on a dark one black and blue. White stands for the view's own text colour, as
// engines use "^7" to return to normal text, and the others are darkened or lightened until they read.
uint32_t ReadableColour(int index, uint32_t background, uint32_t text);

}  // namespace ov
