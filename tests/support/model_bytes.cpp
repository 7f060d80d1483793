#include "tests/support/model_bytes.h"

#include <algorithm>
#include <bit>

namespace vendrake::testing {

std::vector<std::uint8_t> BytesOfWords(std::span<const std::int32_t> words,
                                       std::initializer_list<std::uint8_t> tail) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(words.size() * 4 + tail.size());
  for (const std::int32_t word : words) {
    const auto raw = std::bit_cast<std::uint32_t>(word);
    for (int shift = 0; shift < 32; shift += 8)
      bytes.push_back(static_cast<std::uint8_t>(raw >> shift));
  }
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

engine::WordImage ImageOfBytes(std::span<const std::uint8_t> bytes) {
  engine::WordImage image;
  image.Resize(bytes.size());
  std::copy(bytes.begin(), bytes.end(), image.MutableBytes().begin());
  return image;
}

engine::WordImage ImageOfWords(std::span<const std::int32_t> words) {
  return ImageOfBytes(BytesOfWords(words));
}

std::vector<std::int32_t> WordsOf(const engine::WordImage& image) {
  std::vector<std::int32_t> words;
  words.reserve(static_cast<std::size_t>(image.WordCount()));
  for (std::int64_t k = 0; k < image.WordCount(); ++k) words.push_back(image.Word(k));
  return words;
}

std::int32_t Bits(float value) { return std::bit_cast<std::int32_t>(value); }
float Single(std::int32_t bits) { return std::bit_cast<float>(bits); }

}  // namespace vendrake::testing
