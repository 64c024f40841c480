#include "mediagraph/graph/completion_tracker.h"

#include <algorithm>

namespace mediagraph {

bool CompletionTracker::Arm(const std::vector<IBaseFilter *> &renderers) {
  std::lock_guard<std::mutex> hold(lock_);
  pending_.assign(renderers.begin(), renderers.end());
  armed_ = !pending_.empty();
  return pending_.empty();
}

void CompletionTracker::Disarm() {
  std::lock_guard<std::mutex> hold(lock_);
  armed_ = false;
  pending_.clear();
}

bool CompletionTracker::Complete(const IBaseFilter *filter) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!armed_) return false;
  auto it = std::find(pending_.begin(), pending_.end(), filter);
  if (it == pending_.end()) return false;
  pending_.erase(it);
  if (!pending_.empty()) return false;
  armed_ = false;
  return true;
}

}  // namespace mediagraph
