#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "cli/file_lines.h"
#include "engine/file_system.h"

namespace vendrake::cli {

// Makes `range` cover `more` too.
void Widen(HeightRange& range, const HeightRange& more);

// The file system `inner`, passed through, that also gathers the heights of
// the models whose outputs it commits: as read from each source file, and as
// written. An output is taken for the model read just before it, which is
// the order in which the batch run reads, scales and stages a file.
class HeightWatch : public engine::FileSystem {
 public:
  explicit HeightWatch(engine::FileSystem& inner);
  ~HeightWatch() override;

  void CreateFolder(std::u16string_view folder) override { inner_.CreateFolder(folder); }
  std::unique_ptr<engine::Folder> OpenFolder(std::u16string_view folder) override;
  bool HidesByName(std::u16string_view name) const override { return inner_.HidesByName(name); }
  std::u16string NameKey(std::u16string_view name) const override { return inner_.NameKey(name); }

  // The ranges so far, before and after scaling; nothing when no output with
  // a height in it has been committed.
  std::optional<HeightRange> Before() const;
  std::optional<HeightRange> After() const;
  // Forgets the heights gathered, for the next folder.
  void Clear();

  struct Gathered;

 private:
  engine::FileSystem& inner_;
  std::shared_ptr<Gathered> gathered_;
};

}  // namespace vendrake::cli
