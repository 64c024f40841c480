#include "tests/frames/test_surfaces.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

SurfacePtr MakeSurface32(int width, int height) {
  return SurfacePtr(SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 32, 0x000000FF, 0x0000FF00,
                                         0x00FF0000, 0xFF000000));
}

SurfacePtr WrapPixels32(void *pixels, int width, int height, int pitch) {
  return SurfacePtr(SDL_CreateRGBSurfaceFrom(pixels, width, height, 32, pitch, 0x000000FF,
                                             0x0000FF00, 0x00FF0000, 0xFF000000));
}

GuardedBuffer::GuardedBuffer(size_t size) {
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t dataPages = (size + page - 1) / page;
  mappingSize_ = (dataPages + 1) * page;
  mapping_ = mmap(nullptr, mappingSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping_ == MAP_FAILED) {
    throw std::runtime_error("mmap failed");
  }
  auto *base = static_cast<Uint8 *>(mapping_);
  if (mprotect(base + dataPages * page, page, PROT_NONE) != 0) {
    throw std::runtime_error("mprotect failed");
  }
  data_ = base + dataPages * page - size;
}

GuardedBuffer::~GuardedBuffer() { munmap(mapping_, mappingSize_); }

void FillRandom(SDL_Surface *surface, std::mt19937 &random) {
  std::uniform_int_distribution<int> byte(0, 255);
  for (int y = 0; y < surface->h; ++y) {
    auto *row = static_cast<Uint8 *>(surface->pixels) + static_cast<ptrdiff_t>(y) * surface->pitch;
    for (int x = 0; x < surface->w * surface->format->BytesPerPixel; ++x) {
      row[x] = static_cast<Uint8>(byte(random));
    }
  }
}

void FillBytes(SDL_Surface *surface, Uint8 value) {
  std::memset(surface->pixels, value, static_cast<size_t>(surface->h) * surface->pitch);
}

const Uint8 *PixelAt(const SDL_Surface *surface, int x, int y) {
  return static_cast<const Uint8 *>(surface->pixels) + static_cast<ptrdiff_t>(y) * surface->pitch +
         x * surface->format->BytesPerPixel;
}

std::vector<Uint8> SurfaceBytes(const SDL_Surface *surface) {
  const auto *pixels = static_cast<const Uint8 *>(surface->pixels);
  return std::vector<Uint8>(pixels, pixels + static_cast<size_t>(surface->h) * surface->pitch);
}

MemoryStream::MemoryStream(std::vector<Uint8> bytes)
    : bytes_(std::move(bytes)),
      stream_(SDL_RWFromMem(bytes_.data(), static_cast<int>(bytes_.size()))) {
  if (stream_ == nullptr) {
    throw std::runtime_error("SDL_RWFromMem failed");
  }
}

MemoryStream::~MemoryStream() { SDL_RWclose(stream_); }

int MemoryStream::Position() const { return SDL_RWtell(stream_); }

std::string ReadErrorText() {
  SDL_Error(SDL_EFREAD);
  std::string text = SDL_GetError();
  SDL_ClearError();
  return text;
}
