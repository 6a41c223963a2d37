// The directives: EQU/=, DS/DEFS, DW/DEFW, DB/DEFB, ORG and END.
#include "encoder/assembler.h"
#include "front/numbers.h"

namespace orvane {

void Assembler::EncodeEqu() {
  const int32_t value = Values.Immed16(Fields.Operand1Fld);
  if (!Pass2() && !Fields.LabelFld.empty()) Symbols.AddLabel(Fields.LabelFld, value, LineNo);
  ObjCode.assign("= ");
  AppendHex4(ObjCode, static_cast<uint32_t>(value));
  NoObject = true;
  // The label is defined after its operand is read, so even a reference to
  // the line's own label was still undefined in pass 1.
  CheckForwardReference(Fields.Operand1Fld, true);
}

// DS emits the characters between matching quotes; it reserves nothing.
void Assembler::EncodeDs() {
  const std::string_view t = Fields.Operand1Fld;
  const bool quoted = !t.empty() && (t[0] == '\'' || t[0] == '"') && t.back() == t[0];
  if (!quoted) {
    Error(msg::kBadQuotes);
    return;
  }
  for (size_t i = 1; i + 1 < t.size(); ++i) {
    AppendHex2Value(static_cast<unsigned char>(t[i]));
    ++ByteCount;
  }
}

void Assembler::EncodeDw() {
  ByteCount = 2;
  AppendWord(Fields.Operand1Fld);
}

void Assembler::EncodeDb() {
  ByteCount = 1;
  const std::string_view t = Fields.Operand1Fld;
  if (!t.empty() && t[0] == '\'') {
    // Only the character after the quote counts. A quote alone is what a
    // quoted blank becomes after splitting, so it stands for the blank.
    AppendHex2Value(t.size() >= 2 ? static_cast<unsigned char>(t[1]) : ' ');
    return;
  }
  AppendByte(t);
}

void Assembler::EncodeOrg() {
  PC = Values.Immed16(Fields.Operand1Fld);
  NoObject = true;
  // The line's own label already holds the old PC, so only a later line's
  // label is a forward reference here.
  CheckForwardReference(Fields.Operand1Fld, false);
}

void Assembler::EncodeEnd() {
  if (!Pass2()) return;
  const std::string_view op = Fields.Operand1Fld;
  if (!op.empty()) {
    ObjCode.assign("* ");
    AppendHex4(ObjCode, static_cast<uint32_t>(Values.Immed16(op)));
  } else {
    ObjCode.assign("0000");
  }
  NoObject = true;
  if (format_ && format_->IntelHexSelected()) {
    Hex.IntelHexFlush();
    const int32_t start = op.empty() ? 0 : Values.Immed16(op);
    ObjCode.assign("@ ");
    AppendHex4(ObjCode, static_cast<uint32_t>(start));
    std::string record(":00");
    AppendHex4(record, static_cast<uint32_t>(start));
    record.append("01");
    Hex.IntelHexClose(record);
  }
}

}  // namespace orvane
