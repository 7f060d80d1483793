#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "engine/file_system.h"
#include "engine/posix/posix_descriptor.h"

namespace vendrake::engine::posix {

// Whether `name` has the form of a staging file's name, ".vendrake-<n>.tmp".
bool IsStagingName(std::string_view name);

// Starts staging the output `name` (native bytes) in the folder open as
// `folder`, whose path `folder_path` is only for messages; the output keeps
// the folder open. With `unnamed`, stages in an O_TMPFILE file where the
// file system has them.
std::unique_ptr<OutputFile> StageOutput(std::shared_ptr<const Descriptor> folder,
                                        const std::string& folder_path, std::string name,
                                        Permissions source_permissions, bool unnamed);

// Removes the staging files in the folder open as `folder_fd` that no live
// output holds locked; see Folder::RemoveAbandonedStaging.
std::size_t RemoveAbandonedStaging(int folder_fd, const std::string& folder_path);

}  // namespace vendrake::engine::posix
