#include "engine/win32/win32_entries.h"

#include <utility>

#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine::win32 {
namespace {

constexpr std::size_t kBufferWords = 8192;  // 64 KiB
constexpr std::size_t kUsedUp = static_cast<std::size_t>(-1);

}  // namespace

FolderEntries::FolderEntries(HANDLE folder, std::u16string path)
    : path_(std::move(path)), buffer_(kBufferWords), offset_(kUsedUp) {
  const NTSTATUS status = OpenInFolder(folder, u"", FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN,
                                       FILE_DIRECTORY_FILE, 0, handle_);
  if (!NT_SUCCESS(status)) FailWithStatus("cannot list", path_, status);
}

const FolderEntries::Entry* FolderEntries::Next() {
  if (offset_ == kUsedUp) {
    // Names and attributes are all a listing needs, and every file system and
    // redirector answers this class; some redirectors refuse the ones with
    // file IDs (FileIdBothDirectoryInfo).
    const FILE_INFO_BY_HANDLE_CLASS kind =
        restart_ ? FileFullDirectoryRestartInfo : FileFullDirectoryInfo;
    const bool first = std::exchange(restart_, false);
    if (!Calls().get_information_by_handle_ex(
            handle_.Get(), kind, buffer_.data(),
            static_cast<DWORD>(buffer_.size() * sizeof(std::uint64_t)))) {
      const DWORD error = GetLastError();
      if (error == ERROR_NO_MORE_FILES) return nullptr;
      // A drive's root has no "." or ".." entries, so when it is empty the
      // first query finds nothing at all and says ERROR_FILE_NOT_FOUND, not
      // ERROR_NO_MORE_FILES (an empty USB stick, a fresh VHD).
      if (first && error == ERROR_FILE_NOT_FOUND) return nullptr;
      FailWithError("cannot list", path_, error);
    }
    offset_ = 0;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer_.data());
  const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(bytes + offset_);
  entry_.name.assign(reinterpret_cast<const char16_t*>(info->FileName),
                     info->FileNameLength / sizeof(WCHAR));
  entry_.attributes = info->FileAttributes;
  offset_ = info->NextEntryOffset == 0 ? kUsedUp : offset_ + info->NextEntryOffset;
  return &entry_;
}

}  // namespace vendrake::engine::win32
