// A debug session on a thread of its own, for the debugger window: the window
// posts commands and takes what the session shows after each stop, and never
// waits for the program. Pause and Stop may be called while the program runs.
// No Qt here.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/debug_view.h"
#include "debug/session.h"
#include "runner/console.h"

namespace orvane {


// A CALL or RST whose return address is still on the stack.
struct DebugFrame {
  int line = 0;  // 0: not a statement of the program
  uint16_t address = 0;
  std::string text;
};

// What the session shows after a stop.
struct DebugState {
  bool running = true;  // the program runs (the window's own note: the driver's states are stops)
  bool ended = false;   // the program ended: only Restart is left
  bool fault = false;   // stopped at a runtime fault's instruction
  bool closed = false;  // there is no session (it could not be made)
  std::string status;   // why it stopped: "Breakpoint at line 12"
  int line = 0;         // the statement it stopped at, 0 when none
  debugview::Registers registers;
  uint64_t tstates = 0;
  int64_t tstatesSinceStop = 0;  // below 0 after stepping back
  std::vector<uint8_t> memory;  // all 64 KiB
  std::vector<DebugFrame> stack;  // innermost first
  std::vector<uint32_t> runs;     // how often an instruction has started at each address, all 64 KiB
  uint64_t stops = 0;   // counts the stops, so the window sees each
  uint64_t version = 0; // counts every change (a byte written, a refused condition)
  std::string error;    // a command that was refused (a breakpoint's condition, ...)
  std::string note;     // what a save wrote, or why it could not
};

struct DebugBreakpoint {
  uint16_t address = 0;
  std::string condition;  // empty: none
  uint32_t hitCount = 0;  // 0 or 1: every arrival
};

class DebugDriver {
 public:
  enum class Command { kContinue, kStepInto, kStepOver, kStepOut, kStepBack, kReverseContinue, kRunTo, kRestart };

  // name is the source's file name in dir (its folder), and dir is drive A:. The console
  // is the window's; the program reads typed keys from it and writes to it.
  // board: empty for CP/M, else the board's name or board file (the program
  // placed at its own addresses).
  DebugDriver(debug::ProgramMap program, runner::Console& console, std::string name, std::string dir,
              std::string board = {});
  ~DebugDriver();
  DebugDriver(const DebugDriver&) = delete;
  DebugDriver& operator=(const DebugDriver&) = delete;

  // Loads the program and stops at its first statement.
  void Start();
  // Queued: done in order once the program has stopped. Posting a command
  // while another runs does nothing.
  void Post(Command command, uint16_t address = 0);
  // Breakpoints may change while the program runs: it is paused, they are
  // changed, and a Continue or run to a line goes on.
  void SetBreakpoint(const DebugBreakpoint& breakpoint);
  void ClearBreakpoint(uint16_t address);
  // A data breakpoint on one byte; name is how the status line names it.
  void SetDataBreakpoint(uint16_t address, const std::string& name, bool on);
  void WriteMemory(uint16_t address, uint8_t value);
  // A register or pair by the name the registers pane shows (AF ... R).
  void SetRegister(const std::string& name, uint16_t value);
  // Stops the running program at its next instruction; nothing when stopped.
  void Pause();
  // Ends the program as orvane-run ends a stopped one (Restart starts it again).
  void Stop();
  // Writes the profile (callgrind's format) or the coverage (an lcov
  // tracefile) of the run so far, as orvane-run --profile and --coverage
  // write them; the next state's note says what came of it. Only while the
  // program is stopped: false, and nothing written, while it runs.
  enum class Record { kProfile, kCoverage };
  bool Write(Record what, const std::string& path);

  // The state after the latest stop when there is a newer one than the last
  // taken; false when nothing changed.
  bool TakeState(DebugState& state);

 private:
  void Loop();
  void Queue(std::function<void()> job, bool pauseToo);
  void Run(Command command, uint16_t address);
  // The state as it is now; stopped: after a run-control call.
  void Publish(bool stopped);
  bool Busy();

  runner::Console& console_;
  std::unique_ptr<debug::Session> session_;
  std::vector<std::string> createErrors_;
  std::map<uint16_t, int> breakpointIds_, dataIds_;  // the worker's

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool quit_ = false, busy_ = false, terminate_ = false;
  // A Continue or run to a line paused to change breakpoints goes on after.
  bool resume_ = false;
  DebugState state_;
  std::string error_;  // the worker's, for the next state
  std::string note_;   // the worker's, for the next state
  std::optional<std::pair<int, std::string>> fault_;  // the worker's: the last stop's fault, status and reason
  bool fresh_ = false;
  std::atomic<bool> done_{false};  // the worker has left its loop
  std::thread worker_;
};

}  // namespace orvane
