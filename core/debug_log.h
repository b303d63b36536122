#pragma once
// The lines of the debug pane. Lines are written for every frame even while the pane is hidden, so only
// the latest lines are kept, at most kMaxLines of them and kMaxBytes in all, and the pane is told of new
// lines only while it listens. A line longer than kMaxLineBytes keeps its head and says how much went.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace ov {

class DebugLog {
 public:
  static constexpr size_t kMaxLines = 10000;
  static constexpr size_t kMaxBytes = 4u << 20;
  static constexpr size_t kMaxLineBytes = 4096;

  void Append(std::string line);
  const std::deque<std::string>& Lines() const { return lines_; }
  size_t Bytes() const { return bytes_; }            // the text of the lines kept
  uint64_t TotalAppended() const { return total_; }  // lines ever appended, for views catching up
  void SetListener(std::function<void()> onAppend) { onAppend_ = std::move(onAppend); }
  // 1 when the program was started with -DEBUG: frames in and out are written whole.
  int DebugMode() const { return debugMode_; }
  void SetDebugMode(int mode) { debugMode_ = mode; }

 private:
  std::deque<std::string> lines_;
  size_t bytes_ = 0;
  uint64_t total_ = 0;
  std::function<void()> onAppend_;
  int debugMode_ = 0;
};

}  // namespace ov
