#pragma once
// How a line of a log is laid out in rows of a fixed number of cells: one cell per shown byte (with
// colours on, a colour code takes none), word-wrapped at spaces, and broken inside a word only when the
// word is wider than a row. A row is laid out from where it starts, so a view lays out the rows it
// shows, and keeps where some rows start to find the others, whatever the length of the line.
#include <cstddef>
#include <string_view>
#include <vector>

#include "consoles/colour_codes.h"

namespace ov {

// Where a row starts, with what the colour codes before it left: all it takes to lay out from there.
struct RowStart {
  size_t byte = 0;  // within the line
  int colour = kNoColour;
  bool pairSecond = false;  // at the second caret of a caret pair, which is text
  bool operator==(const RowStart&) const = default;
};

struct LaidCell {
  size_t byte;  // within the line
  int colour;   // 0-7 or kNoColour
};

class LineLayout {
 public:
  // A row also ends once it has passed this many bytes, so that a run of hidden codes costs no more
  // to lay out than a row of text.
  static constexpr size_t kMaxRowBytes = 4096;

  // line holds no line break; columns is at least 1.
  LineLayout(std::string_view line, bool colours, size_t columns);

  // Lays out the row that starts at start and returns where the next one starts; cells, when given,
  // receive the row's cells, at most columns of them. A space at which a row breaks at its full width
  // is the row's, though not drawn, so that the next row starts with the next word.
  RowStart Row(const RowStart& start, std::vector<LaidCell>* cells) const;
  // Whether a row starting here would be past the line's end: the line has no more rows. An empty
  // line still has its one row.
  bool AtEnd(const RowStart& at) const { return at.byte >= line_.size() && !at.pairSecond; }

 private:
  // Moves at past codes to the next shown cell; false at the line's end or past limit.
  bool SkipCodes(RowStart& at, size_t limit) const;

  std::string_view line_;
  bool colours_;
  size_t columns_;
};

}  // namespace ov
