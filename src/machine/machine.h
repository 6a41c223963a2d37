// A machine a debugger drives one step at a time: the CP/M machine
// (runner/debug_machine.h) or a Z80 board (board/debug_board.h).
//
// A step is an instruction with its prefixes, or an interrupt taken. The
// debugger keeps the history: it saves and restores the machine whole (the
// CPU's context and everything the machine keeps beside the memory: the
// BDOS's state, the devices), and the memory's changes are noted in
// memory().log. What the machine reads from outside (console input) is
// journalled by the machine, so a step run again after a step back reads what
// it read the first time; InputMark and SeekInput move in that journal.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "runner/console.h"
#include "runner/cpu.h"
#include "runner/machine.h"

namespace orvane::machine {

// The console as a program being debugged reads it: every key read is kept,
// and at says how many have been, a place Seek goes back to.
class InputJournal : public runner::Console {
 public:
  virtual uint64_t at() const = 0;
  virtual void Seek(uint64_t at) = 0;
  // Forgets what was read before at: nothing goes back past it.
  virtual void Forget(uint64_t at) = 0;
  virtual size_t Bytes() const = 0;
};

class Machine : public runner::Cpu {
 public:
  // What Serve made of a step that needed it.
  enum class Trap { kNone, kEnd, kStop };

  runner::Memory& memory() { return *memory_; }
  const runner::Memory& memory() const { return *memory_; }
  virtual uint16_t Pc() const = 0;
  virtual uint16_t Sp() const = 0;

  // Whether the last step was an interrupt taken (its return address pushed,
  // PC at the handler) rather than an instruction.
  virtual bool Interrupted() const { return false; }
  // After a step from `from` that left PC at pc: whether Serve must look at
  // it (a system call, a refused write, a HALT, a fault, an interrupt).
  virtual bool NeedsService(uint16_t from, uint16_t pc) const = 0;
  // Serves such a step: a BDOS or BIOS call is made and returned from
  // (kNone), the run ends (kEnd, EndStatus) or stops on a fault (kStop,
  // stopStatus ...). Every byte it changes is noted in memory().log.
  virtual Trap Serve(uint16_t from) = 0;
  // A call at pc that waits for a key (the debugger waits for one first, so
  // that a pause can stop it before it reads).
  virtual bool WaitsForKey(uint16_t pc) const = 0;
  virtual int stopStatus() const = 0;
  virtual std::string stopMessage() const = 0;  // without the source
  virtual uint16_t stopAddress() const = 0;
  virtual int EndStatus() const = 0;
  // The T-states the machine itself counts (a call's time is added there).
  virtual uint64_t tstates() const = 0;

  // The whole state but the memory, as StateSize bytes. The CPU's context
  // is copied whole (libz80ex keeps HALT, MEMPTR and a prefix in progress
  // there, beside the registers).
  virtual size_t StateSize() const = 0;
  virtual void Save(uint8_t* out) const = 0;
  virtual void Load(const uint8_t* in) = 0;
  std::vector<uint8_t> Save() const {
    std::vector<uint8_t> v(StateSize());
    Save(v.data());
    return v;
  }
  // What the CP/M machine's BDOS keeps between calls (a board has none).
  virtual runner::Machine::SystemState SaveSystem() const { return {}; }
  virtual void RestoreSystem(const runner::Machine::SystemState&) {}

  // Where the console input journal stands, and a move in it.
  virtual uint64_t InputMark() const = 0;
  virtual void SeekInput(uint64_t mark) = 0;
  // Nothing goes back before mark; what the journal holds, in bytes.
  virtual void ForgetInput(uint64_t mark) = 0;
  virtual size_t InputBytes() const = 0;
  // The user changed the state: what was journalled after the present
  // position will not be run again.
  virtual void Rebased() {}
  // Closes the files the program has open (a step back may change them).
  virtual void CloseFiles() {}

 protected:
  runner::Memory* memory_ = nullptr;
};

}  // namespace orvane::machine
