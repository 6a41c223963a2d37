// The directives: EQU/=, DS/DEFS, DW/DEFW, DB/DEFB, ORG and END.
#include "encoder/assembler.h"
#include "front/habits.h"
#include "front/numbers.h"

namespace orvane {

void Assembler::EncodeEqu(const Keyword&) {
  const int32_t value = Values.Immed16(fields_.Operand1Fld);
  if (!Pass2() && !fields_.LabelFld.empty()) symbols_.AddLabel(fields_.LabelFld, value, lineNo_);
  objCode_.assign("= ");
  AppendHex4(objCode_, static_cast<uint32_t>(value));
  noObject_ = true;
  // The label is defined after its operand is read, so even a reference to
  // the line's own label was still undefined in pass 1.
  CheckForwardReference(fields_.Operand1Fld, true);
}

// DS emits the characters between matching quotes; it reserves nothing.
void Assembler::EncodeDs(const Keyword&) {
  const std::string_view t = fields_.Operand1Fld;
  const bool quoted = !t.empty() && (t[0] == '\'' || t[0] == '"') && t.back() == t[0];
  if (!quoted) {
    Error(msg::kBadQuotes);
    return;
  }
  for (size_t i = 1; i + 1 < t.size(); ++i) {
    AppendHex2Value(static_cast<unsigned char>(t[i]));
    ++byteCount_;
  }
}

void Assembler::EncodeDw(const Keyword&) {
  byteCount_ = 2;
  AppendWord(fields_.Operand1Fld);
}

void Assembler::EncodeDb(const Keyword& k) {
  byteCount_ = 1;
  const std::string_view t = fields_.Operand1Fld;
  if (!t.empty() && t[0] == '\'') {
    if (auto w = Pass2() ? DbQuoteWarning(k.text, t, line_) : std::nullopt) Warn(w->name, std::move(w->text), t);
    // Only the character after the quote counts. A quote alone is what a
    // quoted blank becomes after splitting, so it stands for the blank.
    AppendHex2Value(t.size() >= 2 ? static_cast<unsigned char>(t[1]) : ' ');
    return;
  }
  AppendByte(t);
}

void Assembler::EncodeOrg(const Keyword&) {
  PC = Values.Immed16(fields_.Operand1Fld);
  noObject_ = true;
  CheckOrgGap();
  // The line's own label already holds the old PC, so only a later line's
  // label is a forward reference here.
  CheckForwardReference(fields_.Operand1Fld, false);
}

// END lists its start address ("* 0100", or "0000" without one); with Intel
// HEX output it shows "@" and the address the end record will take, and the
// run hands that address to the HEX writer.
void Assembler::EncodeEnd(const Keyword&) {
  if (!Pass2()) return;
  const std::string_view op = fields_.Operand1Fld;
  if (!op.empty()) {
    objCode_.assign("* ");
    AppendHex4(objCode_, static_cast<uint32_t>(Values.Immed16(op)));
  } else {
    objCode_.assign("0000");
  }
  noObject_ = true;
  isEnd_ = true;
  if (options_.intelHex) {
    // The operand is read a second time here, so an undefined start symbol is
    // reported twice.
    startAddress_ = op.empty() ? 0 : Values.Immed16(op);
    objCode_.assign("@ ");
    AppendHex4(objCode_, static_cast<uint32_t>(startAddress_));
  }
}

}  // namespace orvane
