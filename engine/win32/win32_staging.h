#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/file_system.h"
#include "engine/win32/win32_handle.h"

namespace vendrake::engine::win32 {

// Starts staging the output `name` in the folder open as `folder`, whose path
// `folder_path` is only for messages; the output keeps the folder open.
std::unique_ptr<OutputFile> StageOutput(std::shared_ptr<HeldFolder> folder,
                                        const std::u16string& folder_path, std::u16string name);

// See Folder::FlushStaged: on NTFS on a local disk, one flush for every
// output written out as it was written; elsewhere, each output flushes alone.
// The names given are brought to the disk by a flush of the last output that
// took one (see HeldFolder::last_named). In win32_group_flush.cpp.
void FlushStaged(HeldFolder& folder, const std::u16string& folder_path);

// What a group flush needs of an output on the folder's unflushed list: its
// file, and a place to note what the flush that began as the folder's
// `begun`-th found, 0 or the system's reason (see HeldFolder::unflushed).
HANDLE StagedFile(const StagedOutput& output);
void NoteFlushed(StagedOutput& output, DWORD error, std::uint64_t begun);

}  // namespace vendrake::engine::win32
