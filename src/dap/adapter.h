// The debug adapter: answers the Debug Adapter Protocol's requests on one
// debug session. Handle is called on the thread that reads the client's
// messages; the session's run control (continue, steps) happens on the
// adapter's own worker thread, so that pause, disconnect and terminate are
// heard while the program runs. Requests that need the program stopped and
// arrive while it runs under `continue` pause it briefly, are answered, and
// the run goes on.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dap/protocol.h"
#include "debug/session.h"
#include "jsonrpc/transport.h"
#include "runner/console.h"

namespace orvane::dap {

// The program's console: input from the launch's input file and from lines
// typed in the debug console; output gathered for `output` events.
class DebugConsole final : public runner::Console {
 public:
  // Host bytes as orvane-run reads them from a file: a line end (LF, or CR
  // LF) is one CR.
  void AddInput(std::string_view bytes);
  // With wait, a read at the end of the input waits for a typed line (the
  // session waits while Ready is false, and a pause stops it there).
  void WaitForInput(bool wait);
  int Read() override;
  bool Ready() override;  // a key is waiting
  bool Ended() override;  // at the end of the input, not waiting for typed lines
  bool Write(const uint8_t* bytes, size_t n) override;
  // Output not yet sent: taken out and handed to send under the console's
  // lock, so pieces go out in order whichever thread sends them.
  void Drain(const std::function<void(std::string_view)>& send);

 private:
  std::mutex mutex_;
  std::string in_, out_;
  size_t inPos_ = 0;
  bool lastCr_ = false;
  bool waitForInput_ = false;
};

class Adapter {
 public:
  // How often Tick should be called (console output waits at most this long).
  static constexpr int kTickMs = 10;

  // write is called with each message, from either thread, one at a time.
  explicit Adapter(std::function<void(const json&)> write);
  ~Adapter();
  Adapter(const Adapter&) = delete;
  Adapter& operator=(const Adapter&) = delete;

  // A frame from the client (reader thread).
  void Handle(const jsonrpc::Frame& frame);
  // Sends console output that is waiting.
  void Tick();
  // The client's input ended: the run is stopped and the worker ends.
  void InputEnded();
  // A disconnect was answered: the process should end.
  bool Disconnected() const { return disconnected_; }

 private:
  enum class Run { kContinue, kStepIn, kNext, kStepOut, kStepBack, kReverse };

  // Reader thread.
  void Dispatch(Request r);
  void Enqueue(Request r);
  void StopWorker();
  // Pauses the run under way until it has stopped, while wanted holds.
  void PauseRun(const std::atomic<bool>& wanted);

  // Worker thread.
  void WorkerLoop();
  void Execute(const Request& r);
  void Answer(const Request& r);
  void DoLaunch(const Request& r);
  void DoRun(Run kind);
  void Report(const debug::Stop& stop);
  void Start();
  void DoSetBreakpoints(const Request& r);
  json SetLineBreakpoints(const json& arguments);  // the answers
  void DoSetInstructionBreakpoints(const Request& r);
  void DoDataBreakpointInfo(const Request& r);
  void DoSetDataBreakpoints(const Request& r);
  void DoStackTrace(const Request& r);
  void DoVariables(const Request& r);
  void DoSetVariable(const Request& r);
  void DoEvaluate(const Request& r);
  void DoDisassemble(const Request& r);
  void DoReadMemory(const Request& r);
  void DoWriteMemory(const Request& r);
  void DoTerminate(const Request& r);
  void FlushOutput();
  json Source() const;
  json BreakpointFor(int id, const std::string& message = {}) const;
  // A value of width bits for a register, from a text as the user types it
  // (a number, a register, a symbol or a byte); empty with error set, also
  // when it does not fit.
  std::optional<debug::Value> ValueOf(std::string_view text, int width, std::string& error) const;

  Outbox out_;
  DebugConsole console_;
  std::unique_ptr<debug::Session> session_;
  std::string programPath_;  // absolute, as stack frames and breakpoints name it
  bool initialized_ = false;  // reader thread
  bool launched_ = false, configured_ = false, started_ = false, ended_ = false, stopOnEntry_ = false;
  // Source breakpoints as the client set them, to be set in the session at
  // launch when they came before it.
  std::vector<json> pendingBreakpoints_;
  std::vector<int> lineBreakpoints_, instructionBreakpoints_;

  // Between the threads.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Request> queue_;
  bool quit_ = false;
  bool runActive_ = false;  // the worker is on a request that runs the program
  bool runBegun_ = false;   // ... and the run itself has begun (its answer is out)
  std::atomic<bool> running_ = false;      // a run-control call is under way
  std::atomic<bool> userPause_ = false;    // the client asked for the pause
  std::atomic<bool> interrupted_ = false;  // paused to answer queued requests
  std::atomic<bool> terminating_ = false;  // terminate or disconnect: no run goes on
  std::atomic<bool> disconnected_ = false;
  std::atomic<bool> workerDone_ = false;
  std::atomic<Run> current_ = Run::kContinue;
  std::atomic<debug::Session*> live_ = nullptr;  // for Pause from the reader thread
  std::thread worker_;
};

}  // namespace orvane::dap
