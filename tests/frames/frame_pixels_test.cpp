#include "frames/frame_pixels.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "frames/frame_surface.h"
#include "platform/media/structs.h"
#include "tests/frames/test_surfaces.h"

namespace {

BITMAPINFOHEADER Header(LONG width, LONG height, WORD bitCount, DWORD compression = BI_RGB) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = bitCount;
  header.biCompression = compression;
  return header;
}

SurfacePtr FrameSurface(LONG width, LONG height, WORD bitCount) {
  SurfacePtr surface(CreateFrameSurface(Header(width, height, bitCount)));
  if (surface) {
    FillBytes(surface.get(), 0xEE);
  }
  return surface;
}

std::vector<Uint8> Counting(size_t count) {
  std::vector<Uint8> bytes(count);
  std::iota(bytes.begin(), bytes.end(), Uint8{0});
  return bytes;
}

std::vector<Uint8> Row(const SDL_Surface *surface, int y, int count) {
  const Uint8 *row = PixelAt(surface, 0, y);
  return std::vector<Uint8>(row, row + count);
}

TEST(FramePixels, Rgb24RowsLandBottomUpAndReadExactlyTheFrame) {
  SurfacePtr surface = FrameSurface(5, 2, 24);
  ASSERT_TRUE(surface);
  ASSERT_EQ(surface->pitch, 16);
  // Longer than the frame: the extra bytes stay unread.
  MemoryStream stream(Counting(40));
  ASSERT_TRUE(ReadFramePixels(surface.get(), stream.get(), 24, BI_RGB, 16));
  EXPECT_EQ(stream.Position(), 32);
  const std::vector<Uint8> all = Counting(32);
  EXPECT_EQ(Row(surface.get(), 1, 16), std::vector<Uint8>(all.begin(), all.begin() + 16));
  EXPECT_EQ(Row(surface.get(), 0, 16), std::vector<Uint8>(all.begin() + 16, all.end()));
}

TEST(FramePixels, ShortUncompressedFrameFailsWithTheReadError) {
  const std::string expected = ReadErrorText();
  SurfacePtr surface = FrameSurface(5, 2, 24);
  MemoryStream stream(Counting(31));
  SDL_ClearError();
  EXPECT_FALSE(ReadFramePixels(surface.get(), stream.get(), 24, BI_RGB, 16));
  EXPECT_EQ(SDL_GetError(), expected);
}

TEST(FramePixels, EveryUncompressedDepthReadsOnePitchPerRow) {
  for (const WORD bits : {8, 15, 16, 32}) {
    SCOPED_TRACE(bits);
    SurfacePtr surface = FrameSurface(3, 2, bits);
    ASSERT_TRUE(surface);
    const int pitch = surface->pitch;
    MemoryStream stream(Counting(2 * pitch + 7));
    ASSERT_TRUE(ReadFramePixels(surface.get(), stream.get(), bits, BI_BITFIELDS, 0));
    EXPECT_EQ(stream.Position(), 2 * pitch);
    EXPECT_EQ(PixelAt(surface.get(), 0, 1)[0], 0);
    EXPECT_EQ(PixelAt(surface.get(), 0, 0)[0], pitch);
  }
}

TEST(FramePixels, FourBitPixelsAreWidenedHighNibbleFirst) {
  SurfacePtr surface = FrameSurface(3, 2, 4);
  ASSERT_TRUE(surface);
  // A stride that is a multiple of 4 means no padding after the packed row.
  MemoryStream stream({0x12, 0x30, 0x45, 0x6F});
  ASSERT_TRUE(ReadFramePixels(surface.get(), stream.get(), 4, BI_RGB, 4));
  EXPECT_EQ(stream.Position(), 4);
  EXPECT_EQ(Row(surface.get(), 1, 4), (std::vector<Uint8>{1, 2, 3, 0xEE}));
  EXPECT_EQ(Row(surface.get(), 0, 4), (std::vector<Uint8>{4, 5, 6, 0xEE}));
}

TEST(FramePixels, OneBitPixelsAreWidenedMostSignificantFirst) {
  SurfacePtr surface = FrameSurface(10, 1, 1);
  ASSERT_TRUE(surface);
  MemoryStream stream({0xB0, 0x40});
  ASSERT_TRUE(ReadFramePixels(surface.get(), stream.get(), 1, BI_RGB, 4));
  EXPECT_EQ(Row(surface.get(), 0, 10), (std::vector<Uint8>{1, 0, 1, 1, 0, 0, 0, 0, 0, 1}));
}

TEST(FramePixels, PackedRowsSkipThePaddingTheStrideImplies) {
  SurfacePtr surface = FrameSurface(3, 2, 4);
  ASSERT_TRUE(surface);
  // Stride 2 leaves 2 bytes of padding after each row.
  MemoryStream stream({0x12, 0x30, 0xAA, 0xAA, 0x45, 0x60, 0xAA, 0xAA, 0x77});
  ASSERT_TRUE(ReadFramePixels(surface.get(), stream.get(), 4, BI_RGB, 2));
  EXPECT_EQ(stream.Position(), 8);
  EXPECT_EQ(Row(surface.get(), 0, 3), (std::vector<Uint8>{4, 5, 6}));

  // Padding missing at the very end is no error.
  SurfacePtr single = FrameSurface(3, 1, 4);
  MemoryStream unpadded({0x12, 0x30});
  EXPECT_TRUE(ReadFramePixels(single.get(), unpadded.get(), 4, BI_RGB, 2));
}

TEST(FramePixels, ShortPackedFrameFailsWithTheBitmapError) {
  SurfacePtr surface = FrameSurface(3, 2, 4);
  MemoryStream stream({0x12, 0x30, 0x45});
  SDL_ClearError();
  EXPECT_FALSE(ReadFramePixels(surface.get(), stream.get(), 4, BI_RGB, 4));
  EXPECT_STREQ(SDL_GetError(), "Error reading from BMP");
}

TEST(FrameSurface, Rgb24PitchIsTheRenderersStrideAndBadHeadersGetNone) {
  SurfacePtr rgb24(CreateFrameSurface(Header(5, 2, 24)));
  ASSERT_TRUE(rgb24);
  EXPECT_EQ(rgb24->pitch, 16);  // rows can be read one surface row at a time
  EXPECT_EQ(rgb24->format->Bmask, 0x0000FFu);  // blue first, as the rows arrive
  EXPECT_EQ(CreateFrameSurface(Header(4, -2, 24)), nullptr);  // top-down
  EXPECT_EQ(CreateFrameSurface(Header(0, 2, 24)), nullptr);
  // SDL's limits only: a 16-bit pitch and height x pitch within an int.
  EXPECT_EQ(CreateFrameSurface(Header(21845, 2, 24)), nullptr);
  EXPECT_EQ(CreateFrameSurface(Header(21844, 32771, 24)), nullptr);
  EXPECT_EQ(SurfacePtr(CreateFrameSurface(Header(2, 20000, 24)))->h, 20000);
  EXPECT_EQ(CreateFrameSurface(Header(4, 2, 2)), nullptr);
  EXPECT_EQ(CreateFrameSurface(Header(4, 2, 64)), nullptr);
  EXPECT_EQ(CreateFrameSurface(Header(4, 2, 0)), nullptr);
}

}  // namespace
