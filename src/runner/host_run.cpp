#include "runner/host_run.h"

#include <errno.h>
#include <signal.h>
#include <string.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <streambuf>
#include <utility>
#include <tuple>

#include "runner/stats.h"

namespace orvane::runner {

bool TakeRunnerOption(const std::vector<std::string>& args, size_t& i, HostRun& run, std::string& error) {
  const std::string& a = args[i];
  if (a == "--stats") return run.stats = true;
  const size_t eq = a.find('=');
  const std::string name = a.substr(0, eq);
  std::string* slot = name == "--dir" ? &run.dir : name == "--trace" ? &run.trace : name == "--list" ? &run.list
                    : nullptr;
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

int RunOnHost(const std::vector<uint8_t>& image, const HostRun& run, const std::string& name, std::ostream& err) {
  Disk disk;
  if (!disk.Open(run.dir)) return err << name << ": " << disk.error << "\n", kUsage;
  std::ofstream trace, list;
  RunOptions opt;
  opt.maxTstates = run.maxTstates;
  opt.list = &err;
  opt.source = run.source;
  for (auto [path, file, slot] : {std::tuple{&run.trace, &trace, &opt.trace}, {&run.list, &list, &opt.list}}) {
    if (path->empty()) continue;
    file->open(*path, std::ios::binary | std::ios::trunc);
    if (!*file) return err << name << ": cannot write " << *path << ": " << strerror(errno) << "\n", kUsage;
    *slot = file;
  }
  // A trace never fills a disk unasked: without a T-state bound it stops at
  // kTraceLimit.
  const uint64_t traceLimit = run.traceLimit ? *run.traceLimit : run.maxTstates == 0 ? kTraceLimit : 0;
  std::optional<LimitedLines> limited;
  std::ostream limitedTrace(nullptr);
  if (trace.is_open() && traceLimit != 0) {
    limited.emplace(trace.rdbuf(), traceLimit, err,
                    name + ": the trace stopped at " + SizeText(traceLimit) + " (--trace-limit SIZE changes it, 0 for " +
                        "none); the program runs on\n");
    limitedTrace.rdbuf(&*limited);
    opt.trace = &limitedTrace;
  }
  // A closed output or a file over its size limit is an error to report,
  // not a signal that ends the process.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  RunResult r;
  {
    HostConsole console;
    Machine machine(console, disk, opt);
    std::string error;
    if (!machine.Load(image, run.args, error)) return err << name << ": " << error << "\n", kUsage;
    r = machine.Run();
  }
  if (!r.message.empty()) err << name << ": " << r.message << "\n";
  if (run.stats) err << name << ": " << StatsLine(r) << "\n";
  for (std::ofstream* f : {&trace, &list}) {
    if (f->is_open() && (!f->flush() || (f == &trace && limited && limited->failed()))) {
      err << name << ": cannot write " << (f == &trace ? run.trace : run.list) << "\n";
      if (r.status == 0) r.status = kHostError;
    }
  }
  return r.status;
}

}  // namespace orvane::runner
