#include "cli/line_escape.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

#include "engine/text_encoding.h"

namespace vendrake::cli {
namespace {

struct EscapeCase {
  std::u16string text;
  std::string escaped;  // as printed, in UTF-8
};

void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.escaped; }

// Every %HH replaced by its byte.
std::string Unescaped(const std::string& escaped) {
  std::string bytes;
  for (std::size_t at = 0; at < escaped.size(); ++at) {
    if (escaped[at] == '%' && at + 2 < escaped.size() &&
        std::isxdigit(static_cast<unsigned char>(escaped[at + 1])) &&
        std::isxdigit(static_cast<unsigned char>(escaped[at + 2]))) {
      bytes.push_back(static_cast<char>(std::stoi(escaped.substr(at + 1, 2), nullptr, 16)));
      at += 2;
    } else {
      bytes.push_back(escaped[at]);
    }
  }
  return bytes;
}

class LineEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(LineEscape, KeepsOneLineAndGivesBackTheExactBytes) {
  const std::string escaped = engine::Utf16ToUtf8(EscapeForLine(GetParam().text));
  EXPECT_EQ(escaped, GetParam().escaped);
  EXPECT_EQ(Unescaped(escaped), engine::Utf16ToUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LineEscape,
    ::testing::Values(
        EscapeCase{u"rock_A1", "rock_A1"}, EscapeCase{u"a\nb", "a%0Ab"},
        EscapeCase{u"\x1B[2J", "%1B[2J"}, EscapeCase{u"100%", "100%25"},
        EscapeCase{u"%0A", "%250A"}, EscapeCase{std::u16string(u"\0\t\r\x1F", 4), "%00%09%0D%1F"},
        EscapeCase{u"\x7F\u0085\u009F", "%7F%C2%85%C2%9F"},
        // Printable text beyond ASCII, a pair among them, stays as it is.
        EscapeCase{u"Kl\u00E9\u00A0\u20AC\U0001F600", "Kl\u00E9\u00A0\u20AC\U0001F600"},
        // A POSIX name byte that is not UTF-8 is held as U+DC80 + (byte - 0x80).
        EscapeCase{u"\xDCFF_\xDC80", "%FF_%80"},
        // Other lone surrogates, which a Windows name may hold, in their
        // three-byte form; a high surrogate at the end has no partner.
        EscapeCase{u"\xD800x\xDFFF", "%ED%A0%80x%ED%BF%BF"}, EscapeCase{u"x\xDBFF", "x%ED%AF%BF"}));

}  // namespace
}  // namespace vendrake::cli
