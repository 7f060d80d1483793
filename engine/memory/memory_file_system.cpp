#include "engine/memory/memory_file_system.h"

#include <algorithm>
#include <new>
#include <numeric>
#include <utility>

#include "engine/errors.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
namespace {

// The path with separators unified and runs of them collapsed, without
// leading or trailing separators: the key under which a node is stored.
std::u16string Key(std::u16string_view path) {
  std::u16string key;
  for (const char16_t unit : path) {
    const bool separator = unit == u'\\' || unit == u'/';
    if (!separator) {
      key.push_back(unit);
    } else if (!key.empty() && key.back() != u'\\') {
      key.push_back(u'\\');
    }
  }
  if (!key.empty() && key.back() == u'\\') key.pop_back();
  return key;
}

std::u16string ParentKey(const std::u16string& key) {
  const auto at = key.rfind(u'\\');
  return at == std::u16string::npos ? std::u16string() : key.substr(0, at);
}

std::u16string NameOf(const std::u16string& key) {
  const auto at = key.rfind(u'\\');
  return at == std::u16string::npos ? key : key.substr(at + 1);
}

std::u16string Join(const std::u16string& folder_key, std::u16string_view name) {
  return folder_key.empty() ? std::u16string(name) : folder_key + u'\\' + std::u16string(name);
}

[[noreturn]] void Fail(std::string_view what, std::u16string_view path) {
  throw FileError(std::string(what) + ": " + Utf16ToUtf8(path));
}

// A name the folder's own files can have: a plain name, not a path.
void CheckPlainName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u".." ||
      name.find_first_of(u"\\/") != std::u16string_view::npos) {
    Fail("not the name of a file in a folder", name);
  }
}

bool IsStagingName(std::u16string_view name) {
  return name.starts_with(u".vendrake-") && name.ends_with(u".tmp");
}

// Every node of this file system lies on one volume.
constexpr std::uint64_t kVolume = 1;

}  // namespace

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

void MemoryFileSystem::AddFolder(std::u16string_view path) {
  const std::lock_guard lock(mutex_);
  for (std::u16string key = Key(path); !key.empty(); key = ParentKey(key)) {
    const Node* node = Find(key);
    if (node == nullptr || !node->is_folder) Place(key, Node{.is_folder = true});
  }
}

void MemoryFileSystem::AddFile(std::u16string_view path, std::vector<std::uint8_t> bytes,
                               FileAttributes attributes) {
  const std::lock_guard lock(mutex_);
  const std::u16string key = Key(path);
  AddFolder(ParentKey(key));
  Place(key, Node{.is_folder = false, .attributes = attributes, .bytes = std::move(bytes)});
}

MemoryFileSystem::Node& MemoryFileSystem::Place(const std::u16string& key, Node node) {
  node.id = next_id_++;
  return nodes_.insert_or_assign(key, std::move(node)).first->second;
}

std::optional<FileAttributes> MemoryFileSystem::AttributesOf(std::u16string_view path) const {
  const std::lock_guard lock(mutex_);
  const Node* node = Find(Key(path));
  if (node == nullptr || node->is_folder) return std::nullopt;
  return node->attributes;
}

std::optional<std::vector<std::uint8_t>> MemoryFileSystem::FileBytes(
    std::u16string_view path) const {
  const std::lock_guard lock(mutex_);
  const Node* node = Find(Key(path));
  if (node == nullptr || node->is_folder) return std::nullopt;
  return node->bytes;
}

bool MemoryFileSystem::FolderExists(std::u16string_view path) const {
  const std::lock_guard lock(mutex_);
  const std::u16string key = Key(path);
  const Node* node = Find(key);
  return key.empty() || (node != nullptr && node->is_folder);
}

std::vector<std::u16string> MemoryFileSystem::FilePaths() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::u16string> paths;
  for (const auto& [key, node] : nodes_) {
    if (!node.is_folder) paths.push_back(key);
  }
  return paths;
}

std::vector<std::u16string> MemoryFileSystem::NamesIn(std::u16string_view path) const {
  const std::lock_guard lock(mutex_);
  const std::u16string folder = Key(path);
  std::vector<std::u16string> names;
  for (const auto& [key, node] : nodes_) {
    if (!key.empty() && ParentKey(key) == folder) names.push_back(NameOf(key));
  }
  return names;
}

void MemoryFileSystem::FailOn(Operation operation, int call_number, Failure failure) {
  const std::lock_guard lock(mutex_);
  failures_[static_cast<std::size_t>(operation)].emplace_back(call_number, failure);
}

int MemoryFileSystem::Calls(Operation operation) const {
  const std::lock_guard lock(mutex_);
  return calls_[static_cast<std::size_t>(operation)];
}

int MemoryFileSystem::TotalCalls() const {
  const std::lock_guard lock(mutex_);
  return std::accumulate(calls_.begin(), calls_.end(), 0);
}

void MemoryFileSystem::Enter(Operation operation, std::u16string_view path) {
  const auto index = static_cast<std::size_t>(operation);
  const int call = ++calls_[index];
  for (const auto& [call_number, failure] : failures_[index]) {
    if (call_number != call) continue;
    if (failure == Failure::kOutOfMemory) throw std::bad_alloc();
    if (failure == Failure::kShortOfRoom) {
      throw FileError("no room left: " + Utf16ToUtf8(path), FileProblem::kShortOfRoom);
    }
    Fail("injected failure", path);
  }
}

MemoryFileSystem::Node* MemoryFileSystem::Find(const std::u16string& key) {
  const auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

const MemoryFileSystem::Node* MemoryFileSystem::Find(const std::u16string& key) const {
  const auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

MemoryFileSystem::Node& MemoryFileSystem::FileAt(const std::u16string& key) {
  Node* node = Find(key);
  if (node == nullptr || node->is_folder) Fail("no such file", key);
  return *node;
}

void MemoryFileSystem::CreateFolder(std::u16string_view folder) {
  const std::lock_guard lock(mutex_);
  Enter(Operation::kCreateFolder, folder);
  const std::u16string key = Key(folder);
  if (key.empty() || Find(key) != nullptr) Fail("already exists", folder);
  if (!FolderExists(ParentKey(key))) Fail("parent folder missing", folder);
  Place(key, Node{.is_folder = true});
}

std::unique_ptr<Folder> MemoryFileSystem::OpenFolder(std::u16string_view folder) {
  const std::lock_guard lock(mutex_);
  Enter(Operation::kOpenFolder, folder);
  std::u16string key = Key(folder);
  if (!FolderExists(key)) Fail("no such folder", folder);
  return std::make_unique<MemoryFolder>(*this, std::move(key));
}

bool MemoryFileSystem::HidesByName(std::u16string_view /*name*/) const { return false; }

std::u16string MemoryFileSystem::NameKey(std::u16string_view name) const {
  return std::u16string(name);
}

FileIdentity MemoryFileSystem::IdentityOf(const Node& node) const {
  if (!identities_known_) return {};
  return {.volume = kVolume, .file = node.id};
}

}  // namespace vendrake::engine
