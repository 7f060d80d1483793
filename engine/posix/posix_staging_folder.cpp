#include "engine/posix/posix_staging.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string_view>

#include "engine/posix/posix_descriptor.h"

// The parts of staging that concern a folder as a whole: how many outputs a
// process may stage at once, and the sweep of what stopped runs left.

namespace vendrake::engine::posix {
namespace {

// Opens a staging file to see whether anyone still holds it; a closed
// descriptor when it is no regular file or cannot be opened at all (then it
// is left alone).
Descriptor OpenStagingFile(int folder_fd, const char* name) {
  // Should the name change hands meanwhile, a FIFO does not block the run and
  // a link is not followed. A staging file always has owner write, but may
  // lack owner read.
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  Descriptor fd = OpenIfRegular(folder_fd, name, O_RDONLY | kFlags);
  if (!fd.IsOpen() && errno == EACCES) fd = OpenIfRegular(folder_fd, name, O_WRONLY | kFlags);
  return fd;
}

// How many descriptors the process holds open now; nothing where it cannot
// be told.
std::optional<std::size_t> OpenDescriptorCount() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return std::nullopt;
  std::size_t count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count - 1;  // the listing's own
}

}  // namespace

std::size_t RemoveAbandonedStaging(int folder_fd, const std::string& folder_path) {
  Descriptor listing_fd(::openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listing_fd.IsOpen()) FailWithErrno("cannot list", folder_path);
  DIR* dir = ::fdopendir(listing_fd.Get());
  if (dir == nullptr) FailWithErrno("cannot list", folder_path);
  listing_fd.Release();

  std::size_t removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsStagingName(entry->d_name)) continue;
    const Descriptor fd = OpenStagingFile(folder_fd, entry->d_name);
    // The output that owns it holds the lock for as long as it lives.
    if (!fd.IsOpen() || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    // Only the very file that was found unlocked goes.
    if (NameLeadsTo(folder_fd, entry->d_name, fd.Get()) &&
        ::unlinkat(folder_fd, entry->d_name, 0) == 0) {
      ++removed;
    }
  }
  ::closedir(dir);
  return removed;
}

bool HoldsOnlyStaging(int folder_fd) {
  Descriptor listing_fd(::openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listing_fd.IsOpen()) return false;
  DIR* dir = ::fdopendir(listing_fd.Get());
  if (dir == nullptr) return false;
  listing_fd.Release();
  bool only_staging = true;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != ".." && !IsStagingName(name)) {
      only_staging = false;
      break;
    }
  }
  // The end of the listing, or a listing that broke off.
  if (errno != 0) only_staging = false;
  ::closedir(dir);
  return only_staging;
}

std::size_t StagingCapacity() {
  // The two folders, a listing, an input file, a descriptor to flush
  // through, and what a window's toolkit may open while a run goes on.
  constexpr rlim_t kNeededBesides = 16;
  // Where the descriptors open now cannot be counted.
  constexpr rlim_t kHeldWhenUncounted = 32;
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 256;
  const auto open_now = OpenDescriptorCount();
  const rlim_t held =
      open_now ? static_cast<rlim_t>(*open_now) + kNeededBesides : kHeldWhenUncounted;
  return limit.rlim_cur > held + 1 ? static_cast<std::size_t>(limit.rlim_cur - held) : 1;
}

}  // namespace vendrake::engine::posix
