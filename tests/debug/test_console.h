// A console for the debugger's tests: what the program reads and writes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "runner/console.h"

// The console of a case: input from a string (a line end reads as CR, as on
// the host console); a board's serial line (bytes there until they run out,
// then the end); keys typed later by the script, Read waiting for them; or
// gone, every write refused.
class TestConsole : public orvane::runner::Console {
 public:
  enum Mode { kString, kLine, kWaiting, kGone };
  TestConsole(Mode mode, std::string in) : mode_(mode), in_(std::move(in)) {}
  void Type(const std::string& text) {
    std::lock_guard<std::mutex> l(m_);
    in_ += text;
    cv_.notify_all();
  }
  int Read() override {
    std::unique_lock<std::mutex> l(m_);
    if (mode_ == kWaiting) cv_.wait(l, [this] { return pos_ < in_.size(); });
    if (mode_ == kGone || pos_ >= in_.size()) return -1;
    const char c = in_[pos_++];
    return mode_ == kString && c == '\n' ? '\r' : static_cast<unsigned char>(c);
  }
  bool Ready() override {
    std::lock_guard<std::mutex> l(m_);
    return mode_ == kString || mode_ == kGone || pos_ < in_.size();
  }
  bool Ended() override { return mode_ == kLine && pos_ >= in_.size(); }
  bool Write(const uint8_t* b, size_t n) override {
    std::lock_guard<std::mutex> l(m_);
    if (mode_ == kGone) return error = "gone", false;
    out.append(reinterpret_cast<const char*>(b), n);
    return true;
  }
  std::string Out() {
    std::lock_guard<std::mutex> l(m_);
    return out;
  }
  std::string out;  // what was written; Out() while another thread may write

 private:
  const Mode mode_;
  std::mutex m_;
  std::condition_variable cv_;
  std::string in_;
  size_t pos_ = 0;
};
