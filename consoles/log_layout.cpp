#include "consoles/log_layout.h"

#include <algorithm>
#include <cstring>

namespace ov {

LineLayout::LineLayout(std::string_view line, bool colours, size_t columns)
    : line_(line), colours_(colours), columns_(std::max<size_t>(1, columns)) {}

bool LineLayout::SkipCodes(RowStart& at, size_t limit) const {
  if (at.pairSecond) return true;
  while (at.byte < line_.size() && at.byte < limit) {
    if (!colours_ || !IsColourCode(line_, at.byte)) return true;
    at.colour = line_[at.byte + 1] - '0';
    at.byte += 2;
  }
  return false;
}

RowStart LineLayout::Row(const RowStart& start, std::vector<LaidCell>* cells) const {
  if (cells) cells->clear();
  const size_t size = line_.size();
  // Most rows hold no code: with no caret among the next columns + 1 bytes, the row is plain text in
  // one colour, broken where a space allows.
  const size_t window = std::min(columns_ + 1, size - std::min(start.byte, size));
  if (!start.pairSecond && (!colours_ || !std::memchr(line_.data() + start.byte, '^', window))) {
    const size_t s = start.byte;
    size_t end, next;
    if (size - s <= columns_) {
      end = next = size;
    } else if (line_[s + columns_] == ' ') {
      end = s + columns_;  // the word ends at the edge: the space is this row's
      next = end + 1;
    } else {
      const void* space = memrchr(line_.data() + s, ' ', columns_);
      end = next =
          space ? static_cast<size_t>(static_cast<const char*>(space) - line_.data()) + 1 : s + columns_;
    }
    if (cells)
      for (size_t b = s; b < end; ++b) cells->push_back({b, start.colour});
    return RowStart{next, start.colour, false};
  }

  // A row with codes: its cells one by one, with where the row would go on before each.
  struct Seen {
    RowStart before;
    LaidCell cell;
  };
  std::vector<Seen> buffer;
  buffer.reserve(columns_ + 1);
  RowStart at = start;
  const size_t limit = start.byte + kMaxRowBytes;
  while (buffer.size() <= columns_ && SkipCodes(at, limit)) {
    const RowStart before = at;
    const size_t b = at.byte;
    if (at.pairSecond) {
      at.pairSecond = false;
    } else if (line_[b] == '^' && b + 1 < size && line_[b + 1] == '^') {
      at.pairSecond = true;  // a caret pair is two cells of text, and its second caret starts no code
    }
    at.byte = b + 1;
    buffer.push_back({before, {b, before.colour}});
  }
  size_t take = buffer.size();
  RowStart next = at;  // the line's end, or where the byte limit stopped the row
  if (buffer.size() > columns_) {
    take = columns_;
    next = buffer[columns_].before;
    if (line_[buffer[columns_].cell.byte] == ' ') {
      next = at;  // the space at the edge is this row's
    } else {
      for (size_t k = columns_; k > 0; --k) {
        if (line_[buffer[k - 1].cell.byte] == ' ') {
          take = k;
          next = buffer[k].before;
          break;
        }
      }
    }
  }
  if (cells)
    for (size_t i = 0; i < take; ++i) cells->push_back(buffer[i].cell);
  return next;
}

}  // namespace ov
