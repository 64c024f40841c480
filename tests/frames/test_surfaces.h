// Surfaces and pixel buffers for the frame path's tests.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

struct SurfaceDeleter {
  void operator()(SDL_Surface *surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// A 32-bit software surface, bytes R, G, B, A from the lowest address.
SurfacePtr MakeSurface32(int width, int height);

// A 32-bit surface over caller-owned pixels with the given pitch.
SurfacePtr WrapPixels32(void *pixels, int width, int height, int pitch);

// Memory whose last byte is followed by an inaccessible page, so reading
// even one byte past the end faults in every build.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t size);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer &) = delete;
  GuardedBuffer &operator=(const GuardedBuffer &) = delete;
  Uint8 *data() const { return data_; }

 private:
  void *mapping_ = nullptr;
  size_t mappingSize_ = 0;
  Uint8 *data_ = nullptr;
};

void FillRandom(SDL_Surface *surface, std::mt19937 &random);
void FillBytes(SDL_Surface *surface, Uint8 value);
const Uint8 *PixelAt(const SDL_Surface *surface, int x, int y);
std::vector<Uint8> SurfaceBytes(const SDL_Surface *surface);

// A read-only memory stream over `bytes`, closed on destruction.
class MemoryStream {
 public:
  explicit MemoryStream(std::vector<Uint8> bytes);
  ~MemoryStream();
  MemoryStream(const MemoryStream &) = delete;
  MemoryStream &operator=(const MemoryStream &) = delete;
  SDL_RWops *get() const { return stream_; }
  int Position() const;

 private:
  std::vector<Uint8> bytes_;
  SDL_RWops *stream_;
};

// The text SDL sets for a failed read of a data stream.
std::string ReadErrorText();
