#include "app/debug_driver.h"

#include <chrono>
#include <filesystem>

namespace orvane {

namespace {

const char* const kPairs[] = {"AF", "BC", "DE", "HL", "AF'", "BC'", "DE'", "HL'", "IX", "IY", "SP", "PC"};

}  // namespace

DebugDriver::DebugDriver(debug::ProgramMap program, runner::Console& console, std::string name, std::string dir,
                         std::string board)
    : console_(console) {
  debug::LaunchOptions options;
  options.board = std::move(board);
  // The source in its folder: the profile and coverage name it so, and
  // KCachegrind and genhtml find it wherever the window was started.
  options.path = std::filesystem::path(name).is_absolute() || dir.empty()
                     ? name
                     : (std::filesystem::path(dir) / name).lexically_normal().string();
  options.drive = std::move(dir);
  options.console = &console_;
  options.record = true;  // the window saves the profile and coverage when asked
  session_ = debug::Session::Create(options, std::move(program), createErrors_);
}

DebugDriver::~DebugDriver() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  // Asked until the worker has gone, whatever the run it may be starting.
  while (worker_.joinable() && !done_) {
    session_->Pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (worker_.joinable()) worker_.join();
}

void DebugDriver::Start() {
  if (!session_) {
    std::lock_guard lock(mutex_);
    state_.running = false;
    state_.closed = true;
    for (const std::string& e : createErrors_) state_.status += (state_.status.empty() ? "" : "\n") + e;
    if (state_.status.empty()) state_.status = "The program cannot be debugged";
    ++state_.stops;
    fresh_ = true;
    return;
  }
  Publish(true);  // stopped at entry
  worker_ = std::thread([this] { Loop(); });
}

void DebugDriver::Loop() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
      if (quit_) {
        done_ = true;
        return;
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

void DebugDriver::Queue(std::function<void()> job, bool pauseToo) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    // Under the lock: the worker notes under it that a run has returned, so
    // a pause never outlives the run it was meant for by more than a moment.
    if (pauseToo && busy_) {
      resume_ = true;
      session_->Pause();
    }
  }
  wake_.notify_all();
}

void DebugDriver::Post(Command command, uint16_t address) {
  if (!session_) return;
  {
    std::lock_guard lock(mutex_);
    if (busy_) return;
    busy_ = true;
  }
  Queue([this, command, address] { Run(command, address); }, false);
}

void DebugDriver::Run(Command command, uint16_t address) {
  debug::Session& s = *session_;
  for (;;) {
    debug::Stop stop;
    switch (command) {
      case Command::kContinue: stop = s.Continue(); break;
      case Command::kStepInto: stop = s.StepInto(); break;
      case Command::kStepOver: stop = s.StepOver(); break;
      case Command::kStepOut: stop = s.StepOut(); break;
      case Command::kStepBack: stop = s.StepBack(); break;
      case Command::kReverseContinue: stop = s.ReverseContinue(); break;
      case Command::kRunTo: stop = s.RunTo(address); break;
      case Command::kRestart: stop = s.Restart(); break;
    }
    std::deque<std::function<void()>> changes;
    bool resume = false;
    {
      std::lock_guard lock(mutex_);
      if (terminate_ || quit_) break;
      // Breakpoints changed while it ran: they are set, and a run that was
      // only paused for them goes on.
      resume = resume_ && stop.reason == debug::StopReason::kPause &&
               (command == Command::kContinue || command == Command::kRunTo);
      resume_ = false;
      if (!resume) break;
      changes.swap(jobs_);
    }
    for (auto& change : changes) change();
  }
  bool terminate = false;
  {
    std::lock_guard lock(mutex_);
    terminate = terminate_;
    terminate_ = false;
  }
  if (terminate) s.Terminate();
  Publish(true);
}

void DebugDriver::SetBreakpoint(const DebugBreakpoint& b) {
  if (!session_) return;
  Queue(
      [this, b] {
        if (const auto it = breakpointIds_.find(b.address); it != breakpointIds_.end()) {
          session_->RemoveBreakpoint(it->second);
          breakpointIds_.erase(it);
        }
        std::string error;
        const int id = session_->AddBreakpoint(b.address, b.condition, static_cast<int>(b.hitCount), error);
        if (id != 0) breakpointIds_[b.address] = id;
        if (!error.empty())
          error_ = "Condition \"" + b.condition + "\" at " + debugview::HexAddress(b.address) + ": " + error;
        if (!Busy()) Publish(false);
      },
      true);
}

void DebugDriver::ClearBreakpoint(uint16_t address) {
  if (!session_) return;
  Queue(
      [this, address] {
        if (const auto it = breakpointIds_.find(address); it != breakpointIds_.end()) {
          session_->RemoveBreakpoint(it->second);
          breakpointIds_.erase(it);
        }
      },
      true);
}

void DebugDriver::SetDataBreakpoint(uint16_t address, const std::string& name, bool on) {
  if (!session_) return;
  Queue(
      [this, address, name, on] {
        if (const auto it = dataIds_.find(address); it != dataIds_.end()) {
          session_->RemoveDataBreakpoint(it->second);
          dataIds_.erase(it);
        }
        if (on) dataIds_[address] = session_->AddDataBreakpoint(address, address, name);
      },
      true);
}

void DebugDriver::WriteMemory(uint16_t address, uint8_t value) {
  if (!session_) return;
  Queue(
      [this, address, value] {
        session_->WriteMemory(address, {value});
        if (!Busy()) Publish(false);
      },
      false);
}

void DebugDriver::SetRegister(const std::string& name, uint16_t value) {
  if (!session_) return;
  Queue(
      [this, name, value] {
        if (!session_->SetRegister(name, value)) error_ = "The register " + name + " cannot be set now";
        if (!Busy()) Publish(false);
      },
      false);
}

void DebugDriver::Pause() {
  if (!session_) return;
  // Only while a command is posted or runs: the session keeps a pause asked
  // between runs for the next one.
  std::lock_guard lock(mutex_);
  if (busy_) session_->Pause();
}

void DebugDriver::Stop() {
  if (!session_) return;
  {
    std::lock_guard lock(mutex_);
    if (busy_) {
      terminate_ = true;
      session_->Pause();
      return;
    }
  }
  Queue(
      [this] {
        {
          std::lock_guard lock(mutex_);
          busy_ = true;
        }
        session_->Terminate();
        Publish(true);
      },
      false);
}

bool DebugDriver::Write(Record what, const std::string& path) {
  if (!session_ || Busy()) return false;
  Queue(
      [this, what, path] {
        const bool profile = what == Record::kProfile;
        std::string error;
        const bool ok = profile ? session_->WriteProfile(path, error) : session_->WriteCoverage(path, error);
        note_ = std::string(profile ? "Profile" : "Coverage") + (ok ? " written to " + path : " not written: " + error);
        if (!Busy()) Publish(false);
      },
      false);
  return true;
}

bool DebugDriver::Busy() {
  std::lock_guard lock(mutex_);
  return busy_;
}

void DebugDriver::Publish(bool stopped) {
  const debug::Session& s = *session_;
  DebugState next;
  next.running = false;
  const debug::Stop& stop = s.LastStop();
  next.ended = stop.reason == debug::StopReason::kExited;
  next.fault = stop.reason == debug::StopReason::kException;
  next.status = stop.description;
  // The end that follows a fault keeps its reason: "Exited with status 3
  // after: unknown BDOS function 99 at 010AH, line 9".
  if (next.fault) {
    fault_ = {stop.exitStatus, stop.description.substr(stop.description.rfind("Stopped: ", 0) == 0 ? 9 : 0)};
  } else if (next.ended && fault_ && fault_->first == stop.exitStatus) {
    next.status += " after: " + fault_->second;
  } else if (!next.ended) {
    fault_.reset();
  }
  if (!stop.note.empty()) next.status = stop.note + "\n" + next.status;
  next.line = stop.line;
  uint16_t* fields[] = {&next.registers.af,  &next.registers.bc,  &next.registers.de, &next.registers.hl,
                        &next.registers.af2, &next.registers.bc2, &next.registers.de2, &next.registers.hl2,
                        &next.registers.ix,  &next.registers.iy,  &next.registers.sp, &next.registers.pc};
  for (size_t i = 0; i < std::size(kPairs); ++i)
    if (const auto v = s.Register(kPairs[i])) *fields[i] = static_cast<uint16_t>(v->value);
  if (const auto v = s.Register("I")) next.registers.i = static_cast<uint8_t>(v->value);
  if (const auto v = s.Register("R")) next.registers.r = static_cast<uint8_t>(v->value);
  next.tstates = s.Tstates();
  next.tstatesSinceStop = s.TstatesSinceStop();
  next.memory = s.ReadMemory(0, 0x10000);
  const auto runs = s.RunCounts();
  next.runs.assign(runs.begin(), runs.end());
  const std::vector<debug::Frame> frames = s.CallStack();
  for (const debug::Frame& f : frames) {
    DebugFrame frame{f.line, f.address, {}};
    if (const auto* line = s.program().At(f.address)) {
      frame.text = line->text;
    } else {
      frame.text = s.Disassemble(f.address).text;
    }
    // An interrupt came before the instruction at its address.
    if (f.interrupt) frame.text = "interrupt, before " + frame.text;
    next.stack.push_back(std::move(frame));
  }
  std::lock_guard lock(mutex_);
  next.stops = state_.stops + (stopped ? 1 : 0);
  next.version = state_.version + 1;
  next.error.swap(error_);
  next.note.swap(note_);
  state_ = std::move(next);
  if (stopped) busy_ = false;
  fresh_ = true;
}

bool DebugDriver::TakeState(DebugState& state) {
  std::lock_guard lock(mutex_);
  if (!fresh_) return false;
  fresh_ = false;
  state = state_;
  return true;
}

}  // namespace orvane
