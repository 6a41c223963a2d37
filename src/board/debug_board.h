// A Z80 board as a debugger drives it: one step an instruction or an
// interrupt taken, the whole state saved as bytes, and the console line
// journalled, so that a step run again after a step back sees the line as
// it was the first time.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "board/board.h"
#include "machine/machine.h"
#include "runner/console.h"

namespace orvane::board {

// The console line of a board being debugged. Every answer the line gave
// (a byte there or not, the byte, the end of input, a byte sent) is kept in
// order; a step run again takes its answers from there, and sends nothing
// again. Past the kept answers the real console answers.
class JournalLine final : public SerialLine {
 public:
  explicit JournalLine(runner::Console& real) : real_(real) {}
  bool Ready() override;
  int Read() override;
  bool Ended() override;
  void Write(uint8_t byte) override;
  std::string Flush() override { return real_.Flush() ? "" : real_.error; }
  bool QuitRequested() override { return real_.QuitRequested(); }
  uint64_t at() const { return at_; }
  void Seek(uint64_t at) { at_ = at; }
  // Forgets the answers before at: nothing goes back past it.
  void Forget(uint64_t at) {
    while (base_ < at && !answers_.empty()) {
      answers_.pop_front();
      ++base_;
    }
  }
  size_t Bytes() const { return answers_.size() * sizeof(int32_t) + kept_.size(); }
  // Nothing goes back before the present place, and what comes after it
  // will not be run again: the answers go, the bytes read among those after
  // it are kept to be read again.
  void Truncate();

 private:
  // The next kept answer, or live kept as the next one, of its kind.
  int32_t Answer(int32_t kind, int32_t live);
  runner::Console& real_;
  bool Replaying() const { return at_ < base_ + answers_.size(); }
  std::deque<int32_t> answers_;  // answers_[0] is answer number base_
  std::deque<uint8_t> kept_;
  uint64_t base_ = 0, at_ = 0;
};

class DebugBoard final : public machine::Machine {
 public:
  // The console must outlive it.
  DebugBoard(const Profile& profile, runner::Console& console, BoardOptions options);
  Board& board() { return board_; }

  int Step() override {
    const uint64_t before = board_.tstates();
    int t = 0;
    interrupted_ = board_.Step(t) != Board::StepKind::kInstruction;
    return static_cast<int>(board_.tstates() - before);
  }
  bool Halted() const override { return board_.Halted(); }
  uint16_t Get(runner::Reg r) const override { return board_.Get(r); }
  void Set(runner::Reg r, uint16_t v) override { board_.Set(r, v); }
  uint16_t Pc() const override { return board_.Get(runner::Reg::PC); }
  uint16_t Sp() const override { return board_.Get(runner::Reg::SP); }

  bool Interrupted() const override { return interrupted_; }
  bool NeedsService(uint16_t, uint16_t) const override { return interrupted_ || board_.stopStatus() != 0; }
  Trap Serve(uint16_t) override { return board_.stopStatus() != 0 ? Trap::kStop : Trap::kNone; }
  bool WaitsForKey(uint16_t) const override { return false; }
  int stopStatus() const override { return board_.stopStatus(); }
  std::string stopMessage() const override { return board_.stopMessage(); }
  uint16_t stopAddress() const override { return board_.stopAddress(); }
  int EndStatus() const override { return 0; }
  uint64_t tstates() const override { return board_.tstates(); }

  size_t StateSize() const override { return board_.StateSize(); }
  void Save(uint8_t* out) const override { board_.SaveState(out); }
  void Load(const uint8_t* in) override {
    board_.LoadState(in);
    interrupted_ = false;
  }
  using machine::Machine::Save;

  uint64_t InputMark() const override { return line_.at(); }
  void SeekInput(uint64_t mark) override { line_.Seek(mark); }
  void ForgetInput(uint64_t mark) override { line_.Forget(mark); }
  size_t InputBytes() const override { return line_.Bytes(); }
  void Rebased() override { line_.Truncate(); }

 private:
  JournalLine line_;
  Board board_;
  bool interrupted_ = false;
};

}  // namespace orvane::board
