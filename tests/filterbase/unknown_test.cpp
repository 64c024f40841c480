#include "filterbase/unknown.h"

#include <gtest/gtest.h>

#include "platform/media/graph.h"
#include "platform/media/guids.h"
#include "platform/win32/errors.h"
#include "platform/win32/modules.h"

namespace {

LONG LiveObjects() { return __atomic_load_n(&ActiveObjectCount, __ATOMIC_SEQ_CST); }

// A framework object with two public interfaces; counts its destructions.
class CTestObject : public IPersist, public IMediaEventSink, public CUnknown {
 public:
  CTestObject(IUnknown *outer, int *destroyedCount)
      : CUnknown(L"test object", outer), destroyed(destroyedCount) {}
  ~CTestObject() override {
    ++*destroyed;
    if (touchSelfWhileDying) {
      // Code run by a destructor may take and drop a reference on the object.
      static_cast<IPersist *>(this)->AddRef();
      static_cast<IPersist *>(this)->Release();
    }
  }

  FORWARD_IUNKNOWN_TO_OWNER

  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override {
    if (iid == IID_IPersist) return HandOutInterface(static_cast<IPersist *>(this), out);
    if (iid == IID_IMediaEventSink) {
      return HandOutInterface(static_cast<IMediaEventSink *>(this), out);
    }
    return CUnknown::InnerQueryInterface(iid, out);
  }

  STDMETHODIMP GetClassID(CLSID *classId) override {
    if (!classId) return E_POINTER;
    *classId = GUID_NULL;
    return S_OK;
  }
  STDMETHODIMP Notify(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

  bool touchSelfWhileDying = false;

 private:
  int *const destroyed;
};

// An aggregating outer object that counts what reaches it and answers every
// interface but IUnknown through its inner object.
class CountingOuter final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    ++queries;
    if (iid == IID_IUnknown) {
      *out = static_cast<IUnknown *>(this);
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++addRefs - releases); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(addRefs - ++releases); }

  IUnknown *inner = nullptr;  // the inner object's non-delegating unknown, one reference
  int queries = 0;
  int addRefs = 0;
  int releases = 0;
};

TEST(CUnknown, FirstAddRefIsOneAndTheLastReleaseDestroysOnce) {
  const LONG before = LiveObjects();
  int destroyed = 0;
  auto *object = new CTestObject(nullptr, &destroyed);
  EXPECT_EQ(LiveObjects(), before + 1);

  IPersist *persist = object;
  EXPECT_EQ(persist->AddRef(), 1u);
  IMediaEventSink *sink = nullptr;
  ASSERT_EQ(persist->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void **>(&sink)), S_OK);
  EXPECT_EQ(sink, static_cast<IMediaEventSink *>(object));
  EXPECT_EQ(sink->Release(), 1u);
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(persist->Release(), 0u);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(LiveObjects(), before);
}

TEST(CUnknown, IUnknownFromAnyInterfaceIsTheSameNonDelegatingPointer) {
  int destroyed = 0;
  auto *object = new CTestObject(nullptr, &destroyed);
  IPersist *persist = object;
  persist->AddRef();

  IUnknown *first = nullptr;
  IUnknown *second = nullptr;
  IUnknown *third = nullptr;
  ASSERT_EQ(persist->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&first)), S_OK);
  ASSERT_EQ(static_cast<IMediaEventSink *>(object)->QueryInterface(
                IID_IUnknown, reinterpret_cast<void **>(&second)),
            S_OK);
  ASSERT_EQ(first->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&third)), S_OK);
  EXPECT_EQ(first, object->NonDelegatingUnknown());
  EXPECT_EQ(second, first);
  EXPECT_EQ(third, first);
  EXPECT_EQ(object->GetOwner(), first);

  // Each hand-out counted once on the object itself.
  EXPECT_EQ(first->AddRef(), 5u);
  first->Release();
  first->Release();
  second->Release();
  third->Release();
  EXPECT_EQ(destroyed, 0);
  persist->Release();
  EXPECT_EQ(destroyed, 1);
}

TEST(CUnknown, RefusedQueriesChangeNothing) {
  int destroyed = 0;
  auto *object = new CTestObject(nullptr, &destroyed);
  IPersist *persist = object;
  persist->AddRef();

  EXPECT_EQ(persist->QueryInterface(IID_IPersist, nullptr), E_POINTER);
  EXPECT_EQ(persist->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(HandOutInterface(persist, nullptr), E_POINTER);
  void *nothing = reinterpret_cast<void *>(0x1234);
  EXPECT_EQ(HandOutInterface(nullptr, &nothing), E_NOINTERFACE);
  EXPECT_EQ(nothing, nullptr);

  void *out = reinterpret_cast<void *>(0x1234);
  EXPECT_EQ(persist->QueryInterface(IID_IPin, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  EXPECT_EQ(persist->AddRef(), 2u);  // nothing above took a reference
  persist->Release();
  persist->Release();
  EXPECT_EQ(destroyed, 1);
}

TEST(CUnknown, AggregatedObjectForwardsEveryPublicCallToTheOuterObject) {
  int destroyed = 0;
  CountingOuter outer;
  auto *object = new CTestObject(&outer, &destroyed);
  EXPECT_EQ(object->GetOwner(), &outer);
  outer.inner = object->NonDelegatingUnknown();
  EXPECT_EQ(outer.inner->AddRef(), 1u);

  // The outer object asks its inner part directly; the hand-out counts on the outer.
  IPersist *persist = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IPersist, reinterpret_cast<void **>(&persist)), S_OK);
  EXPECT_EQ(outer.addRefs, 1);
  EXPECT_EQ(outer.queries, 0);

  persist->AddRef();
  persist->Release();
  EXPECT_EQ(outer.addRefs, 2);
  EXPECT_EQ(outer.releases, 1);

  IUnknown *identity = nullptr;
  ASSERT_EQ(persist->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)), S_OK);
  EXPECT_EQ(identity, &outer);
  EXPECT_EQ(outer.queries, 1);
  identity->Release();

  IMediaEventSink *sink = nullptr;
  ASSERT_EQ(persist->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void **>(&sink)), S_OK);
  EXPECT_EQ(outer.queries, 2);
  sink->Release();
  persist->Release();
  EXPECT_EQ(outer.addRefs, outer.releases);

  // The inner count still holds only the outer object's reference.
  EXPECT_EQ(outer.inner->AddRef(), 2u);
  outer.inner->Release();
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(destroyed, 1);
}

TEST(CUnknown, ReferenceTakenWhileDyingDoesNotDestroyAgain) {
  int destroyed = 0;
  auto *object = new CTestObject(nullptr, &destroyed);
  object->touchSelfWhileDying = true;
  IPersist *persist = object;
  persist->AddRef();
  EXPECT_EQ(persist->Release(), 0u);
  EXPECT_EQ(destroyed, 1);
}

TEST(CUnknown, AutomationLibraryIsFreedWithTheLastObject) {
  ASSERT_EQ(LiveObjects(), 0) << "another test leaked an object";
  // Any library the stand-in can load stands in for the automation library.
  HMODULE library = LoadLibraryW(L"libm.so.6");
  ASSERT_NE(library, nullptr);

  int destroyed = 0;
  auto *first = new CTestObject(nullptr, &destroyed);
  auto *second = new CTestObject(nullptr, &destroyed);
  first->AddRef();
  second->AddRef();
  AutomationLibrary = library;
  EXPECT_EQ(LoadAutomationLibrary(), library);  // already loaded: kept as it is

  first->Release();
  EXPECT_EQ(CurrentAutomationLibrary(), library);
  second->Release();
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(CurrentAutomationLibrary(), nullptr);
  // The loader's reference is gone: the stand-in no longer knows the handle.
  EXPECT_FALSE(FreeLibrary(library));
}

TEST(CUnknown, MissingAutomationLibraryStaysUnloaded) {
  SetLastError(0);
  EXPECT_EQ(LoadAutomationLibrary(), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(CurrentAutomationLibrary(), nullptr);
}

}  // namespace
