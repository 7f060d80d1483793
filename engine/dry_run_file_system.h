#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

#include "engine/file_system.h"

namespace vendrake::engine {

// The file system `real` as a run that writes nothing sees it, so that
// RunBatch over it goes exactly as it would, up to the writing. Everything
// is read from `real`; nothing is created, staged, replaced, removed or
// flushed there:
// - CreateFolder succeeds where the folder does not exist but its parent
//   does, and fails, as the real one would, where the folder exists or its
//   parent cannot be opened; a folder so "created" opens as an empty one;
// - an output is taken and discarded, and its Commit never fails. Its name
//   is noted with an identity of its own, which no real file has: a name in
//   that folder, or a link that leads there step by step (where the platform
//   can follow links), then opens as that output, and the run passes it
//   over as one of its own, as it would have. Any other name of the file the
//   output would replace, a hard link say, is still that file;
// - abandoned staging files are left where they are.
// Whatever the real run would find only on writing (a full disk, a
// read-only output) does not show, nor do names the outputs would add to a
// listing of the source folder, when it is the destination.
class DryRunFileSystem : public FileSystem {
 public:
  explicit DryRunFileSystem(FileSystem& real);

  void CreateFolder(std::u16string_view folder) override;
  std::unique_ptr<Folder> OpenFolder(std::u16string_view folder) override;
  bool HidesByName(std::u16string_view name) const override { return real_.HidesByName(name); }
  std::u16string NameKey(std::u16string_view name) const override { return real_.NameKey(name); }

 private:
  FileSystem& real_;
  // The folders CreateFolder pretended to make, by NameKey.
  std::unordered_set<std::u16string> created_;

 public:
  class Written;

 private:
  std::shared_ptr<Written> written_;
};

}  // namespace vendrake::engine
