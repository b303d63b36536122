#include "ovserver/scheduler.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

#include "ovserver/file_store.h"
#include "ovserver/log.h"
#include "wire/payload.h"

namespace ovs {
namespace {

constexpr size_t kMaxFileBytes = 64 * 1024;

std::string LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M %Z", &tm);
  return text;
}

// The text after the first n words of line (blanks between them skipped), and those words lowered.
std::string After(const std::string& line, int n, std::vector<std::string>& words) {
  size_t at = 0;
  for (int i = 0; i < n; ++i) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) return "";
    const size_t end = std::min(line.find_first_of(" \t", at), line.size());
    std::string word = line.substr(at, end - at);
    for (char& c : word) c = char(std::tolower((unsigned char)c));
    words.push_back(word);
    at = end;
  }
  at = line.find_first_not_of(" \t\r\n", at);
  if (at == std::string::npos) return "";
  const size_t end = line.find_last_not_of(" \t\r\n");
  return line.substr(at, end + 1 - at);
}

}  // namespace

Scheduler::Scheduler(std::string path, const AccountStore& accounts, GameServers& games, GameRelay& relay,
                     ConnectionManager& connections)
    : path_(std::move(path)), accounts_(accounts), games_(games), relay_(relay), connections_(connections) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);  // a coarse timer may be 5% off: over a day, over an hour
  connect(&timer_, &QTimer::timeout, this, &Scheduler::Fire);
  if (path_.empty()) return;
  std::string error;
  if (!Read(error)) Log("schedules file not read, no schedule runs: " + error);
  if (!schedules_.empty())
    Log(std::to_string(schedules_.size()) + " schedule" + (schedules_.size() == 1 ? "" : "s") + " from " +
        path_);
}

void Scheduler::SetClock(WallClock clock) {
  clock_ = std::move(clock);
  agenda_.Set(schedules_, Now());
  Arm();
}

bool Scheduler::Read(std::string& error) {
  std::ifstream in(path_, std::ios::binary);
  std::vector<Schedule> read;
  const auto damaged = [&](const std::string& why) {
    error = why;
    schedules_.clear();
    agenda_.Set({}, 0);
    Arm();
    return false;
  };
  if (!in && errno != ENOENT) return damaged("cannot read " + path_ + ": " + std::strerror(errno));
  if (in) {
    std::string text(kMaxFileBytes + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    std::string why;
    if (text.size() > kMaxFileBytes)
      return damaged(path_ + ": larger than " + std::to_string(kMaxFileBytes) + " bytes");
    if (!ParseScheduleFile(text, read, why)) return damaged(path_ + ": " + why);
  }
  // Unchanged, the agenda stays as it is: set again at the second a schedule is due, it would skip it.
  if (read != schedules_) {
    schedules_ = std::move(read);
    agenda_.Set(schedules_, Now());
    Arm();
  }
  return true;
}

void Scheduler::Command(Connection& connection, const std::string& line) {
  std::vector<std::string> words;
  const std::string rest = After(line, 2, words);
  if (!accounts_.IsAdmin(connection.user)) {
    connection.Log(connection.Who() + ": schedule refused: not an administrator");
    connection.Say("Only an administrator can use schedules.");
    return;
  }
  if (path_.empty()) {
    connection.Say("Schedules are off here: the OV server runs without a schedules file.");
    return;
  }
  std::string error;
  if (!Read(error)) {
    connection.Say(Blanked("The schedules file is damaged (" + error +
                           "): no schedule runs and it is not written over; mend it by hand."));
    return;
  }
  const std::string sub = words.size() > 1 ? words[1] : "";
  if (sub == "list" && rest.empty())
    List(connection);
  else if (sub == "add")
    Add(connection, rest);
  else if (sub == "del")
    Delete(connection, rest);
  else
    connection.Say("Usage: schedule list | schedule add ENTRY | schedule del N (type help for more).");
}

void Scheduler::List(Connection& connection) {
  if (schedules_.empty()) connection.Say("No schedules.");
  for (size_t i = 0; i < schedules_.size(); ++i)
    connection.Say(Blanked("  " + std::to_string(i + 1) + "  " + FormatSchedule(schedules_[i]) + "  (next " +
                           LocalTime(NextDue(schedules_[i], Now())) + ")"));
}

void Scheduler::Add(Connection& connection, const std::string& entry) {
  Schedule schedule;
  std::string error;
  const auto refuse = [&](const std::string& why) {
    connection.Log(connection.Who() + ": schedule refused: " + Printable(why, 200));
    connection.Say(Blanked("Schedule refused: " + why));
  };
  if (!ParseSchedule(entry, schedule, error)) return refuse(error);
  if (FormatSchedule(schedule).size() > kMaxScheduleLength)
    return refuse("longer than " + std::to_string(kMaxScheduleLength) + " bytes");
  if (schedules_.size() >= kMaxSchedules)
    return refuse("there are " + std::to_string(kMaxSchedules) + " schedules already, as many as are kept");
  std::vector<Schedule> schedules = schedules_;
  schedules.push_back(schedule);
  if (!Write(connection, schedules)) return;
  connection.Log(connection.Who() + " added schedule " + std::to_string(schedules_.size()) + ": " +
                 Printable(FormatSchedule(schedule), 300));
  connection.Say(Blanked("Schedule " + std::to_string(schedules_.size()) + " added: " +
                         FormatSchedule(schedule) + " (next " + LocalTime(NextDue(schedule, Now())) + ")"));
}

void Scheduler::Delete(Connection& connection, const std::string& which) {
  const int n = ov::ParseInt(which, -1);
  if (n < 1 || size_t(n) > schedules_.size()) {
    connection.Say(Blanked("No schedule " + which + ": schedule list shows them."));
    return;
  }
  std::vector<Schedule> schedules = schedules_;
  const std::string gone = FormatSchedule(schedules[size_t(n - 1)]);
  schedules.erase(schedules.begin() + (n - 1));
  if (!Write(connection, schedules)) return;
  connection.Log(connection.Who() + " deleted schedule " + std::to_string(n) + ": " + Printable(gone, 300));
  connection.Say(Blanked("Schedule " + std::to_string(n) + " deleted: " + gone));
}

bool Scheduler::Write(Connection& connection, const std::vector<Schedule>& schedules) {
  std::string error;
  if (WriteWholeFile(path_, FormatScheduleFile(schedules), 0600, error) != WriteOutcome::Written) {
    connection.Log(connection.Who() + ": schedule change refused: " + error);
    connection.Say(
        Blanked("Schedule change refused: the schedules file could not be written (" + error + ")"));
    return false;
  }
  schedules_ = schedules;
  agenda_.Set(schedules_, Now());
  Arm();
  return true;
}

void Scheduler::Arm() {
  if (agenda_.Empty()) return timer_.stop();
  using namespace std::chrono;
  const auto now = duration_cast<milliseconds>(clock_().time_since_epoch()).count();
  // A little past the second it is due, so that the clock reads that second when the timer fires.
  const auto wait = std::max<long long>(0, (long long)agenda_.NextWake() * 1000 + 5 - now);
  timer_.start(int(std::min<long long>(wait, 7LL * 24 * 3600 * 1000)));
}

void Scheduler::Fire() {
  for (size_t index : agenda_.TakeDue(Now())) Run(index);
  Arm();
}

void Scheduler::Run(size_t index) {
  const Schedule& schedule = schedules_[index];
  const std::string which = "schedule " + std::to_string(index + 1) + " (" + FormatSchedule(schedule) + ")";
  bool any = false;
  for (const GameServers::Server* server : games_.List()) {
    if (!server->running ||
        (schedule.target == Schedule::Target::Title ? server->title : server->type) != schedule.name)
      continue;
    any = true;
    const std::string id = std::to_string(server->id);
    const std::string title = server->title;
    std::string error;
    const bool done = schedule.action == Schedule::Action::Restart
                          ? relay_.Restart(server->id, error)
                          : games_.Input(server->id, schedule.line, error);
    const std::string what = schedule.action == Schedule::Action::Restart ? "restarts server " + id
                                                                          : "sends its line to server " + id;
    Log(Printable(which, 300) + (done ? " " + what : " cannot run for server " + id + ": " + error));
    TellAdministrators(
        (done ? "Schedule " + std::to_string(index + 1) + " " + what
              : "Schedule " + std::to_string(index + 1) + " could not run for server " + id + ": " + error) +
        " (" + title + ")");
  }
  if (!any)
    Log(Printable(which, 300) + ": no game server with this " +
        (schedule.target == Schedule::Target::Title ? "title" : "type") + " runs");
}

void Scheduler::TellAdministrators(const std::string& line) {
  connections_.ForEach([&](Connection& connection) {
    if (connection.state == Connection::State::LoggedIn && accounts_.IsAdmin(connection.user))
      connection.Say(Blanked(line));
  });
}

}  // namespace ovs
