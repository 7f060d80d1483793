#include "tests/support/temporary_folder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "engine/text_encoding.h"

namespace vendrake::testing {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder(const fs::path& base) {
  // A random name, taken only by a create_directory that made the folder, so
  // no two tests (nor anyone else) share one.
  std::random_device seed;
  std::mt19937_64 random((std::uint64_t{seed()} << 32) | seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = base / ("vendrake-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) {
      fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace);
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder in " + Utf8Text(base));
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  // Tests may leave read-only folders (POSIX) and read-only files (Windows,
  // which will not delete them) behind; make everything removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_symlink(ignored)) continue;
    const fs::perms wanted = it->is_directory(ignored)
                                 ? fs::perms::owner_all
                                 : fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(it->path(), wanted, fs::perm_options::add, ignored);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::u16string TemporaryFolder::FolderText() const { return testing::FolderText(path_); }

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) throw std::runtime_error("cannot write " + Utf8Text(path));
}

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + Utf8Text(path));
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(Utf8Text(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::u16string Utf16Text(const fs::path& path) {
#ifdef _WIN32
  // The native form is UTF-16 already, copied unit by unit so that even a lone
  // surrogate survives. (string() would go through the ANSI code page.)
  const std::wstring& native = path.native();
  return {native.begin(), native.end()};
#else
  return engine::Utf8ToUtf16(path.native());
#endif
}

fs::path PathOfText(std::u16string_view text) {
#ifdef _WIN32
  return std::wstring(text.begin(), text.end());
#else
  return engine::Utf16ToUtf8(text);
#endif
}

std::string Utf8Text(const fs::path& path) { return engine::Utf16ToUtf8(Utf16Text(path)); }

std::u16string FolderText(const fs::path& path) {
  std::u16string text = Utf16Text(path);
  std::replace(text.begin(), text.end(), u'/', u'\\');
  if (text.empty() || text.back() != u'\\') text.push_back(u'\\');
  return text;
}

}  // namespace vendrake::testing
