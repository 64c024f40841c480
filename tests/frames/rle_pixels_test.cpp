#include "frames/rle_pixels.h"

#include <gtest/gtest.h>

#include <vector>

#include "frames/frame_pixels.h"
#include "platform/media/structs.h"
#include "tests/frames/test_surfaces.h"

namespace {

using Bytes = std::vector<Uint8>;
constexpr Uint8 kUntouched = 0xEE;

// An 8-bit surface with pitch == width, every byte kUntouched.
SurfacePtr Canvas(int width, int height) {
  SurfacePtr surface(SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 8, 0, 0, 0, 0));
  if (surface) {
    FillBytes(surface.get(), kUntouched);
  }
  return surface;
}

Bytes RowOf(const SDL_Surface *surface, int y) {
  const Uint8 *row = PixelAt(surface, 0, y);
  return Bytes(row, row + surface->w);
}

bool Decode(SDL_Surface *surface, const Bytes &data, DWORD compression) {
  MemoryStream stream(data);
  return ReadFramePixels(surface, stream.get(), 8, compression, 0);
}

TEST(RlePixels, Rle8RunFillsTheStartOfTheBottomRow) {
  SurfacePtr canvas = Canvas(4, 2);
  ASSERT_TRUE(canvas);
  ASSERT_EQ(canvas->pitch, 4);
  EXPECT_TRUE(Decode(canvas.get(), {0x03, 0x41, 0x00, 0x01}, BI_RLE8));
  EXPECT_EQ(RowOf(canvas.get(), 1), (Bytes{0x41, 0x41, 0x41, kUntouched}));
  EXPECT_EQ(RowOf(canvas.get(), 0), Bytes(4, kUntouched));

  SurfacePtr unterminated = Canvas(4, 2);
  SDL_ClearError();
  EXPECT_FALSE(Decode(unterminated.get(), {0x03, 0x41}, BI_RLE8));
  EXPECT_STREQ(SDL_GetError(), kFrameReadError);
}

TEST(RlePixels, Rle8AbsoluteRunsArePaddedToWholeWords) {
  // Three pixels take a filler byte; were it not skipped, the 00 00 01 that
  // follows would read as end of line and a run with no value.
  SurfacePtr odd = Canvas(4, 1);
  EXPECT_TRUE(Decode(odd.get(), {0x00, 0x03, 0x11, 0x22, 0x33, 0x00, 0x00, 0x01}, BI_RLE8));
  EXPECT_EQ(RowOf(odd.get(), 0), (Bytes{0x11, 0x22, 0x33, kUntouched}));

  // Four pixels take none.
  SurfacePtr even = Canvas(4, 1);
  EXPECT_TRUE(Decode(even.get(), {0x00, 0x04, 0x11, 0x22, 0x33, 0x44, 0x00, 0x01}, BI_RLE8));
  EXPECT_EQ(RowOf(even.get(), 0), (Bytes{0x11, 0x22, 0x33, 0x44}));
}

TEST(RlePixels, Rle4RunsAlternateNibblesAndAbsoluteRunsCountBytes) {
  SurfacePtr encoded = Canvas(6, 1);
  EXPECT_TRUE(Decode(encoded.get(), {0x05, 0xAB, 0x00, 0x01}, BI_RLE4));
  EXPECT_EQ(RowOf(encoded.get(), 0), (Bytes{0xA, 0xB, 0xA, 0xB, 0xA, kUntouched}));

  // Three pixels are two bytes: no filler.
  SurfacePtr three = Canvas(6, 1);
  EXPECT_TRUE(Decode(three.get(), {0x00, 0x03, 0x12, 0x30, 0x00, 0x01}, BI_RLE4));
  EXPECT_EQ(RowOf(three.get(), 0), (Bytes{1, 2, 3, kUntouched, kUntouched, kUntouched}));

  // Five pixels are three bytes: one filler.
  SurfacePtr five = Canvas(6, 1);
  EXPECT_TRUE(Decode(five.get(), {0x00, 0x05, 0x12, 0x34, 0x50, 0x00, 0x00, 0x01}, BI_RLE4));
  EXPECT_EQ(RowOf(five.get(), 0), (Bytes{1, 2, 3, 4, 5, kUntouched}));
}

TEST(RlePixels, LineEndsAndDeltasMoveUpTheSurface) {
  SurfacePtr canvas = Canvas(4, 3);
  EXPECT_TRUE(Decode(canvas.get(),
                     {0x01, 0x10,              // bottom row, x 0
                      0x00, 0x00,              // end of line: row 1, x 0
                      0x01, 0x20,              //
                      0x00, 0x02, 0x02, 0x01,  // delta: x 3, row 0
                      0x01, 0x30, 0x00, 0x01},
                     BI_RLE8));
  EXPECT_EQ(RowOf(canvas.get(), 2), (Bytes{0x10, kUntouched, kUntouched, kUntouched}));
  EXPECT_EQ(RowOf(canvas.get(), 1), (Bytes{0x20, kUntouched, kUntouched, kUntouched}));
  EXPECT_EQ(RowOf(canvas.get(), 0), (Bytes{kUntouched, kUntouched, kUntouched, 0x30}));
}

TEST(RlePixels, WritesOffThePixelMemoryAreDroppedButNotClippedToTheRow) {
  SurfacePtr canvas = Canvas(4, 2);
  EXPECT_TRUE(Decode(canvas.get(),
                     {0x06, 0x55,              // bottom row: 4 land, 2 run off the end
                      0x00, 0x02, 0x02, 0x01,  // top row, x 8: the end of memory
                      0x01, 0x99,              // dropped
                      0x00, 0x02, 0x00, 0xFF,  // far above the top row
                      0x08, 0x77,              // all dropped
                      0x00, 0x01},
                     BI_RLE8));
  EXPECT_EQ(RowOf(canvas.get(), 1), Bytes(4, 0x55));
  EXPECT_EQ(RowOf(canvas.get(), 0), Bytes(4, kUntouched));

  // A run past the end of the top row goes on in the row below it.
  SurfacePtr wrapping = Canvas(4, 2);
  EXPECT_TRUE(Decode(wrapping.get(), {0x00, 0x00, 0x06, 0x66, 0x00, 0x01}, BI_RLE8));
  EXPECT_EQ(RowOf(wrapping.get(), 0), Bytes(4, 0x66));
  EXPECT_EQ(RowOf(wrapping.get(), 1), (Bytes{0x66, 0x66, kUntouched, kUntouched}));
}

TEST(RlePixels, EveryStreamCutShortOfTheEndCodeFails) {
  // Every kind of element, with the end-of-bitmap code only at the end.
  const Bytes rle8 = {0x02, 0x11, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00,
                      0x00, 0x03, 0x21, 0x22, 0x23, 0x00, 0x00, 0x01};
  const Bytes rle4 = {0x03, 0x45, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00,
                      0x05, 0x12, 0x34, 0x50, 0x00, 0x00, 0x01};
  for (const auto &[data, compression] : {std::pair{rle8, BI_RLE8}, std::pair{rle4, BI_RLE4}}) {
    SurfacePtr whole = Canvas(8, 3);
    EXPECT_TRUE(Decode(whole.get(), data, compression));
    for (size_t length = 0; length < data.size(); ++length) {
      SCOPED_TRACE(testing::Message() << "compression " << compression << ", length " << length);
      SurfacePtr canvas = Canvas(8, 3);
      SDL_ClearError();
      EXPECT_FALSE(Decode(canvas.get(), Bytes(data.begin(), data.begin() + length), compression));
      EXPECT_STREQ(SDL_GetError(), kFrameReadError);
    }
  }
}

}  // namespace
