#pragma once

#include <string>
#include <string_view>

namespace vendrake::engine {

// The POSIX path for a Windows-syntax path text: every "\" becomes "/", a run
// of separators becomes one, and a leading drive prefix such as C: followed by
// a separator stands for the root. The result is in the platform's file name
// bytes (see text_encoding.h).
std::string ToNativePath(std::u16string_view path);

}  // namespace vendrake::engine
