#include "frames/scale_to_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
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
  for (const int allowed : {0, 1}) {  // the column table, then the row table
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

}  // namespace
