#include "filterbase/media_position.h"

#include "platform/media/guids.h"
#include "platform/win32/errors.h"
#include "platform/win32/modules.h"

namespace {

// Entry points are looked up untyped; void(*)() is the generic function
// pointer type that converts to the real signature without a warning.
template <typename Function>
Function EntryPoint(FARPROC address) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// A missing library or entry point as a failure code; or-ing keeps it a
// failure even when no error code was set.
HRESULT LastErrorResult() {
  return static_cast<HRESULT>(GetLastError() | 0x80070000u);
}

HRESULT LoadControlTypeLibrary(LCID locale, ITypeLib **library) {
  const HMODULE automation = LoadAutomationLibrary();
  if (automation == nullptr) return LastErrorResult();

  const FARPROC loadRegistered = GetProcAddress(automation, "LoadRegTypeLib");
  if (loadRegistered == nullptr) return LastErrorResult();
  HRESULT result = EntryPoint<LoadRegTypeLibFn>(loadRegistered)(
      LIBID_QuartzTypeLib, 1, 0, locale, library);
  if (SUCCEEDED(result)) return result;

  // Not registered: the library file itself, found by name.
  *library = nullptr;
  const FARPROC loadFile = GetProcAddress(automation, "LoadTypeLib");
  if (loadFile == nullptr) return LastErrorResult();
  return EntryPoint<LoadTypeLibFn>(loadFile)(L"control.tlb", library);
}

}  // namespace

HRESULT LookUpTypeInfo(ITypeInfo **cache, REFIID iid, UINT index, LCID locale,
                       ITypeInfo **info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return TYPE_E_ELEMENTNOTFOUND;

  if (*cache == nullptr) {
    ITypeLib *library = nullptr;
    HRESULT result = LoadControlTypeLibrary(locale, &library);
    if (FAILED(result)) return result;
    if (library == nullptr) return E_UNEXPECTED;
    result = library->GetTypeInfoOfGuid(iid, cache);
    library->Release();
    if (FAILED(result)) {
      *cache = nullptr;
      return result;
    }
    if (*cache == nullptr) return E_UNEXPECTED;
  }
  *info = *cache;
  (*info)->AddRef();
  return S_OK;
}

CMediaPosition::CMediaPosition(LPCWSTR label, IUnknown *outer)
    : CUnknown(label, outer), TypeInfoCache(nullptr) {}

CMediaPosition::~CMediaPosition() {
  if (TypeInfoCache != nullptr) TypeInfoCache->Release();
}

STDMETHODIMP CMediaPosition::InnerQueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IMediaPosition) return HandOutInterface(static_cast<IMediaPosition *>(this), out);
  return CUnknown::InnerQueryInterface(iid, out);
}

STDMETHODIMP CMediaPosition::GetTypeInfoCount(UINT *count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP CMediaPosition::GetTypeInfo(UINT index, LCID locale, ITypeInfo **info) {
  return LookUpTypeInfo(&TypeInfoCache, IID_IMediaPosition, index, locale, info);
}

STDMETHODIMP CMediaPosition::GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID locale,
                                           DISPID *ids) {
  ITypeInfo *info = nullptr;
  HRESULT result = GetTypeInfo(0, locale, &info);
  if (FAILED(result)) return result;
  result = info->GetIDsOfNames(names, count, ids);
  info->Release();
  return result;
}

STDMETHODIMP CMediaPosition::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                    DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception,
                                    UINT *argError) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo *info = nullptr;
  HRESULT hr = static_cast<IDispatch *>(this)->GetTypeInfo(0, locale, &info);
  if (FAILED(hr)) return hr;
  hr = info->Invoke(static_cast<IMediaPosition *>(this), id, flags, params, result, exception,
                    argError);
  info->Release();
  return hr;
}
