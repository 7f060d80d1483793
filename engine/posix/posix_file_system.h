#pragma once

#include "engine/file_system.h"

namespace vendrake::engine {

// The file system of a POSIX host. Windows path texts map as ToNativePath
// says. A normal file is one that is a regular file after following links and
// whose name does not start with "."; folders, FIFOs, sockets, devices and
// dangling links are never listed or opened.
//
// A folder is held by an open descriptor, and everything inside it goes
// through the *at() calls relative to it. Output is staged in an unnamed file
// (Linux's O_TMPFILE) that is linked in under the output's name when the
// output is new, and otherwise first under a hidden ".vendrake-<n>.tmp" name
// that is renamed over the output. FlushStaged flushes the file system once
// (syncfs), which writes out every staged file, and then asks each file
// whether writing it failed (sync_file_range). A staging file is locked (flock) for as
// long as its output is being written, which is how the next run tells an
// abandoned one from one in use.
class PosixFileSystem : public FileSystem {
 public:
  enum class Staging {
    kUnnamedWherePossible,
    kNamedOnly,  // always a hidden named file, as on systems without O_TMPFILE
  };

  explicit PosixFileSystem(Staging staging = Staging::kUnnamedWherePossible);

  void CreateFolder(std::u16string_view folder) override;
  std::unique_ptr<Folder> OpenFolder(std::u16string_view folder) override;
  bool HidesByName(std::u16string_view name) const override;
  std::u16string NameKey(std::u16string_view name) const override;

 private:
  bool stage_unnamed_ = false;
};

}  // namespace vendrake::engine
