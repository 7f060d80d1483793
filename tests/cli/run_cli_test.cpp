#include "cli/run_cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "command/defaults.h"
#include "engine/memory_file_system.h"
#include "tools/synthetic_model.h"

namespace vendrake::cli {
namespace {

using engine::MemoryFileSystem;
using ::testing::HasSubstr;

const tools::ModelShape kShape{.vertex_count = 8, .face_count = 12};

float HeightOfFirstVertex(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, bytes.data() + tools::LayoutOf(kShape).vertex_block + 8, 4);
  static_assert(std::endian::native == std::endian::little);
  return std::bit_cast<float>(bits);
}

class RunCliTest : public ::testing::Test {
 protected:
  int Run(std::vector<const char*> options) {
    options.insert(options.begin(), "vendrake-cli");
    return RunCli(static_cast<int>(options.size()), options.data(), out_, err_, files_);
  }

  MemoryFileSystem files_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(RunCliTest, WithoutOptionsScalesTheDefaultFolderByTwo) {
  const std::u16string source = command::kDefaultSourceText;
  const std::u16string destination = command::kDefaultDestinationText;
  const auto model = tools::MakeModel(kShape);
  files_.AddFile(source + u"\\CliffNatural0_A1", model);
  files_.AddFile(source + u"\\CliffNatural0_A2", model);

  EXPECT_EQ(Run({}), kExitAllWritten);
  EXPECT_EQ(out_.str(), "Attempted model scales: 2. Success count: 2.\n");
  EXPECT_EQ(err_.str(), "");
  const auto written = files_.FileBytes(destination + u"\\CliffNatural0_2x_A2");
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(HeightOfFirstVertex(*written), 2.0F * HeightOfFirstVertex(model));
}

TEST_F(RunCliTest, SlashesInOptionTextsNameTheSameFolders) {
  files_.AddFile(u"C:\\Work\\In\\rock_A1", tools::MakeModel(kShape));

  EXPECT_EQ(Run({"--source", "C:/Work/In", "--dest=C:/Work/Out", "--scale", "-1"}),
            kExitAllWritten);
  EXPECT_EQ(out_.str(), "Attempted model scales: 1. Success count: 1.\n");
  EXPECT_EQ(err_.str(), "");
  const auto written = files_.FileBytes(u"C:\\Work\\Out\\Out_A1");
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(HeightOfFirstVertex(*written), -HeightOfFirstVertex(tools::MakeModel(kShape)));
}

TEST_F(RunCliTest, AFailedFileGivesStatusOneWithTheSummaryOnStandardOutput) {
  files_.AddFile(u"C:\\In\\rock_A1", tools::MakeModel(kShape));
  files_.AddFile(u"C:\\In\\readme", tools::MakeModel(kShape));

  EXPECT_EQ(Run({"--source", "C:\\In", "--dest", "C:\\Out"}), kExitSomeFailed);
  EXPECT_EQ(out_.str(), "Attempted model scales: 2. Success count: 1.\n");
  EXPECT_EQ(err_.str(), "");
}

TEST_F(RunCliTest, AnEmptySourceGivesStatusOneWithTheMessageOnStandardError) {
  files_.AddFolder(u"C:\\In");

  EXPECT_EQ(Run({"--source", "C:\\In", "--dest", "C:\\Out"}), kExitSomeFailed);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(), "The source path does not exist.\n");
}

// Options, and the message (or, for usage errors, a part of it) on standard error.
struct OptionsCase {
  std::vector<const char*> options;
  std::string message;
};

void PrintTo(const OptionsCase& c, std::ostream* os) {
  for (const char* option : c.options) *os << option << ' ';
}

class RunCliRejected : public RunCliTest, public ::testing::WithParamInterface<OptionsCase> {};

TEST_P(RunCliRejected, PrintsTheCheckMessageOnStandardErrorAndRunsNothing) {
  files_.AddFile(u"C:\\In\\rock_A1", tools::MakeModel(kShape));

  EXPECT_EQ(Run(GetParam().options), kExitRejected);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(), GetParam().message + "\n");
  EXPECT_EQ(files_.TotalCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, RunCliRejected,
    ::testing::Values(
        OptionsCase{{"--source", "C:", "--dest", "C:\\Out"}, "Source must be a valid path name."},
        OptionsCase{{"--source", "C:\\In", "--dest", ""}, "Destination must be a valid path name."},
        OptionsCase{{"--source", "C:\\In", "--scale", "two"},
                    "Scale value must be numeric. Please use . as the decimal separator."},
        OptionsCase{{"--source", "C:\\In", "--scale", "1e39"}, "Scale value is out of range."}));

class RunCliUsage : public RunCliTest, public ::testing::WithParamInterface<OptionsCase> {};

TEST_P(RunCliUsage, WrongUsageGivesStatusTwoAndTouchesNoFile) {
  EXPECT_EQ(Run(GetParam().options), kExitRejected);
  EXPECT_EQ(out_.str(), "");
  EXPECT_THAT(err_.str(), HasSubstr(GetParam().message));
  EXPECT_EQ(files_.TotalCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(Arguments, RunCliUsage,
                         ::testing::Values(OptionsCase{{"--bogus"}, "--bogus"},
                                           OptionsCase{{"--scale"}, "--scale"},
                                           OptionsCase{{"--source", "C:\\In", "extra"}, "extra"},
                                           OptionsCase{{"--dest", "a", "--dest", "b"}, "--dest"}));

TEST_F(RunCliTest, HelpListsEveryOptionOnStandardOutput) {
  EXPECT_EQ(Run({"--help"}), kExitAllWritten);
  for (const char* option : {"--source", "--dest", "--scale", "--report", "--version"}) {
    EXPECT_THAT(out_.str(), HasSubstr(option));
  }
  // The defaults are the window's starting texts.
  EXPECT_THAT(out_.str(), HasSubstr("CliffNatural0_2x"));
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(files_.TotalCalls(), 0);
}

TEST_F(RunCliTest, VersionIsOneLineOnStandardOutput) {
  EXPECT_EQ(Run({"--version"}), kExitAllWritten);
  EXPECT_EQ(out_.str(), "vendrake-cli " VENDRAKE_VERSION "\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(files_.TotalCalls(), 0);
}

}  // namespace
}  // namespace vendrake::cli
