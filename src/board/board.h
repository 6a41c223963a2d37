// A Z80 single-board computer: ROM and RAM in 256-byte pages, the 68B50,
// SIO/2 and CTC at their ports, the maskable interrupt in IM 0, 1 and 2 with
// the vector a device puts on the bus, NMI, and HALT that waits for an
// interrupt. The CPU is libz80ex.
//
// A debugger drives it one Step at a time: an instruction, or an interrupt
// taken (which is one step of its own). Save and Restore copy the CPU and the
// devices; the memory's changes are noted in memory().log as on the CP/M
// machine.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "board/devices.h"
#include "runner/cpu.h"
#include "runner/machine.h"

struct _z80_cpu_context;

namespace orvane::board {

// "3FH", "0123H": a byte and an address as the board's messages write them.
std::string Hex2(unsigned v);
std::string Hex4(unsigned v);

enum class Kind : uint8_t { kNone, kRom, kRam };

struct Region {
  Kind kind = Kind::kRam;
  uint32_t first = 0, last = 0;  // inclusive, on 256-byte pages
};

struct DeviceSpec {
  enum Type { kAcia, kSio, kCtc } type = kAcia;
  uint8_t port = 0;
  std::array<uint32_t, 4> trigger{};  // CTC: Hz on CLK/TRG0-3 (0: not wired)
};

struct Profile {
  std::string name;
  uint32_t clock = 7372800;
  std::vector<Region> regions;
  // In daisy-chain order, highest priority first. The first serial device is
  // the console.
  std::vector<DeviceSpec> devices;
  // "ROM 0000H-1FFFH, RAM 8000H-FFFFH, 68B50 ACIA at 80H"
  std::string Describe() const;
};

// The built-in profiles, the first the default.
const std::vector<Profile>& Profiles();
// A profile by name, or read from the board file at path; false with error
// set ("board.txt:3: ...") when neither works.
bool FindProfile(const std::string& nameOrFile, Profile& profile, std::string& error);
// A board file's text as a profile; error names the line.
bool ParseBoardFile(const std::string& text, const std::string& name, Profile& profile, std::string& error);

using Device = std::variant<Acia, Sio, Ctc>;

struct BoardOptions {
  uint64_t maxTstates = 0;  // 0: no limit
  std::ostream* trace = nullptr;
  runner::SourceLookup source;
  const std::atomic<bool>* stop = nullptr;
  bool strict = false;      // a write to ROM or to no memory stops the run
  bool realTime = false;    // keep the profile's clock rate
  std::function<std::string()> outputError;
  // Told of every instruction and every interrupt taken (a profile, coverage).
  profile::ExecutionObserver* observer = nullptr;
};

class Board {
 public:
  Board(const Profile& profile, SerialLine& console, BoardOptions options = {});
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  // Intel HEX (record types 00 and 01) into ROM and RAM; the end record's
  // address becomes the start. False with error naming the line.
  bool LoadHex(const std::string& text, std::string& error);
  // Raw bytes at address.
  bool LoadBinary(const std::vector<uint8_t>& bytes, uint16_t address, std::string& error);
  uint16_t start() const { return start_; }
  // Who is told of each instruction from now on (null: nobody).
  void Observe(profile::ExecutionObserver* observer) { opt_.observer = observer; }
  // The CPU as after RESET, with PC at pc.
  void Reset(uint16_t pc);

  // One step: an NMI or a maskable interrupt taken when one is due and the
  // CPU takes it, else one instruction with its prefixes. Returns the kind
  // and its T-states. A step that faulted or halted with interrupts off
  // leaves stopStatus() set.
  enum class StepKind { kInstruction, kInterrupt, kNmi };
  StepKind Step(int& tstates);
  void Nmi() { nmi_ = true; }

  runner::RunResult Run();

  // What a debugger keeps per step besides the memory.
  struct State {
    std::array<uint16_t, 18> regs{};  // libz80ex's registers, IM and IFF1/2 included
    std::vector<Device> devices;
    uint64_t tstates = 0, instructions = 0;
    bool nmi = false;
  };
  State Save() const;
  void Restore(const State& s);
  // The same as bytes, for a debugger's history: the CPU's whole context
  // (HALT and MEMPTR included, which State leaves out), the devices and the
  // clocks. A stop left by a step is cleared by LoadState.
  size_t StateSize() const;
  void SaveState(uint8_t* out) const;
  void LoadState(const uint8_t* in);
  uint16_t stopAddress() const { return stopAt_; }

  runner::Memory& memory() { return mem_; }
  uint16_t Get(runner::Reg r) const;
  void Set(runner::Reg r, uint16_t value);
  bool Halted() const;
  uint64_t tstates() const { return now_; }
  int stopStatus() const { return stopStatus_; }
  const std::string& stopMessage() const { return stopMessage_; }
  std::vector<Device>& devices() { return devices_; }
  const Profile& profile() const { return profile_; }

  // The libz80ex callbacks.
  uint8_t PortIn(uint16_t port);
  void PortOut(uint16_t port, uint8_t value);
  void RomWrite(uint16_t address);
  void Reti();
  uint8_t vectorOnBus() const { return vector_; }
  Kind page(uint16_t a) const { return pages_[a >> 8]; }

 private:
  void Update();  // the interrupt line and the next device event
  template <bool kObserved>
  uint16_t RunFast(uint64_t until, uint16_t pc, uint16_t& from);
  void Events();
  void Stop(int status, const std::string& message, uint16_t at);
  bool TakeInterrupt(int& tstates);
  // At a HALT with interrupts enabled and none pending: ends the run when no
  // device can ever wake it (true), as a real board would hang there.
  bool EndHopelessHalt(uint16_t from);
  void TraceLine(uint16_t pc);
  std::string Where(uint16_t address) const;

  Profile profile_;
  SerialLine& console_;
  BoardOptions opt_;
  runner::Memory mem_;
  std::array<Kind, 256> pages_{};
  std::vector<Device> devices_;
  std::vector<uint8_t> ports_;    // the device at each port + 1, 0 for none
  std::vector<uint8_t> regs_;     // the register each port reaches
  _z80_cpu_context* cpu_ = nullptr;
  uint16_t start_ = 0;
  uint64_t now_ = 0, instructions_ = 0, nextEvent_ = kNever;
  bool irq_ = false, nmi_ = false, break_ = false;
  uint8_t vector_ = 0xFF;
  // The end of input: status reads in a row that found nothing.
  uint64_t idlePolls_ = 0, lastPollAt_ = 0;
  int32_t faultAt_ = -1;
  int stopStatus_ = 0;
  uint16_t stopAt_ = 0;
  std::string stopMessage_;
};

}  // namespace orvane::board
