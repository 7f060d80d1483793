#include "engine/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "engine/errors.h"
#include "engine/native_path.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

constexpr int kTemporaryNameAttempts = 64;

[[noreturn]] void FailWithErrno(std::string_view what, const std::string& path, int error) {
  throw FileError(std::string(what) + " " + path + ": " + std::strerror(error));
}

[[noreturn]] void FailWithErrno(std::string_view what, const std::string& path) {
  FailWithErrno(what, path, errno);
}

// Closes a descriptor once, whoever owns it last.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }
  // Closes now and reports the result, which for a written file can carry a
  // deferred write error.
  int Close() { return ::close(std::exchange(fd_, -1)); }
  // Hands the descriptor over without closing it.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

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
      if (entry->d_name[0] == '.') continue;  // hidden, and . and ..
      if (IsRegularFile(*entry)) return Utf8ToUtf16(entry->d_name);
    }
  }

 private:
  // The entry's type usually comes with it; links and file systems that do
  // not report types need a stat, which follows the link.
  bool IsRegularFile(const dirent& entry) const {
    if (entry.d_type == DT_REG) return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
    struct stat status {};
    return ::fstatat(::dirfd(dir_), entry.d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
  }

  DIR* dir_;
  std::string path_;
};

class Input : public InputFile {
 public:
  Input(int fd, std::string path, std::uint64_t length)
      : fd_(fd), path_(std::move(path)), length_(length) {}

  std::uint64_t Length() override { return length_; }

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
  std::uint64_t length_;
};

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Where an output's new contents wait until they are complete: in an unnamed
// file (O_TMPFILE) that gets the output's name only when the output did not
// exist yet, and otherwise in a hidden ".vendrake-*.tmp" file that is renamed
// over the output. Either way nothing incomplete ever carries the output's
// name, and a process killed mid-write leaves no file behind at all when the
// file was unnamed.
class Output : public OutputFile {
 public:
  // `temporary_path` is empty while the staged file has no name.
  Output(int fd, std::string path, std::string temporary_path, TemporaryNames& names)
      : fd_(fd),
        path_(std::move(path)),
        temporary_path_(std::move(temporary_path)),
        names_(names) {}

  ~Output() override {
    if (!committed_ && !temporary_path_.empty()) ::unlink(temporary_path_.c_str());
  }

  void Write(std::span<const std::uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) FailWithErrno("cannot write", path_);
      done += static_cast<std::size_t>(put);
    }
  }

  void Commit() override {
    if (temporary_path_.empty()) {
      if (LinkAs(path_)) {
        // The output did not exist, so there is nothing to keep if the
        // close reports a deferred write error: remove what was linked.
        if (fd_.Close() != 0) {
          const int error = errno;
          ::unlink(path_.c_str());
          FailWithErrno("cannot write", path_, error);
        }
        committed_ = true;
        return;
      }
      if (errno != EEXIST) FailWithErrno("cannot write", path_);
      temporary_path_ = LinkUnderTemporaryName();
    }
    ReplaceOutput();
  }

 private:
  // Gives the unnamed file the name `name`; false with errno set on failure.
  bool LinkAs(const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_.Get());
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }

  std::string LinkUnderTemporaryName() {
    const std::string folder = FolderOf(path_);
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
      std::string name = names_.Next(folder);
      if (LinkAs(name)) return name;
      if (errno != EEXIST) FailWithErrno("cannot write", path_);
    }
    throw FileError("no free temporary name in " + folder);
  }

  // Renames the complete temporary file over the output, a file or a link,
  // never followed. A replaced regular file's permission bits carry over.
  void ReplaceOutput() {
    struct stat existing {};
    if (::lstat(path_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        ::fchmod(fd_.Get(), existing.st_mode & 07777) != 0) {
      FailWithErrno("cannot set permissions of", temporary_path_);
    }
    if (fd_.Close() != 0) FailWithErrno("cannot write", temporary_path_);
    if (::rename(temporary_path_.c_str(), path_.c_str()) != 0) {
      FailWithErrno("cannot replace", path_);
    }
    committed_ = true;
  }

  Descriptor fd_;
  std::string path_;
  std::string temporary_path_;
  TemporaryNames& names_;
  bool committed_ = false;
};

}  // namespace

TemporaryNames::TemporaryNames() : random_(std::random_device{}()) {}

std::string TemporaryNames::Next(const std::string& folder) {
  return folder + "/.vendrake-" + std::to_string(random_()) + ".tmp";
}

PosixFileSystem::PosixFileSystem(Staging staging) {
#ifdef O_TMPFILE
  // An unnamed file is named through its /proc/self/fd entry.
  stage_unnamed_ =
      staging == Staging::kUnnamedWherePossible && ::access("/proc/self/fd", X_OK) == 0;
#else
  (void)staging;
#endif
}

std::unique_ptr<FolderListing> PosixFileSystem::ListNormalFiles(std::u16string_view folder) {
  std::string path = ToNativePath(folder);
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) FailWithErrno("cannot list", path);
  return std::make_unique<Listing>(dir, std::move(path));
}

void PosixFileSystem::CreateFolder(std::u16string_view folder) {
  const std::string path = ToNativePath(folder);
  if (::mkdir(path.c_str(), 0777) != 0) FailWithErrno("cannot create folder", path);
}

std::unique_ptr<InputFile> PosixFileSystem::OpenForReading(std::u16string_view path) {
  std::string native = ToNativePath(path);
  // O_NONBLOCK: something put in the file's place since the listing (a FIFO)
  // must not block the run; it is refused below.
  Descriptor fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.Get() < 0) FailWithErrno("cannot open", native);
  struct stat status {};
  if (::fstat(fd.Get(), &status) != 0) FailWithErrno("cannot open", native);
  if (!S_ISREG(status.st_mode)) throw FileError("not a normal file: " + native);
  return std::make_unique<Input>(fd.Release(), std::move(native),
                                 static_cast<std::uint64_t>(status.st_size));
}

std::unique_ptr<OutputFile> PosixFileSystem::OpenForReplacing(std::u16string_view path) {
  std::string native = ToNativePath(path);
  const std::string folder = FolderOf(native);
#ifdef O_TMPFILE
  if (stage_unnamed_) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) return std::make_unique<Output>(fd, std::move(native), "", temporary_names_);
    // Only a file system without unnamed files falls back to a named one.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      FailWithErrno("cannot create a file in", folder);
    }
  }
#endif
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::string temporary = temporary_names_.Next(folder);
    // O_EXCL with O_CREAT never follows a link at the temporary name.
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      return std::make_unique<Output>(fd, std::move(native), std::move(temporary),
                                      temporary_names_);
    }
    if (errno != EEXIST) FailWithErrno("cannot create a temporary file in", folder);
  }
  throw FileError("no free temporary name in " + folder);
}

bool PosixFileSystem::IsSameFolder(std::u16string_view first, std::u16string_view second) {
  struct stat a {};
  struct stat b {};
  return ::stat(ToNativePath(first).c_str(), &a) == 0 &&
         ::stat(ToNativePath(second).c_str(), &b) == 0 && S_ISDIR(a.st_mode) &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace vendrake::engine
