// The recorded history of a debug session, what stepping back works from:
// every KInterval instructions a checkpoint (the whole CPU context, the
// T-states, the shadow call stack, the BDOS's state), every byte written with
// its old value (each interval's write log), and for every BDOS or BIOS call
// what it did (the context after it and the bytes it wrote), since a call
// cannot be run twice. Going back restores the checkpoint before the target,
// undoing the writes since, and runs forward again to the target, keeping the
// state before each instruction of that stretch (the fine stretch), so that
// further steps back inside it cost nothing. Going forward through recorded
// history runs the instructions again and replays the calls from the record.
// Beside them: the shadow call stack as a log of its changes, the keys read
// (InputLog; every checkpoint and call record keeps how many) and what the
// calls did to the drive's folder (FileJournal, by instruction).
//
// The session runs the instructions; this keeps what they leave and decides
// what is kept.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "runner/console.h"
#include "runner/cpu.h"
#include "runner/disk.h"
#include "runner/machine.h"

namespace orvane::debug {

constexpr uint64_t kInterval = 2048;     // instructions between checkpoints
constexpr uint64_t kKeep = 1100000;      // instructions of history kept at least ...
constexpr size_t kMaxBytes = 48u << 20;  // ... unless the history grows past this many bytes

// A return address pushed by a CALL or RST, or by an interrupt taken: where
// it lies, where it returns to, the instruction that pushed it.
struct Shadow {
  uint16_t slot, ret, site;
  bool interrupt = false;  // pushed by an interrupt taken before site
};

// The shadow call stack: the return addresses pushed by CALL and RST,
// innermost last. Each change is logged, so the stack as it was at an earlier
// instruction is had by undoing the changes made since (a checkpoint keeps
// only a mark into the log), however deep the program calls.
class ShadowStack {
 public:
  const std::vector<Shadow>& frames() const { return frames_; }
  // A return address pushed at s.slot: the entries at or below that slot
  // are gone first (their place on the stack is used again). Run again
  // through recorded history, a push makes the changes the log holds.
  void Push(const Shadow& s);
  // How many changes have been made: a mark to undo back to.
  uint64_t Mark() const { return base_ + at_; }
  void UndoTo(uint64_t mark) {
    if (Mark() > mark) Undo(mark);
  }
  // Forgets the changes after the mark, undone: what is made next is new.
  void Truncate() { log_.resize(at_); }
  // Forgets the changes before mark: nothing goes back past it.
  void Forget(uint64_t mark);
  // Forgets the log (the frames stay), or everything.
  void ClearLog();
  void Clear() {
    ClearLog();
    frames_.clear();
  }
  size_t Bytes() const { return log_.size() * sizeof(Op); }

 private:
  struct Op {
    Shadow s;
    bool push;  // else a pop of s
  };
  void Make(const Op& op);
  void Undo(uint64_t mark);
  std::vector<Shadow> frames_;
  std::deque<Op> log_;
  uint64_t base_ = 0;  // the changes forgotten before log_[0]
  size_t at_ = 0;      // log_[0, at_) are made
};

// The console as the program being debugged has it: every key read from the
// real console (a file, a terminal, the window) is kept, so that a key read by
// a call that was stepped back over is read again when the program goes on,
// however differently. Output goes straight through.
class InputLog final : public machine::InputJournal {
 public:
  void Bind(runner::Console* real) { real_ = real; }
  int Read() override;
  bool Ready() override { return at_ < end() || real_->Ready(); }
  // The next key without taking it: a kept one first (a Ctrl+S looked for
  // during output sees what a run after a step back will read).
  int Peek() override { return at_ < end() ? keys_[static_cast<size_t>(at_ - base_)] : real_->Peek(); }
  bool Ended() override { return at_ == end() && real_->Ended(); }
  bool QuitRequested() override { return real_->QuitRequested(); }
  bool Write(const uint8_t* bytes, size_t n) override;
  bool Flush() override;
  // How many keys have been read: a place to go back to.
  uint64_t at() const override { return at_; }
  void Seek(uint64_t at) override { at_ = at; }
  // Forgets the keys before at: nothing goes back past it.
  void Forget(uint64_t at) override;
  size_t Bytes() const override { return keys_.size(); }

 private:
  uint64_t end() const { return base_ + keys_.size(); }
  runner::Console* real_ = nullptr;
  std::deque<uint8_t> keys_;
  uint64_t base_ = 0, at_ = 0;  // keys_[0] is the base_-th key read
};

// What the BDOS did to the drive's folder, each change with what it replaced
// and what it made, so that the folder can be put back as it was at any
// instruction of the history and made again going forward.
class FileJournal final : public runner::DiskJournal {
 public:
  // A change larger than this is not kept: the history before it is cut.
  static constexpr size_t kMaxChange = 16u << 20;

  // The instruction whose call makes the changes told from now on.
  uint64_t now = 0;
  void MakingFolder(int dir, int user) override;
  void Opening(int dir, int user, const std::string& host, runner::Disk::How how) override;
  void Writing(int dir, int user, const std::string& host, int fd, uint32_t record, const uint8_t* in) override;
  void Removing(int dir, int user, const std::string& host) override;
  void Renaming(int dir, int user, const std::string& from, const std::string& to) override;
  void SettingReadOnly(int dir, int user, const std::string& host, bool readOnly) override;

  // Puts the folder as it was with pos instructions run: undoes the changes
  // of instructions pos and later, makes those before it again. True when
  // it changed anything.
  bool Sync(uint64_t pos) {
    // Mostly there is nothing to do: every change is made, all before pos.
    if (applied_ == changes_.size() && (applied_ == 0 || changes_.back().at < pos)) return false;
    return Move(pos);
  }
  // Forgets the changes before instruction pos: nothing goes back past them.
  void Forget(uint64_t pos);
  // Forgets the changes of instruction pos and later, as they stand.
  void Drop(uint64_t pos);
  void Clear();
  size_t Bytes() const { return bytes_; }
  // Since the last call: a change too large to keep, named ("deleting
  // BIG.DAT, 20,971,520 bytes"); empty when none.
  std::string TakeCut();
  // The last change that could not be undone or made again.
  std::string error;

 private:
  struct Change {
    enum Kind { kMake, kEmpty, kWrite, kRemove, kRename, kMode, kFolder } kind = kWrite;
    uint64_t at = 0;
    int user = 0;  // whose folder holds host (kFolder: the folder made)
    std::string host, to;
    uint32_t record = 0;
    std::vector<uint8_t> old, now;  // kWrite: the record's bytes; kEmpty, kRemove: the whole file
    int64_t oldSize = 0;
    unsigned oldMode = 0, newMode = 0;
  };
  void Add(Change c);
  bool Move(uint64_t pos);
  bool Content(int dir, const std::string& host, Change& c, const char* doing);
  void Undo(const Change& c);
  void Redo(const Change& c);
  // Undo and Redo in the folder dir that holds c's file.
  void UndoIn(int dir, const Change& c);
  void RedoIn(int dir, const Change& c);
  void Failed(const char* what, const std::string& host);
  int dir_ = -1;
  std::deque<Change> changes_;
  size_t applied_ = 0;  // changes_[0, applied_) are in the folder
  size_t bytes_ = 0;
  std::string cut_;
};

// A checkpoint and the writes made from it on.
struct Interval {
  uint64_t first = 0, t = 0;  // the first instruction's number, the T-states before it
  std::vector<uint8_t> cpu;
  uint64_t shadow = 0;  // the shadow stack's mark
  uint64_t input = 0;   // the keys read
  runner::Machine::SystemState sys;
  std::vector<uint32_t> writes;  // (address << 8 | old) of every byte written from `first` on
};

// What a BDOS or BIOS call did, to replay it.
struct CallRecord {
  std::vector<uint8_t> cpuAfter;
  uint64_t tAfter = 0, inputAfter = 0;
  std::vector<std::pair<uint16_t, uint8_t>> writes;  // in order, with the values written
  runner::Machine::SystemState sys;
};

// The states before each instruction of one interval, from its first on.
struct Fine {
  uint64_t first = UINT64_MAX;
  size_t n = 0;
  std::vector<uint8_t> cpu;
  std::vector<size_t> woff;
  std::vector<uint64_t> t;
  std::vector<uint64_t> shadow;  // the shadow stack's marks
  std::vector<uint64_t> input;   // the keys read
  std::vector<runner::Machine::SystemState> sys;
  void Clear() {
    first = UINT64_MAX;
    n = 0;
  }
  bool Holds(uint64_t intervalFirst, uint64_t target) const { return first == intervalFirst && target - first < n; }
};

class History {
 public:
  std::deque<Interval> intervals;
  Fine fine;
  ShadowStack stack;
  InputLog input;
  FileJournal files;

  // Forgets everything recorded (the shadow stack's frames and the keys not
  // read yet stay).
  void Clear();
  // A new interval from instruction pos on, the last.
  Interval& Begin(uint64_t pos, uint64_t t, std::vector<uint8_t> cpu, const runner::Machine::SystemState& sys,
                  uint64_t input);
  // The machine whose console input journal the checkpoints mark.
  machine::Machine* machine = nullptr;
  // Drops the oldest intervals beyond what is kept, with live the most
  // instructions ever run and cur the interval the program stands in (never
  // dropped, nor the one before it); returns how many went.
  size_t Trim(uint64_t live, size_t cur);
  // Puts back the old bytes of writes [from, to) of an interval, last first.
  void Undo(runner::Memory& memory, size_t interval, size_t from, size_t to) const;
  // The oldest instruction still recorded.
  uint64_t first() const { return intervals.empty() ? 0 : intervals.front().first; }

  // The call made by instruction number at, or null.
  const CallRecord* Call(uint64_t at) const {
    const auto it = calls_.find(at);
    return it == calls_.end() ? nullptr : &it->second;
  }
  void AddCall(uint64_t at, CallRecord record);
  // Forgets the calls made by instruction number from and later.
  void EraseCallsFrom(uint64_t from) { EraseCalls(calls_.lower_bound(from), calls_.end()); }

 private:
  static size_t Bytes(const CallRecord& r) {
    return sizeof(CallRecord) + 64 + r.cpuAfter.size() + r.writes.size() * sizeof(r.writes[0]);
  }
  void EraseCalls(std::map<uint64_t, CallRecord>::iterator from, std::map<uint64_t, CallRecord>::iterator to);
  std::map<uint64_t, CallRecord> calls_;  // by the number of the instruction that made them
  size_t oldWrites_ = 0;                  // the writes of every interval but the last
  size_t callBytes_ = 0;                  // what the call records take
};

}  // namespace orvane::debug
