#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

namespace vendrake::engine {

// A model file held whole in memory and seen as zero-based signed 32-bit
// little-endian words: word k is bytes 4k to 4k+3. The 1 to 3 bytes after the
// last whole word are kept as they are, so the image writes back to a file of
// the length it was read from.
//
// Storage is kept between files: making room for a file no larger than one
// seen before allocates nothing.
class WordImage {
 public:
  // Makes the image `byte_count` bytes long; the bytes are to be filled by
  // the caller (through MutableBytes) before any word is read.
  void Resize(std::size_t byte_count);

  std::span<std::uint8_t> MutableBytes() { return {storage_.get(), size_}; }
  std::span<const std::uint8_t> Bytes() const { return {storage_.get(), size_}; }

  // The number of whole words: byte length divided by 4, rounded down.
  std::int64_t WordCount() const { return static_cast<std::int64_t>(size_ / 4); }

  // Word `index`; throws SubscriptError when it is not within the image.
  std::int32_t Word(std::int64_t index) const {
    CheckIndex(index);
    std::uint32_t raw;
    std::memcpy(&raw, storage_.get() + 4 * index, sizeof raw);
    return std::bit_cast<std::int32_t>(FromLittleEndian(raw));
  }

  // Sets word `index`; throws SubscriptError when it is not within the image.
  void SetWord(std::int64_t index, std::int32_t value) {
    CheckIndex(index);
    const std::uint32_t raw = FromLittleEndian(std::bit_cast<std::uint32_t>(value));
    std::memcpy(storage_.get() + 4 * index, &raw, sizeof raw);
  }

  // The index of the first word equal to `value`, or WordCount() if none is.
  std::int64_t FindWord(std::int32_t value) const;

  // Replaces each of the `count` words first, first + stride, ... by
  // rewrite(word), in that order; they must all lie within the image
  // (SubscriptError otherwise, before any is touched). Should `rewrite`
  // throw, the words before stay rewritten.
  template <typename Rewrite>
  void RewriteWords(std::int64_t first, std::int64_t count, std::int64_t stride, Rewrite rewrite) {
    if (count <= 0) return;
    CheckIndex(first);
    CheckIndex(first + (count - 1) * stride);
    // A local pointer: the stores cannot then be taken to alias this object.
    std::uint8_t* word = storage_.get() + 4 * first;
    for (std::int64_t n = 0; n < count; ++n, word += 4 * stride) {
      std::uint32_t raw;
      std::memcpy(&raw, word, sizeof raw);
      raw = FromLittleEndian(std::bit_cast<std::uint32_t>(
          rewrite(std::bit_cast<std::int32_t>(FromLittleEndian(raw)))));
      std::memcpy(word, &raw, sizeof raw);
    }
  }

 private:
  static std::uint32_t FromLittleEndian(std::uint32_t raw) {
    if constexpr (std::endian::native == std::endian::big) return __builtin_bswap32(raw);
    return raw;
  }

  void CheckIndex(std::int64_t index) const {
    if (index < 0 || index >= WordCount()) [[unlikely]] {
      ThrowOutside(index);
    }
  }
  [[noreturn]] void ThrowOutside(std::int64_t index) const;

  std::unique_ptr<std::uint8_t[]> storage_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

}  // namespace vendrake::engine
