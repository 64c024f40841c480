#include "platform/com/unknown.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

DEFINE_GUID_CONST(CLSID_TestThing, 0x6d1c3a52, 0x0b8e, 0x4f1d, 0x9a, 0x41, 0x21, 0x77, 0x0c, 0x5e,
                  0x93, 0x10);
DEFINE_GUID_CONST(CLSID_Unregistered, 0x6d1c3a53, 0x0b8e, 0x4f1d, 0x9a, 0x41, 0x21, 0x77, 0x0c,
                  0x5e, 0x93, 0x10);
DEFINE_GUID_CONST(IID_ITestThing, 0x6d1c3a54, 0x0b8e, 0x4f1d, 0x9a, 0x41, 0x21, 0x77, 0x0c, 0x5e,
                  0x93, 0x10);

std::atomic<int> liveThings{0};
std::atomic<int> factoryCalls{0};
std::atomic<LPUNKNOWN> lastOuter{nullptr};

class TestThing final : public IUnknown {
 public:
  TestThing() { ++liveThings; }
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ITestThing) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ~TestThing() { --liveThings; }
  std::atomic<ULONG> refs_{0};
};

HRESULT CreateTestThing(LPUNKNOWN outer, REFIID iid, void **out) {
  ++factoryCalls;
  lastOuter = outer;
  auto *thing = new TestThing;
  thing->AddRef();
  const HRESULT hr = thing->QueryInterface(iid, out);
  thing->Release();
  return hr;
}

class ComRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    StandInRegisterClass(CLSID_TestThing, CreateTestThing);
    factoryCalls = 0;
  }
  void TearDown() override {
    StandInRegisterClass(CLSID_TestThing, nullptr);
    CoUninitialize();
    EXPECT_EQ(liveThings, 0);
  }
};

TEST_F(ComRuntimeTest, CreatesARegisteredClass) {
  void *out = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_ITestThing, &out),
            S_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(static_cast<IUnknown *>(out)->Release(), 0u);
}

TEST_F(ComRuntimeTest, ReportsBadRequestsWithoutCallingTheFactory) {
  EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_ITestThing, nullptr),
            E_POINTER);

  void *out = reinterpret_cast<void *>(0x1);
  EXPECT_EQ(CoCreateInstance(CLSID_Unregistered, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(out, nullptr);

  // An aggregated object can only hand out its inner IUnknown.
  TestThing *outer = nullptr;
  CreateTestThing(nullptr, IID_IUnknown, reinterpret_cast<void **>(&outer));
  factoryCalls = 0;
  out = reinterpret_cast<void *>(0x1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestThing, outer, CLSCTX_ALL, IID_ITestThing, &out),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factoryCalls, 0);
  // With IID_IUnknown the outer object reaches the factory.
  ASSERT_EQ(CoCreateInstance(CLSID_TestThing, outer, CLSCTX_ALL, IID_IUnknown, &out), S_OK);
  EXPECT_EQ(lastOuter, outer);
  static_cast<IUnknown *>(out)->Release();
  outer->Release();
}

TEST_F(ComRuntimeTest, UnregisteringRemovesTheClass) {
  StandInRegisterClass(CLSID_TestThing, nullptr);
  void *out = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IUnknown, &out),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(factoryCalls, 0);
}

TEST_F(ComRuntimeTest, FactoryFailureLeavesTheOutPointerNull) {
  void *out = reinterpret_cast<void *>(0x1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IClassFactory, &out),
            E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ComRuntimeTest, InitialisationIsCountedPerThread) {
  // SetUp made the first call on this thread.
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  CoUninitialize();

  // Another thread that never initialised it is served all the same (a
  // game loading on a worker thread), and may still choose its own model.
  std::thread([] {
    void *out = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IUnknown, &out), S_OK);
    ASSERT_NE(out, nullptr);
    static_cast<IUnknown *>(out)->Release();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
  }).join();
}

TEST(ComRuntimeUninitialised, NothingIsCreatedBeforeAnyThreadInitialises) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process
  EXPECT_EXIT(
      {
        StandInRegisterClass(CLSID_TestThing, CreateTestThing);
        void *out = reinterpret_cast<void *>(0x1);
        const HRESULT hr =
            CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IUnknown, &out);
        std::exit(hr == CO_E_NOTINITIALIZED && out == nullptr ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(ComRuntimeTest, RegistryCanBeUsedFromSeveralThreads) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      for (int i = 0; i < 500; ++i) {
        if (t == 0) StandInRegisterClass(CLSID_Unregistered, i % 2 ? CreateTestThing : nullptr);
        void *out = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IUnknown, &out))) {
          static_cast<IUnknown *>(out)->Release();
        } else {
          ADD_FAILURE() << "registered class not found";
        }
      }
      CoUninitialize();
    });
  }
  for (auto &thread : threads) thread.join();
  StandInRegisterClass(CLSID_Unregistered, nullptr);
}

}  // namespace
