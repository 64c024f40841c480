#include "mediagraph/source/movie_source_filter.h"

#include <algorithm>
#include <utility>

namespace mediagraph {

CMovieSourceFilter::CMovieSourceFilter(std::unique_ptr<MovieFile> movie,
                                       std::unique_ptr<StreamDecoder> videoDecoder,
                                       std::unique_ptr<StreamDecoder> audioDecoder,
                                       std::unique_ptr<SoundResampler> resampler,
                                       std::unique_ptr<SoundOutput> output)
    : CBaseFilter(L"movie source", nullptr, &lock, CLSID_MovieSource),
      file(std::move(movie)),
      pin(this, &lock, file->Shape().ShownWidth(), file->Shape().ShownHeight(),
          file->FrameDuration()),
      handle(this),
      video(file.get(), std::move(videoDecoder)),
      hasAudioStream(audioDecoder != nullptr && resampler != nullptr),
      sessionAllocator(nullptr),
      sessionInput(nullptr),
      fileAtStart(true),
      loopHinted(false),
      looping(false),
      segmentBase(0),
      volume(0),
      sessionActive(false),
      currentPosition(0),
      stopPosition(kToTheEnd) {
  if (hasAudioStream && output != nullptr) {
    sound = std::make_unique<SoundStreamer>(
        file.get(), std::move(audioDecoder), std::move(resampler), std::move(output),
        [this] { RaiseGraphEvent(EC_COMPLETE, S_OK, 0); });
  }
}

CMovieSourceFilter::~CMovieSourceFilter() {
  ScopedLock hold(&lock);
  if (sound) sound->Pause();
  EndSession(false);
  // The graph disconnects before it lets go; if it did not, drop our side.
  if (pin.IsConnected()) {
    SetState(State_Stopped);
    pin.Disconnect();
  }
}

CBasePin *CMovieSourceFilter::PinAt(int index) { return index == 0 ? &pin : nullptr; }

STDMETHODIMP CMovieSourceFilter::Stop() {
  ScopedLock hold(&lock);
  if (sound) sound->Pause();
  EndSession(false);
  return CBaseFilter::Stop();
}

STDMETHODIMP CMovieSourceFilter::Pause() {
  ScopedLock hold(&lock);
  const FILTER_STATE old = state;
  const HRESULT hr = CBaseFilter::Pause();
  if (FAILED(hr)) return hr;
  if (old == State_Stopped) StartSession();
  if (sound) sound->Pause();
  return S_OK;
}

STDMETHODIMP CMovieSourceFilter::Run(REFERENCE_TIME start) {
  ScopedLock hold(&lock);
  const HRESULT hr = CBaseFilter::Run(start);
  if (FAILED(hr)) return hr;
  if (sound) sound->Run(ClockNoLock(), start);
  return S_OK;
}

HRESULT CMovieSourceFilter::SetPositions(REFERENCE_TIME current, REFERENCE_TIME stop) {
  ScopedLock hold(&lock);
  bool restart = false;
  {
    std::lock_guard<std::mutex> positions(positionLock);
    currentPosition = current;
    // Containers often guess their length short (MPEG program streams from one
    // stream's time stamps): a stop at the length plays to the real end.
    stopPosition = Duration() > 0 && stop >= Duration() ? kToTheEnd : stop;
    restart = sessionActive;
  }
  if (restart) {
    // Back to the start at the end while running is a loop: the sound may
    // carry the start it queued after the end. Untold, the source takes it
    // that the movie loops from then on. (Earlier, it may be a restart of a
    // movie that is to stop at its end, which must then end in silence.)
    const bool running = state == State_Running;
    const bool loop = running && current == 0 && video.ReachedEnd();
    // The pass ends with the later of its picture and its sound.
    const REFERENCE_TIME passEnd = std::max(video.LastStop(), sound ? sound->End() : 0);
    // Only a movie known to loop has its sound queue the start after the end.
    // Untold, the sound thread may still be queueing it while it is joined:
    // the first loop starts its sound afresh, whether or not it got there.
    const bool carry = loop && looping.load();
    EndSession(true, carry);
    StartSession(loop ? passEnd : 0);
    if (loop && !loopHinted) {
      looping = true;
      if (sound) sound->SetLooping(true);
    }
  }
  return S_OK;
}

void CMovieSourceFilter::Positions(REFERENCE_TIME *current, REFERENCE_TIME *stop) const {
  std::lock_guard<std::mutex> positions(positionLock);
  *current = currentPosition;
  *stop = stopPosition == kToTheEnd && Duration() > 0 ? Duration() : stopPosition;
}

REFERENCE_TIME CMovieSourceFilter::CurrentPosition() const {
  std::lock_guard<std::mutex> positions(positionLock);
  return sessionActive ? video.LastDelivered() : currentPosition;
}

bool CMovieSourceFilter::LastHeard(REFERENCE_TIME *clockTime, REFERENCE_TIME *movieTime) const {
  return sound && sound->LastHeard(clockTime, movieTime);
}

void CMovieSourceFilter::StartSession(REFERENCE_TIME loopEnd) {
  Segment segment;
  {
    std::lock_guard<std::mutex> positions(positionLock);
    segment = Segment{currentPosition, stopPosition, 0};
  }
  REFERENCE_TIME now = 0;
  if (StateNoLock() == State_Running && SUCCEEDED(CurrentStreamTime(&now)) && now > 0) {
    // A loop starts its pass where the last one ends, on the movie's own
    // time, whenever the game looked (within kLoopSlack): the checks' delays
    // do not add up over the loops. Any other seek starts where the stream
    // stands; sound sets the pace from there where there is any.
    segment.base = loopEnd > 0 && now <= loopEnd + kLoopSlack ? loopEnd
                   : sound                                    ? now
                                                              : now + kPictureLead;
  }
  // The sound goes on with the start of the movie it kept queued: the picture
  // follows it there. Queued before a picture that ends later than the file
  // said, it would cut that short: then it starts afresh with the picture.
  REFERENCE_TIME carried = 0;
  if (sound && segment.start == 0 && sound->CarriedFrom(&carried)) {
    if (carried + file->FrameDuration() >= loopEnd) {
      segment.base = carried;
    } else {
      sound->Stop();
    }
  }
  segmentBase = segment.base;
  // A file that cannot go back plays on from where it is; the segment's
  // start still drops what lies before it.
  if (!fileAtStart || currentPosition > 0) file->SeekTo(currentPosition);
  fileAtStart = false;
  buffer.Reset();
  IPin *peer = pin.ConnectedPeer();
  const bool videoFlows = peer != nullptr && pin.Transport(&sessionAllocator, &sessionInput);
  buffer.EnableStream(PacketBuffer::kVideo, videoFlows);
  buffer.EnableStream(PacketBuffer::kAudio, sound != nullptr);
  if (videoFlows) {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    Positions(&start, &stop);
    peer->NewSegment(start, stop, 1.0);
    video.Start(&buffer, {sessionAllocator, sessionInput, peer}, segment);
  }
  if (sound) sound->Start(&buffer, &reader, segment);
  reader.Start(file.get(), &buffer);
  std::lock_guard<std::mutex> positions(positionLock);
  sessionActive = true;
}

void CMovieSourceFilter::EndSession(bool flush, bool keepSoundStart) {
  {
    std::lock_guard<std::mutex> positions(positionLock);
    if (!sessionActive) return;
  }
  buffer.Abort();
  IPin *peer = pin.ConnectedPeer();
  // Downstream may hold the video thread in Receive: a flush lets it go; a
  // stop has stopped downstream already, and the decommit frees a thread
  // waiting for a sample.
  if (flush && peer != nullptr) {
    peer->BeginFlush();
  } else if (sessionAllocator != nullptr) {
    sessionAllocator->Decommit();
  }
  JoinSession(flush ? peer : nullptr, keepSoundStart);
  std::lock_guard<std::mutex> positions(positionLock);
  sessionActive = false;
}

void CMovieSourceFilter::JoinSession(IPin *flushed, bool keepSoundStart) {
  video.Stop();
  if (sound) sound->Stop(keepSoundStart);
  reader.Join();
  if (flushed != nullptr) flushed->EndFlush();
  buffer.Reset();
  if (sessionAllocator != nullptr) {
    sessionAllocator->Release();
    sessionAllocator = nullptr;
  }
  if (sessionInput != nullptr) {
    sessionInput->Release();
    sessionInput = nullptr;
  }
}

// --- the MovieSource face

ULONG CMovieSourceFilter::SourceHandle::AddRef() {
  return filter->NonDelegatingUnknown()->AddRef();
}

ULONG CMovieSourceFilter::SourceHandle::Release() {
  return filter->NonDelegatingUnknown()->Release();
}

IBaseFilter *CMovieSourceFilter::SourceHandle::Filter() {
  return static_cast<IBaseFilter *>(filter);
}

IPin *CMovieSourceFilter::SourceHandle::VideoPin() { return static_cast<IPin *>(&filter->pin); }

IMediaSeeking *CMovieSourceFilter::SourceHandle::Seeking() {
  return static_cast<IMediaSeeking *>(&filter->pin);
}

bool CMovieSourceFilter::SourceHandle::HasAudioStream() const { return filter->hasAudioStream; }

bool CMovieSourceFilter::SourceHandle::HasSound() const { return filter->sound != nullptr; }

HRESULT CMovieSourceFilter::SourceHandle::SetVolume(LONG level) {
  if (level < -10000 || level > 0) return E_INVALIDARG;
  filter->volume = level;
  // The sound object lives as long as the filter; OpenAL takes the gain from any thread.
  if (filter->sound) filter->sound->SetVolume(level);
  return S_OK;
}

HRESULT CMovieSourceFilter::SourceHandle::GetVolume(LONG *level) {
  if (level == nullptr) return E_POINTER;
  *level = filter->volume;
  return S_OK;
}

REFERENCE_TIME CMovieSourceFilter::SourceHandle::Duration() const {
  return filter->file->Duration();
}

REFERENCE_TIME CMovieSourceFilter::SourceHandle::SegmentBase() const {
  return filter->segmentBase.load();
}

bool CMovieSourceFilter::SourceHandle::SegmentShown() const {
  return filter->video.SegmentShown();
}

REFERENCE_TIME CMovieSourceFilter::SourceHandle::SoundLatency() const {
  return filter->sound ? filter->sound->OutputLatency() : 0;
}

REFERENCE_TIME CMovieSourceFilter::SourceHandle::EarliestStart(REFERENCE_TIME now,
                                                              REFERENCE_TIME lead) const {
  return filter->sound ? filter->sound->EarliestStart(now, lead) : now + lead;
}

bool CMovieSourceFilter::SourceHandle::AwaitFirstPicture(DWORD milliseconds,
                                                         REFERENCE_TIME within) {
  return filter->video.AwaitFirstPicture(milliseconds, within);
}

bool CMovieSourceFilter::SourceHandle::FirstPictureUnderWay() const {
  return filter->video.FirstPictureUnderWay();
}

void CMovieSourceFilter::SourceHandle::SetLooping(bool looping) {
  ScopedLock hold(&filter->lock);
  filter->loopHinted = true;
  filter->looping = looping;
  if (filter->sound) filter->sound->SetLooping(looping);
}

REFERENCE_TIME CMovieSourceFilter::SourceHandle::StreamEnd() const {
  const REFERENCE_TIME picture = filter->video.LastStop();
  // A movie with sound ends with its sound, unless the sound goes on into
  // the movie's start (a loop); then, like a silent one, when its last
  // picture, shown early by the renderer's lead, has had its whole time, which
  // is when the first picture after the loop is shown.
  // A looping one tells kLoopAhead early, so that the seek to its start comes
  // before that start is due.
  // (Told that it no longer loops, it ends as one that does not, also while
  // the sound still has to take back the start it queued.)
  const SoundStreamer *sound = filter->sound.get();
  const REFERENCE_TIME end = sound ? std::max(picture, sound->End()) : picture;
  const bool loops = filter->looping.load() && (!sound || sound->ContinuesIntoStart());
  if (sound && !loops) return end;
  return std::max<REFERENCE_TIME>(0, end - (loops ? kLoopAhead : kPictureLead));
}

}  // namespace mediagraph
