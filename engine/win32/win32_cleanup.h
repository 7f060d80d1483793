#pragma once

#include <cstddef>
#include <string>

#include "engine/win32/win32_handle.h"

namespace vendrake::engine::win32 {

// Removes the staging files in the folder open as `folder` that no live
// output holds open; see Folder::RemoveAbandonedStaging.
// On a volume that lacks atomic replace, a whole staging file may be the only
// copy of an output whose replacing was cut short: if it names its output and
// that is missing, it takes the output's name; if it names none, it is left
// visible as "vendrake-recovered-<n>". A staging file that takes an
// output's name or stays visible loses its HIDDEN attribute.
std::size_t RemoveAbandonedStaging(const HeldFolder& folder, const std::u16string& folder_path);

}  // namespace vendrake::engine::win32
