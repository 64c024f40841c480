// An owned Win32 event: created with the object, closed with it.
#pragma once

#include "platform/win32/sync.h"
#include "platform/win32/types.h"

class SyncEvent {
 public:
  // Not signalled at first. A creation failure leaves the handle null; it is
  // not reported, and Set/Reset/Wait on such an event fail harmlessly.
  explicit SyncEvent(BOOL manualReset = FALSE);
  ~SyncEvent();

  SyncEvent(const SyncEvent &) = delete;
  SyncEvent &operator=(const SyncEvent &) = delete;

  void Set();
  void Reset();
  // WaitForSingleObject on the event: WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
  DWORD Wait(DWORD milliseconds = INFINITE);
  // The event itself, for multiple waits; null if creation failed.
  HANDLE Handle() const { return handle; }

 private:
  HANDLE const handle;
};
