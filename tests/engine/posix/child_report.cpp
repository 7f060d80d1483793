#include "tests/engine/posix/child_report.h"

#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

namespace vendrake::testing {
namespace {

constexpr int kCannotPrepare = 77;

[[noreturn]] void SendAndExit(int to, const std::string& report) {
  for (std::size_t done = 0; done < report.size();) {
    iovec part{const_cast<char*>(report.data() + done), report.size() - done};
    const ssize_t put = ::writev(to, &part, 1);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) ::_exit(1);
    done += static_cast<std::size_t>(put);
  }
  ::_exit(0);
}

}  // namespace

std::optional<std::string> ReportOfChild(const std::function<bool()>& prepare,
                                         const std::function<std::string()>& body,
                                         const std::function<void()>& started) {
  int ends[2];
  if (::pipe(ends) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    if (!prepare()) ::_exit(kCannotPrepare);
    SendAndExit(ends[1], body());
  }
  ::close(ends[1]);
  if (child > 0 && started) started();
  std::string report;
  char buffer[8192];
  for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
    report.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(ends[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return std::nullopt;
  if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotPrepare) return std::nullopt;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the child did not end normally: wait status " << status;
  return report;
}

}  // namespace vendrake::testing
