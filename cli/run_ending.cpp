#include "cli/run_ending.h"

#include <csignal>
#include <cstdint>

#include "cli/line_escape.h"
#include "engine/native_path.h"
#include "engine/output_naming.h"
#include "engine/text_encoding.h"

namespace vendrake::cli {
namespace {

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
#ifdef SIGHUP
    case SIGHUP:
      return "SIGHUP";
#endif
#ifdef SIGBREAK
    case SIGBREAK:  // Ctrl+Break, on Windows
      return "SIGBREAK";
#endif
    default:
      return "signal " + std::to_string(signal);
  }
}

}  // namespace

void PrintCause(std::ostream& err, const std::string& prefix, const command::ScaleOutcome& outcome,
                const std::u16string& source, const RunWatch& watch, bool report,
                const StopRequest* stop) {
  using Kind = command::ScaleOutcome::Kind;
  if (outcome.kind == Kind::kSourceEmpty) {
    if (outcome.listing_error.empty()) {
      err << prefix << engine::Utf16ToUtf8(EscapeForLine(engine::DisplayPath(source)))
          << " holds no normal file (folders and hidden files are not scaled)\n";
    } else {
      err << prefix << "the source folder cannot be read ("
          << EscapeBytesForLine(outcome.listing_error) << ")\n";
    }
    return;
  }
  if (outcome.kind != Kind::kFinished) return;
  if (!outcome.flush_error.empty()) {
    err << prefix << "the disk did not confirm the names some outputs took, which count as failed ("
        << EscapeBytesForLine(outcome.flush_error) << ")\n";
  }
  if (!outcome.listing_error.empty()) {
    err << prefix << "the listing of the source folder broke off, later files were not tried ("
        << EscapeBytesForLine(outcome.listing_error) << ")\n";
  }
  if (outcome.out_of_memory) {
    err << prefix << "out of memory, later files were not tried\n";
  }
  if (outcome.interrupted) {
    err << prefix << "interrupted by " << SignalName(stop->signal.load())
        << " before the end of the source folder\n";
  }
  const std::int64_t failed = outcome.tally.attempted - outcome.tally.succeeded;
  if (failed > 0 && !report) {
    err << prefix << failed << " failed";
    // Empty when memory ran out as the failure was noted.
    if (!watch.FirstFailure().empty()) {
      err << ", the first is " << engine::Utf16ToUtf8(watch.FirstFailure());
    }
    err << "; --report lists every file\n";
  }
  if (watch.Replaced() > 0) {
    err << prefix << watch.Replaced() << (watch.Replaced() == 1 ? " output was" : " outputs were")
        << " replaced by a later file's output of the same name"
        // The report, in lines or JSON, names them already.
        << (report ? "\n" : "; --report names them\n");
  }
}

// Outputs named after a destination whose own name starts with "." (".\"
// itself, or a hidden folder) are hidden files.
void PrintIfOutputsAreHidden(std::ostream& err, const std::string& prefix,
                             const command::ScaleOutcome& outcome, const engine::WindowState& state,
                             const engine::FileSystem& files) {
  if (outcome.kind != command::ScaleOutcome::Kind::kFinished || outcome.tally.succeeded == 0) {
    return;
  }
  const std::u16string base = engine::OutputName(state.DestBaseName, u"");
  if (!files.HidesByName(base)) return;
  err << prefix << "the outputs are hidden files: their names start with \""
      << engine::Utf16ToUtf8(EscapeForLine(base)) << "\", the destination folder's own name\n";
}

int ExitStatusFor(const command::ScaleOutcome& outcome, const StopRequest* stop) {
  switch (outcome.kind) {
    case command::ScaleOutcome::Kind::kRejected:
      return kExitRejected;
    case command::ScaleOutcome::Kind::kSourceEmpty:
      return kExitSomeFailed;
    case command::ScaleOutcome::Kind::kFinished:
      break;
  }
  if (outcome.interrupted) return kExitSignalBase + stop->signal.load();
  if (!outcome.listing_error.empty() || !outcome.flush_error.empty() || outcome.out_of_memory) {
    return kExitSomeFailed;
  }
  return outcome.tally.succeeded == outcome.tally.attempted ? kExitAllWritten : kExitSomeFailed;
}

}  // namespace vendrake::cli
