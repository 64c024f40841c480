#include "platform/host/background_thread.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace {

void SetPolicy([[maybe_unused]] int policy) {
#if defined(__linux__)
  sched_param param{};
  param.sched_priority = 0;
  sched_setscheduler(0, policy, &param);
#endif
}

}  // namespace

#if defined(__linux__)
// A batch thread's wake-up never preempts the running thread.
void RunAsBackgroundThread() { SetPolicy(SCHED_BATCH); }
void RunAsForegroundThread() { SetPolicy(SCHED_OTHER); }
#else
void RunAsBackgroundThread() {}
void RunAsForegroundThread() {}
#endif
