// The debugger window's worker: a session driven from another thread. The
// program runs while the test thread pauses it, changes breakpoints under it,
// stops it while it waits for a key, and restarts it. Waits have no time
// bound of their own beyond the test's: a busy machine makes them slow, never
// failed.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "app/debug_driver.h"

namespace {

using orvane::DebugBreakpoint;
using orvane::DebugDriver;
using orvane::DebugState;
using Command = DebugDriver::Command;

// Keys typed by the test; Read waits for one.
class WaitingConsole : public orvane::runner::Console {
 public:
  int Read() override {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !keys_.empty(); });
    const int c = static_cast<unsigned char>(keys_.front());
    keys_.erase(0, 1);
    return c;
  }
  bool Ready() override {
    std::lock_guard lock(mutex_);
    return !keys_.empty();
  }
  bool Write(const uint8_t* b, size_t n) override {
    std::lock_guard lock(mutex_);
    out_.append(reinterpret_cast<const char*>(b), n);
    return true;
  }
  void Type(const std::string& keys) {
    std::lock_guard lock(mutex_);
    keys_ += keys;
    changed_.notify_all();
  }

  std::string Out() {
    std::lock_guard lock(mutex_);
    return out_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string keys_, out_;
};

class Driver {
 public:
  explicit Driver(const std::string& source) {
    orvane::debug::LaunchOptions options;
    options.path = "t.z80";
    options.text = source;
    options.drive = ::testing::TempDir();
    options.console = &console;
    std::vector<std::string> errors;
    auto session = orvane::debug::Session::Create(options, errors);
    EXPECT_TRUE(session) << (errors.empty() ? "" : errors[0]);
    program = session->program();
    driver = std::make_unique<DebugDriver>(program, console, "t.z80", ::testing::TempDir());
    driver->Start();
    entry = Next();
  }
  // The state after the next stop (or change, for changes = true).
  DebugState Next(bool changes = false) {
    DebugState s;
    for (;;) {
      if (driver->TakeState(s) && (changes || s.stops != last.stops)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    last = s;
    return s;
  }
  uint16_t Address(int line) { return program.Resolve(line)->address; }

  WaitingConsole console;
  orvane::debug::ProgramMap program;
  std::unique_ptr<DebugDriver> driver;
  DebugState last, entry;  // entry: the state it starts in
};

const char* const kLoop =
    "        LD HL,0\n"
    "LOOP:   INC HL\n"        // 2
    "        LD A,H\n"
    "        OR L\n"
    "        JR NZ,LOOP\n"    // 5: 65536 times round
    "        LD A,1\n"        // 6
    "SPIN:   JR SPIN\n";      // 7: for ever

TEST(DebugDriver, StopsAtEntryWithTheWholeMemory) {
  Driver d(kLoop);
  const DebugState& s = d.entry;
  EXPECT_FALSE(s.running || s.ended || s.closed);
  EXPECT_EQ(s.line, 1);
  EXPECT_EQ(s.registers.pc, 0x0100);
  ASSERT_EQ(s.memory.size(), 0x10000u);
  EXPECT_EQ(s.memory[0x0100], 0x21);  // LD HL,0
  ASSERT_FALSE(s.stack.empty());
  EXPECT_EQ(s.stack[0].line, 1);
  EXPECT_EQ(s.stack[0].text, "LD HL,0");
}

TEST(DebugDriver, PauseFromAnotherThread) {
  Driver d(kLoop);
  d.driver->Post(Command::kRunTo, d.Address(7));
  EXPECT_EQ(d.Next().line, 7);
  d.driver->Post(Command::kContinue);  // spins for ever
  d.driver->Pause();
  const DebugState s = d.Next();
  EXPECT_EQ(s.line, 7);
  EXPECT_EQ(s.status.rfind("Paused", 0), 0u) << s.status;
  EXPECT_EQ(s.registers.af >> 8, 1);
  // Gone while it spins: the worker is stopped and joined.
  d.driver->Post(Command::kContinue);
  d.driver.reset();
}

TEST(DebugDriver, ABreakpointSetWhileItRunsStopsIt) {
  // A loop with no way out, so whenever the breakpoint lands (before the run
  // starts or while it goes round) the next arrival stops there.
  Driver d("        LD HL,0\n"
           "LOOP:   INC HL\n"  // 2
           "        JR LOOP\n");
  d.driver->Post(Command::kRunTo, d.Address(3));
  d.Next();
  d.driver->Post(Command::kRestart);
  EXPECT_EQ(d.Next().line, 1);
  // A Continue paused for it goes on, and stops at the breakpoint, not at
  // the pause.
  d.driver->Post(Command::kContinue);
  d.driver->SetBreakpoint({d.Address(2), "", 0});
  const DebugState s = d.Next();
  EXPECT_EQ(s.status, "Breakpoint at line 2");
  EXPECT_EQ(s.line, 2);
  EXPECT_TRUE(s.error.empty()) << s.error;
}

TEST(DebugDriver, AConditionThatCannotBeReadIsNamedAndTheBreakpointDoesNotStopUntilItIsMended) {
  Driver d(kLoop);
  d.driver->SetBreakpoint({d.Address(2), "HL = 5", 0});
  const DebugState changed = d.Next(true);
  EXPECT_EQ(changed.stops, 1u);  // a change, not a stop
  EXPECT_NE(changed.error.find("Condition \"HL = 5\" at 0103H: "), std::string::npos) << changed.error;
  EXPECT_NE(changed.error.find("the breakpoint does not stop until the condition is mended"), std::string::npos)
      << changed.error;
  d.driver->SetBreakpoint({d.Address(6), "", 0});
  d.driver->Post(Command::kContinue);
  const DebugState past = d.Next();
  EXPECT_EQ(past.status, "Breakpoint at line 6");  // not at line 2
  d.driver->SetBreakpoint({d.Address(2), "HL == 5", 0});
  d.driver->Post(Command::kRestart);
  d.Next();
  d.driver->Post(Command::kContinue);
  const DebugState s = d.Next();
  EXPECT_EQ(s.status, "Breakpoint at line 2");
  EXPECT_EQ(s.registers.hl, 5);
  // The third arrival from here (HL 6, 7, 8): the one it stands at is not counted.
  d.driver->SetBreakpoint({d.Address(2), "", 3});
  d.driver->Post(Command::kContinue);
  EXPECT_EQ(d.Next().registers.hl, 8);
}

TEST(DebugDriver, AByteWrittenShowsWithoutAStop) {
  Driver d(kLoop);
  d.driver->WriteMemory(0x0101, 0x34);  // LD HL,0034H
  const DebugState s = d.Next(true);
  EXPECT_EQ(s.stops, 1u);
  EXPECT_EQ(s.memory[0x0101], 0x34);
  d.driver->Post(Command::kStepInto);
  EXPECT_EQ(d.Next().registers.hl, 0x34);
}

TEST(DebugDriver, PauseAndStopWhileItWaitsForAKeyThenRestart) {
  Driver d("        LD C,1\n        CALL 5\n        LD C,2\n        LD E,A\n        CALL 5\n        RET\n");
  d.driver->Post(Command::kContinue);  // waits in BDOS 1 for a key
  d.driver->Pause();
  const DebugState paused = d.Next();
  EXPECT_EQ(paused.line, 2);  // at the CALL, nothing read
  EXPECT_EQ(paused.status.rfind("Paused", 0), 0u) << paused.status;
  d.driver->Post(Command::kContinue);
  d.driver->Stop();
  const DebugState s = d.Next();
  EXPECT_TRUE(s.ended) << s.status;
  // Restart runs it afresh; this time it gets its key.
  d.driver->Post(Command::kRestart);
  const DebugState again = d.Next();
  EXPECT_EQ(again.line, 1);
  EXPECT_FALSE(again.ended);
  d.console.Type("x");
  d.driver->Post(Command::kContinue);
  const DebugState end = d.Next();
  EXPECT_TRUE(end.ended) << end.status;
  EXPECT_EQ(end.status, "Exited with status 0");
  EXPECT_EQ(d.console.Out().substr(d.console.Out().size() - 2), "xx");
}

// I and R as the CPU holds them after a free run: orvane-run --trace of the
// same program has A=ECH after LD A,R and A=00H after LD A,I (tests/dap/rows.txt).
TEST(DebugDriver, IAndRAfterAFreeRunAreWhatTheCpuHolds) {
  Driver d(
      "        LD A,&H80\n"
      "        LD R,A\n"
      "        LD B,200\n"
      "        LD HL,0\n"
      "L:      INC HL\n"
      "        EXX\n"
      "        INC DE\n"
      "        EXX\n"
      "        DJNZ L\n"
      "        LD A,R\n"      // 10
      "        LD D,A\n"
      "        LD A,I\n"
      "        RET\n");
  d.driver->SetBreakpoint({d.Address(10), "", 0});
  d.driver->Post(Command::kContinue);
  const DebugState s = d.Next();
  ASSERT_EQ(s.status, "Breakpoint at line 10");
  EXPECT_EQ(s.registers.i, 0x00);
  EXPECT_EQ(s.registers.r, 0xEA);  // bit 7 as LD R,A set it, 1002 instructions counted in the other seven
  EXPECT_EQ(s.registers.de2, 200);
  d.driver->Post(Command::kStepInto);
  EXPECT_EQ(d.Next().registers.af >> 8, 0xEC);
}

}  // namespace
