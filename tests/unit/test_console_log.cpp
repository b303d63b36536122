// The console log: line breaks, trimming, replacing, and views that follow it without redrawing all;
// the colour codes in its lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "consoles/colour_codes.h"
#include "consoles/console_log.h"
#include "consoles/log_layout.h"

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

// Texts longer than the cut: before one, a log above 15,000 keeps at most its last 15,000; before a
// shorter text the first 7,500 go, however long the log. No append leaves the log longer than it was or
// than 15,000 characters plus the text, and every cut is counted.
TEST(ConsoleLog, LongTextsKeepTheLogBounded) {
  struct Case {
    std::vector<size_t> before;  // lengths of the texts appended first, each in a letter of its own
    size_t text;                 // then this one
    size_t kept;                 // characters of the log that stay before it
  };
  const Case cases[] = {
      {{8000}, 8000, 8000},              // 8,000 is not above 15,000: 16,000 after
      {{5000}, 20000, 5000},             // nothing goes from a short log
      {{15001}, 7500, 7501},             // above it 7,500 go
      {{15001}, 7501, 7501},             // ... as for a longer text, while that leaves at most 15,000
      {{20000, 16000}, 7501, 15000},     // 28,500: down to the limit before a long text
      {{2000, 1000000}, 100000, 15000},  // long after long
      {{2000, 1000000}, 1, 994500},      // before a short text 7,500 go, however long the log
  };
  for (const Case& c : cases) {
    ConsoleLog log;
    char letter = 'a';
    for (size_t n : c.before) log.Append(std::string(n, letter++), 1);
    const std::string all = log.Text();
    const uint64_t cutsBefore = log.Cuts();
    log.Append(std::string(c.text, 'z'), 1);
    const std::string expected = all.substr(all.size() - c.kept) + std::string(c.text, 'z');
    EXPECT_EQ(log.Text(), expected) << c.before.back() << " then " << c.text;
    EXPECT_EQ(log.Cuts() - cutsBefore, all.size() - c.kept) << c.text;
    EXPECT_LE(log.Text().size(), std::max(all.size(), kLogTrimAbove + c.text));
  }
}

TEST(ConsoleLog, ClearingEmptiesTheLogAsACutAndTrimmingCountsAfresh) {
  ConsoleLog log;
  log.Append(std::string(9000, 'a') + "\n", 1);
  const uint64_t cuts = log.Cuts(), appended = log.Appended();
  log.Clear();
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(log.Cuts(), cuts + 9002);  // every byte held, the break's CR LF too
  EXPECT_EQ(log.Appended(), appended);
  // 9,000 bytes are gone: the next 15,000 are kept whole before an append cuts.
  log.Append(std::string(15000, 'b'), 1);
  log.Append("c", 1);
  EXPECT_EQ(log.Text(), std::string(15000, 'b') + "c");
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
      if (round % 4 == 2 && random() % 15 == 0) log.Clear();  // the user empties it now and then
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

// Lines as servers print them: what each shows, in which colours, and what captions keep.
TEST(ColourCodes, RunsShownTextAndStripping) {
  struct Case {
    std::string line;
    std::vector<std::pair<std::string, int>> runs;  // shown text and colour, run by run
    std::string stripped;
  };
  const Case cases[] = {
      {"^1Red^7White", {{"Red", 1}, {"White", 7}}, "RedWhite"},
      {"plain", {{"plain", kNoColour}}, "plain"},
      {"^^7", {{"^^7", kNoColour}}, "^^7"},  // a caret pair stays, and starts no code
      {"^", {{"^", kNoColour}}, "^"},
      {"a^9b", {{"a^9b", kNoColour}}, "a^9b"},  // only 0-7 are codes
      {"a^8^", {{"a^8^", kNoColour}}, "a^8^"},
      {"^0", {}, ""},
      {"x^2^3y", {{"x", kNoColour}, {"y", 3}}, "xy"},   // a code without text shows nothing
      {"^2a^2b", {{"a", 2}, {"b", 2}}, "ab"},           // runs never span a hidden code
      {"^^^1r", {{"^^", kNoColour}, {"r", 1}}, "^^r"},  // after a pair, a caret starts a code again
      {"^a^5", {{"^a", kNoColour}}, "^a"},
      {std::string("\xFF^4\x80", 4), {{"\xFF", kNoColour}, {"\x80", 4}}, "\xFF\x80"},
  };
  for (const Case& c : cases) {
    // The line laid out in one row as the log view shows it: its cells, grouped by colour where they
    // follow each other in the line.
    std::vector<LaidCell> cells;
    LineLayout(c.line, true, c.line.size() + 1).Row(RowStart{}, &cells);
    std::vector<std::pair<std::string, int>> runs;
    for (size_t i = 0; i < cells.size(); ++i) {
      if (i == 0 || cells[i].colour != runs.back().second || cells[i].byte != cells[i - 1].byte + 1)
        runs.emplace_back("", cells[i].colour);
      runs.back().first += c.line[cells[i].byte];
    }
    EXPECT_EQ(runs, c.runs) << c.line;
    EXPECT_EQ(StripColourCodes(c.line), c.stripped) << c.line;
    EXPECT_EQ(cells.size(), c.stripped.size()) << c.line;
  }
}

TEST(ColourCodes, EveryColourReadsOnLightAndDarkBackgrounds) {
  auto luminance = [](uint32_t c) {
    return 0.2126 * ((c >> 16) & 0xFF) / 255 + 0.7152 * ((c >> 8) & 0xFF) / 255 + 0.0722 * (c & 0xFF) / 255;
  };
  EXPECT_EQ(QuakeColour(1), 0xFF0000u);
  EXPECT_EQ(QuakeColour(3), 0xFFFF00u);
  for (uint32_t back : {0xFFFFFFu, 0x000000u, 0x202020u, 0xF0F0F0u}) {
    const uint32_t text = luminance(back) < 0.5 ? 0xFFFFFF : 0x000000;
    for (int i = 0; i < 8; ++i) {
      const uint32_t c = ReadableColour(i, back, text);
      EXPECT_GE(std::abs(luminance(c) - luminance(back)), 0.39) << std::hex << back << " colour " << i;
    }
    EXPECT_EQ(ReadableColour(7, back, text), text);  // white is the view's own text colour
    EXPECT_EQ(ReadableColour(kNoColour, back, text), text);
  }
  // Colours that already read keep their hue as the engines have them.
  EXPECT_EQ(ReadableColour(0, 0xFFFFFF, 0), 0x000000u);
  EXPECT_EQ(ReadableColour(3, 0x000000, 0xFFFFFF), 0xFFFF00u);
}

// The rows of a line as shown, cell by cell.
std::vector<std::string> Rows(const std::string& line, bool colours, size_t columns) {
  const LineLayout layout(line, colours, columns);
  std::vector<std::string> rows;
  std::vector<LaidCell> cells;
  RowStart at;
  do {
    at = layout.Row(at, &cells);
    std::string row;
    for (const LaidCell& c : cells) row += line[c.byte];
    rows.push_back(row);
  } while (!layout.AtEnd(at));
  return rows;
}

TEST(LineLayout, WrapsAtSpacesAndInsideAWordOnlyWhenItIsWiderThanARow) {
  std::string codes;
  while (codes.size() < 3 * LineLayout::kMaxRowBytes) codes += "^1";
  struct Case {
    std::string line;
    bool colours;
    size_t columns;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {"lost connection here", false, 12, {"lost ", "connection ", "here"}},
      {"connection here", false, 10, {"connection", "here"}},  // the space at the edge is not drawn
      {"abcdefghijklmno pq", false, 10, {"abcdefghij", "klmno pq"}},
      {"abcdefghij", false, 10, {"abcdefghij"}},  // exactly as wide: one row
      {"abcdefghij ", false, 10, {"abcdefghij"}},
      {"", true, 10, {""}},
      {"^1abcdefghij^7", true, 10, {"abcdefghij"}},  // codes at either end take no cell
      {"^1Red ^2Greenery", true, 6, {"Red ", "Greene", "ry"}},
      {"ab ^^7", true, 4, {"ab ", "^^7"}},  // a caret pair is text
      {"a b c d", false, 1, {"a", "b", "c", "d"}},
      // A run of hidden codes ends a row after so many bytes: drawing it costs no more than a row.
      {"a" + codes + "b", true, 10, {"a", "", "", "b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Rows(c.line, c.colours, c.columns), c.rows) << c.line;
}

}  // namespace
}  // namespace ov
