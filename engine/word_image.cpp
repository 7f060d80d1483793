#include "engine/word_image.h"

#include <string>

#include "engine/errors.h"

namespace vendrake::engine {

void WordImage::Resize(std::size_t byte_count) {
  if (byte_count > capacity_) {
    // No zero fill: every byte is overwritten by the file's contents.
    storage_ = std::make_unique_for_overwrite<std::uint8_t[]>(byte_count);
    capacity_ = byte_count;
  }
  size_ = byte_count;
}

std::int64_t WordImage::FindWord(std::int32_t value) const {
  const std::uint32_t wanted = FromLittleEndian(std::bit_cast<std::uint32_t>(value));
  const std::int64_t count = WordCount();
  const std::uint8_t* bytes = storage_.get();
  // Whole blocks first, compared without an early exit inside the block so
  // the compiler can turn the comparisons into vector instructions.
  constexpr std::int64_t kBlockWords = 64;
  std::int64_t block = 0;
  for (; block + kBlockWords <= count; block += kBlockWords) {
    const std::uint8_t* words = bytes + 4 * block;
    std::uint32_t matches = 0;
    for (std::int64_t k = 0; k < kBlockWords; ++k) {
      std::uint32_t raw;
      std::memcpy(&raw, words + 4 * k, sizeof raw);
      matches |= static_cast<std::uint32_t>(-(raw == wanted));
    }
    if (matches != 0) break;
  }
  for (std::int64_t index = block; index < count; ++index) {
    std::uint32_t raw;
    std::memcpy(&raw, bytes + 4 * index, sizeof raw);
    if (raw == wanted) return index;
  }
  return count;
}

void WordImage::ThrowOutside(std::int64_t index) const {
  throw SubscriptError("word " + std::to_string(index) + " is outside the image of " +
                       std::to_string(WordCount()) + " words");
}

}  // namespace vendrake::engine
