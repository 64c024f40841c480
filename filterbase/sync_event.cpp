#include "filterbase/sync_event.h"

SyncEvent::SyncEvent(BOOL manualReset)
    : handle(CreateEventW(nullptr, manualReset, FALSE, nullptr)) {}

SyncEvent::~SyncEvent() {
  if (handle != nullptr) CloseHandle(handle);
}

void SyncEvent::Set() {
  if (handle != nullptr) SetEvent(handle);
}

void SyncEvent::Reset() {
  if (handle != nullptr) ResetEvent(handle);
}

DWORD SyncEvent::Wait(DWORD milliseconds) {
  if (handle == nullptr) return WAIT_FAILED;
  return WaitForSingleObject(handle, milliseconds);
}
