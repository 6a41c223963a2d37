// Statement splitting: a raw source line becomes label, mnemonic, two operands
// and a comment. Splitting never fails and reports nothing.
#pragma once
#include <string>
#include <string_view>

namespace orvane {

struct StatementFields {
  std::string LabelFld;
  std::string OpcodeFld;
  std::string Operand1Fld;
  std::string Operand2Fld;
  std::string CommentFld;
  void Clear() {
    LabelFld.clear();
    OpcodeFld.clear();
    Operand1Fld.clear();
    Operand2Fld.clear();
    CommentFld.clear();
  }
};

// Upper-cases ASCII letters (bytes 0x80 and above pass unchanged) and turns
// every tab into one blank. The result has the length of the input.
std::string PrepLine(std::string_view SrcLine);
void PrepLineInto(std::string_view SrcLine, std::string& out);

// Cuts a prepared line into the five fields.
void Parse(std::string_view ParseLine, StatementFields& f);

}  // namespace orvane
