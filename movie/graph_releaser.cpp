#include "movie/graph_releaser.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/host/background_thread.h"
#include "platform/host/thread_name.h"

namespace {

struct Queue {
  std::mutex lock;
  std::condition_variable changed;
  // --- with lock
  std::deque<std::vector<IUnknown *>> pending;
  bool busy = false;  // the thread is releasing a hand-over it took
  bool started = false;
};

// Never destroyed: the thread may outlive every static object.
Queue &TheQueue() {
  static auto *queue = new Queue;
  return *queue;
}

void Serve() {
  NameThisThread("cl-release");
  RunAsBackgroundThread();
  GiveWayToStarter();
  Queue &queue = TheQueue();
  std::unique_lock<std::mutex> hold(queue.lock);
  for (;;) {
    queue.changed.wait(hold, [&queue] { return !queue.pending.empty(); });
    std::vector<IUnknown *> references = std::move(queue.pending.front());
    queue.pending.pop_front();
    queue.busy = true;
    hold.unlock();
    for (IUnknown *reference : references) {
      if (reference != nullptr) reference->Release();
    }
    hold.lock();
    queue.busy = false;
    queue.changed.notify_all();
  }
}

}  // namespace

void GraphReleaser::HandOver(std::vector<IUnknown *> references) {
  Queue &queue = TheQueue();
  std::lock_guard<std::mutex> hold(queue.lock);
  queue.pending.push_back(std::move(references));
  if (!queue.started) {
    queue.started = true;
    std::thread(Serve).detach();
    std::atexit(&GraphReleaser::Drain);
  }
  queue.changed.notify_all();
}

void GraphReleaser::Drain() {
  Queue &queue = TheQueue();
  std::unique_lock<std::mutex> hold(queue.lock);
  queue.changed.wait(hold, [&queue] { return queue.pending.empty() && !queue.busy; });
}
