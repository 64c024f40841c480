#include "platform/com/unknown.h"

#include <atomic>

#include "platform/com/class_registry.h"

namespace {

// The calling thread's runtime initialisation: how many CoInitialize(Ex) calls
// are not yet balanced, and the threading model the first one chose.
struct ThreadInit {
  unsigned count = 0;
  bool multithreaded = false;
};

thread_local ThreadInit threadInit;

// Whether any thread ever initialised the runtime. The stand-in has no
// apartments (every object here is free-threaded), so from then on a thread
// that never initialised it is served as the platform serves one in the
// process's implicit multithreaded apartment: a game may load on any thread.
std::atomic<bool> processInitialised{false};

}  // namespace

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
  if (reserved) return E_INVALIDARG;
  const bool multithreaded = (coInit & COINIT_APARTMENTTHREADED) == 0;
  if (threadInit.count > 0) {
    if (threadInit.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
    ++threadInit.count;
    return S_FALSE;
  }
  threadInit.count = 1;
  threadInit.multithreaded = multithreaded;
  processInitialised.store(true);
  return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  // An unbalanced call is ignored.
  if (threadInit.count > 0) --threadInit.count;
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                         LPVOID *out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // An aggregated object must hand its inner IUnknown to the outer one.
  if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  if (threadInit.count == 0 && !processInitialised.load()) return CO_E_NOTINITIALIZED;
  // Every registered class is an in-process server.
  StandInClassFactory factory = standin::FindClassFactory(clsid);
  if (!factory || !(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  const HRESULT hr = factory(outer, iid, out);
  if (FAILED(hr)) *out = nullptr;
  return hr;
}

void CoFreeUnusedLibraries() {
  // Nothing is ever loaded for a class, so there is nothing to unload.
}
