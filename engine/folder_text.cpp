#include "engine/folder_text.h"

namespace vendrake::engine {
namespace {

bool IsSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

bool IsDrive(std::u16string_view component) {
  return component.size() == 2 && component[1] == u':' &&
         ((component[0] >= u'A' && component[0] <= u'Z') ||
          (component[0] >= u'a' && component[0] <= u'z'));
}

// Whether what is left of a text is a root: separators alone, or a drive
// and separators.
bool IsRoot(std::u16string_view kept) {
  if (kept.size() >= 2 && IsDrive(kept.substr(0, 2))) kept.remove_prefix(2);
  return !kept.empty() && kept.find_first_not_of(u"\\/") == std::u16string_view::npos;
}

}  // namespace

std::u16string ResolveTrailingDots(std::u16string_view folder) {
  std::size_t kept = folder.size();  // folder[0, kept) stays
  std::size_t ups = 0;               // ".." still to apply
  for (;;) {
    std::size_t end = kept;
    while (end > 0 && IsSeparator(folder[end - 1])) --end;
    std::size_t begin = end;
    while (begin > 0 && !IsSeparator(folder[begin - 1])) --begin;
    const std::u16string_view component = folder.substr(begin, end - begin);
    if (component.empty() || (begin == 0 && IsDrive(component))) break;
    if (component == u".") {
      kept = begin;
    } else if (component == u"..") {
      ++ups;
      kept = begin;
    } else if (ups > 0) {
      --ups;
      kept = begin;
    } else {
      break;
    }
  }
  if (kept == folder.size()) return std::u16string(folder);

  std::u16string resolved(folder.substr(0, kept));
  // Above a root there is only the root; above a relative text, its parent.
  if (!IsRoot(resolved)) {
    for (; ups > 0; --ups) resolved += u"..\\";
  }
  if (resolved.empty()) resolved = u".\\";
  return resolved;
}

}  // namespace vendrake::engine
