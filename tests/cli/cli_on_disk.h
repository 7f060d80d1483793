#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temporary_folder.h"

namespace vendrake::testing {

inline std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A temporary folder holding an empty source folder, CliffNatural0, and the
// place of its destination beside it, for runs of the real vendrake-cli.
class CliOnDisk : public ::testing::Test {
 protected:
  CliOnDisk() : source_(root_.Path() / "CliffNatural0"), dest_(root_.Path() / "CliffNatural0_2x") {
    std::filesystem::create_directory(source_);
  }

  TemporaryFolder root_;
  std::filesystem::path source_;
  std::filesystem::path dest_;
};

}  // namespace vendrake::testing
