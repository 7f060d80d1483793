#include "engine/memory/memory_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "engine/errors.h"
#include "tests/support/file_system_contract.h"

namespace vendrake::engine {
namespace {

using testing::Bytes;
using ::testing::ElementsAre;
using testing::FileSystemContract;

// The memory file system's own view of the folder the suite works in.
class MemoryHarness : public testing::FileSystemHarness {
 public:
  MemoryHarness() { files_.AddFolder(kRoot); }

  FileSystem& Files() override { return files_; }
  std::u16string Root() override { return kRoot; }
  void PutFile(std::u16string_view path, const Bytes& bytes) override {
    files_.AddFile(Root() + std::u16string(path), bytes);
  }
  void PutFolder(std::u16string_view path) override {
    files_.AddFolder(Root() + std::u16string(path));
  }
  std::optional<Bytes> FileBytes(std::u16string_view path) override {
    return files_.FileBytes(Root() + std::u16string(path));
  }
  std::vector<std::u16string> AllNames(std::u16string_view folder) override {
    return files_.NamesIn(Root() + std::u16string(folder));
  }
  std::u16string PutHiddenFile(std::u16string_view folder) override {
    files_.AddFile(Root() + std::u16string(folder) + u"\\Hidden_H1", {1}, {.hidden = true});
    return u"Hidden_H1";
  }
  void MakeReadOnly(std::u16string_view path) override {
    const std::u16string full = Root() + std::u16string(path);
    files_.AddFile(full, *files_.FileBytes(full), {.read_only = true});
  }
  std::u16string PutAbandonedStaging(std::u16string_view folder) override {
    files_.AddFile(Root() + std::u16string(folder) + u"\\.vendrake-99.tmp", {1}, {.hidden = true});
    return u".vendrake-99.tmp";
  }
  bool Link(std::u16string_view /*target*/, std::u16string_view /*name*/) override { return false; }
  bool SwapFolder(std::u16string_view /*path*/, std::u16string_view /*moved_to*/) override {
    return false;
  }
  std::vector<std::u16string> OtherTextsFor(std::u16string_view path) override {
    return {u"C:/Root//" + std::u16string(path), u"C:\\\\Root\\" + std::u16string(path)};
  }

 private:
  static constexpr char16_t kRoot[] = u"C:\\Root\\";
  MemoryFileSystem files_;
};

INSTANTIATE_TEST_SUITE_P(Memory, FileSystemContract,
                         ::testing::Values(testing::HarnessMaker{
                             "Memory", [] { return std::make_unique<MemoryHarness>(); }}),
                         testing::HarnessName);

TEST(MemoryFileSystem, PathsReadBothSeparatorsAndRunsOfThemAsOne) {
  MemoryFileSystem files;
  files.AddFile(u"C:/Work//Sub\\\\\\File_A1", {1, 2});

  EXPECT_THAT(files.FilePaths(), ElementsAre(u"C:\\Work\\Sub\\File_A1"));
  EXPECT_EQ(files.FileBytes(u"C:\\\\Work/Sub/File_A1"), (Bytes{1, 2}));
  EXPECT_TRUE(files.FolderExists(u"C:\\Work\\Sub\\"));
}

TEST(MemoryFileSystem, ListingSeesOnlyFilesAddedAfterItsPosition) {
  MemoryFileSystem files;
  files.AddFile(u"F\\B_1", {});
  files.AddFile(u"F\\D_1", {});
  const auto listing = files.OpenFolder(u"F\\")->ListNormalFiles();
  ASSERT_EQ(listing->Next(), u"B_1");

  files.AddFile(u"F\\A_1", {});
  files.AddFile(u"F\\C_1", {});
  files.AddFile(u"F\\E_1", {});

  EXPECT_EQ(listing->Next(), u"C_1");
  EXPECT_EQ(listing->Next(), u"D_1");
  EXPECT_EQ(listing->Next(), u"E_1");
  EXPECT_EQ(listing->Next(), u"");
}

TEST(MemoryFileSystem, AReplacedFileKeepsItsAttributes) {
  MemoryFileSystem files;
  files.AddFile(u"C:\\Out\\X_A1", {1, 2}, {.hidden = true, .system = true});
  const auto output = files.OpenFolder(u"C:\\Out\\")->OpenForReplacing(u"X_A1", 0644);
  output->Write(Bytes{3});
  output->Commit();

  EXPECT_EQ(files.FileBytes(u"C:\\Out\\X_A1"), (Bytes{3}));
  const auto attributes = files.AttributesOf(u"C:\\Out\\X_A1");
  ASSERT_TRUE(attributes.has_value());
  EXPECT_TRUE(attributes->hidden && attributes->system && !attributes->read_only);
}

}  // namespace
}  // namespace vendrake::engine
