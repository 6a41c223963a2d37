// Runs the example programs on an emulated Z80 (libz80ex) under a minimal
// CP/M: each example is assembled with orvane-asm --cpm, its image loaded at
// 0100H, and its console output compared with the text the program must
// print, worked out by hand from the source.
//
// The CP/M environment: 64K of RAM; the BDOS entry at 0005H is trapped
// (function 2 prints the character in E, function 9 the '$'-terminated string
// at DE) and returns as a RET would; reaching 0000H is the warm boot that
// ends the program. The stack starts at FFFEH with 0000H pushed as the return
// address, as the CCP leaves it.
//
// Usage: cpm_run ORVANE_ASM EXAMPLES_DIR

extern "C" {
#include <z80ex/z80ex.h>
}

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Machine {
  std::vector<uint8_t> mem = std::vector<uint8_t>(65536, 0);
  std::string console;
  std::string fault;
};

Z80EX_BYTE MemRead(Z80EX_CONTEXT*, Z80EX_WORD addr, int, void* data) {
  return static_cast<Machine*>(data)->mem[addr];
}
void MemWrite(Z80EX_CONTEXT*, Z80EX_WORD addr, Z80EX_BYTE value, void* data) {
  static_cast<Machine*>(data)->mem[addr] = value;
}
Z80EX_BYTE PortRead(Z80EX_CONTEXT*, Z80EX_WORD, void*) { return 0xFF; }
void PortWrite(Z80EX_CONTEXT*, Z80EX_WORD, Z80EX_BYTE, void*) {}
Z80EX_BYTE IntRead(Z80EX_CONTEXT*, void*) { return 0xFF; }

constexpr long kStepLimit = 2000000;

// Runs the image; returns false with m.fault set when the program does not
// come back to the warm boot properly.
bool RunImage(Machine& m, const std::string& image) {
  if (image.empty() || image.size() > 0xFD00 - 0x100) {
    m.fault = "image size " + std::to_string(image.size());
    return false;
  }
  for (size_t i = 0; i < image.size(); ++i) m.mem[0x100 + i] = static_cast<uint8_t>(image[i]);
  m.mem[0x0000] = 0x76;  // HALT at the warm boot: never executed, PC 0 stops first
  m.mem[0x0005] = 0xC9;  // RET at the BDOS entry (trapped before it runs)
  Z80EX_CONTEXT* cpu = z80ex_create(MemRead, &m, MemWrite, &m, PortRead, &m, PortWrite, &m, IntRead, &m);
  z80ex_set_reg(cpu, regPC, 0x0100);
  z80ex_set_reg(cpu, regSP, 0xFFFE);
  m.mem[0xFFFE] = 0x00;
  m.mem[0xFFFF] = 0x00;

  bool ok = false;
  long steps = 0;
  for (; steps < kStepLimit; ++steps) {
    z80ex_step(cpu);
    if (z80ex_last_op_type(cpu) != 0) continue;  // inside a prefixed instruction
    const Z80EX_WORD pc = z80ex_get_reg(cpu, regPC);
    if (pc == 0x0000) {
      ok = true;
      break;
    }
    if (z80ex_doing_halt(cpu)) {
      m.fault = "HALT reached";
      break;
    }
    if (pc == 0x0005) {
      const int fn = z80ex_get_reg(cpu, regBC) & 0xFF;
      const Z80EX_WORD de = z80ex_get_reg(cpu, regDE);
      if (fn == 2) {
        m.console += static_cast<char>(de & 0xFF);
      } else if (fn == 9) {
        Z80EX_WORD a = de;
        int n = 0;
        while (m.mem[a] != '$' && n < 65536) {
          m.console += static_cast<char>(m.mem[a]);
          a = static_cast<Z80EX_WORD>(a + 1);
          ++n;
        }
        if (n == 65536) {
          m.fault = "BDOS 9 string without '$'";
          break;
        }
      } else {
        m.fault = "unexpected BDOS function " + std::to_string(fn);
        break;
      }
      // Return to the caller as the RET at 0005H would.
      const Z80EX_WORD sp = z80ex_get_reg(cpu, regSP);
      const Z80EX_WORD ret = static_cast<Z80EX_WORD>(m.mem[sp] | (m.mem[static_cast<Z80EX_WORD>(sp + 1)] << 8));
      z80ex_set_reg(cpu, regSP, static_cast<Z80EX_WORD>(sp + 2));
      z80ex_set_reg(cpu, regPC, ret);
      if (ret == 0x0000) {
        ok = true;
        break;
      }
    }
  }
  if (!ok && m.fault.empty()) m.fault = "no warm boot after " + std::to_string(kStepLimit) + " steps";
  if (ok && z80ex_get_reg(cpu, regSP) != 0x0000) {
    // RET from the entry pops the 0000H pushed at FFFEH: SP wraps to 0000H.
    m.fault = "stack not balanced at the warm boot: SP " + std::to_string(z80ex_get_reg(cpu, regSP));
    ok = false;
  }
  z80ex_destroy(cpu);
  return ok;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string Visible(const std::string& s) {
  std::string o;
  for (unsigned char c : s) {
    if (c == '\r')
      o += "\\r";
    else if (c == '\n')
      o += "\\n\n      ";
    else if (c < 32 || c > 126) {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      o += b;
    } else
      o += static_cast<char>(c);
  }
  return o;
}

struct Example {
  const char* file;
  const char* expected;  // the console output, worked out from the source
};

const Example kExamples[] = {
    {"hello.z80", "HELLO, WORLD!\r\n"},
    {"items.z80",
     "A 3 X 250 = 750\r\n"
     "B 12 X 1005 = 12060\r\n"
     "C 1 X 40000 = 40000\r\n"
     "D 200 X 7 = 1400\r\n"
     "TOTAL = 54210\r\n"},
    {"bits.z80",
     "00 00000000 0 ZERO\r\n"
     "01 00000001 1 ODD\r\n"
     "A5 10100101 4 ODD\r\n"
     "80 10000000 1\r\n"
     "FF 11111111 8 ODD\r\n"
     "0F 00001111 4 ODD\r\n"
     "3C 00111100 4\r\n"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: cpm_run ORVANE_ASM EXAMPLES_DIR\n";
    return 2;
  }
  const std::string orvane = argv[1], examples = argv[2];
  char tmpl[] = "/tmp/orvane-cpu-XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = tmpl;

  int passed = 0, failed = 0;
  std::set<std::string> known;
  for (const Example& ex : kExamples) {
    known.insert(ex.file);
    const std::string name = std::string(ex.file).substr(0, std::string(ex.file).size() - 4);
    const std::string src = dir + "/" + ex.file, com = dir + "/" + name + ".com";
    const std::string cmd = "cp " + Quote(examples + "/" + ex.file) + " " + Quote(src) + " && " + Quote(orvane) +
                            " --cpm -o " + Quote(com) + " -l " + Quote(dir + "/" + name + ".LST") + " " + Quote(src) +
                            " >/dev/null 2>" + Quote(dir + "/" + name + ".err");
    const int rc = std::system(cmd.c_str());
    if (rc == -1 || !WIFEXITED(rc) || WEXITSTATUS(rc) != 0) {
      std::cout << "FAIL " << ex.file << ": orvane-asm reported errors:\n" << ReadFile(dir + "/" + name + ".err");
      ++failed;
      continue;
    }
    Machine m;
    const bool ok = RunImage(m, ReadFile(com));
    if (!ok || m.console != ex.expected) {
      std::cout << "FAIL " << ex.file << (ok ? "" : ": " + m.fault) << "\n"
                << "  expected: " << Visible(ex.expected) << "\n"
                << "  printed:  " << Visible(m.console) << "\n";
      ++failed;
      continue;
    }
    std::cout << "ok   " << ex.file << " (" << m.console.size() << " characters printed)\n";
    ++passed;
  }

  // Every example program must have its expected output here.
  if (DIR* d = opendir(examples.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string f = e->d_name;
      if (f.size() > 4 && f.substr(f.size() - 4) == ".z80" && !known.count(f)) {
        std::cout << "FAIL " << f << ": no expected output in the CPU test\n";
        ++failed;
      }
    }
    closedir(d);
  }

  std::system(("rm -rf " + Quote(dir)).c_str());
  std::cout << "ran " << passed + failed << " example programs on the Z80\n";
  std::cout << passed << " passed, " << failed << " failed\n";
  return failed == 0 ? 0 : 1;
}
