#include "tests/engine/win32/played_volume.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <string_view>
#include <utility>

#include "engine/text_encoding.h"
#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine {

PlayedVolume played;
HANDLE slow_call_begun = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE slow_call_may_end = CreateEventW(nullptr, TRUE, FALSE, nullptr);

namespace {

namespace fs = std::filesystem;

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

}  // namespace

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

}  // namespace vendrake::engine
