#include "filterbase/unknown.h"

#include "filterbase/critical_lock.h"
#include "platform/win32/modules.h"
#include "platform/win32/sync.h"

LONG volatile ActiveObjectCount = 0;
HMODULE AutomationLibrary = nullptr;

namespace {

// Loading and the last object's free are serialised, and the free looks at
// the object count again under the lock: otherwise a first object made on one
// thread could be handed the library that the last one going on another
// thread is just freeing. Never destroyed, so late static destructors may go.
CriticalLock &AutomationLibraryLock() {
  static CriticalLock *const lock = new CriticalLock;
  return *lock;
}

}  // namespace

HMODULE LoadAutomationLibrary() {
  ScopedLock guard(&AutomationLibraryLock());
  HMODULE library = __atomic_load_n(&AutomationLibrary, __ATOMIC_ACQUIRE);
  if (library == nullptr) {
    library = LoadLibraryW(L"OleAut32.dll");
    __atomic_store_n(&AutomationLibrary, library, __ATOMIC_RELEASE);
  }
  return library;
}

HMODULE CurrentAutomationLibrary() { return __atomic_load_n(&AutomationLibrary, __ATOMIC_ACQUIRE); }

CBaseObject::CBaseObject(LPCWSTR) { InterlockedIncrement(&ActiveObjectCount); }

CBaseObject::~CBaseObject() {
  if (InterlockedDecrement(&ActiveObjectCount) != 0) return;
  ScopedLock guard(&AutomationLibraryLock());
  if (__atomic_load_n(&ActiveObjectCount, __ATOMIC_ACQUIRE) != 0) return;
  HMODULE library = __atomic_exchange_n(&AutomationLibrary, nullptr, __ATOMIC_ACQ_REL);
  if (library != nullptr) FreeLibrary(library);
}

HRESULT HandOutInterface(IUnknown *iface, void **out) {
  if (out == nullptr) return E_POINTER;
  *out = iface;
  if (iface == nullptr) return E_NOINTERFACE;
  iface->AddRef();
  return S_OK;
}

CUnknown::CUnknown(LPCWSTR label, IUnknown *outer)
    : CBaseObject(label),
      owner(outer != nullptr ? outer : &selfUnknown),
      referenceCount(0),
      selfUnknown(this) {}

CUnknown::~CUnknown() = default;

STDMETHODIMP CUnknown::InnerQueryInterface(REFIID iid, void **out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown) return HandOutInterface(&selfUnknown, out);
  *out = nullptr;
  return E_NOINTERFACE;
}

// The value returned is only a hint for diagnostics, never below 1 while the
// object lives. AddRef may read the field again: its caller's reference keeps
// the object alive.
STDMETHODIMP_(ULONG) CUnknown::InnerAddRef() {
  InterlockedIncrement(&referenceCount);
  const ULONG now = static_cast<ULONG>(__atomic_load_n(&referenceCount, __ATOMIC_RELAXED));
  return now > 1 ? now : 1;
}

STDMETHODIMP_(ULONG) CUnknown::InnerRelease() {
  const LONG remaining = InterlockedDecrement(&referenceCount);
  if (remaining != 0) {
    // The decrement's own result: once it is done, another thread's Release
    // may destroy the object, so the field must not be read again.
    const ULONG now = static_cast<ULONG>(remaining);
    return now > 1 ? now : 1;
  }
  // A count of 1 while the destructor runs keeps a stray AddRef/Release pair
  // made by a destructor from destroying the object a second time.
  __atomic_store_n(&referenceCount, 1, __ATOMIC_RELAXED);
  delete this;
  return 0;
}

STDMETHODIMP CUnknown::SelfUnknown::QueryInterface(REFIID iid, void **out) {
  return object->InnerQueryInterface(iid, out);
}

STDMETHODIMP_(ULONG) CUnknown::SelfUnknown::AddRef() { return object->InnerAddRef(); }

STDMETHODIMP_(ULONG) CUnknown::SelfUnknown::Release() { return object->InnerRelease(); }
