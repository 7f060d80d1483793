#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "engine/file_system.h"
#include "engine/win32/win32_handle.h"

namespace vendrake::engine::win32 {

// Whether no listing of a folder gives the name `name`, on any volume: that
// of a staging file (".vendrake-<n>." and anything after), or of a whole one
// that the clean-up left as "vendrake-recovered-<n>" for the user to look at
// (see RemoveAbandonedStaging). Staging files are HIDDEN as well, but a
// volume may not keep attributes, and a copy of a folder may lose them.
bool IsKeptFromListings(std::u16string_view name);

// Starts staging the output `name` in the folder open as `folder`, whose path
// `folder_path` is only for messages; the output keeps the folder open.
std::unique_ptr<OutputFile> StageOutput(std::shared_ptr<HeldFolder> folder,
                                        const std::u16string& folder_path, std::u16string name);

// See Folder::FlushStaged: on NTFS on a local disk, one flush for every
// output written out as it was written; elsewhere, each output flushes alone.
void FlushStaged(HeldFolder& folder, const std::u16string& folder_path);

// Removes the staging files in the folder open as `folder` that no live
// output holds open; see Folder::RemoveAbandonedStaging.
// On a volume that lacks atomic replace, a whole staging file may be the only
// copy of an output whose replacing was cut short: if it names its output and
// that is missing, it takes the output's name; if it names none, it is left
// visible as "vendrake-recovered-<n>". A staging file that takes an
// output's name or stays visible loses its HIDDEN attribute.
std::size_t RemoveAbandonedStaging(const HeldFolder& folder, const std::u16string& folder_path);

}  // namespace vendrake::engine::win32
