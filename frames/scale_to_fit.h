// Aspect-preserving, centred bilinear resampling of one 32-bit surface into
// another of any size.
#pragma once

#include <SDL.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// Everything about one (source size, destination size) pair that does not
// change from frame to frame: the fitted rectangle, where each fitted column
// and row samples the source and with what weight, and the kernels' scratch
// rows. Prepare allocates; running the plan allocates nothing. A plan is run
// by one thread at a time (the scratch rows are its own).
class ScalePlan {
 public:
  // What a fit of exactly the source's size does: the scaler's formula
  // (steps of (sw - 1) / fw, which shift a 1:1 picture by up to a pixel), or
  // a plain copy.
  enum class SameSize { kInterpolate, kCopy };

  // Computes the fit of a sourceWidth x sourceHeight picture into the
  // destination and the tables for it. False when a size is out of range
  // (the source must be at least 1 x 1, the destination at least 0 x 0, no
  // side above 2^20) or a table cannot be allocated; the plan is then empty.
  bool Prepare(int sourceWidth, int sourceHeight, int destinationWidth, int destinationHeight,
               SameSize sameSize = SameSize::kInterpolate);

  // The fitted rectangle in the destination.
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  // True when nothing is written: the destination has no room, or Prepare
  // was not called or failed.
  bool Empty() const { return width_ <= 0 || height_ <= 0; }

  int SourceWidth() const { return sourceWidth_; }
  int SourceHeight() const { return sourceHeight_; }
  bool Copies() const { return copies_; }

  // Per fitted column: the index of its left source pixel in a row, and its
  // 16-bit fraction repeated once per byte of the pixel (the vector kernels
  // load two or four columns' weights at once).
  const int32_t *ColumnIndices() const { return columnIndices_.get(); }
  const uint16_t *ColumnWeights() const { return columnWeights_.get(); }
  // Per fitted row: the index of its upper source row and its fraction.
  const int32_t *RowIndices() const { return rowIndices_.get(); }
  const uint16_t *RowWeights() const { return rowWeights_.get(); }
  // How many leading fitted columns of a 3-byte source can be read eight
  // bytes at a time (pixel and right neighbour and two more) within the row.
  int WideColumns24() const { return wideColumns24_; }
  // The lower neighbour's row offset: 0 for a one-pixel-high source, whose
  // weight there is always 0. The right neighbour is alike.
  int LowerNeighbour() const { return sourceHeight_ > 1 ? 1 : 0; }

  // Two rows of horizontally interpolated 16-bit channels, Width() * 4
  // entries each, for the kernels to keep between fitted rows.
  int16_t *ScratchRow(int which) const { return scratch_.get() + which * scratchStride_; }

 private:
  void Clear();

  int sourceWidth_ = 0;
  int sourceHeight_ = 0;
  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  bool copies_ = false;
  int wideColumns24_ = 0;
  std::unique_ptr<int32_t[]> columnIndices_;
  std::unique_ptr<uint16_t[]> columnWeights_;
  std::unique_ptr<int32_t[]> rowIndices_;
  std::unique_ptr<uint16_t[]> rowWeights_;
  std::unique_ptr<int16_t[]> scratch_;
  ptrdiff_t scratchStride_ = 0;
};

// Scales 4-byte pixels with a prepared plan into the fitted rectangle only:
// `source` holds the plan's source size, `destination` points at the
// destination's first row (not the rectangle's). Pitches are in bytes and
// may be negative. Uses the fastest kernel this CPU has, chosen once.
// Allocates nothing; an empty plan writes nothing.
void RunScalePlan(const ScalePlan &plan, const Uint8 *source, ptrdiff_t sourcePitch,
                  Uint8 *destination, ptrdiff_t destinationPitch);

// Scales 3-byte pixels (blue, green, red in memory) with a prepared plan into
// 4-byte pixels of a `format` that CanConvert24To32 accepts: exactly the
// bytes of Convert24To32 followed by RunScalePlan, without the converted
// copy. The same conditions otherwise. When `abandon` is given and becomes
// nonzero, the scale stops within a few dozen rows and returns false, the
// rectangle part written; otherwise it returns true.
bool RunScalePlan24(const ScalePlan &plan, const Uint8 *source, ptrdiff_t sourcePitch,
                    Uint8 *destination, ptrdiff_t destinationPitch, const SDL_PixelFormat *format,
                    const std::atomic<int> *abandon = nullptr);

// Scales the whole of `source` into the largest rectangle of `destination`
// that keeps the source's aspect ratio, centred; pixels outside that
// rectangle are never touched. Both surfaces must have 4 bytes per pixel in
// the same channel layout (each byte is interpolated on its own) and neither
// is locked.
//
// Returns 0 when done (a destination with no room gives an empty rectangle
// and is done), -1 when nothing was written: a position table could not be
// allocated, a surface is missing, the source is empty or a surface does not
// have 4 bytes per pixel.
int ScaleToFit(SDL_Surface *source, SDL_Surface *destination);

// The same contract, computed pixel by pixel straight from the scaler's
// formula with its two step tables: the reference the kernels must equal.
int ScaleToFitReference(SDL_Surface *source, SDL_Surface *destination);
