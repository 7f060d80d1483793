#include "engine/memory_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "engine/errors.h"

namespace vendrake::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;

TEST(MemoryFileSystem, PathsReadBothSeparatorsAndRunsOfThemAsOne) {
  MemoryFileSystem files;
  files.AddFile(u"C:/Work//Sub\\\\\\File_A1", {1, 2});

  EXPECT_THAT(files.FilePaths(), ElementsAre(u"C:\\Work\\Sub\\File_A1"));
  EXPECT_EQ(files.FileBytes(u"C:\\\\Work/Sub/File_A1"), (Bytes{1, 2}));
  EXPECT_TRUE(files.FolderExists(u"C:\\Work\\Sub\\"));
  EXPECT_TRUE(files.IsSameFolder(u"C:\\Work\\", u"C://Work"));
  EXPECT_FALSE(files.IsSameFolder(u"C:\\Work\\", u"C:\\Work\\Sub\\"));
  EXPECT_FALSE(files.IsSameFolder(u"C:\\Missing\\", u"C:\\Missing\\"));
  EXPECT_FALSE(files.IsSameFolder(u"C:\\Work\\Sub\\File_A1", u"C:\\Work\\Sub\\File_A1"));
}

TEST(MemoryFileSystem, ListingSeesOnlyFilesAddedAfterItsPosition) {
  MemoryFileSystem files;
  files.AddFile(u"F\\B_1", {});
  files.AddFile(u"F\\D_1", {});
  const auto listing = files.ListNormalFiles(u"F\\");
  ASSERT_EQ(listing->Next(), u"B_1");

  files.AddFile(u"F\\A_1", {});
  files.AddFile(u"F\\C_1", {});
  files.AddFile(u"F\\E_1", {});

  EXPECT_EQ(listing->Next(), u"C_1");
  EXPECT_EQ(listing->Next(), u"D_1");
  EXPECT_EQ(listing->Next(), u"E_1");
  EXPECT_EQ(listing->Next(), u"");
}

TEST(MemoryFileSystem, StagedFileIsHiddenAndGoesWithoutCommit) {
  MemoryFileSystem files;
  files.AddFile(u"C:\\Out\\X_A1", {1, 2});
  {
    const auto output = files.OpenForReplacing(u"C:\\Out\\X_A1");
    output->Write(Bytes{3, 4, 5});
    EXPECT_THAT(files.FilePaths(), ElementsAre(u"C:\\Out\\.vendrake-0.tmp", u"C:\\Out\\X_A1"));
    EXPECT_EQ(files.FileBytes(u"C:\\Out\\.vendrake-0.tmp"), (Bytes{3, 4, 5}));
    const auto listing = files.ListNormalFiles(u"C:\\Out\\");
    EXPECT_EQ(listing->Next(), u"X_A1");
    EXPECT_EQ(listing->Next(), u"");
  }
  EXPECT_THAT(files.FilePaths(), ElementsAre(u"C:\\Out\\X_A1"));
  EXPECT_EQ(files.FileBytes(u"C:\\Out\\X_A1"), (Bytes{1, 2}));
}

TEST(MemoryFileSystem, CommitOntoAFolderFailsAndLeavesIt) {
  MemoryFileSystem files;
  files.AddFolder(u"C:\\Out\\X_A1");
  auto output = files.OpenForReplacing(u"C:\\Out\\X_A1");
  output->Write(Bytes{1});

  EXPECT_THROW(output->Commit(), FileError);
  output.reset();

  EXPECT_TRUE(files.FolderExists(u"C:\\Out\\X_A1"));
  EXPECT_TRUE(files.FilePaths().empty());
}

}  // namespace
}  // namespace vendrake::engine
