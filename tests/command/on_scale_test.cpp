#include "command/on_scale.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "command/defaults.h"
#include "command/run_details.h"
#include "engine/memory/memory_file_system.h"
#include "engine/text_encoding.h"
#include "tests/support/recording_surface.h"
#include "tools/synthetic_model.h"

namespace vendrake::command {
namespace {

using Events = std::vector<std::u16string>;
using engine::MemoryFileSystem;
using testing::RecordingSurface;

constexpr char16_t kStart1[] = u"button disabled";
constexpr char16_t kStart2[] = u"caption <- Working...";
constexpr char16_t kEnd1[] = u"button enabled";
constexpr char16_t kEnd2[] = u"caption <- Scale";

// The texts as the user reads them, spelled out rather than taken from the
// command's own constants.
constexpr char16_t kSourceInvalid[] = u"Source must be a valid path name.";
constexpr char16_t kDestinationInvalid[] = u"Destination must be a valid path name.";
constexpr char16_t kNotNumeric[] =
    u"Scale value must be numeric. Please use . as the decimal separator.";
constexpr char16_t kOutOfRange[] = u"Scale value is out of range.";
constexpr char16_t kSourceMissing[] = u"The source path does not exist.";

Events Concat(std::initializer_list<Events> parts) {
  Events all;
  for (const Events& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A message that stops the command is shown while the button is still locked.
Events StoppedBy(const std::u16string& message) { return {u"message: " + message, kEnd1, kEnd2}; }

class OnScaleTest : public ::testing::Test {
 protected:
  ScaleOutcome Press(RecordingSurface& surface) { return OnScale(surface, state_, files_); }

  MemoryFileSystem files_;
  engine::WindowState state_;
};

struct SourceCase {
  std::u16string typed;
  Events write_backs;
};

// Quoted: gtest_discover_tests reads the test listing as a CMake list, in
// which a value ending in "\" would join the cases after it into one entry.
void PrintTo(const SourceCase& c, std::ostream* os) {
  *os << '"' << engine::Utf16ToUtf8(c.typed) << '"';
}

class OnScaleSource : public OnScaleTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(OnScaleSource, IsNormalisedInItsBoxBeforeTheDestination) {
  RecordingSurface surface(GetParam().typed, u"D:\\Out\\", u"2.0");
  EXPECT_EQ(Press(surface).kind, ScaleOutcome::Kind::kSourceEmpty);
  EXPECT_EQ(surface.Events(), Concat({{kStart1, kStart2},
                                      GetParam().write_backs,
                                      {u"destination <- D:\\Out\\"},
                                      StoppedBy(kSourceMissing)}));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, OnScaleSource,
    ::testing::Values(SourceCase{u"C:/Models",
                                 {u"source <- C:\\Models", u"source <- C:\\Models\\"}},
                      SourceCase{u"C:\\Models\\", {u"source <- C:\\Models\\"}},
                      SourceCase{u"C:\\", {u"source <- C:\\"}},
                      SourceCase{u"C:/", {u"source <- C:\\"}},
                      SourceCase{u"a//b", {u"source <- a\\\\b", u"source <- a\\\\b\\"}}));

TEST_F(OnScaleTest, SourceOfTwoCharactersIsRejectedBeforeAnythingChanges) {
  RecordingSurface surface(u"C:", u"C:/Out", u"2.0");
  EXPECT_EQ(Press(surface).kind, ScaleOutcome::Kind::kRejected);
  EXPECT_EQ(surface.Events(), Concat({{kStart1, kStart2}, StoppedBy(kSourceInvalid)}));
  EXPECT_EQ(surface.DestinationText(), u"C:/Out");
  EXPECT_EQ(files_.TotalCalls(), 0);
}

TEST_F(OnScaleTest, DestinationOfTwoCharactersIsRejectedAfterTheSourceIsNormalised) {
  RecordingSurface surface(u"C:/In", u"D:", u"2.0");
  EXPECT_EQ(Press(surface).kind, ScaleOutcome::Kind::kRejected);
  EXPECT_EQ(surface.Events(),
            Concat({{kStart1, kStart2, u"source <- C:\\In", u"source <- C:\\In\\"},
                    StoppedBy(kDestinationInvalid)}));
  EXPECT_EQ(files_.TotalCalls(), 0);
}

TEST_F(OnScaleTest, DestinationOfThreeCharactersGoesOnToTheRun) {
  RecordingSurface surface(u"C:/In", u"D:\\", u"2.0");
  EXPECT_EQ(Press(surface).kind, ScaleOutcome::Kind::kSourceEmpty);
  EXPECT_EQ(surface.Events(), Concat({{kStart1, kStart2, u"source <- C:\\In", u"source <- C:\\In\\",
                                       u"destination <- D:\\"},
                                      StoppedBy(kSourceMissing)}));
  EXPECT_EQ(files_.Calls(MemoryFileSystem::Operation::kCreateFolder), 1);
}

struct ScaleCase {
  std::u16string typed;
  std::u16string message;
  std::optional<float> factor;  // nothing when the run must not start
};

void PrintTo(const ScaleCase& c, std::ostream* os) { *os << engine::Utf16ToUtf8(c.typed); }

class OnScaleScale : public OnScaleTest, public ::testing::WithParamInterface<ScaleCase> {};

TEST_P(OnScaleScale, IsCheckedAfterBothFolderBoxesAreNormalised) {
  state_.ScaleFactor = 7.0F;  // left from an earlier run
  RecordingSurface surface(u"C:\\In", u"C:\\Out", GetParam().typed);
  const ScaleOutcome outcome = Press(surface);
  EXPECT_EQ(surface.Events(), Concat({{kStart1, kStart2, u"source <- C:\\In", u"source <- C:\\In\\",
                                       u"destination <- C:\\Out", u"destination <- C:\\Out\\"},
                                      StoppedBy(GetParam().message)}));
  if (GetParam().factor) {
    EXPECT_EQ(outcome.kind, ScaleOutcome::Kind::kSourceEmpty);
    EXPECT_EQ(state_.ScaleFactor, *GetParam().factor);
    EXPECT_EQ(files_.Calls(MemoryFileSystem::Operation::kCreateFolder), 1);
  } else {
    EXPECT_EQ(outcome.kind, ScaleOutcome::Kind::kRejected);
    EXPECT_EQ(state_.ScaleFactor, 7.0F);
    EXPECT_EQ(files_.TotalCalls(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, OnScaleScale,
                         ::testing::Values(ScaleCase{u" 2.5 ", kSourceMissing, 2.5F},
                                           ScaleCase{u"1e2", kSourceMissing, 100.0F},
                                           ScaleCase{u"-0.5", kSourceMissing, -0.5F},
                                           ScaleCase{u"", kNotNumeric, std::nullopt},
                                           ScaleCase{u"two", kNotNumeric, std::nullopt},
                                           ScaleCase{u"2,5", kNotNumeric, std::nullopt},
                                           ScaleCase{u"1e39", kOutOfRange, std::nullopt},
                                           ScaleCase{u"-1e39", kOutOfRange, std::nullopt}));

TEST_F(OnScaleTest, ExistingEmptySourceReadsAsMissing) {
  files_.AddFolder(u"C:\\In");
  files_.AddFile(u"C:\\In\\.hidden_A1", tools::MakeModel({}), {.hidden = true});
  RecordingSurface surface(u"C:\\In\\", u"C:\\Out\\", u"2.0");
  EXPECT_EQ(Press(surface).kind, ScaleOutcome::Kind::kSourceEmpty);
  EXPECT_EQ(surface.Events(),
            Concat({{kStart1, kStart2, u"source <- C:\\In\\", u"destination <- C:\\Out\\"},
                    StoppedBy(kSourceMissing)}));
}

TEST_F(OnScaleTest, DefaultsScaleTheCliffFolderAndRestoreTheButtonBeforeTheSummary) {
  const std::u16string source = kDefaultSourceText;
  const std::u16string destination = kDefaultDestinationText;
  const auto model = tools::MakeModel({.vertex_count = 40, .face_count = 60});
  files_.AddFile(source + u"\\CliffNatural0_A1", model);
  files_.AddFile(source + u"\\CliffNatural0_B2", model);
  // DEL and U+0085, a C1 control, would break or hide the details' line.
  files_.AddFile(source + u"\\read\x7Fme\u0085", model);
  RecordingSurface surface(source, destination, kDefaultScaleText);

  const ScaleOutcome outcome = Press(surface);

  EXPECT_EQ(outcome.kind, ScaleOutcome::Kind::kFinished);
  EXPECT_EQ(outcome.tally, (engine::RunTally{.attempted = 3, .succeeded = 2}));
  EXPECT_EQ(surface.Events(),
            (Events{kStart1, kStart2, u"source <- " + source, u"source <- " + source + u"\\",
                    u"destination <- " + destination, u"destination <- " + destination + u"\\",
                    kEnd1, kEnd2, u"message: Attempted model scales: 3. Success count: 2.",
                    u"details: read\uFFFDme\uFFFD: failed: no \"_\" in the name, so it gives the "
                    u"output's name "
                    u"no suffix"}));
  EXPECT_EQ(state_.ScaleFactor, 2.0F);
  EXPECT_EQ(state_.DestBaseName, u"\\CliffNatural0_2x");
  EXPECT_EQ(files_.FilePaths(),
            (std::vector<std::u16string>{
                source + u"\\CliffNatural0_A1", source + u"\\CliffNatural0_B2",
                source + u"\\read\x7Fme\u0085", destination + u"\\CliffNatural0_2x_A1",
                destination + u"\\CliffNatural0_2x_B2"}));
}

// A destination that is a file fails every file, and a long run of failures
// is cut short: the reason for the destination comes before the files, and
// the files past the cap are only counted.
TEST_F(OnScaleTest, DetailsPutTheDestinationFirstAndCapTheFiles) {
  files_.AddFile(u"C:\\Out", {});
  constexpr std::size_t kFiles = kMostDetailLines + 2;
  for (std::size_t index = 0; index < kFiles; ++index) {
    std::u16string number = engine::Utf8ToUtf16(std::to_string(10000 + index)).substr(1);
    files_.AddFile(u"C:\\In\\a_" + number, {1, 2, 3});
  }
  RecordingSurface surface(u"C:\\In", u"C:\\Out", u"2.0");

  const ScaleOutcome outcome = Press(surface);

  ASSERT_FALSE(outcome.destination_error.empty());
  ASSERT_EQ(surface.Events().size(), 10U);
  EXPECT_EQ(surface.Events()[8], u"message: Attempted model scales: 1002. Success count: 0.");
  std::vector<std::u16string> lines;
  std::u16string_view details = surface.Events()[9];
  ASSERT_TRUE(details.starts_with(u"details: "));
  details.remove_prefix(9);
  for (std::size_t end = 0; end != std::u16string_view::npos; details.remove_prefix(end + 1)) {
    end = details.find(u'\n');
    lines.emplace_back(details.substr(0, end));
    if (end == std::u16string_view::npos) break;
  }
  ASSERT_EQ(lines.size(), kMostDetailLines + 2);
  EXPECT_EQ(lines.front(), u"No output can be written, the destination folder cannot be opened (" +
                               engine::Utf8ToUtf16(outcome.destination_error) + u")");
  const std::u16string kShort =
      u": failed: shorter than 4 bytes, too short to be a model (the file holds 3 bytes, no "
      u"whole word)";
  EXPECT_EQ(lines[1], u"a_0000" + kShort);
  EXPECT_EQ(lines[kMostDetailLines], u"a_0999" + kShort);
  EXPECT_EQ(lines.back(), u"and 2 more, not listed");
}

// Names the disk did not confirm count as failed, and the details end with why.
TEST_F(OnScaleTest, DetailsSayWhyTheLastNamesMayNotSurviveACrash) {
  files_.AddFile(u"C:\\In\\rock_A1", tools::MakeModel({}));
  files_.FailOn(MemoryFileSystem::Operation::kFlushStaged, 2);
  RecordingSurface surface(u"C:\\In", u"C:\\Out", u"2.0");

  EXPECT_EQ(Press(surface).kind, ScaleOutcome::Kind::kFinished);
  ASSERT_FALSE(surface.Events().empty());
  EXPECT_EQ(surface.Events().back(),
            u"details: rock_A1: failed: the disk did not confirm the output's name, which may not "
            u"survive a crash (injected failure: C:\\Out)\n"
            u"The last outputs' names may not survive a crash (injected failure: C:\\Out)");
}

}  // namespace
}  // namespace vendrake::command
