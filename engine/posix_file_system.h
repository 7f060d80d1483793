#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "engine/file_system.h"

namespace vendrake::engine {

// Hidden names for staged output files: ".vendrake-<random>.tmp".
class TemporaryNames {
 public:
  TemporaryNames();
  std::string Next(const std::string& folder);

 private:
  std::mt19937_64 random_;
};

// The file system of a POSIX host. Windows path texts map as ToNativePath
// says. A normal file is one that is a regular file after following links and
// whose name does not start with "."; folders, FIFOs, sockets, devices and
// dangling links are never listed or opened.
//
// Output files are staged where nothing lists them and take the output's name
// only when complete: an unnamed file (Linux's O_TMPFILE) linked in place when
// the output is new, otherwise a hidden ".vendrake-*.tmp" file renamed over
// it. A replaced regular file's permission bits carry over.
class PosixFileSystem : public FileSystem {
 public:
  enum class Staging {
    kUnnamedWherePossible,
    kNamedOnly,  // always a hidden named file, as on systems without O_TMPFILE
  };

  explicit PosixFileSystem(Staging staging = Staging::kUnnamedWherePossible);

  std::unique_ptr<FolderListing> ListNormalFiles(std::u16string_view folder) override;
  void CreateFolder(std::u16string_view folder) override;
  std::unique_ptr<InputFile> OpenForReading(std::u16string_view path) override;
  std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view path) override;
  bool IsSameFolder(std::u16string_view first, std::u16string_view second) override;

 private:
  TemporaryNames temporary_names_;
  bool stage_unnamed_ = false;
};

}  // namespace vendrake::engine
