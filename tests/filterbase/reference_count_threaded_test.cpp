// Reference counts and the live-object count under concurrent use.
#include "filterbase/unknown.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/media/filters.h"
#include "platform/media/guids.h"

namespace {

class CCountedObject : public IPersist, public CUnknown {
 public:
  explicit CCountedObject(std::atomic<int> *destroyedCount)
      : CUnknown(L"counted", nullptr), destroyed(destroyedCount) {}
  ~CCountedObject() override { ++*destroyed; }
  FORWARD_IUNKNOWN_TO_OWNER
  STDMETHODIMP InnerQueryInterface(REFIID iid, void **out) override {
    if (iid == IID_IPersist) return HandOutInterface(static_cast<IPersist *>(this), out);
    return CUnknown::InnerQueryInterface(iid, out);
  }
  STDMETHODIMP GetClassID(CLSID *) override { return E_NOTIMPL; }

 private:
  std::atomic<int> *const destroyed;
};

TEST(ReferenceCount, ConcurrentAddRefReleaseKeepsTheObjectAliveUntilTheLast) {
  std::atomic<int> destroyed{0};
  auto *object = new CCountedObject(&destroyed);
  IPersist *persist = object;
  persist->AddRef();

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([persist] {
      for (int i = 0; i < 20000; ++i) {
        persist->AddRef();
        IUnknown *unknown = nullptr;
        if (persist->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown)) == S_OK) {
          unknown->Release();
        }
        persist->Release();
      }
    });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(persist->AddRef(), 2u);
  persist->Release();
  EXPECT_EQ(persist->Release(), 0u);
  EXPECT_EQ(destroyed, 1);
}

TEST(ReferenceCount, LastOfManyReleasingThreadsDestroysExactlyOnce) {
  for (int round = 0; round < 200; ++round) {
    std::atomic<int> destroyed{0};
    auto *object = new CCountedObject(&destroyed);
    IPersist *persist = object;
    for (int t = 0; t < 4; ++t) persist->AddRef();
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        while (!go) std::this_thread::yield();
        persist->Release();
      });
    }
    go = true;
    for (auto &thread : threads) thread.join();
    ASSERT_EQ(destroyed, 1);
  }
}

TEST(ReferenceCount, LiveObjectCountReturnsAfterObjectsComeAndGoOnManyThreads) {
  const LONG before = __atomic_load_n(&ActiveObjectCount, __ATOMIC_SEQ_CST);
  std::atomic<int> destroyed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        auto *object = new CCountedObject(&destroyed);
        object->AddRef();
        object->Release();
      }
    });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(destroyed, 8000);
  EXPECT_EQ(__atomic_load_n(&ActiveObjectCount, __ATOMIC_SEQ_CST), before);
}

}  // namespace
