#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "engine/file_system.h"
#include "engine/posix/posix_descriptor.h"
#include "engine/posix/posix_staging.h"

namespace vendrake::engine::posix {

// Holds the staged contents until Commit gives them the output's name. A
// staging file with a name is locked, and its descriptor stays open until the
// output's name is taken, so no other run's clean-up can mistake it for an
// abandoned one.
class StagedOutput : public OutputFile {
 public:
  // `staging_name` is empty while the staged file has no name.
  // `staged` is the new file's status, taken as it was made: writing changes
  // nothing that a commit looks at, and the look costs a round trip on a
  // network share once the file has been written to.
  StagedOutput(std::shared_ptr<StagingFolder> folder, std::string name, Descriptor fd,
               std::string staging_name, const struct stat& staged);

  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  ~StagedOutput() override;

  void Write(std::span<const std::uint8_t> bytes) override;

  FileIdentity Commit() override;

  int Fd() const { return fd_.Get(); }

  // What FlushStaged found for this output: 0 when its contents are on the
  // disk, or the error that kept them from it.
  void Flushed(int error);

 private:
  // The staged contents must be on the disk before they take a name, or a
  // crash could leave an empty or partial file under it: where FlushStaged
  // has not brought them there, this output is flushed alone.
  void ReachDisk();

  // Most outputs are new: the name is just taken, which fails if something
  // has it, and only then is that looked at and replaced. One look less per
  // output, each of them a round trip that holds the folder on a network share.
  void TakeName();

  // Takes this output off the folder's unflushed ones; whether it was there.
  bool Unlisted();

  // Gives the unnamed staged file the name `name`; false with errno set.
  bool LinkAs(const std::string& name);

  // Names a new output; false (errno EEXIST) when the name turned up meanwhile.
  bool TakeNewName();

  // Gives the named staging file the output's name, which nothing may have:
  // false (errno EEXIST) when something took it since it was looked at, and
  // that is then replaced only after the checks a replacement passes.
  bool RenameStagingAsNew();

  // Renames the staged file over `existing`, a file or a link at the name,
  // never followed.
  void Replace(const struct stat& existing);

  // Network and FUSE file systems may keep a write error back until the file
  // is closed, and every close asks. The staged file's own descriptor holds
  // the lock that keeps other runs' clean-up off its staging name until the
  // rename, so a second descriptor of it is closed instead, while the old
  // output is still in place.
  void FailOnDeferredWriteError() const;

  // Found out before a staging name is given, which an append-only folder
  // would keep for good once the rename over the old name failed.
  void RefuseIfItKeepsItsName() const;

  // The replaced file stays its owner's and its group's: run by root, a
  // replacement would otherwise take another user's file over and could
  // shut its owner out. Where this process may not give the file to them (a
  // group member replacing another user's file), it is left as it is.
  void KeepOwner(const struct stat& existing);

  // An output that could not be written in place is not replaced either:
  // write permission on the folder must not override the file's own.
  void RefuseIfNotWritable(const struct stat& existing) const;

  std::string LinkUnderStagingName();

  std::shared_ptr<StagingFolder> folder_;
  int folder_fd_;
  std::string path_;
  std::string name_;
  Descriptor fd_;
  std::string staging_name_;
  const struct stat staged_;
  int flush_error_ = 0;
  bool committed_ = false;
  bool link_empty_path_ = true;
};

}  // namespace vendrake::engine::posix
