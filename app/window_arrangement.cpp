#include "app/window_arrangement.h"

#include <algorithm>
#include <cmath>

namespace ov {

namespace {

// The size a window takes in a cascade that has reached offset: its own (or its designed size, when
// larger), cut to what is left of the area, never below its minimum.
Extent CascadeSize(const ArrangedWindow& w, Extent area, int offset) {
  if (w.fixed) return w.size;
  const Extent wanted{std::max(w.size.width, w.designed.width), std::max(w.size.height, w.designed.height)};
  return {std::max(w.least.width, std::min(wanted.width, area.width - offset)),
          std::max(w.least.height, std::min(wanted.height, area.height - offset))};
}

bool Fits(Extent size, Extent area, int offset) {
  return offset + size.width <= area.width && offset + size.height <= area.height;
}

// count windows in a grid over the box: one above another, in as few columns as their minimum height
// allows; each column's windows share its height, the last taking what the division leaves.
void Grid(const Box& box, int count, Extent least, std::vector<Box>& out) {
  if (count <= 0) return;
  const int height = std::max(1, box.height);
  int columns = 1;
  while (columns < count && height / ((count + columns - 1) / columns) < least.height) ++columns;
  if (box.width / columns < least.width)
    columns = std::clamp(box.width / std::max(1, least.width), 1, columns);
  const int rows = (count + columns - 1) / columns;
  columns = (count + rows - 1) / rows;  // those that hold a window
  const int columnWidth = std::max(box.width / columns, least.width);
  for (int c = 0; c < columns; ++c) {
    const int inColumn = std::min(rows, count - c * rows);
    const int each = std::max(height / inColumn, least.height);
    // The last column takes the width the division leaves.
    const int width = c + 1 == columns ? std::max(box.width - c * columnWidth, least.width) : columnWidth;
    for (int r = 0; r < inColumn; ++r) {
      const int h = r + 1 == inColumn ? std::max(each, height - r * each) : each;
      out.push_back({box.x + c * columnWidth, box.y + r * each, width, h});
    }
  }
}

}  // namespace

std::vector<Box> CascadeWindows(Extent area, int step, const std::vector<ArrangedWindow>& windows) {
  std::vector<Box> out;
  int offset = 0;
  for (const ArrangedWindow& w : windows) {
    Extent size = CascadeSize(w, area, offset);
    if (offset > 0 && !Fits(size, area, offset)) {
      offset = 0;
      size = CascadeSize(w, area, offset);
    }
    out.push_back({offset, offset, size.width, size.height});
    offset += step;
  }
  return out;
}

std::vector<Box> TileWindows(Extent area, const std::vector<ArrangedWindow>& windows) {
  // The fixed windows first, stacked at the left; what they leave is measured.
  int fixedWidth = 0, fixedHeight = 0, resizable = 0;
  Extent least{1, 1};  // what every shared place must hold
  for (const ArrangedWindow& w : windows) {
    if (w.fixed) {
      fixedWidth = std::max(fixedWidth, w.size.width);
      fixedHeight += w.size.height;
    } else {
      ++resizable;
      least = {std::max(least.width, w.least.width), std::max(least.height, w.least.height)};
    }
  }
  // Below the fixed windows, their column takes a share of the others in proportion to its area, where
  // at least one window fits there and one is left for the columns beside it.
  const int belowHeight = area.height - fixedHeight;
  int below = 0;
  if (fixedWidth > 0 && resizable >= 2 && belowHeight >= least.height && fixedWidth >= least.width &&
      area.width > fixedWidth) {
    const double belowArea = double(fixedWidth) * belowHeight;
    const double besideArea = double(area.width - fixedWidth) * area.height;
    below = static_cast<int>(std::lround(resizable * belowArea / (belowArea + besideArea)));
    below = std::clamp(below, 1, std::min(resizable - 1, belowHeight / least.height));
  }
  std::vector<Box> shared;
  Grid({0, fixedHeight, fixedWidth, belowHeight}, below, least, shared);
  const Box beside = fixedWidth > 0 ? Box{fixedWidth, 0, std::max(0, area.width - fixedWidth), area.height}
                                    : Box{0, 0, area.width, area.height};
  Grid(beside, resizable - below, least, shared);

  std::vector<Box> out;
  int nextShared = 0, fixedTop = 0;
  for (const ArrangedWindow& w : windows) {
    if (w.fixed) {
      out.push_back({0, fixedTop, w.size.width, w.size.height});
      fixedTop += w.size.height;
    } else {
      out.push_back(shared[static_cast<size_t>(nextShared++)]);
    }
  }
  return out;
}

Box NextWindowPlace(Extent area, int step, const Box& last, Extent size) {
  Box next{last.x + step, last.y + step, size.width, size.height};
  if (next.x < 0 || next.y < 0 || next.x + size.width > area.width || next.y + size.height > area.height) {
    next.x = 0;
    next.y = 0;
  }
  return next;
}

}  // namespace ov
