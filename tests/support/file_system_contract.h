#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "engine/file_system.h"
#include "tests/support/temporary_folder.h"

namespace vendrake::testing {

using Bytes = std::vector<std::uint8_t>;

// How the contract suite reaches the world behind one FileSystem
// implementation: it sets up files the way a user or another program would,
// and looks at them without going through the implementation under test.
// Paths are relative to Root(), with "\" between components.
class FileSystemHarness {
 public:
  virtual ~FileSystemHarness() = default;

  virtual engine::FileSystem& Files() = 0;
  // A fresh, empty folder's text, ending in "\".
  virtual std::u16string Root() = 0;

  virtual void PutFile(std::u16string_view path, const Bytes& bytes) = 0;
  virtual void PutFolder(std::u16string_view path) = 0;
  // The file's bytes, or nothing if there is no file there.
  virtual std::optional<Bytes> FileBytes(std::u16string_view path) = 0;
  // Every name in the folder, hidden ones included, sorted.
  virtual std::vector<std::u16string> AllNames(std::u16string_view folder) = 0;

  // Puts a file that the platform hides into `folder`; returns its name.
  virtual std::u16string PutHiddenFile(std::u16string_view folder) = 0;
  // Makes the file read-only, as its owner would.
  virtual void MakeReadOnly(std::u16string_view path) = 0;
  // Puts into `folder` a staging file as a killed run left it; returns its
  // name.
  virtual std::u16string PutAbandonedStaging(std::u16string_view folder) = 0;

  // What the platform may lack; each returns false where it does.
  // Gives the file `target` a second name, `name`, in the same folder.
  virtual bool Link(std::u16string_view target, std::u16string_view name) = 0;
  // Moves the folder `path` to `moved_to` and puts a new, empty folder in
  // its place.
  virtual bool SwapFolder(std::u16string_view path, std::u16string_view moved_to) = 0;

  // Other texts that name the folder `path`: other separators, a link...
  virtual std::vector<std::u16string> OtherTextsFor(std::u16string_view path) = 0;
};

// The names the folder's listing yields, sorted.
inline std::vector<std::u16string> ListedNames(engine::Folder& folder) {
  std::vector<std::u16string> names;
  const auto listing = folder.ListNormalFiles();
  for (std::u16string name = listing->Next(); !name.empty(); name = listing->Next()) {
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Stages `bytes` as the new contents of `name` and commits them.
inline engine::FileIdentity Replace(
    engine::Folder& folder, std::u16string_view name, const Bytes& bytes,
    engine::Permissions source_permissions = engine::kDefaultPermissions) {
  const auto output = folder.OpenForReplacing(name, source_permissions);
  output->Write(bytes);
  return output->Commit();
}

// What a harness over a real disk does alike on every platform: a fresh
// temporary folder, and files put there and looked at with std::filesystem.
class DiskHarness : public FileSystemHarness {
 public:
  std::u16string Root() override { return folder_.FolderText(); }
  void PutFile(std::u16string_view path, const Bytes& bytes) override {
    WriteFile(Path(path), bytes);
  }
  void PutFolder(std::u16string_view path) override {
    std::filesystem::create_directory(Path(path));
  }
  std::optional<Bytes> FileBytes(std::u16string_view path) override {
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(Path(path)))) {
      return std::nullopt;
    }
    return ReadFile(Path(path));
  }
  std::vector<std::u16string> AllNames(std::u16string_view folder) override {
    std::vector<std::u16string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Path(folder))) {
      names.push_back(Utf16Text(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // The path of `relative` inside the folder.
  std::filesystem::path Path(std::u16string_view relative) const {
    std::u16string text(relative);
    std::replace(text.begin(), text.end(), u'\\', u'/');
    return folder_.Path() / PathOfText(text);
  }

 private:
  TemporaryFolder folder_;
};

struct HarnessMaker {
  const char* name;
  std::function<std::unique_ptr<FileSystemHarness>()> make;
};

inline void PrintTo(const HarnessMaker& maker, std::ostream* out) { *out << maker.name; }

// The promises of engine/file_system.h, run against each implementation by
// instantiating this suite with a maker of its harness.
class FileSystemContract : public ::testing::TestWithParam<HarnessMaker> {
 protected:
  FileSystemContract() : harness_(GetParam().make()) {}

  engine::FileSystem& Files() { return harness_->Files(); }
  std::u16string Text(std::u16string_view path) { return harness_->Root() + std::u16string(path); }
  std::unique_ptr<engine::Folder> Open(std::u16string_view path = u"") {
    return Files().OpenFolder(Text(path));
  }

  std::unique_ptr<FileSystemHarness> harness_;
};

// Names the instantiations after their harnesses.
inline std::string HarnessName(const ::testing::TestParamInfo<HarnessMaker>& info) {
  return info.param.name;
}

}  // namespace vendrake::testing
