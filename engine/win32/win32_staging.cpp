#include "engine/win32/win32_staging.h"

#include <cstdint>
#include <mutex>
#include <span>
#include <utility>

#include "engine/errors.h"
#include "engine/text_encoding.h"
#include "engine/win32/win32_staging_names.h"
#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine::win32 {
namespace {

constexpr int kStagingNameAttempts = 64;
// What Windows gives a new file; never HIDDEN, which the staging file has.
constexpr DWORD kNewOutputAttributes = FILE_ATTRIBUTE_ARCHIVE;
// The attributes of a replaced file that its replacement takes over. Not
// READONLY, as a read-only file is never replaced.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr DWORD kMostPerWrite = 1U << 30;

}  // namespace

// Holds the staged contents until Commit gives them the output's name. The
// staging file is open without delete sharing until then, which is how
// another run's clean-up tells it from an abandoned one.
class StagedOutput : public OutputFile {
 public:
  StagedOutput(std::shared_ptr<HeldFolder> folder, std::u16string path, std::u16string name,
               std::u16string staging_name, Handle file)
      : folder_(std::move(folder)),
        path_(std::move(path)),
        name_(std::move(name)),
        staging_name_(std::move(staging_name)),
        file_(std::move(file)) {}

  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  ~StagedOutput() override {
    Unlisted();
    if (!committed_ && !only_copy_) RetryWhileInUse([&] { return MarkForDeletion(file_.Get()); });
  }

  void Write(std::span<const std::uint8_t> bytes) override {
    {
      // Whatever an earlier flush found, these bytes are not on the disk.
      const std::lock_guard lock(folder_->unflushed_mutex);
      folder_->unflushed.erase(this);
      on_disk_ = false;
    }
    while (!bytes.empty()) {
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kMostPerWrite));
      DWORD put = 0;
      if (!Calls().write_file(file_.Get(), bytes.data(), chunk, &put, nullptr)) {
        FailWithError("cannot write", path_);
      }
      bytes = bytes.subspan(put);
    }
    const DWORD write_out_error = folder_->one_flush_for_all ? WriteOut() : 0;
    // Listed only now: a group flush that began before the write-out
    // returned may have missed what it wrote out.
    const std::lock_guard lock(folder_->unflushed_mutex);
    if (flush_error_ == 0) flush_error_ = write_out_error;
    listed_after_ = folder_->group_flushes_begun;
    folder_->unflushed.insert(this);
  }

  HANDLE File() const { return file_.Get(); }

  // What the group flush that began as the folder's `begun`-th found: 0
  // when the contents are on the disk, or the system's reason why they could
  // not be brought there. An earlier reason stands. An output written again
  // since that flush began is left to a later one.
  void Flushed(DWORD error, std::uint64_t begun) {
    const std::lock_guard lock(folder_->unflushed_mutex);
    if (listed_after_ >= begun || folder_->unflushed.erase(this) == 0) return;
    if (flush_error_ == 0) flush_error_ = error;
    on_disk_ = flush_error_ == 0;
  }

  // Takes this output off the folder's unflushed ones.
  void Unlisted() {
    const std::lock_guard lock(folder_->unflushed_mutex);
    folder_->unflushed.erase(this);
  }

  FileIdentity Commit() override {
    ReachDisk();
    // The file keeps the HIDDEN of its staging name up to the rename, which
    // takes it along, so that no crash leaves a staging file in sight; the
    // output's own attributes come right after.
    DWORD settled = kNewOutputAttributes;
    const NTSTATUS status =
        RenameInFolder(file_.Get(), folder_->handle.Get(), name_, Existing::kKeep);
    if (status == kStatusNameCollision) {
      settled = Replace();
    } else if (!NT_SUCCESS(status)) {
      FailWithStatus("cannot write", path_, status);
    }
    committed_ = true;
    folder_->names_unflushed = true;
    folder_->last_named = name_;
    Show(settled);
    // Taken once the file has its name, through the handle still open: a
    // rename can change a file's ID (FAT's IDs are where its entry lies).
    // The output is written whatever happens here; unknown is safe.
    FileIdentity identity;
    try {
      identity = IdentityIn(*folder_, file_.Get(), path_);
    } catch (const FileError&) {
    }
    file_ = Handle();
    return identity;
  }

 private:
  // The contents must be on the disk before they take a name, or a crash
  // could leave an empty or partial file under it. FlushStaged brings them
  // there for a whole group; without it, the output flushes alone.
  void ReachDisk() {
    DWORD error = 0;
    bool on_disk = false;
    {
      const std::lock_guard lock(folder_->unflushed_mutex);
      error = flush_error_;
      on_disk = on_disk_;
    }
    if (error != 0) FailWithError("cannot write", path_, error);
    if (on_disk) return;
    if (!Calls().flush_file_buffers(file_.Get())) FailWithError("cannot write", path_);
    const std::lock_guard lock(folder_->unflushed_mutex);
    folder_->unflushed.erase(this);
    on_disk_ = true;
  }

  // Gives the output, which has its name, the attributes `settled`. Where the
  // volume will not have them, the output is whole but HIDDEN, out of sight
  // of Explorer and of every listing: it stays, as it is the output, and
  // fails with the reason, so that the user hears where it is. A volume that
  // keeps no attributes never hid it.
  void Show(DWORD settled) {
    if (SetAttributes(file_.Get(), settled)) return;
    const DWORD error = GetLastError();
    FILE_ATTRIBUTE_TAG_INFO now{};
    if (Calls().get_information_by_handle_ex(file_.Get(), FileAttributeTagInfo, &now,
                                             sizeof(now)) &&
        ((now.FileAttributes & ~settled) & FILE_ATTRIBUTE_HIDDEN) == 0) {
      return;
    }
    FailWithError("the output is whole but left hidden, as its attributes could not be set:", path_,
                  error);
  }

  // Renames the staged file over what has the name, a file or a link, never
  // followed; the attributes the output is to have.
  DWORD Replace() {
    const FILE_ATTRIBUTE_TAG_INFO existing = ExistingAttributes();
    const DWORD attributes = existing.FileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (!IsLink(existing)) {
        throw FileError("a folder has the output's name: " + Utf16ToUtf8(path_));
      }
      ReplaceFolderLink();
      return kNewOutputAttributes;
    }
    // A file with a reparse point of another kind, such as a placeholder of
    // a cloud-synced folder, is a file like any other.
    DWORD settled = kNewOutputAttributes;
    if (!IsLink(existing)) {
      RefuseIfNotReplaceable(attributes);
      const DWORD carried = attributes & kCarriedAttributes;
      settled = carried != 0 ? carried : FILE_ATTRIBUTE_NORMAL;
    }
    if (folder_->lacks_atomic_replace) MarkReady(settled);
    const NTSTATUS renamed = ReplaceInFolder(file_.Get(), *folder_, name_);
    if (NT_SUCCESS(renamed)) return settled;
    if (folder_->lacks_atomic_replace) {
      // FAT may have taken the name from the old file and failed to give it
      // to the new one.
      const NTSTATUS finished =
          RenameInFolder(file_.Get(), folder_->handle.Get(), name_, Existing::kKeep);
      if (NT_SUCCESS(finished)) return settled;
      // Unless the old file is there, this may be the only copy; the next
      // clean-up in the folder settles it.
      only_copy_ = finished != kStatusNameCollision;
    }
    FailWithStatus("cannot replace", path_, renamed);
  }

  // Writes the data and the metadata out of the system's cache now, and
  // waits for them, but does not flush the disk's own cache
  // (FLUSH_FLAGS_NO_SYNC, documented for NTFS, FAT and exFAT): the group's one
  // full flush then makes them durable. A write error found here is this
  // output's alone. Where ntdll lacks NtFlushBuffersFileEx (before Windows
  // 8, Wine 8) or the volume does not take the flag (older Windows 10 may
  // answer STATUS_INVALID_PARAMETER), every output flushes alone instead.
  // The system's reason for a write error, or 0.
  DWORD WriteOut() {
    constexpr ULONG kNoSync = 0x2;  // FLUSH_FLAGS_NO_SYNC
    const auto write_out = Calls().flush_buffers_file_ex;
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        write_out != nullptr ? write_out(file_.Get(), kNoSync, nullptr, 0, &io) : 0;
    if (write_out == nullptr || IsUnsupported(status)) {
      // From now on every output flushes alone, which needs no writing out.
      folder_->one_flush_for_all = false;
      return 0;
    }
    return NT_SUCCESS(status) ? 0 : RtlNtStatusToDosError(status);
  }

  // On FAT and exFAT, a replacing rename is no single step: it removes the old
  // file's entry and then renames the new file, with no journal to undo half
  // of it after a power loss or a pulled stick. Before it starts, the staging
  // file, whole and on disk, takes a name that says so and which output it is
  // for, so that the next clean-up can finish what was cut short rather than
  // delete the only copy. It keeps HIDDEN meanwhile, with the attributes
  // `settled` that the output is to have, for the clean-up to give it.
  // That name must be on the disk before the old entry goes: FAT writes a
  // file's entry, and its folder's, when the file is flushed, while a flush
  // of the folder does nothing there (fastfat's FatCommonFlushBuffers).
  void MarkReady(DWORD settled) {
    const std::u16string ready = ReadyName(staging_name_, name_);
    if (!SetAttributes(file_.Get(),
                       (settled & ~DWORD{FILE_ATTRIBUTE_NORMAL}) | FILE_ATTRIBUTE_HIDDEN)) {
      FailWithError("cannot set the attributes of", path_);
    }
    const NTSTATUS status =
        RenameInFolder(file_.Get(), folder_->handle.Get(), ready, Existing::kKeep);
    if (!NT_SUCCESS(status)) FailWithStatus("cannot replace", path_, status);
    if (!Calls().flush_file_buffers(file_.Get())) FailWithError("cannot replace", path_);
  }

  // Windows renames a file over no folder, not even over a link to one
  // (a junction or a folder's symbolic link). So the link steps aside under a
  // staging name, the output takes the name, and only then does the link go;
  // if the output cannot take the name, the link comes back.
  void ReplaceFolderLink() {
    Handle link;
    NTSTATUS status =
        OpenInFolder(folder_->handle.Get(), name_, DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                     FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, link);
    if (!NT_SUCCESS(status)) FailWithStatus("cannot replace", path_, status);
    const std::u16string aside = NextStagingName();
    status = RetryWhileInUse(
        [&] { return RenameInFolder(link.Get(), folder_->handle.Get(), aside, Existing::kKeep); });
    if (!NT_SUCCESS(status)) FailWithStatus("cannot replace", path_, status);
    status = RenameInFolder(file_.Get(), folder_->handle.Get(), name_, Existing::kKeep);
    if (!NT_SUCCESS(status)) {
      RenameInFolder(link.Get(), folder_->handle.Get(), name_, Existing::kKeep);
      FailWithStatus("cannot replace", path_, status);
    }
    // Opened as the link itself, so only the link goes, never its target.
    RetryWhileInUse([&] { return MarkForDeletion(link.Get()); });
  }

  // The attributes of what has the name, looked at without following a link.
  // The handle is closed again at once: Windows renames over no open file.
  FILE_ATTRIBUTE_TAG_INFO ExistingAttributes() const {
    Handle existing;
    const NTSTATUS status =
        OpenInFolder(folder_->handle.Get(), name_, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                     FILE_OPEN_REPARSE_POINT, 0, existing);
    if (!NT_SUCCESS(status)) FailWithStatus("cannot replace", path_, status);
    return AttributesAndTagOf(existing.Get(), path_);
  }

  // An output that could not be written in place is not replaced either.
  // The attribute is checked by itself, as Wine lets a read-only file be
  // opened for writing and renamed over. Replacing the file deletes it, so
  // deleting it is asked for too: where either is denied (a shared folder
  // that gives Write but not Modify, or a sticky one whose outputs are
  // someone else's) the file fails at once, with that reason, rather than
  // after the rename's retries.
  void RefuseIfNotReplaceable(DWORD attributes) const {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      throw FileError("the output is read-only: " + Utf16ToUtf8(path_));
    }
    Handle writable;
    const NTSTATUS status =
        OpenInFolder(folder_->handle.Get(), name_, FILE_WRITE_DATA | DELETE, kShareAll, FILE_OPEN,
                     FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, writable);
    // Windows checks the access asked for before the sharing, so a sharing
    // violation means that the file may be replaced but someone else has it
    // open, sharing no writing or deleting; the rename waits for them, or
    // needs no wait (a POSIX rename needs only delete sharing).
    if (!NT_SUCCESS(status) && !IsInUse(status)) FailWithStatus("cannot replace", path_, status);
  }

  std::shared_ptr<HeldFolder> folder_;
  std::u16string path_;
  std::u16string name_;
  std::u16string staging_name_;
  Handle file_;
  bool committed_ = false;
  // Whether the contents are on the disk, and if they could not be brought
  // there, the system's reason; the group flush that listed the output last,
  // as the folder's count of them. Guarded by the folder's unflushed_mutex:
  // the committer reads what a staging thread wrote.
  bool on_disk_ = false;
  DWORD flush_error_ = 0;
  std::uint64_t listed_after_ = 0;
  // Left in place when destroyed: see Replace.
  bool only_copy_ = false;
};

std::unique_ptr<OutputFile> StageOutput(std::shared_ptr<HeldFolder> folder,
                                        const std::u16string& folder_path, std::u16string name) {
  std::u16string path = PathFor(folder_path, name);
  for (int attempt = 0; attempt < kStagingNameAttempts; ++attempt) {
    Handle file;
    std::u16string staging_name = NextStagingName();
    // FILE_CREATE never opens, let alone follows, what has the name already.
    const NTSTATUS status = OpenInFolder(
        folder->handle.Get(), staging_name,
        GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
        FILE_CREATE, FILE_NON_DIRECTORY_FILE, FILE_ATTRIBUTE_HIDDEN, file);
    if (status == kStatusNameCollision) continue;
    if (!NT_SUCCESS(status)) FailWithStatus("cannot create a staging file in", folder_path, status);
    return std::make_unique<StagedOutput>(std::move(folder), std::move(path), std::move(name),
                                          std::move(staging_name), std::move(file));
  }
  throw FileError("no free staging name in " + Utf16ToUtf8(folder_path));
}

HANDLE StagedFile(const StagedOutput& output) { return output.File(); }

void NoteFlushed(StagedOutput& output, DWORD error, std::uint64_t begun) {
  output.Flushed(error, begun);
}

}  // namespace vendrake::engine::win32
