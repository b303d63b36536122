// Schedules as plain logic: how an entry reads, and when it runs, against a clock the test sets and a time
// zone with daylight saving time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "ovserver/schedule.h"

namespace ovs {
namespace {

// A UTC moment from its calendar fields.
std::time_t Utc(int year, int month, int day, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  return timegm(&tm);
}

// The process's time zone for the test's length.
class InZone {
 public:
  explicit InZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~InZone() {
    had_ ? ::setenv("TZ", saved_.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

Schedule Read(const std::string& text) {
  Schedule schedule;
  std::string error;
  EXPECT_TRUE(ParseSchedule(text, schedule, error)) << text << ": " << error;
  return schedule;
}

TEST(OvsSchedules, EntriesReadBackAsWrittenAndWrongOnesSayWhy) {
  struct Case {
    std::string text, written;  // written empty: refused, with this in the error
    std::string error;
  };
  const Case cases[] = {
      {"daily 4:00 type openarena restart", "daily 04:00 type openarena restart", ""},
      {"EVERY 30 title \"Friday DM\" line say Restart in 5 minutes  ",
       "every 30 title \"Friday DM\" line say Restart in 5 minutes", ""},
      {"every 1 title 'say \"hi\"' line map_restart", "every 1 title 'say \"hi\"' line map_restart", ""},
      {"daily 24:00 type x restart", "", "daily needs a time HH:MM"},
      {"daily 12:5 type x restart", "", "daily needs a time HH:MM"},
      {"every 0 type x restart", "", "every needs a number of minutes (1 to 1440)"},
      {"every 1441 type x restart", "", "every needs a number of minutes"},
      {"hourly 10 type x restart", "", "starts with daily or every"},
      {"every 5 server x restart", "", "title NAME or type NAME"},
      {"every 5 type x restart now", "", "restart, or line"},
      {"every 5 type x line", "", "restart, or line"},
      {"every 5 type x", "", "too short"},
      {"every 5 title \"x restart", "", "unpaired \""},
      {"every 5 title a\"'\"'\"'b line x", "", "holds both kinds of quote"},
      {"every 5 type x line say hi\nquit", "", "control characters"},
  };
  for (const Case& c : cases) {
    Schedule schedule;
    std::string error;
    const bool read = ParseSchedule(c.text, schedule, error);
    EXPECT_EQ(read, !c.written.empty()) << c.text << ": " << error;
    if (read) {
      EXPECT_EQ(FormatSchedule(schedule), c.written);
      EXPECT_EQ(Read(FormatSchedule(schedule)), schedule) << c.text;
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
    }
  }
}

TEST(OvsSchedules, AFileIsReadWholeOrRefusedNamingTheLine) {
  const std::string good = "every 5 type x restart\n";
  std::string many;
  for (size_t i = 0; i <= kMaxSchedules; ++i) many += good;
  struct Case {
    std::string text;
    size_t count;       // schedules read
    std::string error;  // when refused
  };
  const Case cases[] = {
      {"# comment\n\n  \r\n" + good + good, 2, ""},
      {good + "every 5 type x line " + std::string(kMaxScheduleLength, 'a') + "\n", 0,
       "line 2: longer than 256"},
      {many, 0, "line 33: more than 32 schedules"},
      {good + good + "weekly 5 type x restart\n", 0, "line 3: an entry starts with daily or every"},
  };
  for (const Case& c : cases) {
    std::vector<Schedule> schedules;
    std::string error;
    EXPECT_EQ(ParseScheduleFile(c.text, schedules, error), c.error.empty()) << error;
    EXPECT_EQ(schedules.size(), c.count);
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    if (c.error.empty()) {
      std::vector<Schedule> again;
      EXPECT_TRUE(ParseScheduleFile(FormatScheduleFile(schedules), again, error));
      EXPECT_EQ(again, schedules);
    }
  }
}

// Berlin: clocks go forward from 02:00 to 03:00 on 2026-03-29 (01:00 UTC), back from 03:00 to 02:00 on
// 2026-10-25 (01:00 UTC).
TEST(OvsSchedules, DailyRunsAtTheLocalTimeAcrossMidnightAndChangesOfTheClock) {
  const InZone berlin("Europe/Berlin");
  struct Case {
    const char* name;
    std::string entry;
    std::time_t after, due;
  };
  const Case cases[] = {
      {"later today", "daily 04:00 type x restart", Utc(2026, 1, 10, 2, 0), Utc(2026, 1, 10, 3, 0)},
      {"past today: tomorrow", "daily 04:00 type x restart", Utc(2026, 1, 10, 3, 0), Utc(2026, 1, 11, 3, 0)},
      {"across midnight", "daily 00:10 type x restart", Utc(2026, 1, 10, 22, 50), Utc(2026, 1, 10, 23, 10)},
      {"across the year's end", "daily 00:00 type x restart", Utc(2026, 12, 31, 22, 0),
       Utc(2026, 12, 31, 23, 0)},
      {"summer time: an hour earlier in UTC", "daily 04:00 type x restart", Utc(2026, 3, 28, 4, 0),
       Utc(2026, 3, 29, 2, 0)},
      {"skipped: at the change", "daily 02:30 type x restart", Utc(2026, 3, 28, 23, 0),
       Utc(2026, 3, 29, 1, 0)},
      {"after the skip: next day", "daily 02:30 type x restart", Utc(2026, 3, 29, 1, 0),
       Utc(2026, 3, 30, 0, 30)},
      {"twice: the first", "daily 02:30 type x restart", Utc(2026, 10, 24, 23, 0), Utc(2026, 10, 25, 0, 30)},
      {"twice: not the second", "daily 02:30 type x restart", Utc(2026, 10, 25, 0, 30),
       Utc(2026, 10, 26, 1, 30)},
      {"every N minutes keeps real time over the change", "every 30 type x restart", Utc(2026, 10, 25, 0, 45),
       Utc(2026, 10, 25, 1, 0)},
  };
  for (const Case& c : cases) EXPECT_EQ(NextDue(Read(c.entry), c.after), c.due) << c.name;
}

TEST(OvsSchedules, EveryMinuteRunsTwiceInTwoMinutesAndEachWhenDue) {
  const std::time_t start = Utc(2026, 5, 1, 12, 0) + 10;
  Agenda agenda;
  agenda.Set({Read("every 1 type x line say one"), Read("every 2 type x restart")}, start);
  std::vector<std::pair<std::time_t, size_t>> runs;
  // The one timer: the clock jumps to each wake the agenda asks for, as the timer would.
  for (std::time_t now = agenda.NextWake(); now <= start + 120; now = agenda.NextWake()) {
    const std::vector<size_t> due = agenda.TakeDue(now);
    ASSERT_FALSE(due.empty()) << "woken at " << now << " for nothing";
    for (size_t index : due) runs.emplace_back(now - start, index);
  }
  const std::vector<std::pair<std::time_t, size_t>> expected = {{50, 0}, {110, 0}, {110, 1}};
  EXPECT_EQ(runs, expected);
  // Woken late (a busy server), a schedule runs once and is then due after the moment it ran.
  EXPECT_EQ(agenda.TakeDue(start + 600), (std::vector<size_t>{0, 1}));
  EXPECT_EQ(agenda.NextWake(), Utc(2026, 5, 1, 12, 11));
}

}  // namespace
}  // namespace ovs
