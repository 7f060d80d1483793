#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <utility>

namespace vendrake::engine {

// Checked arithmetic at the fixed widths the conversion works in. Every helper
// throws OverflowError naming `what` instead of wrapping or truncating.

namespace detail {
// Out of line, so the checks themselves inline into the hot loops.
[[noreturn]] void ThrowOverflow(const char* what, std::int64_t value, int bits);
[[noreturn]] void ThrowOverflow(const char* what, std::uint64_t value, int bits);
}  // namespace detail

// Returns `value` as a `Narrow`; throws when it lies outside Narrow's range.
template <std::signed_integral Narrow, std::integral Wide>
Narrow CheckedNarrow(Wide value, const char* what) {
  if (!std::in_range<Narrow>(value)) [[unlikely]] {
    constexpr int kBits = std::numeric_limits<Narrow>::digits + 1;
    if constexpr (std::is_signed_v<Wide>) {
      detail::ThrowOverflow(what, static_cast<std::int64_t>(value), kBits);
    } else {
      detail::ThrowOverflow(what, static_cast<std::uint64_t>(value), kBits);
    }
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
