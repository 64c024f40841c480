// The frame sink that turns each frame into the SDL surface the host blits.
#pragma once

#include <SDL.h>

#include <atomic>

#include "frames/triple_buffered_surface.h"
#include "frames/scale_to_fit.h"
#include "frames/texture_flush_interface.h"
#include "platform/media/structs.h"
#include "platform/win32/types.h"

// Converts each frame to the display format and scales it, aspect kept and
// centred, into the output surface of the size the host asked for. The bars beside or above and below the picture are never drawn
// by the sink; what the host put there stays.
//
//   constructed --PrepareFormat--> prepared --FlushFrame ok--> prepared
//        ^                           |   ^                        |
//        |                           |   +----PrepareFormat-------+
//        |                 unreadable frame, ReleaseSurfaces
//        |                           v
//        +------------------------ failed --PrepareFormat--> prepared
//
// Only in `prepared` with every surface made (a 32-bit video mode was set,
// the frame size is one SDL can hold) are frames taken; otherwise they are
// refused without reading. The output surface exists whenever the display
// format allows, even when frames are refused.
//
// Whole frames: the output surface's pixels live in three buffers the sink
// owns; each frame is drawn into the one longest off show and then published
// (see TripleBufferedSurface), so a host blitting at any moment sees one frame.
// The host may lock, fill and colour-key the surface. A surface whose pixels
// the host replaced takes no frames (they are refused as they come) until
// one of the buffers is back. An RLE colour key (SDL_RLEACCEL) makes SDL
// blit its own encoded copy, which frames do not update until the host locks
// the surface or sets the key again.
//
// Two paths per frame, both through the scale plan made once per format.
// 24-bit BI_RGB frames (the renderer's only format), when the display format
// is one the fast converter handles: the bottom-up rows are converted and
// scaled in one pass straight from the sample buffer into the output; nothing
// is allocated or copied on the way. Every other format: read through a
// stream into a frame surface of the frame's own format, blitted by SDL into
// the work surface (display format, the frame's size) and scaled from there.
//
// Surface lifetime: an output surface may have been handed to the host, who
// may keep blitting it, so it is never freed; when a new format, a failed
// frame or ReleaseSurfaces gives it up, it is retired with its last frame
// and stays valid until the process ends. Everything else is freed then.
//
// Threads: PrepareFormat runs on the pin-connecting thread, FlushFrame on the
// streaming thread, ReleaseSurfaces after the graph has stopped; the caller
// orders them, so the sink takes no lock. OutputSurface may be read on any
// thread at any time.
class SDLSurfaceFlusher : public TextureFlushInterface {
 public:
  SDLSurfaceFlusher(LONG targetWidth, LONG targetHeight);
  // Not part of any movie's life (sinks live until the process ends); the
  // output surface is retired, not freed, even here.
  ~SDLSurfaceFlusher();
  SDLSurfaceFlusher(const SDLSurfaceFlusher &) = delete;
  SDLSurfaceFlusher &operator=(const SDLSurfaceFlusher &) = delete;

  // Makes the surfaces and the scale plan for this header, replacing those
  // of an earlier format. True even when SDL could not make a surface (no
  // video mode yet), the frame size is unusable or the display format does
  // not have 4 bytes per pixel: the sink then refuses frames. False only
  // for a null header. Pin-connecting thread.
  bool PrepareFormat(const BITMAPINFOHEADER *header) override;
  // Reads the frame (bottom-up rows, the agreed format), scales it into the
  // back buffer and shows it. False without reading when the sink takes no
  // frames, the buffer is null or its length negative, or (formats read
  // through a stream) no stream can be opened over it. False after reading
  // when the frame is incomplete or malformed: the SDL error text says why
  // and the sink enters `failed`. False without drawing when the host
  // replaced the surface's pixels. Streaming thread.
  bool FlushFrame(BYTE *buffer, LONG length, LONG stride) override;
  // Draws the frame into the back buffer without showing it; the FlushFrame
  // of the same buffer and length that follows only copies the bars around
  // it from the surface as it is then and shows it. Streaming thread.
  void PrepareFrame(BYTE *buffer, LONG length, LONG stride,
                    const std::atomic<int> &abandon) override;
  // The output surface keeps the last frame shown.
  void NotifyStopped() override;
  // Retires the output surface with its last frame and frees everything
  // else the sink holds. Called once the graph can deliver no more frames.
  void ReleaseSurfaces() override;

  // The surface the host blits, in the display format and of the target
  // size, or null: before the format is known, after a failed frame, after
  // ReleaseSurfaces, and when no usable display format could be made. Any
  // thread.
  SDL_Surface *OutputSurface() const;

 private:
  // Makes the plan and the surfaces frames need on their way into `shown`;
  // false when frames of this format cannot be taken.
  bool PrepareFramePath(const SDL_Surface &shown);
  void DropFramePath();
  // FlushFrame's reading and scaling into the back buffer, without showing
  // and without the bars around the picture. Returns that buffer; null when
  // nothing is to be shown, also when `abandon` (if given) became nonzero.
  Uint8 *DrawFrame(BYTE *buffer, LONG length, LONG stride,
                   const std::atomic<int> *abandon = nullptr);

  // Written by PrepareFormat, ReleaseSurfaces and a failing FlushFrame; read
  // by the host at any time.
  std::atomic<SDL_Surface *> outputSurface{nullptr};
  // The rest is touched only by the thread the caller lets in (see above).
  TripleBufferedSurface output;
  bool framesTaken = false;             // every part of the frame path was made
  bool directFrames = false;            // 24-bit rows converted from the buffer
  SDL_Surface *frameSurface = nullptr;  // the frame's own format; not for direct frames
  SDL_Surface *workSurface = nullptr;   // display format, the frame's size; likewise
  ScalePlan plan;                       // the frame's size into the output surface
  const BYTE *prepared = nullptr;       // the frame drawn by PrepareFrame, not yet shown
  LONG preparedLength = 0;
  const Uint8 *preparedBack = nullptr;  // the back buffer it was drawn into
  BITMAPINFOHEADER frameHeader{};
  const LONG targetWidth;
  const LONG targetHeight;
};
