// The frame sink of one movie: told the agreed frame format once, then
// handed every frame that is due.
#pragma once

#include <atomic>

#include "platform/media/structs.h"
#include "platform/win32/types.h"

// Contract for implementations:
// - PrepareFormat runs on the thread that connects the renderer's input pin
//   (the host's thread inside the movie load), before any frame, and again
//   on every reconnection; no frame is delivered while it runs.
// - PrepareFrame runs on the graph's streaming thread with no lock held,
//   just before the renderer takes its locks to draw that frame; a stop
//   waits for it to return. FlushFrame runs on the same thread, called from
//   the renderer's draw step with the renderer's interface and renderer
//   locks held; it must not call back into the renderer.
// - NotifyStopped runs on the host's thread after the graph has stopped.
// - A sink is never destroyed through this interface.
class TextureFlushInterface {
 public:
  // Takes a copy of the agreed bitmap header and makes whatever the frames
  // need. False refuses the format.
  virtual bool PrepareFormat(const BITMAPINFOHEADER *header) = 0;
  // Takes one frame: `length` bytes at `buffer` (the sample's whole
  // allocated buffer), rows `stride` bytes apart. False when the frame was
  // not shown.
  virtual bool FlushFrame(BYTE *buffer, LONG length, LONG stride) = 0;
  // May do FlushFrame's work for this frame ahead of it, outside the
  // renderer's locks, so that the game's calls that take them do not wait
  // for a whole frame to be drawn. What it makes counts only for a FlushFrame
  // of the same buffer and length that follows it, however much later; the
  // buffer must not change in between. When `abandon` is not 0
  // (a stop or flush is waiting) it gives up soon, with nothing made.
  // By default nothing.
  virtual void PrepareFrame(BYTE *buffer, LONG length, LONG stride,
                            const std::atomic<int> &abandon) {
    (void)buffer;
    (void)length;
    (void)stride;
    (void)abandon;
  }
  // The graph has stopped; what is shown stays shown.
  virtual void NotifyStopped() = 0;
  // Gives up the frame and output surfaces.
  virtual void ReleaseSurfaces() = 0;

 protected:
  TextureFlushInterface() = default;
  TextureFlushInterface(const TextureFlushInterface &) = default;
  TextureFlushInterface &operator=(const TextureFlushInterface &) = default;
  ~TextureFlushInterface() = default;
};
