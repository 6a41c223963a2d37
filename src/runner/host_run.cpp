#include "runner/host_run.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <tuple>

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

}  // namespace

bool TakeRunnerOption(const std::vector<std::string>& args, size_t& i, HostRun& run, std::string& error) {
  const std::string& a = args[i];
  if (a.rfind("--terminal", 0) == 0) return TakeTerminal(args, i, run, error);
  if (a == "--stats") return run.stats = true;
  if (a == "--strict") return run.strict = true;
  const size_t eq = a.find('=');
  const std::string name = a.substr(0, eq);
  std::string* slot = name == "--dir" ? &run.dir : name == "--trace" ? &run.trace : name == "--list" ? &run.list
                    : nullptr;
  if (!slot && name != "--max-tstates") return false;
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

}  // namespace

int RunOnHost(const std::vector<uint8_t>& image, const HostRun& run, const std::string& name, std::ostream& err) {
  Disk disk;
  if (!disk.Open(run.dir)) return err << name << ": " << disk.error << "\n", kUsage;
  std::ofstream trace, list;
  RunOptions opt;
  opt.maxTstates = run.maxTstates;
  opt.list = &err;
  opt.source = run.source;
  opt.strict = run.strict;
  for (auto [path, file, slot] : {std::tuple{&run.trace, &trace, &opt.trace}, {&run.list, &list, &opt.list}}) {
    if (path->empty()) continue;
    file->open(*path, std::ios::binary | std::ios::trunc);
    if (!*file) return err << name << ": cannot write " << *path << ": " << strerror(errno) << "\n", kUsage;
    *slot = file;
  }
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
  if (run.stats) err << name << ": " << StatsLine(r) << "\n";
  for (std::ofstream* f : {&trace, &list}) {
    if (f->is_open() && !f->flush()) {
      err << name << ": cannot write " << (f == &trace ? run.trace : run.list) << "\n";
      if (r.status == 0) r.status = kHostError;
    }
  }
  return r.status;
}

}  // namespace orvane::runner
