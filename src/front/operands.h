// Operand classification and evaluation: register codes, whether a value is a
// number or a symbol name, immediate values, relative-jump and index
// displacements.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "front/diagnostics.h"
#include "front/numbers.h"
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

namespace detail {
// The type of each one-byte operand, the usual operand (a register letter or
// a digit): "(" alone is an empty address, any other byte that names no
// register a value.
inline constexpr std::array<int8_t, 256> kOneByteRegTyp = [] {
  std::array<int8_t, 256> t{};
  t.fill(static_cast<int8_t>(reg::Value));
  const std::string_view letters = "BCDEHL A";
  for (size_t code = 0; code < letters.size(); ++code) {
    if (letters[code] != ' ') t[static_cast<unsigned char>(letters[code])] = static_cast<int8_t>(code);
  }
  t['I'] = static_cast<int8_t>(reg::I);
  t['R'] = static_cast<int8_t>(reg::R);
  t['('] = static_cast<int8_t>(reg::Empty);
  return t;
}();
// Two bytes not in parentheses: a register pair, or a value.
constexpr int32_t TwoByteRegTyp(char first, char second) {
  switch (static_cast<unsigned char>(first) << 8 | static_cast<unsigned char>(second)) {
    case 'B' << 8 | 'C': return reg::BC;
    case 'D' << 8 | 'E': return reg::DE;
    case 'H' << 8 | 'L': return reg::HL;
    case 'S' << 8 | 'P': return reg::SP;
    case 'I' << 8 | 'X': return reg::IX;
    case 'I' << 8 | 'Y': return reg::IY;
    case 'A' << 8 | 'F': return reg::AF;
    default: return reg::Value;
  }
}
int32_t RegTypOfLonger(std::string_view RegStr);
}  // namespace detail

// The register (or register in parentheses) an operand names, or what else
// it is: reg::Value, reg::Address, reg::Empty.
inline int32_t RegTyp(std::string_view RegStr) {
  const size_t n = RegStr.size();
  if (n == 1) return detail::kOneByteRegTyp[static_cast<unsigned char>(RegStr[0])];
  if (n == 0) return reg::Empty;
  const char first = RegStr[0];
  // A number, or a name longer than any register that begins with none
  // (IX and IY begin longer texts that count as them).
  if ((first >= '0' && first <= '9') || (n > 4 && first != '(' && first != 'I')) return reg::Value;
  if (n == 2 && first != '(') return detail::TwoByteRegTyp(first, RegStr[1]);
  return detail::RegTypOfLonger(RegStr);
}

// The 8-bit registers of the 3-bit field: B, C, D, E, H, L, (HL) and A.
constexpr bool IsReg8(int32_t code) { return code >= reg::B && code <= reg::A; }
// The prefix that makes an HL instruction one on IX (DD) or IY (FD), for the
// register or the register in parentheses.
constexpr uint8_t IndexPrefix(int32_t code) { return code == reg::IX || code == reg::IXInd ? 0xDD : 0xFD; }

// Drops a leading "(" with the last character (whatever it is), and trims, as
// the value evaluators do; other texts are returned unchanged.
std::string_view DropParenthesesOf(std::string_view s);
inline std::string_view DropParentheses(std::string_view s) {
  return s.empty() || s[0] != '(' ? s : DropParenthesesOf(s);
}

// What a value operand is. This is the one place that tells a number from a
// symbol name.
struct OperandKind {
  enum Kind { kNumber, kZero, kInvalid, kSymbol } kind;
  int32_t number = 0;  // kNumber; kZero is 0
};
enum class Width { k8, k16 };
// `text` without its parentheses. A text is a number when its leading number
// is above 0 for an 8-bit field and not 0 for a 16-bit one: so "-1" and
// "&HFFFF" (which reads as -1) are symbol names for an 8-bit field. A text
// that reads as 0 and is wholly a number ("0", "&H0", "0.0") is the zero
// literal, never looked up. A number that is not wholly one ("12H", "5X") or
// lies outside the signed 32-bit range is invalid.
OperandKind ClassifyOther(std::string_view text, Width width);
inline OperandKind Classify(std::string_view text, Width width) {
  // A text that begins with a letter reads as no number at all: a name.
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') return {OperandKind::kSymbol};
  // Digits alone, the usual operand, are their own value, zero included.
  if (auto v = PlainDecimal(text); v && *v <= INT32_MAX) {
    return {*v == 0 ? OperandKind::kZero : OperandKind::kNumber, static_cast<int32_t>(*v)};
  }
  return ClassifyOther(text, width);
}

// Evaluates operand texts against the symbol table. Every symbol value is
// asked for through LookUp, and every message goes to the reporter.
class OperandReader {
 public:
  OperandReader(const SymbolTable& symbols, Reporter& report) : symbols_(symbols), report_(report) {}

  // The low 8 or 16 bits of a value, with a warning when it does not fit.
  int32_t Immed8(std::string_view ValStr) { return Fit(ValStr, Immed(ValStr, Width::k8), Width::k8); }
  int32_t Immed16(std::string_view ValStr) { return Fit(ValStr, Immed(ValStr, Width::k16), Width::k16); }
  // Displacement byte of `jump` (DJNZ or JR) at `pc` to `Destination`.
  int32_t CalcRelOffset(std::string_view Destination, int32_t pc, std::string_view jump);
  // Displacement byte of an indexed operand such as (IX+5).
  int32_t XYDisplacement(std::string_view RegStr);

 private:
  int32_t Immed(std::string_view ValStr, Width width);
  // A value outside the field's range keeps its low bits, with a warning.
  int32_t Fit(std::string_view ValStr, int32_t value, Width width) {
    const bool byte = width == Width::k8;
    if (byte ? (value < 0 || value > 255) : (value < -32768 || value > 65535)) Truncated(ValStr, value, width);
    return value & (byte ? 0xFF : 0xFFFF);
  }
  [[gnu::cold, gnu::noinline]] void Truncated(std::string_view ValStr, int32_t value, Width width);
  // Slot of a symbol (earliest definition), or 0; the reporter hears of it.
  int LookUp(std::string_view name);
  // "Undefined Symbol Referenced" for a value's name, kept out of the way of
  // the usual look-up that finds it.
  [[gnu::cold, gnu::noinline]] void Undefined(std::string_view name, Width width);

  const SymbolTable& symbols_;
  Reporter& report_;
};

}  // namespace orvane
