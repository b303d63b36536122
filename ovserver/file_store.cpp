#include "ovserver/file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ovs {
namespace {

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes all of text, however the system cuts it; false with errno set on the first failure.
bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    text.remove_prefix(size_t(written));
  }
  return true;
}

}  // namespace

WriteOutcome WriteWholeFile(const std::string& path, std::string_view text, mode_t mode, std::string& error,
                            const std::function<bool()>& mayReplace) {
  std::string temporary = path + ".new-XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  const auto fail = [&](const std::string& step) {
    error = "cannot write " + path + ": " + step + ": " + std::strerror(errno);
    return WriteOutcome::Failed;
  };
  if (fd < 0) return fail("cannot create a new file beside it");
  bool ok = ::fchmod(fd, mode) == 0;
  std::string step = "cannot set its permissions";
  if (ok && !(ok = WriteAll(fd, text))) step = "writing";
  if (ok && !(ok = ::fsync(fd) == 0)) step = "syncing it to the disk";
  // A file system may report a failed write-back only when the file is closed.
  if (::close(fd) != 0 && ok) ok = false, step = "closing it";
  if (!ok) {
    const int why = errno;
    ::unlink(temporary.c_str());
    errno = why;
    return fail(step);
  }
  if (mayReplace && !mayReplace()) {
    ::unlink(temporary.c_str());
    return WriteOutcome::Withdrawn;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int why = errno;
    ::unlink(temporary.c_str());
    errno = why;
    return fail("renaming the new file over it");
  }
  // The rename is on the disk only once the folder is: until then a power cut may bring the old back.
  const int folder = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return fail("opening its folder to sync it");
  const bool synced = ::fsync(folder) == 0;
  const int why = errno;
  ::close(folder);
  errno = why;
  return synced ? WriteOutcome::Written : fail("syncing its folder to the disk");
}

}  // namespace ovs
