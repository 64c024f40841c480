// The row kernels in plain C++: the formula's arithmetic in the two-pass
// shape, the portable path on machines without a vector kernel, and the
// finish of every row the vector kernels do not fill whole.
#include "frames/scale_kernels.h"
#include "frames/scale_to_fit.h"

void AlongRowFrom(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out, int first) {
  const int32_t *offsets = plan.ColumnOffsets();
  const uint16_t *weights = plan.ColumnWeights();
  const ptrdiff_t right = plan.RightNeighbour();
  for (int i = first; i < plan.Width(); ++i) {
    const Uint8 *left = sourceRow + offsets[i];
    const int32_t ex = weights[i * 4];
    for (int b = 0; b < 4; ++b) {
      // 32-bit product, arithmetic shift, no rounding term.
      out[i * 4 + b] = static_cast<int16_t>(left[b] + (((left[right + b] - left[b]) * ex) >> 16));
    }
  }
}

void BetweenRowsFrom(const int16_t *upper, const int16_t *lower, uint16_t weight, Uint8 *out,
                     int first, int count) {
  const int32_t ey = weight;
  for (int k = first; k < count; ++k) {
    out[k] = static_cast<Uint8>((upper[k] + (((lower[k] - upper[k]) * ey) >> 16)) & 0xFF);
  }
}

namespace {

void AlongRow(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out) {
  AlongRowFrom(plan, sourceRow, out, 0);
}

void BetweenRows(const int16_t *upper, const int16_t *lower, uint16_t weight, Uint8 *out,
                 int count) {
  BetweenRowsFrom(upper, lower, weight, out, 0, count);
}

}  // namespace

ScaleRowKernel ScalarScaleRowKernel() { return {AlongRow, BetweenRows}; }
