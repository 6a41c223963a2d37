// The bare libz80ex loop that orvane-run is measured against: a CP/M image
// at 0100H, BDOS function 2 at 0005H and nothing else, until the warm boot.
// Prints "T-STATES SECONDS" on standard error.
//   orvane-bench-z80 PROGRAM.com
extern "C" {
#include <z80ex/z80ex.h>
}

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return std::fprintf(stderr, "usage: orvane-bench-z80 PROGRAM.com\n"), 2;
  std::ifstream f(argv[1], std::ios::binary);
  const std::vector<char> image{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  static uint8_t mem[65536];
  for (size_t i = 0; i < image.size() && i < 0xFD00; ++i) mem[0x100 + i] = static_cast<uint8_t>(image[i]);
  Z80EX_CONTEXT* cpu = z80ex_create(
      [](Z80EX_CONTEXT*, Z80EX_WORD a, int, void*) -> Z80EX_BYTE { return mem[a]; }, nullptr,
      [](Z80EX_CONTEXT*, Z80EX_WORD a, Z80EX_BYTE v, void*) { mem[a] = v; }, nullptr,
      [](Z80EX_CONTEXT*, Z80EX_WORD, void*) -> Z80EX_BYTE { return 0xFF; }, nullptr,
      [](Z80EX_CONTEXT*, Z80EX_WORD, Z80EX_BYTE, void*) {}, nullptr,
      [](Z80EX_CONTEXT*, void*) -> Z80EX_BYTE { return 0xFF; }, nullptr);
  z80ex_set_reg(cpu, regPC, 0x100);
  z80ex_set_reg(cpu, regSP, 0xFDFE);
  uint64_t t = 0;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    t += static_cast<uint64_t>(z80ex_step(cpu));
    if (z80ex_last_op_type(cpu) != 0) continue;
    const Z80EX_WORD pc = z80ex_get_reg(cpu, regPC);
    if (pc == 0) break;
    if (pc == 5) {
      std::putchar(z80ex_get_reg(cpu, regDE) & 0xFF);
      const Z80EX_WORD sp = z80ex_get_reg(cpu, regSP);
      z80ex_set_reg(cpu, regPC, static_cast<Z80EX_WORD>(mem[sp] | mem[static_cast<Z80EX_WORD>(sp + 1)] << 8));
      z80ex_set_reg(cpu, regSP, static_cast<Z80EX_WORD>(sp + 2));
      if (z80ex_get_reg(cpu, regPC) == 0) break;
    }
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "%llu %.6f\n", static_cast<unsigned long long>(t), s);
  z80ex_destroy(cpu);
  return 0;
}
