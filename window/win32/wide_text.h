#pragma once

#include <string>
#include <string_view>

namespace vendrake::window {

// UTF-16 text as the system's wide calls take it: on Windows wchar_t is a
// UTF-16 code unit.
inline std::wstring Wide(std::u16string_view text) { return {text.begin(), text.end()}; }

}  // namespace vendrake::window
