// orvane-run: runs a CP/M 2.2 program on an emulated Z80.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "runner/machine.h"
#include "runner/stats.h"

using namespace orvane::runner;

namespace {

constexpr std::string_view kUsageText =
    "usage: orvane-run [--dir DIR] [--max-tstates N] [--stats] [--trace FILE] [--list FILE]\n"
    "                  PROGRAM.com [ARGUMENT...]\n";

constexpr std::string_view kHelp =
    "Runs a CP/M 2.2 program on an emulated Z80, with the console on standard\n"
    "input and output and drive A: on a host folder.\n"
    "\n"
    "  --dir DIR        the folder that is drive A: (default: the current one)\n"
    "  --max-tstates N  stop after N T-states\n"
    "  --stats          print T-states, instructions, time and effective MHz\n"
    "                   on standard error at the end\n"
    "  --trace FILE     write one line per instruction to FILE\n"
    "  --list FILE      the list device (BDOS 5) writes to FILE (default:\n"
    "                   standard error)\n"
    "  --help           show this help\n"
    "  --version        show the version\n"
    "\n"
    "Exit status: the program's return code (BDOS 108) or 0 when it ends by a\n"
    "warm boot; 2 usage, or a program that cannot be read or does not fit;\n"
    "3 an unknown BDOS function or BIOS call; 4 the T-state limit; 5 HALT;\n"
    "6 the program broke the machine (a write over page zero or the system,\n"
    "an FCB that names no file); 7 a host failure (a file write, a closed\n"
    "standard output).\n";

int Usage(const std::string& message) {
  std::cerr << "orvane-run: " << message << "\n" << kUsageText;
  return kUsage;
}

// The whole file, or why it cannot be read.
std::string ReadProgram(const std::string& path, std::vector<uint8_t>& image) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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

}  // namespace

int main(int argc, char** argv) {
  std::string dir = ".", tracePath, listPath, program;
  uint64_t maxTstates = 0;
  bool stats = false;
  int i = 1;
  for (; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a.size() < 2 || a[0] != '-') break;
    if (a == "--help" || a == "-h") return std::cout << kUsageText << "\n" << kHelp, 0;
    if (a == "--version") return std::cout << "orvane-run " << ORVANE_VERSION << "\n", 0;
    if (a == "--stats") {
      stats = true;
      continue;
    }
    std::string_view name = a, value;
    const size_t eq = a.find('=');
    if (eq != std::string_view::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
    } else if (a == "--dir" || a == "--trace" || a == "--list" || a == "--max-tstates") {
      if (i + 1 == argc) return Usage(std::string(a) + " needs a value");
      value = argv[++i];
    }
    if (name == "--dir") {
      dir = value;
    } else if (name == "--trace") {
      tracePath = value;
    } else if (name == "--list") {
      listPath = value;
    } else if (name == "--max-tstates") {
      char* end = nullptr;
      errno = 0;
      const std::string v(value);
      maxTstates = std::strtoull(v.c_str(), &end, 10);
      if (v.empty() || *end || errno || v[0] == '-' || maxTstates == 0)
        return Usage("--max-tstates takes a number of T-states above 0, not '" + v + "'");
    } else {
      return Usage("unknown option " + std::string(a));
    }
  }
  if (i == argc) return Usage("no program given");
  program = argv[i++];
  const std::vector<std::string> args(argv + i, argv + argc);

  std::vector<uint8_t> image;
  if (const std::string error = ReadProgram(program, image); !error.empty())
    return std::cerr << "orvane-run: " << program << ": " << error << "\n", kUsage;

  Disk disk;
  if (!disk.Open(dir)) return std::cerr << "orvane-run: " << disk.error << "\n", kUsage;
  std::ofstream trace, list;
  RunOptions opt;
  opt.maxTstates = maxTstates;
  opt.list = &std::cerr;
  for (auto [path, file, slot] : {std::tuple{&tracePath, &trace, &opt.trace}, {&listPath, &list, &opt.list}}) {
    if (path->empty()) continue;
    file->open(*path, std::ios::binary | std::ios::trunc);
    if (!*file) return std::cerr << "orvane-run: cannot write " << *path << ": " << strerror(errno) << "\n", kUsage;
    *slot = file;
  }

  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  RunResult r;
  {
    HostConsole console;
    Machine machine(console, disk, opt);
    std::string error;
    if (!machine.Load(image, args, error)) return std::cerr << "orvane-run: " << program << ": " << error << "\n", kUsage;
    r = machine.Run();
  }
  if (!r.message.empty()) std::cerr << "orvane-run: " << r.message << "\n";
  if (stats) std::cerr << "orvane-run: " << StatsLine(r) << "\n";
  for (std::ofstream* f : {&trace, &list}) {
    if (f->is_open() && !f->flush()) {
      std::cerr << "orvane-run: cannot write " << (f == &trace ? tracePath : listPath) << "\n";
      if (r.status == 0) r.status = kHostError;
    }
  }
  return r.status;
}
