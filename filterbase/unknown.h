// The object base of every framework object: live-object counting, the
// non-delegating IUnknown with aggregation support, and interface hand-out.
//
// Contract for derived classes:
//  - Objects start with a reference count of 0; the creator takes the first
//    reference through QueryInterface or AddRef on one of its interfaces.
//  - Override InnerQueryInterface, answer your own interface identifiers with
//    HandOutInterface(static_cast<IYours *>(this), out) and pass everything
//    else to the base class's version.
//  - Every public interface's QueryInterface/AddRef/Release forwards to
//    GetOwner(); put FORWARD_IUNKNOWN_TO_OWNER in the class body for that.
//  - Reference counts change only with interlocked operations, so AddRef and
//    Release may be called from any thread without a lock.
#pragma once

#include "platform/com/unknown.h"
#include "platform/win32/types.h"

// Number of live CBaseObject instances. Interlocked access only.
extern LONG volatile ActiveObjectCount;

// OleAut32.dll once loaded on demand, else null; freed when ActiveObjectCount
// returns to zero. Read it through LoadAutomationLibrary or CurrentAutomationLibrary.
extern HMODULE AutomationLibrary;

// Loads "OleAut32.dll" with LoadLibraryW if it is not loaded yet and returns the
// stored handle (null when loading failed; GetLastError tells why). Takes no lock.
HMODULE LoadAutomationLibrary();
// The stored handle without loading anything.
HMODULE CurrentAutomationLibrary();

// Counts itself in ActiveObjectCount for as long as it lives. The label only
// names the object for diagnostics and is not stored.
class CBaseObject {
 public:
  explicit CBaseObject(LPCWSTR label);
  ~CBaseObject();

  CBaseObject(const CBaseObject &) = delete;
  CBaseObject &operator=(const CBaseObject &) = delete;
};

// The object's own IUnknown, which never delegates to an outer object. Slot
// order: InnerQueryInterface, InnerAddRef, InnerRelease.
struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void **out) = 0;
  virtual ULONG STDMETHODCALLTYPE InnerAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE InnerRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;  // destroyed through InnerRelease only
};

// Stores `iface` in *out and calls AddRef through it (so a public interface
// counts on the owner). E_POINTER for a null out-pointer; a null interface
// is stored and answered with E_NOINTERFACE.
HRESULT HandOutInterface(IUnknown *iface, void **out);

// Reference counting and aggregation for framework objects. The primary table
// is INonDelegatingUnknown's three entries followed by the virtual destructor.
class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // outer: the aggregating object, or null for a stand-alone object.
  CUnknown(LPCWSTR label, IUnknown *outer);
  virtual ~CUnknown();

  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override;
  STDMETHODIMP_(ULONG) InnerAddRef() override;
  STDMETHODIMP_(ULONG) InnerRelease() override;

  // Where the public interfaces' IUnknown calls go: the outer object when
  // aggregated, else this object's own non-delegating unknown. Fixed for life.
  IUnknown *GetOwner() const { return owner; }

  // This object's non-delegating unknown as an IUnknown: what an aggregating
  // outer object keeps, and what QueryInterface(IID_IUnknown) hands out.
  IUnknown *NonDelegatingUnknown() { return &selfUnknown; }

 private:
  // An IUnknown whose entries land in the Inner* operations of its object.
  // A real IUnknown, rather than the non-delegating table reinterpreted as
  // one, so that callers of the owner always call through a valid object.
  class SelfUnknown final : public IUnknown {
   public:
    explicit SelfUnknown(CUnknown *self) : object(self) {}
    STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

   private:
    CUnknown *const object;
  };

  IUnknown *const owner;
  LONG volatile referenceCount;  // interlocked access only
  SelfUnknown selfUnknown;
};

// Defines QueryInterface, AddRef and Release of every public interface of the
// class so that they go to the owner (the outer object when aggregated).
#define FORWARD_IUNKNOWN_TO_OWNER                                       \
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {       \
    return GetOwner()->QueryInterface(iid, out);                        \
  }                                                                     \
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); } \
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
