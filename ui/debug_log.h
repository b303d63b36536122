#pragma once
// The lines of the debug pane. Lines are written for every frame even while the pane is hidden, so only
// the latest kMaxLines are kept, and the pane is told of new lines only while it listens.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace ov {

class DebugLog {
 public:
  static constexpr size_t kMaxLines = 10000;

  void Append(std::string line);
  const std::deque<std::string>& Lines() const { return lines_; }
  uint64_t TotalAppended() const { return total_; }  // lines ever appended, for views catching up
  void SetListener(std::function<void()> onAppend) { onAppend_ = std::move(onAppend); }

 private:
  std::deque<std::string> lines_;
  uint64_t total_ = 0;
  std::function<void()> onAppend_;
};

}  // namespace ov
