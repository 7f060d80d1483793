#include "engine/posix/posix_staging.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

#include "engine/errors.h"
#include "engine/posix/posix_descriptor.h"
#include "engine/posix/posix_staged_output.h"

namespace vendrake::engine::posix {
namespace {

constexpr std::string_view kStagingPrefix = ".vendrake-";
constexpr std::string_view kStagingSuffix = ".tmp";
constexpr Permissions kOwnerWrite = 0200;

// Whether writing the file's pages out failed: 0, or the error. Asks
// without writing anything, once the pages have been written out.
int WriteErrorOf(int fd) {
#ifdef __linux__
  if (::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WAIT_AFTER) == 0) return 0;
  // ESPIPE, EINVAL, ENOSYS: nothing to ask, and the flush said nothing.
  return errno == ESPIPE || errno == EINVAL || errno == ENOSYS ? 0 : errno;
#else
  (void)fd;
  return 0;
#endif
}

// Flushes the disk that holds the open file `fd`, and whatever its file
// system has yet to commit, names included; 0 or the error.
int FlushFileSystem(int fd) {
#ifdef __linux__
  if (::syncfs(fd) == 0) return 0;
  return errno;
#else
  // No call flushes a whole file system: each file flushes alone.
  (void)fd;
  return ENOSYS;
#endif
}

struct stat StatusOf(int fd, const std::string& path) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) FailWithErrno("cannot write", path);
  return status;
}

// A file of the folder, open for the disk to be flushed through: the folder
// itself where it may be read, or else the output named last (a folder one
// may write into but not read). A closed descriptor, errno set, when there
// is none.
Descriptor OpenFileToFlushThrough(const StagingFolder& folder) {
  Descriptor fd(::openat(folder.fd.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.IsOpen() || errno != EACCES || folder.last_named.empty()) return fd;
  const int error = errno;
  fd = OpenIfRegular(folder.fd.Get(), folder.last_named.c_str(),
                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (!fd.IsOpen() && errno == EACCES) {
    fd = OpenIfRegular(folder.fd.Get(), folder.last_named.c_str(),
                       O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  }
  if (!fd.IsOpen()) errno = error;
  return fd;
}

}  // namespace

std::string NextStagingName() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  return std::string(kStagingPrefix) + std::to_string(random()) + std::string(kStagingSuffix);
}

bool KeepsItsNames(int folder_fd, const char* name) {
#if defined(__linux__) && defined(STATX_ATTR_APPEND)
  struct statx status {};
  const int flags = name[0] == '\0' ? AT_EMPTY_PATH : AT_SYMLINK_NOFOLLOW;
  if (::statx(folder_fd, name, flags, 0, &status) != 0) return false;
  return (status.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0;
#else
  (void)folder_fd;
  (void)name;
  return false;
#endif
}

FileIdentity IdentityOf(const struct stat& status) {
  return {.volume = static_cast<std::uint64_t>(status.st_dev),
          .file = static_cast<std::uint64_t>(status.st_ino)};
}

bool IsStagingName(std::string_view name) {
  if (!name.starts_with(kStagingPrefix) || !name.ends_with(kStagingSuffix)) return false;
  const std::string_view digits = name.substr(
      kStagingPrefix.size(), name.size() - kStagingPrefix.size() - kStagingSuffix.size());
  return !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos;
}

std::unique_ptr<OutputFile> StageOutput(std::shared_ptr<StagingFolder> folder, std::string name,
                                        Permissions source_permissions, bool unnamed) {
  const int folder_fd = folder->fd.Get();
  const std::string& folder_path = folder->path;
  const std::string path = PathFor(folder_path, name);
  // open() applies the umask to these.
  const auto mode = static_cast<mode_t>((source_permissions & kPermissionBits) | kOwnerWrite);
#ifdef O_TMPFILE
  if (unnamed) {
    Descriptor fd(::openat(folder_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (fd.IsOpen()) {
      const struct stat staged = StatusOf(fd.Get(), path);
      return std::make_unique<StagedOutput>(folder, std::move(name), std::move(fd), "", staged);
    }
    // Only a file system without unnamed files falls back to a named one.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      FailWithErrno("cannot create a file in", folder_path);
    }
  }
#else
  (void)unnamed;
#endif
  // A named staging file could never leave an append-only folder again: it
  // cannot be renamed to the output's name nor removed.
  if (KeepsItsNames(folder_fd, "")) {
    FailWithErrno("cannot stage a file (append-only or immutable folder) in", folder_path, EPERM);
  }
  for (int attempt = 0; attempt < kStagingNameAttempts; ++attempt) {
    std::string staging = NextStagingName();
    // O_EXCL with O_CREAT never follows a link at the staging name.
    Descriptor fd(::openat(folder_fd, staging.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd.IsOpen()) {
      if (errno == EEXIST) continue;
      FailWithErrno("cannot create a staging file in", folder_path);
    }
    if (::flock(fd.Get(), LOCK_EX) != 0) {
      const int error = errno;
      ::unlinkat(folder_fd, staging.c_str(), 0);
      FailWithErrno("cannot lock a staging file for", path, error);
    }
    // Until the lock was taken, another run's clean-up could take the new
    // file for an abandoned one and remove it; then start again.
    const struct stat staged = StatusOf(fd.Get(), path);
    if (!NameLeadsTo(folder_fd, staging.c_str(), staged)) continue;
    return std::make_unique<StagedOutput>(folder, std::move(name), std::move(fd),
                                          std::move(staging), staged);
  }
  throw FileError("no free staging name in " + folder_path);
}

void FlushStaged(StagingFolder& folder) {
  std::vector<StagedOutput*> outputs;
  {
    const std::lock_guard lock(folder.unflushed_mutex);
    outputs.assign(folder.unflushed.begin(), folder.unflushed.end());
  }
  if (outputs.empty() && !folder.names_unflushed) return;
  // One flush of the disk for all of them: it writes out every file's pages,
  // commits the file system's journal and empties the disk's cache. Any open
  // file of the folder's file system serves; the folder's own descriptor may
  // be a path only.
  Descriptor own_fd;
  int flush_error = 0;
  if (outputs.empty()) {
    // Only names to flush, and nothing to flush them through: a file system
    // shut down after an I/O error fails every open so.
    own_fd = OpenFileToFlushThrough(folder);
    if (!own_fd.IsOpen()) {
      folder.names_unflushed = false;
      FailWithErrno("cannot flush the names of the outputs in", folder.path);
    }
    flush_error = FlushFileSystem(own_fd.Get());
  } else {
    flush_error = FlushFileSystem(outputs.front()->Fd());
  }
  for (StagedOutput* output : outputs) {
    // A write error lands on its own output: where the flush failed, or the
    // system has none of the whole file system, each output flushes alone;
    // where it did not, the output's pages are asked whether writing them
    // failed, which older kernels' syncfs does not say.
    int error = flush_error != 0 ? (::fdatasync(output->Fd()) == 0 ? 0 : errno)
                                 : WriteErrorOf(output->Fd());
    output->Flushed(error);
  }
  const bool names_unflushed = std::exchange(folder.names_unflushed, false);
  if (flush_error == 0 || !names_unflushed) return;
  // The names: the folder's entries reach the disk with the folder, which
  // must be opened for that. sync(), which reports nothing, is no answer.
  const Descriptor folder_fd(::openat(folder.fd.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_fd.IsOpen() || ::fsync(folder_fd.Get()) != 0) {
    FailWithErrno("cannot flush the names of the outputs in", folder.path);
  }
}

}  // namespace vendrake::engine::posix
