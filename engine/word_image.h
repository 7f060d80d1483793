#pragma once

#include <cstddef>
#include <cstdint>
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
  std::int32_t Word(std::int64_t index) const;
  // Sets word `index`; throws SubscriptError when it is not within the image.
  void SetWord(std::int64_t index, std::int32_t value);

 private:
  std::uint8_t* WordAddress(std::int64_t index) const;

  std::unique_ptr<std::uint8_t[]> storage_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

}  // namespace vendrake::engine
