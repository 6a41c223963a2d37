#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  return orvane::RunCommandLine(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
