#include "consoles/colour_codes.h"

#include <algorithm>
#include <cmath>

namespace ov {

std::string StripColourCodes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '^' && i + 1 < text.size() && text[i + 1] == '^') {
      out.append("^^");
      i += 2;
    } else if (IsColourCode(text, i)) {
      i += 2;
    } else {
      out += text[i++];
    }
  }
  return out;
}

uint32_t QuakeColour(int index) {
  static constexpr uint32_t kColours[8] = {0x000000, 0xFF0000, 0x00FF00, 0xFFFF00,
                                           0x0000FF, 0x00FFFF, 0xFF00FF, 0xFFFFFF};
  return kColours[std::clamp(index, 0, 7)];
}

namespace {

double Channel(uint32_t rgb, int shift) { return ((rgb >> shift) & 0xFF) / 255.0; }

// Relative luminance, with the usual weights, without gamma: enough to tell what reads on what.
double Luminance(uint32_t rgb) {
  return 0.2126 * Channel(rgb, 16) + 0.7152 * Channel(rgb, 8) + 0.0722 * Channel(rgb, 0);
}

// rgb moved towards target (0 black, 0xFFFFFF white) by the share t.
uint32_t Mix(uint32_t rgb, uint32_t target, double t) {
  uint32_t out = 0;
  for (int shift : {16, 8, 0}) {
    const double c = Channel(rgb, shift) * (1 - t) + Channel(target, shift) * t;
    out |= static_cast<uint32_t>(c * 255 + 0.5) << shift;
  }
  return out;
}

}  // namespace

uint32_t ReadableColour(int index, uint32_t background, uint32_t text) {
  if (index == 7 || index == kNoColour) return text;
  const uint32_t colour = QuakeColour(index);
  const double back = Luminance(background);
  const bool darkBackground = back < 0.5;
  const uint32_t towards = darkBackground ? 0xFFFFFF : 0x000000;
  // The least move that puts a luminance gap of 0.4 between the colour and the background.
  for (int step = 0; step <= 10; ++step) {
    const uint32_t c = Mix(colour, towards, step / 10.0);
    if (std::abs(Luminance(c) - back) >= 0.4) return c;
  }
  return text;
}

}  // namespace ov
