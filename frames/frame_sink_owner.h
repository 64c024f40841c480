// What the texture renderer sees of the movie that owns it: the movie's frame
// sink, set once at construction. The movie instance derives from this, so the
// renderer reaches the sink through its owner without depending on the movie
// library.
#pragma once

#include "frames/texture_flush_interface.h"

class FrameSinkOwner {
 public:
  explicit FrameSinkOwner(TextureFlushInterface *sink) : flusher(sink) {}
  FrameSinkOwner(const FrameSinkOwner &) = delete;
  FrameSinkOwner &operator=(const FrameSinkOwner &) = delete;

  // Read by the streaming thread for every frame; never changes.
  TextureFlushInterface *const flusher;

 protected:
  ~FrameSinkOwner() = default;
};
