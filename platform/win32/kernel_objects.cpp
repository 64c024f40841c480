#include "platform/win32/kernel_objects.h"

#include <utility>

#include "platform/host/spinning_mutex.h"

namespace standin {
namespace {

// Process-wide kernel state. Deliberately never destroyed: threads still running
// while the process exits (and thread-local destructors that run after static
// ones) may keep using it.
struct KernelState {
  std::mutex mutex;
  // --- guarded by mutex
  std::unordered_map<uintptr_t, std::shared_ptr<Waitable>> handles;
  uintptr_t nextHandle = 0x1000;
  std::unordered_map<DWORD, std::shared_ptr<ThreadRecord>> liveThreads;
  DWORD nextThreadId = 0x100;
};

KernelState &State() {
  static KernelState *state = new KernelState;
  return *state;
}

// Owns the calling thread's record; ending the thread ends the record.
struct CurrentThreadHolder {
  std::shared_ptr<ThreadRecord> record;
  ~CurrentThreadHolder() {
    if (record) EndCurrentThread();
  }
};

thread_local CurrentThreadHolder currentThread;

std::shared_ptr<ThreadRecord> MakeRecordLocked(KernelState &state) {
  // Ids are multiples of 4 like the platform's and never reused, so a post to a
  // thread that has ended cannot reach a newer thread.
  state.nextThreadId += 4;
  if (state.nextThreadId == 0) state.nextThreadId = 4;
  auto record = std::make_shared<ThreadRecord>(state.nextThreadId);
  state.liveThreads[record->id] = record;
  return record;
}

}  // namespace

void Waitable::Signal() {
  signalled = true;
  for (std::condition_variable *waiter : waiters) waiter->notify_all();
}

std::mutex &KernelMutex() { return State().mutex; }

std::unique_lock<std::mutex> HoldKernel() {
  LockSpinning(KernelMutex());
  return std::unique_lock<std::mutex>(KernelMutex(), std::adopt_lock);
}

HANDLE InsertHandle(std::shared_ptr<Waitable> object) {
  KernelState &state = State();
  state.nextHandle += 4;
  state.handles[state.nextHandle] = std::move(object);
  return reinterpret_cast<HANDLE>(state.nextHandle);
}

std::shared_ptr<Waitable> LookupHandle(HANDLE handle) {
  KernelState &state = State();
  auto it = state.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == state.handles.end()) return nullptr;
  return it->second;
}

bool RemoveHandle(HANDLE handle) {
  return State().handles.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

ThreadRecord &CurrentThreadRecord() {
  if (!currentThread.record) {
    KernelState &state = State();
    auto lock = HoldKernel();
    currentThread.record = MakeRecordLocked(state);
  }
  return *currentThread.record;
}

std::shared_ptr<ThreadRecord> NewThreadRecord() {
  KernelState &state = State();
  auto lock = HoldKernel();
  return MakeRecordLocked(state);
}

void AdoptThreadRecord(std::shared_ptr<ThreadRecord> record) {
  currentThread.record = std::move(record);
}

void EndCurrentThread() {
  std::shared_ptr<ThreadRecord> record = std::move(currentThread.record);
  if (!record) return;
  KernelState &state = State();
  auto lock = HoldKernel();
  record->ended = true;
  record->queue.clear();
  record->newKinds = 0;
  state.liveThreads.erase(record->id);
  record->Signal();
}

ThreadRecord *FindLiveThread(DWORD threadId) {
  KernelState &state = State();
  auto it = state.liveThreads.find(threadId);
  return it == state.liveThreads.end() ? nullptr : it->second.get();
}

ThreadRecord *ResolveThreadHandle(HANDLE handle, ThreadRecord &self) {
  if (handle == CurrentThreadPseudoHandle()) return &self;
  KernelState &state = State();
  auto it = state.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == state.handles.end() || it->second->kind != Waitable::Kind::Thread) return nullptr;
  return static_cast<ThreadRecord *>(it->second.get());
}

}  // namespace standin
