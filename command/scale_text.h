#pragma once

#include <string_view>

namespace vendrake::command {

struct ParsedScale {
  enum class Kind {
    kNotNumeric,
    kOutOfRange,  // numeric, but its magnitude rounds beyond the single range
    kValue,
  };
  Kind kind = Kind::kNotNumeric;
  float value = 0.0F;
};

// Reads a scale factor typed by the user, whatever the locale: spaces, an
// optional sign, decimal digits with at most one "." and at least one digit,
// an optional exponent ("E" or "e", optional sign, digits), spaces. The value
// is the text's decimal value rounded once to the nearest single; one too
// small for the single range becomes a subnormal or a signed zero.
ParsedScale ParseScaleText(std::u16string_view text);

}  // namespace vendrake::command
