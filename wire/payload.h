#pragma once
// Numbers and fields inside payloads, as both programs read and write them.
#include <string>
#include <string_view>
#include <vector>

namespace ov {

constexpr char kFieldSeparator = '\x80';

// A decimal integer (optional sign, digits only, within 32 bits), or fallback when text is not one.
int ParseInt(std::string_view text, int fallback);

// Fields separated by 0x80: an empty payload is one empty field; a trailing separator adds no field.
std::vector<std::string> SplitFields(std::string_view payload);

// Account fields have fixed widths: cut to the width, or filled out with spaces.
std::string PadTo8(std::string_view text);
std::string PadTo16(std::string_view text);

}  // namespace ov
