// What a machine tells whoever watches its run, one instruction at a time:
// where it started, where PC went, the T-states it took and its first two
// opcode bytes (read before it ran). The CP/M machine and the board machine
// call it alike; the profiler and the coverage recorder are built on it.
#pragma once
#include <cstdint>

namespace orvane::profile {

class ExecutionObserver {
 public:
  virtual ~ExecutionObserver() = default;
  // One instruction, prefixes and all; an LDIR that repeats is one call per
  // byte.
  virtual void Executed(uint16_t pc, uint16_t next, uint32_t tstates, uint8_t op, uint8_t op2) = 0;
  // A system call the machine served itself at entry (the CP/M BDOS and
  // BIOS), no Z80 instruction run: it took tstates (its return) and went
  // back to next, as a RET there would.
  virtual void Served(uint16_t entry, uint16_t next, uint32_t tstates) = 0;
  // An interrupt was taken before the instruction at pc: the CPU spent
  // tstates and went on at handler. It counts as a call from pc.
  virtual void Interrupted(uint16_t pc, uint16_t handler, uint32_t tstates) = 0;
};

}  // namespace orvane::profile
