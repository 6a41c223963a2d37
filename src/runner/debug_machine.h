// The CP/M machine as a debugger drives it: libz80ex run one instruction at
// a time, with its whole context saved and restored as bytes, and the BDOS
// and BIOS served where a program calls them.
#pragma once
#include <cstring>
#include <memory>
#include <vector>

#include "machine/machine.h"
#include "runner/console.h"
#include "runner/disk.h"
#include "runner/machine.h"

extern "C" {
#include <z80ex/z80ex.h>
}

namespace orvane::runner {

// libz80ex behind the runner's Cpu interface. libz80ex keeps everything about
// the CPU (registers, MEMPTR, interrupt state, HALT, a prefix in progress) in
// the one context it allocates, which holds no pointer into itself: it is
// saved and restored as bytes.
class DebugCpu final : public Cpu {
 public:
  DebugCpu();
  ~DebugCpu() override;
  DebugCpu(const DebugCpu&) = delete;
  DebugCpu& operator=(const DebugCpu&) = delete;
  // The memory the CPU reads and writes; before any step.
  void Bind(Memory* memory);
  int Step() override {
    int t = z80ex_step(ctx_);
    while (z80ex_last_op_type(ctx_) != 0) t += z80ex_step(ctx_);
    return t;
  }
  bool Halted() const override { return z80ex_doing_halt(ctx_) != 0; }
  uint16_t Get(Reg r) const override;
  void Set(Reg r, uint16_t v) override;
  uint16_t Pc() const { return z80ex_get_reg(ctx_, regPC); }
  uint16_t Sp() const { return z80ex_get_reg(ctx_, regSP); }
  size_t size() const { return size_; }
  void Save(uint8_t* out) const { std::memcpy(out, ctx_, size_); }
  void Load(const uint8_t* in) { std::memcpy(static_cast<void*>(ctx_), in, size_); }

 private:
  Z80EX_CONTEXT* ctx_;
  size_t size_;
};

class DebugMachine final : public machine::Machine {
 public:
  // The console input journal and the disk must outlive it.
  DebugMachine(machine::InputJournal& input, Disk& disk, const RunOptions& options);
  bool Load(const std::vector<uint8_t>& image, const std::vector<std::string>& args, std::string& error) {
    return machine_.Load(image, args, error);
  }

  int Step() override { return cpu_->Step(); }
  bool Halted() const override { return cpu_->Halted(); }
  uint16_t Get(Reg r) const override { return cpu_->Get(r); }
  void Set(Reg r, uint16_t v) override { cpu_->Set(r, v); }
  uint16_t Pc() const override { return cpu_->Pc(); }
  uint16_t Sp() const override { return cpu_->Sp(); }

  // An instruction that entered the BDOS or BIOS, had a write refused or
  // halted (only one that did not move PC can have halted).
  bool NeedsService(uint16_t from, uint16_t pc) const override {
    return AtSystem(*memory_, pc) || memory_->refusedWrite >= 0 || (pc == from && cpu_->Halted());
  }
  Trap Serve(uint16_t from) override;
  bool WaitsForKey(uint16_t pc) const override;
  int stopStatus() const override { return machine_.stopStatus(); }
  std::string stopMessage() const override { return machine_.stopMessage(); }
  uint16_t stopAddress() const override { return machine_.stopAddress(); }
  int EndStatus() const override { return machine_.EndStatus(); }
  uint64_t tstates() const override { return machine_.tstates(); }

  size_t StateSize() const override { return cpu_->size(); }
  void Save(uint8_t* out) const override { cpu_->Save(out); }
  void Load(const uint8_t* in) override { cpu_->Load(in); }
  using machine::Machine::Save;
  runner::Machine::SystemState SaveSystem() const override { return machine_.SaveSystem(); }
  void RestoreSystem(const runner::Machine::SystemState& s) override { machine_.RestoreSystem(s); }

  uint64_t InputMark() const override { return input_.at(); }
  void SeekInput(uint64_t mark) override { input_.Seek(mark); }
  void ForgetInput(uint64_t mark) override { input_.Forget(mark); }
  size_t InputBytes() const override { return input_.Bytes(); }
  void CloseFiles() override { disk_.CloseAll(); }

 private:
  machine::InputJournal& input_;
  Disk& disk_;
  DebugCpu* cpu_;
  runner::Machine machine_;
  std::vector<uint8_t> logged_ = std::vector<uint8_t>(65536);  // addresses a call logged, while it is compared
};

}  // namespace orvane::runner
