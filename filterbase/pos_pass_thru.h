// Seeking and position calls of a filter passed on to the filter upstream of
// one of its input pins (the pin's connected peer).
//
// Every IMediaSeeking and IMediaPosition operation is forwarded unchanged and
// its result returned, except: a rate of exactly 0 is refused with
// E_INVALIDARG, and GetCurrentPosition first asks CurrentMediaTimes, which a
// renderer overrides to answer with the sample it is rendering. Unconnected, or
// with an upstream filter that cannot seek, calls return E_NOTIMPL.
//
// No lock is taken here: calls run on the caller's thread and the upstream
// filter synchronises itself. The pin is held without a reference; it belongs
// to the same filter, which is usually the outer object as well.
#pragma once

#include "filterbase/media_position.h"
#include "platform/media/filters.h"
#include "platform/media/graph.h"

class CPosPassThru : public IMediaSeeking, public CMediaPosition {
 public:
  // A null pin writes E_POINTER to *result (when result is not null); such an
  // object answers every forwarded call with E_NOTIMPL.
  CPosPassThru(LPCWSTR label, IUnknown *outer, HRESULT *result, IPin *pin);

  FORWARD_IUNKNOWN_TO_OWNER

  // IID_IMediaSeeking, then CMediaPosition's identifiers.
  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override;

  // IMediaSeeking
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
  STDMETHODIMP SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                            DWORD stopFlags) override;
  STDMETHODIMP GetPositions(LONGLONG *current, LONGLONG *stop) override;
  STDMETHODIMP GetAvailable(LONGLONG *earliest, LONGLONG *latest) override;
  STDMETHODIMP SetRate(double rate) override;
  STDMETHODIMP GetRate(double *rate) override;
  STDMETHODIMP GetPreroll(LONGLONG *preroll) override;

  // The media times of what is being rendered now, in the current time
  // format; stop may be null. Base: E_FAIL, so the position is asked upstream.
  virtual HRESULT CurrentMediaTimes(LONGLONG *start, LONGLONG *stop);

  // IMediaPosition
  STDMETHODIMP get_Duration(REFTIME *length) override;
  STDMETHODIMP put_CurrentPosition(REFTIME time) override;
  STDMETHODIMP get_CurrentPosition(REFTIME *time) override;
  STDMETHODIMP get_StopTime(REFTIME *time) override;
  STDMETHODIMP put_StopTime(REFTIME time) override;
  STDMETHODIMP get_PrerollTime(REFTIME *time) override;
  STDMETHODIMP put_PrerollTime(REFTIME time) override;
  STDMETHODIMP put_Rate(double rate) override;
  STDMETHODIMP get_Rate(double *rate) override;
  STDMETHODIMP CanSeekForward(LONG *canSeek) override;
  STDMETHODIMP CanSeekBackward(LONG *canSeek) override;

 protected:
  // The upstream filter's interface with one reference, or E_NOTIMPL when the
  // pin is not connected or its peer does not have the interface.
  HRESULT UpstreamSeeking(IMediaSeeking **seeking);
  HRESULT UpstreamPosition(IMediaPosition **position);

 private:
  template <typename Interface, typename Call>
  HRESULT ForwardTo(REFIID iid, Call call);

  IPin *const inputPin;  // no reference: it belongs to the same filter
};
