// A folder whose files cannot grow, two ways: a small tmpfs mounted there and filled to the brim (a real
// full disk, where the tests may mount one), or the process's file size limit lowered so that every
// write past a few bytes fails (anywhere, as any user; children started meanwhile inherit it).
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

namespace ovs::test {

class FullDisk {
 public:
  enum class Kind { Tmpfs, SizeLimit };

  // Mounts the tmpfs at folder (an empty folder) now; Unavailable() tells why it could not.
  FullDisk(Kind kind, const std::string& folder) : kind_(kind), folder_(folder) {
    if (kind_ != Kind::Tmpfs) return;
    if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0700") == 0)
      mounted_ = true;
    else
      unavailable_ = std::string("cannot mount a tmpfs at ") + folder + ": " + std::strerror(errno);
  }
  ~FullDisk() { Release(); }
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;

  // Runs body once for each kind this machine can make, in an empty folder of its own, the failures named
  // by the kind; a kind it cannot make (a tmpfs without the right to mount) is reported as skipped.
  static void ForEachKind(const std::function<void(FullDisk& disk, const std::string& folder)>& body) {
    for (const Kind kind : {Kind::Tmpfs, Kind::SizeLimit}) {
      std::string folder = (std::filesystem::temp_directory_path() / "ov-full-disk-XXXXXX").string();
      ASSERT_NE(::mkdtemp(folder.data()), nullptr) << std::strerror(errno);
      {
        FullDisk disk(kind, folder);
        SCOPED_TRACE(disk.Name());
        if (disk.Unavailable().empty())
          body(disk, folder);
        else
          std::cout << "[ SKIPPED  ] " << disk.Name() << ": " << disk.Unavailable() << "\n";
      }
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    }
  }

  const std::string& Unavailable() const { return unavailable_; }
  const char* Name() const { return kind_ == Kind::Tmpfs ? "a full tmpfs" : "a file size limit"; }

  // From now on no file there grows: the tmpfs is filled, or the limit lowered for this process.
  bool Fill() {
    if (kind_ == Kind::SizeLimit) {
      ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of ending the process
      ::getrlimit(RLIMIT_FSIZE, &saved_);
      limited_ = true;
      const rlimit low{kLimit, saved_.rlim_max};
      return ::setrlimit(RLIMIT_FSIZE, &low) == 0;
    }
    std::ofstream filler(folder_ + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    for (int i = 0; i < 64 && filler.write(block.data(), std::streamsize(block.size())); ++i) {
    }
    while (filler.put('x')) {
    }
    return true;
  }
  void Release() {
    if (limited_) ::setrlimit(RLIMIT_FSIZE, &saved_), limited_ = false;
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH), mounted_ = false;
  }

 private:
  static constexpr rlim_t kLimit = 16;  // bytes: less than any accounts file
  Kind kind_;
  std::string folder_;
  std::string unavailable_;
  bool mounted_ = false;
  bool limited_ = false;
  rlimit saved_{};
};

}  // namespace ovs::test
