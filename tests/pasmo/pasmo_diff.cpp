// Differential test of the instruction encoder against pasmo.
//
// Every valid instruction form the assembler accepts is written twice: once in
// Orvane's source language and once in pasmo's. Both sources are assembled and
// the object bytes compared in two layouts:
//
//  1. Slots (Intel HEX): each form sits at its own ORG, followed by the two
//     marker bytes A5 5A, with a gap before the next slot. Both images are
//     compared over every slot window, so a wrong byte or a wrong length shows
//     up in exactly one form and does not shift the forms after it. pasmo's
//     own length of each form comes from a label after the form in its symbol
//     file.
//  2. Contiguous (CP/M image): the same forms one after another from 0x0100,
//     compared byte for byte against pasmo's binary; the first difference is
//     mapped back to its form through pasmo's lengths.
//
// Relative jumps are built as small blocks with a label at the far end of the
// range (-128 and +127), filled with a quoted text in between.
//
// Usage: pasmo_diff ORVANE_ASM PASMO
// Exit status 0 when every form agrees; 1 otherwise (also when pasmo cannot
// be run: the comparison is a required test, not an optional one).

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Text {
  std::string orv;  // Orvane lines, '\n'-separated
  std::string pas;  // pasmo lines, '\n'-separated
};

struct Form {
  std::function<Text(uint32_t addr)> make;  // source text for a form at addr
  int maxLen;                               // upper bound of its object length
};

std::vector<Form> forms;

void Add(const std::string& orv, const std::string& pas, int maxLen = 4) {
  forms.push_back({[orv, pas](uint32_t) { return Text{orv, pas}; }, maxLen});
}
void AddAt(std::function<Text(uint32_t)> make, int maxLen) { forms.push_back({std::move(make), maxLen}); }

// An instruction line in each language.
std::string I(const std::string& s) { return "        " + s; }

std::string Fmt(const char* f, long v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}

struct Val {
  std::string orv, pas;
};

// A number written in decimal, &H and &O for Orvane; pasmo gets decimal,
// trailing-H hex and (for variety) '#' hex.
std::vector<Val> Radixes(long v) {
  return {{Fmt("%ld", v), Fmt("%ld", v)},
          {Fmt("&H%lX", v), Fmt("0%lXh", v)},
          {Fmt("&O%lo", v), Fmt("#%lX", v)}};
}

std::vector<Val> ByteValues() {
  std::vector<Val> out;
  for (long v : {0L, 1L, 127L, 128L, 255L})
    for (auto& r : Radixes(v)) out.push_back(r);
  return out;
}

std::vector<Val> WordValues() {
  std::vector<Val> out;
  for (long v : {0L, 255L, 256L, 32767L, 32768L, 65535L})
    for (auto& r : Radixes(v)) out.push_back(r);
  return out;
}

// Displacements of an indexed operand; X is "IX" or "IY".
std::vector<Val> Indexed(const std::string& X, bool all = true) {
  std::string x = X == "IX" ? "ix" : "iy";
  std::vector<Val> out = {
      {"(" + X + ")", "(" + x + ")"},
      {"(" + X + "+0)", "(" + x + "+0)"},
      {"(" + X + "+1)", "(" + x + "+1)"},
      {"(" + X + "+127)", "(" + x + "+127)"},
      {"(" + X + "+128)", "(" + x + "-128)"},
      {"(" + X + "+255)", "(" + x + "-1)"},
      {"(" + X + "-5)", "(" + x + "-5)"},
  };
  if (all) {
    out.push_back({"(" + X + "-1)", "(" + x + "-1)"});
    out.push_back({"(" + X + "-128)", "(" + x + "-128)"});
    out.push_back({"(" + X + "+&H7F)", "(" + x + "+7Fh)"});
    out.push_back({"(" + X + "+&O200)", "(" + x + "-128)"});
    out.push_back({"(" + X + "+&HFF)", "(" + x + "-1)"});
    out.push_back({"(" + X + "+DISP)", "(" + x + "+DISP)"});
  }
  return out;
}

const std::vector<std::string> kR8 = {"B", "C", "D", "E", "H", "L", "(HL)", "A"};
const std::vector<std::string> kCond = {"NZ", "Z", "NC", "C", "PO", "PE", "P", "M"};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The same operand text in pasmo (registers are spelled alike).
std::string P(const std::string& s) { return Lower(s); }

void GenFixedAndEx() {
  for (const char* m : {"NOP", "RLCA", "RRCA", "RLA", "RRA", "DAA", "CPL", "SCF", "CCF", "HALT", "EXX", "DI",
                        "EI", "NEG", "RETN", "RETI", "RRD", "RLD", "LDI", "CPI", "INI", "OUTI", "LDD", "CPD",
                        "IND", "OUTD", "LDIR", "CPIR", "INIR", "OTIR", "LDDR", "CPDR", "INDR", "OTDR"})
    Add(I(m), I(P(m)));
  Add(I("EX AF,AF'"), I("ex af,af'"));
  Add(I("EX (SP),HL"), I("ex (sp),hl"));
  Add(I("EX (SP),IX"), I("ex (sp),ix"));
  Add(I("EX (SP),IY"), I("ex (sp),iy"));
  Add(I("EX DE,HL"), I("ex de,hl"));
}

void GenLd() {
  for (size_t r = 0; r < 8; ++r)
    for (size_t s = 0; s < 8; ++s)
      if (!(r == 6 && s == 6)) Add(I("LD " + kR8[r] + "," + kR8[s]), I("ld " + P(kR8[r]) + "," + P(kR8[s])));
  for (auto& r : kR8)
    for (auto& v : ByteValues()) Add(I("LD " + r + "," + v.orv), I("ld " + P(r) + "," + v.pas));
  for (auto& v : WordValues()) {
    Add(I("LD A,(" + v.orv + ")"), I("ld a,(" + v.pas + ")"));
    Add(I("LD (" + v.orv + "),A"), I("ld (" + v.pas + "),a"));
  }
  Add(I("LD A,I"), I("ld a,i"));
  Add(I("LD A,R"), I("ld a,r"));
  Add(I("LD I,A"), I("ld i,a"));
  Add(I("LD R,A"), I("ld r,a"));
  Add(I("LD A,(BC)"), I("ld a,(bc)"));
  Add(I("LD A,(DE)"), I("ld a,(de)"));
  Add(I("LD (BC),A"), I("ld (bc),a"));
  Add(I("LD (DE),A"), I("ld (de),a"));
  for (const std::string X : {"IX", "IY"}) {
    for (auto& d : Indexed(X))
      for (auto& r : kR8) {
        if (r == "(HL)") continue;
        Add(I("LD " + r + "," + d.orv), I("ld " + P(r) + "," + d.pas));
        Add(I("LD " + d.orv + "," + r), I("ld " + d.pas + "," + P(r)));
      }
    for (auto& d : Indexed(X))
      for (auto& v : ByteValues()) {
        if (v.orv[0] == '&' && d.orv.size() > 5) continue;  // radixes of n only with (IX)
        Add(I("LD " + d.orv + "," + v.orv), I("ld " + d.pas + "," + v.pas));
      }
  }
  for (const std::string rr : {"BC", "DE", "HL", "SP", "IX", "IY"})
    for (auto& v : WordValues()) {
      Add(I("LD " + rr + "," + v.orv), I("ld " + P(rr) + "," + v.pas));
      Add(I("LD " + rr + ",(" + v.orv + ")"), I("ld " + P(rr) + ",(" + v.pas + ")"));
      Add(I("LD (" + v.orv + ")," + rr), I("ld (" + v.pas + ")," + P(rr)));
    }
  Add(I("LD SP,HL"), I("ld sp,hl"));
  Add(I("LD SP,IX"), I("ld sp,ix"));
  Add(I("LD SP,IY"), I("ld sp,iy"));
}

void GenArith() {
  struct M {
    const char* name;
    bool acc;  // written with "A," before the source
  };
  for (M m : {M{"ADD", true}, M{"ADC", true}, M{"SUB", false}, M{"SBC", true}, M{"AND", false},
              M{"XOR", false}, M{"OR", false}, M{"CP", false}}) {
    std::string o = std::string(m.name) + " " + (m.acc ? "A," : "");
    std::string p = Lower(m.name) + " " + (m.acc ? "a," : "");
    for (auto& r : kR8) Add(I(o + r), I(p + P(r)));
    for (auto& v : ByteValues()) Add(I(o + v.orv), I(p + v.pas));
    for (const std::string X : {"IX", "IY"})
      for (auto& d : Indexed(X)) Add(I(o + d.orv), I(p + d.pas));
  }
  for (const std::string s : {"BC", "DE", "HL", "SP"}) {
    Add(I("ADD HL," + s), I("add hl," + P(s)));
    Add(I("ADC HL," + s), I("adc hl," + P(s)));
    Add(I("SBC HL," + s), I("sbc hl," + P(s)));
  }
  for (const std::string X : {"IX", "IY"})
    for (const std::string& s : std::vector<std::string>{"BC", "DE", X, "SP"}) Add(I("ADD " + X + "," + s), I("add " + P(X) + "," + P(s)));
  for (const std::string m : {"INC", "DEC"}) {
    for (const std::string r : {"B", "C", "D", "E", "H", "L", "(HL)", "A", "BC", "DE", "HL", "SP", "IX", "IY"})
      Add(I(m + " " + r), I(P(m) + " " + P(r)));
    for (const std::string X : {"IX", "IY"})
      for (auto& d : Indexed(X)) Add(I(m + " " + d.orv), I(P(m) + " " + d.pas));
  }
}

void GenCb() {
  for (const std::string m : {"RLC", "RRC", "RL", "RR", "SLA", "SRA", "SRL"}) {
    for (auto& r : kR8) Add(I(m + " " + r), I(P(m) + " " + P(r)));
    for (const std::string X : {"IX", "IY"})
      for (auto& d : Indexed(X)) Add(I(m + " " + d.orv), I(P(m) + " " + d.pas));
  }
  for (const std::string m : {"BIT", "RES", "SET"})
    for (int b = 0; b < 8; ++b) {
      std::string bs = std::to_string(b);
      for (auto& r : kR8) Add(I(m + " " + bs + "," + r), I(P(m) + " " + bs + "," + P(r)));
      for (const std::string X : {"IX", "IY"})
        for (auto& d : Indexed(X, false)) Add(I(m + " " + bs + "," + d.orv), I(P(m) + " " + bs + "," + d.pas));
    }
}

void GenStackAndJumps() {
  for (const std::string m : {"PUSH", "POP"})
    for (const std::string rr : {"BC", "DE", "HL", "AF", "IX", "IY"}) Add(I(m + " " + rr), I(P(m) + " " + P(rr)));
  Add(I("RET"), I("ret"));
  for (auto& c : kCond) Add(I("RET " + c), I("ret " + P(c)));
  for (auto& v : WordValues()) {
    Add(I("JP " + v.orv), I("jp " + v.pas));
    Add(I("CALL " + v.orv), I("call " + v.pas));
  }
  for (auto& c : kCond)
    for (long v : {0L, 255L, 256L, 32767L, 32768L, 65535L}) {
      std::string n = std::to_string(v);
      Add(I("JP " + c + "," + n), I("jp " + P(c) + "," + n));
      Add(I("CALL " + c + "," + n), I("call " + P(c) + "," + n));
    }
  for (auto& c : kCond) {
    Add(I("JP " + c + ",&H1234"), I("jp " + P(c) + ",1234h"));
    Add(I("CALL " + c + ",&O177777"), I("call " + P(c) + ",0FFFFh"));
    Add(I("JP " + c + ",$+6"), I("jp " + P(c) + ",$+6"));
    Add(I("CALL " + c + ",SYMB"), I("call " + P(c) + ",SYMB"));
  }
  // JP reads "$+n" as the address PC+n, like pasmo.
  for (const std::string t : {"$", "$+3", "$+6", "$+127", "$+1000", "$-3", "$-200"})
    Add(I("JP " + t), I("jp " + t));
  Add(I("JP (HL)"), I("jp (hl)"));
  Add(I("JP (IX)"), I("jp (ix)"));
  Add(I("JP (IY)"), I("jp (iy)"));
  for (int r = 0; r < 8; ++r) Add(I("RST " + std::to_string(r * 8)), I("rst " + Fmt("0%02lXh", r * 8)));
}

// Relative jumps: JR, JR cc (NZ Z NC C) and DJNZ.
void GenRelative() {
  const std::vector<std::pair<std::string, std::string>> heads = {
      {"JR ", "jr "}, {"JR NZ,", "jr nz,"}, {"JR Z,", "jr z,"}, {"JR NC,", "jr nc,"}, {"JR C,", "jr c,"},
      {"DJNZ ", "djnz "}};
  const std::string fill126(126, 'Q'), fill127(127, 'Q');
  for (auto& h : heads) {
    const size_t id = forms.size();
    // Back to the far end of the range: displacement -128.
    {
      std::string L = "JB" + std::to_string(id);
      Add(L + ":\n" + I("DS '" + fill126 + "'") + "\n" + I(h.first + L),
          L + ":\n" + I("defm \"" + fill126 + "\"") + "\n" + I(h.second + L), 130);
    }
    // Forward to the far end: +127.
    {
      std::string L = "JF" + std::to_string(id);
      Add(I(h.first + L) + "\n" + I("DS '" + fill127 + "'") + "\n" + L + ":",
          I(h.second + L) + "\n" + I("defm \"" + fill127 + "\"") + "\n" + L + ":", 131);
    }
    // To itself (-2) and to the next statement (0); the label on the jump line.
    {
      std::string L = "JS" + std::to_string(id);
      Add(L + ": " + h.first + L, L + ": " + h.second + L, 2);
      std::string N = "JN" + std::to_string(id);
      Add(I(h.first + N) + "\n" + N + ":", I(h.second + N) + "\n" + N + ":", 2);
    }
    // A numeric target is an address.
    for (long k : {-128L, -2L, 0L, 5L, 127L}) {
      AddAt(
          [h, k](uint32_t a) {
            long t = static_cast<long>(a) + 2 + k;
            return Text{I(h.first + std::to_string(t)), I(h.second + std::to_string(t))};
          },
          2);
    }
    AddAt(
        [h](uint32_t a) {
          long t = static_cast<long>(a) + 2 + 100;
          return Text{I(h.first + Fmt("&H%lX", t)), I(h.second + Fmt("0%lXh", t))};
        },
        2);
    // "$+n"/"$-n" is the displacement itself; pasmo's "$" is the jump's address.
    for (long d : {0L, 1L, 5L, 127L}) Add(I(h.first + "$+" + std::to_string(d)), I(h.second + Fmt("$%+ld", d + 2)), 2);
    for (long d : {1L, 2L, 5L, 128L}) Add(I(h.first + "$-" + std::to_string(d)), I(h.second + Fmt("$%+ld", 2 - d)), 2);
    Add(I(h.first + "$"), I(h.second + "$+2"), 2);
  }
}

void GenIo() {
  Add(I("IM 0"), I("im 0"));
  Add(I("IM 1"), I("im 1"));
  Add(I("IM 2"), I("im 2"));
  for (auto& r : kR8) {
    if (r == "(HL)") continue;
    Add(I("IN " + r + ",(C)"), I("in " + P(r) + ",(c)"));
    Add(I("OUT (C)," + r), I("out (c)," + P(r)));
  }
  for (auto& v : ByteValues()) {
    Add(I("IN A,(" + v.orv + ")"), I("in a,(" + v.pas + ")"));
    Add(I("OUT (" + v.orv + "),A"), I("out (" + v.pas + "),a"));
  }
  Add(I("IN A,(PORT)"), I("in a,(PORT)"));
  Add(I("OUT (PORT),A"), I("out (PORT),a"));
}

void GenDataAndSymbols() {
  for (auto& v : ByteValues()) {
    Add(I("DB " + v.orv), I("defb " + v.pas));
    Add(I("DEFB " + v.orv), I("defb " + v.pas));
  }
  Add(I("DB 'A'"), I("defb 'A'"));
  Add(I("DB '$"), I("defb '$'"));
  Add(I("DB 'z'"), I("defb 'Z'"));
  for (auto& v : WordValues()) {
    Add(I("DW " + v.orv), I("defw " + v.pas));
    Add(I("DEFW " + v.orv), I("defw " + v.pas));
  }
  Add(I("DS 'HELLO'"), I("defm \"HELLO\""), 8);
  Add(I("DEFS 'Hello.World!'"), I("defm \"HELLO.WORLD!\""), 14);
  Add(I("DS \"AB\""), I("defm \"AB\""), 4);
  // Symbols defined by EQU and "=", and labels.
  Add(I("LD A,SYMS"), I("ld a,SYMS"));
  Add(I("LD HL,SYMB"), I("ld hl,SYMB"));
  Add(I("LD BC,SYMQ"), I("ld bc,SYMQ"));
  Add(I("LD (SYMB),A"), I("ld (SYMB),a"));
  Add(I("LD DE,(SYMB)"), I("ld de,(SYMB)"));
  Add(I("JP SYMB"), I("jp SYMB"));
  Add(I("CALL SYMB"), I("call SYMB"));
  Add(I("DW SYMB"), I("defw SYMB"));
  Add(I("DB SYMS"), I("defb SYMS"));
  Add(I("CP SYMS"), I("cp SYMS"));
  {
    std::string L = "LB" + std::to_string(forms.size());
    Add(L + ":  LD HL," + L, L + ": ld hl," + L);
    L = "LC" + std::to_string(forms.size());
    Add(I("CALL " + L) + "\n" + L + " JP " + L, I("call " + L) + "\n" + L + ": jp " + L, 6);
  }
  // Spelling: lower case, tabs, comments, blanks around the comma.
  Add("\tld\ta,(ix+5)\t; load", I("ld a,(ix+5)"));
  Add("        ld b , c", I("ld b,c"));
  Add("        Set 3,(Iy-2) ;comment", I("set 3,(iy-2)"));
  Add("        ex af,af'", I("ex af,af'"));
  Add("        jp nz,&h1234;go", I("jp nz,1234h"));
  Add("        djnz $-2", I("djnz $"), 2);
  Add("        ADD A, &O17", I("add a,15"));
  Add("        LD (HL), 5", I("ld (hl),5"));
}

// ---------------------------------------------------------------------------

const char* kHeaderOrv =
    "SYMB EQU 4660\n"
    "SYMS EQU 200\n"
    "SYMQ = 77\n"
    "DISP EQU 16\n"
    "PORT EQU &H10\n";
const char* kHeaderPas =
    "SYMB equ 4660\n"
    "SYMS equ 200\n"
    "SYMQ equ 77\n"
    "DISP equ 16\n"
    "PORT equ 10h\n";

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

int Run(const std::string& cmd) {
  int rc = std::system(cmd.c_str());
  if (rc == -1) return -1;
  if (WIFEXITED(rc)) return WEXITSTATUS(rc);
  return -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

// Reads an Intel HEX file into a 64K image; later records win. Returns false
// and explains on a malformed line or a bad checksum.
bool ParseHex(const std::string& text, std::vector<uint8_t>& mem, std::string& why) {
  mem.assign(65536 + 256, 0);
  std::istringstream in(text);
  std::string line;
  int n = 0;
  auto hex = [](const std::string& s, size_t i) -> int {
    auto d = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      return -1;
    };
    if (i + 1 >= s.size()) return -1;
    int hi = d(s[i]), lo = d(s[i + 1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
  };
  while (std::getline(in, line)) {
    ++n;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line[0] != ':' || line.size() < 11) {
      why = "line " + std::to_string(n) + " is no record: " + line;
      return false;
    }
    int len = hex(line, 1);
    if (len < 0 || line.size() != static_cast<size_t>(11 + 2 * len)) {
      why = "line " + std::to_string(n) + " has a wrong length: " + line;
      return false;
    }
    int sum = 0;
    std::vector<int> bytes;
    for (int i = 0; i < len + 5; ++i) {
      int b = hex(line, 1 + 2 * static_cast<size_t>(i));
      if (b < 0) {
        why = "line " + std::to_string(n) + " has a bad digit: " + line;
        return false;
      }
      sum += b;
      bytes.push_back(b);
    }
    if ((sum & 255) != 0) {
      why = "line " + std::to_string(n) + " has a bad checksum: " + line;
      return false;
    }
    int addr = bytes[1] * 256 + bytes[2];
    int type = bytes[3];
    if (type == 1) break;
    if (type != 0) continue;
    for (int i = 0; i < len; ++i) mem[static_cast<size_t>(addr + i) & 0xFFFF] = static_cast<uint8_t>(bytes[4 + i]);
  }
  return true;
}

std::map<std::string, long> ParseSymbols(const std::string& text) {
  // "NAME<tabs>EQU 0ABCDH"
  std::map<std::string, long> out;
  std::istringstream in(text);
  std::string name, equ, val;
  while (in >> name >> equ >> val) {
    if (!val.empty() && (val.back() == 'H' || val.back() == 'h')) val.pop_back();
    out[name] = std::strtol(val.c_str(), nullptr, 16);
  }
  return out;
}

std::string HexBytes(const std::vector<uint8_t>& m, long from, long n) {
  std::string s;
  for (long i = 0; i < n; ++i) s += (i ? " " : "") + Fmt("%02lX", m[static_cast<size_t>(from + i)]);
  return s;
}

std::string OneLine(const std::string& s) {
  std::string o;
  for (char c : s) {
    if (c == '\n')
      o += " | ";
    else if (c == '\t')
      o += ' ';
    else
      o += c;
  }
  // Collapse runs of blanks so the report stays readable.
  std::string r;
  for (char c : o)
    if (!(c == ' ' && !r.empty() && r.back() == ' ')) r += c;
  return r;
}

// Collects "SOURCE:LINE: error: MESSAGE" lines by line number.
std::map<int, std::vector<std::string>> ParseMessages(const std::string& err) {
  std::map<int, std::vector<std::string>> out;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    size_t e = line.find(": error: ");
    if (e == std::string::npos) continue;
    size_t c = line.rfind(':', e - 1);
    if (c == std::string::npos) continue;
    int ln = std::atoi(line.substr(c + 1, e - c - 1).c_str());
    out[ln].push_back(line.substr(e + 9));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: pasmo_diff ORVANE_ASM PASMO\n";
    return 2;
  }
  const std::string orvane = argv[1], pasmo = argv[2];

  GenFixedAndEx();
  GenLd();
  GenArith();
  GenCb();
  GenStackAndJumps();
  GenRelative();
  GenIo();
  GenDataAndSymbols();
  const size_t nForms = forms.size();

  if (Run(Quote(pasmo) + " >/dev/null 2>&1") == 127 || access(pasmo.c_str(), X_OK) != 0) {
    std::cerr << "FAIL: pasmo is not available at " << pasmo << " (scripts/deps installs it)\n";
    return 1;
  }

  char tmpl[] = "/tmp/orvane-pasmo-XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = tmpl;

  // ---- Layout 1: one slot per form, Intel HEX ----------------------------
  std::vector<uint32_t> slot(nForms);
  std::vector<Text> text(nForms);
  std::vector<std::pair<int, int>> orvLines(nForms);  // first and last source line
  std::string orvSrc = kHeaderOrv, pasSrc = kHeaderPas;
  int line = 5;
  uint32_t addr = 0x0200;
  auto countLines = [](const std::string& s) { return 1 + static_cast<int>(std::count(s.begin(), s.end(), '\n')); };
  for (size_t i = 0; i < nForms; ++i) {
    slot[i] = addr;
    text[i] = forms[i].make(addr);
    orvSrc += I("ORG " + std::to_string(addr)) + "\n" + text[i].orv + "\n" + I("DB &HA5") + "\n" + I("DB 90") + "\n";
    orvLines[i] = {line + 2, line + 1 + countLines(text[i].orv)};
    line += 3 + countLines(text[i].orv);
    pasSrc += I("org " + std::to_string(addr)) + "\n" + text[i].pas + "\nPE" + std::to_string(i) +
              ":\n" + I("defb 0A5h") + "\n" + I("defb 5Ah") + "\n";
    addr += static_cast<uint32_t>(forms[i].maxLen) + 4;
  }
  if (addr > 0xFFF0) {
    std::cerr << "FAIL: the forms do not fit into 64K (" << addr << ")\n";
    return 1;
  }
  orvSrc += I("END") + "\n";
  pasSrc += I("end") + "\n";
  WriteFile(dir + "/slots.z80", orvSrc);
  WriteFile(dir + "/slots.asm", pasSrc);

  int prc = Run(Quote(pasmo) + " --hex " + Quote(dir + "/slots.asm") + " " + Quote(dir + "/slots.phx") + " " +
                Quote(dir + "/slots.sym") + " >" + Quote(dir + "/pasmo.out") + " 2>&1");
  if (prc != 0) {
    std::cerr << "FAIL: pasmo rejected the translated source (" << prc << "):\n"
              << ReadFile(dir + "/pasmo.out") << "sources kept in " << dir << "\n";
    return 1;
  }
  int orc = Run(Quote(orvane) + " --hex -l " + Quote(dir + "/slots.LST") + " -o " + Quote(dir + "/slots.HEX") + " " +
                Quote(dir + "/slots.z80") + " >/dev/null 2>" + Quote(dir + "/slots.err"));
  if (orc != 0 && orc != 1) {
    std::cerr << "FAIL: orvane-asm exit status " << orc << ":\n" << ReadFile(dir + "/slots.err");
    return 1;
  }
  auto messages = ParseMessages(ReadFile(dir + "/slots.err"));

  std::vector<uint8_t> orvMem, pasMem;
  std::string why;
  if (!ParseHex(ReadFile(dir + "/slots.HEX"), orvMem, why)) {
    std::cerr << "FAIL: orvane-asm's HEX file: " << why << "\n";
    return 1;
  }
  if (!ParseHex(ReadFile(dir + "/slots.phx"), pasMem, why)) {
    std::cerr << "FAIL: pasmo's HEX file: " << why << "\n";
    return 1;
  }
  auto syms = ParseSymbols(ReadFile(dir + "/slots.sym"));

  std::vector<long> pasLen(nForms);
  int failures = 0;
  for (size_t i = 0; i < nForms; ++i) {
    auto it = syms.find("PE" + std::to_string(i));
    if (it == syms.end()) {
      std::cerr << "FAIL: no end label for form " << i << " in pasmo's symbols\n";
      return 1;
    }
    const long len = it->second - static_cast<long>(slot[i]);
    pasLen[i] = len;
    const long window = forms[i].maxLen + 4;
    bool same = len <= forms[i].maxLen;
    for (long k = 0; k < window && same; ++k)
      same = orvMem[slot[i] + static_cast<size_t>(k)] == pasMem[slot[i] + static_cast<size_t>(k)];
    std::vector<std::string> msgs;
    for (int l = orvLines[i].first; l <= orvLines[i].second; ++l)
      if (messages.count(l)) msgs.insert(msgs.end(), messages[l].begin(), messages[l].end());
    if (same && msgs.empty()) continue;
    if (++failures <= 60) {
      long orvLen = -1;
      for (long k = 0; k + 1 < window; ++k)
        if (orvMem[slot[i] + static_cast<size_t>(k)] == 0xA5 && orvMem[slot[i] + static_cast<size_t>(k) + 1] == 0x5A) {
          orvLen = k;
          break;
        }
      const long shown = len > 16 ? 0 : len;
      std::cerr << "DIFF form " << i << ": \"" << OneLine(text[i].orv) << "\"  (pasmo: \"" << OneLine(text[i].pas)
                << "\")\n";
      if (len > 16) {
        // Long blocks: show where they first differ.
        long k = 0;
        while (k < window && orvMem[slot[i] + static_cast<size_t>(k)] == pasMem[slot[i] + static_cast<size_t>(k)]) ++k;
        std::cerr << "    first difference at byte " << k << " of " << len << ": ours "
                  << HexBytes(orvMem, slot[i] + k, 4) << ", pasmo " << HexBytes(pasMem, slot[i] + k, 4) << "\n";
      } else {
        std::cerr << "    ours:  " << (orvLen >= 0 ? HexBytes(orvMem, slot[i], orvLen) : HexBytes(orvMem, slot[i], 6))
                  << "  (length " << orvLen << ")\n"
                  << "    pasmo: " << HexBytes(pasMem, slot[i], shown) << "  (length " << len << ")\n";
      }
      for (auto& m : msgs) std::cerr << "    message: " << m << "\n";
    }
  }

  // ---- Layout 2: all forms one after another, CP/M image -----------------
  std::string orvC = kHeaderOrv, pasC = std::string(kHeaderPas) + I("org 100h") + "\n";
  long caddr = 0x100;
  std::vector<long> cstart(nForms);
  for (size_t i = 0; i < nForms; ++i) {
    cstart[i] = caddr;
    Text t = forms[i].make(static_cast<uint32_t>(caddr));
    orvC += t.orv + "\n";
    pasC += t.pas + "\n";
    caddr += pasLen[i];
  }
  orvC += I("END") + "\n";
  pasC += I("end") + "\n";
  WriteFile(dir + "/all.z80", orvC);
  WriteFile(dir + "/all.asm", pasC);
  prc = Run(Quote(pasmo) + " --bin " + Quote(dir + "/all.asm") + " " + Quote(dir + "/all.bin") + " >" +
            Quote(dir + "/pasmo2.out") + " 2>&1");
  if (prc != 0) {
    std::cerr << "FAIL: pasmo rejected the contiguous source:\n" << ReadFile(dir + "/pasmo2.out");
    return 1;
  }
  orc = Run(Quote(orvane) + " --cpm -l " + Quote(dir + "/all.LST") + " -o " + Quote(dir + "/all.com") + " " +
            Quote(dir + "/all.z80") + " >/dev/null 2>" + Quote(dir + "/all.err"));
  const std::string orvImg = ReadFile(dir + "/all.com"), pasImg = ReadFile(dir + "/all.bin");
  bool imageSame = orvImg == pasImg;
  if (!imageSame) {
    size_t k = 0;
    while (k < orvImg.size() && k < pasImg.size() && orvImg[k] == pasImg[k]) ++k;
    size_t f = 0;
    while (f + 1 < nForms && cstart[f + 1] - 0x100 <= static_cast<long>(k)) ++f;
    std::cerr << "DIFF CP/M image: " << orvImg.size() << " bytes, pasmo " << pasImg.size()
              << " bytes; first difference at offset " << k << " (address " << Fmt("%04lX", 0x100 + static_cast<long>(k))
              << "), form " << f << ": \"" << OneLine(text[f].orv) << "\"\n";
  }

  if (failures > 60) std::cerr << "... and " << failures - 60 << " more differing forms\n";
  std::cout << "compared " << nForms << " forms against pasmo: " << (nForms - static_cast<size_t>(failures))
            << " identical, " << failures << " differing; CP/M image of " << pasImg.size() << " bytes "
            << (imageSame ? "identical" : "DIFFERS") << "\n";
  if (failures == 0 && imageSame) {
    std::string keep = dir;
    std::system(("rm -rf " + Quote(keep)).c_str());
    return 0;
  }
  std::cerr << "sources and outputs kept in " << dir << "\n";
  return 1;
}
