// The same random folders run with groups of one output and with large
// groups, one file at a time and with several staged ahead on threads, and as
// a dry run, must end alike: the same files with the same bytes, the same
// counts, outcome and report lines, in the same order. Grouping and threads
// only change when things happen; a dry run only that nothing is written.
//
// The cases come from fixed seeds; VENDRAKE_DIFFERENTIAL_SEEDS asks for more
// of them (make differential SEEDS=n).

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/batch_run.h"
#include "engine/dry_run_file_system.h"
#include "engine/posix/posix_file_system.h"
#include "tests/engine/posix/unmount.h"
#include "tests/support/batch_recorder.h"
#include "tests/support/hooked_file_system.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

namespace vendrake::engine {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSeed = 20261209;

// Cases run: `fixed` in CI, or one in `share` of as many as
// VENDRAKE_DIFFERENTIAL_SEEDS asks.
int Cases(int fixed, int share = 1) {
  const char* asked = std::getenv("VENDRAKE_DIFFERENTIAL_SEEDS");
  const int seeds = asked != nullptr ? std::atoi(asked) : 0;
  return seeds > 0 ? std::max(fixed, seeds / share) : fixed;
}

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
    std::uint32_t vertices = 4;
  };
  std::vector<Entry> entries;
};

using Kind = Scenario::Entry::Kind;

Scenario RandomScenario(std::mt19937& random) {
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  Scenario scenario;
  scenario.in_place = pick(4) == 0;
  const std::string out_folder = scenario.in_place ? "S" : "D";
  // Few prefixes and suffixes, so that names and outputs collide often.
  static const char* kPrefixes[] = {"a", "b", "z", "Rock", "Tree", "S", "D"};
  const auto suffix = [&] { return "_" + std::to_string(1 + pick(3)); };
  const auto output_name = [&] { return out_folder + suffix(); };
  const auto source_name = [&] { return std::string(kPrefixes[pick(7)]) + suffix(); };
  const auto model = [&](std::string folder, std::string name, std::uint32_t seed) {
    return Scenario::Entry{std::move(folder), std::move(name), Kind::kModel, seed, {}};
  };

  // What an earlier run, or the user, left at the outputs' names: outputs,
  // a folder, links to a folder and a link to itself.
  for (int k = pick(3); k > 0; --k) {
    const std::string name = output_name();
    switch (pick(5)) {
      case 0:
        scenario.entries.push_back({out_folder, name, Kind::kSymlink, 0, "sub"});
        break;
      case 1:
        scenario.entries.push_back({out_folder, name, Kind::kSymlink, 0, out_folder + "/" + name});
        break;
      default:
        scenario.entries.push_back(model(out_folder, name, static_cast<std::uint32_t>(100 + k)));
    }
  }
  for (int k = 2 + pick(6); k > 0; --k) {
    std::string name = source_name();
    switch (pick(8)) {
      case 0:  // a link into the destination, which may lead nowhere yet
        scenario.entries.push_back(
            {"S", name, Kind::kSymlink, 0, out_folder + "/" + output_name()});
        break;
      case 1:  // a link to another source name
        scenario.entries.push_back({"S", name, Kind::kSymlink, 0, "S/" + source_name()});
        break;
      case 2:  // a hard link to whatever holds an output name, if anything
        scenario.entries.push_back(
            {"S", name, Kind::kHardLink, 0, out_folder + "/" + output_name()});
        break;
      case 3:
        scenario.entries.push_back({"S", pick(2) == 0 ? "readme" : name, Kind::kTiny, 0, {}});
        break;
      default:
        scenario.entries.push_back(model("S", name, static_cast<std::uint32_t>(pick(100))));
    }
  }
  // An old output that is a hard link to a source file.
  if (pick(3) == 0 && !scenario.in_place) {
    scenario.entries.push_back({"D", output_name(), Kind::kHardLink, 0, "S/" + source_name()});
  }
  return scenario;
}

// A destination on a small disk: many models, a quarter of them sharing a
// suffix, of which most fit.
Scenario CrowdedScenario(std::mt19937& random) {
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  Scenario scenario;
  for (int k = 0; k < 120; ++k) {
    const int suffix = k % 4 == 0 ? pick(10) : 100 + k;
    scenario.entries.push_back({"S",
                                "M" + std::to_string(k) + "_A" + std::to_string(suffix),
                                Kind::kModel,
                                static_cast<std::uint32_t>(pick(1000)),
                                {},
                                static_cast<std::uint32_t>(40 + pick(200))});
  }
  return scenario;
}

// Empties `folder`, which may be a mount point, or makes it.
void MakeEmpty(const fs::path& folder) {
  fs::create_directory(folder);
  for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
}

void Build(const Scenario& scenario, const fs::path& root) {
  MakeEmpty(root / "S");
  MakeEmpty(root / "D");
  fs::create_directory(root / "sub");
  for (const auto& entry : scenario.entries) {
    const fs::path path = root / entry.folder / entry.name;
    std::error_code taken;  // a name given twice keeps its first file
    if (fs::exists(fs::symlink_status(path))) continue;
    switch (entry.kind) {
      case Kind::kModel:
        testing::WriteFile(path, tools::MakeModel({.vertex_count = entry.vertices,
                                                   .face_count = entry.vertices * 3 / 2,
                                                   .seed = entry.seed}));
        break;
      case Kind::kTiny:
        testing::WriteFile(path, {1, 2});
        break;
      case Kind::kSymlink:
        fs::create_symlink(fs::path("..") / entry.target, path);
        break;
      case Kind::kHardLink:
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
      } else if (entry.is_directory()) {
        snapshot[key] = "folder";
      } else {
        const Bytes bytes = testing::ReadFile(entry.path());
        snapshot[key] = std::string(bytes.begin(), bytes.end());
      }
    }
  }
  return snapshot;
}

// What a run ends with: everything the console prints, its exit status
// included, follows from the outcome and the lines.
struct Result {
  BatchOutcome::Kind kind;
  RunTally tally;
  std::string listing_error;
  std::string destination_error;
  std::string flush_error;
  std::vector<std::string> events;
  std::map<std::string, std::string> files;
  bool operator==(const Result&) const = default;
};

void PrintTo(const Result& result, std::ostream* out) {
  *out << result.tally.attempted << " tried, " << result.tally.succeeded << " written;";
  for (const std::string& event : result.events) *out << "\n  " << event;
  for (const auto& [name, bytes] : result.files) *out << "\n  " << name << ": " << bytes.size();
}

std::string Describe(const Scenario& scenario) {
  std::ostringstream text;
  text << (scenario.in_place ? "in place" : "into D") << ":";
  for (const auto& entry : scenario.entries) {
    text << " " << entry.folder << "/" << entry.name;
    if (!entry.target.empty()) text << (entry.kind == Kind::kSymlink ? "->" : "=>") << entry.target;
  }
  return text.str();
}

// How a run is shaped: outputs staged at once, jobs, and whether it only
// shows what it would do.
struct Shape {
  std::size_t capacity;
  std::size_t jobs;
  bool dry = false;
  bool identities_hidden = false;  // as on a volume without file IDs
};

std::string Describe(Shape shape) {
  return std::to_string(shape.capacity) + " staged at once, " + std::to_string(shape.jobs) +
         " jobs" + (shape.dry ? ", dry run" : "") +
         (shape.identities_hidden ? ", identities hidden" : "");
}

Result RunShaped(Shape shape, const Scenario& scenario, const fs::path& root) {
  Build(scenario, root);
  const auto before = Snapshot(root);
  PosixFileSystem disk;
  testing::HookedFileSystem hooked(disk);
  hooked.SetStagingCapacity(shape.capacity);
  if (shape.identities_hidden) hooked.HideIdentities();
  DryRunFileSystem dry(hooked);
  FileSystem& files = shape.dry ? static_cast<FileSystem&>(dry) : hooked;
  testing::BatchRecorder recorder;
  WindowState state{.ModelWords = {}, .DestBaseName = {}, .ScaleFactor = 3.0F};
  const fs::path dest = root / (scenario.in_place ? "S" : "D");
  const BatchOutcome outcome = RunBatch(state, files, testing::FolderText(root / "S"),
                                        testing::FolderText(dest), &recorder, nullptr, shape.jobs);
  EXPECT_EQ(recorder.taken, std::ssize(recorder.events));
  EXPECT_LE(hooked.MostOutputsStaged(), shape.capacity) << Describe(shape);
  auto after = Snapshot(root);
  // A dry run writes nothing: it is held to the tree the real run leaves.
  if (shape.dry) {
    EXPECT_EQ(before, after) << "a dry run changed the folders";
    after.clear();
  }
  return {outcome.kind,        outcome.tally,   outcome.listing_error, outcome.destination_error,
          outcome.flush_error, recorder.events, std::move(after)};
}

// Runs `scenario` in every shape and compares each with groups of one. Where
// no file can be told by its identity, names alone tell outputs in a run in
// place, and only the lines are compared: a link read while the output it
// leads to waits for its name reads the old file.
void ExpectAlike(const Scenario& scenario, const fs::path& root, int c,
                 const std::vector<Shape>& shapes) {
  const Result one_known = RunShaped({.capacity = 1, .jobs = 1}, scenario, root);
  std::optional<Result> one_hidden;
  for (const Shape shape : shapes) {
    if (shape.identities_hidden && !scenario.in_place) continue;
    if (shape.identities_hidden && !one_hidden) {
      one_hidden = RunShaped({.capacity = 1, .jobs = 1, .identities_hidden = true}, scenario, root);
    }
    const Result& one = shape.identities_hidden ? *one_hidden : one_known;
    Result result = RunShaped(shape, scenario, root);
    if (shape.dry || shape.identities_hidden) result.files = one.files;
    ASSERT_EQ(one, result) << "case " << c << " with " << Describe(shape) << ", "
                           << Describe(scenario);
  }
}

// Groups of 1,024; of 13 beside 4 files ahead; of 1,020 beside 4 ahead and of
// 1,008 beside 16; and a dry run, whose group is as large as the real one's.
const std::vector<Shape> kShapes = {
    {.capacity = 1024, .jobs = 1},
    {.capacity = 17, .jobs = 2},
    {.capacity = 1024, .jobs = 2},
    {.capacity = 1024, .jobs = 8},
    {.capacity = 1024, .jobs = 1, .dry = true},
    {.capacity = 1024, .jobs = 4, .identities_hidden = true},
};

// Each group's flush is one of the whole file system: on a tmpfs, where that
// costs nothing, if there is one.
class GroupSizeDifferential : public ::testing::Test {
 protected:
  const fs::path& Root() const { return shm_ ? shm_->Path() : fallback_.Path(); }

 private:
  const std::optional<testing::TemporaryFolder> shm_ =
      fs::is_directory("/dev/shm") ? std::make_optional<testing::TemporaryFolder>("/dev/shm")
                                   : std::nullopt;
  const testing::TemporaryFolder fallback_;
};

TEST_F(GroupSizeDifferential, GroupsOfOneLargeGroupsThreadsAndDryRunsEndAlike) {
  std::mt19937 random(kSeed);
  for (int c = 0, cases = Cases(300); c < cases; ++c) {
    ExpectAlike(RandomScenario(random), Root(), c, kShapes);
  }
}

TEST_F(GroupSizeDifferential, ANearlyFullDestinationFailsTheSameFilesAtAnyNumberOfJobs) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  fs::create_directory(Root() / "D");
  if (::mount("tmpfs", (Root() / "D").c_str(), "tmpfs", 0, "size=600k") != 0) {
    const int error = errno;
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(error);
  }
  const testing::Unmount unmount(Root() / "D");
  std::mt19937 random(kSeed);
  // Each case runs 120 files four times: one in ten of the seeds asked.
  for (int c = 0, cases = Cases(4, 10); c < cases; ++c) {
    ExpectAlike(CrowdedScenario(random), Root(), c,
                {{.capacity = 1024, .jobs = 1},
                 {.capacity = 17, .jobs = 2},
                 {.capacity = 1024, .jobs = 2},
                 {.capacity = 1024, .jobs = 8},
                 {.capacity = 1024, .jobs = 8}});
  }
}

}  // namespace
}  // namespace vendrake::engine
