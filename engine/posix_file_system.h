#pragma once

#include <cstdint>
#include <random>

#include "engine/file_system.h"

namespace vendrake::engine {

// The file system of a POSIX host. Windows path texts map as ToNativePath
// says. A normal file is one that is a regular file after following links and
// whose name does not start with "."; folders, FIFOs, sockets, devices and
// dangling links are never listed or opened. Output files are staged as hidden
// ".vendrake-*.tmp" files in the output's folder and renamed into place; a
// replaced regular file's permission bits carry over to its replacement.
class PosixFileSystem : public FileSystem {
 public:
  PosixFileSystem();

  std::unique_ptr<FolderListing> ListNormalFiles(std::u16string_view folder) override;
  void CreateFolder(std::u16string_view folder) override;
  std::unique_ptr<InputFile> OpenForReading(std::u16string_view path) override;
  std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view path) override;
  bool IsSameFolder(std::u16string_view first, std::u16string_view second) override;

 private:
  std::mt19937_64 temporary_names_;
};

}  // namespace vendrake::engine
