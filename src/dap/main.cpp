// orvane-dap: the debug adapter over standard input and output. This thread
// reads the client's messages and hands them to the adapter; the program runs
// on the adapter's own thread, so a pause or a disconnect is read while it
// runs. Console output waiting in the adapter goes out at least every few
// milliseconds.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "dap/adapter.h"
#include "driver/command_line.h"
#include "jsonrpc/transport.h"

namespace {

constexpr std::string_view kHelp =
    "usage: orvane-dap [-h | --help | -v | --version]\n"
    "\n"
    "The Orvane debug adapter: speaks the Debug Adapter Protocol over standard\n"
    "input and output. An editor starts it and launches a Z80 source, which is\n"
    "assembled in memory as a CP/M image and run on the CP/M machine of\n"
    "orvane-run, with breakpoints, stepping (also backwards), registers,\n"
    "memory and the console.\n"
    "\n"
    "Launch arguments:\n"
    "  program      the .z80 source (required)\n"
    "  args         the program's arguments: command tail and FCBs\n"
    "  cwd          the folder that is drive A: (default: the source's folder)\n"
    "  stopOnEntry  stop at the first instruction (default false)\n"
    "  input        a file whose bytes are the console input (default: none)\n"
    "  waitForInput at the end of the input, wait for lines typed in the\n"
    "               debug console instead of reading the end (default false)\n"
    "  maxTstates   end the run after this many T-states (0: no limit)\n"
    "  strict       a BDOS function CP/M 2.2 does not have stops the run as a\n"
    "               fault, as orvane-run --strict does (default true), and so\n"
    "               does a write to 0000H-0002H or to the BDOS and BIOS;\n"
    "               false: answered A=0, HL=0, as orvane-run does by default\n"
    "\n"
    "In the debug console, a line starting with '>' is typed to the program\n"
    "(the rest of the line and a return); any other line is evaluated.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      return 0;
    }
    if (a == "--version" || a == "-v") {
      std::cout << orvane::VersionText("orvane-dap", "It runs on libz80ex, licensed GPL-2+.");
      return 0;
    }
    std::cerr << "orvane-dap: unknown option " << a << "\n" << kHelp;
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);

  std::atomic<bool> outputGone = false;
  orvane::dap::Adapter adapter([&](const orvane::dap::json& message) {
    if (!outputGone && !orvane::jsonrpc::WriteAll(STDOUT_FILENO, orvane::jsonrpc::FrameMessage(message))) outputGone = true;
  });
  orvane::jsonrpc::MessageReader reader;
  std::vector<char> chunk(1 << 16);
  for (;;) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&in, 1, orvane::dap::Adapter::kTickMs);
    if (ready < 0 && errno != EINTR) return 1;
    if (ready > 0) {
      const ssize_t n = read(STDIN_FILENO, chunk.data(), chunk.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // The client went away: the run ends with it.
        adapter.InputEnded();
        return adapter.Disconnected() ? 0 : 1;
      }
      reader.Feed(std::string_view(chunk.data(), static_cast<size_t>(n)));
      while (auto frame = reader.Next()) {
        adapter.Handle(*frame);
        if (adapter.Disconnected()) return 0;
      }
    }
    adapter.Tick();
    if (outputGone) {
      adapter.InputEnded();
      return 1;
    }
  }
}
