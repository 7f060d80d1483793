#include "engine/win32/win32_staging.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/win32/win32_system_calls.h"

namespace vendrake::engine::win32 {
namespace {

constexpr char kNamesUnflushed[] = "cannot flush the names of the outputs in";

// Flushes the folder itself, which brings the names in it to the disk on
// NTFS and ReFS, though no page documents it; false with the last error set.
// That needs the folder open for writing, which is also for adding a file:
// FILE_WRITE_DATA (FILE_ADD_FILE) and no more, so that a user who may only
// create files may flush too.
bool FlushFolder(const HeldFolder& folder, const std::u16string& folder_path) {
  Handle writable;
  const NTSTATUS status = OpenInFolder(folder.handle.Get(), u"", FILE_WRITE_DATA, kShareAll,
                                       FILE_OPEN, FILE_DIRECTORY_FILE, 0, writable);
  if (!NT_SUCCESS(status)) FailWithStatus(kNamesUnflushed, folder_path, status);
  return Calls().flush_file_buffers(writable.Get()) != 0;
}

// Brings the names given in the folder to the disk by a flush of the last
// output that took one, opened anew for appending, which a flush needs, and
// sharing everything, so that no other program is kept from it meanwhile
// (held from its commit, it would have kept every reader that shares no
// writing out until the next group). Where it cannot be opened (another
// program holds it sharing no writing, it is gone), or no output took a
// name, the folder is flushed instead; false with the last error set. On FAT
// and exFAT, where that flush does nothing, the names stay unconfirmed:
// FileError, with the reason the output could not be opened.
bool FlushNames(HeldFolder& folder, const std::u16string& folder_path) {
  const std::u16string last = std::exchange(folder.last_named, {});
  Handle file;
  const NTSTATUS opened =
      last.empty() ? kStatusObjectNameNotFound
                   : OpenInFolder(folder.handle.Get(), last, FILE_APPEND_DATA, kShareAll, FILE_OPEN,
                                  FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, 0, file);
  if (NT_SUCCESS(opened)) return Calls().flush_file_buffers(file.Get()) != 0;
  if (folder.lacks_atomic_replace) FailWithStatus(kNamesUnflushed, folder_path, opened);
  return FlushFolder(folder, folder_path);
}

}  // namespace

void FlushStaged(HeldFolder& folder, const std::u16string& folder_path) {
  std::vector<StagedOutput*> outputs;
  std::uint64_t begun = 0;
  bool one_flush_for_all = false;
  {
    const std::lock_guard lock(folder.unflushed_mutex);
    outputs.assign(folder.unflushed.begin(), folder.unflushed.end());
    begun = ++folder.group_flushes_begun;
    // Read once the outputs are known: one that found the volume unable to
    // write out was listed after saying so.
    one_flush_for_all = folder.one_flush_for_all;
  }
  const bool names_unflushed = folder.names_unflushed;
  if (outputs.empty() && !names_unflushed) return;
  if (one_flush_for_all) {
    // Any file serves for the outputs written out; the names need the last
    // one named.
    const bool flushed = names_unflushed || outputs.empty()
                             ? FlushNames(folder, folder_path)
                             : Calls().flush_file_buffers(StagedFile(*outputs.front())) != 0;
    if (flushed) {
      for (StagedOutput* output : outputs) NoteFlushed(*output, 0, begun);
      folder.names_unflushed = false;
      return;
    }
    // Which file the failure concerns is unknown: each flushes alone below.
  }
  for (StagedOutput* output : outputs) {
    const DWORD error = Calls().flush_file_buffers(StagedFile(*output)) ? 0 : GetLastError();
    NoteFlushed(*output, error, begun);
  }
  // Told once: a failure stands for the names given so far.
  folder.names_unflushed = false;
  if (names_unflushed && !FlushNames(folder, folder_path)) {
    FailWithError(kNamesUnflushed, folder_path);
  }
}

}  // namespace vendrake::engine::win32
