#include "mediagraph/source/job_thread.h"

#include <system_error>
#include <utility>

#include "platform/host/background_thread.h"
#include "platform/host/thread_name.h"

namespace mediagraph {

JobThread::JobThread(const char *name) {
  try {
    thread_ = std::thread(&JobThread::Serve, this, name);
  } catch (const std::system_error &) {
    // Post runs the jobs itself.
  }
}

JobThread::~JobThread() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ending_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void JobThread::Post(std::function<void()> job) {
  if (!thread_.joinable()) {
    job();
    return;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    jobs_.push_back(std::move(job));
  }
  changed_.notify_all();
}

void JobThread::AwaitIdle() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return jobs_.empty() && !busy_; });
}

void JobThread::Serve(const char *name) {
  NameThisThread(name);
  // Woken by a post from the game's thread, which must not lose its core to
  // this one.
  RunAsBackgroundThread();
  GiveWayToStarter();
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return ending_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // ending, with nothing left
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    hold.unlock();
    job();
    hold.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace mediagraph
