#pragma once
// The process's own memory figures, for tests that print what a flood cost.
#include <fstream>
#include <string>

// Under AddressSanitizer freed memory waits in quarantine: the figures then say nothing of the program.
#if defined(__SANITIZE_ADDRESS__)
#define OV_MEMORY_MEASURED 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OV_MEMORY_MEASURED 0
#endif
#endif
#ifndef OV_MEMORY_MEASURED
#define OV_MEMORY_MEASURED 1
#endif

namespace ov::test {

// A field of /proc/self/status in KiB (VmRSS, VmHWM), from the kernel's own count; -1 when missing.
inline long StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}
inline long RssKb() { return StatusKb("VmRSS"); }
inline long PeakRssKb() { return StatusKb("VmHWM"); }
inline void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace ov::test
