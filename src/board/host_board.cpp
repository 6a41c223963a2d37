#include "board/host_board.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <streambuf>

#include "board/board.h"
#include "profile/recorder.h"
#include "profile/writers.h"
#include "runner/stats.h"

namespace orvane::board {

namespace {

// The console as a serial line.
class ConsoleLine final : public SerialLine {
 public:
  explicit ConsoleLine(runner::Console& c) : c_(c) {}
  bool Ready() override { return c_.Ready(); }
  int Read() override { return c_.Read(); }
  bool Ended() override { return c_.Ended(); }
  void Write(uint8_t b) override {
    if (error_.empty() && !c_.Write(&b, 1)) error_ = c_.error;
  }
  std::string Flush() override {
    if (error_.empty() && !c_.Flush()) error_ = c_.error;
    return error_;
  }
  bool QuitRequested() override { return c_.QuitRequested(); }

 private:
  runner::Console& c_;
  std::string error_;
};

// The trace file: whole lines until the next would pass the limit (0: none),
// then a note on err once, and nothing more. The first failed write keeps
// its reason.
class TraceOut final : public std::streambuf {
 public:
  TraceOut(int fd, std::string path, uint64_t limit, std::ostream& err, std::string note)
      : fd_(fd), path_(std::move(path)), limit_(limit), err_(err), note_(std::move(note)) {}
  ~TraceOut() override {
    Drain();
    close(fd_);
  }
  std::string Error() {
    Drain();
    return error_ ? "cannot write " + path_ + ": " + strerror(error_) : "";
  }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof() || stopped_) return traits_type::not_eof(c);
    line_.push_back(static_cast<char>(c));
    if (c == '\n') {
      if (limit_ && written_ + line_.size() > limit_) {
        stopped_ = true;
        err_ << note_ << std::flush;
      } else {
        written_ += line_.size();
        buf_ += line_;
        if (buf_.size() >= (1 << 16)) Drain();
      }
      line_.clear();
    }
    return c;
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  bool Drain() {
    size_t done = 0;
    while (done < buf_.size() && error_ == 0) {
      const ssize_t n = write(fd_, buf_.data() + done, buf_.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) error_ = n < 0 ? errno : ENOSPC;
      else done += static_cast<size_t>(n);
    }
    buf_.clear();
    return error_ == 0;
  }
  int fd_;
  std::string path_;
  uint64_t limit_, written_ = 0;
  std::ostream& err_;
  std::string note_, line_, buf_;
  bool stopped_ = false;
  int error_ = 0;
};

bool ParseAddress(const std::string& s, uint16_t& v) {
  std::string t = s;
  if (!t.empty() && (t.back() == 'H' || t.back() == 'h')) t.pop_back();
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
  if (t.empty() || t.size() > 4) return false;
  char* end = nullptr;
  const unsigned long n = std::strtoul(t.c_str(), &end, 16);
  if (*end || n > 0xFFFF || !std::isxdigit(static_cast<unsigned char>(t[0]))) return false;
  v = static_cast<uint16_t>(n);
  return true;
}

}  // namespace

bool TakeBoardOption(const std::vector<std::string>& args, size_t& i, BoardRun& run, std::string& error) {
  const std::string& a = args[i];
  if (a == "--fast") return run.fast = true;
  const size_t eq = a.find('=');
  const std::string name = a.substr(0, eq);
  if (name != "--board" && name != "--load") return false;
  std::string value;
  if (eq != std::string::npos)
    value = a.substr(eq + 1);
  else if (i + 1 < args.size())
    value = args[++i];
  else
    return error = a + " needs a value", true;
  if (name == "--board") {
    run.board = value;
    if (value.empty()) error = "--board needs a value";
    return true;
  }
  run.hasLoad = true;
  if (!ParseAddress(value, run.load))
    error = "--load takes an address in hexadecimal (8000, 8000H), not '" + value + "'";
  return true;
}

void ListBoards(std::ostream& out) {
  for (const Profile& p : Profiles()) out << p.name << ": " << p.Describe() << "\n";
}

int RunBoardOnHost(const std::vector<uint8_t>& file, bool hex, const BoardRun& board, const runner::HostRun& run,
                   const std::string& name, std::ostream& err) {
  Profile profile;
  std::string error;
  if (!FindProfile(board.board.empty() ? kDefaultBoard : board.board, profile, error))
    return err << name << ": " << error << "\n", runner::kUsage;
  BoardOptions opt;
  opt.maxTstates = run.maxTstates;
  opt.strict = run.strict;
  opt.source = run.source;
  opt.realTime = !board.fast && isatty(0);
  std::unique_ptr<TraceOut> traceBuf;
  std::ostream trace(nullptr);
  if (!run.trace.empty()) {
    const int fd = open(run.trace.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return err << name << ": cannot write " << run.trace << ": " << strerror(errno) << "\n", runner::kUsage;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const uint64_t limit = run.traceLimit ? *run.traceLimit : run.maxTstates == 0 ? runner::kTraceLimit : 0;
    traceBuf = std::make_unique<TraceOut>(fd, run.trace, limit, err,
                                          name + ": the trace stopped at " + std::to_string(limit) +
                                              " bytes (--trace-limit SIZE changes it, 0 for none); the program "
                                              "runs on\n");
    trace.rdbuf(traceBuf.get());
    opt.trace = &trace;
  }
  opt.outputError = [&]() { return traceBuf ? traceBuf->Error() : std::string(); };
  profile::RunFiles files;
  if (std::string why; !files.Open(run.profile, run.coverage, why)) return err << name << ": " << why << "\n", runner::kUsage;
  std::optional<profile::Recorder> recorder;
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  runner::RunResult r;
  bool lineOpen = false;
  {
    runner::HostConsole console;
    runner::TerminalConsole terminal(console, run.terminal);
    ConsoleLine line(terminal);
    Board machine(profile, line, opt);
    const bool loaded = hex ? machine.LoadHex(std::string(file.begin(), file.end()), error)
                            : machine.LoadBinary(file, board.load, error);
    if (!loaded) return err << name << ": " << error << "\n", runner::kUsage;
    // The program's first routine is where it starts.
    if (!run.profile.empty() || !run.coverage.empty()) machine.Observe(&recorder.emplace(machine.start()));
    r = machine.Run();
    lineOpen = console.lineOpen;
  }
  if (!r.message.empty()) err << (lineOpen && isatty(2) ? "\n" : "") << name << ": " << r.message << "\n";
  if (recorder) {
    recorder->Finish();
    profile::ProgramInfo program = run.program;
    if (program.command.empty()) program.command = name;
    for (const std::string& path : files.Write(*recorder, program)) {
      err << name << ": cannot write " << path << "\n";
      r.status = runner::kHostError;
    }
  }
  if (run.stats) err << name << ": " << runner::StatsLine(r) << "\n";
  return r.status;
}

}  // namespace orvane::board

namespace orvane::board {

int BoardMain(const std::vector<std::string>& args, size_t i, const BoardRun& board, const runner::HostRun& run,
              const std::string& name, std::ostream& out, std::ostream& err, std::string_view usage) {
  const auto fail = [&](const std::string& message) {
    err << name << ": " << message << "\n" << usage;
    return runner::kUsage;
  };
  if (board.board == "list") {
    if (i != args.size()) return fail("--board list takes no image");
    ListBoards(out);
    return 0;
  }
  if (board.board.empty()) return fail(std::string(board.fast ? "--fast" : "--load") + " goes with --board");
  if (run.dir != "." || !run.list.empty())
    return fail(std::string(run.dir != "." ? "--dir" : "--list") + " is for CP/M programs; a board has no disk or list device");
  if (i == args.size()) return fail("no image given");
  if (args.size() - i > 1) return fail("a board image takes no arguments");
  const std::string path = args[i];
  const size_t dot = path.rfind('.'), slash = path.rfind('/');
  std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "com")
    return err << name << ": " << path
               << ": a .com is a CP/M program, started at 0100H by CP/M; run it without --board, or assemble the "
                  "source with 'orvane-asm --hex' (ORG 0 for a ROM) and run the .hex on the board\n",
           runner::kUsage;
  const bool hex = ext == "hex" || ext == "ihx" || ext == "ihex";
  if (hex && board.hasLoad) return fail("--load places a raw image; an Intel HEX file says where its bytes go");
  if (!run.coverage.empty() && run.program.source.empty())
    return fail("--coverage needs the program's source for its lines: run it with orvane-asm --run --hex --coverage "
                "FILE SOURCE (--profile works without, by address)");
  if (const std::string error = runner::CheckRunOutputs(run, {path}, {}); !error.empty()) return fail(error);
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0)
    return err << name << ": " << path << ": cannot read it: " << strerror(errno) << "\n", runner::kUsage;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!S_ISREG(st.st_mode)) error = "not a regular file";
  if (error.empty() && st.st_size > (hex ? (1 << 22) : 0x10000))
    error = hex ? "too large for an Intel HEX file of 64 KiB" : "the image is larger than 64 KiB";
  uint8_t buf[65536];
  while (error.empty()) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = strerror(errno);
    if (n <= 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
  }
  close(fd);
  if (!error.empty()) return err << name << ": " << path << ": " << error << "\n", runner::kUsage;
  if (hex && (bytes.empty() || bytes[0] != ':'))
    return err << name << ": " << path << ": this is not an Intel HEX file (it does not start with ':')\n",
           runner::kUsage;
  runner::HostRun named = run;
  if (named.program.command.empty()) named.program.command = path;
  return RunBoardOnHost(bytes, hex, board, named, name, err);
}

}  // namespace orvane::board
