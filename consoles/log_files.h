#pragma once
// Keep Logs: every console's text, as received, is also appended to a file per server, console and
// day, ROOT/ADDRESS_PORT/TITLE/DATE.log. The keeper gathers the bytes in batches on the UI thread at
// the cost of a copy; the writer appends the batches through a small file-system seam, on whatever
// thread the front end gives it, and says what the user must hear: a disk that refused a file, a file
// that reached its bound, bytes dropped because the disk fell behind.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ov {

class Console;
struct Endpoint;

// A part of a log's path made safe, each text its own name: '/', '%', '~', control characters and a leading
// '.' as %XX, the Latin-1 bytes of a title as UTF-8, no text as "%". At most kMaxFileNameBytes bytes: a
// longer name keeps its head and ends in "~" and a hash of the whole text.
constexpr size_t kMaxFileNameBytes = 120;
std::string SafeFileName(std::string_view text);

struct LogBatch {
  std::string folder;  // ROOT/ADDRESS_PORT/TITLE
  std::string file;    // folder/DATE.log
  std::string bytes;
};

class LogKeeper {
 public:
  static constexpr size_t kFlushBytes = 1024 * 1024;           // batches this large ask to be written now
  static constexpr size_t kMaxPendingBytes = 8 * 1024 * 1024;  // beyond it, bytes are dropped and counted

  // root: the logs' folder; today: the local date, YYYY-MM-DD.
  LogKeeper(std::string root, std::string today) : root_(std::move(root)), today_(std::move(today)) {}
  // Told when the first bytes wait (now false: write them soon) and when they reach kFlushBytes (now true).
  void SetFlushWanted(std::function<void(bool now)> wanted) { flushWanted_ = std::move(wanted); }
  // Bytes kept from here on go to the new day's files.
  void SetToday(std::string today) {
    today_ = std::move(today);
    recent_.clear();
  }

  // The bytes a console window received, as received.
  void Keep(const Console& window, const Endpoint& where, std::string_view bytes);
  // The batches gathered since the last call, in the order their files were first written to.
  std::vector<LogBatch> TakeBatches();
  size_t PendingBytes() const { return pending_; }
  // Bytes dropped because the batches were full, since the last call.
  uint64_t TakeDropped() { return std::exchange(dropped_, 0); }

 private:
  size_t BatchFor(const Console& window, const Endpoint& where);

  std::string root_;
  std::string today_;
  std::function<void(bool now)> flushWanted_;
  std::vector<LogBatch> batches_;
  // Which batch a window's text went to last; checked against its caption, server and day before use.
  struct Recent {
    size_t batch;
    std::string caption;
    std::string address;
    int port;
  };
  std::unordered_map<const Console*, Recent> recent_;
  size_t pending_ = 0;
  uint64_t dropped_ = 0;
};

// The disk as the writer needs it. Each call answers with an empty text, or says why it failed.
class LogFileSystem {
 public:
  virtual ~LogFileSystem() = default;
  virtual std::string MakeFolders(const std::string& path) = 0;  // the folder and those above it
  virtual int64_t FileSize(const std::string& path) = 0;         // 0 when there is none
  virtual std::string Append(const std::string& path, std::string_view bytes) = 0;
};

class LogWriter {
 public:
  static constexpr int64_t kMaxFileBytes = int64_t{64} * 1024 * 1024;
  // Files begun per server and day: a server that renames its consoles would otherwise begin file
  // after file, each within its bound, and the disk without one.
  static constexpr size_t kMaxFilesPerServerDay = 100;

  explicit LogWriter(LogFileSystem& disk, int64_t maxFileBytes = kMaxFileBytes,
                     size_t maxFilesPerServerDay = kMaxFilesPerServerDay)
      : disk_(disk), maxFileBytes_(maxFileBytes), maxFilesPerServerDay_(maxFilesPerServerDay) {}
  // Appends each batch to its file, the part that fits its bound; returns the notes for the status
  // line, once per file.
  std::vector<std::string> Write(const std::vector<LogBatch>& batches);

 private:
  struct File {
    int64_t size = -1;  // -1 until looked at
    bool stopped = false;
  };
  static constexpr size_t kMaxFilesKnown = 4096;
  LogFileSystem& disk_;
  int64_t maxFileBytes_;
  size_t maxFilesPerServerDay_;
  std::unordered_map<std::string, File> files_;
  std::unordered_map<std::string, size_t> begun_;  // files begun, by ROOT/ADDRESS_PORT and day
};

}  // namespace ov
