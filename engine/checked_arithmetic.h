#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "engine/errors.h"

namespace vendrake::engine {

// Checked arithmetic at the fixed widths the conversion works in. Every helper
// throws OverflowError naming `what` instead of wrapping or truncating.

// Returns `value` as a `Narrow`; throws when it lies outside Narrow's range.
template <std::signed_integral Narrow, std::integral Wide>
Narrow CheckedNarrow(Wide value, const char* what) {
  if (!std::in_range<Narrow>(value)) {
    throw OverflowError(std::string(what) + " " + std::to_string(value) + " does not fit in " +
                        std::to_string(std::numeric_limits<Narrow>::digits + 1) + " bits");
  }
  return static_cast<Narrow>(value);
}

// a + b in the width of T.
template <std::signed_integral T>
T CheckedAdd(T a, T b, const char* what) {
  return CheckedNarrow<T>(static_cast<std::int64_t>(a) + static_cast<std::int64_t>(b), what);
}

// a - b in the width of T.
template <std::signed_integral T>
T CheckedSub(T a, T b, const char* what) {
  return CheckedNarrow<T>(static_cast<std::int64_t>(a) - static_cast<std::int64_t>(b), what);
}

}  // namespace vendrake::engine
