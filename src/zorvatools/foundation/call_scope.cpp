#include "zorvatools/foundation/call_scope.hpp"

namespace zorvatools {
namespace {

thread_local CallState* tl_call = nullptr;
thread_local bool tl_owner = false;

}  // namespace

CallState::CallState(CallMonitor* monitor, std::chrono::nanoseconds interval)
    : monitor_(monitor),
      interval_(interval),
      next_check_(std::chrono::steady_clock::now() + interval) {}

bool CallState::check_due() {
  if (monitor_ == nullptr || checking_) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_check_) return false;
  checking_ = true;
  monitor_->progress(stage_, done_, total_);
  if (monitor_->should_stop()) stop();
  checking_ = false;
  // A slow monitor still leaves the call a whole interval of work.
  next_check_ = std::chrono::steady_clock::now() + interval_;
  return stopped();
}

void CallState::note_progress(std::string_view stage, std::uint64_t done, std::uint64_t total) {
  stage_ = stage;
  done_ = done;
  total_ = total;
}

CallScope::CallScope(CallMonitor& monitor, std::chrono::nanoseconds interval)
    : state_(&monitor, interval), outermost_(tl_call == nullptr) {
  if (!outermost_) return;
  tl_call = &state_;
  tl_owner = true;
}

CallScope::~CallScope() {
  if (!outermost_) return;
  tl_call = nullptr;
  tl_owner = false;
}

CallState* current_call() {
  return tl_call;
}

bool owns_current_call() {
  return tl_owner;
}

JoinedCall::JoinedCall(CallState* state) : previous_(tl_call), previous_owned_(tl_owner) {
  // A thread already working for a call (a nested loop run on its own thread) keeps it.
  if (tl_call != nullptr) return;
  tl_call = state;
  tl_owner = false;
}

JoinedCall::~JoinedCall() {
  tl_call = previous_;
  tl_owner = previous_owned_;
}

AlgoResult<void> poll_call() {
  CallState* call = tl_call;
  if (call == nullptr) return {};
  if (call->stopped() || (tl_owner && call->check_due())) {
    return std::unexpected(AlgoError::interrupted());
  }
  return {};
}

AlgoResult<void> poll_call(std::string_view stage, std::uint64_t done, std::uint64_t total) {
  if (tl_call != nullptr && tl_owner) tl_call->note_progress(stage, done, total);
  return poll_call();
}

std::string_view current_stage(std::string_view fallback) {
  // Only the opening thread writes the progress, so only it may read it.
  if (tl_call == nullptr || !tl_owner || tl_call->stage().empty()) return fallback;
  return tl_call->stage();
}

}  // namespace zorvatools
