#include "engine/platform/platform_file_system.h"

#ifdef _WIN32
#include "engine/win32/win32_file_system.h"
#else
#include "engine/posix/posix_file_system.h"
#endif

namespace vendrake::engine {

std::unique_ptr<FileSystem> MakePlatformFileSystem() {
#ifdef _WIN32
  return std::make_unique<Win32FileSystem>();
#else
  return std::make_unique<PosixFileSystem>();
#endif
}

}  // namespace vendrake::engine
