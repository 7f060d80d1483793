#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace vendrake::testing {

// One system call made to fail, or held up, in a process that installs it,
// as a kernel, a file system or a disk would have it.
struct SyscallFault {
  // Every call of `call` (SYS_linkat, SYS_close...) fails with `fails_with`;
  // with 0, the call goes on.
  SyscallFault(long call, int fails_with) : number(call), error(fails_with) {}
  // Only calls whose argument `index` (from 0), in its low 32 bits and under
  // the mask `under`, `equals` a value.
  SyscallFault& Where(int index, std::uint32_t equals, std::uint32_t under = ~std::uint32_t{0}) {
    argument = index;
    value = equals;
    mask = under;
    return *this;
  }
  // Only the `n`th (from 1) of the calls that match.
  SyscallFault& OnlyThe(int n) {
    nth = n;
    return *this;
  }
  // Runs `then` in the process that made the filter, while the call it
  // concerns waits, just before the call fails or goes on.
  SyscallFault& Meanwhile(std::function<void()> then) {
    action = std::move(then);
    return *this;
  }

  long number;
  int error;
  std::optional<int> argument;
  std::uint32_t mask = ~std::uint32_t{0};
  std::uint32_t value = 0;
  int nth = 0;  // 0: every call that matches
  std::function<void()> action;
};

// A seccomp filter that makes the calls `faults` describe fail with their
// errno. A fault that counts calls or takes an action needs the process
// that made the filter to answer for it (SECCOMP_RET_USER_NOTIF): the filter
// is installed in a child process, and this process answers on a thread of
// its own. Use: fork; in the child, Install(); in this process, Supervise().
class SyscallFaults {
 public:
  explicit SyscallFaults(std::vector<SyscallFault> faults);
  SyscallFaults(const SyscallFaults&) = delete;
  SyscallFaults& operator=(const SyscallFaults&) = delete;
  // Waits until the child that installed the filter is gone.
  ~SyscallFaults();

  // In the child: installs the filter for the calling thread and those it
  // starts; false when the system refuses it (no seccomp here).
  bool Install();
  // In this process, once the child runs: answers its held calls until it
  // ends.
  void Supervise();
  // Once the child has ended: how many of its calls matched the `k`th fault
  // (from 0), counting only faults that count calls.
  int CallsMatched(std::size_t k);

 private:
  bool NeedsAnswers() const;
  void Answer(int listener);

  std::vector<SyscallFault> faults_;
  std::vector<int> calls_;  // matching calls so far, per fault
  int channel_[2] = {-1, -1};
  std::thread answering_;
};

}  // namespace vendrake::testing
