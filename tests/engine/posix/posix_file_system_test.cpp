#include "engine/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
#include "tests/support/file_system_contract.h"
#include "tests/support/temporary_folder.h"

namespace vendrake::engine {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using ::testing::ElementsAre;
using testing::FileSystemContract;
using testing::ReadFile;
using ::testing::UnorderedElementsAre;
using testing::WriteFile;

class PosixHarness : public testing::DiskHarness {
 public:
  explicit PosixHarness(PosixFileSystem::Staging staging) : files_(staging) {}

  FileSystem& Files() override { return files_; }
  std::u16string PutHiddenFile(std::u16string_view folder) override {
    WriteFile(Path(folder) / ".hidden_H1", {1});
    return u".hidden_H1";
  }
  void MakeReadOnly(std::u16string_view path) override {
    fs::permissions(Path(path),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  std::u16string PutAbandonedStaging(std::u16string_view folder) override {
    WriteFile(Path(folder) / ".vendrake-4242.tmp", {1, 2});
    return u".vendrake-4242.tmp";
  }
  bool Link(std::u16string_view target, std::u16string_view name) override {
    fs::create_symlink(Path(target), Path(name));
    return true;
  }
  bool SwapFolder(std::u16string_view path, std::u16string_view moved_to) override {
    fs::rename(Path(path), Path(moved_to));
    fs::create_directory(Path(path));
    return true;
  }
  std::vector<std::u16string> OtherTextsFor(std::u16string_view path) override {
    fs::create_directory_symlink(Path(path), Path(u"link"));
    fs::create_directory(Path(u"other"));
    return {u"C:" + Root() + std::u16string(path), Root() + u"link\\",
            Root() + u"other\\..\\" + std::u16string(path) + u"\\"};
  }

 private:
  PosixFileSystem files_;
};

INSTANTIATE_TEST_SUITE_P(
    Posix, FileSystemContract,
    ::testing::Values(testing::HarnessMaker{"UnnamedStaging",
                                            [] {
                                              return std::make_unique<PosixHarness>(
                                                  PosixFileSystem::Staging::kUnnamedWherePossible);
                                            }},
                      // As on systems without O_TMPFILE.
                      testing::HarnessMaker{"NamedStaging",
                                            [] {
                                              return std::make_unique<PosixHarness>(
                                                  PosixFileSystem::Staging::kNamedOnly);
                                            }}),
    testing::HarnessName);

// What only a POSIX host has: FIFOs, sockets, dangling links, permission
// bits, the umask, and file names that are not text.
class PosixFileSystemTest : public ::testing::TestWithParam<PosixFileSystem::Staging> {
 protected:
  fs::path Path(const std::string& name) const { return harness_.Path(Utf8ToUtf16(name)); }
  std::unique_ptr<Folder> Open() { return files_.OpenFolder(harness_.Root()); }

  void Replace(const std::string& name, const Bytes& bytes, Permissions source_permissions) {
    testing::Replace(*Open(), Utf8ToUtf16(name), bytes, source_permissions);
  }

  fs::perms PermissionsOf(const std::string& name) const {
    return fs::symlink_status(Path(name)).permissions();
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

  PosixHarness harness_{GetParam()};
  PosixFileSystem files_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Staging, PosixFileSystemTest,
                         ::testing::Values(PosixFileSystem::Staging::kUnnamedWherePossible,
                                           PosixFileSystem::Staging::kNamedOnly),
                         [](const auto& staging) {
                           return staging.param == PosixFileSystem::Staging::kNamedOnly
                                      ? "NamedStaging"
                                      : "UnnamedStaging";
                         });

TEST_P(PosixFileSystemTest, ListsAndOpensOnlyRegularFilesAndLinksToThem) {
  WriteFile(Path("plain_A1"), {1});
  fs::create_directory(Path("folder_A3"));
  MakeFifo("fifo_A4");
  MakeSocket("socket_A5");
  fs::create_symlink(Path("missing"), Path("dangling_A6"));
  fs::create_directory_symlink(Path("folder_A3"), Path("folderlink_A7"));
  fs::create_symlink(Path("plain_A1"), Path("filelink_A8"));
  fs::create_symlink(Path("looplink_A9"), Path("looplink_A9"));
  const auto folder = Open();

  // Every link is listed: what it leads to is told on opening it, as a run
  // may replace that meanwhile, and one that leads nowhere is passed over
  // with the reason, one that leads to no normal file silently.
  EXPECT_THAT(testing::ListedNames(*folder),
              UnorderedElementsAre(u"dangling_A6", u"filelink_A8", u"folderlink_A7", u"looplink_A9",
                                   u"plain_A1"));
  for (const auto& [name, problem] :
       {std::pair{u"dangling_A6", FileProblem::kLeadsNowhere},
        std::pair{u"folderlink_A7", FileProblem::kLeadsToNoNormalFile},
        std::pair{u"looplink_A9", FileProblem::kLeadsToNoNormalFile},
        std::pair{u"folder_A3", FileProblem::kOther}}) {
    try {
      folder->OpenForReading(name);
      ADD_FAILURE() << Utf16ToUtf8(name) << " was opened";
    } catch (const FileError& error) {
      EXPECT_EQ(error.Problem(), problem) << Utf16ToUtf8(name);
    }
  }

  for (const char* name : {"folder_A3", "fifo_A4", "socket_A5", "dangling_A6", "folderlink_A7"}) {
    SCOPED_TRACE(name);
    // A FIFO without a writer would block a plain open; if it does, a writer
    // frees it and the test fails instead of hanging.
    auto opening =
        std::async(std::launch::async, [&] { (void)folder->OpenForReading(Utf8ToUtf16(name)); });
    if (opening.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      ::close(::open(Path(name).c_str(), O_WRONLY | O_NONBLOCK));
      ADD_FAILURE() << "opening blocked";
    }
    EXPECT_THROW(opening.get(), FileError);
  }
}

TEST_P(PosixFileSystemTest,
       OutputsKeepTheirOwnerAndOnlyPermissionBitsAndNeverGetMoreThanTheSource) {
  constexpr auto kOwnerReadWrite = fs::perms::owner_read | fs::perms::owner_write;
  // Replaced: the old file's owner, group and bits stay, all bits but
  // set-user-ID, set-group-ID and sticky. Root can replace another user's
  // file, which must stay theirs.
  constexpr uid_t kOtherUser = 1001;
  const bool root = ::geteuid() == 0;
  WriteFile(Path("kept_A1"), {7});
  fs::permissions(Path("kept_A1"), kOwnerReadWrite | fs::perms::others_read);
  WriteFile(Path("setuid_A1"), {7});
  if (root) {
    ASSERT_EQ(::chown(Path("kept_A1").c_str(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(::chown(Path("setuid_A1").c_str(), kOtherUser, kOtherUser), 0);
  }
  ASSERT_EQ(::chmod(Path("setuid_A1").c_str(), 07755), 0);
  Replace("kept_A1", {1}, 0600);
  Replace("setuid_A1", {1}, 0600);
  EXPECT_EQ(PermissionsOf("kept_A1"), kOwnerReadWrite | fs::perms::others_read);
  EXPECT_EQ(PermissionsOf("setuid_A1"), fs::perms::owner_all | fs::perms::group_read |
                                            fs::perms::group_exec | fs::perms::others_read |
                                            fs::perms::others_exec);
  for (const char* name : {"kept_A1", "setuid_A1"}) {
    struct stat status {};
    ASSERT_EQ(::stat(Path(name).c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, root ? kOtherUser : ::geteuid()) << name;
    EXPECT_EQ(status.st_gid, root ? kOtherUser : ::getegid()) << name;
  }

  // New: the source's bits and owner write, less the umask.
  const mode_t umask = ::umask(022);
  Replace("private_A1", {1}, 0600);
  Replace("readonly_A1", {1}, 0444);
  Replace("open_A1", {1}, 0777);
  ::umask(umask);
  EXPECT_EQ(PermissionsOf("private_A1"), kOwnerReadWrite);
  EXPECT_EQ(PermissionsOf("readonly_A1"),
            kOwnerReadWrite | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(PermissionsOf("open_A1"), fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
}

TEST_P(PosixFileSystemTest, ReplacesALinkWithoutTouchingItsTarget) {
  WriteFile(Path("target"), {9, 9});
  fs::create_symlink(Path("target"), Path("out_A1"));

  Replace("out_A1", {1, 2, 3}, 0644);

  EXPECT_FALSE(fs::is_symlink(Path("out_A1")));
  EXPECT_EQ(ReadFile(Path("out_A1")), (Bytes{1, 2, 3}));
  EXPECT_EQ(ReadFile(Path("target")), (Bytes{9, 9}));
}

// The names of the files in the folder that `watch` saw opened.
std::vector<std::string> OpenedNames(int watch) {
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[4096];
  for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0) names.emplace_back(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return names;
}

TEST_P(PosixFileSystemTest, KeepsAStagingFileInUseAndFilesOfOtherNames) {
  const fs::path staging = Path(".vendrake-2.tmp");
  WriteFile(staging, {2});
  WriteFile(Path(".vendrake-notes.tmp"), {3});
  fs::create_symlink(staging, Path(".vendrake-3.tmp"));
  // Opening these acts on them (a FIFO's writer wakes, a terminal or a
  // watchdog reacts), so they must not even be opened.
  MakeFifo(".vendrake-4.tmp");
  std::vector<std::string> kept = {".vendrake-3.tmp", ".vendrake-4.tmp"};
  if (::mknod(Path(".vendrake-5.tmp").c_str(), S_IFCHR | 0600, ::makedev(1, 3)) == 0) {
    kept.push_back(".vendrake-5.tmp");  // /dev/null's numbers; needs root
  }
  kept.push_back(".vendrake-notes.tmp");
  // A lock held through a descriptor of its own, as another process would.
  const int fd = ::open(staging.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, harness_.Path(u"").c_str(), IN_OPEN), 0);

  EXPECT_EQ(Open()->RemoveAbandonedStaging(), 0U);
  ::close(fd);
  EXPECT_EQ(Open()->RemoveAbandonedStaging(), 1U);

  EXPECT_THAT(testing::NamesIn(harness_.Path(u"")), ::testing::ElementsAreArray(kept));
  const std::vector<std::string> opened = OpenedNames(watch);
  ::close(watch);
  EXPECT_THAT(opened, ::testing::Contains(".vendrake-2.tmp"));
  EXPECT_THAT(opened, ::testing::Not(::testing::Contains(::testing::AnyOf(
                          ".vendrake-3.tmp", ".vendrake-4.tmp", ".vendrake-5.tmp"))));
}

TEST_P(PosixFileSystemTest, NamesThatAreNotUtf8SurviveTheRoundTrip) {
  WriteFile(Path("model_\xFF\xC3"), {1, 2, 3, 4});
  const auto folder = Open();

  const std::u16string listed = folder->ListNormalFiles()->Next();
  EXPECT_EQ(listed, u"model_\xDCFF\xDCC3");
  const auto input = folder->OpenForReading(listed);
  Bytes bytes(input->Length());
  input->Read(bytes);
  EXPECT_EQ(bytes, (Bytes{1, 2, 3, 4}));

  Replace(Utf16ToUtf8(u"copy" + listed.substr(5)), bytes, 0644);
  EXPECT_EQ(ReadFile(Path("copy_\xFF\xC3")), bytes);
}

}  // namespace
}  // namespace vendrake::engine
