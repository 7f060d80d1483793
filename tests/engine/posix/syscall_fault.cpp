#include "tests/engine/posix/syscall_fault.h"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

namespace vendrake::testing {
namespace {

#if defined(__x86_64__)
constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t kArch = 0;  // no filter is made for other machines
#endif

// Where the low 32 bits of an argument lie in seccomp_data.
std::uint32_t ArgumentOffset(int argument) {
  std::uint32_t offset = offsetof(seccomp_data, args) + 8 * static_cast<std::uint32_t>(argument);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  offset += 4;
#endif
  return offset;
}

bool Counted(const SyscallFault& fault) { return fault.nth != 0 || fault.action != nullptr; }

bool Matches(const SyscallFault& fault, const seccomp_data& call) {
  if (call.nr != fault.number) return false;
  if (!fault.argument) return true;
  const auto low = static_cast<std::uint32_t>(call.args[*fault.argument]);
  return (low & fault.mask) == fault.value;
}

std::vector<sock_filter> FilterFor(const std::vector<SyscallFault>& faults) {
  std::vector<sock_filter> program = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  for (const SyscallFault& fault : faults) {
    const std::uint32_t result =
        Counted(fault)
            ? SECCOMP_RET_USER_NOTIF
            : SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(fault.error) & SECCOMP_RET_DATA);
    // Skips to the next fault's check when the call is another one.
    const unsigned char skip = fault.argument ? 4 : 1;
    program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    program.push_back(
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(fault.number), 0, skip));
    if (fault.argument) {
      program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, ArgumentOffset(*fault.argument)));
      program.push_back(BPF_STMT(BPF_ALU | BPF_AND | BPF_K, fault.mask));
      program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, fault.value, 0, 1));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, result));
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  return program;
}

void SendDescriptor(int socket, int fd) {
  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
  ::sendmsg(socket, &message, 0);
}

// The descriptor the child sent, or -1 when it sent none.
int ReceiveDescriptor(int socket) {
  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  if (::recvmsg(socket, &message, MSG_CMSG_CLOEXEC) <= 0) return -1;
  const cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (header == nullptr || header->cmsg_type != SCM_RIGHTS) return -1;
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(header), sizeof(int));
  return fd;
}

}  // namespace

SyscallFaults::SyscallFaults(std::vector<SyscallFault> faults)
    : faults_(std::move(faults)), calls_(faults_.size(), 0) {
  if (NeedsAnswers()) ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel_);
}

SyscallFaults::~SyscallFaults() {
  if (answering_.joinable()) answering_.join();
  for (const int fd : channel_) {
    if (fd >= 0) ::close(fd);
  }
}

bool SyscallFaults::NeedsAnswers() const {
  for (const SyscallFault& fault : faults_) {
    if (Counted(fault)) return true;
  }
  return false;
}

bool SyscallFaults::Install() {
  if (kArch == 0 || (NeedsAnswers() && channel_[1] < 0)) return false;
  std::vector<sock_filter> program = FilterFor(faults_);
  const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  const unsigned flags = NeedsAnswers() ? SECCOMP_FILTER_FLAG_NEW_LISTENER : 0;
  const long listener = ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, flags, &filter);
  if (listener < 0) return false;
  if (NeedsAnswers()) {
    SendDescriptor(channel_[1], static_cast<int>(listener));
    ::close(static_cast<int>(listener));
  }
  return true;
}

void SyscallFaults::Supervise() {
  if (!NeedsAnswers()) return;
  // Only the child's end stays open, so that a child that never sends the
  // listener ends the wait for it.
  ::close(std::exchange(channel_[1], -1));
  answering_ = std::thread([this] {
    const int listener = ReceiveDescriptor(channel_[0]);
    if (listener < 0) return;
    Answer(listener);
    ::close(listener);
  });
}

int SyscallFaults::CallsMatched(std::size_t k) {
  if (answering_.joinable()) answering_.join();
  return calls_.at(k);
}

void SyscallFaults::Answer(int listener) {
  for (;;) {
    pollfd ready{listener, POLLIN, 0};
    if (::poll(&ready, 1, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    // POLLHUP alone: no process is left that the filter applies to.
    if ((ready.revents & POLLIN) == 0) return;
    seccomp_notif call{};
    if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &call) != 0) {
      if (errno == EINTR || errno == ENOENT) continue;
      return;
    }
    seccomp_notif_resp answer{};
    answer.id = call.id;
    answer.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    for (std::size_t k = 0; k < faults_.size(); ++k) {
      const SyscallFault& fault = faults_[k];
      if (!Matches(fault, call.data)) continue;
      if (fault.nth == 0 || ++calls_[k] == fault.nth) {
        if (fault.action) fault.action();
        if (fault.error != 0) {
          answer.flags = 0;
          answer.error = -fault.error;
        }
      }
      break;
    }
    // ENOENT: the call was given up meanwhile (a signal); nothing to answer.
    ::ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &answer);
  }
}

}  // namespace vendrake::testing
