// The console log: line breaks, trimming, replacing, and views that follow it without redrawing all.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ui/console_log.h"

namespace ov {
namespace {

TEST(ConsoleLog, LineBreaksBecomeCrLf) {
  EXPECT_EQ(NormaliseLineBreaks("a\nb\rc\r\nd"), "a\r\nb\r\nc\r\nd");
  EXPECT_EQ(NormaliseLineBreaks("x\n\ry"), "x\r\n\r\ny");  // LF then CR: two breaks
  EXPECT_EQ(NormaliseLineBreaks("\r\r\nend\r"), "\r\n\r\nend\r\n");
  const std::string odd("a\0b\x80\xFE\xFF", 6);  // every other byte passes, NUL included
  EXPECT_EQ(NormaliseLineBreaks(odd), odd);
}

TEST(ConsoleLog, TrimsOnlyWhenAnAppendFindsMoreThan15000) {
  ConsoleLog log;
  std::string expected;
  for (int i = 0; i < 15; ++i) expected += std::string(1000, static_cast<char>('a' + i));
  log.Append(expected, 1);
  log.Append("X", 1);  // 15000 is not more than 15000: nothing is cut
  expected += "X";
  EXPECT_EQ(log.Text(), expected);
  log.Append("Y", 1);  // 15001 found: the first 7500 go, then the text is appended
  EXPECT_EQ(log.Text(), expected.substr(7500) + "Y");

  // The cut falls at its count, even between the CR and the LF of a break.
  ConsoleLog split;
  split.Append(std::string(7499, 'a') + "\n" + std::string(7600, 'b'), 1);
  split.Append("c", 1);
  EXPECT_EQ(split.Text(), "\n" + std::string(7600, 'b') + "c");
}

TEST(ConsoleLog, AnyModeButOneReplacesTheLog) {
  for (int mode : {2, 0, -1}) {
    ConsoleLog log;
    log.Append(std::string(20000, 'r'), mode);
    log.Append("x\ry", mode);
    EXPECT_EQ(log.Text(), "x\r\ny") << "mode " << mode;
  }
}

// A view that follows the log only now and then, taking just the tail when nothing was cut since it
// last looked and everything otherwise, must always show the log's text.
TEST(ConsoleLog, AViewCatchingUpByTheCountersShowsTheSameText) {
  std::mt19937 random(20240601);
  for (int round = 0; round < 40; ++round) {
    ConsoleLog log;
    std::string shown;
    uint64_t shownCuts = 0, shownAppended = 0;
    for (int step = 0; step < 400; ++step) {
      std::string text(random() % 10 == 0 ? random() % 9000 : random() % 300, 'x');
      for (char& c : text) c = "ab\r\ncdefgh"[random() % 10];
      const int mode = round % 4 == 3 && random() % 10 == 0 ? 2 : 1;
      log.Append(text, mode);
      if (random() % 5 != 0 && step != 399) continue;
      if (log.Cuts() != shownCuts) {
        shown = log.Text();
      } else {
        const size_t tail = static_cast<size_t>(log.Appended() - shownAppended);
        ASSERT_LE(tail, log.Text().size());
        shown += log.Text().substr(log.Text().size() - tail);
      }
      shownCuts = log.Cuts();
      shownAppended = log.Appended();
      ASSERT_EQ(shown, log.Text()) << "round " << round << " step " << step;
    }
  }
}

}  // namespace
}  // namespace ov
