#include "mediagraph/clock/system_clock.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>
#include <system_error>

#include "platform/media/guids.h"
#include "platform/host/background_thread.h"
#include "platform/host/thread_name.h"
#include "platform/win32/sync.h"

namespace mediagraph {

namespace {
using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;  // 100 ns

// Room kept for advises so that scheduling one per frame does not allocate.
constexpr size_t kReservedAdvises = 32;
constexpr Ticks kLongestWait = std::chrono::seconds(1);

bool AddOverflows(int64_t a, int64_t b, int64_t *sum) { return __builtin_add_overflow(a, b, sum); }
}  // namespace

REFERENCE_TIME SystemClock::Now() {
  return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

HRESULT SystemClock::Create(SystemClock **out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) SystemClock();
  if (!*out) return E_OUTOFMEMORY;
  (*out)->advises_.reserve(kReservedAdvises);
  (*out)->AddRef();
  // Started now rather than by the first advise, which a game's first play
  // makes on its own thread: a new thread can take the CPU from its maker.
  try {
    (*out)->thread_ = std::thread(&SystemClock::Serve, *out);
  } catch (const std::system_error &) {
    // The first advise tries again.
  }
  return S_OK;
}

SystemClock::~SystemClock() {
  {
    std::lock_guard<SpinningMutex> hold(lock_);
    closing_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

STDMETHODIMP SystemClock::QueryInterface(REFIID iid, void **out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IReferenceClock) {
    *out = static_cast<IReferenceClock *>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SystemClock::AddRef() { return static_cast<ULONG>(++refs_); }

STDMETHODIMP_(ULONG) SystemClock::Release() {
  const LONG left = --refs_;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP SystemClock::GetTime(REFERENCE_TIME *time) {
  if (!time) return E_POINTER;
  *time = Now();
  return S_OK;
}

STDMETHODIMP SystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                     HEVENT event, DWORD_PTR *cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  REFERENCE_TIME due = 0;
  if (!event || AddOverflows(baseTime, streamTime, &due)) return E_INVALIDARG;
  return Schedule(due, 0, reinterpret_cast<HANDLE>(event), cookie);
}

STDMETHODIMP SystemClock::AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period,
                                         HSEMAPHORE semaphore, DWORD_PTR *cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!semaphore || period <= 0 || start < 0) return E_INVALIDARG;
  return Schedule(start, period, reinterpret_cast<HANDLE>(semaphore), cookie);
}

HRESULT SystemClock::Schedule(REFERENCE_TIME due, REFERENCE_TIME period, HANDLE event,
                              DWORD_PTR *cookie) {
  std::lock_guard<SpinningMutex> hold(lock_);
  if (!thread_.joinable()) thread_ = std::thread(&SystemClock::Serve, this);
  const Advise advise{nextCookie_++, due, period, event};
  Insert(advise);
  *cookie = advise.cookie;
  changed_.notify_all();
  return S_OK;
}

void SystemClock::Insert(const Advise &advise) {
  // Latest first, so the next one due is at the back and firing pops it cheaply.
  auto at = std::upper_bound(advises_.begin(), advises_.end(), advise.due,
                             [](REFERENCE_TIME due, const Advise &a) { return due > a.due; });
  advises_.insert(at, advise);
}

STDMETHODIMP SystemClock::Unadvise(DWORD_PTR cookie) {
  std::lock_guard<SpinningMutex> hold(lock_);
  auto it = std::find_if(advises_.begin(), advises_.end(),
                         [cookie](const Advise &a) { return a.cookie == cookie; });
  if (it == advises_.end()) return S_FALSE;
  advises_.erase(it);
  return S_OK;
}

void SystemClock::Serve() {
  NameThisThread("cl-clock");
  RunInTimedTurns();
  GiveWayToStarter();
  std::unique_lock<SpinningMutex> hold(lock_);
  while (!closing_) {
    if (advises_.empty()) {
      changed_.wait(hold);
      continue;
    }
    const REFERENCE_TIME now = Now();
    Advise next = advises_.back();
    if (next.due > now) {
      // Wake at the due time or when an earlier advise arrives; the wait is cut into
      // pieces so that a due time far away cannot overflow the wait's deadline.
      changed_.wait_for(hold, std::min<Ticks>(Ticks(next.due - now), kLongestWait));
      continue;
    }
    advises_.pop_back();
    SetEvent(next.event);
    if (next.period > 0) {
      // A periodic advise that fell behind skips the missed periods.
      const int64_t periods = (now - next.due) / next.period + 1;
      int64_t step = 0;
      if (!__builtin_mul_overflow(periods, next.period, &step) &&
          !AddOverflows(next.due, step, &next.due)) {
        Insert(next);
      }
    }
  }
}

}  // namespace mediagraph
