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
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "front/diagnostics.h"
#include "front/numbers.h"
#include "front/operands.h"
#include "front/short_text.h"
#include "front/statement.h"
#include "front/symbols.h"

namespace orvane {

// What a run is made with, taken once when it starts.
struct RunOptions {
  bool intelHex = true;         // else a CP/M image
  bool listingBox = false;      // the listing also goes to the window's box
  bool crossReference = false;  // pass 2 records every symbol reference
  int32_t Origin() const { return intelHex ? 0 : 256; }
};

// Where each symbol is used, recorded in pass 2 for the cross-reference.
struct CrossReference {
  // A use of a defined symbol: its slot and the line.
  struct Use {
    int32_t slot;
    int64_t line;
  };
  std::vector<Use> uses;
  // Uses of names that are not defined, and later definitions of a defined
  // name (the earliest wins): the name and the line.
  std::vector<std::pair<std::string, int64_t>> undefined, duplicates;
};

class Assembler;

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

class Assembler : private Reporter {
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

  // The statement Step assembled last.
  int64_t Line() const { return lineNo_; }
  // Its address as listed: where it stands, or for ORG the new origin.
  int32_t Address() const { return address_; }
  // Object bytes as hex text, or the display text of EQU, = and END.
  std::string_view ObjCode() const { return objCode_; }
  bool NoObject() const { return noObject_; }
  int32_t ByteCount() const { return byteCount_; }
  // An END statement, and the start address it gives (for the HEX end record).
  bool IsEnd() const { return isEnd_; }
  int32_t StartAddress() const { return startAddress_; }
  const StatementFields& Fields() const { return fields_; }
  const Diagnostics& Diag() const { return diag_; }
  const SymbolTable& Symbols() const { return symbols_; }
  const CrossReference& Xref() const { return xref_; }

 private:
  friend struct KeywordTable;
  void Assemble(std::string_view ASMLine);
  bool Pass2() const { return pass_ == 2; }
  // Reporter: messages count in pass 2 only. A message's column is the one
  // of the operand text it is about.
  void Error(std::string_view errstr, std::string_view at, std::string note) override;
  void Warn(std::string_view name, std::string text, std::string_view at) override;
  void Referenced(std::string_view name, int slot) override;
  // A handler's error: which field it is about follows from the message.
  void Error(std::string_view errstr);
  int ColumnOf(std::string_view text) const;
  // The warnings about a whole statement, once it is assembled (warnings.cpp).
  void CheckOperandCount(const Keyword& k);
  void CheckObject();
  // An ORG: in a CP/M image, a gap the image will not have (and, for Intel
  // HEX, the start of a new stretch for the overlap warning).
  void CheckOrgGap();
  void CheckLabelPass2();
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

  // Appending to ObjCode: a byte value, an operand as a byte, as a word (low
  // byte first) and as an index displacement.
  void AppendHex2Value(int32_t v) { AppendHex2(objCode_, static_cast<uint32_t>(v)); }
  void AppendByte(std::string_view text) { AppendHex2Value(Values.Immed8(text)); }
  void AppendWord(std::string_view text);
  void AppendDisp(std::string_view text) { AppendHex2Value(Values.XYDisplacement(text)); }
  void Emit(std::string_view hex, int32_t count) {
    objCode_.append(hex);
    byteCount_ = count;
  }

  RunOptions options_;
  const ShortTextMap<const Keyword*, 256>& keywords_;
  SymbolTable symbols_;
  Diagnostics diag_;
  OperandReader Values{symbols_, *this};
  int pass_ = 1;
  int64_t lineNo_ = 0;

  // The current statement.
  std::string prepared_;    // buffer of the line upper-cased
  std::string_view line_;   // the line in it; the fields are views into it
  std::string_view source_; // the line as read
  StatementFields fields_;
  int32_t Op1Type = reg::Empty;
  int32_t Op2Type = reg::Empty;
  int32_t PC = 0;
  int32_t address_ = 0;
  int32_t byteCount_ = 0;
  std::string objCode_;
  bool noObject_ = false;
  bool isEnd_ = false;
  int32_t startAddress_ = 0;

  // Pass 2, for the warnings and the cross-reference.
  uint64_t emitted_ = 0;             // object bytes sent so far
  std::bitset<65536> written_;       // addresses an object byte went to
  bool endSeen_ = false, afterEndWarned_ = false, overlapWarned_ = false;
  CrossReference xref_;
};

}  // namespace orvane
