#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

namespace vendrake::engine::posix {

// Closes a descriptor once, whoever owns it last.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Reset(-1); }

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  // Closes now and reports the result, which for a written file can carry a
  // deferred write error.
  int Close() { return ::close(std::exchange(fd_, -1)); }
  // Hands the descriptor over without closing it.
  int Release() { return std::exchange(fd_, -1); }

 private:
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

  int fd_;
};

// Throws FileError: "<what> <path>: <the system's reason for `error`>".
[[noreturn]] void FailWithErrno(std::string_view what, std::string_view path, int error);
[[noreturn]] inline void FailWithErrno(std::string_view what, std::string_view path) {
  FailWithErrno(what, path, errno);
}

// The file name bytes for a plain name inside a folder; throws FileError for
// a name that is empty, "." or "..", or holds a separator ("/", or "\" as the
// folder texts read it) or a NUL, none of which names a file of the folder
// itself.
std::string NativeName(std::u16string_view name);

// The path through which the open file `fd` can be reached again.
std::string ProcPathOf(int fd);

// Opens the entry `name` of the folder `folder_fd` with `flags` only if it
// is a regular file, and then that very file: where the system has O_PATH
// and /proc, the file found is held before it is looked at, so that nothing
// put at the name meanwhile is opened (opening a FIFO, a terminal or a
// watchdog acts on it). O_NOFOLLOW in `flags` refuses a link at the name. A
// closed descriptor when it cannot be opened, with errno set: EINVAL for
// anything but a regular file.
Descriptor OpenIfRegular(int folder_fd, const char* name, int flags);

// Whether `name` in the folder `folder_fd` is, without following a link, the
// regular file open as `fd`.
bool NameLeadsTo(int folder_fd, const char* name, int fd);
// The same for the file whose status is `open`.
bool NameLeadsTo(int folder_fd, const char* name, const struct stat& open);

// The folder's path joined with a name, for messages only.
std::string PathFor(const std::string& folder, const std::string& name);

}  // namespace vendrake::engine::posix
