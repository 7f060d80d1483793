#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_system.h"

namespace vendrake::testing {

// Forwards every operation to a real file system, and lets a test change the
// world at an exact moment of the run: an action runs just before a chosen
// operation on the file with a chosen name, or an output's writes stop part
// way with a FileError, as they do on a full disk.
class HookedFileSystem : public engine::FileSystem {
 public:
  enum class Operation { kOpenForReading, kRead };

  explicit HookedFileSystem(engine::FileSystem& inner) : inner_(inner) {}

  // Runs `action` once, just before the first `operation` on a file whose
  // path text ends in "\" + `name` (for kRead, the path it was opened with).
  void Before(Operation operation, std::u16string name, std::function<void()> action);
  // Makes the first write to the output named `name` pass on only its first
  // `kept` bytes and then throw FileError.
  void FailWrite(std::u16string name, std::size_t kept);

  std::unique_ptr<engine::FolderListing> ListNormalFiles(std::u16string_view folder) override;
  void CreateFolder(std::u16string_view folder) override;
  std::unique_ptr<engine::InputFile> OpenForReading(std::u16string_view path) override;
  std::unique_ptr<engine::OutputFile> OpenForReplacing(std::u16string_view path) override;
  bool IsSameFolder(std::u16string_view first, std::u16string_view second) override;

 private:
  class Input;
  class Output;

  struct Hook {
    Operation operation;
    std::u16string name;
    std::function<void()> action;
  };

  struct Cut {
    std::u16string name;
    std::size_t kept;
  };

  // Runs and drops the first hook for `operation` on `path`.
  void Fire(Operation operation, std::u16string_view path);
  // Drops and returns the bytes to keep of the first cut for `path`, if any.
  std::optional<std::size_t> TakeCut(std::u16string_view path);

  engine::FileSystem& inner_;
  std::vector<Hook> hooks_;
  std::vector<Cut> cuts_;
};

}  // namespace vendrake::testing
