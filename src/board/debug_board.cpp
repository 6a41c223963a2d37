#include "board/debug_board.h"

namespace orvane::board {

namespace {

// An answer kept: its kind in the high bits, the value in the low ones.
enum Kind : int32_t { kReady = 1 << 16, kRead = 2 << 16, kEnded = 3 << 16, kSent = 4 << 16 };
constexpr int32_t kKind = ~0xFFFF;

}  // namespace

int32_t JournalLine::Answer(int32_t kind, int32_t live) {
  if (Replaying()) return answers_[static_cast<size_t>(at_++ - base_)] & 0xFFFF;
  answers_.push_back(kind | (live & 0xFFFF));
  ++at_;
  return live & 0xFFFF;
}

bool JournalLine::Ready() {
  if (Replaying()) return Answer(kReady, 0) != 0;
  return Answer(kReady, !kept_.empty() || real_.Ready()) != 0;
}

int JournalLine::Read() {
  int32_t c = 0xFFFF;
  if (Replaying()) {
    c = Answer(kRead, 0);
  } else if (!kept_.empty()) {
    c = Answer(kRead, kept_.front());
    kept_.pop_front();
  } else {
    const int r = real_.Read();
    c = Answer(kRead, r < 0 ? 0xFFFF : r & 0xFF);
  }
  return c == 0xFFFF ? -1 : c;
}

bool JournalLine::Ended() {
  if (Replaying()) return Answer(kEnded, 0) != 0;
  return Answer(kEnded, kept_.empty() && real_.Ended()) != 0;
}

void JournalLine::Write(uint8_t byte) {
  if (Replaying()) {
    ++at_;  // sent the first time
    return;
  }
  real_.Write(&byte, 1);
  Answer(kSent, byte);
}

void JournalLine::Truncate() {
  std::deque<uint8_t> again;
  for (size_t i = static_cast<size_t>(at_ - base_); i < answers_.size(); ++i)
    if ((answers_[i] & kKind) == kRead && (answers_[i] & 0xFFFF) != 0xFFFF)
      again.push_back(static_cast<uint8_t>(answers_[i]));
  kept_.insert(kept_.begin(), again.begin(), again.end());
  answers_.resize(static_cast<size_t>(at_ - base_));
  Forget(at_);
}

DebugBoard::DebugBoard(const Profile& profile, runner::Console& console, BoardOptions options)
    : line_(console), board_(profile, line_, std::move(options)) {
  memory_ = &board_.memory();
}

}  // namespace orvane::board
