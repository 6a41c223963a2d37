// The assembler: its state for one run, and Assemble, which encodes one
// statement (split the line, classify the operands, define the label in pass
// 1, and hand the statement to the handler its keyword selects).
//
// The two-pass invariant every handler keeps: a statement counts the same
// ByteCount in pass 1 and in pass 2, whatever its operands turn out to be
// once every label is known (a label further down is still undefined in pass
// 1), and pass 1 reports nothing. So every label gets the same address in
// both passes, and a refused statement still occupies the bytes it counted
// before the fault was found.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "encoder/result.h"
#include "front/cross_reference.h"
#include "front/diagnostics.h"
#include "front/numbers.h"
#include "front/operands.h"
#include "front/short_text.h"
#include "front/statement.h"
#include "front/symbols.h"
#include "encoder/target.h"

namespace orvane {

// What a run is made with, taken once when it starts.
struct RunOptions {
  const AssemblyTarget* target = &kPlainTarget;
  // Pass 2 records every symbol reference with its span, in Statement::uses
  // and for the cross-reference; without it both stay empty.
  bool recordUses = false;
};

class Assembler;

// The opcode bytes of a table row: one, or a prefix and one.
struct Opcode {
  uint8_t size, first, second;
  constexpr Opcode(uint8_t a) : size(1), first(a), second(0) {}
  constexpr Opcode(uint8_t a, uint8_t b) : size(2), first(a), second(b) {}
};

// A mnemonic or directive: the handler that encodes it, how many operands it
// uses, and the opcode bases its handler builds on (what they mean is said at
// each handler). The table of all of them is in keywords.cpp.
struct Keyword {
  std::string_view text;
  void (Assembler::*encode)(const Keyword&);
  uint8_t operands;
  uint16_t code = 0;
  uint16_t code2 = 0;
};

class Assembler final : private Reporter {
 public:
  Assembler();
  Assembler(const Assembler&) = delete;
  Assembler& operator=(const Assembler&) = delete;

  // A run: BeginRun, then for each pass BeginPass and one Step per source
  // line. BeginRun takes the options and empties the symbol table; BeginPass
  // sets PC to the origin, counts lines from 1 again and empties what pass 2
  // gathers for the warnings and the cross-reference.
  void BeginRun(const RunOptions& options);
  void BeginPass(int pass);
  // Assembles the next source line (without its line end): the statement's
  // state is emptied, the line encoded, and PC moved on by its ByteCount.
  void Step(std::string_view line);

  // After a run: assembles `line` again as pass 2 would at line `lineNo`
  // with PC at `pc`, from its text alone (nothing kept from pass 1 is used)
  // and against the symbol table as it stands, as if no END came before,
  // with `check` as the placement check (none when null). For a caller that
  // knows which lines an edit can change (the language server).
  void Restep(int64_t lineNo, int32_t pc, std::string_view line, std::unique_ptr<PlacementCheck> check = nullptr);
  // Whether some symbol's value, or PC somewhere, rests on an earlier error.
  bool ValuesRestOnErrors() const { return !restsOn_.empty(); }
  SymbolTable& MutableSymbols() { return symbols_; }

  // The statement Step assembled last.
  const Statement& Result() const { return result_; }
  const SymbolTable& Symbols() const { return symbols_; }
  const CrossReference& Xref() const { return xref_; }

 private:
  friend struct KeywordTable;
  // Step and its line's assembly, for pass 1 or pass 2.
  template <bool kPass2> void StepIn(std::string_view line);
  template <bool kPass2> void Assemble(std::string_view ASMLine);
  bool Pass2() const { return pass_ == 2; }
  // Reporter: messages count in pass 2 only. A message points at the operand
  // text it is about.
  void Error(std::string_view errstr, std::string_view at, std::string note) override;
  void Warn(std::string_view name, std::string text, std::string_view at) override;
  void Referenced(std::string_view name, int slot) override;
  // A handler's error about the field `at` (the mnemonic when it is empty).
  void Error(std::string_view errstr, std::string_view at);
  std::string HabitNoteFor(std::string_view errstr, std::string_view at) const;
  // The operand a "Bad Source Operand" is about: the second, or the only one.
  std::string_view SourceOperand() const {
    return fields_.Operand2Fld.empty() ? fields_.Operand1Fld : fields_.Operand2Fld;
  }
  // Where a message about `at` points: its column and the operand there (a
  // parenthesised one to its ")", else up to a separator).
  SourceSpan ProblemSpan(std::string_view at) const;
  // Where `text`, a view into the line, stands, to its last byte.
  SourceSpan SpanOf(std::string_view text) const;
  int ColumnOf(std::string_view text) const;
  // `text`, a view into the prepared line, as the line was read (its case).
  std::string_view AsWritten(std::string_view text) const {
    const int column = ColumnOf(text);
    return column == 0 ? text : result_.source.substr(static_cast<size_t>(column) - 1, text.size());
  }
  // The warnings about a whole statement, once it is assembled (warnings.cpp).
  // Most statements have no operand beyond those the mnemonic uses, and
  // nothing after them but a comment: nothing to check.
  void CheckOperandCount(const Keyword& k) {
    const StatementFields& f = fields_;
    const size_t written = f.Operand2Fld.empty() ? (f.Operand1Fld.empty() ? 0 : 1) : 2;
    if (written <= k.operands && (f.CommentFld.empty() || f.CommentFld[0] == ';')) return;
    WarnOperandCount(k);
  }
  void WarnOperandCount(const Keyword& k);
  void CheckObject();
  // An ORG, for the format's placement check.
  void CheckOrg();
  void Placement(std::optional<PlacementWarning> w, std::string_view at);
  void CheckLabelPass2();
  // Pass 1: the label just defined rests on the error on `line` (0: none).
  void LabelRestsOn(int64_t line);
  // The line of the earlier error the value of `slot` (0: PC) rests on, or 0.
  int64_t RestsOnError(int slot) const;
  void CheckForwardReference(std::string_view operand, bool sameLineIsForward);

  // Directives.
  void EncodeEqu(const Keyword&);
  void EncodeDs(const Keyword&);
  void EncodeDw(const Keyword&);
  void EncodeDb(const Keyword&);
  void EncodeOrg(const Keyword&);
  void EncodeEnd(const Keyword&);
  // Instruction groups, one file each.
  void EncodeFixed(const Keyword&);
  void EncodeEx(const Keyword&);
  void EncodeLd(const Keyword&);
  void EncodeIncDec(const Keyword&);
  void EncodeArith(const Keyword&);
  void EncodePopPush(const Keyword&);
  void EncodeDjnz(const Keyword&);
  void EncodeJr(const Keyword&);
  void EncodeRet(const Keyword&);
  void EncodeJp(const Keyword&);
  void EncodeCall(const Keyword&);
  void EncodeRst(const Keyword&);
  void EncodeIm(const Keyword&);
  void EncodeOut(const Keyword&);
  void EncodeIn(const Keyword&);
  void EncodeShift(const Keyword&);
  void EncodeBit(const Keyword&);
  // Helpers of the instruction groups.
  void EncodeLdA();
  void EncodeLdRegister();
  void EncodeLdPair();
  void EncodeLdToAddress();
  void EncodeLdToIndexed();
  void EncodeAluSource(int32_t base, int32_t code, std::string_view text);
  int32_t JpTarget(std::string_view text);

  // Building the object bytes: a byte value (its low 8 bits), a word (low
  // byte first), an operand as a byte, as a word and as an index
  // displacement, the index prefix of a register code, and a whole
  // instruction with the bytes it counts.
  void Put(int32_t v) { bytes_.push_back(static_cast<uint8_t>(v)); }
  void PutWord(int32_t v) {
    Put(v);
    Put(v >> 8);
  }
  void PutByte(std::string_view text) { Put(Values.Immed8(text)); }
  void PutWordOf(std::string_view text) { PutWord(Values.Immed16(text)); }
  void PutDisp(std::string_view text) { Put(Values.XYDisplacement(text)); }
  void PutPrefix(int32_t code) { Put(IndexPrefix(code)); }
  void Put(Opcode op) {
    Put(op.first);
    if (op.size == 2) Put(op.second);
  }
  void Emit(std::initializer_list<uint8_t> bytes, int32_t count) {
    bytes_.insert(bytes_.end(), bytes);
    byteCount_ = count;
  }
  // The bytes built so far.
  int32_t Built() const { return static_cast<int32_t>(bytes_.size()); }

  // What pass 1 learned of a line that pass 2 need not work out again: where
  // its fields stand (start and length, bytes into the line), its operand
  // classes and its keyword; for an instruction that had nothing to report
  // and found every symbol it looked up (defined above it, so of the same
  // value in pass 2), its bytes; for an ORG, the PC it set. Offsets are
  // bytes, so a line longer than 255 has none and is split again.
  struct LineRecord {
    // kLabelFirst: the label's name was defined first here, so that pass 2
    // has nothing to check of it.
    enum : uint8_t { kKept = 1, kCommentBlank = 2, kBytes = 4, kOrgPc = 8, kLabelFirst = 0x80 };
    uint8_t length;
    uint8_t label;  // LabelFld starts the line
    uint8_t opcode[2], operand1[2], operand2[2], comment[2];
    int8_t op1Type, op2Type;
    uint8_t keyword;  // its number (FindKeywordNumber), 0 for none
    uint8_t flags;    // and the byte count in bits 4 to 6
    uint8_t bytes[4];
  };
  static constexpr size_t kRecordChunk = size_t{1} << 14;
  LineRecord& RecordOf(int64_t line) {
    const size_t i = static_cast<size_t>(line - 1);
    return records_[i / kRecordChunk][i % kRecordChunk];
  }
  LineRecord* NewRecord() {
    if (static_cast<size_t>(recorded_) == records_.size() * kRecordChunk) [[unlikely]] AddRecordChunk();
    return &RecordOf(++recorded_);
  }
  void AddRecordChunk();
  void Keep(LineRecord& r, uint8_t keyword, bool commentBlank) const;
  const Keyword* Restore(const LineRecord& r);
  void KeepBytes(LineRecord& r, const Keyword* k) const;
  std::vector<std::unique_ptr<LineRecord[]>> records_;
  int64_t recorded_ = 0;     // lines of pass 1 with their record
  bool pcDiffers_ = false;   // an ORG set another PC in pass 2 than in pass 1
  bool touched_ = false;     // the handler warned, or looked up a symbol pass 2 must see again

  RunOptions options_;
  std::unique_ptr<PlacementCheck> placement_;
  const ShortTextMap<uint8_t, 256>& keywordNumbers_;  // Keywords()
  const Keyword* const* const keywordByNumber_;  // [0] nullptr
  SymbolTable symbols_;
  Diagnostics diag_;
  OperandReader Values{symbols_, *this};
  int pass_ = 1;
  int64_t lineNo_ = 0;

  // The current statement.
  std::string prepared_;    // buffer of the line upper-cased
  std::string_view line_;   // the line in it; the fields are views into it
  std::string_view raw_;    // the line as read
  StatementFields fields_;
  int32_t Op1Type = reg::Empty;
  int32_t Op2Type = reg::Empty;
  int32_t PC = 0;
  int32_t byteCount_ = 0;
  bool failed_ = false;  // an error was found in the statement (in either pass)
  std::vector<uint8_t> bytes_;
  const uint8_t* keptBytes_ = nullptr;  // this line's bytes as pass 1 kept them, when used
  std::vector<SymbolUse> uses_;
  Statement result_;

  // Values that rest on an error: PC after an ORG whose operand failed, and
  // the symbols defined from such a PC or by a failed EQU, with the line of
  // that error (found in pass 1, for the notes of pass 2).
  int64_t pcRestsOn_ = 0;
  std::unordered_map<int, int64_t> restsOn_;

  // Pass 2, for the warnings and the cross-reference.
  bool endSeen_ = false, afterEndWarned_ = false, wrapWarned_ = false;
  CrossReference xref_;
};

}  // namespace orvane
