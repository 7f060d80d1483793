#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/file_system.h"

namespace vendrake::engine {

// Windows file attributes: hidden and system files are kept out of a
// listing, and a read-only file cannot be replaced.
struct FileAttributes {
  bool hidden = false;
  bool system = false;
  bool read_only = false;
};

// A file system held in memory, for tests and for running the conversion
// without touching disk. Paths follow the Windows rules of FileSystem; a
// drive prefix is an ordinary first component. Names are listed in code-unit
// order, and a listing sees files added after it started. Files carry
// attributes rather than permission bits. Nothing is ever moved or linked,
// so a folder's path text always names the folder it opened. Any operation
// can be made to fail on its n-th call. Operations from several threads are
// taken one at a time.
class MemoryFileSystem : public FileSystem {
 public:
  enum class Operation {
    kOpenFolder,
    kList,
    kListNext,
    kCreateFolder,
    kOpenForReading,
    kLength,
    kRead,
    kOpenForReplacing,
    kWrite,
    kCommit,
    kRemoveAbandonedStaging,
    kFlushStaged,  // the flush of a whole folder's staged outputs
    kFlushAlone,   // the flush of one output, by its Commit
    kIdentityAt,
  };
  // Adds a file, creating its folders as needed.
  void AddFile(std::u16string_view path, std::vector<std::uint8_t> bytes,
               FileAttributes attributes = {});
  // Adds a folder and its parents.
  void AddFolder(std::u16string_view path);

  // The bytes of the file at `path`, or nothing if there is no file there.
  std::optional<std::vector<std::uint8_t>> FileBytes(std::u16string_view path) const;
  bool FolderExists(std::u16string_view path) const;
  // The attributes of the file at `path`, or nothing if there is no file there.
  std::optional<FileAttributes> AttributesOf(std::u16string_view path) const;
  // The paths of every file, in code-unit order, separators as "\".
  std::vector<std::u16string> FilePaths() const;
  // The names of everything in the folder `path`, folders and hidden files
  // included, in code-unit order.
  std::vector<std::u16string> NamesIn(std::u16string_view path) const;

  // How many outputs a folder may stage at once (64 unless set).
  void SetStagingCapacity(std::size_t capacity) { staging_capacity_ = capacity; }
  // Makes every identity unknown, as on a volume without file IDs.
  void ForgetIdentities() { identities_known_ = false; }

  // What a failing operation throws: FileError, one that says the disk or
  // the descriptors ran short, or std::bad_alloc as when the system gives no
  // more memory.
  enum class Failure { kFileError, kShortOfRoom, kOutOfMemory };
  // Makes the `call_number`-th call (from 1) of `operation` throw. A failed
  // kFlushStaged also fails the Commit of every output it concerned.
  void FailOn(Operation operation, int call_number, Failure failure = Failure::kFileError);
  // How many times `operation` has been called.
  int Calls(Operation operation) const;
  // How many operations of any kind have been called.
  int TotalCalls() const;

  void CreateFolder(std::u16string_view folder) override;
  std::unique_ptr<Folder> OpenFolder(std::u16string_view folder) override;
  bool HidesByName(std::u16string_view name) const override;
  std::u16string NameKey(std::u16string_view name) const override;

 private:
  // The folder stored under `key`, which exists.
  std::unique_ptr<Folder> NewFolder(std::u16string key);

  class MemoryFolder;
  class Listing;
  class Input;
  class Output;

  struct Node {
    bool is_folder = false;
    FileAttributes attributes{};
    std::vector<std::uint8_t> bytes{};
    std::uint64_t id = 0;
  };

  static constexpr std::size_t kOperationCount = 14;

  // Counts a call of `operation` and throws if it was told to fail.
  void Enter(Operation operation, std::u16string_view path);
  Node* Find(const std::u16string& key);
  const Node* Find(const std::u16string& key) const;
  Node& FileAt(const std::u16string& key);
  // Puts `node` at `key` as a new file or folder, with an identity of its own.
  Node& Place(const std::u16string& key, Node node);
  FileIdentity IdentityOf(const Node& node) const;

  std::map<std::u16string, Node> nodes_;
  std::set<std::u16string> live_staging_;
  std::set<Output*> unflushed_;
  std::array<int, kOperationCount> calls_{};
  std::array<std::vector<std::pair<int, Failure>>, kOperationCount> failures_{};
  int next_staging_ = 0;
  std::uint64_t next_id_ = 1;
  std::size_t staging_capacity_ = 64;
  bool identities_known_ = true;
  // One operation at a time, whichever thread asks.
  mutable std::recursive_mutex mutex_;
};

}  // namespace vendrake::engine
