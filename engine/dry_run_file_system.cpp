#include "engine/dry_run_file_system.h"

#include <limits>
#include <span>
#include <utility>

#include "engine/errors.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

// An output that goes nowhere, standing for the file at its name.
class DiscardedOutput : public OutputFile {
 public:
  explicit DiscardedOutput(FileIdentity replaced) : replaced_(replaced) {}

  void Write(std::span<const std::uint8_t> /*bytes*/) override {}
  FileIdentity Commit() override { return replaced_; }

 private:
  FileIdentity replaced_;
};

// A real folder, read as it is, whose outputs go nowhere.
class DryFolder : public Folder {
 public:
  explicit DryFolder(std::unique_ptr<Folder> real) : real_(std::move(real)) {}

  std::unique_ptr<FolderListing> ListNormalFiles() override { return real_->ListNormalFiles(); }
  std::unique_ptr<InputFile> OpenForReading(std::u16string_view name) override {
    return real_->OpenForReading(name);
  }
  std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view name,
                                               Permissions /*source_permissions*/) override {
    // What a listed name would lead to once the output replaced it: the file
    // now there stands for it; a link there is replaced, not its target.
    return std::make_unique<DiscardedOutput>(real_->IdentityAt(name));
  }
  FileIdentity Identity() override { return real_->Identity(); }
  FileIdentity IdentityAt(std::u16string_view name) override { return real_->IdentityAt(name); }
  bool IsEmpty() override { return real_->IsEmpty(); }
  std::size_t RemoveAbandonedStaging() override { return 0; }
  void FlushStaged() override {}
  std::size_t StagingCapacity() override { return real_->StagingCapacity(); }

 private:
  std::unique_ptr<Folder> real_;
};

class NoListing : public FolderListing {
 public:
  std::u16string Next() override { return {}; }
};

// A folder the run would have made: empty, and of no identity until it exists.
class FolderToBe : public Folder {
 public:
  explicit FolderToBe(std::u16string path) : path_(std::move(path)) {}

  std::unique_ptr<FolderListing> ListNormalFiles() override {
    return std::make_unique<NoListing>();
  }
  std::unique_ptr<InputFile> OpenForReading(std::u16string_view name) override {
    throw FileError("no such file: " + Utf16ToUtf8(path_) + Utf16ToUtf8(name));
  }
  std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view /*name*/,
                                               Permissions /*source_permissions*/) override {
    return std::make_unique<DiscardedOutput>(FileIdentity{});
  }
  FileIdentity Identity() override { return {}; }
  bool IsEmpty() override { return true; }
  std::size_t RemoveAbandonedStaging() override { return 0; }
  void FlushStaged() override {}
  std::size_t StagingCapacity() override { return std::numeric_limits<std::size_t>::max(); }

 private:
  std::u16string path_;
};

// The folder text of `folder`'s parent: the text up to its last name, or the
// current folder where it names no other.
std::u16string ParentOf(std::u16string_view folder) {
  std::size_t end = folder.size();
  while (end > 0 && folder[end - 1] == u'\\') --end;
  const std::size_t separator = folder.find_last_of(u'\\', end == 0 ? 0 : end - 1);
  if (separator == std::u16string_view::npos || end == 0) return u".\\";
  return std::u16string(folder.substr(0, separator + 1));
}

}  // namespace

void DryRunFileSystem::CreateFolder(std::u16string_view folder) {
  try {
    real_.OpenFolder(folder);
  } catch (const Error&) {
    // Not there: it would be made if its parent is.
    real_.OpenFolder(ParentOf(folder));
    created_.insert(real_.NameKey(folder));
    return;
  }
  throw FileError("folder exists: " + Utf16ToUtf8(folder));
}

std::unique_ptr<Folder> DryRunFileSystem::OpenFolder(std::u16string_view folder) {
  if (created_.contains(real_.NameKey(folder))) {
    return std::make_unique<FolderToBe>(std::u16string(folder));
  }
  return std::make_unique<DryFolder>(real_.OpenFolder(folder));
}

}  // namespace vendrake::engine
