// The base that makes IMediaPosition an automation (IDispatch) interface: its
// type information comes from the platform's control type library, loaded
// through the automation library on the first automation call.
//
// Derived classes implement the IMediaPosition operations themselves and put
// FORWARD_IUNKNOWN_TO_OWNER in their body. No lock is taken here: automation
// calls come from the application thread.
#pragma once

#include "filterbase/unknown.h"
#include "platform/media/automation.h"
#include "platform/media/graph.h"

class CMediaPosition : public IMediaPosition, public CUnknown {
 public:
  CMediaPosition(LPCWSTR label, IUnknown *outer);
  ~CMediaPosition() override;

  FORWARD_IUNKNOWN_TO_OWNER

  // IID_IMediaPosition, then CUnknown's identifiers.
  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override;

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT *count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo **info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID locale,
                             DISPID *ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS *params,
                      VARIANT *result, EXCEPINFO *exception, UINT *argError) override;

 private:
  // Type information for IID_IMediaPosition; null until the first automation
  // call, then one reference kept until destruction.
  ITypeInfo *TypeInfoCache;
};

// Type information lookup shared by automation interfaces: fills *cache from
// the platform's control type library (LIBID_QuartzTypeLib 1.0, else the
// file "control.tlb") on first use and hands it out with a reference.
// E_POINTER, TYPE_E_ELEMENTNOTFOUND for an index other than 0, a
// GetLastError-based failure when the automation library or its entry points
// are missing, or the type library's own failure.
HRESULT LookUpTypeInfo(ITypeInfo **cache, REFIID iid, UINT index, LCID locale,
                       ITypeInfo **info);
