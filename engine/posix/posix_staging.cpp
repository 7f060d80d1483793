#include "engine/posix/posix_staging.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "engine/errors.h"
#include "engine/posix/posix_descriptor.h"

namespace vendrake::engine::posix {
namespace {

constexpr std::string_view kStagingPrefix = ".vendrake-";
constexpr std::string_view kStagingSuffix = ".tmp";
constexpr int kStagingNameAttempts = 64;
constexpr Permissions kOwnerWrite = 0200;
constexpr mode_t kPermissionBits = 0777;

std::string NextStagingName() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  return std::string(kStagingPrefix) + std::to_string(random()) + std::string(kStagingSuffix);
}

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

// Whether the entry `name` of the folder (the folder itself for "") may
// never lose its name: the folder is append-only or immutable (chattr +a,
// +i), or, for a file, the file is. false where the system cannot tell.
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

// Holds the staged contents until Commit gives them the output's name. A
// staging file with a name is locked, and its descriptor stays open until the
// output's name is taken, so no other run's clean-up can mistake it for an
// abandoned one.
class StagedOutput : public OutputFile {
 public:
  // `staging_name` is empty while the staged file has no name.
  // `staged` is the new file's status, taken as it was made: writing changes
  // nothing that a commit looks at, and the look costs a round trip on a
  // network share once the file has been written to.
  StagedOutput(std::shared_ptr<StagingFolder> folder, std::string name, Descriptor fd,
               std::string staging_name, const struct stat& staged)
      : folder_(std::move(folder)),
        folder_fd_(folder_->fd.Get()),
        path_(PathFor(folder_->path, name)),
        name_(std::move(name)),
        fd_(std::move(fd)),
        staging_name_(std::move(staging_name)),
        staged_(staged) {}

  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  ~StagedOutput() override {
    Unlisted();
    if (!committed_ && !staging_name_.empty()) ::unlinkat(folder_fd_, staging_name_.c_str(), 0);
  }

  void Write(std::span<const std::uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) FailWithErrno("cannot write", path_);
      done += static_cast<std::size_t>(put);
    }
    const std::lock_guard lock(folder_->unflushed_mutex);
    folder_->unflushed.insert(this);
  }

  FileIdentity Commit() override {
    ReachDisk();
    TakeName();
    folder_->last_named = name_;
    return IdentityOf(staged_);
  }

  int Fd() const { return fd_.Get(); }

  // What FlushStaged found for this output: 0 when its contents are on the
  // disk, or the error that kept them from it.
  void Flushed(int error) {
    Unlisted();
    flush_error_ = error;
  }

 private:
  // The staged contents must be on the disk before they take a name, or a
  // crash could leave an empty or partial file under it: where FlushStaged
  // has not brought them there, this output is flushed alone.
  void ReachDisk() {
    if (flush_error_ != 0) FailWithErrno("cannot write", path_, flush_error_);
    if (Unlisted()) {
      if (::fdatasync(fd_.Get()) != 0) FailWithErrno("cannot write", path_);
    }
    folder_->names_unflushed = true;
  }

  // Most outputs are new: the name is just taken, which fails if something
  // has it, and only then is that looked at and replaced. One look less per
  // output, each of them a round trip that holds the folder on a network share.
  void TakeName() {
    if (TakeNewName()) return;
    struct stat existing {};
    if (::fstatat(folder_fd_, name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
      FailWithErrno("cannot replace", path_);
    }
    Replace(existing);
  }

  // Takes this output off the folder's unflushed ones; whether it was there.
  bool Unlisted() {
    const std::lock_guard lock(folder_->unflushed_mutex);
    return folder_->unflushed.erase(this) != 0;
  }

  // Gives the unnamed staged file the name `name`; false with errno set.
  bool LinkAs(const std::string& name) {
#ifdef AT_EMPTY_PATH
    // Straight from the descriptor where the process may (CAP_DAC_READ_SEARCH,
    // as root has): no walk through /proc for every output.
    if (link_empty_path_) {
      if (::linkat(fd_.Get(), "", folder_fd_, name.c_str(), AT_EMPTY_PATH) == 0) return true;
      if (errno != EPERM && errno != ENOENT) return false;
      link_empty_path_ = false;
    }
#endif
    const std::string self = ProcPathOf(fd_.Get());
    return ::linkat(AT_FDCWD, self.c_str(), folder_fd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }

  // Names a new output; false (errno EEXIST) when the name turned up meanwhile.
  bool TakeNewName() {
    if (staging_name_.empty()) {
      if (!LinkAs(name_)) {
        if (errno == EEXIST) return false;
        FailWithErrno("cannot write", path_);
      }
    } else if (!RenameStagingAsNew()) {
      if (errno == EEXIST) return false;
      FailWithErrno("cannot write", path_);
    }
    committed_ = true;
    // A deferred write error surfaces at the latest on close. Nothing was at
    // the name before, so nothing is lost by taking the incomplete file away.
    if (fd_.Close() != 0) {
      const int error = errno;
      ::unlinkat(folder_fd_, name_.c_str(), 0);
      FailWithErrno("cannot write", path_, error);
    }
    return true;
  }

  // Gives the named staging file the output's name, which nothing may have:
  // false (errno EEXIST) when something took it since it was looked at, and
  // that is then replaced only after the checks a replacement passes.
  bool RenameStagingAsNew() {
    const char* staging = staging_name_.c_str();
    const char* name = name_.c_str();
#ifdef RENAME_NOREPLACE
    if (::renameat2(folder_fd_, staging, folder_fd_, name, RENAME_NOREPLACE) == 0) return true;
    // EINVAL: a file system that cannot rename so (some network ones, FUSE);
    // ENOSYS: a kernel before 3.15.
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    // A second name never replaces anything; the staging name then goes.
    if (::linkat(folder_fd_, staging, folder_fd_, name, 0) == 0) {
      ::unlinkat(folder_fd_, staging, 0);
      return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return false;
    // Neither: only a look just before the rename, which leaves the race
    // with whatever takes the name in between.
    struct stat existing {};
    if (::fstatat(folder_fd_, name, &existing, AT_SYMLINK_NOFOLLOW) == 0) {
      errno = EEXIST;
      return false;
    }
    return ::renameat(folder_fd_, staging, folder_fd_, name) == 0;
  }

  // Renames the staged file over `existing`, a file or a link at the name,
  // never followed.
  void Replace(const struct stat& existing) {
    if (S_ISDIR(existing.st_mode)) throw FileError("a folder has the output's name: " + path_);
    RefuseIfItKeepsItsName();
    if (S_ISREG(existing.st_mode)) {
      RefuseIfNotWritable(existing);
      KeepOwner(existing);
      // Only the permission bits: a set-user-ID bit carried over to a file
      // now owned by whoever runs this would hand out their rights. Set
      // after the owner, as a change of owner may change the mode, and only
      // where they differ: some volumes (FAT through FUSE, some shares) have
      // no modes to set, and refuse even one that changes nothing.
      const mode_t mode = existing.st_mode & kPermissionBits;
      if ((staged_.st_mode & kPermissionBits) != mode && ::fchmod(fd_.Get(), mode) != 0) {
        FailWithErrno("cannot set the permissions of", path_);
      }
    }
    if (staging_name_.empty()) {
      // Locked before it has a name that another run's clean-up could see.
      if (::flock(fd_.Get(), LOCK_EX) != 0) FailWithErrno("cannot lock a staging file for", path_);
      staging_name_ = LinkUnderStagingName();
    }
    FailOnDeferredWriteError();
    if (::renameat(folder_fd_, staging_name_.c_str(), folder_fd_, name_.c_str()) != 0) {
      FailWithErrno("cannot replace", path_);
    }
    committed_ = true;
    // Whatever this close still reports came after the check above; the old
    // file is gone by now, but the output must not be counted as written.
    if (fd_.Close() != 0) FailWithErrno("cannot write", path_);
  }

  // Network and FUSE file systems may keep a write error back until the file
  // is closed, and every close asks. The staged file's own descriptor holds
  // the lock that keeps other runs' clean-up off its staging name until the
  // rename, so a second descriptor of it is closed instead, while the old
  // output is still in place.
  void FailOnDeferredWriteError() const {
    const int second = ::fcntl(fd_.Get(), F_DUPFD_CLOEXEC, 0);
    if (second < 0) FailWithErrno("cannot write", path_);
    if (::close(second) != 0) FailWithErrno("cannot write", path_);
  }

  // Found out before a staging name is given, which an append-only folder
  // would keep for good once the rename over the old name failed.
  void RefuseIfItKeepsItsName() const {
    if (KeepsItsNames(folder_fd_, "")) {
      FailWithErrno("cannot replace (append-only or immutable folder)", path_, EPERM);
    }
    if (KeepsItsNames(folder_fd_, name_.c_str())) {
      FailWithErrno("cannot replace (append-only or immutable file)", path_, EPERM);
    }
  }

  // The replaced file stays its owner's and its group's: run by root, a
  // replacement would otherwise take another user's file over and could
  // shut its owner out. Where this process may not give the file to them (a
  // group member replacing another user's file), it is left as it is.
  void KeepOwner(const struct stat& existing) {
    const uid_t owner =
        existing.st_uid == staged_.st_uid ? static_cast<uid_t>(-1) : existing.st_uid;
    const gid_t group =
        existing.st_gid == staged_.st_gid ? static_cast<gid_t>(-1) : existing.st_gid;
    if ((owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) &&
        ::fchown(fd_.Get(), owner, group) != 0) {
      FailWithErrno("cannot keep the owner of", path_);
    }
  }

  // An output that could not be written in place is not replaced either:
  // write permission on the folder must not override the file's own.
  void RefuseIfNotWritable(const struct stat& existing) const {
    if ((existing.st_mode & 0222) == 0) throw FileError("the output is read-only: " + path_);
    if (::faccessat(folder_fd_, name_.c_str(), W_OK, AT_EACCESS) != 0) {
      FailWithErrno("cannot replace", path_);
    }
  }

  std::string LinkUnderStagingName() {
    for (int attempt = 0; attempt < kStagingNameAttempts; ++attempt) {
      std::string name = NextStagingName();
      if (LinkAs(name)) return name;
      if (errno != EEXIST) FailWithErrno("cannot write", path_);
    }
    throw FileError("no free staging name beside " + path_);
  }

  std::shared_ptr<StagingFolder> folder_;
  int folder_fd_;
  std::string path_;
  std::string name_;
  Descriptor fd_;
  std::string staging_name_;
  const struct stat staged_;
  int flush_error_ = 0;
  bool committed_ = false;
  bool link_empty_path_ = true;
};

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
    if (!NameLeadsTo(folder_fd, staging.c_str(), fd.Get())) continue;
    const struct stat staged = StatusOf(fd.Get(), path);
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
