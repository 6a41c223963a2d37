// orvane-bench-baseline: the least any two-pass line-oriented tool must do.
// Reads the file twice with std::getline and touches every byte of every line
// (a byte sum), so the figure is the floor for the assembler's two passes.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orvane-bench-baseline FILE\n");
    return 2;
  }
  uint64_t lines = 0, sum = 0;
  for (int pass = 0; pass < 2; ++pass) {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "orvane-bench-baseline: cannot open %s\n", argv[1]);
      return 2;
    }
    std::string line;
    while (std::getline(in, line)) {
      ++lines;
      for (unsigned char c : line) sum += c;
    }
  }
  std::printf("%llu lines, byte sum %llu\n", static_cast<unsigned long long>(lines),
              static_cast<unsigned long long>(sum));
  return 0;
}
