#include "engine/win32/win32_cleanup.h"

#include "engine/win32/win32_entries.h"
#include "engine/win32/win32_staging_names.h"
#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine::win32 {
namespace {

// Whether `name` is that of a staging file in `folder`: ".vendrake-<n>.tmp"
// while it is written, and on a volume that lacks atomic replace also
// ".vendrake-<n>.<output>.ready" (or ".vendrake-<n>.ready" where the output's
// name does not fit) once it is whole, on disk, and about to replace the
// output.
bool IsStagingName(const HeldFolder& folder, std::u16string_view name) {
  return IsWritingName(name) || (folder.lacks_atomic_replace && ReadyFor(name).has_value());
}

// Gives a staging file that is settled for good the attributes it carries,
// but for HIDDEN, which it had only for being a staging file.
void Unhide(HANDLE file, DWORD attributes) {
  attributes &= ~DWORD{FILE_ATTRIBUTE_HIDDEN};
  SetAttributes(file, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
}

// Settles a whole staging file, open as `file` with the attributes
// `attributes`, that was about to replace the output `output` in `folder`
// when the replacing failed or the run stopped. Returns whether the staging
// file is gone.
bool SettleReady(HANDLE file, DWORD attributes, HANDLE folder, std::u16string_view number,
                 std::u16string_view output) {
  if (output.empty()) {
    // Which output it was for did not fit in its name, and it may be the only
    // copy of one: it stays, where the user sees it and can tell what it is,
    // and where a run passes it over, saying why (IsSetAsideName).
    if (!NT_SUCCESS(RenameInFolder(file, folder, RecoveredName(number), Existing::kKeep))) {
      return false;
    }
    Unhide(file, attributes);
    return true;
  }
  // A missing output lost its old contents part way through the replacing,
  // and these are its new ones: the replacing is finished. An output that is
  // there was never touched.
  const NTSTATUS status = RenameInFolder(file, folder, output, Existing::kKeep);
  if (NT_SUCCESS(status)) {
    Unhide(file, attributes);
    return true;
  }
  return status == kStatusNameCollision &&
         NT_SUCCESS(RetryWhileInUse([&] { return MarkForDeletion(file); }));
}

}  // namespace

std::size_t RemoveAbandonedStaging(const HeldFolder& held, const std::u16string& folder_path) {
  const HANDLE folder = held.handle.Get();
  std::size_t removed = 0;
  FolderEntries entries(folder, folder_path);
  while (const FolderEntries::Entry* entry = entries.Next()) {
    if ((entry->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsStagingName(held, entry->name)) {
      continue;
    }
    // The output that owns it holds it open without delete sharing for as
    // long as it lives, so opening it for deletion fails. That is no reason
    // to wait (see RetryWhileInUse): it is how a live one is told apart.
    const auto output = ReadyFor(entry->name);
    const bool settles = output.has_value() && held.lacks_atomic_replace;
    Handle file;
    if (!NT_SUCCESS(OpenInFolder(
            folder, entry->name,
            DELETE | FILE_READ_ATTRIBUTES | (settles ? FILE_WRITE_ATTRIBUTES : 0), kShareAll,
            FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, file))) {
      continue;
    }
    // A link is no staging file of ours; a staging file that a sync client
    // made a placeholder is.
    FILE_ATTRIBUTE_TAG_INFO information{};
    if (!Calls().get_information_by_handle_ex(file.Get(), FileAttributeTagInfo, &information,
                                              sizeof(information)) ||
        IsLink(information)) {
      continue;
    }
    if (settles) {
      if (SettleReady(file.Get(), information.FileAttributes, folder, StagingNumber(entry->name),
                      *output)) {
        ++removed;
      }
    } else if (NT_SUCCESS(RetryWhileInUse([&] { return MarkForDeletion(file.Get()); }))) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace vendrake::engine::win32
