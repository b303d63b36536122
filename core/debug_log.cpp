#include "core/debug_log.h"

namespace ov {

void DebugLog::Append(std::string line) {
  if (line.size() > kMaxLineBytes) {
    // A server's payload may be megabytes long: its head says what it was, the rest is only counted.
    const size_t cut = line.size() - kMaxLineBytes;
    line.resize(kMaxLineBytes);
    line += " ...[" + std::to_string(cut) + " more bytes not logged]";
    line.shrink_to_fit();
  }
  bytes_ += line.size();
  lines_.push_back(std::move(line));
  while (lines_.size() > kMaxLines || (bytes_ > kMaxBytes && lines_.size() > 1)) {
    bytes_ -= lines_.front().size();
    lines_.pop_front();
  }
  ++total_;
  if (onAppend_) onAppend_();
}

}  // namespace ov
