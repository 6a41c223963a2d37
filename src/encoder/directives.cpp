// The directives: EQU/=, DS/DEFS, DW/DEFW, DB/DEFB, ORG and END.
#include "encoder/assembler.h"
#include "front/habits.h"

namespace orvane {

void Assembler::EncodeEqu(const Keyword&) {
  const int32_t value = Values.Immed16(fields_.Operand1Fld);
  if (!Pass2() && !fields_.LabelFld.empty()) {
    symbols_.AddLabel(fields_.LabelFld, value, result_.labelSpan);
    // A value from a failed operand, or from a symbol that rests on an error.
    const int from = failed_ ? 0 : symbols_.Find(fields_.Operand1Fld);
    LabelRestsOn(failed_ ? lineNo_ : from != 0 ? RestsOnError(from) : 0);
  }
  result_.shows = Shows::kValue;
  result_.value = value;
  result_.toObject = false;
  // The label is defined after its operand is read, so even a reference to
  // the line's own label was still undefined in pass 1.
  CheckForwardReference(fields_.Operand1Fld, true);
}

// DS emits the characters between matching quotes; it reserves nothing.
void Assembler::EncodeDs(const Keyword&) {
  const std::string_view t = fields_.Operand1Fld;
  const bool quoted = !t.empty() && (t[0] == '\'' || t[0] == '"') && t.back() == t[0];
  if (!quoted) {
    Error(msg::kBadQuotes, t);
    return;
  }
  for (size_t i = 1; i + 1 < t.size(); ++i) {
    Put(static_cast<unsigned char>(t[i]));
    ++byteCount_;
  }
  if (auto w = Pass2() ? TextCaseWarning(fields_.OpcodeFld, AsWritten(t)) : std::nullopt)
    Warn(w->name, std::move(w->text), t);
}

void Assembler::EncodeDw(const Keyword&) {
  byteCount_ = 2;
  PutWordOf(fields_.Operand1Fld);
}

void Assembler::EncodeDb(const Keyword& k) {
  byteCount_ = 1;
  const std::string_view t = fields_.Operand1Fld;
  if (!t.empty() && t[0] == '\'') {
    if (auto w = Pass2() ? DbQuoteWarning(k.text, t, line_) : std::nullopt) Warn(w->name, std::move(w->text), t);
    // The one character emitted, in upper case like the rest of the line.
    if (auto w = Pass2() && t.size() >= 2 ? TextCaseWarning(fields_.OpcodeFld, AsWritten(t.substr(0, 2))) : std::nullopt)
      Warn(w->name, std::move(w->text), t);
    // Only the character after the quote counts. A quote alone is what a
    // quoted blank becomes after splitting, so it stands for the blank.
    Put(t.size() >= 2 ? static_cast<unsigned char>(t[1]) : ' ');
    return;
  }
  PutByte(t);
}

void Assembler::EncodeOrg(const Keyword&) {
  PC = Values.Immed16(fields_.Operand1Fld);
  // What follows is placed by a value that rests on this error, until the
  // next ORG that reads well.
  pcRestsOn_ = failed_ ? lineNo_ : 0;
  result_.toObject = false;
  CheckOrg();
  // The line's own label already holds the old PC, so only a later line's
  // label is a forward reference here.
  CheckForwardReference(fields_.Operand1Fld, false);
}

// END lists its start address as the object format shows it, and the run
// hands that address to the object writer. A format may read the operand
// again (the HEX end record), and an undefined start symbol is then reported
// again.
void Assembler::EncodeEnd(const Keyword&) {
  if (!Pass2()) return;
  const std::string_view op = fields_.Operand1Fld;
  int32_t start = 0;
  if (!op.empty()) {
    for (int i = 0; i < options_.target->endOperandReads; ++i) start = Values.Immed16(op);
  }
  result_.toObject = false;
  result_.isEnd = true;
  result_.shows = Shows::kEnd;
  result_.endHasOperand = !op.empty();
  result_.startAddress = start;
}

}  // namespace orvane
