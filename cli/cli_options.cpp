#include "cli/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <string_view>

#include "cli/line_escape.h"
#include "cli/run_cli.h"
#include "command/defaults.h"
#include "engine/text_encoding.h"

namespace vendrake::cli {
namespace {

constexpr char kProgram[] = "vendrake-cli: ";

// The arguments after the program's name, last first as CLI11 takes them,
// with "--dest=" (nothing after the "=") split into "--dest" and an empty
// argument, likewise for the other texts. CLI11 reads an empty value after "="
// as no value and takes the next argument instead, so "--dest= --report" would
// write into a folder named "--report". On Windows "/?" asks for the help, as
// it does of the system's own commands.
std::vector<std::string> ReversedArguments(int argc, const char* const* argv) {
  static constexpr std::string_view kTextOptions[] = {"--source", "--dest", "--scale", "--suffix"};
  std::vector<std::string> args;
  bool options_ended = false;
  for (int k = 1; k < argc; ++k) {
    const std::string_view arg = argv[k];
    const std::string_view name = arg.substr(0, arg.size() - (arg.ends_with('=') ? 1 : 0));
    const bool empty_value =
        !options_ended && name.size() < arg.size() &&
        std::find(std::begin(kTextOptions), std::end(kTextOptions), name) != std::end(kTextOptions);
#ifdef _WIN32
    if (!options_ended && arg == "/?") {
      args.emplace_back("--help");
      continue;
    }
#endif
    if (arg == "--") options_ended = true;
    args.emplace_back(empty_value ? name : arg);
    if (empty_value) args.emplace_back();
  }
  std::reverse(args.begin(), args.end());
  return args;
}

// Accepts a count of jobs from 1 to 64 in decimal digits alone; CLI11 puts
// the option's name before the message it gives otherwise.
std::string JobsCountProblem(const std::string& text) {
  std::size_t count = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, count);
  if (error == std::errc{} && stop == end && count >= 1 && count <= 64) return {};
  return text + " is not a whole number from 1 to 64";
}

}  // namespace

std::optional<CliOptions> ParseOptions(int argc, const char* const* argv, std::ostream& out,
                                       std::ostream& err, int& exit_status) {
  CliOptions options;
  options.source = engine::Utf16ToUtf8(command::kDefaultSourceText);
  options.destination = engine::Utf16ToUtf8(command::kDefaultDestinationText);
  options.scale = engine::Utf16ToUtf8(command::kDefaultScaleText);
  CLI::App app{
      "Scales the vertex heights of every terrain cliff model in a folder.\n\n"
      "Each FOLDER given is scaled into a folder of its own beside it, named after it with "
      "the suffix: vendrake-cli -x 2 A B writes A_2x and B_2x. Without FOLDER, --source "
      "and --dest name the one folder and its destination.",
      "vendrake-cli"};
  app.add_option("FOLDER", options.sources, "Folders of the models to scale, each on its own");
  app.add_option("-s,--source", options.source, "Folder of the models to scale")
      ->capture_default_str();
  app.add_option("-d,--dest", options.destination, "Folder to write the scaled models into")
      ->capture_default_str();
  app.add_option("-x,-f,--scale", options.scale, "Factor for every vertex height")
      ->capture_default_str();
  app.add_option("--suffix", options.suffix,
                 "Added to each FOLDER's name to name its destination (default: _<factor>x)");
  app.add_flag("-r,--report", options.report, "Print one line per file before the summary");
  app.add_option("-j,--jobs", options.jobs,
                 "Files read, scaled and staged at once, on as many threads (default: 8, "
                 "whatever the processor count, as the work waits on the disk, not the "
                 "processor, as robocopy's /MT does; 1 for one file at a time)")
      ->check(CLI::Validator(JobsCountProblem, "1 to 64"));
  bool progress = false;
  bool no_progress = false;
  CLI::Option* progress_flag = app.add_flag(
      "--progress", progress,
      "Show the files done, the rate and the time left on standard error as the run goes "
      "(default: on a terminal); with --json, as JSON objects there");
  app.add_flag("--no-progress", no_progress, "Show no progress, even on a terminal")
      ->excludes(progress_flag);
  app.add_flag("--json", options.json,
               "Print one JSON object per file and one per summary (JSON Lines) instead");
  app.add_flag("-n,--dry-run", options.dry_run,
               "Show what a run would do, with the heights before and after; write nothing");
  app.set_version_flag("-V,--version", "vendrake-cli " VENDRAKE_VERSION);
  app.footer(
      "Exit status: 0 when every file was written, 1 when a file failed or a folder gave "
      "none, 2 when an input was rejected, 128+N when stopped by signal N; with several "
      "folders, the worst of them.");
  // A usage error quotes arguments, which may hold anything, even a newline:
  // escaped, the message stays one line.
  app.failure_message([](const CLI::App* /*app*/, const CLI::Error& error) {
    return kProgram + EscapeBytesForLine(error.what()) + "\n" + kProgram +
           "run with --help for more information\n";
  });
  try {
    app.parse(ReversedArguments(argc, argv));
  } catch (const CLI::ParseError& error) {
    exit_status = app.exit(error, out, err) == 0 ? kExitAllWritten : kExitRejected;
    return std::nullopt;
  }
  if (progress || no_progress) options.progress = progress;
  options.source_given = app.count("--source") > 0;
  options.destination_given = app.count("--dest") > 0;
  return options;
}

}  // namespace vendrake::cli
