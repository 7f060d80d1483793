#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "engine/file_system.h"
#include "engine/posix/posix_descriptor.h"

namespace vendrake::engine::posix {

// Whether `name` has the form of a staging file's name, ".vendrake-<n>.tmp".
bool IsStagingName(std::string_view name);

// A new staging file's name, picked at random.
std::string NextStagingName();
inline constexpr int kStagingNameAttempts = 64;
inline constexpr mode_t kPermissionBits = 0777;

// Whether the entry `name` of the folder (the folder itself for "") may
// never lose its name: the folder is append-only or immutable (chattr +a,
// +i), or, for a file, the file is. false where the system cannot tell.
bool KeepsItsNames(int folder_fd, const char* name);

FileIdentity IdentityOf(const struct stat& status);

class StagedOutput;

// A folder held open, shared by the folder and the outputs staged in it,
// which may outlive it.
struct StagingFolder {
  StagingFolder(Descriptor folder_fd, std::string folder_path)
      : fd(std::move(folder_fd)), path(std::move(folder_path)) {}

  const Descriptor fd;
  const std::string path;  // for messages only
  // Outputs written since the folder was last flushed, not yet committed;
  // threads that stage outputs add to it while the folder is flushed.
  std::set<StagedOutput*> unflushed;
  std::mutex unflushed_mutex;
  // Whether an output has taken its name since the folder was last flushed.
  bool names_unflushed = false;
  // The name the last output took: a file of the folder to flush the disk
  // through where the folder itself may not be opened.
  std::string last_named;
};

// Starts staging the output `name` (native bytes) in `folder`. With
// `unnamed`, stages in an O_TMPFILE file where the file system has them.
std::unique_ptr<OutputFile> StageOutput(std::shared_ptr<StagingFolder> folder, std::string name,
                                        Permissions source_permissions, bool unnamed);

// See Folder::FlushStaged.
void FlushStaged(StagingFolder& folder);

// See Folder::StagingCapacity: what the descriptor limit leaves once the
// descriptors the process holds already, and those a run needs besides, are
// set aside.
std::size_t StagingCapacity();

// Removes the staging files in the folder open as `folder_fd` that no live
// output holds locked; see Folder::RemoveAbandonedStaging.
std::size_t RemoveAbandonedStaging(int folder_fd, const std::string& folder_path);

// Whether the folder holds nothing but staging files; see Folder::IsEmpty.
bool HoldsOnlyStaging(int folder_fd);

}  // namespace vendrake::engine::posix
