// A reference clock that only moves when the test moves it. Advises fire
// (SetEvent on the advise's event) when Advance/SetTime reach their due time,
// so timing tests are exact and never sleep for real time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/media/guids.h"
#include "platform/media/streaming.h"
#include "platform/win32/sync.h"

namespace fakes {

class ManualReferenceClock final : public IReferenceClock {
 public:
  struct Advise {
    DWORD_PTR cookie;
    REFERENCE_TIME due;
    HEVENT event;
  };

  ManualReferenceClock() = default;
  ManualReferenceClock(const ManualReferenceClock &) = delete;
  ManualReferenceClock &operator=(const ManualReferenceClock &) = delete;
  ~ManualReferenceClock() = default;

  // IUnknown: counted for leak checks, but the test owns the object.
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IReferenceClock) {
      *out = static_cast<IReferenceClock *>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  ULONG RefCount() const { return refs_; }

  STDMETHODIMP GetTime(REFERENCE_TIME *time) override {
    if (time == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> hold(mutex_);
    *time = now_;
    return S_OK;
  }

  STDMETHODIMP AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                          DWORD_PTR *cookie) override {
    if (cookie == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> hold(mutex_);
    ++adviseCalls_;
    if (failAdvise_) return E_FAIL;
    const REFERENCE_TIME due = baseTime + streamTime;
    *cookie = nextCookie_++;
    lastDue_ = due;
    if (due <= now_) {
      SetEvent(reinterpret_cast<HANDLE>(event));
    } else {
      pending_.push_back({*cookie, due, event});
    }
    changed_.notify_all();
    return S_OK;
  }

  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE,
                              DWORD_PTR *) override {
    return E_NOTIMPL;
  }

  STDMETHODIMP Unadvise(DWORD_PTR cookie) override {
    std::lock_guard<std::mutex> hold(mutex_);
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
      if (it->cookie == cookie) {
        pending_.erase(it);
        changed_.notify_all();
        return S_OK;
      }
    }
    return S_FALSE;
  }

  // Moves time forward and fires every advise that has become due.
  void Advance(REFERENCE_TIME delta) {
    std::lock_guard<std::mutex> hold(mutex_);
    MoveTo(now_ + delta);
  }
  void SetTime(REFERENCE_TIME time) {
    std::lock_guard<std::mutex> hold(mutex_);
    MoveTo(time);
  }
  REFERENCE_TIME Now() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return now_;
  }

  void FailAdvises(bool fail) {
    std::lock_guard<std::mutex> hold(mutex_);
    failAdvise_ = fail;
  }

  std::size_t PendingCount() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return pending_.size();
  }
  int AdviseCalls() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return adviseCalls_;
  }
  // Due time (base + stream) of the last advise asked for.
  REFERENCE_TIME LastDue() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return lastDue_;
  }

  // Blocks until at least `count` advises are outstanding; false on time-out.
  bool WaitForPending(std::size_t count = 1,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, timeout, [&] { return pending_.size() >= count; });
  }

 private:
  void MoveTo(REFERENCE_TIME time) {
    now_ = time;
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->due <= now_) {
        SetEvent(reinterpret_cast<HANDLE>(it->event));
        it = pending_.erase(it);
      } else {
        ++it;
      }
    }
    changed_.notify_all();
  }

  std::atomic<ULONG> refs_{0};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  REFERENCE_TIME now_ = 0;
  REFERENCE_TIME lastDue_ = 0;
  DWORD_PTR nextCookie_ = 1;
  int adviseCalls_ = 0;
  bool failAdvise_ = false;
  std::vector<Advise> pending_;
};

}  // namespace fakes
