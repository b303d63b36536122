#pragma once
// Splits a client's byte stream into frames, keeping unfinished frames for the next read.
//
// The account messages 905, 906 and 907 are read by their fixed widths: their enciphered payloads may
// hold the byte 0xFE, which would otherwise end the frame early and lose the login.
#include <functional>
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
  size_t Pending() const { return buffer_.size(); }

 private:
  // Length of the enciphered payload of an account message with this code, 0 for other codes.
  static size_t AccountPayloadSize(std::string_view code);
  static void Problem(Result& result, const std::function<std::string()>& words);
  static void Oversized(Result& result, std::string_view code);
  std::string buffer_;
  size_t searched_ = 0;      // bytes of the unfinished frame at the front known to hold no end byte
  bool discarding_ = false;  // skipping the rest of an oversized frame
};

}  // namespace ovs
