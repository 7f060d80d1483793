#include "engine/word_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/errors.h"
#include "tests/support/model_bytes.h"

namespace vendrake::engine {
namespace {

using testing::ImageOfBytes;

std::vector<std::uint8_t> BytesOf(const WordImage& image) {
  return {image.Bytes().begin(), image.Bytes().end()};
}

TEST(WordImage, WordsAreLittleEndian) {
  const std::vector<std::uint8_t> bytes = {0x5F, 0x5F, 0x38, 0x55, 0x00, 0x00, 0x00, 0x80,
                                           0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x03, 0x04};
  const WordImage image = ImageOfBytes(bytes);
  EXPECT_EQ(image.Word(0), 0x55385F5F);
  EXPECT_EQ(image.Word(1), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(image.Word(2), -1);
  EXPECT_EQ(image.Word(3), 0x04030201);
}

TEST(WordImage, SetWordWritesLittleEndianAndKeepsTheTrailingBytes) {
  WordImage image =
      ImageOfBytes(std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 0xA1, 0xB2, 0xC3});
  image.SetWord(1, std::numeric_limits<std::int32_t>::min());
  image.SetWord(0, 0x55385F5F);
  EXPECT_EQ(BytesOf(image), (std::vector<std::uint8_t>{0x5F, 0x5F, 0x38, 0x55, 0x00, 0x00, 0x00,
                                                       0x80, 0xA1, 0xB2, 0xC3}));
}

TEST(WordImage, WordCountIsTheByteLengthOverFourRoundedDown) {
  const std::array<std::int64_t, 10> expected = {0, 0, 0, 0, 1, 1, 1, 1, 2, 2};
  for (std::size_t length = 0; length < expected.size(); ++length) {
    WordImage image;
    image.Resize(length);
    EXPECT_EQ(image.WordCount(), expected[length]) << length << " bytes";
  }
}

TEST(WordImage, IndicesOutsideTheWholeWordsAreSubscriptErrors) {
  // 7 bytes: one word, and bytes 4 to 6 that are not a word of their own.
  WordImage image = ImageOfBytes(std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7});
  for (const std::int64_t index : {std::int64_t{-1}, std::int64_t{1}, std::int64_t{1} << 32}) {
    EXPECT_THROW(image.Word(index), SubscriptError) << index;
    EXPECT_THROW(image.SetWord(index, 0), SubscriptError) << index;
  }
  EXPECT_EQ(BytesOf(image), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_THROW(WordImage().Word(0), SubscriptError);
}

TEST(WordImage, ResizeReusesStorageForSmallerAndEqualSizes) {
  WordImage image;
  image.Resize(16);
  const std::uint8_t* storage = image.Bytes().data();
  image.Resize(6);
  EXPECT_EQ(image.WordCount(), 1);
  EXPECT_THROW(image.Word(1), SubscriptError);
  image.SetWord(0, 7);
  image.Resize(16);
  EXPECT_EQ(image.Bytes().data(), storage);
  EXPECT_EQ(image.Word(0), 7);
  image.SetWord(3, 9);
  EXPECT_EQ(image.Word(3), 9);

  image.Resize(40);
  EXPECT_EQ(image.WordCount(), 10);
  for (std::int32_t k = 0; k < 10; ++k) image.SetWord(k, k * 1000);
  for (std::int32_t k = 0; k < 10; ++k) EXPECT_EQ(image.Word(k), k * 1000);
  EXPECT_EQ(image.Bytes().size(), 40U);
}

}  // namespace
}  // namespace vendrake::engine
