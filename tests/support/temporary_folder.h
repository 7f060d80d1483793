#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vendrake::testing {

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TemporaryFolder {
 public:
  TemporaryFolder() : TemporaryFolder(std::filesystem::temp_directory_path()) {}
  // The same under the folder `base`.
  explicit TemporaryFolder(const std::filesystem::path& base);
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder();

  const std::filesystem::path& Path() const { return path_; }
  // The folder's path as a Windows-syntax folder text ending in "\".
  std::u16string FolderText() const;

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);

// Every name in `folder`, hidden ones included, sorted, as Utf8Text gives them.
std::vector<std::string> NamesIn(const std::filesystem::path& folder);

// The path's text in the system's UTF-16, whatever the platform's own form:
// POSIX file name bytes as text_encoding.h maps them, Windows names as they are.
std::u16string Utf16Text(const std::filesystem::path& path);
// The path whose text in the system's UTF-16 is `text`: the inverse of
// Utf16Text.
std::filesystem::path PathOfText(std::u16string_view text);
// The same text in UTF-8, as program arguments and printed lines carry it (on
// POSIX, the file name bytes unchanged).
std::string Utf8Text(const std::filesystem::path& path);

// Windows-syntax folder text ("\" separators, final "\") for a path.
std::u16string FolderText(const std::filesystem::path& path);

}  // namespace vendrake::testing
