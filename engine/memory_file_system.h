#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_system.h"

namespace vendrake::engine {

// Windows file attributes that keep a file out of a listing.
struct FileAttributes {
  bool hidden = false;
  bool system = false;
};

// A file system held in memory, for tests and for running the conversion
// without touching disk. Paths follow the Windows rules of FileSystem; a
// drive prefix is an ordinary first component. Names are listed in code-unit
// order, and a listing sees files added after it started. Any operation can be
// made to fail on its n-th call.
class MemoryFileSystem : public FileSystem {
 public:
  enum class Operation {
    kList,
    kListNext,
    kCreateFolder,
    kOpenForReading,
    kLength,
    kRead,
    kOpenForReplacing,
    kWrite,
    kCommit,
  };
  // Adds a file, creating its folders as needed.
  void AddFile(std::u16string_view path, std::vector<std::uint8_t> bytes,
               FileAttributes attributes = {});
  // Adds a folder and its parents.
  void AddFolder(std::u16string_view path);

  // The bytes of the file at `path`, or nothing if there is no file there.
  std::optional<std::vector<std::uint8_t>> FileBytes(std::u16string_view path) const;
  bool FolderExists(std::u16string_view path) const;
  // The paths of every file, in code-unit order, separators as "\".
  std::vector<std::u16string> FilePaths() const;

  // Makes the `call_number`-th call (from 1) of `operation` throw FileError.
  void FailOn(Operation operation, int call_number);
  // How many times `operation` has been called.
  int Calls(Operation operation) const;
  // How many operations of any kind have been called.
  int TotalCalls() const;

  std::unique_ptr<FolderListing> ListNormalFiles(std::u16string_view folder) override;
  void CreateFolder(std::u16string_view folder) override;
  std::unique_ptr<InputFile> OpenForReading(std::u16string_view path) override;
  std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view path) override;
  bool IsSameFolder(std::u16string_view first, std::u16string_view second) override;

 private:
  class Listing;
  class Input;
  class Output;

  struct Node {
    bool is_folder = false;
    FileAttributes attributes;
    std::vector<std::uint8_t> bytes;
  };

  static constexpr std::size_t kOperationCount = 9;

  // Counts a call of `operation` and throws if it was told to fail.
  void Enter(Operation operation, std::u16string_view path);
  Node* Find(const std::u16string& key);
  const Node* Find(const std::u16string& key) const;
  Node& FileAt(const std::u16string& key);

  std::map<std::u16string, Node> nodes_;
  std::array<int, kOperationCount> calls_{};
  std::array<std::vector<int>, kOperationCount> failures_{};
  int next_temporary_ = 0;
};

}  // namespace vendrake::engine
