#include "ovserver/schedule.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace ovs {
namespace {

// One word of an entry: where it stands and its text with quotes taken out. '...' and "..." keep blanks
// inside a word.
struct Word {
  size_t begin = 0;
  std::string text;
};

bool SplitWords(std::string_view text, std::vector<Word>& words, std::string& error) {
  char quote = 0;
  bool inWord = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote == 0 && (c == ' ' || c == '\t')) {
      inWord = false;
      continue;
    }
    if (!inWord) words.push_back({i, ""}), inWord = true;
    if (quote != 0 ? c == quote : (c == '\'' || c == '"'))
      quote = quote != 0 ? 0 : c;
    else
      words.back().text += c;
  }
  if (quote != 0) error = std::string("unpaired ") + quote;
  return quote == 0;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool ReadNumber(std::string_view text, int low, int high, int& value) {
  if (text.empty() || text.size() > 4) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= low && value <= high;
}

bool ReadTimeOfDay(std::string_view text, int& minutes) {
  const size_t colon = text.find(':');
  int hour = 0, minute = 0;
  if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() != colon + 3) return false;
  if (!ReadNumber(text.substr(0, colon), 0, 23, hour) || !ReadNumber(text.substr(colon + 1), 0, 59, minute))
    return false;
  minutes = hour * 60 + minute;
  return true;
}

std::string Quoted(const std::string& name) {
  if (!name.empty() && name.find_first_of(" \t'\"") == std::string::npos) return name;
  if (name.find('"') == std::string::npos) return "\"" + name + "\"";
  if (name.find('\'') == std::string::npos) return "'" + name + "'";
  return "";
}

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

using Wall = std::tuple<int, int, int, int, int, int>;

Wall WallOf(const std::tm& tm) {
  return {tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

Wall LocalWall(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return WallOf(tm);
}

// The first moment whose local time is the wall time, or, when the clock skips it, the moment of the skip.
std::time_t Resolve(const std::tm& wall) {
  const Wall wanted = WallOf(wall);
  std::time_t found = -1;
  std::time_t guesses[2];
  for (int dst = 0; dst < 2; ++dst) {
    std::tm guess = wall;
    guess.tm_isdst = dst;
    guesses[dst] = std::mktime(&guess);
    if (guesses[dst] != -1 && LocalWall(guesses[dst]) == wanted && (found == -1 || guesses[dst] < found))
      found = guesses[dst];
  }
  if (found != -1) return found;
  // Skipped: the local time runs forward through the change, so the first moment at or past it is found
  // by halving.
  std::time_t low = std::min(guesses[0], guesses[1]) - 3 * 3600;
  std::time_t high = std::max(guesses[0], guesses[1]) + 3 * 3600;
  while (high - low > 1) {
    const std::time_t middle = low + (high - low) / 2;
    (LocalWall(middle) >= wanted ? high : low) = middle;
  }
  return high;
}

}  // namespace

bool ParseSchedule(std::string_view text, Schedule& schedule, std::string& error) {
  if (std::any_of(text.begin(), text.end(), [](char c) { return (unsigned char)c < 0x20 || c == '\x7F'; })) {
    error = "control characters are not allowed";
    return false;
  }
  std::vector<Word> words;
  if (!SplitWords(text, words, error)) return false;
  const auto fail = [&](const std::string& why) {
    error = why;
    return false;
  };
  if (words.size() < 5)
    return fail("too short: daily HH:MM|every N, title NAME|type NAME, restart|line TEXT");
  Schedule read;
  const std::string when = Lower(words[0].text);
  if (when == "daily") {
    read.when = Schedule::When::Daily;
    if (!ReadTimeOfDay(words[1].text, read.minutes)) return fail("daily needs a time HH:MM (00:00 to 23:59)");
  } else if (when == "every") {
    read.when = Schedule::When::Every;
    if (!ReadNumber(words[1].text, 1, kMaxEveryMinutes, read.minutes))
      return fail("every needs a number of minutes (1 to " + std::to_string(kMaxEveryMinutes) + ")");
  } else {
    return fail("an entry starts with daily or every");
  }
  const std::string target = Lower(words[2].text);
  if (target != "title" && target != "type") return fail("title NAME or type NAME comes after the time");
  read.target = target == "title" ? Schedule::Target::Title : Schedule::Target::Type;
  read.name = words[3].text;
  if (read.name.empty()) return fail("the " + target + " is empty");
  const std::string action = Lower(words[4].text);
  if (action == "restart" && words.size() == 5) {
    read.action = Schedule::Action::Restart;
  } else if (action == "line" && words.size() > 5) {
    read.action = Schedule::Action::Line;
    read.line = std::string(text.substr(words[5].begin));
    while (read.line.back() == ' ' || read.line.back() == '\t') read.line.pop_back();
  } else {
    return fail("restart, or line and the console line, comes after the " + target);
  }
  if (FormatSchedule(read).empty()) return fail("the " + target + " holds both kinds of quote");
  schedule = std::move(read);
  return true;
}

std::string FormatSchedule(const Schedule& schedule) {
  const std::string name = Quoted(schedule.name);
  if (name.empty()) return "";
  std::string text = schedule.when == Schedule::When::Daily ? "daily " + TwoDigits(schedule.minutes / 60) +
                                                                  ":" + TwoDigits(schedule.minutes % 60)
                                                            : "every " + std::to_string(schedule.minutes);
  text += schedule.target == Schedule::Target::Title ? " title " : " type ";
  text += name;
  text += schedule.action == Schedule::Action::Restart ? " restart" : " line " + schedule.line;
  return text;
}

bool ParseScheduleFile(std::string_view text, std::vector<Schedule>& schedules, std::string& error) {
  std::vector<Schedule> read;
  for (int number = 1; !text.empty(); ++number) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const auto fail = [&](const std::string& why) {
      error = "line " + std::to_string(number) + ": " + why;
      return false;
    };
    if (line.size() > kMaxScheduleLength)
      return fail("longer than " + std::to_string(kMaxScheduleLength) + " bytes");
    if (line.find_first_not_of(" \t") == std::string_view::npos || line[line.find_first_not_of(" \t")] == '#')
      continue;
    if (read.size() == kMaxSchedules)
      return fail("more than " + std::to_string(kMaxSchedules) + " schedules");
    Schedule schedule;
    std::string why;
    if (!ParseSchedule(line, schedule, why)) return fail(why);
    read.push_back(std::move(schedule));
  }
  schedules = std::move(read);
  return true;
}

std::string FormatScheduleFile(const std::vector<Schedule>& schedules) {
  std::string text =
      "# The OV server's schedules, one a line (see \"schedule add\"); read again by every "
      "schedule command.\n";
  for (const Schedule& schedule : schedules) text += FormatSchedule(schedule) + "\n";
  return text;
}

std::time_t NextDue(const Schedule& schedule, std::time_t after) {
  if (schedule.when == Schedule::When::Every) {
    const std::time_t period = std::time_t(schedule.minutes) * 60;
    return (after / period + 1) * period;
  }
  std::tm today{};
  localtime_r(&after, &today);
  for (int days = 0;; ++days) {
    // The calendar day `days` after today, counted on a clock without changes.
    std::tm day{};
    day.tm_year = today.tm_year;
    day.tm_mon = today.tm_mon;
    day.tm_mday = today.tm_mday + days;
    const std::time_t noon = timegm(&day) + 12 * 3600;
    gmtime_r(&noon, &day);
    day.tm_hour = schedule.minutes / 60;
    day.tm_min = schedule.minutes % 60;
    day.tm_sec = 0;
    if (const std::time_t due = Resolve(day); due > after) return due;
  }
}

void Agenda::Set(const std::vector<Schedule>& schedules, std::time_t now) {
  schedules_ = schedules;
  due_.clear();
  for (const Schedule& schedule : schedules_) due_.push_back(NextDue(schedule, now));
}

std::time_t Agenda::NextWake() const { return *std::min_element(due_.begin(), due_.end()); }

std::vector<size_t> Agenda::TakeDue(std::time_t now) {
  std::vector<size_t> due;
  for (size_t i = 0; i < due_.size(); ++i) {
    if (due_[i] > now) continue;
    due.push_back(i);
    due_[i] = NextDue(schedules_[i], now);
  }
  return due;
}

}  // namespace ovs
