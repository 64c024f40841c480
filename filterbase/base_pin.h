// CBasePin: the base of every pin. It implements IPin and IQualityControl on
// CUnknown: who may connect to whom and in which filter state, how a media
// type is agreed, how a connection is torn down, the pin's identity and the
// segment values. CBaseInputPin (base_input_pin.h) adds IMemInputPin.
//
// A pin has no lifetime of its own: AddRef and Release go to the owning
// filter's IBaseFilter, and the filter destroys its pins.
//
// Contract for derived pins (input or output):
//  - TestMediaType is pure: S_OK accepts a type, anything else refuses it.
//  - A pin that proposes types overrides ProposedMediaType (position from 0;
//    S_OK with the type, S_FALSE past the end) and calls
//    IncrementTypeListVersion when its list changes.
//  - Making a connection (Connect on this pin, the output side):
//      VerifyPeerPin(receiver) -> TestMediaType(type) -> AdoptMediaType(type)
//      -> receiver->ReceiveConnection(this, type) -> ConcludeConnection(receiver)
//    for each candidate type until one succeeds. ConcludeConnection is where
//    an output pin agrees its allocator with the receiver (GetAllocator /
//    NotifyAllocator on the receiver's IMemInputPin); if it fails the receiver
//    is disconnected again. After any failed attempt UndoConnection runs and
//    no peer is kept.
//  - Accepting a connection (ReceiveConnection, the input side):
//      VerifyPeerPin(connector) -> TestMediaType(type) -> AdoptMediaType(type)
//      -> ConcludeConnection(connector); UndoConnection after any failure.
//  - Disconnect (filter stopped): UndoConnection, then the peer is released;
//    a failing UndoConnection keeps the connection.
//  - All these hooks run with the pin lock held, on the application thread.
//  - ActivatePin / DeactivatePin / StartPinRun are called by the base filter,
//    under the filter lock, for connected pins only (base: S_OK).
//
// Threads: Connect, ReceiveConnection, Disconnect, ConnectionMediaType and
// SetSink run under the pin lock. ConnectedTo, QueryPinInfo, QueryDirection,
// QueryAccept, EnumMediaTypes, EndOfStream and NewSegment take no lock.
#pragma once

#include "filterbase/critical_lock.h"
#include "filterbase/media_type.h"
#include "filterbase/unknown.h"
#include "platform/media/media.h"

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  // label: diagnostic name, not kept. filter: the owner, not counted (may be
  // null for a stand-alone pin, which then counts its own references). lock:
  // the pin lock, not owned. result: not written. name: copied, or null.
  CBasePin(LPCWSTR label, CBaseFilter *filter, CriticalLock *lock, HRESULT *result,
           LPCWSTR name, PIN_DIRECTION direction);
  // Frees the name and the connection type. A connected peer is not released:
  // the filter disconnects its pins before it goes.
  ~CBasePin() override;

  FORWARD_IUNKNOWN_TO_OWNER

  // IPin and IQualityControl; anything else goes to CUnknown.
  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override;
  // To the filter's AddRef and Release.
  STDMETHODIMP_(ULONG) InnerAddRef() override;
  STDMETHODIMP_(ULONG) InnerRelease() override;

  // --- Own virtual operations, in table order.

  // Bumped whenever the proposed types change; type enumerators compare it.
  virtual LONG TypeListVersion();
  // The filter leaves State_Stopped. Filter lock.
  virtual HRESULT ActivatePin();
  // The filter enters State_Stopped. Filter lock.
  virtual HRESULT DeactivatePin();
  // The filter enters State_Running with this start time. Filter lock.
  virtual HRESULT StartPinRun(REFERENCE_TIME start);
  // S_OK accepts the type; anything else refuses it. Pin lock during
  // connection; no lock from QueryAccept or a sample's type change.
  virtual HRESULT TestMediaType(const AM_MEDIA_TYPE *type) = 0;
  // Stores the agreed type as the connection type. Pin lock (or the streaming
  // thread, for a type change carried by a sample).
  virtual HRESULT AdoptMediaType(const AM_MEDIA_TYPE *type);
  // Base: VFW_E_INVALID_DIRECTION when the peer has this pin's direction.
  virtual HRESULT VerifyPeerPin(IPin *peer);
  // Takes back what a connection set up. Base: S_OK. Pin lock.
  virtual HRESULT UndoConnection();
  // The last step of a connection, after the type is agreed. Base: S_OK.
  // Pin lock.
  virtual HRESULT ConcludeConnection(IPin *peer);
  // The type this pin proposes at `position` (from 0) into `type`. Base:
  // E_UNEXPECTED, the pin proposes nothing. No lock.
  virtual HRESULT ProposedMediaType(int position, MediaTypeRecord *type);

  // --- IPin
  STDMETHODIMP Connect(IPin *receivePin, const AM_MEDIA_TYPE *mediaType) override;
  STDMETHODIMP ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *mediaType) override;
  // VFW_E_NOT_STOPPED unless the filter is stopped; S_FALSE when not connected.
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin **pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE *mediaType) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO *info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION *direction) override;
  // Base: a task-memory copy of the pin's name (empty for a nameless pin).
  // The caller frees it with CoTaskMemFree.
  STDMETHODIMP QueryId(LPWSTR *id) override;
  // TestMediaType's answer, with failures turned into S_FALSE.
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE *mediaType) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes **types) override;
  STDMETHODIMP QueryInternalConnections(IPin **pins, ULONG *count) override;
  // Base: S_OK.
  STDMETHODIMP EndOfStream() override;
  // Base (an output pin has nothing to flush): E_UNEXPECTED. The input pin
  // replaces both.
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  // Stores the segment. No lock.
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // --- IQualityControl
  // E_POINTER without a sender, else S_OK; the record is not looked at.
  STDMETHODIMP Notify(IBaseFilter *sender, Quality q) override;
  // Stores the sink without a reference. Pin lock.
  STDMETHODIMP SetSink(IQualityControl *sink) override;

  // --- Not virtual.

  // The connected peer, uncounted, or null. Any thread.
  IPin *ConnectedPeer() const { return __atomic_load_n(&connectedPeer, __ATOMIC_ACQUIRE); }
  bool IsConnected() const { return ConnectedPeer() != nullptr; }
  // The agreed type (its last value after disconnection). Pin lock.
  const MediaTypeRecord &ConnectionType() const { return connectionType; }
  PIN_DIRECTION Direction() const { return direction; }
  CBaseFilter *Filter() const { return filter; }
  CriticalLock *PinLock() const { return pinLock; }
  LPCWSTR Name() const { return name; }
  IQualityControl *QualitySink() const { return qualitySink; }
  bool CanReconnectWhenActive() const { return reconnectWhenActive; }
  void SetReconnectWhenActive(bool allow) { reconnectWhenActive = allow; }
  // Which type list negotiation tries first: false (the default) the peer's.
  void SetOwnTypesFirst(bool ownFirst) { ownTypesFirst = ownFirst; }
  // Set when a sample brought a refused type; samples then fail until it is
  // cleared (EndFlush, or a derived DeactivatePin). Any thread.
  bool HasRuntimeError() const { return __atomic_load_n(&runtimeError, __ATOMIC_ACQUIRE); }
  void SetRuntimeError(bool error) { __atomic_store_n(&runtimeError, error, __ATOMIC_RELEASE); }
  REFERENCE_TIME SegmentStart() const { return segmentStart; }
  REFERENCE_TIME SegmentStop() const { return segmentStop; }
  double SegmentRate() const { return segmentRate; }

 protected:
  // Tries the given complete type alone, or else the two type lists (the
  // receiver's first unless own-types-first) filtered by the type as a pattern.
  HRESULT NegotiateMediaType(IPin *receivePin, const AM_MEDIA_TYPE *mediaType);
  // One enumerator's types against the pattern (null: every type).
  HRESULT TryTypeList(IPin *receivePin, const AM_MEDIA_TYPE *pattern,
                      IEnumMediaTypes *types);
  // One complete type, the whole output-side handshake. Leaves no peer behind
  // on failure.
  HRESULT AttemptConnectionWith(IPin *receivePin, const AM_MEDIA_TYPE *mediaType);
  // Stores (with AddRef) or clears (with Release) the peer. Pin lock.
  void HoldPeer(IPin *peer);
  void DropPeer();
  void IncrementTypeListVersion() { InterlockedIncrement(&typeListVersion); }
  bool FilterIsStopped() const;

  // --- with the pin lock
  LPWSTR name;                  // heap copy, or null
  IPin *connectedPeer;          // one reference; null = not connected; atomic reads
  const PIN_DIRECTION direction;
  CriticalLock *const pinLock;  // the owner's, not owned
  bool runtimeError;            // atomic access; the streaming thread reads it
  bool reconnectWhenActive;     // connect while not stopped
  bool ownTypesFirst;           // negotiation order
  CBaseFilter *const filter;    // not counted
  IQualityControl *qualitySink;  // not counted
  LONG volatile typeListVersion;  // starts 1; interlocked increments
  CriticalLock peerSlotLock;      // leaf: swapping connectedPeer, ConnectedTo
  MediaTypeRecord connectionType;
  // --- written by NewSegment, from the upstream thread, without a lock
  REFERENCE_TIME segmentStart;
  REFERENCE_TIME segmentStop;
  double segmentRate;
};
