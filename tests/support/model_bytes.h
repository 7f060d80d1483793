#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "engine/word_image.h"

namespace vendrake::testing {

// Little-endian bytes of the given words, then `tail` as they are.
std::vector<std::uint8_t> BytesOfWords(std::span<const std::int32_t> words,
                                       std::initializer_list<std::uint8_t> tail = {});

// A word image holding exactly `bytes`.
engine::WordImage ImageOfBytes(std::span<const std::uint8_t> bytes);

// A word image of the given words.
engine::WordImage ImageOfWords(std::span<const std::int32_t> words);

// The words of an image, for comparing whole images.
std::vector<std::int32_t> WordsOf(const engine::WordImage& image);

// The bits of a single as a word, and back.
std::int32_t Bits(float value);
float Single(std::int32_t bits);

}  // namespace vendrake::testing
