#include "engine/win32/win32_handle.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/errors.h"
#include "engine/text_encoding.h"
#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine::win32 {
namespace {

// FILE_RENAME_INFORMATION as the native API takes it: a BOOLEAN for the
// classic class, flags for the Ex class, at the same place.
struct RenameInformation {
  union {
    BOOLEAN replace_if_exists;
    ULONG flags;
  };
  HANDLE root_directory;
  ULONG file_name_length;
  WCHAR file_name[1];
};
constexpr ULONG kFileBasicInformation = 4;
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileDispositionInformation = 13;
constexpr ULONG kFileRenameInformationEx = 65;
constexpr ULONG kRenameReplaceIfExists = 0x1;
constexpr ULONG kRenamePosixSemantics = 0x2;
// FILE_REMOTE_DEVICE of FILE_FS_DEVICE_INFORMATION, from the driver kit's headers.
constexpr ULONG kRemoteDevice = 0x10;

// The first pause between attempts, the longest one, and how long the
// attempts go on in all.
constexpr DWORD kFirstPauseMs = 10;
constexpr DWORD kLongestPauseMs = 250;
constexpr ULONGLONG kRetryForMs = 2000;

UNICODE_STRING CountedString(std::u16string_view text) {
  UNICODE_STRING counted;
  counted.Buffer = const_cast<PWSTR>(reinterpret_cast<PCWSTR>(text.data()));
  counted.Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
  counted.MaximumLength = counted.Length;
  return counted;
}

std::string ReasonFor(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string reason(text, text + length);
  LocalFree(text);
  while (!reason.empty() && (reason.back() == u'\n' || reason.back() == u'\r' ||
                             reason.back() == u' ' || reason.back() == u'.')) {
    reason.pop_back();
  }
  if (reason.empty()) return "error " + std::to_string(error);
  return Utf16ToUtf8(reason);
}

}  // namespace

void FailWithError(std::string_view what, std::u16string_view path, DWORD error,
                   FileProblem problem) {
  // ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers lack.
  constexpr DWORD kDiskQuotaExceeded = 1295;
  const bool short_of_room = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
                             error == kDiskQuotaExceeded || error == ERROR_TOO_MANY_OPEN_FILES;
  throw FileError(std::string(what) + " " + Utf16ToUtf8(path) + ": " + ReasonFor(error),
                  short_of_room ? FileProblem::kShortOfRoom : problem);
}

void FailWithStatus(std::string_view what, std::u16string_view path, NTSTATUS status) {
  FailWithError(what, path, RtlNtStatusToDosError(status));
}

std::u16string_view CheckedName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u".." ||
      name.find_first_of(std::u16string_view(u"\\/:\0", 4)) != std::u16string_view::npos) {
    throw FileError("not the name of a file in a folder: \"" + Utf16ToUtf8(name) + "\"");
  }
  return name;
}

std::u16string PathFor(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (!path.empty() && path.back() != u'\\') path.push_back(u'\\');
  return path.append(name);
}

NTSTATUS OpenInFolder(HANDLE folder, std::u16string_view name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, ULONG attributes, Handle& opened) {
  UNICODE_STRING counted = CountedString(name);
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &counted, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = INVALID_HANDLE_VALUE;
  const NTSTATUS status =
      Calls().create_file(&handle, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share,
                          disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (NT_SUCCESS(status)) opened = Handle(handle);
  return status;
}

NTSTATUS RenameInFolder(HANDLE file, HANDLE folder, std::u16string_view name, Existing existing) {
  std::vector<unsigned char> buffer(sizeof(RenameInformation) + name.size() * sizeof(WCHAR));
  auto* information = reinterpret_cast<RenameInformation*>(buffer.data());
  ULONG information_class = kFileRenameInformation;
  if (existing == Existing::kReplacePosix) {
    // Not FILE_RENAME_IGNORE_READONLY_ATTRIBUTE: a read-only output stays.
    information->flags = kRenameReplaceIfExists | kRenamePosixSemantics;
    information_class = kFileRenameInformationEx;
  } else {
    information->replace_if_exists = existing == Existing::kReplace ? TRUE : FALSE;
  }
  // With the folder as the root, a plain name stays in that folder; without
  // one, Wine would read it against the current directory.
  information->root_directory = folder;
  information->file_name_length = static_cast<ULONG>(name.size() * sizeof(WCHAR));
  std::memcpy(information->file_name, name.data(), name.size() * sizeof(WCHAR));
  IO_STATUS_BLOCK io{};
  return Calls().set_information_file(file, &io, information, static_cast<ULONG>(buffer.size()),
                                      information_class);
}

NTSTATUS ReplaceInFolder(HANDLE file, HeldFolder& folder, std::u16string_view name) {
  const auto rename = [&] {
    const bool posix = folder.takes_posix_rename.load(std::memory_order_relaxed);
    const NTSTATUS status =
        posix ? RenameInFolder(file, folder.handle.Get(), name, Existing::kReplacePosix) : 0;
    if (posix && !IsUnsupported(status)) return status;
    const NTSTATUS classic = RenameInFolder(file, folder.handle.Get(), name, Existing::kReplace);
    // STATUS_INVALID_PARAMETER may also be about the name; the class was to
    // blame only if the classic rename does not say the same.
    if (posix && classic != status) {
      folder.takes_posix_rename.store(false, std::memory_order_relaxed);
    }
    return classic;
  };
  return RetryWhileInUse([&] {
    // The classic rename answers access denied both while another program
    // has the old file open and where this user may not delete it. Opening
    // the old file alone, sharing nothing, tells them apart: a sharing
    // violation says someone has it open, and is waited for; access denied
    // says that the user may not, and stands at once. Where the file was free
    // the holder let go in between, and the rename is tried once more.
    for (int tries = 1;; ++tries) {
      const NTSTATUS renamed = rename();
      if (renamed != kStatusAccessDenied) return renamed;
      Handle alone;
      const NTSTATUS opened =
          OpenInFolder(folder.handle.Get(), name, DELETE, 0, FILE_OPEN,
                       FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, alone);
      if (IsInUse(opened)) return opened;
      if (!NT_SUCCESS(opened) || tries == 2) return renamed;
    }
  });
}

bool IsUnsupported(NTSTATUS status) {
  if (NT_SUCCESS(status)) return false;
  switch (RtlNtStatusToDosError(status)) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return true;
    default:
      return false;
  }
}

bool IsInUse(NTSTATUS status) {
  return status == kStatusSharingViolation || status == kStatusDeletePending;
}

NTSTATUS RetryWhileInUse(const std::function<NTSTATUS()>& attempt) {
  const ULONGLONG give_up_at = GetTickCount64() + kRetryForMs;
  DWORD pause = kFirstPauseMs;
  for (;;) {
    const NTSTATUS status = attempt();
    if (!IsInUse(status) || GetTickCount64() >= give_up_at) return status;
    Sleep(pause);
    pause = std::min(pause * 2, kLongestPauseMs);
  }
}

BY_HANDLE_FILE_INFORMATION InformationOf(HANDLE handle, std::u16string_view path) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) FailWithError("cannot look at", path);
  return information;
}

FileIdentity FileIdOf(HANDLE handle, std::u16string_view path) {
  FILE_ID_INFO id{};
  if (Calls().get_information_by_handle_ex(handle, FileIdInfo, &id, sizeof(id))) {
    FileIdentity identity{.volume = id.VolumeSerialNumber};
    static_assert(sizeof(id.FileId.Identifier) == 2 * sizeof(identity.file));
    std::memcpy(&identity.file, id.FileId.Identifier, sizeof(identity.file));
    std::memcpy(&identity.file_high, id.FileId.Identifier + sizeof(identity.file),
                sizeof(identity.file_high));
    return identity;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
      error != ERROR_INVALID_FUNCTION) {
    FailWithError("cannot look at", path, error);
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!Calls().get_file_information_by_handle(handle, &information)) {
    FailWithError("cannot look at", path);
  }
  return {.volume = information.dwVolumeSerialNumber,
          .file = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

bool KeepsFileIds(HANDLE handle) {
  DWORD flags = 0;
  return Calls().get_volume_information_by_handle(handle, nullptr, 0, nullptr, nullptr, &flags,
                                                  nullptr, 0) &&
         (flags & FILE_SUPPORTS_OPEN_BY_FILE_ID) != 0;
}

FileIdentity IdentityIn(const HeldFolder& folder, HANDLE handle, std::u16string_view path) {
  const FileIdentity id = FileIdOf(handle, path);
  // A file reached through a link may be on another volume than the folder.
  const bool kept =
      id.volume == folder.file_id.volume ? folder.keeps_file_ids : KeepsFileIds(handle);
  // All ones in 64 bits is as much "no ID" as in 128 (FILE_INVALID_FILE_ID).
  constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
  const bool no_id = id.file == kAllOnes && id.file_high == 0;
  if (!kept || no_id || !id.Known()) return {};
  return id;
}

HeldFolder::HeldFolder(Handle held, std::u16string_view path)
    : handle(std::move(held)),
      file_id(FileIdOf(handle.Get(), path)),
      keeps_file_ids(KeepsFileIds(handle.Get())) {
  wchar_t name[MAX_PATH + 1] = {};
  if (!Calls().get_volume_information_by_handle(handle.Get(), nullptr, 0, nullptr, nullptr, nullptr,
                                                name, MAX_PATH + 1)) {
    return;
  }
  const auto is = [&name](const wchar_t* file_system) {
    return CompareStringOrdinal(name, -1, file_system, -1, TRUE) == CSTR_EQUAL;
  };
  // By the file system's name rather than its flags: FAT and exFAT lack a
  // journal, which no flag names. Those that might stand for it do not:
  // FILE_SUPPORTS_POSIX_UNLINK_RENAME is missing on NTFS before Windows 10
  // 1709 and on many SMB servers, FILE_SUPPORTS_TRANSACTIONS on ReFS, and
  // their renames are atomic all the same. A share reports the file system of
  // the server's disk, or what the server chooses to say.
  lacks_atomic_replace = is(L"FAT") || is(L"FAT12") || is(L"FAT16") || is(L"FAT32") || is(L"exFAT");
  // A share reports the server's file system, but a flush there is the
  // server's flush of that one file. Only a file on a share answers
  // FileRemoteProtocolInfo; a file system in user mode that calls itself
  // NTFS, some of them backed by a network, says so by FILE_REMOTE_DEVICE
  // alone. A volume that answers neither is taken for remote.
  FILE_REMOTE_PROTOCOL_INFO remote{};
  FILE_FS_DEVICE_INFORMATION device{};
  IO_STATUS_BLOCK io{};
  const bool local = !Calls().get_information_by_handle_ex(handle.Get(), FileRemoteProtocolInfo,
                                                           &remote, sizeof(remote)) &&
                     NT_SUCCESS(Calls().query_volume_information(
                         handle.Get(), &io, &device, sizeof(device), FileFsDeviceInformation)) &&
                     (device.Characteristics & kRemoteDevice) == 0;
  one_flush_for_all = is(L"NTFS") && local;
}

FILE_ATTRIBUTE_TAG_INFO AttributesAndTagOf(HANDLE handle, std::u16string_view path) {
  FILE_ATTRIBUTE_TAG_INFO information{};
  if (!Calls().get_information_by_handle_ex(handle, FileAttributeTagInfo, &information,
                                            sizeof(information))) {
    FailWithError("cannot look at", path);
  }
  return information;
}

bool IsLink(const FILE_ATTRIBUTE_TAG_INFO& information) {
  return (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (information.ReparseTag == IO_REPARSE_TAG_SYMLINK ||
          information.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT);
}

bool SetAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // times of 0 stay as they are
  basic.FileAttributes = attributes;
  IO_STATUS_BLOCK io{};
  // FILE_BASIC_INFORMATION, laid out as FILE_BASIC_INFO is.
  const NTSTATUS status =
      Calls().set_information_file(file, &io, &basic, sizeof(basic), kFileBasicInformation);
  if (NT_SUCCESS(status)) return true;
  SetLastError(RtlNtStatusToDosError(status));
  return false;
}

NTSTATUS MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  IO_STATUS_BLOCK io{};
  return Calls().set_information_file(file, &io, &disposition, sizeof(disposition),
                                      kFileDispositionInformation);
}

}  // namespace vendrake::engine::win32
