#include "consoles/qt/kept_logs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <QDateTime>
#include <QMetaObject>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace ov {

namespace {

std::string Today() { return QDate::currentDate().toString(Qt::ISODate).toStdString(); }

std::string Why(int err) { return std::strerror(err); }

}  // namespace

QString LogRoot() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Orvane/logs";
}

// ---- PosixLogFileSystem

namespace {

// An open descriptor, closed when it goes.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Makes path and the folders above it, links followed: the log folder is where the user's data is.
std::string MakeRoot(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    if (::mkdir(path.substr(0, at).c_str(), 0700) == 0 || errno == EEXIST) continue;
    return Why(errno);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Why(errno);
  return S_ISDIR(st.st_mode) ? std::string() : Why(ENOTDIR);
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

PosixLogFileSystem::PosixLogFileSystem(std::string root) : root_(std::move(root)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

int PosixLogFileSystem::OpenFolder(const std::string& path, bool make, std::string& why) const {
  if (path != root_ && !path.starts_with(root_ + "/")) {
    why = "not inside " + root_;
    return -1;
  }
  if (make) {
    why = MakeRoot(root_);
    if (!why.empty()) return -1;
  }
  int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int err = fd < 0 ? errno : 0;
  // Below the log folder each level is opened on its own, never through a link.
  for (size_t at = root_.size() + 1; fd >= 0 && at < path.size();) {
    const size_t end = std::min(path.find('/', at), path.size());
    const std::string name = path.substr(at, end - at);
    at = end + 1;
    if (name.empty()) continue;
    if (make && ::mkdirat(fd, name.c_str(), 0700) != 0 && errno != EEXIST) {
      err = errno;
      ::close(fd);
      fd = -1;
      break;
    }
    const int next = ::openat(fd, name.c_str(), kFolderFlags);
    err = next < 0 ? errno : 0;
    ::close(fd);
    fd = next;
  }
  // A link where a folder should be reads as ELOOP or ENOTDIR: a link is no folder.
  if (fd < 0) why = Why(err == ELOOP ? ENOTDIR : err);
  return fd;
}

std::string PosixLogFileSystem::MakeFolders(const std::string& path) {
  std::string why;
  const Fd folder(OpenFolder(path, true, why));
  return why;
}

int64_t PosixLogFileSystem::FileSize(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string why;
  const Fd folder(OpenFolder(path.substr(0, slash), false, why));
  struct stat st {};
  if (folder.fd < 0 || ::fstatat(folder.fd, path.c_str() + slash + 1, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return 0;
  return static_cast<int64_t>(st.st_size);
}

std::string PosixLogFileSystem::Append(const std::string& path, std::string_view bytes) {
  const size_t slash = path.rfind('/');
  std::string why;
  const Fd folder(OpenFolder(path.substr(0, slash), false, why));
  if (folder.fd < 0) return why;
  const int fd = ::openat(folder.fd, path.c_str() + slash + 1,
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return Why(errno);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = Why(n < 0 ? errno : ENOSPC);
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && why.empty()) why = Why(errno);
  return why;
}

// ---- KeptLogs

// What the UI thread and the writer thread share; the thread holds it too, so it may outlive KeptLogs.
struct KeptLogs::Shared {
  std::mutex mutex;
  std::condition_variable wake;     // work, or the end
  std::condition_variable written;  // the queue emptied
  std::deque<std::vector<LogBatch>> queue;
  size_t queuedBytes = 0;
  bool writing = false;
  bool stop = false;
  QObject* context = nullptr;  // where notes go; none once KeptLogs is gone
  std::function<void(const std::string&)> note;
  explicit Shared(const std::string& root) : disk(root) {}
  PosixLogFileSystem disk;
  LogWriter writer{disk};
};

KeptLogs::KeptLogs(const std::string& root, std::function<void(const std::string&)> note)
    : keeper_(root, Today()), shared_(std::make_shared<Shared>(root)), note_(std::move(note)) {
  shared_->context = &context_;
  shared_->note = note_;
  flushTimer_.setSingleShot(true);
  QObject::connect(&flushTimer_, &QTimer::timeout, &context_, [this] { Flush(); });
  keeper_.SetFlushWanted([this](bool now) { flushTimer_.start(now ? 0 : kFlushMs); });
  midnight_.setSingleShot(true);
  QObject::connect(&midnight_, &QTimer::timeout, &context_, [this] {
    Flush();  // what came before midnight goes to the day it came on
    keeper_.SetToday(Today());
    ArmMidnight();
  });
  ArmMidnight();

  std::thread([shared = shared_] {
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
      shared->wake.wait(lock, [&] { return shared->stop || !shared->queue.empty(); });
      if (shared->queue.empty()) return;  // stopped, and everything written
      std::vector<LogBatch> batches = std::move(shared->queue.front());
      shared->queue.pop_front();
      shared->writing = true;
      lock.unlock();
      size_t bytes = 0;
      for (const LogBatch& b : batches) bytes += b.bytes.size();
      std::vector<std::string> notes = shared->writer.Write(batches);
      lock.lock();
      shared->writing = false;
      shared->queuedBytes -= bytes;
      if (!notes.empty() && shared->context != nullptr) {
        QMetaObject::invokeMethod(
            shared->context,
            [shared, notes = std::move(notes)] {
              for (const std::string& line : notes) shared->note(line);
            },
            Qt::QueuedConnection);
      }
      if (shared->queue.empty()) shared->written.notify_all();
    }
  }).detach();
}

void KeptLogs::ArmMidnight() {
  const QDateTime now = QDateTime::currentDateTime();
  const QDateTime next(now.date().addDays(1), QTime(0, 0));
  midnight_.start(static_cast<int>(std::clamp<qint64>(now.msecsTo(next) + 50, 1000, 25 * 3600 * 1000)));
}

void KeptLogs::Flush() {
  flushTimer_.stop();
  std::vector<LogBatch> batches = keeper_.TakeBatches();
  uint64_t dropped = keeper_.TakeDropped();
  size_t bytes = 0;
  for (const LogBatch& b : batches) bytes += b.bytes.size();
  {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->queuedBytes + bytes > kMaxQueuedBytes) {
      dropped += bytes;
    } else if (bytes > 0) {
      shared_->queuedBytes += bytes;
      shared_->queue.push_back(std::move(batches));
      shared_->wake.notify_one();
    }
  }
  if (dropped > 0 && note_) {
    note_("Keep Logs: the disk fell behind; " + std::to_string(dropped) +
          " bytes of console text were not kept");
  }
}

bool KeptLogs::WaitWritten(int ms) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  return shared_->written.wait_for(lock, std::chrono::milliseconds(ms),
                                   [&] { return shared_->queue.empty() && !shared_->writing; });
}

KeptLogs::~KeptLogs() {
  note_ = nullptr;  // what it would tell has no one left to tell it to
  Flush();
  WaitWritten(2000);
  const std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->context = nullptr;
  shared_->stop = true;
  shared_->wake.notify_one();
}

}  // namespace ov
