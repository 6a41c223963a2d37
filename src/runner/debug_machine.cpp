#include "runner/debug_machine.h"

#include <malloc.h>

namespace orvane::runner {

namespace {

constexpr Z80_REG_T kRegs[] = {regAF, regBC, regDE, regHL, regIX, regIY, regSP, regPC, regAF_, regBC_, regDE_, regHL_};

Z80EX_BYTE ReadMem(Z80EX_CONTEXT*, Z80EX_WORD a, int, void* m) { return static_cast<Memory*>(m)->bytes[a]; }
void WriteMem(Z80EX_CONTEXT*, Z80EX_WORD a, Z80EX_BYTE v, void* m) { static_cast<Memory*>(m)->Write(a, v); }
Z80EX_BYTE ReadPort(Z80EX_CONTEXT*, Z80EX_WORD, void*) { return 0xFF; }
void WritePort(Z80EX_CONTEXT*, Z80EX_WORD, Z80EX_BYTE, void*) {}
Z80EX_BYTE IntVector(Z80EX_CONTEXT*, void*) { return 0xFF; }

}  // namespace

DebugCpu::DebugCpu()
    : ctx_(z80ex_create(ReadMem, nullptr, WriteMem, nullptr, ReadPort, nullptr, WritePort, nullptr, IntVector,
                        nullptr)),
      size_(malloc_usable_size(ctx_)) {}
DebugCpu::~DebugCpu() { z80ex_destroy(ctx_); }

void DebugCpu::Bind(Memory* memory) {
  z80ex_set_memread_callback(ctx_, ReadMem, memory);
  z80ex_set_memwrite_callback(ctx_, WriteMem, memory);
}

uint16_t DebugCpu::Get(Reg r) const {
  if (r == Reg::IR) {
    // libz80ex counts every M1 in regR past its 8 bits and keeps bit 7,
    // which the counting never changes on a Z80, in regR7 of its own.
    const unsigned i = z80ex_get_reg(ctx_, regI) & 0xFF;
    const unsigned rr = (z80ex_get_reg(ctx_, regR) & 0x7F) | (z80ex_get_reg(ctx_, regR7) & 0x80);
    return static_cast<uint16_t>(i << 8 | rr);
  }
  return z80ex_get_reg(ctx_, kRegs[static_cast<int>(r)]);
}

void DebugCpu::Set(Reg r, uint16_t v) {
  if (r == Reg::IR) {
    z80ex_set_reg(ctx_, regI, v >> 8);
    z80ex_set_reg(ctx_, regR, v & 0xFF);
    z80ex_set_reg(ctx_, regR7, v & 0x80);
  } else {
    z80ex_set_reg(ctx_, kRegs[static_cast<int>(r)], v);
  }
}

namespace {

std::unique_ptr<DebugCpu> NewCpu(DebugCpu*& raw) {
  auto c = std::make_unique<DebugCpu>();
  raw = c.get();
  return c;
}

}  // namespace

DebugMachine::DebugMachine(machine::InputJournal& input, Disk& disk, const RunOptions& options)
    : input_(input), disk_(disk), cpu_(nullptr), machine_(input, disk, options, NewCpu(cpu_)) {
  memory_ = &machine_.memory();
  cpu_->Bind(memory_);
}

bool DebugMachine::WaitsForKey(uint16_t pc) const {
  const uint8_t c = cpu_->Get(Reg::BC) & 0xFF, e = cpu_->Get(Reg::DE) & 0xFF;
  const bool bdos = pc == 0x0005 || pc == kBdosEntry;
  return bdos ? c == 1 || c == 10 || (c == 6 && e == 0xFD) : pc == kBios + 3 * 3;
}

machine::Machine::Trap DebugMachine::Serve(uint16_t from) {
  std::vector<uint32_t>& w = *memory_->log;
  const size_t cpuWrites = w.size();
  // The BDOS and BIOS write through the memory's log, except a few bytes
  // set directly (the IOBYTE, the allocation vector); the places a call
  // can touch are compared before and after it, and what changed
  // unlogged is logged.
  const uint16_t de = cpu_->Get(Reg::DE), dma = machine_.SaveSystem().dma;
  const std::pair<uint16_t, uint16_t> places[] = {{0, 256}, {de, 258}, {dma, 128}, {0xFE00, 512}};
  uint8_t before[256 + 258 + 128 + 512];
  const uint8_t* const bytes = memory_->bytes;
  size_t k = 0;
  for (const auto& [at, n] : places) {
    for (uint16_t i = 0; i < n; ++i) before[k + i] = bytes[static_cast<uint16_t>(at + i)];
    k += n;
  }
  const auto trap = machine_.Serve(from);
  for (size_t i = cpuWrites; i < w.size(); ++i) logged_[w[i] >> 8] = 1;
  k = 0;
  for (const auto& [at, n] : places) {
    for (uint16_t i = 0; i < n; ++i) {
      const auto a = static_cast<uint16_t>(at + i);
      if (before[k + i] != bytes[a] && !logged_[a]) {
        w.push_back(uint32_t{a} << 8 | before[k + i]);
        logged_[a] = 1;
      }
    }
    k += n;
  }
  for (size_t i = cpuWrites; i < w.size(); ++i) logged_[w[i] >> 8] = 0;
  if (trap == runner::Machine::Trap::kEnd) return Trap::kEnd;
  if (trap == runner::Machine::Trap::kStop) return Trap::kStop;
  return Trap::kNone;
}

}  // namespace orvane::runner
