#include "engine/word_image.h"

#include <bit>
#include <cstring>
#include <string>

#include "engine/errors.h"

namespace vendrake::engine {
namespace {

std::uint32_t FromLittleEndian(std::uint32_t raw) {
  if constexpr (std::endian::native == std::endian::big) return __builtin_bswap32(raw);
  return raw;
}

}  // namespace

void WordImage::Resize(std::size_t byte_count) {
  if (byte_count > capacity_) {
    // No zero fill: every byte is overwritten by the file's contents.
    storage_ = std::make_unique_for_overwrite<std::uint8_t[]>(byte_count);
    capacity_ = byte_count;
  }
  size_ = byte_count;
}

std::uint8_t* WordImage::WordAddress(std::int64_t index) const {
  if (index < 0 || index >= WordCount()) {
    throw SubscriptError("word " + std::to_string(index) + " is outside the image of " +
                         std::to_string(WordCount()) + " words");
  }
  return storage_.get() + 4 * index;
}

std::int32_t WordImage::Word(std::int64_t index) const {
  std::uint32_t raw;
  std::memcpy(&raw, WordAddress(index), sizeof raw);
  return std::bit_cast<std::int32_t>(FromLittleEndian(raw));
}

void WordImage::SetWord(std::int64_t index, std::int32_t value) {
  const std::uint32_t raw = FromLittleEndian(std::bit_cast<std::uint32_t>(value));
  std::memcpy(WordAddress(index), &raw, sizeof raw);
}

}  // namespace vendrake::engine
