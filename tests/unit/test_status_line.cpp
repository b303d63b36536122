// The status line: what the bar shows through timed, lasting and remembered texts, hints and the
// timer's expiry, and the beeps.
#include <gtest/gtest.h>

#include "tests/common/fakes.h"
#include "core/status_line.h"

namespace ov {
namespace {

// A step: ShowStatus(text, time, beeps), or the timer's expiry when time is kExpire (it fires only
// while it runs, as a one-shot timer does), or a hint when time is kHint.
constexpr int kExpire = -100;
constexpr int kHint = -101;
struct Step {
  std::string text;
  int time;
  int beeps = 0;
};

struct Case {
  const char* name;
  std::vector<Step> steps;
  std::string bar;  // what it shows at the end
  bool timerOn;
  std::vector<std::string> events;  // beeps
};

TEST(StatusLine, TimedUntimedAndHintTextsFollowTheirRules) {
  const std::vector<Case> cases = {
      {"an untimed text while a timed one is up waits for the expiry",
       {{"timed", 5000}, {"kept", -1}},
       "timed",
       true,
       {}},
      {"... and is shown when it comes", {{"timed", 5000}, {"kept", -1}, {"", kExpire}}, "kept", false, {}},
      {"after the expiry an untimed text reaches the bar at once",
       {{"timed", 100}, {"", kExpire}, {"later", -1}},
       "later",
       false,
       {}},
      {"time 0 shows at once and stops the timer: no expiry follows",
       {{"before", -1}, {"timed", 5000}, {"zero", 0}, {"", kExpire}},
       "zero",
       false,
       {}},
      {"a second timed text replaces the first and keeps the timer",
       {{"remembered", -1}, {"first", 5000}, {"second", 3000}},
       "second",
       true,
       {}},
      {"an expiry with nothing remembered empties the bar", {{"timed", 100}, {"", kExpire}}, "", false, {}},
      {"a hint replaces a timed text; without hint the bar shows the remembered text",
       {{"remembered", -1}, {"timed", 5000}, {"hint", kHint}, {"", kHint}},
       "remembered",
       true,
       {}},
      {"below -1 only the beeps sound", {{"shown", 0}, {"ignored", -2, 2}}, "shown", false, {"beep", "beep"}},
      {"no beeps", {{"quiet", 5000, 0}, {"negative", 0, -3}}, "negative", false, {}},
  };
  for (const Case& c : cases) {
    test::RecordingDesktop desktop;
    StatusLine status(desktop);
    for (const Step& s : c.steps) {
      if (s.time == kExpire) {
        if (desktop.timerRunning) status.OnTimer();
      } else if (s.time == kHint) {
        status.ShowAppHint(s.text);
      } else {
        status.ShowStatus(s.text, s.time, s.beeps);
      }
    }
    EXPECT_EQ(desktop.Bar(), c.bar) << c.name;
    EXPECT_EQ(status.StatusTimerOn(), c.timerOn) << c.name;
    EXPECT_EQ(desktop.timerRunning, c.timerOn) << c.name;
    EXPECT_EQ(desktop.events, c.events) << c.name;
  }
}

TEST(StatusLine, EachTimedTextRestartsTheOneTimerWithItsFullTime) {
  test::RecordingDesktop desktop;
  StatusLine status(desktop);
  status.ShowStatus("first", 5000, 0);
  status.ShowStatus("second", 3000, 0);
  EXPECT_EQ(desktop.timerStarts, (std::vector<int>{5000, 3000}));
  EXPECT_EQ(desktop.timerStops, 1);  // the first stopped before the second started
  status.OnTimer();
  EXPECT_EQ(desktop.timerStops, 2);
  EXPECT_FALSE(desktop.timerRunning);
}

TEST(StatusLine, ARationedRequestSoundsNothing) {
  test::RecordingDesktop desktop;
  StatusLine status(desktop);
  status.ShowStatus("a", 5000, 0);
  EXPECT_EQ(desktop.beepRequests, 0);  // a silent text asks for nothing
  desktop.allowBeeps = false;
  status.ShowStatus("b", 5000, 2);
  EXPECT_TRUE(desktop.events.empty());
  EXPECT_EQ(desktop.Bar(), "b");
  desktop.allowBeeps = true;
  status.ShowStatus("c", 5000, 3);
  EXPECT_EQ(desktop.beepRequests, 2);  // one request per text, however many beeps
  EXPECT_EQ(desktop.Beeps(), 3);
}

}  // namespace
}  // namespace ov
