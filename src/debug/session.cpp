// The debug session.
//
// The session runs libz80ex itself, one instruction at a time, and keeps
// what each leaves in the history (history.h); breakpoints.h decides where
// it stops.
#include "debug/session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "debug/breakpoints.h"
#include "debug/expression.h"
#include "debug/history.h"
#include "driver/file_ops.h"
#include "driver/run.h"
#include "output/formats.h"
#include "profile/recorder.h"
#include "profile/writers.h"
#include "board/debug_board.h"
#include "machine/machine.h"
#include "runner/debug_machine.h"
#include "runner/disk.h"
#include "runner/machine.h"

namespace orvane::debug {

namespace {

using runner::Reg;

constexpr uint64_t kFlushEvery = 1u << 20;    // T-states between console flushes in a long run

// CALL nn, CALL cc,nn and RST p: the instructions that push a return address.
inline bool IsCall(uint8_t op) { return op == 0xCD || (op & 0xC7) == 0xC4 || (op & 0xC7) == 0xC7; }

struct Fault {
  int status = 0;
  std::string message, description;
  uint16_t at = 0;
};

}  // namespace

std::string Value::Text() const { return FormatValue(value, width); }

struct Session::Impl {
  LaunchOptions opt;
  std::optional<board::Profile> profile;  // a board's; none for CP/M
  std::string path;
  ProgramMap program;

  std::unique_ptr<runner::Disk> disk;  // the CP/M machine's drive A:
  std::unique_ptr<machine::Machine> machine;
  machine::Machine* cpu = nullptr;       // the machine, as the CPU it runs
  runner::DebugMachine* cpm = nullptr;   // the same when it is the CP/M machine
  board::DebugBoard* boardMachine = nullptr;  // the same when it is a board
  runner::Memory* mem = nullptr;
  std::set<uint64_t> interrupts;  // the steps that were interrupts taken
  // The profile and coverage: each live step once (a step run again from
  // the history is not counted again).
  std::unique_ptr<profile::Recorder> recorder;
  bool served = false;  // the step being recorded entered a call served at servedEntry in servedT
  uint16_t servedEntry = 0;
  uint32_t servedT = 0;
  bool written = false;  // the files were written at the end
  uint16_t entry = 0;    // where the program starts
  void Record(uint16_t from, uint8_t op, uint8_t op2, uint32_t tstates, uint16_t next) {
    if (cpu->Interrupted()) {
      recorder->Interrupted(from, next, tstates);
    } else if (served) {
      recorder->Executed(from, servedEntry, tstates, op, op2);
      recorder->Served(servedEntry, next, servedT);
    } else {
      recorder->Executed(from, next, tstates, op, op2);
    }
    served = false;
  }
  profile::ProgramInfo Info() const;
  bool Write(bool callgrind, const std::string& file, std::string& error) const;
  void WriteAtEnd();

  // Where the program stands: pos instructions run, live the most ever run
  // (pos < live after stepping back), t the T-states, cur the interval pos is
  // in and woff how many of its writes are in memory.
  uint64_t pos = 0, live = 0, t = 0;
  size_t cur = 0, woff = 0;
  History history;
  std::vector<uint32_t> scratch;  // the write log while replaying
  std::vector<uint32_t> runs = std::vector<uint32_t>(65536);  // instructions started at each address, up to pos

  std::optional<Fault> fault;  // the run stopped on this, at live
  bool ended = false;
  Stop last;
  uint64_t tPrevStop = 0, tLastStop = 0;
  std::atomic<bool> pause{false};
  uint64_t nextFlush = kFlushEvery;

  debug::Breakpoints bps;
  bool anyWatch = false;  // a data breakpoint is set (cleared while a stretch is rebuilt)
  // Set by a step: the watched byte written and the instruction that did it.
  bool dataHit = false;
  uint16_t dataAddress = 0, dataBy = 0;

  std::string Start();
  void NewInterval();
  void Trim();
  enum class Outcome { kOk, kEnded, kFault, kPaused };
  bool WaitForInput(uint16_t pc);
  void DropLast();
  bool atEntry = false;  // nothing has run since the start: the first arrival is still to be counted
  Outcome StepLive(uint16_t from, uint16_t& pc);
  void Interrupt(uint16_t from);
  Outcome ServeCall(uint16_t from, uint16_t& pc);
  Outcome AfterLive(uint16_t from, uint8_t op, uint16_t spBefore, size_t before, uint16_t& pc);
  uint64_t nextInterval = 0;  // where the next checkpoint goes
  void StepReplay();
  void AfterStep(uint16_t from, uint8_t op, uint16_t spBefore, const uint32_t* w, size_t n);
  bool StepBackOne(size_t& wroteFrom, size_t& wroteTo);
  void BuildFine(size_t interval, uint64_t target);
  void Rebase();
  void Poke(uint16_t a, uint8_t v) {
    if (mem->log) mem->log->push_back(uint32_t{a} << 8 | mem->bytes[a]);
    mem->bytes[a] = v;
  }
  void Watching() { anyWatch = bps.anyWatch(); }

  bool cutPending = false;  // a call's change to the folder was not kept: the history starts after it
  std::string note;         // for the next stop
  Stop Make(StopReason reason, std::string description);
  Stop Finish(int status, std::string message);
  Stop FaultStop();
  std::string At(uint16_t address) const {
    const int line = program.LineOf(address);
    return line ? "line " + std::to_string(line) : Hex4(address);
  }
  std::string Where(uint16_t address) const {
    const ProgramMap::Line* l = program.At(address);
    return l ? " (" + path + ":" + std::to_string(l->line) + ": " + l->text + ")" : "";
  }
  enum class Mode { kStep, kContinue, kUntil, kOut, kOver };
  struct Goal {
    Mode mode = Mode::kContinue;
    uint16_t pc = 0, sp = 0;  // kUntil: stop at pc (with SP == sp when checkSp)
    bool checkSp = false;
    uint16_t slot = 0, ret = 0;  // kOut
    // A step or step over runs an interrupt taken on the way through to its
    // return (kOut, inInterrupt), then goes on as resume.
    bool overInterrupts = false, inInterrupt = false;
    Mode resume = Mode::kStep;
  };
  Stop Run(Goal goal);
  template <class M>
  bool FastLive(M& c, const Goal& goal, uint16_t& from, uint16_t& pc, Outcome& o);
  Stop Reverse(bool toBreakpoint);
  bool Begin(Stop& out);
};

// ---- Loading.

std::string Session::Impl::Start() {
  // A new machine; the one before (on Restart) stays until this one is ready.
  std::unique_ptr<runner::Disk> newDisk;
  std::unique_ptr<machine::Machine> newMachine;
  runner::DebugMachine* newCpm = nullptr;
  board::DebugBoard* newBoard = nullptr;
  std::string error;
  if (profile) {
    board::BoardOptions bo;
    bo.source = program.Lookup(path);
    bo.strict = opt.strict;
    auto b = std::make_unique<board::DebugBoard>(*profile, *opt.console, bo);
    newBoard = b.get();
    for (const auto& [at, bytes] : program.pieces())
      if (!b->board().LoadBinary(bytes, at, error)) return error;
    b->board().Reset(program.start());
    newMachine = std::move(b);
  } else {
    newDisk = std::make_unique<runner::Disk>();
    if (!newDisk->Open(opt.drive)) return newDisk->error;
    newDisk->journal = &history.files;
    runner::RunOptions ro;
    ro.list = opt.list;
    ro.strict = opt.strict;
    ro.source = program.Lookup(path);
    auto c = std::make_unique<runner::DebugMachine>(history.input, *newDisk, ro);
    newCpm = c.get();
    if (!c->Load(program.image(), opt.args, error)) return error;
    newMachine = std::move(c);
  }
  if (machine && !ended) machine->CloseFiles();
  machine = std::move(newMachine);
  disk = std::move(newDisk);
  cpu = machine.get();
  history.machine = cpu;
  cpm = newCpm;
  boardMachine = newBoard;
  mem = &machine->memory();
  interrupts.clear();
  recorder.reset();
  if (opt.record || !opt.profile.empty() || !opt.coverage.empty())
    recorder = std::make_unique<profile::Recorder>(cpu->Pc());
  entry = cpu->Pc();
  served = written = false;
  pos = live = t = 0;
  cur = woff = 0;
  std::fill(runs.begin(), runs.end(), 0);
  history.Clear();
  history.stack.Clear();
  fault.reset();
  ended = false;
  tPrevStop = tLastStop = 0;
  nextFlush = kFlushEvery;
  bps.ResetHits();
  NewInterval();
  last = Make(StopReason::kEntry, "Entry at " + At(cpu->Pc()));
  atEntry = true;
  return "";
}

void Session::Impl::NewInterval() {
  Interval& i = history.Begin(pos, t, cpu->Save(), machine->SaveSystem(), machine->InputMark());
  cur = history.intervals.size() - 1;
  woff = 0;
  mem->log = &i.writes;
  nextInterval = pos + kInterval;
  cur -= history.Trim(live, cur);
  bps.Forget(history.first());
}

// ---- Forward.

void Session::Impl::AfterStep(uint16_t from, uint8_t op, uint16_t spBefore, const uint32_t* w, size_t n) {
  if (cpu->Interrupted()) [[unlikely]] {
    // The interrupt pushed the address of the instruction it came before,
    // or after a HALT it woke (libz80ex keeps PC on a HALT while it waits).
    const uint16_t sp = cpu->Sp(), ret = mem->Word(sp);
    if (ret == from || (ret == static_cast<uint16_t>(from + 1) && mem->bytes[from] == 0x76))
      history.stack.Push({sp, ret, from, true});
  } else if (IsCall(op)) {
    const uint16_t sp = cpu->Sp();
    if (sp == static_cast<uint16_t>(spBefore - 2)) history.stack.Push({sp, mem->Word(sp), from});
  }
  if (anyWatch) {
    for (size_t i = 0; i < n; ++i) {
      const auto a = static_cast<uint16_t>(w[i] >> 8);
      if (bps.watched()[a]) {
        dataHit = true;
        dataAddress = a;
        dataBy = from;
        break;
      }
    }
  }
}

// What follows an instruction that entered the BDOS or BIOS, had a write
// refused or halted: the machine serves it, and a served call is recorded.
[[gnu::noinline]] Session::Impl::Outcome Session::Impl::ServeCall(uint16_t from, uint16_t& pc) {
  std::vector<uint32_t>& w = *mem->log;
  woff = w.size();  // what a step back over this one undoes, should it not go on
  if (!WaitForInput(pc)) return Outcome::kPaused;
  const size_t cpuWrites = w.size();
  const uint64_t mt = machine->tstates();
  history.files.now = pos - 1;
  const auto trap = machine->Serve(from);
  if (std::string cut = history.files.TakeCut(); !cut.empty()) [[unlikely]] {
    // Not kept: nothing goes back past this call.
    cutPending = true;
    note = "Step back stops after " + At(from) + ": " + cut + ", is too large to undo";
  }
  t += machine->tstates() - mt;
  servedEntry = pc;
  servedT = static_cast<uint32_t>(machine->tstates() - mt);
  woff = w.size();
  if (trap == machine::Machine::Trap::kEnd) return Outcome::kEnded;
  if (trap == machine::Machine::Trap::kStop) return Outcome::kFault;
  CallRecord r;
  r.writes.reserve(w.size() - cpuWrites);
  r.cpuAfter = cpu->Save();
  r.tAfter = t;
  r.inputAfter = machine->InputMark();
  r.sys = machine->SaveSystem();
  for (size_t i = cpuWrites; i < w.size(); ++i) {
    const auto a = static_cast<uint16_t>(w[i] >> 8);
    r.writes.emplace_back(a, mem->bytes[a]);
  }
  history.AddCall(pos - 1, std::move(r));
  pc = cpu->Pc();
  served = true;
  return Outcome::kOk;
}

inline Session::Impl::Outcome Session::Impl::StepLive(uint16_t from, uint16_t& pc) {
  const uint8_t op = mem->bytes[from];
  const uint16_t spBefore = IsCall(op) ? cpu->Sp() : 0;
  const size_t before = mem->log->size();
  const uint8_t op2 = mem->bytes[static_cast<uint16_t>(from + 1)];
  const int tstates = cpu->Step();
  t += static_cast<uint64_t>(tstates);
  if (!cpu->Interrupted()) [[likely]]
    ++runs[from];
  ++pos;
  ++live;
  pc = cpu->Pc();
  const Outcome o = AfterLive(from, op, spBefore, before, pc);
  if (recorder && (o == Outcome::kOk || o == Outcome::kEnded)) [[unlikely]]
    Record(from, op, op2, static_cast<uint32_t>(tstates), pc);
  return o;
}

// The rest of a live step, after the CPU has run the instruction at from.
inline Session::Impl::Outcome Session::Impl::AfterLive(uint16_t from, uint8_t op, uint16_t spBefore, size_t before,
                                                       uint16_t& pc) {
  if (cpu->NeedsService(from, pc)) [[unlikely]] {
    if (cpu->Interrupted()) {
      interrupts.insert(pos - 1);
    } else {
      const Outcome o = ServeCall(from, pc);
      if (o != Outcome::kOk) return o;
    }
  }
  std::vector<uint32_t>& w = *mem->log;  // the last interval's writes
  woff = w.size();
  if (IsCall(op) || (anyWatch && woff != before) || cpu->Interrupted()) [[unlikely]]
    AfterStep(from, op, spBefore, w.data() + before, woff - before);
  if (pos >= nextInterval) [[unlikely]]
    NewInterval();
  if (cutPending) [[unlikely]] {
    cutPending = false;
    Rebase();
  }
  return Outcome::kOk;
}

// Runs live instructions in a tight loop while none of them needs a look:
// none is a CALL or RST, enters the system, writes a watched byte, ends at a
// breakpoint or at the goal, or reaches a checkpoint, a limit or a pause.
// True when it ran one that does (from is its address, o what AfterLive made
// of it); false when the next instruction, at pc, is a CALL or RST, not run.
template <class M>
bool Session::Impl::FastLive(M& c, const Goal& goal, uint16_t& from, uint16_t& pc, Outcome& o) {
  const runner::Memory& m = *mem;
  const std::vector<uint32_t>& w = *mem->log;
  const uint8_t* const bp = bps.at();
  const uint8_t* const watched = bps.watched();
  uint32_t* const runCount = runs.data();
  profile::Recorder* const rec = recorder.get();
  uint8_t op2 = 0;
  int dt = 0;
  const bool until = goal.mode == Mode::kUntil, watch = anyWatch;
  const uint16_t target = goal.pc;
  const uint64_t tEnd = std::min(nextFlush, opt.maxTstates ? opt.maxTstates : UINT64_MAX), pEnd = nextInterval;
  uint64_t tt = t, p = pos;
  uint16_t f = pc, q = pc;
  uint8_t op = 0;
  size_t before = 0;
  bool look = false;
  for (;;) {
    f = q;
    op = m.bytes[f];
    if (IsCall(op)) break;
    before = w.size();
    if (rec) [[unlikely]]
      op2 = m.bytes[static_cast<uint16_t>(f + 1)];
    dt = c.Step();
    tt += static_cast<uint64_t>(dt);
    runCount[f] += !c.Interrupted();
    ++p;
    q = c.Pc();
    bool hit = false;
    if (watch)
      for (size_t i = before; i < w.size(); ++i) hit |= watched[w[i] >> 8] != 0;
    if (c.NeedsService(f, q) || hit || p >= pEnd || tt >= tEnd ||
        bp[q] || (until && q == target) || pause.load(std::memory_order_relaxed)) {
      look = true;
      break;
    }
    if (rec) [[unlikely]]
      rec->Executed(f, q, static_cast<uint32_t>(dt), op, op2);
  }
  t = tt;
  pos = live = p;
  woff = w.size();
  pc = q;
  if (!look) return false;
  from = f;
  o = AfterLive(f, op, 0, before, pc);
  if (rec && (o == Outcome::kOk || o == Outcome::kEnded)) [[unlikely]]
    Record(f, op, op2, static_cast<uint32_t>(dt), pc);
  return true;
}

void Session::Impl::StepReplay() {
  const uint16_t from = cpu->Pc();
  const uint8_t op = mem->bytes[from];
  const uint16_t spBefore = IsCall(op) ? cpu->Sp() : 0;
  scratch.clear();
  mem->log = &scratch;
  t += static_cast<uint64_t>(cpu->Step());
  // Only a step the machine served made a call.
  if (const CallRecord* call = cpu->NeedsService(from, cpu->Pc()) ? history.Call(pos) : nullptr) {
    for (const auto& [a, v] : call->writes) Poke(a, v);
    cpu->Load(call->cpuAfter.data());
    t = call->tAfter;
    machine->SeekInput(call->inputAfter);
    machine->RestoreSystem(call->sys);
  }
  ++pos;
  woff += scratch.size();
  AfterStep(from, op, spBefore, scratch.data(), scratch.size());
  if (cur + 1 < history.intervals.size() && pos == history.intervals[cur + 1].first) {
    ++cur;
    woff = 0;
  }
  mem->log = pos == live ? &history.intervals.back().writes : &scratch;
}

// A call that waits for a key waits here, where a pause can stop it before
// anything is consumed; false when it was paused.
bool Session::Impl::WaitForInput(uint16_t pc) {
  if (!machine->WaitsForKey(pc)) return true;
  while (!history.input.Ready() && !history.input.Ended()) {
    if (pause.load(std::memory_order_relaxed)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// ---- Backward.

// Back to the start of an interval, then forward to target keeping the state
// before each instruction.
void Session::Impl::BuildFine(size_t interval, uint64_t target) {
  for (size_t k = cur + 1; k-- > interval;)
    history.Undo(*mem, k, 0, k == cur ? woff : history.intervals[k].writes.size());
  const Interval& iv = history.intervals[interval];
  Fine& fine = history.fine;
  cpu->Load(iv.cpu.data());
  t = iv.t;
  history.stack.UndoTo(iv.shadow);
  machine->SeekInput(iv.input);
  machine->RestoreSystem(iv.sys);
  pos = iv.first;
  cur = interval;
  woff = 0;
  mem->log = &scratch;
  fine.Clear();
  fine.first = iv.first;
  const size_t size = cpu->StateSize();
  const size_t count = static_cast<size_t>(target - iv.first + 1);
  fine.cpu.resize(count * size);
  fine.woff.resize(count);
  fine.t.resize(count);
  fine.shadow.resize(count);
  fine.input.resize(count);
  fine.sys.resize(count);
  const bool watch = anyWatch;
  anyWatch = false;
  for (;;) {
    const size_t i = fine.n++;
    cpu->Save(&fine.cpu[i * size]);
    fine.woff[i] = woff;
    fine.t[i] = t;
    fine.shadow[i] = history.stack.Mark();
    fine.input[i] = machine->InputMark();
    fine.sys[i] = machine->SaveSystem();
    if (pos == target) break;
    StepReplay();
  }
  anyWatch = watch;
}

// One instruction back; false at the oldest recorded one. [wroteFrom, wroteTo)
// are the undone instruction's writes in the current interval's log.
bool Session::Impl::StepBackOne(size_t& wroteFrom, size_t& wroteTo) {
  if (pos == history.first()) return false;
  const uint64_t target = pos - 1;
  const size_t interval = target >= history.intervals[cur].first ? cur : cur - 1;
  const size_t endWrites = interval == cur ? woff : history.intervals[interval].writes.size();
  const Fine& fine = history.fine;
  if (fine.Holds(history.intervals[interval].first, target)) {
    const size_t i = static_cast<size_t>(target - fine.first);
    history.Undo(*mem, interval, fine.woff[i], endWrites);
    cpu->Load(&fine.cpu[i * cpu->StateSize()]);
    t = fine.t[i];
    history.stack.UndoTo(fine.shadow[i]);
    machine->SeekInput(fine.input[i]);
    machine->RestoreSystem(fine.sys[i]);
    pos = target;
    cur = interval;
    woff = fine.woff[i];
  } else {
    BuildFine(interval, target);
  }
  bps.Undo(pos);
  if (interrupts.empty() || !interrupts.count(pos)) [[likely]]
    --runs[cpu->Pc()];
  if (history.files.Sync(pos)) machine->CloseFiles();  // a kept file may be another now
  wroteFrom = woff;
  wroteTo = endWrites;
  mem->log = &scratch;
  mem->refusedWrite = -1;
  return true;
}

// After the user changed the state: the history starts afresh here, and the
// program goes on live from here.
void Session::Impl::Rebase() {
  live = pos;
  fault.reset();
  interrupts.erase(interrupts.lower_bound(pos), interrupts.end());
  machine->Rebased();
  history.Clear();
  NewInterval();
}

// Takes the last instruction run back out of the history: a fault, or a call
// paused while it waited for a key, did not happen as far as the history goes.
void Session::Impl::DropLast() {
  mem->refusedWrite = -1;
  history.files.Drop(pos - 1);  // what it did to the folder stays done
  size_t a, b;
  StepBackOne(a, b);
  live = pos;
  history.stack.Truncate();
  history.intervals.back().writes.resize(woff);
  history.EraseCallsFrom(pos);
  interrupts.erase(interrupts.lower_bound(pos), interrupts.end());
  Fine& fine = history.fine;
  if (fine.first == history.intervals.back().first && fine.n > pos - fine.first + 1)
    fine.n = static_cast<size_t>(pos - fine.first + 1);
  mem->log = &history.intervals.back().writes;
}

// ---- Stops.

Stop Session::Impl::Make(StopReason reason, std::string description) {
  Stop s;
  s.reason = reason;
  s.address = cpu->Pc();
  s.line = program.LineOf(s.address);
  s.description = std::move(description);
  s.note.swap(note);
  tPrevStop = tLastStop;
  tLastStop = t;
  if (!opt.console->Flush() && !ended) {
    // The console is gone: the run ends as orvane-run's does.
    return Finish(runner::kHostError, "cannot write to the console: " + opt.console->error);
  }
  return s;
}

Stop Session::Impl::Finish(int status, std::string message) {
  ended = true;
  machine->CloseFiles();
  WriteAtEnd();
  opt.console->Flush();
  mem->log = nullptr;
  Stop s;
  s.reason = StopReason::kExited;
  s.address = cpu->Pc();
  s.line = program.LineOf(s.address);
  s.exitStatus = status;
  s.message = std::move(message);
  s.note.swap(note);
  s.description = "Exited with status " + std::to_string(status);
  last = s;
  return s;
}

Stop Session::Impl::FaultStop() {
  Stop s = Make(StopReason::kException, fault->description);
  if (s.reason == StopReason::kExited) return s;
  s.message = fault->message;
  s.exitStatus = fault->status;
  return s;
}

// Common start of a forward run: false with out set when it cannot go on.
bool Session::Impl::Begin(Stop& out) {
  if (ended) {
    out = last;
    return false;
  }
  if (fault && pos == live) {
    out = Finish(fault->status, fault->message);
    return false;
  }
  return true;
}

// A pause asked while no run goes on is kept for the next; one that a run
// has seen, or that came too late for it, goes with it.
struct PauseReset {
  std::atomic<bool>& pause;
  ~PauseReset() { pause = false; }
};

Stop Session::Impl::Run(Goal goal) {
  const PauseReset reset{pause};
  Stop out;
  if (!Begin(out)) return out;
  dataHit = false;
  // A breakpoint on the first statement: its first arrival is the start.
  const bool entry = atEntry;
  atEntry = false;
  if (entry && goal.mode != Mode::kStep && goal.mode != Mode::kOver && bps.at()[cpu->Pc()]) {
    if (const int id = bps.Arrive(cpu->Pc(), *cpu, *mem, pos)) {
      Stop s = Make(StopReason::kBreakpoint, "Breakpoint at " + At(cpu->Pc()));
      s.breakpoint = id;
      return last = s;
    }
  }
  uint16_t pc = cpu->Pc();
  // A long run needs a look only at some instructions; the others run in a
  // tight loop.
  const bool fast = goal.mode == Mode::kContinue || (goal.mode == Mode::kUntil && !goal.checkSp);
  for (;;) {
    uint16_t from = pc;
    if (pos == live) {
      Outcome o = Outcome::kOk;
      if (!fast || !(cpm ? FastLive(*cpm, goal, from, pc, o) : FastLive(*cpu, goal, from, pc, o))) {
        from = pc;
        o = StepLive(from, pc);
      }
      if (o == Outcome::kEnded) return last = Finish(machine->EndStatus(), "");
      if (o == Outcome::kPaused) {
        // Stopped at the call that waits for a key, as if it had not run.
        DropLast();
        return last = Make(StopReason::kPause, "Paused at " + At(cpu->Pc()));
      }
      if (o == Outcome::kFault) {
        Fault f;
        f.status = machine->stopStatus();
        f.at = machine->stopAddress();
        f.message = machine->stopMessage() + Where(f.at);
        std::string text = machine->stopMessage();
        const size_t called = text.find(" called from ");
        if (called != std::string::npos) text.replace(called, 13, " at ");
        f.description = "Stopped: " + text + ", " + At(f.at);
        DropLast();
        if (cutPending) {
          cutPending = false;
          Rebase();
        }
        fault = f;
        return last = FaultStop();
      }
      if (opt.maxTstates && t >= opt.maxTstates) {
        Fault f;
        f.status = runner::kLimit;
        f.at = cpu->Pc();
        f.message = "stopped at " + Hex4(f.at) + " after " + std::to_string(t) + " T-states (--max-tstates " +
                    std::to_string(opt.maxTstates) + ")" + Where(f.at);
        f.description = "Stopped: the T-state limit " + std::to_string(opt.maxTstates) + " reached at " +
                        Hex4(f.at) + ", " + At(f.at);
        fault = f;
        return last = FaultStop();
      }
      if (t >= nextFlush) {
        nextFlush = t + kFlushEvery;
        if (!opt.console->Flush())
          return last = Finish(runner::kHostError, "cannot write to the console: " + opt.console->error);
      }
    } else {
      StepReplay();
      if (!cpu->Interrupted()) [[likely]]
        ++runs[from];
      if (history.files.Sync(pos)) machine->CloseFiles();
      pc = cpu->Pc();
      if (pos == live && fault) return last = FaultStop();
    }
    if (goal.overInterrupts && !goal.inInterrupt && cpu->Interrupted()) [[unlikely]] {
      if (const auto& shadow = history.stack.frames(); !shadow.empty() && shadow.back().interrupt) {
        goal.resume = goal.mode;
        goal.mode = Mode::kOut;
        goal.slot = shadow.back().slot;
        goal.ret = shadow.back().ret;
        goal.inInterrupt = true;
      }
    }
    if (goal.mode == Mode::kStep) return last = Make(StopReason::kStep, "Step at " + At(pc));
    if (dataHit) {
      Stop s = Make(StopReason::kDataBreakpoint,
                    "Data breakpoint: " + bps.WatchName(dataAddress) + " written at " + At(dataBy));
      s.breakpoint = bps.WatchId(dataAddress);
      s.written = dataAddress;
      s.writtenBy = dataBy;
      return last = s;
    }
    if (bps.at()[pc]) {
      if (const int id = bps.Arrive(pc, *cpu, *mem, pos)) {
        Stop s = Make(StopReason::kBreakpoint, "Breakpoint at " + At(pc));
        s.breakpoint = id;
        return last = s;
      }
    }
    switch (goal.mode) {
      case Mode::kOver:
        // A CALL or RST that pushed its return address runs until the
        // routine is left, as a step out of it would; one that did not
        // (a condition false) was a step.
        if (const auto& shadow = history.stack.frames();
            cpu->Sp() == static_cast<uint16_t>(goal.sp - 2) && !shadow.empty() && shadow.back().site == from) {
          goal.mode = Mode::kOut;
          goal.slot = shadow.back().slot;
          goal.ret = shadow.back().ret;
          break;
        }
        return last = Make(StopReason::kStep, "Step at " + At(pc));
      case Mode::kUntil:
        if (pc == goal.pc && (!goal.checkSp || cpu->Sp() == goal.sp))
          return last = Make(StopReason::kStep, "Step at " + At(pc));
        break;
      case Mode::kOut: {
        const uint16_t sp = cpu->Sp();
        // The frame is gone once its return address is off the stack, and the
        // routine has left once control moves anywhere but to the next bytes.
        if (sp >= goal.slot + 2 && (pc == goal.ret || static_cast<uint16_t>(pc - from) > 4 || pc == from)) {
          if (!goal.inInterrupt) return last = Make(StopReason::kStep, "Step at " + At(pc));
          // Back from the interrupt: the step it came before is still to do.
          goal.inInterrupt = false;
          goal.mode = goal.resume;
        }
        break;
      }
      default:
        break;
    }
    if (pause.load(std::memory_order_relaxed)) return last = Make(StopReason::kPause, "Paused at " + At(pc));
  }
}

Stop Session::Impl::Reverse(bool toBreakpoint) {
  const PauseReset reset{pause};
  if (ended) return last;
  for (uint64_t n = 1;; ++n) {
    size_t from = 0, to = 0;
    if (!StepBackOne(from, to)) {
      Stop s = Make(StopReason::kStep, "Oldest recorded instruction, at " + At(cpu->Pc()));
      s.historyStart = true;
      return last = s;
    }
    const uint16_t pc = cpu->Pc();
    if (!toBreakpoint) return last = Make(StopReason::kStep, "Step back to " + At(pc));
    if (anyWatch) {
      const std::vector<uint32_t>& w = history.intervals[cur].writes;
      for (size_t i = from; i < to; ++i) {
        const auto a = static_cast<uint16_t>(w[i] >> 8);
        if (bps.watched()[a]) {
          Stop s = Make(StopReason::kDataBreakpoint, "Data breakpoint: " + bps.WatchName(a) + " written at " + At(pc));
          s.breakpoint = bps.WatchId(a);
          s.written = a;
          s.writtenBy = pc;
          return last = s;
        }
      }
    }
    if (bps.at()[pc]) {
      if (const int id = bps.Left(pc, *cpu, *mem, pos)) {
        Stop s = Make(StopReason::kBreakpoint, "Breakpoint at " + At(pc));
        s.breakpoint = id;
        return last = s;
      }
    }
    if ((n & 1023) == 0 && pause.load(std::memory_order_relaxed)) {
      return last = Make(StopReason::kPause, "Paused at " + At(pc));
    }
  }
}

// ---- The interface.

Session::Session() : impl_(std::make_unique<Impl>()) {}
Session::~Session() {
  if (impl_->machine && !impl_->ended) impl_->WriteAtEnd();
  if (impl_->machine && !impl_->ended) {
    impl_->machine->CloseFiles();
    impl_->opt.console->Flush();
  }
  if (impl_->mem) impl_->mem->log = nullptr;
}

namespace {

class Collector : public RunObserver {
 public:
  Collector(ProgramMap& map, std::vector<std::string>& errors, std::string name)
      : map_(map), errors_(errors), name_(std::move(name)) {}
  void StatementDone(const Statement& s) override { map_.Add(s); }
  void Reported(const Problem& p, const Statement& s, int64_t) override {
    if (p.IsError()) errors_.push_back(name_ + ":" + std::to_string(s.line) + ": " + p.text);
  }
  void Symbols(const SymbolTable& symbols, const CrossReference&) override { map_.SetSymbols(symbols); }

 private:
  ProgramMap& map_;
  std::vector<std::string>& errors_;
  std::string name_;
};

}  // namespace

std::unique_ptr<Session> Session::Create(const LaunchOptions& options, std::vector<std::string>& errors) {
  ProgramMap map;
  RunRequest request;
  request.path = options.path;
  request.text = options.text;
  request.format = &kCpmFormat;
  if (!options.board.empty()) {
    request.format = &kIntelHexFormat;
    map.PlaceAtAddresses();
  }
  Collector collector(map, errors, options.path);
  DiskFileSystem files;
  try {
    const RunResult r = Run(request, files, collector);
    if (r.statementsWithErrors != 0) {
      if (errors.empty()) errors.push_back(options.path + ": the program has errors");
      return nullptr;
    }
  } catch (const FileError& e) {
    errors.push_back(e.path() + ": " + e.reason());
    return nullptr;
  }
  return Create(options, std::move(map), errors);
}

std::unique_ptr<Session> Session::Create(const LaunchOptions& options, ProgramMap program,
                                         std::vector<std::string>& errors) {
  if (!options.console) {
    errors.push_back("a debug session needs a console");
    return nullptr;
  }
  std::unique_ptr<Session> s(new Session());
  Impl& d = *s->impl_;
  if (!options.board.empty()) {
    board::Profile profile;
    std::string error;
    if (!board::FindProfile(options.board, profile, error)) {
      errors.push_back(error);
      return nullptr;
    }
    if (!program.placedAtAddresses()) {
      errors.push_back("a program for a board is assembled at its own addresses, not as a CP/M image");
      return nullptr;
    }
    d.profile = std::move(profile);
  }
  d.opt = options;
  d.history.input.Bind(options.console);
  d.path = options.path;
  d.program = std::move(program);
  if (std::string error = d.Start(); !error.empty()) {
    errors.push_back(error);
    return nullptr;
  }
  return s;
}

const ProgramMap& Session::program() const { return impl_->program; }
const std::string& Session::path() const { return impl_->path; }

Stop Session::StepInto() { return impl_->Run({Impl::Mode::kStep}); }

Stop Session::StepOver() {
  Impl& d = *impl_;
  if (d.ended) return d.last;
  const uint16_t pc = d.cpu->Pc();
  const uint8_t op = d.mem->bytes[pc];
  const uint8_t op2 = d.mem->bytes[static_cast<uint16_t>(pc + 1)];
  // A CALL or RST, and the repeating block instructions, run until they are done.
  const bool block = op == 0xED && (op2 & 0xF4) == 0xB0;
  Impl::Goal g;
  // On a board an interrupt taken on the way is stepped over too.
  g.overInterrupts = d.boardMachine != nullptr;
  if (!IsCall(op) && !block) {
    if (!g.overInterrupts) return StepInto();
    g.mode = Impl::Mode::kStep;
    return d.Run(g);
  }
  g.mode = block ? Impl::Mode::kUntil : Impl::Mode::kOver;
  g.pc = static_cast<uint16_t>(pc + 2);
  g.sp = d.cpu->Sp();
  g.checkSp = true;
  return d.Run(g);
}

Stop Session::StepOut() {
  Impl& d = *impl_;
  if (d.ended) return d.last;
  const uint16_t sp = d.cpu->Sp();
  // The innermost return address still on the stack.
  const std::vector<Shadow>& shadow = d.history.stack.frames();
  size_t n = shadow.size();
  while (n > 0 && (shadow[n - 1].slot < sp || d.mem->Word(shadow[n - 1].slot) != shadow[n - 1].ret)) --n;
  if (n == 0) return Continue();
  Impl::Goal g;
  g.mode = Impl::Mode::kOut;
  g.slot = shadow[n - 1].slot;
  g.ret = shadow[n - 1].ret;
  return d.Run(g);
}

Stop Session::Continue() { return impl_->Run({Impl::Mode::kContinue}); }

Stop Session::RunTo(uint16_t address) {
  Impl::Goal g;
  g.mode = Impl::Mode::kUntil;
  g.pc = address;
  return impl_->Run(g);
}

Stop Session::RunToLine(int line) {
  const ProgramMap::Line* l = impl_->program.Resolve(line);
  if (!l) return Continue();
  return RunTo(l->address);
}

Stop Session::StepBack() { return impl_->Reverse(false); }
Stop Session::ReverseContinue() { return impl_->Reverse(true); }

Stop Session::Restart() {
  Impl& d = *impl_;
  if (std::string error = d.Start(); !error.empty()) return d.ended ? d.last : d.Finish(runner::kUsage, error);
  return d.last;
}

Stop Session::Terminate() {
  Impl& d = *impl_;
  if (d.ended) return d.last;
  return d.Finish(runner::kStopped, "stopped at " + Hex4(d.cpu->Pc()) + d.Where(d.cpu->Pc()));
}

void Session::Pause() { impl_->pause = true; }
bool Session::Ended() const { return impl_->ended; }
const Stop& Session::LastStop() const { return impl_->last; }

int Session::AddBreakpoint(uint16_t address, std::string_view condition, int hitCount, std::string& error) {
  Impl& d = *impl_;
  return d.bps.Add(address, d.program.LineOf(address), condition, hitCount, d.program, error);
}

int Session::AddBreakpointAtLine(int line, std::string_view condition, int hitCount, std::string& error) {
  const ProgramMap::Line* l = impl_->program.Resolve(line);
  if (!l) {
    error = "no statement with code on line " + std::to_string(line) + " or after it";
    return 0;
  }
  return AddBreakpoint(l->address, condition, hitCount, error);
}

bool Session::RemoveBreakpoint(int id) { return impl_->bps.Remove(id); }
void Session::ClearBreakpoints() { impl_->bps.Clear(); }
std::vector<Breakpoint> Session::Breakpoints() const { return impl_->bps.List(); }

bool Session::CheckCondition(std::string_view condition, std::string& error) const {
  return ParseCondition(condition, impl_->program, error).has_value();
}

int Session::AddDataBreakpoint(uint16_t first, uint16_t last, std::string name) {
  const int id = impl_->bps.AddData(first, last, std::move(name));
  impl_->Watching();
  return id;
}

bool Session::RemoveDataBreakpoint(int id) {
  const bool removed = impl_->bps.RemoveData(id);
  impl_->Watching();
  return removed;
}

void Session::ClearDataBreakpoints() {
  impl_->bps.ClearData();
  impl_->Watching();
}

std::vector<DataBreakpoint> Session::DataBreakpoints() const { return impl_->bps.Data(); }

const std::vector<std::string>& Session::RegisterNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (int i = 0; i < kRegisterCount; ++i) v.emplace_back(RegisterName(i));
    return v;
  }();
  return names;
}

std::optional<Value> Session::Register(std::string_view name) const {
  const int i = FindRegister(name);
  if (i < 0) return std::nullopt;
  return Value{ReadRegister(*impl_->cpu, i), RegisterWidth(i)};
}

bool Session::SetRegister(std::string_view name, uint32_t value) {
  Impl& d = *impl_;
  const int i = FindRegister(name);
  if (i < 0 || d.ended) return false;
  WriteRegister(*d.cpu, i, value);
  d.Rebase();
  return true;
}

uint64_t Session::Tstates() const { return impl_->t; }
int64_t Session::TstatesSinceStop() const {
  const uint64_t last = impl_->tLastStop, previous = impl_->tPrevStop;
  return last >= previous ? static_cast<int64_t>(last - previous) : -static_cast<int64_t>(previous - last);
}
uint64_t Session::Instructions() const { return impl_->pos; }
uint8_t Session::ReadByte(uint16_t address) const { return impl_->mem->bytes[address]; }

std::vector<uint8_t> Session::ReadMemory(uint16_t address, size_t count) const {
  std::vector<uint8_t> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = impl_->mem->bytes[static_cast<uint16_t>(address + i)];
  return v;
}

void Session::WriteMemory(uint16_t address, const std::vector<uint8_t>& bytes) {
  Impl& d = *impl_;
  if (d.ended) return;
  for (size_t i = 0; i < bytes.size(); ++i) d.mem->bytes[static_cast<uint16_t>(address + i)] = bytes[i];
  d.Rebase();
}

std::vector<Frame> Session::CallStack() const {
  const Impl& d = *impl_;
  std::vector<Frame> frames;
  const uint16_t pc = d.cpu->Pc();
  frames.push_back({pc, d.program.LineOf(pc), 0, 0});
  const uint16_t sp = d.cpu->Sp();
  const std::vector<Shadow>& shadow = d.history.stack.frames();
  for (size_t i = shadow.size(); i-- > 0;) {
    const Shadow& s = shadow[i];
    if (s.slot < sp || d.mem->Word(s.slot) != s.ret) continue;
    frames.push_back({s.site, d.program.LineOf(s.site), s.ret, s.slot, s.interrupt});
  }
  return frames;
}

Instruction Session::Disassemble(uint16_t address) const {
  Instruction in;
  in.address = address;
  const int n = runner::Disassemble(*impl_->mem, address, in.text);
  for (int i = 0; i < n; ++i) in.bytes.push_back(impl_->mem->bytes[static_cast<uint16_t>(address + i)]);
  const ProgramMap::Line* l = impl_->program.At(address);
  in.line = l ? l->line : 0;
  return in;
}

std::optional<Value> Session::Evaluate(std::string_view expression, std::string& error) const {
  const auto o = ParseOperand(expression, impl_->program, error);
  if (!o) return std::nullopt;
  return Value{o->Eval(*impl_->cpu, *impl_->mem), o->width};
}

uint64_t Session::HistoryDepth() const {
  return impl_->history.intervals.empty() ? 0 : impl_->pos - impl_->history.first();
}

uint32_t Session::RunCount(uint16_t address) const { return impl_->runs[address]; }

// What the profile's and the coverage's writers need of the program.
profile::ProgramInfo Session::Impl::Info() const {
  profile::ProgramInfo info;
  info.command = path;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  info.source = ec ? path : absolute.lexically_normal().string();
  std::map<uint16_t, int> lines;
  std::map<uint16_t, std::string> names;
  for (const auto& [address, l] : program.lines()) {
    lines[address] = l.line;
    if (l.instruction) info.instructions.push_back({address, l.line, l.conditional});
  }
  // A label names the address of the statement it stands on.
  for (const ProgramMap::Symbol& sym : program.symbols())
    if (const ProgramMap::Line* l = program.At(static_cast<uint16_t>(sym.value)); l && l->line == sym.line)
      names.emplace(l->address, sym.name);
  info.LookUpIn(std::move(lines), std::move(names));
  info.routines.push_back(entry);
  for (const profile::ProgramInfo::Instruction& in : info.instructions) {
    const uint8_t op = mem->bytes[in.address];
    if (op == 0xCD || (op & 0xC7) == 0xC4)
      info.routines.push_back(mem->Word(static_cast<uint16_t>(in.address + 1)));
    else if ((op & 0xC7) == 0xC7)
      info.routines.push_back(op & 0x38);
  }
  return info;
}

bool Session::Impl::Write(bool callgrind, const std::string& file, std::string& error) const {
  if (!recorder) return error = "the session does not record a profile", false;
  // The writers want the routines still running closed: a copy is closed.
  profile::Recorder r = *recorder;
  r.Finish();
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (out) (callgrind ? profile::WriteCallgrind : profile::WriteLcov)(r, Info(), out);
  out.close();
  if (!out) return error = "cannot write " + file, false;
  return true;
}

void Session::Impl::WriteAtEnd() {
  if (written || !recorder) return;
  written = true;
  std::string error;
  for (const auto& [callgrind, file] : {std::pair{true, &opt.profile}, std::pair{false, &opt.coverage}}) {
    if (file->empty() || Write(callgrind, *file, error)) continue;
    note += (note.empty() ? "" : "; ") + error;
  }
}

bool Session::WriteProfile(const std::string& path, std::string& error) const {
  return impl_->Write(true, path, error);
}
bool Session::WriteCoverage(const std::string& path, std::string& error) const {
  return impl_->Write(false, path, error);
}
std::span<const uint32_t> Session::RunCounts() const { return impl_->runs; }

}  // namespace orvane::debug
