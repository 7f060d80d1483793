#include "engine/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace vendrake::engine {
namespace {

TEST(TextEncoding, ValidUtf8RoundTripsIncludingAstralCharacters) {
  const std::string bytes = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBFz";
  const std::u16string text = u"A\u00E9\u20AC\U0001F600\U0010FFFFz";
  EXPECT_EQ(Utf8ToUtf16(bytes), text);
  EXPECT_EQ(Utf16ToUtf8(text), bytes);
}

struct InvalidCase {
  const char* name;
  std::string bytes;
  std::u16string text;
};

class TextEncodingInvalid : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(TextEncodingInvalid, EscapesEachBadByteAndRoundTrips) {
  EXPECT_EQ(Utf8ToUtf16(GetParam().bytes), GetParam().text);
  EXPECT_EQ(Utf16ToUtf8(GetParam().text), GetParam().bytes);
}

const InvalidCase kInvalidCases[] = {
    {"LoneFF",
     "a\xFF"
     "b",
     u"a\xDCFF"
     "b"},
    {"LoneContinuation", "\x80", u"\xDC80"},
    {"OverlongNul", "\xC0\x80", u"\xDCC0\xDC80"},
    {"OverlongThreeByte", "\xE0\x80\xAF", u"\xDCE0\xDC80\xDCAF"},
    {"EncodedSurrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
    {"BeyondU10FFFF", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
    {"TruncatedAtTheEnd", "x\xE2\x82", u"x\xDCE2\xDC82"},
    {"TruncatedBeforeAscii",
     "\xF0\x9F\x98"
     "a",
     u"\xDCF0\xDC9F\xDC98"
     "a"},
    {"BadByteAfterAstral", "\xF0\x9F\x98\x80\xFE", u"\U0001F600\xDCFE"},
};

INSTANTIATE_TEST_SUITE_P(Cases, TextEncodingInvalid, ::testing::ValuesIn(kInvalidCases),
                         [](const ::testing::TestParamInfo<InvalidCase>& case_info) {
                           return std::string(case_info.param.name);
                         });

TEST(TextEncoding, EveryOneAndTwoByteNameSurvivesTheRoundTrip) {
  for (int first = 0; first < 256; ++first) {
    const std::string one(1, static_cast<char>(first));
    ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(one)), one) << first;
    for (int second = 0; second < 256; ++second) {
      const std::string two = one + static_cast<char>(second);
      ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(two)), two) << first << " " << second;
    }
  }
}

}  // namespace
}  // namespace vendrake::engine
