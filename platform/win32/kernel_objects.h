// Stand-in internals shared by the waitable-object, thread and message-queue
// code. Not part of the platform's surface: only platform/win32/*.cpp include it.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/win32/types.h"

namespace standin {

// Something a thread can wait on: an event or a thread (signalled when it ends).
// Every field is guarded by KernelMutex().
struct Waitable {
  enum class Kind { Event, Thread };

  explicit Waitable(Kind k) : kind(k) {}
  virtual ~Waitable() = default;
  Waitable(const Waitable &) = delete;
  Waitable &operator=(const Waitable &) = delete;

  // Called with KernelMutex() held: marks the object signalled and wakes every
  // thread waiting on it. Waiters re-check, so an auto-reset object is still
  // taken by exactly one of them.
  void Signal();
  // Called with KernelMutex() held after a successful wait on this object.
  void Consume() {
    if (autoReset) signalled = false;
  }

  const Kind kind;
  bool signalled = false;
  bool autoReset = false;
  // Wake-up of every thread currently blocked on this object.
  std::vector<std::condition_variable *> waiters;
};

// One thread known to the stand-in: its id, recorded priority and message queue.
// Every thread gets one the first time it calls into the stand-in; a thread made
// by CreateThread gets it before it starts. All fields after `id` are guarded by
// KernelMutex().
struct ThreadRecord final : Waitable {
  explicit ThreadRecord(DWORD threadId) : Waitable(Kind::Thread), id(threadId) {}

  const DWORD id;
  int priority = 0;
  bool ended = false;
  std::deque<MSG> queue;
  // QS_ kinds added since the thread last looked at its queue (GetQueueStatus,
  // PeekMessageW, GetMessageW); MsgWaitForMultipleObjects wakes only on these.
  UINT newKinds = 0;
  // The owning thread blocks on this in every wait; posts and signals notify it.
  std::condition_variable wake;
};

// The one lock behind every waitable object, handle and message queue.
std::mutex &KernelMutex();
// Takes it, waiting a short while on this core before sleeping: every thread
// signals through it, and the game's thread, asleep behind a hold of a
// microsecond, lost its core to a batch thread it had woken until the tick.
std::unique_lock<std::mutex> HoldKernel();

// Handle table. Handles are never reused. Called with KernelMutex() held.
HANDLE InsertHandle(std::shared_ptr<Waitable> object);
std::shared_ptr<Waitable> LookupHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);

// The calling thread's record, created on first use. Must NOT be called with
// KernelMutex() held.
ThreadRecord &CurrentThreadRecord();
// Creates a record for a thread that CreateThread is about to start. Takes the lock.
std::shared_ptr<ThreadRecord> NewThreadRecord();
// Makes `record` the calling thread's own (first thing a CreateThread thread does).
void AdoptThreadRecord(std::shared_ptr<ThreadRecord> record);
// Marks the calling thread ended: signals its handle, drops its queue and takes it
// out of the id registry. Takes the lock.
void EndCurrentThread();
// A live thread by id, or null. Called with KernelMutex() held.
ThreadRecord *FindLiveThread(DWORD threadId);

// The thread's record for a thread handle or the GetCurrentThread() pseudo handle,
// or null. Called with KernelMutex() held; `self` is the caller's record.
ThreadRecord *ResolveThreadHandle(HANDLE handle, ThreadRecord &self);

// Pseudo handle value of GetCurrentThread().
inline HANDLE CurrentThreadPseudoHandle() {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
}

// The shared wait behind WaitForSingleObject, WaitForMultipleObjects and
// MsgWaitForMultipleObjects. With `useQueue`, new messages of a kind in wakeMask
// also end the wait (result WAIT_OBJECT_0 + count).
DWORD WaitForObjectsOrMessages(DWORD count, const HANDLE *handles, BOOL waitAll,
                               DWORD milliseconds, bool useQueue, DWORD wakeMask);

}  // namespace standin
