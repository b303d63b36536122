#pragma once
// Schedules: a console line or a restart for the game servers of a title or of a type, daily at a local
// time or every N minutes. One entry reads as it is typed after "schedule add" and as it is kept in the
// schedules file, one per line:
//   daily 04:00 type openarena restart
//   every 30 title "Friday DM" line say Restart in 5 minutes
// Plain C++: times are seconds of the system clock, local times those of the process's time zone (TZ).
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace ovs {

constexpr size_t kMaxSchedules = 32;
constexpr size_t kMaxScheduleLength = 256;  // bytes of one entry as the file holds it
constexpr int kMaxEveryMinutes = 1440;

struct Schedule {
  enum class When { Daily, Every };
  enum class Target { Title, Type };
  enum class Action { Line, Restart };
  When when = When::Daily;
  int minutes = 0;  // Daily: minutes after local midnight; Every: the interval
  Target target = Target::Title;
  std::string name;  // the title or the type
  Action action = Action::Line;
  std::string line;  // the console line, for Action::Line

  bool operator==(const Schedule&) const = default;
};

// Reads one entry; false with error telling what is wrong.
bool ParseSchedule(std::string_view text, Schedule& schedule, std::string& error);
// The entry as ParseSchedule reads it back; empty when it cannot be written so (a name holding both kinds
// of quote).
std::string FormatSchedule(const Schedule& schedule);

// Reads a schedules file: blank lines and lines starting with # are skipped. False with error naming the
// line on the first one that does not read, is longer than kMaxScheduleLength or is one too many.
bool ParseScheduleFile(std::string_view text, std::vector<Schedule>& schedules, std::string& error);
std::string FormatScheduleFile(const std::vector<Schedule>& schedules);

// The first moment after `after` at which the schedule runs. Daily: the local time on the next day that has
// it; a time the clock skips (the night it is put forward) runs at the moment of the change, and a time it
// passes twice (the night it is put back) runs the first time only. Every N minutes: every N minutes of real
// time, at the moments that are a whole multiple of N minutes since 1970-01-01 00:00 UTC, so that the
// runs neither drift nor move with a change of the clock.
std::time_t NextDue(const Schedule& schedule, std::time_t after);

// When each schedule is due next, against a clock the caller reads: the one timer waits for NextWake().
class Agenda {
 public:
  void Set(const std::vector<Schedule>& schedules, std::time_t now);
  bool Empty() const { return due_.empty(); }
  std::time_t NextWake() const;  // undefined when Empty()
  // The positions of the schedules due at now, each then due at its next moment after now (runs missed
  // while the server was busy or stopped are not made up).
  std::vector<size_t> TakeDue(std::time_t now);

 private:
  std::vector<Schedule> schedules_;
  std::vector<std::time_t> due_;
};

}  // namespace ovs
