#include "platform/win32/threads.h"

#include <pthread.h>

#include <chrono>
#include <climits>
#include <thread>

#include "platform/win32/errors.h"
#include "platform/win32/kernel_objects.h"

namespace {

constexpr DWORD kStackSizeIsReservation = 0x00010000;

struct ThreadStart {
  std::shared_ptr<standin::ThreadRecord> record;
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
};

void *RunThread(void *argument) {
  {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart *>(argument));
    standin::AdoptThreadRecord(std::move(start->record));
    start->start(start->parameter);
  }
  // Signal the handle now rather than in the thread-local destructor, so a waiter
  // wakes as soon as the routine has returned.
  standin::EndCurrentThread();
  return nullptr;
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                    LPDWORD threadId) {
  // Suspended creation is not offered (there is no ResumeThread).
  if (!start || (flags & ~kStackSizeIsReservation) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<standin::ThreadRecord> record = standin::NewThreadRecord();
  HANDLE handle;
  {
    auto lock = standin::HoldKernel();
    handle = standin::InsertHandle(record);
  }
  const DWORD id = record->id;

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stackSize != 0) {
    const auto minimum = static_cast<SIZE_T>(PTHREAD_STACK_MIN);
    if (stackSize < minimum) stackSize = minimum;
    pthread_attr_setstacksize(&attr, stackSize);
  }
  auto *startInfo = new ThreadStart{record, start, parameter};
  pthread_t thread;
  const int error = pthread_create(&thread, &attr, RunThread, startInfo);
  pthread_attr_destroy(&attr);
  if (error != 0) {
    delete startInfo;
    auto lock = standin::HoldKernel();
    standin::RemoveHandle(handle);
    record->ended = true;
    record->Signal();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = id;
  return handle;
}

DWORD GetCurrentThreadId() { return standin::CurrentThreadRecord().id; }

HANDLE GetCurrentThread() { return standin::CurrentThreadPseudoHandle(); }

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD GetTickCount() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  // Truncation to 32 bits gives the platform's wrap after 49.7 days.
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}
