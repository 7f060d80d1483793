#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_cli.h"
#include "engine/errors.h"
#include "engine/memory/memory_file_system.h"
#include "tests/support/hooked_file_system.h"
#include "tests/support/model_bytes.h"
#include "tools/synthetic_model.h"

namespace vendrake::cli {
namespace {

using engine::MemoryFileSystem;

constexpr std::int32_t kTag = 0x55385F5F;

// A written file's path is printed in the platform's own form.
#ifdef _WIN32
#define GOOD_OUTPUT_PATH "C:\\Out\\Out_good"
#else
#define GOOD_OUTPUT_PATH "/Out/Out_good"
#endif

// One source file for every way a file can fail, named so that the listing
// (in code-unit order) yields them in the order of the expected lines. The
// write fails because a folder already holds the output's name; the name that
// fails to read holds a newline and an ESC, in its line and in its detail.
TEST(FileReport, PrintsEveryFilesFateBeforeTheSummary) {
  MemoryFileSystem files;
  files.AddFile(u"C:\\In\\a_good", tools::MakeModel({.vertex_count = 4, .face_count = 6}));
  files.AddFile(u"C:\\In\\b_short", {1, 2, 3});
  files.AddFile(u"C:\\In\\c_huge", std::vector<std::uint8_t>(131076));
  files.AddFile(u"C:\\In\\d_full", std::vector<std::uint8_t>(131072));
  // The block offset (64 bytes) and length (64 bytes) reach past 8 words.
  files.AddFile(u"C:\\In\\e_block",
                testing::BytesOfWords(std::vector<std::int32_t>{kTag, 64, 64, 0, 0, 0, 0, 0}));
  // One record from word 3; its height (word 5) is a signalling NaN.
  files.AddFile(u"C:\\In\\f_nan", testing::BytesOfWords(std::vector<std::int32_t>{
                                      kTag, 12, 32, 0, 0, 0x7F800001, 0, 0, 0, 0, 0}));
  files.AddFile(u"C:\\In\\g_write", tools::MakeModel({.vertex_count = 4, .face_count = 6}));
  files.AddFolder(u"C:\\Out\\Out_write");
  files.AddFile(u"C:\\In\\h_re\nad\x1B", tools::MakeModel({.vertex_count = 4, .face_count = 6}));
  files.FailOn(MemoryFileSystem::Operation::kOpenForReading, 8);
  files.AddFile(u"C:\\In\\readme", tools::MakeModel({.vertex_count = 4, .face_count = 6}));

  std::ostringstream out;
  std::ostringstream err;
  // One job: the eighth open is the eighth file's only when files are
  // opened in listing order.
  const char* const argv[] = {"vendrake-cli", "--source", "C:\\In", "--dest",
                              "C:\\Out",      "--report", "--jobs", "1"};
  EXPECT_EQ(RunCli(8, argv, out, err, files), kExitSomeFailed);

  EXPECT_EQ(out.str(),
            "a_good -> " GOOD_OUTPUT_PATH
            "\n"
            "b_short: failed: shorter than 4 bytes, too short to be a model "
            "(the file holds 3 bytes, no whole word)\n"
            "c_huge: failed: too large: the most this format can hold is 32,768 words "
            "(131,072 bytes) (the file holds 131076 bytes)\n"
            "d_full: failed: too large: the search for its vertices runs past byte 131,071, the "
            "last this format can reach (word position 32768 does not fit in 16 bits)\n"
            "e_block: failed: damaged: its vertex block lies outside the file "
            "(word 18 is outside the image of 8 words)\n"
            "f_nan: failed: a height cannot be scaled: it is not a number, or the scaled height "
            "is too large for the format (signalling NaN in a height product)\n"
            "g_write: failed: cannot write the output "
            "(a folder has the output's name: C:\\Out\\Out_write)\n"
            "h_re%0Aad%1B: failed: cannot read the file (injected failure: C:\\In\\h_re%0Aad%1B)\n"
            "readme: failed: no \"_\" in the name, so it gives the output's name no suffix\n"
            "Attempted model scales: 9. Success count: 1.\n");
  EXPECT_EQ(err.str(), "");
}

// The run in place, in C:\zed, of a folder with every kind of file: one
// for each failure before the write, one whose write fails (a folder holds
// its output's name), two whose outputs take one name, and zed_1 and zed_A2,
// which outputs replace before the listing reaches them. The dry run must go
// as the real one, up to the writing: only the failed write differs, as the
// dry run does not write. (An output of a new name that the real run's
// listing met would be passed over there, and not show in the dry run.)
TEST(DryRun, AgreesWithTheRealRunLineForLineAndWritesNothing) {
  MemoryFileSystem memory;
  const auto model = tools::MakeModel({.vertex_count = 4, .face_count = 6});
  memory.AddFile(u"C:\\zed\\a_1", model);
  memory.AddFile(u"C:\\zed\\b_short", {1, 2, 3});
  memory.AddFile(u"C:\\zed\\c_huge", std::vector<std::uint8_t>(131076));
  memory.AddFile(u"C:\\zed\\e_block",
                 testing::BytesOfWords(std::vector<std::int32_t>{kTag, 64, 64, 0, 0, 0, 0, 0}));
  memory.AddFile(u"C:\\zed\\f_nan", testing::BytesOfWords(std::vector<std::int32_t>{
                                        kTag, 12, 32, 0, 0, 0x7F800001, 0, 0, 0, 0, 0}));
  memory.AddFile(u"C:\\zed\\g_write", model);
  memory.AddFolder(u"C:\\zed\\zed_write");
  memory.AddFile(u"C:\\zed\\h_read", model);
  memory.AddFile(u"C:\\zed\\readme", model);
  memory.AddFile(u"C:\\zed\\rock_A2", model);
  memory.AddFile(u"C:\\zed\\tree_A2", model);
  memory.AddFile(u"C:\\zed\\zed_1", model);
  memory.AddFile(u"C:\\zed\\zed_A2", {1, 2, 3});
  const std::vector<std::u16string> before = memory.FilePaths();
  const auto run = [&](std::vector<const char*> options) {
    testing::HookedFileSystem files(memory);
    files.Before(testing::HookedFileSystem::Operation::kRead, u"h_read",
                 [] { throw engine::FileError("injected failure: h_read"); });
    options.insert(options.begin(), {"vendrake-cli", "-r", "-s", "C:\\zed", "-d", "C:\\zed"});
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunCli(static_cast<int>(options.size()), options.data(), out, err, files);
    return std::vector<std::string>{std::to_string(status), out.str(), err.str()};
  };

  const std::vector<std::string> dry = run({"-n"});
  EXPECT_EQ(memory.FilePaths(), before);
  const std::vector<std::string> real = run({});

#ifdef _WIN32
#define ZED "C:\\zed\\"
#else
#define ZED "/zed/"
#endif
  const std::string common_head =
      "a_1 -> " ZED
      "zed_1\n"
      "b_short: failed: shorter than 4 bytes, too short to be a model "
      "(the file holds 3 bytes, no whole word)\n"
      "c_huge: failed: too large: the most this format can hold is 32,768 words "
      "(131,072 bytes) (the file holds 131076 bytes)\n"
      "e_block: failed: damaged: its vertex block lies outside the file "
      "(word 18 is outside the image of 8 words)\n"
      "f_nan: failed: a height cannot be scaled: it is not a number, or the scaled height "
      "is too large for the format (signalling NaN in a height product)\n";
  const std::string common_tail =
      "h_read: failed: cannot read the file (injected failure: h_read)\n"
      "readme: failed: no \"_\" in the name, so it gives the output's name no suffix\n"
      "rock_A2 -> " ZED
      "zed_A2\n"
      "tree_A2 -> " ZED
      "zed_A2 (replaces the output of rock_A2)\n"
      "zed_1: passed over: it is an output of this run\n"
      "zed_A2: passed over: it is an output of this run\n";
  EXPECT_EQ(real[1], common_head +
                         "g_write: failed: cannot write the output "
                         "(a folder has the output's name: C:\\zed\\zed_write)\n" +
                         common_tail + "Attempted model scales: 10. Success count: 3.\n");
  EXPECT_EQ(dry[1],
            common_head + "g_write -> " ZED "zed_write\n" + common_tail +
                "Attempted model scales: 10. Success count: 4. Dry run: nothing was "
                "written.\n"
                "Heights of 16 vertices: from 0.348094 to 4.672352 before, from 0.696188 to "
                "9.344704 after.\n");
  // A failure before the write fails a dry run too; one at the write does not.
  EXPECT_EQ(dry[0], "1");
  EXPECT_EQ(real[0], "1");
  EXPECT_EQ(dry[2], real[2]);
  EXPECT_EQ(real[2],
            "vendrake-cli: 1 output was replaced by a later file's output of the same name\n");
#undef ZED
}

}  // namespace
}  // namespace vendrake::cli
