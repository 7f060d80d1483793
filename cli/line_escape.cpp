#include "cli/line_escape.h"

#include "engine/text_encoding.h"

namespace vendrake::cli {
namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool IsControl(char16_t unit) { return unit <= 0x1F || (unit >= 0x7F && unit <= 0x9F); }

void AppendEscaped(std::u16string& out, char16_t unit) {
  constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";
  for (const char byte : engine::Utf16ToUtf8(std::u16string_view(&unit, 1))) {
    const auto value = static_cast<unsigned char>(byte);
    out.push_back(u'%');
    out.push_back(kHexDigits[value >> 4]);
    out.push_back(kHexDigits[value & 0xF]);
  }
}

std::u16string Escaped(std::u16string_view text, bool escape_percent) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char16_t unit = text[at];
    // A pair is one valid character; the test matches the one Utf16ToUtf8
    // makes, so the escaped bytes are exactly the ones it would write.
    if (IsHighSurrogate(unit) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
      out.push_back(unit);
      out.push_back(text[++at]);
    } else if ((escape_percent && unit == u'%') || IsControl(unit) || IsHighSurrogate(unit) ||
               IsLowSurrogate(unit)) {
      AppendEscaped(out, unit);
    } else {
      out.push_back(unit);
    }
  }
  return out;
}

}  // namespace

std::u16string EscapeForLine(std::u16string_view text) { return Escaped(text, true); }

std::string EscapeBytesForLine(std::string_view bytes) {
  return engine::Utf16ToUtf8(EscapeForLine(engine::Utf8ToUtf16(bytes)));
}

std::string EscapeControlsForLine(std::string_view bytes) {
  return engine::Utf16ToUtf8(Escaped(engine::Utf8ToUtf16(bytes), false));
}

}  // namespace vendrake::cli
