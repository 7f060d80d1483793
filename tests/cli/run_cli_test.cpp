#include "cli/run_cli.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/console_process.h"
#include "engine/memory/memory_file_system.h"
#include "engine/text_encoding.h"
#include "tests/support/eventually.h"
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

// A model whose every height is 0: nothing a factor could flatten.
std::vector<std::uint8_t> FlatModel() {
  std::vector<std::uint8_t> bytes = tools::MakeModel(kShape);
  const tools::ModelLayout layout = tools::LayoutOf(kShape);
  const std::size_t record_bytes = layout.vertex_block_length / kShape.vertex_count;
  for (std::size_t record = layout.vertex_block;
       record < layout.vertex_block + layout.vertex_block_length; record += record_bytes) {
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(record + 8), 4, std::uint8_t{0});
  }
  return bytes;
}

// Paths in the platform's own form.
#ifdef _WIN32
constexpr char kSourceAsPrinted[] = "C:\\In\\";
constexpr char kEscapedSourceAsPrinted[] = "C:\\In%1B[2J%0A%25\\";
constexpr char kEmptyAsPrinted[] = "C:\\Empty\\";
constexpr char kBigOutputAsPrinted[] = "C:\\In_big\\In_big_A1";
#else
constexpr char kSourceAsPrinted[] = "/In/";
constexpr char kEscapedSourceAsPrinted[] = "/In%1B[2J%0A%25/";
constexpr char kEmptyAsPrinted[] = "/Empty/";
constexpr char kBigOutputAsPrinted[] = "/In_big/In_big_A1";
#endif

// Standard error as it reads once a progress line's drawings ("\rtext") and
// erasings ("\r   \r") are taken out. A line printed without the progress
// line erased first keeps the text drawn before it.
std::string WithoutProgressLine(std::string err) {
  for (std::size_t at = err.find('\r'); at != std::string::npos; at = err.find('\r', at)) {
    const std::size_t next = err.find_first_of("\r\n", at + 1);
    err.erase(at, next != std::string::npos && err[next] == '\r' ? next - at : 1);
  }
  return err;
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
  EXPECT_EQ(err_.str(),
            "vendrake-cli: warning: the factor \"-1\" is negative: every height changes sign, and "
            "the models turn upside down\n");
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
            "vendrake-cli: 2 failed, the first is readme: no \"_\" in the name, so it gives the "
            "output's name no suffix; --report lists every file\n");
}

// Each folder goes beside itself, in the order given, with a summary line
// that names it; the total follows and the status is the worst. Bb, too
// short a text for the window's check, is the same folder as .\Bb.
TEST_F(RunCliTest, SeveralFoldersGoEachBesideItselfInTheOrderGiven) {
  files_.AddFile(u".\\Bb\\rock_B1", tools::MakeModel(kShape));
  files_.AddFile(u".\\Bb\\readme", tools::MakeModel(kShape));
  files_.AddFile(u"C:\\A\\rock_A1", tools::MakeModel(kShape));
  files_.AddFolder(u"C:\\Empty");

  EXPECT_EQ(Run({"-x", "0.5", "Bb", "C:\\Empty", "C:/A/"}), kExitSomeFailed);
  EXPECT_EQ(out_.str(),
            "Bb: Attempted model scales: 2. Success count: 1.\n"
            "C:/A/: Attempted model scales: 1. Success count: 1.\n"
            "Total of 3 folders: Attempted model scales: 3. Success count: 2.\n");
  EXPECT_EQ(err_.str(), std::string("vendrake-cli: Bb: 1 failed, the first is readme: no \"_\" in "
                                    "the name, so it gives the output's name no suffix; "
                                    "--report lists every file\n"
                                    "vendrake-cli: C:\\Empty: The source path does not exist.\n"
                                    "vendrake-cli: C:\\Empty: ") +
                            kEmptyAsPrinted +
                            " holds no normal file (folders and hidden files are not scaled)\n");
  EXPECT_TRUE(files_.FileBytes(u"Bb_0.5x\\Bb_0.5x_B1").has_value());
  EXPECT_TRUE(files_.FileBytes(u"C:\\A_0.5x\\A_0.5x_A1").has_value());
}

// The JSON Lines of a dry run tell what --report tells, and nothing is made.
// tree_A1's output has the name rock_A1's has; C:\Empty gives no counts.
TEST_F(RunCliTest, JsonOfADryRunTellsEachFileAndTheSummaryAndMakesNothing) {
  files_.AddFile(u"C:\\In\\rock_A1", tools::MakeModel(kShape));
  files_.AddFile(u"C:\\In\\short_A2", {1, 2, 3});
  files_.AddFile(u"C:\\In\\tree_A1", tools::MakeModel(kShape));
  files_.AddFolder(u"C:\\Empty");
  const std::vector<std::u16string> before = files_.FilePaths();

  EXPECT_EQ(Run({"--dry-run", "--json", "--suffix", "_big", "C:\\In", "C:\\Empty"}),
            kExitSomeFailed);
  EXPECT_EQ(files_.FilePaths(), before);
  EXPECT_FALSE(files_.FolderExists(u"C:\\In_big"));
  std::istringstream lines(out_.str());
  std::vector<nlohmann::json> objects;
  for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(objects.size(), 6U);
  EXPECT_EQ(objects[0], (nlohmann::json{{"type", "file"},
                                        {"name", "rock_A1"},
                                        {"status", "written"},
                                        {"output", kBigOutputAsPrinted}}));
  EXPECT_EQ(
      objects[1],
      (nlohmann::json{{"type", "file"},
                      {"name", "short_A2"},
                      {"status", "failed"},
                      {"reason",
                       "shorter than 4 bytes, too short to be a model (the file holds 3 bytes, "
                       "no whole word)"}}));
  EXPECT_EQ(objects[2], (nlohmann::json{{"type", "file"},
                                        {"name", "tree_A1"},
                                        {"status", "written"},
                                        {"output", kBigOutputAsPrinted},
                                        {"replaces", "rock_A1"}}));
  EXPECT_EQ(objects[3]["type"], "summary");
  EXPECT_EQ(objects[3]["attempted"], 3);
  EXPECT_EQ(objects[3]["succeeded"], 2);
  EXPECT_EQ(objects[3]["replaced"], 1);
  EXPECT_EQ(objects[3]["dry_run"], true);
  EXPECT_EQ(objects[3]["message"], "Attempted model scales: 3. Success count: 2.");
  EXPECT_EQ(objects[3]["heights"]["count"], 2 * kShape.vertex_count);
  EXPECT_EQ(objects[3]["heights"]["after"]["most"].get<float>(),
            2.0F * objects[3]["heights"]["before"]["most"].get<float>());
  EXPECT_EQ(objects[4]["type"], "summary");
  EXPECT_EQ(objects[4]["finished"], false);
  EXPECT_FALSE(objects[4].contains("attempted"));
  EXPECT_EQ(objects[5], (nlohmann::json{{"type", "total"},
                                        {"folders", 2},
                                        {"attempted", 3},
                                        {"succeeded", 2},
                                        {"dry_run", true}}));
  EXPECT_EQ(err_.str(), std::string("vendrake-cli: C:\\In: 1 output was replaced by a later file's "
                                    "output of the same name\n"
                                    "vendrake-cli: C:\\Empty: The source path does not exist.\n"
                                    "vendrake-cli: C:\\Empty: ") +
                            kEmptyAsPrinted +
                            " holds no normal file (folders and hidden files are not scaled)\n");
}

// Each folder's heights are its own, NaNs left out, whatever the jobs asked:
// the heights are watched one file at a time.
TEST_F(RunCliTest, ADryRunCountsEachFoldersOwnHeightsWithoutNaNsAtAnyJobs) {
  std::uint32_t heights_in_a = 0;
  for (std::uint32_t k = 0; k < 40; ++k) {
    const tools::ModelShape shape{.vertex_count = 4 + k, .face_count = 6, .seed = k};
    files_.AddFile(u"C:\\A\\m" + engine::Utf8ToUtf16(std::to_string(k)) + u"_A1",
                   tools::MakeModel(shape));
    heights_in_a += shape.vertex_count;
  }
  std::vector<std::uint8_t> with_nan = tools::MakeModel(kShape);
  const std::uint32_t quiet_nan = 0x7FC00000;
  std::memcpy(with_nan.data() + tools::LayoutOf(kShape).vertex_block + 8, &quiet_nan, 4);
  files_.AddFile(u"C:\\B\\rock_A1", with_nan);

  EXPECT_EQ(Run({"--dry-run", "--json", "--jobs", "8", "C:\\A", "C:\\B"}), kExitAllWritten);
  std::istringstream lines(out_.str());
  std::vector<std::uint32_t> counts;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json object = nlohmann::json::parse(line);
    if (object["type"] == "summary") counts.push_back(object["heights"]["count"]);
  }
  EXPECT_THAT(counts, ::testing::ElementsAre(heights_in_a, kShape.vertex_count - 1));
}

// Each output's heights are paired with the model read just before it, so a
// run that watches the heights reads one model at a time, on the thread that
// runs the call, whatever number of jobs is asked for.
TEST_F(RunCliTest, ADryRunReadsEveryModelOnTheCallingThreadAtAnyJobs) {
  testing::HookedFileSystem hooked(files_);
  std::mutex readers_mutex;
  std::vector<std::thread::id> readers;
  for (int k = 0; k < 40; ++k) {
    const std::u16string name = u"m" + engine::Utf8ToUtf16(std::to_string(k)) + u"_A1";
    files_.AddFile(u"C:\\A\\" + name, tools::MakeModel(kShape));
    hooked.Before(testing::HookedFileSystem::Operation::kRead, name, [&] {
      const std::lock_guard lock(readers_mutex);
      readers.push_back(std::this_thread::get_id());
    });
  }
  const std::vector<const char*> options = {"vendrake-cli", "--dry-run", "--jobs", "8", "C:\\A"};
  EXPECT_EQ(RunCli(static_cast<int>(options.size()), options.data(), out_, err_, hooked, nullptr),
            kExitAllWritten);
  EXPECT_THAT(readers, ::testing::Each(std::this_thread::get_id()));
  EXPECT_EQ(readers.size(), 40U);
}

// The reason no output can be written comes once, before any file's line.
TEST_F(RunCliTest, ADryRunFailsEveryFileWhereTheDestinationCannotBeMade) {
  files_.AddFile(u"C:\\In\\rock_A1", tools::MakeModel(kShape));
  const char* const argv[] = {"vendrake-cli", "-n", "-r", "-s", "C:\\In", "-d", "C:\\No\\Out"};
  std::ostringstream both;

  EXPECT_EQ(RunCli(7, argv, both, both, files_), kExitSomeFailed);
  EXPECT_EQ(both.str(),
            "vendrake-cli: no output can be written, the destination folder cannot be opened (no "
            "such folder: C:\\No\\)\n"
            "rock_A1: failed: cannot write the output (no such folder: C:\\No\\)\n"
            "Attempted model scales: 1. Success count: 0. Dry run: nothing was written.\n");
  EXPECT_FALSE(files_.FolderExists(u"C:\\No"));
}

// A source folder that is not there, yields no file, whose listing breaks
// off, or that holds a file that fails; a destination that cannot be made, or
// whose last names cannot be flushed.
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

using Op = MemoryFileSystem::Operation;

TEST_P(RunCliListing, GivesStatusOneAndSaysWhy) {
  const std::u16string source = GetParam().source + u"\\";
  const auto prepare = [&](MemoryFileSystem& files) {
    if (GetParam().folder) {
      // A hidden file is no model to scale.
      files.AddFile(source + u".x_A1", tools::MakeModel(kShape), {.hidden = true});
    } else {
      // A file, which a source may name by mistake.
      files.AddFile(u"C:\\Elsewhere\\rock_A1", tools::MakeModel(kShape));
    }
    for (int k = 0; k < GetParam().files; ++k) {
      files.AddFile(source + u"rock_" + std::u16string(1, static_cast<char16_t>(u'0' + k)),
                    tools::MakeModel(kShape));
    }
    if (!GetParam().short_file.empty()) files.AddFile(source + GetParam().short_file, {1, 2, 3});
    if (GetParam().failing) files.FailOn(*GetParam().failing, GetParam().call, GetParam().failure);
  };
  prepare(files_);
  const std::string source_option = engine::Utf16ToUtf8(GetParam().source);

  EXPECT_EQ(Run({"--source", source_option.c_str(), "--dest", "C:\\Out"}), kExitSomeFailed);
  EXPECT_EQ(out_.str(), GetParam().out);
  EXPECT_EQ(err_.str(), GetParam().err);
  // Nothing is made for a source that is no folder.
  if (!GetParam().folder) {
    EXPECT_FALSE(files_.FolderExists(u"C:\\Out"));
  }

  // With a progress line, every other line is the same. Its count reads the
  // listing first, and so takes a failure meant for the run's listing: the
  // run then goes on as if the count had not failed.
  MemoryFileSystem files;
  prepare(files);
  std::ostringstream out;
  std::ostringstream err;
  const char* const argv[] = {"vendrake-cli",        "--progress", "--source",
                              source_option.c_str(), "--dest",     "C:\\Out"};
  const int status = RunCli(6, argv, out, err, files);
  if (GetParam().failing == Op::kList || GetParam().failing == Op::kListNext) return;
  EXPECT_EQ(status, kExitSomeFailed);
  EXPECT_EQ(out.str(), GetParam().out);
  EXPECT_EQ(WithoutProgressLine(err.str()), GetParam().err);
}

constexpr char kSourceMissing[] = "vendrake-cli: The source path does not exist.\n";

INSTANTIATE_TEST_SUITE_P(
    Sources, RunCliListing,
    ::testing::Values(
        ListingCase{"empty", true, 0, std::nullopt, 0, "",
                    kSourceMissing + std::string("vendrake-cli: ") + kSourceAsPrinted +
                        " holds no normal file (folders and hidden files are not scaled)\n"},
        ListingCase{"missing", false, 0, std::nullopt, 0, "",
                    "vendrake-cli: C:\\In: No such file or directory\n"},
        ListingCase{"a file", false, 0, std::nullopt, 0, "",
                    "vendrake-cli: C:\\Elsewhere\\rock_A1: Not a directory\n",
                    MemoryFileSystem::Failure::kFileError, u"C:\\Elsewhere\\rock_A1"},
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
        // An output whose name the disk did not confirm is no success.
        ListingCase{"names not flushed", true, 1, Op::kFlushStaged, 2,
                    "Attempted model scales: 1. Success count: 0.\n",
                    "vendrake-cli: the disk did not confirm the names some outputs took, which "
                    "count as failed (injected failure: C:\\Out)\n"
                    "vendrake-cli: 1 failed, the first is rock_0: the disk did not confirm the "
                    "output's name, which may not survive a crash (injected failure: C:\\Out); "
                    "--report lists every file\n"},
        // Windows could neither open nor delete its output.
        ListingCase{"name ending in a dot", true, 1, std::nullopt, 0,
                    "Attempted model scales: 2. Success count: 1.\n",
                    "vendrake-cli: 1 failed, the first is rock_A1.: the name ends in a dot or a "
                    "space, which Windows leaves out of paths: Explorer could neither open nor "
                    "delete the output; --report lists every file\n",
                    MemoryFileSystem::Failure::kFileError, u"C:\\In", u"rock_A1."},
        ListingCase{"out of memory in a file", true, 1, Op::kRead, 1,
                    "Attempted model scales: 1. Success count: 0.\n",
                    "vendrake-cli: 1 failed, the first is rock_0: out of memory while converting "
                    "it (" +
                        std::string(std::strerror(ENOMEM)) + "); --report lists every file\n",
                    MemoryFileSystem::Failure::kOutOfMemory},
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
                    "Success count: 9: shorter than 4 bytes, too short to be a model (the file "
                    "holds 3 bytes, no whole word); --report lists every file\n",
                    MemoryFileSystem::Failure::kFileError, u"C:\\In",
                    u"evil\x1B[2J\nAttempted model scales: 9. Success count: 9"}));

// The stop is for the whole call: the later folders are not begun.
TEST(RunCliStop, FinishesTheFileInHandPrintsTheSummarySoFarAndExitsWithTheSignal) {
  StopRequest stop;
  MemoryFileSystem memory;
  memory.AddFile(u"C:\\In\\rock_A1", tools::MakeModel(kShape));
  memory.AddFile(u"C:\\In\\rock_A2", tools::MakeModel(kShape));
  memory.AddFile(u"C:\\Later\\rock_A1", tools::MakeModel(kShape));
  // Asks the run to stop, as SIGTERM would, while the first file is being read.
  testing::HookedFileSystem files(memory);
  files.Before(testing::HookedFileSystem::Operation::kOpenForReading, u"rock_A1", [&] {
    stop.signal = SIGTERM;
    stop.requested = true;
  });
  std::ostringstream out;
  std::ostringstream err;
  const char* const argv[] = {"vendrake-cli", "C:\\In", "C:\\Later"};

  EXPECT_EQ(RunCli(3, argv, out, err, files, &stop), 128 + SIGTERM);
  EXPECT_EQ(out.str(),
            "C:\\In: Attempted model scales: 1. Success count: 1.\n"
            "Total of 1 folders: Attempted model scales: 1. Success count: 1.\n");
  EXPECT_EQ(err.str(),
            "vendrake-cli: C:\\In: interrupted by SIGTERM before the end of the source folder\n");
  EXPECT_EQ(memory.FilePaths(),
            (std::vector<std::u16string>{u"C:\\In\\rock_A1", u"C:\\In\\rock_A2",
                                         u"C:\\In_2x\\In_2x_A1", u"C:\\Later\\rock_A1"}));
  EXPECT_FALSE(memory.FolderExists(u"C:\\Later_2x"));
}

#ifdef _WIN32
struct ConsoleEventCase {
  const char* name;
  unsigned long event;
  int signal;
  const char* signal_name;
  // Windows ends the process once the handler returns.
  bool ends_the_process;
};

void PrintTo(const ConsoleEventCase& c, std::ostream* os) { *os << c.name; }

class ConsoleControl : public ::testing::TestWithParam<ConsoleEventCase> {};

// The event comes, on a thread of its own as Windows sends it, while the first
// file is read: the run ends as after the signal; the handler of an event after
// which Windows ends the process returns only once the run is over. A second
// Ctrl+C or Ctrl+Break is left to the default handler, which ends the process.
TEST_P(ConsoleControl, StopsTheRunAsItsSignalAndHoldsTheProcessUntilTheRunIsOver) {
  const ConsoleEventCase& c = GetParam();
  StopRequest stop;
  MemoryFileSystem memory;
  memory.AddFile(u"C:\\In\\rock_A1", tools::MakeModel(kShape));
  memory.AddFile(u"C:\\In\\rock_A2", tools::MakeModel(kShape));
  testing::HookedFileSystem files(memory);
  std::thread handler;
  std::atomic<bool> answered{false};
  files.Before(testing::HookedFileSystem::Operation::kOpenForReading, u"rock_A1", [&] {
    handler = std::thread([&] {
      EXPECT_TRUE(AnswerConsoleControl(c.event, stop, std::chrono::seconds(20)));
      answered.store(true);
    });
    while (!stop.requested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  std::ostringstream out;
  std::ostringstream err;
  const char* const argv[] = {"vendrake-cli", "--source", "C:\\In", "--dest", "C:\\Out"};

  EXPECT_EQ(RunCli(5, argv, out, err, files, &stop), 128 + c.signal);
  if (c.ends_the_process) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(answered.load()) << "answered before the run was over";
  } else {
    EXPECT_TRUE(testing::Eventually([&] { return answered.load(); }));
  }
  stop.over.store(true);
  handler.join();
  EXPECT_EQ(AnswerConsoleControl(c.event, stop, std::chrono::milliseconds(0)), c.ends_the_process);
  EXPECT_EQ(out.str(), "Attempted model scales: 1. Success count: 1.\n");
  EXPECT_EQ(err.str(), std::string("vendrake-cli: interrupted by ") + c.signal_name +
                           " before the end of the source folder\n");
  EXPECT_EQ(memory.FilePaths(), (std::vector<std::u16string>{u"C:\\In\\rock_A1", u"C:\\In\\rock_A2",
                                                             u"C:\\Out\\Out_A1"}));
}

INSTANTIATE_TEST_SUITE_P(
    Events, ConsoleControl,
    ::testing::Values(ConsoleEventCase{"Ctrl+C", CTRL_C_EVENT, SIGINT, "SIGINT", false},
                      ConsoleEventCase{"Ctrl+Break", CTRL_BREAK_EVENT, SIGBREAK, "SIGBREAK", false},
                      ConsoleEventCase{"console closed", CTRL_CLOSE_EVENT, SIGTERM, "SIGTERM",
                                       true},
                      ConsoleEventCase{"log-off", CTRL_LOGOFF_EVENT, SIGTERM, "SIGTERM", true},
                      ConsoleEventCase{"shutdown", CTRL_SHUTDOWN_EVENT, SIGTERM, "SIGTERM", true}));
#endif

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

// A rejected factor is quoted back, with a hint that fits the mistake.
INSTANTIATE_TEST_SUITE_P(
    Inputs, RunCliRejected,
    ::testing::Values(
        OptionsCase{{"--source", "C:", "--dest", "C:\\Out"},
                    "vendrake-cli: Source must be a valid path name."},
        OptionsCase{{"--source", "C:\\In", "--dest", ""},
                    "vendrake-cli: Destination must be a valid path name."},
        // An empty text after "=" is that text, not a reason to take the next argument.
        OptionsCase{{"--source=", "--dest", "C:\\Out"},
                    "vendrake-cli: Source must be a valid path name."},
        OptionsCase{{"--source", "C:\\In", "--dest=", "--report"},
                    "vendrake-cli: Destination must be a valid path name."},
        OptionsCase{{"--scale=", "--source", "C:\\In"},
                    "vendrake-cli: the factor \"\" is not a number; give a number, such as 2 or "
                    "0.5"},
        OptionsCase{{"-s", "C:\\In", "-x", "two"},
                    "vendrake-cli: the factor \"two\" is not a number; give a number, such as 2, "
                    "0.5 or 1e2"},
        OptionsCase{{"-s", "C:\\In", "-f", "x2"},
                    "vendrake-cli: the factor \"x2\" is not a number; give the factor alone: 2"},
        OptionsCase{{"-s", "C:\\In", "-x", " 2,5 "},
                    "vendrake-cli: the factor \"2,5\" is not a number; use \".\" as the decimal "
                    "separator: 2.5"},
        OptionsCase{{"-s", "C:\\In", "-x", "150%"},
                    "vendrake-cli: the factor \"150%\" is not a number; give a factor, not a "
                    "percentage: 1.5"},
        // Quoted as typed, but for what would break the line or drive a terminal.
        OptionsCase{{"-s", "C:\\In", "-x", "2\x1B[2J%0A"},
                    "vendrake-cli: the factor \"2%1B[2J%0A\" is not a number; give a number, "
                    "such as 2, 0.5 or 1e2"},
        OptionsCase{{"--source", "C:\\In", "--scale", "1e39"},
                    "vendrake-cli: the factor \"1e39\" is out of range; a factor lies between "
                    "-3.4e38 and 3.4e38"},
        // The factor is the same for every folder: said once.
        OptionsCase{{"-x", "2x", "C:\\In", "C:\\In2"},
                    "vendrake-cli: the factor \"2x\" is not a number; give the factor alone: 2"}));

class RunCliUsage : public RunCliTest, public ::testing::WithParamInterface<OptionsCase> {};

TEST_P(RunCliUsage, WrongUsageGivesStatusTwoAndTouchesNoFile) {
  EXPECT_EQ(Run(GetParam().options), kExitRejected);
  EXPECT_EQ(out_.str(), "");
  EXPECT_THAT(err_.str(), HasSubstr(GetParam().message));
  std::istringstream lines(err_.str());
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(line.starts_with("vendrake-cli: ")) << line;
  }
  EXPECT_EQ(files_.TotalCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RunCliUsage,
    ::testing::Values(
        OptionsCase{{"--bogus"}, "--bogus"}, OptionsCase{{"--scale"}, "--scale"},
        OptionsCase{{"--bo\ngus\x1B"}, "--bo%0Agus%1B\n"},
        OptionsCase{{"--dest", "a", "--dest", "b"}, "--dest"},
        OptionsCase{{"-j", "abc"},
                    "vendrake-cli: --jobs: abc is not a whole number from 1 to 64\n"},
        OptionsCase{{"--jobs", "0"},
                    "vendrake-cli: --jobs: 0 is not a whole number from 1 to 64\n"},
        OptionsCase{{"--source", "C:\\In", "extra"},
                    "give the folders either as arguments or with --source, not both"},
        OptionsCase{{"-d", "C:\\Out", "C:\\A", "C:\\B"},
                    "--dest names the destination of one folder"},
        OptionsCase{{"-d", "C:\\Out", "--suffix", "_big", "C:\\A"},
                    "--dest and --suffix both name the destination"},
        OptionsCase{{"C:\\A", "C:\\In\\..\\"},
                    "no destination can be named after \"C:\\In\\..\\\"; give it with --dest"}));

// A factor that runs but leaves the models flat or upside down is warned of,
// after the summary; one that leaves them as they should be is not, nor is
// one that finds them flat already.
class RunCliFactor : public RunCliTest, public ::testing::WithParamInterface<OptionsCase> {};

TEST_P(RunCliFactor, WarnsOfAFactorThatFlattensOrTurnsTheModels) {
  files_.AddFile(u"C:\\In\\rock_A1", tools::MakeModel(kShape));
  files_.AddFile(u"C:\\Flat\\rock_A1", FlatModel());

  EXPECT_EQ(Run(GetParam().options), kExitAllWritten);
  EXPECT_THAT(out_.str(), HasSubstr("Attempted model scales: 1. Success count: 1.\n"));
  EXPECT_EQ(err_.str(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Factors, RunCliFactor,
    ::testing::Values(
        OptionsCase{{"C:\\In", "-x", "0"},
                    "vendrake-cli: warning: the factor \"0\" is 0: every height becomes 0, and the "
                    "models flat\n"},
        // Rounds to 0 as a single.
        OptionsCase{{"C:\\In", "-x", "1e-50"},
                    "vendrake-cli: warning: the factor \"1e-50\" is 0: every height becomes 0, and "
                    "the models flat\n"},
        OptionsCase{{"C:\\In", "-x", "1e-40"},
                    "vendrake-cli: warning: the factor \"1e-40\" is so small that every height "
                    "became 0 or too small to hold exactly\n"},
        OptionsCase{{"C:\\Flat", "-x", "1e-40"}, ""},
        // The heights of every folder count, not only the last one's.
        OptionsCase{{"C:\\In", "C:\\Flat", "-x", "1e-40"},
                    "vendrake-cli: warning: the factor \"1e-40\" is so small that every height "
                    "became 0 or too small to hold exactly\n"},
        OptionsCase{{"C:\\In", "-x", "-0.5"},
                    "vendrake-cli: warning: the factor \"-0.5\" is negative: every height changes "
                    "sign, and the models turn upside down\n"},
        OptionsCase{{"C:\\In", "-x", "1e-3"}, ""}));

// The progress shows on standard error alone, where it is asked for (on a
// terminal by default, as JSON only with --progress), and is erased before
// anything else is printed there: the report, the summary and the lines on
// the cause stay as a run without it gives them.
TEST(RunCliProgress, ShowsOnStandardErrorAloneAndChangesNoOtherLine) {
  struct Printed {
    std::string out;
    std::string err;
  };
  const auto run = [](std::vector<const char*> options, bool err_is_terminal) {
    MemoryFileSystem files;
    files.AddFile(u"C:\\In\\rock_A1", tools::MakeModel(kShape));
    files.AddFile(u"C:\\In\\readme", tools::MakeModel(kShape));
    files.AddFile(u"C:\\In\\short_B2", {1, 2, 3});
    options.insert(options.begin(), {"vendrake-cli", "C:\\In"});
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunCli(static_cast<int>(options.size()), options.data(), out, err, files, nullptr,
                     err_is_terminal),
              kExitSomeFailed);
    return Printed{out.str(), err.str()};
  };
  for (const bool report : {false, true}) {
    std::vector<const char*> options;
    if (report) options.push_back("--report");
    const Printed plain = run(options, false);
    EXPECT_EQ(plain.err.find('\r'), std::string::npos) << plain.err;
    for (const char* progress : {"--progress", ""}) {
      std::vector<const char*> shown = options;
      if (*progress != 0) shown.push_back(progress);
      const Printed on_terminal = run(shown, *progress == 0);
      EXPECT_EQ(on_terminal.out, plain.out);
      EXPECT_THAT(on_terminal.err, HasSubstr("\r0 of 3 models  "));
      EXPECT_EQ(WithoutProgressLine(on_terminal.err), plain.err);
    }
    options.push_back("--no-progress");
    EXPECT_EQ(run(options, true).err, plain.err);
  }

  const Printed json = run({"--json"}, true);
  EXPECT_EQ(json.err, "");
  const Printed json_progress = run({"--json", "--progress"}, false);
  EXPECT_EQ(json_progress.out, json.out);
  const nlohmann::json first =
      nlohmann::json::parse(json_progress.err.substr(0, json_progress.err.find('\n')));
  EXPECT_EQ(first["type"], "progress");
  EXPECT_EQ(first["done"], 0);
  EXPECT_EQ(first["listed"], 3);
}

TEST_F(RunCliTest, HelpListsEveryOptionOnStandardOutput) {
  EXPECT_EQ(Run({"--help"}), kExitAllWritten);
  for (const char* option :
       {"-s,--source", "-d,--dest", "-x,-f,--scale", "--suffix", "-r,--report", "-j,--jobs",
        "--json", "-n,--dry-run", "--progress", "--no-progress", "-V,--version", "FOLDER"}) {
    EXPECT_THAT(out_.str(), HasSubstr(option));
  }
  // The defaults are the window's starting texts.
  EXPECT_THAT(out_.str(), HasSubstr("CliffNatural0_2x"));
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(files_.TotalCalls(), 0);
#ifdef _WIN32
  // As the system's own commands take it.
  const std::string help = out_.str();
  out_.str("");
  EXPECT_EQ(Run({"/?"}), kExitAllWritten);
  EXPECT_EQ(out_.str(), help);
#endif
}

TEST_F(RunCliTest, VersionIsOneLineOnStandardOutput) {
  EXPECT_EQ(Run({"--version"}), kExitAllWritten);
  EXPECT_EQ(out_.str(), "vendrake-cli " VENDRAKE_VERSION "\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(files_.TotalCalls(), 0);
}

}  // namespace
}  // namespace vendrake::cli
