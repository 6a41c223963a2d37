// Splitting a source line into label, mnemonic, operands and comment.
#include <gtest/gtest.h>

#include "front/statement.h"

namespace orvane {
namespace {

struct SplitCase {
  const char* line;
  const char* label;
  const char* opcode;
  const char* op1;
  const char* op2;
  const char* comment;
};

const SplitCase kSplitCases[] = {
    {"", "", "", "", "", ""},
    {"     ", "", "", "", "", ""},
    {"  ; TEXT", "", "", "", "", "; TEXT "},
    {"; TEXT", "; ", "TEXT", "", "", ""},
    {"; LD A,B", "; ", "LD", "A", "B", ""},
    {"LOOP", "LOOP", "", "", "", ""},
    {"LOOP:", "LOOP:", "", "", "", ""},
    {"LOOP: DJNZ LOOP", "LOOP:", "DJNZ", "LOOP", "", ""},
    {"LOOP:DJNZ LOOP", "LOOP:", "DJNZ", "LOOP", "", ""},
    {"START NOP", "START ", "NOP", "", "", ""},
    {"  ld a,(ix+5) ; load", "", "LD", "A", "(IX+5)", "; LOAD"},
    {"\tld\ta,(ix+5) ; load", "", "LD", "A", "(IX+5)", "; LOAD"},
    {"  NOP ; WAIT", "", "NOP", "", "", "; WAIT "},
    {"  NOP;X", "", "NOP", "", "", ";X "},
    {"  LD (IX+5),A", "", "LD", "(IX+5)", "A", ""},
    {"  LD A,B,C", "", "LD", "A", "B,", "C"},
    {"  JP LOOP;GO", "", "JP", "LOOP", "", ";GO "},
    {"  LD (1234,A", "", "LD", "(1234,A", "", ""},
    {"  LD ( 12 ),A", "", "LD", "( 12 )", "A", ""},
    {"  NOP", "", "NOP", "", "", ""},
    {"  NOP  ", "", "NOP", "", "", ""},
    {"  LD(HL),A", "", "LD(HL),A", "", "", ""},
    {"  DB 'A B'", "", "DB", "'A", "B'", ""},
    {"  DB 'HELLO, WORLD'", "", "DB", "'HELLO", "WORLD'", ""},
    // Blanks around the separating comma.
    {"  LD A, B", "", "LD", "A", "B", ""},
    {"  LD A ,B", "", "LD", "A", "B", ""},
    {"  LD (HL), A", "", "LD", "(HL)", "A", ""},
    {"  LD (HL),A", "", "LD", "(HL)", "A", ""},
    // Comment after the second operand is trimmed; after the first it keeps
    // the appended blank.
    {"  LD A,B ; COPY", "", "LD", "A", "B", "; COPY"},
    {"  LD A,B;COPY", "", "LD", "A", "B", ";COPY"},
    {"  JP LOOP ; GO", "", "JP", "LOOP", "", "; GO "},
    {"  INC (HL);X", "", "INC", "(HL)", "", ";X "},
    // Parentheses shield blanks, commas and semicolons.
    {"  LD (A;B),C", "", "LD", "(A;B)", "C", ""},
    {"  LD A,(IX + 5)", "", "LD", "A", "(IX + 5)", ""},
    // A third operand and more land in the comment field.
    {"  LD A,B C D", "", "LD", "A", "B", "C D"},
    {"X: ", "X:", "", "", "", ""},
    {":", ":", "", "", "", ""},
    {"LABEL\tEQU\t10", "LABEL ", "EQU", "10", "", ""},
    {"  ,B", "", ",B", "", "", ""},
    {"  LD ,B", "", "LD", "", "B", ""},
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, FieldsAsSplit) {
  const SplitCase& c = GetParam();
  StatementFields f;
  f.LabelFld = "stale";
  f.CommentFld = "stale";
  const std::string prepared = PrepLine(c.line);
  Parse(prepared, f);
  EXPECT_EQ(f.LabelFld, c.label) << "line: [" << c.line << "]";
  EXPECT_EQ(f.OpcodeFld, c.opcode) << "line: [" << c.line << "]";
  EXPECT_EQ(f.Operand1Fld, c.op1) << "line: [" << c.line << "]";
  EXPECT_EQ(f.Operand2Fld, c.op2) << "line: [" << c.line << "]";
  EXPECT_EQ(f.CommentFld, c.comment) << "line: [" << c.line << "]";
}

INSTANTIATE_TEST_SUITE_P(Lines, SplitTest, ::testing::ValuesIn(kSplitCases));

TEST(PrepLineTest, UpperCasesAsciiOnlyAndTurnsTabsIntoBlanks) {
  EXPECT_EQ(PrepLine(""), "");
  EXPECT_EQ(PrepLine("ld\ta,'x'\t; z"), "LD A,'X' ; Z");
  // Bytes 0x80 and above pass through unchanged; the length never changes.
  const std::string raw = "db \xe4\xf6\xfc\xc3\xa9 \x80\xff";
  const std::string prepared = PrepLine(raw);
  EXPECT_EQ(prepared, "DB \xe4\xf6\xfc\xc3\xa9 \x80\xff");
  EXPECT_EQ(prepared.size(), raw.size());
}

TEST(PrepLineTest, ControlCharactersAreOrdinaryText) {
  StatementFields f;
  const std::string prepared = PrepLine(std::string("  DB \x01\x02", 7));
  Parse(prepared, f);
  EXPECT_EQ(f.OpcodeFld, "DB");
  EXPECT_EQ(f.Operand1Fld, std::string("\x01\x02"));
}

}  // namespace
}  // namespace orvane
