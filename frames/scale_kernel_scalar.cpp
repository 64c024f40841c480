// The row kernels in plain C++: the formula's arithmetic in the two-pass
// shape, the portable path on machines without a vector kernel, and the
// finish of every row the vector kernels do not fill whole.
#include "frames/scale_kernels.h"
#include "frames/scale_to_fit.h"

namespace {

template <int kBytes>
void AlongColumns(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out, int first,
                  int16_t fourth) {
  const int32_t *columns = plan.ColumnIndices();
  const uint16_t *weights = plan.ColumnWeights();
  const ptrdiff_t right = plan.SourceWidth() > 1 ? kBytes : 0;
  for (int i = first; i < plan.Width(); ++i) {
    const Uint8 *left = sourceRow + static_cast<ptrdiff_t>(columns[i]) * kBytes;
    const int32_t ex = weights[i * 4];
    for (int b = 0; b < kBytes; ++b) {
      // 32-bit product, arithmetic shift, no rounding term.
      out[i * 4 + b] = static_cast<int16_t>(left[b] + (((left[right + b] - left[b]) * ex) >> 16));
    }
    if (kBytes == 3) {
      out[i * 4 + 3] = fourth;
    }
  }
}

void AlongRow(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out) {
  AlongColumns<4>(plan, sourceRow, out, 0, 0);
}

void AlongRow24(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out, int16_t fourth) {
  AlongColumns<3>(plan, sourceRow, out, 0, fourth);
}

void BetweenRows(const int16_t *upper, const int16_t *lower, uint16_t weight, Uint8 *out,
                 int count) {
  BetweenRowsFrom(upper, lower, weight, out, 0, count);
}

}  // namespace

void AlongRowFrom(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out, int first) {
  AlongColumns<4>(plan, sourceRow, out, first, 0);
}

void AlongRow24From(const ScalePlan &plan, const Uint8 *sourceRow, int16_t *out, int first,
                    int16_t fourth) {
  AlongColumns<3>(plan, sourceRow, out, first, fourth);
}

void BetweenRowsFrom(const int16_t *upper, const int16_t *lower, uint16_t weight, Uint8 *out,
                     int first, int count) {
  const int32_t ey = weight;
  for (int k = first; k < count; ++k) {
    out[k] = static_cast<Uint8>((upper[k] + (((lower[k] - upper[k]) * ey) >> 16)) & 0xFF);
  }
}

ScaleRowKernel ScalarScaleRowKernel() { return {AlongRow, AlongRow24, BetweenRows}; }
