#pragma once

#include <string>
#include <string_view>

#include "engine/file_system.h"

namespace vendrake::engine {

// The file system of a Windows host, through the wide (UTF-16) API only: names
// go to the system and come back exactly as they are. Path texts take every
// Windows form (drive letters, C:relative, UNC \\server\share\, runs of
// separators); one whose full path would pass MAX_PATH goes to the system as
// a \\?\ path.
// A normal file is one that is neither a folder nor HIDDEN nor SYSTEM.
//
// A folder is held by a handle that lets no one move or delete it while it is
// open, and everything inside it is opened through that handle. Output is
// staged in a HIDDEN ".vendrake-<n>.tmp" file beside the output, open without
// delete sharing for as long as the output is being written, and renamed
// over the output. Files carry attributes instead of permission bits: a
// replaced file's attributes carry over, and a READONLY one is never replaced.
class Win32FileSystem : public FileSystem {
 public:
  void CreateFolder(std::u16string_view folder) override;
  std::unique_ptr<Folder> OpenFolder(std::u16string_view folder) override;
  bool HidesByName(std::u16string_view name) const override;
  std::u16string NameKey(std::u16string_view name) const override;
};

// The path Windows is handed for a path text: the text in Windows' own form
// (see ToWindowsPath), made full by GetFullPathNameW, and given the prefix
// \\?\ (or \\?\UNC\ for a share) when the full path is too long for the
// plain form.
std::u16string ToWin32Path(std::u16string_view path);

}  // namespace vendrake::engine
