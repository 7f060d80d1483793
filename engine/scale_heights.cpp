#include "engine/scale_heights.h"

#include <bit>
#include <string>

#include "engine/checked_arithmetic.h"
#include "engine/errors.h"

namespace vendrake::engine {

float BitsToSingle(const std::int32_t& word) { return std::bit_cast<float>(word); }

std::int32_t SingleToBits(const float& value) { return std::bit_cast<std::int32_t>(value); }

namespace {

// Byte offsets of the vertex record and its height, in words.
constexpr std::int16_t kFirstHeightWord = 2;  // bytes 8 to 11 of the first record
constexpr std::int16_t kRecordWords = 8;      // 32-byte records
// The last height visited is at most this many words before the block's end
// (block length / 4), whether or not the final record is complete.
constexpr std::int32_t kLastHeightBeforeEnd = 5;

constexpr std::uint32_t kExponentMask = 0x7F800000;
constexpr std::uint32_t kQuietBit = 0x00400000;
constexpr std::uint32_t kFractionMask = 0x007FFFFF;

bool IsNaN(std::uint32_t bits) {
  return (bits & kExponentMask) == kExponentMask && (bits & kFractionMask) != 0;
}
bool IsSignallingNaN(std::uint32_t bits) { return IsNaN(bits) && (bits & kQuietBit) == 0; }
bool IsInfinite(std::uint32_t bits) { return (bits & ~0x80000000U) == kExponentMask; }
bool IsZero(std::uint32_t bits) { return (bits & ~0x80000000U) == 0; }

// The IEEE-754 single product height × factor. The invalid-operation and
// overflow conditions are decided from the operands' bit patterns and the
// product's class rather than from the FPU flags: loading a signalling NaN
// into a register may already quiet it, and the optimiser is free to drop or
// reorder flag reads.
std::int32_t MultiplyHeight(std::int32_t height_word, float factor) {
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

  // Both singles have 24-bit significands, so their product is exact in a
  // double; the one rounding is the narrowing back to single.
  const float product = static_cast<float>(static_cast<double>(BitsToSingle(height_word)) *
                                           static_cast<double>(factor));
  if (IsInfinite(std::bit_cast<std::uint32_t>(product)) && !IsInfinite(height) &&
      !IsInfinite(factor_bits)) {
    throw FloatingPointError("height product beyond the single range");
  }
  return SingleToBits(product);
}

}  // namespace

void CheckImageFits(std::int64_t word_count) {
  CheckedNarrow<std::int16_t>(word_count - 1, "last word index");
}

void ScaleHeights(WordImage& words, float scale_factor) {
  CheckImageFits(words.WordCount());
  const auto last_index = static_cast<std::int16_t>(words.WordCount() - 1);

  for (std::int16_t i = 0; i <= last_index;) {
    if (words.Word(i) != kVertexTag) {
      // At 32767 this throws: a full 32768-word image without the tag fails.
      i = CheckedAdd<std::int16_t>(i, 1, "word position");
      continue;
    }
    const std::int32_t start =
        words.Word(CheckedAdd<std::int16_t>(i, 1, "block offset position")) / 4;
    const std::int32_t block_words =
        words.Word(CheckedAdd<std::int16_t>(i, 2, "block length position")) / 4;
    const auto last = CheckedNarrow<std::int16_t>(
        CheckedSub<std::int32_t>(block_words, kLastHeightBeforeEnd, "block length / 4 - 5"),
        "block length / 4 - 5");

    for (std::int16_t j = kFirstHeightWord; j <= last;) {
      const std::int32_t k = CheckedAdd<std::int32_t>(start, j, "height word");
      words.SetWord(k, MultiplyHeight(words.Word(k), scale_factor));
      // Throws after the body ran for 32762: the position leaves 16 bits.
      j = CheckedAdd<std::int16_t>(j, kRecordWords, "record position");
    }
    return;  // only the first tagged entry counts
  }
}

}  // namespace vendrake::engine
