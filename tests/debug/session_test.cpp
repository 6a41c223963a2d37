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

#include <cctype>
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
#include "test_console.h"

namespace fs = std::filesystem;
using orvane::debug::Frame;
using orvane::debug::LaunchOptions;
using orvane::debug::Session;
using orvane::debug::Stop;
using orvane::debug::StopReason;

namespace {

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
  std::map<std::string, std::string> files;  // put on drive A: first, as the rows write them
  std::string board;                  // a board's name; no oracle then
  TestConsole::Mode console = TestConsole::kString;
  bool oracle = true, strict = true, profile = false;
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
      std::ofstream(d / n, std::ios::binary) << rows::Unescape(text);
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
                    " -q --run --trace trace.txt -l prog.LST -o prog.com";
  if (p.strict) cmd += " --strict";
  if (p.profile) cmd += " --profile run.out --coverage run.info";
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

using rows::Num;

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
  static const std::map<std::string, TestConsole::Mode> kConsoles = {
      {"waiting", TestConsole::kWaiting}, {"gone", TestConsole::kGone}};
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
      p.maxTstates = Num(value);
    } else if (key == "file") {
      rows::Need(value.find(' ') != std::string::npos, "no FILE TEXT");
      // Kept escaped, unescaped when a case runs: a 16 MiB file read here
      // would sit in every test process's memory.
      p.files[value.substr(0, value.find(' '))] = value.substr(value.find(' ') + 1);
    } else if (key == "board") {
      p.board = value;
      p.console = TestConsole::kLine;
      p.oracle = false;
    } else if (key == "console") {
      rows::Need(kConsoles.count(value), "an unknown console");
      p.console = kConsoles.at(value);
    } else if (key == "without") {
      rows::Need(value == "oracle" || value == "strict", "without oracle or strict");
      (value == "oracle" ? p.oracle : p.strict) = false;
    } else if (key == "with") {
      rows::Need(value == "profile", "with profile");
      p.profile = true;
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

// The next word of in, or "" at its end.
std::string Word(std::istream& in) {
  std::string w;
  return in >> w ? w : "";
}

// Bytes written as two hex digits each, spaces between.
std::vector<uint8_t> Bytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  std::stringstream in(text);
  for (std::string b; in >> b;) bytes.push_back(static_cast<uint8_t>(Num(b + "H")));
  return bytes;
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

// All but the command line that made them.
std::string Body(const fs::path& p) {
  std::stringstream in(Slurp(p));
  std::string out, line;
  while (std::getline(in, line))
    if (line.rfind("cmd:", 0) != 0) out += line + "\n";
  return out;
}

TEST_P(Rows, Script) {
  const Case& c = GetParam();
  ASSERT_EQ(c.error, "");
  const Program& p = c.program;
  Workspace w;
  const Oracle o = p.oracle ? RunOracle(w, p) : Oracle{};
  ASSERT_TRUE(!p.oracle || !o.rows.empty()) << "orvane-asm --run --trace gave no trace";
  TestConsole console(p.console, p.input);
  const fs::path folder = w.Folder("session", p);
  LaunchOptions opt;
  // A profile names the source by its path: the oracle's file, as orvane-run's does.
  opt.path = p.profile ? (w.dir() / "oracle" / "prog.z80").string() : "prog.z80";
  opt.text = p.source;
  opt.args = p.args;
  if (p.board.empty()) opt.drive = folder.string();
  opt.console = &console;
  opt.maxTstates = p.maxTstates;
  opt.strict = p.strict;
  opt.board = p.board;
  if (p.profile) opt.profile = (w.dir() / "debug.out").string(), opt.coverage = (w.dir() / "debug.info").string();
  std::vector<std::string> errors;
  auto s = Session::Create(opt, errors);
  ASSERT_TRUE(s) << (errors.empty() ? "" : errors[0]);
  if (p.oracle) {
    EXPECT_EQ(s->LastStop().reason, StopReason::kEntry);
    ExpectRow(*s, o, 0, "entry");
  }
  long expected = 0;
  uint64_t tBefore = 0, iBefore = 0;
  std::pair<uint64_t, uint64_t> mark;  // instructions and T-states where "mark" stood
  Frame frame;                         // the frame "frame" checked last
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
    const std::string verb = Word(cs);
    std::string arg = Word(cs), rest;
    std::getline(cs, rest);
    rest = Trim(rest);
    Stop stop;
    if (verb == "b") {
      std::string condition, error;
      int hit = 0;
      if (rest.rfind("if ", 0) == 0) condition = rest.substr(3);
      if (rest.rfind("hit ", 0) == 0) hit = std::stoi(rest.substr(4));
      ASSERT_NE(s->AddBreakpointAtLine(std::stoi(arg), condition, hit, error), 0) << where << ": " << error;
      continue;
    }
    if (verb == "set") {  // a change by the user: the program then leaves the trace's path
      EXPECT_EQ(s->SetRegister(arg, Num(rest)), expect != "refused") << where;
      continue;
    }
    if (verb == "file" || verb == "nofile") {  // what drive A: holds now, by CP/M name (any case)
      // "3/NAME": in the folder of user 3's files.
      fs::path in = folder;
      if (const size_t slash = arg.find('/'); slash != std::string::npos) {
        in /= arg.substr(0, slash);
        arg.erase(0, slash + 1);
      }
      std::vector<fs::path> found;
      if (fs::is_directory(in)) {
        for (const auto& e : fs::directory_iterator(in)) {
          std::string n = e.path().filename().string();
          for (char& ch : n) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
          if (n == arg) found.push_back(e.path());
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
    if (verb == "d") {  // on a symbol, or a name and an address
      const auto* sym = s->program().FindSymbol(arg);
      ASSERT_TRUE(sym || !rest.empty()) << where;
      const uint16_t a = static_cast<uint16_t>(sym ? sym->value : Num(rest));
      s->AddDataBreakpoint(a, a, arg);
      continue;
    }
    if (verb == "runs") {  // how often the first instruction of line L has started
      const auto* l = s->program().Resolve(std::stoi(arg));
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
    if (verb == "frame") {  // frame K = call, or interrupt SLOT L-L: the Kth frame from the innermost
      const std::vector<Frame> frames = s->CallStack();
      ASSERT_LT(std::stoul(arg), frames.size()) << where;
      frame = frames[std::stoul(arg)];
      std::stringstream es(expect);
      EXPECT_EQ(frame.interrupt, Word(es) == "interrupt") << where;
      if (!frame.interrupt) continue;
      EXPECT_EQ(frame.slot, Num(Word(es))) << where;
      EXPECT_EQ(frame.returnAddress, frame.address) << where;
      const std::string lines = Word(es);
      const int lo = std::stoi(lines), hi = std::stoi(lines.substr(lines.find('-') + 1));
      EXPECT_TRUE(frame.line >= lo && frame.line <= hi) << where << ": line " << frame.line;
      continue;
    }
    if (verb == "frames") {
      EXPECT_EQ(s->CallStack().size(), std::stoul(expect)) << where;
      continue;
    }
    if (verb == "reg") {  // a value, or with a space the text the debugger shows
      const auto r = s->Register(arg);
      ASSERT_TRUE(r) << where;
      if (expect.find(' ') != std::string::npos) {
        EXPECT_EQ(r->Text(), expect) << where;
      } else {
        EXPECT_EQ(r->value, Num(expect)) << where;
      }
      continue;
    }
    if (verb == "eval") {
      std::string error;
      const auto v = s->Evaluate(arg, error);
      EXPECT_EQ(v ? v->Text() : "none", expect) << where << ": " << error;
      continue;
    }
    if (verb == "mem") {  // mem ADDR N = the N bytes there
      EXPECT_EQ(s->ReadMemory(static_cast<uint16_t>(Num(arg)), Num(rest)), Bytes(expect)) << where;
      continue;
    }
    if (verb == "poke") {  // a write by the user
      s->WriteMemory(static_cast<uint16_t>(Num(arg)), Bytes(rest));
      continue;
    }
    if (verb == "dis") {  // dis ADDR = LINE BYTES TEXT
      const auto d = s->Disassemble(static_cast<uint16_t>(Num(arg)));
      std::stringstream es(expect);
      EXPECT_EQ(d.line, std::stoi(Word(es))) << where;
      const std::string bytes = Word(es);
      std::string text;
      std::getline(es, text);
      EXPECT_EQ(d.bytes, Bytes(bytes.substr(0, 2) + " " + bytes.substr(2))) << where;
      EXPECT_EQ(d.text, Trim(text)) << where;
      continue;
    }
    if (verb == "out" || verb == "note" || verb == "message") {  // the console's output, the last stop's texts
      const Stop& last = s->LastStop();
      EXPECT_EQ(verb == "out" ? console.out : verb == "note" ? last.note : last.message, rows::Unescape(expect)) << where;
      continue;
    }
    if (verb == "tstates" || verb == "depth" || verb == "ended") {  // ended: 1 or 0
      const uint64_t got = verb == "tstates" ? s->Tstates() : verb == "depth" ? s->HistoryDepth() : s->Ended();
      EXPECT_EQ(got, Num(expect)) << where;
      continue;
    }
    if (verb == "since") {  // since = undone: the last move took back the T-states it undid
      EXPECT_LT(s->Tstates(), tBefore) << where;
      EXPECT_EQ(s->TstatesSinceStop(), static_cast<int64_t>(s->Tstates()) - static_cast<int64_t>(tBefore)) << where;
      continue;
    }
    if (verb == "mark") {
      mark = {s->Instructions(), s->Tstates()};
      continue;
    }
    if (verb == "pause") {  // asked between runs: the next one stops
      s->Pause();
      continue;
    }
    if (verb == "type") {
      console.Type(rows::Unescape(arg));
      continue;
    }
    if (verb == "profiles") {  // the profile and coverage written are orvane-run's
      const fs::path run = w.dir() / "oracle";
      const std::string profile = Body(w.dir() / "debug.out");
      EXPECT_NE(profile.find("fn="), std::string::npos) << profile;
      EXPECT_EQ(profile, Body(run / "run.out"));
      EXPECT_EQ(Body(w.dir() / "debug.info"), Body(run / "run.info"));
      std::string written;
      EXPECT_TRUE(s->WriteCoverage((w.dir() / "again.info").string(), written)) << written;
      EXPECT_EQ(Body(w.dir() / "again.info"), Body(run / "run.info"));
      continue;
    }
    tBefore = s->Tstates();
    iBefore = s->Instructions();
    static const std::map<std::string, Stop (Session::*)()> kMoves = {
        {"c", &Session::Continue},  {"s", &Session::StepInto},         {"o", &Session::StepOver},
        {"u", &Session::StepOut},   {"rc", &Session::ReverseContinue}, {"restart", &Session::Restart},
        {"terminate", &Session::Terminate}};
    if (kMoves.count(verb)) {
      stop = (s.get()->*kMoves.at(verb))();
    } else if (verb == "to") {
      stop = s->RunToLine(std::stoi(arg));
    } else if (verb == "back") {
      const long n = arg.empty() ? 1 : std::stol(arg);
      for (long i = 0; i < n; ++i) stop = s->StepBack();
    } else if (verb == "backto") {  // backto L N: steps back until line L, at most N
      for (long i = 0; i < std::stol(rest) && stop.line != std::stoi(arg); ++i) stop = s->StepBack();
    } else if (verb == "here") {
      stop = s->LastStop();
    } else if (verb == "cp") {  // continue on another thread, paused from this one
      std::thread runner([&] { stop = s->Continue(); });
      s->Pause();  // kept for the run if it comes first, else it stops it
      runner.join();
    } else {
      FAIL() << where << ": unknown command";
    }
    EXPECT_EQ(stop.reason, s->LastStop().reason) << where;
    if (const size_t at = description.find("%L"); at != std::string::npos)
      description.replace(at, 2, std::to_string(stop.line));
    if (!description.empty()) {
      EXPECT_EQ(stop.description, description) << where;
    }
    std::stringstream es(expect);
    std::string first = Word(es);
    static const std::map<std::string, StopReason> kReasons = {
        {"bp", StopReason::kBreakpoint}, {"data", StopReason::kDataBreakpoint}, {"step", StopReason::kStep},
        {"pause", StopReason::kPause},   {"start", StopReason::kStep},          {"entry", StopReason::kEntry},
        {"exception", StopReason::kException}, {"exited", StopReason::kExited}};
    if (first == "any") continue;
    if (first == "stop") {  // after a change: stopped, in a state the trace has not
      EXPECT_TRUE(stop.reason == StopReason::kBreakpoint || stop.reason == StopReason::kStep)
          << where << ": " << stop.description;
      continue;
    }
    if (first == "exit") {
      EXPECT_EQ(stop.reason, StopReason::kExited) << where << ": " << stop.description;
      EXPECT_EQ(stop.exitStatus, o.status) << where;
      EXPECT_EQ(stop.message, o.message) << where;
      if (Word(es) == "status") {
        EXPECT_EQ(stop.exitStatus, std::stoi(Word(es))) << where;
      }
      continue;
    }
    if (first == "fault") {
      EXPECT_EQ(stop.reason, StopReason::kException) << where << ": " << stop.description;
      EXPECT_EQ(stop.message, o.message) << where;
      EXPECT_EQ(stop.exitStatus, o.status) << where;
      first = Word(es);
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
      first = Word(es);
    }
    // Without the trace: what the stop must show, word by word.
    static const std::set<std::string> kWords = {"", "line", "at", "status", "marked", "framed"};
    if (!p.oracle || kWords.count(first)) {
      for (; !first.empty(); first = Word(es)) {
        if (first == "line") {  // L or L/L: one of them
          const std::string lines = "/" + Word(es) + "/";
          EXPECT_NE(lines.find("/" + std::to_string(stop.line) + "/"), std::string::npos) << where << ": " << stop.line;
        } else if (first == "at") {
          EXPECT_EQ(stop.address, Num(Word(es))) << where;
        } else if (first == "status") {
          EXPECT_EQ(stop.exitStatus, std::stoi(Word(es))) << where;
        } else if (first == "marked") {  // where "mark" stood
          EXPECT_EQ(s->Instructions(), mark.first) << where;
          EXPECT_EQ(s->Tstates(), mark.second) << where;
        } else if (first == "framed") {  // where the frame "frame" checked last returns to
          EXPECT_EQ(stop.address, frame.address) << where;
          EXPECT_EQ(stop.line, frame.line) << where;
        } else {  // @+N / @-N: that many instructions on or back
          ASSERT_EQ(first[0], '@') << where;
          EXPECT_EQ(static_cast<int64_t>(s->Instructions() - iBefore), std::stol(first.substr(1))) << where;
        }
      }
      continue;
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
  if (p.oracle && s->Ended()) {
    EXPECT_EQ(console.out, o.out);
    const fs::path oracle = w.dir() / "oracle";
    const std::set<std::string> harness = {"prog.z80", "prog.LST", "prog.com", "in.txt",
                                           "out.txt",  "err.txt",  "run.out",  "run.info"};
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

// The options of a CP/M program given as text, drive A: at drive.
LaunchOptions Options(const std::string& text, orvane::runner::Console& console, const fs::path& drive) {
  LaunchOptions opt;
  opt.path = "bad.z80";
  opt.text = text;
  opt.drive = drive.string();
  opt.console = &console;
  return opt;
}

// A source with errors is not run; the messages say why.
TEST(Session, AssemblyErrors) {
  Workspace w;
  TestConsole console(TestConsole::kString, "");
  LaunchOptions opt = Options("        LD A,B\n        FOO\n        JP NOWHERE\n", console, w.dir());
  std::vector<std::string> errors;
  EXPECT_FALSE(Session::Create(opt, errors));
  EXPECT_EQ(errors, (std::vector<std::string>{"bad.z80:2: Undefined Opcode", "bad.z80:3: Undefined Symbol Referenced"}));
  errors.clear();
  opt.text = "        RET\n";
  opt.drive = (w.dir() / "missing").string();
  EXPECT_FALSE(Session::Create(opt, errors));
  EXPECT_EQ(errors.size(), 1u);
}

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
    TestConsole console(TestConsole::kString, "");
    std::vector<std::string> errors;
    auto s = Session::Create(Options("        LD B,10\n"
                                     "AGAIN:  LD HL,30000\n"
                                     "        CALL DOWN\n"
                                     "        DJNZ AGAIN\n"
                                     "        RET\n"
                                     "DOWN:   DEC HL\n"
                                     "        LD A,H\n"
                                     "        OR L\n"
                                     "        CALL NZ,DOWN\n"
                                     "        RET\n",
                                     console, w.dir()),
                             errors);
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
