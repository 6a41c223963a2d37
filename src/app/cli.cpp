#include "app/cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <ostream>
#include <optional>
#include <set>
#include <string_view>

#include "driver/command_line.h"
#include "driver/file_ops.h"
#include "app/diagnostic_printer.h"
#include "app/paths.h"
#include "driver/run.h"
#include "encoder/timing.h"
#include "output/listing.h"
#if ORVANE_HAVE_RUNNER
#include "app/hex_program.h"
#include "app/program.h"
#include "runner/host_run.h"
#include "board/host_board.h"
#include <fstream>
#include <iterator>
#endif

namespace orvane {

namespace {

constexpr std::string_view kUsage =
    "usage: orvane-asm [--hex | --cpm] [-l LISTING] [-o OBJECT] [--screen] [--xref FILE] [--symbols FILE]\n"
    "                  [--timing FILE]\n"
    "                  [-W NAME | -Wno-NAME | -w | -Wall | -Werror] [--max-errors=N] [--color=WHEN] [-q]\n"
    "                  [--] SOURCE\n"
    "       orvane-asm --run [--max-tstates N] [--stats] [--strict] [--trace FILE] [--trace-limit SIZE]\n"
    "                        [--dir DIR] [--list FILE] [--terminal ansi|vt52|adm3a] [--profile FILE]\n"
    "                        [--coverage FILE] [OPTIONS] SOURCE\n"
    "                        [ARGUMENT...]\n"
    "       orvane-asm --run --hex [--board NAME|FILE] [--fast] [--profile FILE] [--coverage FILE]\n"
    "                              [RUN OPTIONS] SOURCE\n";

constexpr std::string_view kHelp =
    "Assembles a Z80 source file into a listing file and an object file.\n"
    "\n"
    "  --hex           Intel HEX object file (the default), origin 0000\n"
    "  --cpm           CP/M executable image (.com), origin 0100\n"
    "  -l LISTING      listing file (default: SOURCE with extension .LST)\n"
    "  -o OBJECT       object file (default: SOURCE with extension .HEX or .com)\n"
    "  --screen        also print the on-screen listing to standard output\n"
    "  --xref FILE     write a symbol cross-reference to FILE\n"
    "  --symbols FILE  write every symbol as NAME EQU &Hxxxx to FILE, sorted by value\n"
    "  --timing FILE   write each line's address, bytes and T-states to FILE\n"
    "                  (12/7: a jump taken/not taken; 21/16: LDIR repeating/last)\n"
    "  -W NAME         report the warning NAME (all are on by default)\n"
    "  -Wno-NAME       do not report the warning NAME\n"
    "  -w              report no warnings\n"
    "  -Wall           report every warning\n"
    "                  (the warning options act in order: -w -W truncation\n"
    "                  reports truncation alone)\n"
    "  -Werror         warnings are errors: printed as error: ... [-Werror=NAME],\n"
    "                  counted as errors, and the exit status is 1\n"
    "  --max-errors=N  show at most N errors and warnings (default 50, 0: all);\n"
    "                  the summary and the exit status still count them all\n"
    "  -q, --quiet     no summary line at the end\n"
    "  --              the next argument is the source, even if it starts with -\n"
    "  --color=WHEN    colour the messages: auto (on a terminal, unless NO_COLOR\n"
    "                  is set), always or never\n"
    "  --run --hex, --run --board NAME|FILE\n"
    "                  assemble as Intel HEX and, without errors, run it on a Z80\n"
    "                  board (orvane-run --board list names them; without\n"
    "                  --board, sbc-acia); --fast runs it as fast as the host can\n"
    "  --run           assemble as a CP/M image and, without errors, run it with\n"
    "                  the ARGUMENTs after SOURCE on an emulated Z80 (as\n"
    "                  orvane-run does; messages name the source lines); its\n"
    "                  options go before SOURCE, as everything after SOURCE is\n"
    "                  the program's:\n"
    "    --max-tstates N     stop after N T-states\n"
    "    --stats             print T-states, instructions, time and rate\n"
    "    --trace FILE        one line per instruction to FILE (without\n"
    "                        --max-tstates, tracing stops at 1 GiB)\n"
    "    --trace-limit SIZE  stop tracing at SIZE bytes (K, M, G: KiB, MiB,\n"
    "                        GiB; 0: never)\n"
    "    --profile FILE      write where the run spent its time to FILE, in\n"
    "                        callgrind's format (kcachegrind FILE,\n"
    "                        callgrind_annotate FILE): per line the times\n"
    "                        it ran and its T-states, per routine the calls\n"
    "                        and inclusive T-states\n"
    "    --coverage FILE     write which lines ran to FILE as an lcov\n"
    "                        tracefile (genhtml FILE -o DIR)\n"
    "    --strict            stop at a BDOS function CP/M 2.2 does not have\n"
    "                        (default: answer it A=0, HL=0, with a note) and\n"
    "                        at a write to 0000H-0002H or the BDOS and BIOS\n"
    "    --dir DIR           the folder that is drive A: (default: .)\n"
    "    --list FILE         the list device writes to FILE (default:\n"
    "                        standard error)\n"
    "    --terminal T        the terminal the program was installed for:\n"
    "                        ansi (default), vt52 or adm3a\n"
    "  -h, --help      show this help\n"
    "  -v, --version   show the version\n"
    "\n"
    "An option with a value takes it after '=' or as the next argument\n"
    "(--xref=FILE, --xref FILE).\n"
    "\n"
    "A SOURCE of - is standard input (then -l and -o must be given); an output\n"
    "of - is standard output (one of them at most, not with --screen).\n"
    "\n"
    "Warnings (they never change what is assembled, and never reach the listing):\n"
    "  extra-operand    operands the mnemonic does not use, or text after the\n"
    "                   operands that is not a comment (DB 13,10 assembles 0D only)\n"
    "  truncation       a value outside its field: a byte outside 0..255, a word\n"
    "                   outside -32768..65535; its low bits are assembled\n"
    "  label-semicolon  a ';' in the first column starts a label, not a comment\n"
    "  cpm-org-gap      an ORG that moves the addresses away from where the bytes\n"
    "                   land in a CP/M image, which has no gaps\n"
    "  hex-overlap      an address written twice in an Intel HEX file\n"
    "  after-end        bytes after END (they are still written)\n"
    "  address-wrap     bytes whose addresses run past FFFFH to 0000H\n"
    "  db-text          DB with a quoted text of several characters: it emits the\n"
    "                   first only (DS emits a text)\n"
    "  db-separator     DB ',' or DB ';': the ',' or ';' splits the line, and DB '\n"
    "                   emits a blank\n"
    "  displacement-sign an index displacement the processor reads with the other\n"
    "                   sign: (IX+200) reaches IX-56\n"
    "\n"
    "Exit status: 0 no errors, 1 some statements have errors (files are\n"
    "still written), 2 usage error or a file that cannot be read or written.\n"
    "With --run, the program's exit status as orvane-run gives it.\n";

// Standard output for --screen, each statement's entry as it comes. A failed
// write (a closed or full standard output) stops the run before any file is
// put in place.
class StreamSink : public OutputSink {
 public:
  explicit StreamSink(std::ostream& os) : os_(os) {}
  void Write(std::string_view bytes) override {
    os_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!os_.flush()) throw FileError("standard output", std::string("cannot write: ") + std::strerror(errno), errno);
  }

 private:
  std::ostream& os_;
};

// Prints each message as compilers do (see FormatDiagnostic), each in one
// write, and counts the errors with -Werror's warnings among them. With
// --screen, the listing box's text goes to standard output.
class CommandLineObserver : public RunObserver {
 public:
  // At most `limit` diagnostics are shown (0: all).
  CommandLineObserver(std::ostream& err, DiagnosticStyle style, std::string_view sourceName, OutputSink* screen,
                      int64_t limit)
      : err_(err), style_(style), sourceName_(PrintableName(sourceName)), screen_(screen), limit_(limit) {}
  // The errors and the statements with errors, warnings included with -Werror.
  int64_t errors = 0, statementsWithErrors = 0;

  // "412138 more errors and 3 more warnings not shown", or nothing.
  void SayHidden() {
    if (hiddenErrors_ + hiddenWarnings_ == 0) return;
    std::string line = "orvane-asm: ";
    if (hiddenErrors_ != 0) line += Counted(hiddenErrors_, "more error") + (hiddenWarnings_ != 0 ? " and " : "");
    if (hiddenWarnings_ != 0) line += Counted(hiddenWarnings_, "more warning");
    line += " not shown (--max-errors=0 shows all)\n";
    err_.write(line.data(), static_cast<std::streamsize>(line.size()));
  }

#if ORVANE_HAVE_RUNNER
  AssembledProgram* program = nullptr;  // with --run: gathers the image and its lines
  std::map<int64_t, Timing> instructions;  // with --run: each instruction's line and timing
  HexProgram* hex = nullptr;  // with --run on a board: the statements where their bytes go
  void StatementDone(const Statement& s) override {
    if (program) Keep(s);
  }
  // Only a run that goes on to run the program keeps its statements.
  [[gnu::noinline]] void Keep(const Statement& s) {
    program->Add(s);
    if (const Timing t = StatementTiming(s); t.Known()) instructions[s.line] = t;
    if (hex) hex->Add(s);
  }
  void Symbols(const SymbolTable& table, const CrossReference&) override {
    if (program) program->SetSymbols(table);
  }
#endif

  void ListingBox(std::string_view text) override {
    if (screen_) screen_->Write(text);
  }

  void FileNote(std::string_view text) override { err_ << "orvane-asm: note: " << PrintableName(text) << '\n'; }

  void Reported(const Problem& p, const Statement& s, int64_t /*boxLine*/) override {
    const bool error = p.IsError() || (p.severity == Severity::kWarning && style_.warningsAreErrors);
    if (error) {
      ++errors;
      if (s.line != lastErrorLine_) ++statementsWithErrors;
      lastErrorLine_ = s.line;
    }
    if (limit_ != 0 && shown_ >= limit_) {
      if (p.severity != Severity::kNote) ++(error ? hiddenErrors_ : hiddenWarnings_);
      return;
    }
    ++shown_;
    const std::string text = FormatDiagnostic(sourceName_, p, s.source, style_);
    err_.write(text.data(), static_cast<std::streamsize>(text.size()));
    err_.flush();
  }

 private:
  std::ostream& err_;
  DiagnosticStyle style_;
  std::string sourceName_;
  OutputSink* screen_;
  int64_t lastErrorLine_ = 0;
  int64_t limit_, shown_ = 0, hiddenErrors_ = 0, hiddenWarnings_ = 0;
};

#if ORVANE_HAVE_RUNNER
// What the profile and the coverage of a run need of the program: its
// source, the line and label of each address, its instructions and its
// routines (the entry, and every CALL and RST target).
profile::ProgramInfo ProgramInfoOf(const AssembledProgram& program, const std::map<int64_t, Timing>& timed,
                                   const std::string& source) {
  profile::ProgramInfo info;
  info.command = "orvane-asm --run " + source;
  char* real = realpath(source.c_str(), nullptr);
  info.source = real ? real : source;
  std::free(real);
  std::map<uint16_t, int> lines;
  std::map<uint16_t, std::string> names;
  std::map<int, uint16_t> byLine;
  for (const auto& [address, l] : program.lines()) {
    lines[address] = l.line;
    byLine.emplace(l.line, address);
    if (const auto t = timed.find(l.line); t != timed.end())
      info.instructions.push_back({address, l.line, t->second.kind == Timing::Kind::kBranch});
  }
  // A label names the address of the statement it stands on.
  for (const AssembledProgram::Symbol& sym : program.symbols())
    if (const auto at = byLine.find(sym.line); at != byLine.end() && at->second == static_cast<uint16_t>(sym.value))
      names.emplace(at->second, sym.name);
  info.LookUpIn(std::move(lines), std::move(names));
  info.routines.push_back(runner::kLoad);
  const std::vector<uint8_t>& image = program.image();
  for (const profile::ProgramInfo::Instruction& in : info.instructions) {
    const size_t at = in.address - runner::kLoad;
    const uint8_t op = image[at];
    if ((op == 0xCD || (op & 0xC7) == 0xC4) && at + 2 < image.size())
      info.routines.push_back(static_cast<uint16_t>(image[at + 1] | image[at + 2] << 8));
    else if ((op & 0xC7) == 0xC7)
      info.routines.push_back(op & 0x38);
  }
  return info;
}
#endif

constexpr std::string_view kUses = "It runs CP/M programs on libz80ex, licensed GPL-2+.";

// Whether `a` is one of orvane-asm's own options.
bool IsOwnOption(std::string_view a) {
  const std::string_view name = a.substr(0, a.find('='));
  for (std::string_view o : {"--hex", "--cpm", "-l", "-o", "--screen", "--xref", "--symbols", "--timing", "-w", "-Wall", "-Werror",
                             "--max-errors", "--color", "-q", "--quiet", "--run", "--help", "-h", "--version", "-v",
                             "--max-tstates", "--stats", "--trace", "--trace-limit", "--dir", "--list", "--profile",
                             "--coverage"}) {
    if (name == o) return true;
  }
  return a.size() > 2 && a[0] == '-' && a[1] == 'W';
}

// With --run, every argument after SOURCE is the program's; one that looks
// like an option of orvane-asm was most likely meant for it.
void SayOptionsAfterSource(const std::vector<std::string>& programArgs, std::ostream& err) {
  std::string named;
  for (const std::string& a : programArgs) {
    if (IsOwnOption(a)) named += (named.empty() ? "" : ", ") + PrintableName(a);
  }
  if (named.empty()) return;
  err << "orvane-asm: note: " << named << " after SOURCE goes to the program as an argument; "
      << "orvane-asm's options go before SOURCE\n";
}

bool KnownWarning(std::string_view name) {
  return std::find(std::begin(warn::kAll), std::end(warn::kAll), name) != std::end(warn::kAll);
}

std::string WarningNames() {
  std::string names;
  for (std::string_view w : warn::kAll) names += (names.empty() ? "" : ", ") + std::string(w);
  return "the warnings are " + names;
}

// "no errors" or "N errors in M statements", the warnings, the bytes and where
// they went, and the files written.
std::string Summary(const RunResult& r, const RunRequest& request, int64_t errors, int64_t statements,
                    int64_t warnings) {
  std::string s = errors == 0 ? "no errors" : Counted(errors, "error") + " in " + Counted(statements, "statement");
  if (warnings != 0) s += ", " + Counted(warnings, "warning");
  s += "; " + BytesWritten(r) + "; listing " + PrintableName(r.listingPath) + ", object " + PrintableName(r.objectPath);
  if (!request.crossReference.empty()) s += ", cross-reference " + PrintableName(request.crossReference);
  if (!request.symbols.empty()) s += ", symbols " + PrintableName(request.symbols);
  if (!request.timing.empty()) s += ", timing " + PrintableName(request.timing);
  return s;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errTerminal) {
  bool cpm = false, hex = false, screen = false, warningsAreErrors = false, quiet = false, optionsEnded = false;
  bool run = false;
  std::string runnerOption;  // the first runner option given
#if ORVANE_HAVE_RUNNER
  runner::HostRun hostRun;
  board::BoardRun boardRun;
#endif
  int64_t maxErrors = 50;
  std::string source, color = "auto";
  RunRequest request;
  std::string &listPath = request.listing, &objectPath = request.object;
  // -w turns every warning off by name, so that a later -W NAME turns one on.
  std::set<std::string, std::less<>>& disabled = request.warnings.disabled;
  auto usage = [&](const std::string& why) {
    err << "orvane-asm: " << why << '\n' << kUsage;
    return 2;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a == "-" || a.empty() || a[0] != '-') {
      if (a.empty()) return usage("the source path is empty");
      if (!source.empty() && run)
        return usage("--run goes before the source: what follows the source is the program's own (orvane-asm --run " +
                     PrintableName(source) + " " + PrintableName(a) + ")");
      if (!source.empty()) return usage("only one source file may be given");
      source = a;
#if ORVANE_HAVE_RUNNER
      // With --run, what follows the source is the program's.
      if (run) {
        hostRun.args.assign(args.begin() + static_cast<long>(i) + 1, args.end());
        SayOptionsAfterSource(hostRun.args, err);
        break;
      }
#endif
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      out << kUsage << '\n' << kHelp;
      return 0;
    }
    if (a == "--version" || a == "-v") {
      out << VersionText("orvane-asm", kUses);
      return 0;
    }
    if (a == "--run") {
      run = true;
      continue;
    }
#if ORVANE_HAVE_RUNNER
    if (std::string error; a.rfind("--load", 0) != 0 && board::TakeBoardOption(args, i, boardRun, error)) {
      if (!error.empty()) return usage(error);
      if (runnerOption.empty()) runnerOption = a.substr(0, a.find('='));
      continue;
    }
    if (std::string error; runner::TakeRunnerOption(args, i, hostRun, error)) {
      if (!error.empty()) return usage(error);
      if (runnerOption.empty()) runnerOption = a.substr(0, a.find('='));
      continue;
    }
#endif
    // Options that take a value: -l and -o apart, the long ones apart or
    // after '='; a warning name also joined.
    std::string* value = nullptr;
    std::string name = a;
    std::optional<std::string> given;
    for (auto [option, slot] : {std::pair{"-l", &listPath}, {"-o", &objectPath}, {"--xref", &request.crossReference},
                                {"--symbols", &request.symbols}, {"--timing", &request.timing}}) {
      if (auto v = LongOptionValue(args, i, option)) {
        value = slot;
        name = option;
        given = *v;
        break;
      }
    }
    if (value != nullptr) {
      if (!given) return usage("option " + name + " needs a path");
      *value = *given;
      if (value->empty()) return usage("option " + name + " needs a path, not an empty one");
    } else if (a == "-W" || (a.rfind("-W", 0) == 0 && a != "-Werror" && a != "-Wall")) {
      if (a == "-W" && i + 1 >= args.size()) return usage("option -W needs a warning name; " + WarningNames());
      const std::string warning = a == "-W" ? args[++i] : a.substr(2);
      const std::string written = a == "-W" ? "-W '" + warning + "'" : a;
      const bool off = warning.rfind("no-", 0) == 0;
      const std::string name = off ? warning.substr(3) : warning;
      if (name.empty()) return usage("no warning name in " + written + " (write " + (off ? "-Wno-NAME" : "-W NAME") +
                                     "); " + WarningNames());
      if (!KnownWarning(name)) return usage("unknown warning " + name + " in " + written + "; " + WarningNames());
      if (off) disabled.insert(name); else disabled.erase(name);
    } else if (a == "-w") {
      for (std::string_view w : warn::kAll) disabled.emplace(w);
    } else if (a == "-Werror") {
      warningsAreErrors = true;
    } else if (a == "-Wall") {
      disabled.clear();
    } else if (a == "-q" || a == "--quiet") {
      quiet = true;
    } else if (a == "--color" || a.rfind("--color=", 0) == 0) {
      // --color alone means always; a WHEN may follow it as the next argument.
      const bool apart = a == "--color" && i + 1 < args.size() &&
                         (args[i + 1] == "auto" || args[i + 1] == "always" || args[i + 1] == "never");
      color = apart ? args[++i] : a == "--color" ? "always" : a.substr(8);
      if (color != "auto" && color != "always" && color != "never") return usage("--color takes auto, always or never");
    } else if (a == "--hex" || a == "--cpm") {
      cpm = a == "--cpm";
      hex = hex || !cpm;
    } else if (a == "--screen") {
      screen = true;
    } else if (a == "--max-errors" || a.rfind("--max-errors=", 0) == 0) {
      std::string n = a == "--max-errors" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(13);
      char* end = nullptr;
      const long long v = n.empty() ? -1 : std::strtoll(n.c_str(), &end, 10);
      if (v < 0 || *end != '\0') return usage("--max-errors takes a count (0 shows all)");
      maxErrors = v;
    } else {
      return usage("unknown option " + PrintableName(a) + " (a source whose name starts with '-' goes after --)");
    }
  }
  if (source.empty()) return usage("no source file given");
#if !ORVANE_HAVE_RUNNER
  if (run) return usage("--run is not available: this orvane-asm was built without libz80ex");
#endif
  if (!run && !runnerOption.empty()) return usage(runnerOption + " goes with --run");
#if ORVANE_HAVE_RUNNER
  const bool onBoard = run && (hex || !boardRun.board.empty() || boardRun.fast);
  if (onBoard && cpm) return usage("--board and --fast run Intel HEX on a board; they cannot go with --cpm");
  if (onBoard && (hostRun.dir != "." || !hostRun.list.empty() || !hostRun.args.empty()))
    return usage("a board has no disk, list device or arguments: --dir, --list and arguments are for CP/M programs");
  if (onBoard) hex = true;
#else
  if (run && hex) return usage("--run runs CP/M images; it cannot go with --hex");
#endif
  if (run && (listPath == "-" || objectPath == "-" || request.crossReference == "-" || request.symbols == "-" ||
              request.timing == "-"))
    return usage("with --run, standard output is the program's console; no output may go there");
#if ORVANE_HAVE_RUNNER
  if (run)
    for (const std::string* path : {&listPath, &objectPath, &request.crossReference, &request.symbols, &request.timing})
      if (!path->empty() && runner::IsConsole(*path))
        return usage("with --run, " + PrintableName(*path) + " is the program's console; no output may go there");
#endif
#if ORVANE_HAVE_RUNNER
  cpm = cpm || (run && !onBoard);
#else
  cpm = cpm || run;
#endif
  if (source == "-" && (listPath.empty() || objectPath.empty())) {
    return usage("a source read from standard input needs -l and -o");
  }
  const int toStandardOutput = (listPath == "-") + (objectPath == "-") + (request.crossReference == "-") +
                               (request.symbols == "-") + (request.timing == "-") + screen;
  if (toStandardOutput > 1) return usage("only one output may go to standard output");
  if (listPath.empty()) listPath = ReplaceExtension(source, kListingExtension);
  request.format = cpm ? &kCpmFormat : &kIntelHexFormat;
  if (objectPath.empty()) objectPath = ReplaceExtension(source, request.format->extension);
  request.path = source;
  request.listingBox = screen;

  const char* noColor = std::getenv("NO_COLOR");
  const bool colored = color == "always" || (color == "auto" && errTerminal && (!noColor || !*noColor));
  StreamSink screenSink(out);
  CommandLineObserver observer(err, DiagnosticStyle{colored, warningsAreErrors}, source, screen ? &screenSink : nullptr,
                               maxErrors);
#if ORVANE_HAVE_RUNNER
  AssembledProgram program;
  HexProgram hexProgram;
  if (run) observer.program = &program;
  if (onBoard) observer.hex = &hexProgram;
  if (run) hostRun.program.source = source;  // known before the run; the rest after it
  if (run)
    if (const std::string error = runner::CheckRunOutputs(
            hostRun, {source}, {listPath, objectPath, request.crossReference, request.symbols, request.timing});
        !error.empty())
      return usage(error);
#endif
  DiskFileSystem files(/*standardStreams=*/true);
  RunResult result;
  try {
    result = Run(request, files, observer);
  } catch (const FileError& e) {
    out.flush();
    err << "orvane-asm: " << PrintableName(e.path()) << ": " << e.reason() << '\n';
    return 2;
  }
  if (!out.flush()) {
    err << "orvane-asm: standard output: cannot write: " << std::strerror(errno) << '\n';
    return 2;
  }
  observer.SayHidden();
  if (!quiet) {
    const int64_t warnings = warningsAreErrors ? 0 : result.warnings;
    const std::string line =
        "orvane-asm: " + Summary(result, request, observer.errors, observer.statementsWithErrors, warnings) + '\n';
    err.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
  const int status = result.statementsWithErrors != 0 || (warningsAreErrors && result.warnings != 0) ? 1 : 0;
  if (!run) return status;
  if (status != 0) {
    err << "orvane-asm: " << source << " is not run: "
        << (result.statementsWithErrors ? "it has errors" : "it has warnings, and -Werror is given") << '\n';
    return status;
  }
#if ORVANE_HAVE_RUNNER
  err.flush();
  if (onBoard) {
    // The board runs the HEX file just written, as a ROM programmer would take it.
    std::ifstream in(objectPath, std::ios::binary);
    const std::vector<uint8_t> hexFile{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (boardRun.board.empty())
      err << "orvane-asm: running on board " << board::kDefaultBoard << " (--board NAME picks another)\n";
    hostRun.source = hexProgram.Lookup(source);
    if (!hostRun.profile.empty() || !hostRun.coverage.empty()) hostRun.program = hexProgram.Info(source, program.symbols());
    return board::RunBoardOnHost(hexFile, true, boardRun, hostRun, "orvane-asm", err);
  }
  hostRun.source = program.Lookup(source);
  if (!hostRun.profile.empty() || !hostRun.coverage.empty())
    hostRun.program = ProgramInfoOf(program, observer.instructions, source);
  return runner::RunOnHost(program.image(), hostRun, "orvane-asm", err);
#else
  return status;
#endif
}

}  // namespace orvane
