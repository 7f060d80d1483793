#include "engine/posix/posix_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "engine/errors.h"
#include "engine/text_encoding.h"

namespace vendrake::engine::posix {

void FailWithErrno(std::string_view what, std::string_view path, int error) {
  const bool short_of_room =
      error == ENOSPC || error == EDQUOT || error == EMFILE || error == ENFILE;
  throw FileError(std::string(what) + " " + std::string(path) + ": " + std::strerror(error),
                  short_of_room ? FileProblem::kShortOfRoom : FileProblem::kOther);
}

std::string NativeName(std::u16string_view name) {
  std::string native = Utf16ToUtf8(name);
  if (native.empty() || native == "." || native == ".." ||
      native.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) {
    throw FileError("not the name of a file in a folder: \"" + native + "\"");
  }
  return native;
}

std::string PathFor(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string ProcPathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

Descriptor OpenIfRegular(int folder_fd, const char* name, int flags) {
  const int no_follow = flags & O_NOFOLLOW;
  struct stat status {};
#ifdef O_PATH
  // A path descriptor opens nothing, and pins the file it found.
  const Descriptor found(::openat(folder_fd, name, O_PATH | O_CLOEXEC | no_follow));
  if (!found.IsOpen() || ::fstat(found.Get(), &status) != 0) return Descriptor();
  if (!S_ISREG(status.st_mode)) {
    errno = EINVAL;
    return Descriptor();
  }
  Descriptor fd(::open(ProcPathOf(found.Get()).c_str(), flags & ~O_NOFOLLOW));
  if (fd.IsOpen() || errno != ENOENT) return fd;
    // No /proc here: by the name, as below.
#endif
  if (::fstatat(folder_fd, name, &status, no_follow != 0 ? AT_SYMLINK_NOFOLLOW : 0) != 0) {
    return Descriptor();
  }
  if (!S_ISREG(status.st_mode)) {
    errno = EINVAL;
    return Descriptor();
  }
  return Descriptor(::openat(folder_fd, name, flags));
}

bool NameLeadsTo(int folder_fd, const char* name, int fd) {
  struct stat open {};
  return ::fstat(fd, &open) == 0 && NameLeadsTo(folder_fd, name, open);
}

bool NameLeadsTo(int folder_fd, const char* name, const struct stat& open) {
  struct stat named {};
  return ::fstatat(folder_fd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(named.st_mode) &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

}  // namespace vendrake::engine::posix
