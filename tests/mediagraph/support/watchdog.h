// Ends the test process when a step takes far longer than it ever should: a
// hung graph then fails its test with a message instead of stalling the run.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace mediagraph_test {

class Watchdog {
 public:
  // Aborts the process, naming `what`, unless destroyed within `ms`.
  Watchdog(int ms, std::string what);
  ~Watchdog();
  Watchdog(const Watchdog &) = delete;
  Watchdog &operator=(const Watchdog &) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace mediagraph_test
