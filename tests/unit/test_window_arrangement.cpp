// Where Cascade, Tile and a new window put the frame's windows.
#include <gtest/gtest.h>

#include <ostream>

#include "app/window_arrangement.h"

namespace ov {

void PrintTo(const Box& b, std::ostream* out) {
  *out << b.x << "," << b.y << " " << b.width << "x" << b.height;
}

namespace {

const ArrangedWindow kServers{{245, 185}, {245, 185}, {245, 185}, true};
ArrangedWindow Console(Extent size = {332, 236}) { return {size, {332, 236}, {221, 143}, false}; }

TEST(WindowArrangement, CascadeKeepsEachSizeWithinTheArea) {
  struct Case {
    const char* name;
    Extent area;
    std::vector<ArrangedWindow> windows;
    std::vector<Box> boxes;
  };
  const Case cases[] = {
      {"each keeps its size, a step from the last",
       {800, 600},
       {kServers, Console({400, 300}), Console({500, 250})},
       {{0, 0, 245, 185}, {24, 24, 400, 300}, {48, 48, 500, 250}}},
      {"one made smaller than designed gets its designed size back",
       {800, 600},
       {Console({221, 143})},
       {{0, 0, 332, 236}}},
      {"one larger than the area is cut to it",
       {800, 600},
       {Console({900, 700}), Console({900, 700})},
       {{0, 0, 800, 600}, {24, 24, 776, 576}}},
      {"one that cannot fit at its step starts again at the corner",
       {300, 200},
       {Console(), Console(), Console(), Console()},
       {{0, 0, 300, 200}, {24, 24, 276, 176}, {48, 48, 252, 152}, {0, 0, 300, 200}}},
  };
  for (const Case& c : cases) EXPECT_EQ(CascadeWindows(c.area, 24, c.windows), c.boxes) << c.name;
}

TEST(WindowArrangement, TileLeavesNoPlaceEmptyAroundTheFixedServersWindow) {
  struct Case {
    const char* name;
    Extent area;
    int consoles;
    bool withServers;
    std::vector<Box> boxes;  // empty: only the shared rules below
  };
  const Case cases[] = {
      {"one console takes all beside the servers window",
       {800, 600},
       1,
       true,
       {{0, 0, 245, 185}, {245, 0, 555, 600}}},
      {"two consoles: one under it, one beside it",
       {800, 600},
       2,
       true,
       {{0, 0, 245, 185}, {0, 185, 245, 415}, {245, 0, 555, 600}}},
      {"without it, one above another", {800, 600}, 2, false, {{0, 0, 800, 300}, {0, 300, 800, 300}}},
      {"four with it", {800, 600}, 4, true, {}},
      {"seven with it", {900, 640}, 7, true, {}},
      {"seven without it", {900, 640}, 7, false, {}},
  };
  for (const Case& c : cases) {
    std::vector<ArrangedWindow> windows;
    if (c.withServers) windows.push_back(kServers);
    for (int i = 0; i < c.consoles; ++i) windows.push_back(Console());
    const std::vector<Box> boxes = TileWindows(c.area, windows);
    ASSERT_EQ(boxes.size(), windows.size()) << c.name;
    if (!c.boxes.empty()) {
      EXPECT_EQ(boxes, c.boxes) << c.name;
    }
    if (c.withServers) {
      EXPECT_EQ(boxes[0], (Box{0, 0, 245, 185})) << c.name;
    }
    // Inside the area, none over another, each at least its minimum: and together they cover the area,
    // but for the strip under the servers window when no console is under it.
    long covered = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      const Box& b = boxes[i];
      EXPECT_TRUE(b.x >= 0 && b.y >= 0 && b.x + b.width <= c.area.width && b.y + b.height <= c.area.height)
          << c.name << ": " << i;
      EXPECT_TRUE(b.width >= windows[i].least.width && b.height >= windows[i].least.height) << c.name;
      for (size_t j = 0; j < i; ++j) {
        const Box& o = boxes[j];
        EXPECT_FALSE(b.x < o.x + o.width && o.x < b.x + b.width && b.y < o.y + o.height &&
                     o.y < b.y + b.height)
            << c.name << ": " << i << " over " << j;
      }
      covered += long(b.width) * b.height;
    }
    const long hole = c.withServers && c.consoles == 1 ? 245L * (c.area.height - 185) : 0;
    EXPECT_EQ(covered + hole, long(c.area.width) * c.area.height) << c.name;
  }
}

TEST(WindowArrangement, ANewWindowOpensAStepFromTheLastWithinTheArea) {
  const Extent size{332, 236};
  EXPECT_EQ(NextWindowPlace({800, 600}, 24, {100, 50, 332, 236}, size), (Box{124, 74, 332, 236}));
  EXPECT_EQ(NextWindowPlace({800, 600}, 24, {460, 50, 332, 236}, size), (Box{0, 0, 332, 236}));  // right edge
  EXPECT_EQ(NextWindowPlace({800, 600}, 24, {100, 350, 332, 236}, size), (Box{0, 0, 332, 236}));  // bottom
}

}  // namespace
}  // namespace ov
