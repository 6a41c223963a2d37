// The program map and the expressions a debugger reads, on a small program.
#include <gtest/gtest.h>

#include "debug/expression.h"
#include "debug/program_map.h"
#include "driver/file_ops.h"
#include "driver/run.h"
#include "output/formats.h"

namespace {

using orvane::debug::ProgramMap;

class Collect : public orvane::RunObserver {
 public:
  explicit Collect(ProgramMap& m) : m_(m) {}
  void StatementDone(const orvane::Statement& s) override { m_.Add(s); }
  void Symbols(const orvane::SymbolTable& t, const orvane::CrossReference&) override { m_.SetSymbols(t); }

 private:
  ProgramMap& m_;
};

ProgramMap Assemble(const std::string& text) {
  ProgramMap map;
  orvane::RunRequest request;
  request.path = "p.z80";
  request.text = text;
  request.format = &orvane::kCpmFormat;
  Collect c(map);
  orvane::DiskFileSystem files;
  orvane::Run(request, files, c);
  return map;
}

const char* kProgram =
    " ; a comment\n"          // 1
    "SIX     EQU 6\n"        // 2
    "START:  LD A,SIX\n"     // 3  0100H, 2 bytes
    "\n"                     // 4
    "        CALL SUB ; x\n" // 5  0102H, 3 bytes
    "        RET\n"          // 6  0105H
    "SUB:    LD HL,&H1234\n" // 7  0106H, 3 bytes
    "        RET\n"          // 8  0109H
    "DATA:   DB 7\n";        // 9  010AH

TEST(ProgramMap, LinesAndAddresses) {
  const ProgramMap m = Assemble(kProgram);
  struct Row {
    int line, resolvedLine, address;
  };
  // A line without code moves to the next line with code.
  for (const Row& r : {Row{1, 3, 0x100}, Row{2, 3, 0x100}, Row{3, 3, 0x100}, Row{4, 5, 0x102}, Row{5, 5, 0x102},
                       Row{6, 6, 0x105}, Row{7, 7, 0x106}, Row{9, 9, 0x10A}}) {
    const ProgramMap::Line* l = m.Resolve(r.line);
    ASSERT_TRUE(l) << r.line;
    EXPECT_EQ(l->line, r.resolvedLine) << r.line;
    EXPECT_EQ(l->address, r.address) << r.line;
  }
  EXPECT_EQ(m.Resolve(10), nullptr);
  // Every byte of a statement belongs to its line; only its first starts it.
  for (const auto& [address, line] : std::vector<std::pair<int, int>>{
           {0x100, 3}, {0x101, 3}, {0x102, 5}, {0x104, 5}, {0x105, 6}, {0x108, 7}, {0x10A, 9}, {0x10B, 0}, {0xFF, 0}})
    EXPECT_EQ(m.LineOf(static_cast<uint16_t>(address)), line) << std::hex << address;
  EXPECT_TRUE(m.At(0x102));
  EXPECT_FALSE(m.At(0x103));
  EXPECT_EQ(m.At(0x102)->text, "CALL SUB");
  EXPECT_EQ(m.image().size(), 11u);
  orvane::runner::SourceLocation where;
  ASSERT_TRUE(m.Lookup("p.z80")(0x106, where));
  EXPECT_EQ(where.line, 7);
  EXPECT_EQ(where.text, "SUB:    LD HL,&H1234");
}

TEST(ProgramMap, Symbols) {
  const ProgramMap m = Assemble(kProgram);
  for (const auto& [name, value] : std::vector<std::pair<const char*, int>>{
           {"SIX", 6}, {"START", 0x100}, {"SUB", 0x106}, {"sub", 0x106}, {"DATA", 0x10A}}) {
    const ProgramMap::Symbol* s = m.FindSymbol(name);
    ASSERT_TRUE(s) << name;
    EXPECT_EQ(s->value, value) << name;
  }
  EXPECT_EQ(m.FindSymbol("NONE"), nullptr);
}

// Conditions on a CPU standing still: registers set by hand, memory by hand.
class FakeCpu : public orvane::runner::Cpu {
 public:
  int Step() override { return 4; }
  bool Halted() const override { return false; }
  uint16_t Get(orvane::runner::Reg r) const override { return regs[static_cast<int>(r)]; }
  void Set(orvane::runner::Reg r, uint16_t v) override { regs[static_cast<int>(r)] = v; }
  uint16_t regs[13] = {};
};

TEST(Expression, Conditions) {
  const ProgramMap m = Assemble(kProgram);
  FakeCpu cpu;
  using orvane::runner::Reg;
  cpu.Set(Reg::AF, 0x3F41);  // A=3FH, F: Z, C
  cpu.Set(Reg::HL, 0x010A);
  cpu.Set(Reg::BC, 0xFF02);
  cpu.Set(Reg::IR, 0x0512);
  auto memory = std::make_unique<orvane::runner::Memory>();
  memory->bytes[0x10A] = 7;
  memory->bytes[0x200] = 0x80;
  struct Row {
    const char* text;
    bool holds;
  };
  for (const Row& r : {Row{"A == &H3F", true}, Row{"A == 63", true}, Row{"a==&o77", true}, Row{"A != 63", false},
                       Row{"A < 64", true}, Row{"A <= 63", true}, Row{"A > 63", false}, Row{"A >= 64", false},
                       Row{"Z == 1", true}, Row{"CF == 1", true}, Row{"S == 0", true}, Row{"PV == 1", false},
                       Row{"C == 2", true}, Row{"B == -1", true}, Row{"BC == 65282", true},
                       Row{"(HL) == 7", true}, Row{"(DATA) == 7", true}, Row{"(&H200) > 127", true},
                       Row{"(512) == 128", true}, Row{"HL == DATA", true}, Row{"HL == SUB", false},
                       Row{"I == 5", true}, Row{"R == &H12", true}, Row{"(DATA) == SIX", false},
                       // The flags' own names; H and C are the registers.
                       Row{"ZF == 1", true}, Row{"SF == 0", true}, Row{"HF == 0", true}, Row{"PVF == 0", true},
                       Row{"NF == 0", true}, Row{"H == 1", true}, Row{"C == 1", false}, Row{"A == -128", false},
                       Row{"A == 255", false}, Row{"(65535) == 0", true}, Row{"HL == -32768", false}}) {
    std::string error;
    const auto c = orvane::debug::ParseCondition(r.text, m, error);
    ASSERT_TRUE(c) << r.text << ": " << error;
    EXPECT_EQ(c->Holds(cpu, *memory), r.holds) << r.text;
  }
  for (const char* bad : {"A", "A = 1", "A == ", "Q == 1", "(A) == 1", "A == NOSUCH", "(NOSUCH) == 1", "== 1",
                          "(CF) == 1"}) {
    std::string error;
    EXPECT_FALSE(orvane::debug::ParseCondition(bad, m, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  // A value that cannot be there is refused with the range, not wrapped.
  struct Bad {
    const char *text, *error;
  };
  for (const Bad& b : {Bad{"(70000) == 0", "(70000): 70000 is not an address (0 to 65535)"},
                       Bad{"(&H10000) == 0", "(&H10000): 65536 is not an address (0 to 65535)"},
                       Bad{"(-1) == 0", "(-1): -1 is not an address (0 to 65535)"},
                       Bad{"A == 300", "300 does not fit in A (-128 to 255)"},
                       Bad{"A == -129", "-129 does not fit in A (-128 to 255)"},
                       Bad{"CF == 2", "2 does not fit in CF (0 to 1)"},
                       Bad{"ZF == -1", "-1 does not fit in ZF (0 to 1)"},
                       Bad{"(HL) == 256", "256 does not fit in (HL) (-128 to 255)"},
                       Bad{"HL == 65536", "65536 does not fit in 16 bits (-32768 to 65535)"},
                       Bad{"HL == -32769", "-32769 does not fit in 16 bits (-32768 to 65535)"}}) {
    std::string error;
    EXPECT_FALSE(orvane::debug::ParseCondition(b.text, m, error)) << b.text;
    EXPECT_EQ(error, b.error) << b.text;
  }
}

TEST(Expression, Formats) {
  EXPECT_EQ(orvane::debug::FormatValue(256, 16), "0100H (256)");
  EXPECT_EQ(orvane::debug::FormatValue(63, 8), "3FH (63)");
  EXPECT_EQ(orvane::debug::FormatValue(1, 1), "1");
}

}  // namespace
