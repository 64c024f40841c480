// CEnumMediaTypes: IEnumMediaTypes over the media types a pin proposes, as
// handed out by CBasePin::EnumMediaTypes and used by media type negotiation.
//
// The enumerator keeps one reference on its pin (which reaches the pin's
// filter) and counts its own references. It remembers the pin's type-list
// version; once the list changes, Next, Skip and Clone refuse with
// VFW_E_ENUM_OUT_OF_SYNC until Reset.
//
// Each type handed out by Next is a task-memory block the size of
// AM_MEDIA_TYPE that owns its format block and pUnk reference; the receiver
// frees it with DestroyMediaTypeBlock.
//
// Threads: no lock is taken. One caller at a time per instance.
#pragma once

#include "platform/media/media.h"

class CBasePin;

// Table order: QueryInterface, AddRef, Release, Next, Skip, Reset, Clone (the
// platform's), then ~CEnumMediaTypes.
class CEnumMediaTypes : public IEnumMediaTypes {
 public:
  // Starts with one reference (the caller's) and takes one on `pin` through
  // its IPin. Without a source it starts at position 0 with the pin's current
  // version; with one it copies the source's position and version.
  CEnumMediaTypes(CBasePin *pin, const CEnumMediaTypes *source);

  STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes **clone) override;

  // Releases the pin. Only Release destroys an enumerator.
  virtual ~CEnumMediaTypes();

 private:
  LONG position;  // position of the next type to ask the pin for
  CBasePin *const pin;  // one reference, through its IPin
  LONG version;   // the pin's TypeListVersion when last synchronised
  LONG volatile referenceCount;  // interlocked access only
};
