#include "mediagraph/graph/completion_tracker.h"

#include <algorithm>

namespace mediagraph {

bool CompletionTracker::Arm(const std::vector<IBaseFilter *> &renderers, uint64_t generation) {
  std::lock_guard<std::mutex> hold(lock_);
  generation_ = generation;
  pending_.assign(renderers.begin(), renderers.end());
  armed_ = !pending_.empty();
  return pending_.empty();
}

void CompletionTracker::Disarm() {
  std::lock_guard<std::mutex> hold(lock_);
  armed_ = false;
  pending_.clear();
}

bool CompletionTracker::Complete(const IBaseFilter *filter, uint64_t *generation) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!armed_) return false;
  auto it = std::find(pending_.begin(), pending_.end(), filter);
  if (it == pending_.end()) return false;
  pending_.erase(it);
  if (!pending_.empty()) return false;
  armed_ = false;
  *generation = generation_;
  return true;
}

}  // namespace mediagraph
