#include "encoder/assembler.h"

#include "encoder/keywords.h"
#include "front/habits.h"
#include "front/numbers.h"

namespace orvane {

Assembler::Assembler() : keywords_(Keywords()) {}

void Assembler::BeginRun(const RunOptions& options) {
  options_ = options;
  symbols_.Reset();
}

void Assembler::BeginPass(int pass) {
  pass_ = pass;
  PC = options_.Origin();
  lineNo_ = 0;
  emitted_ = 0;
  written_.reset();
  endSeen_ = afterEndWarned_ = overlapWarned_ = false;
  xref_ = CrossReference{};
}

void Assembler::Step(std::string_view line) {
  ++lineNo_;
  if (!diag_.Reports.empty()) diag_.Clear();  // every message is a report
  noObject_ = false;
  isEnd_ = false;
  Assemble(line);
  address_ = PC;
  if (Pass2() && (isEnd_ || (!noObject_ && !objCode_.empty()))) CheckObject();
  PC = static_cast<int32_t>(static_cast<uint32_t>(PC) + static_cast<uint32_t>(byteCount_));
}

void Assembler::AppendWord(std::string_view text) {
  AppendOpcodeHex4(objCode_, static_cast<uint32_t>(Values.Immed16(text)));
}

int Assembler::ColumnOf(std::string_view text) const {
  // Prepared and source lines are as long as each other, so a position in
  // one is the same column in the other.
  const char* begin = line_.data();
  if (text.empty() || text.data() < begin || text.data() >= begin + line_.size()) return 0;
  return static_cast<int>(text.data() - begin) + 1;
}

void Assembler::Error(std::string_view errstr, std::string_view at, std::string note) {
  if (!Pass2()) return;
  // A habit from another assembler gets a note that says what to write here.
  if (note.empty()) {
    const HabitContext context{line_, source_, &fields_, &symbols_,
                               [](std::string_view t) { return FindKeyword(Keywords(), t) != nullptr; }, PC,
                               options_.intelHex};
    note = HabitNote(errstr, at, context);
  }
  diag_.Error(errstr, ColumnOf(at), std::move(note));
}

void Assembler::Warn(std::string_view name, std::string text, std::string_view at) {
  if (Pass2()) diag_.Warn(name, std::move(text), ColumnOf(at));
}

void Assembler::Error(std::string_view errstr) {
  if (!Pass2()) return;
  const StatementFields& f = fields_;
  std::string_view at = f.Operand1Fld;
  if (errstr == msg::kBadSource || errstr == msg::kBadSourceSp) {
    if (!f.Operand2Fld.empty()) at = f.Operand2Fld;
  } else if (errstr == msg::kBadRegister || errstr == msg::kExtraOperand) {
    at = f.Operand2Fld;
  } else if (errstr == msg::kUndefinedOpcode) {
    at = f.OpcodeFld;
  } else if (errstr == msg::kDuplicateLabel || errstr == msg::kSymbolTableFull) {
    at = f.LabelFld;
  }
  Error(errstr, at.empty() ? f.OpcodeFld : at, {});
}

void Assembler::Referenced(std::string_view name, int slot) {
  if (!Pass2() || !options_.crossReference) return;
  if (slot != 0) {
    xref_.uses.push_back({slot, lineNo_});
  } else {
    xref_.undefined.emplace_back(name, lineNo_);
  }
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
  if (symbols_.Slot(slot).line != lineNo_) {
    Error(msg::kDuplicateLabel);
    if (options_.crossReference) xref_.duplicates.emplace_back(name, lineNo_);
  }
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
  source_ = ASMLine;
  line_ = PrepLine(ASMLine, prepared_);
  Parse(line_, fields_);
  Op1Type = RegTyp(fields_.Operand1Fld);
  Op2Type = RegTyp(fields_.Operand2Fld);

  const Keyword* k = FindKeyword(keywords_, fields_.OpcodeFld);
  // EQU defines its label itself, after reading its value.
  if (!Pass2() && (k == nullptr || k->encode != &Assembler::EncodeEqu)) {
    symbols_.AddLabel(fields_.LabelFld, PC, lineNo_);
  }
  if (Pass2()) {
    if (lineNo_ == 1) {
      if (std::string note = ByteOrderMarkNote(ASMLine); !note.empty()) diag_.Note(std::move(note), 1);
    }
    CheckLabelPass2();
    if (!fields_.LabelFld.empty() && fields_.LabelFld[0] == ';') {
      Warn(warn::kLabelSemicolon, "';' in the first column starts a label, not a comment; indent the comment",
           fields_.LabelFld);
    }
    if (k != nullptr) CheckOperandCount(*k);
  }

  if (k != nullptr) {
    (this->*k->encode)(*k);
  } else if (!fields_.OpcodeFld.empty()) {
    Error(msg::kUndefinedOpcode);
  }
}

}  // namespace orvane
