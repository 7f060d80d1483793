#include "engine/win32/win32_file_system.h"

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "engine/errors.h"
#include "engine/native_path.h"
#include "engine/text_encoding.h"
#include "engine/win32/win32_cleanup.h"
#include "engine/win32/win32_entries.h"
#include "engine/win32/win32_handle.h"
#include "engine/win32/win32_staging.h"
#include "engine/win32/win32_staging_names.h"
#include "engine/win32/win32_system_calls.h"

// In ntdll, which <winternl.h> leaves out.
extern "C" NTSTATUS NTAPI RtlUpcaseUnicodeString(PUNICODE_STRING destination,
                                                 PCUNICODE_STRING source, BOOLEAN allocate);

namespace vendrake::engine {
namespace {

using win32::FailWithError;
using win32::FailWithStatus;
using win32::Handle;
using win32::kShareAll;

// CreateDirectoryW takes at most MAX_PATH less room for an 8.3 file name.
constexpr std::size_t kLongestPlainPath = MAX_PATH - 12 - 1;
constexpr DWORD kMostPerRead = 1U << 30;
// Not a normal file.
constexpr DWORD kSkippedAttributes =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The name as NTFS, FAT and exFAT compare names regardless of case: through
// a table that maps each UTF-16 code unit to its upper case, as the system's
// own does (CompareStringOrdinal ignoring case). Letters beyond the Basic
// Multilingual Plane stay as they are, and no letter becomes two. The upper
// case of a language (LCMapStringEx) would fold some of those.
std::u16string Upcased(std::u16string_view name) {
  std::u16string key(name.size(), u'\0');
  constexpr std::size_t kMostPerCall = 0x7FFF;  // a UNICODE_STRING counts bytes in 16 bits
  for (std::size_t start = 0; start < name.size(); start += kMostPerCall) {
    const auto bytes =
        static_cast<USHORT>(std::min(name.size() - start, kMostPerCall) * sizeof(WCHAR));
    const UNICODE_STRING source{bytes, bytes,
                                const_cast<PWSTR>(reinterpret_cast<PCWSTR>(name.data() + start))};
    UNICODE_STRING upper{0, bytes, reinterpret_cast<PWSTR>(key.data() + start)};
    RtlUpcaseUnicodeString(&upper, &source, FALSE);
  }
  return key;
}

// The path the system gives for the open handle in the form `flags` asks
// for, or the empty text where it gives none.
std::u16string FinalPath(HANDLE handle, DWORD flags) {
  std::u16string path(MAX_PATH, u'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = win32::Calls().get_final_path_name(
        handle, reinterpret_cast<LPWSTR>(path.data()), static_cast<DWORD>(path.size()), flags);
    if (length == 0) return {};
    // Otherwise the room needed, which grows if the folder moves meanwhile.
    if (length < path.size()) return path.substr(0, length);
    path.resize(length);
  }
  return {};
}

std::uint64_t Fnv1a(std::u16string_view text, std::uint64_t basis) {
  for (const char16_t unit : text) basis = (basis ^ unit) * 0x100000001B3ULL;
  return basis;
}

// A folder's identity where its volume gives no file ID that it keeps (FAT,
// shares without FILE_SUPPORTS_OPEN_BY_FILE_ID, Wine): the system's own
// answer to where the open folder is, which names it the same way however it
// was reached. GetFinalPathNameByHandleW follows links and junctions,
// resolves "." and "..", gives the drive that a subst drive letter stands
// for and a mapped share's \\?\UNC\ path, and with FILE_NAME_NORMALIZED
// long names for short ones. A volume with no drive letter has no such path
// (ERROR_PATH_NOT_FOUND) and is named by its device instead; a share where
// the user may not see every folder on the way refuses the normalised path
// (ERROR_ACCESS_DENIED) and gives the path as opened. Two folders named in
// different forms are never the same. The path is compared as the volume
// compares names, by a 128-bit hash of its upper-cased form.
FileIdentity IdentityByFinalPath(HANDLE folder) {
  constexpr DWORD kForms[] = {FILE_NAME_NORMALIZED | VOLUME_NAME_DOS,
                              FILE_NAME_NORMALIZED | VOLUME_NAME_NT,
                              FILE_NAME_OPENED | VOLUME_NAME_DOS};
  for (const DWORD form : kForms) {
    std::u16string path = FinalPath(folder, form);
    if (path.empty()) continue;
    while (path.size() > 1 && path.back() == u'\\') path.pop_back();
    const std::u16string key = Upcased(path);
    return {.volume = form + 1,
            .file = Fnv1a(key, 0xCBF29CE484222325ULL),
            .file_high = Fnv1a(key, 0x84222325CBF29CE4ULL)};
  }
  return {};
}

class Listing : public FolderListing {
 public:
  Listing(std::shared_ptr<const win32::HeldFolder> folder, std::u16string path)
      : folder_(std::move(folder)), entries_(folder_->handle.Get(), std::move(path)) {}

  std::u16string Next() override {
    while (const win32::FolderEntries::Entry* entry = entries_.Next()) {
      // Staging files are HIDDEN; the name also keeps out one that lost it.
      if ((entry->attributes & kSkippedAttributes) == 0 &&
          !win32::IsKeptFromListings(entry->name)) {
        return entry->name;
      }
    }
    return {};
  }

 private:
  std::shared_ptr<const win32::HeldFolder> folder_;
  win32::FolderEntries entries_;
};

class Input : public InputFile {
 public:
  Input(Handle file, std::u16string path, std::uint64_t length, FileIdentity identity)
      : file_(std::move(file)), path_(std::move(path)), length_(length), identity_(identity) {}

  std::uint64_t Length() override { return length_; }
  FileIdentity Identity() override { return identity_; }
  Permissions PermissionBits() override { return kDefaultPermissions; }

  void Read(std::span<std::uint8_t> bytes) override {
    while (!bytes.empty()) {
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kMostPerRead));
      DWORD got = 0;
      if (!win32::Calls().read_file(file_.Get(), bytes.data(), chunk, &got, nullptr)) {
        FailWithError("cannot read", path_);
      }
      if (got == 0) throw FileError("file shrank while being read: " + Utf16ToUtf8(path_));
      bytes = bytes.subspan(got);
    }
  }

 private:
  Handle file_;
  std::u16string path_;
  std::uint64_t length_;
  FileIdentity identity_;
};

class Win32Folder : public Folder {
 public:
  Win32Folder(std::shared_ptr<win32::HeldFolder> folder, std::u16string path)
      : folder_(std::move(folder)), path_(std::move(path)) {}

  std::unique_ptr<FolderListing> ListNormalFiles() override {
    return std::make_unique<Listing>(folder_, path_);
  }

  std::unique_ptr<InputFile> OpenForReading(std::u16string_view name) override {
    std::u16string path = win32::PathFor(path_, win32::CheckedName(name));
    if (win32::IsSetAsideName(name)) {
      throw FileError("set aside by the clean-up of a stopped run: " + Utf16ToUtf8(path),
                      FileProblem::kSetAside);
    }
    // Whatever else has the file open may go on writing, renaming or
    // deleting it; only a program that denies reading makes this fail.
    Handle file;
    const NTSTATUS status =
        win32::OpenInFolder(folder_->handle.Get(), name, GENERIC_READ, kShareAll, FILE_OPEN,
                            FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, 0, file);
    if (!NT_SUCCESS(status)) {
      if (IsLinkLeadingNowhere(name, status)) {
        throw FileError("the link leads to no file: " + Utf16ToUtf8(path),
                        FileProblem::kLeadsNowhere);
      }
      FailWithStatus("cannot open", path, status);
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file.Get(), &length)) FailWithError("cannot look at", path);
    const FileIdentity identity = win32::IdentityIn(*folder_, file.Get(), path);
    return std::make_unique<Input>(std::move(file), std::move(path),
                                   static_cast<std::uint64_t>(length.QuadPart), identity);
  }

  std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view name,
                                               Permissions /*source_permissions*/) override {
    return win32::StageOutput(folder_, path_, std::u16string(win32::CheckedName(name)));
  }

  FileIdentity Identity() override {
    const FileIdentity identity = win32::IdentityIn(*folder_, folder_->handle.Get(), path_);
    return identity.Known() ? identity : IdentityByFinalPath(folder_->handle.Get());
  }

  FileIdentity IdentityAt(std::u16string_view name) override {
    // Attributes only: a link is not followed, and no content is opened, so
    // a virus scanner has nothing to look at.
    try {
      Handle file;
      const NTSTATUS status =
          win32::OpenInFolder(folder_->handle.Get(), win32::CheckedName(name), FILE_READ_ATTRIBUTES,
                              kShareAll, FILE_OPEN, FILE_OPEN_REPARSE_POINT, 0, file);
      if (!NT_SUCCESS(status)) return {};
      return win32::IdentityIn(*folder_, file.Get(), win32::PathFor(path_, name));
    } catch (const std::exception&) {
      return {};
    }
  }

  bool IsEmpty() override {
    try {
      win32::FolderEntries entries(folder_->handle.Get(), path_);
      while (const win32::FolderEntries::Entry* entry = entries.Next()) {
        if (entry->name != u"." && entry->name != u".." &&
            !win32::IsKeptFromListings(entry->name)) {
          return false;
        }
      }
      return true;
    } catch (const Error&) {
      return false;
    }
  }

  std::size_t RemoveAbandonedStaging() override {
    return win32::RemoveAbandonedStaging(*folder_, path_);
  }

  void FlushStaged() override { win32::FlushStaged(*folder_, path_); }

  // Windows lets a process hold millions of handles.
  std::size_t StagingCapacity() override { return 256; }

 private:
  // Whether opening `name` found nothing (`status`) because it is a link
  // whose target is missing: the link itself is there.
  bool IsLinkLeadingNowhere(std::u16string_view name, NTSTATUS status) const {
    if (status != win32::kStatusObjectNameNotFound && status != win32::kStatusObjectPathNotFound) {
      return false;
    }
    Handle link;
    if (!NT_SUCCESS(win32::OpenInFolder(folder_->handle.Get(), name, FILE_READ_ATTRIBUTES,
                                        kShareAll, FILE_OPEN, FILE_OPEN_REPARSE_POINT, 0, link))) {
      return false;
    }
    FILE_ATTRIBUTE_TAG_INFO information{};
    return win32::Calls().get_information_by_handle_ex(link.Get(), FileAttributeTagInfo,
                                                       &information, sizeof(information)) &&
           win32::IsLink(information);
  }

  // Shared with the outputs being staged in the folder, which may outlive this.
  std::shared_ptr<win32::HeldFolder> folder_;
  std::u16string path_;
};

}  // namespace

std::u16string ToWin32Path(std::u16string_view path) {
  std::u16string windows = ToWindowsPath(path);
  if (windows.starts_with(u"\\\\?\\")) return windows;
  // Windows limits the whole path to MAX_PATH, the current folder included,
  // so it is the full path that is measured: a short relative text can name
  // a path too long for the plain form.
  const DWORD needed = GetFullPathNameW(Wide(windows), 0, nullptr, nullptr);
  if (needed == 0) return windows;  // the system will say what is wrong with it
  std::u16string full(needed, u'\0');
  const DWORD length =
      GetFullPathNameW(Wide(windows), needed, reinterpret_cast<wchar_t*>(full.data()), nullptr);
  // 0, or more room needed: the current folder changed in the meantime.
  if (length == 0 || length >= needed) return windows;
  full.resize(length);
  if (full.size() <= kLongestPlainPath || full.starts_with(u"\\\\.\\")) return full;
  if (full.starts_with(u"\\\\")) return u"\\\\?\\UNC\\" + full.substr(2);
  return u"\\\\?\\" + full;
}

namespace {

// Whether `win32_path`, its final separators aside, names a file: CreateFileW
// turns such a name down for its final "\" as a bad name (ERROR_INVALID_NAME),
// which says nothing of what is there.
bool NamesAFile(std::u16string win32_path) {
  while (win32_path.size() > 1 && win32_path.back() == u'\\') win32_path.pop_back();
  const DWORD attributes = GetFileAttributesW(Wide(win32_path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

void Win32FileSystem::CreateFolder(std::u16string_view folder) {
  if (!CreateDirectoryW(Wide(ToWin32Path(folder)), nullptr)) {
    FailWithError("cannot create folder", ToWindowsPath(folder));
  }
}

std::unique_ptr<Folder> Win32FileSystem::OpenFolder(std::u16string_view folder) {
  std::u16string path = ToWindowsPath(folder);
  const std::u16string win32_path = ToWin32Path(folder);
  // No delete sharing: while the run holds the folder, nobody can move it
  // away or delete it, and its path keeps naming it. A link is followed.
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  constexpr DWORD kHold = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  Handle handle(CreateFileW(Wide(win32_path), kHold | FILE_LIST_DIRECTORY, kShare, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsOpen() && GetLastError() == ERROR_ACCESS_DENIED) {
    // A folder one may write into but not list still takes outputs.
    handle = Handle(CreateFileW(Wide(win32_path), kHold, kShare, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  }
  if (!handle.IsOpen()) {
    const DWORD error = GetLastError();
    // A file on the way gives ERROR_PATH_NOT_FOUND too, and so reads as
    // missing, as Windows' own commands say of it.
    FileProblem problem = FileProblem::kOther;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      problem = FileProblem::kNoSuchFolder;
    } else if (NamesAFile(win32_path)) {
      problem = FileProblem::kNotAFolder;
    }
    FailWithError("cannot open folder", path, error, problem);
  }
  const DWORD attributes = win32::InformationOf(handle.Get(), path).dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    throw FileError("not a folder: " + Utf16ToUtf8(path), FileProblem::kNotAFolder);
  }
  auto held = std::make_shared<win32::HeldFolder>(std::move(handle), path);
  return std::make_unique<Win32Folder>(std::move(held), std::move(path));
}

bool Win32FileSystem::HidesByName(std::u16string_view /*name*/) const { return false; }

std::u16string Win32FileSystem::NameKey(std::u16string_view name) const { return Upcased(name); }

}  // namespace vendrake::engine
