#include "engine/win32/win32_handle.h"

#include <cstring>
#include <vector>

#include "engine/errors.h"
#include "engine/text_encoding.h"

namespace vendrake::engine::win32 {
namespace {

// FileRenameInformation as the native API takes it.
struct RenameInformation {
  BOOLEAN replace_if_exists;
  HANDLE root_directory;
  ULONG file_name_length;
  WCHAR file_name[1];
};
constexpr auto kFileRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);

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

void FailWithError(std::string_view what, std::u16string_view path, DWORD error) {
  throw FileError(std::string(what) + " " + Utf16ToUtf8(path) + ": " + ReasonFor(error));
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
      NtCreateFile(&handle, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share,
                   disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (NT_SUCCESS(status)) opened = Handle(handle);
  return status;
}

NTSTATUS RenameInFolder(HANDLE file, HANDLE folder, std::u16string_view name, bool replace) {
  std::vector<unsigned char> buffer(sizeof(RenameInformation) + name.size() * sizeof(WCHAR));
  auto* information = reinterpret_cast<RenameInformation*>(buffer.data());
  information->replace_if_exists = replace ? TRUE : FALSE;
  // With the folder as the root, a plain name stays in that folder; without
  // one, Wine would read it against the current directory.
  information->root_directory = folder;
  information->file_name_length = static_cast<ULONG>(name.size() * sizeof(WCHAR));
  std::memcpy(information->file_name, name.data(), name.size() * sizeof(WCHAR));
  IO_STATUS_BLOCK io{};
  return NtSetInformationFile(file, &io, information, static_cast<ULONG>(buffer.size()),
                              kFileRenameInformation);
}

BY_HANDLE_FILE_INFORMATION InformationOf(HANDLE handle, std::u16string_view path) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) FailWithError("cannot look at", path);
  return information;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return {.volume = information.dwVolumeSerialNumber,
          .file = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

bool SetAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // times of 0 stay as they are
  basic.FileAttributes = attributes;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic)) != 0;
}

bool MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) !=
         0;
}

}  // namespace vendrake::engine::win32
