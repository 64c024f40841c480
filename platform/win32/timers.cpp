#include "platform/win32/timers.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "platform/host/background_thread.h"
#include "platform/host/thread_name.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kMaxDelay = 1000000;  // the platform's largest timer period, in ms
constexpr UINT kEventCallbacks = 0x0030;  // TIME_CALLBACK_EVENT_SET / _PULSE: not offered

struct Timer {
  Clock::time_point due;
  std::chrono::milliseconds period;
  bool periodic;
  LPTIMECALLBACK callback;
  DWORD_PTR user;
};

// The one timer thread and its timers. Kept for the whole process (never freed),
// so a late caller during exit finds it intact; the thread itself is stopped by
// TimerThreadStopper when static objects are destroyed.
struct TimerService {
  std::mutex mutex;
  // --- guarded by mutex
  std::map<UINT, Timer> timers;  // pending; a one-shot leaves before it runs
  UINT lastId = 0;
  UINT runningId = 0;  // the timer whose callback runs right now, 0 if none
  bool started = false;
  bool stopping = false;
  bool exited = false;
  std::thread::id timerThreadId;
  std::multiset<UINT> periods;  // timeBeginPeriod calls not yet ended
  // --- signalled under mutex
  std::condition_variable changed;       // timers added/removed or stop asked: timer thread
  std::condition_variable callbackDone;  // a callback finished: killers waiting for it
  std::condition_variable threadExited;  // the timer thread left its loop
  // --- touched only when starting and stopping the thread
  std::thread thread;
};

TimerService &Service() {
  static TimerService *service = new TimerService;
  return *service;
}

// Timer thread only.
void TimerLoop() {
  NameThisThread("cl-timer");
  RunInBufferedTurns();
  GiveWayToStarter();
  TimerService &service = Service();
  std::unique_lock<std::mutex> lock(service.mutex);
  while (!service.stopping) {
    if (service.timers.empty()) {
      service.changed.wait(lock);
      continue;
    }
    auto next = std::min_element(
        service.timers.begin(), service.timers.end(),
        [](const auto &a, const auto &b) { return a.second.due < b.second.due; });
    const Clock::time_point now = Clock::now();
    if (next->second.due > now) {
      // A copy: the timer may be killed (its node erased) during the wait.
      const Clock::time_point due = next->second.due;
      service.changed.wait_until(lock, due);
      continue;
    }
    const UINT id = next->first;
    const Timer timer = next->second;
    if (!timer.periodic) service.timers.erase(next);
    service.runningId = id;
    lock.unlock();
    timer.callback(id, 0, timer.user, 0, 0);
    lock.lock();
    service.runningId = 0;
    service.callbackDone.notify_all();
    auto again = service.timers.find(id);
    if (again != service.timers.end()) {
      // Keep the cadence, but never fire a burst to catch up after a slow callback.
      again->second.due = std::max(timer.due + timer.period, Clock::now());
    }
  }
  service.exited = true;
  service.threadExited.notify_all();
}

// Stops the timer thread when the process's static objects are destroyed. A
// callback that does not return within the grace period is left behind
// (detached) rather than hanging the exit.
struct TimerThreadStopper {
  ~TimerThreadStopper() {
    TimerService &service = Service();
    std::unique_lock<std::mutex> lock(service.mutex);
    service.stopping = true;
    service.timers.clear();
    service.changed.notify_all();
    const bool onTimerThread = std::this_thread::get_id() == service.timerThreadId;
    const bool exited =
        !onTimerThread && service.threadExited.wait_for(lock, std::chrono::seconds(2), [&] {
          return service.exited;
        });
    lock.unlock();
    if (exited) {
      service.thread.join();
    } else {
      service.thread.detach();
    }
  }
};

// Called with the service lock held. False when no thread could be made.
bool StartTimerThreadLocked(TimerService &service) {
  if (service.started) return true;
  static TimerThreadStopper stopper;  // destroyed at exit, stopping the thread
  (void)stopper;
  try {
    service.thread = std::thread(TimerLoop);
  } catch (const std::system_error &) {
    return false;
  }
  service.timerThreadId = service.thread.get_id();
  service.started = true;
  return true;
}

}  // namespace

MMRESULT timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                      UINT flags) {
  if (!callback || delay == 0 || delay > kMaxDelay || (flags & kEventCallbacks) != 0) return 0;
  TimerService &service = Service();
  std::lock_guard<std::mutex> lock(service.mutex);
  if (service.stopping || !StartTimerThreadLocked(service)) return 0;
  // Ids are never 0 and never name a timer that is still pending or running.
  UINT id = service.lastId;
  do {
    ++id;
  } while (id == 0 || id == service.runningId || service.timers.count(id) != 0);
  service.lastId = id;
  const std::chrono::milliseconds period(delay);
  service.timers[id] = Timer{Clock::now() + period, period, (flags & TIME_PERIODIC) != 0,
                             callback, user};
  service.changed.notify_all();
  return id;
}

MMRESULT timeKillEvent(UINT timerId) {
  TimerService &service = Service();
  std::unique_lock<std::mutex> lock(service.mutex);
  const bool pending = service.timers.erase(timerId) != 0;
  const bool running = timerId != 0 && service.runningId == timerId;
  if (!pending && !running) return MMSYSERR_INVALPARAM;
  service.changed.notify_all();
  // A callback in progress finishes before the kill returns, unless the kill
  // comes from that very callback.
  if (std::this_thread::get_id() != service.timerThreadId) {
    service.callbackDone.wait(lock, [&] { return service.runningId != timerId; });
  }
  return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(UINT period) {
  if (period == 0 || period > kMaxDelay) return TIMERR_NOCANDO;
  TimerService &service = Service();
  std::lock_guard<std::mutex> lock(service.mutex);
  service.periods.insert(period);
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT period) {
  TimerService &service = Service();
  std::lock_guard<std::mutex> lock(service.mutex);
  auto it = service.periods.find(period);
  if (it == service.periods.end()) return TIMERR_NOCANDO;
  service.periods.erase(it);
  return TIMERR_NOERROR;
}

DWORD timeGetTime() {
  const auto since = Clock::now().time_since_epoch();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

int StandInTimerPeriodDepth() {
  TimerService &service = Service();
  std::lock_guard<std::mutex> lock(service.mutex);
  return static_cast<int>(service.periods.size());
}
