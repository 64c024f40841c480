// A field holding one counted reference that threads read without the
// owner's lock (a filter's clock, a pin's peer). Swapping the field and
// reading it with a new reference both go through a short leaf lock of the
// field's own, so a reader never adds a reference to an object a swap has just
// released. The swapped-out reference is released after the lock is left.
#pragma once

#include "filterbase/critical_lock.h"

// The object in *slot with a new reference, or null.
template <class T>
T *AcquireFromSlot(CriticalLock *slotLock, T *const *slot) {
  ScopedLock guard(slotLock);
  T *held = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
  if (held != nullptr) held->AddRef();
  return held;
}

// Stores value (whose reference the slot takes over) and returns the previous
// object with the slot's reference, for the caller to release.
template <class T>
T *ExchangeSlot(CriticalLock *slotLock, T **slot, T *value) {
  ScopedLock guard(slotLock);
  return __atomic_exchange_n(slot, value, __ATOMIC_ACQ_REL);
}
