#include "engine/win32/win32_file_system.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/batch_run.h"
#include "engine/errors.h"
#include "engine/text_encoding.h"
#include "engine/win32/win32_system_calls.h"
#include "tests/support/batch_recorder.h"
#include "tests/support/file_system_contract.h"
#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

namespace vendrake::engine {
namespace {

namespace fs = std::filesystem;
using engine::FileIdentity;
using testing::Bytes;
using ::testing::ElementsAre;
using testing::FileSystemContract;
using testing::ListedNames;
using testing::ReadFile;
using testing::Replace;
using testing::WriteFile;

std::wstring Wide(std::u16string_view text) { return {text.begin(), text.end()}; }

// Puts `calls` in place of those in use for as long as it lives.
class ScopedCalls {
 public:
  explicit ScopedCalls(const win32::SystemCalls& calls) : previous_(win32::Calls()) {
    win32::Calls() = calls;
  }
  ~ScopedCalls() { win32::Calls() = previous_; }
  ScopedCalls(const ScopedCalls&) = delete;
  ScopedCalls& operator=(const ScopedCalls&) = delete;

 private:
  win32::SystemCalls previous_;
};

// Wine 8 does not say that its volumes keep file IDs, as NTFS does
// (FILE_SUPPORTS_OPEN_BY_FILE_ID), though its IDs, the inode numbers, stay;
// the harness says it for it, so that identities are known.
BOOL WINAPI AsNtfs(HANDLE file, LPWSTR volume_name, DWORD volume_name_size, LPDWORD serial_number,
                   LPDWORD longest_component, LPDWORD flags, LPWSTR file_system_name,
                   DWORD file_system_name_size) {
  if (!win32::SystemsOwnCalls().get_volume_information_by_handle(
          file, volume_name, volume_name_size, serial_number, longest_component, flags,
          file_system_name, file_system_name_size)) {
    return FALSE;
  }
  if (flags != nullptr) *flags |= FILE_SUPPORTS_OPEN_BY_FILE_ID;
  return TRUE;
}

win32::SystemCalls WithCall(decltype(win32::SystemCalls::get_volume_information_by_handle) call) {
  win32::SystemCalls calls = win32::Calls();
  calls.get_volume_information_by_handle = call;
  return calls;
}

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
    fs::create_directory(Path(path));
    return true;
  }
  std::vector<std::u16string> OtherTextsFor(std::u16string_view path) override {
    fs::create_directory(Path(u"other"));
    const std::u16string text = Root() + std::u16string(path);
    std::u16string slashes = text;
    std::replace(slashes.begin(), slashes.end(), u'\\', u'/');
    std::u16string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char16_t unit) { return unit >= u'a' && unit <= u'z' ? unit - 32 : unit; });
    return {slashes, upper, Root() + u"other\\..\\" + std::u16string(path) + u"\\",
            u"\\\\?\\" + text + u"\\"};
  }

  static void PutFileWithAttributes(const fs::path& path, const Bytes& bytes, DWORD attributes) {
    WriteFile(path, bytes);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes)) << GetLastError();
  }
  void SetAttributes(std::u16string_view path, DWORD attributes) const {
    ASSERT_TRUE(SetFileAttributesW(Path(path).c_str(), attributes)) << GetLastError();
  }
  DWORD AttributesOf(std::u16string_view path) const {
    return GetFileAttributesW(Path(path).c_str());
  }

 private:
  ScopedCalls as_ntfs_{WithCall(&AsNtfs)};
  Win32FileSystem files_;
};

INSTANTIATE_TEST_SUITE_P(Win32, FileSystemContract,
                         ::testing::Values(testing::HarnessMaker{
                             "Win32", [] { return std::make_unique<Win32Harness>(); }}),
                         testing::HarnessName);

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
    fs::remove(harness_.Path(u"probe"));
    return kept;
  }

  Win32Harness harness_;
  Win32FileSystem files_;
};

TEST_F(Win32FileSystemTest, ListsNeitherHiddenNorSystemFilesNorFolders) {
  if (!KeepsAttributes(FILE_ATTRIBUTE_SYSTEM)) {
    GTEST_SKIP() << "Wine cannot keep file attributes on this Linux file system (no user "
                    "extended attributes)";
  }
  for (const char16_t* name : {u"plain_A1", u"hidden_A2", u"system_A3", u"both_A4"}) {
    harness_.PutFile(name, {1});
  }
  harness_.SetAttributes(u"hidden_A2", FILE_ATTRIBUTE_HIDDEN);
  harness_.SetAttributes(u"system_A3", FILE_ATTRIBUTE_SYSTEM);
  harness_.SetAttributes(u"both_A4", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  harness_.PutFolder(u"folder_A5");

  EXPECT_THAT(ListedNames(*Open()), ElementsAre(u"plain_A1"));
}

TEST_F(Win32FileSystemTest, AReplacedOutputKeepsItsAttributesAndANewOneHasNoHiddenAttribute) {
  if (!KeepsAttributes(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
    GTEST_SKIP() << "Wine cannot keep file attributes on this Linux file system (no user "
                    "extended attributes)";
  }
  harness_.PutFile(u"kept_A1", {7});
  harness_.SetAttributes(u"kept_A1", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  const auto folder = Open();

  Replace(*folder, u"kept_A1", {1});
  Replace(*folder, u"new_A1", {2});

  EXPECT_EQ(harness_.FileBytes(u"kept_A1"), (Bytes{1}));
  EXPECT_EQ(harness_.AttributesOf(u"kept_A1") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(harness_.AttributesOf(u"new_A1") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
            0U);
}

// U+1F600 is a surrogate pair in UTF-16; the name must come back unit for unit.
TEST_F(Win32FileSystemTest, NamesOutsideTheBasicPlaneRoundTrip) {
  const std::u16string name = u"model_\U0001F600_A1";
  harness_.PutFile(name, {1, 2, 3, 4});
  const auto folder = Open();

  EXPECT_THAT(ListedNames(*folder), ElementsAre(name));
  const auto input = folder->OpenForReading(name);
  Bytes bytes(input->Length());
  input->Read(bytes);
  EXPECT_EQ(bytes, (Bytes{1, 2, 3, 4}));
  Replace(*folder, u"copy_\U0001F600", bytes);
  EXPECT_EQ(harness_.FileBytes(u"copy_\U0001F600"), bytes);
}

TEST_F(Win32FileSystemTest, WorksInFoldersWhosePathsPassMaxPath) {
  std::u16string relative;
  while ((harness_.Root() + relative).size() <= MAX_PATH + 20) {
    relative += std::u16string(40, u'd') + u"\\";
    files_.CreateFolder(harness_.Root() + relative);
  }
  const auto folder = Open(relative);
  Replace(*folder, u"deep_A1", {5, 6});

  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"deep_A1"));
  EXPECT_EQ(ReadFile(L"\\\\?\\" + Wide(harness_.Root() + relative) + L"deep_A1"), (Bytes{5, 6}));
}

// Windows limits the whole path to MAX_PATH, the current folder included, so
// a short relative text may name a path too long for the plain form. Wine
// takes such paths in the plain form, so what is handed to it is checked.
TEST_F(Win32FileSystemTest, AShortRelativeTextWhoseWholePathPassesMaxPathTakesTheLongForm) {
  wchar_t previous[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0U);
  ASSERT_TRUE(SetCurrentDirectoryW(Wide(harness_.Root()).c_str())) << GetLastError();
  const std::u16string relative = std::u16string(MAX_PATH - 20, u'd') + u"\\";

  const std::u16string handed = ToWin32Path(u"x\\..\\" + relative);
  SetCurrentDirectoryW(previous);

  EXPECT_EQ(handed, u"\\\\?\\" + harness_.Root() + relative);
}

// Another program holds one model open and lets nobody read it meanwhile.
TEST_F(Win32FileSystemTest, AFileHeldWithoutShareReadFailsAloneAndTheRunGoesOn) {
  const tools::ModelShape shape{.vertex_count = 8, .face_count = 12};
  harness_.PutFolder(u"in");
  harness_.PutFile(u"in\\rock_A1", tools::MakeModel(shape));
  harness_.PutFile(u"in\\rock_B2", tools::MakeModel(shape));
  const HANDLE held = CreateFileW(harness_.Path(u"in\\rock_A1").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  WindowState state;
  state.ScaleFactor = 2.0F;
  testing::BatchRecorder recorder;

  const BatchOutcome outcome =
      RunBatch(state, files_, harness_.Root() + u"in\\", harness_.Root() + u"out\\", &recorder);
  CloseHandle(held);

  EXPECT_EQ(outcome.tally, (RunTally{.attempted = 2, .succeeded = 1}));
  EXPECT_THAT(recorder.events, ::testing::Contains("rock_A1 failed at read: file"));
  EXPECT_EQ(harness_.FileBytes(u"out\\out_B2"), testing::ScaledModel(shape, 2.0F));
  EXPECT_EQ(harness_.FileBytes(u"out\\out_A1"), std::nullopt);
}

// The destination names the source folder in other letters and with a run of
// separators: every model is rewritten in place, and scaled once only.
TEST_F(Win32FileSystemTest, ADestinationThatIsTheSourceInOtherCaseIsScaledInPlaceOnce) {
  const tools::ModelShape first{.vertex_count = 8, .face_count = 12, .seed = 1};
  const tools::ModelShape second{.vertex_count = 8, .face_count = 12, .seed = 2};
  harness_.PutFolder(u"Models");
  harness_.PutFile(u"Models\\Models_A1", tools::MakeModel(first));
  harness_.PutFile(u"Models\\Models_B2", tools::MakeModel(second));
  WindowState state;
  state.ScaleFactor = 2.0F;

  const BatchOutcome outcome =
      RunBatch(state, files_, harness_.Root() + u"Models\\", harness_.Root() + u"\\MODELS\\");

  EXPECT_EQ(outcome.tally, (RunTally{.attempted = 2, .succeeded = 2}));
  const std::vector<std::u16string> names = harness_.AllNames(u"Models");
  ASSERT_EQ(names.size(), 2U);
  EXPECT_EQ(harness_.FileBytes(u"Models\\" + names[0]), testing::ScaledModel(first, 2.0F));
  EXPECT_EQ(harness_.FileBytes(u"Models\\" + names[1]), testing::ScaledModel(second, 2.0F));
}

// A link to a file and one to a folder: either is replaced, never followed.
class Win32LinkAtTheOutput : public Win32FileSystemTest,
                             public ::testing::WithParamInterface<bool> {};

TEST_P(Win32LinkAtTheOutput, IsReplacedWithoutTouchingItsTarget) {
  const bool to_folder = GetParam();
  if (to_folder) {
    harness_.PutFolder(u"target");
    harness_.PutFile(u"target\\inside", {9, 9});
  } else {
    harness_.PutFile(u"target", {9, 9});
  }
  if (!CreateSymbolicLinkW(harness_.Path(u"out_A1").c_str(), harness_.Path(u"target").c_str(),
                           SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE |
                               (to_folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0))) {
    GTEST_SKIP() << "this account may not create symbolic links (error " << GetLastError() << ")";
  }
  Replace(*Open(), u"out_A1", {1, 2, 3});

  EXPECT_EQ(harness_.AttributesOf(u"out_A1") & FILE_ATTRIBUTE_REPARSE_POINT, 0U);
  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
  EXPECT_EQ(harness_.FileBytes(to_folder ? u"target\\inside" : u"target"), (Bytes{9, 9}));
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"out_A1", u"target"));
}

INSTANTIATE_TEST_SUITE_P(Win32, Win32LinkAtTheOutput, ::testing::Bool(),
                         [](const auto& link) { return link.param ? "ToAFolder" : "ToAFile"; });

// A virus scanner or sync client has the old output open, sharing neither
// writing nor deleting, for half a second while it is replaced.
TEST_F(Win32FileSystemTest, AnOutputHeldOpenForAMomentIsReplacedOnceItIsClosed) {
  harness_.PutFile(u"out_A1", {7, 7});
  const auto folder = Open();
  const auto output = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  output->Write(Bytes{1, 2, 3});
  const HANDLE held = CreateFileW(harness_.Path(u"out_A1").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
  std::thread scanner([held] {
    Sleep(500);
    CloseHandle(held);
  });

  EXPECT_NO_THROW(output->Commit());
  scanner.join();

  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"out_A1"));
}

// FAT and exFAT answer the POSIX rename with STATUS_INVALID_PARAMETER. The
// classic rename replaces there, and the folder asks only once.
int posix_renames_asked = 0;
NTSTATUS NTAPI WithoutPosixRenames(HANDLE file, PIO_STATUS_BLOCK io, PVOID information,
                                   ULONG length, FILE_INFORMATION_CLASS information_class) {
  constexpr int kFileRenameInformationEx = 65;
  if (information_class == kFileRenameInformationEx) {
    ++posix_renames_asked;
    return static_cast<NTSTATUS>(0xC000000DL);
  }
  return win32::SystemsOwnCalls().set_information_file(file, io, information, length,
                                                       information_class);
}

TEST_F(Win32FileSystemTest, AVolumeWithoutPosixRenamesIsAskedOncePerFolder) {
  harness_.PutFile(u"out_A1", {7});
  harness_.PutFile(u"out_A2", {7});
  win32::SystemCalls calls = win32::Calls();
  calls.set_information_file = &WithoutPosixRenames;
  const ScopedCalls scoped(calls);
  posix_renames_asked = 0;
  const auto folder = Open();

  Replace(*folder, u"out_A1", {1});
  Replace(*folder, u"out_A2", {2});

  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1}));
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{2}));
  EXPECT_EQ(posix_renames_asked, 1);
}

// Some redirectors refuse the listing classes with file IDs, and the first
// query of an empty drive root finds nothing and says ERROR_FILE_NOT_FOUND.
bool answer_as_an_empty_root = false;
BOOL WINAPI AsARedirector(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                          LPVOID information, DWORD size) {
  if (information_class == FileIdBothDirectoryInfo ||
      information_class == FileIdBothDirectoryRestartInfo) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (answer_as_an_empty_root && information_class == FileFullDirectoryRestartInfo) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  return win32::SystemsOwnCalls().get_information_by_handle_ex(file, information_class, information,
                                                               size);
}

TEST_F(Win32FileSystemTest, ListsWhatARedirectorAnswersAndAnEmptyRootAsEmpty) {
  harness_.PutFile(u"model_A1", {1});
  harness_.PutFile(u"model_A2", {2});
  win32::SystemCalls calls = win32::Calls();
  calls.get_information_by_handle_ex = &AsARedirector;
  const ScopedCalls scoped(calls);
  const auto folder = Open();

  answer_as_an_empty_root = false;
  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"model_A1", u"model_A2"));
  answer_as_an_empty_root = true;
  EXPECT_THAT(ListedNames(*folder), ::testing::IsEmpty());
  EXPECT_EQ(folder->RemoveAbandonedStaging(), 0U);
}

// In a folder that OneDrive syncs, every file is a placeholder: a reparse
// point of a cloud tag, which Wine cannot make.
BOOL WINAPI AsACloudFolder(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                           LPVOID information, DWORD size) {
  if (!win32::SystemsOwnCalls().get_information_by_handle_ex(file, information_class, information,
                                                             size)) {
    return FALSE;
  }
  if (information_class == FileAttributeTagInfo) {
    auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information);
    if ((tag->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
      tag->ReparseTag = IO_REPARSE_TAG_CLOUD_6;
    }
  } else if (information_class == FileFullDirectoryInfo ||
             information_class == FileFullDirectoryRestartInfo) {
    auto* entry = static_cast<FILE_FULL_DIR_INFO*>(information);
    for (;;) {
      entry->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
      entry->EaSize = IO_REPARSE_TAG_CLOUD_6;  // where listings give the tag
      if (entry->NextEntryOffset == 0) break;
      entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(reinterpret_cast<char*>(entry) +
                                                    entry->NextEntryOffset);
    }
  }
  return TRUE;
}

TEST_F(Win32FileSystemTest, APlaceholderOfACloudFolderIsAFileNotALink) {
  harness_.PutFile(u"locked_A1", {5});
  harness_.MakeReadOnly(u"locked_A1");
  harness_.PutAbandonedStaging(u"");
  win32::SystemCalls calls = win32::Calls();
  calls.get_information_by_handle_ex = &AsACloudFolder;
  const ScopedCalls scoped(calls);
  const auto folder = Open();

  const auto output = folder->OpenForReplacing(u"locked_A1", kDefaultPermissions);
  output->Write(Bytes{1, 2, 3});
  EXPECT_THROW(output->Commit(), FileError);
  EXPECT_EQ(folder->RemoveAbandonedStaging(), 1U);
  EXPECT_EQ(harness_.FileBytes(u"locked_A1"), (Bytes{5}));
}

// A FAT or exFAT volume, such as a USB stick, says so by its file system's
// name.
BOOL WINAPI AsFat(HANDLE file, LPWSTR volume_name, DWORD volume_name_size, LPDWORD serial_number,
                  LPDWORD longest_component, LPDWORD flags, LPWSTR file_system_name,
                  DWORD file_system_name_size) {
  if (!win32::SystemsOwnCalls().get_volume_information_by_handle(
          file, volume_name, volume_name_size, serial_number, longest_component, flags,
          file_system_name, file_system_name_size)) {
    return FALSE;
  }
  if (file_system_name != nullptr) wcsncpy(file_system_name, L"FAT32", file_system_name_size);
  return TRUE;
}

// The stick is pulled while FAT replaces an output: the old output's entry is
// gone, the new one never got its name, and no rename succeeds after.
fs::path pulled_output;
bool pulled = false;
NTSTATUS NTAPI PulledDuringReplace(HANDLE file, PIO_STATUS_BLOCK io, PVOID information,
                                   ULONG length, FILE_INFORMATION_CLASS information_class) {
  const bool rename = information_class == 10 || information_class == 65;
  const bool replacing = information_class == 65 || (rename && *static_cast<BOOLEAN*>(information));
  if (replacing && !pulled) {
    fs::remove(pulled_output);
    pulled = true;
  }
  if (rename && pulled) return static_cast<NTSTATUS>(0xC000009DL);  // STATUS_DEVICE_NOT_CONNECTED
  return win32::SystemsOwnCalls().set_information_file(file, io, information, length,
                                                       information_class);
}

TEST_F(Win32FileSystemTest, AReplaceCutShortOnFatIsFinishedByTheNextCleanUp) {
  harness_.PutFile(u"out_A1", {7, 7});
  win32::SystemCalls fat = win32::Calls();
  fat.get_volume_information_by_handle = &AsFat;
  {
    win32::SystemCalls pulling = fat;
    pulling.set_information_file = &PulledDuringReplace;
    pulled_output = harness_.Path(u"out_A1");
    pulled = false;
    const ScopedCalls scoped(pulling);
    const auto output = Open()->OpenForReplacing(u"out_A1", kDefaultPermissions);
    output->Write(Bytes{1, 2, 3});
    EXPECT_THROW(output->Commit(), FileError);
  }
  const ScopedCalls scoped(fat);

  EXPECT_EQ(Open()->RemoveAbandonedStaging(), 1U);
  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"out_A1"));
}

TEST_F(Win32FileSystemTest, OnFatTheCleanUpKeepsEveryWholeStagingFileThatMayBeTheOnlyCopy) {
  harness_.PutFile(u"kept_A1", {9});
  harness_.PutFile(u".vendrake-12.kept_A1.ready", {1});  // stopped before replacing
  harness_.PutFile(u".vendrake-13.ready", {2});          // for an output whose name did not fit
  harness_.PutAbandonedStaging(u"");                     // never whole
  win32::SystemCalls fat = win32::Calls();
  fat.get_volume_information_by_handle = &AsFat;
  const ScopedCalls scoped(fat);
  const auto folder = Open();

  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"kept_A1"));
  EXPECT_EQ(folder->RemoveAbandonedStaging(), 3U);
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"kept_A1", u"vendrake-recovered-13"));
  EXPECT_EQ(harness_.FileBytes(u"kept_A1"), (Bytes{9}));
}

// Volumes that give file IDs of other kinds, or none that tell files apart.
BOOL WINAPI NoFileIdInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                         LPVOID information, DWORD size) {
  if (information_class == FileIdInfo) {
    SetLastError(ERROR_INVALID_PARAMETER);  // before Windows 8, and some redirectors
    return FALSE;
  }
  return win32::SystemsOwnCalls().get_information_by_handle_ex(file, information_class, information,
                                                               size);
}
BOOL WINAPI AllOnesIndex(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  if (!win32::SystemsOwnCalls().get_file_information_by_handle(file, information)) return FALSE;
  information->nFileIndexHigh = information->nFileIndexLow = 0xFFFFFFFF;
  return TRUE;
}
// A file's ID depends on its name, as FAT's on where its entry lies.
BOOL WINAPI IdsOfNames(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class, LPVOID information,
                       DWORD size) {
  const auto& own = win32::SystemsOwnCalls();
  if (!own.get_information_by_handle_ex(file, information_class, information, size)) return FALSE;
  if (information_class != FileIdInfo) return TRUE;
  std::uint64_t name[128] = {};
  if (!own.get_information_by_handle_ex(file, FileNameInfo, name, sizeof(name))) return FALSE;
  const auto* text = reinterpret_cast<const FILE_NAME_INFO*>(name);
  std::uint64_t id = 0;
  std::memcpy(&id, static_cast<FILE_ID_INFO*>(information)->FileId.Identifier, sizeof(id));
  id ^= std::hash<std::u16string_view>{}(
      {reinterpret_cast<const char16_t*>(text->FileName), text->FileNameLength / sizeof(WCHAR)});
  std::memcpy(static_cast<FILE_ID_INFO*>(information)->FileId.Identifier, &id, sizeof(id));
  return TRUE;
}
BOOL WINAPI AllOnesFileIdInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                              LPVOID information, DWORD size) {
  if (!win32::SystemsOwnCalls().get_information_by_handle_ex(file, information_class, information,
                                                             size)) {
    return FALSE;
  }
  if (information_class == FileIdInfo) {
    std::memset(&static_cast<FILE_ID_INFO*>(information)->FileId, 0xFF, sizeof(FILE_ID_128));
  }
  return TRUE;
}

struct VolumeKind {
  const char* name;
  void (*play)(win32::SystemCalls& calls);
  bool tells_files_apart;
};

class Win32Identity : public Win32FileSystemTest,
                      public ::testing::WithParamInterface<VolumeKind> {};

TEST_P(Win32Identity, IsKnownOnlyWhereTheVolumeTellsFilesApart) {
  harness_.PutFile(u"first_A1", {1});
  win32::SystemCalls calls = win32::Calls();
  GetParam().play(calls);
  const ScopedCalls scoped(calls);
  const auto folder = Open();

  const FileIdentity written = Replace(*folder, u"out_A1", {2});
  const FileIdentity read = folder->OpenForReading(u"out_A1")->Identity();
  const FileIdentity first = folder->OpenForReading(u"first_A1")->Identity();
  if (GetParam().tells_files_apart) {
    EXPECT_TRUE(written.Known());
    EXPECT_EQ(read, written);
    EXPECT_NE(first, written);
  } else {
    EXPECT_EQ(written, FileIdentity{});
    EXPECT_EQ(read, FileIdentity{});
    EXPECT_EQ(folder->Identity(), FileIdentity{});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Win32, Win32Identity,
    ::testing::Values(VolumeKind{"OnlyTheIndex",
                                 [](win32::SystemCalls& calls) {
                                   calls.get_information_by_handle_ex = &NoFileIdInfo;
                                 },
                                 true},
                      VolumeKind{"IdsThatFollowNames",
                                 [](win32::SystemCalls& calls) {
                                   calls.get_information_by_handle_ex = &IdsOfNames;
                                 },
                                 true},
                      VolumeKind{"IdsNotKept",
                                 [](win32::SystemCalls& calls) {
                                   calls.get_volume_information_by_handle =
                                       win32::SystemsOwnCalls().get_volume_information_by_handle;
                                 },
                                 false},
                      VolumeKind{"AllOnes",
                                 [](win32::SystemCalls& calls) {
                                   calls.get_information_by_handle_ex = &AllOnesFileIdInfo;
                                 },
                                 false},
                      VolumeKind{"AllOnesIndex",
                                 [](win32::SystemCalls& calls) {
                                   calls.get_information_by_handle_ex = &NoFileIdInfo;
                                   calls.get_file_information_by_handle = &AllOnesIndex;
                                 },
                                 false}),
    [](const auto& kind) { return kind.param.name; });

// Flushing as volumes answer it, and a disk that cannot take the file of 3
// bytes: found as its data is written out, when it is flushed, or when the
// first flush, that of a whole group, fails.
struct Faults {
  bool writeout = false;
  bool flush = false;
  bool first_flush = false;
};
Faults faults;
int full_flushes = 0;
bool IsTheThreeBytes(HANDLE file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(file, &size) && size.QuadPart == 3;
}
BOOL WINAPI CountedFlush(HANDLE file) {
  const bool first = full_flushes++ == 0;
  if ((faults.first_flush && first) || (faults.flush && IsTheThreeBytes(file))) {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return win32::SystemsOwnCalls().flush_file_buffers(file);
}
// NtFlushBuffersFileEx, which Wine 8 lacks, as NTFS answers it; as ReFS and
// some redirectors answer FLUSH_FLAGS_FILE_DATA_ONLY.
NTSTATUS NTAPI DataOnlyWriteout(HANDLE file, ULONG, PVOID, ULONG, PIO_STATUS_BLOCK) {
  return faults.writeout && IsTheThreeBytes(file) ? static_cast<NTSTATUS>(0xC000007FL)  // DISK_FULL
                                                  : 0;
}
NTSTATUS NTAPI NoDataOnlyWriteout(HANDLE, ULONG, PVOID, ULONG, PIO_STATUS_BLOCK) {
  return static_cast<NTSTATUS>(0xC000000DL);  // STATUS_INVALID_PARAMETER
}
BOOL WINAPI OnAShare(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class, LPVOID information,
                     DWORD size) {
  if (information_class == FileRemoteProtocolInfo) return TRUE;
  return win32::SystemsOwnCalls().get_information_by_handle_ex(file, information_class, information,
                                                               size);
}

struct FlushCase {
  const char* name;
  void (*play)(win32::SystemCalls& calls);
  // One flush of the disk for a group, rather than one for each output.
  bool one_flush_for_all;
};

class Win32Flushing : public Win32FileSystemTest, public ::testing::WithParamInterface<FlushCase> {
 protected:
  // Stages "out_A1" (which exists), "out_A2" and "out_A3" with 1, 3 and 1
  // bytes, flushes them, commits them, and flushes their names; the
  // failures of the commits, by output.
  std::vector<bool> StageFlushCommit(Faults with = {}) {
    harness_.PutFile(u"out_A2", {9});
    win32::SystemCalls calls = win32::Calls();
    calls.flush_file_buffers = &CountedFlush;
    GetParam().play(calls);
    const ScopedCalls scoped(calls);
    full_flushes = 0;
    faults = with;
    const auto folder = Open();
    std::vector<std::unique_ptr<OutputFile>> outputs;
    for (const char16_t* name : {u"out_A1", u"out_A2", u"out_A3"}) {
      outputs.push_back(folder->OpenForReplacing(name, kDefaultPermissions));
      outputs.back()->Write(outputs.size() == 2 ? Bytes{1, 2, 3} : Bytes{1});
    }
    folder->FlushStaged();
    std::vector<bool> failed;
    for (const auto& output : outputs) {
      try {
        output->Commit();
        failed.push_back(false);
      } catch (const FileError& error) {
        EXPECT_THAT(error.what(), ::testing::HasSubstr("out_A2"));
        failed.push_back(true);
      }
    }
    folder->FlushStaged();
    return failed;
  }
};

TEST_P(Win32Flushing, FlushesTheDiskAsFewTimesAsTheVolumeAllows) {
  EXPECT_THAT(StageFlushCommit(), ElementsAre(false, false, false));
  // The group, and then the names it took.
  EXPECT_EQ(full_flushes, GetParam().one_flush_for_all ? 1 + 1 : 3 + 1);
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{1, 2, 3}));
}

TEST_P(Win32Flushing, AFileTheDiskCannotTakeFailsAloneAndItsOldOutputStays) {
  if (GetParam().one_flush_for_all) {
    EXPECT_THAT(StageFlushCommit({.writeout = true}), ElementsAre(false, true, false));
    // Each output flushes alone to find which one the failure concerns.
    EXPECT_THAT(StageFlushCommit({.flush = true, .first_flush = true}),
                ElementsAre(false, true, false));
  } else {
    EXPECT_THAT(StageFlushCommit({.flush = true}), ElementsAre(false, true, false));
  }
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{9}));
  EXPECT_EQ(harness_.FileBytes(u"out_A3"), (Bytes{1}));
}

void LocalNtfs(win32::SystemCalls& calls) { calls.flush_buffers_file_ex = &DataOnlyWriteout; }

INSTANTIATE_TEST_SUITE_P(Win32, Win32Flushing,
                         ::testing::Values(FlushCase{"LocalNtfs", &LocalNtfs, true},
                                           FlushCase{"WithoutNtFlushBuffersFileEx",
                                                     [](win32::SystemCalls& calls) {
                                                       calls.flush_buffers_file_ex = nullptr;
                                                     },
                                                     false},
                                           FlushCase{"DataOnlyRefused",
                                                     [](win32::SystemCalls& calls) {
                                                       calls.flush_buffers_file_ex =
                                                           &NoDataOnlyWriteout;
                                                     },
                                                     false},
                                           FlushCase{"Fat",
                                                     [](win32::SystemCalls& calls) {
                                                       LocalNtfs(calls);
                                                       calls.get_volume_information_by_handle =
                                                           &AsFat;
                                                     },
                                                     false},
                                           FlushCase{"Share",
                                                     [](win32::SystemCalls& calls) {
                                                       LocalNtfs(calls);
                                                       calls.get_information_by_handle_ex =
                                                           &OnAShare;
                                                     },
                                                     false}),
                         [](const auto& flush_case) { return flush_case.param.name; });

TEST_F(Win32FileSystemTest, NameKeysAreEqualExactlyWhenTheVolumeTakesTwoNamesForOne) {
  const auto folder = Open();
  for (const auto& [name, other] : std::initializer_list<std::pair<std::u16string, std::u16string>>{
           {u"rock_a1", u"ROCK_A1"},
           {u"\u00FF_A1", u"\u0178_A1"},               // y and Y with diaeresis
           {u"\U00010428_A1", u"\U00010400_A1"},       // Deseret, beyond the BMP
           {u"stra\u00DFe_A1", u"STRA\u1E9EE_A1"}}) {  // sharp s and its capital
    SCOPED_TRACE(Utf16ToUtf8(name));
    harness_.PutFile(name, {1});
    bool one_name = true;
    try {
      folder->OpenForReading(other);
    } catch (const FileError&) {
      one_name = false;
    }
    EXPECT_EQ(files_.NameKey(name) == files_.NameKey(other), one_name);
    fs::remove(harness_.Path(name));
  }
}

TEST_F(Win32FileSystemTest, AnOpenFolderCannotBeMovedAwayOrDeleted) {
  harness_.PutFolder(u"out");
  {
    const auto folder = Open(u"out\\");
    EXPECT_FALSE(harness_.SwapFolder(u"out", u"moved"));
    EXPECT_FALSE(RemoveDirectoryW(harness_.Path(u"out").c_str()));
  }
  EXPECT_TRUE(harness_.SwapFolder(u"out", u"moved"));
}

}  // namespace
}  // namespace vendrake::engine
