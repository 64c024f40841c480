// The movie file source: one filter that opens a file with FFmpeg, offers its
// picture on one output pin as uncompressed bottom-up RGB24 and plays its sound
// itself through OpenAL.
//
// What the graph manager relies on:
//
//   CreateMovieSource(path, &source)        opens the file, probes the streams and
//                                           opens the sound output (one reference)
//   graph->AddFilter(source->Filter(), ...) the filter joins the graph; its
//                                           IMediaEventSink is the graph's
//   source->VideoPin()->Connect(rendererPin, nullptr)
//                                           proposes MEDIATYPE_Video/RGB24/
//                                           FORMAT_VideoInfo and does the
//                                           allocator handshake with the peer's
//                                           IMemInputPin
//   Filter()->SetSyncSource(clock)          clock for audio and video
//   Filter()->Pause() / Run(t) / Stop()     Pause from stopped starts the streaming
//                                           threads at the current position (the
//                                           first frame is delivered and held by the
//                                           renderer); Run(t) makes stream time 0
//                                           fall on clock time t; Stop joins every
//                                           thread (stop the renderers first: the
//                                           video thread may wait in their Receive)
//   Seeking()->SetPositions(...)            flush downstream, reposition, new
//                                           segment; while running the new segment
//                                           starts at the stream time reached, on the
//                                           running clock (its first sample is due
//                                           at once), else at stream time 0
//   source->Release()                       the last reference joins the threads and
//                                           frees the decoders
//
// Completion: the video pin sends EndOfStream downstream at the end of the
// picture, so the video renderer raises its own EC_COMPLETE. When HasSound() is
// true the source counts as one more renderer: it raises EC_COMPLETE itself
// (through its event sink, parameter 2 its IBaseFilter) once the last sound
// sample has been heard while running; like a renderer, again after a pause
// and run at the end.
//
// Position queries on Seeking() take no lock that the graph's worker
// holds while it waits for downstream, so a renderer may make them from its
// streaming thread with its own locks held.
#pragma once

#include "platform/media/media.h"

class MovieSource {
 public:
  // Reference count of the filter object (the same count as Filter()'s).
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

  // The filter's IBaseFilter; no reference is added.
  virtual IBaseFilter *Filter() = 0;
  // The video output pin; no reference is added (pins count with their filter).
  virtual IPin *VideoPin() = 0;
  // The video pin's seeking interface (time format TIME_FORMAT_MEDIA_TIME,
  // positions in 100 ns from the start of the movie); no reference is added.
  virtual IMediaSeeking *Seeking() = 0;

  // The file has an audio stream that FFmpeg can decode.
  virtual bool HasAudioStream() const = 0;
  // The audio stream is played: it exists and the sound output opened.
  // HasAudioStream() && !HasSound() is the graph's partial-render case.
  virtual bool HasSound() const = 0;

  // Volume in hundredths of a decibel, -10000 (silence) to 0 (full);
  // E_INVALIDARG outside that range. The level is kept (and reported) also
  // when there is no sound.
  virtual HRESULT SetVolume(LONG level) = 0;
  virtual HRESULT GetVolume(LONG *level) = 0;

  // Length of the movie in 100 ns units.
  virtual REFERENCE_TIME Duration() const = 0;

  // Stream time at which the picture and sound delivered so far end: the
  // end of the sound queued (padded to the picture's end) or the latest
  // picture's stop time, whichever is later; less kLoopAhead for a movie that
  // loops (its seek to the start must come before that start is due), and
  // for a silent one that does not, less the renderer's picture lead. Any
  // thread; no lock.
  virtual REFERENCE_TIME StreamEnd() const = 0;

  // Whether the movie will be sought back to its start at each end: its
  // sound's start is then queued behind the end, and taken back when the
  // movie stops looping. Without it, the source takes a seek to the start at
  // the end while running for a loop from then on. A loop's next pass starts
  // at the stream time the last one ended, whenever (within kLoopSlack) the
  // seek came.
  virtual void SetLooping(bool looping) = 0;

  // Stream time at which the current (or last) segment starts: for a loop,
  // where the pass before it ended, which may lie a little ahead. Any thread.
  virtual REFERENCE_TIME SegmentBase() const = 0;
  // A picture of the segment under way has reached the renderer and been
  // shown. Any thread.
  virtual bool SegmentShown() const = 0;

  // How long after it is handed to the device the sound is heard (0 without
  // sound or before it is known). A run that starts less far ahead loses its
  // first sound to catching up with the clock.
  virtual REFERENCE_TIME SoundLatency() const = 0;
  // The earliest start for a run begun at `now` (on the graph's clock) that
  // leaves the streams `lead` to start in: `lead` and the sound's latency
  // after now, or up to a mixing period sooner, on the start of a block of
  // the device's, where it knows when those are heard. Any thread.
  virtual REFERENCE_TIME EarliestStart(REFERENCE_TIME now, REFERENCE_TIME lead) const = 0;

  // Waits up to `milliseconds` for the first picture of the segment under
  // way to be decoded, or to be so far along that it will reach the renderer
  // well within `within`; true once it is. Any thread.
  virtual bool AwaitFirstPicture(DWORD milliseconds, REFERENCE_TIME within) = 0;
  // The first picture is being decoded ahead, and nothing has said yet that
  // it will come late: its decoder is still setting up, or its rows come at a
  // pace that makes it. Any thread.
  virtual bool FirstPictureUnderWay() const = 0;

 protected:
  ~MovieSource() = default;  // destroyed through Release only
};

// Opens `path` (a wide string; converted to UTF-8 for FFmpeg) and creates the
// source with one reference in *out. Failures leave *out null and nothing open:
//   null out                          E_POINTER
//   null path                         E_INVALIDARG
//   no such file                      HRESULT of ERROR_FILE_NOT_FOUND (0x80070002),
//                                     last error ERROR_FILE_NOT_FOUND (2)
//   file that may not be read, or a directory
//                                     HRESULT of ERROR_ACCESS_DENIED, last error set
//   path longer than the system takes HRESULT of ERROR_FILENAME_EXCED_RANGE
//   FIFO, socket or device (never waited on)
//                                     HRESULT of ERROR_OPEN_FAILED
//   file that cannot be read          HRESULT of ERROR_INVALID_DATA, last error set
//   path not valid UTF-16/32          HRESULT of ERROR_NO_UNICODE_TRANSLATION
//   not a movie FFmpeg can decode     VFW_E_UNKNOWN_FILE_TYPE (last error
//                                     ERROR_BAD_FORMAT)
//   a movie without a decodable video stream
//                                     VFW_E_CANNOT_RENDER (last error ERROR_BAD_FORMAT)
//   allocation failure                E_OUTOFMEMORY
HRESULT CreateMovieSource(LPCWSTR path, MovieSource **out);
