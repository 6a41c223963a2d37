// orvane-run: runs a CP/M 2.2 program on an emulated Z80.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/command_line.h"
#include "runner/host_run.h"
#if ORVANE_HAVE_BOARD
#include "board/host_board.h"
#endif

using namespace orvane::runner;

namespace {

constexpr std::string_view kUsageText =
    "usage: orvane-run [--dir DIR] [--max-tstates N] [--stats] [--strict] [--verbose] [--trace FILE]\n"
    "                  [--trace-limit SIZE] [--list FILE] [--terminal ansi|vt52|adm3a] [--profile FILE]\n"
    "                  PROGRAM[.com] [ARGUMENT...]\n"
    "       orvane-run --board NAME|FILE|list [--fast] [--load ADDR] [--max-tstates N] [--stats] [--strict]\n"
    "                  [--trace FILE] [--trace-limit SIZE] [--terminal ansi|vt52|adm3a] [--profile FILE]\n"
    "                  IMAGE.hex|IMAGE.bin\n";

constexpr std::string_view kHelp =
    "Runs a CP/M 2.2 program on an emulated Z80, with the console on standard\n"
    "input and output and drive A: on a host folder.\n"
    "\n"
    "  --dir DIR        the folder that is drive A: (default: the current one)\n"
    "  --max-tstates N  stop after N T-states\n"
    "  --stats          print T-states, instructions, time and effective MHz\n"
    "                   on standard error at the end\n"
    "  --strict         stop at a BDOS function CP/M 2.2 does not have (exit 3)\n"
    "                   instead of answering A=0, HL=0, and at a write to\n"
    "                   0000H-0002H or to the BDOS and BIOS (exit 6)\n"
    "  --verbose        a note on standard error for the first call of each\n"
    "                   BDOS function CP/M 2.2 does not have\n"
    "  --trace FILE     write one line per instruction to FILE\n"
    "  --trace-limit SIZE  stop tracing at SIZE bytes (K, M, G after it: KiB,\n"
    "                   MiB, GiB; 0: never); without it and --max-tstates,\n"
    "                   tracing stops at 1 GiB\n"
    "  --list FILE      the list device (BDOS 5) writes to FILE (default:\n"
    "                   standard error)\n"
    "  --terminal ansi|vt52|adm3a\n"
    "                   the terminal the program was installed for: with vt52\n"
    "                   or adm3a its cursor addressing, clearing, cursor moves\n"
    "                   and reverse video are translated to ANSI, and the\n"
    "                   cursor keys sent as it sends them (default: ansi, the\n"
    "                   bytes as they are)\n"
    "  --board NAME|FILE  run a ROM or RAM image on a Z80 board instead: a\n"
    "                   built-in one (--board list names them) or a board file\n"
    "  --fast           with --board: as fast as the host can (the default when\n"
    "                   standard input is not a terminal), else at the board's clock\n"
    "  --load ADDR      with --board: where a raw .bin image goes (default 0000H)\n"
    "  --profile FILE   write where the run spent its time to FILE in\n"
    "                   callgrind's format (kcachegrind FILE, callgrind_annotate\n"
    "                   FILE), by address; orvane-asm --run --profile (with\n"
    "                   --hex for a board) gives it by source line and label,\n"
    "                   and --coverage with it\n"
    "  -h, --help       show this help\n"
    "  -v, --version    show the version\n"
    "\n"
    "An option with a value takes it after '=' or as the next argument.\n"
    "\n"
    "PROGRAM is found as given, else without regard to case, else with .com\n"
    "added (orvane-run test finds TEST.COM).\n"
    "\n"
    "On a terminal every key goes to the program (Ctrl+C, Ctrl+Z, Ctrl+S...).\n"
    "The escape key is Ctrl+]: then q stops the run, z suspends it, and\n"
    "Ctrl+] types Ctrl+] for the program.\n"
    "\n"
    "Exit status: the program's return code (BDOS 108) or 0 when it ends by a\n"
    "warm boot; 2 usage, or a program that cannot be read, does not fit or is\n"
    "text (a source or Intel HEX file); 3 a BIOS call the machine does not\n"
    "have (with --strict, also a BDOS function); 4 the T-state limit; 5 HALT;\n"
    "6 the program broke the machine (a write over the jump at 0000H or into\n"
    "the BDOS and BIOS, an FCB that names no file); 7 a host failure (a file\n"
    "write, a closed standard output); 8 stopped with Ctrl+] q; 9 the\n"
    "program waits for console input after the input has ended.\n";

constexpr std::string_view kUses = "It runs on libz80ex, licensed GPL-2+.";

int Usage(const std::string& message) {
  std::cerr << "orvane-run: " << message << "\n" << kUsageText;
  return kUsage;
}

// The whole file, or why it cannot be read.
std::string ReadProgram(const std::string& path, std::vector<uint8_t>& image) {
  // Without waiting: a FIFO is refused below, not waited on for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return std::string("cannot read it: ") + strerror(errno);
  std::string error;
  if (!S_ISREG(st.st_mode)) error = "not a regular file";
  if (error.empty() && static_cast<uint64_t>(st.st_size) > kMaxImage) error = ImageTooLarge(st.st_size);
  uint8_t buf[65536];
  while (error.empty() && image.size() < kMaxImage) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = strerror(errno);
    if (n <= 0) break;
    image.insert(image.end(), buf, buf + n);
  }
  close(fd);
  return error;
}

// The program file as the CCP would find it on the drive: the name as given,
// then the one name in its folder that differs only in case, then either of
// those with ".com" added when the name has no type.
std::string FindProgram(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return path;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (const dirent* e = readdir(d)) names.emplace_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> wanted = {base};
  if (base.find('.') == std::string::npos) wanted.push_back(base + ".com");
  const std::string prefix = slash == std::string::npos ? "" : folder;
  for (const std::string& w : wanted) {
    if (w != base && stat((prefix + w).c_str(), &st) == 0) return prefix + w;
    for (const std::string& n : names)
      if (lower(n) == lower(w)) return prefix + n;
  }
  return path;
}

// Why image is text rather than a program ("" when it may be one): an Intel
// HEX file, or a source, by their first bytes.
std::string NotAProgram(const std::vector<uint8_t>& image, const std::string& path) {
  const size_t n = std::min<size_t>(image.size(), 256);
  size_t hex = 1;
  while (hex < n && std::isxdigit(image[hex])) ++hex;
  if (n > 0 && image[0] == ':' && hex >= 11 && (hex == n || image[hex] == '\r' || image[hex] == '\n'))
  {
    const size_t slash = path.rfind('/'), dot = path.rfind('.');
    const std::string com = (dot != std::string::npos && (slash == std::string::npos || dot > slash)
                                 ? path.substr(0, dot) : path) + ".com";
    return "this is an Intel HEX file, not a program; make the image with 'objcopy -I ihex -O binary " + path +
           " " + com + "' (or LOAD on CP/M), or assemble the source with 'orvane-asm --cpm'";
  }
  // Text: printable ASCII, tabs, line ends and UTF-8, with at least one line
  // end. Z80 code has control bytes (NOP, LD BC, JR...) and lone bytes from
  // 80H up (JP, CALL, RET).
  bool lineEnd = false;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = image[i];
    if (c == '\n') lineEnd = true;
    if (c >= 0x80) {
      const int more = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
      if (more < 0) return "";
      for (int k = 1; k <= more; ++k)
        if (i + k < n && (image[i + k] & 0xC0) != 0x80) return "";
      i += static_cast<size_t>(more);
    } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') {
      return "";
    }
  }
  if (!lineEnd) return "";
  return "this is text (a source?), not a program; assemble it with 'orvane-asm --cpm " + path +
         "' and run the .com it writes, or run it at once with 'orvane-asm --run " + path + "'";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> all(argv + 1, argv + argc);
  HostRun run;
#if ORVANE_HAVE_BOARD
  orvane::board::BoardRun board;
#endif
  size_t i = 0;
  for (; i < all.size(); ++i) {
    const std::string& a = all[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a.size() < 2 || a[0] != '-') break;
    if (a == "--help" || a == "-h") return std::cout << kUsageText << "\n" << kHelp, 0;
    if (a == "--version" || a == "-v") return std::cout << orvane::VersionText("orvane-run", kUses), 0;
    std::string error;
#if ORVANE_HAVE_BOARD
    if (orvane::board::TakeBoardOption(all, i, board, error)) {
      if (!error.empty()) return Usage(error);
      continue;
    }
#endif
    if (!TakeRunnerOption(all, i, run, error)) return Usage("unknown option " + a);
    if (!error.empty()) return Usage(error);
  }
#if ORVANE_HAVE_BOARD
  if (!board.board.empty() || board.hasLoad || board.fast)
    return orvane::board::BoardMain(all, i, board, run, "orvane-run", std::cout, std::cerr, kUsageText);
#endif
  if (i == all.size()) return Usage("no program given");
  const std::string program = FindProgram(all[i++]);
  run.program.command = program;
  run.args.assign(all.begin() + static_cast<long>(i), all.end());

  if (const std::string error = CheckRunOutputs(run, {program}, {}); !error.empty()) return Usage(error);
  std::vector<uint8_t> image;
  if (const std::string error = ReadProgram(program, image); !error.empty())
    return std::cerr << "orvane-run: " << program << ": " << error << "\n", kUsage;
  if (const std::string why = NotAProgram(image, program); !why.empty())
    return std::cerr << "orvane-run: " << program << ": " << why << "\n", kUsage;
  return RunOnHost(image, run, "orvane-run", std::cerr);
}
