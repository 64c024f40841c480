// IUnknown and the component runtime: initialisation, an in-process class
// registry behind CoCreateInstance, and the task allocator.
#pragma once

#include "platform/com/guid.h"
#include "platform/win32/types.h"

DEFINE_GUID_CONST(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00,
                  0x00, 0x46);
DEFINE_GUID_CONST(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00,
                  0x00, 0x00, 0x46);

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID iid, void **out) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;

 protected:
  ~IUnknown() = default;  // objects are destroyed through Release only
};
typedef IUnknown *LPUNKNOWN;

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = 0x17;

constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_MULTITHREADED = 0x0;

// S_OK on a thread's first call, S_FALSE on later ones; balanced by CoUninitialize.
HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();
// REGDB_E_CLASSNOTREG for an unknown class, CO_E_NOTINITIALIZED when no thread
// of the process ever initialised the runtime (once one has, every thread is
// served, as in the platform's implicit multithreaded apartment).
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID *out);
void CoFreeUnusedLibraries();
LPVOID CoTaskMemAlloc(SIZE_T bytes);
LPVOID CoTaskMemRealloc(LPVOID memory, SIZE_T bytes);
void CoTaskMemFree(LPVOID memory);

// The stand-in's class registry. A factory creates an object (aggregated when
// outer is not null) and returns the interface asked for with one reference.
typedef HRESULT (*StandInClassFactory)(LPUNKNOWN outer, REFIID iid, void **out);
// Registers or replaces the factory of a class; a null factory removes it.
void StandInRegisterClass(REFCLSID clsid, StandInClassFactory factory);

// Test hook: when set, CoTaskMemAlloc fails (returns null) while the hook returns true.
typedef bool (*StandInAllocFailureHook)(SIZE_T bytes);
void StandInSetTaskAllocFailureHook(StandInAllocFailureHook hook);
