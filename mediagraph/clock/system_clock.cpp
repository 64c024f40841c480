#include "mediagraph/clock/system_clock.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <limits>
#include <new>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "platform/media/guids.h"
#include "platform/host/background_thread.h"
#include "platform/host/thread_name.h"
#include "platform/win32/sync.h"

namespace mediagraph {

namespace {
using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;  // 100 ns
constexpr int64_t kTicksPerSecond = Ticks::period::den;

// Room kept for advises so that scheduling one per frame does not allocate.
constexpr size_t kReservedAdvises = 32;

bool AddOverflows(int64_t a, int64_t b, int64_t *sum) { return __builtin_add_overflow(a, b, sum); }
}  // namespace

// steady_clock is CLOCK_MONOTONIC on Linux, the clock the timer is armed on.
REFERENCE_TIME SystemClock::Now() {
  return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

HRESULT SystemClock::Create(SystemClock **out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  SystemClock *const clock = new (std::nothrow) SystemClock();
  if (!clock) return E_OUTOFMEMORY;
  clock->timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  clock->closed_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (clock->timer_ < 0 || clock->closed_ < 0) {
    delete clock;
    return E_FAIL;
  }
  clock->advises_.reserve(kReservedAdvises);
  clock->AddRef();
  // Started now rather than by the first advise, which a game's first play
  // makes on its own thread: a new thread can take the CPU from its maker.
  try {
    clock->thread_ = std::thread(&SystemClock::Serve, clock);
  } catch (const std::system_error &) {
    // The first advise tries again.
  }
  *out = clock;
  return S_OK;
}

SystemClock::~SystemClock() {
  {
    std::lock_guard<SpinningMutex> hold(lock_);
    closing_ = true;
  }
  if (closed_ >= 0) {
    const uint64_t one = 1;
    (void)!write(closed_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (timer_ >= 0) close(timer_);
  if (closed_ >= 0) close(closed_);
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
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread(&SystemClock::Serve, this);
    } catch (const std::system_error &) {
      return E_OUTOFMEMORY;
    }
  }
  const Advise advise{nextCookie_++, due, period, event};
  Insert(advise);
  *cookie = advise.cookie;
  // Re-armed from here, so the clock's thread is not woken: woken, it took
  // the core of the game's thread, which then waited for a decoding thread's
  // turn to end (5 ms). It is woken only when an advise is due.
  if (advises_.back().cookie == advise.cookie) Arm();
  return S_OK;
}

void SystemClock::Insert(const Advise &advise) {
  // Latest first, so the next one due is at the back and firing pops it cheaply.
  auto at = std::upper_bound(advises_.begin(), advises_.end(), advise.due,
                             [](REFERENCE_TIME due, const Advise &a) { return due > a.due; });
  advises_.insert(at, advise);
}

void SystemClock::Arm() {
  itimerspec when{};
  if (!advises_.empty()) {
    // A zero time would disarm the timer; one already past fires at once.
    const REFERENCE_TIME due = std::max<REFERENCE_TIME>(advises_.back().due, 1);
    when.it_value.tv_sec = static_cast<time_t>(due / kTicksPerSecond);
    when.it_value.tv_nsec = static_cast<long>(due % kTicksPerSecond * 100);
  }
  timerfd_settime(timer_, TFD_TIMER_ABSTIME, &when, nullptr);
}

STDMETHODIMP SystemClock::Unadvise(DWORD_PTR cookie) {
  std::lock_guard<SpinningMutex> hold(lock_);
  auto it = std::find_if(advises_.begin(), advises_.end(),
                         [cookie](const Advise &a) { return a.cookie == cookie; });
  if (it == advises_.end()) return S_FALSE;
  const bool wasNext = std::next(it) == advises_.end();
  advises_.erase(it);
  if (wasNext) Arm();
  return S_OK;
}

void SystemClock::FireDue(REFERENCE_TIME now) {
  while (!advises_.empty() && advises_.back().due <= now) {
    Advise next = advises_.back();
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

void SystemClock::Serve() {
  NameThisThread("cl-clock");
  RunInTimedTurns();
  GiveWayToStarter();
  pollfd waits[2] = {{timer_, POLLIN, 0}, {closed_, POLLIN, 0}};
  for (;;) {
    {
      std::lock_guard<SpinningMutex> hold(lock_);
      if (closing_) return;
      FireDue(Now());
      Arm();
    }
    // Until the timer expires or the clock closes; an expiry between the
    // unlock and here leaves the timer readable.
    poll(waits, 2, -1);
    uint64_t expirations = 0;
    (void)!read(timer_, &expirations, sizeof expirations);
  }
}

}  // namespace mediagraph
