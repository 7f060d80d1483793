#include "engine/platform_file_system.h"

#include "engine/posix_file_system.h"

namespace vendrake::engine {

std::unique_ptr<FileSystem> MakePlatformFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace vendrake::engine
