#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/cli_on_disk.h"
#include "tests/support/process.h"
#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

namespace vendrake::testing {
namespace {

namespace fs = std::filesystem;

// The program's output with each line ending in "\n": on Windows the C
// run-time writes "\r\n" for it to a redirected stream, as Windows programs do.
std::string Text(std::string text) {
#ifdef _WIN32
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.erase(at, 1);
  }
#endif
  return text;
}

ProcessResult RunProgram(const std::vector<std::string>& options) {
  ProcessResult result = RunProcess(VENDRAKE_CLI_PATH, options);
  result.out = Text(result.out);
  result.err = Text(result.err);
  return result;
}

// vendrake-cli on real folders, on every platform; what only a POSIX host can
// show is in vendrake_cli_posix_test.cpp.
class VendrakeCli : public CliOnDisk {};

TEST_F(VendrakeCli, ScalesEveryModelAndKeepsTrailingBytes) {
  const tools::ModelShape first{
      .vertex_count = 64, .face_count = 96, .seed = 1, .trailing_bytes = 3};
  const tools::ModelShape second{.vertex_count = 300, .face_count = 450, .seed = 2};
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel(first));
  WriteFile(source_ / "CliffNatural0_B_2", tools::MakeModel(second));

  const ProcessResult run =
      RunProgram({"--source", Utf8Text(source_), "--dest", Utf8Text(dest_), "--scale", " 2.5 "});

  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Attempted model scales: 2. Success count: 2.\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(NamesIn(dest_),
            (std::vector<std::string>{"CliffNatural0_2x_A1", "CliffNatural0_2x_B_2"}));
  EXPECT_EQ(ReadFile(dest_ / "CliffNatural0_2x_A1"), ScaledModel(first, 2.5F));
  EXPECT_EQ(ReadFile(dest_ / "CliffNatural0_2x_B_2"), ScaledModel(second, 2.5F));
  EXPECT_EQ(ReadFile(source_ / "CliffNatural0_A1"), tools::MakeModel(first));
}

TEST_F(VendrakeCli, OneBadFileGivesStatusOneAndIsReported) {
  WriteFile(source_ / "rock_A1", tools::MakeModel({}));
  WriteFile(source_ / "rock_B2", {0x5F, 0x5F, 0x38});

  const ProcessResult run = RunProgram(
      {"--report", "--source", Utf8Text(source_), "--dest", Utf8Text(root_.Path() / "out")});

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  // The listing order of a real folder is the platform's; only the summary's
  // place is fixed. Paths are printed in the platform's own form.
  std::vector<std::string> lines = LinesOf(run.out);
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[2], "Attempted model scales: 2. Success count: 1.");
  lines.pop_back();
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "rock_A1 -> " + Utf8Text(root_.Path() / "out" / "out_A1"),
                "rock_B2: failed: shorter than 4 bytes, too short to be a model (the file holds 3 "
                "bytes, no whole word)"}));
  EXPECT_EQ(ReadFile(root_.Path() / "out" / "out_A1"), ScaledModel({}, 2.0F));
  EXPECT_EQ(NamesIn(root_.Path() / "out"), std::vector<std::string>{"out_A1"});
}

// On Windows the arguments must come from the UTF-16 command line: the ANSI
// one has no room for these.
TEST_F(VendrakeCli, FolderNamesOutsideAsciiArriveIntact) {
  const fs::path source = root_.Path() / fs::path(u8"H\u00F6he \u5D16 \U0001F600");
  const fs::path dest = root_.Path() / fs::path(u8"\u03A9_2x");
  fs::create_directory(source);
  WriteFile(source / "rock_A1", tools::MakeModel({}));

  const ProcessResult run = RunProgram({"--source", Utf8Text(source), "--dest", Utf8Text(dest)});

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Attempted model scales: 1. Success count: 1.\n");
  EXPECT_EQ(ReadFile(dest / fs::path(u8"\u03A9_2x_A1")), ScaledModel({}, 2.0F));
}

TEST_F(VendrakeCli, RejectedScaleGivesStatusTwoAndWritesNothing) {
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel({}));

  const ProcessResult run =
      RunProgram({"--source", Utf8Text(source_), "--dest", Utf8Text(dest_), "--scale", "1e39"});

  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "vendrake-cli: the factor \"1e39\" is out of range; a factor lies between -3.4e38 "
            "and 3.4e38\n");
  EXPECT_FALSE(fs::exists(dest_));
}

// A folder named by mistake, missing or a file, is named back and nothing is
// made for it; the other folders go on. After "--", a text that looks like an
// option is a folder.
TEST_F(VendrakeCli, ASourceThatIsNoFolderIsNamedAndNothingIsMadeForIt) {
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel({}));
  const std::string file = Utf8Text(source_ / "CliffNatural0_A1");

  const ProcessResult run = RunProgram({"-x", "2", "--", "--dest=", file, Utf8Text(source_)});

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "vendrake-cli: --dest=: No such file or directory\nvendrake-cli: " + file +
                         ": Not a directory\n");
  EXPECT_EQ(run.out, Utf8Text(source_) +
                         ": Attempted model scales: 1. Success count: 1.\n"
                         "Total of 3 folders: Attempted model scales: 1. Success count: 1.\n");
  EXPECT_EQ(NamesIn(source_), (std::vector<std::string>{"CliffNatural0_A1"}));
  EXPECT_EQ(NamesIn(dest_), (std::vector<std::string>{"CliffNatural0_2x_A1"}));
  EXPECT_FALSE(fs::exists("--dest=_2x"));
}

TEST_F(VendrakeCli, UnknownOptionGivesStatusTwoAndWritesNothing) {
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel({}));

  const ProcessResult run =
      RunProgram({"--source", Utf8Text(source_), "--dest", Utf8Text(dest_), "--frobnicate"});

  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("--frobnicate"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dest_));
}

}  // namespace
}  // namespace vendrake::testing
