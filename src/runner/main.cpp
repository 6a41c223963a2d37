// orvane-run: runs a CP/M 2.2 program on an emulated Z80.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/command_line.h"
#include "runner/host_run.h"

using namespace orvane::runner;

namespace {

constexpr std::string_view kUsageText =
    "usage: orvane-run [--dir DIR] [--max-tstates N] [--stats] [--trace FILE] [--trace-limit SIZE] [--list FILE]\n"
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
    "  --trace-limit SIZE  stop tracing at SIZE bytes (K, M, G after it: KiB,\n"
    "                   MiB, GiB; 0: never); without it and --max-tstates,\n"
    "                   tracing stops at 1 GiB\n"
    "  --list FILE      the list device (BDOS 5) writes to FILE (default:\n"
    "                   standard error)\n"
    "  -h, --help       show this help\n"
    "  -v, --version    show the version\n"
    "\n"
    "An option with a value takes it after '=' or as the next argument.\n"
    "\n"
    "Exit status: the program's return code (BDOS 108) or 0 when it ends by a\n"
    "warm boot; 2 usage, or a program that cannot be read or does not fit;\n"
    "3 an unknown BDOS function or BIOS call; 4 the T-state limit; 5 HALT;\n"
    "6 the program broke the machine (a write over page zero or the system,\n"
    "an FCB that names no file); 7 a host failure (a file write, a closed\n"
    "standard output).\n";

constexpr std::string_view kUses = "It runs on libz80ex, licensed GPL-2+.";

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
  const std::vector<std::string> all(argv + 1, argv + argc);
  HostRun run;
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
    if (!TakeRunnerOption(all, i, run, error)) return Usage("unknown option " + a);
    if (!error.empty()) return Usage(error);
  }
  if (i == all.size()) return Usage("no program given");
  const std::string program = all[i++];
  run.args.assign(all.begin() + static_cast<long>(i), all.end());

  std::vector<uint8_t> image;
  if (const std::string error = ReadProgram(program, image); !error.empty())
    return std::cerr << "orvane-run: " << program << ": " << error << "\n", kUsage;
  return RunOnHost(image, run, "orvane-run", std::cerr);
}
