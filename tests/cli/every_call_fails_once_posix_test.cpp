// Fails the K-th system call of one kind, for every K of a run (or a sample
// of them, where a run makes many), with each error the call's manual page
// gives among EIO, ENOSPC, EDQUOT, EMFILE, EINTR and EACCES, in runs of one
// job and of four, and checks after each run what must hold however it ended.
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/platform/platform_file_system.h"
#include "tests/cli/call_sweep.h"
#include "tests/engine/posix/child_report.h"
#include "tests/engine/posix/syscall_fault.h"
#include "tests/support/temporary_folder.h"

namespace vendrake::testing {
namespace {

namespace fs = std::filesystem;

struct CallKind {
  const char* name;
  long number;
  std::vector<int> errors;
};

void PrintTo(const CallKind& kind, std::ostream* out) { *out << kind.name; }

// Runs vendrake-cli's whole program in a child process under `faults`.
// Empty when the child could not install them.
std::optional<SweepRun> RunInChild(SyscallFaults& faults,
                                   const std::vector<std::string>& arguments) {
  const auto report =
      ReportOfChild([&] { return faults.Install(); },
                    [&] {
                      const auto files = engine::MakePlatformFileSystem();
                      const SweepRun run = CallSweep::RunHere(arguments, *files);
                      return std::to_string(run.status) + " " + std::to_string(run.out.size()) +
                             " " + std::to_string(run.err.size()) + "\n" + run.out + run.err;
                    },
                    [&] { faults.Supervise(); });
  if (!report) return std::nullopt;
  SweepRun run;
  const std::size_t line_end = report->find('\n');
  std::size_t out_size = 0;
  std::size_t err_size = 0;
  if (line_end == std::string::npos ||
      std::sscanf(report->c_str(), "%d %zu %zu", &run.status, &out_size, &err_size) != 3 ||
      report->size() != line_end + 1 + out_size + err_size) {
    ADD_FAILURE() << "the child's report is cut short";
    return run;
  }
  run.out = report->substr(line_end + 1, out_size);
  run.err = report->substr(line_end + 1 + out_size);
  return run;
}

// The most calls of one kind, error and job count that one test run fails;
// beyond that the calls are sampled.
constexpr int kCallsPerRow = 24;

class EveryCallFailsOnce : public ::testing::TestWithParam<CallKind> {};

TEST_P(EveryCallFailsOnce, LeavesEachFileWholeAndTellsTheRunAsItWent) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "the sweep of every system call runs as root, as CI runs it";
  }
  const std::optional<TemporaryFolder> shm =
      fs::is_directory("/dev/shm") ? std::make_optional<TemporaryFolder>("/dev/shm") : std::nullopt;
  // On a tmpfs where there is one, as each run flushes its file system twice.
  const TemporaryFolder root(shm ? shm->Path() : fs::temp_directory_path());
  const CallSweep sweep(root.Path());
  std::mt19937 random(SweepSeed());
  const CallKind& kind = GetParam();
  int runs = 0;
  for (const int jobs : {1, 4}) {
    const std::vector<std::string> arguments = sweep.Arguments(jobs);
    // A run that fails nothing, counting the calls.
    sweep.Reset();
    SyscallFaults counted({SyscallFault(kind.number, 0).OnlyThe(INT_MAX)});
    const auto reference = RunInChild(counted, arguments);
    if (!reference) GTEST_SKIP() << "no seccomp filter here";
    sweep.ExpectClean(*reference);
    const int calls = counted.CallsMatched(0);
    if (::testing::Test::HasFailure()) return;
    for (const int error : kind.errors) {
      for (const int k : CallsToFail(calls, kCallsPerRow, random)) {
        SCOPED_TRACE(std::string(kind.name) + " fails with " + std::strerror(error) + " at call " +
                     std::to_string(k) + " of " + std::to_string(calls) + ", with " +
                     std::to_string(jobs) + " jobs");
        sweep.Reset();
        SyscallFaults faults({SyscallFault(kind.number, error).OnlyThe(k)});
        const auto run = RunInChild(faults, arguments);
        ASSERT_TRUE(run.has_value());
        sweep.ExpectInvariants(*run);
        ++runs;
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  std::cout << kind.name << ": " << runs << " runs, each failing one call\n";
}

// The calls a run makes on its files and folders, each with the errors its
// manual page gives among those above (getdents64's page gives none of
// them, but network and FUSE file systems fail a listing with EIO). fcntl
// is only asked for flags here, which fail with none of them.
std::vector<CallKind> CallsOfARun() {
  return {
      {"openat", SYS_openat, {EACCES, EDQUOT, EINTR, EMFILE, ENOSPC}},
      {"read", SYS_read, {EIO, EINTR}},
      {"write", SYS_write, {EIO, ENOSPC, EDQUOT, EINTR}},
      {"close", SYS_close, {EIO, EINTR, ENOSPC, EDQUOT}},
      {"newfstatat", SYS_newfstatat, {EACCES}},
      {"statx", SYS_statx, {EACCES}},
      {"getdents64", SYS_getdents64, {EIO}},
#ifdef SYS_mkdir  // machines without it have mkdir() make mkdirat
      {"mkdir", SYS_mkdir, {EACCES, EDQUOT, ENOSPC}},
#else
      {"mkdirat", SYS_mkdirat, {EACCES, EDQUOT, ENOSPC}},
#endif
      {"linkat", SYS_linkat, {EACCES, EDQUOT, EIO, ENOSPC}},
#ifdef SYS_renameat  // as for mkdir, renameat2 stands in where it is missing
      {"renameat", SYS_renameat, {EACCES, EDQUOT, ENOSPC}},
#else
      {"renameat2", SYS_renameat2, {EACCES, EDQUOT, ENOSPC}},
#endif
      {"faccessat2", SYS_faccessat2, {EACCES, EIO}},
      {"flock", SYS_flock, {EINTR}},
      {"sync_file_range", SYS_sync_file_range, {EIO, ENOSPC}},
      {"syncfs", SYS_syncfs, {EIO, ENOSPC, EDQUOT}},
  };
}

INSTANTIATE_TEST_SUITE_P(Posix, EveryCallFailsOnce, ::testing::ValuesIn(CallsOfARun()),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace vendrake::testing
