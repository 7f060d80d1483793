#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/file_system.h"

namespace vendrake::testing {

// How a run of vendrake-cli ended, as RunCli told it.
struct SweepRun {
  int status = -1;
  std::string out;  // JSON Lines, one object per file and the summary
  std::string err;
};

// The folders of a sweep that fails one system call at a time: a source of
// kFiles models that no run may change, and a destination that each run
// starts afresh, holding an older output for every third model, so that
// "the old file" is there to keep.
class CallSweep {
 public:
  static constexpr int kFiles = 20;

  explicit CallSweep(const std::filesystem::path& base);

  // The command line of a run with `jobs` threads, program name first.
  std::vector<std::string> Arguments(int jobs) const;
  // Empties the destination and puts the older outputs back.
  void Reset() const;
  // vendrake-cli's whole program over `files`, in this process.
  static SweepRun RunHere(const std::vector<std::string>& arguments, engine::FileSystem& files);
  // Checks what a run must leave however a call failed: every source as it
  // was; every output absent, or the older file or the new one whole; the
  // files reported written exactly those whose new output took its name; a
  // summary and an exit status that tell no failure as a success; and no
  // staging file left.
  void ExpectInvariants(const SweepRun& run) const;
  // ExpectInvariants, and every file written.
  void ExpectClean(const SweepRun& run) const;

 private:
  std::filesystem::path Source(int k) const;
  std::filesystem::path Output(int k) const;
  static bool HasOlderOutput(int k) { return k % 3 == 0; }

  std::filesystem::path source_;
  std::filesystem::path destination_;
  std::vector<std::filesystem::file_time_type> source_times_;
};

// The seed of the sweep's sampling: VENDRAKE_SWEEP_SEED when set, otherwise a
// fresh one. Printed either way, so that a failing sample can be run again.
std::uint32_t SweepSeed();

// Which of calls 1 to `calls` to fail: every one while there are at most
// `limit`; otherwise the first, the last, and others drawn by `random` up to
// `limit` in all. In increasing order. VENDRAKE_SWEEP_ALL=1 tries every one.
std::vector<int> CallsToFail(int calls, int limit, std::mt19937& random);

}  // namespace vendrake::testing
