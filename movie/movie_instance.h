// One loaded movie: its filter graph, the interfaces the exports drive, its
// texture renderer, its frame sink and the loop flag.
//
// Life of a record (all on the game's thread):
//
//   constructed --CreateGraph--> graph created --RenderMovieFile--> ready
//        ready <--> in use (exports run / pause / stop the graph)
//        any --ReleaseGraph--> released (flusher only; never destroyed)
//
// No lock: the exports assume one calling thread, and the graph's streaming
// thread reads only `flusher`, which never changes after construction.
#pragma once

#include "frames/frame_sink_owner.h"
#include "frames/texture_flush_interface.h"
#include "platform/media/media.h"

class CTextureRenderer;

class MovieInstance : public FrameSinkOwner {
 public:
  // Takes ownership of the frame sink.
  explicit MovieInstance(TextureFlushInterface *sink);
  MovieInstance(const MovieInstance &) = delete;
  MovieInstance &operator=(const MovieInstance &) = delete;

  // Creates the graph manager and the renderer and adds the renderer to the
  // graph as "TEXTURERENDERER". S_OK or the first failure.
  HRESULT CreateGraph();
  // Lets the graph build the decoding chain for `path` and queries the control
  // interfaces. S_OK or the first failure; fields already set stay set.
  HRESULT RenderMovieFile(const wchar_t *path);
  // Handles every queued graph event without waiting.
  void ProcessGraphEvents();
  // Sets `repetitive` and passes it on to a graph that prepares its ends for
  // a loop (one that answers ILoopHint); the flag still acts only at the next
  // end ProcessGraphEvents handles.
  void SetRepetitive(bool loops);
  // Jumps to `seconds` (clamped to the movie) in any state. Running, the
  // movie goes on from there; paused or stopped, the picture there is shown
  // as soon as it is decoded and the state stays. False when the graph
  // refuses. Never waits: the graph's worker makes the jump.
  bool Seek(double seconds);
  // From now on a picture cued while paused or stopped waits for the run
  // again; every export that sets the state calls it first.
  void HoldCuedPictures();
  // The picture's size as shown; false before the format is known.
  bool VideoSize(int *width, int *height) const;
  // Whether the graph plays the movie's sound.
  bool PlaysSound() const;

  // Stops the graph and drops every reference; the graph's worker takes it
  // apart, and the renderer, when it goes, has the sink give back all but its
  // output surface. The record and its sink stay.
  void ReleaseGraph();

  // Every reference field is empty or holds exactly one counted reference.
  IGraphBuilder *graph = nullptr;
  IMediaControl *control = nullptr;
  IMediaPosition *position = nullptr;
  IMediaEvent *events = nullptr;
  IBaseFilter *rendererFilter = nullptr;
  IBasicAudio *audio = nullptr;
  // The renderer behind rendererFilter (not counted separately).
  CTextureRenderer *texture = nullptr;
  // `flusher` (the frame sink, owned) comes from FrameSinkOwner.
  bool repetitive = false;
};
