#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <utility>

namespace vendrake::testing {

// Unmounts a test's file system before its folder is removed.
class Unmount {
 public:
  explicit Unmount(std::filesystem::path folder) : folder_(std::move(folder)) {}
  Unmount(const Unmount&) = delete;
  Unmount& operator=(const Unmount&) = delete;
  ~Unmount() { ::umount2(folder_.c_str(), MNT_DETACH); }

 private:
  std::filesystem::path folder_;
};

}  // namespace vendrake::testing
