#include "engine/posix/posix_staged_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <utility>

#include "engine/errors.h"

namespace vendrake::engine::posix {

StagedOutput::StagedOutput(std::shared_ptr<StagingFolder> folder, std::string name, Descriptor fd,
                           std::string staging_name, const struct stat& staged)
    : folder_(std::move(folder)),
      folder_fd_(folder_->fd.Get()),
      path_(PathFor(folder_->path, name)),
      name_(std::move(name)),
      fd_(std::move(fd)),
      staging_name_(std::move(staging_name)),
      staged_(staged) {}

StagedOutput::~StagedOutput() {
  Unlisted();
  if (!committed_ && !staging_name_.empty()) ::unlinkat(folder_fd_, staging_name_.c_str(), 0);
}

void StagedOutput::Write(std::span<const std::uint8_t> bytes) {
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

FileIdentity StagedOutput::Commit() {
  ReachDisk();
  TakeName();
  folder_->last_named = name_;
  return IdentityOf(staged_);
}

void StagedOutput::Flushed(int error) {
  Unlisted();
  flush_error_ = error;
}

void StagedOutput::ReachDisk() {
  if (flush_error_ != 0) FailWithErrno("cannot write", path_, flush_error_);
  if (Unlisted()) {
    if (::fdatasync(fd_.Get()) != 0) FailWithErrno("cannot write", path_);
  }
  folder_->names_unflushed = true;
}

void StagedOutput::TakeName() {
  if (TakeNewName()) return;
  struct stat existing {};
  if (::fstatat(folder_fd_, name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
    FailWithErrno("cannot replace", path_);
  }
  Replace(existing);
}

bool StagedOutput::Unlisted() {
  const std::lock_guard lock(folder_->unflushed_mutex);
  return folder_->unflushed.erase(this) != 0;
}

bool StagedOutput::LinkAs(const std::string& name) {
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

bool StagedOutput::TakeNewName() {
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

bool StagedOutput::RenameStagingAsNew() {
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

void StagedOutput::Replace(const struct stat& existing) {
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
  // The contents reached the disk before the rename, and the close of a
  // second descriptor found no write error held back, so what this close
  // could still report concerns nothing the name now holds; and the
  // descriptor is released whatever it says. Failing the output here would
  // tell the old file kept when the new one has replaced it.
  static_cast<void>(fd_.Close());
}

void StagedOutput::FailOnDeferredWriteError() const {
  const int second = ::fcntl(fd_.Get(), F_DUPFD_CLOEXEC, 0);
  if (second < 0) FailWithErrno("cannot write", path_);
  if (::close(second) != 0) FailWithErrno("cannot write", path_);
}

void StagedOutput::RefuseIfItKeepsItsName() const {
  if (KeepsItsNames(folder_fd_, "")) {
    FailWithErrno("cannot replace (append-only or immutable folder)", path_, EPERM);
  }
  if (KeepsItsNames(folder_fd_, name_.c_str())) {
    FailWithErrno("cannot replace (append-only or immutable file)", path_, EPERM);
  }
}

void StagedOutput::KeepOwner(const struct stat& existing) {
  const uid_t owner = existing.st_uid == staged_.st_uid ? static_cast<uid_t>(-1) : existing.st_uid;
  const gid_t group = existing.st_gid == staged_.st_gid ? static_cast<gid_t>(-1) : existing.st_gid;
  if ((owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) &&
      ::fchown(fd_.Get(), owner, group) != 0) {
    FailWithErrno("cannot keep the owner of", path_);
  }
}

void StagedOutput::RefuseIfNotWritable(const struct stat& existing) const {
  if ((existing.st_mode & 0222) == 0) throw FileError("the output is read-only: " + path_);
  if (::faccessat(folder_fd_, name_.c_str(), W_OK, AT_EACCESS) != 0) {
    FailWithErrno("cannot replace", path_);
  }
}

std::string StagedOutput::LinkUnderStagingName() {
  for (int attempt = 0; attempt < kStagingNameAttempts; ++attempt) {
    std::string name = NextStagingName();
    if (LinkAs(name)) return name;
    if (errno != EEXIST) FailWithErrno("cannot write", path_);
  }
  throw FileError("no free staging name beside " + path_);
}

}  // namespace vendrake::engine::posix
