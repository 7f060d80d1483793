#pragma once

#include <string>
#include <string_view>

namespace vendrake::engine {

// The folder text `folder` (ending in "\") with the "." and ".." components
// at its end resolved by the text alone, as Windows resolves them:
// out\.\ gives out\, and up\sub\..\ gives up\. A ".." at a root stays at the root
// (C:\..\ gives C:\). One that has no name left before it to take away stays
// as it is (..\ is left alone), and so does a text whose names all go
// (a\..\ gives .\). Components before the last name are left to the platform.
std::u16string ResolveTrailingDots(std::u16string_view folder);

}  // namespace vendrake::engine
