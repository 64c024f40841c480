#include "filterbase/mul_div.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

constexpr LONGLONG kLargest = std::numeric_limits<LONGLONG>::max();
constexpr LONGLONG kSmallest = std::numeric_limits<LONGLONG>::min();

TEST(MulDivRound64, TruncatesTowardZeroWithEverySign) {
  EXPECT_EQ(MulDivRound64(3, 4, 5, 0), 2);
  EXPECT_EQ(MulDivRound64(-3, 4, 5, 0), -2);
  EXPECT_EQ(MulDivRound64(3, -4, 5, 0), -2);
  EXPECT_EQ(MulDivRound64(-3, -4, 5, 0), 2);
  EXPECT_EQ(MulDivRound64(3, 4, -5, 0), -2);
  EXPECT_EQ(MulDivRound64(-3, 4, -5, 0), 2);
  EXPECT_EQ(MulDivRound64(-3, -4, -5, 0), -2);
}

TEST(MulDivRound64, AddsTheAddendToTheSignedProduct) {
  EXPECT_EQ(MulDivRound64(3, 4, 5, 3), 3);    // 15 / 5
  EXPECT_EQ(MulDivRound64(-3, 4, 5, 3), -1);  // -9 / 5
  EXPECT_EQ(MulDivRound64(-3, 4, 5, 20), 1);  // 8 / 5: the sum changes sign
  EXPECT_EQ(MulDivRound64(3, 4, 5, -20), -1); // -8 / 5
  EXPECT_EQ(MulDivRound64(0, 4, 5, -10), -2);
  EXPECT_EQ(MulDivRound64(3, 4, -5, 3), -3);
}

TEST(MulDivRound64, KeepsTheFull128BitProduct) {
  // 10^12 * 10^12 overflows 64 bits; the quotient does not.
  EXPECT_EQ(MulDivRound64(1000000000000LL, 1000000000000LL, 1000000000LL, 0),
            1000000000000000LL);
  // The smallest value's magnitude (2^63) survives the sign handling.
  EXPECT_EQ(MulDivRound64(kSmallest, 1, 1, 0), kSmallest);
  EXPECT_EQ(MulDivRound64(kSmallest, 2, 2, 0), kSmallest);
  EXPECT_EQ(MulDivRound64(kLargest, kLargest, kLargest, 0), kLargest);
  // A typical clock conversion: 100 ns units from a 90 kHz count, rounded by the addend.
  EXPECT_EQ(MulDivRound64(90001, 10000000, 90000, 45000), 10000111);
}

TEST(MulDivRound64, SaturatesWhenTheQuotientDoesNotFit) {
  EXPECT_EQ(MulDivRound64(LONGLONG{1} << 62, 4, 1, 0), kLargest);
  EXPECT_EQ(MulDivRound64(-(LONGLONG{1} << 62), 4, 1, 0), kSmallest);
  EXPECT_EQ(MulDivRound64(LONGLONG{1} << 62, 4, -1, 0), kSmallest);
}

TEST(MulDivRound64, SaturatesAQuotientBetween2To63And2To64) {
  // The upper half of the product is below the divisor here, yet the quotient
  // needs 64 unsigned bits; it must not wrap to a negative value.
  EXPECT_EQ(MulDivRound64(kLargest, 2, 1, 0), kLargest);
  EXPECT_EQ(MulDivRound64(kLargest, -2, 1, 0), kSmallest);
  EXPECT_EQ(MulDivRound64(kLargest, 3, 2, 0), kLargest);
  // Exactly 2^63 fits only as a negative value.
  EXPECT_EQ(MulDivRound64(LONGLONG{1} << 62, -2, 1, 0), kSmallest);
  EXPECT_EQ(MulDivRound64(LONGLONG{1} << 62, 2, 1, 0), kLargest);
}

TEST(MulDivRound64, ZeroDivisorSaturatesBySignOfTheDividend) {
  EXPECT_EQ(MulDivRound64(3, 4, 0, 0), kLargest);
  EXPECT_EQ(MulDivRound64(-3, 4, 0, 0), kSmallest);
  EXPECT_EQ(MulDivRound64(3, 4, 0, -13), kSmallest);
  EXPECT_EQ(MulDivRound64(-3, 4, 0, 13), kLargest);
  EXPECT_EQ(MulDivRound64(0, 0, 0, 0), kLargest);  // zero is not negative
  EXPECT_EQ(MulDivRound64(0, -5, 0, 0), kLargest);
}

}  // namespace
