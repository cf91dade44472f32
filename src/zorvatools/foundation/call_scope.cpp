#include "zorvatools/foundation/call_scope.hpp"

#include <algorithm>
#include <cmath>

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
  monitor_->progress(stage_, done_, total_, fraction_);
  if (monitor_->should_stop()) stop();
  checking_ = false;
  // A slow monitor still leaves the call a whole interval of work.
  next_check_ = std::chrono::steady_clock::now() + interval_;
  return stopped();
}

void CallState::note_progress(std::string_view stage, std::uint64_t done, std::uint64_t total) {
  if (checking_) return;  // engine work of the monitor's own is no part of this call
  stage_ = stage;
  done_ = done;
  total_ = total;
  if (total == 0) return;
  const double share = static_cast<double>(std::min(done, total)) / static_cast<double>(total);
  fraction_ = std::max(fraction_, part_from_ + (part_to_ - part_from_) * share);
}

CallState* CallState::progress_owner() {
  return tl_owner && !tl_call->checking_ ? tl_call : nullptr;
}

void CallState::start_part(double from, double to) {
  part_from_ = from;
  part_to_ = to;
  fraction_ = std::max(fraction_, from);
}

ProgressPart::ProgressPart(double from, double to) : call_(CallState::progress_owner()) {
  if (call_ == nullptr) return;
  outer_from_ = call_->part_from_;
  outer_to_ = call_->part_to_;
  const double width = outer_to_ - outer_from_;
  const double low = std::clamp(from, 0.0, 1.0);
  call_->start_part(outer_from_ + width * low, outer_from_ + width * std::clamp(to, low, 1.0));
}

ProgressPart::~ProgressPart() {
  if (call_ == nullptr) return;
  call_->fraction_ = std::max(call_->fraction_, call_->part_to_);
  call_->part_from_ = outer_from_;
  call_->part_to_ = outer_to_;
}

ProgressSteps::ProgressSteps(std::span<const double> work)
    : call_(CallState::progress_owner()), bounds_(work.size() + 1, 0.0) {
  auto weight = [](double w) { return std::isfinite(w) && w > 0 ? w : 0.0; };
  double total = 0;
  for (const double w : work) total += weight(w);
  double sum = 0;
  for (std::size_t n = 0; n < work.size(); ++n) {
    sum += total > 0 ? weight(work[n]) : 1.0;
    bounds_[n + 1] = sum / (total > 0 ? total : static_cast<double>(work.size()));
  }
  bounds_.back() = 1.0;  // no rounding short of the end
  if (call_ == nullptr) return;
  outer_from_ = call_->part_from_;
  outer_to_ = call_->part_to_;
}

void ProgressSteps::enter(std::size_t first, std::size_t last) {
  if (call_ == nullptr) return;
  if (running_) call_->fraction_ = std::max(call_->fraction_, call_->part_to_);
  running_ = true;
  const std::size_t steps = bounds_.size() - 1;
  const double width = outer_to_ - outer_from_;
  call_->start_part(outer_from_ + width * bounds_[std::min(first, steps)],
                    outer_from_ + width * bounds_[std::min(last + 1, steps)]);
}

ProgressSteps::~ProgressSteps() {
  if (call_ == nullptr) return;
  if (running_) call_->fraction_ = std::max(call_->fraction_, call_->part_to_);
  call_->part_from_ = outer_from_;
  call_->part_to_ = outer_to_;
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
