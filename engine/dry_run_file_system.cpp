#include "engine/dry_run_file_system.h"

#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>

#include "engine/errors.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {

// The names the run's outputs would have taken, each with the identity that
// stands for its output; shared by every folder of the file system, and safe
// from several threads.
class DryRunFileSystem::Written {
 public:
  explicit Written(const FileSystem& names) : names_(names) {}

  // Notes that an output takes `name` in `folder`; returns its identity, new
  // each time, as each output is a new file. Nothing is noted in a folder
  // that does not exist yet.
  FileIdentity Name(const FileIdentity& folder, std::u16string_view name) {
    if (!folder.Known()) return {};
    // All ones for the volume: no real volume's number.
    const FileIdentity output{
        .volume = std::numeric_limits<std::uint64_t>::max(), .file = 0, .file_high = 1};
    const std::lock_guard lock(mutex_);
    FileIdentity& noted = named_[Key(folder, name)];
    noted = output;
    noted.file = ++outputs_;
    return noted;
  }

  // The output that has `name` in `folder`, if one took it.
  std::optional<FileIdentity> At(const FileIdentity& folder, std::u16string_view name) const {
    if (!folder.Known()) return std::nullopt;
    const std::lock_guard lock(mutex_);
    if (named_.empty()) return std::nullopt;
    const auto found = named_.find(Key(folder, name));
    if (found == named_.end()) return std::nullopt;
    return found->second;
  }

 private:
  std::u16string Key(const FileIdentity& folder, std::u16string_view name) const {
    std::u16string key;
    for (const std::uint64_t part : {folder.volume, folder.file, folder.file_high}) {
      for (int shift = 0; shift < 64; shift += 16) key += static_cast<char16_t>(part >> shift);
    }
    return key + names_.NameKey(name);
  }

  const FileSystem& names_;
  mutable std::mutex mutex_;
  std::unordered_map<std::u16string, FileIdentity> named_;
  std::uint64_t outputs_ = 0;
};

namespace {

using Written = DryRunFileSystem::Written;

// An output that goes nowhere; its name is noted on Commit.
class DiscardedOutput : public OutputFile {
 public:
  DiscardedOutput(std::shared_ptr<Written> written, FileIdentity folder, std::u16string name)
      : written_(std::move(written)), folder_(folder), name_(std::move(name)) {}

  void Write(std::span<const std::uint8_t> /*bytes*/) override {}
  FileIdentity Commit() override { return written_->Name(folder_, name_); }

 private:
  std::shared_ptr<Written> written_;
  FileIdentity folder_;
  std::u16string name_;
};

// A name that leads to an output the run would have written: only its
// identity is looked at, for which the run passes it over.
class WrittenInput : public InputFile {
 public:
  explicit WrittenInput(FileIdentity identity) : identity_(identity) {}

  std::uint64_t Length() override { return 0; }
  void Read(std::span<std::uint8_t> /*bytes*/) override {
    throw FileError("an output of this run, which writes nothing");
  }
  FileIdentity Identity() override { return identity_; }
  Permissions PermissionBits() override { return kDefaultPermissions; }

 private:
  FileIdentity identity_;
};

FileIdentity IdentityOrUnknown(Folder& folder) {
  try {
    return folder.Identity();
  } catch (const Error&) {
    return {};
  }
}

// A real folder, read as it is, whose outputs go nowhere.
class DryFolder : public Folder {
 public:
  DryFolder(std::unique_ptr<Folder> real, std::shared_ptr<Written> written)
      : real_(std::move(real)),
        written_(std::move(written)),
        identity_(IdentityOrUnknown(*real_)) {}

  std::unique_ptr<FolderListing> ListNormalFiles() override { return real_->ListNormalFiles(); }
  std::unique_ptr<InputFile> OpenForReading(std::u16string_view name) override {
    if (const auto output = Follow(name)) return std::make_unique<WrittenInput>(*output);
    return real_->OpenForReading(name);
  }
  std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view name,
                                               Permissions /*source_permissions*/) override {
    return std::make_unique<DiscardedOutput>(written_, identity_, std::u16string(name));
  }
  FileIdentity Identity() override { return real_->Identity(); }
  FileIdentity IdentityAt(std::u16string_view name) override {
    if (const auto output = written_->At(identity_, name)) return *output;
    return real_->IdentityAt(name);
  }
  bool IsEmpty() override { return real_->IsEmpty(); }
  std::size_t RemoveAbandonedStaging() override { return 0; }
  void FlushStaged() override {}
  std::size_t StagingCapacity() override { return real_->StagingCapacity(); }

 private:
  // The output that `name` leads to, itself or link by link, if the run
  // would have written one there by now.
  std::optional<FileIdentity> Follow(std::u16string_view name) {
    // As many links as systems follow in a row before they give up.
    constexpr int kMostLinks = 40;
    std::unique_ptr<Folder> reached;
    Folder* folder = real_.get();
    FileIdentity folder_identity = identity_;
    std::u16string step(name);
    for (int links = 0;; ++links) {
      if (const auto output = written_->At(folder_identity, step)) return output;
      if (links == kMostLinks) return std::nullopt;
      std::optional<LinkTarget> target = folder->FollowLink(step);
      if (!target) return std::nullopt;
      reached = std::move(target->folder);
      folder = reached.get();
      folder_identity = IdentityOrUnknown(*folder);
      step = std::move(target->name);
    }
  }

  std::unique_ptr<Folder> real_;
  std::shared_ptr<Written> written_;
  const FileIdentity identity_;
};

class NoListing : public FolderListing {
 public:
  std::u16string Next() override { return {}; }
};

// A folder the run would have made: empty, and of no identity until it exists.
class FolderToBe : public Folder {
 public:
  FolderToBe(std::u16string path, std::shared_ptr<Written> written)
      : path_(std::move(path)), written_(std::move(written)) {}

  std::unique_ptr<FolderListing> ListNormalFiles() override {
    return std::make_unique<NoListing>();
  }
  std::unique_ptr<InputFile> OpenForReading(std::u16string_view name) override {
    throw FileError("no such file: " + Utf16ToUtf8(path_) + Utf16ToUtf8(name));
  }
  std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view name,
                                               Permissions /*source_permissions*/) override {
    return std::make_unique<DiscardedOutput>(written_, FileIdentity{}, std::u16string(name));
  }
  FileIdentity Identity() override { return {}; }
  bool IsEmpty() override { return true; }
  std::size_t RemoveAbandonedStaging() override { return 0; }
  void FlushStaged() override {}
  std::size_t StagingCapacity() override { return std::numeric_limits<std::size_t>::max(); }

 private:
  std::u16string path_;
  std::shared_ptr<Written> written_;
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

DryRunFileSystem::DryRunFileSystem(FileSystem& real)
    : real_(real), written_(std::make_shared<Written>(real)) {}

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
    return std::make_unique<FolderToBe>(std::u16string(folder), written_);
  }
  return std::make_unique<DryFolder>(real_.OpenFolder(folder), written_);
}

}  // namespace vendrake::engine
