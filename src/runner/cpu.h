// The Z80 as the CP/M machine sees it: 64 KiB of RAM, with a guard against
// writes to the system's own bytes that a machine may set, and a CPU that runs one whole instruction
// at a time. The CPU behind the interface is libz80ex (MakeZ80Cpu); tests can
// put any other behind it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "profile/observer.h"

namespace orvane::runner {

struct Memory {
  uint8_t bytes[65536] = {};
  // Writes to [0, guardLow) and [guardHigh, FFFFH] are refused: the first such
  // address is kept in refusedWrite (or -1) and the byte stays as it was.
  uint16_t guardLow = 0;
  uint32_t guardHigh = 0x10000;
  int32_t refusedWrite = -1;
  // Where the system's entries begin: an instruction that ends with PC from
  // here up (or at 0000H or 0005H) is handed to the machine.
  uint32_t systemFrom = 0x10000;
  // While set, every byte about to change through Write or SetWord is first
  // noted here as (address << 8 | old value): what a debugger needs to undo it.
  std::vector<uint32_t>* log = nullptr;

  uint8_t Read(uint16_t a) const { return bytes[a]; }
  void Write(uint16_t a, uint8_t v) {
    if (a >= guardLow && a < guardHigh) {
      if (log) log->push_back(uint32_t{a} << 8 | bytes[a]);
      bytes[a] = v;
    } else if (refusedWrite < 0)
      refusedWrite = a;
  }
  uint16_t Word(uint16_t a) const { return static_cast<uint16_t>(bytes[a] | bytes[uint16_t(a + 1)] << 8); }
  // The system's own writes, past the guard.
  void SetWord(uint16_t a, uint16_t v) {
    if (log) {
      log->push_back(uint32_t{a} << 8 | bytes[a]);
      log->push_back(uint32_t{uint16_t(a + 1)} << 8 | bytes[uint16_t(a + 1)]);
    }
    bytes[a] = static_cast<uint8_t>(v);
    bytes[uint16_t(a + 1)] = static_cast<uint8_t>(v >> 8);
  }
};

// Whether an instruction that ends with PC at pc has entered the system: the
// warm boot at 0000H, the BDOS at 0005H, or the system's top of memory.
inline bool AtSystem(const Memory& m, uint16_t pc) {
  return static_cast<uint16_t>(pc - 1) >= m.systemFrom - 1 || pc == 0x0005;
}

enum class Reg { AF, BC, DE, HL, IX, IY, SP, PC, AF2, BC2, DE2, HL2, IR };

class Cpu {
 public:
  virtual ~Cpu() = default;
  // Runs one instruction with its prefixes; returns its T-states.
  virtual int Step() = 0;
  virtual bool Halted() const = 0;
  virtual uint16_t Get(Reg r) const = 0;
  virtual void Set(Reg r, uint16_t value) = 0;

  // Runs whole instructions until budget T-states have passed, or one ends
  // AtSystem, has had a write refused or has halted. Returns the T-states,
  // adds the instructions to count and leaves the last one's address in last.
  // This one steps; a CPU may do the same faster.
  virtual uint64_t Run(const Memory& m, uint64_t budget, uint64_t& count, uint16_t& last) {
    uint64_t t = 0;
    for (;;) {
      last = Get(Reg::PC);
      t += static_cast<uint64_t>(Step());
      ++count;
      const uint16_t pc = Get(Reg::PC);
      if (t >= budget || AtSystem(m, pc) || m.refusedWrite >= 0 || Halted()) return t;
    }
  }
  // Run, telling the observer of every instruction.
  virtual uint64_t RunObserved(const Memory& m, uint64_t budget, uint64_t& count, uint16_t& last,
                               profile::ExecutionObserver& observer) {
    uint64_t t = 0;
    for (;;) {
      last = Get(Reg::PC);
      const uint8_t op = m.bytes[last], op2 = m.bytes[static_cast<uint16_t>(last + 1)];
      const int n = Step();
      t += static_cast<uint64_t>(n);
      ++count;
      const uint16_t pc = Get(Reg::PC);
      observer.Executed(last, pc, static_cast<uint32_t>(n), op, op2);
      if (t >= budget || AtSystem(m, pc) || m.refusedWrite >= 0 || Halted()) return t;
    }
  }
};

// libz80ex on the given memory; IN reads FFH, OUT goes nowhere.
std::unique_ptr<Cpu> MakeZ80Cpu(Memory& memory);

// The instruction at addr as text ("LD DE,#010D"); returns its length in bytes.
int Disassemble(const Memory& memory, uint16_t addr, std::string& text);

}  // namespace orvane::runner
