// The Cpu interface over libz80ex and its disassembler.
#include "runner/cpu.h"

#include <cctype>

extern "C" {
#include <z80ex/z80ex.h>
#include <z80ex/z80ex_dasm.h>
}

namespace orvane::runner {

namespace {

Z80EX_BYTE ReadMem(Z80EX_CONTEXT*, Z80EX_WORD a, int, void* m) { return static_cast<Memory*>(m)->bytes[a]; }
void WriteMem(Z80EX_CONTEXT*, Z80EX_WORD a, Z80EX_BYTE v, void* m) { static_cast<Memory*>(m)->Write(a, v); }
Z80EX_BYTE ReadPort(Z80EX_CONTEXT*, Z80EX_WORD, void*) { return 0xFF; }
void WritePort(Z80EX_CONTEXT*, Z80EX_WORD, Z80EX_BYTE, void*) {}
Z80EX_BYTE ReadIntVector(Z80EX_CONTEXT*, void*) { return 0xFF; }

constexpr Z80_REG_T kRegs[] = {regAF, regBC, regDE, regHL, regIX, regIY, regSP, regPC, regAF_, regBC_, regDE_, regHL_};

class Z80ex final : public Cpu {
 public:
  explicit Z80ex(Memory& memory)
      : cpu_(z80ex_create(ReadMem, &memory, WriteMem, &memory, ReadPort, nullptr, WritePort, nullptr, ReadIntVector,
                          nullptr)) {}
  ~Z80ex() override { z80ex_destroy(cpu_); }
  Z80ex(const Z80ex&) = delete;
  Z80ex& operator=(const Z80ex&) = delete;

  int Step() override {
    int t = z80ex_step(cpu_);
    while (z80ex_last_op_type(cpu_) != 0) t += z80ex_step(cpu_);
    return t;
  }
  uint64_t Run(const Memory& m, uint64_t budget, uint64_t& count, uint16_t& last) override {
    // Step's loop again, without a virtual call per instruction. HALT leaves
    // PC on itself, so only an instruction that did not move PC can have halted.
    uint64_t t = 0, n = 0;
    uint16_t pc = z80ex_get_reg(cpu_, regPC), from;
    do {
      from = pc;
      t += static_cast<uint64_t>(z80ex_step(cpu_));
      while (z80ex_last_op_type(cpu_) != 0) t += static_cast<uint64_t>(z80ex_step(cpu_));
      ++n;
      pc = z80ex_get_reg(cpu_, regPC);
    } while (t < budget && !AtSystem(m, pc) && m.refusedWrite < 0 && !(pc == from && z80ex_doing_halt(cpu_)));
    count += n;
    last = from;
    return t;
  }
  uint64_t RunObserved(const Memory& m, uint64_t budget, uint64_t& count, uint16_t& last,
                       profile::ExecutionObserver& observer) override {
    // Run's loop with the observer told of each instruction.
    uint64_t t = 0, n = 0;
    uint16_t pc = z80ex_get_reg(cpu_, regPC), from;
    do {
      from = pc;
      const uint8_t op = m.bytes[from], op2 = m.bytes[static_cast<uint16_t>(from + 1)];
      int step = z80ex_step(cpu_);
      while (z80ex_last_op_type(cpu_) != 0) step += z80ex_step(cpu_);
      t += static_cast<uint64_t>(step);
      ++n;
      pc = z80ex_get_reg(cpu_, regPC);
      observer.Executed(from, pc, static_cast<uint32_t>(step), op, op2);
    } while (t < budget && !AtSystem(m, pc) && m.refusedWrite < 0 && !(pc == from && z80ex_doing_halt(cpu_)));
    count += n;
    last = from;
    return t;
  }
  bool Halted() const override { return z80ex_doing_halt(cpu_) != 0; }
  uint16_t Get(Reg r) const override {
    if (r == Reg::IR) return static_cast<uint16_t>(z80ex_get_reg(cpu_, regI) << 8 | z80ex_get_reg(cpu_, regR));
    return z80ex_get_reg(cpu_, kRegs[static_cast<int>(r)]);
  }
  void Set(Reg r, uint16_t v) override {
    if (r == Reg::IR) {
      z80ex_set_reg(cpu_, regI, v >> 8);
      z80ex_set_reg(cpu_, regR, v & 0xFF);
    } else {
      z80ex_set_reg(cpu_, kRegs[static_cast<int>(r)], v);
    }
  }

 private:
  Z80EX_CONTEXT* cpu_;
};

Z80EX_BYTE ReadForDasm(Z80EX_WORD a, void* m) { return static_cast<const Memory*>(m)->bytes[a]; }

}  // namespace

std::unique_ptr<Cpu> MakeZ80Cpu(Memory& memory) { return std::make_unique<Z80ex>(memory); }

int Disassemble(const Memory& memory, uint16_t addr, std::string& text) {
  char out[64];
  int t1 = 0, t2 = 0;
  const int n = z80ex_dasm(out, sizeof out, 0, &t1, &t2, ReadForDasm, addr, const_cast<Memory*>(&memory));
  // "#0109" -> "0109H", as the assembler writes hexadecimal.
  text.clear();
  for (const char* p = out; *p; ++p) {
    if (*p != '#') {
      text += *p;
      continue;
    }
    const char* q = p + 1;
    while (std::isxdigit(static_cast<unsigned char>(*q))) text += *q++;
    text += 'H';
    p = q - 1;
  }
  return n;
}

}  // namespace orvane::runner
