#pragma once

#include <windows.h>
#include <winternl.h>

#include <string>
#include <string_view>
#include <utility>

#include "engine/file_system.h"

namespace vendrake::engine::win32 {

// Closes a handle once, whoever owns it last.
class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(other.Release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Reset(INVALID_HANDLE_VALUE); }

  HANDLE Get() const { return handle_; }
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

 private:
  void Reset(HANDLE handle) {
    if (IsOpen()) CloseHandle(handle_);
    handle_ = handle;
  }

  HANDLE handle_;
};

// Throws FileError: "<what> <path>: <the system's reason for `error`>".
[[noreturn]] void FailWithError(std::string_view what, std::u16string_view path, DWORD error);
[[noreturn]] inline void FailWithError(std::string_view what, std::u16string_view path) {
  FailWithError(what, path, GetLastError());
}
// The same for a status of the native API.
[[noreturn]] void FailWithStatus(std::string_view what, std::u16string_view path, NTSTATUS status);

// `name` itself, if it names a file of a folder: not empty, "." or "..", and
// without "\", "/", ":" (which would open a stream of another file) or NUL.
// Throws FileError otherwise.
std::u16string_view CheckedName(std::u16string_view name);

// The folder's path text joined with a name, for messages only.
std::u16string PathFor(std::u16string_view folder, std::u16string_view name);

// Opens `name` inside the folder open as `folder`, through the native API,
// which alone opens by a folder handle rather than by a path: whatever the
// folder's path comes to name, this is the folder that was opened. The empty
// name opens the folder itself anew. Names match regardless of case, as in
// every Windows path.
NTSTATUS OpenInFolder(HANDLE folder, std::u16string_view name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, ULONG attributes, Handle& opened);

// Renames the file open as `file` to `name` inside the folder open as
// `folder`, replacing a file of that name only if `replace`.
NTSTATUS RenameInFolder(HANDLE file, HANDLE folder, std::u16string_view name, bool replace);

// What the handle's file is; throws FileError naming `path`.
BY_HANDLE_FILE_INFORMATION InformationOf(HANDLE handle, std::u16string_view path);
FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information);

// Gives the open file the attributes `attributes` (FILE_ATTRIBUTE_NORMAL for
// none); false with the last error set.
bool SetAttributes(HANDLE file, DWORD attributes);
// Marks the open file for deletion when its last handle closes.
bool MarkForDeletion(HANDLE file);

// STATUS_OBJECT_NAME_COLLISION, which <ntstatus.h> has only at the cost of
// clashing with <windows.h>.
inline constexpr NTSTATUS kStatusNameCollision = static_cast<NTSTATUS>(0xC0000035L);

inline constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace vendrake::engine::win32
