#pragma once
// The server's log: one line per event on standard error, with the time in front.
#include <functional>
#include <string>
#include <string_view>

namespace ovs {

void Log(const std::string& line);

// Where log lines go instead of standard error (tests collect them); an empty sink restores stderr.
void SetLogSink(std::function<void(const std::string&)> sink);

// Bytes from the network made fit for one log line: control bytes and high bytes become \xNN.
std::string Printable(std::string_view bytes, size_t limit = 80);

}  // namespace ovs
