// CBaseFilter: the base of every filter the library puts into a filter graph.
// It implements IBaseFilter (with IMediaFilter and IPersist) and IAMovieSetup
// on CUnknown: the filter state, the reference clock, the run start time,
// graph membership and name, event delivery to the graph, pin enumeration and
// registration through IFilterMapper.
//
// Contract for derived filters:
//  - Own the filter lock (a CriticalLock) and pass it to this constructor and
//    to every pin; it must outlive the base filter.
//  - Supply PinCount and PinAt. PinAt adds no reference and may return null
//    (a pin that could not be created); the base operations skip such a pin.
//  - Stop, Pause and Run below are the base transitions; overrides call them
//    with the filter lock held (it is re-entrant). They tell connected pins only:
//    ActivatePin on leaving State_Stopped, StartPinRun on entering
//    State_Running, DeactivatePin on entering State_Stopped.
//  - GetState and FindPin have simple base versions (the state at once, and
//    a search by QueryId); a renderer replaces both.
//  - Call IncrementPinListVersion when the set of pins changes, so that open
//    pin enumerators notice.
//  - Write the state only through SetState: the streaming thread reads it
//    without the lock (StateNoLock).
//
// Filter state (Run from Stopped passes through Pause; Stop from either):
//
//   Stopped --Pause--> Paused --Run--> Running
//      ^                 |               |
//      +------Stop-------+------Stop-----+
//
// Threads: Stop, Pause, Run, SetSyncSource, GetSyncSource and JoinFilterGraph
// run under the filter lock on the application thread. QueryFilterInfo,
// CurrentStreamTime and RaiseGraphEvent take no lock; RaiseGraphEvent is also
// called on the streaming thread, so it never blocks on the application thread.
#pragma once

#include "filterbase/critical_lock.h"
#include "filterbase/filter_registration.h"
#include "filterbase/unknown.h"
#include "platform/media/media.h"

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  // label: diagnostic name, not kept. outer: aggregating object or null.
  // lock: the derived filter's filter lock, not owned.
  CBaseFilter(LPCWSTR label, IUnknown *outer, CriticalLock *lock, REFCLSID classId);
  // Frees the name and releases the clock; the graph and its sink were never
  // counted and are not touched.
  ~CBaseFilter() override;

  FORWARD_IUNKNOWN_TO_OWNER

  // IBaseFilter, IMediaFilter and IPersist give the IBaseFilter interface,
  // IAMovieSetup its own; anything else goes to CUnknown.
  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override;

  // --- Own virtual operations, in table order.

  // Clock time minus the run start time. VFW_E_NO_CLOCK without a clock; a
  // failure of the clock's GetTime is returned unchanged. Holds a reference on
  // the clock while it asks, so SetSyncSource may run at the same time; takes
  // only the clock's leaf lock.
  virtual HRESULT CurrentStreamTime(REFERENCE_TIME *time);
  // Bumped whenever the set of pins changes; pin enumerators compare it.
  virtual LONG PinListVersion();
  virtual int PinCount() = 0;
  // The pin at `index`, without a new reference, or null.
  virtual CBasePin *PinAt(int index) = 0;
  // What Register and Unregister hand to the mapper; null (the base) means the
  // filter does not register itself.
  virtual const FilterRegistrationRecord *RegistrationData();

  // --- IPersist
  STDMETHODIMP GetClassID(CLSID *classId) override;

  // --- IMediaFilter (filter lock)
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  // Base: the current state at once, S_OK. No lock.
  STDMETHODIMP GetState(DWORD milliseconds, FILTER_STATE *state) override;
  // Keeps one reference on the new clock (null means no clock).
  STDMETHODIMP SetSyncSource(IReferenceClock *clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock **clock) override;

  // --- IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins **pins) override;
  // Base: the first pin whose QueryId equals `id` (case-sensitive), with a
  // reference; VFW_E_NOT_FOUND otherwise. No lock.
  STDMETHODIMP FindPin(LPCWSTR id, IPin **pin) override;
  // The name cut to MAX_FILTER_NAME - 1 characters, and the graph with a
  // reference. No lock.
  STDMETHODIMP QueryFilterInfo(FILTER_INFO *info) override;
  // Stores the graph and its event sink without references and a copy of the
  // name (dropped silently when it cannot be allocated). Always S_OK.
  STDMETHODIMP JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR *vendorInfo) override;

  // --- IAMovieSetup
  // S_FALSE without registration data; otherwise S_OK whatever the mapper did.
  STDMETHODIMP Register() override;
  // S_FALSE without registration data; otherwise the mapper's result (its
  // creation failure or the walk's), with 0x80070002 turned into S_OK.
  STDMETHODIMP Unregister() override;

  // --- Not virtual.

  // Passes an event to the graph's event sink; for EC_COMPLETE parameter 2
  // becomes this filter's IBaseFilter. E_NOTIMPL (event lost) when the filter
  // has no sink. No lock: any thread, including the streaming thread.
  HRESULT RaiseGraphEvent(LONG eventCode, LONG_PTR param1, LONG_PTR param2);

  // The state as one atomic word, for readers that hold no lock.
  FILTER_STATE StateNoLock() const { return __atomic_load_n(&state, __ATOMIC_ACQUIRE); }
  CriticalLock *FilterLock() const { return filterLock; }
  // The graph the filter belongs to, uncounted, or null.
  IFilterGraph *Graph() const { return graph; }
  // The run start time given to the last Run; one atomic word, any thread.
  REFERENCE_TIME StartTime() const { return __atomic_load_n(&startTime, __ATOMIC_ACQUIRE); }

 protected:
  // Call with the filter lock held.
  void SetState(FILTER_STATE newState) { __atomic_store_n(&state, newState, __ATOMIC_RELEASE); }
  void IncrementPinListVersion() { InterlockedIncrement(&pinListVersion); }
  // The clock held, uncounted, or null. Filter lock, or the stream time path.
  IReferenceClock *ClockNoLock() const { return __atomic_load_n(&clock, __ATOMIC_ACQUIRE); }

  // --- with the filter lock
  FILTER_STATE state;        // written through SetState only
  IReferenceClock *clock;    // one reference; null = no clock
  REFERENCE_TIME startTime;  // stream-time origin of the last Run; atomic access
  const CLSID classId;
  CriticalLock *const filterLock;  // the derived filter's, not owned
  LPWSTR name;               // heap copy of the JoinFilterGraph name, or null
  IFilterGraph *graph;       // not counted
  IMediaEventSink *eventSink;  // the graph's; not counted; read without lock
  LONG volatile pinListVersion;  // starts 1; interlocked increments
  CriticalLock clockSlotLock;    // leaf: swapping clock, counted reads of it
};
