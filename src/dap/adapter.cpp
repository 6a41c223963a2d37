#include "dap/adapter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>

#include "debug/expression.h"
#include "front/numbers.h"

namespace orvane::dap {

namespace fs = std::filesystem;
using debug::Stop;
using debug::StopReason;

namespace {

constexpr int kThread = 1;
constexpr int kRegisters = 1, kSymbols = 2;  // variablesReference of the two scopes

// The requests that run the program (or may start its run).
bool IsRun(const std::string& c) {
  return c == "continue" || c == "next" || c == "stepIn" || c == "stepOut" || c == "stepBack" ||
         c == "reverseContinue" || c == "configurationDone" || c == "launch";
}

bool IsRunControl(const std::string& c) { return IsRun(c) || c == "terminate" || c == "disconnect"; }

std::string Trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

// A hit condition: a number N above 0 (stop on the Nth arrival).
std::optional<int> HitCount(const json& bp, std::string& error) {
  const auto it = bp.find("hitCondition");
  if (it == bp.end() || !it->is_string() || Trimmed(it->get<std::string>()).empty()) return 0;
  const auto n = ParseNumber(it->get<std::string>());
  if (!n || *n < 1 || *n > 0x7FFFFFFF) {
    error = "hit count '" + it->get<std::string>() + "' is not a number above 0";
    return std::nullopt;
  }
  return static_cast<int>(*n);
}

std::string Condition(const json& bp) {
  const auto it = bp.find("condition");
  return it != bp.end() && it->is_string() ? Trimmed(it->get<std::string>()) : std::string();
}

std::string SamePath(const std::string& a) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(fs::absolute(a, ec), ec);
  return ec ? a : p.string();
}

const char* ReasonName(StopReason r) {
  switch (r) {
    case StopReason::kEntry: return "entry";
    case StopReason::kBreakpoint: return "breakpoint";
    case StopReason::kStep: return "step";
    case StopReason::kPause: return "pause";
    case StopReason::kDataBreakpoint: return "data breakpoint";
    case StopReason::kException: return "exception";
    case StopReason::kExited: break;
  }
  return "exited";
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (uint8_t b : bytes) {
    if (!s.empty()) s += ' ';
    AppendHex2(s, b);
  }
  return s;
}

// What a launch reads whole: the console input, and the source (which the
// assembler reads again in each pass).
constexpr int64_t kMaxInput = int64_t{16} << 20, kMaxSource = int64_t{64} << 20;

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

// The bytes of a regular file of at most limit bytes (into, when it is not
// null); false with error set otherwise. A FIFO or a device is refused
// without waiting on it or reading it.
bool ReadRegular(const std::string& path, int64_t limit, std::string* into, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    error = std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = std::string("it is ") + KindOf(st.st_mode) + ", not a regular file";
  } else if (st.st_size > limit) {
    error = "it is larger than " + std::to_string(limit >> 20) + " MiB";
  }
  char buf[65536];
  while (error.empty() && into) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = std::strerror(errno);
    if (n <= 0) break;
    into->append(buf, static_cast<size_t>(n));
    // A file that grows while it is read.
    if (static_cast<int64_t>(into->size()) > limit) error = "it is larger than " + std::to_string(limit >> 20) + " MiB";
  }
  close(fd);
  return error.empty();
}

// A whole number argument from low to high, fallback when it is absent;
// empty with error set when it is something else.
std::optional<int64_t> Whole(const json& args, const char* key, int64_t low, int64_t high, int64_t fallback,
                             std::string& error) {
  const auto it = args.find(key);
  if (it == args.end() || it->is_null()) return fallback;
  bool fits = false;
  int64_t v = 0;
  if (it->is_number_unsigned()) {
    fits = it->get<uint64_t>() <= static_cast<uint64_t>(high);
    v = fits ? static_cast<int64_t>(it->get<uint64_t>()) : 0;
  } else if (it->is_number_integer()) {
    v = it->get<int64_t>();
    fits = v >= low && v <= high;
  }
  if (!fits) {
    error = "'" + std::string(key) + "' must be a whole number from " + std::to_string(low) + " to " +
            std::to_string(high) + ", not " + it->dump();
    return std::nullopt;
  }
  return v;
}

// The variablesReference a request names; 0 (none) for anything but one.
int Reference(const json& args) {
  std::string error;
  return static_cast<int>(Whole(args, "variablesReference", 0, INT_MAX, 0, error).value_or(0));
}

// The line a source breakpoint asks for; 0 with error set when it is no line.
int LineOf(const json& bp, std::string& error) {
  const auto it = bp.is_object() ? bp.find("line") : bp.end();
  if (it == bp.end()) {
    error = "a breakpoint without a line";
    return 0;
  }
  if (it->is_number_unsigned() && it->get<uint64_t>() > static_cast<uint64_t>(INT_MAX)) {
    error = "line " + it->dump() + " is past the end of the source";
    return 0;
  }
  if (!it->is_number_integer() || it->get<int64_t>() < 1) {
    error = "line " + it->dump() + " is no line: lines are whole numbers from 1";
    return 0;
  }
  return static_cast<int>(it->get<int64_t>());
}

// An answer for a breakpoint on no line: the line as asked when it is a number.
json NoLine(const json& bp, const std::string& error) {
  json j = {{"verified", false}, {"message", error}};
  if (bp.is_object() && bp.contains("line") && bp["line"].is_number_integer()) j["line"] = bp["line"];
  return j;
}

}  // namespace

// ---- The console.

void DebugConsole::AddInput(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  if (inPos_ > 0 && inPos_ == in_.size()) in_.clear(), inPos_ = 0;
  for (char c : bytes) {
    // LF after CR belongs to the same line end; a lone LF becomes CR.
    if (c == '\n' && lastCr_) {
      lastCr_ = false;
      continue;
    }
    lastCr_ = c == '\r';
    in_ += c == '\n' ? '\r' : c;
  }
}

int DebugConsole::Read() {
  std::lock_guard lock(mutex_);
  if (inPos_ == in_.size()) return -1;
  return static_cast<unsigned char>(in_[inPos_++]);
}

bool DebugConsole::Ready() {
  std::lock_guard lock(mutex_);
  return inPos_ < in_.size();
}

bool DebugConsole::Ended() {
  // At the end of the input a read gives the end of input at once (and the
  // machine ends a program that reads on, as orvane-run's does), unless it
  // waits for lines typed in the debug console.
  std::lock_guard lock(mutex_);
  return inPos_ == in_.size() && !waitForInput_;
}

void DebugConsole::WaitForInput(bool wait) {
  std::lock_guard lock(mutex_);
  waitForInput_ = wait;
}

bool DebugConsole::Write(const uint8_t* bytes, size_t n) {
  std::lock_guard lock(mutex_);
  out_.append(reinterpret_cast<const char*>(bytes), n);
  return true;
}

void DebugConsole::Drain(const std::function<void(std::string_view)>& send) {
  std::lock_guard lock(mutex_);
  if (out_.empty()) return;
  send(out_);
  out_.clear();
}

// ---- The reader's side.

Adapter::Adapter(std::function<void(const json&)> write) : out_(std::move(write)) {
  worker_ = std::thread([this] { WorkerLoop(); });
}

Adapter::~Adapter() { StopWorker(); }

void Adapter::Handle(const jsonrpc::Frame& frame) {
  if (disconnected_) return;
  if (!frame.ok()) {
    out_.Event("output", {{"category", "console"}, {"output", "orvane-dap: unreadable message header: " + frame.error + "\n"}});
    return;
  }
  std::string error;
  int64_t seq = 0;
  auto request = ParseRequest(frame.body, error, seq);
  if (!request) {
    // A request whose seq could be read is answered; anything else is told
    // in the console, as there is no request to answer.
    if (seq > 0) {
      out_.Fail(seq, "", error);
    } else {
      out_.Event("output", {{"category", "console"}, {"output", "orvane-dap: unreadable message: " + error + "\n"}});
    }
    return;
  }
  Dispatch(std::move(*request));
}

void Adapter::Dispatch(Request r) {
  const std::string& c = r.command;
  if (c == "initialize") {
    if (initialized_) return out_.Fail(r, "initialize was answered already");
    initialized_ = true;
    out_.Respond(r, {{"supportsConfigurationDoneRequest", true},
                     {"supportsConditionalBreakpoints", true},
                     {"supportsHitConditionalBreakpoints", true},
                     {"supportsStepBack", true},
                     {"supportsDataBreakpoints", true},
                     {"supportsDisassembleRequest", true},
                     {"supportsReadMemoryRequest", true},
                     {"supportsWriteMemoryRequest", true},
                     {"supportsSetVariable", true},
                     {"supportsEvaluateForHovers", true},
                     {"supportsInstructionBreakpoints", true},
                     {"supportsTerminateRequest", true},
                     {"supportsSteppingGranularity", false},
                     {"supportsRestartRequest", false},
                     {"exceptionBreakpointFilters", json::array()}});
    out_.Event("initialized");
    return;
  }
  if (c == "threads") {
    out_.Respond(r, {{"threads", json::array({{{"id", kThread}, {"name", "CP/M program"}}})}});
    return;
  }
  if (c == "pause") {
    {
      // A run asked for and not yet begun takes the pause with it: the
      // worker answers it after the run's own answer, when the run starts,
      // and the run stops at once.
      std::unique_lock lock(mutex_);
      if ((runActive_ && !runBegun_) ||
          std::any_of(queue_.begin(), queue_.end(), [](const Request& q) { return IsRun(q.command); })) {
        queue_.push_back(std::move(r));
        lock.unlock();
        wake_.notify_one();
        return;
      }
      // The answer first, then the stopped event.
      if (runActive_) userPause_ = true;
    }
    out_.Respond(r);
    PauseRun(userPause_);
    return;
  }
  if (c == "evaluate") {
    // A debug console line for the program is typed at once, also while it
    // runs.
    const auto expr = r.arguments.find("expression");
    const auto context = r.arguments.find("context");
    if (expr != r.arguments.end() && expr->is_string() && !expr->get<std::string>().empty() &&
        expr->get<std::string>()[0] == '>' && (context == r.arguments.end() || *context == "repl")) {
      const std::string line = expr->get<std::string>().substr(1);
      console_.AddInput(line + "\n");
      out_.Respond(r, {{"result", "typed to the program: " + line}, {"variablesReference", 0}});
      return;
    }
  }
  if (c == "launch" && !initialized_) return out_.Fail(r, "launch before initialize: a client initializes first");
  if (c == "disconnect") {
    StopWorker();
    out_.Respond(r);
    disconnected_ = true;
    return;
  }
  if (c == "terminate") {
    terminating_ = true;
    PauseRun(terminating_);
  }
  Enqueue(std::move(r));
}

void Adapter::Enqueue(Request r) {
  const bool control = IsRunControl(r.command);
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(r));
  }
  wake_.notify_one();
  // A request answered while the program runs: a continue is paused for it
  // and goes on afterwards.
  if (!control && running_ && (current_ == Run::kContinue || current_ == Run::kReverse)) {
    interrupted_ = true;
    PauseRun(interrupted_);
  }
}

void Adapter::PauseRun(const std::atomic<bool>& wanted) {
  // A pause asked for just before a run call starts is not seen by it, so
  // it is asked again until the run has stopped (or is no longer wanted).
  while (running_ && wanted) {
    if (debug::Session* s = live_) s->Pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void Adapter::StopWorker() {
  terminating_ = true;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
  // A run under way is paused until the worker has seen the end.
  while (worker_.joinable() && !workerDone_) {
    PauseRun(terminating_);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (worker_.joinable()) worker_.join();
  // Only now: until the worker has ended, this thread may still pause it.
  live_ = nullptr;
  session_.reset();
}

void Adapter::InputEnded() { StopWorker(); }

void Adapter::Tick() { FlushOutput(); }

void Adapter::FlushOutput() {
  console_.Drain([&](std::string_view bytes) {
    out_.Event("output", {{"category", "stdout"}, {"output", BytesAsText(bytes)}});
  });
}

// ---- The worker's side.

void Adapter::WorkerLoop() {
  for (;;) {
    Request r;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return quit_ || !queue_.empty(); });
      // Requests that came before the end are answered; runs no longer start.
      if (queue_.empty()) break;
      r = std::move(queue_.front());
      queue_.pop_front();
      // A pause from here on is this run's.
      runActive_ = IsRun(r.command);
      runBegun_ = false;
      userPause_ = false;
    }
    Execute(r);
    std::lock_guard lock(mutex_);
    runActive_ = false;
  }
  FlushOutput();
  workerDone_ = true;
}

void Adapter::Execute(const Request& r) {
  try {
    Answer(r);
  } catch (const json::exception& e) {
    // An argument of the wrong type.
    out_.Fail(r, "bad arguments for '" + r.command + "': " + e.what());
  }
}

void Adapter::Answer(const Request& r) {
  const std::string& c = r.command;
  if (c == "pause") {
    // Queued behind a run that did not start after all.
    out_.Respond(r);
    userPause_ = true;
    return;
  }
  if (c == "launch") return DoLaunch(r);
  if (c == "attach") return out_.Fail(r, "orvane-dap starts the program itself: use a launch configuration");
  if (c == "setBreakpoints") return DoSetBreakpoints(r);
  if (c == "setExceptionBreakpoints") return out_.Respond(r, {{"breakpoints", json::array()}});
  if (c == "configurationDone") {
    out_.Respond(r);
    configured_ = true;
    if (launched_ && !started_) Start();
    return;
  }
  if (c == "terminate") return DoTerminate(r);
  static const std::set<std::string> kKnown = {
      "setInstructionBreakpoints", "dataBreakpointInfo", "setDataBreakpoints", "readMemory", "writeMemory",
      "disassemble", "scopes", "stackTrace", "variables", "setVariable", "evaluate", "continue", "next",
      "stepIn", "stepOut", "stepBack", "reverseContinue"};
  if (!kKnown.count(c)) return out_.Fail(r, "unknown request '" + c + "'");
  if (!launched_) return out_.Fail(r, "no program is launched: '" + c + "' needs a launch first");
  if (c == "setInstructionBreakpoints") return DoSetInstructionBreakpoints(r);
  if (c == "dataBreakpointInfo") return DoDataBreakpointInfo(r);
  if (c == "setDataBreakpoints") return DoSetDataBreakpoints(r);
  if (c == "readMemory") return DoReadMemory(r);
  if (c == "disassemble") return DoDisassemble(r);
  if (ended_) return out_.Fail(r, "the program has ended");
  if (c == "scopes") {
    return out_.Respond(r, {{"scopes",
                             {{{"name", "Registers"}, {"presentationHint", "registers"},
                               {"variablesReference", kRegisters}, {"expensive", false}},
                              {{"name", "Symbols"}, {"variablesReference", kSymbols}, {"expensive", false},
                               {"namedVariables", session_->program().symbols().size()}}}}});
  }
  if (c == "stackTrace") return DoStackTrace(r);
  if (c == "variables") return DoVariables(r);
  if (c == "setVariable") return DoSetVariable(r);
  if (c == "evaluate") return DoEvaluate(r);
  if (c == "writeMemory") return DoWriteMemory(r);
  static const std::map<std::string, Run> kRuns = {{"continue", Run::kContinue}, {"next", Run::kNext},
                                                   {"stepIn", Run::kStepIn},     {"stepOut", Run::kStepOut},
                                                   {"stepBack", Run::kStepBack}, {"reverseContinue", Run::kReverse}};
  if (const auto run = kRuns.find(c); run != kRuns.end()) {
    if (!started_) return out_.Fail(r, "the run starts with configurationDone");
    out_.Respond(r, c == "continue" ? json{{"allThreadsContinued", true}} : json::object());
    return DoRun(run->second);
  }
  out_.Fail(r, "unknown request '" + c + "'");
}

void Adapter::DoLaunch(const Request& r) {
  if (launched_) return out_.Fail(r, "a program is launched already");
  const json& a = r.arguments;
  auto text = [&](const char* key, std::string& into) -> bool {
    const auto it = a.find(key);
    if (it == a.end() || it->is_null()) return true;
    if (!it->is_string()) return false;
    into = it->get<std::string>();
    return into.find('\0') == std::string::npos;
  };
  debug::LaunchOptions opt;
  std::string cwd, input;
  if (!text("program", opt.path) || opt.path.empty())
    return out_.Fail(r, "launch: 'program' must name the .z80 source to debug");
  if (!text("cwd", cwd)) return out_.Fail(r, "launch: 'cwd' must be a folder name");
  if (!text("input", input)) return out_.Fail(r, "launch: 'input' must be a file name");
  if (!text("board", opt.board))
    return out_.Fail(r, "launch: 'board' must name a built-in board or a board file");
  if (!text("profile", opt.profile)) return out_.Fail(r, "launch: 'profile' must be a file name");
  if (!text("coverage", opt.coverage)) return out_.Fail(r, "launch: 'coverage' must be a file name");
  if (const auto it = a.find("args"); it != a.end() && !it->is_null()) {
    if (!it->is_array()) return out_.Fail(r, "launch: 'args' must be an array of strings");
    for (const json& s : *it) {
      if (!s.is_string()) return out_.Fail(r, "launch: 'args' must be an array of strings");
      if (s.get<std::string>().find('\0') != std::string::npos)
        return out_.Fail(r, "launch: an argument holds a NUL character, which a command tail cannot carry");
      opt.args.push_back(s.get<std::string>());
    }
  }
  if (const auto it = a.find("stopOnEntry"); it != a.end() && !it->is_null()) {
    if (!it->is_boolean()) return out_.Fail(r, "launch: 'stopOnEntry' must be true or false");
    stopOnEntry_ = it->get<bool>();
  }
  if (const auto it = a.find("waitForInput"); it != a.end() && !it->is_null()) {
    if (!it->is_boolean()) return out_.Fail(r, "launch: 'waitForInput' must be true or false");
    console_.WaitForInput(it->get<bool>());
  }
  if (const auto it = a.find("strict"); it != a.end() && !it->is_null()) {
    if (!it->is_boolean()) return out_.Fail(r, "launch: 'strict' must be true or false");
    opt.strict = it->get<bool>();
  }
  if (const auto it = a.find("maxTstates"); it != a.end() && !it->is_null()) {
    if (!it->is_number_unsigned() && !(it->is_number_float() && it->get<double>() >= 0 &&
                                       it->get<double>() < 0x1p64 && it->get<double>() == std::floor(it->get<double>())))
      return out_.Fail(r, "launch: 'maxTstates' must be a whole number of T-states, 0 for no limit");
    opt.maxTstates = it->is_number_unsigned() ? it->get<uint64_t>() : static_cast<uint64_t>(it->get<double>());
  }
  std::error_code ec;
  programPath_ = fs::absolute(opt.path, ec).lexically_normal().string();
  if (ec) programPath_ = opt.path;
  opt.drive = !cwd.empty() ? cwd : fs::path(programPath_).parent_path().string();
  if (opt.drive.empty()) opt.drive.push_back('.');  // (assigning "." trips GCC 12 -O3 -Wrestrict)
  // The profile and the coverage go where the program's files go.
  for (std::string* file : {&opt.profile, &opt.coverage})
    if (!file->empty() && fs::path(*file).is_relative()) *file = (fs::path(opt.drive) / *file).string();
  if (std::string why; !ReadRegular(opt.path, kMaxSource, nullptr, why))
    return out_.Fail(r, "launch: cannot read the source " + opt.path + ": " + why);
  if (!input.empty()) {
    std::string bytes, why;
    if (!ReadRegular(input, kMaxInput, &bytes, why))
      return out_.Fail(r, "launch: cannot read the input file " + input + ": " + why);
    console_.AddInput(bytes);
  }
  opt.console = &console_;
  std::vector<std::string> errors;
  session_ = debug::Session::Create(opt, errors);
  if (!session_) {
    std::string message = "cannot debug " + opt.path + ":";
    const size_t shown = std::min<size_t>(errors.size(), 5);
    for (size_t i = 0; i < shown; ++i) message += "\n" + errors[i];
    if (errors.size() > shown) message += "\n(and " + std::to_string(errors.size() - shown) + " more)";
    return out_.Fail(r, message);
  }
  launched_ = true;
  live_ = session_.get();
  // Breakpoints set before the launch take effect now.
  std::vector<json> pending;
  pending.swap(pendingBreakpoints_);
  for (const json& args : pending) SetLineBreakpoints(args);
  out_.Respond(r);
  if (configured_) Start();
}

void Adapter::Start() {
  started_ = true;
  if (stopOnEntry_) return Report(session_->LastStop());
  DoRun(Run::kContinue);
}

void Adapter::DoRun(Run kind) {
  interrupted_ = false;
  current_ = kind;
  const bool pausable = kind == Run::kContinue || kind == Run::kReverse;
  for (;;) {
    running_ = true;
    if (terminating_) {
      running_ = false;
      return;
    }
    {
      // A pause that came right behind this run, and requests queued while
      // no run was under way to be paused for them, stop it at once.
      std::unique_lock lock(mutex_);
      runBegun_ = true;
      std::optional<Request> pause;
      for (auto q = queue_.begin(); q != queue_.end() && !IsRun(q->command); ++q) {
        if (q->command != "pause") continue;
        pause = std::move(*q);
        queue_.erase(q);
        break;
      }
      const bool waiting = pausable && !queue_.empty() && !IsRunControl(queue_.front().command);
      lock.unlock();
      if (pause) {
        out_.Respond(*pause);
        userPause_ = true;
      }
      if (waiting) interrupted_ = true;
      if (userPause_ || interrupted_) session_->Pause();
    }
    Stop stop;
    switch (kind) {
      case Run::kContinue: stop = session_->Continue(); break;
      case Run::kStepIn: stop = session_->StepInto(); break;
      case Run::kNext: stop = session_->StepOver(); break;
      case Run::kStepOut: stop = session_->StepOut(); break;
      case Run::kStepBack: stop = session_->StepBack(); break;
      case Run::kReverse: stop = session_->ReverseContinue(); break;
    }
    running_ = false;
    if (stop.reason != StopReason::kPause || userPause_) return Report(stop);
    if (terminating_) return;
    // Paused to answer requests that came while it ran: they are answered
    // and the run goes on.
    interrupted_ = false;
    for (;;) {
      Request next;
      {
        std::lock_guard lock(mutex_);
        if (quit_ || queue_.empty() || IsRunControl(queue_.front().command)) break;
        next = std::move(queue_.front());
        queue_.pop_front();
      }
      Execute(next);
    }
    // A pause asked for while those were answered stops here.
    if (userPause_) return Report(session_->LastStop());
  }
}

void Adapter::Report(const Stop& stop) {
  FlushOutput();
  if (!stop.note.empty()) out_.Event("output", {{"category", "console"}, {"output", stop.note + "\n"}});
  if (stop.reason == StopReason::kExited) {
    if (ended_) return;
    ended_ = true;
    if (!stop.message.empty()) out_.Event("output", {{"category", "console"}, {"output", stop.message + "\n"}});
    out_.Event("exited", {{"exitCode", stop.exitStatus}});
    out_.Event("terminated");
    return;
  }
  json body = {{"reason", ReasonName(stop.reason)},
               {"threadId", kThread},
               {"allThreadsStopped", true},
               {"description", stop.description}};
  if (stop.reason == StopReason::kException) body["text"] = stop.message;
  if (stop.reason == StopReason::kBreakpoint || stop.reason == StopReason::kDataBreakpoint)
    body["hitBreakpointIds"] = json::array({stop.breakpoint});
  out_.Event("stopped", std::move(body));
}

void Adapter::DoTerminate(const Request& r) {
  out_.Respond(r);
  if (ended_) return;
  if (!session_) {
    ended_ = true;
    out_.Event("terminated");
    return;
  }
  Report(session_->Terminate());
}

json Adapter::Source() const {
  return {{"name", fs::path(programPath_).filename().string()}, {"path", programPath_}};
}

json Adapter::BreakpointFor(int id, const std::string& message) const {
  for (const debug::Breakpoint& b : session_->Breakpoints()) {
    if (b.id != id) continue;
    json j = {{"id", id}, {"verified", true}, {"instructionReference", AddressReference(b.address)}};
    if (b.line > 0) j["line"] = b.line, j["source"] = Source();
    if (!message.empty()) j["message"] = message;
    return j;
  }
  return {{"verified", false}, {"message", message.empty() ? "no such breakpoint" : message}};
}

// The requested source breakpoints, from `breakpoints` or the older `lines`:
// every one, in order, as each gets an answer.
static std::vector<json> WantedBreakpoints(const json& a) {
  std::vector<json> wanted;
  if (const auto b = a.find("breakpoints"); b != a.end() && b->is_array()) {
    for (const json& bp : *b) wanted.push_back(bp);
  } else if (const auto l = a.find("lines"); l != a.end() && l->is_array()) {
    for (const json& line : *l) wanted.push_back({{"line", line}});
  }
  return wanted;
}

void Adapter::DoSetBreakpoints(const Request& r) {
  const json& a = r.arguments;
  std::string path;
  if (const auto src = a.find("source"); src != a.end() && src->is_object() && src->contains("path") &&
                                         (*src)["path"].is_string())
    path = (*src)["path"].get<std::string>();
  const std::vector<json> wanted = WantedBreakpoints(a);
  json answers = json::array();
  if (!launched_) {
    // Lines are resolved on the source as it is now; the breakpoints are set
    // when the program is launched.
    std::erase_if(pendingBreakpoints_, [&](const json& p) {
      return SamePath(p["source"].value("path", "")) == SamePath(path);
    });
    pendingBreakpoints_.push_back(a);
    DebugConsole scratch;
    debug::LaunchOptions opt;
    opt.path = path;
    opt.drive = fs::path(path).parent_path().string();
    if (opt.drive.empty()) opt.drive = ".";
    opt.console = &scratch;
    std::vector<std::string> errors;
    std::string unreadable;
    if (!path.empty() && !ReadRegular(path, kMaxSource, nullptr, unreadable))
      errors.push_back("cannot read " + path + ": " + unreadable);
    const auto probe = path.empty() || !unreadable.empty() ? nullptr : debug::Session::Create(opt, errors);
    for (const json& bp : wanted) {
      std::string error;
      const int line = LineOf(bp, error);
      if (line == 0) {
        answers.push_back(NoLine(bp, error));
        continue;
      }
      const auto hits = HitCount(bp, error);
      const debug::ProgramMap::Line* at = probe ? probe->program().Resolve(line) : nullptr;
      if (!probe) error = errors.empty() ? "cannot read " + path : errors.front();
      if (!at && error.empty()) error = "no statement with code on line " + std::to_string(line) + " or after it";
      if (!error.empty() || !hits) {
        answers.push_back({{"verified", false}, {"line", line}, {"message", error}});
      } else {
        answers.push_back({{"verified", true}, {"line", at->line}, {"source", {{"path", path}}}});
      }
    }
    return out_.Respond(r, {{"breakpoints", answers}});
  }
  out_.Respond(r, {{"breakpoints", SetLineBreakpoints(a)}});
}

json Adapter::SetLineBreakpoints(const json& a) {
  json answers = json::array();
  std::string path;
  if (const auto src = a.find("source"); src != a.end() && src->is_object() && src->contains("path") &&
                                         (*src)["path"].is_string())
    path = (*src)["path"].get<std::string>();
  const std::vector<json> wanted = WantedBreakpoints(a);
  if (SamePath(path) != SamePath(programPath_)) {
    for (const json& bp : wanted) answers.push_back(NoLine(bp, "not the launched program"));
    return answers;
  }
  for (int id : lineBreakpoints_) session_->RemoveBreakpoint(id);
  lineBreakpoints_.clear();
  for (const json& bp : wanted) {
    std::string error;
    const int line = LineOf(bp, error);
    if (line == 0) {
      answers.push_back(NoLine(bp, error));
      continue;
    }
    const auto hits = HitCount(bp, error);
    const int id = hits ? session_->AddBreakpointAtLine(line, Condition(bp), *hits, error) : 0;
    if (id != 0 && !error.empty()) lineBreakpoints_.push_back(id);  // kept, never stops
    if (id == 0 || !error.empty()) {
      answers.push_back({{"verified", false}, {"line", line}, {"message", error}});
      continue;
    }
    lineBreakpoints_.push_back(id);
    answers.push_back(BreakpointFor(id));
  }
  return answers;
}

void Adapter::DoSetInstructionBreakpoints(const Request& r) {
  for (int id : instructionBreakpoints_) session_->RemoveBreakpoint(id);
  instructionBreakpoints_.clear();
  json answers = json::array();
  const auto list = r.arguments.find("breakpoints");
  if (list != r.arguments.end() && list->is_array()) {
    for (const json& bp : *list) {
      std::string error;
      const auto ref = bp.is_object() ? bp.find("instructionReference") : bp.end();
      std::optional<uint16_t> address;
      if (bp.is_object() && ref != bp.end() && ref->is_string()) address = ParseAddress(ref->get<std::string>());
      if (!address) {
        answers.push_back({{"verified", false}, {"message", "the instruction reference is not an address"}});
        continue;
      }
      const auto offset = Whole(bp, "offset", -65535, 65535, 0, error);
      const auto hits = offset ? HitCount(bp, error) : std::nullopt;
      const int id = hits ? session_->AddBreakpoint(static_cast<uint16_t>(*address + *offset), Condition(bp),
                                                    *hits, error)
                          : 0;
      if (id != 0 && !error.empty()) instructionBreakpoints_.push_back(id);  // kept, never stops
      if (id == 0 || !error.empty()) {
        answers.push_back({{"verified", false}, {"message", error}});
        continue;
      }
      instructionBreakpoints_.push_back(id);
      answers.push_back(BreakpointFor(id));
    }
  }
  out_.Respond(r, {{"breakpoints", answers}});
}

void Adapter::DoDataBreakpointInfo(const Request& r) {
  const std::string name = Trimmed(r.arguments.value("name", ""));
  const int ref = Reference(r.arguments);
  json none = {{"dataId", nullptr}, {"description", ""}};
  if (ref == kRegisters) {
    none["description"] = "registers cannot be watched; watch a symbol or an address";
    return out_.Respond(r, none);
  }
  // A symbol, or an address (as a number or (X)).
  std::string label = name;
  std::optional<uint16_t> address;
  if (const debug::ProgramMap::Symbol* s = session_->program().FindSymbol(name)) {
    address = static_cast<uint16_t>(s->value);
    label = s->name;
  } else if (auto n = ParseAddress(name)) {
    address = n;
    label.clear();
    AppendHex4(label, *n);
    label += "H";
  }
  if (!address) {
    none["description"] = "'" + name + "' is no symbol or address";
    return out_.Respond(r, none);
  }
  out_.Respond(r, {{"dataId", AddressReference(*address) + " " + label},
                   {"description", label + " (" + WordValue(*address) + ")"},
                   {"accessTypes", json::array({"write"})},
                   {"canPersist", false}});
}

void Adapter::DoSetDataBreakpoints(const Request& r) {
  session_->ClearDataBreakpoints();
  json answers = json::array();
  const auto list = r.arguments.find("breakpoints");
  if (list != r.arguments.end() && list->is_array()) {
    for (const json& bp : *list) {
      const std::string id = bp.is_object() ? bp.value("dataId", "") : "";
      const std::string access = bp.is_object() ? bp.value("accessType", "write") : "";
      const size_t blank = id.find(' ');
      const auto address = ParseAddress(id.substr(0, blank));
      if (!address) {
        answers.push_back({{"verified", false}, {"message", "'" + id + "' is no data breakpoint id"}});
        continue;
      }
      if (access != "write") {
        answers.push_back({{"verified", false}, {"message", "only writes can be watched"}});
        continue;
      }
      const std::string name = blank == std::string::npos ? "" : id.substr(blank + 1);
      const int n = session_->AddDataBreakpoint(*address, *address, name);
      answers.push_back({{"id", n}, {"verified", true}});
    }
  }
  out_.Respond(r, {{"breakpoints", answers}});
}

void Adapter::DoStackTrace(const Request& r) {
  const std::vector<debug::Frame> frames = session_->CallStack();
  std::string error;
  const auto startFrame = Whole(r.arguments, "startFrame", 0, INT_MAX, 0, error);
  const auto levelsAsked = startFrame ? Whole(r.arguments, "levels", 0, INT_MAX, 0, error) : std::nullopt;
  if (!levelsAsked) return out_.Fail(r, "stackTrace: " + error);
  const size_t start = static_cast<size_t>(*startFrame);
  const int64_t levels = *levelsAsked;
  json list = json::array();
  for (size_t i = start; i < frames.size() && (levels <= 0 || list.size() < static_cast<size_t>(levels)); ++i) {
    const debug::Frame& f = frames[i];
    std::string name;
    if (f.interrupt) {
      name = "interrupt at " + debug::Hex4(f.address);
    } else if (const debug::ProgramMap::Line* l = session_->program().Containing(f.address)) {
      name = l->text;
    } else {
      name = session_->Disassemble(f.address).text;
    }
    json frame = {{"id", static_cast<int>(i) + 1},
                  {"name", name},
                  {"line", f.line},
                  {"column", f.line > 0 ? 1 : 0},
                  {"instructionPointerReference", AddressReference(f.address)}};
    if (f.line > 0) {
      frame["source"] = Source();
    } else {
      frame["presentationHint"] = "subtle";
    }
    list.push_back(std::move(frame));
  }
  out_.Respond(r, {{"stackFrames", list}, {"totalFrames", frames.size()}});
}

void Adapter::DoVariables(const Request& r) {
  const int ref = Reference(r.arguments);
  json vars = json::array();
  if (ref == kRegisters) {
    for (const std::string& name : debug::Session::RegisterNames()) {
      const auto v = session_->Register(name);
      if (!v) continue;
      json var = {{"name", name}, {"value", v->Text()}, {"variablesReference", 0}};
      if (v->width == 16) var["memoryReference"] = AddressReference(static_cast<uint16_t>(v->value));
      vars.push_back(std::move(var));
    }
    vars.push_back({{"name", "T-states"}, {"value", std::to_string(session_->Tstates())}, {"variablesReference", 0}});
  } else if (ref == kSymbols) {
    for (const debug::ProgramMap::Symbol& s : session_->program().symbols()) {
      const debug::Value v{static_cast<uint32_t>(s.value) & 0xFFFF, 16};
      vars.push_back({{"name", s.name},
                      {"value", v.Text()},
                      {"variablesReference", 0},
                      {"memoryReference", AddressReference(static_cast<uint16_t>(v.value))}});
    }
  } else {
    return out_.Fail(r, "no such variables reference");
  }
  std::string error;
  const auto first = Whole(r.arguments, "start", 0, INT_MAX, 0, error);
  const auto asked = first ? Whole(r.arguments, "count", 0, INT_MAX, 0, error) : std::nullopt;
  if (!asked) return out_.Fail(r, "variables: " + error);
  const size_t start = static_cast<size_t>(*first);
  const int64_t count = *asked;
  if (start > 0 || count > 0) {
    json part = json::array();
    for (size_t i = start; i < vars.size() && (count <= 0 || part.size() < static_cast<size_t>(count)); ++i)
      part.push_back(vars[i]);
    vars = std::move(part);
  }
  out_.Respond(r, {{"variables", vars}});
}

std::optional<debug::Value> Adapter::ValueOf(std::string_view text, int width, std::string& error) const {
  // A number as typed, or what a register, a symbol or (X) holds.
  std::optional<int64_t> n = ParseNumber(text);
  if (!n) {
    const auto v = session_->Evaluate(Trimmed(text), error);
    if (!v) return std::nullopt;
    n = v->value & (v->width == 16 ? 0xFFFF : v->width == 8 ? 0xFF : 1);
  }
  // Below 0: the same bits as a signed number.
  const int64_t low = width == 1 ? 0 : -(int64_t{1} << (width - 1)), high = (int64_t{1} << width) - 1;
  if (*n < low || *n > high) {
    error = std::to_string(*n) + " does not fit (" + std::to_string(low) + " to " + std::to_string(high) + ")";
    return std::nullopt;
  }
  return debug::Value{static_cast<uint32_t>(*n) & static_cast<uint32_t>(high), width};
}

void Adapter::DoSetVariable(const Request& r) {
  const int ref = Reference(r.arguments);
  const std::string name = r.arguments.value("name", "");
  const std::string value = r.arguments.value("value", "");
  if (ref != kRegisters) return out_.Fail(r, "symbols are the assembly's constants; set a register or memory");
  if (name == "T-states") return out_.Fail(r, "T-states count the run; they cannot be set");
  const auto now = session_->Register(name);
  if (!now) return out_.Fail(r, "no register named '" + name + "'");
  std::string error;
  const auto v = ValueOf(value, now->width, error);
  if (!v) return out_.Fail(r, "cannot set " + name + ": " + error);
  if (!session_->SetRegister(name, v->value)) return out_.Fail(r, "cannot set " + name + " now");
  out_.Respond(r, {{"value", session_->Register(name)->Text()}, {"variablesReference", 0}});
}

void Adapter::DoEvaluate(const Request& r) {
  const std::string expr = Trimmed(r.arguments.value("expression", ""));
  if (expr == "T-states") return out_.Respond(r, {{"result", std::to_string(session_->Tstates())}, {"variablesReference", 0}});
  std::string error;
  const auto v = session_->Evaluate(expr, error);
  if (!v) return out_.Fail(r, error.empty() ? "cannot evaluate '" + expr + "'" : error);
  json body = {{"result", v->Text()}, {"variablesReference", 0}};
  if (v->width == 16) body["memoryReference"] = AddressReference(static_cast<uint16_t>(v->value));
  out_.Respond(r, body);
}

void Adapter::DoDisassemble(const Request& r) {
  const auto base = ParseAddress(r.arguments.value("memoryReference", ""));
  if (!base) return out_.Fail(r, "the memory reference is not an address");
  // 65536 instructions of at least a byte each go round the whole memory.
  std::string error;
  const auto count = Whole(r.arguments, "instructionCount", 0, 65536, 0, error);
  const auto skipped = count ? Whole(r.arguments, "instructionOffset", -65536, 65536, 0, error) : std::nullopt;
  const auto offset = skipped ? Whole(r.arguments, "offset", -65535, 65535, 0, error) : std::nullopt;
  if (!offset) return out_.Fail(r, "disassemble: " + error);
  const int64_t skip = *skipped;
  const uint16_t at = static_cast<uint16_t>(*base + *offset);
  // Instructions start where statements start; before the first known one
  // the bytes are read from further back until they fall into step.
  std::vector<uint16_t> starts;
  int64_t first = skip;
  if (skip < 0) {
    uint32_t from = at >= 4 * -skip ? at - static_cast<uint32_t>(4 * -skip) : 0;
    std::vector<uint16_t> back;
    for (uint32_t pc = from; pc < at;) {
      back.push_back(static_cast<uint16_t>(pc));
      pc += static_cast<uint32_t>(std::max<size_t>(1, session_->Disassemble(static_cast<uint16_t>(pc)).bytes.size()));
    }
    const size_t keep = std::min<size_t>(back.size(), static_cast<size_t>(-skip));
    starts.assign(back.end() - static_cast<std::ptrdiff_t>(keep), back.end());
    first = -static_cast<int64_t>(keep);
  }
  json list = json::array();
  // Addresses before memory's start are padded with empty entries.
  for (int64_t i = skip; i < first && static_cast<int64_t>(list.size()) < *count; ++i)
    list.push_back({{"address", "0x0000"}, {"instruction", "??"}, {"presentationHint", "invalid"}});
  uint32_t pc = at;
  if (first > 0) {
    for (int64_t i = 0; i < first; ++i)
      pc += static_cast<uint32_t>(std::max<size_t>(1, session_->Disassemble(static_cast<uint16_t>(pc)).bytes.size()));
  }
  size_t backAt = 0;
  while (static_cast<int64_t>(list.size()) < *count) {
    uint16_t address;
    if (backAt < starts.size()) {
      address = starts[backAt++];
    } else {
      address = static_cast<uint16_t>(pc);
    }
    const debug::Instruction in = session_->Disassemble(address);
    json j = {{"address", AddressReference(address)}, {"instructionBytes", HexBytes(in.bytes)}, {"instruction", in.text}};
    if (in.line > 0) j["location"] = Source(), j["line"] = in.line;
    for (const auto& s : session_->program().symbols()) {
      if (static_cast<uint16_t>(s.value) == address && s.line > 0 &&
          session_->program().At(address) && session_->program().At(address)->line == s.line) {
        j["symbol"] = s.name;
        break;
      }
    }
    list.push_back(std::move(j));
    if (backAt > starts.size() || address == static_cast<uint16_t>(pc)) {
      pc += static_cast<uint32_t>(std::max<size_t>(1, in.bytes.size()));
    }
  }
  out_.Respond(r, {{"instructions", list}});
}

void Adapter::DoReadMemory(const Request& r) {
  const auto base = ParseAddress(r.arguments.value("memoryReference", ""));
  if (!base) return out_.Fail(r, "the memory reference is not an address");
  std::string error;
  const auto offset = Whole(r.arguments, "offset", -65535, 65535, 0, error);
  const auto count = offset ? Whole(r.arguments, "count", 0, 65536, 0, error) : std::nullopt;
  if (!count) return out_.Fail(r, "readMemory: " + error);
  const uint16_t at = static_cast<uint16_t>(*base + *offset);
  const std::vector<uint8_t> bytes = session_->ReadMemory(at, static_cast<size_t>(*count));
  out_.Respond(r, {{"address", AddressReference(at)}, {"data", Base64Encode(bytes.data(), bytes.size())}});
}

void Adapter::DoWriteMemory(const Request& r) {
  const auto base = ParseAddress(r.arguments.value("memoryReference", ""));
  if (!base) return out_.Fail(r, "the memory reference is not an address");
  const auto bytes = Base64Decode(r.arguments.value("data", ""));
  if (!bytes) return out_.Fail(r, "the data is not base64");
  if (bytes->size() > 65536) return out_.Fail(r, "more than 64 KiB to write");
  std::string error;
  const auto offset = Whole(r.arguments, "offset", -65535, 65535, 0, error);
  if (!offset) return out_.Fail(r, "writeMemory: " + error);
  const uint16_t at = static_cast<uint16_t>(*base + *offset);
  session_->WriteMemory(at, *bytes);
  out_.Respond(r, {{"offset", 0}, {"bytesWritten", bytes->size()}});
}

}  // namespace orvane::dap
