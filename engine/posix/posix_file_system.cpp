#include "engine/posix/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "engine/errors.h"
#include "engine/native_path.h"
#include "engine/posix/posix_descriptor.h"
#include "engine/posix/posix_staging.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

using posix::Descriptor;
using posix::FailWithErrno;

// O_PATH holds a folder without asking to read it: a destination needs only
// write and search permission.
#ifdef O_PATH
constexpr int kFolderHandleFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderHandleFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// The native path for a folder text; a NUL would cut it short.
std::string NativeFolderPath(std::u16string_view folder) {
  std::string path = ToNativePath(folder);
  if (path.find('\0') != std::string::npos) throw FileError("a NUL in the folder text: " + path);
  return path;
}

class Listing : public FolderListing {
 public:
  Listing(DIR* dir, std::string path) : dir_(dir), path_(std::move(path)) {}
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;
  ~Listing() override { ::closedir(dir_); }

  std::u16string Next() override {
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir_);
      if (entry == nullptr) {
        if (errno != 0) FailWithErrno("cannot list", path_);
        return {};
      }
      // Hidden, staging files among them, and . and ..
      if (entry->d_name[0] == '.') continue;
      if (IsListed(*entry)) return Utf8ToUtf16(entry->d_name);
    }
  }

 private:
  // Regular files, and every link: what a link leads to is told when the run
  // opens it, as an output the run names meanwhile may replace what it leads
  // to (a link to a folder, or nothing yet). The entry's type usually comes
  // with it; file systems that do not report types need a stat.
  bool IsListed(const dirent& entry) const {
    if (entry.d_type == DT_REG || entry.d_type == DT_LNK) return true;
    if (entry.d_type != DT_UNKNOWN) return false;
    struct stat status {};
    return ::fstatat(::dirfd(dir_), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode));
  }

  DIR* dir_;
  std::string path_;
};

class Input : public InputFile {
 public:
  Input(Descriptor fd, std::string path, const struct stat& status)
      : fd_(std::move(fd)), path_(std::move(path)), status_(status) {}

  std::uint64_t Length() override { return static_cast<std::uint64_t>(status_.st_size); }
  FileIdentity Identity() override { return posix::IdentityOf(status_); }
  Permissions PermissionBits() override { return status_.st_mode & 0777; }

  void Read(std::span<std::uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t got = ::read(fd_.Get(), bytes.data() + done, bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) FailWithErrno("cannot read", path_);
      if (got == 0) throw FileError("file shrank while being read: " + path_);
      done += static_cast<std::size_t>(got);
    }
  }

 private:
  Descriptor fd_;
  std::string path_;
  struct stat status_;
};

class PosixFolder : public Folder {
 public:
  PosixFolder(Descriptor fd, std::string path, bool stage_unnamed)
      : folder_(std::make_shared<posix::StagingFolder>(std::move(fd), std::move(path))),
        stage_unnamed_(stage_unnamed) {}

  std::unique_ptr<FolderListing> ListNormalFiles() override {
    // A descriptor of its own, so that each listing reads from the start.
    Descriptor listing_fd(::openat(Fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing_fd.IsOpen()) FailWithErrno("cannot list", Path());
    DIR* dir = ::fdopendir(listing_fd.Get());
    if (dir == nullptr) FailWithErrno("cannot list", Path());
    listing_fd.Release();
    return std::make_unique<Listing>(dir, Path());
  }

  std::unique_ptr<InputFile> OpenForReading(std::u16string_view name) override {
    const std::string native = posix::NativeName(name);
    std::string path = posix::PathFor(Path(), native);
    // O_NONBLOCK: something put in the file's place since the listing (a
    // FIFO) must not block the run; it is refused below.
    Descriptor fd(::openat(Fd(), native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    // A file under a lease (Samba's oplocks, an NFS server's delegations):
    // its holder has been asked to give it back, which is waited for.
    // Only a regular file carries a lease, and only one is opened so: the
    // open then waits as long as the system gives a holder.
    if (!fd.IsOpen() && errno == EWOULDBLOCK) {
      fd = posix::OpenIfRegular(Fd(), native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
      if (!fd.IsOpen() && errno == EINVAL) FailAsNoNormalFile(native, path);
    }
    if (!fd.IsOpen()) {
      const int error = errno;
      if (IsLink(native)) {
        if (error == ENOENT) {
          throw FileError("the link leads to no file: " + path, FileProblem::kLeadsNowhere);
        }
        // Where a link leads cannot be looked at, or is a link again without
        // end: no normal file, as a listing that followed it would have said.
        if (error == ELOOP || error == ENOTDIR || error == EACCES || error == ENAMETOOLONG) {
          FailAsNoNormalFile(native, path);
        }
      }
      FailWithErrno("cannot open", path, error);
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) FailWithErrno("cannot open", path);
    if (!S_ISREG(status.st_mode)) FailAsNoNormalFile(native, path);
    return std::make_unique<Input>(std::move(fd), std::move(path), status);
  }

  std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view name,
                                               Permissions source_permissions) override {
    return posix::StageOutput(folder_, posix::NativeName(name), source_permissions, stage_unnamed_);
  }

  FileIdentity Identity() override {
    struct stat status {};
    if (::fstat(Fd(), &status) != 0) FailWithErrno("cannot look at", Path());
    return posix::IdentityOf(status);
  }

  FileIdentity IdentityAt(std::u16string_view name) override {
    struct stat status {};
    try {
      const std::string native = posix::NativeName(name);
      if (::fstatat(Fd(), native.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return {};
    } catch (const Error&) {
      return {};
    }
    return posix::IdentityOf(status);
  }

  std::optional<LinkTarget> FollowLink(std::u16string_view name) override {
    std::string native;
    try {
      native = posix::NativeName(name);
    } catch (const Error&) {
      return std::nullopt;
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(Fd(), native.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(length));
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // A target that ends in "/", ".", or ".." names a folder.
    if (base.empty() || base == "." || base == "..") return std::nullopt;
    Descriptor fd(::openat(Fd(), folder.c_str(), kFolderHandleFlags));
    if (!fd.IsOpen()) return std::nullopt;
    std::string path = folder.front() == '/' ? folder : posix::PathFor(Path(), folder);
    return LinkTarget{std::make_unique<PosixFolder>(std::move(fd), std::move(path), stage_unnamed_),
                      Utf8ToUtf16(base)};
  }

  bool IsEmpty() override { return posix::HoldsOnlyStaging(Fd()); }

  std::size_t RemoveAbandonedStaging() override {
    return posix::RemoveAbandonedStaging(Fd(), Path());
  }

  void FlushStaged() override { posix::FlushStaged(*folder_); }
  std::size_t StagingCapacity() override { return posix::StagingCapacity(); }

 private:
  int Fd() const { return folder_->fd.Get(); }
  const std::string& Path() const { return folder_->path; }

  // A name that is no normal file: a link to something else is passed over
  // as if never listed; anything else put in a listed file's place fails.
  [[noreturn]] void FailAsNoNormalFile(const std::string& native, const std::string& path) const {
    if (IsLink(native)) {
      throw FileError("the link leads to no normal file: " + path,
                      FileProblem::kLeadsToNoNormalFile);
    }
    throw FileError("not a normal file: " + path);
  }

  bool IsLink(const std::string& native) const {
    struct stat status {};
    return ::fstatat(Fd(), native.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(status.st_mode);
  }

  // Shared with the outputs being staged in the folder, which may outlive this.
  std::shared_ptr<posix::StagingFolder> folder_;
  bool stage_unnamed_;
};

}  // namespace

PosixFileSystem::PosixFileSystem(Staging staging) {
#ifdef O_TMPFILE
  // An unnamed file is named through its /proc/self/fd entry.
  stage_unnamed_ =
      staging == Staging::kUnnamedWherePossible && ::access("/proc/self/fd", X_OK) == 0;
#else
  (void)staging;
#endif
}

void PosixFileSystem::CreateFolder(std::u16string_view folder) {
  const std::string path = NativeFolderPath(folder);
  if (::mkdir(path.c_str(), 0777) != 0) FailWithErrno("cannot create folder", path);
}

std::unique_ptr<Folder> PosixFileSystem::OpenFolder(std::u16string_view folder) {
  std::string path = NativeFolderPath(folder);
  Descriptor fd(::open(path.c_str(), kFolderHandleFlags));
  if (!fd.IsOpen()) {
    const int error = errno;
    // O_DIRECTORY fails with ENOTDIR on a file, as a file on the way does.
    if (error == ENOENT || error == ENOTDIR) {
      throw FileError("cannot open folder " + path + ": " + std::strerror(error),
                      error == ENOENT ? FileProblem::kNoSuchFolder : FileProblem::kNotAFolder);
    }
    FailWithErrno("cannot open folder", path, error);
  }
  return std::make_unique<PosixFolder>(std::move(fd), std::move(path), stage_unnamed_);
}

bool PosixFileSystem::HidesByName(std::u16string_view name) const {
  return !name.empty() && name.front() == u'.';
}

std::u16string PosixFileSystem::NameKey(std::u16string_view name) const {
  return std::u16string(name);
}

}  // namespace vendrake::engine
