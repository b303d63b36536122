#pragma once
// Numbers and fields inside payloads, as both programs read and write them.
#include <string>
#include <string_view>
#include <vector>

namespace ov {

constexpr char kFieldSeparator = '\x80';

// A decimal integer (optional sign, digits only, within 32 bits), or fallback when text is not one.
int ParseInt(std::string_view text, int fallback);

// What a separator at the very end of a payload stands for.
enum class TrailingField {
  Dropped,  // nothing: the client's rule for every message it reads
  Kept,     // an empty last field: the start request, whose command line may be empty after a title
};

// Fields separated by 0x80: an empty payload is one empty field; a trailing separator adds a field only
// when Kept. The one splitter of both programs.
std::vector<std::string> SplitFields(std::string_view payload,
                                     TrailingField trailing = TrailingField::Dropped);

// Account fields have fixed widths: cut to the width, or filled out with spaces.
std::string PadTo8(std::string_view text);
std::string PadTo16(std::string_view text);

}  // namespace ov
