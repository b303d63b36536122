#include "ovserver/process_figures.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>

namespace ovs {
namespace {

// Fields of /proc/PID/stat counted from the one after the command name's closing parenthesis (the
// state, field 3).
constexpr size_t kSessionField = 6 - 3;
constexpr size_t kFirstTimeField = 14 - 3;  // utime, stime, cutime, cstime
constexpr size_t kResidentField = 24 - 3;

double CpuShare(const ProcessFigures& figures, double uptimeSeconds) {
  return uptimeSeconds > 0 ? 100.0 * figures.cpuSeconds / uptimeSeconds : 0.0;
}

int Clamped(double value) { return int(std::clamp(value, 0.0, double(std::numeric_limits<int>::max()))); }

bool ToNumber(std::string_view text, long long& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseStatLine(std::string_view text, StatLine& line) {
  const size_t close = text.rfind(')');
  if (close == std::string_view::npos) return false;
  std::vector<std::string_view> fields;
  for (size_t at = close + 1; at < text.size();) {
    const size_t start = text.find_first_not_of(" \n", at);
    if (start == std::string_view::npos) break;
    const size_t end = std::min(text.find_first_of(" \n", start), text.size());
    fields.push_back(text.substr(start, end - start));
    at = end;
  }
  if (fields.size() <= kResidentField) return false;
  long long times[4] = {};
  for (size_t i = 0; i < 4; ++i)
    if (!ToNumber(fields[kFirstTimeField + i], times[i])) return false;
  line.ticks = times[0] + times[1] + times[2] + times[3];
  return ToNumber(fields[kSessionField], line.session) &&
         ToNumber(fields[kResidentField], line.residentPages);
}

std::map<long long, ProcessFigures> ReadSessionFigures(const std::vector<long long>& leaders) {
  std::map<long long, ProcessFigures> figures;
  if (leaders.empty()) return figures;
  const double ticksPerSecond = double(::sysconf(_SC_CLK_TCK));
  const long long pageSize = ::sysconf(_SC_PAGESIZE);
  DIR* proc = ::opendir("/proc");
  if (!proc) return figures;
  while (const dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    std::ifstream file(std::string("/proc/") + entry->d_name + "/stat");
    std::string text;
    StatLine line;
    if (!std::getline(file, text) || !ParseStatLine(text, line)) continue;  // gone meanwhile
    if (std::find(leaders.begin(), leaders.end(), line.session) == leaders.end()) continue;
    ProcessFigures& sum = figures[line.session];
    sum.cpuSeconds += double(line.ticks) / ticksPerSecond;
    sum.residentBytes += line.residentPages * pageSize;
  }
  ::closedir(proc);
  return figures;
}

const std::map<long long, ProcessFigures>& FiguresCache::Of(std::vector<long long> leaders,
                                                            std::chrono::steady_clock::time_point now) {
  std::sort(leaders.begin(), leaders.end());
  const bool covered = std::includes(leaders_.begin(), leaders_.end(), leaders.begin(), leaders.end());
  if (readOnce_ && covered && now - readAt_ < kFresh) return figures_;
  figures_ = read_(leaders);
  leaders_ = std::move(leaders);
  readAt_ = now;
  readOnce_ = true;
  return figures_;
}

ov::msg::Figures::Server FiguresMessage(int id, long long pid, const ProcessFigures& figures,
                                        double uptimeSeconds) {
  return {id, Clamped(double(pid)), Clamped(uptimeSeconds),
          Clamped(10 * CpuShare(figures, uptimeSeconds) + 0.5),
          Clamped(double(figures.residentBytes) / 1024)};
}

std::string DescribeFigures(const ProcessFigures& figures, double uptimeSeconds) {
  const double share = CpuShare(figures, uptimeSeconds);
  char text[64];
  std::snprintf(text, sizeof text, "cpu %.1f%%, %.1f MiB", share,
                double(figures.residentBytes) / (1024 * 1024));
  return text;
}

}  // namespace ovs
