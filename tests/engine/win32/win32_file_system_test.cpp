#include "engine/win32/win32_file_system.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
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

// What the volume under test answers where Wine answers otherwise, or
// cannot answer at all. The harness puts calls of its own in place of the
// system's (engine/win32/win32_system_calls.h), which answer as `played`
// says; every field left as it is keeps Wine's own answer, but for one:
// Wine 8 does not say that its volumes keep file IDs, as NTFS does, though
// its IDs, inode numbers, stay.
struct PlayedVolume {
  const wchar_t* file_system = nullptr;  // its name, such as FAT32
  bool keeps_file_ids = true;            // FILE_SUPPORTS_OPEN_BY_FILE_ID
  bool on_a_share = false;               // answers FileRemoteProtocolInfo
  bool remote_device = false;            // FILE_REMOTE_DEVICE in FileFsDeviceInformation
  NTSTATUS posix_rename = 0;             // its answer to FileRenameInformationEx
  bool refuses_id_listings = false;      // as some redirectors do
  bool empty_root = false;               // finds nothing at the first listing query
  bool cloud_placeholders = false;       // every file a reparse point of a cloud tag
  bool broken_links = false;             // every "broken_*" a symbolic link to nothing
  bool dot_files_shown = false;          // as Windows lists them, where Wine hides them
  enum class Ids { kFileIdInfo, kIndexOnly, kAllOnes, kIndexAllOnes, kOfNames } ids{};
  // NtFlushBuffersFileEx, which Wine 8 lacks, answering FLUSH_FLAGS_FILE_DATA_ONLY so.
  std::optional<NTSTATUS> data_only_writeout{};
  // A disk that cannot take the file of 3 bytes: as its data is written out,
  // when it is flushed, or when the first flush, a whole group's, fails.
  bool writeout_fails = false;
  // A call that takes its time, the write-out of the file of 3 bytes or the
  // first full flush: it says when it has begun (slow_call_begun) and
  // returns once the test lets it (slow_call_may_end).
  enum class Slow { kNothing, kWriteout, kFlush } slow{};
  bool flush_fails = false;
  bool first_flush_fails = false;
  // A stick pulled while the file here is replaced: its entry is gone, and
  // no rename succeeds after.
  fs::path pulled_during_replace{};
  // Where the user may write "out_A1" but not delete it: what asks to
  // delete it, or to rename over it, is refused.
  bool denies_deleting_output = false;
  // Another program has "out_A1" open: the first `in_use_answers` opens of
  // it for writing or deleting, and renames over it, are answered `in_use`.
  NTSTATUS in_use = 0;
  int in_use_answers = 0;
  // Another program has "out_A1" open for reading alone, sharing no writing.
  bool output_held_for_reading = false;
  // A volume that will not change the attributes of "out_A1".
  bool refuses_output_attributes = false;
  // A folder where the user may add files but not write attributes.
  bool folder_takes_only_new_files = false;
  bool pulled = false;
  int posix_renames_asked = 0;
  int full_flushes = 0;
  // The flushes, writeouts, renames and attributes set, and the answers played for
  // "out_A1", in order; staging numbers read N, and a flushed file that is
  // HIDDEN says so.
  std::vector<std::string> log{};
};
PlayedVolume played;
HANDLE slow_call_begun = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE slow_call_may_end = CreateEventW(nullptr, TRUE, FALSE, nullptr);
constexpr DWORD kLongestWaitMs = 5000;
void TakeTime() {
  SetEvent(slow_call_begun);
  WaitForSingleObject(slow_call_may_end, kLongestWaitMs);
}

const win32::SystemCalls& Own() { return win32::SystemsOwnCalls(); }
BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}
bool IsTheThreeBytes(HANDLE file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(file, &size) && size.QuadPart == 3;
}

// The name of the handle's file within its folder, with the <n> of a
// staging name as N; "folder" for a folder.
std::string NameOf(HANDLE file, bool says_hidden = false) {
  FILE_BASIC_INFO basic{};
  if (Own().get_information_by_handle_ex(file, FileBasicInfo, &basic, sizeof(basic)) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return "folder";
  }
  std::uint64_t buffer[128] = {};
  if (!Own().get_information_by_handle_ex(file, FileNameInfo, buffer, sizeof(buffer))) return "?";
  const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(buffer);
  std::u16string path(reinterpret_cast<const char16_t*>(name->FileName),
                      name->FileNameLength / sizeof(WCHAR));
  path = path.substr(path.rfind(u'\\') + 1);
  std::string text =
      std::regex_replace(Utf16ToUtf8(path), std::regex("^\\.vendrake-[0-9]+"), ".vendrake-N");
  if (says_hidden && (basic.FileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0) text += " hidden";
  return text;
}
bool IsTheOutput(std::u16string_view name) { return name == u"out_A1"; }
// What is played for "out_A1", or 0.
NTSTATUS PlayedAnswerForTheOutput(bool deletes) {
  if (played.in_use_answers > 0) {
    --played.in_use_answers;
    played.log.push_back("in use out_A1");
    return played.in_use;
  }
  if (played.denies_deleting_output && deletes) {
    played.log.push_back("refused out_A1");
    return static_cast<NTSTATUS>(0xC0000022L);  // STATUS_ACCESS_DENIED
  }
  return 0;
}

NTSTATUS NTAPI PlayedCreate(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES object,
                            PIO_STATUS_BLOCK io, PLARGE_INTEGER allocation, ULONG attributes,
                            ULONG share, ULONG disposition, ULONG options, PVOID ea,
                            ULONG ea_size) {
  const std::u16string_view name(reinterpret_cast<const char16_t*>(object->ObjectName->Buffer),
                                 object->ObjectName->Length / sizeof(WCHAR));
  constexpr ACCESS_MASK kWritingAttributes =
      FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | GENERIC_WRITE | GENERIC_ALL;
  if (played.folder_takes_only_new_files && name.empty() && (options & FILE_DIRECTORY_FILE) != 0 &&
      (access & kWritingAttributes) != 0) {
    return static_cast<NTSTATUS>(0xC0000022L);
  }
  if (IsTheOutput(name) && (access & (FILE_WRITE_DATA | DELETE)) != 0) {
    if (const NTSTATUS answer = PlayedAnswerForTheOutput((access & DELETE) != 0)) return answer;
  }
  if (IsTheOutput(name) && played.output_held_for_reading &&
      (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0) {
    played.log.push_back("held out_A1");
    return static_cast<NTSTATUS>(0xC0000043L);  // STATUS_SHARING_VIOLATION
  }
  if (played.broken_links && name.starts_with(u"broken") &&
      (options & FILE_OPEN_REPARSE_POINT) == 0) {
    return static_cast<NTSTATUS>(0xC0000034L);  // STATUS_OBJECT_NAME_NOT_FOUND
  }
  return Own().create_file(handle, access, object, io, allocation, attributes, share, disposition,
                           options, ea, ea_size);
}

NTSTATUS NTAPI PlayedSetInformation(HANDLE file, PIO_STATUS_BLOCK io, PVOID information,
                                    ULONG length, ULONG information_class) {
  constexpr int kBasic = 4;
  constexpr int kRename = 10;
  constexpr int kRenameEx = 65;
  const bool rename = information_class == kRename || information_class == kRenameEx;
  if (information_class == kRenameEx) ++played.posix_renames_asked;
  if (rename && !played.pulled_during_replace.empty()) {
    if (!played.pulled && (information_class == kRenameEx || *static_cast<BOOLEAN*>(information))) {
      fs::remove(played.pulled_during_replace);
      played.pulled = true;
    }
    if (played.pulled) return static_cast<NTSTATUS>(0xC000009DL);  // STATUS_DEVICE_NOT_CONNECTED
  }
  if (information_class == kRenameEx && played.posix_rename != 0) return played.posix_rename;
  if (information_class == kBasic) {
    const DWORD attributes = static_cast<const FILE_BASIC_INFO*>(information)->FileAttributes;
    played.log.push_back("attributes of " + NameOf(file) +
                         ((attributes & FILE_ATTRIBUTE_HIDDEN) != 0 ? " hidden" : ""));
    if (played.refuses_output_attributes && NameOf(file) == "out_A1") {
      return static_cast<NTSTATUS>(0xC0000022L);  // STATUS_ACCESS_DENIED
    }
  }
  if (!rename) return Own().set_information_file(file, io, information, length, information_class);
  const auto* target = static_cast<const FILE_RENAME_INFO*>(information);
  const std::u16string_view to(reinterpret_cast<const char16_t*>(target->FileName),
                               target->FileNameLength / sizeof(WCHAR));
  if (IsTheOutput(to) && (information_class == kRenameEx || target->ReplaceIfExists)) {
    if (const NTSTATUS answer = PlayedAnswerForTheOutput(true)) return answer;
  }
  const std::string from = NameOf(file);
  const NTSTATUS status =
      Own().set_information_file(file, io, information, length, information_class);
  if (NT_SUCCESS(status)) {
    played.log.push_back("rename " + from + " to " + NameOf(file));
  }
  return status;
}

BOOL WINAPI PlayedInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                              LPVOID information, DWORD size) {
  using Ids = PlayedVolume::Ids;
  switch (information_class) {
    case FileRemoteProtocolInfo:
      if (played.on_a_share) return TRUE;
      break;
    case FileIdBothDirectoryInfo:
    case FileIdBothDirectoryRestartInfo:
      if (played.refuses_id_listings) return Fail(ERROR_INVALID_PARAMETER);
      break;
    case FileFullDirectoryRestartInfo:
      if (played.empty_root) return Fail(ERROR_FILE_NOT_FOUND);
      break;
    case FileIdInfo:  // refused before Windows 8 and by some redirectors
      if (played.ids == Ids::kIndexOnly || played.ids == Ids::kIndexAllOnes) {
        return Fail(ERROR_INVALID_PARAMETER);
      }
      break;
    default:
      break;
  }
  if (!Own().get_information_by_handle_ex(file, information_class, information, size)) {
    return FALSE;
  }
  if (information_class == FileIdInfo && played.ids == Ids::kAllOnes) {
    std::memset(&static_cast<FILE_ID_INFO*>(information)->FileId, 0xFF, sizeof(FILE_ID_128));
  } else if (information_class == FileIdInfo && played.ids == Ids::kOfNames) {
    // The ID depends on the name, as FAT's on where the file's entry lies.
    std::uint64_t name[128] = {};
    if (!Own().get_information_by_handle_ex(file, FileNameInfo, name, sizeof(name))) return FALSE;
    const auto* text = reinterpret_cast<const FILE_NAME_INFO*>(name);
    *reinterpret_cast<std::size_t*>(static_cast<FILE_ID_INFO*>(information)->FileId.Identifier) ^=
        std::hash<std::u16string_view>{}({reinterpret_cast<const char16_t*>(text->FileName),
                                          text->FileNameLength / sizeof(WCHAR)});
  } else if (information_class == FileAttributeTagInfo && played.cloud_placeholders) {
    auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information);
    tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    tag->ReparseTag = IO_REPARSE_TAG_CLOUD_6;
  } else if (information_class == FileAttributeTagInfo && played.broken_links &&
             NameOf(file).starts_with("broken")) {
    auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information);
    tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    tag->ReparseTag = IO_REPARSE_TAG_SYMLINK;
  } else if ((information_class == FileFullDirectoryInfo ||
              information_class == FileFullDirectoryRestartInfo) &&
             (played.cloud_placeholders || played.dot_files_shown)) {
    for (auto* entry = static_cast<FILE_FULL_DIR_INFO*>(information);;
         entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(reinterpret_cast<char*>(entry) +
                                                       entry->NextEntryOffset)) {
      if (played.cloud_placeholders) {
        entry->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        entry->EaSize = IO_REPARSE_TAG_CLOUD_6;  // where listings give the tag
      }
      if (played.dot_files_shown && entry->FileName[0] == L'.') {
        entry->FileAttributes &= ~DWORD{FILE_ATTRIBUTE_HIDDEN};
      }
      if (entry->NextEntryOffset == 0) break;
    }
  }
  return TRUE;
}

BOOL WINAPI PlayedFileInformation(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  if (!Own().get_file_information_by_handle(file, information)) return FALSE;
  if (played.ids == PlayedVolume::Ids::kIndexAllOnes) {
    information->nFileIndexHigh = information->nFileIndexLow = 0xFFFFFFFF;
  }
  return TRUE;
}

BOOL WINAPI PlayedVolumeInformation(HANDLE file, LPWSTR volume_name, DWORD volume_name_size,
                                    LPDWORD serial_number, LPDWORD longest_component, LPDWORD flags,
                                    LPWSTR file_system_name, DWORD file_system_name_size) {
  if (!Own().get_volume_information_by_handle(file, volume_name, volume_name_size, serial_number,
                                              longest_component, flags, file_system_name,
                                              file_system_name_size)) {
    return FALSE;
  }
  if (file_system_name != nullptr && played.file_system != nullptr) {
    wcsncpy(file_system_name, played.file_system, file_system_name_size);
  }
  if (flags != nullptr && played.keeps_file_ids) *flags |= FILE_SUPPORTS_OPEN_BY_FILE_ID;
  return TRUE;
}

NTSTATUS NTAPI PlayedVolumeDevice(HANDLE file, PIO_STATUS_BLOCK io, PVOID information, ULONG length,
                                  FS_INFORMATION_CLASS information_class) {
  const NTSTATUS status =
      Own().query_volume_information(file, io, information, length, information_class);
  if (NT_SUCCESS(status) && information_class == FileFsDeviceInformation && played.remote_device) {
    static_cast<FILE_FS_DEVICE_INFORMATION*>(information)->Characteristics |= 0x10;
  }
  return status;
}

BOOL WINAPI PlayedFlush(HANDLE file) {
  played.log.push_back("flush " + NameOf(file, true));
  const bool first = played.full_flushes++ == 0;
  if (first && played.slow == PlayedVolume::Slow::kFlush) TakeTime();
  if ((played.first_flush_fails && first) || (played.flush_fails && IsTheThreeBytes(file))) {
    return Fail(ERROR_DISK_FULL);
  }
  return Own().flush_file_buffers(file);
}

NTSTATUS NTAPI PlayedWriteout(HANDLE file, ULONG flags, PVOID, ULONG, PIO_STATUS_BLOCK) {
  played.log.push_back("writeout " + NameOf(file) + " flags " + std::to_string(flags));
  if (played.writeout_fails && IsTheThreeBytes(file)) return static_cast<NTSTATUS>(0xC000007FL);
  if (played.slow == PlayedVolume::Slow::kWriteout && IsTheThreeBytes(file)) TakeTime();
  return *played.data_only_writeout;
}

// Plays `volume` from now on.
void Play(PlayedVolume volume) {
  played = std::move(volume);
  ResetEvent(slow_call_begun);
  ResetEvent(slow_call_may_end);
  win32::Calls() = {
      .create_file = &PlayedCreate,
      .set_information_file = &PlayedSetInformation,
      .get_information_by_handle_ex = &PlayedInformation,
      .get_file_information_by_handle = &PlayedFileInformation,
      .get_volume_information_by_handle = &PlayedVolumeInformation,
      .query_volume_information = &PlayedVolumeDevice,
      .get_final_path_name = Own().get_final_path_name,
      .flush_file_buffers = &PlayedFlush,
      .flush_buffers_file_ex = played.data_only_writeout ? &PlayedWriteout : nullptr,
      .read_file = Own().read_file,
      .write_file = Own().write_file,
  };
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

  Win32Harness() { Play({}); }
  ~Win32Harness() override { win32::Calls() = Own(); }

 private:
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

TEST_F(Win32FileSystemTest, ListsNeitherHiddenNorSystemFilesNorFoldersNorStagingFiles) {
  if (!KeepsAttributes(FILE_ATTRIBUTE_SYSTEM)) {
    GTEST_SKIP() << "Wine cannot keep file attributes on this Linux file system (no user "
                    "extended attributes)";
  }
  // Staging files are kept out by their names too, on every volume; a whole
  // one that a clean-up set aside for the user is listed, and opening it says
  // why a run passes it over.
  for (const char16_t* name : {u"plain_A1", u"hidden_A2", u"system_A3", u"both_A4",
                               u".vendrake-7.Out_2x_A2.ready", u"vendrake-recovered-9"}) {
    harness_.PutFile(name, {1});
  }
  Play({.dot_files_shown = true});
  harness_.SetAttributes(u"hidden_A2", FILE_ATTRIBUTE_HIDDEN);
  harness_.SetAttributes(u"system_A3", FILE_ATTRIBUTE_SYSTEM);
  harness_.SetAttributes(u"both_A4", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  harness_.PutFolder(u"folder_A5");

  const auto folder = Open();
  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"plain_A1", u"vendrake-recovered-9"));
  try {
    folder->OpenForReading(u"vendrake-recovered-9");
    ADD_FAILURE() << "a file set aside was opened as a model";
  } catch (const FileError& error) {
    EXPECT_EQ(error.Problem(), FileProblem::kSetAside);
  }
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
  // Left hidden by the volume once it has its name: it stays, and says so.
  Play({.refuses_output_attributes = true});
  auto output = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  output->Write(Bytes{3});
  try {
    output->Commit();
    ADD_FAILURE() << "an output left hidden counted as written";
  } catch (const FileError& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("left hidden"));
  }
  output.reset();
  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{3}));
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

// The destination names the source folder through "..", in other letters and
// with a run of separators, on a volume that cannot tell files apart: every
// model is rewritten in place and scaled once only. The output of A_A1 is
// about to replace Models_A1, which is then passed over.
TEST_F(Win32FileSystemTest, ADestinationThatIsTheSourceByAnotherTextIsScaledInPlaceOnce) {
  const tools::ModelShape first{.vertex_count = 8, .face_count = 12, .seed = 1};
  const tools::ModelShape second{.vertex_count = 8, .face_count = 12, .seed = 2};
  harness_.PutFolder(u"Models");
  harness_.PutFolder(u"other");
  harness_.PutFile(u"Models\\A_A1", tools::MakeModel(first));
  harness_.PutFile(u"Models\\Models_A1", tools::MakeModel(second));
  harness_.PutFile(u"Models\\Models_B2", tools::MakeModel(second));
  Play({.keeps_file_ids = false});
  // Listed in the order of their names, as NTFS and Wine list them.
  ASSERT_THAT(ListedNames(*Open(u"Models")), ElementsAre(u"A_A1", u"Models_A1", u"Models_B2"));
  WindowState state;
  state.ScaleFactor = 2.0F;

  const BatchOutcome outcome = RunBatch(state, files_, harness_.Root() + u"Models\\",
                                        harness_.Root() + u"other\\..\\\\MODELS\\");

  EXPECT_EQ(outcome.tally, (RunTally{.attempted = 2, .succeeded = 2}));
  EXPECT_THAT(harness_.AllNames(u"Models"), ElementsAre(u"A_A1", u"Models_A1", u"Models_B2"));
  EXPECT_EQ(harness_.FileBytes(u"Models\\Models_A1"), testing::ScaledModel(first, 2.0F));
  EXPECT_EQ(harness_.FileBytes(u"Models\\Models_B2"), testing::ScaledModel(second, 2.0F));
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
TEST_F(Win32FileSystemTest, AVolumeWithoutPosixRenamesIsAskedOncePerFolder) {
  harness_.PutFile(u"out_A1", {7});
  harness_.PutFile(u"out_A2", {7});
  Play({.posix_rename = static_cast<NTSTATUS>(0xC000000DL)});
  const auto folder = Open();

  Replace(*folder, u"out_A1", {1});
  Replace(*folder, u"out_A2", {2});

  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1}));
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{2}));
  EXPECT_EQ(played.posix_renames_asked, 1);
}

TEST_F(Win32FileSystemTest, ListsWhatARedirectorAnswersAndAnEmptyRootAsEmpty) {
  harness_.PutFile(u"model_A1", {1});
  harness_.PutFile(u"model_A2", {2});
  Play({.refuses_id_listings = true});
  const auto folder = Open();

  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"model_A1", u"model_A2"));
  played.empty_root = true;
  EXPECT_THAT(ListedNames(*folder), ::testing::IsEmpty());
  EXPECT_EQ(folder->RemoveAbandonedStaging(), 0U);
}

TEST_F(Win32FileSystemTest, APlaceholderOfACloudFolderIsAFileNotALink) {
  harness_.PutFile(u"locked_A1", {5});
  harness_.MakeReadOnly(u"locked_A1");
  harness_.PutAbandonedStaging(u"");
  Play({.cloud_placeholders = true});
  const auto folder = Open();

  const auto output = folder->OpenForReplacing(u"locked_A1", kDefaultPermissions);
  output->Write(Bytes{1, 2, 3});
  EXPECT_THROW(output->Commit(), FileError);
  EXPECT_EQ(folder->RemoveAbandonedStaging(), 1U);
  EXPECT_EQ(harness_.FileBytes(u"locked_A1"), (Bytes{5}));
}

// Wine makes no symbolic links (CreateSymbolicLinkW succeeds and makes
// nothing), so the link is played: opened, it finds nothing; opened as a
// reparse point, it is there.
TEST_F(Win32FileSystemTest, ALinkThatLeadsNowhereSaysSoWhereAMissingFileDoesNot) {
  harness_.PutFile(u"broken_A1", {1});
  Play({.broken_links = true});
  const auto folder = Open();
  const auto problem_opening = [&](std::u16string_view name) {
    try {
      folder->OpenForReading(name);
    } catch (const FileError& error) {
      return error.Problem();
    }
    ADD_FAILURE() << "opened";
    return FileProblem::kOther;
  };

  EXPECT_EQ(problem_opening(u"broken_A1"), FileProblem::kLeadsNowhere);
  EXPECT_EQ(problem_opening(u"missing_A1"), FileProblem::kOther);
}

TEST_F(Win32FileSystemTest, AReplaceCutShortOnFatIsFinishedByTheNextCleanUp) {
  harness_.PutFile(u"out_A1", {7, 7});
  Play({.file_system = L"FAT32", .pulled_during_replace = harness_.Path(u"out_A1")});
  {
    const auto output = Open()->OpenForReplacing(u"out_A1", kDefaultPermissions);
    output->Write(Bytes{1, 2, 3});
    EXPECT_THROW(output->Commit(), FileError);
  }
  Play({.file_system = L"FAT32"});  // the stick is back

  EXPECT_EQ(Open()->RemoveAbandonedStaging(), 1U);
  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"out_A1"));
}

TEST_F(Win32FileSystemTest, OnFatTheCleanUpKeepsEveryWholeStagingFileThatMayBeTheOnlyCopy) {
  harness_.PutFile(u"kept_A1", {9});
  harness_.PutFile(u".vendrake-12.kept_A1.ready", {1});  // stopped before replacing
  // For an output whose name did not fit, HIDDEN as every staging file.
  Win32Harness::PutFileWithAttributes(harness_.Path(u".vendrake-13.ready"), {2},
                                      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  harness_.PutAbandonedStaging(u"");  // never whole
  Play({.file_system = L"exFAT"});
  const auto folder = Open();

  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"kept_A1"));
  EXPECT_EQ(folder->RemoveAbandonedStaging(), 3U);
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"kept_A1", u"vendrake-recovered-13"));
  EXPECT_EQ(harness_.FileBytes(u"kept_A1"), (Bytes{9}));
  // Left where the user sees it, and where a run passes it over, saying so.
  EXPECT_EQ(harness_.AttributesOf(u"vendrake-recovered-13") & FILE_ATTRIBUTE_HIDDEN, 0U);
  EXPECT_THAT(ListedNames(*folder), ElementsAre(u"kept_A1", u"vendrake-recovered-13"));
}

struct VolumeCase {
  const char* name;
  PlayedVolume volume;
  bool yes;  // what the test asks of it
};
std::string CaseName(const ::testing::TestParamInfo<VolumeCase>& info) { return info.param.name; }

// Volumes that give file IDs of other kinds, or none that tell files apart.
class Win32Identity : public Win32FileSystemTest,
                      public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(Win32Identity, IsKnownOnlyWhereTheVolumeTellsFilesApart) {
  harness_.PutFile(u"first_A1", {1});
  Play(GetParam().volume);
  const auto folder = Open();

  const FileIdentity written = Replace(*folder, u"out_A1", {2});
  const FileIdentity read = folder->OpenForReading(u"out_A1")->Identity();
  const FileIdentity first = folder->OpenForReading(u"first_A1")->Identity();
  if (GetParam().yes) {
    EXPECT_TRUE(written.Known());
    EXPECT_EQ(read, written);
    EXPECT_NE(first, written);
  } else {
    EXPECT_EQ(written, FileIdentity{});
    EXPECT_EQ(read, FileIdentity{});
  }
  // A folder is known however it is reached, by its ID or by where the
  // system says it is.
  harness_.PutFolder(u"sub");
  const FileIdentity sub = Open(u"sub")->Identity();
  EXPECT_TRUE(sub.Known());
  EXPECT_NE(sub, folder->Identity());
  EXPECT_EQ(Open(u"SUB\\")->Identity(), sub);
}

using Ids = PlayedVolume::Ids;
INSTANTIATE_TEST_SUITE_P(
    Win32, Win32Identity,
    ::testing::Values(VolumeCase{"OnlyTheIndex", {.ids = Ids::kIndexOnly}, true},
                      VolumeCase{"IdsThatFollowNames", {.ids = Ids::kOfNames}, true},
                      VolumeCase{"IdsNotKept", {.keeps_file_ids = false}, false},
                      VolumeCase{"AllOnes", {.ids = Ids::kAllOnes}, false},
                      VolumeCase{"AllOnesIndex", {.ids = Ids::kIndexAllOnes}, false}),
    CaseName);

// Whether a volume takes one flush of the disk for a whole group of outputs.
class Win32Flushing : public Win32FileSystemTest, public ::testing::WithParamInterface<VolumeCase> {
 protected:
  // Stages "out_A1", "out_A2" (which exists) and "out_A3" with 1, 3 and 1
  // bytes, flushes them, commits them, and flushes their names; which of the
  // commits failed.
  std::vector<bool> StageFlushCommit(PlayedVolume volume) {
    harness_.PutFile(u"out_A2", {9});
    Play(std::move(volume));
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
  EXPECT_THAT(StageFlushCommit(GetParam().volume), ElementsAre(false, false, false));
  // The group, and then the names it took; on FAT, the name that says
  // out_A2 is ready to replace the old one too.
  const int ready = GetParam().volume.file_system != nullptr ? 1 : 0;
  EXPECT_EQ(played.full_flushes, (GetParam().yes ? 1 + 1 : 3 + 1) + ready);
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{1, 2, 3}));
}

TEST_P(Win32Flushing, AFileTheDiskCannotTakeFailsAloneAndItsOldOutputStays) {
  PlayedVolume volume = GetParam().volume;
  if (GetParam().yes) {
    volume.writeout_fails = true;
    EXPECT_THAT(StageFlushCommit(volume), ElementsAre(false, true, false));
    // Each output flushes alone to find which one the failure concerns.
    volume.writeout_fails = false;
    volume.first_flush_fails = true;
  }
  volume.flush_fails = true;
  EXPECT_THAT(StageFlushCommit(volume), ElementsAre(false, true, false));
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{9}));
  EXPECT_EQ(harness_.FileBytes(u"out_A3"), (Bytes{1}));
}

constexpr NTSTATUS kWrittenOut = 0;
INSTANTIATE_TEST_SUITE_P(
    Win32, Win32Flushing,
    ::testing::Values(
        VolumeCase{"LocalNtfs", {.data_only_writeout = kWrittenOut}, true},
        VolumeCase{"WithoutNtFlushBuffersFileEx", {}, false},
        VolumeCase{
            "NoSyncRefused", {.data_only_writeout = static_cast<NTSTATUS>(0xC000000DL)}, false},
        VolumeCase{"NoSyncAnsweredAsIncorrectFunction",
                   {.data_only_writeout = static_cast<NTSTATUS>(0xC0000010L)},
                   false},
        VolumeCase{"NtfsOnARemoteDevice",
                   {.remote_device = true, .data_only_writeout = kWrittenOut},
                   false},
        VolumeCase{"Fat", {.file_system = L"FAT32", .data_only_writeout = kWrittenOut}, false},
        VolumeCase{"Share", {.on_a_share = true, .data_only_writeout = kWrittenOut}, false}),
    CaseName);

// The committer flushes the group in hand while a staging thread is still
// writing out the next output, which no flush has covered then: it flushes
// alone before it takes its name.
TEST_F(Win32FileSystemTest, AnOutputWrittenOutDuringAGroupFlushFlushesBeforeItsName) {
  Play({.data_only_writeout = kWrittenOut, .slow = PlayedVolume::Slow::kWriteout});
  const auto folder = Open();
  const auto first = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  first->Write(Bytes{1});
  const auto slow = folder->OpenForReplacing(u"out_A2", kDefaultPermissions);
  std::thread staging([&] { slow->Write(Bytes{1, 2, 3}); });
  EXPECT_EQ(WaitForSingleObject(slow_call_begun, kLongestWaitMs), WAIT_OBJECT_0);

  folder->FlushStaged();
  SetEvent(slow_call_may_end);
  staging.join();
  first->Commit();
  slow->Commit();
  // The next group flush goes through the output named last, which brings
  // the names given since the last one to the disk along with the outputs.
  const auto third = folder->OpenForReplacing(u"out_A3", kDefaultPermissions);
  third->Write(Bytes{1});
  folder->FlushStaged();

  EXPECT_THAT(played.log,
              ElementsAre("writeout .vendrake-N.tmp flags 2", "writeout .vendrake-N.tmp flags 2",
                          "flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to out_A1",
                          "attributes of out_A1", "flush .vendrake-N.tmp hidden",
                          "rename .vendrake-N.tmp to out_A2", "attributes of out_A2",
                          "writeout .vendrake-N.tmp flags 2", "flush out_A2"));
  EXPECT_EQ(harness_.FileBytes(u"out_A2"), (Bytes{1, 2, 3}));
}

// An output written again while a group flush that found it listed is under
// way: that flush covers none of what came since, and the output flushes
// alone before it takes its name.
TEST_F(Win32FileSystemTest, AnOutputWrittenAgainDuringAGroupFlushFlushesBeforeItsName) {
  Play({.data_only_writeout = kWrittenOut, .slow = PlayedVolume::Slow::kFlush});
  const auto folder = Open();
  const auto output = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  output->Write(Bytes{1});
  std::thread committer([&] { folder->FlushStaged(); });
  EXPECT_EQ(WaitForSingleObject(slow_call_begun, kLongestWaitMs), WAIT_OBJECT_0);

  output->Write(Bytes{2, 3});
  SetEvent(slow_call_may_end);
  committer.join();
  output->Commit();

  EXPECT_THAT(played.log,
              ElementsAre("writeout .vendrake-N.tmp flags 2", "flush .vendrake-N.tmp hidden",
                          "writeout .vendrake-N.tmp flags 2", "flush .vendrake-N.tmp hidden",
                          "rename .vendrake-N.tmp to out_A1", "attributes of out_A1"));
  EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
}

// How an output that replaces another reaches the disk, and what becomes of
// it where replacing is refused or has to wait: the order of the flushes,
// writeouts and renames, and of the answers the volume plays.
struct ReplaceCase {
  const char* name;
  PlayedVolume volume;
  std::vector<std::string> log{};
  const char* error = nullptr;        // part of the reason out_A1 fails with, if it does
  const char* unconfirmed = nullptr;  // part of the reason the names may not be on the disk
};

class Win32Replacing : public Win32FileSystemTest,
                       public ::testing::WithParamInterface<ReplaceCase> {};

// A new output, then "out_A1" over the one there, each committed as soon as
// it is written, then the names flushed.
TEST_P(Win32Replacing, FlushesAndRenamesInTheOrderThatKeepsEveryOutput) {
  harness_.PutFile(u"out_A1", {7, 7});
  Play(GetParam().volume);
  const auto folder = Open();
  Replace(*folder, u"new_A1", {1});
  auto output = folder->OpenForReplacing(u"out_A1", kDefaultPermissions);
  output->Write(Bytes{1, 2, 3});
  std::string error;
  try {
    output->Commit();
  } catch (const FileError& failure) {
    error = failure.what();
  }
  output.reset();
  std::string unconfirmed;
  try {
    folder->FlushStaged();
  } catch (const FileError& failure) {
    unconfirmed = failure.what();
  }
  // Told once: nothing is left for the next flush.
  EXPECT_NO_THROW(folder->FlushStaged());

  EXPECT_EQ(played.log, GetParam().log);
  if (GetParam().unconfirmed != nullptr) {
    EXPECT_THAT(unconfirmed, ::testing::HasSubstr(GetParam().unconfirmed));
  } else {
    EXPECT_EQ(unconfirmed, "");
  }
  if (GetParam().error != nullptr) {
    EXPECT_THAT(error, ::testing::HasSubstr(GetParam().error));
    EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{7, 7}));
  } else {
    EXPECT_EQ(error, "");
    EXPECT_EQ(harness_.FileBytes(u"out_A1"), (Bytes{1, 2, 3}));
  }
  EXPECT_THAT(harness_.AllNames(u""), ElementsAre(u"new_A1", u"out_A1"));
}

const std::vector<std::string> kNtfsLog = {"flush .vendrake-N.tmp hidden",
                                           "rename .vendrake-N.tmp to new_A1",
                                           "attributes of new_A1",
                                           "flush .vendrake-N.tmp hidden",
                                           "rename .vendrake-N.tmp to out_A1",
                                           "attributes of out_A1",
                                           "flush out_A1"};
constexpr NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043L);
INSTANTIATE_TEST_SUITE_P(
    Win32, Win32Replacing,
    ::testing::Values(
        // The ready name is on the disk before the old entry goes, and the
        // names of the last group by a flush of a file, as a flush of a folder
        // does nothing on FAT.
        ReplaceCase{
            "Fat",
            {.file_system = L"FAT32"},
            {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
             "attributes of new_A1", "flush .vendrake-N.tmp hidden",
             "attributes of .vendrake-N.tmp hidden",
             "rename .vendrake-N.tmp to .vendrake-N.out_A1.ready",
             "flush .vendrake-N.out_A1.ready hidden", "rename .vendrake-N.out_A1.ready to out_A1",
             "attributes of out_A1", "flush out_A1"}},
        ReplaceCase{"Ntfs", {}, kNtfsLog},
        // Data and metadata written out without flushing the disk's cache.
        ReplaceCase{"LocalNtfs",
                    {.data_only_writeout = 0},
                    {"writeout .vendrake-N.tmp flags 2", "flush .vendrake-N.tmp hidden",
                     "rename .vendrake-N.tmp to new_A1", "attributes of new_A1",
                     "writeout .vendrake-N.tmp flags 2", "flush .vendrake-N.tmp hidden",
                     "rename .vendrake-N.tmp to out_A1", "attributes of out_A1", "flush out_A1"}},
        // Windows 10 1607 refuses the POSIX rename as an incorrect function.
        ReplaceCase{
            "InvalidDeviceRequest", {.posix_rename = static_cast<NTSTATUS>(0xC0000010L)}, kNtfsLog},
        ReplaceCase{
            "IllegalFunction", {.posix_rename = static_cast<NTSTATUS>(0xC00000AFL)}, kNtfsLog},
        // Refused at once, not after the retries.
        ReplaceCase{"MayNotDelete",
                    {.denies_deleting_output = true},
                    {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
                     "attributes of new_A1", "flush .vendrake-N.tmp hidden", "refused out_A1",
                     "flush new_A1"},
                    "cannot replace"},
        // The names then go to the disk by the folder, which a user who may
        // only add files may flush.
        ReplaceCase{"LastOutputHeld",
                    {.output_held_for_reading = true, .folder_takes_only_new_files = true},
                    {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
                     "attributes of new_A1", "flush .vendrake-N.tmp hidden", "held out_A1",
                     "rename .vendrake-N.tmp to out_A1", "attributes of out_A1", "held out_A1",
                     "flush folder"}},
        // FAT flushes no folder: the names may not be on the disk.
        ReplaceCase{
            "FatLastOutputHeld",
            {.file_system = L"FAT32", .output_held_for_reading = true},
            {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
             "attributes of new_A1", "flush .vendrake-N.tmp hidden", "held out_A1",
             "attributes of .vendrake-N.tmp hidden",
             "rename .vendrake-N.tmp to .vendrake-N.out_A1.ready",
             "flush .vendrake-N.out_A1.ready hidden", "rename .vendrake-N.out_A1.ready to out_A1",
             "attributes of out_A1", "held out_A1"},
            nullptr,
            "cannot flush the names of the outputs in"},
        ReplaceCase{"HeldByAnother",
                    {.in_use = kSharingViolation, .in_use_answers = 3},
                    {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
                     "attributes of new_A1", "flush .vendrake-N.tmp hidden", "in use out_A1",
                     "in use out_A1", "in use out_A1", "rename .vendrake-N.tmp to out_A1",
                     "attributes of out_A1", "flush out_A1"}},
        ReplaceCase{"DeletePending",
                    {.in_use = static_cast<NTSTATUS>(0xC0000056L), .in_use_answers = 3},
                    {"flush .vendrake-N.tmp hidden", "rename .vendrake-N.tmp to new_A1",
                     "attributes of new_A1", "flush .vendrake-N.tmp hidden", "in use out_A1",
                     "in use out_A1", "in use out_A1", "rename .vendrake-N.tmp to out_A1",
                     "attributes of out_A1", "flush out_A1"}}),
    [](const auto& row) { return std::string(row.param.name); });

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
