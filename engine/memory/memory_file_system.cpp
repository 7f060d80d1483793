#include "engine/memory/memory_file_system.h"

#include <algorithm>
#include <new>
#include <numeric>
#include <utility>

#include "engine/errors.h"
#include "engine/memory/memory_keys.h"
#include "engine/text_encoding.h"

namespace vendrake::engine {
using memory::Fail;
using memory::Join;
using memory::Key;
using memory::kVolume;
using memory::NameOf;
using memory::ParentKey;

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
  if (!FolderExists(key)) {
    // As a system says of it: a file at the name or on the way to it.
    for (std::u16string on_way = key; !on_way.empty(); on_way = ParentKey(on_way)) {
      const Node* node = Find(on_way);
      if (node != nullptr && !node->is_folder) {
        throw FileError("not a folder: " + Utf16ToUtf8(folder), FileProblem::kNotAFolder);
      }
    }
    throw FileError("no such folder: " + Utf16ToUtf8(folder), FileProblem::kNoSuchFolder);
  }
  return NewFolder(std::move(key));
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
