#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "engine/text_encoding.h"
#include "tests/support/temporary_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>

extern char** environ;
#endif

namespace vendrake::testing {
namespace {

namespace fs = std::filesystem;

std::string TextOf(const fs::path& path) {
  const std::vector<std::uint8_t> bytes = ReadFile(path);
  return {bytes.begin(), bytes.end()};
}

#ifdef _WIN32

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = engine::Utf8ToUtf16(utf8);
  return {text.begin(), text.end()};
}

// One argument as the C run-time's parser reads it back: quoted when it holds
// a blank or a quote or is empty, with backslashes doubled only before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (const wchar_t unit : argument) {
    if (unit == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(unit == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line += unit;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

// A handle the child inherits, closed when this goes.
class InheritedHandle {
 public:
  InheritedHandle(const fs::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    handle_ = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  InheritedHandle(const InheritedHandle&) = delete;
  InheritedHandle& operator=(const InheritedHandle&) = delete;
  ~InheritedHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

int Run(const std::string& program, const std::vector<std::string>& arguments,
        const fs::path& out_path, const fs::path& err_path) {
  const std::wstring program_path = Wide(program);
  std::wstring line;
  AppendQuoted(line, program_path);
  for (const std::string& argument : arguments) {
    line += L' ';
    AppendQuoted(line, Wide(argument));
  }
  const InheritedHandle in(L"NUL", GENERIC_READ, OPEN_EXISTING);
  const InheritedHandle out(out_path, GENERIC_WRITE, CREATE_ALWAYS);
  const InheritedHandle err(err_path, GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in.Get();
  startup.hStdOutput = out.Get();
  startup.hStdError = err.Get();
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program_path.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << program << ": error " << GetLastError();
    return -1;
  }
  CloseHandle(process.hThread);
  DWORD exit_code = 0;
  const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  return ended ? static_cast<int>(exit_code) : -1;
}

#else

int Run(const std::string& program, const std::vector<std::string>& arguments,
        const fs::path& out_path, const fs::path& err_path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> args = {program};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(spawned);
    return -1;
  }
  int wait_status = 0;
  if (waitpid(pid, &wait_status, 0) == pid && WIFEXITED(wait_status)) {
    return WEXITSTATUS(wait_status);
  }
  return -1;
}

#endif

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments) {
  const TemporaryFolder capture;
  const fs::path out_path = capture.Path() / "out";
  const fs::path err_path = capture.Path() / "err";
  ProcessResult result;
  result.status = Run(program, arguments, out_path, err_path);
  if (fs::exists(out_path)) result.out = TextOf(out_path);
  if (fs::exists(err_path)) result.err = TextOf(err_path);
  return result;
}

}  // namespace vendrake::testing
