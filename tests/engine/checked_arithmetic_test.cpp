#include "engine/checked_arithmetic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "engine/errors.h"

namespace vendrake::engine {
namespace {

using I16 = std::int16_t;
using I32 = std::int32_t;
constexpr I32 kMax32 = std::numeric_limits<I32>::max();
constexpr I32 kMin32 = std::numeric_limits<I32>::min();

TEST(CheckedArithmetic, SixteenBitAddAndSubReachTheLimitsAndThrowPastThem) {
  EXPECT_EQ(CheckedAdd<I16>(32766, 1, "i"), 32767);
  EXPECT_EQ(CheckedAdd<I16>(-32767, -1, "i"), -32768);
  EXPECT_EQ(CheckedSub<I16>(-32767, 1, "i"), -32768);
  EXPECT_EQ(CheckedSub<I16>(32766, -1, "i"), 32767);
  EXPECT_THROW(CheckedAdd<I16>(32767, 1, "i"), OverflowError);
  EXPECT_THROW(CheckedAdd<I16>(-32768, -1, "i"), OverflowError);
  EXPECT_THROW(CheckedSub<I16>(-32768, 1, "i"), OverflowError);
  EXPECT_THROW(CheckedSub<I16>(32767, -1, "i"), OverflowError);
}

TEST(CheckedArithmetic, ThirtyTwoBitAddAndSubReachTheLimitsAndThrowPastThem) {
  EXPECT_EQ(CheckedAdd<I32>(kMax32 - 1, 1, "k"), kMax32);
  EXPECT_EQ(CheckedAdd<I32>(kMin32 + 1, -1, "k"), kMin32);
  EXPECT_EQ(CheckedSub<I32>(kMin32 + 1, 1, "k"), kMin32);
  EXPECT_EQ(CheckedSub<I32>(kMax32, kMax32, "k"), 0);
  EXPECT_THROW(CheckedAdd<I32>(kMax32, 1, "k"), OverflowError);
  EXPECT_THROW(CheckedAdd<I32>(kMin32, -1, "k"), OverflowError);
  EXPECT_THROW(CheckedSub<I32>(kMin32, 1, "k"), OverflowError);
  EXPECT_THROW(CheckedSub<I32>(0, kMin32, "k"), OverflowError);
}

TEST(CheckedArithmetic, NarrowingKeepsInRangeValuesAndThrowsJustPastThem) {
  EXPECT_EQ(CheckedNarrow<I16>(I32{32767}, "n"), 32767);
  EXPECT_EQ(CheckedNarrow<I16>(I32{-32768}, "n"), -32768);
  EXPECT_THROW(CheckedNarrow<I16>(I32{32768}, "n"), OverflowError);
  EXPECT_THROW(CheckedNarrow<I16>(I32{-32769}, "n"), OverflowError);
  EXPECT_EQ(CheckedNarrow<I32>(std::int64_t{kMax32}, "n"), kMax32);
  EXPECT_EQ(CheckedNarrow<I32>(std::int64_t{kMin32}, "n"), kMin32);
  EXPECT_THROW(CheckedNarrow<I32>(std::int64_t{kMax32} + 1, "n"), OverflowError);
  EXPECT_THROW(CheckedNarrow<I32>(std::int64_t{kMin32} - 1, "n"), OverflowError);
  // A huge unsigned value must not wrap into range.
  EXPECT_THROW(CheckedNarrow<I16>(std::uint64_t{1} << 63, "n"), OverflowError);
}

}  // namespace
}  // namespace vendrake::engine
