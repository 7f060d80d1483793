#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// How the in-memory file system names its nodes: every node is stored under
// its path's key.

namespace vendrake::engine::memory {

// The path with separators unified and runs of them collapsed, without
// leading or trailing separators: the key under which a node is stored.
std::u16string Key(std::u16string_view path);
std::u16string ParentKey(const std::u16string& key);
std::u16string NameOf(const std::u16string& key);
std::u16string Join(const std::u16string& folder_key, std::u16string_view name);

[[noreturn]] void Fail(std::string_view what, std::u16string_view path);

// A name the folder's own files can have: a plain name, not a path.
void CheckPlainName(std::u16string_view name);

bool IsStagingName(std::u16string_view name);

// Every node of this file system lies on one volume.
inline constexpr std::uint64_t kVolume = 1;

}  // namespace vendrake::engine::memory
