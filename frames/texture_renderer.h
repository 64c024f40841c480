// CTextureRenderer: the movie's own video renderer. It accepts uncompressed
// 24-bit RGB in a VIDEOINFOHEADER only, tells the movie's frame sink the
// agreed format, and hands every sample that is due to that sink.
//
// Frame layout handed to the sink: the sample's whole buffer (GetPointer,
// GetSize); pixels blue, green, red from the lowest address; rows bottom-up,
// each `rowStride` = 3 x frameWidth rounded up to a multiple of 4 bytes.
//
// Each picture is drawn into the sink's hidden buffer while it waits for its
// time, and only shown when due; a picture cued while paused is so drawn
// once the pause is complete, and shown the moment the run reaches it.
//
// Threads: ValidateMediaType and ApplyMediaType run on the thread that
// connects the input pin (the game's, inside the movie load); DrawSample on
// the streaming thread with the interface and renderer locks held,
// NoteWaitBegin and PrepareToDraw on that thread without them. The
// connection protocol orders them, so the renderer takes no lock of its own.
#pragma once

#include <atomic>
#include <cstdint>

#include "frames/frame_sink_owner.h"
#include "platform/media/media.h"
#include "renderer/base_video_renderer.h"

// {1F9FEA8A-DCE6-40FA-A733-B742D4DF6751}
DEFINE_GUID_CONST(CLSID_TextureRenderer, 0x1F9FEA8A, 0xDCE6, 0x40FA, 0xA7, 0x33, 0xB7, 0x42, 0xD4,
                  0xDF, 0x67, 0x51);

class CTextureRenderer : public CBaseVideoRenderer {
 public:
  // Reference count 0: the movie instance takes the first reference.
  CTextureRenderer(FrameSinkOwner *owner, HRESULT *result);
  ~CTextureRenderer() override;

  // Records the frame size and stride and prepares the movie's frame sink.
  HRESULT ApplyMediaType(const AM_MEDIA_TYPE *type) override;
  // Hands the sample's buffer to the movie's frame sink.
  HRESULT DrawSample(IMediaSample *sample) override;
  // Video / RGB24 / VIDEOINFOHEADER with a format block, nothing else.
  HRESULT ValidateMediaType(const AM_MEDIA_TYPE *type) override;

  // Bytes from one frame row to the next for a width: 3 x width rounded up to 4.
  static LONG RowStrideFor(LONG width);

  // The agreed picture size (0 x 0 before the connection). Game's thread.
  void VideoSize(LONG *width, LONG *height) const;
  // While set, a picture cued in the paused state is drawn at once rather
  // than at its time, so a jump while paused or stopped shows where it went.
  // A pause on the way to running leaves it clear: its first picture waits
  // for its time. Any thread.
  void ShowCuedPictures(bool show) { showCued.store(show); }

 protected:
  void OnPrerollSample(IMediaSample *sample) override;
  // Keeps the sample at hand for the two below: the sender's reference holds
  // it for the whole call, even once a stop or flush lets it go here.
  HRESULT ProcessSample(IMediaSample *sample) override;
  // Both draw the sample being received into the sink's hidden buffer,
  // without locks, unless it is drawn there already; DrawSample then only
  // shows it.
  void NoteWaitBegin() override;
  void PrepareToDraw() override;
  // A picture being drawn ahead when a stop or flush comes is given up
  // rather than finished.
  STDMETHODIMP Stop() override;
  HRESULT EnterFlush() override;

 private:
  FrameSinkOwner *const owner;  // the movie; not counted; its sink is read at each use
  LONG frameWidth = 0;
  LONG frameHeight = 0;
  LONG rowStride = 0;
  std::atomic<bool> showCued{false};
  std::atomic<int> abandonDrawing{0};  // a stop or flush came; cleared by the next sample
  // --- streaming thread
  IMediaSample *receiving = nullptr;  // in ProcessSample; not counted
  uint64_t receipts = 0;              // ProcessSample calls so far
  uint64_t drawnAhead = 0;            // the receipt drawn ahead, not yet shown; 0 for none

  // Draws the sample being received ahead unless it is already.
  void DrawAhead();
};
