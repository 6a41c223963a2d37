#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"

int main(int argc, char** argv) {
  // A standard descriptor the caller closed (>&-) is held by a read-only
  // /dev/null, so no file opened later takes its number and receives what is
  // meant for the terminal; writing it then fails as writing a closed one does.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int held = ::open("/dev/null", O_RDONLY | O_NOCTTY);
      if (held >= 0 && held != fd) ::close(held);
    }
  }
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  return orvane::RunCommandLine(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
