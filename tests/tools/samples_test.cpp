#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/temporary_folder.h"

namespace vendrake::testing {
namespace {

namespace fs = std::filesystem;

// The bundled sample folder must be exactly what the generator writes with
// its default arguments, so the samples stay reproducible and synthetic.
TEST(BundledSamples, AreWhatTheGeneratorWritesByDefault) {
  TemporaryFolder scratch;
  const fs::path generated = scratch.Path() / "CliffNatural0";
  const std::string command =
      std::string(VENDRAKE_MAKE_SAMPLES_PATH) + " --out '" + generated.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);

  const fs::path bundled = VENDRAKE_SAMPLES_DIR;
  ASSERT_EQ(NamesIn(generated), NamesIn(bundled));
  for (const std::string& name : NamesIn(bundled)) {
    EXPECT_EQ(ReadFile(generated / name), ReadFile(bundled / name)) << name;
  }
}

}  // namespace
}  // namespace vendrake::testing
