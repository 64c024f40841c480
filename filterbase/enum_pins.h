// CEnumPins: IEnumPins over a filter's pins, as handed out by
// CBaseFilter::EnumPins.
//
// The enumerator keeps one reference on its filter for as long as it lives and
// counts its own references (it does not stand on CUnknown). It remembers the
// filter's pin-list version; when the pin list changes under it, Next starts
// over from the first pin but skips every pin it already handed out (the seen
// pins), Skip and Clone refuse with VFW_E_ENUM_OUT_OF_SYNC.
//
// Threads: no lock is taken. One caller at a time per instance; the version
// check is the only protection against the filter changing underneath.
#pragma once

#include "filterbase/ptr_list.h"
#include "platform/media/media.h"

class CBaseFilter;
class CBasePin;

// The pins an enumerator has handed out, in the order it handed them out.
class SeenPinList : public PtrList {
 public:
  BOOL Add(CBasePin *pin) { return AddTail(pin); }
  bool Contains(const CBasePin *pin) const { return Find(pin) != nullptr; }
};

// Table order: QueryInterface, AddRef, Release, Next, Skip, Reset, Clone (the
// platform's), then ~CEnumPins.
class CEnumPins : public IEnumPins {
 public:
  // Starts with one reference (the caller's) and takes one on `filter`.
  // Without a source it synchronises from the filter; with one it copies the
  // source's position, pin count, version and seen pins. `result` (may be null)
  // gets E_OUTOFMEMORY when the seen pins could not be copied, else S_OK.
  CEnumPins(CBaseFilter *filter, const CEnumPins *source, HRESULT *result);

  STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Next(ULONG count, IPin **pins, ULONG *fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins **clone) override;

  // Releases the filter. Only Release destroys an enumerator.
  virtual ~CEnumPins();

 private:
  // Version, pin count and position taken afresh from the filter; the seen
  // pins are left alone.
  void Synchronise();

  LONG position;   // index of the next pin to look at
  LONG pinCount;   // the filter's PinCount when last synchronised
  CBaseFilter *const filter;  // one reference, through its IBaseFilter
  LONG version;    // the filter's PinListVersion when last synchronised
  LONG volatile referenceCount;  // interlocked access only
  SeenPinList seenPins;
};
