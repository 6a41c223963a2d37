// orvane-bench-gen: writes a large, realistic Z80 program to standard output.
//
//   orvane-bench-gen LINES SEED [--few-labels]
//
// The program is a series of blocks, each starting with "ORG 256" and each
// fitting in 64 KiB, so a million-line program is many CP/M-sized programs one
// after the other. Every block defines its EQU constants first, then code with
// first-column labels ended by a colon; label names are unique over the whole
// program (about 15,000 symbols at most, a tenth of that with --few-labels).
// JP, CALL and 16-bit loads refer to labels anywhere in their block, forward
// references included; JR and DJNZ only to a label at most 100 bytes away
// (where there is none, as often with --few-labels, a two-byte CP stands in).
// Numbers are decimal without leading zeros, and no DS is used, so pasmo and
// binutils' as accept the same text (as one block per run for as, which cannot
// move its origin backwards).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: the same sequence from a seed on every platform.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed) {}
  uint64_t Next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  int Range(int lo, int hi) { return lo + Below(hi - lo + 1); }
  bool Chance(int percent) { return Below(100) < percent; }
  template <typename T, size_t N>
  const T& Pick(const T (&a)[N]) {
    return a[Below(static_cast<int>(N))];
  }

 private:
  uint64_t s_;
};

constexpr const char* kReg8[] = {"B", "C", "D", "E", "H", "L", "(HL)", "A"};
constexpr const char* kReg8Plain[] = {"B", "C", "D", "E", "H", "L", "A"};
constexpr const char* kPairs[] = {"BC", "DE", "HL", "SP"};
constexpr const char* kStackPairs[] = {"BC", "DE", "HL", "AF"};
constexpr const char* kCond[] = {"NZ", "Z", "NC", "C", "PO", "PE", "P", "M"};
constexpr const char* kJrCond[] = {"NZ", "Z", "NC", "C"};
constexpr const char* kIndex[] = {"IX", "IY"};
constexpr const char* kShifts[] = {"RLC", "RRC", "RL", "RR", "SLA", "SRA", "SRL"};
constexpr const char* kBitOps[] = {"BIT", "SET", "RES"};
constexpr const char* kFixed1[] = {"EXX", "SCF", "CCF", "RLCA", "RRCA", "RLA", "RRA", "DAA", "CPL", "DI", "EI", "NOP"};
constexpr const char* kFixed2[] = {"LDIR", "LDDR", "NEG", "CPIR", "LDI", "OTIR", "INIR", "RLD"};
constexpr const char* kLabelWords[] = {"LOOP", "NEXT", "SKIP", "DONE", "INIT", "READ", "SEND", "WAIT",
                                       "CHK", "PUT", "GET", "FILL", "MOVE", "SCAN", "EXIT", "TEST"};
constexpr const char* kEquWords[] = {"PORT", "SIZE", "MASK", "BASE", "CNT", "FLAG", "BUF", "LIM"};
constexpr const char* kCommentWords[] = {"load", "the", "counter", "next", "byte", "from", "buffer", "into",
                                         "save", "flags", "loop", "until", "done", "check", "status", "port",
                                         "pointer", "advance", "clear", "carry", "set", "mode", "table", "entry"};

// One ALU mnemonic and how its register form is written.
struct Alu {
  const char* mnemonic;
  const char* prefix;  // "A," for ADD/ADC/SBC, empty for the others
};
constexpr Alu kAlu[] = {{"ADD", "A,"}, {"ADC", "A,"}, {"SUB", ""}, {"SBC", "A,"},
                        {"AND", ""},   {"XOR", ""},   {"OR", ""},  {"CP", ""}};

constexpr int kEquPerBlock = 8;
constexpr int kBlockLines = 20000;
constexpr int kBlockBytes = 60000;  // a block never grows past 256 + this
constexpr int kRelReach = 100;      // JR and DJNZ targets at most this far

// How a line's operand refers to a label, resolved once addresses are known.
enum class Ref { kNone, kAnyLabel, kNearLabel };

struct Line {
  int32_t addr = 0;
  int size = 0;
  int label = -1;  // label defined on this line (index within the block)
  std::string head;      // mnemonic and operand text up to the label reference
  Ref ref = Ref::kNone;
  std::string tail;      // operand text after the reference
  std::string fallback;  // replaces the whole statement when no label is near
  std::string comment;   // with its ";", or empty
  bool bare = false;     // a line of its own: blank, comment-only or label-only
};

std::string Num(int v) { return std::to_string(v); }

class Generator {
 public:
  Generator(uint64_t seed, bool fewLabels) : rng_(seed), fewLabels_(fewLabels) {}

  void Write(long lines) {
    const long blocks = std::max(1L, (lines + kBlockLines - 1) / kBlockLines);
    long symbols = std::min(15000L, std::max(lines / 8, 16L));
    if (fewLabels_) symbols /= 10;
    long labels = std::max(blocks, symbols - blocks * kEquPerBlock);
    for (long b = 0; b < blocks; ++b) {
      const long blockLines = (lines * (b + 1)) / blocks - (lines * b) / blocks;
      const long blockLabels = (labels * (b + 1)) / blocks - (labels * b) / blocks;
      WriteBlock(static_cast<int>(b), blockLines, static_cast<int>(blockLabels));
    }
    std::fflush(stdout);
  }

 private:
  void WriteBlock(int block, long lines, int labels) {
    out_.clear();
    equNames_.clear();
    Emit("        ORG 256");
    long left = lines - 1;
    const int equs = static_cast<int>(std::min<long>(kEquPerBlock, std::max(0L, left - 1)));
    for (int i = 0; i < equs; ++i) {
      std::string name = std::string(kEquWords[i % 8]) + Num(block * kEquPerBlock + i);
      equNames_.push_back(name);
      std::string line = name;
      line.append(std::max<size_t>(1, 8 - name.size()), ' ');
      line += "EQU " + Num(i % 2 ? rng_.Range(1, 255) : rng_.Range(256, 65535));
      Emit(line);
    }
    left -= equs;
    if (left <= 0) {
      Flush();
      return;
    }
    if (equNames_.empty()) equNames_.push_back("255");

    // Code lines, with labels spread evenly over them.
    code_.assign(static_cast<size_t>(left), Line{});
    labelLine_.assign(static_cast<size_t>(std::max(labels, 1)), 0);
    labelBase_ = nextLabel_;
    const int n = std::max(1, std::min<int>(labels, static_cast<int>(left)));
    for (int i = 0; i < n; ++i) {
      const long at = (left * i) / n;
      code_[static_cast<size_t>(at)].label = i;
      labelLine_[static_cast<size_t>(i)] = static_cast<int>(at);
    }
    labelCount_ = n;
    nextLabel_ += n;

    int32_t pc = 256;
    for (size_t i = 0; i < code_.size(); ++i) {
      Line& l = code_[i];
      l.addr = pc;
      if (pc - 256 > kBlockBytes) {
        l.bare = true;  // too full: the rest of the block holds no code
      } else if (l.label >= 0 ? rng_.Chance(25) : rng_.Chance(6)) {
        l.bare = true;
        if (l.label < 0 && rng_.Chance(80)) l.comment = Comment();
      } else {
        Statement(l);
        if (rng_.Chance(25)) l.comment = Comment();
      }
      pc += l.size;
    }
    for (Line& l : code_) Render(l);
    Flush();
  }

  // Chooses an instruction (or a data directive) for `l`.
  void Statement(Line& l) {
    const int roll = rng_.Below(100);
    const char* r1 = rng_.Pick(kReg8);
    const char* ix = rng_.Pick(kIndex);
    std::string disp = "(";
    disp.append(ix).append("+").append(Num(rng_.Range(0, 127))).append(")");
    auto set = [&](std::string text, int size) {
      l.head = std::move(text);
      l.size = size;
    };
    if (roll < 12) {
      const char* r2 = rng_.Pick(kReg8);
      if (std::strcmp(r1, "(HL)") == 0 && std::strcmp(r2, "(HL)") == 0) r2 = "A";
      set(std::string("LD ") + r1 + "," + r2, 1);
    } else if (roll < 21) {
      set(std::string("LD ") + r1 + "," + Num(rng_.Range(0, 255)), 2);
    } else if (roll < 25) {
      const char* rr = rng_.Pick(kPairs);
      set(std::string("LD ") + rr + "," + (rng_.Chance(50) ? Num(rng_.Range(0, 65535)) : Equ()), 3);
    } else if (roll < 29) {
      set(std::string("LD ") + rng_.Pick(kPairs) + ",", 3);
      l.ref = Ref::kAnyLabel;
    } else if (roll < 33) {
      const std::string mem = "(" + (rng_.Chance(50) ? Equ() : Num(rng_.Range(1, 65535))) + ")";
      switch (rng_.Below(4)) {
        case 0: set("LD A," + mem, 3); break;
        case 1: set("LD " + mem + ",A", 3); break;
        case 2: set("LD HL," + mem, 3); break;
        default: set("LD " + mem + ",HL", 3); break;
      }
    } else if (roll < 39) {
      const char* r = rng_.Pick(kReg8Plain);
      set(rng_.Chance(50) ? std::string("LD ") + r + "," + disp : "LD " + disp + "," + r, 3);
    } else if (roll < 41) {
      set("LD " + disp + "," + Num(rng_.Range(0, 255)), 4);
    } else if (roll < 50) {
      const Alu& a = rng_.Pick(kAlu);
      set(std::string(a.mnemonic) + " " + a.prefix + r1, 1);
    } else if (roll < 56) {
      const Alu& a = rng_.Pick(kAlu);
      set(std::string(a.mnemonic) + " " + a.prefix + Num(rng_.Range(1, 255)), 2);
    } else if (roll < 58) {
      const Alu& a = rng_.Pick(kAlu);
      set(std::string(a.mnemonic) + " " + a.prefix + disp, 3);
    } else if (roll < 63) {
      set(std::string(rng_.Chance(50) ? "INC " : "DEC ") + r1, 1);
    } else if (roll < 66) {
      set(std::string(rng_.Chance(50) ? "INC " : "DEC ") + rng_.Pick(kPairs), 1);
    } else if (roll < 68) {
      set(std::string("ADD HL,") + rng_.Pick(kPairs), 1);
    } else if (roll < 72) {
      if (rng_.Chance(15)) {
        set(std::string(rng_.Chance(50) ? "PUSH " : "POP ") + ix, 2);
      } else {
        set(std::string(rng_.Chance(50) ? "PUSH " : "POP ") + rng_.Pick(kStackPairs), 1);
      }
    } else if (roll < 76) {
      set(rng_.Chance(50) ? "JP " : std::string("JP ") + rng_.Pick(kCond) + ",", 3);
      l.ref = Ref::kAnyLabel;
    } else if (roll < 81) {
      set(rng_.Chance(60) ? "CALL " : std::string("CALL ") + rng_.Pick(kCond) + ",", 3);
      l.ref = Ref::kAnyLabel;
    } else if (roll < 88) {
      const int kind = rng_.Below(7);
      set(kind < 2 ? "JR " : kind < 5 ? std::string("JR ") + rng_.Pick(kJrCond) + "," : "DJNZ ", 2);
      l.ref = Ref::kNearLabel;
      l.fallback = std::string("CP ") + Num(rng_.Range(1, 255));
    } else if (roll < 91) {
      set(rng_.Chance(40) ? "RET" : std::string("RET ") + rng_.Pick(kCond), 1);
    } else if (roll < 93) {
      if (rng_.Chance(50)) {
        set("DB " + Num(rng_.Range(0, 255)), 1);
      } else if (rng_.Chance(50)) {
        set("DW " + Num(rng_.Range(0, 65535)), 2);
      } else {
        set("DW ", 2);
        l.ref = Ref::kAnyLabel;
      }
    } else if (roll < 96) {
      if (rng_.Chance(25)) {
        set(std::string(rng_.Pick(kBitOps)) + " " + Num(rng_.Range(0, 7)) + "," + disp, 4);
      } else if (rng_.Chance(25)) {
        set(std::string(rng_.Pick(kShifts)) + " " + r1, 2);
      } else {
        set(std::string(rng_.Pick(kBitOps)) + " " + Num(rng_.Range(0, 7)) + "," + r1, 2);
      }
    } else if (roll < 98) {
      if (rng_.Chance(60)) {
        set(rng_.Pick(kFixed1), 1);
      } else {
        set(rng_.Pick(kFixed2), 2);
      }
    } else if (roll < 99) {
      set(rng_.Chance(50) ? "OUT (" + Num(rng_.Range(0, 255)) + "),A" : "IN A,(" + Equ8() + ")", 2);
    } else {
      static constexpr const char* kEx[] = {"EX DE,HL", "EX AF,AF'", "EX (SP),HL"};
      set(rng_.Pick(kEx), 1);
    }
  }

  // Fills in the label reference now that every address of the block is known.
  void Render(Line& l) {
    if (l.ref == Ref::kNone || l.bare) return;
    const int self = static_cast<int>(&l - code_.data());
    if (l.ref == Ref::kAnyLabel) {
      // Half of the references point forward when there is a later label.
      const int here = LabelAtOrAfter(self);
      int target;
      if (here < labelCount_ && rng_.Chance(50)) {
        target = rng_.Range(here, labelCount_ - 1);
      } else {
        target = rng_.Below(labelCount_);
      }
      l.head += LabelName(target);
      return;
    }
    // JR/DJNZ: the nearest label in address whose displacement fits easily.
    const int32_t from = l.addr + 2;
    int best = -1;
    int32_t bestDist = kRelReach + 1;
    const int k = LabelAtOrAfter(self);
    for (int c : {k - 2, k - 1, k, k + 1}) {
      if (c < 0 || c >= labelCount_) continue;
      const int32_t dist = std::abs(code_[static_cast<size_t>(labelLine_[static_cast<size_t>(c)])].addr - from);
      if (dist < bestDist) {
        best = c;
        bestDist = dist;
      }
    }
    if (best < 0) {
      l.head = l.fallback;
      l.ref = Ref::kNone;
      return;
    }
    l.head += LabelName(best);
  }

  // The first label defined on line `line` or later (labelCount_ when none).
  int LabelAtOrAfter(int line) const {
    auto it = std::lower_bound(labelLine_.begin(), labelLine_.begin() + labelCount_, line);
    return static_cast<int>(it - labelLine_.begin());
  }

  std::string LabelName(int i) const {
    const long global = labelBase_ + i;
    return std::string(kLabelWords[global % 16]) + Num(static_cast<int>(global));
  }

  // A constant whose value fits a byte (the odd ones, see WriteBlock).
  const std::string& Equ8() {
    const size_t odd = equNames_.size() / 2;
    if (odd == 0) return equNames_[0];
    return equNames_[2 * static_cast<size_t>(rng_.Below(static_cast<int>(odd))) + 1];
  }

  const std::string& Equ() { return equNames_[static_cast<size_t>(rng_.Below(static_cast<int>(equNames_.size())))]; }

  std::string Comment() {
    std::string c = ";";
    const int words = rng_.Range(1, 5);
    for (int i = 0; i < words; ++i) {
      c += ' ';
      c += rng_.Pick(kCommentWords);
    }
    return c;
  }

  void Emit(const std::string& line) {
    out_ += line;
    out_ += '\n';
  }

  void Flush() {
    for (const Line& l : code_) {
      std::string text;
      if (l.label >= 0) {
        text = LabelName(l.label) + ":";
      }
      if (!l.bare) {
        text.append(text.size() < 8 ? 8 - text.size() : 1, ' ');
        text += l.head;
        if (!l.comment.empty()) {
          text.append(text.size() < 32 ? 32 - text.size() : 1, ' ');
          text += l.comment;
        }
      } else if (!l.comment.empty()) {
        text = "        " + l.comment;
      }
      out_ += text;
      out_ += '\n';
    }
    code_.clear();
    std::fwrite(out_.data(), 1, out_.size(), stdout);
    out_.clear();
  }

  Rng rng_;
  bool fewLabels_;
  std::string out_;
  std::vector<Line> code_;
  std::vector<int> labelLine_;
  std::vector<std::string> equNames_;
  int labelCount_ = 0;
  long labelBase_ = 0;
  long nextLabel_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  long lines = -1;
  uint64_t seed = 1;
  bool few = false;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--few-labels") == 0) {
      few = true;
    } else if (positional == 0) {
      lines = std::atol(argv[i]);
      ++positional;
    } else if (positional == 1) {
      seed = std::strtoull(argv[i], nullptr, 10);
      ++positional;
    } else {
      lines = -1;
      break;
    }
  }
  if (lines < 1) {
    std::fprintf(stderr, "usage: orvane-bench-gen LINES SEED [--few-labels]\n");
    return 2;
  }
  Generator(seed, few).Write(lines);
  return 0;
}
