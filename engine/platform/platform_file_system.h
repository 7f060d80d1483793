#pragma once

#include <memory>

#include "engine/file_system.h"

namespace vendrake::engine {

// The file system of the platform the program was built for. The one place
// that knows which platform that is.
std::unique_ptr<FileSystem> MakePlatformFileSystem();

}  // namespace vendrake::engine
