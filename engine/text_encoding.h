#pragma once

#include <string>
#include <string_view>

namespace vendrake::engine {

// Conversion between the system's UTF-16 texts and the byte strings of POSIX
// file names and consoles, which are UTF-8 by convention but may hold any
// bytes. A byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80 + (byte - 0x80) and turns back into that byte, so every file name
// survives the round trip unchanged.
std::u16string Utf8ToUtf16(std::string_view bytes);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace vendrake::engine
