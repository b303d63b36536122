#pragma once
// Keep Logs on the real disk: the keeper's batches are handed, once a second or once they are large, to
// a writer thread of their own, so that a slow or full disk never holds up the window.
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "consoles/log_files.h"

namespace ov {

// The log files' folder: $XDG_DATA_HOME/Orvane/logs, else ~/.local/share/Orvane/logs.
QString LogRoot();

// The disk through POSIX calls: folders 0700, files 0600, appended with O_APPEND. The log folder is
// taken as the user's data folder gives it; below it no link is followed, a folder's nor a file's, so
// that nothing is written outside it.
class PosixLogFileSystem : public LogFileSystem {
 public:
  explicit PosixLogFileSystem(std::string root);
  std::string MakeFolders(const std::string& path) override;
  int64_t FileSize(const std::string& path) override;
  std::string Append(const std::string& path, std::string_view bytes) override;

 private:
  // The folder path, inside the root, opened level by level (made first when make); -1 with why.
  int OpenFolder(const std::string& path, bool make, std::string& why) const;
  std::string root_;
};

class KeptLogs {
 public:
  static constexpr int kFlushMs = 1000;
  static constexpr size_t kMaxQueuedBytes = 16 * 1024 * 1024;  // beyond it the disk has fallen behind

  // note: a line for the status line, on the UI thread.
  KeptLogs(const std::string& root, std::function<void(const std::string&)> note);
  // What is kept goes to the disk first; a disk that does not answer within a few seconds is left to
  // its thread, which ends once it has written.
  ~KeptLogs();
  KeptLogs(const KeptLogs&) = delete;
  KeptLogs& operator=(const KeptLogs&) = delete;

  LogKeeper& Keeper() { return keeper_; }
  void Flush();  // hands the batches gathered so far to the writer thread
  // For tests: waits at most ms for the writer thread to have written what it was handed.
  bool WaitWritten(int ms);

 private:
  struct Shared;
  void ArmMidnight();

  LogKeeper keeper_;
  std::shared_ptr<Shared> shared_;
  std::function<void(const std::string&)> note_;
  QObject context_;  // the writer's notes are delivered to it
  QTimer flushTimer_;
  QTimer midnight_;
};

}  // namespace ov
