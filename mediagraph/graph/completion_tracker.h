// Which renderers of a run have reported the end of their stream.
#pragma once

#include <mutex>
#include <vector>

#include "platform/media/filters.h"

namespace mediagraph {

// The graph tells the application that playback is complete once, when every
// renderer of the run has raised EC_COMPLETE.
//
//   disarmed --Arm(renderers)--> counting --last renderer completes--> done
//       ^                            |                                   |
//       +-------------Disarm---------+-----------------------------------+
//
// Completions while disarmed or done, from filters that are not renderers of the
// run, and repeated ones from the same renderer are ignored.
//
// Threads: Arm and Disarm on the application thread (graph lock held), Complete
// from any thread. lock_ is a leaf.
class CompletionTracker {
 public:
  // Starts counting for the given renderers (uncounted pointers, compared only).
  // With no renderer at all the run is complete at once: Arm then returns true.
  bool Arm(const std::vector<IBaseFilter *> &renderers);
  void Disarm();
  // Records the completion of `filter`; true when it was the last one missing, so
  // the application is to be told now.
  bool Complete(const IBaseFilter *filter);

 private:
  std::mutex lock_;
  // --- guarded by lock_
  bool armed_ = false;
  std::vector<const IBaseFilter *> pending_;  // renderers still to complete
};

}  // namespace mediagraph
