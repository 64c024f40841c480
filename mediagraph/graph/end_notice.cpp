#include "mediagraph/graph/end_notice.h"

#include <system_error>

#include <utility>

#include "platform/host/background_thread.h"
#include "platform/host/thread_name.h"
#include "platform/win32/sync.h"

namespace mediagraph {

EndNotice::EndNotice(Post post)
    : post_(std::move(post)), fired_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

EndNotice::~EndNotice() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
    if (cookie_ != 0 && clock_ != nullptr) clock_->Unadvise(cookie_);
    cookie_ = 0;
    if (fired_ != nullptr) SetEvent(fired_);
  }
  if (waiter_.joinable()) waiter_.join();
  if (fired_ != nullptr) CloseHandle(fired_);
}

void EndNotice::Run(IReferenceClock *clock, REFERENCE_TIME start) {
  std::lock_guard<std::mutex> hold(lock_);
  clock_ = clock;
  start_ = start;
  running_ = true;
  WaitLocked();
}

void EndNotice::Pause() {
  std::lock_guard<std::mutex> hold(lock_);
  running_ = false;
  WaitLocked();
}

void EndNotice::Cancel() {
  std::lock_guard<std::mutex> hold(lock_);
  pending_ = false;
  ++generation_;
  WaitLocked();
}

void EndNotice::Stop() {
  std::lock_guard<std::mutex> hold(lock_);
  pending_ = false;
  ++generation_;
  WaitLocked();
  // A completion before the next Run waits for it, not against this run's start.
  running_ = false;
  clock_ = nullptr;
  start_ = 0;
}

uint64_t EndNotice::Generation() const {
  std::lock_guard<std::mutex> hold(lock_);
  return generation_;
}

void EndNotice::Due(REFERENCE_TIME end, uint64_t generation) {
  std::lock_guard<std::mutex> hold(lock_);
  if (generation != generation_) return;
  pending_ = true;
  end_ = end;
  WaitLocked();
}

void EndNotice::DueNow(uint64_t generation) {
  std::lock_guard<std::mutex> hold(lock_);
  if (generation == generation_ && !closing_) post_();
}

bool EndNotice::Pending() const {
  std::lock_guard<std::mutex> hold(lock_);
  return pending_;
}

void EndNotice::WaitLocked() {
  if (cookie_ != 0 && clock_ != nullptr) clock_->Unadvise(cookie_);
  cookie_ = 0;
  if (!pending_ || !running_ || closing_) return;
  PostIfDueLocked();
  if (!pending_ || clock_ == nullptr || fired_ == nullptr) return;
  if (FAILED(clock_->AdviseTime(start_, end_, reinterpret_cast<HEVENT>(fired_), &cookie_))) {
    // No way to wait: late rather than never.
    cookie_ = 0;
    pending_ = false;
    post_();
    return;
  }
  if (waiter_.joinable()) return;
  try {
    waiter_ = std::thread(&EndNotice::Serve, this);
  } catch (const std::system_error &) {
    // No thread to wait on: late rather than never.
    clock_->Unadvise(cookie_);
    cookie_ = 0;
    pending_ = false;
    post_();
  }
}

void EndNotice::PostIfDueLocked() {
  if (!pending_ || !running_) return;
  REFERENCE_TIME now = 0;
  if (clock_ != nullptr && SUCCEEDED(clock_->GetTime(&now)) && now < start_ + end_) return;
  pending_ = false;
  post_();
}

void EndNotice::Serve() {
  NameThisThread("cl-end");
  RunInBufferedTurns();
  GiveWayToStarter();
  for (;;) {
    WaitForSingleObject(fired_, INFINITE);
    std::lock_guard<std::mutex> hold(lock_);
    if (closing_) return;
    // A signal left over from an advise that was replaced finds its time not
    // come yet and changes nothing; the replacing advise signals again.
    if (cookie_ == 0) continue;
    REFERENCE_TIME now = 0;
    if (clock_ == nullptr || FAILED(clock_->GetTime(&now)) || now < start_ + end_) continue;
    cookie_ = 0;  // one-shot: fired
    PostIfDueLocked();
  }
}

}  // namespace mediagraph
