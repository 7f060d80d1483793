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

}  // namespace vendrake::engine
