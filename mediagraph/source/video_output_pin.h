// The movie source's video output pin. It proposes one media type,
// uncompressed bottom-up RGB24 of the size the movie is shown at (square
// pixels, turned as its container says) in a VIDEOINFOHEADER,
// agrees the allocator with the receiving pin when a connection completes,
// and answers IMediaSeeking for the movie (time format TIME_FORMAT_MEDIA_TIME,
// positions in 100 ns from the start of the movie, rate 1 only). Seeking is
// carried out by the filter.
//
// Connection (under the pin lock, application thread):
//   Connect -> ... -> ConcludeConnection: the receiver's IMemInputPin, its
//   allocator (GetAllocator, else a new CLSID_MemoryAllocator), SetProperties
//   for whole pictures, NotifyAllocator. UndoConnection releases both.
// Activation (under the filter lock): ActivatePin commits the allocator,
// DeactivatePin decommits it, which also frees a video thread waiting for a
// sample.
#pragma once

#include "filterbase/base_pin.h"
#include "filterbase/media_type.h"
#include "platform/media/media.h"

namespace mediagraph {

class CMovieSourceFilter;

class CVideoOutputPin final : public CBasePin, public IMediaSeeking {
 public:
  CVideoOutputPin(CMovieSourceFilter *sourceFilter, CriticalLock *lock, int width, int height,
                  REFERENCE_TIME frameDuration);
  ~CVideoOutputPin() override;

  FORWARD_IUNKNOWN_TO_OWNER

  // IMediaSeeking besides CBasePin's interfaces.
  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override;

  // --- CBasePin
  // Only the pin's own type, with the shown size, bottom-up.
  HRESULT TestMediaType(const AM_MEDIA_TYPE *type) override;
  HRESULT ProposedMediaType(int position, MediaTypeRecord *type) override;
  HRESULT ConcludeConnection(IPin *peer) override;
  HRESULT UndoConnection() override;
  HRESULT ActivatePin() override;
  HRESULT DeactivatePin() override;
  // The source decodes and delivers every picture: it acts on no quality
  // message, and says so (E_NOTIMPL). Told otherwise, the renderer would take
  // each run's first picture, a break in the stream, for one that follows
  // pictures dropped upstream and show it at once, before its time (by the
  // whole run lead, some 50 ms ahead of its sound).
  STDMETHODIMP Notify(IBaseFilter *sender, Quality q) override;

  // The connection's allocator and the receiver's IMemInputPin, each with a
  // new reference; false when not connected. Filter lock.
  bool Transport(IMemAllocator **allocator, IMemInputPin **input);
  // Bytes of one picture.
  LONG ImageSize() const { return imageSize; }

  // --- IMediaSeeking (setters on the graph's worker; queries any thread)
  STDMETHODIMP GetCapabilities(DWORD *capabilities) override;
  STDMETHODIMP CheckCapabilities(DWORD *capabilities) override;
  STDMETHODIMP IsFormatSupported(const GUID *format) override;
  STDMETHODIMP QueryPreferredFormat(GUID *format) override;
  STDMETHODIMP GetTimeFormat(GUID *format) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID *format) override;
  STDMETHODIMP SetTimeFormat(const GUID *format) override;
  STDMETHODIMP GetDuration(LONGLONG *duration) override;
  STDMETHODIMP GetStopPosition(LONGLONG *stop) override;
  STDMETHODIMP GetCurrentPosition(LONGLONG *current) override;
  STDMETHODIMP ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat, LONGLONG source,
                                 const GUID *sourceFormat) override;
  // Absolute, relative and incremental positioning of either end;
  // AM_SEEKING_ReturnTime writes the new positions back.
  STDMETHODIMP SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                            DWORD stopFlags) override;
  STDMETHODIMP GetPositions(LONGLONG *current, LONGLONG *stop) override;
  STDMETHODIMP GetAvailable(LONGLONG *earliest, LONGLONG *latest) override;
  // 1.0 only; anything else E_INVALIDARG.
  STDMETHODIMP SetRate(double rate) override;
  STDMETHODIMP GetRate(double *rate) override;
  STDMETHODIMP GetPreroll(LONGLONG *preroll) override;

  static constexpr DWORD kCapabilities =
      AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
      AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;

 private:
  CMovieSourceFilter *const source;  // the owner, not counted
  MediaTypeRecord proposedType;      // built once; read only afterwards
  const LONG imageSize;
  // --- with the pin lock
  IMemAllocator *allocator;  // one reference while connected
  IMemInputPin *input;       // the receiver's, one reference while connected
};

}  // namespace mediagraph
