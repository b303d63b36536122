// Reads are split into frames that point into the read's own bytes: a read handed over in part, whose
// hand-over waits in a nested loop while the same socket is read again, must keep its frames intact.
#include <gtest/gtest.h>

#include "tests/common/fakes.h"

namespace ov {
namespace {

using test::FrameOf;

TEST(FrameViews, AReadsFramesOutliveANestedReadOfTheSameSocket) {
  test::TestClient t;
  const int socket = t.Socket(t.Connect());
  t.Receive(socket, FrameOf("1021", std::string("i\x80") + "alpha"));
  Console* window = t.Window(t.SlotOf(socket));
  ASSERT_NE(window, nullptr);

  // The message box waits in a nested loop; meanwhile the rest of a frame the read kept arrives, and
  // one more frame, in a read of their own.
  bool nested = false;
  t.desktop.onMessageBox = [&] {
    nested = true;
    t.Receive(socket, "end\n\xFE" + FrameOf("0000", "nested\n"));
  };
  t.Receive(socket,
            "\xFD"
            "0000one-");  // kept: unfinished
  t.Receive(socket, "two\n\xFE" + FrameOf("1003", "box") + FrameOf("0000", "after box\n") +
                        "\xFD"
                        "0000tail-");
  EXPECT_TRUE(nested);
  // Frames read during the wait come first; then the rest of the read that waited, unchanged.
  EXPECT_EQ(window->log.Text(), "one-two\r\ntail-end\r\nnested\r\nafter box\r\n");
  EXPECT_EQ(t.desktop.boxes, std::vector<std::string>{"box"});
}

}  // namespace
}  // namespace ov
