#pragma once
// What a game server costs, read from /proc only when someone asks (the console's list): its CPU time and
// resident memory, summed over the processes of its session (a wrapper script and the real server it
// starts among them).
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "wire/messages.h"

namespace ovs {

// The fields of one /proc/PID/stat line that count here.
struct StatLine {
  long long session = 0;
  long long ticks = 0;          // user and system time, its own and that of the children it reaped
  long long residentPages = 0;  // rss
};
// False for a line that is not one (the command name may hold blanks and parentheses).
bool ParseStatLine(std::string_view text, StatLine& line);

struct ProcessFigures {
  double cpuSeconds = 0;
  long long residentBytes = 0;
};

// The figures of each session whose leader is one of leaders; a leader whose session has no process
// left is missing from the result.
std::map<long long, ProcessFigures> ReadSessionFigures(const std::vector<long long>& leaders);

// The figures of sessions as ReadSessionFigures gives them, read at most once every kFresh: a request
// within that time of a read that covered all its leaders is answered from that read. Every client can ask
// (message 33, the console's list) as often as it sends a few bytes; each read walks all of /proc.
class FiguresCache {
 public:
  using Reader = std::function<std::map<long long, ProcessFigures>(const std::vector<long long>&)>;
  static constexpr std::chrono::seconds kFresh{1};

  explicit FiguresCache(Reader read = ReadSessionFigures) : read_(std::move(read)) {}
  const std::map<long long, ProcessFigures>& Of(std::vector<long long> leaders,
                                                std::chrono::steady_clock::time_point now);

 private:
  Reader read_;
  std::vector<long long> leaders_;  // of the last read, sorted
  std::map<long long, ProcessFigures> figures_;
  std::chrono::steady_clock::time_point readAt_;
  bool readOnce_ = false;
};

// Game server id's figures as message 33 carries them, each number held within its field.
ov::msg::Figures::Server FiguresMessage(int id, long long pid, const ProcessFigures& figures,
                                        double uptimeSeconds);

// "cpu 2.5%, 48.1 MiB": the CPU time as a share of one core over its uptime, and the resident memory.
std::string DescribeFigures(const ProcessFigures& figures, double uptimeSeconds);

}  // namespace ovs
