#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/win32/win32_handle.h"

namespace vendrake::engine::win32 {

// Every entry of a folder, "." and ".." included, read a buffer at a time in
// the file system's order through a handle of its own, so that each reading
// starts at the beginning whatever other readings of the folder do.
class FolderEntries {
 public:
  struct Entry {
    std::u16string name;
    DWORD attributes = 0;
  };

  // Reads the folder open as `folder`; `path` is only for messages.
  FolderEntries(HANDLE folder, std::u16string path);

  // The next entry, or nullptr after the last; valid until the next call.
  // Throws FileError.
  const Entry* Next();

 private:
  Handle handle_;
  std::u16string path_;
  std::vector<std::uint64_t> buffer_;  // 8-byte aligned, as the entries are
  std::size_t offset_ = 0;             // of the next entry in buffer_; npos when it is used up
  bool restart_ = true;
  Entry entry_;
};

}  // namespace vendrake::engine::win32
