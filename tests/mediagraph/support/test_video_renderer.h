// A video renderer for the graph's tests: takes uncompressed RGB24 in a
// VIDEOINFOHEADER, records every frame it draws (times, marker block, colours at
// chosen points) and lets a test wait for frames.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "renderer/base_video_renderer.h"

namespace mediagraph_test {

// A colour read from a frame, in the frame's byte order.
struct Bgr {
  int b, g, r;
};

struct DrawnFrame {
  bool hasTime = false;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  bool discontinuity = false;
  std::vector<Bgr> probes;  // at the points given to SetProbes, in that order
};

struct Point {
  int x, y;  // from the top-left corner of the picture
};

class TestVideoRenderer final : public CBaseVideoRenderer {
 public:
  // New renderer with one reference (on its IBaseFilter).
  static TestVideoRenderer *Create();

  IBaseFilter *Filter() { return static_cast<IBaseFilter *>(this); }

  // Points whose colour every drawn frame records. Set before streaming.
  void SetProbes(std::vector<Point> points);

  // The agreed picture: width, height (positive: rows bottom-up), row stride.
  int Width() const;
  int Height() const;
  int Stride() const;
  int TypesOffered() const;

  std::vector<DrawnFrame> Frames() const;
  size_t FrameCount() const;
  void ClearFrames();
  // Waits until at least `count` frames have been drawn; false after `ms`.
  bool WaitForFrames(size_t count, int ms) const;

  // The pictures a paused renderer was handed to hold (not drawn), as Frames.
  std::vector<DrawnFrame> Held() const;

  HRESULT DrawSample(IMediaSample *sample) override;
  void OnPrerollSample(IMediaSample *sample) override;
  // Draws late frames rather than dropping them: the tests count frames,
  // and a loaded machine (a sanitizer's) makes some late.
  HRESULT DecideDrawTiming(IMediaSample *sample, REFERENCE_TIME *start,
                           REFERENCE_TIME *stop) override;
  HRESULT ValidateMediaType(const AM_MEDIA_TYPE *type) override;
  HRESULT ApplyMediaType(const AM_MEDIA_TYPE *type) override;

 private:
  explicit TestVideoRenderer(HRESULT *result);
  void Record(IMediaSample *sample, std::vector<DrawnFrame> *into);

  mutable std::mutex lock_;
  mutable std::condition_variable drawn_;
  // --- guarded by lock_
  std::vector<Point> probes_;
  std::vector<DrawnFrame> frames_;
  std::vector<DrawnFrame> held_;
  int width_ = 0, height_ = 0, stride_ = 0;
  int typesOffered_ = 0;
};

}  // namespace mediagraph_test
