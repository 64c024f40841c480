#include "filterbase/mul_div.h"

#include <cstdint>
#include <limits>

namespace {

__extension__ typedef unsigned __int128 Magnitude;
__extension__ typedef __int128 Signed128;

uint64_t MagnitudeOf(LONGLONG value) {
  // Unsigned negation keeps the smallest value's magnitude (2^63) exact.
  return value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
}

}  // namespace

LONGLONG MulDivRound64(LONGLONG x, LONGLONG y, LONGLONG divisor, LONGLONG addend) {
  bool negative = (x < 0) != (y < 0);
  Magnitude magnitude = static_cast<Magnitude>(MagnitudeOf(x)) * MagnitudeOf(y);

  if (addend != 0) {
    // |x * y| < 2^126, so the signed 128-bit sum cannot overflow.
    Signed128 sum = static_cast<Signed128>(magnitude);
    if (negative) sum = -sum;
    sum += addend;
    negative = sum < 0;
    magnitude = negative ? static_cast<Magnitude>(-sum) : static_cast<Magnitude>(sum);
  }
  if (magnitude == 0) negative = false;  // zero is not negative, whatever the signs
  if (divisor < 0) negative = !negative;

  const uint64_t divisorMagnitude = MagnitudeOf(divisor);
  const LONGLONG largest = std::numeric_limits<LONGLONG>::max();
  const LONGLONG smallest = std::numeric_limits<LONGLONG>::min();
  if (static_cast<uint64_t>(magnitude >> 64) >= divisorMagnitude) {
    return negative ? smallest : largest;
  }
  const uint64_t quotient = static_cast<uint64_t>(magnitude / divisorMagnitude);
  // A quotient below 2^64 can still be beyond the signed range.
  if (negative) {
    if (quotient > MagnitudeOf(smallest)) return smallest;
    return static_cast<LONGLONG>(0 - quotient);
  }
  if (quotient > static_cast<uint64_t>(largest)) return largest;
  return static_cast<LONGLONG>(quotient);
}
