// Samples, allocators, clocks and quality, in the platform's slot order.
#pragma once

#include "platform/com/unknown.h"
#include "platform/media/structs.h"

typedef DWORD_PTR HEVENT;
typedef DWORD_PTR HSEMAPHORE;

struct IReferenceClock : IUnknown {
  STDMETHOD(GetTime)(REFERENCE_TIME *time) PURE;
  // Signals `event` (a Win32 event handle) once at base + stream.
  STDMETHOD(AdviseTime)(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                        DWORD_PTR *cookie) PURE;
  STDMETHOD(AdvisePeriodic)(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                            DWORD_PTR *cookie) PURE;
  STDMETHOD(Unadvise)(DWORD_PTR cookie) PURE;
};

struct IMediaSample : IUnknown {
  STDMETHOD(GetPointer)(BYTE **buffer) PURE;
  STDMETHOD_(LONG, GetSize)() PURE;
  STDMETHOD(GetTime)(REFERENCE_TIME *start, REFERENCE_TIME *end) PURE;
  STDMETHOD(SetTime)(REFERENCE_TIME *start, REFERENCE_TIME *end) PURE;
  STDMETHOD(IsSyncPoint)() PURE;
  STDMETHOD(SetSyncPoint)(BOOL syncPoint) PURE;
  STDMETHOD(IsPreroll)() PURE;
  STDMETHOD(SetPreroll)(BOOL preroll) PURE;
  STDMETHOD_(LONG, GetActualDataLength)() PURE;
  STDMETHOD(SetActualDataLength)(LONG length) PURE;
  STDMETHOD(GetMediaType)(AM_MEDIA_TYPE **mediaType) PURE;
  STDMETHOD(SetMediaType)(AM_MEDIA_TYPE *mediaType) PURE;
  STDMETHOD(IsDiscontinuity)() PURE;
  STDMETHOD(SetDiscontinuity)(BOOL discontinuity) PURE;
  STDMETHOD(GetMediaTime)(LONGLONG *start, LONGLONG *end) PURE;
  STDMETHOD(SetMediaTime)(LONGLONG *start, LONGLONG *end) PURE;
};

struct IMediaSample2 : IMediaSample {
  STDMETHOD(GetProperties)(DWORD size, BYTE *properties) PURE;
  STDMETHOD(SetProperties)(DWORD size, const BYTE *properties) PURE;
};

struct IMemAllocator : IUnknown {
  STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES *request, ALLOCATOR_PROPERTIES *actual) PURE;
  STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES *props) PURE;
  STDMETHOD(Commit)() PURE;
  STDMETHOD(Decommit)() PURE;
  STDMETHOD(GetBuffer)(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *end,
                       DWORD flags) PURE;
  STDMETHOD(ReleaseBuffer)(IMediaSample *sample) PURE;
};

struct IMemInputPin : IUnknown {
  STDMETHOD(GetAllocator)(IMemAllocator **allocator) PURE;
  STDMETHOD(NotifyAllocator)(IMemAllocator *allocator, BOOL readOnly) PURE;
  STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES *props) PURE;
  STDMETHOD(Receive)(IMediaSample *sample) PURE;
  STDMETHOD(ReceiveMultiple)(IMediaSample **samples, LONG count, LONG *processed) PURE;
  STDMETHOD(ReceiveCanBlock)() PURE;
};

struct IQualityControl : IUnknown {
  STDMETHOD(Notify)(IBaseFilter *self, Quality q) PURE;
  STDMETHOD(SetSink)(IQualityControl *sink) PURE;
};

struct IQualProp : IUnknown {
  STDMETHOD(get_FramesDroppedInRenderer)(int *frames) PURE;
  STDMETHOD(get_FramesDrawn)(int *frames) PURE;
  STDMETHOD(get_AvgFrameRate)(int *rate) PURE;
  STDMETHOD(get_Jitter)(int *jitter) PURE;
  STDMETHOD(get_AvgSyncOffset)(int *offset) PURE;
  STDMETHOD(get_DevSyncOffset)(int *deviation) PURE;
};
