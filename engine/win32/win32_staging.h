#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "engine/file_system.h"
#include "engine/win32/win32_handle.h"

namespace vendrake::engine::win32 {

// Whether `name` has the form of a staging file's name, ".vendrake-<n>.tmp".
bool IsStagingName(std::u16string_view name);

// Starts staging the output `name` in the folder open as `folder`, whose path
// `folder_path` is only for messages; the output keeps the folder open.
std::unique_ptr<OutputFile> StageOutput(std::shared_ptr<HeldFolder> folder,
                                        const std::u16string& folder_path, std::u16string name);

// Removes the staging files in the folder open as `folder` that no live
// output holds open; see Folder::RemoveAbandonedStaging.
std::size_t RemoveAbandonedStaging(HANDLE folder, const std::u16string& folder_path);

}  // namespace vendrake::engine::win32
