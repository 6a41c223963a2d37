// orvane-lsp: the language server over standard input and output. The loop
// waits for input or for the next debounce deadline, whichever comes first;
// everything else is the server's.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "lsp/server.h"

namespace {

constexpr std::string_view kHelp =
    "usage: orvane-lsp [-h | --help | -v | --version]\n"
    "\n"
    "The Orvane language server: speaks the Language Server Protocol over\n"
    "standard input and output, and assembles each open document in memory\n"
    "as orvane-asm would (nothing is written to disk).\n"
    "\n"
    "Settings (initializationOptions, or workspace/didChangeConfiguration\n"
    "under \"orvane\"):\n"
    "  format     \"hex\" (the default) or \"cpm\"\n"
    "  warnings   a list of warning names as -W takes them: NAME, no-NAME,\n"
    "             \"none\" or \"all\"\n"
    "  debounce   milliseconds to wait after a change before assembling\n"
    "             (default 5)\n";

}  // namespace

int main(int argc, char** argv) {
  using orvane::lsp::Server;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      return 0;
    }
    if (a == "--version" || a == "-v") {
      std::cout << orvane::VersionText("orvane-lsp");
      return 0;
    }
    std::cerr << "orvane-lsp: unknown option " << a << "\n" << kHelp;
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);

  bool outputGone = false;
  Server server([&](const orvane::lsp::json& message) {
    if (!outputGone && !orvane::jsonrpc::WriteAll(STDOUT_FILENO, orvane::jsonrpc::FrameMessage(message))) outputGone = true;
  });
  orvane::jsonrpc::MessageReader reader;
  std::vector<char> chunk(1 << 20);
  for (;;) {
    int timeout = -1;
    if (const auto due = server.NextDeadline()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - Server::Clock::now()).count();
      timeout = static_cast<int>(std::max<long long>(0, wait));
    }
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&in, 1, timeout);
    if (ready < 0 && errno != EINTR) return 1;
    bool eof = false;
    if (ready > 0) {
      // Everything already waiting is read before anything is handled, so a
      // cancellation that arrived behind its request still finds it queued.
      std::vector<orvane::jsonrpc::Frame> frames;
      for (;;) {
        const ssize_t n = read(STDIN_FILENO, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          eof = true;
          break;
        }
        reader.Feed(std::string_view(chunk.data(), static_cast<size_t>(n)));
        while (auto f = reader.Next()) frames.push_back(std::move(*f));
        pollfd more{STDIN_FILENO, POLLIN, 0};
        if (poll(&more, 1, 0) <= 0 || !(more.revents & (POLLIN | POLLHUP))) break;
      }
      server.HandleFrames(std::move(frames), Server::Clock::now());
    }
    if (server.Exited()) return server.ExitCode();
    server.Tick(Server::Clock::now());
    if (outputGone) return 1;
    // The client went away without exit: a clean end only after shutdown.
    if (eof) return server.ShutDown() ? 0 : 1;
  }
}
