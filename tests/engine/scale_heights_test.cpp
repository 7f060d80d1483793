#include "engine/scale_heights.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "tests/support/model_bytes.h"

namespace vendrake::engine {
namespace {

using testing::Bits;
using testing::BytesOfWords;
using testing::ImageOfBytes;
using testing::ImageOfWords;
using testing::Single;
using testing::WordsOf;

template <typename Case>
std::string NameOf(const ::testing::TestParamInfo<Case>& case_info) {
  return case_info.param.name;
}

// Runs the pass and names the kind of error it raised, if any; any other
// exception escapes and fails the test.
std::optional<ErrorKind> RunPass(WordImage& image, float factor) {
  try {
    ScaleHeights(image, factor);
  } catch (const OverflowError&) {
    return ErrorKind::kOverflow;
  } catch (const SubscriptError&) {
    return ErrorKind::kSubscript;
  } catch (const FloatingPointError&) {
    return ErrorKind::kFloatingPoint;
  }
  return std::nullopt;
}

// ---- Where the pass looks: tag, block offset and length, record heights ----

struct LayoutCase {
  const char* name;
  std::int64_t word_count;
  std::int64_t tag_at;  // -1: no tag
  std::int32_t offset;
  std::int32_t length;
  std::optional<ErrorKind> error;
  std::vector<std::int64_t> scaled;  // words rewritten, also when the pass then fails
};

std::vector<std::int64_t> Every8th(std::int64_t from, std::int64_t to) {
  std::vector<std::int64_t> positions;
  for (std::int64_t k = from; k <= to; k += 8) positions.push_back(k);
  return positions;
}

class ScaleHeightsLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ScaleHeightsLayout, RewritesExactlyTheVisitedHeights) {
  const LayoutCase& c = GetParam();
  // Every word holds a distinct small single (never the tag), so any word the
  // pass touches by mistake shows up, and 3 trailing bytes that must survive.
  std::vector<std::int32_t> words(static_cast<std::size_t>(c.word_count));
  for (std::size_t k = 0; k < words.size(); ++k) words[k] = Bits(static_cast<float>(k + 1));
  const auto set = [&](std::int64_t k, std::int32_t value) {
    if (k < c.word_count) words[static_cast<std::size_t>(k)] = value;
  };
  if (c.tag_at >= 0) {
    set(c.tag_at, kVertexTag);
    set(c.tag_at + 1, c.offset);
    set(c.tag_at + 2, c.length);
  }
  std::vector<std::int32_t> expected = words;
  for (const std::int64_t k : c.scaled) {
    auto& word = expected[static_cast<std::size_t>(k)];
    word = Bits(Single(word) * 2.0F);
  }
  WordImage image = ImageOfBytes(BytesOfWords(words, {0xA1, 0xB2, 0xC3}));

  EXPECT_EQ(RunPass(image, 2.0F), c.error);
  const std::vector<std::uint8_t> bytes(image.Bytes().begin(), image.Bytes().end());
  EXPECT_EQ(bytes, BytesOfWords(expected, {0xA1, 0xB2, 0xC3}));
}

using enum ErrorKind;
const LayoutCase kLayoutCases[] = {
    {"NoTagLeavesTheImageAsItWas", 24, -1, 0, 0, {}, {}},
    {"TwoRecordsAtOffset32", 24, 4, 32, 64, {}, {10, 18}},
    {"BlockOf27BytesHasNoHeight", 24, 4, 32, 27, {}, {}},
    {"BlockOf28BytesHasOneHeight", 24, 4, 32, 28, {}, {10}},
    {"PartialLastRecordStillVisited", 24, 4, 32, 60, {}, {10, 18}},
    {"UnalignedOffset6IsWord1", 24, 4, 6, 64, {}, {3, 11}},
    {"NegativeOffsetRoundsTowardZero", 24, 4, -3, 64, {}, {2, 10}},
    // -131055 / 4 is -32763 toward zero, so last = -32768 still fits.
    {"NegativeLengthScalesNothing", 24, 4, 32, -131055, {}, {}},
    {"TagAtWord0", 24, 0, 16, 64, {}, {6, 14}},
    {"Full32767WordImageWithoutTag", 32767, -1, 0, 0, {}, {}},
    {"Full32768WordImageWithTag", 32768, 32765, 0, 64, {}, {2, 10}},
    {"NoTagIn32768Words", 32768, -1, 0, 0, kOverflow, {}},
    {"Over32768WordsEvenWithTagAtWord0", 32769, 0, 16, 64, kOverflow, {}},
    {"TagAtLastWord", 24, 23, 0, 0, kSubscript, {}},
    {"TagAtSecondLastWord", 24, 22, 0, 0, kSubscript, {}},
    {"TagAtWord32767", 32768, 32767, 0, 0, kOverflow, {}},
    {"TagAtWord32766", 32768, 32766, 0, 0, kOverflow, {}},
    {"LengthPast16BitsAboveBeforeAnyHeight", 24, 4, 32, 131092, kOverflow, {}},
    {"LengthPast16BitsBelow", 24, 4, 32, -131056, kOverflow, {}},
    {"LengthAtTop16BitsRunsOffTheImage", 24, 4, 32, 131091, kSubscript, {10, 18}},
    {"BlockRunsPastTheEnd", 24, 4, 80, 64, kSubscript, {22}},
    {"BlockStartsBeforeWord0", 24, 4, -12, 64, kSubscript, {}},
    {"LargestOffset", 24, 4, std::numeric_limits<std::int32_t>::max(), 64, kSubscript, {}},
    {"SmallestOffset", 24, 4, std::numeric_limits<std::int32_t>::min(), 64, kSubscript, {}},
    // start = -2 and last = 32762: every height through word 32760 is
    // rewritten before the step from j = 32762 leaves 16 bits.
    {"LoopPast32762", 32768, 1, -8, 131068, kOverflow, Every8th(0, 32760)},
};

INSTANTIATE_TEST_SUITE_P(Cases, ScaleHeightsLayout, ::testing::ValuesIn(kLayoutCases),
                         NameOf<LayoutCase>);

TEST(ScaleHeights, OnlyTheFirstTaggedEntryIsScaled) {
  std::vector<std::int32_t> words(32, Bits(1.5F));
  words[0] = kVertexTag, words[1] = 48, words[2] = 32;    // height at 14
  words[5] = kVertexTag, words[6] = 64, words[7] = 64;    // would be 18 and 26
  words[20] = kVertexTag, words[21] = 0, words[22] = 64;  // would be 2 and 10
  std::vector<std::int32_t> expected = words;
  expected[14] = Bits(3.0F);
  WordImage image = ImageOfWords(words);
  ScaleHeights(image, 2.0F);
  EXPECT_EQ(WordsOf(image), expected);
}

TEST(ScaleHeights, CheckImageFitsAgreesWithThePassOnSize) {
  EXPECT_NO_THROW(CheckImageFits(0));
  EXPECT_NO_THROW(CheckImageFits(32768));
  EXPECT_THROW(CheckImageFits(32769), OverflowError);
}

// ---- One height times the factor ----

// Word 3 is the only height: tag, offset 4 (start 1), length 28 (last 2).
WordImage OneHeightImage(std::int32_t height) {
  return ImageOfWords(std::array<std::int32_t, 4>{kVertexTag, 4, 28, height});
}

struct ProductCase {
  const char* name;
  std::uint32_t height;
  std::uint32_t factor;
  std::optional<std::uint32_t> product;  // none: FloatingPointError
};

class ScaleHeightsProduct : public ::testing::TestWithParam<ProductCase> {};

// A failed product leaves the height as it was.
TEST_P(ScaleHeightsProduct, GivesTheSingleProductOrFails) {
  const ProductCase& c = GetParam();
  WordImage image = OneHeightImage(std::bit_cast<std::int32_t>(c.height));
  EXPECT_EQ(RunPass(image, std::bit_cast<float>(c.factor)),
            c.product ? std::nullopt : std::optional(ErrorKind::kFloatingPoint));
  EXPECT_EQ(std::bit_cast<std::uint32_t>(image.Word(3)), c.product.value_or(c.height));
}

constexpr std::uint32_t B(float value) { return std::bit_cast<std::uint32_t>(value); }
constexpr std::uint32_t kInf = 0x7F800000, kMinusInf = 0xFF800000, kMax = 0x7F7FFFFF;
constexpr std::uint32_t kOnePlusUlp = 0x3F800001, kOnePlus3Ulp = 0x3F800003;

const ProductCase kProductCases[] = {
    {"Factor1KeepsMinusZero", B(-0.0F), B(1.0F), B(-0.0F)},
    {"Factor1KeepsTheSmallestSubnormal", 0x00000001, B(1.0F), 0x00000001},
    {"Factor1KeepsANegativeSubnormal", 0x807FFFFF, B(1.0F), 0x807FFFFF},
    {"Factor1KeepsInfinity", kInf, B(1.0F), kInf},
    {"Factor1KeepsAQuietNaN", 0x7FC00000, B(1.0F), 0x7FC00000},
    {"Factor1KeepsAQuietNaNPayload", 0x7FC12345, B(1.0F), 0x7FC12345},
    {"Factor1KeepsANegativeQuietNaN", 0xFFC00001, B(1.0F), 0xFFC00001},
    {"Factor1KeepsAllOnesNaN", 0xFFFFFFFF, B(1.0F), 0xFFFFFFFF},
    {"Factor0GivesPlusZeroForPositive", B(1.5F), B(0.0F), B(0.0F)},
    {"Factor0GivesMinusZeroForNegative", B(-1.5F), B(0.0F), B(-0.0F)},
    {"Factor0GivesMinusZeroForNegativeSubnormal", 0x80000001, B(0.0F), B(-0.0F)},
    {"Factor0FailsOnInfinity", kInf, B(0.0F), std::nullopt},
    {"FactorMinus0FailsOnInfinity", kInf, B(-0.0F), std::nullopt},
    {"FactorMinus1FlipsMinusZero", B(-0.0F), B(-1.0F), B(0.0F)},
    {"FactorMinus1FlipsInfinity", kInf, B(-1.0F), kMinusInf},
    {"FactorMinus1KeepsAQuietNaN", 0x7FC12345, B(-1.0F), 0x7FC12345},
    {"QuietNaNTimes2StaysTheSameNaN", 0xFFC54321, B(2.0F), 0xFFC54321},
    {"QuietNaNTimes0RaisesNothing", 0x7FC00001, B(0.0F), 0x7FC00001},
    {"InfinityTimes2StaysInfinite", kInf, B(2.0F), kInf},
    {"MinusInfinityTimesTinyStaysInfinite", kMinusInf, 0x00000001, kMinusInf},
    {"SignallingNaNFails", 0x7F800001, B(1.0F), std::nullopt},
    {"SignallingNaNWithFullPayloadFails", 0x7FBFFFFF, B(2.0F), std::nullopt},
    {"NegativeSignallingNaNTimes0Fails", 0xFF800001, B(0.0F), std::nullopt},
    {"SignallingNaNFactorFails", B(1.5F), 0x7FA00000, std::nullopt},
    {"LargestTimes2Fails", kMax, B(2.0F), std::nullopt},
    {"MinusLargestJustPastTheRangeFails", 0xFF7FFFFF, kOnePlusUlp, std::nullopt},
    {"HugeTimesHugeFails", B(1e20F), B(1e20F), std::nullopt},
    {"ProductUnderflowsToASubnormal", B(0x1p-126F), B(0.5F), 0x00400000},
    {"TinyTimesTinyIsPlusZero", B(1e-30F), B(1e-30F), B(0.0F)},
    {"NegativeTinyTimesTinyIsMinusZero", B(-1e-30F), B(1e-30F), B(-0.0F)},
    {"HalfTheSmallestSubnormalTiesToZero", 0x00000001, B(0.5F), B(0.0F)},
    {"OneAndHalfSmallestSubnormalsTieToTwo", 0x00000001, B(1.5F), 0x00000002},
    // 1.5 * (1 + 2^-23) lies halfway between 1.5 + 2^-23 and 1.5 + 2^-22.
    {"TieRoundsUpToEven", B(1.5F), kOnePlusUlp, 0x3FC00002},
    // 1.5 * (1 + 3 * 2^-23) lies halfway between 1.5 + 4 and 5 ulps.
    {"TieRoundsDownToEven", B(1.5F), kOnePlus3Ulp, 0x3FC00004},
};

INSTANTIATE_TEST_SUITE_P(Cases, ScaleHeightsProduct, ::testing::ValuesIn(kProductCases),
                         NameOf<ProductCase>);

TEST(ScaleHeights, Factor1KeepsAndFactorMinus1FlipsEveryHeightButSignallingNaNs) {
  WordImage image = OneHeightImage(0);
  for (std::uint64_t pattern = 0; pattern <= 0xFFFFFFFF; pattern += 65537) {
    const auto bits = static_cast<std::uint32_t>(pattern);
    const bool nan = (bits & 0x7FFFFFFF) > kInf;
    if (nan && (bits & 0x00400000) == 0) continue;  // signalling
    for (const float factor : {1.0F, -1.0F}) {
      image.SetWord(3, std::bit_cast<std::int32_t>(bits));
      ASSERT_EQ(RunPass(image, factor), std::nullopt) << std::hex << bits;
      const std::uint32_t expected = factor < 0 && !nan ? bits ^ 0x80000000 : bits;
      ASSERT_EQ(std::bit_cast<std::uint32_t>(image.Word(3)), expected) << std::hex << bits;
    }
  }
}

// The correctly rounded single product of two finite singles, computed on
// integers, or none when it lies beyond the single range.
std::optional<std::uint32_t> ExactProduct(std::uint32_t a, std::uint32_t b) {
  const auto decompose = [](std::uint32_t bits, std::uint64_t& significand, int& exponent) {
    const int biased = static_cast<int>((bits >> 23) & 0xFF);
    significand = (bits & 0x7FFFFF) | (biased == 0 ? 0 : 0x800000);
    exponent = std::max(biased, 1) - 150;  // value = significand * 2^exponent
  };
  std::uint64_t sa = 0, sb = 0;
  int ea = 0, eb = 0;
  decompose(a, sa, ea);
  decompose(b, sb, eb);
  const std::uint32_t sign = (a ^ b) & 0x80000000;
  const std::uint64_t exact = sa * sb;  // below 2^48
  if (exact == 0) return sign;
  // Keep 24 significant bits, or fewer once the result is subnormal.
  int unit = std::max(ea + eb + static_cast<int>(std::bit_width(exact)) - 24, -149);
  const int shift = unit - ea - eb;
  if (shift > 49) return sign;  // less than half the smallest subnormal
  std::uint64_t kept = exact >> shift;
  const std::uint64_t rest = exact & ((std::uint64_t{1} << shift) - 1);
  const std::uint64_t half = (std::uint64_t{1} << shift) >> 1;
  if (rest > half || (rest == half && half != 0 && (kept & 1) != 0)) ++kept;
  if (kept == 0x1000000) kept >>= 1, ++unit;
  if (kept < 0x800000) return sign | static_cast<std::uint32_t>(kept);
  const int biased = unit + 150;
  if (biased >= 255) return std::nullopt;
  return sign | static_cast<std::uint32_t>(biased) << 23 |
         static_cast<std::uint32_t>(kept & 0x7FFFFF);
}

TEST(ScaleHeights, FiniteProductsAreRoundedOnceToNearestEven) {
  std::mt19937 random(20240611);
  WordImage image = OneHeightImage(0);
  for (int n = 0; n < 200000; ++n) {
    const auto height = static_cast<std::uint32_t>(random());
    auto factor = static_cast<std::uint32_t>(random());
    // A factor with a 3-bit significand makes exact halfway products common.
    if (n % 2 == 0) factor &= 0xFFE00000;
    if ((height & kInf) == kInf || (factor & kInf) == kInf) continue;
    image.SetWord(3, std::bit_cast<std::int32_t>(height));
    const std::optional<std::uint32_t> expected = ExactProduct(height, factor);
    ASSERT_EQ(RunPass(image, std::bit_cast<float>(factor)),
              expected ? std::nullopt : std::optional(ErrorKind::kFloatingPoint))
        << std::hex << height << " * " << factor;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(image.Word(3)), expected.value_or(height))
        << std::hex << height << " * " << factor;
  }
}

TEST(ScaleHeights, HeightsBeforeAFailingProductStayRewritten) {
  // Entry at word 20, block from word 0 with heights at 2, 10 and 18; the
  // second height is a signalling NaN, so the pass stops there.
  std::vector<std::int32_t> words(24, Bits(1.5F));
  words[10] = 0x7F800001;
  words[20] = kVertexTag, words[21] = 0, words[22] = 96;
  std::vector<std::int32_t> expected = words;
  expected[2] = Bits(3.0F);
  WordImage image = ImageOfWords(words);
  EXPECT_THROW(ScaleHeights(image, 2.0F), FloatingPointError);
  EXPECT_EQ(WordsOf(image), expected);
}

// ---- The bit moves themselves ----

TEST(ScaleHeights, BitsToSingleAndBackKeepEveryPattern) {
  std::vector<std::uint32_t> patterns = {0x7F800001, 0x7FBFFFFF, 0xFF800001, 0x7FC12345,
                                         0x80000000, 0x00000001, 0xFFFFFFFF};
  for (std::uint64_t bits = 0; bits <= 0xFFFFFFFF; bits += 4093)
    patterns.push_back(static_cast<std::uint32_t>(bits));
  for (const std::uint32_t bits : patterns) {
    const auto word = std::bit_cast<std::int32_t>(bits);
    const float single = BitsToSingle(word);
    ASSERT_EQ(std::bit_cast<std::uint32_t>(single), bits);
    ASSERT_EQ(SingleToBits(single), word);
  }
}

}  // namespace
}  // namespace vendrake::engine
