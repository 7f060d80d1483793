#pragma once

#include <string>
#include <string_view>

namespace vendrake::engine {

// The POSIX path for a Windows-syntax path text: every "\" becomes "/", a run
// of separators becomes one, and a leading drive prefix such as C: followed by
// a separator stands for the root. The result is in the platform's file name
// bytes (see text_encoding.h).
std::string ToNativePath(std::u16string_view path);

// The path in the form Windows itself writes: every "/" becomes "\" and a run
// of separators becomes one, except the two that open a UNC path
// (\\server\share). A drive prefix stays as it is.
std::u16string ToWindowsPath(std::u16string_view path);

// The path as this platform's own programs show it: ToWindowsPath on Windows,
// ToNativePath (as text) elsewhere.
std::u16string DisplayPath(std::u16string_view path);

}  // namespace vendrake::engine
