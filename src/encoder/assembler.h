// The assembler's state and Assemble, which encodes one statement: split the
// line, classify the operands, define the label in pass 1, and dispatch on the
// mnemonic to a directive or an instruction group.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "front/numbers.h"
#include "front/operands.h"
#include "front/statement.h"
#include "front/symbols.h"
#include "output/intel_hex.h"
#include "output/object_output.h"

namespace orvane {

namespace msg {
inline constexpr std::string_view kBadQuotes = "Bad opening and closing quotes";
inline constexpr std::string_view kBadSource = "Bad Source Operand";
inline constexpr std::string_view kBadSourceSp = "Bad source Operand";
inline constexpr std::string_view kBadDestination = "Bad Destination Operand";
inline constexpr std::string_view kBadOperand = "Bad Operand";
inline constexpr std::string_view kExtraOperand = "Extra Operand";
inline constexpr std::string_view kInvalidConditional = "Invalid Conditional";
inline constexpr std::string_view kBadConditional = "Bad Conditional";
inline constexpr std::string_view kBadConditionalJp = "Bad COnditional";
inline constexpr std::string_view kBadMode = "Bad Mode Selection";
inline constexpr std::string_view kBadRegister = "Bad Register";
inline constexpr std::string_view kBadBitNumber = "Bad Bit Number";
inline constexpr std::string_view kUndefinedOpcode = "Undefined Opcode";
inline constexpr std::string_view kSymbolTableFull = "Symbol Table Full";
inline constexpr std::string_view kDuplicateLabel = "Duplicate Label";
inline constexpr std::string_view kIllegalForwardRef = "Illegal Forward Reference";
}  // namespace msg

// The statement handlers, in the order the dispatch tries their keywords.
enum class Handler : uint8_t {
  kEqu, kDs, kDw, kDb, kOrg, kEnd,
  kFixed, kEx, kLd,
  kIncDec, kArith,
  kPopPush, kDjnz, kJr, kRet, kJp, kCall, kRst,
  kIm, kOut, kIn,
  kShift, kBit,
  kEmpty, kUndefined,
};

class Assembler {
 public:
  // Without a format selection (unit tests), END behaves as for CP/M output.
  explicit Assembler(FormatSelection* format = nullptr);

  // Encodes one source line (without its line end).
  void Assemble(std::string_view ASMLine);

  // State shared with the run and the object output.
  SymbolTable Symbols;
  Diagnostics Diag;  // Diag.Pass2 is the pass flag, Diag.ErrText the messages
  StatementFields Fields;
  int32_t PC = 0;
  int32_t ByteCount = 0;
  std::string ObjCode;
  bool NoObject = false;
  int32_t Op1Type = reg::Empty;
  int32_t Op2Type = reg::Empty;
  // Source line number of the statement (1-based), set by the run; used to
  // tell a first definition from a later one.
  int64_t LineNo = 0;
  IntelHexWriter Hex;

  bool Pass2() const { return Diag.Pass2; }
  void SetPass2(bool on) { Diag.Pass2 = on; }
  void Error(std::string_view errstr) { Diag.Error(errstr); }

  // Which handler a mnemonic selects.
  static Handler Dispatch(std::string_view OpcodeFld);

 private:
  friend struct EncoderAccess;
  void DefineLabel();
  void CheckLabelPass2();
  void CheckForwardReference(std::string_view operand, bool sameLineIsForward);

  // Directives.
  void EncodeEqu();
  void EncodeDs();
  void EncodeDw();
  void EncodeDb();
  void EncodeOrg();
  void EncodeEnd();
  // Instruction groups, one file each.
  void EncodeFixed();
  void EncodeEx();
  void EncodeLd();
  void EncodeIncDec();
  void EncodeArith();
  void EncodePopPush();
  void EncodeDjnz();
  void EncodeJr();
  void EncodeRet();
  void EncodeJp();
  void EncodeCall();
  void EncodeRst();
  void EncodeIm();
  void EncodeOut();
  void EncodeIn();
  void EncodeShift();
  void EncodeBit();
  // Helpers of the instruction groups.
  void EncodeLdA();
  void EncodeLdRegister();
  void EncodeLdPair();
  void EncodeLdToAddress();
  void EncodeLdToIndexed();
  struct AluRow;
  void EncodeAluSource(const AluRow& row, int32_t code, std::string_view text);
  int32_t JpTarget(std::string_view text);

  // Operand helpers that append to ObjCode.
  void AppendByte(std::string_view text) { AppendHex2Value(Values.Immed8(text)); }
  void AppendWord(std::string_view text);
  void AppendDisp(std::string_view text) { ObjCode += Values.XYDisplacement(text); }
  void AppendHex2Value(int32_t v) { AppendHex2(ObjCode, static_cast<uint32_t>(v)); }
  void Emit(std::string_view hex, int32_t count) {
    ObjCode.append(hex);
    ByteCount = count;
  }

  FormatSelection* format_;
  std::string prepared_;

 public:
  OperandReader Values{Symbols, Diag};
};

}  // namespace orvane
