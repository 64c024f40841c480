// Which renderers of a run have reported the end of their stream.
#pragma once

#include <cstdint>
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
// run, and repeated ones from the same renderer are ignored. The last one
// reports the generation the run was armed in, so that one still on its way
// when a stop or seek disarms can be told from one of the next run.
//
// Threads: Arm and Disarm on the graph's worker (state lock held), Complete
// from any thread. lock_ is a leaf.
class CompletionTracker {
 public:
  // Starts counting for the given renderers (uncounted pointers, compared only)
  // in `generation`. With no renderer at all the run is complete at once: Arm
  // then returns true.
  bool Arm(const std::vector<IBaseFilter *> &renderers, uint64_t generation);
  void Disarm();
  // Records the completion of `filter`; true when it was the last one missing, so
  // the application is to be told now, with *generation the run's.
  bool Complete(const IBaseFilter *filter, uint64_t *generation);

 private:
  std::mutex lock_;
  // --- guarded by lock_
  bool armed_ = false;
  uint64_t generation_ = 0;
  std::vector<const IBaseFilter *> pending_;  // renderers still to complete
};

}  // namespace mediagraph
