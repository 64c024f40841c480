#include "tests/mediagraph/support/watchdog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace mediagraph_test {

Watchdog::Watchdog(int ms, std::string what) {
  thread_ = std::thread([this, ms, what = std::move(what)] {
    std::unique_lock<std::mutex> lock(mutex_);
    if (done_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return finished_; })) return;
    std::fprintf(stderr, "watchdog: %s still not done after %d ms\n", what.c_str(), ms);
    std::fflush(stderr);
    std::abort();
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  done_.notify_all();
  thread_.join();
}

}  // namespace mediagraph_test
