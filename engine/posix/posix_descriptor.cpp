#include "engine/posix/posix_descriptor.h"

#include <cstring>

#include "engine/errors.h"
#include "engine/text_encoding.h"

namespace vendrake::engine::posix {

void FailWithErrno(std::string_view what, std::string_view path, int error) {
  throw FileError(std::string(what) + " " + std::string(path) + ": " + std::strerror(error));
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

}  // namespace vendrake::engine::posix
