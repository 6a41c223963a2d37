// A run on this process's console, as orvane-run and orvane-asm --run do it:
// the runner's options, the files they name, the messages and the statistics.
#pragma once
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "profile/writers.h"
#include "runner/machine.h"
#include "runner/terminal.h"

namespace orvane::runner {

// Where --trace stops tracing when neither --trace-limit nor --max-tstates
// bounds it: 1 GiB, some ten million instructions.
constexpr uint64_t kTraceLimit = uint64_t{1} << 30;

struct HostRun {
  std::string dir = ".", trace, list;  // --dir, --trace, --list
  uint64_t maxTstates = 0;             // --max-tstates
  std::optional<uint64_t> traceLimit;  // --trace-limit (0: none); unset: kTraceLimit without --max-tstates
  bool stats = false;                  // --stats
  bool strict = false;                 // --strict
  bool verbose = false;                // --verbose
  std::vector<std::string> args;       // the program's arguments
  SourceLookup source;
  TerminalType terminal = TerminalType::kAnsi;  // --terminal
  std::string profile, coverage;       // --profile (callgrind), --coverage (lcov)
  // The program for the profile and the coverage: its source, lines and
  // labels (without them, the profile is by address).
  profile::ProgramInfo program;
};

// Takes the runner option at args[i] ("--dir DIR" or "--dir=DIR", --trace,
// --trace-limit, --list, --max-tstates, --stats, --strict, --verbose, --terminal,
// --profile, --coverage) into
// run, moving i past its value. False when args[i] is none of them; error is
// set when it is one but wrong.
bool TakeRunnerOption(const std::vector<std::string>& args, size_t& i, HostRun& run, std::string& error);

// Whether path is where the program's console goes: "-", or the file that
// standard input or output is (a terminal, a file, a pipe; /dev/null is not).
bool IsConsole(const std::string& path);

// Why --trace and --list cannot be written as given, or "": either is the
// console, a file read (inputs: the program, the source), another output
// (others) or the other one. Checked before anything is opened for writing.
std::string CheckRunOutputs(const HostRun& run, const std::vector<std::string>& inputs,
                            const std::vector<std::string>& others);

// Runs image with the console on standard input and output and drive A: on
// run.dir. Messages go to err after "NAME: ". Returns the exit status.
int RunOnHost(const std::vector<uint8_t>& image, const HostRun& run, const std::string& name, std::ostream& err);

}  // namespace orvane::runner
