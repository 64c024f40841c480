#include "frames/rle_pixels.h"

#include <cstdint>

namespace {

bool ReadByte(SDL_RWops *source, Uint8 *value) {
  return SDL_RWread(source, value, 1, 1) == 1;
}

// Where the next pixel goes. Positions are byte offsets into the surface's
// pixel memory kept as 64-bit integers, so that deltas may wander far off
// the surface without forming an out-of-range pointer; only writes that land
// inside [0, end) reach memory.
class RleCursor {
 public:
  explicit RleCursor(SDL_Surface *surface)
      : pixels_(static_cast<Uint8 *>(surface->pixels)),
        pitch_(surface->pitch),
        end_(static_cast<int64_t>(surface->h) * surface->pitch),
        row_(end_ - pitch_) {}

  void Put(Uint8 value) {
    const int64_t at = row_ + x_;
    if (at >= 0 && at < end_) {
      pixels_[at] = value;
    }
    ++x_;
  }
  void NextLine() {
    x_ = 0;
    row_ -= pitch_;
  }
  void Move(Uint8 dx, Uint8 dy) {
    x_ += dx;
    row_ -= static_cast<int64_t>(dy) * pitch_;
  }

 private:
  Uint8 *pixels_;
  int64_t pitch_;
  int64_t end_;
  int64_t row_;  // offset of the current row; rows go up as data goes on
  int64_t x_ = 0;
};

}  // namespace

int DecodeRlePixels(SDL_Surface *surface, SDL_RWops *source, bool eightBit) {
  if (surface == nullptr || source == nullptr) {
    return 1;
  }
  RleCursor cursor(surface);
  for (;;) {
    Uint8 count;
    if (!ReadByte(source, &count)) {
      return 1;
    }
    if (count != 0) {
      // Encoded run: one value, or in 4-bit mode two alternating nibbles.
      Uint8 value;
      if (!ReadByte(source, &value)) {
        return 1;
      }
      if (eightBit) {
        for (int k = 0; k < count; ++k) {
          cursor.Put(value);
        }
      } else {
        const Uint8 nibbles[2] = {static_cast<Uint8>(value >> 4),
                                  static_cast<Uint8>(value & 0x0F)};
        for (int k = 0; k < count; ++k) {
          cursor.Put(nibbles[k & 1]);
        }
      }
      continue;
    }

    Uint8 escape;
    if (!ReadByte(source, &escape)) {
      return 1;
    }
    if (escape == 0) {
      cursor.NextLine();
    } else if (escape == 1) {
      return 0;
    } else if (escape == 2) {
      Uint8 dx;
      Uint8 dy;
      if (!ReadByte(source, &dx) || !ReadByte(source, &dy)) {
        return 1;
      }
      cursor.Move(dx, dy);
    } else {
      // Absolute run of `escape` pixels, padded to a whole number of 16-bit
      // words in the stream.
      int byteCount;
      if (eightBit) {
        byteCount = escape;
        for (int k = 0; k < escape; ++k) {
          Uint8 value;
          if (!ReadByte(source, &value)) {
            return 1;
          }
          cursor.Put(value);
        }
      } else {
        byteCount = (escape + 1) / 2;
        for (int k = 0; k < escape; k += 2) {
          Uint8 value;
          if (!ReadByte(source, &value)) {
            return 1;
          }
          cursor.Put(static_cast<Uint8>(value >> 4));
          if (k + 1 < escape) {
            cursor.Put(static_cast<Uint8>(value & 0x0F));
          }
        }
      }
      if ((byteCount & 1) != 0) {
        Uint8 filler;
        if (!ReadByte(source, &filler)) {
          return 1;
        }
      }
    }
  }
}
