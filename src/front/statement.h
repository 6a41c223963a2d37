// Statement splitting: a raw source line becomes label, mnemonic, two operands
// and a comment. Splitting never fails and reports nothing.
#pragma once
#include <string>
#include <string_view>

namespace orvane {

// Label, mnemonic and operands are views into the prepared line, which must
// outlive them; the comment is a text of its own, since it may gain a blank.
struct StatementFields {
  std::string_view LabelFld;
  std::string_view OpcodeFld;
  std::string_view Operand1Fld;
  std::string_view Operand2Fld;
  std::string CommentFld;
  std::string_view CommentAt;  // where the comment stands in the line
  void Clear() {
    LabelFld = {};
    OpcodeFld = {};
    Operand1Fld = {};
    Operand2Fld = {};
    CommentFld.clear();
    CommentAt = {};
  }
};

// Upper-cases ASCII letters (bytes 0x80 and above pass unchanged) and turns
// every tab into one blank, into `buffer`, which only ever grows so that one
// buffer serves every line. Returns the prepared line, as long as the input.
std::string_view PrepLine(std::string_view SrcLine, std::string& buffer);

// Cuts a prepared line into the five fields.
void Parse(std::string_view ParseLine, StatementFields& f);
// The fields would outlive a temporary line.
void Parse(std::string&& ParseLine, StatementFields& f) = delete;

}  // namespace orvane
