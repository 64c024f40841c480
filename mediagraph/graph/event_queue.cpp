#include "mediagraph/graph/event_queue.h"

#include <algorithm>
#include <iterator>

#include <chrono>

#include "platform/win32/sync.h"

namespace mediagraph {

EventQueue::EventQueue() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

EventQueue::~EventQueue() {
  if (handle_) CloseHandle(handle_);
}

void EventQueue::UpdateHandle() {
  if (!handle_) return;
  if (events_.empty()) {
    ResetEvent(handle_);
  } else {
    SetEvent(handle_);
  }
}

void EventQueue::Post(const Event &event) {
  {
    std::lock_guard<SpinningMutex> hold(lock_);
    events_.push_back(event);
    UpdateHandle();
  }
  posted_.notify_one();
}

bool EventQueue::Get(Event *event, DWORD milliseconds) {
  std::unique_lock<SpinningMutex> hold(lock_);
  const auto ready = [this] { return !events_.empty(); };
  // A poll must not sleep: a condition wait with no time left still blocks
  // until a timer fires, and then queues behind whatever took the CPU, so
  // the game's every-frame poll would wait for a picture being drawn.
  if (milliseconds == 0) {
    if (!ready()) return false;
  } else if (milliseconds == INFINITE) {
    posted_.wait(hold, ready);
  } else if (!posted_.wait_for(hold, std::chrono::milliseconds(milliseconds), ready)) {
    return false;
  }
  *event = events_.front();
  events_.pop_front();
  UpdateHandle();
  return true;
}

bool EventQueue::Retract(LONG code) {
  std::lock_guard<SpinningMutex> hold(lock_);
  const auto found = std::find_if(events_.rbegin(), events_.rend(),
                                  [code](const Event &event) { return event.code == code; });
  if (found == events_.rend()) return false;
  events_.erase(std::next(found).base());
  UpdateHandle();
  return true;
}

void EventQueue::Clear() {
  std::lock_guard<SpinningMutex> hold(lock_);
  events_.clear();
  UpdateHandle();
}

}  // namespace mediagraph
