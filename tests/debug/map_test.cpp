// The program map and the expressions a debugger reads, on a small program.
#include <gtest/gtest.h>

#include "debug/expression.h"
#include "debug/program_map.h"
#include "driver/file_ops.h"
#include "driver/run.h"
#include "output/formats.h"
#include "row_file.h"

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

int Number(const std::string& text) { return std::stoi(text, nullptr, 0); }

TEST(ProgramMap, LinesAndAddresses) {
  const ProgramMap m = Assemble(kProgram);
  for (const auto& r : rows::Table(MAP_ROWS, "resolve")) {
    const ProgramMap::Line* l = m.Resolve(Number(r.at(0)));
    EXPECT_EQ(l ? std::to_string(l->line) + " " + std::to_string(l->address) : "- -",
              r.at(1).empty() ? "- -" : r[1] + " " + std::to_string(Number(r.at(2))))
        << r[0];
  }
  for (const auto& r : rows::Table(MAP_ROWS, "lineof"))
    EXPECT_EQ(m.LineOf(static_cast<uint16_t>(Number(r.at(0)))), Number(r.at(1))) << r[0];
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
  for (const auto& r : rows::Table(MAP_ROWS, "symbol")) {
    const ProgramMap::Symbol* s = m.FindSymbol(r.at(0));
    EXPECT_EQ(s ? std::to_string(s->value) : "-", r.at(1).empty() ? "-" : std::to_string(Number(r[1]))) << r[0];
  }
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
  for (const auto& r : rows::Table(MAP_ROWS, "condition")) {
    std::string error;
    const auto c = orvane::debug::ParseCondition(r.at(0), m, error);
    EXPECT_EQ(c ? (c->Holds(cpu, *memory) ? "1" : "0") : error, r.at(1)) << r[0];
    EXPECT_EQ(!c, !error.empty()) << r[0];
  }
}

TEST(Expression, Formats) {
  for (const auto& r : rows::Table(MAP_ROWS, "format"))
    EXPECT_EQ(orvane::debug::FormatValue(static_cast<uint32_t>(Number(r.at(0))), Number(r.at(1))), r.at(2)) << r[0];
}

}  // namespace
