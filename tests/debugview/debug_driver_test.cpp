// The debugger window's worker: a session driven from another thread. The
// program runs while the test thread pauses it, changes breakpoints under it,
// stops it while it waits for a key, and restarts it. Waits have no time
// bound of their own beyond the test's: a busy machine makes them slow, never
// failed.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "app/debug_driver.h"
#include "row_file.h"
#include "test_console.h"

namespace {

using orvane::DebugBreakpoint;
using orvane::DebugDriver;
using orvane::DebugState;
using Command = DebugDriver::Command;
namespace dv = orvane::debugview;

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

  TestConsole console{TestConsole::kWaiting, ""};
  orvane::debug::ProgramMap program;
  std::unique_ptr<DebugDriver> driver;
  DebugState last, entry;  // entry: the state it starts in
};

using rows::Num;

// Every case of debug_driver_rows.txt, its script run on a worker of its own.
TEST(DebugDriver, Rows) {
  std::map<std::string, std::string> programs;
  int cases = 0;
  const std::string error = rows::Read(DEBUG_DRIVER_ROWS, [&](const std::string& row) {
    const std::vector<std::string> f = rows::Fields(row);
    rows::Need((f[0] == "program" && f.size() == 3) || (f[0] == "case" && f.size() == 4), "program or case, fields");
    if (f[0] == "program") return void(programs[f[1]] = f[2]);
    ++cases;
    SCOPED_TRACE(f[1]);
    Driver d(programs.count(f[2]) ? programs[f[2]] : f[2]);
    DebugState s = d.entry;
    // The script as written, split at each ';' before its escapes are read.
    std::stringstream script(row.substr(row.find(" | ", row.find(" | ", row.find(" | ") + 3) + 3) + 3));
    for (std::string item; std::getline(script, item, ';');) {
      item.erase(0, item.find_first_not_of(' '));
      std::stringstream in(item);
      std::string verb, arg;
      in >> verb >> arg;
      static const std::map<std::string, Command> kPosted = {
          {"continue", Command::kContinue}, {"step", Command::kStepInto}, {"restart", Command::kRestart}};
      if (kPosted.count(verb)) {
        d.driver->Post(kPosted.at(verb));
      } else if (verb == "runto") {
        d.driver->Post(Command::kRunTo, d.Address(std::stoi(arg)));
      } else if (verb == "pause" || verb == "stop") {
        verb == "pause" ? d.driver->Pause() : d.driver->Stop();
      } else if (verb == "bp") {  // bp L [if COND] [hit N]
        std::string rest, condition;
        std::getline(in, rest);
        const size_t hit = rest.find(" hit ");
        if (rest.rfind(" if ", 0) == 0) condition = rest.substr(4);
        d.driver->SetBreakpoint({d.Address(std::stoi(arg)), condition, hit == 0 ? Num(rest.substr(5)) : 0});
      } else if (verb == "write") {
        std::string byte;
        in >> byte;
        d.driver->WriteMemory(static_cast<uint16_t>(Num(arg)), static_cast<uint8_t>(Num(byte)));
      } else if (verb == "type") {
        d.console.Type(arg);
      } else if (verb == "gone") {  // while it runs: the worker is stopped and joined
        d.driver.reset();
      } else if (verb == "next" || verb == "change") {
        s = d.Next(verb == "change");
      } else {  // a check: FIELD [ARG] = VALUE
        const size_t eq = item.find(" = ");
        ASSERT_NE(eq, std::string::npos) << item;
        const std::string want = rows::Unescape(item.substr(eq + 3));
        const std::string out = d.console.Out();
        const dv::Registers& r = s.registers;
        const std::map<std::string, std::string> kTexts = {
            {"status", s.status}, {"status^", s.status.substr(0, want.size())}, {"error", s.error},
            {"stack0", s.stack.empty() ? "" : std::to_string(s.stack[0].line) + " " + s.stack[0].text},
            {"out$", out.substr(out.size() - std::min(out.size(), want.size()))}};
        const std::map<std::string, uint64_t> kNumbers = {
            {"line", s.line}, {"stops", s.stops}, {"pc", r.pc}, {"hl", r.hl}, {"de2", r.de2}, {"a", r.af >> 8},
            {"i", r.i}, {"r", r.r}, {"ended", s.ended}, {"running", s.running}, {"closed", s.closed},
            {"memory", s.memory.size()}, {"mem", verb == "mem" ? s.memory.at(Num(arg)) : 0}};
        const bool text = kTexts.count(verb);
        ASSERT_TRUE(text || kNumbers.count(verb)) << item << ": an unknown command or field";
        EXPECT_EQ(text ? kTexts.at(verb) : std::to_string(kNumbers.at(verb)), text ? want : std::to_string(Num(want))) << item;
      }
    }
  });
  EXPECT_EQ(error, "");
  EXPECT_GT(cases, 0);
}

}  // namespace
