#pragma once

#include <optional>
#include <string>

#include "cli/file_lines.h"

namespace vendrake::cli {

// Why the factor text `scale`, which the command rejected as not numeric,
// is no number, quoted back with a hint that fits the mistake: a "," for
// the decimal point, an "x" beside the number, a percentage, an empty text.
std::string RejectedFactorText(const std::string& scale);

// The factor text `scale`, whose value lies beyond the single range, quoted
// back with that range.
std::string OutOfRangeFactorText(const std::string& scale);

// A warning on a factor that runs but is likely a mistake: one that is 0 or
// negative (flat or upside-down models), or one whose products came out as
// 0 or subnormal for every non-zero height seen, `before` being those
// heights' range. Empty when there is nothing to say. `scale` is the text as
// typed, `factor` its value.
std::optional<std::string> FactorWarning(const std::string& scale, float factor,
                                         const HeightRange& before);

}  // namespace vendrake::cli
