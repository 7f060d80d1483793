#include "cli/run_cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/memory/memory_file_system.h"
#include "engine/text_encoding.h"
#include "tests/support/hooked_file_system.h"
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
  int Run(std::vector<const char*> options, const StopRequest* stop = nullptr) {
    options.insert(options.begin(), "vendrake-cli");
    return RunCli(static_cast<int>(options.size()), options.data(), out_, err_, files_, stop);
  }

  MemoryFileSystem files_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(RunCliTest, WithoutOptionsScalesTheDefaultFolderByTwo) {
  // The window's starting texts, spelled out rather than taken from the
  // constants that hold them.
  const std::u16string source =
      u"C:\\Program Files (x86)\\Orvantis\\Work\\Assets\\Cliffs\\CliffNatural0";
  const std::u16string destination =
      u"C:\\Program Files (x86)\\Orvantis\\Work\\Assets\\Cliffs\\CliffNatural0_2x";
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

TEST_F(RunCliTest, AFailedFileGivesStatusOneWithTheSummaryAndTheFirstReason) {
  files_.AddFile(u"C:\\In\\rock_A1", tools::MakeModel(kShape));
  files_.AddFile(u"C:\\In\\readme", tools::MakeModel(kShape));
  files_.AddFile(u"C:\\In\\short_B2", {1, 2, 3});

  EXPECT_EQ(Run({"--source", "C:\\In", "--dest", "C:\\Out"}), kExitSomeFailed);
  EXPECT_EQ(out_.str(), "Attempted model scales: 3. Success count: 1.\n");
  EXPECT_EQ(err_.str(),
            "vendrake-cli: 2 failed, the first is readme: no \"_\" in the name, and the output's "
            "name is made from what follows the first \"_\" (the output suffix starts at the "
            "first \"_\", and readme has none); --report lists every file\n");
}

// A source folder that yields no file, whose listing breaks off, or that
// holds a file that fails; a destination that cannot be made, or whose last
// names cannot be flushed.
struct ListingCase {
  const char* name;
  bool folder;                                         // whether the source folder exists
  int files;                                           // models in it, rock_0, rock_1...
  std::optional<MemoryFileSystem::Operation> failing;  // fails on its `call`-th call
  int call;
  std::string out;
  std::string err;
  MemoryFileSystem::Failure failure = MemoryFileSystem::Failure::kFileError;
  std::u16string source = u"C:\\In";
  std::u16string short_file = u"";  // the name of a 3-byte file in it, if any
};

void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.name; }

class RunCliListing : public RunCliTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(RunCliListing, GivesStatusOneAndSaysWhy) {
  const std::u16string source = GetParam().source + u"\\";
  if (GetParam().folder) {
    // A hidden file is no model to scale.
    files_.AddFile(source + u".x_A1", tools::MakeModel(kShape), {.hidden = true});
  }
  for (int k = 0; k < GetParam().files; ++k) {
    files_.AddFile(source + u"rock_" + std::u16string(1, static_cast<char16_t>(u'0' + k)),
                   tools::MakeModel(kShape));
  }
  if (!GetParam().short_file.empty()) files_.AddFile(source + GetParam().short_file, {1, 2, 3});
  if (GetParam().failing) files_.FailOn(*GetParam().failing, GetParam().call, GetParam().failure);
  const std::string source_option = engine::Utf16ToUtf8(GetParam().source);

  EXPECT_EQ(Run({"--source", source_option.c_str(), "--dest", "C:\\Out"}), kExitSomeFailed);
  EXPECT_EQ(out_.str(), GetParam().out);
  EXPECT_EQ(err_.str(), GetParam().err);
}

constexpr char kSourceMissing[] = "The source path does not exist.\n";
// The source folder's path in the platform's own form.
#ifdef _WIN32
constexpr char kSourceAsPrinted[] = "C:\\In\\";
constexpr char kEscapedSourceAsPrinted[] = "C:\\In%1B[2J%0A%25\\";
#else
constexpr char kSourceAsPrinted[] = "/In/";
constexpr char kEscapedSourceAsPrinted[] = "/In%1B[2J%0A%25/";
#endif
using Op = MemoryFileSystem::Operation;

INSTANTIATE_TEST_SUITE_P(
    Sources, RunCliListing,
    ::testing::Values(
        ListingCase{"empty", true, 0, std::nullopt, 0, "",
                    kSourceMissing + std::string("vendrake-cli: ") + kSourceAsPrinted +
                        " holds no normal file (folders and hidden files are not scaled)\n"},
        ListingCase{"missing", false, 0, std::nullopt, 0, "",
                    kSourceMissing + std::string("vendrake-cli: the source folder cannot be read "
                                                 "(no such folder: C:\\In\\)\n")},
        ListingCase{"unlistable", true, 1, Op::kList, 1, "",
                    kSourceMissing + std::string("vendrake-cli: the source folder cannot be read "
                                                 "(injected failure: C:\\In)\n")},
        ListingCase{"unreadable", true, 1, Op::kListNext, 1, "",
                    kSourceMissing + std::string("vendrake-cli: the source folder cannot be read "
                                                 "(injected failure: C:\\In)\n")},
        ListingCase{"broken off", true, 3, Op::kListNext, 3,
                    "Attempted model scales: 2. Success count: 2.\n",
                    "vendrake-cli: the listing of the source folder broke off, later files were "
                    "not tried (injected failure: C:\\In)\n"},
        ListingCase{"destination not made", true, 1, Op::kCreateFolder, 1,
                    "Attempted model scales: 1. Success count: 0.\n",
                    "vendrake-cli: no output can be written, the destination folder cannot be "
                    "opened (injected failure: C:\\Out\\)\n"
                    "vendrake-cli: 1 failed, the first is rock_0: cannot write the output "
                    "(injected failure: C:\\Out\\); --report lists every file\n"},
        ListingCase{"names not flushed", true, 1, Op::kFlushStaged, 2,
                    "Attempted model scales: 1. Success count: 1.\n",
                    "vendrake-cli: the last outputs' names may not survive a crash (injected "
                    "failure: C:\\Out)\n"},
        ListingCase{"out of memory between files", true, 3, Op::kListNext, 3,
                    "Attempted model scales: 2. Success count: 2.\n",
                    "vendrake-cli: out of memory, later files were not tried\n",
                    MemoryFileSystem::Failure::kOutOfMemory},
        // Texts that would drive a terminal are escaped in every line.
        ListingCase{"empty, name escaped", true, 0, std::nullopt, 0, "",
                    kSourceMissing + std::string("vendrake-cli: ") + kEscapedSourceAsPrinted +
                        " holds no normal file (folders and hidden files are not scaled)\n",
                    MemoryFileSystem::Failure::kFileError, u"C:\\In\x1B[2J\n%"},
        ListingCase{"first failure escaped", true, 1, std::nullopt, 0,
                    "Attempted model scales: 2. Success count: 1.\n",
                    "vendrake-cli: 1 failed, the first is evil%1B[2J%0AAttempted model scales: 9. "
                    "Success count: 9.: shorter than 4 bytes, too short to be a model (the file "
                    "holds 3 bytes, no whole word); --report lists every file\n",
                    MemoryFileSystem::Failure::kFileError, u"C:\\In",
                    u"evil\x1B[2J\nAttempted model scales: 9. Success count: 9."}));

TEST(RunCliStop, FinishesTheFileInHandPrintsTheSummarySoFarAndExitsWithTheSignal) {
  StopRequest stop;
  MemoryFileSystem memory;
  memory.AddFile(u"C:\\In\\rock_A1", tools::MakeModel(kShape));
  memory.AddFile(u"C:\\In\\rock_A2", tools::MakeModel(kShape));
  // Asks the run to stop, as SIGTERM would, while the first file is being read.
  testing::HookedFileSystem files(memory);
  files.Before(testing::HookedFileSystem::Operation::kOpenForReading, u"rock_A1", [&] {
    stop.signal = SIGTERM;
    stop.requested = true;
  });
  std::ostringstream out;
  std::ostringstream err;
  const char* const argv[] = {"vendrake-cli", "--source", "C:\\In", "--dest", "C:\\Out"};

  EXPECT_EQ(RunCli(5, argv, out, err, files, &stop), 128 + SIGTERM);
  EXPECT_EQ(out.str(), "Attempted model scales: 1. Success count: 1.\n");
  EXPECT_EQ(err.str(),
            "vendrake-cli: interrupted by SIGTERM before the end of the source folder\n");
  EXPECT_EQ(memory.FilePaths(), (std::vector<std::u16string>{u"C:\\In\\rock_A1", u"C:\\In\\rock_A2",
                                                             u"C:\\Out\\Out_A1"}));
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
        // An empty text after "=" is that text, not a reason to take the next argument.
        OptionsCase{{"--source=", "--dest", "C:\\Out"}, "Source must be a valid path name."},
        OptionsCase{{"--source", "C:\\In", "--dest=", "--report"},
                    "Destination must be a valid path name."},
        OptionsCase{{"--scale=", "--source", "C:\\In"},
                    "Scale value must be numeric. Please use . as the decimal separator."},
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
                                           OptionsCase{{"--source", "C:\\In", "ex\ntra\x1B"},
                                                       "not expected: ex%0Atra%1B\n"},
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
