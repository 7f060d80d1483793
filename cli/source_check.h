#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/file_system.h"

namespace vendrake::cli {

// Why the folder text `source` names no folder, in the words the system's
// own tools use ("No such file or directory", "Not a directory"), or nothing
// when it opens as a folder or fails for another reason, which the run then
// reports as it meets it. Throws nothing.
std::optional<std::string> WhyNoFolder(engine::FileSystem& files, std::u16string_view source);

}  // namespace vendrake::cli
