// The debug session against the plain machine on one compute-bound program:
// Continue with breakpoints (one with a condition on a hot statement, one never
// reached), a data breakpoint and the history recording, against
// runner::Machine::Run as orvane-run does it; then the time of one step into,
// step over and step back, and the memory with the history full (also for a
// program that calls the BDOS every few instructions, --chatty, and for one
// that calls 30,000 deep, --deep).
//   orvane-bench-debug PROGRAM.z80 HOT-LINE [RUNS]
// Prints the figures and "ratio R" (the session's speed as a part of the
// plain machine's, by CPU time) on the last line.
#include <sys/resource.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "debug/session.h"
#include "runner/disk.h"
#include "runner/machine.h"

namespace {

class NullConsole : public orvane::runner::Console {
 public:
  int Read() override { return -1; }
  bool Ready() override { return true; }
  bool Write(const uint8_t*, size_t n) override {
    bytes += n;
    return true;
  }
  size_t bytes = 0;
};

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

// A program that prints 150,000 characters one BDOS call each: the history
// then holds a call record every few instructions. Prints its time and the
// peak memory.
int Chatty() {
  using namespace orvane;
  NullConsole console;
  debug::LaunchOptions opt;
  opt.path = "chatty.z80";
  opt.console = &console;
  opt.text =
      "        LD D,3\n"
      "OUTER:  LD BC,50000\n"
      "INNER:  PUSH BC\n"
      "        PUSH DE\n"
      "        LD E,42\n"
      "        LD C,2\n"
      "        CALL 5\n"
      "        POP DE\n"
      "        POP BC\n"
      "        DEC BC\n"
      "        LD A,B\n"
      "        OR C\n"
      "        JR NZ,INNER\n"
      "        DEC D\n"
      "        JR NZ,OUTER\n"
      "        RET\n";
  std::vector<std::string> errors;
  auto s = debug::Session::Create(opt, errors);
  if (!s) return std::fprintf(stderr, "%s\n", errors.empty() ? "cannot start" : errors[0].c_str()), 1;
  std::string error;
  s->AddBreakpointAtLine(16, "", 0, error);  // the RET: stop with the history full
  const auto start = Clock::now();
  const debug::Stop stop = s->Continue();
  const double seconds = Seconds(start);
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("chatty        %llu instructions, %zu bytes printed in %.3f s; history %llu instructions; %.1f MB peak "
              "resident (%s)\n",
              static_cast<unsigned long long>(s->Instructions()), console.bytes, seconds,
              static_cast<unsigned long long>(s->HistoryDepth()), static_cast<double>(ru.ru_maxrss) / 1024.0,
              stop.description.c_str());
  return 0;
}

// A recursion 30,000 calls deep, ten times over: the shadow call stack is
// deep at every checkpoint. Prints the peak memory with the history full and
// after one step back (which rebuilds a stretch of it).
int Deep() {
  using namespace orvane;
  NullConsole console;
  debug::LaunchOptions opt;
  opt.path = "deep.z80";
  opt.console = &console;
  opt.text =
      "        LD B,10\n"
      "AGAIN:  LD HL,30000\n"
      "        CALL DOWN\n"
      "        DJNZ AGAIN\n"
      "        RET\n"
      "DOWN:   DEC HL\n"
      "        LD A,H\n"
      "        OR L\n"
      "        CALL NZ,DOWN\n"
      "        RET\n";
  std::vector<std::string> errors;
  auto s = debug::Session::Create(opt, errors);
  if (!s) return std::fprintf(stderr, "%s\n", errors.empty() ? "cannot start" : errors[0].c_str()), 1;
  std::string error;
  s->AddBreakpointAtLine(5, "", 0, error);
  const auto start = Clock::now();
  s->Continue();
  const double seconds = Seconds(start);
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  const double full = static_cast<double>(ru.ru_maxrss) / 1024.0;
  const auto back = Clock::now();
  s->StepBack();
  const double backSeconds = Seconds(back);
  getrusage(RUSAGE_SELF, &ru);
  std::printf("deep          %llu instructions in %.3f s, 30,000 calls deep; history %llu instructions; %.1f MB peak "
              "resident, %.1f MB after a step back (%.1f ms)\n",
              static_cast<unsigned long long>(s->Instructions() + 1), seconds,
              static_cast<unsigned long long>(s->HistoryDepth()), full, static_cast<double>(ru.ru_maxrss) / 1024.0,
              backSeconds * 1e3);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--chatty") return Chatty();
  if (argc == 2 && std::string(argv[1]) == "--deep") return Deep();
  if (argc < 3) return std::fprintf(stderr, "usage: orvane-bench-debug PROGRAM.z80 HOT-LINE [RUNS]\n"), 2;
  const std::string source = argv[1];
  const int hot = std::atoi(argv[2]);
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  using namespace orvane;
  NullConsole console;
  debug::LaunchOptions opt;
  opt.path = source;
  opt.console = &console;
  std::vector<std::string> errors;
  auto session = debug::Session::Create(opt, errors);
  if (!session) return std::fprintf(stderr, "%s\n", errors.empty() ? "cannot start" : errors[0].c_str()), 1;
  const std::vector<uint8_t> image = session->program().image();

  // The plain machine as orvane-run runs it, and the session continuing to
  // the end with the breakpoints set, run by turns so that a busy machine
  // weighs on both alike; timed in CPU time and in wall time.
  std::vector<double> plain, debugged, plainWall, debuggedWall;
  uint64_t tstates = 0, instructions = 0;
  for (int i = 0; i < runs; ++i) {
    {
      runner::Disk disk;
      disk.Open(".");
      runner::Machine m(console, disk, {});
      std::string error;
      m.Load(image, {}, error);
      const auto start = Clock::now();
      const double cpu = CpuSeconds();
      const runner::RunResult r = m.Run();
      plain.push_back(CpuSeconds() - cpu);
      plainWall.push_back(Seconds(start));
      tstates = r.tstates;
      instructions = r.instructions;
    }
    auto s = debug::Session::Create(opt, errors);
    std::string error;
    if (!s->AddBreakpointAtLine(hot, "A == 255", 0, error))
      return std::fprintf(stderr, "line %d: %s\n", hot, error.c_str()), 1;
    s->AddBreakpoint(0xF000, "", 0, error);  // never reached
    s->AddDataBreakpoint(0xF100, 0xF10F, "");  // never written
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    const debug::Stop stop = s->Continue();
    debugged.push_back(CpuSeconds() - cpu);
    debuggedWall.push_back(Seconds(start));
    if (stop.reason != debug::StopReason::kExited)
      return std::fprintf(stderr, "the session stopped: %s\n", stop.description.c_str()), 1;
    if (s->Tstates() != tstates)
      return std::fprintf(stderr, "T-states differ: %llu, %llu\n", static_cast<unsigned long long>(s->Tstates()),
                          static_cast<unsigned long long>(tstates)),
             1;
  }

  // Steps, on a session with a full history: into, over, back.
  auto s = debug::Session::Create(opt, errors);
  std::string error;
  s->RunTo(static_cast<uint16_t>(s->program().Resolve(hot)->address));
  for (int i = 0; i < 1500000; ++i) s->StepInto();
  std::vector<double> into, over, back;
  for (int i = 0; i < 20000; ++i) {
    auto a = Clock::now();
    s->StepInto();
    into.push_back(Seconds(a));
    a = Clock::now();
    s->StepOver();
    over.push_back(Seconds(a));
  }
  for (int i = 0; i < 100000; ++i) {
    const auto a = Clock::now();
    s->StepBack();
    back.push_back(Seconds(a));
  }
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);

  const double p = Median(plain), d = Median(debugged);
  std::printf("program       %s: %llu T-states, %llu instructions\n", source.c_str(),
              static_cast<unsigned long long>(tstates), static_cast<unsigned long long>(instructions));
  std::printf("plain machine %8.3f s CPU (%.3f s wall)  %7.1f MHz effective (median of %d)\n", p,
              Median(plainWall), static_cast<double>(tstates) / p / 1e6, runs);
  std::printf("debug session %8.3f s CPU (%.3f s wall)  %7.1f MHz effective (2 breakpoints, 1 data breakpoint, "
              "history)\n",
              d, Median(debuggedWall), static_cast<double>(tstates) / d / 1e6);
  std::printf("step into     median %6.2f us  p99 %6.2f us\n", Median(into) * 1e6, Percentile(into, 0.99) * 1e6);
  std::printf("step over     median %6.2f us  p99 %6.2f us\n", Median(over) * 1e6, Percentile(over, 0.99) * 1e6);
  const auto slow = std::count_if(back.begin(), back.end(), [](double x) { return x > 1e-3; });
  std::printf("step back     median %6.2f us  p99 %6.2f us  max %6.2f us, %ld of %zu over 1 ms (history %llu "
              "instructions)\n",
              Median(back) * 1e6, Percentile(back, 0.99) * 1e6, *std::max_element(back.begin(), back.end()) * 1e6,
              static_cast<long>(slow), back.size(), static_cast<unsigned long long>(s->HistoryDepth()));
  std::printf("memory        %.1f MB peak resident\n", static_cast<double>(ru.ru_maxrss) / 1024.0);
  std::printf("ratio %.2f\n", p / d);
  return 0;
}
