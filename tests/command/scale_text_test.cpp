#include "command/scale_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <ostream>
#include <string>

#include "engine/text_encoding.h"

namespace vendrake::command {
namespace {

struct ValueCase {
  std::u16string text;
  std::uint32_t bits;  // the expected single, by bits so that -0 and +0 differ
};

void PrintTo(const ValueCase& c, std::ostream* os) {
  *os << '"' << engine::Utf16ToUtf8(c.text) << "\" -> 0x" << std::hex << c.bits;
}

class ParseScaleTextValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ParseScaleTextValue, RoundsOnceToTheNearestSingle) {
  const ParsedScale parsed = ParseScaleText(GetParam().text);
  ASSERT_EQ(parsed.kind, ParsedScale::Kind::kValue);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(parsed.value), GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(
    AcceptedForms, ParseScaleTextValue,
    ::testing::Values(ValueCase{u"2.0", 0x40000000}, ValueCase{u" 2.5 ", 0x40200000},
                      ValueCase{u"   2.5", 0x40200000}, ValueCase{u"2.5   ", 0x40200000},
                      ValueCase{u"5.", 0x40A00000}, ValueCase{u".5", 0x3F000000},
                      ValueCase{u"5", 0x40A00000}, ValueCase{u"+3", 0x40400000},
                      ValueCase{u"-0.5", 0xBF000000}, ValueCase{u"1e2", 0x42C80000},
                      ValueCase{u"1E+2", 0x42C80000}, ValueCase{u"  -1e+2  ", 0xC2C80000},
                      ValueCase{u"2.5e-3", 0x3B23D70A}, ValueCase{u"0", 0x00000000},
                      ValueCase{u"-0", 0x80000000}, ValueCase{u"0.0001e40", 0x7B4097CE},
                      // A zero mantissa stays zero whatever its exponent.
                      ValueCase{u"0e99999999999", 0x00000000}));

INSTANTIATE_TEST_SUITE_P(
    CorrectRounding, ParseScaleTextValue,
    ::testing::Values(ValueCase{u"0.1", 0x3DCCCCCD},
                      // Halfway between 16777216 and 16777218: ties to even.
                      ValueCase{u"16777217", 0x4B800000}, ValueCase{u"16777219", 0x4B800002},
                      // Just above halfway, but a double would round it to the
                      // halfway value first and then to 16777216.
                      ValueCase{u"16777217.000000001", 0x4B800001},
                      ValueCase{u"3.4028235e38", 0x7F7FFFFF},
                      ValueCase{u"340282356779733661637539395458142568447", 0x7F7FFFFF},
                      ValueCase{u"1.17549435e-38", 0x00800000}));

INSTANTIATE_TEST_SUITE_P(
    Underflow, ParseScaleTextValue,
    ::testing::Values(ValueCase{u"1e-40", 0x000116C2}, ValueCase{u"1e-45", 0x00000001},
                      ValueCase{u"100000e-50", 0x00000001},
                      // Just above and just below half the smallest subnormal.
                      ValueCase{u"7.0065e-46", 0x00000001}, ValueCase{u"7.006e-46", 0x00000000},
                      ValueCase{u"1e-50", 0x00000000}, ValueCase{u"-1e-50", 0x80000000},
                      ValueCase{u"1e-99999999999", 0x00000000},
                      ValueCase{u"-0.00001e-99999999999", 0x80000000}));

struct RefusedCase {
  std::u16string text;
  ParsedScale::Kind kind;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
  *os << '"' << engine::Utf16ToUtf8(c.text) << '"';
}

class ParseScaleTextRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ParseScaleTextRefused, GivesTheKind) {
  EXPECT_EQ(ParseScaleText(GetParam().text).kind, GetParam().kind);
}

constexpr auto kNotNumeric = ParsedScale::Kind::kNotNumeric;
constexpr auto kOutOfRange = ParsedScale::Kind::kOutOfRange;

INSTANTIATE_TEST_SUITE_P(
    NotNumeric, ParseScaleTextRefused,
    ::testing::Values(RefusedCase{u"", kNotNumeric}, RefusedCase{u" ", kNotNumeric},
                      RefusedCase{u"two", kNotNumeric}, RefusedCase{u".", kNotNumeric},
                      RefusedCase{u"-", kNotNumeric}, RefusedCase{u"e5", kNotNumeric},
                      RefusedCase{u".e5", kNotNumeric}, RefusedCase{u"1e", kNotNumeric},
                      RefusedCase{u"1e+", kNotNumeric}, RefusedCase{u"1e1.5", kNotNumeric},
                      RefusedCase{u"1.2.3", kNotNumeric}, RefusedCase{u"--1", kNotNumeric},
                      RefusedCase{u"+ 1", kNotNumeric}, RefusedCase{u"1 0", kNotNumeric},
                      RefusedCase{u"1,5", kNotNumeric}, RefusedCase{u"0x10", kNotNumeric},
                      RefusedCase{u"inf", kNotNumeric}, RefusedCase{u"infinity", kNotNumeric},
                      RefusedCase{u"nan", kNotNumeric}, RefusedCase{u"\t2", kNotNumeric},
                      RefusedCase{u"2\t", kNotNumeric}, RefusedCase{u"2\n", kNotNumeric},
                      RefusedCase{std::u16string(u"2\0", 2), kNotNumeric},
                      RefusedCase{u"\u00A02", kNotNumeric},  // no-break space
                      RefusedCase{u"\uFF12", kNotNumeric},   // fullwidth 2
                      RefusedCase{u"\u0662", kNotNumeric},   // Arabic-Indic 2
                      RefusedCase{u"1e\u0662", kNotNumeric},
                      // Code units whose low byte is an ASCII digit.
                      RefusedCase{u"\u0132", kNotNumeric}, RefusedCase{u"\u0432.5", kNotNumeric}));

INSTANTIATE_TEST_SUITE_P(
    OutOfRange, ParseScaleTextRefused,
    ::testing::Values(RefusedCase{u"1e39", kOutOfRange}, RefusedCase{u"-1e39", kOutOfRange},
                      RefusedCase{u"3.5e38", kOutOfRange},
                      RefusedCase{u"3.4028236e38", kOutOfRange},
                      // Exactly halfway to 2^128; the even neighbour is infinity.
                      RefusedCase{u"340282356779733661637539395458142568448", kOutOfRange},
                      RefusedCase{u"0.01e41", kOutOfRange},
                      // 10^40 with a negative exponent: the magnitude decides, not its sign.
                      RefusedCase{u"1" + std::u16string(45, u'0') + u"e-5", kOutOfRange},
                      RefusedCase{u"1e99999999999", kOutOfRange},
                      RefusedCase{u"-0.000001e99999999999", kOutOfRange}));

}  // namespace
}  // namespace vendrake::command
