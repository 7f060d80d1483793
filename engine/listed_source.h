#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/file_system.h"
#include "engine/word_image.h"

namespace vendrake::engine {

// Throws FileError for a listed name that would lead out of its folder: on
// POSIX a name may hold "\", which the folder texts read as a separator; and
// for one ending in a dot or a space, whose output Windows could not open.
void CheckPlainName(const std::u16string& entry);

// Reads the whole open file into `image`, trailing bytes included. Throws
// SubscriptError for a file shorter than one word, OverflowError for one the
// scaling pass cannot index (before reading any of it), and FileError.
void LoadImage(InputFile& input, WordImage& image);

// How many names the listing of the folder `source` yields, up to its end or
// to a "." or ".." entry, as a run takes them; the names only, no file is
// opened. A folder that cannot be listed, or memory running out, counts what
// was listed before the failure. Throws nothing.
std::int64_t CountListedFiles(FileSystem& files, std::u16string_view source);

}  // namespace vendrake::engine
