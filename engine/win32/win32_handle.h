#pragma once

#include <windows.h>
#include <winternl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "engine/errors.h"
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

class StagedOutput;

// A folder held open for a run, with what the run learns about its volume on
// the way; shared by the folder and the outputs staged in it, which may
// outlive it.
struct HeldFolder {
  // Holds the folder open as `held` and learns about its volume; throws
  // FileError naming `path`.
  HeldFolder(Handle held, std::u16string_view path);
  Handle handle;
  // The volume is FAT or exFAT, whose renames over a file are no single step:
  // see win32_staging.cpp.
  bool lacks_atomic_replace = false;
  // One full flush brings the data and metadata of every file written out
  // before it (FLUSH_FLAGS_NO_SYNC, which leaves the disk's cache alone), and
  // every name given, to the disk: NTFS on a local disk, where a flush
  // commits the journal and flushes the disk's cache. Cleared when the system
  // cannot write a file out that way (NtFlushBuffersFileEx is missing, or
  // the volume does not take the flag).
  // Staging threads may clear it while others read it.
  std::atomic<bool> one_flush_for_all{false};
  // Outputs written, and written out where that is done, since the folder
  // was last flushed, not yet committed; staging threads add to it while the
  // folder is flushed. An output is added only once its write-out has
  // returned, so that a group flush that finds it there covers it.
  std::set<StagedOutput*> unflushed;
  // How many group flushes have begun: an output listed after one began is
  // not covered by it (see FlushStaged).
  std::uint64_t group_flushes_begun = 0;
  // Guards the two above, and what each output knows of its own flushing.
  std::mutex unflushed_mutex;
  // Whether an output has taken its name since the folder was last flushed,
  // and the name the last one took. A flush of a file writes its entry and
  // its folder's entries (on FAT, flushing a folder does nothing), and on
  // NTFS a flush of the file whose last change is the newest rename commits
  // that rename with all before it.
  bool names_unflushed = false;
  std::u16string last_named;
  // The folder's file ID as the volume gives it (see FileIdOf), and whether
  // the volume's file IDs tell files apart (see KeepsFileIds).
  FileIdentity file_id;
  bool keeps_file_ids = false;
  // Cleared once the volume turns down POSIX renames, so that later outputs go
  // straight to the classic rename rather than asking again for every file.
  std::atomic<bool> takes_posix_rename{true};
};

// Throws FileError: "<what> <path>: <the system's reason for `error`>", of
// the problem `problem` unless `error` says the disk or the handles ran out.
[[noreturn]] void FailWithError(std::string_view what, std::u16string_view path, DWORD error,
                                FileProblem problem = FileProblem::kOther);
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

// How a rename treats a file that has the new name already.
enum class Existing {
  kKeep,  // the rename fails with kStatusNameCollision
  // The classic rename (FileRenameInformation): Windows refuses it with
  // STATUS_ACCESS_DENIED while anyone has the old file open, even sharing
  // delete access.
  kReplace,
  // FileRenameInformationEx with POSIX semantics: the old file loses its name
  // at once even while others hold it open, as long as they share delete
  // access (NTFS from Windows 10 1709; FAT, exFAT, older SMB servers and Wine
  // refuse the class, see IsUnsupported).
  kReplacePosix,
};

// Renames the file open as `file` to `name` inside the folder open as
// `folder`. Windows replaces no READONLY file this way; Wine does, so the
// callers look first.
NTSTATUS RenameInFolder(HANDLE file, HANDLE folder, std::u16string_view name, Existing existing);

// Renames the file open as `file` over what has the name `name` in `folder`:
// with POSIX semantics where the volume takes them, with the classic rename
// where not, retrying while another program has the old file open
// (RetryWhileInUse). Access denied that is no such program stands at once.
NTSTATUS ReplaceInFolder(HANDLE file, HeldFolder& folder, std::u16string_view name);

// Whether `status` says that the volume does not do what was asked (a class
// of information, a flag), rather than that the call itself failed: the
// statuses the system reports as ERROR_INVALID_PARAMETER,
// ERROR_NOT_SUPPORTED or ERROR_INVALID_FUNCTION. FAT and exFAT answer
// STATUS_INVALID_PARAMETER, some redirectors STATUS_NOT_SUPPORTED or
// STATUS_INVALID_INFO_CLASS, Wine 8 STATUS_NOT_IMPLEMENTED, and Windows 10
// 1607 and Server 2016 statuses that read as "Incorrect function"
// (STATUS_INVALID_DEVICE_REQUEST, STATUS_ILLEGAL_FUNCTION).
bool IsUnsupported(NTSTATUS status);

// Whether `status` says that another program has the file open in the way:
// a sharing violation, or a deletion that waits for its last handle to close
// (STATUS_DELETE_PENDING, which the system reports as access denied).
bool IsInUse(NTSTATUS status);

// Calls `attempt` until it answers anything but IsInUse. Virus scanners, the
// search indexer and sync clients open fresh files on their own for a
// moment; after about two seconds of backing off the answer stands.
NTSTATUS RetryWhileInUse(const std::function<NTSTATUS()>& attempt);

// What the handle's file is; throws FileError naming `path`.
BY_HANDLE_FILE_INFORMATION InformationOf(HANDLE handle, std::u16string_view path);

// The volume serial number and the file ID of the handle's file: the 128-bit
// ID and 64-bit serial of FileIdInfo (ReFS needs all 128 bits), or where the
// volume does not take that class (Windows 7, some redirectors), the 64-bit
// index and 32-bit serial of GetFileInformationByHandle. Throws FileError
// naming `path`.
FileIdentity FileIdOf(HANDLE handle, std::u16string_view path);
// Whether the volume of the handle's file keeps its file IDs, as those that
// can open a file by its ID say (FILE_SUPPORTS_OPEN_BY_FILE_ID). Shares that
// make IDs up as handles come and go, and may give a closed file's ID to
// another (RDP's \\tsclient, VirtualBox's shared folders), do not, and
// neither does Wine 8, whose IDs are inode numbers.
bool KeepsFileIds(HANDLE handle);
// The identity of the handle's file in the folder `folder` (see
// FileIdentity): unknown, all zeros, where the volume gives no ID that tells
// files apart. Throws FileError naming `path`.
FileIdentity IdentityIn(const HeldFolder& folder, HANDLE handle, std::u16string_view path);

// The attributes and the reparse tag of the handle's file; throws FileError
// naming `path`.
FILE_ATTRIBUTE_TAG_INFO AttributesAndTagOf(HANDLE handle, std::u16string_view path);
// Whether the file is a link: a symbolic link, or a mount point (a junction).
// Any other reparse point leaves a file a file: OneDrive's placeholders
// (IO_REPARSE_TAG_CLOUD_*), files that Windows Server deduplicated, files in
// a container's layered file system.
bool IsLink(const FILE_ATTRIBUTE_TAG_INFO& information);

// Gives the open file the attributes `attributes` (FILE_ATTRIBUTE_NORMAL for
// none); false with the last error set.
bool SetAttributes(HANDLE file, DWORD attributes);
// Marks the open file for deletion when its last handle closes.
NTSTATUS MarkForDeletion(HANDLE file);

// The statuses the engine tells apart, which <ntstatus.h> has only at the
// cost of clashing with <windows.h>.
inline constexpr NTSTATUS kStatusNameCollision = static_cast<NTSTATUS>(0xC0000035L);
inline constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022L);
inline constexpr NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043L);
inline constexpr NTSTATUS kStatusDeletePending = static_cast<NTSTATUS>(0xC0000056L);
inline constexpr NTSTATUS kStatusObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
inline constexpr NTSTATUS kStatusObjectPathNotFound = static_cast<NTSTATUS>(0xC000003AL);

inline constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace vendrake::engine::win32
