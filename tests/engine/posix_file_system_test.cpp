#include "engine/posix_file_system.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/text_encoding.h"
#include "tests/support/temporary_folder.h"

namespace vendrake::engine {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::NamesIn;
using testing::ReadFile;
using testing::WriteFile;

class PosixFileSystemTest : public ::testing::Test {
 protected:
  // The text of `name` inside the temporary folder.
  std::u16string Text(const std::string& name) const {
    return folder_.FolderText() + Utf8ToUtf16(name);
  }
  fs::path Path(const std::string& name) const { return folder_.Path() / name; }

  std::vector<std::string> List(const std::u16string& folder) {
    std::vector<std::string> names;
    const auto listing = files_.ListNormalFiles(folder);
    for (std::u16string name = listing->Next(); !name.empty(); name = listing->Next()) {
      names.push_back(Utf16ToUtf8(name));
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  void Replace(const std::u16string& path, const Bytes& bytes) {
    const auto output = files_.OpenForReplacing(path);
    output->Write(bytes);
    output->Commit();
  }

  void MakeFifo(const std::string& name) { ASSERT_EQ(::mkfifo(Path(name).c_str(), 0600), 0); }

  void MakeSocket(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = Path(name).string();
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
  }

  testing::TemporaryFolder folder_;
  PosixFileSystem files_;
};

TEST_F(PosixFileSystemTest, ListsOnlyRegularFilesAndLinksToThem) {
  WriteFile(Path("plain_A1"), {1});
  WriteFile(Path(".hidden_A2"), {2});
  fs::create_directory(Path("folder_A3"));
  MakeFifo("fifo_A4");
  MakeSocket("socket_A5");
  fs::create_symlink(Path("missing"), Path("dangling_A6"));
  fs::create_directory_symlink(Path("folder_A3"), Path("folderlink_A7"));
  fs::create_symlink(Path("plain_A1"), Path("filelink_A8"));

  EXPECT_THAT(List(folder_.FolderText()), ElementsAre("filelink_A8", "plain_A1"));
}

TEST_F(PosixFileSystemTest, RefusesToOpenWhatIsNotARegularFile) {
  fs::create_directory(Path("folder"));
  MakeFifo("fifo");
  MakeSocket("socket");
  fs::create_symlink(Path("missing"), Path("dangling"));

  for (const char* name : {"folder", "fifo", "socket", "dangling", "missing"}) {
    SCOPED_TRACE(name);
    // A FIFO without a writer would block a plain open; if it does, a writer
    // frees it and the test fails instead of hanging.
    auto opening = std::async(std::launch::async, [&] { (void)files_.OpenForReading(Text(name)); });
    if (opening.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      ::close(::open(Path(name).c_str(), O_WRONLY | O_NONBLOCK));
      ADD_FAILURE() << "opening blocked";
    }
    EXPECT_THROW(opening.get(), FileError);
  }
  EXPECT_THROW((void)files_.OpenForReading(u"\\dev\\null"), FileError);
}

TEST_F(PosixFileSystemTest, CreatesOneFolderLevelOnly) {
  files_.CreateFolder(Text("new\\"));
  EXPECT_TRUE(fs::is_directory(Path("new")));
  EXPECT_THROW(files_.CreateFolder(Text("new\\")), FileError);
  EXPECT_THROW(files_.CreateFolder(Text("absent\\child\\")), FileError);
  EXPECT_FALSE(fs::exists(Path("absent")));
}

// Output staging both ways: unnamed where the file system allows it, and
// under a hidden name as where it does not.
class PosixStagingTest : public PosixFileSystemTest,
                         public ::testing::WithParamInterface<PosixFileSystem::Staging> {
 protected:
  PosixStagingTest() { files_ = PosixFileSystem(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Staging, PosixStagingTest,
                         ::testing::Values(PosixFileSystem::Staging::kUnnamedWherePossible,
                                           PosixFileSystem::Staging::kNamedOnly));

TEST_P(PosixStagingTest, CommitCreatesAMissingOutput) {
  Replace(Text("new_A1"), {1, 2, 3});

  EXPECT_EQ(ReadFile(Path("new_A1")), (Bytes{1, 2, 3}));
  EXPECT_THAT(NamesIn(folder_.Path()), ElementsAre("new_A1"));
}

TEST_P(PosixStagingTest, CommitReplacesTheFileAndKeepsItsPermissions) {
  WriteFile(Path("out_A1"), Bytes(100, 7));
  constexpr auto kUnusual = fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read;
  fs::permissions(Path("out_A1"), kUnusual);

  Replace(Text("out_A1"), {1, 2, 3});

  EXPECT_EQ(ReadFile(Path("out_A1")), (Bytes{1, 2, 3}));
  EXPECT_EQ(fs::status(Path("out_A1")).permissions(), kUnusual);
  EXPECT_THAT(NamesIn(folder_.Path()), ElementsAre("out_A1"));
}

TEST_P(PosixStagingTest, CommitReplacesALinkWithoutTouchingItsTarget) {
  WriteFile(Path("target"), {9, 9});
  fs::create_symlink(Path("target"), Path("out_A1"));

  Replace(Text("out_A1"), {1, 2, 3});

  EXPECT_FALSE(fs::is_symlink(Path("out_A1")));
  EXPECT_EQ(ReadFile(Path("out_A1")), (Bytes{1, 2, 3}));
  EXPECT_EQ(ReadFile(Path("target")), (Bytes{9, 9}));
}

TEST_P(PosixStagingTest, UncommittedOutputLeavesOnlyTheOldFile) {
  WriteFile(Path("out_A1"), {5, 6});
  {
    const auto output = files_.OpenForReplacing(Text("out_A1"));
    output->Write(Bytes{1, 2, 3});
    // Staged unnamed, or under a hidden name that no listing yields.
    for (const std::string& name : NamesIn(folder_.Path())) {
      EXPECT_TRUE(name == "out_A1" || name.starts_with(".vendrake-")) << name;
    }
    EXPECT_THAT(List(folder_.FolderText()), ElementsAre("out_A1"));
  }
  EXPECT_THAT(NamesIn(folder_.Path()), ElementsAre("out_A1"));
  EXPECT_EQ(ReadFile(Path("out_A1")), (Bytes{5, 6}));
}

TEST_P(PosixStagingTest, FailedCommitOntoAFolderRemovesTheStagedFile) {
  fs::create_directories(Path("out_A1/inside"));
  auto output = files_.OpenForReplacing(Text("out_A1"));
  output->Write(Bytes{1, 2, 3});

  EXPECT_THROW(output->Commit(), FileError);
  output.reset();

  EXPECT_THAT(NamesIn(folder_.Path()), ElementsAre("out_A1"));
  EXPECT_TRUE(fs::is_directory(Path("out_A1/inside")));
}

TEST_F(PosixFileSystemTest, CannotStageInAReadOnlyFolder) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  fs::create_directory(Path("locked"));
  WriteFile(Path("locked/out_A1"), {5});
  fs::permissions(Path("locked"), fs::perms::owner_read | fs::perms::owner_exec);

  EXPECT_THROW((void)files_.OpenForReplacing(Text("locked\\out_A1")), FileError);
  EXPECT_EQ(ReadFile(Path("locked/out_A1")), (Bytes{5}));
}

TEST_F(PosixFileSystemTest, SameFolderIsRecognisedThroughAnyOfItsTexts) {
  fs::create_directory(Path("a"));
  fs::create_directory(Path("b"));
  WriteFile(Path("file"), {1});
  fs::create_directory_symlink(Path("a"), Path("link"));
  const std::u16string a = Text("a\\");

  EXPECT_TRUE(files_.IsSameFolder(a, a));
  EXPECT_TRUE(files_.IsSameFolder(a, Text("a\\\\\\")));
  EXPECT_TRUE(files_.IsSameFolder(a, u"C:" + a));
  EXPECT_TRUE(files_.IsSameFolder(a, Text("link\\")));
  EXPECT_TRUE(files_.IsSameFolder(a, Text("b\\..\\a\\")));
  EXPECT_FALSE(files_.IsSameFolder(a, Text("b\\")));
  EXPECT_FALSE(files_.IsSameFolder(Text("missing\\"), Text("missing\\")));
  EXPECT_FALSE(files_.IsSameFolder(Text("file"), Text("file")));
}

TEST_F(PosixFileSystemTest, NamesThatAreNotUtf8SurviveTheRoundTrip) {
  const std::string name = "model_\xFF\xC3";
  WriteFile(Path(name), {1, 2, 3, 4});

  const auto listing = files_.ListNormalFiles(folder_.FolderText());
  const std::u16string listed = listing->Next();
  EXPECT_EQ(listed, u"model_\xDCFF\xDCC3");

  const auto input = files_.OpenForReading(folder_.FolderText() + listed);
  Bytes bytes(input->Length());
  input->Read(bytes);
  EXPECT_EQ(bytes, (Bytes{1, 2, 3, 4}));

  Replace(folder_.FolderText() + u"copy" + listed.substr(5), bytes);
  EXPECT_EQ(ReadFile(Path("copy_\xFF\xC3")), bytes);
}

}  // namespace
}  // namespace vendrake::engine
