#include "command/scale_text.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <system_error>

namespace vendrake::command {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The pieces of a text of the accepted form, positions into `text`.
struct Numeral {
  bool negative = false;
  std::string_view mantissa;  // digits with at most one "."
  std::string_view body;      // mantissa and exponent, without the sign
  std::int64_t exponent = 0;  // saturated far beyond any single's range
};

bool Split(std::string_view text, Numeral& numeral) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    numeral.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  numeral.body = text;
  std::size_t at = 0;
  int digits = 0;
  bool point = false;
  for (; at < text.size(); ++at) {
    if (IsDigit(text[at])) {
      ++digits;
    } else if (text[at] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  numeral.mantissa = text.substr(0, at);
  if (at == text.size()) return true;
  if (text[at] != 'e' && text[at] != 'E') return false;
  ++at;
  bool exponent_negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    exponent_negative = text[at] == '-';
    ++at;
  }
  if (at == text.size()) return false;
  for (; at < text.size(); ++at) {
    if (!IsDigit(text[at])) return false;
    if (numeral.exponent < 1'000'000) numeral.exponent = numeral.exponent * 10 + (text[at] - '0');
  }
  if (exponent_negative) numeral.exponent = -numeral.exponent;
  return true;
}

// Whether a non-zero numeral's magnitude is at least 1: the decimal position
// of its first significant digit plus its exponent is not negative.
bool MagnitudeAtLeastOne(const Numeral& numeral) {
  const std::size_t point = numeral.mantissa.find('.');
  const std::size_t integer_digits =
      point == std::string_view::npos ? numeral.mantissa.size() : point;
  std::int64_t position = static_cast<std::int64_t>(integer_digits);
  for (const char c : numeral.mantissa) {
    if (c == '.') continue;
    --position;
    if (c != '0') break;
  }
  return position + numeral.exponent >= 0;
}

}  // namespace

ParsedScale ParseScaleText(std::u16string_view text) {
  std::string ascii;
  ascii.reserve(text.size());
  for (const char16_t unit : text) {
    if (unit > 0x7F) return {};
    ascii.push_back(static_cast<char>(unit));
  }
  Numeral numeral;
  if (!Split(ascii, numeral)) return {};

  float magnitude = 0.0F;
  const char* end = numeral.body.data() + numeral.body.size();
  const auto [stop, error] = std::from_chars(numeral.body.data(), end, magnitude);
  if (stop != end) return {};
  if (error == std::errc::result_out_of_range) {
    if (MagnitudeAtLeastOne(numeral))
      return {.kind = ParsedScale::Kind::kOutOfRange, .value = 0.0F};
    magnitude = 0.0F;  // underflow below the smallest subnormal
  } else if (error != std::errc()) {
    return {};
  }
  return {.kind = ParsedScale::Kind::kValue, .value = numeral.negative ? -magnitude : magnitude};
}

}  // namespace vendrake::command
