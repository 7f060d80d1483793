#include "cli/json_report.h"

#include <charconv>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/file_report.h"
#include "cli/line_escape.h"
#include "engine/native_path.h"
#include "engine/text_encoding.h"

namespace vendrake::cli {
namespace {

using nlohmann::json;

// As FileReport prints it; escaping leaves no invalid UTF-8 to refuse.
std::string Escaped(std::u16string_view text) { return engine::Utf16ToUtf8(EscapeForLine(text)); }

std::string EscapedPath(std::u16string_view path) { return Escaped(engine::DisplayPath(path)); }

json FileObject(std::u16string_view entry, const char* status) {
  return {{"type", "file"}, {"name", Escaped(entry)}, {"status", status}};
}

// A single as JSON's double that prints in the single's fewest digits
// (1.5, not 1.5000000596...), as the text summary gives it.
double AsPrinted(float value) {
  const std::string text = ShortestText(value);
  double number = value;
  std::from_chars(text.data(), text.data() + text.size(), number);
  return number;
}

json RangeObject(const HeightRange& range) {
  return {{"least", AsPrinted(range.least)}, {"most", AsPrinted(range.most)}};
}

void PrintLine(std::ostream& out, const json& object) { out << object.dump() << '\n'; }

}  // namespace

void JsonReport::Written(std::u16string_view entry, std::u16string_view output_path,
                         std::u16string_view replaced) {
  json object = FileObject(entry, "written");
  object["output"] = EscapedPath(output_path);
  if (!replaced.empty()) object["replaces"] = Escaped(replaced);
  PrintLine(out_, object);
}

void JsonReport::Failed(std::u16string_view entry, engine::BatchStep step,
                        const engine::Error& error) {
  json object = FileObject(entry, "failed");
  object["reason"] = engine::Utf16ToUtf8(FailureText(entry, step, error));
  PrintLine(out_, object);
}

void JsonReport::PassedOver(std::u16string_view entry, std::string_view reason) {
  json object = FileObject(entry, "passed over");
  object["reason"] = std::string(reason);
  PrintLine(out_, object);
}

void JsonReport::Summary(const FolderSummary& summary, bool /*several*/) {
  json object = {{"type", "summary"},
                 {"folder", Escaped(summary.folder)},
                 {"finished", summary.finished},
                 {"message", Escaped(summary.message)},
                 {"dry_run", summary.dry_run}};
  if (!summary.source.empty()) object["source"] = EscapedPath(summary.source);
  if (!summary.destination.empty()) object["destination"] = EscapedPath(summary.destination);
  if (summary.finished) {
    object["attempted"] = summary.tally.attempted;
    object["succeeded"] = summary.tally.succeeded;
    object["replaced"] = summary.replaced;
  }
  if (summary.heights_before && summary.heights_after) {
    object["heights"] = {{"count", summary.heights_before->count},
                         {"before", RangeObject(*summary.heights_before)},
                         {"after", RangeObject(*summary.heights_after)}};
  }
  PrintLine(out_, object);
}

void JsonReport::Total(const engine::RunTally& total, std::int64_t folders, bool dry_run) {
  PrintLine(out_, {{"type", "total"},
                   {"folders", folders},
                   {"attempted", total.attempted},
                   {"succeeded", total.succeeded},
                   {"dry_run", dry_run}});
}

}  // namespace vendrake::cli
