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
  EXPECT_EQ(NormaliseLineBreaks("\r\r\n"), "\r\n\r\n");
  EXPECT_EQ(NormaliseLineBreaks("end\r"), "end\r\n");
  EXPECT_EQ(NormaliseLineBreaks("\n"), "\r\n");
  EXPECT_EQ(NormaliseLineBreaks(""), "");
  // Every other byte passes unchanged, NUL and the high half included.
  const std::string odd("a\0b\x80\xFE\xFF", 6);
  EXPECT_EQ(NormaliseLineBreaks(odd), odd);

  ConsoleLog log;
  log.Append("a\nb\rc\r\nd", 1);
  EXPECT_EQ(log.Text(), "a\r\nb\r\nc\r\nd");
  log.Append("\ne", 1);
  EXPECT_EQ(log.Text(), "a\r\nb\r\nc\r\nd\r\ne");
}

TEST(ConsoleLog, TrimsOnlyWhenAnAppendFindsMoreThan15000) {
  ConsoleLog log;
  std::string expected;
  for (int i = 0; i < 15; ++i) {
    const std::string block(1000, static_cast<char>('a' + i));
    log.Append(block, 1);
    expected += block;
  }
  ASSERT_EQ(log.Text().size(), 15000u);
  log.Append("X", 1);  // 15000 is not more than 15000: nothing is cut
  expected += "X";
  EXPECT_EQ(log.Text(), expected);
  EXPECT_EQ(log.Cuts(), 0u);

  log.Append("Y", 1);  // 15001 found: the first 7500 go, then the text is appended
  EXPECT_EQ(log.Text().size(), 7501u + 1u);
  EXPECT_EQ(log.Text(), expected.substr(7500) + "Y");
  EXPECT_EQ(log.Cuts(), 7500u);

  // A long text is appended whole; the log is cut back only by the next append.
  ConsoleLog big;
  big.Append(std::string(40000, 'z'), 1);
  EXPECT_EQ(big.Text().size(), 40000u);
  big.Append("!", 1);
  EXPECT_EQ(big.Text().size(), 32501u);
  EXPECT_EQ(big.Text().back(), '!');
}

TEST(ConsoleLog, TheCutFallsAtItsCountEvenInsideALineBreak) {
  ConsoleLog log;
  log.Append(std::string(7499, 'a') + "\n" + std::string(7600, 'b'), 1);  // CR at 7499, LF at 7500
  log.Append("c", 1);
  EXPECT_EQ(log.Text(), "\n" + std::string(7600, 'b') + "c");
}

TEST(ConsoleLog, AnyModeButOneReplacesTheLog) {
  for (int mode : {2, 0, -1, 7}) {
    ConsoleLog log;
    log.Append("first\n", mode);
    log.Append("second", mode);
    EXPECT_EQ(log.Text(), "second") << "mode " << mode;
    log.Append("", mode);
    EXPECT_EQ(log.Text(), "") << "mode " << mode;
  }
  ConsoleLog log;
  log.Append(std::string(20000, 'r'), 2);
  log.Append("x\ry", 2);
  EXPECT_EQ(log.Text(), "x\r\ny");
}

// A view that follows the log only now and then, taking just the tail when nothing was cut since it
// last looked and everything otherwise, must always end up showing the log's text.
TEST(ConsoleLog, AViewCatchingUpByTheCountersShowsTheSameText) {
  std::mt19937 random(20240601);
  for (int round = 0; round < 40; ++round) {
    ConsoleLog log;
    std::string shown;
    uint64_t shownCuts = 0, shownAppended = 0;
    size_t longest = 0;
    const bool withReplace = round % 4 == 3;
    for (int step = 0; step < 400; ++step) {
      const int kind = static_cast<int>(random() % 10);
      std::string text;
      const size_t length = kind == 0 ? random() % 9000 : random() % 300;
      for (size_t i = 0; i < length; ++i) {
        const int r = static_cast<int>(random() % 40);
        text += r == 0 ? '\r' : r == 1 ? '\n' : static_cast<char>('a' + r % 26);
      }
      const int mode = withReplace && kind == 1 ? 2 : 1;
      log.Append(text, mode);
      if (mode == 1) longest = std::max(longest, NormaliseLineBreaks(text).size());

      if (random() % 5 == 0 || step == 399) {
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
      // While the texts stay below the cut, the log never holds more than the limit plus the latest.
      if (!withReplace && longest < kLogTrimCut) ASSERT_LE(log.Text().size(), kLogTrimAbove + longest);
    }
  }
}

}  // namespace
}  // namespace ov
