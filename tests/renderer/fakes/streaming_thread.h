// One real thread that runs posted calls in order, as a graph's streaming
// thread does; each call's result comes back through a future.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "platform/win32/types.h"

namespace fakes {

class StreamingThread {
 public:
  StreamingThread() : thread_([this] { Run(); }) {}
  StreamingThread(const StreamingThread &) = delete;
  StreamingThread &operator=(const StreamingThread &) = delete;
  // Waits for every posted call to finish: the test must have released a
  // blocked call (run, stop or flush) before the thread goes.
  ~StreamingThread() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  std::future<HRESULT> Post(std::function<HRESULT()> call) {
    std::packaged_task<HRESULT()> task(std::move(call));
    std::future<HRESULT> result = task.get_future();
    {
      std::lock_guard<std::mutex> hold(mutex_);
      queue_.push_back(std::move(task));
    }
    wake_.notify_all();
    return result;
  }

  std::thread::id Id() const { return thread_.get_id(); }

 private:
  void Run() {
    for (;;) {
      std::packaged_task<HRESULT()> task;
      {
        std::unique_lock<std::mutex> hold(mutex_);
        wake_.wait(hold, [this] { return quit_ || !queue_.empty(); });
        if (queue_.empty()) return;
        task = std::move(queue_.front());
        queue_.pop_front();
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::packaged_task<HRESULT()>> queue_;
  bool quit_ = false;
  std::thread thread_;  // last: starts after the fields it uses
};

}  // namespace fakes
