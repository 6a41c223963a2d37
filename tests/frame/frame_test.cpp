// The statement frame and the directives, each program run through both
// passes the way the run drives the assembler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoder/assembler.h"

namespace orvane {
namespace {

using Msgs = std::vector<std::string>;

struct Stmt {
  int32_t pc = 0;
  std::string obj;
  int32_t bytes = 0;
  bool noObject = false;
  Msgs msgs;
};

class Format : public FormatSelection {
 public:
  explicit Format(bool hex) : hex_(hex) {}
  bool IntelHexSelected() override { return hex_; }
  bool CpmSelected() override { return !hex_; }

 private:
  bool hex_;
};

// Pass 1 then pass 2 over `lines`; the statements as pass 2 leaves them.
std::vector<Stmt> AssembleProgram(Assembler& as, const std::vector<std::string>& lines, int32_t origin) {
  as.Symbols.Reset();
  as.Hex.Reset();
  as.SetPass2(false);
  as.PC = origin;
  std::vector<int32_t> pass1Bytes;
  for (size_t i = 0; i < lines.size(); ++i) {
    as.LineNo = static_cast<int64_t>(i) + 1;
    as.Diag.Clear();
    as.Assemble(lines[i]);
    EXPECT_TRUE(as.Diag.Messages.empty()) << "pass 1 reported for " << lines[i];
    pass1Bytes.push_back(as.ByteCount);
    as.PC += as.ByteCount;
  }
  as.SetPass2(true);
  as.PC = origin;
  std::vector<Stmt> out;
  for (size_t i = 0; i < lines.size(); ++i) {
    as.LineNo = static_cast<int64_t>(i) + 1;
    as.Diag.Clear();
    as.NoObject = false;
    as.Assemble(lines[i]);
    EXPECT_EQ(as.ByteCount, pass1Bytes[i]) << "byte count differs between passes: " << lines[i];
    Stmt s;
    s.pc = as.PC;
    s.obj = as.ObjCode;
    s.bytes = as.ByteCount;
    s.noObject = as.NoObject;
    s.msgs.assign(as.Diag.Messages.begin(), as.Diag.Messages.end());
    out.push_back(s);
    as.PC += as.ByteCount;
  }
  return out;
}

struct LineCase {
  const char* line;
  const char* obj;
  int32_t bytes;
  bool noObject;
  Msgs msgs;
};

const char* const kQuotes = "Bad opening and closing quotes";
const char* const kUndef = "Undefined Symbol Referenced";
const char* const kUndefOp = "Undefined Opcode";

// One statement on its own (CP/M origin 0100).
const std::vector<LineCase> kDirectiveCases = {
    {"COUNT EQU 10", "= 000A", 0, true, {}},
    {"COUNT = 10", "= 000A", 0, true, {}},
    {"  EQU 5", "= 0005", 0, true, {}},
    {"X EQU -1", "= FFFF", 0, true, {}},
    {"X EQU 70000", "= 1170", 0, true, {}},
    {"X EQU UNDEF", "= 0000", 0, true, {kUndef}},
    {"  DS 'Hello'", "48454C4C4F", 5, false, {}},
    {"  DS \"AB\"", "4142", 2, false, {}},
    {"  DS ''", "", 0, false, {}},
    {"  DS '", "", 0, false, {}},
    {"  DEFS 'XY'", "5859", 2, false, {}},
    {"  DS 10", "", 0, false, {kQuotes}},
    {"  DS 'A B'", "", 0, false, {kQuotes}},
    {"  DS 'AB", "", 0, false, {kQuotes}},
    {"  DS 'AB\"", "", 0, false, {kQuotes}},
    {"  DS", "", 0, false, {kQuotes}},
    {"  DB 'A'", "41", 1, false, {}},
    {"  DB 'AB'", "41", 1, false, {}},
    {"  DB 'A", "41", 1, false, {}},
    {"  DB 'a'", "41", 1, false, {}},
    {"  DB ' '", "20", 1, false, {}},
    {"  DB '", "20", 1, false, {}},
    {"  DB 65", "41", 1, false, {}},
    {"  DEFB &HFF", "FF", 1, false, {}},
    {"  DB 300", "2C", 1, false, {}},
    {"  DB 0", "00", 1, false, {}},
    {"  DB \"A\"", "00", 1, false, {kUndef}},
    {"  DB", "00", 1, false, {kUndef}},
    {"  DW 4660", "3412", 2, false, {}},
    {"  DEFW -1", "FFFF", 2, false, {}},
    {"  DW 4660,5", "3412", 2, false, {}},
    {"  DW 12H", "0000", 2, false, {"Invalid Number"}},
    {"  ORG 0", "", 0, true, {}},
    {"  END", "0000", 0, true, {}},
    {"  END 256", "* 0100", 0, true, {}},
    {"  FOO", "", 0, false, {kUndefOp}},
    {"  ld(hl),a", "", 0, false, {kUndefOp}},
    {"", "", 0, false, {}},
    {"  ; TEXT", "", 0, false, {}},
    {"LOOP:", "", 0, false, {}},
};

TEST(DirectiveTest, Table) {
  Assembler as;
  for (const LineCase& c : kDirectiveCases) {
    auto r = AssembleProgram(as, {c.line}, 0x100);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].obj, c.obj) << c.line;
    EXPECT_EQ(r[0].bytes, c.bytes) << c.line;
    EXPECT_EQ(r[0].noObject, c.noObject) << c.line;
    EXPECT_EQ(r[0].msgs, c.msgs) << c.line;
  }
}

TEST(DirectiveTest, EndWithIntelHexListsTheStartAddress) {
  Format hex(true);
  Assembler as(&hex);
  StringSink sink;
  as.Hex.SetSink(&sink);
  auto r = AssembleProgram(as, {"  DB 1", "  END 256"}, 0);
  EXPECT_EQ(r[1].obj, "@ 0100");
  EXPECT_TRUE(r[1].noObject);
  r = AssembleProgram(as, {"  END"}, 0);
  EXPECT_EQ(r[0].obj, "@ 0000");
  EXPECT_TRUE(r[0].msgs.empty());
}

TEST(FrameTest, LabelsTakeTheStatementsOwnAddress) {
  Assembler as;
  auto r = AssembleProgram(as,
                           {"START ORG 512", "HERE DB 1", "  DW START", "  DW HERE", "  DW NEXT", "NEXT:",
                            "  DW NEXT"},
                           0x100);
  EXPECT_EQ(r[0].pc, 512);  // ORG lists the new origin
  EXPECT_EQ(r[2].obj, "0001");
  EXPECT_EQ(r[3].obj, "0002");
  EXPECT_EQ(r[4].obj, "0702");  // forward reference resolved in pass 2
  EXPECT_EQ(r[6].obj, "0702");
  for (const Stmt& s : r) EXPECT_TRUE(s.msgs.empty());
}

TEST(FrameTest, LowerCaseAssemblesLikeUpperCase) {
  Assembler as;
  auto lower = AssembleProgram(as, {"lbl: db 'x'", "  dw lbl", "  defs 'ok'"}, 0x100);
  auto upper = AssembleProgram(as, {"LBL: DB 'X'", "  DW LBL", "  DEFS 'OK'"}, 0x100);
  for (size_t i = 0; i < lower.size(); ++i) EXPECT_EQ(lower[i].obj, upper[i].obj);
}

struct ProgramCase {
  const char* name;
  std::vector<std::string> lines;
  size_t line;  // statement checked (0-based)
  const char* obj;
  Msgs msgs;
};

const char* const kDup = "Duplicate Label";
const char* const kFwd = "Illegal Forward Reference";
const char* const kFull = "Symbol Table Full";

const std::vector<ProgramCase> kProgramCases = {
    {"duplicate plain label", {"X DB 1", "X DB 2", "  DW X"}, 1, "02", {kDup}},
    {"first definition wins", {"X DB 1", "X DB 2", "  DW X"}, 2, "0001", {}},
    {"duplicate bare label", {"X", "X", "  DW X"}, 1, "", {kDup}},
    {"duplicate colon label", {"X: DB 1", "X: DB 2"}, 1, "02", {kDup}},
    {"duplicate EQU", {"X EQU 1", "X EQU 2", "  DW X"}, 1, "= 0002", {kDup}},
    {"duplicate EQU value", {"X EQU 1", "X EQU 2", "  DW X"}, 2, "0100", {}},
    {"EQU after label", {"X: DB 1", "X = 5"}, 1, "= 0005", {kDup}},
    {"duplicate comes first", {"X DB 1", "X DW UNDEF"}, 1, "0000", {kDup, kUndef}},
    {"first line is no duplicate", {"X DB 1", "X DB 2"}, 0, "01", {}},
    {"colon alone defines nothing", {": DB 1", ": DB 2"}, 1, "02", {}},
    {"forward EQU", {"A EQU B", "B EQU 5", "  DW A"}, 0, "= 0005", {kFwd}},
    {"forward EQU keeps pass-1 value", {"A EQU B", "B EQU 5", "  DW A"}, 2, "0000", {}},
    {"backward EQU is fine", {"B EQU 5", "A EQU B"}, 1, "= 0005", {}},
    {"self EQU", {"A EQU A"}, 0, "= 0000", {kFwd}},
    {"forward =", {"A = B", "B = 5"}, 0, "= 0005", {kFwd}},
    {"forward ORG", {"  ORG START", "  DB 1", "START EQU 512"}, 0, "", {kFwd}},
    {"ORG to own label is fine", {"  DB 1", "L ORG L", "  DW L"}, 2, "0101", {}},
    {"forward ORG in parentheses", {"  ORG (S)", "S EQU 9"}, 0, "", {kFwd}},
    {"undefined EQU operand", {"A EQU NOWHERE"}, 0, "= 0000", {kUndef}},
    {"numeric EQU", {"A EQU 0"}, 0, "= 0000", {}},
};

TEST(FrameTest, Decisions) {
  Assembler as;
  for (const ProgramCase& c : kProgramCases) {
    auto r = AssembleProgram(as, c.lines, 0x100);
    ASSERT_LT(c.line, r.size()) << c.name;
    EXPECT_EQ(r[c.line].obj, c.obj) << c.name;
    EXPECT_EQ(r[c.line].msgs, c.msgs) << c.name;
  }
}

TEST(FrameTest, ForwardOrgMovesLaterAddressesByThePass1Value) {
  Assembler as;
  auto r = AssembleProgram(as, {"  ORG START", "HERE DB 1", "  DW HERE", "START EQU 512"}, 0x100);
  // ORG saw 0 in pass 1, so HERE is 0; pass 2 lists the later value.
  EXPECT_EQ(r[0].pc, 512);
  EXPECT_EQ(r[2].obj, "0000");
}

TEST(FrameTest, SymbolTableFullIsReportedForEachRefusedDefinition) {
  std::vector<std::string> lines;
  for (int i = 0; i < SymbolTable::kCapacity; ++i) lines.push_back("L" + std::to_string(i) + ": DB 1");
  lines.push_back("EXTRA: DB UNDEF");  // the 16385th symbol
  lines.push_back("L5: DB 2");         // a stored name: duplicate, not full
  lines.push_back("E2 EQU 3");
  lines.push_back("  DW L16383");
  Assembler as;
  auto r = AssembleProgram(as, lines, 0);
  const size_t n = SymbolTable::kCapacity;
  EXPECT_TRUE(r[n - 1].msgs.empty());
  EXPECT_EQ(r[n].msgs, (Msgs{kFull, kUndef}));
  EXPECT_EQ(r[n].obj, "00");
  EXPECT_EQ(r[n + 1].msgs, (Msgs{kDup}));
  EXPECT_EQ(r[n + 2].msgs, (Msgs{kFull}));
  EXPECT_EQ(r[n + 3].obj, "FF3F");
  EXPECT_TRUE(r[n + 3].msgs.empty());
}

}  // namespace
}  // namespace orvane
