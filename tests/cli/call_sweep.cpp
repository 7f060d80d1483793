#include "tests/cli/call_sweep.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/run_cli.h"
#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

namespace vendrake::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Not a power of two, so every height product is rounded.
constexpr float kFactor = 2.5F;

tools::ModelShape Shape(int k) {
  // Sizes vary, so that the runs ahead on several threads finish out of order.
  const auto vertices = static_cast<std::uint32_t>(4 + 7 * (k % 5));
  return {.vertex_count = vertices,
          .face_count = vertices * 3 / 2,
          .seed = static_cast<std::uint32_t>(k)};
}

Bytes OlderOutput(int k) { return {0xDE, 0xAD, 0xBE, 0xEF, static_cast<std::uint8_t>(k)}; }

std::string Name(int k) { return "CliffNatural0_" + std::string(1, char('A' + k)) + "1"; }

// What the run said of each file it tried, by name, and its summary.
struct Told {
  std::map<std::string, nlohmann::json> files;
  std::vector<nlohmann::json> summaries;
};

Told Parse(const std::string& out) {
  Told told;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    EXPECT_FALSE(object.is_discarded()) << "not JSON: " << line;
    if (object.is_discarded()) continue;
    if (object.value("type", "") == "summary") {
      told.summaries.push_back(object);
    } else {
      const std::string name = object.value("name", "");
      EXPECT_TRUE(told.files.emplace(name, object).second) << "told twice: " << line;
    }
  }
  return told;
}

}  // namespace

CallSweep::CallSweep(const fs::path& base)
    : source_(base / "CliffNatural0"), destination_(base / "CliffNatural0_2x") {
  fs::create_directory(source_);
  for (int k = 0; k < kFiles; ++k) {
    WriteFile(Source(k), tools::MakeModel(Shape(k)));
    source_times_.push_back(fs::last_write_time(Source(k)));
  }
}

fs::path CallSweep::Source(int k) const { return source_ / Name(k); }

fs::path CallSweep::Output(int k) const {
  return destination_ / ("CliffNatural0_2x_" + Name(k).substr(Name(k).find('_') + 1));
}

std::vector<std::string> CallSweep::Arguments(int jobs) const {
  // The scale is kFactor.
  return {"vendrake-cli", "--json",          "--jobs", std::to_string(jobs),  "--scale", "2.5",
          "--source",     Utf8Text(source_), "--dest", Utf8Text(destination_)};
}

void CallSweep::Reset() const {
  fs::remove_all(destination_);
  fs::create_directory(destination_);
  for (int k = 0; k < kFiles; ++k) {
    if (HasOlderOutput(k)) WriteFile(Output(k), OlderOutput(k));
  }
}

SweepRun CallSweep::RunHere(const std::vector<std::string>& arguments, engine::FileSystem& files) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  std::ostringstream out;
  std::ostringstream err;
  const int status = cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err, files);
  return {status, out.str(), err.str()};
}

void CallSweep::ExpectInvariants(const SweepRun& run) const {
  SCOPED_TRACE("status " + std::to_string(run.status) + ", printed:\n" + run.out + run.err);
  for (int k = 0; k < kFiles; ++k) {
    EXPECT_EQ(ReadFile(Source(k)), tools::MakeModel(Shape(k))) << Source(k);
    EXPECT_EQ(fs::last_write_time(Source(k)), source_times_[static_cast<std::size_t>(k)])
        << Source(k);
  }
  EXPECT_EQ(NamesIn(source_).size(), std::size_t{kFiles}) << "the source folder changed";

  const Told told = Parse(run.out);
  std::int64_t written = 0;
  for (int k = 0; k < kFiles; ++k) {
    const auto file = told.files.find(Name(k));
    const std::string status = file == told.files.end() ? "not tried" : file->second["status"];
    const std::string reason = file == told.files.end() ? "" : file->second.value("reason", "");
    SCOPED_TRACE(Name(k) + ": " + status + " " + reason);
    EXPECT_NE(status, "passed over") << "a source is no output of the run";
    if (status == "written") ++written;
    if (!fs::exists(fs::symlink_status(Output(k)))) {
      EXPECT_NE(status, "written") << "written, yet its output is missing";
      EXPECT_FALSE(HasOlderOutput(k)) << "the older output is gone";
      continue;
    }
    const Bytes bytes = ReadFile(Output(k));
    if (bytes == ScaledModel(Shape(k), kFactor)) {
      // A file told as failed holds the new output at its name only where
      // the failure says so: the disk did not confirm the name, or (Windows)
      // the output is whole but its attributes could not be set.
      if (status != "written") {
        EXPECT_THAT(reason, ::testing::AnyOf(::testing::HasSubstr("did not confirm"),
                                             ::testing::HasSubstr("the output is whole")))
            << "the new output took its name, yet the file is told as failed";
      }
    } else {
      EXPECT_NE(status, "written") << "told as written, but its output is not the new file";
      EXPECT_TRUE(HasOlderOutput(k) && bytes == OlderOutput(k))
          << "the output is neither the older file nor the new one, whole";
    }
  }
  std::vector<std::string> expected_names;
  for (int k = 0; k < kFiles; ++k) {
    if (fs::exists(fs::symlink_status(Output(k))))
      expected_names.push_back(Utf8Text(Output(k).filename()));
  }
  std::sort(expected_names.begin(), expected_names.end());
  EXPECT_EQ(NamesIn(destination_), expected_names) << "something beside the outputs was left";

  ASSERT_EQ(told.summaries.size(), 1U) << "no summary, or more than one";
  const nlohmann::json& summary = told.summaries.front();
  if (!summary.value("finished", true)) {
    // The source folder gave no name: nothing was tried.
    EXPECT_TRUE(told.files.empty());
    EXPECT_EQ(summary.value("message", ""), "The source path does not exist.");
    EXPECT_EQ(run.status, cli::kExitSomeFailed);
    return;
  }
  const std::int64_t attempted = summary.value("attempted", std::int64_t{-1});
  const std::int64_t succeeded = summary.value("succeeded", std::int64_t{-1});
  EXPECT_EQ(attempted, static_cast<std::int64_t>(told.files.size()));
  EXPECT_EQ(succeeded, written);
  EXPECT_EQ(summary.value("message", ""), "Attempted model scales: " + std::to_string(attempted) +
                                              ". Success count: " + std::to_string(succeeded) +
                                              ".");
  // A failed file says why in its own line; a listing that broke off, even
  // after the last file, in one more, as no one can tell what it held beyond.
  const bool broke_off =
      run.err.find("the listing of the source folder broke off") != std::string::npos;
  if (attempted < kFiles) {
    EXPECT_TRUE(broke_off) << "files left untried with no word on why";
  }
  const bool all_written = attempted == kFiles && succeeded == kFiles && !broke_off;
  EXPECT_EQ(run.status, all_written ? cli::kExitAllWritten : cli::kExitSomeFailed);
}

void CallSweep::ExpectClean(const SweepRun& run) const {
  ExpectInvariants(run);
  EXPECT_EQ(run.status, cli::kExitAllWritten) << run.err;
  for (int k = 0; k < kFiles; ++k) {
    EXPECT_TRUE(fs::exists(Output(k)) && ReadFile(Output(k)) == ScaledModel(Shape(k), kFactor))
        << Output(k);
  }
}

std::uint32_t SweepSeed() {
  std::uint32_t seed = 0;
  if (const char* given = std::getenv("VENDRAKE_SWEEP_SEED"); given != nullptr && *given != 0) {
    seed = static_cast<std::uint32_t>(std::strtoul(given, nullptr, 10));
  } else {
    seed = std::random_device()();
  }
  std::cout << "sweep seed " << seed << " (set VENDRAKE_SWEEP_SEED=" << seed
            << " to draw the same calls)" << std::endl;
  ::testing::Test::RecordProperty("sweep_seed", std::to_string(seed));
  return seed;
}

std::vector<int> CallsToFail(int calls, int limit, std::mt19937& random) {
  std::vector<int> all;
  for (int k = 1; k <= calls; ++k) all.push_back(k);
  const char* every = std::getenv("VENDRAKE_SWEEP_ALL");
  if (calls <= limit || (every != nullptr && std::string_view(every) == "1")) return all;
  std::vector<int> chosen = {1, calls};
  std::vector<int> middle(all.begin() + 1, all.end() - 1);
  std::sample(middle.begin(), middle.end(), std::back_inserter(chosen),
              static_cast<std::size_t>(std::max(limit - 2, 0)), random);
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

}  // namespace vendrake::testing
