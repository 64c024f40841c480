#include "platform/win32/threads.h"

#include <mutex>

#include "platform/win32/errors.h"
#include "platform/win32/kernel_objects.h"

namespace {

bool IsValidPriority(int priority) {
  return priority == THREAD_PRIORITY_IDLE || priority == THREAD_PRIORITY_TIME_CRITICAL ||
         (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST);
}

}  // namespace

int GetThreadPriority(HANDLE thread) {
  standin::ThreadRecord &self = standin::CurrentThreadRecord();
  auto lock = standin::HoldKernel();
  standin::ThreadRecord *record = standin::ResolveThreadHandle(thread, self);
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  return record->priority;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  standin::ThreadRecord &self = standin::CurrentThreadRecord();
  if (!IsValidPriority(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto lock = standin::HoldKernel();
  standin::ThreadRecord *record = standin::ResolveThreadHandle(thread, self);
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Only recorded: the host scheduler is left alone.
  record->priority = priority;
  return TRUE;
}
