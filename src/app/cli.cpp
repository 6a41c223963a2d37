#include "app/cli.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <set>
#include <string_view>

#include "driver/file_ops.h"
#include "app/paths.h"
#include "driver/run.h"
#include "app/window_ops.h"
#include "encoder/assembler.h"

namespace orvane {

namespace {

constexpr std::string_view kUsage =
    "usage: orvane-asm [--hex | --cpm] [-l LISTING] [-o OBJECT] [--screen] [--xref FILE] [--symbols FILE]\n"
    "                  [-W NAME | -Wno-NAME | -w | -Werror] [--color=WHEN] SOURCE\n";

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
    "  -W NAME         report the warning NAME (all are on by default)\n"
    "  -Wno-NAME       do not report the warning NAME\n"
    "  -w              report no warnings\n"
    "  -Werror         warnings make the exit status 1, as errors do\n"
    "  --color=WHEN    colour the messages: auto (on a terminal, unless NO_COLOR\n"
    "                  is set), always or never\n"
    "  --help          show this help\n"
    "  --version       show the version\n"
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
    "\n"
    "Exit status: 0 no errors, 1 some statements have errors (files are\n"
    "still written), 2 usage error or a file that cannot be read or written.\n";

// Standard output for --screen, buffered.
class StreamSink : public OutputSink {
 public:
  explicit StreamSink(std::ostream& os) : os_(os) {}
  void Write(std::string_view bytes) override { os_.write(bytes.data(), static_cast<std::streamsize>(bytes.size())); }

 private:
  std::ostream& os_;
};

// Prints each message as compilers do: SOURCE:LINE:COL: error: TEXT (or
// warning: TEXT [-WNAME]), the source line and a caret under the column, and
// a note where the text alone misleads.
class CommandLineWindow : public HeadlessWindow {
 public:
  CommandLineWindow(std::ostream& err, bool color) : err_(err), color_(color) {}
  std::string sourceName;
  std::set<std::string, std::less<>> disabled;  // warnings not reported
  int64_t warnings = 0;

  void Reported(const Problem& p) override {
    const bool warning = p.severity == Severity::kWarning;
    if (warning && disabled.count(p.name) != 0) return;
    warnings += warning;
    Location(p, p.column);
    err_ << Paint(warning ? "\33[1;35m" : "\33[1;31m", warning ? "warning:" : "error:") << ' ' << p.text;
    if (warning) err_ << " [" << Paint("\33[35m", "-W" + std::string(p.name)) << ']';
    err_ << '\n';
    Quote(p);
    if (!p.note.empty()) {
      Location(p, p.column);
      err_ << Paint("\33[1;36m", "note:") << ' ' << p.note << '\n';
    }
  }

 private:
  std::string Paint(std::string_view code, std::string_view text) const {
    return color_ ? std::string(code) + std::string(text) + "\33[m" : std::string(text);
  }
  void Location(const Problem& p, int column) {
    std::string where = sourceName + ':' + std::to_string(p.line) + ':';
    if (column > 0) where += std::to_string(column) + ':';
    err_ << Paint("\33[1m", where) << ' ';
  }
  // The line as read (control characters shown as '?', a very long line cut
  // short) and a caret line whose tabs stand where the line's do.
  void Quote(const Problem& p) {
    constexpr size_t kShown = 240;
    std::string text(p.source.substr(0, kShown));
    for (char& c : text)
      if ((static_cast<unsigned char>(c) < 32 && c != '\t') || c == 127) c = '?';
    const std::string number = std::to_string(p.line);
    const std::string margin = std::string(number.size() < 5 ? 5 - number.size() : 0, ' ');
    err_ << margin << number << " | " << text << (p.source.size() > kShown ? "..." : "") << '\n';
    const size_t at = static_cast<size_t>(p.column) - 1;
    if (p.column <= 0 || at >= text.size()) return;
    std::string caret;
    for (size_t i = 0; i < at; ++i) caret += text[i] == '\t' ? '\t' : ' ';
    // The operand there: a parenthesised one to its ")", else to a separator.
    const size_t stop = text[at] == '(' ? text.find(')', at) + 1 : text.find_first_of(" \t,;)", at + 1);
    const size_t end = std::min(stop == 0 ? text.size() : stop, text.size());
    err_ << std::string(margin.size() + number.size(), ' ') << " | "
         << caret << Paint("\33[1;32m", std::string("^").append(end - at - 1, '~')) << '\n';
  }

  std::ostream& err_;
  bool color_;
};

bool KnownWarning(std::string_view name) {
  return std::find(std::begin(warn::kAll), std::end(warn::kAll), name) != std::end(warn::kAll);
}

// "no errors" or "N errors in M statements", the warnings, the bytes and where
// they went, and the files written.
std::string Summary(const RunResult& r, int64_t warnings, const ExtraOutputs& extra) {
  std::string s = r.messages == 0 ? "no errors"
                                  : Counted(r.messages, "error") + " in " + Counted(r.statementsWithErrors, "statement");
  if (warnings != 0) s += ", " + Counted(warnings, "warning");
  s += "; " + BytesWritten(r) + "; listing " + r.listingPath + ", object " + r.objectPath;
  if (!extra.crossReference.empty()) s += ", cross-reference " + extra.crossReference;
  if (!extra.symbols.empty()) s += ", symbols " + extra.symbols;
  return s;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errTerminal) {
  bool cpm = false, screen = false, noWarnings = false, warningsAreErrors = false;
  std::string listPath, objectPath, source, color = "auto";
  ExtraOutputs extra;
  std::set<std::string, std::less<>> disabled;
  auto usage = [&](const std::string& why) {
    err << "orvane-asm: " << why << '\n' << kUsage;
    return 2;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      out << kUsage << '\n' << kHelp;
      return 0;
    }
    if (a == "--version") {
      out << "orvane-asm " << ORVANE_VERSION << "\nCopyright 2026 the Orvane developers. Licence GPL-3.0-or-later\n"
          << "<https://www.gnu.org/licenses/gpl-3.0.html>: free software, with NO WARRANTY.\n";
      return 0;
    }
    // Options that take a value, written apart or joined.
    std::string* value = a == "-l" ? &listPath : a == "-o" ? &objectPath : a == "--xref" ? &extra.crossReference
                       : a == "--symbols" ? &extra.symbols : nullptr;
    std::string warning;
    if (value != nullptr || a == "-W") {
      if (i + 1 >= args.size()) return usage("option " + a + " needs " + (value ? "a path" : "a warning name"));
      (value ? *value : warning) = args[++i];
    } else if (a.rfind("-W", 0) == 0 && a != "-Werror" && a != "-Wall") {
      warning = a.substr(2);
    }
    if (value != nullptr) continue;
    if (!warning.empty()) {
      const bool off = warning.rfind("no-", 0) == 0;
      const std::string name = off ? warning.substr(3) : warning;
      if (!KnownWarning(name)) return usage("unknown warning " + name);
      if (off) disabled.insert(name); else disabled.erase(name);
    } else if (a == "-w") {
      noWarnings = true;
    } else if (a == "-Werror") {
      warningsAreErrors = true;
    } else if (a == "-Wall") {
      disabled.clear();
    } else if (a == "--color" || a.rfind("--color=", 0) == 0) {
      color = a == "--color" ? "always" : a.substr(8);
      if (color != "auto" && color != "always" && color != "never") return usage("--color takes auto, always or never");
    } else if (a == "--hex" || a == "--cpm") {
      cpm = a == "--cpm";
    } else if (a == "--screen") {
      screen = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage("unknown option " + a);
    } else if (source.empty()) {
      source = a;
    } else {
      return usage("only one source file may be given");
    }
  }
  if (source.empty()) return usage("no source file given");
  if (source == "-" && (listPath.empty() || objectPath.empty())) {
    return usage("a source read from standard input needs -l and -o");
  }
  const int toStandardOutput = (listPath == "-") + (objectPath == "-") + (extra.crossReference == "-") +
                               (extra.symbols == "-") + screen;
  if (toStandardOutput > 1) return usage("only one output may go to standard output");
  if (listPath.empty()) listPath = ReplaceExtension(source, ".LST");
  if (objectPath.empty()) objectPath = ReplaceExtension(source, cpm ? ".com" : ".HEX");

  const char* noColor = std::getenv("NO_COLOR");
  const bool colored = color == "always" || (color == "auto" && errTerminal && (!noColor || !*noColor));
  CommandLineWindow window(err, colored);
  window.sourceName = source;
  window.disabled = disabled;
  if (noWarnings) for (std::string_view w : warn::kAll) window.disabled.emplace(w);
  window.source = source;
  window.list = listPath;
  window.object = objectPath;
  window.intelHex = !cpm;
  StreamSink screenSink(out);
  if (screen) {
    window.listingChecked = true;
    window.listingSink = &screenSink;
  }

  DiskFileSystem files(/*standardStreams=*/true);
  Assembler as;
  RunResult result;
  try {
    result = AssembleFile(as, window, files, extra);
  } catch (const FileError& e) {
    out.flush();
    err << "orvane-asm: " << e.what() << '\n';
    return 2;
  }
  out.flush();
  err << "orvane-asm: " << Summary(result, window.warnings, extra) << '\n';
  return result.statementsWithErrors != 0 || (warningsAreErrors && window.warnings != 0) ? 1 : 0;
}

}  // namespace orvane
