#pragma once
// A client's byte stream split into requests by the wire library's splitter, with the server's own
// limits: requests are small, and account answers are read by their fixed sizes, since their enciphered
// payloads may hold the end byte. What is not a well-formed frame is counted and described.
#include <string>
#include <string_view>
#include <vector>

#include "wire/frames.h"

namespace ovs {

// No request a client sends comes near this: a longer frame (start and end bytes included) is dropped.
constexpr size_t kMaxRequestSize = 64 * 1024;
constexpr size_t kMaxProblemTexts = 4;  // a flood of bad frames is counted, not described each

class RequestReader {
 public:
  struct Result {
    std::vector<ov::Frame> frames;
    // Stray bytes, malformed or oversized frames: how many, and the words for the first few.
    size_t malformed = 0;
    std::vector<std::string> problems;
  };
  Result Feed(std::string_view bytes);
  size_t Pending() const { return frames_.Pending(); }

 private:
  ov::FrameAssembler frames_{
      {.maxKept = kMaxRequestSize - 1, .maxFrame = kMaxRequestSize, .accountAnswerSizes = true}};
};

}  // namespace ovs
