#include "cli/utf16_output_buffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace vendrake::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Utf16OutputBufferTest : public ::testing::Test {
 protected:
  std::vector<std::u16string> written_;
  bool fails_ = false;
  Utf16OutputBuffer buffer_{[this](std::u16string_view text) {
    written_.emplace_back(text);
    return !fails_;
  }};
  std::ostream out_{&buffer_};
};

// "é" is C3 A9 and U+1F600 is F0 9F 98 80: both arrive split across writes.
TEST_F(Utf16OutputBufferTest, HandsOnWholeLinesAndNeverHalfACharacter) {
  out_ << "caf\xC3";
  EXPECT_THAT(written_, IsEmpty());
  out_ << "\xA9\n\xF0\x9F";
  EXPECT_THAT(written_, ElementsAre(u"caf\u00E9\n"));
  out_ << "\x98\x80";
  out_.flush();
  EXPECT_THAT(written_, ElementsAre(u"caf\u00E9\n", u"\U0001F600"));
  EXPECT_TRUE(out_.good());
}

TEST_F(Utf16OutputBufferTest, AFlushKeepsAnUnfinishedCharacterForLater) {
  out_ << "ab\xE2\x82";
  out_.flush();
  out_ << "\xAC";
  out_.flush();
  EXPECT_THAT(written_, ElementsAre(u"ab", u"\u20AC"));
}

// Bytes that are not UTF-8 go on as the lone surrogates that stand for them.
TEST_F(Utf16OutputBufferTest, BytesThatAreNoUtf8GoOnAsTheirStandIns) {
  out_ << "x\xFFy\n";
  EXPECT_THAT(written_, ElementsAre(u"x\xDCFFy\n"));
}

TEST_F(Utf16OutputBufferTest, TheStreamFailsWhenTheConsoleTakesNothing) {
  fails_ = true;
  out_ << "lost\n";
  EXPECT_TRUE(out_.bad());
}

}  // namespace
}  // namespace vendrake::cli
