// One thread that runs the jobs handed to it in turn. It is made before it is
// needed: making a thread maps its stack under the address space's lock and
// often gives the new thread its maker's CPU, which a caller on the game's
// thread must not pay for (some milliseconds when another thread unmaps
// memory meanwhile).
//
// Threads: any thread posts and waits; the jobs run on the job thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace mediagraph {

class JobThread {
 public:
  // `name` is the thread's as tools show it; kept, not copied.
  explicit JobThread(const char *name);
  // Runs what was posted, then ends.
  ~JobThread();
  JobThread(const JobThread &) = delete;
  JobThread &operator=(const JobThread &) = delete;

  // Runs `job` after those posted before it; on the caller's thread when no
  // job thread could be made.
  void Post(std::function<void()> job);
  // Returns once every job posted has run.
  void AwaitIdle();
  // False when no job thread could be made (Post runs jobs on its caller).
  bool HasThread() const { return thread_.joinable(); }

 private:
  void Serve(const char *name);

  std::mutex lock_;
  std::condition_variable changed_;
  // --- lock_
  std::deque<std::function<void()>> jobs_;
  bool busy_ = false;  // a job taken from the queue is running
  bool ending_ = false;
  // Last: started once everything it uses exists.
  std::thread thread_;
};

}  // namespace mediagraph
