#include "frames/scale_to_fit.h"
#include "frames/pixel_convert.h"
#include "frames/scale_geometry.h"
#include "frames/scale_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "tests/frames/alloc_failure.h"
#include "tests/frames/reference_scale.h"
#include "tests/frames/test_surfaces.h"

namespace {

// Destination bytes never written by a fit: source pixels all carry alpha
// 0xFF and interpolating 0xFF gives 0xFF, so alpha 0 marks the bars.
constexpr Uint8 kBar = 0x00;

SurfacePtr OpaqueSource(int width, int height, std::mt19937 &random) {
  SurfacePtr surface = MakeSurface32(width, height);
  FillRandom(surface.get(), random);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const_cast<Uint8 *>(PixelAt(surface.get(), x, y))[3] = 0xFF;
    }
  }
  return surface;
}

struct Box {
  int left = -1;
  int top = -1;
  int right = -1;  // inclusive
  int bottom = -1;
  long count = 0;
};

// The bounding box of written pixels, and how many there are.
Box WrittenBox(const SDL_Surface *surface) {
  Box box;
  for (int y = 0; y < surface->h; ++y) {
    for (int x = 0; x < surface->w; ++x) {
      if (PixelAt(surface, x, y)[3] == kBar) {
        continue;
      }
      if (box.count++ == 0) {
        box = {x, y, x, y, 1};
      }
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
    }
  }
  return box;
}

struct FitCase {
  int sw, sh, dw, dh;
  int left, top, right, bottom;
};

TEST(ScaleToFit, FitsCentresAndNeverWritesTheBars) {
  const FitCase cases[] = {
      {320, 240, 640, 480, 0, 0, 639, 479},    // equal scale: no bars
      {640, 480, 1280, 720, 160, 0, 1119, 719},  // pillarbox
      {1280, 720, 640, 480, 0, 60, 639, 419},    // letterbox
      {100, 100, 101, 50, 25, 0, 74, 49},        // odd margin rounds down on the left
  };
  std::mt19937 random(1);
  for (const FitCase &c : cases) {
    SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh);
    SurfacePtr source = OpaqueSource(c.sw, c.sh, random);
    SurfacePtr destination = MakeSurface32(c.dw, c.dh);
    FillBytes(destination.get(), kBar);
    ASSERT_EQ(ScaleToFit(source.get(), destination.get()), 0);
    const Box box = WrittenBox(destination.get());
    EXPECT_EQ(box.left, c.left);
    EXPECT_EQ(box.top, c.top);
    EXPECT_EQ(box.right, c.right);
    EXPECT_EQ(box.bottom, c.bottom);
    EXPECT_EQ(box.count, long{c.right - c.left + 1} * (c.bottom - c.top + 1));
    // Both fractions are 0 at the fitted rectangle's first pixel.
    EXPECT_EQ(0, std::memcmp(PixelAt(destination.get(), c.left, c.top),
                             PixelAt(source.get(), 0, 0), 4));
  }
}

TEST(ScaleToFit, InterpolatesWithTruncatedSixteenBitFractions) {
  // 320 -> 640: the column step is trunc(65536 * 319 / 640) = 32665, so the
  // second pixel lies 32665/65536 of the way from column 0 to column 1.
  SurfacePtr source = MakeSurface32(320, 240);
  FillBytes(source.get(), 0);
  auto *first = const_cast<Uint8 *>(PixelAt(source.get(), 1, 0));
  first[0] = 200;  // 200 * 32665 >> 16 = 99; a half step would give 100
  first[1] = 255;
  SurfacePtr destination = MakeSurface32(640, 480);
  ASSERT_EQ(ScaleToFit(source.get(), destination.get()), 0);
  EXPECT_EQ(PixelAt(destination.get(), 1, 0)[0], 99);
  EXPECT_EQ(PixelAt(destination.get(), 1, 0)[1], 127);
  // Row step trunc(65536 * 239 / 480) = 32631 on the way down to row 1.
  const_cast<Uint8 *>(PixelAt(source.get(), 0, 1))[2] = 200;
  ASSERT_EQ(ScaleToFit(source.get(), destination.get()), 0);
  EXPECT_EQ(PixelAt(destination.get(), 0, 1)[2], 99);  // 200 * 32631 >> 16
}

void ExpectEqualToReference(int sw, int sh, int dw, int dh, std::mt19937 &random) {
  SCOPED_TRACE(testing::Message() << sw << "x" << sh << " -> " << dw << "x" << dh);
  SurfacePtr source = MakeSurface32(sw, sh);
  FillRandom(source.get(), random);
  SurfacePtr scaled = MakeSurface32(dw, dh);
  SurfacePtr expected = MakeSurface32(dw, dh);
  FillRandom(scaled.get(), random);
  if (dw > 0 && dh > 0) {
    std::memcpy(expected->pixels, scaled->pixels, static_cast<size_t>(dh) * scaled->pitch);
  }
  ASSERT_EQ(ScaleToFit(source.get(), scaled.get()), 0);
  ReferenceScaleToFit(source.get(), expected.get());
  ASSERT_EQ(SurfaceBytes(scaled.get()), SurfaceBytes(expected.get()));
}

TEST(ScaleToFit, EqualsThePerPixelReferenceOverManySizes) {
  std::mt19937 random(2);
  const int sources[] = {1, 2, 3, 5, 8, 17, 33};
  const int destinations[] = {0, 1, 2, 3, 7, 16, 31, 64, 99};
  for (const int sw : sources) {
    for (const int sh : sources) {
      for (const int dw : destinations) {
        for (const int dh : destinations) {
          ExpectEqualToReference(sw, sh, dw, dh, random);
        }
      }
    }
  }
  ExpectEqualToReference(320, 240, 640, 480, random);
  ExpectEqualToReference(640, 480, 1280, 720, random);
  ExpectEqualToReference(1280, 720, 640, 480, random);
  ExpectEqualToReference(100, 100, 101, 50, random);
  ExpectEqualToReference(719, 405, 1920, 1080, random);
  ExpectEqualToReference(1000, 3, 37, 500, random);
}

TEST(ScaleToFit, OnePixelWideOrHighSourcesStayInsideTheirPixels) {
  // Each source ends where an inaccessible page begins.
  struct Size {
    int w, h;
  };
  std::mt19937 random(3);
  for (const Size size : {Size{1, 1}, Size{1, 40}, Size{40, 1}, Size{2, 1}, Size{1, 2}}) {
    SCOPED_TRACE(testing::Message() << size.w << "x" << size.h);
    const int pitch = size.w * 4;
    GuardedBuffer pixels(static_cast<size_t>(pitch) * size.h);
    SurfacePtr source = WrapPixels32(pixels.data(), size.w, size.h, pitch);
    FillRandom(source.get(), random);
    SurfacePtr scaled = MakeSurface32(50, 30);
    SurfacePtr expected = MakeSurface32(50, 30);
    ASSERT_EQ(ScaleToFit(source.get(), scaled.get()), 0);
    ReferenceScaleToFit(source.get(), expected.get());
    EXPECT_EQ(SurfaceBytes(scaled.get()), SurfaceBytes(expected.get()));
  }
}

TEST(ScaleToFit, FailedTableAllocationLeavesTheDestinationUntouched) {
  std::mt19937 random(4);
  SurfacePtr source = MakeSurface32(8, 8);
  FillRandom(source.get(), random);
  SurfacePtr destination = MakeSurface32(16, 16);
  FillBytes(destination.get(), 0x5A);
  const std::vector<Uint8> before = SurfaceBytes(destination.get());
  // Column indices and weights, row indices and weights, the scratch rows.
  for (int allowed = 0; allowed < 5; ++allowed) {
    SCOPED_TRACE(allowed);
    FailAllocationsAfter(allowed);
    const int result = ScaleToFit(source.get(), destination.get());
    StopFailingAllocations();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(SurfaceBytes(destination.get()), before);
  }
  EXPECT_EQ(ScaleToFit(source.get(), destination.get()), 0);
  EXPECT_NE(SurfaceBytes(destination.get()), before);
}

TEST(ScaleToFit, RefusesWhatItCannotScale) {
  SurfacePtr source = MakeSurface32(4, 4);
  SurfacePtr destination = MakeSurface32(8, 8);
  SurfacePtr empty = MakeSurface32(0, 4);
  SurfacePtr threeBytes(
      SDL_CreateRGBSurface(SDL_SWSURFACE, 8, 8, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0));
  FillBytes(destination.get(), 0x5A);
  const std::vector<Uint8> before = SurfaceBytes(destination.get());
  EXPECT_EQ(ScaleToFit(empty.get(), destination.get()), -1);
  EXPECT_EQ(ScaleToFit(source.get(), threeBytes.get()), -1);
  EXPECT_EQ(ScaleToFit(threeBytes.get(), destination.get()), -1);
  EXPECT_EQ(ScaleToFit(nullptr, destination.get()), -1);
  EXPECT_EQ(SurfaceBytes(destination.get()), before);
}

struct PlanCase {
  int sw, sh, dw, dh;
  int sourceSlack, destinationSlack;  // pixels of pitch beyond the width
};

const PlanCase kPlanCases[] = {
    {1, 1, 9, 7, 0, 0},       {1, 13, 40, 17, 0, 1},   {13, 1, 40, 17, 3, 0},
    {2, 2, 2, 2, 0, 0},       {3, 5, 3, 5, 1, 2},      {7, 5, 23, 19, 1, 3},
    {33, 17, 31, 65, 5, 0},   {64, 48, 17, 13, 0, 7},  {97, 61, 203, 111, 2, 1},
    {160, 90, 97, 55, 0, 0},  {320, 240, 641, 480, 1, 1}, {211, 307, 100, 100, 0, 2},
    {1000, 3, 37, 500, 0, 0}, {5, 1000, 301, 17, 0, 0},
};
TEST(ScaleKernels, EveryKernelEqualsTheReference) {
  std::mt19937 random(6);
  for (const PixelKernel kernel : AvailablePixelKernels()) {
    for (const PlanCase &c : kPlanCases) {
      SCOPED_TRACE(testing::Message() << "kernel " << static_cast<int>(kernel) << ", " << c.sw
                                      << "x" << c.sh << " -> " << c.dw << "x" << c.dh);
      std::vector<Uint8> sourcePixels(static_cast<size_t>(c.sw + c.sourceSlack) * 4 * c.sh);
      std::vector<Uint8> destinationPixels(static_cast<size_t>(c.dw + c.destinationSlack) * 4 *
                                           c.dh);
      SurfacePtr source = WrapPixels32(sourcePixels.data(), c.sw, c.sh, (c.sw + c.sourceSlack) * 4);
      SurfacePtr scaled =
          WrapPixels32(destinationPixels.data(), c.dw, c.dh, (c.dw + c.destinationSlack) * 4);
      SurfacePtr expected = MakeSurface32(c.dw, c.dh);
      FillRandom(source.get(), random);
      FillRandom(scaled.get(), random);
      for (int y = 0; y < c.dh; ++y) {
        std::memcpy(const_cast<Uint8 *>(PixelAt(expected.get(), 0, y)), PixelAt(scaled.get(), 0, y),
                    static_cast<size_t>(c.dw) * 4);
      }
      ASSERT_EQ(ScaleToFitReference(source.get(), expected.get()), 0);

      ScalePlan plan;
      ASSERT_TRUE(plan.Prepare(c.sw, c.sh, c.dw, c.dh));
      RunScalePlanWith(kernel, plan, sourcePixels.data(), source->pitch, destinationPixels.data(),
                       scaled->pitch);
      for (int y = 0; y < c.dh; ++y) {
        ASSERT_EQ(0, std::memcmp(PixelAt(scaled.get(), 0, y), PixelAt(expected.get(), 0, y),
                                 static_cast<size_t>(c.dw) * 4))
            << "row " << y;
      }
    }
  }
}

TEST(ScaleKernels, EveryKernelScalesThreeBytePixelsAsConvertingThenScaling) {
  SurfacePtr noAlpha(SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 32, 0xFF0000, 0xFF00, 0xFF, 0));
  SurfacePtr alpha(
      SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000));
  std::mt19937 random(10);
  for (const PixelKernel kernel : AvailablePixelKernels()) {
    for (const PlanCase &c : kPlanCases) {
      for (const SDL_Surface *target : {noAlpha.get(), alpha.get()}) {
        SCOPED_TRACE(testing::Message() << "kernel " << static_cast<int>(kernel) << ", " << c.sw
                                        << "x" << c.sh << " -> " << c.dw << "x" << c.dh);
        // Rows end at the last pixel, and the last row where the memory does.
        const int pitch = (c.sw + c.sourceSlack) * 3;
        GuardedBuffer frame(static_cast<size_t>(pitch) * c.sh);
        std::generate_n(frame.data(), static_cast<size_t>(pitch) * c.sh,
                        [&] { return static_cast<Uint8>(random()); });
        // Top-down, then the same rows read bottom-up.
        for (const bool bottomUp : {false, true}) {
          const Uint8 *first = bottomUp ? frame.data() + static_cast<ptrdiff_t>(c.sh - 1) * pitch
                                        : frame.data();
          const ptrdiff_t step = bottomUp ? -pitch : pitch;
          SurfacePtr converted = MakeSurface32(c.sw, c.sh);
          Convert24To32(first, step, static_cast<Uint8 *>(converted->pixels), converted->pitch,
                        c.sw, c.sh, target->format);
          SurfacePtr expected = MakeSurface32(c.dw, c.dh);
          SurfacePtr scaled = MakeSurface32(c.dw, c.dh);
          ASSERT_EQ(ScaleToFitReference(converted.get(), expected.get()), 0);
          ScalePlan plan;
          ASSERT_TRUE(plan.Prepare(c.sw, c.sh, c.dw, c.dh));
          RunScalePlan24With(kernel, plan, first, step, static_cast<Uint8 *>(scaled->pixels),
                             scaled->pitch, target->format);
          ASSERT_EQ(SurfaceBytes(scaled.get()), SurfaceBytes(expected.get())) << bottomUp;
        }
      }
    }
  }
}

TEST(ScaleKernels, EveryKernelMultipliesLikeTheFormulaForAllDifferencesAndWeights) {
  // Rows from 0 and from 255 to every byte value: every difference in
  // -255..255, under every 16-bit weight.
  std::vector<int16_t> upper(512);
  std::vector<int16_t> lower(512);
  for (int v = 0; v < 256; ++v) {
    upper[v] = 0;
    upper[256 + v] = 255;
    lower[v] = lower[256 + v] = static_cast<int16_t>(v);
  }
  std::vector<Uint8> out(512);
  for (const PixelKernel kernel : AvailablePixelKernels()) {
    SCOPED_TRACE(static_cast<int>(kernel));
    const ScaleRowKernel rows = ScaleRowKernelFor(kernel);
    for (int32_t weight = 0; weight < 65536; ++weight) {
      rows.betweenRows(upper.data(), lower.data(), static_cast<uint16_t>(weight), out.data(), 512);
      for (int k = 0; k < 512; ++k) {
        const int expected = upper[k] + (((lower[k] - upper[k]) * weight) >> 16);
        if (out[k] != expected) {
          FAIL() << "weight " << weight << ", " << upper[k] << " to " << lower[k];
        }
      }
    }
  }
}

TEST(ScaleKernels, SameSizeFitCopiesOnlyWhenAsked) {
  std::mt19937 random(8);
  SurfacePtr source = MakeSurface32(7, 5);
  FillRandom(source.get(), random);
  for (const ScalePlan::SameSize sameSize :
       {ScalePlan::SameSize::kCopy, ScalePlan::SameSize::kInterpolate}) {
    SurfacePtr scaled = MakeSurface32(7, 5);
    SurfacePtr expected = MakeSurface32(7, 5);
    ScalePlan plan;
    ASSERT_TRUE(plan.Prepare(7, 5, 7, 5, sameSize));
    RunScalePlan(plan, static_cast<const Uint8 *>(source->pixels), source->pitch,
                 static_cast<Uint8 *>(scaled->pixels), scaled->pitch);
    if (sameSize == ScalePlan::SameSize::kCopy) {
      EXPECT_EQ(SurfaceBytes(scaled.get()), SurfaceBytes(source.get()));
    } else {
      ASSERT_EQ(ScaleToFitReference(source.get(), expected.get()), 0);
      EXPECT_EQ(SurfaceBytes(scaled.get()), SurfaceBytes(expected.get()));
      EXPECT_NE(SurfaceBytes(scaled.get()), SurfaceBytes(source.get()));
    }
  }
  // Another size never copies.
  ScalePlan plan;
  ASSERT_TRUE(plan.Prepare(7, 5, 14, 10, ScalePlan::SameSize::kCopy));
  EXPECT_FALSE(plan.Copies());
}

TEST(ScaleKernels, PlanRefusesSizesItCannotFit) {
  ScalePlan plan;
  EXPECT_FALSE(plan.Prepare(0, 5, 10, 10));
  EXPECT_TRUE(plan.Empty());
  EXPECT_FALSE(plan.Prepare(5, 5, -1, 10));
  ASSERT_TRUE(plan.Prepare(640, 480, 1280, 720));
  EXPECT_EQ(plan.Left(), 160);
  EXPECT_EQ(plan.Width(), 960);
  EXPECT_EQ(plan.Height(), 720);
  ASSERT_TRUE(plan.Prepare(640, 480, 0, 720));
  EXPECT_TRUE(plan.Empty());
  // Fits too small for a 16.16 step in 32 bits saturate it and stay inside
  // the source.
  EXPECT_EQ(FitStep(320, 640), 32665);
  EXPECT_EQ(FitStep(40000, 1), INT32_MAX - 0xFFFF);
  ASSERT_TRUE(plan.Prepare(40000, 40000, 1, 1));
  EXPECT_EQ(plan.ColumnIndices()[0], 0);
  ASSERT_TRUE(plan.Prepare(70000, 70000, 2, 2));
  for (int k = 0; k < 2; ++k) {
    EXPECT_TRUE(plan.ColumnIndices()[k] >= 0 && plan.ColumnIndices()[k] < 70000 - 1);
    EXPECT_TRUE(plan.RowIndices()[k] >= 0 && plan.RowIndices()[k] < 70000 - 1);
  }
}

}  // namespace
