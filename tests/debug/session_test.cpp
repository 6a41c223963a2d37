// The debug session driven by the rows of session_rows.txt: a small program
// and a script of commands, each with where the program must then stand. Where it must stand
// is named by the source line and the how-manieth time execution reaches it;
// the registers and T-states it must then have are read from orvane-asm
// --run --trace on the same program (the trace prints them before every
// instruction), never from the session.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "debug/session.h"
#include "row_file.h"

namespace fs = std::filesystem;
using orvane::debug::Frame;
using orvane::debug::LaunchOptions;
using orvane::debug::Session;
using orvane::debug::Stop;
using orvane::debug::StopReason;

namespace {

// Console input from a string; output kept.
class StringConsole : public orvane::runner::Console {
 public:
  explicit StringConsole(std::string in) : in_(std::move(in)) {}
  // A line end reads as CR, as on the host console.
  int Read() override {
    if (pos_ >= in_.size()) return -1;
    const char c = in_[pos_++];
    return c == '\n' ? '\r' : static_cast<unsigned char>(c);
  }
  bool Ready() override { return true; }
  bool Write(const uint8_t* b, size_t n) override {
    out.append(reinterpret_cast<const char*>(b), n);
    return true;
  }
  std::string out;

 private:
  std::string in_;
  size_t pos_ = 0;
};

struct Row {
  uint64_t t;
  unsigned pc, af, bc, de, hl, ix, iy, sp;
  int line;
};

// What orvane-asm --run says about a program: its trace, status, message
// and output.
struct Oracle {
  std::vector<Row> rows;
  int status = -1;
  std::string message, out;
};

std::string Slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

struct Program {
  Program(std::string s = "") : source(std::move(s)) {}
  std::string source;                 // statements, one a line
  std::vector<std::string> args;
  std::string input;                  // console input
  uint64_t maxTstates = 0;
  std::map<std::string, std::string> files;  // put on drive A: first
};

class Workspace {
 public:
  Workspace() {
    char tmpl[] = "/tmp/orvane-debug-test-XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  ~Workspace() { fs::remove_all(dir_); }
  fs::path Folder(const std::string& name, const Program& p) const {
    const fs::path d = dir_ / name;
    fs::create_directories(d);
    for (const auto& [n, text] : p.files) {
      fs::create_directories((d / n).parent_path());  // "3/A.TXT": a file of user 3's
      std::ofstream(d / n, std::ios::binary) << text;
    }
    return d;
  }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Oracle RunOracle(const Workspace& w, const Program& p) {
  const fs::path d = w.Folder("oracle", p);
  std::ofstream(d / "prog.z80", std::ios::binary) << p.source;
  std::ofstream(d / "in.txt", std::ios::binary) << p.input;
  std::string cmd = "cd " + Quote(d.string()) + " && " + Quote(ORVANE_ASM) +
                    " -q --run --strict --trace trace.txt -l prog.LST -o prog.com";
  if (p.maxTstates) cmd += " --max-tstates " + std::to_string(p.maxTstates);
  cmd += " prog.z80";
  for (const std::string& a : p.args) cmd.append(" ").append(Quote(a));
  cmd += " <in.txt >out.txt 2>err.txt";
  const int r = std::system(cmd.c_str());
  Oracle o;
  o.status = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
  o.out = Slurp(d / "out.txt");
  const std::string err = Slurp(d / "err.txt");
  const std::string prefix = "orvane-asm: ";
  if (err.rfind(prefix, 0) == 0) o.message = err.substr(prefix.size(), err.find('\n') - prefix.size());
  std::ifstream trace(d / "trace.txt");
  std::string line;
  while (std::getline(trace, line)) {
    Row r{};
    unsigned long long t;
    if (std::sscanf(line.c_str(), "%llu %x", &t, &r.pc) != 2) continue;
    r.t = t;
    const size_t at = line.find("AF=");
    if (at == std::string::npos) continue;
    if (std::sscanf(line.c_str() + at, "AF=%x BC=%x DE=%x HL=%x IX=%x IY=%x SP=%x", &r.af, &r.bc, &r.de, &r.hl, &r.ix,
                    &r.iy, &r.sp) != 7)
      continue;
    const size_t src = line.find("prog.z80:", at);
    r.line = src == std::string::npos ? 0 : std::atoi(line.c_str() + src + 9);
    o.rows.push_back(r);
  }
  fs::remove(d / "trace.txt");
  return o;
}

// One case of session_rows.txt (its header gives the format). A file that
// cannot be read gives a case whose error fails it.
struct Case {
  std::string name;
  Program program;
  std::string script;
  std::string error;
};

std::vector<Case> ReadCases(const std::string& path) {
  std::vector<Case> cases;
  std::map<std::string, std::string> programs;
  std::string* source = nullptr;  // where numbered program lines go
  int number = 0;
  bool inCase = false;  // from a "case" line to the next "program" line
  const std::string error = rows::Read(path, [&](const std::string& line) {
    const size_t bar = line.find('|'), space = line.find(' ');
    if (bar <= 3 && line.find_first_not_of(" 0123456789") == bar) {
      rows::Need(source && std::stoi(line) == ++number, "a program line out of place or out of order");
      source->append(line, bar + 1).push_back('\n');
      return;
    }
    const std::string key = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
    rows::Need(!value.empty() && (key == "program" || key == "case" || inCase), "a line outside a case");
    number = 0;
    source = nullptr;
    if (key == "program") {
      inCase = false;
      rows::Need(programs[value].empty(), "a program named twice");
      source = &programs[value];
    } else if (key == "case") {
      inCase = true;
      cases.push_back({value, {}, "", ""});
      source = &cases.back().program.source;
    } else if (Program& p = cases.back().program; key == "use") {
      rows::Need(!programs[value].empty(), "no such program");
      p.source = programs[value];
    } else if (key == "args") {
      std::istringstream words(value);
      for (std::string w; words >> w;) p.args.push_back(w);
    } else if (key == "input") {
      p.input = rows::Unescape(value);
    } else if (key == "max-tstates") {
      rows::Need(value.find_first_not_of("0123456789") == std::string::npos, "no number");
      p.maxTstates = std::stoull(value);
    } else if (key == "file") {
      rows::Need(value.find(' ') != std::string::npos, "no FILE TEXT");
      p.files[value.substr(0, value.find(' '))] = rows::Unescape(value.substr(value.find(' ') + 1));
    } else {
      rows::Need(key == "script", "an unknown line");
      cases.back().script += (cases.back().script.empty() ? "" : "; ") + value;
    }
  });
  for (Case& c : cases)
    if (c.program.source.empty() || c.script.empty()) c.error = "a case needs a program and a script";
  if (!error.empty() || cases.empty()) cases.push_back({"unreadable rows", {}, "", error.empty() ? "no cases" : error});
  return cases;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Rows : public testing::TestWithParam<Case> {};

std::string Trim(std::string s) {
  const size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// The index of the state before the kth execution of line, or -1.
long Find(const Oracle& o, int line, int k) {
  for (size_t i = 0; i < o.rows.size(); ++i)
    if (o.rows[i].line == line && --k == 0) return static_cast<long>(i);
  return -1;
}

void ExpectRow(const Session& s, const Oracle& o, long i, const std::string& where) {
  ASSERT_GE(i, 0) << where << ": no such state in the trace";
  ASSERT_LT(static_cast<size_t>(i), o.rows.size()) << where;
  const Row& r = o.rows[static_cast<size_t>(i)];
  const std::pair<const char*, unsigned> regs[] = {{"PC", r.pc}, {"AF", r.af}, {"BC", r.bc}, {"DE", r.de},
                                                    {"HL", r.hl}, {"IX", r.ix}, {"IY", r.iy}, {"SP", r.sp}};
  for (const auto& [name, value] : regs) EXPECT_EQ(s.Register(name)->value, value) << where << ": " << name;
  EXPECT_EQ(s.Tstates(), r.t) << where << ": T-states";
  if (r.line) {
    EXPECT_EQ(s.LastStop().line, r.line) << where << ": line";
  }
}

std::unique_ptr<Session> Open(const Program& p, orvane::runner::Console& console, const fs::path& drive) {
  LaunchOptions opt;
  opt.path = "prog.z80";
  opt.text = p.source;
  opt.args = p.args;
  opt.drive = drive.string();
  opt.console = &console;
  opt.maxTstates = p.maxTstates;
  std::vector<std::string> errors;
  auto s = Session::Create(opt, errors);
  EXPECT_TRUE(s) << (errors.empty() ? "" : errors[0]);
  return s;
}

TEST_P(Rows, Script) {
  const Case& c = GetParam();
  ASSERT_EQ(c.error, "");
  Workspace w;
  const Oracle o = RunOracle(w, c.program);
  ASSERT_FALSE(o.rows.empty()) << "orvane-asm --run --trace gave no trace";
  StringConsole console(c.program.input);
  const fs::path folder = w.Folder("session", c.program);
  auto s = Open(c.program, console, folder);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->LastStop().reason, StopReason::kEntry);
  ExpectRow(*s, o, 0, "entry");
  long expected = 0;
  std::stringstream script(c.script);
  std::string item;
  while (std::getline(script, item, ';')) {
    item = Trim(item);
    const std::string where = "'" + item + "'";
    const size_t eq = item.find(" = ");
    std::string command = eq == std::string::npos ? item : item.substr(0, eq);
    std::string expect = eq == std::string::npos ? "" : item.substr(eq + 3);
    std::string description;
    if (const size_t q = expect.find('"'); q != std::string::npos) {
      description = expect.substr(q + 1, expect.rfind('"') - q - 1);
      expect = Trim(expect.substr(0, q));
    }
    std::stringstream cs(command);
    std::string verb;
    cs >> verb;
    Stop stop;
    if (verb == "b") {
      int line = 0;
      cs >> line;
      std::string rest, error;
      std::getline(cs, rest);
      rest = Trim(rest);
      std::string condition;
      int hit = 0;
      if (rest.rfind("if ", 0) == 0) condition = rest.substr(3);
      if (rest.rfind("hit ", 0) == 0) hit = std::stoi(rest.substr(4));
      ASSERT_NE(s->AddBreakpointAtLine(line, condition, hit, error), 0) << where << ": " << error;
      continue;
    }
    if (verb == "set") {
      std::string name;
      unsigned value = 0;
      cs >> name >> value;
      ASSERT_TRUE(s->SetRegister(name, value)) << where;
      continue;
    }
    if (verb == "file" || verb == "nofile") {  // what drive A: holds now, by CP/M name (any case)
      std::string name;
      cs >> name;
      // "3/NAME": in the folder of user 3's files.
      fs::path in = folder;
      if (const size_t slash = name.find('/'); slash != std::string::npos) {
        in /= name.substr(0, slash);
        name.erase(0, slash + 1);
      }
      std::vector<fs::path> found;
      if (fs::is_directory(in)) {
        for (const auto& e : fs::directory_iterator(in)) {
          std::string n = e.path().filename().string();
          for (char& ch : n) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
          if (n == name) found.push_back(e.path());
        }
      }
      if (verb == "nofile") {
        EXPECT_TRUE(found.empty()) << where;
      } else {
        ASSERT_EQ(found.size(), 1u) << where;
        EXPECT_EQ(Slurp(found[0]), rows::Unescape(expect)) << where;
      }
      continue;
    }
    if (verb == "clear") {
      s->ClearBreakpoints();
      continue;
    }
    if (verb == "d") {
      std::string name;
      cs >> name;
      const auto* sym = s->program().FindSymbol(name);
      ASSERT_TRUE(sym) << where;
      s->AddDataBreakpoint(static_cast<uint16_t>(sym->value), static_cast<uint16_t>(sym->value), name);
      continue;
    }
    if (verb == "set") {  // a change by the user: the program then leaves the trace's path
      std::string name;
      uint32_t value = 0;
      cs >> name >> value;
      ASSERT_TRUE(s->SetRegister(name, value)) << where;
      continue;
    }
    if (verb == "runs") {  // how often the first instruction of line L has started
      int line = 0;
      cs >> line;
      const auto* l = s->program().Resolve(line);
      ASSERT_TRUE(l) << where;
      EXPECT_EQ(s->RunCount(l->address), std::stoul(expect)) << where;
      EXPECT_EQ(s->RunCounts()[l->address], s->RunCount(l->address)) << where;
      continue;
    }
    if (verb == "stack") {
      std::vector<int> lines;
      for (const auto& f : s->CallStack()) lines.push_back(f.line);
      std::vector<int> want;
      for (std::stringstream es(expect); es >> item;) want.push_back(std::stoi(item));
      EXPECT_EQ(lines, want) << where;
      continue;
    }
    static const std::map<std::string, Stop (Session::*)()> kMoves = {
        {"c", &Session::Continue}, {"s", &Session::StepInto},         {"o", &Session::StepOver},
        {"u", &Session::StepOut},  {"rc", &Session::ReverseContinue}, {"restart", &Session::Restart}};
    if (kMoves.count(verb)) {
      stop = (s.get()->*kMoves.at(verb))();
    } else if (verb == "to") {
      int line = 0;
      cs >> line;
      stop = s->RunToLine(line);
    } else if (verb == "back") {
      long n = 1;
      cs >> n;
      for (long i = 0; i < n; ++i) stop = s->StepBack();
    } else {
      FAIL() << where << ": unknown command";
    }
    EXPECT_EQ(stop.reason, s->LastStop().reason) << where;
    if (!description.empty()) {
      EXPECT_EQ(stop.description, description) << where;
    }
    std::stringstream es(expect);
    std::string first;
    es >> first;
    static const std::map<std::string, StopReason> kReasons = {{"bp", StopReason::kBreakpoint},
                                                               {"data", StopReason::kDataBreakpoint},
                                                               {"step", StopReason::kStep},
                                                               {"pause", StopReason::kPause},
                                                               {"start", StopReason::kStep}};
    if (first == "stop") {  // after a change: stopped, in a state the trace has not
      EXPECT_TRUE(stop.reason == StopReason::kBreakpoint || stop.reason == StopReason::kStep)
          << where << ": " << stop.description;
      continue;
    }
    if (first == "exit") {
      EXPECT_EQ(stop.reason, StopReason::kExited) << where << ": " << stop.description;
      EXPECT_EQ(stop.exitStatus, o.status) << where;
      EXPECT_EQ(stop.message, o.message) << where;
      continue;
    }
    if (first == "fault") {
      EXPECT_EQ(stop.reason, StopReason::kException) << where << ": " << stop.description;
      EXPECT_EQ(stop.message, o.message) << where;
      EXPECT_EQ(stop.exitStatus, o.status) << where;
      es >> first;
      expected = static_cast<long>(o.rows.size()) - 1;
      EXPECT_EQ(first, std::to_string(o.rows.back().line) + ".1") << where << ": the last traced instruction";
      ExpectRow(*s, o, expected, where);
      continue;
    }
    if (first.empty()) {  // the T-state limit: stopped after the last traced instruction
      EXPECT_EQ(stop.reason, StopReason::kException) << where << ": " << stop.description;
      EXPECT_EQ(stop.message, o.message) << where;
      EXPECT_EQ(stop.exitStatus, o.status) << where;
      continue;
    }
    if (kReasons.count(first)) {
      EXPECT_EQ(stop.reason, kReasons.at(first)) << where << ": " << stop.description;
      if (first == "start") {
        EXPECT_TRUE(stop.historyStart) << where;
      }
      es >> first;
    }
    if (first[0] == '@') {
      expected += std::stol(first.substr(1));
    } else {
      const size_t dot = first.find('.');
      expected = Find(o, std::stoi(first.substr(0, dot)), std::stoi(first.substr(dot + 1)));
    }
    ExpectRow(*s, o, expected, where);
  }
  // What the program printed reached the console once, as orvane-run printed
  // it, and it left drive A: as orvane-run left it.
  if (s->Ended()) {
    EXPECT_EQ(console.out, o.out);
    const fs::path oracle = w.dir() / "oracle";
    const std::set<std::string> harness = {"prog.z80", "prog.LST", "prog.com", "in.txt", "out.txt", "err.txt"};
    std::map<std::string, std::string> got, want;
    // Every file, those of other users' folders too, by its path in the folder.
    const auto Held = [](const fs::directory_entry& e) { return e.is_directory() ? "(a folder)" : Slurp(e.path()); };
    for (const auto& e : fs::recursive_directory_iterator(folder))
      got[fs::relative(e.path(), folder).string()] = Held(e);
    for (const auto& e : fs::recursive_directory_iterator(oracle))
      if (!harness.count(fs::relative(e.path(), oracle).string())) want[fs::relative(e.path(), oracle).string()] = Held(e);
    EXPECT_EQ(got, want) << "drive A: at the end";
  }
}

INSTANTIATE_TEST_SUITE_P(Debug, Rows, testing::ValuesIn(ReadCases(SESSION_ROWS)), [](const testing::TestParamInfo<Case>& i) {
  std::string n;
  for (char c : i.param.name) n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return n;
});


// Pause from another thread stops an endless loop; it can go on and be
// paused again, and step back from there.
TEST(Session, PauseFromAnotherThread) {
  Workspace w;
  StringConsole console("");
  auto s = Open({"L:      INC HL\n        JR L\n"}, console, w.dir());
  ASSERT_TRUE(s);
  for (int round = 0; round < 2; ++round) {
    std::atomic<bool> done{false};
    Stop stop;
    std::thread runner([&] {
      stop = s->Continue();
      done = true;
    });
    // No timing: ask until it has stopped.
    while (!done) {
      s->Pause();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    runner.join();
    EXPECT_EQ(stop.reason, StopReason::kPause);
    EXPECT_TRUE(stop.line == 1 || stop.line == 2) << stop.line;
    EXPECT_EQ(stop.description, "Paused at line " + std::to_string(stop.line));
  }
  // A pause asked between runs stops the next one.
  s->Pause();
  EXPECT_EQ(s->Continue().reason, StopReason::kPause);
  EXPECT_EQ(s->StepInto().reason, StopReason::kStep);
  const uint64_t t = s->Tstates();
  const Stop back = s->StepBack();
  EXPECT_EQ(back.reason, StopReason::kStep);
  EXPECT_LT(s->Tstates(), t);
  EXPECT_EQ(s->TstatesSinceStop(), -static_cast<int64_t>(t - s->Tstates()));  // the step undone
  EXPECT_EQ(s->Terminate().exitStatus, 8);
  EXPECT_TRUE(s->Ended());
}

// Registers and memory set by the user change what the program does; the
// history starts again from there.
TEST(Session, EditAndEvaluate) {
  Workspace w;
  StringConsole console("");
  auto s = Open(
      {"        LD A,65\n"     // 1
       "        LD E,A\n"      // 2
       "        LD C,2\n"      // 3
       "        CALL 5\n"      // 4
       "        LD A,(CH)\n"   // 5
       "        LD E,A\n"      // 6
       "        LD C,2\n"      // 7
       "        CALL 5\n"      // 8
       "        RET\n"         // 9
       "CH:     DB 88\n"},     // 10
      console, w.dir());
  ASSERT_TRUE(s);
  std::string error;
  EXPECT_EQ(s->Evaluate("PC", error)->Text(), "0100H (256)");
  EXPECT_EQ(s->Evaluate("(SP)", error)->Text(), "00H (0)");
  EXPECT_EQ(s->Evaluate("SP", error)->value, 0xFDFEu);
  EXPECT_EQ(s->Evaluate("(&H100)", error)->value, 0x3Eu);  // LD A,n
  EXPECT_EQ(s->Evaluate("CH", error)->value, 0x112u);
  EXPECT_EQ(s->Evaluate("(CH)", error)->Text(), "58H (88)");
  EXPECT_FALSE(s->Evaluate("(NOPE)", error));
  s->StepInto();
  EXPECT_EQ(s->Register("A")->Text(), "41H (65)");
  ASSERT_TRUE(s->SetRegister("A", 66));
  EXPECT_EQ(s->Register("a")->value, 66u);
  ASSERT_TRUE(s->SetRegister("CF", 1));
  EXPECT_EQ(s->Register("F")->value & 1, 1u);
  EXPECT_FALSE(s->SetRegister("Q", 1));
  s->WriteMemory(0x112, {67});
  EXPECT_EQ(s->ReadByte(0x112), 67);
  // The history starts at the change: stepping back stops there.
  EXPECT_TRUE(s->StepBack().historyStart);
  EXPECT_EQ(s->Register("A")->value, 66u);
  const Stop end = s->Continue();
  EXPECT_EQ(end.reason, StopReason::kExited);
  EXPECT_EQ(end.exitStatus, 0);
  EXPECT_EQ(console.out, "BC");
  const auto d = s->Disassemble(0x100);
  EXPECT_EQ(d.text, "LD A,41H");
  EXPECT_EQ(d.bytes, (std::vector<uint8_t>{0x3E, 0x41}));
  EXPECT_EQ(d.line, 1);
  // A restart after the end runs the program as loaded again.
  EXPECT_EQ(s->Restart().reason, StopReason::kEntry);
  EXPECT_EQ(s->Tstates(), 0u);
  EXPECT_EQ(s->Continue().reason, StopReason::kExited);
  EXPECT_EQ(console.out, "BCAX");
}

// A source with errors is not run; the messages say why.
TEST(Session, AssemblyErrors) {
  Workspace w;
  StringConsole console("");
  LaunchOptions opt;
  opt.path = "bad.z80";
  opt.text = "        LD A,B\n        FOO\n        JP NOWHERE\n";
  opt.drive = w.dir().string();
  opt.console = &console;
  std::vector<std::string> errors;
  EXPECT_FALSE(Session::Create(opt, errors));
  EXPECT_EQ(errors, (std::vector<std::string>{"bad.z80:2: Undefined Opcode", "bad.z80:3: Undefined Symbol Referenced"}));
  errors.clear();
  opt.text = "        RET\n";
  opt.drive = (w.dir() / "missing").string();
  EXPECT_FALSE(Session::Create(opt, errors));
  EXPECT_EQ(errors.size(), 1u);
}


// Console input typed later, from another thread.
class TypedConsole : public orvane::runner::Console {
 public:
  void Type(const std::string& text) {
    std::lock_guard<std::mutex> l(m_);
    in_ += text;
    cv_.notify_all();
  }
  int Read() override {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [this] { return !in_.empty(); });
    const int c = static_cast<unsigned char>(in_[0]);
    in_.erase(0, 1);
    return c;
  }
  bool Ready() override {
    std::lock_guard<std::mutex> l(m_);
    return !in_.empty();
  }
  bool Write(const uint8_t* b, size_t n) override {
    std::lock_guard<std::mutex> l(m_);
    out.append(reinterpret_cast<const char*>(b), n);
    return true;
  }
  std::string out;

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::string in_;
};

// A program waiting for a key can be paused: it stops at the call, nothing
// read, and reads the key when it goes on.
TEST(Session, PauseWhileWaitingForAKey) {
  Workspace w;
  TypedConsole console;
  auto s = Open({"        LD C,1\n        CALL 5\n        LD E,A\n        LD C,2\n        CALL 5\n        RET\n"}, console,
                w.dir());
  ASSERT_TRUE(s);
  std::atomic<bool> done{false};
  Stop stop;
  std::thread runner([&] {
    stop = s->Continue();
    done = true;
  });
  while (!done) {
    s->Pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  runner.join();
  EXPECT_EQ(stop.reason, StopReason::kPause);
  EXPECT_EQ(stop.line, 2);
  EXPECT_EQ(s->Register("PC")->value, 0x102u);
  EXPECT_EQ(s->Register("SP")->value, 0xFDFEu);
  EXPECT_EQ(s->ReadMemory(0xFDFC, 2), (std::vector<uint8_t>{0, 0}));  // the CALL's push undone
  console.Type("q");
  stop = s->Continue();
  EXPECT_EQ(stop.reason, StopReason::kExited);
  EXPECT_EQ(console.out, "qq");  // echoed, then printed
}

// A fault leaves no trace of the faulting instruction: the CALL's push is
// undone with it.
TEST(Session, FaultUndoesItsInstruction) {
  Workspace w;
  StringConsole console("");
  auto s = Open({"        LD C,99\n        CALL 5\n        RET\n"}, console, w.dir());
  ASSERT_TRUE(s);
  const Stop stop = s->Continue();
  EXPECT_EQ(stop.reason, StopReason::kException);
  EXPECT_EQ(s->Register("SP")->value, 0xFDFEu);
  EXPECT_EQ(s->ReadMemory(0xFDFC, 2), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(s->StepBack().line, 1);
  EXPECT_EQ(s->StepInto().reason, StopReason::kException);
  EXPECT_EQ(s->ReadMemory(0xFDFC, 2), (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(s->Continue().exitStatus, 3);
}


// A BDOS call that sets a byte directly (the IOBYTE) is undone, replayed and
// seen by a data breakpoint like any other write.
TEST(Session, DirectBdosWrites) {
  Workspace w;
  StringConsole console("");
  auto s = Open({"        LD E,&H55\n        LD C,8\n        CALL 5\n        LD C,7\n        CALL 5\n        RET\n"}, console,
                w.dir());
  ASSERT_TRUE(s);
  const uint8_t was = s->ReadByte(3);
  ASSERT_NE(was, 0x55);
  s->AddDataBreakpoint(3, 3, "IOBYTE");
  const Stop hit = s->Continue();
  EXPECT_EQ(hit.reason, StopReason::kDataBreakpoint);
  EXPECT_EQ(hit.description, "Data breakpoint: IOBYTE written at line 3");
  EXPECT_EQ(s->ReadByte(3), 0x55);
  EXPECT_EQ(s->StepBack().line, 3);
  EXPECT_EQ(s->ReadByte(3), was);
  EXPECT_EQ(s->StepInto().line, 4);
  EXPECT_EQ(s->ReadByte(3), 0x55);
  s->StepInto();
  s->StepInto();
  EXPECT_EQ(s->Register("A")->value, 0x55u);  // function 7 reads it back
}


// A console that is gone: the run stops on the call that wrote to it, and
// ends as orvane-run's does (status 7).
class GoneConsole : public orvane::runner::Console {
 public:
  int Read() override { return -1; }
  bool Ready() override { return true; }
  bool Write(const uint8_t*, size_t) override {
    error = "gone";
    return false;
  }
};

TEST(Session, ConsoleGone) {
  Workspace w;
  GoneConsole console;
  auto s = Open({"        LD E,65\n        LD C,2\n        CALL 5\n        RET\n"}, console, w.dir());
  ASSERT_TRUE(s);
  const Stop stop = s->Continue();
  EXPECT_EQ(stop.reason, StopReason::kException) << stop.description;
  EXPECT_EQ(stop.line, 3);
  EXPECT_NE(stop.message.find("cannot write to the console: gone"), std::string::npos) << stop.message;
  const Stop end = s->Continue();
  EXPECT_EQ(end.reason, StopReason::kExited);
  EXPECT_EQ(end.exitStatus, 7);
}

}  // namespace

namespace {

// The peak resident memory, in KiB, of a child process that runs f.
long PeakKib(const std::function<void()>& f) {
  const pid_t pid = fork();
  if (pid == 0) {
    f();
    _exit(0);
  }
  int status = 0;
  struct rusage ru {};
  if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return ru.ru_maxrss;
}

// A recursion 30,000 calls deep, ten times over: the history (with its
// shadow call stack) stays within the bound while it fills and while a
// stretch of it is rebuilt, measured as bench/debug measures it.
TEST(Session, ADeepRecursionStaysWithinTheHistorysBound) {
  Workspace w;
  const long kib = PeakKib([&] {
    StringConsole console("");
    auto s = Open({"        LD B,10\n"
                   "AGAIN:  LD HL,30000\n"
                   "        CALL DOWN\n"
                   "        DJNZ AGAIN\n"
                   "        RET\n"
                   "DOWN:   DEC HL\n"
                   "        LD A,H\n"
                   "        OR L\n"
                   "        CALL NZ,DOWN\n"
                   "        RET\n"},
                  console, w.dir());
    std::string error;
    if (!s || !s->AddBreakpointAtLine(5, "", 0, error)) _exit(2);
    if (s->Continue().reason != StopReason::kBreakpoint || s->HistoryDepth() < 1000000) _exit(3);
    for (int i = 0; i < 5000; ++i) s->StepBack();
    if (s->CallStack().size() < 2) _exit(4);
  });
  ASSERT_GT(kib, 0) << "the child failed";
  EXPECT_LT(kib, 64 * 1024) << "peak resident memory " << kib << " KiB";
}

}  // namespace

namespace {

// A file deleted that is too large to keep: the history before the DELETE
// is cut, and the stop after it says so.
TEST(Session, AChangeTooLargeToKeepCutsTheHistory) {
  Workspace w;
  {
    std::ofstream big(w.dir() / "BIG.DAT", std::ios::binary);
    big << std::string((16u << 20) + 1, 'x');
  }
  StringConsole console("");
  LaunchOptions opt;
  opt.path = "prog.z80";
  opt.text =
      "        NOP\n"
      "        LD DE,&H5C\n"
      "        LD C,19\n"
      "        CALL 5\n"  // 4: delete BIG.DAT
      "        NOP\n"
      "        RET\n";
  opt.args = {"BIG.DAT"};
  opt.drive = w.dir().string();
  opt.console = &console;
  std::vector<std::string> errors;
  auto s = Session::Create(opt, errors);
  ASSERT_TRUE(s) << (errors.empty() ? "" : errors[0]);
  s->StepInto();
  s->StepInto();
  s->StepInto();
  const Stop after = s->StepInto();
  EXPECT_EQ(after.line, 5);
  EXPECT_FALSE(fs::exists(w.dir() / "BIG.DAT"));
  EXPECT_EQ(after.note, "Step back stops after line 4: deleting BIG.DAT, 16,777,217 bytes, is too large to undo");
  EXPECT_EQ(s->HistoryDepth(), 0u);
  const Stop back = s->StepBack();
  EXPECT_TRUE(back.historyStart);
  EXPECT_EQ(back.line, 5);
  EXPECT_TRUE(back.note.empty());  // said once
  EXPECT_FALSE(fs::exists(w.dir() / "BIG.DAT"));
  EXPECT_EQ(s->Continue().exitStatus, 0);
}

}  // namespace

// A program that hooks warm boot at 0001H: with strict (the default) the
// write stops it, as orvane-run --strict does; without, the hook runs at
// JP 0, a step back takes the write back out, and the warm boot the hook
// goes on to ends the run with status 0.
TEST(Session, AHookedWarmBootFollowsStrict) {
  const std::string source =
      "        LD HL,(1)\n"
      "        LD (OLD),HL\n"
      "        LD HL,HOOK\n"
      "        LD (1),HL\n"
      "        JP 0\n"
      "HOOK:   LD E,72\n"
      "        LD C,2\n"
      "        CALL 5\n"
      "        LD HL,(OLD)\n"
      "        JP (HL)\n"
      "OLD:    DW 0\n";
  for (const bool strict : {true, false}) {
    SCOPED_TRACE(strict ? "strict" : "not strict");
    Workspace w;
    StringConsole console("");
    LaunchOptions opt;
    opt.path = "prog.z80";
    opt.text = source;
    opt.drive = w.dir().string();
    opt.console = &console;
    opt.strict = strict;
    std::vector<std::string> errors;
    auto s = Session::Create(opt, errors);
    ASSERT_TRUE(s) << (errors.empty() ? "" : errors[0]);
    if (strict) {
      const Stop stop = s->Continue();
      EXPECT_EQ(stop.reason, StopReason::kException);
      EXPECT_EQ(stop.line, 4);
      EXPECT_EQ(s->ReadMemory(1, 2), (std::vector<uint8_t>{0x03, 0xFF}));
      continue;
    }
    std::string error;
    ASSERT_GT(s->AddBreakpointAtLine(6, "", 0, error), 0) << error;
    Stop stop = s->Continue();
    EXPECT_EQ(stop.reason, StopReason::kBreakpoint);
    EXPECT_EQ(stop.line, 6);
    EXPECT_EQ(s->Register("PC")->value, 0x10Fu);
    EXPECT_EQ(s->ReadMemory(1, 2), (std::vector<uint8_t>{0x0F, 0x01}));
    s->StepBack();  // at 0000H, the jump the program rewrote
    EXPECT_EQ(s->Register("PC")->value, 0u);
    EXPECT_EQ(s->ReadByte(0), 0xC3);
    EXPECT_EQ(s->StepBack().line, 5);  // JP 0
    EXPECT_EQ(s->StepBack().line, 4);  // before the write to 0001H
    EXPECT_EQ(s->ReadMemory(1, 2), (std::vector<uint8_t>{0x03, 0xFF}));
    stop = s->Continue();
    EXPECT_EQ(stop.reason, StopReason::kBreakpoint);
    stop = s->Continue();
    EXPECT_EQ(stop.reason, StopReason::kExited);
    EXPECT_EQ(stop.exitStatus, 0);
    EXPECT_EQ(console.out, "H");
  }
}

// A board's console: bytes there until they run out, then the end.
class LineConsole : public orvane::runner::Console {
 public:
  explicit LineConsole(std::string in) : in_(std::move(in)) {}
  int Read() override { return pos_ < in_.size() ? static_cast<unsigned char>(in_[pos_++]) : -1; }
  bool Ready() override { return pos_ < in_.size(); }
  bool Ended() override { return pos_ >= in_.size(); }
  bool Write(const uint8_t* b, size_t n) override {
    out.append(reinterpret_cast<const char*>(b), n);
    return true;
  }
  std::string out;

 private:
  std::string in_;
  size_t pos_ = 0;
};

// On a board, an IM 1 receive interrupt is one step: a breakpoint in the
// handler shows the interrupt's frame, reverse continue and step back go
// back across interrupts to the instruction interrupted, and the byte is
// received again as the first time, nothing sent twice.
TEST(Session, BoardInterruptsStepBack) {
  LineConsole console("ab.");
  LaunchOptions opt;
  opt.path = "ring.z80";
  opt.board = "sbc-acia";
  opt.console = &console;
  opt.text =
      "        ORG 0\n"          // 1
      "        DI\n"             // 2
      "        LD SP,&H9000\n"   // 3
      "        JP START\n"       // 4
      "        ORG &H38\n"       // 5
      "RX:     PUSH AF\n"        // 6   0038H
      "        IN A,(&H81)\n"    // 7   0039H
      "        LD (GOT),A\n"     // 8
      "        LD A,1\n"         // 9
      "        LD (NEW),A\n"     // 10
      "        POP AF\n"         // 11
      "        EI\n"             // 12
      "        RETI\n"           // 13
      "START:  LD A,3\n"         // 14
      "        OUT (&H80),A\n"   // 15
      "        LD A,&H96\n"      // 16
      "        OUT (&H80),A\n"   // 17
      "        IM 1\n"           // 18
      "        XOR A\n"          // 19
      "        LD (NEW),A\n"     // 20
      "        EI\n"             // 21
      "WAIT:   LD A,(NEW)\n"     // 22
      "        OR A\n"           // 23
      "        JR Z,WAIT\n"      // 24
      "        DI\n"             // 25
      "        XOR A\n"          // 26
      "        LD (NEW),A\n"     // 27
      "        LD A,(GOT)\n"     // 28
      "        OUT (&H81),A\n"   // 29
      "        CP 46\n"          // 30
      "        JR Z,DONE\n"      // 31
      "        EI\n"             // 32
      "        JR WAIT\n"        // 33
      "DONE:   HALT\n"           // 34
      "GOT     EQU &H8000\n"     // 35
      "NEW     EQU &H8001\n"     // 36
      "        END\n";           // 37
  std::vector<std::string> errors;
  auto s = Session::Create(opt, errors);
  ASSERT_TRUE(s) << (errors.empty() ? "" : errors[0]);
  EXPECT_EQ(s->LastStop().address, 0x0000);
  EXPECT_EQ(s->LastStop().line, 2);
  std::string error;
  ASSERT_NE(s->AddBreakpointAtLine(7, "", 0, error), 0) << error;

  Stop stop = s->Continue();
  ASSERT_EQ(stop.reason, StopReason::kBreakpoint) << stop.description;
  EXPECT_EQ(stop.address, 0x0039);
  EXPECT_EQ(s->Register("SP")->value, 0x8FFCu);  // the return address and AF
  std::vector<Frame> frames = s->CallStack();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_FALSE(frames[0].interrupt);
  EXPECT_TRUE(frames[1].interrupt);
  EXPECT_EQ(frames[1].slot, 0x8FFE);
  EXPECT_EQ(frames[1].returnAddress, frames[1].address);
  EXPECT_TRUE(frames[1].line >= 22 && frames[1].line <= 24) << frames[1].line;  // the loop waiting
  const Frame first = frames[1];
  EXPECT_EQ(s->RunCount(0x0038), 1u);
  EXPECT_EQ(s->RunCount(0x0039), 0u);
  EXPECT_EQ(s->StepInto().line, 8);
  EXPECT_EQ(s->Register("A")->value, 0x61u);  // 'a'

  ASSERT_EQ(s->Continue().reason, StopReason::kBreakpoint);
  EXPECT_EQ(s->StepInto().line, 8);
  EXPECT_EQ(s->Register("A")->value, 0x62u);  // 'b'
  EXPECT_EQ(console.out, "a");

  // Back to the second arrival, then the first, then out of the handler.
  stop = s->ReverseContinue();
  EXPECT_EQ(stop.reason, StopReason::kBreakpoint);
  EXPECT_EQ(s->RunCount(0x0038), 2u);
  stop = s->ReverseContinue();
  EXPECT_EQ(stop.reason, StopReason::kBreakpoint);
  EXPECT_EQ(s->RunCount(0x0038), 1u);
  EXPECT_EQ(s->StepBack().address, 0x0038);
  stop = s->StepBack();
  EXPECT_EQ(stop.address, first.address);
  EXPECT_EQ(stop.line, first.line);
  EXPECT_EQ(s->Register("SP")->value, 0x9000u);
  EXPECT_EQ(s->CallStack().size(), 1u);
  EXPECT_EQ(s->RunCount(0x0038), 0u);

  // Forward again: the same interrupt at the same place, the same byte.
  stop = s->StepInto();
  EXPECT_EQ(stop.address, 0x0038);
  EXPECT_EQ(s->CallStack().size(), 2u);
  ASSERT_EQ(s->Continue().reason, StopReason::kBreakpoint);
  EXPECT_EQ(s->StepInto().line, 8);
  EXPECT_EQ(s->Register("A")->value, 0x61u);

  s->ClearBreakpoints();
  stop = s->Continue();
  EXPECT_EQ(stop.reason, StopReason::kException) << stop.description;
  EXPECT_EQ(stop.line, 34);
  EXPECT_EQ(stop.description, "Stopped: HALT at 006DH with interrupts disabled, line 34");
  EXPECT_EQ(s->RunCount(0x0038), 3u);
  EXPECT_EQ(console.out, "ab.");  // each byte sent once, replays or not
  stop = s->Continue();
  EXPECT_EQ(stop.reason, StopReason::kExited);
  EXPECT_EQ(stop.exitStatus, 5);
}

// The profile and the coverage of a debug session are orvane-run's for the
// same program, however the session stepped back and ran on again.
TEST(Session, ProfileAndCoverageAreOrvaneRunsWhateverTheSteps) {
  Workspace w;
  const fs::path d = w.dir();
  std::ofstream(d / "prog.z80") << "START:  LD B,10\n"   // 1
                                   "LOOP:   CALL ONE\n"   // 2
                                   "        DJNZ LOOP\n"  // 3
                                   "        RET\n"        // 4
                                   "ONE:    CALL TWO\n"   // 5
                                   "        RET\n"        // 6
                                   "TWO:    LD A,B\n"     // 7
                                   "        CP 5\n"       // 8
                                   "        RET NZ\n"     // 9
                                   "        INC A\n"      // 10
                                   "        RET\n";       // 11
  std::ofstream(d / "in.txt") << "";
  const std::string cmd = "cd " + Quote(d.string()) + " && " + Quote(ORVANE_ASM) +
                          " -q --run --profile run.out --coverage run.info -l prog.LST -o prog.com prog.z80"
                          " <in.txt >out.txt 2>err.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << Slurp(d / "err.txt");
  StringConsole console("");
  LaunchOptions opt;
  opt.path = (d / "prog.z80").string();
  opt.drive = d.string();
  opt.console = &console;
  opt.profile = (d / "debug.out").string();
  opt.coverage = (d / "debug.info").string();
  std::vector<std::string> errors;
  auto s = Session::Create(opt, errors);
  ASSERT_TRUE(s) << (errors.empty() ? "" : errors[0]);
  std::string error;
  ASSERT_NE(s->AddBreakpointAtLine(10, "", 0, error), 0) << error;
  ASSERT_EQ(s->Continue().reason, StopReason::kBreakpoint);
  for (int i = 0; i < 25; ++i) s->StepBack();
  s->StepOver();
  s->ClearBreakpoints();
  const Stop end = s->Continue();
  ASSERT_EQ(end.reason, StopReason::kExited) << end.description;
  EXPECT_EQ(end.note, "");
  // All but the command line that made them.
  auto body = [](const fs::path& p) {
    std::stringstream in(Slurp(p));
    std::string out, line;
    while (std::getline(in, line))
      if (line.rfind("cmd:", 0) != 0) out += line + "\n";
    return out;
  };
  const std::string profile = body(d / "debug.out");
  EXPECT_NE(profile.find("fn="), std::string::npos) << profile;
  EXPECT_EQ(profile, body(d / "run.out"));
  EXPECT_EQ(body(d / "debug.info"), body(d / "run.info"));
  std::string written;
  EXPECT_TRUE(s->WriteCoverage((d / "again.info").string(), written)) << written;
  EXPECT_EQ(body(d / "again.info"), body(d / "run.info"));
}

// A board's run ends where orvane-run --board ends it: each stops AT its
// instruction with orvane-run's message, and continuing ends with its status.
TEST(Session, BoardEndsAsOrvaneRunEndsThem) {
  struct Row {
    const char* source;
    const char* input;
    const char* description;
    int status;
  };
  const Row rows[] = {
      {" DI\n HALT\n", "", "Stopped: HALT at 0001H with interrupts disabled, line 2", 5},
      {" EI\n HALT\n", "", "Stopped: HALT at 0001H: interrupts are enabled, but no device can interrupt, line 2", 5},
      // Receive interrupts on, then a HALT with nothing more to come.
      {" LD A,&H96\n OUT (&H80),A\n IM 1\n EI\n HALT\n", "",
       "Stopped: HALT at 0007H waits for console input, and the input has ended, line 5", 9},
      {" LD A,1\n LD (&H10),A\n", "", "Stopped: the instruction at 0002H wrote to 0010H, which is ROM, line 2", 6},
  };
  for (const Row& r : rows) {
    LineConsole console(r.input);
    LaunchOptions opt;
    opt.path = "b.z80";
    opt.text = r.source;
    opt.board = "sbc-acia";
    opt.console = &console;
    std::vector<std::string> errors;
    auto s = Session::Create(opt, errors);
    ASSERT_TRUE(s) << (errors.empty() ? "" : errors[0]);
    const Stop stop = s->Continue();
    EXPECT_EQ(stop.reason, StopReason::kException) << r.source;
    EXPECT_EQ(stop.description, r.description) << r.source;
    const Stop end = s->Continue();
    EXPECT_EQ(end.reason, StopReason::kExited) << r.source;
    EXPECT_EQ(end.exitStatus, r.status) << r.source;
  }
}

// A board program that polls its 68B50: a step back across checkpoints
// into the middle of the run, then on again, reads each byte where it read
// it the first time, and each is echoed once.
TEST(Session, BoardPollingAcrossCheckpoints) {
  LineConsole console("abcdefg.");
  LaunchOptions opt;
  opt.path = "echo.z80";
  opt.board = "sbc-acia";
  opt.console = &console;
  opt.text =
      "        ORG 0\n"          // 1
      "        LD SP,&H9000\n"   // 2
      "        LD A,3\n"         // 3
      "        OUT (&H80),A\n"   // 4
      "        LD A,&H16\n"      // 5
      "        OUT (&H80),A\n"   // 6
      "NEXT:   LD DE,1000\n"     // 7   about 4000 instructions between bytes
      "DLY:    DEC DE\n"         // 8
      "        LD A,D\n"         // 9
      "        OR E\n"           // 10
      "        JR NZ,DLY\n"      // 11
      "POLL:   IN A,(&H80)\n"    // 12
      "        RRCA\n"           // 13
      "        JR NC,POLL\n"     // 14
      "        IN A,(&H81)\n"    // 15
      "        LD C,A\n"         // 16
      "WAITTX: IN A,(&H80)\n"    // 17
      "        AND 2\n"          // 18
      "        JR Z,WAITTX\n"    // 19
      "        LD A,C\n"         // 20
      "        OUT (&H81),A\n"   // 21
      "        CP 46\n"          // 22
      "        JR NZ,NEXT\n"     // 23
      "        DI\n"             // 24
      "        HALT\n";          // 25
  std::vector<std::string> errors;
  auto s = Session::Create(opt, errors);
  ASSERT_TRUE(s) << (errors.empty() ? "" : errors[0]);
  std::string error;
  ASSERT_NE(s->AddBreakpointAtLine(16, "", 0, error), 0) << error;
  for (const char c : std::string("abc")) {
    ASSERT_EQ(s->Continue().reason, StopReason::kBreakpoint);
    EXPECT_EQ(s->Register("A")->value, static_cast<unsigned char>(c));
  }
  const uint64_t third = s->Instructions();
  const uint64_t t = s->Tstates();
  EXPECT_EQ(console.out, "ab");
  for (int i = 0; i < 3000; ++i) s->StepBack();
  EXPECT_EQ(s->Instructions(), third - 3000);
  ASSERT_EQ(s->Continue().reason, StopReason::kBreakpoint);
  EXPECT_EQ(s->Instructions(), third);
  EXPECT_EQ(s->Tstates(), t);
  EXPECT_EQ(s->Register("A")->value, static_cast<unsigned char>('c'));
  ASSERT_EQ(s->Continue().reason, StopReason::kBreakpoint);
  EXPECT_EQ(s->Register("A")->value, static_cast<unsigned char>('d'));
  s->ClearBreakpoints();
  const Stop stop = s->Continue();
  EXPECT_EQ(stop.reason, StopReason::kException) << stop.description;
  EXPECT_EQ(stop.line, 25);
  EXPECT_EQ(console.out, "abcdefg.");
  EXPECT_EQ(s->Continue().exitStatus, 5);
}

// On a board, a step over runs an interrupt taken on the way through its
// handler: each step over goes to the next line of the main program.
TEST(Session, BoardStepOverStepsOverAnInterrupt) {
  LineConsole console("x");
  std::string source =
      "        ORG 0\n"          // 1
      "        LD SP,&H9000\n"   // 2
      "        JP START\n"       // 3
      "        ORG &H38\n"       // 4
      "        PUSH AF\n"        // 5
      "        IN A,(&H81)\n"    // 6
      "        LD (GOT),A\n"     // 7
      "        POP AF\n"         // 8
      "        EI\n"             // 9
      "        RETI\n"           // 10
      "START:  LD A,&H96\n"      // 11
      "        OUT (&H80),A\n"   // 12
      "        IM 1\n"           // 13
      "        EI\n";            // 14
  // Lines 15-94: 80 x 13 T-states, longer than the 68B50 takes to see the byte.
  for (int i = 0; i < 80; ++i) source += "        LD A,(&H8010)\n";
  source += "        DI\n        HALT\nGOT     EQU &H8000\n";
  LaunchOptions opt;
  opt.path = "over.z80";
  opt.text = source;
  opt.board = "sbc-acia";
  opt.console = &console;
  std::vector<std::string> errors;
  auto s = Session::Create(opt, errors);
  ASSERT_TRUE(s) << (errors.empty() ? "" : errors[0]);
  std::string error;
  ASSERT_NE(s->AddBreakpointAtLine(15, "", 0, error), 0) << error;
  ASSERT_EQ(s->Continue().reason, StopReason::kBreakpoint);
  for (int line = 16; line <= 95; ++line) {
    const Stop stop = s->StepOver();
    ASSERT_EQ(stop.reason, StopReason::kStep) << stop.description;
    ASSERT_EQ(stop.line, line) << stop.description;
  }
  EXPECT_EQ(s->ReadByte(0x8000), 0x78);  // the handler ran on the way
  EXPECT_EQ(s->RunCount(0x0038), 1u);
  // Stepping back goes into the handler, one step at a time.
  s->ClearBreakpoints();
  EXPECT_EQ(s->StepInto().line, 96);
  bool inHandler = false;
  for (int i = 0; i < 120 && !inHandler; ++i) inHandler = s->StepBack().line == 10;
  EXPECT_TRUE(inHandler);
}
