// Operand classification and evaluation: register codes, immediate values,
// relative-jump and index displacements.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "front/symbols.h"

namespace orvane {

// Register names indexed by their base RegCode. Codes 0..7 are the Z80's
// 3-bit register field (B C D E H L (HL) A), so they go straight into opcodes.
extern const std::array<std::string_view, 18> RegNames;

// RegCode values the encoder tests.
namespace reg {
constexpr int32_t B = 0, C = 1, D = 2, E = 3, H = 4, L = 5, HLInd = 6, A = 7;
constexpr int32_t I = 8, R = 9, BC = 10, DE = 11, HL = 12, SP = 13, IX = 14, IY = 15;
constexpr int32_t AF = 16, AFAlt = 17;
constexpr int32_t Paren = 64;
constexpr int32_t CInd = 65, BCInd = 74, DEInd = 75, SPInd = 77, IXInd = 78, IYInd = 79;
constexpr int32_t Value = -1, Address = -65, Empty = -2;
}  // namespace reg

int32_t RegTyp(std::string_view RegStr);

// Messages of the current statement. They are collected only in pass 2: the
// run text (all messages run together) for the listing and the list for
// front ends that print them one by one. Every message is a string literal.
class Diagnostics {
 public:
  bool Pass2 = false;
  std::string ErrText;
  std::vector<std::string_view> Messages;

  void Error(std::string_view errstr) {
    if (!Pass2) return;
    ErrText.append(errstr);
    Messages.push_back(errstr);
  }
  void Clear() {
    ErrText.clear();
    Messages.clear();
  }
};

namespace msg {
inline constexpr std::string_view kUndefinedSymbol = "Undefined Symbol Referenced";
inline constexpr std::string_view kInvalidNumber = "Invalid Number";
inline constexpr std::string_view kRelativeRange = "Relative Jump Out Of Range";
}  // namespace msg

// Evaluates operand texts against the symbol table, reporting through the
// statement's diagnostics.
class OperandReader {
 public:
  OperandReader(SymbolTable& symbols, Diagnostics& diag) : symbols_(symbols), diag_(diag) {}

  // Value of a symbol (earliest definition), or 0 and, in pass 2,
  // "Undefined Symbol Referenced".
  int32_t FindLabel(std::string_view LblStr);
  int32_t Immed8(std::string_view ValStr) { return Immed(ValStr, true) & 255; }
  int32_t Immed16(std::string_view ValStr) { return Immed(ValStr, false) & 65535; }
  // Displacement byte (two hex digits) of DJNZ/JR at `pc` to `Destination`.
  std::string CalcRelOffset(std::string_view Destination, int32_t pc);
  // Displacement byte of an indexed operand such as (IX+5).
  std::string XYDisplacement(std::string_view RegStr);

  // The symbol name Immed16 would look up for `ValStr`, or empty when the text
  // is a number (used to spot forward references in EQU and ORG).
  static std::string_view SymbolOperand(std::string_view ValStr);

 private:
  int32_t Immed(std::string_view ValStr, bool eightBit);

  SymbolTable& symbols_;
  Diagnostics& diag_;
};

// Drops a leading "(" with the last character, and trims, as the value
// evaluators do; other texts are returned unchanged.
std::string_view DropParentheses(std::string_view s);

}  // namespace orvane
