#include "engine/scale_heights.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <string>

#include "engine/checked_arithmetic.h"
#include "engine/errors.h"

namespace vendrake::engine {

float BitsToSingle(const std::int32_t& word) { return std::bit_cast<float>(word); }

std::int32_t SingleToBits(const float& value) { return std::bit_cast<std::int32_t>(value); }

namespace {

// Positions within the vertex block, in words.
constexpr std::int16_t kFirstHeightWord = 2;  // bytes 8 to 11 of the first record
constexpr std::int16_t kRecordWords = 8;      // 32-byte records
// The last height visited is at most this many words before the block's end
// (block length / 4), whether or not the final record is complete.
constexpr std::int32_t kLastHeightBeforeEnd = 5;

constexpr std::uint32_t kSignBit = 0x80000000;
constexpr std::uint32_t kExponentMask = 0x7F800000;
constexpr std::uint32_t kQuietBit = 0x00400000;
constexpr std::uint32_t kFractionMask = 0x007FFFFF;

bool IsFinite(std::uint32_t bits) { return (bits & kExponentMask) != kExponentMask; }
bool IsNaN(std::uint32_t bits) { return !IsFinite(bits) && (bits & kFractionMask) != 0; }
bool IsSignallingNaN(std::uint32_t bits) { return IsNaN(bits) && (bits & kQuietBit) == 0; }
bool IsInfinite(std::uint32_t bits) { return (bits & ~kSignBit) == kExponentMask; }
bool IsZero(std::uint32_t bits) { return (bits & ~kSignBit) == 0; }

// Both singles have 24-bit significands, so their product is exact in a
// double; the one rounding is the narrowing back to single.
float ExactProductRounded(float height, float factor) {
  return static_cast<float>(static_cast<double>(height) * static_cast<double>(factor));
}

[[noreturn, gnu::cold]] void ThrowBeyondSingleRange() {
  throw FloatingPointError("height product beyond the single range");
}

// The product when an operand is an infinity or a NaN. Invalid operation is
// decided from the operands' bit patterns rather than from the FPU flags:
// loading a signalling NaN into a register may already quiet it, and the
// optimiser is free to drop or reorder flag reads.
[[gnu::cold]] std::int32_t MultiplyNonFinite(std::int32_t height_word, float factor) {
  const auto height = std::bit_cast<std::uint32_t>(height_word);
  const auto factor_bits = std::bit_cast<std::uint32_t>(factor);
  if (IsSignallingNaN(height) || IsSignallingNaN(factor_bits)) {
    throw FloatingPointError("signalling NaN in a height product");
  }
  if ((IsInfinite(height) && IsZero(factor_bits)) || (IsZero(height) && IsInfinite(factor_bits))) {
    throw FloatingPointError("infinity times zero in a height product");
  }
  // A quiet NaN operand is the product, payload and all.
  if (IsNaN(height)) return height_word;
  if (IsNaN(factor_bits)) return SingleToBits(factor);
  // An infinity times a non-zero finite value: an infinity, without error.
  return SingleToBits(ExactProductRounded(BitsToSingle(height_word), factor));
}

// The IEEE-754 single product height × factor; throws FloatingPointError
// where the multiplication would raise invalid operation or overflow.
std::int32_t MultiplyHeight(std::int32_t height_word, float factor) {
  const auto height = std::bit_cast<std::uint32_t>(height_word);
  if (!IsFinite(height) || !IsFinite(std::bit_cast<std::uint32_t>(factor))) [[unlikely]] {
    return MultiplyNonFinite(height_word, factor);
  }
  const float product = ExactProductRounded(BitsToSingle(height_word), factor);
  if (!IsFinite(std::bit_cast<std::uint32_t>(product))) [[unlikely]] {
    ThrowBeyondSingleRange();
  }
  return SingleToBits(product);
}

// Visits heights j = 2, 10, 18, ... while j <= last, at word start + j. The
// visit to a word outside the image raises a subscript error, and the 16-bit
// position overflows when it steps on from 32762.
template <typename Rewrite>
void RewriteBlock(WordImage& words, std::int32_t start, std::int16_t last, Rewrite rewrite) {
  if (last < kFirstHeightWord) return;
  const std::int64_t visits = (last - kFirstHeightWord) / kRecordWords + 1;
  // start is a byte offset divided by 4, so start + j never leaves 32 bits.
  const std::int64_t first = std::int64_t{start} + kFirstHeightWord;
  const std::int64_t word_count = words.WordCount();
  // Visits before the first one that falls outside the image.
  const std::int64_t inside = first < 0 || first >= word_count
                                  ? 0
                                  : std::min(visits, (word_count - 1 - first) / kRecordWords + 1);

  words.RewriteWords(first, inside, kRecordWords, rewrite);
  if (inside < visits) {
    words.Word(first + inside * kRecordWords);  // outside the image: throws
  }
  const auto last_visited =
      static_cast<std::int16_t>(kFirstHeightWord + (visits - 1) * kRecordWords);
  CheckedAdd<std::int16_t>(last_visited, kRecordWords, "record position");
}

}  // namespace

void CheckImageFits(std::int64_t word_count) {
  CheckedNarrow<std::int16_t>(word_count - 1, "last word index");
}

namespace {

// Finds the vertex block as ScaleHeights describes and replaces each height
// word by rewrite(word).
template <typename Rewrite>
void RewriteHeights(WordImage& words, Rewrite rewrite) {
  CheckImageFits(words.WordCount());
  const std::int64_t word_count = words.WordCount();

  const std::int64_t tag_at = words.FindWord(kVertexTag);
  if (tag_at == word_count) {
    // The scan steps its 16-bit position past every word: past word 32767 of
    // a full image, that overflows.
    if (word_count > 0) {
      CheckedAdd<std::int16_t>(static_cast<std::int16_t>(word_count - 1), 1, "word position");
    }
    return;
  }

  // Only the first tagged entry counts.
  const auto i = static_cast<std::int16_t>(tag_at);
  const std::int32_t start =
      words.Word(CheckedAdd<std::int16_t>(i, 1, "block offset position")) / 4;
  const std::int32_t block_words =
      words.Word(CheckedAdd<std::int16_t>(i, 2, "block length position")) / 4;
  const auto last = CheckedNarrow<std::int16_t>(
      CheckedSub<std::int32_t>(block_words, kLastHeightBeforeEnd, "block length / 4 - 5"),
      "block length / 4 - 5");
  RewriteBlock(words, start, last, rewrite);
}

}  // namespace

void ScaleHeights(WordImage& words, float scale_factor) {
  RewriteHeights(
      words, [scale_factor](std::int32_t height) { return MultiplyHeight(height, scale_factor); });
}

void ForEachHeight(WordImage& words, const std::function<void(float)>& seen) {
  RewriteHeights(words, [&seen](std::int32_t height) {
    seen(BitsToSingle(height));
    return height;
  });
}

}  // namespace vendrake::engine
