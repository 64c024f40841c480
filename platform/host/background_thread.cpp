#include "platform/host/background_thread.h"

#if defined(__linux__)
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#endif

namespace {

#if defined(__linux__)
// Every change is made resetting on fork: what the thread starts begins with
// the ordinary turn. The kernel keeps a batch policy across it, though, so a
// sound device, whose mixing thread is OpenAL's, is never opened from such a
// thread.
void SetPolicy(pid_t thread, int policy) {
  sched_param param{};
  param.sched_priority = 0;
  sched_setscheduler(thread, policy | SCHED_RESET_ON_FORK, &param);
}

// The kernel's sched_attr (its first two versions); the C library has no
// declaration of it.
struct SchedAttr {
  uint32_t size;
  uint32_t policy;
  uint64_t flags;
  int32_t nice;
  uint32_t priority;
  uint64_t runtime;  // a fair thread's turn (its slice), in ns; 0: the system's
  uint64_t deadline;
  uint64_t period;
  uint32_t utilMin;
  uint32_t utilMax;
};

constexpr uint64_t kLongTurn = 20'000'000;  // ns; the kernel allows 0.1 to 100 ms
// Over the longest ordinary turn (0.75 ms times 1 + log2 of the cores, 8 at
// most: 3 ms): where the game's thread is due as well, it goes first.
constexpr uint64_t kTimedTurn = 4'000'000;
constexpr uint64_t kResetOnFork = 0x01;

void SetTurn(uint64_t nanoseconds, int policy) {
#if defined(SYS_sched_setattr) && defined(SYS_sched_getattr)
  SchedAttr attr{};
  if (syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0) return;
  // Real-time threads (a host's choice) have no turns to change.
  if (attr.policy != SCHED_OTHER && attr.policy != SCHED_BATCH) return;
  // Nice as it is, so that no privilege is needed; kernels before per-thread
  // turns ignore the runtime of a fair thread.
  attr.size = sizeof attr;
  attr.policy = static_cast<uint32_t>(policy);
  attr.flags = kResetOnFork;
  attr.runtime = nanoseconds;
  syscall(SYS_sched_setattr, 0, &attr, 0);
#else
  (void)nanoseconds;
  (void)policy;
#endif
}
#endif

}  // namespace

#if defined(__linux__)
// A batch thread's wake-up never preempts the running thread.
void RunAsBackgroundThread() { SetPolicy(0, SCHED_BATCH); }
void RunAsForegroundThread() { SetPolicy(0, SCHED_OTHER); }
// At a core's turn, the thread whose turn ends first goes first.
void RunInLongTurns() { SetTurn(kLongTurn, SCHED_BATCH); }
void RunInTimedTurns() { SetTurn(kTimedTurn, SCHED_OTHER); }
void RunInBufferedTurns() { SetTurn(kTimedTurn, SCHED_BATCH); }
// Its place in the queue moves a turn back, behind the thread it took the
// core from.
void GiveWayToStarter() { sched_yield(); }
void GiveWayToWoken() { sched_yield(); }
long ThisThreadId() { return static_cast<long>(syscall(SYS_gettid)); }
void MakeForegroundThread(long id) {
  // Only a background thread: a host's real-time one stays as it is.
  if (id <= 0 || (sched_getscheduler(static_cast<pid_t>(id)) & ~SCHED_RESET_ON_FORK) != SCHED_BATCH) {
    return;
  }
  SetPolicy(static_cast<pid_t>(id), SCHED_OTHER);
}
#else
void RunAsBackgroundThread() {}
void RunAsForegroundThread() {}
void RunInLongTurns() {}
void RunInTimedTurns() {}
void RunInBufferedTurns() {}
void GiveWayToStarter() {}
void GiveWayToWoken() {}
long ThisThreadId() { return 0; }
void MakeForegroundThread(long) {}
#endif
