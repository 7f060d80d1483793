#pragma once

#include <string>
#include <unordered_set>

#include "engine/file_system.h"
#include "engine/roomy_set.h"

namespace vendrake::engine {

// What a run has written and is about to write, so that each file is scaled
// once however it is reached: by identity where the volume tells files apart,
// and, in a run in place, by name as the volume compares names.
class RunOutputs {
 public:
  explicit RunOutputs(const FileSystem& files) : files_(files) {}

  void SetInPlace(bool in_place) { in_place_ = in_place; }
  bool InPlace() const { return in_place_; }

  // Why the listed file `entry`, which is `identity`, is no new model, or
  // nullptr if it is one.
  const char* PassOverReason(const std::u16string& entry, const FileIdentity& identity) const;

  // In a run in place, whether `entry` is a name an output in hand is about
  // to take.
  bool IsAboutToBeNamed(const std::u16string& entry) const {
    return in_place_ && staged_keys_.contains(files_.NameKey(entry));
  }
  // Notes, in a run in place, that an output about to take `output_name` is
  // staged from the listed file `entry`, which is `input`. True when the file
  // it replaces is known by that: the very file it was made from.
  bool NoteStaged(const std::u16string& output_name, const std::u16string& entry,
                  const FileIdentity& input);
  // Notes a file that an output in hand is to replace; one with an unknown
  // identity is never one.
  void NoteReplaced(const FileIdentity& identity) {
    if (identity.Known()) replaced_.insert(identity);
  }
  bool IsAboutToBeReplaced(const FileIdentity& identity) const {
    return replaced_.contains(identity);
  }
  // Forgets the outputs in hand, once they have their names.
  void GroupNamed() {
    staged_keys_.clear();
    replaced_.clear();
  }

  // Takes beforehand what noting the output `output_name` as written needs,
  // and returns its name key; throws std::bad_alloc.
  std::u16string MakeRoomForWritten(const std::u16string& output_name);
  // Notes an output that took its name, with what MakeRoomForWritten gave;
  // allocates nothing.
  void NoteWritten(const FileIdentity& identity, std::u16string key);

 private:
  const FileSystem& files_;
  bool in_place_ = false;
  RoomySet<FileIdentity, FileIdentityHash> written_;
  // In a run in place, the names the outputs have taken, as NameKey gives
  // them, and those the outputs in hand are about to take.
  RoomySet<std::u16string> written_keys_;
  std::unordered_set<std::u16string> staged_keys_;
  // The files the outputs in hand are to replace, as far as looked up.
  std::unordered_set<FileIdentity, FileIdentityHash> replaced_;
};

}  // namespace vendrake::engine
