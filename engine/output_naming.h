#pragma once

#include <string>
#include <string_view>

namespace vendrake::engine {

// The base of every output name for the destination folder text `destination`
// (ending in "\"): "\" followed by the folder's own name, so C:\X\Out\ gives
// \Out, out\ gives \out and the drive-relative D:Out\ gives \Out. A drive
// root such as C:\, or "\" alone, has no name of its own and gives the empty
// text.
// On Windows the name is the one the system gives the folder, without the
// dots and spaces at its end (Dest. gives \Dest), but for a \\?\ path.
std::u16string DeriveDestBaseName(std::u16string_view destination);

// The part of the file name `entry` from its first "_" to its end: Rock_A1
// gives _A1. Throws InvalidArgumentError when the name holds no "_".
std::u16string SuffixOf(std::u16string_view entry);

// The output's own name inside the destination folder: the base name without
// its leading "\", then the suffix.
std::u16string OutputName(std::u16string_view dest_base_name, std::u16string_view suffix);

}  // namespace vendrake::engine
