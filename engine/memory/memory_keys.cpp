#include "engine/memory/memory_keys.h"

#include <string>

#include "engine/errors.h"
#include "engine/text_encoding.h"

namespace vendrake::engine::memory {

std::u16string Key(std::u16string_view path) {
  std::u16string key;
  for (const char16_t unit : path) {
    const bool separator = unit == u'\\' || unit == u'/';
    if (!separator) {
      key.push_back(unit);
    } else if (!key.empty() && key.back() != u'\\') {
      key.push_back(u'\\');
    }
  }
  if (!key.empty() && key.back() == u'\\') key.pop_back();
  return key;
}

std::u16string ParentKey(const std::u16string& key) {
  const auto at = key.rfind(u'\\');
  return at == std::u16string::npos ? std::u16string() : key.substr(0, at);
}

std::u16string NameOf(const std::u16string& key) {
  const auto at = key.rfind(u'\\');
  return at == std::u16string::npos ? key : key.substr(at + 1);
}

std::u16string Join(const std::u16string& folder_key, std::u16string_view name) {
  return folder_key.empty() ? std::u16string(name) : folder_key + u'\\' + std::u16string(name);
}

[[noreturn]] void Fail(std::string_view what, std::u16string_view path) {
  throw FileError(std::string(what) + ": " + Utf16ToUtf8(path));
}

void CheckPlainName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u".." ||
      name.find_first_of(u"\\/") != std::u16string_view::npos) {
    Fail("not the name of a file in a folder", name);
  }
}

bool IsStagingName(std::u16string_view name) {
  return name.starts_with(u".vendrake-") && name.ends_with(u".tmp");
}

}  // namespace vendrake::engine::memory
