#include "runner/machine.h"

#include <chrono>
#include <cstdio>

namespace orvane::runner {

namespace {

std::string Hex4(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04XH", v & 0xFFFF);
  return b;
}

std::string Region(uint16_t a) {
  return a < kPageZeroGuard ? "in the jump at 0000H-0002H that every warm boot goes through"
                            : "in the BDOS and BIOS (FE06H-FFFFH) that the program calls";
}

}  // namespace

std::string ImageTooLarge(uint64_t size) {
  return "the program is " + std::to_string(size) + " bytes; at most " + std::to_string(kMaxImage) +
         " fit between 0100H and the stack at " + Hex4(kStackTop - 2);
}

Machine::Machine(Console& console, Disk& disk, RunOptions options, std::unique_ptr<Cpu> cpu)
    : console_(console), disk_(disk), opt_(std::move(options)), mem_(std::make_unique<Memory>()),
      cpu_(cpu ? std::move(cpu) : MakeZ80Cpu(*mem_)) {}

Machine::~Machine() = default;

bool Machine::Load(const std::vector<uint8_t>& image, const std::vector<std::string>& args, std::string& error) {
  if (image.size() > kMaxImage) {
    error = ImageTooLarge(image.size());
    return false;
  }
  std::string tail;
  if (!CommandTail(args, tail)) {
    error = "the arguments make a command tail of " + std::to_string(tail.size()) +
            " characters; CP/M holds at most 127";
    return false;
  }
  Memory& m = *mem_;
  for (size_t i = 0; i < image.size(); ++i) m.bytes[kLoad + i] = image[i];
  // 0000H: JP WBOOT; 0003H: IOBYTE, 0004H: drive A: and user 0; 0005H: JP BDOS.
  m.bytes[0] = 0xC3;
  m.SetWord(1, kBios + 3);
  m.bytes[5] = 0xC3;
  m.SetWord(6, kBdosEntry);
  // The default FCBs with the first two arguments, then the command tail.
  for (int f = 0; f < 2; ++f) {
    const uint16_t fcb = f == 0 ? 0x5C : 0x6C;
    const ParsedName p = ParseArgument(args.size() > size_t(f) ? args[f] : "");
    m.bytes[fcb] = p.drive;
    for (int i = 0; i < 11; ++i) m.bytes[fcb + 1 + i] = static_cast<uint8_t>(p.name[i]);
  }
  m.bytes[0x80] = static_cast<uint8_t>(tail.size());
  for (size_t i = 0; i < tail.size(); ++i) m.bytes[0x81 + i] = static_cast<uint8_t>(tail[i]);
  // The BDOS entry jumps to itself: it is served before it runs. The BIOS
  // jump table holds real JPs to the entries at kBiosTraps, each a RET that
  // is served before it runs.
  m.bytes[kBdosEntry] = 0xC3;
  m.SetWord(kBdosEntry + 1, kBdosEntry);
  for (int i = 0; i < kBiosEntries; ++i) {
    m.bytes[kBios + 3 * i] = 0xC3;
    m.SetWord(static_cast<uint16_t>(kBios + 3 * i + 1), static_cast<uint16_t>(kBiosTraps + i));
    m.bytes[kBiosTraps + i] = 0xC9;
  }
  // Drive A:'s disk parameter block: 8 KiB blocks, 1024 of them (8 MiB),
  // 1024 directory entries in the first four blocks, no checksums, no
  // reserved tracks.
  static const uint8_t kDiskParameters[15] = {64, 0, 6, 63, 3, 0xFF, 3, 0xFF, 3, 0xF0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 15; ++i) m.bytes[kDpb + i] = kDiskParameters[i];
  for (size_t i = 0; i < system_.size(); ++i) system_[i] = m.bytes[kBdosEntry + i];
  m.guardLow = opt_.strict ? kPageZeroGuard : 0;
  m.guardHigh = opt_.strict ? kBdosEntry : 0x10000;
  m.systemFrom = kBdosEntry;
  for (Reg r : {Reg::AF, Reg::BC, Reg::DE, Reg::HL, Reg::IX, Reg::IY, Reg::AF2, Reg::BC2, Reg::DE2, Reg::HL2})
    cpu_->Set(r, 0);
  cpu_->Set(Reg::PC, kLoad);
  cpu_->Set(Reg::SP, kStackTop - 2);  // holding 0000H: a RET from the program is a warm boot
  return true;
}

std::string Machine::Where(uint16_t address) {
  SourceLocation loc;
  if (!opt_.source || !opt_.source(address, loc)) return "";
  return " (" + loc.file + ":" + std::to_string(loc.line) + ": " + loc.text + ")";
}

Machine::Trap Machine::Stop(int status, const std::string& message, uint16_t at) {
  stopped_ = true;
  stopStatus_ = status;
  stopMessage_ = message;
  caller_ = at;
  return Trap::kStop;
}

void Machine::Return(uint16_t value) {
  Cpu& c = *cpu_;
  c.Set(Reg::HL, value);
  c.Set(Reg::AF, static_cast<uint16_t>((value & 0xFF) << 8 | (c.Get(Reg::AF) & 0xFF)));
  c.Set(Reg::BC, static_cast<uint16_t>((value & 0xFF00) | (c.Get(Reg::BC) & 0xFF)));
}

std::string Machine::CallerText() const { return "called from " + Hex4(caller_); }

bool Machine::JumpsTo(uint16_t at, uint16_t target) const {
  const Memory& m = *mem_;
  return m.bytes[at] == 0xC3 && m.Word(static_cast<uint16_t>(at + 1)) == target;
}

int Machine::EntryAt(uint16_t pc) const {
  // The jumps at 0000H and 0005H and the BIOS jump table are the program's
  // to rewrite, as on CP/M. While one still holds the system's JP it is
  // served at once, as the entry it leads to (saving the JP's 10 T-states
  // each time); one the program has changed runs as any other code, so a
  // hooked warm boot or BIOS entry goes where it now points.
  if (pc == 0x0000)
    return JumpsTo(0, kBios + 3) && JumpsTo(kBios + 3, kBiosTraps + 1) ? kEndRun : kProgram;
  if (pc == 0x0005) return JumpsTo(5, kBdosEntry) ? kBdosCall : kProgram;
  if (pc == kBdosEntry) return kBdosCall;
  if (pc >= kBiosTraps && pc < kBiosTraps + kBiosEntries) return pc - kBiosTraps;
  if (pc >= kBios && (pc - kBios) % 3 == 0 && (pc - kBios) / 3 < kBiosEntries) {
    const int entry = (pc - kBios) / 3;
    return JumpsTo(pc, static_cast<uint16_t>(kBiosTraps + entry)) ? entry : kProgram;
  }
  // Elsewhere in the system there is no code to run, unless the program
  // has put its own there.
  return mem_->bytes[pc] != system_[pc - kBdosEntry] ? kProgram : kStray;
}

Machine::Trap Machine::Dispatch(uint16_t pc) {
  Memory& m = *mem_;
  Cpu& c = *cpu_;
  for (;;) {
    if (m.refusedWrite >= 0) {
      const auto a = static_cast<uint16_t>(m.refusedWrite);
      return Stop(kFault, "the instruction at " + Hex4(lastPc_) + " wrote to " + Hex4(a) + ", " + Region(a), lastPc_);
    }
    if (c.Halted()) return Stop(kHalt, "HALT at " + Hex4(lastPc_), lastPc_);
    const int entry = EntryAt(pc);
    if (entry == kProgram) return Trap::kNone;
    if (entry == kStray)
      return Stop(kFault, "the instruction at " + Hex4(lastPc_) + " jumped to " + Hex4(pc) + ", " + Region(pc),
                  lastPc_);
    caller_ = lastPc_;
    if (entry == kEndRun) {
      ended_ = true;
      return Trap::kEnd;
    }
    ++sys_.calls;
    if (entry == kBdosCall) {
      bios_ = nullptr;
      function_ = c.Get(Reg::BC) & 0xFF;
      if (opt_.trace) *opt_.trace << "           BDOS function " << function_ << "\n";
      Handler h = function_ < kBdosCount ? kBdos[function_] : function_ == 108 ? &Machine::ReturnCode : nullptr;
      if (!h && opt_.strict)
        return Stop(kUnknownCall, "unknown BDOS function " + std::to_string(function_) + " " + CallerText(), caller_);
      if (!h) {
        // CP/M 2.2 answers a function it does not have with A=0, HL=0.
        if (!sys_.noted[function_] && opt_.verbose && opt_.note)
          opt_.note("BDOS function " + std::to_string(function_) + " " + CallerText() + Where(caller_) +
                    " is not in CP/M 2.2; answered A=0, HL=0 (--strict stops here)");
        sys_.noted[function_] = true;
        h = &Machine::Ignored;
      }
      (this->*h)();
      if (m.refusedWrite >= 0) {
        const auto a = static_cast<uint16_t>(m.refusedWrite);
        return Stop(kFault,
                    "BDOS function " + std::to_string(function_) + " " + CallerText() + " was to write to " + Hex4(a) +
                        ", " + Region(a),
                    caller_);
      }
    } else {
      Bios(entry);
    }
    if (stopped_) return Trap::kStop;
    if (ended_) return Trap::kEnd;
    // Back to the caller as the RET at the end of the BDOS or BIOS would.
    const uint16_t sp = c.Get(Reg::SP), at = pc;
    pc = m.Word(sp);
    c.Set(Reg::SP, static_cast<uint16_t>(sp + 2));
    c.Set(Reg::PC, pc);
    tstates_ += 10;
    if (opt_.observer) opt_.observer->Served(at, pc, 10);
    if (!AtSystem(m, pc)) return Trap::kNone;
  }
}

Machine::Trap Machine::Serve(uint16_t from) {
  lastPc_ = from;
  stopped_ = ended_ = false;
  return Dispatch(cpu_->Get(Reg::PC));
}

int Machine::EndStatus() const {
  return !sys_.hasReturnCode ? 0 : sys_.returnCode >= 0xFF00 ? 1 : sys_.returnCode & 0xFF;
}

void Machine::TraceLine(uint16_t pc) {
  const Memory& m = *mem_;
  const Cpu& c = *cpu_;
  std::string text, bytes;
  const int n = Disassemble(m, pc, text);
  char b[160];
  for (int i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", m.bytes[static_cast<uint16_t>(pc + i)]);
    bytes += b;
  }
  std::snprintf(b, sizeof b, "%10llu %04X %-11s %-18s AF=%04X BC=%04X DE=%04X HL=%04X IX=%04X IY=%04X SP=%04X",
                static_cast<unsigned long long>(tstates_), pc, bytes.c_str(), text.c_str(), c.Get(Reg::AF),
                c.Get(Reg::BC), c.Get(Reg::DE), c.Get(Reg::HL), c.Get(Reg::IX), c.Get(Reg::IY), c.Get(Reg::SP));
  *opt_.trace << b;
  SourceLocation loc;
  if (opt_.source && opt_.source(pc, loc)) *opt_.trace << "  " << loc.file << ":" << loc.line << ": " << loc.text;
  *opt_.trace << '\n';
}

RunResult Machine::Run() {
  const auto start = std::chrono::steady_clock::now();
  Cpu& c = *cpu_;
  const Memory& m = *mem_;
  std::ostream* const trace = opt_.trace;
  profile::ExecutionObserver* const observer = opt_.observer;
  uint16_t pc = c.Get(Reg::PC);
  Trap trap = Trap::kNone;
  while (trap == Trap::kNone) {
    // Slices of about a million T-states, between which the console is
    // flushed and a request to stop is seen.
    uint64_t end = tstates_ + (1u << 20);
    if (opt_.maxTstates && end > opt_.maxTstates) end = opt_.maxTstates;
    while (tstates_ < end) {
      if (trace) {
        TraceLine(pc);
        lastPc_ = pc;
        const uint8_t op = m.bytes[pc], op2 = m.bytes[static_cast<uint16_t>(pc + 1)];
        const int t = c.Step();
        tstates_ += static_cast<uint64_t>(t);
        ++instructions_;
        if (observer) observer->Executed(pc, c.Get(Reg::PC), static_cast<uint32_t>(t), op, op2);
      } else if (observer) {
        tstates_ += c.RunObserved(m, end - tstates_, instructions_, lastPc_, *observer);
      } else {
        tstates_ += c.Run(m, end - tstates_, instructions_, lastPc_);
      }
      pc = c.Get(Reg::PC);
      if (AtSystem(m, pc) || m.refusedWrite >= 0 || c.Halted()) {
        trap = Dispatch(pc);
        if (trap != Trap::kNone) break;
        pc = c.Get(Reg::PC);
      }
    }
    if (trap != Trap::kNone) break;
    if (!console_.Flush()) {
      trap = Stop(kHostError, "cannot write to the console: " + console_.error, pc);
    } else if (const std::string failed = opt_.outputError ? opt_.outputError() : ""; !failed.empty()) {
      trap = Stop(kHostError, failed, pc);
    } else if (opt_.stop && opt_.stop->load()) {
      trap = Stop(kStopped, "stopped at " + Hex4(pc), pc);
    } else if (console_.QuitRequested()) {
      trap = Stop(kStopped, "stopped from the keyboard (Ctrl+] q) at " + Hex4(pc), pc);
    } else if (opt_.maxTstates && tstates_ >= opt_.maxTstates) {
      trap = Stop(kLimit,
                  "stopped at " + Hex4(pc) + " after " + std::to_string(tstates_) + " T-states (--max-tstates " +
                      std::to_string(opt_.maxTstates) + ")",
                  pc);
    }
  }
  disk_.CloseAll();
  if (trace) trace->flush();
  RunResult r;
  if (!console_.Flush() && !stopped_) Stop(kHostError, "cannot write to the console: " + console_.error, pc);
  if (!stopped_ && opt_.outputError)
    if (const std::string failed = opt_.outputError(); !failed.empty()) Stop(kHostError, failed, pc);
  if (stopped_) {
    r.status = stopStatus_;
    r.message = stopMessage_;
    r.address = caller_;
    if (opt_.source) r.hasSource = opt_.source(caller_, r.where);
    r.message += Where(caller_);
  } else {
    r.ended = true;
    r.status = EndStatus();
  }
  r.tstates = tstates_;
  r.instructions = instructions_;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return r;
}

}  // namespace orvane::runner
