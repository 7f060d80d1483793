#pragma once

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
// took one (see HeldFolder::last_named).
void FlushStaged(HeldFolder& folder, const std::u16string& folder_path);

}  // namespace vendrake::engine::win32
