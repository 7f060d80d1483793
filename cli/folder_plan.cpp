#include "cli/folder_plan.h"

#include "cli/file_report.h"
#include "cli/line_escape.h"
#include "command/scale_text.h"
#include "engine/text_encoding.h"

namespace vendrake::cli {
namespace {

bool IsSeparator(char16_t unit) { return unit == u'/' || unit == u'\\'; }

std::u16string DefaultSuffix(const std::string& scale) {
  const command::ParsedScale parsed = command::ParseScaleText(engine::Utf8ToUtf16(scale));
  // A factor the command rejects stops the run before any folder is made.
  if (parsed.kind != command::ParsedScale::Kind::kValue) return u"_x";
  // Appended in steps: GCC 12 takes u"_" + text for an overlapping copy.
  std::u16string suffix(1, u'_');
  suffix.append(engine::Utf8ToUtf16(ShortestText(parsed.value)));
  suffix.push_back(u'x');
  return suffix;
}

// `folder` without its final separators, followed by `suffix`: the folder
// beside it. A folder whose last name is none ("." or "..", a root, a drive)
// gives nothing to name one after.
std::u16string Beside(const std::u16string& folder, const std::u16string& suffix) {
  std::size_t end = folder.size();
  while (end > 0 && IsSeparator(folder[end - 1])) --end;
  std::size_t start = end;
  while (start > 0 && !IsSeparator(folder[start - 1])) --start;
  const std::u16string_view name = std::u16string_view(folder).substr(start, end - start);
  if (name.empty() || name == u"." || name == u".." || name.ends_with(u':')) {
    throw UsageError("no destination can be named after \"" +
                     engine::Utf16ToUtf8(EscapeForLine(folder)) + "\"; give it with --dest");
  }
  return folder.substr(0, end) + suffix;
}

// A folder given as a folder text the command takes: one shorter than the
// window's check allows ("A", "AB") is named through the current folder
// (".\A"), which is the same folder. Only a name relative to the current
// folder can be that short, apart from a root or a drive, which stay as
// they are for the command to reject.
std::u16string AsFolderText(std::u16string text) {
  constexpr std::size_t kShortest = 3;
  if (text.empty() || text.size() >= kShortest || IsSeparator(text.front()) ||
      text.find(u':') != std::u16string::npos) {
    return text;
  }
  return u".\\" + text;
}

}  // namespace

std::vector<FolderJob> PlanFolders(const CliOptions& options) {
  if (options.destination_given && options.suffix) {
    throw UsageError("--dest and --suffix both name the destination; give one of them");
  }
  const std::u16string suffix =
      options.suffix ? engine::Utf8ToUtf16(*options.suffix) : DefaultSuffix(options.scale);
  if (options.sources.empty()) {
    const std::u16string source = engine::Utf8ToUtf16(options.source);
    const std::u16string destination =
        options.suffix ? Beside(source, suffix) : engine::Utf8ToUtf16(options.destination);
    return {{source, AsFolderText(source), AsFolderText(destination)}};
  }
  if (options.source_given) {
    throw UsageError("give the folders either as arguments or with --source, not both");
  }
  if (options.destination_given && options.sources.size() > 1) {
    throw UsageError(
        "--dest names the destination of one folder; several each go beside themselves "
        "(see --suffix)");
  }
  std::vector<FolderJob> jobs;
  for (const std::string& text : options.sources) {
    const std::u16string source = engine::Utf8ToUtf16(text);
    jobs.push_back(
        {source, AsFolderText(source),
         AsFolderText(options.destination_given ? engine::Utf8ToUtf16(options.destination)
                                                : Beside(source, suffix))});
  }
  return jobs;
}

}  // namespace vendrake::cli
