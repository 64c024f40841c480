#include "frames/sdl_surface_flusher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "frames/texture_flush_interface.h"
#include "platform/media/structs.h"
#include "tests/frames/reference_scale.h"
#include "tests/frames/sdl_spy.h"
#include "tests/frames/test_surfaces.h"

namespace {

struct Rgb {
  Uint8 r, g, b;
};

// A frame in the renderer's layout: BGR pixels, bottom-up rows, each row
// padded to a multiple of 4 bytes.
struct Frame {
  int width;
  int height;
  int stride;
  std::vector<BYTE> bytes;

  Frame(int w, int h) : width(w), height(h), stride((w * 3 + 3) / 4 * 4), bytes(stride * h) {}

  void Set(int x, int y, Rgb colour) {
    BYTE *pixel = &bytes[static_cast<size_t>(height - 1 - y) * stride + x * 3];
    pixel[0] = colour.b;
    pixel[1] = colour.g;
    pixel[2] = colour.r;
  }
  Rgb At(int x, int y) const {
    const BYTE *pixel = &bytes[static_cast<size_t>(height - 1 - y) * stride + x * 3];
    return {pixel[2], pixel[1], pixel[0]};
  }
  void Fill(Rgb colour) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        Set(x, y, colour);
      }
    }
  }
  BITMAPINFOHEADER Header() const {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(bytes.size());
    return header;
  }
  // Tells the sink this frame's format; its output surface, or null.
  SDL_Surface *PrepareIn(SDLSurfaceFlusher &sink) const {
    const BITMAPINFOHEADER header = Header();
    return sink.PrepareFormat(&header) ? sink.OutputSurface() : nullptr;
  }
  bool FlushInto(TextureFlushInterface &sink, LONG length) {
    return sink.FlushFrame(bytes.data(), length, stride);
  }
  bool FlushInto(TextureFlushInterface &sink) {
    return FlushInto(sink, static_cast<LONG>(bytes.size()));
  }
};

Rgb ColourAt(const SDL_Surface *surface, int x, int y) {
  Uint32 value = 0;
  std::memcpy(&value, PixelAt(surface, x, y), 4);
  Rgb colour{};
  SDL_GetRGB(value, surface->format, &colour.r, &colour.g, &colour.b);
  return colour;
}

bool operator==(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// What a host holding the surface sees: where its pixels are and what they hold.
std::pair<const void *, std::vector<Uint8>> Seen(const SDL_Surface *surface) {
  return {surface->pixels, SurfaceBytes(surface)};
}

void FillColour(SDL_Surface *surface, Rgb colour) {
  SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, colour.r, colour.g, colour.b));
}

// SDL with the dummy video driver; a video mode only when asked.
class SdlVideo : public testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    ForgetFreedSurfaces();
  }
  void TearDown() override { SDL_Quit(); }

  static void SetMode(int bitsPerPixel) {
    SDL_Surface *screen = SDL_SetVideoMode(64, 48, bitsPerPixel, SDL_SWSURFACE);
    ASSERT_NE(screen, nullptr) << SDL_GetError();
    ASSERT_EQ(screen->format->BitsPerPixel, bitsPerPixel);
  }
};

class Flusher : public SdlVideo {
 protected:
  void SetUp() override {
    SdlVideo::SetUp();
    SetMode(32);
  }
};

TEST_F(Flusher, FrameBecomesTheFittedOutputSurface) {
  std::mt19937 random(5);
  Frame frame(8, 6);
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      frame.Set(x, y, {static_cast<Uint8>(random()), static_cast<Uint8>(random()),
                       static_cast<Uint8>(random())});
    }
  }
  SDLSurfaceFlusher flusher(20, 10);
  const BITMAPINFOHEADER header = frame.Header();
  ASSERT_TRUE(flusher.PrepareFormat(&header));
  SDL_Surface *output = flusher.OutputSurface();
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->w, 20);
  EXPECT_EQ(output->h, 10);
  EXPECT_EQ(output->format->BytesPerPixel, 4);
  // Whatever the host drew there before: bars keep it.
  const Rgb hostColour{1, 2, 3};
  FillColour(output, hostColour);

  // Expected: the frame in the display format, top row first, fitted by the
  // reference scaler.
  SDL_Surface *screen = SDL_GetVideoSurface();
  SurfacePtr converted(SDL_CreateRGBSurface(SDL_SWSURFACE, frame.width, frame.height, 32,
                                            screen->format->Rmask, screen->format->Gmask,
                                            screen->format->Bmask, screen->format->Amask));
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      const Rgb c = frame.At(x, y);
      const Uint32 value = SDL_MapRGB(converted->format, c.r, c.g, c.b);
      std::memcpy(const_cast<Uint8 *>(PixelAt(converted.get(), x, y)), &value, 4);
    }
  }
  SurfacePtr expected = MakeSurface32(20, 10);
  std::memcpy(expected->pixels, output->pixels, static_cast<size_t>(output->h) * output->pitch);
  ReferenceScaleToFit(converted.get(), expected.get());

  const int opened = StreamOpenCount();
  ASSERT_TRUE(frame.FlushInto(flusher));
  EXPECT_EQ(StreamOpenCount(), opened);  // 24-bit rows are read in place
  EXPECT_EQ(flusher.OutputSurface(), output);
  EXPECT_EQ(SurfaceBytes(output), SurfaceBytes(expected.get()));
  // Height decides: 13 of 20 columns, from column 3. The top-left fitted
  // pixel is the picture's top-left pixel, the bars are the host's.
  EXPECT_TRUE(ColourAt(output, 3, 0) == frame.At(0, 0));
  EXPECT_TRUE(ColourAt(output, 2, 9) == hostColour);
  EXPECT_TRUE(ColourAt(output, 16, 0) == hostColour);
  EXPECT_FALSE(ColourAt(output, 15, 9) == hostColour);

  // Stopping leaves the last frame where it is.
  const std::vector<Uint8> shown = SurfaceBytes(output);
  flusher.NotifyStopped();
  EXPECT_EQ(flusher.OutputSurface(), output);
  EXPECT_EQ(SurfaceBytes(output), shown);

  // A picture of the output's own size (here letterboxed) is a plain copy.
  SDLSurfaceFlusher sameSize(8, 10);
  ASSERT_TRUE(sameSize.PrepareFormat(&header));
  ASSERT_TRUE(frame.FlushInto(sameSize));
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      EXPECT_TRUE(ColourAt(sameSize.OutputSurface(), x, y + 2) == frame.At(x, y)) << x << "," << y;
    }
  }
}

TEST_F(Flusher, EachFrameIsDrawnAsideAndShownByMovingThePixelPointer) {
  Frame frame(4, 4);
  SDLSurfaceFlusher flusher(12, 4);  // bars of 4 columns left and right
  SDL_Surface *output = frame.PrepareIn(flusher);
  ASSERT_NE(output, nullptr);
  const SDL_Surface created = *output;
  const Rgb host{1, 2, 3};
  std::vector<void *> shown;
  for (const Rgb colour : {Rgb{200, 0, 0}, Rgb{0, 0, 200}, Rgb{0, 200, 0}}) {
    FillColour(output, host);  // the host draws into what is on show
    frame.Fill(colour);
    ASSERT_TRUE(frame.FlushInto(flusher));
    shown.push_back(output->pixels);
    EXPECT_TRUE(ColourAt(output, 6, 2) == colour);
    EXPECT_TRUE(ColourAt(output, 0, 0) == host);
    EXPECT_TRUE(ColourAt(output, 11, 3) == host);
  }
  // Three buffers in turn; nothing else about the surface changes.
  EXPECT_NE(shown[0], created.pixels);
  EXPECT_NE(shown[1], created.pixels);
  EXPECT_NE(shown[0], shown[1]);
  EXPECT_EQ(shown[2], created.pixels);
  EXPECT_TRUE(output->flags == created.flags && output->pitch == created.pitch &&
              output->format == created.format);
  // The next frame, drawn ahead as soon as one is shown, leaves the buffer
  // just taken off show to a blit that loaded the pointer before.
  output->pixels = shown[1];
  const std::vector<Uint8> blitting = SurfaceBytes(output);
  output->pixels = shown[2];
  std::atomic<int> abandon{0};
  frame.Fill({9, 9, 9});
  flusher.PrepareFrame(frame.bytes.data(), static_cast<LONG>(frame.bytes.size()), frame.stride,
                       abandon);
  output->pixels = shown[1];
  EXPECT_EQ(SurfaceBytes(output), blitting);
  output->pixels = shown[2];
}

// A frame prepared ahead is shown by the flush of that frame alone; the host
// sees nothing of it before. Another frame's flush, or one whose preparation
// was abandoned, draws its own.
TEST_F(Flusher, PreparedFrameIsShownOnlyByItsOwnFlush) {
  Frame frame(4, 4);
  Frame other(4, 4);
  SDLSurfaceFlusher flusher(8, 8);  // scaled, so abandoning looks between rows
  SDL_Surface *output = frame.PrepareIn(flusher);
  ASSERT_NE(output, nullptr);
  const Rgb red{200, 0, 0};
  const Rgb blue{0, 0, 200};
  frame.Fill(red);
  const auto before = Seen(output);
  std::atomic<int> abandon{0};
  const auto prepare = [&] {
    flusher.PrepareFrame(frame.bytes.data(), static_cast<LONG>(frame.bytes.size()), frame.stride,
                         abandon);
  };
  prepare();
  EXPECT_EQ(Seen(output), before);
  frame.Fill(blue);  // not read again: what was prepared is shown
  ASSERT_TRUE(frame.FlushInto(flusher));
  EXPECT_TRUE(ColourAt(output, 1, 1) == red);

  prepare();
  other.Fill(blue);
  ASSERT_TRUE(other.FlushInto(flusher));
  EXPECT_TRUE(ColourAt(output, 1, 1) == blue);
  frame.Fill(red);  // the earlier preparation was given up
  ASSERT_TRUE(frame.FlushInto(flusher));
  EXPECT_TRUE(ColourAt(output, 1, 1) == red);

  abandon = 1;
  prepare();
  frame.Fill(blue);
  ASSERT_TRUE(frame.FlushInto(flusher));
  EXPECT_TRUE(ColourAt(output, 1, 1) == blue);
}

// Drawn ahead while paused and shown much later: the bars are the host's as
// they are at the flush, and a host that moved the pixels meanwhile onto the
// buffer drawn into gets the frame drawn again where it is not reading.
TEST_F(Flusher, FrameDrawnLongAheadTakesTheHostsBarsAndBufferAsTheyAreAtItsFlush) {
  Frame frame(4, 4);
  SDLSurfaceFlusher flusher(12, 4);  // bars left and right
  SDL_Surface *output = frame.PrepareIn(flusher);
  ASSERT_NE(output, nullptr);
  std::atomic<int> abandon{0};
  const auto prepare = [&](Rgb colour) {
    frame.Fill(colour);
    flusher.PrepareFrame(frame.bytes.data(), static_cast<LONG>(frame.bytes.size()), frame.stride,
                         abandon);
  };
  const Rgb red{200, 0, 0};
  const Rgb host{1, 2, 3};
  void *const first = output->pixels;
  prepare(red);
  FillColour(output, host);
  ASSERT_TRUE(frame.FlushInto(flusher));
  EXPECT_TRUE(ColourAt(output, 6, 2) == red);
  EXPECT_TRUE(ColourAt(output, 0, 0) == host);
  EXPECT_TRUE(ColourAt(output, 11, 3) == host);

  void *const second = output->pixels;
  ASSERT_TRUE(frame.FlushInto(flusher));  // into the third buffer
  prepare({0, 0, 200});  // into `first`, the one longest off show
  output->pixels = first;  // an unlock writing back an older pointer
  ASSERT_TRUE(frame.FlushInto(flusher));
  EXPECT_EQ(output->pixels, second);
  EXPECT_TRUE(ColourAt(output, 6, 2) == (Rgb{0, 0, 200}));
}

struct MovieCase {
  int frameWidth, frameHeight, targetWidth, targetHeight;
  int left, top, right, bottom;  // the picture, inclusive
};

TEST_F(Flusher, MovieSizesFillTheirFittedRectangleOnly) {
  const MovieCase cases[] = {
      {320, 240, 640, 480, 0, 0, 639, 479},
      {640, 480, 1280, 720, 160, 0, 1119, 719},
      {1280, 720, 640, 480, 0, 60, 639, 419},
  };
  const Rgb picture{200, 100, 50};
  const Rgb host{0, 0, 0};
  for (const MovieCase &c : cases) {
    SCOPED_TRACE(testing::Message() << c.frameWidth << "x" << c.frameHeight << " -> "
                                    << c.targetWidth << "x" << c.targetHeight);
    Frame frame(c.frameWidth, c.frameHeight);
    frame.Fill(picture);
    SDLSurfaceFlusher flusher(c.targetWidth, c.targetHeight);
    const BITMAPINFOHEADER header = frame.Header();
    ASSERT_TRUE(flusher.PrepareFormat(&header));
    SDL_Surface *output = flusher.OutputSurface();
    ASSERT_NE(output, nullptr);
    ASSERT_TRUE(frame.FlushInto(flusher));
    for (int y = 0; y < output->h; ++y) {
      for (int x = 0; x < output->w; ++x) {
        const bool inside = x >= c.left && x <= c.right && y >= c.top && y <= c.bottom;
        const Rgb seen = ColourAt(output, x, y);
        if (!(seen == (inside ? picture : host))) {
          FAIL() << "pixel " << x << "," << y << " is " << int{seen.r} << "," << int{seen.g} << ","
                 << int{seen.b};
        }
      }
    }
  }
}

TEST_F(Flusher, ShortFrameFailsAndRetiresTheOutputSurface) {
  const std::string readError = ReadErrorText();
  Frame frame(5, 2);
  frame.Fill({10, 20, 30});
  SDLSurfaceFlusher flusher(10, 4);
  const BITMAPINFOHEADER header = frame.Header();
  ASSERT_TRUE(flusher.PrepareFormat(&header));
  SDL_Surface *held = flusher.OutputSurface();  // the host keeps this pointer
  ASSERT_TRUE(frame.FlushInto(flusher));
  const std::vector<Uint8> lastShown = SurfaceBytes(held);

  frame.Fill({90, 90, 90});
  SDL_ClearError();
  EXPECT_FALSE(frame.FlushInto(flusher, static_cast<LONG>(frame.bytes.size()) - 1));
  EXPECT_EQ(SDL_GetError(), readError);
  EXPECT_EQ(flusher.OutputSurface(), nullptr);
  // The host may still blit what it holds: never freed, last frame kept.
  EXPECT_FALSE(WasFreed(held));
  EXPECT_EQ(SurfaceBytes(held), lastShown);
  EXPECT_EQ(SDL_BlitSurface(held, nullptr, SDL_GetVideoSurface(), nullptr), 0);

  // Every later frame is refused, whole or not, until a new format.
  const int opened = StreamOpenCount();
  EXPECT_FALSE(frame.FlushInto(flusher));
  EXPECT_EQ(StreamOpenCount(), opened);
  EXPECT_EQ(flusher.OutputSurface(), nullptr);

  ASSERT_TRUE(flusher.PrepareFormat(&header));
  ASSERT_NE(flusher.OutputSurface(), nullptr);
  EXPECT_TRUE(frame.FlushInto(flusher));
  EXPECT_TRUE(ColourAt(flusher.OutputSurface(), 0, 0) == (Rgb{90, 90, 90}));
}

TEST_F(Flusher, NewFormatReplacesTheOutputSurfaceButKeepsTheOldOneValid) {
  Frame small(4, 4);
  small.Fill({1, 200, 3});
  SDLSurfaceFlusher flusher(16, 16);
  const BITMAPINFOHEADER smallHeader = small.Header();
  ASSERT_TRUE(flusher.PrepareFormat(&smallHeader));
  SDL_Surface *first = flusher.OutputSurface();
  ASSERT_TRUE(small.FlushInto(flusher));
  const std::vector<Uint8> firstShown = SurfaceBytes(first);

  Frame wide(8, 2);
  wide.Fill({7, 8, 9});
  const BITMAPINFOHEADER wideHeader = wide.Header();
  ASSERT_TRUE(flusher.PrepareFormat(&wideHeader));
  SDL_Surface *second = flusher.OutputSurface();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(second->w, 16);
  ASSERT_TRUE(wide.FlushInto(flusher));
  EXPECT_TRUE(ColourAt(second, 0, 6) == (Rgb{7, 8, 9}));  // letterboxed rows 4 to 11
  EXPECT_FALSE(WasFreed(first));
  EXPECT_EQ(SurfaceBytes(first), firstShown);
}

TEST_F(Flusher, ReleasedSurfacesRefuseFramesAndStayValid) {
  Frame frame(4, 4);
  SDLSurfaceFlusher flusher(8, 8);
  SDL_Surface *held = frame.PrepareIn(flusher);
  frame.Fill({9, 99, 199});
  ASSERT_TRUE(frame.FlushInto(flusher));
  const std::vector<Uint8> lastShown = SurfaceBytes(held);
  flusher.ReleaseSurfaces();
  EXPECT_EQ(flusher.OutputSurface(), nullptr);
  EXPECT_FALSE(WasFreed(held));
  EXPECT_EQ(SurfaceBytes(held), lastShown);
  EXPECT_FALSE(frame.FlushInto(flusher));
}

TEST_F(Flusher, FrameIsRefusedWithoutReadingWhenNoStreamOpensOverIt) {
  // 32-bit frames are read through a stream; 24-bit ones are not.
  BITMAPINFOHEADER header = Frame(4, 4).Header();
  header.biBitCount = 32;
  std::vector<BYTE> bytes(4 * 4 * 4, 70);
  SDLSurfaceFlusher flusher(8, 8);
  ASSERT_TRUE(flusher.PrepareFormat(&header));
  SDL_Surface *output = flusher.OutputSurface();
  ASSERT_TRUE(flusher.FlushFrame(bytes.data(), 64, 16));
  const auto before = Seen(output);

  std::fill(bytes.begin(), bytes.end(), BYTE{1});
  FailNextStreamOpen();
  EXPECT_FALSE(flusher.FlushFrame(bytes.data(), 64, 16));
  // Not a broken frame: the sink keeps its surfaces and the picture.
  EXPECT_EQ(flusher.OutputSurface(), output);
  EXPECT_EQ(Seen(output), before);
  EXPECT_TRUE(flusher.FlushFrame(bytes.data(), 64, 16));
  EXPECT_NE(SurfaceBytes(output), before.second);
}

TEST_F(Flusher, BadBufferArgumentsAreRefusedWithoutReading) {
  Frame frame(4, 4);
  SDLSurfaceFlusher flusher(8, 8);
  SDL_Surface *output = frame.PrepareIn(flusher);
  FillColour(output, {4, 5, 6});
  const auto before = Seen(output);
  const int opened = StreamOpenCount();
  EXPECT_FALSE(flusher.FlushFrame(nullptr, 64, frame.stride));
  EXPECT_FALSE(flusher.FlushFrame(frame.bytes.data(), -1, frame.stride));
  EXPECT_EQ(StreamOpenCount(), opened);
  EXPECT_EQ(flusher.OutputSurface(), output);
  EXPECT_EQ(Seen(output), before);
  EXPECT_TRUE(frame.FlushInto(flusher));
  EXPECT_FALSE(flusher.PrepareFormat(nullptr));
}

TEST_F(Flusher, UnusableFrameFormatsAreRefusedAndTheOutputSurfaceKept) {
  // Top-down, empty, a depth SDL cannot blit, a width past SDL's pitch.
  const std::pair<LONG, WORD> formats[] = {{-4, 24}, {0, 24}, {4, 2}, {4, 32}};
  for (const auto &[height, bits] : formats) {
    SCOPED_TRACE(testing::Message() << height << " rows, " << bits << " bits");
    Frame frame(4, 4);
    BITMAPINFOHEADER header = frame.Header();
    header.biHeight = height;
    header.biBitCount = bits;
    header.biWidth = bits == 32 ? 16384 : 4;
    SDLSurfaceFlusher flusher(8, 8);
    EXPECT_TRUE(flusher.PrepareFormat(&header));
    SDL_Surface *output = flusher.OutputSurface();
    ASSERT_NE(output, nullptr);
    const auto before = Seen(output);
    EXPECT_FALSE(frame.FlushInto(flusher));
    EXPECT_EQ(flusher.OutputSurface(), output);
    EXPECT_EQ(Seen(output), before);
  }
}

TEST_F(SdlVideo, WithoutVideoModeThereIsNoSurfaceAndFramesAreRefused) {
  Frame frame(4, 4);
  SDLSurfaceFlusher flusher(8, 8);
  EXPECT_EQ(flusher.OutputSurface(), nullptr);  // before the format
  const BITMAPINFOHEADER header = frame.Header();
  EXPECT_TRUE(flusher.PrepareFormat(&header));
  EXPECT_EQ(flusher.OutputSurface(), nullptr);
  EXPECT_FALSE(frame.FlushInto(flusher));
  // A mode set later changes nothing until the format is prepared again.
  SetMode(32);
  EXPECT_FALSE(frame.FlushInto(flusher));
  EXPECT_TRUE(flusher.PrepareFormat(&header));
  EXPECT_NE(flusher.OutputSurface(), nullptr);
  EXPECT_TRUE(frame.FlushInto(flusher));
}

TEST_F(SdlVideo, WithoutVideoAtAllThereIsNoSurfaceAndFramesAreRefused) {
  // A host that loads a movie before it ever starts SDL's video.
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  ASSERT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
  Frame frame(4, 4);
  SDLSurfaceFlusher flusher(8, 8);
  const BITMAPINFOHEADER header = frame.Header();
  EXPECT_TRUE(flusher.PrepareFormat(&header));
  EXPECT_EQ(flusher.OutputSurface(), nullptr);
  EXPECT_FALSE(frame.FlushInto(flusher));
}

TEST_F(SdlVideo, DisplayFormatWithoutFourBytePixelsRefusesFrames) {
  SetMode(16);
  Frame frame(4, 4);
  SDLSurfaceFlusher flusher(8, 8);
  const BITMAPINFOHEADER header = frame.Header();
  EXPECT_TRUE(flusher.PrepareFormat(&header));
  EXPECT_EQ(flusher.OutputSurface(), nullptr);
  EXPECT_FALSE(frame.FlushInto(flusher));
}

TEST_F(Flusher, EveryHeaderKindIsTakenOrRefusedSafely) {
  // Frames of every depth and compression, readable or not, through the
  // whole path: read, blit, scale.
  std::mt19937 random(6);
  for (const WORD bits : {1, 4, 8, 15, 16, 24, 32}) {
    for (const DWORD compression : {BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, compression " << compression);
      BITMAPINFOHEADER header = Frame(7, 5).Header();
      header.biBitCount = bits;
      header.biCompression = compression;
      SDLSurfaceFlusher flusher(9, 9);
      ASSERT_TRUE(flusher.PrepareFormat(&header));
      std::vector<BYTE> bytes(7 * 5 * 4);
      for (BYTE &b : bytes) {
        b = static_cast<BYTE>(random());
      }
      if (compression == BI_RLE8 || compression == BI_RLE4) {
        // A valid run ending in the end-of-bitmap code.
        bytes[0] = 3;
        bytes[2] = 0;
        bytes[3] = 1;
      }
      const bool taken = flusher.FlushFrame(bytes.data(), static_cast<LONG>(bytes.size()), 8);
      EXPECT_TRUE(taken);
      EXPECT_EQ(flusher.OutputSurface() != nullptr, taken);
    }
  }
}

// What SDL_LockSurface and SDL_UnlockSurface do to `pixels` (read it, write
// it back) overlapping a publish puts the older buffer back on show; a host
// may also put pixels of its own there.
TEST_F(Flusher, HostRewritesOfThePixelPointerNeitherTearNorLoseABuffer) {
  Frame frame(4, 4);
  SDLSurfaceFlusher flusher(12, 4);
  SDL_Surface *output = frame.PrepareIn(flusher);
  ASSERT_NE(output, nullptr);
  auto flush = [&](Rgb colour) {
    frame.Fill(colour);
    return frame.FlushInto(flusher);
  };
  ASSERT_TRUE(flush({200, 0, 0}));
  void *const stale = output->pixels;
  const std::vector<Uint8> staleFrame = SurfaceBytes(output);
  ASSERT_TRUE(flush({0, 0, 200}));
  output->pixels = stale;  // the host's write lands after the publish
  ASSERT_TRUE(flush({0, 200, 0}));
  EXPECT_NE(output->pixels, stale);
  EXPECT_TRUE(ColourAt(output, 6, 2) == (Rgb{0, 200, 0}));
  output->pixels = stale;  // what a blit holding the older pointer reads
  EXPECT_EQ(SurfaceBytes(output), staleFrame);
  std::set<void *> buffers;
  for (int k = 0; k < 4; ++k) {
    ASSERT_TRUE(flush({static_cast<Uint8>(k), 0, 0}));
    buffers.insert(output->pixels);
  }
  EXPECT_EQ(buffers.size(), 3u);
  EXPECT_EQ(buffers.count(stale), 1u);

  // The host's own pixels are left alone until it gives a buffer back.
  void *const ours = output->pixels;
  std::vector<Uint8> hosts(static_cast<size_t>(output->h) * output->pitch, 0x5A);
  output->pixels = hosts.data();
  EXPECT_FALSE(flush({1, 1, 1}));
  EXPECT_EQ(output->pixels, hosts.data());
  EXPECT_EQ(std::count(hosts.begin(), hosts.end(), 0x5A), static_cast<ptrdiff_t>(hosts.size()));
  output->pixels = ours;
  EXPECT_TRUE(flush({2, 2, 2}));
  EXPECT_TRUE(ColourAt(output, 6, 2) == (Rgb{2, 2, 2}));

  // Given up while the older buffer is back on show: that one stays.
  void *const older = output->pixels;
  ASSERT_TRUE(flush({3, 3, 3}));
  output->pixels = older;
  flusher.ReleaseSurfaces();
  EXPECT_TRUE(ColourAt(output, 6, 2) == (Rgb{2, 2, 2}));
}

// The usual way to make black transparent in SDL 1.2. Encoding the surface
// for an RLE blit would free its pixels, were they SDL's.
TEST_F(Flusher, ColourKeyedSurfaceKeepsTakingFrames) {
  Frame frame(4, 4);
  SDLSurfaceFlusher flusher(8, 4);  // bars of 2 columns left and right
  SDL_Surface *output = frame.PrepareIn(flusher);
  ASSERT_NE(output, nullptr);
  FillColour(output, {0, 0, 0});
  SDL_Surface *screen = SDL_GetVideoSurface();  // the same format: RLE blits
  const Rgb back{0, 0, 90};
  FillColour(screen, back);
  ASSERT_EQ(SDL_SetColorKey(output, SDL_SRCCOLORKEY | SDL_RLEACCEL, 0), 0);
  for (int k = 0; k < 3; ++k) {
    frame.Fill({200, static_cast<Uint8>(k), 0});
    ASSERT_TRUE(frame.FlushInto(flusher));
    ASSERT_EQ(SDL_BlitSurface(output, nullptr, screen, nullptr), 0);
    ASSERT_NE(output->flags & SDL_RLEACCEL, 0u);
    ASSERT_NE(output->pixels, nullptr);
  }
  // A lock takes the encoding back; the blit after it shows the latest frame.
  ASSERT_EQ(SDL_LockSurface(output), 0);
  SDL_UnlockSurface(output);
  ASSERT_EQ(SDL_BlitSurface(output, nullptr, screen, nullptr), 0);
  EXPECT_TRUE(ColourAt(screen, 4, 2) == (Rgb{200, 2, 0}));
  EXPECT_TRUE(ColourAt(screen, 0, 2) == back);
}

// A host thread that locks, reads, fills the bars, colour-keys and blits the
// surface while frames are shown. It reads a buffer at most until its next
// turn ends, as any host between two frames: the sink waits for two of its
// turns after each frame, never on time.
TEST_F(Flusher, ThreadedHostLocksFillsAndBlitsWhileFramesFlush) {
  Frame frame(16, 8);
  SDLSurfaceFlusher flusher(40, 16);  // picture in columns 4 to 35
  SDL_Surface *output = frame.PrepareIn(flusher);
  ASSERT_NE(output, nullptr);
  SurfacePtr target(SDL_DisplayFormat(output));
  ASSERT_NE(target, nullptr);
  constexpr int kFrames = 100;
  std::atomic<int> turns{0};
  std::atomic<bool> done{false};
  int torn = 0;
  std::thread host([&] {
    const Uint32 bar = SDL_MapRGB(output->format, 1, 2, 3);
    SDL_Rect left{0, 0, 4, 16};
    for (int turn = 0; !done.load(); ++turn) {
      if (turn == kFrames) {
        SDL_SetColorKey(output, SDL_SRCCOLORKEY | SDL_RLEACCEL, 0);
      }
      SDL_LockSurface(output);
      const auto *pixels =
          static_cast<const Uint8 *>(__atomic_load_n(&output->pixels, __ATOMIC_ACQUIRE));
      torn += std::memcmp(pixels + 20 * 4, pixels + 15 * output->pitch + 20 * 4, 4) != 0;
      SDL_UnlockSurface(output);
      SDL_FillRect(output, &left, bar);
      SDL_BlitSurface(output, nullptr, target.get(), nullptr);
      turns.fetch_add(1);
    }
  });
  for (int k = 0; k < kFrames * 2; ++k) {
    const int after = turns.load() + 2;
    while (turns.load() < after) {
      std::this_thread::yield();
    }
    frame.Fill({static_cast<Uint8>(k), static_cast<Uint8>(255 - k), 7});
    EXPECT_TRUE(frame.FlushInto(flusher));
  }
  done.store(true);
  host.join();
  EXPECT_EQ(torn, 0);
  // Once RLE-keyed, a host lock writes SDL's encoded copy back, which may be
  // an earlier frame: what shows is a whole frame, not always the last one.
  const Rgb shown = ColourAt(output, 20, 8);
  EXPECT_EQ(255, shown.r + shown.g);
  EXPECT_EQ(7, shown.b);
  EXPECT_TRUE(ColourAt(output, 0, 8) == (Rgb{1, 2, 3}));
}

}  // namespace
