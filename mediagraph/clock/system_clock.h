// The graph's reference clock: the host's monotonic clock in 100 ns units, with
// one-shot and periodic advises served by a clock thread.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/host/spinning_mutex.h"
#include "platform/media/streaming.h"

namespace mediagraph {

// Advise life:  AdviseTime/AdvisePeriodic --> pending --due--> event set
//                                               |                 |
//                                   Unadvise <--+  (periodic: rescheduled one period on)
// A one-shot advise is gone once its event is set. Events are set under the clock's
// lock, so when Unadvise returns the advise can no longer fire.
//
// The stand-in has no semaphores: a periodic advise sets the given handle as an event.
//
// Threads: any thread may call the interface; the clock thread only sets events. The
// thread starts with the clock (else with the first advise) and is joined when the
// clock is destroyed. It wakes only when an advise is due or the clock closes: the
// next due time is armed on a kernel timer by whichever thread changes it.
class SystemClock final : public IReferenceClock {
 public:
  // New clock with one reference.
  static HRESULT Create(SystemClock **out);

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IReferenceClock. Advises for a moment already past fire at once.
  STDMETHODIMP GetTime(REFERENCE_TIME *time) override;
  STDMETHODIMP AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                          DWORD_PTR *cookie) override;
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                              DWORD_PTR *cookie) override;
  // S_FALSE when the cookie names no pending advise (already fired or unknown).
  STDMETHODIMP Unadvise(DWORD_PTR cookie) override;

  // The monotonic time the clock reports, for callers outside the interface.
  static REFERENCE_TIME Now();

 private:
  struct Advise {
    DWORD_PTR cookie;
    REFERENCE_TIME due;
    REFERENCE_TIME period;  // 0 = one-shot
    HANDLE event;
  };

  SystemClock() = default;
  ~SystemClock();

  HRESULT Schedule(REFERENCE_TIME due, REFERENCE_TIME period, HANDLE event, DWORD_PTR *cookie);
  void Insert(const Advise &advise);  // lock_ held
  void Arm();                         // lock_ held: the timer at the next due time
  void FireDue(REFERENCE_TIME now);   // lock_ held
  void Serve();                       // the clock thread

  std::atomic<LONG> refs_{0};

  // The game's calls advise and unadvise while the clock's thread holds it
  // to signal an event.
  SpinningMutex lock_;
  int timer_ = -1;   // expires when the next advise is due
  int closed_ = -1;  // readable once the clock is closing
  // --- guarded by lock_
  std::vector<Advise> advises_;  // sorted by due time, earliest last
  DWORD_PTR nextCookie_ = 1;
  bool closing_ = false;
  std::thread thread_;  // started with the clock, else by the first advise
};

}  // namespace mediagraph
