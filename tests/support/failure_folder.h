#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vendrake::testing {

// Writes into `folder` one model that scales (CliffNatural0_A1) and one file
// for each way a file can fail on its own: b_short, c_huge, e_block, f_nan
// and readme.
void WriteOneFileOfEachFailureKind(const std::filesystem::path& folder);

// The details of a run over that folder, one line a failed file, in the order
// of their names (the listing's order is the file system's).
std::vector<std::u16string> DetailsOfEachFailureKind();

}  // namespace vendrake::testing
