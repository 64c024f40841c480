// The graph manager's interfaces: building, control, events, position, seeking, sound.
#pragma once

#include "platform/com/unknown.h"
#include "platform/media/automation.h"
#include "platform/media/filters.h"
#include "platform/media/structs.h"

struct IMediaEventSink : IUnknown {
  STDMETHOD(Notify)(LONG eventCode, LONG_PTR param1, LONG_PTR param2) PURE;
};

struct IMediaSeeking : IUnknown {
  STDMETHOD(GetCapabilities)(DWORD *capabilities) PURE;
  STDMETHOD(CheckCapabilities)(DWORD *capabilities) PURE;
  STDMETHOD(IsFormatSupported)(const GUID *format) PURE;
  STDMETHOD(QueryPreferredFormat)(GUID *format) PURE;
  STDMETHOD(GetTimeFormat)(GUID *format) PURE;
  STDMETHOD(IsUsingTimeFormat)(const GUID *format) PURE;
  STDMETHOD(SetTimeFormat)(const GUID *format) PURE;
  STDMETHOD(GetDuration)(LONGLONG *duration) PURE;
  STDMETHOD(GetStopPosition)(LONGLONG *stop) PURE;
  STDMETHOD(GetCurrentPosition)(LONGLONG *current) PURE;
  STDMETHOD(ConvertTimeFormat)(LONGLONG *target, const GUID *targetFormat, LONGLONG source,
                               const GUID *sourceFormat) PURE;
  STDMETHOD(SetPositions)(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                          DWORD stopFlags) PURE;
  STDMETHOD(GetPositions)(LONGLONG *current, LONGLONG *stop) PURE;
  STDMETHOD(GetAvailable)(LONGLONG *earliest, LONGLONG *latest) PURE;
  STDMETHOD(SetRate)(double rate) PURE;
  STDMETHOD(GetRate)(double *rate) PURE;
  STDMETHOD(GetPreroll)(LONGLONG *preroll) PURE;
};

struct IMediaPosition : IDispatch {
  STDMETHOD(get_Duration)(REFTIME *length) PURE;
  STDMETHOD(put_CurrentPosition)(REFTIME time) PURE;
  STDMETHOD(get_CurrentPosition)(REFTIME *time) PURE;
  STDMETHOD(get_StopTime)(REFTIME *time) PURE;
  STDMETHOD(put_StopTime)(REFTIME time) PURE;
  STDMETHOD(get_PrerollTime)(REFTIME *time) PURE;
  STDMETHOD(put_PrerollTime)(REFTIME time) PURE;
  STDMETHOD(put_Rate)(double rate) PURE;
  STDMETHOD(get_Rate)(double *rate) PURE;
  STDMETHOD(CanSeekForward)(LONG *canSeek) PURE;
  STDMETHOD(CanSeekBackward)(LONG *canSeek) PURE;
};

struct IMediaControl : IDispatch {
  STDMETHOD(Run)() PURE;
  STDMETHOD(Pause)() PURE;
  STDMETHOD(Stop)() PURE;
  STDMETHOD(GetState)(LONG milliseconds, OAFilterState *state) PURE;
  STDMETHOD(RenderFile)(BSTR fileName) PURE;
  STDMETHOD(AddSourceFilter)(BSTR fileName, IDispatch **unknown) PURE;
  STDMETHOD(get_FilterCollection)(IDispatch **unknown) PURE;
  STDMETHOD(get_RegFilterCollection)(IDispatch **unknown) PURE;
  STDMETHOD(StopWhenReady)() PURE;
};

struct IMediaEvent : IDispatch {
  STDMETHOD(GetEventHandle)(OAEVENT *event) PURE;
  // E_ABORT when no event arrives within the timeout.
  STDMETHOD(GetEvent)(LONG *eventCode, LONG_PTR *param1, LONG_PTR *param2,
                      LONG milliseconds) PURE;
  STDMETHOD(WaitForCompletion)(LONG milliseconds, LONG *eventCode) PURE;
  STDMETHOD(CancelDefaultHandling)(LONG eventCode) PURE;
  STDMETHOD(RestoreDefaultHandling)(LONG eventCode) PURE;
  STDMETHOD(FreeEventParams)(LONG eventCode, LONG_PTR param1, LONG_PTR param2) PURE;
};

struct IBasicAudio : IDispatch {
  STDMETHOD(put_Volume)(LONG volume) PURE;
  STDMETHOD(get_Volume)(LONG *volume) PURE;
  STDMETHOD(put_Balance)(LONG balance) PURE;
  STDMETHOD(get_Balance)(LONG *balance) PURE;
};

struct IFilterGraph : IUnknown {
  STDMETHOD(AddFilter)(IBaseFilter *filter, LPCWSTR name) PURE;
  STDMETHOD(RemoveFilter)(IBaseFilter *filter) PURE;
  STDMETHOD(EnumFilters)(IEnumFilters **enumerator) PURE;
  STDMETHOD(FindFilterByName)(LPCWSTR name, IBaseFilter **filter) PURE;
  STDMETHOD(ConnectDirect)(IPin *out, IPin *in, const AM_MEDIA_TYPE *mediaType) PURE;
  STDMETHOD(Reconnect)(IPin *pin) PURE;
  STDMETHOD(Disconnect)(IPin *pin) PURE;
  STDMETHOD(SetDefaultSyncSource)() PURE;
};

struct IGraphBuilder : IFilterGraph {
  STDMETHOD(Connect)(IPin *out, IPin *in) PURE;
  STDMETHOD(Render)(IPin *out) PURE;
  STDMETHOD(RenderFile)(LPCWSTR file, LPCWSTR playList) PURE;
  STDMETHOD(AddSourceFilter)(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter **filter) PURE;
  STDMETHOD(SetLogFile)(DWORD_PTR file) PURE;
  STDMETHOD(Abort)() PURE;
  STDMETHOD(ShouldOperationContinue)() PURE;
};
