#pragma once
// Where the frame's arrangements put its child windows: plain geometry in the frame's client area, from
// each window's size, its designed size and its minimum.
#include <vector>

namespace ov {

struct Extent {
  int width = 0, height = 0;
  bool operator==(const Extent&) const = default;
};

struct Box {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Box&) const = default;
};

struct ArrangedWindow {
  Extent size;         // as it is now
  Extent designed;     // what it was made for
  Extent least;        // its minimum
  bool fixed = false;  // its size cannot change (the Servers window)
};

// Cascade: each window a step down and right of the one before, keeping its size, or its designed size
// where it has become smaller (after Tile, say), cut to the area but never below its minimum. A window
// that would then still reach past the area's edge starts the cascade again from the corner.
std::vector<Box> CascadeWindows(Extent area, int step, const std::vector<ArrangedWindow>& windows);

// Tile: the windows of fixed size stacked in the area's left column, the others sharing the rest without
// overlap: below the fixed ones in that column, and in columns beside it, one above another where their
// minimum height allows, so that every place holds a window and none is left empty. Only when even that
// does not fit do windows reach past the area's edge.
std::vector<Box> TileWindows(Extent area, const std::vector<ArrangedWindow>& windows);

// Where a new window of that size opens: a step down and right of the one opened last, or, where that
// would reach past the area's edge, at the corner.
Box NextWindowPlace(Extent area, int step, const Box& last, Extent size);

}  // namespace ov
