#include "app/cli.h"

#include <cstdio>
#include <ostream>
#include <string_view>

#include "app/file_ops.h"
#include "app/paths.h"
#include "app/run.h"
#include "app/window_ops.h"
#include "encoder/assembler.h"

namespace orvane {

namespace {

constexpr std::string_view kUsage =
    "usage: orvane-asm [--hex | --cpm] [-l LISTING] [-o OBJECT] [--screen] SOURCE\n";

constexpr std::string_view kHelp =
    "Assembles a Z80 source file into a listing file and an object file.\n"
    "\n"
    "  --hex         Intel HEX object file (the default), origin 0000\n"
    "  --cpm         CP/M executable image (.com), origin 0100\n"
    "  -l LISTING    listing file (default: SOURCE with extension .LST)\n"
    "  -o OBJECT     object file (default: SOURCE with extension .HEX or .com)\n"
    "  --screen      also print the on-screen listing to standard output\n"
    "  --help        show this help\n"
    "  --version     show the version\n"
    "\n"
    "A SOURCE of - is standard input (then -l and -o must be given); a LISTING\n"
    "or OBJECT of - is standard output (one of them at most, not with --screen).\n"
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

// Prints each message of each statement as SOURCE:LINE: error: MESSAGE.
class CommandLineWindow : public HeadlessWindow {
 public:
  explicit CommandLineWindow(std::ostream& err) : err_(err) {}
  void Reported(const Problem& p) override { err_ << sourceName << ':' << p.line << ": error: " << p.text << '\n'; }
  std::string sourceName;

 private:
  std::ostream& err_;
};

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  bool cpm = false;
  bool screen = false;
  std::string listPath, objectPath, source;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      out << kUsage << '\n' << kHelp;
      return 0;
    }
    if (a == "--version") {
      out << "orvane-asm " << ORVANE_VERSION << '\n';
      return 0;
    }
    if (a == "--hex") {
      cpm = false;
    } else if (a == "--cpm") {
      cpm = true;
    } else if (a == "--screen") {
      screen = true;
    } else if (a == "-l" || a == "-o") {
      if (i + 1 >= args.size()) {
        err << "orvane-asm: option " << a << " needs a path\n" << kUsage;
        return 2;
      }
      (a == "-l" ? listPath : objectPath) = args[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      err << "orvane-asm: unknown option " << a << '\n' << kUsage;
      return 2;
    } else if (source.empty()) {
      source = a;
    } else {
      err << "orvane-asm: only one source file may be given\n" << kUsage;
      return 2;
    }
  }
  if (source.empty()) {
    err << "orvane-asm: no source file given\n" << kUsage;
    return 2;
  }
  if (source == "-" && (listPath.empty() || objectPath.empty())) {
    err << "orvane-asm: a source read from standard input needs -l and -o\n" << kUsage;
    return 2;
  }
  if (listPath == "-" && objectPath == "-") {
    err << "orvane-asm: only one of the listing and the object may go to standard output\n" << kUsage;
    return 2;
  }
  if (screen && (listPath == "-" || objectPath == "-")) {
    err << "orvane-asm: --screen and an output to - would share standard output\n" << kUsage;
    return 2;
  }
  if (listPath.empty()) listPath = ReplaceExtension(source, ".LST");
  if (objectPath.empty()) objectPath = ReplaceExtension(source, cpm ? ".com" : ".HEX");

  CommandLineWindow window(err);
  window.sourceName = source;
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
    result = AssembleFile(as, window, files);
  } catch (const FileError& e) {
    out.flush();
    err << "orvane-asm: " << e.what() << '\n';
    return 2;
  }
  out.flush();
  err << "orvane-asm: ";
  if (result.messages == 0) {
    err << "no errors";
  } else {
    err << result.messages << (result.messages == 1 ? " error" : " errors") << " in " << result.statementsWithErrors
        << (result.statementsWithErrors == 1 ? " statement" : " statements");
  }
  err << ", " << result.objectBytes << (result.objectBytes == 1 ? " byte" : " bytes") << "; listing "
      << listPath << ", object " << objectPath << '\n';
  return result.statementsWithErrors ? 1 : 0;
}

}  // namespace orvane
