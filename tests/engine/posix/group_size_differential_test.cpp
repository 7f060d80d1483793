// The same random folders run with groups of one output and with large
// groups, one file at a time and with several staged ahead on threads, must
// end alike: the same files with the same bytes, the same counts and the same
// report lines. Grouping and threads only change when things happen.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/batch_run.h"
#include "engine/posix/posix_file_system.h"
#include "tests/support/batch_recorder.h"
#include "tests/support/hooked_file_system.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

namespace vendrake::engine {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kCases = 300;
constexpr std::uint32_t kSeed = 20261209;

// One folder tree, built the same way before each run.
struct Scenario {
  bool in_place = false;
  // Each entry: (folder "S" or "D", name, what it is).
  struct Entry {
    std::string folder;
    std::string name;
    enum class Kind { kModel, kTiny, kSymlink, kHardLink } kind;
    std::uint32_t seed = 0;  // a model's shape
    std::string target;      // a link's target, relative to the root
  };
  std::vector<Entry> entries;
};

Scenario RandomScenario(std::mt19937& random) {
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  Scenario scenario;
  scenario.in_place = pick(4) == 0;
  const std::string out_folder = scenario.in_place ? "S" : "D";
  // Few prefixes and suffixes, so that names and outputs collide often.
  static const char* kPrefixes[] = {"a", "b", "z", "Rock", "Tree", "S", "D"};
  const auto suffix = [&] { return "_" + std::to_string(1 + pick(3)); };
  const auto output_name = [&] { return out_folder + suffix(); };

  // Outputs of an earlier run.
  for (int k = pick(3); k > 0; --k) {
    scenario.entries.push_back({out_folder,
                                output_name(),
                                Scenario::Entry::Kind::kModel,
                                static_cast<std::uint32_t>(100 + pick(50)),
                                {}});
  }
  for (int k = 2 + pick(6); k > 0; --k) {
    std::string name = std::string(kPrefixes[pick(7)]) + suffix();
    switch (pick(7)) {
      case 0:  // a link into the destination, which may lead nowhere yet
        scenario.entries.push_back(
            {"S", name, Scenario::Entry::Kind::kSymlink, 0, out_folder + "/" + output_name()});
        break;
      case 1:  // a link to another source name
        scenario.entries.push_back({"S", name, Scenario::Entry::Kind::kSymlink, 0,
                                    "S/" + std::string(kPrefixes[pick(5)]) + suffix()});
        break;
      case 2:  // a hard link to whatever holds an output name, if anything
        scenario.entries.push_back(
            {"S", name, Scenario::Entry::Kind::kHardLink, 0, out_folder + "/" + output_name()});
        break;
      case 3:
        scenario.entries.push_back(
            {"S", pick(2) == 0 ? "readme" : name, Scenario::Entry::Kind::kTiny, 0, {}});
        break;
      default:
        scenario.entries.push_back(
            {"S", name, Scenario::Entry::Kind::kModel, static_cast<std::uint32_t>(pick(100)), {}});
    }
  }
  return scenario;
}

void Build(const Scenario& scenario, const fs::path& root) {
  fs::remove_all(root / "S");
  fs::remove_all(root / "D");
  fs::create_directory(root / "S");
  fs::create_directory(root / "D");
  for (const auto& entry : scenario.entries) {
    const fs::path path = root / entry.folder / entry.name;
    std::error_code taken;  // a name given twice keeps its first file
    if (fs::exists(fs::symlink_status(path))) continue;
    switch (entry.kind) {
      case Scenario::Entry::Kind::kModel:
        testing::WriteFile(
            path, tools::MakeModel({.vertex_count = 4, .face_count = 6, .seed = entry.seed}));
        break;
      case Scenario::Entry::Kind::kTiny:
        testing::WriteFile(path, {1, 2});
        break;
      case Scenario::Entry::Kind::kSymlink:
        fs::create_symlink(fs::path("..") / entry.target, path);
        break;
      case Scenario::Entry::Kind::kHardLink:
        fs::create_hard_link(root / entry.target, path, taken);
        break;
    }
  }
}

// Every name of both folders with what it holds: a link's target, or the
// file's bytes.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> snapshot;
  for (const char* folder : {"S", "D"}) {
    for (const auto& entry : fs::directory_iterator(root / folder)) {
      const std::string key = std::string(folder) + "/" + entry.path().filename().string();
      if (entry.is_symlink()) {
        snapshot[key] = "-> " + fs::read_symlink(entry.path()).string();
      } else {
        const Bytes bytes = testing::ReadFile(entry.path());
        snapshot[key] = std::string(bytes.begin(), bytes.end());
      }
    }
  }
  return snapshot;
}

struct Result {
  RunTally tally;
  std::vector<std::string> events;
  std::map<std::string, std::string> files;
  bool operator==(const Result&) const = default;
};

std::string Describe(const Scenario& scenario) {
  std::ostringstream text;
  text << (scenario.in_place ? "in place" : "into D") << ":";
  for (const auto& entry : scenario.entries) {
    text << " " << entry.folder << "/" << entry.name;
    if (!entry.target.empty())
      text << (entry.kind == Scenario::Entry::Kind::kSymlink ? "->" : "=>") << entry.target;
  }
  return text.str();
}

// How a run is shaped: outputs staged at once, and jobs.
struct Shape {
  std::size_t capacity;
  std::size_t jobs;
};

Result RunShaped(Shape shape, const Scenario& scenario, const fs::path& root) {
  Build(scenario, root);
  PosixFileSystem disk;
  testing::HookedFileSystem files(disk);
  files.SetStagingCapacity(shape.capacity);
  testing::BatchRecorder recorder;
  WindowState state{.ModelWords = {}, .DestBaseName = {}, .ScaleFactor = 3.0F};
  const fs::path dest = root / (scenario.in_place ? "S" : "D");
  const BatchOutcome outcome = RunBatch(state, files, testing::FolderText(root / "S"),
                                        testing::FolderText(dest), &recorder, nullptr, shape.jobs);
  EXPECT_EQ(recorder.taken, std::ssize(recorder.events));
  return {outcome.tally, recorder.events, Snapshot(root)};
}

TEST(GroupSizeDifferential, GroupsOfOneLargeGroupsAndThreadsEndAlike) {
  // Each group's flush is one of the whole file system: on a tmpfs, where
  // that costs nothing, if there is one.
  const std::optional<testing::TemporaryFolder> shm =
      fs::is_directory("/dev/shm") ? std::make_optional<testing::TemporaryFolder>("/dev/shm")
                                   : std::nullopt;
  const testing::TemporaryFolder fallback;
  const fs::path root = shm ? shm->Path() : fallback.Path();
  std::mt19937 random(kSeed);
  for (int c = 0; c < kCases; ++c) {
    const Scenario scenario = RandomScenario(random);
    const Result one = RunShaped({.capacity = 1, .jobs = 1}, scenario, root);
    // Groups of 1,024; of 9 beside 8 files ahead; of 1,016 beside 8 ahead.
    for (const Shape shape : {Shape{.capacity = 1024, .jobs = 1}, Shape{.capacity = 17, .jobs = 4},
                              Shape{.capacity = 1024, .jobs = 4}}) {
      ASSERT_EQ(one, RunShaped(shape, scenario, root))
          << "case " << c << " with " << shape.capacity << " staged at once and " << shape.jobs
          << " jobs, " << Describe(scenario);
    }
  }
}

}  // namespace
}  // namespace vendrake::engine
