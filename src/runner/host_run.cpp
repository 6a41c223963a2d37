#include "runner/host_run.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <streambuf>
#include <utility>
#include <tuple>

#include "driver/file_ops.h"
#include "runner/stats.h"

namespace orvane::runner {

namespace {

// --terminal NAME or --terminal=NAME.
bool TakeTerminal(const std::vector<std::string>& args, size_t& i, HostRun& run, std::string& error) {
  const std::string& a = args[i];
  const bool joined = a.size() > 10 && a[10] == '=';
  if (!joined && a != "--terminal") return false;
  if (!joined && i + 1 == args.size()) return error = "--terminal needs a value", true;
  const std::string value = joined ? a.substr(11) : args[++i];
  if (!ParseTerminalType(value, run.terminal))
    error = "--terminal takes ansi, vt52 or adm3a, not '" + value + "'";
  return true;
}

// An output file (the trace, the list device) written through a buffer of
// its own; the first write that fails keeps its reason, and nothing more is
// written.
class FileOut : public std::streambuf {
 public:
  FileOut(int fd, std::string path) : fd_(fd), path_(std::move(path)), buf_(1 << 16) {
    setp(buf_.data(), buf_.data() + buf_.size());
  }
  ~FileOut() override {
    sync();
    close(fd_);
  }
  // "cannot write PATH: REASON", or "" while every write succeeded.
  std::string Error() {
    sync();
    return error_ ? "cannot write " + path_ + ": " + strerror(error_) : "";
  }

 protected:
  int overflow(int c) override {
    if (!Drain()) return traits_type::eof();
    if (c != traits_type::eof()) {
      *pptr() = static_cast<char>(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  bool Drain() {
    const char* p = pbase();
    size_t left = static_cast<size_t>(pptr() - pbase());
    while (left > 0 && error_ == 0) {
      const ssize_t n = write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) error_ = n < 0 ? errno : ENOSPC;
      else p += n, left -= static_cast<size_t>(n);
    }
    setp(buf_.data(), buf_.data() + buf_.size());
    return error_ == 0;
  }
  int fd_;
  std::string path_;
  std::vector<char> buf_;
  int error_ = 0;
};

// The descriptors 0, 1 and 2 held open, so that no file a program opens
// takes the place of a closed standard stream (the console would read or
// write the program's file). A closed one gets /dev/null opened the other
// way round, so that using it still fails as a closed one does.
void HoldStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int held = open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
    if (held >= 0 && held != fd) close(held);
  }
}

// The standard descriptor among in, out that names the same file as path.
bool IsStream(const std::string& path, int fd) {
  struct stat a, b;
  return stat(path.c_str(), &a) == 0 && fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
         (S_ISREG(a.st_mode) || S_ISFIFO(a.st_mode) || S_ISSOCK(a.st_mode) || isatty(fd));
}

}  // namespace

bool TakeRunnerOption(const std::vector<std::string>& args, size_t& i, HostRun& run, std::string& error) {
  const std::string& a = args[i];
  if (a.rfind("--terminal", 0) == 0) return TakeTerminal(args, i, run, error);
  if (a == "--stats") return run.stats = true;
  if (a == "--strict") return run.strict = true;
  if (a == "--verbose") return run.verbose = true;
  const size_t eq = a.find('=');
  const std::string name = a.substr(0, eq);
  std::string* slot = name == "--dir" ? &run.dir : name == "--trace" ? &run.trace : name == "--list" ? &run.list
                    : name == "--profile" ? &run.profile : name == "--coverage" ? &run.coverage : nullptr;
  if (!slot && name != "--max-tstates" && name != "--trace-limit") return false;
  std::string value;
  if (eq != std::string::npos)
    value = a.substr(eq + 1);
  else if (i + 1 < args.size())
    value = args[++i];
  else
    return error = a + " needs a value", true;
  if (slot) {
    *slot = value;
    if (value.empty()) error = name + " needs a value";
    return true;
  }
  char* end = nullptr;
  errno = 0;
  if (name == "--trace-limit") {
    // A size in bytes, or with K, M or G: KiB, MiB, GiB.
    uint64_t n = std::strtoull(value.c_str(), &end, 10);
    const int shift = *end == 'K' ? 10 : *end == 'M' ? 20 : *end == 'G' ? 30 : 0;
    if (shift != 0) ++end;
    if (value.empty() || value[0] < '0' || value[0] > '9' || *end || errno || n > (UINT64_MAX >> shift))
      return error = "--trace-limit takes a size in bytes (K, M or G after it: KiB, MiB, GiB; 0: no limit), not '" +
                     value + "'", true;
    run.traceLimit = n << shift;
    return true;
  }
  run.maxTstates = std::strtoull(value.c_str(), &end, 10);
  if (value.empty() || *end || errno || value[0] == '-' || run.maxTstates == 0)
    error = "--max-tstates takes a number of T-states above 0, not '" + value + "'";
  return true;
}

namespace {

// Whether standard output and standard error go to one place (a terminal, a
// file or pipe both were sent to), where a message must not continue the
// program's unfinished line.
bool OutputsShared() {
  struct stat out, err;
  return fstat(1, &out) == 0 && fstat(2, &err) == 0 && out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

// Passes whole lines to `to` until the next would take it past `limit`
// bytes, then says so once on err and drops the rest: tracing stops, the
// run goes on.
class LimitedLines : public std::streambuf {
 public:
  LimitedLines(std::streambuf* to, uint64_t limit, std::ostream& err, std::string message)
      : to_(to), limit_(limit), err_(err), message_(std::move(message)) {}
  int sync() override { return to_->pubsync(); }
  bool failed() const { return failed_; }

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    if (stopped_) return c;
    line_.push_back(traits_type::to_char_type(c));
    if (line_.back() == '\n') Pass();
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize k = 0; k < n; ++k) overflow(traits_type::to_int_type(s[k]));
    return n;
  }

 private:
  void Pass() {
    if (written_ + line_.size() > limit_) {
      stopped_ = true;
      err_ << message_ << std::flush;
    } else {
      written_ += line_.size();
      const auto n = static_cast<std::streamsize>(line_.size());
      if (to_->sputn(line_.data(), n) != n) failed_ = true;
    }
    line_.clear();
  }
  std::streambuf* to_;
  uint64_t limit_, written_ = 0;
  std::ostream& err_;
  std::string message_, line_;
  bool stopped_ = false, failed_ = false;
};

std::string SizeText(uint64_t n) {
  for (auto [shift, unit] : {std::pair{30, " GiB"}, {20, " MiB"}, {10, " KiB"}}) {
    if (n >= (uint64_t{1} << shift) && n % (uint64_t{1} << shift) == 0) return std::to_string(n >> shift) + unit;
  }
  return std::to_string(n) + " bytes";
}

}  // namespace

bool IsConsole(const std::string& path) { return path == "-" || IsStream(path, 0) || IsStream(path, 1); }

std::string CheckRunOutputs(const HostRun& run, const std::vector<std::string>& inputs,
                            const std::vector<std::string>& others) {
  DiskFileSystem files(/*standardStreams=*/false);
  for (auto [path, option] : {std::pair{&run.trace, "--trace"}, {&run.list, "--list"}}) {
    if (path->empty()) continue;
    const std::string named = std::string(option) + " " + *path;
    if (IsConsole(*path))
      return named + ": standard output is the program's console; the " + (path == &run.trace ? "trace" : "list") +
             " cannot go there";
    for (const std::string& in : inputs)
      if (files.NamesSource(in, *path)) return named + " is " + in + ", which is read; it is not written over";
    for (const std::string& out : others)
      if (!out.empty() && files.SameOutput(out, *path)) return named + " is " + out + ", another output";
    if (path == &run.list && !run.trace.empty() && files.SameOutput(run.trace, *path))
      return named + " is the file --trace writes";
  }
  // The profile and the coverage: files of their own too.
  const std::pair<const std::string*, const char*> all[] = {
      {&run.trace, "--trace"}, {&run.list, "--list"}, {&run.profile, "--profile"}, {&run.coverage, "--coverage"}};
  for (size_t k = 2; k < 4; ++k) {
    const std::string& path = *all[k].first;
    if (path.empty()) continue;
    const std::string named = std::string(all[k].second) + " " + path;
    if (IsConsole(path)) return named + ": standard output is the program's console; it cannot go there";
    for (const std::string& in : inputs)
      if (files.NamesSource(in, path)) return named + " is " + in + ", which is read; it is not written over";
    for (const std::string& out : others)
      if (!out.empty() && files.SameOutput(out, path)) return named + " is " + out + ", another output";
    for (size_t j = 0; j < k; ++j)
      if (!all[j].first->empty() && files.SameOutput(*all[j].first, path))
        return named + " is the file " + all[j].second + " writes";
  }
  if (!run.coverage.empty() && run.program.source.empty())
    return "--coverage needs the program's source for its lines: run it with orvane-asm --run --coverage FILE "
           "SOURCE (--profile works without, by address)";
  return "";
}

int RunOnHost(const std::vector<uint8_t>& image, const HostRun& run, const std::string& name, std::ostream& err) {
  HoldStandardDescriptors();
  Disk disk;
  if (!disk.Open(run.dir)) return err << name << ": " << disk.error << "\n", kUsage;
  std::unique_ptr<FileOut> traceBuf, listBuf;
  std::ostream trace(nullptr), list(nullptr);
  RunOptions opt;
  opt.maxTstates = run.maxTstates;
  opt.list = &err;
  opt.source = run.source;
  opt.strict = run.strict;
  opt.verbose = run.verbose;
  for (auto [path, buf, stream, slot] :
       {std::tuple{&run.trace, &traceBuf, &trace, &opt.trace}, {&run.list, &listBuf, &list, &opt.list}}) {
    if (path->empty()) continue;
    // Opened without waiting: a FIFO nobody reads is refused, not waited on.
    const int fd = open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return err << name << ": cannot write " << *path << ": " << strerror(errno) << "\n", kUsage;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *buf = std::make_unique<FileOut>(fd, *path);
    stream->rdbuf(buf->get());
    *slot = stream;
  }
  opt.outputError = [&]() {
    for (auto* buf : {traceBuf.get(), listBuf.get()})
      if (buf)
        if (std::string e = buf->Error(); !e.empty()) return e;
    return std::string();
  };
  // A trace never fills a disk unasked: without a T-state bound it stops at
  // kTraceLimit.
  const uint64_t traceLimit = run.traceLimit ? *run.traceLimit : run.maxTstates == 0 ? kTraceLimit : 0;
  std::optional<LimitedLines> limited;
  std::ostream limitedTrace(nullptr);
  if (traceBuf && traceLimit != 0) {
    limited.emplace(traceBuf.get(), traceLimit, err,
                    name + ": the trace stopped at " + SizeText(traceLimit) + " (--trace-limit SIZE changes it, 0 for " +
                        "none); the program runs on\n");
    limitedTrace.rdbuf(&*limited);
    opt.trace = &limitedTrace;
  }
  profile::RunFiles files;
  if (std::string why; !files.Open(run.profile, run.coverage, why)) return err << name << ": " << why << "\n", kUsage;
  std::optional<profile::Recorder> recorder;
  if (!run.profile.empty() || !run.coverage.empty()) opt.observer = &recorder.emplace(kLoad);
  // A closed output or a file over its size limit is an error to report,
  // not a signal that ends the process.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  const bool shared = OutputsShared();
  bool lineOpen = false;
  RunResult r;
  {
    HostConsole console;
    TerminalConsole terminal(console, run.terminal);  // --terminal's translation, both ways
    // A note comes while the run goes on: on a terminal in raw mode a line
    // ends with CR LF.
    const char* const lineEnd = isatty(2) ? "\r\n" : "\n";
    opt.note = [&](const std::string& text) {
      terminal.Flush();
      if (console.lineOpen && shared) err << lineEnd;
      console.lineOpen = false;
      err << name << ": " << text << lineEnd << std::flush;
    };
    Machine machine(terminal, disk, opt);
    std::string error;
    if (!machine.Load(image, run.args, error)) return err << name << ": " << error << "\n", kUsage;
    r = machine.Run();
    lineOpen = console.lineOpen && shared;
  }
  if (!r.message.empty()) err << (lineOpen ? "\n" : "") << name << ": " << r.message << "\n";
  if (recorder) {
    recorder->Finish();
    profile::ProgramInfo program = run.program;
    if (program.command.empty()) program.command = name;
    for (const std::string& path : files.Write(*recorder, program)) {
      err << name << ": cannot write " << path << "\n";
      r.status = kHostError;
    }
  }
  if (run.stats) err << name << ": " << StatsLine(r) << "\n";
  if (const std::string failed = opt.outputError(); !failed.empty() && r.message.rfind(failed, 0) != 0) {
    err << name << ": " << failed << "\n";
    r.status = kHostError;
  }
  return r.status;
}

}  // namespace orvane::runner
