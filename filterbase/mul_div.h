// 64-bit multiply-divide with an exact 128-bit intermediate.
#pragma once

#include "platform/win32/types.h"

// (x * y + addend) / divisor, truncated toward zero. A quotient that does not
// fit in 64 bits, a zero divisor included, saturates to the largest value, or
// to the smallest when the exact result is negative.
LONGLONG MulDivRound64(LONGLONG x, LONGLONG y, LONGLONG divisor, LONGLONG addend);
