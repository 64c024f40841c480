// The frame sink that turns each frame into the SDL surface the host blits.
#pragma once

#include <SDL.h>

#include <atomic>

#include "frames/texture_flush_interface.h"
#include "platform/media/structs.h"
#include "platform/win32/types.h"

// Reads each frame into a surface of its own format, converts it to the
// display format at the frame's size and scales it, aspect kept and
// centred, into the output surface of the size the host asked for. The bars
// beside or above and below the picture are never written.
//
//   constructed --PrepareFormat--> prepared --FlushFrame ok--> prepared
//        ^                           |   ^                        |
//        |                           |   +----PrepareFormat-------+
//        |                      unreadable frame
//        |                           v
//        +------------------------ failed --PrepareFormat--> prepared
//
// Only in `prepared` with all three surfaces made (a 32-bit video mode was
// set) are frames taken; otherwise they are refused without reading.
//
// Surface lifetime: an output surface may have been handed to the host, who
// may keep blitting it, so it is never freed; when a new format or a failed
// frame replaces it, it is retired and stays valid, showing its last frame,
// until the process ends. The frame and work surfaces never leave the sink
// and are freed when replaced.
//
// Threads: PrepareFormat runs on the pin-connecting thread, FlushFrame on the
// streaming thread; the connection protocol orders them, so the sink takes no
// lock. OutputSurface may be read on any thread at any time.
class SDLSurfaceFlusher : public TextureFlushInterface {
 public:
  SDLSurfaceFlusher(LONG targetWidth, LONG targetHeight);
  // Not part of any movie's life (sinks live until the process ends); the
  // output surface is retired, not freed, even here.
  ~SDLSurfaceFlusher();
  SDLSurfaceFlusher(const SDLSurfaceFlusher &) = delete;
  SDLSurfaceFlusher &operator=(const SDLSurfaceFlusher &) = delete;

  // Makes the frame, work and output surfaces for this header, replacing
  // those of an earlier format. True even when SDL could not make a surface
  // (no video mode yet) or the display format does not have 4 bytes per
  // pixel: the sink then refuses frames and has no output surface. False
  // only for a null header. Pin-connecting thread.
  bool PrepareFormat(const BITMAPINFOHEADER *header) override;
  // Reads the frame (bottom-up rows, the agreed format) and scales it into
  // the output surface. False without reading when the sink has no surfaces,
  // the buffer is null or its length negative, or no stream can be opened
  // over it. False after reading when the frame is incomplete or malformed:
  // the SDL error text says why and the sink enters `failed`. Streaming
  // thread.
  bool FlushFrame(BYTE *buffer, LONG length, LONG stride) override;
  // The output surface keeps the last frame drawn.
  void NotifyStopped() override;
  // Drops the frame surface and retires the output surface.
  void ReleaseSurfaces() override;

  // The surface the host blits, in the display format and of the target
  // size, or null: before the format is known, after a failed frame, and
  // when no usable display format could be made. Any thread.
  SDL_Surface *OutputSurface() const;

 private:
  void DropSurfaces();

  // Written by PrepareFormat and by a failing FlushFrame; read by FlushFrame
  // and, for outputSurface only, by the host at any time.
  std::atomic<SDL_Surface *> outputSurface{nullptr};
  SDL_Surface *frameSurface = nullptr;  // the frame's own format and size
  SDL_Surface *workSurface = nullptr;   // display format, the frame's size
  BITMAPINFOHEADER frameHeader{};
  const LONG targetWidth;
  const LONG targetHeight;
};
