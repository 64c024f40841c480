#include "frames/pixel_convert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "tests/frames/test_surfaces.h"

namespace {

struct Masks {
  Uint32 r, g, b, a;
};

// Rows of exactly 3 * width bytes, the last one ending where readable
// memory does.
struct Frame24 {
  Frame24(int width, int height, std::mt19937 &random)
      : pixels(static_cast<size_t>(width) * 3 * height),
        surface(SDL_CreateRGBSurfaceFrom(pixels.data(), width, height, 24, width * 3, 0xFF0000,
                                         0x00FF00, 0x0000FF, 0)) {
    FillRandom(surface.get(), random);
  }
  GuardedBuffer pixels;
  SurfacePtr surface;
};

// SDL's blit and the conversion agree on every byte, the fourth included,
// for each format the conversion accepts; the rows are also read bottom-up
// through a negative pitch.
void ExpectSameAsBlit(SDL_Surface *frame, const SDL_PixelFormat *format) {
  SCOPED_TRACE(testing::Message() << frame->w << "x" << frame->h << " into A " << std::hex
                                  << format->Amask);
  ASSERT_TRUE(CanConvert24To32(format));
  SurfacePtr blitted(SDL_CreateRGBSurface(SDL_SWSURFACE, frame->w, frame->h, 32, format->Rmask,
                                          format->Gmask, format->Bmask, format->Amask));
  SurfacePtr converted(SDL_CreateRGBSurface(SDL_SWSURFACE, frame->w, frame->h, 32, format->Rmask,
                                            format->Gmask, format->Bmask, format->Amask));
  FillBytes(blitted.get(), 0x5A);
  ASSERT_EQ(SDL_UpperBlit(frame, nullptr, blitted.get(), nullptr), 0);
  const auto *pixels = static_cast<const Uint8 *>(frame->pixels);
  const auto *lastRow = pixels + static_cast<ptrdiff_t>(frame->h - 1) * frame->pitch;
  auto *lastOut = static_cast<Uint8 *>(converted->pixels) +
                  static_cast<ptrdiff_t>(frame->h - 1) * converted->pitch;
  for (const PixelKernel kernel : AvailablePixelKernels()) {
    SCOPED_TRACE(static_cast<int>(kernel));
    FillBytes(converted.get(), 0x5A);
    Convert24To32With(kernel, pixels, frame->pitch, static_cast<Uint8 *>(converted->pixels),
                      converted->pitch, frame->w, frame->h, format);
    EXPECT_EQ(SurfaceBytes(converted.get()), SurfaceBytes(blitted.get()));
    FillBytes(converted.get(), 0x5A);
    Convert24To32With(kernel, lastRow, -frame->pitch, lastOut, -converted->pitch, frame->w,
                      frame->h, format);
    EXPECT_EQ(SurfaceBytes(converted.get()), SurfaceBytes(blitted.get()));
  }
}

TEST(PixelConvert, EqualsSdlBlitIntoTheDisplayAndTheSameMasksWithAndWithoutAlpha) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
  ASSERT_NE(SDL_SetVideoMode(64, 48, 32, SDL_SWSURFACE), nullptr) << SDL_GetError();
  SurfacePtr templateSurface(SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 4, 32, 0x000000FF, 0x0000FF00,
                                                  0x00FF0000, 0xFF000000));
  SurfacePtr display(SDL_DisplayFormat(templateSurface.get()));
  ASSERT_NE(display, nullptr);
  SurfacePtr noAlpha(SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 32, 0xFF0000, 0xFF00, 0xFF, 0));
  SurfacePtr alpha(
      SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000));

  std::mt19937 random(9);
  const int sizes[][2] = {{1, 1}, {2, 3}, {5, 2}, {7, 7}, {8, 2}, {9, 2}, {10, 3}, {31, 4}, {64, 3}, {333, 5}};
  for (const auto &size : sizes) {
    Frame24 frame(size[0], size[1], random);
    for (const SDL_Surface *target : {display.get(), noAlpha.get(), alpha.get()}) {
      ExpectSameAsBlit(frame.surface.get(), target->format);
    }
  }
  SDL_Quit();
}

TEST(PixelConvert, RefusesEveryOtherFormat) {
  const Masks refused[] = {
      {0x000000FF, 0x0000FF00, 0x00FF0000, 0},           // red and blue swapped
      {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000},
      {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF},  // alpha in the low byte
      {0x00FF0000, 0x0000FF00, 0x000000FF, 0x7F000000},  // partial alpha
      {0x003F0000, 0x0000FF00, 0x000000FF, 0},           // fewer red bits
  };
  for (const Masks &m : refused) {
    SurfacePtr surface(SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, 32, m.r, m.g, m.b, m.a));
    EXPECT_FALSE(CanConvert24To32(surface->format)) << std::hex << m.r << " " << m.a;
  }
  for (const int depth : {8, 16, 24}) {
    SurfacePtr surface(SDL_CreateRGBSurface(SDL_SWSURFACE, 1, 1, depth, 0, 0, 0, 0));
    EXPECT_FALSE(CanConvert24To32(surface->format)) << depth;
  }
  EXPECT_FALSE(CanConvert24To32(nullptr));
}

}  // namespace
