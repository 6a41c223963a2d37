// Runs the example programs on an emulated Z80 (libz80ex) under a minimal
// CP/M: each EXAMPLES_DIR/NAME.z80 is assembled with orvane-asm --cpm, its
// image loaded at 0100H, and its console output compared with
// EXPECTED_DIR/NAME.out, the text worked out by hand from the source (with
// plain line ends there: each "\n" stands for the CR LF the program prints).
// Every example must have its expected output.
//
// The CP/M environment: 64K of RAM; the BDOS entry at 0005H is trapped
// (function 2 prints the character in E, function 9 the '$'-terminated string
// at DE) and returns as a RET would; reaching 0000H is the warm boot that
// ends the program, and SP must then be back where it started. The stack
// starts at FFFEH with 0000H on it as the return address, as the CCP leaves
// it. A HALT, another BDOS function or too many steps is a fault.
//
// Usage: cpm_run ORVANE_ASM EXAMPLES_DIR EXPECTED_DIR

extern "C" {
#include <z80ex/z80ex.h>
}

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr long kStepLimit = 2000000;
using Memory = std::vector<uint8_t>;

// Runs a CP/M image, appending what it prints to console. Returns the fault,
// empty when the program came back to the warm boot with the stack balanced.
std::string RunImage(const std::string& image, std::string& console) {
  if (image.empty() || image.size() > 0xFD00 - 0x100) return "image size " + std::to_string(image.size());
  Memory mem(65536, 0);  // FFFEH holds 0000H: the return address to the warm boot
  std::copy(image.begin(), image.end(), mem.begin() + 0x100);
  mem[0x0000] = 0x76;  // HALT at the warm boot: never executed, PC 0 stops first
  mem[0x0005] = 0xC9;  // RET at the BDOS entry (trapped before it runs)
  Z80EX_CONTEXT* cpu = z80ex_create(
      [](Z80EX_CONTEXT*, Z80EX_WORD a, int, void* m) -> Z80EX_BYTE { return (*static_cast<Memory*>(m))[a]; }, &mem,
      [](Z80EX_CONTEXT*, Z80EX_WORD a, Z80EX_BYTE v, void* m) { (*static_cast<Memory*>(m))[a] = v; }, &mem,
      [](Z80EX_CONTEXT*, Z80EX_WORD, void*) -> Z80EX_BYTE { return 0xFF; }, nullptr,
      [](Z80EX_CONTEXT*, Z80EX_WORD, Z80EX_BYTE, void*) {}, nullptr,
      [](Z80EX_CONTEXT*, void*) -> Z80EX_BYTE { return 0xFF; }, nullptr);
  z80ex_set_reg(cpu, regPC, 0x0100);
  z80ex_set_reg(cpu, regSP, 0xFFFE);
  std::string fault = "no warm boot after " + std::to_string(kStepLimit) + " steps";
  for (long step = 0; step < kStepLimit; ++step) {
    z80ex_step(cpu);
    if (z80ex_last_op_type(cpu) != 0) continue;  // inside a prefixed instruction
    Z80EX_WORD pc = z80ex_get_reg(cpu, regPC);
    if (pc == 0x0005) {
      const int fn = z80ex_get_reg(cpu, regBC) & 0xFF;
      const Z80EX_WORD de = z80ex_get_reg(cpu, regDE), sp = z80ex_get_reg(cpu, regSP);
      if (fn == 2) {
        console += static_cast<char>(de & 0xFF);
      } else if (fn == 9 && std::find(mem.begin(), mem.end(), '$') != mem.end()) {
        for (Z80EX_WORD a = de; mem[a] != '$'; ++a) console += static_cast<char>(mem[a]);
      } else {
        fault = "BDOS function " + std::to_string(fn) + (fn == 9 ? " without a '$' in memory" : "");
        break;
      }
      // Return to the caller as the RET at 0005H would.
      pc = static_cast<Z80EX_WORD>(mem[sp] | mem[static_cast<Z80EX_WORD>(sp + 1)] << 8);
      z80ex_set_reg(cpu, regSP, static_cast<Z80EX_WORD>(sp + 2));
      z80ex_set_reg(cpu, regPC, pc);
    }
    if (pc == 0x0000) {
      // The RET to the warm boot pops the 0000H pushed at FFFEH: SP wraps to 0.
      const Z80EX_WORD sp = z80ex_get_reg(cpu, regSP);
      fault = sp == 0 ? "" : "stack not balanced at the warm boot: SP " + std::to_string(sp);
      break;
    }
    if (z80ex_doing_halt(cpu)) {
      fault = "HALT reached";
      break;
    }
  }
  z80ex_destroy(cpu);
  return fault;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The text with control characters spelled out, one line per printed line.
std::string Visible(const std::string& s) {
  std::string o;
  for (unsigned char c : s) {
    char b[8];
    std::snprintf(b, sizeof b, "\\x%02X", c);
    o += c == '\r' ? "\\r" : c == '\n' ? "\\n\n            " : c < 32 || c > 126 ? b : std::string(1, char(c));
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: cpm_run ORVANE_ASM EXAMPLES_DIR EXPECTED_DIR\n";
    return 2;
  }
  char tmpl[] = "/tmp/orvane-cpu-XXXXXX";
  if (!mkdtemp(tmpl)) return std::perror("mkdtemp"), 1;
  const fs::path dir = tmpl, expectedDir = argv[3];
  std::vector<fs::path> sources;
  for (const auto& e : fs::directory_iterator(argv[2]))
    if (e.path().extension() == ".z80") sources.push_back(e.path());
  std::sort(sources.begin(), sources.end());

  int failed = sources.empty() ? 1 : 0;
  for (const fs::path& src : sources) {
    const std::string name = src.stem().string(), file = src.filename().string();
    const fs::path com = dir / (name + ".com"), out = expectedDir / (name + ".out"), msg = dir / (name + ".msg");
    std::string expected, console, fault;
    for (char c : ReadFile(out)) expected += c == '\n' ? "\r\n" : std::string(1, c);
    const std::string cmd = "'" + std::string(argv[1]) + "' --cpm -o '" + com.string() + "' -l '" +
                            (dir / (name + ".LST")).string() + "' '" + src.string() + "' >'" + msg.string() + "' 2>&1";
    if (!fs::exists(out))
      fault = "no expected output " + out.string();
    else if (std::system(cmd.c_str()) != 0)
      fault = "orvane-asm reported errors:\n" + ReadFile(msg);
    else
      fault = RunImage(ReadFile(com), console);
    if (fault.empty() && console == expected) {
      std::cout << "ok   " << file << " (" << console.size() << " characters printed)\n";
      continue;
    }
    ++failed;
    std::cout << "FAIL " << file << (fault.empty() ? "" : ": " + fault) << "\n  expected: " << Visible(expected)
              << "\n  printed:  " << Visible(console) << "\n";
  }
  std::cout << "ran " << sources.size() << " example programs on the Z80: " << failed << " failed\n";
  if (failed == 0) return fs::remove_all(dir), 0;
  std::cout << "files kept in " << dir.string() << "\n";
  return 1;
}
