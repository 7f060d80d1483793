#pragma once

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "engine/file_system.h"
#include "engine/win32/win32_file_system.h"
#include "engine/win32/win32_system_calls.h"
#include "tests/engine/win32/played_volume.h"
#include "tests/support/file_system_contract.h"
#include "tests/support/temporary_folder.h"

namespace vendrake::engine {

class Win32Harness : public testing::DiskHarness {
 public:
  FileSystem& Files() override { return files_; }
  std::u16string PutHiddenFile(std::u16string_view folder) override {
    PutFileWithAttributes(Path(folder) / L"hidden_H1", {1}, FILE_ATTRIBUTE_HIDDEN);
    return u"hidden_H1";
  }
  void MakeReadOnly(std::u16string_view path) override {
    SetAttributes(path, FILE_ATTRIBUTE_READONLY);
  }
  std::u16string PutAbandonedStaging(std::u16string_view folder) override {
    PutFileWithAttributes(Path(folder) / L".vendrake-4242.tmp", {1, 2}, FILE_ATTRIBUTE_HIDDEN);
    return u".vendrake-4242.tmp";
  }
  bool Link(std::u16string_view target, std::u16string_view name) override {
    return CreateHardLinkW(Path(name).c_str(), Path(target).c_str(), nullptr) != 0;
  }
  // Windows refuses while the suite holds the folder open, which is how an
  // open folder stays the folder it opened there.
  bool SwapFolder(std::u16string_view path, std::u16string_view moved_to) override {
    if (!MoveFileExW(Path(path).c_str(), Path(moved_to).c_str(), 0)) return false;
    std::filesystem::create_directory(Path(path));
    return true;
  }
  std::vector<std::u16string> OtherTextsFor(std::u16string_view path) override {
    std::filesystem::create_directory(Path(u"other"));
    const std::u16string text = Root() + std::u16string(path);
    std::u16string slashes = text;
    std::replace(slashes.begin(), slashes.end(), u'\\', u'/');
    std::u16string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char16_t unit) { return unit >= u'a' && unit <= u'z' ? unit - 32 : unit; });
    return {slashes, upper, Root() + u"other\\..\\" + std::u16string(path) + u"\\",
            u"\\\\?\\" + text + u"\\"};
  }

  static void PutFileWithAttributes(const std::filesystem::path& path, const testing::Bytes& bytes,
                                    DWORD attributes) {
    testing::WriteFile(path, bytes);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes)) << GetLastError();
  }
  void SetAttributes(std::u16string_view path, DWORD attributes) const {
    ASSERT_TRUE(SetFileAttributesW(Path(path).c_str(), attributes)) << GetLastError();
  }
  DWORD AttributesOf(std::u16string_view path) const {
    return GetFileAttributesW(Path(path).c_str());
  }

  Win32Harness() { Play({}); }
  ~Win32Harness() override { win32::Calls() = win32::SystemsOwnCalls(); }

 private:
  Win32FileSystem files_;
};

// What only Windows has: attributes, names in UTF-16, long paths, share modes
// and names that match regardless of case.
class Win32FileSystemTest : public ::testing::Test {
 protected:
  std::unique_ptr<Folder> Open(std::u16string_view path = u"") {
    return files_.OpenFolder(harness_.Root() + std::u16string(path));
  }
  // Whether Wine keeps `attributes` on a file here: it stores them in
  // extended attributes, which not every Linux file system takes.
  bool KeepsAttributes(DWORD attributes) {
    harness_.PutFile(u"probe", {0});
    harness_.SetAttributes(u"probe", attributes);
    const bool kept = (harness_.AttributesOf(u"probe") & attributes) == attributes;
    harness_.SetAttributes(u"probe", FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove(harness_.Path(u"probe"));
    return kept;
  }

  Win32Harness harness_;
  Win32FileSystem files_;
};

}  // namespace vendrake::engine
