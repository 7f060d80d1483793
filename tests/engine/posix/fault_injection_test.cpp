#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/batch_run.h"
#include "engine/posix/posix_file_system.h"
#include "tests/engine/posix/child_report.h"
#include "tests/engine/posix/syscall_fault.h"
#include "tests/engine/posix/unmount.h"
#include "tests/support/batch_recorder.h"
#include "tests/support/hooked_file_system.h"
#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

namespace vendrake::engine {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Hook = testing::HookedFileSystem::Operation;
using ::testing::ElementsAre;
using testing::NamesIn;
using testing::ReadFile;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;
using testing::WriteFile;

// Not a power of two, so every height product is rounded.
constexpr float kFactor = 2.5F;
constexpr uid_t kNobody = 65534;

tools::ModelShape Shape(std::uint32_t seed, std::uint32_t vertices = 12) {
  return {.vertex_count = vertices, .face_count = vertices * 3 / 2, .seed = seed};
}

// What an earlier run left at an output name.
Bytes OldOutput() { return {0xDE, 0xAD, 0xBE, 0xEF, 0x01}; }

class FaultInjection : public ::testing::Test {
 protected:
  FaultInjection() { fs::create_directory(source_); }

  BatchOutcome Run(FileSystem& files, const fs::path& dest) {
    return RunBatch(state_, files, testing::FolderText(source_), testing::FolderText(dest),
                    &recorder_);
  }
  void ExpectFinished(const BatchOutcome& outcome, std::int64_t attempted, std::int64_t succeeded) {
    EXPECT_EQ(outcome.kind, BatchOutcome::Kind::kFinished);
    EXPECT_EQ(outcome.tally, (RunTally{.attempted = attempted, .succeeded = succeeded}));
  }
  // CliffNatural0_A1, _B2 and _C3 in the source folder.
  void AddModels() {
    for (std::uint32_t k = 1; k <= 3; ++k) WriteFile(Source(k), tools::MakeModel(Shape(k)));
  }
  fs::path Source(std::uint32_t k) const { return source_ / ("CliffNatural0_" + Suffix(k)); }
  fs::path Output(std::uint32_t k) const { return dest_ / ("CliffNatural0_2x_" + Suffix(k)); }
  static std::string Suffix(std::uint32_t k) {
    return std::string(1, char('A' + k - 1)) + std::to_string(k);
  }

  // What a run in a child process reported.
  struct ChildRun {
    RunTally tally;
    std::vector<std::string> events;
  };

  // Runs the batch into dest_ in a child process, once `prepare` has
  // returned true there (changing its user, or what its system calls do);
  // `started` runs here once the child does. Empty when `prepare` failed.
  std::optional<ChildRun> RunInChild(FileSystem& files, const std::function<bool()>& prepare,
                                     const std::function<void()>& started = {}) {
    const auto report = testing::ReportOfChild(
        prepare,
        [&] {
          const BatchOutcome outcome = Run(files, dest_);
          std::string text = std::to_string(outcome.tally.attempted) + " " +
                             std::to_string(outcome.tally.succeeded) + "\n";
          for (const auto& event : recorder_.events) text += event + "\n";
          return text;
        },
        started);
    if (!report) return std::nullopt;
    ChildRun run;
    std::istringstream lines(*report);
    lines >> run.tally.attempted >> run.tally.succeeded;
    lines.ignore();
    for (std::string line; std::getline(lines, line);) run.events.push_back(line);
    return run;
  }

  testing::TemporaryFolder root_;
  const fs::path source_ = root_.Path() / "CliffNatural0";
  const fs::path dest_ = root_.Path() / "CliffNatural0_2x";
  PosixFileSystem disk_;
  WindowState state_{.ModelWords = {}, .DestBaseName = {}, .ScaleFactor = kFactor};
  testing::BatchRecorder recorder_;
};

struct SourceChange {
  const char* name;
  Hook before;
  void (*change)(const fs::path& file);
  bool written;  // otherwise the file fails and its old output stays
};

void PrintTo(const SourceChange& change, std::ostream* out) { *out << change.name; }

class SourceChangeTest : public FaultInjection,
                         public ::testing::WithParamInterface<SourceChange> {};

TEST_P(SourceChangeTest, FailsOnlyThatFile_OrReadsTheLengthMeasured) {
  AddModels();
  fs::create_directory(dest_);
  WriteFile(Output(2), OldOutput());
  testing::HookedFileSystem files(disk_);
  files.Before(GetParam().before, u"CliffNatural0_B2", [&] { GetParam().change(Source(2)); });

  ExpectFinished(Run(files, dest_), 3, GetParam().written ? 3 : 2);

  EXPECT_EQ(ReadFile(Output(1)), testing::ScaledModel(Shape(1), kFactor));
  EXPECT_EQ(ReadFile(Output(2)),
            GetParam().written ? testing::ScaledModel(Shape(2), kFactor) : OldOutput());
  EXPECT_EQ(ReadFile(Output(3)), testing::ScaledModel(Shape(3), kFactor));
  EXPECT_THAT(NamesIn(dest_),
              ElementsAre("CliffNatural0_2x_A1", "CliffNatural0_2x_B2", "CliffNatural0_2x_C3"));
  const ::testing::Matcher<const std::string&> b2 =
      GetParam().written
          ? ::testing::Matcher<const std::string&>(StartsWith("CliffNatural0_B2 -> "))
          : ::testing::Matcher<const std::string&>(
                ::testing::Eq("CliffNatural0_B2 failed at read: file"));
  EXPECT_THAT(recorder_.events, UnorderedElementsAre(StartsWith("CliffNatural0_A1 -> "), b2,
                                                     StartsWith("CliffNatural0_C3 -> ")));
}

INSTANTIATE_TEST_SUITE_P(
    FaultInjection, SourceChangeTest,
    ::testing::Values(SourceChange{"RemovedAfterListing", Hook::kOpenForReading,
                                   [](const fs::path& file) { fs::remove(file); }, false},
                      // Reading fewer bytes than measured must not pass off a short image.
                      SourceChange{"ShrunkAfterMeasuring", Hook::kRead,
                                   [](const fs::path& file) {
                                     fs::resize_file(file, fs::file_size(file) / 2);
                                   },
                                   false},
                      // Only the bytes measured are read; what was appended is left out.
                      SourceChange{"GrownAfterMeasuring", Hook::kRead,
                                   [](const fs::path& file) {
                                     Bytes grown = ReadFile(file);
                                     grown.insert(grown.end(), 1000, 0x7F);
                                     WriteFile(file, grown);
                                   },
                                   true}),
    [](const auto& test) { return std::string(test.param.name); });

class UnusableDestinationTest : public FaultInjection,
                                public ::testing::WithParamInterface<bool> {};

TEST_P(UnusableDestinationTest, EveryFileFailsAtWriteAndNothingIsCreated) {
  AddModels();
  fs::path dest = root_.Path() / "Missing" / "CliffNatural0_2x";
  if (GetParam()) {
    dest = dest_;
    WriteFile(dest_, OldOutput());
  }

  ExpectFinished(Run(disk_, dest), 3, 0);

  EXPECT_THAT(recorder_.events, UnorderedElementsAre("CliffNatural0_A1 failed at write: file",
                                                     "CliffNatural0_B2 failed at write: file",
                                                     "CliffNatural0_C3 failed at write: file"));
  if (GetParam()) {
    EXPECT_EQ(ReadFile(dest_), OldOutput());
    EXPECT_THAT(NamesIn(root_.Path()), ElementsAre("CliffNatural0", "CliffNatural0_2x"));
  } else {
    EXPECT_THAT(NamesIn(root_.Path()), ElementsAre("CliffNatural0"));
  }
  EXPECT_THAT(NamesIn(source_),
              ElementsAre("CliffNatural0_A1", "CliffNatural0_B2", "CliffNatural0_C3"));
}

INSTANTIATE_TEST_SUITE_P(FaultInjection, UnusableDestinationTest, ::testing::Bool(),
                         [](const auto& test) {
                           return test.param ? "IsARegularFile" : "ParentMissing";
                         });

using testing::Unmount;

class WriteFailureTest : public FaultInjection, public ::testing::WithParamInterface<bool> {
 protected:
  std::optional<Unmount> unmount_;
};

TEST_P(WriteFailureTest, KeepsTheExistingOutputAndRemovesTheStagedFile) {
  fs::create_directory(dest_);
  testing::HookedFileSystem files(disk_);
  // B2 is larger than the whole 64 KiB disk; A1 fits beside the old output
  // only once B2's staged file is gone again, whichever is listed first.
  const auto large = Shape(2, tools::VertexCountForSize(100000));
  if (GetParam()) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    if (::mount("tmpfs", dest_.c_str(), "tmpfs", 0, "size=64k") != 0) {
      const int error = errno;
      GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(error);
    }
    unmount_.emplace(dest_);
  } else {
    files.FailWrite(u"CliffNatural0_2x_B2", 32 * 1024);
  }
  const Bytes old_output(40 * 1024, 0xEE);
  WriteFile(Output(2), old_output);
  WriteFile(Source(1), tools::MakeModel(Shape(1)));
  WriteFile(Source(2), tools::MakeModel(large));

  ExpectFinished(Run(files, dest_), 2, 1);

  EXPECT_THAT(recorder_.events, UnorderedElementsAre(StartsWith("CliffNatural0_A1 -> "),
                                                     "CliffNatural0_B2 failed at write: file"));
  EXPECT_EQ(ReadFile(Output(1)), testing::ScaledModel(Shape(1), kFactor));
  EXPECT_EQ(ReadFile(Output(2)), old_output);
  EXPECT_THAT(NamesIn(dest_), ElementsAre("CliffNatural0_2x_A1", "CliffNatural0_2x_B2"));
}

INSTANTIATE_TEST_SUITE_P(FaultInjection, WriteFailureTest, ::testing::Bool(), [](const auto& test) {
  return test.param ? "FullTmpfs" : "InjectedPartWay";
});

class FaultInjectionAsUser : public FaultInjection {
 protected:
  // Files that root keeps owning when the rest goes to nobody; their group
  // stays nobody.
  std::vector<fs::path> give_to_root_;

  // Runs the batch where permission bits hold. Root passes every permission
  // check, so then the run goes to a child process that has become nobody,
  // owning the temporary folder and all it holds. Empty when that cannot be.
  std::optional<ChildRun> RunUnprivileged() {
    if (::geteuid() != 0) {
      const BatchOutcome outcome = Run(disk_, dest_);
      return ChildRun{outcome.tally, recorder_.events};
    }
    for (const auto& entry : fs::recursive_directory_iterator(root_.Path())) {
      if (::lchown(entry.path().c_str(), kNobody, kNobody) != 0) return std::nullopt;
    }
    for (const fs::path& file : give_to_root_) {
      if (::lchown(file.c_str(), 0, static_cast<gid_t>(-1)) != 0) return std::nullopt;
    }
    if (::chown(root_.Path().c_str(), kNobody, kNobody) != 0) return std::nullopt;
    // The folder's parents must be open to nobody too.
    return RunInChild(disk_, [&] {
      return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 &&
             ::access(source_.c_str(), R_OK | X_OK) == 0;
    });
  }
};

TEST_F(FaultInjectionAsUser, UnreadableSourceFileFailsAlone) {
  AddModels();
  fs::create_directory(dest_);
  fs::permissions(Source(2), fs::perms::none);

  const auto run = RunUnprivileged();
  if (!run) GTEST_SKIP() << "cannot drop root's powers here";

  EXPECT_EQ(run->tally, (RunTally{.attempted = 3, .succeeded = 2}));
  EXPECT_THAT(run->events, UnorderedElementsAre(StartsWith("CliffNatural0_A1 -> "),
                                                "CliffNatural0_B2 failed at read: file",
                                                StartsWith("CliffNatural0_C3 -> ")));
  EXPECT_EQ(ReadFile(Output(1)), testing::ScaledModel(Shape(1), kFactor));
  EXPECT_EQ(ReadFile(Output(3)), testing::ScaledModel(Shape(3), kFactor));
  EXPECT_THAT(NamesIn(dest_), ElementsAre("CliffNatural0_2x_A1", "CliffNatural0_2x_C3"));
  fs::permissions(Source(2), fs::perms::owner_read);
  EXPECT_EQ(ReadFile(Source(2)), tools::MakeModel(Shape(2)));
}

TEST_F(FaultInjectionAsUser, ReadOnlyDestinationFailsEveryWriteAndKeepsItsFiles) {
  AddModels();
  fs::create_directory(dest_);
  WriteFile(Output(2), OldOutput());
  fs::permissions(dest_, fs::perms::owner_read | fs::perms::owner_exec);

  const auto run = RunUnprivileged();
  if (!run) GTEST_SKIP() << "cannot drop root's powers here";

  EXPECT_EQ(run->tally, (RunTally{.attempted = 3, .succeeded = 0}));
  EXPECT_THAT(run->events, UnorderedElementsAre("CliffNatural0_A1 failed at write: file",
                                                "CliffNatural0_B2 failed at write: file",
                                                "CliffNatural0_C3 failed at write: file"));
  EXPECT_THAT(NamesIn(dest_), ElementsAre("CliffNatural0_2x_B2"));
  EXPECT_EQ(ReadFile(Output(2)), OldOutput());
}

TEST_F(FaultInjectionAsUser, AnOutputTheUserMayNotWriteOrKeepTheOwnerOfStaysAndFails) {
  AddModels();
  WriteFile(Source(4), tools::MakeModel(Shape(4)));
  fs::create_directory(dest_);
  WriteFile(Output(1), OldOutput());
  WriteFile(Output(2), OldOutput());
  WriteFile(Output(4), OldOutput());
  // Read-only to its owner; another user's file, writable only by them;
  // another user's file that the group may write, but that a member of the
  // group may not give back to its owner once replaced.
  fs::permissions(Output(1), fs::perms::owner_read | fs::perms::group_read);
  fs::permissions(Output(2), fs::perms::owner_read | fs::perms::owner_write |
                                 fs::perms::group_read | fs::perms::others_read);
  fs::permissions(Output(4), fs::perms::owner_read | fs::perms::owner_write |
                                 fs::perms::group_read | fs::perms::group_write);
  if (::geteuid() == 0) {
    give_to_root_ = {Output(2), Output(4)};
  } else {
    // No other owner to give them to: the nearest is a file closed to writing.
    fs::permissions(Output(2), fs::perms::owner_write, fs::perm_options::remove);
    fs::permissions(Output(4), fs::perms::owner_write | fs::perms::group_write,
                    fs::perm_options::remove);
  }

  const auto run = RunUnprivileged();
  if (!run) GTEST_SKIP() << "cannot drop root's powers here";

  EXPECT_EQ(run->tally, (RunTally{.attempted = 4, .succeeded = 1}));
  EXPECT_THAT(run->events, UnorderedElementsAre("CliffNatural0_A1 failed at write: file",
                                                "CliffNatural0_B2 failed at write: file",
                                                StartsWith("CliffNatural0_C3 -> "),
                                                "CliffNatural0_D4 failed at write: file"));
  EXPECT_EQ(ReadFile(Output(1)), OldOutput());
  EXPECT_EQ(ReadFile(Output(2)), OldOutput());
  EXPECT_EQ(ReadFile(Output(4)), OldOutput());
  if (::geteuid() == 0) {
    struct stat owned {};
    ASSERT_EQ(::stat(Output(4).c_str(), &owned), 0);
    EXPECT_EQ(owned.st_uid, 0U);
  }
  EXPECT_THAT(NamesIn(dest_), ElementsAre("CliffNatural0_2x_A1", "CliffNatural0_2x_B2",
                                          "CliffNatural0_2x_C3", "CliffNatural0_2x_D4"));
}

// What another kernel, file system or disk would have a system call do.
struct SyscallCase {
  const char* name;
  PosixFileSystem::Staging staging;
  bool old_outputs;  // each output's name holds an older file to replace
  std::vector<testing::SyscallFault> (*faults)(const fs::path& dest);
  int written;  // of the three; the others fail and leave their names as they were
};

void PrintTo(const SyscallCase& c, std::ostream* out) { *out << c.name; }

class SyscallFaultTest : public FaultInjection,
                         public ::testing::WithParamInterface<SyscallCase> {};

TEST_P(SyscallFaultTest, GivesTheFallbackOrFailsOnlyTheFilesItConcerns) {
  AddModels();
  fs::create_directory(dest_);
  if (GetParam().old_outputs) {
    for (std::uint32_t k = 1; k <= 3; ++k) WriteFile(Output(k), OldOutput());
  }
  PosixFileSystem files(GetParam().staging);
  testing::SyscallFaults faults(GetParam().faults(dest_));

  const auto run = RunInChild(
      files, [&] { return faults.Install(); }, [&] { faults.Supervise(); });
  if (!run) GTEST_SKIP() << "no seccomp filter here";

  const int written = GetParam().written;
  EXPECT_EQ(run->tally, (RunTally{.attempted = 3, .succeeded = written}));
  const auto count_events = [&](std::string_view ending) {
    return std::count_if(run->events.begin(), run->events.end(),
                         [&](const std::string& event) { return event.ends_with(ending); });
  };
  const auto unconfirmed = count_events(" failed at confirm: file");
  EXPECT_EQ(count_events(" failed at write: file") + unconfirmed, 3 - written);
  // Nothing staged is left behind, and a name is taken only whole: what a
  // failed file leaves at its name is what was there before, unless it was
  // the disk's confirmation of its name that failed.
  std::vector<std::string> names;
  int scaled = 0;
  for (std::uint32_t k = 1; k <= 3; ++k) {
    if (!fs::exists(fs::symlink_status(Output(k)))) continue;
    names.push_back(Output(k).filename());
    const Bytes bytes = ReadFile(Output(k));
    if (bytes == testing::ScaledModel(Shape(k), kFactor)) {
      ++scaled;
    } else {
      EXPECT_EQ(bytes, OldOutput()) << Output(k);
    }
  }
  EXPECT_EQ(scaled, written + unconfirmed);
  EXPECT_EQ(NamesIn(dest_), names);
}

constexpr auto kUnnamedStaging = PosixFileSystem::Staging::kUnnamedWherePossible;
constexpr auto kNamedStaging = PosixFileSystem::Staging::kNamedOnly;
// How the run asks a file, once the file system has been flushed, whether
// writing its pages failed.
constexpr std::uint32_t kAskThePages = SYNC_FILE_RANGE_WAIT_AFTER;
using Fault = testing::SyscallFault;

INSTANTIATE_TEST_SUITE_P(
    FaultInjection, SyscallFaultTest,
    ::testing::Values(
        // Writing one output's pages failed, which the flush of the whole
        // disk does not say on older kernels, but the output's pages do.
        SyscallCase{"OnesPagesFailed", kUnnamedStaging, true,
                    [](const fs::path&) {
                      return std::vector<Fault>{
                          Fault(SYS_sync_file_range, EIO).Where(3, kAskThePages).OnlyThe(2)};
                    },
                    2},
        // The flush of the whole disk fails, and so does the flush of one
        // output that follows it.
        SyscallCase{"DiskFlushFailsThenOneOutputs", kUnnamedStaging, true,
                    [](const fs::path&) {
                      return std::vector<Fault>{Fault(SYS_syncfs, EIO),
                                                Fault(SYS_fdatasync, EIO).OnlyThe(2)};
                    },
                    2},
        // Linux before 6.10 lets only CAP_DAC_READ_SEARCH link a descriptor.
        SyscallCase{"LinkFromTheDescriptorRefused", kUnnamedStaging, false,
                    [](const fs::path&) {
                      return std::vector<Fault>{Fault(SYS_linkat, ENOENT).Where(4, AT_EMPTY_PATH)};
                    },
                    3},
        // vfat and some network file systems have no unnamed files.
        SyscallCase{"NoUnnamedFiles", kUnnamedStaging, true,
                    [](const fs::path&) {
                      return std::vector<Fault>{
                          Fault(SYS_openat, EOPNOTSUPP).Where(2, O_TMPFILE, O_TMPFILE)};
                    },
                    3},
        // A deferred write error, as network file systems report it, for new
        // outputs and for replacements.
        SyscallCase{"CloseFails", kUnnamedStaging, false,
                    [](const fs::path&) { return std::vector<Fault>{Fault(SYS_close, EIO)}; }, 0},
        SyscallCase{"CloseFailsOverOldOutputs", kNamedStaging, true,
                    [](const fs::path&) { return std::vector<Fault>{Fault(SYS_close, EIO)}; }, 0},
        // The folder cannot be opened for the last flush, as on a file
        // system shut down after an I/O error: no name is confirmed, and
        // sync(), which reports nothing, is not asked instead.
        SyscallCase{
            "FolderUnopenableForTheLastFlush", kUnnamedStaging, false,
            [](const fs::path&) {
              // Folders opened to be read (O_TMPFILE holds the bit of
              // O_DIRECTORY too): the count of open descriptors', the
              // clean-up's, the look whether the destination is empty, the
              // listing's, then the last flush's.
              return std::vector<Fault>{
                  Fault(SYS_openat, EIO).Where(2, O_DIRECTORY, O_TMPFILE | O_PATH).OnlyThe(5)};
            },
            0},
        // The flush for the names fails, and so does the folder's own.
        SyscallCase{
            "NamesFlushFails", kUnnamedStaging, true,
            [](const fs::path&) {
              return std::vector<Fault>{Fault(SYS_syncfs, EIO).OnlyThe(2), Fault(SYS_fsync, EIO)};
            },
            0},
        // A full disk or quota, or no descriptor left, while one file is
        // staged: the group in hand takes its names, and the file has a
        // second try alone.
        // (No room for the file rather than for a write: the sanitizers'
        // run-times write too.)
        SyscallCase{"DiskFullOnce", kUnnamedStaging, true,
                    [](const fs::path&) {
                      return std::vector<Fault>{
                          Fault(SYS_openat, ENOSPC).Where(2, O_TMPFILE, O_TMPFILE).OnlyThe(2)};
                    },
                    3},
        SyscallCase{"NoDescriptorLeftOnce", kUnnamedStaging, false,
                    [](const fs::path&) {
                      return std::vector<Fault>{
                          Fault(SYS_openat, EMFILE).Where(2, O_TMPFILE, O_TMPFILE).OnlyThe(2)};
                    },
                    3},
        // A source under a lease (Samba's oplocks, NFS delegations) refuses
        // a non-blocking open until its holder gives it back.
        SyscallCase{
            "SourceUnderALease", kUnnamedStaging, false,
            [](const fs::path&) {
              return std::vector<Fault>{
                  Fault(SYS_openat, EWOULDBLOCK).Where(2, O_NONBLOCK, O_NONBLOCK).OnlyThe(1)};
            },
            3},
        // FAT through FUSE, some shares: no modes, and chmod refused even
        // where it would change nothing.
        SyscallCase{"NoModesToSet", kNamedStaging, true,
                    [](const fs::path&) { return std::vector<Fault>{Fault(SYS_fchmod, ENOSYS)}; },
                    3},
        // Some network file systems and FUSE cannot rename without replacing.
        SyscallCase{"NoRenameWithoutReplacing", kNamedStaging, false,
                    [](const fs::path&) {
                      return std::vector<Fault>{
                          Fault(SYS_renameat2, EINVAL).Where(4, RENAME_NOREPLACE)};
                    },
                    3},
        // Read-only files take the new outputs' names just before they do.
        SyscallCase{
            "ReadOnlyFilesTakeTheNamesMeanwhile", kNamedStaging, false,
            [](const fs::path& dest) {
              return std::vector<Fault>{
                  Fault(SYS_renameat2, 0).Where(4, RENAME_NOREPLACE).OnlyThe(1).Meanwhile([dest] {
                    for (const char* suffix : {"A1", "B2", "C3"}) {
                      const fs::path name = dest / ("CliffNatural0_2x_" + std::string(suffix));
                      WriteFile(name, OldOutput());
                      fs::permissions(name, fs::perms::owner_read | fs::perms::group_read);
                    }
                  })};
            },
            0}),
    [](const auto& test) { return std::string(test.param.name); });

// The clean-up of abandoned staging files opens only a regular file, and
// the one it looked at: a FIFO put at the name just before the open is not
// opened (which would wake a writer waiting on it).
TEST_F(FaultInjection, StagingCleanUpOpensNothingPutAtTheNameAfterItLooked) {
  AddModels();
  fs::create_directory(dest_);
  const fs::path staging = dest_ / ".vendrake-7.tmp";
  WriteFile(staging, {7});
  const fs::path fifo = dest_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, fifo.c_str(), IN_OPEN), 0);
  // The first open that could be of a staging file.
  constexpr std::uint32_t kStagingOpen = O_NONBLOCK | O_NOCTTY;
  testing::SyscallFaults faults({Fault(SYS_openat, 0)
                                     .Where(2, kStagingOpen, kStagingOpen | O_DIRECTORY)
                                     .OnlyThe(1)
                                     .Meanwhile([&] { fs::rename(fifo, staging); })});

  const auto run = RunInChild(
      disk_, [&] { return faults.Install(); }, [&] { faults.Supervise(); });
  if (!run) GTEST_SKIP() << "no seccomp filter here";

  EXPECT_EQ(run->tally, (RunTally{.attempted = 3, .succeeded = 3}));
  EXPECT_EQ(fs::symlink_status(staging).type(), fs::file_type::fifo);
  alignas(inotify_event) char event[sizeof(inotify_event) + NAME_MAX + 1];
  EXPECT_LT(::read(watch, event, sizeof event), 0) << "the FIFO was opened";
  ::close(watch);
}

// Sets or clears the folder's append-only attribute (chattr +a, -a); false
// where that cannot be done (no root, or a file system without it).
bool SetAppendOnly(const fs::path& folder, bool on) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
  done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  ::close(fd);
  return done;
}

class AppendOnlyDestinationTest : public FaultInjection,
                                  public ::testing::WithParamInterface<PosixFileSystem::Staging> {
 protected:
  // Whatever the test found, the folder must go again.
  ~AppendOnlyDestinationTest() override { SetAppendOnly(dest_, false); }
};

// A folder that keeps every name it has takes new names, but no rename over
// an old one, and a staging name given would stay for good.
TEST_P(AppendOnlyDestinationTest, TakesNewOutputsOnlyAndKeepsNoStagingFile) {
  AddModels();
  fs::create_directory(dest_);
  WriteFile(Output(2), OldOutput());
  if (!SetAppendOnly(dest_, true)) GTEST_SKIP() << "cannot make a folder append-only here";
  PosixFileSystem files(GetParam());

  const BatchOutcome outcome = Run(files, dest_);

  // Unnamed staged files take new names by a link; named ones would have to
  // leave their staging names.
  const bool unnamed = GetParam() == PosixFileSystem::Staging::kUnnamedWherePossible;
  ExpectFinished(outcome, 3, unnamed ? 2 : 0);
  EXPECT_THAT(recorder_.events, ::testing::Contains("CliffNatural0_B2 failed at write: file"));
  EXPECT_EQ(ReadFile(Output(2)), OldOutput());
  if (unnamed) {
    EXPECT_EQ(ReadFile(Output(1)), testing::ScaledModel(Shape(1), kFactor));
    EXPECT_THAT(NamesIn(dest_),
                ElementsAre("CliffNatural0_2x_A1", "CliffNatural0_2x_B2", "CliffNatural0_2x_C3"));
  } else {
    EXPECT_THAT(NamesIn(dest_), ElementsAre("CliffNatural0_2x_B2"));
  }
}

INSTANTIATE_TEST_SUITE_P(FaultInjection, AppendOnlyDestinationTest,
                         ::testing::Values(PosixFileSystem::Staging::kUnnamedWherePossible,
                                           PosixFileSystem::Staging::kNamedOnly),
                         [](const auto& test) {
                           return test.param == PosixFileSystem::Staging::kNamedOnly
                                      ? "NamedStaging"
                                      : "UnnamedStaging";
                         });

TEST_F(FaultInjection, ADestinationSwappedMidRunReceivesNothingMore) {
  AddModels();
  fs::create_directory(dest_);
  const fs::path elsewhere = root_.Path() / "Elsewhere";
  const fs::path moved = root_.Path() / "Moved";
  fs::create_directory(elsewhere);
  testing::HookedFileSystem files(disk_);
  files.Before(Hook::kCommit, u"CliffNatural0_2x_B2", [&] {
    fs::rename(dest_, moved);
    fs::create_directory_symlink(elsewhere, dest_);
  });

  ExpectFinished(Run(files, dest_), 3, 3);

  EXPECT_THAT(NamesIn(elsewhere), ::testing::IsEmpty());
  EXPECT_THAT(NamesIn(moved),
              ElementsAre("CliffNatural0_2x_A1", "CliffNatural0_2x_B2", "CliffNatural0_2x_C3"));
}

TEST_F(FaultInjection, ADestinationThatIsALinkWhenTheRunStartsIsFollowed) {
  AddModels();
  const fs::path real = root_.Path() / "Real";
  fs::create_directory(real);
  fs::create_directory_symlink(real, dest_);

  ExpectFinished(Run(disk_, dest_), 3, 3);

  EXPECT_TRUE(fs::is_symlink(dest_));
  EXPECT_THAT(NamesIn(real),
              ElementsAre("CliffNatural0_2x_A1", "CliffNatural0_2x_B2", "CliffNatural0_2x_C3"));
}

TEST_F(FaultInjection, TheNextRunRemovesWhatAKilledRunLeftStaged) {
  AddModels();
  fs::create_directory(dest_);
  WriteFile(Output(1), OldOutput());
  // Killed outright half way through replacing an output; only a named
  // staging file can outlive its process.
  const pid_t child = ::fork();
  if (child == 0) {
    PosixFileSystem named(PosixFileSystem::Staging::kNamedOnly);
    const auto output = named.OpenFolder(testing::FolderText(dest_))
                            ->OpenForReplacing(u"CliffNatural0_2x_A1", 0644);
    output->Write(Bytes(1000, 0x11));
    ::raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  ASSERT_EQ(NamesIn(dest_).size(), 2U) << "the killed run left no staging file to clean up";

  ExpectFinished(Run(disk_, dest_), 3, 3);

  EXPECT_THAT(NamesIn(dest_),
              ElementsAre("CliffNatural0_2x_A1", "CliffNatural0_2x_B2", "CliffNatural0_2x_C3"));
  EXPECT_EQ(ReadFile(Output(1)), testing::ScaledModel(Shape(1), kFactor));
}

// The flushes of the disk (fsync, fdatasync, syncfs, sync) that `run` makes,
// counted by tracing the child process that
// runs it; nothing when this system does not let a process trace its child.
std::optional<int> CountFlushes(const std::function<void()>& run) {
  constexpr int kCannotTrace = 78;
  const pid_t child = ::fork();
  if (child == 0) {
    if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(kCannotTrace);
    ::raise(SIGSTOP);
    run();
    ::_exit(0);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) {
    return std::nullopt;
  }
  ::ptrace(PTRACE_SETOPTIONS, child, nullptr,
           reinterpret_cast<void*>(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
  int flushes = 0;
  int signal = 0;  // one to pass on to the child
  for (;;) {
    ::ptrace(PTRACE_SYSCALL, child, nullptr, reinterpret_cast<void*>(std::intptr_t{signal}));
    signal = 0;
    if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) break;
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      signal = WSTOPSIG(status);
      continue;
    }
    __ptrace_syscall_info info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, child, reinterpret_cast<void*>(sizeof info), &info) > 0 &&
        info.op == PTRACE_SYSCALL_INFO_ENTRY &&
        (info.entry.nr == SYS_fdatasync || info.entry.nr == SYS_fsync ||
         info.entry.nr == SYS_syncfs || info.entry.nr == SYS_sync)) {
      ++flushes;
    }
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) == kCannotTrace) return std::nullopt;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  return flushes;
}

TEST_F(FaultInjection, TheDiskIsFlushedOnceForTheOutputsAndOnceForTheirNames) {
  AddModels();

  const auto into_new_folder = CountFlushes([&] { Run(disk_, dest_); });
  const auto in_place = CountFlushes([&] { Run(disk_, source_); });
  if (!into_new_folder || !in_place) GTEST_SKIP() << "cannot trace a child process here";

  EXPECT_EQ(*into_new_folder, 2);
  EXPECT_EQ(*in_place, 2);
  EXPECT_EQ(ReadFile(Source(2)), testing::ScaledModel(Shape(2), kFactor));
  EXPECT_EQ(ReadFile(Output(2)), testing::ScaledModel(Shape(2), kFactor));
}

// A parent that leaves descriptors open: they are counted before the run
// decides how many outputs it may stage at once, and a file that finds none
// left does not fail every file after it.
TEST_F(FaultInjection, InheritedDescriptorsFailNoFile) {
  constexpr int kModels = 40;
  const Bytes model = tools::MakeModel(Shape(1, 1));
  for (int k = 0; k < kModels; ++k) WriteFile(source_ / ("F_" + std::to_string(k)), model);

  const auto run = RunInChild(disk_, [] {
    const struct rlimit limit = {.rlim_cur = 64, .rlim_max = 64};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    for (int k = 0; k < 40; ++k) {
      if (::open("/dev/null", O_RDONLY) < 0) return false;
    }
    return true;
  });
  if (!run) GTEST_SKIP() << "cannot lower the descriptor limit here";

  EXPECT_EQ(run->tally, (RunTally{.attempted = kModels, .succeeded = kModels}));
  EXPECT_EQ(NamesIn(dest_).size(), std::size_t{kModels});
}

// Each group's flush is one of the whole file system the folder is on, so
// the many groups go to a tmpfs, where that costs nothing, if there is one.
TEST_F(FaultInjection, CountsStayExactOverManyFiles) {
  const std::optional<testing::TemporaryFolder> shm =
      fs::is_directory("/dev/shm") ? std::make_optional<testing::TemporaryFolder>("/dev/shm")
                                   : std::nullopt;
  const fs::path source = (shm ? shm->Path() : root_.Path()) / "Many";
  const fs::path dest = (shm ? shm->Path() : root_.Path()) / "Many_2x";
  fs::create_directory(source);
  // Both counts pass the 16-bit range; the files without "_" are not written.
  constexpr int kWritten = 32770;
  constexpr int kUnnamed = 30;
  const auto tiny = Shape(1, 1);
  const Bytes model = tools::MakeModel(tiny);
  std::vector<std::string> expected;
  for (int k = 0; k < kWritten; ++k) {
    WriteFile(source / ("F_" + std::to_string(k)), model);
    expected.push_back("Many_2x_" + std::to_string(k));
  }
  for (int k = 0; k < kUnnamed; ++k) WriteFile(source / ("readme" + std::to_string(k)), model);
  std::sort(expected.begin(), expected.end());

  ExpectFinished(RunBatch(state_, disk_, testing::FolderText(source), testing::FolderText(dest)),
                 kWritten + kUnnamed, kWritten);

  const std::vector<std::string> outputs = NamesIn(dest);
  EXPECT_EQ(outputs.size(), expected.size());
  EXPECT_TRUE(outputs == expected) << "not exactly one output per named source";
  EXPECT_EQ(ReadFile(dest / "Many_2x_32769"), testing::ScaledModel(tiny, kFactor));
  EXPECT_EQ(NamesIn(source).size(), std::size_t{kWritten + kUnnamed});
}

}  // namespace
}  // namespace vendrake::engine
