// The folders of the in-memory file system and the files open in them.

#include <algorithm>
#include <new>
#include <optional>
#include <set>
#include <utility>

#include "engine/errors.h"
#include "engine/memory/memory_file_system.h"
#include "engine/memory/memory_keys.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
using memory::CheckPlainName;
using memory::Fail;
using memory::IsStagingName;
using memory::Join;
using memory::NameOf;
using memory::ParentKey;

class MemoryFileSystem::Listing : public FolderListing {
 public:
  Listing(MemoryFileSystem& files, std::u16string folder_key)
      : files_(files), folder_key_(std::move(folder_key)) {}

  std::u16string Next() override {
    const std::lock_guard lock(files_.mutex_);
    files_.Enter(Operation::kListNext, folder_key_);
    auto it = last_name_.empty() ? files_.nodes_.begin()
                                 : files_.nodes_.upper_bound(Join(folder_key_, last_name_));
    for (; it != files_.nodes_.end(); ++it) {
      const auto& [key, node] = *it;
      if (key.empty() || ParentKey(key) != folder_key_) continue;
      if (node.is_folder || node.attributes.hidden || node.attributes.system) continue;
      last_name_ = NameOf(key);
      return last_name_;
    }
    return {};
  }

 private:
  MemoryFileSystem& files_;
  std::u16string folder_key_;
  std::u16string last_name_;
};

class MemoryFileSystem::Input : public InputFile {
 public:
  Input(MemoryFileSystem& files, std::u16string key) : files_(files), key_(std::move(key)) {}

  std::uint64_t Length() override {
    const std::lock_guard lock(files_.mutex_);
    files_.Enter(Operation::kLength, key_);
    return files_.FileAt(key_).bytes.size();
  }

  void Read(std::span<std::uint8_t> bytes) override {
    const std::lock_guard lock(files_.mutex_);
    files_.Enter(Operation::kRead, key_);
    const auto& contents = files_.FileAt(key_).bytes;
    if (contents.size() < bytes.size()) Fail("file shorter than expected", key_);
    std::copy_n(contents.begin(), bytes.size(), bytes.begin());
  }

  FileIdentity Identity() override {
    const std::lock_guard lock(files_.mutex_);
    return files_.IdentityOf(files_.FileAt(key_));
  }
  Permissions PermissionBits() override { return kDefaultPermissions; }

 private:
  MemoryFileSystem& files_;
  std::u16string key_;
};

class MemoryFileSystem::Output : public OutputFile {
 public:
  Output(MemoryFileSystem& files, std::u16string key, std::u16string staging_key)
      : files_(files), key_(std::move(key)), staging_key_(std::move(staging_key)) {
    files_.live_staging_.insert(staging_key_);
  }

  ~Output() override {
    const std::lock_guard lock(files_.mutex_);
    files_.live_staging_.erase(staging_key_);
    files_.unflushed_.erase(this);
    if (!committed_) files_.nodes_.erase(staging_key_);
  }

  void Write(std::span<const std::uint8_t> bytes) override {
    const std::lock_guard lock(files_.mutex_);
    files_.Enter(Operation::kWrite, key_);
    auto& staged = files_.FileAt(staging_key_).bytes;
    staged.insert(staged.end(), bytes.begin(), bytes.end());
    files_.unflushed_.insert(this);
  }

  // What FlushStaged found: nothing, or why the contents did not reach disk.
  void Flushed(std::optional<FileError> failure) {
    files_.unflushed_.erase(this);
    flush_failure_ = std::move(failure);
  }

  FileIdentity Commit() override {
    const std::lock_guard lock(files_.mutex_);
    files_.Enter(Operation::kCommit, key_);
    if (flush_failure_) throw *flush_failure_;
    if (files_.unflushed_.erase(this) != 0) files_.Enter(Operation::kFlushAlone, key_);
    const Node* existing = files_.Find(key_);
    FileAttributes attributes;
    if (existing != nullptr) {
      if (existing->is_folder) Fail("a folder has the output's name", key_);
      if (existing->attributes.read_only) Fail("the output is read-only", key_);
      attributes = existing->attributes;
    }
    auto staged = files_.nodes_.extract(staging_key_);
    staged.mapped().attributes = attributes;
    const Node& named =
        files_.nodes_.insert_or_assign(key_, std::move(staged.mapped())).first->second;
    committed_ = true;
    return files_.IdentityOf(named);
  }

  const std::u16string& FolderKey() const { return folder_key_; }

 private:
  MemoryFileSystem& files_;
  std::u16string key_;
  std::u16string folder_key_ = ParentKey(key_);
  std::u16string staging_key_;
  std::optional<FileError> flush_failure_;
  bool committed_ = false;
};

class MemoryFileSystem::MemoryFolder : public Folder {
 public:
  MemoryFolder(MemoryFileSystem& files, std::u16string key) : files_(files), key_(std::move(key)) {}

  std::unique_ptr<FolderListing> ListNormalFiles() override {
    const std::lock_guard lock(files_.mutex_);
    files_.Enter(Operation::kList, key_);
    if (!files_.FolderExists(key_)) Fail("no such folder", key_);
    return std::make_unique<Listing>(files_, key_);
  }

  std::unique_ptr<InputFile> OpenForReading(std::u16string_view name) override {
    const std::lock_guard lock(files_.mutex_);
    files_.Enter(Operation::kOpenForReading, Join(key_, name));
    CheckPlainName(name);
    std::u16string key = Join(key_, name);
    files_.FileAt(key);
    return std::make_unique<Input>(files_, std::move(key));
  }

  std::unique_ptr<OutputFile> OpenForReplacing(std::u16string_view name,
                                               Permissions /*source_permissions*/) override {
    const std::lock_guard lock(files_.mutex_);
    files_.Enter(Operation::kOpenForReplacing, Join(key_, name));
    CheckPlainName(name);
    if (!files_.FolderExists(key_)) Fail("no such folder", key_);
    std::u16string staging_key =
        Join(key_, u".vendrake-" + Utf8ToUtf16(std::to_string(files_.next_staging_++)) + u".tmp");
    files_.Place(staging_key, Node{.is_folder = false, .attributes = {.hidden = true}});
    return std::make_unique<Output>(files_, Join(key_, name), std::move(staging_key));
  }

  FileIdentity Identity() override {
    const std::lock_guard lock(files_.mutex_);
    const Node* node = files_.Find(key_);
    return node == nullptr ? FileIdentity{} : files_.IdentityOf(*node);
  }

  FileIdentity IdentityAt(std::u16string_view name) override {
    const std::lock_guard lock(files_.mutex_);
    try {
      files_.Enter(Operation::kIdentityAt, Join(key_, name));
    } catch (const FileError&) {
      return {};
    }
    const Node* node = files_.Find(Join(key_, name));
    return node == nullptr ? FileIdentity{} : files_.IdentityOf(*node);
  }

  void FlushStaged() override {
    const std::lock_guard lock(files_.mutex_);
    std::optional<FileError> failure;
    try {
      files_.Enter(Operation::kFlushStaged, key_);
    } catch (const FileError& error) {
      failure = error;
    }
    const std::set<Output*> outputs = files_.unflushed_;
    for (Output* output : outputs) {
      if (output->FolderKey() == key_) output->Flushed(failure);
    }
    if (failure) throw *failure;
  }

  std::size_t StagingCapacity() override {
    const std::lock_guard lock(files_.mutex_);
    return files_.staging_capacity_;
  }

  bool IsEmpty() override {
    const std::lock_guard lock(files_.mutex_);
    return std::none_of(files_.nodes_.begin(), files_.nodes_.end(), [&](const auto& entry) {
      const std::u16string& key = entry.first;
      return !key.empty() && ParentKey(key) == key_ && !IsStagingName(NameOf(key));
    });
  }

  std::size_t RemoveAbandonedStaging() override {
    const std::lock_guard lock(files_.mutex_);
    files_.Enter(Operation::kRemoveAbandonedStaging, key_);
    std::size_t removed = 0;
    std::erase_if(files_.nodes_, [&](const auto& entry) {
      const auto& [key, node] = entry;
      const bool abandoned = !key.empty() && ParentKey(key) == key_ && !node.is_folder &&
                             IsStagingName(NameOf(key)) && !files_.live_staging_.contains(key);
      if (abandoned) ++removed;
      return abandoned;
    });
    return removed;
  }

 private:
  MemoryFileSystem& files_;
  std::u16string key_;
};

std::unique_ptr<Folder> MemoryFileSystem::NewFolder(std::u16string key) {
  return std::make_unique<MemoryFolder>(*this, std::move(key));
}

}  // namespace vendrake::engine
