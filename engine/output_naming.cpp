#include "engine/output_naming.h"

#include "engine/errors.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

bool StartsWithDrive(std::u16string_view folder) {
  return folder.size() >= 2 && folder[1] == u':' &&
         ((folder[0] >= u'A' && folder[0] <= u'Z') || (folder[0] >= u'a' && folder[0] <= u'z'));
}

}  // namespace

std::u16string DeriveDestBaseName(std::u16string_view destination) {
  // The folder text without its final "\".
  std::u16string_view folder =
      destination.substr(0, destination.empty() ? 0 : destination.size() - 1);
#ifdef _WIN32
  // Windows drops the dots and spaces at the end of a path's components, so
  // "Dest. " makes the folder Dest, whose name the outputs take; a \\?\ path
  // goes to the system as it is.
  if (!folder.starts_with(u"\\\\?\\")) {
    const auto kept = folder.find_last_not_of(u". ");
    if (kept != std::u16string_view::npos && folder[kept] != u'\\' && folder[kept] != u':') {
      folder.remove_suffix(folder.size() - kept - 1);
    }
  }
#endif
  const auto separator = folder.rfind(u'\\');
  if (separator != std::u16string_view::npos) return std::u16string(folder.substr(separator));
  // D:Rel_2x is the folder Rel_2x in drive D:'s current folder; the drive is
  // no part of its name, and ':' is in no valid Windows file name.
  if (StartsWithDrive(folder)) folder.remove_prefix(2);
  if (folder.empty()) return {};
  // Appended rather than u"\\" + ..., which GCC 12 wrongly warns of (-Wrestrict).
  std::u16string base(1, u'\\');
  return base.append(folder);
}

std::u16string SuffixOf(std::u16string_view entry) {
  const auto underscore = entry.find(u'_');
  if (underscore == std::u16string_view::npos) {
    throw InvalidArgumentError("the output suffix starts at the first \"_\", and " +
                               Utf16ToUtf8(entry) + " has none");
  }
  return std::u16string(entry.substr(underscore));
}

std::u16string OutputName(std::u16string_view dest_base_name, std::u16string_view suffix) {
  if (!dest_base_name.empty() && dest_base_name.front() == u'\\') dest_base_name.remove_prefix(1);
  return std::u16string(dest_base_name) + std::u16string(suffix);
}

}  // namespace vendrake::engine
