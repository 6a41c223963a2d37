#include "app/cli.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <set>
#include <string_view>

#include "driver/file_ops.h"
#include "app/paths.h"
#include "driver/run.h"
#include "output/listing.h"

namespace orvane {

namespace {

constexpr std::string_view kUsage =
    "usage: orvane-asm [--hex | --cpm] [-l LISTING] [-o OBJECT] [--screen] [--xref FILE] [--symbols FILE]\n"
    "                  [-W NAME | -Wno-NAME | -w | -Werror] [--max-errors=N] [--color=WHEN] SOURCE\n";

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
    "  --max-errors=N  show at most N errors and warnings (default 50, 0: all);\n"
    "                  the summary and the exit status still count them all\n"
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
    "  address-wrap     bytes whose addresses run past FFFFH to 0000H\n"
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
// warning: TEXT [-WNAME]), the source line and a caret under the span, and a
// note where the text alone misleads. With --screen, the listing box's text
// goes to standard output.
class CommandLineObserver : public RunObserver {
 public:
  // At most `limit` diagnostics are shown (0: all).
  CommandLineObserver(std::ostream& err, bool color, std::string_view sourceName, OutputSink* screen, int64_t limit)
      : err_(err), color_(color), sourceName_(PrintableName(sourceName)), screen_(screen), limit_(limit) {}

  // "412138 more errors and 3 more warnings not shown", or nothing.
  void SayHidden() {
    if (hiddenErrors_ + hiddenWarnings_ == 0) return;
    err_ << "orvane-asm: ";
    if (hiddenErrors_ != 0) err_ << Counted(hiddenErrors_, "more error") << (hiddenWarnings_ != 0 ? " and " : "");
    if (hiddenWarnings_ != 0) err_ << Counted(hiddenWarnings_, "more warning");
    err_ << " not shown (--max-errors=0 shows all)\n";
  }

  void ListingBox(std::string_view text) override {
    if (screen_) screen_->Write(text);
  }

  void Reported(const Problem& p, const Statement& s, int64_t /*boxLine*/) override {
    const bool warning = p.severity == Severity::kWarning;
    if (limit_ != 0 && shown_ >= limit_) {
      ++(warning ? hiddenWarnings_ : hiddenErrors_);
      return;
    }
    ++shown_;
    Location(p);
    err_ << Paint(warning ? "\33[1;35m" : "\33[1;31m", warning ? "warning:" : "error:") << ' ' << p.text;
    if (warning) err_ << " [" << Paint("\33[35m", "-W" + std::string(p.name)) << ']';
    err_ << '\n';
    Quote(p, s.source);
    if (!p.note.empty()) {
      Location(p);
      err_ << Paint("\33[1;36m", "note:") << ' ' << p.note << '\n';
    }
  }

 private:
  std::string Paint(std::string_view code, std::string_view text) const {
    return color_ ? std::string(code) + std::string(text) + "\33[m" : std::string(text);
  }
  void Location(const Problem& p) {
    std::string where = sourceName_ + ':' + std::to_string(p.span.line) + ':';
    if (p.span.column > 0) where += std::to_string(p.span.column) + ':';
    err_ << Paint("\33[1m", where) << ' ';
  }
  // The line as read (control characters shown as '?', a very long line cut
  // short) and a caret line whose tabs stand where the line's do, under the
  // span as far as the line is shown.
  void Quote(const Problem& p, std::string_view source) {
    constexpr size_t kShown = 240;
    std::string text(source.substr(0, kShown));
    for (char& c : text)
      if ((static_cast<unsigned char>(c) < 32 && c != '\t') || c == 127) c = '?';
    const std::string number = std::to_string(p.span.line);
    const std::string margin = std::string(number.size() < 5 ? 5 - number.size() : 0, ' ');
    err_ << margin << number << " | " << text << (source.size() > kShown ? "..." : "") << '\n';
    const size_t at = static_cast<size_t>(p.span.column) - 1;
    if (p.span.column <= 0 || at >= text.size()) return;
    std::string caret;
    for (size_t i = 0; i < at; ++i) caret += text[i] == '\t' ? '\t' : ' ';
    const size_t end = std::min(at + static_cast<size_t>(std::max(p.span.length, 1)), text.size());
    err_ << std::string(margin.size() + number.size(), ' ') << " | "
         << caret << Paint("\33[1;32m", std::string("^").append(end - at - 1, '~')) << '\n';
  }

  std::ostream& err_;
  bool color_;
  std::string sourceName_;
  OutputSink* screen_;
  int64_t limit_, shown_ = 0, hiddenErrors_ = 0, hiddenWarnings_ = 0;
};

bool KnownWarning(std::string_view name) {
  return std::find(std::begin(warn::kAll), std::end(warn::kAll), name) != std::end(warn::kAll);
}

// "no errors" or "N errors in M statements", the warnings, the bytes and where
// they went, and the files written.
std::string Summary(const RunResult& r, const RunRequest& request) {
  std::string s = r.messages == 0 ? "no errors"
                                  : Counted(r.messages, "error") + " in " + Counted(r.statementsWithErrors, "statement");
  if (r.warnings != 0) s += ", " + Counted(r.warnings, "warning");
  s += "; " + BytesWritten(r) + "; listing " + PrintableName(r.listingPath) + ", object " + PrintableName(r.objectPath);
  if (!request.crossReference.empty()) s += ", cross-reference " + PrintableName(request.crossReference);
  if (!request.symbols.empty()) s += ", symbols " + PrintableName(request.symbols);
  return s;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errTerminal) {
  bool cpm = false, screen = false, warningsAreErrors = false;
  int64_t maxErrors = 50;
  std::string source, color = "auto";
  RunRequest request;
  std::string &listPath = request.listing, &objectPath = request.object;
  std::set<std::string, std::less<>>& disabled = request.warnings.disabled;
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
    std::string* value = a == "-l" ? &listPath : a == "-o" ? &objectPath : a == "--xref" ? &request.crossReference
                       : a == "--symbols" ? &request.symbols : nullptr;
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
      request.warnings.none = true;
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
    } else if (a == "--max-errors" || a.rfind("--max-errors=", 0) == 0) {
      std::string n = a == "--max-errors" ? (i + 1 < args.size() ? args[++i] : "") : a.substr(13);
      char* end = nullptr;
      const long long v = n.empty() ? -1 : std::strtoll(n.c_str(), &end, 10);
      if (v < 0 || *end != '\0') return usage("--max-errors takes a count (0 shows all)");
      maxErrors = v;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage("unknown option " + PrintableName(a));
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
  const int toStandardOutput = (listPath == "-") + (objectPath == "-") + (request.crossReference == "-") +
                               (request.symbols == "-") + screen;
  if (toStandardOutput > 1) return usage("only one output may go to standard output");
  if (listPath.empty()) listPath = ReplaceExtension(source, kListingExtension);
  request.format = cpm ? &kCpmFormat : &kIntelHexFormat;
  if (objectPath.empty()) objectPath = ReplaceExtension(source, request.format->extension);
  request.path = source;
  request.listingBox = screen;

  const char* noColor = std::getenv("NO_COLOR");
  const bool colored = color == "always" || (color == "auto" && errTerminal && (!noColor || !*noColor));
  StreamSink screenSink(out);
  CommandLineObserver observer(err, colored, source, screen ? &screenSink : nullptr, maxErrors);
  DiskFileSystem files(/*standardStreams=*/true);
  RunResult result;
  try {
    result = Run(request, files, observer);
  } catch (const FileError& e) {
    out.flush();
    err << "orvane-asm: " << PrintableName(e.path()) << ": " << e.reason() << '\n';
    return 2;
  }
  out.flush();
  observer.SayHidden();
  err << "orvane-asm: " << Summary(result, request) << '\n';
  return result.statementsWithErrors != 0 || (warningsAreErrors && result.warnings != 0) ? 1 : 0;
}

}  // namespace orvane
