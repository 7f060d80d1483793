#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/process.h"
#include "tests/support/temporary_folder.h"

namespace vendrake::testing {
namespace {

namespace fs = std::filesystem;

// The bundled sample folder must be exactly what the generator writes with
// its default arguments, so the samples stay reproducible and synthetic.
TEST(BundledSamples, AreWhatTheGeneratorWritesByDefault) {
  TemporaryFolder scratch;
  const fs::path generated = scratch.Path() / "CliffNatural0";
  const ProcessResult run = RunProcess(VENDRAKE_MAKE_SAMPLES_PATH, {"--out", Utf8Text(generated)});
  ASSERT_EQ(run.status, 0) << run.err;

  const fs::path bundled = VENDRAKE_SAMPLES_DIR;
  ASSERT_EQ(NamesIn(generated), NamesIn(bundled));
  for (const std::string& name : NamesIn(bundled)) {
    EXPECT_EQ(ReadFile(generated / name), ReadFile(bundled / name)) << name;
  }
}

}  // namespace
}  // namespace vendrake::testing
