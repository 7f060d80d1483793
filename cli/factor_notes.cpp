#include "cli/factor_notes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "cli/file_report.h"
#include "cli/line_escape.h"
#include "command/scale_text.h"
#include "engine/text_encoding.h"

namespace vendrake::cli {
namespace {

std::optional<float> ValueOf(const std::string& text) {
  const command::ParsedScale parsed = command::ParseScaleText(engine::Utf8ToUtf16(text));
  if (parsed.kind != command::ParsedScale::Kind::kValue) return std::nullopt;
  return parsed.value;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Hint(const std::string& text) {
  if (text.empty()) return "give a number, such as 2 or 0.5";
  std::string dotted = text;
  std::replace(dotted.begin(), dotted.end(), ',', '.');
  if (dotted != text && ValueOf(dotted)) return "use \".\" as the decimal separator: " + dotted;
  for (const std::string_view times : {"x", "X", "*", "\xC3\x97"}) {  // U+00D7, the sign ×
    for (const bool leading : {true, false}) {
      if (leading ? !text.starts_with(times) : !text.ends_with(times)) continue;
      const std::string bare =
          leading ? text.substr(times.size()) : text.substr(0, text.size() - times.size());
      if (ValueOf(bare)) return "give the factor alone: " + Trimmed(bare);
    }
  }
  if (text.ends_with('%')) {
    if (const std::optional<float> percent = ValueOf(text.substr(0, text.size() - 1))) {
      return "give a factor, not a percentage: " + ShortestText(*percent / 100.0F);
    }
  }
  return "give a number, such as 2, 0.5 or 1e2";
}

// The factor as typed, within quotes, with only what would break the line
// or drive a terminal escaped.
std::string Quoted(const std::string& scale) {
  return "the factor \"" + EscapeControlsForLine(Trimmed(scale)) + "\"";
}

}  // namespace

std::string RejectedFactorText(const std::string& scale) {
  return Quoted(scale) + " is not a number; " + Hint(Trimmed(scale));
}

std::string OutOfRangeFactorText(const std::string& scale) {
  return Quoted(scale) + " is out of range; a factor lies between -3.4e38 and 3.4e38";
}

std::optional<std::string> FactorWarning(const std::string& scale, float factor,
                                         const HeightRange& before) {
  const std::string quoted = Quoted(scale);
  if (factor == 0.0F) return quoted + " is 0: every height becomes 0, and the models flat";
  if (std::signbit(factor)) {
    return quoted + " is negative: every height changes sign, and the models turn upside down";
  }
  // The product of the largest height seen is the largest there is.
  if (before.count > 0) {
    const float largest = std::max(std::fabs(before.least), std::fabs(before.most));
    const double product = static_cast<double>(largest) * static_cast<double>(factor);
    if (largest != 0.0F && product < std::numeric_limits<float>::min()) {
      return quoted + " is so small that every height became 0 or too small to hold exactly";
    }
  }
  return std::nullopt;
}

}  // namespace vendrake::cli
