#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
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
  enum class Operation { kOpenForReading, kRead, kCommit };

  explicit HookedFileSystem(engine::FileSystem& inner) : inner_(inner) {}

  // Runs `action` once, just before the first `operation` on the file
  // `name` (for kRead, the name it was opened by; for kCommit, the output's
  // name).
  void Before(Operation operation, std::u16string name, std::function<void()> action);
  // Makes the first write to the output named `name` pass on only its first
  // `kept` bytes and then throw FileError.
  void FailWrite(std::u16string name, std::size_t kept);
  // Makes every folder say it may stage `capacity` outputs at once.
  void SetStagingCapacity(std::size_t capacity) { staging_capacity_ = capacity; }
  // Makes every file and folder of unknown identity, as on a volume that
  // gives no file IDs.
  void HideIdentities() { hide_identities_ = true; }
  // The most outputs that were staged at once so far.
  std::size_t MostOutputsStaged() const { return most_outputs_staged_; }

  void CreateFolder(std::u16string_view folder) override;
  std::unique_ptr<engine::Folder> OpenFolder(std::u16string_view folder) override;
  bool HidesByName(std::u16string_view name) const override;
  std::u16string NameKey(std::u16string_view name) const override;

 private:
  class HookedFolder;
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

  engine::FileIdentity Shown(const engine::FileIdentity& identity) const {
    return hide_identities_ ? engine::FileIdentity{} : identity;
  }
  // Runs and drops the first hook for `operation` on `name`.
  void Fire(Operation operation, std::u16string_view name);
  // Drops and returns the bytes to keep of the first cut for `name`, if any.
  std::optional<std::size_t> TakeCut(std::u16string_view name);

  engine::FileSystem& inner_;
  std::vector<Hook> hooks_;
  std::vector<Cut> cuts_;
  std::optional<std::size_t> staging_capacity_;
  bool hide_identities_ = false;
  std::atomic<std::size_t> outputs_staged_{0};
  std::atomic<std::size_t> most_outputs_staged_{0};
  // Files are opened and written on several threads at once in a run with
  // several jobs.
  std::mutex mutex_;
};

}  // namespace vendrake::testing
