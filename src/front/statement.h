// Statement splitting: a raw source line becomes label, mnemonic, two operands
// and a comment. Splitting never fails and reports nothing.
#pragma once
#include <string>
#include <string_view>

#include "front/prep_line.h"

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

// Cuts a prepared line into the five fields. Returns whether the comment
// gains a blank (it follows the label, mnemonic or first operand directly);
// without copyComment, CommentFld is left empty and only CommentAt is set.
bool Parse(std::string_view ParseLine, StatementFields& f, bool copyComment = true);
// The fields would outlive a temporary line.
bool Parse(std::string&& ParseLine, StatementFields& f, bool copyComment = true) = delete;

}  // namespace orvane
