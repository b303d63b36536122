#include "ovserver/log.h"

#include <cstdio>
#include <ctime>

namespace ovs {
namespace {
std::function<void(const std::string&)>& Sink() {
  static std::function<void(const std::string&)> sink;
  return sink;
}
}  // namespace

void SetLogSink(std::function<void(const std::string&)> sink) { Sink() = std::move(sink); }

void Log(const std::string& line) {
  if (Sink()) {
    Sink()(line);
    return;
  }
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::fprintf(stderr, "%s ovserver: %s\n", stamp, line.c_str());
  std::fflush(stderr);
}

std::string Printable(std::string_view bytes, size_t limit) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (out.size() >= limit) {
      out += "...";
      break;
    }
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace ovs
