// A debug session: one program, assembled from its source as a CP/M image
// and run on the runner's machine (the same BDOS, BIOS, drive A: and console
// as orvane-run, so it behaves the same run or debugged), or assembled for a
// Z80 board and run on orvane-run --board's machine, under the
// control of a debugger: breakpoints on statements with conditions and hit
// counts, data breakpoints, stepping into, over and out, pausing, and stepping
// back through a recorded history of the last instructions.
//
// The run-control calls (StepInto ... Restart) are synchronous: each runs the
// program until it stops and returns why. They and every other call except
// Pause must come from one thread at a time (a worker thread may do the run
// control while the caller's thread waits); Pause may be called from any
// thread at any time.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "debug/program_map.h"
#include "runner/console.h"

namespace orvane::debug {

// What a session is started with.
struct LaunchOptions {
  // The source: read from path, or when text is set that text, with path the
  // name messages give it.
  std::string path;
  std::optional<std::string> text;
  // The program's arguments: the command tail and the default FCBs.
  std::vector<std::string> args;
  // The host folder that is drive A:.
  std::string drive = ".";
  // The console the program reads and writes; must outlive the session.
  runner::Console* console = nullptr;
  // A run stops (as a runtime fault) when this many T-states have passed; 0: never.
  uint64_t maxTstates = 0;
  // The CP/M list device; nowhere when null.
  std::ostream* list = nullptr;
  // A BDOS function CP/M 2.2 does not have stops the run as a fault (as
  // orvane-run --strict does), and so does a write to 0000H-0002H or to the
  // BDOS and BIOS: the program being debugged is the user's own. False: it
  // is answered A=0, HL=0 and the writes are let through, as orvane-run does
  // by default.
  bool strict = true;
  // The machine: empty for CP/M; else a board, by the name of a built-in
  // profile or a board file's path. On a board the program is assembled as
  // for Intel HEX and loaded at its own addresses (ROM included), and starts
  // where END says (0000H without a start); args, drive and list do not
  // apply.
  std::string board;
  // Profile and coverage of the run, written when the session ends (also
  // by WriteProfile and WriteCoverage at any time) in the formats of
  // orvane-run --profile (callgrind) and --coverage (lcov); empty: none.
  // Each instruction of the run counts once, however often it was stepped
  // back over and run again. record: count without writing at the end.
  std::string profile, coverage;
  bool record = false;
};

enum class StopReason {
  kEntry,           // at the first instruction, before it runs
  kBreakpoint,      // at a breakpoint's statement, before it runs
  kStep,            // a step, step over, step out or run to a line ended
  kPause,           // Pause was called
  kDataBreakpoint,  // right after the instruction that wrote a watched byte
  kExited,          // the program ended; the session is over
  kException,       // a runtime fault: stopped AT the faulting instruction
};

// Why the program stopped and where.
struct Stop {
  StopReason reason = StopReason::kEntry;
  uint16_t address = 0;  // PC
  int line = 0;          // the source line of the statement at PC; 0 when none
  // For the status line: "Breakpoint at line 12", "Data breakpoint: COUNT
  // written at line 30", "Stopped: unknown BDOS function 99 at 0102H, line 4",
  // "Step at line 7", "Paused at line 9", "Exited with status 0".
  std::string description;
  // kException: the runner's message as orvane-run prints it (without
  // "orvane-run: "); kExited: the message of a fault the run ended on, or empty.
  std::string message;
  // kExited: orvane-run's exit status for this run; kException: the status
  // the run ends with when it is continued.
  int exitStatus = 0;
  int breakpoint = 0;       // kBreakpoint, kDataBreakpoint: the breakpoint's id
  uint16_t written = 0;     // kDataBreakpoint: the watched address written
  uint16_t writtenBy = 0;   // kDataBreakpoint: the address of the writing instruction
  // Stepping back reached the oldest instruction still recorded.
  bool historyStart = false;
  // Said once, beside the stop, for the status line or the debug console:
  // the history was cut ("Step back stops after line 12: deleting BIG.DAT,
  // 20,971,520 bytes, is too large to undo"); empty mostly.
  std::string note;
};

struct Breakpoint {
  int id = 0;
  uint16_t address = 0;
  int line = 0;               // the statement's line; 0 when the address has none
  std::string condition;      // "" or NAME OP VALUE
  int hitCount = 0;           // 0 or 1: every arrival; N: the Nth arrival (condition true) only
  int hits = 0;               // arrivals so far with the condition true
  // The condition cannot be read: why. Such a breakpoint never stops; it is
  // set again with a condition that can be.
  std::string error;
};

struct DataBreakpoint {
  int id = 0;
  uint16_t first = 0, last = 0;  // the watched bytes, first..last inclusive
  std::string name;              // how the description names it ("COUNT", "0200H")
};

// One CALL or RST, or an interrupt taken, whose return address is still on
// the stack.
struct Frame {
  uint16_t address = 0;  // frame 0: PC; further frames: the CALL or RST
  int line = 0;          // its statement's line; 0 when none
  uint16_t returnAddress = 0;  // further frames: where it returns to
  uint16_t slot = 0;           // further frames: where the return address lies on the stack
  // Further frames: an interrupt taken before the instruction at address
  // (returnAddress is the same), not a CALL or RST.
  bool interrupt = false;
};

// One disassembled instruction.
struct Instruction {
  uint16_t address = 0;
  std::vector<uint8_t> bytes;
  std::string text;  // "LD DE,010DH"
  int line = 0;      // the line of the statement starting here; 0 when none
};

// A value shown to the user: a register, a flag, a symbol or a byte.
struct Value {
  uint32_t value = 0;
  int width = 16;  // 1 (a flag), 8 or 16 bits
  // "0100H (256)", "3FH (63)", a flag "1".
  std::string Text() const;
};

class Session {
 public:
  // Assembles the source as a CP/M image and loads it, stopped at entry.
  // Null with errors set when it cannot be run: the assembly's error messages
  // ("prog.z80:3: Undefined Opcode"), an unreadable source, a drive folder
  // that cannot be opened, an image or arguments that do not fit.
  static std::unique_ptr<Session> Create(const LaunchOptions& options, std::vector<std::string>& errors);
  // The same for a program already assembled (options.path and .text are then
  // only the name messages give it).
  static std::unique_ptr<Session> Create(const LaunchOptions& options, ProgramMap program,
                                         std::vector<std::string>& errors);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const ProgramMap& program() const;
  const std::string& path() const;

  // ---- Run control. Each returns where the program stopped; once a stop
  // is kExited the session is over and every further call returns it again.
  Stop StepInto();   // one instruction (a BDOS or BIOS call is one)
  // One statement; a CALL or RST runs until it returns to the statement after
  // it, however deep it goes. A breakpoint or data breakpoint on the way stops
  // it first; the step over is then forgotten. On a board an interrupt taken
  // on the way runs through to its return the same way.
  Stop StepOver();
  // Runs until the current routine returns (its return address is taken off
  // the stack by RET, or by POP and a jump), stopping on the way at breakpoints.
  Stop StepOut();
  // Runs until a breakpoint, a data breakpoint, a fault, the end or a pause.
  // From the entry, a breakpoint on the first statement stops it at once
  // (its first arrival, counted and with its condition checked).
  Stop Continue();
  // Runs to address (or the first statement with code on line or after it),
  // stopping on the way at breakpoints.
  Stop RunTo(uint16_t address);
  Stop RunToLine(int line);
  // Undoes one instruction; registers, memory, T-states, the keys read and
  // drive A:'s folder are as they were before it (console output already
  // written stays written).
  Stop StepBack();
  // Undoes instructions until a breakpoint's statement or the instruction
  // that wrote a watched byte is reached, or the oldest recorded instruction.
  Stop ReverseContinue();
  // The program afresh from its start (the image reloaded, the history and the
  // hit counts cleared, breakpoints kept), stopped at entry.
  Stop Restart();
  // Ends the run as orvane-run ends a stopped run (status 8); returns the
  // kExited stop.
  Stop Terminate();
  // Asks the running call to stop (kPause) within a few milliseconds. Any
  // thread. A pause asked while no run-control call goes on is kept for the
  // next one (which then stops after one instruction; a step back or reverse
  // continue after at most 1024); every run-control call forgets the pause
  // when it returns.
  // A program waiting for a key (BDOS 1, 10, 6 with FDH, BIOS CONIN) waits
  // in the session while Console::Ready is false, so a pause stops it at the
  // call (PC at the CALL, nothing read); it reads the key when it goes on.
  void Pause();
  bool Ended() const;
  const Stop& LastStop() const;

  // ---- Breakpoints. Conditions: NAME OP VALUE, NAME a register (A F B C D E
  // H L AF BC DE HL IX IY SP PC AF' BC' DE' HL' I R), a flag (SF ZF HF PVF NF CF)
  // or (X), the byte at X, X a register pair, a symbol or a number; OP one of
  // == != < <= > >=; VALUE a number (decimal, &H hex, &O octal) or a symbol.
  // Returns the new id. A condition that cannot be read sets error (why,
  // and that the breakpoint does not stop until the condition is mended) and
  // the breakpoint's error: it is kept and listed, and never stops.
  int AddBreakpoint(uint16_t address, std::string_view condition, int hitCount, std::string& error);
  // At the first statement with code on line or after it; 0 with error set
  // when no line from there on has code.
  int AddBreakpointAtLine(int line, std::string_view condition, int hitCount, std::string& error);
  bool RemoveBreakpoint(int id);
  void ClearBreakpoints();
  std::vector<Breakpoint> Breakpoints() const;
  // Checks a condition without setting anything; error says what is wrong.
  bool CheckCondition(std::string_view condition, std::string& error) const;

  // Stops right after an instruction (or a BDOS call) writes a byte in
  // first..last. name is for the description; empty: the address in hex.
  int AddDataBreakpoint(uint16_t first, uint16_t last, std::string name);
  bool RemoveDataBreakpoint(int id);
  void ClearDataBreakpoints();
  std::vector<DataBreakpoint> DataBreakpoints() const;

  // ---- State while stopped.
  // The register, flag or pair names in the order a debugger lists them:
  // A F B C D E H L AF BC DE HL IX IY SP PC AF' BC' DE' HL' I R SF ZF HF PVF NF CF.
  static const std::vector<std::string>& RegisterNames();
  // By name (case-insensitive); empty for an unknown name. "H" and "C" are
  // the registers; the flags are "SF" "ZF" "HF" "PVF" "NF" "CF".
  std::optional<Value> Register(std::string_view name) const;
  // Sets a register, a pair or a flag (value's low bits); false for an
  // unknown name or an ended run. Names as Register takes them: "H" and "C"
  // are the registers, the flags H and C are "HF" and "CF". A change by the
  // user (here or in WriteMemory) starts the history afresh: the program goes
  // on from the changed state, and steps back stop there.
  bool SetRegister(std::string_view name, uint32_t value);
  uint64_t Tstates() const;           // since the start of the run
  int64_t TstatesSinceStop() const;  // since the stop before the last; below 0 after stepping back
  uint64_t Instructions() const;      // instructions run since the start
  uint8_t ReadByte(uint16_t address) const;
  std::vector<uint8_t> ReadMemory(uint16_t address, size_t count) const;  // wraps past FFFFH
  void WriteMemory(uint16_t address, const std::vector<uint8_t>& bytes);
  // Innermost first: frame 0 is PC, then each CALL or RST whose return
  // address is still on the stack.
  std::vector<Frame> CallStack() const;
  Instruction Disassemble(uint16_t address) const;
  // A register, a flag, a symbol, a number, or (X) the byte at X with X a
  // register pair, a symbol or a number. Empty with error set otherwise.
  std::optional<Value> Evaluate(std::string_view expression, std::string& error) const;
  // How many instructions StepBack can still undo.
  uint64_t HistoryDepth() const;
  // How many times an instruction has started at address in this run, as
  // far as the state shown goes: stepping back takes its runs off again, a
  // restart sets every count to 0. RunCounts holds all 65536, by address.
  uint32_t RunCount(uint16_t address) const;
  std::span<const uint32_t> RunCounts() const;
  // The profile and coverage of the run so far (when LaunchOptions asked
  // for them or for record); false with error set when there is none or
  // the file cannot be written.
  bool WriteProfile(const std::string& path, std::string& error) const;
  bool WriteCoverage(const std::string& path, std::string& error) const;

 private:
  Session();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvane::debug
