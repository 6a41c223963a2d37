#include "encoder/assembler.h"

#include "encoder/keywords.h"
#include "front/numbers.h"

namespace orvane {

void Assembler::BeginRun(const RunOptions& options) {
  options_ = options;
  symbols_.Reset();
}

void Assembler::BeginPass(int pass) {
  pass_ = pass;
  PC = options_.Origin();
  lineNo_ = 0;
}

void Assembler::Step(std::string_view line) {
  ++lineNo_;
  diag_.Clear();
  noObject_ = false;
  isEnd_ = false;
  Assemble(line);
  address_ = PC;
  PC = static_cast<int32_t>(static_cast<uint32_t>(PC) + static_cast<uint32_t>(byteCount_));
}

void Assembler::AppendHex2Value(int32_t v) { AppendHex2(objCode_, static_cast<uint32_t>(v)); }

void Assembler::AppendWord(std::string_view text) {
  AppendOpcodeHex4(objCode_, static_cast<uint32_t>(Values.Immed16(text)));
}

// The label is handled before the mnemonic, so its messages come first.
void Assembler::CheckLabelPass2() {
  std::string_view name = SymbolTable::StripLabel(fields_.LabelFld);
  if (name.empty()) return;
  const int slot = symbols_.Find(name);
  if (slot == 0) {
    if (symbols_.Full()) Error(msg::kSymbolTableFull);
    return;
  }
  if (symbols_.Slot(slot).line != lineNo_) Error(msg::kDuplicateLabel);
}

// EQU, = and ORG take their value in pass 1; a symbol defined further down was
// still 0 then, so the value used differs from the one listed.
void Assembler::CheckForwardReference(std::string_view operand, bool sameLineIsForward) {
  if (!Pass2()) return;
  const std::string_view name = DropParentheses(operand);
  if (Classify(name, Width::k16).kind != OperandKind::kSymbol) return;
  const int slot = symbols_.Find(name);
  if (slot == 0) return;  // already reported as undefined
  const int64_t line = symbols_.Slot(slot).line;
  if (line > lineNo_ || (sameLineIsForward && line == lineNo_)) Error(msg::kIllegalForwardRef);
}

void Assembler::Assemble(std::string_view ASMLine) {
  objCode_.clear();
  byteCount_ = 0;
  Parse(PrepLine(ASMLine, prepared_), fields_);
  Op1Type = RegTyp(fields_.Operand1Fld);
  Op2Type = RegTyp(fields_.Operand2Fld);

  const Keyword* k = FindKeyword(fields_.OpcodeFld);
  // EQU defines its label itself, after reading its value.
  if (!Pass2() && (k == nullptr || k->encode != &Assembler::EncodeEqu)) {
    symbols_.AddLabel(fields_.LabelFld, PC, lineNo_);
  }
  if (Pass2()) CheckLabelPass2();

  if (k != nullptr) {
    (this->*k->encode)(*k);
  } else if (!fields_.OpcodeFld.empty()) {
    Error(msg::kUndefinedOpcode);
  }
}

}  // namespace orvane
