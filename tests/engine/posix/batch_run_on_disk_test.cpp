#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/batch_run.h"
#include "engine/posix/posix_file_system.h"
#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

namespace vendrake::engine {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::NamesIn;
using testing::ReadFile;
using testing::WriteFile;

tools::ModelShape Shape(std::uint32_t seed) {
  return {.vertex_count = 12, .face_count = 18, .seed = seed};
}

Bytes Doubled(const tools::ModelShape& shape) { return testing::ScaledModel(shape, 2.0F); }

class BatchRunOnDisk : public ::testing::Test {
 protected:
  BatchRunOnDisk() { fs::create_directory(source_); }

  BatchOutcome Run(const std::u16string& destination) {
    return RunBatch(state_, files_, testing::FolderText(source_), destination);
  }

  testing::TemporaryFolder root_;
  const fs::path source_ = root_.Path() / "CliffNatural0";
  const fs::path dest_ = root_.Path() / "CliffNatural0_2x";
  PosixFileSystem files_;
  WindowState state_{.ModelWords = {}, .DestBaseName = {}, .ScaleFactor = 2.0F};
};

TEST_F(BatchRunOnDisk, ScalesTheModelsIntoANewFolder) {
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel(Shape(1)));
  WriteFile(source_ / "CliffNatural0_B2", tools::MakeModel(Shape(2)));
  WriteFile(source_ / "readme", tools::MakeModel(Shape(3)));

  const BatchOutcome outcome = Run(testing::FolderText(dest_));

  EXPECT_EQ(outcome.kind, BatchOutcome::Kind::kFinished);
  EXPECT_EQ(outcome.tally, (RunTally{.attempted = 3, .succeeded = 2}));
  EXPECT_THAT(NamesIn(dest_), ElementsAre("CliffNatural0_2x_A1", "CliffNatural0_2x_B2"));
  EXPECT_EQ(ReadFile(dest_ / "CliffNatural0_2x_A1"), Doubled(Shape(1)));
  EXPECT_EQ(ReadFile(dest_ / "CliffNatural0_2x_B2"), Doubled(Shape(2)));
}

TEST_F(BatchRunOnDisk, InPlaceRunScalesEveryFileExactlyOnce) {
  // Each Aaa_ file adds a CliffNatural0_ file to the folder being read.
  // Whether readdir yields such a file depends on the file system; with more
  // names than one read of the folder returns, some are yielded on ext4.
  constexpr int kAdded = 1200;
  for (int k = 0; k < kAdded; ++k) {
    const auto seed = static_cast<std::uint32_t>(10 + k);
    WriteFile(source_ / ("Aaa_" + std::to_string(k)), tools::MakeModel(Shape(seed)));
  }
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel(Shape(1)));

  // The same folder through another text.
  const BatchOutcome outcome = Run(u"C:" + testing::FolderText(source_));

  EXPECT_EQ(outcome.tally, (RunTally{.attempted = kAdded + 1, .succeeded = kAdded + 1}));
  EXPECT_EQ(ReadFile(source_ / "CliffNatural0_A1"), Doubled(Shape(1)));
  for (int k = 0; k < kAdded; ++k) {
    SCOPED_TRACE(k);
    const auto seed = static_cast<std::uint32_t>(10 + k);
    EXPECT_EQ(ReadFile(source_ / ("Aaa_" + std::to_string(k))), tools::MakeModel(Shape(seed)));
    EXPECT_EQ(ReadFile(source_ / ("CliffNatural0_" + std::to_string(k))), Doubled(Shape(seed)));
  }
  EXPECT_EQ(NamesIn(source_).size(), 2U * kAdded + 1);
}

TEST_F(BatchRunOnDisk, ExistingOutputsAreReplacedWholeAndLinksAreNotFollowed) {
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel(Shape(1)));
  WriteFile(source_ / "CliffNatural0_B2", tools::MakeModel(Shape(2)));
  fs::create_directory(dest_);
  WriteFile(dest_ / "CliffNatural0_2x_A1", Bytes(10000, 0xEE));
  WriteFile(root_.Path() / "target", {1, 2, 3});
  fs::create_symlink(root_.Path() / "target", dest_ / "CliffNatural0_2x_B2");

  const BatchOutcome outcome = Run(testing::FolderText(dest_));

  EXPECT_EQ(outcome.tally, (RunTally{.attempted = 2, .succeeded = 2}));
  EXPECT_EQ(ReadFile(dest_ / "CliffNatural0_2x_A1"), Doubled(Shape(1)));
  EXPECT_FALSE(fs::is_symlink(dest_ / "CliffNatural0_2x_B2"));
  EXPECT_EQ(ReadFile(dest_ / "CliffNatural0_2x_B2"), Doubled(Shape(2)));
  EXPECT_EQ(ReadFile(root_.Path() / "target"), (Bytes{1, 2, 3}));
  EXPECT_THAT(NamesIn(dest_), ElementsAre("CliffNatural0_2x_A1", "CliffNatural0_2x_B2"));
}

TEST_F(BatchRunOnDisk, EachFileIsScaledOnceHoweverItIsReached) {
  // In place, eight links all lead to the one file every name is written to.
  const fs::path work = root_.Path() / "Work";
  fs::create_directory(work);
  WriteFile(work / "Work_A1", tools::MakeModel(Shape(1)));
  for (int k = 1; k <= 8; ++k) {
    fs::create_symlink("Work_A1", work / ("Link" + std::to_string(k) + "_A1"));
  }
  // Across folders, a link in the source leads to an output of the same run.
  WriteFile(source_ / "CliffNatural0_B2", tools::MakeModel(Shape(2)));
  fs::create_symlink(dest_ / "CliffNatural0_2x_B2", source_ / "Linked_B2");

  const BatchOutcome in_place =
      RunBatch(state_, files_, testing::FolderText(work), testing::FolderText(work));
  const BatchOutcome across = Run(testing::FolderText(dest_));

  EXPECT_EQ(in_place.tally, (RunTally{.attempted = 1, .succeeded = 1}));
  EXPECT_EQ(ReadFile(work / "Work_A1"), Doubled(Shape(1)));
  for (int k = 1; k <= 8; ++k) {
    EXPECT_EQ(ReadFile(work / ("Link" + std::to_string(k) + "_A1")), Doubled(Shape(1)));
  }
  EXPECT_EQ(across.tally, (RunTally{.attempted = 1, .succeeded = 1}));
  EXPECT_THAT(NamesIn(dest_), ElementsAre("CliffNatural0_2x_B2"));
  EXPECT_EQ(ReadFile(dest_ / "CliffNatural0_2x_B2"), Doubled(Shape(2)));
}

TEST_F(BatchRunOnDisk, DotsAtTheEndOfTheDestinationNameTheFolderItself) {
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel(Shape(1)));
  fs::create_directories(root_.Path() / "up" / "sub");

  Run(testing::FolderText(dest_) + u".\\");
  Run(testing::FolderText(root_.Path() / "up" / "sub") + u"..\\");

  EXPECT_THAT(NamesIn(dest_), ElementsAre("CliffNatural0_2x_A1"));
  EXPECT_THAT(NamesIn(root_.Path() / "up"), ElementsAre("sub", "up_A1"));
  EXPECT_EQ(ReadFile(root_.Path() / "up" / "up_A1"), Doubled(Shape(1)));
}

TEST_F(BatchRunOnDisk, NameHoldingABackslashIsNotTakenAsAPath) {
  // Read as a path, the name would reach Sub/Inner_A1.
  WriteFile(source_ / "Sub\\Inner_A1", {0, 0, 0, 0});
  fs::create_directory(source_ / "Sub");
  WriteFile(source_ / "Sub" / "Inner_A1", tools::MakeModel(Shape(1)));

  const BatchOutcome outcome = Run(testing::FolderText(dest_));

  EXPECT_EQ(outcome.tally, (RunTally{.attempted = 1, .succeeded = 0}));
  EXPECT_THAT(NamesIn(dest_), IsEmpty());
}

}  // namespace
}  // namespace vendrake::engine
