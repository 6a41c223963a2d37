#include "board/board.h"

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <thread>

extern "C" {
#include <z80ex/z80ex.h>
}

namespace orvane::board {

std::string Hex2(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02XH", v & 0xFF);
  return b;
}
std::string Hex4(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04XH", v & 0xFFFF);
  return b;
}

namespace {

Z80EX_BYTE ReadMem(Z80EX_CONTEXT*, Z80EX_WORD a, int, void* b) { return static_cast<Board*>(b)->memory().bytes[a]; }
void WriteMem(Z80EX_CONTEXT*, Z80EX_WORD a, Z80EX_BYTE v, void* p) {
  Board& b = *static_cast<Board*>(p);
  if (b.page(a) != Kind::kRam) return b.RomWrite(a);
  runner::Memory& m = b.memory();
  if (m.log) m.log->push_back(uint32_t{a} << 8 | m.bytes[a]);
  m.bytes[a] = v;
}
Z80EX_BYTE ReadPort(Z80EX_CONTEXT*, Z80EX_WORD port, void* b) { return static_cast<Board*>(b)->PortIn(port); }
void WritePort(Z80EX_CONTEXT*, Z80EX_WORD port, Z80EX_BYTE v, void* b) { static_cast<Board*>(b)->PortOut(port, v); }
Z80EX_BYTE ReadVector(Z80EX_CONTEXT*, void* b) { return static_cast<Board*>(b)->vectorOnBus(); }
void OnReti(Z80EX_CONTEXT*, void* b) { static_cast<Board*>(b)->Reti(); }

constexpr Z80_REG_T kRegs[] = {regAF, regBC, regDE, regHL, regIX, regIY, regSP, regPC, regAF_, regBC_, regDE_, regHL_};

// Status reads in a row that find no byte, each within kPollGap
// instructions of the last with no other I/O between, after the input has
// ended: the program waits for a key that will not come.
constexpr uint64_t kIdlePolls = 100000, kPollGap = 50;
// T-states between two looks at the console, a stop request and the clock.
constexpr uint64_t kSlice = 1 << 16;

int Registers(const DeviceSpec& d) { return d.type == DeviceSpec::kAcia ? 2 : 4; }

NoLine noLine;

}  // namespace

Board::Board(const Profile& profile, SerialLine& console, BoardOptions options)
    : profile_(profile), console_(console), opt_(std::move(options)), ports_(256), regs_(256) {
  for (uint8_t& b : mem_.bytes) b = 0xFF;
  for (const Region& r : profile_.regions)
    for (uint32_t p = r.first >> 8; p <= r.last >> 8; ++p) pages_[p] = r.kind;
  for (size_t i = 0; i < profile_.regions.size(); ++i) {
    const Region& r = profile_.regions[i];
    if (r.kind == Kind::kRam)
      for (uint32_t a = r.first; a <= r.last; ++a) mem_.bytes[a] = 0;
  }
  for (size_t i = 0; i < profile_.devices.size(); ++i) {
    const DeviceSpec& d = profile_.devices[i];
    if (d.type == DeviceSpec::kAcia) devices_.emplace_back(Acia{});
    if (d.type == DeviceSpec::kSio) devices_.emplace_back(Sio{});
    if (d.type == DeviceSpec::kCtc) {
      Ctc c;
      for (int k = 0; k < 4; ++k) c.trigger[k] = d.trigger[k] ? (profile_.clock + d.trigger[k] / 2) / d.trigger[k] : 0;
      devices_.emplace_back(c);
    }
    for (int k = 0; k < Registers(d); ++k) {
      ports_[static_cast<uint8_t>(d.port + k)] = static_cast<uint8_t>(i + 1);
      regs_[static_cast<uint8_t>(d.port + k)] = static_cast<uint8_t>(k);
    }
  }
  cpu_ = z80ex_create(ReadMem, this, WriteMem, this, ReadPort, this, WritePort, this, ReadVector, this);
  z80ex_set_reti_callback(cpu_, OnReti, this);
  Reset(0);
}

Board::~Board() { z80ex_destroy(cpu_); }

void Board::Reset(uint16_t pc) {
  z80ex_reset(cpu_);
  z80ex_set_reg(cpu_, regPC, pc);
  Update();
}

int ConsoleDevice(const Profile& p) {
  for (size_t i = 0; i < p.devices.size(); ++i)
    if (p.devices[i].type != DeviceSpec::kCtc) return static_cast<int>(i);
  return -1;
}

uint8_t Board::PortIn(uint16_t port) {
  const int d = ports_[port & 0xFF] - 1;
  break_ = true;
  if (d < 0) {
    idlePolls_ = 0;
    return 0xFF;
  }
  Bus bus{now_, d == ConsoleDevice(profile_) ? &console_ : static_cast<SerialLine*>(&noLine)};
  const int reg = regs_[port & 0xFF];
  bool polled = false;
  const uint8_t v = std::visit(
      [&](auto& dev) {
        dev.polledEmpty = false;
        const uint8_t r = dev.In(reg, bus);
        polled = dev.polledEmpty;
        return r;
      },
      devices_[static_cast<size_t>(d)]);
  if (polled && bus.line == &console_ && console_.Ended()) {
    const bool inRow = idlePolls_ > 0 && instructions_ - lastPollAt_ <= kPollGap;
    idlePolls_ = inRow ? idlePolls_ + 1 : 1;
    lastPollAt_ = instructions_;
    if (idlePolls_ >= kIdlePolls && stopStatus_ == 0)
      Stop(runner::kInputEnded,
           "the program at " + Hex4(z80ex_get_reg(cpu_, regPC)) +
               " is waiting for console input, and the input has ended",
           static_cast<uint16_t>(z80ex_get_reg(cpu_, regPC)));
  } else {
    idlePolls_ = 0;
  }
  return v;
}

void Board::PortOut(uint16_t port, uint8_t value) {
  const int d = ports_[port & 0xFF] - 1;
  break_ = true;
  idlePolls_ = 0;
  if (d < 0) return;
  Bus bus{now_, d == ConsoleDevice(profile_) ? &console_ : static_cast<SerialLine*>(&noLine)};
  const int reg = regs_[port & 0xFF];
  std::visit([&](auto& dev) { dev.Out(reg, value, bus); }, devices_[static_cast<size_t>(d)]);
}

void Board::RomWrite(uint16_t address) {
  if (opt_.strict && faultAt_ < 0) {
    faultAt_ = address;
    break_ = true;
  }
}

void Board::Reti() {
  // The device nearest the head of the chain that is in service sees the
  // RETI (ED 4D) go by with its IEI high and leaves service.
  for (Device& d : devices_)
    if (std::visit([](auto& dev) { return dev.Reti(); }, d)) break;
  break_ = true;
}

void Board::Update() {
  irq_ = false;
  nextEvent_ = kNever;
  bool blocked = false;
  for (const Device& d : devices_) {
    std::visit(
        [&](const auto& dev) {
          if (dev.Irq()) irq_ = true;
          if (!blocked) {
            const Chain s = dev.State();
            if (s == Chain::kRequest) irq_ = true;
            if (s != Chain::kIdle) blocked = true;
          }
          const uint64_t e = dev.NextEvent();
          if (e < nextEvent_) nextEvent_ = e;
        },
        d);
  }
}

void Board::Events() {
  const int console = ConsoleDevice(profile_);
  for (size_t i = 0; i < devices_.size(); ++i) {
    Bus bus{now_, static_cast<int>(i) == console ? &console_ : static_cast<SerialLine*>(&noLine)};
    std::visit([&](auto& dev) { dev.Advance(bus); }, devices_[i]);
  }
  Update();
}

void Board::Stop(int status, const std::string& message, uint16_t at) {
  stopStatus_ = status;
  stopMessage_ = message;
  stopAt_ = at;
}

bool Board::TakeInterrupt(int& t) {
  t = 0;
  if (nmi_) {
    t = z80ex_nmi(cpu_);
    if (t > 0) {
      nmi_ = false;
      if (opt_.trace) *opt_.trace << "           NMI\n";
      return true;
    }
  }
  if (!irq_ || !z80ex_int_possible(cpu_)) return false;
  // The first device of the chain that requests puts its vector on the bus;
  // with none (the ACIA's IRQ) the bus reads FFH, RST 38H in IM 0.
  vector_ = 0xFF;
  for (Device& d : devices_) {
    const Chain s = std::visit([](auto& dev) { return dev.State(); }, d);
    if (s == Chain::kInService) break;
    if (s == Chain::kRequest) {
      vector_ = std::visit([](auto& dev) { return dev.Acknowledge(); }, d);
      break;
    }
  }
  const int im = z80ex_get_reg(cpu_, regIM);
  t = z80ex_int(cpu_);
  if (opt_.trace)
    *opt_.trace << "           interrupt in IM " << im << ", " << Hex2(vector_) << " on the bus\n";
  Update();
  return t > 0;
}

Board::StepKind Board::Step(int& tstates) {
  if (now_ >= nextEvent_) Events();
  // A HALT waiting for an interrupt: the clock runs on to the next device
  // event, so that a debugger's step does not crawl through the HALT's NOPs.
  if (!irq_ && !nmi_ && z80ex_doing_halt(cpu_) && z80ex_get_reg(cpu_, regIFF1) && nextEvent_ != kNever) {
    now_ = nextEvent_;
    Events();
  }
  if ((irq_ || nmi_) && TakeInterrupt(tstates)) {
    now_ += static_cast<uint64_t>(tstates);
    ++instructions_;
    return tstates == 11 && !irq_ ? StepKind::kNmi : StepKind::kInterrupt;
  }
  const uint16_t from = static_cast<uint16_t>(z80ex_get_reg(cpu_, regPC));
  int t = z80ex_step(cpu_);
  while (z80ex_last_op_type(cpu_) != 0) t += z80ex_step(cpu_);
  tstates = t;
  now_ += static_cast<uint64_t>(t);
  ++instructions_;
  if (break_) {
    break_ = false;
    Update();
  }
  if (faultAt_ >= 0 && stopStatus_ == 0) {
    const auto a = static_cast<uint16_t>(faultAt_);
    Stop(runner::kFault,
         "the instruction at " + Hex4(from) + " wrote to " + Hex4(a) +
             (page(a) == Kind::kRom ? ", which is ROM" : ", where there is no memory"),
         from);
  }
  if (z80ex_get_reg(cpu_, regPC) == from && z80ex_doing_halt(cpu_) && stopStatus_ == 0) {
    if (!z80ex_get_reg(cpu_, regIFF1)) {
      Stop(runner::kHalt, "HALT at " + Hex4(from) + " with interrupts disabled", from);
    } else if (!irq_ && !nmi_) {
      EndHopelessHalt(from);  // as Run ends it
    }
  }
  return StepKind::kInstruction;
}

bool Board::EndHopelessHalt(uint16_t from) {
  bool any = false, live = false;
  for (const Device& d : devices_)
    std::visit(
        [&](const auto& dev) {
          any = any || dev.CanInterrupt(false);
          live = live || dev.CanInterrupt(console_.Ended());
        },
        d);
  if (live) return false;
  if (any)
    Stop(runner::kInputEnded, "HALT at " + Hex4(from) + " waits for console input, and the input has ended", from);
  else
    Stop(runner::kHalt, "HALT at " + Hex4(from) + ": interrupts are enabled, but no device can interrupt", from);
  return true;
}

bool Board::Halted() const { return z80ex_doing_halt(cpu_) != 0; }

uint16_t Board::Get(runner::Reg r) const {
  if (r == runner::Reg::IR) return static_cast<uint16_t>(z80ex_get_reg(cpu_, regI) << 8 | z80ex_get_reg(cpu_, regR));
  return z80ex_get_reg(cpu_, kRegs[static_cast<int>(r)]);
}

void Board::Set(runner::Reg r, uint16_t v) {
  if (r == runner::Reg::IR) {
    z80ex_set_reg(cpu_, regI, v >> 8);
    z80ex_set_reg(cpu_, regR, v & 0xFF);
  } else {
    z80ex_set_reg(cpu_, kRegs[static_cast<int>(r)], v);
  }
}

Board::State Board::Save() const {
  State s;
  for (int r = 0; r < 18; ++r) s.regs[r] = z80ex_get_reg(cpu_, static_cast<Z80_REG_T>(r));
  s.devices = devices_;
  s.tstates = now_;
  s.instructions = instructions_;
  s.nmi = nmi_;
  return s;
}

void Board::Restore(const State& s) {
  for (int r = 0; r < 18; ++r)
    if (r != regR7) z80ex_set_reg(cpu_, static_cast<Z80_REG_T>(r), s.regs[r]);
  devices_ = s.devices;
  now_ = s.tstates;
  instructions_ = s.instructions;
  nmi_ = s.nmi;
  Update();
}

namespace {

// What a board keeps beside the CPU and the devices.
struct Clocks {
  uint64_t now, instructions, idlePolls, lastPollAt;
  bool nmi;
};
static_assert(std::is_trivially_copyable_v<Device>, "a device is saved as bytes");

}  // namespace

size_t Board::StateSize() const {
  return malloc_usable_size(cpu_) + sizeof(Clocks) + devices_.size() * sizeof(Device);
}

void Board::SaveState(uint8_t* out) const {
  const size_t n = malloc_usable_size(cpu_);
  std::memcpy(out, static_cast<const void*>(cpu_), n);
  const Clocks c{now_, instructions_, idlePolls_, lastPollAt_, nmi_};
  std::memcpy(out + n, &c, sizeof c);
  std::memcpy(out + n + sizeof c, static_cast<const void*>(devices_.data()), devices_.size() * sizeof(Device));
}

void Board::LoadState(const uint8_t* in) {
  const size_t n = malloc_usable_size(cpu_);
  std::memcpy(static_cast<void*>(cpu_), in, n);
  Clocks c;
  std::memcpy(&c, in + n, sizeof c);
  now_ = c.now;
  instructions_ = c.instructions;
  idlePolls_ = c.idlePolls;
  lastPollAt_ = c.lastPollAt;
  nmi_ = c.nmi;
  std::memcpy(static_cast<void*>(devices_.data()), in + n + sizeof c, devices_.size() * sizeof(Device));
  faultAt_ = -1;
  break_ = false;
  stopStatus_ = 0;
  stopMessage_.clear();
  Update();
}

std::string Board::Where(uint16_t address) const {
  runner::SourceLocation loc;
  if (!opt_.source || !opt_.source(address, loc)) return "";
  return " (" + loc.file + ":" + std::to_string(loc.line) + ": " + loc.text + ")";
}

void Board::TraceLine(uint16_t pc) {
  std::string text, bytes;
  const int n = runner::Disassemble(mem_, pc, text);
  char b[160];
  for (int i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", mem_.bytes[static_cast<uint16_t>(pc + i)]);
    bytes += b;
  }
  std::snprintf(b, sizeof b, "%10llu %04X %-11s %-18s AF=%04X BC=%04X DE=%04X HL=%04X IX=%04X IY=%04X SP=%04X",
                static_cast<unsigned long long>(now_), pc, bytes.c_str(), text.c_str(), Get(runner::Reg::AF),
                Get(runner::Reg::BC), Get(runner::Reg::DE), Get(runner::Reg::HL), Get(runner::Reg::IX),
                Get(runner::Reg::IY), Get(runner::Reg::SP));
  *opt_.trace << b;
  runner::SourceLocation loc;
  if (opt_.source && opt_.source(pc, loc)) *opt_.trace << "  " << loc.file << ":" << loc.line << ": " << loc.text;
  *opt_.trace << '\n';
}

template <bool kObserved>
uint16_t Board::RunFast(uint64_t until, uint16_t pc, uint16_t& from) {
  // Instructions until the time, an I/O access or RETI (break_), or HALT.
  // The time is kept here and handed to the port callbacks through now_.
  uint64_t now = now_, n = 0;
  do {
    from = pc;
    now_ = now;
    // The opcode bytes as they were before the instruction ran (it may
    // write over itself).
    [[maybe_unused]] uint8_t op = 0, op2 = 0;
    if constexpr (kObserved) {
      op = mem_.bytes[from];
      op2 = mem_.bytes[static_cast<uint16_t>(from + 1)];
    }
    int t = z80ex_step(cpu_);
    while (z80ex_last_op_type(cpu_) != 0) t += z80ex_step(cpu_);
    now += static_cast<uint64_t>(t);
    ++n;
    pc = static_cast<uint16_t>(z80ex_get_reg(cpu_, regPC));
    if constexpr (kObserved) opt_.observer->Executed(from, pc, static_cast<uint32_t>(t), op, op2);
  } while (now < until && !break_ && !(pc == from && z80ex_doing_halt(cpu_)));
  now_ = now;
  instructions_ += n;
  return pc;
}

runner::RunResult Board::Run() {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const uint64_t startT = now_;
  Update();
  uint16_t pc = static_cast<uint16_t>(z80ex_get_reg(cpu_, regPC));
  while (stopStatus_ == 0) {
    uint64_t sliceEnd = now_ + kSlice;
    if (opt_.maxTstates && sliceEnd > opt_.maxTstates) sliceEnd = opt_.maxTstates;
    while (now_ < sliceEnd && stopStatus_ == 0) {
      if (now_ >= nextEvent_) Events();
      uint64_t until = nextEvent_ < sliceEnd ? nextEvent_ : sliceEnd;
      while (now_ < until) {
        int t;
        if ((irq_ || nmi_) && TakeInterrupt(t)) {
          now_ += static_cast<uint64_t>(t);
          ++instructions_;
          const uint16_t at = pc;
          pc = static_cast<uint16_t>(z80ex_get_reg(cpu_, regPC));
          if (opt_.observer) opt_.observer->Interrupted(at, pc, static_cast<uint32_t>(t));
          continue;
        }
        uint16_t from = pc;
        if (opt_.trace || irq_ || nmi_) {
          // One instruction at a time: traced, or with an interrupt waiting
          // for the CPU to take it.
          if (opt_.trace) TraceLine(from);
          const uint8_t op = mem_.bytes[from], op2 = mem_.bytes[static_cast<uint16_t>(from + 1)];
          t = z80ex_step(cpu_);
          while (z80ex_last_op_type(cpu_) != 0) t += z80ex_step(cpu_);
          now_ += static_cast<uint64_t>(t);
          ++instructions_;
          pc = static_cast<uint16_t>(z80ex_get_reg(cpu_, regPC));
          if (opt_.observer) opt_.observer->Executed(from, pc, static_cast<uint32_t>(t), op, op2);
        } else if (opt_.observer) {
          pc = RunFast<true>(until, pc, from);
        } else {
          pc = RunFast<false>(until, pc, from);
        }
        if (break_) {
          break_ = false;
          if (faultAt_ >= 0) {
            const auto a = static_cast<uint16_t>(faultAt_);
            Stop(runner::kFault,
                 "the instruction at " + Hex4(from) + " wrote to " + Hex4(a) +
                     (page(a) == Kind::kRom ? ", which is ROM" : ", where there is no memory"),
                 from);
          }
          if (stopStatus_ != 0) break;
          Update();
          if (nextEvent_ < until) until = nextEvent_;
        }
        if (pc != from || !z80ex_doing_halt(cpu_)) continue;
        // HALT: wait for an interrupt.
        if (!z80ex_get_reg(cpu_, regIFF1)) {
          Stop(runner::kHalt, "HALT at " + Hex4(from) + " with interrupts disabled", from);
          break;
        }
        if (irq_ || nmi_) continue;
        if (EndHopelessHalt(from)) break;
        now_ = until;  // time passes to the next event
      }
    }
    if (stopStatus_ != 0) break;
    if (const std::string e = console_.Flush(); !e.empty()) {
      Stop(runner::kHostError, "cannot write to the console: " + e, pc);
    } else if (const std::string failed = opt_.outputError ? opt_.outputError() : ""; !failed.empty()) {
      Stop(runner::kHostError, failed, pc);
    } else if (opt_.stop && opt_.stop->load()) {
      Stop(runner::kStopped, "stopped at " + Hex4(pc), pc);
    } else if (console_.QuitRequested()) {
      Stop(runner::kStopped, "stopped from the keyboard (Ctrl+] q) at " + Hex4(pc), pc);
    } else if (opt_.maxTstates && now_ >= opt_.maxTstates) {
      Stop(runner::kLimit,
           "stopped at " + Hex4(pc) + " after " + std::to_string(now_) + " T-states (--max-tstates " +
               std::to_string(opt_.maxTstates) + ")",
           pc);
    } else if (opt_.realTime) {
      // Keep the board's clock: sleep while the emulated time is ahead.
      const auto due = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                   static_cast<double>(now_ - startT) / profile_.clock));
      if (due > Clock::now()) std::this_thread::sleep_until(due);
    }
  }
  if (opt_.trace) opt_.trace->flush();
  if (const std::string e = console_.Flush(); !e.empty() && stopStatus_ != runner::kHostError)
    Stop(runner::kHostError, "cannot write to the console: " + e, pc);
  runner::RunResult r;
  r.status = stopStatus_;
  r.message = stopMessage_ + Where(stopAt_);
  r.address = stopAt_;
  if (opt_.source) r.hasSource = opt_.source(stopAt_, r.where);
  r.tstates = now_;
  r.instructions = instructions_;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return r;
}

}  // namespace orvane::board
