#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/cli/cli_on_disk.h"
#include "tests/support/scaled_model.h"
#include "tests/support/temporary_folder.h"
#include "tools/synthetic_model.h"

extern char** environ;

namespace vendrake::testing {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;  // the exit status, or minus the signal that killed the program
  std::string out;
  std::string err;
};

std::string TextOf(const fs::path& path) {
  const std::vector<std::uint8_t> bytes = ReadFile(path);
  return {bytes.begin(), bytes.end()};
}

// Starts vendrake-cli with `options` and the standard streams `actions` sets
// up. It starts with the usual signal dispositions and no signal blocked,
// whatever the test runner inherited: a shell starts a background job with
// SIGINT ignored, which the program would keep. With `hangup_ignored` it
// starts with SIGHUP ignored, as nohup starts a program.
pid_t Spawn(const std::vector<std::string>& options, const posix_spawn_file_actions_t& actions,
            bool hangup_ignored = false) {
  std::vector<std::string> args = {VENDRAKE_CLI_PATH};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&signals, signal);
  // A signal ignored here stays ignored in the program; this process ignores
  // SIGHUP only while it starts the program.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction hangup {};
  if (hangup_ignored) {
    sigdelset(&signals, SIGHUP);
    sigaction(SIGHUP, &ignore, &hangup);
  }
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int spawned =
      posix_spawn(&pid, VENDRAKE_CLI_PATH, &actions, &attributes, argv.data(), environ);
  if (hangup_ignored) sigaction(SIGHUP, &hangup, nullptr);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << VENDRAKE_CLI_PATH << ": " << std::strerror(spawned);
    return -1;
  }
  return pid;
}

int WaitForExit(pid_t pid) {
  int wait_status = 0;
  if (pid < 0 || waitpid(pid, &wait_status, 0) != pid) return -1;
  if (WIFSIGNALED(wait_status)) return -WTERMSIG(wait_status);
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

// Where the program's standard output goes, besides a file the test reads.
enum class Output { kFile, kFullDevice, kClosed };

// Runs vendrake-cli with `options`; its standard output and error go to files
// so that neither can block the other. With `file_size_limit`, the program
// starts under that limit (ulimit -f) in bytes.
Result RunProgram(const std::vector<std::string>& options, Output output = Output::kFile,
                  rlim_t file_size_limit = RLIM_INFINITY) {
  const TemporaryFolder capture;
  const std::string out_path = (capture.Path() / "out").string();
  const std::string err_path = (capture.Path() / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output == Output::kFile) {
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  } else if (output == Output::kFullDevice) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_addclose(&actions, 1);
  }
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  // The program inherits the limit; this process has it only while it
  // starts the program, and writes nothing meanwhile.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limited = saved;
  limited.rlim_cur = std::min(file_size_limit, saved.rlim_max);
  setrlimit(RLIMIT_FSIZE, &limited);
  const pid_t pid = Spawn(options, actions);
  setrlimit(RLIMIT_FSIZE, &saved);
  Result result;
  result.status = WaitForExit(pid);
  posix_spawn_file_actions_destroy(&actions);
  if (output == Output::kFile) result.out = TextOf(out_path);
  result.err = TextOf(err_path);
  return result;
}

// vendrake-cli with its standard output into a pipe whose reading end the
// test holds, and its standard error into a file.
class PipedProgram {
 public:
  static constexpr rlim_t kFewDescriptors = 64;

  explicit PipedProgram(const std::vector<std::string>& options, bool hangup_ignored = false) {
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe2: " << std::strerror(errno);
      return;
    }
    reading_ = ends[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    {
      // The program fits its groups of outputs to the descriptors it may
      // hold, so that with few of them it reports files while the run goes
      // on, and fills the pipe long before its end.
      rlimit limit{};
      getrlimit(RLIMIT_NOFILE, &limit);
      const rlimit kept = limit;
      limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, kFewDescriptors);
      setrlimit(RLIMIT_NOFILE, &limit);
      pid_ = Spawn(options, actions, hangup_ignored);
      setrlimit(RLIMIT_NOFILE, &kept);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
  }
  PipedProgram(const PipedProgram&) = delete;
  PipedProgram& operator=(const PipedProgram&) = delete;
  ~PipedProgram() {
    CloseReadingEnd();
    if (pid_ > 0) WaitForExit(pid_);
  }

  pid_t Pid() const { return pid_; }
  int PipeCapacity() const { return fcntl(reading_, F_GETPIPE_SZ); }

  // Waits until the program sleeps in a write to its standard output, which
  // it does once the pipe is full; false if it never does.
  bool WaitUntilBlockedOnThePipe() const {
    return WaitFor([&] {
      return ProcText("stat").find(") S ") != std::string::npos &&
             ProcText("syscall").starts_with(std::to_string(SYS_write) + " 0x1 ");
    });
  }
  // Waits until the program has no handler for `signal`, as once it has taken
  // it where the handler resets itself; false if that never happens.
  bool WaitUntilTaken(int signal) const {
    return WaitFor([&] { return (CaughtSignals() & (1ULL << (signal - 1))) == 0; });
  }

  // Takes the program under this process's trace; false where the system
  // lets no process trace another (Yama's ptrace_scope, a container without
  // CAP_SYS_PTRACE).
  bool Trace() const { return ptrace(PTRACE_SEIZE, pid_, nullptr, nullptr) == 0; }
  // Sends `signal` to the traced program and holds it where it has taken it
  // but not yet run its handler, as a busy machine may leave it for a while:
  // at the handler's first instruction. False if it does not get there.
  bool SendAndHoldAtItsHandler(int signal) const {
    int wait_status = 0;
    const auto stopped_by = [&](int stop) {
      return waitpid(pid_, &wait_status, 0) == pid_ && WIFSTOPPED(wait_status) &&
             WSTOPSIG(wait_status) == stop;
    };
    // Traced, the program stops as the signal comes, and stepping on with
    // the signal enters its handler and stops there.
    return kill(pid_, signal) == 0 && stopped_by(signal) &&
           ptrace(PTRACE_SINGLESTEP, pid_, nullptr, reinterpret_cast<void*>(signal)) == 0 &&
           stopped_by(SIGTRAP);
  }
  // Lets a program held by SendAndHoldAtItsHandler go on, untraced.
  bool Release() const { return ptrace(PTRACE_DETACH, pid_, nullptr, nullptr) == 0; }

  // Reads until the first whole line has come; what came is kept for ReadAll.
  std::string FirstLine() {
    while (read_.find('\n') == std::string::npos && ReadSome()) {
    }
    return read_.substr(0, read_.find('\n'));
  }
  // Everything the program wrote, once it has closed its end.
  std::string ReadAll() {
    while (ReadSome()) {
    }
    return read_;
  }
  void CloseReadingEnd() {
    if (reading_ >= 0) close(std::exchange(reading_, -1));
  }
  int Wait() { return WaitForExit(std::exchange(pid_, -1)); }
  std::string Err() const { return TextOf(ErrPath()); }

 private:
  fs::path ErrPath() const { return capture_.Path() / "err"; }

  std::string ProcText(const char* file) const {
    return TextOf(fs::path("/proc") / std::to_string(pid_) / file);
  }
  // The signals the program has handlers for, bit n - 1 for signal n.
  std::uint64_t CaughtSignals() const {
    const std::string status = ProcText("status");
    const std::size_t at = status.find("SigCgt:");
    return at == std::string::npos ? 0 : std::stoull(status.substr(at + 7), nullptr, 16);
  }
  // Polls `done` for up to half a minute; the waits end in milliseconds as a
  // rule.
  static bool WaitFor(const std::function<bool()>& done) {
    for (int k = 0; k < 3000; ++k) {
      if (done()) return true;
      usleep(10000);
    }
    return false;
  }

  bool ReadSome() {
    char chunk[4096];
    const ssize_t got = read(reading_, chunk, sizeof chunk);
    if (got <= 0) return false;
    read_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  TemporaryFolder capture_;
  int reading_ = -1;
  pid_t pid_ = -1;
  std::string read_;
};

// What vendrake-cli does that only a POSIX host can show: hidden names,
// file names that are no UTF-8, standard streams that fail, and signals. The
// rest is in vendrake_cli_end_to_end_test.cpp, on every platform.
class VendrakeCliPosix : public CliOnDisk {};

// Runs vendrake-cli with its standard error on a terminal (a pseudo-terminal
// the test holds) or, without `terminal`, on a pipe, and gives what came
// there, read as it comes; standard output goes to `out`.
std::string ErrOnTerminalOrPipe(bool terminal, const std::vector<std::string>& options,
                                const fs::path& out) {
  int reading = -1;
  int writing = -1;
  if (terminal) {
    reading = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (reading < 0 || grantpt(reading) != 0 || unlockpt(reading) != 0) {
      ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
      return {};
    }
    writing = open(ptsname(reading), O_RDWR | O_NOCTTY | O_CLOEXEC);
  } else {
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe2: " << std::strerror(errno);
    reading = ends[0];
    writing = ends[1];
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, writing, 2);
  const pid_t pid = Spawn(options, actions);
  posix_spawn_file_actions_destroy(&actions);
  close(writing);
  std::string err;
  char chunk[4096];
  // A terminal's reading end fails with EIO once the program has closed it.
  for (ssize_t got; (got = read(reading, chunk, sizeof chunk)) > 0;) {
    err.append(chunk, static_cast<std::size_t>(got));
  }
  close(reading);
  EXPECT_EQ(WaitForExit(pid), 0);
  return err;
}

// On a terminal, standard error shows how many files are done of how many
// were listed, as one line redrawn in place and erased before the summary;
// on a pipe it shows nothing, and the summary is the same.
TEST_F(VendrakeCliPosix, ShowsTheProgressOnATerminalAndNotOnAPipe) {
  for (int k = 0; k < 40; ++k) {
    WriteFile(source_ / ("rock_" + std::to_string(k)), tools::MakeModel({}));
  }
  const std::vector<std::string> options = {"--source", source_.string(), "--dest", dest_.string()};
  const fs::path out = root_.Path() / "out";

  const std::string on_terminal = ErrOnTerminalOrPipe(true, options, out);
  EXPECT_EQ(TextOf(out), "Attempted model scales: 40. Success count: 40.\n");
  EXPECT_TRUE(on_terminal.starts_with("\r0 of 40 models  0%  0 models/s  -:--:-- left"))
      << on_terminal;
  // Erased at last: spaces over the line, and back to its start.
  ASSERT_TRUE(on_terminal.ends_with('\r')) << on_terminal;
  const std::size_t erased = on_terminal.rfind('\r', on_terminal.size() - 2) + 1;
  const std::string spaces = on_terminal.substr(erased, on_terminal.size() - 1 - erased);
  EXPECT_GT(spaces.size(), 0U);
  EXPECT_EQ(spaces.find_first_not_of(' '), std::string::npos) << on_terminal;
  EXPECT_EQ(ErrOnTerminalOrPipe(false, options, out), "");
  EXPECT_EQ(TextOf(out), "Attempted model scales: 40. Success count: 40.\n");
}

// A hidden destination folder's name, and that name as the warning prints it.
struct HiddenCase {
  const char* folder;
  const char* printed;
};

void PrintTo(const HiddenCase& c, std::ostream* os) { *os << c.printed; }

class VendrakeCliHidden : public VendrakeCliPosix,
                          public ::testing::WithParamInterface<HiddenCase> {};

TEST_P(VendrakeCliHidden, ADestinationNamedWithADotGivesHiddenOutputsAndSaysSo) {
  WriteFile(source_ / "rock_A1", tools::MakeModel({}));
  const fs::path hidden = root_.Path() / GetParam().folder;

  const Result run = RunProgram({"--source", source_.string(), "--dest", hidden.string()});

  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Attempted model scales: 1. Success count: 1.\n");
  EXPECT_EQ(run.err, std::string("vendrake-cli: the outputs are hidden files: their names start "
                                 "with \"") +
                         GetParam().printed + "\", the destination folder's own name\n");
  EXPECT_EQ(NamesIn(hidden), std::vector<std::string>{std::string(GetParam().folder) + "_A1"});
}

INSTANTIATE_TEST_SUITE_P(Destinations, VendrakeCliHidden,
                         ::testing::Values(HiddenCase{".cliffs", ".cliffs"},
                                           HiddenCase{".cl\x1B[2J\niffs", ".cl%1B[2J%0Aiffs"}));

// Names that try to forge lines and drive the terminal, one that folder texts
// cannot hold, POSIX name bytes that are no UTF-8, and a link to nothing,
// which is passed over uncounted.
TEST_F(VendrakeCliPosix, EveryNameGivesExactlyOneEscapedLine) {
  const std::string forged =
      "CliffNatural0_A1\nAttempted model scales: 9. Success count: 9.\x1B[2J";
  WriteFile(source_ / forged, tools::MakeModel({}));
  WriteFile(source_ / "back\\slash_B2", tools::MakeModel({}));
  WriteFile(source_ / "odd_C3\xFF%", tools::MakeModel({}));
  std::filesystem::create_symlink("missing", source_ / "gone\x1B[2J_D4");

  const Result run =
      RunProgram({"--report", "--source", source_.string(), "--dest", dest_.string()});

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  std::vector<std::string> lines = LinesOf(run.out);
  ASSERT_EQ(lines.size(), 5U) << run.out;
  EXPECT_EQ(lines[4], "Attempted model scales: 3. Success count: 2.");
  lines.pop_back();
  std::sort(lines.begin(), lines.end());
  const std::string forged_escaped = "_A1%0AAttempted model scales: 9. Success count: 9.%1B[2J";
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "CliffNatural0" + forged_escaped + " -> " + dest_.string() +
                           "/CliffNatural0_2x" + forged_escaped,
                       "back\\slash_B2: failed: the name holds a \"\\\", which folder texts read "
                       "as a separator",
                       "gone%1B[2J_D4: passed over: it is a link to a file that does not exist",
                       "odd_C3%FF%25 -> " + dest_.string() + "/CliffNatural0_2x_C3%FF%25"}));
  EXPECT_EQ(NamesIn(dest_), (std::vector<std::string>{"CliffNatural0_2x_A1\nAttempted model "
                                                      "scales: 9. Success count: 9.\x1B[2J",
                                                      "CliffNatural0_2x_C3\xFF%"}));
}

// Past the limit, writing raises SIGXFSZ, which would end the program with
// the report and the summary unwritten.
TEST_F(VendrakeCliPosix, AnOutputBeyondTheFileSizeLimitFailsAlone) {
  constexpr rlim_t kLimit = 4096;
  const tools::ModelShape small{.vertex_count = 8, .face_count = 12};
  const tools::ModelShape large{.vertex_count = 400, .face_count = 600};
  ASSERT_LT(tools::MakeModel(small).size(), kLimit);
  ASSERT_GT(tools::MakeModel(large).size(), kLimit);
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel(small));
  WriteFile(source_ / "CliffNatural0_B2", tools::MakeModel(large));

  const Result run =
      RunProgram({"--source", source_.string(), "--dest", dest_.string()}, Output::kFile, kLimit);

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Attempted model scales: 2. Success count: 1.\n");
  EXPECT_EQ(run.err,
            "vendrake-cli: 1 failed, the first is CliffNatural0_B2: cannot write the "
            "output (cannot write " +
                (dest_ / "CliffNatural0_2x_B2").string() +
                ": File too large); --report lists every file\n");
  EXPECT_EQ(NamesIn(dest_), std::vector<std::string>{"CliffNatural0_2x_A1"});
  EXPECT_EQ(ReadFile(dest_ / "CliffNatural0_2x_A1"), ScaledModel(small, 2.0F));
}

// Where the standard output goes that cannot take what is written to it.
struct UnwritableCase {
  const char* name;
  Output output;
  std::vector<std::string> options;  // the folders of the fixture follow
  bool runs;                         // whether the models are scaled
};

void PrintTo(const UnwritableCase& c, std::ostream* os) { *os << c.name; }

class VendrakeCliUnwritable : public VendrakeCliPosix,
                              public ::testing::WithParamInterface<UnwritableCase> {};

TEST_P(VendrakeCliUnwritable, GivesStatusOneAndSaysSo) {
  WriteFile(source_ / "CliffNatural0_A1", tools::MakeModel({}));
  std::vector<std::string> options = GetParam().options;
  if (GetParam().runs) {
    options.insert(options.end(), {"--source", source_.string(), "--dest", dest_.string()});
  }

  const Result run = RunProgram(options, GetParam().output);

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "vendrake-cli: cannot write to standard output\n");
  if (GetParam().runs) {
    EXPECT_EQ(NamesIn(dest_), std::vector<std::string>{"CliffNatural0_2x_A1"});
    EXPECT_EQ(ReadFile(dest_ / "CliffNatural0_2x_A1"), ScaledModel({}, 2.0F));
  }
}

INSTANTIATE_TEST_SUITE_P(
    StandardOutput, VendrakeCliUnwritable,
    ::testing::Values(UnwritableCase{"full disk", Output::kFullDevice, {}, true},
                      UnwritableCase{"full disk, report", Output::kFullDevice, {"--report"}, true},
                      UnwritableCase{"full disk, help", Output::kFullDevice, {"--help"}, false},
                      UnwritableCase{
                          "full disk, version", Output::kFullDevice, {"--version"}, false},
                      UnwritableCase{"closed, report", Output::kClosed, {"--report"}, true}));

// Enough models with names long enough that the report outgrows any pipe
// buffer many times over: while the test holds back reading, the program
// cannot get to the end.
class VendrakeCliPiped : public VendrakeCliPosix {
 protected:
  static constexpr int kFiles = 1000;
  static constexpr std::size_t kLineBytes = 200;  // at least, each line of the report

  VendrakeCliPiped() {
    for (int k = 0; k < kFiles; ++k) {
      WriteFile(source_ / Name(k), tools::MakeModel({.vertex_count = 4, .face_count = 6}));
    }
  }

  static std::string Name(int k) {
    return "CliffNatural0_" + std::string(100, 'x') + "_" + std::to_string(k);
  }

  std::vector<std::string> ReportOptions() const {
    return {"--report", "--source", source_.string(), "--dest", dest_.string()};
  }

  // Whether the report cannot all be in the pipe and the program's own buffer
  // when the test has read one chunk.
  static bool OutgrowsThePipe(const PipedProgram& program) {
    const int capacity = program.PipeCapacity();
    return capacity > 0 && kFiles * kLineBytes > 2 * (static_cast<std::size_t>(capacity) + 8192);
  }
};

TEST_F(VendrakeCliPiped, AClosedPipeDoesNotCutTheRunShort) {
  PipedProgram program(ReportOptions());
  ASSERT_TRUE(OutgrowsThePipe(program));
  EXPECT_NE(program.FirstLine(), "");
  program.CloseReadingEnd();

  EXPECT_EQ(program.Wait(), 1);
  EXPECT_EQ(program.Err(), "vendrake-cli: cannot write to standard output\n");
  EXPECT_EQ(NamesIn(dest_).size(), static_cast<std::size_t>(kFiles));
  EXPECT_EQ(ReadFile(dest_ / ("CliffNatural0_2x_" + std::string(100, 'x') + "_999")),
            ScaledModel({.vertex_count = 4, .face_count = 6}, 2.0F));
}

struct SignalCase {
  const char* name;
  std::vector<int> signals;  // any after the first come as the first is taken
  bool hangup_ignored;       // the program starts with SIGHUP ignored, as under nohup
  int status;                // or minus the signal that ended the program
  std::string err;
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class VendrakeCliSignal : public VendrakeCliPiped,
                          public ::testing::WithParamInterface<SignalCase> {};

// The signals come while the program waits for room in the full pipe, where
// a write could break off or a handler could be left in place.
TEST_P(VendrakeCliSignal, StopsBetweenFilesWithTheSummarySoFar) {
  PipedProgram program(ReportOptions(), GetParam().hangup_ignored);
  ASSERT_TRUE(OutgrowsThePipe(program));
  ASSERT_TRUE(program.WaitUntilBlockedOnThePipe());
  // Any later signal comes once the program has taken the first but not yet
  // run its handler, which on a busy machine may last a while: the later one
  // must neither go to another thread nor break into that handler.
  const std::vector<int>& signals = GetParam().signals;
  if (signals.size() == 1) {
    ASSERT_EQ(kill(program.Pid(), signals.front()), 0);
  } else {
    if (!program.Trace()) GTEST_SKIP() << "no tracing here: " << std::strerror(errno);
    ASSERT_TRUE(program.SendAndHoldAtItsHandler(signals.front())) << std::strerror(errno);
    for (std::size_t k = 1; k < signals.size(); ++k) ASSERT_EQ(kill(program.Pid(), signals[k]), 0);
    ASSERT_TRUE(program.Release()) << std::strerror(errno);
  }
  // Nothing is read before the program has taken each signal: room in the
  // pipe would let the write go on before the signal could break it off.
  for (const int signal : signals) ASSERT_TRUE(program.WaitUntilTaken(signal));

  const std::vector<std::string> lines = LinesOf(program.ReadAll());
  EXPECT_EQ(program.Wait(), GetParam().status);
  EXPECT_EQ(program.Err(), GetParam().err);
  // Every file tried was written whole, and nothing else was left behind.
  const std::vector<std::string> names = NamesIn(dest_);
  for (const std::string& name : names) {
    EXPECT_EQ(ReadFile(dest_ / name), ScaledModel({.vertex_count = 4, .face_count = 6}, 2.0F))
        << name;
  }
  if (GetParam().status < 0) return;  // ended at once: no summary
  ASSERT_GE(lines.size(), 2U);
  const std::size_t written = lines.size() - 1;
  EXPECT_EQ(lines.back(), "Attempted model scales: " + std::to_string(written) +
                              ". Success count: " + std::to_string(written) + ".");
  EXPECT_EQ(names.size(), written);
  if (GetParam().status == 0) {
    EXPECT_EQ(written, static_cast<std::size_t>(kFiles));
  } else {
    EXPECT_LT(written, static_cast<std::size_t>(kFiles));
  }
}

std::string Interrupted(const char* signal) {
  return std::string("vendrake-cli: interrupted by ") + signal +
         " before the end of the source folder\n";
}

INSTANTIATE_TEST_SUITE_P(
    Signals, VendrakeCliSignal,
    ::testing::Values(
        SignalCase{"SIGINT", {SIGINT}, false, 130, Interrupted("SIGINT")},
        SignalCase{"SIGTERM", {SIGTERM}, false, 143, Interrupted("SIGTERM")},
        SignalCase{"SIGHUP", {SIGHUP}, false, 129, Interrupted("SIGHUP")},
        // The first signal names the status.
        SignalCase{"SIGTERM, then SIGINT", {SIGTERM, SIGINT}, false, 143, Interrupted("SIGTERM")},
        SignalCase{"SIGINT twice", {SIGINT, SIGINT}, false, -SIGINT, ""},
        SignalCase{"SIGHUP under nohup", {SIGHUP}, true, 0, ""}));

}  // namespace
}  // namespace vendrake::testing
