#include "frames/scale_to_fit.h"

#include <cstring>
#include <new>

#include "frames/pixel_convert.h"
#include "frames/prefetch_row.h"
#include "frames/scale_geometry.h"
#include "frames/scale_kernels.h"

namespace {

// Large enough for any SDL surface; keeps byte offsets within 32 bits.
constexpr int kMaxSide = 1 << 20;

template <typename T>
bool Allocate(std::unique_ptr<T[]> &table, size_t count) {
  table.reset(new (std::nothrow) T[count]);
  return table != nullptr;
}

// Walks a step table the way the formula moves its source pointer and
// writes down where each fitted pixel starts and its fraction. The walk
// stops advancing once the count reaches the source length, as the formula
// does.
template <typename Visit>
void WalkSteps(int count, int32_t step, int sourceLength, Visit visit) {
  int32_t entry = 0;
  int position = 0;
  int counted = 0;
  for (int k = 0; k < count; ++k) {
    visit(k, position, static_cast<uint16_t>(entry & 0xFFFF));
    const int32_t next = (entry & 0xFFFF) + step;
    int32_t advance = next >> 16;
    counted += advance;
    if (counted >= sourceLength) {
      advance = 0;
    }
    position += advance;
    entry = next;
  }
}

// Runs the two passes over the fitted rows; `alongRow(sourceRow, out)` is the
// first pass for the source's pixel size.
template <typename AlongRow>
bool RunRows(const ScalePlan &plan, AlongRow alongRow,
             void (*betweenRows)(const int16_t *, const int16_t *, uint16_t, Uint8 *, int),
             const Uint8 *source, ptrdiff_t sourcePitch, size_t sourceRowBytes, Uint8 *out,
             ptrdiff_t destinationPitch, const std::atomic<int> *abandon = nullptr) {
  // Rows between looks at `abandon`: a few tenths of a millisecond at 4K.
  constexpr int kRowsPerLook = 64;
  // Which source row each scratch row holds: consecutive fitted rows mostly
  // share one or both of their source rows.
  int16_t *const scratch[2] = {plan.ScratchRow(0), plan.ScratchRow(1)};
  int held[2] = {-1, -1};
  auto along = [&](int row, int keep) -> const int16_t * {
    for (int s = 0; s < 2; ++s) {
      if (held[s] == row) {
        return scratch[s];
      }
    }
    const int s = held[0] == keep ? 1 : 0;
    alongRow(source + row * sourcePitch, scratch[s]);
    held[s] = row;
    return scratch[s];
  };
  const int32_t *rows = plan.RowIndices();
  const uint16_t *weights = plan.RowWeights();
  // Source rows are taken in rising order; the last one asked for ahead.
  int prefetched = -1;
  auto prefetch = [&](int row) {
    if (row > prefetched && row != held[0] && row != held[1]) {
      PrefetchRow(source + row * sourcePitch, sourceRowBytes);
      prefetched = row;
    }
  };
  for (int j = 0; j < plan.Height(); ++j) {
    if (abandon != nullptr && j % kRowsPerLook == 0 && abandon->load(std::memory_order_relaxed)) {
      return false;
    }
    const int upperRow = rows[j];
    const int lowerRow = upperRow + plan.LowerNeighbour();
    const int16_t *upper = along(upperRow, lowerRow);
    // With no weight on it the lower row does not change the result.
    const int16_t *lower = weights[j] != 0 ? along(lowerRow, upperRow) : upper;
    if (j + 1 < plan.Height()) {
      prefetch(rows[j + 1]);
      prefetch(rows[j + 1] + plan.LowerNeighbour());
    }
    betweenRows(upper, lower, weights[j], out + j * destinationPitch, plan.Width() * 4);
  }
  return true;
}

// The first byte of the fitted rectangle.
Uint8 *FittedStart(const ScalePlan &plan, Uint8 *destination, ptrdiff_t destinationPitch) {
  return destination + static_cast<ptrdiff_t>(plan.Top()) * destinationPitch +
         static_cast<ptrdiff_t>(plan.Left()) * 4;
}

}  // namespace

ScaleRowKernel ScaleRowKernelFor(PixelKernel kernel) {
  switch (kernel) {
#ifdef CINELINK_X86_KERNELS
    case PixelKernel::kSse2:
      return Sse2ScaleRowKernel();
    case PixelKernel::kAvx2:
      return Avx2ScaleRowKernel();
#endif
    default:
      return ScalarScaleRowKernel();
  }
}

void ScalePlan::Clear() {
  sourceWidth_ = sourceHeight_ = 0;
  left_ = top_ = width_ = height_ = 0;
  copies_ = false;
  wideColumns24_ = 0;
}

bool ScalePlan::Prepare(int sourceWidth, int sourceHeight, int destinationWidth,
                        int destinationHeight, SameSize sameSize) {
  Clear();
  if (sourceWidth < 1 || sourceHeight < 1 || sourceWidth > kMaxSide || sourceHeight > kMaxSide ||
      destinationWidth < 0 || destinationHeight < 0 || destinationWidth > kMaxSide ||
      destinationHeight > kMaxSide) {
    return false;
  }
  const FitRectangle fit = FitInto(sourceWidth, sourceHeight, destinationWidth, destinationHeight);
  if (fit.width <= 0 || fit.height <= 0) {
    return true;  // nothing to write, and no step to take
  }
  const auto width = static_cast<size_t>(fit.width);
  const auto height = static_cast<size_t>(fit.height);
  // Scratch rows padded to whole 32-byte vectors.
  const size_t stride = (width * 4 + 15) / 16 * 16;
  if (!Allocate(columnIndices_, width + 1) || !Allocate(columnWeights_, width * 4 + 1) ||
      !Allocate(rowIndices_, height + 1) || !Allocate(rowWeights_, height + 1) ||
      !Allocate(scratch_, stride * 2 + 1)) {
    return false;
  }
  scratchStride_ = static_cast<ptrdiff_t>(stride);

  WalkSteps(fit.width, FitStep(sourceWidth, fit.width), sourceWidth,
            [this](int i, int x, uint16_t ex) {
              columnIndices_[i] = x;
              for (int b = 0; b < 4; ++b) {
                columnWeights_[i * 4 + b] = ex;
              }
            });
  WalkSteps(fit.height, FitStep(sourceHeight, fit.height), sourceHeight,
            [this](int j, int y, uint16_t ey) {
              rowIndices_[j] = y;
              rowWeights_[j] = ey;
            });
  // Columns only move right, so the wide ones come first.
  while (wideColumns24_ < fit.width && columnIndices_[wideColumns24_] <= sourceWidth - 3) {
    ++wideColumns24_;
  }
  sourceWidth_ = sourceWidth;
  sourceHeight_ = sourceHeight;
  left_ = fit.left;
  top_ = fit.top;
  width_ = fit.width;
  height_ = fit.height;
  copies_ = sameSize == SameSize::kCopy && width_ == sourceWidth && height_ == sourceHeight;
  return true;
}

void RunScalePlanWith(PixelKernel kernel, const ScalePlan &plan, const Uint8 *source,
                      ptrdiff_t sourcePitch, Uint8 *destination, ptrdiff_t destinationPitch) {
  if (plan.Empty()) {
    return;
  }
  Uint8 *const out = FittedStart(plan, destination, destinationPitch);
  if (plan.Copies()) {
    for (int j = 0; j < plan.Height(); ++j) {
      if (j + 1 < plan.Height()) {
        PrefetchRow(source + (j + 1) * sourcePitch, static_cast<size_t>(plan.Width()) * 4);
      }
      std::memcpy(out + j * destinationPitch, source + j * sourcePitch,
                  static_cast<size_t>(plan.Width()) * 4);
    }
    return;
  }
  const ScaleRowKernel rows = ScaleRowKernelFor(kernel);
  // The vector kernels load each pixel with its right neighbour.
  const auto alongRow = plan.SourceWidth() > 1 ? rows.alongRow : ScalarScaleRowKernel().alongRow;
  RunRows(
      plan, [&](const Uint8 *row, int16_t *scratch) { alongRow(plan, row, scratch); },
      rows.betweenRows, source, sourcePitch, static_cast<size_t>(plan.SourceWidth()) * 4, out,
      destinationPitch);
}

bool RunScalePlan24With(PixelKernel kernel, const ScalePlan &plan, const Uint8 *source,
                        ptrdiff_t sourcePitch, Uint8 *destination, ptrdiff_t destinationPitch,
                        const SDL_PixelFormat *format, const std::atomic<int> *abandon) {
  if (plan.Empty()) {
    return true;
  }
  Uint8 *const out = FittedStart(plan, destination, destinationPitch);
  if (plan.Copies()) {
    // A copy is quick enough to look only once, first.
    if (abandon != nullptr && abandon->load(std::memory_order_relaxed) != 0) {
      return false;
    }
    Convert24To32(source, sourcePitch, out, destinationPitch, plan.Width(), plan.Height(), format);
    return true;
  }
  const ScaleRowKernel rows = ScaleRowKernelFor(kernel);
  const auto alongRow24 =
      plan.SourceWidth() > 1 ? rows.alongRow24 : ScalarScaleRowKernel().alongRow24;
  const auto fourth = static_cast<int16_t>(ConvertedFourthByte(format));
  return RunRows(
      plan, [&](const Uint8 *row, int16_t *scratch) { alongRow24(plan, row, scratch, fourth); },
      rows.betweenRows, source, sourcePitch, static_cast<size_t>(plan.SourceWidth()) * 3, out,
      destinationPitch, abandon);
}

void RunScalePlan(const ScalePlan &plan, const Uint8 *source, ptrdiff_t sourcePitch,
                  Uint8 *destination, ptrdiff_t destinationPitch) {
  RunScalePlanWith(ChosenPixelKernel(), plan, source, sourcePitch, destination, destinationPitch);
}

bool RunScalePlan24(const ScalePlan &plan, const Uint8 *source, ptrdiff_t sourcePitch,
                    Uint8 *destination, ptrdiff_t destinationPitch, const SDL_PixelFormat *format,
                    const std::atomic<int> *abandon) {
  return RunScalePlan24With(ChosenPixelKernel(), plan, source, sourcePitch, destination,
                            destinationPitch, format, abandon);
}

int ScaleToFit(SDL_Surface *source, SDL_Surface *destination) {
  if (source == nullptr || destination == nullptr || source->w < 1 || source->h < 1 ||
      !HasFourBytePixels(source) || !HasFourBytePixels(destination)) {
    return -1;
  }
  ScalePlan plan;
  if (!plan.Prepare(source->w, source->h, destination->w, destination->h)) {
    return -1;
  }
  // Destination rows are whole pixels apart, as the formula addresses them.
  RunScalePlan(plan, static_cast<const Uint8 *>(source->pixels), source->pitch,
               static_cast<Uint8 *>(destination->pixels), destination->pitch / 4 * 4);
  return 0;
}
