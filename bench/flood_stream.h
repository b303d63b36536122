#pragma once
// The console streams of the flood: which consoles an OV server of the flood runs and the exact text of
// every line each one sends, so the flood driver and the programs that check what arrived agree
// byte for byte without talking to each other.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace ov::flood {

constexpr char kStart = '\xFD';
constexpr char kEnd = '\xFE';
constexpr char kSeparator = '\x80';

// Console k of an OV server: 0 is the OV server's own console, 1..quakePerOv its Quake servers, whose
// server ids are their numbers.
inline int ServerIdOf(int console) { return console; }

inline std::string Code(int number) {
  char code[8];
  std::snprintf(code, sizeof code, "%04d", number % 10000);
  return code;
}

inline void AppendFrame(std::string& out, int code, std::string_view payload) {
  out += kStart;
  out += Code(code);
  out += payload;
  out += kEnd;
}

// Line `index` of console `console` of OV server `ov` (1-based as accepted): exactly `size` bytes, the
// last a line feed, printable otherwise, and different from every other line of the flood while the
// size leaves room for the three numbers.
inline void WriteLine(std::string& out, int ov, int console, uint64_t index, size_t size) {
  char head[48];
  int n =
      std::snprintf(head, sizeof head, "%d.%d:%llu ", ov, console, static_cast<unsigned long long>(index));
  const size_t body = size > 0 ? size - 1 : 0;
  const size_t keep = std::min(body, static_cast<size_t>(n));
  out.append(head, keep);
  for (size_t i = keep; i < body; ++i) out += static_cast<char>('a' + (index + i) % 26);
  if (size > 0) out += '\n';
}

// The log a console window in append mode ends with after taking `lines` lines one frame each: every
// line feed becomes CR LF, and an append that finds more than 15000 characters first cuts the first
// 7500. Written out here, apart from the client's own code, so that the check does not grade itself.
// Every line takes size + 1 characters in the log, so the trimming can be followed by length alone;
// the text is the end of the whole stream, and only the lines that reach into it are written.
inline std::string ExpectedText(int ov, int console, uint64_t lines, size_t size) {
  const uint64_t logged = size + 1;
  uint64_t length = 0;
  for (uint64_t i = 0; i < lines; ++i) {
    if (length > 15000) length -= 7500;
    length += logged;
  }
  const uint64_t first = lines - std::min<uint64_t>(lines, (length + logged - 1) / logged);
  std::string all, line;
  for (uint64_t i = first; i < lines; ++i) {
    line.clear();
    WriteLine(line, ov, console, i, size);
    for (char c : line) {
      if (c == '\n') {
        all += "\r\n";
      } else {
        all += c;
      }
    }
  }
  return all.substr(all.size() - std::min<size_t>(all.size(), length));
}

}  // namespace ov::flood
