#include "debug/history.h"

namespace orvane::debug {

void ShadowStack::Make(const Op& op) {
  if (at_ == log_.size()) log_.push_back(op);
  ++at_;
  if (op.push)
    frames_.push_back(op.s);
  else
    frames_.pop_back();
}

void ShadowStack::Push(const Shadow& s) {
  while (!frames_.empty() && frames_.back().slot <= s.slot) Make({frames_.back(), false});
  Make({s, true});
}

void ShadowStack::UndoTo(uint64_t mark) {
  while (Mark() > mark && at_ > 0) {
    const Op& op = log_[--at_];
    if (op.push)
      frames_.pop_back();
    else
      frames_.push_back(op.s);
  }
}

void ShadowStack::Forget(uint64_t mark) {
  while (base_ < mark && at_ > 0) {
    log_.pop_front();
    ++base_;
    --at_;
  }
}

void ShadowStack::ClearLog() {
  base_ += at_;
  log_.clear();
  at_ = 0;
}

int InputLog::Read() {
  if (at_ < end()) return keys_[static_cast<size_t>(at_++ - base_)];
  const int c = real_->Read();
  if (c >= 0) {
    keys_.push_back(static_cast<uint8_t>(c));
    ++at_;
  }
  return c;
}

bool InputLog::Write(const uint8_t* bytes, size_t n) {
  if (real_->Write(bytes, n)) return true;
  error = real_->error;
  return false;
}

bool InputLog::Flush() {
  if (real_->Flush()) return true;
  error = real_->error;
  return false;
}

void InputLog::Forget(uint64_t at) {
  while (base_ < at && !keys_.empty()) {
    keys_.pop_front();
    ++base_;
  }
}

void History::Clear() {
  intervals.clear();
  fine.Clear();
  stack.ClearLog();
  // The keys stepped back over are read again from here on.
  input.Forget(input.at());
  calls_.clear();
  oldWrites_ = 0;
  callBytes_ = 0;
}

Interval& History::Begin(uint64_t pos, uint64_t t, std::vector<uint8_t> cpu, const runner::Machine::SystemState& sys) {
  if (!intervals.empty()) {
    // Done growing: it keeps what it holds, no more.
    intervals.back().writes.shrink_to_fit();
    oldWrites_ += intervals.back().writes.size();
  }
  Interval& i = intervals.emplace_back();
  i.first = pos;
  i.t = t;
  i.cpu = std::move(cpu);
  i.shadow = stack.Mark();
  i.input = input.at();
  i.sys = sys;
  i.writes.reserve(1024);
  return i;
}

size_t History::Trim(uint64_t live, size_t cur) {
  size_t dropped = 0;
  while (intervals.size() > 2 && cur - dropped > 1) {
    const bool enough = live - intervals[1].first >= kKeep;
    if (!enough && oldWrites_ * sizeof(uint32_t) + callBytes_ + stack.Bytes() + input.Bytes() <= kMaxBytes) break;
    oldWrites_ -= intervals.front().writes.size();
    if (fine.first == intervals.front().first) fine.Clear();
    intervals.pop_front();
    ++dropped;
    EraseCalls(calls_.begin(), calls_.lower_bound(intervals.front().first));
    stack.Forget(intervals.front().shadow);
    input.Forget(intervals.front().input);
  }
  return dropped;
}

void History::Undo(runner::Memory& memory, size_t interval, size_t from, size_t to) const {
  const std::vector<uint32_t>& w = intervals[interval].writes;
  for (size_t i = to; i-- > from;) memory.bytes[w[i] >> 8] = static_cast<uint8_t>(w[i]);
}

void History::AddCall(uint64_t at, CallRecord record) {
  callBytes_ += Bytes(record);
  CallRecord& r = calls_[at];
  if (!r.cpuAfter.empty()) callBytes_ -= Bytes(r);
  r = std::move(record);
}

void History::EraseCalls(std::map<uint64_t, CallRecord>::iterator from, std::map<uint64_t, CallRecord>::iterator to) {
  for (auto i = from; i != to; ++i) callBytes_ -= Bytes(i->second);
  calls_.erase(from, to);
}

}  // namespace orvane::debug
