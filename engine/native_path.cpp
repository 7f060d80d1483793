#include "engine/native_path.h"

#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

bool IsSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

bool IsDriveLetter(char16_t unit) {
  return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z');
}

}  // namespace

std::string ToNativePath(std::u16string_view path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == u':' && IsSeparator(path[2])) {
    path.remove_prefix(2);
  }
  std::u16string unified;
  unified.reserve(path.size());
  for (const char16_t unit : path) {
    if (!IsSeparator(unit)) {
      unified.push_back(unit);
    } else if (unified.empty() || unified.back() != u'/') {
      unified.push_back(u'/');
    }
  }
  return Utf16ToUtf8(unified);
}

std::u16string ToWindowsPath(std::u16string_view path) {
  std::u16string unified;
  unified.reserve(path.size());
  // A leading pair opens a UNC path (\\server\share), not "\server" on the
  // current drive, so it stays a pair.
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) unified = u"\\\\";
  for (const char16_t unit : path) {
    if (!IsSeparator(unit)) {
      unified.push_back(unit);
    } else if (unified.empty() || unified.back() != u'\\') {
      unified.push_back(u'\\');
    }
  }
  return unified;
}

std::u16string DisplayPath(std::u16string_view path) {
#ifdef _WIN32
  return ToWindowsPath(path);
#else
  return Utf8ToUtf16(ToNativePath(path));
#endif
}

}  // namespace vendrake::engine
