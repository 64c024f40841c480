#include "mediagraph/decode/yuv420_to_bgr24.h"

#include <algorithm>

namespace mediagraph {

namespace {

// The vector instructions' arithmetic, one lane at a time.
int16_t Saturate(int32_t value) {
  return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

int16_t MultiplyRounded(int16_t a, int16_t b) {
  return static_cast<int16_t>((int32_t{a} * b + 0x4000) >> 15);
}

uint8_t ToByte(int16_t sum) { return static_cast<uint8_t>(std::clamp(sum >> 6, 0, 255)); }

int16_t Rounded(int64_t value, int divisor) {
  return static_cast<int16_t>((value + (value >= 0 ? divisor / 2 : -divisor / 2)) / divisor);
}

}  // namespace

Yuv420Matrix MakeYuv420Matrix(const int *table, bool fullRange) {
  // libswscale's scaling: limited range stretches luma from 16..235, full
  // range narrows the chroma weights made for 16..240.
  int64_t luma = 1 << 16;
  int64_t weights[4] = {table[0], table[1], table[2], table[3]};
  if (fullRange) {
    for (int64_t &weight : weights) weight = weight * 224 / 255;
  } else {
    luma = luma * 255 / 219;
  }
  Yuv420Matrix matrix{};
  matrix.lumaOffset = fullRange ? 0 : 16;
  matrix.luma = Rounded(luma, 4);
  matrix.redV = Rounded(weights[0], 8);
  matrix.blueU = Rounded(weights[1], 8);
  matrix.greenU = Rounded(-weights[2], 8);
  matrix.greenV = Rounded(-weights[3], 8);
  return matrix;
}

MEDIAGRAPH_READS_DECODER_PLANES
void Yuv420ToBgr24RowFrom(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *out,
                          int first, int width, const Yuv420Matrix &matrix) {
  out += static_cast<ptrdiff_t>(first) * 3;
  for (int x = first; x < width; ++x) {
    const auto uc = static_cast<int16_t>((u[x >> 1] - 128) * 256);
    const auto vc = static_cast<int16_t>((v[x >> 1] - 128) * 256);
    const auto luma = static_cast<int16_t>((y[x] - matrix.lumaOffset) * 128);
    const int16_t base = Saturate(MultiplyRounded(luma, matrix.luma) + 32);
    const int16_t green =
        Saturate(MultiplyRounded(uc, matrix.greenU) + MultiplyRounded(vc, matrix.greenV));
    out[0] = ToByte(Saturate(base + MultiplyRounded(uc, matrix.blueU)));
    out[1] = ToByte(Saturate(base + green));
    out[2] = ToByte(Saturate(base + MultiplyRounded(vc, matrix.redV)));
    out += 3;
  }
}

MEDIAGRAPH_READS_DECODER_PLANES
void Yuv420ToBgr24RowScalar(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *out,
                            int width, const Yuv420Matrix &matrix) {
  Yuv420ToBgr24RowFrom(y, u, v, out, 0, width, matrix);
}

Yuv420Row *ChosenYuv420Row() {
#ifdef MEDIAGRAPH_X86_KERNELS
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return Yuv420ToBgr24RowAvx2;
#endif
  return Yuv420ToBgr24RowScalar;
}

void Yuv420ToBgr24(const Yuv420Picture &picture, uint8_t *top, ptrdiff_t outPitch,
                   const Yuv420Matrix &matrix, Yuv420Row *row) {
  for (int r = 0; r < picture.height; ++r) {
    const ptrdiff_t chroma = r >> 1;
    row(picture.planes[0] + r * picture.pitches[0], picture.planes[1] + chroma * picture.pitches[1],
        picture.planes[2] + chroma * picture.pitches[2], top + r * outPitch, picture.width, matrix);
  }
}

}  // namespace mediagraph
