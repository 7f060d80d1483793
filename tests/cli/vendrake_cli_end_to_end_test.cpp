#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

namespace vendrake::testing {
namespace {

namespace fs = std::filesystem;

ProcessResult RunProgram(const std::vector<std::string>& options) {
  return RunProcess(VENDRAKE_CLI_PATH, options);
}

// The model with every vertex height multiplied by `factor`, worked out from
// the generator's layout rather than by the program's own pass.
std::vector<std::uint8_t> ScaledModel(const tools::ModelShape& shape, float factor) {
  static_assert(std::endian::native == std::endian::little);
  std::vector<std::uint8_t> bytes = tools::MakeModel(shape);
  const tools::ModelLayout layout = tools::LayoutOf(shape);
  for (std::size_t record = 0; record < shape.vertex_count; ++record) {
    std::uint8_t* height = bytes.data() + layout.vertex_block + 32 * record + 8;
    float value = 0.0F;
    std::memcpy(&value, height, 4);
    value *= factor;
    std::memcpy(height, &value, 4);
  }
  return bytes;
}

class VendrakeCli : public ::testing::Test {
 protected:
  VendrakeCli()
      : source_(root_.Path() / "CliffNatural0"), dest_(root_.Path() / "CliffNatural0_2x") {
    fs::create_directory(source_);
  }

  TemporaryFolder root_;
  fs::path source_;
  fs::path dest_;
};

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
  // place is fixed.
  std::vector<std::string> lines;
  std::istringstream out(run.out);
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[2], "Attempted model scales: 2. Success count: 1.");
  lines.pop_back();
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "rock_A1 -> " + Utf8Text(root_.Path() / "out" / "out_A1"),
                "rock_B2: failed: shorter than 4 bytes (the file holds 3 bytes, no whole word)"}));
  EXPECT_EQ(ReadFile(root_.Path() / "out" / "out_A1"), ScaledModel({}, 2.0F));
  EXPECT_EQ(NamesIn(root_.Path() / "out"), std::vector<std::string>{"out_A1"});
}

TEST_F(VendrakeCli, RejectedScaleGivesStatusTwoAndWritesNothing) {
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel({}));

  const ProcessResult run =
      RunProgram({"--source", Utf8Text(source_), "--dest", Utf8Text(dest_), "--scale", "1e39"});

  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Scale value is out of range.\n");
  EXPECT_FALSE(fs::exists(dest_));
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
