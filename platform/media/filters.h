// Filters, pins, their enumerators and registration, in the platform's slot order.
#pragma once

#include "platform/com/unknown.h"
#include "platform/media/structs.h"

struct IReferenceClock;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumRegFilters;

struct IPersist : IUnknown {
  STDMETHOD(GetClassID)(CLSID *classId) PURE;
};

struct IMediaFilter : IPersist {
  STDMETHOD(Stop)() PURE;
  STDMETHOD(Pause)() PURE;
  STDMETHOD(Run)(REFERENCE_TIME start) PURE;
  STDMETHOD(GetState)(DWORD milliseconds, FILTER_STATE *state) PURE;
  STDMETHOD(SetSyncSource)(IReferenceClock *clock) PURE;
  STDMETHOD(GetSyncSource)(IReferenceClock **clock) PURE;
};

struct IBaseFilter : IMediaFilter {
  STDMETHOD(EnumPins)(IEnumPins **pins) PURE;
  STDMETHOD(FindPin)(LPCWSTR id, IPin **pin) PURE;
  STDMETHOD(QueryFilterInfo)(FILTER_INFO *info) PURE;
  STDMETHOD(JoinFilterGraph)(IFilterGraph *graph, LPCWSTR name) PURE;
  STDMETHOD(QueryVendorInfo)(LPWSTR *vendorInfo) PURE;
};

struct IPin : IUnknown {
  STDMETHOD(Connect)(IPin *receivePin, const AM_MEDIA_TYPE *mediaType) PURE;
  STDMETHOD(ReceiveConnection)(IPin *connector, const AM_MEDIA_TYPE *mediaType) PURE;
  STDMETHOD(Disconnect)() PURE;
  STDMETHOD(ConnectedTo)(IPin **pin) PURE;
  STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE *mediaType) PURE;
  STDMETHOD(QueryPinInfo)(PIN_INFO *info) PURE;
  STDMETHOD(QueryDirection)(PIN_DIRECTION *direction) PURE;
  STDMETHOD(QueryId)(LPWSTR *id) PURE;
  STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE *mediaType) PURE;
  STDMETHOD(EnumMediaTypes)(IEnumMediaTypes **types) PURE;
  STDMETHOD(QueryInternalConnections)(IPin **pins, ULONG *count) PURE;
  STDMETHOD(EndOfStream)() PURE;
  STDMETHOD(BeginFlush)() PURE;
  STDMETHOD(EndFlush)() PURE;
  STDMETHOD(NewSegment)(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) PURE;
};

struct IEnumPins : IUnknown {
  STDMETHOD(Next)(ULONG count, IPin **pins, ULONG *fetched) PURE;
  STDMETHOD(Skip)(ULONG count) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumPins **clone) PURE;
};

struct IEnumMediaTypes : IUnknown {
  STDMETHOD(Next)(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) PURE;
  STDMETHOD(Skip)(ULONG count) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumMediaTypes **clone) PURE;
};

struct IEnumFilters : IUnknown {
  STDMETHOD(Next)(ULONG count, IBaseFilter **filters, ULONG *fetched) PURE;
  STDMETHOD(Skip)(ULONG count) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumFilters **clone) PURE;
};

struct IAMovieSetup : IUnknown {
  STDMETHOD(Register)() PURE;
  STDMETHOD(Unregister)() PURE;
};

struct IFilterMapper : IUnknown {
  STDMETHOD(RegisterFilter)(CLSID filter, LPCWSTR name, DWORD merit) PURE;
  STDMETHOD(RegisterFilterInstance)(CLSID filter, LPCWSTR name, CLSID *mediaResource) PURE;
  STDMETHOD(RegisterPin)(CLSID filter, LPCWSTR name, BOOL rendered, BOOL output, BOOL zero,
                         BOOL many, CLSID connectsToFilter, LPCWSTR connectsToPin) PURE;
  STDMETHOD(RegisterPinType)(CLSID filter, LPCWSTR pinName, CLSID majorType,
                             CLSID subType) PURE;
  STDMETHOD(UnregisterFilter)(CLSID filter) PURE;
  STDMETHOD(UnregisterFilterInstance)(CLSID mediaResource) PURE;
  STDMETHOD(UnregisterPin)(CLSID filter, LPCWSTR name) PURE;
  STDMETHOD(EnumMatchingFilters)(IEnumRegFilters **enumerator, DWORD merit, BOOL inputNeeded,
                                 CLSID inMajor, CLSID inSub, BOOL render, BOOL outputNeeded,
                                 CLSID outMajor, CLSID outSub) PURE;
};
