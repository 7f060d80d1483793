#include "engine/text_encoding.h"

#include <cstdint>

namespace vendrake::engine {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // escaped byte b becomes U+DC00 + b (b >= 0x80)

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence starting at bytes[at], or 0 when the
// bytes there are not one (overlong forms and encoded surrogates included).
std::size_t ValidSequenceLength(std::string_view bytes, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[at + k]); };
  const std::size_t left = bytes.size() - at;
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (!IsContinuation(byte(k))) return 0;
  }
  return length;
}

void AppendCodePoint(std::u16string& out, char32_t code_point) {
  if (code_point < 0x10000) {
    out.push_back(static_cast<char16_t>(code_point));
  } else {
    code_point -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t length = ValidSequenceLength(bytes, at);
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (length == 0) {
      out.push_back(static_cast<char16_t>(kEscapeBase + lead));
      ++at;
      continue;
    }
    char32_t code_point = length == 1 ? lead : static_cast<char32_t>(lead & (0x7F >> length));
    for (std::size_t k = 1; k < length; ++k) {
      code_point = (code_point << 6) | (static_cast<unsigned char>(bytes[at + k]) & 0x3F);
    }
    AppendCodePoint(out, code_point);
    at += length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char16_t unit = text[at];
    if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
        text[at + 1] <= 0xDFFF) {
      const char32_t high = unit - 0xD800U;
      const char32_t low = text[at + 1] - 0xDC00U;
      AppendUtf8(out, 0x10000 + (high << 10) + low);
      ++at;
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      out.push_back(static_cast<char>(unit - kEscapeBase));
    } else {
      // Any other lone surrogate is written in the generalised three-byte form.
      AppendUtf8(out, unit);
    }
  }
  return out;
}

}  // namespace vendrake::engine
