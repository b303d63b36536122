#include "ui/debug_log.h"

namespace ov {

void DebugLog::Append(std::string line) {
  if (lines_.size() == kMaxLines) lines_.pop_front();
  lines_.push_back(std::move(line));
  ++total_;
  if (onAppend_) onAppend_();
}

}  // namespace ov
