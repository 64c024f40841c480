// Sums and differences of 100 ns times that stop at the ends of the range
// instead of overflowing: damaged files carry time stamps anywhere in it.
#pragma once

#include <cstdint>

#include "platform/media/media.h"

inline REFERENCE_TIME AddTimesSaturated(REFERENCE_TIME a, REFERENCE_TIME b) {
  REFERENCE_TIME sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? INT64_MAX : INT64_MIN;
}

inline REFERENCE_TIME SubtractTimesSaturated(REFERENCE_TIME a, REFERENCE_TIME b) {
  REFERENCE_TIME difference = 0;
  if (!__builtin_sub_overflow(a, b, &difference)) return difference;
  return b < 0 ? INT64_MAX : INT64_MIN;
}
